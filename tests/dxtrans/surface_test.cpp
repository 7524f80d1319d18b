// Memory surfaces: creation, sources copied on demand, exact packing and unpacking on every
// format at either pitch, generation ids; the surface modifier over a foreground, and the
// settings it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "helpers.h"
#include "platform/com/object.h"
#include "../support/com.h"

using namespace dxtest;
using velmora::test::Answers;

namespace {

// The modifier's foreground sample (x, y).
DXSAMPLE Mark(LONG x, LONG y) {
    return Sample(255, BYTE(10 * y + x), BYTE(x * 7), BYTE(y * 9));
}

constexpr DWORD kFormats[] = {DXPF_PMARGB32, DXPF_ARGB32, DXPF_RGB24};

ULONG Bpp(DWORD format) {
    return format == DXPF_RGB24 ? 3 : 4;
}

// The real-number rules the integer conversions stand for: round(c * a / 255), and
// min(255, round(c * 255 / a)) with ties up and alpha 0 giving 0.
DXSAMPLE Convert(DXSAMPLE s, bool toPremult) {
    auto ch = [&](BYTE c) {
        if (toPremult)
            return BYTE(std::lround(c * s.Alpha / 255.0));
        return BYTE(s.Alpha ? std::min(255.0, std::floor(c * 255.0 / s.Alpha + 0.5)) : 0);
    };
    return Sample(s.Alpha, ch(s.Red), ch(s.Green), ch(s.Blue));
}

// The native bytes a format keeps for a sample given premultiplied or straight.
std::vector<BYTE> NativeOf(DWORD format, DXSAMPLE s, bool premult) {
    if (format == DXPF_RGB24) {
        s = premult ? Convert(s, false) : s;
        return {s.Blue, s.Green, s.Red};
    }
    const bool native = format == DXPF_PMARGB32;
    s = native == premult ? s : Convert(s, native);
    return {s.Blue, s.Green, s.Red, s.Alpha};
}

// The sample a format gives for native bytes, premultiplied or straight.
DXSAMPLE SampleOf(DWORD format, const BYTE* n, bool premult) {
    if (format == DXPF_RGB24)
        return Sample(255, n[2], n[1], n[0]);
    DXSAMPLE s{n[0], n[1], n[2], n[3]};
    return (format == DXPF_PMARGB32) == premult ? s : Convert(s, premult);
}

// A lookup table that is never asked anything.
class Table final : public velmora::com::SimpleObject<Table, IDXLookupTable, IDXBaseObject> {
public:
    STDMETHOD(GetGenerationId)(ULONG*) override { return E_NOTIMPL; }
    STDMETHOD(IncrementGenerationId)(BOOL) override { return E_NOTIMPL; }
    STDMETHOD(GetObjectSize)(ULONG*) override { return E_NOTIMPL; }
};

} // namespace

