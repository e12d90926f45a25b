#include "support/paths.hpp"

#include "tests/scratch.hpp"

#include <windows.h>

#include <gtest/gtest.h>

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

} // namespace
