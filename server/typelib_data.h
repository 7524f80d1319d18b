// The module's type library, described as data.
#pragma once

#include "platform/platform.h"

namespace velmora {
extern const com::TypeLibDesc kVelmoraTypeLib;
} // namespace velmora
