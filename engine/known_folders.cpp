#include "engine/known_folders.hpp"

#include "support/unique_handle.hpp"

#include <knownfolders.h>

namespace setup {
namespace {

struct folder_lookup {
    const KNOWNFOLDERID* id;
    bool reported; // a failure is shown to the user
};

struct folder_row {
    folder_lookup first;
    folder_lookup second; // tried when the first gives nothing; id null when there is none
};

// Indexed by folder number.
const folder_row folder_table[] = {
    {{&FOLDERID_ProgramFiles, true}, {nullptr, false}},
    {{&FOLDERID_CommonPrograms, false}, {&FOLDERID_Programs, true}},
    {{&FOLDERID_PublicDesktop, false}, {&FOLDERID_Desktop, false}},
};

std::wstring run_lookup(const folder_lookup& lookup, const known_folder_services& services) noexcept
{
    std::wstring path;
    HRESULT result = E_FAIL;
    try {
        result = services.lookup ? services.lookup(*lookup.id, path) : lookup_known_folder(*lookup.id, path);
    } catch (...) {
        path.clear();
        result = E_UNEXPECTED;
    }
    if (FAILED(result)) {
        path.clear();
        if (lookup.reported && services.report_error) {
            try {
                services.report_error(result);
            } catch (...) {
                // The folder stays empty whether or not the user could be told.
            }
        }
    }
    return path;
}

} // namespace

HRESULT lookup_known_folder(REFKNOWNFOLDERID id, std::wstring& path) noexcept
{
    path.clear();
    mw::unique_cotaskmem_string raw; // freed on failure too
    const HRESULT result = SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, raw.put());
    if (FAILED(result))
        return result;
    try {
        path = raw ? raw.get() : L"";
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

namespace {

std::function<void(HRESULT)>& known_folder_error_reporter()
{
    static std::function<void(HRESULT)> reporter;
    return reporter;
}

} // namespace

void set_known_folder_error_reporter(std::function<void(HRESULT error)> reporter)
{
    known_folder_error_reporter() = std::move(reporter);
}

void report_known_folder_error(HRESULT error) noexcept
{
    try {
        if (const auto& reporter = known_folder_error_reporter())
            reporter(error);
    } catch (...) {
        // Telling the user is best effort: the lookup's caller has the empty path.
    }
}

std::wstring csidl_folder(int csidl, HWND owner)
{
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(owner, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer)) || buffer[0] == 0)
        return {};
    return buffer;
}

std::wstring known_folder(int number)
{
    return known_folder(number, known_folder_services{});
}

std::wstring known_folder(int number, const known_folder_services& services)
{
    if (number < 0 || number >= static_cast<int>(std::size(folder_table)))
        return {};
    const folder_row& row = folder_table[number];
    std::wstring path = run_lookup(row.first, services);
    if (path.empty() && row.second.id)
        path = run_lookup(row.second, services);
    return path;
}

} // namespace setup
