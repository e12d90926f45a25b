#include "engine/installation.hpp"

#include "app/strings.hpp"
#include "engine/compress_error.hpp"
#include "engine/known_folders.hpp"
#include "engine/payload.hpp"
#include "engine/security.hpp"
#include "engine/shortcuts.hpp"
#include "engine/uninstall_entry.hpp"
#include "pages/product.hpp"
#include "resources/resource_ids.h"
#include "support/hold_point.hpp"
#include "support/install_journal.hpp"
#include "support/paths.hpp"
#include "support/unique_handle.hpp"

#include <windows.h>
#include <shlobj.h>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include <cmath>
#include <exception>
#include <functional>
#include <filesystem>
#include <fstream>
#include <vector>

namespace setup {

namespace {

// The access the built-in Users group gets on an installed module, without inheritance.
constexpr std::uint32_t module_access = 0x13019F;

const std::wstring line_end = L"\r\n";

using phase_clock = std::chrono::steady_clock;

// Opt-in timings for the wizard benchmark, which drives the setup from outside and cannot
// otherwise tell the payload's own work from the rest of the run: when MW_INSTALL_TIMINGS
// names a file, a run that has unpacked its payload appends "test_pass_ms=<n>" and
// "extraction_ms=<n>" to it (the extraction with its read-back, and the observer's work in its
// notifications). Without the variable nothing is written; a file that cannot be written
// changes nothing either.
void append_phase_timings(phase_clock::duration test_pass, phase_clock::duration extraction) noexcept
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"MW_INSTALL_TIMINGS", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    const auto ms = [](phase_clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
    try {
        std::ofstream(std::filesystem::path(path), std::ios::app | std::ios::binary)
            << fmt::format("test_pass_ms={:.1f}\nextraction_ms={:.1f}\n", ms(test_pass), ms(extraction));
    } catch (...) {
    }
}

std::wstring text(unsigned id) { return load_string(id); }

bool has_kind(const payload_entry& entry, entry_kind kind) { return entry.kind == static_cast<std::uint32_t>(kind); }

// The files the run leaves behind in any case: the temporary folder first, the payload's
// temporary entries after it. Deleted last added first when the run ends, whatever its
// outcome; a path that cannot be removed is left.
class temporary_files {
public:
    explicit temporary_files(std::wstring folder) { paths_.push_back(std::move(folder)); }
    ~temporary_files()
    {
        for (auto path = paths_.rbegin(); path != paths_.rend(); ++path) {
            std::error_code ignored;
            std::filesystem::remove(*path, ignored);
        }
    }
    temporary_files(const temporary_files&) = delete;
    temporary_files& operator=(const temporary_files&) = delete;

    void add(const std::wstring& path) { paths_.push_back(path); }

private:
    std::vector<std::wstring> paths_;
};

// The decisions of one run, made per payload notification.
class installation_callback {
public:
    installation_callback(app_context& context, std::istream& payload, installation_observer& observer,
                          temporary_files& temporaries)
        : context_(context), payload_(payload), observer_(observer), temporaries_(temporaries)
    {
    }

    notification::result operator()(const notification& n)
    {
        const notification::result result = std::visit([this](const auto& value) { return handle(value); }, n.value());
        observer_.pump();
        return result;
    }

    const std::wstring& main_executable() const noexcept { return main_executable_; }
    const std::wstring& uninstaller() const noexcept { return uninstaller_; }
    phase_clock::duration test_pass() const noexcept { return test_pass_; }
    // When the test pass ended and the extraction proper began.
    phase_clock::time_point extraction_start() const noexcept { return extraction_start_; }

private:
    notification::result handle(const notification::started&)
    {
        observer_.set_status(text(IDS_PREPARING));
        observer_.append_log(text(IDS_PREPARING));
        const phase_clock::time_point test_start = phase_clock::now();
        if (!test_payload(payload_))
            throw std::system_error(make_error_code(compress_error::test_failed));
        payload_.clear();
        payload_.seekg(0);
        extraction_start_ = phase_clock::now();
        test_pass_ = extraction_start_ - test_start;
        observer_.append_log(text(IDS_STEP_OK) + line_end);
        return notification::proceed;
    }

    notification::result handle(const notification::finished&) { return notification::proceed; }

