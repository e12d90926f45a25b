#include "pages/page_layouts.hpp"

#include "app/string_table.hpp"
#include "app/strings.hpp"

namespace setup {

std::wstring status_text(const status_hint& hint)
{
    const std::wstring sentence = load_string(hint.sentence);
    if (hint.second_button == 0)
        return format_text(sentence, load_string(hint.button));
    return format_text(sentence, load_string(hint.button), load_string(hint.second_button));
}

void set_status_line(HWND page, const status_hint& hint)
{
    SetDlgItemTextW(page, IDC_STATUS_LINE, status_text(hint).c_str());
}

} // namespace setup
