#include "effect_rig.h"
#include "platform/system.h"

using namespace velmora;
using namespace velmora::test;
namespace bnds = velmora::dxbounds;

TEST(Effect, InterfacesShareOneIdentityAndStartAtPresetZero) {
    auto fx = MakeEffect();
    EXPECT_EQ(Answers(fx.Get(), {uuidof<ISfVideoPluginExtension>(), uuidof<IDXTSfAutomation>(),
                                 uuidof<IStaticFilterPreset>(), uuidof<IPersistStreamInit>(),
                                 uuidof<ISfExchangeProps<FilterProps>>(), uuidof<IVelmora>(),
                                 uuidof<IDispatch>(), uuidof<IMarshal>(), uuidof<IDXEffect>(),
                                 uuidof<IObjectSafety>(), uuidof<IPersistStorage>(),
                                 uuidof<ISpecifyPropertyPages>(), uuidof<IPersistPropertyBag>(),
                                 uuidof<IDXTransform>(), uuidof<IDXBaseObject>(),
                                 uuidof<IObjectWithSite>(), uuidof<IStream>()}),
              (std::vector<bool>{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0}));
    FilterProps props{};
    Query<ISfExchangeProps<FilterProps>>(fx.Get())->GetProps(&props);
    EXPECT_EQ(props, kPresets[0]);
    CAUUID pages{};
    EXPECT_EQ(Query<ISpecifyPropertyPages>(fx.Get())->GetPages(&pages), S_OK);
    ASSERT_EQ(pages.cElems, 1u);
    EXPECT_EQ(pages.pElems[0], CLSID_VelmoraPP);
    CoTaskMemFree(pages.pElems);
}

// What a host reads of the effect before it draws: the information block, the flags (in place),
// the duration, no quality setting, and no site once it is taken away.
TEST(Effect, WhatAHostReads) {
    auto fx = MakeEffect();
    SfPluginInfo info{};
    EXPECT_EQ(Query<ISfVideoPluginExtension>(fx.Get())->GetInfo(&info, sizeof info), S_OK);
    const SfPluginInfo expected{2, 0, 1.0, 0, 0, 1, 0};
    EXPECT_EQ(std::memcmp(&info, &expected, sizeof info), 0);
    auto transform = Query<IDXTransform>(fx.Get());
    DWORD flags = 0;
    float value = -1;
    EXPECT_EQ(transform->GetMiscFlags(&flags), S_OK);
    EXPECT_EQ(flags, 0x07030003u);
    EXPECT_EQ(transform->GetQuality(&value), E_NOTIMPL);
    EXPECT_EQ(Query<IDXEffect>(fx.Get())->get_Duration(&value), S_OK);
    EXPECT_EQ(value, 0.5f);
    auto withSite = Query<IObjectWithSite>(fx.Get());
    EXPECT_EQ(withSite->SetSite(MakeSite(1).Get()), S_OK);
    EXPECT_EQ(withSite->SetSite(nullptr), S_OK);
    void* site = reinterpret_cast<void*>(1);
    EXPECT_EQ(withSite->GetSite(uuidof<IUnknown>(), &site), E_FAIL);
    EXPECT_EQ(site, nullptr);
}

// The parts of IDispatch that need no registered type library.
TEST(Effect, Dispatch) {
    auto dispatch = Query<IDispatch>(MakeEffect().Get());
    UINT count = 0;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(dispatch->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
    EXPECT_EQ(info, nullptr);
    const IID other = uuidof<IUnknown>();
    EXPECT_EQ(dispatch->Invoke(1, other, 0, 0, nullptr, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
}

// IPersistStream is in the table though the object does not answer it; IDXTransform is not.
TEST(Effect, SafetyOptionsTable) {
    auto safety = Query<IObjectSafety>(MakeEffect().Get());
    DWORD supported = 9, enabled = 9;
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(uuidof<IPersistStream>(), 1, 1), S_OK);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(uuidof<IPersistStream>(), &supported, &enabled),
              S_OK);
    EXPECT_EQ(supported, 1u);
    EXPECT_EQ(enabled, 1u);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(uuidof<IDispatch>(), &supported, &enabled), S_OK);
    EXPECT_EQ(enabled, 0u) << "one word per interface";
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(uuidof<IDXTransform>(), &supported, &enabled),
              E_NOINTERFACE);
    EXPECT_EQ(supported + enabled, 0u);
}

TEST(Effect, AggregationCountsOnTheOuter) {
    CountingOuter outer;
    void* p = nullptr;
    EXPECT_EQ(Effect::CreateInstance(&outer, uuidof<IDXTransform>(), &p), CLASS_E_NOAGGREGATION);
    ASSERT_EQ(
        Effect::CreateInstance(&outer, uuidof<IUnknown>(), reinterpret_cast<void**>(&outer.inner)),
        S_OK);
    EXPECT_EQ(outer.refs, 1u) << "the inner object holds no reference on its outer";
    ISfExchangeProps<FilterProps>* props = nullptr;
    ASSERT_EQ(outer.inner->QueryInterface(uuidof<ISfExchangeProps<FilterProps>>(),
                                          reinterpret_cast<void**>(&props)),
              S_OK);
    IUnknown* unk = nullptr;
    props->QueryInterface(uuidof<IUnknown>(), reinterpret_cast<void**>(&unk));
    EXPECT_EQ(unk, &outer) << "IUnknown from any interface is the outer";
    IMarshal* marshal = nullptr;
    ASSERT_EQ(props->QueryInterface(uuidof<IMarshal>(), reinterpret_cast<void**>(&marshal)), S_OK);
    EXPECT_EQ(outer.refs, 4u) << "the marshaler delegates to the outer too";
    marshal->Release();
    unk->Release();
    props->Release();
    EXPECT_EQ(outer.refs, 1u);
    EXPECT_EQ(outer.inner->Release(), 0u);
}

