// What the system provides, in one place: on Windows its own headers, here our stand-ins. Then
// the small COM helpers of ours that every platform gets (uuidof, MakeGuid, ComPtr, CritSecLock).
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX // std::min and std::max stay usable
#endif
#include <windows.h>

#include <comcat.h>
#include <objsafe.h>
#include <ocidl.h>
#include <oleauto.h>
#include <olectl.h>
#include <ole2.h>
#else
#include "com/activation.h"
#include "com/comcat.h"
#include "com/objidl.h"
#include "com/ocidl.h"
#include "com/oleauto.h"
#include "com/registry.h"
#include "com/typelib.h"
#include "com/types.h"
#include "win32/critical_section.h"
#include "win32/event.h"
#include "win32/module.h"
#include "win32/screen.h"
#include "win32/strings.h"
#include "win32/window.h"
#endif

#include "com/com_ptr.h"
#include "com/uuid.h"
#include "win32/crit_sec_lock.h"

#ifdef _WIN32
// MinGW-w64's objsafe.h gives this interface no __uuidof.
VELMORA_DEFINE_UUID(IObjectSafety, "{CB5BDC81-93C1-11CF-8F20-00805F2CD064}");
#endif
