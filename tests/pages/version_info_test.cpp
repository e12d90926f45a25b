#include "pages/product.hpp"
#include "pages/version_info.hpp"

#include "tests/scratch.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using setup::make_file_version;
using setup::version_info;

constexpr LANGID english_us = 0x0409;
constexpr LANGID french_france = 0x040C;
constexpr LANGID french_canada = 0x0C0C;
constexpr LANGID german = 0x0407;

std::wstring fixture(const std::wstring& name) { return std::wstring(MW_VERSION_FIXTURES) + L"\\" + name + L".dll"; }

TEST(version_info, files_without_version_information_give_empty_answers)
{
    testing_support::scratch_folder scratch;
    testing_support::write_bytes(scratch.path() / L"plain.txt", "not a program");
    const std::wstring paths[] = {
        fixture(L"version_none"),
        fixture(L"version_missing"),
        scratch / L"plain.txt",
        L"",
    };
    for (const auto& path : paths) {
        SCOPED_TRACE(testing::Message() << "file " << std::filesystem::path(path));
        const version_info info = version_info::load_file(path);
        EXPECT_EQ(info.size(), 0u);
        EXPECT_EQ(info.fixed(), nullptr);
        EXPECT_EQ(info.file_version(), 0u);
        EXPECT_EQ(info.file_flags(), 0u);
        EXPECT_TRUE(info.translations().empty());
        EXPECT_EQ(info.product_name(), L"");
        EXPECT_EQ(info.get_string(L"CompanyName"), L"");
        EXPECT_EQ(info.display_version(english_us), L"");
        EXPECT_EQ(info.display_version(french_france), L"");
    }
}

