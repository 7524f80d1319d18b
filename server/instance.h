// The module's own state, one of each per module: its instance handle with the string table,
// and the clean-up run at unload.
#pragma once

#include <functional>

#include "platform/platform.h"

namespace velmora {

// The module's instance handle, with its string table in place.
HINSTANCE ModuleInstance();
// Records the handle the loader gave (at process attach); strings are added for it.
void SetModuleInstance(HINSTANCE module);

// Work to run when the module unloads, last added first.
void AddTermFunc(std::function<void()> f);
void RunTermFuncs();

} // namespace velmora
