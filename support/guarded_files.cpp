#include "support/guarded_files.hpp"

#include "support/paths.hpp"
#include "support/work_folder.hpp"

#include <shlobj.h>

#include <system_error>

namespace mw {
namespace {

[[noreturn]] void fail(DWORD code) { throw std::system_error(static_cast<int>(code), std::system_category()); }

[[noreturn]] void fail_with_last_error() { fail(GetLastError()); }

bool missing(DWORD error) noexcept { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// A held folder is opened for listing, an access that takes part in sharing: without delete
// sharing, nobody else can then open it to rename or remove it while it is held.
constexpr DWORD held_access = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD held_share = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD any_share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens `path` without following a reparse point at it; a folder too with FILE_FLAG_BACKUP_SEMANTICS.
unique_hfile open_unfollowed(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags)
{
    return unique_hfile{CreateFileW(path.c_str(), access, share, nullptr, disposition,
                                    flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
}

constexpr DWORD folder_too = FILE_FLAG_BACKUP_SEMANTICS;

std::wstring joined(const std::wstring& folder, std::wstring_view name)
{
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\')
        path += L'\\';
    path += name;
    return path;
}

// Checks the object opened at `path`: no reparse point, and its final path `expected_final`.
BY_HANDLE_FILE_INFORMATION check_opened(HANDLE handle, const std::wstring& path, const std::wstring& expected_final)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info))
        fail_with_last_error();
    // Where the system opens a link itself, its handle says so; where it opens the link's
    // target instead (Wine), the handle shows the target, but the path still shows the link.
    const DWORD by_path = GetFileAttributesW(path.c_str());
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        (by_path != INVALID_FILE_ATTRIBUTES && (by_path & FILE_ATTRIBUTE_REPARSE_POINT)))
        fail(link_refused);
    if (!equal_ignoring_case(final_path_of(handle), expected_final))
        fail(link_refused);
    return info;
}

// The canonical form of `path`, or ERROR_BAD_PATHNAME.
std::wstring canonical_or_fail(const std::wstring& path)
{
    std::optional<std::wstring> canonical = canonical_path(path);
    if (!canonical)
        fail(ERROR_BAD_PATHNAME);
    return std::move(*canonical);
}

// The parent folder of a canonical path that is no root, or ERROR_BAD_PATHNAME.
std::wstring parent_or_fail(const std::wstring& canonical)
{
    std::wstring parent = parent_of(canonical);
    if (parent.empty())
        fail(ERROR_BAD_PATHNAME);
    return parent;
}

bool writes_data_or_access(DWORD access) noexcept
{
    return (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER)) != 0;
}

} // namespace

const std::vector<std::wstring>& trusted_bases()
{
    static const std::vector<std::wstring> bases = [] {
        std::vector<std::wstring> found;
        for (const int csidl : {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON,
                                CSIDL_COMMON_APPDATA, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_PROGRAMS,
                                CSIDL_COMMON_DOCUMENTS, CSIDL_WINDOWS, CSIDL_APPDATA, CSIDL_DESKTOPDIRECTORY,
                                CSIDL_PROGRAMS, CSIDL_PERSONAL}) {
            wchar_t folder[MAX_PATH] = {};
            if (SUCCEEDED(SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_DONT_VERIFY, nullptr, SHGFP_TYPE_CURRENT,
                                           folder)))
                if (std::optional<std::wstring> canonical = canonical_path(folder))
                    found.push_back(std::move(*canonical));
        }
        wchar_t temp[MAX_PATH + 1] = {};
        const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
        if (length > 0 && length <= MAX_PATH)
            if (std::optional<std::wstring> canonical = canonical_path(temp))
                found.push_back(std::move(*canonical));
        return found;
    }();
    return bases;
}

std::wstring trusted_base_of(const std::wstring& path)
{
    std::wstring deepest;
    for (const std::wstring& base : trusted_bases())
        if (base.size() > deepest.size() && path_within(path, base))
            deepest = base;
    return deepest.empty() ? root_of(path) : deepest;
}

std::wstring final_path_of(HANDLE handle)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(length + 1);
    }
    if (path.starts_with(L"\\\\?\\UNC\\"))
        path = L"\\\\" + path.substr(8);
    else if (path.starts_with(L"\\\\?\\"))
        path.erase(0, 4);
    while (path.size() > 3 && path.back() == L'\\')
        path.pop_back();
    return path;
}

