// Save-data byte layout: writers and bounded parsers of the header, records, bodies and the slot blob.
#include "save/save_format.h"

#include <cstring>
#include <limits>

#include "core/codecs.h"
#include "image/layer.h"
#include "script/variables.h"

namespace {

const uint8_t kMagic[4] = {'K', 'X', 'S', 'D'};

// zlib's own worst case (compressBound) for n bytes, never below n x 12 / 10 so that callers
// sizing with the engine's traditional rule and with this bound agree on which is larger.
uint64_t ZlibBound(uint64_t n)
{
    const uint64_t nZlib = n + (n >> 12) + (n >> 14) + (n >> 25) + 13;
    const uint64_t nRule = n * 12 / 10;
    return nZlib > nRule ? nZlib : nRule;
}

uint32_t ClampU32(size_t n)
{
    return n > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max() : static_cast<uint32_t>(n);
}

// The variable to save and the elements it covers.
struct VAR_SOURCE {
    const VAR_DESC* pVar;
    int nVar;
    int bWhole;
    int64_t llFirst;    // first element
    int64_t llCount;    // elements written
    uint32_t nDims;     // dimensions written (0 for one element)
};

int PrepareVarSource(int nVar, int bWhole, int64_t llElem, VAR_SOURCE* pSrc)
{
    const VAR_DESC* pVar = GetVarDesc(nVar);
    if (!pVar)
        return KX_SAVE_ERR_ARG;
    if (pVar->bType < KX_VAR_TYPE_INT || pVar->bType > KX_VAR_TYPE_STRING)
        return KX_SAVE_ERR_TYPE;
    if (pVar->nDims < 0 || pVar->nDims > KX_VAR_MAX_DIMS)
        return KX_SAVE_ERR_DIMS;
    pSrc->pVar = pVar;
    pSrc->nVar = nVar;
    pSrc->bWhole = bWhole ? 1 : 0;
    if (bWhole) {
        // The dimensions written must describe exactly the elements written.
        int64_t llProduct = 1;
        for (int i = 0; i < pVar->nDims; ++i) {
            if (pVar->anDim[i] < 0)
                return KX_SAVE_ERR_ARG;
            llProduct *= pVar->anDim[i];
            if (llProduct > KX_VAR_MAX_ELEMENTS)
                return KX_SAVE_ERR_ARG;
        }
        if (llProduct != pVar->llCount)
            return KX_SAVE_ERR_ARG;
        pSrc->llFirst = 0;
        pSrc->llCount = pVar->llCount;
        pSrc->nDims = static_cast<uint32_t>(pVar->nDims);
    } else {
        if (llElem < 0 || llElem >= pVar->llCount)
            return KX_SAVE_ERR_ARG;
        pSrc->llFirst = llElem;
        pSrc->llCount = 1;
        pSrc->nDims = 0;
    }
    return KX_SAVE_OK;
}

// The text of an element and its length (system variables through the store accessor).
const char* SourceText(const VAR_SOURCE* pSrc, int64_t llElem, size_t* pnLen)
{
    const char* psz = nullptr;
    if (pSrc->nVar >= KX_FIRST_USER_VAR)
        psz = pSrc->pVar->ppszTexts ? pSrc->pVar->ppszTexts[llElem] : nullptr;
    else
        psz = GetVarString(pSrc->nVar, llElem);
    if (!psz)
        psz = "";
    *pnLen = strlen(psz);
    return psz;
}

int VarValueSize(const VAR_SOURCE* pSrc, uint64_t* pnValueSize)
{
    uint64_t n = 0;
    if (pSrc->pVar->bType == KX_VAR_TYPE_STRING) {
        for (int64_t i = 0; i < pSrc->llCount; ++i) {
            size_t nLen = 0;
            SourceText(pSrc, pSrc->llFirst + i, &nLen);
            n += 4 + static_cast<uint64_t>(nLen);
            if (n > KX_SAVE_MAX_VALUE_SIZE)
                return KX_SAVE_ERR_VALUE_SIZE;
        }
    } else {
        n = static_cast<uint64_t>(pSrc->llCount) * 8;
        if (n > KX_SAVE_MAX_VALUE_SIZE)
            return KX_SAVE_ERR_VALUE_SIZE;
    }
    *pnValueSize = n;
    return KX_SAVE_OK;
}

}  // namespace

// ---- File header ----

