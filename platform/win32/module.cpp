#include "module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "strings.h"

namespace velmora::win32 {
namespace {

struct Loaded {
    void* handle;
    int uses;
};

struct Modules {
    std::recursive_mutex mutex; // DllMain may load further modules
    std::map<HMODULE, Loaded> loaded;
};

Modules& TheModules() {
    static Modules* m = new Modules;
    return *m;
}

thread_local std::string t_loadError;

// The image base of a loaded object: the same handle ModuleFromAddress gives its code.
HMODULE BaseOf(void* handle) {
    void* any = dlsym(handle, "DllMain");
    if (!any)
        any = dlsym(handle, "DllGetClassObject");
    if (any)
        return ModuleFromAddress(any);
    return nullptr;
}

} // namespace

const char* LastLoadError() {
    return t_loadError.c_str();
}

} // namespace velmora::win32

using namespace velmora::win32;

HMODULE LoadLibraryA(LPCSTR path) {
    if (!path || !*path)
        return nullptr;
    Modules& m = TheModules();
    std::lock_guard lock(m.mutex);
    // The module stays mapped while it is ours, whatever the loader's own count does.
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* e = dlerror();
        t_loadError = e ? e : "cannot load";
        return nullptr;
    }
    HMODULE module = BaseOf(handle);
    if (!module) {
        t_loadError = std::string(path) + ": not a module (no DllMain or DllGetClassObject)";
        dlclose(handle);
        return nullptr;
    }
    auto it = m.loaded.find(module);
    if (it != m.loaded.end()) {
        dlclose(handle); // already counted once by our own dlopen
        ++it->second.uses;
        return module;
    }
    m.loaded[module] = Loaded{handle, 1};
    if (auto main = reinterpret_cast<DllMainProc>(dlsym(handle, "DllMain"))) {
        if (!main(module, DLL_PROCESS_ATTACH, nullptr)) {
            m.loaded.erase(module);
            main(module, DLL_PROCESS_DETACH, nullptr);
            dlclose(handle);
            t_loadError = std::string(path) + ": its initialisation failed";
            return nullptr;
        }
    }
    return module;
}

BOOL FreeLibrary(HMODULE module) {
    Modules& m = TheModules();
    std::lock_guard lock(m.mutex);
    auto it = m.loaded.find(module);
    if (it == m.loaded.end())
        return FALSE;
    if (--it->second.uses > 0)
        return TRUE;
    void* handle = it->second.handle;
    m.loaded.erase(it);
    if (auto main = reinterpret_cast<DllMainProc>(dlsym(handle, "DllMain")))
        main(module, DLL_PROCESS_DETACH, nullptr);
    dlclose(handle);
    return TRUE;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    if (!name)
        return nullptr;
    Modules& m = TheModules();
    std::lock_guard lock(m.mutex);
    auto it = m.loaded.find(module);
    if (it == m.loaded.end())
        return nullptr;
    return reinterpret_cast<FARPROC>(dlsym(it->second.handle, name));
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    if (!buffer || size == 0)
        return 0;
    char full[PATH_MAX];
    const char* name = nullptr;
    if (!module) { // the program itself
        ssize_t n = readlink("/proc/self/exe", full, sizeof full - 1);
        if (n > 0) {
            full[n] = 0;
            name = full;
        }
    } else {
        Dl_info info{};
        // The base address lies inside the image, so the loader can name it.
        if (dladdr(module, &info) && info.dli_fname)
            name = realpath(info.dli_fname, full) ? full : info.dli_fname;
    }
    if (!name) {
        buffer[0] = 0;
        return 0;
    }
    size_t n = std::strlen(name);
    if (n >= size) {
        std::memcpy(buffer, name, size - 1);
        buffer[size - 1] = 0;
        return size;
    }
    std::memcpy(buffer, name, n + 1);
    return static_cast<DWORD>(n);
}

BOOL DisableThreadLibraryCalls(HMODULE) {
    return TRUE; // no thread notifications are ever sent here
}
