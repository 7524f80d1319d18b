#include "objidl.h"

#include <cstdlib>
#include <malloc.h>

namespace {

// The process's one task allocator; it owns no state beyond the C heap.
class TaskAllocator final : public IMalloc {
public:
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (riid == uuidof<IUnknown>() || riid == uuidof<IMalloc>()) {
            *ppv = static_cast<IMalloc*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return 1; }
    STDMETHOD_(ULONG, Release)() override { return 1; }
    STDMETHOD_(void*, Alloc)(SIZE_T cb) override { return std::malloc(cb ? cb : 1); }
    STDMETHOD_(void*, Realloc)(void* pv, SIZE_T cb) override {
        if (cb == 0) {
            std::free(pv);
            return nullptr;
        }
        return std::realloc(pv, cb);
    }
    STDMETHOD_(void, Free)(void* pv) override { std::free(pv); }
    STDMETHOD_(SIZE_T, GetSize)(void* pv) override {
        return pv ? malloc_usable_size(pv) : static_cast<SIZE_T>(-1);
    }
    STDMETHOD_(int, DidAlloc)(void* pv) override { return pv ? -1 : 0; }
    STDMETHOD_(void, HeapMinimize)() override {}
};

TaskAllocator g_allocator;

} // namespace

void* CoTaskMemAlloc(SIZE_T cb) {
    return g_allocator.Alloc(cb);
}
void* CoTaskMemRealloc(void* pv, SIZE_T cb) {
    return g_allocator.Realloc(pv, cb);
}
void CoTaskMemFree(void* pv) {
    g_allocator.Free(pv);
}

HRESULT CoGetMalloc(DWORD dwMemContext, IMalloc** ppMalloc) {
    if (!ppMalloc)
        return E_POINTER;
    *ppMalloc = nullptr;
    if (dwMemContext != 1) // MEMCTX_TASK is the only context there is
        return E_INVALIDARG;
    *ppMalloc = &g_allocator;
    return S_OK;
}
