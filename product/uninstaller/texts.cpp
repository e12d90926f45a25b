#include "product/uninstaller/texts.hpp"

#include "engine/registry.hpp"
#include "engine/uninstall_entry.hpp"

namespace uninstaller {

LANGID language_langid(std::uint32_t language) noexcept
{
    switch (language) {
    case french:
        return MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH);
    case german:
        return MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
    case spanish:
        return MAKELANGID(LANG_SPANISH, SUBLANG_SPANISH_MODERN);
    default:
        return MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    }
}

std::uint32_t stored_language(const std::wstring& product_key)
{
    try {
        const setup::registry_key entry =
            setup::open_key(HKEY_LOCAL_MACHINE, std::wstring(setup::uninstall_key_path) + L"\\" + product_key);
        std::uint32_t value = english;
        if (entry && setup::read_dword(entry, L"MwLanguage", value) && value <= spanish)
            return value;
    } catch (const std::system_error&) {
        // An entry that cannot be read: the default language.
    }
    return english;
}

texts::texts(std::uint32_t language, HMODULE module)
    : module_(module ? module : GetModuleHandleW(nullptr)), langid_(language_langid(language))
{
}

std::wstring texts::get(unsigned id) const
{
    std::wstring_view text = setup::string_table_entry(module_, langid_, id);
    if (text.empty())
        text = setup::string_table_entry(module_, language_langid(english), id);
    return std::wstring(text);
}

} // namespace uninstaller
