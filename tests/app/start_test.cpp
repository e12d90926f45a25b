#include "app/start_check.hpp"

#include "app/message_box.hpp"
#include "app/process_init.hpp"
#include "app/strings.hpp"
#include "engine/registry.hpp"
#include "engine/uninstall_entry.hpp"
#include "pages/product.hpp"
#include "support/paths.hpp"
#include "tests/scratch.hpp"
#include "tests/ui_driver/ui_driver.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <future>

namespace {

namespace fs = std::filesystem;
using namespace setup;
using testing_support::scratch_folder;

std::wstring fixture(const std::wstring& name) { return std::wstring(MW_VERSION_FIXTURES) + L"\\" + name + L".dll"; }

// A product of the tests' own: its uninstall entry and "<key> Path" value are removed first
// and last, and its kernel objects carry a name no other test uses.
class start_up : public ::testing::Test {
protected:
    const std::wstring key = L"MwTestStart" + std::to_wstring(GetCurrentProcessId());
    app_context context{L"mwtest-" + key};
    start_environment environment = test_environment();

    start_environment test_environment()
    {
        start_environment e;
        e.product_key = key;
        e.is_administrator = [] { return true; };
        e.running_instances = [] { return 1L; };
        e.installed_application_path = [] { return std::wstring{}; };
        e.own_folder = L"C:\\no-such-folder";
        return e;
    }
    void SetUp() override
    {
        processor_check();
        remove();
    }
    void TearDown() override { remove(); }
    void remove()
    {
        if (registry_key uninstall = open_key(HKEY_LOCAL_MACHINE, uninstall_key_path))
            RegDeleteTreeW(uninstall.get(), key.c_str());
        if (registry_key maker = open_key(HKEY_LOCAL_MACHINE, L"Software\\Marrowind Works")) {
            RegDeleteValueW(maker.get(), (key + L" Path").c_str());
            DWORD subkeys = 0, values = 0;
            RegQueryInfoKeyW(maker.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                             nullptr, nullptr, nullptr);
            if (subkeys == 0 && values == 0) // the maker's key was made for the test: it goes too
                RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Marrowind Works");
        }
    }
    registry_key entry() { return create_key(HKEY_LOCAL_MACHINE, std::wstring(uninstall_key_path) + L"\\" + key); }
};

TEST_F(start_up, detection_compares_the_installed_file_version)
{
    struct detect_case {
        const wchar_t* installed;
        install_state state;
        std::wstring text;
        std::uint64_t version;
    };
    const detect_case cases[] = {
        {L"installed_1_22_1_2", install_state::newer_version_installed, L"Tilewright 1.22b", 0},
        {L"installed_1_23_0_0", install_state::newer_version_installed, L"Tilewright 1.23", 0},
        {L"version_1_22_1_1", install_state::same_version_installed, L"", 0},
        {L"installed_1_22_1_0", install_state::older_version_installed, L"Tilewright 1.22", make_file_version(1, 22, 1, 0)},
        {L"installed_1_21_9_9", install_state::older_version_installed, L"Tilewright 1.21", make_file_version(1, 21, 9, 9)},
        {L"version_none", install_state::same_version_installed, L"", 0}, // no version resource: a reinstallation
    };
    for (const auto& c : cases) {
        app_context fresh{L"mwtest-" + key};
        const std::wstring path = fixture(c.installed);
        ASSERT_TRUE(fs::exists(path)) << fs::path(path);
        environment.installed_application_path = [&] { return path; };
        ASSERT_TRUE(detect_existing_installation(fresh, environment));
        EXPECT_EQ(fresh.install_state, c.state) << fs::path(c.installed);
        EXPECT_EQ(fresh.installed_version_text, c.text) << fs::path(c.installed);
        EXPECT_EQ(fresh.installed_version, c.version) << fs::path(c.installed);
    }
}

TEST_F(start_up, a_stale_application_path_counts_as_no_installation)
{
    scratch_folder dir;
    testing_support::write_bytes(dir / L"Tilewright.exe", "x");
    write_string(create_key(HKEY_LOCAL_MACHINE, L"Software\\Marrowind Works"), (key + L" Path").c_str(),
                 dir / L"Tilewright.exe");
    EXPECT_TRUE(mw::same_path(read_installed_application_path(key), dir / L"Tilewright.exe"));
    fs::remove(dir / L"Tilewright.exe");
    EXPECT_EQ(read_installed_application_path(key), L"");
    environment.installed_application_path = [&] { return read_installed_application_path(key); };
    ASSERT_TRUE(detect_existing_installation(context, environment));
    EXPECT_EQ(context.install_state, install_state::not_installed);
}

TEST_F(start_up, the_previous_log_is_looked_for_in_three_places_in_order)
{
    scratch_folder dir;
    const std::wstring places[] = {dir / L"FromEntry", dir / L"Own", dir / L"Application"};
    for (int i = 0; i < 3; ++i) {
        fs::create_directories(fs::path(places[i]) / L"Installed");
        mw::uninstall_log log{{L"Tilewright 1.20", key}};
        log.current.push_back({mw::desktop_link, L"C:\\d.lnk", {}, i != 1, -1});
        if (i == 1)
            log.current.clear();
        ASSERT_TRUE(log.write(places[i] + L"\\Uninstall.ulog", places[i] + L"\\Installed", places[i]));
    }
    write_string(entry(), L"UninstallString", places[0] + L"\\Uninstall.exe");
    environment.own_folder = places[1];
    const std::wstring application = places[2] + L"\\Tilewright.exe";
    CopyFileW(fixture(L"installed_1_22_1_0").c_str(), application.c_str(), FALSE);
    environment.installed_application_path = [&] { return application; };

    for (int expected = 0; expected < 3; ++expected) {
        app_context fresh{L"mwtest-" + key};
        ASSERT_TRUE(detect_existing_installation(fresh, environment));
        EXPECT_EQ(fresh.install_state, install_state::older_version_installed);
        EXPECT_TRUE(mw::same_path(fresh.install_folder, places[expected] + L"\\Installed")) << expected;
        EXPECT_TRUE(mw::same_path(fresh.programs_folder, places[expected])) << expected;
        EXPECT_EQ(fresh.desktop_shortcut, expected != 1) << expected;
        EXPECT_EQ(fresh.uninstall_log.previous_title, L"Tilewright 1.20");
        EXPECT_FALSE(fresh.advanced_mode);
        SetFileAttributesW((places[expected] + L"\\Uninstall.ulog").c_str(), FILE_ATTRIBUTE_NORMAL);
        fs::remove(places[expected] + L"\\Uninstall.ulog");
    }
}

// Only the log in the folder of the machine's uninstall entry brings the previous records.
// One planted beside the setup (or beside the application) names a file and a shortcut
// elsewhere: it still suggests the folders, but nothing of it reaches a file operation or the
// new log.
TEST_F(start_up, only_the_entrys_log_brings_records)
{
    scratch_folder dir;
    const std::wstring places[] = {dir / L"FromEntry", dir / L"Own", dir / L"Application"};
    const char* const names[] = {"the entry's folder", "the setup's folder", "the application's folder"};
    const std::wstring victim = dir / L"Victim\\secret.txt";
    // In the folder of the new shortcut: the only place a previous one is moved aside from.
    const std::wstring victim_link = dir / L"NewMenu\\old.lnk";
    fs::create_directories(dir / L"Victim");
    fs::create_directories(dir / L"NewMenu");
    write_string(entry(), L"UninstallString", places[0] + L"\\Uninstall.exe");
    environment.own_folder = places[1];
    fs::create_directories(places[2]);
    const std::wstring application = places[2] + L"\\Tilewright.exe";
    ASSERT_TRUE(CopyFileW(fixture(L"installed_1_22_1_0").c_str(), application.c_str(), FALSE));
    environment.installed_application_path = [&] { return application; };

    for (int i = 0; i < 3; ++i) {
        const bool entrys = i == 0;
        testing_support::write_bytes(victim, "secret");
        testing_support::write_bytes(victim_link, "link");
        fs::create_directories(fs::path(places[i]) / L"Installed");
        fs::create_directories(fs::path(places[i]) / L"Menu");
        const std::wstring log_file = places[i] + L"\\Uninstall.ulog";
        {
            mw::uninstall_log planted{{L"Tilewright 1.20", key}};
            planted.current = {{mw::file, victim, {}, true, 0},
                               {mw::menu_link, victim_link, {}, true, -1},
                               {mw::desktop_link, L"C:\\d.lnk", {}, true, -1}};
            ASSERT_TRUE(planted.write(log_file, places[i] + L"\\Installed", places[i] + L"\\Menu"));
        }

        app_context fresh{L"mwtest-" + key};
        ASSERT_TRUE(detect_existing_installation(fresh, environment)) << names[i];
        EXPECT_TRUE(mw::same_path(fresh.install_folder, places[i] + L"\\Installed")) << names[i];
        EXPECT_TRUE(mw::same_path(fresh.programs_folder, places[i] + L"\\Menu")) << names[i];
        EXPECT_TRUE(fresh.desktop_shortcut) << names[i];
        mw::uninstall_log& log = fresh.uninstall_log;
        EXPECT_EQ(log.previous.size(), entrys ? 3u : 0u) << names[i];
        EXPECT_EQ(log.previous_file_installed(victim), entrys) << names[i];

        // The installation's start-menu shortcut: the previous one a record names is moved
        // aside only when the entry's log names it.
        log.add_link(false, dir / L"NewMenu");
        log.complete(true, dir / L"NewMenu\\Tilewright.lnk");
        EXPECT_EQ(fs::exists(victim_link), !entrys) << names[i];
        EXPECT_EQ(log.current.back().backup.empty(), !entrys) << names[i];
        if (!log.current.back().backup.empty())
            fs::remove(log.current.back().backup);
        log.merge_previous();
        bool carries_victim = false;
        for (const mw::log_record& r : log.current)
            carries_victim = carries_victim || mw::same_path(r.path, victim);
        EXPECT_EQ(carries_victim, entrys) << names[i];
        EXPECT_TRUE(fs::exists(victim)) << names[i];

        SetFileAttributesW(log_file.c_str(), FILE_ATTRIBUTE_NORMAL);
        fs::remove(log_file);
    }
}

TEST_F(start_up, without_a_previous_log_the_default_folders_are_used)
{
    for (const wchar_t* installed : {L"", L"version_1_22_1_1"}) {
        app_context fresh{L"mwtest-" + key};
        fresh.advanced_mode = true;
        const std::wstring path = *installed ? fixture(installed) : L"";
        environment.installed_application_path = [&] { return path; };
        ASSERT_TRUE(detect_existing_installation(fresh, environment));
        std::wstring program_files;
        lookup_known_folder(FOLDERID_ProgramFiles, program_files);
        EXPECT_TRUE(mw::same_path(fresh.install_folder, program_files + L"\\Marrowind Works\\" + key));
        std::wstring programs;
        lookup_known_folder(FOLDERID_CommonPrograms, programs);
        EXPECT_TRUE(mw::same_path(fresh.programs_folder, programs));
        EXPECT_TRUE(fresh.desktop_shortcut);
        EXPECT_FALSE(fresh.advanced_mode);
        EXPECT_TRUE(fresh.uninstall_log.previous.empty());
    }
}

TEST_F(start_up, detection_fails_without_a_program_files_folder)
{
    int reported = 0;
    environment.folders.lookup = [](REFKNOWNFOLDERID, std::wstring& path) {
        path.clear();
        return E_FAIL;
    };
    environment.folders.report_error = [&](HRESULT) { ++reported; };
    EXPECT_FALSE(detect_existing_installation(context, environment));
    EXPECT_EQ(reported, 1);
}

// The start-up reports a failed lookup with the same warning as every other lookup: the
// error's text under the setup's title with the product.
TEST_F(start_up, a_failed_folder_lookup_shows_the_known_folder_warning)
{
    start_environment reporting = environment;
    reporting.folders.report_error = start_environment::system().folders.report_error;
    reporting.folders.lookup = [](REFKNOWNFOLDERID, std::wstring& path) {
        path.clear();
        return E_ACCESSDENIED;
    };
    auto seen = testing_support::answer_own_boxes({IDOK});
    EXPECT_FALSE(detect_existing_installation(context, reporting));
    const auto shown = seen.get();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, setup_title(product_title));
    EXPECT_EQ(shown[0].text, error_text(static_cast<std::uint32_t>(E_ACCESSDENIED)));
}

