#include "engine/install_variables.hpp"
#include "support/paths.hpp"

#include "engine/payload.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

namespace fs = std::filesystem;
using setup::destination_resolver;

std::wstring env(const wchar_t* name)
{
    const wchar_t* value = _wgetenv(name);
    return value ? value : L"";
}

std::wstring join(const std::wstring& a, const std::wstring& b) { return (fs::path(a) / b).wstring(); }

TEST(resolve_destination, replaces_the_leading_variable)
{
    destination_resolver r{L"C:\\Inst\\Dir", L"Tilewright Examples", L""};
    struct resolve_case {
        std::wstring folder;
        std::wstring expected;
    };
    const resolve_case cases[] = {
        {L"<InstallPath>", L"C:\\Inst\\Dir"},
        {L"<InstallPath>\\Lang", L"C:\\Inst\\Dir\\Lang"},
        {L"<InstallPath>\\Lang\\Sub", L"C:\\Inst\\Dir\\Lang\\Sub"},
        {L"<installpath>\\Lang", L"Lang"}, // names are case-sensitive: no variable, the rest alone
        {L"<Unknown>\\Lang", L"Lang"},
        {L"D:\\Plain\\Folder", L"D:\\Plain\\Folder"},
        {L"Relative\\<InstallPath>", L"Relative\\<InstallPath>"},
        {L"", L""},
        {L"<Temporary>\\Work", L"C:\\Inst\\Dir\\Work"}, // no temporary folder: the install folder
        {L"<ProgramFiles>\\Maker", join(env(L"ProgramFiles"), L"Maker")},
        {L"<ProgramCommon>", env(L"CommonProgramFiles")},
        {L"<CommonData>\\Maker", join(env(L"ALLUSERSPROFILE"), L"Maker")},
        {L"<UserData>", env(L"APPDATA")},
        {L"<WinDir>", env(L"windir")},
        {L"<System>", join(env(L"windir"), L"system32")},
        {L"<CommonDesktop>", join(env(L"PUBLIC"), L"Desktop")},
    };
    for (const auto& c : cases) {
        const std::wstring got = r.resolve_destination(c.folder);
        EXPECT_TRUE(mw::same_path(got, c.expected)) << fs::path(c.folder) << " gave " << fs::path(got);
        EXPECT_EQ(fs::path(got).is_absolute(), fs::path(c.expected).is_absolute()) << fs::path(c.folder);
    }
}

TEST(resolve_destination, temporary_variable_prefers_the_temporary_folder)
{
    destination_resolver r{L"C:\\Inst", L"", L"C:\\Temp\\marrowind_{x}"};
    EXPECT_EQ(r.resolve_destination(L"<Temporary>\\Work"), L"C:\\Temp\\marrowind_{x}\\Work");
}

TEST(resolve_destination, sample_folder_rule)
{
    const std::wstring desktop = join(env(L"PUBLIC"), L"Desktop");
    {
        destination_resolver r{L"C:\\Inst", L"Tilewright Examples", L""};
        EXPECT_TRUE(mw::same_path(r.resolve_destination(L"<SamplePath>"), join(desktop, L"Tilewright Examples")));
        ASSERT_EQ(r.shared_folders().size(), 1u);
        EXPECT_TRUE(mw::same_path(r.shared_folders()[0].path, join(desktop, L"Tilewright Examples")));
        EXPECT_FALSE(r.shared_folders()[0].granted);
    }
    {
        destination_resolver r{L"C:\\Inst", L"D:\\Samples", L""};
        EXPECT_EQ(r.resolve_destination(L"<SamplePath>\\More"), L"D:\\Samples\\More");
        EXPECT_TRUE(r.shared_folders().empty());
    }
    {
        destination_resolver r{L"C:\\Inst", L"", L""};
        EXPECT_TRUE(mw::same_path(r.resolve_destination(L"<SamplePath>"), desktop));
        EXPECT_TRUE(r.shared_folders().empty());
    }
}

TEST(resolve_destination, registers_each_shared_sub_folder_once)
{
    destination_resolver r{L"C:\\Inst", L"", L""};
    const std::wstring data = env(L"ALLUSERSPROFILE");
    for (int round = 0; round < 2; ++round) {
        r.resolve_destination(L"<CommonData>\\Marrowind Works\\Textures\\Tilewright");
        r.resolve_destination(L"<CommonData>\\Marrowind Works\\Modules\\Tilewright");
        r.resolve_destination(L"<InstallPath>\\Lang");
        r.resolve_destination(L"<CommonData>\\marrowind works\\textures"); // same folders, other case
    }
    const std::wstring expected[] = {
        join(data, L"Marrowind Works"),
        join(data, L"Marrowind Works\\Textures"),
        join(data, L"Marrowind Works\\Textures\\Tilewright"),
        join(data, L"Marrowind Works\\Modules"),
        join(data, L"Marrowind Works\\Modules\\Tilewright"),
    };
    ASSERT_EQ(r.shared_folders().size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i)
        EXPECT_TRUE(mw::same_path(r.shared_folders()[i].path, expected[i])) << i;
}

TEST(names_unknown_variable, tells_bracketed_names_that_are_not_variables)
{
    EXPECT_TRUE(destination_resolver::names_unknown_variable(L"<Nope>\\x"));
    EXPECT_TRUE(destination_resolver::names_unknown_variable(L"<installpath>"));
    EXPECT_FALSE(destination_resolver::names_unknown_variable(L"<InstallPath>\\x"));
    EXPECT_FALSE(destination_resolver::names_unknown_variable(L"C:\\x"));
    EXPECT_FALSE(destination_resolver::names_unknown_variable(L""));
}

} // namespace
