// The k-th unpack buffer of an Execute failing to allocate, for every k: E_OUTOFMEMORY, that
// piece's band as it was, the others wholly done, the next Execute exact. Global operator new is
// replaced here (tests/support/alloc_hook), so it is a program of its own.
#include <gtest/gtest.h>

#include <atomic>

#include "../effect/effect_rig.h"
#include "../soak.h"
#include "../support/alloc_hook.h"

using namespace velmora;
using namespace velmora::test;

namespace {

// Nothrow array allocations while the hook is set are numbered; the one numbered g_failAt fails.
std::atomic<long> g_arrayCalls{0}, g_failAt{-1};

bool FailOnCue(std::size_t, bool nothrowArray) {
    return !nothrowArray || g_arrayCalls.fetch_add(1) != g_failAt.load();
}

constexpr LONG kWidth = 256, kHeight = 64;

} // namespace

TEST(UnpackAllocationFaults, EveryPieceBufferFailsInTurn) {
    long injected = 0;
    for (ULONG processors : {1u, 2u, 4u}) {
        auto surface = MakeSurface(DXFMT_ARGB32, kWidth, kHeight);
        Fill(surface.Get(), kWidth, kHeight, KeyedFrame(static_cast<size_t>(kWidth) * kHeight, 5));
        const auto original = Samples<BYTE>(surface.Get(), kWidth, kHeight);
        EffectRig fx(surface.Get(), processors);
        fx.SetProps({255, 200, 30, 90});
        ASSERT_EQ(fx.Run(), S_OK);
        const auto done = Samples<BYTE>(surface.Get(), kWidth, kHeight);
        // A run with the hook counting: one buffer per piece, then each failing in turn.
        for (long round = 0; round < Count(2, 200); ++round)
            for (long k = -1; k < static_cast<long>(processors); ++k) {
                Fill(surface.Get(), kWidth, kHeight, original);
                g_arrayCalls = 0;
                g_failAt = k;
                SetAllocationHook(&FailOnCue);
                const HRESULT hr = fx.Run();
                SetAllocationHook(nullptr);
                const auto now = Samples<BYTE>(surface.Get(), kWidth, kHeight);
                if (k < 0) {
                    EXPECT_EQ(hr, S_OK);
                    EXPECT_EQ(g_arrayCalls, static_cast<long>(processors)) << "one per piece";
                    EXPECT_EQ(now, done);
                    continue;
                }
                ++injected;
                EXPECT_EQ(hr, E_OUTOFMEMORY) << processors << " processors, buffer " << k;
                std::string states =
                    BandStates(now, original, done, kWidth * 4, kHeight, processors);
                std::sort(states.begin(), states.end());
                EXPECT_EQ(states, std::string("o") + std::string(processors - 1, 'x'));
            }
        fx.Disconnect();
    }
    Figure("faults injected", static_cast<double>(injected));
}
