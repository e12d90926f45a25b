#include "app/strings.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <locale>
#include <string>
#include <string_view>

namespace {

using setup::language_index;
using setup::language_mask;

constexpr language_index french = 0, english = 1, german = 2, spanish = 3, portuguese = 4, turkish = 7,
                         italian = 11, czech = 12, greek = 14, hebrew = 16, japanese = 18, serbian = 20,
                         arabic = 21, russian = 23, croatian = 24;
constexpr language_mask all_languages = (language_mask{1} << setup::language_count) - 1;

// A text as UTF-8 for failure messages.
std::string shown(std::wstring_view text)
{
    if (text.empty())
        return "(empty)";
    const int length = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, utf8.data(), size, nullptr, nullptr);
    return utf8;
}

// Restores the chosen language and the default mask after a test.
class language_test : public testing::Test {
protected:
    void TearDown() override
    {
        setup::set_language(saved_index_);
        setup::current_language().mask = saved_mask_;
    }

private:
    language_index saved_index_ = setup::current_language().index;
    language_mask saved_mask_ = setup::current_language().mask;
};

// --- The language table -------------------------------------------------------------------

TEST(language_table, gives_each_language_its_table_language_and_interface_state)
{
    struct row {
        LANGID langid;
        bool translated;
    };
    const row rows[setup::language_count] = {
        {1036, true}, {1033, true}, {1031, true}, {3082, true}, {2070, true}, {1043, false}, {1030, false},
        {1055, true}, {1026, false}, {1048, true}, {2052, false}, {1040, true}, {1029, true}, {1044, false},
        {1032, false}, {1045, false}, {1037, false}, {1066, false}, {1041, false}, {1038, true}, {2074, false},
        {1025, true}, {1060, false}, {1049, false}, {1050, true},
    };
    for (language_index i = 0; i < setup::language_count; ++i) {
        EXPECT_EQ(setup::language_langid(i), rows[i].langid) << "language " << i;
        EXPECT_EQ(setup::ui_translated(i), rows[i].translated) << "language " << i;
        EXPECT_EQ(setup::language_bit(i), language_mask{1} << i);
    }
    for (language_index outside : {25u, 26u, 1000u, 0xFFFFFFFFu}) {
        EXPECT_EQ(setup::language_langid(outside), 1036) << outside;
        EXPECT_FALSE(setup::ui_translated(outside)) << outside;
    }
    EXPECT_EQ(setup::setup_languages, setup::language_bit(french) | setup::language_bit(english)
            | setup::language_bit(german) | setup::language_bit(spanish));
}

TEST(language_table, uses_the_users_own_locale_only_for_the_users_exact_language)
{
    const LCID user = GetUserDefaultLCID();
    for (language_index i = 0; i < setup::language_count; ++i) {
        const LANGID langid = setup::language_langid(i);
        if (LANGIDFROMLCID(user) == langid)
            EXPECT_EQ(setup::language_lcid(i), user) << "language " << i;
        else
            EXPECT_EQ(setup::language_lcid(i), MAKELCID(langid, SORT_DEFAULT)) << "language " << i;
    }
}

// --- Picking the user's language ----------------------------------------------------------

