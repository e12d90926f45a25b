// Entry point of the setup program.

#include "app/dlg_main.hpp"
#include "app/message_box.hpp"
#include "app/process_init.hpp"
#include "app/start_check.hpp"
#include "app/windowing.hpp"
#include "resources/resource_ids.h"
#include "support/image_file.hpp"
#include "support/system_library.hpp"
#include "support/unique_handle.hpp"

#include <windows.h>

namespace {

// Runs before the entry function: the library search restricted to the system folder and the
// system libraries loaded from there (a setup runs from a downloads folder, where anyone may have
// left a library), the program's own file held (whoever can write that folder could otherwise
// put another file in its place, whose payload the setup would then install), the processor check, then the process and framework
// set-up. Their clean-up (the instance semaphore's unit) runs at exit.
struct static_initialisation {
    mw::restricted_library_loading libraries;
    static_initialisation()
    {
        mw::own_image_file();
        setup::processor_check();
        setup::process_init();
        setup::framework_init();
    }
} const initialised;

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    const mw::unique_hicon icon(static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDI_APPLICATION_ICON), IMAGE_ICON, 0, 0, 0)));
    const HICON application_icon = icon.get();
    setup::set_icon_provider([application_icon] { return application_icon; });
    // The one boundary of the program's own work: what escapes is shown and the setup ends.
    try {
        setup::app_context& context = setup::instance_app_context();
        if (setup::check_start(context))
            DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, setup::page_dialog_proc,
                            reinterpret_cast<LPARAM>(&setup::main_window()));
    } catch (...) {
        setup::show_current_exception();
    }
    setup::set_icon_provider(nullptr);
    return 0;
}
