// Critical sections: re-entrant locks for the owning thread, as Windows gives them.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "../com/types.h"

// The mutex is ready on construction; a section is still only usable between Initialize and
// Delete, as on Windows, where one never initialised blocks its first caller for ever.
struct CRITICAL_SECTION {
    std::recursive_mutex mutex;
    bool initialized = false;
};

namespace velmora::win32 {
inline CRITICAL_SECTION* Usable(CRITICAL_SECTION* cs) {
    if (!cs->initialized) {
        std::fputs("critical section used without InitializeCriticalSection\n", stderr);
        std::abort();
    }
    return cs;
}
} // namespace velmora::win32

inline void InitializeCriticalSection(CRITICAL_SECTION* cs) {
    cs->initialized = true;
}
inline void DeleteCriticalSection(CRITICAL_SECTION* cs) {
    cs->initialized = false;
}
inline void EnterCriticalSection(CRITICAL_SECTION* cs) {
    velmora::win32::Usable(cs)->mutex.lock();
}
inline void LeaveCriticalSection(CRITICAL_SECTION* cs) {
    velmora::win32::Usable(cs)->mutex.unlock();
}
inline BOOL TryEnterCriticalSection(CRITICAL_SECTION* cs) {
    return velmora::win32::Usable(cs)->mutex.try_lock();
}

// Our scoped lock, on every platform.
#include "crit_sec_lock.h"
