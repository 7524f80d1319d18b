// The transform factory: the site a host hands a transform. It is a service provider offering
// the surface factory (service id: IDXSurfaceFactory's) and the task manager (CLSID_DXTaskManager);
// there is no DirectDraw or retained-mode object. SetService adds, replaces (null: removes) a
// service; a weak one is held without a reference and must outlive its use.
#include <mutex>
#include <new>
#include <vector>

#include "../com/object.h"
#include "dxtrans.h"

namespace velmora::dxtrans {
namespace {

class TransformFactory final
    : public com::SimpleObject<TransformFactory, IDXTransformFactory, IServiceProvider> {
public:
    ~TransformFactory() override {
        for (Service& s : services_)
            if (!s.weak)
                s.object->Release();
    }

    STDMETHOD(QueryService)(REFGUID guidService, REFIID riid, void** ppvObject) override {
        if (!ppvObject)
            return E_POINTER;
        *ppvObject = nullptr;
        com::ComPtr<IUnknown> service;
        {
            std::lock_guard lock(m_);
            for (const Service& s : services_)
                if (s.id == guidService)
                    service = s.object;
        }
        if (!service)
            return E_NOINTERFACE;
        return service->QueryInterface(riid, ppvObject);
    }

    STDMETHOD(SetService)
    (REFGUID guidService, IUnknown* pUnkService, BOOL bWeakReference) override {
        const bool weak = bWeakReference != FALSE;
        Service old{};
        {
            std::lock_guard lock(m_);
            auto it = services_.begin();
            while (it != services_.end() && !(it->id == guidService))
                ++it;
            if (it == services_.end() && pUnkService) {
                try {
                    services_.push_back({guidService, nullptr, true});
                } catch (const std::bad_alloc&) {
                    return E_OUTOFMEMORY;
                }
                it = services_.end() - 1;
            }
            if (it != services_.end()) {
                old = *it;
                if (pUnkService) {
                    if (!weak)
                        pUnkService->AddRef();
                    *it = {guidService, pUnkService, weak};
                } else {
                    services_.erase(it);
                }
            }
        }
        if (old.object && !old.weak)
            old.object->Release(); // outside the lock: it may call back
        return S_OK;
    }

private:
    struct Service {
        GUID id;
        IUnknown* object;
        bool weak;
    };

    std::mutex m_;
    std::vector<Service> services_;
};

} // namespace
} // namespace velmora::dxtrans

HRESULT DXCreateTransformFactory(ULONG processors, IDXTransformFactory** ppFactory) {
    using velmora::com::ComPtr;
    if (!ppFactory)
        return E_POINTER;
    *ppFactory = nullptr;
    ComPtr<IDXSurfaceFactory> surfaces;
    if (HRESULT hr = DXCreateSurfaceFactory(&surfaces); FAILED(hr))
        return hr;
    ComPtr<IDXTaskManager> tasks;
    if (HRESULT hr = DXCreateTaskManager(processors, &tasks); FAILED(hr))
        return hr;
    ComPtr<IDXTransformFactory> factory;
    factory.Attach(new (std::nothrow) velmora::dxtrans::TransformFactory);
    if (!factory)
        return E_OUTOFMEMORY;
    HRESULT hr = factory->SetService(uuidof<IDXSurfaceFactory>(), surfaces.Get(), FALSE);
    if (SUCCEEDED(hr))
        hr = factory->SetService(CLSID_DXTaskManager, tasks.Get(), FALSE);
    if (FAILED(hr))
        return hr;
    *ppFactory = factory.Detach();
    return S_OK;
}
