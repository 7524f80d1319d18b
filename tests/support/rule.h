// The scalar rule (effect/kernel.cpp), the reference for every byte, on B, G, R, A bytes with the
// matte colour's red, green and blue. No test framework here: the fuzz targets use it too.
#pragma once

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

} // namespace velmora::test
