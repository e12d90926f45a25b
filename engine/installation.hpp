#pragma once
// The installation sequence, without windows: unpacks the payload into the chosen folders,
// records everything it creates in the context's uninstall log, creates the shortcuts, writes
// the uninstall entry, lets the installed application register itself and writes the
// uninstall log file. It reports every step to an observer (the install page), on the calling
// thread.
//
// Error contract: do_installation never throws for a failure of the installation itself; a
// failure while unpacking rolls back what was created, a failure of a later step is narrated
// as "Failed" in the log and the run goes on. An exception the observer raises while the
// payload is unpacked fails the unpacking; one it raises later passes through (after the
// temporary files are deleted).

#include "app/app_context.hpp"
#include "engine/application_run.hpp"

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <system_error>

namespace setup {

// What the installation shows while it runs. Every call is made on the thread that runs
// do_installation; pump is called after every notification of the payload extraction and
// after every step, so that a window can stay alive.
class installation_observer {
public:
    virtual ~installation_observer() = default;
    // Replaces the status line.
    virtual void set_status(const std::wstring& text) = 0;
    // Appends the text to the log as it is: line ends ("\r\n") are part of the text.
    virtual void append_log(const std::wstring& text) = 0;
    // The share of the payload processed, 0 to 100.
    virtual void set_progress(int percent) = 0;
    // Shows the progress (hidden until the installation starts).
    virtual void show_progress() = 0;
    virtual void pump() = 0;
};

// How long the registration run of the installed application may take before the setup
// takes it as hung, ends it and counts the registration as failed.
inline constexpr std::chrono::milliseconds default_registration_bound = application_run_bound;

struct installation_settings {
    // The folder "<SamplePath>" names; nothing for string 1018 formatted with the product name.
    std::optional<std::wstring> sample_folder;
    std::chrono::milliseconds registration_bound = default_registration_bound;
};

// How an error code appears in string 1121: "1:" and eight upper-case hexadecimal digits for a
// system code, "2:" and eight for a C runtime code, the decimal value of a compress code,
// "7" for any other category.
std::wstring failure_code_text(std::error_code code);

// The percentage of `position` in `total`, rounded half up; 99 instead of 100 while `position`
// is below `total`. 100 for a position at or beyond the total (an empty total included).
int progress_percent(std::uint64_t position, std::uint64_t total) noexcept;

// The command line that lets the installed application register itself: the quoted
// executable, " /Register /Background" and, when a version was installed before (not zero),
// " /update=" with that version in 16 lower-case hexadecimal digits.
std::wstring registration_command_line(const std::wstring& main_executable, std::uint64_t installed_version);

// The registration run: starts the command line of registration_command_line in the
// executable's folder (high priority, shown without activation) with the setup mutex released,
// and takes the mutex back afterwards (without waiting). While it waits for the application it
// calls `while_waiting` (the observer's pump) every few tens of milliseconds; an exception from
// it stops those calls, not the wait. True when the application exited with -10 within `bound`;
// false when it could not start, exited with another code, or still ran when the bound had
// passed: it is then ended (TerminateProcess) and waited for, a few seconds at most, so that
// it holds neither its executable nor the setup mutex. Never throws.
bool register_application(const std::wstring& main_executable, std::uint64_t installed_version,
                          setup_mutex& mutex, std::chrono::milliseconds bound,
                          const std::function<void()>& while_waiting = {}) noexcept;

// Creates the installation folder where it is missing and outside Program Files, recording each
// folder made in the uninstall log and giving each the protection of Program Files (see
// protect_folder). Nothing is done for a folder in Program Files or one that exists. Throws
// std::system_error when a folder cannot be made or protected, or is reached through a link.
void make_install_folder(app_context& context);

// The option summary the install page shows before the installation: the product, the heading
// of the options, the installation folder and the chosen shortcuts, each line ending in "\r\n".
std::wstring installation_summary(const app_context& context);

// Runs the installation with the payload archive in `payload` (a seekable stream: it is read
// twice), into the context's folders, with its shortcut choices, installation state, installed
// version, setup mutex and uninstall log. True when the payload was installed (a later step
// may have failed, and the log says so); false when the installation failed and what it had
// created was rolled back. The status line ends with the hint to go on, or with string 1121
// and the failure code. The temporary files are deleted on every path.
bool do_installation(app_context& context, std::istream& payload, installation_observer& observer,
                     const installation_settings& settings = {});

} // namespace setup
