#include "sample.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <regex>
#include <thread>

#include "output_file.h"
#include "png_io.h"
#include "progress.h"

namespace velmora::host {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Colour {
    double r, g, b;
};

// One layer: its colour and coverage at a point, inside a bounding box.
struct Shape {
    double x0, y0, x1, y1;
    std::function<double(double x, double y, Colour* c)> coverage;
};

double Smoothstep(double edge0, double edge1, double x) {
    const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

std::vector<Shape> Scene(double t, double w, double h) {
    const double s = h / 1080.0;
    std::vector<Shape> shapes;

    // Smoke: a Gaussian puff rising from the bottom, mostly translucent.
    {
        const double cx = w * (0.45 + 0.1 * std::sin(2 * kPi * t)), cy = h * (1.0 - 0.9 * t);
        const double sigma = 140 * s;
        shapes.push_back({cx - 4 * sigma, cy - 4 * sigma, cx + 4 * sigma, cy + 4 * sigma,
                          [=](double x, double y, Colour* c) {
                              const double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                              *c = {235, 238, 245};
                              return 0.8 * std::exp(-d2 / (2 * sigma * sigma));
                          }});
    }
    // An orange disc with a soft rim, shaded top to bottom.
    {
        const double cx = w * (0.15 + 0.7 * t), cy = h * 0.38 + 90 * s * std::sin(2 * kPi * t);
        const double r = 220 * s, soft = 35 * s;
        shapes.push_back({cx - r - soft, cy - r - soft, cx + r + soft, cy + r + soft,
                          [=](double x, double y, Colour* c) {
                              const double d = std::hypot(x - cx, y - cy);
                              const double shade = 0.75 + 0.25 * (cy + r - y) / (2 * r);
                              *c = {245 * shade, 135 * shade, 40 * shade};
                              return 1.0 - Smoothstep(r - soft, r + soft, d);
                          }});
    }
    // A pane of blue glass: a rounded rectangle at half opacity.
    {
        const double cx = w * (0.78 - 0.5 * t), cy = h * 0.66, hw = 300 * s, hh = 170 * s;
        const double radius = 60 * s, soft = 18 * s;
        shapes.push_back({cx - hw - soft, cy - hh - soft, cx + hw + soft, cy + hh + soft,
                          [=](double x, double y, Colour* c) {
                              const double qx = std::abs(x - cx) - (hw - radius);
                              const double qy = std::abs(y - cy) - (hh - radius);
                              const double outside =
                                  std::hypot(std::max(qx, 0.0), std::max(qy, 0.0)) +
                                  std::min(std::max(qx, qy), 0.0) - radius;
                              *c = {60, 115, 235};
                              return 0.55 * (1.0 - Smoothstep(-soft, soft, outside));
                          }});
    }
    // A fast bar with a motion-blur trail: alpha ramps up along its length.
    {
        const double len = 520 * s, thick = 46 * s, soft = 10 * s;
        const double x1 = -len + (w + 2 * len) * t, y = h * 0.14;
        shapes.push_back({x1 - len, y - thick - soft, x1 + soft, y + thick + soft,
                          [=](double px, double py, Colour* c) {
                              const double along = Smoothstep(x1 - len, x1, px) *
                                                   (1.0 - Smoothstep(x1 - soft, x1 + soft, px));
                              const double across =
                                  1.0 - Smoothstep(thick - soft, thick + soft, std::abs(py - y));
                              *c = {225, 45, 165};
                              return along * across;
                          }});
    }
    return shapes;
}

void Render(const SampleOptions& o, unsigned index, Image* image) {
    const double t = static_cast<double>(index) / o.frames;
    const auto shapes = Scene(t, o.width, o.height);
    image->width = o.width;
    image->height = o.height;
    image->bgra.assign(static_cast<size_t>(o.width) * o.height * 4, 0);
    const Colour m{static_cast<double>(o.matte.red), static_cast<double>(o.matte.green),
                   static_cast<double>(o.matte.blue)};
    for (unsigned y = 0; y < o.height; ++y) {
        std::uint8_t* row = image->bgra.data() + static_cast<size_t>(y) * o.width * 4;
        for (unsigned x = 0; x < o.width; ++x) {
            const double px = x + 0.5, py = y + 0.5;
            double pr = 0, pg = 0, pb = 0, a = 0; // premultiplied, back to front
            for (const auto& s : shapes) {
                if (px < s.x0 || px > s.x1 || py < s.y0 || py > s.y1)
                    continue;
                Colour c{};
                const double k = std::clamp(s.coverage(px, py, &c), 0.0, 1.0);
                pr = c.r * k + pr * (1 - k);
                pg = c.g * k + pg * (1 - k);
                pb = c.b * k + pb * (1 - k);
                a = k + a * (1 - k);
            }
            // The stored alpha is what the effect divides by: composite with exactly that.
            const int a8 = static_cast<int>(std::lround(a * 255));
            const double q = a8 / 255.0;
            auto matted = [&](double premultiplied, double matte) {
                const double straight = a > 0 ? premultiplied / a : 0;
                return static_cast<std::uint8_t>(
                    std::lround(std::clamp(straight * q + matte * (1 - q), 0.0, 255.0)));
            };
            std::uint8_t* p = row + static_cast<size_t>(x) * 4;
            p[0] = matted(pb, m.b);
            p[1] = matted(pg, m.g);
            p[2] = matted(pr, m.r);
            p[3] = static_cast<std::uint8_t>(a8);
        }
    }
}

} // namespace

int RunSample(const SampleOptions& o) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(o.folder, ec);
    if (ec || !fs::is_directory(o.folder)) {
        return Fail(o.folder +
                    ": cannot create the folder: " + (ec ? ec.message() : "not a folder"));
    }
    std::atomic<unsigned> next{0}, done{0};
    std::atomic<bool> failed{false};
    std::mutex mutex;
    std::string firstError;
    ProgressBar progress(o.frames, "frames");
    auto work = [&] {
        Image image;
        std::string error;
        for (unsigned i; !failed && (i = next++) < o.frames;) {
            Render(o, i, &image);
            char name[32];
            std::snprintf(name, sizeof name, "frame_%04u.png", i + 1);
            OutputFile out;
            const std::string path = (fs::path(o.folder) / name).string();
            if (!out.Open(path, &error) || !WritePng(out.stream(), image, &error) ||
                !out.Commit(&error)) {
                std::lock_guard lock(mutex);
                if (!failed.exchange(true))
                    firstError = error.find(path) == 0 ? error : path + ": " + error;
                return;
            }
            ++done;
            std::lock_guard lock(mutex);
            progress.Update(done);
        }
    };
    const unsigned hardware = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < std::min(o.threads ? o.threads : hardware, o.frames); ++i)
        threads.emplace_back(work);
    for (auto& t : threads)
        t.join();
    if (failed)
        return Fail(firstError);
    // Frames of an earlier, longer clip would read as part of this one.
    static const std::regex ours("frame_([0-9]{4,9})\\.png");
    for (const auto& entry : fs::directory_iterator(o.folder, ec)) {
        const std::string name = entry.path().filename().string();
        std::smatch m;
        if (std::regex_match(name, m, ours) && std::stoul(m[1]) > o.frames)
            fs::remove(entry.path(), ec);
    }
    return 0;
}

} // namespace velmora::host
