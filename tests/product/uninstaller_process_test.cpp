// The real Uninstall.exe on an installation laid out by the payload engine, driven through its
// message boxes: the whole removal (the program's copy in the temporary folder included), the
// refusals while a setup or the application runs, a declined confirmation, a changed module,
// a missing log, a removal without a copy, and the real application unregistering. These
// cases use the product's real uninstall entry and kernel object names: one at a time.

#include "product/uninstaller/texts.hpp"
#include "product/uninstaller/uninstall_ids.h"
#include "product/uninstaller/uninstaller.hpp"

#include "app/process_identity.hpp"
#include "engine/registry.hpp"
#include "engine/uninstall_entry.hpp"
#include "support/paths.hpp"
#include "support/sync_objects.hpp"
#include "support/unique_handle.hpp"
#include "tests/product/uninstaller_support.hpp"
#include "tests/ui_driver/ui_driver.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <utility>

namespace {

namespace fs = std::filesystem;
using namespace uninstaller_testing;
using namespace testing_support;

constexpr wchar_t product[] = L"Tilewright";
constexpr DWORD exit_minus_nothing = 1; // uninstaller::nothing_done

class uninstall_program : public ::testing::Test {
protected:
    product_layout layout{placement::machine};
    install_options options{.key_name = product,
                            .language = uninstaller::german,
                            .fixture_class = L"MwUninstallTest" + std::to_wstring(GetCurrentProcessId())};
    scratch_folder side; // outside the installation: the application's run log
    const std::wstring runs = side / L"runs.txt";
    HMODULE strings_module = nullptr;
    std::vector<std::wstring> files_before, registry_before, copies_before;
    std::vector<std::wstring> files_installed, registry_installed;

    void SetUp() override { prepare(); }
    void prepare()
    {
        strings_module = LoadLibraryExW(program_beside_tests(L"Uninstall.exe").c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(strings_module, nullptr);
        remove_registry();
        files_before = layout.files();
        registry_before = product_registry(options);
        copies_before = uninstaller_copies();
        install_product(layout, options);
        ASSERT_FALSE(HasFatalFailure());
        files_installed = layout.files();
        registry_installed = product_registry(options);
        ASSERT_NE(files_installed, files_before);
        ASSERT_NE(registry_installed, registry_before);
        ASSERT_TRUE(fs::exists(fs::path(layout.programs) / L"Tilewright 1.22a.lnk"));
        ASSERT_TRUE(fs::exists(fs::path(layout.desktop) / L"Tilewright 1.22a.lnk"));
    }
    void TearDown() override
    {
        remove_registry();
        if (strings_module)
            FreeLibrary(strings_module);
    }
    void remove_registry()
    {
        if (setup::registry_key uninstall = setup::open_key(HKEY_LOCAL_MACHINE, setup::uninstall_key_path))
            RegDeleteTreeW(uninstall.get(), product);
        RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"." + options.fixture_class).c_str());
        RegDeleteTreeW(HKEY_CLASSES_ROOT, (options.fixture_class + L".Document").c_str());
    }

    uninstaller::texts german() const { return uninstaller::texts(uninstaller::german, strings_module); }
    std::wstring caption() const { return german().format(IDS_CAPTION, product); }

    child_process start(std::vector<environment_change> environment = {})
    {
        environment.push_back({L"MW_FIXTURE_LOG", runs});
        environment.push_back({L"MW_FIXTURE_CLASS", options.fixture_class});
        return child_process(L"\"" + layout.uninstaller + L"\"", environment);
    }

    // The next message box of `process`, after `previous` (if any) has closed.
    message_box next_box(DWORD process, const message_box* previous = nullptr)
    {
        if (previous) {
            EXPECT_TRUE(wait_for_window_closed(previous->window));
        }
        const auto box = wait_for_message_box(process);
        if (!box)
            throw std::runtime_error("no message box");
        EXPECT_EQ(box->caption, caption());
        return *box;
    }

