// Rendering under load: four threads execute frames (each effect on a surface of its own, all on
// one task manager) while three others change every effect's record in every way a host or the
// settings page can. Every frame must be the rule's result for ONE record set whole: never bands
// of different records, never a record mixed from two.
#include <algorithm>
#include <atomic>
#include <optional>
#include <set>
#include <thread>

#include "../effect/test_streams.h"
#include "../soak.h"
#include "../effect/frames.h"

using namespace velmora;
using namespace velmora::test;

namespace {

ComPtr<IStream> StreamOf(const FilterProps& p, size_t size = 4) {
    auto bytes = Bytes(p);
    bytes.resize(size);
    return test::StreamOf(bytes);
}

constexpr LONG kWidth = 256, kHeight = 64; // four pieces per frame
constexpr int kRenderers = 4;

// Every record a changer sets, and the blend of the two keys at fraction 0.5.
const FilterProps kCustom{255, 40, 80, 120}, kLoaded{0x80, 0x10, 0x20, 0x30},
    kStored{0xFF, 0xC8, 0x64, 0x0A}, kKey1{255, 250, 0, 0}, kKey2{255, 0, 0, 250};

struct Renderer {
    std::vector<BYTE> memory;
    ComPtr<IDXSurface> surface;
    std::optional<EffectRig> fx;
};

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
    std::vector<Renderer> renderers(kRenderers);
    for (auto& r : renderers) {
        r.memory = input;
        ASSERT_EQ(DXCreateSurfaceOnMemory(DXPF_PMARGB32, r.memory.data(), kWidth * 4, kWidth,
                                          kHeight, &r.surface),
                  S_OK);
        r.fx.emplace(r.surface.Get(), 4, manager.Get());
        auto automation = Query<IDXTSfAutomation>(r.fx->effect.Get());
        ASSERT_EQ(automation->SetKeyProps(StreamOf(kKey1).Get(), StreamOf(kKey2).Get()), S_OK);
        automation->SetInterpolationFraction(0.5);
    }

    std::atomic<long> next{0}, torn{0};
    std::atomic<int> rendering{kRenderers};
    std::vector<std::atomic<long>> seen(candidates.size());
    std::vector<std::thread> threads;
    for (int t = 0; t < kRenderers; ++t)
        threads.emplace_back([&, t] {
            Renderer& r = renderers[t];
            while (next++ < frames) {
                std::copy(input.begin(), input.end(), r.memory.begin());
                EXPECT_EQ(r.fx->Run(), S_OK);
                const auto it = std::find(expected.begin(), expected.end(), r.memory);
                ++(it == expected.end() ? torn : seen[it - expected.begin()]);
            }
            --rendering;
        });

    // Changers: each round touches every effect.
    auto each = [&](auto&& f) {
        for (auto& r : renderers)
            f(r.fx->effect.Get());
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
        r.fx->Disconnect();

    Figure("frames checked", static_cast<double>(frames));
    Figure("records seen", static_cast<double>(kinds));
}
