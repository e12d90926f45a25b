#include "tests/ui_driver/ui_driver.hpp"

#include "tests/scratch.hpp"
#include "tests/ui_driver/fixture_ids.h"

#include <commctrl.h>
#include <zlib.h>

#include <fmt/xchar.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
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

TEST(processes_of_program, finds_a_running_program_by_its_path_in_any_case_and_not_once_it_ended)
{
    auto has = [](const std::vector<DWORD>& ids, DWORD id) { return std::find(ids.begin(), ids.end(), id) != ids.end(); };
    const std::wstring program = program_beside_tests(L"ui_driver_fixture.exe");
    child_process child(fixture_command(L"sleep"));
    ASSERT_TRUE(wait_until([&] { return has(processes_of_program(program), child.id()); }));
    std::wstring shouted = program;
    std::transform(shouted.begin(), shouted.end(), shouted.begin(), [](wchar_t c) { return static_cast<wchar_t>(towupper(c)); });
    EXPECT_TRUE(has(processes_of_program(shouted), child.id()));
    // Another file of the same name is another program.
    scratch_folder elsewhere;
    EXPECT_FALSE(has(processes_of_program(elsewhere / L"ui_driver_fixture.exe"), child.id()));
    child.terminate();
    EXPECT_FALSE(has(processes_of_program(program), child.id()));
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
    // Every match: the fixture's dialog is its process's only one.
    EXPECT_EQ(find_windows({.class_name = L"#32770", .process_id = app_.id()}), std::vector<HWND>{dialog_});
    EXPECT_EQ(find_windows({.class_name = L"#32770", .process_id = GetCurrentProcessId()}), std::vector<HWND>{});

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

TEST_F(fixture_dialog, check_box_and_radio_buttons_change_as_a_click_changes_them)
{
    HWND option = control(dialog_, IDC_OPTION);
    HWND first = control(dialog_, IDC_RADIO_FIRST);
    HWND second = control(dialog_, IDC_RADIO_SECOND);
    HWND event = control(dialog_, IDC_EVENT);
    EXPECT_FALSE(is_checked(option));
    EXPECT_FALSE(is_checked(first));
    EXPECT_FALSE(is_checked(second));

    struct click_case {
        HWND button;
        bool checked;
        const wchar_t* heard; // what the dialog made of its BN_CLICKED
    };
    const click_case cases[] = {
        {option, true, L"option on"},
        {option, false, L"option off"},
        {second, true, L"second chosen"},
        {first, true, L"first chosen"},
        {option, true, L"option on"},
    };
    for (const auto& c : cases) {
        set_checked(c.button, c.checked);
        EXPECT_TRUE(wait_for_text(event, c.heard)) << c.heard << ", heard: " << window_text(event);
        EXPECT_EQ(is_checked(c.button), c.checked) << c.heard;
    }
    EXPECT_FALSE(is_checked(second)) << "choosing the first radio button clears the second";

    // A button already in the state asked for is not clicked: the option stays on.
    set_checked(option, true);
    set_checked(second, true);
    EXPECT_TRUE(wait_for_text(event, L"second chosen"));
    EXPECT_TRUE(is_checked(option));

    // What a user could not do.
    EXPECT_THROW(set_checked(second, false), std::runtime_error);
    EXPECT_THROW(set_checked(control(dialog_, IDC_LOCKED), true), std::runtime_error);
    EXPECT_THROW(is_checked(control(dialog_, IDC_ASK)), std::runtime_error);
    EXPECT_THROW(set_checked(control(dialog_, IDC_NAME), true), std::runtime_error);
    EXPECT_TRUE(is_checked(second));
    EXPECT_EQ(window_text(event), L"second chosen");
}

TEST_F(fixture_dialog, typed_text_reaches_the_dialog_as_edit_notifications)
{
    HWND name = control(dialog_, IDC_NAME);
    // Each typed character is one EN_UPDATE and one EN_CHANGE; an empty text is one backspace
    // over the selected text. The dialog has heard them when type_text returns.
    int notified = 0;
    for (const std::wstring text : {L"Ada", L"T\u00fcrkis 7", L"x", L""}) {
        type_text(name, text);
        notified += std::max<int>(1, static_cast<int>(text.size()));
        EXPECT_EQ(window_text(name), text);
        EXPECT_EQ(control_text(dialog_, IDC_ECHO), fmt::format(L"{}/{} {}", notified, notified, text));
    }
    // Setting the text is no typing: one change for the whole text.
    set_control_text(dialog_, IDC_NAME, L"set");
    ++notified;
    EXPECT_EQ(control_text(dialog_, IDC_ECHO), fmt::format(L"{}/{} set", notified, notified));
}

TEST_F(fixture_dialog, progress_bar_position_and_range)
{
    HWND progress = control(dialog_, IDC_PROGRESS);
    EXPECT_EQ(progress_bar_range(progress), (progress_range{10, 250}));
    EXPECT_EQ(progress_position(progress), 40);
    click(dialog_, IDC_STEP);
    EXPECT_TRUE(wait_until([&] { return progress_position(progress) == 55; }));
    EXPECT_THROW(progress_position(reinterpret_cast<HWND>(0x1234)), std::system_error);
}

TEST_F(fixture_dialog, waits_for_a_text_to_change)
{
    HWND status = control(dialog_, IDC_STATUS);
    EXPECT_EQ(wait_for_text_change(status, L"", 100ms), std::nullopt);
    EXPECT_FALSE(wait_for_text(status, L"Blue", 100ms));
    select_combo_item(control(dialog_, IDC_COLOURS), 2);
    EXPECT_EQ(wait_for_text_change(status, L""), std::optional<std::wstring>(L"Blue"));
    EXPECT_TRUE(wait_for_text(status, L"Blue", 0ms));
}

TEST_F(fixture_dialog, tab_moves_the_focus_as_a_key_press_does)
{
    // The click on the check box gives it the focus; Tab goes on to the name box. Keyboard
    // focus follows the foreground window, which the windows of tests running side by side
    // compete for: a round whose dialog lost the foreground on the way is tried again.
    HWND option = control(dialog_, IDC_OPTION), name = control(dialog_, IDC_NAME);
    bool clicked_focus = false, tabbed_focus = false;
    for (int round = 0; round < 5 && !tabbed_focus; ++round) {
        SetForegroundWindow(dialog_);
        set_checked(option, round % 2 == 0);
        ASSERT_TRUE(wait_for_text(control(dialog_, IDC_EVENT), round % 2 == 0 ? L"option on" : L"option off"));
        clicked_focus = focused_window(dialog_) == option;
        if (!clicked_focus)
            continue;
        press_key(dialog_, VK_TAB);
        tabbed_focus = wait_for_text(control(dialog_, IDC_EVENT), L"name focused") && focused_window(dialog_) == name;
        if (!tabbed_focus && GetForegroundWindow() == dialog_)
            break; // the dialog kept the foreground and Tab still did not move the focus
    }
    EXPECT_TRUE(clicked_focus) << "the click never left the focus on the check box";
    EXPECT_TRUE(tabbed_focus) << "Tab did not move the focus to the name box";
    EXPECT_TRUE(app_.running());
}

TEST_F(fixture_dialog, resizing_reaches_the_frame)
{
    const RECT before = window_rect(dialog_);
    const int width = before.right - before.left, height = before.bottom - before.top;
    struct size_case {
        int width;
        int height;
    };
    const size_case cases[] = {{width + 80, height + 40}, {width - 20, height - 10}, {width, height}};
    for (const auto& c : cases) {
        resize_window(dialog_, c.width, c.height);
        const RECT now = window_rect(dialog_);
        EXPECT_EQ(now.right - now.left, c.width);
        EXPECT_EQ(now.bottom - now.top, c.height);
        EXPECT_EQ(now.left, before.left) << "the place is kept";
        EXPECT_EQ(now.top, before.top) << "the place is kept";
        const RECT client = client_rect(dialog_);
        EXPECT_EQ(control_text(dialog_, IDC_CLIENT_SIZE), fmt::format(L"client {} x {}", client.right, client.bottom))
            << c.width << " x " << c.height;
    }
}

// Every way to end the dialog from outside, each in a fixture of its own.
TEST(fixture_closing, keys_close_commands_and_their_exit_codes)
{
    struct closing_case {
        const char* what;
        std::function<void(HWND)> act;
        DWORD exit_code;
    };
    const closing_case cases[] = {
        {"Enter presses the default button", [](HWND d) { press_key(d, VK_RETURN); }, 40},
        {"Esc cancels", [](HWND d) { press_key(d, VK_ESCAPE); }, 30},
        {"WM_CLOSE", [](HWND d) { close_window(d); }, 31},
        {"Close in the system menu", [](HWND d) { close_from_system_menu(d); }, 32},
    };
    for (const auto& c : cases) {
        // A title of its own: the window of the case before may outlive its process briefly.
        const std::wstring title = fmt::format(L"{} {}", unique_title(), &c - cases);
        child_process app(fixture_command(L"dialog"), {{L"MW_FIXTURE_TITLE", title}});
        HWND dialog = wait_for_window({.class_name = L"#32770", .title = title, .process_id = app.id()});
        ASSERT_NE(dialog, nullptr) << c.what;
        c.act(dialog);
        EXPECT_EQ(app.wait_for_exit(), std::optional<DWORD>(c.exit_code)) << c.what;
    }
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
        EXPECT_NE(box->icon, box_icon::none);
        EXPECT_EQ(find_message_box(GetCurrentProcessId()), std::nullopt) << "another process's box";
        answer(*box, c.button);
        EXPECT_EQ(app.wait_for_exit(), std::optional<DWORD>(c.exit_code));
    }
}