void InitSaveFileHeader(SAVE_FILE_HEADER* pHdr)
{
    memset(pHdr, 0, sizeof(*pHdr));
    pHdr->nVersion = KX_SAVE_VERSION;
    pHdr->nTableSize = KX_SAVE_TABLE_ENTRIES;
}

void WriteSaveFileHeader(const SAVE_FILE_HEADER* pHdr, uint8_t* pOut)
{
    memcpy(pOut, kMagic, 4);
    PutSaveU32(pOut + 4, pHdr->nVersion);
    PutSaveU32(pOut + 8, pHdr->nCount);
    PutSaveU32(pOut + 12, pHdr->nTableSize);
    for (int i = 0; i < KX_SAVE_TABLE_ENTRIES; ++i)
        PutSaveU32(pOut + 16 + 4 * i, pHdr->anOffset[i]);
}

int ParseSaveFileHeader(const uint8_t* pData, size_t nSize, SAVE_FILE_HEADER* pOut)
{
    if (!pData || nSize < 4 || memcmp(pData, kMagic, 4) != 0)
        return KX_SAVE_ERR_MAGIC;
    if (nSize < 8)
        return KX_SAVE_ERR_SHORT;
    pOut->nVersion = GetSaveU32(pData + 4);
    if (pOut->nVersion != KX_SAVE_VERSION)
        return KX_SAVE_ERR_VERSION;
    if (nSize < KX_SAVE_HEADER_SIZE)
        return KX_SAVE_ERR_SHORT;
    pOut->nCount = GetSaveU32(pData + 8);
    pOut->nTableSize = GetSaveU32(pData + 12);
    for (int i = 0; i < KX_SAVE_TABLE_ENTRIES; ++i)
        pOut->anOffset[i] = GetSaveU32(pData + 16 + 4 * i);
    return KX_SAVE_OK;
}

// ---- Record header ----

void WriteSaveRecordHeader(const SAVE_RECORD_HEADER* pHdr, uint8_t* pOut)
{
    pOut[0] = pHdr->bKind;
    pOut[1] = pHdr->bOne;
    PutSaveU16(pOut + 2, pHdr->wVar);
    PutSaveU32(pOut + 4, pHdr->nPacked);
    PutSaveU32(pOut + 8, pHdr->nRaw);
}

int ParseSaveRecordHeader(const uint8_t* pData, size_t nSize, SAVE_RECORD_HEADER* pOut)
{
    if (!pData || nSize < KX_SAVE_RECORD_HEADER_SIZE)
        return KX_SAVE_ERR_SHORT;
    pOut->bKind = pData[0];
    pOut->bOne = pData[1];
    pOut->wVar = GetSaveU16(pData + 2);
    pOut->nPacked = GetSaveU32(pData + 4);
    pOut->nRaw = GetSaveU32(pData + 8);
    return pOut->bKind > SAVEREC_CONTAINER ? KX_SAVE_ERR_KIND : KX_SAVE_OK;
}

int ReadSaveRecordAt(const uint8_t* pImage, size_t nSize, size_t nPos, uint32_t* pnDno, SAVE_RECORD_HEADER* pRec,
                     size_t* pnRecordBytes)
{
    if (!pImage || nPos > nSize || nSize - nPos < KX_SAVE_RECORD_PREFIX)
        return KX_SAVE_ERR_SHORT;
    const uint32_t nDno = GetSaveU32(pImage + nPos);
    *pnDno = nDno;
    if (nDno < 1 || nDno > KX_SAVE_MAX_DNO)
        return KX_SAVE_ERR_BAD_DNO;
    const int rc = ParseSaveRecordHeader(pImage + nPos + 4, nSize - nPos - 4, pRec);
    if (rc != KX_SAVE_OK)
        return rc;
    if (pRec->nPacked > nSize - nPos - KX_SAVE_RECORD_PREFIX)
        return KX_SAVE_ERR_SHORT;
    *pnRecordBytes = KX_SAVE_RECORD_PREFIX + static_cast<size_t>(pRec->nPacked);
    return KX_SAVE_OK;
}

