#include "support/hold_point.hpp"

#include "support/unique_handle.hpp"

#include <windows.h>

namespace mw {

void hold_point(const std::wstring& name)
{
    wchar_t point[64] = {};
    const DWORD length = GetEnvironmentVariableW(hold_variable, point, 64);
    if (length == 0 || length >= 64 || name != point)
        return;
    wchar_t event_name[MAX_PATH] = {};
    const DWORD event_length = GetEnvironmentVariableW(hold_event_variable, event_name, MAX_PATH);
    if (event_length == 0)
        TerminateProcess(GetCurrentProcess(), ended_exit_code); // ended here, as from outside
    if (event_length >= MAX_PATH)
        return;
    const unique_handle held{OpenEventW(EVENT_MODIFY_STATE, FALSE, event_name)};
    if (!held)
        return;
    SetEvent(held.get());
    for (;;)
        Sleep(INFINITE); // until ended from outside
}

} // namespace mw
