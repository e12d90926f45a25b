#pragma once
// Tilewright's command line, and its registration with the system: its path for the
// setup of a later version, and the layout file type (.cal).

#include "pages/product.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tilewright {

class texts;

enum class run_mode { open, register_types, unregister_types, bad_arguments };

struct command_line {
    run_mode mode = run_mode::open;
    bool background = false;                      // "/Background": no window, not even on failure
    std::optional<std::uint64_t> replaced_version; // "/update=" + 16 hexadecimal digits
    std::wstring document;                        // a layout to open
    std::wstring bad_argument;                    // the argument that made the line bad
};

// Reads the arguments after the program name. Switches are case-insensitive:
//   (nothing) | DOCUMENT                       open the document, or the first sample
//   /Register [/Background] [/update=HEX16]    register (the order of the switches is free)
//   /Unregister [/Background]                  remove the registration
command_line parse_command_line(const std::vector<std::wstring>& arguments);

// Exit code of a successful registration or unregistration run.
using setup::registration_succeeded;

// Registry locations.
// The maker's key and the product's key under it, both under HKLM.
std::wstring company_key();
std::wstring product_key();
inline constexpr const wchar_t* path_value = L"Tilewright Path";
inline constexpr const wchar_t* replaced_version_value = L"Replaced Version";
inline constexpr const wchar_t* layout_extension = L".cal";
inline constexpr const wchar_t* layout_prog_id = L"Tilewright.Layout";

// Writes under HKEY_LOCAL_MACHINE "Software\\Marrowind Works" the value "Tilewright Path"
// (the program's full path) and, when `replaced_version` is given, "Replaced Version" under
// its "Tilewright" subkey; under HKEY_CLASSES_ROOT the extension ".cal" (default value
// "Tilewright.Layout") and the class "Tilewright.Layout" with its description, its icon
// ("<program>,1") and its open command ("\"<program>\" \"%1\""). On failure undoes what it
// wrote and throws std::system_error (Win32 code).
void register_program(const std::wstring& program, const std::optional<std::uint64_t>& replaced_version,
                      const texts& strings);

// Removes what register_program wrote for this program: "Tilewright Path" when it names
// `program`, the "Replaced Version" value, ".cal"'s default value when it names the class,
// the class when its open command starts this program; then those keys of the company,
// product and extension that are left empty. What others wrote stays. Throws
// std::system_error when a key or value cannot be removed.
void unregister_program(const std::wstring& program);

} // namespace tilewright
