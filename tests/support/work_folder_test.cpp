#include "support/work_folder.hpp"

#include "support/paths.hpp"
#include "tests/scratch.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;
using testing_support::scratch_folder;

// The entries of a descriptor's access list: who, what, and how it is passed on.
struct entry {
    WELL_KNOWN_SID_TYPE who;
    DWORD mask;
    BYTE flags;
    bool operator==(const entry&) const = default;
};

std::vector<entry> entries_of(PSECURITY_DESCRIPTOR descriptor, bool& protected_list)
{
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    EXPECT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    EXPECT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    protected_list = (control & SE_DACL_PROTECTED) != 0;
    std::vector<entry> found;
    if (!present || !dacl)
        return found;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        GetAce(dacl, i, &ace);
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        WELL_KNOWN_SID_TYPE who = WinNullSid;
        for (const WELL_KNOWN_SID_TYPE known : {WinBuiltinAdministratorsSid, WinLocalSystemSid, WinBuiltinUsersSid})
            if (IsWellKnownSid(&allowed->SidStart, known))
                who = known;
        found.push_back({who, allowed->Mask, allowed->Header.AceFlags});
    }
    return found;
}

TEST(protected_descriptor, lets_in_administrators_and_the_system_and_with_users_read_users_to_read)
{
    constexpr BYTE passed_on = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    const entry administrators{WinBuiltinAdministratorsSid, FILE_ALL_ACCESS, passed_on};
    const entry system{WinLocalSystemSid, FILE_ALL_ACCESS, passed_on};
    const entry users{WinBuiltinUsersSid, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, passed_on};
    struct descriptor_case {
        bool users_read;
        std::vector<entry> expected;
    };
    for (const descriptor_case& c : {descriptor_case{false, {administrators, system}},
                                     descriptor_case{true, {administrators, system, users}}}) {
        mw::protected_descriptor descriptor(c.users_read);
        bool protected_list = false;
        EXPECT_EQ(entries_of(descriptor.get(), protected_list), c.expected) << c.users_read;
        EXPECT_TRUE(protected_list) << "nothing of the parent's list may be passed on";
        EXPECT_TRUE(IsValidSecurityDescriptor(descriptor.get()));
    }
}

TEST(work_folder, is_a_new_held_folder_that_goes_when_empty_and_stays_with_what_is_left)
{
    scratch_folder parent;
    std::wstring emptied, kept, left;
    {
        mw::work_folder first(parent.path().wstring());
        mw::work_folder second(parent.path().wstring());
        emptied = first.path();
        kept = second.path();
        EXPECT_NE(emptied, kept);
        for (const std::wstring& folder : {emptied, kept}) {
            EXPECT_EQ(fs::path(folder).parent_path(), parent.path());
            EXPECT_TRUE(fs::path(folder).filename().wstring().starts_with(L"mw-")) << folder;
            EXPECT_TRUE(fs::is_directory(folder)) << folder;
            // Held without delete sharing: it cannot be renamed or removed from under the program.
            EXPECT_FALSE(MoveFileW(folder.c_str(), (folder + L"-moved").c_str())) << folder;
            EXPECT_FALSE(RemoveDirectoryW(folder.c_str())) << folder;
        }

        std::wstring made;
        {
            const mw::unique_hfile file = first.create_file(L"f-%%%%.tmp", GENERIC_WRITE, 0, made);
            ASSERT_TRUE(file);
            EXPECT_EQ(fs::path(made).parent_path(), emptied);
            DWORD written = 0;
            EXPECT_TRUE(WriteFile(file.get(), "abc", 3, &written, nullptr));
        }
        EXPECT_EQ(testing_support::read_bytes(made), "abc");
        const std::wstring free_name = first.new_name(L"n-%%%%.tmp");
        EXPECT_EQ(fs::path(free_name).parent_path(), emptied);
        EXPECT_FALSE(fs::exists(free_name));
        DeleteFileW(made.c_str());

        std::wstring unused;
        left = second.create_file(L"left-%%.tmp", GENERIC_WRITE, 0, unused) ? unused : L"";
        ASSERT_FALSE(left.empty());
    }
    EXPECT_FALSE(fs::exists(emptied));
    // What is left in a work folder (a backup that could not be put back) is not thrown away.
    EXPECT_TRUE(fs::exists(left));
}

TEST(work_folder, a_pattern_without_placeholders_makes_one_file_then_gives_up)
{
    scratch_folder parent;
    mw::work_folder work(parent.path().wstring());
    std::wstring made;
    EXPECT_TRUE(work.create_file(L"fixed.tmp", GENERIC_WRITE, 0, made));
    try {
        work.create_file(L"fixed.tmp", GENERIC_WRITE, 0, made);
        ADD_FAILURE() << "a second file of the same name";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), ERROR_FILE_EXISTS);
    }
    DeleteFileW(made.c_str());
}

TEST(work_folder, cannot_be_made_in_a_folder_that_is_missing)
{
    scratch_folder parent;
    try {
        mw::work_folder work(parent / L"missing");
        ADD_FAILURE() << "made in a missing folder: " << fs::path(work.path());
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), ERROR_PATH_NOT_FOUND) << e.what();
    }
}

TEST(open_file_moves, rename_copy_and_delete_act_on_the_file_opened_whatever_its_name_says_later)
{
    scratch_folder dir;
    testing_support::write_bytes(dir / L"a.txt", "first");
    testing_support::write_bytes(dir / L"c.txt", "other");
    {
        const mw::unique_hfile a{CreateFileW((dir / L"a.txt").c_str(), DELETE | GENERIC_READ | FILE_WRITE_ATTRIBUTES,
                                             FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)};
        ASSERT_TRUE(a);
        mw::rename_open_file(a.get(), dir / L"b.txt", false);
        EXPECT_FALSE(fs::exists(dir / L"a.txt"));
        // Nothing is replaced unless asked.
        EXPECT_THROW(mw::rename_open_file(a.get(), dir / L"c.txt", false), std::system_error);
        // A copy takes the data and the attributes of the file now named b.txt.
        SetFileAttributesW((dir / L"b.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        {
            const mw::unique_hfile copy{CreateFileW((dir / L"d.txt").c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0,
                                                    nullptr, CREATE_NEW, 0, nullptr)};
            ASSERT_TRUE(copy);
            mw::copy_file_data(a.get(), copy.get());
        }
        // The delete clears the read-only attribute first; the file goes when its handle closes.
        mw::delete_open_file(a.get());
    }
    EXPECT_FALSE(fs::exists(dir / L"b.txt"));
    EXPECT_EQ(testing_support::read_bytes(dir / L"c.txt"), "other");
    EXPECT_EQ(testing_support::read_bytes(dir / L"d.txt"), "first");
    EXPECT_TRUE(GetFileAttributesW((dir / L"d.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
}

} // namespace
