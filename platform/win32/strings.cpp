#include "strings.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace velmora::win32 {
namespace {

struct Text {
    std::string narrow;
    std::wstring wide;
};

struct Tables {
    std::mutex mutex;
    std::map<HINSTANCE, std::map<LANGID, std::map<UINT, Text>>> modules;
};

Tables& TheTables() {
    static Tables* tables = new Tables; // outlives every module's unload
    return *tables;
}

std::wstring WidenUtf8(const char* s) {
    std::wstring out;
    auto* p = reinterpret_cast<const unsigned char*>(s);
    while (*p) {
        unsigned c = *p++;
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        char32_t cp = extra ? c & (0x3F >> extra) : c;
        for (int i = 0; i < extra && (*p & 0xC0) == 0x80; ++i)
            cp = (cp << 6) | (*p++ & 0x3F);
        out.push_back(static_cast<wchar_t>(cp));
    }
    return out;
}

// Looks the string up under the lock; null if absent.
const Text* Find(Tables& t, HINSTANCE module, UINT id) {
    auto m = t.modules.find(module);
    if (m == t.modules.end())
        return nullptr;
    auto lookIn = [&](const std::map<UINT, Text>& table) -> const Text* {
        auto s = table.find(id);
        return s == table.end() ? nullptr : &s->second;
    };
    if (auto us = m->second.find(kLangEnglishUS); us != m->second.end())
        if (const Text* text = lookIn(us->second))
            return text;
    for (const auto& [lang, table] : m->second)
        if (const Text* text = lookIn(table))
            return text;
    return nullptr;
}

} // namespace

void AddStrings(HINSTANCE module, LANGID lang,
                std::initializer_list<std::pair<UINT, const char*>> strings) {
    Tables& t = TheTables();
    std::lock_guard lock(t.mutex);
    auto& table = t.modules[module][lang];
    for (const auto& [id, s] : strings)
        table[id] = Text{s, WidenUtf8(s)};
}

void RemoveStrings(HINSTANCE module) {
    Tables& t = TheTables();
    std::lock_guard lock(t.mutex);
    t.modules.erase(module);
}

HINSTANCE ModuleFromAddress(const void* address) {
    Dl_info info{};
    if (!dladdr(address, &info))
        return nullptr;
    return static_cast<HINSTANCE>(info.dli_fbase);
}

} // namespace velmora::win32

using namespace velmora::win32;

int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int cchBufferMax) {
    if (!buffer || cchBufferMax <= 0)
        return 0;
    Tables& t = TheTables();
    std::lock_guard lock(t.mutex);
    const Text* text = Find(t, module, id);
    int n = text ? static_cast<int>(std::min<size_t>(text->narrow.size(), cchBufferMax - 1)) : 0;
    if (n)
        std::memcpy(buffer, text->narrow.data(), n);
    buffer[n] = 0;
    return n;
}

int LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int cchBufferMax) {
    if (!buffer || cchBufferMax < 0)
        return 0;
    Tables& t = TheTables();
    std::lock_guard lock(t.mutex);
    const Text* text = Find(t, module, id);
    if (cchBufferMax == 0) {
        // The table's strings live until the module is removed.
        *reinterpret_cast<const wchar_t**>(buffer) = text ? text->wide.c_str() : nullptr;
        return text ? static_cast<int>(text->wide.size()) : 0;
    }
    int n = text ? static_cast<int>(std::min<size_t>(text->wide.size(), cchBufferMax - 1)) : 0;
    if (n)
        std::wmemcpy(buffer, text->wide.data(), n);
    buffer[n] = 0;
    return n;
}
