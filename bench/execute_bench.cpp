// A whole frame through the COM effect, as a host renders it: Execute on a premultiplied surface
// over the frame's memory, with the task manager reporting 1 or 2 processors.
#include <benchmark/benchmark.h>

#include <string>

#include "effect/kernel.h"
#include "effect/velmora.h"
#include "frames.h"
#include "platform/dxtrans/dxtransform.h"

namespace {

using namespace velmora::bench;
using velmora::com::ComPtr;
using Effect = velmora::com::CComPolyObject<CVelmora>;

template <class I>
ComPtr<I> Query(IUnknown* unknown) {
    ComPtr<I> p;
    unknown->QueryInterface(uuidof<I>(), reinterpret_cast<void**>(&p));
    return p;
}

void Execute(benchmark::State& state, Size size, Mix mix, ULONG processors) {
    auto frame = CachedFrame(size, mix);
    ComPtr<IDXSurface> surface;
    ComPtr<IDXTransformFactory> site;
    ComPtr<IUnknown> effect;
    if (DXCreateSurfaceOnMemory(DXPF_PMARGB32, frame.data(), size.width * 4,
                                static_cast<ULONG>(size.width), static_cast<ULONG>(size.height),
                                &surface) != S_OK ||
        DXCreateTransformFactory(processors, &site) != S_OK ||
        Effect::CreateInstance(nullptr, uuidof<IUnknown>(), reinterpret_cast<void**>(&effect)) !=
            S_OK) {
        state.SkipWithError("set-up failed");
        return;
    }
    auto transform = Query<IDXTransform>(effect.Get());
    Query<IObjectWithSite>(effect.Get())->SetSite(site.Get());
    IUnknown* output = surface.Get();
    if (transform->Setup(nullptr, 0, &output, 1, 0) != S_OK) {
        state.SkipWithError("Setup failed");
        return;
    }
    const FilterProps green = velmora::kPresets[1];
    Query<ISfExchangeProps<FilterProps>>(effect.Get())->SetProps(&green);
    for (auto _ : state) {
        if (transform->Execute(nullptr, nullptr, nullptr) != S_OK) {
            state.SkipWithError("Execute failed");
            break;
        }
    }
    state.SetLabel(velmora::UnmatteSurfaceTarget());
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
