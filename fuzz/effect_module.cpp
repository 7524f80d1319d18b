// The effect alone as a module, for the frei0r fuzz target: DllMain and DllGetClassObject over
// CVelmora, as server/module.cpp has them, without the settings page (whose panel draws with
// JUCE, which the fuzz preset leaves out) and without registration. The frei0r filter loads it
// exactly as it loads libvelmora.so.
#include <atomic>
#include <mutex>
#include <new>

#include "effect/velmora.h"
#include "server/instance.h"
#include "platform/com/atl.h"
#include "platform/win32/module.h"
#include "platform/win32/strings.h"

namespace {

using velmora::com::CComClassFactory;
using velmora::com::CComObjectCached;

HRESULT CreateEffect(IUnknown* outer, REFIID riid, void** ppv) {
    return velmora::com::CComPolyObject<CVelmora>::CreateInstance(outer, riid, ppv);
}

std::mutex g_lock;
std::atomic<IClassFactory*> g_factory{nullptr};

} // namespace

extern "C" {

__attribute__((visibility("default"))) BOOL DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        velmora::SetModuleInstance(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        if (IClassFactory* f = g_factory.exchange(nullptr))
            f->Release();
        velmora::RunTermFuncs();
        velmora::win32::RemoveStrings(instance);
    }
    return TRUE;
}

__attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid,
                                                                 void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (rclsid != CLSID_Velmora)
        return CLASS_E_CLASSNOTAVAILABLE;
    IClassFactory* f = g_factory.load();
    if (!f) {
        std::lock_guard lock(g_lock);
        f = g_factory.load();
        if (!f) {
            auto* made = new (std::nothrow) CComObjectCached<CComClassFactory>(&CreateEffect);
            if (!made)
                return E_OUTOFMEMORY;
            made->AddRef(); // the module's own reference
            g_factory.store(made);
            f = made;
        }
    }
    return f->QueryInterface(riid, ppv);
}

__attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
    return velmora::com::g_moduleLockCount.load() == 0 ? S_OK : S_FALSE;
}

} // extern "C"
