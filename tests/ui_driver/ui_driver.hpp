#pragma once
// Drives the windows of another Windows process from a test: start the program, find its
// windows, read and change its controls, press its buttons, answer its message boxes, and
// wait for its exit code.
//
//     testing_support::child_process app(L"\"" + path + L"\"");
//     HWND dialog = wait_for_window({.class_name = L"#32770", .title = L"Setup", .process_id = app.id()});
//     click(dialog, IDOK);
//     auto box = wait_for_message_box(app.id());
//     ASSERT_TRUE(box);
//     EXPECT_EQ(box->text, L"...");
//     answer(*box, IDYES);
//     EXPECT_EQ(app.wait_for_exit(), 0u);
//
// Time-outs: every wait takes one and returns an empty result when it runs out; messages
// sent to the other process give up after `message_timeout`. Actions that make the other
// process do something (click, answer, select_combo_item, set_checked, press_key,
// close_window, close_from_system_menu) are posted and return at once: wait for their effect
// with wait_until, wait_for_text, wait_for_window, wait_for_message_box or wait_for_exit.
// type_text, set_control_text and resize_window are sent: done on return. Errors (no such control, a window that does not answer, a process that
// cannot start) throw: std::system_error with the Win32 code for system calls,
// std::runtime_error otherwise.

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// The time-out of every wait unless the caller gives one.
inline constexpr std::chrono::milliseconds default_timeout{10000};
// How long a message sent to another process's window may take before that window counts as hung.
inline constexpr std::chrono::milliseconds message_timeout{5000};

// ---------------------------------------------------------------------------------------------
// Processes

// One change to the environment a child process inherits: the variable `name` set to `value`,
// or removed when there is no value. Names compare without regard to case.
struct environment_change {
    std::wstring name;
    std::optional<std::wstring> value;
};

// A started process. The destructor ends a process that still runs (exit code
// `terminated_exit_code`) and waits for it, so that a failing test leaves no window behind.
// Movable, not copyable; a moved-from object owns nothing.
class child_process {
public:
    static constexpr DWORD terminated_exit_code = 0xDEAD;

    // Runs `command_line` (the program's path first, quoted when it holds blanks) with this
    // process's environment changed by `environment`. No handle is inherited. Throws
    // std::system_error with the Win32 code when the process cannot be created.
    explicit child_process(const std::wstring& command_line, const std::vector<environment_change>& environment = {});
    ~child_process();
    child_process(child_process&& other) noexcept;
    child_process& operator=(child_process&& other) noexcept;
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    // Takes charge of a process that is already running (one that a started program started in
    // turn), as if this object had started it. Throws std::system_error when it cannot be opened.
    static child_process attach(DWORD process_id);

    DWORD id() const noexcept { return id_; }
    HANDLE handle() const noexcept { return process_; }

    // The exit code once the process has ended, waiting up to `timeout`; empty while it runs.
    // A negative exit code reads as its unsigned 32-bit value (-10 gives 0xFFFFFFF6).
    std::optional<DWORD> wait_for_exit(std::chrono::milliseconds timeout = default_timeout);
    bool running() const;
    // Ends the process if it runs and waits for it to be gone.
    void terminate(DWORD exit_code = terminated_exit_code) noexcept;

private:
    child_process() = default;
    void close() noexcept;

    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

// Runs `command_line` to its end: its exit code, or empty when it still ran after `timeout`
// (it is then ended). Throws as child_process does when it cannot start.
std::optional<DWORD> run_program(const std::wstring& command_line,
                                 std::chrono::milliseconds timeout = default_timeout);

// The full path of a program that sits in the same folder as the running test program.
std::wstring program_beside_tests(const std::wstring& file_name);

// The ids of the running processes whose program is the file `program` (a full path), whoever
// started them. Paths are compared without regard to case, each in its long form.
std::vector<DWORD> processes_of_program(const std::wstring& program);

// ---------------------------------------------------------------------------------------------
// Windows

// What a top-level window must match; an empty field matches any window.
struct window_query {
    std::optional<std::wstring> class_name = {}; // window class, compared without regard to case ("#32770")
    std::optional<std::wstring> title = {};      // the whole title, exactly
    DWORD process_id = 0;                        // the process that owns the window; 0: any
    bool visible_only = true;                    // skip hidden windows
};

// The first top-level window that matches (in Z order, topmost first); null when none does.
HWND find_window(const window_query& query);
// Every top-level window that matches, topmost first.
std::vector<HWND> find_windows(const window_query& query);
// Waits until a matching top-level window exists; null when none appeared within `timeout`.
HWND wait_for_window(const window_query& query, std::chrono::milliseconds timeout = default_timeout);
// Waits until `window` no longer exists; false when it still does after `timeout`.
bool wait_for_window_closed(HWND window, std::chrono::milliseconds timeout = default_timeout);
// Polls `condition` every few milliseconds until it holds; false when it still does not after
// `timeout`. Exceptions from the condition propagate.
bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds timeout = default_timeout);

