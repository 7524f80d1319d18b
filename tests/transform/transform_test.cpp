#include <algorithm>
#include <cmath>
#include <mutex>
#include <thread>

#ifndef _WIN32
#include "platform/win32/testing.h"
#endif
#include "test_support.h"

using namespace velmora::test;
namespace bnds = velmora::dxbounds;
using Rows = std::vector<std::pair<LONG, LONG>>;

namespace {

// A transform that records what the base asks of it.
class Recorder : public CDXBaseNTo1 {
public:
    HRESULT OnInitWork(WorkInfo&, ULONG& n) override {
        ++initWork;
        if (forcePieces)
            n = forcePieces;
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
        EXPECT_TRUE(keepGoing && *keepGoing);
        return w.workBounds.u.D[DXB_Y].Min == falseAtRow ? S_FALSE : S_OK;
    }
    Rows Of(bool output = false) const {
        Rows r;
        for (const auto& w : pieces) {
            const auto& b = output ? w.outputBounds : w.workBounds;
            r.emplace_back(b.u.D[DXB_Y].Min, b.u.D[DXB_Y].Max);
        }
        std::sort(r.begin(), r.end());
        return r;
    }
    void Configure(ULONG maxInputs, ULONG required, DWORD options, DWORD misc) {
        m_ulMaxInputs = maxInputs, m_ulNumInRequired = required, m_dwOptionFlags = options;
        m_dwMiscFlags |= misc;
    }
    DWORD Blt() const { return m_dwBltFlags; }
    void Undivided() { m_ulMaxImageBands = 0; }
    DXBNDS InputBounds(ULONG i) const {
        DXBNDS b{};
        m_aInputs[i].surface->GetBounds(&b);
        return b;
    }
    IDXSurface* InputSurface(ULONG i) const { return m_aInputs[i].surface.Get(); }
    ULONG Generation() const { return m_dwGenerationId; }

    int initWork = 0, freeWork = 0, setupDone = 0, released = 0;
    ULONG forcePieces = 0;
    HRESULT initResult = S_OK;
    LONG falseAtRow = -1;
    std::thread::id caller = std::this_thread::get_id();
    std::mutex mutex;
    std::vector<WorkInfo> pieces;
    std::vector<bool> onCaller;
};

using Transform = velmora::com::CComObject<Recorder>;

// A transform sited on a factory of that many processors (none: unsited), set up on output.
ComPtr<Transform> Make(ULONG processors = 0, IUnknown* output = nullptr, ULONG maxInputs = 0,
                       ULONG required = 0, DWORD options = 0,
                       DWORD misc = DXTMF_INPLACE_OPERATION) {
    Transform* t = nullptr;
    EXPECT_EQ(Transform::CreateInstance(&t), S_OK);
    t->Configure(maxInputs, required, options, misc);
    if (processors) {
        EXPECT_EQ(t->SetSite(MakeSite(processors).Get()), S_OK);
    }
    if (output) {
        EXPECT_EQ(t->Setup(nullptr, 0, &output, 1, 0), S_OK);
    }
    return ComPtr<Transform>(t);
}

} // namespace

