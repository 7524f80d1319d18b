// Our GUID helpers, on every platform: GUIDs from their braced text at compile time and back,
// and uuidof<T>() tying an interface or class to its identifier. On Windows they sit over the
// SDK's GUID and __uuidof; here the stand-in's guid.h includes this header.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#ifdef _WIN32
#include <objbase.h>
#else
#include "guid.h"
#endif

namespace velmora::com {

namespace detail {
constexpr int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; false on any deviation.
template <class Char>
constexpr bool ParseGuid(const Char* s, GUID& out) {
    if (!s)
        return false;
    // Checked in order, so a short string ends the scan at its terminator.
    if (s[0] != '{')
        return false;
    for (int i = 1; i < 37; ++i) {
        bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? s[i] != '-' : (s[i] > 0x7f || HexDigit(static_cast<char>(s[i])) < 0))
            return false;
    }
    if (s[37] != '}' || s[38] != 0)
        return false;
    auto hex = [&](int from, int count) {
        std::uint32_t v = 0;
        for (int i = 0; i < count; ++i)
            v = (v << 4) | static_cast<std::uint32_t>(HexDigit(static_cast<char>(s[from + i])));
        return v;
    };
    GUID g{};
    g.Data1 = hex(1, 8);
    g.Data2 = static_cast<WORD>(hex(10, 4));
    g.Data3 = static_cast<WORD>(hex(15, 4));
    g.Data4[0] = static_cast<BYTE>(hex(20, 2));
    g.Data4[1] = static_cast<BYTE>(hex(22, 2));
    for (int i = 0; i < 6; ++i)
        g.Data4[2 + i] = static_cast<BYTE>(hex(25 + 2 * i, 2));
    out = g;
    return true;
}
} // namespace detail

// Compile-time GUID from its braced text; a malformed literal does not compile.
consteval GUID MakeGuid(const char (&text)[39]) {
    GUID g{};
    if (!detail::ParseGuid(text, g))
        throw "malformed GUID literal";
    return g;
}

// Upper-case braced form, 38 characters.
std::string GuidToString(REFGUID g);
std::wstring GuidToWString(REFGUID g);
// Runtime parse of the braced form; CO_E_CLASSSTRING if it is not one.
HRESULT GuidFromString(const char* text, GUID* out);
HRESULT GuidFromString(const wchar_t* text, GUID* out);

} // namespace velmora::com

#ifdef _WIN32
// The SDK's own mechanism, so that system and our interfaces are found alike.
template <class T>
const GUID& uuidof() {
    return __uuidof(std::remove_cv_t<std::remove_pointer_t<T>>);
}

#define VELMORA_DEFINE_UUID(type, text)                                                            \
    template <>                                                                                    \
    inline const GUID& __mingw_uuidof<type>() {                                                    \
        static constexpr GUID value = velmora::com::MakeGuid(text);                                \
        return value;                                                                              \
    }
#else
namespace velmora::com {
template <class T>
struct UuidTraits; // specialised per interface or class
} // namespace velmora::com

template <class T>
constexpr const GUID& uuidof() {
    return velmora::com::UuidTraits<std::remove_cv_t<std::remove_pointer_t<T>>>::value;
}

// Ties an interface (or class) type to its identifier.
#define VELMORA_DEFINE_UUID(type, text)                                                            \
    template <>                                                                                    \
    struct velmora::com::UuidTraits<type> {                                                        \
        static constexpr GUID value = velmora::com::MakeGuid(text);                                \
    }
#endif
