// Rows of the setup's fault matrix that need more than a damaged payload: the real setup.exe,
// driven from this process, meets the fault; the status line shows the documented code, the
// whole machine is as it was before the attempt, and an attempt without the fault succeeds and
// is removed again. They compare the whole machine: each runs alone.
//
// - A drive that fills up while the payload is unpacked onto it. The drive is a small file
//   system that tests/scripts/small_drive_test.sh mounts and maps to a drive letter, named in
//   MW_SMALL_DRIVE; without it the case is skipped.
// - An installed application that hangs in its registration run: the stand-in application in
//   the payload never ends.

#include "app/strings.hpp"
#include "engine/installation.hpp"
#include "pages/product.hpp"
#include "resources/resource_ids.h"
#include "support/hold_point.hpp"
#include "support/uninstall_log.hpp"
#include "support/unique_handle.hpp"
#include "tests/app/wizard_fixture.hpp"
#include "tests/app/wizard_support.hpp"
#include "tests/scratch.hpp"
#include "tools/payload_pack.hpp"

#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using namespace wizard_testing;
using setup::format_text;
using setup::load_string;

const std::wstring line_end = L"\r\n";

std::wstring environment(const wchar_t* name)
{
    wchar_t value[256]{};
    const DWORD length = GetEnvironmentVariableW(name, value, 256);
    return length > 0 && length < 256 ? std::wstring(value, length) : std::wstring{};
}

// The lines of the install page's log (without their line ends).
std::vector<std::wstring> lines_of(const std::wstring& log)
{
    std::vector<std::wstring> lines;
    for (std::size_t start = 0; start < log.size();) {
        const std::size_t end = std::min(log.find(line_end, start), log.size());
        lines.push_back(log.substr(start, end - start));
        start = end + line_end.size();
    }
    return lines;
}

// Every file and folder below `root`, one path a line.
std::vector<std::wstring> everything_below(const fs::path& root)
{
    std::vector<std::wstring> found;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error))
        found.push_back(it->path().wstring());
    return found;
}

void choose_advanced_folder(const wizard& setup, const std::wstring& folder)
{
    ASSERT_TRUE(setup.choose_advanced_mode());
    ASSERT_TRUE(setup.next_to(options_page));
    ASSERT_TRUE(setup.type_folder(folder));
}

// One row of the matrix: the product not installed before, the whole machine taken before the
// attempt.
class fault_matrix : public wizard_failure {};

