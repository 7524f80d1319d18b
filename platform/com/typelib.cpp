#include "typelib.h"

#include <cstdio>
#include <cstring>
#include <cwctype>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

#include "../win32/module.h"
#include "object.h"
#include "registry_store.h"

namespace velmora::com {
namespace {

constexpr const char* kProxyStub = "{00020424-0000-0000-C000-000000000046}"; // automation marshaler

struct Resources {
    std::mutex mutex;
    std::map<HMODULE, const TypeLibDesc*> libs;
};

Resources& TheResources() {
    static Resources* r = new Resources;
    return *r;
}

std::string Version(WORD major, WORD minor) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%x.%x", major, minor);
    return buf;
}

std::string Narrow(const OLECHAR* s) {
    std::string out;
    for (; s && *s; ++s)
        out.push_back(static_cast<char>(*s < 0x80 ? *s : '?'));
    return out;
}

bool SameName(const OLECHAR* a, const OLECHAR* b) {
    for (; *a && *b; ++a, ++b)
        if (std::towupper(*a) != std::towupper(*b))
            return false;
    return *a == *b;
}

void SetString(registry::Key* k, const std::string& name, const std::string& text) {
    registry::Value v{name, REG_SZ, {text.begin(), text.end()}};
    v.data.push_back(0);
    k->values[name] = std::move(v);
}

std::string StringOf(const registry::Key* k, const std::string& name) {
    auto it = k->values.find(name);
    if (it == k->values.end() || it->second.type != REG_SZ)
        return "";
    return std::string(reinterpret_cast<const char*>(it->second.data.data()));
}

// Calls a slot of an interface's table with one value in or out.
HRESULT CallSlot(void* instance, int slot, WORD kind, VARTYPE vt, VARIANT* value) {
    void** table = *static_cast<void***>(instance);
    void* fn = table[slot];
    if (kind == DISPATCH_PROPERTYGET) {
        switch (vt) {
        case VT_I4:
            value->vt = VT_I4;
            return reinterpret_cast<HRESULT (*)(void*, LONG*)>(fn)(instance, &value->lVal);
        case VT_R4:
            value->vt = VT_R4;
            return reinterpret_cast<HRESULT (*)(void*, float*)>(fn)(instance, &value->fltVal);
        case VT_R8:
            value->vt = VT_R8;
            return reinterpret_cast<HRESULT (*)(void*, double*)>(fn)(instance, &value->dblVal);
        case VT_BOOL:
            value->vt = VT_BOOL;
            return reinterpret_cast<HRESULT (*)(void*, VARIANT_BOOL*)>(fn)(instance,
                                                                           &value->boolVal);
        }
    } else if (kind == DISPATCH_PROPERTYPUT) {
        switch (vt) {
        case VT_I4:
            return reinterpret_cast<HRESULT (*)(void*, LONG)>(fn)(instance, value->lVal);
        case VT_R4:
            return reinterpret_cast<HRESULT (*)(void*, float)>(fn)(instance, value->fltVal);
        case VT_R8:
            return reinterpret_cast<HRESULT (*)(void*, double)>(fn)(instance, value->dblVal);
        case VT_BOOL:
            return reinterpret_cast<HRESULT (*)(void*, VARIANT_BOOL)>(fn)(instance, value->boolVal);
        }
    } else if (kind == DISPATCH_METHOD && vt == VT_EMPTY) {
        return reinterpret_cast<HRESULT (*)(void*)>(fn)(instance);
    }
    return DISP_E_TYPEMISMATCH;
}

// Hands out a name and a description; there are no help files here.
HRESULT Document(const OLECHAR* n, const OLECHAR* d, BSTR* name, BSTR* doc, DWORD* helpContext,
                 BSTR* helpFile) {
    if (name)
        *name = SysAllocString(n);
    if (doc)
        *doc = d ? SysAllocString(d) : nullptr;
    if (helpContext)
        *helpContext = 0;
    if (helpFile)
        *helpFile = nullptr;
    return S_OK;
}

// An interface's type information, or a class's (desc null: it has no members of its own).
class TypeInfo final : public SimpleObject<TypeInfo, ITypeInfo> {
public:
    TypeInfo(IUnknown* lib, const InterfaceDesc* desc)
        : lib_(lib), guid_(desc->iid), name_(desc->name), doc_(desc->doc), desc_(desc) {}
    TypeInfo(IUnknown* lib, const CoClassDesc& coclass)
        : lib_(lib), guid_(coclass.clsid), name_(coclass.name), doc_(coclass.doc) {}

