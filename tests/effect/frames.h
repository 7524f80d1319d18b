// Frames for the effect, fault and load suites: a keyed random frame, the scalar rule as the
// reference, the bands of an Execute, and the effect set up on a surface as a host drives it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "effect/kernel.h"
#include "effect/velmora.h"
#include "../transform/test_support.h"

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

using Effect = com::CComPolyObject<CVelmora>;

inline ComPtr<IUnknown> MakeEffect() {
    ComPtr<IUnknown> unk;
    EXPECT_EQ(Effect::CreateInstance(nullptr, uuidof<IUnknown>(), reinterpret_cast<void**>(&unk)),
              S_OK);
    return unk;
}

// The effect sited on a factory of that many processors (its task manager replaced by manager,
// if given) and set up on one output surface.
struct EffectRig {
    ComPtr<IUnknown> effect = MakeEffect();
    ComPtr<IDXTransform> transform = Query<IDXTransform>(effect.Get());
    ComPtr<IDXTransformFactory> site;

    EffectRig(IUnknown* output, ULONG processors, IDXTaskManager* manager = nullptr)
        : site(MakeSite(processors)) {
        if (manager) {
            EXPECT_EQ(site->SetService(CLSID_DXTaskManager, manager, FALSE), S_OK);
        }
        EXPECT_EQ(Query<IObjectWithSite>(effect.Get())->SetSite(site.Get()), S_OK);
        EXPECT_EQ(transform->Setup(nullptr, 0, &output, 1, 0), S_OK);
    }
    HRESULT Run(const DXBNDS* clip = nullptr, const DXVEC* at = nullptr,
                const GUID* request = nullptr) {
        return transform->Execute(request, clip, at);
    }
    void SetProps(const FilterProps& p) {
        EXPECT_EQ(Query<ISfExchangeProps<FilterProps>>(effect.Get())->SetProps(&p), S_OK);
    }
    FilterProps Props() {
        FilterProps p{};
        EXPECT_EQ(Query<ISfExchangeProps<FilterProps>>(effect.Get())->GetProps(&p), S_OK);
        return p;
    }
    // Lets go of the output surface.
    void Disconnect() { transform->Setup(nullptr, 0, nullptr, 0, 0); }
};

} // namespace velmora::test
