#include "tests/ui_driver/ui_driver.hpp"

#include "tests/ui_driver/fixture_ids.h"

#include <fmt/xchar.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <system_error>

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

std::wstring fixture_command(const std::wstring& arguments)
{
    return L"\"" + program_beside_tests(L"ui_driver_fixture.exe") + L"\" " + arguments;
}

// A title no other test's fixture uses, so that searches without a process id stay unambiguous
// while tests run side by side.
std::wstring unique_title() { return fmt::format(L"UI driver fixture {}", GetCurrentProcessId()); }

TEST(child_process, reports_the_exit_code_as_unsigned)
{
    struct exit_case {
        const wchar_t* code;
        DWORD expected;
    };
    const exit_case cases[] = {{L"0", 0}, {L"3", 3}, {L"-10", 0xFFFFFFF6u}};
    for (const auto& c : cases) {
        child_process child(fixture_command(fmt::format(L"exit {}", c.code)));
        EXPECT_NE(child.id(), 0u);
        EXPECT_EQ(child.wait_for_exit(), std::optional<DWORD>(c.expected)) << c.expected;
        EXPECT_FALSE(child.running());
    }
}

TEST(child_process, passes_the_environment_with_the_changes)
{
    ASSERT_TRUE(SetEnvironmentVariableW(L"MW_DRIVER_INHERITED", L"from the test"));
    struct environment_case {
        std::vector<environment_change> changes;
        std::wstring arguments;
        DWORD expected;
    };
    const environment_case cases[] = {
        {{}, L"env MW_DRIVER_INHERITED \"from the test\"", 0},
        {{{L"MW_DRIVER_SET", L"a=b c"}}, L"env MW_DRIVER_SET \"a=b c\"", 0},
        {{{L"MW_DRIVER_EMPTY", L""}}, L"env MW_DRIVER_EMPTY \"\"", 0},
        {{{L"mw_driver_inherited", L"changed"}}, L"env MW_DRIVER_INHERITED changed", 0}, // replaced, not doubled
        {{{L"MW_DRIVER_INHERITED", std::nullopt}}, L"env MW_DRIVER_INHERITED", 2},
        {{{L"MW_DRIVER_SET", std::nullopt}}, L"env MW_DRIVER_SET", 2},
    };
    for (const auto& c : cases) {
        child_process child(fixture_command(c.arguments), c.changes);
        EXPECT_EQ(child.wait_for_exit(), std::optional<DWORD>(c.expected)) << c.arguments;
    }
    SetEnvironmentVariableW(L"MW_DRIVER_INHERITED", nullptr);
}

TEST(child_process, wait_times_out_and_the_owner_ends_a_running_process)
{
    HANDLE observer = nullptr;
    {
        child_process child(fixture_command(L"sleep"));
        EXPECT_EQ(child.wait_for_exit(100ms), std::nullopt);
        EXPECT_TRUE(child.running());
        observer = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, child.id());
        ASSERT_NE(observer, nullptr);

        child_process moved(std::move(child)); // the moved-from object owns nothing
        EXPECT_EQ(child.handle(), nullptr);
        EXPECT_TRUE(moved.running());
    }
    EXPECT_EQ(WaitForSingleObject(observer, 0), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(observer, &code);
    EXPECT_EQ(code, child_process::terminated_exit_code);
    CloseHandle(observer);
}

TEST(child_process, a_missing_program_raises_the_system_error)
{
    try {
        child_process child(L"\"" + program_beside_tests(L"no_such_program.exe") + L"\"");
        ADD_FAILURE() << "started";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::error_code(ERROR_FILE_NOT_FOUND, std::system_category())) << e.what();
    }
}

TEST(find_window, nothing_matches_a_title_no_window_has)
{
    EXPECT_EQ(find_window({.class_name = L"#32770", .title = L"No window has this title"}), nullptr);
    EXPECT_EQ(wait_for_window({.title = L"No window has this title"}, 100ms), nullptr);
    EXPECT_EQ(find_message_box(GetCurrentProcessId()), std::nullopt);
}

// The fixture dialog, started and found.
class fixture_dialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        dialog_ = wait_for_window({.class_name = L"#32770", .title = title_, .process_id = app_.id()});
        ASSERT_NE(dialog_, nullptr) << "the fixture dialog did not appear";
    }

    std::wstring title_ = unique_title();
    child_process app_{fixture_command(L"dialog \"Keep this colour?\""), {{L"MW_FIXTURE_TITLE", title_}}};
    HWND dialog_ = nullptr;
};

TEST_F(fixture_dialog, is_found_by_class_title_and_process)
{
    EXPECT_EQ(window_process(dialog_), app_.id());
    EXPECT_EQ(window_text(dialog_), title_);
    EXPECT_EQ(find_window({.title = title_}), dialog_);
    EXPECT_EQ(find_window({.class_name = L"#32770", .title = title_, .process_id = GetCurrentProcessId()}), nullptr);
    EXPECT_EQ(find_window({.class_name = L"Edit", .title = title_}), nullptr);
    EXPECT_EQ(find_window({.class_name = L"#32770", .title = L"UI driver fixture", .process_id = app_.id()}), nullptr)
        << "the whole title must match";

    std::vector<std::wstring> classes;
    for (HWND child : child_windows(dialog_))
        classes.push_back(window_class(child));
    for (const wchar_t* expected : {L"Edit", L"Button", L"Static", L"ComboBoxEx32", L"ComboBox"})
        EXPECT_NE(std::find(classes.begin(), classes.end(), expected), classes.end()) << expected;
}

