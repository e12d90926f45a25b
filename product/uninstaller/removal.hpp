#pragma once
// Undoing an installation from the records of its uninstall log.

#include "engine/application_run.hpp"
#include "support/uninstall_log.hpp"

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
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

// A user-editable file as the payload of this build carries it.
struct shipped_file {
    std::int32_t tag;       // its payload entry kind: module or sample
    std::wstring_view name; // its file name
    std::string_view bytes;
};

// The modules and sample documents of this build's payload, byte for byte (made by the build
// from the payload manifest).
std::span<const shipped_file> shipped_user_files() noexcept;

// Whether the file at `path` holds other bytes than the file of the same payload kind and file
// name (without regard to case) in `shipped`: a user's change that the file times may not show
// (where the system keeps no creation time of its own, a change made before an update looks
// like the installation's write). An earlier version's own file, when its bytes differ, counts
// as changed too. False when `shipped` lists no such file or the file cannot be read.
bool differs_from_shipped(const std::wstring& path, std::int32_t tag, std::span<const shipped_file> shipped);

// Runs the installed application `application` (a canonical path) with " /Unregister
// /Background" from its own folder, as the program started and in its command line, and waits
// for it, `bound` at most: true when it exits with -10 (its file types are
// unregistered). An application still running at the bound is ended (and waited for, a few
// seconds at most), so that it no longer holds its executable, which the removal deletes
// next; its unregistration has failed.
bool unregister_application(const std::wstring& application,
                            std::chrono::milliseconds bound = setup::application_run_bound);

// What undoing the records left behind.
struct removal_report {
    bool unregistration_failed = false;   // the application did not confirm its unregistration
    std::vector<std::wstring> not_removed; // files, folders and keys that could not be removed
    std::vector<std::wstring> kept;        // user-editable files kept because they were changed
    bool complete() const noexcept { return !unregistration_failed && not_removed.empty(); }
};

// Where this product installs: the only places whose records the uninstaller undoes. Every
// path is in canonical form (see canonical_path); empty entries stand for nothing.
struct product_places {
    // The installation folder: the folder the uninstall program was installed in.
    std::wstring install_folder;
    // The product's data folders below the all-users application data folder.
    std::vector<std::wstring> data_folders;
    // The desktops: the sample folder is a folder directly on one whose name holds the product name.
    std::vector<std::wstring> sample_parents;
    // The programs folders and the desktops: the product's shortcut lies directly in one.
    std::vector<std::wstring> link_folders;
    // System folders the places lie in: never removed, nor any folder above one.
    std::vector<std::wstring> bases;
};

// The places of an installation in `install_folder`, from the system's folders: the all-users
// application data folder (the user's when there is none, as for the setup), the common and the
// user's desktop and programs folder, Program Files and the Windows folder.
product_places installed_places(const std::wstring& install_folder);

// Whether the file is a shell link: its header names the shell link class and it loads as one.
bool is_shell_link(const std::wstring& path);

// The canonical path a file, shortcut or folder record names when it lies where the product
// installs; nothing otherwise (a registry record, a path outside the places, or a path that
// is, or is reached from the system folder it lies in through, a junction or another reparse
// point):
// - files (kind 1): inside the installation folder, a data folder or the sample folder;
// - shortcuts (kinds 2 and 4): a ".lnk" file whose name starts with the product name, directly
//   in a programs folder or on a desktop;
// - folders (kind 0): one of those folders or inside one, or a folder above the installation
//   folder or a data folder that is no drive root and lies below every base it is in.
// Touches the file system only to look for reparse points (see mw::check_unlinked).
std::optional<std::wstring> place_of(const mw::log_record& record, const product_places& places);

struct removal_settings {
    // The uninstall log the records come from: removed after them. Empty: nothing to remove.
    std::wstring log_file;
    // The subkey of HKEY_LOCAL_MACHINE "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
    // that the uninstall-key record stands for.
    std::wstring uninstall_key_name;
    // When the installation ended: user-editable files written later are kept.
    std::optional<FILETIME> installed_at;
    // The user-editable files as the product ships them: one whose bytes differ is kept.
    std::span<const shipped_file> shipped = shipped_user_files();
    // Unregisters the application at the given path; true on success.
    std::function<bool(const std::wstring& application)> unregister = [](const std::wstring& application) {
        return unregister_application(application);
    };
    // Where the product installs: records naming anything else are not undone but reported.
    product_places places;
    // The running uninstall program, when its file is recorded: removed in the last step.
    std::wstring running_program;
    // Called with the report so far before the last step (the running program, the log and
    // the folders that were not empty); may be empty.
    std::function<void(const removal_report& so_far)> before_last_step;
};

// Undoes `records` (in the order of the log) from the last to the first, each file, shortcut
// and folder record only when place_of finds it where the product installs (and a shortcut only
// when the file is a shell link); anything else stays and is reported as not removed:
// - class registration (kind 6): the application unregisters its file types; this happens
//   before the application's file (the file record tagged main_executable) is deleted, whichever
//   of the two records comes last, and at most once. The application is always the product's
//   in the installation folder (`application_file_name`), reached without a link, never a path
//   that a record names;
// - uninstall key (kind 5): the product's uninstall subkey is deleted with all it holds;
// - files and shortcuts (kinds 1 to 4): deleted, the read-only attribute cleared first; a file
//   already gone counts as removed; a user-editable file changed since the installation (by its
//   times, or by bytes other than the shipped ones) is kept;
// - folders (kind 0): removed when empty.
// The application's file goes after all other records, so that a removal ended before its end
// leaves it for the next to unregister. Then, after `before_last_step`, the running program and the log file are removed and the
// folders that were not empty are tried once more (the log or the uninstaller may have been in
// them). Every file and folder is removed by its canonical path through handles checked to be
// at their place (mw::delete_guarded, mw::remove_folder_guarded): one reached through a link
// by then stays and is reported. A folder that still holds something stays without being
// reported: only folders the setup created and that are empty are removed. Never stops
// early and never throws: what fails is reported.
removal_report remove_installation(const std::vector<mw::log_record>& records, const removal_settings& settings);

// The registry path a report names for the uninstall key.
std::wstring uninstall_key_text(const std::wstring& uninstall_key_name);

} // namespace uninstaller
