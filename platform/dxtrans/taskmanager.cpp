// The task manager: a fixed pool of worker threads, created with the manager and joined when it
// is destroyed (after the queue has drained).
//
// ScheduleTasks queues its tasks in order; a free worker takes the oldest one, runs it with its
// data and continue flag, calls its completion procedure (if any) on the same thread, sets its
// event (if any), and only then counts it as ended. With the wait period INFINITE the call returns
// once every task has ended. With a finite period it returns S_OK if they have all ended within
// it, else DXTERR_REQ_TIMEDOUT; the tasks then still run and set their events, and their data
// must stay valid until then. Arguments are checked before anything is queued.
//
// Called from one of its own workers (a task scheduling tasks), the manager runs the new tasks
// right there, in order, so that a task never waits for a pool that its own kind has filled.
//
// Task records and per-call bookkeeping are recycled through free lists under the pool's lock,
// so that once warm a ScheduleTasks call allocates nothing.
//
// Cancellation (TerminateTasks, TerminateRequest) clears the continue flag of the tasks named;
// they still run (or go on running) and end as usual, so every task runs exactly once and every
// event is set. The flag is cleared with an atomic store; a task that polls it should read it
// with std::atomic_ref. Both calls then wait up to their time-out for the tasks to end (not for
// the calling task itself) and answer DXTERR_REQ_TIMEDOUT if some have not.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "../com/object.h"
#include "dxtrans.h"

namespace velmora::dxtrans {
namespace {

constexpr ULONG kMaxThreads = 64;

struct Batch {
    Batch* next = nullptr;
    std::condition_variable done;
    ULONG remaining = 0;
    bool waiting = false; // the caller waits; otherwise the last task recycles the batch
};

struct Entry {
    Entry* next = nullptr;
    PFNDXTASKPROC proc = nullptr;
    void* data = nullptr;
    PFNDXAPCPROC apc = nullptr;
    DWORD apcData = 0;
    GUID request{};
    bool hasRequest = false;
    HANDLE event = nullptr;
    DWORD id = 0;
    BOOL cont = TRUE;
    Batch* batch = nullptr;
};

struct Pool {
    std::mutex m;
    std::condition_variable work;  // workers wait for tasks here
    std::condition_variable ended; // terminate calls wait here
    Entry* head = nullptr;
    Entry* tail = nullptr;
    Entry* freeEntries = nullptr;
    Batch* freeBatches = nullptr;
    std::vector<Entry*> running; // per worker: the task it runs, or null
    ULONG limit = 1;
    ULONG busy = 0;
    unsigned terminateWaiters = 0;
    DWORD nextId = 1;
    bool stopping = false;

    ~Pool() {
        while (Entry* e = freeEntries) {
            freeEntries = e->next;
            delete e;
        }
        while (Batch* b = freeBatches) {
            freeBatches = b->next;
            delete b;
        }
    }

    DWORD NewId() {
        DWORD id = nextId++;
        if (nextId == 0)
            nextId = 1;
        return id;
    }
    void Recycle(Entry* e) {
        e->next = freeEntries;
        freeEntries = e;
    }
    void Recycle(Batch* b) {
        b->next = freeBatches;
        freeBatches = b;
    }
};

thread_local const Pool* t_pool = nullptr; // the pool whose worker this thread is
thread_local std::size_t t_worker = 0;

void RunWorker(std::shared_ptr<Pool> pool, std::size_t index) {
    t_pool = pool.get();
    t_worker = index;
    Pool& p = *pool;
    std::unique_lock lock(p.m);
    for (;;) {
        p.work.wait(lock, [&] { return (p.head && p.busy < p.limit) || (p.stopping && !p.head); });
        if (!p.head)
            return;
        Entry* e = p.head;
        p.head = e->next;
        if (!p.head)
            p.tail = nullptr;
        p.running[index] = e;
        ++p.busy;
        lock.unlock();

        e->proc(e->data, &e->cont);
        if (e->apc)
            e->apc(e->apcData);
        if (e->event)
            SetEvent(e->event);

        lock.lock();
        p.running[index] = nullptr;
        --p.busy;
        Batch* b = e->batch;
        p.Recycle(e);
        if (--b->remaining == 0) {
            if (b->waiting)
                b->done.notify_one();
            else
                p.Recycle(b);
        }
        if (p.terminateWaiters)
            p.ended.notify_all();
    }
}

class TaskManager final : public com::SimpleObject<TaskManager, IDXTaskManager> {
public:
    static HRESULT Create(ULONG processors, IDXTaskManager** pp) {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        if (processors == 0)
            processors = std::max(1u, std::thread::hardware_concurrency());
        if (processors > kMaxThreads)
            return E_INVALIDARG;
        auto* tm = new (std::nothrow) TaskManager(processors);
        if (!tm)
            return E_OUTOFMEMORY;
        if (!tm->Start()) {
            tm->Release();
            return E_OUTOFMEMORY;
        }
        *pp = tm;
        return S_OK;
    }

