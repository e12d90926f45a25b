#pragma once
// The uninstall program's texts: the language the setup stored with the installation, and the
// program's own string tables in the four languages the setup offers.

#include "app/string_table.hpp"

#include <windows.h>

#include <cstdint>
#include <string>

namespace uninstaller {

// The setup's numbering of the languages it offers.
enum language : std::uint32_t { french = 0, english = 1, german = 2, spanish = 3 };

// The string table of a language: French 1036, English 1033, German 1031, Spanish 3082. Any
// other number stands for English.
LANGID language_langid(std::uint32_t language) noexcept;

// The language the setup stored in the product's uninstall entry: the REG_DWORD "MwLanguage"
// under HKEY_LOCAL_MACHINE "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
// `product_key`. English when the entry or the value is missing, is not a DWORD of 4 bytes, or
// names a language the program has no texts for. Never throws.
std::uint32_t stored_language(const std::wstring& product_key);

// Texts of one language from the string tables of `module` (null: this program). A text the
// language's table lacks is taken from the English table.
class texts {
public:
    explicit texts(std::uint32_t language, HMODULE module = nullptr);

    LANGID langid() const noexcept { return langid_; }
    // The text of string `id`; empty when no table has it.
    std::wstring get(unsigned id) const;
    // The text of string `id` with "{0}", "{1}" ... filled in.
    template <class... Texts>
    std::wstring format(unsigned id, const Texts&... arguments) const
    {
        return setup::format_text(get(id), arguments...);
    }

private:
    HMODULE module_;
    LANGID langid_;
};

} // namespace uninstaller
