#pragma once
// What runs before the entry function: the processor check, the process set-up and the
// framework set-up (windowing layer, common controls, the instance semaphore), each at most
// once per process; and their clean-up at exit.

#include <system_error>

namespace setup {

// Shows the three-language "not compatible" box and ends the process (exit code 1) when the
// processor lacks SSE2; otherwise marks the check as passed.
void processor_check();
bool cpu_check_passed() noexcept;

// Error mode and locale. Ends the process with exit code -11 after an "Initialization Error"
// box when the user's locale cannot be applied. Runs once.
void process_init();

// The windowing layer, common controls and this process's unit in the instance semaphore.
// Refuses (exit code 1) on a system older than Windows 6.0. Runs once.
void framework_init();

// How many processes of the application family are running, this one included: adds one unit
// to the instance semaphore, takes it back at once and returns the count before the addition;
// 0 when no unit can be added (or the framework is not set up).
long running_instances() noexcept;
// Why this process holds no unit of the instance semaphore (the semaphore could not be created
// or opened); empty when it holds one or the framework is not set up yet.
std::error_code instance_semaphore_error() noexcept;

} // namespace setup
