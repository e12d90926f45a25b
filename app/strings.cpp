#include "app/strings.hpp"

#include "resources/resource_ids.h"

#include <array>
#include <clocale>
#include <locale>
#include <optional>
#include <string>

namespace setup {

namespace {

struct language_row {
    LANGID langid;
    bool translated;
};

// Index = language_index.  The LANGID is that of the language's string table.
constexpr std::array<language_row, language_count> languages = {{
    {1036, true},  // 0 French (France)
    {1033, true},  // 1 English (United States)
    {1031, true},  // 2 German (Germany)
    {3082, true},  // 3 Spanish (Spain, modern sort)
    {2070, true},  // 4 Portuguese (Portugal)
    {1043, false}, // 5 Dutch
    {1030, false}, // 6 Danish
    {1055, true},  // 7 Turkish
    {1026, false}, // 8 Bulgarian
    {1048, true},  // 9 Romanian
    {2052, false}, // 10 Chinese (Simplified)
    {1040, true},  // 11 Italian
    {1029, true},  // 12 Czech
    {1044, false}, // 13 Norwegian (Bokmål)
    {1032, false}, // 14 Greek
    {1045, false}, // 15 Polish
    {1037, false}, // 16 Hebrew
    {1066, false}, // 17 Vietnamese
    {1041, false}, // 18 Japanese
    {1038, true},  // 19 Hungarian
    {2074, false}, // 20 Serbian (Latin)
    {1025, true},  // 21 Arabic
    {1060, false}, // 22 Slovenian
    {1049, false}, // 23 Russian
    {1050, true},  // 24 Croatian
}};

constexpr language_index hebrew_language = 16;
constexpr language_index arabic_language = 21;

// Primary languages that map to one language whatever the sublanguage.
struct primary_row {
    WORD primary;
    language_index index;
};
constexpr primary_row primary_languages[] = {
    {0x0C, 0},  {0x09, 1},  {0x07, 2},  {0x0A, 3},  {0x16, 4},  {0x13, 5},  {0x06, 6},
    {0x1F, 7},  {0x02, 8},  {0x18, 9},  {0x10, 11}, {0x05, 12}, {0x14, 13}, {0x08, 14},
    {0x15, 15}, {0x0D, 16}, {0x2A, 17}, {0x11, 18}, {0x0E, 19}, {0x01, 21}, {0x24, 22},
    {0x19, 23},
};

constexpr language_index serbian_latin_language = 20;
constexpr language_index croatian_language = 24;
constexpr language_index chinese_language = 10;

std::optional<language_index> candidate_language(LANGID user_language)
{
    const WORD primary = PRIMARYLANGID(user_language);
    const WORD sublanguage = SUBLANGID(user_language);
    if (primary == LANG_CHINESE) {
        // Simplified (PRC) and Singapore only.
        if (sublanguage == SUBLANG_CHINESE_SIMPLIFIED || sublanguage == SUBLANG_CHINESE_SINGAPORE)
            return chinese_language;
        return std::nullopt;
    }
    if (primary == 0x1A) {
        // Croatian, Bosnian and Serbian share one primary language.
        switch (sublanguage) {
        case 1: // Croatia
        case 4: // Bosnia and Herzegovina (Latin Croatian)
            return croatian_language;
        case 5: // Bosnian (Latin)
        case 8: // Bosnian (Cyrillic)
            return std::nullopt;
        default:
            return serbian_latin_language;
        }
    }
    for (const auto& row : primary_languages)
        if (row.primary == primary)
            return row.index;
    return std::nullopt;
}

std::wstring locale_info(LCID lcid, LCTYPE type)
{
    const int size = GetLocaleInfoW(lcid, type, nullptr, 0);
    if (size <= 0)
        return {};
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    const int written = GetLocaleInfoW(lcid, type, text.data(), size);
    text.resize(written > 0 ? static_cast<std::size_t>(written - 1) : 0);
    return text;
}

UINT ansi_code_page(LCID lcid)
{
    DWORD code_page = 0;
    if (GetLocaleInfoW(lcid, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
            reinterpret_cast<LPWSTR>(&code_page), sizeof(code_page) / sizeof(wchar_t)) <= 0)
        code_page = 0;
    return code_page != 0 ? code_page : GetACP();
}

} // namespace

bool reads_right_to_left(language_index index)
{
    const LCID lcid = language_lcid(index);
    LOCALESIGNATURE signature{};
    static_assert(sizeof(signature) == 16 * sizeof(wchar_t));
    if (GetLocaleInfoW(lcid, LOCALE_FONTSIGNATURE, reinterpret_cast<LPWSTR>(&signature), 16) <= 0)
        return index == hebrew_language || index == arabic_language;
    // Unicode subset bit 123: right-to-left reading order.
    return (signature.lsUsb[3] & (DWORD{1} << 27)) != 0;
}

namespace {

// A locale name as the C runtime reads it: in the thread's ANSI code page ("Norwegian Bokmål").
std::string narrow(std::wstring_view text)
{
    if (text.empty())
        return {};
    const int length = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(CP_THREAD_ACP, WC_NO_BEST_FIT_CHARS, text.data(), length, nullptr, 0,
        nullptr, nullptr);
    if (size <= 0)
        return {};
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_THREAD_ACP, WC_NO_BEST_FIT_CHARS, text.data(), length, result.data(), size, nullptr,
        nullptr);
    return result;
}

// The locale that goes with a language: the user's own locale when the user's interface language
// has the same primary language (so a user in Austria keeps the Austrian conventions for German),
// else the language's locale.
LCID locale_for_language(language_index index)
{
    if (PRIMARYLANGID(language_langid(index)) == PRIMARYLANGID(GetUserDefaultLangID()))
        return GetUserDefaultLCID();
    return language_lcid(index);
}

// Applies a language's locale to the runtimes.  The C++ library (generic locale model) knows the
// "C" locale only, so its global locale is the classic one.  The C runtime takes names of the
// form "French_France.1252" (not "fr-FR"): it is reset to "C", then the character-type,
// collation, time and monetary categories follow the language ("<code page>" alone if the
// runtime refuses the full name; "C" if it refuses that too).  The numeric category stays "C"
// everywhere, so numbers are always written with the "C" conventions.
void apply_locale(language_index index)
{
    std::locale::global(std::locale::classic());
    std::setlocale(LC_ALL, "C");

    const LCID lcid = locale_for_language(index);
    std::string code_page(".");
    code_page += std::to_string(ansi_code_page(lcid));
    std::string name = narrow(locale_info(lcid, LOCALE_SENGLANGUAGE) + L"_" + locale_info(lcid, LOCALE_SENGCOUNTRY))
        + code_page;
    if (!std::setlocale(LC_CTYPE, name.c_str())) {
        name = code_page;
        if (!std::setlocale(LC_CTYPE, name.c_str()))
            return;
    }
    for (int category : {LC_COLLATE, LC_TIME, LC_MONETARY})
        std::setlocale(category, name.c_str());
}

language_context make_language_context()
{
    _configthreadlocale(_DISABLE_PER_THREAD_LOCALE);
    language_context context;
    context.lcid = language_lcid(0);
    apply_locale(0);
    SetThreadLocale(context.lcid);
    return context;
}

// The candidate languages of one lookup, in the order they are tried, and which of them hold
// the block.
struct block_candidates {
    std::array<LANGID, 4> languages{};
    std::array<bool, 4> present{};
};

BOOL CALLBACK note_block_language(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR parameter) noexcept
{
    auto& candidates = *reinterpret_cast<block_candidates*>(parameter);
    for (std::size_t i = 0; i < candidates.languages.size(); ++i)
        if (candidates.languages[i] == language)
            candidates.present[i] = true;
    return TRUE;
}

std::wstring_view found_text(std::wstring_view entry)
{
    return entry == L"#" ? std::wstring_view{} : entry;
}

constexpr unsigned installer_string = IDS_INSTALLER;

} // namespace

