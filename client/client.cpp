#include "client.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/system.h"

using velmora::com::ComPtr;

namespace velmora::client {
namespace {

// A registry file that does not parse is never written again: the user has to mend it.
std::string RegistryRecovery() {
    return " (mend that line, or move the file away and run 'velmora register' to start anew)";
}

#ifdef _WIN32
constexpr const char* kModuleName = "velmora.dll";
#else
constexpr const char* kModuleName = "libvelmora.so";
#endif

// The module the registry names for the effect; empty if none.
std::string RegisteredServer() {
    const std::string key = "CLSID\\" + com::GuidToString(CLSID_Velmora) + "\\InprocServer32";
    HKEY server = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &server) != ERROR_SUCCESS)
        return "";
    char path[4096];
    DWORD type = 0, size = sizeof path - 1;
    const bool read = RegQueryValueExA(server, nullptr, nullptr, &type,
                                       reinterpret_cast<BYTE*>(path), &size) == ERROR_SUCCESS &&
                      type == REG_SZ;
    RegCloseKey(server);
    path[read ? size : 0] = 0;
    return path;
}

// Why the last LoadLibraryA on this thread failed.
std::string LoadError() {
#ifdef _WIN32
    return "error " + std::to_string(GetLastError());
#else
    return velmora::win32::LastLoadError();
#endif
}

std::string Narrow(const wchar_t* w) {
    std::string out;
    char buffer[8];
    std::mbstate_t state{};
    for (; *w; ++w) {
        size_t n = std::wcrtomb(buffer, *w, &state);
        if (n != static_cast<size_t>(-1))
            out.append(buffer, n);
    }
    return out;
}

} // namespace

std::string Hex(HRESULT hr) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(hr));
    return buffer;
}

std::string ModuleBesideProgram() {
#ifdef _WIN32
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    return (std::filesystem::path(std::string(self, n)).parent_path() / kModuleName).string();
#else
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return (self.parent_path() / kModuleName).string();
#endif
}

std::string RegistryName() {
#ifdef _WIN32
    return "HKEY_CLASSES_ROOT";
#else
    return velmora::registry::FilePath();
#endif
}

std::string RegistryError() {
#ifdef _WIN32
    return ""; // the system's registry has no file that may not parse
#else
    return velmora::registry::LastError();
#endif
}

bool IsRegistered() {
    return !RegisteredServer().empty();
}

bool RegisterModule(bool unregister, std::string* modulePath, std::string* error) {
    *modulePath = ModuleBesideProgram();
    HMODULE module = LoadLibraryA(modulePath->c_str());
    if (!module) {
        *error = "cannot load the module " + *modulePath + ": " + LoadError();
        return false;
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto call =
        reinterpret_cast<HRESULT (*)()>(reinterpret_cast<void*>(GetProcAddress(module, entry)));
    HRESULT hr = call ? call() : CO_E_ERRORINDLL;
    if (FAILED(hr)) {
        std::string why = RegistryError();
        *error = std::string(entry) + " failed (" + Hex(hr) + ")" +
                 (why.empty() ? "" : ": " + why + RegistryRecovery());
    }
    FreeLibrary(module);
    return SUCCEEDED(hr);
}

bool EffectSource::Open(bool verbose, std::string* error) {
    ComPtr<IClassFactory> factory;
    HRESULT hr = CoGetClassObject(CLSID_Velmora, CLSCTX_INPROC_SERVER, nullptr,
                                  uuidof<IClassFactory>(), reinterpret_cast<void**>(&factory));
    const std::string registry = RegistryName();
    if (SUCCEEDED(hr)) {
        if (verbose)
            std::fprintf(stderr, "velmora: effect found in the registry %s: %s\n", registry.c_str(),
                         RegisteredServer().c_str());
        return true;
    }
    if (hr != REGDB_E_CLASSNOTREG) {
        *error = "the registered module " + RegisteredServer() + " cannot be loaded (" + Hex(hr) +
                 "): " + LoadError() + "; run 'velmora register' again";
        return false;
    }
    std::string why = RegistryError();
    if (!why.empty()) {
        *error = "the registry cannot be read: " + why + RegistryRecovery();
        return false;
    }
    const std::string path = ModuleBesideProgram();
    if (verbose)
        std::fprintf(stderr,
                     "velmora: the effect is not registered in %s; loading %s "
                     "registration-free\n",
                     registry.c_str(), path.c_str());
    if (OpenModule(path, error))
        return true;
    *error = "the effect is not registered and " + *error;
    return false;
}

bool EffectSource::OpenModule(const std::string& path, std::string* error) {
    Close();
    module_ = LoadLibraryA(path.c_str());
    if (!module_) {
        *error = "cannot load the module " + path + ": " + LoadError();
        return false;
    }
    getClassObject_ = reinterpret_cast<LPFNGETCLASSOBJECT>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    if (!getClassObject_) {
        *error = path + " has no DllGetClassObject";
        Close();
        return false;
    }
    return true;
}

void EffectSource::Close() {
    if (module_)
        FreeLibrary(module_);
    module_ = nullptr;
    getClassObject_ = nullptr;
}

HRESULT EffectSource::Create(REFCLSID clsid, REFIID riid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!module_)
        return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, riid, object);
    ComPtr<IClassFactory> factory;
    HRESULT hr =
        getClassObject_(clsid, uuidof<IClassFactory>(), reinterpret_cast<void**>(&factory));
    if (FAILED(hr))
        return hr;
    return factory->CreateInstance(nullptr, riid, object);
}

