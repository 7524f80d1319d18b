#include <cmath>

#include "test_streams.h"

using namespace velmora;
using namespace velmora::test;

TEST(Presets, CountAndNames) {
    TestEffect fx;
    ULONG count = 0;
    EXPECT_EQ(fx.GetPresetCount(&count), S_OK);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(fx.GetPresetCount(nullptr), E_POINTER);
    const wchar_t* names[] = {L"(Default)", L"Green", L"Blue"};
    for (LONG i = 0; i < 3; ++i) {
        wchar_t buf[64];
        EXPECT_EQ(fx.GetPresetName(i, buf, 64), S_OK);
        EXPECT_STREQ(buf, names[i]);
    }
}

TEST(Presets, NameLookupRejectsBadArgumentsAndAlwaysTerminates) {
    TestEffect fx;
    wchar_t buf[8];
    std::wmemset(buf, L'x', 8);
    EXPECT_EQ(fx.GetPresetName(3, buf, 8), E_INVALIDARG);
    EXPECT_EQ(fx.GetPresetName(-1, buf, 8), E_INVALIDARG);
    EXPECT_EQ(fx.GetPresetName(0, buf, 0), E_INVALIDARG);
    EXPECT_EQ(buf[0], L'x') << "nothing written on a refused call";
    EXPECT_EQ(fx.GetPresetName(0, nullptr, 8), E_POINTER);

    // A short buffer gets as much as fits, terminated inside it.
    EXPECT_EQ(fx.GetPresetName(0, buf, 4), S_OK);
    EXPECT_STREQ(buf, L"(De");
    EXPECT_EQ(buf[4], L'x');
    EXPECT_EQ(fx.GetPresetName(1, buf, 1), S_OK);
    EXPECT_EQ(buf[0], 0);

    // A module without strings: empty name and E_FAIL.
    struct NoStrings : TestEffect {
        NoStrings() { m_hInstance = reinterpret_cast<HINSTANCE>(0x1234); }
    } bare;
    std::wmemset(buf, L'x', 8);
    EXPECT_EQ(bare.GetPresetName(2, buf, 8), E_FAIL);
    EXPECT_EQ(buf[0], 0);
}

TEST(Presets, Blend) {
    const FilterProps black{255, 0, 0, 0}, green{255, 0, 255, 0};
    FilterProps out{};
    BlendFilterProps(&out, black, green, 0.5);
    EXPECT_EQ(out.green, 127); // 127.5 truncated
    BlendFilterProps(&out, green, black, 0.5);
    EXPECT_EQ(out.green, 127); // (0 - 255) * 0.5 + 255 truncated, not rounded
    BlendFilterProps(&out, black, green, 1.0);
    EXPECT_EQ(out, green);
    BlendFilterProps(&out, black, green, 1.7);
    EXPECT_EQ(out, green);
    BlendFilterProps(&out, black, green, -0.3);
    EXPECT_EQ(out, black);
    BlendFilterProps(&out, black, green, std::nan(""));
    EXPECT_EQ(out, black) << "NaN counts as 0";

    const FilterProps odd{17, 200, 3, 99};
    for (double t : {0.0, 0.25, 0.5, 0.99, 1.0}) {
        BlendFilterProps(&out, odd, odd, t);
        EXPECT_EQ(out, odd) << t;
    }
    // Every field moves on its own, including alpha.
    BlendFilterProps(&out, FilterProps{0, 10, 20, 30}, FilterProps{100, 110, 120, 130}, 0.25);
    EXPECT_EQ(out, (FilterProps{25, 35, 45, 55}));
    // Aliased destination.
    FilterProps a = black;
    BlendFilterProps(&a, a, green, 0.5);
    EXPECT_EQ(a, (FilterProps{255, 0, 127, 0}));
}
