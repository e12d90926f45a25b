#pragma once
// Test support for the wizard: the real setup.exe started as a process of its own, its frame
// and pages found and driven through the user-interface driver, the places an installation
// touches taken in snapshots, and an installation removed again with the real uninstall
// program.

#include "tests/ui_driver/ui_driver.hpp"
#include "tools/payload_pack.hpp"

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace wizard_testing {

// The page indexes of the frame, in page order.
enum page : int { start_page = 0, mode_page = 1, options_page = 2, install_page = 3, end_page = 4 };

// How long an installation may take under the slowest way this runs (emulated 32-bit code).
inline constexpr std::chrono::milliseconds installation_timeout{180000};

// The setup program beside the tests, quoted.
std::wstring setup_command(const std::wstring& program = L"setup.exe");

// A running setup with its frame shown.
class wizard {
public:
    // Starts the program and waits for its frame; throws std::runtime_error when no frame comes.
    explicit wizard(const std::wstring& command = setup_command(),
                    std::vector<testing_support::environment_change> environment = {});

    testing_support::child_process process;
    HWND frame = nullptr;

    // The page window of `index` (found by a control only that page has).
    HWND page_window(int index) const;
    // The index of the visible page; -1 when none is visible.
    int current_page() const;
    bool wait_for_page(int index, std::chrono::milliseconds timeout = testing_support::default_timeout) const;
    // Presses Next (1), Exit (2) or Back (3).
    void press(int button) const;
    // Presses Next and waits until page `index` is shown; false when it is not.
    bool next_to(int index) const;
    bool back_to(int index) const;
    // On the mode page: chooses the advanced installation and waits until its button is
    // checked; false when it is not.
    bool choose_advanced_mode() const;
    // On the options page: replaces the folder box's text by `folder`, typed key by key, and
    // waits until the box holds it; false when it does not.
    bool type_folder(const std::wstring& folder) const;
    std::wstring button_text(int button) const;
    bool button_enabled(int button) const;
    std::wstring status(int index) const;
    // Presses Install on the install page and waits until the run has ended (Exit enabled
    // again); true when it ended within the time-out.
    bool install(std::chrono::milliseconds timeout = installation_timeout) const;
};

// Every file and folder, and every registry key and value, that an installation of the
// product can touch: the product's folders under Program Files, the common data folder, the
// Start-menu programs folders, the desktops and the product's keys (the setup's own window
// size, InstallerSize, left out). Sorted lines; compare two for "nothing changed".
struct machine_snapshot {
    std::vector<std::wstring> files;
    std::vector<std::wstring> registry;
    bool operator==(const machine_snapshot&) const = default;
};
machine_snapshot take_snapshot();

// The whole machine as the setup can change it: every folder and file on drive C (with its
// size, CRC-32 and attributes) and every key and value under HKEY_LOCAL_MACHINE\Software,
// HKEY_CURRENT_USER\Software and HKEY_CLASSES_ROOT, one sorted line each, leaving out only
// what the system changes by itself between runs (machine_noise) and, where `without_window_size`,
// the setup's saved window size.
std::vector<std::wstring> whole_machine(bool without_window_size = true);
// The lines only in `before` ("- ") and only in `after` ("+ "), one a line; empty when the two
// are the same.
std::wstring difference(const std::vector<std::wstring>& before, const std::vector<std::wstring>& after);

// A visible top-level window, owned by none, of a process that runs `program` (a full path);
// null when there is none.
HWND application_window(const std::wstring& program);

// Where the wizard installs by default.
struct default_places {
    std::wstring install_folder;  // <Program Files>\Marrowind Works\Tilewright
    std::wstring programs_folder; // the common Start-menu programs folder
    std::wstring desktop;         // the common desktop
    std::wstring common_data;     // the common application data folder
};
default_places places();

// Removes an installation of the product with its own uninstall program (Uninstall.exe in
// `install_folder`), confirming its question and closing its report; true when the program
// and its copy ended with 0. Nothing to do (true) when there is no uninstall program.
bool uninstall(const std::wstring& install_folder);

// Answers the uninstall program's question with Yes and its copy's report, whoever started it;
// true when the copy (and `program`, when given) ended with 0. A refusal (the program shows no
// question) is closed and gives false. `report`, when given, receives the text of the report.
bool answer_removal(testing_support::child_process* program, std::wstring* report = nullptr);

// Removes whatever an earlier, interrupted run may have left of the product: the uninstall
// program where there is one, else the folders, shortcuts and keys themselves.
void remove_leftovers();

// The setup's saved window size: removed, restored.
class installer_size_guard {
public:
    installer_size_guard();
    ~installer_size_guard();
    installer_size_guard(const installer_size_guard&) = delete;
    installer_size_guard& operator=(const installer_size_guard&) = delete;

private:
    std::optional<std::vector<BYTE>> saved_;
    DWORD type_ = 0;
};

// The setup's saved window size (width, height) when the value is there as the setup writes
// it: REG_BINARY of 8 bytes.
std::optional<SIZE> saved_installer_size();
// Writes the value with the given type and bytes.
void write_installer_size(DWORD type, const std::vector<BYTE>& bytes);

// Makes the product look installed, as the start-up detection sees it: the application's
// registered path names `application` (a file with the version to detect), and with a language
// the uninstall entry stores it.
void pretend_installed(const std::wstring& application, std::optional<DWORD> language = std::nullopt);

// A text of the string tables with the caption of a button in it: "Click on 'Next' ...".
std::wstring hint(unsigned sentence, unsigned button);

// The payload the build made, as its items.
std::vector<setup::pack_item> payload_items();
// The payload the build made, compressed, with Tilewright.exe replaced by `application`.
std::string payload_with_application(const std::string& application);

// A copy of setup.exe at `path` whose payload resource holds `payload` instead.
void make_setup_with_payload(const std::wstring& path, const std::string& payload);

// The CRC-32 of a file's bytes.
std::uint32_t file_crc(const std::filesystem::path& path);

} // namespace wizard_testing