TEST_F(language_test, pick_language_maps_every_user_language_within_the_mask)
{
    struct pick_case {
        LANGID user;
        language_mask mask;
        language_index expected;
    };
    const pick_case cases[] = {
        // The four offered languages, whatever the country.
        {0x040C, setup::setup_languages, french},   // French (France)
        {0x0C0C, setup::setup_languages, french},   // French (Canada)
        {0x0409, setup::setup_languages, english},  // English (United States)
        {0x0809, setup::setup_languages, english},  // English (United Kingdom)
        {0x0407, setup::setup_languages, german},   // German (Germany)
        {0x0C07, setup::setup_languages, german},   // German (Austria)
        {0x0807, setup::setup_languages, german},   // German (Switzerland)
        {0x0C0A, setup::setup_languages, spanish},  // Spanish (Spain, modern sort)
        {0x080A, setup::setup_languages, spanish},  // Spanish (Mexico)
        // Outside the mask: English if the mask holds it, else French.
        {0x0410, setup::setup_languages, english},  // Italian
        {0x0410, setup::language_bit(french), french},
        {0x0411, setup::language_bit(german), french},
        {0x0407, setup::language_bit(french) | setup::language_bit(english), english},
        // Every mapped primary language.
        {0x0816, all_languages, portuguese},        // Portuguese (Portugal)
        {0x0416, all_languages, portuguese},        // Portuguese (Brazil)
        {0x0413, all_languages, 5},                 // Dutch
        {0x0406, all_languages, 6},                 // Danish
        {0x041F, all_languages, turkish},           // Turkish
        {0x0402, all_languages, 8},                 // Bulgarian
        {0x0418, all_languages, 9},                 // Romanian
        {0x0410, all_languages, italian},           // Italian
        {0x0405, all_languages, czech},             // Czech
        {0x0414, all_languages, 13},                // Norwegian (Bokmål)
        {0x0814, all_languages, 13},                // Norwegian (Nynorsk)
        {0x0408, all_languages, greek},             // Greek
        {0x0415, all_languages, 15},                // Polish
        {0x040D, all_languages, hebrew},            // Hebrew
        {0x042A, all_languages, 17},                // Vietnamese
        {0x0411, all_languages, japanese},          // Japanese
        {0x040E, all_languages, 19},                // Hungarian
        {0x0401, all_languages, arabic},            // Arabic (Saudi Arabia)
        {0x0C01, all_languages, arabic},            // Arabic (Egypt)
        {0x0424, all_languages, 22},                // Slovenian
        {0x0419, all_languages, russian},           // Russian
        // Chinese: Simplified (PRC) and Singapore only.
        {0x0804, all_languages, 10},                // Chinese (PRC)
        {0x1004, all_languages, 10},                // Chinese (Singapore)
        {0x0404, all_languages, english},           // Chinese (Traditional, Taiwan)
        {0x0C04, all_languages, english},           // Chinese (Hong Kong)
        {0x1404, all_languages, english},           // Chinese (Macao)
        // Croatian, Bosnian and Serbian share a primary language.
        {0x041A, all_languages, croatian},          // Croatian (Croatia)
        {0x101A, all_languages, croatian},          // Croatian (Bosnia and Herzegovina)
        {0x141A, all_languages, english},           // Bosnian (Latin)
        {0x201A, all_languages, english},           // Bosnian (Cyrillic)
        {0x141A, all_languages & ~setup::language_bit(english), french},
        {0x081A, all_languages, serbian},           // Serbian (Latin, Serbia and Montenegro)
        {0x0C1A, all_languages, serbian},           // Serbian (Cyrillic, Serbia and Montenegro)
        {0x241A, all_languages, serbian},           // Serbian (Latin, Serbia)
        {0x281A, all_languages, serbian},           // Serbian (Cyrillic, Serbia)
        {0x181A, all_languages, serbian},           // Serbian (Latin, Bosnia and Herzegovina)
        {0x041A, setup::setup_languages, english},
        // Languages the setup does not know.
        {0x0412, all_languages, english},           // Korean
        {0x041D, all_languages, english},           // Swedish
        {0x040B, setup::language_bit(german), french}, // Finnish
        {0x0000, all_languages, english},           // neutral
    };
    for (const auto& c : cases)
        EXPECT_EQ(setup::pick_language(c.user, c.mask), c.expected)
            << std::hex << "user language 0x" << c.user << ", mask 0x" << c.mask;
}

TEST_F(language_test, a_mask_of_zero_stands_for_the_contexts_mask)
{
    auto& context = setup::current_language();
    context.mask = setup::language_bit(french);
    EXPECT_EQ(setup::pick_language(0x0407, 0), french);
    EXPECT_EQ(setup::pick_language(0x0409, 0), french);
    context.mask = setup::setup_languages;
    EXPECT_EQ(setup::pick_language(0x0407, 0), german);
    EXPECT_EQ(setup::pick_language(0x0410, 0), english);
}

TEST_F(language_test, pick_user_language_asks_for_the_users_default_language)
{
    const LANGID user = GetUserDefaultLangID();
    for (language_mask mask : {setup::setup_languages, all_languages, setup::language_bit(french)})
        EXPECT_EQ(setup::pick_user_language(mask), setup::pick_language(user, mask)) << mask;
}

// --- Changing the language ----------------------------------------------------------------

