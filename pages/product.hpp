#pragma once
// Build-time identity of the product this setup installs.

#include <cstdint>
#include <string>
#include <string_view>

namespace setup {

// A 64-bit file version: 16 bits per field, major highest.
constexpr std::uint64_t make_file_version(std::uint16_t major, std::uint16_t minor, std::uint16_t build,
                                          std::uint16_t revision) noexcept
{
    return std::uint64_t{major} << 48 | std::uint64_t{minor} << 32 | std::uint64_t{build} << 16 | revision;
}

// "major.minor.build.revision" of a packed 64-bit file version.
std::wstring version_text(std::uint64_t version);

// The maker: the publisher named in the uninstall entry, the folder its products share under
// Program Files and the common application data, and its registry key.
inline constexpr std::wstring_view maker_name = L"Marrowind Works";
// "Software\\" + the maker's name: under HKEY_LOCAL_MACHINE the installed applications'
// paths, under HKEY_CURRENT_USER the setup's window size.
std::wstring maker_key();

// The value of the product's uninstall entry that holds the language chosen in the setup.
inline constexpr wchar_t stored_language_value[] = L"MwLanguage";

// The exit code with which the installed application reports a successful registration or
// unregistration run (" /Register /Background", " /Unregister /Background").
inline constexpr int registration_succeeded = -10;

// The number that identifies the product within the maker's range.
inline constexpr std::uint32_t product_code = 0x601;

// The product's name without version, and the version text shown with it.
inline constexpr std::wstring_view product_name = L"Tilewright";
inline constexpr std::wstring_view product_version_text = L"1.22a";
// The name, a blank and the version text.
inline constexpr std::wstring_view product_title = L"Tilewright 1.22a";
static_assert(product_title.size() == product_name.size() + 1 + product_version_text.size() &&
              product_title.starts_with(product_name) && product_title[product_name.size()] == L' ' &&
              product_title.ends_with(product_version_text));

// The file name of the product's application in its installation folder.
inline constexpr std::wstring_view application_file_name = L"Tilewright.exe";

// The version this setup installs, compared with the installed one at start-up.
inline constexpr std::uint64_t setup_version = make_file_version(1, 22, 1, 1);

// The key name of a product code: the uninstall subkey, the "<name> Path" value and the last
// component of the default installation folder. Throws std::out_of_range for a code the
// table does not know.
const std::wstring& product_key_name(std::uint32_t code);
// The key name of this product.
inline const std::wstring& product_key_name() { return product_key_name(product_code); }

} // namespace setup
