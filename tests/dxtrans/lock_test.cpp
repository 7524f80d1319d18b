// Surface locks from several threads: disjoint areas at once, overlapping writers refused or
// kept waiting, readers sharing, and no lost updates.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <random>
#include <thread>
#include <vector>

#include "helpers.h"

using namespace dxtest;

TEST(SurfaceLocks, OverlapRulesBetweenThreads) {
    ComPtr<IDXSurface> s = NewSurface(DXPF_PMARGB32, 100, 100);
    const DXBNDS top = Bounds(0, 0, 100, 50), mid = Bounds(10, 40, 20, 60),
                 bottom = Bounds(0, 50, 100, 100), empty = Bounds(10, 45, 10, 55);
    ComPtr<IDXARGBReadWritePtr> writer = LockRW(s.Get(), &top);
    EXPECT_EQ(Elsewhere(s.Get(), mid, DXLOCKF_READWRITE), DXTERR_REQ_TIMEDOUT);
    EXPECT_EQ(Elsewhere(s.Get(), mid, DXLOCKF_READ), DXTERR_REQ_TIMEDOUT);
    EXPECT_EQ(Elsewhere(s.Get(), mid, DXLOCKF_READWRITE, 10), DXTERR_REQ_TIMEDOUT);
    EXPECT_EQ(Elsewhere(s.Get(), bottom, DXLOCKF_READWRITE), S_OK);
    EXPECT_EQ(Elsewhere(s.Get(), empty, DXLOCKF_READWRITE), S_OK);
    EXPECT_EQ(TryLock(s.Get(), &mid, DXLOCKF_READWRITE), S_OK); // a thread never blocks itself
    writer.Reset();
    EXPECT_EQ(Elsewhere(s.Get(), mid, DXLOCKF_READWRITE), S_OK);

    // Areas that only touch do not overlap, whichever side the holder is on.
    const DXBNDS quarters[4] = {Bounds(0, 0, 50, 50), Bounds(50, 0, 100, 50),
                                Bounds(0, 50, 50, 100), Bounds(50, 50, 100, 100)};
    for (const DXBNDS& held : quarters) {
        ComPtr<IDXARGBReadWritePtr> quarter = LockRW(s.Get(), &held);
        for (const DXBNDS& other : quarters)
            EXPECT_EQ(Elsewhere(s.Get(), other, DXLOCKF_READWRITE),
                      &other == &held ? DXTERR_REQ_TIMEDOUT : S_OK);
    }

    ComPtr<IDXARGBReadPtr> reader = LockRead(s.Get(), &top); // readers share, writers wait
    EXPECT_EQ(Elsewhere(s.Get(), mid, DXLOCKF_READ), S_OK);
    EXPECT_EQ(Elsewhere(s.Get(), mid, DXLOCKF_READWRITE), DXTERR_REQ_TIMEDOUT);
    reader.Reset();
    EXPECT_EQ(Elsewhere(s.Get(), mid, DXLOCKF_READWRITE), S_OK);
}

TEST(SurfaceLocks, AWaitingLockGetsTheAreaOnceReleased) {
    ComPtr<IDXSurface> s = NewSurface(DXPF_ARGB32, 16, 16);
    ComPtr<IDXARGBReadWritePtr> held = LockRW(s.Get());
    std::atomic<bool> released{false}, sawReleased{false};
    std::thread waiter([&] {
        EXPECT_EQ(TryLock(s.Get(), nullptr, DXLOCKF_READWRITE, INFINITE), S_OK);
        sawReleased = released.load();
    });
    released = true;
    held.Reset();
    waiter.join();
    EXPECT_TRUE(sawReleased);
}