int LocateSaveRecord(const uint8_t* pImage, size_t nSize, int nDno, SAVE_RECORD_HEADER* pRec,
                     const uint8_t** ppPacked)
{
    if (nDno < 1 || nDno > KX_SAVE_MAX_DNO)
        return KX_SAVE_ERR_BAD_DNO;
    if (!pImage || nSize < 4 || memcmp(pImage, kMagic, 4) != 0)
        return KX_SAVE_ERR_MAGIC;
    if (nSize < 8)
        return KX_SAVE_ERR_SHORT;
    if (GetSaveU32(pImage + 4) != KX_SAVE_VERSION)
        return KX_SAVE_ERR_VERSION;
    if (nSize < KX_SAVE_HEADER_SIZE)
        return KX_SAVE_ERR_SHORT;
    const uint32_t nOffset = GetSaveU32(pImage + 16 + 4 * (nDno - 1));
    if (nOffset == 0)
        return KX_SAVE_ERR_NO_RECORD;
    if (nOffset < KX_SAVE_HEADER_SIZE || nOffset > nSize || nSize - nOffset < KX_SAVE_RECORD_PREFIX)
        return KX_SAVE_ERR_SHORT;
    const int rc = ParseSaveRecordHeader(pImage + nOffset + 4, nSize - nOffset - 4, pRec);
    if (rc != KX_SAVE_OK)
        return rc;
    if (pRec->nPacked > nSize - nOffset - KX_SAVE_RECORD_PREFIX)
        return KX_SAVE_ERR_SHORT;
    if (ppPacked)
        *ppPacked = pImage + nOffset + KX_SAVE_RECORD_PREFIX;
    return KX_SAVE_OK;
}

// ---- Kind 0: variables ----

// What a variable body holds: its source, the size of its values and of the whole body.
static int VarBodyLayout(int nVar, int bWhole, int64_t llElem, VAR_SOURCE* pSrc, uint64_t* pnValueSize,
                         uint64_t* pnBody)
{
    int rc = PrepareVarSource(nVar, bWhole, llElem, pSrc);
    if (rc != KX_SAVE_OK)
        return rc;
    rc = VarValueSize(pSrc, pnValueSize);
    if (rc != KX_SAVE_OK)
        return rc;
    *pnBody = 12 + 4 * static_cast<uint64_t>(pSrc->nDims) + *pnValueSize;
    return KX_SAVE_OK;
}

int GetVarBodySize(int nVar, int bWhole, int64_t llElem, uint32_t* pnSize)
{
    VAR_SOURCE src{};
    uint64_t nValueSize = 0, nBody = 0;
    const int rc = VarBodyLayout(nVar, bWhole, llElem, &src, &nValueSize, &nBody);
    if (rc != KX_SAVE_OK)
        return rc;
    *pnSize = static_cast<uint32_t>(nBody);
    return KX_SAVE_OK;
}

int SerializeVarBody(int nVar, int bWhole, int64_t llElem, uint8_t* pOut, size_t nCap, size_t* pnWritten)
{
    VAR_SOURCE src{};
    uint64_t nValueSize = 0, nBody = 0;
    const int rc = VarBodyLayout(nVar, bWhole, llElem, &src, &nValueSize, &nBody);
    if (rc != KX_SAVE_OK)
        return rc;
    if (!pOut || nCap < nBody)
        return KX_SAVE_ERR_ARG;
    const VAR_DESC* pVar = src.pVar;
    uint8_t* p = pOut;
    PutSaveU32(p, pVar->bType);
    PutSaveU32(p + 4, src.nDims);
    p += 8;
    for (uint32_t i = 0; i < src.nDims; ++i, p += 4)
        PutSaveU32(p, static_cast<uint32_t>(pVar->anDim[i]));
    PutSaveU32(p, static_cast<uint32_t>(nValueSize));
    p += 4;
    const bool bUser = nVar >= KX_FIRST_USER_VAR;
    for (int64_t i = 0; i < src.llCount; ++i) {
        const int64_t e = src.llFirst + i;
        if (pVar->bType == KX_VAR_TYPE_STRING) {
            size_t nLen = 0;
            const char* psz = SourceText(&src, e, &nLen);
            PutSaveU32(p, static_cast<uint32_t>(nLen));
            memcpy(p + 4, psz, nLen);
            p += 4 + nLen;
        } else if (pVar->bType == KX_VAR_TYPE_INT) {
            const int64_t v = bUser ? (pVar->pllValues ? pVar->pllValues[e] : 0) : GetVarInt(nVar, e);
            uint64_t u;
            memcpy(&u, &v, 8);
            PutSaveU32(p, static_cast<uint32_t>(u));
            PutSaveU32(p + 4, static_cast<uint32_t>(u >> 32));
            p += 8;
        } else {
            const double d = bUser ? (pVar->pdValues ? pVar->pdValues[e] : 0.0) : GetVarFloat(nVar, e);
            uint64_t u;
            memcpy(&u, &d, 8);
            PutSaveU32(p, static_cast<uint32_t>(u));
            PutSaveU32(p + 4, static_cast<uint32_t>(u >> 32));
            p += 8;
        }
    }
    *pnWritten = static_cast<size_t>(p - pOut);
    return KX_SAVE_OK;
}

