#pragma once
// Reading string tables and filling text templates: what every program of the product family
// needs of its texts, apart from the setup's languages and their fallbacks.

#include <windows.h>

#include <fmt/xchar.h>

#include <string>
#include <string_view>
#include <type_traits>

namespace setup {

// The raw entry of a string id in the table of exactly that language id ("#" included), or an
// empty view when the table or the entry does not exist.
std::wstring_view string_table_entry(HMODULE module, LANGID language, unsigned id);

// Fills a template: "{0}", "{1}" ... are replaced by the argument in that position, "{{" and
// "}}" stand for single braces.  Arguments are texts; a malformed template, or a field without an
// argument, throws fmt::format_error.
template <class... Texts>
std::wstring format_text(std::wstring_view text, const Texts&... arguments)
{
    static_assert((std::is_convertible_v<const Texts&, std::wstring_view> && ...),
        "format_text takes texts only; turn numbers into text first");
    return fmt::format(fmt::runtime(text), std::wstring_view(arguments)...);
}

} // namespace setup
