#include "engine/installation.hpp"

#include "app/strings.hpp"
#include "engine/compress_error.hpp"
#include "engine/known_folders.hpp"
#include "engine/payload.hpp"
#include "engine/registry.hpp"
#include "engine/uninstall_entry.hpp"
#include "pages/product.hpp"
#include "resources/resource_ids.h"
#include "support/paths.hpp"
#include "support/unique_handle.hpp"
#include "tests/engine/grant_recorder.hpp"
#include "support/temp_names.hpp"
#include "tests/scratch.hpp"
#include "tests/ui_driver/ui_driver.hpp"
#include "tools/payload_pack.hpp"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <future>
#include <regex>
#include <sstream>
#include <thread>

namespace {

using namespace setup;
using testing_support::read_bytes;
using testing_support::scratch_folder;
using testing_support::write_bytes;
namespace fs = std::filesystem;

const std::wstring crlf = L"\r\n";

std::wstring text(unsigned id) { return load_string(id); }
std::wstring ok_line(const std::wstring& step) { return step + text(IDS_STEP_OK) + crlf; }
std::wstring failed_line(const std::wstring& step) { return step + text(IDS_FAILED) + crlf; }
std::wstring copying(const std::wstring& path) { return format_text(text(IDS_COPYING_FILE), path); }

// What the install page would show, kept for the test to read.
class recording_observer : public installation_observer {
public:
    std::vector<std::wstring> statuses;
    std::wstring log;
    std::vector<int> progress;
    bool shown = false;
    int pumps = 0;
    // Run at every pump: lets a test look at the files while the installation runs.
    std::function<void()> on_pump;

