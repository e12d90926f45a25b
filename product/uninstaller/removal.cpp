#include "product/uninstaller/removal.hpp"

#include "engine/payload_format.hpp"
#include "engine/registry.hpp"
#include "engine/shortcuts.hpp"
#include "engine/uninstall_entry.hpp"
#include "pages/product.hpp"
#include "support/unique_handle.hpp"

#include <algorithm>

namespace uninstaller {
namespace {

std::uint64_t ticks(const FILETIME& time) noexcept
{
    return std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime;
}

bool gone(DWORD error) noexcept { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Deletes a file, clearing its read-only attribute first (and setting it again when the file
// stays). True when the file is gone afterwards, also when it was gone before.
bool delete_file(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return gone(GetLastError());
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return false;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (DeleteFileW(path.c_str()) || gone(GetLastError()))
        return true;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(path.c_str(), attributes);
    return false;
}

enum class folder_result { removed, not_empty, failed };

folder_result remove_folder(const std::wstring& path)
{
    if (RemoveDirectoryW(path.c_str()))
        return folder_result::removed;
    const DWORD error = GetLastError();
    if (gone(error))
        return folder_result::removed;
    return error == ERROR_DIR_NOT_EMPTY ? folder_result::not_empty : folder_result::failed;
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

} // namespace

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

bool unregister_application(const std::wstring& application)
{
    const DWORD attributes = GetFileAttributesW(application.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    std::wstring command = L"\"" + application + L"\" /Unregister /Background";
    const std::wstring folder = setup::target_folder(application);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNOACTIVATE;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &started))
        return false;
    const mw::unique_handle process(started.hProcess);
    const mw::unique_handle thread(started.hThread);
    DWORD code = 0;
    return WaitForSingleObject(process.get(), INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(process.get(), &code) &&
           code == static_cast<DWORD>(setup::registration_succeeded);
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
    bool unregistration_tried = false;
    auto unregister_once = [&] {
        if (!registered || unregistration_tried)
            return;
        unregistration_tried = true;
        const auto application = std::find_if(records.rbegin(), records.rend(), [](const mw::log_record& r) {
            return is_application(r) && !r.path.empty();
        });
        bool unregistered = false;
        try {
            unregistered = application != records.rend() && settings.unregister && settings.unregister(application->path);
        } catch (const std::exception&) {
            unregistered = false;
        }
        report.unregistration_failed = !unregistered;
    };

    std::vector<std::wstring> not_empty; // deepest first, as the walk met them
    for (auto record = records.rbegin(); record != records.rend(); ++record) {
        try {
            switch (record->kind) {
            case mw::class_registration:
                unregister_once();
                break;
            case mw::uninstall_key:
                if (!delete_uninstall_key(settings.uninstall_key_name))
                    report.not_removed.push_back(item_text(*record, settings));
                break;
            case mw::folder:
                if (record->path.empty())
                    break;
                switch (remove_folder(record->path)) {
                case folder_result::removed:
                    break;
                case folder_result::not_empty:
                    not_empty.push_back(record->path);
                    break;
                case folder_result::failed:
                    report.not_removed.push_back(record->path);
                    break;
                }
                break;
            default: // files and shortcuts, kinds 1 to 4
                if (is_application(*record))
                    unregister_once();
                if (record->path.empty())
                    break;
                if (record->kind == mw::file && user_editable(record->tag)) {
                    WIN32_FILE_ATTRIBUTE_DATA data{};
                    if (GetFileAttributesExW(record->path.c_str(), GetFileExInfoStandard, &data) &&
                        !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                        changed_since_installation({data.ftCreationTime, data.ftLastWriteTime}, settings.installed_at)) {
                        report.kept.push_back(record->path);
                        break;
                    }
                }
                if (!delete_file(record->path))
                    report.not_removed.push_back(record->path);
                break;
            }
        } catch (const std::exception&) {
            report.not_removed.push_back(item_text(*record, settings));
        }
    }

    if (!settings.log_file.empty() && !delete_file(settings.log_file))
        report.not_removed.push_back(settings.log_file);
    for (const std::wstring& folder : not_empty)
        if (remove_folder(folder) == folder_result::failed)
            report.not_removed.push_back(folder);
    return report;
}

} // namespace uninstaller
