#include "frames.h"
#include "test_streams.h"

using namespace velmora;
using namespace velmora::test;
namespace bnds = velmora::dxbounds;

TEST(Effect, InitialStateAndInterfaces) {
    auto fx = MakeEffect();
    const IID all[] = {uuidof<ISfVideoPluginExtension>(),
                       uuidof<IDXTSfAutomation>(),
                       uuidof<IStaticFilterPreset>(),
                       uuidof<IPersistStreamInit>(),
                       uuidof<ISfExchangeProps<FilterProps>>(),
                       uuidof<IVelmora>(),
                       uuidof<IDispatch>(),
                       uuidof<IMarshal>(),
                       uuidof<IDXEffect>(),
                       uuidof<IObjectSafety>(),
                       uuidof<IPersistStorage>(),
                       uuidof<ISpecifyPropertyPages>(),
                       uuidof<IPersistPropertyBag>(),
                       uuidof<IDXTransform>(),
                       uuidof<IDXBaseObject>(),
                       uuidof<IObjectWithSite>()};
    for (const IID& iid : all) {
        ComPtr<IUnknown> p, back;
        ASSERT_EQ(fx->QueryInterface(iid, reinterpret_cast<void**>(&p)), S_OK)
            << velmora::com::GuidToString(iid);
        ASSERT_EQ(p->QueryInterface(uuidof<IUnknown>(), reinterpret_cast<void**>(&back)), S_OK);
        EXPECT_EQ(back.Get(), fx.Get()) << "one identity";
    }
    void* none = nullptr;
    EXPECT_EQ(fx->QueryInterface(uuidof<IStream>(), &none), E_NOINTERFACE);

    DWORD flags = 0;
    Query<IDXTransform>(fx.Get())->GetMiscFlags(&flags);
    EXPECT_EQ(flags, 0x07030003u);
    auto effect = Query<IDXEffect>(fx.Get());
    float v = 0;
    EXPECT_EQ(effect->get_Duration(&v), S_OK);
    EXPECT_EQ(v, 0.5f);
    LONG caps = 7;
    EXPECT_EQ(effect->get_Capabilities(&caps), S_OK);
    EXPECT_EQ(caps, 0);
    EXPECT_EQ(effect->get_Capabilities(nullptr), E_POINTER);
    EXPECT_EQ(Query<IDXTransform>(fx.Get())->SetQuality(0.5f), E_NOTIMPL);

    FilterProps props{};
    Query<ISfExchangeProps<FilterProps>>(fx.Get())->GetProps(&props);
    EXPECT_EQ(props, kPresets[0]);
    SfPluginInfo info{};
    Query<ISfVideoPluginExtension>(fx.Get())->GetInfo(&info, sizeof info);
    EXPECT_EQ(info.field0, 2u);
    EXPECT_EQ(info.field8, 1.0);
    EXPECT_EQ(info.field16 + info.field20, 0u);
    EXPECT_EQ(info.field24, 1u);
    wchar_t name[16];
    EXPECT_EQ(Query<IStaticFilterPreset>(fx.Get())->GetPresetName(1, name, 16), S_OK);
    EXPECT_STREQ(name, L"Green");

    CAUUID pages{};
    EXPECT_EQ(Query<ISpecifyPropertyPages>(fx.Get())->GetPages(&pages), S_OK);
    ASSERT_EQ(pages.cElems, 1u);
    EXPECT_EQ(pages.pElems[0], CLSID_VelmoraPP);
    CoTaskMemFree(pages.pElems);
    EXPECT_EQ(Query<ISpecifyPropertyPages>(fx.Get())->GetPages(nullptr), E_POINTER);
}

TEST(Effect, SafetyOptionsTable) {
    auto fx = MakeEffect();
    auto safety = Query<IObjectSafety>(fx.Get());
    DWORD supported = 9, enabled = 9;
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(uuidof<IPersistStream>(), 1, 1), S_OK);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(uuidof<IPersistStream>(), &supported, &enabled),
              S_OK);
    EXPECT_EQ(supported, 1u);
    EXPECT_EQ(enabled, 1u);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(uuidof<IDispatch>(), &supported, &enabled), S_OK);
    EXPECT_EQ(enabled, 0u) << "one word per interface";
    // IPersistStream is not answered by the object, yet the table knows it; IDXTransform is
    // answered, yet the table does not.
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(uuidof<IDXTransform>(), &supported, &enabled),
              E_NOINTERFACE);
    EXPECT_EQ(supported + enabled, 0u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(uuidof<IDXTransform>(), 1, 1), E_NOINTERFACE);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(uuidof<IDispatch>(), nullptr, &enabled), E_POINTER);
}

// An outer object that counts its references, as a host aggregating the effect would.
class CountingOuter : public IUnknown {
public:
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (riid == uuidof<IUnknown>()) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
    STDMETHOD_(ULONG, Release)() override { return --refs; }
    ULONG refs = 1;
    IUnknown* inner = nullptr;
};

