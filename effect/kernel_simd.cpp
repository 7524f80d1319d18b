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

using DU = hn::ScalableTag<std::uint32_t>;
using DF = hn::Rebind<float, DU>;
using DI = hn::Rebind<std::int32_t, DU>;
using VU = hn::Vec<DU>;
using VF = hn::Vec<DF>;

// Rows need not be aligned, not even to 4, so pixels move as bytes.
HWY_INLINE VU LoadPixels(const std::uint8_t* p) {
#if HWY_TARGET == HWY_SCALAR
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return hn::Set(DU(), v);
#else
    const hn::Repartition<std::uint8_t, DU> d8;
    return hn::BitCast(DU(), hn::LoadU(d8, p));
#endif
}

HWY_INLINE void StorePixels(VU v, std::uint8_t* p) {
#if HWY_TARGET == HWY_SCALAR
    const std::uint32_t lane = hn::GetLane(v);
    std::memcpy(p, &lane, 4);
#else
    const hn::Repartition<std::uint8_t, DU> d8;
    hn::StoreU(hn::BitCast(d8, v), d8, p);
#endif
}

// A pixel is one 32-bit lane: blue in bits 0-7, green 8-15, red 16-23, alpha 24-31.
struct Matte {
    VF blue, green, red;
};

// One channel of the rule. The half is added by comparing the fraction, which is exact in
// single precision, unlike adding 0.5 to the quotient.
template <int kShift>
HWY_INLINE VU SolveChannel(VU pixels, VF matte, VF a, VF k) {
    const DU du;
    const DF df;
    const DI di;
    const VF c = hn::ConvertTo(
        df, hn::BitCast(di, hn::And(hn::ShiftRight<kShift>(pixels), hn::Set(du, 0xFFu))));
    const VF q = hn::Div(hn::Sub(c, hn::Mul(matte, k)), a);
    const VF whole = hn::Trunc(q);
    const VF up =
        hn::IfThenElseZero(hn::Ge(hn::Sub(q, whole), hn::Set(df, 0.5f)), hn::Set(df, 1.0f));
    const VF r = hn::Min(hn::Max(hn::Add(whole, up), hn::Zero(df)), hn::Set(df, 255.0f));
    return hn::ShiftLeft<kShift>(hn::BitCast(du, hn::ConvertTo(di, r)));
}

HWY_INLINE VU UnmatteVector(VU pixels, const Matte& m) {
    const DU du;
    const DF df;
    const DI di;
    const VU alphaBits = hn::And(pixels, hn::Set(du, 0xFF000000u));
    const VU alpha = hn::ShiftRight<24>(pixels);
    // Clear lanes are replaced below; dividing them by 1/255 instead of 0 keeps every lane finite.
    const VF af = hn::Max(hn::ConvertTo(df, hn::BitCast(di, alpha)), hn::Set(df, 1.0f));
    const VF a = hn::Div(af, hn::Set(df, 255.0f));
    const VF k = hn::Sub(hn::Set(df, 1.0f), a);
    const VU solved = hn::Or(
        hn::Or(alphaBits, SolveChannel<0>(pixels, m.blue, a, k)),
        hn::Or(SolveChannel<8>(pixels, m.green, a, k), SolveChannel<16>(pixels, m.red, a, k)));
    const VU opaque = hn::Set(du, 0xFF000000u);
    return hn::IfThenElse(hn::Eq(alphaBits, opaque), pixels,
                          hn::IfThenZeroElse(hn::Eq(alphaBits, hn::Zero(du)), solved));
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
        for (; left >= lanes; left -= lanes, p += vectorBytes) {
            const VU pixels = LoadPixels(p);
            const VU alphaBits = hn::And(pixels, alphaMask);
            if (hn::AllTrue(du, hn::Eq(alphaBits, alphaMask)))
                continue; // opaque run: nothing to write
            if (hn::AllTrue(du, hn::Eq(alphaBits, zero))) {
                if (!hn::AllTrue(du, hn::Eq(pixels, zero)))
                    StorePixels(zero, p);
                continue;
            }
            StorePixels(UnmatteVector(pixels, m), p);
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
