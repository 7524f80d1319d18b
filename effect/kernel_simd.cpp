// The vectorised one-pass kernel, compiled once per instruction set and picked at run time.
// Built with -ffp-contract=off: every product, difference and quotient is rounded on its own, as
// in the scalar rule, so each target gives the rule's bytes.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "effect/kernel_simd.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep

#include <hwy/highway.h>

#include <cstring>

#include "effect/kernel.h"

HWY_BEFORE_NAMESPACE();
namespace velmora::HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

#if HWY_TARGET == HWY_SCALAR

// One lane gains nothing over the reference rule, which runs here row by row between its swaps,
// while the row is in cache.
void UnmatteSurfaceRows(std::uint8_t* buffer, std::uint32_t width, std::uint32_t height,
                        std::int32_t stride, std::uint32_t matte) {
    const auto w = static_cast<std::int32_t>(width);
    for (std::uint32_t y = 0; y < height; ++y, buffer += stride & ~std::int32_t{3}) {
        SwapPixelByteOrder(buffer, width, 1, 0);
        UnmatteBuffer(buffer, w, 1, 0, buffer, w, 1, 0, matte);
        SwapPixelByteOrder(buffer, width, 1, 0);
    }
}

#else

using DU = hn::ScalableTag<std::uint32_t>;
using DF = hn::Rebind<float, DU>;
using DI = hn::Rebind<std::int32_t, DU>;
using VU = hn::Vec<DU>;
using VF = hn::Vec<DF>;

// Rows need not be aligned, not even to 4, so pixels move as bytes.
HWY_INLINE VU LoadPixels(const std::uint8_t* p) {
    const hn::Repartition<std::uint8_t, DU> d8;
    return hn::BitCast(DU(), hn::LoadU(d8, p));
}

HWY_INLINE void StorePixels(VU v, std::uint8_t* p) {
    const hn::Repartition<std::uint8_t, DU> d8;
    hn::StoreU(hn::BitCast(d8, v), d8, p);
}

// A pixel is one 32-bit lane: blue in bits 0-7, green 8-15, red 16-23, alpha 24-31.
struct Matte {
    VF blue, green, red;
};

// One channel of the rule, for channel values 0-255 in the lanes; the result byte lands in the
// lane's low byte, with the bits of 2^23 above it. Clamping the quotient to 0..255.25 first gives
// the rule's clamp. Adding 2^23 rounds to the nearest integer, ties to even, exactly; an exact
// half that went down is taken up, which is the rule's +0.5 and truncation.
HWY_INLINE VU SolveChannel(VU colour, VF matte, VF a, VF k) {
    const DF df;
    const DU du;
    const VF c = hn::ConvertTo(df, hn::BitCast(DI(), colour));
    const VF q = hn::Min(hn::Max(hn::Div(hn::Sub(c, hn::Mul(matte, k)), a), hn::Zero(df)),
                         hn::Set(df, 255.25f));
    const VF shifter = hn::Set(df, 8388608.0f);
    const VF nearest = hn::Add(q, shifter);
    const VF fraction = hn::Sub(q, hn::Sub(nearest, shifter));
    const auto half = hn::RebindMask(du, hn::Ge(fraction, hn::Set(df, 0.5f)));
    return hn::Sub(hn::BitCast(du, nearest), hn::VecFromMask(du, half));
}

// Opaque lanes need no case of their own: a is exactly 1 and k 0, so the colour comes back as
// it was.
HWY_INLINE VU UnmatteVector(VU pixels, const Matte& m) {
    const DU du;
    const DF df;
    const VU byte = hn::Set(du, 0xFFu);
    const VU alphaBits = hn::And(pixels, hn::Set(du, 0xFF000000u));
    // Clear lanes are zeroed below; dividing them by 1/255 instead of 0 keeps every lane finite.
    const VF af = hn::Max(hn::ConvertTo(df, hn::BitCast(DI(), hn::ShiftRight<24>(pixels))),
                          hn::Set(df, 1.0f));
    const VF a = hn::Div(af, hn::Set(df, 255.0f));
    const VF k = hn::Sub(hn::Set(df, 1.0f), a);
    const VU blue = hn::And(SolveChannel(hn::And(pixels, byte), m.blue, a, k), byte);
    // Shifted up, the bits of 2^23 leave the lane.
    const VU green =
        hn::ShiftLeft<8>(SolveChannel(hn::And(hn::ShiftRight<8>(pixels), byte), m.green, a, k));
    const VU red =
        hn::ShiftLeft<16>(SolveChannel(hn::And(hn::ShiftRight<16>(pixels), byte), m.red, a, k));
    const VU solved = hn::Or(hn::Or(alphaBits, blue), hn::Or(green, red));
    return hn::IfThenZeroElse(hn::Eq(alphaBits, hn::Zero(du)), solved);
}

