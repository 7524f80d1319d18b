#include "instance.h"

#include <mutex>
#include <vector>

#include "api/velmora.h"
#include "platform/platform.h"

namespace velmora {
namespace {

std::mutex g_mutex;
HINSTANCE g_module = nullptr;
std::vector<std::function<void()>> g_termFuncs;

// The module's string table: the settings page's title and help strings, and the preset names.
void AddModuleStrings(HINSTANCE module) {
    win32::AddStrings(module, kLangEnglishUS,
                      {{IDS_VELMORA_TITLE, "Velmora"},
                       {IDS_VELMORA_HELPFILE, "Help File Name"},
                       {IDS_VELMORA_DOCSTRING, "Your Help String"},
                       {IDS_VELMORA_PRESET0 + 0, "(Default)"},
                       {IDS_VELMORA_PRESET0 + 1, "Green"},
                       {IDS_VELMORA_PRESET0 + 2, "Blue"}});
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
        g_module = win32::ModuleFromAddress(&g_module);
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
