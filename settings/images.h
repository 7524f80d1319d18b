// The panel's PNGs, embedded at build time from settings/images.
#pragma once

namespace velmora {
extern const unsigned char bannerImageData[];
extern const int bannerImageDataSize;
extern const unsigned char logoImageData[];
extern const int logoImageDataSize;
} // namespace velmora
