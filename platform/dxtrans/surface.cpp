// Memory surfaces, their read and read-write pointers, and the surface factory.
//
// Locks: each lock records its area, whether it may write, and the thread that took it (the
// holder). A lock is refused while another holder has an overlapping area locked and one of
// the two may write; readers share, and a thread never blocks itself. A refused lock waits up to
// its time-out for the area to come free and then answers DXTERR_REQ_TIMEDOUT. Releasing a
// read-write pointer raises the generation id, since the content may have changed.
//
// Pointers are recycled: a surface keeps a few released ones, so that locking the same surface
// frame after frame allocates nothing.
//
// A surface may take its content from a source buffer: each row is copied the first time a lock
// reaches it, on the locking thread, and the rows no lock reached when the surface goes away.
// A row's state goes from untouched to being copied to copied; only a row no lock has reached yet
// is copied, so a copy never overwrites what a holder wrote.
#include <atomic>
#include <cstring>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "../com/object.h"
#include "samples.h"
#include "surface_impl.h"

namespace velmora::dxtrans {
namespace {

class MemorySurface;

class SurfacePointer final : public PointerBase<IDXARGBReadWritePtr, IDXARGBReadPtr> {
public:
    void Begin(MemorySurface* surface, const Area& area, bool rw);

    STDMETHOD_(DXSAMPLEFORMATENUM, GetNativeType)(DXNATIVETYPEINFO* pInfo) override;
    STDMETHOD_(void, PackAndMove)(const DXSAMPLE* pSamples, ULONG cSamples) override {
        PackAt(pSamples, cSamples, false);
    }
    STDMETHOD_(void, PackPremultAndMove)(const DXPMSAMPLE* pSamples, ULONG cSamples) override {
        PackAt(pSamples, cSamples, true);
    }
    STDMETHOD_(void, PackRect)(const DXPACKEDRECTDESC* d) override;
    STDMETHOD_(void, CopyAndMoveBoth)
    (DXBASESAMPLE*, IDXARGBReadPtr* pSrc, ULONG cSamples, BOOL) override {
        if (!writable_ || !pSrc)
            return;
        const ULONG run = RunAtCursor(cSamples);
        CopyFrom(pSrc, x_, y_, run);
        for (ULONG rest = cSamples - run; rest;) { // the source moves by cSamples too
            const ULONG step = std::min<ULONG>(rest, 0x7FFFFFFF);
            pSrc->Move(static_cast<LONG>(step));
            rest -= step;
        }
        Advance(cSamples);
    }
    STDMETHOD_(void, CopyRect)
    (DXBASESAMPLE*, const RECT* pDestRect, IDXARGBReadPtr* pSrc, const POINT* pSrcOrigin,
     BOOL) override;
    STDMETHOD_(void, FillAndMove)
    (DXBASESAMPLE*, DXPMSAMPLE sample, ULONG cSamples, BOOL bDoOver) override {
        if (!writable_)
            return;
        FillAt(x_, y_, RunAtCursor(cSamples), sample, bDoOver != FALSE);
        Advance(cSamples);
    }
    STDMETHOD_(void, FillRect)(const RECT* pRect, DXPMSAMPLE sample, BOOL bDoOver) override;
    STDMETHOD_(void, OverSample)(const DXOVERSAMPLEDESC* d) override {
        if (writable_ && d && d->p.x >= 0 && d->p.y >= 0 && static_cast<ULONG>(d->p.x) < width_ &&
            static_cast<ULONG>(d->p.y) < height_)
            OverAt(static_cast<ULONG>(d->p.x), static_cast<ULONG>(d->p.y), &d->Color, 1);
    }
    STDMETHOD_(void, OverArrayAndMove)
    (DXBASESAMPLE*, const DXPMSAMPLE* pSrc, ULONG cSamples) override {
        if (!writable_ || !pSrc)
            return;
        OverAt(x_, y_, pSrc, RunAtCursor(cSamples));
        Advance(cSamples);
    }

