#pragma once
// Libraries of the system that are not among Windows' known DLLs (version.dll and the like),
// loaded from the system folder only, never from the program's folder, where anyone may have
// left a library of that name; and the restriction of the process's library search that keeps
// every later load there too.

#include "support/unique_handle.hpp"

#include <windows.h>

#include <array>
#include <iterator>

namespace mw {

// Limits the library search of this process to the system folder (SetDefaultDllDirectories with
// LOAD_LIBRARY_SEARCH_SYSTEM32, where the system has it) and takes the current folder out of it
// (SetDllDirectoryW with an empty text). Call it first thing in a program; it cannot fail in a
// way the program could do anything about, and reports nothing.
void restrict_library_search() noexcept;

// The system libraries that the system's own libraries load later in a process by a bare name, in
// ways that pass the restricted search by and look in the program's folder first: msimg32.dll,
// which the common controls' theming loads when it first draws with transparency. Only what a
// program's own work makes the system load is listed: each costs start-up time and memory.
inline constexpr const wchar_t* system_libraries_loaded_by_bare_name[] = {L"msimg32.dll"};

// The library loading of a program that may run elevated from a folder anyone can write: the
// search restricted (restrict_library_search), then every library of
// system_libraries_loaded_by_bare_name loaded from the system folder, so that a later load by
// bare name finds it already loaded. Construct it first thing in the program and keep it while
// the program runs; a library that cannot be loaded is left out (the later load then goes its
// own way, as without this object).
class restricted_library_loading {
public:
    restricted_library_loading() noexcept;
    restricted_library_loading(const restricted_library_loading&) = delete;
    restricted_library_loading& operator=(const restricted_library_loading&) = delete;

private:
    std::array<unique_hmodule, std::size(system_libraries_loaded_by_bare_name)> libraries_;
};

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
