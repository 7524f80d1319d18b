// Shared by the server suites: the module loaded by path, and a registry of the test's own: a
// file here, the throw-away Wine prefix's registry on Windows.
#pragma once

#include <string>

#include "platform/system.h"

#ifdef _WIN32
struct TempRegistry {};

// The module beside the program.
inline std::string ModulePath() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of('\\') + 1) + VELMORA_MODULE_PATH;
}

// Runs regsvr32 on the module, as an installer does; S_OK when it reports success.
inline HRESULT RunRegsvr32(const char* flags) {
    std::string command = std::string("regsvr32.exe ") + flags + " \"" + ModulePath() + "\"";
    STARTUPINFOA start{};
    start.cb = sizeof start;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &start, &process))
        return HRESULT_FROM_WIN32(GetLastError());
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code == 0 ? S_OK : E_FAIL;
}

inline std::string LoadError() {
    return "LoadLibrary failed with " + std::to_string(GetLastError());
}
#else
#include "../support/temp_registry.h"

inline std::string ModulePath() {
    return VELMORA_MODULE_PATH;
}

inline std::string LoadError() {
    return velmora::win32::LastLoadError();
}
#endif

struct Module {
    HMODULE handle = LoadLibraryA(ModulePath().c_str());
    ~Module() { FreeLibrary(handle); }
    template <class F>
    F Get(const char* name) {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
    }
    HRESULT CanUnload() { return Get<HRESULT (*)()>("DllCanUnloadNow")(); }
    HRESULT ClassObject(REFCLSID clsid, IClassFactory** out) {
        return Get<HRESULT (*)(REFCLSID, REFIID, void**)>("DllGetClassObject")(
            clsid, uuidof<IClassFactory>(), reinterpret_cast<void**>(out));
    }
#ifdef _WIN32
    HRESULT Register() {
        return RunRegsvr32("/s");
    }
    HRESULT Unregister() {
        return RunRegsvr32("/u /s");
    }
#else
    HRESULT Register() {
        return Get<HRESULT (*)()>("DllRegisterServer")();
    }
    HRESULT Unregister() {
        return Get<HRESULT (*)()>("DllUnregisterServer")();
    }
#endif
};
