#pragma once
// Counts the program's allocations: replaces the global allocation functions. Included by
// exactly one source file of a benchmark program.

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long long> g_allocations{0};
}

// GCC's mismatch warning does not see that both sides are replaced.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t n)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
