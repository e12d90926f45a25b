#pragma once
// The end page (template IDD_END): reached after a successful installation, it says so and
// points at the frame's Exit button.

#include "pages/basic_dialog.hpp"

namespace setup {

class dlg_end : public basic_dialog {
public:
    dlg_end() noexcept = default;

    // Empties the info text and sets the Exit hint.
    void update_texts() override;
    void on_size(int width, int height) override;

    // Shows the completion text. The frame calls it after every run of the installation.
    void show_result();
};

} // namespace setup
