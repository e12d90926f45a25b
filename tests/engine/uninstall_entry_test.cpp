#include "engine/uninstall_entry.hpp"

#include "engine/registry.hpp"
#include "pages/product.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

using namespace setup;

// A product of the tests' own under the system's Uninstall key, removed first and last.
class uninstall_entry : public ::testing::Test {
protected:
    const std::wstring name = L"MwTestEntry-" + std::to_wstring(GetCurrentProcessId());
    mw::uninstall_log log{{L"Tilewright 1.22a", name}};

    void SetUp() override { remove(); }
    void TearDown() override { remove(); }
    void remove()
    {
        if (registry_key uninstall = open_key(HKEY_LOCAL_MACHINE, uninstall_key_path))
            RegDeleteTreeW(uninstall.get(), name.c_str());
    }
    registry_key entry() { return open_key(HKEY_LOCAL_MACHINE, std::wstring(uninstall_key_path) + L"\\" + name); }
    std::vector<std::wstring> value_names()
    {
        std::vector<std::wstring> names;
        registry_key key = entry();
        for (DWORD i = 0;; ++i) {
            wchar_t value[256];
            DWORD size = 256;
            if (RegEnumValueW(key.get(), i, value, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            names.push_back(value);
        }
        return names;
    }
};

TEST_F(uninstall_entry, writes_the_twelve_values_and_records_a_new_key)
{
    const std::wstring folder = L"C:\\Program Files\\Marrowind Works\\Tilewright";
    ASSERT_TRUE(write_uninstall_entry(log, folder + L"\\Uninstall.exe", folder + L"\\Tilewright.exe", 2));
    registry_key key = entry();
    ASSERT_TRUE(key);
    struct string_value {
        const wchar_t* name;
        std::wstring data;
    };
    const string_value strings[] = {
        {L"DisplayName", L"Tilewright 1.22a"},
        {L"UninstallString", folder + L"\\Uninstall.exe"},
        {L"DisplayIcon", folder + L"\\Tilewright.exe,0"}, // unquoted although the folder has blanks
        {L"DisplayVersion", L"1.22.1.1"},
        {L"Publisher", L"Marrowind Works"},
        {L"URLInfoAbout", maker_web_address},
        {L"HelpLink", maker_web_address},
        {L"URLUpdateInfo", maker_web_address},
        {L"HelpTelephone", maker_telephone},
    };
    for (const auto& v : strings) {
        std::wstring data;
        EXPECT_TRUE(read_string(key, v.name, data)) << std::filesystem::path(v.name);
        EXPECT_EQ(data, v.data);
        DWORD type = 0, size = 0;
        RegQueryValueExW(key.get(), v.name, nullptr, &type, nullptr, &size);
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(size, 2 * (v.data.size() + 1)); // with its terminating NUL
    }
    const std::pair<const wchar_t*, std::uint32_t> dwords[] = {{L"NoModify", 1}, {L"NoRepair", 1}, {L"MwLanguage", 2}};
    for (const auto& [value, expected] : dwords) {
        std::uint32_t data = 0;
        EXPECT_TRUE(read_dword(key, value, data));
        EXPECT_EQ(data, expected);
    }
    auto names = value_names();
    std::sort(names.begin(), names.end());
    const std::vector<std::wstring> twelve{L"DisplayIcon", L"DisplayName", L"DisplayVersion", L"HelpLink",
                                           L"HelpTelephone", L"MwLanguage", L"NoModify", L"NoRepair",
                                           L"Publisher", L"URLInfoAbout", L"URLUpdateInfo", L"UninstallString"};
    EXPECT_EQ(names, twelve);

    ASSERT_EQ(log.current.size(), 1u);
    EXPECT_EQ(log.current[0], (mw::log_record{mw::uninstall_key, L"", {}, true, -1}));
    EXPECT_FALSE(log.pending);
    key = registry_key{};
    log.rollback(); // a new key is deleted whole
    EXPECT_FALSE(entry());
}

TEST_F(uninstall_entry, a_reinstallation_overwrites_the_values_and_keeps_the_others)
{
    {
        registry_key key = create_key(HKEY_LOCAL_MACHINE, std::wstring(uninstall_key_path) + L"\\" + name);
        write_string(key, L"DisplayName", L"Tilewright 1.20");
        write_dword(key, L"MwLanguage", 0);
        write_string(key, L"InstallLocation", L"C:\\Kept");
    }
    ASSERT_TRUE(write_uninstall_entry(log, L"C:\\T\\Uninstall.exe", L"C:\\T\\Tilewright.exe", 3));
    registry_key key = entry();
    std::wstring text;
    EXPECT_TRUE(read_string(key, L"DisplayName", text));
    EXPECT_EQ(text, L"Tilewright 1.22a");
    EXPECT_TRUE(read_string(key, L"InstallLocation", text));
    EXPECT_EQ(text, L"C:\\Kept");
    std::uint32_t language = 0;
    EXPECT_TRUE(read_dword(key, L"MwLanguage", language));
    EXPECT_EQ(language, 3u);
    ASSERT_EQ(log.current.size(), 1u);
    EXPECT_FALSE(log.current[0].backup.empty()); // the previous entry was saved
    EXPECT_TRUE(std::filesystem::exists(log.current[0].backup));
    std::filesystem::remove(log.current[0].backup);
}

TEST(version_text, spells_the_four_fields)
{
    EXPECT_EQ(version_text(setup_version), L"1.22.1.1");
    EXPECT_EQ(version_text(make_file_version(1, 20, 0, 3)), L"1.20.0.3");
    EXPECT_EQ(version_text(make_file_version(65535, 0, 65535, 0)), L"65535.0.65535.0");
    EXPECT_EQ(version_text(0xFFFF000100020003ull), L"65535.1.2.3");
}

} // namespace
