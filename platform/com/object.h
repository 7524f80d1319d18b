// A minimal reference-counted base for the platform's own objects (streams, storages, bags).
#pragma once

#include <atomic>
#include <type_traits>

#include "unknown.h"

namespace velmora::com {

// Implements IUnknown for an object with one interface I; QueryInterface also answers IUnknown
// and the interfaces I derives from that are listed in Bases.
template <class Self, class I, class... Bases>
class SimpleObject : public I {
    static_assert((std::is_base_of_v<Bases, I> && ...));

public:
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (riid == uuidof<IUnknown>() || riid == uuidof<I>() ||
            ((riid == uuidof<Bases>()) || ...)) {
            *ppv = static_cast<I*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override {
        ULONG n = --refs_;
        if (n == 0)
            delete static_cast<Self*>(this);
        return n;
    }

protected:
    SimpleObject() = default;
    virtual ~SimpleObject() = default;

private:
    std::atomic<ULONG> refs_{1};
};

} // namespace velmora::com
