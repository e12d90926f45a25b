#include "app/windowing.hpp"

#include "tests/ui_driver/ui_driver.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

namespace {

using setup::ensure_visible;
using testing_support::test_window;

struct monitor_areas {
    RECT screen;
    RECT work;
};

monitor_areas primary_monitor()
{
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info);
    return {info.rcMonitor, info.rcWork};
}

RECT sized(LONG left, LONG top, LONG width, LONG height) { return RECT{left, top, left + width, top + height}; }

std::string shown(const RECT& r)
{
    std::ostringstream text;
    text << '(' << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ')';
    return text.str();
}

// The monitors under test: with one monitor, everything outside it is off screen.
class placement : public testing::Test {
protected:
    void SetUp() override
    {
        if (GetSystemMetrics(SM_CMONITORS) != 1)
            GTEST_SKIP() << "the expected placements assume a single monitor";
        const monitor_areas m = primary_monitor();
        screen_ = m.screen;
        work_ = m.work;
        ASSERT_GE(work_.right - work_.left, 800);
        ASSERT_GE(work_.bottom - work_.top, 600);
    }
    RECT screen_{};
    RECT work_{};
};

TEST_F(placement, rectangles_mostly_off_the_monitor_come_back)
{
    const LONG w = 400, h = 300;
    const LONG y = work_.top + 50, x = work_.left + 50;
    struct placement_case {
        const char* what;
        RECT given;
        unsigned percent;
        RECT expected;
    };
    const placement_case cases[] = {
        // Three quarters off to the right: pulled back against the work area's right edge.
        {"3/4 off right", sized(screen_.right - w / 4, y, w, h), 50, sized(work_.right - w, y, w, h)},
        // Half visible: stays.
        {"1/2 off right", sized(screen_.right - w / 2, y, w, h), 50, sized(screen_.right - w / 2, y, w, h)},
        {"3/4 off bottom", sized(x, screen_.bottom - h / 4, w, h), 50, sized(x, work_.bottom - h, w, h)},
        {"1/2 off bottom", sized(x, screen_.bottom - h / 2, w, h), 50, sized(x, screen_.bottom - h / 2, w, h)},
        // A top-left corner off the monitor is put on its nearest edges first.
        {"3/4 off left", sized(screen_.left - 3 * w / 4, y, w, h), 50, sized(screen_.left, y, w, h)},
        {"above", sized(x, screen_.top - h / 2, w, h), 100, sized(x, screen_.top, w, h)},
        {"far right", sized(screen_.right + 5000, y, w, h), 50, sized(work_.right - w, y, w, h)},
        {"far below and left", sized(screen_.left - 5000, screen_.bottom + 5000, w, h), 50,
         sized(screen_.left, work_.bottom - h, w, h)},
        // The share asked for decides.
        {"3/4 off right, 25 %", sized(screen_.right - w / 4, y, w, h), 25, sized(screen_.right - w / 4, y, w, h)},
        {"3/4 off right, 0 %", sized(screen_.right - w / 4, y, w, h), 0, sized(screen_.right - w / 4, y, w, h)},
        {"1/2 off right, 100 %", sized(screen_.right - w / 2, y, w, h), 100, sized(work_.right - w, y, w, h)},
        {"visible", sized(x, y, w, h), 100, sized(x, y, w, h)},
        // Larger than the work area: the left and top edges win.
        {"too large", sized(work_.left + 10, work_.top + 10, work_.right - work_.left + 200, work_.bottom - work_.top + 200),
         100, sized(work_.left, work_.top, work_.right - work_.left + 200, work_.bottom - work_.top + 200)},
    };
    for (const auto& c : cases) {
        RECT rect = c.given;
        const bool moved = ensure_visible(rect, c.percent);
        EXPECT_TRUE(EqualRect(&rect, &c.expected)) << c.what << ": " << shown(rect) << " instead of " << shown(c.expected);
        EXPECT_EQ(moved, !EqualRect(&c.given, &c.expected)) << c.what;
    }
}

TEST_F(placement, windows_are_moved_in_their_own_coordinates)
{
    // A top-level window three quarters off to the right.
    const RECT given = sized(screen_.right - 100, work_.top + 40, 400, 300);
    test_window frame({.place = given});
    ASSERT_TRUE(frame.get());
    EXPECT_TRUE(ensure_visible(frame.get(), 50));
    RECT now;
    GetWindowRect(frame.get(), &now);
    const RECT expected = sized(work_.right - 400, work_.top + 40, 400, 300);
    EXPECT_TRUE(EqualRect(&now, &expected)) << shown(now);
    EXPECT_FALSE(ensure_visible(frame.get(), 50)); // now in place

    // A child placed in its parent's client coordinates: the parent sits at the right edge,
    // the child sticks out of the monitor.
    test_window parent({.style = WS_POPUP, .place = sized(screen_.right - 300, work_.top + 100, 600, 400)});
    test_window child({.style = WS_CHILD, .place = sized(250, 50, 200, 100), .parent = parent.get()}); // three quarters off
    ASSERT_TRUE(parent.get() && child.get());
    EXPECT_TRUE(ensure_visible(child.get(), 50));
    GetWindowRect(child.get(), &now);
    EXPECT_EQ(now.right, work_.right) << shown(now);
    EXPECT_EQ(now.top, work_.top + 150) << shown(now);
    RECT in_parent = now;
    MapWindowPoints(nullptr, parent.get(), reinterpret_cast<POINT*>(&in_parent), 2);
    EXPECT_EQ(in_parent.left, work_.right - 200 - (screen_.right - 300)) << shown(in_parent);
    EXPECT_EQ(in_parent.top, 50);

    EXPECT_FALSE(ensure_visible(HWND{nullptr}, 50));
}

// The record keeps the callable and asks it at every call: the icon is the provider's current
// answer, a provider that throws gives none, and none is registered gives none.
TEST(icon_provider, asks_the_registered_provider_at_every_call)
{
    setup::set_icon_provider(nullptr);
    EXPECT_EQ(setup::icon_provider(), nullptr);

    const HICON icons[] = {LoadIconW(nullptr, IDI_APPLICATION), LoadIconW(nullptr, IDI_WARNING)};
    ASSERT_TRUE(icons[0] && icons[1] && icons[0] != icons[1]);
    int calls = 0;
    setup::set_icon_provider([&] { return icons[calls++ % 2]; });
    EXPECT_EQ(setup::icon_provider(), icons[0]);
    EXPECT_EQ(setup::icon_provider(), icons[1]);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(&setup::windowing(), &setup::windowing());
    EXPECT_TRUE(setup::windowing().icon_provider);

    setup::set_icon_provider([]() -> HICON { throw std::runtime_error("no icon"); });
    EXPECT_EQ(setup::icon_provider(), nullptr);
    setup::set_icon_provider(nullptr);
    EXPECT_EQ(setup::icon_provider(), nullptr);
}

} // namespace
