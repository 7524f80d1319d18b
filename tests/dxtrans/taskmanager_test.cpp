// The task manager: every task once on the pool, events, task ids, returning after all have
// ended, 1 to 4 processors, concurrent callers, cancellation and failure codes.
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

struct Counted {
    std::atomic<int> runs{0};
    std::atomic<bool> ended{false};
    std::thread::id thread;
    BOOL cont = -1;
};

void CountTask(void* data, BOOL* cont) {
    auto* c = static_cast<Counted*>(data);
    c->thread = std::this_thread::get_id();
    c->cont = std::atomic_ref<BOOL>(*cont).load();
    ++c->runs;
    c->ended = true;
}

// A gate tasks can wait at until the test opens it.
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

struct GatedTask {
    Gate* gate = nullptr;
    Counted counted;
};

std::vector<GatedTask> GatedTasks(Gate& gate, std::size_t n) {
    std::vector<GatedTask> v(n);
    for (GatedTask& t : v)
        t.gate = &gate;
    return v;
}

void GatedProc(void* data, BOOL* cont) {
    auto* g = static_cast<GatedTask*>(data);
    g->gate->Pass();
    CountTask(&g->counted, cont);
}

ComPtr<IDXTaskManager> NewManager(ULONG processors) {
    ComPtr<IDXTaskManager> tm;
    EXPECT_EQ(DXCreateTaskManager(processors, &tm), S_OK);
    return tm;
}

std::vector<HANDLE> NewEvents(std::size_t n) {
    std::vector<HANDLE> v(n);
    for (HANDLE& e : v)
        e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return v;
}
void CloseAll(const std::vector<HANDLE>& v) {
    for (HANDLE e : v)
        CloseHandle(e);
}

} // namespace

TEST(TaskManager, ReportsTheProcessorsItWasMadeWith) {
    for (ULONG n : {1u, 2u, 3u, 4u}) {
        ComPtr<IDXTaskManager> tm = NewManager(n);
        ULONG got = 0;
        EXPECT_EQ(tm->QueryNumProcessors(&got), S_OK);
        EXPECT_EQ(got, n);
        EXPECT_EQ(tm->GetThreadPoolSize(&got), S_OK);
        EXPECT_EQ(got, n);
        EXPECT_EQ(tm->GetConcurrencyLimit(&got), S_OK);
        EXPECT_EQ(got, n);
        EXPECT_EQ(tm->QueryNumProcessors(nullptr), E_POINTER);
        EXPECT_EQ(tm->SetThreadPoolSize(n), S_OK);
        EXPECT_EQ(tm->SetThreadPoolSize(n + 1), E_NOTIMPL); // the pool is fixed
    }
    ComPtr<IDXTaskManager> hw = NewManager(0);
    ULONG got = 0;
    hw->QueryNumProcessors(&got);
    EXPECT_EQ(got, std::max(1u, std::thread::hardware_concurrency()));
    ComPtr<IDXTaskManager> none;
    EXPECT_EQ(DXCreateTaskManager(65, &none), E_INVALIDARG);
    EXPECT_EQ(DXCreateTaskManager(1, nullptr), E_POINTER);
}

TEST(TaskManager, RunsEveryTaskOnceOnThePoolAndSetsItsEvent) {
    for (ULONG processors : {1u, 2u, 3u, 4u}) {
        for (ULONG n : {1u, 2u, 3u, 4u, 17u}) {
            SCOPED_TRACE(testing::Message() << processors << " processors, " << n << " tasks");
            ComPtr<IDXTaskManager> tm = NewManager(processors);
            std::vector<Counted> counted(n);
            std::vector<DXTMTASKINFO> info(n);
            for (ULONG i = 0; i < n; ++i)
                info[i] = {&CountTask, &counted[i], nullptr, 0, nullptr};
            std::vector<HANDLE> events = NewEvents(n);
            std::vector<DWORD> ids(n, 0);
            ASSERT_EQ(tm->ScheduleTasks(info.data(), events.data(), ids.data(), n, INFINITE), S_OK);
            // All have ended and set their events by the time the call returns.
            std::set<std::thread::id> threads;
            for (ULONG i = 0; i < n; ++i) {
                EXPECT_TRUE(counted[i].ended);
                EXPECT_EQ(counted[i].runs, 1);
                EXPECT_EQ(counted[i].cont, TRUE);
                EXPECT_NE(counted[i].thread, std::this_thread::get_id());
                EXPECT_EQ(WaitForSingleObject(events[i], 0), WAIT_OBJECT_0);
                threads.insert(counted[i].thread);
            }
            EXPECT_LE(threads.size(), processors);
            std::set<DWORD> distinct(ids.begin(), ids.end());
            EXPECT_EQ(distinct.size(), n);
            EXPECT_EQ(distinct.count(0), 0u);
            CloseAll(events);
        }
    }
}