// Boxes of this process: the icon handles are this process's own shared icons.
TEST(message_box, icon_of_a_box_of_this_process)
{
    struct icon_case {
        UINT style;
        box_icon expected;
    };
    const icon_case cases[] = {
        {MB_ICONERROR, box_icon::error},         {MB_ICONQUESTION, box_icon::question},
        {MB_ICONWARNING, box_icon::warning},     {MB_ICONINFORMATION, box_icon::information},
        {0, box_icon::none},
    };
    for (const auto& c : cases) {
        const std::wstring caption = fmt::format(L"Driver icon test {} {}", GetCurrentProcessId(), c.style);
        auto seen = answer_own_boxes({IDOK}, caption);
        EXPECT_EQ(MessageBoxW(nullptr, L"Which icon?", caption.c_str(), MB_OK | c.style), IDOK);
        const auto shown = seen.get();
        ASSERT_EQ(shown.size(), 1u) << std::hex << c.style;
        EXPECT_EQ(shown[0].icon, c.expected) << std::hex << c.style;
    }
}

TEST(message_box, icon_of_a_box_of_another_process)
{
    child_process app(fixture_command(L"box \"Close the application first.\""));
    const std::optional<message_box> box = wait_for_message_box(app.id());
    ASSERT_TRUE(box);
    const box_icon icon = box->icon;
    answer(*box, IDCANCEL);
    EXPECT_EQ(app.wait_for_exit(), std::optional<DWORD>(IDCANCEL));
    if (icon == box_icon::unknown && running_under_wine())
        GTEST_SKIP() << "under Wine each process loads the shared icons itself: another process's icon "
                        "handle matches none of this process's";
    EXPECT_EQ(icon, box_icon::warning);
}