int ParseVarBody(const uint8_t* pData, size_t nSize, SAVE_VAR_BODY* pOut)
{
    memset(pOut, 0, sizeof(*pOut));
    if (!pData || nSize < 8)
        return KX_SAVE_ERR_SHORT;
    pOut->nType = GetSaveU32(pData);
    pOut->nDims = GetSaveU32(pData + 4);
    if (pOut->nType < KX_VAR_TYPE_INT || pOut->nType > KX_VAR_TYPE_STRING)
        return KX_SAVE_ERR_TYPE;
    if (pOut->nDims > KX_VAR_MAX_DIMS)
        return KX_SAVE_ERR_DIMS;
    const size_t nHead = 8 + 4 * static_cast<size_t>(pOut->nDims) + 4;
    if (nSize < nHead)
        return KX_SAVE_ERR_SHORT;
    uint64_t llCount = 1;
    for (uint32_t i = 0; i < pOut->nDims; ++i) {
        pOut->anDim[i] = GetSaveU32(pData + 8 + 4 * i);
        // Saturate at 2^40 (far above what a value size of 40,000,000 holds, refused below), so
        // that neither the product nor count x 8 can wrap round to a small number.
        const uint64_t nDim = pOut->anDim[i];
        llCount = (nDim != 0 && llCount > (1ull << 40) / nDim) ? (1ull << 40) : llCount * nDim;
    }
    pOut->llCount = llCount;
    pOut->nValueSize = GetSaveU32(pData + nHead - 4);
    if (pOut->nValueSize > KX_SAVE_MAX_VALUE_SIZE)
        return KX_SAVE_ERR_VALUE_SIZE;
    if (pOut->nValueSize > nSize - nHead)
        return KX_SAVE_ERR_SHORT;
    pOut->pValues = pData + nHead;
    if (pOut->nType != KX_VAR_TYPE_STRING)
        return llCount * 8 == pOut->nValueSize ? KX_SAVE_OK : KX_SAVE_ERR_VALUE_SIZE;
    // Texts: every length must stay inside the value bytes, and the elements must fill them.
    size_t nPos = 0;
    uint64_t nSeen = 0;
    while (nPos < pOut->nValueSize) {
        if (pOut->nValueSize - nPos < 4)
            return KX_SAVE_ERR_VALUE_SIZE;
        const uint32_t nLen = GetSaveU32(pOut->pValues + nPos);
        if (nLen > pOut->nValueSize - nPos - 4)
            return KX_SAVE_ERR_TEXT_LENGTH;
        nPos += 4 + static_cast<size_t>(nLen);
        ++nSeen;
    }
    return nSeen == llCount ? KX_SAVE_OK : KX_SAVE_ERR_VALUE_SIZE;
}

int64_t GetSaveBodyInt(const SAVE_VAR_BODY* pBody, uint64_t i)
{
    const uint8_t* p = pBody->pValues + 8 * i;
    const uint64_t u = GetSaveU32(p) | (static_cast<uint64_t>(GetSaveU32(p + 4)) << 32);
    int64_t v;
    memcpy(&v, &u, 8);
    return v;
}

double GetSaveBodyFloat(const SAVE_VAR_BODY* pBody, uint64_t i)
{
    const uint8_t* p = pBody->pValues + 8 * i;
    const uint64_t u = GetSaveU32(p) | (static_cast<uint64_t>(GetSaveU32(p + 4)) << 32);
    double d;
    memcpy(&d, &u, 8);
    return d;
}

int NextSaveBodyText(const SAVE_VAR_BODY* pBody, size_t* pnPos, const char** ppText, uint32_t* pnLen)
{
    // The body was validated by ParseVarBody; the checks stay for callers that did not.
    const size_t nPos = *pnPos;
    if (nPos >= pBody->nValueSize || pBody->nValueSize - nPos < 4)
        return 0;
    const uint32_t nLen = GetSaveU32(pBody->pValues + nPos);
    if (nLen > pBody->nValueSize - nPos - 4)
        return 0;
    *ppText = reinterpret_cast<const char*>(pBody->pValues + nPos + 4);
    *pnLen = nLen;
    *pnPos = nPos + 4 + nLen;
    return 1;
}

