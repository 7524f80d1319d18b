// The module's entry points: class objects, lock counting, registration.
#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "effect/velmora.h"
#include "instance.h"
#include "platform/platform.h"
#include "settings/velmora_pp.h"
#include "typelib_data.h"

extern const char kEffectRegistryScript[];
extern const char kPageRegistryScript[];

namespace velmora {
namespace {

using com::CComClassFactory;
using com::CComObjectCached;

HRESULT CreateEffect(IUnknown* outer, REFIID riid, void** ppv) {
    return com::CComPolyObject<CVelmora>::CreateInstance(outer, riid, ppv);
}

struct ClassEntry {
    const CLSID* clsid;
    CComClassFactory::Creator create;
    const char* script;
    bool imageTransform; // registered in the image-transform category
    std::atomic<IClassFactory*> classObject{nullptr};
};

ClassEntry g_classes[] = {
    {&CLSID_Velmora, &CreateEffect, kEffectRegistryScript, true},
    {&CLSID_VelmoraPP, &CreateSettingsPage, kPageRegistryScript, false},
};

std::mutex g_classObjectLock; // serialises the first creation of each class object

std::string ModulePath() {
    char path[4096];
    return GetModuleFileNameA(ModuleInstance(), path, sizeof path) ? path : "";
}

HRESULT Categories(const CLSID& clsid, bool add) {
    com::ComPtr<ICatRegister> cats;
    HRESULT hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                  uuidof<ICatRegister>(), reinterpret_cast<void**>(&cats));
    if (FAILED(hr))
        return hr;
    CATID catid = CATID_DXImageTransform;
    return add ? cats->RegisterClassImplCategories(clsid, 1, &catid)
               : cats->UnRegisterClassImplCategories(clsid, 1, &catid);
}

void ReleaseClassObjects() {
    for (auto& c : g_classes)
        if (IClassFactory* f = c.classObject.exchange(nullptr))
            f->Release();
}

} // namespace
} // namespace velmora

using namespace velmora;

extern "C" {

__attribute__((visibility("default"))) BOOL DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        SetModuleInstance(instance);
        com::AddTypeLibResource(instance, &kVelmoraTypeLib);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        ReleaseClassObjects();
        RunTermFuncs();
        com::RemoveTypeLibResource(instance);
        win32::RemoveStrings(instance);
    }
    return TRUE;
}

__attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid,
                                                                 void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    for (auto& c : g_classes) {
        if (*c.clsid != rclsid)
            continue;
        IClassFactory* f = c.classObject.load();
        if (!f) {
            std::lock_guard lock(g_classObjectLock);
            f = c.classObject.load();
            if (!f) {
                auto* made = new (std::nothrow) CComObjectCached<CComClassFactory>(c.create);
                if (!made)
                    return E_OUTOFMEMORY;
                made->AddRef(); // the table's own reference
                c.classObject.store(made);
                f = made;
            }
        }
        return f->QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

__attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
    return com::g_moduleLockCount.load() == 0 ? S_OK : S_FALSE;
}

__attribute__((visibility("default"))) HRESULT DllRegisterServer() {
    const std::map<std::string, std::string> vars = {{"MODULE", ModulePath()}};
    for (auto& c : g_classes) {
        HRESULT hr = com::ApplyRegistryScript(c.script, true, vars);
        if (FAILED(hr))
            return hr;
        if (c.imageTransform)
            Categories(*c.clsid, true); // not reported, as a missing manager is no reason to fail
    }
    return RegisterTypeLib(kVelmoraTypeLib, ModulePath());
}

__attribute__((visibility("default"))) HRESULT DllUnregisterServer() {
    const std::map<std::string, std::string> vars = {{"MODULE", ModulePath()}};
    for (auto& c : g_classes) {
        if (c.imageTransform) {
            Categories(*c.clsid, false);
            com::ApplyRegistryScript(c.script, false, vars); // the effect's step always succeeds
            continue;
        }
        HRESULT hr = com::ApplyRegistryScript(c.script, false, vars);
        if (FAILED(hr))
            return hr;
    }
    HRESULT hr = UnRegisterTypeLib(LIBID_VelmoraLib, 1, 0, 0, SYS_WIN32);
    return hr == TYPE_E_LIBNOTREGISTERED ? S_OK : hr; // never registered: nothing to remove
}

} // extern "C"
