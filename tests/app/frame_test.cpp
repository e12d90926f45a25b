// The wizard's frame in this process, over a context of the test's own: its texts in every
// reading direction, its minimum size and the pages it lays out.

#include "app/dlg_main.hpp"
#include "app/string_table.hpp"
#include "app/strings.hpp"
#include "pages/product.hpp"
#include "resources/resource_ids.h"
#include "tests/ui_driver/ui_driver.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using setup::format_text;
using setup::load_string;
using testing_support::window_text;

// A frame created modeless, destroyed with the object.
struct frame_window {
    setup::app_context context{L"MwFrameTest" + std::to_wstring(GetCurrentProcessId())};
    setup::dlg_main frame{context};
    HWND window = nullptr;

    frame_window()
    {
        window = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), nullptr,
                                    setup::page_dialog_proc, reinterpret_cast<LPARAM>(&frame));
    }
    ~frame_window()
    {
        if (window)
            DestroyWindow(window);
    }
    std::wstring about_entry() const
    {
        wchar_t text[256]{};
        GetMenuStringW(GetSystemMenu(window, FALSE), IDM_ABOUT, text, 256, MF_BYCOMMAND);
        return text;
    }
    int about_entries() const
    {
        HMENU menu = GetSystemMenu(window, FALSE);
        int count = 0;
        for (int index = 0; index < GetMenuItemCount(menu); ++index)
            count += GetMenuItemID(menu, index) == IDM_ABOUT;
        return count;
    }
};

INT_PTR CALLBACK inert_dialog_proc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

class frame : public ::testing::Test {
protected:
    void TearDown() override { setup::set_language(setup::english_language); }
};

TEST_F(frame, the_about_entry_and_the_captions_follow_the_language_and_its_reading_direction)
{
    frame_window f;
    ASSERT_TRUE(f.window);
    struct language_case {
        setup::language_index language;
        bool right_to_left;
    };
    constexpr setup::language_index arabic = 21;
    for (const language_case c : {language_case{setup::english_language, false}, language_case{arabic, true},
                                  language_case{setup::french_language, false}}) {
        setup::set_language(c.language);
        ASSERT_EQ(setup::reads_right_to_left(c.language), c.right_to_left);
        f.frame.update_texts();
        const std::wstring about = format_text(load_string(IDS_ABOUT_TITLE), setup::setup_title());
        EXPECT_EQ(f.about_entry(), c.right_to_left ? L"..." + about : L"&" + about + L"...") << c.language;
        EXPECT_EQ(f.about_entries(), 1) << "the entry is renamed, not added again";
        EXPECT_EQ(window_text(f.window), setup::setup_title(setup::product_title));
        EXPECT_EQ(window_text(GetDlgItem(f.window, IDC_NEXT)), load_string(IDS_NEXT) + L" >");
        EXPECT_EQ(window_text(GetDlgItem(f.window, IDC_BACK)), L"< " + load_string(IDS_BACK));
        EXPECT_EQ(window_text(GetDlgItem(f.window, IDC_EXIT)), load_string(IDS_CANCEL));
    }
}

TEST_F(frame, its_minimum_tracking_size_is_the_size_that_fits_the_largest_page)
{
    frame_window f;
    ASSERT_TRUE(f.window);
    MINMAXINFO info{};
    SendMessageW(f.window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, f.frame.min_width());
    EXPECT_EQ(info.ptMinTrackSize.y, f.frame.min_height());

    // The page area, between the panel and the right edge and above the separator, holds the
    // largest page at its template size.
    RECT client{};
    GetClientRect(f.window, &client);
    RECT panel{}, separator{};
    GetWindowRect(GetDlgItem(f.window, IDC_PANEL), &panel);
    GetWindowRect(GetDlgItem(f.window, IDC_SEPARATOR), &separator);
    MapWindowPoints(HWND_DESKTOP, f.window, reinterpret_cast<POINT*>(&panel), 2);
    MapWindowPoints(HWND_DESKTOP, f.window, reinterpret_cast<POINT*>(&separator), 2);
    // The widest page is the mode page (279 units), the tallest the options page (116 units),
    // measured in the pages' own font.
    for (const auto& [id, width, height] : {std::tuple{IDD_MODE, 279, 82}, std::tuple{IDD_OPTIONS, 278, 116}}) {
        HWND probe = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), f.window,
                                        inert_dialog_proc, 0);
        ASSERT_TRUE(probe);
        RECT units{0, 0, width, height};
        MapDialogRect(probe, &units);
        DestroyWindow(probe);
        EXPECT_GE(client.right - panel.right, units.right) << id;
        EXPECT_GE(separator.top - client.top, units.bottom) << id;
    }
}

} // namespace
