#pragma once
// Where the running program is.

#include <string>

namespace mw {

// The full path of this program's executable; empty when the system cannot tell.
std::wstring own_executable_path();

// Its file name without folder and extension.
std::wstring own_executable_name();

} // namespace mw
