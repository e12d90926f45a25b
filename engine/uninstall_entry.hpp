#pragma once
// The product's entry in the system's list of installed programs.

#include "support/uninstall_log.hpp"

#include <cstdint>
#include <string>

namespace setup {

// The maker, as the entry names it.
inline constexpr wchar_t maker_name[] = L"Marrowind Works";
inline constexpr wchar_t maker_web_address[] = L"https://www.marrowind-works.example/tilewright";
inline constexpr wchar_t maker_telephone[] = L"+44 161 496 0733";

// The key under HKEY_LOCAL_MACHINE that holds every program's entry.
inline constexpr wchar_t uninstall_key_path[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Writes the entry of the product `log` records (subkey and display name from its identity):
// recorded in the log first (an existing entry is saved for rollback), then its twelve values;
// other values of the subkey stay. `language` is the chosen language index. True when
// "DisplayName" and "UninstallString" were written; false, with nothing recorded, when the
// system has no Uninstall key. Registry failures throw std::system_error.
bool write_uninstall_entry(mw::uninstall_log& log, const std::wstring& uninstaller,
                           const std::wstring& main_executable, std::uint32_t language);

} // namespace setup
