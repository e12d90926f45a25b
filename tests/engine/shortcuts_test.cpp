#include "engine/shortcuts.hpp"

#include "engine/com.hpp"
#include "support/hresult.hpp"
#include "support/paths.hpp"
#include "tests/scratch.hpp"

#include <shlobj.h>
#include <shobjidl.h>
#include <windows.h>

#include <fmt/xchar.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using setup::com_initialization;
using setup::com_ptr;
using setup::create_shortcut;

struct link_contents {
    std::wstring target;
    std::wstring working_folder;
    std::wstring arguments;
};

// Loads a link file through the shell's link object.
link_contents read_link(const std::wstring& path)
{
    com_initialization com;
    com_ptr<IShellLinkW> link;
    setup::check_hresult(
        CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void()));
    setup::check_hresult(link.query<IPersistFile>(IID_IPersistFile)->Load(path.c_str(), STGM_READ));
    wchar_t buffer[MAX_PATH + 1] = {};
    link_contents contents;
    setup::check_hresult(link->GetPath(buffer, MAX_PATH, nullptr, SLGP_RAWPATH));
    contents.target = buffer;
    buffer[0] = 0;
    setup::check_hresult(link->GetWorkingDirectory(buffer, MAX_PATH));
    contents.working_folder = buffer;
    buffer[0] = 0;
    setup::check_hresult(link->GetArguments(buffer, MAX_PATH));
    contents.arguments = buffer;
    return contents;
}

std::vector<std::wstring> file_names(const fs::path& folder)
{
    std::vector<std::wstring> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().wstring());
    return names;
}

// An installed application and an empty folder for its links.
class shortcut_test : public ::testing::Test {
protected:
    shortcut_test()
    {
        testing_support::write_bytes(target_, "MZ");
        fs::create_directories(links_);
    }

    testing_support::scratch_folder scratch_;
    std::wstring install_folder_ = scratch_ / L"Program Files\\Tilewright";
    std::wstring target_ = install_folder_ + L"\\Tilewright.exe";
    std::wstring links_ = scratch_ / L"Programs";
};

TEST_F(shortcut_test, link_reads_back_with_target_and_working_folder)
{
    const std::wstring path = create_shortcut(target_, links_, L"Tilewright 1.22a");
    EXPECT_EQ(path, links_ + L"\\Tilewright 1.22a.lnk");
    ASSERT_TRUE(fs::is_regular_file(path));

    const link_contents link = read_link(path);
    EXPECT_TRUE(mw::same_path(link.target, target_)) << fs::path(link.target);
    EXPECT_EQ(link.working_folder, install_folder_);
    EXPECT_EQ(link.arguments, L"");
}

TEST_F(shortcut_test, link_name_is_the_name_with_lnk_appended)
{
    struct name_case {
        std::wstring target;
        std::wstring name;
        bool trailing_separator; // the folder is given with a separator at its end
        std::wstring expected;
    };
    const name_case cases[] = {
        {target_, L"Tilewright 1.22a", false, L"Tilewright 1.22a.lnk"}, // the period stays
        {target_, L"Readme.txt", false, L"Readme.txt.lnk"},             // nothing is taken for an extension
        {target_, L"", false, L"Tilewright.lnk"},                       // no name: the target's, without extension
        {install_folder_ + L"\\tile.viewer.exe", L"", false, L"tile.viewer.lnk"},
        {target_, L"Tilewright 1.22a", true, L"Tilewright 1.22a.lnk"}, // one separator only
    };
    for (const auto& c : cases) {
        fs::remove_all(links_);
        fs::create_directories(links_);
        const std::wstring path = create_shortcut(c.target, c.trailing_separator ? links_ + L"\\" : links_, c.name);
        EXPECT_EQ(path, links_ + L"\\" + c.expected) << fs::path(c.name);
        EXPECT_EQ(file_names(links_), std::vector<std::wstring>{c.expected}) << fs::path(c.name);
        EXPECT_TRUE(mw::same_path(read_link(path).target, c.target)) << fs::path(c.name);
    }
}

