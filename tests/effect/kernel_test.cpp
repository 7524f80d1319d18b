#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "frames.h"

using velmora::SwapPixelByteOrder;
using velmora::UnmatteBuffer;
using velmora::test::Matte;

namespace {

using Pixel = std::array<std::uint8_t, 4>; // kernel order: alpha, red, green, blue

Pixel Unmatte(Pixel p, std::uint32_t matte) {
    EXPECT_TRUE(UnmatteBuffer(p.data(), 1, 1, 4, p.data(), 1, 1, 4, matte));
    return p;
}

} // namespace

TEST(Kernel, WorkedExamples) {
    const std::uint32_t black = Matte(0, 0, 0), green = Matte(0, 255, 0), blue = Matte(0, 0, 255);
    // 32 / (64/255) is 127.4999924 in single precision: below the half.
    EXPECT_EQ(Unmatte({64, 32, 16, 0}, black), (Pixel{64, 127, 64, 0}));
    EXPECT_EQ(Unmatte({128, 100, 64, 10}, green), (Pixel{128, 199, 0, 20}));
    EXPECT_EQ(Unmatte({200, 150, 120, 140}, blue), (Pixel{200, 191, 153, 108}));
    // Exact halves in single precision round up.
    EXPECT_EQ(Unmatte({6, 3, 1, 5}, black), (Pixel{6, 128, 43, 213}));
    EXPECT_EQ(Unmatte({6, 252, 250, 254}, Matte(255, 255, 255)), (Pixel{6, 128, 43, 213}));
    EXPECT_EQ(Unmatte({1, 255, 255, 255}, black), (Pixel{1, 255, 255, 255}));
    // The matte's own alpha plays no part.
    EXPECT_EQ(Unmatte({128, 100, 64, 10}, Matte(0, 255, 0, 0)), (Pixel{128, 199, 0, 20}));
    EXPECT_EQ(Unmatte({128, 100, 64, 10}, Matte(0, 255, 0, 77)), (Pixel{128, 199, 0, 20}));
    // Clear pixels become zero, opaque ones stay as they are.
    for (std::uint32_t matte : {Matte(0, 0, 0), Matte(255, 255, 255), Matte(12, 200, 99, 3)}) {
        EXPECT_EQ(Unmatte({0, 200, 100, 50}, matte), (Pixel{0, 0, 0, 0}));
        EXPECT_EQ(Unmatte({255, 200, 100, 50}, matte), (Pixel{255, 200, 100, 50}));
    }
}

