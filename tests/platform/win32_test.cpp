#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "platform/win32/critical_section.h"
#include "platform/win32/strings.h"
#include "platform/win32/window.h"

using namespace velmora::win32;

namespace {

std::vector<WPARAM> g_received;
std::thread::id g_thread;

LRESULT Record(HWND, UINT, WPARAM w, LPARAM) {
    g_received.push_back(w);
    g_thread = std::this_thread::get_id();
    return 0;
}

HWND Handle(int n) {
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1000 + n));
}

} // namespace

// A post only queues the call; the procedure runs, in order, on the thread that runs the queue.
// A window that is unknown, went away, or whose handle was registered again gets nothing.
TEST(WindowTable, PostsRunOnTheWindowsThreadInOrderAndOnlyWhileItLives) {
    g_received.clear();
    std::vector<std::function<void()>> queued;
    auto queue = [&](std::function<void()> f) { queued.push_back(std::move(f)); };
    RegisterWindow(Handle(1), &Record, queue);
    EXPECT_EQ(PostMessageA(Handle(1), WM_COMMAND, 1, 0), TRUE);
    EXPECT_EQ(PostMessageA(Handle(1), WM_COMMAND, 2, 0), TRUE);
    EXPECT_TRUE(g_received.empty());
    std::thread ui([&] {
        for (auto& f : queued)
            f();
    });
    const auto uiId = ui.get_id();
    ui.join();
    EXPECT_EQ(g_received, (std::vector<WPARAM>{1, 2}));
    EXPECT_EQ(g_thread, uiId);
    UnregisterWindow(Handle(1));

    g_received.clear();
    queued.clear();
    EXPECT_EQ(PostMessageA(Handle(2), WM_COMMAND, 1, 0), FALSE);
    EXPECT_TRUE(queued.empty());
    RegisterWindow(Handle(2), &Record, queue);
    EXPECT_EQ(PostMessageA(Handle(2), WM_COMMAND, 2, 0), TRUE);
    UnregisterWindow(Handle(2));
    RegisterWindow(Handle(2), &Record, queue);
    for (auto& f : queued)
        f();
    EXPECT_TRUE(g_received.empty());
    UnregisterWindow(Handle(2));
}

TEST(CriticalSection, ReentrantForItsOwnerExclusiveForOthers) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                CritSecLock outer(cs); // the owner enters again
                CritSecLock inner(cs);
                ++counter;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, 40000);
    DeleteCriticalSection(&cs);
}

TEST(StringTable, LoadStringTruncatesAndTerminates) {
    const auto module = reinterpret_cast<HINSTANCE>(std::uintptr_t{0x5001});
    AddStrings(module, kLangEnglishUS, {{105, "(Default)"}, {106, "Grün"}});
    char a[16];
    EXPECT_EQ(LoadStringA(module, 105, a, 16), 9);
    EXPECT_STREQ(a, "(Default)");
    EXPECT_EQ(LoadStringA(module, 105, a, 4), 3);
    EXPECT_STREQ(a, "(De");
    wchar_t w[16];
    EXPECT_EQ(LoadStringW(module, 106, w, 16), 4);
    EXPECT_STREQ(w, L"Grün") << "UTF-8 widened";
    EXPECT_EQ(LoadStringW(module, 106, w, 3), 2);
    EXPECT_STREQ(w, L"Gr");
    EXPECT_EQ(LoadStringA(module, 999, a, 16), 0);
    EXPECT_EQ(a[0], 0);
    RemoveStrings(module);
}
