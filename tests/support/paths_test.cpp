#include "support/paths.hpp"

#include "tests/scratch.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using testing_support::scratch_folder;

// Two paths and whether they name the same file or folder.
struct path_case {
    const wchar_t* a;
    const wchar_t* b;
    bool same;
};

TEST(same_path, compares_missing_paths_by_their_normalised_elements)
{
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

TEST(same_path_lexically, reads_paths_as_the_system_does_then_normalises)
{
    const path_case cases[] = {
        {L"\\\\server\\share\\", L"//SERVER/share", true},
        {L"\\\\server\\share\\..\\x", L"\\\\server\\share\\x", true}, // ".." stops at the share
        {L"\\\\server\\share\\..\\x", L"\\\\server\\x", false},
        {L"C:\\A//B\\\\", L"c:/a/b", true},
        {L"C:\\..\\A", L"C:\\A", true},
        {L"C:\\A", L"C:\\A\\B\\..\\..\\B", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mw::same_path_lexically(c.a, c.b), c.same)
            << testing::PrintToString(std::wstring(c.a)) << " / " << testing::PrintToString(std::wstring(c.b));
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
        // Shares: ".." stops at the share as the system reads it; no separator trails the share.
        {L"\\\\server\\share\\a\\..\\..\\b.txt", L"\\\\server\\share\\b.txt"},
        {L"\\\\server\\share\\", L"\\\\server\\share"},
        {L"\\\\server", std::nullopt},
        // Repeated and trailing separators, slashes at the root.
        {L"C:\\A\\\\B\\\\", L"C:\\A\\B"},
        {L"c:/", L"C:\\"},
        {L"c:\\A/../b/", L"C:\\b"},
        {L"\\\\.\\C:\\A\\b.txt", std::nullopt},
        {L"\\\\?\\\\\\?\\C:\\b.txt", std::nullopt},
        {L"b.txt", std::nullopt},
        {L"\\A\\b.txt", std::nullopt},
        {L"C:b.txt", std::nullopt},
        {L"C:", std::nullopt},
        {L"1:\\b.txt", std::nullopt},
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

// ---------------------------------------------------------------------------------------------
// Path texts: roots, appending and the lexical normal form, touching no file

// A row of a path-text table: the text and what the function under test makes of it.
template <typename Result>
struct text_case {
    const wchar_t* text;
    Result expected;
};

template <typename Result, std::size_t N, typename Function>
void expect_each(const text_case<Result> (&cases)[N], Function function)
{
    for (const auto& c : cases)
        EXPECT_EQ(function(c.text), c.expected) << testing::PrintToString(std::wstring(c.text));
}

TEST(path_text_parts, are_cut_after_the_root_and_before_the_final_component)
{
    const struct {
        const wchar_t* path;
        const wchar_t* root_name;
        bool root_directory;
        const wchar_t* relative; // what follows the root and its separators
        const wchar_t* folder;
        const wchar_t* name;
    } cases[] = {
        {L"C:\\A\\b.exe", L"C:", true, L"A\\b.exe", L"C:\\A", L"b.exe"},
        {L"C:/A//b.exe", L"C:", true, L"A//b.exe", L"C:/A", L"b.exe"},
        {L"c:/A", L"c:", true, L"A", L"c:/", L"A"},
        {L"C:\\A\\", L"C:", true, L"A\\", L"C:\\A", L""},
        // All the separators after the root go with it; the folder keeps one of them.
        {L"C:\\\\/b.exe", L"C:", true, L"b.exe", L"C:\\", L"b.exe"},
        {L"C:\\", L"C:", true, L"", L"C:\\", L""},
        {L"C:b.exe", L"C:", false, L"b.exe", L"C:", L"b.exe"},
        {L"C:", L"C:", false, L"", L"C:", L""},
        {L"1:\\A", L"", false, L"1:\\A", L"1:", L"A"}, // no drive letter
        {L"\\\\server\\share\\b.exe", L"\\\\server", true, L"share\\b.exe", L"\\\\server\\share", L"b.exe"},
        {L"\\\\server\\share", L"\\\\server", true, L"share", L"\\\\server\\", L"share"},
        {L"//server/share", L"//server", true, L"share", L"//server/", L"share"},
        {L"\\\\server", L"\\\\server", false, L"", L"\\\\server", L""},
        {L"\\\\?\\C:\\a", L"\\\\?", true, L"C:\\a", L"\\\\?\\C:", L"a"},
        {L"\\b.exe", L"", true, L"b.exe", L"\\", L"b.exe"},
        {L"\\\\\\A", L"", true, L"A", L"\\", L"A"}, // three separators: no root name
        {L"A\\b.exe", L"", false, L"A\\b.exe", L"A", L"b.exe"},
        {L"b.exe", L"", false, L"b.exe", L"", L"b.exe"},
        {L"", L"", false, L"", L"", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.path)));
        const mw::rooted_path root = mw::split_root(c.path);
        EXPECT_EQ(root.root_name, c.root_name);
        EXPECT_EQ(root.root_directory, c.root_directory);
        EXPECT_EQ(root.relative, c.relative);
        const mw::named_path named = mw::split_name(c.path);
        EXPECT_EQ(named.folder, c.folder);
        EXPECT_EQ(named.name, c.name);
    }
}

TEST(is_absolute_path, needs_a_drive_and_separator_or_a_share)
{
    const text_case<bool> cases[] = {
        {L"C:\\x", true},         {L"c:/x", true},           {L"C:\\", true},
        {L"\\\\server\\share", true}, {L"//server/share", true}, {L"\\\\?\\C:\\x", true},
        {L"\\\\server", true},    {L"D:x", false},           {L"D:", false},
        {L"\\x", false},          {L"/x", false},            {L"x\\y", false},
        {L"", false},             {L"1:\\x", false},
    };
    expect_each(cases, mw::is_absolute_path);
}

// A text appended to a base and then brought to its normal form, as a typed folder is taken.
std::wstring normal_under(std::wstring_view base, std::wstring_view text)
{
    return mw::lexical_normal_form(mw::append_path(base, text));
}

TEST(appended_normal_form, takes_a_text_relative_to_the_base)
{
    const std::wstring program_files = L"C:\\Program Files";
    const text_case<const wchar_t*> cases[] = {
        {L"Tools", L"C:\\Program Files\\Tools"},
        {L"Tools\\Sub", L"C:\\Program Files\\Tools\\Sub"},
        {L"C:\\A\\..\\B", L"C:\\B"},
        {L"C:/A/B", L"C:\\A\\B"},
        // Drive-relative: another drive replaces the base, the base's drive joins it.
        {L"D:x", L"D:x"},
        {L"d:x\\..\\y", L"d:y"},
        {L"C:x", L"C:\\Program Files\\x"},
        {L"c:x", L"C:\\Program Files\\x"},
        // Root-relative: the base's drive only.
        {L"\\x", L"C:\\x"},
        {L"/x/y", L"C:\\x\\y"},
        // Shares and device paths stand alone.
        {L"\\\\server\\share\\x", L"\\\\server\\share\\x"},
        {L"//server/share", L"\\\\server\\share"},
        {L"\\\\server\\share\\a\\..\\..\\b", L"\\\\server\\b"},
        {L"\\\\?\\C:\\a\\..\\b", L"\\\\?\\C:\\b"},
        // Repeated separators collapse; none trails but the root's.
        {L"C:\\\\A//\\B\\\\", L"C:\\A\\B"},
        {L"Tools\\", L"C:\\Program Files\\Tools"},
        {L"C:\\", L"C:\\"},
        {L"C:/", L"C:\\"},
        // "." goes; ".." goes with the component before it, and directly after the root.
        {L"C:\\.\\A\\.", L"C:\\A"},
        {L"C:\\..", L"C:\\"},
        {L"C:\\..\\..\\x", L"C:\\x"},
        {L"C:\\A\\..", L"C:\\"},
        {L".", L"C:\\Program Files"},
        {L"..", L"C:\\"},
        {L"..\\..\\x", L"C:\\x"},
        {L"", L"C:\\Program Files"},
        // Nothing is checked: wildcards and blanks stay.
        {L"C:\\a*b\\ c ", L"C:\\a*b\\ c "},
    };
    expect_each(cases, [&](std::wstring_view typed) { return normal_under(program_files, typed); });
}

TEST(appended_normal_form, stays_relative_without_a_base)
{
    const text_case<const wchar_t*> cases[] = {
        {L"", L"."}, {L".", L"."}, {L"a\\..", L"."}, {L"..", L".."}, {L"a\\..\\..\\b", L"..\\b"},
        {L"Tools", L"Tools"}, {L"\\x", L"\\x"}, {L"D:..\\x", L"D:..\\x"},
    };
    expect_each(cases, [](std::wstring_view typed) { return normal_under(L"", typed); });
}

TEST(append_path, joins_without_normalising)
{
    const struct {
        const wchar_t* base;
        const wchar_t* text;
        const wchar_t* joined;
    } cases[] = {
        {L"C:\\A", L"b/c", L"C:\\A\\b/c"},
        {L"C:/A/", L"b", L"C:/A/b"},            // the base's own separator serves
        {L"C:\\A\\..", L".\\b", L"C:\\A\\..\\.\\b"},
        {L"C:", L"b", L"C:b"},                   // a bare drive takes no separator
        {L"C:\\A", L"c:b", L"C:\\A\\b"},       // the same drive in another case
        {L"C:\\A", L"/b", L"C:\\b"},
        {L"\\\\server\\share\\a", L"b", L"\\\\server\\share\\a\\b"},
        {L"\\\\server\\share", L"D:b", L"D:b"},
        {L"C:\\A", L"\\\\server\\share", L"\\\\server\\share"},
        {L"C:\\A", L"", L"C:\\A"},
        {L"", L"b", L"b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mw::append_path(c.base, c.text), c.joined)
            << testing::PrintToString(std::wstring(c.base)) << " + " << testing::PrintToString(std::wstring(c.text));
}

TEST(lexical_normal_form, keeps_the_root_as_split_and_reads_a_share_name_as_a_component)
{
    const text_case<const wchar_t*> cases[] = {
        {L"C:", L"C:"},
        {L"C:..\\x", L"C:..\\x"},       // drive-relative: ".." has nothing to go with
        {L"C:a\\..\\..\\b", L"C:..\\b"},
        {L"//server/share/", L"\\\\server\\share"},
        {L"\\\\server\\share\\..\\x", L"\\\\server\\x"}, // unlike canonical_path
        {L"a/./b//", L"a\\b"},
        {L"\\..\\x", L"\\x"},
        {L"\\\\?\\C:\\.\\x\\", L"\\\\?\\C:\\x"},
    };
    expect_each(cases, mw::lexical_normal_form);
}

TEST(path_components, come_off_the_front_one_at_a_time)
{
    const struct {
        const wchar_t* path;
        std::vector<std::wstring> components;
    } cases[] = {
        {L"<InstallPath>\\Lang\\Sub", {L"<InstallPath>", L"Lang", L"Sub"}},
        {L"a//b\\/c\\", {L"a", L"b", L"c"}},
        {L"\\a", {L"", L"a"}}, // a leading separator: an empty first component
        {L"C:\\a", {L"C:", L"a"}},
        {L"a", {L"a"}},
    };
    for (const auto& c : cases) {
        std::vector<std::wstring> taken;
        for (std::wstring_view rest = c.path; !rest.empty();)
            taken.emplace_back(mw::take_component(rest));
        EXPECT_EQ(taken, c.components) << testing::PrintToString(std::wstring(c.path));
    }
}

} // namespace