// ---------------------------------------------------------------------------------------------
// Pictures

// The pixels of a PNG file that save_png wrote (8-bit RGB, one IDAT chunk, filter 0 rows).
image read_png(const std::string& file)
{
    auto number = [&](std::size_t at) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(file.at(at))) << 24 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(file.at(at + 1))) << 16 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(file.at(at + 2))) << 8 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(file.at(at + 3)));
    };
    image picture;
    std::string packed;
    bool ended = false;
    EXPECT_EQ(file.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    for (std::size_t at = 8; at + 12 <= file.size() && !ended;) {
        const std::uint32_t length = number(at);
        const std::string type = file.substr(at + 4, 4);
        const std::string data = file.substr(at + 8, length);
        const auto crc = crc32(0, reinterpret_cast<const Bytef*>(file.data() + at + 4), length + 4);
        EXPECT_EQ(number(at + 8 + length), crc) << type;
        if (type == "IHDR") {
            picture.width = static_cast<int>(number(at + 8));
            picture.height = static_cast<int>(number(at + 12));
            EXPECT_EQ(data.substr(8), std::string("\x08\x02\x00\x00\x00", 5));
        } else if (type == "IDAT") {
            packed += data;
        } else if (type == "IEND") {
            ended = true;
        }
        at += 12 + length;
    }
    EXPECT_TRUE(ended);
    const std::size_t row = static_cast<std::size_t>(picture.width) * 3 + 1;
    std::string rows(row * static_cast<std::size_t>(picture.height), '\0');
    uLongf size = static_cast<uLongf>(rows.size());
    EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(rows.data()), &size, reinterpret_cast<const Bytef*>(packed.data()),
                         static_cast<uLong>(packed.size())),
              Z_OK);
    EXPECT_EQ(size, rows.size());
    for (int y = 0; y < picture.height; ++y) {
        EXPECT_EQ(rows[static_cast<std::size_t>(y) * row], '\0') << "filter of row " << y;
        for (int x = 0; x < picture.width; ++x) {
            const auto* p = reinterpret_cast<const unsigned char*>(rows.data()) + static_cast<std::size_t>(y) * row + 1 +
                            static_cast<std::size_t>(x) * 3;
            picture.pixels.push_back(std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2]);
        }
    }
    return picture;
}

