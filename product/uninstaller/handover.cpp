#include "product/uninstaller/handover.hpp"

#include "support/guarded_files.hpp"
#include "support/paths.hpp"
#include "support/temp_names.hpp"
#include "support/unique_handle.hpp"
#include "support/work_folder.hpp"

#include <fmt/xchar.h>

#include <cstdint>
#include <cwchar>

namespace uninstaller {
namespace {

// A handle value written as a decimal number; null when the text is not one.
HANDLE parse_handle(const std::wstring& text)
{
    if (text.empty() || text.find_first_not_of(L"0123456789") != std::wstring::npos)
        return nullptr;
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::wcstoull(text.c_str(), nullptr, 10)));
}

std::wstring handle_text(HANDLE handle) { return std::to_wstring(reinterpret_cast<std::uintptr_t>(handle)); }

// Moves the running copy's file from the work folder to the temporary folder under a free name.
// Where it cannot be moved, it stays, and so does the work folder.
void leave_work_folder(HANDLE image) noexcept
{
    try {
        for (int tries = 0; tries < mw::unique_temp_path_tries; ++tries) {
            try {
                mw::rename_open_file(image, mw::unique_temp_path(copy_pattern), false);
                return;
            } catch (const std::system_error& e) {
                if (e.code().value() != ERROR_ALREADY_EXISTS && e.code().value() != ERROR_FILE_EXISTS)
                    return;
            }
        }
    } catch (...) {
    }
}

} // namespace

std::optional<finish_arguments> parse_finish_arguments(const std::vector<std::wstring>& arguments)
{
    if (arguments.size() != 5 || arguments[0] != finish_switch || arguments[1].empty())
        return std::nullopt;
    finish_arguments result{arguments[1], parse_handle(arguments[2]), parse_handle(arguments[3]),
                            parse_handle(arguments[4])};
    if (!result.parent || !result.ready || !result.outcome)
        return std::nullopt;
    return result;
}

void send_outcome(HANDLE pipe, DWORD code) noexcept
{
    const mw::unique_handle owned(pipe);
    DWORD written = 0;
    WriteFile(owned.get(), &code, sizeof code, &written, nullptr);
}

std::optional<DWORD> hand_over(const std::wstring& program)
{
    // The copy is made and started in a folder of this run's own that only administrators may
    // enter: in the temporary folder itself, the user's other programs could replace it between
    // its making and its start, and have their program started elevated.
    std::optional<mw::work_folder> work;
    std::wstring copy;
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    mw::unique_hfile image;
    try {
        work.emplace();
        {
            const mw::unique_hfile source = mw::open_guarded(program, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
            const mw::unique_hfile target = work->create_file(copy_pattern, GENERIC_WRITE | FILE_WRITE_ATTRIBUTES,
                                                              0, copy);
            mw::copy_file_data(source.get(), target.get());
            // The installed program is read-only; its copy must not be: a read-only file is not deleted.
            FILE_BASIC_INFO plain{}; // times of zero stay as they are
            plain.FileAttributes = FILE_ATTRIBUTE_NORMAL;
            SetFileInformationByHandle(target.get(), FileBasicInfo, &plain, sizeof plain);
        }
        // From here on the copy is deleted when the last handle of it closes: ours on failure,
        // the copy's own inherited one otherwise.
        image.reset(CreateFileW(copy.c_str(), DELETE | GENERIC_READ, FILE_SHARE_READ, &inherited, OPEN_EXISTING,
                                FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (!image) {
        DeleteFileW(copy.c_str());
        return std::nullopt;
    }

    HANDLE own_process = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &own_process, SYNCHRONIZE,
                         TRUE, 0))
        return std::nullopt;
    const mw::unique_handle parent(own_process);
    const mw::unique_handle ready(CreateEventW(&inherited, TRUE, FALSE, nullptr));
    if (!ready)
        return std::nullopt;
    HANDLE reading = nullptr, writing = nullptr;
    if (!CreatePipe(&reading, &writing, &inherited, 0))
        return std::nullopt;
    const mw::unique_handle outcome(reading);
    mw::unique_handle outcome_writer(writing);
    if (!SetHandleInformation(outcome.get(), HANDLE_FLAG_INHERIT, 0))
        return std::nullopt;

    std::wstring command = fmt::format(L"\"{}\" {} \"{}\" {} {} {}", copy, finish_switch, program,
                                       handle_text(parent.get()), handle_text(ready.get()),
                                       handle_text(outcome_writer.get()));
    // Started in the temporary folder, not in the work folder: a process's current folder
    // cannot be removed while it runs.
    const std::wstring folder = mw::parent_of(work->path());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(copy.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &startup,
                        &started))
        return std::nullopt;
    const mw::unique_handle process(started.hProcess);
    const mw::unique_handle thread(started.hThread);

    const HANDLE waits[] = {ready.get(), process.get()};
    const DWORD result = WaitForMultipleObjects(2, waits, FALSE, static_cast<DWORD>(handover_timeout.count()));
    if (result != WAIT_OBJECT_0) {
        if (result != WAIT_OBJECT_0 + 1) {
            // It did not take over in time: it must not start removing while this process does.
            TerminateProcess(process.get(), 1);
            WaitForSingleObject(process.get(), INFINITE);
        }
        return std::nullopt;
    }
    // From here on only the copy holds the writing end: the pipe breaks when the copy ends.
    outcome_writer.reset();
    // Running, the copy no longer needs its file where nobody else can reach it: moved out, the
    // file leaves the work folder empty to be removed now, and is deleted as before when the
    // copy ends (nobody else can open it: it took the work folder's access list along).
    leave_work_folder(image.get());
    DWORD code = 0;
    DWORD read = 0;
    if (ReadFile(outcome.get(), &code, sizeof code, &read, nullptr) && read == sizeof code)
        return code;
    if (WaitForSingleObject(process.get(), INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(process.get(), &code))
        return code;
    return outcome_unknown;
}

} // namespace uninstaller