    // Bookkeeping of the surface, under its lock.
    Area area;
    bool rw = false;
    std::thread::id holder;
    SurfacePointer* prev = nullptr;
    SurfacePointer* next = nullptr;

protected:
    void ReadRow(ULONG x, ULONG y, ULONG n, DXSAMPLE* out, bool premult) override;
    IUnknown* Owner() override;
    void LastRelease() override;

private:
    BYTE* At(ULONG x, ULONG y) const;
    void PackAt(const DXSAMPLE* p, ULONG n, bool premult);
    // Row operations on n samples from (x, y), all inside the area.
    void CopyFrom(IDXARGBReadPtr* src, ULONG x, ULONG y, ULONG n);
    void FillAt(ULONG x, ULONG y, ULONG n, DXPMSAMPLE sample, bool over);
    void OverAt(ULONG x, ULONG y, const DXPMSAMPLE* src, ULONG n);

    MemorySurface* surface_ = nullptr; // holds a reference while the lock lasts
};

class MemorySurface final : public com::SimpleObject<MemorySurface, IDXSurface, IDXBaseObject> {
public:
    MemorySurface(DWORD format, BYTE* bits, LONG pitch, ULONG width, ULONG height,
                  std::unique_ptr<BYTE[]> owned, std::size_t ownedSize)
        : format_(format), bits_(bits), pitch_(pitch), width_(width), height_(height),
          owned_(std::move(owned)), ownedSize_(ownedSize) {}

    // Rows start as those of source; false if the row states cannot be had.
    bool SetSource(const BYTE* source, LONG pitch) {
        rowStates_.reset(new (std::nothrow) std::atomic<std::uint8_t>[height_ ? height_ : 1]());
        if (!rowStates_)
            return false;
        source_ = source;
        sourcePitch_ = pitch;
        return true;
    }

    ~MemorySurface() override {
        CopyRows(0, static_cast<LONG>(height_));
        while (SurfacePointer* p = spare_) {
            spare_ = p->next;
            delete p;
        }
    }

    // IDXBaseObject
    STDMETHOD(GetGenerationId)(ULONG* pID) override {
        if (!pID)
            return E_POINTER;
        *pID = generation_.load();
        return S_OK;
    }
    STDMETHOD(IncrementGenerationId)(BOOL) override {
        ++generation_;
        return S_OK;
    }
    STDMETHOD(GetObjectSize)(ULONG* pcbSize) override {
        if (!pcbSize)
            return E_POINTER;
        std::size_t size = sizeof(*this) + ownedSize_;
        *pcbSize = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<ULONG>(size);
        return S_OK;
    }

    // IDXSurface
    STDMETHOD(GetPixelFormat)(GUID* pFormatID, DXSAMPLEFORMATENUM* pSampleFormat) override {
        if (!pFormatID && !pSampleFormat)
            return E_POINTER;
        if (pFormatID)
            *pFormatID = FormatId();
        if (pSampleFormat)
            *pSampleFormat = static_cast<DXSAMPLEFORMATENUM>(format_);
        return S_OK;
    }
    STDMETHOD(GetBounds)(DXBNDS* pBounds) override {
        if (!pBounds)
            return E_POINTER;
        *pBounds = Bounds();
        return S_OK;
    }
    STDMETHOD(GetStatusFlags)(DWORD* pdwStatusFlags) override {
        if (!pdwStatusFlags)
            return E_POINTER;
        *pdwStatusFlags = status_.load();
        return S_OK;
    }
    STDMETHOD(SetStatusFlags)(DWORD dwStatusFlags) override {
        status_ = dwStatusFlags;
        return S_OK;
    }
    STDMETHOD(LockSurface)
    (const DXBNDS* pBounds, ULONG ulTimeOut, DWORD dwFlags, REFIID riid, void** ppPointer,
     ULONG* pulGenerationId) override;

    void Unlock(SurfacePointer* p);

    const DWORD format_;
    BYTE* const bits_;
    const LONG pitch_;
    const ULONG width_, height_;

private:
    static constexpr unsigned kMaxSpare = 8;

