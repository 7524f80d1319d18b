// The matte a user names on the command line, and how the effect is given it.
#pragma once

#include <string>
#include <vector>

#include "client/client.h"

namespace velmora::host {

using client::Preset;

// The matte a user asked for: a preset of the effect or a colour.
struct Matte {
    bool isPreset = true;
    LONG preset = 0;
    FilterProps colour{};
    std::string label; // how the user should read it back, e.g. "Green (#FF00FF00)"
};

// A preset's name (without case; "default" also names "(Default)") or index, or a colour:
// #RRGGBB, #RGB, #AARRGGBB, or six or eight hex digits alone or after 0x. False with a reason:
// a command-line error.
bool ParseMatte(const std::string& text, const std::vector<Preset>& presets, Matte* matte,
                std::string* error);

// Gives the effect the matte: a preset through IStaticFilterPreset, a colour through
// ISfExchangeProps<FilterProps>.
bool ApplyMatte(IUnknown* effect, const Matte& matte, std::string* error);

// Lower case, for names typed without regard to case.
std::string Lower(std::string s);

} // namespace velmora::host
