#pragma once
// What the program's own version block says about it.

#include <string>

namespace tilewright {

// The string `name` of the first Unicode translation of the running program's version
// block; empty when there is none.
std::wstring own_version_string(const wchar_t* name);

// The full path of the running program.
std::wstring own_path();

// The name of the application family whose instance semaphore the program counts in: the
// version block's "ApplicationId", else its "ProductName", else the program's file name
// without folder and extension.
std::wstring application_id();

} // namespace tilewright
