#include "uuid.h"

#include <cstdio>

namespace velmora::com {

std::string GuidToString(REFGUID g) {
    char buf[39];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

std::wstring GuidToWString(REFGUID g) {
    std::string s = GuidToString(g);
    return {s.begin(), s.end()};
}

HRESULT GuidFromString(const char* text, GUID* out) {
    if (!out)
        return E_POINTER;
    return detail::ParseGuid(text, *out) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT GuidFromString(const wchar_t* text, GUID* out) {
    if (!out)
        return E_POINTER;
    return detail::ParseGuid(text, *out) ? S_OK : CO_E_CLASSSTRING;
}

} // namespace velmora::com
