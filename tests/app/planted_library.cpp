// A library that records every process that loads it: on attaching it creates the file
// "<its own file name>.loaded" in the folder that the environment variable MW_PLANTED_MARKERS
// names (nothing without the variable). The planting tests copy it beside programs under the
// names of the libraries those programs load: a marker shows that a program took one from its
// own folder.

#include "support/unique_handle.hpp"

#include <windows.h>

#include <string>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    try {
        wchar_t folder[MAX_PATH];
        const DWORD folder_length = GetEnvironmentVariableW(L"MW_PLANTED_MARKERS", folder, MAX_PATH);
        wchar_t module[MAX_PATH];
        const DWORD module_length = GetModuleFileNameW(instance, module, MAX_PATH);
        if (folder_length == 0 || folder_length >= MAX_PATH || module_length == 0 || module_length >= MAX_PATH)
            return TRUE;
        const std::wstring path{module, module_length};
        const std::wstring marker =
            std::wstring{folder, folder_length} + L'\\' + path.substr(path.find_last_of(L"\\/") + 1) + L".loaded";
        const mw::unique_hfile created{CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                   FILE_ATTRIBUTE_NORMAL, nullptr)};
    } catch (...) {
        // Out of memory: no marker; the library loads all the same.
    }
    return TRUE;
}

// Exported as GetFileVersionInfoSizeW, the one function that the planting control program
// imports from version.dll: "no version information".
extern "C" DWORD WINAPI planted_version_info_size(const wchar_t*, DWORD* handle)
{
    if (handle)
        *handle = 0;
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
}
