// The wizard of the real setup.exe, driven from this process: a quick installation from the
// first page to the last, checked file by file against the payload manifest, in the uninstall
// log, the shortcuts and the registry, then removed again by the installed uninstall program.

#include "app/string_table.hpp"
#include "app/strings.hpp"
#include "engine/com.hpp"
#include "engine/registry.hpp"
#include "pages/product.hpp"
#include "pages/version_info.hpp"
#include "resources/resource_ids.h"
#include "support/uninstall_log.hpp"
#include "support/unique_handle.hpp"
#include "tests/app/wizard_fixture.hpp"
#include "tests/app/wizard_support.hpp"
#include "tests/links.hpp"
#include "tests/scratch.hpp"
#include "tools/payload_pack.hpp"
#include "engine/payload_format.hpp"

#include <windows.h>
#include <shellapi.h>

#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <iostream>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using namespace wizard_testing;
using setup::format_text;
using setup::load_string;

// One file of the payload manifest: where the staged copy is and where the setup puts it.
struct manifest_file {
    fs::path source;
    std::wstring destination; // the full path of the installed file
    std::wstring kind;
};

std::wstring widen(const std::string& text)
{
    return fs::path(fs::u8path(text)).wstring();
}

// The manifest's files with their destinations for an installation into `install_folder`:
// the folder variables mean the install folder, the samples folder on the common desktop and
// the common data folder.
std::vector<manifest_file> manifest(const default_places& where, const std::wstring& install_folder)
{
    const std::wstring samples = where.desktop + L"\\" + format_text(load_string(IDS_EXAMPLES), L"Tilewright");
    const std::map<std::wstring, std::wstring> variables{
        {L"<InstallPath>", install_folder}, {L"<SamplePath>", samples}, {L"<CommonData>", where.common_data}};
    std::vector<manifest_file> files;
    std::istringstream lines{read_bytes(fs::path(L"" MW_PAYLOAD_MANIFEST))};
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const auto first = line.find('\t');
        const auto second = line.find('\t', first + 1);
        const std::wstring source = widen(line.substr(0, first));
        std::wstring folder = widen(line.substr(first + 1, second - first - 1));
        for (const auto& [name, value] : variables)
            if (folder.starts_with(name))
                folder = value + folder.substr(name.size());
        files.push_back({fs::path(L"" MW_PAYLOAD_FILES) / source, folder + L"\\" + fs::path(source).filename().wstring(),
                         widen(line.substr(second + 1))});
    }
    return files;
}

// The target of a shortcut as the shell's link object reads it (COM initialised by the caller).
std::wstring shortcut_target(const std::wstring& link)
{
    setup::com_ptr<IShellLinkW> shell_link;
    wchar_t path[MAX_PATH]{};
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, shell_link.put_void())) ||
        FAILED(shell_link.query<IPersistFile>(IID_IPersistFile)->Load(link.c_str(), STGM_READ)) ||
        FAILED(shell_link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH)))
        return {};
    return path;
}

