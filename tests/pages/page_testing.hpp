#pragma once
// What the tests of the wizard's pages share: a captioned window of the test standing in for
// the frame, the pages created on it from their real templates, and the chosen language put
// back after each case.

#include "app/app_context.hpp"
#include "app/strings.hpp"
#include "pages/basic_dialog.hpp"
#include "tests/ui_driver/ui_driver.hpp"

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>

namespace page_testing {

struct window_destroyer {
    void operator()(HWND window) const
    {
        if (window)
            DestroyWindow(window);
    }
};
using unique_window = std::unique_ptr<std::remove_pointer_t<HWND>, window_destroyer>;

// Handles whatever this thread's queue holds (the effects of posted clicks).
inline void pump_messages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// A case with a frame window, the application context and the language restored at its end.
class page_test : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_USEREX_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
    }
    void SetUp() override { setup::set_language(setup::english_language); }
    void TearDown() override { setup::set_language(saved_language_); }

    // Creates a page from its template as the frame does, visible, with its texts loaded.
    unique_window create_page(setup::basic_dialog& page, int template_id)
    {
        unique_window window(CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(template_id), frame_.get(),
                                                setup::page_dialog_proc, reinterpret_cast<LPARAM>(&page)));
        EXPECT_TRUE(window) << "template " << template_id << ", error " << GetLastError();
        if (window) {
            page.update_texts();
            ShowWindow(frame_.get(), SW_SHOWNA);
            ShowWindow(window.get(), SW_SHOWNA);
        }
        return window;
    }

    HWND frame() const { return frame_.get(); }

    setup::app_context context{L"mwtest-pages-" + std::to_wstring(GetCurrentProcessId())};

private:
    setup::language_index saved_language_ = setup::current_language().index;
    testing_support::test_window frame_{{.style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, .place = {80, 80, 700, 500}}};
};

} // namespace page_testing
