// The surface modifier: the foreground inside larger bounds and the fill outside, tiling, the
// locks it holds on the foreground, its format and its generation id.
#include <gtest/gtest.h>

#include <cstring>

#include "helpers.h"
#include "platform/dxtrans/samples.h"

using namespace dxtest;

namespace {

struct Modifier {
    ComPtr<IDXSurfaceModifier> m;
    ComPtr<IDXSurface> s;
    Modifier() {
        EXPECT_EQ(DXCreateSurfaceModifier(nullptr, IID_PPV_ARGS(&m)), S_OK);
        EXPECT_EQ(m->QueryInterface(IID_PPV_ARGS(&s)), S_OK);
    }
    std::vector<DXSAMPLE> Read(LONG w, LONG h, bool premult) {
        return ReadAll(LockRead(s.Get()).Get(), ULONG(w), ULONG(h), premult);
    }
};

// The foreground's straight sample (x, y).
DXSAMPLE Mark(LONG x, LONG y) {
    return Sample(BYTE(100 + x), BYTE(10 * y + x), BYTE(x * 7), BYTE(y * 9));
}
ComPtr<IDXSurface> Foreground(DWORD format, LONG w, LONG h) {
    ComPtr<IDXSurface> fg = NewSurface(format, w, h);
    ComPtr<IDXARGBReadWritePtr> p = LockRW(fg.Get());
    std::vector<DXSAMPLE> row(static_cast<std::size_t>(w));
    for (LONG y = 0; y < h; ++y) {
        for (LONG x = 0; x < w; ++x)
            row[x] = Mark(x, y);
        p->PackAndMove(row.data(), ULONG(w));
    }
    return fg;
}

} // namespace

