// Memory surfaces: creation, formats, lock arguments, native access, packing and unpacking on
// every format and pitch, filling, and generation ids.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "helpers.h"

using namespace dxtest;

namespace {

constexpr DWORD kFormats[] = {DXPF_PMARGB32, DXPF_ARGB32, DXPF_RGB24};

BYTE RefPremultiply(int c, int a) {
    return static_cast<BYTE>(std::lround(c * a / 255.0));
}
BYTE RefUnpremultiply(int c, int a) {
    return a ? static_cast<BYTE>(std::min(255.0, std::floor(c * 255.0 / a + 0.5))) : 0;
}

// A spread of samples: every alpha class, colours above and below alpha.
std::vector<DXSAMPLE> Spread(std::size_t n) {
    std::vector<DXSAMPLE> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = Sample(static_cast<BYTE>(i * 37 % 256), static_cast<BYTE>(i * 11 + 3),
                      static_cast<BYTE>(255 - i * 5), static_cast<BYTE>(i * 97 % 256));
    v[0].Alpha = 0;
    if (n > 1)
        v[1].Alpha = 255;
    return v;
}

// The native bytes a format stores for a sample given as premultiplied or straight.
std::vector<BYTE> NativeOf(DWORD format, DXSAMPLE s, bool premult) {
    auto convert = [&](bool toPremult) {
        if (premult == toPremult)
            return s;
        if (toPremult)
            return Sample(s.Alpha, RefPremultiply(s.Red, s.Alpha), RefPremultiply(s.Green, s.Alpha),
                          RefPremultiply(s.Blue, s.Alpha));
        return Sample(s.Alpha, RefUnpremultiply(s.Red, s.Alpha), RefUnpremultiply(s.Green, s.Alpha),
                      RefUnpremultiply(s.Blue, s.Alpha));
    };
    if (format == DXPF_RGB24) {
        DXSAMPLE c = convert(false);
        return {c.Blue, c.Green, c.Red};
    }
    DXSAMPLE c = convert(format == DXPF_PMARGB32);
    return {c.Blue, c.Green, c.Red, c.Alpha};
}

// The sample a format gives back for native bytes, as premultiplied or straight.
DXSAMPLE SampleOf(DWORD format, const BYTE* native, bool premult) {
    if (format == DXPF_RGB24)
        return Sample(255, native[2], native[1], native[0]);
    DXSAMPLE s{native[0], native[1], native[2], native[3]};
    bool isPremult = format == DXPF_PMARGB32;
    if (premult == isPremult)
        return s;
    if (premult)
        return Sample(s.Alpha, RefPremultiply(s.Red, s.Alpha), RefPremultiply(s.Green, s.Alpha),
                      RefPremultiply(s.Blue, s.Alpha));
    return Sample(s.Alpha, RefUnpremultiply(s.Red, s.Alpha), RefUnpremultiply(s.Green, s.Alpha),
                  RefUnpremultiply(s.Blue, s.Alpha));
}

ULONG Bpp(DWORD format) {
    return format == DXPF_RGB24 ? 3 : 4;
}

} // namespace

