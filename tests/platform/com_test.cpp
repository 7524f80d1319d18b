// The COM basics: GUID text, the memory stream and storage, the property bag, the marshaler.
#include <gtest/gtest.h>

#include "platform/com/memory.h"
#include "platform/com/objidl.h"
#include "platform/com/ocidl.h"
#include "platform/com/propbag.h"
#include "../support/com.h"

using namespace velmora::com;

TEST(Guid, BracedTextParsesAndFormats) {
    constexpr GUID g = MakeGuid("{7FD52380-4E07-101B-AE2D-08002B2EC713}");
    EXPECT_EQ(g.Data1, 0x7FD52380u);
    EXPECT_EQ(g.Data4[7], 0x13);
    EXPECT_EQ(GuidToString(g), "{7FD52380-4E07-101B-AE2D-08002B2EC713}");
    OLECHAR buf[39];
    EXPECT_EQ(StringFromGUID2(g, buf, 38), 0) << "no room for the terminator";
    EXPECT_EQ(StringFromGUID2(g, buf, 39), 39);
    EXPECT_STREQ(buf, L"{7FD52380-4E07-101B-AE2D-08002B2EC713}");

    GUID parsed{};
    EXPECT_EQ(GuidFromString("{7fd52380-4e07-101b-ae2d-08002b2ec713}", &parsed), S_OK);
    EXPECT_EQ(parsed, g);
    for (const char* bad :
         {"7FD52380-4E07-101B-AE2D-08002B2EC713", "{7FD52380-4E07-101B-AE2D-08002B2EC71G}",
          "{7FD52380-4E07-101B-AE2D-08002B2EC713}x"}) {
        GUID out = g;
        EXPECT_EQ(GuidFromString(bad, &out), CO_E_CLASSSTRING) << bad;
        EXPECT_EQ(out, g) << "untouched on failure";
    }
}

TEST(MemoryStream, ReadAtTheEndAndSeekBeforeTheStart) {
    ComPtr<IStream> s;
    ASSERT_EQ(CreateMemoryStream("abcdef", 6, &s), S_OK);
    char buf[8];
    ULONG n = 99;
    EXPECT_EQ(s->Read(buf, 8, &n), S_OK);
    EXPECT_EQ(n, 6u) << "a short read";
    EXPECT_EQ(s->Read(buf, 8, &n), S_OK) << "the end is not an error";
    EXPECT_EQ(n, 0u);

    LARGE_INTEGER off;
    off.QuadPart = -7;
    ULARGE_INTEGER pos{};
    EXPECT_EQ(s->Seek(off, STREAM_SEEK_END, &pos), STG_E_INVALIDFUNCTION);
}

TEST(MemoryStorage, CreateReplacesMissingIsNotFoundOpensAreExclusive) {
    constexpr DWORD kRW = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
    constexpr DWORD kR = STGM_READ | STGM_SHARE_EXCLUSIVE;
    ComPtr<IStorage> stg;
    ASSERT_EQ(CreateMemoryStorage(&stg), S_OK);
    ComPtr<IStream> s, other;
    ASSERT_EQ(stg->CreateStream(L"Contents", kRW, 0, 0, &s), S_OK);
    s->Write("abcd", 4, nullptr);
    EXPECT_EQ(stg->OpenStream(L"Contents", nullptr, kR, 0, &other), STG_E_ACCESSDENIED);
    EXPECT_EQ(stg->CreateStream(L"Contents", kRW | STGM_CREATE, 0, 0, &other), STG_E_ACCESSDENIED);
    s.Reset();

    ASSERT_EQ(stg->CreateStream(L"Contents", kRW | STGM_CREATE, 0, 0, &s), S_OK);
    s.Reset();
    ASSERT_EQ(stg->OpenStream(L"Contents", nullptr, kR, 0, &s), S_OK);
    STATSTG st{};
    s->Stat(&st, STATFLAG_NONAME);
    EXPECT_EQ(st.cbSize.QuadPart, 0u) << "replaced by an empty stream";

    EXPECT_EQ(stg->OpenStream(L"Missing", nullptr, kR, 0, &other), STG_E_FILENOTFOUND);
    EXPECT_EQ(other.Get(), nullptr);
}

TEST(PropertyBag, MapRoundTripAndARefusedValueFailsTheLoad) {
    const PropertyMapEntry map[] = {
        {L"Level", VT_I4, nullptr,
         [](void* o, VARIANT* v) {
             v->vt = VT_I4;
             v->lVal = *static_cast<LONG*>(o);
             return S_OK;
         },
         [](void* o, const VARIANT& v) {
             if (v.lVal < 0)
                 return E_INVALIDARG;
             *static_cast<LONG*>(o) = v.lVal;
             return S_OK;
         }},
        {nullptr, 0, nullptr, nullptr, nullptr},
    };
    ComPtr<IPropertyBag> bag;
    ASSERT_EQ(CreateMemoryPropertyBag(&bag), S_OK);
    LONG saved = 42, loaded = 0;
    EXPECT_EQ(SavePropertyMap(bag.Get(), TRUE, TRUE, map, &saved), S_OK);
    EXPECT_EQ(LoadPropertyMap(bag.Get(), nullptr, map, &loaded), S_OK);
    EXPECT_EQ(loaded, 42);

    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = -5;
    bag->Write(L"level", &v); // names compare without case
    EXPECT_EQ(LoadPropertyMap(bag.Get(), nullptr, map, &loaded), E_INVALIDARG);
    EXPECT_EQ(loaded, 42);
}

// Inside an outer object the marshaler's IMarshal passes every IUnknown call to the outer; its
// inner unknown keeps its own count and answers IUnknown (itself) and IMarshal only. Alone, the
// inner unknown is its identity.
TEST(FreeThreadedMarshaler, InnerAndOuterUnknowns) {
    velmora::test::CountingOuter outer;
    IUnknown* inner = nullptr;
    ASSERT_EQ(CoCreateFreeThreadedMarshaler(&outer, &inner), S_OK);
    EXPECT_EQ(outer.refs, 1u) << "the inner object holds no reference on its outer";
    IMarshal* marshal = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_PPV_ARGS(&marshal)), S_OK);
    EXPECT_EQ(outer.refs, 2u);
    IUnknown* unk = nullptr;
    ASSERT_EQ(marshal->QueryInterface(IID_PPV_ARGS(&unk)), S_OK);
    EXPECT_EQ(unk, &outer);
    unk->Release();
    EXPECT_EQ(inner->QueryInterface(IID_PPV_ARGS(&unk)), S_OK);
    EXPECT_EQ(unk, inner);
    EXPECT_EQ(unk->Release(), 1u);
    void* none = &none;
    EXPECT_EQ(inner->QueryInterface(uuidof<IStream>(), &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(inner->QueryInterface(uuidof<IMarshal>(), nullptr), E_POINTER);
    EXPECT_EQ(marshal->Release(), 1u);
    EXPECT_EQ(outer.refs, 1u);
    EXPECT_EQ(inner->Release(), 0u);

    ASSERT_EQ(CoCreateFreeThreadedMarshaler(nullptr, &inner), S_OK);
    ASSERT_EQ(inner->QueryInterface(IID_PPV_ARGS(&marshal)), S_OK);
    ASSERT_EQ(marshal->QueryInterface(IID_PPV_ARGS(&unk)), S_OK);
    EXPECT_EQ(unk, inner);
    EXPECT_EQ(unk->Release(), 2u);
    EXPECT_EQ(marshal->Release(), 1u);
    EXPECT_EQ(inner->Release(), 0u);
}
