// Surface locks from several threads: overlapping writers refused or kept waiting, readers
// sharing, source rows copied once, no lost updates.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "helpers.h"

using namespace dxtest;

TEST(SurfaceLocks, OverlapRulesBetweenThreads) {
    ComPtr<IDXSurface> s = NewSurface(DXPF_PMARGB32, 100, 100);
    const DXBNDS top = Discrete({0, 0, 100, 50}), mid = Discrete({10, 40, 20, 60}),
                 outside = Discrete({0, 0, 101, 50});
    EXPECT_EQ(TryLock(s.Get(), &outside, DXLOCKF_READ), DXTERR_INVALID_BOUNDS);
    ComPtr<IDXARGBReadWritePtr> writer = LockRW(s.Get(), &top);
    EXPECT_EQ(Elsewhere(s.Get(), mid, DXLOCKF_READ), DXTERR_REQ_TIMEDOUT);
    EXPECT_EQ(Elsewhere(s.Get(), mid, DXLOCKF_READWRITE, 10), DXTERR_REQ_TIMEDOUT);
    EXPECT_EQ(TryLock(s.Get(), &mid, DXLOCKF_READWRITE), S_OK) << "a thread never blocks itself";
    writer.Reset();

    // Areas that only touch do not overlap, whichever side the holder is on.
    const DXBNDS quarters[4] = {Discrete({0, 0, 50, 50}), Discrete({50, 0, 100, 50}),
                                Discrete({0, 50, 50, 100}), Discrete({50, 50, 100, 100})};
    for (const DXBNDS& held : quarters) {
        ComPtr<IDXARGBReadWritePtr> quarter = LockRW(s.Get(), &held);
        for (const DXBNDS& other : quarters)
            EXPECT_EQ(Elsewhere(s.Get(), other, DXLOCKF_READWRITE),
                      &other == &held ? DXTERR_REQ_TIMEDOUT : S_OK);
    }

    ComPtr<IDXARGBReadPtr> reader = LockRead(s.Get(), &top);
    EXPECT_EQ(Elsewhere(s.Get(), mid, DXLOCKF_READ), S_OK) << "readers share";
    EXPECT_EQ(Elsewhere(s.Get(), mid, DXLOCKF_READWRITE), DXTERR_REQ_TIMEDOUT);

    // A writer waiting without a time-out gets the area once the reader lets go.
    std::atomic<bool> released{false};
    std::thread waiter([&] {
        EXPECT_EQ(TryLock(s.Get(), &mid, DXLOCKF_READWRITE, INFINITE), S_OK);
        EXPECT_TRUE(released);
    });
    released = true;
    reader.Reset();
    waiter.join();
}

// Threads hold column strips of the same rows at once and mark their strip: no row's copy from
// the source may land over a mark, and every other sample is the source's.
TEST(SurfaceLocks, SourceRowsAreCopiedOnceWhicheverThreadReachesThemFirst) {
    constexpr LONG w = 64, h = 48, strips = 4;
    std::vector<std::uint32_t> source(w * h), mem(w * h, 0xEEEEEEEE);
    for (std::size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<std::uint32_t>(i * 2654435761u) | 0x01000000u;
    for (int round = 0; round < 20; ++round) {
        ComPtr<IDXSurface> s;
        ASSERT_EQ(DXCreateSurfaceOnMemoryFrom(DXPF_PMARGB32, mem.data(), w * 4, source.data(),
                                              w * 4, w, h, &s),
                  S_OK);
        Latch allHeld(strips);
        std::vector<std::thread> threads;
        for (LONG i = 0; i < strips; ++i)
            threads.emplace_back([&, i] {
                DXBNDS b = Discrete({i * w / strips, round % 8, (i + 1) * w / strips, h});
                ComPtr<IDXARGBReadWritePtr> p = LockRW(s.Get(), &b);
                allHeld.ArriveAndWait();
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

// Threads lock random rectangles, waiting as long as needed, and add 1 to every sample in them
// by reading and writing back; a lost update would show in the sums.
TEST(SurfaceLocks, OverlappingWritersNeverLoseUpdates) {
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
                DXBNDS b = Discrete({x0, y0, x1, y1});
                ComPtr<IDXARGBReadWritePtr> p;
                ASSERT_EQ(
                    s->LockSurface(&b, INFINITE, DXLOCKF_READWRITE, IID_PPV_ARGS(&p), nullptr),
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
