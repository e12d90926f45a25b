// The uninstall program's parts, run in this process: undoing the records of an installation
// laid out by the payload engine, the rule for changed user files, the application's
// unregistration, the texts and the closing report, the copy's arguments and the checks.

#include "product/uninstaller/handover.hpp"
#include "product/uninstaller/removal.hpp"
#include "product/uninstaller/texts.hpp"
#include "product/uninstaller/uninstall_ids.h"
#include "product/uninstaller/uninstaller.hpp"

#include "engine/com.hpp"

#include <shlobj.h>
#include <shobjidl.h>

#include "engine/payload_format.hpp"
#include "engine/registry.hpp"
#include "engine/shortcuts.hpp"
#include "engine/uninstall_entry.hpp"
#include "support/paths.hpp"
#include "support/sync_objects.hpp"
#include "tests/links.hpp"
#include "tests/product/uninstaller_support.hpp"
#include "tests/ui_driver/ui_driver.hpp"

#include <fmt/xchar.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using namespace uninstaller;
using namespace uninstaller_testing;
using testing_support::scratch_folder;

// ---------------------------------------------------------------------------------------------
// Changed user files

FILETIME at_seconds(std::uint64_t seconds)
{
    const std::uint64_t ticks = 132'000'000'000'000'000ull + seconds * 10'000'000ull;
    return {static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
}

TEST(changed_since_installation, is_a_write_after_the_installation_or_well_after_the_creation)
{
    struct time_case {
        const char* name;
        std::uint64_t created, written;
        std::optional<std::uint64_t> installed;
        bool changed;
    };
    const time_case cases[] = {
        {"written by the setup before the log", 100, 101, 110, false},
        {"written at the very time of the log", 109, 110, 110, false},
        {"written after the log", 100, 111, 110, true},
        {"written 2 s after its creation (slow volume)", 100, 102, 200, false},
        {"written 3 s after its creation, before the log (changed before an update)", 100, 103, 200, true},
        {"created after it was written (a copy that kept its time)", 200, 100, 300, false},
        {"no log time: creation alone decides, unchanged", 100, 101, std::nullopt, false},
        {"no log time: creation alone decides, changed", 100, 500, std::nullopt, true},
    };
    for (const auto& c : cases) {
        const std::optional<FILETIME> installed =
            c.installed ? std::optional<FILETIME>(at_seconds(*c.installed)) : std::nullopt;
        EXPECT_EQ(changed_since_installation({at_seconds(c.created), at_seconds(c.written)}, installed), c.changed)
            << c.name;
    }
}

// ---------------------------------------------------------------------------------------------
// Undoing the records

// An installation of the test product under an uninstall entry of the test's own.
class removal : public ::testing::Test {
protected:
    const std::wstring key_name = L"MwUninstallTest-" + std::to_wstring(GetCurrentProcessId());
    product_layout layout;
    std::vector<mw::log_record> records;
    std::vector<std::wstring> files_before, installed_files;
    // Each call of the unregistration: the path, and whether the file was there at the time.
    std::vector<std::pair<std::wstring, bool>> unregistrations;
    bool unregistration_result = true;

    void SetUp() override
    {
        remove_key();
        files_before = layout.files();
        install_product(layout, {.key_name = key_name, .language = uninstaller::english, .fixture_class = {}});
        ASSERT_FALSE(HasFatalFailure());
        installed_files = layout.files();
        ASSERT_NE(installed_files, files_before);
        mw::uninstall_log log;
        log.read(layout.log_file);
        records = log.previous;
        ASSERT_GT(records.size(), 15u);
    }
    void TearDown() override { remove_key(); }
    void remove_key()
    {
        if (setup::registry_key uninstall = setup::open_key(HKEY_LOCAL_MACHINE, setup::uninstall_key_path))
            RegDeleteTreeW(uninstall.get(), key_name.c_str());
    }
    bool key_exists() { return bool(setup::open_key(HKEY_LOCAL_MACHINE, std::wstring(setup::uninstall_key_path) + L"\\" + key_name)); }

    removal_settings settings()
    {
        removal_settings s;
        s.log_file = layout.log_file;
        s.uninstall_key_name = key_name;
        s.places = layout.places();
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (GetFileAttributesExW(layout.log_file.c_str(), GetFileExInfoStandard, &data))
            s.installed_at = data.ftLastWriteTime;
        s.unregister = [this](const std::wstring& application) {
            unregistrations.emplace_back(application, fs::exists(application));
            return unregistration_result;
        };
        return s;
    }
    // The settings with the log written an hour from now: the files' times tell no change made
    // after the installation.
    removal_settings settings_logged_later()
    {
        removal_settings s = settings();
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        ULARGE_INTEGER later{{now.dwLowDateTime, now.dwHighDateTime}};
        later.QuadPart += 3600ull * 10'000'000ull;
        s.installed_at = FILETIME{later.LowPart, later.HighPart};
        return s;
    }
    // The files and folders that remain (the scratch root, the programs folder and the desktop
    // stay: they were there before).
    std::vector<std::wstring> remaining() { return layout.files(); }
};

// Writes a file and then gives it the time of its creation as its last write: a change that
// the times do not show, as where the system keeps no creation time of its own.
void write_at_creation(const std::wstring& path, const std::string& bytes)
{
    testing_support::write_bytes(path, bytes);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
    const HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &data.ftCreationTime));
    CloseHandle(file);
}