TEST_F(start_up, the_stored_language_overrides_the_users_when_translated)
{
    const language_index user = pick_user_language(setup_languages);
    struct language_case {
        const char* name;
        std::function<void(registry_key&)> store;
        language_index expected;
    };
    const language_case cases[] = {
        {"none", [](registry_key&) {}, ui_translated(user) ? user : english_language},
        {"Italian (translated, not offered)", [](registry_key& k) { write_dword(k, L"MwLanguage", 11); }, 11},
        {"Japanese (not translated)", [](registry_key& k) { write_dword(k, L"MwLanguage", 18); }, english_language},
        {"German", [](registry_key& k) { write_dword(k, L"MwLanguage", 2); }, 2},
        {"out of range", [](registry_key& k) { write_dword(k, L"MwLanguage", 4000); }, english_language},
        {"text", [](registry_key& k) { write_string(k, L"MwLanguage", L"2"); }, ui_translated(user) ? user : 1},
        {"eight bytes",
         [](registry_key& k) {
             const std::uint64_t two = 2;
             RegSetValueExW(k.get(), L"MwLanguage", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&two), 8);
         },
         ui_translated(user) ? user : english_language},
    };
    for (const auto& c : cases) {
        remove();
        {
            registry_key k = entry();
            c.store(k);
        }
        app_context fresh{L"mwtest-" + key};
        set_language(french_language);
        ASSERT_TRUE(check_start(fresh, environment)) << c.name;
        EXPECT_EQ(current_language().index, c.expected) << c.name;
        EXPECT_TRUE(fresh.setup_mutex.owned());
    }
}

