// Execute under platform faults: the task manager's ScheduleTasks failing (before running
// anything, after running some of the pieces, after running all), and the surface lock of one
// piece failing, on a premultiplied surface (in place) and on one of another format (unpack and
// pack). Each time Execute answers the failure; every band is either as it was or wholly the
// rule's result (a partial result is not undone), never anything else; the record
// is unchanged; and the next Execute gives exactly the rule's bytes.
#include <thread>

#include "../soak.h"
#include "../transform/test_support.h"
#include "effect/velmora.h"
#include "frames.h"
#include "platform/win32/event.h"

using namespace velmora;
using namespace velmora::test;

namespace {

using Effect = com::CComPolyObject<CVelmora>;

// A task manager that passes everything to a real one, except that ScheduleTasks can fail: at
// once, or after running the first `runFirst` tasks itself (each to its end, its event set).
class FaultyTaskManager final : public com::SimpleObject<FaultyTaskManager, IDXTaskManager> {
public:
    explicit FaultyTaskManager(ComPtr<IDXTaskManager> real) : real_(std::move(real)) {}
    STDMETHOD(QueryNumProcessors)(ULONG* n) override { return real_->QueryNumProcessors(n); }
    STDMETHOD(SetThreadPoolSize)(ULONG n) override { return real_->SetThreadPoolSize(n); }
    STDMETHOD(GetThreadPoolSize)(ULONG* n) override { return real_->GetThreadPoolSize(n); }
    STDMETHOD(SetConcurrencyLimit)(ULONG n) override { return real_->SetConcurrencyLimit(n); }
    STDMETHOD(GetConcurrencyLimit)(ULONG* n) override { return real_->GetConcurrencyLimit(n); }
    STDMETHOD(ScheduleTasks)
    (DXTMTASKINFO t[], HANDLE e[], DWORD ids[], ULONG n, ULONG wait) override {
        ++scheduled;
        lastCount = n;
        if (SUCCEEDED(failWith))
            return real_->ScheduleTasks(t, e, ids, n, wait);
        for (ULONG i = 0; i < std::min(runFirst, n); ++i) {
            BOOL keepGoing = TRUE;
            t[i].pfnTaskProc(t[i].pTaskData, &keepGoing);
            if (e && e[i])
                SetEvent(e[i]);
        }
        ++injected;
        return failWith;
    }
    STDMETHOD(TerminateTasks)(DWORD ids[], ULONG n, ULONG timeout) override {
        return real_->TerminateTasks(ids, n, timeout);
    }
    STDMETHOD(TerminateRequest)(REFIID id, ULONG timeout) override {
        return real_->TerminateRequest(id, timeout);
    }

    HRESULT failWith = S_OK;
    ULONG runFirst = 0;
    int scheduled = 0, injected = 0;
    ULONG lastCount = 0;

private:
    ComPtr<IDXTaskManager> real_;
};

constexpr LONG kWidth = 256, kHeight = 64; // 16384 pixels: four pieces on four processors
constexpr FilterProps kMatte{255, 30, 200, 90};

// The effect over a premultiplied surface on memory the test owns.
struct InPlaceRig {
    std::vector<BYTE> original = KeyedFrame(static_cast<size_t>(kWidth) * kHeight, 3);
    std::vector<BYTE> done = Unmatted(original, kMatte);
    std::vector<BYTE> memory = original;
    ComPtr<IDXSurface> real;
    FakeSurface* fake = nullptr;
    ComPtr<IDXSurface> surface;
    ComPtr<IUnknown> effect;
    ComPtr<IDXTransform> transform;
    ComPtr<IDXTransformFactory> site;

