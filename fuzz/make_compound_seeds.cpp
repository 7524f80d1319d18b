// Writes the compound-file seeds into the folder given, through the code's own Save: the settings
// file `velmora settings FILE.stg` writes (the effect's IPersistStorage::Save, then
// SaveCompoundFile), and storages around it that import must also take (a class id, a nested
// storage, a stream long enough for the big-block chain, an empty storage), plus damaged copies.
// Run by fuzz/make_corpus.py; not a test.
#include <fstream>
#include <iterator>

#include "effect/velmora.h"
#include "fuzz_support.h"
#include "platform/com/compound_file.h"
#include "tests/support/storage_tree.h"

using velmora::com::ComPtr;
using namespace velmora::fuzz;
using velmora::test::PutStream;

namespace {

constexpr DWORD kCreate = STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE;

ComPtr<IStorage> NewStorage() {
    ComPtr<IStorage> storage;
    FUZZ_CHECK(CreateMemoryStorage(&storage) == S_OK);
    return storage;
}

void Save(IStorage* storage, const std::string& path) {
    FUZZ_CHECK_SAY(SUCCEEDED(velmora::com::SaveCompoundFile(storage, path.c_str())), "%s\n",
                   velmora::com::CompoundFileError().c_str());
}

void Write(const std::string& path, const std::vector<char>& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];

    // The settings file as `velmora settings --matte green FILE.stg` writes it.
    ComPtr<IUnknown> effect = Create<CVelmora>();
    ComPtr<IStorage> settings = NewStorage();
    FUZZ_CHECK(Query<IStaticFilterPreset>(effect.Get())->ApplyPreset(1) == S_OK);
    FUZZ_CHECK(Query<IPersistStorage>(effect.Get())->Save(settings.Get(), TRUE) == S_OK);
    Save(settings.Get(), dir + "/settings-green.stg");

    // With the effect's class id on the root, and another stream beside "Contents".
    ComPtr<IStorage> classed = NewStorage();
    FUZZ_CHECK(classed->SetClass(CLSID_Velmora) == S_OK);
    FUZZ_CHECK(PutStream(classed.Get(), L"Contents", {0x80, 0x10, 0x20, 0x30}) == S_OK);
    FUZZ_CHECK(PutStream(classed.Get(), L"\x05SummaryInformation", {1, 2, 3}) == S_OK);
    Save(classed.Get(), dir + "/class-id.stg");

    // A nested storage, a stream past the mini-stream cutoff (4096 bytes), a short "Contents".
    ComPtr<IStorage> nested = NewStorage(), sub;
    std::vector<BYTE> big(5000);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<BYTE>(i * 7);
    FUZZ_CHECK(nested->CreateStorage(L"Sub", kCreate, 0, 0, &sub) == S_OK);
    FUZZ_CHECK(sub->SetClass(CLSID_VelmoraPP) == S_OK);
    FUZZ_CHECK(PutStream(sub.Get(), L"Contents", {1, 2, 3, 4}) == S_OK);
    FUZZ_CHECK(PutStream(nested.Get(), L"Big", big) == S_OK);
    FUZZ_CHECK(PutStream(nested.Get(), L"Contents", {9, 9}) == S_OK);
    sub.Reset(); // an open element cannot be opened again to be written out
    Save(nested.Get(), dir + "/nested.stg");
    Save(NewStorage().Get(), dir + "/empty.stg");

    // Damaged copies: cut short, and a header whose sector shift is wrong.
    std::ifstream in(dir + "/settings-green.stg", std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
    Write(dir + "/truncated.stg", std::vector<char>(bytes.begin(), bytes.begin() + 700));
    std::vector<char> shifted = bytes;
    shifted[0x1E] = 0x0A;
    Write(dir + "/bad-sector-shift.stg", shifted);
    return 0;
}
