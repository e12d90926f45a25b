#include "support/install_journal.hpp"

#include "support/guarded_files.hpp"
#include "support/paths.hpp"
#include "support/work_folder.hpp"
#include "tests/scratch.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;
using mw::log_record;
using testing_support::read_bytes;
using testing_support::scratch_folder;
using testing_support::write_bytes;

bool key_exists(const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// A product of the test's own, its journal cleared first and last.
class journal_test : public ::testing::Test {
protected:
    const std::wstring product = L"MwTestJournal-" + std::to_wstring(GetCurrentProcessId());
    const mw::log_identity identity{L"MwTest Journal 1.0", product};
    void SetUp() override { mw::clear_journal(product); }
    void TearDown() override { mw::clear_journal(product); }
};

TEST_F(journal_test, keeps_every_record_with_its_backup_and_the_temporary_folder_until_cleared)
{
    EXPECT_FALSE(mw::load_journal(product));
    const mw::install_journal written{
        {
            {mw::folder, L"C:\\Program Files\\Maker\\App", {}, true, -1},
            {mw::file, L"C:\\Program Files\\Maker\\App\\a b.exe", L"C:\\Temp\\mw-12345678\\mw-abcde.tmp", false, 1},
            {mw::menu_link, L"C:\\Menu\\App 1.0.lnk", {}, false, -1},
            {mw::uninstall_key, L"", L"C:\\Temp\\mw-12345678\\mw-00000.tmp", true, -1},
            {mw::class_registration, L"", {}, false, -1},
        },
        L"C:\\Temp\\marrowind_{x}", L"C:\\Temp\\mw-12345678|305419896|0|42"};
    ASSERT_TRUE(mw::save_journal(product, written));
    EXPECT_EQ(mw::load_journal(product), written);
    mw::clear_journal(product);
    EXPECT_FALSE(mw::load_journal(product));
    EXPECT_FALSE(key_exists(mw::journal_key_path(product)));
}

TEST_F(journal_test, clearing_keeps_the_makers_key_while_it_holds_anything)
{
    // The maker's key as the installed application leaves it: a value of its own.
    HKEY maker = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, mw::maker_key_path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &maker,
                              nullptr),
              ERROR_SUCCESS);
    const std::wstring value = product + L" value";
    const wchar_t data[] = L"x";
    RegSetValueExW(maker, value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data), sizeof data);
    ASSERT_TRUE(mw::save_journal(product, {}));
    mw::clear_journal(product);
    EXPECT_TRUE(key_exists(mw::maker_key_path));
    RegDeleteValueW(maker, value.c_str());
    RegCloseKey(maker);
}

// A run ended from outside, after it made a folder and a file, replaced a file and made a
// shortcut: the next run's rollback from the journal leaves what was there before, and nothing
// of the ended run, its temporary and work folders included.
TEST_F(journal_test, an_ended_run_is_rolled_back_from_its_journal)
{
    scratch_folder dir;
    write_bytes(dir / L"App\\old.dll", "before");
    const std::wstring temporary = dir / L"run temp";
    fs::create_directories(temporary);
    write_bytes(temporary + L"\\helper.tmp", "temporary");
    std::wstring work;
    {
        mw::uninstall_log ended{identity};
        ASSERT_TRUE(mw::begin_journal(ended, temporary));
        ended.add_file(dir / L"App\\Sub\\new.exe", 1, false);
        write_bytes(dir / L"App\\Sub\\new.exe", "new");
        ended.complete(true, {});
        ended.add_file(dir / L"App\\old.dll", 0, false);
        work = fs::path(ended.current.back().backup).parent_path().wstring();
        write_bytes(dir / L"App\\old.dll", "half writ");
        ended.add_link(false, dir / L"Menu", dir / L"Menu\\App.lnk");
        write_bytes(dir / L"Menu\\App.lnk", "link");
        // Ended here: neither rolled back nor written.
    }
    ASSERT_TRUE(fs::exists(work)) << "the ended run's backup stays in its work folder";
    EXPECT_TRUE(mw::roll_back_ended_installation(identity).empty());
    EXPECT_EQ(read_bytes(dir / L"App\\old.dll"), "before");
    EXPECT_FALSE(fs::exists(dir / L"App\\Sub"));
    EXPECT_FALSE(fs::exists(dir / L"Menu"));
    EXPECT_FALSE(fs::exists(temporary));
    EXPECT_FALSE(fs::exists(work));
    EXPECT_FALSE(mw::load_journal(product)) << "cleared";
    EXPECT_TRUE(mw::roll_back_ended_installation(identity).empty()) << "nothing more to do";
}

