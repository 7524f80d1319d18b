// `velmora settings`: the effect's settings page in the platform's property frame.
#pragma once

#include <string>

namespace velmora::host {

struct SettingsOptions {
    std::string file;       // loaded if it exists; written on OK
    std::string screenshot; // render the frame to this PNG and exit
    std::string matte;      // start from this matte; without a window, just write it to the file
    bool verbose = false;
};

int RunSettings(const SettingsOptions& options);

} // namespace velmora::host