TEST_F(language_test, set_language_stores_the_language_its_code_page_and_reading_order)
{
    struct language_case {
        language_index index;
        UINT code_page;
        bool right_to_left;
    };
    const language_case cases[] = {
        {german, 1252, false}, {arabic, 1256, true}, {french, 1252, false}, {hebrew, 1255, true},
        {russian, 1251, false}, {greek, 1253, false}, {czech, 1250, false}, {japanese, 932, false},
        {turkish, 1254, false},
    };
    auto& context = setup::current_language();
    for (const auto& c : cases) {
        context.module = GetModuleHandleW(L"kernel32.dll");
        setup::set_language(c.index);
        EXPECT_EQ(context.index, c.index);
        EXPECT_EQ(context.lcid, setup::language_lcid(c.index)) << c.index;
        EXPECT_EQ(context.code_page, c.code_page) << c.index;
        EXPECT_EQ(context.right_to_left, c.right_to_left) << c.index;
        EXPECT_EQ(context.module, nullptr) << "the string module is looked up again after a change";
    }
}

TEST_F(language_test, language_changed_is_raised_only_when_the_language_changes)
{
    setup::set_language(english);
    int raised = 0;
    language_index seen = 99;
    boost::signals2::scoped_connection connection = setup::language_changed().connect([&] {
        ++raised;
        seen = setup::current_language().index;
    });

    setup::set_language(german);
    EXPECT_EQ(raised, 1);
    EXPECT_EQ(seen, german) << "listeners see the new language";
    setup::set_language(german);
    EXPECT_EQ(raised, 1);
    setup::set_language(english);
    EXPECT_EQ(raised, 2);
}

TEST_F(language_test, numbers_keep_the_c_conventions_and_the_ansi_conversion_follows_the_language)
{
    struct locale_case {
        language_index index;
        wchar_t character;    // a letter of the language
        unsigned char ansi;   // that letter in the language's ANSI code page
    };
    const locale_case cases[] = {
        {german, L'\u00DF', 0xDF},  // ß in 1252
        {russian, L'\u0416', 0xC6}, // Ж in 1251
        {greek, L'\u03A9', 0xD9},   // Ω in 1253
        {czech, L'\u0159', 0xF8},   // ř in 1250
        {arabic, L'\u0639', 0xDA},  // ع in 1256
        {french, L'\u00E9', 0xE9},  // é in 1252
    };
    for (const auto& c : cases) {
        setup::set_language(c.index);
        const std::string ctype = std::setlocale(LC_CTYPE, nullptr);
        std::string code_page(".");
        code_page += std::to_string(setup::current_language().code_page);
        EXPECT_TRUE(ctype.size() > code_page.size() && ctype.ends_with(code_page)) << ctype;
        EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C") << c.index;
        EXPECT_EQ(std::setlocale(LC_COLLATE, nullptr), ctype);
        EXPECT_EQ(std::setlocale(LC_TIME, nullptr), ctype);
        EXPECT_EQ(std::setlocale(LC_MONETARY, nullptr), ctype);
        EXPECT_EQ(std::locale().name(), "C");

        char buffer[32];
        std::snprintf(buffer, sizeof(buffer), "%.2f", 1234.5);
        EXPECT_STREQ(buffer, "1234.50") << c.index;
        char ansi[MB_LEN_MAX] = {};
        EXPECT_EQ(std::wctomb(ansi, c.character), 1) << c.index;
        EXPECT_EQ(static_cast<unsigned char>(ansi[0]), c.ansi) << c.index;
    }
}

TEST_F(language_test, every_language_gets_a_c_runtime_locale_with_its_code_page)
{
    for (language_index i = 0; i < setup::language_count; ++i) {
        setup::set_language(i);
        const std::string ctype = std::setlocale(LC_CTYPE, nullptr);
        std::string code_page(".");
        code_page += std::to_string(setup::current_language().code_page);
        EXPECT_TRUE(ctype.ends_with(code_page))
            << "language " << i << ": " << ctype;
        EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    }
}

// --- Looking up texts ---------------------------------------------------------------------

