// The planting tests' control program: loads version.dll through its import table and
// bcrypt.dll by bare name at run time, as a program does that takes no care where its libraries
// come from. Started from a folder that holds libraries of those names, it runs with them
// wherever the system prefers the program's folder.
//
//     planting_control.exe [/restricted] [/at_once]
//
// /restricted: restricts the library search to the system folder first thing, as the product's
// programs do. /at_once: ends right then, before loading anything itself: it has loaded what the
// system loads for any program before the program's first instruction. Exit code 0.

#include "support/system_library.hpp"

#include <windows.h>
#include <shellapi.h>

#include <string_view>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    bool restricted = false;
    bool at_once = false;
    int count = 0;
    if (const mw::unique_hlocal_ptr<wchar_t*> arguments{CommandLineToArgvW(GetCommandLineW(), &count)}) {
        for (int i = 1; i < count; ++i) {
            restricted = restricted || std::wstring_view{arguments.get()[i]} == L"/restricted";
            at_once = at_once || std::wstring_view{arguments.get()[i]} == L"/at_once";
        }
    }
    if (restricted)
        mw::restrict_library_search();
    if (at_once)
        return 0;
    DWORD handle = 0;
    GetFileVersionInfoSizeW(L"kernel32.dll", &handle);
    const mw::unique_hmodule loaded{LoadLibraryW(L"bcrypt.dll")};
    return 0;
}