// The installation folder on a drive too small for the payload: the first program fits, the
// second fills the drive halfway (tests/scripts/small_drive_test.sh sizes the drive so).
TEST_F(fault_matrix, a_drive_that_fills_up_during_the_extraction_fails_with_the_disk_full_code_and_leaves_nothing)
{
    const std::wstring drive = environment(L"MW_SMALL_DRIVE");
    if (drive.empty())
        GTEST_SKIP() << "no small drive: tests/scripts/small_drive_test.sh mounts one and names it in MW_SMALL_DRIVE";
    const std::wstring root = drive + L"\\";
    ULARGE_INTEGER free_bytes{}, total_bytes{};
    ASSERT_TRUE(GetDiskFreeSpaceExW(root.c_str(), &free_bytes, &total_bytes, nullptr)) << GetLastError();
    std::wcout << L"The small drive " << drive << L" " << total_bytes.QuadPart << L" bytes, " << free_bytes.QuadPart
               << L" free\n";
    ASSERT_EQ(everything_below(root), std::vector<std::wstring>{}) << "the small drive starts empty";
    const std::wstring folder = drive + L"\\Marrowind Works\\Tilewright";

    wizard setup;
    ASSERT_TRUE(setup.next_to(mode_page));
    choose_advanced_folder(setup, folder);
    ASSERT_TRUE(setup.next_to(install_page));
    ASSERT_TRUE(setup.install());

    // The drive full: ERROR_DISK_FULL (112), shown as a system code.
    const std::wstring status = setup.status(install_page);
    std::wcout << L"A drive that fills up: " << status << L"\n";
    EXPECT_EQ(status, format_text(load_string(IDS_INSTALLATION_FAILED), L"1:00000070"));
    EXPECT_EQ(setup.button_text(IDC_NEXT), load_string(IDS_INSTALL)) << "Next still installs";
    EXPECT_TRUE(setup.button_enabled(IDC_NEXT));
    EXPECT_TRUE(setup.button_enabled(IDC_EXIT));

    // Files went onto the drive before one of them failed there: the fault came in the middle.
    const std::vector<std::wstring> lines = lines_of(control_text(setup.page_window(install_page), IDC_INSTALL_LOG));
    const std::wstring copying = format_text(load_string(IDS_COPYING_FILE), folder);
    const std::wstring copying_to_drive = copying.substr(0, copying.find(folder) + folder.size());
    const auto failed = std::find_if(lines.begin(), lines.end(), [&](const std::wstring& line) {
        return line.ends_with(load_string(IDS_FAILED));
    });
    ASSERT_NE(failed, lines.end());
    EXPECT_TRUE(failed->starts_with(copying_to_drive)) << "the file that failed is on the small drive: " << *failed;
    EXPECT_EQ(failed + 1, lines.end()) << "the failure ends the log";
    const auto written_there = std::count_if(lines.begin(), failed, [&](const std::wstring& line) {
        return line.starts_with(copying_to_drive) && line.ends_with(load_string(IDS_STEP_OK));
    });
    EXPECT_GE(written_there, 1) << "a file was written on the small drive before";

    EXPECT_EQ(everything_below(root), std::vector<std::wstring>{}) << "nothing is left on the small drive";
    EXPECT_EQ(take_snapshot(), before);
    EXPECT_EQ(difference(machine_before, machine_now()), L"") << "the whole machine as before the attempt";

    // The same wizard, a folder on drive C: the installation succeeds.
    ASSERT_TRUE(setup.back_to(options_page));
    ASSERT_TRUE(setup.type_folder(where.install_folder));
    ASSERT_TRUE(setup.next_to(install_page));
    ASSERT_TRUE(setup.install());
    EXPECT_EQ(setup.status(install_page), hint(IDS_CONTINUE, IDS_NEXT)) << "the second attempt installs";
    finish(setup);
    EXPECT_TRUE(fs::exists(where.install_folder + L"\\Tilewright.exe"));
    EXPECT_EQ(everything_below(root), std::vector<std::wstring>{});
    EXPECT_TRUE(uninstall(where.install_folder));
    EXPECT_EQ(difference(machine_before, machine_now()), L"") << "after the second attempt and its removal";
}