TEST_F(language_test, load_string_falls_back_to_english_then_french)
{
    struct lookup_case {
        language_index language;
        unsigned id;
        const wchar_t* expected;
    };
    const lookup_case cases[] = {
        {english, 1006, L"Next"},
        {french, 1006, L"Suivant"},
        {german, 1006, L"Weiter"},
        {czech, 1006, L"Další"},
        // Czech marks "Install" untranslated: English.
        {czech, 1007, L"Install"},
        // The interface is not translated into Greek: English, even where the Greek table has a text.
        {greek, 1000, L"Installer"},
        {greek, 1007, L"Install"},
        {japanese, 1002, L"Cancel"},
        {99, 1006, L"Next"},
        // The listed gaps.
        {german, 1131, L"Updating DirectX..."},
        {spanish, 1021, L"Save an Error Report..."},
        {italian, 1131, L"Updating DirectX..."},
        {french, 1131, L"Mise à jour de DirectX..."},
        // 4001 is missing from English (test table): found in French.
        {english, 4001, L"Seulement en français"},
        {german, 4001, L"Seulement en français"},
        // 4002 is missing from French: no further fallback.
        {french, 4002, L""},
        {english, 4002, L"Only in English"},
        {german, 4002, L"Nur auf Deutsch"},
    };
    for (const auto& c : cases) {
        setup::set_language(c.language);
        EXPECT_EQ(setup::load_string(c.id), c.expected)
            << "language " << c.language << ", id " << c.id << ": " << shown(setup::load_string(c.id));
    }
}

TEST_F(language_test, ids_without_an_entry_give_an_empty_text_in_every_language)
{
    for (language_index i = 0; i < setup::language_count; ++i) {
        setup::set_language(i);
        for (unsigned id : {1009u, 1116u, 1130u, 1020u, 1132u, 999u, 1133u, 60000u}) {
            EXPECT_EQ(setup::load_string(id), L"") << "language " << i << ", id " << id;
            EXPECT_TRUE(setup::load_string_in(i, id).empty()) << "language " << i << ", id " << id;
        }
    }
}

TEST(load_string_in, reads_one_language_and_treats_a_hash_as_missing)
{
    HMODULE self = GetModuleHandleW(nullptr);
    EXPECT_EQ(std::wstring(setup::string_table_entry(self, 1029, 1007)), L"#");
    EXPECT_TRUE(setup::load_string_in(czech, 1007).empty());
    EXPECT_EQ(std::wstring(setup::load_string_in(czech, 1008)), L"Procházet...");
    EXPECT_EQ(std::wstring(setup::load_string_in(english, 1110)),
        L"Installation is not complete.\n\nDo you still confirm exit Installation ?");
    EXPECT_EQ(std::wstring(setup::load_string_in(english, 1115)), L"Copying File \"{0}\"...");
    EXPECT_EQ(std::wstring(setup::load_string_in(arabic, 1006)), L"التالي");
}

