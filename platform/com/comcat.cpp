// Categories live in the registry as Windows keeps them: descriptions under
// "Component Categories\{catid}", and per class "CLSID\{clsid}\Implemented Categories\{catid}"
// (or "Required Categories"), the list key going away with its last entry.
#include "comcat.h"

#include <cstdio>

#include "activation.h"
#include "object.h"
#include "registry_store.h"

namespace velmora::com {
namespace {

std::string Utf8(const OLECHAR* s) {
    std::string out;
    for (; s && *s; ++s) {
        char32_t c = static_cast<char32_t>(*s);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

HRESULT FromStatus(LSTATUS s) {
    return s == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(s);
}

class CategoryManager final : public SimpleObject<CategoryManager, ICatRegister> {
public:
    STDMETHOD(RegisterCategories)(ULONG count, CATEGORYINFO info[]) override {
        if (count && !info)
            return E_POINTER;
        return FromStatus(registry::Transact(true, [&](registry::Hive& h) {
            for (ULONG i = 0; i < count; ++i) {
                char lcid[16];
                std::snprintf(lcid, sizeof lcid, "%x", info[i].lcid);
                registry::Key* k = h.top.Create("HKEY_CLASSES_ROOT\\Component Categories\\" +
                                                GuidToString(info[i].catid));
                registry::Value v{lcid, REG_SZ, {}};
                std::string text = Utf8(info[i].szDescription);
                v.data.assign(text.begin(), text.end());
                v.data.push_back(0);
                k->values[lcid] = std::move(v);
            }
            return ERROR_SUCCESS;
        }));
    }

    STDMETHOD(UnRegisterCategories)(ULONG count, CATID ids[]) override {
        if (count && !ids)
            return E_POINTER;
        return FromStatus(registry::Transact(true, [&](registry::Hive& h) {
            for (ULONG i = 0; i < count; ++i)
                h.top.Erase("HKEY_CLASSES_ROOT\\Component Categories\\" + GuidToString(ids[i]));
            return ERROR_SUCCESS;
        }));
    }

    STDMETHOD(RegisterClassImplCategories)(REFCLSID clsid, ULONG count, CATID ids[]) override {
        return Add(clsid, "Implemented Categories", count, ids);
    }
    STDMETHOD(UnRegisterClassImplCategories)(REFCLSID clsid, ULONG count, CATID ids[]) override {
        return Remove(clsid, "Implemented Categories", count, ids);
    }
    STDMETHOD(RegisterClassReqCategories)(REFCLSID clsid, ULONG count, CATID ids[]) override {
        return Add(clsid, "Required Categories", count, ids);
    }
    STDMETHOD(UnRegisterClassReqCategories)(REFCLSID clsid, ULONG count, CATID ids[]) override {
        return Remove(clsid, "Required Categories", count, ids);
    }

private:
    static std::string ListPath(REFCLSID clsid, const char* list) {
        return "HKEY_CLASSES_ROOT\\CLSID\\" + GuidToString(clsid) + "\\" + list;
    }

    static HRESULT Add(REFCLSID clsid, const char* list, ULONG count, CATID ids[]) {
        if (count && !ids)
            return E_POINTER;
        return FromStatus(registry::Transact(true, [&](registry::Hive& h) {
            for (ULONG i = 0; i < count; ++i)
                h.top.Create(ListPath(clsid, list) + "\\" + GuidToString(ids[i]));
            return ERROR_SUCCESS;
        }));
    }

    static HRESULT Remove(REFCLSID clsid, const char* list, ULONG count, CATID ids[]) {
        if (count && !ids)
            return E_POINTER;
        return FromStatus(registry::Transact(true, [&](registry::Hive& h) {
            registry::Key* k = h.top.Find(ListPath(clsid, list));
            if (!k)
                return ERROR_SUCCESS; // nothing registered, nothing to remove
            for (ULONG i = 0; i < count; ++i)
                k->subkeys.erase(GuidToString(ids[i]));
            if (k->subkeys.empty() && k->values.empty())
                h.top.Erase(ListPath(clsid, list));
            return ERROR_SUCCESS;
        }));
    }
};

// The manager is a class of the platform, created through CoCreateInstance.
[[maybe_unused]] const bool g_registered = [] {
    RegisterPlatformClass(CLSID_StdComponentCategoriesMgr,
                          [](IUnknown* outer, REFIID riid, void** ppv) -> HRESULT {
                              if (outer)
                                  return CLASS_E_NOAGGREGATION;
                              auto* m = new (std::nothrow) CategoryManager;
                              if (!m)
                                  return E_OUTOFMEMORY;
                              HRESULT hr = m->QueryInterface(riid, ppv);
                              m->Release();
                              return hr;
                          });
    return true;
}();

} // namespace
} // namespace velmora::com
