// An owning interface pointer, ours on every platform (the stand-in's unknown.h includes it; on
// Windows it sits over the SDK's IUnknown).
#pragma once

#include <cstddef>
#include <utility>

#ifdef _WIN32
#include <objbase.h>
#else
#include "unknown.h"
#endif

namespace velmora::com {

// An owning interface pointer: releases on replace and destruction.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ComPtr(T* p) : p_(p) {
        if (p_)
            p_->AddRef();
    }
    ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
    ComPtr(ComPtr&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    ~ComPtr() { Reset(); }
    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }

    void Reset() {
        if (T* p = p_) {
            p_ = nullptr;
            p->Release();
        }
    }
    // Takes over a reference the caller already holds.
    void Attach(T* p) {
        Reset();
        p_ = p;
    }
    T* Detach() {
        T* p = p_;
        p_ = nullptr;
        return p;
    }
    // For out-parameters: drops what is held and hands out the slot.
    T** operator&() {
        Reset();
        return &p_;
    }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // Hands a new reference to an out-parameter.
    HRESULT CopyTo(T** out) const {
        if (!out)
            return E_POINTER;
        *out = p_;
        if (p_)
            p_->AddRef();
        return S_OK;
    }

private:
    T* p_ = nullptr;
};

} // namespace velmora::com