    ~TaskManager() override {
        if (!pool_)
            return; // Start failed before the pool existed
        {
            std::lock_guard lock(pool_->m);
            pool_->stopping = true;
        }
        pool_->work.notify_all();
        // A task that drops the last reference cannot join its own thread: that worker is
        // let go and ends by itself, keeping the pool alive until then.
        for (std::thread& t : threads_)
            if (t.get_id() == std::this_thread::get_id())
                t.detach();
            else if (t.joinable())
                t.join();
    }

    STDMETHOD(QueryNumProcessors)(ULONG* pulNumProc) override {
        if (!pulNumProc)
            return E_POINTER;
        *pulNumProc = processors_;
        return S_OK;
    }
    // The pool is fixed when the manager is made.
    STDMETHOD(SetThreadPoolSize)(ULONG ulNumThreads) override {
        return ulNumThreads == processors_ ? S_OK : E_NOTIMPL;
    }
    STDMETHOD(GetThreadPoolSize)(ULONG* pulNumThreads) override {
        if (!pulNumThreads)
            return E_POINTER;
        *pulNumThreads = processors_;
        return S_OK;
    }
    // How many tasks may run at once, at most the pool's size.
    STDMETHOD(SetConcurrencyLimit)(ULONG ulNumThreads) override {
        if (ulNumThreads == 0)
            return E_INVALIDARG;
        {
            std::lock_guard lock(pool_->m);
            pool_->limit = std::min(ulNumThreads, processors_);
        }
        pool_->work.notify_all();
        return S_OK;
    }
    STDMETHOD(GetConcurrencyLimit)(ULONG* pulNumThreads) override {
        if (!pulNumThreads)
            return E_POINTER;
        std::lock_guard lock(pool_->m);
        *pulNumThreads = pool_->limit;
        return S_OK;
    }

    STDMETHOD(ScheduleTasks)
    (DXTMTASKINFO TaskInfo[], HANDLE Events[], DWORD TaskIDs[], ULONG ulNumTasks,
     ULONG ulWaitPeriod) override {
        if (ulNumTasks == 0)
            return S_OK;
        if (!TaskInfo)
            return E_INVALIDARG;
        for (ULONG i = 0; i < ulNumTasks; ++i)
            if (!TaskInfo[i].pfnTaskProc)
                return E_INVALIDARG;
        if (t_pool == pool_.get())
            return RunHere(TaskInfo, Events, TaskIDs, ulNumTasks);

        Pool& p = *pool_;
        std::unique_lock lock(p.m);
        Batch* b = Take(p.freeBatches);
        if (!b)
            return E_OUTOFMEMORY;
        Entry* first = nullptr;
        Entry* last = nullptr;
        for (ULONG i = 0; i < ulNumTasks; ++i) {
            Entry* e = Take(p.freeEntries);
            if (!e) {
                while (Entry* f = first) {
                    first = f->next;
                    p.Recycle(f);
                }
                p.Recycle(b);
                return E_OUTOFMEMORY;
            }
            const DXTMTASKINFO& t = TaskInfo[i];
            e->next = nullptr;
            e->proc = t.pfnTaskProc;
            e->data = t.pTaskData;
            e->apc = t.pfnCompletionAPC;
            e->apcData = t.dwCompletionData;
            e->hasRequest = t.pRequestID != nullptr;
            e->request = t.pRequestID ? *t.pRequestID : GUID_NULL;
            e->event = Events ? Events[i] : nullptr;
            e->id = p.NewId();
            e->cont = TRUE;
            e->batch = b;
            if (TaskIDs)
                TaskIDs[i] = e->id;
            (last ? last->next : first) = e;
            last = e;
        }
        b->remaining = ulNumTasks;
        b->waiting = true;
        (p.tail ? p.tail->next : p.head) = first;
        p.tail = last;
        for (ULONG i = 0; i < std::min(ulNumTasks, processors_); ++i)
            p.work.notify_one();

        auto allEnded = [&] { return b->remaining == 0; };
        bool ended = true;
        if (ulWaitPeriod == INFINITE)
            b->done.wait(lock, allEnded);
        else
            ended = b->done.wait_for(lock, std::chrono::milliseconds(ulWaitPeriod), allEnded);
        if (!ended) {
            b->waiting = false; // the last task recycles it
            return DXTERR_REQ_TIMEDOUT;
        }
        p.Recycle(b);
        return S_OK;
    }

