// The planting tests' control program: loads version.dll through its import table and
// bcrypt.dll by bare name at run time, as a program does that takes no care where its libraries
// come from. Started from a folder that holds libraries of those names, it runs with them
// wherever the system prefers the program's folder.
//
//     planting_control.exe [/restricted] [/box]
//
// /restricted: restricts the library search to the system folder first thing, as the product's
// programs do. /box: shows a message box before ending (answered by the test), so that the
// system's window libraries load whatever they load for a dialog. Exit code 0.

#include "support/system_library.hpp"

#include <windows.h>
#include <shellapi.h>

#include <string_view>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    bool restricted = false;
    bool box = false;
    int count = 0;
    if (const mw::unique_hlocal_ptr<wchar_t*> arguments{CommandLineToArgvW(GetCommandLineW(), &count)}) {
        for (int i = 1; i < count; ++i) {
            restricted = restricted || std::wstring_view{arguments.get()[i]} == L"/restricted";
            box = box || std::wstring_view{arguments.get()[i]} == L"/box";
        }
    }
    if (restricted)
        mw::restrict_library_search();
    DWORD handle = 0;
    GetFileVersionInfoSizeW(L"kernel32.dll", &handle);
    const mw::unique_hmodule loaded{LoadLibraryW(L"bcrypt.dll")};
    if (box)
        MessageBoxW(nullptr, L"planting control", L"planting control", MB_OK);
    return 0;
}
