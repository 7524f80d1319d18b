#include "settings_command.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "api/velmora.h"
#include "effect_client.h"
#include "settings_frame.h"

using velmora::com::ComPtr;

namespace velmora::host {
namespace {

int Fail(const std::string& message) {
    std::fprintf(stderr, "velmora: %s\n", message.c_str());
    return 1;
}

} // namespace

int RunSettings(const SettingsOptions& o) {
    std::string error;
    EffectSource source;
    if (!source.Open(o.verbose, &error))
        return Fail(error);
    ComPtr<IUnknown> effect;
    HRESULT hr =
        source.Create(CLSID_Velmora, uuidof<IUnknown>(), reinterpret_cast<void**>(&effect));
    if (FAILED(hr))
        return Fail("cannot create the effect (" + Hex(hr) + ")");

    std::error_code ec;
    if (!o.file.empty() && std::filesystem::exists(o.file, ec)) {
        if (!LoadSettings(effect.Get(), o.file, &error))
            return Fail(error);
    } else {
        ComPtr<IPersistStreamInit> init;
        effect->QueryInterface(uuidof<IPersistStreamInit>(), reinterpret_cast<void**>(&init));
        if (init)
            init->InitNew();
    }
    if (!o.matte.empty()) {
        std::vector<Preset> presets;
        Matte matte;
        if (!ReadPresets(effect.Get(), &presets, &error))
            return Fail(error);
        if (!ParseMatte(o.matte, presets, &matte, &error)) {
            Fail(error);
            return 2;
        }
        if (!ApplyMatte(effect.Get(), matte, &error))
            return Fail(error);
        if (o.screenshot.empty()) { // no window: the file is the point
            if (o.file.empty())
                return Fail("settings --matte needs a FILE to write");
            if (!SaveSettings(effect.Get(), o.file, &error))
                return Fail(error);
            if (o.verbose)
                std::fprintf(stderr, "velmora: saved %s to %s\n", matte.label.c_str(),
                             o.file.c_str());
            return 0;
        }
    }
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        return Fail("the settings page needs an X display, and DISPLAY is not set");
    return RunFrame(source, effect.Get(), o);
}

} // namespace velmora::host
