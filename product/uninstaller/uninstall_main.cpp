// Tilewright's uninstall program, started from the product's uninstall entry.

#include "product/uninstaller/uninstaller.hpp"
#include "support/system_library.hpp"
#include "support/unique_handle.hpp"

#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    const mw::restricted_library_loading libraries;
    std::vector<std::wstring> arguments;
    int count = 0;
    if (const mw::unique_hlocal_ptr<wchar_t*> list{CommandLineToArgvW(GetCommandLineW(), &count)})
        arguments.assign(list.get() + (count > 0 ? 1 : 0), list.get() + count);
    try {
        return uninstaller::run(arguments);
    } catch (...) {
        return uninstaller::failed;
    }
}
