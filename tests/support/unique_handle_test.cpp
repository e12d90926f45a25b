// The owners of handles closed by one function, on real resources: a close is seen through
// the system refusing the handle afterwards.

#include "support/unique_handle.hpp"

#include "tests/scratch.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

namespace {

// Each kind makes a real resource for its owner, and tells whether a raw value still names one.

// A kernel event.
struct event_kind {
    using owner = mw::unique_handle;
    static HANDLE make() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    static bool open(HANDLE h)
    {
        DWORD flags = 0;
        if (GetHandleInformation(h, &flags))
            return true;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        return false;
    }
};

// A file in a scratch folder, opened for reading.
struct file_kind {
    using owner = mw::unique_hfile;
    static HANDLE make()
    {
        static const testing_support::scratch_folder folder;
        static int counter = 0;
        const std::wstring path = folder / (L"f" + std::to_wstring(++counter));
        testing_support::write_bytes(path, "x");
        return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    static bool open(HANDLE h) { return event_kind::open(h); }
};

// A registry key: the current user's software key, opened once more.
struct key_kind {
    using owner = mw::unique_hkey;
    static HKEY make()
    {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key), ERROR_SUCCESS);
        return key;
    }
    static bool open(HKEY key)
    {
        DWORD subkeys = 0;
        const LSTATUS status =
            RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr);
        if (status == ERROR_SUCCESS)
            return true;
        EXPECT_EQ(status, ERROR_INVALID_HANDLE);
        return false;
    }
};

// A movable block from LocalAlloc: its handle, unlike a fixed block's address, is checked
// by LocalFlags once the block is freed.
struct local_kind {
    using owner = mw::unique_hlocal_ptr<void>;
    static void* make() { return LocalAlloc(LMEM_MOVEABLE, 16); }
    static bool open(void* block) { return LocalFlags(block) != LMEM_INVALID_HANDLE; }
};

template <class Kind>
class unique_handle_family : public testing::Test {
protected:
    using owner = typename Kind::owner;
    using pointer = typename owner::pointer;

    // A fresh resource, checked to be open.
    static pointer make()
    {
        const pointer h = Kind::make();
        EXPECT_NE(h, owner{}.get());
        EXPECT_TRUE(Kind::open(h));
        return h;
    }
};

using kinds = testing::Types<event_kind, file_kind, key_kind, local_kind>;
TYPED_TEST_SUITE(unique_handle_family, kinds);

TYPED_TEST(unique_handle_family, closes_what_it_holds_when_it_goes)
{
    using owner = typename TestFixture::owner;
    const auto h = TestFixture::make();
    {
        const owner held{h};
        EXPECT_TRUE(held);
        EXPECT_EQ(held.get(), h);
        EXPECT_TRUE(TypeParam::open(h));
    }
    EXPECT_FALSE(TypeParam::open(h));
}

TYPED_TEST(unique_handle_family, reset_closes_the_old_one_and_keeps_the_last_error)
{
    using owner = typename TestFixture::owner;
    const auto first = TestFixture::make();
    const auto second = TestFixture::make();
    owner held{first};
    SetLastError(ERROR_PATH_BUSY);
    held.reset(second);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_BUSY));
    EXPECT_FALSE(TypeParam::open(first));
    EXPECT_TRUE(TypeParam::open(second));
    EXPECT_EQ(held.get(), second);

    SetLastError(ERROR_PATH_BUSY);
    held.reset();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_BUSY));
    EXPECT_FALSE(TypeParam::open(second));
    EXPECT_FALSE(held);
}

TYPED_TEST(unique_handle_family, reset_to_the_held_value_keeps_it_open)
{
    using owner = typename TestFixture::owner;
    const auto h = TestFixture::make();
    owner held{h};
    held.reset(h);
    EXPECT_TRUE(TypeParam::open(h));
    EXPECT_EQ(held.get(), h);
}

