// Driving another process's windows: messages, window enumeration and process control.

#include "tests/ui_driver/ui_driver.hpp"
#include "tests/child_job.hpp"

#include <commctrl.h>
#include <tlhelp32.h>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

namespace testing_support {
namespace {

constexpr auto poll_interval = std::chrono::milliseconds(10);
// How long the screen is given between two copies of a window that should agree.
constexpr auto screen_settle_interval = std::chrono::milliseconds(50);

[[noreturn]] void fail_last_error(const char* what)
{
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), what);
}

std::string narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// Sends a message that the other process must answer within `message_timeout`.
LRESULT send(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    DWORD_PTR result = 0;
    SetLastError(ERROR_SUCCESS);
    if (!SendMessageTimeoutW(window, message, wparam, lparam, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                             static_cast<UINT>(message_timeout.count()), &result)) {
        const DWORD error = GetLastError();
        throw std::system_error(static_cast<int>(error ? error : ERROR_TIMEOUT), std::system_category(),
                                fmt::format("message 0x{:04x} to window {} got no answer", message,
                                            static_cast<const void*>(window)));
    }
    return static_cast<LRESULT>(result);
}

void post(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (!PostMessageW(window, message, wparam, lparam))
        fail_last_error("PostMessageW");
}

bool equal_ignoring_case(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

bool matches(HWND window, const window_query& query)
{
    if (query.visible_only && !IsWindowVisible(window))
        return false;
    if (query.process_id != 0 && window_process(window) != query.process_id)
        return false;
    if (query.class_name) {
        wchar_t name[257] = {};
        if (!GetClassNameW(window, name, 257) || !equal_ignoring_case(name, *query.class_name))
            return false;
    }
    if (query.title) {
        // The stored title, read without a message, so that a busy window cannot stall the search.
        std::wstring title(1024, L'\0');
        title.resize(static_cast<std::size_t>(InternalGetWindowText(window, title.data(), 1024)));
        if (title != *query.title)
            return false;
    }
    return true;
}

// Gathers the windows an enumeration reports; no exception leaves the callback.
struct window_list {
    std::vector<HWND> windows;
    bool out_of_memory = false;

    static BOOL CALLBACK add(HWND window, LPARAM self) noexcept
    {
        auto* list = reinterpret_cast<window_list*>(self);
        try {
            list->windows.push_back(window);
            return TRUE;
        } catch (...) {
            list->out_of_memory = true;
            return FALSE;
        }
    }
    std::vector<HWND> result()
    {
        if (out_of_memory)
            throw std::bad_alloc();
        return std::move(windows);
    }
};

std::vector<HWND> top_level_windows()
{
    window_list list;
    EnumWindows(window_list::add, reinterpret_cast<LPARAM>(&list));
    return list.result();
}

// Environment block for CreateProcessW: this process's variables with the changes applied,
// sorted by name without regard to case, each "name=value" ended by a NUL, then one more NUL.
std::wstring environment_block(const std::vector<environment_change>& changes)
{
    std::vector<std::wstring> entries;
    if (wchar_t* strings = GetEnvironmentStringsW()) {
        for (const wchar_t* p = strings; *p; p += wcslen(p) + 1)
            entries.emplace_back(p);
        FreeEnvironmentStringsW(strings);
    }
    // The name ends at the first '=' after the first character ("=C:=C:\\dir" names "=C:").
    auto name_of = [](const std::wstring& entry) { return entry.substr(0, entry.find(L'=', 1)); };
    for (const auto& change : changes) {
        std::erase_if(entries, [&](const std::wstring& e) { return equal_ignoring_case(name_of(e), change.name); });
        if (change.value)
            entries.push_back(change.name + L"=" + *change.value);
    }
    std::stable_sort(entries.begin(), entries.end(), [&](const std::wstring& a, const std::wstring& b) {
        const std::wstring na = name_of(a), nb = name_of(b);
        return CompareStringOrdinal(na.c_str(), static_cast<int>(na.size()), nb.c_str(), static_cast<int>(nb.size()),
                                    TRUE) == CSTR_LESS_THAN;
    });
    std::wstring block;
    for (const auto& e : entries) {
        block += e;
        block += L'\0';
    }
    block += L'\0';
    if (entries.empty())
        block += L'\0';
    return block;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Processes

child_process::child_process(const std::wstring& command_line, const std::vector<environment_change>& environment)
{
    std::wstring mutable_line = command_line;
    std::wstring block = environment_block(environment);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, mutable_line.data(), nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED, block.data(), nullptr, &startup, &info))
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "CreateProcessW " + narrow(command_line));
    children_job::adopt(info);
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    id_ = info.dwProcessId;
}