// ---- Kind 1: layers ----

int GetLayerBodySize(const LAYER* pLayer, uint32_t* pnSize)
{
    if (!pLayer)
        return KX_SAVE_ERR_ARG;
    if (pLayer->nWidth < 0 || pLayer->nHeight < 0)
        return KX_SAVE_ERR_LAYER_SIZE;
    const uint64_t n = 8 + KX_SAVE_LAYER_BLOCK_SIZE +
                       static_cast<uint64_t>(pLayer->nWidth) * 4 * static_cast<uint64_t>(pLayer->nHeight);
    if (n > std::numeric_limits<uint32_t>::max())
        return KX_SAVE_ERR_VALUE_SIZE;
    *pnSize = static_cast<uint32_t>(n);
    return KX_SAVE_OK;
}

int SerializeLayerBody(const LAYER* pLayer, uint8_t* pOut, size_t nCap, size_t* pnWritten)
{
    uint32_t nBody = 0;
    const int rc = GetLayerBodySize(pLayer, &nBody);
    if (rc != KX_SAVE_OK)
        return rc;
    if (!pOut || nCap < nBody)
        return KX_SAVE_ERR_ARG;
    const uint32_t nPixels = nBody - 8 - KX_SAVE_LAYER_BLOCK_SIZE;
    PutSaveU32(pOut, KX_SAVE_LAYER_BLOCK_SIZE);
    PutSaveU32(pOut + 4, nPixels);
    if (SerializeLayerRecord(pLayer, pOut + 8, KX_SAVE_LAYER_BLOCK_SIZE) != 0)
        return KX_SAVE_ERR_ARG;
    uint8_t* pPix = pOut + 8 + KX_SAVE_LAYER_BLOCK_SIZE;
    const size_t nRow = static_cast<size_t>(pLayer->nWidth) * 4;
    if (pLayer->pOwnedPixels && pLayer->nBufWidth == pLayer->nWidth && pLayer->nBufHeight >= pLayer->nHeight) {
        memcpy(pPix, pLayer->pOwnedPixels, nPixels);
    } else {
        // A buffer of another size: copy what both have in common row by row, zeros elsewhere.
        memset(pPix, 0, nPixels);
        if (pLayer->pOwnedPixels && pLayer->nBufWidth > 0 && pLayer->nBufHeight > 0) {
            const size_t nSrcRow = static_cast<size_t>(pLayer->nBufWidth) * 4;
            const size_t nCopy = nSrcRow < nRow ? nSrcRow : nRow;
            const int32_t nRows = pLayer->nBufHeight < pLayer->nHeight ? pLayer->nBufHeight : pLayer->nHeight;
            for (int32_t y = 0; y < nRows; ++y)
                memcpy(pPix + y * nRow, pLayer->pOwnedPixels + y * nSrcRow, nCopy);
        }
    }
    *pnWritten = nBody;
    return KX_SAVE_OK;
}

int ParseLayerBody(const uint8_t* pData, size_t nSize, SAVE_LAYER_BODY* pOut)
{
    memset(pOut, 0, sizeof(*pOut));
    if (!pData || nSize < 8)
        return KX_SAVE_ERR_SHORT;
    if (GetSaveU32(pData) != KX_SAVE_LAYER_BLOCK_SIZE)
        return KX_SAVE_ERR_LAYER_BLOCK;
    const uint32_t nP = GetSaveU32(pData + 4);
    if (nSize - 8 < KX_SAVE_LAYER_BLOCK_SIZE)
        return KX_SAVE_ERR_SHORT;
    pOut->pBlock = pData + 8;
    pOut->nWidth = static_cast<int32_t>(GetSaveU32(pOut->pBlock + KX_SAVE_LAYER_BLOCK_WIDTH));
    pOut->nHeight = static_cast<int32_t>(GetSaveU32(pOut->pBlock + KX_SAVE_LAYER_BLOCK_HEIGHT));
    if (pOut->nWidth > KX_SAVE_MAX_LAYER_WIDTH)
        return KX_SAVE_ERR_LAYER_WIDE;
    if (pOut->nWidth < 1 || pOut->nHeight < 1)
        return KX_SAVE_ERR_LAYER_SIZE;
    const uint64_t nNeed = static_cast<uint64_t>(pOut->nWidth) * 4 * static_cast<uint64_t>(pOut->nHeight);
    if (nNeed != nP)
        return KX_SAVE_ERR_LAYER_SIZE;
    if (nP > nSize - 8 - KX_SAVE_LAYER_BLOCK_SIZE)
        return KX_SAVE_ERR_SHORT;
    pOut->pPixels = pOut->pBlock + KX_SAVE_LAYER_BLOCK_SIZE;
    pOut->nPixelBytes = nP;
    return KX_SAVE_OK;
}

