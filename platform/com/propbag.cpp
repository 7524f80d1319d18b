#include "propbag.h"

#include <algorithm>
#include <cwctype>
#include <map>
#include <mutex>
#include <string>

#include "object.h"

namespace velmora::com {

namespace {

bool HasData(const PropertyMapEntry& e) {
    return e.name != nullptr;
}
bool AtEnd(const PropertyMapEntry& e) {
    return !e.name && !e.page;
}

struct NoCaseLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return std::lexicographical_compare(
            a.begin(), a.end(), b.begin(), b.end(),
            [](wchar_t x, wchar_t y) { return std::towupper(x) < std::towupper(y); });
    }
};

class MemoryPropertyBag final : public SimpleObject<MemoryPropertyBag, IPropertyBag> {
public:
    STDMETHOD(Read)(LPCOLESTR name, VARIANT* var, IErrorLog* log) override {
        if (!name || !var)
            return E_POINTER;
        std::lock_guard lock(mutex_);
        auto it = values_.find(name);
        if (it == values_.end())
            return E_INVALIDARG;
        HRESULT hr = var->vt == VT_EMPTY ? VariantCopy(var, &it->second)
                                         : VariantChangeType(var, &it->second, 0, var->vt);
        if (FAILED(hr) && log) {
            EXCEPINFO info{};
            info.scode = hr;
            log->AddError(name, &info);
        }
        return hr;
    }

    STDMETHOD(Write)(LPCOLESTR name, VARIANT* var) override {
        if (!name || !var)
            return E_POINTER;
        VARIANT copy;
        VariantInit(&copy);
        HRESULT hr = VariantCopy(&copy, var);
        if (FAILED(hr))
            return hr;
        std::lock_guard lock(mutex_);
        auto [it, fresh] = values_.try_emplace(name);
        if (!fresh)
            VariantClear(&it->second);
        it->second = copy;
        return S_OK;
    }

private:
    friend class SimpleObject<MemoryPropertyBag, IPropertyBag>;
    ~MemoryPropertyBag() override {
        for (auto& [name, value] : values_)
            VariantClear(&value);
    }

    std::mutex mutex_;
    std::map<std::wstring, VARIANT, NoCaseLess> values_;
};

} // namespace

HRESULT LoadPropertyMap(IPropertyBag* bag, IErrorLog* log, const PropertyMapEntry* map,
                        void* object) {
    if (!map)
        return E_POINTER;
    for (; !AtEnd(*map); ++map) {
        if (!HasData(*map))
            continue;
        if (!bag)
            return E_POINTER;
        VARIANT value;
        VariantInit(&value);
        value.vt = map->vt;
        if (FAILED(bag->Read(map->name, &value, log))) {
            VariantClear(&value);
            continue;
        }
        HRESULT hr = map->put(object, value);
        VariantClear(&value);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT SavePropertyMap(IPropertyBag* bag, BOOL, BOOL, const PropertyMapEntry* map, void* object) {
    if (!map)
        return E_POINTER;
    for (; !AtEnd(*map); ++map) {
        if (!HasData(*map))
            continue;
        if (!bag)
            return E_POINTER;
        VARIANT value;
        VariantInit(&value);
        HRESULT hr = map->get(object, &value);
        if (SUCCEEDED(hr))
            hr = bag->Write(map->name, &value);
        VariantClear(&value);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

} // namespace velmora::com

HRESULT CreateMemoryPropertyBag(IPropertyBag** ppbag) {
    if (!ppbag)
        return E_POINTER;
    *ppbag = new velmora::com::MemoryPropertyBag();
    return S_OK;
}
