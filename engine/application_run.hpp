#pragma once
// The runs of the installed application that register it (by the setup) and unregister it (by
// the uninstall program): how long they may take, and the wait for one.

#include <windows.h>

#include <chrono>
#include <functional>

namespace setup {

// How long a registration or unregistration run may take before it is taken as hung.
// Registration takes well under a second natively and a few seconds where 32-bit code is
// emulated; the bound only keeps a hung application from holding the setup or the removal (and
// its own executable, and the count of running Tilewright processes) for ever, so it is generous
// for a slow machine and still short enough to wait for.
inline constexpr std::chrono::milliseconds application_run_bound = std::chrono::seconds(60);

// Waits for the application's `process`, `bound` at most, in steps of a few tens of
// milliseconds with `while_waiting` (a window's message pump) called between them; an
// exception from it stops those calls, not the wait. True when the process ended within the
// bound. Otherwise it is taken as hung: ended (TerminateProcess) and waited for, a few seconds
// at most, so that it no longer holds its executable; false.
bool wait_or_end_application(HANDLE process, std::chrono::milliseconds bound,
                             const std::function<void()>& while_waiting = {}) noexcept;

} // namespace setup
