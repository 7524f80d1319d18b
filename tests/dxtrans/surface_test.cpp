// Memory surfaces: creation, lock arguments, native access at any pitch, exact packing and
// unpacking on every format, cursors and rectangles, filling, and generation ids.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "helpers.h"
#include "platform/dxtrans/samples.h"

using namespace dxtest;
using velmora::dxtrans::PremultiplySample;
using velmora::dxtrans::UnpremultiplySample;

namespace {

constexpr DWORD kFormats[] = {DXPF_PMARGB32, DXPF_ARGB32, DXPF_RGB24};

ULONG Bpp(DWORD format) {
    return format == DXPF_RGB24 ? 3 : 4;
}

// The native bytes a format keeps for a sample given premultiplied or straight.
std::vector<BYTE> NativeOf(DWORD format, DXSAMPLE s, bool premult) {
    if (format == DXPF_RGB24) {
        s = premult ? UnpremultiplySample(s) : s;
        return {s.Blue, s.Green, s.Red};
    }
    const bool native = format == DXPF_PMARGB32;
    if (native != premult)
        s = native ? PremultiplySample(s) : UnpremultiplySample(s);
    return {s.Blue, s.Green, s.Red, s.Alpha};
}

// The sample a format gives for native bytes, premultiplied or straight.
DXSAMPLE SampleOf(DWORD format, const BYTE* n, bool premult) {
    if (format == DXPF_RGB24)
        return Sample(255, n[2], n[1], n[0]);
    DXSAMPLE s{n[0], n[1], n[2], n[3]};
    if ((format == DXPF_PMARGB32) == premult)
        return s;
    return premult ? PremultiplySample(s) : UnpremultiplySample(s);
}

// Every alpha class, colours above and below alpha.
std::vector<DXSAMPLE> Spread(std::size_t n) {
    std::vector<DXSAMPLE> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = Sample(BYTE(i * 37), BYTE(i * 11 + 3), BYTE(255 - i * 5), BYTE(i * 97));
    v[1].Alpha = 255;
    return v;
}

} // namespace

TEST(SurfaceFactory, MakesZeroedSurfacesOfEachFormat) {
    const GUID ids[] = {DXFMT_PMARGB32, DXFMT_ARGB32, DXFMT_RGB24};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(kFormats[i]);
        ComPtr<IDXSurface> s = NewSurface(kFormats[i], 5, 3);
        GUID id{};
        DXSAMPLEFORMATENUM word{};
        EXPECT_EQ(s->GetPixelFormat(&id, &word), S_OK);
        EXPECT_EQ(id, ids[i]);
        EXPECT_EQ(word, kFormats[i]);
        EXPECT_EQ(s->GetPixelFormat(nullptr, nullptr), E_POINTER);
        DXBNDS b{};
        const DXBNDS want = Bounds(0, 0, 5, 3);
        EXPECT_EQ(s->GetBounds(&b), S_OK);
        EXPECT_EQ(0, std::memcmp(&b, &want, sizeof b));
        EXPECT_EQ(s->GetBounds(nullptr), E_POINTER);
        ComPtr<IDXBaseObject> base;
        ComPtr<IUnknown> u1, u2;
        EXPECT_EQ(s->QueryInterface(IID_PPV_ARGS(&base)), S_OK);
        s->QueryInterface(IID_PPV_ARGS(&u1));
        base->QueryInterface(IID_PPV_ARGS(&u2));
        EXPECT_EQ(u1.Get(), u2.Get());

        ComPtr<IDXARGBReadPtr> p = LockRead(s.Get());
        DXNATIVETYPEINFO info{};
        EXPECT_EQ(p->GetNativeType(&info), kFormats[i]);
        EXPECT_EQ(info.lPitch, i == 2 ? 16 : 20); // rows padded to 4 bytes
        const DXSAMPLE zero = Sample(i == 2 ? 255 : 0, 0, 0, 0);
        for (const DXSAMPLE& v : ReadAll(p.Get(), 5, 3, false))
            EXPECT_EQ(v, zero);
    }
}

