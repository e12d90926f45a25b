// The page base: binding through the shared dialog procedure, dispatch and its results, anchored
// layout and the anchor tables of the pages and the frame. Dialogs are built from templates in
// memory holding the controls a case needs.

#include "pages/basic_dialog.hpp"
#include "pages/page_layouts.hpp"

#include "app/message_box.hpp"
#include "app/strings.hpp"
#include "tests/ui_driver/ui_driver.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <system_error>
#include <type_traits>
#include <vector>

// Rectangles compare and print by their edges (found by argument lookup: RECT is global).
bool operator==(const RECT& a, const RECT& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void PrintTo(const RECT& r, std::ostream* out)
{
    *out << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}

namespace setup {
namespace {

// A dialog template in memory: a caption-less resizable pop-up (no font: the system font) and
// static controls, each with an id.
class dialog_template {
public:
    dialog_template(DWORD style, short width, short height)
    {
        put_dword(style);
        put_dword(0);
        count_at_ = words_.size();
        words_.push_back(0);
        put_rect(0, 0, width, height);
        words_.push_back(0); // no menu
        words_.push_back(0); // the dialog class
        words_.push_back(0); // no title
    }

    void add_static(int id, short x, short y, short width, short height)
    {
        while (words_.size() % 2)
            words_.push_back(0);
        put_dword(WS_CHILD | WS_VISIBLE | SS_LEFT);
        put_dword(0);
        put_rect(x, y, width, height);
        words_.push_back(static_cast<WORD>(id));
        words_.push_back(0xFFFF);
        words_.push_back(0x0082); // static
        words_.push_back(0);      // no text
        words_.push_back(0);      // no creation data
        ++words_[count_at_];
    }

    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    void put_dword(DWORD value)
    {
        words_.push_back(LOWORD(value));
        words_.push_back(HIWORD(value));
    }
    void put_rect(short x, short y, short width, short height)
    {
        for (short v : {x, y, width, height})
            words_.push_back(static_cast<WORD>(v));
    }

    std::vector<WORD> words_; // the allocation is aligned for DWORDs
    std::size_t count_at_ = 0;
};

constexpr DWORD resizable_popup = WS_POPUP | WS_CAPTION | WS_THICKFRAME | DS_MODALFRAME;

// A page whose operations record their calls and do what a case asks.
class test_page : public basic_dialog {
public:
    std::span<const anchored_control> table;
    std::vector<int> page_ids; // controls anchored by handle, as the frame anchors its pages
    bool handle_commands = false;
    bool handle_sys_commands = false;
    bool throw_on_command = false;

    std::vector<std::pair<int, int>> commands;
    std::vector<unsigned> sys_commands;
    HWND window_at_init = nullptr;
    SIZE size_at_init{};
    HWND window_at_destroy = nullptr;

    void update_texts() override {}
    void on_init() override
    {
        window_at_init = hwnd();
        size_at_init = {width(), height()};
    }
    void on_destroy() override { window_at_destroy = hwnd(); }
    void on_size(int new_width, int new_height) override
    {
        std::vector<relayout_item> items = resolve_anchors(hwnd(), table);
        for (int id : page_ids)
            items.push_back({frame_page_anchors, GetDlgItem(hwnd(), id)});
        relayout(new_width, new_height, items);
    }
    bool on_command(int id, int code) override
    {
        commands.emplace_back(id, code);
        if (throw_on_command)
            throw std::system_error(ERROR_ACCESS_DENIED, std::system_category());
        return handle_commands;
    }
    bool on_sys_command(unsigned command) override
    {
        sys_commands.push_back(command);
        return handle_sys_commands;
    }
};

struct window_destroyer {
    void operator()(HWND window) const
    {
        if (window)
            DestroyWindow(window);
    }
};
using unique_window = std::unique_ptr<std::remove_pointer_t<HWND>, window_destroyer>;

unique_window create_page(const dialog_template& source, test_page& page)
{
    unique_window window(CreateDialogIndirectParamW(GetModuleHandleW(nullptr), source.get(), nullptr,
                                                    page_dialog_proc, reinterpret_cast<LPARAM>(&page)));
    EXPECT_TRUE(window) << GetLastError();
    return window;
}

void pump_messages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

RECT control_rect(HWND dialog, int id)
{
    RECT r{};
    HWND control = GetDlgItem(dialog, id);
    EXPECT_TRUE(control) << "control " << id;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

SIZE client_size(HWND window)
{
    RECT r{};
    GetClientRect(window, &r);
    return {r.right - r.left, r.bottom - r.top};
}

// Changes the window's outer size, and so its client size, by (dx, dy).
void resize_by(HWND window, int dx, int dy)
{
    RECT r{};
    GetWindowRect(window, &r);
    SetWindowPos(window, nullptr, 0, 0, r.right - r.left + dx, r.bottom - r.top + dy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---------------------------------------------------------------------------------------------
// Binding

INT_PTR CALLBACK unbound_dialog_proc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// A dialog with a status line and no page bound to it.
unique_window unbound_status_dialog()
{
    dialog_template source(resizable_popup, 100, 60);
    source.add_static(IDC_STATUS_LINE, 5, 5, 50, 10);
    return unique_window(CreateDialogIndirectParamW(GetModuleHandleW(nullptr), source.get(), nullptr,
                                                    unbound_dialog_proc, 0));
}

TEST(page_binding, a_window_without_bound_object_is_left_to_the_dialog_manager)
{
    unique_window window = unbound_status_dialog();
    ASSERT_TRUE(window);
    SetWindowLongPtrW(window.get(), DWLP_MSGRESULT, 77);
    const RECT status = control_rect(window.get(), IDC_STATUS_LINE);

    const struct {
        UINT message;
        WPARAM wparam;
        LPARAM lparam;
    } messages[] = {
        {WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0},
        {WM_SYSCOMMAND, SC_CLOSE, 0},
        {WM_SIZE, SIZE_RESTORED, MAKELPARAM(300, 200)},
        {WM_DESTROY, 0, 0},
    };
    for (const auto& m : messages) {
        SCOPED_TRACE(m.message);
        EXPECT_EQ(page_dialog_proc(window.get(), m.message, m.wparam, m.lparam), FALSE);
        EXPECT_EQ(GetWindowLongPtrW(window.get(), DWLP_MSGRESULT), 77);
    }
    EXPECT_EQ(control_rect(window.get(), IDC_STATUS_LINE), status);
}

TEST(page_binding, the_object_is_bound_before_on_init_and_unbound_after_on_destroy)
{
    dialog_template source(resizable_popup, 120, 80);
    test_page page;
    unique_window window = create_page(source, page);
    ASSERT_TRUE(window);

    EXPECT_EQ(page.window_at_init, window.get());
    EXPECT_EQ(page.hwnd(), window.get());
    const SIZE client = client_size(window.get());
    EXPECT_GT(client.cx, 0);
    EXPECT_EQ(page.size_at_init.cx, client.cx);
    EXPECT_EQ(page.size_at_init.cy, client.cy);

    HWND handle = window.get();
    window.reset();
    EXPECT_EQ(page.window_at_destroy, handle);
    EXPECT_EQ(page.hwnd(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Commands: handled or left to the default handling

TEST(page_commands, the_result_follows_whether_the_page_handled_the_message)
{
    const struct {
        UINT message;
        WPARAM wparam;
        bool handles;
    } cases[] = {
        {WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), false},
        {WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), true},
        {WM_SYSCOMMAND, SC_MAXIMIZE, false},
        {WM_SYSCOMMAND, SC_MAXIMIZE, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.message) + (c.handles ? " handled" : " not handled"));
        dialog_template source(resizable_popup, 100, 60);
        test_page page;
        page.handle_commands = page.handle_sys_commands = c.handles;
        unique_window window = create_page(source, page);
        ASSERT_TRUE(window);
        SetWindowLongPtrW(window.get(), DWLP_MSGRESULT, 77);

        EXPECT_EQ(page_dialog_proc(window.get(), c.message, c.wparam, 0), c.handles ? TRUE : FALSE);
        EXPECT_EQ(GetWindowLongPtrW(window.get(), DWLP_MSGRESULT), c.handles ? 0 : 77);
    }
}

TEST(page_commands, operations_get_the_command_id_notification_and_system_command)
{
    dialog_template source(resizable_popup, 100, 60);
    test_page page;
    page.handle_commands = page.handle_sys_commands = true;
    unique_window window = create_page(source, page);
    ASSERT_TRUE(window);

    SendMessageW(window.get(), WM_COMMAND, MAKEWPARAM(1023, CBN_SELCHANGE), 0);
    // The four low bits of a system command are the system's own.
    SendMessageW(window.get(), WM_SYSCOMMAND, 16 | 0x3, 0);
    EXPECT_EQ(page.commands, (std::vector<std::pair<int, int>>{{1023, CBN_SELCHANGE}}));
    EXPECT_EQ(page.sys_commands, std::vector<unsigned>{16});
}

TEST(page_commands, an_unhandled_close_reaches_the_dialog_manager_a_handled_one_does_not)
{
    for (bool handles : {false, true}) {
        SCOPED_TRACE(handles ? "handled" : "not handled");
        dialog_template source(resizable_popup, 100, 60);
        test_page page;
        page.handle_sys_commands = handles;
        unique_window window = create_page(source, page);
        ASSERT_TRUE(window);

        // The system turns SC_CLOSE into WM_CLOSE, which the dialog manager answers with IDCANCEL.
        SendMessageW(window.get(), WM_SYSCOMMAND, SC_CLOSE, 0);
        pump_messages();
        EXPECT_EQ(page.sys_commands, std::vector<unsigned>{SC_CLOSE});
        const bool cancelled = !page.commands.empty() && page.commands.front().first == IDCANCEL;
        EXPECT_EQ(cancelled, !handles);
    }
}

TEST(page_commands, an_exception_of_an_operation_ends_in_the_error_box_inside_the_procedure)
{
    dialog_template source(resizable_popup, 100, 60);
    test_page page;
    page.throw_on_command = true;
    unique_window window = create_page(source, page);
    ASSERT_TRUE(window);

    auto boxes = testing_support::answer_own_boxes({IDOK});
    const INT_PTR result = page_dialog_proc(window.get(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    const std::vector<testing_support::message_box> shown = boxes.get();

    EXPECT_EQ(result, TRUE) << "a failed command counts as handled";
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, error_text(ERROR_ACCESS_DENIED));
    EXPECT_EQ(page.hwnd(), window.get()) << "the page stays bound";
}

// ---------------------------------------------------------------------------------------------
// Anchored layout

constexpr int bystander_id = 0x7000;

constexpr anchored_control sample_anchors[] = {
    {101, move_x},
    {102, move_y | grow_width},
    {103, grow_width | grow_height},
    {104, move_x | move_y},
};

dialog_template sample_template()
{
    dialog_template source(resizable_popup, 200, 120);
    for (int i = 0; i < 4; ++i)
        source.add_static(101 + i, 10, static_cast<short>(10 + 14 * i), 60, 10);
    source.add_static(bystander_id, 100, 10, 40, 10);
    return source;
}

std::vector<RECT> sample_rects(HWND window)
{
    std::vector<RECT> rects;
    for (int id : {101, 102, 103, 104, bystander_id})
        rects.push_back(control_rect(window, id));
    return rects;
}

// The rectangles of sample_anchors' controls after a change of (dx, dy) since `before`.
std::vector<RECT> sample_rects_moved(std::vector<RECT> rects, int dx, int dy)
{
    OffsetRect(&rects[0], dx, 0);
    rects[1].top += dy, rects[1].bottom += dy, rects[1].right += dx;
    rects[2].right += dx, rects[2].bottom += dy;
    OffsetRect(&rects[3], dx, dy);
    return rects;
}

// A page with sample_anchors' controls and a bystander, as created.
class sample_layout : public testing::Test {
protected:
    void SetUp() override
    {
        page.table = sample_anchors;
        window = create_page(sample_template(), page);
        ASSERT_TRUE(window);
        before = sample_rects(window.get());
        client = client_size(window.get());
    }

    test_page page;
    unique_window window;
    std::vector<RECT> before;
    SIZE client{};
};

TEST_F(sample_layout, a_resize_by_nothing_changes_nothing)
{
    SendMessageW(window.get(), WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.cx, client.cy));

    EXPECT_EQ(sample_rects(window.get()), before);
    EXPECT_EQ(page.width(), client.cx);
    EXPECT_EQ(page.height(), client.cy);
}

TEST_F(sample_layout, resizes_accumulate_from_where_the_last_one_left_the_controls)
{
    resize_by(window.get(), 30, 20);
    EXPECT_EQ(sample_rects(window.get()), sample_rects_moved(before, 30, 20));
    resize_by(window.get(), 15, -8);
    EXPECT_EQ(sample_rects(window.get()), sample_rects_moved(before, 45, 12));
    EXPECT_EQ(page.width(), client.cx + 45);
    EXPECT_EQ(page.height(), client.cy + 12);
}

// Which edges of a control follow the client's change: l, r horizontally by dx; t, b vertically
// by dy.
struct expected_anchor {
    int id;
    const char* edges;
};

struct page_anchor_case {
    const char* page;
    std::span<const anchored_control> table;
    std::vector<expected_anchor> controls;
    std::vector<int> page_ids = {};
};

RECT moved(RECT r, const char* edges, int dx, int dy)
{
    for (const char* e = edges; *e; ++e) {
        switch (*e) {
        case 'l': r.left += dx; break;
        case 'r': r.right += dx; break;
        case 't': r.top += dy; break;
        case 'b': r.bottom += dy; break;
        }
    }
    return r;
}

TEST(page_layout, each_anchor_table_moves_exactly_the_controls_it_names)
{
    const page_anchor_case cases[] = {
        {"start", start_page_anchors,
         {{IDC_LANGUAGE_LIST, "r"}, {IDC_START_NOTE, "r"}, {IDC_INFO, "rb"}, {IDC_STATUS_LINE, "tbr"}}},
        {"mode", mode_page_anchors,
         {{IDC_MODE_GROUP, "r"}, {IDC_QUICK_MODE, "r"}, {IDC_ADVANCED_MODE, "r"}, {IDC_STATUS_LINE, "tbr"}}},
        {"options", options_page_anchors,
         {{IDC_FOLDER_GROUP, "r"}, {IDC_FOLDER_PROMPT, "r"}, {IDC_FOLDER_EDIT, "r"}, {IDC_BROWSE, "lr"},
          {IDC_MENU_SHORTCUT, "r"}, {IDC_DESKTOP_SHORTCUT, "r"}, {IDC_STATUS_LINE, "tbr"}}},
        {"install", install_page_anchors,
         {{IDC_INSTALL_LOG, "rb"}, {IDC_INSTALL_PROGRESS, "tbr"}, {IDC_STATUS_LINE, "tbr"}}},
        {"end", end_page_anchors, {{IDC_INFO, "rb"}, {IDC_STATUS_LINE, "tbr"}}},
        {"frame", frame_anchors,
         {{IDC_PANEL, "b"}, {IDC_SEPARATOR, "tbr"}, {IDC_BACK, "lrtb"}, {IDC_NEXT, "lrtb"}, {IDC_EXIT, "lrtb"},
          {IDC_SIZE_GRIP, "lrtb"}, {2001, "rb"}, {2002, "rb"}, {2003, "rb"}, {2004, "rb"}, {2005, "rb"}},
         {2001, 2002, 2003, 2004, 2005}},
    };
    // Controls of the templates that no table names: the start page's language label, the
    // frame's bitmap.
    const int bystanders[] = {1022, bystander_id};
    constexpr int dx = 41, dy = 27;

    for (const page_anchor_case& c : cases) {
        SCOPED_TRACE(c.page);
        EXPECT_EQ(c.table.size() + c.page_ids.size(), c.controls.size()) << "the table names other controls";
        dialog_template source(resizable_popup, 220, 200);
        short y = 4;
        for (const expected_anchor& control : c.controls)
            source.add_static(control.id, 8, y += 12, 80, 10);
        for (int id : bystanders)
            source.add_static(id, 100, y += 12, 40, 10);
        test_page page;
        page.table = c.table;
        page.page_ids = c.page_ids;
        unique_window window = create_page(source, page);
        ASSERT_TRUE(window);

        std::vector<RECT> before;
        for (const expected_anchor& control : c.controls)
            before.push_back(control_rect(window.get(), control.id));
        std::vector<RECT> bystanders_before;
        for (int id : bystanders)
            bystanders_before.push_back(control_rect(window.get(), id));

        resize_by(window.get(), dx, dy);

        for (std::size_t i = 0; i < c.controls.size(); ++i) {
            const RECT now = control_rect(window.get(), c.controls[i].id);
            const RECT want = moved(before[i], c.controls[i].edges, dx, dy);
            EXPECT_EQ(now, want) << "control " << c.controls[i].id;
        }
        for (std::size_t i = 0; i < std::size(bystanders); ++i)
            EXPECT_EQ(control_rect(window.get(), bystanders[i]), bystanders_before[i]) << "control " << bystanders[i];
    }
}

TEST(page_layout, a_table_control_the_dialog_lacks_is_left_out)
{
    unique_window window = unbound_status_dialog();
    ASSERT_TRUE(window);

    const std::vector<relayout_item> items = resolve_anchors(window.get(), end_page_anchors);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].window, GetDlgItem(window.get(), IDC_STATUS_LINE));
    EXPECT_EQ(items[0].anchors, std::uint32_t{move_y | grow_width});
}

// ---------------------------------------------------------------------------------------------
// The status line

TEST(page_status_line, names_the_plain_caption_of_the_button_to_press)
{
    const language_index saved = current_language().index;
    set_language(english_language);

    const struct {
        status_hint hint;
        const wchar_t* text;
    } cases[] = {
        {continue_hint, L"Click on 'Next' to continue."},
        {continue_or_exit_hint, L"Click on 'Next' to continue or on 'Cancel' to exit Installation."},
        {start_installation_hint, L"Click on 'Install' to start Installation."},
        {exit_installation_hint, L"Click on 'Exit' to exit Installation."},
    };
    unique_window window = unbound_status_dialog();
    ASSERT_TRUE(window);
    for (const auto& c : cases) {
        set_status_line(window.get(), c.hint);
        EXPECT_EQ(testing_support::control_text(window.get(), IDC_STATUS_LINE), c.text);
    }
    set_language(saved);
}

} // namespace
} // namespace setup
