#pragma once
// The options page (template IDD_OPTIONS), shown in an advanced installation: the installation
// folder, typed or picked with the folder browser, and the two shortcuts. Every change goes
// straight into the application context. With an existing installation the folder is shown
// but cannot be changed.

#include "app/app_context.hpp"
#include "pages/basic_dialog.hpp"

#include <string>
#include <string_view>

namespace setup {

// The installation folder a text typed into the page means: its lexical normal form, taken
// relative to `program_files` by the rules of appending paths (mw::append_path).
std::wstring typed_install_folder(std::wstring_view text, std::wstring_view program_files);

class dlg_options : public basic_dialog {
public:
    explicit dlg_options(app_context& context) noexcept : context_(context) {}

    void update_texts() override;
    // Fills the folder box and the check boxes from the context; makes the folder controls
    // inert when an installation exists.
    void on_init() override;
    void on_size(int width, int height) override;
    // Browse, typing in the folder box, and the two check boxes; anything else is not handled.
    bool on_command(int id, int code) override;

private:
    // Writes the folder box without taking the write for the user's typing.
    void show_install_folder();

    app_context& context_;
    // The Program Files folder: typed relative folders are taken relative to it.
    std::wstring program_files_folder_;
    // Set while the page writes the folder box itself.
    bool updating_text_ = false;
};

} // namespace setup
