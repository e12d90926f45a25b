#include "tests/app/wizard_support.hpp"

#include "app/strings.hpp"
#include "engine/registry.hpp"
#include "resources/resource_ids.h"
#include "support/unique_handle.hpp"
#include "tests/product/uninstaller_support.hpp"
#include "tests/scratch.hpp"

#include <shlobj.h>
#include <zlib.h>

#include <fmt/xchar.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <map>
#include <tuple>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace wizard_testing {

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

constexpr wchar_t maker_key[] = L"Software\\Marrowind Works";
constexpr wchar_t uninstall_key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tilewright";
constexpr wchar_t link_name[] = L"Tilewright 1.22a.lnk";

std::wstring folder(int csidl)
{
    wchar_t path[MAX_PATH]{};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)))
        return {};
    return path;
}

// A control only the page of that index has.
constexpr int page_marker[] = {IDC_LANGUAGE_LIST, IDC_QUICK_MODE, IDC_FOLDER_EDIT, IDC_INSTALL_LOG, 0};

void append(std::vector<std::wstring>& lines, const std::vector<std::wstring>& more)
{
    lines.insert(lines.end(), more.begin(), more.end());
}

void remove_tree(const fs::path& path)
{
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(path, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error))
        SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(path, error);
}

} // namespace

std::wstring setup_command(const std::wstring& program)
{
    return L"\"" + program_beside_tests(program) + L"\"";
}

wizard::wizard(const std::wstring& command, std::vector<environment_change> environment)
    : process(command, environment)
{
    frame = wait_for_window({.class_name = L"#32770", .process_id = process.id()}, installation_timeout);
    // A message box is a "#32770" window too: the frame is the one with the separator.
    if (frame && !find_control(frame, IDC_SEPARATOR))
        frame = nullptr;
    if (!frame)
        throw std::runtime_error("the setup showed no frame");
    if (!wait_until([&] { return current_page() == start_page; }))
        throw std::runtime_error("the setup shows no start page");
}

HWND wizard::page_window(int index) const
{
    for (HWND child : child_windows(frame)) {
        wchar_t class_name[16]{};
        // A window may be gone by now: it is then no page.
        if (GetParent(child) != frame || !GetClassNameW(child, class_name, 16) || lstrcmpW(class_name, L"#32770") != 0)
            continue;
        const bool has_info = GetDlgItem(child, IDC_INFO) != nullptr;
        const bool is_start = GetDlgItem(child, IDC_LANGUAGE_LIST) != nullptr;
        if (index == end_page ? has_info && !is_start : GetDlgItem(child, page_marker[index]) != nullptr)
            return child;
    }
    return nullptr;
}

int wizard::current_page() const
{
    for (int index = start_page; index <= end_page; ++index)
        if (HWND page = page_window(index); page && is_visible(page))
            return index;
    return -1;
}

bool wizard::wait_for_page(int index, std::chrono::milliseconds timeout) const
{
    if (!wait_until([&] { return current_page() == index; }, timeout))
        return false;
    // The frame shows the page first and sets its buttons afterwards, in the handling of the
    // same command: a message sent now is handled once that has ended.
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(frame, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &result) != 0;
}

void wizard::press(int button) const
{
    click(frame, button);
}

bool wizard::next_to(int index) const
{
    press(IDC_NEXT);
    return wait_for_page(index);
}

bool wizard::back_to(int index) const
{
    press(IDC_BACK);
    return wait_for_page(index);
}

bool wizard::choose_advanced_mode() const
{
    HWND mode = page_window(mode_page);
    if (!mode)
        return false;
    set_checked(control(mode, IDC_ADVANCED_MODE), true);
    return wait_until([&] { return is_checked(control(mode, IDC_ADVANCED_MODE)); });
}

bool wizard::type_folder(const std::wstring& folder) const
{
    HWND options = page_window(options_page);
    if (!options)
        return false;
    set_control_text(options, IDC_FOLDER_EDIT, L"");
    type_text(control(options, IDC_FOLDER_EDIT), folder);
    return wait_until([&] { return control_text(options, IDC_FOLDER_EDIT) == folder; });
}

