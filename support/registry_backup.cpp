// The uninstall log's record of the product's uninstall registry key: the key is saved to a
// hive file before it is written, and put back (or deleted, when it is new) on rollback.

#include "support/uninstall_log.hpp"

#include "support/unique_handle.hpp"

namespace mw {
namespace {


using unique_key = unique_hkey;

// Opens a key with the access the process may have; null when it does not exist.
unique_key open_existing(HKEY parent, const wchar_t* name)
{
    HKEY key = nullptr;
    const LSTATUS status = RegOpenKeyExW(parent, name, 0, MAXIMUM_ALLOWED, &key);
    if (status == ERROR_FILE_NOT_FOUND)
        return {};
    if (status != ERROR_SUCCESS)
        throw std::system_error(status, std::system_category(), "open registry key");
    return unique_key{key};
}

// The token and privilege functions, looked up in advapi32 on first use.
struct privilege_api {
    decltype(&OpenProcessToken) open_process_token = nullptr;
    decltype(&LookupPrivilegeValueW) lookup_privilege_value = nullptr;
    decltype(&AdjustTokenPrivileges) adjust_token_privileges = nullptr;
    HRESULT error = S_OK;
};

const privilege_api& privileges()
{
    static const privilege_api api = [] {
        privilege_api a;
        HMODULE module = GetModuleHandleW(L"advapi32.dll");
        if (!module)
            module = LoadLibraryExW(L"advapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
        if (!module)
            module = LoadLibraryExW(L"advapi32.dll", nullptr, 0);
        if (!module) {
            a.error = E_UNEXPECTED;
            return a;
        }
        auto find = [&](const char* name) {
            FARPROC f = GetProcAddress(module, name);
            if (!f)
                a.error = E_NOTIMPL;
            return reinterpret_cast<void*>(f);
        };
        a.open_process_token = reinterpret_cast<decltype(a.open_process_token)>(find("OpenProcessToken"));
        a.lookup_privilege_value =
            reinterpret_cast<decltype(a.lookup_privilege_value)>(find("LookupPrivilegeValueW"));
        a.adjust_token_privileges =
            reinterpret_cast<decltype(a.adjust_token_privileges)>(find("AdjustTokenPrivileges"));
        return a;
    }();
    return api;
}

// Enables a privilege for the life of the object.
class privilege_scope {
public:
    explicit privilege_scope(const wchar_t* name) : name_(name) { set_privilege(name_, true); }
    ~privilege_scope() { set_privilege(name_, false); }
    privilege_scope(const privilege_scope&) = delete;
    privilege_scope& operator=(const privilege_scope&) = delete;

private:
    const wchar_t* name_;
};

} // namespace

bool set_privilege(const std::wstring& name, bool enable)
{
    const privilege_api& api = privileges();
    if (FAILED(api.error))
        return false;
    HANDLE raw = nullptr;
    if (!api.open_process_token(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw))
        return false;
    const unique_handle token{raw};
    LUID luid{};
    if (!api.lookup_privilege_value(nullptr, name.c_str(), &luid))
        return false;

    TOKEN_PRIVILEGES ask{};
    ask.PrivilegeCount = 1;
    ask.Privileges[0].Luid = luid;
    ask.Privileges[0].Attributes = 0;
    TOKEN_PRIVILEGES previous_state{};
    DWORD length = sizeof previous_state;
    SetLastError(ERROR_SUCCESS);
    if (!api.adjust_token_privileges(token.get(), FALSE, &ask, sizeof ask, &previous_state, &length) ||
        GetLastError() != ERROR_SUCCESS)
        return false;

    previous_state.PrivilegeCount = 1;
    previous_state.Privileges[0].Luid = luid;
    if (enable)
        previous_state.Privileges[0].Attributes |= SE_PRIVILEGE_ENABLED;
    else
        previous_state.Privileges[0].Attributes &= ~static_cast<DWORD>(SE_PRIVILEGE_ENABLED);
    SetLastError(ERROR_SUCCESS);
    if (!api.adjust_token_privileges(token.get(), FALSE, &previous_state, length, nullptr, nullptr) ||
        GetLastError() != ERROR_SUCCESS)
        return false;
    return true;
}

void uninstall_log::add_uninstall_key(HKEY key)
{
    pending = true;
    // A new key has no backup: rollback deletes it. An existing one's backup is named (and
    // journaled) before its content is saved there.
    append({uninstall_key, {}, key ? make_backup({}, false) : std::wstring{}, false, -1});
    std::wstring& backup = current.back().backup;
    if (!key || backup.empty())
        return;
    set_privilege(L"SeBackupPrivilege", true);
    if (RegSaveKeyW(key, backup.c_str(), nullptr) != ERROR_SUCCESS) {
        DeleteFileW(backup.c_str());
        backup.clear();
        keep_journal();
    }
    set_privilege(L"SeBackupPrivilege", false);
}

std::error_code uninstall_log::restore_uninstall_key(const log_record& record) const
{
    if (identity_.uninstall_key_name.empty())
        return {}; // never the whole Uninstall key
    privilege_scope restore{L"SeRestorePrivilege"};
    unique_key uninstall = open_existing(HKEY_LOCAL_MACHINE, uninstall_key_path);
    if (!uninstall)
        return {};
    LSTATUS status = ERROR_SUCCESS;
    if (!record.backup.empty()) {
        if (unique_key subkey = open_existing(uninstall.get(), identity_.uninstall_key_name.c_str()))
            status = RegRestoreKeyW(subkey.get(), record.backup.c_str(), 0);
        else
            status = ERROR_FILE_NOT_FOUND; // the entry to put the saved values into is gone
    } else {
        status = RegDeleteTreeW(uninstall.get(), identity_.uninstall_key_name.c_str());
        if (status == ERROR_FILE_NOT_FOUND)
            status = ERROR_SUCCESS; // already gone
    }
    return status == ERROR_SUCCESS ? std::error_code{} : std::error_code(static_cast<int>(status), std::system_category());
}

} // namespace mw
