// The conversions between premultiplied and straight samples, checked exhaustively against the
// real-number rules they stand for.
#include <gtest/gtest.h>

#include <cmath>

#include "helpers.h"
#include "platform/dxtrans/samples.h"

using namespace velmora::dxtrans;
using dxtest::Sample;

namespace {

int RefPremultiply(int c, int a) {
    return static_cast<int>(std::lround(c * a / 255.0)); // never a tie: 255 is odd
}
int RefUnpremultiply(int c, int a) {
    if (a == 0)
        return 0;
    return std::min(255, static_cast<int>(std::floor(c * 255.0 / a + 0.5)));
}

} // namespace

TEST(SampleConversion, IntegerRulesMatchTheRealNumberRulesExhaustively) {
    for (unsigned x = 0; x <= 255 * 255; ++x)
        ASSERT_EQ(Div255(x), std::lround(x / 255.0)) << x;
    for (int a = 0; a < 256; ++a) {
        for (int c = 0; c < 256; ++c) {
            const auto bc = static_cast<BYTE>(c), ba = static_cast<BYTE>(a);
            ASSERT_EQ(Premultiply(bc, ba), RefPremultiply(c, a)) << c << " " << a;
            ASSERT_EQ(Unpremultiply(bc, ba), RefUnpremultiply(c, a)) << c << " " << a;
        }
    }
    // Ties of the division round up: 1 * 255 / 2 = 127.5.
    EXPECT_EQ(Unpremultiply(1, 2), 128);
    // A colour above its alpha (not a valid premultiplied sample) clamps.
    EXPECT_EQ(Unpremultiply(200, 100), 255);
    EXPECT_EQ(Unpremultiply(77, 0), 0);
}

TEST(SampleConversion, PremultipliedSamplesSurviveAStraightRoundTrip) {
    // Every valid premultiplied sample (colour <= alpha) comes back exactly.
    for (int a = 1; a < 256; ++a)
        for (int c = 0; c <= a; ++c) {
            const auto bc = static_cast<BYTE>(c), ba = static_cast<BYTE>(a);
            ASSERT_EQ(Premultiply(Unpremultiply(bc, ba), ba), c) << c << " " << a;
        }
    // Straight samples lose what a low alpha cannot hold, but opaque ones are kept.
    for (int c = 0; c < 256; ++c) {
        const auto bc = static_cast<BYTE>(c);
        ASSERT_EQ(Unpremultiply(Premultiply(bc, 255), 255), c);
    }
    EXPECT_EQ(PremultiplySample(Sample(128, 255, 100, 1)), Sample(128, 128, 50, 1));
    EXPECT_EQ(UnpremultiplySample(Sample(128, 128, 50, 1)), Sample(128, 255, 100, 2));
    EXPECT_EQ(UnpremultiplySample(Sample(0, 9, 9, 9)), Sample(0, 0, 0, 0));
}

TEST(SampleConversion, NativeReadsAndWritesPerFormat) {
    const DXSAMPLE in[2] = {Sample(128, 255, 100, 1), Sample(0, 30, 20, 10)};
    DXSAMPLE out[2];
    BYTE bytes[8];

    // Same kind on both sides: bytes unchanged, even the colour above its alpha.
    WriteNative(DXPF_PMARGB32, bytes, 2, in, true);
    EXPECT_EQ(0, std::memcmp(bytes, in, 8));
    WriteNative(DXPF_ARGB32, bytes, 2, in, false);
    EXPECT_EQ(0, std::memcmp(bytes, in, 8));
    ReadNative(DXPF_ARGB32, bytes, 2, out, false);
    EXPECT_EQ(out[1], in[1]);

    // Straight into a premultiplied surface, and back out.
    WriteNative(DXPF_PMARGB32, bytes, 2, in, false);
    const BYTE pm[8] = {1, 50, 128, 128, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(bytes, pm, 8));
    ReadNative(DXPF_PMARGB32, bytes, 2, out, false);
    EXPECT_EQ(out[0], Sample(128, 255, 100, 2));
    EXPECT_EQ(out[1], Sample(0, 0, 0, 0));

    // Premultiplied into a straight surface.
    const DXSAMPLE pmIn[1] = {Sample(51, 51, 20, 0)};
    WriteNative(DXPF_ARGB32, bytes, 1, pmIn, true);
    const BYTE straight[4] = {0, 100, 255, 51};
    EXPECT_EQ(0, std::memcmp(bytes, straight, 4));
    ReadNative(DXPF_ARGB32, bytes, 1, out, true);
    EXPECT_EQ(out[0], pmIn[0]);

    // 24-bit: alpha reads 255 either way; writing drops alpha after unpremultiplying.
    BYTE rgb[6] = {1, 2, 3, 4, 5, 6};
    ReadNative(DXPF_RGB24, rgb, 2, out, true);
    EXPECT_EQ(out[0], Sample(255, 3, 2, 1));
    EXPECT_EQ(out[1], Sample(255, 6, 5, 4));
    ReadNative(DXPF_RGB24, rgb, 1, out, false);
    EXPECT_EQ(out[0], Sample(255, 3, 2, 1));
    WriteNative(DXPF_RGB24, rgb, 2, in, false);
    const BYTE rgbStraight[6] = {1, 100, 255, 10, 20, 30};
    EXPECT_EQ(0, std::memcmp(rgb, rgbStraight, 6));
    WriteNative(DXPF_RGB24, rgb, 1, pmIn, true);
    const BYTE rgbFromPm[3] = {0, 100, 255};
    EXPECT_EQ(0, std::memcmp(rgb, rgbFromPm, 3));
}