void UnmatteSurfaceRows(std::uint8_t* buffer, std::uint32_t width, std::uint32_t height,
                        std::int32_t stride, std::uint32_t matte) {
    const DU du;
    const DF df;
    const std::size_t lanes = hn::Lanes(du);
    const std::size_t vectorBytes = lanes * 4;
    const Matte m{hn::Set(df, static_cast<float>(matte >> 24)),
                  hn::Set(df, static_cast<float>((matte >> 16) & 0xFF)),
                  hn::Set(df, static_cast<float>((matte >> 8) & 0xFF))};
    const VU alphaMask = hn::Set(du, 0xFF000000u);
    const VU zero = hn::Zero(du);
    const std::intptr_t step = stride & ~std::int32_t{3};

    for (std::uint32_t y = 0; y < height; ++y, buffer += step) {
        std::uint8_t* p = buffer;
        std::size_t left = width;
        // Two vectors at a time: more divisions in flight, and one test for a run of either kind.
        for (; left >= 2 * lanes; left -= 2 * lanes, p += 2 * vectorBytes) {
            const VU first = LoadPixels(p), second = LoadPixels(p + vectorBytes);
            const VU alphaFirst = hn::And(first, alphaMask);
            const VU alphaSecond = hn::And(second, alphaMask);
            if (hn::AllTrue(du, hn::Eq(hn::And(alphaFirst, alphaSecond), alphaMask)))
                continue; // opaque run: nothing to write
            if (hn::AllTrue(du, hn::Eq(hn::Or(alphaFirst, alphaSecond), zero))) {
                if (!hn::AllTrue(du, hn::Eq(hn::Or(first, second), zero))) {
                    StorePixels(zero, p);
                    StorePixels(zero, p + vectorBytes);
                }
                continue;
            }
            StorePixels(UnmatteVector(first, m), p);
            StorePixels(UnmatteVector(second, m), p + vectorBytes);
        }
        if (left >= lanes) {
            StorePixels(UnmatteVector(LoadPixels(p), m), p);
            left -= lanes;
            p += vectorBytes;
        }
        if (left) {
            // The tail goes through a whole vector on the stack, so nothing past the row is
            // touched.
            HWY_ALIGN std::uint32_t tail[hn::MaxLanes(DU())] = {};
            std::memcpy(tail, p, left * 4);
            hn::Store(UnmatteVector(hn::Load(du, tail), m), du, tail);
            std::memcpy(p, tail, left * 4);
        }
    }
}

#endif

const char* UnmatteSurfaceTargetName() {
    return hwy::TargetName(HWY_TARGET);
}

} // namespace velmora::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace velmora {

HWY_EXPORT(UnmatteSurfaceRows);
HWY_EXPORT(UnmatteSurfaceTargetName);

void UnmatteSurface(std::uint8_t* buffer, std::uint32_t width, std::uint32_t height,
                    std::int32_t stride, std::uint32_t matte) {
    HWY_DYNAMIC_DISPATCH(UnmatteSurfaceRows)(buffer, width, height, stride, matte);
}

const char* UnmatteSurfaceTarget() {
    return HWY_DYNAMIC_DISPATCH(UnmatteSurfaceTargetName)();
}

std::vector<std::int64_t> UnmatteSurfaceTargets() {
    return hwy::SupportedAndGeneratedTargets();
}

} // namespace velmora
#endif
