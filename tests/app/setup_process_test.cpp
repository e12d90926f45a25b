// The setup program started as a process of its own, refusing to run beside another setup and
// waiting while the application runs.

#include "app/strings.hpp"
#include "resources/resource_ids.h"
#include "support/sync_objects.hpp"
#include "tests/ui_driver/ui_driver.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>

namespace {

using namespace testing_support;

const std::wstring application_id = L"Tilewright";

std::wstring setup_program() { return L"\"" + program_beside_tests(L"setup.exe") + L"\""; }

TEST(setup_process, a_second_setup_shows_the_busy_text_and_ends)
{
    // This process plays the first setup: it holds the setup mutex.
    mw::unique_handle mutex = mw::global_sync_object(mw::sync_object_kind::mutex,
                                                     application_id + L".{5ead623c-dfcd-474d-8e3c-e6978cac039e}");
    ASSERT_TRUE(mutex);
    ASSERT_EQ(WaitForSingleObject(mutex.get(), 0), WAIT_OBJECT_0);
    child_process second{setup_program()};
    const auto box = wait_for_message_box(second.id());
    ASSERT_TRUE(box);
    // The system's text of ERROR_BUSY in the language the setup starts in (the refusal comes
    // before the language choice), without its line break.
    wchar_t* busy = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
        ERROR_BUSY, LANGIDFROMLCID(setup::current_language().lcid), reinterpret_cast<LPWSTR>(&busy), 0, nullptr);
    ASSERT_GT(length, 0u);
    std::wstring expected{busy, length};
    LocalFree(busy);
    expected.erase(expected.find_last_not_of(L"\r\n ") + 1);
    EXPECT_EQ(box->text, expected);
    answer(*box, box->buttons.at(0));
    EXPECT_EQ(second.wait_for_exit(), 0u);
    ReleaseMutex(mutex.get());
}

TEST(setup_process, waits_while_the_application_runs_and_retries)
{
    // This process plays the running application: it holds a unit of the instance semaphore.
    std::optional<mw::instance_semaphore> application{std::in_place, mw::instance_semaphore_name(application_id)};
    child_process setup{setup_program()};
    auto box = wait_for_message_box(setup.id());
    ASSERT_TRUE(box);
    EXPECT_NE(box->text.find(L"Tilewright"), std::wstring::npos) << box->text;
    EXPECT_EQ(box->buttons, (std::vector<int>{IDRETRY, IDCANCEL}));

    answer(*box, IDRETRY); // still running: asked again
    ASSERT_TRUE(wait_for_window_closed(box->window));
    box = wait_for_message_box(setup.id());
    ASSERT_TRUE(box);

    application.reset(); // the application ends
    answer(*box, IDRETRY);
    ASSERT_TRUE(wait_for_window_closed(box->window));
    // From now on the setup asks no more: it goes on to its wizard.
    HWND frame = nullptr;
    bool asked_again = false;
    const bool shown = wait_until([&] {
        asked_again = asked_again || find_message_box(setup.id()).has_value();
        frame = find_window({.class_name = L"#32770", .process_id = setup.id()});
        return frame && find_control(frame, IDC_SEPARATOR);
    });
    EXPECT_FALSE(asked_again);
    ASSERT_TRUE(shown);
    close_window(frame); // Exit, confirmed
    const auto question = wait_for_message_box(setup.id());
    ASSERT_TRUE(question);
    answer(*question, IDYES);
    EXPECT_EQ(setup.wait_for_exit(), 0u);
}

TEST(setup_process, cancel_while_the_application_runs_ends_the_setup)
{
    mw::instance_semaphore application{mw::instance_semaphore_name(application_id)};
    child_process setup{setup_program()};
    const auto box = wait_for_message_box(setup.id());
    ASSERT_TRUE(box);
    answer(*box, IDCANCEL);
    EXPECT_EQ(setup.wait_for_exit(), 0u);
}

} // namespace