TEST(SurfaceFactory, CreatesZeroedSurfacesOfEachFormat) {
    for (DWORD format : kFormats) {
        SCOPED_TRACE(format);
        ComPtr<IDXSurface> s = NewSurface(format, 5, 3);
        ASSERT_TRUE(s);
        GUID id{};
        DXSAMPLEFORMATENUM word{};
        EXPECT_EQ(s->GetPixelFormat(&id, &word), S_OK);
        EXPECT_EQ(id, FormatId(format));
        EXPECT_EQ(word, format);
        word = {};
        EXPECT_EQ(s->GetPixelFormat(nullptr, &word), S_OK);
        EXPECT_EQ(word, format);
        EXPECT_EQ(s->GetPixelFormat(nullptr, nullptr), E_POINTER);

        DXBNDS b{};
        EXPECT_EQ(s->GetBounds(&b), S_OK);
        const DXBNDS want = Bounds(0, 0, 5, 3);
        EXPECT_EQ(0, std::memcmp(&b, &want, sizeof b));
        EXPECT_EQ(s->GetBounds(nullptr), E_POINTER);

        // IDXBaseObject and IUnknown are the same object.
        ComPtr<IDXBaseObject> base;
        ComPtr<IUnknown> unk1, unk2;
        EXPECT_EQ(s->QueryInterface(IID_PPV_ARGS(&base)), S_OK);
        EXPECT_EQ(s->QueryInterface(IID_PPV_ARGS(&unk1)), S_OK);
        EXPECT_EQ(base->QueryInterface(IID_PPV_ARGS(&unk2)), S_OK);
        EXPECT_EQ(unk1.Get(), unk2.Get());
        ULONG size = 0;
        EXPECT_EQ(base->GetObjectSize(&size), S_OK);
        EXPECT_GE(size, 5u * 3 * Bpp(format));

        ComPtr<IDXARGBReadPtr> p = LockRead(s.Get());
        ASSERT_TRUE(p);
        DXNATIVETYPEINFO info{};
        EXPECT_EQ(p->GetNativeType(&info), format);
        // Rows are padded to 4 bytes.
        EXPECT_EQ(info.lPitch, format == DXPF_RGB24 ? 16 : 20);
        const DXSAMPLE zero = format == DXPF_RGB24 ? Sample(255, 0, 0, 0) : Sample(0, 0, 0, 0);
        for (const DXSAMPLE& v : ReadAll(p.Get(), 5, 3, false))
            EXPECT_EQ(v, zero);

        DWORD status = 7;
        EXPECT_EQ(s->SetStatusFlags(3), S_OK);
        EXPECT_EQ(s->GetStatusFlags(&status), S_OK);
        EXPECT_EQ(status, 3u);
    }
}

