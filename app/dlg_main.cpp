#include "app/dlg_main.hpp"

#include "app/message_box.hpp"
#include "app/string_table.hpp"
#include "app/strings.hpp"
#include "app/windowing.hpp"
#include "pages/page_layouts.hpp"
#include "pages/product.hpp"
#include "pages/version_info.hpp"
#include "resources/resource_ids.h"
#include "engine/registry.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <vector>

namespace setup {

namespace {

constexpr wchar_t installer_size_value[] = L"InstallerSize";

HWND item(HWND dialog, int id) noexcept
{
    return GetDlgItem(dialog, id);
}

void enable(HWND dialog, int id, bool enabled) noexcept
{
    EnableWindow(item(dialog, id), enabled ? TRUE : FALSE);
}

// Gives the focus to the button and makes it the default one.
void focus_default(HWND dialog, int id) noexcept
{
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item(dialog, id)), TRUE);
    SendMessageW(dialog, DM_SETDEFID, static_cast<WPARAM>(id), 0);
}

// The rectangle of a control in its dialog's client coordinates.
RECT client_rect_of(HWND dialog, HWND control) noexcept
{
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// The text of the About entry: string 1003 with the setup's title, "&" and "..." around it,
// or "..." in front for a language read from right to left.
std::wstring about_entry_text()
{
    const std::wstring about = format_text(load_string(IDS_ABOUT_TITLE), setup_title());
    if (reads_right_to_left(current_language().index))
        return L"..." + about;
    return L"&" + about + L"...";
}

INT_PTR CALLBACK about_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM) noexcept
{
    try {
        switch (message) {
        case WM_INITDIALOG: {
            SetWindowTextW(window, format_text(load_string(IDS_ABOUT_TITLE), setup_title()).c_str());
            const version_info& own = version_info::load_own();
            const LANGID language = language_langid(current_language().index);
            SetDlgItemTextW(window, IDC_ABOUT_VERSION, own.display_version(language).c_str());
            SetDlgItemTextW(window, IDC_ABOUT_COPYRIGHT, own.legal_copyright().c_str());
            SetDlgItemTextW(window, IDOK, load_string(IDS_OK).c_str());
            RECT owner{};
            RECT box{};
            if (GetWindowRect(GetWindow(window, GW_OWNER), &owner) && GetWindowRect(window, &box)) {
                const int width = box.right - box.left;
                const int height = box.bottom - box.top;
                RECT placed{(owner.left + owner.right) / 2 - width / 2, (owner.top + owner.bottom) / 2 - height / 2, 0, 0};
                placed.right = placed.left + width;
                placed.bottom = placed.top + height;
                ensure_visible(placed, 50);
                SetWindowPos(window, nullptr, placed.left, placed.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            }
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
                EndDialog(window, LOWORD(wparam));
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
        }
    } catch (...) {
        show_current_exception();
        return TRUE;
    }
}

} // namespace

dlg_main::dlg_main(app_context& context, installation_settings settings)
    : context_(context),
      start_(context, [this] { update_texts(); }),
      mode_(context),
      options_(context),
      install_(context, std::move(settings)),
      end_()
{
}

dlg_main& main_window()
{
    static dlg_main window(instance_app_context());
    return window;
}

void dlg_main::on_init()
{
    RECT outer{};
    GetWindowRect(hwnd(), &outer);
    min_width_ = outer.right - outer.left;
    min_height_ = outer.bottom - outer.top;

    if (HICON icon = icon_provider())
        SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));

    const HINSTANCE instance = GetModuleHandleW(nullptr);
    struct page_template {
        basic_dialog* page;
        int id;
    };
    const page_template templates[] = {
        {&start_, IDD_START}, {&mode_, IDD_MODE}, {&options_, IDD_OPTIONS}, {&install_, IDD_INSTALL}, {&end_, IDD_END},
    };
    for (std::size_t index = 0; index < std::size(templates); ++index) {
        const page_template& page = templates[index];
        if (!CreateDialogParamW(instance, MAKEINTRESOURCEW(page.id), hwnd(), page_dialog_proc,
                                reinterpret_cast<LPARAM>(page.page))) {
            const DWORD error = GetLastError();
            EndDialog(hwnd(), 2);
            throw std::system_error(static_cast<int>(error ? error : ERROR_RESOURCE_NAME_NOT_FOUND),
                                    std::system_category(), "page");
        }
        pages_[index] = page.page;
    }

    layout_frame();
    update_texts();

    ShowWindow(pages_[PAGE_START]->hwnd(), SW_SHOW);
    current_page_ = PAGE_START;
    enable(hwnd(), IDC_BACK, false);
    if (context_.install_state == install_state::newer_version_installed)
        enable(hwnd(), IDC_NEXT, false);
}

