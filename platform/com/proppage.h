// Property pages: the page state and behaviour every page shares (site, objects, size, strings,
// dirty flag).
#pragma once

#include <algorithm>
#include <new>

#include "../system.h"

namespace velmora::com {

// Copies a string resource into a task-allocated block; null for a missing or empty string.
inline HRESULT LoadTaskString(HINSTANCE module, UINT id, LPOLESTR* out) {
    *out = nullptr;
    const wchar_t* text = nullptr;
    int n = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
    if (n <= 0 || !text)
        return S_OK;
    auto* copy =
        static_cast<LPOLESTR>(CoTaskMemAlloc((static_cast<size_t>(n) + 1) * sizeof(OLECHAR)));
    if (!copy)
        return E_OUTOFMEMORY;
    std::copy(text, text + n, copy);
    copy[n] = 0;
    *out = copy;
    return S_OK;
}

} // namespace velmora::com

// T supplies m_hWnd, Create(parent) -> HWND, DestroyWindow(), PageSize() -> SIZE and
// ModuleInstance() -> HINSTANCE.
template <class T>
class IPropertyPageImpl : public IPropertyPage {
public:
    IPropertyPageImpl() = default;
    virtual ~IPropertyPageImpl() {
        ReleaseObjects();
        if (m_pPageSite)
            m_pPageSite->Release();
    }

    STDMETHOD(SetPageSite)(IPropertyPageSite* site) override {
        if (site) {
            if (m_pPageSite)
                return E_UNEXPECTED;
            m_pPageSite = site;
            site->AddRef();
        } else if (m_pPageSite) {
            m_pPageSite->Release();
            m_pPageSite = nullptr;
        }
        return S_OK;
    }

    STDMETHOD(Activate)(HWND parent, LPCRECT rect, BOOL) override {
        if (!rect)
            return E_POINTER;
        Self()->m_hWnd = Self()->Create(parent);
        Move(rect);
        m_size = {rect->right - rect->left, rect->bottom - rect->top};
        return S_OK;
    }

    STDMETHOD(Deactivate)() override {
        if (Self()->m_hWnd) {
            if (IsWindow(Self()->m_hWnd))
                Self()->DestroyWindow();
            Self()->m_hWnd = nullptr;
        }
        return S_OK;
    }

    STDMETHOD(GetPageInfo)(PROPPAGEINFO* info) override {
        if (!info)
            return E_POINTER;
        m_size = Self()->PageSize();
        PROPPAGEINFO out{};
        out.cb = sizeof(PROPPAGEINFO);
        out.size = m_size;
        out.dwHelpContext = m_dwHelpContext;
        HINSTANCE module = Self()->ModuleInstance();
        HRESULT hr = velmora::com::LoadTaskString(module, m_dwTitleID, &out.pszTitle);
        if (SUCCEEDED(hr))
            hr = velmora::com::LoadTaskString(module, m_dwDocStringID, &out.pszDocString);
        if (SUCCEEDED(hr))
            hr = velmora::com::LoadTaskString(module, m_dwHelpFileID, &out.pszHelpFile);
        if (FAILED(hr)) {
            CoTaskMemFree(out.pszTitle);
            CoTaskMemFree(out.pszDocString);
            return hr;
        }
        *info = out;
        return S_OK;
    }

    STDMETHOD(SetObjects)(ULONG count, IUnknown** objects) override {
        if (!objects)
            return E_POINTER;
        ReleaseObjects();
        if (count == 0)
            return S_OK;
        m_ppUnk = new (std::nothrow) IUnknown*[count];
        if (!m_ppUnk)
            return E_OUTOFMEMORY;
        for (ULONG i = 0; i < count; ++i) {
            m_ppUnk[i] = objects[i];
            if (objects[i])
                objects[i]->AddRef();
        }
        m_nObjects = count;
        return S_OK;
    }

    STDMETHOD(Show)(UINT command) override {
        if (!Self()->m_hWnd)
            return E_UNEXPECTED;
        ShowWindow(Self()->m_hWnd, static_cast<int>(command));
        return S_OK;
    }

    STDMETHOD(Move)(LPCRECT rect) override {
        if (!Self()->m_hWnd)
            return E_UNEXPECTED;
        if (!rect)
            return E_POINTER;
        MoveWindow(Self()->m_hWnd, rect->left, rect->top, rect->right - rect->left,
                   rect->bottom - rect->top, TRUE);
        return S_OK;
    }

    STDMETHOD(IsPageDirty)() override { return m_bDirty ? S_OK : S_FALSE; }
    STDMETHOD(Apply)() override {
        m_bDirty = FALSE;
        return S_OK;
    }
    STDMETHOD(Help)(LPCOLESTR) override { return E_FAIL; } // no help system here

    // Keyboard and mouse messages would go to dialog-message processing; the pages here are
    // panels that take their keys from their own windows, so it declines them all.
    STDMETHOD(TranslateAccelerator)(MSG* msg) override {
        if (!msg)
            return E_POINTER;
        return S_FALSE;
    }

    IUnknown* FirstObject() const { return m_nObjects ? m_ppUnk[0] : nullptr; }

protected:
    T* Self() { return static_cast<T*>(this); }

    void ReleaseObjects() {
        for (ULONG i = 0; i < m_nObjects; ++i)
            if (m_ppUnk[i])
                m_ppUnk[i]->Release();
        delete[] m_ppUnk;
        m_ppUnk = nullptr;
        m_nObjects = 0;
    }

    IPropertyPageSite* m_pPageSite = nullptr;
    IUnknown** m_ppUnk = nullptr;
    ULONG m_nObjects = 0;
    SIZE m_size{0, 0};
    UINT m_dwTitleID = 0;
    UINT m_dwHelpFileID = 0;
    UINT m_dwDocStringID = 0;
    DWORD m_dwHelpContext = 0;
    BOOL m_bDirty = FALSE;
};
