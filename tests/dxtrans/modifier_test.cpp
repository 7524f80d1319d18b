// The surface modifier: the foreground inside larger bounds, the fill outside, tiling, the
// locks it takes on the foreground, and its generation id.
#include <gtest/gtest.h>

#include <thread>

#include "helpers.h"
#include "platform/dxtrans/samples.h"

using namespace dxtest;
using velmora::dxtrans::PremultiplySample;

namespace {

ComPtr<IDXSurfaceModifier> NewModifier() {
    ComPtr<IDXSurfaceModifier> m;
    EXPECT_EQ(DXCreateSurfaceModifier(nullptr, IID_PPV_ARGS(&m)), S_OK);
    return m;
}

ComPtr<IDXSurface> AsSurface(IDXSurfaceModifier* m) {
    ComPtr<IDXSurface> s;
    EXPECT_EQ(m->QueryInterface(IID_PPV_ARGS(&s)), S_OK);
    return s;
}

// A w x h straight ARGB foreground whose sample (x, y) is Mark(x, y).
DXSAMPLE Mark(LONG x, LONG y) {
    return Sample(static_cast<BYTE>(100 + x), static_cast<BYTE>(10 * y + x),
                  static_cast<BYTE>(x * 7), static_cast<BYTE>(y * 9));
}
ComPtr<IDXSurface> Foreground(DWORD format, LONG w, LONG h) {
    ComPtr<IDXSurface> fg = NewSurface(format, w, h);
    ComPtr<IDXARGBReadWritePtr> p = LockRW(fg.Get());
    for (LONG y = 0; y < h; ++y) {
        p->MoveToRow(static_cast<ULONG>(y));
        for (LONG x = 0; x < w; ++x) {
            DXSAMPLE s = Mark(x, y);
            p->MoveToXY(static_cast<ULONG>(x), static_cast<ULONG>(y));
            p->PackAndMove(&s, 1);
        }
    }
    return fg;
}

} // namespace

