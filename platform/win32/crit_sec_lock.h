// A scoped critical-section lock, ours on every platform.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "critical_section.h"
#endif

namespace velmora::win32 {

class CritSecLock {
public:
    explicit CritSecLock(CRITICAL_SECTION& cs) : cs_(cs) { EnterCriticalSection(&cs_); }
    ~CritSecLock() { LeaveCriticalSection(&cs_); }
    CritSecLock(const CritSecLock&) = delete;
    CritSecLock& operator=(const CritSecLock&) = delete;

private:
    CRITICAL_SECTION& cs_;
};

} // namespace velmora::win32
