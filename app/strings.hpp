#pragma once
// The setup's languages, the process-wide language state and the localised texts.
//
// Every text the setup shows is a string id looked up in the string tables that are resources
// of the executable, one table per language.  A table entry whose text is the single character
// "#" is untranslated and counts as absent.

#include "app/string_table.hpp"

#include <windows.h>

#include <boost/signals2/signal.hpp>
#include <fmt/xchar.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace setup {

// A language of the setup, 0 to 24 (see the table in strings.cpp).
using language_index = std::uint32_t;
// A set of languages: bit i stands for language i.
using language_mask = std::uint32_t;

inline constexpr language_index language_count = 25;
inline constexpr language_index french_language = 0;
inline constexpr language_index english_language = 1;

constexpr language_mask language_bit(language_index index)
{
    return index < 32 ? language_mask{1} << index : 0;
}

// The languages offered on the start page and the candidates for the start-up language:
// French, English, German and Spanish.
inline constexpr language_mask setup_languages = 15;

// The process-wide language state.  Built on first use; afterwards read and changed on the
// user-interface thread only.
struct language_context {
    // Default mask of pick_user_language when it is given 0.
    language_mask mask = 1;
    // The chosen language.
    language_index index = 0;
    // Locale id of the chosen language.
    LCID lcid = 0;
    // ANSI code page of that locale.
    UINT code_page = 1252;
    // Module whose resources hold the string tables; null until the next lookup fills it with
    // the executable's own module.
    HMODULE module = nullptr;
    // The chosen language is written right to left.
    bool right_to_left = false;
};

// The single language context.  Building it makes the C runtime's locale settings process-wide,
// applies the locale of language 0 and sets the thread locale to language 0.
language_context& current_language();

// Raised by set_language when the chosen language changes.  Windows that show texts re-read them.
boost::signals2::signal<void()>& language_changed();

// Windows language id of a language's string table; 1036 (French) for an index out of range.
LANGID language_langid(language_index index);
// The user's default locale id if its language id is the language's, else the language id with
// the default sort.
LCID language_lcid(language_index index);
// True for the twelve languages the setup's own texts are translated into.
bool ui_translated(language_index index);

// The language for the user's default interface language within mask (0: the context's mask);
// English if the mask holds it, else French, when the user's language has no candidate in mask.
language_index pick_user_language(language_mask mask = 0);
// The same choice for a given user language id.
language_index pick_language(LANGID user_language, language_mask mask);

// Makes index the chosen language: locale, code page, reading order; raises language_changed
// when the language changes.
void set_language(language_index index);

// The text of a string id in the interface language (the chosen language if translated, else
// English), falling back to English and then French; empty if no table has it.
std::wstring load_string(unsigned id);

// The text of a string id in one language's table (or its nearest table by language id), or an
// empty view.  The view points into the module's resources: not copied, not terminated.
std::wstring_view load_string_in(language_index index, unsigned id);

// Whether a language is written right to left: the locale signature's Unicode subset bit 123
// (bit 27 of its fourth word); Hebrew and Arabic when the signature cannot be read.
bool reads_right_to_left(language_index index);

// The setup's title (string 1000), alone or followed by " – " and the product's title.
std::wstring setup_title();
std::wstring setup_title(std::wstring_view product_title);

// The language's name in that language, its first character upper-cased ("Français").
std::wstring native_language_name(language_index index);

} // namespace setup