TEST_F(removal, removes_every_file_folder_shortcut_and_the_key_and_unregisters_first)
{
    ASSERT_TRUE(key_exists());
    ASSERT_TRUE(GetFileAttributesW(layout.application.c_str()) & FILE_ATTRIBUTE_READONLY);

    const removal_report report = remove_installation(records, settings());

    EXPECT_TRUE(report.complete());
    EXPECT_EQ(report.not_removed, std::vector<std::wstring>{});
    EXPECT_TRUE(report.kept.empty());
    // Only what was there before is left; the data folder is gone with its parents' records.
    EXPECT_EQ(remaining(), files_before);
    EXPECT_FALSE(fs::exists(layout.data));
    EXPECT_FALSE(key_exists());
    ASSERT_EQ(unregistrations.size(), 1u);
    EXPECT_EQ(unregistrations[0].first, layout.application);
    EXPECT_TRUE(unregistrations[0].second) << "the application must still be there when it unregisters";
}

TEST_F(removal, unregisters_before_the_application_goes_whichever_record_comes_last)
{
    // The class registration moved before the application's file record (a log merged by an
    // update can list them so): the walk meets the application first.
    auto registration = std::find_if(records.begin(), records.end(),
                                     [](const mw::log_record& r) { return r.kind == mw::class_registration; });
    ASSERT_NE(registration, records.end());
    const mw::log_record moved = *registration;
    records.erase(registration);
    records.insert(records.begin(), moved);

    const removal_report report = remove_installation(records, settings());
    ASSERT_EQ(unregistrations.size(), 1u);
    EXPECT_TRUE(unregistrations[0].second);
    EXPECT_TRUE(report.complete());
    EXPECT_FALSE(fs::exists(layout.application));
}

// A log may name any program as the application: only the product's own in the installation
// folder is ever started for the unregistration.
TEST_F(removal, the_application_started_is_the_one_in_the_installation_folder_whatever_the_log_names)
{
    scratch_folder elsewhere;
    const std::wstring hostile = elsewhere / L"Tilewright.exe";
    testing_support::write_bytes(hostile, "not the product's");
    for (const std::wstring& named : {hostile, std::wstring(L"\\\\server\\share\\x.exe"), std::wstring(L"x.exe")}) {
        SCOPED_TRACE(fs::path(named).string());
        std::vector<mw::log_record> hostile_records = records;
        for (mw::log_record& r : hostile_records)
            if (r.kind == mw::file && r.tag == static_cast<std::int32_t>(setup::entry_kind::main_executable))
                r.path = named;
        unregistrations.clear();
        removal_settings s = settings();
        s.before_last_step = {};
        // Only the unregistration is looked at: nothing is removed.
        s.places.install_folder = layout.install;
        std::vector<mw::log_record> registration_only;
        std::copy_if(hostile_records.begin(), hostile_records.end(), std::back_inserter(registration_only),
                     [](const mw::log_record& r) {
                         return r.kind == mw::class_registration ||
                                (r.kind == mw::file && r.tag == static_cast<std::int32_t>(setup::entry_kind::main_executable));
                     });
        remove_installation(registration_only, s);
        ASSERT_EQ(unregistrations.size(), 1u);
        EXPECT_EQ(unregistrations[0].first, layout.application);
    }
    EXPECT_EQ(testing_support::read_bytes(hostile), "not the product's");
}

// A user who may write the data folders, the sample folder or a folder above the installation
// folder replaces one of them, or a folder above one, by a link to a folder of theirs that holds
// files of the product's names. The removal touches nothing there and reports the records.
TEST_F(removal, a_place_replaced_by_a_link_leaves_what_the_link_leads_to)
{
    if (!testing_support::can_make_links())
        GTEST_SKIP() << testing_support::no_links_here;
    scratch_folder victims;
    struct link_case {
        const char* name;
        std::wstring replaced;
    };
    const link_case cases[] = {
        {"a folder above a data folder", layout.data + L"\\Modules"},
        {"a data folder", layout.data + L"\\Textures\\Tilewright"},
        {"the sample folder", layout.samples},
        {"a folder above the installation folder", fs::path(layout.install).parent_path().wstring()},
    };
    std::vector<std::wstring> victim_folders;
    for (const auto& c : cases) {
        // The victim: a copy of the place, under another name elsewhere.
        const std::wstring victim = victims / fs::path(c.replaced).filename().wstring();
        fs::copy(c.replaced, victim, fs::copy_options::recursive);
        for (const auto& entry : fs::recursive_directory_iterator(victim))
            SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(MoveFileW(c.replaced.c_str(), (c.replaced + L".away").c_str())) << c.name;
        testing_support::make_link(victim, c.replaced);
        victim_folders.push_back(victim);
    }
    const auto victims_before = uninstaller_testing::file_snapshot(victims.path());
    ASSERT_GT(victims_before.size(), 10u);

    const removal_report report = remove_installation(records, settings());

    EXPECT_EQ(uninstaller_testing::file_snapshot(victims.path()), victims_before);
    EXPECT_FALSE(report.complete());
    for (const auto& c : cases) {
        const bool reported = std::any_of(report.not_removed.begin(), report.not_removed.end(),
                                          [&](const std::wstring& item) { return mw::path_within(item, c.replaced); });
        EXPECT_TRUE(reported) << c.name;
    }
    for (const auto& c : cases) {
        testing_support::remove_link(c.replaced);
        MoveFileW((c.replaced + L".away").c_str(), c.replaced.c_str());
    }
}