child_process child_process::attach(DWORD process_id)
{
    child_process attached;
    attached.process_ = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
    if (!attached.process_)
        fail_last_error("OpenProcess");
    attached.id_ = process_id;
    return attached;
}

child_process::~child_process()
{
    terminate();
    close();
}

child_process::child_process(child_process&& other) noexcept
    : process_(std::exchange(other.process_, nullptr)), id_(std::exchange(other.id_, 0))
{
}

child_process& child_process::operator=(child_process&& other) noexcept
{
    if (this != &other) {
        terminate();
        close();
        process_ = std::exchange(other.process_, nullptr);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

std::optional<DWORD> child_process::wait_for_exit(std::chrono::milliseconds timeout)
{
    if (!process_)
        throw std::runtime_error("wait_for_exit: no process");
    const DWORD waited = WaitForSingleObject(process_, static_cast<DWORD>(timeout.count()));
    if (waited == WAIT_TIMEOUT)
        return std::nullopt;
    if (waited != WAIT_OBJECT_0)
        fail_last_error("WaitForSingleObject");
    DWORD code = 0;
    if (!GetExitCodeProcess(process_, &code))
        fail_last_error("GetExitCodeProcess");
    return code;
}

bool child_process::running() const
{
    return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

void child_process::terminate(DWORD exit_code) noexcept
{
    if (running()) {
        TerminateProcess(process_, exit_code);
        WaitForSingleObject(process_, static_cast<DWORD>(default_timeout.count()));
    }
}

void child_process::close() noexcept
{
    if (process_)
        CloseHandle(std::exchange(process_, nullptr));
    id_ = 0;
}

std::optional<DWORD> run_program(const std::wstring& command_line, std::chrono::milliseconds timeout)
{
    child_process program(command_line);
    return program.wait_for_exit(timeout);
}

std::wstring program_beside_tests(const std::wstring& file_name)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            fail_last_error("GetModuleFileNameW");
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    path.resize(path.find_last_of(L"\\/") + 1);
    return path + file_name;
}

namespace {

// A path in its long form when the file exists; the path itself otherwise.
std::wstring long_path(const std::wstring& path)
{
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetLongPathNameW(path.c_str(), full.data(), static_cast<DWORD>(full.size()));
        if (length == 0)
            return path;
        if (length < full.size()) {
            full.resize(length);
            return full;
        }
        full.resize(length);
    }
}

} // namespace

std::vector<DWORD> processes_of_program(const std::wstring& program)
{
    const std::wstring wanted = long_path(program);
    const std::wstring name = std::filesystem::path(wanted).filename().wstring();
    std::vector<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        fail_last_error("CreateToolhelp32Snapshot");
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        // A quick look at the file name first; the full path of those that match.
        if (lstrcmpiW(entry.szExeFile, name.c_str()) != 0)
            continue;
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (!process)
            continue; // gone meanwhile
        wchar_t image[MAX_PATH * 2];
        DWORD length = MAX_PATH * 2;
        const bool named = QueryFullProcessImageNameW(process, 0, image, &length);
        DWORD exit_code = 0;
        const bool running = GetExitCodeProcess(process, &exit_code) && exit_code == STILL_ACTIVE;
        CloseHandle(process);
        if (named && running && lstrcmpiW(long_path(std::wstring(image, length)).c_str(), wanted.c_str()) == 0)
            found.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return found;
}

// ---------------------------------------------------------------------------------------------
// Windows

HWND find_window(const window_query& query)
{
    for (HWND window : top_level_windows())
        if (IsWindow(window) && matches(window, query))
            return window;
    return nullptr;
}

std::vector<HWND> find_windows(const window_query& query)
{
    std::vector<HWND> found;
    for (HWND window : top_level_windows())
        if (IsWindow(window) && matches(window, query))
            found.push_back(window);
    return found;
}

HWND wait_for_window(const window_query& query, std::chrono::milliseconds timeout)
{
    HWND found = nullptr;
    wait_until([&] { return (found = find_window(query)) != nullptr; }, timeout);
    return found;
}

bool wait_for_window_closed(HWND window, std::chrono::milliseconds timeout)
{
    return wait_until([&] { return !IsWindow(window); }, timeout);
}

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(poll_interval);
    }
}

