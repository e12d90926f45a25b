// The folder browser: the suffix kept on the folder, the check of a typed folder with its
// error box, and the shell's real folder dialog driven from a second thread, alone and from
// the options page's Browse button.

#include "pages/dlg_options.hpp"
#include "pages/folder_browser.hpp"

#include "app/message_box.hpp"
#include "engine/known_folders.hpp"
#include "pages/product.hpp"
#include "resources/resource_ids.h"
#include "tests/pages/page_testing.hpp"
#include "tests/scratch.hpp"

#include <commctrl.h>
#include <knownfolders.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace setup;
using namespace std::chrono_literals;
using page_testing::page_test;
using page_testing::unique_window;

std::wstring documents()
{
    std::wstring path;
    lookup_known_folder(FOLDERID_Documents, path);
    return path;
}

// A path of exactly `length` characters that ends with `tail`: "C:\" and a filler folder name.
std::wstring path_of_length(std::size_t length, const std::wstring& tail)
{
    const std::wstring head = L"C:\\";
    return head + std::wstring(length - head.size() - tail.size(), L'p') + tail;
}

// ---------------------------------------------------------------------------------------------
// The suffix

TEST(folder_suffix, depth_counts_the_suffix_components_the_folder_ends_with)
{
    const struct {
        std::wstring path;
        std::wstring suffix;
        unsigned depth;
    } cases[] = {
        {L"D:\\Apps\\Tilewright", L"Tilewright", 1},
        {L"D:\\Apps\\tilewright", L"Tilewright", 1},
        {L"D:\\Apps\\Tilewright\\", L"Tilewright\\", 1},
        {L"D:\\Apps", L"Tilewright", 0},
        {L"D:\\Tilewright\\Apps", L"Tilewright", 0},
        {L"E:\\", L"Tilewright", 0},
        // Nothing before the suffix.
        {L"Tilewright", L"Tilewright", 0},
        {L"Works\\Tilewright", L"Works\\Tilewright", 0},
        {L"C:\\X\\Works\\Tilewright", L"Works\\Tilewright", 2},
        {L"C:\\X\\works\\TILEWRIGHT", L"Works\\Tilewright", 2},
        {L"C:\\X\\Works", L"Works\\Tilewright", 0},
        {L"C:\\X\\Other\\Tilewright", L"Works\\Tilewright", 0},
        {L"C:\\X\\Works", L"Works", 1},
        {L"D:\\Apps", L"", 0},
        // Paths must fit a buffer of MAX_PATH characters with their terminating null.
        {path_of_length(259, L"\\Tilewright"), L"Tilewright", 1},
        {path_of_length(260, L"\\Tilewright"), L"Tilewright", 0},
        {path_of_length(261, L"\\Tilewright"), L"Tilewright", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(folder_browser::suffix_depth(c.path, c.suffix), c.depth)
            << testing::PrintToString(c.path) << " " << testing::PrintToString(c.suffix);
}

TEST(folder_suffix, the_start_folder_gets_the_part_of_the_suffix_it_lacks)
{
    const std::wstring documents_folder = documents();
    ASSERT_FALSE(documents_folder.empty());
    const struct {
        std::wstring start;
        std::wstring suffix;
        std::wstring folder;
        std::wstring stripped;
        std::wstring suffix_taken;
    } cases[] = {
        {L"D:\\Apps", L"Tilewright", L"D:\\Apps\\Tilewright", L"D:\\Apps", L"Tilewright"},
        {L"D:\\Apps\\tilewright", L"Tilewright", L"D:\\Apps\\tilewright", L"D:\\Apps", L"Tilewright"},
        {L"E:\\", L"Tilewright", L"E:\\Tilewright", L"E:\\", L"Tilewright"},
        {L"E:", L"Tilewright", L"E:\\Tilewright", L"E:\\", L"Tilewright"},
        {L"C:\\X\\Works", L"Works\\Tilewright", L"C:\\X\\Works\\Tilewright", L"C:\\X", L"Works\\Tilewright"},
        {L"C:\\X", L"Works\\Tilewright", L"C:\\X\\Works\\Tilewright", L"C:\\X", L"Works\\Tilewright"},
        {L"C:\\X\\Works\\Tilewright", L"Works\\Tilewright", L"C:\\X\\Works\\Tilewright", L"C:\\X",
         L"Works\\Tilewright"},
        // Trailing dots of the suffix go.
        {L"D:\\Apps", L"Tilewright..", L"D:\\Apps\\Tilewright", L"D:\\Apps", L"Tilewright"},
        // A suffix with a wildcard or a character invalid in a path is not taken.
        {L"D:\\Apps", L"Tile*wright", L"D:\\Apps", L"D:\\Apps", L""},
        {L"D:\\Apps", L"Tilewright?", L"D:\\Apps", L"D:\\Apps", L""},
        {L"D:\\Apps", L"Tile|wright", L"D:\\Apps", L"D:\\Apps", L""},
        {L"D:\\Apps", L"", L"D:\\Apps", L"D:\\Apps", L""},
        // A relative or empty start opens at Documents.
        {L"", L"Tilewright", documents_folder + L"\\Tilewright", documents_folder, L"Tilewright"},
        {L"Apps\\Mine", L"Tilewright", documents_folder + L"\\Tilewright", documents_folder, L"Tilewright"},
        {L"", L"", documents_folder, documents_folder, L""},
        // With the suffix the folder must still fit MAX_PATH characters with its null: 259 do.
        {path_of_length(248, L""), L"Tilewright", path_of_length(248, L"") + L"\\Tilewright", path_of_length(248, L""),
         L"Tilewright"},
        {path_of_length(249, L""), L"Tilewright", path_of_length(249, L""), path_of_length(249, L""), L"Tilewright"},
        {path_of_length(250, L""), L"Tilewright", path_of_length(250, L""), path_of_length(250, L""), L"Tilewright"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.start) + " " + testing::PrintToString(c.suffix));
        folder_browser browser;
        browser.set_start(c.start, c.suffix);
        EXPECT_EQ(browser.folder(), c.folder);
        EXPECT_EQ(browser.suffix(), c.suffix_taken);
        EXPECT_EQ(browser.strip_suffix(), c.stripped);
        // Applying again changes nothing.
        browser.apply_suffix();
        EXPECT_EQ(browser.folder(), c.folder);
    }
}

// ---------------------------------------------------------------------------------------------
// A typed folder

class typed_folder_check : public ::testing::Test {
protected:
    testing_support::scratch_folder current;
    std::wstring saved_directory = std::filesystem::current_path().wstring();

    void SetUp() override { ASSERT_TRUE(SetCurrentDirectoryW(current.path().c_str())); }
    void TearDown() override { SetCurrentDirectoryW(saved_directory.c_str()); }
};

TEST_F(typed_folder_check, qualifies_the_folder_or_gives_the_error)
{
    const std::wstring here = current.path().wstring();
    const struct {
        std::wstring typed;
        std::uint32_t error;
        std::wstring folder;
    } cases[] = {
        {L"C:", 0, L"C:\\"},
        {L"C:\\", 0, L"C:\\"},
        {L"  C:\\Missing\\Folder\\  ", 0, L"C:\\Missing\\Folder"},
        {L"", 0, here},
        {L"   ", 0, here},
        {L"sub", 0, here + L"\\sub"},
        {L"C:\\a*b", ERROR_BAD_PATHNAME, L""},
        {L"C:\\a?b", ERROR_BAD_PATHNAME, L""},
        {L"C:\\a|b", ERROR_BAD_PATHNAME, L""},
        {L"C:\\a\"b", ERROR_BAD_PATHNAME, L""},
        {path_of_length(259, L""), 0, path_of_length(259, L"")},
        {path_of_length(260, L""), folder_too_long, L""},
        {path_of_length(261, L""), folder_too_long, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.typed));
        std::wstring qualified = L"untouched";
        EXPECT_EQ(folder_browser::qualify_typed_folder(c.typed, qualified), c.error);
        EXPECT_EQ(qualified, c.error ? L"untouched" : c.folder);
    }
}

