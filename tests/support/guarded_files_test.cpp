#include "support/guarded_files.hpp"

#include "support/paths.hpp"
#include "tests/links.hpp"
#include "tests/scratch.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <system_error>

namespace {

namespace fs = std::filesystem;
using testing_support::read_bytes;
using testing_support::scratch_folder;
using testing_support::write_bytes;

// The code an operation failed with; 0 when it did not throw.
DWORD failure_of(const std::function<void()>& operation)
{
    try {
        operation();
        return 0;
    } catch (const std::system_error& e) {
        return static_cast<DWORD>(e.code().value());
    }
}

// A place users may write (below the temporary folder, a trusted base) with a folder and a file
// in it, and a victim folder elsewhere holding files of the same names.
class guarded_files : public ::testing::Test {
protected:
    void SetUp() override
    {
        write_bytes(place.path() / L"Shared\\Inner\\file.txt", "ours");
        write_bytes(victim.path() / L"Inner\\file.txt", "victim's");
        write_bytes(victim.path() / L"file.txt", "victim's");
    }

    std::wstring shared() const { return place / L"Shared"; }
    bool victim_untouched() const
    {
        return read_bytes(victim.path() / L"Inner\\file.txt") == "victim's" &&
               read_bytes(victim.path() / L"file.txt") == "victim's" && fs::exists(victim.path() / L"Inner");
    }

    scratch_folder place;
    scratch_folder victim;
};

TEST_F(guarded_files, act_on_the_places_themselves)
{
    const std::wstring file = shared() + L"\\Inner\\file.txt";
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_NO_THROW(mw::delete_guarded(file));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_NO_THROW(mw::delete_guarded(file)) << "a file already gone counts as deleted";
    EXPECT_NO_THROW(mw::delete_guarded(shared() + L"\\Missing\\x.txt"));

    const auto made = mw::create_folders_guarded(shared() + L"\\Inner\\A\\B");
    EXPECT_EQ(made, (std::vector<std::wstring>{shared() + L"\\Inner\\A", shared() + L"\\Inner\\A\\B"}));
    EXPECT_TRUE(mw::create_folders_guarded(shared() + L"\\Inner\\A\\B").empty());

    {
        const mw::unique_hfile created =
            mw::open_guarded(shared() + L"\\Inner\\A\\new.txt", GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW);
        ASSERT_TRUE(created);
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(created.get(), "new", 3, &written, nullptr));
    }
    EXPECT_EQ(read_bytes(shared() + L"\\Inner\\A\\new.txt"), "new");

