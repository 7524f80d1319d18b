#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "../support/rule.h"

using velmora::SwapPixelByteOrder;
using velmora::UnmatteBuffer;
using velmora::test::Matte;
using Bytes = std::vector<std::uint8_t>;

namespace {

using Pixel = std::array<std::uint8_t, 4>; // kernel order: alpha, red, green, blue

Pixel Unmatte(Pixel p, std::uint32_t matte) {
    EXPECT_TRUE(UnmatteBuffer(p.data(), 1, 1, 4, p.data(), 1, 1, 4, matte));
    return p;
}

} // namespace

TEST(Kernel, WorkedExamples) {
    const std::uint32_t black = Matte(0, 0, 0), green = Matte(0, 255, 0);
    // 32 / (64/255) is 127.4999924 in single precision: below the half.
    EXPECT_EQ(Unmatte({64, 32, 16, 0}, black), (Pixel{64, 127, 64, 0}));
    EXPECT_EQ(Unmatte({128, 100, 64, 10}, green), (Pixel{128, 199, 0, 20}));
    EXPECT_EQ(Unmatte({200, 150, 120, 140}, Matte(0, 0, 255)), (Pixel{200, 191, 153, 108}));
    // Exact halves round up; results clamp; the matte's own alpha is ignored.
    EXPECT_EQ(Unmatte({6, 3, 1, 5}, black), (Pixel{6, 128, 43, 213}));
    EXPECT_EQ(Unmatte({6, 252, 250, 254}, Matte(255, 255, 255)), (Pixel{6, 128, 43, 213}));
    EXPECT_EQ(Unmatte({1, 255, 255, 255}, black), (Pixel{1, 255, 255, 255}));
    EXPECT_EQ(Unmatte({128, 100, 64, 10}, Matte(0, 255, 0, 77)), (Pixel{128, 199, 0, 20}));
    // Clear pixels become zero, opaque ones stay as they are.
    EXPECT_EQ(Unmatte({0, 200, 100, 50}, Matte(12, 200, 99)), (Pixel{0, 0, 0, 0}));
    EXPECT_EQ(Unmatte({255, 200, 100, 50}, Matte(12, 200, 99)), (Pixel{255, 200, 100, 50}));
}

// Every (alpha, colour, matte) lands within one step of the exact quotient, on the exact rounding
// wherever the quotient is not within single-precision noise of a half.
TEST(Kernel, AllCombinationsTrackTheExactQuotient) {
    int mismatches = 0;
    for (int A = 1; A < 255; ++A) {
        for (int m = 0; m < 256; ++m) {
            Bytes row(256 * 4);
            for (int c = 0; c < 256; ++c) {
                row[4 * c + 0] = static_cast<std::uint8_t>(A);
                row[4 * c + 1] = static_cast<std::uint8_t>(c);
                row[4 * c + 2] = static_cast<std::uint8_t>(255 - c);
                row[4 * c + 3] = static_cast<std::uint8_t>(c ^ 0x55);
            }
            const auto in = row;
            UnmatteBuffer(row.data(), 256, 1, 0, row.data(), 256, 1, 0, Matte(m, m, m));
            for (int c = 0; c < 256; ++c) {
                for (int ch = 1; ch < 4; ++ch) {
                    double exact = (in[4 * c + ch] * 255.0 - m * (255.0 - A)) / A;
                    double frac = exact - std::floor(exact);
                    // Cancellation, then the division by a small alpha, scale the float error.
                    bool nearHalf = std::fabs(frac - 0.5) < 1e-4 + 1e-5 * 255.0 / A;
                    int want = static_cast<int>(std::floor(std::clamp(exact, 0.0, 255.0) + 0.5));
                    int got = row[4 * c + ch];
                    if (nearHalf ? std::abs(got - want) > 1 : got != want)
                        ++mismatches;
                }
                ASSERT_EQ(row[4 * c], in[4 * c]) << "alpha changed";
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// Only the overlap of source and destination is written; strides round down to a multiple of 4
// (negative ones toward minus infinity); empty and negative sizes write nothing.
TEST(Kernel, OverlapStridesAndSizes) {
    Bytes src(3 * 2 * 4), dst(2 * 3 * 4, 0xEE);
    for (size_t i = 0; i < src.size(); i += 4)
        src[i] = 128, src[i + 1] = 100, src[i + 2] = 64, src[i + 3] = 10;
    EXPECT_TRUE(UnmatteBuffer(src.data(), 3, 2, 12, dst.data(), 2, 3, 8, Matte(0, 255, 0)));
    const Bytes done = {128, 199, 0, 20}, untouched(4, 0xEE);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(Bytes(&dst[i * 4], &dst[i * 4 + 4]), i < 4 ? done : untouched) << i;

    constexpr int w = 3, h = 4, pitch = 4 * w + 4;
    Bytes base(pitch * h);
    std::mt19937 rng(7);
    for (auto& b : base)
        b = static_cast<std::uint8_t>(rng());
    auto expected = base;
    for (int y = 0; y < h; ++y)
        UnmatteBuffer(&expected[y * pitch], w, 1, 0, &expected[y * pitch], w, 1, 0, Matte(9, 8, 2));
    auto buf = base;
    UnmatteBuffer(buf.data(), w, h, pitch + 3, buf.data(), w, h, pitch + 3, Matte(9, 8, 2));
    EXPECT_EQ(buf, expected);
    buf = base;
    std::uint8_t* last = &buf[(h - 1) * pitch];
    UnmatteBuffer(last, w, h, -(pitch - 3), last, w, h, -(pitch - 3), Matte(9, 8, 2));
    EXPECT_EQ(buf, expected) << "bottom-up: -(pitch - 3) rounds to -pitch";

    buf = base;
    for (auto [width, height] : {std::pair{4, 0}, {4, -3}, {0, 1}, {-2, 1}})
        EXPECT_TRUE(UnmatteBuffer(buf.data(), width, height, 16, buf.data(), 4, 1, 16, 0));
    EXPECT_EQ(buf, base);
}

TEST(Kernel, SwapPixelByteOrder) {
    Bytes buf = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    // Only the given columns; a stride of 11 steps by 8.
    SwapPixelByteOrder(buf.data(), 1, 2, 11);
    EXPECT_EQ(buf, (Bytes{4, 3, 2, 1, 5, 6, 7, 8, 12, 11, 10, 9, 13, 14, 15, 16}));
}