    DXBNDS Bounds() const {
        return dxbounds::Discrete(0, static_cast<LONG>(width_), 0, static_cast<LONG>(height_));
    }
    GUID FormatId() const {
        switch (format_) {
        case DXPF_PMARGB32:
            return DXFMT_PMARGB32;
        case DXPF_ARGB32:
            return DXFMT_ARGB32;
        default:
            return DXFMT_RGB24;
        }
    }
    void CopyRows(LONG top, LONG bottom) {
        enum : std::uint8_t { kUntouched, kCopying, kCopied };
        if (!source_)
            return;
        const std::size_t bytes = std::size_t{width_} * BytesPerSample(format_);
        for (LONG y = top; y < bottom; ++y) {
            std::atomic<std::uint8_t>& state = rowStates_[y];
            std::uint8_t seen = kUntouched;
            if (state.compare_exchange_strong(seen, kCopying)) {
                std::memcpy(bits_ + std::ptrdiff_t{y} * pitch_,
                            source_ + std::ptrdiff_t{y} * sourcePitch_, bytes);
                state.store(kCopied);
                state.notify_all();
            } else if (seen == kCopying) {
                state.wait(kCopying); // another lock's copy of this row
            }
        }
    }
    bool Blocked(const Area& a, bool rw, std::thread::id me) const {
        for (const SurfacePointer* p = active_; p; p = p->next)
            if (p->holder != me && (rw || p->rw) && p->area.Overlaps(a))
                return true;
        return false;
    }

    std::unique_ptr<BYTE[]> owned_;
    std::size_t ownedSize_;
    std::atomic<ULONG> generation_{1};
    std::atomic<DWORD> status_{0};
    const BYTE* source_ = nullptr;
    LONG sourcePitch_ = 0;
    std::unique_ptr<std::atomic<std::uint8_t>[]> rowStates_;

