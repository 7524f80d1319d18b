// The storage and property-bag persistence pieces an effect object composes. Both come down to
// the object's IPersistStreamInit (storage) or its property map (bag).
#pragma once

#include "platform/platform.h"

constexpr const OLECHAR* kContentsStream = L"Contents";

// T supplies static GetObjectCLSID(). The record travels as the stream "Contents".
template <class T>
class IPersistStorageImpl : public IPersistStorage {
public:
    STDMETHOD(GetClassID)(CLSID* clsid) override {
        if (!clsid)
            return E_POINTER;
        *clsid = T::GetObjectCLSID();
        return S_OK;
    }

    STDMETHOD(IsDirty)() override {
        return WithStreamPersist([](IPersistStreamInit* p) { return p->IsDirty(); });
    }

    STDMETHOD(InitNew)(IStorage*) override {
        return WithStreamPersist([](IPersistStreamInit* p) { return p->InitNew(); });
    }

    STDMETHOD(Load)(IStorage* storage) override {
        if (!storage)
            return E_INVALIDARG;
        return WithStreamPersist([storage](IPersistStreamInit* p) {
            IStream* stream = nullptr;
            HRESULT hr = storage->OpenStream(kContentsStream, nullptr,
                                             STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream);
            if (FAILED(hr))
                return hr;
            if (!stream) // a storage that claims success without a stream
                return STG_E_FILENOTFOUND;
            hr = p->Load(stream);
            stream->Release();
            return hr;
        });
    }

    STDMETHOD(Save)(IStorage* storage, BOOL sameAsLoad) override {
        if (!storage)
            return E_INVALIDARG;
        return WithStreamPersist([storage, sameAsLoad](IPersistStreamInit* p) {
            IStream* stream = nullptr;
            HRESULT hr = storage->CreateStream(kContentsStream,
                                               STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE,
                                               0, 0, &stream);
            if (FAILED(hr))
                return hr;
            if (!stream)
                return STG_E_CANTSAVE;
            hr = p->Save(stream, sameAsLoad);
            stream->Release();
            return hr;
        });
    }

    STDMETHOD(SaveCompleted)(IStorage*) override { return S_OK; }
    STDMETHOD(HandsOffStorage)() override { return S_OK; }

private:
    // Runs f on the object's own IPersistStreamInit; E_FAIL if it has none.
    template <class F>
    HRESULT WithStreamPersist(F f) {
        IPersistStreamInit* p = nullptr;
        if (FAILED(
                this->QueryInterface(uuidof<IPersistStreamInit>(), reinterpret_cast<void**>(&p))) ||
            !p)
            return E_FAIL;
        HRESULT hr = f(p);
        p->Release();
        return hr;
    }
};

// T supplies static GetPropertyMap() and the property-bag save flag m_bRequiresSave.
template <class T>
class IPersistPropertyBagImpl : public IPersistPropertyBag {
public:
    STDMETHOD(GetClassID)(CLSID* clsid) override {
        if (!clsid)
            return E_POINTER;
        *clsid = T::GetObjectCLSID();
        return S_OK;
    }

    STDMETHOD(InitNew)() override {
        Self()->m_bRequiresSave = 1;
        return S_OK;
    }

    STDMETHOD(Load)(IPropertyBag* bag, IErrorLog* log) override {
        HRESULT hr = velmora::com::LoadPropertyMap(bag, log, T::GetPropertyMap(), Self());
        if (SUCCEEDED(hr))
            Self()->m_bRequiresSave = 0;
        return hr;
    }

    STDMETHOD(Save)(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override {
        HRESULT hr =
            velmora::com::SavePropertyMap(bag, clearDirty, saveAll, T::GetPropertyMap(), Self());
        if (SUCCEEDED(hr) && clearDirty)
            Self()->m_bRequiresSave = 0;
        return hr;
    }

private:
    T* Self() { return static_cast<T*>(this); }
};
