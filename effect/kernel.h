// The matte-removal kernel and the pixel byte-order swap around it.
#pragma once

#include <cstdint>
#include <vector>

namespace velmora {

// Reverses the four bytes of every pixel in place: surface order (B, G, R, A) becomes the
// kernel's order (A, R, G, B) and back. Rows advance by the stride rounded down to a multiple of 4.
void SwapPixelByteOrder(std::uint8_t* buffer, std::uint32_t width, std::uint32_t height,
                        std::int32_t stride);

// Takes the matte colour out of every partly transparent pixel (kernel byte order):
// c = (c' - m * (1 - a)) / a in single precision, rounded half up and clamped to 0..255.
// Alpha 0 gives black, alpha 255 passes unchanged, alpha itself is never changed.
// matte is the packed colour: alpha in bits 0-7 (ignored), red 8-15, green 16-23, blue 24-31.
// Only the overlap of the two sizes is written; source and destination may be the same buffer.
bool UnmatteBuffer(const std::uint8_t* source, std::int32_t sourceWidth, std::int32_t sourceHeight,
                   std::int32_t sourceStride, std::uint8_t* destination,
                   std::int32_t destinationWidth, std::int32_t destinationHeight,
                   std::int32_t destinationStride, std::uint32_t matte);

// The rule for one channel, exposed so that faster kernels can be checked against it.
std::uint8_t UnmatteChannel(std::uint8_t alpha, std::uint8_t colour, std::uint8_t matte);

// The swap, UnmatteBuffer in place and the swap back, as one vectorised pass over surface-order
// pixels (B, G, R, A); the bytes are those of the three passes. Runs of opaque pixels are only
// read. The instruction set is chosen at run time.
void UnmatteSurface(std::uint8_t* buffer, std::uint32_t width, std::uint32_t height,
                    std::int32_t stride, std::uint32_t matte);

// The instruction sets compiled into UnmatteSurface that this CPU runs (Highway target bits, best
// first), and the name of the one it uses now; for tests and benchmarks.
std::vector<std::int64_t> UnmatteSurfaceTargets();
const char* UnmatteSurfaceTarget();

} // namespace velmora
