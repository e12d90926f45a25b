#include "support/work_folder.hpp"

#include "support/temp_names.hpp"

#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <system_error>

namespace mw {
namespace {

[[noreturn]] void fail(DWORD code) { throw std::system_error(static_cast<int>(code), std::system_category()); }

[[noreturn]] void fail_with_last_error() { fail(GetLastError()); }

// The well-known groups, as SIDs of one or two sub-authorities under the NT authority.
struct well_known_sid {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    alignas(DWORD) BYTE bytes[SECURITY_MAX_SID_SIZE] = {};
    well_known_sid(BYTE count, DWORD first, DWORD second)
    {
        if (!InitializeSid(bytes, &nt, count))
            fail_with_last_error();
        *GetSidSubAuthority(bytes, 0) = first;
        if (count > 1)
            *GetSidSubAuthority(bytes, 1) = second;
    }
    PSID get() noexcept { return bytes; }
};

std::wstring draw_name(const std::wstring& pattern)
{
    static constexpr wchar_t digits[] = L"0123456789abcdef";
    std::wstring name = pattern;
    for (wchar_t& c : name)
        if (c == L'%')
            c = digits[next_random_u32() >> 28];
    return name;
}

std::wstring joined(const std::wstring& folder, const std::wstring& name)
{
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\')
        path += L'\\';
    return path + name;
}

// The system's name of a full path: "\??\C:\..." or "\??\UNC\server\share\...".
std::wstring nt_name(const std::wstring& path)
{
    if (path.starts_with(L"\\\\?\\"))
        return L"\\??\\" + path.substr(4);
    if (path.starts_with(L"\\\\"))
        return L"\\??\\UNC\\" + path.substr(2);
    return L"\\??\\" + path;
}

// Creates the folder `path` and opens it in one call: fails when anything, a link included,
// has its name.
unique_hfile create_and_open_folder(const std::wstring& path, PSECURITY_DESCRIPTOR descriptor)
{
    std::wstring name = nt_name(path);
    UNICODE_STRING object_name{};
    object_name.Buffer = name.data();
    object_name.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    object_name.MaximumLength = object_name.Length;
    OBJECT_ATTRIBUTES attributes{};
    InitializeObjectAttributes(&attributes, &object_name, OBJ_CASE_INSENSITIVE, nullptr, descriptor);
    IO_STATUS_BLOCK status_block{};
    HANDLE handle = nullptr;
    // Listing and deleting access, shared for reading and writing but not for deleting: while
    // the handle is open, the folder cannot be renamed or removed.
    const NTSTATUS status = NtCreateFile(
        &handle, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | DELETE | SYNCHRONIZE, &attributes,
        &status_block, nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
        FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (!NT_SUCCESS(status)) {
        SetLastError(RtlNtStatusToDosError(status));
        return unique_hfile{};
    }
    return unique_hfile{handle};
}

std::wstring temporary_folder()
{
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH)
        fail_with_last_error();
    std::wstring folder(temp, length);
    while (folder.size() > 3 && folder.back() == L'\\')
        folder.pop_back();
    return folder;
}

} // namespace

protected_descriptor::protected_descriptor(bool users_read)
{
    well_known_sid administrators(2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
    well_known_sid system(1, SECURITY_LOCAL_SYSTEM_RID, 0);
    well_known_sid users(2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS);
    const DWORD entry = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
    const DWORD size = sizeof(ACL) + 3 * (entry + SECURITY_MAX_SID_SIZE);
    acl_.assign(size / sizeof(DWORD) + 1, 0);
    PACL acl = reinterpret_cast<PACL>(acl_.data());
    constexpr DWORD passed_on = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    if (!InitializeAcl(acl, size, ACL_REVISION) ||
        !AddAccessAllowedAceEx(acl, ACL_REVISION, passed_on, FILE_ALL_ACCESS, administrators.get()) ||
        !AddAccessAllowedAceEx(acl, ACL_REVISION, passed_on, FILE_ALL_ACCESS, system.get()) ||
        (users_read &&
         !AddAccessAllowedAceEx(acl, ACL_REVISION, passed_on, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, users.get())) ||
        !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        fail_with_last_error();
}

work_folder::work_folder() : work_folder(temporary_folder()) {}

work_folder::work_folder(const std::wstring& parent)
{
    protected_descriptor descriptor(false);
    for (int tries = 0; tries < unique_temp_path_tries; ++tries) {
        const std::wstring candidate = joined(parent, draw_name(L"mw-%%%%%%%%"));
        handle_ = create_and_open_folder(candidate, descriptor.get());
        if (handle_) {
            path_ = candidate;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS)
            fail_with_last_error();
    }
    fail(ERROR_FILE_EXISTS);
}

work_folder::~work_folder()
{
    // Open without delete sharing, the folder can be removed only through this handle.
    FILE_DISPOSITION_INFO disposition{TRUE};
    SetFileInformationByHandle(handle_.get(), FileDispositionInfo, &disposition, sizeof disposition);
}

namespace {

std::wstring identity_text(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info))
        return {};
    return std::to_wstring(info.dwVolumeSerialNumber) + L"|" + std::to_wstring(info.nFileIndexHigh) + L"|" +
           std::to_wstring(info.nFileIndexLow);
}

} // namespace

std::wstring work_folder::mark() const
{
    const std::wstring identity = identity_text(handle_.get());
    return identity.empty() ? std::wstring{} : path_ + L"|" + identity;
}

unique_hfile open_marked_folder(const std::wstring& mark)
{
    const std::size_t bar = mark.find(L'|');
    if (bar == std::wstring::npos || bar == 0)
        return unique_hfile{};
    const std::wstring path = mark.substr(0, bar);
    unique_hfile folder{CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | DELETE | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (!folder || attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        identity_text(folder.get()) != mark.substr(bar + 1))
        return unique_hfile{};
    return folder;
}

std::wstring work_folder::new_name(const std::wstring& pattern) const
{
    for (int tries = 0; tries < unique_temp_path_tries; ++tries) {
        std::wstring candidate = joined(path_, draw_name(pattern));
        if (GetFileAttributesW(candidate.c_str()) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND)
            return candidate;
    }
    fail(ERROR_FILE_EXISTS);
}

unique_hfile work_folder::create_file(const std::wstring& pattern, DWORD access, DWORD share, std::wstring& path) const
{
    for (int tries = 0; tries < unique_temp_path_tries; ++tries) {
        std::wstring candidate = joined(path_, draw_name(pattern));
        unique_hfile file{CreateFileW(candidate.c_str(), access, share, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
        if (file) {
            path = std::move(candidate);
            return file;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            fail_with_last_error();
    }
    fail(ERROR_FILE_EXISTS);
}

void copy_file_data(HANDLE from, HANDLE to)
{
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(from, start, nullptr, FILE_BEGIN) || !SetFilePointerEx(to, start, nullptr, FILE_BEGIN))
        fail_with_last_error();
    std::vector<char> buffer(1 << 16);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(from, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
            fail_with_last_error();
        if (read == 0)
            break;
        DWORD written = 0;
        if (!WriteFile(to, buffer.data(), read, &written, nullptr))
            fail_with_last_error();
        if (written != read)
            fail(ERROR_WRITE_FAULT);
    }
    FILE_BASIC_INFO basic{};
    if (!SetEndOfFile(to) || !GetFileInformationByHandleEx(from, FileBasicInfo, &basic, sizeof basic) ||
        !SetFileInformationByHandle(to, FileBasicInfo, &basic, sizeof basic))
        fail_with_last_error();
}

void rename_open_file(HANDLE file, const std::wstring& to, bool replace)
{
    const std::size_t name_bytes = to.size() * sizeof(wchar_t);
    std::vector<std::byte> buffer(sizeof(FILE_RENAME_INFO) + name_bytes);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(name_bytes);
    std::memcpy(info->FileName, to.data(), name_bytes);
    if (!SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size())))
        fail_with_last_error();
}

void delete_open_file(HANDLE file)
{
    FILE_BASIC_INFO basic{};
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
        fail_with_last_error();
    const DWORD attributes = basic.FileAttributes;
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        FILE_BASIC_INFO writable{}; // times of zero stay as they are
        writable.FileAttributes = (attributes & ~FILE_ATTRIBUTE_READONLY) ? attributes & ~FILE_ATTRIBUTE_READONLY
                                                                          : FILE_ATTRIBUTE_NORMAL;
        if (!SetFileInformationByHandle(file, FileBasicInfo, &writable, sizeof writable))
            fail_with_last_error();
    }
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition)) {
        const DWORD error = GetLastError();
        if (attributes & FILE_ATTRIBUTE_READONLY) {
            FILE_BASIC_INFO restored{};
            restored.FileAttributes = attributes;
            SetFileInformationByHandle(file, FileBasicInfo, &restored, sizeof restored);
        }
        fail(error);
    }
}

} // namespace mw
