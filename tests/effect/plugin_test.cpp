#include <cmath>
#include <set>
#include <thread>

#include "test_streams.h"

using namespace velmora;
using namespace velmora::test;
using com::ComPtr;

namespace {

const FilterProps kCustom{9, 8, 7, 6}, kLoaded{0x80, 0x10, 0x20, 0x30};
enum Flag { Keep, Dirty, Clean };
enum Call {
    Preset,
    BadPreset,
    SetRecord,
    SetNull,
    InitNew,
    Load,
    Save,
    SaveDirty,
    AutoLoad,
    AutoSave,
    Interpolate,
    FirstKey,
    SecondKey
};

// A memory stream holding data, or, given a limit, a scripted one.
struct Src {
    std::vector<BYTE> data;
    HRESULT hr = S_OK;
    ULONG limit = ~0u;
    ComPtr<IStream> Make() const {
        return limit == ~0u ? StreamOf(data) : Scripted(hr, limit, data);
    }
};

// The call with the row's stream; target: the memory stream it wrote to, if any.
HRESULT Do(TestEffect& fx, Call call, IStream* s, ComPtr<IStream>& target) {
    const auto green = StreamOf(Bytes(kGreen));
    switch (call) {
    case Preset:
        return fx.ApplyPreset(1);
    case BadPreset:
        return fx.ApplyPreset(3);
    case SetRecord:
        return fx.SetProps(&kCustom);
    case SetNull:
        return fx.SetProps(nullptr);
    case InitNew:
        return fx.Stream()->InitNew();
    case Load:
        return fx.Stream()->Load(s);
    case Save:
    case SaveDirty:
        target = s;
        return fx.Stream()->Save(s, call == Save);
    case AutoLoad:
        return fx.LoadCurrentProps(s);
    case AutoSave:
        target = s;
        return fx.SaveCurrentProps(s);
    case Interpolate:
        target = StreamOf({});
        return fx.InterpolateStreams(target.Get(), s, green.Get(), 0.5);
    case FirstKey:
        return fx.SetKeyProps(s, green.Get());
    default:
        return fx.SetKeyProps(green.Get(), s);
    }
}

} // namespace

// What each operation does to the record, the dirty flag, the window and the sink, from a clean
// and from a dirty object holding preset 2; and what it wrote.
TEST(PluginExtension, EachOperationOnRecordFlagAndNotices) {
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
        {Preset, none, S_OK, kGreen, Keep, {1, 1}},
        {BadPreset, none, E_INVALIDARG, kBlue, Keep},
        {SetRecord, none, S_OK, kCustom, Dirty, {0, 1}},
        {SetNull, none, E_FAIL, kBlue, Keep},
        {InitNew, none, S_OK, kBlack, Dirty, {1, 1}},
        {Load, {{0x80, 0x10, 0x20, 0x30, 9}}, S_OK, kLoaded, Dirty, {1, 1}},
        // A bad or short load keeps the record, yet leaves the object dirty.
        {Load, shortRead, STG_E_READFAULT, kBlue, Dirty},
        {Load, denied, E_ACCESSDENIED, kBlue, Dirty},
        {Save, none, S_OK, kBlue, Clean, {1, 0}, blue},
        {SaveDirty, none, S_OK, kBlue, Dirty, {1, 0}, blue},
        {Save, shortWrite, STG_E_WRITEFAULT, kBlue, Keep},
        {Save, full, STG_E_MEDIUMFULL, kBlue, Keep},
        {AutoLoad, {loaded}, S_OK, kLoaded, Dirty, {1, 0}},
        // A failing or short automation load falls back to preset 0.
        {AutoLoad, denied, E_ACCESSDENIED, kBlack, Dirty, {1, 0}},
        {AutoLoad, {{1, 2, 3}}, STG_E_READFAULT, kBlack, Dirty, {1, 0}},
        {AutoSave, none, S_OK, kBlue, Keep, {}, blue},
        {AutoSave, shortWrite, STG_E_WRITEFAULT, kBlue, Keep},
        {Interpolate, {Bytes(kBlack)}, S_OK, kBlue, Keep, {}, {255, 0, 127, 0}},
        {Interpolate, denied, E_ACCESSDENIED, kBlue, Keep},
        {Interpolate, {{1}}, STG_E_READFAULT, kBlue, Keep},
        // Keys that cannot be read: the record falls back to preset 0.
        {FirstKey, {{}, STG_E_READFAULT, 0}, STG_E_READFAULT, kBlack, Keep},
        {SecondKey, {{1, 2}}, STG_E_READFAULT, kBlack, Keep},
    };
    for (const Row& row : rows)
        for (bool dirty : {false, true}) {
            const std::string name = std::to_string(&row - rows) + (dirty ? " dirty" : " clean");
            Wired w;
            w.fx.ApplyPreset(2);
            ASSERT_EQ(w.fx.Stream()->Save(StreamOf({}).Get(), !dirty), S_OK);
            w.Notices();
            ComPtr<IStream> target;
            EXPECT_EQ(Do(w.fx, row.call, row.src.Make().Get(), target), row.hr) << name;
            EXPECT_EQ(w.fx.Props(), row.record) << name;
            const bool now = row.flag == Dirty || (row.flag == Keep && dirty);
            EXPECT_EQ(w.fx.Stream()->IsDirty(), now ? S_OK : S_FALSE) << name;
            EXPECT_EQ(w.Notices(), row.notices) << name;
            if (target && row.src.limit == ~0u) {
                EXPECT_EQ(BytesOf(target.Get()), row.written) << name;
            }
        }
}

