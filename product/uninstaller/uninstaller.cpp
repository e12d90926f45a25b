#include "product/uninstaller/uninstaller.hpp"

#include "product/uninstaller/handover.hpp"
#include "product/uninstaller/uninstall_ids.h"
#include "app/process_identity.hpp"
#include "pages/product.hpp"
#include "support/own_executable.hpp"
#include "support/sync_objects.hpp"
#include "support/uninstall_log.hpp"
#include "support/unique_handle.hpp"

#include <fmt/xchar.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <system_error>

namespace uninstaller {
namespace {

namespace fs = std::filesystem;

static_assert(outcome_unknown == failed);

// How long the copy waits for the installed program to end.
constexpr DWORD parent_exit_timeout_ms = 60000;

// What every step of one run shares.
struct session {
    std::wstring application_id = setup::application_id();
    std::wstring product{setup::product_name};
    texts strings{stored_language(setup::product_key_name())};
    std::wstring caption = strings.format(IDS_CAPTION, product);

    int ask(const std::wstring& text, UINT flags) const
    {
        return MessageBoxW(nullptr, text.c_str(), caption.c_str(), flags | MB_SETFOREGROUND);
    }
};

// Waits, with the user's leave, until no setup and no process of the application runs; the
// setup mutex is then owned. False when the user cancels.
bool wait_until_alone(const session& s, setup::setup_mutex& lock)
{
    while (!lock.take())
        if (s.ask(s.strings.format(IDS_SETUP_RUNNING, s.product), MB_RETRYCANCEL | MB_ICONWARNING) != IDRETRY)
            return false;
    while (application_running(s.application_id))
        if (s.ask(s.strings.format(IDS_APPLICATION_RUNNING, s.product), MB_RETRYCANCEL | MB_ICONWARNING) != IDRETRY)
            return false;
    return true;
}

std::wstring log_beside(const std::wstring& program)
{
    return (fs::path(program).parent_path() / log_file_name).wstring();
}

// Reads the log; shows the missing-log box when it records nothing.
bool read_log(const session& s, const std::wstring& log_file, mw::uninstall_log& log)
{
    log.read(log_file);
    if (!log.previous.empty())
        return true;
    s.ask(s.strings.format(IDS_NO_LOG, log_file), MB_OK | MB_ICONERROR);
    return false;
}

// Works from the temporary folder, so that no folder of the installation is held as current.
void leave_installation_folders()
{
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH || !SetCurrentDirectoryW(folder)) {
        if (GetSystemDirectoryW(folder, MAX_PATH + 1))
            SetCurrentDirectoryW(folder);
    }
}

std::optional<FILETIME> last_write(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return std::nullopt;
    return data.ftLastWriteTime;
}

int outcome(const removal_report& report) { return report.complete() ? removed : incomplete; }

// Removes what the log of the installed `program` records, where the product installs, and
// reports it. `before_last_step` runs before the program itself and its log are removed.
int remove_and_report(const session& s, setup::setup_mutex& lock, const mw::uninstall_log& log,
                      const std::wstring& program, std::function<void(const removal_report&)> before_last_step = {})
{
    const std::wstring log_file = log_beside(program);
    removal_settings settings;
    settings.places = installed_places(fs::path(program).parent_path().wstring());
    settings.running_program = program;
    settings.before_last_step = std::move(before_last_step);
    settings.log_file = log_file;
    settings.uninstall_key_name = setup::product_key_name();
    settings.installed_at = last_write(log_file);
    settings.unregister = [&lock](const std::wstring& application) {
        // As for its registration by the setup, the application may need the setup mutex.
        lock.release();
        const bool unregistered = unregister_application(application);
        lock.take();
        return unregistered;
    };
    const removal_report report = remove_installation(log.previous, settings);
    const bool clean = report.complete() && report.kept.empty();
    s.ask(report_text(s.strings, s.product, report), MB_OK | (clean ? MB_ICONINFORMATION : MB_ICONWARNING));
    return outcome(report);
}

// The installed program, started by the user.
int start(const session& s)
{
    setup::setup_mutex lock(s.application_id);
    if (!wait_until_alone(s, lock))
        return nothing_done;
    const std::wstring program = mw::own_executable_path();
    const std::wstring log_file = log_beside(program);
    mw::uninstall_log log;
    if (!read_log(s, log_file, log))
        return nothing_done;
    const std::wstring title = log.previous_title.empty() ? s.product : log.previous_title;
    if (s.ask(s.strings.format(IDS_CONFIRM, title), MB_YESNO | MB_ICONQUESTION) != IDYES)
        return nothing_done;
    leave_installation_folders();
    // The copy takes the setup mutex over.
    lock.release();
    if (const std::optional<DWORD> code = hand_over(program))
        return static_cast<int>(*code);
    // No copy: remove from here; this program, and so its folder, stays.
    if (!wait_until_alone(s, lock))
        return nothing_done;
    return remove_and_report(s, lock, log, program);
}

// The copy in the temporary folder that finishes the removal.
int finish(const session& s, const finish_arguments& arguments)
{
    const mw::unique_handle parent(arguments.parent);
    // Closed, when no outcome was sent, as this program ends: the installed program then
    // returns this program's exit code.
    mw::unique_handle outcome_pipe(arguments.outcome);
    {
        const mw::unique_handle ready(arguments.ready);
        SetEvent(ready.get());
    }
    leave_installation_folders();
    // The installed program released the setup mutex before it handed over.
    setup::setup_mutex lock(s.application_id);
    if (!wait_until_alone(s, lock))
        return nothing_done;
    mw::uninstall_log log;
    if (!read_log(s, log_beside(arguments.original), log))
        return nothing_done;
    return remove_and_report(s, lock, log, arguments.original, [&](const removal_report& so_far) {
        // The installed program returns the outcome and ends: then its file can go.
        send_outcome(outcome_pipe.release(), static_cast<DWORD>(outcome(so_far)));
        WaitForSingleObject(parent.get(), parent_exit_timeout_ms);
    });
}

std::wstring error_description(const std::exception& e)
{
    if (const auto* system = dynamic_cast<const std::system_error*>(&e);
        system && system->code().category() == std::system_category()) {
        mw::unique_hlocal_string buffer;
        const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                                FORMAT_MESSAGE_IGNORE_INSERTS,
                                            nullptr, static_cast<DWORD>(system->code().value()), 0,
                                            reinterpret_cast<wchar_t*>(buffer.put()), 0, nullptr);
        std::wstring text = length ? std::wstring(buffer.get(), length) : std::wstring{};
        while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r'))
            text.pop_back();
        return fmt::format(L"{:08X} {}", static_cast<std::uint32_t>(system->code().value()), text);
    }
    const std::string what = e.what();
    std::wstring text(what.size(), L'\0');
    text.resize(static_cast<std::size_t>(std::max(
        0, MultiByteToWideChar(CP_ACP, 0, what.data(), static_cast<int>(what.size()), text.data(),
                               static_cast<int>(text.size())))));
    return text;
}

