// The integer conversion rules against the real-number rules they stand for, exhaustively.
// The surface tests then use these functions as their reference.
#include <gtest/gtest.h>

#include <cmath>

#include "helpers.h"
#include "platform/dxtrans/samples.h"

using namespace velmora::dxtrans;

TEST(SampleConversion, IntegerRulesMatchTheRealNumberRules) {
    for (unsigned x = 0; x <= 255 * 255; ++x)
        ASSERT_EQ(Div255(x), std::lround(x / 255.0)) << x;
    for (int a = 0; a < 256; ++a)
        for (int c = 0; c < 256; ++c) {
            const auto bc = static_cast<BYTE>(c), ba = static_cast<BYTE>(a);
            ASSERT_EQ(Premultiply(bc, ba), std::lround(c * a / 255.0)) << c << " " << a;
            const double straight = a ? std::floor(c * 255.0 / a + 0.5) : 0; // ties up
            ASSERT_EQ(Unpremultiply(bc, ba), std::min(255.0, straight)) << c << " " << a;
        }
    EXPECT_EQ(Unpremultiply(1, 2), 128);     // 127.5
    EXPECT_EQ(Unpremultiply(200, 100), 255); // a colour above its alpha clamps
    EXPECT_EQ(Unpremultiply(77, 0), 0);
}

TEST(SampleConversion, PremultipliedSamplesSurviveAStraightRoundTrip) {
    for (int a = 1; a < 256; ++a)
        for (int c = 0; c <= a; ++c) {
            const auto bc = static_cast<BYTE>(c), ba = static_cast<BYTE>(a);
            ASSERT_EQ(Premultiply(Unpremultiply(bc, ba), ba), c) << c << " " << a;
        }
    using dxtest::Sample;
    EXPECT_EQ(PremultiplySample(Sample(128, 255, 100, 1)), Sample(128, 128, 50, 1));
    EXPECT_EQ(UnpremultiplySample(Sample(128, 128, 50, 1)), Sample(128, 255, 100, 2));
}
