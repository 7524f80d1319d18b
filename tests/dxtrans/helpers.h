// Shared by the transform-service suites.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/system.h"
#include "platform/dxtrans/bounds.h"
#include "platform/dxtrans/dxtrans.h"
#include "../support/surface.h"

namespace dxtest {

using velmora::com::ComPtr;

using velmora::dxbounds::Discrete;
using velmora::test::LockRead;
using velmora::test::LockRW;

// std::latch over a mutex: MinGW's std::latch (its atomic wait) can miss a wake-up and hang.
class Latch {
public:
    explicit Latch(int count) : left_(count) {}
    void ArriveAndWait() {
        std::unique_lock lock(mutex_);
        if (--left_ == 0)
            met_.notify_all();
        met_.wait(lock, [this] { return left_ <= 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable met_;
    int left_;
};

inline DXSAMPLE Sample(BYTE a, BYTE r, BYTE g, BYTE b) {
    return {b, g, r, a};
}

inline ComPtr<IDXSurface> NewSurface(DWORD format, LONG w, LONG h) {
    return velmora::test::MakeSurface(format == DXPF_PMARGB32 ? DXFMT_PMARGB32
                                      : format == DXPF_ARGB32 ? DXFMT_ARGB32
                                                              : DXFMT_RGB24,
                                      w, h);
}

// A lock's result, the pointer released at once.
inline HRESULT TryLock(IDXSurface* s, const DXBNDS* b, DWORD flags, ULONG timeOut = 0) {
    ComPtr<IUnknown> p;
    const IID& iid = flags ? uuidof<IDXARGBReadWritePtr>() : uuidof<IDXARGBReadPtr>();
    return s->LockSurface(b, timeOut, flags, iid, reinterpret_cast<void**>(&p), nullptr);
}

// The same lock taken on another thread.
inline HRESULT Elsewhere(IDXSurface* s, DXBNDS b, DWORD flags, ULONG timeOut = 0) {
    HRESULT hr = E_FAIL;
    std::thread([&] { hr = TryLock(s, &b, flags, timeOut); }).join();
    return hr;
}

// The whole locked area of w x h samples, row after row.
inline std::vector<DXSAMPLE> ReadAll(IDXARGBReadPtr* p, ULONG w, ULONG h, bool premult) {
    std::vector<DXSAMPLE> v(std::size_t{w} * h);
    DXPACKEDRECTDESC d{v.data(), premult, {0, 0, static_cast<LONG>(w), static_cast<LONG>(h)}, 0};
    p->UnpackRect(&d);
    return v;
}

} // namespace dxtest
