#include "engine/application_run.hpp"

#include <algorithm>
#include <cstdint>

namespace setup {
namespace {

// The wait goes in steps this long, `while_waiting` called between them.
constexpr std::chrono::milliseconds wait_step{50};
// How long a hung application that was ended may take to be gone.
constexpr DWORD hung_application_end_wait = 10000;

} // namespace

bool wait_or_end_application(HANDLE process, std::chrono::milliseconds bound,
                             const std::function<void()>& while_waiting) noexcept
{
    const auto deadline = std::chrono::steady_clock::now() + std::max(bound, std::chrono::milliseconds(0));
    bool pumping = static_cast<bool>(while_waiting);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const DWORD step = static_cast<DWORD>(std::clamp<std::int64_t>(left.count(), 0, wait_step.count()));
        const DWORD wait = WaitForSingleObject(process, step);
        if (wait == WAIT_OBJECT_0)
            return true;
        if (wait != WAIT_TIMEOUT || left.count() <= 0)
            break; // hung, or the wait failed
        if (pumping) {
            try {
                while_waiting();
            } catch (...) {
                pumping = false; // a failing pump only stops the pumping; the wait goes on
            }
        }
    }
    if (WaitForSingleObject(process, 0) != WAIT_OBJECT_0) {
        TerminateProcess(process, ERROR_TIMEOUT);
        WaitForSingleObject(process, hung_application_end_wait);
    }
    return false;
}

} // namespace setup