// ---- Compression by kind ----

uint64_t GetSaveCompressBound(int nKind, uint32_t nRaw)
{
    if (nKind == SAVEREC_LAYER)
        return ZlibBound(nRaw);
    // Snappy's worst case: 32 + n + n / 6.
    return 32 + static_cast<uint64_t>(nRaw) + nRaw / 6;
}

int CompressSaveBody(int nKind, const uint8_t* pSrc, uint32_t nSrcLen, uint8_t* pDst, uint32_t* pnDstLen)
{
    if (!pSrc || !pDst || !pnDstLen)
        return KX_SAVE_ERR_ARG;
    if (nKind == SAVEREC_LAYER) {
        const int rc = g_pfnCompress2(pDst, pnDstLen, pSrc, nSrcLen, KX_SAVE_LAYER_ZLIB_LEVEL);
        return rc == KX_Z_OK ? KX_SAVE_OK : KX_SAVE_ERR_CODEC;
    }
    if (nKind != SAVEREC_VARIABLE)
        return KX_SAVE_ERR_KIND;
    const int rc = g_pfnSnpCompress(pSrc, nSrcLen, pDst, pnDstLen);
    return rc == KX_SNP_OK ? KX_SAVE_OK : KX_SAVE_ERR_CODEC;
}

int UncompressSaveBody(int nKind, const uint8_t* pSrc, uint32_t nSrcLen, uint8_t* pDst, uint32_t nRaw)
{
    if (nKind < SAVEREC_VARIABLE || nKind > SAVEREC_CONTAINER)
        return KX_SAVE_ERR_KIND;
    uint8_t bDummy = 0;
    const uint8_t bEmpty = 0;
    if (!pSrc)
        pSrc = &bEmpty;
    if (!pDst) {
        if (nRaw != 0)
            return KX_SAVE_ERR_ARG;
        pDst = &bDummy;
    }
    uint32_t nOut = nRaw;
    if (nKind == SAVEREC_LAYER) {
        const int rc = g_pfnUncompress(pDst, &nOut, pSrc, nSrcLen);
        return rc == KX_Z_OK && nOut == nRaw ? KX_SAVE_OK : KX_SAVE_ERR_CODEC;
    }
    // Snappy states the length it will produce: it must be exactly the raw size.
    uint32_t nStated = 0;
    if (g_pfnSnpUncompressedLength(pSrc, nSrcLen, &nStated) != 0 || nStated != nRaw)
        return KX_SAVE_ERR_CODEC;
    const int rc = g_pfnSnpUncompress(pSrc, nSrcLen, pDst, &nOut);
    return rc == KX_SNP_OK && nOut == nRaw ? KX_SAVE_OK : KX_SAVE_ERR_CODEC;
}

int BuildSaveRecord(int nKind, uint16_t wVar, const uint8_t* pRaw, uint32_t nRaw, uint8_t* pOut, size_t nCap,
                    size_t* pnOut)
{
    if (nKind != SAVEREC_VARIABLE && nKind != SAVEREC_LAYER)
        return KX_SAVE_ERR_KIND;
    if (!pRaw || !pOut || !pnOut || nCap < KX_SAVE_RECORD_HEADER_SIZE + GetSaveCompressBound(nKind, nRaw))
        return KX_SAVE_ERR_ARG;
    uint32_t nPacked = ClampU32(nCap - KX_SAVE_RECORD_HEADER_SIZE);
    const int rc = CompressSaveBody(nKind, pRaw, nRaw, pOut + KX_SAVE_RECORD_HEADER_SIZE, &nPacked);
    if (rc != KX_SAVE_OK)
        return rc;
    const SAVE_RECORD_HEADER hdr{static_cast<uint8_t>(nKind), 1, nKind == SAVEREC_VARIABLE ? wVar : uint16_t(0),
                                 nPacked, nRaw};
    WriteSaveRecordHeader(&hdr, pOut);
    *pnOut = KX_SAVE_RECORD_HEADER_SIZE + static_cast<size_t>(nPacked);
    return KX_SAVE_OK;
}