TEST_F(removal, without_a_class_registration_record_the_application_is_not_run)
{
    std::erase_if(records, [](const mw::log_record& r) { return r.kind == mw::class_registration; });
    const removal_report report = remove_installation(records, settings());
    EXPECT_TRUE(unregistrations.empty());
    EXPECT_TRUE(report.complete());
}

TEST_F(removal, a_failed_unregistration_is_reported_and_the_rest_is_removed)
{
    unregistration_result = false;
    const removal_report report = remove_installation(records, settings());
    EXPECT_TRUE(report.unregistration_failed);
    EXPECT_FALSE(report.complete());
    EXPECT_TRUE(report.not_removed.empty());
    EXPECT_FALSE(fs::exists(layout.install));
    EXPECT_FALSE(key_exists());
}

TEST_F(removal, an_unconfirmed_registration_is_undone_but_its_failure_leaves_the_removal_complete)
{
    // The application did not confirm its registration at installation (it failed or never
    // started): the uninstall program still asks it to undo whatever it may have done.
    for (mw::log_record& r : records)
        if (r.kind == mw::class_registration)
            r.done = false;
    unregistration_result = false;
    const removal_report report = remove_installation(records, settings());
    ASSERT_EQ(unregistrations.size(), 1u);
    EXPECT_FALSE(report.unregistration_failed);
    EXPECT_TRUE(report.complete());
    EXPECT_FALSE(fs::exists(layout.install));
}

TEST_F(removal, changed_user_files_are_kept_and_unchanged_ones_removed)
{
    // A module and the sample written an hour after the installation ended, and a plain file
    // too: only the user-editable files are kept.
    auto write_later = [](const std::wstring& path) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
        ULARGE_INTEGER t{{data.ftLastWriteTime.dwLowDateTime, data.ftLastWriteTime.dwHighDateTime}};
        t.QuadPart += 3600ull * 10'000'000ull;
        const FILETIME later{t.LowPart, t.HighPart};
        const HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &later));
        CloseHandle(file);
    };
    const std::wstring changed_module = layout.module(second_module);
    const std::wstring changed_sample = layout.samples + L"\\Courtyard.cal";
    const std::wstring changed_plain = layout.install + L"\\Readme.txt";
    for (const auto& path : {changed_module, changed_sample, changed_plain})
        write_later(path);

    const removal_report report = remove_installation(records, settings());
    EXPECT_TRUE(report.complete());
    const std::set<std::wstring> kept(report.kept.begin(), report.kept.end());
    EXPECT_EQ(kept, (std::set<std::wstring>{changed_module, changed_sample}));
    EXPECT_TRUE(fs::exists(changed_module));
    EXPECT_TRUE(fs::exists(changed_sample));
    EXPECT_FALSE(fs::exists(layout.module(first_module)));
    EXPECT_FALSE(fs::exists(changed_plain));
    EXPECT_FALSE(fs::exists(layout.install));
    // The kept files' folders stay, silently: they are not empty.
    std::vector<std::wstring> expected = files_before;
    expected.insert(expected.end(), {
        layout.samples + L"\\",
        fmt::format(L"{} ({} bytes)", changed_sample, fs::file_size(changed_sample)),
        layout.data + L"\\",
        layout.data + L"\\Modules\\",
        layout.data + L"\\Modules\\Tilewright\\",
        fmt::format(L"{} ({} bytes)", changed_module, fs::file_size(changed_module)),
    });
    std::vector<std::wstring> sorted = expected;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(remaining(), sorted);
}

TEST_F(removal, user_files_with_other_bytes_than_the_shipped_ones_are_kept_though_their_times_say_unchanged)
{
    // A module and the sample changed before an update where the system keeps no creation time
    // of its own: written at their "creation", before the log was written. A plain file too.
    const std::wstring changed_module = layout.module(second_module);
    const std::wstring changed_sample = layout.samples + L"\\Courtyard.cal";
    const std::wstring changed_plain = layout.install + L"\\Readme.txt";
    const std::string module_bytes = testing_support::read_bytes(changed_module) + "tile 0 0 1 1 a\n";
    // The same size, one byte other.
    std::string sample_bytes = testing_support::read_bytes(changed_sample);
    sample_bytes.back() ^= 1;
    write_at_creation(changed_module, module_bytes);
    write_at_creation(changed_sample, sample_bytes);
    write_at_creation(changed_plain, "Changed.\r\n");
    const removal_settings s = settings_logged_later();
    for (const std::wstring& path : {changed_module, changed_sample}) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
        ASSERT_FALSE(changed_since_installation({data.ftCreationTime, data.ftLastWriteTime}, s.installed_at))
            << "the times say unchanged";
    }

    const removal_report report = remove_installation(records, s);
    EXPECT_TRUE(report.complete());
    const std::set<std::wstring> kept(report.kept.begin(), report.kept.end());
    EXPECT_EQ(kept, (std::set<std::wstring>{changed_module, changed_sample}));
    EXPECT_EQ(testing_support::read_bytes(changed_module), module_bytes);
    EXPECT_EQ(testing_support::read_bytes(changed_sample), sample_bytes);
    EXPECT_FALSE(fs::exists(layout.module(first_module))) << "the shipped bytes go";
    EXPECT_FALSE(fs::exists(changed_plain)) << "no user file";
}

TEST_F(removal, without_the_shipped_bytes_the_times_alone_tell_a_change)
{
    const std::wstring module = layout.module(second_module);
    write_at_creation(module, "tilewright-module 1\nname Mine\n");
    removal_settings s = settings_logged_later();
    s.shipped = {};

    const removal_report report = remove_installation(records, s);
    EXPECT_TRUE(report.kept.empty());
    EXPECT_FALSE(fs::exists(module));
}

