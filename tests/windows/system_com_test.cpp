// The module as a Windows host meets it through the system's own COM: registered by regsvr32,
// created by CLSID and ProgID, found by category, saved into the system's streams and compound
// files. Never linked.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "api/velmora.h"
#include "platform/com/compound_file.h"
#include "tests/server/rig.h"
#include "tests/support/com.h"

using velmora::com::ComPtr;
using velmora::test::Query;

namespace {

using Exchange = ISfExchangeProps<FilterProps>;
constexpr FilterProps kGreen{255, 0, 255, 0};

class SystemCom : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Module().Register(), S_OK); }

    static ComPtr<IUnknown> Create(REFCLSID clsid = CLSID_Velmora) {
        ComPtr<IUnknown> effect;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, uuidof<IUnknown>(),
                                   reinterpret_cast<void**>(&effect)),
                  S_OK);
        return effect;
    }
    static FilterProps Props(IUnknown* effect) {
        FilterProps p{};
        EXPECT_EQ(Query<Exchange>(effect)->GetProps(&p), S_OK);
        return p;
    }
    // A file beside the program.
    static std::wstring Beside(const wchar_t* name) {
        wchar_t path[MAX_PATH];
        const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
        return (std::filesystem::path(std::wstring(path, n)).parent_path() / name).wstring();
    }
};

} // namespace

TEST_F(SystemCom, CreatedByClsidAndBothProgIdsWithEveryInterfaceOfTheMap) {
    for (const wchar_t* progId : {L"Tarnwell.Velmora", L"Tarnwell.Velmora.1"}) {
        CLSID clsid{};
        ASSERT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
        EXPECT_EQ(clsid, CLSID_Velmora);
    }
    ComPtr<IUnknown> effect = Create();
    ASSERT_TRUE(effect);
    const std::array<const IID*, 16> published = {&uuidof<ISfVideoPluginExtension>(),
                                                  &uuidof<IDXTSfAutomation>(),
                                                  &uuidof<IStaticFilterPreset>(),
                                                  &uuidof<IPersistStreamInit>(),
                                                  &uuidof<Exchange>(),
                                                  &uuidof<IVelmora>(),
                                                  &uuidof<IDispatch>(),
                                                  &uuidof<IMarshal>(),
                                                  &uuidof<IDXEffect>(),
                                                  &uuidof<IObjectSafety>(),
                                                  &uuidof<IPersistStorage>(),
                                                  &uuidof<ISpecifyPropertyPages>(),
                                                  &uuidof<IPersistPropertyBag>(),
                                                  &uuidof<IDXTransform>(),
                                                  &uuidof<IDXBaseObject>(),
                                                  &uuidof<IObjectWithSite>()};
    for (const IID* iid : published) {
        ComPtr<IUnknown> p, back;
        ASSERT_EQ(effect->QueryInterface(*iid, reinterpret_cast<void**>(&p)), S_OK)
            << velmora::com::GuidToString(*iid);
        // Every interface leads back to the same identity.
        ASSERT_EQ(p->QueryInterface(uuidof<IUnknown>(), reinterpret_cast<void**>(&back)), S_OK);
        EXPECT_EQ(back.Get(), effect.Get());
    }
    IUnknown* none = nullptr;
    EXPECT_EQ(effect->QueryInterface(uuidof<IPropertyPage>(), reinterpret_cast<void**>(&none)),
              E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
}

TEST_F(SystemCom, ListedInTheImageTransformCategory) {
    ComPtr<ICatInformation> cats;
    ASSERT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                               uuidof<ICatInformation>(), reinterpret_cast<void**>(&cats)),
              S_OK);
    CATID catid = CATID_DXImageTransform;
    // No categories required (Wine refuses a null list even then).
    EXPECT_EQ(cats->IsClassOfCategories(CLSID_Velmora, 1, &catid, 0, &catid), S_OK);
    ComPtr<IEnumCLSID> classes;
    ASSERT_EQ(cats->EnumClassesOfCategories(1, &catid, static_cast<ULONG>(-1), nullptr, &classes),
              S_OK);
    bool found = false;
    CLSID clsid{};
    while (classes->Next(1, &clsid, nullptr) == S_OK)
        found |= clsid == CLSID_Velmora;
    EXPECT_TRUE(found);
}

TEST_F(SystemCom, StreamsRoundTripAndAShortOneIsRefusedWithTheRecordKept) {
    ComPtr<IUnknown> source = Create(), copy = Create();
    ASSERT_EQ(Query<IPersistStreamInit>(source.Get())->InitNew(), S_OK);
    ASSERT_EQ(Query<Exchange>(source.Get())->SetProps(&kGreen), S_OK);
    ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    ASSERT_EQ(Query<IPersistStreamInit>(source.Get())->Save(stream.Get(), TRUE), S_OK);
    STATSTG stat{};
    ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, 4u);

    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ASSERT_EQ(Query<IPersistStreamInit>(copy.Get())->Load(stream.Get()), S_OK);
    EXPECT_EQ(Props(copy.Get()), kGreen);

    const FilterProps blue{255, 0, 0, 255};
    ASSERT_EQ(Query<Exchange>(copy.Get())->SetProps(&blue), S_OK);
    ComPtr<IStream> shortStream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &shortStream), S_OK);
    const BYTE two[2] = {1, 2};
    ASSERT_EQ(shortStream->Write(two, 2, nullptr), S_OK);
    shortStream->Seek(zero, STREAM_SEEK_SET, nullptr);
    EXPECT_TRUE(FAILED(Query<IPersistStreamInit>(copy.Get())->Load(shortStream.Get())));
    EXPECT_EQ(Props(copy.Get()), blue) << "a refused stream leaves the record as it was";
}

