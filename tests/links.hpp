#pragma once
// Links as a user who may write a folder plants them there. Under Wine, Windows' own call makes
// none (CreateSymbolicLinkW returns TRUE and makes nothing), but a symbolic link made from the
// Unix side is to a program what a junction or a symbolic link is on Windows: the path shows a
// reparse point, and what is opened through it is the target. The Unix shell makes it, started
// from here.

#include <windows.h>

#include <stdexcept>
#include <string>

namespace testing_support {

namespace details {

using unix_file_name_function = char*(CDECL*)(LPCWSTR);

inline unix_file_name_function unix_file_name()
{
    return reinterpret_cast<unix_file_name_function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
}

inline std::wstring unix_path_of(const std::wstring& path)
{
    char* name = unix_file_name()(path.c_str());
    if (!name)
        throw std::runtime_error("no Unix name for a path");
    const std::string utf8{name};
    HeapFree(GetProcessHeap(), 0, name);
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                            static_cast<int>(wide.size()))));
    if (wide.find(L'\'') != std::wstring::npos)
        throw std::runtime_error("a quote in a path to link");
    return wide;
}

} // namespace details

// Whether links can be made here: Wine, with its Unix side.
inline bool can_make_links() { return details::unix_file_name() != nullptr; }

inline constexpr const char* no_links_here =
    "links are made from Wine's Unix side, and this is no Wine: make a junction with the system's own tools";

namespace details {

// Runs `command` in the Unix shell, and waits until `done` says that it has done its work: Wine
// gives no handle of a Unix program's process, so neither its end nor its exit code can be had. Throws std::runtime_error when the shell does
// not start or `done` does not come true within 30 s.
template <class Done>
void run_unix_shell(const std::wstring& command, Done done)
{
    std::wstring line = L"Z:\\bin\\sh -c \"" + command + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &started))
        throw std::runtime_error("the Unix shell did not start: " + std::to_string(GetLastError()));
    // Wine gives no process handle for a Unix program, and a thread "handle" that is none: closing
    // it would close another handle of this process (measured). Real ones are closed.
    if (started.hProcess) {
        WaitForSingleObject(started.hProcess, 30000);
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
    }
    for (int waited = 0; !done(); waited += 20) {
        if (waited > 30000)
            throw std::runtime_error("the Unix shell did not do its work");
        Sleep(20);
    }
}

inline bool exists(const std::wstring& path)
{
    WIN32_FIND_DATAW found{};
    const HANDLE find = FindFirstFileW(path.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    FindClose(find);
    return true;
}

} // namespace details

// Makes `link` (which must not exist) a link to the folder or file `target` (which exists). Throws std::runtime_error when it cannot.
inline void make_link(const std::wstring& target, const std::wstring& link)
{
    details::run_unix_shell(L"ln -s '" + details::unix_path_of(target) + L"' '" + details::unix_path_of(link) + L"'",
                            [&] { return details::exists(link); });
}

// Removes the link `link` itself (Windows' calls refuse a link to a folder here).
inline void remove_link(const std::wstring& link)
{
    details::run_unix_shell(L"rm '" + details::unix_path_of(link) + L"'", [&] { return !details::exists(link); });
}

} // namespace testing_support