TEST_F(shortcut_test, existing_link_file_is_overwritten)
{
    const std::wstring path = links_ + L"\\Tilewright 1.22a.lnk";
    const std::wstring old_target = scratch_ / L"Old\\Tilewright.exe";
    testing_support::write_bytes(old_target, "MZ");
    struct existing_case {
        const char* what;
        void (*make)(const std::wstring& path, const std::wstring& old_target);
    };
    const existing_case cases[] = {
        {"a link to another program",
         [](const std::wstring& p, const std::wstring& old) {
             create_shortcut(old, fs::path(p).parent_path(), L"Tilewright 1.22a");
         }},
        {"a file that is no link",
         [](const std::wstring& p, const std::wstring&) { testing_support::write_bytes(p, std::string(3000, 'x')); }},
    };
    for (const auto& c : cases) {
        c.make(path, old_target);
        ASSERT_TRUE(fs::exists(path)) << c.what;
        EXPECT_EQ(create_shortcut(target_, links_, L"Tilewright 1.22a"), path) << c.what;
        const link_contents link = read_link(path);
        EXPECT_TRUE(mw::same_path(link.target, target_)) << c.what << ": " << fs::path(link.target);
        EXPECT_TRUE(mw::same_path(link.working_folder, install_folder_)) << c.what;
        EXPECT_EQ(file_names(links_).size(), 1u) << c.what;
    }
}

TEST_F(shortcut_test, failures_raise_the_hresult_and_write_nothing)
{
    struct failure_case {
        const char* what;
        std::wstring target;
        std::wstring folder;
        std::wstring name;
        HRESULT expected; // S_OK: any failure code
    };
    const std::wstring missing = scratch_ / L"Missing\\Programs";
    const failure_case cases[] = {
        {"folder that does not exist", target_, missing, L"Tilewright 1.22a", S_OK},
        {"empty target", L"", links_, L"Tilewright 1.22a", E_INVALIDARG},
        {"empty folder", target_, L"", L"Tilewright 1.22a", E_INVALIDARG},
        {"no name and a target without file name", install_folder_ + L"\\", links_, L"", E_INVALIDARG},
    };
    for (const auto& c : cases) {
        try {
            const std::wstring path = create_shortcut(c.target, c.folder, c.name);
            ADD_FAILURE() << c.what << ": returned " << fs::path(path);
        } catch (const std::system_error& e) {
            EXPECT_EQ(&e.code().category(), &mw::hresult_category()) << c.what;
            EXPECT_TRUE(FAILED(static_cast<HRESULT>(e.code().value()))) << c.what << ": " << e.code().value();
            if (c.expected != S_OK) {
                EXPECT_EQ(static_cast<HRESULT>(e.code().value()), c.expected) << c.what;
            }
        }
        EXPECT_TRUE(file_names(links_).empty()) << c.what;
    }
    EXPECT_FALSE(fs::exists(scratch_ / L"Missing")) << "the folder is not created";
}

