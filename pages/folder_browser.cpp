#include "pages/folder_browser.hpp"

#include "app/message_box.hpp"
#include "app/strings.hpp"
#include "app/window_owner.hpp"
#include "engine/known_folders.hpp"
#include "support/paths.hpp"
#include "support/unique_handle.hpp"

#include <knownfolders.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <array>
#include <cwchar>
#include <system_error>
#include <type_traits>

namespace setup {

namespace {

using path_buffer = std::array<wchar_t, MAX_PATH>;
using unique_item_list = mw::unique_cotaskmem_ptr<std::remove_pointer_t<PIDLIST_ABSOLUTE>>;

// Copies `text` into `buffer`; false when it does not fit (with its terminating null).
bool fill(path_buffer& buffer, std::wstring_view text) noexcept
{
    if (text.size() >= buffer.size())
        return false;
    std::copy(text.begin(), text.end(), buffer.begin());
    buffer[text.size()] = L'\0';
    return true;
}

// Whether a character may stand in a folder name: neither invalid in a path nor a wildcard.
bool folder_character(wchar_t c) noexcept
{
    const UINT type = PathGetCharTypeW(c);
    return type != GCT_INVALID && !(type & GCT_WILD);
}

bool folder_characters(std::wstring_view text) noexcept
{
    return std::all_of(text.begin(), text.end(), folder_character);
}

// The user's Documents folder, looked up once per process; empty when there is none.
const std::wstring& documents_folder()
{
    static const std::wstring folder = [] {
        std::wstring path;
        lookup_known_folder(FOLDERID_Documents, path);
        return path;
    }();
    return folder;
}

// An error box without caption over `owner`, reading right to left where its boxes do.
void show_error_box(HWND owner, std::uint32_t code)
{
    const std::wstring text = system_error_text(code, LANGIDFROMLCID(current_language().lcid));
    const UINT flags = MB_ICONEXCLAMATION | (message_right_to_left(owner) ? MB_RTLREADING : 0);
    MessageBoxW(owner, text.c_str(), nullptr, flags);
}

BOOL CALLBACK take_edit_box(HWND window, LPARAM found) noexcept
{
    wchar_t name[16] = {};
    if (GetClassNameW(window, name, static_cast<int>(std::size(name))) > 0 && lstrcmpiW(name, L"Edit") == 0) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

// Whether the path in `buffer` is down to its first component ("C:\", "x").
bool single_component(const wchar_t* path) noexcept
{
    return PathFindFileNameW(path) == path;
}

} // namespace

int CALLBACK browse_callback(HWND dialog, UINT message, LPARAM lparam, LPARAM data)
{
    try {
        return reinterpret_cast<folder_browser*>(data)->on_message(dialog, message, lparam);
    } catch (...) {
        // Nothing may unwind into the shell's dialog: the user sees what failed.
        show_current_exception();
        return 0;
    }
}

std::wstring folder_browser::browse(std::wstring& start, const std::wstring& suffix, const std::wstring& title)
{
    const HWND owner = find_owner_window(owner_search::captioned_root);
    if (!com_) {
        try {
            com_.emplace(COINIT_APARTMENTTHREADED);
        } catch (const std::system_error& failure) {
            show_error_box(owner, static_cast<std::uint32_t>(failure.code().value()));
            return {};
        }
    }
    dialog_initialized_ = false;
    selected_.clear();
    folder_typed_ = false;
    edit_window_ = nullptr;
    title_ = title;
    set_start(start, suffix);

    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.lpszTitle = title_.empty() ? nullptr : title_.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS | BIF_NEWDIALOGSTYLE;
    if (!suffix_.empty())
        info.ulFlags |= BIF_EDITBOX | BIF_VALIDATE;
    info.lpfn = browse_callback;
    info.lParam = reinterpret_cast<LPARAM>(this);

    const unique_item_list item(SHBrowseForFolderW(&info));
    edit_window_ = nullptr;
    if (!item)
        return {};
    path_buffer picked{};
    if (!SHGetPathFromIDListW(item.get(), picked.data()))
        return {};
    if (!folder_typed_)
        folder_ = picked.data();
    start = strip_suffix();
    return folder_;
}

void folder_browser::set_start(const std::wstring& start, const std::wstring& suffix)
{
    folder_ = PathIsRelativeW(start.c_str()) ? std::wstring() : start;
    if (!folder_.empty() && folder_.back() == L':')
        folder_ += L'\\';
    if (folder_.empty())
        folder_ = documents_folder();

    suffix_.clear();
    if (folder_characters(suffix)) {
        suffix_ = suffix;
        suffix_.erase(suffix_.find_last_not_of(L'.') + 1);
    }
    apply_suffix();
}

unsigned folder_browser::suffix_depth(std::wstring_view path, std::wstring_view suffix)
{
    path_buffer p{};
    path_buffer s{};
    if (!fill(p, path) || !fill(s, suffix))
        return 0;
    PathRemoveBackslashW(p.data());
    PathRemoveBackslashW(s.data());
    for (unsigned count = 1;; ++count) {
        if (single_component(p.data()))
            return 0;
        const wchar_t* suffix_component = PathFindFileNameW(s.data());
        if (lstrcmpiW(PathFindFileNameW(p.data()), suffix_component) != 0)
            return 0;
        if (suffix_component == s.data())
            return count;
        if (!PathRemoveFileSpecW(p.data()) || !PathRemoveFileSpecW(s.data()))
            return 0;
    }
}

void folder_browser::apply_suffix()
{
    if (suffix_.empty() || suffix_depth(folder_, suffix_) != 0)
        return;
    const wchar_t* tail = suffix_.c_str();
    path_buffer leading{};
    if (fill(leading, suffix_)) {
        while (PathRemoveFileSpecW(leading.data()) && leading[0] != L'\0') {
            if (const unsigned n = suffix_depth(folder_, leading.data())) {
                for (unsigned i = 0; i < n && tail; ++i)
                    tail = PathFindNextComponentW(tail);
                break;
            }
        }
    }
    path_buffer joined{};
    if (tail && fill(joined, folder_) && PathAppendW(joined.data(), tail))
        folder_ = joined.data();
}

std::wstring folder_browser::strip_suffix() const
{
    const unsigned n = suffix_.empty() ? 0 : suffix_depth(folder_, suffix_);
    path_buffer stripped{};
    if (n == 0 || !fill(stripped, folder_))
        return folder_;
    PathRemoveBackslashW(stripped.data());
    for (unsigned i = 0; i < n; ++i)
        PathRemoveFileSpecW(stripped.data());
    return stripped.data();
}

std::uint32_t folder_browser::qualify_typed_folder(std::wstring_view text, std::wstring& qualified)
{
    path_buffer typed{};
    if (!fill(typed, text))
        return folder_too_long;
    PathRemoveBlanksW(typed.data());
    PathRemoveBackslashW(typed.data());
    if (std::wcslen(typed.data()) == 2 && typed[1] == L':') {
        typed[2] = L'\\';
        typed[3] = L'\0';
    }
    if (typed[0] == L'\0') {
        const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(typed.size()), typed.data());
        if (length == 0) {
            const DWORD error = GetLastError();
            return error != 0 ? error : static_cast<std::uint32_t>(E_FAIL);
        }
        if (length >= typed.size())
            return folder_too_long;
    }
    path_buffer full{};
    if (!PathSearchAndQualifyW(typed.data(), full.data(), static_cast<UINT>(full.size())))
        return ERROR_BAD_PATHNAME;
    if (!folder_characters(full.data()))
        return ERROR_BAD_PATHNAME;
    qualified = full.data();
    return 0;
}

bool folder_browser::validate_typed_folder(HWND dialog, std::wstring_view text)
{
    std::wstring qualified;
    if (const std::uint32_t error = qualify_typed_folder(text, qualified)) {
        show_error_box(dialog, error);
        return false;
    }
    folder_ = std::move(qualified);
    folder_typed_ = true;
    return true;
}

int folder_browser::on_message(HWND dialog, UINT message, LPARAM lparam)
{
    switch (message) {
    case BFFM_INITIALIZED:
        on_initialized(dialog);
        return 0;
    case BFFM_SELCHANGED:
        if (dialog_initialized_)
            on_selection_changed(dialog, lparam);
        return 0;
    case BFFM_VALIDATEFAILEDW:
        // 0 closes the dialog with the typed folder, 1 keeps it open.
        return validate_typed_folder(dialog, lparam ? reinterpret_cast<const wchar_t*>(lparam) : L"") ? 0 : 1;
    default:
        return 0;
    }
}

void folder_browser::on_initialized(HWND dialog)
{
    dialog_initialized_ = true;
    // Open at the deepest folder of the start that exists.
    path_buffer existing{};
    bool found = false;
    if (fill(existing, folder_)) {
        while (existing[0] != L'\0') {
            if (PathIsDirectoryW(existing.data())) {
                found = true;
                break;
            }
            if (!PathRemoveFileSpecW(existing.data()))
                break;
        }
    }
    if (found) {
        // Under Wine the dialog's walk down to the folder now and then stops short of it, on a
        // folder beside one of its parents: it is asked again, a few times at most.
        for (int attempt = 0; attempt < 3; ++attempt) {
            SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(existing.data()));
            if (!selected_.empty() && mw::same_path(selected_, existing.data()))
                break;
        }
        SendMessageW(dialog, BFFM_SETEXPANDED, TRUE, reinterpret_cast<LPARAM>(existing.data()));
    }
    if (!suffix_.empty()) {
        edit_window_ = nullptr;
        EnumChildWindows(dialog, take_edit_box, reinterpret_cast<LPARAM>(&edit_window_));
        if (found)
            show_folder_in_edit();
    }
}

void folder_browser::on_selection_changed(HWND dialog, LPARAM item)
{
    path_buffer path{};
    const bool in_file_system =
        item && SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(item), path.data());
    selected_ = in_file_system ? path.data() : L"";
    if (in_file_system) {
        folder_ = path.data();
        apply_suffix();
    }
    show_folder_in_edit();
    if (suffix_.empty())
        SendMessageW(dialog, BFFM_ENABLEOK, 0, in_file_system ? TRUE : FALSE);
}

void folder_browser::show_folder_in_edit() const
{
    if (!edit_window_)
        return;
    SetWindowTextW(edit_window_, folder_.c_str());
    SendMessageW(edit_window_, EM_SETSEL, 0, -1);
}

} // namespace setup
