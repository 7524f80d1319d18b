#include "test_streams.h"

using namespace velmora;
using namespace velmora::test;
using com::ComPtr;

namespace {

// A bag that only counts what is asked of it.
class CountingBag final : public com::SimpleObject<CountingBag, IPropertyBag> {
public:
    STDMETHOD(Read)(LPCOLESTR, VARIANT*, IErrorLog*) override {
        ++calls;
        return E_INVALIDARG;
    }
    STDMETHOD(Write)(LPCOLESTR, VARIANT*) override {
        ++calls;
        return S_OK;
    }
    int calls = 0;
};
} // namespace

TEST(StreamPersistence, SaveAndLoadTheFourBytes) {
    Wired w;
    TestEffect& fx = w.fx;

    ULARGE_INTEGER size{};
    EXPECT_EQ(fx.GetSizeMax(&size), S_OK);
    EXPECT_EQ(size.QuadPart, 4u);
    EXPECT_EQ(fx.GetSizeMax(nullptr), E_INVALIDARG);

    ComPtr<IStream> s;
    CreateMemoryStream(&s);
    EXPECT_EQ(fx.Stream()->Save(s.Get(), TRUE), S_OK);
    EXPECT_EQ(BytesOf(s.Get()), (std::vector<BYTE>{0xFF, 0, 0, 0}));
    EXPECT_EQ(fx.Stream()->IsDirty(), S_FALSE);
    EXPECT_EQ(w.Notices(), std::make_pair(1, 0));

    EXPECT_EQ(fx.Stream()->Save(s.Get(), FALSE), S_OK);
    EXPECT_EQ(fx.Stream()->IsDirty(), S_OK);
    w.Notices();

    ComPtr<IStream> in = StreamOf({0x80, 0x10, 0x20, 0x30, 0x99});
    EXPECT_EQ(fx.Stream()->Load(in.Get()), S_OK);
    EXPECT_EQ(fx.Props(), (FilterProps{128, 16, 32, 48}));
    EXPECT_EQ(fx.Stream()->IsDirty(), S_OK) << "dirty even right after a load";
    EXPECT_EQ(w.Notices(), std::make_pair(1, 1));
    ULARGE_INTEGER pos{};
    in->Seek({}, STREAM_SEEK_CUR, &pos);
    EXPECT_EQ(pos.QuadPart, 4u) << "the reader stops after the record";

    CLSID clsid{};
    EXPECT_EQ(fx.Stream()->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, kTestClsid);
    EXPECT_EQ(fx.Stream()->GetClassID(nullptr), E_POINTER);
    EXPECT_EQ(fx.Stream()->Load(nullptr), E_POINTER);
    EXPECT_EQ(fx.Stream()->Save(nullptr, TRUE), E_POINTER);
}

TEST(StreamPersistence, BadAndShortStreamsChangeNothing) {
    Wired w;
    TestEffect& fx = w.fx;
    fx.ApplyPreset(1);
    ComPtr<IStream> clean = StreamOf({});
    fx.Stream()->Save(clean.Get(), TRUE);
    w.Notices();

    struct Case {
        HRESULT hr;
        ULONG limit;
        HRESULT want;
    } cases[] = {
        {S_OK, 3, STG_E_READFAULT},          // short, though the stream claims success
        {S_FALSE, 0, STG_E_READFAULT},       // end of stream
        {E_ACCESSDENIED, 4, E_ACCESSDENIED}, // the stream's own failure passes through
    };
    for (const auto& c : cases) {
        auto* s = new ScriptedStream(c.hr, c.limit, {1, 2, 3, 4});
        EXPECT_EQ(fx.Stream()->Load(s), c.want);
        EXPECT_EQ(s->reads, 1);
        s->Release();
        EXPECT_EQ(fx.Props(), (FilterProps{255, 0, 255, 0})) << "no fallback, no partial record";
        EXPECT_EQ(fx.Stream()->IsDirty(), S_OK) << "a load always leaves the object dirty";
        EXPECT_EQ(w.Notices(), std::make_pair(0, 0));
        fx.Stream()->Save(clean.Get(), TRUE);
        w.Notices();
    }

    for (const auto& c :
         {Case{S_OK, 2, STG_E_WRITEFAULT}, Case{STG_E_MEDIUMFULL, 4, STG_E_MEDIUMFULL}}) {
        fx.SetProps(&kPresets[2]);
        auto* s = new ScriptedStream(c.hr, c.limit);
        EXPECT_EQ(fx.Stream()->Save(s, TRUE), c.want);
        EXPECT_EQ(s->writes, 1);
        s->Release();
        EXPECT_EQ(fx.Stream()->IsDirty(), S_OK) << "a failed save keeps the flag";
        EXPECT_EQ(w.Notices(), std::make_pair(0, 1)) << "the set record's notice only";
    }
}

