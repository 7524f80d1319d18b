// Frames for the fault and load suites: a keyed random frame, the scalar rule as the reference
// for every byte, and the bands an Execute divides a frame into.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "effect/filter_props.h"
#include "effect/kernel.h"
#include "platform/com/types.h"

namespace velmora::test {

// Premultiplied B, G, R, A bytes: many clear and opaque pixels, every partial alpha, and no
// colour above its alpha.
inline std::vector<BYTE> KeyedFrame(size_t pixels, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<BYTE> v(pixels * 4);
    for (size_t i = 0; i < pixels; ++i) {
        BYTE a = static_cast<BYTE>(rng());
        const unsigned pick = rng() % 8;
        a = pick == 0 ? 0 : pick == 1 ? 255 : a;
        v[i * 4 + 3] = a;
        for (int c = 0; c < 3; ++c)
            v[i * 4 + c] = static_cast<BYTE>(a ? rng() % (a + 1u) : 0);
    }
    return v;
}

// The scalar rule (effect/kernel.cpp) on B, G, R, A bytes.
inline std::vector<BYTE> Unmatted(std::vector<BYTE> v, const FilterProps& m) {
    for (size_t i = 0; i + 3 < v.size(); i += 4) {
        const BYTE a = v[i + 3];
        v[i + 0] = UnmatteChannel(a, v[i + 0], m.blue);
        v[i + 1] = UnmatteChannel(a, v[i + 1], m.green);
        v[i + 2] = UnmatteChannel(a, v[i + 2], m.red);
    }
    return v;
}

struct Band {
    LONG from, to; // rows
};

// The rows of each piece for a frame of rows rows split into pieces pieces.
inline std::vector<Band> Bands(LONG rows, ULONG pieces) {
    std::vector<Band> bands;
    const LONG each = rows / static_cast<LONG>(pieces);
    for (LONG i = 0; i < static_cast<LONG>(pieces); ++i)
        bands.push_back({i * each, i + 1 == static_cast<LONG>(pieces) ? rows : (i + 1) * each});
    return bands;
}

// What became of each band of a frame: 'o' as it was, 'x' rewritten by the rule, '?' neither.
inline std::string BandStates(const std::vector<BYTE>& now, const std::vector<BYTE>& original,
                              const std::vector<BYTE>& done, LONG rowBytes,
                              const std::vector<Band>& bands) {
    std::string states;
    for (const Band& b : bands) {
        const size_t at = static_cast<size_t>(b.from) * rowBytes,
                     n = static_cast<size_t>(b.to - b.from) * rowBytes;
        if (std::memcmp(now.data() + at, original.data() + at, n) == 0)
            states += 'o';
        else if (std::memcmp(now.data() + at, done.data() + at, n) == 0)
            states += 'x';
        else
            states += '?';
    }
    return states;
}

} // namespace velmora::test
