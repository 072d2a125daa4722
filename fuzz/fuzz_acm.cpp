// The compressed-WAV converters (MS ADPCM, IMA ADPCM, A-law, mu-law) alone: the input is a 16-bit
// little-endian length, that many bytes of format block (as a fmt chunk stores it) and the data.
// The suggest step, the size bound and the conversion run as the WAV loader calls them; the
// conversion must never write past the bound it gave.
#include <cstdlib>
#include <vector>

#include "fuzz/support.h"
#include "platform/plat_acm.h"

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzInit(pArgc, pArgv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 2) return 0;
    size_t nFmt = size_t(pData[0]) | size_t(pData[1]) << 8;
    if (nFmt > nSize - 2) nFmt = nSize - 2;
    // The loader hands over at least the 18 bytes of the header, zero-filled.
    std::vector<uint8_t> fmt(pData + 2, pData + 2 + nFmt);
    if (fmt.size() < 18) fmt.resize(18, 0);
    const uint8_t* pSrc = pData + 2 + nFmt;
    const size_t nSrc = nSize - 2 - nFmt;

    PLAT_WAVE_FORMAT dst{};
    if (PlatAcmSuggestPCM(fmt.data(), fmt.size(), &dst) != PLAT_ACM_OK) return 0;
    size_t nBound = 0;
    if (PlatAcmConvertSize(fmt.data(), fmt.size(), nSrc, &nBound) != PLAT_ACM_OK || nBound > (64u << 20)) return 0;
    // Exactly the bound: ASan sees any write past it.
    uint8_t* pOut = static_cast<uint8_t*>(std::malloc(nBound ? nBound : 1));
    if (!pOut) return 0;
    size_t nProduced = 0;
    if (PlatAcmConvert(fmt.data(), fmt.size(), pSrc, nSrc, pOut, nBound, &nProduced) == PLAT_ACM_OK && nProduced > nBound)
        std::abort();
    // Too small a destination is refused, never overrun.
    std::free(pOut);
    if (nBound > 1) {
        uint8_t* pSmall = static_cast<uint8_t*>(std::malloc(nBound / 2));
        if (pSmall) PlatAcmConvert(fmt.data(), fmt.size(), pSrc, nSrc, pSmall, nBound / 2, &nProduced);
        std::free(pSmall);
    }
    return 0;
}