// Ended between the journal's note of a backup and the move itself: the file there is still
// the one there before, and it stays.
TEST_F(journal_test, a_file_whose_backup_was_named_but_not_made_is_left_as_it_is)
{
    scratch_folder dir;
    write_bytes(dir / L"kept.dll", "before");
    std::wstring mark, never_made, other;
    {
        // The ended run's work folder, kept by another backup in it.
        const mw::work_folder work(dir.path().wstring());
        mark = work.mark();
        never_made = work.new_name(L"mw-%%%%%.tmp");
        ASSERT_TRUE(work.create_file(L"other-%%%%%.tmp", GENERIC_WRITE, 0, other));
    }
    ASSERT_TRUE(mw::save_journal(product, {{{mw::file, dir / L"kept.dll", never_made, false, 0}}, {}, mark}));
    EXPECT_TRUE(mw::roll_back_ended_installation(identity).empty());
    EXPECT_EQ(read_bytes(dir / L"kept.dll"), "before");
}

// Once its run has ended, the work folder is no longer held: whoever may write the temporary
// folder could rename it away and put a folder of their own with a file of a backup's name in
// its place. That file must not be put back into the installation.
TEST_F(journal_test, backups_come_back_only_from_the_ended_runs_own_work_folder)
{
    scratch_folder dir;
    write_bytes(dir / L"App\\Tilewright.exe", "before");
    std::wstring backup;
    {
        mw::uninstall_log ended{identity};
        ASSERT_TRUE(mw::begin_journal(ended, {}));
        ended.add_file(dir / L"App\\Tilewright.exe", 1, false);
        backup = ended.current.back().backup;
        write_bytes(dir / L"App\\Tilewright.exe", "new version");
    }
    const fs::path work = fs::path(backup).parent_path();
    ASSERT_TRUE(MoveFileW(work.c_str(), (dir / L"moved away").c_str()));
    write_bytes(backup, "the user's program");
    const std::vector<mw::rollback_failure> left = mw::roll_back_ended_installation(identity);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].record.path, dir / L"App\\Tilewright.exe");
    EXPECT_EQ(left[0].error.value(), static_cast<int>(mw::link_refused));
    EXPECT_EQ(read_bytes(dir / L"App\\Tilewright.exe"), "new version") << "left as it is";
    EXPECT_EQ(read_bytes(backup), "the user's program");
    EXPECT_TRUE(fs::exists(dir / L"moved away")) << "the genuine backup is not lost";
}

TEST_F(journal_test, a_malformed_record_ends_the_list)
{
    ASSERT_TRUE(mw::save_journal(product, {{{mw::file, L"C:\\a", {}, true, 0}}, {}, {}}));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, mw::journal_key_path(product).c_str(), 0, KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    const wchar_t list[] = L"1|0|1|C:\\a|\0" L"9|0|1|C:\\b|\0" L"1|0|1|C:\\c|\0";
    RegSetValueExW(key, L"Records", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list), sizeof list);
    RegCloseKey(key);
    const auto journal = mw::load_journal(product);
    ASSERT_TRUE(journal);
    ASSERT_EQ(journal->records.size(), 1u);
    EXPECT_EQ(journal->records[0].path, L"C:\\a");
}

} // namespace
