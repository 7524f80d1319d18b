#include "instance.h"

#include <mutex>
#include <vector>

#include "api/velmora.h"
#include "platform/platform.h"
#include "strings.h"

namespace velmora {
namespace {

std::mutex g_mutex;
HINSTANCE g_module = nullptr;
std::vector<std::function<void()>> g_termFuncs;

#define VELMORA_STRING_ID(id, text) id,
constexpr UINT kStringIds[] = {VELMORA_STRINGS(VELMORA_STRING_ID)};
static_assert(kStringIds[0] == IDS_VELMORA_TITLE && kStringIds[1] == IDS_VELMORA_HELPFILE &&
              kStringIds[2] == IDS_VELMORA_DOCSTRING && kStringIds[3] == IDS_VELMORA_PRESET0);

// The module's string table: the settings page's title and help strings, and the preset names.
// On Windows they are the module's STRINGTABLE resource and need no adding.
void AddModuleStrings([[maybe_unused]] HINSTANCE module) {
#ifndef _WIN32
#define VELMORA_STRING_ENTRY(id, text) {id, text},
    win32::AddStrings(module, kLangEnglishUS, {VELMORA_STRINGS(VELMORA_STRING_ENTRY)});
#endif
}

// The image (program or module) that holds this code.
HINSTANCE ImageOfThisCode() {
#ifdef _WIN32
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&g_module), &module);
    return module;
#else
    return win32::ModuleFromAddress(&g_module);
#endif
}

} // namespace

void SetModuleInstance(HINSTANCE module) {
    std::lock_guard lock(g_mutex);
    g_module = module;
    AddModuleStrings(module);
}

HINSTANCE ModuleInstance() {
    std::lock_guard lock(g_mutex);
    if (!g_module) {
        // Linked into a program rather than loaded: the image holding this code.
        g_module = ImageOfThisCode();
        AddModuleStrings(g_module);
    }
    return g_module;
}

void AddTermFunc(std::function<void()> f) {
    std::lock_guard lock(g_mutex);
    g_termFuncs.push_back(std::move(f));
}

void RunTermFuncs() {
    std::vector<std::function<void()>> funcs;
    {
        std::lock_guard lock(g_mutex);
        funcs.swap(g_termFuncs);
    }
    for (auto it = funcs.rbegin(); it != funcs.rend(); ++it)
        (*it)();
}

} // namespace velmora
