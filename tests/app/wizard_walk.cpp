// Walks the wizard of the real setup.exe where no one can click: every page in French, German
// and Spanish through an advanced installation (removed again afterwards), then a quick
// installation in the user's language that stays installed, and the installed Tilewright
// started from its Start-menu shortcut. A picture of every step goes to the folder given.
//
//     wizard_walk.exe <folder for the pictures>
//
// Exit code 0 when every installation succeeded, 1 otherwise.

#include "app/string_table.hpp"
#include "app/strings.hpp"
#include "pages/product.hpp"
#include "resources/resource_ids.h"
#include "support/unique_handle.hpp"
#include "tests/app/wizard_support.hpp"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using namespace wizard_testing;

class walk {
public:
    explicit walk(fs::path folder) : folder_(std::move(folder)) { fs::create_directories(folder_); }

    // Saves what `window` shows as <prefix>-<number>-<name>.png.
    void picture(HWND window, const std::wstring& prefix, const std::wstring& name)
    {
        // Let the window finish painting; a window that has just opened may need longer.
        image shown;
        for (int attempt = 0; attempt < 6 && shown.width == 0; ++attempt) {
            Sleep(300 + 700 * attempt);
            shown = capture_window(window);
        }
        wchar_t number[8];
        swprintf(number, 8, L"%02d", ++count_);
        const fs::path file = folder_ / (prefix + L"-" + number + L"-" + name + L".png");
        if (shown.width == 0) {
            const RECT r = window_rect(window);
            std::fwprintf(stderr, L"  no picture of %ls (%ls \"%ls\", %ld x %ld): the window cannot be copied from the screen\n",
                          name.c_str(), window_class(window).c_str(), window_text(window).c_str(), r.right - r.left,
                          r.bottom - r.top);
            return;
        }
        save_png(shown, file.wstring());
        std::wprintf(L"  %ls\n", file.filename().c_str());
    }

    // One installation through every page: the language chosen on the start page (or the one
    // the setup starts in), advanced or quick. True when it succeeded.
    bool install(const std::wstring& prefix, int language, bool advanced)
    {
        wizard setup;
        SetForegroundWindow(setup.frame);
        if (language >= 0) {
            HWND combo = control(setup.page_window(start_page), IDC_LANGUAGE_LIST);
            setup::set_language(static_cast<setup::language_index>(language));
            const std::wstring name = setup::native_language_name(static_cast<setup::language_index>(language));
            const auto items = combo_items(combo);
            const auto found = std::find(items.begin(), items.end(), name);
            if (found == items.end())
                throw std::runtime_error("the language box has no entry for a language of the walk");
            select_combo_item(combo, static_cast<int>(found - items.begin()));
            const std::wstring title = setup::setup_title(setup::product_title);
            if (!wait_until([&] { return window_text(setup.frame) == title; }))
                throw std::runtime_error("the wizard did not change its language");
        } else {
            setup::set_language(setup::pick_user_language(setup::setup_languages));
        }
        picture(setup.frame, prefix, L"start");
        if (!setup.next_to(mode_page))
            return false;
        if (advanced)
            setup.choose_advanced_mode();
        picture(setup.frame, prefix, L"mode");
        if (advanced) {
            if (!setup.next_to(options_page))
                return false;
            picture(setup.frame, prefix, L"options");
        }
        if (!setup.next_to(install_page))
            return false;
        picture(setup.frame, prefix, L"install");
        if (!setup.install())
            return false;
        picture(setup.frame, prefix, L"installed");
        const bool succeeded = setup.status(install_page) ==
                               setup::format_text(setup::load_string(IDS_CONTINUE), setup::load_string(IDS_NEXT));
        if (succeeded && setup.next_to(end_page))
            picture(setup.frame, prefix, L"end");
        setup.press(IDC_EXIT);
        if (const auto question = wait_for_message_box(setup.process.id(), std::chrono::milliseconds(3000)))
            answer(*question, IDYES);
        return setup.process.wait_for_exit() == std::optional<DWORD>(0) && succeeded;
    }

    // Starts the installed application from its Start-menu shortcut and takes its picture.
    // The shell may start it through a program of its own: the application is found by the
    // file its process runs.
    bool start_application(const std::wstring& link, const std::wstring& program)
    {
        SHELLEXECUTEINFOW run{};
        run.cbSize = sizeof run;
        run.lpFile = link.c_str();
        run.nShow = SW_SHOWNORMAL;
        if (!ShellExecuteExW(&run)) {
            std::fwprintf(stderr, L"  the shortcut did not start: error %lu\n", GetLastError());
            return false;
        }
        HWND window = nullptr;
        wait_until([&] {
            window = application_window(program);
            return window != nullptr;
        }, installation_timeout);
        if (!window)
            return false;
        child_process application = child_process::attach(window_process(window));
        SetForegroundWindow(window);
        Sleep(1000);
        picture(window, L"tilewright", L"started-from-its-shortcut");
        close_window(window);
        return application.wait_for_exit().has_value();
    }

private:
    fs::path folder_;
    int count_ = 0;
};

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fwprintf(stderr, L"usage: wizard_walk <folder for the pictures>\n");
        return 2;
    }
    try {
        walk pictures{fs::path(argv[1])};
        remove_leftovers();
        // Every page in the other three languages of the language box.
        const std::pair<int, const wchar_t*> languages[] = {{0, L"fr"}, {2, L"de"}, {3, L"es"}};
        for (const auto& [language, prefix] : languages) {
            std::wprintf(L"An advanced installation in %ls:\n", prefix);
            if (!pictures.install(prefix, language, true)) {
                std::fwprintf(stderr, L"The installation in %ls failed.\n", prefix);
                return 1;
            }
            if (!uninstall(places().install_folder)) {
                std::fwprintf(stderr, L"The uninstall program did not remove the installation.\n");
                return 1;
            }
        }
        std::wprintf(L"A quick installation in the user's language:\n");
        if (!pictures.install(L"quick", -1, false)) {
            std::fwprintf(stderr, L"The quick installation failed.\n");
            return 1;
        }
        const default_places where = places();
        const std::wstring link = where.programs_folder + L"\\Tilewright 1.22a.lnk";
        std::wprintf(L"Tilewright started from its Start-menu shortcut:\n");
        if (!pictures.start_application(link, where.install_folder + L"\\Tilewright.exe"))
            std::fwprintf(stderr, L"  Tilewright did not show a window.\n");

        std::size_t files = 0;
        for (const auto& entry : fs::recursive_directory_iterator(where.install_folder))
            files += entry.is_regular_file();
        std::wprintf(L"\nInstalled: %ls (%zu files)\n", where.install_folder.c_str(), files);
        std::wprintf(L"  shortcuts: %ls\n             %ls\n", link.c_str(),
                     (where.desktop + L"\\Tilewright 1.22a.lnk").c_str());
        std::wprintf(L"  textures and modules: %ls\\Marrowind Works\n", where.common_data.c_str());
        std::wprintf(L"  removal: %ls\\Uninstall.exe\n", where.install_folder.c_str());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "The walk stopped: %s\n", e.what());
        return 1;
    }
}