std::vector<std::wstring> value_names(HKEY root, const std::wstring& path)
{
    std::vector<std::wstring> names;
    const setup::registry_key key = setup::open_key(root, path);
    for (DWORD index = 0; key; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumValueW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring string_value(HKEY root, const std::wstring& path, const std::wstring& name)
{
    std::wstring text;
    if (const setup::registry_key key = setup::open_key(root, path))
        setup::read_string(key, name.c_str(), text);
    return text;
}

// Where the setup puts the payload file called `name` in a default installation.
std::wstring manifest_destination(const default_places& where, const std::wstring& name)
{
    for (const manifest_file& file : manifest(where, where.install_folder))
        if (file.source.filename() == name)
            return file.destination;
    throw std::runtime_error("not in the payload");
}

// The cases that compare the whole machine run alone: any other test would show in it.
using machine_wide = wizard_case;

TEST_F(machine_wide, a_quick_installation_installs_every_file_link_and_key_and_is_removed_without_a_trace)
{
    const std::vector<std::wstring> machine_before = whole_machine();
    std::optional<DWORD> exit_code;
    {
        wizard setup;
        EXPECT_EQ(window_text(setup.frame), setup::setup_title(setup::product_title));
        ASSERT_TRUE(setup.next_to(mode_page));
        ASSERT_TRUE(setup.next_to(install_page)) << "a quick installation skips the options";
        EXPECT_EQ(setup.button_text(IDC_NEXT), load_string(IDS_INSTALL));
        EXPECT_EQ(setup.status(install_page), hint(IDS_START_INSTALLATION, IDS_INSTALL));

        const std::wstring line_end = L"\r\n";
        std::wstring expected = format_text(load_string(IDS_FIRST_INSTALLATION), setup::product_title) + line_end +
                                std::wstring(3, L'\u2500') + L'\u00A0' + load_string(IDS_OPTIONS) + L'\u00A0' +
                                std::wstring(29, L'\u2500') + line_end +
                                format_text(load_string(IDS_INSTALLATION_FOLDER), where.install_folder) + line_end +
                                load_string(IDS_CREATING_MENU_SHORTCUT) + line_end +
                                load_string(IDS_CREATING_DESKTOP_SHORTCUT) + line_end;
        HWND log_box = control(setup.page_window(install_page), IDC_INSTALL_LOG);
        EXPECT_EQ(window_text(log_box), expected);

        ASSERT_TRUE(setup.install());
        const std::wstring ok = load_string(IDS_STEP_OK) + line_end;
        expected += std::wstring(45, L'\u2500') + line_end + load_string(IDS_PREPARING) + ok;
        const std::vector<manifest_file> files = manifest(where, where.install_folder);
        for (const manifest_file& file : files)
            expected += format_text(load_string(IDS_COPYING_FILE), file.destination) + ok;
        expected += load_string(IDS_CREATING_SHORTCUTS) + ok + load_string(IDS_WRITING_REGISTRY) + ok +
                    load_string(IDS_WRITING_INSTALLATION_DATA) + ok;
        EXPECT_EQ(window_text(log_box), expected);
        EXPECT_EQ(progress_position(control(setup.page_window(install_page), IDC_INSTALL_PROGRESS)), 100);
        EXPECT_EQ(setup.status(install_page), hint(IDS_CONTINUE, IDS_NEXT));
        EXPECT_EQ(setup.button_text(IDC_NEXT), load_string(IDS_NEXT) + L" >");
        EXPECT_EQ(setup.button_text(IDC_EXIT), load_string(IDS_EXIT));
        EXPECT_FALSE(setup.button_enabled(IDC_BACK));

        // Every payload file where the manifest puts it, with the bytes the build staged.
        for (const manifest_file& file : files) {
            ASSERT_TRUE(fs::exists(file.destination)) << file.destination;
            EXPECT_EQ(file_crc(file.destination), file_crc(file.source)) << file.destination;
        }
        const std::wstring application = where.install_folder + L"\\Tilewright.exe";
        const std::wstring uninstaller = where.install_folder + L"\\Uninstall.exe";
        EXPECT_TRUE(GetFileAttributesW(application.c_str()) & FILE_ATTRIBUTE_READONLY);
        EXPECT_TRUE(GetFileAttributesW(uninstaller.c_str()) & FILE_ATTRIBUTE_READONLY);

        // The uninstall log as the uninstall program will read it.
        mw::uninstall_log log;
        ASSERT_TRUE(log.read(where.install_folder + L"\\Uninstall.ulog"));
        EXPECT_EQ(log.install_path, where.install_folder);
        EXPECT_EQ(log.shortcut_path, where.programs_folder);
        for (const manifest_file& file : files) {
            const auto count = std::count_if(log.previous.begin(), log.previous.end(), [&](const mw::log_record& r) {
                return r.kind == mw::file && r.done && lstrcmpiW(r.path.c_str(), file.destination.c_str()) == 0;
            });
            EXPECT_EQ(count, 1) << file.destination;
        }
        const std::wstring menu_link = where.programs_folder + L"\\Tilewright 1.22a.lnk";
        const std::wstring desktop_link = where.desktop + L"\\Tilewright 1.22a.lnk";
        auto records_of = [&](std::int32_t kind) {
            std::vector<mw::log_record> found;
            std::copy_if(log.previous.begin(), log.previous.end(), std::back_inserter(found),
                         [&](const mw::log_record& r) { return r.kind == kind; });
            return found;
        };
        ASSERT_EQ(records_of(mw::menu_link).size(), 1u);
        EXPECT_TRUE(records_of(mw::menu_link)[0].done);
        EXPECT_EQ(records_of(mw::menu_link)[0].path, menu_link);
        ASSERT_EQ(records_of(mw::desktop_link).size(), 1u);
        EXPECT_TRUE(records_of(mw::desktop_link)[0].done);
        EXPECT_EQ(records_of(mw::desktop_link)[0].path, desktop_link);
        ASSERT_EQ(records_of(mw::uninstall_key).size(), 1u);
        EXPECT_TRUE(records_of(mw::uninstall_key)[0].done);
        ASSERT_EQ(records_of(mw::class_registration).size(), 1u);
        EXPECT_TRUE(records_of(mw::class_registration)[0].done);

        // Both shortcuts open the installed program.
        EXPECT_EQ(lstrcmpiW(shortcut_target(menu_link).c_str(), application.c_str()), 0) << shortcut_target(menu_link);
        EXPECT_EQ(lstrcmpiW(shortcut_target(desktop_link).c_str(), application.c_str()), 0);

        // The uninstall entry's twelve values, and the path the application registered itself.
        const std::wstring entry = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tilewright";
        EXPECT_EQ(value_names(HKEY_LOCAL_MACHINE, entry),
                  (std::vector<std::wstring>{L"DisplayIcon", L"DisplayName", L"DisplayVersion", L"HelpLink",
                                             L"HelpTelephone", L"MwLanguage", L"NoModify", L"NoRepair", L"Publisher",
                                             L"URLInfoAbout", L"URLUpdateInfo", L"UninstallString"}));
        EXPECT_NE(string_value(HKEY_LOCAL_MACHINE, entry, L"UninstallString").find(uninstaller), std::wstring::npos);
        EXPECT_EQ(lstrcmpiW(string_value(HKEY_LOCAL_MACHINE, L"Software\\Marrowind Works", L"Tilewright Path").c_str(),
                            application.c_str()),
                  0);

        // Next leads to the end page, whose Exit leaves without a question.
        ASSERT_TRUE(setup.next_to(end_page));
        EXPECT_EQ(control_text(setup.page_window(end_page), IDC_INFO), load_string(IDS_COMPLETE));
        EXPECT_EQ(setup.status(end_page), hint(IDS_EXIT_INSTALLATION, IDS_EXIT));
        EXPECT_FALSE(setup.button_enabled(IDC_NEXT));
        EXPECT_TRUE(setup.button_enabled(IDC_BACK));
        setup.press(IDC_EXIT);
        exit_code = setup.process.wait_for_exit();
        EXPECT_FALSE(find_message_box(setup.process.id()));
    }
    EXPECT_EQ(exit_code, std::optional<DWORD>(0));
    EXPECT_TRUE(saved_installer_size()) << "the window's size is kept";

    // The Start-menu shortcut starts Tilewright, which opens a sample handed to it and shows it.
    {
        const std::wstring application = where.install_folder + L"\\Tilewright.exe";
        const std::wstring sample = manifest_destination(where, L"Courtyard.cal");
        const std::wstring link = where.programs_folder + L"\\Tilewright 1.22a.lnk";
        const std::wstring parameters = L"\"" + sample + L"\"";
        SHELLEXECUTEINFOW run{};
        run.cbSize = sizeof run;
        run.lpFile = link.c_str();
        run.lpParameters = parameters.c_str();
        run.nShow = SW_SHOWNORMAL;
        ASSERT_TRUE(ShellExecuteExW(&run)) << GetLastError();
        HWND window = nullptr;
        ASSERT_TRUE(wait_until([&] { return (window = application_window(application)) != nullptr; }))
            << "Tilewright shows no window";
        child_process started = child_process::attach(window_process(window));
        // The title names the sample's layout ("Courtyard" in its file) once it is open.
        EXPECT_TRUE(wait_until([&] { return window_text(window).starts_with(L"Courtyard"); })) << window_text(window);
        close_window(window);
        EXPECT_EQ(started.wait_for_exit(), std::optional<DWORD>(0));
    }

    // The uninstall entry's command, run as the system runs it, takes everything away again.
    const std::wstring command = string_value(
        HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tilewright", L"UninstallString");
    {
        child_process uninstaller(command);
        ASSERT_TRUE(answer_removal(&uninstaller)) << command;
    }
    EXPECT_EQ(take_snapshot(), before);
    EXPECT_EQ(difference(machine_before, whole_machine()), L"") << "the whole machine as it was";
}

} // namespace

namespace {

std::wstring version_fixture(const std::wstring& name)
{
    return std::wstring(MW_VERSION_FIXTURES) + L"\\" + name + L".dll";
}

// The confirmation question of Exit, when the setup shows one.
std::optional<message_box> exit_question(const wizard& setup)
{
    return wait_for_message_box(setup.process.id(), std::chrono::milliseconds(3000));
}

struct exit_case {
    const wchar_t* installed; // the version the start-up detects; none when empty
    int page;                 // where Exit is pressed
    bool asks;
};

TEST_F(wizard_case, exit_asks_unless_nothing_can_be_installed_or_a_reinstallation_was_not_begun)
{
    const exit_case cases[] = {
        {L"", start_page, true},
        {L"", install_page, true},
        {L"installed_1_23_0_0", start_page, false},
        {L"version_1_22_1_1", start_page, false},
        {L"version_1_22_1_1", mode_page, true},
        {L"installed_1_21_9_9", start_page, true},
    };
    for (const exit_case& c : cases) {
        SCOPED_TRACE(std::wstring(c.installed) + L" page " + std::to_wstring(c.page));
        remove_leftovers();
        if (*c.installed)
            pretend_installed(version_fixture(c.installed));
        const machine_snapshot installed_state = take_snapshot();
        wizard setup;
        const bool newer = std::wstring(c.installed) == L"installed_1_23_0_0";
        EXPECT_EQ(setup.button_enabled(IDC_NEXT), !newer);
        EXPECT_FALSE(setup.button_enabled(IDC_BACK));
        // What the start page says of the installation it found; a version in a text is the
        // installed file's, in whatever form the page gives it.
        const std::wstring info = control_text(setup.page_window(start_page), IDC_INFO);
        const std::wstring first = format_text(load_string(IDS_FIRST_INSTALLATION), setup::product_title);
        const auto with_version = [&](const std::wstring& text, const wchar_t* version) {
            const std::wstring hole = L"\x01";
            const std::wstring pattern = format_text(text, hole, setup::product_title);
            const std::size_t at = pattern.find(hole);
            const std::wstring before = pattern.substr(0, at), after = pattern.substr(at + hole.size());
            return info.size() > before.size() + after.size() && info.starts_with(before) && info.ends_with(after) &&
                   info.substr(before.size(), info.size() - before.size() - after.size()).find(version) != std::wstring::npos;
        };
        const std::wstring installed(c.installed);
        if (installed.empty())
            EXPECT_EQ(info, first);
        else if (installed == L"version_1_22_1_1")
            EXPECT_EQ(info, format_text(load_string(IDS_ALREADY_INSTALLED), setup::product_title) + L"\n" +
                                load_string(IDS_CONFIRM_REINSTALLATION));
        else if (newer)
            EXPECT_TRUE(with_version(first + L"\n" + load_string(IDS_NEWER_INSTALLED), L"1.23")) << info;
        else
            EXPECT_TRUE(with_version(load_string(IDS_UPDATE), L"1.21")) << info;
        EXPECT_EQ(setup.status(start_page),
                  newer ? hint(IDS_EXIT_INSTALLATION, IDS_CANCEL)
                        : installed == L"version_1_22_1_1" ? format_text(load_string(IDS_CONTINUE_OR_EXIT), load_string(IDS_NEXT), load_string(IDS_CANCEL))
                                                           : hint(IDS_CONTINUE, IDS_NEXT));
        // Forward as a quick installation goes: the mode page leads to the install page.
        for (int page = start_page; page < c.page;) {
            page = page == mode_page ? install_page : page + 1;
            ASSERT_TRUE(setup.next_to(page));
        }

        setup.press(IDC_EXIT);
        if (c.asks) {
            auto question = exit_question(setup);
            ASSERT_TRUE(question);
            EXPECT_EQ(question->caption, setup::setup_title(setup::product_title));
            EXPECT_EQ(question->text, load_string(IDS_CONFIRM_EXIT));
            EXPECT_EQ(question->buttons, (std::vector<int>{IDYES, IDNO}));
            answer(*question, IDNO);
            ASSERT_TRUE(wait_for_window_closed(question->window));
            EXPECT_FALSE(setup.process.wait_for_exit(std::chrono::milliseconds(300))) << "No stays";
            EXPECT_EQ(setup.current_page(), c.page);
            setup.press(IDC_EXIT);
            question = exit_question(setup);
            ASSERT_TRUE(question);
            answer(*question, IDYES);
        } else {
            EXPECT_FALSE(exit_question(setup)) << "no question";
        }
        EXPECT_EQ(setup.process.wait_for_exit(), std::optional<DWORD>(0));
        EXPECT_EQ(take_snapshot(), installed_state) << "leaving changes nothing";
    }
}

TEST_F(wizard_case, quick_and_advanced_installations_take_their_own_way_there_and_back)
{
    wizard setup;
    ASSERT_TRUE(setup.next_to(mode_page));
    EXPECT_TRUE(setup.button_enabled(IDC_BACK));
    ASSERT_TRUE(setup.next_to(install_page)) << "quick: no options";
    ASSERT_TRUE(setup.back_to(mode_page)) << "quick: back to the mode";

    HWND mode = setup.page_window(mode_page);
    ASSERT_TRUE(setup.choose_advanced_mode());
    ASSERT_TRUE(setup.next_to(options_page));
    ASSERT_TRUE(setup.next_to(install_page));
    ASSERT_TRUE(setup.back_to(options_page)) << "advanced: back to the options";
    ASSERT_TRUE(setup.back_to(mode_page));
    EXPECT_TRUE(is_checked(control(mode, IDC_ADVANCED_MODE))) << "the choice is kept";
    ASSERT_TRUE(setup.back_to(start_page));
    EXPECT_FALSE(setup.button_enabled(IDC_BACK));
    setup.process.terminate();
}

TEST_F(wizard_case, commands_that_arrive_while_the_installation_runs_are_ignored)
{
    {
        wizard setup;
        ASSERT_TRUE(setup.next_to(mode_page));
        ASSERT_TRUE(setup.next_to(install_page));
        HWND log_box = control(setup.page_window(install_page), IDC_INSTALL_LOG);
        const std::wstring summary = window_text(log_box);
        setup.press(IDC_NEXT);
        ASSERT_TRUE(wait_until([&] { return window_text(log_box) != summary; }, installation_timeout));
        // A click on the disabled buttons and the commands a keyboard or a script would send.
        EXPECT_FALSE(setup.button_enabled(IDC_NEXT));
        setup.press(IDC_NEXT);
        setup.press(IDC_BACK);
        for (int id : {IDC_NEXT, IDC_BACK, IDC_EXIT, IDCANCEL})
            PostMessageW(setup.frame, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
        ASSERT_TRUE(wait_until([&] { return setup.button_enabled(IDC_EXIT); }, installation_timeout));
        // Let anything still queued arrive.
        Sleep(500);
        EXPECT_FALSE(find_message_box(setup.process.id())) << "no exit question";
        EXPECT_TRUE(setup.process.running());
        EXPECT_EQ(setup.current_page(), install_page);
        const std::wstring log = window_text(log_box);
        const std::wstring separator = std::wstring(45, L'\u2500');
        EXPECT_EQ(std::count(log.begin(), log.end(), L'\u2500'), 3 + 29 + 45) << "one run";
        EXPECT_EQ(setup.status(install_page), hint(IDS_CONTINUE, IDS_NEXT));

        // After the run Next leads to the end page; from there back and forward again without
        // a second installation.
        ASSERT_TRUE(setup.next_to(end_page));
        ASSERT_TRUE(setup.back_to(install_page));
        EXPECT_FALSE(setup.button_enabled(IDC_BACK));
        ASSERT_TRUE(setup.next_to(end_page));
        EXPECT_EQ(window_text(log_box), log);
        EXPECT_EQ(control_text(setup.page_window(end_page), IDC_INFO), load_string(IDS_COMPLETE));
        setup.press(IDC_EXIT);
        EXPECT_EQ(setup.process.wait_for_exit(), std::optional<DWORD>(0));
    }
    EXPECT_TRUE(uninstall(where.install_folder));
}

TEST_F(wizard_case, the_window_keeps_the_largest_page_whole_and_its_size_between_runs)
{
    auto outer_size = [](HWND window) {
        const RECT r = window_rect(window);
        return SIZE{r.right - r.left, r.bottom - r.top};
    };
    auto run = [&](auto&& check) {
        wizard setup;
        check(setup);
        setup.press(IDC_EXIT);
        if (const auto question = exit_question(setup))
            answer(*question, IDYES);
        EXPECT_EQ(setup.process.wait_for_exit(), std::optional<DWORD>(0));
    };

    SIZE minimum{};
    run([&](const wizard& setup) {
        minimum = outer_size(setup.frame);
        // Every control of every page lies inside its page.
        for (int index = start_page; index <= end_page; ++index) {
            HWND page = setup.page_window(index);
            const RECT area = window_rect(page);
            for (HWND child : child_windows(page)) {
                const RECT r = window_rect(child);
                EXPECT_TRUE(r.left >= area.left && r.top >= area.top && r.right <= area.right && r.bottom <= area.bottom)
                    << "page " << index << " control " << GetDlgCtrlID(child);
            }
        }
        resize_window(setup.frame, minimum.cx / 2, minimum.cy / 2);
        const SIZE after = outer_size(setup.frame);
        EXPECT_EQ(after.cx, minimum.cx) << "no smaller than the largest page";
        EXPECT_EQ(after.cy, minimum.cy);
        resize_window(setup.frame, minimum.cx + 60, minimum.cy + 40);
    });
    const auto saved = saved_installer_size();
    ASSERT_TRUE(saved) << "saved at exit";
    EXPECT_EQ(saved->cx, minimum.cx + 60);
    EXPECT_EQ(saved->cy, minimum.cy + 40);
    run([&](const wizard& setup) {
        const SIZE size = outer_size(setup.frame);
        EXPECT_EQ(size.cx, minimum.cx + 60) << "the saved size comes back";
        EXPECT_EQ(size.cy, minimum.cy + 40);
    });

    auto bytes_of = [](std::int32_t width, std::int32_t height) {
        std::vector<BYTE> bytes(8);
        std::memcpy(bytes.data(), &width, 4);
        std::memcpy(bytes.data() + 4, &height, 4);
        return bytes;
    };
    struct saved_case {
        const char* what;
        DWORD type;
        std::vector<BYTE> bytes;
    };
    std::vector<BYTE> seven = bytes_of(minimum.cx + 100, minimum.cy + 100);
    seven.pop_back();
    const saved_case ignored[] = {
        {"smaller than the largest page", REG_BINARY, bytes_of(minimum.cx - 50, minimum.cy - 50)},
        {"of another type", REG_QWORD, bytes_of(minimum.cx + 100, minimum.cy + 100)},
        {"of seven bytes", REG_BINARY, seven},
    };
    for (const saved_case& c : ignored) {
        SCOPED_TRACE(c.what);
        write_installer_size(c.type, c.bytes);
        run([&](const wizard& setup) {
            const SIZE size = outer_size(setup.frame);
            EXPECT_EQ(size.cx, minimum.cx);
            EXPECT_EQ(size.cy, minimum.cy);
        });
    }
}

TEST_F(wizard_case, the_about_box_shows_the_setups_version_and_copyright)
{
    wizard setup;
    PostMessageW(setup.frame, WM_SYSCOMMAND, IDM_ABOUT, 0);
    const std::wstring title = format_text(load_string(IDS_ABOUT_TITLE), setup::setup_title());
    HWND about = wait_for_window({.class_name = L"#32770", .title = title, .process_id = setup.process.id()});
    ASSERT_TRUE(about);
    const setup::version_info own = setup::version_info::load_file(program_beside_tests(L"setup.exe"));
    ASSERT_FALSE(own.legal_copyright().empty());
    EXPECT_EQ(control_text(about, IDC_ABOUT_VERSION),
              own.display_version(setup::language_langid(setup::current_language().index)));
    EXPECT_EQ(control_text(about, IDC_ABOUT_COPYRIGHT), own.legal_copyright());
    EXPECT_EQ(control_text(about, IDOK), load_string(IDS_OK));
    click(about, IDOK);
    EXPECT_TRUE(wait_for_window_closed(about));
    EXPECT_EQ(setup.current_page(), start_page);
    setup.process.terminate();
}

} // namespace

namespace {

// The payload the build made as an archive with one item's CRC wrong.
std::string with_wrong_crc_of_last(const std::vector<setup::pack_item>& items)
{
    std::vector<setup::payload_entry> entries;
    std::string data;
    for (const auto& item : items) {
        entries.push_back({item.source, item.destination, item.kind, item.bytes.size(), setup::crc32_of(item.bytes)});
        data += item.bytes;
    }
    entries.back().crc ^= 0x5A5A5A5A;
    return setup::bzip2_compress(setup::write_table(entries) + data);
}

// Every file under the places an installation writes to, with its CRC.
std::map<std::wstring, std::uint32_t> file_contents(const default_places& where)
{
    std::map<std::wstring, std::uint32_t> contents;
    for (const fs::path& root : {fs::path(where.install_folder), fs::path(where.common_data) / L"Marrowind Works"}) {
        std::error_code error;
        for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
             it.increment(error))
            if (it->is_regular_file())
                contents[it->path().wstring()] = file_crc(it->path());
    }
    return contents;
}

// After a failed run: the failure on the status line and the buttons for another attempt.
void expect_failure_shown(const wizard& setup, const std::wstring& code)
{
    EXPECT_EQ(setup.status(install_page), format_text(load_string(IDS_INSTALLATION_FAILED), code));
    EXPECT_EQ(setup.button_text(IDC_NEXT), load_string(IDS_INSTALL)) << "Next still installs";
    EXPECT_TRUE(setup.button_enabled(IDC_NEXT));
    EXPECT_TRUE(setup.button_enabled(IDC_EXIT));
    EXPECT_EQ(setup.current_page(), install_page);
}

void leave(wizard& setup)
{
    setup.press(IDC_EXIT);
    if (const auto question = wait_for_message_box(setup.process.id(), std::chrono::milliseconds(3000)))
        answer(*question, IDYES);
    EXPECT_EQ(setup.process.wait_for_exit(), std::optional<DWORD>(0));
}

TEST_F(wizard_failure, a_damaged_or_truncated_payload_fails_with_code_4_before_anything_is_written)
{
    const std::string intact = setup::bzip2_compress(setup::build_archive(payload_items()));
    struct damage {
        const char* what;
        std::size_t offset; // the byte flipped, or the length kept
        bool truncate;
    };
    const damage cases[] = {
        {"a byte of the first block's header", 10, false},
        {"a byte in the middle", intact.size() / 2, false},
        {"a byte of the stream's end", intact.size() - 3, false},
        {"half of the stream", intact.size() / 2, true},
        {"all but the last byte", intact.size() - 1, true},
    };
    for (const damage& d : cases) {
        SCOPED_TRACE(d.what);
        std::string payload = intact;
        if (d.truncate)
            payload.resize(d.offset);
        else
            payload[d.offset] ^= 0x55;
        make_setup_with_payload(damaged_setup, payload);

        wizard setup{L"\"" + damaged_setup + L"\""};
        ASSERT_TRUE(setup.next_to(mode_page));
        ASSERT_TRUE(setup.next_to(install_page));
        ASSERT_TRUE(setup.install());
        expect_failure_shown(setup, L"4");
        EXPECT_FALSE(fs::exists(where.install_folder)) << "no folder created";
        leave(setup);
        EXPECT_EQ(take_snapshot(), before);
        EXPECT_EQ(difference(machine_before, machine_now()), L"") << "the whole machine as it was";
    }
    expect_another_attempt_succeeds();
}

TEST_F(wizard_failure, a_wrong_crc_over_an_installation_puts_every_replaced_file_back_and_removes_every_new_one)
{
    // The installation there before: the product as the real setup installs it, with one of
    // its files changed since and a file of the user's in its folder.
    {
        wizard setup;
        ASSERT_TRUE(setup.next_to(mode_page));
        ASSERT_TRUE(setup.next_to(install_page));
        ASSERT_TRUE(setup.install());
        ASSERT_TRUE(setup.next_to(end_page));
        setup.press(IDC_EXIT);
        ASSERT_EQ(setup.process.wait_for_exit(), std::optional<DWORD>(0));
    }
    const std::wstring changed = where.install_folder + L"\\Lang\\Tilewright_de.dll";
    ASSERT_TRUE(SetFileAttributesW(changed.c_str(), FILE_ATTRIBUTE_NORMAL));
    write_bytes(changed, "a file the user changed");
    // The last file of the payload is new to this installation.
    const std::vector<setup::pack_item> items = payload_items();
    const std::wstring last = where.install_folder + L"\\Lang\\Tilewright_fr.dll";
    ASSERT_EQ(fs::path(items.back().source).filename(), fs::path(last).filename());
    ASSERT_TRUE(SetFileAttributesW(last.c_str(), FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(DeleteFileW(last.c_str()));
    const auto contents = file_contents(where);
    const machine_snapshot installed = take_snapshot();
    const std::vector<std::wstring> machine_installed = machine_now();

    make_setup_with_payload(damaged_setup, with_wrong_crc_of_last(items));
    {
        wizard setup{L"\"" + damaged_setup + L"\""};
        ASSERT_TRUE(setup.next_to(mode_page));
        ASSERT_TRUE(setup.next_to(install_page));
        ASSERT_TRUE(setup.install());
        expect_failure_shown(setup, L"3");
        EXPECT_EQ(file_contents(where), contents) << "every file as it was, byte for byte";
        EXPECT_FALSE(fs::exists(last)) << "the new file is gone";
        leave(setup);
    }
    EXPECT_EQ(take_snapshot(), installed);
    EXPECT_EQ(difference(machine_installed, machine_now()), L"") << "the whole machine as before the attempt";
    // The installation there before is removed; then the setup without the fault installs.
    EXPECT_TRUE(uninstall(where.install_folder));
    expect_another_attempt_succeeds();
}

// The shared data folders are users' to write. A user who puts a link in the place of one of
// them (the maker's folder before a first installation, the textures' folder of an
// installation) must not have the elevated programs write, move or delete what the link leads
// to: the setup fails with ERROR_REPARSE_POINT_ENCOUNTERED and rolls back, and the removal
// leaves the linked records and says that it is incomplete.
TEST_F(wizard_failure, links_in_the_shared_data_folders_lead_the_setup_and_the_removal_nowhere)
{
    if (!testing_support::can_make_links())
        GTEST_SKIP() << testing_support::no_links_here;
    const std::wstring maker = where.common_data + L"\\Marrowind Works";
    const std::wstring textures = maker + L"\\Textures\\Tilewright";
    std::vector<std::wstring> texture_names;
    for (const manifest_file& file : manifest(where, where.install_folder))
        if (fs::path(file.destination).parent_path() == fs::path(textures))
            texture_names.push_back(fs::path(file.destination).filename().wstring());
    ASSERT_FALSE(texture_names.empty());
    // A folder of the victim's files with the textures' names, in the place the link leads to.
    const auto plant_victims = [&](const std::wstring& folder) {
        fs::create_directories(folder);
        for (const std::wstring& name : texture_names)
            write_bytes(folder + L"\\" + name, "victim " + fs::path(name).string());
    };
    const auto untouched = [&](const std::wstring& folder) {
        int same = 0;
        for (const std::wstring& name : texture_names)
            same += read_bytes(folder + L"\\" + name) == "victim " + fs::path(name).string();
        return same == static_cast<int>(texture_names.size());
    };
    const auto run_setup = [&](const wchar_t* what) {
        wizard setup;
        ASSERT_TRUE(setup.next_to(mode_page)) << what;
        ASSERT_TRUE(setup.next_to(install_page)) << what;
        ASSERT_TRUE(setup.install()) << what;
        expect_failure_shown(setup, L"1:0000112B");
        leave(setup);
    };

    // The maker's folder, a link before the first installation.
    const std::wstring first_victim = scratch / L"victim-first";
    plant_victims(first_victim + L"\\Textures\\Tilewright");
    testing_support::make_link(first_victim, maker);
    run_setup(L"a first installation");
    EXPECT_TRUE(untouched(first_victim + L"\\Textures\\Tilewright"));
    EXPECT_FALSE(fs::exists(where.install_folder)) << "rolled back";
    testing_support::remove_link(maker);
    EXPECT_EQ(difference(machine_before, machine_now()), L"") << "the whole machine as it was";

    // The textures' folder of an installation renamed away and replaced by a link.
    {
        wizard setup;
        ASSERT_TRUE(setup.next_to(mode_page));
        ASSERT_TRUE(setup.next_to(install_page));
        ASSERT_TRUE(setup.install());
        finish(setup);
    }
    const std::wstring victim = scratch / L"victim";
    plant_victims(victim);
    const std::wstring moved_away = scratch / L"textures moved away";
    ASSERT_TRUE(MoveFileW(textures.c_str(), moved_away.c_str()));
    testing_support::make_link(victim, textures);
    run_setup(L"a second installation");
    EXPECT_TRUE(untouched(victim)) << "the setup wrote or moved what the link leads to";
    std::wstring report;
    {
        child_process uninstaller(L"\"" + where.install_folder + L"\\Uninstall.exe\"");
        EXPECT_FALSE(answer_removal(&uninstaller, &report)) << "the removal says it is incomplete";
    }
    EXPECT_NE(report.find(textures), std::wstring::npos) << "the report names what it left: " << report;
    EXPECT_TRUE(untouched(victim)) << "the removal deleted what the link leads to";
    testing_support::remove_link(textures);
}

TEST_F(wizard_failure, a_locked_destination_fails_with_its_system_code_and_a_second_attempt_succeeds)
{
    // A file of the payload's destinations held open by another program, without sharing.
    const fs::path held = fs::path(where.common_data) / L"Marrowind Works\\Textures\\Tilewright\\Ash.jpg";
    fs::create_directories(held.parent_path());
    write_bytes(held, "held open");
    HANDLE file = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const std::vector<std::wstring> machine_attempt = machine_now();

    wizard setup;
    ASSERT_TRUE(setup.next_to(mode_page));
    ASSERT_TRUE(setup.next_to(install_page));
    ASSERT_TRUE(setup.install());
    // The file in use: ERROR_SHARING_VIOLATION, shown as a system code.
    expect_failure_shown(setup, L"1:00000020");
    EXPECT_FALSE(fs::exists(where.install_folder + L"\\Tilewright.exe"));
    CloseHandle(file);
    EXPECT_EQ(read_bytes(held), "held open") << "the file in use is left as it was";
    EXPECT_EQ(difference(machine_attempt, machine_now()), L"") << "the whole machine as before the attempt";
    ASSERT_TRUE(setup.install());
    EXPECT_EQ(setup.status(install_page), hint(IDS_CONTINUE, IDS_NEXT));
    EXPECT_TRUE(fs::exists(where.install_folder + L"\\Tilewright.exe"));
    ASSERT_TRUE(setup.next_to(end_page));
    setup.press(IDC_EXIT);
    EXPECT_EQ(setup.process.wait_for_exit(), std::optional<DWORD>(0));
}

// The compressed payload bytes of the program file `program` and where they lie in the file.
std::pair<std::string, std::size_t> payload_in_file(const std::wstring& program)
{
    const mw::unique_hmodule module{LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)};
    HRSRC info = module ? FindResourceW(module.get(), MAKEINTRESOURCEW(IDR_PAYLOAD), MAKEINTRESOURCEW(IDR_PAYLOAD_TYPE))
                        : nullptr;
    if (!info)
        throw std::runtime_error("no payload resource");
    std::string payload(static_cast<const char*>(LockResource(LoadResource(module.get(), info))),
                        SizeofResource(module.get(), info));
    const std::size_t offset = read_bytes(program).find(payload);
    if (offset == std::string::npos)
        throw std::runtime_error("the payload is not in the file");
    return {std::move(payload), offset};
}

// `archive` compressed into exactly `size` bytes, as one who crafts a replacement for a setup
// would make it, so that it takes the place of the genuine payload byte for byte: bzip2
// streams one after the other, the last ones empty. The archive's last bytes are split between
// two streams at the point that makes the rest a whole number of empty streams.
std::string compressed_to_size(const std::string& archive, std::size_t size)
{
    const std::string empty = setup::bzip2_compress("");
    const std::size_t tail = std::min<std::size_t>(4096, archive.size() / 2);
    const std::string head = setup::bzip2_compress(std::string_view(archive).substr(0, archive.size() - tail));
    for (std::size_t split = 1; split < tail; ++split) {
        std::string bytes = head + setup::bzip2_compress(std::string_view(archive).substr(archive.size() - tail, split)) +
                            setup::bzip2_compress(std::string_view(archive).substr(archive.size() - tail + split));
        if (bytes.size() <= size && (size - bytes.size()) % empty.size() == 0) {
            while (bytes.size() < size)
                bytes += empty;
            return bytes;
        }
    }
    throw std::runtime_error("the archive does not fit");
}

TEST_F(wizard_case, the_running_setups_file_cannot_be_replaced_and_its_own_payload_is_installed)
{
    // A setup in a folder that someone else can write, as a downloads folder is.
    scratch_folder scratch;
    const std::wstring program = scratch / L"setup.exe";
    ASSERT_TRUE(CopyFileW(program_beside_tests(L"setup.exe").c_str(), program.c_str(), FALSE));
    const std::string genuine = read_bytes(program);
    // The replacement: the same program, with a payload whose Tilewright.exe is another file,
    // in the genuine payload's place and size.
    const auto [payload, offset] = payload_in_file(program);
    std::vector<setup::pack_item> items = payload_items();
    std::string application;
    for (setup::pack_item& item : items)
        if (fs::path(item.source).filename() == L"Tilewright.exe") {
            application = item.bytes;
            item.bytes = "MZ: not the genuine Tilewright";
        }
    ASSERT_FALSE(application.empty());
    std::string crafted = genuine;
    crafted.replace(offset, payload.size(), compressed_to_size(setup::build_archive(items), payload.size()));
    ASSERT_EQ(crafted.size(), genuine.size());
    const std::wstring replacement = scratch / L"replacement.exe";
    write_bytes(replacement, crafted);

    wizard setup{L"\"" + program + L"\""};
    ASSERT_TRUE(setup.wait_for_page(start_page));
    // Every way to put other bytes at the setup's path is refused while it runs. Where one
    // succeeds, the replacement is put in the program's place, as one who tries would.
    const std::wstring aside = scratch / L"setup.old";
    struct attempt {
        const char* what;
        std::function<bool()> act;
    };
    const attempt attempts[] = {
        {"rename the program", [&] { return MoveFileExW(program.c_str(), aside.c_str(), 0) != FALSE; }},
        {"delete the program", [&] { return DeleteFileW(program.c_str()) != FALSE; }},
        {"move the replacement over it",
         [&] { return MoveFileExW(replacement.c_str(), program.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE; }},
        {"replace it, keeping a backup",
         [&] { return ReplaceFileW(program.c_str(), replacement.c_str(), aside.c_str(), 0, nullptr, nullptr) != FALSE; }},
        {"write into it", [&] {
             const mw::unique_hfile file(CreateFileW(program.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                     nullptr, OPEN_EXISTING, 0, nullptr));
             DWORD written = 0;
             return file && WriteFile(file.get(), crafted.data(), static_cast<DWORD>(crafted.size()), &written, nullptr);
         }},
    };
    for (const attempt& a : attempts) {
        SCOPED_TRACE(a.what);
        const bool done = a.act();
        EXPECT_FALSE(done) << "the program's file was changed while it ran";
        if (done && !fs::exists(program))
            write_bytes(program, crafted);
    }
    EXPECT_TRUE(read_bytes(program) == genuine) << "the program's path holds the genuine bytes";
    // The installation installs the genuine payload.
    ASSERT_TRUE(setup.next_to(mode_page));
    ASSERT_TRUE(setup.next_to(install_page));
    ASSERT_TRUE(setup.install());
    EXPECT_EQ(setup.status(install_page), hint(IDS_CONTINUE, IDS_NEXT));
    EXPECT_TRUE(read_bytes(where.install_folder + L"\\Tilewright.exe") == application)
        << "the genuine application is installed";
    ASSERT_TRUE(setup.next_to(end_page));
    setup.press(IDC_EXIT);
    EXPECT_EQ(setup.process.wait_for_exit(), std::optional<DWORD>(0));
    EXPECT_TRUE(uninstall(where.install_folder));
}

} // namespace

namespace {

TEST_F(wizard_case, choosing_a_language_in_the_box_rewrites_the_frame_and_every_page_without_a_question)
{
    wizard setup;
    HWND combo = control(setup.page_window(start_page), IDC_LANGUAGE_LIST);
    const std::vector<std::wstring> items = combo_items(combo);
    ASSERT_EQ(items.size(), 4u);
    // French, German, Spanish, English: each a change from the one before.
    for (const setup::language_index language : {0u, 2u, 3u, 1u}) {
        setup::set_language(language);
        SCOPED_TRACE(setup::native_language_name(language));
        const auto found = std::find(items.begin(), items.end(), setup::native_language_name(language));
        ASSERT_NE(found, items.end());
        select_combo_item(combo, static_cast<int>(found - items.begin()));
        const std::wstring title = setup::setup_title(setup::product_title);
        ASSERT_TRUE(wait_until([&] { return window_text(setup.frame) == title; }));
        EXPECT_FALSE(find_message_box(setup.process.id())) << "the setup speaks this language";
        EXPECT_EQ(setup.button_text(IDC_NEXT), load_string(IDS_NEXT) + L" >");
        EXPECT_EQ(setup.button_text(IDC_BACK), L"< " + load_string(IDS_BACK));
        EXPECT_EQ(setup.button_text(IDC_EXIT), load_string(IDS_CANCEL));
        EXPECT_EQ(control_text(setup.page_window(start_page), IDC_INFO),
                  format_text(load_string(IDS_FIRST_INSTALLATION), setup::product_title));
        for (int page : {start_page, mode_page, options_page})
            EXPECT_EQ(setup.status(page), hint(IDS_CONTINUE, IDS_NEXT)) << page;
        EXPECT_EQ(setup.status(install_page), hint(IDS_START_INSTALLATION, IDS_INSTALL));
        EXPECT_EQ(control_text(setup.page_window(mode_page), IDC_QUICK_MODE), load_string(IDS_QUICK_INSTALLATION));
        EXPECT_EQ(control_text(setup.page_window(options_page), IDC_MENU_SHORTCUT), load_string(IDS_MENU_SHORTCUT));
        EXPECT_EQ(setup.status(end_page), hint(IDS_EXIT_INSTALLATION, IDS_EXIT));
    }
    setup.process.terminate();
}

// A folder of its own on drive T:, which the test runner maps to another file system: made
// unique, removed with all it holds.
class other_volume_folder {
public:
    other_volume_folder()
    {
        for (unsigned n = GetTickCount();; ++n) {
            wchar_t name[32];
            std::swprintf(name, 32, L"T:\\mw-scenario-%08x", n);
            path_ = name;
            if (CreateDirectoryW(path_.c_str(), nullptr))
                return;
            if (GetLastError() != ERROR_ALREADY_EXISTS)
                throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "CreateDirectory");
        }
    }
    ~other_volume_folder()
    {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    other_volume_folder(const other_volume_folder&) = delete;
    other_volume_folder& operator=(const other_volume_folder&) = delete;
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
};

TEST_F(machine_wide, an_advanced_installation_in_german_to_a_typed_folder_on_another_volume_with_the_desktop_shortcut_only_leaves_no_trace)
{
    if (GetDriveTypeW(L"T:\\") == DRIVE_NO_ROOT_DIR)
        GTEST_SKIP() << "there is no drive T: on another file system (the test runner maps it where /dev/shm is writable)";
    const std::vector<std::wstring> machine_before = whole_machine();
    {
        other_volume_folder target;
        const std::wstring folder = target.path() + L"\\Kacheln\\Tilewright";
        {
            wizard setup;
            HWND combo = control(setup.page_window(start_page), IDC_LANGUAGE_LIST);
            const std::vector<std::wstring> items = combo_items(combo);
            const setup::language_index german = 2;
            const auto found = std::find(items.begin(), items.end(), setup::native_language_name(german));
            ASSERT_NE(found, items.end());
            select_combo_item(combo, static_cast<int>(found - items.begin()));
            setup::set_language(german);
            ASSERT_TRUE(wait_until([&] { return setup.button_text(IDC_NEXT) == load_string(IDS_NEXT) + L" >"; }));

            ASSERT_TRUE(setup.next_to(mode_page));
            ASSERT_TRUE(setup.choose_advanced_mode());
            ASSERT_TRUE(setup.next_to(options_page));
            HWND options = setup.page_window(options_page);
            EXPECT_EQ(control_text(options, IDC_FOLDER_EDIT), where.install_folder);
            ASSERT_TRUE(setup.type_folder(target.path() + L"\\Kacheln\\.\\Andere\\..\\Tilewright"));
            set_checked(control(options, IDC_MENU_SHORTCUT), false);
            ASSERT_TRUE(wait_until([&] { return !is_checked(control(options, IDC_MENU_SHORTCUT)); }));
            ASSERT_TRUE(setup.next_to(install_page));
            // The summary names the folder in its normal form and the desktop shortcut only.
            const std::wstring summary = control_text(setup.page_window(install_page), IDC_INSTALL_LOG);
            EXPECT_NE(summary.find(format_text(load_string(IDS_INSTALLATION_FOLDER), folder)), std::wstring::npos) << summary;
            EXPECT_EQ(summary.find(load_string(IDS_CREATING_MENU_SHORTCUT)), std::wstring::npos);
            EXPECT_NE(summary.find(load_string(IDS_CREATING_DESKTOP_SHORTCUT)), std::wstring::npos);
            ASSERT_TRUE(setup.install());
            EXPECT_EQ(setup.status(install_page), hint(IDS_CONTINUE, IDS_NEXT));
            ASSERT_TRUE(setup.next_to(end_page));
            setup.press(IDC_EXIT);
            EXPECT_EQ(setup.process.wait_for_exit(), std::optional<DWORD>(0));
        }
        EXPECT_TRUE(fs::exists(folder + L"\\Tilewright.exe"));
        EXPECT_TRUE(fs::exists(folder + L"\\Uninstall.ulog"));
        EXPECT_FALSE(fs::exists(target.path() + L"\\Kacheln\\Andere"));
        EXPECT_FALSE(fs::exists(where.install_folder)) << "nothing in the default folder";
        EXPECT_FALSE(fs::exists(where.programs_folder + L"\\Tilewright 1.22a.lnk")) << "no menu shortcut";
        EXPECT_EQ(lstrcmpiW(shortcut_target(where.desktop + L"\\Tilewright 1.22a.lnk").c_str(),
                            (folder + L"\\Tilewright.exe").c_str()),
                  0);
        // The samples went to the folder named in the chosen language.
        const std::wstring samples = where.desktop + L"\\" + format_text(load_string(IDS_EXAMPLES), L"Tilewright");
        EXPECT_TRUE(fs::exists(samples + L"\\Courtyard.cal")) << samples;

        ASSERT_TRUE(uninstall(folder));
        EXPECT_FALSE(fs::exists(target.path() + L"\\Kacheln")) << "the typed folder's parent made by the setup is gone";
    }
    setup::set_language(setup::pick_user_language(setup::setup_languages));
    EXPECT_EQ(take_snapshot(), before);
    EXPECT_EQ(difference(machine_before, whole_machine()), L"") << "the whole machine as it was";
}

} // namespace

namespace {

// What a console program writes to its standard output, and its exit code.
std::pair<std::string, DWORD> run_for_output(const std::wstring& command_line)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0))
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "CreatePipe");
    const mw::unique_handle reader{read_end};
    mw::unique_handle writer{write_end};
    SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writer.get();
    startup.hStdError = writer.get();
    PROCESS_INFORMATION started{};
    std::wstring line = command_line;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started))
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "CreateProcess");
    const mw::unique_handle process{started.hProcess};
    const mw::unique_handle thread{started.hThread};
    writer.reset();
    std::string output;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(reader.get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
        output.append(buffer, read);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return {output, code};
}