TEST(SurfaceModifier, CreationIdentityAndArguments) {
    void* out = &out;
    EXPECT_EQ(DXCreateSurfaceModifier(nullptr, uuidof<IDXSurface>(), nullptr), E_POINTER);
    Modifier mod;
    EXPECT_EQ(DXCreateSurfaceModifier(mod.m.Get(), uuidof<IDXSurface>(), &out),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    ComPtr<IDXBaseObject> base;
    ComPtr<IDXSurfaceModifier> back;
    ComPtr<IUnknown> u1, u2;
    EXPECT_EQ(mod.s->QueryInterface(IID_PPV_ARGS(&base)), S_OK);
    EXPECT_EQ(base->QueryInterface(IID_PPV_ARGS(&back)), S_OK);
    EXPECT_EQ(back.Get(), mod.m.Get());
    mod.m->QueryInterface(IID_PPV_ARGS(&u1));
    mod.s->QueryInterface(IID_PPV_ARGS(&u2));
    EXPECT_EQ(u1.Get(), u2.Get());

    DXBNDS b{};
    EXPECT_EQ(mod.s->GetBounds(&b), S_OK); // empty until given something to show
    EXPECT_EQ(b.u.D[DXB_X].Max, 0);
    EXPECT_EQ(mod.m->GetForeground(nullptr, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(mod.m->SetForeground(mod.s.Get(), FALSE, nullptr), E_INVALIDARG); // not itself
    EXPECT_EQ(mod.m->SetBounds(nullptr), E_POINTER);
    b.eType = DXBT_CONTINUOUS;
    EXPECT_EQ(mod.m->SetBounds(&b), E_INVALIDARG);
    b = Bounds(0, 3, 4, 2);
    EXPECT_EQ(mod.m->SetBounds(&b), DXTERR_INVALID_BOUNDS);
}

TEST(SurfaceModifier, ShowsTheForegroundInsideAndTheFillOutside) {
    for (DWORD format : {DXPF_ARGB32, DXPF_PMARGB32, DXPF_RGB24}) {
        SCOPED_TRACE(format);
        ComPtr<IDXSurface> fg = Foreground(format, 3, 2);
        Modifier mod;
        const DXSAMPLE fill = Sample(128, 200, 100, 50);
        mod.m->SetFillColor(fill);
        POINT origin{2, 1};
        EXPECT_EQ(mod.m->SetForeground(fg.Get(), FALSE, &origin), S_OK);
        DXBNDS b{};
        mod.s->GetBounds(&b);
        EXPECT_EQ(b.u.D[DXB_X].Max, 3); // the foreground's until set
        const DXBNDS bounds = Bounds(0, 0, 6, 4);
        EXPECT_EQ(mod.m->SetBounds(&bounds), S_OK);
        mod.s->GetBounds(&b);
        EXPECT_EQ(0, std::memcmp(&b, &bounds, sizeof b));
        for (bool premult : {false, true}) {
            std::vector<DXSAMPLE> fgs = ReadAll(LockRead(fg.Get()).Get(), 3, 2, premult);
            const DXSAMPLE f = premult ? velmora::dxtrans::PremultiplySample(fill) : fill;
            std::vector<DXSAMPLE> all = mod.Read(6, 4, premult);
            for (LONG y = 0; y < 4; ++y)
                for (LONG x = 0; x < 6; ++x) {
                    bool in = x >= 2 && x < 5 && y >= 1 && y < 3;
                    EXPECT_EQ(all[y * 6 + x], in ? fgs[(y - 1) * 3 + (x - 2)] : f) << x << y;
                }
            DXBNDS part = Bounds(3, 2, 6, 4);
            std::vector<DXSAMPLE> got = ReadAll(LockRead(mod.s.Get(), &part).Get(), 3, 2, premult);
            EXPECT_EQ(got, (std::vector<DXSAMPLE>{fgs[4], fgs[5], f, f, f, f}));
        }
        DXNATIVETYPEINFO info{};
        info.lPitch = 9;
        EXPECT_EQ(LockRead(mod.s.Get())->GetNativeType(&info) & 0xFFFF, DXPF_NONSTANDARD);
        EXPECT_EQ(info.pFirstByte, nullptr);
        EXPECT_EQ(info.lPitch, 0); // no memory to point at
    }
}

TEST(SurfaceModifier, OriginsOutsideAndTiling) {
    ComPtr<IDXSurface> fg = Foreground(DXPF_ARGB32, 3, 2);
    Modifier mod;
    const DXSAMPLE fill = Sample(255, 1, 2, 3);
    mod.m->SetFillColor(fill);
    const DXBNDS bounds = Bounds(0, 0, 7, 5);
    mod.m->SetBounds(&bounds);
    POINT origin{-1, -1}; // only the bottom right shows
    mod.m->SetForeground(fg.Get(), FALSE, &origin);
    std::vector<DXSAMPLE> all = mod.Read(7, 5, false);
    for (LONG i = 0; i < 35; ++i)
        EXPECT_EQ(all[i], (i < 2) ? Mark(i + 1, 1) : fill) << i;
    origin = {10, 0}; // nothing shows
    mod.m->SetForeground(fg.Get(), FALSE, &origin);
    EXPECT_EQ(mod.Read(7, 5, false), std::vector<DXSAMPLE>(35, fill));
    origin = {1, 1}; // repeated both ways
    mod.m->SetForeground(fg.Get(), TRUE, &origin);
    all = mod.Read(7, 5, false);
    for (LONG y = 0; y < 5; ++y)
        for (LONG x = 0; x < 7; ++x)
            EXPECT_EQ(all[y * 7 + x], Mark((x + 2) % 3, (y + 1) % 2)) << x << y;
    ComPtr<IDXSurface> got;
    BOOL tile = FALSE;
    EXPECT_EQ(mod.m->GetForeground(&got, &tile, &origin), S_OK);
    EXPECT_EQ(got.Get(), fg.Get());
    EXPECT_EQ(tile, TRUE);
}

TEST(SurfaceModifier, LocksFormatAndGeneration) {
    ComPtr<IDXSurface> fg = Foreground(DXPF_RGB24, 4, 4);
    Modifier mod;
    mod.m->SetFillColor(Sample(255, 0, 0, 0));
    POINT origin{4, 0};
    mod.m->SetForeground(fg.Get(), FALSE, &origin);
    const DXBNDS bounds = Bounds(0, 0, 8, 4), outside = Bounds(0, 0, 9, 4);
    mod.m->SetBounds(&bounds);
    // Nothing writes through a modifier; bounds are checked as on any surface.
    EXPECT_EQ(TryLock(mod.s.Get(), nullptr, DXLOCKF_READWRITE), E_NOTIMPL);
    EXPECT_EQ(TryLock(mod.s.Get(), &outside, DXLOCKF_READ), DXTERR_INVALID_BOUNDS);
    ComPtr<IDXARGBReadWritePtr> w;
    EXPECT_EQ(LockRead(mod.s.Get())->QueryInterface(IID_PPV_ARGS(&w)), E_NOINTERFACE);

    // Transparency flags as the content needs them.
    DXSAMPLEFORMATENUM word{};
    GUID id = DXFMT_ARGB32;
    EXPECT_EQ(mod.s->GetPixelFormat(&id, &word), S_OK);
    EXPECT_EQ(word, DXPF_NONSTANDARD);
    EXPECT_EQ(id, GUID_NULL);
    mod.m->SetFillColor(Sample(0, 0, 0, 0));
    mod.s->GetPixelFormat(nullptr, &word);
    EXPECT_EQ(word, DXPF_TRANSPARENCY);
    mod.m->SetFillColor(Sample(10, 0, 0, 0));
    mod.s->GetPixelFormat(nullptr, &word);
    EXPECT_EQ(word, DXPF_TRANSPARENCY | DXPF_TRANSLUCENCY);

    // Generation: its own changes and the foreground's, nothing else.
    ULONG g = Generation(mod.s.Get());
    mod.m->SetFillColor(Sample(10, 0, 0, 0)); // the same colour
    EXPECT_EQ(Generation(mod.s.Get()), g);
    mod.m->SetFillColor(Sample(11, 0, 0, 0));
    EXPECT_EQ(Generation(mod.s.Get()), ++g);
    mod.m->SetBounds(&bounds);
    EXPECT_EQ(Generation(mod.s.Get()), ++g);
    LockRW(fg.Get()).Reset(); // the foreground may have changed
    EXPECT_EQ(Generation(mod.s.Get()), ++g);
    EXPECT_EQ(Generation(mod.s.Get()), g);
    mod.m->SetForeground(fg.Get(), FALSE, &origin);
    mod.s->IncrementGenerationId(FALSE);
    EXPECT_EQ(Generation(mod.s.Get()), g + 2);

    // A reader holds the part of the foreground it shows, and only that.
    auto elsewhere = [&](DXBNDS b) { return Elsewhere(fg.Get(), b, DXLOCKF_READWRITE); };
    DXBNDS shown = Bounds(5, 0, 6, 4), fillOnly = Bounds(0, 0, 4, 4);
    ComPtr<IDXARGBReadPtr> reader = LockRead(mod.s.Get(), &shown);
    EXPECT_EQ(elsewhere(Bounds(1, 1, 2, 2)), DXTERR_REQ_TIMEDOUT);
    EXPECT_EQ(elsewhere(Bounds(2, 0, 4, 4)), S_OK);
    reader = LockRead(mod.s.Get(), &fillOnly);
    EXPECT_EQ(elsewhere(Bounds(0, 0, 4, 4)), S_OK);
}
