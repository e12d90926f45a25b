// Libraries planted beside the programs: a folder holds setup.exe, Uninstall.exe and
// Tilewright.exe with a library under the name of every library they load, and of the ones
// system libraries commonly load for them. Each planted library leaves a marker when a process
// loads it.
//
// Wine runs its own built-in library in place of a native one of the same name unless told to
// prefer the native one: the planted programs run with the planted names set to "native, then
// built-in", so that Wine prefers the program's folder as Windows does. Some planted libraries
// then load before a program's first instruction, where no program can keep them out (Wine's
// user32 imports version.dll). A control program that ends right after restricting its search
// measures that set, the same in every run. What a program loads from its folder beyond it is a
// planted library that its own work let in: later loads by bare name that Wine's libraries make
// past the restricted search (the theming's delay load of msimg32.dll, for one, made on some
// runs and not on others, when a themed control first draws). The product's programs load none.
// The same control without the restriction loads every planted library it asks for: the test
// can fail.

#include "tests/scratch.hpp"
#include "tests/ui_driver/ui_driver.hpp"
#include "support/unique_handle.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using namespace std::chrono_literals;

// What the programs import or load at run time (version.dll, bcrypt.dll, the cryptographic
// provider behind advapi32), and what system libraries are known to load by bare name for a
// program: each would be looked for in the program's folder first without the restriction.
const std::vector<std::wstring> planted_names = {
    L"version.dll",  L"bcrypt.dll",   L"rsaenh.dll",      L"cryptsp.dll",       L"cryptbase.dll",
    L"shfolder.dll", L"dwmapi.dll",   L"uxtheme.dll",     L"propsys.dll",       L"profapi.dll",
    L"sspicli.dll",  L"secur32.dll",  L"msimg32.dll",     L"winmm.dll",         L"userenv.dll",
    L"netapi32.dll", L"textshaping.dll", L"wtsapi32.dll", L"windowscodecs.dll", L"oleacc.dll",
    L"apphelp.dll",  L"ntmarta.dll",  L"mpr.dll",         L"dbghelp.dll",       L"wintrust.dll",
    L"crypt32.dll",  L"msasn1.dll",   L"iphlpapi.dll",    L"riched20.dll",      L"comctl32.dll",
};

// Wine's user32 loads uxtheme.dll while it attaches, before a program's first instruction, and
// calls into it: a planted one without its functions ends any program with a window. It stays
// planted, with Wine's own preference.
const std::wstring loaded_by_wine_before_any_program_code = L"uxtheme.dll";

const wchar_t* const planted_programs[] = {L"setup.exe", L"Uninstall.exe", L"Tilewright.exe",
                                           L"planting_control.exe"};

// Wine's per-program library preferences (HKCU\Software\Wine\AppDefaults\<program>\DllOverrides):
// the planted names native first for the planted programs while the object lives. Its own
// environment cannot tell a child process so: Wine takes WINEDLLOVERRIDES from the Unix
// environment it starts with. Elsewhere the preference finds the system's own libraries.
class native_first_preference {
public:
    // Throws std::system_error when a preference cannot be written.
    native_first_preference()
    {
        for (const wchar_t* program : planted_programs) {
            mw::unique_hkey key;
            check(RegCreateKeyExW(HKEY_CURRENT_USER, overrides_key(program).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, key.put(), nullptr));
            static constexpr wchar_t native_first[] = L"native,builtin";
            for (const std::wstring& name : planted_names)
                if (name != loaded_by_wine_before_any_program_code)
                check(RegSetValueExW(key.get(), name.substr(0, name.size() - 4).c_str(), 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(native_first), sizeof native_first));
        }
    }
    ~native_first_preference()
    {
        for (const wchar_t* program : planted_programs)
            RegDeleteTreeW(HKEY_CURRENT_USER, overrides_key(program).c_str());
    }
    native_first_preference(const native_first_preference&) = delete;
    native_first_preference& operator=(const native_first_preference&) = delete;

private:
    static void check(LSTATUS status)
    {
        if (status != ERROR_SUCCESS)
            throw std::system_error(static_cast<int>(status), std::system_category(), "Wine's library preferences");
    }
    static std::wstring overrides_key(const wchar_t* program)
    {
        return std::wstring{L"Software\\Wine\\AppDefaults\\"} + program + L"\\DllOverrides";
    }
};