std::wstring wizard::button_text(int button) const
{
    return control_text(frame, button);
}

bool wizard::button_enabled(int button) const
{
    return is_enabled(control(frame, button));
}

std::wstring wizard::status(int index) const
{
    return control_text(page_window(index), IDC_STATUS_LINE);
}

bool wizard::install(std::chrono::milliseconds timeout) const
{
    const std::wstring before = control_text(page_window(install_page), IDC_INSTALL_LOG);
    press(IDC_NEXT);
    // The run has started once the log grows; it has ended once Exit is enabled again.
    if (!wait_until([&] { return control_text(page_window(install_page), IDC_INSTALL_LOG) != before; }, timeout))
        return false;
    return wait_until([&] { return button_enabled(IDC_EXIT); }, timeout);
}

machine_snapshot take_snapshot()
{
    machine_snapshot snapshot;
    const default_places where = places();
    for (const std::wstring& root :
         {folder(CSIDL_PROGRAM_FILES) + L"\\Marrowind Works", where.common_data + L"\\Marrowind Works",
          where.programs_folder, folder(CSIDL_PROGRAMS), where.desktop, folder(CSIDL_DESKTOPDIRECTORY)})
        append(snapshot.files, uninstaller_testing::file_snapshot(root));
    std::sort(snapshot.files.begin(), snapshot.files.end());

    for (const auto& [root, key] : {std::pair{HKEY_LOCAL_MACHINE, std::wstring(uninstall_key)},
                                    std::pair{HKEY_LOCAL_MACHINE, std::wstring(maker_key)},
                                    std::pair{HKEY_CURRENT_USER, std::wstring(maker_key)},
                                    std::pair{HKEY_CLASSES_ROOT, std::wstring(L".cal")},
                                    std::pair{HKEY_CLASSES_ROOT, std::wstring(L"Tilewright.Layout")}}) {
        for (std::wstring& line : uninstaller_testing::registry_snapshot(root, key))
            if (line.find(L"InstallerSize") == std::wstring::npos)
                snapshot.registry.push_back(std::move(line));
    }
    return snapshot;
}

namespace {

// What the system changes by itself while programs run, whatever they do: left out of the
// whole-machine snapshot, each with its reason. A file's path or a key's name as its snapshot
// line begins ("C:\\...", "HKCU\\..."), compared without regard to case.
struct noise {
    const wchar_t* prefix;
    const wchar_t* reason;
};
constexpr noise machine_noise[] = {
    {L"HKCU\\Software\\Wine\\Temporary System Parameters",
     L"Wine keeps the desktop's volatile settings (the mouse's, once a window has had input) here"},
};

bool is_noise(const std::wstring& path)
{
    for (const noise& n : machine_noise) {
        const std::size_t length = std::wcslen(n.prefix);
        if (path.size() >= length && CompareStringOrdinal(path.c_str(), static_cast<int>(length), n.prefix,
                                                          static_cast<int>(length), TRUE) == CSTR_EQUAL)
            return true;
    }
    return false;
}

// CRC-32s already computed in this process, by path, size and time of the last write: a file
// that kept both is not read again.
struct known_crc {
    std::uint64_t size;
    std::uint64_t written;
    std::uint32_t crc;
};
std::map<std::wstring, known_crc>& known_crcs()
{
    static std::map<std::wstring, known_crc> known;
    return known;
}

void walk_files(const std::wstring& folder, std::vector<std::wstring>& lines)
{
    WIN32_FIND_DATAW found;
    const mw::unique_hfind search{FindFirstFileW((folder + L"\\*").c_str(), &found)};
    if (!search)
        return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring path = folder + L"\\" + name;
        if (is_noise(path))
            continue;
        const DWORD attributes = found.dwFileAttributes;
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            lines.push_back(fmt::format(L"{} <folder> attributes {:x}", path, attributes));
            if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                walk_files(path, lines);
            continue;
        }
        const std::uint64_t size = (std::uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow;
        const std::uint64_t written =
            (std::uint64_t{found.ftLastWriteTime.dwHighDateTime} << 32) | found.ftLastWriteTime.dwLowDateTime;
        auto& known = known_crcs();
        auto entry = known.find(path);
        if (entry == known.end() || entry->second.size != size || entry->second.written != written) {
            std::uint32_t crc = 0;
            try {
                crc = file_crc(path);
            } catch (const std::exception&) {
                crc = 0xFFFFFFFF; // a file that cannot be read: its size and attributes still count
            }
            entry = known.insert_or_assign(path, known_crc{size, written, crc}).first;
        }
        lines.push_back(fmt::format(L"{} size {} crc {:08x} attributes {:x}", path, size, entry->second.crc, attributes));
    } while (FindNextFileW(search.get(), &found));
}

