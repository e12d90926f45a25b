#pragma once
// The wizard's frame: a resizable dialog with the left panel, the page area, a separator and
// the Back, Next and Exit buttons. It owns the five pages, shows one at a time, starts the
// installation from the install page, asks before an unfinished setup is left, keeps its size
// between runs (InstallerSize) and opens the About box from its system menu.

#include "app/app_context.hpp"
#include "engine/dlg_install.hpp"
#include "pages/basic_dialog.hpp"
#include "pages/dlg_end.hpp"
#include "pages/dlg_mode.hpp"
#include "pages/dlg_options.hpp"
#include "pages/dlg_start.hpp"

#include <windows.h>

#include <array>
#include <optional>

namespace setup {

enum page_index : int {
    PAGE_START = 0,
    PAGE_MODE = 1,
    PAGE_OPTIONS = 2,
    PAGE_INSTALL = 3,
    PAGE_END = 4,
};

class dlg_main final : public basic_dialog {
public:
    explicit dlg_main(app_context& context, installation_settings settings = {});

    void update_texts() override;
    void on_init() override;
    void on_destroy() override;
    void on_size(int width, int height) override;
    void on_min_max_info(MINMAXINFO* info) override;
    bool on_command(int id, int code) override;
    bool on_sys_command(unsigned command) override;

    // Hides the current page and shows page `index`, with the buttons that page allows.
    void go_to_page(int index);
    // The captions of Back, Next and Exit for the current page and outcome.
    void update_buttons();

    int current_page() const noexcept { return current_page_; }
    int min_width() const noexcept { return min_width_; }
    int min_height() const noexcept { return min_height_; }

private:
    void layout_frame();
    void run_installation();
    bool exit_needs_confirmation() const noexcept;

    app_context& context_;
    dlg_start start_;
    dlg_mode mode_;
    dlg_options options_;
    dlg_install install_;
    dlg_end end_;
    std::array<basic_dialog*, 5> pages_{};
    int min_width_ = 0;
    int min_height_ = 0;
    int current_page_ = PAGE_START;
    // Set while the installation runs: the buttons are disabled then, and a command that
    // still arrives for them (a posted click, a keyboard accelerator) is ignored.
    bool installing_ = false;
};

// The frame of the process, over the process's application context.
dlg_main& main_window();

// The saved outer size of the frame (HKEY_CURRENT_USER, the maker's key, InstallerSize): a
// REG_BINARY value of exactly 8 bytes, width then height. Nothing when it is missing, has
// another type or size, or cannot be read.
std::optional<SIZE> read_installer_size();
// Saves the outer size of `window` there; a failure is ignored.
void save_installer_size(HWND window) noexcept;

// The About box over `owner`, modal.
void show_about_box(HWND owner);

} // namespace setup
