// `velmora sample`: a synthetic matted clip to try the effect on. Soft-edged shapes with partial
// alpha move over a clear background; every pixel is composited against the matte colour
// (c' = c·a + m·(1 − a)) and keeps its alpha, as keyed footage exported against a solid colour.
#pragma once

#include <string>

#include "api/velmora.h"

namespace velmora::host {

struct SampleOptions {
    std::string folder;
    unsigned frames = 48;
    unsigned width = 1920;
    unsigned height = 1080;
    FilterProps matte{255, 0, 255, 0}; // green
    unsigned threads = 0;
};

int RunSample(const SampleOptions& options);

} // namespace velmora::host
