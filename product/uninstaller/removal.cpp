#include "product/uninstaller/removal.hpp"

#include "engine/application_run.hpp"
#include "engine/com.hpp"
#include "engine/known_folders.hpp"
#include "engine/payload_format.hpp"
#include "engine/registry.hpp"
#include "engine/shortcuts.hpp"
#include "engine/uninstall_entry.hpp"
#include "pages/product.hpp"
#include "support/guarded_files.hpp"
#include "support/hold_point.hpp"
#include "support/paths.hpp"
#include "support/unique_handle.hpp"

#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace uninstaller {
namespace {

std::uint64_t ticks(const FILETIME& time) noexcept
{
    return std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime;
}

// Deletes a file through a checked handle (see delete_guarded). True when it is gone afterwards,
// also when it was gone before; false when it is in use, refused as reached through a link, or
// cannot be deleted.
bool delete_file(const std::wstring& path)
{
    try {
        mw::delete_guarded(path);
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

enum class folder_result { removed, not_empty, failed };

folder_result remove_folder(const std::wstring& path)
{
    try {
        return mw::remove_folder_guarded(path) ? folder_result::removed : folder_result::not_empty;
    } catch (const std::system_error&) {
        return folder_result::failed;
    }
}

// Deletes the product's uninstall subkey with everything in it; true when it is gone.
bool delete_uninstall_key(const std::wstring& name)
{
    if (name.empty()) // an empty name would stand for every program's entry
        return false;
    const setup::registry_key uninstall = setup::open_key(HKEY_LOCAL_MACHINE, setup::uninstall_key_path);
    if (!uninstall)
        return true;
    const LSTATUS status = RegDeleteTreeW(uninstall.get(), name.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

bool is_application(const mw::log_record& record) noexcept
{
    return record.kind == mw::file && record.tag == static_cast<std::int32_t>(setup::entry_kind::main_executable);
}

// The file a record names, or for the registry records the key or the registration.
std::wstring item_text(const mw::log_record& record, const removal_settings& settings)
{
    if (record.kind == mw::uninstall_key)
        return uninstall_key_text(settings.uninstall_key_name);
    return record.path;
}

bool holds_product_name(std::wstring_view name)
{
    const std::wstring_view product = setup::product_name;
    for (std::size_t at = 0; at + product.size() <= name.size(); ++at)
        if (mw::equal_ignoring_case(name.substr(at, product.size()), product))
            return true;
    return false;
}

// Whether `path`, or a folder on the way to it from the system folder it lies in, is a reparse
// point (a junction or a link that could lead out of the product's places) or cannot be checked.
bool reached_through_link(const std::wstring& path)
{
    try {
        mw::check_unlinked(path);
        return false;
    } catch (const std::system_error& e) {
        return e.code().value() == static_cast<int>(mw::link_refused);
    }
}

// The place `path` lies in (at or below it), from `places`; empty when none.
std::wstring containing(const std::wstring& path, const std::vector<std::wstring>& places)
{
    for (const std::wstring& place : places)
        if (!place.empty() && mw::path_within(path, place))
            return place;
    return {};
}

// The sample folder `path` lies in (at or below it): a folder directly on a desktop whose name
// holds the product name; empty when none.
std::wstring sample_folder_of(const std::wstring& path, const product_places& places)
{
    const std::wstring desktop = containing(path, places.sample_parents);
    if (desktop.empty() || path.size() <= desktop.size())
        return {};
    const auto end = path.find(L'\\', desktop.size() + 1);
    std::wstring folder = path.substr(0, end);
    return holds_product_name(mw::name_of(folder)) ? folder : std::wstring{};
}

// The installation, data or sample folder `path` lies in (at or below it); empty when none.
std::wstring product_folder_of(const std::wstring& path, const product_places& places)
{
    if (!places.install_folder.empty() && mw::path_within(path, places.install_folder))
        return places.install_folder;
    if (std::wstring data = containing(path, places.data_folders); !data.empty())
        return data;
    return sample_folder_of(path, places);
}

// Whether a folder above the installation or a data folder may go when empty: no root, and
// below every base folder it is in or above.
bool removable_parent(const std::wstring& folder, const product_places& places)
{
    if (mw::is_root(folder))
        return false;
    const bool above_place =
        (!places.install_folder.empty() && mw::path_within(places.install_folder, folder)) ||
        std::any_of(places.data_folders.begin(), places.data_folders.end(),
                    [&](const std::wstring& data) { return !data.empty() && mw::path_within(data, folder); });
    return above_place && std::none_of(places.bases.begin(), places.bases.end(), [&](const std::wstring& base) {
               return !base.empty() && mw::path_within(base, folder);
           });
}

// The product's application in the installation folder; empty without an installation folder.
std::wstring application_in(const product_places& places)
{
    if (places.install_folder.empty())
        return {};
    return places.install_folder + L"\\" + std::wstring(setup::application_file_name);
}

} // namespace

bool is_shell_link(const std::wstring& path)
{
    // A shell link file starts with its header size (76) and the shell link class.
    static constexpr std::array<unsigned char, 20> header{0x4C, 0, 0, 0, 0x01, 0x14, 0x02, 0, 0, 0,
                                                          0,    0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    {
        const mw::unique_hfile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                               FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file)
            return false;
        std::array<unsigned char, header.size()> start{};
        DWORD read = 0;
        if (!ReadFile(file.get(), start.data(), static_cast<DWORD>(start.size()), &read, nullptr) ||
            read != start.size() || start != header)
            return false;
    }
    try {
        const setup::com_initialization com;
        setup::com_ptr<IShellLinkW> link;
        if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                    reinterpret_cast<void**>(link.put()))))
            return false;
        setup::com_ptr<IPersistFile> file;
        if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put()))))
            return false;
        return SUCCEEDED(file->Load(path.c_str(), STGM_READ));
    } catch (const std::exception&) {
        return false;
    }
}

