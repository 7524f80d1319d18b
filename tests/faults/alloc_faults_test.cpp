// The k-th unpack buffer of an Execute failing to allocate, for every k: E_OUTOFMEMORY, that
// piece's band as it was, the others wholly done, the next Execute exact. Global operator new is
// replaced here (tests/support/alloc_hook), so it is a program of its own.
#include <gtest/gtest.h>

#include <atomic>

#include "../soak.h"
#include "../support/alloc_hook.h"
#include "../effect/frames.h"

namespace {
// Nothrow array allocations while the hook is set are numbered; the one numbered g_failAt fails.
std::atomic<long> g_arrayCalls{0};
std::atomic<long> g_failAt{-1};
std::atomic<long> g_injected{0};

bool FailOnCue(std::size_t, bool nothrowArray) {
    if (!nothrowArray || g_arrayCalls.fetch_add(1) != g_failAt.load())
        return true;
    g_injected.fetch_add(1);
    return false;
}
} // namespace

using namespace velmora;
using namespace velmora::test;

namespace {

constexpr LONG kWidth = 256, kHeight = 64;
constexpr FilterProps kMatte{255, 200, 30, 90};

std::vector<BYTE> Samples(IDXSurface* s) {
    return test::Samples<BYTE>(s, kWidth, kHeight);
}

} // namespace

TEST(UnpackAllocationFaults, EveryPieceBufferFailsInTurn) {
    Stopwatch watch;
    long frames = 0;
    const long rounds = Count(3, 200);
    for (ULONG processors : {1u, 2u, 4u}) {
        auto surface = MakeSurface(DXFMT_ARGB32, kWidth, kHeight);
        Fill(surface.Get(), kWidth, kHeight, KeyedFrame(static_cast<size_t>(kWidth) * kHeight, 5));
        const auto original = Samples(surface.Get());

        EffectRig fx(surface.Get(), processors);
        fx.SetProps(kMatte);
        ASSERT_EQ(fx.Run(), S_OK);
        const auto done = Samples(surface.Get());
        ASSERT_NE(done, original);

        // How many buffers a frame takes: one per piece.
        Fill(surface.Get(), kWidth, kHeight, original);
        g_arrayCalls = 0;
        g_failAt = -1;
        SetAllocationHook(&FailOnCue);
        ASSERT_EQ(fx.Run(), S_OK);
        SetAllocationHook(nullptr);
        const long pieces = g_arrayCalls.load();
        EXPECT_EQ(pieces, static_cast<long>(processors)) << "one buffer per piece";
        EXPECT_EQ(Samples(surface.Get()), done);

        for (long round = 0; round < rounds; ++round)
            for (long k = 0; k < pieces; ++k) {
                Fill(surface.Get(), kWidth, kHeight, original);
                g_arrayCalls = 0;
                g_failAt = k;
                SetAllocationHook(&FailOnCue);
                const HRESULT hr = fx.Run();
                SetAllocationHook(nullptr);
                ++frames;
                EXPECT_EQ(hr, E_OUTOFMEMORY) << processors << " processors, buffer " << k;
                const std::string states =
                    BandStates(Samples(surface.Get()), original, done, kWidth * 4,
                               Bands(kHeight, static_cast<ULONG>(pieces)));
                EXPECT_EQ(std::count(states.begin(), states.end(), 'o'), 1) << states;
                EXPECT_EQ(std::count(states.begin(), states.end(), 'x'), pieces - 1) << states;

                Fill(surface.Get(), kWidth, kHeight, original);
                EXPECT_EQ(fx.Run(), S_OK);
                ++frames;
                EXPECT_EQ(Samples(surface.Get()), done) << "the next Execute";
            }
        EXPECT_EQ(fx.Props(), kMatte);
        fx.transform->Setup(nullptr, 0, nullptr, 0, 0);
    }
    Figure("faults injected", static_cast<double>(g_injected.load()));
    Figure("frames checked", static_cast<double>(frames));
    watch.Report();
}
