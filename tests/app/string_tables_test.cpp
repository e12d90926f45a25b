// Checks the string tables linked into this program (the setup's own tables): every language has
// every id, the translations keep the fields, quotes and line breaks of the English texts, and the
// untranslated entries are exactly the known ones.

#include "app/strings.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

using setup::language_index;

// The ids of the setup's texts.
const std::set<unsigned> text_ids = {
    1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1010, 1011, 1012, 1013, 1014, 1015, 1016,
    1017, 1018, 1019, 1021, 1100, 1101, 1102, 1103, 1104, 1105, 1106, 1107, 1108, 1110, 1111, 1112,
    1113, 1114, 1115, 1117, 1118, 1119, 1120, 1121, 1122, 1123, 1124, 1125, 1126, 1127, 1129, 1131,
};
// Every id of the string blocks that hold them (ids 992 to 1151).
constexpr unsigned first_block_id = 992, last_block_id = 1151;

// Untranslated entries ("#") of the translated languages.
const std::map<language_index, std::set<unsigned>> known_gaps = {
    {0, {}},              // French
    {1, {}},              // English
    {2, {1131}},          // German
    {3, {1021, 1131}},    // Spanish
    {4, {1021, 1131}},    // Portuguese
    {7, {1021, 1131}},    // Turkish
    {9, {}},              // Romanian
    {11, {1021, 1131}},   // Italian
    {12, {1007}},         // Czech
    {19, {}},             // Hungarian
    {21, {}},             // Arabic
    {24, {}},             // Croatian
};

std::wstring_view entry(language_index language, unsigned id)
{
    return setup::string_table_entry(GetModuleHandleW(nullptr), setup::language_langid(language), id);
}

// What a translation must keep: the fields in order of their numbers, the quotes and the line breaks.
struct text_shape {
    std::vector<std::wstring> fields;
    std::size_t single_quotes = 0;
    std::size_t double_quotes = 0;
    std::size_t line_breaks = 0;
    std::size_t stray_braces = 0;

    bool operator==(const text_shape&) const = default;
};

text_shape shape_of(std::wstring_view text)
{
    text_shape shape;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'{') {
            const std::size_t close = text.find(L'}', i);
            const auto inside = close == std::wstring_view::npos ? std::wstring_view{} : text.substr(i + 1, close - i - 1);
            if (!inside.empty() && inside.find_first_not_of(L"0123456789") == std::wstring_view::npos) {
                shape.fields.emplace_back(inside);
                i = close;
            } else {
                ++shape.stray_braces;
            }
        } else if (c == L'}') {
            ++shape.stray_braces;
        } else if (c == L'\'') {
            ++shape.single_quotes;
        } else if (c == L'"') {
            ++shape.double_quotes;
        } else if (c == L'\n') {
            ++shape.line_breaks;
        }
    }
    std::sort(shape.fields.begin(), shape.fields.end());
    return shape;
}

std::string describe(const text_shape& shape)
{
    std::string text = "fields";
    for (const auto& field : shape.fields)
        text += " {" + std::string(field.begin(), field.end()) + "}";
    return text + ", ' x" + std::to_string(shape.single_quotes) + ", \" x" + std::to_string(shape.double_quotes)
        + ", line breaks x" + std::to_string(shape.line_breaks) + ", stray braces x"
        + std::to_string(shape.stray_braces);
}

TEST(string_tables, every_language_holds_exactly_the_text_ids)
{
    for (language_index language = 0; language < setup::language_count; ++language) {
        for (unsigned id = first_block_id; id <= last_block_id; ++id) {
            const bool present = !entry(language, id).empty();
            EXPECT_EQ(present, text_ids.contains(id)) << "language " << language << ", id " << id;
        }
    }
}

TEST(string_tables, english_has_every_text_with_well_formed_fields)
{
    for (unsigned id : text_ids) {
        const auto text = entry(setup::english_language, id);
        EXPECT_NE(text, L"#") << id;
        EXPECT_EQ(shape_of(text).stray_braces, 0u) << id;
        EXPECT_NO_THROW(setup::format_text(text, L"first", L"second")) << id;
    }
}

TEST(string_tables, translations_keep_the_fields_quotes_and_line_breaks_of_english)
{
    for (language_index language = 0; language < setup::language_count; ++language)
        EXPECT_EQ(known_gaps.contains(language), setup::ui_translated(language)) << "language " << language;
    for (const auto& [language, gaps] : known_gaps) {
        std::set<unsigned> untranslated;
        for (unsigned id : text_ids) {
            const auto text = entry(language, id);
            if (text == L"#") {
                untranslated.insert(id);
                continue;
            }
            const auto english = shape_of(entry(setup::english_language, id));
            const auto translated = shape_of(text);
            EXPECT_EQ(translated, english)
                << "language " << language << ", id " << id << ": " << describe(translated) << " instead of "
                << describe(english);
        }
        EXPECT_EQ(untranslated, gaps) << "language " << language;
    }
}

TEST(string_tables, untranslated_languages_are_almost_wholly_marked_untranslated)
{
    for (language_index language = 0; language < setup::language_count; ++language) {
        if (setup::ui_translated(language))
            continue;
        std::size_t marked = 0;
        for (unsigned id : text_ids) {
            const auto text = entry(language, id);
            if (text == L"#") {
                ++marked;
                continue;
            }
            EXPECT_EQ(shape_of(text), shape_of(entry(setup::english_language, id)))
                << "language " << language << ", id " << id;
        }
        EXPECT_GE(marked * 10, text_ids.size() * 9) << "language " << language;
    }
}

} // namespace
