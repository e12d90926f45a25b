#pragma once
// Path rules under Windows, in one place for every part of the setup: a path text's root, its
// components, how a text is appended to a base and its lexical normal form; the canonical form
// that checks and the actions they guard read a path in, its parts, and path identity.

#include <optional>
#include <string>
#include <string_view>

namespace mw {

// Whether a character separates path components: a backslash or a forward slash.
constexpr bool is_separator(wchar_t c) noexcept
{
    return c == L'\\' || c == L'/';
}

// A path cut after its root: the root name (a drive "C:" with an ASCII letter, or two
// separators and a name up to the next separator: a server "\\server", a device prefix "\\?"),
// whether a root directory (separators) follows it, and the rest after those separators. A
// share's name is the first component of the rest. The parts are views into the path.
struct rooted_path {
    std::wstring_view root_name;
    bool root_directory = false;
    std::wstring_view relative;

    bool drive() const noexcept { return root_name.size() == 2 && root_name[1] == L':'; }
    bool share() const noexcept { return root_name.size() > 2; }
};

rooted_path split_root(std::wstring_view path) noexcept;

// Whether a path is absolute: a drive and a separator ("C:\", "C:/"), or a root name of two
// separators (a server share "\\server\share", a device prefix "\\?\"). A drive followed by a
// name ("D:x") and a path starting with a single separator ("\x") are not.
bool is_absolute_path(std::wstring_view path) noexcept;

// `path` taken relative to `base` by the usual rules of appending paths: an absolute path, or
// one on another drive, replaces the base; a path starting with one separator keeps only the
// base's root name; anything else is joined to the base with a backslash, unless the base is
// empty, ends in a separator or is a bare drive ("C:"). Neither text is otherwise changed.
std::wstring append_path(std::wstring_view base, std::wstring_view path);

// The lexical normal form of a path, without consulting the disk: slashes become backslashes,
// repeated separators collapse to one, "." components go, a component followed by ".." goes
// with it, ".." directly after the root directory goes, and no separator trails but the
// root's; an empty result is ".". A share's name is an ordinary component here.
std::wstring lexical_normal_form(std::wstring_view path);

// The first component of `rest` (empty when `rest` starts with a separator), taken off it
// together with the separators that follow it.
std::wstring_view take_component(std::wstring_view& rest) noexcept;

// A path cut before its final component: the folder (the path without the final component
// and the separators before it; a root keeps its root directory's separator) and the name
// (empty for a root and for a path ending in a separator). Both are views into the path.
struct named_path {
    std::wstring_view folder;
    std::wstring_view name;
};

named_path split_name(std::wstring_view path) noexcept;

// A path's canonical form: "\\?\" and "\\?\UNC\" prefixes taken off, read as the system
// reads it to open it (forward slashes made backslashes, "." and ".." resolved, ".." stopping
// at a share's root), then in its lexical normal form (no repeated separator, none trailing
// but after a drive root), the drive letter in capitals. Nothing when the path is not a full
// path on a drive or a share (relative, a device, a stream name, a wildcard or a control
// character in it). Touches no file.
std::optional<std::wstring> canonical_path(const std::wstring& path);

// Whether `path` lies at or below `folder`: both canonical, compared by whole components
// without regard to case.
bool path_within(const std::wstring& path, const std::wstring& folder) noexcept;

// Whether two texts are equal without regard to case (ordinal, as the file system compares names).
bool equal_ignoring_case(std::wstring_view a, std::wstring_view b) noexcept;

// The folder a canonical path lies in ("C:\x" lies in "C:\"); empty for a root.
std::wstring parent_of(const std::wstring& path);

// The last component of a canonical path; empty for a root.
std::wstring_view name_of(const std::wstring& path) noexcept;

// Whether a canonical path is a drive root ("C:\") or a share's root ("\\server\share").
bool is_root(const std::wstring& path) noexcept;

// The root a canonical path lies in: "C:\" or "\\server\share"; empty when it has none.
std::wstring root_of(const std::wstring& path);

// Whether two paths name the same file or folder: their texts are equal; or the file system
// reports that both name one existing object (same volume and file index); or, when that
// cannot be told (either does not exist), their absolute, lexically normalised forms are
// equal element by element, without regard to case and to trailing separators (a relative
// path is made absolute against the current folder).
bool same_path(const std::wstring& a, const std::wstring& b);

// Whether the file system reports that both paths name one existing object.
bool same_file_object(const std::wstring& a, const std::wstring& b);

// Whether the absolute, lexically normalised forms are equal element by element, without
// regard to case and to trailing separators. The absolute form is the system's reading, as in
// canonical_path. Touches no file.
bool same_path_lexically(const std::wstring& a, const std::wstring& b);

// What the file system identifies an existing file or folder by: volume and file index.
struct file_identity {
    unsigned long volume = 0;
    unsigned long index_high = 0;
    unsigned long index_low = 0;
    bool operator==(const file_identity&) const = default;
};

// The identity of an existing file or folder; nothing when it cannot be opened. Costly under
// some systems (the volume is queried): callers comparing many paths cache it.
std::optional<file_identity> identity_of(const std::wstring& path);

} // namespace mw
