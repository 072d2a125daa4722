#include "platform/plat_memory.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

size_t PlatUsableSize(void* p)
{
    return p ? malloc_usable_size(p) : 0;
}

void* PlatAllocLargeArrays(size_t n)
{
    const size_t kLarge = size_t(2) << 20;
    if (n < kLarge) return std::aligned_alloc(64, (n + 63) / 64 * 64 + 64);   // a small block stays small
    const size_t nRounded = (n + kLarge - 1) / kLarge * kLarge;
    void* p = std::aligned_alloc(kLarge, nRounded);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (p) madvise(p, nRounded, MADV_HUGEPAGE);
#endif
    return p;
}
