#pragma once
// Access rights of the built-in Users group on installed files and folders.

#include <windows.h>

#include <cstdint>
#include <string>

namespace setup {

// Gives the built-in Users group `access` on a file or folder, replacing any entry it had;
// `inheritance` 0 for none, 3 for sub-folders and files. The access list is read and written
// through one handle opened with mw::open_guarded: a file or folder reached through a link, or a
// file with a second name, is refused (HRESULT_FROM_WIN32(mw::link_refused)). Throws
// std::system_error with an HRESULT (mw::hresult_category) on failure.
void grant_users_access(const std::wstring& path, std::uint32_t access, std::uint32_t inheritance);

// Gives the folder `path`, which the setup has just made, the protection of Program Files: its
// access list no longer takes what its parent passes on; Administrators and SYSTEM have full
// control and Users read and execute, passed on to what it will hold. Written through one handle
// opened with mw::open_guarded, as grant_users_access does, and throws as it does.
void protect_folder(const std::wstring& path);

namespace details {
// The call through which grant_users_access and protect_folder store the descriptor it built, after it opened and
// checked the file: the handle's SetKernelObjectSecurity unless replaced (a test sees the list
// it would store where the file system keeps none). Null restores the handle's store. Returns the replacement in place before, null for none.
using file_security_store = BOOL(WINAPI*)(LPCWSTR path, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor);
file_security_store replace_file_security_store(file_security_store store) noexcept;
} // namespace details

} // namespace setup
