#include "png_io.h"

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include <png.h>

namespace velmora::host {
namespace {

// Where libpng's errors land; longjmp leaves the C++ frames above untouched.
struct ErrorSink {
    char message[256] = "";
    std::FILE* file = nullptr;
    bool truncated = false;
    bool tooLarge = false; // a sound file this program does not take
};

void OnError(png_structp png, png_const_charp message) {
    auto* sink = static_cast<ErrorSink*>(png_get_error_ptr(png));
    std::snprintf(sink->message, sizeof sink->message, "%s", message);
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

// Reads through stdio and tells a short file from a damaged one.
void ReadData(png_structp png, png_bytep data, size_t length) {
    auto* sink = static_cast<ErrorSink*>(png_get_error_ptr(png));
    if (std::fread(data, 1, length, sink->file) != length) {
        sink->truncated = !std::ferror(sink->file);
        png_error(png, sink->truncated ? "unexpected end of file" : "read error");
    }
}

std::string Describe(int colorType, int bitDepth, bool trns) {
    std::string kind;
    switch (colorType) {
    case PNG_COLOR_TYPE_GRAY:
        kind = "greyscale";
        break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        kind = "greyscale+alpha";
        break;
    case PNG_COLOR_TYPE_PALETTE:
        kind = "palette";
        break;
    case PNG_COLOR_TYPE_RGB:
        kind = "RGB";
        break;
    default:
        kind = "RGBA";
        break;
    }
    return std::to_string(bitDepth) + "-bit " + kind + (trns ? " with transparency" : "");
}

// Makes the samples n bytes long; false if memory ran out. (Not inside libpng's error handling:
// the caller calls png_error, which longjmps, only after the exception is over.)
bool Resize(std::vector<std::uint8_t>* samples, size_t n) {
    try {
        samples->resize(n);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}

// Samples taken at once before any row arrives; beyond this the buffer grows with the rows read.
constexpr size_t kEagerBytes = size_t{64} << 20; // a 4096 x 4096 frame

// Everything between setjmp and its longjmp is plain data, so no destructor is skipped. (The image
// is the caller's: its vector lives outside this frame.)
bool ReadBody(png_structp png, png_infop info, Image* image, std::string* converted) {
    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colorType = 0;
    // Volatile: set after setjmp and read after the longjmp, where a register copy would be stale
    // (the row table then leaked on every damaged file).
    png_bytep* volatile rows = nullptr;
    if (setjmp(png_jmpbuf(png))) {
        std::free(rows);
        return false;
    }
    png_set_sig_bytes(png, 8);
    png_set_read_fn(png, nullptr, ReadData);
    png_read_info(png, info);
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, nullptr, nullptr, nullptr);
    const bool trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (bitDepth != 8 || colorType != PNG_COLOR_TYPE_RGB_ALPHA)
        *converted = Describe(colorType, bitDepth, trns);
    if (width > kMaxPngSide || height > kMaxPngSide ||
        std::uint64_t{width} * height > kMaxPngPixels) {
        char message[128];
        std::snprintf(message, sizeof message,
                      "%u x %u pixels; the most is %u on a side and %llu in all",
                      static_cast<unsigned>(width), static_cast<unsigned>(height), kMaxPngSide,
                      static_cast<unsigned long long>(kMaxPngPixels));
        static_cast<ErrorSink*>(png_get_error_ptr(png))->tooLarge = true;
        png_error(png, message);
    }

    if (colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (trns)
        png_set_tRNS_to_alpha(png);
    if (bitDepth == 16)
        png_set_scale_16(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(png);
    if (!(colorType & PNG_COLOR_MASK_ALPHA) && !trns)
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_bgr(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    if (png_get_rowbytes(png, info) != rowBytes)
        png_error(png, "unexpected sample layout after conversion");

    image->width = width;
    image->height = height;
    const size_t total = rowBytes * height;
    if (passes == 1) {
        // Row by row, the samples growing as rows arrive: a file that declares a huge image but
        // holds little (a damaged or hostile one) costs memory for what it holds, not for what it
        // claims.
        try {
            image->bgra.reserve(std::min(total, kEagerBytes));
        } catch (const std::bad_alloc&) {
        }
        for (png_uint_32 y = 0; y < height; ++y) {
            if (!Resize(&image->bgra, rowBytes * (y + 1)))
                png_error(png, "out of memory");
            png_read_row(png, image->bgra.data() + rowBytes * y, nullptr);
        }
    } else {
        // Interlaced: every pass revisits the whole image, so it is all there from the start.
        if (!Resize(&image->bgra, total))
            png_error(png, "out of memory");
        rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * height));
        if (!rows)
            png_error(png, "out of memory");
        for (png_uint_32 y = 0; y < height; ++y)
            rows[y] = image->bgra.data() + rowBytes * y;
        png_read_image(png, rows);
    }
    png_read_end(png, nullptr);
    std::free(rows);
    rows = nullptr;
    return true;
}

bool WriteBody(png_structp png, png_infop info, const Image& image) {
    png_bytep* volatile rows = nullptr; // read after the longjmp, as in ReadBody
    if (setjmp(png_jmpbuf(png))) {
        std::free(rows);
        return false;
    }
    png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_RGB_ALPHA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Fast compression: frames are large and many; the files stay lossless.
    png_set_compression_level(png, 2);
    png_set_filter(png, 0, PNG_FILTER_SUB | PNG_FILTER_UP);
    png_write_info(png, info);
    png_set_bgr(png);
    rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * image.height));
    if (!rows)
        png_error(png, "out of memory");
    auto* pixels = const_cast<std::uint8_t*>(image.bgra.data());
    for (std::uint32_t y = 0; y < image.height; ++y)
        rows[y] = pixels + static_cast<size_t>(y) * image.width * 4;
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    std::free(rows);
    return true;
}

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f != stdin)
            std::fclose(f);
    }
};

} // namespace

