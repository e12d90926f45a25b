#include "product/tilewright/texts.hpp"

#include "app/string_table.hpp"
#include "engine/uninstall_entry.hpp"
#include "pages/product.hpp"

#include "product/tilewright/resource_ids.h"

#include <array>
#include <limits>

namespace tilewright {
namespace {

struct language_entry {
    int index;
    LANGID langid;
    const wchar_t* library;
};
constexpr std::array<language_entry, 3> translations{{
    {language_french, MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH), L"Tilewright_fr.dll"},
    {language_german, MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), L"Tilewright_de.dll"},
    {language_spanish, MAKELANGID(LANG_SPANISH, SUBLANG_SPANISH_MODERN), L"Tilewright_es.dll"},
}};

const language_entry* translation_of(int index)
{
    for (const language_entry& e : translations)
        if (e.index == index)
            return &e;
    return nullptr;
}

HMODULE own_module()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&own_module), &module);
    return module;
}

} // namespace

std::optional<int> stored_language()
{
    const auto value =
        setup::read_stored_language(HKEY_LOCAL_MACHINE, setup::uninstall_entry_key(setup::product_key_name()));
    if (!value || *value > static_cast<std::uint32_t>(std::numeric_limits<int>::max()))
        return std::nullopt;
    return static_cast<int>(*value);
}

std::wstring language_library(int index)
{
    const language_entry* e = translation_of(index);
    return e ? e->library : L"";
}

std::optional<std::wstring> load_string_in(HMODULE module, LANGID language, unsigned id)
{
    const std::wstring_view text = setup::string_table_entry(module, language, id);
    if (text.empty())
        return std::nullopt;
    return std::wstring(text);
}

texts::texts(int index, const std::wstring& library_folder)
{
    const language_entry* e = translation_of(index);
    if (!e)
        return;
    const std::wstring path = library_folder + L"\\" + e->library;
    library_.reset(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!library_)
        return;
    langid_ = e->langid;
    language_ = e->index;
}

std::wstring texts::get(unsigned id) const
{
    if (library_)
        if (auto text = load_string_in(library_.get(), langid_, id))
            return *text;
    return load_string_in(own_module(), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), id).value_or(L"");
}

} // namespace tilewright
