// Type libraries described as data: a module registers its library with the platform when it is
// loaded (as Windows finds the library among a module's resources), RegisterTypeLib writes the
// TypeLib and Interface keys, and LoadRegTypeLib finds it again by its id. The type information
// serves IDispatch: names to dispatch ids, and Invoke through the interface's own slots.
#pragma once

#include <string>

#include "ocidl.h"

using MEMBERID = DISPID;
using SYSKIND = int;
constexpr SYSKIND SYS_WIN32 = 1;

constexpr HRESULT DISP_E_EXCEPTION = MakeHResult(0x80020009);
constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeHResult(0x80020001);
constexpr HRESULT DISP_E_PARAMNOTFOUND = MakeHResult(0x80020004);
constexpr HRESULT DISP_E_BADINDEX = MakeHResult(0x8002000B);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = MakeHResult(0x8002802B);
constexpr HRESULT TYPE_E_LIBNOTREGISTERED = MakeHResult(0x8002801D);
constexpr HRESULT TYPE_E_CANTLOADLIBRARY = MakeHResult(0x80029C4A);

namespace velmora::com {

// One property accessor or method: its dispatch id, the kind of call (DISPATCH_PROPERTYGET,
// DISPATCH_PROPERTYPUT or DISPATCH_METHOD), its slot in the interface's table, and the type of
// its one value (the result of a get, the argument of a put; VT_EMPTY for none).
struct FuncDesc {
    DISPID dispid;
    const OLECHAR* name;
    WORD invokeKind;
    int slot;
    VARTYPE vt;
};

struct InterfaceDesc {
    IID iid;
    const OLECHAR* name;
    const OLECHAR* doc;
    const InterfaceDesc* base; // null: derives from IDispatch
    const FuncDesc* funcs;
    int funcCount;
};

struct CoClassDesc {
    CLSID clsid;
    const OLECHAR* name;
    const OLECHAR* doc;
    const IID* defaultInterface;
};

struct TypeLibDesc {
    GUID libid;
    WORD major, minor;
    const OLECHAR* name;
    const OLECHAR* doc;
    const InterfaceDesc* const* interfaces;
    int interfaceCount;
    const CoClassDesc* coclasses;
    int coclassCount;
};

// Called by a module at attach and detach: its library, found by LoadRegTypeLib through the
// path registered for it.
void AddTypeLibResource(HMODULE module, const TypeLibDesc* lib);
void RemoveTypeLibResource(HMODULE module);

} // namespace velmora::com

// The part of a type's attributes this platform fills in.
struct TYPEATTR {
    GUID guid;
};

struct ITypeInfo : IUnknown {
    // The attributes, owned by the type information until handed back to ReleaseTypeAttr.
    STDMETHOD(GetTypeAttr)(TYPEATTR** attr) = 0;
    STDMETHOD_(void, ReleaseTypeAttr)(TYPEATTR* attr) = 0;
    STDMETHOD(GetIDsOfNames)(LPOLESTR* names, UINT count, MEMBERID* ids) = 0;
    // Calls member id on instance, a pointer to an object's interface of this type.
    STDMETHOD(Invoke)
    (void* instance, MEMBERID id, WORD flags, DISPPARAMS* params, VARIANT* result,
     EXCEPINFO* excepInfo, UINT* argErr) = 0;
    STDMETHOD(GetDocumentation)
    (MEMBERID id, BSTR* name, BSTR* doc, DWORD* helpContext, BSTR* helpFile) = 0;
};
VELMORA_DEFINE_UUID(ITypeInfo, "{00020401-0000-0000-C000-000000000046}");

struct ITypeLib : IUnknown {
    STDMETHOD_(UINT, GetTypeInfoCount)() = 0;
    STDMETHOD(GetTypeInfo)(UINT index, ITypeInfo** info) = 0;
    STDMETHOD(GetTypeInfoOfGuid)(REFGUID guid, ITypeInfo** info) = 0;
    STDMETHOD(GetDocumentation)
    (INT index, BSTR* name, BSTR* doc, DWORD* helpContext, BSTR* helpFile) = 0;
};
VELMORA_DEFINE_UUID(ITypeLib, "{00020402-0000-0000-C000-000000000046}");

constexpr DISPID MEMBERID_NIL = DISPID_UNKNOWN;

// Writes TypeLib\{libid}\major.minor (name, 0\win32 = path, FLAGS, HELPDIR) and, for each
// interface, Interface\{iid} with its proxy, library and version.
HRESULT RegisterTypeLib(const velmora::com::TypeLibDesc& lib, const std::string& modulePath);
HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND syskind);
HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** lib);