TEST_F(typed_folder_check, a_refused_folder_is_reported_in_a_box_of_the_dialog)
{
    testing_support::test_window dialog;
    const LANGID language = LANGIDFROMLCID(current_language().lcid);
    const struct {
        std::wstring typed;
        std::uint32_t error;
    } cases[] = {
        {L"C:\\a*b", ERROR_BAD_PATHNAME},
        {path_of_length(300, L""), folder_too_long},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        folder_browser browser;
        browser.set_start(L"D:\\Apps", L"Tilewright");
        auto boxes = testing_support::answer_own_boxes({IDOK});
        EXPECT_FALSE(browser.validate_typed_folder(dialog.get(), c.typed));
        const auto shown = boxes.get();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].owner, dialog.get());
        EXPECT_EQ(shown[0].text, system_error_text(c.error, language));
        EXPECT_EQ(shown[0].icon, testing_support::box_icon::warning);
        EXPECT_EQ(browser.folder(), L"D:\\Apps\\Tilewright");
    }
}

TEST_F(typed_folder_check, an_accepted_folder_is_the_result_without_the_suffix)
{
    testing_support::test_window dialog;
    folder_browser browser;
    browser.set_start(L"D:\\Apps", L"Tilewright");
    auto boxes = testing_support::answer_own_boxes({IDOK}, std::nullopt, 1000ms);
    EXPECT_TRUE(browser.validate_typed_folder(dialog.get(), L"C:"));
    EXPECT_EQ(browser.folder(), L"C:\\");
    EXPECT_TRUE(browser.validate_typed_folder(dialog.get(), L"C:\\Elsewhere"));
    EXPECT_EQ(browser.folder(), L"C:\\Elsewhere");
    EXPECT_TRUE(boxes.get().empty());
}