TEST(StoragePersistence, RoundTripThroughContents) {
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
    ULONG n = 0;
    ASSERT_EQ(e->Next(1, &st, &n), S_OK);
    EXPECT_STREQ(st.pwcsName, L"Contents");
    EXPECT_EQ(st.type, static_cast<DWORD>(STGTY_STREAM));
    EXPECT_EQ(st.cbSize.QuadPart, 4u);
    CoTaskMemFree(st.pwcsName);
    EXPECT_EQ(e->Next(1, &st, &n), S_FALSE) << "one element only";

    fx.ApplyPreset(0);
    EXPECT_EQ(fx.Storage()->Load(stg.Get()), S_OK);
    EXPECT_EQ(fx.Props(), p);
    EXPECT_EQ(fx.Storage()->IsDirty(), S_OK);
    // Saving again replaces the stream.
    EXPECT_EQ(fx.Storage()->Save(stg.Get(), FALSE), S_OK);
    EXPECT_EQ(fx.Storage()->InitNew(nullptr), S_OK);
    EXPECT_EQ(fx.Props(), kPresets[0]);
    EXPECT_EQ(fx.Refs(), 1u) << "every reference taken was given back";
}

TEST(StoragePersistence, MissingContentsAndBadArguments) {
    TestEffect fx;
    fx.ApplyPreset(2);
    ComPtr<IStorage> empty;
    CreateMemoryStorage(&empty);
    EXPECT_EQ(fx.Storage()->Load(empty.Get()), STG_E_FILENOTFOUND);
    EXPECT_EQ(fx.Props(), kPresets[2]);
    EXPECT_EQ(fx.Storage()->Load(nullptr), E_INVALIDARG);
    EXPECT_EQ(fx.Storage()->Save(nullptr, TRUE), E_INVALIDARG);
    EXPECT_EQ(fx.SaveCompleted(nullptr), S_OK);
    EXPECT_EQ(fx.HandsOffStorage(), S_OK);
    CLSID clsid{};
    EXPECT_EQ(fx.Storage()->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, kTestClsid);

    // A Contents stream held open elsewhere cannot be opened again.
    ComPtr<IStorage> stg;
    CreateMemoryStorage(&stg);
    fx.Storage()->Save(stg.Get(), TRUE);
    ComPtr<IStream> held;
    ASSERT_EQ(stg->OpenStream(L"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &held),
              S_OK);
    EXPECT_EQ(fx.Storage()->Load(stg.Get()), STG_E_ACCESSDENIED);

    fx.hideStreamPersist = true;
    EXPECT_EQ(fx.Storage()->Load(stg.Get()), E_FAIL);
    EXPECT_EQ(fx.Storage()->IsDirty(), E_FAIL);
}

TEST(PropertyBagPersistence, StoresNothingAndTracksItsFlag) {
    TestEffect fx;
    fx.ApplyPreset(1);
    const DWORD dirty = fx.Dirty();
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
    EXPECT_EQ(bag->calls, 0) << "the map has no data entry";
    bag->Release();
    EXPECT_EQ(fx.Props(), kPresets[1]);
    EXPECT_EQ(fx.Dirty(), dirty);
}
