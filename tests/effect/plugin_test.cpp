#include <set>
#include <thread>

#include "test_streams.h"

using namespace velmora;
using namespace velmora::test;
using com::ComPtr;

// Who hears of a change, and what it does to the dirty flag: a preset tells the window and the
// sink and leaves the flag; a set record tells only the sink; InitNew loads preset 0, tells both
// and leaves the object dirty.
TEST(PluginExtension, ChangesNotifyAndMarkDirtyAsEachShould) {
    Wired w;
    ComPtr<IStream> s;
    CreateMemoryStream(&s);
    ASSERT_EQ(w.fx.Stream()->Save(s.Get(), TRUE), S_OK);
    w.Notices();
    ASSERT_EQ(w.fx.Stream()->IsDirty(), S_FALSE);

    EXPECT_EQ(w.fx.ApplyPreset(1), S_OK);
    EXPECT_EQ(w.fx.Props(), kGreen);
    EXPECT_EQ(w.fx.Stream()->IsDirty(), S_FALSE);
    EXPECT_EQ(w.Notices(), std::make_pair(1, 1));
    EXPECT_EQ(w.fx.ApplyPreset(3), E_INVALIDARG);
    EXPECT_EQ(w.fx.ApplyPreset(-1), E_INVALIDARG);
    EXPECT_EQ(w.fx.Props(), kGreen);
    EXPECT_EQ(w.Notices(), std::make_pair(0, 0));

    const FilterProps p{9, 8, 7, 6};
    EXPECT_EQ(w.fx.SetProps(&p), S_OK);
    EXPECT_EQ(w.fx.Props(), p);
    EXPECT_EQ(w.fx.Stream()->IsDirty(), S_OK);
    EXPECT_EQ(w.Notices(), std::make_pair(0, 1));
    EXPECT_EQ(w.fx.SetProps(nullptr), E_FAIL);
    EXPECT_EQ(w.fx.GetProps(nullptr), E_FAIL);
    EXPECT_EQ(w.Notices(), std::make_pair(0, 0));

    ASSERT_EQ(w.fx.Stream()->Save(s.Get(), TRUE), S_OK);
    w.Notices();
    EXPECT_EQ(w.fx.Stream()->InitNew(), S_OK);
    EXPECT_EQ(w.fx.Props(), kBlack);
    EXPECT_EQ(w.fx.Stream()->IsDirty(), S_OK);
    EXPECT_EQ(w.Notices(), std::make_pair(1, 1));
}

TEST(PluginExtension, AutomationLoadFallsBackToDefault) {
    Wired w;
    w.fx.ApplyPreset(2);
    ComPtr<IStream> saved;
    CreateMemoryStream(&saved);
    w.fx.Stream()->Save(saved.Get(), TRUE);
    w.Notices();

    EXPECT_EQ(w.fx.LoadCurrentProps(StreamOf({0x80, 0x10, 0x20, 0x30}).Get()), S_OK);
    EXPECT_EQ(w.fx.Props(), (FilterProps{0x80, 0x10, 0x20, 0x30}));
    EXPECT_EQ(w.fx.Stream()->IsDirty(), S_OK);
    EXPECT_EQ(w.Notices(), std::make_pair(1, 0));

    // A failing stream and a short one (the stream says S_OK) both fall back to preset 0.
    auto* failing = new ScriptedStream(STG_E_ACCESSDENIED, 4, Bytes(kBlue));
    EXPECT_EQ(w.fx.LoadCurrentProps(failing), STG_E_ACCESSDENIED);
    failing->Release();
    EXPECT_EQ(w.fx.Props(), kBlack);
    EXPECT_EQ(w.Notices(), std::make_pair(1, 0));

    w.fx.ApplyPreset(2);
    w.Notices();
    EXPECT_EQ(w.fx.LoadCurrentProps(StreamOf({1, 2, 3}).Get()), STG_E_READFAULT);
    EXPECT_EQ(w.fx.Props(), kBlack);
    EXPECT_EQ(w.Notices(), std::make_pair(1, 0));
}