// ---------------------------------------------------------------------------------------------
// The shell's folder dialog

// The folder dialog as the second thread sees it.
struct browse_dialog {
    HWND window = nullptr;
    HWND tree = nullptr;
};

// The text of the tree's selected item.
std::wstring selected_text(HWND tree)
{
    wchar_t text[MAX_PATH]{};
    TVITEMW item{};
    item.mask = TVIF_TEXT;
    item.hItem = TreeView_GetSelection(tree);
    item.pszText = text;
    item.cchTextMax = MAX_PATH;
    if (!item.hItem || !TreeView_GetItem(tree, &item))
        return {};
    return text;
}

// This process's visible dialogs, topmost first.
std::vector<HWND> own_dialogs()
{
    return testing_support::find_windows({.class_name = L"#32770", .process_id = GetCurrentProcessId()});
}

// The dialog once its tree shows the start folder `start_name` selected: the tree selects some
// other item first, before the dialog's initialisation has moved the selection to the start.
// The folder dialog is this process's dialog with a tree, whichever other dialog (a page) is
// above it. Where it does not show the start in time, what this process shows is written to the
// error output and its dialogs are cancelled, so that the test fails instead of waiting for ever
// in the dialog.
std::optional<browse_dialog> wait_for_browse_dialog(const std::wstring& start_name)
{
    browse_dialog found;
    const bool shown = testing_support::wait_until(
        [&] {
            found = {};
            for (HWND dialog : own_dialogs())
                for (HWND child : testing_support::child_windows(dialog))
                    if (testing_support::window_class(child) == WC_TREEVIEWW)
                        found = {dialog, child};
            return found.tree != nullptr && selected_text(found.tree) == start_name;
        },
        30s);
    if (shown)
        return found;
    std::fwprintf(stderr, L"no folder dialog showing \"%ls\" selected; this process's dialogs:\n", start_name.c_str());
    for (HWND dialog : own_dialogs()) {
        std::wstring tree_selection = L"(no tree)";
        for (HWND child : testing_support::child_windows(dialog))
            if (testing_support::window_class(child) == WC_TREEVIEWW)
                tree_selection = L"tree selection \"" + selected_text(child) + L"\"";
        std::fwprintf(stderr, L"  \"%ls\": %ls\n", testing_support::window_text(dialog).c_str(), tree_selection.c_str());
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    }
    std::fflush(stderr);
    return std::nullopt;
}

// Selects the parent of the tree's selection, as a click on it would; the dialog's callback
// has run when this returns.
bool select_parent(const browse_dialog& dialog)
{
    HTREEITEM parent = TreeView_GetParent(dialog.tree, TreeView_GetSelection(dialog.tree));
    return parent && TreeView_SelectItem(dialog.tree, parent);
}

// What the second thread saw while the dialog ran.
struct seen_in_dialog {
    bool found = false;
    std::wstring folder_at_start;
    std::wstring edit_at_start;
    bool edit_shown = false;
    bool selected = false;
    std::wstring folder_after_selection;
    std::wstring edit_after_selection;
};

