#pragma once
// The base of every wizard page and of the frame: one object per dialog window, bound to it by
// the shared dialog procedure, which turns the messages the setup cares about into calls of
// eight virtual operations; and the anchored layout that keeps controls on the right and bottom
// edges when the window is resized.
//
// Failures: an exception thrown by an operation never leaves page_dialog_proc. The procedure
// shows the error box of that exception and treats the message as handled.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace setup {

// How a control follows a change (dx, dy) of its dialog's client size.
enum anchor_flags : std::uint32_t {
    move_x = 1,      // left and right edges move by dx
    move_y = 2,      // top and bottom edges move by dy
    grow_width = 4,  // right edge moves by dx
    grow_height = 8, // bottom edge moves by dy
};

// One window that relayout moves or sizes.
struct relayout_item {
    std::uint32_t anchors = 0;
    HWND window = nullptr;
};

// One row of an anchor table: a control of the dialog, by id, and its anchors.
struct anchored_control {
    int id = 0;
    std::uint32_t anchors = 0;
};

// The relayout items of an anchor table's controls in `dialog`, in table order. A control the
// dialog does not have is left out.
std::vector<relayout_item> resolve_anchors(HWND dialog, std::span<const anchored_control> table);

class basic_dialog {
public:
    basic_dialog() noexcept = default;
    basic_dialog(const basic_dialog&) = delete;
    basic_dialog& operator=(const basic_dialog&) = delete;
    virtual ~basic_dialog() = default;

    // Reloads every text of the dialog in the current language; may run at any time after
    // WM_INITDIALOG.
    virtual void update_texts() = 0;
    // Runs at WM_INITDIALOG, once hwnd, width and height are set.
    virtual void on_init() {}
    // Runs at WM_DESTROY, while hwnd is still the window.
    virtual void on_destroy() {}
    // The new client size, in pixels: a dialog calls relayout with its anchor table.
    virtual void on_size(int width, int height) = 0;
    virtual void on_min_max_info(MINMAXINFO* info);
    // Whether the command was handled; false leaves it to the dialog manager.
    virtual bool on_command(int id, int code);
    // `command` is the system command without its four low bits. Whether it was handled; false
    // leaves it to the system.
    virtual bool on_sys_command(unsigned command);

    // The bound window; null before WM_INITDIALOG and after WM_DESTROY.
    HWND hwnd() const noexcept { return hwnd_; }
    // The client size last seen: at WM_INITDIALOG, then at every relayout.
    int width() const noexcept { return width_; }
    int height() const noexcept { return height_; }

protected:
    // Moves and sizes the items by the change from (width, height) to the new size, in one
    // deferred repositioning, and keeps the new size.
    void relayout(int new_width, int new_height, const relayout_item* items, std::size_t count);
    void relayout(int new_width, int new_height, std::span<const relayout_item> items);
    // The same for the controls of this dialog that an anchor table names.
    void relayout(int new_width, int new_height, std::span<const anchored_control> table);

private:
    friend INT_PTR CALLBACK page_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

    HWND hwnd_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

// The dialog procedure of every basic_dialog: the creation parameter of CreateDialogParamW or
// DialogBoxParamW is the object. Binds it at WM_INITDIALOG, unbinds it at WM_DESTROY; a message
// arriving while no object is bound is left to the dialog manager.
INT_PTR CALLBACK page_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

} // namespace setup
