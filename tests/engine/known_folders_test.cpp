#include "app/message_box.hpp"
#include "app/strings.hpp"
#include "engine/known_folders.hpp"
#include "pages/product.hpp"
#include "support/paths.hpp"

#include "tests/ui_driver/ui_driver.hpp"

#include <gtest/gtest.h>

#include <knownfolders.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using setup::known_folder;
using setup::known_folder_services;

std::wstring env(const wchar_t* name)
{
    const wchar_t* value = _wgetenv(name);
    return value ? value : L"";
}

TEST(known_folder, system_folders_resolve_without_errors)
{
    std::vector<HRESULT> reports;
    known_folder_services services;
    services.report_error = [&](HRESULT error) { reports.push_back(error); };

    namespace fs = std::filesystem;
    struct folder_case {
        int number;
        std::wstring expected;
    };
    const folder_case cases[] = {
        {0, env(L"ProgramFiles")},
        {1, (fs::path(env(L"ALLUSERSPROFILE")) / L"Microsoft\\Windows\\Start Menu\\Programs").wstring()},
        {2, (fs::path(env(L"PUBLIC")) / L"Desktop").wstring()},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(c.expected.empty()) << c.number;
        const std::wstring got = known_folder(c.number, services);
        EXPECT_TRUE(mw::same_path(got, c.expected)) << c.number << ": " << got << " is not " << c.expected;
    }
    EXPECT_EQ(known_folder(-1, services), L"");
    EXPECT_EQ(known_folder(3, services), L"");
    EXPECT_TRUE(reports.empty());
}

TEST(known_folder, a_failed_system_lookup_gives_its_error_and_no_path)
{
    // A folder id that no system knows.
    const KNOWNFOLDERID unknown = {0x4d3c3a57, 0x2f1e, 0x4b6a, {0x9c, 0x11, 0x5e, 0x7a, 0x20, 0x64, 0x31, 0x0f}};
    std::wstring path = L"stale";
    EXPECT_TRUE(FAILED(setup::lookup_known_folder(unknown, path)));
    EXPECT_EQ(path, L"");

    EXPECT_EQ(setup::lookup_known_folder(FOLDERID_ProgramFiles, path), S_OK);
    EXPECT_TRUE(mw::same_path(path, env(L"ProgramFiles")));
}