int BeginSaveContainer(uint8_t* pOut, size_t nCap)
{
    if (!pOut || nCap < KX_SAVE_RECORD_HEADER_SIZE)
        return KX_SAVE_ERR_ARG;
    const SAVE_RECORD_HEADER hdr{SAVEREC_CONTAINER, 1, 0, 0, 0};
    WriteSaveRecordHeader(&hdr, pOut);
    return KX_SAVE_OK;
}

int EndSaveContainer(uint8_t* pHeader, size_t nSubBytes)
{
    if (!pHeader)
        return KX_SAVE_ERR_ARG;
    if (nSubBytes > std::numeric_limits<uint32_t>::max())
        return KX_SAVE_ERR_VALUE_SIZE;
    const uint8_t* pSub = pHeader + KX_SAVE_RECORD_HEADER_SIZE;
    size_t nPos = 0;
    uint64_t nRawSum = 0;
    SAVE_RECORD_HEADER rec{};
    const uint8_t* pBody = nullptr;
    int rc;
    while ((rc = NextSaveContainerRecord(pSub, nSubBytes, &nPos, &rec, &pBody)) == 1)
        nRawSum += static_cast<uint64_t>(rec.nRaw) + KX_SAVE_RECORD_HEADER_SIZE;
    if (rc < 0)
        return rc;
    if (nRawSum > std::numeric_limits<uint32_t>::max())
        return KX_SAVE_ERR_VALUE_SIZE;
    PutSaveU32(pHeader + 4, static_cast<uint32_t>(nSubBytes));
    PutSaveU32(pHeader + 8, static_cast<uint32_t>(nRawSum));
    return KX_SAVE_OK;
}

int NextSaveContainerRecord(const uint8_t* pPacked, size_t nSize, size_t* pnPos, SAVE_RECORD_HEADER* pRec,
                            const uint8_t** ppBody)
{
    const size_t nPos = *pnPos;
    if (nPos >= nSize)
        return 0;
    if (!pPacked || nSize - nPos < KX_SAVE_RECORD_HEADER_SIZE)
        return KX_SAVE_ERR_SHORT;
    const int rc = ParseSaveRecordHeader(pPacked + nPos, nSize - nPos, pRec);
    if (rc != KX_SAVE_OK)
        return rc;
    if (pRec->bKind != SAVEREC_VARIABLE)
        return KX_SAVE_ERR_KIND;
    if (pRec->nPacked > nSize - nPos - KX_SAVE_RECORD_HEADER_SIZE)
        return KX_SAVE_ERR_SHORT;
    *ppBody = pPacked + nPos + KX_SAVE_RECORD_HEADER_SIZE;
    *pnPos = nPos + KX_SAVE_RECORD_HEADER_SIZE + pRec->nPacked;
    return 1;
}

// ---- Memory-slot blob ----

uint64_t GetSlotBlobBound(const uint32_t* anSize)
{
    uint64_t n = KX_SAVE_RECORD_HEADER_SIZE;
    for (int i = 0; i < KX_SAVE_MEM_SLOTS; ++i)
        n += KX_SAVE_SLOT_BLOB_ENTRY_PREFIX + (anSize[i] ? ZlibBound(anSize[i]) : 0);
    return n;
}