TEST(SurfaceFactory, MakesZeroedSurfacesOfEachFormatAndRefusesWhatItCannot) {
    for (DWORD format : kFormats) {
        ComPtr<IDXSurface> s = NewSurface(format, 5, 3);
        DXSAMPLEFORMATENUM word{};
        EXPECT_EQ(s->GetPixelFormat(nullptr, &word), S_OK);
        EXPECT_EQ(word, format);
        ComPtr<IDXARGBReadPtr> p = LockRead(s.Get());
        DXNATIVETYPEINFO info{};
        p->GetNativeType(&info);
        EXPECT_EQ(info.lPitch, format == DXPF_RGB24 ? 16 : 20) << "rows padded to 4 bytes";
        const DXSAMPLE zero = Sample(format == DXPF_RGB24 ? 255 : 0, 0, 0, 0);
        EXPECT_EQ(ReadAll(p.Get(), 5, 3, false), std::vector<DXSAMPLE>(15, zero)) << format;
    }

    ComPtr<IDXSurfaceFactory> f;
    ASSERT_EQ(DXCreateSurfaceFactory(&f), S_OK);
    GUID id = DXFMT_ARGB32, other = uuidof<IUnknown>();
    ComPtr<IDXSurface> s;
    auto create = [&](const GUID* fmt, DXBNDS b) {
        return f->CreateSurface(nullptr, nullptr, fmt, &b, 0, nullptr, IID_PPV_ARGS(&s));
    };
    EXPECT_EQ(create(&other, Discrete({0, 0, 4, 4})), DXTERR_UNSUPPORTED_FORMAT);
    EXPECT_EQ(create(&id, Discrete({1, 0, 4, 4})), DXTERR_INVALID_BOUNDS);
    EXPECT_EQ(create(&id, Discrete({0, 0, 0x7FFFFFFF, 0x7FFFFFFF})), E_OUTOFMEMORY);
    BYTE bits[64];
    EXPECT_EQ(DXCreateSurfaceOnMemory(DXPF_ARGB32, bits, 15, 4, 4, &s), E_INVALIDARG)
        << "a pitch shorter than a row";
    EXPECT_EQ(DXCreateSurfaceOnMemory(DXPF_RGB32, bits, 16, 4, 4, &s), DXTERR_UNSUPPORTED_FORMAT);
    EXPECT_FALSE(s);
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

        // A lock of some columns brings its rows whole, and nothing else.
        DXBNDS b = Discrete({1, 2, 3, 4});
        ComPtr<IDXARGBReadWritePtr> p = LockRW(s.Get(), &b);
        EXPECT_EQ(memRow(2), sourceRow(2));
        EXPECT_EQ(memRow(4), std::vector<BYTE>(row, 0xEE));
        p->FillRect(nullptr, Sample(255, 1, 2, 3), FALSE);
        p.Reset();
        // The holder's writes are kept when a later lock or the release reaches the same rows.
        const std::vector<BYTE> written = memRow(3);
        b = Discrete({0, 3, 5, 6});
        LockRead(s.Get(), &b).Reset();
        EXPECT_EQ(memRow(3), written);
        EXPECT_EQ(memRow(5), sourceRow(5));
        s.Reset();
        for (LONG y : {0, 1, 6, 7})
            EXPECT_EQ(memRow(y), sourceRow(y)) << y;
        EXPECT_EQ(memRow(3), written);
        EXPECT_NE(written, sourceRow(3));
    }
}

// Every colour at every alpha, packed and unpacked in both kinds, by rectangle and by row, into
// caller memory with padded rows: straight samples top-down, premultiplied ones bottom-up.
TEST(Packing, ExactConversionsOnEveryFormatAtEitherPitch) {
    std::vector<DXSAMPLE> samples(256 * 256);
    for (int i = 0; i < 256 * 256; ++i)
        samples[i] = Sample(BYTE(i / 256), BYTE(i), BYTE(255 - i % 256), BYTE(i * 7));
    for (DWORD format : kFormats) {
        for (bool premult : {false, true}) {
            SCOPED_TRACE(testing::Message() << format << " premult " << premult);
            const LONG row = LONG(256 * Bpp(format)), pitch = row + 5, sign = premult ? -1 : 1;
            std::vector<BYTE> mem(std::size_t(pitch) * 256, 0xEE);
            BYTE* top = premult ? mem.data() + std::size_t(pitch) * 255 : mem.data();
            auto native = [&](int i) {
                return top + (i / 256) * pitch * sign + (i % 256) * LONG(Bpp(format));
            };
            ComPtr<IDXSurface> s;
            ASSERT_EQ(DXCreateSurfaceOnMemory(format, top, pitch * sign, 256, 256, &s), S_OK);
            ComPtr<IDXARGBReadWritePtr> p = LockRW(s.Get());
            DXPACKEDRECTDESC d{samples.data(), premult, {0, 0, 256, 255}, 0};
            p->PackRect(&d);
            p->MoveToRow(255);
            if (premult)
                p->PackPremultAndMove(samples.data() + 255 * 256, 256);
            else
                p->PackAndMove(samples.data() + 255 * 256, 256);
            for (int i = 0; i < 256 * 256; ++i) {
                std::vector<BYTE> want = NativeOf(format, samples[i], premult);
                ASSERT_EQ(0, std::memcmp(native(i), want.data(), want.size())) << i;
            }
            for (std::size_t y = 0; y < 256; ++y) // the padding is left alone
                ASSERT_EQ(std::count(&mem[y * pitch + row], &mem[(y + 1) * pitch - 1] + 1, 0xEE),
                          5);
            for (bool out : {false, true}) {
                std::vector<DXSAMPLE> back = ReadAll(p.Get(), 256, 256, out), last(256);
                p->MoveToRow(255);
                out ? p->UnpackPremult(last.data(), 256, FALSE)
                    : p->Unpack(last.data(), 256, FALSE);
                for (int i = 0; i < 256 * 256; ++i)
                    ASSERT_EQ(back[i], SampleOf(format, native(i), out)) << i;
                EXPECT_TRUE(std::equal(last.begin(), last.end(), back.begin() + 255 * 256));
            }
        }
    }
}

