// Pieces shared by the surfaces of this platform: lock-argument checks and the read pointer's
// cursor and read operations, over rows a derived pointer supplies.
#pragma once

#include <algorithm>

#include "../com/object.h"
#include "bounds.h"
#include "dxtrans.h"

namespace velmora::dxtrans {

// A locked area in the surface's own coordinates (maxima exclusive).
struct Area {
    LONG left = 0, top = 0, right = 0, bottom = 0;

    ULONG Width() const { return static_cast<ULONG>(right - left); }
    ULONG Height() const { return static_cast<ULONG>(bottom - top); }
    bool Empty() const { return right <= left || bottom <= top; }
    bool Overlaps(const Area& o) const {
        return !Empty() && !o.Empty() && left < o.right && o.left < right && top < o.bottom &&
               o.top < bottom;
    }
};

// Checks LockSurface's arguments against the surface's bounds and gives the area to lock.
// Bounds must be discrete (E_INVALIDARG) and inside the surface on every axis, each axis
// running forwards (DXTERR_INVALID_BOUNDS); empty areas are allowed and overlap nothing.
inline HRESULT CheckLock(const DXBNDS* bounds, const DXBNDS& whole, DWORD flags, REFIID riid,
                         Area* area) {
    if (flags & ~(DXLOCKF_READWRITE | DXLOCKF_WANTRUNINFO))
        return DXTERR_INVALID_FLAGS;
    if (riid == uuidof<IDXARGBReadWritePtr>()) {
        if (!(flags & DXLOCKF_READWRITE))
            return E_INVALIDARG; // a read lock cannot give a writing pointer
    } else if (riid != uuidof<IDXARGBReadPtr>()) {
        return E_NOINTERFACE;
    }
    const DXBNDS& b = bounds ? *bounds : whole;
    if (b.eType != DXBT_DISCRETE)
        return E_INVALIDARG;
    for (int axis = 0; axis < 4; ++axis) {
        const DXDBND& d = b.u.D[axis];
        const DXDBND& w = whole.u.D[axis];
        if (d.Min > d.Max || d.Min < w.Min || d.Max > w.Max)
            return DXTERR_INVALID_BOUNDS;
    }
    *area = {b.u.D[DXB_X].Min, b.u.D[DXB_Y].Min, b.u.D[DXB_X].Max, b.u.D[DXB_Y].Max};
    return S_OK;
}

// The cursor and the read operations of a pointer over a locked area of width x height
// samples, answering the interfaces Is. Moves stay on the row (see IDXARGBReadPtr); row
// operations stop at its end.
template <class... Is>
class PointerBase : public com::SimpleObject<PointerBase<Is...>, Is...> {
public:
    STDMETHOD(GetSurface)(REFIID riid, void** ppSurface) override {
        if (!ppSurface)
            return E_POINTER;
        return Owner()->QueryInterface(riid, ppSurface);
    }
    // Backwards no further than the start of the row.
    STDMETHOD_(void, Move)(LONG cSamples) override {
        const LONGLONG x = LONGLONG{x_} + cSamples;
        x_ = x < 0 ? 0 : static_cast<ULONG>(std::min<LONGLONG>(x, 0xFFFFFFFF));
    }
    STDMETHOD_(void, MoveToRow)(ULONG y) override {
        x_ = 0;
        y_ = y;
    }
    STDMETHOD_(void, MoveToXY)(ULONG x, ULONG y) override {
        x_ = x;
        y_ = y;
    }
    STDMETHOD_(ULONG, MoveAndGetRunInfo)(ULONG Row, const DXRUNINFO** ppInfo) override {
        MoveToRow(Row);
        const ULONG count = Row < height_ ? DescribeRow(Row) : 0;
        if (ppInfo)
            *ppInfo = count ? runs_ : nullptr;
        return count;
    }
    STDMETHOD_(DXSAMPLE*, Unpack)(DXSAMPLE* pSamples, ULONG cSamples, BOOL bMove) override {
        return UnpackAt(pSamples, cSamples, bMove, false);
    }
    STDMETHOD_(DXPMSAMPLE*, UnpackPremult)
    (DXPMSAMPLE* pSamples, ULONG cSamples, BOOL bMove) override {
        return UnpackAt(pSamples, cSamples, bMove, true);
    }
    STDMETHOD_(void, UnpackRect)(const DXPACKEDRECTDESC* d) override {
        if (!d || !d->pSamples || d->lRowPadding < 0 || !Inside(d->rect))
            return;
        ULONG w = static_cast<ULONG>(d->rect.right - d->rect.left);
        std::size_t stride = std::size_t{w} + static_cast<ULONG>(d->lRowPadding);
        for (LONG y = d->rect.top; y < d->rect.bottom; ++y)
            ReadRow(static_cast<ULONG>(d->rect.left), static_cast<ULONG>(y), w,
                    d->pSamples + stride * static_cast<std::size_t>(y - d->rect.top),
                    d->bPremult != FALSE);
    }

protected:
    static constexpr ULONG kChunk = 64; // samples converted at a time on the stack

