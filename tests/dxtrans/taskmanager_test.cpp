// The task manager: every task once on the pool with its event set, up to its limit at once,
// concurrent callers, time-outs and cancellation, tasks scheduling on their own pool.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

#include "helpers.h"
#include "platform/system.h"

using namespace dxtest;

namespace {

struct Task {
    HANDLE gate = nullptr; // an event it waits for first, if set
    std::atomic<int> runs{0};
    std::thread::id thread;
    BOOL cont = -1;
};

void Run(void* data, BOOL* cont) {
    auto* t = static_cast<Task*>(data);
    if (t->gate)
        WaitForSingleObject(t->gate, INFINITE);
    t->thread = std::this_thread::get_id();
    t->cont = std::atomic_ref<BOOL>(*cont).load();
    ++t->runs;
}

struct Batch {
    std::vector<Task> tasks;
    std::vector<DXTMTASKINFO> info;
    std::vector<HANDLE> events;
    std::vector<DWORD> ids;
    explicit Batch(std::size_t n, HANDLE gate = nullptr) : tasks(n), info(n), events(n), ids(n) {
        for (std::size_t i = 0; i < n; ++i) {
            tasks[i].gate = gate;
            info[i] = {&Run, &tasks[i], nullptr, 0, nullptr};
            events[i] = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        }
    }
    ~Batch() {
        for (HANDLE e : events)
            CloseHandle(e);
    }
    HRESULT Schedule(IDXTaskManager* tm, ULONG wait = INFINITE) {
        return tm->ScheduleTasks(info.data(), events.data(), ids.data(), ULONG(info.size()), wait);
    }
    // Every task ran once, with its event set, by the time this is asked.
    bool AllRanOnce() {
        for (std::size_t i = 0; i < tasks.size(); ++i)
            if (tasks[i].runs != 1 || WaitForSingleObject(events[i], 0) != WAIT_OBJECT_0)
                return false;
        return true;
    }
};

ComPtr<IDXTaskManager> NewManager(ULONG processors) {
    ComPtr<IDXTaskManager> tm;
    EXPECT_EQ(DXCreateTaskManager(processors, &tm), S_OK);
    return tm;
}

std::atomic<HANDLE> g_completionEvent;
std::atomic<bool> g_eventSetFirst;

} // namespace

TEST(TaskManager, RunsEveryTaskOnceOnThePoolAndSetsItsEvent) {
    for (ULONG processors : {1u, 3u}) {
        ComPtr<IDXTaskManager> tm = NewManager(processors);
        ULONG n = 0;
        EXPECT_EQ(tm->QueryNumProcessors(&n), S_OK);
        EXPECT_EQ(n, processors);
        Batch b(17);
        // A completion runs before its task's event is set.
        g_completionEvent = b.events[5];
        g_eventSetFirst = true;
        b.info[5].pfnCompletionAPC = [](DWORD) {
            g_eventSetFirst = WaitForSingleObject(g_completionEvent, 0) == WAIT_OBJECT_0;
        };
        ASSERT_EQ(b.Schedule(tm.Get()), S_OK);
        EXPECT_TRUE(b.AllRanOnce()) << "when the call returns";
        EXPECT_FALSE(g_eventSetFirst);
        std::set<std::thread::id> threads;
        for (const Task& t : b.tasks) {
            EXPECT_EQ(t.cont, TRUE);
            threads.insert(t.thread);
        }
        EXPECT_LE(threads.size(), processors);
        EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
        EXPECT_EQ(std::set<DWORD>(b.ids.begin(), b.ids.end()).size(), b.ids.size());
    }
}

TEST(TaskManager, RunsTasksAtOnceUpToItsLimit) {
    // Four tasks meet at a latch: they can only all get there by running at the same time.
    ComPtr<IDXTaskManager> tm = NewManager(4);
    Latch meet(4);
    std::vector<DXTMTASKINFO> info(4,
                                   {[](void* d, BOOL*) { static_cast<Latch*>(d)->ArriveAndWait(); },
                                    &meet, nullptr, 0, nullptr});
    EXPECT_EQ(tm->ScheduleTasks(info.data(), nullptr, nullptr, 4, INFINITE), S_OK);

    // Under a limit of two, each task waits (a while at most) for a third to join it: with the
    // limit kept none ever does, and without it the pool's four threads would bring one.
    EXPECT_EQ(tm->SetConcurrencyLimit(2), S_OK);
    static std::atomic<int> now{0}, peak{0};
    info.assign(4, {[](void*, BOOL*) {
                        const int at = ++now;
                        for (int seen = peak; seen < at && !peak.compare_exchange_weak(seen, at);) {
                        }
                        const auto until =
                            std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
                        while (now < 3 && std::chrono::steady_clock::now() < until)
                            std::this_thread::yield();
                        --now;
                    },
                    nullptr, nullptr, 0, nullptr});
    EXPECT_EQ(tm->ScheduleTasks(info.data(), nullptr, nullptr, 4, INFINITE), S_OK);
    EXPECT_EQ(peak, 2);
}

TEST(TaskManager, ConcurrentCallersShareThePool) {
    ComPtr<IDXTaskManager> tm = NewManager(3);
    std::atomic<int> failures{0};
    std::vector<std::thread> callers;
    for (int c = 0; c < 4; ++c)
        callers.emplace_back([&, c] {
            for (int k = 0; k < 100; ++k) {
                Batch b(std::size_t(1 + (k + c) % 4));
                if (b.Schedule(tm.Get()) != S_OK || !b.AllRanOnce())
                    ++failures;
            }
        });
    for (auto& t : callers)
        t.join();
    EXPECT_EQ(failures, 0);
}

