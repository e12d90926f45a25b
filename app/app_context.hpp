#pragma once
// The application context: what the setup knows and the user chose, for the life of the
// process. The pages read and write it; the start-up check (app/start_check.hpp) fills it.

#include "app/process_identity.hpp"
#include "support/uninstall_log.hpp"

#include <windows.h>

#include <cstdint>
#include <string>

namespace setup {

// What the start-up detection found.
enum class install_state : std::int32_t {
    newer_version_installed = -1,
    not_installed = 0,
    same_version_installed = 1,
    older_version_installed = 2,
};

struct app_context {
    // `application_id` names the kernel objects shared with the application family.
    explicit app_context(const std::wstring& application_id);

    // Chooses the setup's temporary folder for this run (kept in temp_folder); on failure
    // gives the text to show.
    bool choose_temp_folder(std::wstring& error_text);

    setup::setup_mutex setup_mutex;
    std::wstring install_folder;
    std::wstring programs_folder;
    std::wstring temp_folder;
    bool menu_shortcut = true;
    bool desktop_shortcut = true;
    bool advanced_mode = false;
    mw::uninstall_log uninstall_log;
    bool installation_succeeded = false;
    std::uint64_t installed_version = 0;
    setup::install_state install_state = setup::install_state::not_installed;
    std::wstring installed_version_text;
};

// The one context of the process, built on first use with the process's application id.
app_context& instance_app_context();

} // namespace setup
