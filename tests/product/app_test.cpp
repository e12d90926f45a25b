// The Tilewright program as the setup and a user run it: the registration runs, the
// instance count, and the window with a layout.

#include "product/tilewright/main_window.hpp"
#include "support/paths.hpp"
#include "support/sync_objects.hpp"

#include "tests/product/product_support.hpp"
#include "tests/ui_driver/ui_driver.hpp"

#include <gtest/gtest.h>

namespace {

using namespace product_testing;
using namespace testing_support;

const std::optional<DWORD> ran_registration{exit_registered};

// Runs a program of the product to its end: its exit code, empty when it still ran after 30 s.
std::optional<DWORD> run(const std::wstring& command_line)
{
    return run_program(command_line, std::chrono::seconds(30));
}

const std::wstring company = L"Software\\Marrowind Works";

class registration_run : public ::testing::Test {
protected:
    void SetUp() override { clear_registration(); }
    void TearDown() override { clear_registration(); }
    const fs::path program = built_program();
};

TEST_F(registration_run, writes_the_path_and_the_layout_type_and_unregistering_restores_the_registry)
{
    // Another product of the maker keeps its own value under the same key.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, company.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::wstring other = L"C:\\Other\\Other.exe";
    RegSetValueExW(key, L"Other Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(other.c_str()),
                   static_cast<DWORD>((other.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    const std::wstring before = export_registration();

    ASSERT_EQ(run(quoted(program) + L" /Register /Background"), ran_registration);
    EXPECT_TRUE(mw::same_path(read_string(HKEY_LOCAL_MACHINE, company, L"Tilewright Path"), program.wstring()));
    EXPECT_EQ(read_string(HKEY_LOCAL_MACHINE, company, L"Other Path"), other);
    EXPECT_EQ(read_string(HKEY_CLASSES_ROOT, L".cal", nullptr), L"Tilewright.Layout");
    EXPECT_EQ(read_string(HKEY_CLASSES_ROOT, L"Tilewright.Layout", nullptr), L"Tilewright Layout");
    const std::wstring registered_path = read_string(HKEY_LOCAL_MACHINE, company, L"Tilewright Path");
    EXPECT_EQ(read_string(HKEY_CLASSES_ROOT, L"Tilewright.Layout\\DefaultIcon", nullptr), registered_path + L",1");
    EXPECT_EQ(read_string(HKEY_CLASSES_ROOT, L"Tilewright.Layout\\shell\\open\\command", nullptr),
              L"\"" + registered_path + L"\" \"%1\"");
    EXPECT_EQ(read_string(HKEY_LOCAL_MACHINE, company + L"\\Tilewright", L"Replaced Version"), L"(missing)");
    EXPECT_NE(export_registration(), before);

    EXPECT_EQ(run(quoted(program) + L" /Unregister /Background"), ran_registration);
    EXPECT_EQ(export_registration(), before);
}

TEST_F(registration_run, records_the_version_an_update_replaced)
{
    const std::wstring before = export_registration();
    ASSERT_EQ(run(quoted(program) + L" /Register /Background /update=0001001400000003"), ran_registration);
    EXPECT_EQ(read_string(HKEY_LOCAL_MACHINE, company + L"\\Tilewright", L"Replaced Version"), L"1.20.0.3");
    EXPECT_TRUE(mw::same_path(read_string(HKEY_LOCAL_MACHINE, company, L"Tilewright Path"), program.wstring()));
    EXPECT_EQ(run(quoted(program) + L" /Unregister /Background"), ran_registration);
    EXPECT_EQ(export_registration(), before);
}

TEST_F(registration_run, fails_on_a_bad_line_without_touching_the_registry)
{
    const std::wstring before = export_registration();
    for (const wchar_t* arguments : {L" /Register /Background /update=1234", L" /Register /Unregister /Background",
                                     L" /Register /Background Hall.cal", L" /Background /Frobnicate"}) {
        const std::optional<DWORD> code = run(quoted(program) + arguments);
        EXPECT_NE(code, ran_registration) << fs::path(arguments);
        EXPECT_TRUE(code) << "still running: " << fs::path(arguments);
        EXPECT_EQ(export_registration(), before) << fs::path(arguments);
    }
}

TEST_F(registration_run, unregistering_another_copy_leaves_the_registered_one_alone)
{
    const product_copy stale;
    const std::wstring before = export_registration();
    ASSERT_EQ(run(quoted(program) + L" /Register /Background"), ran_registration);
    const std::wstring registered = export_registration();
    EXPECT_EQ(run(quoted(stale.program()) + L" /Unregister /Background"), ran_registration);
    EXPECT_EQ(export_registration(), registered);
    EXPECT_EQ(run(quoted(program) + L" /Unregister /Background"), ran_registration);
    EXPECT_EQ(export_registration(), before);
}

// The running program, started on a layout of a product copy, and its main window.
class running_program : public ::testing::Test {
protected:
    const product_copy copy;
    HWND start(const std::wstring& arguments)
    {
        app_ = std::make_unique<child_process>(quoted(copy.program()) + arguments);
        return wait_for_window({.class_name = tilewright::main_window_class, .process_id = app_->id()});
    }
    std::optional<DWORD> close(HWND window)
    {
        close_window(window);
        return app_->wait_for_exit();
    }
    child_process& app() { return *app_; }
    // Presses OK in a message box and waits until it is gone.
    static void dismiss(const message_box& box)
    {
        answer(box, IDOK);
        EXPECT_TRUE(wait_for_window_closed(box.window));
    }

private:
    std::unique_ptr<child_process> app_;
};

TEST_F(running_program, counts_itself_in_the_instance_semaphore_while_it_runs)
{
    // This test counts itself too, as a setup does.
    const mw::instance_semaphore self(mw::instance_semaphore_name(L"Tilewright"));
    ASSERT_EQ(self.running_instances(), 1);
    HWND window = start(L" " + quoted(copy.sample(L"Courtyard.cal")));
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(self.running_instances(), 2);
    EXPECT_EQ(close(window), 0u);
    EXPECT_EQ(self.running_instances(), 1);
}

TEST_F(running_program, opens_the_layout_it_is_given)
{
    HWND window = start(L" " + quoted(copy.sample(L"Kitchen_Floor.cal")));
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window_text(window), L"Kitchen Floor \u2013 Tilewright");
    // No message box: the layout, its modules and its textures were all read.
    EXPECT_EQ(wait_for_window({.class_name = L"#32770", .process_id = app().id()}, std::chrono::milliseconds(300)),
              nullptr);
    EXPECT_EQ(close(window), 0u);
}

TEST_F(running_program, reports_a_damaged_layout_with_its_line)
{
    const fs::path broken = copy.folder() / L"Broken.cal";
    testing_support::write_bytes(broken, "tilewright-layout 1\nsize 4 4\narea 0 0 4 4 Grid\nslot a ../../Oak\n");
    HWND window = start(L" " + quoted(broken));
    ASSERT_NE(window, nullptr);
    const std::optional<message_box> box = wait_for_message_box(app().id());
    ASSERT_TRUE(box);
    const std::wstring text = box->text;
    EXPECT_NE(text.find(L"Line 4: \"../../Oak\" is not a valid value here."), std::wstring::npos)
        << fs::path(text);
    dismiss(*box);
    // The window stays, with no layout.
    EXPECT_EQ(window_text(window), L"Tilewright");
    EXPECT_EQ(close(window), 0u);
}

TEST_F(running_program, speaks_the_language_stored_by_the_setup)
{
    const wchar_t* uninstall = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tilewright";
    const std::wstring before = export_key(HKEY_LOCAL_MACHINE, uninstall);
    HKEY key = nullptr;
    DWORD created = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, uninstall, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &created),
              ERROR_SUCCESS);
    DWORD old_value = 0, old_type = 0, old_size = sizeof old_value;
    const bool had_value = RegQueryValueExW(key, L"MwLanguage", nullptr, &old_type, reinterpret_cast<BYTE*>(&old_value),
                                            &old_size) == ERROR_SUCCESS;
    const DWORD french = 0;
    RegSetValueExW(key, L"MwLanguage", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&french), sizeof french);

    const fs::path broken = copy.folder() / L"Broken.cal";
    testing_support::write_bytes(broken, "tilewright-layout 1\nsize 4 4\nfloor 3\n");
    HWND window = start(L" " + quoted(broken));
    const std::optional<message_box> box = window ? wait_for_message_box(app().id()) : std::nullopt;
    const std::wstring text = box ? box->text : L"";
    if (box)
        dismiss(*box);
    if (window) {
        EXPECT_EQ(close(window), 0u);
    }

    if (had_value)
        RegSetValueExW(key, L"MwLanguage", 0, old_type, reinterpret_cast<const BYTE*>(&old_value), old_size);
    else
        RegDeleteValueW(key, L"MwLanguage");
    RegCloseKey(key);
    if (created == REG_CREATED_NEW_KEY)
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, uninstall);
    EXPECT_EQ(export_key(HKEY_LOCAL_MACHINE, uninstall), before);

    ASSERT_TRUE(box);
    EXPECT_NE(text.find(L"Ligne 3 : Instruction inconnue \u00AB floor \u00BB."), std::wstring::npos) << fs::path(text);
}

} // namespace
