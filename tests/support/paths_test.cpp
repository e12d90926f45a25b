#include "support/paths.hpp"

#include "tests/scratch.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string_view>

namespace {

using testing_support::scratch_folder;

TEST(same_path, compares_missing_paths_by_their_normalised_elements)
{
    struct path_case {
        const wchar_t* a;
        const wchar_t* b;
        bool same;
    };
    const path_case cases[] = {
        {L"C:\\Dir\\File.txt", L"c:\\dir\\.\\FILE.TXT", true},
        {L"C:\\A\\B\\..\\C", L"C:\\A\\C", true},
        {L"C:\\A\\C\\", L"C:\\A\\C", true},
        {L"C:\\A\\C", L"C:\\A\\C\\D", false},
        {L"C:\\A", L"D:\\A", false},
        {L"Relative\\X", L"relative\\x", true},
        {L"", L"", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mw::same_path(c.a, c.b), c.same) << std::filesystem::path(c.a) << " / " << std::filesystem::path(c.b);
}

TEST(same_path, asks_the_file_system_about_existing_objects)
{
    scratch_folder dir;
    testing_support::write_bytes(dir / L"original.txt", "x");
    ASSERT_TRUE(CreateHardLinkW((dir / L"second-name.txt").c_str(), (dir / L"original.txt").c_str(), nullptr));
    testing_support::write_bytes(dir / L"other.txt", "x");

    EXPECT_TRUE(mw::same_path(dir / L"original.txt", dir / L"second-name.txt"));
    EXPECT_TRUE(mw::same_file_object(dir / L"original.txt", dir / L"second-name.txt"));
    EXPECT_FALSE(mw::same_path(dir / L"original.txt", dir / L"other.txt"));
    EXPECT_TRUE(mw::same_path(dir.path().wstring() + L"\\", dir / L"sub\\.."));
    EXPECT_FALSE(mw::same_file_object(dir / L"original.txt", dir / L"missing.txt"));
}

TEST(canonical_path, resolves_prefixes_slashes_and_dots_and_refuses_what_is_no_full_path)
{
    const std::pair<const wchar_t*, std::optional<std::wstring>> cases[] = {
        {L"C:\\A\\b.txt", L"C:\\A\\b.txt"},
        {L"c:/A/b.txt", L"C:\\A\\b.txt"},
        {L"C:\\A\\.\\B\\..\\b.txt", L"C:\\A\\b.txt"},
        {L"C:\\A\\..\\..\\..\\b.txt", L"C:\\b.txt"},
        {L"C:\\A\\B\\", L"C:\\A\\B"},
        {L"C:\\", L"C:\\"},
        {L"\\\\?\\C:\\A\\..\\b.txt", L"C:\\b.txt"},
        {L"\\??\\C:\\A\\b.txt", L"C:\\A\\b.txt"},
        {L"\\\\?\\UNC\\server\\share\\a.txt", L"\\\\server\\share\\a.txt"},
        {L"//server/share/a.txt", L"\\\\server\\share\\a.txt"},
        {L"\\\\.\\C:\\A\\b.txt", std::nullopt},
        {L"\\\\?\\\\\\?\\C:\\b.txt", std::nullopt},
        {L"b.txt", std::nullopt},
        {L"\\A\\b.txt", std::nullopt},
        {L"C:b.txt", std::nullopt},
        {L"C:\\A\\b.txt:hidden", std::nullopt},
        {L"C:\\A\\*.txt", std::nullopt},
        {L"", std::nullopt},
    };
    for (const auto& [path, canonical] : cases)
        EXPECT_EQ(mw::canonical_path(path), canonical) << std::filesystem::path(path);
}

TEST(path_parts, split_a_canonical_path_into_its_root_parent_and_name)
{
    struct parts_case {
        const wchar_t* path;
        const wchar_t* root;
        const wchar_t* parent;
        const wchar_t* name;
    };
    const parts_case cases[] = {
        {L"C:\\A\\b.txt", L"C:\\", L"C:\\A", L"b.txt"},
        {L"C:\\A", L"C:\\", L"C:\\", L"A"},
        {L"C:\\", L"C:\\", L"", L""},
        {L"\\\\server\\share\\a\\b", L"\\\\server\\share", L"\\\\server\\share\\a", L"b"},
        {L"\\\\server\\share\\a", L"\\\\server\\share", L"\\\\server\\share", L"a"},
        {L"\\\\server\\share", L"\\\\server\\share", L"", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::filesystem::path(c.path).string());
        EXPECT_EQ(mw::root_of(c.path), c.root);
        EXPECT_EQ(mw::parent_of(c.path), c.parent);
        EXPECT_EQ(mw::name_of(c.path), c.name);
        EXPECT_EQ(mw::is_root(c.path), std::wstring_view(c.parent).empty());
    }
}

TEST(path_within, compares_whole_components_without_regard_to_case)
{
    EXPECT_TRUE(mw::path_within(L"C:\\Apps\\Tilewright\\x.txt", L"c:\\apps\\TILEWRIGHT"));
    EXPECT_TRUE(mw::path_within(L"C:\\Apps\\Tilewright", L"C:\\Apps\\Tilewright"));
    EXPECT_TRUE(mw::path_within(L"C:\\Apps", L"C:\\"));
    EXPECT_FALSE(mw::path_within(L"C:\\Apps\\Tilewright2\\x.txt", L"C:\\Apps\\Tilewright"));
    EXPECT_FALSE(mw::path_within(L"C:\\Apps", L"C:\\Apps\\Tilewright"));
    EXPECT_FALSE(mw::path_within(L"C:\\Apps", L""));
}

} // namespace