// Every descendant of `parent` (children, their children, ...), parents before their children.
std::vector<HWND> child_windows(HWND parent);
// The class name of a window ("Button", "Edit", "ComboBoxEx32", "#32770").
std::wstring window_class(HWND window);
// The id of the process that owns a window.
DWORD window_process(HWND window);
// A window's text through WM_GETTEXT (a control's text, a top-level window's title).
std::wstring window_text(HWND window);

// The child control `id` of `dialog`; throws when it has none.
HWND control(HWND dialog, int id);
// The first visible descendant of `window` with the id `id`, at any depth (a control on a page
// that is a child dialog); null when there is none. Hidden pages are passed over.
HWND find_control(HWND window, int id);
std::wstring control_text(HWND dialog, int id);
// Replaces the text of a control (WM_SETTEXT, sent: done on return). Sets the text only: the
// dialog is not told as if the user had typed (no EN_CHANGE is promised).
void set_control_text(HWND dialog, int id, const std::wstring& text);
// Whether a window is enabled (accepts clicks) and visible.
bool is_enabled(HWND window);
bool is_visible(HWND window);

// Asks a window to close as its close button would (WM_CLOSE, posted).
void close_window(HWND window);
// Chooses Close in a window's system menu (WM_SYSCOMMAND with SC_CLOSE, posted): the window
// hears of it before its default handling turns it into WM_CLOSE.
void close_from_system_menu(HWND window);

// A key pressed and released (WM_KEYDOWN, WM_KEYUP, posted to `window`: the dialog or the
// control that has the focus). A dialog's message loop sees it first, as it sees a real key:
// VK_RETURN presses the default button, VK_ESCAPE cancels, VK_TAB moves the focus.
void press_key(HWND window, UINT virtual_key);
// The window that has the keyboard focus in the thread of `window`; null when none has.
HWND focused_window(HWND window);

// Where a window is, in screen coordinates, frame included.
RECT window_rect(HWND window);
// The size of a window's client area (left and top are 0).
RECT client_rect(HWND window);
// Gives a window a new outer size, keeping its place, as dragging its frame would end (the
// window hears WM_WINDOWPOSCHANGING, WM_SIZE...). Done on return.
void resize_window(HWND window, int width, int height);

// Waits until the text of `window` is no longer `old_text`: the new text, or empty when it
// still was `old_text` after `timeout`.
std::optional<std::wstring> wait_for_text_change(HWND window, const std::wstring& old_text,
                                                 std::chrono::milliseconds timeout = default_timeout);
// Waits until the text of `window` is `text`; false when it is not after `timeout`.
bool wait_for_text(HWND window, const std::wstring& text, std::chrono::milliseconds timeout = default_timeout);

// ---------------------------------------------------------------------------------------------
// Check boxes, radio buttons, edit boxes, progress bars

// Whether a check box or radio button shows its check mark (BST_CHECKED; an indeterminate
// three-state box counts as not checked). Throws for any other kind of window.
bool is_checked(HWND button);
// Brings a check box or radio button into the state `checked` as a user's click does: when its
// state differs, BM_CLICK is posted, the button changes (an automatic one) and its parent gets
// BN_CLICKED. Returns at once; wait for the effect. Throws for a button that is disabled or
// hidden (a user could not click it), for another kind of window, and for clearing a radio
// button (only choosing another one does that).
void set_checked(HWND button, bool checked);

// Types `text` into an edit box as a user who selects all of it and types: EM_SETSEL, then one
// WM_CHAR per character (a backspace for an empty text), sent: done on return, and the edit box
// has told its dialog with EN_UPDATE and EN_CHANGE for each character as for a user's typing.
// The edit box's own rules apply (a read-only box keeps its text, a number box refuses letters).
void type_text(HWND edit, const std::wstring& text);

struct progress_range {
    int low = 0;
    int high = 0;
    bool operator==(const progress_range&) const = default;
};
// A progress bar's position and range (PBM_GETPOS, PBM_GETRANGE).
int progress_position(HWND progress_bar);
progress_range progress_bar_range(HWND progress_bar);

// Presses a button as a click would (BM_CLICK, posted).
void click(HWND button);
void click(HWND dialog, int id);

