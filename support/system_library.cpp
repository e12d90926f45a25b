#include "support/system_library.hpp"

#include <string>

namespace mw {

void restrict_library_search() noexcept
{
    // Looked up, not imported: Windows 7 has it only with its update KB2533623.
    using set_default_dll_directories = BOOL(WINAPI*)(DWORD);
    if (const auto set_default = system_function<set_default_dll_directories>(
            GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories"))
        set_default(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryW(L"");
}

restricted_library_loading::restricted_library_loading() noexcept
{
    restrict_library_search();
    for (std::size_t i = 0; i < libraries_.size(); ++i)
        libraries_[i] = load_system_library(system_libraries_loaded_by_bare_name[i]);
}

unique_hmodule load_system_library(const wchar_t* file_name) noexcept
{
    unique_hmodule module{LoadLibraryExW(file_name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)};
    if (module || GetLastError() != ERROR_INVALID_PARAMETER)
        return module;
    // A system without the search flags (Windows 7 before KB2533623): the full path in the
    // system folder instead.
    try {
        wchar_t folder[MAX_PATH];
        const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return {};
        std::wstring path{folder, length};
        path += L'\\';
        path += file_name;
        return unique_hmodule{LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)};
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return {};
    }
}

} // namespace mw