bool ReadPng(const std::string& name, Image* image, std::string* converted, std::string* error) {
    converted->clear();
    const bool standardInput = name == "-";
    const std::string path = standardInput ? "standard input" : name;
    std::unique_ptr<std::FILE, FileCloser> file(standardInput ? stdin
                                                              : std::fopen(name.c_str(), "rb"));
    if (!file) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    png_byte signature[8] = {};
    const size_t got = std::fread(signature, 1, sizeof signature, file.get());
    if (got != sizeof signature || png_sig_cmp(signature, 0, sizeof signature) != 0) {
        *error = path + ": not a PNG file";
        return false;
    }
    ErrorSink sink;
    sink.file = file.get();
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &sink, OnError, OnWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        *error = path + ": out of memory";
        return false;
    }
    png_set_error_fn(png, &sink, OnError, OnWarning);
    // The size limit is ours (kMaxPngPixels), checked before any sample memory is taken.
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    const bool ok = ReadBody(png, info, image, converted);
    png_destroy_read_struct(&png, &info, nullptr);
    if (!ok) {
        *error = path +
                 (sink.tooLarge    ? ": image too large ("
                  : sink.truncated ? ": truncated PNG file ("
                                   : ": damaged PNG file (") +
                 sink.message + ")";
        image->bgra.clear();
    }
    return ok;
}

bool WritePng(std::FILE* file, const Image& image, std::string* error) {
    error->clear();
    ErrorSink sink;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, OnError, OnWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        *error = "out of memory";
        return false;
    }
    png_init_io(png, file);
    const bool ok = WriteBody(png, info, image);
    png_destroy_write_struct(&png, &info);
    if (!ok)
        *error = sink.message;
    else if (std::fflush(file) != 0 || std::ferror(file))
        *error = std::strerror(errno);
    return ok && error->empty();
}

} // namespace velmora::host