std::optional<std::wstring> place_of(const mw::log_record& record, const product_places& places)
{
    if (record.kind == mw::uninstall_key || record.kind == mw::class_registration)
        return std::nullopt;
    const std::optional<std::wstring> path = mw::canonical_path(record.path);
    if (!path)
        return std::nullopt;
    std::wstring place;
    switch (record.kind) {
    case mw::folder:
        place = product_folder_of(*path, places);
        if (place.empty())
            return removable_parent(*path, places) ? path : std::nullopt;
        break;
    case mw::file:
        place = product_folder_of(*path, places);
        if (place.size() >= path->size())
            return std::nullopt; // the folder itself is no file
        break;
    case mw::menu_link:
    case mw::desktop_link: {
        const std::wstring_view name = mw::name_of(*path);
        const std::wstring_view product = setup::product_name;
        const std::wstring folder = mw::parent_of(*path);
        if (name.size() <= 4 || !mw::equal_ignoring_case(name.substr(name.size() - 4), L".lnk") || name.size() < product.size() ||
            !mw::equal_ignoring_case(name.substr(0, product.size()), product) ||
            std::none_of(places.link_folders.begin(), places.link_folders.end(),
                         [&](const std::wstring& links) { return !links.empty() && mw::equal_ignoring_case(links, folder); }))
            return std::nullopt;
        return path;
    }
    default:
        return std::nullopt;
    }
    if (place.empty() || reached_through_link(*path))
        return std::nullopt;
    return path;
}

