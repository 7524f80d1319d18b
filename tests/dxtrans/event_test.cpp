// Win32 events: manual and auto reset, time-outs, stale handles, the failure hook, and waiters
// on other threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/win32/event.h"
#include "platform/win32/testing.h"

TEST(Event, ManualAndAutoReset) {
    HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(manual, nullptr);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(manual, 5), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, INFINITE), WAIT_OBJECT_0); // stays set
    EXPECT_TRUE(ResetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);

    HANDLE autoReset = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_TIMEOUT); // the wait took it
    EXPECT_TRUE(SetEvent(autoReset));
    EXPECT_TRUE(SetEvent(autoReset)); // still one pass
    EXPECT_EQ(WaitForSingleObject(autoReset, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(manual));
    EXPECT_TRUE(CloseHandle(autoReset));
}

TEST(Event, StaleHandlesAreRefusedAndCreationCanBeMadeToFail) {
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_FALSE(SetEvent(nullptr));
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE other = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_TRUE(CloseHandle(e));
    EXPECT_FALSE(CloseHandle(e));
    EXPECT_FALSE(SetEvent(e));
    EXPECT_FALSE(ResetEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, INFINITE), WAIT_FAILED);
    HANDLE again = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(again, e); // numbers are not reused
    EXPECT_FALSE(SetEvent(reinterpret_cast<HANDLE>(0x7)));
    EXPECT_TRUE(SetEvent(other));
    EXPECT_EQ(CreateEventA(nullptr, TRUE, FALSE, "shared"), nullptr); // no named events

    velmora::win32::testing::FailNextEventCreations(2);
    EXPECT_EQ(CreateEventA(nullptr, TRUE, FALSE, nullptr), nullptr);
    EXPECT_EQ(CreateEventA(nullptr, FALSE, FALSE, nullptr), nullptr);
    HANDLE third = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(third, nullptr);
    velmora::win32::testing::FailNextEventCreations(5);
    velmora::win32::testing::FailNextEventCreations(0);
    HANDLE fourth = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(fourth, nullptr);
    for (HANDLE h : {other, again, third, fourth})
        EXPECT_TRUE(CloseHandle(h));
}

TEST(EventThreads, ManualResetReleasesAllAutoResetOnePerSet) {
    HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE autoReset = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE passed = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> throughManual{0}, throughAuto{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            if (WaitForSingleObject(manual, INFINITE) == WAIT_OBJECT_0)
                ++throughManual;
            if (WaitForSingleObject(autoReset, INFINITE) == WAIT_OBJECT_0)
                ++throughAuto;
            SetEvent(passed);
        });
    EXPECT_TRUE(SetEvent(manual));
    for (int i = 1; i <= 4; ++i) {
        EXPECT_TRUE(SetEvent(autoReset));
        ASSERT_EQ(WaitForSingleObject(passed, INFINITE), WAIT_OBJECT_0);
        EXPECT_EQ(throughAuto, i); // exactly one waiter per set
    }
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(throughManual, 4);
    for (HANDLE h : {manual, autoReset, passed})
        CloseHandle(h);
}

TEST(EventThreads, ClosingUnderAWaiterIsHarmless) {
    HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread waiter([&] {
        SetEvent(started);
        // Either the handle is gone already, or the event lives on for this wait, which runs
        // out: nothing can set it any more.
        DWORD r = WaitForSingleObject(e, 20);
        EXPECT_TRUE(r == WAIT_TIMEOUT || r == WAIT_FAILED) << r;
    });
    WaitForSingleObject(started, INFINITE);
    EXPECT_TRUE(CloseHandle(e));
    waiter.join();
    CloseHandle(started);
}
