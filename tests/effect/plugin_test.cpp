// The effect's plug-in interfaces: records, presets, automation, notices and persistence.
#include <cmath>
#include <set>
#include <thread>

#include "effect_rig.h"

using namespace velmora;
using namespace velmora::test;

namespace {

const FilterProps kCustom{9, 8, 7, 6}, kLoaded{0x80, 0x10, 0x20, 0x30};
enum Flag { Keep, Dirty, Clean };

// A memory stream holding data, or, given a limit, a scripted one.
struct Src {
    std::vector<BYTE> data;
    HRESULT hr = S_OK;
    ULONG limit = ~0u;
    ComPtr<IStream> Make() const {
        return limit == ~0u ? StreamOf(data) : Scripted(hr, limit, data);
    }
};

// A call with the row's stream; target: the memory stream it wrote to, if any.
using Call = HRESULT (*)(Wired&, IStream*, ComPtr<IStream>& target);

} // namespace

// What each operation does to the record, the dirty flag, the window and the sink, from a clean
// and from a dirty object holding preset 2; and what it wrote.
TEST(PluginExtension, EachOperationOnRecordFlagAndNotices) {
    const Call preset = [](Wired&w, IStream*, auto&) { return w.fx->ApplyPreset(1); },
               badPreset = [](Wired&w, IStream*, auto&) { return w.fx->ApplyPreset(3); },
               setRecord = [](Wired&w, IStream*, auto&) { return w.fx->SetProps(&kCustom); },
               setNull = [](Wired&w, IStream*, auto&) { return w.fx->SetProps(nullptr); },
               initNew = [](Wired&w, IStream*, auto&) { return w.Stream()->InitNew(); },
               load = [](Wired&w, IStream*s, auto&) { return w.Stream()->Load(s); },
               save =
                   [](Wired&w, IStream*s, ComPtr<IStream>&target) {
                       return w.Stream()->Save((target = s).Get(), TRUE);
                   },
               saveDirty =
                   [](Wired&w, IStream*s, ComPtr<IStream>&target) {
                       return w.Stream()->Save((target = s).Get(), FALSE);
                   },
               autoLoad = [](Wired&w, IStream*s, auto&) { return w.fx->LoadCurrentProps(s); },
               autoSave =
                   [](Wired&w, IStream*s, ComPtr<IStream>&target) {
                       return w.fx->SaveCurrentProps((target = s).Get());
                   },
               interpolate =
                   [](Wired&w, IStream*s, ComPtr<IStream>&target) {
                       target = StreamOf();
                       return w.fx->InterpolateStreams(target.Get(), s, StreamOf(kGreen).Get(),
                                                       0.5);
                   },
               firstKey = [](Wired&w, IStream*s,
                             auto&) { return w.fx->SetKeyProps(s, StreamOf(kGreen).Get()); },
               secondKey = [](Wired&w, IStream*s, auto&) {
                   return w.fx->SetKeyProps(StreamOf(kGreen).Get(), s);
               };
    const std::vector<BYTE> blue = Bytes(kBlue), loaded = Bytes(kLoaded);
    const Src none, shortRead{{1, 2, 3, 4}, S_OK, 3}, denied{{1, 2, 3, 4}, E_ACCESSDENIED, 4};
    const Src shortWrite{{}, S_OK, 2}, full{{}, STG_E_MEDIUMFULL, 4};
    struct Row {
        Call call;
        Src src;
        HRESULT hr;
        FilterProps record;
        Flag flag;
        std::pair<int, int> notices = {}; // window, sink
        std::vector<BYTE> written = {};
    } rows[] = {
        {preset, none, S_OK, kGreen, Keep, {1, 1}},
        {badPreset, none, E_INVALIDARG, kBlue, Keep},
        {setRecord, none, S_OK, kCustom, Dirty, {0, 1}},
        {setNull, none, E_FAIL, kBlue, Keep},
        {initNew, none, S_OK, kBlack, Dirty, {1, 1}},
        {load, {{0x80, 0x10, 0x20, 0x30, 9}}, S_OK, kLoaded, Dirty, {1, 1}},
        // A bad or short load keeps the record, yet leaves the object dirty.
        {load, shortRead, STG_E_READFAULT, kBlue, Dirty},
        {load, denied, E_ACCESSDENIED, kBlue, Dirty},
        {save, none, S_OK, kBlue, Clean, {1, 0}, blue},
        {saveDirty, none, S_OK, kBlue, Dirty, {1, 0}, blue},
        {save, shortWrite, STG_E_WRITEFAULT, kBlue, Keep},
        {save, full, STG_E_MEDIUMFULL, kBlue, Keep},
        {autoLoad, {loaded}, S_OK, kLoaded, Dirty, {1, 0}},
        // A failing or short automation load falls back to preset 0.
        {autoLoad, denied, E_ACCESSDENIED, kBlack, Dirty, {1, 0}},
        {autoLoad, {{1, 2, 3}}, STG_E_READFAULT, kBlack, Dirty, {1, 0}},
        {autoSave, none, S_OK, kBlue, Keep, {}, blue},
        {autoSave, shortWrite, STG_E_WRITEFAULT, kBlue, Keep},
        {interpolate, {Bytes(kBlack)}, S_OK, kBlue, Keep, {}, {255, 0, 127, 0}},
        {interpolate, denied, E_ACCESSDENIED, kBlue, Keep},
        {interpolate, {{1}}, STG_E_READFAULT, kBlue, Keep},
        // Keys that cannot be read: the record falls back to preset 0.
        {firstKey, {{}, STG_E_READFAULT, 0}, STG_E_READFAULT, kBlack, Keep},
        {secondKey, {{1, 2}}, STG_E_READFAULT, kBlack, Keep},
    };
    for (const Row& row : rows)
        for (bool dirty : {false, true}) {
            const std::string name = std::to_string(&row - rows) + (dirty ? " dirty" : " clean");
            Wired w;
            w.fx->ApplyPreset(2);
            ASSERT_EQ(w.Stream()->Save(StreamOf().Get(), !dirty), S_OK);
            w.Notices();
            ComPtr<IStream> target;
            EXPECT_EQ(row.call(w, row.src.Make().Get(), target), row.hr) << name;
            EXPECT_EQ(w.Props(), row.record) << name;
            const bool now = row.flag == Dirty || (row.flag == Keep && dirty);
            EXPECT_EQ(w.Stream()->IsDirty(), now ? S_OK : S_FALSE) << name;
            EXPECT_EQ(w.Notices(), row.notices) << name;
            if (target && row.src.limit == ~0u) {
                EXPECT_EQ(BytesOf(target.Get()), row.written) << name;
            }
        }
}

