// Writes benchmark frames as raw video for ffmpeg: packed bgra, or planar gbrap (the layout that
// ffmpeg's unpremultiply works on), the same pixels either way.
#include <cstdio>
#include <cstring>
#include <string>

#include "frames.h"

using namespace velmora::bench;

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s 1080p|2160p opaque|keyed|partial bgra|gbrap frames out\n",
                     argv[0]);
        return 2;
    }
    const Size size = std::strcmp(argv[1], "2160p") == 0 ? k2160p : k1080p;
    const std::string mixName = argv[2];
    const Mix mix = mixName == "opaque"  ? Mix::Opaque
                    : mixName == "keyed" ? Mix::Keyed
                                         : Mix::Partial;
    const bool planar = std::strcmp(argv[3], "gbrap") == 0;
    const int frames = std::stoi(argv[4]);
    std::FILE* out = std::fopen(argv[5], "wb");
    if (!out) {
        std::perror(argv[5]);
        return 1;
    }
    const std::size_t pixels = static_cast<std::size_t>(size.width) * size.height;
    for (int f = 0; f < frames; ++f) {
        const auto frame = MakeFrame(size, mix, static_cast<unsigned>(f + 1));
        std::vector<std::uint8_t> bytes(frame.size());
        if (planar) {
            // Planes green, blue, red, alpha; the frame's bytes are blue, green, red, alpha.
            static constexpr int kPlaneOf[4] = {1, 0, 2, 3};
            for (std::size_t i = 0; i < pixels; ++i)
                for (int c = 0; c < 4; ++c)
                    bytes[kPlaneOf[c] * pixels + i] = frame[i * 4 + c];
        } else {
            bytes = frame;
        }
        if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) {
            std::perror(argv[5]);
            return 1;
        }
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
