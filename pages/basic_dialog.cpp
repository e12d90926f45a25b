#include "pages/basic_dialog.hpp"

#include "app/message_box.hpp"

namespace setup {

namespace {

// The dialog-procedure convention for a handled message with result `result`: a few messages
// take it as the procedure's own return value, all others through DWLP_MSGRESULT.
INT_PTR handled(HWND window, UINT message, LRESULT result) noexcept
{
    switch (message) {
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_COMPAREITEM:
    case WM_INITDIALOG:
        return static_cast<INT_PTR>(result);
    default:
        SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
        return TRUE;
    }
}

INT_PTR dispatch(basic_dialog& dialog, HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        dialog.on_init();
        return TRUE;
    case WM_DESTROY:
        dialog.on_destroy();
        return handled(window, message, 0);
    case WM_SIZE:
        dialog.on_size(LOWORD(lparam), HIWORD(lparam));
        return handled(window, message, 0);
    case WM_GETMINMAXINFO:
        dialog.on_min_max_info(reinterpret_cast<MINMAXINFO*>(lparam));
        return handled(window, message, 0);
    case WM_COMMAND:
        if (!dialog.on_command(LOWORD(wparam), HIWORD(wparam)))
            return FALSE;
        return handled(window, message, 0);
    case WM_SYSCOMMAND:
        if (!dialog.on_sys_command(static_cast<unsigned>(wparam & 0xFFF0)))
            return FALSE;
        return handled(window, message, 0);
    default:
        return FALSE;
    }
}

} // namespace

std::vector<relayout_item> resolve_anchors(HWND dialog, std::span<const anchored_control> table)
{
    std::vector<relayout_item> items;
    items.reserve(table.size());
    for (const anchored_control& row : table) {
        if (HWND control = GetDlgItem(dialog, row.id))
            items.push_back({row.anchors, control});
    }
    return items;
}

void basic_dialog::on_min_max_info(MINMAXINFO*) {}

bool basic_dialog::on_command(int, int)
{
    return false;
}

bool basic_dialog::on_sys_command(unsigned)
{
    return false;
}

void basic_dialog::relayout(int new_width, int new_height, const relayout_item* items, std::size_t count)
{
    const int dx = new_width - width_;
    const int dy = new_height - height_;
    width_ = new_width;
    height_ = new_height;

    HDWP positions = BeginDeferWindowPos(static_cast<int>(count));
    for (std::size_t i = 0; i < count && positions; ++i) {
        const relayout_item& item = items[i];
        RECT r{};
        if (!GetWindowRect(item.window, &r))
            continue;
        if (GetWindowLongW(item.window, GWL_STYLE) & WS_CHILD)
            MapWindowPoints(nullptr, GetParent(item.window), reinterpret_cast<POINT*>(&r), 2);

        UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS;
        if (!(item.anchors & (move_x | move_y)))
            flags |= SWP_NOMOVE;
        if (item.anchors & move_x) {
            r.left += dx;
            r.right += dx;
        }
        if (item.anchors & move_y) {
            r.top += dy;
            r.bottom += dy;
        }
        if (item.anchors & grow_width)
            r.right += dx;
        if (item.anchors & grow_height)
            r.bottom += dy;
        if (!(item.anchors & (grow_width | grow_height)))
            flags |= SWP_NOSIZE;
        // A failed DeferWindowPos has released the whole batch and returns null.
        positions = DeferWindowPos(positions, item.window, nullptr, r.left, r.top, r.right - r.left,
                                   r.bottom - r.top, flags);
    }
    if (positions)
        EndDeferWindowPos(positions);
}

void basic_dialog::relayout(int new_width, int new_height, std::span<const relayout_item> items)
{
    relayout(new_width, new_height, items.data(), items.size());
}

void basic_dialog::relayout(int new_width, int new_height, std::span<const anchored_control> table)
{
    const std::vector<relayout_item> items = resolve_anchors(hwnd_, table);
    relayout(new_width, new_height, items);
}

INT_PTR CALLBACK page_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_INITDIALOG) {
        auto* bound = reinterpret_cast<basic_dialog*>(lparam);
        SetWindowLongPtrW(window, DWLP_USER, lparam);
        if (bound) {
            bound->hwnd_ = window;
            RECT client{};
            GetClientRect(window, &client);
            bound->width_ = client.right - client.left;
            bound->height_ = client.bottom - client.top;
        }
    }
    auto* dialog = reinterpret_cast<basic_dialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!dialog)
        return FALSE;

    INT_PTR result = FALSE;
    try {
        result = dispatch(*dialog, window, message, wparam, lparam);
    } catch (...) {
        // An exception must not unwind through the system's code: the user sees what failed,
        // and the message counts as handled.
        show_current_exception();
        result = message == WM_INITDIALOG ? TRUE : handled(window, message, 0);
    }
    if (message == WM_DESTROY) {
        dialog->hwnd_ = nullptr;
        SetWindowLongPtrW(window, DWLP_USER, 0);
    }
    return result;
}

} // namespace setup
