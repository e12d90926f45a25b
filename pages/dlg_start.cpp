#include "pages/dlg_start.hpp"

#include "app/message_box.hpp"
#include "app/string_table.hpp"
#include "pages/page_layouts.hpp"
#include "pages/product.hpp"
#include "resources/resource_ids.h"

#include <commctrl.h>

namespace setup {

namespace {

// One entry of the language box: a language and its flag icon.
struct language_entry {
    language_index language = 0;
    int icon = 0;
};

// The languages offered, in the order of the box.
constexpr language_entry languages_offered[] = {
    {0, IDI_FLAG_FRENCH},
    {1, IDI_FLAG_ENGLISH},
    {2, IDI_FLAG_GERMAN},
    {3, IDI_FLAG_SPANISH},
};

// With a more recent version installed, the only way on is the frame's Exit, captioned Cancel.
constexpr status_hint cancel_installation_hint{IDS_EXIT_INSTALLATION, IDS_CANCEL};

constexpr int flag_width = 18;
constexpr int flag_height = 12;
constexpr int icon_width = 16;

// The info and status texts of the page for a detection result, in the current language.
struct start_texts {
    std::wstring info;
    std::wstring status;
};

start_texts start_page_texts(install_state state, const std::wstring& installed_version_text)
{
    switch (state) {
    case install_state::older_version_installed:
        return {format_text(load_string(IDS_UPDATE), installed_version_text, product_title),
                status_text(continue_hint)};
    case install_state::same_version_installed:
        return {format_text(load_string(IDS_ALREADY_INSTALLED), product_title) + L"\n" +
                    load_string(IDS_CONFIRM_REINSTALLATION),
                status_text(continue_or_exit_hint)};
    case install_state::newer_version_installed:
        return {format_text(load_string(IDS_FIRST_INSTALLATION), product_title) + L"\n" +
                    format_text(load_string(IDS_NEWER_INSTALLED), installed_version_text),
                status_text(cancel_installation_hint)};
    case install_state::not_installed:
    default:
        return {format_text(load_string(IDS_FIRST_INSTALLATION), product_title), status_text(continue_hint)};
    }
}

} // namespace

install_state install_state_of(const app_context& context, std::wstring* text)
{
    const install_state state = context.install_state;
    if (text && (state == install_state::newer_version_installed || state == install_state::older_version_installed))
        *text = context.installed_version_text;
    return state;
}

dlg_start::dlg_start(app_context& context, std::function<void()> texts_changed)
    : context_(context), texts_changed_(std::move(texts_changed))
{
}

void dlg_start::update_texts()
{
    SetDlgItemTextW(hwnd(), IDC_LANGUAGE_LABEL, load_string(IDS_SELECT_LANGUAGE).c_str());
    std::wstring version;
    const start_texts texts = start_page_texts(install_state_of(context_, &version), version);
    SetDlgItemTextW(hwnd(), IDC_INFO, texts.info.c_str());
    SetDlgItemTextW(hwnd(), IDC_STATUS_LINE, texts.status.c_str());
}

void dlg_start::on_init()
{
    fill_language_box();
}

void dlg_start::fill_language_box()
{
    HWND box = GetDlgItem(hwnd(), IDC_LANGUAGE_LIST);
    flag_images_.reset(ImageList_Create(flag_width, flag_height, ILC_COLOR24, 8, 1));
    const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd(), GWLP_HINSTANCE));

    const language_index current = current_language().index;
    int selected = -1;
    for (const language_entry& entry : languages_offered) {
        // native_language_name gives the name with its first character upper-cased.
        std::wstring name = native_language_name(entry.language);
        int image = -1;
        if (flag_images_) {
            const mw::unique_hicon icon(static_cast<HICON>(
                LoadImageW(instance, MAKEINTRESOURCEW(entry.icon), IMAGE_ICON, icon_width, flag_height, 0)));
            if (icon)
                image = ImageList_ReplaceIcon(flag_images_.get(), -1, icon.get());
        }
        COMBOBOXEXITEMW item{};
        item.mask = CBEIF_TEXT | CBEIF_IMAGE | CBEIF_SELECTEDIMAGE | CBEIF_LPARAM;
        item.iItem = -1;
        item.pszText = name.data();
        item.iImage = image;
        item.iSelectedImage = image;
        item.lParam = static_cast<LPARAM>(entry.language);
        const auto inserted =
            static_cast<int>(SendMessageW(box, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        if (inserted >= 0 && entry.language == current)
            selected = inserted;
    }
    SendMessageW(box, CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(flag_images_.get()));
    if (HWND inner = reinterpret_cast<HWND>(SendMessageW(box, CBEM_GETCOMBOCONTROL, 0, 0)))
        SetWindowLongW(inner, GWL_STYLE, GetWindowLongW(inner, GWL_STYLE) & ~CBS_NOINTEGRALHEIGHT);
    SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

void dlg_start::on_size(int width, int height)
{
    relayout(width, height, start_page_anchors);
}

bool dlg_start::on_command(int id, int code)
{
    if (id != IDC_LANGUAGE_LIST || code != CBN_SELCHANGE)
        return false;
    HWND box = GetDlgItem(hwnd(), IDC_LANGUAGE_LIST);
    const auto selected = static_cast<int>(SendMessageW(box, CB_GETCURSEL, 0, 0));
    if (selected < 0)
        return true;
    COMBOBOXEXITEMW item{};
    item.mask = CBEIF_LPARAM;
    item.iItem = selected;
    if (!SendMessageW(box, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)))
        return true;

    const auto language = static_cast<language_index>(item.lParam);
    set_language(language);
    if (!ui_translated(language))
        show_message(format_text(load_string(IDS_INSTALLER_IN_ENGLISH), product_name), setup_title(product_title),
                     MB_OK | MB_ICONINFORMATION);
    if (texts_changed_)
        texts_changed_();
    return true;
}

} // namespace setup
