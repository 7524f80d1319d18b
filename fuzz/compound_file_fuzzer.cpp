// Compound-file import, as `velmora apply --settings FILE.stg` meets it: the file is read into a
// memory storage (LoadCompoundFile), every storage and stream in it is walked and read, and the
// effect loads its record from it (IPersistStorage::Load). What imports must also export: the
// storage is written back out (SaveCompoundFile, to a scratch folder on tmpfs), read in again and
// must hold the same tree, class ids and bytes.
#include <map>

#include "effect/velmora.h"
#include "fuzz_support.h"
#include "platform/com/compound_file.h"

using velmora::com::ComPtr;
using namespace velmora::fuzz;

namespace {

constexpr DWORD kRead = STGM_READ | STGM_SHARE_EXCLUSIVE;

// A storage flattened: path -> class id (storages) or bytes (streams).
struct Tree {
    std::map<std::wstring, std::vector<BYTE>> streams;
    std::map<std::wstring, CLSID> storages;
    bool operator==(const Tree&) const = default;
};

void Walk(IStorage* storage, const std::wstring& path, int depth, Tree* tree) {
    FUZZ_CHECK(depth < 10000);
    STATSTG self{};
    FUZZ_CHECK(storage->Stat(&self, STATFLAG_NONAME) == S_OK);
    tree->storages[path] = self.clsid;
    ComPtr<IEnumSTATSTG> elements;
    FUZZ_CHECK(storage->EnumElements(0, nullptr, 0, &elements) == S_OK);
    STATSTG st{};
    while (elements->Next(1, &st, nullptr) == S_OK) {
        FUZZ_CHECK(st.pwcsName != nullptr);
        const std::wstring name = st.pwcsName;
        CoTaskMemFree(st.pwcsName);
        const std::wstring child = path + L"/" + name;
        if (st.type == STGTY_STORAGE) {
            ComPtr<IStorage> sub;
            FUZZ_CHECK(storage->OpenStorage(name.c_str(), nullptr, kRead, nullptr, 0, &sub) ==
                       S_OK);
            Walk(sub.Get(), child, depth + 1, tree);
        } else {
            FUZZ_CHECK(st.type == STGTY_STREAM);
            ComPtr<IStream> stream;
            FUZZ_CHECK(storage->OpenStream(name.c_str(), nullptr, kRead, 0, &stream) == S_OK);
            std::vector<BYTE> bytes(st.cbSize.QuadPart);
            ULONG got = 0;
            if (!bytes.empty())
                FUZZ_CHECK(stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got) ==
                           S_OK);
            FUZZ_CHECK(got == bytes.size());
            tree->streams[child] = std::move(bytes);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static MemoryFile file;
    static const std::string scratch = ScratchFolder();
    static const std::string copy = scratch + "/copy.stg";

    ComPtr<IStorage> storage;
    HRESULT hr = velmora::com::LoadCompoundFile(file.Set(data, size).c_str(), &storage);
    if (FAILED(hr)) {
        FUZZ_CHECK(!storage);
        FUZZ_CHECK(!velmora::com::CompoundFileError().empty());
        return 0;
    }
    FUZZ_CHECK(storage && velmora::com::CompoundFileError().empty());
    Tree tree;
    Walk(storage.Get(), L"", 0, &tree);

    // The effect loads the stream "Contents", or fails and keeps its record.
    ComPtr<IUnknown> effect = Create<CVelmora>();
    auto persist = Query<IPersistStorage>(effect.Get());
    auto exchange = Query<ISfExchangeProps<FilterProps>>(effect.Get());
    hr = persist->Load(storage.Get());
    FilterProps now{};
    FUZZ_CHECK(exchange->GetProps(&now) == S_OK);
    auto contents = tree.streams.find(L"/Contents");
    if (contents != tree.streams.end() && contents->second.size() >= 4) {
        FUZZ_CHECK(hr == S_OK);
        FUZZ_CHECK(std::memcmp(&now, contents->second.data(), 4) == 0);
    } else {
        FUZZ_CHECK(FAILED(hr));
        FUZZ_CHECK(now == velmora::kPresets[0]);
    }

    // Written out and read back, the storage is the same.
    hr = velmora::com::SaveCompoundFile(storage.Get(), copy.c_str());
    if (FAILED(hr)) {
        std::fprintf(stderr, "fuzz: could not write back what was read: %s\n",
                     velmora::com::CompoundFileError().c_str());
        FUZZ_CHECK(SUCCEEDED(hr));
    }
    ComPtr<IStorage> again;
    hr = velmora::com::LoadCompoundFile(copy.c_str(), &again);
    if (FAILED(hr)) {
        std::fprintf(stderr, "fuzz: could not read back what was written: %s\n",
                     velmora::com::CompoundFileError().c_str());
        FUZZ_CHECK(SUCCEEDED(hr));
    }
    Tree second;
    Walk(again.Get(), L"", 0, &second);
    FUZZ_CHECK(second == tree);
    return 0;
}
