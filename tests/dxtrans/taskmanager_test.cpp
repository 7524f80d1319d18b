// The task manager: every task once on the pool, events and ids, returning after all have
// ended, 1 to 4 processors, concurrent callers, finite waits, cancellation, failure codes.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <latch>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "helpers.h"

using namespace dxtest;

namespace {

// A gate tasks may wait at until the test opens it.
struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    int waiting = 0;
    void Open() {
        std::lock_guard l(m);
        open = true;
        cv.notify_all();
    }
    void Pass() {
        std::unique_lock l(m);
        ++waiting;
        cv.notify_all();
        cv.wait(l, [&] { return open; });
    }
    void AwaitWaiting(int n) {
        std::unique_lock l(m);
        cv.wait(l, [&] { return waiting >= n; });
    }
};

struct Task {
    Gate* gate = nullptr; // waits here first, if set
    std::atomic<int> runs{0};
    std::thread::id thread;
    BOOL cont = -1;
};

void Run(void* data, BOOL* cont) {
    auto* t = static_cast<Task*>(data);
    if (t->gate)
        t->gate->Pass();
    t->thread = std::this_thread::get_id();
    t->cont = std::atomic_ref<BOOL>(*cont).load();
    ++t->runs;
}

struct Batch {
    std::vector<Task> tasks;
    std::vector<DXTMTASKINFO> info;
    std::vector<HANDLE> events;
    std::vector<DWORD> ids;
    explicit Batch(std::size_t n, Gate* gate = nullptr, const GUID* request = nullptr)
        : tasks(n), info(n), events(n), ids(n) {
        for (std::size_t i = 0; i < n; ++i) {
            tasks[i].gate = gate;
            info[i] = {&Run, &tasks[i], nullptr, 0, request};
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
};

// What a completion procedure saw; it gets only a number.
std::atomic<HANDLE> g_completionEvent;
std::atomic<DWORD> g_completed;
std::atomic<bool> g_eventSetFirst;

ComPtr<IDXTaskManager> NewManager(ULONG processors) {
    ComPtr<IDXTaskManager> tm;
    EXPECT_EQ(DXCreateTaskManager(processors, &tm), S_OK);
    return tm;
}

} // namespace

TEST(TaskManager, ReportsTheProcessorsItWasMadeWith) {
    for (ULONG n : {1u, 2u, 3u, 4u}) {
        ComPtr<IDXTaskManager> tm = NewManager(n);
        ULONG got = 0, pool = 0, limit = 0;
        EXPECT_EQ(tm->QueryNumProcessors(&got), S_OK);
        tm->GetThreadPoolSize(&pool);
        tm->GetConcurrencyLimit(&limit);
        EXPECT_EQ(got, n);
        EXPECT_EQ(pool, n);
        EXPECT_EQ(limit, n);
        EXPECT_EQ(tm->QueryNumProcessors(nullptr), E_POINTER);
        EXPECT_EQ(tm->SetThreadPoolSize(n + 1), E_NOTIMPL); // the pool is fixed
    }
    ULONG got = 0;
    NewManager(0)->QueryNumProcessors(&got);
    EXPECT_EQ(got, std::max(1u, std::thread::hardware_concurrency()));
    ComPtr<IDXTaskManager> none;
    EXPECT_EQ(DXCreateTaskManager(65, &none), E_INVALIDARG);
    EXPECT_EQ(DXCreateTaskManager(1, nullptr), E_POINTER);
}

TEST(TaskManager, RunsEveryTaskOnceOnThePoolAndSetsItsEvent) {
    for (ULONG processors : {1u, 2u, 3u, 4u}) {
        ComPtr<IDXTaskManager> tm = NewManager(processors);
        for (std::size_t n : {1, 2, 3, 4, 17}) {
            SCOPED_TRACE(testing::Message() << processors << " processors, " << n << " tasks");
            Batch b(n);
            ASSERT_EQ(b.Schedule(tm.Get()), S_OK);
            // All have ended, with their events set, when the call returns.
            std::set<std::thread::id> threads;
            for (std::size_t i = 0; i < n; ++i) {
                EXPECT_EQ(b.tasks[i].runs, 1);
                EXPECT_EQ(b.tasks[i].cont, TRUE);
                EXPECT_NE(b.tasks[i].thread, std::this_thread::get_id());
                EXPECT_EQ(WaitForSingleObject(b.events[i], 0), WAIT_OBJECT_0);
                threads.insert(b.tasks[i].thread);
            }
            EXPECT_LE(threads.size(), processors);
            std::set<DWORD> ids(b.ids.begin(), b.ids.end());
            EXPECT_EQ(ids.size(), n);
            EXPECT_EQ(ids.count(0), 0u);
        }
    }
}

TEST(TaskManager, OptionalArraysCompletionsAndBadArguments) {
    ComPtr<IDXTaskManager> tm = NewManager(2);
    Batch b(3);
    g_completionEvent = b.events[1];
    g_completed = 0;
    g_eventSetFirst = false;
    b.info[1].pfnCompletionAPC = [](DWORD data) {
        g_completed += data;
        if (WaitForSingleObject(g_completionEvent, 0) == WAIT_OBJECT_0)
            g_eventSetFirst = true;
    };
    b.info[1].dwCompletionData = 40;
    EXPECT_EQ(tm->ScheduleTasks(b.info.data(), nullptr, nullptr, 3, INFINITE), S_OK);
    HANDLE events[3] = {nullptr, b.events[1], b.events[2]}; // some events missing
    EXPECT_EQ(tm->ScheduleTasks(b.info.data(), events, nullptr, 3, INFINITE), S_OK);
    EXPECT_EQ(g_completed, 80u);
    EXPECT_FALSE(g_eventSetFirst); // the completion runs before the event is set
    EXPECT_EQ(WaitForSingleObject(b.events[1], 0), WAIT_OBJECT_0);

    // Bad arguments schedule nothing.
    for (HANDLE e : b.events)
        ResetEvent(e);
    b.info[1].pfnTaskProc = nullptr;
    EXPECT_EQ(b.Schedule(tm.Get()), E_INVALIDARG);
    EXPECT_EQ(tm->ScheduleTasks(nullptr, nullptr, nullptr, 2, INFINITE), E_INVALIDARG);
    EXPECT_EQ(tm->ScheduleTasks(nullptr, nullptr, nullptr, 0, INFINITE), S_OK);
    Batch later(1); // ends after anything queued before it on this pool
    EXPECT_EQ(later.Schedule(tm.Get()), S_OK);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(b.tasks[i].runs, 2);
    EXPECT_EQ(WaitForSingleObject(b.events[2], 0), WAIT_TIMEOUT);
}

TEST(TaskManager, RunsTasksAtOnceUpToItsLimit) {
    // Four tasks meet at a latch: they can only all get there by running at the same time.
    ComPtr<IDXTaskManager> tm = NewManager(4);
    std::latch meet(4);
    std::vector<DXTMTASKINFO> info(
        4, {[](void* d, BOOL*) { static_cast<std::latch*>(d)->arrive_and_wait(); }, &meet, nullptr,
            0, nullptr});
    EXPECT_EQ(tm->ScheduleTasks(info.data(), nullptr, nullptr, 4, INFINITE), S_OK);

    EXPECT_EQ(tm->SetConcurrencyLimit(0), E_INVALIDARG);
    EXPECT_EQ(tm->SetConcurrencyLimit(1), S_OK); // now no two overlap
    struct Overlap {
        std::atomic<int> now{0}, most{0};
    } overlap;
    info.assign(8, {[](void* d, BOOL*) {
                        auto* o = static_cast<Overlap*>(d);
                        int n = ++o->now, m = o->most;
                        while (n > m && !o->most.compare_exchange_weak(m, n)) {
                        }
                        std::this_thread::yield();
                        --o->now;
                    },
                    &overlap, nullptr, 0, nullptr});
    EXPECT_EQ(tm->ScheduleTasks(info.data(), nullptr, nullptr, 8, INFINITE), S_OK);
    EXPECT_EQ(overlap.most, 1);
    ULONG limit = 0;
    EXPECT_EQ(tm->SetConcurrencyLimit(9), S_OK);
    tm->GetConcurrencyLimit(&limit);
    EXPECT_EQ(limit, 4u); // never above the pool
}

TEST(TaskManager, ConcurrentCallersShareThePool) {
    ComPtr<IDXTaskManager> tm = NewManager(3);
    std::atomic<int> failures{0};
    std::vector<std::thread> callers;
    for (int c = 0; c < 4; ++c)
        callers.emplace_back([&, c] {
            for (int k = 0; k < 100; ++k) {
                Batch b(std::size_t(1 + (k + c) % 4));
                if (b.Schedule(tm.Get()) != S_OK)
                    ++failures;
                for (std::size_t i = 0; i < b.tasks.size(); ++i)
                    if (b.tasks[i].runs != 1 || WaitForSingleObject(b.events[i], 0) != 0)
                        ++failures;
            }
        });
    for (auto& t : callers)
        t.join();
    EXPECT_EQ(failures, 0);
}

TEST(TaskManager, FiniteWaitsAndDestruction) {
    Gate gate;
    Batch b(5, &gate);
    {
        ComPtr<IDXTaskManager> tm = NewManager(2);
        EXPECT_EQ(b.Schedule(tm.Get(), 0), DXTERR_REQ_TIMEDOUT); // the tasks go on
        gate.AwaitWaiting(1);
        Batch quick(1);
        EXPECT_EQ(quick.Schedule(tm.Get(), 0), DXTERR_REQ_TIMEDOUT); // queued behind them
        std::thread opener([&] { gate.Open(); });
        tm.Reset(); // the queue drains, then the workers are joined
        opener.join();
        EXPECT_EQ(quick.tasks[0].runs, 1);
    }
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(b.tasks[i].runs, 1);
        EXPECT_EQ(WaitForSingleObject(b.events[i], 0), WAIT_OBJECT_0);
    }
    Batch quick(1);
    EXPECT_EQ(quick.Schedule(NewManager(1).Get(), 60000), S_OK);
}

