#pragma once
// Path identity under Windows rules.

#include <optional>
#include <string>

namespace mw {

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
