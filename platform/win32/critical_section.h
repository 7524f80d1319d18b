// Critical sections: re-entrant locks for the owning thread, as Windows gives them.
#pragma once

#include <mutex>

#include "../com/types.h"

struct CRITICAL_SECTION {
    std::recursive_mutex mutex;
};

inline void InitializeCriticalSection(CRITICAL_SECTION*) {} // the mutex is ready on construction
inline void DeleteCriticalSection(CRITICAL_SECTION*) {}
inline void EnterCriticalSection(CRITICAL_SECTION* cs) {
    cs->mutex.lock();
}
inline void LeaveCriticalSection(CRITICAL_SECTION* cs) {
    cs->mutex.unlock();
}
inline BOOL TryEnterCriticalSection(CRITICAL_SECTION* cs) {
    return cs->mutex.try_lock();
}

// Our scoped lock, on every platform.
#include "crit_sec_lock.h"
