#include "guid.h"

#include <string>

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax) {
    if (!buffer || cchMax < 39)
        return 0;
    std::string s = velmora::com::GuidToString(guid);
    for (int i = 0; i < 38; ++i)
        buffer[i] = static_cast<OLECHAR>(s[i]);
    buffer[38] = 0;
    return 39;
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
    return velmora::com::GuidFromString(text, clsid);
}
