// Frames allocate nothing on the heap once warm, on the calling thread or the task manager's.
// Global operator new is replaced in this program (tests/support/alloc_hook).
#include <gtest/gtest.h>

#include "effect_rig.h"
#include "../support/alloc_hook.h"

using namespace velmora;
using namespace velmora::test;

namespace {

// Allocations made by frames once warm (the lock pointers' free list too).
long CountFrames(EffectRig& rig, IDXSurface* surface, const GUID* request = nullptr) {
    WarmLocks(surface);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(rig.Run(nullptr, nullptr, request), S_OK);
    AllocationCount count;
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(rig.Run(nullptr, nullptr, request), S_OK);
    return count.value();
}

} // namespace

// The control: a surface of another format takes a scratch buffer per piece, on the workers too.
TEST(EffectAllocation, TheCounterSeesAllocationsOnEveryThread) {
    auto surface = MakeSurface(DXFMT_ARGB32, 256, 64);
    EffectRig rig(surface.Get(), 2);
    EXPECT_GE(CountFrames(rig, surface.Get()), 2 * 10);
}

TEST(EffectAllocation, InPlaceFramesAllocateNothing) {
    const GUID request = velmora::com::MakeGuid("{0F3E8D21-6A4B-4C59-8E7D-1B2C3D4E5F60}");
    for (ULONG processors : {1u, 2u, 4u}) {
        FrameRig rig(1920, 64, 1, processors);
        EXPECT_EQ(CountFrames(rig, rig.surface.Get()), 0) << processors << " processors";
        // A request id sends even one piece through the task manager.
        EXPECT_EQ(CountFrames(rig, rig.surface.Get(), &request), 0) << processors << ", request id";
        // The blend of the key records, taken once per frame.
        rig.fx->SetInterpolationFraction(0.25);
        rig.fx->SetAutomationMode(1);
        EXPECT_EQ(CountFrames(rig, rig.surface.Get()), 0) << processors << ", automation";
    }
}