struct window_search {
    const std::wstring* program;
    HWND found;
};

BOOL CALLBACK match_program(HWND window, LPARAM parameter)
{
    auto& search = *reinterpret_cast<window_search*>(parameter);
    if (!IsWindowVisible(window) || GetWindow(window, GW_OWNER))
        return TRUE;
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    const mw::unique_handle process{OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id)};
    wchar_t image[MAX_PATH];
    DWORD length = MAX_PATH;
    if (!process || !QueryFullProcessImageNameW(process.get(), 0, image, &length) ||
        lstrcmpiW(image, search.program->c_str()) != 0)
        return TRUE;
    search.found = window;
    return FALSE;
}

} // namespace

HWND application_window(const std::wstring& program)
{
    window_search search{&program, nullptr};
    EnumWindows(match_program, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<std::wstring> whole_machine(bool without_window_size)
{
    std::vector<std::wstring> lines;
    walk_files(L"C:", lines);
    for (const auto& [root, name, key] : {std::tuple{HKEY_LOCAL_MACHINE, L"HKLM\\", L"Software"},
                                          std::tuple{HKEY_CURRENT_USER, L"HKCU\\", L"Software"},
                                          std::tuple{HKEY_CLASSES_ROOT, L"HKCR\\", L""}}) {
        for (std::wstring& line : uninstaller_testing::registry_snapshot(root, key)) {
            line.insert(0, name);
            if (is_noise(line) || (without_window_size && line.find(L"InstallerSize") != std::wstring::npos))
                continue;
            lines.push_back(std::move(line));
        }
    }
    if (without_window_size) {
        // The maker's key of the user, when the window size is all it would hold, is the
        // window size's: the setup creates it for that value alone.
        const std::wstring user_key = L"HKCU\\" + std::wstring(maker_key);
        const bool holds_more = std::any_of(lines.begin(), lines.end(), [&](const std::wstring& line) {
            return line.size() > user_key.size() && line.starts_with(user_key) &&
                   (line[user_key.size()] == L'\\' || line[user_key.size()] == L' ');
        });
        if (!holds_more)
            std::erase(lines, user_key);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::wstring difference(const std::vector<std::wstring>& before, const std::vector<std::wstring>& after)
{
    std::vector<std::wstring> gone, added;
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(gone));
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
    std::wstring text;
    for (const std::wstring& line : gone)
        text += L"- " + line + L"\n";
    for (const std::wstring& line : added)
        text += L"+ " + line + L"\n";
    return text;
}

default_places places()
{
    default_places where;
    where.install_folder = folder(CSIDL_PROGRAM_FILES) + L"\\Marrowind Works\\Tilewright";
    where.programs_folder = folder(CSIDL_COMMON_PROGRAMS);
    where.desktop = folder(CSIDL_COMMON_DESKTOPDIRECTORY);
    where.common_data = folder(CSIDL_COMMON_APPDATA);
    return where;
}

namespace {

// Whether the process runs the uninstall program: the installed one, or its copy in the
// temporary folder.
bool runs_uninstall_program(DWORD process_id)
{
    const mw::unique_handle process{OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id)};
    wchar_t image[MAX_PATH];
    DWORD length = MAX_PATH;
    if (!process || !QueryFullProcessImageNameW(process.get(), 0, image, &length))
        return false;
    const std::wstring name = fs::path(image).filename().wstring();
    return lstrcmpiW(name.c_str(), L"Uninstall.exe") == 0 || name.starts_with(L"mw-uninstall-");
}

// The next message box of the uninstall program, once `previous` (if any) has closed.
std::optional<message_box> next_uninstall_box(const message_box* previous)
{
    if (previous && !wait_for_window_closed(previous->window, installation_timeout))
        return std::nullopt;
    std::optional<message_box> box;
    wait_until([&] {
        for (HWND window = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); window;
             window = FindWindowExW(nullptr, window, L"#32770", nullptr)) {
            const DWORD process = window_process(window);
            if (runs_uninstall_program(process) && (box = find_message_box(process)))
                return true;
        }
        return false;
    }, installation_timeout);
    return box;
}

} // namespace

bool answer_removal(child_process* program, std::wstring* report_text)
{
    const auto question = next_uninstall_box(nullptr);
    if (!question)
        return false;
    if (std::find(question->buttons.begin(), question->buttons.end(), IDYES) == question->buttons.end()) {
        // It refuses (no uninstall log, say): its box is closed, and nothing was removed.
        answer(*question, question->buttons.at(0));
        if (program)
            program->wait_for_exit(installation_timeout);
        return false;
    }
    answer(*question, IDYES);
    // The copy in the temporary folder finishes the removal and reports.
    const auto report = next_uninstall_box(&*question);
    if (!report)
        return false;
    child_process copy = child_process::attach(window_process(report->window));
    if (report_text)
        *report_text = report->text;
    answer(*report, report->buttons.at(0));
    const bool copy_succeeded = copy.wait_for_exit(installation_timeout) == std::optional<DWORD>(0);
    return copy_succeeded && (!program || program->wait_for_exit(installation_timeout) == std::optional<DWORD>(0));
}

bool uninstall(const std::wstring& install_folder)
{
    const fs::path program = fs::path(install_folder) / L"Uninstall.exe";
    if (!fs::exists(program))
        return true;
    child_process uninstaller(L"\"" + program.wstring() + L"\"");
    return answer_removal(&uninstaller);
}

void remove_leftovers()
{
    const default_places where = places();
    uninstall(where.install_folder);
    remove_tree(where.install_folder);
    std::error_code error;
    fs::remove(fs::path(where.install_folder).parent_path(), error); // only when empty
    for (const std::wstring& base : {where.common_data + L"\\Marrowind Works\\Modules\\Tilewright",
                                     where.common_data + L"\\Marrowind Works\\Textures\\Tilewright"})
        remove_tree(base);
    for (const wchar_t* parent : {L"\\Marrowind Works\\Modules", L"\\Marrowind Works\\Textures", L"\\Marrowind Works"})
        fs::remove(where.common_data + parent, error);
    for (const std::wstring& links : {where.programs_folder, folder(CSIDL_PROGRAMS), where.desktop,
                                      folder(CSIDL_DESKTOPDIRECTORY)})
        fs::remove(fs::path(links) / link_name, error);
    // The sample folder, by whatever language named it.
    for (const fs::path& desktop : {fs::path(where.desktop), fs::path(folder(CSIDL_DESKTOPDIRECTORY))})
        for (auto it = fs::directory_iterator(desktop, error); !error && it != fs::directory_iterator(); it.increment(error))
            if (it->is_directory() && it->path().filename().wstring().find(L"Tilewright") != std::wstring::npos)
                remove_tree(it->path());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, uninstall_key);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, maker_key);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L".cal");
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Tilewright.Layout");
}