TEST(picture, png_files_hold_the_pixels)
{
    const scratch_folder folder;
    const image cases[] = {
        {1, 1, {0x123456}},
        {3, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x000000, 0x80FF01}},
        {2, 3, {0xA0B0C0, 0xA0B0C0, 0x010203, 0x040506, 0xFEDCBA, 0x987654}},
    };
    for (const auto& c : cases) {
        const std::wstring path = folder / L"picture.png";
        save_png(c, path);
        const image read = read_png(read_bytes(path));
        EXPECT_EQ(read.width, c.width);
        EXPECT_EQ(read.height, c.height);
        EXPECT_EQ(read.pixels, c.pixels) << c.width << " x " << c.height;
    }
    EXPECT_THROW(save_png(image{}, folder / L"empty.png"), std::runtime_error);
    EXPECT_THROW(save_png(image{2, 2, {1, 2, 3}}, folder / L"short.png"), std::runtime_error);
    EXPECT_THROW(save_png(cases[0], folder / L"no such folder\\picture.png"), std::runtime_error);
}

TEST(picture, a_window_of_this_process_is_captured)
{
    const test_window frame({.style = WS_OVERLAPPEDWINDOW | WS_VISIBLE, .place = {50, 50, 350, 250}});
    UpdateWindow(frame.get());
    const image picture = capture_window(frame.get());
    if (picture.pixels.empty())
        GTEST_SKIP() << "this display driver drew nothing of the window into memory";
    EXPECT_EQ(picture.width, 300);
    EXPECT_EQ(picture.height, 200);
    // The middle of the client area shows the class's background, the window colour.
    RECT client = client_rect(frame.get());
    POINT middle{client.right / 2, client.bottom / 2};
    ClientToScreen(frame.get(), &middle);
    const COLORREF colour = GetSysColor(COLOR_WINDOW);
    const std::uint32_t expected = std::uint32_t{GetRValue(colour)} << 16 | std::uint32_t{GetGValue(colour)} << 8 | GetBValue(colour);
    EXPECT_EQ(picture.pixels[static_cast<std::size_t>(middle.y - 50) * 300 + static_cast<std::size_t>(middle.x - 50)],
              expected);
}

TEST_F(fixture_dialog, its_picture_is_saved_as_png)
{
    const image picture = capture_window(dialog_);
    if (picture.pixels.empty() && running_under_wine())
        GTEST_SKIP() << "Wine draws another process's window only on a screen, and its null graphics driver has "
                        "none (run with MW_WINE_DISPLAY=1 under an X server to capture it)";
    const RECT r = window_rect(dialog_);
    EXPECT_EQ(picture.width, r.right - r.left);
    EXPECT_EQ(picture.height, r.bottom - r.top);
    // Most of a dialog is its face colour.
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const std::uint32_t expected = std::uint32_t{GetRValue(face)} << 16 | std::uint32_t{GetGValue(face)} << 8 | GetBValue(face);
    EXPECT_GT(std::count(picture.pixels.begin(), picture.pixels.end(), expected), std::ssize(picture.pixels) / 2);
    const scratch_folder folder;
    save_png(picture, folder / L"dialog.png");
    EXPECT_EQ(read_png(read_bytes(folder.path() / L"dialog.png")).pixels, picture.pixels);
}

} // namespace
