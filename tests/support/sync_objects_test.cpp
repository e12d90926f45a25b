#include "support/sync_objects.hpp"

#include "tests/scratch.hpp"

#include <windows.h>
#include <aclapi.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

using mw::sync_object_kind;

using testing_support::fresh_name;

// The count of a semaphore, read as the setup reads it: add one unit, take it back.
long count_of(HANDLE semaphore)
{
    LONG previous = -1;
    if (!ReleaseSemaphore(semaphore, 1, &previous))
        return -1;
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
    return previous;
}

struct kind_case {
    sync_object_kind kind;
    DWORD full_access;
    const char* label;
};
const kind_case kinds[] = {{sync_object_kind::mutex, 0x1F0001, "mutex"},
                           {sync_object_kind::semaphore, 0x1F0003, "semaphore"}};

TEST(global_sync_object, creates_then_opens_the_global_object_and_keeps_the_create_error)
{
    for (const auto& c : kinds) {
        const std::wstring name = fresh_name(L"create");
        SetLastError(12345);
        mw::unique_handle first = mw::global_sync_object(c.kind, name);
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << c.label;
        ASSERT_TRUE(first) << c.label;

        SetLastError(12345);
        mw::unique_handle second = mw::global_sync_object(c.kind, name);
        EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS) << c.label;
        ASSERT_TRUE(second) << c.label;

        // Reachable under the Global prefix by the usual open calls.
        const std::wstring full = L"Global\\" + name;
        mw::unique_handle opened(c.kind == sync_object_kind::mutex ? OpenMutexW(SYNCHRONIZE, FALSE, full.c_str())
                                                                  : OpenSemaphoreW(SYNCHRONIZE, FALSE, full.c_str()));
        EXPECT_TRUE(opened) << c.label;
    }
}

TEST(global_sync_object, reports_a_name_taken_by_another_kind_of_object)
{
    const std::wstring name = fresh_name(L"clash");
    mw::unique_handle mutex = mw::global_sync_object(sync_object_kind::mutex, name);
    ASSERT_TRUE(mutex);
    SetLastError(0);
    mw::unique_handle semaphore = mw::global_sync_object(sync_object_kind::semaphore, name);
    EXPECT_FALSE(semaphore);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(global_sync_object, makes_a_free_mutex_and_an_empty_semaphore_with_the_full_range)
{
    const std::wstring name = fresh_name(L"state");
    mw::unique_handle mutex = mw::global_sync_object(sync_object_kind::mutex, name + L".m");
    ASSERT_TRUE(mutex);
    // Not owned by its creator: another thread takes it at once.
    DWORD other_thread_wait = 0;
    std::thread([&] {
        other_thread_wait = WaitForSingleObject(mutex.get(), 0);
        ReleaseMutex(mutex.get());
    }).join();
    EXPECT_EQ(other_thread_wait, WAIT_OBJECT_0);

    mw::unique_handle semaphore = mw::global_sync_object(sync_object_kind::semaphore, name + L".s");
    ASSERT_TRUE(semaphore);
    EXPECT_EQ(WaitForSingleObject(semaphore.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    LONG previous = -1;
    ASSERT_TRUE(ReleaseSemaphore(semaphore.get(), 0x7FFFFFFF, &previous));
    EXPECT_EQ(previous, 0);
    EXPECT_FALSE(ReleaseSemaphore(semaphore.get(), 1, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TOO_MANY_POSTS));
}

TEST(global_sync_object, grants_everyone_full_access_and_nothing_else)
{
    for (const auto& c : kinds) {
        mw::unique_handle object = mw::global_sync_object(c.kind, fresh_name(L"dacl"));
        ASSERT_TRUE(object) << c.label;
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_EQ(GetSecurityInfo(object.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                  &dacl, nullptr, &descriptor),
                  static_cast<DWORD>(ERROR_SUCCESS))
            << c.label;
        ASSERT_NE(dacl, nullptr) << c.label;
        ASSERT_EQ(dacl->AceCount, 1) << c.label;
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, 0, reinterpret_cast<void**>(&ace))) << c.label;
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE) << c.label;
        EXPECT_EQ(ace->Mask, c.full_access) << c.label;
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        PSID everyone = nullptr;
        ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
        EXPECT_TRUE(EqualSid(reinterpret_cast<PSID>(&ace->SidStart), everyone)) << c.label;
        FreeSid(everyone);
        LocalFree(descriptor);
    }
}

TEST(instance_semaphore, counts_each_holder_and_takes_its_units_back)
{
    const std::wstring name = fresh_name(L"count");
    mw::unique_handle observer = mw::global_sync_object(sync_object_kind::semaphore, name);
    ASSERT_TRUE(observer);
    {
        mw::instance_semaphore first(name);
        EXPECT_EQ(first.units(), 1);
        EXPECT_EQ(first.running_instances(), 1);
        {
            mw::instance_semaphore second(name);
            EXPECT_EQ(first.running_instances(), 2);
            EXPECT_EQ(second.running_instances(), 2);
        }
        EXPECT_EQ(first.running_instances(), 1);
        // Moving the holder moves the unit, it is neither doubled nor lost.
        mw::instance_semaphore moved(std::move(first));
        EXPECT_EQ(count_of(observer.get()), 1);
        EXPECT_EQ(moved.running_instances(), 1);
        EXPECT_EQ(first.running_instances(), 0);
    }
    EXPECT_EQ(count_of(observer.get()), 0);
}

TEST(instance_semaphore, gives_back_what_it_took_when_its_units_are_gone)
{
    const std::wstring name = fresh_name(L"drained");
    mw::unique_handle observer = mw::global_sync_object(sync_object_kind::semaphore, name);
    ASSERT_TRUE(observer);
    {
        mw::instance_semaphore holder(name, 3);
        EXPECT_EQ(holder.running_instances(), 3);
        // Someone else takes two units away.
        ASSERT_EQ(WaitForSingleObject(observer.get(), 0), WAIT_OBJECT_0);
        ASSERT_EQ(WaitForSingleObject(observer.get(), 0), WAIT_OBJECT_0);
    }
    // The holder could take one of its three units back and returned it.
    EXPECT_EQ(count_of(observer.get()), 1);
}

TEST(instance_semaphore, reads_no_instances_when_no_unit_can_be_added)
{
    const std::wstring name = fresh_name(L"full");
    mw::instance_semaphore holder(name);
    mw::unique_handle observer = mw::global_sync_object(sync_object_kind::semaphore, name);
    ASSERT_TRUE(ReleaseSemaphore(observer.get(), 0x7FFFFFFF - 1, nullptr));
    EXPECT_EQ(holder.running_instances(), 0);
    // The adding of units fails the same way for a new holder.
    try {
        mw::instance_semaphore refused(name);
        ADD_FAILURE() << "a unit was added to a full semaphore";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), ERROR_TOO_MANY_POSTS);
    }
    // Once units are taken away, the count reads again.
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(WaitForSingleObject(observer.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(holder.running_instances(), 0x7FFFFFFF - 5);
}

TEST(instance_semaphore, refuses_a_name_held_by_another_kind_of_object)
{
    const std::wstring name = fresh_name(L"taken");
    mw::unique_handle mutex = mw::global_sync_object(sync_object_kind::mutex, name);
    ASSERT_TRUE(mutex);
    try {
        mw::instance_semaphore holder(name);
        ADD_FAILURE() << "the holder was built on a mutex's name";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), ERROR_INVALID_HANDLE);
    }
}

} // namespace
