#include "test_streams.h"

using namespace velmora;
using namespace velmora::test;
using com::ComPtr;

TEST(StreamPersistence, RoundTrip) {
    TestEffect fx, back;
    const FilterProps p{7, 77, 177, 227};
    fx.SetProps(&p);
    ComPtr<IStream> s = StreamOf({});
    ASSERT_EQ(fx.Stream()->Save(s.Get(), TRUE), S_OK);
    s->Seek({}, STREAM_SEEK_SET, nullptr);
    ASSERT_EQ(back.Stream()->Load(s.Get()), S_OK);
    EXPECT_EQ(back.Props(), p);
    ULARGE_INTEGER size{};
    EXPECT_EQ(fx.GetSizeMax(&size), S_OK);
    EXPECT_EQ(size.QuadPart, 4u);
}

TEST(StoragePersistence, RoundTripThroughContentsAlone) {
    TestEffect fx;
    ComPtr<IStorage> stg;
    ASSERT_EQ(CreateMemoryStorage(&stg), S_OK);
    const FilterProps p{7, 77, 177, 227};
    fx.SetProps(&p);
    EXPECT_EQ(fx.Storage()->Save(stg.Get(), TRUE), S_OK);
    EXPECT_EQ(fx.Storage()->IsDirty(), S_FALSE);
    ComPtr<IEnumSTATSTG> e;
    ASSERT_EQ(stg->EnumElements(0, nullptr, 0, &e), S_OK);
    STATSTG st{};
    ASSERT_EQ(e->Next(1, &st, nullptr), S_OK);
    EXPECT_STREQ(st.pwcsName, L"Contents");
    EXPECT_EQ(st.type, static_cast<DWORD>(STGTY_STREAM));
    EXPECT_EQ(st.cbSize.QuadPart, 4u);
    CoTaskMemFree(st.pwcsName);
    EXPECT_EQ(e->Next(1, &st, nullptr), S_FALSE) << "one element only";

    fx.ApplyPreset(0);
    EXPECT_EQ(fx.Storage()->Load(stg.Get()), S_OK);
    EXPECT_EQ(fx.Props(), p);

    // Without "Contents", or with it held open elsewhere: refused, the record kept.
    ComPtr<IStream> held;
    ASSERT_EQ(stg->OpenStream(L"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &held),
              S_OK);
    fx.ApplyPreset(2);
    EXPECT_EQ(fx.Storage()->Load(stg.Get()), STG_E_ACCESSDENIED);
    ComPtr<IStorage> empty;
    CreateMemoryStorage(&empty);
    EXPECT_EQ(fx.Storage()->Load(empty.Get()), STG_E_FILENOTFOUND);
    EXPECT_EQ(fx.Props(), kPresets[2]);
}

// The map has no data entry: a bag is never asked, and only its own flag moves.
TEST(PropertyBagPersistence, StoresNothingAndTracksItsFlag) {
    class CountingBag final : public com::SimpleObject<CountingBag, IPropertyBag> {
    public:
        STDMETHOD(Read)(LPCOLESTR, VARIANT*, IErrorLog*) override { return ++calls, E_INVALIDARG; }
        STDMETHOD(Write)(LPCOLESTR, VARIANT*) override { return ++calls, S_OK; }
        int calls = 0;
    };
    TestEffect fx;
    fx.ApplyPreset(1);
    fx.Stream()->Save(StreamOf({}).Get(), TRUE);
    auto* bag = new CountingBag;
    EXPECT_EQ(fx.Bag()->InitNew(), S_OK);
    EXPECT_EQ(fx.m_bRequiresSave, 1u);
    EXPECT_EQ(fx.Bag()->Save(bag, FALSE, TRUE), S_OK);
    EXPECT_EQ(fx.m_bRequiresSave, 1u);
    EXPECT_EQ(fx.Bag()->Save(bag, TRUE, TRUE), S_OK);
    EXPECT_EQ(fx.m_bRequiresSave, 0u);
    fx.m_bRequiresSave = 1;
    EXPECT_EQ(fx.Bag()->Load(bag, nullptr), S_OK);
    EXPECT_EQ(fx.m_bRequiresSave, 0u);
    EXPECT_EQ(bag->calls, 0);
    bag->Release();
    EXPECT_EQ(fx.Props(), kPresets[1]);
    EXPECT_EQ(fx.Stream()->IsDirty(), S_FALSE);
}