TEST(TransformSetup, StatesAndCodes) {
    auto t = Make();
    EXPECT_EQ(t->Setup(nullptr, 0, nullptr, 0, 0), S_OK);
    EXPECT_EQ(t->released, 1) << "disconnecting works even without a site";
    auto surface = MakeSurface(DXFMT_PMARGB32, 8, 8);
    IUnknown* out = surface.Get();
    EXPECT_EQ(t->Setup(nullptr, 0, &out, 1, 0), DXTERR_UNINITIALIZED);
    ComPtr<IStream> stream;
    CreateMemoryStream(&stream);
    EXPECT_EQ(t->SetSite(stream.Get()), S_OK) << "a site that is no factory";
    EXPECT_EQ(t->Setup(nullptr, 0, &out, 1, 0), DXTERR_UNINITIALIZED);

    auto site = MakeSite(1);
    EXPECT_EQ(t->SetSite(site.Get()), S_OK);
    EXPECT_EQ(t->Setup(nullptr, 0, &out, 1, 0), S_OK);
    EXPECT_EQ(t->setupDone, 1);
    // A refused set-up leaves the transform disconnected.
    IUnknown* in = surface.Get();
    IUnknown* notASurface = stream.Get();
    EXPECT_EQ(t->Setup(&in, 1, &out, 1, 0), E_INVALIDARG) << "no inputs allowed";
    EXPECT_EQ(t->Execute(nullptr, nullptr, nullptr), DXTERR_UNINITIALIZED);
    EXPECT_EQ(t->Setup(nullptr, 0, &out, 1, 1), E_INVALIDARG) << "flags";
    EXPECT_EQ(t->Setup(nullptr, 0, &out, 2, 0), E_INVALIDARG) << "two outputs";
    EXPECT_EQ(t->Setup(nullptr, 0, nullptr, 1, 0), E_INVALIDARG) << "no output array";
    EXPECT_EQ(t->Setup(nullptr, 0, &notASurface, 1, 0), E_INVALIDARG);

    // A required input may not be null; an optional one may.
    auto two = Make(1, nullptr, 2, 1);
    IUnknown* ins[2] = {nullptr, surface.Get()};
    EXPECT_EQ(two->Setup(ins, 2, &out, 1, 0), E_INVALIDARG);
    std::swap(ins[0], ins[1]);
    EXPECT_EQ(two->Setup(ins, 2, &out, 1, 0), S_OK);

#ifndef _WIN32 // the stand-in's events can be made to fail
    // Events that cannot be made leave a new transform unsited; a later site completes them.
    auto fresh = Make();
    velmora::win32::testing::FailNextEventCreations(2);
    EXPECT_EQ(fresh->SetSite(MakeSite(1).Get()), S_OK);
    velmora::win32::testing::FailNextEventCreations(0);
    EXPECT_EQ(fresh->Setup(nullptr, 0, &out, 1, 0), DXTERR_UNINITIALIZED);
    EXPECT_EQ(fresh->SetSite(MakeSite(1).Get()), S_OK);
    EXPECT_EQ(fresh->Setup(nullptr, 0, &out, 1, 0), S_OK);
#endif
}

// Bands by the processors the site's task manager reports: at most one per 4096 pixels, never
// more than rows, none reported counting as one.
TEST(TransformExecute, Bands) {
    struct Case {
        ULONG processors;
        LONG w, h;
        Rows rows;
    } cases[] = {
        {1, 1920, 1080, {{0, 1080}}},
        {8, 1920, 1080, {{0, 270}, {270, 540}, {540, 810}, {810, 1080}}},
        {3, 4096, 10, {{0, 3}, {3, 6}, {6, 10}}},
        {2, 4095, 1, {{0, 1}}},
        {2, 2048, 2, {{0, 1}, {1, 2}}},
        {4, 8192, 2, {{0, 1}, {1, 2}}},
        {0, 256, 256, {{0, 256}}},
    };
    for (const auto& c : cases) {
        auto site = MakeSite(4);
        ComPtr<WrappedTaskManager> manager;
        manager.Attach(new WrappedTaskManager);
        manager->processors = c.processors;
        ASSERT_EQ(site->SetService(CLSID_DXTaskManager, manager.Get(), FALSE), S_OK);
        auto t = Make();
        t->SetSite(site.Get());
        auto surface = MakeSurface(DXFMT_PMARGB32, c.w, c.h);
        IUnknown* out = surface.Get();
        ASSERT_EQ(t->Setup(nullptr, 0, &out, 1, 0), S_OK);
        EXPECT_EQ(t->Execute(nullptr, nullptr, nullptr), S_OK);
        EXPECT_EQ(t->Of(), c.rows) << c.processors << " " << c.w << "x" << c.h;
        const bool single = c.rows.size() == 1;
        for (size_t i = 0; i < t->pieces.size(); ++i) {
            EXPECT_EQ(t->onCaller[i], single) << "one piece runs on the calling thread";
            EXPECT_EQ(t->pieces[i].transform == nullptr, single);
        }
        EXPECT_EQ(manager->scheduled, single ? 0 : 1);
        EXPECT_EQ(t->freeWork, 1);
    }
}

