#include <cstdio>

#include "settings_frame.h"

namespace velmora::host {

// Built without the platform's property frame: the page cannot be shown.
int RunFrame(EffectSource&, IUnknown*, const SettingsOptions&) {
    std::fprintf(stderr, "velmora: this build has no property frame to show the settings page in; "
                         "use --matte to write a settings file\n");
    return 1;
}

} // namespace velmora::host
