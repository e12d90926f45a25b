#include "engine/uninstall_entry.hpp"

#include "engine/registry.hpp"
#include "pages/product.hpp"

// The entry's readers, which the installed application uses too. Writing the entry, with its
// uninstall log, is in uninstall_entry_writing.cpp: a program that only reads links no log code
// (a library member comes with every function of it that has unwind information).

namespace setup {

std::wstring uninstall_entry_key(const std::wstring& product_key)
{
    return std::wstring(uninstall_key_path) + L"\\" + product_key;
}

std::optional<std::uint32_t> read_stored_language(HKEY root, const std::wstring& entry_key) noexcept
{
    try {
        std::uint32_t value = 0;
        if (const registry_key entry = open_key(root, entry_key); entry && read_dword(entry, stored_language_value, value))
            return value;
    } catch (...) {
        // An entry that cannot be read holds no language.
    }
    return std::nullopt;
}

} // namespace setup
