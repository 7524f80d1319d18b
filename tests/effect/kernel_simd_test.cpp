// The vectorised one-pass kernel against the scalar rule (swap, UnmatteBuffer, swap), on every
// instruction set that is compiled in and that this CPU runs.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "every_target.h"
#include "../support/rule.h"

using velmora::UnmatteSurface;
using namespace velmora::test;

INSTANTIATE_TEST_SUITE_P(Kernel, EveryTarget, EveryTargetValues(), TargetName);

// All 256 x 256 x 256 (alpha, colour, matte) triples, in every channel: one frame per matte value,
// a row per alpha and a pixel per colour. Each channel maps colour and matte through its own
// bijection, so that a mix-up of channels cannot go unnoticed.
TEST_P(EveryTarget, EveryAlphaColourAndMatte) {
    constexpr int kSide = 256;
    std::vector<std::uint8_t> input(kSide * kSide * 4);
    for (int alpha = 0; alpha < kSide; ++alpha)
        for (int c = 0; c < kSide; ++c) {
            std::uint8_t* p = &input[(alpha * kSide + c) * 4];
            p[0] = static_cast<std::uint8_t>(c);        // blue
            p[1] = static_cast<std::uint8_t>(255 - c);  // green
            p[2] = static_cast<std::uint8_t>(c ^ 0x5A); // red
            p[3] = static_cast<std::uint8_t>(alpha);
        }
    long mismatches = 0;
    for (int m = 0; m < kSide; ++m) {
        const std::uint32_t matte =
            Matte(static_cast<std::uint8_t>(m * 7 + 3), static_cast<std::uint8_t>(m ^ 0xC3),
                  static_cast<std::uint8_t>(m), static_cast<std::uint8_t>(m * 13));
        auto expected = input, got = input;
        ThreePass(expected.data(), kSide, kSide, kSide * 4, matte);
        UnmatteSurface(got.data(), kSide, kSide, kSide * 4, matte);
        if (got != expected) {
            for (std::size_t i = 0; i < got.size(); ++i)
                if (got[i] != expected[i] && ++mismatches <= 5)
                    ADD_FAILURE() << "matte " << m << " alpha " << i / 4 / kSide << " colour "
                                  << i / 4 % kSide << " byte " << i % 4 << ": " << int{got[i]}
                                  << " instead of " << int{expected[i]};
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// Buffers of odd widths (tails shorter than any vector), odd and negative strides, any byte
// alignment, and runs of clear and opaque pixels as keyed footage has them: the bytes equal the
// three passes everywhere, and nothing outside the rectangle is touched.
TEST_P(EveryTarget, RandomBuffersOfAnyGeometry) {
    std::mt19937 rng(20240607u ^ static_cast<unsigned>(GetParam()));
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    for (int round = 0; round < 600; ++round) {
        const int width = round < 70 ? round : 1 + pick(300);
        const int height = 1 + pick(6);
        const int pad = pick(3) == 0 ? 0 : pick(40);
        const int stride = (pick(4) == 0 ? -1 : 1) * (width * 4 + pad);
        const int offset = pick(64);
        const std::size_t rowStep = static_cast<std::size_t>(std::abs(stride) & ~3);
        const std::size_t arena = 64 + offset + rowStep * (height - 1) + width * 4 + 64;
        std::vector<std::uint8_t> memory(arena);
        const std::size_t alphaPhase = static_cast<std::size_t>(offset + 3) % 4;
        for (std::size_t i = 0; i < arena;) {
            // Runs of one alpha kind, with colour bytes of every value (even above alpha).
            const int kind = pick(4), run = 1 + pick(40);
            for (int r = 0; r < run && i < arena; ++r, i += 4)
                for (int b = 0; b < 4 && i + b < arena; ++b) {
                    std::uint8_t v = static_cast<std::uint8_t>(rng());
                    if ((i + b) % 4 == alphaPhase)
                        v = kind == 0 ? 0 : kind == 1 ? 255 : v;
                    memory[i + b] = v;
                }
        }
        // With a negative stride the first row is the last one in memory.
        const std::size_t first = 64 + offset + (stride < 0 ? rowStep * (height - 1) : 0);
        const std::uint32_t matte = static_cast<std::uint32_t>(rng());
        auto expected = memory;
        ThreePass(expected.data() + first, width, height, stride, matte);
        UnmatteSurface(memory.data() + first, static_cast<std::uint32_t>(width),
                       static_cast<std::uint32_t>(height), stride, matte);
        ASSERT_EQ(memory, expected) << "width " << width << " height " << height << " stride "
                                    << stride << " offset " << offset;
    }
}