    // Confirms the removal in the installed program, which hands over to its copy and ends with
    // the outcome of the removal, `exit_code`; returns the copy's closing report.
    message_box confirm_and_wait_for_report(child_process& program, DWORD exit_code = 0)
    {
        const message_box confirm = next_box(program.id());
        EXPECT_EQ(confirm.text, german().format(IDS_CONFIRM, L"Tilewright 1.22a"));
        EXPECT_EQ(confirm.buttons, (std::vector<int>{IDYES, IDNO}));
        answer(confirm, IDYES);
        EXPECT_EQ(program.wait_for_exit(), std::optional<DWORD>(exit_code));
        HWND report = wait_for_window({.class_name = L"#32770", .title = caption()});
        if (!report)
            throw std::runtime_error("no report");
        return next_box(window_process(report));
    }

    // Answers the report of the copy and waits for the copy to end; its exit code.
    DWORD close_report(const message_box& report)
    {
        child_process copy = child_process::attach(window_process(report.window));
        answer(report, IDOK);
        const std::optional<DWORD> code = copy.wait_for_exit();
        EXPECT_TRUE(code) << "the copy still runs";
        return code.value_or(0xDEAD);
    }

    void expect_nothing_removed()
    {
        EXPECT_EQ(layout.files(), files_installed);
        EXPECT_EQ(product_registry(options), registry_installed);
        EXPECT_FALSE(fs::exists(runs)) << "the application was not run";
    }
};

// The file a process was started from, as the system recorded it at its start.
std::wstring image_of(DWORD process_id)
{
    const mw::unique_handle process{OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id)};
    wchar_t name[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (!process || !QueryFullProcessImageNameW(process.get(), 0, name, &size))
        return {};
    return std::wstring(name, size);
}

TEST_F(uninstall_program, removes_every_file_folder_link_and_key_and_leaves_no_copy_behind)
{
    child_process program = start();
    const message_box report = confirm_and_wait_for_report(program);
    EXPECT_EQ(report.text, german().format(IDS_REMOVED, product));
    EXPECT_NE(window_process(report.window), program.id()) << "the copy reports";
    // Started from a work folder of its own, where nobody else could replace it, and moved out
    // of it once it ran: the work folder is gone, the copy's file is in the temporary folder.
    const std::wstring started = image_of(window_process(report.window));
    EXPECT_TRUE(mw::same_path(fs::path(started).parent_path().parent_path().wstring(),
                              fs::temp_directory_path().wstring()))
        << fs::path(started);
    EXPECT_TRUE(fs::path(started).parent_path().filename().wstring().starts_with(L"mw-")) << fs::path(started);
    EXPECT_EQ(uninstaller_copies().size(), copies_before.size() + 1) << "the copy runs from the temporary folder";
    // The installed program is gone while its copy still runs.
    EXPECT_FALSE(fs::exists(layout.uninstaller));
    EXPECT_EQ(close_report(report), 0u);

    EXPECT_EQ(layout.files(), files_before);
    EXPECT_EQ(product_registry(options), registry_before);
    EXPECT_FALSE(setup::open_key(HKEY_LOCAL_MACHINE, std::wstring(setup::uninstall_key_path) + L"\\" + product));
    EXPECT_TRUE(wait_until([&] { return uninstaller_copies() == copies_before; })) << "the copy deleted itself";
    EXPECT_EQ(read_bytes(runs), "/Unregister /Background\n") << "the application unregistered once";
}