int BuildSlotBlob(const uint8_t* const* apSlot, const uint32_t* anSize, uint8_t* pOut, size_t nCap, size_t* pnOut)
{
    if (!apSlot || !anSize || !pOut || !pnOut || nCap < GetSlotBlobBound(anSize))
        return KX_SAVE_ERR_ARG;
    uint64_t nRawSum = 0;
    size_t nPos = KX_SAVE_RECORD_HEADER_SIZE;
    for (int i = 0; i < KX_SAVE_MEM_SLOTS; ++i) {
        const uint32_t nRaw = anSize[i];
        uint32_t nPacked = 0;
        if (nRaw) {
            if (!apSlot[i])
                return KX_SAVE_ERR_ARG;
            nPacked = ClampU32(nCap - nPos - KX_SAVE_SLOT_BLOB_ENTRY_PREFIX);
            const int rc = g_pfnCompress2(pOut + nPos + KX_SAVE_SLOT_BLOB_ENTRY_PREFIX, &nPacked, apSlot[i], nRaw,
                                          KX_SAVE_SLOT_ZLIB_LEVEL);
            if (rc != KX_Z_OK) {
                // Nothing half-made may look like a blob.
                memset(pOut, 0, KX_SAVE_RECORD_HEADER_SIZE);
                return KX_SAVE_ERR_CODEC;
            }
        }
        PutSaveU32(pOut + nPos, nRaw);
        PutSaveU32(pOut + nPos + 4, nPacked);
        nPos += KX_SAVE_SLOT_BLOB_ENTRY_PREFIX + nPacked;
        nRawSum += static_cast<uint64_t>(nRaw) + KX_SAVE_SLOT_BLOB_ENTRY_PREFIX;
    }
    const uint64_t nPackedSum = nPos - KX_SAVE_RECORD_HEADER_SIZE;
    if (nRawSum > std::numeric_limits<uint32_t>::max() || nPackedSum > std::numeric_limits<uint32_t>::max())
        return KX_SAVE_ERR_VALUE_SIZE;
    const SAVE_RECORD_HEADER hdr{SAVEREC_VARIABLE, 1, 0, static_cast<uint32_t>(nPackedSum),
                                 static_cast<uint32_t>(nRawSum)};
    WriteSaveRecordHeader(&hdr, pOut);
    *pnOut = nPos;
    return KX_SAVE_OK;
}

int NextSlotBlobEntry(const uint8_t* pEntries, size_t nSize, size_t* pnPos, uint32_t* pnRaw, uint32_t* pnPacked,
                      const uint8_t** ppPacked)
{
    const size_t nPos = *pnPos;
    if (nPos >= nSize)
        return 0;
    if (!pEntries || nSize - nPos < KX_SAVE_SLOT_BLOB_ENTRY_PREFIX)
        return KX_SAVE_ERR_SHORT;
    const uint32_t nRaw = GetSaveU32(pEntries + nPos);
    const uint32_t nPacked = GetSaveU32(pEntries + nPos + 4);
    if (nPacked > nSize - nPos - KX_SAVE_SLOT_BLOB_ENTRY_PREFIX)
        return KX_SAVE_ERR_SHORT;
    if (nRaw == 0 && nPacked != 0)
        return KX_SAVE_ERR_VALUE_SIZE;
    *pnRaw = nRaw;
    *pnPacked = nPacked;
    *ppPacked = pEntries + nPos + KX_SAVE_SLOT_BLOB_ENTRY_PREFIX;
    *pnPos = nPos + KX_SAVE_SLOT_BLOB_ENTRY_PREFIX + nPacked;
    return 1;
}

int CheckSlotBlob(const uint8_t* pBlob, size_t nSize)
{
    SAVE_RECORD_HEADER hdr{};
    int rc = ParseSaveRecordHeader(pBlob, nSize, &hdr);
    if (rc != KX_SAVE_OK)
        return rc;
    if (hdr.bKind != SAVEREC_VARIABLE)
        return KX_SAVE_ERR_KIND;
    if (hdr.nPacked > nSize - KX_SAVE_RECORD_HEADER_SIZE)
        return KX_SAVE_ERR_SHORT;
    const uint8_t* pEntries = pBlob + KX_SAVE_RECORD_HEADER_SIZE;
    size_t nPos = 0;
    uint64_t nRawSum = 0;
    for (int i = 0; i < KX_SAVE_MEM_SLOTS; ++i) {
        uint32_t nRaw = 0, nPacked = 0;
        const uint8_t* p = nullptr;
        rc = NextSlotBlobEntry(pEntries, hdr.nPacked, &nPos, &nRaw, &nPacked, &p);
        if (rc == 0)
            return KX_SAVE_ERR_SHORT;
        if (rc < 0)
            return rc;
        nRawSum += static_cast<uint64_t>(nRaw) + KX_SAVE_SLOT_BLOB_ENTRY_PREFIX;
    }
    if (nPos != hdr.nPacked || nRawSum != hdr.nRaw)
        return KX_SAVE_ERR_VALUE_SIZE;
    return KX_SAVE_OK;
}

int UncompressSlotImage(const uint8_t* pSrc, uint32_t nSrcLen, uint8_t* pDst, uint32_t nRaw)
{
    if (!pSrc || !pDst)
        return KX_SAVE_ERR_ARG;
    uint32_t nOut = nRaw;
    const int rc = g_pfnUncompress(pDst, &nOut, pSrc, nSrcLen);
    return rc == KX_Z_OK && nOut == nRaw ? KX_SAVE_OK : KX_SAVE_ERR_CODEC;
}