// The installed application never ends its registration run. The setup waits for it as long as
// default_registration_bound, then ends it: the registry step fails, the run succeeds with its
// log written, nothing of the application keeps running, and its removal is complete.
TEST_F(fault_matrix, a_registration_that_hangs_is_ended_after_its_bound_and_the_removal_stays_complete)
{
    const std::wstring hanging_setup = scratch / L"setup.exe";
    make_setup_with_payload(hanging_setup,
                            payload_with_application(read_bytes(fs::path(program_beside_tests(L"uninstaller_fixture_app.exe")))));
    const std::wstring application = where.install_folder + L"\\Tilewright.exe";
    {
        wizard setup{L"\"" + hanging_setup + L"\"", {{L"MW_FIXTURE_HANG", L"1"}}};
        ASSERT_TRUE(setup.next_to(mode_page));
        ASSERT_TRUE(setup.next_to(install_page));
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(setup.install(setup::default_registration_bound + installation_timeout));
        const auto took = std::chrono::steady_clock::now() - start;
        std::wcout << L"A registration that hangs: the run took "
                   << std::chrono::duration_cast<std::chrono::seconds>(took).count() << L" s with a bound of "
                   << std::chrono::duration_cast<std::chrono::seconds>(setup::default_registration_bound).count()
                   << L" s\n";
        EXPECT_GE(took, setup::default_registration_bound) << "the setup waited for the bound";

        const std::wstring log = control_text(setup.page_window(install_page), IDC_INSTALL_LOG);
        EXPECT_NE(log.find(load_string(IDS_WRITING_REGISTRY) + load_string(IDS_FAILED) + line_end), std::wstring::npos)
            << log;
        EXPECT_TRUE(log.ends_with(load_string(IDS_WRITING_INSTALLATION_DATA) + load_string(IDS_STEP_OK) + line_end));
        EXPECT_EQ(setup.status(install_page), hint(IDS_CONTINUE, IDS_NEXT)) << "the installation succeeded";
        EXPECT_EQ(processes_of_program(application), std::vector<DWORD>{}) << "the hung application was ended";
        finish(setup);
    }
    EXPECT_EQ(processes_of_program(application), std::vector<DWORD>{});

    // The log was written; it holds the registration, not confirmed.
    mw::uninstall_log written;
    ASSERT_TRUE(written.read(where.install_folder + L"\\Uninstall.ulog"));
    const auto registration = std::find_if(written.previous.begin(), written.previous.end(),
                                           [](const mw::log_record& r) { return r.kind == mw::class_registration; });
    ASSERT_NE(registration, written.previous.end());
    EXPECT_FALSE(registration->done);

    EXPECT_TRUE(uninstall(where.install_folder)) << "the uninstall program removes everything, Tilewright.exe too";
    EXPECT_FALSE(fs::exists(application));
    EXPECT_EQ(difference(machine_before, machine_now()), L"") << "the removal is complete: the whole machine as before";

    // The real setup, whose application registers: it installs, and is removed again.
    {
        wizard setup;
        ASSERT_TRUE(setup.next_to(mode_page));
        ASSERT_TRUE(setup.next_to(install_page));
        ASSERT_TRUE(setup.install());
        const std::wstring log = control_text(setup.page_window(install_page), IDC_INSTALL_LOG);
        EXPECT_NE(log.find(load_string(IDS_WRITING_REGISTRY) + load_string(IDS_STEP_OK) + line_end), std::wstring::npos)
            << log;
        EXPECT_EQ(setup.status(install_page), hint(IDS_CONTINUE, IDS_NEXT)) << "the second attempt installs";
        finish(setup);
    }
    EXPECT_TRUE(uninstall(where.install_folder));
    EXPECT_EQ(difference(machine_before, machine_now()), L"") << "after the second attempt and its removal";
}

// The real setup ended from outside at one point of its installation, as a power cut or the
// task manager would end it: held there through its hold seam, then terminated. The next setup
// rolls the ended run back, installs, and its removal leaves the whole machine as it was.
class setup_ended : public fault_matrix, public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(setup_ended, the_next_setup_installs_and_its_removal_leaves_no_trace)
{
    const std::wstring point = GetParam();
    const std::wstring application = where.install_folder + L"\\Tilewright.exe";
    const std::wstring event_name = fresh_name(L"setup-held");
    const mw::unique_handle held{CreateEventW(nullptr, TRUE, FALSE, event_name.c_str())};
    ASSERT_TRUE(held);
    {
        wizard setup{setup_command(), {{mw::hold_variable, point}, {mw::hold_event_variable, event_name}}};
        ASSERT_TRUE(setup.next_to(mode_page));
        ASSERT_TRUE(setup.next_to(install_page));
        setup.press(IDC_NEXT); // Install
        ASSERT_EQ(WaitForSingleObject(held.get(), static_cast<DWORD>(installation_timeout.count())), WAIT_OBJECT_0)
            << "the setup never reached " << fs::path(point);
        setup.process.terminate();
    }
    // An application run the ended setup started finishes on its own.
    EXPECT_TRUE(wait_until([&] { return processes_of_program(application).empty(); }, installation_timeout));
    install_quickly();
    for (const auto& file : {L"Tilewright.exe", L"Uninstall.exe", L"Uninstall.ulog"})
        EXPECT_TRUE(fs::exists(where.install_folder + L"\\" + file)) << fs::path(file);
    EXPECT_TRUE(uninstall(where.install_folder));
    EXPECT_EQ(difference(machine_before, machine_now()), L"") << "after the ended run, the next and its removal";
}