std::vector<HWND> child_windows(HWND parent)
{
    window_list list;
    EnumChildWindows(parent, window_list::add, reinterpret_cast<LPARAM>(&list));
    return list.result();
}

std::wstring window_class(HWND window)
{
    wchar_t name[257] = {};
    if (!GetClassNameW(window, name, 257))
        fail_last_error("GetClassNameW");
    return name;
}

DWORD window_process(HWND window)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process;
}

std::wstring window_text(HWND window)
{
    if (!IsWindow(window))
        throw std::runtime_error(fmt::format("window_text: no window {}", static_cast<const void*>(window)));
    const auto length = static_cast<std::size_t>(send(window, WM_GETTEXTLENGTH, 0, 0));
    std::wstring text(length + 1, L'\0');
    const auto copied = static_cast<std::size_t>(
        send(window, WM_GETTEXT, static_cast<WPARAM>(text.size()), reinterpret_cast<LPARAM>(text.data())));
    text.resize(std::min(copied, length));
    return text;
}

HWND control(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    if (!item)
        throw std::runtime_error(fmt::format("window {} has no control {}", static_cast<const void*>(dialog), id));
    return item;
}

HWND find_control(HWND window, int id)
{
    for (HWND child : child_windows(window))
        if (GetDlgCtrlID(child) == id && IsWindowVisible(child))
            return child;
    return nullptr;
}

std::wstring control_text(HWND dialog, int id) { return window_text(control(dialog, id)); }

void set_control_text(HWND dialog, int id, const std::wstring& text)
{
    if (!send(control(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())))
        throw std::runtime_error(fmt::format("control {} refused its new text", id));
}

bool is_enabled(HWND window) { return IsWindowEnabled(window) != FALSE; }

bool is_visible(HWND window) { return IsWindowVisible(window) != FALSE; }

void close_window(HWND window) { post(window, WM_CLOSE, 0, 0); }

void close_from_system_menu(HWND window) { post(window, WM_SYSCOMMAND, SC_CLOSE, 0); }

void press_key(HWND window, UINT virtual_key)
{
    const UINT scan = MapVirtualKeyW(virtual_key, MAPVK_VK_TO_VSC);
    const LPARAM down = 1 | static_cast<LPARAM>(scan << 16);
    const LPARAM up = down | (1L << 30) | (1L << 31);
    post(window, WM_KEYDOWN, virtual_key, down);
    post(window, WM_KEYUP, virtual_key, up);
}

HWND focused_window(HWND window)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info))
        fail_last_error("GetGUIThreadInfo");
    return info.hwndFocus;
}

RECT window_rect(HWND window)
{
    RECT r{};
    if (!GetWindowRect(window, &r))
        fail_last_error("GetWindowRect");
    return r;
}

RECT client_rect(HWND window)
{
    RECT r{};
    if (!GetClientRect(window, &r))
        fail_last_error("GetClientRect");
    return r;
}

void resize_window(HWND window, int width, int height)
{
    if (!SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE))
        fail_last_error("SetWindowPos");
}

std::optional<std::wstring> wait_for_text_change(HWND window, const std::wstring& old_text,
                                                 std::chrono::milliseconds timeout)
{
    std::wstring text;
    if (wait_until([&] { return (text = window_text(window)) != old_text; }, timeout))
        return text;
    return std::nullopt;
}

bool wait_for_text(HWND window, const std::wstring& text, std::chrono::milliseconds timeout)
{
    return wait_until([&] { return window_text(window) == text; }, timeout);
}

void click(HWND button) { post(button, BM_CLICK, 0, 0); }

void click(HWND dialog, int id) { click(control(dialog, id)); }

// ---------------------------------------------------------------------------------------------
// Check boxes, radio buttons, edit boxes, progress bars

namespace {

enum class button_kind { check_box, radio_button };

button_kind checkable_kind(HWND button)
{
    if (!equal_ignoring_case(window_class(button), L"Button"))
        throw std::runtime_error(fmt::format("window {} is no button", static_cast<const void*>(button)));
    switch (GetWindowLongW(button, GWL_STYLE) & BS_TYPEMASK) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE:
        return button_kind::check_box;
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
        return button_kind::radio_button;
    default:
        throw std::runtime_error(
            fmt::format("button {} is neither a check box nor a radio button", static_cast<const void*>(button)));
    }
}

} // namespace

