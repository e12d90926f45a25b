#pragma once
// Access rights of the built-in Users group on installed files and folders.

#include <windows.h>

#include <cstdint>
#include <string>

namespace setup {

// Gives the built-in Users group `access` on a file or folder, replacing any entry it had;
// `inheritance` 0 for none, 3 for sub-folders and files. Throws std::system_error with an
// HRESULT (mw::hresult_category) on failure.
void grant_users_access(const std::wstring& path, std::uint32_t access, std::uint32_t inheritance);

namespace details {
// The call through which grant_users_access stores the descriptor it built: SetFileSecurityW
// unless replaced (a test sees the list it would store where the file system keeps none).
// Null restores SetFileSecurityW. Returns the replacement in place before, null for none.
using file_security_store = BOOL(WINAPI*)(LPCWSTR path, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor);
file_security_store replace_file_security_store(file_security_store store) noexcept;
} // namespace details

} // namespace setup