product_places installed_places(const std::wstring& install_folder)
{
    auto canonical = [](const std::wstring& folder) { return folder.empty() ? folder : mw::canonical_path(folder).value_or(L""); };
    auto system = [&](int csidl) { return canonical(setup::csidl_folder(csidl)); };
    product_places places;
    places.install_folder = canonical(install_folder);
    std::wstring data = system(CSIDL_COMMON_APPDATA);
    if (data.empty())
        data = system(CSIDL_APPDATA);
    if (!data.empty())
        for (const wchar_t* folder : {L"\\Marrowind Works\\Modules\\Tilewright", L"\\Marrowind Works\\Textures\\Tilewright"})
            places.data_folders.push_back(data + folder);
    const std::wstring common_desktop = system(CSIDL_COMMON_DESKTOPDIRECTORY), desktop = system(CSIDL_DESKTOPDIRECTORY);
    places.sample_parents = {common_desktop, desktop};
    places.link_folders = {system(CSIDL_COMMON_PROGRAMS), system(CSIDL_PROGRAMS), common_desktop, desktop};
    places.bases = {data, system(CSIDL_APPDATA), system(CSIDL_PROGRAM_FILES), system(CSIDL_WINDOWS)};
    places.bases.insert(places.bases.end(), places.link_folders.begin(), places.link_folders.end());
    return places;
}

bool changed_since_installation(const file_times& times, const std::optional<FILETIME>& installed_at) noexcept
{
    const std::uint64_t written = ticks(times.written);
    if (installed_at && written > ticks(*installed_at))
        return true;
    return written > ticks(times.created) + write_slack_100ns;
}

bool user_editable(std::int32_t tag) noexcept
{
    return tag == static_cast<std::int32_t>(setup::entry_kind::module) ||
           tag == static_cast<std::int32_t>(setup::entry_kind::sample);
}

std::span<const shipped_file> shipped_user_files() noexcept
{
    static constexpr shipped_file files[] = {
#include "shipped_user_files.inc"
    };
    return files;
}

bool differs_from_shipped(const std::wstring& path, std::int32_t tag, std::span<const shipped_file> shipped)
{
    const std::wstring_view name = mw::name_of(path);
    const auto original = std::find_if(shipped.begin(), shipped.end(), [&](const shipped_file& file) {
        return file.tag == tag && mw::equal_ignoring_case(file.name, name);
    });
    if (original == shipped.end())
        return false;
    const mw::unique_hfile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size))
        return false;
    if (static_cast<std::uint64_t>(size.QuadPart) != original->bytes.size())
        return true;
    std::string bytes(original->bytes.size(), '\0');
    DWORD read = 0;
    if (!bytes.empty() && (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                           read != bytes.size()))
        return false;
    return bytes != original->bytes;
}

