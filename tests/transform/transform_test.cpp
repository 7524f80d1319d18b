#include <algorithm>
#include <cmath>
#include <mutex>
#include <thread>

#include "platform/win32/testing.h"
#include "test_support.h"

using namespace velmora::test;
namespace bnds = velmora::dxbounds;

namespace {

// A transform that records what the base asks of it.
class Recorder : public CDXBaseNTo1 {
public:
    void Configure(ULONG maxInputs, ULONG required, DWORD options, DWORD extraMisc = 0) {
        m_ulMaxInputs = maxInputs;
        m_ulNumInRequired = required;
        m_dwOptionFlags = options;
        m_dwMiscFlags |= extraMisc;
    }
    HRESULT OnInitWork(WorkInfo&, ULONG& pieces) override {
        ++initWork;
        offered = pieces;
        if (forcePieces)
            pieces = forcePieces;
        return initResult;
    }
    HRESULT OnFreeWork(WorkInfo&) override {
        ++freeWork;
        return S_OK;
    }
    HRESULT OnSetupDone(DWORD) override {
        ++setupDone;
        return S_OK;
    }
    void OnObjectsReleased() override { ++released; }
    // Without inputs, the output surface's extent, as an in-place transform has it.
    HRESULT DetermineBnds(DXBNDS& b) override {
        if (m_ulNumInputs == 0 && OutputSurface())
            OutputSurface()->GetBounds(&b);
        return S_OK;
    }
    HRESULT WorkProc(const WorkInfo& w, BOOL* keepGoing) override {
        std::lock_guard lock(mutex);
        pieces.push_back(w);
        onCaller.push_back(std::this_thread::get_id() == caller);
        continueSeen.push_back(keepGoing && *keepGoing);
        return w.workBounds.u.D[DXB_Y].Min == falseAtRow ? S_FALSE : S_OK;
    }
    std::vector<std::pair<LONG, LONG>> Rows(bool output = false) const {
        std::vector<std::pair<LONG, LONG>> r;
        for (const auto& w : pieces) {
            const auto& b = output ? w.outputBounds : w.workBounds;
            r.emplace_back(b.u.D[DXB_Y].Min, b.u.D[DXB_Y].Max);
        }
        std::sort(r.begin(), r.end());
        return r;
    }
    DWORD Blt() const { return m_dwBltFlags; }
    ULONG Generation() const { return m_dwGenerationId; }

    int initWork = 0, freeWork = 0, setupDone = 0, released = 0;
    ULONG offered = 0, forcePieces = 0;
    HRESULT initResult = S_OK;
    LONG falseAtRow = -1;
    std::thread::id caller = std::this_thread::get_id();
    std::mutex mutex;
    std::vector<WorkInfo> pieces;
    std::vector<bool> onCaller, continueSeen;
};

using Transform = velmora::com::CComObject<Recorder>;

ComPtr<Transform> Make(ULONG maxInputs = 0, ULONG required = 0, DWORD options = 0,
                       DWORD extraMisc = DXTMF_INPLACE_OPERATION) {
    Transform* t = nullptr;
    EXPECT_EQ(Transform::CreateInstance(&t), S_OK);
    t->Configure(maxInputs, required, options, extraMisc);
    return ComPtr<Transform>(t);
}

HRESULT SetupOutput(Transform* t, IUnknown* output) {
    return t->Setup(nullptr, 0, &output, 1, 0);
}

} // namespace