TEST(SurfaceGeneration, RisesWhenAWriterLetsGo) {
    ComPtr<IDXSurface> s = NewSurface(DXPF_PMARGB32, 4, 4);
    ULONG g0 = 0, g = 0;
    s->GetGenerationId(&g0);
    LockRead(s.Get()).Reset();
    ComPtr<IDXARGBReadWritePtr> w = LockRW(s.Get());
    s->GetGenerationId(&g);
    EXPECT_EQ(g, g0) << "neither a reader nor a writer still writing changes it";
    w.Reset();
    s->GetGenerationId(&g);
    EXPECT_EQ(g, g0 + 1);
}

// The modifier shows its foreground (tiled, if asked) over its fill. It composes nothing, so it
// takes only the settings that ask for no composing.
TEST(SurfaceModifier, ShowsTheForegroundOverTheFillAndRefusesToCompose) {
    ComPtr<IDXSurface> fg = NewSurface(DXPF_ARGB32, 3, 2);
    {
        ComPtr<IDXARGBReadWritePtr> p = LockRW(fg.Get());
        for (LONG y = 0; y < 2; ++y) {
            const DXSAMPLE row[3] = {Mark(0, y), Mark(1, y), Mark(2, y)};
            p->MoveToRow(y);
            p->PackAndMove(row, 3);
        }
    }
    ComPtr<IDXSurfaceModifier> m;
    ComPtr<IDXSurface> s;
    ASSERT_EQ(DXCreateSurfaceModifier(nullptr, IID_PPV_ARGS(&m)), S_OK);
    ASSERT_EQ(m->QueryInterface(IID_PPV_ARGS(&s)), S_OK);
    const DXSAMPLE fill = Sample(255, 200, 100, 50);
    m->SetFillColor(fill);
    const DXBNDS bounds = Discrete({0, 0, 6, 4});
    ASSERT_EQ(m->SetBounds(&bounds), S_OK);
    POINT origin{2, 1};
    ASSERT_EQ(m->SetForeground(fg.Get(), FALSE, &origin), S_OK);
    std::vector<DXSAMPLE> all = ReadAll(LockRead(s.Get()).Get(), 6, 4, false);
    for (LONG y = 0; y < 4; ++y)
        for (LONG x = 0; x < 6; ++x) {
            const bool in = x >= 2 && x < 5 && y >= 1 && y < 3;
            EXPECT_EQ(all[y * 6 + x], in ? Mark(x - 2, y - 1) : fill) << x << "," << y;
        }

    origin = {1, 1};
    m->SetForeground(fg.Get(), TRUE, &origin); // repeated both ways
    all = ReadAll(LockRead(s.Get()).Get(), 6, 4, false);
    for (LONG y = 0; y < 4; ++y)
        for (LONG x = 0; x < 6; ++x)
            EXPECT_EQ(all[y * 6 + x], Mark((x + 2) % 3, (y + 1) % 2)) << x << "," << y;

    using R = std::vector<HRESULT>;
    DXSAMPLE kept{};
    EXPECT_EQ(m->GetFillColor(&kept), S_OK);
    EXPECT_EQ(kept, fill);

    ComPtr<IDXSurface> other = NewSurface(DXPF_PMARGB32, 1, 1);
    ComPtr<IDXLookupTable> table;
    table.Attach(new Table);
    EXPECT_EQ((R{m->SetBackground(nullptr), m->SetCompositeOperation(DXSURFMOD_COMP_OVER),
                 m->SetOpacity(1.0f), m->SetLookup(nullptr)}),
              R(4, S_OK));
    EXPECT_EQ((R{m->SetBackground(other.Get()), m->SetCompositeOperation(DXSURFMOD_COMP_ALPHA_MASK),
                 m->SetOpacity(0.5f), m->SetLookup(table.Get())}),
              R(4, E_NOTIMPL));
    EXPECT_EQ((R{m->SetCompositeOperation(DXSURFMODCOMPOP(2)), m->SetOpacity(-0.1f),
                 m->SetOpacity(1.5f), m->SetOpacity(std::nanf(""))}),
              R(4, E_INVALIDARG));

    IDXSurface* background = other.Get();
    DXSURFMODCOMPOP op = DXSURFMOD_COMP_ALPHA_MASK;
    float opacity = 0;
    IDXLookupTable* lookup = table.Get();
    EXPECT_EQ((R{m->GetBackground(&background), m->GetCompositeOperation(&op),
                 m->GetOpacity(&opacity), m->GetLookup(&lookup)}),
              R(4, S_OK));
    EXPECT_TRUE(!background && op == DXSURFMOD_COMP_OVER && opacity == 1.0f && !lookup);
    EXPECT_EQ((R{m->GetFillColor(nullptr), m->GetBackground(nullptr),
                 m->GetCompositeOperation(nullptr), m->GetOpacity(nullptr), m->GetLookup(nullptr)}),
              R(5, E_POINTER));
}