TEST(SurfaceModifier, CreationAndIdentity) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(DXCreateSurfaceModifier(nullptr, uuidof<IDXSurfaceModifier>(), nullptr), E_POINTER);
    ComPtr<IDXSurfaceModifier> m = NewModifier();
    EXPECT_EQ(DXCreateSurfaceModifier(m.Get(), uuidof<IDXSurfaceModifier>(), &out),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(DXCreateSurfaceModifier(nullptr, uuidof<IDXTaskManager>(), &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    ComPtr<IDXSurface> s = AsSurface(m.Get());
    ComPtr<IDXBaseObject> base;
    ComPtr<IDXSurfaceModifier> back;
    ComPtr<IUnknown> u1, u2;
    EXPECT_EQ(s->QueryInterface(IID_PPV_ARGS(&base)), S_OK);
    EXPECT_EQ(base->QueryInterface(IID_PPV_ARGS(&back)), S_OK);
    EXPECT_EQ(back.Get(), m.Get());
    m->QueryInterface(IID_PPV_ARGS(&u1));
    s->QueryInterface(IID_PPV_ARGS(&u2));
    EXPECT_EQ(u1.Get(), u2.Get());

    // Empty until given something to show.
    DXBNDS b{};
    EXPECT_EQ(s->GetBounds(&b), S_OK);
    EXPECT_EQ(b.u.D[DXB_X].Max, 0);
    ComPtr<IDXSurface> fg;
    BOOL tile = TRUE;
    POINT origin{5, 5};
    EXPECT_EQ(m->GetForeground(&fg, &tile, &origin), S_OK);
    EXPECT_FALSE(fg);
    EXPECT_EQ(tile, FALSE);
    EXPECT_EQ(origin.x, 0);
    EXPECT_EQ(m->GetForeground(nullptr, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(m->SetForeground(s.Get(), FALSE, nullptr), E_INVALIDARG); // not itself
    EXPECT_EQ(m->SetBounds(nullptr), E_POINTER);
    b.eType = DXBT_CONTINUOUS;
    EXPECT_EQ(m->SetBounds(&b), E_INVALIDARG);
    b = Bounds(0, 0, 4, 4);
    b.u.D[DXB_Y] = {3, 2};
    EXPECT_EQ(m->SetBounds(&b), DXTERR_INVALID_BOUNDS);
}

TEST(SurfaceModifier, ReadsShowTheForegroundInsideAndTheFillOutside) {
    for (DWORD format : {DXPF_ARGB32, DXPF_PMARGB32, DXPF_RGB24}) {
        SCOPED_TRACE(format);
        ComPtr<IDXSurface> fg = Foreground(format, 3, 2);
        ComPtr<IDXSurfaceModifier> m = NewModifier();
        ComPtr<IDXSurface> s = AsSurface(m.Get());
        const DXSAMPLE fill = Sample(128, 200, 100, 50);
        EXPECT_EQ(m->SetFillColor(fill), S_OK);
        POINT origin{2, 1};
        EXPECT_EQ(m->SetForeground(fg.Get(), FALSE, &origin), S_OK);
        // Bounds follow the foreground until set.
        DXBNDS b{};
        s->GetBounds(&b);
        EXPECT_EQ(b.u.D[DXB_X].Max, 3);
        const DXBNDS bounds = Bounds(0, 0, 6, 4);
        EXPECT_EQ(m->SetBounds(&bounds), S_OK);
        s->GetBounds(&b);
        EXPECT_EQ(0, std::memcmp(&b, &bounds, sizeof b));

        ComPtr<IDXARGBReadPtr> fgRead = LockRead(fg.Get());
        for (bool premult : {false, true}) {
            std::vector<DXSAMPLE> fgSamples = ReadAll(fgRead.Get(), 3, 2, premult);
            std::vector<DXSAMPLE> all = ReadAll(LockRead(s.Get()).Get(), 6, 4, premult);
            const DXSAMPLE wantFill = premult ? PremultiplySample(fill) : fill;
            for (LONG y = 0; y < 4; ++y)
                for (LONG x = 0; x < 6; ++x) {
                    bool in = x >= 2 && x < 5 && y >= 1 && y < 3;
                    EXPECT_EQ(all[y * 6 + x], in ? fgSamples[(y - 1) * 3 + (x - 2)] : wantFill)
                        << x << "," << y << " premult " << premult;
                }
            // A part of it, and single samples through the cursor.
            DXBNDS part = Bounds(3, 2, 6, 4);
            ComPtr<IDXARGBReadPtr> p = LockRead(s.Get(), &part);
            std::vector<DXSAMPLE> got = ReadAll(p.Get(), 3, 2, premult);
            EXPECT_EQ(got[0], fgSamples[1 * 3 + 1]);
            EXPECT_EQ(got[1], fgSamples[1 * 3 + 2]);
            EXPECT_EQ(got[2], wantFill);
            EXPECT_EQ(got[3], wantFill);
            DXSAMPLE one{};
            p->MoveToXY(1, 0);
            if (premult)
                p->UnpackPremult(&one, 1, FALSE);
            else
                p->Unpack(&one, 1, FALSE);
            EXPECT_EQ(one, fgSamples[1 * 3 + 2]);
        }
        DXNATIVETYPEINFO info{};
        info.lPitch = 9;
        DXSAMPLEFORMATENUM word = LockRead(s.Get())->GetNativeType(&info);
        EXPECT_EQ(word & 0xFFFF, DXPF_NONSTANDARD);
        EXPECT_EQ(info.pFirstByte, nullptr);
        EXPECT_EQ(info.lPitch, 0);
    }
}

TEST(SurfaceModifier, OriginsOutsideAndTiling) {
    ComPtr<IDXSurface> fg = Foreground(DXPF_ARGB32, 3, 2);
    ComPtr<IDXSurfaceModifier> m = NewModifier();
    ComPtr<IDXSurface> s = AsSurface(m.Get());
    const DXSAMPLE fill = Sample(255, 1, 2, 3);
    m->SetFillColor(fill);
    const DXBNDS bounds = Bounds(0, 0, 7, 5);
    m->SetBounds(&bounds);

    // Partly off the top left: only the foreground's bottom right shows.
    POINT origin{-1, -1};
    m->SetForeground(fg.Get(), FALSE, &origin);
    std::vector<DXSAMPLE> all = ReadAll(LockRead(s.Get()).Get(), 7, 5, false);
    for (LONG y = 0; y < 5; ++y)
        for (LONG x = 0; x < 7; ++x)
            EXPECT_EQ(all[y * 7 + x], (x < 2 && y < 1) ? Mark(x + 1, y + 1) : fill)
                << x << "," << y;

    // Entirely outside: all fill.
    origin = {10, 0};
    m->SetForeground(fg.Get(), FALSE, &origin);
    all = ReadAll(LockRead(s.Get()).Get(), 7, 5, false);
    for (const DXSAMPLE& v : all)
        EXPECT_EQ(v, fill);

    // Tiled: the foreground repeats in both directions from its origin.
    origin = {1, 1};
    m->SetForeground(fg.Get(), TRUE, &origin);
    all = ReadAll(LockRead(s.Get()).Get(), 7, 5, false);
    for (LONG y = 0; y < 5; ++y)
        for (LONG x = 0; x < 7; ++x)
            EXPECT_EQ(all[y * 7 + x], Mark(((x - 1) % 3 + 3) % 3, ((y - 1) % 2 + 2) % 2))
                << x << "," << y;
    BOOL tile = FALSE;
    ComPtr<IDXSurface> got;
    m->GetForeground(&got, &tile, &origin);
    EXPECT_EQ(got.Get(), fg.Get());
    EXPECT_EQ(tile, TRUE);
    EXPECT_EQ(origin.y, 1);
}

TEST(SurfaceModifier, LocksFormatAndGeneration) {
    ComPtr<IDXSurface> fg = Foreground(DXPF_RGB24, 4, 4);
    ComPtr<IDXSurfaceModifier> m = NewModifier();
    ComPtr<IDXSurface> s = AsSurface(m.Get());
    m->SetFillColor(Sample(255, 0, 0, 0));
    POINT origin{4, 0};
    m->SetForeground(fg.Get(), FALSE, &origin);
    const DXBNDS bounds = Bounds(0, 0, 8, 4);
    m->SetBounds(&bounds);

    // Nothing writes through a modifier; the lock arguments are checked as on any surface.
    ComPtr<IDXARGBReadWritePtr> w;
    EXPECT_EQ(s->LockSurface(nullptr, 0, DXLOCKF_READWRITE, uuidof<IDXARGBReadWritePtr>(),
                             reinterpret_cast<void**>(&w), nullptr),
              E_NOTIMPL);
    DXBNDS outside = Bounds(0, 0, 9, 4);
    LockRead(s.Get(), &outside, DXTERR_INVALID_BOUNDS);
    ComPtr<IDXARGBReadPtr> r = LockRead(s.Get());
    EXPECT_EQ(r->QueryInterface(IID_PPV_ARGS(&w)), E_NOINTERFACE);
    ComPtr<IDXSurfaceModifier> owner;
    EXPECT_EQ(r->GetSurface(IID_PPV_ARGS(&owner)), S_OK);
    EXPECT_EQ(owner.Get(), m.Get());
    r.Reset();

    // Opaque fill over an opaque foreground: no transparency; a clear fill brings it.
    DXSAMPLEFORMATENUM word{};
    GUID id = DXFMT_ARGB32;
    EXPECT_EQ(s->GetPixelFormat(&id, &word), S_OK);
    EXPECT_EQ(word, DXPF_NONSTANDARD);
    EXPECT_EQ(id, GUID_NULL);
    m->SetFillColor(Sample(0, 0, 0, 0));
    s->GetPixelFormat(nullptr, &word);
    EXPECT_EQ(word, DXPF_TRANSPARENCY);
    m->SetFillColor(Sample(10, 0, 0, 0));
    s->GetPixelFormat(nullptr, &word);
    EXPECT_EQ(word, DXPF_TRANSPARENCY | DXPF_TRANSLUCENCY);

    // Generation: its own changes and the foreground's, nothing else.
    ULONG g = Generation(s.Get());
    EXPECT_EQ(Generation(s.Get()), g);
    m->SetFillColor(Sample(10, 0, 0, 0)); // the same colour
    EXPECT_EQ(Generation(s.Get()), g);
    m->SetFillColor(Sample(11, 0, 0, 0));
    EXPECT_EQ(Generation(s.Get()), ++g);
    m->SetBounds(&bounds);
    EXPECT_EQ(Generation(s.Get()), ++g);
    LockRW(fg.Get()).Reset(); // the foreground may have changed
    EXPECT_EQ(Generation(s.Get()), ++g);
    EXPECT_EQ(Generation(s.Get()), g);
    m->SetForeground(fg.Get(), TRUE, &origin);
    EXPECT_EQ(Generation(s.Get()), ++g);
    s->IncrementGenerationId(FALSE);
    EXPECT_EQ(Generation(s.Get()), ++g);

    // A reader of the modifier holds the part of the foreground it shows.
    m->SetForeground(fg.Get(), FALSE, &origin);
    DXBNDS shown = Bounds(5, 0, 6, 4);
    ComPtr<IDXARGBReadPtr> reader = LockRead(s.Get(), &shown);
    auto otherThreadLock = [&](DXBNDS b) {
        HRESULT hr = E_FAIL;
        std::thread([&] {
            ComPtr<IDXARGBReadWritePtr> p;
            hr = fg->LockSurface(&b, 0, DXLOCKF_READWRITE, uuidof<IDXARGBReadWritePtr>(),
                                 reinterpret_cast<void**>(&p), nullptr);
        }).join();
        return hr;
    };
    EXPECT_EQ(otherThreadLock(Bounds(1, 1, 2, 2)), DXTERR_REQ_TIMEDOUT);
    EXPECT_EQ(otherThreadLock(Bounds(2, 0, 4, 4)), S_OK); // not shown through this reader
    reader.Reset();
    EXPECT_EQ(otherThreadLock(Bounds(1, 1, 2, 2)), S_OK);
    // A reader of only the fill holds nothing of the foreground.
    DXBNDS fillOnly = Bounds(0, 0, 4, 4);
    reader = LockRead(s.Get(), &fillOnly);
    EXPECT_EQ(otherThreadLock(Bounds(0, 0, 4, 4)), S_OK);
}
