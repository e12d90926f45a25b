#pragma once
// The application context: what the setup knows and the user chose, for the life of the
// process; and the start-up check that decides whether the wizard opens.

#include "app/process_identity.hpp"
#include "engine/known_folders.hpp"
#include "support/uninstall_log.hpp"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace setup {

// What the start-up detection found.
enum install_state : std::int32_t {
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
    std::int32_t install_state = not_installed;
    std::wstring installed_version_text;
};

// The one context of the process, built on first use with the process's application id.
app_context& instance_app_context();

// What the start-up check asks of the system; tests replace parts of it.
struct start_environment {
    // The product's key name: the uninstall entry's subkey and the "<key> Path" value.
    std::wstring product_key;
    // Whether the process token is a member of the built-in Administrators group.
    std::function<bool()> is_administrator;
    // How many processes of the application family are counted now.
    std::function<long()> running_instances;
    // The installed application's path ("" when none is installed or it is gone).
    std::function<std::wstring()> installed_application_path;
    // The folder of this setup program.
    std::wstring own_folder;
    known_folder_services folders;

    // The real system, for the product this setup installs.
    static start_environment system();
};

// The start-up check: true when the wizard may open. Shows the boxes of every refusal.
bool check_start(app_context& context, const start_environment& environment);
bool check_start(app_context& context);

// Fills the context with the existing installation's state, its previous log, folders and
// choices, and the default folders. False when a default folder cannot be obtained.
bool detect_existing_installation(app_context& context, const start_environment& environment);

// The installed application's path under HKEY_LOCAL_MACHINE "Software\\Marrowind Works",
// value "<key> Path", if something exists there; else empty. Read on every call.
std::wstring read_installed_application_path(const std::wstring& product_key);

// Whether the process token is a member of the built-in Administrators group.
bool token_is_administrator();

// Compares an installed file version with the version this setup carries.
std::int32_t compare_installed_version(std::uint64_t installed, std::uint64_t carried) noexcept;

} // namespace setup
