#pragma once
// Path identity under Windows rules.

#include <string>

namespace mw {

// Whether two paths name the same file or folder: their texts are equal; or the file system
// reports that both name one existing object (same volume and file index); or, when that
// cannot be told (either does not exist), their lexically normalised forms are equal
// element by element, without regard to case and to trailing separators.
bool same_path(const std::wstring& a, const std::wstring& b);

// Whether the file system reports that both paths name one existing object.
bool same_file_object(const std::wstring& a, const std::wstring& b);

} // namespace mw
