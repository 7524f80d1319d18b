// The platform as the module sees it, in one place. The first group is what the system provides
// (on Windows: windows.h, ole2.h, ocidl.h, olectl.h, oleauto.h, comcat.h); here our stand-ins.
// The second is what the system does not ship, ours everywhere: the object helpers, registry
// scripts, property-page and property-bag helpers, and the transform interfaces and services.
#pragma once

#include "com/comcat.h"
#include "com/objidl.h"
#include "com/ocidl.h"
#include "com/oleauto.h"
#include "com/registry.h"
#include "com/typelib.h"
#include "com/types.h"
#include "win32/critical_section.h"
#include "win32/module.h"
#include "win32/screen.h"
#include "win32/strings.h"
#include "win32/window.h"

#include "com/atl.h"
#include "com/propbag.h"
#include "com/proppage.h"
#include "com/registrar.h"
#include "dxtrans/bounds.h"
#include "dxtrans/dxtransform.h"
