// Surfaces for every suite: made by the surface factory, locked with a check, read and written
// whole, and their lock pointers kept warm for the allocation suites.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "platform/system.h"
#include "platform/dxtrans/bounds.h"
#include "platform/dxtrans/dxtrans.h"

namespace velmora::test {

using com::ComPtr;

inline ComPtr<IDXSurface> MakeSurface(const GUID& format, LONG width, LONG height) {
    ComPtr<IDXSurfaceFactory> factory;
    EXPECT_EQ(DXCreateSurfaceFactory(&factory), S_OK);
    DXBNDS b = dxbounds::Discrete(0, width, 0, height);
    ComPtr<IDXSurface> s;
    EXPECT_EQ(factory->CreateSurface(nullptr, nullptr, &format, &b, 0, nullptr,
                                     uuidof<IDXSurface>(), reinterpret_cast<void**>(&s)),
              S_OK);
    return s;
}

inline ComPtr<IDXARGBReadWritePtr> LockRW(IDXSurface* s, const DXBNDS* b = nullptr) {
    ComPtr<IDXARGBReadWritePtr> p;
    EXPECT_EQ(s->LockSurface(b, 0, DXLOCKF_READWRITE, IID_PPV_ARGS(&p), nullptr), S_OK);
    return p;
}

inline ComPtr<IDXARGBReadPtr> LockRead(IDXSurface* s, const DXBNDS* b = nullptr) {
    ComPtr<IDXARGBReadPtr> p;
    EXPECT_EQ(s->LockSurface(b, 0, DXLOCKF_READ, IID_PPV_ARGS(&p), nullptr), S_OK);
    return p;
}

// The whole w x h surface as premultiplied samples (T: DXPMSAMPLE, or BYTE for B, G, R, A).
template <class T = DXPMSAMPLE>
std::vector<T> Samples(IDXSurface* s, LONG w, LONG h) {
    std::vector<T> v(static_cast<size_t>(w) * h * sizeof(DXPMSAMPLE) / sizeof(T));
    DXPACKEDRECTDESC d{reinterpret_cast<DXPMSAMPLE*>(v.data()), TRUE, RECT{0, 0, w, h}, 0};
    if (auto ptr = LockRead(s))
        ptr->UnpackRect(&d);
    return v;
}

template <class T>
void Fill(IDXSurface* s, LONG w, LONG h, std::vector<T> v) {
    auto ptr = LockRW(s);
    ASSERT_TRUE(ptr);
    DXPACKEDRECTDESC d{reinterpret_cast<DXPMSAMPLE*>(v.data()), TRUE, RECT{0, 0, w, h}, 0};
    ptr->PackRect(&d);
}

// Holds read-write locks on n bands of the surface at once, then lets them go. The platform keeps
// released pointers for reuse, so that its free list then has what any frame of n pieces takes,
// whatever the thread timing of the first frames.
inline void WarmLocks(IDXSurface* s, LONG n = 4) {
    DXBNDS whole{};
    EXPECT_EQ(s->GetBounds(&whole), S_OK);
    std::vector<ComPtr<IDXARGBReadWritePtr>> held;
    for (LONG i = 0; i < n; ++i) {
        DXBNDS band = whole;
        band.u.D[DXB_Y].Min = whole.u.D[DXB_Y].Max * i / n;
        band.u.D[DXB_Y].Max = whole.u.D[DXB_Y].Max * (i + 1) / n;
        held.push_back(LockRW(s, &band));
    }
}

} // namespace velmora::test