// The automation save and the interpolation of two streams write only their output: no record,
// dirty flag or notice of the object's changes.
TEST(PluginExtension, AutomationSaveAndInterpolationTouchNothingOfTheirOwn) {
    Wired w;
    w.fx.ApplyPreset(2);
    ComPtr<IStream> s, out, untouched;
    CreateMemoryStream(&s);
    w.fx.Stream()->Save(s.Get(), TRUE);
    w.Notices();
    CreateMemoryStream(&out);
    EXPECT_EQ(w.fx.SaveCurrentProps(out.Get()), S_OK);
    EXPECT_EQ(BytesOf(out.Get()), Bytes(kBlue));
    auto* shortWrite = new ScriptedStream(S_OK, 2);
    EXPECT_EQ(w.fx.SaveCurrentProps(shortWrite), STG_E_WRITEFAULT);
    shortWrite->Release();

    CreateMemoryStream(&out);
    EXPECT_EQ(w.fx.InterpolateStreams(out.Get(), StreamOf(Bytes(kBlack)).Get(),
                                      StreamOf(Bytes(kGreen)).Get(), 0.5),
              S_OK);
    EXPECT_EQ(BytesOf(out.Get()), (std::vector<BYTE>{255, 0, 127, 0}));
    // The first failing read's code comes back and nothing is written.
    CreateMemoryStream(&untouched);
    EXPECT_EQ(w.fx.InterpolateStreams(untouched.Get(), StreamOf({1}).Get(),
                                      StreamOf(Bytes(kGreen)).Get(), 0.5),
              STG_E_READFAULT);
    auto* bad = new ScriptedStream(E_ACCESSDENIED, 0);
    EXPECT_EQ(w.fx.InterpolateStreams(untouched.Get(), StreamOf(Bytes(kGreen)).Get(), bad, 0.5),
              E_ACCESSDENIED);
    bad->Release();
    EXPECT_TRUE(BytesOf(untouched.Get()).empty());

    EXPECT_EQ(w.fx.Props(), kBlue);
    EXPECT_EQ(w.fx.Stream()->IsDirty(), S_FALSE);
    EXPECT_EQ(w.Notices(), std::make_pair(0, 0));
}

TEST(PluginExtension, FrameRecordFollowsAutomationAndItsKeys) {
    Wired w;
    w.fx.ApplyPreset(2);
    ASSERT_EQ(w.fx.SetKeyProps(StreamOf(Bytes(kBlack)).Get(), StreamOf(Bytes(kGreen)).Get()), S_OK);
    w.fx.SetInterpolationFraction(0.5);
    EXPECT_EQ(w.fx.TakeFrameProps(), kBlue) << "mode 0: the current record";
    w.fx.SetAutomationMode(1);
    EXPECT_EQ(w.fx.TakeFrameProps(), (FilterProps{255, 0, 127, 0}));
    w.fx.SetInterpolationFraction(4.0);
    EXPECT_EQ(w.fx.TakeFrameProps(), kGreen) << "the blend clamps the fraction";
    w.fx.SetAutomationMode(0);
    EXPECT_EQ(w.fx.TakeFrameProps(), kBlue);
    EXPECT_EQ(w.Notices(), std::make_pair(1, 1)) << "only the preset notified";

    // A key record that cannot be read: both keys and the record fall back to preset 0.
    for (bool firstFails : {true, false}) {
        w.fx.ApplyPreset(2);
        w.fx.SetAutomationMode(1);
        w.fx.SetInterpolationFraction(1.0);
        auto* bad = new ScriptedStream(STG_E_READFAULT, 0);
        ComPtr<IStream> good = StreamOf(Bytes(kGreen));
        HRESULT hr =
            firstFails ? w.fx.SetKeyProps(bad, good.Get()) : w.fx.SetKeyProps(good.Get(), bad);
        bad->Release();
        EXPECT_EQ(hr, STG_E_READFAULT);
        EXPECT_EQ(w.fx.Props(), kBlack);
        EXPECT_EQ(w.fx.TakeFrameProps(), kBlack) << "both keys are preset 0";
        w.fx.SetInterpolationFraction(0.0);
        EXPECT_EQ(w.fx.TakeFrameProps(), kBlack);
    }
}

