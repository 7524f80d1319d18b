// The component categories manager: which classes implement or require which categories.
#pragma once

#include "unknown.h"

using CATID = GUID;
using REFCATID = const GUID&;

struct CATEGORYINFO {
    CATID catid;
    LCID lcid;
    OLECHAR szDescription[128];
};

struct ICatRegister : IUnknown {
    STDMETHOD(RegisterCategories)(ULONG cCategories, CATEGORYINFO rgCategoryInfo[]) = 0;
    STDMETHOD(UnRegisterCategories)(ULONG cCategories, CATID rgcatid[]) = 0;
    STDMETHOD(RegisterClassImplCategories)(REFCLSID rclsid, ULONG cCategories, CATID rgcatid[]) = 0;
    STDMETHOD(UnRegisterClassImplCategories)
    (REFCLSID rclsid, ULONG cCategories, CATID rgcatid[]) = 0;
    STDMETHOD(RegisterClassReqCategories)(REFCLSID rclsid, ULONG cCategories, CATID rgcatid[]) = 0;
    STDMETHOD(UnRegisterClassReqCategories)
    (REFCLSID rclsid, ULONG cCategories, CATID rgcatid[]) = 0;
};
VELMORA_DEFINE_UUID(ICatRegister, "{0002E012-0000-0000-C000-000000000046}");

constexpr CLSID CLSID_StdComponentCategoriesMgr =
    velmora::com::MakeGuid("{0002E005-0000-0000-C000-000000000046}");
