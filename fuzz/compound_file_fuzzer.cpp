// Compound-file import, as `velmora apply --settings FILE.stg` meets it: the file is read into a
// memory storage (LoadCompoundFile), every storage and stream in it is walked and read, and the
// effect loads its record from it (IPersistStorage::Load). What imports must also export: the
// storage is written back out (SaveCompoundFile, to a scratch folder on tmpfs), read in again and
// must hold the same tree, class ids and bytes.
#include <algorithm>
#include <cwctype>

#include "effect/velmora.h"
#include "fuzz_support.h"
#include "platform/com/compound_file.h"
#include "tests/support/storage_tree.h"

using velmora::com::ComPtr;
using namespace velmora::fuzz;
using velmora::test::Flatten;
using velmora::test::Tree;

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
    FUZZ_CHECK(Flatten(storage.Get(), L"", &tree));

    // The effect loads the stream "Contents", or fails and keeps its record.
    ComPtr<IUnknown> effect = Create<CVelmora>();
    auto persist = Query<IPersistStorage>(effect.Get());
    auto exchange = Query<ISfExchangeProps<FilterProps>>(effect.Get());
    hr = persist->Load(storage.Get());
    FilterProps now{};
    FUZZ_CHECK(exchange->GetProps(&now) == S_OK);
    // Element names compare without case, as COM's do: "contents" is the stream too.
    auto contents = std::find_if(tree.begin(), tree.end(), [](const auto& element) {
        return element.first.size() == 9 &&
               std::equal(element.first.begin(), element.first.end(), L"/contents",
                          [](wchar_t a, wchar_t b) {
                              return static_cast<wchar_t>(std::towlower(a)) == b;
                          });
    }); // 'S' and the bytes, if a stream
    if (contents != tree.end() && contents->second[0] == 'S' && contents->second.size() >= 5) {
        FUZZ_CHECK(hr == S_OK);
        FUZZ_CHECK(std::memcmp(&now, contents->second.data() + 1, 4) == 0);
    } else {
        FUZZ_CHECK(FAILED(hr));
        FUZZ_CHECK(now == velmora::kPresets[0]);
    }

    // Written out and read back, the storage is the same.
    hr = velmora::com::SaveCompoundFile(storage.Get(), copy.c_str());
    FUZZ_CHECK_SAY(SUCCEEDED(hr), "could not write back what was read: %s\n",
                   velmora::com::CompoundFileError().c_str());
    ComPtr<IStorage> again;
    hr = velmora::com::LoadCompoundFile(copy.c_str(), &again);
    FUZZ_CHECK_SAY(SUCCEEDED(hr), "could not read back what was written: %s\n",
                   velmora::com::CompoundFileError().c_str());
    Tree second;
    FUZZ_CHECK(Flatten(again.Get(), L"", &second));
    FUZZ_CHECK(second == tree);
    return 0;
}
