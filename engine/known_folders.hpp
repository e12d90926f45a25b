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

// How the program tells the user that a lookup failed: the setup installs its warning box
// at start-up. Until one is installed (and in programs that install none) nothing is shown.
void set_known_folder_error_reporter(std::function<void(HRESULT error)> reporter);
// Tells the user through the installed reporter. Never throws.
void report_known_folder_error(HRESULT error) noexcept;

// What known_folder asks of the system and of the user interface.
struct known_folder_services {
    std::function<HRESULT(REFKNOWNFOLDERID id, std::wstring& path)> lookup = lookup_known_folder;
    // Tells the user that a lookup failed with `error`; may be empty.
    std::function<void(HRESULT error)> report_error = report_known_folder_error;
};

// A CSIDL folder through SHGetFolderPathW (a box it may show is owned by `owner`); empty when
// the system has none. Never throws but for lack of memory.
std::wstring csidl_folder(int csidl, HWND owner = nullptr);

// The folder's path; empty when it cannot be obtained (or the number is unknown). Reports a
// failed Program Files lookup, and a failed lookup of the user's programs folder once the all
// users' one has failed; a missing desktop is never reported. Never throws.
std::wstring known_folder(int number, const known_folder_services& services);
// known_folder with the system's lookup and the installed reporter.
std::wstring known_folder(int number);

} // namespace setup
