// The transform factory as a site: its interfaces, its services and their replacement.
#include <gtest/gtest.h>

#include <atomic>

#include "helpers.h"

using namespace dxtest;

namespace {

// A stand-in task manager that counts its references and fails to schedule.
class FailingTaskManager : public IDXTaskManager {
public:
    std::atomic<ULONG> refs{1};
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (riid == uuidof<IUnknown>() || riid == uuidof<IDXTaskManager>()) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
    STDMETHOD_(ULONG, Release)() override { return --refs; }
    STDMETHOD(QueryNumProcessors)(ULONG* n) override {
        *n = 3;
        return S_OK;
    }
    STDMETHOD(SetThreadPoolSize)(ULONG) override { return E_NOTIMPL; }
    STDMETHOD(GetThreadPoolSize)(ULONG*) override { return E_NOTIMPL; }
    STDMETHOD(SetConcurrencyLimit)(ULONG) override { return E_NOTIMPL; }
    STDMETHOD(GetConcurrencyLimit)(ULONG*) override { return E_NOTIMPL; }
    STDMETHOD(ScheduleTasks)(DXTMTASKINFO*, HANDLE*, DWORD*, ULONG, ULONG) override {
        return E_OUTOFMEMORY;
    }
    STDMETHOD(TerminateTasks)(DWORD*, ULONG, ULONG) override { return E_NOTIMPL; }
    STDMETHOD(TerminateRequest)(REFIID, ULONG) override { return E_NOTIMPL; }
};

} // namespace

TEST(TransformFactory, IsAServiceProvider) {
    EXPECT_EQ(DXCreateTransformFactory(2, nullptr), E_POINTER);
    ComPtr<IDXTransformFactory> f;
    ASSERT_EQ(DXCreateTransformFactory(2, &f), S_OK);
    ComPtr<IServiceProvider> sp;
    ComPtr<IUnknown> u1, u2;
    EXPECT_EQ(f->QueryInterface(IID_PPV_ARGS(&sp)), S_OK);
    EXPECT_EQ(f->QueryInterface(IID_PPV_ARGS(&u1)), S_OK);
    EXPECT_EQ(sp->QueryInterface(IID_PPV_ARGS(&u2)), S_OK);
    EXPECT_EQ(u1.Get(), u2.Get());
    ComPtr<IDXSurface> none;
    EXPECT_EQ(f->QueryInterface(IID_PPV_ARGS(&none)), E_NOINTERFACE);
}

TEST(TransformFactory, OffersTheSurfaceFactoryAndTheTaskManager) {
    for (ULONG processors : {1u, 4u}) {
        ComPtr<IDXTransformFactory> f;
        ASSERT_EQ(DXCreateTransformFactory(processors, &f), S_OK);
        ComPtr<IDXSurfaceFactory> sf;
        EXPECT_EQ(f->QueryService(uuidof<IDXSurfaceFactory>(), IID_PPV_ARGS(&sf)), S_OK);
        ASSERT_TRUE(sf);
        GUID id = DXFMT_PMARGB32;
        DXBNDS b = Bounds(0, 0, 2, 2);
        ComPtr<IDXSurface> s;
        EXPECT_EQ(sf->CreateSurface(nullptr, nullptr, &id, &b, 0, nullptr, IID_PPV_ARGS(&s)), S_OK);

        ComPtr<IDXTaskManager> tm, again;
        EXPECT_EQ(f->QueryService(CLSID_DXTaskManager, IID_PPV_ARGS(&tm)), S_OK);
        ASSERT_TRUE(tm);
        ULONG n = 0;
        tm->QueryNumProcessors(&n);
        EXPECT_EQ(n, processors);
        EXPECT_EQ(f->QueryService(CLSID_DXTaskManager, IID_PPV_ARGS(&again)), S_OK);
        EXPECT_EQ(again.Get(), tm.Get()); // one manager shared by everyone on the site
        ComPtr<IUnknown> unk;
        EXPECT_EQ(f->QueryService(CLSID_DXTaskManager, IID_PPV_ARGS(&unk)), S_OK);
        EXPECT_TRUE(unk);

        // What is not there.
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(f->QueryService(SID_SDirectDraw, uuidof<IUnknown>(), &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
        out = reinterpret_cast<void*>(1);
        EXPECT_EQ(f->QueryService(SID_SDirect3DRM, uuidof<IUnknown>(), &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
        out = reinterpret_cast<void*>(1);
        EXPECT_EQ(f->QueryService(CLSID_DXTaskManager, uuidof<IDXSurface>(), &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(f->QueryService(CLSID_DXTaskManager, uuidof<IUnknown>(), nullptr), E_POINTER);
    }
}

TEST(TransformFactory, SetServiceReplacesAddsAndRemoves) {
    FailingTaskManager failing;
    {
        ComPtr<IDXTransformFactory> f;
        ASSERT_EQ(DXCreateTransformFactory(1, &f), S_OK);
        EXPECT_EQ(f->SetService(CLSID_DXTaskManager, &failing, FALSE), S_OK);
        EXPECT_EQ(failing.refs, 2u); // held by the factory
        ComPtr<IDXTaskManager> tm;
        EXPECT_EQ(f->QueryService(CLSID_DXTaskManager, IID_PPV_ARGS(&tm)), S_OK);
        EXPECT_EQ(tm.Get(), &failing);
        EXPECT_EQ(tm->ScheduleTasks(nullptr, nullptr, nullptr, 0, INFINITE), E_OUTOFMEMORY);
        tm.Reset();

        // Removing it releases it; then the service is gone.
        EXPECT_EQ(f->SetService(CLSID_DXTaskManager, nullptr, FALSE), S_OK);
        EXPECT_EQ(failing.refs, 1u);
        EXPECT_EQ(f->QueryService(CLSID_DXTaskManager, IID_PPV_ARGS(&tm)), E_NOINTERFACE);
        EXPECT_EQ(f->SetService(CLSID_DXTaskManager, nullptr, FALSE), S_OK); // nothing to remove

        // A new service, weakly held: no reference taken, none released.
        EXPECT_EQ(f->SetService(SID_SDirectDraw, &failing, TRUE), S_OK);
        EXPECT_EQ(failing.refs, 1u);
        ComPtr<IUnknown> dd;
        EXPECT_EQ(f->QueryService(SID_SDirectDraw, IID_PPV_ARGS(&dd)), S_OK);
        dd.Reset();
        // Replaced by a strong one, which the factory's end releases.
        EXPECT_EQ(f->SetService(SID_SDirectDraw, &failing, FALSE), S_OK);
        EXPECT_EQ(failing.refs, 2u);
    }
    EXPECT_EQ(failing.refs, 1u);
}
