// The kernel alone, on one core: the scalar rule, the rule between its two byte-order swaps (the
// work procedure's former three passes), the vectorised one-pass kernel (the best instruction set,
// and each one the CPU runs on all-partial 1080p frames), and a memcpy of the same bytes.
#include <benchmark/benchmark.h>
#include <hwy/targets.h>

#include <cstring>
#include <string>

#include "effect/kernel.h"
#include "frames.h"

namespace {

using namespace velmora::bench;
using Frame = std::vector<std::uint8_t>;

// The green preset: a matte that leaves every channel's arithmetic in play.
// The Green preset as the kernel takes it: alpha in bits 0-7, red 8-15, green 16-23, blue 24-31.
constexpr std::uint32_t kMatte = 0x00FF00FF;

void Finish(benchmark::State& state, const Frame& frame) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(frame.size()));
}

// The frames are rewritten in place on every iteration; the work depends only on alpha, which
// the kernel never changes, so every iteration does the same work.
void Rule(benchmark::State& state, Size size, Mix mix) {
    Frame frame = CachedFrame(size, mix);
    velmora::SwapPixelByteOrder(frame.data(), size.width, size.height, size.width * 4);
    for (auto _ : state) {
        velmora::UnmatteBuffer(frame.data(), size.width, size.height, size.width * 4, frame.data(),
                               size.width, size.height, size.width * 4, kMatte);
        benchmark::ClobberMemory();
    }
    Finish(state, frame);
}

void ThreePass(benchmark::State& state, Size size, Mix mix) {
    Frame frame = CachedFrame(size, mix);
    const auto w = static_cast<std::uint32_t>(size.width),
               h = static_cast<std::uint32_t>(size.height);
    for (auto _ : state) {
        velmora::SwapPixelByteOrder(frame.data(), w, h, size.width * 4);
        velmora::UnmatteBuffer(frame.data(), size.width, size.height, size.width * 4, frame.data(),
                               size.width, size.height, size.width * 4, kMatte);
        velmora::SwapPixelByteOrder(frame.data(), w, h, size.width * 4);
        benchmark::ClobberMemory();
    }
    Finish(state, frame);
}

void Vector(benchmark::State& state, Size size, Mix mix, std::int64_t target) {
    if (target)
        hwy::SetSupportedTargetsForTest(target);
    state.SetLabel(velmora::UnmatteSurfaceTarget());
    Frame frame = CachedFrame(size, mix);
    for (auto _ : state) {
        velmora::UnmatteSurface(frame.data(), static_cast<std::uint32_t>(size.width),
                                static_cast<std::uint32_t>(size.height), size.width * 4, kMatte);
        benchmark::ClobberMemory();
    }
    hwy::SetSupportedTargetsForTest(0);
    Finish(state, frame);
}

void Memcpy(benchmark::State& state, Size size, Mix mix) {
    const Frame& source = CachedFrame(size, mix);
    Frame copy(source.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), source.data(), source.size());
        benchmark::ClobberMemory();
    }
    Finish(state, copy);
}

void Register() {
    for (Size size : {k1080p, k2160p})
        for (Mix mix : {Mix::Opaque, Mix::Keyed, Mix::Partial}) {
            const std::string suffix = std::string("/") + size.name + "/" + MixName(mix);
            benchmark::RegisterBenchmark(("rule" + suffix).c_str(), Rule, size, mix)->UseRealTime();
            benchmark::RegisterBenchmark(("three_pass" + suffix).c_str(), ThreePass, size, mix)
                ->UseRealTime();
            benchmark::RegisterBenchmark(("vector" + suffix).c_str(), Vector, size, mix, 0)
                ->UseRealTime();
            benchmark::RegisterBenchmark(("memcpy" + suffix).c_str(), Memcpy, size, mix)
                ->UseRealTime();
        }
    for (std::int64_t target : velmora::UnmatteSurfaceTargets())
        benchmark::RegisterBenchmark(
            (std::string("vector_") + hwy::TargetName(target) + "/1080p/partial").c_str(), Vector,
            k1080p, Mix::Partial, target)
            ->UseRealTime();
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    std::string targets;
    for (std::int64_t t : velmora::UnmatteSurfaceTargets())
        targets += std::string(targets.empty() ? "" : " ") + hwy::TargetName(t);
    benchmark::AddCustomContext("simd_targets", targets);
    benchmark::AddCustomContext("simd_dispatch", velmora::UnmatteSurfaceTarget());
    Register();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
