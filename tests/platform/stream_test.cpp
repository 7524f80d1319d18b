#include <gtest/gtest.h>

#include "platform/com/objidl.h"

using velmora::com::ComPtr;

namespace {
LARGE_INTEGER Off(LONGLONG v) {
    LARGE_INTEGER l;
    l.QuadPart = v;
    return l;
}
ULONGLONG Pos(IStream* s) {
    ULARGE_INTEGER p{};
    EXPECT_EQ(s->Seek(Off(0), STREAM_SEEK_CUR, &p), S_OK);
    return p.QuadPart;
}
} // namespace

TEST(MemoryStream, ReadWriteAndEnd) {
    ComPtr<IStream> s;
    ASSERT_EQ(CreateMemoryStream("abcdef", 6, &s), S_OK);
    char buf[8] = {};
    ULONG n = 99;
    EXPECT_EQ(s->Read(buf, 4, &n), S_OK);
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(s->Read(buf, 8, &n), S_OK);
    EXPECT_EQ(n, 2u) << "a short read at the end is still S_OK";
    EXPECT_EQ(s->Read(buf, 8, &n), S_OK);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(s->Read(buf, 8, nullptr), S_OK);
    EXPECT_EQ(s->Read(nullptr, 8, &n), STG_E_INVALIDPOINTER);

    // Writing past the end after a seek fills the gap with zeros.
    EXPECT_EQ(s->Seek(Off(2), STREAM_SEEK_END, nullptr), S_OK);
    EXPECT_EQ(s->Write("Z", 1, &n), S_OK);
    EXPECT_EQ(n, 1u);
    STATSTG st{};
    EXPECT_EQ(s->Stat(&st, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(st.cbSize.QuadPart, 9u);
    EXPECT_EQ(st.type, static_cast<DWORD>(STGTY_STREAM));
    EXPECT_EQ(st.pwcsName, nullptr);
    s->Seek(Off(0), STREAM_SEEK_SET, nullptr);
    char all[9];
    s->Read(all, 9, &n);
    EXPECT_EQ(std::string(all, 9), std::string("abcdef\0\0Z", 9));
}

TEST(MemoryStream, SeekRules) {
    ComPtr<IStream> s;
    CreateMemoryStream("0123456789", 10, &s);
    ULARGE_INTEGER p{};
    EXPECT_EQ(s->Seek(Off(4), STREAM_SEEK_SET, &p), S_OK);
    EXPECT_EQ(p.QuadPart, 4u);
    EXPECT_EQ(s->Seek(Off(-5), STREAM_SEEK_CUR, &p), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(Pos(s.Get()), 4u) << "a failed seek leaves the position";
    EXPECT_EQ(s->Seek(Off(-11), STREAM_SEEK_END, nullptr), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(s->Seek(Off(-10), STREAM_SEEK_END, &p), S_OK);
    EXPECT_EQ(p.QuadPart, 0u);
    EXPECT_EQ(s->Seek(Off(0), 3, nullptr), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(s->Seek(Off(100), STREAM_SEEK_SET, &p), S_OK);
    char c;
    ULONG n = 1;
    EXPECT_EQ(s->Read(&c, 1, &n), S_OK);
    EXPECT_EQ(n, 0u);
}

TEST(MemoryStream, SizeCloneAndCopy) {
    ComPtr<IStream> s;
    CreateMemoryStream("hello world", 11, &s);
    ULARGE_INTEGER size;
    size.QuadPart = 5;
    EXPECT_EQ(s->SetSize(size), S_OK);
    s->Seek(Off(1), STREAM_SEEK_SET, nullptr);

    ComPtr<IStream> clone;
    ASSERT_EQ(s->Clone(&clone), S_OK);
    EXPECT_EQ(Pos(clone.Get()), 1u) << "a clone starts at the original's position";
    clone->Write("E", 1, nullptr);
    char buf[5];
    s->Seek(Off(0), STREAM_SEEK_SET, nullptr);
    s->Read(buf, 5, nullptr);
    EXPECT_EQ(std::string(buf, 5), "hEllo") << "clones share the bytes";
    EXPECT_EQ(Pos(clone.Get()), 2u) << "but not the position";

    ComPtr<IStream> dest;
    CreateMemoryStream(&dest);
    s->Seek(Off(1), STREAM_SEEK_SET, nullptr);
    ULARGE_INTEGER want, got, put;
    want.QuadPart = 100;
    EXPECT_EQ(s->CopyTo(dest.Get(), want, &got, &put), S_OK);
    EXPECT_EQ(got.QuadPart, 4u);
    EXPECT_EQ(put.QuadPart, 4u);
    EXPECT_EQ(s->LockRegion({}, {}, 0), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(s->Commit(STGC_DEFAULT), S_OK);

    ISequentialStream* seq = nullptr;
    EXPECT_EQ(s->QueryInterface(uuidof<ISequentialStream>(), reinterpret_cast<void**>(&seq)), S_OK);
    seq->Release();
    IStorage* none = reinterpret_cast<IStorage*>(1);
    EXPECT_EQ(s->QueryInterface(uuidof<IStorage>(), reinterpret_cast<void**>(&none)),
              E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
}