// The frame record, and a frame rendered with it: the current record, or in automation mode the
// blend of the keys.
TEST(PluginExtension, FrameRecordFollowsAutomationAndItsKeys) {
    FrameRig r(16, 16, 9, 1);
    r.fx->ApplyPreset(2);
    ASSERT_EQ(r.fx->SetKeyProps(StreamOf(kBlack).Get(), StreamOf(kGreen).Get()), S_OK);
    r.fx->SetInterpolationFraction(0.5);
    EXPECT_EQ(r.fx->TakeFrameProps(), kBlue) << "mode 0: the current record";
    r.fx->SetAutomationMode(1);
    EXPECT_EQ(r.fx->TakeFrameProps(), (FilterProps{255, 0, 127, 0}));
    ASSERT_EQ(r.Run(), S_OK);
    EXPECT_EQ(r.memory, Unmatted(r.original, FilterProps{255, 0, 127, 0}));
    // Failed keys: both become preset 0.
    r.fx->SetInterpolationFraction(1.0);
    r.fx->SetKeyProps(StreamOf(kGreen).Get(), StreamOf().Get());
    EXPECT_EQ(r.fx->TakeFrameProps(), kBlack);
    r.fx->SetInterpolationFraction(0.0);
    EXPECT_EQ(r.fx->TakeFrameProps(), kBlack);
}

TEST(Presets, CountNamesAndBadArguments) {
    EffectRig r;
    ULONG count = 0;
    EXPECT_EQ(r.fx->GetPresetCount(&count), S_OK);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(r.fx->GetPresetCount(nullptr), E_POINTER);
    const wchar_t* names[] = {L"(Default)", L"Green", L"Blue"};
    wchar_t buf[16];
    for (LONG i = 0; i < 3; ++i) {
        EXPECT_EQ(r.fx->GetPresetName(i, buf, 16), S_OK);
        EXPECT_STREQ(buf, names[i]);
    }
    std::wmemset(buf, L'x', 16);
    EXPECT_EQ(r.fx->GetPresetName(3, buf, 8), E_INVALIDARG);
    EXPECT_EQ(r.fx->GetPresetName(-1, buf, 8), E_INVALIDARG);
    EXPECT_EQ(r.fx->GetPresetName(0, buf, 0), E_INVALIDARG);
    EXPECT_EQ(buf[0], L'x') << "nothing written on a refused call";
    EXPECT_EQ(r.fx->GetPresetName(0, nullptr, 8), E_POINTER);
    // A short buffer gets as much as fits, terminated inside it.
    EXPECT_EQ(r.fx->GetPresetName(0, buf, 4), S_OK);
    EXPECT_STREQ(buf, L"(De");
    EXPECT_EQ(buf[4], L'x');
}

TEST(Presets, Blend) {
    const FilterProps odd{17, 200, 3, 99};
    FilterProps out{};
    BlendFilterProps(&out, kGreen, kBlack, 0.5);
    EXPECT_EQ(out.green, 127) << "127.5 truncated, not rounded";
    for (auto [t, want] : {std::pair{1.7, kGreen}, {-0.3, kBlack}, {std::nan(""), kBlack}}) {
        BlendFilterProps(&out, kBlack, kGreen, t);
        EXPECT_EQ(out, want) << t;
    }
    BlendFilterProps(&out, odd, odd, 0.99);
    EXPECT_EQ(out, odd);
    // Every field moves on its own, including alpha; the destination may alias a source.
    out = {0, 10, 20, 30};
    BlendFilterProps(&out, out, FilterProps{100, 110, 120, 130}, 0.25);
    EXPECT_EQ(out, (FilterProps{25, 35, 45, 55}));
}