TEST(PluginExtension, FrameRecordFollowsAutomationAndItsKeys) {
    TestEffect fx;
    fx.ApplyPreset(2);
    ASSERT_EQ(fx.SetKeyProps(StreamOf(Bytes(kBlack)).Get(), StreamOf(Bytes(kGreen)).Get()), S_OK);
    fx.SetInterpolationFraction(0.5);
    EXPECT_EQ(fx.TakeFrameProps(), kBlue) << "mode 0: the current record";
    fx.SetAutomationMode(1);
    EXPECT_EQ(fx.TakeFrameProps(), (FilterProps{255, 0, 127, 0}));
    // Failed keys: both become preset 0.
    fx.SetInterpolationFraction(1.0);
    fx.SetKeyProps(StreamOf(Bytes(kGreen)).Get(), StreamOf({}).Get());
    EXPECT_EQ(fx.TakeFrameProps(), kBlack);
    fx.SetInterpolationFraction(0.0);
    EXPECT_EQ(fx.TakeFrameProps(), kBlack);
}

TEST(Presets, CountNamesAndBadArguments) {
    TestEffect fx;
    ULONG count = 0;
    EXPECT_EQ(fx.GetPresetCount(&count), S_OK);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(fx.GetPresetCount(nullptr), E_POINTER);
    const wchar_t* names[] = {L"(Default)", L"Green", L"Blue"};
    wchar_t buf[16];
    for (LONG i = 0; i < 3; ++i) {
        EXPECT_EQ(fx.GetPresetName(i, buf, 16), S_OK);
        EXPECT_STREQ(buf, names[i]);
    }
    std::wmemset(buf, L'x', 16);
    EXPECT_EQ(fx.GetPresetName(3, buf, 8), E_INVALIDARG);
    EXPECT_EQ(fx.GetPresetName(-1, buf, 8), E_INVALIDARG);
    EXPECT_EQ(fx.GetPresetName(0, buf, 0), E_INVALIDARG);
    EXPECT_EQ(buf[0], L'x') << "nothing written on a refused call";
    EXPECT_EQ(fx.GetPresetName(0, nullptr, 8), E_POINTER);
    // A short buffer gets as much as fits, terminated inside it.
    EXPECT_EQ(fx.GetPresetName(0, buf, 4), S_OK);
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
    TestEffect& fx = w.fx;
    const std::set<std::uint32_t> legal = {PackMatte(kBlack), PackMatte(kGreen), PackMatte(kBlue),
                                           PackMatte(kCustom), PackMatte(kLoaded)};
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers, writers;
    for (int r = 0; r < 2; ++r)
        readers.emplace_back([&] {
            while (!stop)
                torn += !legal.count(PackMatte(fx.TakeFrameProps()));
        });
    writers.emplace_back([&] {
        for (int i = 0; i < 2000; ++i) {
            fx.ApplyPreset(i % 3);
            fx.SetProps(&kCustom);
            fx.Stream()->InitNew();
        }
    });
    writers.emplace_back([&] {
        for (int i = 0; i < 2000; ++i) {
            fx.Stream()->Load(StreamOf(Bytes(kLoaded)).Get());
            fx.LoadCurrentProps(StreamOf(Bytes(kGreen)).Get());
            fx.SetNotifySink(i % 2 ? w.sink : nullptr);
            fx.SetNotifyWindow(w.window.hwnd(), kId);
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