    explicit InPlaceRig(ULONG processors, IDXTaskManager* manager = nullptr) {
        EXPECT_EQ(DXCreateSurfaceOnMemory(DXPF_PMARGB32, memory.data(), kWidth * 4, kWidth, kHeight,
                                          &real),
                  S_OK);
        fake = new FakeSurface(real);
        surface.Attach(fake);
        EXPECT_EQ(
            Effect::CreateInstance(nullptr, uuidof<IUnknown>(), reinterpret_cast<void**>(&effect)),
            S_OK);
        Query<ISfExchangeProps<FilterProps>>(effect.Get())->SetProps(&kMatte);
        site = MakeSite(processors);
        if (manager) {
            EXPECT_EQ(site->SetService(CLSID_DXTaskManager, manager, FALSE), S_OK);
        }
        EXPECT_EQ(Query<IObjectWithSite>(effect.Get())->SetSite(site.Get()), S_OK);
        transform = Query<IDXTransform>(effect.Get());
        IUnknown* out = surface.Get();
        EXPECT_EQ(transform->Setup(nullptr, 0, &out, 1, 0), S_OK);
    }
    HRESULT Run() {
        std::copy(original.begin(), original.end(), memory.begin()); // the surface's own memory
        return transform->Execute(nullptr, nullptr, nullptr);
    }
    std::string States(ULONG pieces) const {
        return BandStates(memory, original, done, kWidth * 4, Bands(kHeight, pieces));
    }
    FilterProps Props() {
        FilterProps p{};
        Query<ISfExchangeProps<FilterProps>>(effect.Get())->GetProps(&p);
        return p;
    }
};

// The surface's samples as B, G, R, A bytes.
std::vector<BYTE> Samples(IDXSurface* s) {
    return test::Samples<BYTE>(s, kWidth, kHeight);
}

void Fill(IDXSurface* s, std::vector<BYTE> v) {
    test::Fill(s, kWidth, kHeight, std::move(v));
}

} // namespace

TEST(ScheduleTasksFaults, FailureIsReportedAndTheNextExecuteWorks) {
    Stopwatch watch;
    ComPtr<IDXTaskManager> real;
    ASSERT_EQ(DXCreateTaskManager(4, &real), S_OK);
    auto* manager = new FaultyTaskManager(real);
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
                EXPECT_EQ(rig.Props(), kMatte);

                manager->failWith = S_OK;
                EXPECT_EQ(rig.Run(), S_OK);
                ++frames;
                EXPECT_EQ(rig.memory, rig.done) << "the next Execute after a failure";
            }
    Figure("faults injected", manager->injected);
    Figure("frames checked", static_cast<double>(frames));
    watch.Report();
    rig.transform->Setup(nullptr, 0, nullptr, 0, 0);
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
        EXPECT_EQ(rig.Props(), kMatte);
    }
    Figure("faults injected", static_cast<double>(injected));
    Figure("frames checked", static_cast<double>(frames));
    watch.Report();
}

// The same on a surface that is not premultiplied ARGB32: the piece unpacks into a buffer of its
// own and packs back; a failed lock leaves its band as it was.
TEST(SurfaceLockFaults, UnpackPathFailsWhole) {
    long injected = 0;
    for (const GUID* format : {&DXFMT_ARGB32}) {
        auto inner = MakeSurface(*format, kWidth, kHeight);
        auto* fake = new FakeSurface(inner);
        ComPtr<IDXSurface> surface;
        surface.Attach(fake);
        const auto input = KeyedFrame(static_cast<size_t>(kWidth) * kHeight, 17);
        Fill(surface.Get(), input);
        const auto original = Samples(surface.Get());

        ComPtr<IUnknown> effect;
        ASSERT_EQ(
            Effect::CreateInstance(nullptr, uuidof<IUnknown>(), reinterpret_cast<void**>(&effect)),
            S_OK);
        Query<ISfExchangeProps<FilterProps>>(effect.Get())->SetProps(&kMatte);
        Query<IObjectWithSite>(effect.Get())->SetSite(MakeSite(4).Get());
        auto transform = Query<IDXTransform>(effect.Get());
        IUnknown* out = surface.Get();
        ASSERT_EQ(transform->Setup(nullptr, 0, &out, 1, 0), S_OK);
        ASSERT_EQ(transform->Execute(nullptr, nullptr, nullptr), S_OK);
        const auto done = Samples(surface.Get());
        ASSERT_NE(done, original);

        for (int k = 0; k < 4; ++k) {
            Fill(surface.Get(), original);
            fake->lockResult = E_ACCESSDENIED;
            fake->failLockAt = fake->locks + k;
            EXPECT_EQ(transform->Execute(nullptr, nullptr, nullptr), E_ACCESSDENIED);
            ++injected;
            const std::string states =
                BandStates(Samples(surface.Get()), original, done, kWidth * 4, Bands(kHeight, 4));
            EXPECT_EQ(states.size(), 4u);
            EXPECT_EQ(std::count(states.begin(), states.end(), 'o'), 1) << states;
            EXPECT_EQ(std::count(states.begin(), states.end(), 'x'), 3) << states;
            fake->lockResult = S_OK;
            fake->failLockAt = -1;
            Fill(surface.Get(), original);
            EXPECT_EQ(transform->Execute(nullptr, nullptr, nullptr), S_OK);
            EXPECT_EQ(Samples(surface.Get()), done);
        }
        transform->Setup(nullptr, 0, nullptr, 0, 0);
    }
    Figure("faults injected", static_cast<double>(injected));
}