TEST(TransformSetup, StatesAndCodes) {
    auto t = Make();
    EXPECT_EQ(t->Setup(nullptr, 0, nullptr, 0, 0), S_OK);
    EXPECT_EQ(t->released, 1) << "disconnecting works even without a site";

    auto surface = MakeSurface(DXFMT_PMARGB32, 8, 8);
    IUnknown* out = surface.Get();
    EXPECT_EQ(SetupOutput(t.Get(), out), DXTERR_UNINITIALIZED);
    ComPtr<IStream> notAFactory;
    CreateMemoryStream(&notAFactory);
    EXPECT_EQ(t->SetSite(notAFactory.Get()), S_OK);
    EXPECT_EQ(SetupOutput(t.Get(), out), DXTERR_UNINITIALIZED);

    auto site = MakeSite(1);
    EXPECT_EQ(t->SetSite(site.Get()), S_OK);
    ComPtr<IDXTransformFactory> back;
    EXPECT_EQ(t->GetSite(uuidof<IDXTransformFactory>(), reinterpret_cast<void**>(&back)), S_OK);
    EXPECT_EQ(back.Get(), site.Get());

    // With no inputs allowed, one input is refused and the transform ends up disconnected.
    EXPECT_EQ(SetupOutput(t.Get(), out), S_OK);
    EXPECT_EQ(t->setupDone, 1);
    IUnknown* in = surface.Get();
    EXPECT_EQ(t->Setup(&in, 1, &out, 1, 0), E_INVALIDARG);
    EXPECT_EQ(t->Execute(nullptr, nullptr, nullptr), DXTERR_UNINITIALIZED);
    EXPECT_EQ(SetupOutput(t.Get(), out), S_OK);
    EXPECT_EQ(t->Setup(nullptr, 0, &out, 1, 1), E_INVALIDARG) << "flags";
    EXPECT_EQ(t->Setup(nullptr, 0, &out, 2, 0), E_INVALIDARG) << "two outputs";
    EXPECT_EQ(t->Setup(nullptr, 0, nullptr, 1, 0), E_INVALIDARG) << "no output array";
    ComPtr<IStream> notASurface;
    CreateMemoryStream(&notASurface);
    IUnknown* bad = notASurface.Get();
    EXPECT_EQ(SetupOutput(t.Get(), bad), E_INVALIDARG);
    EXPECT_EQ(t->Execute(nullptr, nullptr, nullptr), DXTERR_UNINITIALIZED);

    // A required input may not be null; an optional one may.
    auto two = Make(2, 1);
    two->SetSite(site.Get());
    IUnknown* ins[2] = {nullptr, surface.Get()};
    EXPECT_EQ(two->Setup(ins, 2, &out, 1, 0), E_INVALIDARG);
    ins[0] = surface.Get();
    ins[1] = nullptr;
    EXPECT_EQ(two->Setup(ins, 2, &out, 1, 0), S_OK);

    EXPECT_EQ(t->SetSite(nullptr), S_OK);
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(t->GetSite(uuidof<IUnknown>(), &p), E_FAIL);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(SetupOutput(t.Get(), out), DXTERR_UNINITIALIZED);

    // Events that cannot be made leave a new transform unsited; a later site completes them.
    auto fresh = Make();
    velmora::win32::testing::FailNextEventCreations(2);
    EXPECT_EQ(fresh->SetSite(MakeSite(1).Get()), S_OK);
    velmora::win32::testing::FailNextEventCreations(0);
    EXPECT_EQ(SetupOutput(fresh.Get(), out), DXTERR_UNINITIALIZED);
    EXPECT_EQ(fresh->SetSite(MakeSite(1).Get()), S_OK);
    EXPECT_EQ(SetupOutput(fresh.Get(), out), S_OK);
}

