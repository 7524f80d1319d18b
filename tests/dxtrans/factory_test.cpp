// The transform factory as a site: its interfaces, its services and their replacement.
#include <gtest/gtest.h>

#include <atomic>

#include "helpers.h"

using namespace dxtest;

namespace {

// A stand-in task manager that counts its references and cannot schedule.
struct FailingTaskManager : IDXTaskManager {
    std::atomic<ULONG> refs{1};
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        *ppv = riid == uuidof<IUnknown>() || riid == uuidof<IDXTaskManager>() ? this : nullptr;
        return *ppv ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
    STDMETHOD_(ULONG, Release)() override { return --refs; }
    STDMETHOD(QueryNumProcessors)(ULONG*) override { return E_NOTIMPL; }
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

TEST(TransformFactory, OffersTheSurfaceFactoryAndTheTaskManager) {
    EXPECT_EQ(DXCreateTransformFactory(2, nullptr), E_POINTER);
    for (ULONG processors : {1u, 4u}) {
        ComPtr<IDXTransformFactory> f;
        ASSERT_EQ(DXCreateTransformFactory(processors, &f), S_OK);
        ComPtr<IServiceProvider> sp;
        ComPtr<IUnknown> u1, u2;
        EXPECT_EQ(f->QueryInterface(IID_PPV_ARGS(&sp)), S_OK);
        f->QueryInterface(IID_PPV_ARGS(&u1));
        sp->QueryInterface(IID_PPV_ARGS(&u2));
        EXPECT_EQ(u1.Get(), u2.Get());

        ComPtr<IDXSurfaceFactory> sf;
        EXPECT_EQ(sp->QueryService(uuidof<IDXSurfaceFactory>(), IID_PPV_ARGS(&sf)), S_OK);
        GUID id = DXFMT_PMARGB32;
        DXBNDS b = Bounds(0, 0, 2, 2);
        ComPtr<IDXSurface> s;
        EXPECT_EQ(sf->CreateSurface(nullptr, nullptr, &id, &b, 0, nullptr, IID_PPV_ARGS(&s)), S_OK);
        ComPtr<IDXTaskManager> tm, again;
        EXPECT_EQ(f->QueryService(CLSID_DXTaskManager, IID_PPV_ARGS(&tm)), S_OK);
        EXPECT_EQ(f->QueryService(CLSID_DXTaskManager, IID_PPV_ARGS(&again)), S_OK);
        EXPECT_EQ(again.Get(), tm.Get()); // one manager for everyone on the site
        ULONG n = 0;
        tm->QueryNumProcessors(&n);
        EXPECT_EQ(n, processors);

        for (const GUID& missing : {SID_SDirectDraw, SID_SDirect3DRM}) {
            void* out = &out;
            EXPECT_EQ(f->QueryService(missing, uuidof<IUnknown>(), &out), E_NOINTERFACE);
            EXPECT_EQ(out, nullptr);
        }
        void* out = &out;
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
        EXPECT_EQ(failing.refs, 2u);
        ComPtr<IDXTaskManager> tm;
        EXPECT_EQ(f->QueryService(CLSID_DXTaskManager, IID_PPV_ARGS(&tm)), S_OK);
        EXPECT_EQ(tm->ScheduleTasks(nullptr, nullptr, nullptr, 0, INFINITE), E_OUTOFMEMORY);
        tm.Reset();
        EXPECT_EQ(f->SetService(CLSID_DXTaskManager, nullptr, FALSE), S_OK); // removed, released
        EXPECT_EQ(failing.refs, 1u);
        EXPECT_EQ(f->QueryService(CLSID_DXTaskManager, IID_PPV_ARGS(&tm)), E_NOINTERFACE);
        // Weakly held: no reference taken; then replaced by a strong one.
        EXPECT_EQ(f->SetService(SID_SDirectDraw, &failing, TRUE), S_OK);
        EXPECT_EQ(failing.refs, 1u);
        ComPtr<IUnknown> dd;
        EXPECT_EQ(f->QueryService(SID_SDirectDraw, IID_PPV_ARGS(&dd)), S_OK);
        dd.Reset();
        EXPECT_EQ(f->SetService(SID_SDirectDraw, &failing, FALSE), S_OK);
        EXPECT_EQ(failing.refs, 2u);
    }
    EXPECT_EQ(failing.refs, 1u); // the factory's end released it
}
