#pragma once
// The start page (template IDD_START): the language box, and what the setup is about to do,
// from the detection of an existing installation.

#include "app/app_context.hpp"
#include "app/strings.hpp"
#include "pages/basic_dialog.hpp"
#include "support/unique_handle.hpp"

#include <functional>
#include <string>

namespace setup {

// The detection result; when it names an installed version (newer or older) and `text` is
// given, that version's display text is copied into it.
install_state install_state_of(const app_context& context, std::wstring* text = nullptr);

class dlg_start : public basic_dialog {
public:
    // `texts_changed` runs after the user picked a language: the frame rereads its own texts and
    // those of every page.
    dlg_start(app_context& context, std::function<void()> texts_changed);

    void update_texts() override;
    void on_init() override;
    void on_size(int width, int height) override;
    // The language box's CBN_SELCHANGE makes the selected language current; anything else is
    // not handled.
    bool on_command(int id, int code) override;

private:
    void fill_language_box();

    app_context& context_;
    std::function<void()> texts_changed_;
    // The flags of the language box; the box only borrows the list.
    mw::unique_himagelist flag_images_;
};

} // namespace setup
