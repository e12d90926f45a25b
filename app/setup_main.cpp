// Entry point of the setup program.

#include "app/start_check.hpp"
#include "app/message_box.hpp"
#include "app/process_init.hpp"

#include <windows.h>

namespace {

// Runs before the entry function: the processor check, then the process and framework
// set-up. Their clean-up (the instance semaphore's unit) runs at exit.
struct static_initialisation {
    static_initialisation()
    {
        setup::processor_check();
        setup::process_init();
        setup::framework_init();
    }
} const initialised;

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // The one boundary of the program's own work: what escapes is shown and the setup ends.
    try {
        setup::check_start(setup::instance_app_context());
    } catch (...) {
        setup::show_current_exception();
    }
    return 0;
}
