// The allocation counter of the benchmark program: the C allocation functions are replaced by
// forms that count and hand on to the C library's own allocator (glibc's __libc_* entry points).
// Replaced only where no sanitizer brings its allocator.
#include "bench/alloc_count.h"

#include <atomic>
#include <cerrno>
#include <cstddef>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KX_BENCH_NO_ALLOC_COUNT 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define KX_BENCH_NO_ALLOC_COUNT 1
#endif
#endif

namespace {
std::atomic<uint64_t> s_nAllocations{0};
}

uint64_t BenchAllocationCount() { return s_nAllocations.load(std::memory_order_relaxed); }

#if defined(KX_BENCH_NO_ALLOC_COUNT) || !defined(__GLIBC__)

bool BenchCountsAllocations() { return false; }

#else

bool BenchCountsAllocations() { return true; }

extern "C" {
void* __libc_malloc(size_t n);
void* __libc_calloc(size_t n, size_t m);
void* __libc_realloc(void* p, size_t n);
void* __libc_memalign(size_t a, size_t n);
void __libc_free(void* p);

void* malloc(size_t n)
{
    s_nAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(n);
}
void* calloc(size_t n, size_t m)
{
    s_nAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(n, m);
}
void* realloc(void* p, size_t n)
{
    s_nAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, n);
}
void free(void* p) { __libc_free(p); }
void* memalign(size_t a, size_t n)
{
    s_nAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(a, n);
}
void* aligned_alloc(size_t a, size_t n)
{
    s_nAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(a, n);
}
int posix_memalign(void** pp, size_t a, size_t n)
{
    if (a < sizeof(void*) || (a & (a - 1)) != 0) return EINVAL;
    s_nAllocations.fetch_add(1, std::memory_order_relaxed);
    void* p = __libc_memalign(a, n);
    if (!p && n) return ENOMEM;
    *pp = p;
    return 0;
}
}

#endif
