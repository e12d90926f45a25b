#pragma once
// Undoing an installation from the records of its uninstall log.

#include "support/uninstall_log.hpp"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace uninstaller {

// The two times of a file that tell whether it was written after it was made.
struct file_times {
    FILETIME created{};
    FILETIME written{};
};

// How far a file's last write may follow its creation while it is still the file the setup
// wrote: extraction writes a small file at once; a FAT volume keeps write times to 2 s.
inline constexpr std::uint64_t write_slack_100ns = 2 * 10'000'000ull;

// Whether a user-editable file was changed after the installation: it was written after the
// installation ended (`installed_at`, the time the setup wrote the uninstall log, when known),
// or written more than `write_slack_100ns` after it was created (a change made before an update,
// which rewrites the log, or to a file the user had before the setup recorded it).
bool changed_since_installation(const file_times& times, const std::optional<FILETIME>& installed_at) noexcept;

// Whether files of a payload entry kind (the tag of a file record) belong to the user once
// installed: modules and sample documents. Changed ones are kept.
bool user_editable(std::int32_t tag) noexcept;

// Runs the installed application with " /Unregister /Background" from its own folder and
// waits for it: true when it exits with -10 (its file types are unregistered).
bool unregister_application(const std::wstring& application);

// What undoing the records left behind.
struct removal_report {
    bool unregistration_failed = false;   // the application did not confirm its unregistration
    std::vector<std::wstring> not_removed; // files, folders and keys that could not be removed
    std::vector<std::wstring> kept;        // user-editable files kept because they were changed
    bool complete() const noexcept { return !unregistration_failed && not_removed.empty(); }
};

struct removal_settings {
    // The uninstall log the records come from: removed after them. Empty: nothing to remove.
    std::wstring log_file;
    // The subkey of HKEY_LOCAL_MACHINE "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
    // that the uninstall-key record stands for.
    std::wstring uninstall_key_name;
    // When the installation ended: user-editable files written later are kept.
    std::optional<FILETIME> installed_at;
    // Unregisters the application at the given path; true on success.
    std::function<bool(const std::wstring& application)> unregister = unregister_application;
};

// Undoes `records` (in the order of the log) from the last to the first:
// - class registration (kind 6): the application unregisters its file types; this happens
//   before the application's file (the file record tagged main_executable) is deleted, whichever
//   of the two records comes last, and at most once;
// - uninstall key (kind 5): the product's uninstall subkey is deleted with all it holds;
// - files and shortcuts (kinds 1 to 4): deleted, the read-only attribute cleared first; a file
//   already gone counts as removed; a user-editable file changed since the installation is kept;
// - folders (kind 0): removed when empty.
// Then the log file is removed and the folders that were not empty are tried once more (the log
// or the uninstaller may have been in them). A folder that still holds something stays without
// being reported: only folders the setup created and that are empty are removed. Never stops
// early and never throws: what fails is reported.
removal_report remove_installation(const std::vector<mw::log_record>& records, const removal_settings& settings);

// The registry path a report names for the uninstall key.
std::wstring uninstall_key_text(const std::wstring& uninstall_key_name);

} // namespace uninstaller