TEST(TransformExecute, ClipAndPlacement) {
    auto s1080 = MakeSurface(DXFMT_PMARGB32, 1920, 1080);
    auto t = Make(4, s1080.Get());
    DXBNDS clip = bnds::Discrete(0, 1920, 5, 15);
    EXPECT_EQ(t->Execute(nullptr, &clip, nullptr), S_OK);
    EXPECT_EQ(t->Of(), (Rows{{5, 7}, {7, 9}, {9, 11}, {11, 15}}));
    EXPECT_EQ(t->Of(true), (Rows{{0, 2}, {2, 4}, {4, 6}, {6, 10}}));

    // Placed at (100, 50): the transform's 0..540 x 0..430 lands at 100..640 x 50..480.
    auto s640 = MakeSurface(DXFMT_PMARGB32, 640, 480);
    auto small = Make(1, s640.Get());
    DXVEC at = Placement(100, 50);
    EXPECT_EQ(small->Execute(nullptr, nullptr, &at), S_OK);
    ASSERT_EQ(small->pieces.size(), 1u);
    EXPECT_TRUE(bnds::Equal(small->pieces[0].workBounds, bnds::Discrete(0, 540, 0, 430)));
    EXPECT_TRUE(bnds::Equal(small->pieces[0].outputBounds, bnds::Discrete(100, 640, 50, 480)));

    // Nothing to do: no work is started at all.
    auto r = Make(4, s640.Get());
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
    auto s16 = MakeSurface(DXFMT_PMARGB32, 16, 16);
    auto t = Make(4, s16.Get());
    const GUID request = velmora::com::MakeGuid("{01234567-89AB-CDEF-0123-456789ABCDEF}");
    EXPECT_EQ(t->Execute(&request, nullptr, nullptr), S_OK);
    ASSERT_EQ(t->pieces.size(), 1u);
    EXPECT_FALSE(t->onCaller[0]) << "a request id always goes through the task manager";

    auto s = MakeSurface(DXFMT_PMARGB32, 4096, 8);
    auto big = Make(4, s.Get());
    big->falseAtRow = 4;
    EXPECT_EQ(big->Execute(nullptr, nullptr, nullptr), S_FALSE);
    EXPECT_EQ(big->pieces.size(), 4u) << "every piece ran";
    big->initResult = E_ABORT;
    big->freeWork = 0;
    EXPECT_EQ(big->Execute(nullptr, nullptr, nullptr), E_ABORT);
    EXPECT_EQ(big->freeWork, 0);
    // OnInitWork may lower the count, but not raise it past the events there are.
    big->initResult = S_OK;
    big->pieces.clear();
    big->forcePieces = 9;
    EXPECT_EQ(big->Execute(nullptr, nullptr, nullptr), S_FALSE);
    EXPECT_EQ(big->pieces.size(), 4u);
    // Unsited, the pieces OnInitWork asks for run one after another on the caller.
    big->pieces.clear();
    big->onCaller.clear();
    ASSERT_EQ(big->SetSite(nullptr), S_OK);
    EXPECT_EQ(big->Execute(&request, nullptr, nullptr), S_FALSE);
    EXPECT_EQ(big->onCaller, std::vector<bool>(4, true));
}

TEST(TransformGeneration, InPlaceOutputCounts) {
    auto* fake = new FakeSurface(MakeSurface(DXFMT_PMARGB32, 4, 4));
    ComPtr<IDXSurface> out;
    out.Attach(fake);
    auto t = Make(1, out.Get());
    ULONG a = 0, b = 0, c = 0;
    t->GetGenerationId(&a); // the output reported 5 where it had 0
    t->GetGenerationId(&b);
    fake->generation = 6;
    t->GetGenerationId(&c);
    EXPECT_EQ((std::vector<ULONG>{a, b, c}), (std::vector<ULONG>{2, 2, 3}));
    EXPECT_EQ(t->GetGenerationId(nullptr), E_POINTER);

    auto plain = Make(1, out.Get(), 0, 0, 0, 0);
    fake->generation = 9;
    EXPECT_EQ(plain->GetGenerationId(&a), S_OK);
    EXPECT_EQ(a, 1u) << "without the in-place flag the output does not count";

    EXPECT_EQ(t->IncrementGenerationId(TRUE), S_OK);
    EXPECT_EQ(t->setupDone, 2) << "a refresh sets the transform up again";
}

