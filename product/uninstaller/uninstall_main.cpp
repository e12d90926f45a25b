// Tilewright's uninstall program, started from the product's uninstall entry.

#include "product/uninstaller/uninstaller.hpp"

#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    std::vector<std::wstring> arguments;
    int count = 0;
    if (wchar_t** list = CommandLineToArgvW(GetCommandLineW(), &count)) {
        arguments.assign(list + (count > 0 ? 1 : 0), list + count);
        LocalFree(list);
    }
    try {
        return uninstaller::run(arguments);
    } catch (...) {
        return uninstaller::failed;
    }
}
