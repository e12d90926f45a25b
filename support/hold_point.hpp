#pragma once
// Points of the setup's installation and of the uninstall program's removal where a test ends
// the program as a power cut or the task manager would. When the environment variable
// `hold_variable` names the point, the program signals the event that `hold_event_variable`
// names and waits there for ever, for the test to end it; without that variable, it ends
// itself there at once (TerminateProcess, exit code `ended_exit_code`: nothing of it runs on).
// Nothing happens otherwise, and nothing when the event named does not exist.
//
// The setup's points, in order: "started" (journaled, nothing made yet), "file <n>" (the n-th
// file recorded, not yet written), "extracted", "shortcuts" (between the two shortcuts),
// "registry" (the entry written, the registration not started) and "registration" (while the
// application registers). The uninstall program's: "removal <n>" (n records removed).

#include <string>

namespace mw {

inline constexpr wchar_t hold_variable[] = L"MW_HOLD_POINT";
inline constexpr wchar_t hold_event_variable[] = L"MW_HOLD_EVENT";
inline constexpr unsigned ended_exit_code = 0xDEAD;

void hold_point(const std::wstring& name);

} // namespace mw
