#pragma once
// Path rules under Windows: the canonical form that checks and the actions they guard read a
// path in, its parts, and path identity.

#include <optional>
#include <string>
#include <string_view>

namespace mw {

// A path's canonical form: "\\?\" and "\\?\UNC\" prefixes taken off, forward slashes made
// backslashes, "." and ".." resolved, no trailing separator but after a drive root, the drive
// letter in capitals. Nothing when the path is not a full path on a drive or a share (relative,
// a device, a stream name, a wildcard or a control character in it). Touches no file.
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
// regard to case and to trailing separators. Touches no file.
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
