#pragma once
// The uninstall log: everything the setup creates, recorded while it is created, so that a
// failed installation can be rolled back and the uninstaller can remove it later. Written as
// "Uninstall.ulog" (UTF-16LE with a byte-order mark, CR LF line ends) next to the uninstaller;
// read back from an earlier installation at start-up.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

namespace mw {

class work_folder;

// What a record stands for.
enum record_kind : std::int32_t {
    folder = 0,             // a folder the setup created
    file = 1,               // an installed file; tag is its payload entry kind
    menu_link = 2,          // the Start-menu shortcut
    desktop_link = 4,       // the desktop shortcut
    uninstall_key = 5,      // the product's uninstall registry entry
    class_registration = 6, // the file types the installed application registered
};

struct log_record {
    std::int32_t kind = folder;
    std::wstring path;   // empty for kinds 5 and 6
    std::wstring backup; // what existed before, moved or copied aside; never written to the file
    bool done = false;
    std::int32_t tag = -1; // kind 1: the payload entry kind; -1 otherwise (stored as its low 8 bits)
    bool operator==(const log_record&) const = default;
};

// The key under HKEY_LOCAL_MACHINE that holds every installed program's entry.
inline constexpr wchar_t uninstall_key_path[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The texts the log writes that name the product.
struct log_identity {
    std::wstring product_title;      // "Tilewright 1.22a"
    std::wstring uninstall_key_name; // subkey of the system's Uninstall key: "Tilewright"
};

// A record that rollback could not undo, and why.
struct rollback_failure {
    log_record record;
    std::error_code error;
};

class uninstall_log {
public:
    explicit uninstall_log(log_identity identity = {});

    // Replaces the paths, the desktop choice and the previous title with what the file holds
    // and appends its records to `previous`. Never throws: a missing or malformed file stops
    // reading where it went wrong and keeps what was read before. An empty name only resets.
    // True when a whole, well-formed log was read.
    bool read(const std::wstring& file);
    bool read(std::wistream& lines);

    // Merges `previous` into `current`, writes the file and deletes every backup (also when
    // writing fails). True when the file was written completely.
    bool write(const std::wstring& file, const std::wstring& install_folder, const std::wstring& programs_folder);
    // The file's lines, each ending in "\n".
    void write_lines(std::wostream& out, const std::wstring& install_folder, const std::wstring& programs_folder);
    // Records of `previous` that this run did not recreate, appended to `current`.
    void merge_previous();

    // Creates the folder and its missing parents, recording each folder it creates. True when
    // the folder exists afterwards.
    bool ensure_folder(const std::wstring& path);
    // Creates the folder and its missing parents, each below its checked parent (see
    // create_folders_guarded), records each folder it creates and returns them, outermost first.
    // Throws std::system_error where a folder cannot be made or is reached through a link.
    std::vector<std::wstring> create_folders(const std::wstring& path);
    // Records the file about to be written; an existing file is moved aside (or copied, with
    // `copy`) to a backup first.
    void add_file(const std::wstring& path, std::int32_t tag, bool copy);
    // Records a shortcut about to be created in `folder`; its path arrives with `complete`.
    // `planned`, when given, is the path it will have: recorded at once, so that a run ended
    // before `complete` is rolled back with it (a failed shortcut's `complete` takes it back).
    // The previous installation's shortcut of the same kind is moved aside.
    void add_link(bool desktop, const std::wstring& folder, const std::wstring& planned = {});
    // Records the product's uninstall key, about to be written: `key` is its open handle when
    // it existed (its content is saved to a hive file), null when the caller just created it.
    void add_uninstall_key(HKEY key);
    void add_class_registration();
    // Finishes the pending record; does nothing when no record is pending.
    void complete(bool done, const std::wstring& path);
    // Undoes `current`, last record first, and empties it. A file record whose backup is named
    // but does not exist (a run ended before it moved the file) is left as it is. Never throws and never stops early:
    // what it could not undo (a file held open, a folder that is not empty, a registry entry
    // the system did not put back) it leaves as it is and reports, in the order it met it.
    std::vector<rollback_failure> rollback();

    // Whether the previous installation recorded a file at `path` as installed (paths compared
    // element by element, without regard to case).
    bool previous_file_installed(const std::wstring& path) const;

    // A new name "mw-%%%%%.tmp" in the log's work folder (a folder of its own in the temporary
    // folder that only administrators may enter, made at the first backup); with a path, the
    // file moved (or copied) there through a checked handle. Empty when the file is reached
    // through a link, or the move or copy failed.
    std::wstring make_backup(const std::wstring& path, bool copy);

    // The product the log records.
    const log_identity& identity() const noexcept { return identity_; }

    std::wstring install_path;
    std::wstring shortcut_path;
    bool has_desktop_link = true;
    std::vector<log_record> previous;
    std::vector<log_record> current;
    bool pending = false;
    // While set, called with `current` (backups included) after every change, each backup's
    // name before the file is moved there: the installation journal (see install_journal.hpp).
    std::function<void(const uninstall_log&)> journal;
    // The mark of the work folder that holds the backups (see work_folder::mark); empty
    // before the first backup.
    std::wstring work_folder_mark() const;
    std::wstring previous_title;

private:
    void append(log_record record);
    void keep_journal() const;
    // Moves (or copies) the file `path` to the new name `backup` in the work folder; false
    // when it could not.
    bool back_up(const std::wstring& path, const std::wstring& backup, bool copy);
    std::error_code restore_uninstall_key(const log_record& record) const;

    log_identity identity_;
    // Where the backups are kept; shared by copies of the log, let go when the log is written
    // or rolled back and removed then if empty (a backup that could not be put back stays in it).
    std::shared_ptr<work_folder> work_;
};

// Turns a privilege of the process token on or off; true when its state was changed as asked.
bool set_privilege(const std::wstring& name, bool enable);


} // namespace mw