    notification::result handle(const notification::file_begin& begin)
    {
        const payload_entry& entry = begin.entry;
        const std::wstring& destination = entry.destination;
        mw::uninstall_log& log = context_.uninstall_log;
        bool copy = false;
        if (has_kind(entry, entry_kind::main_executable)) {
            main_executable_ = destination;
        } else if (has_kind(entry, entry_kind::uninstaller)) {
            uninstaller_ = destination;
        } else if (has_kind(entry, entry_kind::module)) {
            // A module is never overwritten: one the previous installation put there stays
            // skipped even when it is gone, one that exists is kept and recorded.
            copy = true;
            const bool exists = GetFileAttributesW(destination.c_str()) != INVALID_FILE_ATTRIBUTES;
            if (context_.install_state != install_state::not_installed && log.previous_file_installed(destination)) {
                // The user may have deleted it since: then there is nothing to open up.
                if (exists)
                    grant_users_access(destination, module_access, 0);
                return notification::skip;
            }
            if (exists) {
                log.add_file(destination, static_cast<std::int32_t>(entry.kind), true);
                log.complete(true, {});
                grant_users_access(destination, module_access, 0);
                return notification::skip;
            }
        } else if (has_kind(entry, entry_kind::sample)) {
            if (context_.install_state == install_state::older_version_installed)
                return notification::skip; // an update brings no samples
        } else if (has_kind(entry, entry_kind::temporary)) {
            temporaries_.add(destination);
        }
        const std::wstring copying = format_text(text(IDS_COPYING_FILE), destination);
        observer_.set_status(copying);
        observer_.append_log(copying); // file_end or failed ends the line
        if (!has_kind(entry, entry_kind::temporary))
            log.add_file(destination, static_cast<std::int32_t>(entry.kind), copy);
        mw::hold_point(L"file " + std::to_wstring(++files_begun_));
        return notification::proceed;
    }

    notification::result handle(const notification::file_end& end)
    {
        if (has_kind(end.entry, entry_kind::module))
            grant_users_access(end.entry.destination, module_access, 0);
        if (!has_kind(end.entry, entry_kind::temporary))
            context_.uninstall_log.complete(true, {});
        observer_.append_log(text(IDS_STEP_OK) + line_end);
        return notification::proceed;
    }

    notification::result handle(const notification::progress& p)
    {
        observer_.set_progress(progress_percent(p.position, p.total));
        return notification::proceed;
    }

    notification::result handle(const notification::failed& f)
    {
        context_.uninstall_log.complete(false, {});
        observer_.append_log(text(IDS_FAILED) + line_end);
        observer_.set_status(format_text(text(IDS_INSTALLATION_FAILED), failure_code_text(f.code)));
        return notification::abort;
    }

