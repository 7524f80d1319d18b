#include "e2e_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include <png.h>

namespace e2e {

Result Run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
           int timeoutSeconds, int interruptAfterMs, int signal, const std::string& interruptOn) {
    Result r;
    TempDir io;
    const std::string outPath = (io / "out").string(), errPath = (io / "err").string();
    pid_t pid = ::fork();
    if (pid == 0) {
        for (const auto& [name, value] : env) {
            if (value.empty())
                ::unsetenv(name.c_str());
            else
                ::setenv(name.c_str(), value.c_str(), 1);
        }
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int in = ::open("/dev/null", O_RDONLY);
        ::dup2(in, 0), ::dup2(out, 1), ::dup2(err, 2);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        std::fprintf(stderr, "cannot run %s: %s\n", args[0], std::strerror(errno));
        ::_exit(127);
    }
    int status = 0;
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::seconds(timeoutSeconds);
    bool interrupted = interruptAfterMs < 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (!interrupted &&
            std::chrono::steady_clock::now() >
                start + std::chrono::milliseconds(interruptAfterMs) &&
            (interruptOn.empty() || ReadFile(errPath).find(interruptOn) != std::string::npos)) {
            ::kill(pid, signal);
            interrupted = true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = ReadFile(outPath);
    r.err = ReadFile(errPath);
    // Debug builds of the GUI framework announce their version when the module loads it; that
    // line is not the program's.
    static const std::regex version("(^|\n)JUCE v[0-9.]+\n");
    r.err = std::regex_replace(r.err, version, "$1");
    return r;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-e2e-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

Rgba RandomRgba(std::uint32_t width, std::uint32_t height, unsigned seed) {
    std::mt19937 rng(seed);
    Rgba image{width, height, std::vector<std::uint8_t>(static_cast<size_t>(width) * height * 4)};
    for (size_t i = 0; i < image.bytes.size(); ++i) {
        auto b = static_cast<std::uint8_t>(rng());
        // Clear and opaque pixels as keyed footage has them, and every partial alpha.
        if (i % 4 == 3)
            b = rng() % 4 == 0 ? 0 : rng() % 4 == 0 ? 255 : b;
        image.bytes[i] = b;
    }
    return image;
}

bool WritePng(const std::filesystem::path& path, const Rgba& image, unsigned format) {
    png_image p{};
    p.version = PNG_IMAGE_VERSION;
    p.width = image.width;
    p.height = image.height;
    p.format = format;
    return png_image_write_to_file(&p, path.c_str(), 0, image.bytes.data(), 0, nullptr) != 0;
}

static_assert(PNG_FORMAT_RGBA == 3);

std::optional<Rgba> ReadPngRgba(const std::filesystem::path& path) {
    png_image p{};
    p.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&p, path.c_str()))
        return std::nullopt;
    p.format = PNG_FORMAT_RGBA;
    Rgba image{p.width, p.height, std::vector<std::uint8_t>(PNG_IMAGE_SIZE(p))};
    if (!png_image_finish_read(&p, nullptr, image.bytes.data(), 0, nullptr))
        return std::nullopt;
    return image;
}

Rgba Unmatted(Rgba image, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    image.bytes = UnmattedBgra(std::move(image.bytes), blue, green, red); // R and B trade places
    return image;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> Listing(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace e2e
