#include "tests/product/uninstaller_support.hpp"

#include "engine/known_folders.hpp"
#include "engine/payload.hpp"
#include "engine/shortcuts.hpp"
#include "engine/uninstall_entry.hpp"
#include "support/memstream.hpp"
#include "support/temp_names.hpp"
#include "tests/ui_driver/ui_driver.hpp"
#include "tools/payload_pack.hpp"

#include <shlobj.h>

#include <fmt/xchar.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace uninstaller_testing {
namespace {

namespace fs = std::filesystem;
using setup::entry_kind;

std::uint32_t kind(entry_kind k) { return static_cast<std::uint32_t>(k); }

std::wstring common_data_folder()
{
    wchar_t folder[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
    return folder;
}

void remove_tree(const fs::path& path)
{
    std::error_code ec;
    if (!fs::exists(path, ec))
        return;
    for (auto& entry : fs::recursive_directory_iterator(path, ec))
        SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(path, ec);
}

std::wstring hex(const BYTE* data, DWORD size)
{
    std::wstring text;
    for (DWORD i = 0; i < size; ++i)
        text += fmt::format(L"{:02x}", data[i]);
    return text;
}

void snapshot_key(HKEY key, const std::wstring& name, std::vector<std::wstring>& lines)
{
    lines.push_back(name);
    // Buffers as large as the key's longest value name and data, so that no value is cut short.
    DWORD longest_name = 0;
    DWORD longest_data = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longest_name, &longest_data,
                     nullptr, nullptr);
    std::vector<wchar_t> value(longest_name + 1);
    std::vector<BYTE> data(longest_data + 1);
    for (DWORD i = 0;; ++i) {
        DWORD value_size = static_cast<DWORD>(value.size());
        DWORD data_size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (RegEnumValueW(key, i, value.data(), &value_size, nullptr, &type, data.data(), &data_size) != ERROR_SUCCESS)
            break;
        lines.push_back(fmt::format(L"{} : {} = {}:{}", name, std::wstring_view(value.data(), value_size), type,
                                    hex(data.data(), data_size)));
    }
    std::vector<std::wstring> subkeys;
    for (DWORD i = 0;; ++i) {
        wchar_t subkey[256];
        DWORD size = 256;
        if (RegEnumKeyExW(key, i, subkey, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        subkeys.emplace_back(subkey, size);
    }
    for (const auto& subkey : subkeys) {
        HKEY child = nullptr;
        if (RegOpenKeyExW(key, subkey.c_str(), 0, KEY_READ, &child) == ERROR_SUCCESS) {
            snapshot_key(child, name + L"\\" + subkey, lines);
            RegCloseKey(child);
        }
    }
}

} // namespace

std::vector<std::wstring> file_snapshot(const fs::path& root)
{
    std::vector<std::wstring> lines;
    std::error_code ec;
    if (!fs::exists(root, ec))
        return lines;
    lines.push_back(root.wstring() + L"\\");
    for (auto& entry : fs::recursive_directory_iterator(root, ec)) {
        if (entry.is_directory(ec))
            lines.push_back(entry.path().wstring() + L"\\");
        else
            lines.push_back(fmt::format(L"{} ({} bytes)", entry.path().wstring(), entry.file_size(ec)));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::wstring> registry_snapshot(HKEY root, const std::wstring& path)
{
    std::vector<std::wstring> lines;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return lines;
    snapshot_key(key, path, lines);
    RegCloseKey(key);
    std::sort(lines.begin(), lines.end());
    return lines;
}

product_layout::product_layout(placement where)
    : where(where),
      data_name(where == placement::machine
                    ? std::wstring(L"Marrowind Works")
                    : fs::path(mw::unique_temp_path(L"MwUninstallTest-%%%%%%%%")).filename().wstring()),
      data(common_data_folder() + L"\\" + data_name),
      install(root / L"Program Files\\Marrowind Works\\Tilewright"),
      programs(where == placement::machine ? setup::csidl_folder(CSIDL_COMMON_PROGRAMS) : root / L"Start Menu\\Programs"),
      desktop(where == placement::machine ? setup::csidl_folder(CSIDL_COMMON_DESKTOPDIRECTORY) : root / L"Desktop"),
      samples(desktop + L"\\Tilewright Examples"),
      temp(root / L"Setup Temp"),
      application(install + L"\\Tilewright.exe"),
      uninstaller(install + L"\\Uninstall.exe"),
      log_file(install + L"\\Uninstall.ulog")
{
    remove_machine_leftovers();
    // The system's folders exist before any setup runs.
    fs::create_directories(programs);
    fs::create_directories(desktop);
}

product_layout::~product_layout()
{
    remove_tree(data);
    remove_machine_leftovers();
}

void product_layout::remove_machine_leftovers() const
{
    if (where != placement::machine)
        return;
    remove_tree(data);
    remove_tree(samples);
    std::error_code ec;
    fs::remove(fs::path(programs) / link_name, ec);
    fs::remove(fs::path(desktop) / link_name, ec);
}

std::wstring product_layout::module(const wchar_t* name) const
{
    return data + L"\\Modules\\Tilewright\\" + name;
}

std::vector<std::wstring> product_layout::files() const
{
    std::vector<std::wstring> lines = file_snapshot(root.path());
    auto add = [&lines](const std::vector<std::wstring>& more) { lines.insert(lines.end(), more.begin(), more.end()); };
    add(file_snapshot(data));
    if (where == placement::machine) {
        add(file_snapshot(samples));
        for (const std::wstring& folder : {programs, desktop}) {
            std::error_code ec;
            const fs::path link = fs::path(folder) / link_name;
            if (fs::exists(link, ec))
                lines.push_back(fmt::format(L"{} ({} bytes)", link.wstring(), fs::file_size(link, ec)));
        }
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

uninstaller::product_places product_layout::places() const
{
    uninstaller::product_places places;
    places.install_folder = install;
    places.data_folders = {data + L"\\Modules\\Tilewright", data + L"\\Textures\\Tilewright"};
    places.sample_parents = {desktop};
    places.link_folders = {programs, desktop};
    places.bases = {root.path().wstring(), common_data_folder(), programs, desktop};
    return places;
}

mw::uninstall_log install_product(const product_layout& layout, const install_options& options)
{
    using testing_support::read_bytes;
    auto shipped = [](const wchar_t* folder, const wchar_t* name) {
        return read_bytes(fs::path(MW_PRODUCT_CONTENT) / folder / name);
    };
    const std::wstring data_variable = L"<CommonData>\\" + layout.data_name;
    const std::vector<setup::pack_item> items{
        {L"Tilewright.exe", L"<InstallPath>", kind(entry_kind::main_executable),
         read_bytes(testing_support::program_beside_tests(options.application))},
        {L"Uninstall.exe", L"<InstallPath>", kind(entry_kind::uninstaller),
         read_bytes(testing_support::program_beside_tests(L"Uninstall.exe"))},
        {L"Tilewright_fr.dll", L"<InstallPath>\\Lang", kind(entry_kind::plain), std::string(3000, 'f')},
        {L"Readme.txt", L"<InstallPath>", kind(entry_kind::plain), "Read me.\r\n"},
        {L"Stone.jpg", data_variable + L"\\Textures\\Tilewright", kind(entry_kind::plain), std::string(5000, 's')},
        {first_module, data_variable + L"\\Modules\\Tilewright", kind(entry_kind::module), shipped(L"Modules", first_module)},
        {second_module, data_variable + L"\\Modules\\Tilewright", kind(entry_kind::module),
         shipped(L"Modules", second_module)},
        {L"Courtyard.cal", L"<SamplePath>", kind(entry_kind::sample), shipped(L"Samples", L"Courtyard.cal")},
        {L"notes.tmp", L"<Temporary>", kind(entry_kind::temporary), "temporary"},
    };
    const std::string compressed = setup::bzip2_compress(setup::build_archive(items));

    mw::uninstall_log log{{L"Tilewright 1.22a", options.key_name}};
    std::wstring application, uninstaller;
    auto callback = [&](const setup::notification& n) -> setup::notification::result {
        if (const auto* begin = n.get_if<setup::notification::file_begin>()) {
            const auto k = static_cast<entry_kind>(begin->entry.kind);
            const std::wstring& destination = begin->entry.destination;
            if (k == entry_kind::main_executable)
                application = destination;
            if (k == entry_kind::uninstaller)
                uninstaller = destination;
            if (k != entry_kind::temporary)
                log.add_file(destination, static_cast<std::int32_t>(begin->entry.kind), k == entry_kind::module);
        } else if (const auto* end = n.get_if<setup::notification::file_end>()) {
            if (static_cast<entry_kind>(end->entry.kind) != entry_kind::temporary)
                log.complete(true, {});
        } else if (n.get_if<setup::notification::failed>()) {
            log.complete(false, {});
        }
        return setup::notification::proceed;
    };
    mw::imemstream payload{compressed.data(), compressed.size()};
    EXPECT_TRUE(setup::extract_payload(payload, layout.install, layout.samples, layout.temp, callback));
    EXPECT_EQ(application, layout.application);
    EXPECT_EQ(uninstaller, layout.uninstaller);
    std::error_code ec;
    fs::remove_all(layout.temp, ec);
    SetFileAttributesW(application.c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW(uninstaller.c_str(), FILE_ATTRIBUTE_READONLY);

    const std::wstring title = L"Tilewright 1.22a";
    log.add_link(false, layout.programs);
    log.complete(true, setup::create_shortcut(application, layout.programs, title));
    log.add_link(true, layout.desktop);
    log.complete(true, setup::create_shortcut(application, layout.desktop, title));

    EXPECT_TRUE(setup::write_uninstall_entry(log, uninstaller, application, options.language));
    log.add_class_registration();
    {
        std::vector<testing_support::environment_change> environment;
        if (!options.fixture_class.empty())
            environment.push_back({L"MW_FIXTURE_CLASS", options.fixture_class});
        testing_support::child_process registration(L"\"" + application + L"\" /Register /Background", environment);
        const auto code = registration.wait_for_exit();
        log.complete(code == 0xFFFFFFF6u, {});
        EXPECT_EQ(code, std::optional<DWORD>(0xFFFFFFF6u));
    }
    EXPECT_TRUE(log.write(layout.log_file, layout.install, layout.programs));
    return log;
}

std::vector<std::wstring> uninstaller_copies()
{
    std::vector<std::wstring> names;
    std::error_code ec;
    for (auto& entry : fs::directory_iterator(fs::temp_directory_path(ec), ec)) {
        const std::wstring name = entry.path().filename().wstring();
        if (name.starts_with(L"mw-uninstall-"))
            names.push_back(name);
        else if (name.starts_with(L"mw-") && name.size() == 11 && entry.is_directory(ec))
            names.push_back(name + L"\\"); // a work folder
    }
    return names;
}

std::vector<std::wstring> product_registry(const install_options& options)
{
    std::vector<std::wstring> lines =
        registry_snapshot(HKEY_LOCAL_MACHINE, std::wstring(setup::uninstall_key_path) + L"\\" + options.key_name);
    auto add = [&lines](HKEY root, const std::wstring& key) {
        const auto more = registry_snapshot(root, key);
        lines.insert(lines.end(), more.begin(), more.end());
    };
    if (!options.fixture_class.empty()) {
        add(HKEY_CLASSES_ROOT, L"." + options.fixture_class);
        add(HKEY_CLASSES_ROOT, options.fixture_class + L".Document");
    }
    add(HKEY_LOCAL_MACHINE, L"Software\\Marrowind Works");
    add(HKEY_CLASSES_ROOT, L".cal");
    add(HKEY_CLASSES_ROOT, L"Tilewright.Layout");
    return lines;
}

} // namespace uninstaller_testing