// Surfaces, the modifier and their pointers answer exactly their interfaces with one identity;
// a read lock's pointer does not answer the writing interface.
TEST(Identity, ObjectsAnswerTheirInterfacesOnly) {
    using B = std::vector<bool>;
    const auto iids = {uuidof<IDXSurface>(),          uuidof<IDXBaseObject>(),
                       uuidof<IDXSurfaceModifier>(),  uuidof<IDXARGBReadPtr>(),
                       uuidof<IDXARGBReadWritePtr>(), uuidof<IStream>()};
    ComPtr<IDXSurface> s = NewSurface(DXPF_ARGB32, 2, 2);
    EXPECT_EQ(Answers(s.Get(), iids), (B{1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(Answers(LockRead(s.Get()).Get(), iids), (B{0, 0, 0, 1, 0, 0}));
    EXPECT_EQ(Answers(LockRW(s.Get()).Get(), iids), (B{0, 0, 0, 1, 1, 0}));

    ComPtr<IDXSurfaceModifier> m;
    ASSERT_EQ(DXCreateSurfaceModifier(nullptr, IID_PPV_ARGS(&m)), S_OK);
    EXPECT_EQ(Answers(m.Get(), iids), (B{1, 1, 1, 0, 0, 0}));
    ComPtr<IDXSurface> ms;
    ASSERT_EQ(m->QueryInterface(IID_PPV_ARGS(&ms)), S_OK);
    EXPECT_EQ(Answers(ms.Get(), iids), (B{1, 1, 1, 0, 0, 0}));
    // Each answer is the interface asked for: its own methods work through it.
    ComPtr<IDXSurfaceModifier> back;
    ASSERT_EQ(ms->QueryInterface(IID_PPV_ARGS(&back)), S_OK);
    float opacity = 0;
    EXPECT_EQ(back->GetOpacity(&opacity), S_OK);
    EXPECT_EQ(opacity, 1.0f);
    DXBNDS bounds{};
    EXPECT_EQ(ms->GetBounds(&bounds), S_OK);
    EXPECT_EQ(m->SetForeground(s.Get(), FALSE, nullptr), S_OK);
    EXPECT_EQ(Answers(LockRead(ms.Get()).Get(), iids), (B{0, 0, 0, 1, 0, 0}));
}
