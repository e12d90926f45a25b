#include "pages/dlg_options.hpp"

#include "app/string_table.hpp"
#include "app/strings.hpp"
#include "engine/known_folders.hpp"
#include "pages/folder_browser.hpp"
#include "pages/page_layouts.hpp"
#include "pages/product.hpp"
#include "resources/resource_ids.h"

#include <utility>
#include <vector>

namespace setup {

namespace {

bool is_separator(wchar_t c) noexcept
{
    return c == L'\\' || c == L'/';
}

bool is_drive_letter(wchar_t c) noexcept
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// A path cut after its root: the root name ("C:", "\\server"), whether a root directory (a
// separator) follows it, and the rest.
struct rooted_path {
    std::wstring_view root_name;
    bool root_directory = false;
    std::wstring_view relative;

    bool drive() const noexcept { return root_name.size() == 2 && root_name[1] == L':'; }
    bool share() const noexcept { return root_name.size() > 2; }
};

rooted_path split_root(std::wstring_view path) noexcept
{
    rooted_path parts;
    std::size_t i = 0;
    if (path.size() > 2 && is_separator(path[0]) && is_separator(path[1]) && !is_separator(path[2])) {
        i = 2;
        while (i < path.size() && !is_separator(path[i]))
            ++i;
    } else if (path.size() >= 2 && path[1] == L':' && is_drive_letter(path[0])) {
        i = 2;
    }
    parts.root_name = path.substr(0, i);
    if (i < path.size() && is_separator(path[i])) {
        parts.root_directory = true;
        while (i < path.size() && is_separator(path[i]))
            ++i;
    }
    parts.relative = path.substr(i);
    return parts;
}

bool same_root_name(std::wstring_view a, std::wstring_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (is_separator(a[i]) && is_separator(b[i]))
            continue;
        if (CompareStringOrdinal(&a[i], 1, &b[i], 1, TRUE) != CSTR_EQUAL)
            return false;
    }
    return true;
}

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

bool is_absolute_folder(std::wstring_view text)
{
    const rooted_path parts = split_root(text);
    return parts.share() || (parts.drive() && parts.root_directory);
}

std::wstring append_folder(std::wstring_view base, std::wstring_view text)
{
    const rooted_path added = split_root(text);
    if (is_absolute_folder(text))
        return std::wstring(text);
    const rooted_path start = split_root(base);
    if (!added.root_name.empty() && !same_root_name(added.root_name, start.root_name))
        return std::wstring(text);
    if (added.root_directory)
        return std::wstring(start.root_name) + L'\\' + std::wstring(added.relative);
    std::wstring joined(base);
    if (!added.relative.empty()) {
        const bool bare_root_name = start.relative.empty() && !start.root_directory;
        if (!joined.empty() && !is_separator(joined.back()) && !bare_root_name)
            joined += L'\\';
        joined += added.relative;
    }
    return joined;
}

std::wstring lexical_normal_form(std::wstring_view path)
{
    const rooted_path parts = split_root(path);
    std::vector<std::wstring_view> kept;
    std::wstring_view rest = parts.relative;
    while (!rest.empty()) {
        std::size_t end = 0;
        while (end < rest.size() && !is_separator(rest[end]))
            ++end;
        const std::wstring_view component = rest.substr(0, end);
        while (end < rest.size() && is_separator(rest[end]))
            ++end;
        rest.remove_prefix(end);

        if (component == L".")
            continue;
        if (component == L"..") {
            if (!kept.empty() && kept.back() != L"..")
                kept.pop_back();
            else if (!parts.root_directory)
                kept.push_back(component);
            continue;
        }
        kept.push_back(component);
    }

    std::wstring normal(parts.root_name);
    for (wchar_t& c : normal)
        if (c == L'/')
            c = L'\\';
    if (parts.root_directory)
        normal += L'\\';
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (i > 0)
            normal += L'\\';
        normal += kept[i];
    }
    return normal.empty() ? std::wstring(L".") : normal;
}

std::wstring typed_install_folder(std::wstring_view text, std::wstring_view program_files)
{
    return lexical_normal_form(append_folder(program_files, text));
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
