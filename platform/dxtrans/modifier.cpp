// The surface modifier: a surface that shows a foreground surface at an origin inside bounds of
// its own, the rest filled with a fill colour (straight ARGB, transparent black by default).
//
// The foreground's sample at its point (u, v) shows at (u + origin.x, v + origin.y); tiled, the
// foreground repeats in both directions. Until SetBounds the bounds are the foreground's.
// Nothing writes through a modifier: read-write locks answer E_NOTIMPL. A read lock takes a read
// lock on the part of the foreground it shows and keeps it for the pointer's life, so the usual
// lock rules of the foreground apply. The modifier has no memory of its own; its sample format
// is DXPF_NONSTANDARD with the transparency flags its content may need.
//
// It composes nothing: there is no background, the operation is over, the opacity 1 and no
// lookup table. Those settings accept exactly these values and answer E_NOTIMPL for any other
// valid one, so that a caller never believes an effect is shown that is not.
#include <mutex>
#include <new>

#include "../com/object.h"
#include "samples.h"
#include "surface_impl.h"

namespace velmora::dxtrans {
namespace {

LONG FloorMod(LONGLONG a, LONG m) {
    LONGLONG r = a % m;
    return static_cast<LONG>(r < 0 ? r + m : r);
}

// What a read pointer shows, fixed when the lock is taken.
struct View {
    Area area; // in the modifier's coordinates
    DXSAMPLE fill{}, fillPremult{};
    POINT origin{};
    bool tile = false;
    DXDBND fgX{}, fgY{}; // the foreground's bounds on x and y
    Area fgLocked;       // the foreground's locked part, in its coordinates
    DXSAMPLEFORMATENUM format = DXPF_NONSTANDARD;
};

class ModifierPointer final : public PointerBase<IDXARGBReadPtr> {
public:
    ModifierPointer(IUnknown* owner, const View& view, velmora::com::ComPtr<IDXARGBReadPtr> fg)
        : owner_(owner), view_(view), fg_(std::move(fg)) {
        Reset(view.area.Width(), view.area.Height(), false);
    }

