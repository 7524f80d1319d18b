#include <gtest/gtest.h>

#include "platform/win32/strings.h"

using namespace velmora::win32;

namespace {
HINSTANCE Module(int n) {
    return reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(0x5000 + n));
}
} // namespace

TEST(StringTable, LoadNarrowAndWide) {
    AddStrings(Module(1), kLangEnglishUS, {{105, "(Default)"}, {106, "Grün"}});
    AddStrings(Module(1), 1031, {{106, "Gruen-de"}, {200, "Nur deutsch"}});
    AddStrings(Module(2), kLangEnglishUS, {{105, "other module"}});

    char a[16];
    EXPECT_EQ(LoadStringA(Module(1), 105, a, 16), 9);
    EXPECT_STREQ(a, "(Default)");
    EXPECT_EQ(LoadStringA(Module(1), 105, a, 4), 3) << "truncated, terminated";
    EXPECT_STREQ(a, "(De");
    EXPECT_EQ(LoadStringA(Module(2), 105, a, 16), 12) << "tables are per module";
    EXPECT_EQ(LoadStringA(Module(1), 200, a, 16), 11) << "another language if US English lacks it";

    wchar_t w[16];
    EXPECT_EQ(LoadStringW(Module(1), 106, w, 16), 4);
    EXPECT_STREQ(w, L"Grün") << "US English wins, UTF-8 widened";
    const wchar_t* direct = nullptr;
    EXPECT_EQ(LoadStringW(Module(1), 105, reinterpret_cast<LPWSTR>(&direct), 0), 9);
    EXPECT_EQ(std::wstring(direct, 9), L"(Default)");

    a[0] = 'x';
    EXPECT_EQ(LoadStringA(Module(1), 999, a, 16), 0);
    EXPECT_EQ(a[0], 0);
    EXPECT_EQ(LoadStringA(Module(1), 105, nullptr, 16), 0);
    EXPECT_EQ(LoadStringA(Module(1), 105, a, 0), 0);

    RemoveStrings(Module(1));
    EXPECT_EQ(LoadStringA(Module(1), 105, a, 16), 0);
}

TEST(StringTable, ModuleOfAnAddress) {
    static int here;
    HINSTANCE h = ModuleFromAddress(&here);
    EXPECT_NE(h, nullptr);
    EXPECT_EQ(ModuleFromAddress(reinterpret_cast<const void*>(&ModuleFromAddress)) == h, false)
        << "the platform library is a module of its own";
}