    STDMETHOD(GetTypeAttr)(TYPEATTR** attr) override {
        if (!attr)
            return E_POINTER;
        *attr = new (std::nothrow) TYPEATTR{guid_};
        return *attr ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHOD_(void, ReleaseTypeAttr)(TYPEATTR* attr) override { delete attr; }

    STDMETHOD(GetIDsOfNames)(LPOLESTR* names, UINT count, MEMBERID* ids) override {
        if (!names || !ids)
            return E_INVALIDARG;
        if (count == 0)
            return S_OK;
        for (UINT i = 0; i < count; ++i)
            ids[i] = MEMBERID_NIL;
        // Only members are looked up; the properties here take no named arguments.
        for (const InterfaceDesc* d = desc_; d; d = d->base)
            for (int f = 0; f < d->funcCount; ++f)
                if (names[0] && SameName(names[0], d->funcs[f].name)) {
                    ids[0] = d->funcs[f].dispid;
                    return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
                }
        return DISP_E_UNKNOWNNAME;
    }

    STDMETHOD(Invoke)
    (void* instance, MEMBERID id, WORD flags, DISPPARAMS* params, VARIANT* result,
     EXCEPINFO* excepInfo, UINT* argErr) override {
        if (!instance || !params)
            return E_INVALIDARG;
        // A get may come as a method call, as automation clients make them.
        const bool put = flags & DISPATCH_PROPERTYPUT;
        const FuncDesc* func = nullptr;
        for (const InterfaceDesc* d = desc_; d && !func; d = d->base)
            for (int f = 0; f < d->funcCount; ++f) {
                const FuncDesc& fd = d->funcs[f];
                if (fd.dispid != id)
                    continue;
                if ((put && fd.invokeKind == DISPATCH_PROPERTYPUT) ||
                    (!put && fd.invokeKind != DISPATCH_PROPERTYPUT && (flags & fd.invokeKind)) ||
                    (!put && fd.invokeKind == DISPATCH_PROPERTYGET && (flags & DISPATCH_METHOD))) {
                    func = &fd;
                    break;
                }
            }
        if (!func)
            return DISP_E_MEMBERNOTFOUND;

        VARIANT value;
        VariantInit(&value);
        if (func->invokeKind == DISPATCH_PROPERTYPUT) {
            if (params->cArgs != 1)
                return DISP_E_BADPARAMCOUNT;
            if (params->cNamedArgs != 1 || !params->rgdispidNamedArgs ||
                params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
                return DISP_E_PARAMNOTFOUND;
            HRESULT hr = VariantChangeType(&value, &params->rgvarg[0], 0, func->vt);
            if (FAILED(hr)) {
                if (argErr)
                    *argErr = 0;
                return DISP_E_TYPEMISMATCH;
            }
        } else if (params->cArgs != 0) {
            return DISP_E_BADPARAMCOUNT;
        }
        HRESULT hr = CallSlot(instance, func->slot, func->invokeKind, func->vt, &value);
        if (FAILED(hr)) {
            VariantClear(&value);
            if (excepInfo) {
                *excepInfo = {};
                excepInfo->scode = hr;
            }
            return DISP_E_EXCEPTION;
        }
        if (result && func->invokeKind == DISPATCH_PROPERTYGET) {
            VariantClear(result);
            *result = value;
        } else {
            VariantClear(&value);
        }
        return S_OK;
    }

    STDMETHOD(GetDocumentation)
    (MEMBERID id, BSTR* name, BSTR* doc, DWORD* helpContext, BSTR* helpFile) override {
        const OLECHAR* n = nullptr;
        const OLECHAR* d = nullptr;
        if (id == MEMBERID_NIL) {
            n = name_;
            d = doc_;
        } else {
            for (const InterfaceDesc* i = desc_; i && !n; i = i->base)
                for (int f = 0; f < i->funcCount; ++f)
                    if (i->funcs[f].dispid == id)
                        n = i->funcs[f].name;
            if (!n)
                return TYPE_E_ELEMENTNOTFOUND;
        }
        return Document(n, d, name, doc, helpContext, helpFile);
    }

private:
    ComPtr<IUnknown> lib_; // keeps the library alive
    GUID guid_;
    const OLECHAR* name_;
    const OLECHAR* doc_;
    const InterfaceDesc* desc_ = nullptr;
};

// The interfaces, then the classes, each at its index.
class TypeLib final : public SimpleObject<TypeLib, ITypeLib> {
public:
    explicit TypeLib(const TypeLibDesc* desc) : desc_(desc) {}

    STDMETHOD_(UINT, GetTypeInfoCount)() override {
        return static_cast<UINT>(desc_->interfaceCount + desc_->coclassCount);
    }
    STDMETHOD(GetTypeInfo)(UINT index, ITypeInfo** info) override {
        if (!info)
            return E_INVALIDARG;
        *info = nullptr;
        if (index >= GetTypeInfoCount())
            return TYPE_E_ELEMENTNOTFOUND;
        const auto i = static_cast<int>(index);
        *info = i < desc_->interfaceCount
                    ? new TypeInfo(this, desc_->interfaces[i])
                    : new TypeInfo(this, desc_->coclasses[i - desc_->interfaceCount]);
        return S_OK;
    }
    STDMETHOD(GetTypeInfoOfGuid)(REFGUID guid, ITypeInfo** info) override {
        if (!info)
            return E_INVALIDARG;
        *info = nullptr;
        for (UINT i = 0; i < GetTypeInfoCount(); ++i)
            if (Guid(static_cast<int>(i)) == guid)
                return GetTypeInfo(i, info);
        return TYPE_E_ELEMENTNOTFOUND;
    }
    STDMETHOD(GetDocumentation)
    (INT index, BSTR* name, BSTR* doc, DWORD* helpContext, BSTR* helpFile) override {
        const OLECHAR *n, *d;
        if (index == -1) {
            n = desc_->name, d = desc_->doc;
        } else if (index >= 0 && index < desc_->interfaceCount) {
            n = desc_->interfaces[index]->name, d = desc_->interfaces[index]->doc;
        } else if (index >= 0 && static_cast<UINT>(index) < GetTypeInfoCount()) {
            const CoClassDesc& c = desc_->coclasses[index - desc_->interfaceCount];
            n = c.name, d = c.doc;
        } else {
            return TYPE_E_ELEMENTNOTFOUND;
        }
        return Document(n, d, name, doc, helpContext, helpFile);
    }

private:
    const GUID& Guid(int index) const {
        return index < desc_->interfaceCount
                   ? desc_->interfaces[index]->iid
                   : desc_->coclasses[index - desc_->interfaceCount].clsid;
    }

    const TypeLibDesc* desc_;
};

} // namespace

void AddTypeLibResource(HMODULE module, const TypeLibDesc* lib) {
    Resources& r = TheResources();
    std::lock_guard lock(r.mutex);
    r.libs[module] = lib;
}

void RemoveTypeLibResource(HMODULE module) {
    Resources& r = TheResources();
    std::lock_guard lock(r.mutex);
    r.libs.erase(module);
}

} // namespace velmora::com

using namespace velmora::com;
using velmora::registry::Hive;
using velmora::registry::Key;

HRESULT RegisterTypeLib(const TypeLibDesc& lib, const std::string& modulePath) {
    const std::string libid = GuidToString(lib.libid);
    const std::string version = Version(lib.major, lib.minor);
    LSTATUS s = velmora::registry::Transact(true, [&](Hive& h) {
        Key* v = h.top.Create("HKEY_CLASSES_ROOT\\TypeLib\\" + libid + "\\" + version);
        v->values.clear();
        v->subkeys.clear();
        SetString(v, "", Narrow(lib.doc ? lib.doc : lib.name));
        SetString(v->Create("0\\win32"), "", modulePath);
        SetString(v->Create("FLAGS"), "", "0");
        SetString(v->Create("HELPDIR"), "",
                  std::filesystem::path(modulePath).parent_path().string());
        for (int i = 0; i < lib.interfaceCount; ++i) {
            const InterfaceDesc* d = lib.interfaces[i];
            Key* k = h.top.Create("HKEY_CLASSES_ROOT\\Interface\\" + GuidToString(d->iid));
            SetString(k, "", Narrow(d->name));
            SetString(k->Create("ProxyStubClsid"), "", kProxyStub);
            SetString(k->Create("ProxyStubClsid32"), "", kProxyStub);
            Key* t = k->Create("TypeLib");
            SetString(t, "", libid);
            SetString(t, "Version", version);
        }
        return ERROR_SUCCESS;
    });
    return s == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(s);
}

HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID, SYSKIND) {
    const std::string id = GuidToString(libid);
    const std::string version = Version(major, minor);
    bool found = false;
    LSTATUS s = velmora::registry::Transact(true, [&](Hive& h) {
        Key* lib = h.top.Find("HKEY_CLASSES_ROOT\\TypeLib\\" + id);
        if (!lib || !lib->Find(version))
            return ERROR_SUCCESS;
        found = true;
        lib->Erase(version);
        if (lib->subkeys.empty())
            h.top.Erase("HKEY_CLASSES_ROOT\\TypeLib\\" + id);
        // The interfaces this version of the library described.
        if (Key* interfaces = h.top.Find("HKEY_CLASSES_ROOT\\Interface")) {
            std::vector<std::string> gone;
            for (const auto& [name, k] : interfaces->subkeys)
                if (Key* t = k->Find("TypeLib"))
                    if (StringOf(t, "") == id && StringOf(t, "Version") == version)
                        gone.push_back(name);
            for (const auto& name : gone)
                interfaces->subkeys.erase(name);
        }
        return ERROR_SUCCESS;
    });
    if (s != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(s);
    return found ? S_OK : TYPE_E_LIBNOTREGISTERED;
}

HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID, ITypeLib** lib) {
    if (!lib)
        return E_INVALIDARG;
    *lib = nullptr;
    std::string path;
    if (!velmora::registry::ReadString(HKEY_CLASSES_ROOT,
                                       "TypeLib\\" + GuidToString(libid) + "\\" +
                                           Version(major, minor) + "\\0\\win32",
                                       "", &path))
        return TYPE_E_LIBNOTREGISTERED;
    // The library is a resource of a loaded module: find the module by its path.
    Resources& r = TheResources();
    std::lock_guard lock(r.mutex);
    std::error_code ec;
    for (const auto& [module, desc] : r.libs) {
        char name[4096];
        if (GetModuleFileNameA(module, name, sizeof name) == 0)
            continue;
        if (std::filesystem::equivalent(name, path, ec) && desc->libid == libid) {
            *lib = new TypeLib(desc);
            return S_OK;
        }
    }
    return TYPE_E_CANTLOADLIBRARY;
}
