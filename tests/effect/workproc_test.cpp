// Execute in place gives the scalar rule's bytes over each band, on every instruction set.
#include <random>
#include <string>

#include "every_target.h"
#include "effect_rig.h"

using namespace velmora;
using namespace velmora::test;
namespace bnds = velmora::dxbounds;

namespace {

struct Case {
    ULONG processors;
    LONG pitchPad;    // bytes after each row, a multiple of 4
    bool bottomUp;    // negative pitch
    std::size_t skew; // base address modulo 4
    bool clipped;
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Effect, EveryTarget, EveryTargetValues(), TargetName);

TEST_P(EveryTarget, ExecuteInPlaceEqualsTheRule) {
    constexpr LONG w = 203, h = 41; // 8323 pixels: up to three bands
    const Case cases[] = {
        {1, 0, false, 0, false}, {2, 0, false, 0, false}, {4, 12, false, 1, false},
        {2, 8, true, 3, false},  {4, 4, true, 2, true},   {1, 0, false, 1, true},
    };
    std::mt19937 rng(7);
    for (const Case& c : cases) {
        const LONG rowBytes = w * 4 + c.pitchPad;
        std::vector<BYTE> arena(static_cast<std::size_t>(rowBytes) * h + 8);
        for (BYTE& b : arena)
            b = static_cast<BYTE>(rng());
        BYTE* top = arena.data() + c.skew + (c.bottomUp ? rowBytes * (h - 1) : 0);
        const LONG pitch = c.bottomUp ? -rowBytes : rowBytes;
        // Runs of clear (holding stray colour), opaque and partial pixels.
        for (LONG y = 0; y < h; ++y)
            for (LONG x = 0; x < w; ++x) {
                BYTE& alpha = top[y * pitch + x * 4 + 3];
                const unsigned kind = (static_cast<unsigned>(x) / 23 + y) % 4;
                alpha = kind == 0 ? 0 : kind == 1 ? 255 : kind == 2 ? alpha : 255;
            }
        const auto before = arena;

        ComPtr<IDXSurface> surface;
        ASSERT_EQ(DXCreateSurfaceOnMemory(DXPF_PMARGB32, top, pitch, w, h, &surface), S_OK);
        EffectRig rig(surface.Get(), c.processors);
        const FilterProps matte{static_cast<BYTE>(rng()), static_cast<BYTE>(rng()),
                                static_cast<BYTE>(rng()), static_cast<BYTE>(rng())};
        rig.SetProps(matte);

        // Clipped: x 17-190, y 3-38 of the frame, placed where it lies.
        const LONG x0 = c.clipped ? 17 : 0, y0 = c.clipped ? 3 : 0;
        const LONG x1 = c.clipped ? 190 : w, y1 = c.clipped ? 38 : h;
        const DXBNDS clip = bnds::Discrete(x0, x1, y0, y1);
        const DXVEC at = Placement(x0, y0);
        ASSERT_EQ(rig.Run(c.clipped ? &clip : nullptr, c.clipped ? &at : nullptr), S_OK);

        auto expected = before;
        BYTE* expectedTop = expected.data() + (top - arena.data());
        ThreePass(expectedTop + y0 * pitch + x0 * 4, x1 - x0, y1 - y0, pitch, PackMatte(matte));
        EXPECT_EQ(arena, expected) << "processors " << c.processors << " pitch " << pitch
                                   << " skew " << c.skew << (c.clipped ? " clipped" : "");
    }
}
