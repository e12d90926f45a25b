#pragma once
// The shell's folder dialog for the installation folder. Whatever folder the user picks, the
// product's own folder name (the suffix, one or more components) stays appended to it; a
// folder typed into the dialog's edit box is checked before the dialog closes.
//
// Paths are handled in buffers of MAX_PATH characters: a path of MAX_PATH characters or more
// does not fit, and the step that needed it is skipped (each function says how).

#include "engine/com.hpp"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace setup {

// The error of a folder name that is too long (ERROR_FILENAME_EXCED_RANGE as an HRESULT).
inline constexpr std::uint32_t folder_too_long = 0x800700CE;

// One browse: create, call browse once, destroy. Uses COM on the calling thread for its
// lifetime (initialised by the first browse, undone by the destructor).
class folder_browser {
public:
    folder_browser() = default;
    folder_browser(const folder_browser&) = delete;
    folder_browser& operator=(const folder_browser&) = delete;

    // Runs the dialog, owned by the root owner of this thread's active (or first captioned)
    // window, opened at `start` with `suffix` kept on every folder picked. The chosen folder, or
    // empty when the user cancelled, picked an item outside the file system, or COM could not
    // be initialised (the user then saw the system's text). After a choice `start` receives the
    // chosen folder without the suffix.
    std::wstring browse(std::wstring& start, const std::wstring& suffix, const std::wstring& title);

    // Where the dialog opens: `start` (a relative one is discarded; "X:" becomes "X:\"; none:
    // the user's Documents folder), with `suffix` appended. A suffix with a character that is
    // invalid in a path or a wildcard is not taken; trailing dots are dropped from it.
    void set_start(const std::wstring& start, const std::wstring& suffix);
    // Appends the part of the suffix that the folder does not already end with (a folder
    // C:\X\Works with suffix Works\Tilewright gets only Tilewright). Leaves the folder as it is
    // when it already ends with the whole suffix or the result would not fit.
    void apply_suffix();
    // The folder without the suffix, when it ends with it; else the folder itself.
    std::wstring strip_suffix() const;
    // How many components of `suffix` `path` ends with, compared without regard to case, when
    // it ends with all of them and has at least one component before them; else 0 (also when
    // either does not fit a path buffer).
    static unsigned suffix_depth(std::wstring_view path, std::wstring_view suffix);

    // A folder typed into the dialog, taken as the complete folder (the suffix is not applied):
    // on success it becomes the folder and stays the result; on failure a box owned by `dialog`
    // shows the system's text of the error, and the dialog stays open.
    bool validate_typed_folder(HWND dialog, std::wstring_view text);
    // The check behind it: 0 and the fully qualified folder, or the error. Blanks around the
    // text and one trailing backslash are dropped, a bare drive "X:" means its root, an empty
    // text the current directory; a text that does not fit gives folder_too_long, a path with a
    // character invalid in a path or a wildcard ERROR_BAD_PATHNAME. The disk is not consulted
    // beyond qualifying the name: the folder need not exist.
    static std::uint32_t qualify_typed_folder(std::wstring_view text, std::wstring& qualified);

    // The current folder (the result once the dialog closed), and the suffix taken.
    const std::wstring& folder() const noexcept { return folder_; }
    const std::wstring& suffix() const noexcept { return suffix_; }
    // The dialog's edit box while the dialog runs (null when it shows none).
    HWND edit_window() const noexcept { return edit_window_; }

private:
    friend int CALLBACK browse_callback(HWND dialog, UINT message, LPARAM lparam, LPARAM data);
    int on_message(HWND dialog, UINT message, LPARAM lparam);
    void on_initialized(HWND dialog);
    void on_selection_changed(HWND dialog, LPARAM item);
    void show_folder_in_edit() const;

    std::wstring folder_;
    std::wstring suffix_;
    std::wstring title_;
    HWND edit_window_ = nullptr;
    // COM, when this object initialised it.
    std::optional<com_initialization> com_;
    // The dialog has reported its initialisation.
    bool dialog_initialized_ = false;
    // The file-system folder the dialog's tree last selected; empty for none.
    std::wstring selected_;
    // folder_ was set from a typed and validated path.
    bool folder_typed_ = false;
};

} // namespace setup
