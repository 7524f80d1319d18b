// Surface locks from several threads: disjoint areas at once, overlapping writers refused or
// kept waiting, readers sharing.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <random>
#include <thread>
#include <vector>

#include "helpers.h"

using namespace dxtest;

namespace {

// Runs f on another thread and returns its result.
template <class F>
auto OnOtherThread(F f) {
    decltype(f()) result{};
    std::thread t([&] { result = f(); });
    t.join();
    return result;
}

HRESULT TryLock(IDXSurface* s, const DXBNDS& b, DWORD flags, ULONG timeOut = 0) {
    ComPtr<IUnknown> p;
    const IID& iid = flags ? uuidof<IDXARGBReadWritePtr>() : uuidof<IDXARGBReadPtr>();
    return s->LockSurface(&b, timeOut, flags, iid, reinterpret_cast<void**>(&p), nullptr);
}

} // namespace

TEST(SurfaceLocks, OverlapRulesBetweenThreads) {
    ComPtr<IDXSurface> s = NewSurface(DXPF_PMARGB32, 100, 100);
    const DXBNDS top = Bounds(0, 0, 100, 50), mid = Bounds(10, 40, 20, 60),
                 bottom = Bounds(0, 50, 100, 100), empty = Bounds(10, 45, 10, 55);
    {
        ComPtr<IDXARGBReadWritePtr> held = LockRW(s.Get(), &top);
        // Another thread: overlapping writers and readers refused, disjoint and empty ones fine.
        EXPECT_EQ(OnOtherThread([&] { return TryLock(s.Get(), mid, DXLOCKF_READWRITE); }),
                  DXTERR_REQ_TIMEDOUT);
        EXPECT_EQ(OnOtherThread([&] { return TryLock(s.Get(), mid, DXLOCKF_READ); }),
                  DXTERR_REQ_TIMEDOUT);
        EXPECT_EQ(OnOtherThread([&] { return TryLock(s.Get(), mid, DXLOCKF_READWRITE, 10); }),
                  DXTERR_REQ_TIMEDOUT);
        EXPECT_EQ(OnOtherThread([&] { return TryLock(s.Get(), bottom, DXLOCKF_READWRITE); }), S_OK);
        EXPECT_EQ(OnOtherThread([&] { return TryLock(s.Get(), empty, DXLOCKF_READWRITE); }), S_OK);
        // The holder's own thread never blocks itself.
        EXPECT_EQ(TryLock(s.Get(), mid, DXLOCKF_READWRITE), S_OK);
        EXPECT_EQ(TryLock(s.Get(), top, DXLOCKF_READ), S_OK);
    }
    EXPECT_EQ(OnOtherThread([&] { return TryLock(s.Get(), mid, DXLOCKF_READWRITE); }), S_OK);

    {
        // Readers share; a reader keeps writers of other threads out.
        ComPtr<IDXARGBReadPtr> reader = LockRead(s.Get(), &top);
        EXPECT_EQ(OnOtherThread([&] { return TryLock(s.Get(), mid, DXLOCKF_READ); }), S_OK);
        EXPECT_EQ(OnOtherThread([&] { return TryLock(s.Get(), mid, DXLOCKF_READWRITE); }),
                  DXTERR_REQ_TIMEDOUT);
    }
    EXPECT_EQ(OnOtherThread([&] { return TryLock(s.Get(), mid, DXLOCKF_READWRITE); }), S_OK);
}

TEST(SurfaceLocks, AWaitingLockGetsTheAreaOnceReleased) {
    ComPtr<IDXSurface> s = NewSurface(DXPF_ARGB32, 16, 16);
    const DXBNDS all = Bounds(0, 0, 16, 16);
    ComPtr<IDXARGBReadWritePtr> held = LockRW(s.Get(), &all);
    std::atomic<bool> released{false};
    std::atomic<bool> sawReleased{false};
    std::thread waiter([&] {
        ComPtr<IDXARGBReadWritePtr> p;
        HRESULT hr =
            s->LockSurface(&all, INFINITE, DXLOCKF_READWRITE, uuidof<IDXARGBReadWritePtr>(),
                           reinterpret_cast<void**>(&p), nullptr);
        EXPECT_EQ(hr, S_OK);
        sawReleased = released.load();
    });
    released = true;
    held.Reset();
    waiter.join();
    EXPECT_TRUE(sawReleased); // the waiter got the area only after the holder let go
}

