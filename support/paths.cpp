#include "support/paths.hpp"

#include "support/unique_handle.hpp"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <optional>
#include <vector>

namespace mw {
namespace {

std::vector<std::wstring> normalised_elements(const std::wstring& path)
{
    std::vector<std::wstring> out;
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (ec || path.empty())
        absolute = path;
    for (const auto& element : absolute.lexically_normal())
        if (!element.empty())
            out.push_back(element.wstring());
    return out;
}

} // namespace

bool equal_ignoring_case(std::wstring_view a, std::wstring_view b) noexcept
{
    return a.size() == b.size() && CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                                        static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::optional<std::wstring> canonical_path(const std::wstring& path)
{
    std::wstring text = path;
    std::replace(text.begin(), text.end(), L'/', L'\\');
    if (text.starts_with(L"\\\\?\\UNC\\") || text.starts_with(L"\\??\\UNC\\"))
        text = L"\\\\" + text.substr(8);
    else if (text.starts_with(L"\\\\?\\") || text.starts_with(L"\\??\\"))
        text.erase(0, 4);
    const bool on_drive = text.size() >= 3 && std::iswalpha(text[0]) && text[1] == L':' && text[2] == L'\\';
    const bool on_share = text.size() >= 5 && text.starts_with(L"\\\\") && text[2] != L'\\' && text[2] != L'?' &&
                          text[2] != L'.' && text.find(L'\\', 3) != std::wstring::npos;
    if (!on_drive && !on_share)
        return std::nullopt;
    // A stream name, a wildcard or a control character names no file of an installation.
    if (text.find_first_of(L":*?\"<>|", on_drive ? 2 : 0) != std::wstring::npos ||
        std::any_of(text.begin(), text.end(), [](wchar_t c) { return c < L' '; }))
        return std::nullopt;
    const DWORD needed = GetFullPathNameW(text.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return std::nullopt;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(text.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed)
        return std::nullopt;
    full.resize(length);
    while (full.size() > 3 && full.back() == L'\\' && !is_root(full))
        full.pop_back();
    if (full.size() >= 2 && full[1] == L':')
        full[0] = static_cast<wchar_t>(std::towupper(full[0]));
    return full;
}

bool path_within(const std::wstring& path, const std::wstring& folder) noexcept
{
    if (folder.empty() || path.size() < folder.size() ||
        !equal_ignoring_case(std::wstring_view(path).substr(0, folder.size()), folder))
        return false;
    return path.size() == folder.size() || folder.back() == L'\\' || path[folder.size()] == L'\\';
}

std::wstring parent_of(const std::wstring& path)
{
    const auto last = path.find_last_of(L'\\');
    if (last == std::wstring::npos || last + 1 == path.size() || is_root(path))
        return {};
    // "C:\x" lies in "C:\": a root keeps its separator.
    return path.substr(0, last == 2 && path[1] == L':' ? last + 1 : last);
}

std::wstring_view name_of(const std::wstring& path) noexcept
{
    if (is_root(path))
        return {};
    const auto last = path.find_last_of(L'\\');
    return std::wstring_view(path).substr(last == std::wstring::npos ? 0 : last + 1);
}

bool is_root(const std::wstring& path) noexcept
{
    if (path.size() == 3 && path[1] == L':')
        return true;
    // "\\\\server\\share": a share's root.
    return path.starts_with(L"\\\\") && std::count(path.begin() + 2, path.end(), L'\\') <= 1;
}

std::wstring root_of(const std::wstring& path)
{
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\')
        return path.substr(0, 3);
    if (!path.starts_with(L"\\\\"))
        return {};
    const auto share_end = path.find(L'\\', path.find(L'\\', 2) + 1);
    return path.substr(0, share_end);
}

std::optional<file_identity> identity_of(const std::wstring& path)
{
    const unique_hfile file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info))
        return std::nullopt;
    return file_identity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

bool same_path_lexically(const std::wstring& a, const std::wstring& b)
{
    const auto p = normalised_elements(a);
    const auto q = normalised_elements(b);
    if (p.size() != q.size())
        return false;
    for (std::size_t i = 0; i < p.size(); ++i)
        if (!equal_ignoring_case(p[i], q[i]))
            return false;
    return true;
}

bool same_file_object(const std::wstring& a, const std::wstring& b)
{
    const auto x = identity_of(a);
    if (!x)
        return false;
    const auto y = identity_of(b);
    return y && *x == *y;
}

bool same_path(const std::wstring& a, const std::wstring& b)
{
    // The cheap tests first: they touch no file.
    return a == b || same_path_lexically(a, b) || same_file_object(a, b);
}

} // namespace mw
