// What the C library knows of a heap block.
#pragma once
#include <cstddef>

// The bytes a block from malloc or aligned_alloc can hold (at least what was asked for), 0 for NULL.
size_t PlatUsableSize(void* p);
