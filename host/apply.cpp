#include "apply.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "api/velmora.h"
#include "output_file.h"
#include "png_io.h"
#include "progress.h"

namespace fs = std::filesystem;
using velmora::com::ComPtr;

namespace velmora::host {
namespace {

using Clock = std::chrono::steady_clock;

void Error(const std::string& message) {
    std::fprintf(stderr, "velmora: %s\n", message.c_str());
}

bool IsPngName(const fs::path& p) {
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".png";
}

// The effect on one frame at a time: set up on a surface over the frame's memory, executed in
// place, and let go of the surface before the memory goes.
class Renderer {
public:
    bool Init(EffectSource& source, const ApplyOptions& options, std::string* error) {
        HRESULT hr =
            source.Create(CLSID_Velmora, uuidof<IUnknown>(), reinterpret_cast<void**>(&effect_));
        if (FAILED(hr)) {
            *error = "cannot create the effect (" + Hex(hr) + ")";
            return false;
        }
        ComPtr<IPersistStreamInit> init;
        effect_->QueryInterface(uuidof<IPersistStreamInit>(), reinterpret_cast<void**>(&init));
        if (init)
            init->InitNew();
        if (!Configure(options, error))
            return false;

        ComPtr<IDXTransformFactory> site;
        ComPtr<IObjectWithSite> withSite;
        hr = DXCreateTransformFactory(options.threads, &site);
        if (SUCCEEDED(hr))
            hr = effect_->QueryInterface(uuidof<IObjectWithSite>(),
                                         reinterpret_cast<void**>(&withSite));
        if (SUCCEEDED(hr))
            hr = withSite->SetSite(site.Get());
        if (SUCCEEDED(hr))
            hr = effect_->QueryInterface(uuidof<IDXTransform>(),
                                         reinterpret_cast<void**>(&transform_));
        if (FAILED(hr)) {
            *error = "cannot set the effect up (" + Hex(hr) + ")";
            return false;
        }
        return true;
    }

    bool Run(Image& image, std::string* error) {
        std::lock_guard lock(mutex_);
        const auto start = Clock::now();
        ComPtr<IDXSurface> surface;
        HRESULT hr = DXCreateSurfaceOnMemory(DXPF_PMARGB32, image.bgra.data(),
                                             static_cast<LONG>(image.width * 4), image.width,
                                             image.height, &surface);
        IUnknown* output = surface.Get();
        if (SUCCEEDED(hr))
            hr = transform_->Setup(nullptr, 0, &output, 1, 0);
        if (SUCCEEDED(hr))
            hr = transform_->Execute(nullptr, nullptr, nullptr);
        transform_->Setup(nullptr, 0, nullptr, 0, 0);
        effectSeconds += std::chrono::duration<double>(Clock::now() - start).count();
        if (FAILED(hr))
            *error = "the effect failed (" + Hex(hr) + ")";
        return SUCCEEDED(hr);
    }

    double effectSeconds = 0;
    std::string matteLabel;
    bool usageError = false; // the failure was the command line's

private:
    bool Configure(const ApplyOptions& options, std::string* error) {
        if (!options.settings.empty()) {
            if (!LoadSettings(effect_.Get(), options.settings, error))
                return false;
            ComPtr<ISfExchangeProps<FilterProps>> exchange;
            effect_->QueryInterface(uuidof<ISfExchangeProps<FilterProps>>(),
                                    reinterpret_cast<void**>(&exchange));
            FilterProps p{};
            if (exchange)
                exchange->GetProps(&p);
            matteLabel = FormatColour(p) + " from " + options.settings;
            return true;
        }
        std::vector<Preset> presets;
        if (!ReadPresets(effect_.Get(), &presets, error))
            return false;
        Matte matte;
        if (options.matte.empty()) {
            if (presets.empty()) {
                *error = "the effect has no presets";
                return false;
            }
            matte.label = presets[0].name + " (" + FormatColour(presets[0].props) + ")";
        } else if (!ParseMatte(options.matte, presets, &matte, error)) {
            usageError = true;
            return false;
        }
        matteLabel = matte.label;
        return ApplyMatte(effect_.Get(), matte, error);
    }

    std::mutex mutex_;
    ComPtr<IUnknown> effect_;
    ComPtr<IDXTransform> transform_;
};

struct Frame {
    std::string input;
    std::string name; // the output's file name
};

// Writes a staged frame and makes it durable; the folder's commit renames it.
bool WriteStaged(const std::string& path, const Image& image, std::string* error) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = WritePng(f, image, error);
    if (ok && ::fsync(::fileno(f)) != 0) {
        *error = std::strerror(errno);
        ok = false;
    }
    if (std::fclose(f) != 0 && ok) {
        *error = std::strerror(errno);
        ok = false;
    }
    return ok;
}

} // namespace

