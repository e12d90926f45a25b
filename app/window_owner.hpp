#pragma once
// The window that a box or a system dialog opened by this thread belongs to.

#include <windows.h>

namespace setup {

// Which of the thread's windows can own, when none of them is active.
enum class owner_search {
    any_window,      // the thread's first window
    captioned_root,  // the first window whose root owner has a caption
};

// The last active popup of the root owner of the thread's active window; when none is active,
// of the window `search` finds among the thread's windows. Null when the thread has no such
// window.
HWND find_owner_window(owner_search search) noexcept;

} // namespace setup
