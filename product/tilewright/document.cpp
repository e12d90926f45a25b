#include "product/tilewright/document.hpp"

#include "product/tilewright/resource_ids.h"
#include "product/tilewright/texts.hpp"
#include "engine/known_folders.hpp"
#include "pages/product.hpp"
#include "support/unique_handle.hpp"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

namespace tilewright {
namespace {


bool is_folder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool less_ignoring_case(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
}

// The names of the files in `folder` that end in `extension`, sorted without regard to case.
std::vector<std::wstring> files_in(const std::wstring& folder, const wchar_t* extension)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    const mw::unique_hfind find(FindFirstFileW((folder + L"\\*" + extension).c_str(), &data));
    if (!find)
        return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(data.cFileName);
    } while (FindNextFileW(find.get(), &data));
    std::sort(names.begin(), names.end(), less_ignoring_case);
    return names;
}

} // namespace

content_folders find_content_folders(const std::wstring& program_folder)
{
    const std::wstring textures = program_folder + L"\\Textures", modules = program_folder + L"\\Modules";
    if (is_folder(textures) && is_folder(modules))
        return {textures, modules};
    const std::wstring base = setup::csidl_folder(CSIDL_COMMON_APPDATA) + L"\\" + std::wstring(setup::maker_name);
    return {base + L"\\Textures\\Tilewright", base + L"\\Modules\\Tilewright"};
}

std::string read_file_bytes(const std::wstring& path, std::size_t limit)
{
    const mw::unique_hfile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "CreateFileW");
    LARGE_INTEGER size{};
    std::string bytes;
    DWORD error = ERROR_SUCCESS;
    if (!GetFileSizeEx(file.get(), &size))
        error = GetLastError();
    else if (static_cast<unsigned long long>(size.QuadPart) > limit)
        error = ERROR_FILE_TOO_LARGE;
    else {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
        DWORD read = 0;
        if (!bytes.empty() && (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                               read != bytes.size()))
            error = GetLastError() ? GetLastError() : ERROR_READ_FAULT;
    }
    if (error != ERROR_SUCCESS)
        throw std::system_error(static_cast<int>(error), std::system_category(), "ReadFile");
    return bytes;
}

document load_document(const std::wstring& path, const content_folders& folders, const texts& strings)
{
    document d;
    d.path = path;
    d.doc = parse_layout(read_file_bytes(path, text_file_limit));
    for (const area& a : d.doc.areas) {
        if (!d.set.modules.count(a.module) && !d.module_problems.count(a.module)) {
            try {
                d.set.modules.emplace(
                    a.module, parse_module(read_file_bytes(folders.modules + L"\\" + a.module + L".lbm", text_file_limit)));
            } catch (const parse_error& e) {
                d.module_problems.emplace(a.module, describe(e, strings));
            } catch (const std::system_error& e) {
                d.module_problems.emplace(a.module, describe(e));
            }
        }
        for (const auto& [slot, texture] : a.slots) {
            if (d.set.textures.count(texture) || d.missing_textures.count(texture))
                continue;
            try {
                d.set.textures.emplace(texture, decode_picture(folders.textures + L"\\" + texture + L".jpg"));
            } catch (const std::system_error&) {
                d.missing_textures.insert(texture);
            }
        }
    }
    for (std::size_t i = 0; i < d.doc.areas.size(); ++i) {
        const auto found = d.set.modules.find(d.doc.areas[i].module);
        d.counts.push_back(found == d.set.modules.end() ? std::map<wchar_t, tile_count>{}
                                                        : count_tiles(visible_tiles(d.doc, i, found->second)));
    }
    return d;
}

std::wstring describe(const parse_error& error, const texts& strings)
{
    const std::wstring what = strings.format(IDS_FORMAT_ERROR_FIRST + static_cast<unsigned>(error.code()),
                                             error.token(), error.column(), error.row());
    return error.line() > 0 ? strings.format(IDS_AT_LINE, error.line(), what) : what;
}

std::wstring describe(const std::system_error& error)
{
    mw::unique_hlocal_string buffer;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(error.code().value()), 0,
                                   reinterpret_cast<LPWSTR>(buffer.put()), 0, nullptr);
    std::wstring text = n ? std::wstring(buffer.get(), n) : std::wstring{};
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    if (text.empty())
        text = fmt::format(L"0x{:08X}", static_cast<unsigned>(error.code().value()));
    return text;
}

std::wstring first_sample_in(const std::vector<std::wstring>& desktops)
{
    for (const std::wstring& desktop : desktops) {
        if (desktop.empty())
            continue;
        std::vector<std::wstring> folders;
        WIN32_FIND_DATAW data;
        {
            const mw::unique_hfind find(FindFirstFileW((desktop + L"\\*Tilewright*").c_str(), &data));
            if (!find)
                continue;
            do {
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    folders.push_back(data.cFileName);
            } while (FindNextFileW(find.get(), &data));
        }
        std::sort(folders.begin(), folders.end(), less_ignoring_case);
        for (const std::wstring& folder : folders) {
            const std::wstring full = desktop + L"\\" + folder;
            const auto samples = files_in(full, L".cal");
            if (!samples.empty())
                return full + L"\\" + samples.front();
        }
    }
    return {};
}

std::wstring first_sample()
{
    return first_sample_in({setup::csidl_folder(CSIDL_COMMON_DESKTOPDIRECTORY), setup::csidl_folder(CSIDL_DESKTOPDIRECTORY)});
}

} // namespace tilewright
