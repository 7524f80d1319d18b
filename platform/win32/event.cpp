// Events live in a handle table, so that a stale or closed handle is refused instead of
// touched: a handle is a number that is never reused, and waiters keep the event itself
// alive while they wait, even if the handle is closed under them.
#include "event.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "testing.h"

namespace {

struct Event {
    std::mutex m;
    std::condition_variable cv;
    bool signalled = false;
    bool manualReset = false;
};

struct HandleTable {
    std::mutex m;
    std::unordered_map<std::uintptr_t, std::shared_ptr<Event>> events;
    std::uintptr_t next = 0x1004; // multiples of 4, as handles usually are; never 0
};

// Never destroyed: events may still be closed from static destructors at exit.
HandleTable& Table() {
    static HandleTable* table = new HandleTable;
    return *table;
}

std::atomic<unsigned> g_failCreations{0};

std::shared_ptr<Event> Find(HANDLE h) {
    if (!h)
        return nullptr;
    HandleTable& t = Table();
    std::lock_guard lock(t.m);
    auto it = t.events.find(reinterpret_cast<std::uintptr_t>(h));
    return it == t.events.end() ? nullptr : it->second;
}

} // namespace

void velmora::win32::testing::FailNextEventCreations(unsigned count) {
    g_failCreations.store(count);
}

HANDLE CreateEventA(void*, BOOL manualReset, BOOL initialState, LPCSTR name) {
    if (name)
        return nullptr; // named (shared) events are not offered
    for (unsigned n = g_failCreations.load(); n > 0;)
        if (g_failCreations.compare_exchange_weak(n, n - 1))
            return nullptr;
    std::shared_ptr<Event> e;
    try {
        e = std::make_shared<Event>();
        e->manualReset = manualReset != FALSE;
        e->signalled = initialState != FALSE;
        HandleTable& t = Table();
        std::lock_guard lock(t.m);
        std::uintptr_t id = t.next;
        t.next += 4;
        t.events.emplace(id, std::move(e));
        return reinterpret_cast<HANDLE>(id);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

BOOL SetEvent(HANDLE h) {
    std::shared_ptr<Event> e = Find(h);
    if (!e)
        return FALSE;
    {
        std::lock_guard lock(e->m);
        e->signalled = true;
    }
    // An auto-reset event lets one waiter through; that waiter resets it.
    if (e->manualReset)
        e->cv.notify_all();
    else
        e->cv.notify_one();
    return TRUE;
}

BOOL ResetEvent(HANDLE h) {
    std::shared_ptr<Event> e = Find(h);
    if (!e)
        return FALSE;
    std::lock_guard lock(e->m);
    e->signalled = false;
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds) {
    std::shared_ptr<Event> e = Find(h);
    if (!e)
        return WAIT_FAILED;
    std::unique_lock lock(e->m);
    auto ready = [&] { return e->signalled; };
    if (milliseconds == INFINITE)
        e->cv.wait(lock, ready);
    else if (!e->cv.wait_for(lock, std::chrono::milliseconds(milliseconds), ready))
        return WAIT_TIMEOUT;
    if (!e->manualReset)
        e->signalled = false;
    return WAIT_OBJECT_0;
}

BOOL CloseHandle(HANDLE h) {
    if (!h)
        return FALSE;
    std::shared_ptr<Event> e; // destroyed outside the table's lock
    HandleTable& t = Table();
    std::lock_guard lock(t.m);
    auto it = t.events.find(reinterpret_cast<std::uintptr_t>(h));
    if (it == t.events.end())
        return FALSE;
    e = std::move(it->second);
    t.events.erase(it);
    return TRUE;
}
