// Until the file command fills them, the lists are empty.
#include "core/preload_cache.h"

PRELOAD_ENTRY g_aPreloadCache[KX_PRELOAD_LISTS][KX_PRELOAD_MAX_ENTRIES];
int32_t g_anPreloadCount[KX_PRELOAD_LISTS];
