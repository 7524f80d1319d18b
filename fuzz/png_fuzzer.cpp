// PNG input of `velmora apply`: ReadPng on a file holding the input, as the program reads every
// frame. A file is read whole or refused with a one-line reason, never half; what is read has
// width x height x 4 samples; written out again (WritePng, as apply writes its output) and read
// back, it gives the same samples as an 8-bit RGBA file that needs no conversion.
#include <cstdio>

#include <zlib.h>

#include "fuzz_support.h"
#include "host/png_io.h"

using velmora::host::Image;

namespace {

// The same bytes with every chunk's CRC made right. libpng refuses a critical chunk whose CRC is
// wrong before anything else, and libpng itself is not instrumented, so without this nearly every
// mutation of a header or of image data would stop there.
std::vector<std::uint8_t> WithGoodCrcs(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> out(data, data + size);
    std::size_t at = 8; // after the signature
    while (at + 12 <= out.size()) {
        const std::uint32_t length = std::uint32_t{out[at]} << 24 |
                                     std::uint32_t{out[at + 1]} << 16 |
                                     std::uint32_t{out[at + 2]} << 8 | out[at + 3];
        if (length > out.size() - at - 12)
            break;
        const std::uint32_t crc =
            static_cast<std::uint32_t>(::crc32(0, out.data() + at + 4, length + 4));
        for (int i = 0; i < 4; ++i)
            out[at + 8 + length + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
        at += 12 + std::size_t{length};
    }
    return out;
}

void Check(const std::uint8_t* data, std::size_t size);

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Check(data, size);
    const std::vector<std::uint8_t> fixed = WithGoodCrcs(data, size);
    if (!std::equal(fixed.begin(), fixed.end(), data))
        Check(fixed.data(), fixed.size());
    return 0;
}

namespace {

void Check(const std::uint8_t* data, std::size_t size) {
    static velmora::fuzz::MemoryFile file;
    Image image;
    std::string converted, error;
    const bool ok = velmora::host::ReadPng(file.Set(data, size), &image, &converted, &error);
    if (!ok) {
        FUZZ_CHECK(!error.empty() && error.find('\n') == std::string::npos);
        FUZZ_CHECK(image.bgra.empty());
        return;
    }
    FUZZ_CHECK(image.width > 0 && image.height > 0);
    FUZZ_CHECK(image.bgra.size() == std::size_t{image.width} * image.height * 4);

    // Out and back in: the same samples, and nothing to convert.
    if (image.bgra.size() > (std::size_t{1} << 22))
        return;
    char* bytes = nullptr;
    std::size_t length = 0;
    std::FILE* out = ::open_memstream(&bytes, &length);
    FUZZ_CHECK(out);
    std::string writeError;
    const bool wrote = velmora::host::WritePng(out, image, &writeError);
    std::fclose(out);
    FUZZ_CHECK(wrote);
    static velmora::fuzz::MemoryFile copy;
    Image again;
    std::string convertedAgain;
    FUZZ_CHECK(
        velmora::host::ReadPng(copy.Set(reinterpret_cast<const std::uint8_t*>(bytes), length),
                               &again, &convertedAgain, &error));
    std::free(bytes);
    FUZZ_CHECK(convertedAgain.empty());
    FUZZ_CHECK(again.width == image.width && again.height == image.height);
    FUZZ_CHECK(again.bgra == image.bgra);
}

} // namespace
