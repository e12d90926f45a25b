#include "product/tilewright/document.hpp"
#include "product/tilewright/registration.hpp"
#include "product/tilewright/resource_ids.h"
#include "product/tilewright/texts.hpp"
#include "engine/uninstall_entry.hpp"

#include "tests/product/product_support.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace {

using namespace tilewright;
using product_testing::bin_folder;

std::wstring lang_folder() { return (bin_folder() / L"Lang").wstring(); }

TEST(texts, come_from_the_library_of_the_stored_language_else_in_english)
{
    struct language_case {
        int index;
        int shown;
        const wchar_t* file_menu;
    };
    const language_case cases[] = {
        {language_french, language_french, L"&Fichier"}, {language_english, language_english, L"&File"},
        {language_german, language_german, L"&Datei"},   {language_spanish, language_spanish, L"&Archivo"},
        {7, language_english, L"&File"},                 {-1, language_english, L"&File"},
    };
    for (const auto& c : cases) {
        const texts strings(c.index, lang_folder());
        EXPECT_EQ(strings.language(), c.shown) << c.index;
        EXPECT_EQ(strings.get(IDS_MENU_FILE), c.file_menu) << c.index;
    }
    // Without its library a language falls back to English.
    const texts orphan(language_german, (bin_folder() / L"NoSuchFolder").wstring());
    EXPECT_EQ(orphan.language(), language_english);
    EXPECT_EQ(orphan.get(IDS_MENU_FILE), L"&File");
}

TEST(texts, fill_their_placeholders)
{
    const texts french(language_french, lang_folder());
    EXPECT_EQ(french.format(IDS_AT_LINE, 12, L"x"), L"Ligne 12 : x");
    const texts english;
    EXPECT_EQ(english.format(IDS_SLOT_TILES, L"Oak", 40, 6), L"Oak: 40 tiles, 6 cut");
}

// The placeholders "{0}", "{1}", ... a text uses.
std::set<std::wstring> placeholders(const std::wstring& text)
{
    std::set<std::wstring> out;
    const std::wregex pattern(L"\\{[0-9]+\\}");
    for (auto it = std::wsregex_iterator(text.begin(), text.end(), pattern); it != std::wsregex_iterator(); ++it)
        out.insert(it->str());
    return out;
}

TEST(texts, every_library_translates_every_text_with_the_same_placeholders)
{
    struct library_case {
        const wchar_t* file;
        LANGID langid;
    };
    const library_case libraries[] = {{L"Tilewright_fr.dll", MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH)},
                                      {L"Tilewright_de.dll", MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)},
                                      {L"Tilewright_es.dll", MAKELANGID(LANG_SPANISH, SUBLANG_SPANISH_MODERN)}};
    const HMODULE self = GetModuleHandleW(nullptr);
    int english_texts = 0;
    for (const auto& library : libraries) {
        const std::wstring path = lang_folder() + L"\\" + library.file;
        HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr) << std::filesystem::path(path);
        english_texts = 0;
        for (unsigned id = 0; id < 512; ++id) {
            const auto english = load_string_in(self, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), id);
            const auto translated = load_string_in(module, library.langid, id);
            EXPECT_EQ(english.has_value(), translated.has_value()) << std::filesystem::path(library.file) << " " << id;
            if (english && translated) {
                ++english_texts;
                EXPECT_EQ(placeholders(*english), placeholders(*translated))
                    << std::filesystem::path(library.file) << " " << id;
            }
        }
        FreeLibrary(module);
    }
    EXPECT_GT(english_texts, 30);
}