TEST(TaskManager, CancellationClearsTheContinueFlag) {
    ComPtr<IDXTaskManager> tm = NewManager(1);
    Gate gate;
    static const GUID request = uuidof<IDXSurface>();
    Batch first(1, &gate), plain(2), tagged(1, nullptr, &request); // first blocks the worker
    EXPECT_EQ(first.Schedule(tm.Get(), 0), DXTERR_REQ_TIMEDOUT);
    EXPECT_EQ(plain.Schedule(tm.Get(), 0), DXTERR_REQ_TIMEDOUT);
    EXPECT_EQ(tagged.Schedule(tm.Get(), 0), DXTERR_REQ_TIMEDOUT);
    gate.AwaitWaiting(1);
    // Queued tasks cannot end while the worker is held.
    EXPECT_EQ(tm->TerminateTasks(&plain.ids[1], 1, 0), DXTERR_REQ_TIMEDOUT);
    EXPECT_EQ(tm->TerminateRequest(request, 0), DXTERR_REQ_TIMEDOUT);
    EXPECT_EQ(tm->TerminateTasks(nullptr, 1, 0), E_INVALIDARG);
    DWORD unknown = 0xFFFF0000;
    EXPECT_EQ(tm->TerminateTasks(&unknown, 1, 0), S_OK);
    gate.Open();
    EXPECT_EQ(tm->TerminateTasks(&plain.ids[1], 1, INFINITE), S_OK); // waits for it to end
    EXPECT_EQ(tm->TerminateRequest(request, INFINITE), S_OK);
    EXPECT_EQ(Batch(1).Schedule(tm.Get()), S_OK); // everything before it has ended
    EXPECT_EQ(first.tasks[0].cont, TRUE);
    EXPECT_EQ(plain.tasks[0].cont, TRUE);
    EXPECT_EQ(plain.tasks[1].cont, FALSE); // still ran, once, told to stop
    EXPECT_EQ(plain.tasks[1].runs, 1);
    EXPECT_EQ(tagged.tasks[0].cont, FALSE);

    // A running task that polls its flag sees it cleared.
    std::atomic<bool> started{false};
    DXTMTASKINFO polling{[](void* d, BOOL* cont) {
                             *static_cast<std::atomic<bool>*>(d) = true;
                             while (std::atomic_ref<BOOL>(*cont).load())
                                 std::this_thread::yield();
                         },
                         &started, nullptr, 0, nullptr};
    DWORD id = 0;
    EXPECT_EQ(tm->ScheduleTasks(&polling, nullptr, &id, 1, 0), DXTERR_REQ_TIMEDOUT);
    while (!started)
        std::this_thread::yield();
    EXPECT_EQ(tm->TerminateTasks(&id, 1, INFINITE), S_OK);
}

TEST(TaskManager, ATaskMayScheduleTasksOnItsOwnPool) {
    // One worker: waiting for the pool from inside it would never end, so the nested tasks
    // run on the scheduling worker itself.
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
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(outer.inner.tasks[i].runs, 1);
        EXPECT_EQ(outer.inner.tasks[i].thread, outer.thread);
        EXPECT_EQ(WaitForSingleObject(outer.inner.events[i], 0), WAIT_OBJECT_0);
        EXPECT_NE(outer.inner.ids[i], 0u);
    }
}