    std::mutex m_;
    std::condition_variable released_;
    unsigned waiters_ = 0;
    SurfacePointer* active_ = nullptr; // doubly linked
    SurfacePointer* spare_ = nullptr;  // singly linked through next
    unsigned spareCount_ = 0;
};

HRESULT MemorySurface::LockSurface(const DXBNDS* pBounds, ULONG ulTimeOut, DWORD dwFlags,
                                   REFIID riid, void** ppPointer, ULONG* pulGenerationId) {
    if (!ppPointer)
        return E_POINTER;
    *ppPointer = nullptr;
    Area area;
    if (HRESULT hr = CheckLock(pBounds, Bounds(), dwFlags, riid, &area); FAILED(hr))
        return hr;
    const bool rw = (dwFlags & DXLOCKF_READWRITE) != 0;
    const std::thread::id me = std::this_thread::get_id();

    std::unique_lock lock(m_);
    if (Blocked(area, rw, me)) {
        if (ulTimeOut == 0)
            return DXTERR_REQ_TIMEDOUT;
        auto free = [&] { return !Blocked(area, rw, me); };
        ++waiters_;
        bool got = true;
        if (ulTimeOut == INFINITE)
            released_.wait(lock, free);
        else
            got = released_.wait_for(lock, std::chrono::milliseconds(ulTimeOut), free);
        --waiters_;
        if (!got)
            return DXTERR_REQ_TIMEDOUT;
    }
    SurfacePointer* p = spare_;
    if (p) {
        spare_ = p->next;
        --spareCount_;
    } else if (!(p = new (std::nothrow) SurfacePointer)) {
        return E_OUTOFMEMORY;
    }
    p->Begin(this, area, rw);
    p->holder = me;
    p->prev = nullptr;
    p->next = active_;
    if (active_)
        active_->prev = p;
    active_ = p;
    if (pulGenerationId)
        *pulGenerationId = generation_.load();
    lock.unlock();
    CopyRows(area.top, area.bottom);
    // The same object answers both pointer interfaces.
    *ppPointer = static_cast<IDXARGBReadWritePtr*>(p);
    return S_OK;
}

void MemorySurface::Unlock(SurfacePointer* p) {
    bool keep;
    {
        std::lock_guard lock(m_);
        (p->prev ? p->prev->next : active_) = p->next;
        if (p->next)
            p->next->prev = p->prev;
        if (p->rw)
            ++generation_;
        keep = spareCount_ < kMaxSpare;
        if (keep) {
            p->next = spare_;
            spare_ = p;
            ++spareCount_;
        }
        if (waiters_)
            released_.notify_all();
    }
    if (!keep)
        delete p;
}

void SurfacePointer::Begin(MemorySurface* surface, const Area& a, bool writable) {
    surface->AddRef();
    surface_ = surface;
    area = a;
    rw = writable;
    Reset(a.Width(), a.Height(), writable);
}

void SurfacePointer::LastRelease() {
    MemorySurface* s = surface_;
    surface_ = nullptr;
    s->Unlock(this); // may delete this
    s->Release();
}

IUnknown* SurfacePointer::Owner() {
    return static_cast<IDXSurface*>(surface_);
}

BYTE* SurfacePointer::At(ULONG x, ULONG y) const {
    const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(area.top) + y;
    const std::ptrdiff_t col = static_cast<std::ptrdiff_t>(area.left) + x;
    return surface_->bits_ + row * surface_->pitch_ +
           col * static_cast<std::ptrdiff_t>(BytesPerSample(surface_->format_));
}

void SurfacePointer::ReadRow(ULONG x, ULONG y, ULONG n, DXSAMPLE* out, bool premult) {
    ReadNative(surface_->format_, At(x, y), n, out, premult);
}

DXSAMPLEFORMATENUM SurfacePointer::GetNativeType(DXNATIVETYPEINFO* pInfo) {
    if (pInfo) {
        // An empty area has no first sample.
        pInfo->pFirstByte = area.Empty() ? nullptr : At(0, 0);
        pInfo->pCurrentData = RunAtCursor(1) ? At(x_, y_) : nullptr;
        pInfo->lPitch = surface_->pitch_;
        pInfo->dwColorKey = 0;
    }
    return static_cast<DXSAMPLEFORMATENUM>(surface_->format_);
}

void SurfacePointer::PackAt(const DXSAMPLE* p, ULONG n, bool premult) {
    if (!writable_ || !p)
        return;
    if (ULONG run = RunAtCursor(n))
        WriteNative(surface_->format_, At(x_, y_), run, p, premult);
    Advance(n);
}

void SurfacePointer::PackRect(const DXPACKEDRECTDESC* d) {
    if (!writable_ || !d || !d->pSamples || d->lRowPadding < 0 || !Inside(d->rect))
        return;
    ULONG w = static_cast<ULONG>(d->rect.right - d->rect.left);
    std::size_t stride = std::size_t{w} + static_cast<ULONG>(d->lRowPadding);
    for (LONG y = d->rect.top; y < d->rect.bottom; ++y)
        WriteNative(surface_->format_, At(static_cast<ULONG>(d->rect.left), static_cast<ULONG>(y)),
                    w, d->pSamples + stride * static_cast<std::size_t>(y - d->rect.top),
                    d->bPremult != FALSE);
}

void SurfacePointer::FillRect(const RECT* pRect, DXPMSAMPLE sample, BOOL bDoOver) {
    if (!writable_)
        return;
    const RECT r =
        pRect ? *pRect : RECT{0, 0, static_cast<LONG>(width_), static_cast<LONG>(height_)};
    if (!Inside(r))
        return;
    for (LONG y = r.top; y < r.bottom; ++y)
        FillAt(static_cast<ULONG>(r.left), static_cast<ULONG>(y),
               static_cast<ULONG>(r.right - r.left), sample, bDoOver != FALSE);
}

void SurfacePointer::CopyRect(DXBASESAMPLE*, const RECT* pDestRect, IDXARGBReadPtr* pSrc,
                              const POINT* pSrcOrigin, BOOL) {
    if (!writable_ || !pSrc)
        return;
    const RECT r =
        pDestRect ? *pDestRect : RECT{0, 0, static_cast<LONG>(width_), static_cast<LONG>(height_)};
    const POINT o = pSrcOrigin ? *pSrcOrigin : POINT{0, 0};
    if (!Inside(r) || o.x < 0 || o.y < 0)
        return;
    for (LONG y = r.top; y < r.bottom; ++y) {
        pSrc->MoveToXY(static_cast<ULONG>(o.x), static_cast<ULONG>(o.y + (y - r.top)));
        CopyFrom(pSrc, static_cast<ULONG>(r.left), static_cast<ULONG>(y),
                 static_cast<ULONG>(r.right - r.left));
    }
}

void SurfacePointer::CopyFrom(IDXARGBReadPtr* src, ULONG x, ULONG y, ULONG n) {
    // Taken in the destination's own kind, so that a copy converts at most once.
    const DWORD format = surface_->format_;
    const bool premult = format == DXPF_PMARGB32;
    DXSAMPLE buf[kChunk];
    for (ULONG done = 0; done < n;) {
        const ULONG k = std::min(kChunk, n - done);
        std::fill(buf, buf + k, DXSAMPLE{}); // what the source's row does not have
        if (premult)
            src->UnpackPremult(buf, k, TRUE);
        else
            src->Unpack(buf, k, TRUE);
        WriteNative(format, At(x + done, y), k, buf, premult);
        done += k;
    }
}

void SurfacePointer::FillAt(ULONG x, ULONG y, ULONG n, DXPMSAMPLE sample, bool over) {
    DXPMSAMPLE buf[kChunk];
    std::fill(std::begin(buf), std::end(buf), sample);
    if (over && sample.Alpha != 255) { // an opaque sample simply replaces
        for (ULONG done = 0; done < n; done += kChunk)
            OverAt(x + done, y, buf, std::min(kChunk, n - done));
        return;
    }
    for (ULONG done = 0; done < n; done += kChunk)
        WriteNative(surface_->format_, At(x + done, y), std::min(kChunk, n - done), buf, true);
}

// Premultiplied source over premultiplied destination.
DXPMSAMPLE Over(DXPMSAMPLE s, DXPMSAMPLE d) {
    const unsigned keep = 255u - s.Alpha;
    auto channel = [&](BYTE sc, BYTE dc) {
        unsigned v = sc + unsigned{Div255(dc * keep)};
        return static_cast<BYTE>(v > 255 ? 255 : v); // only a colour above its alpha overflows
    };
    return {channel(s.Blue, d.Blue), channel(s.Green, d.Green), channel(s.Red, d.Red),
            channel(s.Alpha, d.Alpha)};
}

void SurfacePointer::OverAt(ULONG x, ULONG y, const DXPMSAMPLE* src, ULONG n) {
    const DWORD format = surface_->format_;
    DXPMSAMPLE buf[kChunk];
    for (ULONG done = 0; done < n;) {
        const ULONG k = std::min(kChunk, n - done);
        const DXPMSAMPLE* s = src + done;
        ReadNative(format, At(x + done, y), k, buf, true);
        // Only the runs a source sample changes are written back: converting an untouched
        // non-premultiplied sample there and back need not give its bytes again.
        for (ULONG i = 0; i < k;) {
            if (s[i] == DXPMSAMPLE{}) {
                ++i;
                continue;
            }
            ULONG j = i;
            for (; j < k && !(s[j] == DXPMSAMPLE{}); ++j)
                buf[j] = Over(s[j], buf[j]);
            WriteNative(format, At(x + done + i, y), j - i, buf + i, true);
            i = j;
        }
        done += k;
    }
}

HRESULT MakeSurface(DWORD format, BYTE* bits, LONG pitch, ULONG width, ULONG height,
                    std::unique_ptr<BYTE[]> owned, std::size_t ownedSize, REFIID riid, void** ppv) {
    auto* s = new (std::nothrow)
        MemorySurface(format, bits, pitch, width, height, std::move(owned), ownedSize);
    if (!s)
        return E_OUTOFMEMORY;
    HRESULT hr = s->QueryInterface(riid, ppv);
    s->Release();
    return hr;
}

DWORD FormatFromId(REFGUID id) {
    if (id == DXFMT_PMARGB32)
        return DXPF_PMARGB32;
    if (id == DXFMT_ARGB32)
        return DXPF_ARGB32;
    if (id == DXFMT_RGB24)
        return DXPF_RGB24;
    return 0;
}

class SurfaceFactory final : public com::SimpleObject<SurfaceFactory, IDXSurfaceFactory> {
public:
    // Rows are zeroed and padded to 4 bytes. There is no DirectDraw: pDirectDraw is ignored
    // and a DirectDraw surface description cannot be honoured (E_NOTIMPL).
    STDMETHOD(CreateSurface)
    (IUnknown*, const void* pDDSurfaceDesc, const GUID* pFormatID, const DXBNDS* pBounds,
     DWORD dwFlags, IUnknown* punkOuter, REFIID riid, void** ppDXSurface) override {
        if (!ppDXSurface)
            return E_POINTER;
        *ppDXSurface = nullptr;
        if (punkOuter)
            return CLASS_E_NOAGGREGATION;
        if (pDDSurfaceDesc)
            return E_NOTIMPL;
        if (!pFormatID || !pBounds || pBounds->eType != DXBT_DISCRETE)
            return E_INVALIDARG;
        if (dwFlags)
            return DXTERR_INVALID_FLAGS;
        const DWORD format = FormatFromId(*pFormatID);
        if (!format)
            return DXTERR_UNSUPPORTED_FORMAT;
        const DXDBND& x = pBounds->u.D[DXB_X];
        const DXDBND& y = pBounds->u.D[DXB_Y];
        if (x.Min != 0 || y.Min != 0 || x.Max < 0 || y.Max < 0)
            return DXTERR_INVALID_BOUNDS;
        const auto width = static_cast<ULONG>(x.Max);
        const auto height = static_cast<ULONG>(y.Max);
        const std::uint64_t pitch = (std::uint64_t{width} * BytesPerSample(format) + 3) & ~3ull;
        if (pitch > 0x7FFFFFFF || pitch * height > PTRDIFF_MAX)
            return E_OUTOFMEMORY;
        const auto size = static_cast<std::size_t>(pitch * height);
        std::unique_ptr<BYTE[]> bits(new (std::nothrow) BYTE[size ? size : 1]());
        if (!bits)
            return E_OUTOFMEMORY;
        BYTE* p = bits.get();
        return MakeSurface(format, p, static_cast<LONG>(pitch), width, height, std::move(bits),
                           size, riid, ppDXSurface);
    }