held_folders::held_folders(const std::wstring& folder)
{
    const std::wstring canonical = canonical_or_fail(folder);
    const std::wstring base = trusted_base_of(canonical);
    if (base.empty())
        fail(ERROR_BAD_PATHNAME);
    // The base is the system's: whatever it is, it is followed.
    unique_hfile base_handle{CreateFileW(base.c_str(), held_access, held_share, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
    if (!base_handle) {
        if (missing(GetLastError()))
            return;
        fail_with_last_error();
    }
    deepest_ = base;
    deepest_final_ = final_path_of(base_handle.get());
    if (deepest_final_.empty())
        fail(link_refused); // where it is cannot be told: nothing below it can be checked
    chain_.push_back(std::move(base_handle));
    std::size_t start = base.size();
    while (start < canonical.size()) {
        if (canonical[start] == L'\\')
            ++start;
        const std::size_t end = std::min(canonical.find(L'\\', start), canonical.size());
        const std::wstring_view name = std::wstring_view(canonical).substr(start, end - start);
        const std::wstring next = joined(deepest_, name);
        unique_hfile handle = open_unfollowed(next, held_access, held_share, OPEN_EXISTING, folder_too);
        if (!handle) {
            if (missing(GetLastError()))
                return;
            fail_with_last_error();
        }
        const BY_HANDLE_FILE_INFORMATION info = check_opened(handle.get(), next, joined(deepest_final_, name));
        if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            fail(ERROR_DIRECTORY);
        deepest_ = next;
        deepest_final_ = final_path_of(handle.get());
        chain_.push_back(std::move(handle));
        start = end;
    }
    complete_ = true;
}

unique_hfile open_guarded(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags)
{
    if (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS && disposition != CREATE_NEW)
        fail(ERROR_INVALID_PARAMETER);
    const std::wstring canonical = canonical_or_fail(path);
    const held_folders folders(parent_or_fail(canonical));
    if (!folders.complete())
        fail(ERROR_PATH_NOT_FOUND);
    unique_hfile handle = open_unfollowed(canonical, access | FILE_READ_ATTRIBUTES, share, disposition, flags);
    if (!handle)
        fail_with_last_error();
    const BY_HANDLE_FILE_INFORMATION info =
        check_opened(handle.get(), canonical, joined(folders.deepest_final(), name_of(canonical)));
    // A second name of a file elsewhere (a hard link) would take the write or the grant along.
    if (writes_data_or_access(access) && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        info.nNumberOfLinks > 1)
        fail(link_refused);
    return handle;
}

void check_unlinked(const std::wstring& path)
{
    const std::wstring canonical = canonical_or_fail(path);
    const std::wstring parent = parent_of(canonical);
    if (parent.empty())
        return; // a root
    const held_folders folders(parent);
    if (!folders.complete())
        return;
    const unique_hfile handle = open_unfollowed(canonical, FILE_READ_ATTRIBUTES, any_share, OPEN_EXISTING, folder_too);
    if (!handle) {
        if (missing(GetLastError()))
            return;
        fail_with_last_error();
    }
    check_opened(handle.get(), canonical, joined(folders.deepest_final(), name_of(canonical)));
}

void delete_guarded(const std::wstring& path)
{
    const std::wstring canonical = canonical_or_fail(path);
    const held_folders folders(parent_or_fail(canonical));
    if (!folders.complete())
        return; // gone with its folder
    const unique_hfile handle = open_unfollowed(canonical, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                                any_share, OPEN_EXISTING, folder_too);
    if (!handle) {
        if (missing(GetLastError()))
            return;
        fail_with_last_error();
    }
    const BY_HANDLE_FILE_INFORMATION info =
        check_opened(handle.get(), canonical, joined(folders.deepest_final(), name_of(canonical)));
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        fail(ERROR_ACCESS_DENIED); // as DeleteFileW says of a folder
    delete_open_file(handle.get());
}

bool remove_folder_guarded(const std::wstring& path)
{
    const std::wstring canonical = canonical_or_fail(path);
    const held_folders folders(parent_or_fail(canonical));
    if (!folders.complete())
        return true;
    {
        const unique_hfile handle = open_unfollowed(canonical, FILE_READ_ATTRIBUTES, any_share, OPEN_EXISTING, folder_too);
        if (!handle) {
            if (missing(GetLastError()))
                return true;
            fail_with_last_error();
        }
        const BY_HANDLE_FILE_INFORMATION info =
            check_opened(handle.get(), canonical, joined(folders.deepest_final(), name_of(canonical)));
        if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            fail(ERROR_DIRECTORY);
    }
    // By its name below the held parents: whatever may stand at the name by now, removing it
    // removes no folder's contents (a link is removed as itself, not as its target).
    if (RemoveDirectoryW(canonical.c_str()))
        return true;
    const DWORD error = GetLastError();
    if (missing(error))
        return true;
    if (error == ERROR_DIR_NOT_EMPTY)
        return false;
    fail(error);
}

std::vector<std::wstring> create_folders_guarded(const std::wstring& folder)
{
    const std::wstring canonical = canonical_or_fail(folder);
    std::vector<std::wstring> made;
    std::wstring last_tried;
    for (;;) {
        const held_folders held(canonical);
        if (held.complete())
            return made;
        if (held.deepest().empty())
            fail(ERROR_PATH_NOT_FOUND);
        std::size_t start = held.deepest().size();
        if (canonical[start] == L'\\')
            ++start;
        const std::size_t end = std::min(canonical.find(L'\\', start), canonical.size());
        const std::wstring next = joined(held.deepest(), std::wstring_view(canonical).substr(start, end - start));
        if (next == last_tried)
            fail(link_refused); // there, and yet it cannot be opened: a link that leads nowhere
        last_tried = next;
        // Made below the held parent: the next round checks it like any other.
        if (CreateDirectoryW(next.c_str(), nullptr))
            made.push_back(next);
        else if (GetLastError() != ERROR_ALREADY_EXISTS)
            fail_with_last_error();
    }
}

} // namespace mw