    STDMETHOD(TerminateTasks)(DWORD TaskIDs[], ULONG ulCount, ULONG ulTimeOut) override {
        if (ulCount == 0)
            return S_OK;
        if (!TaskIDs)
            return E_INVALIDARG;
        return Terminate(
            [&](const Entry& e) {
                return std::find(TaskIDs, TaskIDs + ulCount, e.id) != TaskIDs + ulCount;
            },
            ulTimeOut);
    }
    STDMETHOD(TerminateRequest)(REFIID RequestID, ULONG ulTimeOut) override {
        return Terminate([&](const Entry& e) { return e.hasRequest && e.request == RequestID; },
                         ulTimeOut);
    }

private:
    explicit TaskManager(ULONG processors) : processors_(processors) {}

    bool Start() {
        try {
            pool_ = std::make_shared<Pool>();
            pool_->running.assign(processors_, nullptr);
            pool_->limit = processors_;
            threads_.reserve(processors_);
            for (ULONG i = 0; i < processors_; ++i)
                threads_.emplace_back(RunWorker, pool_, std::size_t{i});
            return true;
        } catch (...) {
            return false; // the destructor stops what was started
        }
    }

    template <class T>
    static T* Take(T*& freeList) {
        if (T* t = freeList) {
            freeList = t->next;
            return t;
        }
        return new (std::nothrow) T;
    }

    HRESULT RunHere(DXTMTASKINFO* info, HANDLE* events, DWORD* ids, ULONG n) {
        for (ULONG i = 0; i < n; ++i) {
            DWORD id;
            {
                std::lock_guard lock(pool_->m);
                id = pool_->NewId();
            }
            if (ids)
                ids[i] = id;
            BOOL cont = TRUE;
            info[i].pfnTaskProc(info[i].pTaskData, &cont);
            if (info[i].pfnCompletionAPC)
                info[i].pfnCompletionAPC(info[i].dwCompletionData);
            if (events && events[i])
                SetEvent(events[i]);
        }
        return S_OK;
    }

    template <class Match>
    HRESULT Terminate(Match match, ULONG timeOut) {
        Pool& p = *pool_;
        const Entry* self = t_pool == &p ? p.running[t_worker] : nullptr;
        auto pending = [&] {
            bool any = false;
            for (Entry* e = p.head; e; e = e->next)
                if (match(*e)) {
                    std::atomic_ref<BOOL>(e->cont).store(FALSE);
                    any = true;
                }
            for (Entry* e : p.running)
                if (e && e != self && match(*e)) {
                    std::atomic_ref<BOOL>(e->cont).store(FALSE);
                    any = true;
                }
            return any;
        };
        std::unique_lock lock(p.m);
        if (self && match(*self))
            std::atomic_ref<BOOL>(const_cast<Entry*>(self)->cont).store(FALSE);
        if (!pending())
            return S_OK;
        ++p.terminateWaiters;
        bool ended = true;
        if (timeOut == INFINITE)
            p.ended.wait(lock, [&] { return !pending(); });
        else
            ended = p.ended.wait_for(lock, std::chrono::milliseconds(timeOut),
                                     [&] { return !pending(); });
        --p.terminateWaiters;
        return ended ? S_OK : DXTERR_REQ_TIMEDOUT;
    }

    const ULONG processors_;
    std::shared_ptr<Pool> pool_;
    std::vector<std::thread> threads_;
};

} // namespace
} // namespace velmora::dxtrans

HRESULT DXCreateTaskManager(ULONG processors, IDXTaskManager** ppTaskManager) {
    return velmora::dxtrans::TaskManager::Create(processors, ppTaskManager);
}
