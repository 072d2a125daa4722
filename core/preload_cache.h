// The preload cache: four lists of whole files that the file command loads into memory.
#pragma once
#include <cstdint>

enum { KX_PRELOAD_LISTS = 4, KX_PRELOAD_MAX_ENTRIES = 512 };

struct PRELOAD_ENTRY {
    char* pszName;     // resolved name: lower case, '\' separators
    uint8_t* pData;
    int32_t nSize;
    uint8_t bType;     // file type
};

extern PRELOAD_ENTRY g_aPreloadCache[KX_PRELOAD_LISTS][KX_PRELOAD_MAX_ENTRIES];
extern int32_t g_anPreloadCount[KX_PRELOAD_LISTS];
