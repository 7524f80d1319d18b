// The per-frame paths allocate nothing once warm: locking a surface band by band, and
// scheduling a frame's pieces on the task manager. Global operator new is replaced in this
// program to count allocations from every thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "helpers.h"

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
} // namespace

namespace {
void* Allocate(std::size_t n) noexcept {
    if (g_counting.load(std::memory_order_relaxed))
        ++g_allocations;
    return std::malloc(n ? n : 1);
}
void* AllocateOrThrow(std::size_t n) {
    if (void* p = Allocate(n))
        return p;
    throw std::bad_alloc();
}
} // namespace

// Every form, so that allocation and release always meet in malloc and free.
void* operator new(std::size_t n) {
    return AllocateOrThrow(n);
}
void* operator new[](std::size_t n) {
    return AllocateOrThrow(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return Allocate(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return Allocate(n);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

using namespace dxtest;

namespace {

struct Band {
    IDXSurface* surface;
    LONG y0, y1;
    HRESULT hr;
};

// What a piece of work does to the surface: lock its band, touch it in place, release.
void BandTask(void* data, BOOL*) {
    auto* b = static_cast<Band*>(data);
    DXBNDS bounds = Bounds(0, b->y0, 64, b->y1);
    IDXARGBReadWritePtr* p = nullptr;
    b->hr = b->surface->LockSurface(&bounds, 0, DXLOCKF_READWRITE, uuidof<IDXARGBReadWritePtr>(),
                                    reinterpret_cast<void**>(&p), nullptr);
    if (FAILED(b->hr))
        return;
    DXNATIVETYPEINFO info{};
    p->GetNativeType(&info);
    for (LONG y = 0; y < b->y1 - b->y0; ++y)
        info.pFirstByte[y * info.lPitch] ^= 1;
    p->Release();
}

} // namespace

TEST(SteadyState, FramesAllocateNothing) {
    ComPtr<IDXSurface> s = NewSurface(DXPF_PMARGB32, 64, 64);
    ComPtr<IDXTaskManager> tm;
    ASSERT_EQ(DXCreateTaskManager(4, &tm), S_OK);
    HANDLE events[4];
    for (HANDLE& e : events)
        e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Band bands[4];
    DXTMTASKINFO info[4];
    DWORD ids[4];
    for (LONG i = 0; i < 4; ++i) {
        bands[i] = {s.Get(), i * 16, (i + 1) * 16, E_FAIL};
        info[i] = {&BandTask, &bands[i], nullptr, 0, nullptr};
    }
    auto frame = [&] {
        ASSERT_EQ(tm->ScheduleTasks(info, events, ids, 4, INFINITE), S_OK);
        for (const Band& b : bands)
            ASSERT_EQ(b.hr, S_OK);
        BandTask(&bands[0], nullptr); // one piece on the calling thread, as a small frame runs
    };
    // Warm up the free lists: as many pointers at once as a frame may hold, then a few frames.
    {
        std::vector<ComPtr<IDXARGBReadWritePtr>> held;
        for (const Band& b : bands) {
            DXBNDS bounds = Bounds(0, b.y0, 64, b.y1);
            held.push_back(LockRW(s.Get(), &bounds));
        }
    }
    for (int i = 0; i < 10; ++i)
        frame();
    g_counting = true;
    for (int i = 0; i < 200; ++i)
        frame();
    g_counting = false;
    EXPECT_EQ(g_allocations.exchange(0), 0);
    for (HANDLE e : events)
        CloseHandle(e);
}

TEST(SteadyState, TheCounterCounts) {
    g_counting = true;
    delete new int(1);
    g_counting = false;
    EXPECT_EQ(g_allocations.exchange(0), 1);
}
