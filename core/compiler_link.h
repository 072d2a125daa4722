// The files the outside script compiler hands over in memory (development layout).
#pragma once
#include <cstdint>

struct COMPILER_FILE {
    const char* pszName;   // e.g. "kxbin\\kxc.kbn"
    int32_t nSize;
    const uint8_t* pData;
};

extern COMPILER_FILE** g_apCompilerFiles;
extern int32_t g_nCompilerFiles;

// The link to the outside script compiler (development layout) is not built yet: this stand-in
// answers 0, as when there is nothing to compile, and the game runs from its compiled files.
int RunCompilerLink(void);