void dlg_main::layout_frame()
{
    RECT client{};
    GetClientRect(hwnd(), &client);

    const int grip_width = GetSystemMetrics(SM_CXVSCROLL);
    const int grip_height = GetSystemMetrics(SM_CYHSCROLL);
    HWND grip = CreateWindowExW(WS_EX_NOPARENTNOTIFY, L"ScrollBar", L"",
                                WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_GROUP | SBS_SIZEGRIP,
                                client.right - grip_width, client.bottom - grip_height, grip_width, grip_height,
                                hwnd(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_SIZE_GRIP)),
                                GetModuleHandleW(nullptr), nullptr);
    if (grip)
        SetWindowPos(grip, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    int largest_width = 0;
    int largest_height = 0;
    for (basic_dialog* page : pages_) {
        RECT rect{};
        GetWindowRect(page->hwnd(), &rect);
        largest_width = std::max<int>(largest_width, rect.right - rect.left);
        largest_height = std::max<int>(largest_height, rect.bottom - rect.top);
    }

    const RECT panel = client_rect_of(hwnd(), item(hwnd(), IDC_PANEL));
    const RECT separator = client_rect_of(hwnd(), item(hwnd(), IDC_SEPARATOR));
    const RECT area{panel.right, client.top, client.right, separator.top};

    min_width_ += std::max<int>(0, panel.right + largest_width - client.right);
    min_height_ += std::max<int>(0, client.top + largest_height - separator.top);

    for (basic_dialog* page : pages_)
        SetWindowPos(page->hwnd(), nullptr, area.left, area.top, area.right - area.left, area.bottom - area.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);

    int width = min_width_;
    int height = min_height_;
    if (const std::optional<SIZE> saved = read_installer_size()) {
        width = std::max<int>(saved->cx, min_width_);
        height = std::max<int>(saved->cy, min_height_);
    }

    RECT outer{};
    GetWindowRect(hwnd(), &outer);
    const int left = (outer.left + outer.right) / 2 - width / 2;
    const int top = (outer.top + outer.bottom) / 2 - height / 2;
    SetWindowPos(hwnd(), nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(hwnd(), DM_REPOSITION, 0, 0);
}

void dlg_main::on_size(int width, int height)
{
    std::vector<relayout_item> items = resolve_anchors(hwnd(), frame_anchors);
    for (basic_dialog* page : pages_)
        if (page && page->hwnd())
            items.push_back({frame_page_anchors, page->hwnd()});
    relayout(width, height, items);
}

void dlg_main::on_min_max_info(MINMAXINFO* info)
{
    info->ptMinTrackSize.x = min_width_;
    info->ptMinTrackSize.y = min_height_;
}

void dlg_main::on_destroy()
{
    save_installer_size(hwnd());
}

void dlg_main::update_texts()
{
    SetWindowTextW(hwnd(), setup_title(product_title).c_str());

    const std::wstring about = about_entry_text();
    if (HMENU menu = GetSystemMenu(hwnd(), FALSE)) {
        if (GetMenuState(menu, IDM_ABOUT, MF_BYCOMMAND) == static_cast<UINT>(-1)) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(menu, MF_STRING, IDM_ABOUT, about.c_str());
        } else {
            ModifyMenuW(menu, IDM_ABOUT, MF_BYCOMMAND | MF_STRING, IDM_ABOUT, about.c_str());
        }
    }

    update_buttons();
    for (basic_dialog* page : pages_)
        if (page && page->hwnd())
            page->update_texts();
}

