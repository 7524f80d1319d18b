// Shared by the server suites: a registry file of the test's own, and the module loaded by path.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/com/activation.h"
#include "platform/win32/module.h"

// Named by VELMORA_REGISTRY while it lives.
class TempRegistry {
public:
    TempRegistry() {
        dir_ = std::filesystem::temp_directory_path() /
               ("velmora-reg-" + std::to_string(::getpid()) + "-" + std::to_string(++counter_));
        std::filesystem::create_directories(dir_);
        setenv("VELMORA_REGISTRY", (dir_ / "registry.reg").c_str(), 1);
    }
    ~TempRegistry() {
        unsetenv("VELMORA_REGISTRY");
        std::filesystem::remove_all(dir_);
    }

private:
    inline static int counter_ = 0;
    std::filesystem::path dir_;
};

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
