// Built with -ffp-contract=off: a fused multiply-add would change results at the .5 boundaries.
#include "kernel.h"

#include <algorithm>

namespace velmora {
namespace {

// The stride rounded toward minus infinity to a multiple of 4 (pointer steps stay pixel-aligned).
constexpr std::intptr_t RowStep(std::int32_t stride) {
    return stride & ~std::int32_t{3};
}

inline std::uint8_t Solve(float a, float k, std::uint8_t c, std::uint8_t m) {
    float product = static_cast<float>(m) * k;
    float difference = static_cast<float>(c) - product;
    float q = difference / a;
    // Widened to double before the half is added, then truncated toward zero.
    int v = static_cast<int>(static_cast<double>(q) + 0.5);
    return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

} // namespace

void SwapPixelByteOrder(std::uint8_t* buffer, std::uint32_t width, std::uint32_t height,
                        std::int32_t stride) {
    for (std::uint32_t y = 0; y < height; ++y, buffer += RowStep(stride)) {
        std::uint8_t* p = buffer;
        for (std::uint32_t x = 0; x < width; ++x, p += 4) {
            std::swap(p[0], p[3]);
            std::swap(p[1], p[2]);
        }
    }
}

std::uint8_t UnmatteChannel(std::uint8_t alpha, std::uint8_t colour, std::uint8_t matte) {
    if (alpha == 0)
        return 0;
    if (alpha == 255)
        return colour;
    float a = static_cast<float>(alpha) / 255.0f;
    return Solve(a, 1.0f - a, colour, matte);
}

bool UnmatteBuffer(const std::uint8_t* source, std::int32_t sourceWidth, std::int32_t sourceHeight,
                   std::int32_t sourceStride, std::uint8_t* destination,
                   std::int32_t destinationWidth, std::int32_t destinationHeight,
                   std::int32_t destinationStride, std::uint32_t matte) {
    const std::int32_t rows = std::min(sourceHeight, destinationHeight);
    const std::int32_t columns = std::min(sourceWidth, destinationWidth);
    const std::uint8_t m[4] = {
        static_cast<std::uint8_t>(matte), static_cast<std::uint8_t>(matte >> 8),
        static_cast<std::uint8_t>(matte >> 16), static_cast<std::uint8_t>(matte >> 24)};
    for (std::int32_t y = 0; y < rows; ++y) {
        const std::uint8_t* s = source;
        std::uint8_t* d = destination;
        for (std::int32_t x = 0; x < columns; ++x, s += 4, d += 4) {
            // Read the whole source pixel first, so that an in-place call sees the original.
            const std::uint8_t A = s[0], R = s[1], G = s[2], B = s[3];
            d[0] = A;
            if (A == 0) {
                d[1] = d[2] = d[3] = 0;
            } else if (A == 255) {
                d[1] = R, d[2] = G, d[3] = B;
            } else {
                const float a = static_cast<float>(A) / 255.0f;
                const float k = 1.0f - a;
                d[1] = Solve(a, k, R, m[1]);
                d[2] = Solve(a, k, G, m[2]);
                d[3] = Solve(a, k, B, m[3]);
            }
        }
        source += RowStep(sourceStride);
        destination += RowStep(destinationStride);
    }
    return true;
}

} // namespace velmora