    STDMETHOD_(DXSAMPLEFORMATENUM, GetNativeType)(DXNATIVETYPEINFO* pInfo) override {
        if (pInfo)
            *pInfo = {}; // no memory to point at
        return view_.format;
    }

protected:
    void ReadRow(ULONG x, ULONG y, ULONG n, DXSAMPLE* out, bool premult) override {
        const DXSAMPLE fill = premult ? view_.fillPremult : view_.fill;
        const LONG fw = view_.fgX.Max - view_.fgX.Min;
        const LONG fh = view_.fgY.Max - view_.fgY.Min;
        const LONGLONG Y = LONGLONG{view_.area.top} + y;
        const LONGLONG X0 = LONGLONG{view_.area.left} + x;
        LONGLONG fy = Y - view_.origin.y;
        if (view_.tile && fh > 0)
            fy = view_.fgY.Min + FloorMod(fy - view_.fgY.Min, fh);
        const bool rowShows = fg_ && fw > 0 && fy >= view_.fgY.Min && fy < view_.fgY.Max;
        for (ULONG i = 0; i < n;) {
            LONGLONG fx = X0 + i - view_.origin.x;
            if (view_.tile && fw > 0)
                fx = view_.fgX.Min + FloorMod(fx - view_.fgX.Min, fw);
            ULONG run;
            if (rowShows && fx >= view_.fgX.Min && fx < view_.fgX.Max) {
                run = static_cast<ULONG>(std::min<LONGLONG>(n - i, view_.fgX.Max - fx));
                fg_->MoveToXY(static_cast<ULONG>(fx - view_.fgLocked.left),
                              static_cast<ULONG>(fy - view_.fgLocked.top));
                if (premult)
                    fg_->UnpackPremult(out + i, run, FALSE);
                else
                    fg_->Unpack(out + i, run, FALSE);
            } else {
                // Fill up to where the foreground starts on this row, or to the end.
                LONGLONG end = n;
                if (rowShows && fx < view_.fgX.Min)
                    end = std::min<LONGLONG>(n, i + (view_.fgX.Min - fx));
                run = static_cast<ULONG>(end - i);
                std::fill(out + i, out + i + run, fill);
            }
            i += run;
        }
    }
    IUnknown* Owner() override { return owner_.Get(); }
    void LastRelease() override { delete this; }

private:
    velmora::com::ComPtr<IUnknown> owner_;
    View view_;
    velmora::com::ComPtr<IDXARGBReadPtr> fg_;
};

class SurfaceModifier final
    : public com::SimpleObject<SurfaceModifier, IDXSurface, IDXBaseObject, IDXSurfaceModifier> {
public:
    // IDXSurfaceModifier
    STDMETHOD(SetFillColor)(DXSAMPLE color) override {
        std::lock_guard lock(m_);
        if (!(color == fill_)) {
            fill_ = color;
            ++generation_;
        }
        return S_OK;
    }
    STDMETHOD(GetFillColor)(DXSAMPLE* pColor) override {
        if (!pColor)
            return E_POINTER;
        std::lock_guard lock(m_);
        *pColor = fill_;
        return S_OK;
    }
    STDMETHOD(SetBounds)(const DXBNDS* pBounds) override {
        if (!pBounds)
            return E_POINTER;
        if (pBounds->eType != DXBT_DISCRETE)
            return E_INVALIDARG;
        for (const DXDBND& d : pBounds->u.D)
            if (d.Min > d.Max)
                return DXTERR_INVALID_BOUNDS;
        std::lock_guard lock(m_);
        bounds_ = *pBounds;
        hasBounds_ = true;
        ++generation_;
        return S_OK;
    }
    STDMETHOD(SetBackground)(IDXSurface* pSurface) override { return pSurface ? E_NOTIMPL : S_OK; }
    STDMETHOD(GetBackground)(IDXSurface** ppSurface) override {
        if (!ppSurface)
            return E_POINTER;
        *ppSurface = nullptr;
        return S_OK;
    }
    STDMETHOD(SetCompositeOperation)(DXSURFMODCOMPOP op) override {
        if (op > DXSURFMOD_COMP_MAX_VALID)
            return E_INVALIDARG;
        return op == DXSURFMOD_COMP_OVER ? S_OK : E_NOTIMPL;
    }
    STDMETHOD(GetCompositeOperation)(DXSURFMODCOMPOP* pOp) override {
        if (!pOp)
            return E_POINTER;
        *pOp = DXSURFMOD_COMP_OVER;
        return S_OK;
    }
    STDMETHOD(SetForeground)(IDXSurface* pSurface, BOOL bTile, const POINT* pOrigin) override {
        if (pSurface == static_cast<IDXSurface*>(this))
            return E_INVALIDARG; // would show itself, and never be freed
        ULONG fgGeneration = 0;
        if (pSurface)
            pSurface->GetGenerationId(&fgGeneration);
        std::lock_guard lock(m_);
        fg_ = pSurface;
        tile_ = bTile != FALSE;
        origin_ = pOrigin ? *pOrigin : POINT{0, 0};
        lastFgGeneration_ = fgGeneration;
        ++generation_;
        return S_OK;
    }
    STDMETHOD(GetForeground)(IDXSurface** ppSurface, BOOL* pbTile, POINT* pOrigin) override {
        if (!ppSurface)
            return E_POINTER;
        std::lock_guard lock(m_);
        fg_.CopyTo(ppSurface);
        if (pbTile)
            *pbTile = tile_;
        if (pOrigin)
            *pOrigin = origin_;
        return S_OK;
    }

    STDMETHOD(SetOpacity)(float opacity) override {
        if (!(opacity >= 0.0f && opacity <= 1.0f)) // NaN too
            return E_INVALIDARG;
        return opacity == 1.0f ? S_OK : E_NOTIMPL;
    }
    STDMETHOD(GetOpacity)(float* pOpacity) override {
        if (!pOpacity)
            return E_POINTER;
        *pOpacity = 1.0f;
        return S_OK;
    }
    STDMETHOD(SetLookup)(IDXLookupTable* pTable) override { return pTable ? E_NOTIMPL : S_OK; }
    STDMETHOD(GetLookup)(IDXLookupTable** ppTable) override {
        if (!ppTable)
            return E_POINTER;
        *ppTable = nullptr;
        return S_OK;
    }

    // IDXBaseObject: the modifier's own changes, and any change of the foreground's id.
    STDMETHOD(GetGenerationId)(ULONG* pID) override {
        if (!pID)
            return E_POINTER;
        std::lock_guard lock(m_);
        ULONG fgGeneration = 0;
        if (fg_ && SUCCEEDED(fg_->GetGenerationId(&fgGeneration)) &&
            fgGeneration != lastFgGeneration_) {
            lastFgGeneration_ = fgGeneration;
            ++generation_;
        }
        *pID = generation_;
        return S_OK;
    }
    STDMETHOD(IncrementGenerationId)(BOOL) override {
        std::lock_guard lock(m_);
        ++generation_;
        return S_OK;
    }
    STDMETHOD(GetObjectSize)(ULONG* pcbSize) override {
        if (!pcbSize)
            return E_POINTER;
        *pcbSize = sizeof(*this);
        return S_OK;
    }

    // IDXSurface
    STDMETHOD(GetPixelFormat)(GUID* pFormatID, DXSAMPLEFORMATENUM* pSampleFormat) override {
        if (!pFormatID && !pSampleFormat)
            return E_POINTER;
        if (pFormatID)
            *pFormatID = GUID_NULL;
        if (pSampleFormat) {
            std::lock_guard lock(m_);
            *pSampleFormat = Format();
        }
        return S_OK;
    }
    STDMETHOD(GetBounds)(DXBNDS* pBounds) override {
        if (!pBounds)
            return E_POINTER;
        std::lock_guard lock(m_);
        return Bounds(pBounds);
    }
    STDMETHOD(GetStatusFlags)(DWORD* pdwStatusFlags) override {
        if (!pdwStatusFlags)
            return E_POINTER;
        *pdwStatusFlags = 0;
        return S_OK;
    }
    STDMETHOD(SetStatusFlags)(DWORD) override { return S_OK; }
    STDMETHOD(LockSurface)
    (const DXBNDS* pBounds, ULONG ulTimeOut, DWORD dwFlags, REFIID riid, void** ppPointer,
     ULONG* pulGenerationId) override {
        if (!ppPointer)
            return E_POINTER;
        *ppPointer = nullptr;
        View view;
        velmora::com::ComPtr<IDXSurface> fg;
        {
            std::lock_guard lock(m_);
            DXBNDS whole;
            if (HRESULT hr = Bounds(&whole); FAILED(hr))
                return hr;
            if (HRESULT hr = CheckLock(pBounds, whole, dwFlags, riid, &view.area); FAILED(hr))
                return hr;
            if (dwFlags & DXLOCKF_READWRITE)
                return E_NOTIMPL;
            view.fill = fill_;
            view.fillPremult = PremultiplySample(fill_);
            view.origin = origin_;
            view.tile = tile_;
            view.format = Format();
            fg = fg_;
        }
        velmora::com::ComPtr<IDXARGBReadPtr> fgPointer;
        if (fg) {
            DXBNDS fgBounds;
            if (HRESULT hr = fg->GetBounds(&fgBounds); FAILED(hr))
                return hr;
            view.fgX = fgBounds.u.D[DXB_X];
            view.fgY = fgBounds.u.D[DXB_Y];
            // The part of the foreground this area shows: all of it when tiled.
            Area shown{view.fgX.Min, view.fgY.Min, view.fgX.Max, view.fgY.Max};
            if (!view.tile) {
                shown.left = std::max<LONG>(shown.left, view.area.left - view.origin.x);
                shown.top = std::max<LONG>(shown.top, view.area.top - view.origin.y);
                shown.right = std::min<LONG>(shown.right, view.area.right - view.origin.x);
                shown.bottom = std::min<LONG>(shown.bottom, view.area.bottom - view.origin.y);
            }
            if (!shown.Empty() && !view.area.Empty()) {
                DXBNDS b = fgBounds;
                b.u.D[DXB_X] = {shown.left, shown.right};
                b.u.D[DXB_Y] = {shown.top, shown.bottom};
                HRESULT hr = fg->LockSurface(&b, ulTimeOut, DXLOCKF_READ, uuidof<IDXARGBReadPtr>(),
                                             reinterpret_cast<void**>(&fgPointer), nullptr);
                if (FAILED(hr))
                    return hr;
                view.fgLocked = shown;
            } else {
                view.fgX = view.fgY = {0, 0}; // nothing of the foreground shows
            }
        }
        auto* p = new (std::nothrow)
            ModifierPointer(static_cast<IDXSurface*>(this), view, std::move(fgPointer));
        if (!p)
            return E_OUTOFMEMORY;
        if (pulGenerationId)
            GetGenerationId(pulGenerationId);
        *ppPointer = static_cast<IDXARGBReadPtr*>(p);
        return S_OK;
    }

private:
    HRESULT Bounds(DXBNDS* out) const {
        if (hasBounds_) {
            *out = bounds_;
            return S_OK;
        }
        if (fg_)
            return fg_->GetBounds(out);
        *out = dxbounds::Discrete(0, 0, 0, 0);
        return S_OK;
    }
    DXSAMPLEFORMATENUM Format() const {
        DWORD flags = 0;
        if (fill_.Alpha != 255)
            flags |= DXPF_TRANSPARENCY | (fill_.Alpha ? DWORD{DXPF_TRANSLUCENCY} : 0u);
        DXSAMPLEFORMATENUM fgFormat = DXPF_NONSTANDARD;
        if (fg_ && SUCCEEDED(fg_->GetPixelFormat(nullptr, &fgFormat)))
            flags |= fgFormat & (DXPF_TRANSPARENCY | DXPF_TRANSLUCENCY);
        return static_cast<DXSAMPLEFORMATENUM>(DXPF_NONSTANDARD | flags);
    }

    mutable std::mutex m_;
    velmora::com::ComPtr<IDXSurface> fg_;
    bool tile_ = false;
    POINT origin_{0, 0};
    DXSAMPLE fill_{0, 0, 0, 0};
    DXBNDS bounds_{};
    bool hasBounds_ = false;
    ULONG generation_ = 1;
    ULONG lastFgGeneration_ = 0;
};

} // namespace
} // namespace velmora::dxtrans

HRESULT DXCreateSurfaceModifier(IUnknown* punkOuter, REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (punkOuter)
        return CLASS_E_NOAGGREGATION;
    auto* m = new (std::nothrow) velmora::dxtrans::SurfaceModifier;
    if (!m)
        return E_OUTOFMEMORY;
    HRESULT hr = m->QueryInterface(riid, ppv);
    m->Release();
    return hr;
}