TEST(differs_from_shipped, compares_the_bytes_of_the_file_of_the_same_kind_and_name)
{
    scratch_folder scratch;
    const auto module = static_cast<std::int32_t>(setup::entry_kind::module);
    const auto sample = static_cast<std::int32_t>(setup::entry_kind::sample);
    const shipped_file shipped[] = {{module, L"Grid.lbm", std::string_view("grid\0\n", 6)},
                                    {sample, L"Empty.cal", std::string_view()}};
    struct file_case {
        const char* what;
        const wchar_t* name;
        std::optional<std::string> bytes; // none: no file
        std::int32_t tag;
        bool differs;
    };
    const file_case cases[] = {
        {"the shipped bytes", L"Grid.lbm", std::string("grid\0\n", 6), module, false},
        {"the name in other case", L"GRID.LBM", std::string("grid\0\n", 6), module, false},
        {"one byte other", L"Grid.lbm", std::string("grid\1\n", 6), module, true},
        {"one byte more", L"Grid.lbm", std::string("grid\0\n\n", 7), module, true},
        {"one byte less", L"Grid.lbm", std::string("grid\0", 5), module, true},
        {"an empty file as shipped", L"Empty.cal", std::string(), sample, false},
        {"an empty file written", L"Empty.cal", std::string("x"), sample, true},
        {"of another kind", L"Grid.lbm", std::string("other"), sample, false},
        {"a name not shipped", L"Other.lbm", std::string("other"), module, false},
        {"no file", L"Grid.lbm", std::nullopt, module, false},
    };
    for (const file_case& c : cases) {
        const std::wstring path = scratch / c.name;
        std::error_code error;
        fs::remove(path, error);
        if (c.bytes)
            testing_support::write_bytes(path, *c.bytes);
        EXPECT_EQ(differs_from_shipped(path, c.tag, shipped), c.differs) << c.what;
    }
}

TEST(shipped_user_files, are_the_payloads_modules_and_samples_byte_for_byte)
{
    // The manifest's module and sample lines, in order, with the content folder's bytes.
    std::vector<std::pair<std::wstring, std::string>> expected;
    std::istringstream lines{testing_support::read_bytes(fs::path(MW_PAYLOAD_MANIFEST))};
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const std::string source = line.substr(0, line.find('\t'));
        const std::string kind = line.substr(line.rfind('\t') + 1);
        if (kind == "module" || kind == "sample")
            expected.emplace_back(fs::path(source).filename().wstring() + (kind == "module" ? L" module" : L" sample"),
                                  testing_support::read_bytes(fs::path(MW_PRODUCT_CONTENT) / source));
    }
    ASSERT_EQ(expected.size(), 13u);
    std::vector<std::pair<std::wstring, std::string>> shipped;
    for (const shipped_file& file : shipped_user_files())
        shipped.emplace_back(std::wstring(file.name) +
                                 (file.tag == static_cast<std::int32_t>(setup::entry_kind::module) ? L" module" : L" sample"),
                             std::string(file.bytes));
    EXPECT_EQ(shipped, expected);
}