bool Effect::Create(EffectSource& source, std::string* error) {
    HRESULT hr =
        source.Create(CLSID_Velmora, uuidof<IUnknown>(), reinterpret_cast<void**>(&effect_));
    if (FAILED(hr)) {
        *error = "cannot create the effect (" + Hex(hr) + ")";
        return false;
    }
    if (auto init = Query<IPersistStreamInit>(effect_.Get()))
        init->InitNew();
    return true;
}

#ifdef _WIN32
namespace {

// The system's transform factory, where COM has one; its task manager takes the thread count.
HRESULT SystemTransformFactory(ULONG threads, IDXTransformFactory** site) {
    constexpr CLSID kFactory = com::MakeGuid("{D1FE6762-FC48-11D0-883A-3C8B00C10000}");
    HRESULT hr = CoCreateInstance(kFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  uuidof<IDXTransformFactory>(), reinterpret_cast<void**>(site));
    ComPtr<IDXTaskManager> tasks;
    if (SUCCEEDED(hr) && threads &&
        SUCCEEDED((*site)->QueryService(CLSID_DXTaskManager, uuidof<IDXTaskManager>(),
                                        reinterpret_cast<void**>(&tasks))))
        tasks->SetConcurrencyLimit(threads);
    return hr;
}

} // namespace
#endif

bool Effect::Site(ULONG threads, std::string* error) {
    ComPtr<IDXTransformFactory> site;
    HRESULT hr = E_FAIL;
#ifdef _WIN32
    hr = SystemTransformFactory(threads, &site);
#endif
    if (FAILED(hr)) // none on this system: the platform's own
        hr = DXCreateTransformFactory(threads, &site);
    auto withSite = Query<IObjectWithSite>(effect_.Get());
    if (SUCCEEDED(hr))
        hr = withSite ? withSite->SetSite(site.Get()) : E_NOINTERFACE;
    if (SUCCEEDED(hr))
        hr = effect_->QueryInterface(uuidof<IDXTransform>(), reinterpret_cast<void**>(&transform_));
    if (FAILED(hr))
        *error = "cannot set the effect up (" + Hex(hr) + ")";
    return SUCCEEDED(hr);
}

HRESULT Effect::GetProps(FilterProps* props) const {
    auto exchange = Query<ISfExchangeProps<FilterProps>>(effect_.Get());
    return exchange ? exchange->GetProps(props) : E_NOINTERFACE;
}

HRESULT Effect::SetProps(const FilterProps& props) {
    auto exchange = Query<ISfExchangeProps<FilterProps>>(effect_.Get());
    return exchange ? exchange->SetProps(&props) : E_NOINTERFACE;
}

HRESULT Effect::Render(void* frame, LONG pitch, ULONG width, ULONG height, const void* from) {
    std::lock_guard lock(mutex_);
    if (!transform_)
        return E_UNEXPECTED;
    const auto start = std::chrono::steady_clock::now();
    ComPtr<IDXSurface> surface;
    HRESULT hr =
        from ? DXCreateSurfaceOnMemoryFrom(DXPF_PMARGB32, frame, pitch, from, pitch, width, height,
                                           &surface)
             : DXCreateSurfaceOnMemory(DXPF_PMARGB32, frame, pitch, width, height, &surface);
    if (FAILED(hr) && from && from != frame) // the frame passes unchanged
        std::memmove(frame, from, static_cast<size_t>(pitch) * height);
    IUnknown* output = surface.Get();
    if (SUCCEEDED(hr))
        hr = transform_->Setup(nullptr, 0, &output, 1, 0);
    if (SUCCEEDED(hr))
        hr = transform_->Execute(nullptr, nullptr, nullptr);
    // The frame's memory is the caller's: the effect lets go of the surface before it goes.
    // Releasing a surface made from another frame, last, copies the rows no piece reached.
    transform_->Setup(nullptr, 0, nullptr, 0, 0);
    seconds_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return hr;
}

bool ReadPresets(IUnknown* effect, std::vector<Preset>* presets, std::string* error) {
    auto list = Query<IStaticFilterPreset>(effect);
    auto exchange = Query<ISfExchangeProps<FilterProps>>(effect);
    if (!list || !exchange) {
        *error = "the effect does not offer presets";
        return false;
    }
    FilterProps saved{};
    exchange->GetProps(&saved);
    ULONG count = 0;
    HRESULT hr = list->GetPresetCount(&count);
    for (ULONG i = 0; SUCCEEDED(hr) && i < count; ++i) {
        wchar_t name[260] = {};
        Preset p;
        hr = list->GetPresetName(static_cast<LONG>(i), name, 260);
        if (SUCCEEDED(hr))
            hr = list->ApplyPreset(static_cast<LONG>(i));
        if (SUCCEEDED(hr))
            hr = exchange->GetProps(&p.props);
        p.name = Narrow(name);
        presets->push_back(p);
    }
    exchange->SetProps(&saved);
    if (FAILED(hr))
        *error = "cannot read the presets (" + Hex(hr) + ")";
    return SUCCEEDED(hr);
}

std::string FormatColour(const FilterProps& p) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "#%02X%02X%02X%02X", p.alpha, p.red, p.green, p.blue);
    return buffer;
}

} // namespace velmora::client
