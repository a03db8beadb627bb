// Counts the allocations made by each thread, so that tests can check that the per-frame
// path of the driver allocates nothing. Replaces the global operator new, except in the
// sanitizer builds, whose runtimes own operator new themselves.
#include "tests/drivers/satnic/allocation_counter.h"

#include <cstdlib>
#include <new>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define KEST_SANITIZER_RUNTIME 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KEST_SANITIZER_RUNTIME 1
#endif

#ifndef KEST_SANITIZER_RUNTIME

namespace {
thread_local long threadAllocations = 0;
}

namespace satnic_test {
bool allocationCounting() { return true; }
long allocationsOnThisThread() { return threadAllocations; }
} // namespace satnic_test

void* operator new(std::size_t size)
{
    ++threadAllocations;
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    ++threadAllocations;
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

#else

namespace satnic_test {
bool allocationCounting() { return false; }
long allocationsOnThisThread() { return 0; }
} // namespace satnic_test

#endif
