#include "settings_command.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "api/velmora.h"
#include "matte.h"
#include "progress.h"
#include "settings_file.h"
#include "settings_frame.h"

namespace velmora::host {

int FinishFrame(IUnknown* effect, const SettingsOptions& o, bool ok) {
    if (!ok) {
        if (o.verbose)
            Say("cancelled; nothing saved");
        return 0;
    }
    FilterProps p{};
    if (auto exchange = client::Query<ISfExchangeProps<FilterProps>>(effect))
        exchange->GetProps(&p);
    std::string error;
    if (o.file.empty())
        std::printf("%s\n", client::FormatColour(p).c_str());
    else if (!SaveSettings(effect, o.file, &error))
        return Fail(error);
    else if (o.verbose)
        Say("saved " + client::FormatColour(p) + " to " + o.file);
    return 0;
}

int RunSettings(const SettingsOptions& o) {
    std::string error;
    client::EffectSource source;
    client::Effect effect;
    if (!source.Open(o.verbose, &error) || !effect.Create(source, &error))
        return Fail(error);
    std::error_code ec;
    if (!o.file.empty() && std::filesystem::exists(o.file, ec) &&
        !LoadSettings(effect.object(), o.file, &error))
        return Fail(error);
    if (!o.matte.empty()) {
        std::vector<Preset> presets;
        Matte matte;
        if (!client::ReadPresets(effect.object(), &presets, &error))
            return Fail(error);
        if (!ParseMatte(o.matte, presets, &matte, &error))
            return Fail(error, 2);
        if (!ApplyMatte(effect.object(), matte, &error))
            return Fail(error);
        if (o.screenshot.empty()) { // no window: the file is the point
            if (o.file.empty())
                return Fail("settings --matte needs a FILE to write");
            if (!SaveSettings(effect.object(), o.file, &error))
                return Fail(error);
            if (o.verbose)
                Say("saved " + matte.label + " to " + o.file);
            return 0;
        }
    }
#ifndef _WIN32
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        return Fail("the settings page needs an X display, and DISPLAY is not set");
#endif
    return RunFrame(source, effect.object(), o);
}

} // namespace velmora::host