TEST(TransformProperties, FlagsQualityProgressDuration) {
    auto t = Make();
    DWORD flags = 0;
    const ULONG g0 = t->Generation();
    EXPECT_EQ(t->SetMiscFlags(0x4), E_INVALIDARG);
    EXPECT_EQ(t->SetMiscFlags(0x3), S_OK);
    EXPECT_EQ(t->Generation(), g0) << "already in force";
    EXPECT_EQ(t->SetMiscFlags(0x10001), S_OK) << "only the low word counts";
    t->GetMiscFlags(&flags);
    EXPECT_EQ(flags, 0x07030001u);
    EXPECT_EQ(t->Generation(), g0 + 1);

    float q = 0;
    EXPECT_EQ(t->SetQuality(0.5f), E_NOTIMPL);
    auto withQuality = Make(0, nullptr, 0, 0, 0, DXTMF_QUALITY_SUPPORTED);
    EXPECT_EQ(withQuality->SetQuality(1.5f), E_INVALIDARG);
    EXPECT_EQ(withQuality->SetQuality(std::nanf("")), E_INVALIDARG);
    const ULONG gq = withQuality->Generation();
    EXPECT_EQ(withQuality->SetQuality(0.75f), S_OK);
    EXPECT_EQ(withQuality->SetQuality(0.75f), S_OK);
    EXPECT_EQ(withQuality->GetQuality(&q), S_OK);
    EXPECT_EQ(q, 0.75f);
    EXPECT_EQ(withQuality->Generation(), gq + 1) << "only a change counts";
    EXPECT_EQ(t->GetQuality(&q), E_NOTIMPL);

    const ULONG g1 = t->Generation();
    EXPECT_EQ(t->PutProgress(0.5f), S_OK);
    EXPECT_EQ(t->PutProgress(0.5f), S_OK);
    EXPECT_EQ(t->Generation(), g1 + 2) << "every put of the progress counts";
    EXPECT_EQ(t->PutProgress(-0.1f), E_INVALIDARG);
    EXPECT_EQ(t->GetProgress(&q), S_OK);
    EXPECT_EQ(q, 0.5f);
    EXPECT_EQ(t->PutDuration(1.0f), S_OK);
    EXPECT_EQ(t->Generation(), g1 + 2) << "an unchanged duration does not count";
    EXPECT_EQ(t->PutDuration(0.0f), E_INVALIDARG);
}

TEST(TransformInfo, SafetyInOutBoundsAndOutputFlags) {
    auto t = Make();
    DWORD supported = 9, enabled = 9;
    IObjectSafety* safety = t.Get();
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(uuidof<IDXTransform>(), 2, 2), E_FAIL);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(uuidof<IDXTransform>(), 1, 1), S_OK);
    safety->GetInterfaceSafetyOptions(uuidof<IObjectWithSite>(), &supported, &enabled);
    EXPECT_EQ(enabled, 1u) << "one setting for every interface";
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(uuidof<IStream>(), &supported, &enabled),
              E_NOINTERFACE);
    EXPECT_EQ(supported + enabled, 0u);

    auto surface = MakeSurface(DXFMT_PMARGB32, 4, 4);
    t = Make(1, surface.Get());
    EXPECT_EQ(t->GetInOutInfo(FALSE, 0, nullptr, nullptr, nullptr, nullptr), S_FALSE);
    GUID ids[2];
    ULONG count = 1;
    IUnknown* current = nullptr;
    EXPECT_EQ(t->GetInOutInfo(TRUE, 0, nullptr, ids, &count, nullptr), HRESULT_MORE_DATA);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(t->GetInOutInfo(TRUE, 0, nullptr, ids, &count, &current), S_OK);
    EXPECT_EQ(ids[1], uuidof<IDirectDrawSurface>());
    EXPECT_EQ(current, surface.Get());
    current->Release();

    // The union of input bounds includes 0 on every axis.
    auto one = Make(0, nullptr, 1, 1);
    DXBNDS in = bnds::Discrete(10, 20, 0, 5), out{};
    EXPECT_EQ(one->MapBoundsIn2Out(&in, 1, 0, &out), S_OK);
    EXPECT_TRUE(bnds::Equal(out, bnds::Discrete(0, 20, 0, 5)));
    EXPECT_EQ(one->MapBoundsIn2Out(&in, 1, 1, &out), E_INVALIDARG);
    EXPECT_EQ(t->MapBoundsOut2In(0, &out, 0, &in), E_INVALIDARG) << "no input slots";

    // Blending is in effect; dithering only if the output keeps an error margin.
    EXPECT_EQ(t->Blt(), DXBOF_DO_BLEND);
    auto* fake = new FakeSurface(MakeSurface(DXFMT_PMARGB32, 4, 4));
    const DXSAMPLEFORMATENUM rgb565 = DXPF_RGB565;
    fake->formatOverride = &rgb565;
    ComPtr<IDXSurface> coarse;
    coarse.Attach(fake);
    IUnknown* o = coarse.Get();
    ASSERT_EQ(t->Setup(nullptr, 0, &o, 1, 0), S_OK);
    EXPECT_EQ(t->Blt(), DXBOF_DO_BLEND | DXBOF_DO_DITHER);
}

