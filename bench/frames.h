// Test frames for the benchmarks: premultiplied 32-bit pixels in surface order (blue, green, red,
// alpha), with the three alpha mixes the benchmarks compare.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace velmora::bench {

enum class Mix { Opaque, Keyed, Partial };

inline const char* MixName(Mix mix) {
    return mix == Mix::Opaque ? "opaque" : mix == Mix::Keyed ? "keyed" : "partial";
}

struct Size {
    int width, height;
    const char* name;
};
inline constexpr Size k1080p{1920, 1080, "1080p"};
inline constexpr Size k2160p{3840, 2160, "2160p"};

// Keyed footage as a key leaves it: on every row 90 % opaque, 5 % clear and 5 % partial pixels,
// the partial ones in two soft edges around the clear run, which wanders from row to row.
inline std::vector<std::uint8_t> MakeFrame(Size size, Mix mix, unsigned seed = 1) {
    std::mt19937 rng(seed);
    const int w = size.width, h = size.height;
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(w) * h * 4);
    const int clear = w / 20, edge = w / 40, opaque = w - clear - 2 * edge;
    for (int y = 0; y < h; ++y) {
        const int shift = static_cast<int>((0.5 + 0.4 * std::sin(y * 0.01)) * opaque);
        for (int x = 0; x < w; ++x) {
            int alpha = 255;
            if (mix == Mix::Partial) {
                alpha = 1 + static_cast<int>(rng() % 254);
            } else if (mix == Mix::Keyed) {
                const int at = x - shift; // the clear run with its edges starts at shift
                if (at >= 0 && at < edge)
                    alpha = 254 - at * 253 / edge;
                else if (at >= edge && at < edge + clear)
                    alpha = 0;
                else if (at >= edge + clear && at < 2 * edge + clear)
                    alpha = 1 + (at - edge - clear) * 253 / edge;
            }
            std::uint8_t* p = &frame[(static_cast<std::size_t>(y) * w + x) * 4];
            for (int c = 0; c < 3; ++c)
                p[c] = static_cast<std::uint8_t>(static_cast<int>(rng() % 256) * alpha / 255);
            p[3] = static_cast<std::uint8_t>(alpha);
        }
    }
    return frame;
}

// Each frame is made once per program; benchmarks work on copies.
inline const std::vector<std::uint8_t>& CachedFrame(Size size, Mix mix) {
    static std::map<std::pair<int, Mix>, std::vector<std::uint8_t>> frames;
    auto& f = frames[{size.width, mix}];
    if (f.empty())
        f = MakeFrame(size, mix);
    return f;
}

} // namespace velmora::bench
