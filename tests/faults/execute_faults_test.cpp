// Execute with ScheduleTasks failing (before, between or after the pieces) or one piece's lock
// failing, in place and through the unpack path: Execute answers the failure, every band is as it
// was or wholly done, the record is unchanged, and the next Execute is exact.
#include <optional>
#include <thread>

#include "../soak.h"
#include "../effect/frames.h"

using namespace velmora;
using namespace velmora::test;

namespace {

constexpr LONG kWidth = 256, kHeight = 64; // 16384 pixels: four pieces on four processors
constexpr FilterProps kMatte{255, 30, 200, 90};

// The effect over a premultiplied surface on memory the test owns, whose locks can fail.
struct InPlaceRig {
    std::vector<BYTE> original = KeyedFrame(static_cast<size_t>(kWidth) * kHeight, 3);
    std::vector<BYTE> done = Unmatted(original, kMatte);
    std::vector<BYTE> memory = original;
    FakeSurface* fake = nullptr;
    ComPtr<IDXSurface> surface;
    std::optional<EffectRig> fx;

    explicit InPlaceRig(ULONG processors, IDXTaskManager* manager = nullptr) {
        ComPtr<IDXSurface> real;
        EXPECT_EQ(DXCreateSurfaceOnMemory(DXPF_PMARGB32, memory.data(), kWidth * 4, kWidth, kHeight,
                                          &real),
                  S_OK);
        surface.Attach(fake = new FakeSurface(real));
        fx.emplace(surface.Get(), processors, manager);
        fx->SetProps(kMatte);
    }
    HRESULT Run() {
        std::copy(original.begin(), original.end(), memory.begin()); // the surface's own memory
        return fx->Run();
    }
    std::string States(ULONG pieces) const {
        return BandStates(memory, original, done, kWidth * 4, Bands(kHeight, pieces));
    }
};

} // namespace

TEST(ScheduleTasksFaults, FailureIsReportedAndTheNextExecuteWorks) {
    Stopwatch watch;
    ComPtr<IDXTaskManager> real;
    ASSERT_EQ(DXCreateTaskManager(4, &real), S_OK);
    auto* manager = new WrappedTaskManager(real);
    InPlaceRig rig(4, manager);
    ASSERT_EQ(rig.Run(), S_OK);
    ASSERT_EQ(manager->lastCount, 4u);
    ASSERT_EQ(rig.memory, rig.done) << "a clean frame first";

    long frames = 0;
    const long rounds = Count(3, 100);
    for (long round = 0; round < rounds; ++round)
        for (HRESULT code : {E_OUTOFMEMORY, E_FAIL, DXTERR_REQ_TIMEDOUT})
            for (ULONG ran = 0; ran <= 4; ++ran) {
                manager->failWith = code;
                manager->runFirst = ran;
                EXPECT_EQ(rig.Run(), code) << "ran " << ran;
                ++frames;
                // The pieces that ran wrote their bands whole; the others were never touched.
                std::string want(4, 'o');
                std::fill_n(want.begin(), ran, 'x');
                EXPECT_EQ(rig.States(4), want) << "0x" << std::hex << code << ", ran " << ran;
                EXPECT_EQ(rig.fx->Props(), kMatte);

                manager->failWith = S_OK;
                EXPECT_EQ(rig.Run(), S_OK);
                ++frames;
                EXPECT_EQ(rig.memory, rig.done) << "the next Execute after a failure";
            }
    Figure("faults injected", manager->injected);
    Figure("frames checked", static_cast<double>(frames));
    watch.Report();
    rig.fx->transform->Setup(nullptr, 0, nullptr, 0, 0);
    manager->Release();
}

TEST(SurfaceLockFaults, OnePieceFailsItsLockAndWritesNothing) {
    Stopwatch watch;
    long injected = 0, frames = 0;
    const long rounds = Count(3, 100);
    for (ULONG processors : {1u, 2u, 4u}) {
        InPlaceRig rig(processors);
        ASSERT_EQ(rig.Run(), S_OK);
        const ULONG pieces = std::min<ULONG>(processors, 4);
        for (long round = 0; round < rounds; ++round)
            for (ULONG k = 0; k < pieces; ++k) {
                rig.fake->lockResult = E_ACCESSDENIED;
                rig.fake->failLockAt = rig.fake->locks + static_cast<int>(k);
                EXPECT_EQ(rig.Run(), E_ACCESSDENIED) << processors << " processors, lock " << k;
                ++frames, ++injected;
                // Which band's lock was the k-th depends on the threads; exactly one is untouched.
                const std::string states = rig.States(pieces);
                EXPECT_EQ(std::count(states.begin(), states.end(), 'o'), 1) << states;
                EXPECT_EQ(std::count(states.begin(), states.end(), 'x'),
                          static_cast<long>(pieces) - 1)
                    << states;
                rig.fake->lockResult = S_OK;
                rig.fake->failLockAt = -1;
                EXPECT_EQ(rig.Run(), S_OK);
                ++frames;
                EXPECT_EQ(rig.memory, rig.done);
            }
        EXPECT_EQ(rig.fx->Props(), kMatte);
    }
    Figure("faults injected", static_cast<double>(injected));
    Figure("frames checked", static_cast<double>(frames));
    watch.Report();
}

// The same on a surface that is not premultiplied ARGB32: the piece unpacks into a buffer of its
// own and packs back; a failed lock leaves its band as it was.
TEST(SurfaceLockFaults, UnpackPathFailsWhole) {
    auto* fake = new FakeSurface(MakeSurface(DXFMT_ARGB32, kWidth, kHeight));
    ComPtr<IDXSurface> surface;
    surface.Attach(fake);
    Fill(surface.Get(), kWidth, kHeight, KeyedFrame(static_cast<size_t>(kWidth) * kHeight, 17));
    const auto original = Samples<BYTE>(surface.Get(), kWidth, kHeight);
    EffectRig fx(surface.Get(), 4);
    fx.SetProps(kMatte);
    ASSERT_EQ(fx.Run(), S_OK);
    const auto done = Samples<BYTE>(surface.Get(), kWidth, kHeight);
    ASSERT_NE(done, original);

    for (int k = 0; k < 4; ++k) {
        Fill(surface.Get(), kWidth, kHeight, original);
        fake->lockResult = E_ACCESSDENIED;
        fake->failLockAt = fake->locks + k;
        EXPECT_EQ(fx.Run(), E_ACCESSDENIED);
        const std::string states = BandStates(Samples<BYTE>(surface.Get(), kWidth, kHeight),
                                              original, done, kWidth * 4, Bands(kHeight, 4));
        EXPECT_EQ(std::count(states.begin(), states.end(), 'o'), 1) << states;
        EXPECT_EQ(std::count(states.begin(), states.end(), 'x'), 3) << states;
        fake->lockResult = S_OK;
        fake->failLockAt = -1;
        Fill(surface.Get(), kWidth, kHeight, original);
        EXPECT_EQ(fx.Run(), S_OK);
        EXPECT_EQ(Samples<BYTE>(surface.Get(), kWidth, kHeight), done);
    }
    fx.transform->Setup(nullptr, 0, nullptr, 0, 0);
    Figure("faults injected", 4);
}
