// The 16 x 16 eyedropper PNG (button image and mouse cursor), embedded at build time.
#pragma once

namespace cg {
extern const unsigned char eyeDropperIcon[];
extern const int eyeDropperIconSize;
} // namespace cg