bool unregister_application(const std::wstring& application, std::chrono::milliseconds bound)
{
    // Held while the process starts, checked to be the file at its place: nobody can replace,
    // change or rename it in the meantime.
    mw::unique_hfile image;
    try {
        image = mw::open_guarded(application, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    } catch (const std::system_error&) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(image.get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    std::wstring command = L"\"" + application + L"\" /Unregister /Background";
    const std::wstring folder = mw::parent_of(application);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNOACTIVATE;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(application.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &started))
        return false;
    image.reset();
    const mw::unique_handle process(started.hProcess);
    const mw::unique_handle thread(started.hThread);
    if (!setup::wait_or_end_application(process.get(), bound))
        return false;
    DWORD code = 0;
    return GetExitCodeProcess(process.get(), &code) && code == static_cast<DWORD>(setup::registration_succeeded);
}

std::wstring uninstall_key_text(const std::wstring& uninstall_key_name)
{
    return std::wstring(L"HKEY_LOCAL_MACHINE\\") + setup::uninstall_key_path + L"\\" + uninstall_key_name;
}

removal_report remove_installation(const std::vector<mw::log_record>& records, const removal_settings& settings)
{
    removal_report report;

    const bool registered = std::any_of(records.begin(), records.end(),
                                        [](const mw::log_record& r) { return r.kind == mw::class_registration; });
    // A registration the application confirmed at installation. One it did not confirm (it
    // failed, or the application never started) is undone all the same, but when that fails
    // there is nothing known to be left behind.
    const bool confirmed = std::any_of(records.begin(), records.end(), [](const mw::log_record& r) {
        return r.kind == mw::class_registration && r.done;
    });
    bool unregistration_tried = false;
    auto unregister_once = [&] {
        if (!registered || unregistration_tried)
            return;
        unregistration_tried = true;
        // Only the product's application in the installation folder is ever started, whatever
        // the log's records name: a record may name any program, and this one runs elevated.
        const std::wstring application = application_in(settings.places);
        bool unregistered = false;
        try {
            unregistered = !application.empty() && !reached_through_link(application) && settings.unregister &&
                           settings.unregister(application);
        } catch (const std::exception&) {
            unregistered = false;
        }
        report.unregistration_failed = !unregistered && confirmed;
    };

    const std::optional<std::wstring> running =
        settings.running_program.empty() ? std::nullopt : mw::canonical_path(settings.running_program);
    std::optional<std::wstring> running_record; // the running program's record, as the log names it
    std::vector<std::wstring> not_empty; // deepest first, as the walk met them
    int handled = 0;
    std::vector<const mw::log_record*> applications;
    for (auto record = records.rbegin(); record != records.rend(); ++record) {
        mw::hold_point(L"removal " + std::to_wstring(handled++));
        try {
            if (record->kind == mw::class_registration) {
                unregister_once();
                continue;
            }
            if (record->kind == mw::uninstall_key) {
                if (!delete_uninstall_key(settings.uninstall_key_name))
                    report.not_removed.push_back(item_text(*record, settings));
                continue;
            }
            if (is_application(*record)) {
                unregister_once();
                // Removed last but for this program and its log: a removal ended before its
                // end leaves the application, so that the next can still unregister it.
                if (!record->path.empty())
                    applications.push_back(&*record);
                continue;
            }
            if (record->path.empty())
                continue;
            const std::optional<std::wstring> path = place_of(*record, settings.places);
            if (!path) {
                report.not_removed.push_back(record->path);
                continue;
            }
            if (record->kind == mw::folder) {
                switch (remove_folder(*path)) {
                case folder_result::removed:
                    break;
                case folder_result::not_empty:
                    not_empty.push_back(*path);
                    break;
                case folder_result::failed:
                    report.not_removed.push_back(record->path);
                    break;
                }
                continue;
            }
            if (running && mw::equal_ignoring_case(*path, *running)) {
                running_record = record->path;
                continue;
            }
            if (record->kind == mw::file && user_editable(record->tag)) {
                WIN32_FILE_ATTRIBUTE_DATA data{};
                if (GetFileAttributesExW(path->c_str(), GetFileExInfoStandard, &data) &&
                    !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                    (changed_since_installation({data.ftCreationTime, data.ftLastWriteTime}, settings.installed_at) ||
                     differs_from_shipped(*path, record->tag, settings.shipped))) {
                    report.kept.push_back(record->path);
                    continue;
                }
            }
            // Only a shell link goes for a shortcut record; one already gone counts as removed.
            if (record->kind != mw::file && GetFileAttributesW(path->c_str()) != INVALID_FILE_ATTRIBUTES &&
                !is_shell_link(*path)) {
                report.not_removed.push_back(record->path);
                continue;
            }
            if (!delete_file(*path))
                report.not_removed.push_back(record->path);
        } catch (const std::exception&) {
            report.not_removed.push_back(item_text(*record, settings));
        }
    }

    for (const mw::log_record* record : applications) {
        try {
            const std::optional<std::wstring> path = place_of(*record, settings.places);
            if (!path || !delete_file(*path))
                report.not_removed.push_back(record->path);
        } catch (const std::exception&) {
            report.not_removed.push_back(record->path);
        }
    }
    if (settings.before_last_step) {
        try {
            settings.before_last_step(report);
        } catch (const std::exception&) {
        }
    }
    if (running_record && !delete_file(*running))
        report.not_removed.push_back(*running_record);
    if (!settings.log_file.empty() && !delete_file(settings.log_file))
        report.not_removed.push_back(settings.log_file);
    for (const std::wstring& folder : not_empty)
        if (remove_folder(folder) == folder_result::failed)
            report.not_removed.push_back(folder);
    return report;
}

} // namespace uninstaller