installer_size_guard::installer_size_guard()
{
    const setup::registry_key key = setup::open_key(HKEY_CURRENT_USER, maker_key);
    DWORD size = 0;
    if (!key || RegQueryValueExW(key.get(), L"InstallerSize", nullptr, &type_, nullptr, &size) != ERROR_SUCCESS)
        return;
    saved_.emplace(size);
    RegQueryValueExW(key.get(), L"InstallerSize", nullptr, &type_, saved_->data(), &size);
    RegDeleteValueW(key.get(), L"InstallerSize");
}

installer_size_guard::~installer_size_guard()
{
    try {
        if (saved_)
            write_installer_size(type_, *saved_);
        else if (const setup::registry_key key = setup::open_key(HKEY_CURRENT_USER, maker_key))
            RegDeleteValueW(key.get(), L"InstallerSize");
    } catch (const std::exception&) {
        // The next test starts from whatever size is left.
    }
}

std::optional<SIZE> saved_installer_size()
{
    std::int32_t size[2]{};
    const setup::registry_key key = setup::open_key(HKEY_CURRENT_USER, maker_key);
    if (!key || !setup::read_binary(key, L"InstallerSize", size, sizeof size))
        return std::nullopt;
    return SIZE{size[0], size[1]};
}

void write_installer_size(DWORD type, const std::vector<BYTE>& bytes)
{
    const setup::registry_key key = setup::create_key(HKEY_CURRENT_USER, maker_key);
    const LSTATUS status =
        RegSetValueExW(key.get(), L"InstallerSize", 0, type, bytes.data(), static_cast<DWORD>(bytes.size()));
    if (status != ERROR_SUCCESS)
        throw std::system_error(static_cast<int>(status), std::system_category(), "InstallerSize");
}