    EXPECT_FALSE(mw::remove_folder_guarded(shared() + L"\\Inner\\A")) << "it still holds something";
    EXPECT_TRUE(mw::remove_folder_guarded(shared() + L"\\Inner\\A\\B"));
    EXPECT_TRUE(mw::remove_folder_guarded(shared() + L"\\Inner\\A\\B")) << "gone before";
    EXPECT_EQ(failure_of([&] { mw::delete_guarded(shared() + L"\\Inner"); }), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_EQ(failure_of([&] { mw::open_guarded(shared() + L"\\x", GENERIC_WRITE, 0, CREATE_ALWAYS); }),
              DWORD{ERROR_INVALID_PARAMETER})
        << "nothing is truncated before the check";
}

// Every operation refuses a place reached through a link, wherever the link stands below the
// base, and touches nothing of what the link leads to.
TEST_F(guarded_files, refuse_every_place_reached_through_a_link)
{
    if (!testing_support::can_make_links())
        GTEST_SKIP() << testing_support::no_links_here;
    struct link_case {
        const char* name;
        std::wstring replaced; // renamed away and replaced by a link
        std::wstring target;
    };
    const link_case places[] = {
        {"a folder above the place", shared(), victim.path().wstring()},
        {"the place itself", shared() + L"\\Inner", victim / L"Inner"},
    };
    struct operation_case {
        const char* name;
        std::function<void(const std::wstring& inner)> run;
    };
    const operation_case operations[] = {
        {"delete a file", [](const std::wstring& inner) { mw::delete_guarded(inner + L"\\file.txt"); }},
        {"open a file to write",
         [](const std::wstring& inner) {
             mw::open_guarded(inner + L"\\file.txt", GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS);
         }},
        {"open a file's access list",
         [](const std::wstring& inner) {
             mw::open_guarded(inner + L"\\file.txt", READ_CONTROL | WRITE_DAC, FILE_SHARE_READ, OPEN_EXISTING);
         }},
        {"create a file", [](const std::wstring& inner) {
             mw::open_guarded(inner + L"\\other.txt", GENERIC_WRITE, 0, CREATE_NEW);
         }},
        {"remove the folder", [](const std::wstring& inner) { mw::remove_folder_guarded(inner); }},
        {"create a folder below", [](const std::wstring& inner) { mw::create_folders_guarded(inner + L"\\New"); }},
        {"check", [](const std::wstring& inner) { mw::check_unlinked(inner + L"\\file.txt"); }},
        {"hold the folders", [](const std::wstring& inner) { mw::held_folders{inner}; }},
    };
    for (const auto& place_case : places) {
        const std::wstring moved = place_case.replaced + L".moved";
        ASSERT_TRUE(MoveFileW(place_case.replaced.c_str(), moved.c_str()));
        testing_support::make_link(place_case.target, place_case.replaced);
        for (const auto& operation : operations) {
            SCOPED_TRACE(std::string(place_case.name) + ": " + operation.name);
            EXPECT_EQ(failure_of([&] { operation.run(shared() + L"\\Inner"); }), mw::link_refused);
            EXPECT_TRUE(victim_untouched());
            EXPECT_FALSE(fs::exists(victim.path() / L"other.txt"));
            EXPECT_FALSE(fs::exists(victim.path() / L"Inner\\other.txt"));
        }
        testing_support::remove_link(place_case.replaced);
        ASSERT_TRUE(MoveFileW(moved.c_str(), place_case.replaced.c_str()));
    }
}

TEST_F(guarded_files, refuse_a_file_that_is_a_link_or_has_a_second_name_for_writes_and_grants)
{
    const std::wstring inner = shared() + L"\\Inner";
    ASSERT_TRUE(CreateHardLinkW((inner + L"\\second.txt").c_str(), (victim / L"file.txt").c_str(), nullptr));
    EXPECT_EQ(failure_of([&] { mw::open_guarded(inner + L"\\second.txt", GENERIC_WRITE, 0, OPEN_ALWAYS); }),
              mw::link_refused);
    EXPECT_EQ(failure_of([&] { mw::open_guarded(inner + L"\\second.txt", WRITE_DAC, 0, OPEN_EXISTING); }),
              mw::link_refused);
    EXPECT_EQ(failure_of([&] { mw::open_guarded(inner + L"\\second.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING); }),
              0u)
        << "reading takes nothing along";
    EXPECT_NO_THROW(mw::delete_guarded(inner + L"\\second.txt")) << "deleting a name leaves the file's other name";
    EXPECT_TRUE(victim_untouched());

    if (!testing_support::can_make_links())
        GTEST_SKIP() << testing_support::no_links_here;
    testing_support::make_link(victim / L"file.txt", inner + L"\\linked.txt");
    EXPECT_EQ(failure_of([&] { mw::open_guarded(inner + L"\\linked.txt", GENERIC_WRITE, 0, OPEN_ALWAYS); }),
              mw::link_refused);
    EXPECT_EQ(failure_of([&] { mw::check_unlinked(inner + L"\\linked.txt"); }), mw::link_refused);
    EXPECT_TRUE(victim_untouched());
}

TEST_F(guarded_files, held_folders_cannot_be_renamed_or_removed_until_released)
{
    const std::wstring inner = shared() + L"\\Inner";
    {
        const mw::held_folders held(inner + L"\\Missing\\Deeper");
        EXPECT_FALSE(held.complete());
        EXPECT_TRUE(mw::equal_ignoring_case(held.deepest(), inner));
        for (const std::wstring& folder : {inner, shared()}) {
            EXPECT_FALSE(MoveFileW(folder.c_str(), (folder + L".away").c_str())) << fs::path(folder);
            EXPECT_TRUE(fs::exists(folder));
        }
        // What lies in them can still be changed.
        write_bytes(inner + L"\\more.txt", "more");
        EXPECT_TRUE(DeleteFileW((inner + L"\\more.txt").c_str()));
    }
    EXPECT_TRUE(MoveFileW(inner.c_str(), (inner + L".away").c_str()));
}

TEST(trusted_base_of, is_the_deepest_system_folder_holding_the_path_else_its_root)
{
    wchar_t temp[MAX_PATH + 1] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH + 1, temp), 0u);
    const std::wstring temp_folder = mw::canonical_path(temp).value();
    wchar_t windows[MAX_PATH] = {};
    ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    const std::wstring windows_folder = mw::canonical_path(windows).value();

    EXPECT_EQ(mw::trusted_base_of(temp_folder + L"\\a\\b.txt"), temp_folder);
    EXPECT_EQ(mw::trusted_base_of(windows_folder + L"\\x.ini"), windows_folder);
    EXPECT_EQ(mw::trusted_base_of(L"Q:\\Games\\Tilewright"), L"Q:\\");
    EXPECT_EQ(mw::trusted_base_of(L"\\\\server\\share\\Tilewright"), L"\\\\server\\share");
}

} // namespace
