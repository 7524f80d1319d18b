#include <random>
#include <set>
#include <thread>

#include "../transform/test_support.h"
#include "effect/kernel.h"
#include "effect/velmora.h"
#include "test_streams.h"

using namespace velmora;
using namespace velmora::test;
namespace bnds = velmora::dxbounds;

namespace {

using Effect = velmora::com::CComPolyObject<CVelmora>;

ComPtr<IUnknown> MakeEffect() {
    ComPtr<IUnknown> unk;
    EXPECT_EQ(Effect::CreateInstance(nullptr, uuidof<IUnknown>(), reinterpret_cast<void**>(&unk)),
              S_OK);
    return unk;
}

// The effect, sited and set up on one output surface, as a host drives it.
struct Rig {
    ComPtr<IUnknown> effect = MakeEffect();
    ComPtr<IDXTransform> transform = Query<IDXTransform>(effect.Get());

    explicit Rig(IUnknown* output, ULONG processors = 4) {
        EXPECT_EQ(Query<IObjectWithSite>(effect.Get())->SetSite(MakeSite(processors).Get()), S_OK);
        EXPECT_EQ(transform->Setup(nullptr, 0, &output, 1, 0), S_OK);
    }
    HRESULT Run(const DXBNDS* clip = nullptr, const DXVEC* placement = nullptr) {
        return transform->Execute(nullptr, clip, placement);
    }
};

std::vector<BYTE> RandomFrame(size_t bytes, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<BYTE> v(bytes);
    for (size_t i = 0; i < bytes; ++i) {
        // Many clear and opaque pixels, as keyed footage has, and every partial value.
        BYTE b = static_cast<BYTE>(rng());
        if (i % 4 == 3)
            b = rng() % 3 == 0 ? 0 : rng() % 3 == 0 ? 255 : b;
        v[i] = b;
    }
    return v;
}

// The rule on premultiplied surface bytes (blue, green, red, alpha in memory).
void Reference(BYTE* p, size_t pixels, const FilterProps& m) {
    for (size_t i = 0; i < pixels; ++i, p += 4) {
        const BYTE a = p[3];
        p[0] = UnmatteChannel(a, p[0], m.blue);
        p[1] = UnmatteChannel(a, p[1], m.green);
        p[2] = UnmatteChannel(a, p[2], m.red);
    }
}

} // namespace

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
    for (const GUID* format : {&DXFMT_PMARGB32, &DXFMT_ARGB32, &DXFMT_RGB24}) {
        for (bool clipped : {false, true}) {
            auto surface = MakeSurface(*format, w, h);
            auto frame = RandomFrame(static_cast<size_t>(w) * h * 4, 11);
            std::vector<DXPMSAMPLE> input(static_cast<size_t>(w) * h);
            std::memcpy(input.data(), frame.data(), frame.size());
            for (auto& s : input) // premultiplied input: no colour above alpha
                s.Red = std::min(s.Red, s.Alpha), s.Green = std::min(s.Green, s.Alpha),
                s.Blue = std::min(s.Blue, s.Alpha);
            Fill(surface.Get(), w, h, input);
            auto before = Samples(surface.Get(), w, h);

            Rig rig(surface.Get());
            Query<ISfExchangeProps<FilterProps>>(rig.effect.Get())->SetProps(&matte);
            // A clip placed at its own corner: the effect works on that part of the surface.
            const DXBNDS clip = bnds::Discrete(10, 60, 5, 50);
            DXVEC at{};
            at.eType = DXBT_DISCRETE;
            at.u.D[DXB_X] = 10;
            at.u.D[DXB_Y] = 5;
            ASSERT_EQ(rig.Run(clipped ? &clip : nullptr, clipped ? &at : nullptr), S_OK);

            // What the surface must hold: the rule applied to the premultiplied samples of the
            // region, packed back as the surface packs them.
            auto twin = MakeSurface(*format, w, h);
            auto expected = before;
            for (LONG y = 0; y < h; ++y)
                for (LONG x = 0; x < w; ++x)
                    if (!clipped || (x >= 10 && x < 60 && y >= 5 && y < 50))
                        Reference(reinterpret_cast<BYTE*>(&expected[y * w + x]), 1, matte);
            Fill(twin.Get(), w, h, expected);
            EXPECT_EQ(Samples(surface.Get(), w, h), Samples(twin.Get(), w, h))
                << velmora::com::GuidToString(*format) << (clipped ? " clipped" : "");
        }
    }
}