void pretend_installed(const std::wstring& application, std::optional<DWORD> language)
{
    if (RegSetKeyValueW(HKEY_LOCAL_MACHINE, maker_key, L"Tilewright Path", REG_SZ, application.c_str(),
                        static_cast<DWORD>((application.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
        throw std::runtime_error("cannot write the application's path");
    if (language && RegSetKeyValueW(HKEY_LOCAL_MACHINE, uninstall_key, L"MwLanguage", REG_DWORD, &*language,
                                    sizeof *language) != ERROR_SUCCESS)
        throw std::runtime_error("cannot write the stored language");
}

namespace {

BOOL CALLBACK first_language(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found)
{
    *reinterpret_cast<WORD*>(found) = language;
    return FALSE;
}

} // namespace

std::wstring hint(unsigned sentence, unsigned button)
{
    return setup::format_text(setup::load_string(sentence), setup::load_string(button));
}

std::vector<setup::pack_item> payload_items()
{
    return setup::read_manifest(fs::path(L"" MW_PAYLOAD_MANIFEST), fs::path(L"" MW_PAYLOAD_FILES));
}

std::string payload_with_application(const std::string& application)
{
    std::vector<setup::pack_item> items = payload_items();
    for (setup::pack_item& item : items)
        if (fs::path(item.source).filename() == L"Tilewright.exe")
            item.bytes = application;
    return setup::bzip2_compress(setup::build_archive(items));
}

void make_setup_with_payload(const std::wstring& path, const std::string& payload)
{
    const std::wstring original = program_beside_tests(L"setup.exe");
    if (!CopyFileW(original.c_str(), path.c_str(), FALSE))
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "copy setup.exe");
    // The replacement takes the language of the resource it replaces, so that it is one.
    WORD language = 0;
    if (const mw::unique_hmodule module{LoadLibraryExW(original.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)})
        EnumResourceLanguagesW(module.get(), MAKEINTRESOURCEW(IDR_PAYLOAD_TYPE), MAKEINTRESOURCEW(IDR_PAYLOAD),
                               first_language, reinterpret_cast<LONG_PTR>(&language));
    HANDLE update = BeginUpdateResourceW(path.c_str(), FALSE);
    if (!update)
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "BeginUpdateResource");
    if (!UpdateResourceW(update, MAKEINTRESOURCEW(IDR_PAYLOAD_TYPE), MAKEINTRESOURCEW(IDR_PAYLOAD), language,
                         const_cast<char*>(payload.data()), static_cast<DWORD>(payload.size()))) {
        const DWORD error = GetLastError();
        EndUpdateResourceW(update, TRUE);
        throw std::system_error(static_cast<int>(error), std::system_category(), "UpdateResource");
    }
    if (!EndUpdateResourceW(update, FALSE))
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "EndUpdateResource");
}

std::uint32_t file_crc(const fs::path& path)
{
    const std::string bytes = read_bytes(path);
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

} // namespace wizard_testing