bool is_checked(HWND button)
{
    checkable_kind(button);
    return send(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void set_checked(HWND button, bool checked)
{
    const button_kind kind = checkable_kind(button);
    if (is_checked(button) == checked)
        return;
    if (!is_enabled(button) || !is_visible(button))
        throw std::runtime_error(fmt::format("button {} cannot be clicked: it is disabled or hidden",
                                             static_cast<const void*>(button)));
    if (kind == button_kind::radio_button && !checked)
        throw std::runtime_error("a radio button is cleared only by choosing another one");
    click(button);
}

void type_text(HWND edit, const std::wstring& text)
{
    send(edit, EM_SETSEL, 0, -1);
    if (text.empty())
        send(edit, WM_CHAR, VK_BACK, 1);
    for (wchar_t c : text)
        send(edit, WM_CHAR, c, 1);
}

int progress_position(HWND progress_bar) { return static_cast<int>(send(progress_bar, PBM_GETPOS, 0, 0)); }

progress_range progress_bar_range(HWND progress_bar)
{
    return {static_cast<int>(send(progress_bar, PBM_GETRANGE, TRUE, 0)),
            static_cast<int>(send(progress_bar, PBM_GETRANGE, FALSE, 0))};
}

// ---------------------------------------------------------------------------------------------
// Extended combo boxes

int combo_count(HWND combo_ex)
{
    const LRESULT count = send(combo_ex, CB_GETCOUNT, 0, 0);
    if (count == CB_ERR)
        throw std::runtime_error("CB_GETCOUNT failed");
    return static_cast<int>(count);
}

int combo_selection(HWND combo_ex) { return static_cast<int>(send(combo_ex, CB_GETCURSEL, 0, 0)); }

std::wstring combo_item_text(HWND combo_ex, int index)
{
    if (index < 0 || index >= combo_count(combo_ex))
        throw std::runtime_error(fmt::format("the combo box has no item {}", index));
    const LRESULT length = send(combo_ex, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR)
        throw std::runtime_error(fmt::format("the combo box has no item {}", index));
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied =
        send(combo_ex, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    if (copied == CB_ERR)
        throw std::runtime_error(fmt::format("the combo box has no item {}", index));
    text.resize(std::min(static_cast<std::size_t>(copied), static_cast<std::size_t>(length)));
    return text;
}

std::vector<std::wstring> combo_items(HWND combo_ex)
{
    std::vector<std::wstring> items;
    const int count = combo_count(combo_ex);
    for (int i = 0; i < count; ++i)
        items.push_back(combo_item_text(combo_ex, i));
    return items;
}

void select_combo_item(HWND combo_ex, int index)
{
    if (index < 0 || index >= combo_count(combo_ex))
        throw std::runtime_error(fmt::format("the combo box has no item {}", index));
    if (send(combo_ex, CB_SETCURSEL, static_cast<WPARAM>(index), 0) != index)
        throw std::runtime_error(fmt::format("the combo box refused to select item {}", index));
    const int id = GetDlgCtrlID(combo_ex);
    post(GetParent(combo_ex), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo_ex));
}

// ---------------------------------------------------------------------------------------------
// Message boxes

namespace {

constexpr int message_text_id = 0xFFFF;

box_icon icon_of(HWND icon_static)
{
    const auto shown = reinterpret_cast<HICON>(send(icon_static, STM_GETICON, 0, 0));
    if (!shown)
        return box_icon::none;
    const std::pair<LPCWSTR, box_icon> standard[] = {
        {IDI_HAND, box_icon::error},
        {IDI_QUESTION, box_icon::question},
        {IDI_EXCLAMATION, box_icon::warning},
        {IDI_ASTERISK, box_icon::information},
    };
    for (const auto& [id, icon] : standard)
        if (LoadIconW(nullptr, id) == shown)
            return icon;
    return box_icon::unknown;
}


std::optional<message_box> read_message_box(HWND window)
{
    HWND text = nullptr;
    HWND icon = nullptr;
    std::vector<std::pair<LONG, int>> buttons; // left edge, id
    for (HWND child : child_windows(window)) {
        const std::wstring cls = window_class(child);
        const int id = GetDlgCtrlID(child);
        if (equal_ignoring_case(cls, L"Static")) {
            if (id == message_text_id)
                text = child;
            else if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child))
                icon = child;
        } else if (equal_ignoring_case(cls, L"Button")) {
            if (IsWindowVisible(child)) {
                RECT r{};
                GetWindowRect(child, &r);
                buttons.emplace_back(r.left, id);
            }
        } else {
            return std::nullopt;
        }
    }
    if (!text)
        return std::nullopt;
    std::stable_sort(buttons.begin(), buttons.end(), [](auto& a, auto& b) { return a.first < b.first; });
    message_box box;
    box.window = window;
    box.caption = window_text(window);
    box.text = window_text(text);
    box.owner = GetWindow(window, GW_OWNER);
    box.icon = icon ? icon_of(icon) : box_icon::none;
    for (const auto& b : buttons)
        box.buttons.push_back(b.second);
    return box;
}

std::optional<message_box> find_message_box(window_query query)
{
    query.class_name = L"#32770";
    query.visible_only = true;
    for (HWND window : top_level_windows()) {
        if (!IsWindow(window) || !matches(window, query))
            continue;
        try {
            if (auto box = read_message_box(window))
                return box;
        } catch (const std::exception&) {
            // The window closed while it was read: not a box shown now.
            if (IsWindow(window))
                throw;
        }
    }
    return std::nullopt;
}

std::optional<message_box> wait_for_message_box(const window_query& query, std::chrono::milliseconds timeout)
{
    std::optional<message_box> box;
    wait_until([&] { return (box = find_message_box(query)).has_value(); }, timeout);
    return box;
}

} // namespace