int RunApply(const ApplyOptions& options) {
    std::string error;
    std::error_code ec;
    const fs::path input(options.input), output(options.output);
    const bool fromPipe = options.input == "-", toPipe = options.output == "-";
    const auto inputStatus = fs::status(input, ec);
    if (!fromPipe && !fs::exists(inputStatus)) {
        Error(options.input + ": no such file or directory");
        return 1;
    }
    const bool sequence = !fromPipe && fs::is_directory(inputStatus);
    if (sequence && toPipe) {
        Error("- writes one PNG; a folder of frames needs an OUTPUT folder");
        return 2;
    }

    std::vector<Frame> frames;
    if (sequence) {
        for (const auto& entry : fs::directory_iterator(input, ec))
            if (entry.is_regular_file() && IsPngName(entry.path()))
                frames.push_back({entry.path().string(), entry.path().filename().string()});
        if (ec) {
            Error(options.input + ": " + ec.message());
            return 1;
        }
        if (frames.empty()) {
            Error(options.input + ": no PNG files in this folder");
            return 1;
        }
        std::sort(frames.begin(), frames.end(),
                  [](const Frame& a, const Frame& b) { return a.name < b.name; });
        if (fs::exists(output) && !fs::is_directory(output)) {
            Error(options.output + ": not a folder (the input is a folder of frames)");
            return 1;
        }
    } else {
        if (fromPipe && !toPipe && fs::is_directory(output)) {
            Error(options.output + ": a folder; name the output file");
            return 2;
        }
        fs::path target = !toPipe && fs::is_directory(output) ? output / input.filename() : output;
        if (!toPipe && !IsPngName(target)) {
            Error(target.string() + ": not a .png name; the output is written as PNG");
            return 2;
        }
        if (toPipe && ::isatty(STDOUT_FILENO)) {
            Error("- would write a PNG to the terminal; redirect standard output");
            return 2;
        }
        frames.push_back({options.input, target.string()});
    }

    EffectSource source;
    Renderer renderer;
    if (!source.Open(options.verbose, &error) || !renderer.Init(source, options, &error)) {
        Error(error);
        return renderer.usageError ? 2 : 1;
    }
    if (options.verbose)
        std::fprintf(stderr, "velmora: matte %s\n", renderer.matteLabel.c_str());

    // Where the outputs go before they are whole.
    StagingDirectory stage;
    OutputFile single;
    if (sequence) {
        if (!stage.Create(options.output, &error)) {
            Error(error);
            return 1;
        }
    } else if (!toPipe && !single.Open(frames[0].name, &error)) {
        Error(error);
        return 1;
    }

    const unsigned hardware = std::max(1u, std::thread::hardware_concurrency());
    const unsigned workers = static_cast<unsigned>(
        std::min<size_t>(options.threads ? options.threads : hardware, frames.size()));
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex mutex;
    std::condition_variable changed;
    size_t done = 0;
    std::string firstError;
    std::uint32_t width = 0, height = 0;
    ProgressBar progress(sequence ? frames.size() : 0, "frames");
    const auto start = Clock::now();

    auto fail = [&](const std::string& message) {
        std::lock_guard lock(mutex);
        if (!failed.exchange(true))
            firstError = message;
        changed.notify_all();
    };
    auto work = [&] {
        Image image;
        std::string converted, why;
        for (size_t i; !failed && (i = next++) < frames.size();) {
            const Frame& f = frames[i];
            if (!ReadPng(f.input, &image, &converted, &why))
                return fail(why);
            if (!converted.empty()) {
                std::lock_guard lock(mutex);
                std::fprintf(stderr, "%svelmora: %s: %s converted to 8-bit RGBA\n",
                             progress.active() ? "\r\033[K" : "", f.input.c_str(),
                             converted.c_str());
            }
            if (!renderer.Run(image, &why))
                return fail(f.input + ": " + why);
            const bool ok = sequence ? WriteStaged(stage.PathOf(f.name), image, &why)
                                     : WritePng(toPipe ? stdout : single.stream(), image, &why);
            if (!ok)
                return fail((sequence ? fs::path(options.output) / f.name
                             : toPipe ? fs::path("standard output")
                                      : fs::path(f.name))
                                .string() +
                            ": cannot write: " + why);
            std::lock_guard lock(mutex);
            width = image.width, height = image.height;
            ++done;
            changed.notify_all();
        }
    };
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < workers; ++i)
        threads.emplace_back(work);
    {
        std::unique_lock lock(mutex);
        while (!failed && done < frames.size()) {
            progress.Update(done);
            changed.wait_for(lock, std::chrono::milliseconds(100));
        }
        if (!failed)
            progress.Update(done);
    }
    for (auto& t : threads)
        t.join();

    if (!failed) {
        std::vector<std::string> names;
        for (const auto& f : frames)
            names.push_back(f.name);
        const bool ok = sequence ? stage.Commit(names, &error) : toPipe || single.Commit(&error);
        if (!ok)
            fail(error);
    }
    if (failed) {
        stage.Discard();
        single.Discard();
        Error(firstError);
        return 1;
    }

    if (options.verbose) {
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const double pixels = static_cast<double>(width) * height * frames.size();
        std::fprintf(stderr,
                     "velmora: %zu frame%s of %ux%u in %.2f s: %.1f frames/s, %.1f Mpixel/s "
                     "(PNG in and out included); the effect alone %.2f ms/frame, %.0f "
                     "Mpixel/s\n",
                     frames.size(), frames.size() == 1 ? "" : "s", width, height, seconds,
                     frames.size() / seconds, pixels / seconds / 1e6,
                     renderer.effectSeconds * 1e3 / frames.size(),
                     pixels / std::max(renderer.effectSeconds, 1e-9) / 1e6);
    }
    return 0;
}

} // namespace velmora::host
