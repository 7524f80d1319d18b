// Execute with ScheduleTasks failing (before, between or after the pieces) or one piece's lock
// failing: Execute answers the failure, every band is as it was or wholly done, the record is
// unchanged, and the next Execute is exact.
#include "../effect/effect_rig.h"
#include "../soak.h"

using namespace velmora;
using namespace velmora::test;

namespace {

constexpr LONG kWidth = 256, kHeight = 64; // 16384 pixels: four pieces on four processors
constexpr FilterProps kMatte{255, 30, 200, 90};

// The effect over a premultiplied surface on memory the test owns, whose locks can fail.
struct InPlaceRig : FrameRig {
    std::vector<BYTE> done = Unmatted(original, kMatte);

    explicit InPlaceRig(ULONG processors, IDXTaskManager* manager = nullptr)
        : FrameRig(kWidth, kHeight, 3, processors, manager, true) {
        SetProps(kMatte);
    }
    // After a failed Execute: the bands' states, then the next Execute exact.
    void Check(ULONG pieces, const std::string& want, const std::string& what) {
        std::string states = BandStates(memory, original, done, kWidth * 4, kHeight, pieces);
        if (want.empty()) { // which band's lock failed depends on the threads
            std::sort(states.begin(), states.end());
            EXPECT_EQ(states, std::string("o") + std::string(pieces - 1, 'x')) << what;
        } else {
            EXPECT_EQ(states, want) << what;
        }
        EXPECT_EQ(Props(), kMatte);
        EXPECT_EQ(Rerun(), S_OK);
        EXPECT_EQ(memory, done) << "the next Execute after " << what;
    }
};

} // namespace

TEST(ScheduleTasksFaults, FailureIsReportedAndTheNextExecuteWorks) {
    auto* manager = new WrappedTaskManager;
    InPlaceRig rig(4, manager);
    long injected = 0;
    for (long round = 0; round < Count(2, 100); ++round)
        for (HRESULT code : {E_OUTOFMEMORY, DXTERR_REQ_TIMEDOUT})
            for (ULONG ran = 0; ran <= 4; ++ran) {
                manager->failWith = code;
                manager->runFirst = ran;
                EXPECT_EQ(rig.Rerun(), code);
                manager->failWith = S_OK;
                ++injected;
                // The pieces that ran wrote their bands whole; the others were never touched.
                rig.Check(4, std::string(ran, 'x') + std::string(4 - ran, 'o'),
                          std::to_string(code) + ", ran " + std::to_string(ran));
            }
    rig.Disconnect();
    manager->Release();
    Figure("faults injected", static_cast<double>(injected));
}

TEST(SurfaceLockFaults, OnePieceFailsItsLockAndWritesNothing) {
    long injected = 0;
    for (ULONG processors : {1u, 2u, 4u}) {
        InPlaceRig rig(processors);
        for (long round = 0; round < Count(2, 100); ++round)
            for (ULONG k = 0; k < processors; ++k) {
                rig.fake->lockResult = E_ACCESSDENIED;
                rig.fake->failLockAt = rig.fake->locks + static_cast<int>(k);
                EXPECT_EQ(rig.Rerun(), E_ACCESSDENIED);
                rig.fake->lockResult = S_OK;
                ++injected;
                rig.Check(processors, "",
                          std::to_string(processors) + " processors, lock " + std::to_string(k));
            }
    }
    Figure("faults injected", static_cast<double>(injected));
}
