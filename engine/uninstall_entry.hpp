#pragma once
// The product's entry in the system's list of installed programs.

#include "support/uninstall_log.hpp"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace setup {

// The maker's addresses, as the entry names them.
inline constexpr wchar_t maker_web_address[] = L"https://www.marrowind-works.example/tilewright";
inline constexpr wchar_t maker_telephone[] = L"+44 161 496 0733";

using mw::uninstall_key_path;

// The key of the entry of the product whose key name is `product_key`:
// uninstall_key_path + "\\" + product_key.
std::wstring uninstall_entry_key(const std::wstring& product_key);

// The language index the setup stored in the entry at `entry_key` under `root` (the value
// "MwLanguage"); nothing when the key or the value is missing, the value is not a REG_DWORD
// of 4 bytes, or the key cannot be read. Never throws.
std::optional<std::uint32_t> read_stored_language(HKEY root, const std::wstring& entry_key) noexcept;

// Writes the entry of the product `log` records (subkey and display name from its identity):
// recorded in the log first (an existing entry is saved for rollback), then its twelve values;
// other values of the subkey stay. `language` is the chosen language index. True when
// "DisplayName" and "UninstallString" were written; false, with nothing recorded, when the
// system has no Uninstall key. Registry failures throw std::system_error.
bool write_uninstall_entry(mw::uninstall_log& log, const std::wstring& uninstaller,
                           const std::wstring& main_executable, std::uint32_t language);

} // namespace setup
