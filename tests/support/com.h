// COM helpers for every suite: an interface asked for with a check, and an outer object that
// counts its references, for aggregation.
#pragma once

#include <gtest/gtest.h>

#include "platform/system.h"

namespace velmora::test {

using com::ComPtr;

template <class I>
ComPtr<I> Query(IUnknown* unk) {
    ComPtr<I> p;
    EXPECT_EQ(unk->QueryInterface(uuidof<I>(), reinterpret_cast<void**>(&p)), S_OK);
    return p;
}

// Answers IUnknown itself and hands every other interface to its inner object, if it has one.
struct CountingOuter : IUnknown {
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (riid != uuidof<IUnknown>())
            return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
    STDMETHOD_(ULONG, Release)() override { return --refs; }
    ULONG refs = 1;
    IUnknown* inner = nullptr;
};

} // namespace velmora::test
