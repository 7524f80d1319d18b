// The platform as the module sees it, in one place: what the system provides (system.h), then
// what the system does not ship, ours everywhere: the object helpers, registry scripts,
// property-page and property-bag helpers, and the transform interfaces and services.
#pragma once

#include "system.h"

#include "com/atl.h"
#include "com/memory.h"
#include "com/propbag.h"
#include "com/proppage.h"
#include "com/registrar.h"
#include "dxtrans/bounds.h"
#include "dxtrans/dxtransform.h"