TEST(Effect, Aggregation) {
    CountingOuter outer;
    void* p = nullptr;
    EXPECT_EQ(Effect::CreateInstance(&outer, uuidof<IDXTransform>(), &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    ASSERT_EQ(
        Effect::CreateInstance(&outer, uuidof<IUnknown>(), reinterpret_cast<void**>(&outer.inner)),
        S_OK);
    EXPECT_EQ(outer.refs, 1u) << "the inner object holds no reference on its outer";

    ISfExchangeProps<FilterProps>* props = nullptr;
    ASSERT_EQ(outer.inner->QueryInterface(uuidof<ISfExchangeProps<FilterProps>>(),
                                          reinterpret_cast<void**>(&props)),
              S_OK);
    EXPECT_EQ(outer.refs, 2u) << "references on an inner interface count on the outer";
    IUnknown* unk = nullptr;
    props->QueryInterface(uuidof<IUnknown>(), reinterpret_cast<void**>(&unk));
    EXPECT_EQ(unk, &outer) << "IUnknown from any interface is the outer";
    unk->Release();
    IMarshal* marshal = nullptr;
    ASSERT_EQ(props->QueryInterface(uuidof<IMarshal>(), reinterpret_cast<void**>(&marshal)), S_OK);
    EXPECT_EQ(outer.refs, 3u) << "the marshaler delegates to the outer too";
    marshal->Release();
    props->Release();
    EXPECT_EQ(outer.refs, 1u);
    EXPECT_EQ(outer.inner->Release(), 0u);
}

// A frame on each surface format gives exactly the rule's bytes, inside the clip only.
TEST(EffectFrame, EverySurfaceFormatMatchesTheRule) {
    constexpr LONG w = 97, h = 61;
    const FilterProps matte{255, 30, 200, 90};
    const auto frame = KeyedFrame(static_cast<size_t>(w) * h, 11);
    for (const GUID* format : {&DXFMT_PMARGB32, &DXFMT_ARGB32, &DXFMT_RGB24}) {
        for (bool clipped : {false, true}) {
            auto surface = MakeSurface(*format, w, h);
            Fill(surface.Get(), w, h, frame);
            const auto before = Samples<BYTE>(surface.Get(), w, h);
            EffectRig rig(surface.Get(), 4);
            rig.SetProps(matte);
            // A clip placed at its own corner: the effect works on that part of the surface.
            const DXBNDS clip = bnds::Discrete(10, 60, 5, 50);
            const DXVEC at = Placement(10, 5);
            ASSERT_EQ(rig.Run(clipped ? &clip : nullptr, clipped ? &at : nullptr), S_OK);

            // The rule on the region's premultiplied samples, packed back as the surface packs.
            const auto done = Unmatted(before, matte);
            auto expected = before;
            for (LONG y = 0; y < h; ++y)
                for (LONG x = 0; x < w; ++x)
                    if (!clipped || (x >= 10 && x < 60 && y >= 5 && y < 50))
                        std::copy_n(&done[(y * w + x) * 4], 4, &expected[(y * w + x) * 4]);
            auto twin = MakeSurface(*format, w, h);
            Fill(twin.Get(), w, h, expected);
            EXPECT_EQ(Samples(surface.Get(), w, h), Samples(twin.Get(), w, h))
                << velmora::com::GuidToString(*format) << (clipped ? " clipped" : "");
        }
    }
}

TEST(EffectFrame, AutomationBlendsTheKeys) {
    constexpr LONG w = 16, h = 16;
    const auto frame = KeyedFrame(w * h, 9);
    auto memory = frame;
    ComPtr<IDXSurface> surface;
    DXCreateSurfaceOnMemory(DXPF_PMARGB32, memory.data(), w * 4, w, h, &surface);
    EffectRig rig(surface.Get(), 1);
    auto automation = Query<IDXTSfAutomation>(rig.effect.Get());
    ASSERT_EQ(
        automation->SetKeyProps(StreamOf({255, 0, 0, 0}).Get(), StreamOf({255, 0, 255, 0}).Get()),
        S_OK);
    automation->SetInterpolationFraction(0.5);
    automation->SetAutomationMode(1);
    ASSERT_EQ(rig.Run(), S_OK);
    EXPECT_EQ(memory, Unmatted(frame, FilterProps{255, 0, 127, 0}));

    automation->SetAutomationMode(0);
    memory = frame;
    Query<IStaticFilterPreset>(rig.effect.Get())->ApplyPreset(2);
    ASSERT_EQ(rig.Run(), S_OK);
    EXPECT_EQ(memory, Unmatted(frame, kPresets[2]));
}

TEST(EffectFrame, LockAndAllocationFailuresWriteNothing) {
    constexpr LONG w = 8, h = 8;
    const auto frame = KeyedFrame(w * h, 1);
    auto memory = frame;
    ComPtr<IDXSurface> real;
    DXCreateSurfaceOnMemory(DXPF_PMARGB32, memory.data(), w * 4, w, h, &real);
    auto* fake = new FakeSurface(real);
    ComPtr<IDXSurface> surface;
    surface.Attach(fake);
    EffectRig rig(surface.Get(), 1);
    fake->lockResult = E_ACCESSDENIED;
    EXPECT_EQ(rig.Run(), E_ACCESSDENIED);
    EXPECT_EQ(memory, frame);

    // A band too large to copy: the allocation fails and nothing is unpacked or written.
    const DXBNDS huge = bnds::Discrete(0, 1 << 29, 0, 1 << 29);
    const DXSAMPLEFORMATENUM rgb = DXPF_RGB24;
    fake->lockResult = S_OK;
    fake->boundsOverride = &huge;
    fake->formatOverride = &rgb;
    fake->nullLocks = true;
    NullPointer::unpacks = 0;
    EffectRig one(surface.Get(), 1);
    EXPECT_EQ(one.Run(), E_OUTOFMEMORY);
    EXPECT_EQ(NullPointer::unpacks, 0);
}