TEST(target_folder, drops_the_last_component_and_its_separators)
{
    struct folder_case {
        std::wstring target;
        std::wstring expected;
    };
    const folder_case cases[] = {
        {L"C:\\Program Files\\Tilewright\\Tilewright.exe", L"C:\\Program Files\\Tilewright"},
        {L"C:\\Program Files\\Tilewright\\\\Tilewright.exe", L"C:\\Program Files\\Tilewright"},
        {L"C:/Apps/Tilewright.exe", L"C:/Apps"},
        {L"C:\\Tilewright.exe", L"C:\\"}, // the root stays
        {L"C:\\\\Tilewright.exe", L"C:\\"},
        {L"\\\\server\\share\\Tilewright.exe", L"\\\\server\\share"},
        {L"Tilewright.exe", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(setup::target_folder(c.target), c.expected) << fs::path(c.target);
}

// The calling thread's COM state, found out by an initialisation that is undone at once.
enum class apartment { none, single_threaded, multi_threaded };

std::ostream& operator<<(std::ostream& out, apartment a)
{
    const char* names[] = {"no COM", "single-threaded apartment", "multi-threaded apartment"};
    return out << names[static_cast<int>(a)];
}

apartment current_apartment()
{
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (hr == RPC_E_CHANGED_MODE)
        return apartment::single_threaded;
    if (SUCCEEDED(hr))
        CoUninitialize();
    return hr == S_OK ? apartment::none : apartment::multi_threaded;
}

TEST_F(shortcut_test, leaves_the_threads_com_state_as_it_found_it)
{
    struct apartment_case {
        const char* what;
        apartment before;
    };
    const apartment_case cases[] = {
        {"thread without COM", apartment::none},
        {"thread in a single-threaded apartment", apartment::single_threaded},
        {"thread in the multi-threaded apartment", apartment::multi_threaded},
    };
    for (const auto& c : cases) {
        apartment seen_before = apartment::none, seen_after = apartment::none, seen_at_end = apartment::none;
        std::wstring path, error;
        std::thread([&] {
            HRESULT setup_result = S_OK;
            if (c.before == apartment::single_threaded)
                setup_result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            else if (c.before == apartment::multi_threaded)
                setup_result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            seen_before = current_apartment();
            try {
                path = create_shortcut(target_, links_, L"Tilewright 1.22a");
            } catch (const std::system_error& e) {
                error = fmt::format(L"{:08x}", static_cast<unsigned>(e.code().value()));
            }
            seen_after = current_apartment();
            if (c.before != apartment::none && SUCCEEDED(setup_result))
                CoUninitialize();
            seen_at_end = current_apartment();
        }).join();
        EXPECT_EQ(error, L"") << c.what;
        EXPECT_FALSE(path.empty()) << c.what;
        EXPECT_EQ(seen_before, c.before) << c.what;
        EXPECT_EQ(seen_after, c.before) << c.what;
        EXPECT_EQ(seen_at_end, apartment::none) << c.what;
    }
}

// A COM object whose QueryInterface answers as told, counting its references.
class fake_object : public IUnknown {
public:
    explicit fake_object(HRESULT answer, bool give_interface) : answer_(answer), give_(give_interface) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override
    {
        *out = nullptr;
        if (SUCCEEDED(answer_) && give_) {
            *out = static_cast<IUnknown*>(this);
            AddRef();
        }
        return answer_;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    ULONG references = 1;

private:
    HRESULT answer_;
    bool give_;
};

TEST(com_ptr, releases_its_one_reference_and_moves_it)
{
    fake_object object(S_OK, true);
    {
        com_ptr<IUnknown> first(&object);
        com_ptr<IUnknown> second(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_EQ(second.get(), &object);
        com_ptr<IUnknown> third;
        third = std::move(second);
        EXPECT_EQ(object.references, 1u);
        {
            com_ptr<IUnknown> queried = third.query<IUnknown>(IID_IUnknown);
            EXPECT_EQ(object.references, 2u);
        }
        EXPECT_EQ(object.references, 1u);
        *third.put() = nullptr; // put() releases what was held
        EXPECT_EQ(object.references, 0u);
        object.references = 1;
        third.reset(&object);
    }
    EXPECT_EQ(object.references, 0u);
}

TEST(com_ptr, query_raises_the_failure_or_e_pointer_for_a_missing_interface)
{
    struct query_case {
        HRESULT answer;
        bool give_interface;
        HRESULT expected;
    };
    const query_case cases[] = {
        {E_NOINTERFACE, false, E_NOINTERFACE},
        {S_OK, false, E_POINTER}, // success without an interface
    };
    for (const auto& c : cases) {
        fake_object object(c.answer, c.give_interface);
        com_ptr<IUnknown> p(&object);
        try {
            p.query<IUnknown>(IID_IUnknown);
            ADD_FAILURE() << std::hex << c.answer;
        } catch (const std::system_error& e) {
            EXPECT_EQ(static_cast<HRESULT>(e.code().value()), c.expected) << std::hex << c.answer;
        }
        p.reset();
        EXPECT_EQ(object.references, 0u);
    }
}

} // namespace
