// Every form of global operator new and delete, replaced for the programs that link this (one
// each: a program can replace them only once). Allocation and release always meet in malloc and
// free, and a test can watch or fail allocations from every thread.
#pragma once

#include <cstddef>

namespace velmora::test {

// Called for every allocation while set, from whichever thread allocates. Answering false fails
// that allocation: the nothrow forms return null, the others throw std::bad_alloc.
using AllocationHook = bool (*)(std::size_t size, bool nothrowArray);
void SetAllocationHook(AllocationHook hook);

// Counts the allocations made while it lives (through the hook, which it owns meanwhile).
class AllocationCount {
public:
    AllocationCount();
    ~AllocationCount();
    AllocationCount(const AllocationCount&) = delete;
    AllocationCount& operator=(const AllocationCount&) = delete;
    long value() const;
};

} // namespace velmora::test
