#include "platform/plat_memory.h"

#include <malloc.h>

size_t PlatUsableSize(void* p)
{
    return p ? malloc_usable_size(p) : 0;
}
