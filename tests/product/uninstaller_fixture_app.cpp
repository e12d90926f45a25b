// Stands in for the installed application in the uninstall program's tests. It answers the
// two runs the setup and the uninstall program make:
//   /Register /Background     registers the file type named by MW_FIXTURE_CLASS, if set
//   /Unregister /Background   removes it again
// Every run appends its command line (arguments only, UTF-8, one line each) to the file named
// by MW_FIXTURE_LOG, if set. It exits with -10, as the application does on success, or with the number in
// MW_FIXTURE_EXIT. With MW_FIXTURE_HOLD naming an event, it first waits for that event (a minute
// at most): an application that hangs while it registers. With MW_FIXTURE_HANG set, a
// registration run (/Register) never ends by itself: an application that hangs for good; set to
// "/Unregister", an unregistration run hangs instead. With MW_FIXTURE_MUTEX naming a mutex, the log gets a second line telling whether that mutex was
// free ("setup mutex: free").

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::wstring environment(const wchar_t* name)
{
    wchar_t buffer[1024] = {};
    const DWORD length = GetEnvironmentVariableW(name, buffer, 1024);
    return length > 0 && length < 1024 ? std::wstring(buffer, length) : std::wstring{};
}

bool has_argument(const std::wstring& line, const wchar_t* argument) { return line.find(argument) != std::wstring::npos; }

// The extension ".<name>" and the class "<name>.Document" with its open command.
void register_class(const std::wstring& name)
{
    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    const std::wstring document_class = name + L".Document";
    const std::wstring command = L"\"" + std::wstring(program) + L"\" \"%1\"";
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, (L"." + name).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(document_class.c_str()),
                       static_cast<DWORD>((document_class.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, (document_class + L"\\shell\\open\\command").c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                       static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
}

void unregister_class(const std::wstring& name)
{
    RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"." + name).c_str());
    RegDeleteTreeW(HKEY_CLASSES_ROOT, (name + L".Document").c_str());
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR arguments, int)
{
    const std::wstring line = arguments ? arguments : L"";
    std::string bytes(line.size() * 4, '\0');
    bytes.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()),
                                                              bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr)));
    bytes += '\n';
    if (const std::wstring name = environment(L"MW_FIXTURE_MUTEX"); !name.empty()) {
        // Whether the setup let go of its mutex for this run: taken and given back at once.
        std::string state = "missing";
        if (HANDLE mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str())) {
            const DWORD wait = WaitForSingleObject(mutex, 0);
            const bool free = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
            if (free)
                ReleaseMutex(mutex);
            state = free ? "free" : "held";
            CloseHandle(mutex);
        }
        bytes += "setup mutex: " + state + "\n";
    }
    if (const std::wstring log = environment(L"MW_FIXTURE_LOG"); !log.empty()) {
        if (FILE* file = _wfopen(log.c_str(), L"ab")) {
            std::fwrite(bytes.data(), 1, bytes.size(), file);
            std::fclose(file);
        }
    }
    if (const std::wstring name = environment(L"MW_FIXTURE_CLASS"); !name.empty()) {
        if (has_argument(line, L"/Unregister"))
            unregister_class(name);
        else if (has_argument(line, L"/Register"))
            register_class(name);
    }
    if (const std::wstring hold = environment(L"MW_FIXTURE_HOLD"); !hold.empty()) {
        if (HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, hold.c_str())) {
            WaitForSingleObject(event, 60000);
            CloseHandle(event);
        }
    }
    const std::wstring hang = environment(L"MW_FIXTURE_HANG");
    const bool unregistering = has_argument(line, L"/Unregister");
    if (!hang.empty() && (hang == L"/Unregister" ? unregistering : has_argument(line, L"/Register") && !unregistering)) {
        for (;;)
            Sleep(INFINITE);
    }
    if (const std::wstring code = environment(L"MW_FIXTURE_EXIT"); !code.empty())
        return static_cast<int>(std::wcstol(code.c_str(), nullptr, 10));
    return -10;
}
