#include "pages/dlg_end.hpp"

#include "app/strings.hpp"
#include "pages/page_layouts.hpp"
#include "resources/resource_ids.h"

namespace setup {

void dlg_end::update_texts()
{
    SetDlgItemTextW(hwnd(), IDC_INFO, L"");
    set_status_line(hwnd(), exit_installation_hint);
}

void dlg_end::on_size(int width, int height)
{
    relayout(width, height, end_page_anchors);
}

void dlg_end::show_result()
{
    SetDlgItemTextW(hwnd(), IDC_INFO, load_string(IDS_COMPLETE).c_str());
}

} // namespace setup