void dlg_main::update_buttons()
{
    const bool succeeded = context_.installation_succeeded;
    const std::wstring next = current_page_ == PAGE_INSTALL && !succeeded ? load_string(IDS_INSTALL)
                                                                           : load_string(IDS_NEXT) + L" >";
    SetDlgItemTextW(hwnd(), IDC_NEXT, next.c_str());
    SetDlgItemTextW(hwnd(), IDC_BACK, (L"< " + load_string(IDS_BACK)).c_str());
    SetDlgItemTextW(hwnd(), IDC_EXIT, load_string(succeeded ? IDS_EXIT : IDS_CANCEL).c_str());
}

void dlg_main::go_to_page(int index)
{
    ShowWindow(pages_[current_page_]->hwnd(), SW_HIDE);
    current_page_ = index;
    ShowWindow(pages_[current_page_]->hwnd(), SW_SHOW);
    update_buttons();
    enable(hwnd(), IDC_BACK, (index != PAGE_START && !context_.installation_succeeded) || index == PAGE_END);
    enable(hwnd(), IDC_NEXT, index != PAGE_END);
    focus_default(hwnd(), index == PAGE_END ? IDC_EXIT : IDC_NEXT);
}

void dlg_main::run_installation()
{
    for (int id : {IDC_BACK, IDC_NEXT, IDC_EXIT})
        enable(hwnd(), id, false);
    installing_ = true;
    const bool succeeded = install_.do_installation();
    installing_ = false;
    context_.installation_succeeded = succeeded;
    enable(hwnd(), IDC_EXIT, true);
    enable(hwnd(), IDC_NEXT, true);
    focus_default(hwnd(), IDC_NEXT);
    update_buttons();
    end_.show_result();
}

bool dlg_main::exit_needs_confirmation() const noexcept
{
    if (context_.installation_succeeded || context_.install_state == install_state::newer_version_installed)
        return false;
    return !(context_.install_state == install_state::same_version_installed && current_page_ == PAGE_START);
}

bool dlg_main::on_command(int id, int)
{
    if (id != IDC_NEXT && id != IDC_BACK && id != IDC_EXIT)
        return false;
    if (installing_)
        return true;

    switch (id) {
    case IDC_NEXT:
        if (current_page_ == PAGE_INSTALL && !context_.installation_succeeded) {
            run_installation();
        } else if ((current_page_ == PAGE_MODE && !context_.advanced_mode) || current_page_ == PAGE_OPTIONS) {
            install_.show_summary();
            go_to_page(PAGE_INSTALL);
        } else if (current_page_ < PAGE_END) {
            go_to_page(current_page_ + 1);
        }
        return true;
    case IDC_BACK:
        if (current_page_ == PAGE_INSTALL)
            go_to_page(context_.advanced_mode ? PAGE_OPTIONS : PAGE_MODE);
        else if (current_page_ > PAGE_START)
            go_to_page(current_page_ - 1);
        return true;
    default:
        if (exit_needs_confirmation() &&
            show_message(load_string(IDS_CONFIRM_EXIT), setup_title(product_title), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
            return true;
        EndDialog(hwnd(), context_.installation_succeeded ? 1 : 2);
        return true;
    }
}

bool dlg_main::on_sys_command(unsigned command)
{
    if (command != IDM_ABOUT)
        return false;
    show_about_box(hwnd());
    return true;
}

std::optional<SIZE> read_installer_size()
{
    std::int32_t size[2]{};
    try {
        const registry_key key = open_key(HKEY_CURRENT_USER, maker_key());
        if (!key || !read_binary(key, installer_size_value, size, sizeof size))
            return std::nullopt;
    } catch (const std::system_error&) {
        return std::nullopt; // a key that cannot be read is no saved size
    }
    return SIZE{size[0], size[1]};
}

void save_installer_size(HWND window) noexcept
{
    RECT outer{};
    if (!GetWindowRect(window, &outer))
        return;
    const std::int32_t size[2]{outer.right - outer.left, outer.bottom - outer.top};
    try {
        write_binary(create_key(HKEY_CURRENT_USER, maker_key()), installer_size_value, size, sizeof size);
    } catch (...) {
        // The size is a convenience: a failure to keep it changes nothing else.
    }
}

void show_about_box(HWND owner)
{
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUT), owner, about_dialog_proc, 0);
}

} // namespace setup