// How the region is split into bands, by the processors the site's task manager reports.
TEST(TransformExecute, RegionAndBands) {
    struct Case {
        ULONG processors;
        LONG w, h;
        std::vector<std::pair<LONG, LONG>> rows;
    } cases[] = {
        {8, 1920, 1080, {{0, 270}, {270, 540}, {540, 810}, {810, 1080}}},
        {3, 4096, 10, {{0, 3}, {3, 6}, {6, 10}}},
        {2, 4095, 1, {{0, 1}}}, // under 4096 pixels: one piece
        {2, 4096, 1, {{0, 1}}}, // 4096 pixels allow two, but there is one row
        {2, 2048, 2, {{0, 1}, {1, 2}}},
        {4, 8192, 2, {{0, 1}, {1, 2}}}, // never more pieces than rows
        {0, 256, 256, {{0, 256}}},      // none reported counts as one
    };
    for (const auto& c : cases) {
        auto site = MakeSite(4);
        ComPtr<IDXTaskManager> real;
        ASSERT_EQ(DXCreateTaskManager(4, &real), S_OK);
        ComPtr<WrappedTaskManager> manager;
        manager.Attach(new WrappedTaskManager(real));
        manager->processors = c.processors;
        ASSERT_EQ(site->SetService(CLSID_DXTaskManager, manager.Get(), FALSE), S_OK);
        auto t = Make();
        t->SetSite(site.Get());
        auto surface = MakeSurface(DXFMT_PMARGB32, c.w, c.h);
        ASSERT_EQ(SetupOutput(t.Get(), surface.Get()), S_OK);
        EXPECT_EQ(t->Execute(nullptr, nullptr, nullptr), S_OK);
        EXPECT_EQ(t->Rows(), c.rows) << c.processors << " " << c.w << "x" << c.h;
        const bool single = c.rows.size() == 1;
        for (size_t i = 0; i < t->pieces.size(); ++i) {
            EXPECT_EQ(t->onCaller[i], single) << "one piece runs on the calling thread";
            EXPECT_EQ(t->pieces[i].transform == nullptr, single);
            EXPECT_TRUE(t->continueSeen[i]);
        }
        EXPECT_EQ(manager->scheduled, single ? 0 : 1);
        EXPECT_EQ(t->freeWork, 1);
    }
}

TEST(TransformExecute, ClipAndPlacement) {
    auto t = Make();
    t->SetSite(MakeSite(4).Get());
    auto surface = MakeSurface(DXFMT_PMARGB32, 1920, 1080);
    ASSERT_EQ(SetupOutput(t.Get(), surface.Get()), S_OK);

    // Rows 5..15 of the output, written from the surface's origin.
    DXBNDS clip = bnds::Discrete(0, 1920, 5, 15);
    EXPECT_EQ(t->Execute(nullptr, &clip, nullptr), S_OK);
    EXPECT_EQ(t->Rows(), (std::vector<std::pair<LONG, LONG>>{{5, 7}, {7, 9}, {9, 11}, {11, 15}}));
    EXPECT_EQ(t->Rows(true), (std::vector<std::pair<LONG, LONG>>{{0, 2}, {2, 4}, {4, 6}, {6, 10}}));

    // A placement of (100, 50): the transform's 0..540 x 0..430 lands at 100..640 x 50..480.
    auto small = Make();
    small->SetSite(MakeSite(1).Get());
    auto s640 = MakeSurface(DXFMT_PMARGB32, 640, 480);
    ASSERT_EQ(SetupOutput(small.Get(), s640.Get()), S_OK);
    DXVEC at = Placement(100, 50);
    EXPECT_EQ(small->Execute(nullptr, nullptr, &at), S_OK);
    ASSERT_EQ(small->pieces.size(), 1u);
    const WorkInfo& w = small->pieces[0];
    EXPECT_TRUE(bnds::Equal(w.workBounds, bnds::Discrete(0, 540, 0, 430)));
    EXPECT_TRUE(bnds::Equal(w.outputBounds, bnds::Discrete(100, 640, 50, 480)));

    // Nothing to do: no work is started at all.
    auto r = Make();
    r->SetSite(MakeSite(4).Get());
    ASSERT_EQ(SetupOutput(r.Get(), s640.Get()), S_OK);
    DXBNDS miss = bnds::Discrete(700, 800, 0, 10);
    EXPECT_EQ(r->Execute(nullptr, &miss, nullptr), S_FALSE);
    DXBNDS noTime = bnds::Discrete(0, 640, 0, 480, 0, 1, 0, 0);
    EXPECT_EQ(r->Execute(nullptr, &noTime, nullptr), S_FALSE) << "an empty t axis is empty";
    EXPECT_EQ(r->initWork + r->freeWork + static_cast<int>(r->pieces.size()), 0);
    DXBNDS continuous = bnds::Discrete(0, 10, 0, 10);
    continuous.eType = DXBT_CONTINUOUS;
    EXPECT_EQ(r->Execute(nullptr, &continuous, nullptr), E_INVALIDARG);
    at.eType = DXBT_CONTINUOUS;
    EXPECT_EQ(r->Execute(nullptr, nullptr, &at), E_INVALIDARG);
}

