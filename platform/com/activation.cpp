#include "activation.h"

#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "../win32/module.h"
#include "object.h"
#include "registry.h"

namespace velmora::com {
namespace {

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const {
        return std::memcmp(&a, &b, sizeof a) < 0;
    }
};

using Creator = std::function<HRESULT(IUnknown*, REFIID, void**)>;

struct Activation {
    std::mutex mutex;
    std::map<CLSID, Creator, GuidLess> platformClasses;
    struct Server {
        HMODULE module = nullptr;
        int calling = 0; // CoGetClassObject calls inside the module's DllGetClassObject now
    };
    std::map<std::string, Server> servers; // modules loaded for classes, by path
};

Activation& TheActivation() {
    static Activation* a = new Activation;
    return *a;
}

// The class factory of a platform class.
class PlatformFactory final : public SimpleObject<PlatformFactory, IClassFactory> {
public:
    explicit PlatformFactory(Creator create) : create_(std::move(create)) {}
    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        return create_(outer, riid, ppv);
    }
    STDMETHOD(LockServer)(BOOL) override { return S_OK; }

private:
    Creator create_;
};

std::string Narrow(LPCOLESTR s) {
    std::string out;
    for (; s && *s; ++s)
        out.push_back(*s < 0x80 ? static_cast<char>(*s) : '?');
    return out;
}

} // namespace

void RegisterPlatformClass(REFCLSID clsid, Creator create) {
    Activation& a = TheActivation();
    std::lock_guard lock(a.mutex);
    a.platformClasses[clsid] = std::move(create);
}

} // namespace velmora::com

using namespace velmora::com;

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void*, REFIID riid, void** ppv) {
    if (!ppv)
        return E_INVALIDARG;
    *ppv = nullptr;
    if (!(dwClsContext & CLSCTX_INPROC))
        return REGDB_E_CLASSNOTREG; // only in-process servers exist here
    Activation& a = TheActivation();
    {
        std::lock_guard lock(a.mutex);
        auto it = a.platformClasses.find(rclsid);
        if (it != a.platformClasses.end()) {
            auto* factory = new (std::nothrow) PlatformFactory(it->second);
            if (!factory)
                return E_OUTOFMEMORY;
            HRESULT hr = factory->QueryInterface(riid, ppv);
            factory->Release();
            return hr;
        }
    }
    std::string path;
    if (!velmora::registry::ReadString(
            HKEY_CLASSES_ROOT, "CLSID\\" + GuidToString(rclsid) + "\\InprocServer32", "", &path) ||
        path.empty())
        return REGDB_E_CLASSNOTREG;

    HMODULE module;
    {
        // Loaded once per path and kept until CoFreeUnusedLibraries finds it idle. Until the
        // module has answered, it counts as in use: its DllCanUnloadNow cannot yet know of the
        // class object it is about to hand out, and unloading it now would fail this call.
        std::lock_guard lock(a.mutex);
        auto it = a.servers.find(path);
        if (it == a.servers.end()) {
            HMODULE loaded = LoadLibraryA(path.c_str());
            if (!loaded)
                return CO_E_DLLNOTFOUND;
            it = a.servers.emplace(path, Activation::Server{loaded, 0}).first;
        }
        module = it->second.module;
        ++it->second.calling;
    }
    auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(module, "DllGetClassObject"));
    HRESULT hr = get ? get(rclsid, riid, ppv) : CO_E_ERRORINDLL;
    {
        std::lock_guard lock(a.mutex);
        --a.servers[path].calling; // never erased while calling
    }
    return hr;
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter && riid != uuidof<IUnknown>())
        return CLASS_E_NOAGGREGATION;
    ComPtr<IClassFactory> factory;
    HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, uuidof<IClassFactory>(),
                                  reinterpret_cast<void**>(&factory));
    if (FAILED(hr))
        return hr;
    return factory->CreateInstance(pUnkOuter, riid, ppv);
}

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid) {
    if (!lpszProgID || !lpclsid)
        return E_INVALIDARG;
    std::string progId = Narrow(lpszProgID);
    // A version-independent ProgID may name its current version instead of a CLSID.
    for (int depth = 0; depth < 8 && !progId.empty(); ++depth) {
        std::string text;
        if (velmora::registry::ReadString(HKEY_CLASSES_ROOT, progId + "\\CLSID", "", &text))
            return GuidFromString(text.c_str(), lpclsid);
        std::string next;
        if (!velmora::registry::ReadString(HKEY_CLASSES_ROOT, progId + "\\CurVer", "", &next) ||
            next == progId)
            break;
        progId = next;
    }
    return CO_E_CLASSSTRING;
}

void CoFreeUnusedLibraries() {
    Activation& a = TheActivation();
    std::vector<HMODULE> idle;
    {
        std::lock_guard lock(a.mutex);
        for (auto it = a.servers.begin(); it != a.servers.end();) {
            auto canUnload = reinterpret_cast<LPFNCANUNLOADNOW>(
                GetProcAddress(it->second.module, "DllCanUnloadNow"));
            if (it->second.calling == 0 && canUnload && canUnload() == S_OK) {
                idle.push_back(it->second.module);
                it = a.servers.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (HMODULE m : idle)
        FreeLibrary(m);
}