TEST_F(fixture_dialog, reads_and_changes_control_texts)
{
    EXPECT_EQ(control_text(dialog_, IDC_QUESTION), L"Keep this colour?");
    EXPECT_EQ(control_text(dialog_, IDC_ASK), L"&Ask");
    EXPECT_EQ(control_text(dialog_, IDC_STATUS), L"");
    EXPECT_TRUE(is_enabled(control(dialog_, IDC_ASK)));
    EXPECT_TRUE(is_visible(control(dialog_, IDC_ASK)));

    const std::wstring long_text(600, L'x');
    set_control_text(dialog_, IDC_QUESTION, long_text);
    EXPECT_EQ(control_text(dialog_, IDC_QUESTION), long_text);
    set_control_text(dialog_, IDC_QUESTION, L"");
    EXPECT_EQ(control_text(dialog_, IDC_QUESTION), L"");

    // A control on a page (a child dialog); of two with the same id the visible one.
    EXPECT_EQ(GetDlgItem(dialog_, IDC_PAGE_TEXT), nullptr);
    HWND page_text = find_control(dialog_, IDC_PAGE_TEXT);
    ASSERT_NE(page_text, nullptr);
    EXPECT_EQ(window_text(page_text), L"First page");
    EXPECT_EQ(find_control(dialog_, 4242), nullptr);

    EXPECT_THROW(control(dialog_, 4242), std::runtime_error);
    EXPECT_THROW(control_text(dialog_, 4242), std::runtime_error);
}

TEST_F(fixture_dialog, reads_and_selects_combo_box_ex_items)
{
    HWND colours = control(dialog_, IDC_COLOURS);
    EXPECT_EQ(window_class(colours), L"ComboBoxEx32");
    EXPECT_EQ(combo_count(colours), 4);
    EXPECT_EQ(combo_items(colours), (std::vector<std::wstring>{L"Red", L"Green", L"Blue", L"T\u00fcrkis"}));
    EXPECT_EQ(combo_selection(colours), 0);

    // The parent hears of the choice: the status line names the colour.
    select_combo_item(colours, 3);
    EXPECT_TRUE(wait_until([&] { return control_text(dialog_, IDC_STATUS) == L"T\u00fcrkis"; }));
    EXPECT_EQ(combo_selection(colours), 3);
    select_combo_item(colours, 1);
    EXPECT_TRUE(wait_until([&] { return control_text(dialog_, IDC_STATUS) == L"Green"; }));

    EXPECT_THROW(combo_item_text(colours, 4), std::runtime_error);
    EXPECT_THROW(select_combo_item(colours, 4), std::runtime_error);
    EXPECT_THROW(select_combo_item(colours, -1), std::runtime_error);
    EXPECT_EQ(combo_selection(colours), 1);
}

TEST_F(fixture_dialog, message_box_is_read_answered_and_decides_the_exit_code)
{
    struct answer_case {
        int button;
        DWORD exit_base;
    };
    EXPECT_EQ(find_message_box(app_.id()), std::nullopt) << "a dialog with an edit box is no message box";
    select_combo_item(control(dialog_, IDC_COLOURS), 2);
    ASSERT_TRUE(wait_until([&] { return control_text(dialog_, IDC_STATUS) == L"Blue"; }));

    // Cancel keeps the dialog open.
    click(dialog_, IDC_ASK);
    std::optional<message_box> box = wait_for_message_box(app_.id());
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text, L"Keep this colour?");
    EXPECT_EQ(box->caption, L"Fixture question");
    EXPECT_EQ(box->owner, dialog_);
    EXPECT_EQ(box->buttons, (std::vector<int>{IDYES, IDNO, IDCANCEL}));
    EXPECT_THROW(answer(*box, IDOK), std::runtime_error);
    answer(*box, IDCANCEL);
    EXPECT_TRUE(wait_for_window_closed(box->window));
    EXPECT_TRUE(wait_until([&] { return control_text(dialog_, IDC_STATUS) == L"Cancelled"; }));
    EXPECT_TRUE(app_.running());

    // Yes ends the dialog with 10 + the chosen colour.
    set_control_text(dialog_, IDC_QUESTION, L"Really blue?");
    click(dialog_, IDC_ASK);
    box = wait_for_message_box(app_.id());
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text, L"Really blue?");
    answer(*box, IDYES);
    EXPECT_EQ(app_.wait_for_exit(), std::optional<DWORD>(12));
    EXPECT_FALSE(IsWindow(dialog_));
}

TEST_F(fixture_dialog, no_ends_with_its_own_code)
{
    click(dialog_, IDC_ASK);
    const std::optional<message_box> box = wait_for_message_box(app_.id());
    ASSERT_TRUE(box);
    answer(*box, IDNO);
    EXPECT_EQ(app_.wait_for_exit(), std::optional<DWORD>(20));
}

TEST(message_box, without_owner_is_found_by_its_process)
{
    struct box_case {
        int button;
        DWORD exit_code;
    };
    const box_case cases[] = {{IDRETRY, IDRETRY}, {IDCANCEL, IDCANCEL}};
    for (const auto& c : cases) {
        child_process app(fixture_command(L"box \"Close the application first.\""));
        const std::optional<message_box> box = wait_for_message_box(app.id());
        ASSERT_TRUE(box);
        EXPECT_EQ(window_process(box->window), app.id());
        EXPECT_EQ(box->owner, nullptr);
        EXPECT_EQ(box->caption, L"Fixture start-up");
        EXPECT_EQ(box->text, L"Close the application first.");
        EXPECT_EQ(box->buttons, (std::vector<int>{IDRETRY, IDCANCEL}));
        EXPECT_EQ(find_message_box(GetCurrentProcessId()), std::nullopt) << "another process's box";
        answer(*box, c.button);
        EXPECT_EQ(app.wait_for_exit(), std::optional<DWORD>(c.exit_code));
    }
}

} // namespace