    void set_status(const std::wstring& text) override { statuses.push_back(text); }
    void append_log(const std::wstring& text) override { log += text; }
    void set_progress(int percent) override { progress.push_back(percent); }
    void show_progress() override { shown = true; }
    void pump() override
    {
        ++pumps;
        if (on_pump)
            on_pump();
    }
};

void set_environment(const wchar_t* name, const std::wstring& value)
{
    SetEnvironmentVariableW(name, value.empty() ? nullptr : value.c_str());
}

// The stand-in for the installed application: built beside this test program.
std::string fixture_application()
{
    wchar_t own[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    return read_bytes(fs::path(own).parent_path() / L"uninstaller_fixture_app.exe");
}

// Installations of a product of the tests' own (uninstall entry, shortcut name) into scratch
// folders; the entry, the desktop shortcut and the stand-in's variables are removed first and last.
class installation : public ::testing::Test {
protected:
    scratch_folder scratch;
    const std::wstring key_name = L"MwTestInstallation-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring title = L"MwTest Installation " + std::to_wstring(GetCurrentProcessId());
    const std::wstring application_id = testing_support::fresh_name(L"installation");
    app_context context{application_id};
    recording_observer observer;
    installation_settings settings;
    const std::wstring program = scratch / L"Program";
    const std::wstring registration_log = scratch / L"registration.log";

    void SetUp() override
    {
        context.uninstall_log = mw::uninstall_log({title, key_name});
        context.install_folder = program;
        context.programs_folder = scratch / L"Menu";
        context.menu_shortcut = false;
        context.desktop_shortcut = false;
        settings.sample_folder = scratch / L"Samples";
        settings.registration_bound = std::chrono::seconds(60);
        clean();
        set_environment(L"MW_FIXTURE_LOG", registration_log);
    }
    void TearDown() override { clean(); }
    void remove_entry()
    {
        if (registry_key uninstall = open_key(HKEY_LOCAL_MACHINE, uninstall_key_path))
            RegDeleteTreeW(uninstall.get(), key_name.c_str());
    }
    void clean()
    {
        remove_entry();
        const std::wstring desktop = known_folder(2);
        if (!desktop.empty())
            DeleteFileW((desktop + L"\\" + title + L".lnk").c_str());
        for (const wchar_t* name :
             {L"MW_FIXTURE_LOG", L"MW_FIXTURE_EXIT", L"MW_FIXTURE_HOLD", L"MW_FIXTURE_HANG", L"MW_FIXTURE_MUTEX",
              L"MW_INSTALL_TIMINGS"})
            SetEnvironmentVariableW(name, nullptr);
    }

    registry_key entry() { return open_key(HKEY_LOCAL_MACHINE, uninstall_entry_key(key_name)); }

    // Another run in the same test: no installation, an empty log and observer, no entry.
    void start_over()
    {
        std::error_code ignored;
        for (const auto& e : fs::recursive_directory_iterator(program, ignored))
            SetFileAttributesW(e.path().c_str(), FILE_ATTRIBUTE_NORMAL); // the application is read-only
        fs::remove_all(program, ignored);
        ASSERT_FALSE(fs::exists(program));
        context.uninstall_log = mw::uninstall_log({title, key_name});
        observer = {};
        remove_entry();
    }

    // Whether the temporary entry `item` was seen in place, with its content, at some pump of
    // the run; `path` receives its destination once the run has chosen its temporary folder.
    void watch_temporary(const pack_item& item, std::wstring& path, bool& seen)
    {
        observer.on_pump = [this, &item, &path, &seen] {
            if (!context.temp_folder.empty())
                path = destination(item);
            seen = seen || (!path.empty() && read_bytes(path) == item.bytes);
        };
    }

    // The payload of a small product: the application, its uninstaller, a plain file, a module,
    // a sample and a temporary file.
    std::vector<pack_item> product_items()
    {
        return {
            {L"bin\\Tilewright.exe", L"<InstallPath>", 1, fixture_application()},
            {L"bin\\Uninstall.exe", L"<InstallPath>", 2, "uninstaller bytes"},
            {L"data\\tiles.dat", L"<InstallPath>\\Data", 0, std::string(9000, 't') + "end of tiles"},
            {L"modules\\grout.mod", L"<InstallPath>\\Modules", 3, "module grout"},
            {L"samples\\kitchen.tw", L"<SamplePath>", 4, "sample kitchen"},
            {L"temp\\helper.tmp", L"<Temporary>", 5, "temporary helper"},
        };
    }
    std::wstring destination(const pack_item& item)
    {
        std::wstring folder = item.destination;
        const auto replace = [&](const std::wstring& variable, const std::wstring& path) {
            if (folder.starts_with(variable))
                folder = path + folder.substr(variable.size());
        };
        replace(L"<InstallPath>", program);
        replace(L"<SamplePath>", *settings.sample_folder);
        replace(L"<Temporary>", context.temp_folder);
        return folder + L"\\" + fs::path(item.source).filename().wstring();
    }

    bool run(const std::string& archive)
    {
        std::istringstream payload(bzip2_compress(archive));
        return do_installation(context, payload, observer, settings);
    }
    bool run(const std::vector<pack_item>& items) { return run(build_archive(items)); }

    // The records of Uninstall.ulog as the uninstall program reads them.
    std::vector<mw::log_record> written_records()
    {
        mw::uninstall_log back({title, key_name});
        EXPECT_TRUE(back.read(program + L"\\Uninstall.ulog"));
        return back.previous;
    }
    std::string registrations() { return read_bytes(registration_log); }
};

std::vector<mw::log_record> of_kind(const std::vector<mw::log_record>& records, std::int32_t kind)
{
    std::vector<mw::log_record> found;
    std::copy_if(records.begin(), records.end(), std::back_inserter(found),
                 [&](const mw::log_record& r) { return r.kind == kind; });
    return found;
}

TEST_F(installation, a_complete_run_installs_narrates_and_records_every_step)
{
    context.menu_shortcut = true;
    context.desktop_shortcut = true;
    ASSERT_TRUE(context.setup_mutex.take());
    // The setup mutex of the application family, as the application opens it.
    set_environment(L"MW_FIXTURE_MUTEX", L"Global\\" + application_id + L".{5ead623c-dfcd-474d-8e3c-e6978cac039e}");
    const auto items = product_items();
    std::wstring temporary;
    bool temporary_seen = false;
    watch_temporary(items[5], temporary, temporary_seen);

    ASSERT_TRUE(run(items));

    std::wstring expected = std::wstring(45, L'\u2500') + crlf + ok_line(text(IDS_PREPARING));
    for (const auto& item : items)
        expected += ok_line(copying(destination(item)));
    expected += ok_line(text(IDS_CREATING_SHORTCUTS)) + ok_line(text(IDS_WRITING_REGISTRY)) +
                ok_line(text(IDS_WRITING_INSTALLATION_DATA));
    EXPECT_EQ(observer.log, expected);
    ASSERT_FALSE(observer.statuses.empty());
    EXPECT_EQ(observer.statuses.back(), format_text(text(IDS_CONTINUE), text(IDS_NEXT)));
    EXPECT_TRUE(observer.shown);
    ASSERT_FALSE(observer.progress.empty());
    EXPECT_EQ(observer.progress.front(), 0);
    EXPECT_EQ(observer.progress.back(), 100);
    EXPECT_TRUE(std::is_sorted(observer.progress.begin(), observer.progress.end()));

    for (std::size_t i = 0; i < 5; ++i) {
        const std::wstring path = destination(items[i]);
        EXPECT_EQ(read_bytes(path), items[i].bytes) << fs::path(path);
        EXPECT_EQ(file_crc32(path), crc32_of(items[i].bytes)) << fs::path(path);
    }
    for (std::size_t i : {0, 1})
        EXPECT_TRUE(GetFileAttributesW(destination(items[i]).c_str()) & FILE_ATTRIBUTE_READONLY) << i;
    EXPECT_TRUE(temporary_seen);
    EXPECT_FALSE(fs::exists(temporary));
    EXPECT_FALSE(fs::exists(context.temp_folder));
    EXPECT_TRUE(context.setup_mutex.owned()); // taken back after the registration run
    EXPECT_EQ(registrations(), "/Register /Background\nsetup mutex: free\n"); // released while it ran
    EXPECT_TRUE(entry());

    const auto records = written_records();
    std::vector<mw::log_record> files = of_kind(records, mw::file);
    ASSERT_EQ(files.size(), 5u); // the temporary file is not recorded
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_TRUE(mw::same_path(files[i].path, destination(items[i]))) << fs::path(files[i].path);
        EXPECT_TRUE(files[i].done);
        EXPECT_EQ(files[i].tag, static_cast<std::int32_t>(items[i].kind));
    }
    const std::wstring menu_link = context.programs_folder + L"\\" + title + L".lnk";
    const std::wstring desktop_link = known_folder(2) + L"\\" + title + L".lnk";
    const std::pair<std::int32_t, std::wstring> singles[] = {{mw::menu_link, menu_link},
                                                             {mw::desktop_link, desktop_link},
                                                             {mw::uninstall_key, L""},
                                                             {mw::class_registration, L""}};
    for (const auto& [kind, path] : singles) {
        const auto found = of_kind(records, kind);
        ASSERT_EQ(found.size(), 1u) << kind;
        EXPECT_TRUE(found[0].done) << kind;
        if (!path.empty()) {
            EXPECT_TRUE(mw::same_path(found[0].path, path)) << kind;
            EXPECT_TRUE(fs::exists(path)) << kind;
        }
    }
}

// The product's own payload, its application replaced by the stand-in, installed: the access
// lists it builds open to users exactly the shared data folders (full control, for all below
// them) and the module files (change, no more), and nothing in the installation or sample
// folders. It writes to the product's real data folders, so it runs apart from the tests that
// install the product.
TEST_F(installation, users_get_full_access_to_the_shared_data_folders_and_change_access_to_modules_only)
{
    const std::wstring data = csidl_folder(CSIDL_COMMON_APPDATA, nullptr) + L"\\Marrowind Works";
    const auto remove_data = [&] {
        std::error_code ignored;
        for (const auto& e : fs::recursive_directory_iterator(data, ignored))
            SetFileAttributesW(e.path().c_str(), FILE_ATTRIBUTE_NORMAL);
        fs::remove_all(data, ignored);
    };
    remove_data();
    std::vector<pack_item> items = read_manifest(fs::path(L"" MW_PAYLOAD_MANIFEST), fs::path(L"" MW_PAYLOAD_FILES));
    std::vector<std::wstring> modules;
    for (pack_item& item : items) {
        if (item.kind == 1)
            item.bytes = fixture_application();
        if (item.kind == 3)
            modules.push_back(data + L"\\Modules\\Tilewright\\" + fs::path(item.source).filename().wstring());
    }
    ASSERT_EQ(modules.size(), 7u);
    {
        testing_support::grant_recorder grants;
        const bool installed = run(items);
        const std::vector<testing_support::stored_grant> recorded = testing_support::stored_grants();
        remove_data();
        ASSERT_TRUE(installed) << observer.log;

        std::map<std::wstring, std::pair<DWORD, BYTE>> expected;
        for (const wchar_t* folder : {L"", L"\\Textures", L"\\Modules", L"\\Textures\\Tilewright", L"\\Modules\\Tilewright"})
            expected[data + folder] = {0x1F01FF, CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE};
        for (const std::wstring& module : modules)
            expected[module] = {0x13019F, 0};
        std::map<std::wstring, std::pair<DWORD, BYTE>> granted;
        for (const auto& grant : recorded) {
            if (grant.protected_list)
                continue; // the new installation folder's protection; its own test sees it
            EXPECT_EQ(grant.users_entries, 1) << fs::path(grant.path) << ": one entry for the Users group";
            EXPECT_TRUE(granted.emplace(grant.path, std::pair{grant.mask, grant.flags}).second)
                << fs::path(grant.path) << " granted twice";
        }
        EXPECT_EQ(granted, expected);
    }
}

// A folder made for the application outside Program Files is protected as Program Files is, with
// every folder made on the way to it: otherwise users could change its files, or rename it away
// and put their own in its place, and their Tilewright.exe or Uninstall.exe would run elevated.
// A folder that exists, or one in Program Files, keeps its rights.
TEST_F(installation, a_folder_made_outside_program_files_gets_the_protection_of_program_files)
{
    const std::wstring program_files = csidl_folder(CSIDL_PROGRAM_FILES, nullptr);
    ASSERT_FALSE(program_files.empty());
    const std::wstring in_program_files =
        program_files + L"\\" + fs::path(mw::unique_temp_path(L"MwTest-%%%%%%%%")).filename().wstring();
    struct folder_case {
        std::wstring install_folder;
        std::vector<std::wstring> existing;  // made before the run
        std::vector<std::wstring> protected_; // expected, outermost first
    };
    const folder_case cases[] = {
        {scratch / L"Games\\My Games\\Tilewright", {}, {scratch / L"Games", scratch / L"Games\\My Games", scratch / L"Games\\My Games\\Tilewright"}},
        {scratch / L"Apps\\Tilewright", {scratch / L"Apps"}, {scratch / L"Apps\\Tilewright"}},
        {scratch / L"There", {scratch / L"There"}, {}},
        {in_program_files + L"\\Tilewright", {}, {}},
    };
    for (const folder_case& c : cases) {
        for (const std::wstring& folder : c.existing)
            fs::create_directories(folder);
        context.uninstall_log = mw::uninstall_log({title, key_name});
        context.install_folder = c.install_folder;
        std::vector<testing_support::stored_grant> recorded;
        {
            testing_support::grant_recorder grants;
            make_install_folder(context);
            recorded = testing_support::stored_grants();
        }
        const bool in_program_files_case = c.install_folder.starts_with(in_program_files);
        // In Program Files the extraction makes the folder, as any other below a protected one.
        EXPECT_EQ(fs::is_directory(c.install_folder), !in_program_files_case) << fs::path(c.install_folder);
        std::vector<std::wstring> expected;
        for (const std::wstring& folder : c.protected_)
            expected.push_back(mw::canonical_path(folder).value_or(L"?"));
        std::vector<std::wstring> protected_folders;
        for (const auto& grant : recorded) {
            protected_folders.push_back(grant.path);
            EXPECT_TRUE(grant.protected_list) << fs::path(grant.path);
            EXPECT_EQ(grant.users_entries, 1) << fs::path(grant.path);
            EXPECT_EQ(grant.mask, static_cast<DWORD>(FILE_GENERIC_READ | FILE_GENERIC_EXECUTE)) << fs::path(grant.path);
            EXPECT_EQ(grant.flags, CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE) << fs::path(grant.path);
            EXPECT_FALSE(grant.others.empty()) << "Administrators and SYSTEM keep full control";
        }
        EXPECT_EQ(protected_folders, expected) << fs::path(c.install_folder);
        // The folders made are recorded, to be removed with the installation or by a rollback.
        std::vector<std::wstring> recorded_folders;
        for (const mw::log_record& r : of_kind(context.uninstall_log.current, mw::folder))
            recorded_folders.push_back(r.path);
        if (in_program_files_case) {
            EXPECT_TRUE(recorded_folders.empty());
        } else {
            EXPECT_EQ(recorded_folders, expected);
            EXPECT_TRUE(context.uninstall_log.rollback().empty());
            for (const std::wstring& folder : c.protected_)
                EXPECT_FALSE(fs::exists(folder)) << fs::path(folder);
        }
    }
}

TEST_F(installation, an_update_brings_no_sample_and_names_the_installed_version)
{
    context.install_state = install_state::older_version_installed;
    context.installed_version = make_file_version(1, 20, 0, 3);
    const auto items = product_items();

    ASSERT_TRUE(run(items));

    const std::wstring sample = destination(items[4]);
    EXPECT_FALSE(fs::exists(sample));
    EXPECT_EQ(observer.log.find(copying(sample)), std::wstring::npos);
    for (const auto& r : written_records())
        EXPECT_NE(r.tag, 4) << fs::path(r.path);
    EXPECT_EQ(registrations(), "/Register /Background /update=0001001400000003\n");
}

// Modules are never overwritten: by what the previous log recorded, or by what is there.
TEST_F(installation, modules_follow_the_previous_log_and_the_existing_files)
{
    const auto items = product_items();
    const std::wstring module = destination(items[3]);
    struct module_case {
        const char* name;
        bool previously_recorded;
        bool exists;
        bool recorded;     // in this run's records
        bool logged;       // a "Copying File" line
        std::string bytes; // afterwards; empty: no file
    };
    const module_case cases[] = {
        {"recorded before, deleted since", true, false, false, false, ""},
        {"recorded before, present", true, true, false, false, "user's grout"},
        {"not recorded, present", false, true, true, false, "user's grout"},
        {"not recorded, missing", false, false, true, true, "module grout"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        start_over();
        context.install_state = install_state::same_version_installed;
        if (c.previously_recorded)
            context.uninstall_log.previous.push_back({mw::file, module, {}, true, 3});
        if (c.exists)
            write_bytes(module, "user's grout");
        // This run's records of the module, as they stand before the log file merges the
        // previous ones in.
        std::vector<mw::log_record> modules;
        bool backup_existed = false;
        observer.on_pump = [&] {
            if (observer.log.find(text(IDS_WRITING_INSTALLATION_DATA)) != std::wstring::npos)
                return;
            modules.clear();
            for (const auto& r : context.uninstall_log.current)
                if (r.kind == mw::file && mw::same_path(r.path, module))
                    modules.push_back(r);
            backup_existed = modules.size() == 1 && !modules[0].backup.empty() && fs::exists(modules[0].backup);
        };

        ASSERT_TRUE(run(items));

        EXPECT_EQ(modules.size(), c.recorded ? 1u : 0u);
        EXPECT_EQ(observer.log.find(copying(module)) != std::wstring::npos, c.logged);
        EXPECT_EQ(fs::exists(module), !c.bytes.empty());
        if (!c.bytes.empty()) {
            EXPECT_EQ(read_bytes(module), c.bytes);
        }
        if (c.recorded && c.exists) {
            // Kept with a backup copy, which writing the log deletes again.
            ASSERT_EQ(modules.size(), 1u);
            EXPECT_TRUE(modules[0].done);
            EXPECT_TRUE(backup_existed);
            EXPECT_FALSE(fs::exists(modules[0].backup));
        }
        const auto written = of_kind(written_records(), mw::file);
        const bool in_file = std::any_of(written.begin(), written.end(), [&](const mw::log_record& r) {
            return mw::same_path(r.path, module) && r.done;
        });
        EXPECT_TRUE(in_file); // recorded now or carried over from the previous log
    }
}

// A payload whose last file does not match its CRC-32: the table names another one.
std::string with_wrong_crc_of_last(const std::vector<pack_item>& items)
{
    std::vector<payload_entry> entries;
    std::string data;
    for (const auto& item : items) {
        entries.push_back({item.source, item.destination, item.kind, item.bytes.size(), crc32_of(item.bytes)});
        data += item.bytes;
    }
    entries.back().crc ^= 0x5A5A5A5A;
    return write_table(entries) + data;
}

TEST_F(installation, a_temporary_entry_is_written_logged_not_recorded_and_deleted_whatever_the_outcome)
{
    auto items = product_items();
    items.push_back({L"data\\last.dat", L"<InstallPath>\\Data", 0, "last"});
    for (const bool fails : {false, true}) {
        SCOPED_TRACE(fails ? "failing run" : "successful run");
        start_over();
        std::wstring temporary;
        bool seen = false;
        watch_temporary(items[5], temporary, seen);

        EXPECT_EQ(run(fails ? with_wrong_crc_of_last(items) : build_archive(items)), !fails);

        EXPECT_TRUE(seen);
        EXPECT_NE(observer.log.find(ok_line(copying(temporary))), std::wstring::npos);
        EXPECT_FALSE(fs::exists(temporary));
        EXPECT_FALSE(fs::exists(context.temp_folder));
        for (const auto& r : context.uninstall_log.current)
            EXPECT_FALSE(mw::same_path(r.path, temporary));
        if (!fails) {
            for (const auto& r : written_records())
                EXPECT_FALSE(mw::same_path(r.path, temporary));
        }
    }
}

TEST_F(installation, without_shortcuts_there_is_no_shortcut_step)
{
    ASSERT_TRUE(run(product_items()));
    EXPECT_EQ(observer.log.find(text(IDS_CREATING_SHORTCUTS)), std::wstring::npos);
    EXPECT_NE(observer.log.find(ok_line(text(IDS_WRITING_REGISTRY))), std::wstring::npos);
    const auto records = written_records();
    EXPECT_TRUE(of_kind(records, mw::menu_link).empty());
    EXPECT_TRUE(of_kind(records, mw::desktop_link).empty());
}

TEST_F(installation, a_registration_that_fails_or_hangs_fails_the_registry_step_only)
{
    struct registration_case {
        const char* name;
        const wchar_t* exit_code;
        bool hangs;
    };
    const registration_case cases[] = {{"exit code 0", L"0", false}, {"exit code 1", L"1", false}, {"hangs", L"", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        start_over();
        set_environment(L"MW_FIXTURE_EXIT", c.exit_code);
        set_environment(L"MW_FIXTURE_HANG", c.hangs ? L"1" : L"");
        const auto bound = c.hangs ? std::chrono::milliseconds(1500) : std::chrono::milliseconds(60000);
        settings.registration_bound = bound;
        const auto start = std::chrono::steady_clock::now();

        EXPECT_TRUE(run(product_items()));

        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took, std::chrono::seconds(30));
        if (c.hangs) {
            EXPECT_GE(took, bound) << "the setup waited for the bound";
        }
        EXPECT_NE(observer.log.find(failed_line(text(IDS_WRITING_REGISTRY))), std::wstring::npos);
        EXPECT_NE(observer.log.find(ok_line(text(IDS_WRITING_INSTALLATION_DATA))), std::wstring::npos);
        EXPECT_TRUE(entry()); // the entry itself was written
        const auto registrations = of_kind(written_records(), mw::class_registration);
        ASSERT_EQ(registrations.size(), 1u);
        EXPECT_FALSE(registrations[0].done);
        // A hung application was ended before the run went on: nothing of it runs, and its
        // file can go at once.
        const std::wstring application = program + L"\\Tilewright.exe";
        EXPECT_EQ(testing_support::processes_of_program(application), std::vector<DWORD>{});
        SetFileAttributesW(application.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_TRUE(DeleteFileW(application.c_str())) << GetLastError();
    }
}

// While the setup waits for a hung registration, the window's messages are still handled.
TEST_F(installation, the_wait_for_a_hung_registration_keeps_pumping_and_ends_the_application)
{
    set_environment(L"MW_FIXTURE_HANG", L"1");
    settings.registration_bound = std::chrono::milliseconds(1500);
    int pumps_at_registry_step = -1; // the pumps before the registry step's wait
    int pumps_at_data_step = -1;      // and after it
    observer.on_pump = [&] {
        if (observer.statuses.empty())
            return;
        const std::wstring& status = observer.statuses.back();
        if (pumps_at_registry_step < 0 && status == text(IDS_WRITING_REGISTRY))
            pumps_at_registry_step = observer.pumps;
        if (pumps_at_data_step < 0 && status == text(IDS_WRITING_INSTALLATION_DATA))
            pumps_at_data_step = observer.pumps;
    };

    EXPECT_TRUE(run(product_items()));

    ASSERT_GE(pumps_at_registry_step, 0);
    ASSERT_GE(pumps_at_data_step, 0);
    // Without the wait's pumping the step pumps twice (its begin and its end); a wait longer than
    // one step of the wait pumps at least once more.
    EXPECT_GT(pumps_at_data_step - pumps_at_registry_step, 2);
    EXPECT_EQ(testing_support::processes_of_program(program + L"\\Tilewright.exe"), std::vector<DWORD>{});
}

// A step after the unpacking that fails says so on its own line; the run goes on and succeeds.
TEST_F(installation, a_failing_step_after_the_unpacking_fails_alone)
{
    struct step_case {
        const char* name;
        std::function<void()> prepare;
        unsigned failing_step;
    };
    const step_case cases[] = {
        {"menu folder below a file",
         [&] {
             write_bytes(scratch / L"not a folder", "file");
             context.programs_folder = scratch / L"not a folder\\Menu";
             context.menu_shortcut = true;
         },
         IDS_CREATING_SHORTCUTS},
        {"log file name taken by a folder",
         [&] { fs::create_directories(program + L"\\Uninstall.ulog"); },
         IDS_WRITING_INSTALLATION_DATA},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        start_over();
        context.programs_folder = scratch / L"Menu";
        context.menu_shortcut = false;
        c.prepare();

        EXPECT_TRUE(run(product_items()));

        for (unsigned step : {IDS_CREATING_SHORTCUTS, IDS_WRITING_REGISTRY, IDS_WRITING_INSTALLATION_DATA}) {
            if (step == IDS_CREATING_SHORTCUTS && !context.menu_shortcut)
                continue;
            const std::wstring line = step == c.failing_step ? failed_line(text(step)) : ok_line(text(step));
            EXPECT_NE(observer.log.find(line), std::wstring::npos) << step;
        }
        EXPECT_EQ(observer.statuses.back(), format_text(text(IDS_CONTINUE), text(IDS_NEXT)));
        EXPECT_TRUE(fs::exists(program + L"\\Tilewright.exe"));
    }
}

TEST_F(installation, without_a_temporary_folder_nothing_starts)
{
    struct variable {
        const wchar_t* name;
        std::wstring value;
    };
    std::vector<variable> saved;
    for (const wchar_t* name : {L"TMP", L"TEMP"}) {
        wchar_t value[MAX_PATH] = {};
        const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
        saved.push_back({name, length > 0 && length < MAX_PATH ? value : L""});
        SetEnvironmentVariableW(name, (scratch / L"missing").c_str());
    }
    std::wstring reason;
    const bool chosen = context.choose_temp_folder(reason);
    if (!chosen) {
        EXPECT_FALSE(run(product_items()));
    }
    for (const auto& v : saved)
        set_environment(v.name, v.value);
    if (chosen)
        GTEST_SKIP() << "the temporary folder is chosen although TMP and TEMP name a missing folder";

    const std::wstring failure = format_text(text(IDS_INSTALLATION_FAILED), reason);
    EXPECT_EQ(observer.log, std::wstring(45, L'\u2500') + crlf + failure + crlf);
    EXPECT_EQ(observer.statuses.back(), failure);
    EXPECT_FALSE(observer.shown);
    EXPECT_FALSE(fs::exists(program));
    EXPECT_TRUE(context.uninstall_log.current.empty());
}

TEST_F(installation, a_wrong_crc_rolls_back_over_an_existing_installation)
{
    const auto items = product_items();
    // The installation already there: the application and a data file of an earlier version.
    const std::string old_application = "earlier application";
    const std::string old_tiles = "earlier tiles";
    write_bytes(destination(items[0]), old_application);
    write_bytes(destination(items[2]), old_tiles);
    std::vector<fs::path> before;
    for (const auto& e : fs::recursive_directory_iterator(scratch.path()))
        before.push_back(e.path());
    std::sort(before.begin(), before.end());
    std::vector<pack_item> failing = items;
    failing.push_back({L"data\\last.dat", L"<InstallPath>\\Data", 0, "last"});

    EXPECT_FALSE(run(with_wrong_crc_of_last(failing)));

    const std::wstring last = destination(failing.back());
    EXPECT_TRUE(observer.log.ends_with(failed_line(copying(last))));
    ASSERT_FALSE(observer.statuses.empty());
    EXPECT_EQ(observer.statuses.back(),
              format_text(text(IDS_INSTALLATION_FAILED), failure_code_text(make_error_code(compress_error::invalid_checksum))));
    EXPECT_EQ(failure_code_text(make_error_code(compress_error::invalid_checksum)), L"3");
    EXPECT_EQ(read_bytes(destination(items[0])), old_application);
    EXPECT_EQ(read_bytes(destination(items[2])), old_tiles);
    std::vector<fs::path> after;
    for (const auto& e : fs::recursive_directory_iterator(scratch.path()))
        after.push_back(e.path());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, before); // every new file and folder is gone
    EXPECT_TRUE(context.uninstall_log.current.empty());
    EXPECT_FALSE(entry());
    EXPECT_FALSE(fs::exists(context.temp_folder));
}

TEST_F(installation, a_damaged_payload_fails_its_test_pass_with_code_4_before_anything_is_written)
{
    std::string compressed = bzip2_compress(build_archive(product_items()));
    compressed[compressed.size() / 2] ^= 0x55;
    std::istringstream payload(compressed);

    EXPECT_FALSE(do_installation(context, payload, observer, settings));

    EXPECT_EQ(observer.log, std::wstring(45, L'\u2500') + crlf + failed_line(text(IDS_PREPARING)));
    EXPECT_EQ(observer.statuses.back(), format_text(text(IDS_INSTALLATION_FAILED), L"4"));
    EXPECT_FALSE(fs::exists(program));
}

// The timings the wizard benchmark asks for: appended to the named file, one line per phase,
// and only when the variable names a file.
TEST_F(installation, a_run_appends_its_phase_timings_only_to_the_file_the_variable_names)
{
    const std::wstring timings = scratch / L"timings.txt";
    ASSERT_TRUE(run(product_items()));
    EXPECT_FALSE(fs::exists(timings));

    start_over();
    write_bytes(timings, "earlier run\n");
    set_environment(L"MW_INSTALL_TIMINGS", timings);
    ASSERT_TRUE(run(product_items()));
    set_environment(L"MW_INSTALL_TIMINGS", L"");
    const std::regex expected{"earlier run\ntest_pass_ms=[0-9]+\\.[0-9]\nextraction_ms=[0-9]+\\.[0-9]\n"};
    EXPECT_TRUE(std::regex_match(read_bytes(timings), expected)) << read_bytes(timings);
}

TEST(installation_texts, failure_code_text_by_category)
{
    const std::pair<std::error_code, const wchar_t*> cases[] = {
        {{5, std::system_category()}, L"1:00000005"},
        {{static_cast<int>(0x80070020), std::system_category()}, L"1:80070020"},
        {{0xABC, std::system_category()}, L"1:00000ABC"},
        {{ENOENT, std::generic_category()}, L"2:00000002"},
        {{28, std::generic_category()}, L"2:0000001C"},
        {make_error_code(compress_error::invalid_checksum), L"3"},
        {make_error_code(compress_error::test_failed), L"4"},
        {make_error_code(compress_error::unexpected_error), L"7"},
        {std::make_error_code(std::io_errc::stream), L"7"},
        {std::make_error_code(std::future_errc::no_state), L"7"},
    };
    for (const auto& [code, expected] : cases)
        EXPECT_EQ(failure_code_text(code), expected) << code.category().name() << ' ' << code.value();
}

TEST(installation_texts, progress_percent_rounds_half_up_and_keeps_100_for_the_end)
{
    struct progress_case {
        std::uint64_t position, total;
        int percent;
    };
    const progress_case cases[] = {
        {0, 1000, 0},         {4, 1000, 0},         {5, 1000, 1},          {1, 3, 33},
        {2, 3, 67},           {994, 1000, 99},      {995, 1000, 99},       {999999, 1000000, 99},
        {1000000, 1000000, 100}, {0, 0, 100},       {1ull << 40, (1ull << 41) + 1, 50},
    };
    for (const auto& c : cases)
        EXPECT_EQ(progress_percent(c.position, c.total), c.percent) << c.position << " of " << c.total;
}

TEST(installation_texts, registration_command_line_names_the_installed_version_on_update)
{
    const std::wstring application = L"C:\\Program Files\\Marrowind Works\\Tilewright\\Tilewright.exe";
    const std::pair<std::uint64_t, std::wstring> cases[] = {
        {0, L""},
        {make_file_version(1, 20, 0, 3), L" /update=0001001400000003"},
        {make_file_version(0, 0, 0, 1), L" /update=0000000000000001"},
        {make_file_version(0xFFFF, 0xABCD, 0, 0x10), L" /update=ffffabcd00000010"},
    };
    for (const auto& [version, update] : cases)
        EXPECT_EQ(registration_command_line(application, version),
                  L"\"" + application + L"\" /Register /Background" + update);
}

TEST(installation_texts, the_summary_lists_the_folder_and_the_chosen_shortcuts)
{
    app_context context{testing_support::fresh_name(L"summary")};
    context.uninstall_log = mw::uninstall_log({L"MwTest Summary 9.9", L"MwTestSummary"});
    context.install_folder = L"C:\\Program Files\\Summary";
    const std::wstring head = format_text(text(IDS_FIRST_INSTALLATION), L"MwTest Summary 9.9") + crlf +
                              L"\u2500\u2500\u2500\u00A0" + text(IDS_OPTIONS) + L"\u00A0" +
                              std::wstring(29, L'\u2500') + crlf +
                              format_text(text(IDS_INSTALLATION_FOLDER), L"C:\\Program Files\\Summary") + crlf;
    const std::wstring menu = text(IDS_CREATING_MENU_SHORTCUT) + crlf;
    const std::wstring desktop = text(IDS_CREATING_DESKTOP_SHORTCUT) + crlf;
    struct summary_case {
        bool menu, desktop;
        std::wstring tail;
    };
    const summary_case cases[] = {{false, false, L""}, {true, false, menu}, {false, true, desktop}, {true, true, menu + desktop}};
    for (const auto& c : cases) {
        context.menu_shortcut = c.menu;
        context.desktop_shortcut = c.desktop;
        EXPECT_EQ(installation_summary(context), head + c.tail) << c.menu << c.desktop;
    }
}

} // namespace
