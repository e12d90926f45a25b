#pragma once
// Finishing the removal from a copy of the program, so that the installed program can be
// deleted too: a running program's file cannot be.
//
// The installed program copies itself to the temporary folder, opens the copy to be deleted
// when its last handle closes and starts the copy with that handle inherited, together with a
// handle of its own process and an event. The copy signals the event once it has taken over,
// waits for the installed program to end and removes the installation, its program included.
// When the copy ends, its inherited handle is the last one to close, and the system deletes
// the copy: nothing is left in the temporary folder.

#include <windows.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace uninstaller {

// The switch that starts a copy as the one that finishes the removal:
//     <copy> /finish "<installed program>" <process handle> <event handle>
inline constexpr wchar_t finish_switch[] = L"/finish";

// The name pattern of the copy in the temporary folder.
inline constexpr wchar_t copy_pattern[] = L"mw-uninstall-%%%%%%%%.exe";

// How long the installed program waits for the copy to take over.
inline constexpr std::chrono::milliseconds handover_timeout{30000};

// What a copy is told (the handles are inherited: this process owns them).
struct finish_arguments {
    std::wstring original; // the installed program, beside which the uninstall log lies
    HANDLE parent = nullptr; // the installed program's process: signalled when it has ended
    HANDLE ready = nullptr;  // an event to signal once the copy has taken over
};

// The copy's arguments (after the program name); nothing when they are not a finish command.
std::optional<finish_arguments> parse_finish_arguments(const std::vector<std::wstring>& arguments);

// Starts a copy of `program` (this running program) from the temporary folder to finish the
// removal, and waits until it has taken over. True when it has: this process should end now.
// False when the copy could not be made, started, or did not take over in time (it is then
// ended); nothing of it remains.
bool hand_over(const std::wstring& program);

} // namespace uninstaller
