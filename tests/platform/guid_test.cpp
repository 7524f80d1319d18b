#include <gtest/gtest.h>

#include "platform/com/objidl.h"

using namespace velmora::com;

TEST(Guid, ParseAndFormat) {
    constexpr GUID g = MakeGuid("{7FD52380-4E07-101B-AE2D-08002B2EC713}");
    EXPECT_EQ(g.Data1, 0x7FD52380u);
    EXPECT_EQ(g.Data2, 0x4E07);
    EXPECT_EQ(g.Data3, 0x101B);
    EXPECT_EQ(g.Data4[0], 0xAE);
    EXPECT_EQ(g.Data4[7], 0x13);
    EXPECT_EQ(GuidToString(g), "{7FD52380-4E07-101B-AE2D-08002B2EC713}");
    EXPECT_EQ(g, uuidof<IPersistStreamInit>());

    GUID parsed{};
    EXPECT_EQ(GuidFromString("{7fd52380-4e07-101b-ae2d-08002b2ec713}", &parsed), S_OK);
    EXPECT_EQ(parsed, g) << "hex digits in either case";
    EXPECT_EQ(CLSIDFromString(L"{7FD52380-4E07-101B-AE2D-08002B2EC713}", &parsed), S_OK);
    EXPECT_EQ(parsed, g);

    for (const char* bad :
         {"", "{", "7FD52380-4E07-101B-AE2D-08002B2EC713", "{7FD52380-4E07-101B-AE2D-08002B2EC713",
          "{7FD52380-4E07-101B-AE2D-08002B2EC713}x", "{7FD52380-4E07-101B-AE2D-08002B2EC71G}",
          "{7FD52380+4E07-101B-AE2D-08002B2EC713}"}) {
        GUID out = g;
        EXPECT_EQ(GuidFromString(bad, &out), CO_E_CLASSSTRING) << bad;
        EXPECT_EQ(out, g) << "untouched on failure";
    }
    EXPECT_EQ(GuidFromString(static_cast<const char*>(nullptr), &parsed), CO_E_CLASSSTRING);
    EXPECT_EQ(GuidFromString("{7FD52380-4E07-101B-AE2D-08002B2EC713}", nullptr), E_POINTER);

    OLECHAR buf[39];
    EXPECT_EQ(StringFromGUID2(g, buf, 38), 0);
    EXPECT_EQ(StringFromGUID2(g, buf, 39), 39);
    EXPECT_STREQ(buf, L"{7FD52380-4E07-101B-AE2D-08002B2EC713}");
}

TEST(TaskAllocator, AllocatesAndReportsSizes) {
    void* p = CoTaskMemAlloc(10);
    ASSERT_NE(p, nullptr);
    p = CoTaskMemRealloc(p, 1000);
    ASSERT_NE(p, nullptr);
    IMalloc* m = nullptr;
    EXPECT_EQ(CoGetMalloc(1, &m), S_OK);
    EXPECT_GE(m->GetSize(p), 1000u);
    m->Release();
    CoTaskMemFree(p);
    CoTaskMemFree(nullptr);
    EXPECT_EQ(CoGetMalloc(0, &m), E_INVALIDARG);
    EXPECT_EQ(m, nullptr);
}