TYPED_TEST(unique_handle_family, release_gives_up_ownership)
{
    using owner = typename TestFixture::owner;
    const auto h = TestFixture::make();
    {
        owner held{h};
        EXPECT_EQ(held.release(), h);
        EXPECT_FALSE(held);
        EXPECT_EQ(held.get(), owner{}.get());
    }
    EXPECT_TRUE(TypeParam::open(h));
    owner{h}.reset();
    EXPECT_FALSE(TypeParam::open(h));
}

TYPED_TEST(unique_handle_family, move_transfers_and_empties_the_source)
{
    using owner = typename TestFixture::owner;
    const auto first = TestFixture::make();
    const auto second = TestFixture::make();
    owner source{first};
    owner moved{std::move(source)};
    EXPECT_FALSE(source);
    EXPECT_EQ(moved.get(), first);
    EXPECT_TRUE(TypeParam::open(first));

    owner target{second};
    target = std::move(moved);
    EXPECT_FALSE(moved);
    EXPECT_EQ(target.get(), first);
    EXPECT_FALSE(TypeParam::open(second)); // what the target held before
    EXPECT_TRUE(TypeParam::open(first));

    target = std::move(target);
    EXPECT_EQ(target.get(), first);
    EXPECT_TRUE(TypeParam::open(first));
}

TYPED_TEST(unique_handle_family, is_movable_and_not_copyable)
{
    using owner = typename TestFixture::owner;
    static_assert(!std::is_copy_constructible_v<owner> && !std::is_copy_assignable_v<owner>);
    static_assert(std::is_nothrow_move_constructible_v<owner> && std::is_nothrow_move_assignable_v<owner>);
}

// What an open function returns on failure tests false in the owner made for it, and is
// what an empty owner holds.
TEST(unique_handle_values, a_failed_open_tests_false)
{
    const testing_support::scratch_folder folder;
    const std::wstring missing = folder / L"missing";

    const mw::unique_hfile file(
        CreateFileW(missing.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(file);
    EXPECT_EQ(mw::unique_hfile{}.get(), INVALID_HANDLE_VALUE);

    WIN32_FIND_DATAW data;
    const mw::unique_hfind find(FindFirstFileW((missing + L"\\*").c_str(), &data));
    EXPECT_FALSE(find);
    EXPECT_EQ(mw::unique_hfind{}.get(), INVALID_HANDLE_VALUE);

    const mw::unique_handle event(OpenEventW(SYNCHRONIZE, FALSE, L"mwtest.no such event"));
    EXPECT_FALSE(event);
    EXPECT_EQ(mw::unique_handle{}.get(), nullptr);

    const mw::unique_hmodule module(LoadLibraryExW(missing.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    EXPECT_FALSE(module);
    EXPECT_EQ(mw::unique_hmodule{}.get(), nullptr);
}

// A close that fails sets the thread's last error; the owner puts back the one before, when
// it is reset and when it goes.
TEST(unique_handle_values, a_failing_close_keeps_the_last_error)
{
    const HANDLE not_open = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x7FFFFFF0));
    SetLastError(ERROR_PATH_BUSY);
    ASSERT_FALSE(CloseHandle(not_open));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    mw::unique_handle reset_one{not_open};
    SetLastError(ERROR_PATH_BUSY);
    reset_one.reset();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_BUSY));

    {
        const mw::unique_handle going{not_open};
        SetLastError(ERROR_PATH_BUSY);
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_BUSY));
}

// A search that found something is held (INVALID_HANDLE_VALUE is what stands for none).
TEST(unique_handle_values, a_search_is_held_and_reset_keeps_the_last_error)
{
    const testing_support::scratch_folder folder;
    testing_support::write_bytes(folder / L"a.txt", "a");
    WIN32_FIND_DATAW data;
    mw::unique_hfind find(FindFirstFileW((folder / L"*.txt").c_str(), &data));
    ASSERT_TRUE(find);
    EXPECT_EQ(std::wstring(data.cFileName), L"a.txt");
    EXPECT_FALSE(FindNextFileW(find.get(), &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    SetLastError(ERROR_PATH_BUSY);
    find.reset();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_BUSY));
    EXPECT_FALSE(find);
}

} // namespace
