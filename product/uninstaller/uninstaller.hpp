#pragma once
// The uninstall program: the checks before it starts, the user's confirmation, the removal of
// what the uninstall log records, and the closing report.

#include "product/uninstaller/removal.hpp"
#include "product/uninstaller/texts.hpp"

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace uninstaller {

// The uninstall log beside the uninstall program.
inline constexpr wchar_t log_file_name[] = L"Uninstall.ulog";

// Exit codes.
enum exit_code : int {
    removed = 0,      // removed (or handed over to the copy that removes)
    nothing_done = 1, // refused, declined, or no uninstall log
    incomplete = 2,   // removed, except for what the report lists
    failed = 3,       // an unexpected error stopped the program
};

// Whether a process of the application family runs: the number of units in the family's
// instance semaphore, counted as the setup counts (add one, take it back, the count before).
// This program holds no unit. False when the semaphore cannot be used.
bool application_running(const std::wstring& application_id) noexcept;

// The closing report lists this many items at most, then says how many more there are.
inline constexpr std::size_t listed_items = 15;

// The closing text: removed, or removed except for the listed items (the file types first),
// and the user's changed files that were kept.
std::wstring report_text(const texts& strings, const std::wstring& product, const removal_report& report);

// The whole program, given its arguments after the program name: without arguments the
// installed program (checks, confirmation, hand-over to its copy); with the finish arguments
// the copy that removes the installation. Returns the process exit code.
int run(const std::vector<std::wstring>& arguments);

} // namespace uninstaller
