// Pointers: their methods' slots, moving along a row, run information, and the writing
// operations that copy, fill and compose over.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numeric>

#include "helpers.h"
#include "platform/dxtrans/dxtransform.h"

using namespace dxtest;

namespace {

// A virtual method's slot, from a pointer to it as the C++ ABI has it: 1 + its byte offset.
template <class C, class R, class... A>
std::ptrdiff_t Slot(R (C::*m)(A...)) {
    struct {
        std::ptrdiff_t ptr, adj;
    } rep;
    static_assert(sizeof m == sizeof rep);
    std::memcpy(&rep, &m, sizeof rep);
    return (rep.ptr - 1) / std::ptrdiff_t{sizeof(void*)};
}

std::vector<std::ptrdiff_t> From(std::ptrdiff_t first, std::size_t n) {
    std::vector<std::ptrdiff_t> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

// Premultiplied source over destination by the real-number rule.
DXSAMPLE OverRef(DXSAMPLE s, DXSAMPLE d) {
    auto ch = [&](BYTE sc, BYTE dc) {
        return BYTE(std::min(255L, sc + std::lround(dc * (255 - s.Alpha) / 255.0)));
    };
    return {ch(s.Blue, d.Blue), ch(s.Green, d.Green), ch(s.Red, d.Red), ch(s.Alpha, d.Alpha)};
}

using Span = std::pair<ULONG, ULONG>; // type, count

std::vector<Span> Runs(IDXARGBReadPtr* p, ULONG row) {
    const DXRUNINFO* info = nullptr;
    std::vector<Span> v(p->MoveAndGetRunInfo(row, &info));
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = {info[i].Type, info[i].Count};
    return v;
}

void PutRow(IDXSurface* s, ULONG y, std::vector<DXSAMPLE> row, bool premult = true) {
    ComPtr<IDXARGBReadWritePtr> p = LockRW(s);
    p->MoveToRow(y);
    premult ? p->PackPremultAndMove(row.data(), ULONG(row.size()))
            : p->PackAndMove(row.data(), ULONG(row.size()));
}

// Straight samples that premultiplying would spoil.
DXSAMPLE Faint(LONG x, LONG y) {
    return Sample(BYTE(1 + x + 4 * y), 200, BYTE(10 * x), BYTE(10 * y));
}

const DXSAMPLE kClear{}, kOpaque = Sample(255, 10, 20, 30), kHalf = Sample(128, 100, 50, 0),
                         kQuarter = Sample(64, 60, 30, 1);

} // namespace

// Code built against the published interface definitions asks for these identifiers.
TEST(InterfaceLayout, PublishedIdentifiers) {
    const std::pair<GUID, const char*> published[] = {
        {uuidof<IDXBaseObject>(), "{17B59B2B-9CC8-11D1-9053-00C04FD9189D}"},
        {uuidof<IDXARGBReadPtr>(), "{EAAAC2D6-C290-11D1-905D-00C04FD9189D}"},
        {uuidof<IDXARGBReadWritePtr>(), "{EAAAC2D7-C290-11D1-905D-00C04FD9189D}"},
        {uuidof<IDXSurface>(), "{B39FD73F-E139-11D1-9065-00C04FD9189D}"},
        {uuidof<IDXSurfaceFactory>(), "{144946F5-C4D4-11D1-81D1-0000F87557DB}"},
        {uuidof<IDXTaskManager>(), "{254DBBC1-F922-11D0-883A-3C8B00C10000}"},
        {uuidof<IDXTransformFactory>(), "{6A950B2B-A971-11D1-81C8-0000F87557DB}"},
        {uuidof<IDXSurfaceModifier>(), "{9EA3B637-C37D-11D1-905E-00C04FD9189D}"},
        {uuidof<IDXTransform>(), "{30A5FB78-E11F-11D1-9064-00C04FD9189D}"},
        {uuidof<IDXEffect>(), "{E31FB81B-1335-11D1-8189-0000F87557DB}"},
        {uuidof<IDirectDrawSurface>(), "{6C14DB81-A733-11CE-A521-0020AF0BE560}"},
        {uuidof<IDirect3DRMMeshBuilder3>(), "{4516EC82-8F20-11D0-9B6D-0000C0781BC3}"},
    };
    for (const auto& [iid, text] : published)
        EXPECT_EQ(velmora::com::GuidToString(iid), text);
}

TEST(InterfaceLayout, MethodsSitInTheirPublishedSlots) {
    using R = IDXARGBReadPtr;
    using W = IDXARGBReadWritePtr;
    using M = IDXSurfaceModifier;
    using B = IDirect3DRMMeshBuilder3;
    EXPECT_EQ((std::vector{Slot(&R::GetSurface), Slot(&R::GetNativeType), Slot(&R::Move),
                           Slot(&R::MoveToRow), Slot(&R::MoveToXY), Slot(&R::MoveAndGetRunInfo),
                           Slot(&R::Unpack), Slot(&R::UnpackPremult), Slot(&R::UnpackRect)}),
              From(3, 9));
    EXPECT_EQ((std::vector{Slot(&W::PackAndMove), Slot(&W::PackPremultAndMove), Slot(&W::PackRect),
                           Slot(&W::CopyAndMoveBoth), Slot(&W::CopyRect), Slot(&W::FillAndMove),
                           Slot(&W::FillRect), Slot(&W::OverSample), Slot(&W::OverArrayAndMove)}),
              From(12, 9));
    EXPECT_EQ((std::vector{Slot(&M::SetFillColor), Slot(&M::GetFillColor), Slot(&M::SetBounds),
                           Slot(&M::SetBackground), Slot(&M::GetBackground),
                           Slot(&M::SetCompositeOperation), Slot(&M::GetCompositeOperation),
                           Slot(&M::SetForeground), Slot(&M::GetForeground), Slot(&M::SetOpacity),
                           Slot(&M::GetOpacity), Slot(&M::SetLookup), Slot(&M::GetLookup)}),
              From(3, 13));
    EXPECT_EQ((std::vector{Slot(&B::Clone), Slot(&B::AddDestroyCallback),
                           Slot(&B::DeleteDestroyCallback), Slot(&B::SetAppData),
                           Slot(&B::GetAppData), Slot(&B::SetName), Slot(&B::GetName),
                           Slot(&B::GetClassName), Slot(&B::Load), Slot(&B::Save), Slot(&B::Scale),
                           Slot(&B::Translate), Slot(&B::SetColorSource), Slot(&B::GetBox)}),
              From(3, 14));
}

TEST(ReadPointer, MovesAlongItsRowAndDescribesItsRuns) {
    ComPtr<IDXSurface> s = NewSurface(DXPF_PMARGB32, 6, 2);
    PutRow(s.Get(), 1, {kClear, kClear, kOpaque, kHalf, kQuarter, kOpaque});
    ComPtr<IDXARGBReadPtr> p = LockRead(s.Get());
    DXSAMPLE got{};
    p->MoveToXY(1, 1);
    p->Move(2);
    p->UnpackPremult(&got, 1, TRUE);
    EXPECT_EQ(got, kHalf);
    p->UnpackPremult(&got, 1, FALSE);
    EXPECT_EQ(got, kQuarter) << "unpacking moved on by its count";
    p->Move(-10);
    p->UnpackPremult(&got, 1, FALSE);
    EXPECT_EQ(got, kClear) << "no further back than the row's start";

    p->Move(3);
    EXPECT_EQ(Runs(p.Get(), 1), (std::vector<Span>{{DXRUNTYPE_CLEAR, 2},
                                                   {DXRUNTYPE_OPAQUE, 1},
                                                   {DXRUNTYPE_TRANS, 2},
                                                   {DXRUNTYPE_OPAQUE, 1}}));
    p->UnpackPremult(&got, 1, FALSE);
    EXPECT_EQ(got, kClear) << "at the row's start";
    const DXRUNINFO* info = reinterpret_cast<const DXRUNINFO*>(&got);
    EXPECT_EQ(p->MoveAndGetRunInfo(2, &info), 0u);
    EXPECT_EQ(info, nullptr);
    const DXBNDS middle = Discrete({2, 0, 5, 2});
    EXPECT_EQ(Runs(LockRead(s.Get(), &middle).Get(), 1),
              (std::vector<Span>{{DXRUNTYPE_OPAQUE, 1}, {DXRUNTYPE_TRANS, 2}}));

    ComPtr<IDXSurface> wide = NewSurface(DXPF_PMARGB32, 300, 1);
    std::vector<DXSAMPLE> stripes(300);
    for (std::size_t i = 0; i < stripes.size(); ++i)
        stripes[i] = i % 2 ? kOpaque : kClear;
    PutRow(wide.Get(), 0, stripes);
    std::vector<Span> runs = Runs(LockRead(wide.Get()).Get(), 0);
    ASSERT_EQ(runs.size(), DX_MAX_RUN_INFO_COUNT);
    EXPECT_EQ(runs[125], Span(DXRUNTYPE_OPAQUE, 1));
    EXPECT_EQ(runs.back(), Span(DXRUNTYPE_UNKNOWN, 300 - 127)) << "the rest of the row";
    EXPECT_EQ(Runs(LockRead(NewSurface(DXPF_RGB24, 300, 1).Get()).Get(), 0),
              std::vector<Span>{Span(DXRUNTYPE_OPAQUE, 300)});
}

TEST(ReadWritePointer, ComposesOverAndFillsMovingOnByTheirCounts) {
    ComPtr<IDXSurface> s = NewSurface(DXPF_PMARGB32, 4, 2);
    for (ULONG y : {0, 1})
        PutRow(s.Get(), y, {kHalf, kQuarter, kOpaque, kHalf});
    ComPtr<IDXARGBReadWritePtr> p = LockRW(s.Get());
    const DXSAMPLE top[4] = {kQuarter, kClear, kHalf, kOpaque};
    p->OverArrayAndMove(nullptr, top, 3);
    p->OverArrayAndMove(nullptr, top + 3, 1);
    p->MoveToRow(1);
    p->FillAndMove(nullptr, kQuarter, 1, TRUE);
    p->FillAndMove(nullptr, kHalf, 9, FALSE); // no further than the row's end
    const DXOVERSAMPLEDESC one{{2, 1}, kQuarter}, outside{{4, 1}, kOpaque};
    p->OverSample(&one);
    p->OverSample(&outside);
    EXPECT_EQ(
        ReadAll(p.Get(), 4, 2, true),
        (std::vector<DXSAMPLE>{OverRef(kQuarter, kHalf), kQuarter, OverRef(kHalf, kOpaque), kOpaque,
                               OverRef(kQuarter, kHalf), kHalf, OverRef(kQuarter, kHalf), kHalf}));

    // A clear source leaves straight samples alone, though premultiplying would change them.
    ComPtr<IDXSurface> straight = NewSurface(DXPF_ARGB32, 2, 1);
    PutRow(straight.Get(), 0, {Faint(0, 0), Faint(1, 0)}, false);
    ComPtr<IDXARGBReadWritePtr> q = LockRW(straight.Get());
    const DXSAMPLE none[2] = {};
    q->OverArrayAndMove(nullptr, none, 2);
    q->MoveToRow(0);
    q->FillAndMove(nullptr, kClear, 2, TRUE);
    EXPECT_EQ(ReadAll(q.Get(), 2, 1, false), (std::vector<DXSAMPLE>{Faint(0, 0), Faint(1, 0)}));
}

TEST(ReadWritePointer, CopiesExactlyAndMovesBoth) {
    ComPtr<IDXSurface> from = NewSurface(DXPF_ARGB32, 4, 2), to = NewSurface(DXPF_ARGB32, 4, 3);
    for (LONG y : {0, 1})
        PutRow(from.Get(), y, {Faint(0, y), Faint(1, y), Faint(2, y), Faint(3, y)}, false);
    ComPtr<IDXARGBReadPtr> src = LockRead(from.Get());
    ComPtr<IDXARGBReadWritePtr> dst = LockRW(to.Get());
    dst->FillRect(nullptr, kOpaque, FALSE);
    src->MoveToXY(1, 0);
    dst->CopyAndMoveBoth(nullptr, src.Get(), 2, FALSE);
    DXSAMPLE next{};
    src->Unpack(&next, 1, FALSE);
    EXPECT_EQ(next, Faint(3, 0)) << "the source moved on too";
    dst->CopyAndMoveBoth(nullptr, src.Get(), 2, FALSE); // the source's row ends after one
    const RECT r{1, 1, 3, 3};
    const POINT o{2, 0};
    dst->CopyRect(nullptr, &r, src.Get(), &o, FALSE);
    const DXSAMPLE k = kOpaque;
    EXPECT_EQ(ReadAll(dst.Get(), 4, 3, false),
              (std::vector<DXSAMPLE>{Faint(1, 0), Faint(2, 0), Faint(3, 0), kClear, //
                                     k, Faint(2, 0), Faint(3, 0), k,                //
                                     k, Faint(2, 1), Faint(3, 1), k}));
}
