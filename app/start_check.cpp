#include "app/start_check.hpp"

#include "resources/resource_ids.h"

#include "app/message_box.hpp"
#include "app/process_init.hpp"
#include "app/strings.hpp"
#include "engine/registry.hpp"
#include "engine/uninstall_entry.hpp"
#include "pages/product.hpp"
#include "pages/version_info.hpp"
#include "support/install_journal.hpp"
#include "support/own_executable.hpp"
#include "support/unique_handle.hpp"
#include "support/sync_objects.hpp"

#include <filesystem>

namespace setup {
namespace {

namespace fs = std::filesystem;

bool exists(const std::wstring& path) { return !path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

} // namespace

std::wstring read_installed_application_path(const std::wstring& product_key)
{
    std::wstring path;
    if (registry_key key = open_key(HKEY_LOCAL_MACHINE, maker_key()))
        read_string(key, (product_key + L" Path").c_str(), path);
    return exists(path) ? path : std::wstring{};
}

bool token_is_administrator()
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &sid))
        return false;
    const mw::unique_sid administrators{sid};
    BOOL member = FALSE;
    if (!CheckTokenMembership(nullptr, administrators.get(), &member))
        member = FALSE;
    return member != FALSE;
}

install_state compare_installed_version(std::uint64_t installed, std::uint64_t carried) noexcept
{
    if (installed > carried)
        return install_state::newer_version_installed;
    if (installed == carried)
        return install_state::same_version_installed;
    return install_state::older_version_installed;
}

start_environment start_environment::system()
{
    start_environment e;
    e.product_key = product_key_name();
    e.is_administrator = token_is_administrator;
    e.running_instances = [] { return setup::running_instances(); };
    // Read once per process: the application writes it, the setup only reads it.
    e.installed_application_path = [] {
        static const std::wstring path = read_installed_application_path(product_key_name());
        return path;
    };
    e.own_folder = fs::path(mw::own_executable_path()).parent_path().wstring();
    e.folders.report_error = show_known_folder_error;
    return e;
}

bool detect_existing_installation(app_context& context, const start_environment& environment)
{
    const std::wstring installed = environment.installed_application_path();
    context.install_state = install_state::not_installed;
    if (!installed.empty()) {
        const version_info info = version_info::load_file(installed);
        if (!info.fixed()) {
            context.install_state = install_state::same_version_installed;
        } else {
            const std::uint64_t version = info.file_version();
            context.install_state = compare_installed_version(version, setup_version);
            if (context.install_state != install_state::same_version_installed)
                context.installed_version_text = info.display_version(LANGIDFROMLCID(current_language().lcid));
            if (context.install_state == install_state::older_version_installed)
                context.installed_version = version;
        }
    }

    std::wstring log_file;
    bool log_of_the_entry = false;
    if (context.install_state == install_state::same_version_installed || context.install_state == install_state::older_version_installed) {
        std::wstring uninstaller;
        if (registry_key entry = open_key(HKEY_LOCAL_MACHINE, std::wstring(uninstall_key_path) + L"\\" +
                                                                  environment.product_key))
            read_string(entry, L"UninstallString", uninstaller);
        const std::wstring candidates[] = {
            uninstaller.empty() ? std::wstring{} : (fs::path(uninstaller).parent_path() / L"Uninstall.ulog").wstring(),
            (fs::path(environment.own_folder) / L"Uninstall.ulog").wstring(),
            (fs::path(installed).parent_path() / L"Uninstall.ulog").wstring(),
        };
        for (const std::wstring& candidate : candidates)
            if (!candidate.empty() && !fs::path(candidate).parent_path().empty() && exists(candidate)) {
                log_file = candidate;
                log_of_the_entry = &candidate == &candidates[0];
                break;
            }
    }
    context.uninstall_log.read(log_file);
    if (!log_of_the_entry) {
        // Only the log in the folder the machine's uninstall entry names is the installation's
        // own. One found beside the setup (a folder any user may write, such as Downloads) or
        // beside the application only suggests the folders and the desktop choice: its records
        // would have this elevated run move previous shortcuts aside, skip modules and carry
        // them into the new log for the uninstall program to act on, so none of them is kept.
        // The previous title stays: it is only text in the new log's header.
        context.uninstall_log.previous.clear();
    }
    if (!log_file.empty()) {
        context.install_folder = context.uninstall_log.install_path;
        context.programs_folder = context.uninstall_log.shortcut_path;
        context.desktop_shortcut = context.uninstall_log.has_desktop_link;
    }

    if (context.install_folder.empty()) {
        const std::wstring program_files = known_folder(0, environment.folders);
        if (program_files.empty())
            return false;
        context.install_folder = (fs::path(program_files) / maker_name / environment.product_key).wstring();
    }
    if (context.programs_folder.empty()) {
        context.programs_folder = known_folder(1, environment.folders);
        if (context.programs_folder.empty())
            return false;
    }
    context.advanced_mode = false;
    return true;
}

bool check_start(app_context& context, const start_environment& environment)
{
    if (!cpu_check_passed()) {
        show_system_error(static_cast<std::uint32_t>(E_UNEXPECTED));
        return false;
    }
    if (!context.setup_mutex.take()) {
        show_system_error(ERROR_BUSY);
        return false;
    }
    set_language(pick_user_language(setup_languages));
    if (const auto language = read_stored_language(HKEY_LOCAL_MACHINE, uninstall_entry_key(environment.product_key));
        language && *language < language_count)
        set_language(*language);
    if (!ui_translated(current_language().index))
        set_language(english_language);

    const std::wstring caption = setup_title(product_title);
    if (!environment.is_administrator()) {
        show_message(load_string(IDS_NEED_ADMINISTRATOR), caption, MB_OK | MB_ICONWARNING);
        return false;
    }
    while (environment.running_instances() > 1) {
        const std::wstring text = format_text(load_string(IDS_CLOSE_APPLICATION), product_name);
        if (show_message(text, caption, MB_RETRYCANCEL | MB_ICONWARNING) == IDCANCEL)
            return false;
    }
    // A setup ended before its end is rolled back first: what is installed is then what was
    // there before it.
    mw::roll_back_ended_installation(context.uninstall_log.identity());
    return detect_existing_installation(context, environment);
}

bool check_start(app_context& context) { return check_start(context, start_environment::system()); }

} // namespace setup
