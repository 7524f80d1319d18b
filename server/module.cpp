// The module's entry points: class objects, lock counting, registration.
#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "effect/velmora.h"
#include "instance.h"
#include "platform/platform.h"
#include "settings/velmora_pp.h"
#ifdef _WIN32
#include "juce/gui_start.h"
#define VELMORA_EXPORT // the module's .def file names the exports
#else
#include "typelib_data.h"
#define VELMORA_EXPORT __attribute__((visibility("default")))
#endif

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

HRESULT RegisterModuleTypeLib() {
#ifdef _WIN32
    // The system loads the library from the module's resource and registers it there.
    wchar_t path[4096];
    if (!GetModuleFileNameW(ModuleInstance(), path, static_cast<DWORD>(std::size(path))))
        return HRESULT_FROM_WIN32(GetLastError());
    com::ComPtr<ITypeLib> lib;
    return LoadTypeLibEx(path, REGKIND_REGISTER, &lib);
#else
    return RegisterTypeLib(kVelmoraTypeLib, ModulePath());
#endif
}

HRESULT UnregisterModuleTypeLib() {
#ifdef _WIN32
    // Never registered: nothing to remove (the system's answer for that varies).
    BSTR path = nullptr;
    if (FAILED(QueryPathOfRegTypeLib(LIBID_VelmoraLib, 1, 0, 0, &path)))
        return S_OK;
    SysFreeString(path);
#ifdef _WIN64
    return UnRegisterTypeLib(LIBID_VelmoraLib, 1, 0, 0, SYS_WIN64);
#else
    return UnRegisterTypeLib(LIBID_VelmoraLib, 1, 0, 0, SYS_WIN32);
#endif
#else
    HRESULT hr = UnRegisterTypeLib(LIBID_VelmoraLib, 1, 0, 0, SYS_WIN32);
    return hr == TYPE_E_LIBNOTREGISTERED ? S_OK : hr; // never registered: nothing to remove
#endif
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

VELMORA_EXPORT BOOL DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        SetModuleInstance(instance);
#ifdef _WIN32
        // The panel's windows belong to this module, not to the program that loaded it.
        SetGuiModuleInstance(instance);
#else // on Windows the type library is the module's TYPELIB resource
        com::AddTypeLibResource(instance, &kVelmoraTypeLib);
#endif
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        ReleaseClassObjects();
        RunTermFuncs();
#ifndef _WIN32
        com::RemoveTypeLibResource(instance);
        win32::RemoveStrings(instance);
#endif
    }
    return TRUE;
}

VELMORA_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
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

VELMORA_EXPORT HRESULT DllCanUnloadNow() {
    return com::g_moduleLockCount.load() == 0 ? S_OK : S_FALSE;
}

VELMORA_EXPORT HRESULT DllRegisterServer() {
    const std::map<std::string, std::string> vars = {{"MODULE", ModulePath()}};
    for (auto& c : g_classes) {
        HRESULT hr = com::ApplyRegistryScript(c.script, true, vars);
        if (FAILED(hr))
            return hr;
        if (c.imageTransform)
            Categories(*c.clsid, true); // not reported, as a missing manager is no reason to fail
    }
    return RegisterModuleTypeLib();
}

VELMORA_EXPORT HRESULT DllUnregisterServer() {
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
    return UnregisterModuleTypeLib();
}

} // extern "C"
