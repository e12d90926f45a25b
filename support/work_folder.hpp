#pragma once
// A folder of the program's own for its temporary work (backups of the files it replaces, the
// copy of the uninstall program that finishes a removal), made in the temporary folder.
//
// The temporary folder is writable by the user the program runs for, and so by that user's
// programs that are not elevated: a file the elevated program leaves there under a name could be
// renamed away and replaced before the program reads or starts it again. So the work folder is
// created and opened in one step under a name that did not exist, with an access list that lets
// only Administrators and SYSTEM in, and it is held without delete sharing while the object
// lives: nobody else can rename or remove it, and nobody else can put anything in it.

#include "support/unique_handle.hpp"

#include <windows.h>

#include <string>
#include <vector>

namespace mw {

// A security descriptor for a folder only administrators may change: its access list is
// protected from what its parent passes on and gives Administrators and SYSTEM full control,
// passed on to sub-folders and files; with `users_read`, the Users group may read and execute
// too (the protection of Program Files).
class protected_descriptor {
public:
    explicit protected_descriptor(bool users_read);
    protected_descriptor(const protected_descriptor&) = delete;
    protected_descriptor& operator=(const protected_descriptor&) = delete;

    PSECURITY_DESCRIPTOR get() noexcept { return &descriptor_; }

private:
    std::vector<DWORD> acl_; // DWORD-aligned storage of the ACL
    SECURITY_DESCRIPTOR descriptor_{};
};

// The folder. Errors throw std::system_error of the system category.
class work_folder {
public:
    // A new folder "mw-<8 hexadecimal digits>" in the temporary folder.
    work_folder();
    // A new folder "mw-<8 hexadecimal digits>" in `parent`, a full path.
    explicit work_folder(const std::wstring& parent);
    // Removes the folder when it is empty by then; what is left in it stays, protected.
    ~work_folder();
    work_folder(const work_folder&) = delete;
    work_folder& operator=(const work_folder&) = delete;

    const std::wstring& path() const noexcept { return path_; }

    // The folder's path and identity ("<path>|<volume>|<index high>|<index low>"), by which a
    // later run can tell this folder from another put at its path once it is no longer held.
    std::wstring mark() const;

    // A full path in the folder named after `pattern`, every '%' a random hexadecimal digit,
    // where nothing existed when it was drawn: only this program can have made one since.
    std::wstring new_name(const std::wstring& pattern) const;

    // Creates a new file in the folder named after `pattern` and returns its handle; its path
    // in `path`.
    unique_hfile create_file(const std::wstring& pattern, DWORD access, DWORD share, std::wstring& path) const;

private:
    std::wstring path_;
    unique_hfile handle_;
};

// Opens the folder a work_folder's `mark` names, with delete access and held without delete
// sharing, when it is that very folder (no reparse point, the same identity); an empty handle
// otherwise.
unique_hfile open_marked_folder(const std::wstring& mark);

// Copies the data of the open file `from` (from its start) to the open file `to`, which ends
// where the data ends, and gives `to` the attributes and times of `from`.
void copy_file_data(HANDLE from, HANDLE to);

// Renames the open file `file` (opened with DELETE access) to the full path `to`; an existing
// file there is replaced only with `replace`. Throws ERROR_NOT_SAME_DEVICE when `to` lies on
// another volume.
void rename_open_file(HANDLE file, const std::wstring& to, bool replace);

// Deletes the open file `file` (opened with DELETE and FILE_WRITE_ATTRIBUTES access), its
// read-only attribute cleared first. Throws the code of the call that failed.
void delete_open_file(HANDLE file);

} // namespace mw