// An update ended in the middle of its extraction: the next setup finds the older release
// as it was, updates it keeping the module the user changed, and the removal takes both away.
TEST_F(fault_matrix, an_update_ended_in_its_extraction_is_rolled_back_and_the_next_keeps_the_users_module)
{
    const std::wstring older_setup = scratch / L"setup-1.20.exe";
    make_setup_with_payload(older_setup, payload_with_application(read_bytes(
                                             fs::path(program_beside_tests(L"tilewright-1.20.0.3\\Tilewright.exe")))));
    install_quickly(L"\"" + older_setup + L"\"");
    const std::wstring module = where.common_data + L"\\Marrowind Works\\Modules\\Tilewright\\Grid.lbm";
    ASSERT_TRUE(fs::exists(module));
    write_bytes(module, "the user's own grid");
    const std::wstring event_name = fresh_name(L"update-held");
    const mw::unique_handle held{CreateEventW(nullptr, TRUE, FALSE, event_name.c_str())};
    {
        wizard setup{setup_command(), {{mw::hold_variable, L"file 27"}, {mw::hold_event_variable, event_name}}};
        ASSERT_TRUE(setup.next_to(mode_page));
        ASSERT_TRUE(setup.next_to(install_page));
        setup.press(IDC_NEXT); // Install
        ASSERT_EQ(WaitForSingleObject(held.get(), static_cast<DWORD>(installation_timeout.count())), WAIT_OBJECT_0);
        setup.process.terminate();
    }
    {
        wizard setup{setup_command()};
        const std::wstring info = control_text(setup.page_window(start_page), IDC_INFO);
        EXPECT_NE(info.find(L"1.20"), std::wstring::npos) << "the older release is found again: " << info;
        EXPECT_TRUE(setup.next_to(mode_page));
        EXPECT_TRUE(setup.next_to(install_page));
        ASSERT_TRUE(setup.install());
        EXPECT_EQ(setup.status(install_page), hint(IDS_CONTINUE, IDS_NEXT)) << "the next setup updates";
        finish(setup);
    }
    EXPECT_EQ(read_bytes(module), "the user's own grid");
    EXPECT_TRUE(uninstall(where.install_folder));
    std::error_code ignored;
    fs::remove(module, ignored); // the user's changed module is the user's: the removal keeps it
    for (fs::path folder = fs::path(module).parent_path(); folder != fs::path(where.common_data);
         folder = folder.parent_path())
        fs::remove(folder, ignored);
    EXPECT_EQ(difference(machine_before, machine_now()), L"") << "after both releases and the removal";
}

// The uninstall program ended in the middle of its removal: run again, it finishes it.
TEST_F(fault_matrix, a_removal_ended_in_the_middle_is_finished_by_the_next)
{
    install_quickly();
    const std::wstring uninstaller = L"\"" + where.install_folder + L"\\Uninstall.exe\"";
    {
        // Without an event, the removal ends itself at the point.
        child_process ended(uninstaller, {{mw::hold_variable, L"removal 20"}});
        const auto question = wait_for_message_box(ended.id());
        ASSERT_TRUE(question);
        answer(*question, IDYES);
        ended.wait_for_exit(installation_timeout);
    }
    EXPECT_TRUE(fs::exists(where.install_folder + L"\\Uninstall.exe")) << "ended before its end";
    std::wstring report;
    {
        child_process next(uninstaller);
        EXPECT_TRUE(answer_removal(&next, &report)) << "the next removal finishes: " << report;
    }
    EXPECT_EQ(difference(machine_before, machine_now()), L"") << "after the ended removal and the next";
}

// Before the first file; at the first and a middle file (recorded, not yet written); after the
// last; between the shortcuts; with the uninstall entry written; while the application registers.
INSTANTIATE_TEST_SUITE_P(points, setup_ended,
                         ::testing::Values(L"started", L"file 1", L"file 27", L"extracted", L"shortcuts", L"registry",
                                           L"registration"),
                         [](const ::testing::TestParamInfo<const wchar_t*>& info) {
                             std::string name;
                             for (const wchar_t* c = info.param; *c; ++c)
                                 name += *c == L' ' ? '_' : static_cast<char>(*c);
                             return name;
                         });

} // namespace