TEST(PluginExtension, InformationBlock) {
    TestEffect fx;
    BYTE buf[40];
    std::memset(buf, 0xAB, sizeof buf);
    EXPECT_EQ(fx.GetInfo(buf, 8), S_OK);
    EXPECT_EQ(buf[0], 2);
    EXPECT_EQ(buf[1] | buf[2] | buf[3] | buf[4] | buf[5] | buf[6] | buf[7], 0);
    EXPECT_EQ(buf[8], 0xAB);
    EXPECT_EQ(fx.GetInfo(buf, 100), S_OK);
    SfPluginInfo info;
    std::memcpy(&info, buf, 32);
    EXPECT_EQ(info.field8, 1.0);
    EXPECT_EQ(info.field16, 1u);
    EXPECT_EQ(info.field20, 1u);
    EXPECT_EQ(info.field24, 0u);
    EXPECT_EQ(buf[32], 0xAB);
    EXPECT_EQ(fx.GetInfo(nullptr, 8), E_POINTER);
}

TEST(PluginExtension, NotificationTargetsAreReplacedAndReleased) {
    TestEffect fx;
    NoticeWindow first, second;
    fx.SetNotifyWindow(first.hwnd(), 1);
    fx.SetNotifyWindow(second.hwnd(), 2);
    fx.ApplyPreset(1);
    EXPECT_EQ(first.Pump(1), 0);
    EXPECT_EQ(second.Pump(2), 1);

    auto* a = new CountingSink;
    auto* b = new CountingSink;
    fx.SetNotifySink(a);
    EXPECT_EQ(a->AddRef(), 3u);
    a->Release();
    fx.SetNotifySink(b); // releases a
    EXPECT_EQ(a->AddRef(), 2u);
    a->Release();
    fx.ApplyPreset(0);
    EXPECT_EQ(a->calls, 0);
    EXPECT_EQ(b->calls, 1);
    fx.SetNotifySink(nullptr);
    EXPECT_EQ(b->AddRef(), 2u);
    b->Release();
    a->Release();
    b->Release();

    // A window that has gone away: posting fails quietly.
    {
        NoticeWindow gone;
        fx.SetNotifyWindow(gone.hwnd(), 3);
    }
    EXPECT_EQ(fx.ApplyPreset(2), S_OK);
}

// Renders take their record while other threads change it: every record seen is one that was
// set whole, never a mix of two.
TEST(PluginExtension, ConcurrentChangesNeverTearTheFrameRecord) {
    TestEffect fx;
    NoticeWindow window;
    fx.SetNotifyWindow(window.hwnd(), kId);
    auto* sink = new CountingSink;
    fx.SetNotifySink(sink);
    const FilterProps custom{1, 2, 3, 4};
    const std::set<std::uint32_t> legal = {PackMatte(kBlack), PackMatte(kGreen), PackMatte(kBlue),
                                           PackMatte(custom), PackMatte({0x80, 0x10, 0x20, 0x30})};
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> threads;
    for (int r = 0; r < 2; ++r)
        threads.emplace_back([&] {
            while (!stop)
                if (!legal.count(PackMatte(fx.TakeFrameProps())))
                    ++torn;
        });
    threads.emplace_back([&] {
        for (int i = 0; i < 2000; ++i) {
            fx.ApplyPreset(i % 3);
            fx.SetProps(&custom);
            fx.Stream()->InitNew();
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; i < 2000; ++i) {
            fx.Stream()->Load(StreamOf({0x80, 0x10, 0x20, 0x30}).Get());
            fx.LoadCurrentProps(StreamOf(Bytes(kGreen)).Get());
            fx.SetAutomationMode(0);
            fx.SetNotifySink(i % 2 ? sink : nullptr);
            fx.SetNotifyWindow(window.hwnd(), kId);
        }
    });
    threads[2].join();
    threads[3].join();
    stop = true;
    threads[0].join();
    threads[1].join();
    EXPECT_EQ(torn, 0);
    window.Pump(kId);
    fx.SetNotifySink(nullptr);
    sink->Release();
}
