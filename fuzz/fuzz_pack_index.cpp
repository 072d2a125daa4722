// Pack archives: the input is the one pack of the game folder. The index is built from its table,
// then every entry the index holds is found by its stored name and read (stored or inflated, with
// the checksum test and the parity repair).
#include <cstdlib>

#include "core/appended_data.h"
#include "core/file_location.h"
#include "core/pack_archive.h"
#include "fuzz/support.h"

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzInit(pArgc, pArgv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    FuzzWriteFile("data.kpf", pData, nSize);
    g_bAppendedData = 0;
    g_bPackedData = 0;
    if (BuildPackIndex() == 0) {
        for (int32_t i = 0; i < g_nPackEntries && i < 512; ++i) {
            // The pack's base is its first byte, so the stored name lies in the input itself.
            const int32_t nPos = g_pnPackNamePos[i];
            if (nPos < 0 || size_t(nPos) >= nSize) continue;
            char szName[256];
            if (DecodePackName(szName, pData[nPos], pData + nPos + 1, nSize - size_t(nPos) - 1) < 0) continue;
            FILE_LOCATION loc{};
            if (FindPackEntry(&loc, szName) == FILESRC_PACK && ReadPackEntry(&loc, szName) == 0) std::free(loc.pData);
        }
    }
    FreePackIndex();
    g_bPackedData = 0;
    FuzzEndInput();
    return 0;
}
