// Tilewright's uninstall program. This version only tells the user that removal is not
// available yet; it changes nothing on the machine.

#include "product/uninstaller/uninstall_ids.h"

#include <windows.h>

#include <string>

namespace {

std::wstring text(UINT id)
{
    const wchar_t* data = nullptr;
    const int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&data), 0);
    return length > 0 ? std::wstring(data, static_cast<std::size_t>(length)) : std::wstring{};
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    MessageBoxW(nullptr, text(IDS_NOT_AVAILABLE).c_str(), text(IDS_CAPTION).c_str(), MB_OK | MB_ICONINFORMATION);
    return 1;
}
