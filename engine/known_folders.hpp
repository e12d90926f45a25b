#pragma once
// The shell known folders the setup installs into, by number:
//   0  Program Files;
//   1  the all users' Start-menu programs folder, else the user's;
//   2  the public desktop, else the user's desktop.

#include <windows.h>

#include <shlobj.h>

#include <functional>
#include <string>

namespace setup {

// One lookup of a known folder (SHGetKnownFolderPath with KF_FLAG_DONT_VERIFY): S_OK and the
// path, or the failing HRESULT and an empty path. Never throws.
HRESULT lookup_known_folder(REFKNOWNFOLDERID id, std::wstring& path) noexcept;

// The warning box for a failed lookup: the system's text of `error`, captioned with the
// setup's title and the product.
void show_known_folder_error(HRESULT error);

// What known_folder asks of the system and of the user interface.
struct known_folder_services {
    std::function<HRESULT(REFKNOWNFOLDERID id, std::wstring& path)> lookup = lookup_known_folder;
    // Tells the user that a lookup failed with `error`; may be empty.
    std::function<void(HRESULT error)> report_error = show_known_folder_error;
};

// The folder's path; empty when it cannot be obtained (or the number is unknown). Reports a
// failed Program Files lookup, and a failed lookup of the user's programs folder once the all
// users' one has failed; a missing desktop is never reported. Never throws.
std::wstring known_folder(int number, const known_folder_services& services);
// known_folder with the system's lookup and the warning box.
std::wstring known_folder(int number);

} // namespace setup
