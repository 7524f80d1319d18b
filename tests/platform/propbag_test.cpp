#include <gtest/gtest.h>

#include "platform/com/objidl.h"
#include "platform/com/propbag.h"

using namespace velmora::com;

namespace {
struct Knob {
    LONG level = 0;
    BSTR label = nullptr;
    ~Knob() { SysFreeString(label); }
};
const CLSID kPage = MakeGuid("{AAAAAAAA-0000-0000-0000-000000000001}");
const PropertyMapEntry kMap[] = {
    {nullptr, 0, &kPage, nullptr, nullptr}, // page only: skipped
    {L"Level", VT_I4, nullptr,
     [](void* o, VARIANT* v) {
         v->vt = VT_I4;
         v->lVal = static_cast<Knob*>(o)->level;
         return S_OK;
     },
     [](void* o, const VARIANT& v) {
         if (v.lVal < 0)
             return E_INVALIDARG;
         static_cast<Knob*>(o)->level = v.lVal;
         return S_OK;
     }},
    {L"Label", VT_BSTR, nullptr,
     [](void* o, VARIANT* v) {
         v->vt = VT_BSTR;
         v->bstrVal = SysAllocString(static_cast<Knob*>(o)->label);
         return S_OK;
     },
     [](void* o, const VARIANT& v) {
         auto* k = static_cast<Knob*>(o);
         SysFreeString(k->label);
         k->label = SysAllocString(v.bstrVal);
         return S_OK;
     }},
    {nullptr, 0, nullptr, nullptr, nullptr},
};
} // namespace

TEST(PropertyBag, MapRoundTripWithCoercion) {
    ComPtr<IPropertyBag> bag;
    ASSERT_EQ(CreateMemoryPropertyBag(&bag), S_OK);
    Knob a;
    a.level = 42;
    a.label = SysAllocString(L"hello");
    EXPECT_EQ(SavePropertyMap(bag.Get(), TRUE, TRUE, kMap, &a), S_OK);

    Knob b;
    EXPECT_EQ(LoadPropertyMap(bag.Get(), nullptr, kMap, &b), S_OK);
    EXPECT_EQ(b.level, 42);
    EXPECT_STREQ(b.label, L"hello");

    // The bag converts to the type the reader asks for; names compare without case.
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    EXPECT_EQ(bag->Read(L"LEVEL", &v, nullptr), S_OK);
    EXPECT_STREQ(v.bstrVal, L"42");
    VariantClear(&v);
    v.vt = VT_UI1;
    VARIANT big;
    VariantInit(&big);
    big.vt = VT_I4;
    big.lVal = 300;
    bag->Write(L"Big", &big);
    EXPECT_EQ(bag->Read(L"Big", &v, nullptr), DISP_E_OVERFLOW);
    EXPECT_EQ(bag->Read(L"Nothing", &v, nullptr), E_INVALIDARG);
}

TEST(PropertyBag, MissingValuesSkippedRefusedValuesFail) {
    ComPtr<IPropertyBag> bag;
    CreateMemoryPropertyBag(&bag);
    Knob k;
    k.level = 7;
    EXPECT_EQ(LoadPropertyMap(bag.Get(), nullptr, kMap, &k), S_OK)
        << "an empty bag changes nothing";
    EXPECT_EQ(k.level, 7);

    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = -5;
    bag->Write(L"Level", &v);
    EXPECT_EQ(LoadPropertyMap(bag.Get(), nullptr, kMap, &k), E_INVALIDARG);
    EXPECT_EQ(k.level, 7);

    // A map with only a page entry never touches the bag, so even a null one is fine.
    const PropertyMapEntry pageOnly[] = {{nullptr, 0, &kPage, nullptr, nullptr},
                                         {nullptr, 0, nullptr, nullptr, nullptr}};
    EXPECT_EQ(LoadPropertyMap(nullptr, nullptr, pageOnly, &k), S_OK);
    EXPECT_EQ(SavePropertyMap(nullptr, TRUE, TRUE, pageOnly, &k), S_OK);
    EXPECT_EQ(LoadPropertyMap(nullptr, nullptr, kMap, &k), E_POINTER);
}
