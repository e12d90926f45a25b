#include "engine/install_variables.hpp"
#include "support/paths.hpp"

#include "engine/known_folders.hpp"
#include "engine/payload.hpp"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

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
        {L"<CommonDocuments>\\Maker", join(env(L"PUBLIC"), L"Documents\\Maker")},
        {L"<Documents>", setup::csidl_folder(CSIDL_PERSONAL)},
        {L"<Desktop>", setup::csidl_folder(CSIDL_DESKTOPDIRECTORY)},
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

TEST(resolve_destination, registers_shared_folders_only_below_the_shared_variables)
{
    destination_resolver r{L"C:\\Inst", L"", L""};
    r.resolve_destination(L"<CommonDocuments>\\Maker\\Plans");
    r.resolve_destination(L"<CommonDesktop>\\Maker");
    r.resolve_destination(L"<Documents>\\Maker\\Private");
    r.resolve_destination(L"<Desktop>\\Maker");
    r.resolve_destination(L"<UserData>\\Maker");
    const std::wstring documents = setup::csidl_folder(CSIDL_COMMON_DOCUMENTS);
    const std::wstring desktop = setup::csidl_folder(CSIDL_COMMON_DESKTOPDIRECTORY);
    ASSERT_FALSE(documents.empty());
    ASSERT_FALSE(desktop.empty());
    const std::wstring expected[] = {join(documents, L"Maker"), join(documents, L"Maker\\Plans"), join(desktop, L"Maker")};
    ASSERT_EQ(r.shared_folders().size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i)
        EXPECT_TRUE(mw::same_path(r.shared_folders()[i].path, expected[i])) << i;
}

// A system folder the system does not have: the variable's fallback, and without one (or
// without the fallback either) the compress error 7 that fails the extraction.
TEST(resolve_destination, missing_system_folders_fall_back_or_fail_with_code_7)
{
    struct fallback_case {
        const wchar_t* folder;
        std::vector<int> missing;  // CSIDL numbers the lookup has no folder for
        std::vector<int> asked;    // what the resolver asks, in order
        const wchar_t* expected;   // null: fails with code 7
    };
    const fallback_case cases[] = {
        {L"<CommonData>\\M", {}, {CSIDL_COMMON_APPDATA}, L"X:\\35\\M"},
        {L"<CommonData>\\M", {CSIDL_COMMON_APPDATA}, {CSIDL_COMMON_APPDATA, CSIDL_APPDATA}, L"X:\\26\\M"},
        {L"<CommonData>\\M", {CSIDL_COMMON_APPDATA, CSIDL_APPDATA}, {CSIDL_COMMON_APPDATA, CSIDL_APPDATA}, nullptr},
        {L"<CommonDocuments>", {CSIDL_COMMON_DOCUMENTS}, {CSIDL_COMMON_DOCUMENTS, CSIDL_PERSONAL}, L"X:\\5"},
        {L"<CommonDesktop>", {CSIDL_COMMON_DESKTOPDIRECTORY},
         {CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY}, L"X:\\16"},
        {L"<SamplePath>", {CSIDL_COMMON_DESKTOPDIRECTORY}, {CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY},
         L"X:\\16"},
        {L"<SamplePath>", {CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY},
         {CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY}, nullptr},
        {L"<Documents>", {CSIDL_PERSONAL}, {CSIDL_PERSONAL}, nullptr}, // no fallback
        {L"<ProgramFiles>", {CSIDL_PROGRAM_FILES}, {CSIDL_PROGRAM_FILES}, nullptr},
    };
    for (const auto& c : cases) {
        std::vector<int> asked;
        destination_resolver r{L"C:\\Inst", L"", L"", [&](int csidl) {
            asked.push_back(csidl);
            const bool missing = std::find(c.missing.begin(), c.missing.end(), csidl) != c.missing.end();
            return missing ? std::wstring{} : L"X:\\" + std::to_wstring(csidl);
        }};
        SCOPED_TRACE(testing::Message() << fs::path(c.folder) << ", " << c.missing.size() << " missing");
        if (c.expected) {
            EXPECT_EQ(r.resolve_destination(c.folder), c.expected);
        } else {
            try {
                r.resolve_destination(c.folder);
                ADD_FAILURE() << "no error";
            } catch (const std::system_error& e) {
                EXPECT_EQ(e.code(), make_error_code(setup::compress_error::unexpected_error));
            }
        }
        EXPECT_EQ(asked, c.asked);
    }
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
