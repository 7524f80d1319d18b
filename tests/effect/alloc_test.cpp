// A frame on a premultiplied surface is rewritten in place without a heap allocation, on the
// calling thread and on the task manager's. Global operator new is replaced in this program
// (tests/support/alloc_hook) to count allocations from every thread.
#include <gtest/gtest.h>

#include "../support/alloc_hook.h"
#include "../transform/test_support.h"
#include "effect/velmora.h"

using namespace velmora;
using namespace velmora::test;

namespace {

using Effect = velmora::com::CComPolyObject<CVelmora>;

// The effect set up on one surface as a host drives it.
struct Rig {
    ComPtr<IUnknown> effect;
    ComPtr<IDXTransform> transform;
    IDXSurface* surface;

    Rig(IDXSurface* output, ULONG processors) : surface(output) {
        EXPECT_EQ(
            Effect::CreateInstance(nullptr, uuidof<IUnknown>(), reinterpret_cast<void**>(&effect)),
            S_OK);
        effect->QueryInterface(uuidof<IDXTransform>(), reinterpret_cast<void**>(&transform));
        ComPtr<IObjectWithSite> site;
        effect->QueryInterface(uuidof<IObjectWithSite>(), reinterpret_cast<void**>(&site));
        EXPECT_EQ(site->SetSite(MakeSite(processors).Get()), S_OK);
        IUnknown* unknown = output;
        EXPECT_EQ(transform->Setup(nullptr, 0, &unknown, 1, 0), S_OK);
    }

    // Allocations made by frames once warm. The platform keeps released lock pointers and task
    // records for reuse; holding four band locks at once, as many as a frame takes, fills its
    // free list up to what any frame needs, whatever the thread timing of the first frames.
    long CountFrames(int frames, const GUID* request = nullptr) {
        DXBNDS whole{};
        surface->GetBounds(&whole);
        const LONG height = whole.u.D[DXB_Y].Max;
        ComPtr<IDXARGBReadWritePtr> held[4];
        for (LONG i = 0; i < 4; ++i) {
            DXBNDS band = whole;
            band.u.D[DXB_Y].Min = height * i / 4;
            band.u.D[DXB_Y].Max = height * (i + 1) / 4;
            EXPECT_EQ(surface->LockSurface(&band, 0, DXLOCKF_READWRITE,
                                           uuidof<IDXARGBReadWritePtr>(),
                                           reinterpret_cast<void**>(&held[i]), nullptr),
                      S_OK);
        }
        for (auto& p : held)
            p.Reset();
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(transform->Execute(request, nullptr, nullptr), S_OK);
        AllocationCount count;
        for (int i = 0; i < frames; ++i)
            EXPECT_EQ(transform->Execute(request, nullptr, nullptr), S_OK);
        return count.value();
    }
};

// A keyed frame: opaque, clear and partial pixels.
std::vector<BYTE> Frame(LONG w, LONG h) {
    std::vector<BYTE> v(static_cast<std::size_t>(w) * h * 4);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = i % 4 == 3 ? static_cast<BYTE>(i / 4 % 7 == 0   ? 0
                                              : i / 4 % 7 == 1 ? 128
                                                               : 255)
                          : static_cast<BYTE>(i % 97);
    return v;
}

} // namespace

TEST(EffectAllocation, TheCounterSeesAllocationsOnEveryThread) {
    {
        AllocationCount count;
        int* volatile p = new int(1); // volatile: not elided
        delete p;
        EXPECT_EQ(count.value(), 1);
    }

    // A surface of another format goes through a scratch copy per piece, on the workers too.
    constexpr LONG w = 256, h = 64;
    auto surface = MakeSurface(DXFMT_ARGB32, w, h);
    Rig rig(surface.Get(), 2);
    EXPECT_GE(rig.CountFrames(4), 2 * 4);
}

TEST(EffectAllocation, InPlaceFramesAllocateNothing) {
    constexpr LONG w = 1920, h = 64; // four bands where four processors are reported
    for (ULONG processors : {1u, 2u, 4u}) {
        auto memory = Frame(w, h);
        ComPtr<IDXSurface> surface;
        ASSERT_EQ(DXCreateSurfaceOnMemory(DXPF_PMARGB32, memory.data(), w * 4, w, h, &surface),
                  S_OK);
        Rig rig(surface.Get(), processors);
        EXPECT_EQ(rig.CountFrames(20), 0) << processors << " processors";

        // A request id sends even one piece through the task manager.
        const GUID request = velmora::com::MakeGuid("{0F3E8D21-6A4B-4C59-8E7D-1B2C3D4E5F60}");
        EXPECT_EQ(rig.CountFrames(20, &request), 0) << processors << " processors, request id";

        // The blend of the key records, taken once per frame, allocates nothing either.
        ComPtr<IDXTSfAutomation> automation;
        rig.effect->QueryInterface(uuidof<IDXTSfAutomation>(),
                                   reinterpret_cast<void**>(&automation));
        automation->SetInterpolationFraction(0.25);
        automation->SetAutomationMode(1);
        EXPECT_EQ(rig.CountFrames(20), 0) << processors << " processors, automation";
    }
}
