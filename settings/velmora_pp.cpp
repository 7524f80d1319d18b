#include "velmora_pp.h"

#include <string>

#include <juce_gui_basics/juce_gui_basics.h>

#include "api/velmora.h"
#include "server/instance.h"
#include "prop_page_comp.h"

using velmora::com::ComPtr;

namespace {

// The window property that leads from the page's window to the page: the handle in decimal.
std::string PropertyName(HWND hwnd) {
    return std::to_string(reinterpret_cast<LONG_PTR>(hwnd));
}

ComPtr<ISfExchangeProps<FilterProps>> ExchangeOf(IUnknown* object) {
    ComPtr<ISfExchangeProps<FilterProps>> exchange;
    if (object)
        object->QueryInterface(uuidof<ISfExchangeProps<FilterProps>>(),
                               reinterpret_cast<void**>(&exchange));
    return exchange;
}

} // namespace

namespace velmora {

HRESULT CreateSettingsPage(IUnknown* outer, REFIID riid, void** ppv) {
    if (outer)
        return com::CComAggObject<CVelmoraPP>::CreateInstance(outer, riid, ppv);
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    com::CComObject<CVelmoraPP>* page = nullptr;
    HRESULT hr = com::CComObject<CVelmoraPP>::CreateInstance(&page);
    if (FAILED(hr))
        return hr;
    page->AddRef();
    hr = page->QueryInterface(riid, ppv);
    page->Release(); // destroys the page if the interface was refused
    return hr;
}

} // namespace velmora

CVelmoraPP::CVelmoraPP() {
    m_dwTitleID = IDS_VELMORA_TITLE;
    m_dwHelpFileID = IDS_VELMORA_HELPFILE;
    m_dwDocStringID = IDS_VELMORA_DOCSTRING;
}

CVelmoraPP::~CVelmoraPP() {
    // A page released with its panel alive first undoes what Create did, so that no notice or
    // message ever reaches a freed page.
    if (m_pPanel)
        DestroyWindow();
}

HRESULT CVelmoraPP::FinalConstruct() {
    return CoCreateFreeThreadedMarshaler(GetControllingUnknown(), &m_pUnkMarshaler);
}

void CVelmoraPP::FinalRelease() {
    if (IUnknown* m = m_pUnkMarshaler) {
        m_pUnkMarshaler = nullptr;
        m->Release();
    }
}

IUnknown* CVelmoraPP::GetControllingUnknown() {
    return m_pOuterUnknown ? m_pOuterUnknown : static_cast<IPropertyPage*>(this);
}

HINSTANCE CVelmoraPP::ModuleInstance() const {
    return velmora::ModuleInstance();
}

HWND CVelmoraPP::Create(HWND parent) {
    m_pPanel = new PropPageComp(reinterpret_cast<void*>(parent));
    m_pPanel->setChangeCallback(&CVelmoraPP::OnPanelChange, this);
    m_pPanel->setKeyCallback(&CVelmoraPP::OnPanelKey);
    m_hWndParent = parent;
    m_hWnd = static_cast<HWND>(m_pPanel->getWindowHandle());

#ifndef _WIN32
    // The panel's window joins the window table: notices run on the message thread, and show
    // and move act on the panel. A real window has all of that from the system.
    juce::Component::SafePointer<PropPageComp> panel(m_pPanel);
    velmora::win32::RegisterWindow(
        m_hWnd, &DefWindowProcA,
        velmora::win32::WindowOps{
            [](std::function<void()> f) { juce::MessageManager::callAsync(std::move(f)); },
            [panel](int command) {
                if (panel)
                    panel->setVisible(command != SW_HIDE);
            },
            [panel](int x, int y, int w, int h, bool repaint) {
                if (!panel)
                    return;
                panel->setBounds(x, y, w, h);
                if (repaint)
                    panel->repaint();
            }});
#endif
    SetPropA(m_hWnd, PropertyName(m_hWnd).c_str(), this);
    m_pfnOldWndProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(m_hWnd, GWLP_WNDPROC));
    SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC,
                      reinterpret_cast<LONG_PTR>(&CVelmoraPP::PageWindowProc));

    if (auto exchange = ExchangeOf(FirstObject()))
        exchange->SetNotifyWindow(m_hWnd, kPageNoticeCommand);
    UpdateFromEffect();
    return m_hWnd;
}

void CVelmoraPP::DestroyWindow() {
    if (m_pfnOldWndProc)
        SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnOldWndProc));
    RemovePropA(m_hWnd, PropertyName(m_hWnd).c_str());
    if (auto exchange = ExchangeOf(FirstObject()))
        exchange->SetNotifyWindow(nullptr, 0);
    delete m_pPanel;
    m_pPanel = nullptr;
#ifndef _WIN32
    // The window is gone: notices still queued for it are dropped, never dispatched.
    velmora::win32::UnregisterWindow(m_hWnd);
#endif
}

void CVelmoraPP::UpdateFromEffect() {
    if (auto exchange = ExchangeOf(FirstObject()))
        exchange->GetProps(&m_props);
    if (m_pPanel)
        m_pPanel->setFilterProps(m_props);
}

HRESULT CVelmoraPP::Apply() {
    auto exchange = ExchangeOf(FirstObject());
    if (m_pPanel)
        m_props = m_pPanel->getFilterProps();
    if (exchange)
        exchange->SetProps(&m_props);
    m_bDirty = FALSE;
    return S_OK;
}

LRESULT CVelmoraPP::PageWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* page = static_cast<CVelmoraPP*>(GetPropA(hwnd, PropertyName(hwnd).c_str()));
    if (!page)
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    if (msg == WM_COMMAND && (wParam & 0xFFFF) == kPageNoticeCommand)
        page->UpdateFromEffect();
    return page->m_pfnOldWndProc ? CallWindowProcA(page->m_pfnOldWndProc, hwnd, msg, wParam, lParam)
                                 : DefWindowProcA(hwnd, msg, wParam, lParam);
}

void CVelmoraPP::OnPanelChange(void* page) {
    static_cast<IPropertyPage*>(static_cast<CVelmoraPP*>(page))->Apply();
}

// Enter and Escape belong to the frame, as in any dialog: the site decides.
bool CVelmoraPP::OnPanelKey(void* page, int keyCode) {
    auto* self = static_cast<CVelmoraPP*>(page);
    WPARAM key = 0;
    if (keyCode == juce::KeyPress::returnKey)
        key = VK_RETURN;
    else if (keyCode == juce::KeyPress::escapeKey)
        key = VK_ESCAPE;
    if (!key)
        return false;
    MSG msg{self->m_hWnd, WM_KEYDOWN, key, 0, 0, {0, 0}};
    if (self->m_pPageSite && self->m_pPageSite->TranslateAccelerator(&msg) == S_OK)
        return true;
#ifdef _WIN32
    // The system's frames leave keys to their dialog, which never sees these: the panel's window
    // wants every key. Offered as the dialog's own, they press its OK or Cancel.
    if (HWND dialog = GetAncestor(self->m_hWnd, GA_ROOT); dialog && dialog != self->m_hWnd) {
        msg.hwnd = dialog;
        return IsDialogMessageA(dialog, &msg) != FALSE;
    }
#endif
    return false;
}