std::optional<message_box> find_message_box(DWORD process_id)
{
    return find_message_box(window_query{.process_id = process_id});
}

std::optional<message_box> wait_for_message_box(DWORD process_id, std::chrono::milliseconds timeout)
{
    return wait_for_message_box(window_query{.process_id = process_id}, timeout);
}

void answer(const message_box& box, int button_id)
{
    if (std::find(box.buttons.begin(), box.buttons.end(), button_id) == box.buttons.end())
        throw std::runtime_error(fmt::format("the message box has no button {}", button_id));
    click(box.window, button_id);
}

std::future<std::vector<message_box>> answer_own_boxes(std::vector<int> buttons, std::optional<std::wstring> caption,
                                                       std::chrono::milliseconds timeout)
{
    const window_query query{.title = std::move(caption), .process_id = GetCurrentProcessId()};
    return std::async(std::launch::async, [buttons = std::move(buttons), query, timeout] {
        std::vector<message_box> shown;
        for (int button : buttons) {
            auto box = wait_for_message_box(query, timeout);
            if (!box)
                break;
            answer(*box, button);
            wait_for_window_closed(box->window, timeout);
            shown.push_back(std::move(*box));
        }
        return shown;
    });
}


// ---------------------------------------------------------------------------------------------
// Pictures of windows

