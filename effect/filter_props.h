// The effect's one parameter, the matte colour, and its built-in presets.
#pragma once

#include <cstdint>
#include <cstring>

#include "api/velmora.h"

namespace velmora {

constexpr int kPresetCount = 3;
constexpr UINT kFirstPresetString = IDS_VELMORA_PRESET0;

// (Default) opaque black, Green, Blue; names at string ids 105 + index.
extern const FilterProps kPresets[kPresetCount];

// The record as the kernel takes it: alpha in bits 0-7, red 8-15, green 16-23, blue 24-31.
inline std::uint32_t PackMatte(const FilterProps& p) {
    return std::uint32_t{p.alpha} | std::uint32_t{p.red} << 8 | std::uint32_t{p.green} << 16 |
           std::uint32_t{p.blue} << 24;
}

// from + (to - from) * t per field, t clamped to 0..1, truncated toward zero.
void BlendFilterProps(FilterProps* destination, const FilterProps& from, const FilterProps& to,
                      double fraction);

} // namespace velmora