TEST_F(machine_wide, the_systems_own_uninstaller_lists_the_entry_and_removes_the_product_through_it)
{
    const std::vector<std::wstring> machine_before = whole_machine();
    {
        wizard setup;
        ASSERT_TRUE(setup.next_to(mode_page));
        ASSERT_TRUE(setup.next_to(install_page));
        ASSERT_TRUE(setup.install());
        ASSERT_TRUE(setup.next_to(end_page));
        setup.press(IDC_EXIT);
        ASSERT_EQ(setup.process.wait_for_exit(), std::optional<DWORD>(0));
    }
    const auto [listing, listed] = run_for_output(L"uninstaller.exe --list");
    if (listing.empty() && listed != 0)
        GTEST_SKIP() << "this platform has no uninstaller program that lists the entries";
    // One line an entry: the key, then the display name.
    EXPECT_NE(listing.find("Tilewright|||Tilewright 1.22a"), std::string::npos) << listing;

    child_process remover(L"uninstaller.exe --remove Tilewright");
    EXPECT_TRUE(answer_removal(nullptr));
    EXPECT_EQ(remover.wait_for_exit(installation_timeout), std::optional<DWORD>(0));
    EXPECT_EQ(take_snapshot(), before);
    EXPECT_EQ(difference(machine_before, whole_machine()), L"") << "the whole machine as it was";
    EXPECT_EQ(run_for_output(L"uninstaller.exe --list").first.find("Tilewright"), std::string::npos);
}

} // namespace

