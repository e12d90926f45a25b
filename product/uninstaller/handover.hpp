#pragma once
// Finishing the removal from a copy of the program, so that the installed program can be
// deleted too: a running program's file cannot be.
//
// The installed program copies itself into a work folder of its own in the temporary folder,
// which only administrators may enter (see mw::work_folder), opens the copy to be deleted when
// its last handle closes and starts the copy with that handle inherited, together with a
// handle of its own process, an event and the writing end of a pipe. The copy signals the event
// once it has taken over, and the installed program then moves the running copy's file out to
// the temporary folder and removes the empty work folder. The copy removes the installation
// but for the installed program; it writes
// the outcome (the exit code) to the pipe, which the installed program returns as its own exit
// code, waits for the installed program to end and removes it, its log and its folders.
// When the copy ends, its inherited handle is the last one to close, and the system deletes
// the copy: nothing is left in the temporary folder.

#include <windows.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace uninstaller {

// The switch that starts a copy as the one that finishes the removal:
//     <copy> /finish "<installed program>" <process handle> <event handle> <pipe handle>
inline constexpr wchar_t finish_switch[] = L"/finish";

// The name pattern of the copy in the work folder, and in the temporary folder once it runs.
inline constexpr wchar_t copy_pattern[] = L"mw-uninstall-%%%%%%%%.exe";

// How long the installed program waits for the copy to take over.
inline constexpr std::chrono::milliseconds handover_timeout{30000};

// The outcome hand_over returns when the copy's cannot be told (the uninstaller's "failed").
inline constexpr DWORD outcome_unknown = 3;

// What a copy is told (the handles are inherited: this process owns them).
struct finish_arguments {
    std::wstring original; // the installed program, beside which the uninstall log lies
    HANDLE parent = nullptr; // the installed program's process: signalled when it has ended
    HANDLE ready = nullptr;  // an event to signal once the copy has taken over
    HANDLE outcome = nullptr; // a pipe's writing end: the exit code the installed program returns
};

// The copy's arguments (after the program name); nothing when they are not a finish command.
std::optional<finish_arguments> parse_finish_arguments(const std::vector<std::wstring>& arguments);

// Starts a copy of `program` (this running program) from the temporary folder to finish the
// removal, waits until it has taken over and then until it writes the outcome, and returns it:
// this process should end now with it as its exit code. When the copy ends without writing
// one, its exit code. Nothing when the copy could not be made, started, or did not take over in
// time (it is then ended); nothing of it remains. Owns no kernel object of the caller's.
std::optional<DWORD> hand_over(const std::wstring& program);

// Writes the outcome of the removal to the installed program and closes the pipe. Never throws.
void send_outcome(HANDLE pipe, DWORD code) noexcept;

} // namespace uninstaller