    PointerBase() = default;
    ~PointerBase() override = default;

    // n samples of row y from column x on (all inside the area) into out.
    virtual void ReadRow(ULONG x, ULONG y, ULONG n, DXSAMPLE* out, bool premult) = 0;
    virtual IUnknown* Owner() = 0;
    virtual void LastRelease() = 0; // instead of deleting: a pointer may be recycled

    void Reset(ULONG width, ULONG height, bool writable) {
        this->ResetCount();
        width_ = width;
        height_ = height;
        writable_ = writable;
        x_ = y_ = 0;
    }
    // How many of n samples from the cursor lie inside the area.
    ULONG RunAtCursor(ULONG n) const {
        if (y_ >= height_ || x_ >= width_)
            return 0;
        return std::min(n, width_ - x_);
    }
    void Advance(ULONG n) { x_ = n > 0xFFFFFFFF - x_ ? 0xFFFFFFFF : x_ + n; }
    bool Inside(const RECT& r) const {
        return r.left >= 0 && r.top >= 0 && r.left <= r.right && r.top <= r.bottom &&
               static_cast<ULONG>(r.right) <= width_ && static_cast<ULONG>(r.bottom) <= height_;
    }

    ULONG width_ = 0, height_ = 0;
    ULONG x_ = 0, y_ = 0;
    bool writable_ = false;

private:
    friend class com::SimpleObject<PointerBase, Is...>;

    // A read lock's pointer does not write.
    bool Answers(REFIID riid) const { return writable_ || riid != uuidof<IDXARGBReadWritePtr>(); }
    // Fills runs_ for row y of the area; gives the number of runs.
    ULONG DescribeRow(ULONG y) {
        constexpr ULONG kMaxCount = (1u << 30) - 1; // what the record's field holds
        ULONG count = 0;
        DXSAMPLE buf[kChunk];
        for (ULONG x = 0; x < width_;) {
            const ULONG k = std::min(kChunk, width_ - x);
            ReadRow(x, y, k, buf, true);
            for (ULONG i = 0; i < k; ++i) {
                const BYTE a = buf[i].Alpha;
                const ULONG type = a == 0     ? DXRUNTYPE_CLEAR
                                   : a == 255 ? DXRUNTYPE_OPAQUE
                                              : DXRUNTYPE_TRANS;
                DXRUNINFO* last = count ? &runs_[count - 1] : nullptr;
                if (last && last->Type == type && last->Count < kMaxCount) {
                    ++last->Count;
                } else if (count < DX_MAX_RUN_INFO_COUNT) {
                    runs_[count++] = {type, 1};
                } else {
                    // No room left: the last run stands for the rest of the row.
                    last->Type = DXRUNTYPE_UNKNOWN;
                    last->Count = std::min<ULONG>(kMaxCount, last->Count + (width_ - x - i));
                    return count;
                }
            }
            x += k;
        }
        return count;
    }
    DXSAMPLE* UnpackAt(DXSAMPLE* p, ULONG n, BOOL move, bool premult) {
        if (!p)
            return p;
        if (ULONG run = RunAtCursor(n))
            ReadRow(x_, y_, run, p, premult);
        if (move)
            Advance(n);
        return p;
    }

    DXRUNINFO runs_[DX_MAX_RUN_INFO_COUNT]{};
};

} // namespace velmora::dxtrans
