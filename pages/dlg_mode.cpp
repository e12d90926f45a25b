#include "pages/dlg_mode.hpp"

#include "app/strings.hpp"
#include "pages/page_layouts.hpp"
#include "resources/resource_ids.h"

namespace setup {

void dlg_mode::update_texts()
{
    SetDlgItemTextW(hwnd(), IDC_MODE_GROUP, load_string(IDS_INSTALLATION_METHOD).c_str());
    SetDlgItemTextW(hwnd(), IDC_QUICK_MODE, load_string(IDS_QUICK_INSTALLATION).c_str());
    SetDlgItemTextW(hwnd(), IDC_ADVANCED_MODE, load_string(IDS_ADVANCED_INSTALLATION).c_str());
    set_status_line(hwnd(), continue_hint);
}

void dlg_mode::on_init()
{
    CheckRadioButton(hwnd(), IDC_QUICK_MODE, IDC_ADVANCED_MODE,
                     context_.advanced_mode ? IDC_ADVANCED_MODE : IDC_QUICK_MODE);
}

void dlg_mode::on_size(int width, int height)
{
    relayout(width, height, mode_page_anchors);
}

bool dlg_mode::on_command(int, int)
{
    context_.advanced_mode = IsDlgButtonChecked(hwnd(), IDC_ADVANCED_MODE) != 0;
    return true;
}

} // namespace setup
