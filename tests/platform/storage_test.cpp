#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/com/objidl.h"

using velmora::com::ComPtr;

namespace {
constexpr DWORD kRW = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kR = STGM_READ | STGM_SHARE_EXCLUSIVE;

std::string ReadAll(IStream* s) {
    char buf[64];
    ULONG n = 0;
    s->Read(buf, sizeof buf, &n);
    return {buf, n};
}

std::set<std::wstring> Names(IStorage* stg) {
    ComPtr<IEnumSTATSTG> e;
    EXPECT_EQ(stg->EnumElements(0, nullptr, 0, &e), S_OK);
    std::set<std::wstring> names;
    STATSTG st;
    while (e->Next(1, &st, nullptr) == S_OK) {
        names.insert(st.pwcsName);
        CoTaskMemFree(st.pwcsName);
    }
    return names;
}
} // namespace

TEST(MemoryStorage, CreateOpenAndReplace) {
    ComPtr<IStorage> stg;
    ASSERT_EQ(CreateMemoryStorage(&stg), S_OK);
    ComPtr<IStream> s;
    ASSERT_EQ(stg->CreateStream(L"Contents", kRW | STGM_CREATE, 0, 0, &s), S_OK);
    s->Write("abcd", 4, nullptr);
    s.Reset();

    EXPECT_EQ(stg->CreateStream(L"contents", kRW, 0, 0, &s), STG_E_FILEALREADYEXISTS)
        << "names compare without case";
    ASSERT_EQ(stg->OpenStream(L"CONTENTS", nullptr, kR, 0, &s), S_OK);
    EXPECT_EQ(ReadAll(s.Get()), "abcd");
    EXPECT_EQ(s->Write("x", 1, nullptr), STG_E_ACCESSDENIED) << "opened for reading";
    s.Reset();

    // STGM_CREATE replaces the old stream with an empty one.
    ASSERT_EQ(stg->CreateStream(L"Contents", kRW | STGM_CREATE, 0, 0, &s), S_OK);
    s.Reset();
    ASSERT_EQ(stg->OpenStream(L"Contents", nullptr, kR, 0, &s), S_OK);
    EXPECT_EQ(ReadAll(s.Get()), "");
    s.Reset();

    EXPECT_EQ(stg->OpenStream(L"Missing", nullptr, kR, 0, &s), STG_E_FILENOTFOUND);
    EXPECT_EQ(s.Get(), nullptr);
    EXPECT_EQ(Names(stg.Get()), (std::set<std::wstring>{L"Contents"}));
}

TEST(MemoryStorage, ShareExclusiveAndFlags) {
    ComPtr<IStorage> stg;
    CreateMemoryStorage(&stg);
    ComPtr<IStream> a, b;
    ASSERT_EQ(stg->CreateStream(L"S", kRW, 0, 0, &a), S_OK);
    EXPECT_EQ(stg->OpenStream(L"S", nullptr, kR, 0, &b), STG_E_ACCESSDENIED) << "already open";
    EXPECT_EQ(stg->CreateStream(L"S", kRW | STGM_CREATE, 0, 0, &b), STG_E_ACCESSDENIED);
    a.Reset();
    EXPECT_EQ(stg->OpenStream(L"S", nullptr, STGM_READ | STGM_SHARE_DENY_NONE, 0, &b),
              STG_E_INVALIDFLAG)
        << "streams are opened share-exclusive";
    EXPECT_EQ(stg->OpenStream(L"S", reinterpret_cast<void*>(1), kR, 0, &b), STG_E_INVALIDPARAMETER);
    EXPECT_EQ(stg->CreateStream(L"T", kRW, 1, 0, &b), STG_E_INVALIDPARAMETER);
    EXPECT_EQ(stg->CreateStream(L"bad/name", kRW, 0, 0, &b), STG_E_INVALIDNAME);
    EXPECT_EQ(stg->CreateStream(std::wstring(32, L'n').c_str(), kRW, 0, 0, &b), STG_E_INVALIDNAME);
    EXPECT_EQ(stg->CreateStream(std::wstring(31, L'n').c_str(), kRW, 0, 0, &b), S_OK);
    EXPECT_EQ(stg->CreateStream(nullptr, kRW, 0, 0, &b), STG_E_INVALIDPOINTER);
    EXPECT_EQ(stg->OpenStream(L"S", nullptr, kR, 0, nullptr), STG_E_INVALIDPOINTER);
}

