// Shared doubles for the transform and effect suites: a surface that wraps a real one and can
// misreport or fail on cue, a task manager that can fail, and helpers for sites and surfaces.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <vector>

#include "platform/com/object.h"
#include "platform/com/memory.h"
#include "platform/dxtrans/dxtransform.h"
#include "transform/dxbase.h"
#include "../support/com.h"
#include "../support/surface.h"

namespace velmora::test {

inline ComPtr<IDXTransformFactory> MakeSite(ULONG processors) {
    ComPtr<IDXTransformFactory> f;
    EXPECT_EQ(DXCreateTransformFactory(processors, &f), S_OK);
    return f;
}

inline DXVEC Placement(LONG x, LONG y) {
    DXVEC at{};
    at.eType = DXBT_DISCRETE;
    at.u.D[DXB_X] = x;
    at.u.D[DXB_Y] = y;
    return at;
}

// A lock pointer that gives nothing; for surfaces whose locks never reach real memory.
class NullPointer final
    : public com::SimpleObject<NullPointer, IDXARGBReadWritePtr, IDXARGBReadPtr> {
public:
    STDMETHOD(GetSurface)(REFIID, void**) override { return E_NOTIMPL; }
    STDMETHOD_(DXSAMPLEFORMATENUM, GetNativeType)(DXNATIVETYPEINFO* info) override {
        *info = {};
        return DXPF_RGB24;
    }
    STDMETHOD_(void, Move)(LONG) override {}
    STDMETHOD_(void, MoveToRow)(ULONG) override {}
    STDMETHOD_(void, MoveToXY)(ULONG, ULONG) override {}
    STDMETHOD_(ULONG, MoveAndGetRunInfo)(ULONG, const DXRUNINFO** info) override {
        *info = nullptr;
        return 0;
    }
    STDMETHOD_(DXSAMPLE*, Unpack)(DXSAMPLE* p, ULONG, BOOL) override { return p; }
    STDMETHOD_(DXPMSAMPLE*, UnpackPremult)(DXPMSAMPLE* p, ULONG, BOOL) override { return p; }
    STDMETHOD_(void, UnpackRect)(const DXPACKEDRECTDESC*) override { ++unpacks; }
    STDMETHOD_(void, PackAndMove)(const DXSAMPLE*, ULONG) override {}
    STDMETHOD_(void, PackPremultAndMove)(const DXPMSAMPLE*, ULONG) override {}
    STDMETHOD_(void, PackRect)(const DXPACKEDRECTDESC*) override {}
    STDMETHOD_(void, CopyAndMoveBoth)(DXBASESAMPLE*, IDXARGBReadPtr*, ULONG, BOOL) override {}
    STDMETHOD_(void, CopyRect)
    (DXBASESAMPLE*, const RECT*, IDXARGBReadPtr*, const POINT*, BOOL) override {}
    STDMETHOD_(void, FillAndMove)(DXBASESAMPLE*, DXPMSAMPLE, ULONG, BOOL) override {}
    STDMETHOD_(void, FillRect)(const RECT*, DXPMSAMPLE, BOOL) override {}
    STDMETHOD_(void, OverSample)(const DXOVERSAMPLEDESC*) override {}
    STDMETHOD_(void, OverArrayAndMove)(DXBASESAMPLE*, const DXPMSAMPLE*, ULONG) override {}
    inline static std::atomic<int> unpacks{0};
};

// A real task manager of four threads that can report a processor count of its own, and whose
// ScheduleTasks can fail: at once, or after running the first runFirst tasks itself.
class WrappedTaskManager final : public com::SimpleObject<WrappedTaskManager, IDXTaskManager> {
public:
    WrappedTaskManager() { EXPECT_EQ(DXCreateTaskManager(4, &real_), S_OK); }
    STDMETHOD(QueryNumProcessors)(ULONG* n) override {
        if (!processors)
            return real_->QueryNumProcessors(n);
        *n = *processors;
        return S_OK;
    }
    STDMETHOD(SetThreadPoolSize)(ULONG n) override { return real_->SetThreadPoolSize(n); }
    STDMETHOD(GetThreadPoolSize)(ULONG* n) override { return real_->GetThreadPoolSize(n); }
    STDMETHOD(SetConcurrencyLimit)(ULONG n) override { return real_->SetConcurrencyLimit(n); }
    STDMETHOD(GetConcurrencyLimit)(ULONG* n) override { return real_->GetConcurrencyLimit(n); }
    STDMETHOD(ScheduleTasks)
    (DXTMTASKINFO t[], HANDLE e[], DWORD ids[], ULONG n, ULONG wait) override {
        ++scheduled;
        if (SUCCEEDED(failWith))
            return real_->ScheduleTasks(t, e, ids, n, wait);
        for (ULONG i = 0; i < std::min(runFirst, n); ++i) {
            BOOL keepGoing = TRUE;
            t[i].pfnTaskProc(t[i].pTaskData, &keepGoing);
            if (e && e[i])
                SetEvent(e[i]);
        }
        return failWith;
    }
    STDMETHOD(TerminateTasks)(DWORD ids[], ULONG n, ULONG timeout) override {
        return real_->TerminateTasks(ids, n, timeout);
    }
    STDMETHOD(TerminateRequest)(REFIID id, ULONG timeout) override {
        return real_->TerminateRequest(id, timeout);
    }