// A frame on each surface format gives exactly the rule's bytes, inside the clip only.
TEST(EffectFrame, EverySurfaceFormatMatchesTheRuleInsideTheClip) {
    constexpr LONG w = 97, h = 61;
    const FilterProps matte{255, 30, 200, 90};
    const auto frame = KeyedFrame(static_cast<size_t>(w) * h, 11);
    for (const GUID* format : {&DXFMT_PMARGB32, &DXFMT_ARGB32, &DXFMT_RGB24}) {
        auto surface = MakeSurface(*format, w, h);
        Fill(surface.Get(), w, h, frame);
        const auto before = Samples<BYTE>(surface.Get(), w, h);
        EffectRig rig(surface.Get(), 4);
        rig.SetProps(matte);
        const DXBNDS clip = bnds::Discrete(10, 60, 5, 50);
        const DXVEC at = Placement(10, 5);
        ASSERT_EQ(rig.Run(&clip, &at), S_OK);
        // The rule on the premultiplied samples, packed back as the surface packs.
        const auto done = Unmatted(before, matte);
        auto expected = before;
        for (LONG y = 5; y < 50; ++y)
            std::copy_n(&done[(y * w + 10) * 4], 50 * 4, &expected[(y * w + 10) * 4]);
        auto twin = MakeSurface(*format, w, h);
        Fill(twin.Get(), w, h, expected);
        EXPECT_EQ(Samples(surface.Get(), w, h), Samples(twin.Get(), w, h))
            << velmora::com::GuidToString(*format);
    }
}

// A band whose unpack size overflows: the allocation fails and nothing is unpacked. (A failing
// lock, which writes nothing either, is in the fault suites, for every piece.)
TEST(EffectFrame, AnUnpackSizeThatOverflowsFailsBeforeUnpacking) {
    FrameRig rig(8, 8, 1, 1, nullptr, true);
    const DXBNDS huge = bnds::Discrete(0, 1 << 29, 0, 1 << 29);
    const DXSAMPLEFORMATENUM rgb = DXPF_RGB24;
    rig.fake->boundsOverride = &huge;
    rig.fake->formatOverride = &rgb;
    rig.fake->nullLocks = true;
    NullPointer::unpacks = 0;
    EffectRig one(rig.surface.Get(), 1);
    EXPECT_EQ(one.Run(), E_OUTOFMEMORY);
    EXPECT_EQ(NullPointer::unpacks, 0);
}

// Taken off its site, or put on one without a task manager, the effect runs its pieces on the
// calling thread: a frame big enough to be divided and one with a request id.
TEST(EffectFrame, WithoutATaskManagerThePiecesRunOnTheCaller) {
    const FilterProps matte{255, 0, 255, 0};
    const GUID request = com::MakeGuid("{01234567-89AB-CDEF-0123-456789ABCDEF}");
    const struct {
        LONG w, h;
        const GUID* request;
    } frames[] = {{1920, 1080, nullptr}, {8, 8, &request}};
    for (bool unsited : {true, false})
        for (const auto& f : frames) {
            FrameRig rig(f.w, f.h, 3, 4);
            rig.SetProps(matte);
            auto site = MakeSite(4);
            ASSERT_EQ(site->SetService(CLSID_DXTaskManager, nullptr, FALSE), S_OK);
            ASSERT_EQ(
                Query<IObjectWithSite>(rig.effect.Get())->SetSite(unsited ? nullptr : site.Get()),
                S_OK);
            EXPECT_EQ(rig.Run(nullptr, nullptr, f.request), S_OK) << f.w << "x" << f.h;
            EXPECT_EQ(rig.memory, Unmatted(rig.original, matte)) << f.w << "x" << f.h;
        }
}

// Rows whose pitch is not a whole number of pixels, top-down and bottom-up, in a buffer of
// exactly their size: every pixel is the rule's, alpha and the padding between rows untouched.
TEST(EffectFrame, PitchesOfNoWholePixelStayInsideTheirRows) {
    constexpr LONG w = 3, h = 3;
    const FilterProps matte{255, 40, 220, 10};
    const auto pixels = KeyedFrame(w * h, 21);
    for (LONG pitch : {14L, -14L, 15L, -13L}) {
        const LONG step = pitch < 0 ? -pitch : pitch;
        std::vector<BYTE> memory(static_cast<size_t>(step * (h - 1) + w * 4), 0xA5);
        BYTE* first = memory.data() + (pitch < 0 ? step * (h - 1) : 0);
        for (LONG y = 0; y < h; ++y)
            std::copy_n(&pixels[y * w * 4], w * 4, first + y * pitch);
        auto expected = memory;
        const auto done = Unmatted(pixels, matte);
        for (LONG y = 0; y < h; ++y)
            std::copy_n(&done[y * w * 4], w * 4,
                        expected.data() + (first - memory.data()) + y * pitch);
        ComPtr<IDXSurface> surface;
        ASSERT_EQ(DXCreateSurfaceOnMemory(DXPF_PMARGB32, first, pitch, w, h, &surface), S_OK);
        EffectRig rig(surface.Get(), 4);
        rig.SetProps(matte);
        EXPECT_EQ(rig.Run(), S_OK);
        EXPECT_EQ(memory, expected) << "pitch " << pitch;
    }
}
