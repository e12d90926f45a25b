#include "app/windowing.hpp"

#include <cstdint>
#include <utility>

namespace setup {
namespace {

struct visible_area {
    RECT rect;
    std::uint64_t area = 0;
};

BOOL CALLBACK add_monitor_area(HMONITOR, HDC, LPRECT monitor, LPARAM data) noexcept
{
    auto& sum = *reinterpret_cast<visible_area*>(data);
    RECT overlap;
    if (monitor && IntersectRect(&overlap, monitor, &sum.rect))
        sum.area += std::uint64_t(overlap.right - overlap.left) * std::uint64_t(overlap.bottom - overlap.top);
    return TRUE;
}

void offset(RECT& rect, LONG dx, LONG dy) noexcept
{
    rect.left += dx;
    rect.right += dx;
    rect.top += dy;
    rect.bottom += dy;
}

} // namespace

windowing_record& windowing()
{
    static windowing_record record;
    return record;
}

void set_icon_provider(std::function<HICON()> provider)
{
    windowing().icon_provider = std::move(provider);
}

HICON icon_provider() noexcept
{
    try {
        const auto& provider = windowing().icon_provider;
        return provider ? provider() : nullptr;
    } catch (...) {
        return nullptr;
    }
}

bool ensure_visible(RECT& rect, unsigned percent) noexcept
{
    const RECT original = rect;

    // 1. The top-left corner onto the monitor nearest to it.
    const POINT corner{rect.left, rect.top};
    MONITORINFO info{};
    info.cbSize = sizeof info;
    HMONITOR monitor = MonitorFromPoint(corner, MONITOR_DEFAULTTONEAREST);
    if (!monitor || !GetMonitorInfoW(monitor, &info))
        return false;
    const RECT& screen = info.rcMonitor;
    LONG dx = 0, dy = 0;
    if (corner.x < screen.left)
        dx = screen.left - corner.x;
    else if (corner.x >= screen.right)
        dx = screen.right - 1 - corner.x;
    if (corner.y < screen.top)
        dy = screen.top - corner.y;
    else if (corner.y >= screen.bottom)
        dy = screen.bottom - 1 - corner.y;
    offset(rect, dx, dy);

    // 2. The part of the rectangle that lies on the monitors.
    const std::uint64_t width = rect.right > rect.left ? std::uint64_t(rect.right - rect.left) : 0;
    const std::uint64_t height = rect.bottom > rect.top ? std::uint64_t(rect.bottom - rect.top) : 0;
    visible_area sum{rect};
    EnumDisplayMonitors(nullptr, &rect, add_monitor_area, reinterpret_cast<LPARAM>(&sum));

    if (sum.area < width * height * percent / 100) {
        // 3. Into the work area of the nearest monitor.
        monitor = MonitorFromRect(&rect, MONITOR_DEFAULTTONEAREST);
        MONITORINFO near_info{};
        near_info.cbSize = sizeof near_info;
        if (monitor && GetMonitorInfoW(monitor, &near_info)) {
            const RECT& work = near_info.rcWork;
            if (rect.right > work.right)
                offset(rect, work.right - rect.right, 0);
            if (rect.left < work.left)
                offset(rect, work.left - rect.left, 0);
            if (rect.bottom > work.bottom)
                offset(rect, 0, work.bottom - rect.bottom);
            if (rect.top < work.top)
                offset(rect, 0, work.top - rect.top);
        }
    }
    return !EqualRect(&rect, &original);
}

bool ensure_visible(HWND window, unsigned percent) noexcept
{
    RECT rect;
    if (!window || !GetWindowRect(window, &rect))
        return false;
    if (!ensure_visible(rect, percent))
        return false;
    HWND parent = (GetWindowLongW(window, GWL_STYLE) & WS_CHILD) ? GetParent(window) : nullptr;
    if (parent)
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return SetWindowPos(window, nullptr, rect.left, rect.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE) != 0;
}

} // namespace setup