language_context& current_language()
{
    static language_context context = make_language_context();
    return context;
}

boost::signals2::signal<void()>& language_changed()
{
    static boost::signals2::signal<void()> signal;
    return signal;
}

LANGID language_langid(language_index index)
{
    return index < language_count ? languages[index].langid : LANGID{1036};
}

LCID language_lcid(language_index index)
{
    const LANGID langid = language_langid(index);
    const LCID user = GetUserDefaultLCID();
    return LANGIDFROMLCID(user) == langid ? user : MAKELCID(langid, SORT_DEFAULT);
}

bool ui_translated(language_index index)
{
    return index < language_count && languages[index].translated;
}

language_index pick_language(LANGID user_language, language_mask mask)
{
    if (mask == 0)
        mask = current_language().mask;
    const language_index fallback = (mask & language_bit(english_language)) ? english_language : french_language;
    const auto candidate = candidate_language(user_language);
    return candidate && (mask & language_bit(*candidate)) ? *candidate : fallback;
}

language_index pick_user_language(language_mask mask)
{
    return pick_language(GetUserDefaultLangID(), mask);
}

void set_language(language_index index)
{
    auto& context = current_language();
    const language_index old_index = context.index;
    if (index != old_index)
        apply_locale(index);
    context.index = index;
    context.lcid = language_lcid(index);
    context.code_page = ansi_code_page(context.lcid);
    context.module = nullptr;
    context.right_to_left = reads_right_to_left(index);
    if (index != old_index)
        language_changed()();
}

