#include "support/temp_names.hpp"

#include "support/paths.hpp"

#include <windows.h>


#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;

TEST(unique_temp_path, fills_every_placeholder_with_a_hex_digit)
{
    const fs::path path = mw::unique_temp_path(L"mw-%%%%%.tmp");
    EXPECT_TRUE(mw::same_path(path.parent_path(), fs::temp_directory_path()));
    EXPECT_TRUE(std::regex_match(path.filename().string(), std::regex("mw-[0-9a-f]{5}\\.tmp")))
        << path.filename().string();
    EXPECT_FALSE(fs::exists(path));
    EXPECT_NE(mw::unique_temp_path(L"mw-%%%%%.tmp"), mw::unique_temp_path(L"mw-%%%%%.tmp"));
}

TEST(unique_temp_path, never_returns_a_name_that_exists)
{
    // With one placeholder there are 16 names: occupy 15 of them, files and a folder.
    const fs::path temp = fs::temp_directory_path();
    std::set<std::wstring> taken;
    for (wchar_t c : std::wstring(L"0123456789abcde")) {
        const fs::path p = temp / (std::wstring(L"mwtaken-") + c + L".tmp");
        if (c == L'0')
            fs::create_directory(p);
        else
            std::ofstream(p).put('x');
        taken.insert(p.wstring());
    }
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(fs::path(mw::unique_temp_path(L"mwtaken-%.tmp")).filename(), L"mwtaken-f.tmp");
    for (const auto& p : taken)
        fs::remove(p);
}

// When every name the pattern allows is taken, the search gives up with ERROR_FILE_EXISTS
// instead of drawing for ever.
TEST(unique_temp_path, gives_up_when_every_name_is_taken)
{
    const fs::path temp = fs::temp_directory_path();
    struct taken_case {
        const wchar_t* pattern;
        std::wstring occupied; // the names made first, each a placeholder's possible digit
    };
    const taken_case cases[] = {
        {L"mwfull-fixed.tmp", L"-"},            // no placeholder: its one name
        {L"mwfull-%.tmp", L"0123456789abcdef"}, // one placeholder: all 16 names
    };
    for (const auto& c : cases) {
        std::vector<fs::path> made;
        for (wchar_t digit : c.occupied) {
            std::wstring name = c.pattern;
            if (const auto at = name.find(L'%'); at != std::wstring::npos)
                name[at] = digit;
            made.push_back(temp / name);
            std::ofstream(made.back()).put('x');
        }
        try {
            const std::wstring path = mw::unique_temp_path(c.pattern);
            ADD_FAILURE() << fs::path(c.pattern) << " gave " << fs::path(path);
        } catch (const std::system_error& e) {
            EXPECT_EQ(e.code(), std::error_code(ERROR_FILE_EXISTS, std::system_category())) << fs::path(c.pattern);
        }
        for (const auto& p : made)
            fs::remove(p);
    }
}

TEST(choose_temp_folder, names_a_version_4_uuid_folder_in_the_temporary_folder)
{
    std::wstring path, error;
    ASSERT_TRUE(mw::choose_temp_folder(path, error));
    EXPECT_TRUE(error.empty());
    const fs::path p{path};
    EXPECT_TRUE(mw::same_path(p.parent_path(), fs::temp_directory_path()));
    EXPECT_TRUE(std::regex_match(
        p.filename().string(),
        std::regex("marrowind_\\{[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}\\}")))
        << p.filename().string();
    EXPECT_FALSE(fs::exists(p));
    std::wstring other;
    ASSERT_TRUE(mw::choose_temp_folder(other, error));
    EXPECT_NE(other, path);
}

// The random name comes from the system's random source: no cryptographic provider (and none
// of the libraries behind one) is loaded into the process for it.
TEST(choose_temp_folder, loads_no_cryptographic_provider)
{
    std::wstring path, error;
    ASSERT_TRUE(mw::choose_temp_folder(path, error));
    for (const wchar_t* library : {L"bcrypt.dll", L"rsaenh.dll", L"cryptsp.dll", L"crypt32.dll"})
        EXPECT_EQ(GetModuleHandleW(library), nullptr) << fs::path(library);
}

} // namespace
