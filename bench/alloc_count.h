// Counting of heap allocations in the benchmark program: every malloc, calloc, realloc,
// aligned_alloc, posix_memalign and memalign (and so every operator new) adds one. Sanitizer builds
// keep their own allocator and count nothing (BenchCountsAllocations is then false).
#pragma once
#include <cstdint>

uint64_t BenchAllocationCount();
bool BenchCountsAllocations();
