// Once warm, a frame's paths allocate nothing: scheduling its pieces on the task manager and
// locking the surface band by band. Global operator new is replaced (tests/support/alloc_hook)
// to count allocations from all threads.
#include <gtest/gtest.h>

#include "../support/alloc_hook.h"
#include "helpers.h"

using namespace dxtest;

namespace {

struct Band {
    IDXSurface* surface;
    LONG y0, y1;
    HRESULT hr;
};

void BandTask(void* data, BOOL*) {
    auto* b = static_cast<Band*>(data);
    DXBNDS bounds = Discrete({0, b->y0, 64, b->y1});
    IDXARGBReadWritePtr* p = nullptr;
    b->hr = b->surface->LockSurface(&bounds, 0, DXLOCKF_READWRITE, IID_PPV_ARGS(&p), nullptr);
    if (FAILED(b->hr))
        return;
    DXNATIVETYPEINFO info{};
    p->GetNativeType(&info);
    for (LONG y = 0; y < b->y1 - b->y0; ++y)
        info.pFirstByte[y * info.lPitch] ^= 1;
    p->Release();
}

} // namespace

TEST(SteadyState, FramesAllocateNothing) {
    {
        velmora::test::AllocationCount count;
        int* volatile p = new int(1); // the counter counts (volatile: not elided)
        delete p;
        EXPECT_EQ(count.value(), 1);
    }
    ComPtr<IDXSurface> s = NewSurface(DXPF_PMARGB32, 64, 64);
    ComPtr<IDXTaskManager> tm;
    ASSERT_EQ(DXCreateTaskManager(4, &tm), S_OK);
    HANDLE events[4];
    Band bands[4];
    DXTMTASKINFO info[4];
    DWORD ids[4];
    for (LONG i = 0; i < 4; ++i) {
        events[i] = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        bands[i] = {s.Get(), i * 16, (i + 1) * 16, E_FAIL};
        info[i] = {&BandTask, &bands[i], nullptr, 0, nullptr};
    }
    velmora::test::WarmLocks(s.Get());
    auto frame = [&] {
        ASSERT_EQ(tm->ScheduleTasks(info, events, ids, 4, INFINITE), S_OK);
        for (const Band& b : bands)
            ASSERT_EQ(b.hr, S_OK);
        BandTask(&bands[0], nullptr); // a one-piece frame runs on the calling thread
    };
    for (int i = 0; i < 10; ++i)
        frame();
    velmora::test::AllocationCount count;
    for (int i = 0; i < 200; ++i)
        frame();
    EXPECT_EQ(count.value(), 0);
    for (HANDLE e : events)
        CloseHandle(e);
}
