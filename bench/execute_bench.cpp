// A whole frame through the COM effect, as a host renders it: the module loaded, the effect
// rendering in place on a premultiplied surface over the frame's memory, with the task manager
// reporting 1 or 2 processors.
#include <benchmark/benchmark.h>

#include <string>

#include "client/client.h"
#include "frames.h"

namespace {

using namespace velmora::bench;

void Execute(benchmark::State& state, Size size, Mix mix, ULONG processors) {
    auto frame = CachedFrame(size, mix);
    velmora::client::EffectSource source;
    velmora::client::Effect effect;
    std::string error;
    if (!source.OpenModule(velmora::client::ModuleBesideProgram(), &error) ||
        !effect.Create(source, &error) || !effect.Site(processors, &error) ||
        FAILED(effect.SetProps({255, 0, 255, 0}))) {
        state.SkipWithError(error.empty() ? "set-up failed" : error.c_str());
        return;
    }
    for (auto _ : state) {
        if (FAILED(effect.Render(frame.data(), size.width * 4, static_cast<ULONG>(size.width),
                                 static_cast<ULONG>(size.height)))) {
            state.SkipWithError("the effect failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(frame.size()));
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    for (Size size : {k1080p, k2160p})
        for (Mix mix : {Mix::Opaque, Mix::Keyed, Mix::Partial})
            for (ULONG threads : {1u, 2u})
                benchmark::RegisterBenchmark((std::string("execute/") + size.name + "/" +
                                              MixName(mix) + "/threads:" + std::to_string(threads))
                                                 .c_str(),
                                             Execute, size, mix, threads)
                    ->UseRealTime();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
