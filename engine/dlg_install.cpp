#include "engine/dlg_install.hpp"

#include "app/message_box.hpp"
#include "app/string_table.hpp"
#include "app/strings.hpp"
#include "engine/payload.hpp"
#include "pages/page_layouts.hpp"
#include "resources/resource_ids.h"

#include <commctrl.h>

#include <exception>
#include <memory>
#include <sstream>
#include <system_error>

namespace setup {

namespace {

// Makes the wait cursor current for its lifetime and restores the cursor that was current.
class wait_cursor {
public:
    wait_cursor() noexcept : previous_(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {}
    wait_cursor(const wait_cursor&) = delete;
    wait_cursor& operator=(const wait_cursor&) = delete;
    ~wait_cursor() { SetCursor(previous_); }

private:
    HCURSOR previous_;
};

} // namespace

dlg_install::dlg_install(app_context& context, installation_settings settings)
    : context_(context), settings_(std::move(settings))
{
}

void dlg_install::on_init()
{
    SendDlgItemMessageW(hwnd(), IDC_INSTALL_PROGRESS, PBM_SETRANGE32, 0, 100);
    ShowWindow(GetDlgItem(hwnd(), IDC_INSTALL_PROGRESS), SW_HIDE);
}

void dlg_install::update_texts()
{
    set_status_line(hwnd(), start_installation_hint);
}

void dlg_install::on_size(int width, int height)
{
    relayout(width, height, install_page_anchors);
}

void dlg_install::show_summary()
{
    SetDlgItemTextW(hwnd(), IDC_INSTALL_LOG, installation_summary(context_).c_str());
}

void dlg_install::append_log(const std::wstring& text)
{
    appended_ += text;
    if (!running_)
        show_appended();
}

void dlg_install::show_appended()
{
    last_shown_ = GetTickCount64();
    if (appended_.empty())
        return;
    SendDlgItemMessageW(hwnd(), IDC_INSTALL_LOG, EM_SETSEL, 0x7FFFFFFF, -1);
    SendDlgItemMessageW(hwnd(), IDC_INSTALL_LOG, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(appended_.c_str()));
    SendDlgItemMessageW(hwnd(), IDC_INSTALL_LOG, EM_LINESCROLL, 0, 1);
    appended_.clear();
}

void dlg_install::set_status(const std::wstring& text)
{
    SetDlgItemTextW(hwnd(), IDC_STATUS_LINE, text.c_str());
}

void dlg_install::set_progress(int percent)
{
    if (percent == percent_)
        return;
    percent_ = percent;
    SendDlgItemMessageW(hwnd(), IDC_INSTALL_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

void dlg_install::show_progress()
{
    ShowWindow(GetDlgItem(hwnd(), IDC_INSTALL_PROGRESS), SW_SHOW);
}

void dlg_install::pump()
{
    if (GetTickCount64() - last_shown_ >= log_interval)
        show_appended();
    pump_messages(GetAncestor(hwnd(), GA_ROOT));
}

bool dlg_install::do_installation()
{
    const wait_cursor cursor;
    // The log's lines in batches while the run goes on; whatever is left when it ends, shown.
    struct batched_log {
        dlg_install& page;
        explicit batched_log(dlg_install& page) : page(page) { page.running_ = true; }
        ~batched_log()
        {
            page.running_ = false;
            page.show_appended();
        }
        batched_log(const batched_log&) = delete;
        batched_log& operator=(const batched_log&) = delete;
    } const batched{*this};
    percent_ = -1;
    try {
        std::unique_ptr<std::istream> payload = open_payload_resource(IDR_PAYLOAD_TYPE, IDR_PAYLOAD);
        std::istringstream missing;
        return setup::do_installation(context_, payload ? *payload : missing, *this, settings_);
    } catch (...) {
        // Only a failure of the page itself gets here; the sequence keeps its own failures.
        // Whatever the run had created is taken back, so that the machine is as it was.
        const std::uint32_t code = exception_error_code(std::current_exception());
        try {
            context_.uninstall_log.rollback();
            const std::wstring failure = format_text(load_string(IDS_INSTALLATION_FAILED),
                                                     failure_code_text(std::error_code(static_cast<int>(code), std::system_category())));
            set_status(failure);
            append_log(failure + L"\r\n");
        } catch (...) {
        }
        return false;
    }
}

void pump_messages(HWND dialog) noexcept
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (dialog && IsWindow(dialog) && IsDialogMessageW(dialog, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

} // namespace setup
