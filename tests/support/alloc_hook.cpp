#include "alloc_hook.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace velmora::test {
namespace {

std::atomic<AllocationHook> g_hook{nullptr};
std::atomic<long> g_count{0};

void* Allocate(std::size_t n, std::size_t alignment, bool nothrowArray) noexcept {
    if (AllocationHook hook = g_hook.load(std::memory_order_acquire);
        hook && !hook(n, nothrowArray))
        return nullptr;
    if (!alignment)
        return std::malloc(n ? n : 1);
    return std::aligned_alloc(alignment, (n + alignment - 1) / alignment * alignment);
}

void* AllocateOrThrow(std::size_t n, std::size_t alignment = 0) {
    if (void* p = Allocate(n, alignment, false))
        return p;
    throw std::bad_alloc();
}

} // namespace

void SetAllocationHook(AllocationHook hook) {
    g_hook.store(hook, std::memory_order_release);
}

AllocationCount::AllocationCount() {
    g_count = 0;
    SetAllocationHook([](std::size_t, bool) {
        g_count.fetch_add(1, std::memory_order_relaxed);
        return true;
    });
}

AllocationCount::~AllocationCount() {
    SetAllocationHook(nullptr);
}

long AllocationCount::value() const {
    return g_count.load();
}

} // namespace velmora::test

using velmora::test::Allocate;
using velmora::test::AllocateOrThrow;

// Every form of new takes from malloc, the nothrow array ones telling the hook so; every form of
// delete gives back with free.
#define VELMORA_NEW(Op, Array)                                                                     \
    void* Op(std::size_t n) {                                                                      \
        return AllocateOrThrow(n);                                                                 \
    }                                                                                              \
    void* Op(std::size_t n, const std::nothrow_t&) noexcept {                                      \
        return Allocate(n, 0, Array);                                                              \
    }                                                                                              \
    void* Op(std::size_t n, std::align_val_t a) {                                                  \
        return AllocateOrThrow(n, static_cast<std::size_t>(a));                                    \
    }                                                                                              \
    void* Op(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {                  \
        return Allocate(n, static_cast<std::size_t>(a), Array);                                    \
    }
#define VELMORA_DELETE(...)                                                                        \
    void operator delete(__VA_ARGS__) noexcept {                                                   \
        std::free(p);                                                                              \
    }                                                                                              \
    void operator delete[](__VA_ARGS__) noexcept {                                                 \
        std::free(p);                                                                              \
    }

VELMORA_NEW(operator new, false)
VELMORA_NEW(operator new[], true)
VELMORA_DELETE(void* p)
VELMORA_DELETE(void* p, std::size_t)
VELMORA_DELETE(void* p, const std::nothrow_t&)
VELMORA_DELETE(void* p, std::align_val_t)
VELMORA_DELETE(void* p, std::size_t, std::align_val_t)
VELMORA_DELETE(void* p, std::align_val_t, const std::nothrow_t&)
