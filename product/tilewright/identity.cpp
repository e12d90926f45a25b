#include "product/tilewright/identity.hpp"

#include <windows.h>

#include <fmt/xchar.h>

#include <vector>

namespace tilewright {

std::wstring own_path()
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

std::wstring own_version_string(const wchar_t* name)
{
    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(1), RT_VERSION);
    HGLOBAL loaded = resource ? LoadResource(nullptr, resource) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = resource ? SizeofResource(nullptr, resource) : 0;
    if (!data || size == 0)
        return {};
    // VerQueryValueW wants a writable copy of the block.
    std::vector<unsigned char> block(static_cast<const unsigned char*>(data), static_cast<const unsigned char*>(data) + size);
    const WORD* translations = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(const_cast<WORD**>(&translations)),
                        &length))
        return {};
    for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2) {
        if (translations[i + 1] != 1200)
            continue;
        const std::wstring sub = fmt::format(L"\\StringFileInfo\\{:04x}{:04x}\\{}", translations[i], translations[i + 1], name);
        wchar_t* value = nullptr;
        UINT chars = 0;
        if (VerQueryValueW(block.data(), sub.c_str(), reinterpret_cast<void**>(&value), &chars) && value && chars > 0) {
            std::wstring text(value, chars);
            while (!text.empty() && text.back() == L'\0')
                text.pop_back();
            return text;
        }
        return {};
    }
    return {};
}

std::wstring application_id()
{
    std::wstring id = own_version_string(L"ApplicationId");
    if (id.empty())
        id = own_version_string(L"ProductName");
    if (id.empty()) {
        id = own_path();
        const auto slash = id.find_last_of(L"\\/");
        if (slash != std::wstring::npos)
            id.erase(0, slash + 1);
        const auto dot = id.find_last_of(L'.');
        if (dot != std::wstring::npos)
            id.erase(dot);
    }
    return id;
}

} // namespace tilewright
