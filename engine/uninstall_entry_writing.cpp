#include "engine/uninstall_entry.hpp"

#include "engine/registry.hpp"
#include "pages/product.hpp"

namespace setup {

bool write_uninstall_entry(mw::uninstall_log& log, const std::wstring& uninstaller,
                           const std::wstring& main_executable, std::uint32_t language)
{
    const registry_key uninstall = open_key(HKEY_LOCAL_MACHINE, uninstall_key_path);
    if (!uninstall)
        return false;
    const std::wstring& name = log.identity().uninstall_key_name;
    registry_key entry = open_key(uninstall, name);
    if (entry) {
        log.add_uninstall_key(entry.get());
    } else {
        entry = create_key(uninstall, name);
        log.add_uninstall_key(nullptr);
    }
    const bool named = write_string(entry, L"DisplayName", log.identity().product_title);
    const bool startable = write_string(entry, L"UninstallString", uninstaller);
    write_string(entry, L"DisplayIcon", main_executable + L",0");
    write_string(entry, L"DisplayVersion", version_text(setup_version));
    write_string(entry, L"Publisher", std::wstring(maker_name));
    write_string(entry, L"URLInfoAbout", maker_web_address);
    write_string(entry, L"HelpLink", maker_web_address);
    write_string(entry, L"URLUpdateInfo", maker_web_address);
    write_string(entry, L"HelpTelephone", maker_telephone);
    write_dword(entry, L"NoModify", 1);
    write_dword(entry, L"NoRepair", 1);
    write_dword(entry, stored_language_value, language);
    log.complete(named && startable, L"");
    return named && startable;
}

} // namespace setup
