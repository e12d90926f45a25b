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
    const auto value = setup::read_stored_language(HKEY_LOCAL_MACHINE, setup::uninstall_entry_key(product_key));
    return value && *value <= spanish ? *value : english;
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
