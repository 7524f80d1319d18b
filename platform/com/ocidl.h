// Automation and control interfaces: IDispatch, IObjectWithSite, IObjectSafety,
// ISpecifyPropertyPages and IMarshal, with their Windows identifiers.
#pragma once

#include "objidl.h"

using DISPID = LONG;
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr DISPID DISPID_PROPERTYPUT = -3;

struct DISPPARAMS {
    VARIANTARG* rgvarg; // arguments in reverse order
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct ITypeInfo;

struct IDispatch : IUnknown {
    STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) = 0;
    STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
    STDMETHOD(GetIDsOfNames)
    (REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) = 0;
    STDMETHOD(Invoke)
    (DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
     VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;
};
VELMORA_DEFINE_UUID(IDispatch, "{00020400-0000-0000-C000-000000000046}");

struct IObjectWithSite : IUnknown {
    STDMETHOD(SetSite)(IUnknown* pUnkSite) = 0;
    STDMETHOD(GetSite)(REFIID riid, void** ppvSite) = 0;
};
VELMORA_DEFINE_UUID(IObjectWithSite, "{FC4801A3-2BA9-11CF-A229-00AA003D7352}");

constexpr DWORD INTERFACESAFE_FOR_UNTRUSTED_CALLER = 0x1;
constexpr DWORD INTERFACESAFE_FOR_UNTRUSTED_DATA = 0x2;

struct IObjectSafety : IUnknown {
    STDMETHOD(GetInterfaceSafetyOptions)
    (REFIID riid, DWORD* pdwSupportedOptions, DWORD* pdwEnabledOptions) = 0;
    STDMETHOD(SetInterfaceSafetyOptions)
    (REFIID riid, DWORD dwOptionSetMask, DWORD dwEnabledOptions) = 0;
};
VELMORA_DEFINE_UUID(IObjectSafety, "{CB5BDC81-93C1-11CF-8F20-00805F2CD064}");

struct CAUUID {
    ULONG cElems;
    GUID* pElems; // task-allocated; the caller frees it
};

struct ISpecifyPropertyPages : IUnknown {
    STDMETHOD(GetPages)(CAUUID* pPages) = 0;
};
VELMORA_DEFINE_UUID(ISpecifyPropertyPages, "{B196B28B-BAB4-101A-B69C-00AA00341D07}");

struct IMarshal : IUnknown {
    STDMETHOD(GetUnmarshalClass)
    (REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext, DWORD mshlflags,
     CLSID* pCid) = 0;
    STDMETHOD(GetMarshalSizeMax)
    (REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext, DWORD mshlflags,
     DWORD* pSize) = 0;
    STDMETHOD(MarshalInterface)
    (IStream* pStm, REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext,
     DWORD mshlflags) = 0;
    STDMETHOD(UnmarshalInterface)(IStream* pStm, REFIID riid, void** ppv) = 0;
    STDMETHOD(ReleaseMarshalData)(IStream* pStm) = 0;
    STDMETHOD(DisconnectObject)(DWORD dwReserved) = 0;
};
VELMORA_DEFINE_UUID(IMarshal, "{00000003-0000-0000-C000-000000000046}");

constexpr CLSID CLSID_InProcFreeMarshaler =
    velmora::com::MakeGuid("{0000033A-0000-0000-C000-000000000046}");

// The free-threaded marshaler, aggregated on punkOuter: it answers IMarshal and passes the
// interface pointer itself between threads of the process.
HRESULT CoCreateFreeThreadedMarshaler(IUnknown* punkOuter, IUnknown** ppunkMarshal);

// Property pages: the interfaces a frame and its pages speak.
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

struct PROPPAGEINFO {
    ULONG cb;
    LPOLESTR pszTitle; // task-allocated, as are the other strings; the frame frees them
    SIZE size;
    LPOLESTR pszDocString;
    LPOLESTR pszHelpFile;
    DWORD dwHelpContext;
};
static_assert(sizeof(PROPPAGEINFO) == 48);

constexpr DWORD PROPPAGESTATUS_DIRTY = 0x1;
constexpr DWORD PROPPAGESTATUS_VALIDATE = 0x2;
constexpr DWORD PROPPAGESTATUS_CLEAN = 0x4;

struct IPropertyPageSite : IUnknown {
    STDMETHOD(OnStatusChange)(DWORD dwFlags) = 0;
    STDMETHOD(GetLocaleID)(LCID* pLocaleID) = 0;
    STDMETHOD(GetPageContainer)(IUnknown** ppUnk) = 0;
    STDMETHOD(TranslateAccelerator)(MSG* pMsg) = 0;
};
VELMORA_DEFINE_UUID(IPropertyPageSite, "{B196B28C-BAB4-101A-B69C-00AA00341D07}");

struct IPropertyPage : IUnknown {
    STDMETHOD(SetPageSite)(IPropertyPageSite* pPageSite) = 0;
    STDMETHOD(Activate)(HWND hWndParent, LPCRECT pRect, BOOL bModal) = 0;
    STDMETHOD(Deactivate)() = 0;
    STDMETHOD(GetPageInfo)(PROPPAGEINFO* pPageInfo) = 0;
    STDMETHOD(SetObjects)(ULONG cObjects, IUnknown** ppUnk) = 0;
    STDMETHOD(Show)(UINT nCmdShow) = 0;
    STDMETHOD(Move)(LPCRECT pRect) = 0;
    STDMETHOD(IsPageDirty)() = 0;
    STDMETHOD(Apply)() = 0;
    STDMETHOD(Help)(LPCOLESTR pszHelpDir) = 0;
    STDMETHOD(TranslateAccelerator)(MSG* pMsg) = 0;
};
VELMORA_DEFINE_UUID(IPropertyPage, "{B196B28D-BAB4-101A-B69C-00AA00341D07}");