TEST(TaskManager, OptionalArraysAndCompletionProcedures) {
    ComPtr<IDXTaskManager> tm = NewManager(2);
    Counted a, b, c;
    static std::atomic<DWORD> completed{0};
    static std::atomic<bool> eventSetBeforeCompletion{false};
    static HANDLE completionEvent = nullptr;
    completionEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DXTMTASKINFO info[3] = {
        {&CountTask, &a, nullptr, 0, nullptr},
        {&CountTask, &b,
         [](DWORD data) {
             completed += data;
             eventSetBeforeCompletion = WaitForSingleObject(completionEvent, 0) == WAIT_OBJECT_0;
         },
         40, nullptr},
        {&CountTask, &c, nullptr, 0, nullptr},
    };
    // No events, no ids.
    EXPECT_EQ(tm->ScheduleTasks(info, nullptr, nullptr, 3, INFINITE), S_OK);
    // Some events null.
    HANDLE events[3] = {nullptr, completionEvent, nullptr};
    EXPECT_EQ(tm->ScheduleTasks(info, events, nullptr, 3, INFINITE), S_OK);
    EXPECT_EQ(a.runs, 2);
    EXPECT_EQ(b.runs, 2);
    EXPECT_EQ(c.runs, 2);
    EXPECT_EQ(completed, 80u);
    EXPECT_FALSE(eventSetBeforeCompletion); // the completion runs before the event is set
    EXPECT_EQ(WaitForSingleObject(completionEvent, 0), WAIT_OBJECT_0);
    CloseHandle(completionEvent);
    // A closed event handle does no harm.
    EXPECT_EQ(tm->ScheduleTasks(info, events, nullptr, 3, INFINITE), S_OK);
    EXPECT_EQ(a.runs, 3);
}

TEST(TaskManager, BadArgumentsScheduleNothing) {
    ComPtr<IDXTaskManager> tm = NewManager(2);
    Counted a, b;
    DXTMTASKINFO info[3] = {{&CountTask, &a, nullptr, 0, nullptr},
                            {nullptr, &b, nullptr, 0, nullptr},
                            {&CountTask, &b, nullptr, 0, nullptr}};
    std::vector<HANDLE> events = NewEvents(3);
    DWORD ids[3] = {};
    EXPECT_EQ(tm->ScheduleTasks(nullptr, events.data(), ids, 2, INFINITE), E_INVALIDARG);
    EXPECT_EQ(tm->ScheduleTasks(info, events.data(), ids, 3, INFINITE), E_INVALIDARG);
    EXPECT_EQ(tm->ScheduleTasks(info, events.data(), ids, 0, INFINITE), S_OK);
    EXPECT_EQ(tm->ScheduleTasks(nullptr, nullptr, nullptr, 0, INFINITE), S_OK);
    // Make sure nothing is still on its way: a later batch on the same pool ends first.
    EXPECT_EQ(tm->ScheduleTasks(info, nullptr, nullptr, 1, INFINITE), S_OK);
    EXPECT_EQ(a.runs, 1);
    EXPECT_EQ(b.runs, 0);
    for (HANDLE e : events)
        EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    EXPECT_EQ(ids[0], 0u);
    CloseAll(events);
}

TEST(TaskManager, RunsTasksAtOnceUpToItsProcessors) {
    // Four tasks meet at a latch: they can only all get there if they run at the same time.
    ComPtr<IDXTaskManager> tm = NewManager(4);
    struct Meet {
        std::latch latch{4};
    } meet;
    DXTMTASKINFO info[4];
    for (auto& t : info)
        t = {[](void* d, BOOL*) { static_cast<Meet*>(d)->latch.arrive_and_wait(); }, &meet, nullptr,
             0, nullptr};
    EXPECT_EQ(tm->ScheduleTasks(info, nullptr, nullptr, 4, INFINITE), S_OK);

    // With a concurrency limit of 1, no two tasks overlap.
    EXPECT_EQ(tm->SetConcurrencyLimit(0), E_INVALIDARG);
    EXPECT_EQ(tm->SetConcurrencyLimit(1), S_OK);
    ULONG limit = 0;
    tm->GetConcurrencyLimit(&limit);
    EXPECT_EQ(limit, 1u);
    struct Overlap {
        std::atomic<int> now{0}, most{0};
    } overlap;
    DXTMTASKINFO serial[8];
    for (auto& t : serial)
        t = {[](void* d, BOOL*) {
                 auto* o = static_cast<Overlap*>(d);
                 int n = ++o->now;
                 int m = o->most;
                 while (n > m && !o->most.compare_exchange_weak(m, n)) {
                 }
                 std::this_thread::yield();
                 --o->now;
             },
             &overlap, nullptr, 0, nullptr};
    EXPECT_EQ(tm->ScheduleTasks(serial, nullptr, nullptr, 8, INFINITE), S_OK);
    EXPECT_EQ(overlap.most, 1);
    EXPECT_EQ(tm->SetConcurrencyLimit(9), S_OK);
    tm->GetConcurrencyLimit(&limit);
    EXPECT_EQ(limit, 4u); // no more than the pool
}