// Every (alpha, colour, matte) lands within one step of the exact quotient, on the exact rounding
// wherever the quotient is not within single-precision noise of a half.
TEST(Kernel, AllCombinationsTrackTheExactQuotient) {
    int mismatches = 0;
    for (int A = 1; A < 255; ++A) {
        for (int m = 0; m < 256; ++m) {
            std::vector<std::uint8_t> row(256 * 4);
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
                    double clamped = std::clamp(exact, 0.0, 255.0);
                    int got = row[4 * c + ch];
                    double frac = exact - std::floor(exact);
                    // Cancellation in c - m*k, then the division by a small alpha, scale the float
                    // error.
                    bool nearHalf = std::fabs(frac - 0.5) < 1e-4 + 1e-5 * 255.0 / A;
                    int want = static_cast<int>(std::floor(clamped + 0.5));
                    if (nearHalf ? std::abs(got - want) > 1 : got != want)
                        ++mismatches;
                }
                ASSERT_EQ(row[4 * c], in[4 * c]) << "alpha changed";
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(Kernel, Geometry) {
    // Source 3x2, destination 2x3: only 2x2 is written.
    std::vector<std::uint8_t> src(3 * 2 * 4, 0), dst(2 * 3 * 4, 0xEE);
    for (size_t i = 0; i < src.size(); i += 4)
        src[i] = 128, src[i + 1] = 100, src[i + 2] = 64, src[i + 3] = 10;
    EXPECT_TRUE(UnmatteBuffer(src.data(), 3, 2, 12, dst.data(), 2, 3, 8, Matte(0, 255, 0)));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 2; ++x) {
            const std::uint8_t* p = &dst[(y * 2 + x) * 4];
            if (y < 2)
                EXPECT_EQ((Pixel{p[0], p[1], p[2], p[3]}), (Pixel{128, 199, 0, 20}));
            else
                EXPECT_EQ((Pixel{p[0], p[1], p[2], p[3]}), (Pixel{0xEE, 0xEE, 0xEE, 0xEE}));
        }

    // Empty and negative sizes write nothing.
    std::vector<std::uint8_t> buf(16, 0x80), before = buf;
    EXPECT_TRUE(UnmatteBuffer(buf.data(), 4, 0, 16, buf.data(), 4, 1, 16, Matte(0, 0, 0)));
    EXPECT_TRUE(UnmatteBuffer(buf.data(), 4, -3, 16, buf.data(), 4, 1, 16, Matte(0, 0, 0)));
    EXPECT_TRUE(UnmatteBuffer(buf.data(), 0, 1, 16, buf.data(), 4, 1, 16, Matte(0, 0, 0)));
    EXPECT_TRUE(UnmatteBuffer(buf.data(), -2, 1, 16, buf.data(), 4, 1, 16, Matte(0, 0, 0)));
    EXPECT_EQ(buf, before);
}

// Strides are rounded down to a multiple of 4, negative ones toward minus infinity; in place is
// the same as separate buffers.
TEST(Kernel, StridesAndInPlace) {
    constexpr int w = 3, h = 4, pitch = 4 * w + 4;
    std::vector<std::uint8_t> base(pitch * h);
    std::mt19937 rng(7);
    for (auto& b : base)
        b = static_cast<std::uint8_t>(rng());
    auto expected = base;
    for (int y = 0; y < h; ++y)
        UnmatteBuffer(&expected[y * pitch], w, 1, 0, &expected[y * pitch], w, 1, 0,
                      Matte(9, 80, 200));

    for (int extra : {1, 2, 3}) {
        auto buf = base;
        UnmatteBuffer(buf.data(), w, h, pitch + extra, buf.data(), w, h, pitch + extra,
                      Matte(9, 80, 200));
        EXPECT_EQ(buf, expected) << "stride +" << extra;
    }
    // Bottom-up: -(pitch - 3) rounds to -pitch.
    auto buf = base;
    std::uint8_t* last = &buf[(h - 1) * pitch];
    UnmatteBuffer(last, w, h, -(pitch - 3), last, w, h, -(pitch - 3), Matte(9, 80, 200));
    EXPECT_EQ(buf, expected);

    std::vector<std::uint8_t> separate(base.size());
    UnmatteBuffer(base.data(), w, h, pitch, separate.data(), w, h, pitch, Matte(9, 80, 200));
    for (int y = 0; y < h; ++y)
        EXPECT_TRUE(
            std::equal(&separate[y * pitch], &separate[y * pitch + w * 4], &expected[y * pitch]));
}

TEST(Kernel, SwapPixelByteOrder) {
    std::vector<std::uint8_t> buf = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const auto original = buf;
    SwapPixelByteOrder(buf.data(), 2, 2, 8);
    EXPECT_EQ(buf,
              (std::vector<std::uint8_t>{4, 3, 2, 1, 8, 7, 6, 5, 12, 11, 10, 9, 16, 15, 14, 13}));
    SwapPixelByteOrder(buf.data(), 2, 2, 8);
    EXPECT_EQ(buf, original);
    // Only the given columns; a stride of 11 steps by 8.
    SwapPixelByteOrder(buf.data(), 1, 2, 11);
    EXPECT_EQ(buf,
              (std::vector<std::uint8_t>{4, 3, 2, 1, 5, 6, 7, 8, 12, 11, 10, 9, 13, 14, 15, 16}));
    buf = original;
    SwapPixelByteOrder(buf.data(), 0, 2, 8);
    SwapPixelByteOrder(buf.data(), 2, 0, 8);
    EXPECT_EQ(buf, original);
}
