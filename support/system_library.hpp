#pragma once
// Libraries of the system that are not among Windows' known DLLs (version.dll and the like),
// loaded from the system folder only, never from the program's folder, where anyone may have
// left a library of that name; and the restriction of the process's library search that keeps
// every later load there too.

#include "support/unique_handle.hpp"

#include <windows.h>

namespace mw {

// Limits the library search of this process to the system folder (SetDefaultDllDirectories with
// LOAD_LIBRARY_SEARCH_SYSTEM32, where the system has it) and takes the current folder out of it
// (SetDllDirectoryW with an empty text). Call it first thing in a program; it cannot fail in a
// way the program could do anything about, and reports nothing.
void restrict_library_search() noexcept;

// Loads the system library `file_name` ("version.dll") from the system folder. Empty when it is
// missing or cannot be loaded; the thread's last error then says why.
unique_hmodule load_system_library(const wchar_t* file_name) noexcept;

// The function `name` of `module` as a pointer of type `Function`; null when the module is null
// or lacks it.
template <class Function>
Function system_function(HMODULE module, const char* name) noexcept
{
    if (!module)
        return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace mw