std::wstring_view load_string_in(language_index index, unsigned id)
{
    auto& context = current_language();
    if (!context.module)
        context.module = GetModuleHandleW(nullptr);

    const LANGID langid = language_langid(index);
    const WORD primary = PRIMARYLANGID(langid);
    block_candidates candidates;
    candidates.languages = {langid, MAKELANGID(primary, SUBLANG_DEFAULT), MAKELANGID(primary, SUBLANG_NEUTRAL),
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)};
    // A failed enumeration leaves every candidate absent.
    EnumResourceLanguagesW(context.module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), note_block_language,
        reinterpret_cast<LONG_PTR>(&candidates));

    bool any_table = false;
    for (std::size_t i = 0; i < candidates.languages.size(); ++i) {
        if (!candidates.present[i])
            continue;
        any_table = true;
        if (auto text = found_text(string_table_entry(context.module, candidates.languages[i], id)); !text.empty())
            return text;
    }
    // The loader's own choice of table (which follows the user's interface language) is asked
    // only when the language has no table for this block at all: where the language's table
    // marks the string as missing, the caller's fallbacks decide, not the user's settings.
    if (!any_table)
        return found_text(string_table_entry(context.module, 0, id));
    return {};
}

std::wstring load_string(unsigned id)
{
    const language_index chosen = current_language().index;
    const language_index interface_language = ui_translated(chosen) ? chosen : english_language;
    if (auto text = load_string_in(interface_language, id); !text.empty())
        return std::wstring(text);
    if (interface_language == french_language)
        return {};
    if (interface_language != english_language)
        if (auto text = load_string_in(english_language, id); !text.empty())
            return std::wstring(text);
    return std::wstring(load_string_in(french_language, id));
}

std::wstring setup_title()
{
    return load_string(installer_string);
}

std::wstring setup_title(std::wstring_view product_title)
{
    return load_string(installer_string) + L" \u2013 " + std::wstring(product_title);
}

std::wstring native_language_name(language_index index)
{
    std::wstring name = locale_info(language_lcid(index), LOCALE_SNATIVELANGNAME);
    if (!name.empty()) {
        const auto first = static_cast<DWORD>(CharNextW(name.c_str()) - name.c_str());
        CharUpperBuffW(name.data(), first);
    }
    return name;
}

} // namespace setup
