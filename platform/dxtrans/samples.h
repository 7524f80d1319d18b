// Conversions between a surface's native samples and 32-bit ARGB samples.
//
// Rounding rules (all exact integer arithmetic):
// - premultiply:   c' = round(c * a / 255), ties cannot occur (255 is odd);
// - unpremultiply: c  = min(255, round(c' * 255 / a)), ties rounded up; alpha 0 gives colour 0;
// - the same kind on both sides (premultiplied to premultiplied, straight to straight) copies
//   the bytes unchanged, even a premultiplied colour above its alpha;
// - the 24-bit format has no alpha: it reads as alpha 255 (so premultiplied and straight
//   samples are the same), and writing drops alpha after unpremultiplying premultiplied input.
#pragma once

#include <cstring>

#include "dxtrans.h"

namespace velmora::dxtrans {

// round(x / 255) for 0 <= x <= 255 * 255.
constexpr BYTE Div255(unsigned x) {
    x += 128;
    return static_cast<BYTE>((x + (x >> 8)) >> 8);
}

constexpr BYTE Premultiply(BYTE c, BYTE a) {
    return Div255(unsigned{c} * a);
}

namespace detail {
// ceil(2^32 / a): with n < 2^16, (n * r) >> 32 is exactly n / a in integer division, since the
// error n * (r - 2^32 / a) / 2^32 stays below 2^-16, under the 1 / a that floor has to spare.
struct Reciprocals {
    unsigned long long r[256]{};
    constexpr Reciprocals() {
        for (unsigned a = 1; a < 256; ++a)
            r[a] = ((1ull << 32) + a - 1) / a;
    }
};
inline constexpr Reciprocals kReciprocals{};
} // namespace detail

constexpr BYTE Unpremultiply(BYTE c, BYTE a) {
    if (a == 0)
        return 0;
    unsigned n = unsigned{c} * 255 + a / 2u;
    unsigned q = static_cast<unsigned>((n * detail::kReciprocals.r[a]) >> 32);
    return static_cast<BYTE>(q > 255 ? 255 : q);
}

constexpr DXSAMPLE PremultiplySample(DXSAMPLE s) {
    return {Premultiply(s.Blue, s.Alpha), Premultiply(s.Green, s.Alpha),
            Premultiply(s.Red, s.Alpha), s.Alpha};
}

constexpr DXSAMPLE UnpremultiplySample(DXPMSAMPLE s) {
    return {Unpremultiply(s.Blue, s.Alpha), Unpremultiply(s.Green, s.Alpha),
            Unpremultiply(s.Red, s.Alpha), s.Alpha};
}

// Bytes per native sample; 0 for a format this platform does not keep in memory.
constexpr ULONG BytesPerSample(DWORD format) {
    switch (format) {
    case DXPF_PMARGB32:
    case DXPF_ARGB32:
        return 4;
    case DXPF_RGB24:
        return 3;
    default:
        return 0;
    }
}

// n native samples at src into out, as premultiplied samples if premult, else straight ones.
inline void ReadNative(DWORD format, const BYTE* src, ULONG n, DXSAMPLE* out, bool premult) {
    switch (format) {
    case DXPF_PMARGB32:
    case DXPF_ARGB32:
        if ((format == DXPF_PMARGB32) == premult) {
            std::memmove(out, src, std::size_t{n} * 4);
        } else {
            for (ULONG i = 0; i < n; ++i) {
                DXSAMPLE s;
                std::memcpy(&s, src + std::size_t{i} * 4, 4);
                out[i] = premult ? PremultiplySample(s) : UnpremultiplySample(s);
            }
        }
        break;
    case DXPF_RGB24:
        for (ULONG i = 0; i < n; ++i, src += 3)
            out[i] = {src[0], src[1], src[2], 255};
        break;
    default:
        break;
    }
}

// n samples (premultiplied if premult, else straight) into native samples at dst.
inline void WriteNative(DWORD format, BYTE* dst, ULONG n, const DXSAMPLE* in, bool premult) {
    switch (format) {
    case DXPF_PMARGB32:
    case DXPF_ARGB32:
        if ((format == DXPF_PMARGB32) == premult) {
            std::memmove(dst, in, std::size_t{n} * 4);
        } else {
            for (ULONG i = 0; i < n; ++i) {
                DXSAMPLE s = premult ? UnpremultiplySample(in[i]) : PremultiplySample(in[i]);
                std::memcpy(dst + std::size_t{i} * 4, &s, 4);
            }
        }
        break;
    case DXPF_RGB24:
        for (ULONG i = 0; i < n; ++i, dst += 3) {
            DXSAMPLE s = premult ? UnpremultiplySample(in[i]) : in[i];
            dst[0] = s.Blue;
            dst[1] = s.Green;
            dst[2] = s.Red;
        }
        break;
    default:
        break;
    }
}

} // namespace velmora::dxtrans
