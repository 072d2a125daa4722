// KXSNP.DLL: Snappy's C interface behind four named entries, with 32-bit lengths.
#include <snappy-c.h>

#include <cstdint>

#include "platform/plat_modules.h"

namespace {

const char k_bEmpty = 0;

// "KXSnp_Uncompress": 0, 1 for data that is not Snappy, 2 when the destination is too small.
// *pDstLen: capacity in, size out.
int KxSnpUncompress(const uint8_t* pSrc, uint32_t nSrcLen, uint8_t* pDst, uint32_t* pDstLen)
{
    if (!pDstLen) return SNAPPY_INVALID_INPUT;
    if ((!pSrc && nSrcLen) || (!pDst && *pDstLen)) {
        *pDstLen = 0;
        return SNAPPY_INVALID_INPUT;
    }
    const char* pIn = pSrc ? reinterpret_cast<const char*>(pSrc) : &k_bEmpty;
    size_t nNeeded = 0;
    if (snappy_uncompressed_length(pIn, nSrcLen, &nNeeded) != SNAPPY_OK) {
        *pDstLen = 0;
        return SNAPPY_INVALID_INPUT;
    }
    if (nNeeded > *pDstLen) {
        *pDstLen = 0;
        return SNAPPY_BUFFER_TOO_SMALL;
    }
    char cScratch = 0;
    size_t nLen = *pDstLen;
    snappy_status nStatus = SNAPPY_INVALID_INPUT;
    try {
        nStatus = snappy_uncompress(pIn, nSrcLen, pDst ? reinterpret_cast<char*>(pDst) : &cScratch, &nLen);
    } catch (...) {
        nStatus = SNAPPY_INVALID_INPUT;
    }
    *pDstLen = nStatus == SNAPPY_OK ? static_cast<uint32_t>(nLen) : 0;
    return nStatus;
}

// "KXSnp_Compress": 0, or 2 when the destination holds less than "KXSnp_CompressedLength" bytes.
int KxSnpCompress(const uint8_t* pSrc, uint32_t nSrcLen, uint8_t* pDst, uint32_t* pDstLen)
{
    if (!pDstLen) return SNAPPY_INVALID_INPUT;
    if ((!pSrc && nSrcLen) || !pDst) {
        *pDstLen = 0;
        return !pDst ? SNAPPY_BUFFER_TOO_SMALL : SNAPPY_INVALID_INPUT;
    }
    size_t nLen = *pDstLen;
    snappy_status nStatus = SNAPPY_INVALID_INPUT;
    try {
        nStatus = snappy_compress(pSrc ? reinterpret_cast<const char*>(pSrc) : &k_bEmpty, nSrcLen,
                                  reinterpret_cast<char*>(pDst), &nLen);
    } catch (...) {
        nStatus = SNAPPY_INVALID_INPUT;   // no memory for the working tables
    }
    *pDstLen = nStatus == SNAPPY_OK && nLen <= *pDstLen ? static_cast<uint32_t>(nLen) : 0;
    return nStatus;
}

// "KXSnp_CompressedLength": the largest compressed size, 0 when it does not fit 32 bits.
uint32_t KxSnpCompressedLength(uint32_t nSrcLen)
{
    const size_t n = snappy_max_compressed_length(nSrcLen);
    return n <= UINT32_MAX ? static_cast<uint32_t>(n) : 0;
}

// "KXSnp_UncompressedLength": 0 with the length, -1 for data that is not Snappy.
int KxSnpUncompressedLength(const uint8_t* pSrc, uint32_t nSrcLen, uint32_t* pLen)
{
    if (!pLen) return -1;
    *pLen = 0;
    if (!pSrc && nSrcLen) return -1;
    size_t n = 0;
    if (snappy_uncompressed_length(pSrc ? reinterpret_cast<const char*>(pSrc) : &k_bEmpty, nSrcLen, &n) != SNAPPY_OK ||
        n > UINT32_MAX)
        return -1;
    *pLen = static_cast<uint32_t>(n);
    return 0;
}

const PLAT_MODULE_ENTRY k_aEntries[] = {
    {"KXSnp_Uncompress", 0, reinterpret_cast<void*>(&KxSnpUncompress)},
    {"KXSnp_Compress", 0, reinterpret_cast<void*>(&KxSnpCompress)},
    {"KXSnp_CompressedLength", 0, reinterpret_cast<void*>(&KxSnpCompressedLength)},
    {"KXSnp_UncompressedLength", 0, reinterpret_cast<void*>(&KxSnpUncompressedLength)},
};

}  // namespace

const PLAT_MODULE_ENTRY* PlatSnappyModuleEntries(int* pnCount)
{
    *pnCount = static_cast<int>(sizeof k_aEntries / sizeof k_aEntries[0]);
    return k_aEntries;
}
