// Access rights of the built-in Users group on installed files and folders.

#include "engine/security.hpp"
#include "support/guarded_files.hpp"
#include "support/hresult.hpp"
#include "support/work_folder.hpp"

#include <windows.h>

#include <memory>
#include <utility>
#include <vector>

namespace setup {
namespace {

// The security functions, looked up in advapi32 on first use.
struct security_api {
    decltype(&GetKernelObjectSecurity) get_object_security = nullptr;
    decltype(&SetKernelObjectSecurity) set_object_security = nullptr;
    decltype(&GetSecurityDescriptorDacl) get_dacl = nullptr;
    decltype(&GetAclInformation) get_acl_information = nullptr;
    decltype(&GetAce) get_ace = nullptr;
    decltype(&AddAce) add_ace = nullptr;
    decltype(&EqualSid) equal_sid = nullptr;
    decltype(&GetLengthSid) get_length_sid = nullptr;
    decltype(&InitializeAcl) initialize_acl = nullptr;
    decltype(&AddAccessAllowedAceEx) add_access_allowed_ace_ex = nullptr;
    decltype(&SetSecurityDescriptorDacl) set_dacl = nullptr;
    decltype(&GetSecurityDescriptorControl) get_control = nullptr;
    decltype(&SetSecurityDescriptorControl) set_control = nullptr;
    decltype(&InitializeSecurityDescriptor) initialize_descriptor = nullptr;
    DWORD error = ERROR_SUCCESS;
};

template <class F>
void bind(HMODULE module, const char* name, F& target, DWORD& error)
{
    target = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!target && error == ERROR_SUCCESS)
        error = GetLastError() ? GetLastError() : ERROR_PROC_NOT_FOUND;
}

const security_api& api()
{
    static const security_api loaded = [] {
        security_api a;
        HMODULE module = LoadLibraryExW(L"advapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!module)
            module = LoadLibraryW(L"advapi32.dll");
        if (!module) {
            a.error = GetLastError();
            return a;
        }
        bind(module, "GetKernelObjectSecurity", a.get_object_security, a.error);
        bind(module, "SetKernelObjectSecurity", a.set_object_security, a.error);
        bind(module, "GetSecurityDescriptorDacl", a.get_dacl, a.error);
        bind(module, "GetAclInformation", a.get_acl_information, a.error);
        bind(module, "GetAce", a.get_ace, a.error);
        bind(module, "AddAce", a.add_ace, a.error);
        bind(module, "EqualSid", a.equal_sid, a.error);
        bind(module, "GetLengthSid", a.get_length_sid, a.error);
        bind(module, "InitializeAcl", a.initialize_acl, a.error);
        bind(module, "AddAccessAllowedAceEx", a.add_access_allowed_ace_ex, a.error);
        bind(module, "SetSecurityDescriptorDacl", a.set_dacl, a.error);
        bind(module, "GetSecurityDescriptorControl", a.get_control, a.error);
        bind(module, "SetSecurityDescriptorControl", a.set_control, a.error);
        bind(module, "InitializeSecurityDescriptor", a.initialize_descriptor, a.error);
        return a;
    }();
    return loaded;
}

[[noreturn]] void fail_with(DWORD error)
{
    throw std::system_error(mw::make_hresult_code(HRESULT_FROM_WIN32(error)));
}

void check(BOOL ok)
{
    if (!ok)
        fail_with(GetLastError());
}

// The SID of the built-in Users group, S-1-5-32-545: revision 1, two sub-authorities,
// authority 5 (NT), then 32 (built-in domain) and 545, little-endian.
struct users_sid {
    alignas(DWORD) BYTE bytes[16] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 0x02, 0, 0};
    PSID get() { return bytes; }
};

details::file_security_store& replaced_store()
{
    static details::file_security_store store = nullptr;
    return store;
}

} // namespace

details::file_security_store details::replace_file_security_store(file_security_store store) noexcept
{
    return std::exchange(replaced_store(), store);
}

