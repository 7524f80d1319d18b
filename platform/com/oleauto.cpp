#include "oleauto.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <limits>
#include <string>

// A BSTR points just past a 4-byte length in bytes, and is followed by a terminating zero.
BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch) {
    if (cch > (std::numeric_limits<UINT>::max() - 8) / sizeof(OLECHAR))
        return nullptr;
    auto* block =
        static_cast<std::byte*>(std::malloc(sizeof(std::uint32_t) + (cch + 1) * sizeof(OLECHAR)));
    if (!block)
        return nullptr;
    std::uint32_t bytes = cch * sizeof(OLECHAR);
    std::memcpy(block, &bytes, sizeof bytes);
    auto* s = reinterpret_cast<OLECHAR*>(block + sizeof bytes);
    if (pch)
        std::wmemcpy(s, pch, cch);
    else
        std::wmemset(s, 0, cch);
    s[cch] = 0;
    return s;
}

BSTR SysAllocString(const OLECHAR* psz) {
    return psz ? SysAllocStringLen(psz, static_cast<UINT>(std::wcslen(psz))) : nullptr;
}

void SysFreeString(BSTR bstr) {
    if (bstr)
        std::free(reinterpret_cast<std::byte*>(bstr) - sizeof(std::uint32_t));
}

UINT SysStringLen(BSTR bstr) {
    if (!bstr)
        return 0;
    std::uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<std::byte*>(bstr) - sizeof bytes, sizeof bytes);
    return bytes / sizeof(OLECHAR);
}

void VariantInit(VARIANT* pvarg) {
    if (pvarg) {
        std::memset(pvarg, 0, sizeof *pvarg);
        pvarg->vt = VT_EMPTY;
    }
}

HRESULT VariantClear(VARIANT* pvarg) {
    if (!pvarg)
        return E_INVALIDARG;
    switch (pvarg->vt) {
    case VT_BSTR:
        SysFreeString(pvarg->bstrVal);
        break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
        if (pvarg->punkVal)
            pvarg->punkVal->Release();
        break;
    default:
        break;
    }
    VariantInit(pvarg);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc) {
    if (!pvargDest || !pvargSrc)
        return E_INVALIDARG;
    if (pvargDest == pvargSrc)
        return S_OK;
    VARIANT copy = *pvargSrc;
    if (copy.vt == VT_BSTR && copy.bstrVal) {
        copy.bstrVal = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
        if (!copy.bstrVal)
            return E_OUTOFMEMORY;
    } else if ((copy.vt == VT_UNKNOWN || copy.vt == VT_DISPATCH) && copy.punkVal) {
        copy.punkVal->AddRef();
    }
    VariantClear(pvargDest);
    *pvargDest = copy;
    return S_OK;
}

namespace {

bool IsNumeric(VARTYPE vt) {
    switch (vt) {
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_INT:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UINT:
    case VT_R4:
    case VT_R8:
    case VT_BOOL:
        return true;
    default:
        return false;
    }
}

double NumberOf(const VARIANT& v) {
    switch (v.vt) {
    case VT_I1:
        return v.cVal;
    case VT_I2:
        return v.iVal;
    case VT_I4:
        return v.lVal;
    case VT_INT:
        return v.intVal;
    case VT_UI1:
        return v.bVal;
    case VT_UI2:
        return v.uiVal;
    case VT_UI4:
        return v.ulVal;
    case VT_UINT:
        return v.uintVal;
    case VT_R4:
        return v.fltVal;
    case VT_R8:
        return v.dblVal;
    case VT_BOOL:
        return v.boolVal ? -1.0 : 0.0;
    default:
        return 0.0;
    }
}

template <class T>
bool FitInto(double d, T& out) {
    // Automation rounds half to even when it narrows to an integer.
    double r = std::nearbyint(d);
    if (!(r >= static_cast<double>(std::numeric_limits<T>::min()) &&
          r <= static_cast<double>(std::numeric_limits<T>::max())))
        return false;
    out = static_cast<T>(r);
    return true;
}

HRESULT StoreNumber(double d, VARTYPE vt, VARIANT& out) {
    out.vt = vt;
    bool ok = true;
    switch (vt) {
    case VT_I1:
        ok = FitInto(d, out.cVal);
        break;
    case VT_I2:
        ok = FitInto(d, out.iVal);
        break;
    case VT_I4:
        ok = FitInto(d, out.lVal);
        break;
    case VT_INT:
        ok = FitInto(d, out.intVal);
        break;
    case VT_UI1:
        ok = FitInto(d, out.bVal);
        break;
    case VT_UI2:
        ok = FitInto(d, out.uiVal);
        break;
    case VT_UI4:
        ok = FitInto(d, out.ulVal);
        break;
    case VT_UINT:
        ok = FitInto(d, out.uintVal);
        break;
    case VT_R4:
        ok = std::isnan(d) || std::fabs(d) <= std::numeric_limits<float>::max();
        out.fltVal = static_cast<float>(d);
        break;
    case VT_R8:
        out.dblVal = d;
        break;
    case VT_BOOL:
        out.boolVal = d != 0.0 ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    default:
        return DISP_E_TYPEMISMATCH;
    }
    return ok ? S_OK : DISP_E_OVERFLOW;
}

} // namespace

HRESULT VariantChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc, USHORT, VARTYPE vt) {
    if (!pvargDest || !pvarSrc)
        return E_INVALIDARG;
    VARIANT result;
    VariantInit(&result);
    if (pvarSrc->vt == vt) {
        HRESULT hr = VariantCopy(&result, pvarSrc);
        if (FAILED(hr))
            return hr;
    } else if (IsNumeric(pvarSrc->vt) && IsNumeric(vt)) {
        HRESULT hr = StoreNumber(NumberOf(*pvarSrc), vt, result);
        if (FAILED(hr))
            return hr;
    } else if (IsNumeric(pvarSrc->vt) && vt == VT_BSTR) {
        std::wstring text;
        if (pvarSrc->vt == VT_BOOL)
            text = pvarSrc->boolVal ? L"True" : L"False";
        else if (pvarSrc->vt == VT_R4 || pvarSrc->vt == VT_R8) {
            wchar_t buf[64];
            std::swprintf(buf, 64, pvarSrc->vt == VT_R4 ? L"%.7g" : L"%.15g", NumberOf(*pvarSrc));
            text = buf;
        } else
            text = std::to_wstring(static_cast<long long>(NumberOf(*pvarSrc)));
        result.vt = VT_BSTR;
        result.bstrVal = SysAllocString(text.c_str());
        if (!result.bstrVal)
            return E_OUTOFMEMORY;
    } else if (pvarSrc->vt == VT_BSTR && IsNumeric(vt)) {
        std::wstring text(pvarSrc->bstrVal ? pvarSrc->bstrVal : L"");
        double d;
        if (vt == VT_BOOL && (text == L"True" || text == L"False")) {
            d = text == L"True" ? -1.0 : 0.0;
        } else {
            wchar_t* end = nullptr;
            d = std::wcstod(text.c_str(), &end);
            while (end && *end == L' ')
                ++end;
            if (text.empty() || !end || *end != 0)
                return DISP_E_TYPEMISMATCH;
        }
        HRESULT hr = StoreNumber(d, vt, result);
        if (FAILED(hr))
            return hr;
    } else {
        return DISP_E_TYPEMISMATCH;
    }
    VariantClear(pvargDest);
    *pvargDest = result;
    return S_OK;
}