void append_items(std::wstring& text, const texts& strings, const std::vector<std::wstring>& items)
{
    for (std::size_t i = 0; i < items.size() && i < listed_items; ++i)
        text += L"\n" + items[i];
    if (items.size() > listed_items)
        text += L"\n" + strings.format(IDS_MORE, std::to_wstring(items.size() - listed_items));
}

} // namespace

bool application_running(const std::wstring& application_id) noexcept
{
    try {
        const mw::instance_semaphore counter(mw::instance_semaphore_name(application_id), 0);
        return counter.running_instances() > 0;
    } catch (const std::exception&) {
        return false;
    }
}

std::wstring report_text(const texts& strings, const std::wstring& product, const removal_report& report)
{
    std::wstring text;
    if (report.complete()) {
        text = strings.format(IDS_REMOVED, product);
    } else {
        std::vector<std::wstring> items;
        if (report.unregistration_failed)
            items.push_back(strings.format(IDS_FILE_TYPES, product));
        items.insert(items.end(), report.not_removed.begin(), report.not_removed.end());
        text = strings.format(IDS_NOT_ALL_REMOVED, product);
        append_items(text, strings, items);
    }
    if (!report.kept.empty()) {
        text += L"\n\n" + strings.get(IDS_KEPT);
        append_items(text, strings, report.kept);
    }
    return text;
}

int run(const std::vector<std::wstring>& arguments)
{
    const session s;
    try {
        if (const auto finishing = parse_finish_arguments(arguments))
            return finish(s, *finishing);
        return start(s);
    } catch (const std::exception& e) {
        s.ask(s.strings.format(IDS_ERROR, error_description(e)), MB_OK | MB_ICONERROR);
        return failed;
    }
}

} // namespace uninstaller
