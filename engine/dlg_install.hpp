#pragma once
// The install page: the option summary before the installation, then the installation itself
// with its running log, progress bar and status line. The page keeps its window alive while
// the installation runs on the user-interface thread, by pumping the thread's messages
// between the steps.

#include "app/app_context.hpp"
#include "engine/installation.hpp"
#include "pages/basic_dialog.hpp"

#include <windows.h>

#include <string>

namespace setup {

class dlg_install final : public basic_dialog, private installation_observer {
public:
    explicit dlg_install(app_context& context, installation_settings settings = {});

    void update_texts() override;
    void on_init() override;
    void on_size(int width, int height) override;

    // Replaces the log with the summary of the chosen options.
    void show_summary();
    // Appends the text to the log as it is and scrolls by one line. While an installation
    // runs, the text reaches the box at the next pump that comes at least log_interval after
    // the last one that showed text, and at the run's end.
    void append_log(const std::wstring& text) override;

    // Runs the installation of the setup's own payload (resource 260/134). True when the
    // payload was installed; false when the installation failed and what it had created was
    // rolled back. The status line and the log tell the outcome. Never throws: a failure that
    // escapes the sequence is reported like one of its own, with the code of the exception.
    bool do_installation();

private:
    void set_status(const std::wstring& text) override;
    void set_progress(int percent) override;
    void show_progress() override;
    void pump() override;
    // Puts the text appended since the last time into the box.
    void show_appended();

    app_context& context_;
    installation_settings settings_;
    // The edit control lays its whole text out again for every change it is given (tens of
    // milliseconds each for the run's log under some systems): a run's lines are given in
    // batches, a few times a second.
    static constexpr ULONGLONG log_interval = 100; // ms
    bool running_ = false;
    std::wstring appended_;
    ULONGLONG last_shown_ = 0;
    int percent_ = -1; // the progress bar's position; a position it already has is not sent again
};

// Handles every message waiting for this thread: a message for the dialog `dialog` (or one of
// its controls) goes through IsDialogMessageW so that keyboard navigation keeps working. A
// quit message is put back for the thread's message loop, and the pumping stops there.
void pump_messages(HWND dialog) noexcept;

} // namespace setup