TEST(TransformExecute, RequestIdsResultsAndFailures) {
    auto t = Make();
    t->SetSite(MakeSite(4).Get());
    auto surface = MakeSurface(DXFMT_PMARGB32, 16, 16);
    ASSERT_EQ(SetupOutput(t.Get(), surface.Get()), S_OK);
    const GUID request = velmora::com::MakeGuid("{01234567-89AB-CDEF-0123-456789ABCDEF}");
    EXPECT_EQ(t->Execute(&request, nullptr, nullptr), S_OK);
    ASSERT_EQ(t->pieces.size(), 1u);
    EXPECT_FALSE(t->onCaller[0]) << "a request id always goes through the task manager";

    auto big = Make();
    big->SetSite(MakeSite(4).Get());
    auto s = MakeSurface(DXFMT_PMARGB32, 4096, 8);
    ASSERT_EQ(SetupOutput(big.Get(), s.Get()), S_OK);
    big->falseAtRow = 4;
    EXPECT_EQ(big->Execute(nullptr, nullptr, nullptr), S_FALSE);
    EXPECT_EQ(big->pieces.size(), 4u) << "every piece ran";

    big->initResult = E_ABORT;
    big->freeWork = 0;
    EXPECT_EQ(big->Execute(nullptr, nullptr, nullptr), E_ABORT);
    EXPECT_EQ(big->freeWork, 0);

    // OnInitWork may lower the count, but not raise it past the events there are.
    big->initResult = S_OK;
    big->falseAtRow = -1;
    big->pieces.clear();
    big->forcePieces = 9;
    EXPECT_EQ(big->Execute(nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(big->pieces.size(), 4u);
}

TEST(TransformGeneration, InPlaceOutputCounts) {
    auto t = Make();
    t->SetSite(MakeSite(1).Get());
    auto* fake = new FakeSurface(MakeSurface(DXFMT_PMARGB32, 4, 4));
    ComPtr<IDXSurface> out;
    out.Attach(fake);
    ASSERT_EQ(SetupOutput(t.Get(), out.Get()), S_OK);
    ULONG id = 0;
    EXPECT_EQ(t->GetGenerationId(&id), S_OK);
    EXPECT_EQ(id, 2u) << "the output reported 5 where it had 0";
    EXPECT_EQ(t->GetGenerationId(&id), S_OK);
    EXPECT_EQ(id, 2u);
    fake->generation = 6;
    EXPECT_EQ(t->GetGenerationId(&id), S_OK);
    EXPECT_EQ(id, 3u);
    EXPECT_EQ(t->GetGenerationId(nullptr), E_POINTER);

    // Without the in-place flag the output does not count.
    auto plain = Make(0, 0, 0, 0);
    plain->SetSite(MakeSite(1).Get());
    ASSERT_EQ(SetupOutput(plain.Get(), out.Get()), S_OK);
    fake->generation = 9;
    EXPECT_EQ(plain->GetGenerationId(&id), S_OK);
    EXPECT_EQ(id, 1u);

    // A refresh sets the transform up again with the same objects.
    EXPECT_EQ(t->IncrementGenerationId(TRUE), S_OK);
    EXPECT_EQ(t->setupDone, 2);
    EXPECT_EQ(t->IncrementGenerationId(FALSE), S_OK);
    EXPECT_EQ(t->Generation(), 5u);
    ULONG size = 0;
    EXPECT_EQ(t->GetObjectSize(&size), S_OK);
    EXPECT_GT(size, 0u);
}

TEST(TransformProperties, FlagsQualityProgressDuration) {
    auto t = Make();
    DWORD flags = 0;
    EXPECT_EQ(t->GetMiscFlags(&flags), S_OK);
    EXPECT_EQ(flags, 0x07030003u);
    const ULONG g0 = t->Generation();
    EXPECT_EQ(t->SetMiscFlags(0x4), E_INVALIDARG);
    EXPECT_EQ(t->SetMiscFlags(0x3), S_OK) << "already in force";
    EXPECT_EQ(t->Generation(), g0);
    EXPECT_EQ(t->SetMiscFlags(0x10001), S_OK) << "only the low word counts";
    t->GetMiscFlags(&flags);
    EXPECT_EQ(flags, 0x07030001u);
    EXPECT_EQ(t->Generation(), g0 + 1);
    EXPECT_EQ(t->GetMiscFlags(nullptr), E_POINTER);

    float q = 0;
    EXPECT_EQ(t->SetQuality(0.5f), E_NOTIMPL);
    EXPECT_EQ(t->GetQuality(&q), E_NOTIMPL);
    auto withQuality = Make(0, 0, 0, DXTMF_QUALITY_SUPPORTED);
    EXPECT_EQ(withQuality->SetQuality(1.5f), E_INVALIDARG);
    EXPECT_EQ(withQuality->SetQuality(std::nanf("")), E_INVALIDARG);
    EXPECT_EQ(withQuality->SetQuality(0.75f), S_OK);
    EXPECT_EQ(withQuality->GetQuality(&q), S_OK);
    EXPECT_EQ(q, 0.75f);

    const ULONG g1 = t->Generation();
    EXPECT_EQ(t->PutProgress(0.5f), S_OK);
    EXPECT_EQ(t->PutProgress(0.5f), S_OK);
    EXPECT_EQ(t->Generation(), g1 + 2) << "every put of the progress counts";
    EXPECT_EQ(t->PutProgress(-0.1f), E_INVALIDARG);
    EXPECT_EQ(t->GetProgress(&q), S_OK);
    EXPECT_EQ(q, 0.5f);
    EXPECT_EQ(t->PutDuration(1.0f), S_OK) << "unchanged";
    EXPECT_EQ(t->Generation(), g1 + 2);
    EXPECT_EQ(t->PutDuration(0.0f), E_INVALIDARG);
    EXPECT_EQ(t->PutDuration(2.0f), S_OK);
    EXPECT_EQ(t->Generation(), g1 + 3);
    EXPECT_EQ(t->GetStepResolution(&q), S_OK);
    EXPECT_EQ(q, 0.0f);
}

TEST(TransformInfo, SafetyInOutAndBounds) {
    auto t = Make();
    DWORD supported = 9, enabled = 9;
    IObjectSafety* safety = t.Get();
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(uuidof<IDXTransform>(), &supported, &enabled),
              S_OK);
    EXPECT_EQ(supported, 1u);
    EXPECT_EQ(enabled, 0u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(uuidof<IDXTransform>(), 2, 2), E_FAIL);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(uuidof<IDXTransform>(), 1, 1), S_OK);
    safety->GetInterfaceSafetyOptions(uuidof<IObjectWithSite>(), &supported, &enabled);
    EXPECT_EQ(enabled, 1u);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(uuidof<IStream>(), &supported, &enabled),
              E_NOINTERFACE);
    EXPECT_EQ(supported + enabled, 0u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(uuidof<IStream>(), 1, 1), E_NOINTERFACE);

    t->SetSite(MakeSite(1).Get());
    auto surface = MakeSurface(DXFMT_PMARGB32, 4, 4);
    ASSERT_EQ(SetupOutput(t.Get(), surface.Get()), S_OK);
    DWORD f = 7;
    EXPECT_EQ(t->GetInOutInfo(FALSE, 0, &f, nullptr, nullptr, nullptr), S_FALSE);
    GUID ids[2];
    ULONG count = 2;
    IUnknown* current = nullptr;
    EXPECT_EQ(t->GetInOutInfo(TRUE, 0, &f, ids, &count, &current), S_OK);
    EXPECT_EQ(f, 0u);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(ids[0], uuidof<IDXSurface>());
    EXPECT_EQ(ids[1], uuidof<IDirectDrawSurface>());
    EXPECT_EQ(current, surface.Get());
    current->Release();
    count = 1;
    EXPECT_EQ(t->GetInOutInfo(TRUE, 0, nullptr, ids, &count, nullptr), HRESULT_MORE_DATA);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(t->GetInOutInfo(TRUE, 0, nullptr, ids, nullptr, nullptr), E_INVALIDARG);

    // The union of input bounds includes 0 on every axis.
    auto one = Make(1, 1);
    DXBNDS in = bnds::Discrete(10, 20, 0, 5), out{};
    EXPECT_EQ(one->MapBoundsIn2Out(&in, 1, 0, &out), S_OK);
    EXPECT_TRUE(bnds::Equal(out, bnds::Discrete(0, 20, 0, 5)));
    EXPECT_EQ(one->MapBoundsIn2Out(&in, 1, 1, &out), E_INVALIDARG);
    EXPECT_EQ(one->MapBoundsIn2Out(&in, 1, 0, nullptr), E_POINTER);
    in.eType = DXBT_CONTINUOUS;
    EXPECT_EQ(one->MapBoundsIn2Out(&in, 1, 0, &out), E_INVALIDARG);
    EXPECT_EQ(t->MapBoundsOut2In(0, &out, 0, &in), E_INVALIDARG) << "no input slots";
    in.eType = DXBT_DISCRETE;
    EXPECT_EQ(one->MapBoundsOut2In(0, &out, 0, &in), S_OK);
    EXPECT_TRUE(bnds::Equal(in, out));
}