TEST(version_info, only_unicode_translations_carry_strings)
{
    struct translation_case {
        const wchar_t* fixture;
        std::vector<std::wstring> translations;
        std::wstring product_name;
    };
    const translation_case cases[] = {
        // Fixed information is read even when no translation qualifies.
        {L"version_ansi_only", {}, L""},
        {L"version_fixed_only", {}, L""},
        {L"version_1_22_1_1", {L"040904b0"}, L"Tilewright"},
        // The 1252 translation listed first is passed over; French is the first Unicode one.
        {L"version_translations", {L"040c04b0", L"040904b0"}, L"Tilewright (fran\u00e7ais)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "fixture " << std::wstring(c.fixture));
        const version_info info = version_info::load_file(fixture(c.fixture));
        EXPECT_GT(info.size(), 0u);
        ASSERT_NE(info.fixed(), nullptr);
        EXPECT_EQ(info.file_version(), setup::setup_version);
        EXPECT_EQ(info.translations(), c.translations);
        EXPECT_EQ(info.product_name(), c.product_name);
    }

    // Strings come from the first Unicode translation only.
    const version_info several = version_info::load_file(fixture(L"version_translations"));
    EXPECT_EQ(several.get_string(L"OnlyInEnglish"), L"");
    EXPECT_EQ(several.product_version(), L"1.22a");
}

TEST(version_info, string_values)
{
    const version_info info = version_info::load_file(fixture(L"version_1_22_1_1"));
    struct string_case {
        const wchar_t* name;
        std::wstring value;
    };
    const string_case cases[] = {
        {L"CompanyName", L"Marrowind Works"},
        {L"ProductName", L"Tilewright"},
        {L"productname", L"Tilewright"}, // the system's lookup ignores case
        {L"ProductVersion", L"1.22a"},
        {L"LegalCopyright", L"Copyright \u00a9 Marrowind Works"},
        {L"Empty", L""},
        {L"Missing", L""},
        {L"", L""},
    };
    for (const auto& c : cases) {
        const std::wstring value = info.get_string(c.name);
        EXPECT_EQ(value, c.value) << std::wstring(c.name);
        EXPECT_EQ(value.find(L'\0'), std::wstring::npos) << std::wstring(c.name);
    }
    EXPECT_EQ(info.legal_copyright(), L"Copyright \u00a9 Marrowind Works");
}

TEST(version_info, display_version_remarks_and_language)
{
    struct display_case {
        const wchar_t* fixture;
        LANGID language;
        std::wstring expected;
    };
    const display_case cases[] = {
        {L"version_1_22_1_1", english_us, L"Tilewright 1.22a"},
        {L"version_1_22_1_1", french_france, L"Tilewright 1.22a"},
        {L"version_prerelease", english_us, L"Tilewright 2.0 beta 3"},
        {L"version_prerelease", german, L"Tilewright 2.0 beta 3"},
        {L"version_prerelease", french_france, L"Tilewright 2.0 b\u00eata 3"},
        {L"version_prerelease", french_canada, L"Tilewright 2.0 b\u00eata 3"},
        {L"version_prerelease_twice", english_us, L"Tilewright b\u00eata 2.0 beta 3"},
        {L"version_prerelease_twice", french_france, L"Tilewright b\u00eata 2.0 b\u00eata 3"},
        {L"version_beta_release", english_us, L"Tilewright 2.0 b\u00eata 3"},
        {L"version_private_debug", english_us, L"Tilewright 1.22 beta \u2013 Private \u2013 Debug"},
        {L"version_private_debug", french_france, L"Tilewright 1.22 b\u00eata \u2013 Private \u2013 Debug"},
        {L"version_flags_masked", english_us, L"Tilewright 1.22a"},
        {L"version_no_version_text", english_us, L"Tilewright \u2013 Private"},
        {L"version_ansi_only", english_us, L""},
        {L"version_fixed_only", english_us, L" \u2013 Debug"},
    };
    for (const auto& c : cases) {
        const version_info info = version_info::load_file(fixture(c.fixture));
        EXPECT_EQ(info.display_version(c.language), c.expected)
            << std::wstring(c.fixture) << " in language " << std::hex << c.language;
    }

    const version_info masked = version_info::load_file(fixture(L"version_flags_masked"));
    EXPECT_EQ(masked.file_flags(), 0u);
    ASSERT_NE(masked.fixed(), nullptr);
    EXPECT_EQ(masked.fixed()->dwFileFlags, static_cast<DWORD>(VS_FF_DEBUG | VS_FF_PRIVATEBUILD));
}

TEST(version_info, file_versions_against_the_setup_version)
{
    struct version_case {
        const wchar_t* fixture;
        std::uint64_t version;
        int order; // compared with setup_version
    };
    const version_case cases[] = {
        {L"version_1_21_65535_65535", make_file_version(1, 21, 65535, 65535), -1},
        {L"version_1_22_1_0", make_file_version(1, 22, 1, 0), -1},
        {L"version_1_22_1_1", make_file_version(1, 22, 1, 1), 0},
        {L"version_1_22_1_2", make_file_version(1, 22, 1, 2), 1},
        {L"version_1_22_2_0", make_file_version(1, 22, 2, 0), 1},
        {L"version_1_23_0_0", make_file_version(1, 23, 0, 0), 1},
        {L"version_2_0_0_0", make_file_version(2, 0, 0, 0), 1},
    };
    for (const auto& c : cases) {
        const std::uint64_t got = version_info::load_file(fixture(c.fixture)).file_version();
        EXPECT_EQ(got, c.version) << std::wstring(c.fixture);
        const int order = got < setup::setup_version ? -1 : got > setup::setup_version ? 1 : 0;
        EXPECT_EQ(order, c.order) << std::wstring(c.fixture);
    }
}

// The setup's own block: read in place from this test program (which carries the same
// resource) and from the built setup executable.
TEST(version_info, own_block_describes_the_setup)
{
    const version_info& own = version_info::load_own();
    EXPECT_EQ(&own, &version_info::load_own()); // located once
    const version_info setup_exe = version_info::load_file(MW_SETUP_EXE);

    for (const version_info* info : {&own, &setup_exe}) {
        SCOPED_TRACE(info == &own ? "own resource" : "setup.exe");
        EXPECT_GT(info->size(), 0u);
        EXPECT_EQ(info->product_name(), L"Install");
        EXPECT_EQ(info->product_version(), L"3.01");
        EXPECT_EQ(info->file_version(), make_file_version(3, 1, 0, 1));
        EXPECT_EQ(info->file_flags(), 0u);
        EXPECT_EQ(info->get_string(L"ApplicationId"), setup::product_name);
        EXPECT_FALSE(info->legal_copyright().empty());
        EXPECT_EQ(info->display_version(english_us), L"Install 3.01");
    }
}

TEST(version_info, moving_hands_over_the_block)
{
    version_info first = version_info::load_file(fixture(L"version_translations"));
    const std::size_t size = first.size();
    ASSERT_GT(size, 0u);

    version_info second = std::move(first);
    EXPECT_EQ(first.size(), 0u);
    EXPECT_EQ(first.fixed(), nullptr);
    EXPECT_TRUE(first.translations().empty());
    EXPECT_EQ(first.product_name(), L"");
    EXPECT_EQ(second.size(), size);
    EXPECT_EQ(second.product_name(), L"Tilewright (fran\u00e7ais)");

    version_info third;
    third = std::move(second);
    EXPECT_EQ(second.size(), 0u);
    EXPECT_EQ(third.file_version(), setup::setup_version);
    EXPECT_EQ(third.product_name(), L"Tilewright (fran\u00e7ais)");

    third = version_info::load_file(fixture(L"version_none"));
    EXPECT_EQ(third.size(), 0u);
    EXPECT_EQ(third.product_name(), L"");
}

TEST(replace_last, replaces_only_the_last_exact_occurrence)
{
    struct replace_case {
        std::wstring text, find, new_text, expected;
    };
    const replace_case cases[] = {
        {L"2.0 b\u00eata 3", L"b\u00eata", L"beta", L"2.0 beta 3"},
        {L"b\u00eata b\u00eata", L"b\u00eata", L"beta", L"b\u00eata beta"},
        {L"B\u00eata", L"b\u00eata", L"beta", L"B\u00eata"}, // case-sensitive
        {L"aaa", L"aa", L"b", L"ab"},                        // the last start position wins
        {L"abc", L"abc", L"", L""},
        {L"abc", L"", L"x", L"abc"},    // empty pattern: nothing
        {L"ab", L"abc", L"x", L"ab"},   // pattern longer than the text
        {L"abc", L"d", L"x", L"abc"},   // absent
        {L"", L"", L"x", L""},
        {L"x.y.z", L".", L" \u2013 ", L"x.y \u2013 z"},
    };
    for (const auto& c : cases) {
        std::wstring text = c.text;
        setup::replace_last(text, c.find, c.new_text);
        EXPECT_EQ(text, c.expected) << c.text << " / " << c.find;
    }
}

} // namespace
