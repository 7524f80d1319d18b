// Writes the compound-file seeds into the folder given, through the code's own Save: the settings
// file `velmora settings FILE.stg` writes (the effect's IPersistStorage::Save, then
// SaveCompoundFile), and storages around it that import must also take (a class id, a nested
// storage, a stream long enough for the big-block chain, an empty storage), plus damaged copies.
// Run by fuzz/make_corpus.py; not a test.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "effect/velmora.h"
#include "platform/com/compound_file.h"

using velmora::com::ComPtr;

namespace {

constexpr DWORD kCreate = STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE;

bool Check(HRESULT hr, const char* what) {
    if (FAILED(hr))
        std::fprintf(stderr, "make_compound_seeds: %s failed (0x%08X)\n", what,
                     static_cast<unsigned>(hr));
    return SUCCEEDED(hr);
}

bool AddStream(IStorage* storage, const wchar_t* name, const std::vector<BYTE>& bytes) {
    ComPtr<IStream> s;
    ULONG put = 0;
    return Check(storage->CreateStream(name, kCreate, 0, 0, &s), "CreateStream") &&
           (bytes.empty() ||
            Check(s->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &put), "Write"));
}

bool Save(IStorage* storage, const std::string& path) {
    if (FAILED(velmora::com::SaveCompoundFile(storage, path.c_str()))) {
        std::fprintf(stderr, "%s\n", velmora::com::CompoundFileError().c_str());
        return false;
    }
    return true;
}

std::vector<char> Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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
    ComPtr<IUnknown> effect;
    ComPtr<IPersistStorage> persist;
    ComPtr<IStaticFilterPreset> presets;
    ComPtr<IStorage> settings;
    bool ok =
        Check(velmora::com::CComPolyObject<CVelmora>::CreateInstance(
                  nullptr, uuidof<IUnknown>(), reinterpret_cast<void**>(&effect)),
              "CreateInstance") &&
        Check(effect->QueryInterface(uuidof<IPersistStorage>(), reinterpret_cast<void**>(&persist)),
              "QueryInterface") &&
        Check(effect->QueryInterface(uuidof<IStaticFilterPreset>(),
                                     reinterpret_cast<void**>(&presets)),
              "QueryInterface") &&
        Check(presets->ApplyPreset(1), "ApplyPreset") &&
        Check(CreateMemoryStorage(&settings), "CreateMemoryStorage") &&
        Check(persist->Save(settings.Get(), TRUE), "Save") &&
        Save(settings.Get(), dir + "/settings-green.stg");

    // With the effect's class id on the root, and another stream beside "Contents".
    ComPtr<IStorage> classed;
    ok = ok && Check(CreateMemoryStorage(&classed), "CreateMemoryStorage") &&
         Check(classed->SetClass(CLSID_Velmora), "SetClass") &&
         AddStream(classed.Get(), L"Contents", {0x80, 0x10, 0x20, 0x30}) &&
         AddStream(classed.Get(), L"\x05SummaryInformation", {1, 2, 3}) &&
         Save(classed.Get(), dir + "/class-id.stg");

    // A nested storage, a stream past the mini-stream cutoff (4096 bytes), a short "Contents".
    ComPtr<IStorage> nested, sub;
    std::vector<BYTE> big(5000);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<BYTE>(i * 7);
    ok = ok && Check(CreateMemoryStorage(&nested), "CreateMemoryStorage") &&
         Check(nested->CreateStorage(L"Sub", kCreate, 0, 0, &sub), "CreateStorage") &&
         Check(sub->SetClass(CLSID_VelmoraPP), "SetClass") &&
         AddStream(sub.Get(), L"Contents", {1, 2, 3, 4}) && AddStream(nested.Get(), L"Big", big) &&
         AddStream(nested.Get(), L"Contents", {9, 9});
    sub.Reset(); // an open element cannot be opened again to be written out
    ok = ok && Save(nested.Get(), dir + "/nested.stg");

    ComPtr<IStorage> empty;
    ok = ok && Check(CreateMemoryStorage(&empty), "CreateMemoryStorage") &&
         Save(empty.Get(), dir + "/empty.stg");
    if (!ok)
        return 1;

    // Damaged copies: cut short, and a header whose sector shift is wrong.
    std::vector<char> bytes = Read(dir + "/settings-green.stg");
    Write(dir + "/truncated.stg", std::vector<char>(bytes.begin(), bytes.begin() + 700));
    std::vector<char> shifted = bytes;
    shifted[0x1E] = 0x0A;
    Write(dir + "/bad-sector-shift.stg", shifted);
    return 0;
}