// Picking through an input (its sample's alpha decides), the same-size pass (a smaller input
// wrapped to the common bounds, centred) and the undivided path with the base's own whole-frame
// step.
TEST(TransformSetup, PickingSameSizeInputsAndTheUndividedPath) {
    auto big = MakeSurface(DXFMT_PMARGB32, 4, 4), small = MakeSurface(DXFMT_PMARGB32, 2, 2);
    std::vector<DXPMSAMPLE> left(16, DXPMSAMPLE{0, 0, 0, 0});
    for (int y = 0; y < 4; ++y)
        left[y * 4] = left[y * 4 + 1] = DXPMSAMPLE{10, 20, 30, 255};
    Fill(big.Get(), 4, 4, left);
    auto out = MakeSurface(DXFMT_PMARGB32, 4, 4);
    IUnknown* output = out.Get();

    auto one = Make(1, nullptr, 1, 1);
    IUnknown* inputs[] = {big.Get(), small.Get()};
    ASSERT_EQ(one->Setup(inputs, 1, &output, 1, 0), S_OK);
    ULONG index = 9;
    DXVEC picked{};
    const DXVEC opaque = Placement(1, 2), clear = Placement(3, 2);
    EXPECT_EQ(one->PointPick(&opaque, &index, &picked), S_OK);
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(picked.u.D[DXB_X], 1);
    EXPECT_EQ(picked.u.D[DXB_Y], 2);
    EXPECT_EQ(one->PointPick(&clear, &index, &picked), S_FALSE);

    auto two = Make(1, nullptr, 2, 2, DXBOF_SAME_SIZE_INPUTS | DXBOF_CENTER_INPUTS);
    ASSERT_EQ(two->Setup(inputs, 2, &output, 1, 0), S_OK);
    EXPECT_EQ(two->InputSurface(0), big.Get()) << "an input of the common size stays itself";
    EXPECT_NE(two->InputSurface(1), small.Get());
    EXPECT_TRUE(bnds::Equal(two->InputBounds(1), bnds::Discrete(0, 4, 0, 4)));
    std::vector<DXPMSAMPLE> dot(4, DXPMSAMPLE{0, 0, 0, 0});
    dot[0] = DXPMSAMPLE{1, 2, 3, 255};
    Fill(small.Get(), 2, 2, dot);
    EXPECT_EQ(Samples(two->InputSurface(1), 4, 4)[1 * 4 + 1], dot[0]) << "centred: at (1, 1)";

    auto whole = Make(2, output);
    whole->Undivided();
    EXPECT_EQ(whole->Execute(nullptr, nullptr, nullptr), E_FAIL);
    EXPECT_TRUE(whole->pieces.empty()) << "no band work on the undivided path";
}