class dll_planting : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const wchar_t* program : planted_programs)
            copy(program_beside_tests(program), folder_ / program);
        for (const std::wstring& name : planted_names)
            copy(program_beside_tests(L"planted_library.dll"), folder_ / name);
    }

    static void copy(const std::wstring& from, const std::wstring& to)
    {
        ASSERT_TRUE(CopyFileW(from.c_str(), to.c_str(), FALSE)) << fs::path(from) << ": " << GetLastError();
    }

    // Starts a program of the planted folder, with the markers' folder in its environment.
    child_process start(const std::wstring& command) const
    {
        return child_process{L"\"" + (folder_ / L"") + command,
                             {{L"MW_PLANTED_MARKERS", markers_.path().wstring()}}};
    }

    // The markers left so far ("version.dll.loaded"), sorted; cleared by the call.
    std::vector<std::wstring> take_markers() const
    {
        std::vector<std::wstring> names;
        for (const auto& entry : fs::directory_iterator(markers_.path())) {
            names.push_back(entry.path().filename().wstring());
            fs::remove(entry.path());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // Runs the control program with `arguments` to its end; its markers.
    std::vector<std::wstring> run_control(const std::wstring& arguments)
    {
        child_process control = start(L"planting_control.exe\" " + arguments);
        EXPECT_EQ(control.wait_for_exit(), 0u);
        return take_markers();
    }

    scratch_folder folder_;
    scratch_folder markers_;
    native_first_preference preference_;
};

bool holds(const std::vector<std::wstring>& markers, const wchar_t* marker)
{
    return std::find(markers.begin(), markers.end(), marker) != markers.end();
}

constexpr const char* no_planting_here =
    "this Wine runs its built-in version.dll even for a program that imports it, restricts nothing and "
    "is told to prefer native libraries: a planted library cannot be shown to load here";

// Ends a program by the way a user would: its message boxes answered with the first of
// `preferred` that they offer (else their first button), its main window closed once. The exit
// code, or empty when it still ran after `timeout`.
std::optional<DWORD> run_to_end(child_process& program, const std::vector<int>& preferred,
                                std::chrono::milliseconds timeout)
{
    bool closed = false;
    wait_until(
        [&] {
            if (!program.running())
                return true;
            if (const auto box = find_message_box(program.id())) {
                const auto choice = std::find_first_of(preferred.begin(), preferred.end(), box->buttons.begin(),
                                                       box->buttons.end());
                answer(*box, choice != preferred.end() ? *choice : box->buttons.at(0));
                wait_for_window_closed(box->window);
            } else if (HWND window = find_window({.class_name = L"#32770", .process_id = program.id()});
                       window && !closed) {
                close_window(window);
                closed = true;
            }
            return false;
        },
        timeout);
    return program.wait_for_exit(0ms);
}

TEST_F(dll_planting, the_control_loads_the_planted_libraries_unless_it_restricts_the_search)
{
    const auto unrestricted = run_control(L"");
    if (!holds(unrestricted, L"version.dll.loaded"))
        GTEST_SKIP() << no_planting_here;
    // The import and the run-time load by bare name both take the planted library.
    EXPECT_EQ(unrestricted, (std::vector<std::wstring>{L"bcrypt.dll.loaded", L"version.dll.loaded"}));
    // Restricted, the run-time load goes to the system folder; the import is resolved before the
    // program's first instruction: only an import table without version.dll keeps it out.
    EXPECT_EQ(run_control(L"/restricted"), std::vector<std::wstring>{L"version.dll.loaded"});
}

TEST_F(dll_planting, the_programs_load_nothing_beyond_what_loads_before_their_first_instruction)
{
    if (!holds(run_control(L""), L"version.dll.loaded"))
        GTEST_SKIP() << no_planting_here;
    // What loads for a program before its first instruction.
    const auto system_loads = run_control(L"/restricted /at_once");
    std::wstring listed;
    for (const auto& marker : system_loads)
        listed += marker + L' ';
    RecordProperty("system_loads", fs::path(listed).string());
    struct program_case {
        const wchar_t* program;
        const wchar_t* arguments;
        std::vector<int> answers; // the buttons that end it
    };
    const program_case cases[] = {
        {L"setup.exe", L"", {IDYES, IDOK}},        // the wizard, closed and the exit confirmed
        {L"Uninstall.exe", L"", {IDOK, IDCANCEL}}, // nothing installed beside it: its box answered
        {L"Tilewright.exe", L" /mw_no_such_switch", {IDOK}}, // its box about the bad switch answered
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(fs::path(c.program).string());
        child_process program = start(std::wstring{c.program} + L"\"" + c.arguments);
        // Its first window shows that it came up with every library it needs.
        ASSERT_TRUE(wait_for_window({.class_name = L"#32770", .process_id = program.id()}, 20s));
        EXPECT_TRUE(run_to_end(program, c.answers, 30s).has_value());
        const auto markers = take_markers();
        for (const auto& marker : markers)
            EXPECT_TRUE(holds(system_loads, marker.c_str()))
                << fs::path(marker) << " loaded from the program's folder; before its first instruction only "
                << fs::path(listed);
        EXPECT_FALSE(holds(markers, L"bcrypt.dll.loaded"));
    }
}

} // namespace
