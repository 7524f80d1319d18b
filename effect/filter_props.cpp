#include "filter_props.h"

#include <algorithm>

namespace velmora {

const FilterProps kPresets[kPresetCount] = {
    {255, 0, 0, 0},   // (Default)
    {255, 0, 255, 0}, // Green
    {255, 0, 0, 255}, // Blue
};

void BlendFilterProps(FilterProps* destination, const FilterProps& from, const FilterProps& to,
                      double fraction) {
    // NaN counts as 0: it would otherwise reach an undefined integer conversion.
    const double t = fraction > 0.0 ? std::min(fraction, 1.0) : 0.0;
    auto mix = [t](BYTE a, BYTE b) {
        double v = static_cast<double>(a) + (static_cast<double>(b) - static_cast<double>(a)) * t;
        return static_cast<BYTE>(static_cast<int>(v));
    };
    // Field by field, each reading only its own inputs, so destination may alias from or to.
    destination->red = mix(from.red, to.red);
    destination->green = mix(from.green, to.green);
    destination->blue = mix(from.blue, to.blue);
    destination->alpha = mix(from.alpha, to.alpha);
}

} // namespace velmora
