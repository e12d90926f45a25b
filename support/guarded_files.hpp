#pragma once
// Files and folders that an elevated program acts on in places other users may write (the
// shared data folders, the sample folder, a folder the setup was started from): reached from a
// trusted base folder down without passing through a junction, a symbolic link or any other
// reparse point, and acted on through handles that were checked to be at their place.
//
// A standard user who can write such a place could otherwise replace one of its folders by a
// link to any other folder between the check of a path and its use, and so have the program
// write, move, delete or open up files it never meant to touch. So every folder from the base
// down is opened without following a reparse point, checked (no reparse point, and its final
// path is its parent's final path and its own name), and held open without delete sharing while
// the program acts below it: a held folder cannot be renamed, replaced or removed.
//
// Errors: the operations throw std::system_error of the system category: `link_refused` when a
// place is reached through a reparse point, is not where its path says, or is a file with more
// than one name where a write or a grant would reach the other names too; otherwise the Win32
// code of the call that failed.

#include "support/unique_handle.hpp"

#include <windows.h>

#include <string>
#include <vector>

namespace mw {

// ERROR_REPARSE_POINT_ENCOUNTERED: the code of a place refused because it is reached through a
// link.
inline constexpr DWORD link_refused = 4395;

// The system's folders that standard users can neither replace nor redirect for another user:
// Program Files, the all-users application data, desktop and programs folders, the Windows
// folder, and this user's own application data, desktop, programs and temporary folders.
// Canonical; looked up once.
const std::vector<std::wstring>& trusted_bases();

// The deepest trusted base that the canonical `path` lies in, else its root ("C:\\").
std::wstring trusted_base_of(const std::wstring& path);

// The folders from `folder`'s trusted base down to `folder`, held open and checked, for the life
// of the object. Where `folder` does not exist whole, down to its deepest existing folder.
// Throws link_refused when one is a reparse point or not at its place, ERROR_DIRECTORY when one
// is a file, ERROR_BAD_PATHNAME when `folder` is no full path.
class held_folders {
public:
    explicit held_folders(const std::wstring& folder);

    // Whether every folder down to the one asked for exists and is held.
    bool complete() const noexcept { return complete_; }
    // The canonical path of the deepest folder held, and its final path as the system names it.
    const std::wstring& deepest() const noexcept { return deepest_; }
    const std::wstring& deepest_final() const noexcept { return deepest_final_; }

private:
    std::vector<unique_hfile> chain_;
    std::wstring deepest_;
    std::wstring deepest_final_;
    bool complete_ = false;
};

// Opens the file or folder `path` below its held, checked folders, without following a reparse
// point at `path` itself, and checks what it opened: no reparse point, at its place, and for an
// access that writes data or the access list, a file of one name only. `disposition` is
// OPEN_EXISTING, OPEN_ALWAYS or CREATE_NEW: nothing is truncated before the check (truncate
// through the handle). A folder opens only with FILE_FLAG_BACKUP_SEMANTICS in `flags`. The
// folders are released when it returns: the handle itself keeps the object it names.
unique_hfile open_guarded(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags = 0);

// Throws link_refused when the existing part of `path` (a file or a folder) is reached from its
// trusted base through a reparse point or is one itself. Nothing missing is an error.
void check_unlinked(const std::wstring& path);

// Deletes the file `path` through a checked handle, its read-only attribute cleared first (and
// set again when the deletion fails). A file already gone counts as deleted.
void delete_guarded(const std::wstring& path);

// Removes the empty folder `path`, checked below its held parents. True when it is gone (also
// when it was gone before); false when it still holds something.
bool remove_folder_guarded(const std::wstring& path);

// Creates the folders of `folder` that are missing, each below its held, checked parent, and
// returns the ones it made, outermost first. Throws as held_folders does, or the code of a
// folder that could not be made.
std::vector<std::wstring> create_folders_guarded(const std::wstring& folder);

// The final path of an open file or folder, as the system names it, without its "\\\\?\\" prefix.
// Empty when the system cannot tell.
std::wstring final_path_of(HANDLE handle);

} // namespace mw