TEST_F(uninstall_program, leaves_what_a_planted_log_names_elsewhere_and_both_programs_say_so)
{
    // Records added to the log in the installation folder, which its users could write: files
    // outside the product in several spellings, and a shortcut record naming a file that is no
    // shortcut beside the product's own shortcut.
    const std::wstring victim = side / L"windows\\win.ini";
    const std::wstring dotted = layout.root / L"Victim\\dotdot.ini";
    const std::wstring prefixed = side / L"prefixed.ini";
    const std::wstring slashed = side / L"slashed.ini";
    const std::wstring fake_link = fs::path(layout.programs) / L"Tilewright notes.lnk";
    struct remove_fake_link {
        std::wstring path;
        ~remove_fake_link() { DeleteFileW(path.c_str()); }
    } fake_link_owner{fake_link};
    for (const std::wstring& path : {victim, dotted, prefixed, slashed, fake_link})
        write_bytes(path, "not the product's");
    std::wstring slashed_record = slashed;
    std::replace(slashed_record.begin(), slashed_record.end(), L'\\', L'/');
    const std::vector<mw::log_record> planted{
        {mw::file, victim, {}, true, 0},
        {mw::file, layout.install + L"\\..\\..\\..\\Victim\\dotdot.ini", {}, true, 0},
        {mw::file, L"\\\\?\\" + prefixed, {}, true, 0},
        {mw::file, slashed_record, {}, true, 0},
        {mw::menu_link, fake_link, {}, true, -1},
    };
    {
        mw::uninstall_log log{{L"Tilewright 1.22a", product}};
        ASSERT_TRUE(log.read(layout.log_file));
        // Written as they stand: a merge would keep one shortcut record of a kind.
        log.current = std::exchange(log.previous, {});
        log.current.insert(log.current.begin() + 1, planted.begin(), planted.end());
        SetFileAttributesW(layout.log_file.c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(log.write(layout.log_file, layout.install, layout.programs));
    }

    child_process program = start();
    const message_box report = confirm_and_wait_for_report(program, uninstaller::incomplete);
    std::wstring listed;
    for (auto record = planted.rbegin(); record != planted.rend(); ++record)
        listed += L"\n" + record->path;
    EXPECT_EQ(report.text, german().format(IDS_NOT_ALL_REMOVED, product) + listed);
    EXPECT_EQ(close_report(report), static_cast<DWORD>(uninstaller::incomplete));

    for (const std::wstring& path : {victim, dotted, prefixed, slashed, fake_link})
        EXPECT_EQ(read_bytes(path), "not the product's") << fs::path(path);
    std::vector<std::wstring> expected = files_before;
    expected.insert(expected.end(), {layout.root / L"Victim\\", dotted + L" (17 bytes)"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(layout.files(), expected) << "the product's own files are gone";
    EXPECT_EQ(product_registry(options), registry_before);
}

// With the real application, whose unregistration removes what it registered: its path under
// the maker's key and the layout file type.
class uninstall_program_with_tilewright : public uninstall_program {
protected:
    void SetUp() override
    {
        options.application = L"Tilewright.exe";
        prepare();
    }
};

TEST_F(uninstall_program_with_tilewright, leaves_none_of_its_registrations)
{
    ASSERT_TRUE(setup::open_key(HKEY_CLASSES_ROOT, L"Tilewright.Layout")) << "the application registered";
    child_process program = start();
    const message_box report = confirm_and_wait_for_report(program);
    EXPECT_EQ(report.text, german().format(IDS_REMOVED, product));
    EXPECT_EQ(close_report(report), 0u);
    EXPECT_EQ(layout.files(), files_before);
    EXPECT_EQ(product_registry(options), registry_before);
}

TEST_F(uninstall_program, refuses_while_a_setup_runs)
{
    setup::setup_mutex running_setup(product);
    ASSERT_TRUE(running_setup.take());
    ASSERT_TRUE(running_setup.handle());

    child_process program = start();
    const message_box refusal = next_box(program.id());
    EXPECT_EQ(refusal.text, german().format(IDS_SETUP_RUNNING, product));
    EXPECT_EQ(refusal.buttons, (std::vector<int>{IDRETRY, IDCANCEL}));
    answer(refusal, IDRETRY);
    const message_box again = next_box(program.id(), &refusal);
    EXPECT_EQ(again.text, refusal.text) << "asked again while the setup still runs";
    answer(again, IDCANCEL);
    EXPECT_EQ(program.wait_for_exit(), std::optional<DWORD>(exit_minus_nothing));
    running_setup.release();
    expect_nothing_removed();
}

TEST_F(uninstall_program, waits_while_the_application_runs_and_a_declined_confirmation_removes_nothing)
{
    std::optional<mw::instance_semaphore> application(std::in_place, mw::instance_semaphore_name(product));

    child_process program = start();
    const message_box refusal = next_box(program.id());
    EXPECT_EQ(refusal.text, german().format(IDS_APPLICATION_RUNNING, product));
    EXPECT_EQ(refusal.buttons, (std::vector<int>{IDRETRY, IDCANCEL}));
    answer(refusal, IDRETRY);
    const message_box again = next_box(program.id(), &refusal);
    EXPECT_EQ(again.text, refusal.text) << "asked again while the application still runs";
    application.reset(); // the application ends
    answer(again, IDRETRY);
    const message_box confirm = next_box(program.id(), &again);
    EXPECT_EQ(confirm.text, german().format(IDS_CONFIRM, L"Tilewright 1.22a"));
    answer(confirm, IDNO);
    EXPECT_EQ(program.wait_for_exit(), std::optional<DWORD>(exit_minus_nothing));
    expect_nothing_removed();
}

TEST_F(uninstall_program, a_cancelled_refusal_removes_nothing)
{
    std::optional<mw::instance_semaphore> application(std::in_place, mw::instance_semaphore_name(product));
    child_process program = start();
    const message_box refusal = next_box(program.id());
    EXPECT_EQ(refusal.text, german().format(IDS_APPLICATION_RUNNING, product));
    answer(refusal, IDCANCEL);
    EXPECT_EQ(program.wait_for_exit(), std::optional<DWORD>(exit_minus_nothing));
    expect_nothing_removed();
}

TEST_F(uninstall_program, keeps_a_module_the_user_changed_and_says_so)
{
    // The module was saved an hour after the installation ended.
    const std::wstring changed = layout.module(second_module);
    {
        const HANDLE file = CreateFileW(changed.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        SetFilePointer(file, 0, nullptr, FILE_END);
        WriteFile(file, "tile 0 0 1 1 a\n", 15, &written, nullptr);
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        ULARGE_INTEGER later{{now.dwLowDateTime, now.dwHighDateTime}};
        later.QuadPart += 3600ull * 10'000'000ull;
        const FILETIME time{later.LowPart, later.HighPart};
        EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &time));
        CloseHandle(file);
    }
    const std::string content = read_bytes(changed);

    child_process program = start();
    const message_box report = confirm_and_wait_for_report(program);
    EXPECT_EQ(report.text, german().format(IDS_REMOVED, product) + L"\n\n" + german().get(IDS_KEPT) + L"\n" + changed);
    EXPECT_EQ(close_report(report), 0u);

    EXPECT_EQ(read_bytes(changed), content);
    std::vector<std::wstring> expected = files_before;
    for (const std::wstring& kept :
         {layout.data + L"\\", layout.data + L"\\Modules\\", layout.data + L"\\Modules\\Tilewright\\",
          changed + L" (" + std::to_wstring(content.size()) + L" bytes)"})
        expected.push_back(kept);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(layout.files(), expected);
    EXPECT_EQ(product_registry(options), registry_before);
}

TEST_F(uninstall_program, without_its_log_it_removes_nothing)
{
    SetFileAttributesW(layout.log_file.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(DeleteFileW(layout.log_file.c_str()));
    files_installed = layout.files();

    child_process program = start();
    const message_box box = next_box(program.id());
    EXPECT_EQ(box.text, german().format(IDS_NO_LOG, layout.log_file));
    answer(box, IDOK);
    EXPECT_EQ(program.wait_for_exit(), std::optional<DWORD>(exit_minus_nothing));
    expect_nothing_removed();
}

TEST_F(uninstall_program, without_a_temporary_folder_it_removes_all_but_itself_and_says_so)
{
    // No copy can be made: the installed program removes what it can and lists itself.
    const std::wstring missing = side / L"no such folder";
    child_process program = start({{L"TMP", missing}, {L"TEMP", missing}});
    const message_box confirm = next_box(program.id());
    answer(confirm, IDYES);
    const message_box report = next_box(program.id(), &confirm);
    EXPECT_EQ(report.text, german().format(IDS_NOT_ALL_REMOVED, product) + L"\n" + layout.uninstaller);
    answer(report, IDOK);
    EXPECT_EQ(program.wait_for_exit(), std::optional<DWORD>(2));

    std::vector<std::wstring> expected = files_before;
    fs::path folder = layout.install;
    for (; folder != layout.root.path(); folder = folder.parent_path())
        expected.push_back(folder.wstring() + L"\\");
    expected.push_back(layout.uninstaller + L" (" + std::to_wstring(fs::file_size(layout.uninstaller)) + L" bytes)");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(layout.files(), expected);
    EXPECT_EQ(product_registry(options), registry_before);
    EXPECT_EQ(uninstaller_copies(), copies_before);
}

} // namespace
