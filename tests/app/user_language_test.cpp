// The start-up language choice end to end, for the user language that LC_ALL gives Wine.  ctest runs
// this program once per user language with LC_ALL set and the expected results in
// MW_EXPECT_USER_LANGID (hex), MW_EXPECT_LANGUAGE and MW_EXPECT_C_LOCALE.  The cases run in one
// process, in order: the first one sees the language context being built.

#include "app/strings.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

namespace {

std::string expected(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

TEST(user_language, the_context_starts_in_french_and_start_up_picks_the_users_language)
{
    const std::string user_langid = expected("MW_EXPECT_USER_LANGID");
    const std::string language = expected("MW_EXPECT_LANGUAGE");
    const std::string c_locale = expected("MW_EXPECT_C_LOCALE");
    ASSERT_FALSE(user_langid.empty() || language.empty() || c_locale.empty())
        << "run by ctest with LC_ALL and the expected results in the environment";
    ASSERT_EQ(GetUserDefaultLangID(), std::stoul(user_langid, nullptr, 16)) << "LC_ALL did not reach the program";

    const auto& context = setup::current_language();
    EXPECT_EQ(context.index, setup::french_language);
    EXPECT_EQ(context.mask, setup::language_bit(setup::french_language));
    EXPECT_EQ(context.lcid, setup::language_lcid(setup::french_language));
    EXPECT_EQ(context.code_page, 1252u);
    EXPECT_EQ(context.module, nullptr);
    EXPECT_FALSE(context.right_to_left);
    EXPECT_EQ(GetThreadLocale(), setup::language_lcid(setup::french_language));
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");

    setup::set_language(setup::pick_user_language(setup::setup_languages));
    EXPECT_EQ(context.index, std::stoul(language));
    // The user's own locale when the chosen language is the user's (German of Austria for an
    // Austrian user), the language's locale otherwise.
    EXPECT_EQ(std::string(std::setlocale(LC_CTYPE, nullptr)), c_locale);
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    EXPECT_EQ(GetThreadLocale(), setup::language_lcid(setup::french_language))
        << "later changes leave the thread locale alone";
}

TEST(user_language, missing_strings_follow_the_setups_fallbacks_not_the_users_language)
{
    struct lookup_case {
        setup::language_index language;
        unsigned id;
        const wchar_t* expected;
    };
    const lookup_case cases[] = {
        {12, 1007, L"Install"},             // Czech gap: English
        {2, 1131, L"Updating DirectX..."},  // German gap: English
        {14, 1006, L"Next"},                // Greek: English
        {0, 4002, L""},                     // missing in French (test table; German has it): empty
        {1, 4001, L"Seulement en français"}, // missing in English (test table): French
    };
    for (const auto& c : cases) {
        setup::set_language(c.language);
        EXPECT_EQ(setup::load_string(c.id), c.expected) << "language " << c.language << ", id " << c.id;
    }
}

} // namespace
