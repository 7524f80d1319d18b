// IUnknown and small reference helpers.
#pragma once

#include "guid.h"

// Interfaces are plain structs of pure virtuals in Windows slot order, with no virtual
// destructor (it would shift the table).
struct IUnknown {
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) = 0;
    STDMETHOD_(ULONG, AddRef)() = 0;
    STDMETHOD_(ULONG, Release)() = 0;
};
VELMORA_DEFINE_UUID(IUnknown, "{00000000-0000-0000-C000-000000000046}");

using LPUNKNOWN = IUnknown*;

// Our owning pointer, on every platform.
#include "com_ptr.h"