// ---------------------------------------------------------------------------------------------
// Extended combo boxes (ComboBoxEx32). Items are read with messages sent to the ComboBoxEx32
// itself: its inner combo box holds no strings.

int combo_count(HWND combo_ex);
// The index of the selected item; -1 when none is selected.
int combo_selection(HWND combo_ex);
std::wstring combo_item_text(HWND combo_ex, int index);
std::vector<std::wstring> combo_items(HWND combo_ex);
// Selects item `index` (CB_SETCURSEL, sent) and tells the combo box's parent as a user's choice
// would (WM_COMMAND with CBN_SELCHANGE, posted). Throws when there is no such item.
void select_combo_item(HWND combo_ex, int index);

// ---------------------------------------------------------------------------------------------
// Message boxes

// The standard icon a message box shows.
enum class box_icon {
    none,        // no icon
    error,       // MB_ICONERROR (IDI_HAND)
    question,    // MB_ICONQUESTION (IDI_QUESTION)
    warning,     // MB_ICONWARNING (IDI_EXCLAMATION)
    information, // MB_ICONINFORMATION (IDI_ASTERISK)
    unknown,     // an icon that is none of the system's shared icons as this process knows them
};

// A message box as shown: a visible top-level "#32770" window whose children are only buttons
// and static texts, one of them the static with id 0xFFFF that holds the text. A dialog with
// any other control (an edit, a combo box, a child dialog) is not taken for a message box.
struct message_box {
    HWND window = nullptr;
    std::wstring caption;
    std::wstring text;
    HWND owner = nullptr;     // null for a box shown without owner window
    std::vector<int> buttons; // ids of the visible buttons (IDOK, IDCANCEL, IDYES, ...), left to right
    // The HICON of its icon static (STM_GETICON) compared with LoadIconW(nullptr, IDI_...) of
    // this process. On Windows the shared icons are the same handles in every process; under
    // Wine each process loads its own, and a box of another process shows `unknown`.
    box_icon icon = box_icon::none;
};

// A message box of process `process_id` (0: any process) shown now, if there is one.
std::optional<message_box> find_message_box(DWORD process_id);
// Waits until process `process_id` shows a message box; empty after `timeout`.
std::optional<message_box> wait_for_message_box(DWORD process_id, std::chrono::milliseconds timeout = default_timeout);
// Presses the button `button_id` of the box (posted: the box runs its own message loop, and a
// sent message would wait for it). Throws when the box has no such visible button.
void answer(const message_box& box, int button_id);

// Answers, from a second thread, the message boxes that this process shows next (while its own
// thread waits in MessageBox): for each of `buttons` in turn, waits for a box (with the caption
// `caption` when one is given), presses the button and waits until the box has closed. The
// result lists the boxes as they were shown; it stops short at a box that did not come within
// `timeout`.
std::future<std::vector<message_box>> answer_own_boxes(std::vector<int> buttons,
                                                       std::optional<std::wstring> caption = std::nullopt,
                                                       std::chrono::milliseconds timeout = default_timeout);

// ---------------------------------------------------------------------------------------------
// Pictures of windows

// An image of 32-bit pixels, 0x00RRGGBB, rows top first.
struct image {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};
// What a window shows now, frame included: drawn by the window itself (PrintWindow) into a DIB
// section. Failing that (under Wine, whose PrintWindow leaves out frame and controls), a
// window of this process is copied from its own device context, and a window of another
// process from the screen where it is, once repainted and once two copies agree (it must be in
// front). Empty (zero size) when every way gives a picture of one colour: Wine's null graphics
// driver has no screen to copy another process's window from.
image capture_window(HWND window);
// A PNG file of the image (8-bit RGB, no interlace); throws std::runtime_error when it cannot
// be written or the image is empty.
void save_png(const image& picture, const std::wstring& path);

// ---------------------------------------------------------------------------------------------
// Windows of this test's own thread

// What a window of this thread is made with: class "mw_test_window", default window procedure.
struct test_window_options {
    DWORD style = WS_OVERLAPPEDWINDOW;
    RECT place = {100, 100, 500, 400}; // screen coordinates, or the parent's client coordinates for a child
    HWND parent = nullptr;             // the parent of a child window, the owner of a top-level one
    DWORD ex_style = 0;
};

// A window created by (and belonging to) the calling thread, destroyed with the object.
// Throws std::system_error when it cannot be created. Not copyable.
class test_window {
public:
    explicit test_window(const test_window_options& options = {});
    ~test_window();
    test_window(const test_window&) = delete;
    test_window& operator=(const test_window&) = delete;

    HWND get() const noexcept { return window_; }

private:
    HWND window_ = nullptr;
};

} // namespace testing_support