TEST_F(removal, a_file_in_use_is_reported_and_a_folder_with_the_users_files_stays_unreported)
{
    const std::wstring user_file = layout.install + L"\\Lang\\my notes.txt";
    testing_support::write_bytes(user_file, "mine");
    const std::wstring busy = layout.install + L"\\Readme.txt";
    // Open without sharing deletion: the file cannot be deleted while this handle lives.
    const HANDLE open = CreateFileW(busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    const removal_report report = remove_installation(records, settings());
    CloseHandle(open);

    EXPECT_EQ(report.not_removed, (std::vector<std::wstring>{busy}));
    EXPECT_FALSE(report.unregistration_failed);
    EXPECT_TRUE(fs::exists(user_file));
    EXPECT_TRUE(fs::exists(busy));
    EXPECT_FALSE(fs::exists(layout.application));
    EXPECT_FALSE(fs::exists(layout.log_file));
    EXPECT_FALSE(key_exists());
}

TEST_F(removal, the_log_goes_last_and_its_folder_with_it)
{
    // Removing the log is the last step; a log that cannot be removed is reported and keeps its
    // folder.
    const HANDLE open = CreateFileW(layout.log_file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    const removal_report held = remove_installation(records, settings());
    CloseHandle(open);
    EXPECT_EQ(held.not_removed, (std::vector<std::wstring>{layout.log_file}));
    EXPECT_TRUE(fs::exists(layout.install));

    // Run again over the same records: everything else is already gone, which is no failure.
    const removal_report again = remove_installation(records, settings());
    EXPECT_TRUE(again.complete());
    EXPECT_EQ(remaining(), files_before);
}

// Records of a log that someone else wrote into the installation folder: each names a file or
// folder outside the places where the product installs (or a file that is no shortcut for a
// shortcut record). None is touched, each is reported, and the installation's own records are
// undone as before.
TEST_F(removal, records_naming_anything_outside_the_product_leave_it_and_say_so)
{
    scratch_folder elsewhere; // stands for the system's folders
    std::optional<scratch_folder> other_drive;
    try {
        other_drive.emplace(fs::path(L"T:\\"));
    } catch (const fs::filesystem_error&) {
    }
    const std::wstring install = layout.install;
    const std::wstring root = layout.root.path().wstring();
    struct hostile_case {
        const char* name;
        std::int32_t kind;
        std::wstring victim;  // created before the removal (a folder when it ends in "\")
        std::wstring record;  // the path the log names; empty: the victim's
    };
    std::vector<hostile_case> cases{
        {"a system file by its full path", mw::file, elsewhere / L"windows\\win.ini", {}},
        {"out of the installation folder by ..", mw::file, root + L"\\Victim\\dotdot.ini",
         install + L"\\..\\..\\..\\Victim\\dotdot.ini"},
        {"a \\\\?\\ prefix", mw::file, elsewhere / L"prefixed.ini", L"\\\\?\\" + (elsewhere / L"prefixed.ini")},
        {"a \\\\?\\ prefix with .. inside the installation folder", mw::file, root + L"\\Victim\\prefixed-dotdot.ini",
         L"\\\\?\\" + install + L"\\..\\..\\..\\Victim\\prefixed-dotdot.ini"},
        {"forward slashes", mw::file, elsewhere / L"slashes.ini", {}},
        {"a sibling whose name starts with the installation folder's", mw::file,
         install + L"2\\x.txt", {}},
        {"a sibling of a data folder", mw::file, layout.data + L"\\Modules\\Tilewright2\\m.lbm", {}},
        {"a folder on the desktop without the product's name", mw::file, layout.desktop + L"\\Other\\a.cal", {}},
        {"a file that is no shortcut beside the shortcut", mw::file, layout.programs + L"\\Tilewright notes.txt", {}},
        {"a folder elsewhere, empty", mw::folder, elsewhere / L"empty\\", {}},
        {"the desktop, empty once the installation is gone", mw::folder, layout.desktop + L"\\", {}},
        {"the drive root", mw::folder, {}, fs::path(install).root_path().wstring()},
        {"a relative path", mw::file, {}, L"Tilewright.exe"},
        {"a stream of a file in the installation folder's parent", mw::file, {},
         fs::path(install).parent_path().wstring() + L"\\Tilewright::$DATA"},
        {"a shortcut record naming a system file", mw::menu_link, elsewhere / L"system.ini", {}},
        {"a shortcut record naming a file that is no shortcut, in the programs folder", mw::menu_link,
         layout.programs + L"\\Tilewright 2.lnk", {}},
        {"a desktop shortcut record naming a file that is no shortcut, on the desktop", mw::desktop_link,
         layout.desktop + L"\\Tilewright 3.lnk", {}},
        {"a shortcut record naming a folder of shortcuts", mw::menu_link, layout.programs + L"\\Tilewright.lnk\\", {}},
    };
    if (other_drive)
        cases.push_back({"another drive", mw::file, other_drive->path() / L"other.ini", {}});
    else
        ADD_FAILURE() << "drive T: is missing: the other drive is not tried";
    for (auto& c : cases) {
        if (c.victim.empty())
            continue;
        if (c.victim.ends_with(L"\\"))
            fs::create_directories(c.victim);
        else
            testing_support::write_bytes(c.victim, "not the product's");
        if (c.record.empty()) {
            c.record = c.victim.ends_with(L"\\") ? c.victim.substr(0, c.victim.size() - 1) : c.victim;
            if (std::string_view(c.name) == "forward slashes")
                std::replace(c.record.begin(), c.record.end(), L'\\', L'/');
        }
        ASSERT_TRUE(fs::exists(c.victim)) << c.name;
    }
    // The log's own records first, the hostile ones among them.
    for (const auto& c : cases)
        records.insert(records.begin() + 1, mw::log_record{c.kind, c.record, {}, true, c.kind == mw::file ? 0 : -1});

    const removal_report report = remove_installation(records, settings());

    for (const auto& c : cases) {
        if (!c.victim.empty()) {
            EXPECT_TRUE(fs::exists(c.victim)) << c.name;
        }
        EXPECT_EQ(std::count(report.not_removed.begin(), report.not_removed.end(), c.record), 1) << c.name;
    }
    EXPECT_EQ(report.not_removed.size(), cases.size());
    EXPECT_TRUE(report.kept.empty());
    EXPECT_FALSE(fs::exists(layout.install));
    EXPECT_FALSE(fs::exists(layout.samples));
    EXPECT_FALSE(fs::exists(layout.data + L"\\Modules\\Tilewright"));
    EXPECT_FALSE(fs::exists(layout.data + L"\\Textures"));
    EXPECT_FALSE(fs::exists(fs::path(layout.programs) / product_layout::link_name));
    EXPECT_FALSE(fs::exists(fs::path(layout.desktop) / product_layout::link_name));
    EXPECT_FALSE(key_exists());
}

TEST_F(removal, a_shortcut_goes_and_what_it_points_to_stays)
{
    // The log's programs shortcut replaced by one to a file outside the installation.
    scratch_folder elsewhere;
    const std::wstring target = elsewhere / L"win.ini";
    testing_support::write_bytes(target, "not the product's");
    const std::wstring link = setup::create_shortcut(target, layout.programs, L"Tilewright 1.22a");
    ASSERT_TRUE(is_shell_link(link));
    ASSERT_FALSE(is_shell_link(target));

    const removal_report report = remove_installation(records, settings());
    EXPECT_TRUE(report.complete()) << fmt::format(L"{}", fmt::join(report.not_removed, L"\n"));
    EXPECT_FALSE(fs::exists(link));
    EXPECT_EQ(testing_support::read_bytes(target), "not the product's");
}

TEST_F(removal, the_records_own_places_count_whatever_their_spelling)
{
    // Case, forward slashes, "\\?\", "." and ".." that stay inside: still the product's files.
    auto respell = [&](const std::wstring& path, std::wstring spelled) {
        auto record = std::find_if(records.begin(), records.end(), [&](const mw::log_record& r) { return r.path == path; });
        ASSERT_NE(record, records.end()) << fs::path(path);
        record->path = std::move(spelled);
    };
    std::wstring upper = layout.install + L"\\Readme.txt";
    std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
    respell(layout.install + L"\\Readme.txt", upper);
    std::wstring slashed = layout.install + L"\\Lang\\Tilewright_fr.dll";
    std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
    respell(layout.install + L"\\Lang\\Tilewright_fr.dll", slashed);
    respell(layout.module(first_module), L"\\\\?\\" + layout.data + L"\\Modules\\.\\Tilewright\\..\\Tilewright\\" + first_module);
    respell(layout.install + L"\\Lang", layout.install + L"\\Lang\\");

    const removal_report report = remove_installation(records, settings());
    EXPECT_TRUE(report.complete()) << fmt::format(L"{}", fmt::join(report.not_removed, L"\n"));
    EXPECT_EQ(remaining(), files_before);
}

TEST(place_of, knows_the_places_and_nothing_else)
{
    product_places places;
    places.install_folder = L"C:\\Apps\\Marrowind Works\\Tilewright";
    places.data_folders = {L"C:\\ProgramData\\Marrowind Works\\Modules\\Tilewright"};
    places.sample_parents = {L"C:\\users\\Public\\Desktop"};
    places.link_folders = {L"C:\\ProgramData\\Programs", L"C:\\users\\Public\\Desktop"};
    places.bases = {L"C:\\ProgramData", L"C:\\ProgramData\\Programs", L"C:\\users\\Public\\Desktop"};
    struct place_case {
        std::int32_t kind;
        const wchar_t* path;
        std::optional<std::wstring> place;
    };
    const place_case cases[] = {
        {mw::file, L"c:\\apps\\MARROWIND WORKS\\tilewright\\x.txt", L"C:\\apps\\MARROWIND WORKS\\tilewright\\x.txt"},
        {mw::file, L"C:\\Apps\\Marrowind Works\\Tilewright", std::nullopt},
        {mw::folder, L"C:\\Apps\\Marrowind Works\\Tilewright\\", L"C:\\Apps\\Marrowind Works\\Tilewright"},
        {mw::folder, L"C:\\Apps\\Marrowind Works", L"C:\\Apps\\Marrowind Works"},
        {mw::folder, L"C:\\Apps", L"C:\\Apps"},
        {mw::folder, L"C:\\", std::nullopt},
        {mw::folder, L"C:\\Apps\\Marrowind Works\\Other", std::nullopt},
        {mw::folder, L"C:\\ProgramData\\Marrowind Works", L"C:\\ProgramData\\Marrowind Works"},
        {mw::folder, L"C:\\ProgramData", std::nullopt},
        {mw::folder, L"C:\\ProgramData\\Programs", std::nullopt},
        {mw::folder, L"C:\\users\\Public\\Desktop\\Tilewright Examples", L"C:\\users\\Public\\Desktop\\Tilewright Examples"},
        {mw::file, L"C:\\users\\Public\\Desktop\\Exemples de Tilewright\\a.cal",
         L"C:\\users\\Public\\Desktop\\Exemples de Tilewright\\a.cal"},
        {mw::file, L"C:\\users\\Public\\Desktop\\Examples\\a.cal", std::nullopt},
        {mw::file, L"C:\\users\\Public\\Desktop\\a.cal", std::nullopt},
        {mw::folder, L"C:\\users\\Public\\Desktop", std::nullopt},
        {mw::menu_link, L"C:\\ProgramData\\Programs\\Tilewright 1.22a.lnk", L"C:\\ProgramData\\Programs\\Tilewright 1.22a.lnk"},
        {mw::desktop_link, L"C:/users/Public/Desktop/TILEWRIGHT.LNK", L"C:\\users\\Public\\Desktop\\TILEWRIGHT.LNK"},
        {mw::menu_link, L"C:\\ProgramData\\Programs\\Other.lnk", std::nullopt},
        {mw::menu_link, L"C:\\ProgramData\\Programs\\Tilewright.exe", std::nullopt},
        {mw::menu_link, L"C:\\ProgramData\\Programs\\Sub\\Tilewright.lnk", std::nullopt},
        {mw::menu_link, L"C:\\Apps\\Marrowind Works\\Tilewright\\Tilewright.lnk", std::nullopt},
        {mw::file, L"C:\\ProgramData\\Programs\\Tilewright.lnk", std::nullopt},
        {mw::uninstall_key, L"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(place_of({c.kind, c.path, {}, true, -1}, places), c.place) << fs::path(c.path) << " kind " << c.kind;
}

TEST(removal_of_the_uninstall_key, an_empty_key_name_removes_nothing_and_is_reported)
{
    // The name is appended to the system's Uninstall key: empty, it would stand for every
    // program's entry.
    const std::wstring other = L"MwUninstallOther-" + std::to_wstring(GetCurrentProcessId());
    const setup::registry_key created =
        setup::create_key(HKEY_LOCAL_MACHINE, std::wstring(setup::uninstall_key_path) + L"\\" + other);
    removal_settings settings;
    const removal_report report = remove_installation({{mw::uninstall_key, {}, {}, true, -1}}, settings);
    EXPECT_EQ(report.not_removed, (std::vector<std::wstring>{uninstall_key_text(L"")}));
    EXPECT_TRUE(setup::open_key(HKEY_LOCAL_MACHINE, std::wstring(setup::uninstall_key_path) + L"\\" + other));
    const setup::registry_key uninstall = setup::open_key(HKEY_LOCAL_MACHINE, setup::uninstall_key_path);
    RegDeleteTreeW(uninstall.get(), other.c_str());
}

// ---------------------------------------------------------------------------------------------
// The application's unregistration

TEST(unregister_application, runs_the_application_with_the_unregister_switch_and_wants_minus_10)
{
    scratch_folder dir;
    const std::wstring application = dir / L"Tilewright.exe";
    ASSERT_TRUE(CopyFileW(testing_support::program_beside_tests(L"uninstaller_fixture_app.exe").c_str(),
                          application.c_str(), FALSE));
    const std::wstring marker = dir / L"runs.txt";
    SetEnvironmentVariableW(L"MW_FIXTURE_LOG", marker.c_str());
    struct exit_case {
        const wchar_t* exit_code; // MW_FIXTURE_EXIT; null: the fixture's -10
        bool unregistered;
    };
    for (const auto& c : {exit_case{nullptr, true}, exit_case{L"0", false}, exit_case{L"1", false}}) {
        SetEnvironmentVariableW(L"MW_FIXTURE_EXIT", c.exit_code);
        EXPECT_EQ(unregister_application(application), c.unregistered) << (c.exit_code ? "exit code set" : "-10");
    }
    SetEnvironmentVariableW(L"MW_FIXTURE_EXIT", nullptr);
    EXPECT_FALSE(unregister_application(dir / L"Missing.exe"));
    SetEnvironmentVariableW(L"MW_FIXTURE_LOG", nullptr);
    EXPECT_EQ(testing_support::read_bytes(marker),
              "/Unregister /Background\n/Unregister /Background\n/Unregister /Background\n");
}

// A hung application is ended at the bound: its unregistration has failed and its executable
// can be removed at once.
TEST(unregister_application, ends_an_application_that_hangs_at_the_bound)
{
    scratch_folder dir;
    const std::wstring application = dir / L"Tilewright.exe";
    ASSERT_TRUE(CopyFileW(testing_support::program_beside_tests(L"uninstaller_fixture_app.exe").c_str(),
                          application.c_str(), FALSE));
    SetEnvironmentVariableW(L"MW_FIXTURE_HANG", L"/Unregister");
    const auto bound = std::chrono::milliseconds(1500);
    const auto start = std::chrono::steady_clock::now();
    const bool unregistered = unregister_application(application, bound);
    const auto took = std::chrono::steady_clock::now() - start;
    SetEnvironmentVariableW(L"MW_FIXTURE_HANG", nullptr);

    EXPECT_FALSE(unregistered);
    EXPECT_GE(took, bound);
    EXPECT_LT(took, std::chrono::seconds(30));
    EXPECT_EQ(testing_support::processes_of_program(application), std::vector<DWORD>{});
    EXPECT_TRUE(DeleteFileW(application.c_str())) << GetLastError();
}

// ---------------------------------------------------------------------------------------------
// Texts

class uninstaller_texts : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        module = LoadLibraryExW(testing_support::program_beside_tests(L"Uninstall.exe").c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    }
    static void TearDownTestSuite() { FreeLibrary(module); }
    static inline HMODULE module = nullptr;
};

// The "{n}" fields of a text.
std::set<std::wstring> fields(const std::wstring& text)
{
    std::set<std::wstring> result;
    const std::wregex field(LR"(\{\d+\})");
    for (auto it = std::wsregex_iterator(text.begin(), text.end(), field); it != std::wsregex_iterator(); ++it)
        result.insert(it->str());
    return result;
}

TEST_F(uninstaller_texts, every_text_exists_in_the_four_languages_with_the_same_fields)
{
    ASSERT_NE(module, nullptr);
    const texts english(uninstaller::english, module);
    for (std::uint32_t language : {uninstaller::french, uninstaller::german, uninstaller::spanish}) {
        const texts other(language, module);
        for (unsigned id = IDS_FIRST; id <= IDS_LAST; ++id) {
            // Straight from the language's own table: no fallback hides a missing text.
            const std::wstring_view own = setup::string_table_entry(module, language_langid(language), id);
            EXPECT_FALSE(own.empty()) << "language " << language << " string " << id;
            EXPECT_NE(std::wstring(own), english.get(id)) << "language " << language << " string " << id;
            EXPECT_EQ(fields(std::wstring(own)), fields(english.get(id))) << "language " << language << " string " << id;
            EXPECT_EQ(other.get(id), own);
        }
    }
    for (unsigned id = IDS_FIRST; id <= IDS_LAST; ++id)
        EXPECT_FALSE(english.get(id).empty()) << id;
}

TEST_F(uninstaller_texts, a_language_without_texts_reads_english)
{
    // Italian (4) and any other number stand for English.
    for (std::uint32_t language : {4u, 24u, 0xFFFFFFFFu}) {
        EXPECT_EQ(language_langid(language), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
        EXPECT_EQ(texts(language, module).get(IDS_CONFIRM), texts(uninstaller::english, module).get(IDS_CONFIRM));
    }
    EXPECT_EQ(texts(uninstaller::german, module).format(IDS_CAPTION, L"Tilewright"), L"Tilewright deinstallieren");
}

TEST(stored_language, is_the_setups_mw_language_value_within_the_four_languages)
{
    const std::wstring name = L"MwUninstallLanguage-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring path = std::wstring(setup::uninstall_key_path) + L"\\" + name;
    struct value_case {
        const char* name;
        std::function<void(HKEY)> write;
        std::uint32_t expected;
    };
    auto dword = [](DWORD v) { return [v](HKEY key) { setup::write_dword(key, L"MwLanguage", v); }; };
    const value_case cases[] = {
        {"French", dword(0), uninstaller::french},
        {"English", dword(1), uninstaller::english},
        {"German", dword(2), uninstaller::german},
        {"Spanish", dword(3), uninstaller::spanish},
        {"Italian: no texts", dword(11), uninstaller::english},
        {"a string", [](HKEY key) { setup::write_string(key, L"MwLanguage", L"2"); }, uninstaller::english},
        {"8 bytes", [](HKEY key) { const std::uint64_t v = 2; setup::write_binary(key, L"MwLanguage", &v, 8); },
         uninstaller::english},
        {"no value", [](HKEY) {}, uninstaller::english},
    };
    for (const auto& c : cases) {
        {
            const setup::registry_key key = setup::create_key(HKEY_LOCAL_MACHINE, path);
            c.write(key.get());
        }
        EXPECT_EQ(stored_language(name), c.expected) << c.name;
        RegDeleteTreeW(setup::open_key(HKEY_LOCAL_MACHINE, setup::uninstall_key_path).get(), name.c_str());
    }
    EXPECT_EQ(stored_language(name), uninstaller::english) << "no entry";
}

// ---------------------------------------------------------------------------------------------
// The closing report

TEST_F(uninstaller_texts, the_report_lists_what_remains_and_what_was_kept)
{
    const texts english(uninstaller::english, module);
    EXPECT_EQ(report_text(english, L"Tilewright", {}), L"Tilewright has been removed from this computer.");

    removal_report report;
    report.unregistration_failed = true;
    report.not_removed = {L"C:\\A\\a.txt", L"C:\\A"};
    report.kept = {L"C:\\Data\\Grid.lbm"};
    EXPECT_EQ(report_text(english, L"Tilewright", report),
              L"Tilewright has been removed from this computer, except for these items, which could not be "
              L"removed:\nthe file types registered by Tilewright\nC:\\A\\a.txt\nC:\\A\n\n"
              L"These files were changed after the installation and have been kept:\nC:\\Data\\Grid.lbm");

    removal_report kept_only;
    kept_only.kept = {L"C:\\Data\\Grid.lbm"};
    EXPECT_EQ(report_text(english, L"Tilewright", kept_only),
              L"Tilewright has been removed from this computer.\n\n"
              L"These files were changed after the installation and have been kept:\nC:\\Data\\Grid.lbm");
}

TEST_F(uninstaller_texts, a_long_list_ends_with_how_many_more)
{
    removal_report report;
    for (int i = 0; i < 17; ++i)
        report.not_removed.push_back(fmt::format(L"C:\\file{}", i));
    const std::wstring text = report_text(texts(uninstaller::french, module), L"Tilewright", report);
    EXPECT_NE(text.find(L"\nC:\\file14\n… et 2 autres"), std::wstring::npos) << fs::path(text);
    EXPECT_EQ(text.find(L"C:\\file15"), std::wstring::npos);
}

// ---------------------------------------------------------------------------------------------
// The copy's arguments and the check for the application

TEST(finish_arguments, only_the_complete_finish_command_is_taken)
{
    const auto parsed = parse_finish_arguments({L"/finish", L"C:\\P\\Uninstall.exe", L"124", L"4660", L"88"});
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->original, L"C:\\P\\Uninstall.exe");
    EXPECT_EQ(parsed->parent, reinterpret_cast<HANDLE>(124));
    EXPECT_EQ(parsed->ready, reinterpret_cast<HANDLE>(4660));
    EXPECT_EQ(parsed->outcome, reinterpret_cast<HANDLE>(88));

    const std::vector<std::vector<std::wstring>> refused{
        {},
        {L"/finish"},
        {L"/finish", L"C:\\P\\Uninstall.exe", L"124"},
        {L"/finish", L"C:\\P\\Uninstall.exe", L"124", L"4660"},
        {L"/finish", L"C:\\P\\Uninstall.exe", L"124", L"4660", L"88", L"more"},
        {L"/FINISHED", L"C:\\P\\Uninstall.exe", L"124", L"4660", L"88"},
        {L"/finish", L"", L"124", L"4660", L"88"},
        {L"/finish", L"C:\\P\\Uninstall.exe", L"0", L"4660", L"88"},
        {L"/finish", L"C:\\P\\Uninstall.exe", L"12a", L"4660", L"88"},
        {L"/finish", L"C:\\P\\Uninstall.exe", L"124", L"-3", L"88"},
        {L"/finish", L"C:\\P\\Uninstall.exe", L"124", L"4660", L"0"},
    };
    for (const auto& arguments : refused)
        EXPECT_FALSE(parse_finish_arguments(arguments)) << fmt::format(L"{}", fmt::join(arguments, L" "));
}

TEST(application_running, counts_the_units_of_the_familys_instance_semaphore_without_adding_one)
{
    const std::wstring id = L"MwUninstallCheck-" + std::to_wstring(GetCurrentProcessId());
    EXPECT_FALSE(application_running(id));
    {
        mw::instance_semaphore application(mw::instance_semaphore_name(id));
        EXPECT_TRUE(application_running(id));
        EXPECT_TRUE(application_running(id)) << "counting leaves the count as it was";
        EXPECT_EQ(application.running_instances(), 1) << "the check holds no unit of its own";
    }
    EXPECT_FALSE(application_running(id));
}

} // namespace
