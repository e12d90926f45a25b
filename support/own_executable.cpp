#include "support/own_executable.hpp"

#include <windows.h>

namespace mw {

std::wstring own_executable_path()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring own_executable_name()
{
    std::wstring name = own_executable_path();
    const auto slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos)
        name.erase(0, slash + 1);
    const auto dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot != 0)
        name.erase(dot);
    return name;
}

} // namespace mw