TEST_F(start_up, a_japanese_user_without_installation_gets_english)
{
    if (PRIMARYLANGID(GetUserDefaultUILanguage()) != LANG_JAPANESE)
        GTEST_SKIP() << "run with LC_ALL=ja_JP.UTF-8 (a ctest case of its own does)";
    ASSERT_TRUE(check_start(context, environment));
    EXPECT_EQ(current_language().index, english_language);
}

TEST_F(start_up, refuses_without_administrator_rights)
{
    environment.is_administrator = [] { return false; };
    auto boxes = testing_support::answer_own_boxes({IDOK});
    EXPECT_FALSE(check_start(context, environment));
    const auto shown = boxes.get();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, load_string(1126));
    EXPECT_EQ(shown[0].caption, setup_title(product_title));
    EXPECT_EQ(shown[0].buttons, std::vector<int>{IDOK});
}

TEST_F(start_up, waits_while_the_application_runs)
{
    std::vector<long> counts{2, 2, 1};
    std::size_t asked = 0;
    environment.running_instances = [&] { return counts[std::min(asked++, counts.size() - 1)]; };
    auto boxes = testing_support::answer_own_boxes({IDRETRY, IDRETRY});
    ASSERT_TRUE(check_start(context, environment));
    EXPECT_EQ(asked, 3u); // counted again after each Retry
    const auto shown = boxes.get();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, format_text(load_string(1127), product_name));
    EXPECT_EQ(shown[0].buttons, (std::vector<int>{IDRETRY, IDCANCEL}));

    app_context other{L"mwtest-other-" + key};
    environment.running_instances = [] { return 2L; };
    auto cancel = testing_support::answer_own_boxes({IDCANCEL});
    EXPECT_FALSE(check_start(other, environment));
    EXPECT_EQ(cancel.get().size(), 1u);
}

} // namespace

namespace {

// The framework set-up counts this process in its family's instance semaphore, and says why
// when it cannot.
TEST(framework_init, counts_this_process_or_keeps_the_reason)
{
    setup::framework_init();
    const std::error_code error = setup::instance_semaphore_error();
    EXPECT_FALSE(error) << error.message();
    EXPECT_GE(setup::running_instances(), 1);
}

} // namespace
