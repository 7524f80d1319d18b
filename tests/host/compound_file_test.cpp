// Storages written to and read from compound files on disk.
#include <gtest/gtest.h>

#include "platform/com/compound_file.h"
#include "platform/com/guid.h"
#include "tests/host/e2e_support.h"
#include "tests/support/storage_tree.h"

using velmora::com::CompoundFileError;
using velmora::com::ComPtr;
using velmora::com::LoadCompoundFile;
using velmora::com::SaveCompoundFile;
using velmora::test::Flatten;
using velmora::test::PutStream;

constexpr DWORD kCreate = STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE;

TEST(CompoundFile, TreesSurviveTheRoundTripThroughDiskAndAStandardReader) {
    e2e::TempDir dir;
    ComPtr<IStorage> root;
    ASSERT_EQ(CreateMemoryStorage(&root), S_OK);
    ASSERT_EQ(root->SetClass(velmora::com::MakeGuid("{6B1F2C40-8E3A-4D57-A1C9-3F0E5D7B2A91}")),
              S_OK);
    ASSERT_EQ(PutStream(root.Get(), L"Contents", std::string("\xFF\x00\xFF\x00", 4)), S_OK);
    ASSERT_EQ(PutStream(root.Get(), L"Empty", std::string()), S_OK);
    std::string big(100000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7 + i / 251);
    ASSERT_EQ(PutStream(root.Get(), L"Big stream", big), S_OK); // past the small-stream limit
    {
        ComPtr<IStorage> sub, deeper;
        ASSERT_EQ(root->CreateStorage(L"Inner", kCreate, 0, 0, &sub), S_OK);
        ASSERT_EQ(sub->SetClass(velmora::com::MakeGuid("{00112233-4455-6677-8899-AABBCCDDEEFF}")),
                  S_OK);
        ASSERT_EQ(PutStream(sub.Get(), L"Grüße", std::string("unicode names")), S_OK);
        ASSERT_EQ(sub->CreateStorage(L"Deeper", kCreate, 0, 0, &deeper), S_OK);
    }
    const std::string path = (dir / "tree.stg").string();
    ASSERT_EQ(SaveCompoundFile(root.Get(), path.c_str()), S_OK) << CompoundFileError();
    ComPtr<IStorage> back;
    ASSERT_EQ(LoadCompoundFile(path.c_str(), &back), S_OK) << CompoundFileError();
    velmora::test::Tree want, got;
    ASSERT_TRUE(Flatten(root.Get(), L"", &want));
    ASSERT_TRUE(Flatten(back.Get(), L"", &got));
    EXPECT_EQ(got, want);

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
    ASSERT_EQ(SaveCompoundFile(small.Get(), path.c_str()), S_OK);
    ASSERT_EQ(LoadCompoundFile(path.c_str(), &back), S_OK);
    got.clear();
    ASSERT_TRUE(Flatten(back.Get(), L"", &got));
    EXPECT_EQ(got.size(), 1u) << "the root alone";
    EXPECT_EQ(e2e::Listing(dir.path()), std::vector<std::string>{"tree.stg"});
}

// Settings saved by the Windows build through the system's compound files (Wine's ole32), with
// the preset Green: the file the Windows suites write.
TEST(CompoundFile, ASettingsFileWrittenOnWindowsLoads) {
    ComPtr<IStorage> storage;
    ASSERT_EQ(
        LoadCompoundFile(VELMORA_SOURCE_DIR "/tests/host/data/written-on-windows.stg", &storage),
        S_OK)
        << CompoundFileError();
    velmora::test::Tree tree;
    ASSERT_TRUE(Flatten(storage.Get(), L"", &tree));
    // The root has no class, as the effect's Save sets none; then the record, alone.
    EXPECT_EQ(tree, (velmora::test::Tree{{L"", "D{00000000-0000-0000-0000-000000000000}"},
                                         {L"/Contents", std::string("S\xFF\x00\xFF\x00", 5)}}));
}

TEST(CompoundFile, FailuresAreNamedAndLeaveFilesAlone) {
    e2e::TempDir dir;
    ComPtr<IStorage> s;
    EXPECT_EQ(LoadCompoundFile((dir / "none.stg").c_str(), &s), STG_E_FILENOTFOUND);
    EXPECT_NE(CompoundFileError().find("none.stg"), std::string::npos);
    e2e::WriteFile(dir / "text.stg", "plain text");
    EXPECT_EQ(LoadCompoundFile((dir / "text.stg").c_str(), &s), STG_E_INVALIDHEADER);
    EXPECT_NE(CompoundFileError().find("not a compound file"), std::string::npos);
    EXPECT_EQ(s.Get(), nullptr);
    ComPtr<IStorage> root;
    ASSERT_EQ(CreateMemoryStorage(&root), S_OK);
    EXPECT_EQ(SaveCompoundFile(root.Get(), (dir / "missing" / "x.stg").c_str()),
              STG_E_PATHNOTFOUND);
    EXPECT_NE(CompoundFileError().find("cannot create"), std::string::npos);
    EXPECT_EQ(e2e::ReadFile(dir / "text.stg"), "plain text");
    EXPECT_EQ(e2e::Listing(dir.path()), (std::vector<std::string>{"text.stg"}));
}