namespace {

TEST(machine_wide_snapshot, two_snapshots_without_a_change_between_them_do_not_differ)
{
    const auto first = whole_machine();
    // A program that changes nothing runs between them, as the setup's own processes would.
    ASSERT_EQ(run_program(L"cmd.exe /c exit"), std::optional<DWORD>(0));
    const auto second = whole_machine();
    EXPECT_GT(first.size(), 1000u);
    EXPECT_EQ(difference(first, second), L"");
    // A change shows, as one line gone and one line added.
    scratch_folder scratch;
    const auto with_folder = whole_machine();
    EXPECT_NE(difference(second, with_folder).find(L"+ "), std::wstring::npos);
}

} // namespace

namespace {

// An installation of an older release (the same sources built as version 1.20.0.3), used for
// a while, then updated by this setup, then removed.
TEST_F(machine_wide, an_update_keeps_the_users_changes_and_choices_and_its_merged_log_removes_both_releases)
{
    scratch_folder scratch;
    const std::wstring folder = scratch / L"Tilewright";
    const std::wstring older_setup = scratch / L"setup-1.20.exe";
    make_setup_with_payload(older_setup,
                            payload_with_application(read_bytes(fs::path(program_beside_tests(L"tilewright-1.20.0.3\\Tilewright.exe")))));
    const std::vector<std::wstring> machine_before = whole_machine();
    const auto install = [&](const std::wstring& command, bool advanced) {
        wizard setup{command};
        if (advanced) {
            EXPECT_EQ(control_text(setup.page_window(start_page), IDC_INFO),
                      format_text(load_string(IDS_FIRST_INSTALLATION), setup::product_title));
            EXPECT_TRUE(setup.next_to(mode_page));
            EXPECT_TRUE(setup.choose_advanced_mode());
            EXPECT_TRUE(setup.next_to(options_page));
            HWND options = setup.page_window(options_page);
            EXPECT_TRUE(setup.type_folder(folder));
            set_checked(control(options, IDC_DESKTOP_SHORTCUT), false);
            EXPECT_TRUE(wait_until([&] { return !is_checked(control(options, IDC_DESKTOP_SHORTCUT)); }));
        } else {
            const std::wstring info = control_text(setup.page_window(start_page), IDC_INFO);
            const std::wstring update = format_text(load_string(IDS_UPDATE), L"\x01", setup::product_title);
            EXPECT_TRUE(info.starts_with(update.substr(0, update.find(L'\x01')))) << info;
            EXPECT_NE(info.find(L"1.20"), std::wstring::npos) << info;
            EXPECT_TRUE(setup.next_to(mode_page));
        }
        EXPECT_TRUE(setup.next_to(install_page));
        const std::wstring summary = control_text(setup.page_window(install_page), IDC_INSTALL_LOG);
        EXPECT_NE(summary.find(format_text(load_string(IDS_INSTALLATION_FOLDER), folder)), std::wstring::npos) << summary;
        EXPECT_NE(summary.find(load_string(IDS_CREATING_MENU_SHORTCUT)), std::wstring::npos) << summary;
        EXPECT_EQ(summary.find(load_string(IDS_CREATING_DESKTOP_SHORTCUT)), std::wstring::npos) << summary;
        EXPECT_TRUE(setup.install());
        const std::wstring log = control_text(setup.page_window(install_page), IDC_INSTALL_LOG);
        EXPECT_EQ(setup.status(install_page), hint(IDS_CONTINUE, IDS_NEXT)) << log;
        EXPECT_TRUE(setup.next_to(end_page));
        setup.press(IDC_EXIT);
        EXPECT_EQ(setup.process.wait_for_exit(), std::optional<DWORD>(0));
        return log;
    };

    // The older release, in a folder of the user's with the menu shortcut only.
    install(L"\"" + older_setup + L"\"", true);
    ASSERT_TRUE(fs::exists(folder + L"\\Uninstall.ulog"));
    // The user changes a module and deletes a sample.
    const std::wstring module = manifest_destination(where, L"Grid.lbm");
    const std::wstring sample = manifest_destination(where, L"Courtyard.cal");
    ASSERT_TRUE(fs::exists(module) && fs::exists(sample));
    write_bytes(module, "the user's own grid");
    ASSERT_TRUE(DeleteFileW(sample.c_str()));
    const std::wstring other_sample = manifest_destination(where, L"Kitchen_Floor.cal");
    const std::uint32_t other_sample_crc = file_crc(other_sample);

    // This release over it: the previous installation's choices, no samples, the module kept.
    const std::wstring log = install(setup_command(), false);
    EXPECT_EQ(log.find(format_text(load_string(IDS_COPYING_FILE), sample)), std::wstring::npos) << "no sample written";
    EXPECT_FALSE(fs::exists(sample)) << "the deleted sample stays deleted";
    EXPECT_EQ(file_crc(other_sample), other_sample_crc);
    EXPECT_EQ(read_bytes(module), "the user's own grid");
    EXPECT_FALSE(fs::exists(where.desktop + L"\\Tilewright 1.22a.lnk"));
    EXPECT_EQ(lstrcmpiW(shortcut_target(where.programs_folder + L"\\Tilewright 1.22a.lnk").c_str(),
                        (folder + L"\\Tilewright.exe").c_str()),
              0);
    EXPECT_EQ(file_crc(folder + L"\\Tilewright.exe"),
              file_crc(fs::path(L"" MW_PAYLOAD_FILES) / L"Tilewright.exe")) << "this release's program";
    EXPECT_EQ(string_value(HKEY_LOCAL_MACHINE, L"Software\\Marrowind Works\\Tilewright", L"Replaced Version"), L"1.20.0.3");

    // The merged log takes both releases away; only the module the user changed stays, reported.
    std::wstring report;
    {
        child_process uninstaller(string_value(
            HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tilewright", L"UninstallString"));
        EXPECT_TRUE(answer_removal(&uninstaller, &report));
    }
    EXPECT_NE(report.find(module), std::wstring::npos) << report;
    const std::wstring data = where.common_data + L"\\Marrowind Works";
    std::vector<std::wstring> left;
    for (const std::wstring& line : std::vector<std::wstring>{[&] {
             std::wistringstream lines(difference(machine_before, whole_machine()));
             std::vector<std::wstring> all;
             for (std::wstring line; std::getline(lines, line);)
                 all.push_back(line);
             return all;
         }()})
        left.push_back(line.substr(0, line.find(L" <folder>") != std::wstring::npos ? line.find(L" <folder>") : line.find(L" size ")));
    EXPECT_EQ(left, (std::vector<std::wstring>{L"+ " + data, L"+ " + data + L"\\Modules", L"+ " + data + L"\\Modules\\Tilewright",
                                               L"+ " + module}))
        << "only the changed module and the folders that hold it";
    remove_leftovers();
    EXPECT_EQ(difference(machine_before, whole_machine()), L"");
}

TEST_F(wizard_failure, a_registration_that_fails_fails_the_registry_step_only_and_the_removal_stays_complete)
{
    const std::string stand_in = read_bytes(fs::path(program_beside_tests(L"uninstaller_fixture_app.exe")));
    struct registration_case {
        const char* what;
        std::string application;
        std::vector<environment_change> environment;
    };
    const registration_case cases[] = {
        {"the application exits with 1", stand_in, {{L"MW_FIXTURE_EXIT", L"1"}}},
        {"the application cannot start", "this is no program", {}},
    };
    for (const registration_case& c : cases) {
        SCOPED_TRACE(c.what);
        make_setup_with_payload(damaged_setup, payload_with_application(c.application));
        {
            wizard setup{L"\"" + damaged_setup + L"\"", c.environment};
            ASSERT_TRUE(setup.next_to(mode_page));
            ASSERT_TRUE(setup.next_to(install_page));
            ASSERT_TRUE(setup.install());
            const std::wstring log = control_text(setup.page_window(install_page), IDC_INSTALL_LOG);
            const std::wstring line_end = L"\r\n";
            EXPECT_NE(log.find(load_string(IDS_WRITING_REGISTRY) + load_string(IDS_FAILED) + line_end), std::wstring::npos)
                << log;
            EXPECT_TRUE(log.ends_with(load_string(IDS_WRITING_INSTALLATION_DATA) + load_string(IDS_STEP_OK) + line_end));
            EXPECT_EQ(setup.status(install_page), hint(IDS_CONTINUE, IDS_NEXT)) << "the installation succeeded";
            ASSERT_TRUE(setup.next_to(end_page));
            setup.press(IDC_EXIT);
            EXPECT_EQ(setup.process.wait_for_exit(), std::optional<DWORD>(0));
        }
        EXPECT_TRUE(fs::exists(where.install_folder + L"\\Uninstall.ulog"));
        EXPECT_TRUE(uninstall(where.install_folder));
        EXPECT_EQ(take_snapshot(), before) << "the removal is complete";
        EXPECT_EQ(difference(machine_before, machine_now()), L"") << "the whole machine as it was";
        remove_leftovers();
    }
    expect_another_attempt_succeeds();
}

TEST_F(wizard_failure, an_installation_folder_that_cannot_be_made_fails_with_the_systems_code_and_another_succeeds)
{
    // The typed folder's parent is a file.
    const std::wstring file = scratch / L"a file";
    write_bytes(file, "not a folder");
    wizard setup;
    ASSERT_TRUE(setup.next_to(mode_page));
    ASSERT_TRUE(setup.choose_advanced_mode());
    ASSERT_TRUE(setup.next_to(options_page));
    ASSERT_TRUE(setup.type_folder(file + L"\\Tilewright"));
    ASSERT_TRUE(setup.next_to(install_page));
    ASSERT_TRUE(setup.install());
    // The code is the one the system gives for a folder below a file: a C runtime code here
    // ("2:", ENOTDIR under this platform), a system code ("1:") elsewhere.
    const std::wstring status = setup.status(install_page);
    const std::wstring code = status.size() > 12 ? status.substr(status.rfind(L' ') + 1, 10) : std::wstring();
    EXPECT_TRUE(code.starts_with(L"1:") || code.starts_with(L"2:")) << status;
    expect_failure_shown(setup, code);
    std::wcout << L"A folder below a file: " << status << L"\n";
    EXPECT_EQ(read_bytes(file), "not a folder");
    EXPECT_EQ(take_snapshot(), before);
    EXPECT_EQ(difference(machine_before, machine_now()), L"") << "the whole machine as it was";

    // Back to the options, a folder that can be made, and the same wizard installs.
    ASSERT_TRUE(setup.back_to(options_page));
    ASSERT_TRUE(setup.type_folder(scratch / L"Tilewright"));
    ASSERT_TRUE(setup.next_to(install_page));
    ASSERT_TRUE(setup.install());
    EXPECT_EQ(setup.status(install_page), hint(IDS_CONTINUE, IDS_NEXT));
    ASSERT_TRUE(setup.next_to(end_page));
    setup.press(IDC_EXIT);
    EXPECT_EQ(setup.process.wait_for_exit(), std::optional<DWORD>(0));
    EXPECT_TRUE(uninstall(scratch / L"Tilewright"));
    EXPECT_EQ(take_snapshot(), before);
    EXPECT_EQ(difference(machine_before, machine_now()), L"") << "after the second attempt and its removal";
}

TEST_F(wizard_failure, a_second_setup_started_during_an_installation_is_refused_and_the_first_is_unaffected)
{
    wizard first;
    ASSERT_TRUE(first.next_to(mode_page));
    ASSERT_TRUE(first.next_to(install_page));
    HWND log_box = control(first.page_window(install_page), IDC_INSTALL_LOG);
    const std::wstring summary = window_text(log_box);
    first.press(IDC_NEXT);
    ASSERT_TRUE(wait_until([&] { return window_text(log_box) != summary; }, installation_timeout));
    child_process second{setup_command()};
    const auto busy = wait_for_message_box(second.id(), installation_timeout);
    ASSERT_TRUE(busy) << "the second setup says that a setup runs";
    answer(*busy, busy->buttons.at(0));
    EXPECT_EQ(second.wait_for_exit(), std::optional<DWORD>(0));
    ASSERT_TRUE(wait_until([&] { return first.button_enabled(IDC_EXIT); }, installation_timeout));
    EXPECT_EQ(first.status(install_page), hint(IDS_CONTINUE, IDS_NEXT));
    const std::wstring log = window_text(log_box);
    EXPECT_EQ(std::count(log.begin(), log.end(), L'\u2500'), 3 + 29 + 45) << "one run";
    ASSERT_TRUE(first.next_to(end_page));
    first.press(IDC_EXIT);
    EXPECT_EQ(first.process.wait_for_exit(), std::optional<DWORD>(0));
    EXPECT_TRUE(uninstall(where.install_folder));
    EXPECT_EQ(take_snapshot(), before);
    EXPECT_EQ(difference(machine_before, machine_now()), L"") << "the whole machine as it was";
}

TEST_F(wizard_failure, the_installed_application_running_at_start_is_asked_about_and_cancel_changes_nothing)
{
    {
        wizard setup;
        ASSERT_TRUE(setup.next_to(mode_page));
        ASSERT_TRUE(setup.next_to(install_page));
        ASSERT_TRUE(setup.install());
        ASSERT_TRUE(setup.next_to(end_page));
        setup.press(IDC_EXIT);
        ASSERT_EQ(setup.process.wait_for_exit(), std::optional<DWORD>(0));
    }
    const machine_snapshot installed = take_snapshot();
    child_process application{L"\"" + where.install_folder + L"\\Tilewright.exe\""};
    ASSERT_TRUE(wait_for_window({.process_id = application.id()}, installation_timeout)) << "Tilewright runs";
    const std::vector<std::wstring> machine_installed = machine_now();
    {
        child_process setup{setup_command()};
        const auto box = wait_for_message_box(setup.id(), installation_timeout);
        ASSERT_TRUE(box);
        EXPECT_NE(box->text.find(L"Tilewright"), std::wstring::npos) << box->text;
        EXPECT_EQ(box->buttons, (std::vector<int>{IDRETRY, IDCANCEL}));
        answer(*box, IDCANCEL);
        EXPECT_EQ(setup.wait_for_exit(), std::optional<DWORD>(0));
    }
    EXPECT_EQ(difference(machine_installed, machine_now()), L"") << "the whole machine as before the attempt";
    application.terminate();
    EXPECT_EQ(take_snapshot(), installed) << "nothing changed";
    EXPECT_TRUE(uninstall(where.install_folder));
    expect_another_attempt_succeeds();
}

TEST_F(wizard_failure, leaving_in_the_middle_of_the_wizard_changes_nothing)
{
    wizard setup;
    ASSERT_TRUE(setup.next_to(mode_page));
    ASSERT_TRUE(setup.choose_advanced_mode());
    ASSERT_TRUE(setup.next_to(options_page));
    setup.press(IDC_EXIT);
    const auto question = wait_for_message_box(setup.process.id());
    ASSERT_TRUE(question) << "leaving asks";
    answer(*question, IDYES);
    EXPECT_EQ(setup.process.wait_for_exit(), std::optional<DWORD>(0));
    EXPECT_EQ(difference(machine_before, machine_now()), L"") << "the whole machine as it was";
    expect_another_attempt_succeeds();
}

} // namespace