TEST(EffectFrame, PremultipliedSurfaceIsRewrittenInPlace) {
    constexpr LONG w = 300, h = 40; // 12000 pixels: three bands on four processors
    auto frame = RandomFrame(static_cast<size_t>(w) * h * 4, 5);
    auto memory = frame;
    ComPtr<IDXSurface> surface;
    ASSERT_EQ(DXCreateSurfaceOnMemory(DXPF_PMARGB32, memory.data(), w * 4, w, h, &surface), S_OK);
    Rig rig(surface.Get());
    ASSERT_EQ(rig.Run(), S_OK);
    auto expected = frame;
    Reference(expected.data(), static_cast<size_t>(w) * h, kPresets[0]);
    EXPECT_EQ(memory, expected) << "the surface's own memory, matte opaque black by default";
    for (size_t i = 3; i < memory.size(); i += 4)
        ASSERT_EQ(memory[i], frame[i]) << "alpha never changes";
}

TEST(EffectFrame, AutomationBlendsTheKeys) {
    constexpr LONG w = 16, h = 16;
    auto frame = RandomFrame(w * h * 4, 9);
    auto memory = frame;
    ComPtr<IDXSurface> surface;
    DXCreateSurfaceOnMemory(DXPF_PMARGB32, memory.data(), w * 4, w, h, &surface);
    Rig rig(surface.Get(), 1);
    auto automation = Query<IDXTSfAutomation>(rig.effect.Get());
    ASSERT_EQ(
        automation->SetKeyProps(StreamOf({255, 0, 0, 0}).Get(), StreamOf({255, 0, 255, 0}).Get()),
        S_OK);
    automation->SetInterpolationFraction(0.5);
    automation->SetAutomationMode(1);
    ASSERT_EQ(rig.Run(), S_OK);
    auto expected = frame;
    Reference(expected.data(), w * h, FilterProps{255, 0, 127, 0});
    EXPECT_EQ(memory, expected);

    automation->SetAutomationMode(0);
    memory = frame;
    Query<IStaticFilterPreset>(rig.effect.Get())->ApplyPreset(2);
    ASSERT_EQ(rig.Run(), S_OK);
    expected = frame;
    Reference(expected.data(), w * h, kPresets[2]);
    EXPECT_EQ(memory, expected);
}

TEST(EffectFrame, LockAndAllocationFailuresWriteNothing) {
    constexpr LONG w = 8, h = 8;
    auto frame = RandomFrame(w * h * 4, 1);
    auto memory = frame;
    ComPtr<IDXSurface> real;
    DXCreateSurfaceOnMemory(DXPF_PMARGB32, memory.data(), w * 4, w, h, &real);
    auto* fake = new FakeSurface(real);
    ComPtr<IDXSurface> surface;
    surface.Attach(fake);
    Rig rig(surface.Get(), 1);
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
    Rig one(surface.Get(), 1);
    EXPECT_EQ(one.Run(), E_OUTOFMEMORY);
    EXPECT_EQ(NullPointer::unpacks, 0);
}

// Renders run while other threads change the parameter: every frame is the rule's result for one
// whole record (the record is taken once per frame, for all its bands).
TEST(EffectFrame, ConcurrentParameterChanges) {
    constexpr LONG w = 512, h = 32;
    auto frame = RandomFrame(static_cast<size_t>(w) * h * 4, 21);
    const FilterProps custom{255, 40, 80, 120}, loaded{0x80, 0x10, 0x20, 0x30};
    const std::vector<FilterProps> legal = {kPresets[0], kPresets[1], kPresets[2], custom, loaded};
    std::vector<std::vector<BYTE>> expected;
    for (const auto& m : legal) {
        expected.push_back(frame);
        Reference(expected.back().data(), static_cast<size_t>(w) * h, m);
    }
    auto memory = frame;
    ComPtr<IDXSurface> surface;
    DXCreateSurfaceOnMemory(DXPF_PMARGB32, memory.data(), w * 4, w, h, &surface);
    Rig rig(surface.Get(), 4);
    auto presets = Query<IStaticFilterPreset>(rig.effect.Get());
    auto exchange = Query<ISfExchangeProps<FilterProps>>(rig.effect.Get());
    auto persist = Query<IPersistStreamInit>(rig.effect.Get());

    std::atomic<bool> stop{false};
    std::thread changer([&] {
        for (int i = 0; !stop; ++i) {
            presets->ApplyPreset(i % 3);
            exchange->SetProps(&custom);
            persist->Load(StreamOf({loaded.alpha, loaded.red, loaded.green, loaded.blue}).Get());
        }
    });
    int bad = 0;
    for (int f = 0; f < 150; ++f) {
        memory = frame;
        ASSERT_EQ(rig.Run(), S_OK);
        bool any = false;
        for (const auto& e : expected)
            any |= memory == e;
        bad += !any;
    }
    stop = true;
    changer.join();
    EXPECT_EQ(bad, 0);
}
