// GUIDs, their braced text form, and uuidof<T>() for interfaces and classes.
#pragma once

#include <string>
#include <type_traits>

#include "hresult.h"

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];

    friend constexpr bool operator==(const GUID& a, const GUID& b) {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
            return false;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i])
                return false;
        return true;
    }
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

constexpr GUID GUID_NULL{};

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
    return a == b;
}
inline bool IsEqualIID(REFIID a, REFIID b) {
    return a == b;
}
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) {
    return a == b;
}

// Our GUID helpers: the same on every platform.
#include "uuid.h"

#define IID_PPV_ARGS(pp)                                                                           \
    uuidof<std::remove_reference_t<decltype(**(pp))>>(), reinterpret_cast<void**>(pp)

// Writes the braced form with its terminator; the number of characters written including it,
// or 0 if the buffer holds fewer than 39.
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax);
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);
