// The setup mutex: created not owned, taken without waiting, handed on by moving.

#include "app/process_identity.hpp"

#include "tests/scratch.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <type_traits>
#include <utility>

namespace {

using setup::setup_mutex;

using testing_support::fresh_name;

// Whether another thread can take the setup mutex of `id` now (a mutex belongs to a thread).
bool free_elsewhere(const std::wstring& id)
{
    bool taken = false;
    std::thread([&] {
        setup_mutex other(id);
        taken = other.take();
    }).join();
    return taken;
}

TEST(setup_mutex, is_created_not_owned_and_taken_without_waiting)
{
    const std::wstring id = fresh_name(L"take");
    setup_mutex mutex(id);
    ASSERT_NE(mutex.handle(), nullptr);
    EXPECT_FALSE(mutex.owned());
    EXPECT_TRUE(free_elsewhere(id));
    EXPECT_TRUE(mutex.take());
    EXPECT_TRUE(mutex.owned());
    EXPECT_FALSE(free_elsewhere(id));
    mutex.release();
    EXPECT_FALSE(mutex.owned());
    EXPECT_TRUE(free_elsewhere(id));
}

TEST(setup_mutex, an_abandoned_mutex_counts_as_taken)
{
    setup_mutex mutex(fresh_name(L"abandoned"));
    // A thread that ends while it owns the mutex abandons it.
    DWORD wait = WAIT_FAILED;
    std::thread([&] { wait = WaitForSingleObject(mutex.handle(), 0); }).join();
    ASSERT_EQ(wait, WAIT_OBJECT_0);
    EXPECT_TRUE(mutex.take());
    EXPECT_TRUE(mutex.owned());
}

TEST(setup_mutex, moving_hands_on_the_handle_and_the_ownership)
{
    const std::wstring id = fresh_name(L"move");
    setup_mutex first(id);
    ASSERT_TRUE(first.take());
    const HANDLE handle = first.handle();

    setup_mutex moved(std::move(first));
    EXPECT_EQ(first.handle(), nullptr);
    EXPECT_FALSE(first.owned());
    EXPECT_FALSE(first.take());
    EXPECT_EQ(moved.handle(), handle);
    EXPECT_TRUE(moved.owned());
    { setup_mutex gone(std::move(first)); }
    EXPECT_FALSE(free_elsewhere(id));

    const std::wstring other_id = fresh_name(L"move");
    setup_mutex target(other_id);
    ASSERT_TRUE(target.take());
    target = std::move(moved);
    EXPECT_TRUE(free_elsewhere(other_id)); // what the target owned before is released
    EXPECT_EQ(target.handle(), handle);
    EXPECT_TRUE(target.owned());
    EXPECT_FALSE(moved.owned());
    EXPECT_FALSE(free_elsewhere(id));

    { setup_mutex last(std::move(target)); }
    EXPECT_TRUE(free_elsewhere(id));
}

TEST(setup_mutex, is_movable_and_not_copyable)
{
    static_assert(!std::is_copy_constructible_v<setup_mutex> && !std::is_copy_assignable_v<setup_mutex>);
    static_assert(std::is_nothrow_move_constructible_v<setup_mutex> && std::is_nothrow_move_assignable_v<setup_mutex>);
}

} // namespace
