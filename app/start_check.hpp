#pragma once
// The start-up check that decides whether the wizard opens: one setup at a time, the
// language, administrator rights, the installed application not running, and the existing
// installation with its folders and choices, all written into the application context.

#include "app/app_context.hpp"
#include "engine/known_folders.hpp"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace setup {

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
install_state compare_installed_version(std::uint64_t installed, std::uint64_t carried) noexcept;

} // namespace setup