TEST(SurfaceLocks, DisjointBandsAreHeldAtOnceFromSeveralThreads) {
    constexpr LONG w = 64, h = 40, bands = 4;
    ComPtr<IDXSurface> s = NewSurface(DXPF_PMARGB32, w, h);
    const ULONG g0 = Generation(s.Get());
    std::latch allHeld(bands);
    std::vector<std::thread> threads;
    for (LONG i = 0; i < bands; ++i)
        threads.emplace_back([&, i] {
            DXBNDS b = Bounds(0, i * h / bands, w, (i + 1) * h / bands);
            ComPtr<IDXARGBReadWritePtr> p = LockRW(s.Get(), &b);
            allHeld.arrive_and_wait(); // every band is locked here
            if (p)
                p->FillRect(nullptr, Sample(255, BYTE(i), BYTE(i * 2), BYTE(i * 3)), FALSE);
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(Generation(s.Get()), g0 + bands);
    std::vector<DXSAMPLE> all = ReadAll(LockRead(s.Get()).Get(), w, h, true);
    for (LONG y = 0; y < h; ++y) {
        const BYTE i = static_cast<BYTE>(y / (h / bands));
        EXPECT_EQ(all[y * w + 5], Sample(255, i, BYTE(i * 2), BYTE(i * 3))) << y;
    }
}

TEST(SurfaceLocks, SourceRowsAreCopiedOnceWhicheverThreadReachesThemFirst) {
    // Threads hold column strips of the same rows at once and mark their strip; no row's copy
    // from the source may land over a mark, and every other sample is the source's.
    constexpr LONG w = 64, h = 48, strips = 4;
    std::vector<std::uint32_t> source(w * h), mem(w * h, 0xEEEEEEEE);
    for (std::size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<std::uint32_t>(i * 2654435761u) | 0x01000000u;
    for (int round = 0; round < 20; ++round) {
        ComPtr<IDXSurface> s;
        ASSERT_EQ(DXCreateSurfaceOnMemoryFrom(DXPF_PMARGB32, mem.data(), w * 4, source.data(),
                                              w * 4, w, h, &s),
                  S_OK);
        std::latch allHeld(strips);
        std::vector<std::thread> threads;
        for (LONG i = 0; i < strips; ++i)
            threads.emplace_back([&, i] {
                DXBNDS b = Bounds(i * w / strips, round % 8, (i + 1) * w / strips, h);
                ComPtr<IDXARGBReadWritePtr> p = LockRW(s.Get(), &b);
                allHeld.arrive_and_wait();
                if (p)
                    p->FillRect(nullptr, Sample(0, 0, 0, BYTE(i + 1)), FALSE);
            });
        for (auto& t : threads)
            t.join();
        s.Reset();
        for (LONG y = 0; y < h; ++y)
            for (LONG x = 0; x < w; ++x) {
                const std::uint32_t want =
                    y < round % 8 ? source[y * w + x] : std::uint32_t(x / (w / strips) + 1);
                ASSERT_EQ(mem[y * w + x], want) << x << "," << y << " round " << round;
            }
        std::fill(mem.begin(), mem.end(), 0xEEEEEEEE);
    }
}

TEST(SurfaceLocks, OverlappingWritersNeverLoseUpdates) {
    // Threads lock random rectangles, waiting as long as needed, and add 1 to every sample in
    // them by reading and writing back; a lost update or a race would show in the sums.
    constexpr LONG w = 24, h = 24;
    constexpr int threads = 4, rounds = 150;
    ComPtr<IDXSurface> s = NewSurface(DXPF_ARGB32, w, h);
    std::vector<std::vector<int>> counts(threads, std::vector<int>(w * h));
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            std::mt19937 rng(static_cast<unsigned>(t) + 1);
            for (int r = 0; r < rounds; ++r) {
                LONG x0 = LONG(rng() % w), y0 = LONG(rng() % h);
                LONG x1 = x0 + 1 + LONG(rng() % (w - x0)), y1 = y0 + 1 + LONG(rng() % (h - y0));
                DXBNDS b = Bounds(x0, y0, x1, y1);
                ComPtr<IDXARGBReadWritePtr> p;
                ASSERT_EQ(s->LockSurface(&b, INFINITE, DXLOCKF_READWRITE,
                                         uuidof<IDXARGBReadWritePtr>(),
                                         reinterpret_cast<void**>(&p), nullptr),
                          S_OK);
                std::vector<DXSAMPLE> v = ReadAll(p.Get(), ULONG(x1 - x0), ULONG(y1 - y0), false);
                for (DXSAMPLE& x : v)
                    ++x.Blue;
                DXPACKEDRECTDESC d{v.data(), FALSE, {0, 0, x1 - x0, y1 - y0}, 0};
                p->PackRect(&d);
                for (LONG y = y0; y < y1; ++y)
                    for (LONG x = x0; x < x1; ++x)
                        ++counts[t][y * w + x];
            }
        });
    for (auto& t : pool)
        t.join();
    std::vector<DXSAMPLE> all = ReadAll(LockRead(s.Get()).Get(), w, h, false);
    for (LONG i = 0; i < w * h; ++i) {
        int sum = 0;
        for (const auto& c : counts)
            sum += c[i];
        ASSERT_EQ(all[i].Blue, sum % 256) << i;
    }
}