// Renders take their record while other threads change it: every record seen is one that was
// set whole, never a mix of two.
TEST(PluginExtension, ConcurrentChangesNeverTearTheFrameRecord) {
    Wired w;
    CVelmora* fx = w.fx;
    const std::set<std::uint32_t> legal = {PackMatte(kBlack), PackMatte(kGreen), PackMatte(kBlue),
                                           PackMatte(kCustom), PackMatte(kLoaded)};
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers, writers;
    for (int r = 0; r < 2; ++r)
        readers.emplace_back([&] {
            while (!stop)
                torn += !legal.count(PackMatte(fx->TakeFrameProps()));
        });
    writers.emplace_back([&] {
        for (int i = 0; i < 2000; ++i) {
            fx->ApplyPreset(i % 3);
            fx->SetProps(&kCustom);
            w.Stream()->InitNew();
        }
    });
    writers.emplace_back([&] {
        for (int i = 0; i < 2000; ++i) {
            w.Stream()->Load(StreamOf(kLoaded).Get());
            fx->LoadCurrentProps(StreamOf(kGreen).Get());
            fx->SetNotifySink(i % 2 ? w.sink : nullptr);
            fx->SetNotifyWindow(w.window.hwnd(), kId);
        }
    });
    for (auto& t : writers)
        t.join();
    stop = true;
    for (auto& t : readers)
        t.join();
    EXPECT_EQ(torn, 0);
    w.Notices();
}

// A storage saved holds one element, the stream "Contents"; one without it, or with it held open
// elsewhere, is refused and the record kept. (Every road's round trip is in the fault suite, the
// size a stream needs in the stream fuzzer's replay, after every input.)
TEST(Persistence, AStorageHoldsOnlyContents) {
    EffectRig fx;
    ComPtr<IStorage> stg;
    ASSERT_EQ(CreateMemoryStorage(&stg), S_OK);
    EXPECT_EQ(fx.Storage()->Save(stg.Get(), TRUE), S_OK);
    ComPtr<IEnumSTATSTG> e;
    ASSERT_EQ(stg->EnumElements(0, nullptr, 0, &e), S_OK);
    STATSTG st{};
    ASSERT_EQ(e->Next(1, &st, nullptr), S_OK);
    EXPECT_STREQ(st.pwcsName, L"Contents");
    EXPECT_EQ(st.type, static_cast<DWORD>(STGTY_STREAM));
    EXPECT_EQ(st.cbSize.QuadPart, 4u);
    CoTaskMemFree(st.pwcsName);
    EXPECT_EQ(e->Next(1, &st, nullptr), S_FALSE) << "one element only";

    ComPtr<IStream> held;
    ASSERT_EQ(stg->OpenStream(L"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &held),
              S_OK);
    fx.fx->ApplyPreset(2);
    EXPECT_EQ(fx.Storage()->Load(stg.Get()), STG_E_ACCESSDENIED);
    ComPtr<IStorage> empty;
    CreateMemoryStorage(&empty);
    EXPECT_EQ(fx.Storage()->Load(empty.Get()), STG_E_FILENOTFOUND);
    EXPECT_EQ(fx.Props(), kPresets[2]);
}

// The map has no data entry: a bag is never asked, and only its own flag moves.
TEST(Persistence, APropertyBagStoresNothingAndTracksItsFlag) {
    class CountingBag final : public com::SimpleObject<CountingBag, IPropertyBag> {
    public:
        STDMETHOD(Read)(LPCOLESTR, VARIANT*, IErrorLog*) override { return ++calls, E_INVALIDARG; }
        STDMETHOD(Write)(LPCOLESTR, VARIANT*) override { return ++calls, S_OK; }
        int calls = 0;
    };
    EffectRig r;
    r.fx->ApplyPreset(1);
    r.Stream()->Save(StreamOf().Get(), TRUE);
    auto* bag = new CountingBag;
    EXPECT_EQ(r.Bag()->InitNew(), S_OK);
    EXPECT_EQ(r.fx->m_bRequiresSave, 1u);
    EXPECT_EQ(r.Bag()->Save(bag, FALSE, TRUE), S_OK);
    EXPECT_EQ(r.fx->m_bRequiresSave, 1u);
    EXPECT_EQ(r.Bag()->Save(bag, TRUE, TRUE), S_OK);
    EXPECT_EQ(r.fx->m_bRequiresSave, 0u);
    r.fx->m_bRequiresSave = 1;
    EXPECT_EQ(r.Bag()->Load(bag, nullptr), S_OK);
    EXPECT_EQ(r.fx->m_bRequiresSave, 0u);
    EXPECT_EQ(bag->calls, 0);
    bag->Release();
    EXPECT_EQ(r.Props(), kPresets[1]);
    EXPECT_EQ(r.Stream()->IsDirty(), S_FALSE);
}
