#include "apply.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "matte.h"
#include "os.h"
#include "output_file.h"
#include "png_io.h"
#include "progress.h"
#include "settings_file.h"

namespace fs = std::filesystem;

namespace velmora::host {
namespace {

using Clock = std::chrono::steady_clock;
using client::FormatColour;

bool IsPngName(const fs::path& p) {
    return Lower(p.extension().string()) == ".png";
}

struct Frame {
    std::string input;
    std::string name; // the output's file name
};

// What to read and where it goes: one file (or a pipe) to one file (or a pipe), or a folder of
// frames to a folder.
struct Plan {
    bool sequence = false;
    bool toPipe = false;
    std::vector<Frame> frames;
};

// The command line checked against the files: 0, or the exit status after saying why.
int MakePlan(const ApplyOptions& options, Plan* plan) {
    std::error_code ec;
    const fs::path input(options.input), output(options.output);
    const bool fromPipe = options.input == "-";
    plan->toPipe = options.output == "-";
    const auto inputStatus = fs::status(input, ec);
    if (!fromPipe && !fs::exists(inputStatus))
        return Fail(options.input + ": no such file or directory");
    plan->sequence = !fromPipe && fs::is_directory(inputStatus);
    if (plan->sequence && plan->toPipe)
        return Fail("- writes one PNG; a folder of frames needs an OUTPUT folder", 2);

    if (plan->sequence) {
        for (const auto& entry : fs::directory_iterator(input, ec))
            if (entry.is_regular_file() && IsPngName(entry.path()))
                plan->frames.push_back({entry.path().string(), entry.path().filename().string()});
        if (ec)
            return Fail(options.input + ": " + ec.message());
        if (plan->frames.empty())
            return Fail(options.input + ": no PNG files in this folder");
        std::sort(plan->frames.begin(), plan->frames.end(),
                  [](const Frame& a, const Frame& b) { return a.name < b.name; });
        if (fs::exists(output) && !fs::is_directory(output))
            return Fail(options.output + ": not a folder (the input is a folder of frames)");
        return 0;
    }
    if (fromPipe && !plan->toPipe && fs::is_directory(output))
        return Fail(options.output + ": a folder; name the output file", 2);
    fs::path target =
        !plan->toPipe && fs::is_directory(output) ? output / input.filename() : output;
    if (!plan->toPipe && !IsPngName(target))
        return Fail(target.string() + ": not a .png name; the output is written as PNG", 2);
    if (plan->toPipe && IsTerminal(stdout))
        return Fail("- would write a PNG to the terminal; redirect standard output", 2);
    plan->frames.push_back({options.input, target.string()});
    return 0;
}

// The options' matte into the effect: a settings file, a preset or a colour. 0, or the exit
// status after saying why; label says which matte it was.
int Configure(client::Effect& effect, const ApplyOptions& options, std::string* label) {
    std::string error;
    if (!options.settings.empty()) {
        if (!LoadSettings(effect.object(), options.settings, &error))
            return Fail(error);
        FilterProps p{};
        effect.GetProps(&p);
        *label = FormatColour(p) + " from " + options.settings;
        return 0;
    }
    std::vector<Preset> presets;
    if (!client::ReadPresets(effect.object(), &presets, &error))
        return Fail(error);
    Matte matte;
    if (options.matte.empty()) {
        if (presets.empty())
            return Fail("the effect has no presets");
        matte.label = presets[0].name + " (" + FormatColour(presets[0].props) + ")";
    } else if (!ParseMatte(options.matte, presets, &matte, &error)) {
        return Fail(error, 2);
    }
    *label = matte.label;
    return ApplyMatte(effect.object(), matte, &error) ? 0 : Fail(error);
}

// Where the outputs go before they are whole.
struct Outputs {
    StagingDirectory stage; // a folder's frames
    OutputFile single;      // one file's
};

bool OpenOutputs(const Plan& plan, const ApplyOptions& options, Outputs* out, std::string* error) {
    if (plan.sequence)
        return out->stage.Create(options.output, error);
    return plan.toPipe || out->single.Open(plan.frames[0].name, error);
}

// Writes a staged frame and makes it durable; the folder's commit renames it.
bool WriteStaged(const std::string& path, const Image& image, std::string* error) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = WritePng(f, image, error);
    if (ok && !SyncFile(f)) {
        *error = std::strerror(errno);
        ok = false;
    }
    if (std::fclose(f) != 0 && ok) {
        *error = std::strerror(errno);
        ok = false;
    }
    return ok;
}

struct FrameSize {
    std::uint32_t width = 0, height = 0;
};

// Every frame read, rendered and written on worker threads, the progress shown meanwhile. False
// with the first failure.
bool RenderFrames(const Plan& plan, const ApplyOptions& options, client::Effect& effect,
                  Outputs& out, FrameSize* size, std::string* error) {
    const auto& frames = plan.frames;
    const unsigned hardware = std::max(1u, std::thread::hardware_concurrency());
    const unsigned workers = static_cast<unsigned>(
        std::min<size_t>(options.threads ? options.threads : hardware, frames.size()));
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex mutex;
    std::condition_variable changed;
    size_t done = 0;
    ProgressBar progress(plan.sequence ? frames.size() : 0, "frames");

    auto fail = [&](const std::string& message) {
        std::lock_guard lock(mutex);
        if (!failed.exchange(true))
            *error = message;
        changed.notify_all();
    };
    auto outputName = [&](const Frame& f) {
        return (plan.sequence ? fs::path(options.output) / f.name
                : plan.toPipe ? fs::path("standard output")
                              : fs::path(f.name))
            .string();
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
                std::fprintf(stderr, "%s", progress.active() ? "\r\033[K" : "");
                Say(f.input + ": " + converted + " converted to 8-bit RGBA");
            }
            HRESULT hr = effect.Render(image.bgra.data(), static_cast<LONG>(image.width * 4),
                                       image.width, image.height);
            if (FAILED(hr))
                return fail(f.input + ": the effect failed (" + client::Hex(hr) + ")");
            const bool ok = plan.sequence
                                ? WriteStaged(out.stage.PathOf(f.name), image, &why)
                                : WritePng(plan.toPipe ? stdout : out.single.stream(), image, &why);
            if (!ok)
                return fail(outputName(f) + ": cannot write: " + why);
            std::lock_guard lock(mutex);
            *size = {image.width, image.height};
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
    return !failed;
}

// The outputs in place, all at once.
bool Commit(const Plan& plan, Outputs& out, std::string* error) {
    if (!plan.sequence)
        return plan.toPipe || out.single.Commit(error);
    std::vector<std::string> names;
    for (const auto& f : plan.frames)
        names.push_back(f.name);
    return out.stage.Commit(names, error);
}

void ReportSpeed(size_t frames, FrameSize size, double seconds, double effectSeconds) {
    const double pixels = static_cast<double>(size.width) * size.height * frames;
    std::fprintf(stderr,
                 "velmora: %zu frame%s of %ux%u in %.2f s: %.1f frames/s, %.1f Mpixel/s "
                 "(PNG in and out included); the effect alone %.2f ms/frame, %.0f "
                 "Mpixel/s\n",
                 frames, frames == 1 ? "" : "s", size.width, size.height, seconds, frames / seconds,
                 pixels / seconds / 1e6, effectSeconds * 1e3 / frames,
                 pixels / std::max(effectSeconds, 1e-9) / 1e6);
}

} // namespace

int RunApply(const ApplyOptions& options) {
    Plan plan;
    if (int status = MakePlan(options, &plan))
        return status;

    client::EffectSource source;
    client::Effect effect;
    std::string label, error;
    if (!source.Open(options.verbose, &error) || !effect.Create(source, &error))
        return Fail(error);
    if (int status = Configure(effect, options, &label))
        return status;
    if (!effect.Site(options.threads, &error))
        return Fail(error);
    if (options.verbose)
        Say("matte " + label);

    Outputs out;
    if (!OpenOutputs(plan, options, &out, &error))
        return Fail(error);
    const auto start = Clock::now();
    FrameSize size;
    if (!RenderFrames(plan, options, effect, out, &size, &error) || !Commit(plan, out, &error)) {
        out.stage.Discard();
        out.single.Discard();
        return Fail(error);
    }
    if (options.verbose)
        ReportSpeed(plan.frames.size(), size,
                    std::chrono::duration<double>(Clock::now() - start).count(), effect.seconds());
    return 0;
}

} // namespace velmora::host