// Failures reach the caller: a bad task schedules nothing, a finite wait that runs out answers
// a time-out while the tasks go on, and a manager going away first lets its queue drain.
TEST(TaskManager, FailuresTimeOutsAndDestruction) {
    HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Batch b(5, gate);
    {
        ComPtr<IDXTaskManager> tm = NewManager(2);
        b.info[3].pfnTaskProc = nullptr;
        EXPECT_EQ(b.Schedule(tm.Get()), E_INVALIDARG);
        b.info[3].pfnTaskProc = b.info[0].pfnTaskProc;
        EXPECT_EQ(b.Schedule(tm.Get(), 0), DXTERR_REQ_TIMEDOUT);
        Batch quick(1);
        EXPECT_EQ(quick.Schedule(tm.Get(), 0), DXTERR_REQ_TIMEDOUT); // queued behind them
        std::thread opener([&] { SetEvent(gate); });
        tm.Reset();
        opener.join();
        EXPECT_TRUE(quick.AllRanOnce());
    }
    EXPECT_TRUE(b.AllRanOnce());
    CloseHandle(gate);
}

// A running task that polls its flag sees it cleared; a queued one still runs, once, told to stop.
TEST(TaskManager, CancellationClearsTheContinueFlag) {
    ComPtr<IDXTaskManager> tm = NewManager(1);
    std::atomic<bool> started{false};
    DXTMTASKINFO polling{[](void* d, BOOL* cont) {
                             *static_cast<std::atomic<bool>*>(d) = true;
                             while (std::atomic_ref<BOOL>(*cont).load())
                                 std::this_thread::yield();
                         },
                         &started, nullptr, 0, nullptr};
    DWORD id = 0;
    EXPECT_EQ(tm->ScheduleTasks(&polling, nullptr, &id, 1, 0), DXTERR_REQ_TIMEDOUT);
    Batch queued(2);
    EXPECT_EQ(queued.Schedule(tm.Get(), 0), DXTERR_REQ_TIMEDOUT);
    while (!started)
        std::this_thread::yield();
    EXPECT_EQ(tm->TerminateTasks(&queued.ids[1], 1, 0), DXTERR_REQ_TIMEDOUT) << "worker held";
    EXPECT_EQ(tm->TerminateTasks(&id, 1, INFINITE), S_OK);
    EXPECT_EQ(tm->TerminateTasks(&queued.ids[1], 1, INFINITE), S_OK);
    EXPECT_EQ(Batch(1).Schedule(tm.Get()), S_OK); // everything before it has ended
    EXPECT_EQ(queued.tasks[0].cont, TRUE);
    EXPECT_EQ(queued.tasks[1].cont, FALSE);
    EXPECT_EQ(queued.tasks[1].runs, 1);
}

// With one worker, waiting for the pool from inside it would never end: the nested tasks run on
// the scheduling worker itself.
TEST(TaskManager, ATaskMayScheduleTasksOnItsOwnPool) {
    ComPtr<IDXTaskManager> tm = NewManager(1);
    struct Outer {
        explicit Outer(IDXTaskManager* t) : tm(t) {}
        IDXTaskManager* tm;
        Batch inner{3};
        HRESULT hr = E_FAIL;
        std::thread::id thread;
    } outer(tm.Get());
    DXTMTASKINFO info{[](void* d, BOOL*) {
                          auto* o = static_cast<Outer*>(d);
                          o->thread = std::this_thread::get_id();
                          o->hr = o->inner.Schedule(o->tm);
                      },
                      &outer, nullptr, 0, nullptr};
    EXPECT_EQ(tm->ScheduleTasks(&info, nullptr, nullptr, 1, INFINITE), S_OK);
    EXPECT_EQ(outer.hr, S_OK);
    EXPECT_TRUE(outer.inner.AllRanOnce());
    for (const Task& t : outer.inner.tasks)
        EXPECT_EQ(t.thread, outer.thread);
}

// The events the task manager sets: manual reset releases every waiter, auto reset one per set,
// and closed handles are refused rather than touched.
#ifndef _WIN32 // the stand-in's events; on Windows they are the system's
TEST(EventThreads, ManualReleasesAllAutoOnePerSetAndClosingIsSafe) {
    HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE autoReset = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE passed = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(WaitForSingleObject(manual, 5), WAIT_TIMEOUT);
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
        EXPECT_EQ(throughAuto, i) << "exactly one waiter per set";
    }
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(throughManual, 4);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0) << "manual reset stays set";

    // Closing under a waiter: either the handle is gone already, or the event lives on for
    // this wait, which runs out, as nothing can set it any more.
    HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread waiter([&] {
        SetEvent(passed);
        const DWORD r = WaitForSingleObject(e, 20);
        EXPECT_TRUE(r == WAIT_TIMEOUT || r == WAIT_FAILED) << r;
    });
    WaitForSingleObject(passed, INFINITE);
    EXPECT_TRUE(CloseHandle(e));
    waiter.join();
    for (HANDLE h : {manual, autoReset, passed})
        EXPECT_TRUE(CloseHandle(h));
    HANDLE next = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(SetEvent(manual)) << "closed handles are refused, their numbers not reused";
    EXPECT_EQ(WaitForSingleObject(manual, INFINITE), WAIT_FAILED);
    CloseHandle(next);
}
#endif
