#include "product/tilewright/texts.hpp"

#include "engine/registry.hpp"

#include "product/tilewright/resource_ids.h"

#include <array>

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

std::optional<int> read_language(HKEY root, const std::wstring& subkey)
{
    // A key that cannot be read counts as no stored language.
    try {
        std::uint32_t value = 0;
        const setup::registry_key key = setup::open_key(root, subkey);
        if (key && setup::read_dword(key, L"MwLanguage", value))
            return static_cast<int>(value);
    } catch (const std::system_error&) {
    }
    return std::nullopt;
}

std::wstring language_library(int index)
{
    const language_entry* e = translation_of(index);
    return e ? e->library : L"";
}

std::optional<std::wstring> load_string_in(HMODULE module, LANGID language, unsigned id)
{
    // A string table resource holds the strings of 16 ids, each a length and that many
    // UTF-16 units.
    HRSRC resource = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    if (!resource)
        return std::nullopt;
    HGLOBAL loaded = LoadResource(module, resource);
    const auto* data = static_cast<const WCHAR*>(loaded ? LockResource(loaded) : nullptr);
    const DWORD size = SizeofResource(module, resource) / sizeof(WCHAR);
    if (!data)
        return std::nullopt;
    DWORD pos = 0;
    for (unsigned i = 0; i < id % 16; ++i) {
        if (pos >= size)
            return std::nullopt;
        pos += 1 + data[pos];
    }
    if (pos >= size || data[pos] == 0 || pos + 1 + data[pos] > size)
        return std::nullopt;
    return std::wstring(data + pos + 1, data[pos]);
}

texts::texts(int index, const std::wstring& library_folder)
{
    const language_entry* e = translation_of(index);
    if (!e)
        return;
    const std::wstring path = library_folder + L"\\" + e->library;
    library_ = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!library_)
        return;
    langid_ = e->langid;
    language_ = e->index;
}

texts::~texts()
{
    if (library_)
        FreeLibrary(library_);
}

std::wstring texts::get(unsigned id) const
{
    if (library_)
        if (auto text = load_string_in(library_, langid_, id))
            return *text;
    return load_string_in(own_module(), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), id).value_or(L"");
}

} // namespace tilewright
