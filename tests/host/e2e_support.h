// Support for the end-to-end suites: running programs as a user does, temporary folders, PNG
// files through libpng's simplified interface (independent of the host's own reader and writer),
// and the scalar rule as the reference for every byte.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/rule.h"

namespace e2e {

using velmora::test::UnmattedBgra;

struct Result {
    int status = -1; // exit code, or 128 + signal
    std::string out, err;
};

// Runs argv[0] with the arguments; env entries are set (an empty value unsets the variable).
// interruptAfterMs >= 0: the signal (SIGINT, as Ctrl+C would; SIGKILL, as a crash or the OOM
// killer would) is sent that long after the start, or, with interruptOn, once stderr has that text.
Result Run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
           int timeoutSeconds = 120, int interruptAfterMs = -1, int signal = 2 /* SIGINT */,
           const std::string& interruptOn = {});

class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Pixels as 8-bit R, G, B, A (the PNG's order).
struct Rgba {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint8_t> bytes;
};

Rgba RandomRgba(std::uint32_t width, std::uint32_t height, unsigned seed);
// format: PNG_FORMAT_* of libpng's simplified interface (by default RGBA); the pixels are given
// in that format.
bool WritePng(const std::filesystem::path& path, const Rgba& image, unsigned format = 3);
std::optional<Rgba> ReadPngRgba(const std::filesystem::path& path);

// The rule on R, G, B, A pixels with the matte colour's red, green and blue.
Rgba Unmatted(Rgba image, std::uint8_t red, std::uint8_t green, std::uint8_t blue);

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
// Files (also hidden ones) directly inside a folder, by name.
std::vector<std::string> Listing(const std::filesystem::path& folder);

} // namespace e2e
