#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>

#include "memory.h"
#include "object.h"
#include "stream_buffer.h"

namespace velmora::com {

LPOLESTR TaskStrDup(const std::wstring& s) {
    auto* p = static_cast<LPOLESTR>(CoTaskMemAlloc((s.size() + 1) * sizeof(OLECHAR)));
    if (p)
        std::copy(s.c_str(), s.c_str() + s.size() + 1, p);
    return p;
}

FILETIME CurrentFileTime() {
    // 100-ns ticks since 1601-01-01.
    using namespace std::chrono;
    constexpr std::uint64_t kEpochDelta = 116444736000000000ULL;
    auto ticks = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100;
    std::uint64_t v = kEpochDelta + static_cast<std::uint64_t>(ticks);
    return {static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)};
}

namespace {

// Streams are limited to 32-bit sizes, as memory streams are.
constexpr std::uint64_t kMaxSize = std::numeric_limits<std::uint32_t>::max();

class MemoryStream final : public SimpleObject<MemoryStream, IStream, ISequentialStream> {
public:
    MemoryStream(std::shared_ptr<StreamBuffer> buffer, DWORD mode, bool tracked)
        : buffer_(std::move(buffer)), mode_(mode), tracked_(tracked) {
        if (tracked_) {
            std::lock_guard lock(buffer_->mutex);
            ++buffer_->openCount;
        }
    }

    STDMETHOD(Read)(void* pv, ULONG cb, ULONG* pcbRead) override {
        if (pcbRead)
            *pcbRead = 0;
        if (!pv)
            return STG_E_INVALIDPOINTER;
        std::lock_guard lock(buffer_->mutex);
        if (buffer_->reverted)
            return STG_E_REVERTED;
        std::uint64_t size = buffer_->bytes.size();
        ULONG n = pos_ >= size ? 0 : static_cast<ULONG>(std::min<std::uint64_t>(cb, size - pos_));
        if (n)
            std::memcpy(pv, buffer_->bytes.data() + pos_, n);
        pos_ += n;
        if (pcbRead)
            *pcbRead = n;
        return S_OK;
    }

    STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        if (pcbWritten)
            *pcbWritten = 0;
        if (!pv)
            return STG_E_INVALIDPOINTER;
        if (!Writable())
            return STG_E_ACCESSDENIED;
        std::lock_guard lock(buffer_->mutex);
        if (buffer_->reverted)
            return STG_E_REVERTED;
        if (cb == 0)
            return S_OK;
        if (pos_ + cb > kMaxSize)
            return STG_E_MEDIUMFULL;
        try {
            if (pos_ + cb > buffer_->bytes.size())
                buffer_->bytes.resize(pos_ + cb); // a gap after a seek past the end reads as zeros
        } catch (const std::bad_alloc&) {
            return STG_E_MEDIUMFULL;
        }
        std::memcpy(buffer_->bytes.data() + pos_, pv, cb);
        pos_ += cb;
        buffer_->mtime = CurrentFileTime();
        if (pcbWritten)
            *pcbWritten = cb;
        return S_OK;
    }

    STDMETHOD(Seek)(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPos) override {
        std::lock_guard lock(buffer_->mutex);
        if (buffer_->reverted)
            return STG_E_REVERTED;
        std::int64_t base;
        switch (origin) {
        case STREAM_SEEK_SET:
            base = 0;
            break;
        case STREAM_SEEK_CUR:
            base = static_cast<std::int64_t>(pos_);
            break;
        case STREAM_SEEK_END:
            base = static_cast<std::int64_t>(buffer_->bytes.size());
            break;
        default:
            return STG_E_INVALIDFUNCTION;
        }
        // Before the start is an error; past the end is allowed (a later write fills the gap).
        if (move.QuadPart < -base || move.QuadPart > static_cast<std::int64_t>(kMaxSize) - base)
            return STG_E_INVALIDFUNCTION;
        pos_ = static_cast<std::uint64_t>(base + move.QuadPart);
        if (newPos)
            newPos->QuadPart = pos_;
        return S_OK;
    }

    STDMETHOD(SetSize)(ULARGE_INTEGER size) override {
        if (!Writable())
            return STG_E_ACCESSDENIED;
        if (size.QuadPart > kMaxSize)
            return STG_E_INVALIDFUNCTION;
        std::lock_guard lock(buffer_->mutex);
        if (buffer_->reverted)
            return STG_E_REVERTED;
        try {
            buffer_->bytes.resize(size.QuadPart);
        } catch (const std::bad_alloc&) {
            return STG_E_MEDIUMFULL;
        }
        return S_OK;
    }