    app_context& context_;
    std::istream& payload_;
    installation_observer& observer_;
    temporary_files& temporaries_;
    std::wstring main_executable_;
    std::wstring uninstaller_;
    int files_begun_ = 0;
    phase_clock::duration test_pass_{};
    phase_clock::time_point extraction_start_;
};

// Begins a step: its text on the status line and in the log.
void begin_step(installation_observer& observer, unsigned id)
{
    const std::wstring step = text(id);
    observer.set_status(step);
    observer.append_log(step);
    observer.pump();
}

void end_step(installation_observer& observer, bool succeeded)
{
    observer.append_log(text(succeeded ? IDS_STEP_OK : IDS_FAILED) + line_end);
    observer.pump();
}

void make_read_only(const std::wstring& path)
{
    if (path.empty())
        return;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesW(path.c_str(), attributes | FILE_ATTRIBUTE_READONLY);
}

// One shortcut, recorded around its creation. False when it could not be created.
bool add_shortcut(mw::uninstall_log& log, bool desktop, const std::wstring& folder, const std::wstring& target)
{
    try {
        std::wstring planned;
        if (!folder.empty())
            planned = folder + (folder.back() == L'\\' ? L"" : L"\\") + log.identity().product_title + L".lnk";
        log.add_link(desktop, folder, planned);
        const std::wstring link = create_shortcut(target, folder, log.identity().product_title);
        log.complete(true, link);
        return true;
    } catch (const std::exception&) {
        log.complete(false, {});
        return false;
    }
}

bool shortcut_step(app_context& context, const std::wstring& main_executable)
{
    bool succeeded = true;
    if (context.menu_shortcut)
        succeeded &= add_shortcut(context.uninstall_log, false, context.programs_folder, main_executable);
    mw::hold_point(L"shortcuts");
    if (context.desktop_shortcut) // a desktop that cannot be found fails the shortcut on its empty folder
        succeeded &= add_shortcut(context.uninstall_log, true, known_folder(2), main_executable);
    return succeeded;
}

bool registry_step(app_context& context, installation_observer& observer, const std::wstring& uninstaller,
                   const std::wstring& main_executable, std::chrono::milliseconds bound)
{
    mw::uninstall_log& log = context.uninstall_log;
    bool entry_written = false;
    try {
        entry_written = write_uninstall_entry(log, uninstaller, main_executable, current_language().index);
    } catch (const std::exception&) {
        log.complete(false, {});
    }
    bool registered = false;
    try {
        log.add_class_registration();
        mw::hold_point(L"registry");
        registered = register_application(main_executable, context.installed_version, context.setup_mutex, bound,
                                          [&observer] {
                                              mw::hold_point(L"registration");
                                              observer.pump();
                                          });
        log.complete(registered, {});
        if (registered)
            SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH, nullptr, nullptr);
    } catch (const std::exception&) {
        log.complete(false, {});
        registered = false;
    }
    return entry_written && registered;
}

bool log_step(app_context& context, const std::wstring& uninstaller)
{
    if (uninstaller.empty())
        return false; // nowhere to put the log: the payload carried no uninstaller
    try {
        const std::wstring file = target_folder(uninstaller) + L"\\Uninstall.ulog";
        return context.uninstall_log.write(file, context.install_folder, context.programs_folder);
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

std::wstring failure_code_text(std::error_code code)
{
    const auto value = static_cast<std::uint32_t>(code.value());
    if (code.category() == std::system_category())
        return fmt::format(L"1:{:08X}", value);
    if (code.category() == std::generic_category())
        return fmt::format(L"2:{:08X}", value);
    if (code.category() == compress_category())
        return fmt::format(L"{}", code.value());
    return L"7";
}

int progress_percent(std::uint64_t position, std::uint64_t total) noexcept
{
    if (position >= total)
        return 100;
    const double share = static_cast<double>(position) / static_cast<double>(total) * 100.0;
    const int percent = static_cast<int>(std::floor(share + 0.5));
    return percent >= 100 ? 99 : percent;
}

std::wstring registration_command_line(const std::wstring& main_executable, std::uint64_t installed_version)
{
    std::wstring line = L"\"" + main_executable + L"\" /Register /Background";
    if (installed_version != 0)
        line += fmt::format(L" /update={:016x}", installed_version);
    return line;
}

bool register_application(const std::wstring& main_executable, std::uint64_t installed_version,
                          setup_mutex& mutex, std::chrono::milliseconds bound,
                          const std::function<void()>& while_waiting) noexcept
{
    try {
        std::wstring command = registration_command_line(main_executable, installed_version);
        const std::wstring folder = target_folder(main_executable);
        // The application may take the setup mutex while it registers; it comes back when the
        // run ends, whatever its outcome (abandoned, when the application was ended holding it).
        mutex.release();
        struct take_back {
            setup_mutex& mutex;
            ~take_back() { mutex.take(); }
        } take_back_mutex{mutex};

        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_SHOWNOACTIVATE;
        PROCESS_INFORMATION started{};
        if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, HIGH_PRIORITY_CLASS, nullptr,
                            folder.empty() ? nullptr : folder.c_str(), &startup, &started))
            return false;
        const mw::unique_handle process(started.hProcess);
        const mw::unique_handle thread(started.hThread);
        // An application still running when the bound has passed is taken as hung: it is ended,
        // so that it neither holds its executable (which the uninstall program must remove) nor
        // counts as a running Tilewright for ever, and the registration has failed. The window
        // stays responsive meanwhile.
        if (!wait_or_end_application(process.get(), bound, while_waiting))
            return false;
        DWORD exit_code = 0;
        return GetExitCodeProcess(process.get(), &exit_code) && exit_code == static_cast<DWORD>(registration_succeeded);
    } catch (...) {
        // Only a lack of memory while building the command line can get here.
        return false;
    }
}

void make_install_folder(app_context& context)
{
    const std::optional<std::wstring> folder = mw::canonical_path(context.install_folder);
    if (!folder)
        return; // the extraction fails on it and says so
    for (const int csidl : {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86}) {
        const std::optional<std::wstring> base = mw::canonical_path(csidl_folder(csidl));
        if (base && mw::path_within(*folder, *base))
            return; // protected as Program Files protects what it holds
    }
    // Made by the setup, each folder on the way is protected before anything is put in it: one
    // that took its parent's rights would let users rename it away and put their own
    // Tilewright.exe or Uninstall.exe in its place, which later run elevated.
    for (const std::wstring& made : context.uninstall_log.create_folders(*folder))
        protect_folder(made);
}

std::wstring installation_summary(const app_context& context)
{
    std::wstring summary = format_text(text(IDS_FIRST_INSTALLATION), context.uninstall_log.identity().product_title);
    summary += line_end;
    summary += std::wstring(3, L'\u2500') + L'\u00A0' + text(IDS_OPTIONS) + L'\u00A0' + std::wstring(29, L'\u2500');
    summary += line_end;
    summary += format_text(text(IDS_INSTALLATION_FOLDER), context.install_folder) + line_end;
    if (context.menu_shortcut)
        summary += text(IDS_CREATING_MENU_SHORTCUT) + line_end;
    if (context.desktop_shortcut)
        summary += text(IDS_CREATING_DESKTOP_SHORTCUT) + line_end;
    return summary;
}

bool do_installation(app_context& context, std::istream& payload, installation_observer& observer,
                     const installation_settings& settings)
{
    observer.append_log(std::wstring(45, L'\u2500') + line_end);
    observer.set_status(text(IDS_PREPARING));

    std::wstring error_text;
    if (!context.choose_temp_folder(error_text)) {
        const std::wstring failure = format_text(text(IDS_INSTALLATION_FAILED), error_text);
        observer.set_status(failure);
        observer.append_log(failure + line_end);
        return false;
    }
    observer.set_progress(0);
    observer.show_progress();
    observer.pump();
    // From before the first change to the end, what the run has done is journaled: a run
    // ended from outside is rolled back by the next setup.
    mw::begin_journal(context.uninstall_log, context.temp_folder);
    mw::hold_point(L"started");

    try {
        make_install_folder(context);
    } catch (const std::system_error& e) {
        const std::wstring failure = format_text(text(IDS_INSTALLATION_FAILED), failure_code_text(e.code()));
        observer.set_status(failure);
        observer.append_log(failure + line_end);
        context.uninstall_log.rollback();
        mw::end_journal(context.uninstall_log);
        return false;
    }

    temporary_files temporaries(context.temp_folder);
    installation_callback callback(context, payload, observer, temporaries);
    const std::wstring sample_folder =
        settings.sample_folder ? *settings.sample_folder : format_text(text(IDS_EXAMPLES), product_name);
    if (!extract_payload(payload, context.install_folder, sample_folder, context.temp_folder, std::ref(callback))) {
        context.uninstall_log.rollback();
        mw::end_journal(context.uninstall_log);
        return false; // the status line and the log already show the failure
    }
    mw::hold_point(L"extracted");
    append_phase_timings(callback.test_pass(), phase_clock::now() - callback.extraction_start());

    make_read_only(callback.main_executable());
    make_read_only(callback.uninstaller());

    if (context.menu_shortcut || context.desktop_shortcut) {
        begin_step(observer, IDS_CREATING_SHORTCUTS);
        end_step(observer, shortcut_step(context, callback.main_executable()));
    }

    begin_step(observer, IDS_WRITING_REGISTRY);
    end_step(observer,
             registry_step(context, observer, callback.uninstaller(), callback.main_executable(),
                           settings.registration_bound));

    begin_step(observer, IDS_WRITING_INSTALLATION_DATA);
    end_step(observer, log_step(context, callback.uninstaller()));
    mw::end_journal(context.uninstall_log);

    observer.set_status(format_text(text(IDS_CONTINUE), text(IDS_NEXT)));
    observer.pump();
    return true;
}

} // namespace setup
