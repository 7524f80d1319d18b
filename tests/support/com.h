// COM helpers for every suite: an interface asked for with a check, the QueryInterface contract
// over a list of interfaces, and an outer object that counts its references, for aggregation.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "platform/system.h"

namespace velmora::test {

using com::ComPtr;

template <class I>
ComPtr<I> Query(IUnknown* unk) {
    ComPtr<I> p;
    EXPECT_EQ(unk->QueryInterface(uuidof<I>(), reinterpret_cast<void**>(&p)), S_OK);
    return p;
}

// Which of iids the object answers. Every answer must lead back to the object's one IUnknown
// and a refusal must clear the out-parameter; the object's count ends where it began.
inline std::vector<bool> Answers(IUnknown* object, std::initializer_list<IID> iids) {
    const auto count = [&] { return object->AddRef(), object->Release(); };
    const ULONG before = count();
    ComPtr<IUnknown> self;
    EXPECT_EQ(object->QueryInterface(IID_PPV_ARGS(&self)), S_OK);
    std::vector<bool> answered;
    for (const IID& iid : iids) {
        void* p = &p;
        const HRESULT hr = object->QueryInterface(iid, &p);
        answered.push_back(hr == S_OK);
        if (hr != S_OK) {
            EXPECT_EQ(hr, E_NOINTERFACE);
            EXPECT_EQ(p, nullptr);
            continue;
        }
        ComPtr<IUnknown> back;
        EXPECT_EQ(static_cast<IUnknown*>(p)->QueryInterface(IID_PPV_ARGS(&back)), S_OK);
        EXPECT_EQ(back.Get(), self.Get()) << com::GuidToString(iid);
        static_cast<IUnknown*>(p)->Release();
    }
    EXPECT_EQ(object->QueryInterface(uuidof<IUnknown>(), nullptr), E_POINTER);
    self.Reset();
    EXPECT_EQ(count(), before);
    return answered;
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
