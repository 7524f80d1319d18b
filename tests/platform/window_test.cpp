#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "platform/win32/critical_section.h"
#include "platform/win32/window.h"

using namespace velmora::win32;

namespace {

struct Received {
    std::vector<std::tuple<UINT, WPARAM, LPARAM>> messages;
    std::thread::id thread;
};
Received g_received;

LRESULT Record(HWND, UINT msg, WPARAM w, LPARAM l) {
    g_received.messages.emplace_back(msg, w, l);
    g_received.thread = std::this_thread::get_id();
    return 0;
}
LRESULT Other(HWND, UINT, WPARAM, LPARAM) {
    g_received.messages.emplace_back(0, 0, 0);
    return 0;
}

HWND Handle(int n) {
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1000 + n));
}

} // namespace

// A post only queues the call through the window's own queue; the procedure runs, in order,
// where that queue's thread runs it.
TEST(WindowTable, PostRunsTheProcedureOnTheWindowsThread) {
    g_received = {};
    std::vector<std::function<void()>> queued;
    RegisterWindow(Handle(1), &Record, [&](std::function<void()> f) { queued.push_back(f); });
    EXPECT_TRUE(IsWindow(Handle(1)));
    EXPECT_EQ(PostMessageA(Handle(1), WM_COMMAND, 0x7F00, 0), TRUE);
    EXPECT_EQ(PostMessageA(Handle(1), WM_COMMAND, 5, 6), TRUE);
    EXPECT_TRUE(g_received.messages.empty());
    std::thread ui([&] {
        for (auto& f : queued)
            f();
    });
    const auto uiId = ui.get_id();
    ui.join();
    ASSERT_EQ(g_received.messages.size(), 2u);
    EXPECT_EQ(g_received.messages[0], std::make_tuple(WM_COMMAND, WPARAM{0x7F00}, LPARAM{0}));
    EXPECT_EQ(g_received.messages[1], std::make_tuple(WM_COMMAND, WPARAM{5}, LPARAM{6}));
    EXPECT_EQ(g_received.thread, uiId);
    UnregisterWindow(Handle(1));
}

TEST(WindowTable, UnknownAndGoneWindowsGetNothing) {
    g_received = {};
    EXPECT_EQ(PostMessageA(nullptr, WM_COMMAND, 1, 0), FALSE);
    EXPECT_EQ(PostMessageA(Handle(2), WM_COMMAND, 1, 0), FALSE);
    EXPECT_FALSE(IsWindow(Handle(2)));

    // Notices queued before the window went away, or before its handle was reused, are dropped.
    std::vector<std::function<void()>> queued;
    auto queue = [&](std::function<void()> f) { queued.push_back(std::move(f)); };
    RegisterWindow(Handle(2), &Record, queue);
    EXPECT_EQ(PostMessageA(Handle(2), WM_COMMAND, 1, 0), TRUE);
    UnregisterWindow(Handle(2));
    EXPECT_EQ(PostMessageA(Handle(2), WM_COMMAND, 2, 0), FALSE);
    RegisterWindow(Handle(2), &Other, queue);
    for (auto& f : queued)
        f();
    EXPECT_TRUE(g_received.messages.empty());

    // The procedure current when the notice runs is the one called.
    queued.clear();
    PostMessageA(Handle(2), WM_COMMAND, 3, 0);
    RegisterWindow(Handle(2), &Record, queue); // same handle, new entry: drops the notice
    PostMessageA(Handle(2), WM_COMMAND, 4, 0);
    for (auto& f : queued)
        f();
    ASSERT_EQ(g_received.messages.size(), 1u);
    EXPECT_EQ(std::get<1>(g_received.messages[0]), 4u);
    UnregisterWindow(Handle(2));
}

