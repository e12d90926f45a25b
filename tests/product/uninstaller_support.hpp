#pragma once
// Test support for the uninstall program: a small product installed as the setup installs it
// (the payload engine unpacks a test archive, every step recorded in an uninstall log, the
// shortcuts, the uninstall entry, the application's registration and Uninstall.ulog), and
// snapshots of files and registry keys to compare before and after.

#include "product/uninstaller/removal.hpp"
#include "support/uninstall_log.hpp"
#include "tests/scratch.hpp"

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace uninstaller_testing {

// Every folder and file at and below `root` (the root included when it exists), one line
// each: the full path, and the size for a file. Sorted; empty when the root does not exist.
std::vector<std::wstring> file_snapshot(const std::filesystem::path& root);

// Every key at and below `root`\`path` with its values (name, type and data in hexadecimal),
// one line each. Sorted; empty when the key does not exist.
std::vector<std::wstring> registry_snapshot(HKEY root, const std::wstring& path);

// A module, a sample, a plain file: the archive's user files, by their name when installed.
// The modules and the sample hold the bytes the product ships under their names.
inline constexpr wchar_t first_module[] = L"Grid.lbm";
inline constexpr wchar_t second_module[] = L"Herringbone.lbm";

// Where the test product goes.
enum class placement {
    // All but its data folder inside a scratch folder, where the programs folder and the
    // desktop exist before the installation; the data folder ("<CommonData>\\MwUninstallTest-…")
    // in the machine's common data folder. For the removal in the test's process, told the
    // places (see places()).
    scratch,
    // The installation folder in a scratch folder, everything else where the setup puts it:
    // the data in "<CommonData>\\Marrowind Works", the samples on the common desktop, the
    // shortcuts in the common programs folder and on the common desktop. For the real uninstall
    // program, which finds the places itself; under the product's names: one at a time.
    machine,
};

struct product_layout {
    explicit product_layout(placement where = placement::scratch);
    ~product_layout();
    product_layout(const product_layout&) = delete;
    product_layout& operator=(const product_layout&) = delete;

    placement where;
    testing_support::scratch_folder root;
    std::wstring data_name; // the data folder's name under the common data folder
    std::wstring data;      // full path of the data folder
    std::wstring install;   // root\Program Files\Marrowind Works\Tilewright
    std::wstring programs;  // root\Start Menu\Programs (machine: the common programs folder)
    std::wstring desktop;   // root\Desktop (machine: the common desktop)
    std::wstring samples;   // desktop\Tilewright Examples
    std::wstring temp;      // the setup's temporary folder
    std::wstring application; // install\Tilewright.exe (the fixture application)
    std::wstring uninstaller; // install\Uninstall.exe (the real uninstall program)
    std::wstring log_file;    // install\Uninstall.ulog
    std::wstring module(const wchar_t* name) const; // a module in data\Modules\Tilewright

    // Everything the installation can touch: file_snapshot of root and of data (machine: and of
    // the samples and the shortcuts), sorted together.
    std::vector<std::wstring> files() const;
    // Where the product installs in this layout, as the uninstall program finds it.
    uninstaller::product_places places() const;
    // The shortcut's name.
    static constexpr wchar_t link_name[] = L"Tilewright 1.22a.lnk";

private:
    // Machine placement: removes the product's data, samples and shortcuts.
    void remove_machine_leftovers() const;
};

struct install_options {
    std::wstring key_name = L"Tilewright"; // the uninstall subkey
    std::uint32_t language = 1;            // "MwLanguage"
    std::wstring fixture_class;            // the file type the application registers (MW_FIXTURE_CLASS)
    // The program installed as Tilewright.exe, beside the tests: the fixture, or the real one.
    std::wstring application = L"uninstaller_fixture_app.exe";
};

// Installs the test product into `layout` and writes its Uninstall.ulog; returns the log as the
// setup leaves it (its `current` records). Fails the test (fatally) when a step fails.
mw::uninstall_log install_product(const product_layout& layout, const install_options& options);

// The file names of the uninstall program's copies in the temporary folder, and of the work
// folders there ("mw-" and 8 characters), these with a trailing backslash.
std::vector<std::wstring> uninstaller_copies();

// The registry keys a test product touches: its uninstall entry, the fixture's file type, and
// what the real application registers (the maker's key, ".cal" and its class).
std::vector<std::wstring> product_registry(const install_options& options);

} // namespace uninstaller_testing
