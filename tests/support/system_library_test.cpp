// Libraries of the system loaded from the system folder only.

#include "support/system_library.hpp"
#include "tests/ui_driver/ui_driver.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

fs::path system_folder()
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring{folder, length};
}

fs::path module_path(HMODULE module)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    return std::wstring{path, length};
}

TEST(load_system_library, takes_libraries_from_the_system_folder_only)
{
    // planted_library.dll lies beside this program, where an ordinary load finds it.
    ASSERT_TRUE(fs::exists(testing_support::program_beside_tests(L"planted_library.dll")));
    struct load_case {
        const wchar_t* name;
        bool loaded;
    };
    const load_case cases[] = {
        {L"version.dll", true},
        {L"VERSION.DLL", true},
        {L"planted_library.dll", false},
        {L"mw_no_such_library.dll", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(fs::path(c.name).string());
        SetLastError(ERROR_SUCCESS);
        const mw::unique_hmodule module = mw::load_system_library(c.name);
        const DWORD error = GetLastError();
        ASSERT_EQ(static_cast<bool>(module), c.loaded) << error;
        if (c.loaded) {
            EXPECT_TRUE(fs::equivalent(module_path(module.get()).parent_path(), system_folder()))
                << module_path(module.get());
        } else {
            EXPECT_EQ(error, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
        }
    }
}

TEST(system_function, finds_a_function_and_answers_null_otherwise)
{
    const mw::unique_hmodule module = mw::load_system_library(L"version.dll");
    ASSERT_TRUE(module);
    using query = decltype(&VerQueryValueW);
    EXPECT_NE(mw::system_function<query>(module.get(), "VerQueryValueW"), nullptr);
    EXPECT_EQ(mw::system_function<query>(module.get(), "mw_no_such_function"), nullptr);
    EXPECT_EQ(mw::system_function<query>(nullptr, "VerQueryValueW"), nullptr);
}

} // namespace
