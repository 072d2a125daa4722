// The compiler link's transfer records: the input is an int32 file count and the transfer block
// behind it. The records are walked, and when they read whole they become the compiler's file
// source, through which the engine then finds and reads each named file.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/compiler_link.h"
#include "core/file_location.h"
#include "fuzz/support.h"

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzInit(pArgc, pArgv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 4) return 0;
    const int32_t nCount = static_cast<int32_t>(FuzzU32(pData));
    // An exact copy of the block, so that a read past it is seen.
    uint8_t* pBlock = static_cast<uint8_t*>(std::malloc(nSize - 4 ? nSize - 4 : 1));
    if (!pBlock) return 0;
    std::memcpy(pBlock, pData + 4, nSize - 4);
    COMPILER_FILE** apFiles = nullptr;
    if (ParseCompilerFiles(pBlock, nSize - 4, nCount, &apFiles) == 0) {
        for (int32_t i = 0; i < nCount; ++i) {
            const COMPILER_FILE* f = apFiles[i];
            if (!f || !f->pszName || f->nSize < 0 || f->pData < pBlock || f->pData + f->nSize > pBlock + (nSize - 4))
                __builtin_trap();
        }
        g_apCompilerFiles = apFiles;
        g_nCompilerFiles = nCount;
        for (int32_t i = 0; i < nCount && i < 16; ++i) {
            const std::string strName = apFiles[i]->pszName;
            FILE_LOCATION loc{};
            const int nFound = LocateFile(&loc, strName.c_str(), 0);
            uint8_t* pRead = nullptr;
            size_t nRead = 0;
            if (ReadFoundFile(&loc, nFound, strName.c_str(), &pRead, &nRead) == 0) std::free(pRead);
        }
        g_apCompilerFiles = nullptr;
        g_nCompilerFiles = 0;
        std::free(apFiles);
    } else if (apFiles) {
        __builtin_trap();   // a refused block hands over nothing
    }
    std::free(pBlock);
    FuzzEndInput();
    return 0;
}
