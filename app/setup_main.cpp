// Entry point of the setup program.

#include "app/app_context.hpp"
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
    setup::check_start(setup::instance_app_context());
    return 0;
}
