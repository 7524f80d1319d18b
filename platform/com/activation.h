// Finding and creating classes: class factories, CoCreateInstance by CLSID through the registry,
// ProgIDs, and unloading modules nobody uses.
#pragma once

#include <functional>

#include "unknown.h"

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr DWORD CLSCTX_ALL = 0x17;

constexpr HRESULT CO_E_DLLNOTFOUND = MakeHResult(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = MakeHResult(0x800401F9);

struct IClassFactory : IUnknown {
    STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    STDMETHOD(LockServer)(BOOL fLock) = 0;
};
VELMORA_DEFINE_UUID(IClassFactory, "{00000001-0000-0000-C000-000000000046}");

using LPFNGETCLASSOBJECT = HRESULT (*)(REFCLSID, REFIID, void**);
using LPFNCANUNLOADNOW = HRESULT (*)();

// Reads CLSID\{clsid}\InprocServer32, loads that module (once) and asks its DllGetClassObject.
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void* pServerInfo, REFIID riid,
                         void** ppv);
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         void** ppv);
// ProgID\CLSID, or the CLSID of ProgID\CurVer.
HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid);
// Unloads every module loaded by CoGetClassObject whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();

namespace velmora::com {
// Classes the platform itself provides (found before the registry is asked).
void RegisterPlatformClass(REFCLSID clsid,
                           std::function<HRESULT(IUnknown* outer, REFIID riid, void** ppv)> create);
} // namespace velmora::com
