#include "pages/dlg_options.hpp"

#include "app/string_table.hpp"
#include "app/strings.hpp"
#include "engine/known_folders.hpp"
#include "pages/folder_browser.hpp"
#include "pages/page_layouts.hpp"
#include "pages/product.hpp"
#include "resources/resource_ids.h"
#include "support/paths.hpp"

#include <utility>

namespace setup {

namespace {

// Writes the folder box; the edit notifications this raises are the page's own, not typing.
class updating_scope {
public:
    explicit updating_scope(bool& flag) noexcept : flag_(flag), previous_(std::exchange(flag, true)) {}
    ~updating_scope() { flag_ = previous_; }
    updating_scope(const updating_scope&) = delete;
    updating_scope& operator=(const updating_scope&) = delete;

private:
    bool& flag_;
    bool previous_;
};

std::wstring window_text(HWND window)
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

} // namespace

std::wstring typed_install_folder(std::wstring_view text, std::wstring_view program_files)
{
    return mw::lexical_normal_form(mw::append_path(program_files, text));
}

void dlg_options::update_texts()
{
    const std::wstring prompt = format_text(load_string(IDS_SELECT_FOLDER), product_name);
    SetDlgItemTextW(hwnd(), IDC_FOLDER_GROUP, load_string(IDS_FOLDER_SELECTION).c_str());
    SetDlgItemTextW(hwnd(), IDC_FOLDER_PROMPT, prompt.c_str());
    SetDlgItemTextW(hwnd(), IDC_BROWSE, load_string(IDS_BROWSE).c_str());
    SetDlgItemTextW(hwnd(), IDC_MENU_SHORTCUT, load_string(IDS_MENU_SHORTCUT).c_str());
    SetDlgItemTextW(hwnd(), IDC_DESKTOP_SHORTCUT, load_string(IDS_DESKTOP_SHORTCUT).c_str());
    set_status_line(hwnd(), continue_hint);
}

void dlg_options::on_init()
{
    // A failed lookup has told the user; typed relative folders then stay relative.
    program_files_folder_ = known_folder(0);
    show_install_folder();
    if (context_.install_state != install_state::not_installed) {
        EnableWindow(GetDlgItem(hwnd(), IDC_FOLDER_PROMPT), FALSE);
        SendDlgItemMessageW(hwnd(), IDC_FOLDER_EDIT, EM_SETREADONLY, TRUE, 0);
        EnableWindow(GetDlgItem(hwnd(), IDC_BROWSE), FALSE);
    }
    CheckDlgButton(hwnd(), IDC_MENU_SHORTCUT, context_.menu_shortcut ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(hwnd(), IDC_DESKTOP_SHORTCUT, context_.desktop_shortcut ? BST_CHECKED : BST_UNCHECKED);
}

void dlg_options::on_size(int width, int height)
{
    relayout(width, height, options_page_anchors);
}

void dlg_options::show_install_folder()
{
    const updating_scope updating(updating_text_);
    SetDlgItemTextW(hwnd(), IDC_FOLDER_EDIT, context_.install_folder.c_str());
}

bool dlg_options::on_command(int id, int code)
{
    switch (id) {
    case IDC_BROWSE: {
        std::wstring start = context_.install_folder;
        folder_browser browser;
        const std::wstring chosen = browser.browse(start, product_key_name(),
                                                   format_text(load_string(IDS_SELECT_FOLDER), product_name));
        if (!chosen.empty()) {
            context_.install_folder = chosen;
            show_install_folder();
        }
        return true;
    }
    case IDC_FOLDER_EDIT:
        if (code != EN_UPDATE || updating_text_)
            return false;
        context_.install_folder =
            typed_install_folder(window_text(GetDlgItem(hwnd(), IDC_FOLDER_EDIT)), program_files_folder_);
        return true;
    case IDC_DESKTOP_SHORTCUT:
        context_.desktop_shortcut = IsDlgButtonChecked(hwnd(), IDC_DESKTOP_SHORTCUT) != 0;
        return true;
    case IDC_MENU_SHORTCUT:
        context_.menu_shortcut = IsDlgButtonChecked(hwnd(), IDC_MENU_SHORTCUT) != 0;
        return true;
    default:
        return false;
    }
}

} // namespace setup