TEST(SurfaceLocks, DisjointBandsAreHeldAtOnceFromSeveralThreads) {
    constexpr LONG w = 64, h = 40, bands = 4;
    ComPtr<IDXSurface> s = NewSurface(DXPF_PMARGB32, w, h);
    const ULONG g0 = Generation(s.Get());
    std::latch allHeld(bands);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (LONG i = 0; i < bands; ++i)
        threads.emplace_back([&, i] {
            DXBNDS b = Bounds(0, i * h / bands, w, (i + 1) * h / bands);
            ComPtr<IDXARGBReadWritePtr> p;
            if (s->LockSurface(&b, 0, DXLOCKF_READWRITE, uuidof<IDXARGBReadWritePtr>(),
                               reinterpret_cast<void**>(&p), nullptr) != S_OK)
                ++failures;
            allHeld.arrive_and_wait(); // every band is locked at this point
            if (p) {
                RECT r{0, 0, w, h / bands};
                p->FillRect(&r, Sample(255, BYTE(i), BYTE(i * 2), BYTE(i * 3)), FALSE);
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(Generation(s.Get()), g0 + bands);
    std::vector<DXSAMPLE> all = ReadAll(LockRead(s.Get()).Get(), w, h, true);
    for (LONG y = 0; y < h; ++y) {
        const BYTE i = static_cast<BYTE>(y / (h / bands));
        EXPECT_EQ(all[y * w + 5], Sample(255, i, BYTE(i * 2), BYTE(i * 3))) << y;
    }
}

TEST(SurfaceLocks, OverlappingWritersNeverLoseUpdates) {
    // Threads lock random rectangles (waiting as long as needed) and add 1 to every sample in
    // them by reading and writing back. Lost updates or races would show in the counts.
    constexpr LONG w = 24, h = 24;
    constexpr int threads = 4, rounds = 150;
    ComPtr<IDXSurface> s = NewSurface(DXPF_ARGB32, w, h);
    std::vector<std::vector<int>> expected(threads, std::vector<int>(w * h));
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            std::mt19937 rng(static_cast<unsigned>(t) + 1);
            for (int r = 0; r < rounds; ++r) {
                LONG x0 = static_cast<LONG>(rng() % w), y0 = static_cast<LONG>(rng() % h);
                LONG x1 = x0 + 1 + static_cast<LONG>(rng() % (w - x0));
                LONG y1 = y0 + 1 + static_cast<LONG>(rng() % (h - y0));
                DXBNDS b = Bounds(x0, y0, x1, y1);
                ComPtr<IDXARGBReadWritePtr> p;
                ASSERT_EQ(s->LockSurface(&b, INFINITE, DXLOCKF_READWRITE,
                                         uuidof<IDXARGBReadWritePtr>(),
                                         reinterpret_cast<void**>(&p), nullptr),
                          S_OK);
                ULONG bw = static_cast<ULONG>(x1 - x0), bh = static_cast<ULONG>(y1 - y0);
                std::vector<DXSAMPLE> v = ReadAll(p.Get(), bw, bh, false);
                for (DXSAMPLE& x : v)
                    x.Blue = static_cast<BYTE>(x.Blue + 1);
                DXPACKEDRECTDESC d{v.data(), FALSE, {0, 0, LONG(bw), LONG(bh)}, 0};
                p->PackRect(&d);
                for (LONG y = y0; y < y1; ++y)
                    for (LONG x = x0; x < x1; ++x)
                        ++expected[t][y * w + x];
            }
        });
    for (auto& t : pool)
        t.join();
    std::vector<DXSAMPLE> all = ReadAll(LockRead(s.Get()).Get(), w, h, false);
    for (LONG i = 0; i < w * h; ++i) {
        int sum = 0;
        for (int t = 0; t < threads; ++t)
            sum += expected[t][i];
        ASSERT_EQ(all[i].Blue, sum % 256) << i;
    }
}