namespace {

// Opens the file or folder to have its access list read and written, or throws as the
// functions of this file do.
mw::unique_hfile open_for_access_list(const std::wstring& path)
{
    try {
        return mw::open_guarded(path, READ_CONTROL | WRITE_DAC, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    } catch (const std::system_error& e) {
        fail_with(static_cast<DWORD>(e.code().value()));
    }
}

// Stores `descriptor`'s access list through `file`, or through the test's replacement.
void store_access_list(HANDLE file, const std::wstring& path, PSECURITY_DESCRIPTOR descriptor)
{
    if (replaced_store())
        check(replaced_store()(path.c_str(), DACL_SECURITY_INFORMATION, descriptor));
    else
        check(api().set_object_security(file, DACL_SECURITY_INFORMATION, descriptor));
}

} // namespace

void protect_folder(const std::wstring& path)
{
    const security_api& a = api();
    if (a.error != ERROR_SUCCESS)
        fail_with(a.error);
    const mw::unique_hfile folder = open_for_access_list(path);
    try {
        mw::protected_descriptor descriptor(true);
        store_access_list(folder.get(), path, descriptor.get());
    } catch (const std::system_error& e) {
        if (e.code().category() != std::system_category())
            throw;
        fail_with(static_cast<DWORD>(e.code().value()));
    }
}

void grant_users_access(const std::wstring& path, std::uint32_t access, std::uint32_t inheritance)
{
    const security_api& a = api();
    if (a.error != ERROR_SUCCESS)
        fail_with(a.error);

    // Read and written through one handle, opened without following a link and checked to be
    // at its place: a link planted where users may write must not carry the grant elsewhere.
    const mw::unique_hfile file = open_for_access_list(path);

    // The file's current descriptor.
    DWORD needed = 0;
    a.get_object_security(file.get(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    if (needed == 0)
        fail_with(GetLastError());
    std::vector<BYTE> old_descriptor(needed);
    check(a.get_object_security(file.get(), DACL_SECURITY_INFORMATION, old_descriptor.data(), needed, &needed));

    BOOL present = FALSE, defaulted = FALSE;
    PACL old_dacl = nullptr;
    check(a.get_dacl(old_descriptor.data(), &present, &old_dacl, &defaulted));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    check(a.get_control(old_descriptor.data(), &control, &revision));

    users_sid users;
    const DWORD users_length = a.get_length_sid(users.get());

    // Size of the new list: the old entries plus one for the Users group.
    ACL_SIZE_INFORMATION old_size{};
    old_size.AceCount = 0;
    old_size.AclBytesInUse = sizeof(ACL);
    if (present && old_dacl)
        check(a.get_acl_information(old_dacl, &old_size, sizeof old_size, AclSizeInformation));
    const DWORD new_size = old_size.AclBytesInUse + sizeof(ACCESS_ALLOWED_ACE) + users_length;
    std::unique_ptr<BYTE[]> new_dacl_bytes{new (std::nothrow) BYTE[new_size]};
    if (!new_dacl_bytes)
        throw std::system_error(mw::make_hresult_code(E_OUTOFMEMORY));
    PACL new_dacl = reinterpret_cast<PACL>(new_dacl_bytes.get());
    check(a.initialize_acl(new_dacl, new_size, ACL_REVISION));

    // Copies the old entries that are (or are not) inherited, leaving out the Users group's.
    auto copy_entries = [&](bool inherited) {
        if (!present || !old_dacl)
            return;
        for (DWORD i = 0; i < old_size.AceCount; ++i) {
            void* entry = nullptr;
            check(a.get_ace(old_dacl, i, &entry));
            auto* header = static_cast<ACE_HEADER*>(entry);
            if (((header->AceFlags & INHERITED_ACE) != 0) != inherited)
                continue;
            if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
                PSID sid = &static_cast<ACCESS_ALLOWED_ACE*>(entry)->SidStart;
                if (a.equal_sid(sid, users.get()))
                    continue;
            }
            check(a.add_ace(new_dacl, ACL_REVISION, MAXDWORD, entry, header->AceSize));
        }
    };
    copy_entries(false);
    check(a.add_access_allowed_ace_ex(new_dacl, ACL_REVISION, inheritance, access, users.get()));
    copy_entries(true);

    SECURITY_DESCRIPTOR descriptor{};
    check(a.initialize_descriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    check(a.set_dacl(&descriptor, TRUE, new_dacl, FALSE));
    const SECURITY_DESCRIPTOR_CONTROL kept = control & (SE_DACL_AUTO_INHERITED | SE_DACL_PROTECTED);
    check(a.set_control(&descriptor, SE_DACL_AUTO_INHERITED | SE_DACL_PROTECTED, kept));
    store_access_list(file.get(), path, &descriptor);
}

} // namespace setup
