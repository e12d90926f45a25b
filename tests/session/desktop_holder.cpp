// Keeps Wine's desktop open for a whole test session. Wine's desktop process ends a few
// seconds after the last program using the desktop has ended; the next program that makes a
// window then starts a new desktop process, which inherits that program's output and keeps it
// open while other programs use the desktop, so that ctest waits for a test that has long
// finished. This program uses the desktop (a message-only window, invisible to every window
// enumeration) and waits until the session's Wine server ends it.

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = instance;
    window_class.lpszClassName = L"mw_desktop_holder";
    if (!RegisterClassW(&window_class))
        return 1;
    if (!CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr))
        return 1;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}
