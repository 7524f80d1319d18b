// PNG files through libpng, as 8-bit samples in surface order (blue, green, red, alpha).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace velmora::host {

struct Image {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> bgra; // width * height * 4, rows top to bottom, no padding
};

// The most pixels ReadPng takes: 16384 x 16384 (1 GiB of samples), in any shape up to 65536 on a
// side. Larger files are refused, with these limits, before any sample memory is taken.
constexpr std::uint64_t kMaxPngPixels = std::uint64_t{1} << 28;
constexpr unsigned kMaxPngSide = 1u << 16;

// Reads a PNG. An 8-bit RGBA file's samples arrive unchanged (only reordered into the struct's
// byte order); any other type is converted to 8-bit RGBA and *converted names what it was
// ("16-bit RGB"), else it is left empty. False with a one-line reason in *error. Memory for the
// samples of a non-interlaced file grows with the rows actually read, so a short file that
// declares a large image fails without taking it.
// "-" reads standard input.
bool ReadPng(const std::string& path, Image* image, std::string* converted, std::string* error);

// Writes an 8-bit RGBA PNG of the image's samples, unchanged, to an open file.
bool WritePng(std::FILE* file, const Image& image, std::string* error);

} // namespace velmora::host