// The lookups run in order, the second only when the first gives nothing, and only the lookups
// marked for it report their failure: at most one report per call.
TEST(known_folder, fallbacks_and_the_one_error_box)
{
    struct named_folder {
        const KNOWNFOLDERID* id;
        const wchar_t* name;
        HRESULT failure; // what a failing lookup of this folder returns
    };
    const named_folder folders[] = {
        {&FOLDERID_ProgramFiles, L"ProgramFiles", E_ACCESSDENIED},
        {&FOLDERID_CommonPrograms, L"CommonPrograms", HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)},
        {&FOLDERID_Programs, L"Programs", HRESULT_FROM_WIN32(ERROR_BUSY)},
        {&FOLDERID_PublicDesktop, L"PublicDesktop", E_INVALIDARG},
        {&FOLDERID_Desktop, L"Desktop", E_OUTOFMEMORY},
    };
    const auto name_of = [&](REFKNOWNFOLDERID id) -> std::wstring {
        for (const auto& f : folders)
            if (IsEqualGUID(id, *f.id))
                return f.name;
        return L"?";
    };
    const auto failure_of = [&](const std::wstring& name) {
        for (const auto& f : folders)
            if (name == f.name)
                return f.failure;
        return E_FAIL;
    };

    struct fallback_case {
        int number;
        std::vector<std::wstring> failing;
        std::vector<std::wstring> empty_success; // succeed with an empty path
        std::wstring expected;
        std::vector<std::wstring> asked;
        std::vector<HRESULT> reports;
    };
    const fallback_case cases[] = {
        {0, {}, {}, L"ProgramFiles", {L"ProgramFiles"}, {}},
        {0, {L"ProgramFiles"}, {}, L"", {L"ProgramFiles"}, {E_ACCESSDENIED}},
        {1, {}, {}, L"CommonPrograms", {L"CommonPrograms"}, {}},
        {1, {L"Programs"}, {}, L"CommonPrograms", {L"CommonPrograms"}, {}},
        // The all users' folder is missing, the user's is there: nothing is shown.
        {1, {L"CommonPrograms"}, {}, L"Programs", {L"CommonPrograms", L"Programs"}, {}},
        // Both missing: exactly one box, for the second lookup.
        {1, {L"CommonPrograms", L"Programs"}, {}, L"", {L"CommonPrograms", L"Programs"},
         {HRESULT_FROM_WIN32(ERROR_BUSY)}},
        {1, {}, {L"CommonPrograms"}, L"Programs", {L"CommonPrograms", L"Programs"}, {}},
        {2, {}, {}, L"PublicDesktop", {L"PublicDesktop"}, {}},
        {2, {L"PublicDesktop"}, {}, L"Desktop", {L"PublicDesktop", L"Desktop"}, {}},
        // A missing desktop is never shown.
        {2, {L"PublicDesktop", L"Desktop"}, {}, L"", {L"PublicDesktop", L"Desktop"}, {}},
    };
    for (const auto& c : cases) {
        const auto in = [](const std::vector<std::wstring>& list, const std::wstring& name) {
            return std::find(list.begin(), list.end(), name) != list.end();
        };
        std::vector<std::wstring> asked;
        std::vector<HRESULT> reports;
        known_folder_services services;
        services.lookup = [&](REFKNOWNFOLDERID id, std::wstring& path) {
            const std::wstring name = name_of(id);
            asked.push_back(name);
            if (in(c.failing, name)) {
                path = L"left over"; // known_folder must not trust the path of a failed lookup
                return failure_of(name);
            }
            path = in(c.empty_success, name) ? L"" : name;
            return S_OK;
        };
        services.report_error = [&](HRESULT error) { reports.push_back(error); };

        SCOPED_TRACE(testing::Message() << "number " << c.number << ", " << c.failing.size() << " failing");
        EXPECT_EQ(known_folder(c.number, services), c.expected);
        EXPECT_EQ(asked, c.asked);
        EXPECT_EQ(reports, c.reports);
    }
}

TEST(known_folder, never_throws)
{
    known_folder_services services;
    services.lookup = [](REFKNOWNFOLDERID, std::wstring&) -> HRESULT { throw std::runtime_error("lookup"); };
    int reports = 0;
    services.report_error = [&](HRESULT) {
        ++reports;
        throw std::runtime_error("report");
    };
    std::wstring got = L"unset";
    EXPECT_NO_THROW(got = known_folder(0, services));
    EXPECT_EQ(got, L"");
    EXPECT_EQ(reports, 1);
    EXPECT_NO_THROW(got = known_folder(1, services));
    EXPECT_EQ(got, L"");
    EXPECT_EQ(reports, 2);
}

// The warning the user sees for a failed lookup: the error's text under the setup's title.
TEST(known_folder, error_box_names_the_setup_and_the_error)
{
    const std::wstring caption = setup::setup_title(setup::product_title);
    const std::wstring installer = setup::load_string(1000);
    ASSERT_FALSE(installer.empty());
    EXPECT_EQ(caption, installer + L" \u2013 " + std::wstring(setup::product_title));
    auto seen = testing_support::answer_own_boxes({IDOK}, caption);
    setup::show_known_folder_error(E_ACCESSDENIED);
    const auto shown = seen.get();
    ASSERT_EQ(shown.size(), 1u);
    const auto& box = shown[0];
    EXPECT_EQ(box.text, setup::error_text(static_cast<std::uint32_t>(E_ACCESSDENIED)));
    EXPECT_FALSE(box.text.empty());
}

} // namespace
