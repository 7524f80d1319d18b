// `velmora apply`: PNG files or folders of them through the effect.
#pragma once

#include <string>

namespace velmora::host {

struct ApplyOptions {
    std::string input;
    std::string output;
    std::string matte;    // empty: preset 0
    std::string settings; // a settings file instead of a matte
    unsigned threads = 0; // 0: one per processor
    bool verbose = false;
};

// Returns the process exit code; errors are printed on stderr as one line.
int RunApply(const ApplyOptions& options);

} // namespace velmora::host
