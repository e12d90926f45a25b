#include "app/window_owner.hpp"

namespace setup {
namespace {

struct thread_window_search {
    owner_search search;
    HWND root = nullptr;
};

BOOL CALLBACK take_root_of(HWND window, LPARAM data) noexcept
{
    auto& found = *reinterpret_cast<thread_window_search*>(data);
    HWND root = GetAncestor(window, GA_ROOTOWNER);
    if (!root)
        root = window;
    if (found.search == owner_search::captioned_root && (GetWindowLongW(root, GWL_STYLE) & WS_CAPTION) != WS_CAPTION)
        return TRUE;
    found.root = root;
    return FALSE;
}

} // namespace

HWND find_owner_window(owner_search search) noexcept
{
    thread_window_search found{search};
    if (HWND active = GetActiveWindow()) {
        found.root = GetAncestor(active, GA_ROOTOWNER);
        if (!found.root)
            found.root = active;
    } else {
        EnumThreadWindows(GetCurrentThreadId(), take_root_of, reinterpret_cast<LPARAM>(&found));
    }
    return found.root ? GetLastActivePopup(found.root) : nullptr;
}

} // namespace setup
