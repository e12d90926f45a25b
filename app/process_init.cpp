#include "app/process_init.hpp"

#include "app/process_identity.hpp"
#include "app/message_box.hpp"
#include "app/windowing.hpp"
#include "app/strings.hpp"
#include "engine/known_folders.hpp"
#include "support/sync_objects.hpp"

#include <windows.h>
#include <commctrl.h>

#include <clocale>
#include <locale>
#include <memory>
#include <mutex>
#include <optional>

namespace setup {
namespace {

bool cpu_checked = false;

// The process's unit in the instance semaphore, given back at exit.
std::optional<mw::instance_semaphore>& instances()
{
    static std::optional<mw::instance_semaphore> semaphore;
    return semaphore;
}

// Why the process holds no unit, when it holds none.
std::error_code& instances_error()
{
    static std::error_code error;
    return error;
}

bool windows_6_or_later()
{
    OSVERSIONINFOEXW wanted{};
    wanted.dwOSVersionInfoSize = sizeof wanted;
    wanted.dwMajorVersion = 6;
    wanted.dwMinorVersion = 0;
    DWORDLONG condition = 0;
    condition = VerSetConditionMask(condition, VER_MAJORVERSION, VER_GREATER_EQUAL);
    condition = VerSetConditionMask(condition, VER_MINORVERSION, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&wanted, VER_MAJORVERSION | VER_MINORVERSION, condition) != FALSE;
}

} // namespace

void processor_check()
{
    if (!IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE)) {
        MessageBoxW(nullptr,
                    L"This Version is not compatible with your Configuration.\n\n"
                    L"Cette version n'est pas compatible avec votre configuration.\n\n"
                    L"Diese Version ist nicht mit Ihrer Konfiguration kompatibel.",
                    nullptr, MB_ICONERROR);
        ExitProcess(1);
    }
    cpu_checked = true;
}

bool cpu_check_passed() noexcept { return cpu_checked; }

void process_init()
{
    static std::once_flag once;
    std::call_once(once, [] {
        SetErrorMode(SetErrorMode(0) | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
        // This C++ runtime knows no locale but "C": the standard library's global locale stays
        // "C" (numbers are always written in its conventions) and the C runtime converts with
        // the user's ANSI code page. The language chosen later applies its own (strings).
        wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
        bool ok = LCIDToLocaleName(LOCALE_USER_DEFAULT, name, LOCALE_NAME_MAX_LENGTH, 0) > 0;
        if (ok) {
            try {
                std::locale::global(std::locale::classic());
                wchar_t code_page[8] = {};
                if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE, code_page, 8) > 0) {
                    const std::wstring ctype = std::wstring(L".") + code_page;
                    _wsetlocale(LC_CTYPE, ctype.c_str());
                }
            } catch (...) {
                ok = false;
            }
        }
        if (!ok) {
            MessageBoxW(nullptr, L"Initialization Error", nullptr, MB_SETFOREGROUND | MB_TASKMODAL | MB_ICONERROR);
            ExitProcess(static_cast<UINT>(-11));
        }
    });
}

void framework_init()
{
    static std::once_flag once;
    std::call_once(once, [] {
        windowing();
        set_known_folder_error_reporter(show_known_folder_error);
        if (!windows_6_or_later()) {
            show_system_error(ERROR_OLD_WIN_VERSION);
            ExitProcess(1);
        }
        INITCOMMONCONTROLSEX controls{sizeof controls, 0xC0FF};
        InitCommonControlsEx(&controls);
        try {
            instances().emplace(mw::instance_semaphore_name(application_id()), 1);
        } catch (const std::system_error& e) {
            // Without the semaphore the setup cannot see the application: it counts none, and
            // keeps the reason.
            instances_error() = e.code();
        }
    });
}

std::error_code instance_semaphore_error() noexcept
{
    return instances_error();
}

long running_instances() noexcept
{
    auto& semaphore = instances();
    return semaphore ? semaphore->running_instances() : 0;
}

} // namespace setup