TEST(TaskManager, ConcurrentCallersShareThePool) {
    ComPtr<IDXTaskManager> tm = NewManager(3);
    constexpr int callers = 4, calls = 150;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int c = 0; c < callers; ++c)
        threads.emplace_back([&, c] {
            std::vector<HANDLE> events = NewEvents(4);
            for (int k = 0; k < calls; ++k) {
                const ULONG n = 1 + static_cast<ULONG>((k + c) % 4);
                Counted counted[4];
                DXTMTASKINFO info[4];
                for (ULONG i = 0; i < n; ++i) {
                    info[i] = {&CountTask, &counted[i], nullptr, 0, nullptr};
                    ResetEvent(events[i]);
                }
                if (tm->ScheduleTasks(info, events.data(), nullptr, n, INFINITE) != S_OK)
                    ++failures;
                for (ULONG i = 0; i < n; ++i)
                    if (counted[i].runs != 1 || WaitForSingleObject(events[i], 0) != WAIT_OBJECT_0)
                        ++failures;
            }
            CloseAll(events);
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(failures, 0);
}

TEST(TaskManager, AFiniteWaitMayReturnBeforeTheTasksEnd) {
    Gate gate;
    std::vector<GatedTask> tasks = GatedTasks(gate, 3);
    std::vector<HANDLE> events = NewEvents(3);
    {
        ComPtr<IDXTaskManager> tm = NewManager(2);
        DXTMTASKINFO info[3];
        for (int i = 0; i < 3; ++i)
            info[i] = {&GatedProc, &tasks[i], nullptr, 0, nullptr};
        EXPECT_EQ(tm->ScheduleTasks(info, events.data(), nullptr, 3, 0), DXTERR_REQ_TIMEDOUT);
        EXPECT_EQ(tm->ScheduleTasks(info, nullptr, nullptr, 0, 5), S_OK);
        gate.Open();
        for (HANDLE e : events)
            EXPECT_EQ(WaitForSingleObject(e, INFINITE), WAIT_OBJECT_0);
        // A finite wait long enough for quick tasks answers S_OK.
        Counted quick;
        DXTMTASKINFO one{&CountTask, &quick, nullptr, 0, nullptr};
        EXPECT_EQ(tm->ScheduleTasks(&one, nullptr, nullptr, 1, 60000), S_OK);
        EXPECT_EQ(quick.runs, 1);
    }
    for (auto& t : tasks)
        EXPECT_EQ(t.counted.runs, 1);
    CloseAll(events);
}

TEST(TaskManager, DestructionRunsWhatIsQueuedAndJoins) {
    Gate gate;
    std::vector<GatedTask> tasks = GatedTasks(gate, 5);
    {
        ComPtr<IDXTaskManager> tm = NewManager(1);
        DXTMTASKINFO info[5];
        for (int i = 0; i < 5; ++i)
            info[i] = {&GatedProc, &tasks[i], nullptr, 0, nullptr};
        EXPECT_EQ(tm->ScheduleTasks(info, nullptr, nullptr, 5, 0), DXTERR_REQ_TIMEDOUT);
        gate.AwaitWaiting(1);
        std::thread opener([&] { gate.Open(); });
        tm.Reset(); // joins the worker after the queue has drained
        opener.join();
    }
    for (auto& t : tasks)
        EXPECT_EQ(t.counted.runs, 1);
}

TEST(TaskManager, CancellationClearsTheContinueFlag) {
    ComPtr<IDXTaskManager> tm = NewManager(1);
    Gate gate;
    // The first task holds the only worker; the others wait in the queue.
    GatedTask first;
    first.gate = &gate;
    Counted queued, other, tagged;
    static const GUID request = uuidof<IDXSurface>();
    DXTMTASKINFO info[4] = {{&GatedProc, &first, nullptr, 0, nullptr},
                            {&CountTask, &queued, nullptr, 0, nullptr},
                            {&CountTask, &other, nullptr, 0, nullptr},
                            {&CountTask, &tagged, nullptr, 0, &request}};
    DWORD ids[4] = {};
    EXPECT_EQ(tm->ScheduleTasks(info, nullptr, ids, 4, 0), DXTERR_REQ_TIMEDOUT);
    gate.AwaitWaiting(1);
    // The queued task cannot end while the first blocks the pool.
    EXPECT_EQ(tm->TerminateTasks(&ids[1], 1, 0), DXTERR_REQ_TIMEDOUT);
    EXPECT_EQ(tm->TerminateRequest(request, 0), DXTERR_REQ_TIMEDOUT);
    EXPECT_EQ(tm->TerminateTasks(nullptr, 1, 0), E_INVALIDARG);
    EXPECT_EQ(tm->TerminateTasks(nullptr, 0, 0), S_OK);
    DWORD unknown = 0xFFFF0000;
    EXPECT_EQ(tm->TerminateTasks(&unknown, 1, 0), S_OK);
    gate.Open();
    EXPECT_EQ(tm->TerminateTasks(&ids[1], 1, INFINITE), S_OK); // waits for it to end
    EXPECT_EQ(tm->TerminateRequest(request, INFINITE), S_OK);
    EXPECT_EQ(queued.runs, 1);
    EXPECT_EQ(queued.cont, FALSE);
    EXPECT_EQ(tagged.runs, 1);
    EXPECT_EQ(tagged.cont, FALSE);
    // Everything ends before a later batch on the one worker.
    Counted last;
    DXTMTASKINFO tail{&CountTask, &last, nullptr, 0, nullptr};
    EXPECT_EQ(tm->ScheduleTasks(&tail, nullptr, nullptr, 1, INFINITE), S_OK);
    EXPECT_EQ(first.counted.cont, TRUE);
    EXPECT_EQ(other.runs, 1);
    EXPECT_EQ(other.cont, TRUE);
}

TEST(TaskManager, ARunningTaskSeesItsCancellation) {
    ComPtr<IDXTaskManager> tm = NewManager(2);
    struct Polling {
        std::atomic<bool> started{false};
        std::atomic<bool> sawStop{false};
    } polling;
    DXTMTASKINFO info{[](void* d, BOOL* cont) {
                          auto* p = static_cast<Polling*>(d);
                          p->started = true;
                          while (std::atomic_ref<BOOL>(*cont).load())
                              std::this_thread::yield();
                          p->sawStop = true;
                      },
                      &polling, nullptr, 0, nullptr};
    DWORD id = 0;
    EXPECT_EQ(tm->ScheduleTasks(&info, nullptr, &id, 1, 0), DXTERR_REQ_TIMEDOUT);
    while (!polling.started)
        std::this_thread::yield();
    EXPECT_EQ(tm->TerminateTasks(&id, 1, INFINITE), S_OK);
    EXPECT_TRUE(polling.sawStop);
}

TEST(TaskManager, ATaskMayScheduleTasksOnItsOwnPool) {
    // One worker: waiting for the pool from inside it would never end, so the nested tasks
    // run on the scheduling worker itself.
    ComPtr<IDXTaskManager> tm = NewManager(1);
    struct Outer {
        IDXTaskManager* tm;
        Counted inner[3];
        HRESULT hr = E_FAIL;
        std::thread::id thread;
    } outer{tm.Get(), {}, E_FAIL, {}};
    DXTMTASKINFO info{[](void* d, BOOL*) {
                          auto* o = static_cast<Outer*>(d);
                          o->thread = std::this_thread::get_id();
                          DXTMTASKINFO nested[3];
                          for (int i = 0; i < 3; ++i)
                              nested[i] = {&CountTask, &o->inner[i], nullptr, 0, nullptr};
                          DWORD ids[3] = {};
                          o->hr = o->tm->ScheduleTasks(nested, nullptr, ids, 3, INFINITE);
                          EXPECT_NE(ids[0], 0u);
                      },
                      &outer, nullptr, 0, nullptr};
    EXPECT_EQ(tm->ScheduleTasks(&info, nullptr, nullptr, 1, INFINITE), S_OK);
    EXPECT_EQ(outer.hr, S_OK);
    for (const Counted& c : outer.inner) {
        EXPECT_EQ(c.runs, 1);
        EXPECT_EQ(c.thread, outer.thread);
    }
}