    // No DirectDraw exists on this platform.
    STDMETHOD(CreateFromDDSurface)
    (IUnknown*, const GUID*, DWORD, IUnknown*, REFIID, void** ppDXSurface) override {
        if (!ppDXSurface)
            return E_POINTER;
        *ppDXSurface = nullptr;
        return E_NOTIMPL;
    }
};

} // namespace
} // namespace velmora::dxtrans

using namespace velmora::dxtrans;

HRESULT DXCreateSurfaceFactory(IDXSurfaceFactory** ppFactory) {
    if (!ppFactory)
        return E_POINTER;
    *ppFactory = new (std::nothrow) SurfaceFactory;
    return *ppFactory ? S_OK : E_OUTOFMEMORY;
}

namespace {

// Whether a pitch gives room for a row of width samples of bpp bytes (any sign).
bool RowsFit(const void* bits, LONG pitch, ULONG width, ULONG height, ULONG bpp) {
    if (!width || !height)
        return true;
    const std::int64_t magnitude = pitch < 0 ? -std::int64_t{pitch} : pitch;
    return bits && magnitude >= std::int64_t{width} * bpp;
}

} // namespace

HRESULT DXCreateSurfaceOnMemory(DWORD sampleFormat, void* bits, LONG pitch, ULONG width,
                                ULONG height, IDXSurface** ppSurface) {
    if (!ppSurface)
        return E_POINTER;
    *ppSurface = nullptr;
    const ULONG bpp = BytesPerSample(sampleFormat);
    if (!bpp)
        return DXTERR_UNSUPPORTED_FORMAT;
    if (width > 0x7FFFFFFF || height > 0x7FFFFFFF || !RowsFit(bits, pitch, width, height, bpp))
        return E_INVALIDARG;
    return MakeSurface(sampleFormat, static_cast<BYTE*>(bits), pitch, width, height, nullptr, 0,
                       uuidof<IDXSurface>(), reinterpret_cast<void**>(ppSurface));
}

HRESULT DXCreateSurfaceOnMemoryFrom(DWORD sampleFormat, void* bits, LONG pitch, const void* source,
                                    LONG sourcePitch, ULONG width, ULONG height,
                                    IDXSurface** ppSurface) {
    HRESULT hr = DXCreateSurfaceOnMemory(sampleFormat, bits, pitch, width, height, ppSurface);
    if (FAILED(hr) || (source == bits && sourcePitch == pitch))
        return hr; // the content is already there
    if (!RowsFit(source, sourcePitch, width, height, BytesPerSample(sampleFormat))) {
        (*ppSurface)->Release();
        *ppSurface = nullptr;
        return E_INVALIDARG;
    }
    if (!static_cast<MemorySurface*>(*ppSurface)
             ->SetSource(static_cast<const BYTE*>(source), sourcePitch)) {
        (*ppSurface)->Release();
        *ppSurface = nullptr;
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
