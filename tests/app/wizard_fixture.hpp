#pragma once
// The fixtures of the cases that drive the real setup.exe: the product's leftovers removed
// before and after each case, the setup's saved window size kept aside; and for a fault, the
// whole machine before the attempt to compare with after it.

#include "app/strings.hpp"
#include "resources/resource_ids.h"
#include "tests/app/wizard_support.hpp"
#include "tests/scratch.hpp"

#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace wizard_testing {

// The setup starts in the language of the user, as this process does.
class wizard_case : public ::testing::Test {
protected:
    void SetUp() override
    {
        setup::set_language(setup::pick_user_language(setup::setup_languages));
        CoInitialize(nullptr);
        remove_leftovers();
        before = take_snapshot();
    }
    void TearDown() override
    {
        remove_leftovers();
        CoUninitialize();
    }

    installer_size_guard size_guard;
    machine_snapshot before;
    const default_places where = places();
};

// A fault, and the whole machine after it compared with the machine before the attempt. The
// test's own scratch folder (the damaged setup copies, the folders it types) is the test's, not
// the setup's. These cases run alone.
class wizard_failure : public wizard_case {
protected:
    void SetUp() override
    {
        wizard_case::SetUp();
        machine_before = machine_now();
    }

    // The whole machine but the test's own scratch folder.
    std::vector<std::wstring> machine_now() const
    {
        std::vector<std::wstring> lines = whole_machine();
        const std::wstring own = scratch.path().wstring();
        std::erase_if(lines, [&](const std::wstring& line) {
            return line.size() > own.size() && CompareStringOrdinal(line.c_str(), static_cast<int>(own.size()), own.c_str(),
                                                                    static_cast<int>(own.size()), TRUE) == CSTR_EQUAL;
        });
        return lines;
    }

    // A quick installation through the real setup started with `command`, run to its end; it
    // must succeed.
    static void install_quickly(const std::wstring& command = setup_command())
    {
        wizard setup{command};
        ASSERT_TRUE(setup.next_to(mode_page));
        ASSERT_TRUE(setup.next_to(install_page));
        ASSERT_TRUE(setup.install());
        EXPECT_EQ(setup.status(install_page), hint(IDS_CONTINUE, IDS_NEXT)) << "the installation succeeds";
        finish(setup);
    }

    // Finishes a run that succeeded: the end page, Exit, and the setup's exit code 0.
    static void finish(wizard& setup)
    {
        ASSERT_TRUE(setup.next_to(end_page));
        setup.press(IDC_EXIT);
        EXPECT_EQ(setup.process.wait_for_exit(), std::optional<DWORD>(0));
    }

    // Without the fault, the real setup installs; its installation is then removed, and the
    // machine is as it was before the attempt.
    void expect_another_attempt_succeeds()
    {
        install_quickly();
        EXPECT_TRUE(std::filesystem::exists(where.install_folder + L"\\Tilewright.exe"));
        EXPECT_TRUE(uninstall(where.install_folder));
        EXPECT_EQ(difference(machine_before, machine_now()), L"") << "after the second attempt and its removal";
    }

    testing_support::scratch_folder scratch;
    const std::wstring damaged_setup = scratch / L"setup.exe";
    std::vector<std::wstring> machine_before;
};

} // namespace wizard_testing
