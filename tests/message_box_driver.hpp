#pragma once
// Finds a message box that this test process shows, reads it and presses one of its buttons,
// from a second thread while the test's thread runs the box.

#include <windows.h>

#include <chrono>
#include <future>
#include <string>
#include <string_view>
#include <thread>

namespace testing_support {

// What was seen of one message box.
struct seen_box {
    bool found = false;
    HWND owner = nullptr;
    std::wstring caption;
    std::wstring text; // the static with id 0xFFFF
};

inline std::wstring window_text(HWND window)
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

struct box_search {
    const std::wstring* caption;
    HWND found;
};

inline BOOL CALLBACK match_box(HWND window, LPARAM data) noexcept
{
    auto& s = *reinterpret_cast<box_search*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t class_name[16] = {};
    GetClassNameW(window, class_name, 16);
    if (process != GetCurrentProcessId() || std::wstring_view(class_name) != L"#32770" || !IsWindowVisible(window))
        return TRUE;
    try {
        if (window_text(window) == *s.caption) {
            s.found = window;
            return FALSE;
        }
    } catch (...) {
    }
    return TRUE;
}

// A visible dialog-class window of this process with the given caption.
inline HWND find_box(const std::wstring& caption)
{
    box_search s{&caption, nullptr};
    EnumWindows(match_box, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// Waits (up to 10 s) for the box captioned `caption`, records it and presses `button`.
inline std::future<seen_box> answer_box(std::wstring caption, int button)
{
    return std::async(std::launch::async, [caption = std::move(caption), button] {
        seen_box seen;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        HWND box = nullptr;
        while (!(box = find_box(caption)) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!box)
            return seen;
        seen.found = true;
        seen.owner = GetWindow(box, GW_OWNER);
        seen.caption = window_text(box);
        seen.text = window_text(GetDlgItem(box, 0xFFFF));
        PostMessageW(GetDlgItem(box, button), BM_CLICK, 0, 0);
        return seen;
    });
}

} // namespace testing_support
