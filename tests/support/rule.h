// The scalar rule (effect/kernel.cpp), the reference for every byte: on B, G, R, A bytes with the
// matte colour's red, green and blue, or as its three passes. The kernel alone, without a test
// framework: the fuzz targets and the Windows kernel tests use it too.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "effect/kernel.h"

namespace velmora::test {

inline std::vector<std::uint8_t> UnmattedBgra(std::vector<std::uint8_t> bytes, std::uint8_t red,
                                              std::uint8_t green, std::uint8_t blue) {
    for (std::size_t i = 0; i + 3 < bytes.size(); i += 4) {
        std::uint8_t* p = &bytes[i];
        p[0] = UnmatteChannel(p[3], p[0], blue);
        p[1] = UnmatteChannel(p[3], p[1], green);
        p[2] = UnmatteChannel(p[3], p[2], red);
    }
    return bytes;
}

// The scalar rule on surface-order pixels, which the vectorised kernel must equal.
inline void ThreePass(std::uint8_t* buffer, std::int32_t width, std::int32_t height,
                      std::int32_t stride, std::uint32_t matte) {
    const auto w = static_cast<std::uint32_t>(std::max(width, 0));
    const auto h = static_cast<std::uint32_t>(std::max(height, 0));
    SwapPixelByteOrder(buffer, w, h, stride);
    UnmatteBuffer(buffer, width, height, stride, buffer, width, height, stride, matte);
    SwapPixelByteOrder(buffer, w, h, stride);
}

inline std::uint32_t Matte(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255) {
    return a | r << 8 | g << 16 | std::uint32_t{b} << 24;
}

} // namespace velmora::test