TEST(SurfaceFactory, RefusesWhatItCannotMake) {
    ComPtr<IDXSurfaceFactory> f;
    ASSERT_EQ(DXCreateSurfaceFactory(&f), S_OK);
    EXPECT_EQ(DXCreateSurfaceFactory(nullptr), E_POINTER);
    GUID id = DXFMT_ARGB32;
    DXBNDS b = Bounds(0, 0, 4, 4);
    const IID& iid = uuidof<IDXSurface>();
    void* out = reinterpret_cast<void*>(1);
    auto create = [&](const void* desc, const GUID* fmt, const DXBNDS* bounds, DWORD flags,
                      IUnknown* outer) {
        out = reinterpret_cast<void*>(1);
        return f->CreateSurface(nullptr, desc, fmt, bounds, flags, outer, iid, &out);
    };
    EXPECT_EQ(f->CreateSurface(nullptr, nullptr, &id, &b, 0, nullptr, iid, nullptr), E_POINTER);
    EXPECT_EQ(create(nullptr, &id, &b, 0, reinterpret_cast<IUnknown*>(f.Get())),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(create(nullptr, nullptr, &b, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(create(nullptr, &id, nullptr, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(create(&b, &id, &b, 0, nullptr), E_NOTIMPL); // no DirectDraw descriptions
    EXPECT_EQ(create(nullptr, &id, &b, 1, nullptr), DXTERR_INVALID_FLAGS);
    GUID unknown = uuidof<IUnknown>();
    EXPECT_EQ(create(nullptr, &unknown, &b, 0, nullptr), DXTERR_UNSUPPORTED_FORMAT);
    DXBNDS bad = b;
    bad.eType = DXBT_CONTINUOUS;
    EXPECT_EQ(create(nullptr, &id, &bad, 0, nullptr), E_INVALIDARG);
    bad = Bounds(1, 0, 4, 4);
    EXPECT_EQ(create(nullptr, &id, &bad, 0, nullptr), DXTERR_INVALID_BOUNDS);
    bad = Bounds(0, 0, 4, -1);
    EXPECT_EQ(create(nullptr, &id, &bad, 0, nullptr), DXTERR_INVALID_BOUNDS);
    bad = Bounds(0, 0, 0x7FFFFFFF, 0x7FFFFFFF);
    EXPECT_EQ(create(nullptr, &id, &bad, 0, nullptr), E_OUTOFMEMORY);
    EXPECT_EQ(out, nullptr);
    // An empty surface is a surface.
    bad = Bounds(0, 0, 0, 0);
    EXPECT_EQ(create(nullptr, &id, &bad, 0, nullptr), S_OK);
    static_cast<IUnknown*>(out)->Release();
    // Another interface than the surface's.
    EXPECT_EQ(
        f->CreateSurface(nullptr, nullptr, &id, &b, 0, nullptr, uuidof<IDXTaskManager>(), &out),
        E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    // There is no DirectDraw here.
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(f->CreateFromDDSurface(f.Get(), nullptr, 0, nullptr, iid, &out), E_NOTIMPL);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(f->CreateFromDDSurface(f.Get(), nullptr, 0, nullptr, iid, nullptr), E_POINTER);
}

TEST(SurfaceOnMemory, ChecksItsArguments) {
    BYTE bits[64];
    ComPtr<IDXSurface> s;
    EXPECT_EQ(DXCreateSurfaceOnMemory(DXPF_ARGB32, bits, 16, 4, 4, nullptr), E_POINTER);
    EXPECT_EQ(DXCreateSurfaceOnMemory(DXPF_RGB32, bits, 16, 4, 4, &s), DXTERR_UNSUPPORTED_FORMAT);
    EXPECT_EQ(DXCreateSurfaceOnMemory(DXPF_ARGB32, nullptr, 16, 4, 4, &s), E_INVALIDARG);
    EXPECT_EQ(DXCreateSurfaceOnMemory(DXPF_ARGB32, bits, 15, 4, 4, &s), E_INVALIDARG);
    EXPECT_EQ(DXCreateSurfaceOnMemory(DXPF_RGB24, bits, -11, 4, 4, &s), E_INVALIDARG);
    EXPECT_EQ(DXCreateSurfaceOnMemory(DXPF_ARGB32, bits, 16, 0x80000000u, 1, &s), E_INVALIDARG);
    EXPECT_FALSE(s);
    EXPECT_EQ(DXCreateSurfaceOnMemory(DXPF_RGB24, bits, -12, 4, 4, &s), S_OK);
    EXPECT_TRUE(s);
    EXPECT_EQ(DXCreateSurfaceOnMemory(DXPF_ARGB32, nullptr, 0, 0, 0, &s), S_OK);
}

TEST(SurfaceOnMemory, RowsLieAtThePitchEitherWayUp) {
    constexpr ULONG w = 3, h = 4;
    for (DWORD format : kFormats) {
        for (LONG sign : {1, -1}) {
            SCOPED_TRACE(testing::Message() << format << " pitch sign " << sign);
            const LONG pitch = static_cast<LONG>(w * Bpp(format) + 5); // odd padding
            std::vector<BYTE> mem(std::size_t(pitch) * h, 0xEE);
            BYTE* top = sign > 0 ? mem.data() : mem.data() + std::size_t(pitch) * (h - 1);
            auto at = [&](ULONG x, ULONG y) {
                return top + std::ptrdiff_t(y) * pitch * sign + std::ptrdiff_t(x) * Bpp(format);
            };
            for (ULONG y = 0; y < h; ++y)
                for (ULONG x = 0; x < w; ++x)
                    for (ULONG k = 0; k < Bpp(format); ++k)
                        at(x, y)[k] = static_cast<BYTE>(y * 40 + x * 10 + k + 1);
            ComPtr<IDXSurface> s;
            ASSERT_EQ(DXCreateSurfaceOnMemory(format, top, pitch * sign, w, h, &s), S_OK);

            // Reads see the caller's rows.
            DXBNDS b = Bounds(1, 1, 3, 4);
            ComPtr<IDXARGBReadWritePtr> p = LockRW(s.Get(), &b);
            ASSERT_TRUE(p);
            DXNATIVETYPEINFO info{};
            EXPECT_EQ(p->GetNativeType(&info), format);
            EXPECT_EQ(info.pFirstByte, at(1, 1));
            EXPECT_EQ(info.lPitch, pitch * sign);
            std::vector<DXSAMPLE> got = ReadAll(p.Get(), 2, 3, false);
            for (ULONG y = 0; y < 3; ++y)
                for (ULONG x = 0; x < 2; ++x)
                    EXPECT_EQ(got[y * 2 + x], SampleOf(format, at(x + 1, y + 1), false));

            // Writes land in them, and nowhere else: padding and unlocked samples keep theirs.
            std::vector<BYTE> expected = mem;
            std::vector<DXSAMPLE> samples = Spread(6);
            DXPACKEDRECTDESC d{samples.data(), FALSE, {0, 0, 2, 3}, 0};
            p->PackRect(&d);
            p.Reset();
            for (ULONG y = 0; y < 3; ++y)
                for (ULONG x = 0; x < 2; ++x) {
                    std::vector<BYTE> want = NativeOf(format, samples[y * 2 + x], false);
                    std::memcpy(expected.data() + (at(x + 1, y + 1) - mem.data()), want.data(),
                                want.size());
                }
            EXPECT_EQ(mem, expected);
        }
    }
}

TEST(LockSurface, ChecksItsArguments) {
    ComPtr<IDXSurface> s = NewSurface(DXPF_PMARGB32, 8, 6);
    void* out = reinterpret_cast<void*>(1);
    const IID& rw = uuidof<IDXARGBReadWritePtr>();
    const IID& ro = uuidof<IDXARGBReadPtr>();
    auto lock = [&](const DXBNDS* b, DWORD flags, const IID& iid) {
        out = reinterpret_cast<void*>(1);
        HRESULT hr = s->LockSurface(b, 0, flags, iid, &out, nullptr);
        if (SUCCEEDED(hr))
            static_cast<IUnknown*>(out)->Release();
        else
            EXPECT_EQ(out, nullptr);
        return hr;
    };
    EXPECT_EQ(s->LockSurface(nullptr, 0, DXLOCKF_READ, ro, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(lock(nullptr, 0x100, ro), DXTERR_INVALID_FLAGS);
    EXPECT_EQ(lock(nullptr, DXLOCKF_READ, rw), E_INVALIDARG); // reading gives no writer
    EXPECT_EQ(lock(nullptr, DXLOCKF_READWRITE, uuidof<IDXSurface>()), E_NOINTERFACE);
    DXBNDS b = Bounds(0, 0, 8, 6);
    b.eType = DXBT_CONTINUOUS;
    EXPECT_EQ(lock(&b, DXLOCKF_READ, ro), E_INVALIDARG);
    for (DXBNDS bad : {Bounds(-1, 0, 8, 6), Bounds(0, 0, 9, 6), Bounds(0, 2, 8, 7),
                       Bounds(5, 0, 4, 6), Bounds(0, 4, 8, 3)}) {
        EXPECT_EQ(lock(&bad, DXLOCKF_READWRITE, rw), DXTERR_INVALID_BOUNDS);
    }
    b = Bounds(0, 0, 8, 6);
    b.u.D[DXB_Z] = {0, 2};
    EXPECT_EQ(lock(&b, DXLOCKF_READ, ro), DXTERR_INVALID_BOUNDS);
    b.u.D[DXB_Z] = {0, 1};
    b.u.D[DXB_T] = {1, 0};
    EXPECT_EQ(lock(&b, DXLOCKF_READ, ro), DXTERR_INVALID_BOUNDS);

    // Whole surface, sub-areas, and empty areas are fine; a read-write lock also reads.
    EXPECT_EQ(lock(nullptr, DXLOCKF_READ, ro), S_OK);
    EXPECT_EQ(lock(nullptr, DXLOCKF_READWRITE, ro), S_OK);
    b = Bounds(2, 3, 2, 6);
    EXPECT_EQ(lock(&b, DXLOCKF_READWRITE, rw), S_OK);
    b = Bounds(8, 6, 8, 6);
    EXPECT_EQ(lock(&b, DXLOCKF_READWRITE, rw), S_OK);
    ComPtr<IDXARGBReadWritePtr> empty = LockRW(s.Get(), &b);
    DXNATIVETYPEINFO info{};
    EXPECT_EQ(empty->GetNativeType(&info), DXPF_PMARGB32);
    EXPECT_EQ(info.pFirstByte, nullptr);
}

TEST(ReadPointer, AnswersOnlyWhatItsLockAllows) {
    ComPtr<IDXSurface> s = NewSurface(DXPF_ARGB32, 4, 4);
    ComPtr<IDXARGBReadPtr> r = LockRead(s.Get());
    ComPtr<IDXARGBReadWritePtr> w;
    EXPECT_EQ(r->QueryInterface(IID_PPV_ARGS(&w)), E_NOINTERFACE);
    EXPECT_FALSE(w);
    ComPtr<IUnknown> owner;
    EXPECT_EQ(r->GetSurface(IID_PPV_ARGS(&owner)), S_OK);
    ComPtr<IUnknown> unk;
    s->QueryInterface(IID_PPV_ARGS(&unk));
    EXPECT_EQ(owner.Get(), unk.Get());
    EXPECT_EQ(r->GetSurface(uuidof<IUnknown>(), nullptr), E_POINTER);
    r.Reset();

    // Pointers are recycled; one that wrote must not come back writable for a reader.
    for (int i = 0; i < 20; ++i) {
        DXBNDS b = Bounds(i % 4, 0, 4, 4);
        ComPtr<IDXARGBReadWritePtr> rw = LockRW(s.Get(), &b);
        ComPtr<IDXARGBReadPtr> asRead;
        EXPECT_EQ(rw->QueryInterface(IID_PPV_ARGS(&asRead)), S_OK);
        EXPECT_EQ(static_cast<IUnknown*>(asRead.Get()), static_cast<IUnknown*>(rw.Get()));
        asRead.Reset();
        rw.Reset();
        ComPtr<IDXARGBReadPtr> ro = LockRead(s.Get(), &b);
        EXPECT_EQ(ro->QueryInterface(IID_PPV_ARGS(&w)), E_NOINTERFACE);
        DXNATIVETYPEINFO info{};
        ro->GetNativeType(&info);
        EXPECT_EQ(info.pCurrentData, info.pFirstByte); // a fresh cursor
    }
}

TEST(Packing, ExactConversionsOnEveryFormat) {
    // Every format, both sample kinds, through PackRect/UnpackRect and the row operations.
    const std::vector<DXSAMPLE> samples = Spread(64);
    for (DWORD format : kFormats) {
        for (bool packPremult : {false, true}) {
            SCOPED_TRACE(testing::Message() << format << " premult " << packPremult);
            ComPtr<IDXSurface> s = NewSurface(format, 8, 8);
            ComPtr<IDXARGBReadWritePtr> p = LockRW(s.Get());
            DXPACKEDRECTDESC d{const_cast<DXSAMPLE*>(samples.data()), packPremult, {0, 0, 8, 8}, 0};
            p->PackRect(&d);
            DXNATIVETYPEINFO info{};
            p->GetNativeType(&info);
            for (int i = 0; i < 64; ++i) {
                std::vector<BYTE> want = NativeOf(format, samples[i], packPremult);
                const BYTE* got = info.pFirstByte + (i / 8) * info.lPitch + (i % 8) * Bpp(format);
                ASSERT_EQ(0, std::memcmp(got, want.data(), want.size())) << "sample " << i;
            }
            for (bool unpackPremult : {false, true}) {
                std::vector<DXSAMPLE> back = ReadAll(p.Get(), 8, 8, unpackPremult);
                for (int i = 0; i < 64; ++i) {
                    const BYTE* native =
                        info.pFirstByte + (i / 8) * info.lPitch + (i % 8) * Bpp(format);
                    ASSERT_EQ(back[i], SampleOf(format, native, unpackPremult)) << "sample " << i;
                }
                // Same kind as the surface: the samples come back unchanged.
                if (format != DXPF_RGB24 && (format == DXPF_PMARGB32) == packPremult &&
                    unpackPremult == packPremult) {
                    EXPECT_EQ(back, samples);
                }
            }

            // The row operations write and read the same as the rectangle ones.
            std::vector<DXSAMPLE> row(8);
            p->MoveToRow(3);
            if (packPremult)
                p->PackPremultAndMove(samples.data() + 40, 8);
            else
                p->PackAndMove(samples.data() + 40, 8);
            for (int x = 0; x < 8; ++x) {
                std::vector<BYTE> want = NativeOf(format, samples[40 + x], packPremult);
                const BYTE* got = info.pFirstByte + 3 * info.lPitch + x * Bpp(format);
                ASSERT_EQ(0, std::memcmp(got, want.data(), want.size())) << "x " << x;
            }
            std::vector<DXSAMPLE> viaRect = ReadAll(p.Get(), 8, 8, packPremult);
            p->MoveToRow(3);
            if (packPremult)
                EXPECT_EQ(p->UnpackPremult(row.data(), 8, FALSE), row.data());
            else
                EXPECT_EQ(p->Unpack(row.data(), 8, FALSE), row.data());
            EXPECT_TRUE(std::equal(row.begin(), row.end(), viaRect.begin() + 24));
        }
    }
}

TEST(Packing, RectanglesCursorsAndPadding) {
    ComPtr<IDXSurface> s = NewSurface(DXPF_ARGB32, 10, 6);
    DXBNDS area = Bounds(2, 1, 9, 6); // 7 x 5
    ComPtr<IDXARGBReadWritePtr> p = LockRW(s.Get(), &area);
    const DXSAMPLE guard = Sample(1, 2, 3, 4);

    // A rectangle inside the area, samples with two padding samples per row.
    std::vector<DXSAMPLE> buf(3 * 5, guard);
    std::vector<DXSAMPLE> src = Spread(15);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            buf[y * 5 + x] = src[y * 3 + x];
    DXPACKEDRECTDESC d{buf.data(), FALSE, {4, 1, 7, 4}, 2};
    p->PackRect(&d);
    std::vector<DXSAMPLE> all = ReadAll(p.Get(), 7, 5, false);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) {
            bool in = x >= 4 && x < 7 && y >= 1 && y < 4;
            EXPECT_EQ(all[y * 7 + x], in ? src[(y - 1) * 3 + (x - 4)] : Sample(0, 0, 0, 0));
        }
    std::vector<DXSAMPLE> out(3 * 5, guard);
    d.pSamples = out.data();
    p->UnpackRect(&d);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(out[y * 5 + x], x < 3 ? src[y * 3 + x] : guard); // padding untouched

    // Rectangles not inside the area are ignored whole.
    std::vector<DXSAMPLE> junk(64, guard);
    for (RECT r : {RECT{5, 0, 8, 2}, RECT{-1, 0, 2, 2}, RECT{0, 3, 2, 6}, RECT{3, 2, 2, 3}}) {
        DXPACKEDRECTDESC bad{junk.data(), FALSE, r, 0};
        p->PackRect(&bad);
        p->UnpackRect(&bad);
    }
    EXPECT_EQ(ReadAll(p.Get(), 7, 5, false), all);
    EXPECT_TRUE(std::all_of(junk.begin(), junk.end(), [&](auto v) { return v == guard; }));

    // Cursor: runs stop at the end of the row; moving goes to the next row's start.
    std::vector<DXSAMPLE> row(9, guard);
    p->MoveToXY(5, 2);
    p->Unpack(row.data(), 9, TRUE);
    EXPECT_EQ(row[0], all[2 * 7 + 5]);
    EXPECT_EQ(row[1], all[2 * 7 + 6]);
    EXPECT_EQ(row[2], guard);
    p->Unpack(row.data(), 1, FALSE); // now at (0, 3)
    EXPECT_EQ(row[0], all[3 * 7 + 0]);
    const DXSAMPLE two[2] = {Sample(9, 9, 9, 9), Sample(8, 8, 8, 8)};
    p->PackAndMove(two, 2); // (0, 3), then (0, 4)
    p->PackAndMove(two + 1, 1);
    p->MoveToXY(6, 4);
    p->PackAndMove(two, 2); // one sample fits
    p->MoveToXY(0, 5);      // below the area: nothing
    p->PackAndMove(two, 2);
    p->MoveToXY(7, 0); // right of the area: nothing
    DXNATIVETYPEINFO info{};
    p->GetNativeType(&info);
    EXPECT_EQ(info.pCurrentData, nullptr);
    p->PackAndMove(two, 1);
    std::vector<DXSAMPLE> after = ReadAll(p.Get(), 7, 5, false);
    all[3 * 7 + 0] = two[0];
    all[3 * 7 + 1] = two[1];
    all[4 * 7 + 0] = two[1];
    all[4 * 7 + 6] = two[0];
    EXPECT_EQ(after, all);
    p->MoveToRow(1);
    p->GetNativeType(&info);
    EXPECT_EQ(info.pCurrentData, info.pFirstByte + info.lPitch);
}

TEST(Packing, FillRectReplacesOrBlends) {
    for (DWORD format : kFormats) {
        SCOPED_TRACE(format);
        ComPtr<IDXSurface> s = NewSurface(format, 70, 3); // wider than one fill chunk
        ComPtr<IDXARGBReadWritePtr> p = LockRW(s.Get());
        const DXSAMPLE base = Sample(200, 150, 100, 50);
        std::vector<DXSAMPLE> row(70, base);
        for (int y = 0; y < 3; ++y) {
            p->MoveToRow(static_cast<ULONG>(y));
            p->PackAndMove(row.data(), 70);
        }
        std::vector<DXSAMPLE> before = ReadAll(p.Get(), 70, 3, true);

        const DXSAMPLE fill = Sample(128, 100, 64, 0); // premultiplied
        RECT r{1, 1, 69, 2};
        p->FillRect(&r, fill, FALSE);
        std::vector<DXSAMPLE> got = ReadAll(p.Get(), 70, 3, true);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 70; ++x) {
                DXSAMPLE want = before[y * 70 + x];
                if (y == 1 && x >= 1 && x < 69) {
                    std::vector<BYTE> native = NativeOf(format, fill, true);
                    want = SampleOf(format, native.data(), true);
                }
                ASSERT_EQ(got[y * 70 + x], want) << x << "," << y;
            }

        // Over: d = s + d * (255 - sa) / 255 on premultiplied samples, rounded to nearest.
        p->FillRect(nullptr, fill, TRUE);
        std::vector<DXSAMPLE> blended = ReadAll(p.Get(), 70, 3, true);
        for (int i : {0, 75, 209}) {
            DXSAMPLE d = got[i];
            auto ch = [&](BYTE sc, BYTE dc) {
                return static_cast<BYTE>(sc + std::lround(dc * (255 - fill.Alpha) / 255.0));
            };
            DXSAMPLE over = Sample(ch(fill.Alpha, d.Alpha), ch(fill.Red, d.Red),
                                   ch(fill.Green, d.Green), ch(fill.Blue, d.Blue));
            std::vector<BYTE> native = NativeOf(format, over, true);
            EXPECT_EQ(blended[i], SampleOf(format, native.data(), true)) << i;
        }
        // A rectangle outside the area changes nothing.
        RECT outside{60, 0, 71, 1};
        p->FillRect(&outside, Sample(255, 1, 1, 1), FALSE);
        EXPECT_EQ(ReadAll(p.Get(), 70, 3, true), blended);
    }
}

TEST(SurfaceGeneration, RisesWhenContentMayHaveChanged) {
    ComPtr<IDXSurface> s = NewSurface(DXPF_PMARGB32, 4, 4);
    ULONG g0 = Generation(s.Get());
    EXPECT_EQ(s->GetGenerationId(nullptr), E_POINTER);
    LockRead(s.Get()).Reset();
    EXPECT_EQ(Generation(s.Get()), g0); // reading changes nothing

    ComPtr<IDXARGBReadWritePtr> w;
    ULONG atLock = 0;
    ASSERT_EQ(s->LockSurface(nullptr, 0, DXLOCKF_READWRITE, uuidof<IDXARGBReadWritePtr>(),
                             reinterpret_cast<void**>(&w), &atLock),
              S_OK);
    EXPECT_EQ(atLock, g0);
    EXPECT_EQ(Generation(s.Get()), g0); // not yet: the writer may still be writing
    w.Reset();
    EXPECT_EQ(Generation(s.Get()), g0 + 1);

    // Two writers, each release counts.
    DXBNDS a = Bounds(0, 0, 2, 4), b = Bounds(2, 0, 4, 4);
    ComPtr<IDXARGBReadWritePtr> w1 = LockRW(s.Get(), &a), w2 = LockRW(s.Get(), &b);
    w1.Reset();
    w2.Reset();
    EXPECT_EQ(Generation(s.Get()), g0 + 3);

    EXPECT_EQ(s->IncrementGenerationId(FALSE), S_OK);
    EXPECT_EQ(s->IncrementGenerationId(TRUE), S_OK);
    EXPECT_EQ(Generation(s.Get()), g0 + 5);

    // A surface over caller memory: the caller says when it wrote.
    BYTE mem[16]{};
    ComPtr<IDXSurface> m;
    ASSERT_EQ(DXCreateSurfaceOnMemory(DXPF_ARGB32, mem, 8, 2, 2, &m), S_OK);
    ULONG m0 = Generation(m.Get());
    m->IncrementGenerationId(FALSE);
    EXPECT_EQ(Generation(m.Get()), m0 + 1);
}