TEST(MemoryStorage, SubStoragesAndAccess) {
    ComPtr<IStorage> root, sub, ro;
    CreateMemoryStorage(&root);
    ASSERT_EQ(root->CreateStorage(L"Sub", kRW, 0, 0, &sub), S_OK);
    ComPtr<IStream> s;
    ASSERT_EQ(sub->CreateStream(L"Data", kRW, 0, 0, &s), S_OK);
    s->Write("xyz", 3, nullptr);
    s.Reset();
    sub.Reset();

    ASSERT_EQ(root->OpenStorage(L"Sub", nullptr, kR, nullptr, 0, &ro), S_OK);
    EXPECT_EQ(ro->CreateStream(L"New", kRW, 0, 0, &s), STG_E_ACCESSDENIED) << "read-only parent";
    EXPECT_EQ(ro->OpenStream(L"Data", nullptr, kRW, 0, &s), STG_E_ACCESSDENIED);
    ASSERT_EQ(ro->OpenStream(L"Data", nullptr, kR, 0, &s), S_OK);
    EXPECT_EQ(ReadAll(s.Get()), "xyz");
    EXPECT_EQ(ro->DestroyElement(L"Data"), STG_E_ACCESSDENIED);
    s.Reset();
    EXPECT_EQ(root->OpenStream(L"Sub", nullptr, kR, 0, &s), STG_E_FILENOTFOUND) << "not a stream";

    STATSTG st{};
    ASSERT_EQ(ro->Stat(&st, STATFLAG_DEFAULT), S_OK);
    EXPECT_STREQ(st.pwcsName, L"Sub");
    EXPECT_EQ(st.type, static_cast<DWORD>(STGTY_STORAGE));
    CoTaskMemFree(st.pwcsName);
}

TEST(MemoryStorage, DestroyRenameAndCopy) {
    ComPtr<IStorage> stg;
    CreateMemoryStorage(&stg);
    ComPtr<IStream> s;
    stg->CreateStream(L"One", kRW, 0, 0, &s);
    s->Write("1", 1, nullptr);
    // Destroying an open element leaves the open stream reverted, not dangling.
    EXPECT_EQ(stg->DestroyElement(L"One"), S_OK);
    EXPECT_EQ(s->Write("2", 1, nullptr), STG_E_REVERTED);
    s.Reset();
    EXPECT_EQ(stg->DestroyElement(L"One"), STG_E_FILENOTFOUND);

    stg->CreateStream(L"A", kRW, 0, 0, &s);
    s->Write("aa", 2, nullptr);
    s.Reset();
    stg->CreateStream(L"B", kRW, 0, 0, &s);
    s.Reset();
    EXPECT_EQ(stg->RenameElement(L"A", L"B"), STG_E_ACCESSDENIED);
    EXPECT_EQ(stg->RenameElement(L"A", L"C"), S_OK);
    EXPECT_EQ(Names(stg.Get()), (std::set<std::wstring>{L"B", L"C"}));

    const CLSID clsid = velmora::com::MakeGuid("{11111111-2222-3333-4444-555555555555}");
    stg->SetClass(clsid);
    ComPtr<IStorage> copy;
    CreateMemoryStorage(&copy);
    ASSERT_EQ(stg->CopyTo(0, nullptr, nullptr, copy.Get()), S_OK);
    EXPECT_EQ(Names(copy.Get()), (std::set<std::wstring>{L"B", L"C"}));
    ASSERT_EQ(copy->OpenStream(L"C", nullptr, kR, 0, &s), S_OK);
    EXPECT_EQ(ReadAll(s.Get()), "aa");
    s.Reset();
    STATSTG st{};
    copy->Stat(&st, STATFLAG_NONAME);
    EXPECT_EQ(st.clsid, clsid);

    ComPtr<IStorage> other;
    CreateMemoryStorage(&other);
    EXPECT_EQ(stg->MoveElementTo(L"C", other.Get(), L"Moved", STGMOVE_MOVE), S_OK);
    EXPECT_EQ(Names(stg.Get()), (std::set<std::wstring>{L"B"}));
    EXPECT_EQ(Names(other.Get()), (std::set<std::wstring>{L"Moved"}));
}
