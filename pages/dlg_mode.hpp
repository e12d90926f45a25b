#pragma once
// The mode page (template IDD_MODE): a quick installation with the defaults, or an advanced one
// that shows the options page first. The choice goes straight into the context's advanced_mode.

#include "app/app_context.hpp"
#include "pages/basic_dialog.hpp"

namespace setup {

class dlg_mode : public basic_dialog {
public:
    explicit dlg_mode(app_context& context) noexcept : context_(context) {}

    void update_texts() override;
    // Checks the radio button of the context's mode.
    void on_init() override;
    void on_size(int width, int height) override;
    // Every command (a radio button clicked, whatever else) reads the mode back from the radio
    // buttons; always handled.
    bool on_command(int id, int code) override;

private:
    app_context& context_;
};

} // namespace setup
