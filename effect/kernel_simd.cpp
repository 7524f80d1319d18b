// The vectorised one-pass kernel, compiled once per instruction set and picked at run time.
// Built with -ffp-contract=off: every product and difference of the rule is rounded on its own, as
// in the scalar rule. Where a target computes a value of the rule another way (A / 255, the
// quotients), the way gives the same float for every input the kernel can meet; the kernel tests
// run all 256^3 (alpha, colour, matte) triples through every target to show it.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "effect/kernel_simd.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep

#include <hwy/highway.h>

#include <hwy/cache_control.h>

#include <cstring>

#include "effect/kernel.h"

HWY_BEFORE_NAMESPACE();
namespace velmora::HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

#if !HWY_ARCH_X86 || HWY_TARGET > HWY_SSSE3

// One lane gains nothing over the reference rule, which runs here row by row between its swaps,
// while the row is in cache. (The vector code below packs and converts with x86 instructions.)
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
using VI = hn::Vec<DI>;

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

// The channel byte at the given position of every lane, as the lane's value.
template <int kByte>
HWY_INLINE VF ChannelOf(VU pixels) {
    return hn::ConvertTo(
        DF(), hn::BitCast(DI(), hn::And(hn::ShiftRight<8 * kByte>(pixels), hn::Set(DU(), 0xFFu))));
}

// A / 255 as the rule's single-precision division gives it. Where vectors are wide, the division
// unit is the bottleneck; the product with 1/255 in double precision rounds to the same float for
// every alpha.
HWY_INLINE VF AlphaFraction(VI alpha) {
    const DF df;
#if HWY_TARGET <= HWY_AVX3
    const hn::Repartition<double, DF> dd;
    const hn::Half<DI> dh;
    const auto scale = hn::Set(dd, 1.0 / 255.0);
    const auto lower = hn::Mul(hn::PromoteTo(dd, hn::LowerHalf(dh, alpha)), scale);
    const auto upper = hn::Mul(hn::PromoteTo(dd, hn::UpperHalf(dh, alpha)), scale);
    return hn::Combine(df, hn::DemoteTo(hn::Half<DF>(), upper),
                       hn::DemoteTo(hn::Half<DF>(), lower));
#else
    return hn::Div(hn::ConvertTo(df, alpha), hn::Set(df, 255.0f));
#endif
}

// The pixel's divisor a, with what each channel's quotient needs of it.
struct Divisor {
    VF a, k;    // a and 1 - a
#if HWY_NATIVE_FMA
    VF inverse; // 1 / a, rounded
#endif
};

// d / a rounded to single precision, as a division gives it. With fused multiply-add, one division
// per pixel (the inverse) serves all three channels: the remainder d - q0 * a of the approximate
// quotient is exact in one fused operation, and one correction step from it gives the correctly
// rounded quotient.
HWY_INLINE VF Quotient(VF d, const Divisor& divisor) {
#if HWY_NATIVE_FMA
    const VF q0 = hn::Mul(d, divisor.inverse);
    return hn::MulAdd(hn::NegMulAdd(q0, divisor.a, d), divisor.inverse, q0);
#else
    return hn::Div(d, divisor.a);
#endif
}

// One channel of the rule, as an int32 lane, not yet clamped. Adding the float just below one
// half and truncating gives, for every float q, the rule's q widened, plus 0.5, truncated: the
// only such sum that rounds, at q = 0.5, rounds up to 1.
HWY_INLINE VI SolveChannel(VF colour, VF matte, const Divisor& divisor) {
    const VF q = Quotient(hn::Sub(colour, hn::Mul(matte, divisor.k)), divisor);
    const VF sum = hn::Add(q, hn::Set(DF(), 0.49999997f));
    // Truncation toward zero. Highway's conversion also saturates lanes beyond the int32 range,
    // at three more instructions; the quotients stay within +-65536.
#if HWY_TARGET <= HWY_AVX3
    return VI{_mm512_cvttps_epi32(sum.raw)};
#elif HWY_TARGET <= HWY_AVX2
    return VI{_mm256_cvttps_epi32(sum.raw)};
#else
    return VI{_mm_cvttps_epi32(sum.raw)};
#endif
}

// Pixels from four channels of int32 lanes; the saturating packs clamp each to 0-255, which is
// the rule's clamp. The packs interleave the channels within 128-bit blocks, and one byte shuffle
// per block puts them back into pixel order.
HWY_INLINE VU PackPixels(VI blue, VI green, VI red, VI alpha) {
    const hn::Repartition<std::uint8_t, DU> d8;
    alignas(16) static constexpr std::uint8_t kPixelOrder[16] = {0, 4, 8,  12, 1, 5, 9,  13,
                                                                 2, 6, 10, 14, 3, 7, 11, 15};
#if HWY_TARGET <= HWY_AVX3
    const hn::Vec<decltype(d8)> bytes{_mm512_packus_epi16(_mm512_packs_epi32(blue.raw, green.raw),
                                                          _mm512_packs_epi32(red.raw, alpha.raw))};
#elif HWY_TARGET <= HWY_AVX2
    const hn::Vec<decltype(d8)> bytes{_mm256_packus_epi16(_mm256_packs_epi32(blue.raw, green.raw),
                                                          _mm256_packs_epi32(red.raw, alpha.raw))};
#else
    const hn::Vec<decltype(d8)> bytes{_mm_packus_epi16(_mm_packs_epi32(blue.raw, green.raw),
                                                       _mm_packs_epi32(red.raw, alpha.raw))};
#endif
    return hn::BitCast(DU(), hn::TableLookupBytes(bytes, hn::LoadDup128(d8, kPixelOrder)));
}

// Opaque lanes need no case of their own: a is exactly 1 and k 0, so the colour comes back as
// it was.
HWY_INLINE VU UnmatteVector(VU pixels, const Matte& m) {
    const DF df;
    const VI alpha = hn::BitCast(DI(), hn::ShiftRight<24>(pixels));
    // Clear lanes are zeroed below; dividing them by 1/255 instead of 0 keeps every lane finite.
    Divisor divisor;
    divisor.a = AlphaFraction(hn::Max(alpha, hn::Set(DI(), 1)));
    divisor.k = hn::Sub(hn::Set(df, 1.0f), divisor.a);
#if HWY_NATIVE_FMA
    divisor.inverse = hn::Div(hn::Set(df, 1.0f), divisor.a);
#endif
    const VU solved = PackPixels(SolveChannel(ChannelOf<0>(pixels), m.blue, divisor),
                                 SolveChannel(ChannelOf<1>(pixels), m.green, divisor),
                                 SolveChannel(ChannelOf<2>(pixels), m.red, divisor), alpha);
    return hn::IfThenZeroElse(hn::RebindMask(DU(), hn::Eq(alpha, hn::Zero(DI()))), solved);
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
            // The hardware's own prefetch falls behind on frames larger than the caches.
            hwy::Prefetch(p + 2048);
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