namespace {

struct dc_deleter {
    void operator()(HDC dc) const noexcept { DeleteDC(dc); }
};
struct object_deleter {
    void operator()(HGDIOBJ object) const noexcept { DeleteObject(object); }
};
using unique_dc = std::unique_ptr<std::remove_pointer_t<HDC>, dc_deleter>;
using unique_bitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, object_deleter>;

// Restores the object a DC held before another was selected into it.
class selection {
public:
    selection(HDC dc, HGDIOBJ object) : dc_(dc), old_(SelectObject(dc, object)) {}
    ~selection() { SelectObject(dc_, old_); }
    selection(const selection&) = delete;
    selection& operator=(const selection&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// The device context of a whole window, frame included, released with the object.
class window_dc {
public:
    explicit window_dc(HWND window) : window_(window), dc_(GetWindowDC(window)) {}
    ~window_dc()
    {
        if (dc_)
            ReleaseDC(window_, dc_);
    }
    window_dc(const window_dc&) = delete;
    window_dc& operator=(const window_dc&) = delete;
    HDC get() const noexcept { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

void append_big_endian(std::string& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>((value >> shift) & 0xFF);
}

void append_chunk(std::string& out, const char (&type)[5], const std::string& data)
{
    append_big_endian(out, static_cast<std::uint32_t>(data.size()));
    const std::string typed = std::string(type, 4) + data;
    out += typed;
    append_big_endian(out, static_cast<std::uint32_t>(
                               crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()))));
}

} // namespace

image capture_window(HWND window)
{
    const RECT r = window_rect(window);
    image picture{r.right - r.left, r.bottom - r.top, {}};
    if (picture.width <= 0 || picture.height <= 0)
        return {};
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = -picture.height; // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const unique_bitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    const unique_dc dc(CreateCompatibleDC(nullptr));
    if (!bitmap || !dc)
        fail_last_error("CreateDIBSection");
    const std::size_t count = static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height);
    const auto* pixels = static_cast<const std::uint32_t*>(bits);
    // A window always shows more than one colour: a picture of one colour means nothing was drawn.
    auto draw = [&](const std::function<void()>& paint) {
        {
            const selection selected(dc.get(), bitmap.get());
            paint();
            GdiFlush();
        }
        return std::any_of(pixels, pixels + count, [&](std::uint32_t p) { return ((p ^ pixels[0]) & 0xFFFFFF) != 0; });
    };
    auto copy_from = [&](HWND source, int x, int y) {
        const window_dc source_dc(source);
        if (source_dc.get())
            BitBlt(dc.get(), 0, 0, picture.width, picture.height, source_dc.get(), x, y, SRCCOPY);
    };
    const bool own = window_process(window) == GetCurrentProcessId();
    const bool captured = draw([&] { PrintWindow(window, dc.get(), 0); }) ||
                          // Wine's PrintWindow leaves out frame and controls: what the window's own DC shows.
                          (own && draw([&] { copy_from(window, 0, 0); })) ||
                          // Another process's window under Wine: what the screen shows where it is.
                          (!own && draw([&] {
                              // Painted anew (the window's thread answers WM_PAINT before this goes
                              // on), then copied until two copies agree: the screen shows what a
                              // window painted a little later.
                              RedrawWindow(window, nullptr, nullptr,
                                           RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
                              std::vector<std::uint32_t> previous;
                              for (int copies = 0; copies < 40; ++copies) {
                                  copy_from(nullptr, r.left, r.top);
                                  GdiFlush();
                                  if (std::equal(previous.begin(), previous.end(), pixels, pixels + count))
                                      break;
                                  previous.assign(pixels, pixels + count);
                                  std::this_thread::sleep_for(screen_settle_interval);
                              }
                          }));
    if (!captured)
        return {};
    picture.pixels.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        picture.pixels.push_back(pixels[i] & 0xFFFFFF);
    return picture;
}

void save_png(const image& picture, const std::wstring& path)
{
    if (picture.width <= 0 || picture.height <= 0 ||
        picture.pixels.size() != static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height))
        throw std::runtime_error("save_png: an empty or inconsistent image");
    std::string rows;
    rows.reserve(picture.pixels.size() * 3 + static_cast<std::size_t>(picture.height));
    for (int y = 0; y < picture.height; ++y) {
        rows += '\0'; // filter: none
        for (int x = 0; x < picture.width; ++x) {
            const std::uint32_t p = picture.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(picture.width) +
                                                   static_cast<std::size_t>(x)];
            rows += static_cast<char>((p >> 16) & 0xFF);
            rows += static_cast<char>((p >> 8) & 0xFF);
            rows += static_cast<char>(p & 0xFF);
        }
    }
    uLongf packed_size = compressBound(static_cast<uLong>(rows.size()));
    std::string packed(packed_size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packed_size, reinterpret_cast<const Bytef*>(rows.data()),
                  static_cast<uLong>(rows.size()), Z_BEST_COMPRESSION) != Z_OK)
        throw std::runtime_error("save_png: compression failed");
    packed.resize(packed_size);

    std::string header;
    append_big_endian(header, static_cast<std::uint32_t>(picture.width));
    append_big_endian(header, static_cast<std::uint32_t>(picture.height));
    header += std::string("\x08\x02\x00\x00\x00", 5); // 8 bits, RGB, deflate, no filter set, no interlace
    std::string file("\x89PNG\r\n\x1a\n", 8);
    append_chunk(file, "IHDR", header);
    append_chunk(file, "IDAT", packed);
    append_chunk(file, "IEND", {});

    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out.write(file.data(), static_cast<std::streamsize>(file.size()));
    out.close();
    if (!out)
        throw std::runtime_error("save_png: the file could not be written");
}

// ---------------------------------------------------------------------------------------------
// Windows of this test's own thread

test_window::test_window(const test_window_options& options)
{
    static const ATOM window_class = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = L"mw_test_window";
        return RegisterClassW(&wc);
    }();
    if (!window_class)
        fail_last_error("RegisterClassW");
    const RECT& r = options.place;
    window_ = CreateWindowExW(options.ex_style, MAKEINTATOM(window_class), L"Test window", options.style, r.left, r.top,
                              r.right - r.left, r.bottom - r.top, options.parent, nullptr, GetModuleHandleW(nullptr),
                              nullptr);
    if (!window_)
        fail_last_error("CreateWindowExW");
}

test_window::~test_window() { DestroyWindow(window_); }

} // namespace testing_support
