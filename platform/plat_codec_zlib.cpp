// ZURUV.DLL: zlib's uncompress and compress2 behind ordinals 1 and 2, with 32-bit lengths; and
// zlib's CRC-32, which the platform offers as a plain function.
#include <zlib.h>

#include "platform/plat_checksum.h"
#include "platform/plat_modules.h"

namespace {

// Ordinal 1. *pDstLen: the destination's capacity in, the bytes produced out; zlib result codes.
int ZuruvUncompress(uint8_t* pDst, uint32_t* pDstLen, const uint8_t* pSrc, uint32_t nSrcLen)
{
    static const uint8_t k_bEmpty = 0;
    if (!pDstLen) return Z_STREAM_ERROR;
    if ((!pDst && *pDstLen) || (!pSrc && nSrcLen)) {
        *pDstLen = 0;
        return Z_STREAM_ERROR;
    }
    uint8_t bScratch = 0;
    uLongf nLen = *pDstLen;
    const int nResult = uncompress(pDst ? pDst : &bScratch, &nLen, pSrc ? pSrc : &k_bEmpty, nSrcLen);
    *pDstLen = nLen <= *pDstLen ? static_cast<uint32_t>(nLen) : 0;
    return nResult;
}

// Ordinal 2. The same lengths; level 0..9 (or -1 for zlib's default).
int ZuruvCompress2(uint8_t* pDst, uint32_t* pDstLen, const uint8_t* pSrc, uint32_t nSrcLen, int nLevel)
{
    static const uint8_t k_bEmpty = 0;
    if (!pDstLen) return Z_STREAM_ERROR;
    if (!pDst || (!pSrc && nSrcLen)) {
        *pDstLen = 0;
        return !pDst ? Z_BUF_ERROR : Z_STREAM_ERROR;
    }
    uLongf nLen = *pDstLen;
    const int nResult = compress2(pDst, &nLen, pSrc ? pSrc : &k_bEmpty, nSrcLen, nLevel);
    *pDstLen = nResult == Z_OK ? static_cast<uint32_t>(nLen) : 0;
    return nResult;
}

const PLAT_MODULE_ENTRY k_aEntries[] = {
    {nullptr, 1, reinterpret_cast<void*>(&ZuruvUncompress)},
    {nullptr, 2, reinterpret_cast<void*>(&ZuruvCompress2)},
};

}  // namespace

uint32_t PlatCrc32(uint32_t nCrc, const void* pData, uint32_t nLen)
{
    // zlib gives the initial value for a NULL buffer; the contract leaves the checksum as it is.
    if (!pData || nLen == 0) return nCrc;
    return static_cast<uint32_t>(crc32(nCrc, static_cast<const Bytef*>(pData), nLen));
}

const PLAT_MODULE_ENTRY* PlatZlibModuleEntries(int* pnCount)
{
    *pnCount = static_cast<int>(sizeof k_aEntries / sizeof k_aEntries[0]);
    return k_aEntries;
}
