#pragma once
// What the pages and the frame share beyond the base class: their anchor tables and the status
// line, the one-line hint (control IDC_STATUS_LINE) naming the button to press.

#include "pages/basic_dialog.hpp"
#include "resources/resource_ids.h"

#include <cstdint>
#include <string>

namespace setup {

inline constexpr anchored_control start_page_anchors[] = {
    {IDC_LANGUAGE_LIST, grow_width},
    {IDC_START_NOTE, grow_width},
    {IDC_INFO, grow_width | grow_height},
    {IDC_STATUS_LINE, move_y | grow_width},
};

inline constexpr anchored_control mode_page_anchors[] = {
    {IDC_MODE_GROUP, grow_width},
    {IDC_QUICK_MODE, grow_width},
    {IDC_ADVANCED_MODE, grow_width},
    {IDC_STATUS_LINE, move_y | grow_width},
};

inline constexpr anchored_control options_page_anchors[] = {
    {IDC_FOLDER_GROUP, grow_width},
    {IDC_FOLDER_PROMPT, grow_width},
    {IDC_FOLDER_EDIT, grow_width},
    {IDC_BROWSE, move_x},
    {IDC_MENU_SHORTCUT, grow_width},
    {IDC_DESKTOP_SHORTCUT, grow_width},
    {IDC_STATUS_LINE, move_y | grow_width},
};

inline constexpr anchored_control install_page_anchors[] = {
    {IDC_INSTALL_LOG, grow_width | grow_height},
    {IDC_INSTALL_PROGRESS, move_y | grow_width},
    {IDC_STATUS_LINE, move_y | grow_width},
};

inline constexpr anchored_control end_page_anchors[] = {
    {IDC_INFO, grow_width | grow_height},
    {IDC_STATUS_LINE, move_y | grow_width},
};

// The frame's own controls; after them come its page windows, each with frame_page_anchors.
// The panel's bitmap does not move.
inline constexpr anchored_control frame_anchors[] = {
    {IDC_PANEL, grow_height},
    {IDC_SEPARATOR, move_y | grow_width},
    {IDC_BACK, move_x | move_y},
    {IDC_NEXT, move_x | move_y},
    {IDC_EXIT, move_x | move_y},
    {IDC_SIZE_GRIP, move_x | move_y},
};
inline constexpr std::uint32_t frame_page_anchors = grow_width | grow_height;

// A status line: a sentence with "{0}" (and "{1}") filled with the plain captions of buttons,
// by string id; a second button of 0 is none.
struct status_hint {
    unsigned sentence = 0;
    unsigned button = 0;
    unsigned second_button = 0;
};

inline constexpr status_hint continue_hint{IDS_CONTINUE, IDS_NEXT};
inline constexpr status_hint continue_or_exit_hint{IDS_CONTINUE_OR_EXIT, IDS_NEXT, IDS_CANCEL};
inline constexpr status_hint start_installation_hint{IDS_START_INSTALLATION, IDS_INSTALL};
inline constexpr status_hint exit_installation_hint{IDS_EXIT_INSTALLATION, IDS_EXIT};

// The text of a status line in the current language.
std::wstring status_text(const status_hint& hint);
// Sets the status line of `page` to that text.
void set_status_line(HWND page, const status_hint& hint);

} // namespace setup
