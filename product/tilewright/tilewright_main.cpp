// Tilewright: draws tile layouts (.cal) with the installed textures and modules; registers
// and unregisters its file type for the setup and the uninstaller.

#include "product/tilewright/document.hpp"
#include "app/process_identity.hpp"
#include "support/own_executable.hpp"
#include "product/tilewright/main_window.hpp"
#include "product/tilewright/registration.hpp"
#include "product/tilewright/resource_ids.h"
#include "product/tilewright/texts.hpp"
#include "support/sync_objects.hpp"
#include "support/system_library.hpp"
#include "support/unique_handle.hpp"
#include "engine/com.hpp"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <optional>
#include <vector>

namespace {

using namespace tilewright;

std::vector<std::wstring> arguments()
{
    std::vector<std::wstring> out;
    int count = 0;
    if (const mw::unique_hlocal_ptr<LPWSTR> argv{CommandLineToArgvW(GetCommandLineW(), &count)})
        for (int i = 1; i < count; ++i)
            out.emplace_back(argv.get()[i]);
    return out;
}

std::wstring folder_of(const std::wstring& path)
{
    const auto slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring{} : path.substr(0, slash);
}

void tell(const command_line& line, const std::wstring& text, UINT icon)
{
    if (!line.background)
        MessageBoxW(nullptr, text.c_str(), L"Tilewright", MB_OK | icon);
}

int run(int show_command)
{
    const std::wstring program = mw::own_executable_path();
    // Counted among the running processes of the family while it runs, so that a setup
    // started meanwhile asks to close it. Not being counted does not stop the program.
    std::optional<mw::instance_semaphore> counted;
    try {
        counted.emplace(mw::instance_semaphore_name(setup::application_id()));
    } catch (const std::system_error&) {
    }

    const texts strings(stored_language().value_or(language_english),
                        folder_of(program) + L"\\Lang");
    const command_line line = parse_command_line(arguments());
    switch (line.mode) {
    case run_mode::bad_arguments:
        tell(line, strings.format(IDS_BAD_ARGUMENTS, line.bad_argument), MB_ICONERROR);
        return 2;
    case run_mode::register_types:
        try {
            register_program(program, line.replaced_version, strings);
        } catch (const std::system_error& e) {
            tell(line, strings.format(IDS_REGISTRATION_FAILED, describe(e)), MB_ICONERROR);
            return 1;
        }
        tell(line, strings.get(IDS_REGISTERED), MB_ICONINFORMATION);
        return registration_succeeded;
    case run_mode::unregister_types:
        try {
            unregister_program(program);
        } catch (const std::system_error& e) {
            tell(line, strings.format(IDS_REGISTRATION_FAILED, describe(e)), MB_ICONERROR);
            return 1;
        }
        tell(line, strings.get(IDS_UNREGISTERED), MB_ICONINFORMATION);
        return registration_succeeded;
    case run_mode::open:
        break;
    }

    // COM on this thread for the imaging component. Without it the program still runs; the
    // textures then cannot be decoded.
    std::optional<setup::com_initialization> com;
    try {
        com.emplace(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    } catch (const std::system_error&) {
    }
    main_window window(strings, find_content_folders(folder_of(program)));
    window.show(line.document.empty() ? first_sample() : line.document, show_command);
    return window.run();
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int show_command)
{
    const mw::restricted_library_loading libraries;
    try {
        return run(show_command);
    } catch (const std::exception&) {
        return 3;
    }
}