TEST(load_string_in, tries_the_language_its_default_country_its_neutral_table_then_the_neutral_table)
{
    struct slot_case {
        language_index language;
        unsigned id;
        const wchar_t* expected;
    };
    const slot_case cases[] = {
        // Serbian (Latin) has "#" for "Next": same primary language, default sublanguage (Croatian).
        {serbian, 1006, L"Dalje"},
        {serbian, 1000, L"Instalacioni program"},
        {italian, 4019, L"Testo italiano"},
        // Italian "#": the Italian table without country.
        {italian, 4017, L"Testo senza paese"},
        {italian, 4018, L"Testo senza paese"},
        // Italian "#" and absent without country: the neutral table.
        {italian, 4016, L"Neutral text"},
        // No Italian table at all in the French lookup: the neutral table.
        {french, 4016, L"Neutral text"},
        // Block in English only: the loader's own choice finds it for any language.
        {czech, 4032, L"Only table"},
        {english, 4032, L"Only table"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(std::wstring(setup::load_string_in(c.language, c.id)), c.expected)
            << "language " << c.language << ", id " << c.id << ": " << shown(setup::load_string_in(c.language, c.id));
}

TEST(load_string_in, leaves_a_string_the_language_marks_missing_to_the_callers_fallbacks)
{
    // French has a table for this block with "#" at 4002; the loader's own choice of table would
    // give the English or the user's text instead.
    EXPECT_TRUE(setup::load_string_in(french, 4002).empty());
    EXPECT_TRUE(setup::load_string_in(czech, 1007).empty());
}

TEST(string_table_entry, reads_exactly_the_table_of_a_language)
{
    HMODULE self = GetModuleHandleW(nullptr);
    EXPECT_EQ(std::wstring(setup::string_table_entry(self, 1033, 1000)), L"Installer");
    EXPECT_EQ(std::wstring(setup::string_table_entry(self, 1036, 1001)), L"OK");
    EXPECT_EQ(std::wstring(setup::string_table_entry(self, 1033, 4001)), L"#");
    EXPECT_TRUE(setup::string_table_entry(self, 1040, 4018).empty()) << "no fallback to other tables";
    EXPECT_TRUE(setup::string_table_entry(self, 0x0416, 1000).empty()) << "no Brazilian table";
    EXPECT_TRUE(setup::string_table_entry(self, 1033, 1009).empty());
    EXPECT_TRUE(setup::string_table_entry(GetModuleHandleW(L"kernel32.dll"), 1033, 1000).empty());
}

// --- Filling templates --------------------------------------------------------------------

TEST(format_text, fills_positional_fields_with_texts)
{
    struct format_case {
        const wchar_t* text;
        const wchar_t* expected;
    };
    const format_case cases[] = {
        {L"{0}", L"first"},
        {L"{1}", L"second"},
        {L"{1} before {0}", L"second before first"},
        {L"{0}, {0} and {1}", L"first, first and second"},
        {L"{{{0}}}", L"{first}"},
        {L"}}{{", L"}{"},
        {L"{{0}}", L"{0}"},
        {L"No field", L"No field"},
        {L"", L""},
        {L"Copying File \"{0}\"...", L"Copying File \"first\"..."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(setup::format_text(c.text, L"first", std::wstring(L"second")), c.expected) << shown(c.text);
}

TEST(format_text, keeps_arguments_as_they_are)
{
    const std::wstring braces = L"{1} {{0}} 100%";
    EXPECT_EQ(setup::format_text(L"[{0}]", braces), L"[{1} {{0}} 100%]");
    EXPECT_EQ(setup::format_text(L"{0}|{1}", L"", std::wstring_view(L"C:\\Program Files\\Tilewright")),
        L"|C:\\Program Files\\Tilewright");
    EXPECT_EQ(setup::format_text(L"{0}", L"Ελληνικά – 日本語"), L"Ελληνικά – 日本語");
}

TEST(format_text, rejects_a_malformed_template)
{
    for (std::wstring_view text : {L"{", L"}", L"{0", L"0}", L"{2}", L"{x}", L"{}{0}", L"{0}{}", L"{-1}",
             L"{0:d}", L"{0:%}", L"Installer {"}) {
        EXPECT_THROW(setup::format_text(text, L"first", L"second"), fmt::format_error) << shown(text);
    }
    EXPECT_THROW(setup::format_text(L"{0}"), fmt::format_error) << "a field without an argument";
}

TEST_F(language_test, format_text_fills_the_tables_templates)
{
    setup::set_language(english);
    EXPECT_EQ(setup::format_text(setup::load_string(1105), setup::load_string(1006), setup::load_string(1002)),
        L"Click on 'Next' to continue or on 'Cancel' to exit Installation.");
    setup::set_language(german);
    EXPECT_EQ(setup::format_text(setup::load_string(1101), L"Tilewright 1.21", L"Tilewright 1.22a"),
        L"Aktualisierung von 'Tilewright 1.21' auf 'Tilewright 1.22a'.");
}

// --- Titles and names ---------------------------------------------------------------------

TEST_F(language_test, setup_title_names_the_setup_and_optionally_the_product)
{
    struct title_case {
        language_index language;
        const wchar_t* alone;
        const wchar_t* with_product;
    };
    const title_case cases[] = {
        {english, L"Installer", L"Installer \u2013 Tilewright 1.22a"},
        {french, L"Programme d’installation", L"Programme d’installation \u2013 Tilewright 1.22a"},
        {german, L"Installationsprogramm", L"Installationsprogramm \u2013 Tilewright 1.22a"},
        {greek, L"Installer", L"Installer \u2013 Tilewright 1.22a"},
    };
    for (const auto& c : cases) {
        setup::set_language(c.language);
        EXPECT_EQ(setup::setup_title(), c.alone);
        EXPECT_EQ(setup::setup_title(L"Tilewright 1.22a"), c.with_product);
    }
}

TEST(native_language_name, names_each_language_in_itself_with_a_capital)
{
    struct name_case {
        language_index language;
        const wchar_t* expected;
    };
    const name_case cases[] = {
        {french, L"Français"}, {english, L"English"}, {german, L"Deutsch"}, {spanish, L"Español"},
        {russian, L"Русский"}, {greek, L"Ελληνικά"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(setup::native_language_name(c.language), c.expected)
            << "language " << c.language << ": " << shown(setup::native_language_name(c.language));
}

} // namespace
