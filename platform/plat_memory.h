// What the C library knows of a heap block.
#pragma once
#include <cstddef>

// The bytes a block from malloc or aligned_alloc can hold (at least what was asked for), 0 for NULL.
size_t PlatUsableSize(void* p);

// A block of n bytes for arrays filled soon after, 64-byte aligned. From 2 MB on it is aligned to
// 2 MB and, where the system offers it, backed by large pages (one page fault and one clearing per
// 2 MB instead of per 4 KB). Freed with free(). NULL when there is no memory.
void* PlatAllocLargeArrays(size_t n);