TEST(CriticalSection, ReentrantForItsOwnerExclusiveForOthers) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EXPECT_TRUE(TryEnterCriticalSection(&cs)) << "the owner enters again";
    bool otherGotIn = true;
    std::thread([&] { otherGotIn = TryEnterCriticalSection(&cs); }).join();
    EXPECT_FALSE(otherGotIn);
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    std::thread([&] {
        otherGotIn = TryEnterCriticalSection(&cs);
        if (otherGotIn)
            LeaveCriticalSection(&cs);
    }).join();
    EXPECT_TRUE(otherGotIn);

    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                CritSecLock outer(cs);
                CritSecLock inner(cs);
                ++counter;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, 40000);
    DeleteCriticalSection(&cs);
}

namespace {
LRESULT Subclass(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    g_received.messages.emplace_back(msg + 1000, w, l);
    auto old = reinterpret_cast<WNDPROC>(reinterpret_cast<LONG_PTR>(GetPropA(hwnd, "old")));
    return CallWindowProcA(old, hwnd, msg, w, l);
}
} // namespace

TEST(WindowTable, PropertiesSubclassingShowAndMove) {
    g_received = {};
    std::vector<std::function<void()>> queued;
    int shown = -1;
    std::vector<int> moved;
    WindowOps ops{[&](std::function<void()> f) { queued.push_back(std::move(f)); },
                  [&](int cmd) { shown = cmd; },
                  [&](int x, int y, int w, int h, bool) {
                      moved = {x, y, w, h};
                  }};
    RegisterWindow(Handle(3), &Record, ops);

    EXPECT_TRUE(SetPropA(Handle(3), "page", reinterpret_cast<HANDLE>(42)));
    EXPECT_EQ(GetPropA(Handle(3), "page"), reinterpret_cast<HANDLE>(42));
    EXPECT_EQ(GetPropA(Handle(3), "other"), nullptr);
    EXPECT_FALSE(SetPropA(Handle(4), "page", nullptr)) << "unknown window";

    // Subclassing: the new procedure runs first and hands on to the old one.
    LONG_PTR old =
        SetWindowLongPtrA(Handle(3), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Subclass));
    EXPECT_EQ(old, reinterpret_cast<LONG_PTR>(&Record));
    SetPropA(Handle(3), "old", reinterpret_cast<HANDLE>(old));
    PostMessageA(Handle(3), WM_COMMAND, 7, 0);
    for (auto& f : queued)
        f();
    ASSERT_EQ(g_received.messages.size(), 2u);
    EXPECT_EQ(std::get<0>(g_received.messages[0]), WM_COMMAND + 1000);
    EXPECT_EQ(std::get<0>(g_received.messages[1]), WM_COMMAND);
    EXPECT_EQ(GetWindowLongPtrA(Handle(3), GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&Subclass));
    EXPECT_EQ(SetWindowLongPtrA(Handle(3), GWLP_USERDATA, 5), 0);
    EXPECT_EQ(GetWindowLongPtrA(Handle(3), GWLP_USERDATA), 5);
    EXPECT_EQ(RemovePropA(Handle(3), "page"), reinterpret_cast<HANDLE>(42));
    EXPECT_EQ(GetPropA(Handle(3), "page"), nullptr);

    EXPECT_TRUE(ShowWindow(Handle(3), SW_HIDE));
    EXPECT_EQ(shown, SW_HIDE);
    EXPECT_TRUE(MoveWindow(Handle(3), 1, 2, 30, 40, TRUE));
    EXPECT_EQ(moved, (std::vector<int>{1, 2, 30, 40}));
    EXPECT_EQ(DefWindowProcA(Handle(3), WM_COMMAND, 0, 0), 0);
    UnregisterWindow(Handle(3));
    EXPECT_FALSE(ShowWindow(Handle(3), SW_SHOW));
    EXPECT_FALSE(MoveWindow(Handle(3), 0, 0, 1, 1, FALSE));
    EXPECT_EQ(GetWindowLongPtrA(Handle(3), GWLP_WNDPROC), 0);
}