TEST(SurfaceFactory, RefusesWhatItCannotMake) {
    ComPtr<IDXSurfaceFactory> f;
    ASSERT_EQ(DXCreateSurfaceFactory(&f), S_OK);
    GUID id = DXFMT_ARGB32, other = uuidof<IUnknown>();
    void* out = nullptr;
    auto create = [&](const void* desc, const GUID* fmt, DXBNDS b, DWORD flags, IUnknown* outer) {
        out = &out;
        HRESULT hr =
            f->CreateSurface(nullptr, desc, fmt, &b, flags, outer, uuidof<IDXSurface>(), &out);
        if (SUCCEEDED(hr))
            static_cast<IUnknown*>(out)->Release();
        else
            EXPECT_EQ(out, nullptr);
        return hr;
    };
    DXBNDS b = Bounds(0, 0, 4, 4), continuous = b;
    continuous.eType = DXBT_CONTINUOUS;
    EXPECT_EQ(create(nullptr, &id, b, 0, f.Get()), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(create(nullptr, nullptr, b, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(create(nullptr, &id, continuous, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(create(&b, &id, b, 0, nullptr), E_NOTIMPL); // no DirectDraw descriptions
    EXPECT_EQ(create(nullptr, &id, b, 1, nullptr), DXTERR_INVALID_FLAGS);
    EXPECT_EQ(create(nullptr, &other, b, 0, nullptr), DXTERR_UNSUPPORTED_FORMAT);
    EXPECT_EQ(create(nullptr, &id, Bounds(1, 0, 4, 4), 0, nullptr), DXTERR_INVALID_BOUNDS);
    EXPECT_EQ(create(nullptr, &id, Bounds(0, 0, 4, -1), 0, nullptr), DXTERR_INVALID_BOUNDS);
    EXPECT_EQ(create(nullptr, &id, Bounds(0, 0, 0x7FFFFFFF, 0x7FFFFFFF), 0, nullptr),
              E_OUTOFMEMORY);
    EXPECT_EQ(create(nullptr, &id, Bounds(0, 0, 0, 0), 0, nullptr), S_OK);
    EXPECT_EQ(
        f->CreateSurface(nullptr, nullptr, &id, &b, 0, nullptr, uuidof<IDXSurface>(), nullptr),
        E_POINTER);
    out = &out;
    EXPECT_EQ(f->CreateFromDDSurface(f.Get(), nullptr, 0, nullptr, uuidof<IDXSurface>(), &out),
              E_NOTIMPL); // there is no DirectDraw here
    EXPECT_EQ(out, nullptr);

    BYTE bits[64];
    ComPtr<IDXSurface> s;
    EXPECT_EQ(DXCreateSurfaceOnMemory(DXPF_ARGB32, bits, 16, 4, 4, nullptr), E_POINTER);
    EXPECT_EQ(DXCreateSurfaceOnMemory(DXPF_RGB32, bits, 16, 4, 4, &s), DXTERR_UNSUPPORTED_FORMAT);
    EXPECT_EQ(DXCreateSurfaceOnMemory(DXPF_ARGB32, nullptr, 16, 4, 4, &s), E_INVALIDARG);
    EXPECT_EQ(DXCreateSurfaceOnMemory(DXPF_ARGB32, bits, 15, 4, 4, &s), E_INVALIDARG);
    EXPECT_EQ(DXCreateSurfaceOnMemory(DXPF_RGB24, bits, -11, 4, 4, &s), E_INVALIDARG);
    EXPECT_EQ(DXCreateSurfaceOnMemory(DXPF_ARGB32, bits, 16, 0x80000000u, 1, &s), E_INVALIDARG);
    EXPECT_FALSE(s);
    EXPECT_EQ(DXCreateSurfaceOnMemory(DXPF_RGB24, bits + 48, -12, 4, 4, &s), S_OK);
}

TEST(LockSurface, ChecksItsArguments) {
    ComPtr<IDXSurface> s = NewSurface(DXPF_PMARGB32, 8, 6);
    EXPECT_EQ(s->LockSurface(nullptr, 0, 0, uuidof<IDXARGBReadPtr>(), nullptr, nullptr), E_POINTER);
    void* out = &out;
    EXPECT_EQ(s->LockSurface(nullptr, 0, 0x100, uuidof<IDXARGBReadPtr>(), &out, nullptr),
              DXTERR_INVALID_FLAGS);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(
        s->LockSurface(nullptr, 0, DXLOCKF_READ, uuidof<IDXARGBReadWritePtr>(), &out, nullptr),
        E_INVALIDARG); // a read lock gives no writer
    EXPECT_EQ(s->LockSurface(nullptr, 0, 0, uuidof<IDXSurface>(), &out, nullptr), E_NOINTERFACE);
    DXBNDS b = Bounds(0, 0, 8, 6);
    b.eType = DXBT_CONTINUOUS;
    EXPECT_EQ(TryLock(s.Get(), &b, DXLOCKF_READ), E_INVALIDARG);
    DXBNDS z = Bounds(0, 0, 8, 6), t = z;
    z.u.D[DXB_Z] = {0, 2};
    t.u.D[DXB_T] = {1, 0};
    for (DXBNDS bad :
         {Bounds(-1, 0, 8, 6), Bounds(0, 0, 9, 6), Bounds(0, 2, 8, 7), Bounds(5, 0, 4, 6), z, t})
        EXPECT_EQ(TryLock(s.Get(), &bad, DXLOCKF_READWRITE), DXTERR_INVALID_BOUNDS);
    // Whole, partial and empty areas are fine; an empty one has no first sample.
    EXPECT_EQ(TryLock(s.Get(), nullptr, DXLOCKF_READWRITE), S_OK);
    b = Bounds(2, 3, 2, 6);
    EXPECT_EQ(TryLock(s.Get(), &b, DXLOCKF_READWRITE), S_OK);
    b = Bounds(8, 6, 8, 6);
    DXNATIVETYPEINFO info{};
    EXPECT_EQ(LockRW(s.Get(), &b)->GetNativeType(&info), DXPF_PMARGB32);
    EXPECT_EQ(info.pFirstByte, nullptr);
}

TEST(SurfaceOnMemory, RowsLieAtThePitchEitherWayUp) {
    constexpr ULONG w = 3, h = 4;
    for (DWORD format : kFormats) {
        for (LONG sign : {1, -1}) {
            SCOPED_TRACE(testing::Message() << format << " pitch sign " << sign);
            const LONG pitch = static_cast<LONG>(w * Bpp(format) + 5);
            std::vector<BYTE> mem(std::size_t(pitch) * h);
            for (std::size_t i = 0; i < mem.size(); ++i)
                mem[i] = static_cast<BYTE>(i * 7 + 1);
            BYTE* top = sign > 0 ? mem.data() : mem.data() + std::size_t(pitch) * (h - 1);
            auto at = [&](ULONG x, ULONG y) {
                return top + LONG(y) * pitch * sign + x * Bpp(format);
            };
            ComPtr<IDXSurface> s;
            ASSERT_EQ(DXCreateSurfaceOnMemory(format, top, pitch * sign, w, h, &s), S_OK);

            DXBNDS b = Bounds(1, 1, 3, 4);
            ComPtr<IDXARGBReadWritePtr> p = LockRW(s.Get(), &b);
            DXNATIVETYPEINFO info{};
            EXPECT_EQ(p->GetNativeType(&info), format);
            EXPECT_EQ(info.pFirstByte, at(1, 1));
            EXPECT_EQ(info.lPitch, pitch * sign);
            std::vector<DXSAMPLE> got = ReadAll(p.Get(), 2, 3, false);
            for (ULONG i = 0; i < 6; ++i)
                EXPECT_EQ(got[i], SampleOf(format, at(1 + i % 2, 1 + i / 2), false)) << i;

            // Writes land in the caller's rows and nowhere else.
            std::vector<BYTE> expected = mem;
            std::vector<DXSAMPLE> samples = Spread(6);
            for (ULONG i = 0; i < 6; ++i) {
                std::vector<BYTE> n = NativeOf(format, samples[i], false);
                std::memcpy(&expected[at(1 + i % 2, 1 + i / 2) - mem.data()], n.data(), n.size());
            }
            DXPACKEDRECTDESC d{samples.data(), FALSE, {0, 0, 2, 3}, 0};
            p->PackRect(&d);
            EXPECT_EQ(mem, expected);
        }
    }
}

TEST(SurfaceOnMemory, FromASourceRowsAreCopiedOnFirstLockAndTheRestAtRelease) {
    constexpr ULONG w = 5, h = 8;
    for (DWORD format : kFormats) {
        SCOPED_TRACE(format);
        const LONG row = static_cast<LONG>(w * Bpp(format));
        // A bottom-up source with padding, a top-down destination without.
        std::vector<BYTE> source(std::size_t(row + 3) * h), mem(std::size_t(row) * h, 0xEE);
        for (std::size_t i = 0; i < source.size(); ++i)
            source[i] = static_cast<BYTE>(i * 13 + 5);
        const std::vector<BYTE> original = source;
        const BYTE* sourceTop = source.data() + std::size_t(row + 3) * (h - 1);
        auto sourceRow = [&](LONG y) {
            return std::vector<BYTE>(sourceTop - y * (row + 3), sourceTop - y * (row + 3) + row);
        };
        auto memRow = [&](LONG y) {
            return std::vector<BYTE>(mem.begin() + y * row, mem.begin() + (y + 1) * row);
        };
        ComPtr<IDXSurface> s;
        ASSERT_EQ(
            DXCreateSurfaceOnMemoryFrom(format, mem.data(), row, sourceTop, -(row + 3), w, h, &s),
            S_OK);
        EXPECT_EQ(memRow(0), std::vector<BYTE>(row, 0xEE)) << "nothing is copied before a lock";

        // A lock of some columns brings its rows whole; the holder's writes are kept from then on,
        // also when a later lock reaches the same rows.
        DXBNDS b = Bounds(1, 2, 3, 4);
        ComPtr<IDXARGBReadWritePtr> p = LockRW(s.Get(), &b);
        for (LONG y = 2; y < 4; ++y)
            EXPECT_EQ(memRow(y), sourceRow(y)) << y;
        EXPECT_EQ(memRow(4), std::vector<BYTE>(row, 0xEE));
        p->FillRect(nullptr, Sample(255, 1, 2, 3), FALSE);
        p.Reset();
        std::vector<BYTE> written = memRow(3);
        b = Bounds(0, 3, 5, 6);
        ComPtr<IDXARGBReadPtr> r = LockRead(s.Get(), &b);
        EXPECT_EQ(memRow(3), written);
        EXPECT_NE(written, sourceRow(3));
        EXPECT_EQ(memRow(5), sourceRow(5));
        r.Reset();

        // The rows no lock reached arrive when the surface goes away; the source is only read.
        s.Reset();
        for (LONG y : {0, 1, 6, 7})
            EXPECT_EQ(memRow(y), sourceRow(y)) << y;
        EXPECT_EQ(memRow(3), written);
        EXPECT_EQ(source, original);
    }

    // The source is checked like the memory; the memory itself as source is the plain surface.
    BYTE bits[64] = {};
    ComPtr<IDXSurface> s;
    EXPECT_EQ(DXCreateSurfaceOnMemoryFrom(DXPF_PMARGB32, bits, 16, nullptr, 16, 4, 4, &s),
              E_INVALIDARG);
    EXPECT_EQ(DXCreateSurfaceOnMemoryFrom(DXPF_PMARGB32, bits, 16, bits, 12, 4, 4, &s),
              E_INVALIDARG);
    EXPECT_EQ(s.Get(), nullptr);
    EXPECT_EQ(DXCreateSurfaceOnMemoryFrom(DXPF_PMARGB32, bits, 16, bits, 16, 4, 4, &s), S_OK);
}

TEST(Packing, ExactConversionsOnEveryFormat) {
    const std::vector<DXSAMPLE> samples = Spread(64);
    for (DWORD format : kFormats) {
        for (bool premult : {false, true}) {
            SCOPED_TRACE(testing::Message() << format << " premult " << premult);
            ComPtr<IDXSurface> s = NewSurface(format, 8, 8);
            ComPtr<IDXARGBReadWritePtr> p = LockRW(s.Get());
            DXNATIVETYPEINFO info{};
            p->GetNativeType(&info);
            auto native = [&](int i) {
                return info.pFirstByte + (i / 8) * info.lPitch + (i % 8) * Bpp(format);
            };
            DXPACKEDRECTDESC d{const_cast<DXSAMPLE*>(samples.data()), premult, {0, 0, 8, 7}, 0};
            p->PackRect(&d);
            // The last row through the row operation.
            p->MoveToRow(7);
            if (premult)
                p->PackPremultAndMove(samples.data() + 56, 8);
            else
                p->PackAndMove(samples.data() + 56, 8);
            for (int i = 0; i < 64; ++i) {
                std::vector<BYTE> want = NativeOf(format, samples[i], premult);
                ASSERT_EQ(0, std::memcmp(native(i), want.data(), want.size())) << i;
            }
            for (bool out : {false, true}) {
                std::vector<DXSAMPLE> back = ReadAll(p.Get(), 8, 8, out);
                std::vector<DXSAMPLE> row(8);
                p->MoveToRow(7);
                EXPECT_EQ(out ? p->UnpackPremult(row.data(), 8, FALSE)
                              : p->Unpack(row.data(), 8, FALSE),
                          row.data());
                for (int i = 0; i < 64; ++i)
                    ASSERT_EQ(back[i], SampleOf(format, native(i), out)) << i;
                EXPECT_TRUE(std::equal(row.begin(), row.end(), back.begin() + 56));
                // The surface's own kind comes back byte for byte.
                if (format != DXPF_RGB24 && (format == DXPF_PMARGB32) == premult &&
                    out == premult) {
                    EXPECT_EQ(back, samples);
                }
            }
        }
    }
}

TEST(Packing, RectanglesCursorsAndPadding) {
    ComPtr<IDXSurface> s = NewSurface(DXPF_ARGB32, 10, 6);
    DXBNDS area = Bounds(2, 1, 9, 6); // 7 x 5
    ComPtr<IDXARGBReadWritePtr> p = LockRW(s.Get(), &area);
    const DXSAMPLE guard = Sample(1, 2, 3, 4);
    // A 3 x 3 rectangle at (4, 1) of the area, two padding samples per row in the buffer.
    std::vector<DXSAMPLE> src = Spread(15);
    DXPACKEDRECTDESC d{src.data(), FALSE, {4, 1, 7, 4}, 2};
    p->PackRect(&d);
    std::vector<DXSAMPLE> all = ReadAll(p.Get(), 7, 5, false);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) {
            bool in = x >= 4 && y >= 1 && y < 4;
            EXPECT_EQ(all[y * 7 + x], in ? src[(y - 1) * 5 + (x - 4)] : Sample(0, 0, 0, 0));
        }
    std::vector<DXSAMPLE> out(15, guard);
    d.pSamples = out.data();
    p->UnpackRect(&d);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(out[i], i % 5 < 3 ? src[i] : guard) << i; // padding untouched

    // Rectangles not inside the area are ignored whole.
    for (RECT r : {RECT{5, 0, 8, 2}, RECT{-1, 0, 2, 2}, RECT{0, 3, 2, 6}, RECT{3, 2, 2, 3}}) {
        std::vector<DXSAMPLE> junk(16, guard);
        DXPACKEDRECTDESC bad{junk.data(), FALSE, r, 0};
        p->PackRect(&bad);
        p->UnpackRect(&bad);
        EXPECT_EQ(junk, std::vector<DXSAMPLE>(16, guard));
    }
    EXPECT_EQ(ReadAll(p.Get(), 7, 5, false), all);

    // Runs stop at the end of the row; moving goes to the start of the next row.
    std::vector<DXSAMPLE> row(3, guard);
    p->MoveToXY(5, 2);
    p->Unpack(row.data(), 3, TRUE);
    EXPECT_EQ(row, (std::vector<DXSAMPLE>{all[19], all[20], guard}));
    DXNATIVETYPEINFO info{};
    p->GetNativeType(&info);
    EXPECT_EQ(info.pCurrentData, info.pFirstByte + 3 * info.lPitch);
    const DXSAMPLE two[2] = {Sample(9, 9, 9, 9), Sample(8, 8, 8, 8)};
    p->PackAndMove(two, 2);     // (0, 3), then to (0, 4)
    p->PackAndMove(two + 1, 1); // (0, 4)
    p->MoveToXY(6, 4);
    p->PackAndMove(two, 2); // one fits
    p->MoveToXY(7, 0);      // right of the area
    p->GetNativeType(&info);
    EXPECT_EQ(info.pCurrentData, nullptr);
    p->PackAndMove(two, 1);
    p->MoveToRow(5); // below it
    p->PackAndMove(two, 2);
    all[21] = two[0];
    all[22] = two[1];
    all[28] = two[1];
    all[34] = two[0];
    EXPECT_EQ(ReadAll(p.Get(), 7, 5, false), all);
}

TEST(Packing, FillRectReplacesOrBlends) {
    const DXSAMPLE fill = Sample(128, 100, 64, 0); // premultiplied
    for (DWORD format : kFormats) {
        SCOPED_TRACE(format);
        ComPtr<IDXSurface> s = NewSurface(format, 70, 2); // wider than one fill chunk
        ComPtr<IDXARGBReadWritePtr> p = LockRW(s.Get());
        const DXSAMPLE base = Sample(200, 150, 100, 50);
        std::vector<DXSAMPLE> row(70, base);
        p->PackAndMove(row.data(), 70);
        p->PackAndMove(row.data(), 70);
        const DXSAMPLE before = ReadAll(p.Get(), 70, 2, true)[0];
        RECT r{1, 1, 69, 2};
        p->FillRect(&r, fill, FALSE);
        const DXSAMPLE filled = SampleOf(format, NativeOf(format, fill, true).data(), true);
        std::vector<DXSAMPLE> got = ReadAll(p.Get(), 70, 2, true);
        for (int i = 0; i < 140; ++i)
            ASSERT_EQ(got[i], (i > 70 && i < 139) ? filled : before) << i;
        // Over, on premultiplied samples: d' = s + d * (255 - sa) / 255, rounded.
        p->FillRect(nullptr, fill, TRUE);
        got = ReadAll(p.Get(), 70, 2, true);
        for (auto [i, d] : {std::pair{0, before}, std::pair{75, filled}}) {
            auto ch = [&](BYTE sc, BYTE dc) { return BYTE(sc + std::lround(dc * 127 / 255.0)); };
            DXSAMPLE over = Sample(ch(fill.Alpha, d.Alpha), ch(fill.Red, d.Red),
                                   ch(fill.Green, d.Green), ch(fill.Blue, d.Blue));
            EXPECT_EQ(got[i], SampleOf(format, NativeOf(format, over, true).data(), true)) << i;
        }
    }
}

TEST(SurfaceGeneration, RisesWhenAWriterLetsGo) {
    ComPtr<IDXSurface> s = NewSurface(DXPF_PMARGB32, 4, 4);
    const ULONG g0 = Generation(s.Get());
    EXPECT_EQ(s->GetGenerationId(nullptr), E_POINTER);
    LockRead(s.Get()).Reset();
    EXPECT_EQ(Generation(s.Get()), g0);
    ComPtr<IDXARGBReadWritePtr> w;
    ULONG atLock = 0;
    ASSERT_EQ(s->LockSurface(nullptr, 0, DXLOCKF_READWRITE, uuidof<IDXARGBReadWritePtr>(),
                             reinterpret_cast<void**>(&w), &atLock),
              S_OK);
    EXPECT_EQ(atLock, g0);
    EXPECT_EQ(Generation(s.Get()), g0); // the writer may still be writing
    w.Reset();
    EXPECT_EQ(Generation(s.Get()), g0 + 1);
    DXBNDS a = Bounds(0, 0, 2, 4), b = Bounds(2, 0, 4, 4);
    ComPtr<IDXARGBReadWritePtr> w1 = LockRW(s.Get(), &a), w2 = LockRW(s.Get(), &b);
    w1.Reset();
    w2.Reset();
    EXPECT_EQ(s->IncrementGenerationId(FALSE), S_OK);
    EXPECT_EQ(Generation(s.Get()), g0 + 4);
}

TEST(ReadPointer, AnswersOnlyWhatItsLockAllows) {
    ComPtr<IDXSurface> s = NewSurface(DXPF_ARGB32, 4, 4);
    ComPtr<IUnknown> owner, unk;
    EXPECT_EQ(LockRead(s.Get())->GetSurface(IID_PPV_ARGS(&owner)), S_OK);
    s->QueryInterface(IID_PPV_ARGS(&unk));
    EXPECT_EQ(owner.Get(), unk.Get());
    // Pointers are recycled: one that wrote must not come back writable, or with its cursor.
    for (LONG i = 0; i < 12; ++i) {
        DXBNDS b = Bounds(i % 4, 0, 4, 4);
        ComPtr<IDXARGBReadWritePtr> rw = LockRW(s.Get(), &b), w;
        ComPtr<IDXARGBReadPtr> asRead;
        EXPECT_EQ(rw->QueryInterface(IID_PPV_ARGS(&asRead)), S_OK);
        EXPECT_EQ(static_cast<IUnknown*>(asRead.Get()), static_cast<IUnknown*>(rw.Get()));
        rw->MoveToRow(2);
        asRead.Reset();
        rw.Reset();
        ComPtr<IDXARGBReadPtr> ro = LockRead(s.Get(), &b);
        EXPECT_EQ(ro->QueryInterface(IID_PPV_ARGS(&w)), E_NOINTERFACE);
        DXNATIVETYPEINFO info{};
        ro->GetNativeType(&info);
        EXPECT_EQ(info.pCurrentData, info.pFirstByte);
    }
}