    std::optional<ULONG> processors;
    HRESULT failWith = S_OK;
    ULONG runFirst = 0;
    int scheduled = 0;

private:
    ComPtr<IDXTaskManager> real_;
};

// Wraps a real surface; its generation id, bounds, format and lock result can be set by a test.
class FakeSurface final : public com::SimpleObject<FakeSurface, IDXSurface, IDXBaseObject> {
public:
    explicit FakeSurface(ComPtr<IDXSurface> inner) : inner_(std::move(inner)) {}

    STDMETHOD(GetGenerationId)(ULONG* id) override {
        *id = generation;
        return S_OK;
    }
    STDMETHOD(IncrementGenerationId)(BOOL) override {
        ++generation;
        return S_OK;
    }
    STDMETHOD(GetObjectSize)(ULONG* size) override { return inner_->GetObjectSize(size); }
    STDMETHOD(GetPixelFormat)(GUID* id, DXSAMPLEFORMATENUM* format) override {
        if (formatOverride && format) {
            *format = *formatOverride;
            return S_OK;
        }
        return inner_->GetPixelFormat(id, format);
    }
    STDMETHOD(GetBounds)(DXBNDS* b) override {
        if (boundsOverride) {
            *b = *boundsOverride;
            return S_OK;
        }
        return inner_->GetBounds(b);
    }
    STDMETHOD(GetStatusFlags)(DWORD* f) override { return inner_->GetStatusFlags(f); }
    STDMETHOD(SetStatusFlags)(DWORD f) override { return inner_->SetStatusFlags(f); }
    STDMETHOD(LockSurface)
    (const DXBNDS* b, ULONG timeout, DWORD flags, REFIID riid, void** pp, ULONG* gen) override {
        const int call = locks++;
        if (FAILED(lockResult) && (failLockAt < 0 || call == failLockAt))
            return lockResult;
        if (nullLocks) {
            *pp = static_cast<IDXARGBReadWritePtr*>(new NullPointer);
            return S_OK;
        }
        return inner_->LockSurface(b, timeout, flags, riid, pp, gen);
    }

    ULONG generation = 5;
    HRESULT lockResult = S_OK;       // fails every lock, or only call failLockAt
    std::atomic<int> failLockAt{-1}; // counted as locks counts
    const DXBNDS* boundsOverride = nullptr;
    const DXSAMPLEFORMATENUM* formatOverride = nullptr;
    bool nullLocks = false;
    std::atomic<int> locks{0};

private:
    ComPtr<IDXSurface> inner_;
};

} // namespace velmora::test