class language_value : public ::testing::Test {
protected:
    const std::wstring key_path = L"Software\\Marrowind Works Tests\\language." + std::to_wstring(GetCurrentProcessId());
    HKEY key = nullptr;
    void SetUp() override
    {
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override
    {
        RegCloseKey(key);
        RegDeleteTreeW(HKEY_CURRENT_USER, key_path.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, key_path.c_str());
    }
};

TEST_F(language_value, is_read_only_from_a_four_byte_dword)
{
    EXPECT_EQ(setup::read_stored_language(HKEY_CURRENT_USER, key_path), std::nullopt) << "no value";
    struct value_case {
        DWORD type;
        std::vector<BYTE> data;
        std::optional<std::uint32_t> expected;
    };
    const value_case cases[] = {
        {REG_DWORD, {2, 0, 0, 0}, 2},
        {REG_DWORD, {0, 0, 0, 0}, 0},
        {REG_DWORD, {2, 0}, std::nullopt},
        {REG_BINARY, {2, 0, 0, 0}, std::nullopt},
        {REG_SZ, {'2', 0, 0, 0}, std::nullopt},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(RegSetValueExW(key, L"MwLanguage", 0, c.type, c.data.data(), static_cast<DWORD>(c.data.size())),
                  ERROR_SUCCESS);
        EXPECT_EQ(setup::read_stored_language(HKEY_CURRENT_USER, key_path), c.expected) << c.type << " " << c.data.size();
    }
    EXPECT_EQ(setup::read_stored_language(HKEY_CURRENT_USER, key_path + L"\\missing"), std::nullopt);
}

TEST(describe, names_the_line_and_the_fault_in_the_users_language)
{
    const texts english;
    const texts german(language_german, lang_folder());
    try {
        parse_layout("tilewright-layout 1\nsize 4 4\nfloor 3\n");
        FAIL() << "accepted";
    } catch (const parse_error& e) {
        EXPECT_EQ(describe(e, english), L"Line 3: Unknown statement \"floor\".");
        EXPECT_EQ(describe(e, german), L"Zeile 3: Unbekannte Anweisung \u201Efloor\u201C.");
    }
    try {
        parse_module("tilewright-module 1\nunit 2 1\ntile 0 0 1 1 a\n");
        FAIL() << "accepted";
    } catch (const parse_error& e) {
        EXPECT_EQ(describe(e, english), L"The tiles do not cover the unit exactly once (cell 1, 0).");
    }
}

TEST(parse_command_line, tells_the_run_from_its_arguments)
{
    struct line_case {
        std::vector<std::wstring> arguments;
        run_mode mode;
        bool background;
        std::optional<std::uint64_t> version;
        const wchar_t* document;
        const wchar_t* bad;
    };
    const line_case cases[] = {
        {{}, run_mode::open, false, std::nullopt, L"", L""},
        {{L"C:\\Plans\\Hall.cal"}, run_mode::open, false, std::nullopt, L"C:\\Plans\\Hall.cal", L""},
        {{L"/Register", L"/Background"}, run_mode::register_types, true, std::nullopt, L"", L""},
        {{L"/register"}, run_mode::register_types, false, std::nullopt, L"", L""},
        {{L"/Register", L"/Background", L"/update=0001001400000003"}, run_mode::register_types, true,
         0x0001001400000003ull, L"", L""},
        {{L"/update=00010016000100FF", L"/BACKGROUND", L"/Register"}, run_mode::register_types, true,
         0x00010016000100FFull, L"", L""},
        {{L"/Unregister"}, run_mode::unregister_types, false, std::nullopt, L"", L""},
        {{L"/Unregister", L"/Background"}, run_mode::unregister_types, true, std::nullopt, L"", L""},
        // Faults: the offending argument is named, and /Background anywhere keeps them silent.
        {{L"/Register", L"/Background", L"/update=1234"}, run_mode::bad_arguments, true, std::nullopt, L"",
         L"/update=1234"},
        {{L"/Register", L"/update=000100140000000G"}, run_mode::bad_arguments, false, std::nullopt, L"",
         L"/update=000100140000000G"},
        {{L"/Register", L"/update=00010014000000030"}, run_mode::bad_arguments, false, std::nullopt, L"",
         L"/update=00010014000000030"},
        {{L"/Frobnicate", L"/Background"}, run_mode::bad_arguments, true, std::nullopt, L"", L"/Frobnicate"},
        {{L"/Register", L"/Unregister"}, run_mode::bad_arguments, false, std::nullopt, L"", L"/Unregister"},
        {{L"/Register", L"/Register"}, run_mode::bad_arguments, false, std::nullopt, L"", L"/Register"},
        {{L"/Register", L"Hall.cal"}, run_mode::bad_arguments, false, std::nullopt, L"", L"Hall.cal"},
        {{L"One.cal", L"Two.cal"}, run_mode::bad_arguments, false, std::nullopt, L"", L"Two.cal"},
        {{L"/Background"}, run_mode::bad_arguments, true, std::nullopt, L"", L"/Background"},
        {{L"/Unregister", L"/update=0001001400000003"}, run_mode::bad_arguments, false, std::nullopt, L"",
         L"/update="},
    };
    for (const auto& c : cases) {
        std::wstring joined;
        for (const auto& a : c.arguments)
            joined += a + L" ";
        const command_line line = parse_command_line(c.arguments);
        EXPECT_EQ(line.mode, c.mode) << std::filesystem::path(joined);
        EXPECT_EQ(line.background, c.background) << std::filesystem::path(joined);
        EXPECT_EQ(line.replaced_version, c.version) << std::filesystem::path(joined);
        EXPECT_EQ(line.document, c.document) << std::filesystem::path(joined);
        EXPECT_EQ(line.bad_argument, c.bad) << std::filesystem::path(joined);
    }
}

} // namespace
