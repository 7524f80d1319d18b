// Shared by the server suites: the module loaded by path, and a registry file of the test's own.
#pragma once

#include "platform/com/activation.h"
#include "platform/win32/module.h"
#include "../support/temp_registry.h"

struct Module {
    HMODULE handle = LoadLibraryA(VELMORA_MODULE_PATH);
    ~Module() { FreeLibrary(handle); }
    template <class F>
    F Get(const char* name) {
        return reinterpret_cast<F>(GetProcAddress(handle, name));
    }
    HRESULT CanUnload() { return Get<HRESULT (*)()>("DllCanUnloadNow")(); }
    HRESULT ClassObject(REFCLSID clsid, IClassFactory** out) {
        return Get<HRESULT (*)(REFCLSID, REFIID, void**)>("DllGetClassObject")(
            clsid, uuidof<IClassFactory>(), reinterpret_cast<void**>(out));
    }
    HRESULT Register() { return Get<HRESULT (*)()>("DllRegisterServer")(); }
    HRESULT Unregister() { return Get<HRESULT (*)()>("DllUnregisterServer")(); }
};