// A settings file written by the Linux build loads here; one written here through the system's
// compound files is what tests/host/data/written-on-windows.stg holds for the Linux build.
TEST_F(SystemCom, CompoundFilesOfBothPlatforms) {
    const std::wstring linuxFile =
        std::filesystem::path(VELMORA_SOURCE_DIR "/fuzz/corpus/compound_file/settings-green.stg")
            .wstring();
    ComPtr<IStorage> storage;
    ASSERT_EQ(StgOpenStorage(linuxFile.c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr,
                             0, &storage),
              S_OK);
    ComPtr<IUnknown> loaded = Create();
    ASSERT_EQ(Query<IPersistStorage>(loaded.Get())->Load(storage.Get()), S_OK);
    EXPECT_EQ(Props(loaded.Get()), kGreen);
    storage.Reset();
    loaded.Reset();

    const std::wstring written = Beside(L"written-on-windows.stg");
    {
        ComPtr<IUnknown> effect = Create();
        ASSERT_EQ(Query<IPersistStorage>(effect.Get())->InitNew(nullptr), S_OK);
        ASSERT_EQ(Query<IStaticFilterPreset>(effect.Get())->ApplyPreset(1), S_OK);
        ComPtr<IStorage> out;
        ASSERT_EQ(StgCreateDocfile(written.c_str(),
                                   STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &out),
                  S_OK);
        ASSERT_EQ(Query<IPersistStorage>(effect.Get())->Save(out.Get(), TRUE), S_OK);
        ASSERT_EQ(Query<IPersistStorage>(effect.Get())->SaveCompleted(nullptr), S_OK);
        ASSERT_EQ(out->Commit(STGC_DEFAULT), S_OK);
    }
    ASSERT_EQ(StgOpenStorage(written.c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr,
                             0, &storage),
              S_OK);
    ComPtr<IStream> contents;
    ASSERT_EQ(
        storage->OpenStream(L"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &contents),
        S_OK);
    std::array<BYTE, 8> bytes{};
    ULONG got = 0;
    ASSERT_EQ(contents->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got), S_OK);
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(std::vector<BYTE>(bytes.begin(), bytes.begin() + got),
              (std::vector<BYTE>{kGreen.alpha, kGreen.red, kGreen.green, kGreen.blue}));
    storage.Reset();
    contents.Reset();

    // The hosts' helpers over the same system: read whole into memory, written by replacing.
    const std::string narrow = std::filesystem::path(written).string();
    ASSERT_EQ(velmora::com::LoadCompoundFile(narrow.c_str(), &storage), S_OK);
    const std::string copy = narrow + ".copy.stg";
    ASSERT_EQ(velmora::com::SaveCompoundFile(storage.Get(), copy.c_str()), S_OK)
        << velmora::com::CompoundFileError();
    ComPtr<IUnknown> reloaded = Create();
    ComPtr<IStorage> back;
    ASSERT_EQ(velmora::com::LoadCompoundFile(copy.c_str(), &back), S_OK);
    ASSERT_EQ(Query<IPersistStorage>(reloaded.Get())->Load(back.Get()), S_OK);
    EXPECT_EQ(Props(reloaded.Get()), kGreen);
    EXPECT_EQ(velmora::com::LoadCompoundFile((narrow + ".none").c_str(), &back),
              STG_E_FILENOTFOUND);
}

TEST_F(SystemCom, AggregatedUnderACountingOuterAndUnloadableAfterRelease) {
    Module m;
    {
        velmora::test::CountingOuter outer;
        IUnknown* inner = nullptr;
        ASSERT_EQ(CoCreateInstance(CLSID_Velmora, &outer, CLSCTX_INPROC_SERVER, uuidof<IUnknown>(),
                                   reinterpret_cast<void**>(&inner)),
                  S_OK);
        outer.inner = inner;
        IDXEffect* fx = nullptr;
        ASSERT_EQ(outer.QueryInterface(uuidof<IDXEffect>(), reinterpret_cast<void**>(&fx)), S_OK);
        EXPECT_EQ(outer.refs, 2u) << "the inner object's interfaces count on the outer";
        ComPtr<IUnknown> identity;
        ASSERT_EQ(fx->QueryInterface(uuidof<IUnknown>(), reinterpret_cast<void**>(&identity)),
                  S_OK);
        EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(&outer));
        identity.Reset();
        fx->Release();
        EXPECT_EQ(outer.refs, 1u);
        EXPECT_EQ(m.CanUnload(), S_FALSE) << "the object holds the module";
        EXPECT_EQ(inner->Release(), 0u);
    }
    EXPECT_EQ(m.CanUnload(), S_OK);
}