    STDMETHOD(CopyTo)
    (IStream* dest, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
     ULARGE_INTEGER* pcbWritten) override {
        if (pcbRead)
            pcbRead->QuadPart = 0;
        if (pcbWritten)
            pcbWritten->QuadPart = 0;
        if (!dest)
            return STG_E_INVALIDPOINTER;
        std::uint64_t total = 0, written = 0;
        BYTE chunk[4096];
        HRESULT hr = S_OK;
        while (total < cb.QuadPart) {
            ULONG want =
                static_cast<ULONG>(std::min<std::uint64_t>(sizeof chunk, cb.QuadPart - total));
            ULONG got = 0;
            hr = Read(chunk, want, &got);
            if (FAILED(hr) || got == 0)
                break;
            total += got;
            ULONG put = 0;
            hr = dest->Write(chunk, got, &put);
            written += put;
            if (FAILED(hr))
                break;
        }
        if (pcbRead)
            pcbRead->QuadPart = total;
        if (pcbWritten)
            pcbWritten->QuadPart = written;
        return hr;
    }

    STDMETHOD(Commit)(DWORD) override { return S_OK; }
    STDMETHOD(Revert)() override { return S_OK; }
    STDMETHOD(LockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    STDMETHOD(UnlockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }

    STDMETHOD(Stat)(STATSTG* st, DWORD flag) override {
        if (!st)
            return STG_E_INVALIDPOINTER;
        std::lock_guard lock(buffer_->mutex);
        if (buffer_->reverted)
            return STG_E_REVERTED;
        *st = {};
        st->type = STGTY_STREAM;
        st->cbSize.QuadPart = buffer_->bytes.size();
        st->ctime = buffer_->ctime;
        st->atime = buffer_->atime;
        st->mtime = buffer_->mtime;
        st->grfMode = mode_;
        if (!(flag & STATFLAG_NONAME) && !buffer_->name.empty()) {
            st->pwcsName = TaskStrDup(buffer_->name);
            if (!st->pwcsName)
                return STG_E_INSUFFICIENTMEMORY;
        }
        return S_OK;
    }

    STDMETHOD(Clone)(IStream** out) override {
        if (!out)
            return STG_E_INVALIDPOINTER;
        *out = nullptr;
        auto* clone = new (std::nothrow) MemoryStream(buffer_, mode_, tracked_);
        if (!clone)
            return E_OUTOFMEMORY;
        clone->pos_ = pos_;
        *out = clone;
        return S_OK;
    }

private:
    ~MemoryStream() override {
        if (tracked_) {
            std::lock_guard lock(buffer_->mutex);
            --buffer_->openCount;
        }
    }
    bool Writable() const { return (mode_ & 3) != STGM_READ; }

    std::shared_ptr<StreamBuffer> buffer_;
    DWORD mode_;
    bool tracked_;
    std::uint64_t pos_ = 0; // each stream and clone has its own seek pointer
    friend class SimpleObject<MemoryStream, IStream, ISequentialStream>;
};

} // namespace

HRESULT CreateStreamOnBuffer(std::shared_ptr<StreamBuffer> buffer, DWORD mode, bool tracked,
                             IStream** ppstm) {
    if (!ppstm)
        return STG_E_INVALIDPOINTER;
    *ppstm = new (std::nothrow) MemoryStream(std::move(buffer), mode, tracked);
    return *ppstm ? S_OK : E_OUTOFMEMORY;
}

} // namespace velmora::com

HRESULT CreateMemoryStream(IStream** ppstm) {
    return CreateMemoryStream(nullptr, 0, ppstm);
}

HRESULT CreateMemoryStream(const void* data, SIZE_T size, IStream** ppstm) {
    if (!ppstm)
        return E_POINTER;
    *ppstm = nullptr;
    auto buffer = std::make_shared<velmora::com::StreamBuffer>();
    if (size) {
        if (!data)
            return E_INVALIDARG;
        auto* p = static_cast<const BYTE*>(data);
        buffer->bytes.assign(p, p + size);
    }
    buffer->ctime = buffer->mtime = buffer->atime = velmora::com::CurrentFileTime();
    return velmora::com::CreateStreamOnBuffer(std::move(buffer), STGM_READWRITE, false, ppstm);
}
