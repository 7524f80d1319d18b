// Win32 events: manual and auto reset, time-outs, stale handles, the failure hook, and waiters
// on other threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/win32/event.h"
#include "platform/win32/testing.h"

TEST(Event, ManualResetStaysSetUntilReset) {
    HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(e, 5), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(e));

    HANDLE set = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(set, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(set));
}

TEST(Event, AutoResetLetsOneWaitThrough) {
    HANDLE e = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(e));
    EXPECT_TRUE(SetEvent(e)); // setting twice is still one pass
    EXPECT_EQ(WaitForSingleObject(e, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(e));
}

TEST(Event, StaleAndForeignHandlesAreRefused) {
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_FALSE(SetEvent(nullptr));
    EXPECT_FALSE(ResetEvent(nullptr));
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE other = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(e, other);
    EXPECT_TRUE(CloseHandle(e));
    EXPECT_FALSE(CloseHandle(e));
    EXPECT_FALSE(SetEvent(e));
    EXPECT_FALSE(ResetEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, INFINITE), WAIT_FAILED);
    // A closed handle's number is not given out again.
    HANDLE again = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(again, e);
    EXPECT_FALSE(SetEvent(reinterpret_cast<HANDLE>(0x7)));
    EXPECT_TRUE(SetEvent(other)); // the others are untouched
    EXPECT_EQ(WaitForSingleObject(other, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(other));
    EXPECT_TRUE(CloseHandle(again));
    // Named events are not offered.
    EXPECT_EQ(CreateEventA(nullptr, TRUE, FALSE, "shared"), nullptr);
}

TEST(Event, TestHookFailsTheNextCreations) {
    velmora::win32::testing::FailNextEventCreations(2);
    EXPECT_EQ(CreateEventA(nullptr, TRUE, FALSE, nullptr), nullptr);
    EXPECT_EQ(CreateEventA(nullptr, FALSE, FALSE, nullptr), nullptr);
    HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(e, nullptr);
    EXPECT_TRUE(CloseHandle(e));
    velmora::win32::testing::FailNextEventCreations(5);
    velmora::win32::testing::FailNextEventCreations(0);
    e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(e, nullptr);
    EXPECT_TRUE(CloseHandle(e));
}

TEST(EventThreads, ManualResetReleasesEveryWaiter) {
    HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> through{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            if (WaitForSingleObject(e, INFINITE) == WAIT_OBJECT_0)
                ++through;
        });
    EXPECT_TRUE(SetEvent(e));
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(through, 4);
    EXPECT_TRUE(CloseHandle(e));
}

TEST(EventThreads, AutoResetReleasesOneWaiterPerSet) {
    HANDLE e = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE passed = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> through{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            ASSERT_EQ(WaitForSingleObject(e, INFINITE), WAIT_OBJECT_0);
            ++through;
            SetEvent(passed);
        });
    for (int i = 1; i <= 4; ++i) {
        EXPECT_TRUE(SetEvent(e));
        ASSERT_EQ(WaitForSingleObject(passed, INFINITE), WAIT_OBJECT_0);
        EXPECT_EQ(through, i); // exactly one waiter per set
    }
    for (auto& t : waiters)
        t.join();
    EXPECT_TRUE(CloseHandle(e));
    EXPECT_TRUE(CloseHandle(passed));
}

TEST(EventThreads, ClosingUnderAWaiterIsHarmless) {
    HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread waiter([&] {
        SetEvent(started);
        // Either the handle is already gone, or the event lives on for this wait and it simply
        // runs out; nothing can set it any more.
        DWORD r = WaitForSingleObject(e, 20);
        EXPECT_TRUE(r == WAIT_TIMEOUT || r == WAIT_FAILED) << r;
    });
    WaitForSingleObject(started, INFINITE);
    EXPECT_TRUE(CloseHandle(e));
    waiter.join();
    EXPECT_TRUE(CloseHandle(started));
}
