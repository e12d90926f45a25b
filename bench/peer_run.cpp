#include "bench/peer_run.hpp"

#include "tests/app/wizard_support.hpp"
#include "tests/ui_driver/ui_driver.hpp"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <system_error>

namespace bench {

namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using namespace wizard_testing;
using clock_type = std::chrono::steady_clock;

// The controls of NSIS's classic pages: the buttons of its frame, the folder box of the
// directory page, the progress bar and status line of the progress page.
constexpr int next_button = 1; // Next, Install, Close
constexpr int folder_edit = 1019;
constexpr int progress_bar = 1004;
constexpr int status_line = 1006;

constexpr wchar_t peer_uninstaller[] = L"uninst.exe";

double seconds_since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

double peak_of(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters))
        return 0;
    return static_cast<double>(counters.PeakWorkingSetSize);
}

// The installer's frame once it shows the page that holds `control_id`; null until then.
HWND frame_showing(DWORD process_id, int control_id)
{
    HWND frame = find_window({.class_name = L"#32770", .process_id = process_id});
    return frame && find_control(frame, control_id) ? frame : nullptr;
}

} // namespace

void remove_peer_installation()
{
    const fs::path folder = places().install_folder;
    const fs::path uninstaller = folder / peer_uninstaller;
    std::error_code error;
    if (fs::exists(uninstaller, error)) {
        // "_?=" keeps the uninstaller in place (no copy of itself to wait for); it then cannot
        // remove its own file.
        const auto status = run_program(L"\"" + uninstaller.wstring() + L"\" /S _?=" + folder.wstring(),
                                        installation_timeout);
        if (status != std::optional<DWORD>(0))
            std::printf("  the peer's uninstaller did not end cleanly; its leftovers are removed\n");
        fs::remove(uninstaller, error);
    }
    remove_leftovers();
}

std::optional<peer_figures> peer_installation(const fs::path& installer)
{
    remove_peer_installation();
    peer_figures figures;
    const auto launched = clock_type::now();
    child_process peer(L"\"" + installer.wstring() + L"\"");
    HWND frame = nullptr;
    if (!wait_until([&] { return (frame = frame_showing(peer.id(), folder_edit)) != nullptr; }, installation_timeout)) {
        std::printf("  the peer showed no directory page\n");
        return std::nullopt;
    }
    figures.first_page = seconds_since(launched);

    const auto pressed = clock_type::now();
    click(frame, next_button);
    // The progress page keeps Close disabled until its section has run; then the status line
    // says so and Close is enabled.
    HWND page_frame = nullptr;
    const bool done = wait_until([&] {
        page_frame = frame_showing(peer.id(), progress_bar);
        return page_frame && is_enabled(control(page_frame, next_button));
    }, installation_timeout);
    figures.install = seconds_since(pressed);
    if (!done) {
        std::printf("  the peer's installation did not end\n");
        return std::nullopt;
    }
    const std::wstring status = window_text(find_control(page_frame, status_line));
    if (status != L"Completed") {
        std::printf("  the peer's run did not succeed: %ls\n", status.c_str());
        return std::nullopt;
    }
    figures.peak_working_set = peak_of(peer.handle());
    click(page_frame, next_button);
    const auto exit_code = peer.wait_for_exit(installation_timeout);
    figures.total = seconds_since(launched);
    figures.peak_working_set = std::max(figures.peak_working_set, peak_of(peer.handle()));
    if (exit_code != std::optional<DWORD>(0)) {
        std::printf("  the peer did not end with 0\n");
        return std::nullopt;
    }
    return figures;
}

} // namespace bench
