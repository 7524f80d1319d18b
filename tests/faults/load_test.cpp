// Rendering under load: four threads execute frames (each effect on a surface of its own, all on
// one task manager) while three others change every effect's record in every way a host or the
// settings page can. Every frame must be the rule's result for ONE record set whole: never bands
// of different records, never a record mixed from two.
#include <deque>
#include <set>
#include <thread>

#include "../effect/effect_rig.h"
#include "../soak.h"

using namespace velmora;
using namespace velmora::test;

namespace {

constexpr LONG kWidth = 256, kHeight = 64; // four pieces per frame
constexpr int kRenderers = 4;

// Every record a changer sets, and the blend of the two keys at fraction 0.5.
const FilterProps kCustom{255, 40, 80, 120}, kLoaded{0x80, 0x10, 0x20, 0x30},
    kStored{0xFF, 0xC8, 0x64, 0x0A}, kKey1{255, 250, 0, 0}, kKey2{255, 0, 0, 250};

} // namespace

TEST(Load, ExecutesWhileTheParameterChangesGiveOneWholeRecordPerFrame) {
    const long frames = Count(400, 10000); // in all, over the four renderers
    const auto input = KeyedFrame(static_cast<size_t>(kWidth) * kHeight, 29);

    std::vector<FilterProps> candidates = {kPresets[0], kPresets[1], kPresets[2],
                                           kCustom,     kLoaded,     kStored};
    FilterProps blend{};
    BlendFilterProps(&blend, kKey1, kKey2, 0.5);
    candidates.push_back(blend);
    std::vector<std::vector<BYTE>> expected;
    for (const auto& c : candidates)
        expected.push_back(Unmatted(input, c));
    ASSERT_EQ(std::set(expected.begin(), expected.end()).size(), expected.size())
        << "every record gives a frame of its own";

    // One task manager for all: the effects share nothing else.
    ComPtr<IDXTaskManager> manager;
    ASSERT_EQ(DXCreateTaskManager(4, &manager), S_OK);
    std::deque<FrameRig> renderers;
    for (int r = 0; r < kRenderers; ++r) {
        FrameRig& rig = renderers.emplace_back(kWidth, kHeight, 29, 4, manager.Get());
        ASSERT_EQ(rig.fx->SetKeyProps(StreamOf(kKey1).Get(), StreamOf(kKey2).Get()), S_OK);
        rig.fx->SetInterpolationFraction(0.5);
    }

    std::atomic<long> next{0}, torn{0};
    std::atomic<int> rendering{kRenderers};
    std::vector<std::atomic<long>> seen(candidates.size());
    std::vector<std::thread> threads;
    for (int t = 0; t < kRenderers; ++t)
        threads.emplace_back([&, t] {
            FrameRig& r = renderers[t];
            while (next++ < frames) {
                EXPECT_EQ(r.Rerun(), S_OK);
                const auto it = std::find(expected.begin(), expected.end(), r.memory);
                ++(it == expected.end() ? torn : seen[it - expected.begin()]);
            }
            --rendering;
        });

    // Changers: each round touches every effect.
    auto each = [&](auto&& f) {
        for (auto& r : renderers)
            f(r.effect.Get());
    };
    threads.emplace_back([&] {
        for (int i = 0; rendering > 0; ++i)
            each([&](IUnknown* fx) {
                Query<IStaticFilterPreset>(fx)->ApplyPreset(i % 3);
                Query<ISfExchangeProps<FilterProps>>(fx)->SetProps(&kCustom);
            });
    });
    threads.emplace_back([&] {
        for (int i = 0; rendering > 0; ++i)
            each([&](IUnknown* fx) {
                auto persist = Query<IPersistStreamInit>(fx);
                EXPECT_EQ(persist->Load(StreamOf(kLoaded).Get()), S_OK);
                // A short stream fails and changes nothing.
                EXPECT_TRUE(FAILED(persist->Load(StreamOf(kStored, 3).Get())));
                EXPECT_EQ(Query<IPersistStorage>(fx)->Load(StorageOf(kStored).Get()), S_OK);
                if (i % 4 == 0)
                    persist->InitNew();
            });
    });
    threads.emplace_back([&] {
        for (int i = 0; rendering > 0; ++i)
            each([&](IUnknown* fx) {
                auto automation = Query<IDXTSfAutomation>(fx);
                automation->LoadCurrentProps(StreamOf(kPresets[1]).Get());
                automation->SetAutomationMode(i % 2);
            });
        each([&](IUnknown* fx) { Query<IDXTSfAutomation>(fx)->SetAutomationMode(0); });
    });
    for (auto& t : threads)
        t.join();

    EXPECT_EQ(torn.load(), 0) << "frames that are no record's result";
    long kinds = 0;
    for (size_t c = 0; c < seen.size(); ++c)
        kinds += seen[c] > 0;
    EXPECT_GE(kinds, 2) << "the record changed between frames";
    for (auto& r : renderers)
        r.Disconnect();

    Figure("frames checked", static_cast<double>(frames));
    Figure("records seen", static_cast<double>(kinds));
}
