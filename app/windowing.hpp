#pragma once
// The windowing layer's process-wide record (the application icon) and the placement of a
// window so that it stays visible on the monitors.

#include <windows.h>

#include <functional>

namespace setup {

// The single record of the windowing layer, built on first use.
struct windowing_record {
    // Returns the application icon (icon 128); registered by the entry function.
    std::function<HICON()> icon_provider;
};
windowing_record& windowing();

// Registers the callable that provides the application icon.
void set_icon_provider(std::function<HICON()> provider);
// The application icon, or null when no provider is registered or it has none. Never throws.
HICON icon_provider() noexcept;

// Moves a rectangle (screen coordinates) so that at least `percent` of its area lies on the
// monitors:
//  1. a top-left corner outside the monitor nearest to it is moved onto that monitor's
//     nearest edges;
//  2. if then less than `percent` of the area is on any monitor, the rectangle is pushed into
//     the work area of the monitor nearest to it (right, then left, then bottom, then top: the
//     left and top edges win when the rectangle is larger than the work area).
// Returns true when the rectangle was moved. A monitor that cannot be queried leaves it alone.
bool ensure_visible(RECT& rect, unsigned percent) noexcept;

// The same for a window: top-level windows are placed in screen coordinates, child windows in
// their parent's client coordinates; the window is moved with SetWindowPos. Returns true when
// the window was moved.
bool ensure_visible(HWND window, unsigned percent) noexcept;

} // namespace setup