TEST(TransformInfo, EffectiveOutputFlags) {
    // No inputs: blending is in effect; dithering only if the output keeps an error margin.
    auto t = Make();
    t->SetSite(MakeSite(1).Get());
    auto surface = MakeSurface(DXFMT_PMARGB32, 4, 4);
    ASSERT_EQ(SetupOutput(t.Get(), surface.Get()), S_OK);
    EXPECT_EQ(t->Blt(), DXBOF_DO_BLEND);
    auto* fake = new FakeSurface(MakeSurface(DXFMT_PMARGB32, 4, 4));
    const DXSAMPLEFORMATENUM rgb565 = static_cast<DXSAMPLEFORMATENUM>(5 | DXPF_2BITERROR);
    fake->formatOverride = &rgb565;
    ComPtr<IDXSurface> coarse;
    coarse.Attach(fake);
    ASSERT_EQ(SetupOutput(t.Get(), coarse.Get()), S_OK);
    EXPECT_EQ(t->Blt(), DXBOF_DO_BLEND | DXBOF_DO_DITHER);
    EXPECT_EQ(t->SetMiscFlags(0), S_OK);
    EXPECT_EQ(t->Blt(), 0u);
}

TEST(TransformInfo, SameSizeInputsAreWrapped) {
    auto t = Make(2, 2, DXBOF_SAME_SIZE_INPUTS | DXBOF_CENTER_INPUTS);
    t->SetSite(MakeSite(1).Get());
    auto a = MakeSurface(DXFMT_PMARGB32, 8, 8), b = MakeSurface(DXFMT_PMARGB32, 4, 2);
    auto out = MakeSurface(DXFMT_PMARGB32, 8, 8);
    IUnknown* ins[2] = {a.Get(), b.Get()};
    IUnknown* o = out.Get();
    ASSERT_EQ(t->Setup(ins, 2, &o, 1, 0), S_OK);
    DXBNDS mapped{};
    EXPECT_EQ(t->MapBoundsIn2Out(nullptr, 0, 0, &mapped), S_OK);
    EXPECT_TRUE(bnds::Equal(mapped, bnds::Discrete(0, 8, 0, 8)));
    IUnknown* current = nullptr;
    EXPECT_EQ(t->GetInOutInfo(FALSE, 1, nullptr, nullptr, nullptr, &current), S_OK);
    EXPECT_EQ(current, b.Get()) << "the object as it was passed in";
    current->Release();
}
