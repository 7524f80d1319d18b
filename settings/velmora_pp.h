// CVelmoraPP: the effect's settings page. A property page whose whole user interface is the
// settings panel, placed into the frame's window; it writes every edit to the effect at once and
// follows the effect's change notices.
#pragma once

#include "effect/filter_props.h"
#include "platform/platform.h"

class PropPageComp;

// The command the effect posts to the page's window when its record changed by another road.
constexpr UINT kPageNoticeCommand = 0x7F00;

class CVelmoraPP : public velmora::com::CComObjectRootEx, public IPropertyPageImpl<CVelmoraPP> {
public:
    CVelmoraPP();
    ~CVelmoraPP() override;

    HRESULT FinalConstruct();
    void FinalRelease();

    BEGIN_COM_MAP(CVelmoraPP)
    COM_INTERFACE_ENTRY(IPropertyPage)
    COM_INTERFACE_ENTRY_AGGREGATE(uuidof<IMarshal>(), m_pUnkMarshaler)
    END_COM_MAP()

    virtual IUnknown* GetControllingUnknown();
    // Makes the panel inside parent and answers its window.
    virtual HWND Create(HWND parent);
    // Takes the panel and its window down and tells the effect to stop posting to it.
    virtual void DestroyWindow();

    STDMETHOD(Apply)() override;

    SIZE PageSize() const { return {280, 360}; }
    HINSTANCE ModuleInstance() const;

    // For the page's own window procedure, and for tests.
    PropPageComp* panel() const { return m_pPanel; }
    const FilterProps& props() const { return m_props; }

    HWND m_hWnd = nullptr;
    IUnknown* m_pUnkMarshaler = nullptr;
    HWND m_hWndParent = nullptr;
    WNDPROC m_pfnOldWndProc = nullptr;
    PropPageComp* m_pPanel = nullptr;
    FilterProps m_props{255, 0, 0, 0}; // opaque black until the effect is read

private:
    void UpdateFromEffect();
    static LRESULT PageWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static void OnPanelChange(void* page);
    static bool OnPanelKey(void* page, int keyCode);
};

namespace velmora {
HRESULT CreateSettingsPage(IUnknown* outer, REFIID riid, void** ppv);
} // namespace velmora