// Drives the dialog from a second thread: once it shows the start folder (named `start_name`),
// notes the state, selects the parent of the start folder, notes the state again, then presses
// `button`.
std::future<seen_in_dialog> drive_dialog(const folder_browser* browser, int button, std::wstring start_name)
{
    return std::async(std::launch::async, [browser, button, start_name] {
        seen_in_dialog seen;
        const auto dialog = wait_for_browse_dialog(start_name);
        if (!dialog)
            return seen;
        seen.found = true;
        // The callback runs on the dialog's thread while this one waits for the sent messages.
        auto edit_text = [&] {
            HWND edit = browser ? browser->edit_window() : nullptr;
            return edit ? testing_support::window_text(edit) : std::wstring();
        };
        if (browser) {
            seen.folder_at_start = browser->folder();
            seen.edit_shown = browser->edit_window() != nullptr;
            seen.edit_at_start = edit_text();
        }
        seen.selected = select_parent(*dialog);
        if (browser) {
            seen.folder_after_selection = browser->folder();
            seen.edit_after_selection = edit_text();
        }
        testing_support::click(dialog->window, button);
        testing_support::wait_for_window_closed(dialog->window);
        return seen;
    });
}

class folder_dialog : public page_test {
protected:
    testing_support::scratch_folder scratch;
    std::wstring picked = scratch / L"Apps";
    std::wstring start_name = L"Mine";
    std::wstring start = picked + L"\\" + start_name;

    void SetUp() override
    {
        page_test::SetUp();
        std::filesystem::create_directories(start);
    }
};

TEST_F(folder_dialog, opens_at_the_start_and_keeps_the_suffix_on_the_selection)
{
    folder_browser browser;
    std::wstring in_out = start;
    auto driver = drive_dialog(&browser, IDCANCEL, start_name);
    const std::wstring result = browser.browse(in_out, L"Tilewright", L"Pick a folder");
    const seen_in_dialog seen = driver.get();

    ASSERT_TRUE(seen.found) << "no folder dialog with a selection appeared";
    EXPECT_EQ(seen.folder_at_start, start + L"\\Tilewright");
    ASSERT_TRUE(seen.selected);
    EXPECT_EQ(seen.folder_after_selection, picked + L"\\Tilewright");
    // Cancel: no result, the start as it was.
    EXPECT_EQ(result, L"");
    EXPECT_EQ(in_out, start);
}

TEST_F(folder_dialog, its_edit_box_shows_the_folder_with_the_suffix)
{
    folder_browser browser;
    std::wstring in_out = start;
    auto driver = drive_dialog(&browser, IDCANCEL, start_name);
    browser.browse(in_out, L"Tilewright", L"Pick a folder");
    const seen_in_dialog seen = driver.get();
    ASSERT_TRUE(seen.found);
    if (!seen.edit_shown)
        GTEST_SKIP() << "this platform's folder dialog shows no edit box";
    EXPECT_EQ(seen.edit_at_start, start + L"\\Tilewright");
    EXPECT_EQ(seen.edit_after_selection, picked + L"\\Tilewright");
}

TEST_F(folder_dialog, cancel_on_the_options_page_leaves_the_folder)
{
    context.install_folder = start;
    dlg_options page{context};
    unique_window window = create_page(page, IDD_OPTIONS);
    ASSERT_TRUE(window);
    auto driver = drive_dialog(nullptr, IDCANCEL, start_name);
    SendMessageW(window.get(), WM_COMMAND, MAKEWPARAM(IDC_BROWSE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window.get(), IDC_BROWSE)));
    const seen_in_dialog seen = driver.get();
    ASSERT_TRUE(seen.found);
    EXPECT_TRUE(seen.selected);
    EXPECT_EQ(context.install_folder, start);
    EXPECT_EQ(testing_support::control_text(window.get(), IDC_FOLDER_EDIT), start);
}

TEST_F(folder_dialog, ok_on_the_options_page_takes_the_chosen_folder)
{
    context.install_folder = start;
    dlg_options page{context};
    unique_window window = create_page(page, IDD_OPTIONS);
    ASSERT_TRUE(window);
    auto driver = drive_dialog(nullptr, IDOK, start_name);
    SendMessageW(window.get(), WM_COMMAND, MAKEWPARAM(IDC_BROWSE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window.get(), IDC_BROWSE)));
    const seen_in_dialog seen = driver.get();
    ASSERT_TRUE(seen.found);
    ASSERT_TRUE(seen.selected);
    EXPECT_NE(context.install_folder, start);
    EXPECT_EQ(testing_support::control_text(window.get(), IDC_FOLDER_EDIT), context.install_folder);
    if (context.install_folder == picked)
        GTEST_SKIP() << "this platform's folder dialog returns the tree's selection and ignores its edit box, "
                        "which holds the folder with the suffix";
    EXPECT_EQ(context.install_folder, picked + L"\\" + product_key_name());
}

} // namespace
