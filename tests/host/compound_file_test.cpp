// Storages written to and read from compound files on disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "platform/com/compound_file.h"
#include "platform/com/guid.h"
#include "tests/host/e2e_support.h"

using velmora::com::ComPtr;
namespace fs = std::filesystem;

namespace {

constexpr DWORD kCreate = STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE;
constexpr DWORD kRead = STGM_READ | STGM_SHARE_EXCLUSIVE;
const CLSID kClass = velmora::com::MakeGuid("{6B1F2C40-8E3A-4D57-A1C9-3F0E5D7B2A91}");
const CLSID kInner = velmora::com::MakeGuid("{00112233-4455-6677-8899-AABBCCDDEEFF}");

void PutStream(IStorage* s, const wchar_t* name, const std::string& bytes) {
    ComPtr<IStream> stream;
    ASSERT_EQ(s->CreateStream(name, kCreate, 0, 0, &stream), S_OK);
    ULONG written = 0;
    if (!bytes.empty()) {
        ASSERT_EQ(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written), S_OK);
    }
}

// Every element below a storage as "path" -> bytes ("<storage {clsid}>" for storages).
void Flatten(IStorage* s, const std::string& prefix, std::map<std::string, std::string>* out) {
    ComPtr<IEnumSTATSTG> e;
    ASSERT_EQ(s->EnumElements(0, nullptr, 0, &e), S_OK);
    STATSTG st{};
    while (e->Next(1, &st, nullptr) == S_OK) {
        std::wstring wide = st.pwcsName;
        CoTaskMemFree(st.pwcsName);
        std::string name = prefix + std::string(wide.begin(), wide.end());
        if (st.type == STGTY_STORAGE) {
            ComPtr<IStorage> sub;
            ASSERT_EQ(s->OpenStorage(wide.c_str(), nullptr, kRead, nullptr, 0, &sub), S_OK);
            STATSTG self{};
            sub->Stat(&self, STATFLAG_NONAME);
            (*out)[name] = "<storage " + velmora::com::GuidToString(self.clsid) + ">";
            Flatten(sub.Get(), name + "/", out);
        } else {
            ComPtr<IStream> stream;
            ASSERT_EQ(s->OpenStream(wide.c_str(), nullptr, kRead, 0, &stream), S_OK);
            std::string bytes(static_cast<size_t>(st.cbSize.QuadPart), '\0');
            ULONG got = 0;
            if (!bytes.empty())
                stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got);
            EXPECT_EQ(got, bytes.size());
            (*out)[name] = bytes;
        }
    }
}

} // namespace

TEST(CompoundFile, TreesSurviveTheRoundTripThroughDisk) {
    e2e::TempDir dir;
    ComPtr<IStorage> root;
    ASSERT_EQ(CreateMemoryStorage(&root), S_OK);
    ASSERT_EQ(root->SetClass(kClass), S_OK);
    PutStream(root.Get(), L"Contents", std::string("\xFF\x00\xFF\x00", 4));
    PutStream(root.Get(), L"Empty", "");
    std::string big(100000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7 + i / 251);
    PutStream(root.Get(), L"Big stream", big);
    {
        ComPtr<IStorage> sub;
        ASSERT_EQ(root->CreateStorage(L"Inner", kCreate, 0, 0, &sub), S_OK);
        ASSERT_EQ(sub->SetClass(kInner), S_OK);
        PutStream(sub.Get(), L"Grüße", "unicode names");
        ComPtr<IStorage> deeper;
        ASSERT_EQ(sub->CreateStorage(L"Deeper", kCreate, 0, 0, &deeper), S_OK);
    }

    const std::string path = (dir / "tree.stg").string();
    ASSERT_EQ(velmora::com::SaveCompoundFile(root.Get(), path.c_str()), S_OK)
        << velmora::com::CompoundFileError();
    ComPtr<IStorage> back;
    ASSERT_EQ(velmora::com::LoadCompoundFile(path.c_str(), &back), S_OK)
        << velmora::com::CompoundFileError();
    std::map<std::string, std::string> want, got;
    Flatten(root.Get(), "", &want);
    Flatten(back.Get(), "", &got);
    EXPECT_EQ(got, want);
    STATSTG st{};
    back->Stat(&st, STATFLAG_NONAME);
    EXPECT_EQ(st.clsid, kClass);

    // A standard reader sees the same tree and class.
    auto r = e2e::Run({"/usr/bin/python3", "-c",
                       "import olefile, sys\n"
                       "f = olefile.OleFileIO(sys.argv[1])\n"
                       "print(sorted('/'.join(p) for p in f.listdir(True, True)))\n"
                       "print(f.root.clsid, f.get_size('Big stream'))\n",
                       path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "['Big stream', 'Contents', 'Empty', 'Inner', 'Inner/Deeper', "
                     "'Inner/Grüße']\n6B1F2C40-8E3A-4D57-A1C9-3F0E5D7B2A91 100000\n");

    // Saving again replaces the file whole and leaves no temporary file.
    ComPtr<IStorage> small;
    ASSERT_EQ(CreateMemoryStorage(&small), S_OK);
    PutStream(small.Get(), L"Contents", "abcd");
    ASSERT_EQ(velmora::com::SaveCompoundFile(small.Get(), path.c_str()), S_OK);
    ASSERT_EQ(velmora::com::LoadCompoundFile(path.c_str(), &back), S_OK);
    got.clear();
    Flatten(back.Get(), "", &got);
    EXPECT_EQ(got, (std::map<std::string, std::string>{{"Contents", "abcd"}}));
    EXPECT_EQ(e2e::Listing(dir.path()), std::vector<std::string>{"tree.stg"});
}

TEST(CompoundFile, FailuresAreNamedAndLeaveFilesAlone) {
    e2e::TempDir dir;
    ComPtr<IStorage> s;
    EXPECT_EQ(velmora::com::LoadCompoundFile((dir / "none.stg").c_str(), &s), STG_E_FILENOTFOUND);
    EXPECT_NE(velmora::com::CompoundFileError().find("none.stg"), std::string::npos);
    EXPECT_EQ(s.Get(), nullptr);

    e2e::WriteFile(dir / "text.stg", "plain text, not a compound file");
    EXPECT_EQ(velmora::com::LoadCompoundFile((dir / "text.stg").c_str(), &s), STG_E_INVALIDHEADER);
    EXPECT_NE(velmora::com::CompoundFileError().find("not a compound file"), std::string::npos)
        << velmora::com::CompoundFileError();
    // (Cut and damaged files: the compound-file fault suite, at every length.)
    ComPtr<IStorage> root;
    ASSERT_EQ(CreateMemoryStorage(&root), S_OK);
    const std::string nowhere = (dir / "missing" / "x.stg").string();
    EXPECT_EQ(velmora::com::SaveCompoundFile(root.Get(), nowhere.c_str()), STG_E_PATHNOTFOUND);
    EXPECT_NE(velmora::com::CompoundFileError().find("cannot create"), std::string::npos);
    EXPECT_EQ(velmora::com::SaveCompoundFile(nullptr, nowhere.c_str()), E_POINTER);
    EXPECT_EQ(velmora::com::LoadCompoundFile(nullptr, &s), E_POINTER);
    EXPECT_EQ(e2e::ReadFile(dir / "text.stg"), "plain text, not a compound file");
    EXPECT_EQ(e2e::Listing(dir.path()), (std::vector<std::string>{"text.stg"}));
}
