// The GIF decoder: block parser, LZW decoding of each image into the frame table, and drawing of a
// stored frame into the layer's pixels.
#include "image/gif_decoder.h"

#include <cstdlib>
#include <cstring>

#include "core/errors.h"
#include "core/file_location.h"
#include "image/layer.h"

// ---------------------------------------------------------------------------------------------
// Cursor

uint8_t ReadGIFByte(GIF_CURSOR* pCur)
{
    if (pCur->nPos >= pCur->nSize)
        return 0;
    return pCur->pData[pCur->nPos++];
}

uint16_t ReadGIFWord(GIF_CURSOR* pCur)
{
    const uint16_t nLow = ReadGIFByte(pCur);
    const uint16_t nHigh = ReadGIFByte(pCur);
    return uint16_t(nLow | nHigh << 8);
}

void ReadGIFBytes(GIF_CURSOR* pCur, uint8_t* pOut, size_t n)
{
    const size_t nLeft = pCur->nPos < pCur->nSize ? pCur->nSize - pCur->nPos : 0;
    const size_t nCopy = n < nLeft ? n : nLeft;
    if (nCopy)
        memcpy(pOut, pCur->pData + pCur->nPos, nCopy);
    if (nCopy < n)
        memset(pOut + nCopy, 0, n - nCopy);
    pCur->nPos += nCopy;
}

void SkipGIFSubBlocks(GIF_CURSOR* pCur)
{
    for (;;) {
        if (pCur->nPos >= pCur->nSize)
            return;
        const size_t nLen = ReadGIFByte(pCur);
        if (nLen == 0)
            return;
        const size_t nLeft = pCur->nSize - pCur->nPos;
        pCur->nPos += nLen < nLeft ? nLen : nLeft;
    }
}

// ---------------------------------------------------------------------------------------------
// LZW

// Empties the table: only the literal indices remain, the code width starts again.
static void ResetGIFTable(GIF_LZW_STATE* pState)
{
    for (int i = 0; i < KX_GIF_LZW_CODES; ++i)
        pState->anPrefix[i] = KX_GIF_EMPTY_CODE;
    pState->nNextCode = pState->nEndCode + 1;
    pState->nCodeWidth = pState->nInitCodeSize + 1;
    pState->nCodeLimit = 1 << pState->nCodeWidth;
    pState->nPrevCode = -1;
}

int InitGIFLZW(GIF_LZW_STATE* pState, GIF_CURSOR* pCur, int nMinCodeSize)
{
    memset(pState, 0, sizeof(*pState));
    pState->pCursor = pCur;
    // A code size above 11 would put the clear and end codes outside the 4096-entry table.
    if (nMinCodeSize < 1 || nMinCodeSize > 11)
        return -1;
    pState->nInitCodeSize = nMinCodeSize;
    pState->nClearCode = 1 << nMinCodeSize;
    pState->nEndCode = pState->nClearCode + 1;
    for (int i = 0; i < KX_GIF_LZW_CODES; ++i) {
        pState->abSuffix[i] = uint8_t(i);
        pState->abFirst[i] = uint8_t(i);
        pState->anLength[i] = 1;
    }
    ResetGIFTable(pState);
    return 0;
}

uint8_t ReadGIFCodeByte(GIF_LZW_STATE* pState)
{
    if (pState->nBlockPos >= pState->nBlockSize) {
        if (pState->bEndOfData)
            return 0;
        const int nLen = ReadGIFByte(pState->pCursor);
        if (nLen == 0) {
            pState->bEndOfData = 1;
            return 0;
        }
        ReadGIFBytes(pState->pCursor, pState->abBlock, size_t(nLen));
        pState->nBlockSize = nLen;
        pState->nBlockPos = 0;
    }
    return pState->abBlock[pState->nBlockPos++];
}

// The next code, or -1 when the data ends before a whole code.
int ReadGIFCode(GIF_LZW_STATE* pState)
{
    while (pState->nBitCount < pState->nCodeWidth) {
        const uint32_t uByte = ReadGIFCodeByte(pState);
        if (pState->bEndOfData)
            return -1;
        pState->uBitBuffer |= uByte << pState->nBitCount;
        pState->nBitCount += 8;
    }
    const int nCode = int(pState->uBitBuffer & ((1u << pState->nCodeWidth) - 1));
    pState->uBitBuffer >>= pState->nCodeWidth;
    pState->nBitCount -= pState->nCodeWidth;
    return nCode;
}

int FollowLZWChain(const uint16_t* pPrefix, int nCode, int nLimit)
{
    for (int nSteps = 0; nCode > nLimit && nSteps < KX_GIF_LZW_CODES; ++nSteps) {
        if (nCode < 0 || nCode >= KX_GIF_LZW_CODES)
            break;
        nCode = pPrefix[nCode];
    }
    return nCode;
}

// Pushes the string of a table code onto the stack (last index first). 0, or -1 for a chain that
// is deeper than the table or leaves it.
static int PushGIFString(GIF_LZW_STATE* pState, int nCode)
{
    int nSteps = 0;
    while (nCode > pState->nEndCode) {
        if (nCode >= KX_GIF_LZW_CODES || nSteps >= KX_GIF_LZW_CODES ||
            pState->nStackSize >= int(sizeof(pState->abStack)))
            return -1;
        pState->abStack[pState->nStackSize++] = pState->abSuffix[nCode];
        nCode = pState->anPrefix[nCode];
        ++nSteps;
    }
    if (nCode >= pState->nClearCode || pState->nStackSize >= int(sizeof(pState->abStack)))
        return -1;
    pState->abStack[pState->nStackSize++] = uint8_t(nCode);
    return 0;
}

// Writes the nLen indices of a table code's string to pOut (last index first, walking the prefix
// chain). The length bounds the walk, so a damaged chain cannot write outside pOut.
static void WriteGIFString(const GIF_LZW_STATE* pState, int nCode, uint8_t* pOut, int nLen)
{
    for (int i = nLen - 1; i > 0; --i) {
        pOut[i] = pState->abSuffix[nCode];
        nCode = pState->anPrefix[nCode];
        if (nCode >= KX_GIF_LZW_CODES)
            nCode = 0;
    }
    pOut[0] = pState->abSuffix[nCode];
}

int DecodeGIFLine(GIF_LZW_STATE* pState, uint8_t* pRow, int nWidth)
{
    int n = 0;
    for (;;) {
        // What is left of the previous string comes first.
        while (pState->nStackSize > 0 && n < nWidth)
            pRow[n++] = pState->abStack[--pState->nStackSize];
        if (n >= nWidth || pState->bEndCode)
            return n;

        const int nCode = ReadGIFCode(pState);
        if (nCode < 0 || nCode == pState->nEndCode) {
            // The end of the image's data ends the image like the end code: the indices not
            // written stay 0.
            pState->bEndCode = 1;
            return n;
        }
        if (nCode == pState->nClearCode) {
            ResetGIFTable(pState);
            continue;
        }
        const int nPrev = pState->nPrevCode;
        uint8_t bFirst;
        if (nCode < pState->nClearCode) {
            bFirst = uint8_t(nCode);
            pRow[n++] = bFirst;   // n < nWidth here
        } else if (nCode < pState->nNextCode) {
            bFirst = pState->abFirst[nCode];
            const int nLen = pState->anLength[nCode];
            if (nLen <= nWidth - n) {
                WriteGIFString(pState, nCode, pRow + n, nLen);
                n += nLen;
            } else if (PushGIFString(pState, nCode) < 0) {
                pState->nStackSize = 0;
                return n;
            }
        } else if (nCode == pState->nNextCode && nPrev >= 0) {
            // The code being defined: the previous string plus its own first index.
            bFirst = pState->abFirst[nPrev];
            const int nLen = pState->anLength[nPrev];
            if (nLen + 1 <= nWidth - n) {
                WriteGIFString(pState, nPrev, pRow + n, nLen);
                pRow[n + nLen] = bFirst;
                n += nLen + 1;
            } else {
                pState->abStack[pState->nStackSize++] = bFirst;
                if (PushGIFString(pState, nPrev) < 0) {
                    pState->nStackSize = 0;
                    return n;
                }
            }
        } else {
            // A code outside the table (or the code being defined with no previous string).
            return n;
        }
        // A full table takes no more entries; the width stays at 12 bits until the next clear.
        if (nPrev >= 0 && pState->nNextCode < KX_GIF_LZW_CODES) {
            const int nNew = pState->nNextCode++;
            pState->anPrefix[nNew] = uint16_t(nPrev);
            pState->abSuffix[nNew] = bFirst;
            pState->abFirst[nNew] = pState->abFirst[nPrev];
            pState->anLength[nNew] = uint16_t(pState->anLength[nPrev] + 1);
            if (pState->nNextCode >= pState->nCodeLimit && pState->nCodeWidth < 12) {
                ++pState->nCodeWidth;
                pState->nCodeLimit <<= 1;
            }
        }
        pState->nPrevCode = nCode;
    }
}

// ---------------------------------------------------------------------------------------------
// Frames

void FreeGIFFrames(LAYER* pLayer)
{
    if (!pLayer || !pLayer->ppGifFrames)
        return;
    for (int i = 0; i < KX_GIF_MAX_FRAMES; ++i)
        free(pLayer->ppGifFrames[i]);
    free(pLayer->ppGifFrames);
    pLayer->ppGifFrames = nullptr;
}

int DrawGIFFrame(LAYER* pLayer, int nIndex)
{
    if (!pLayer || !pLayer->ppGifFrames || nIndex < 0 || nIndex >= KX_GIF_MAX_FRAMES)
        return -1;
    GIF_FRAME* pFrame = pLayer->ppGifFrames[nIndex];
    uint8_t* pPixels = pLayer->pOwnedPixels;
    if (!pFrame || !pPixels)
        return -1;
    const int64_t llLayerW = pLayer->nWidth, llLayerH = pLayer->nHeight;
    const int64_t llX0 = pFrame->nLeft, llY0 = pFrame->nTop;
    const int64_t llColFrom = llX0 < 0 ? -llX0 : 0;
    const int64_t llColTo = llX0 + pFrame->nWidth > llLayerW ? llLayerW - llX0 : pFrame->nWidth;
    if (llColFrom >= llColTo)
        return 0;
    const uint8_t* pIndices = GIFFrameIndices(pFrame);
    const uint8_t* pPal = pFrame->abPalette;
    const int nTransparent = pFrame->nTransparentFlag ? pFrame->nTransparentIndex : -1;
    for (int64_t llRow = 0; llRow < pFrame->nHeight; ++llRow) {
        const int64_t llY = llY0 + llRow;
        if (llY < 0)
            continue;
        if (llY >= llLayerH)
            break;
        const uint8_t* pSrc = pIndices + llRow * pFrame->nWidth;
        uint8_t* pDst = pPixels + (llY * llLayerW + llX0) * 4;
        for (int64_t llCol = llColFrom; llCol < llColTo; ++llCol) {
            const int nIdx = pSrc[llCol];
            uint8_t* p = pDst + llCol * 4;
            p[0] = pPal[nIdx * 3 + 2];
            p[1] = pPal[nIdx * 3 + 1];
            p[2] = pPal[nIdx * 3];
            p[3] = nIdx == nTransparent ? 0 : 255;
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Loading

namespace {

struct GIF_CONTROL {
    int32_t nDisposal;
    int32_t nTransparentFlag;
    int32_t nDelay;
    int32_t nTransparentIndex;
    int32_t nLoopCount;
};

// Reads a colour table of 2^(nBits + 1) entries into the palette; the other entries become 0.
void ReadGIFPalette(GIF_CURSOR* pCur, uint8_t* pPalette, int nBits)
{
    const size_t nEntries = size_t(1) << ((nBits & 7) + 1);
    memset(pPalette, 0, 256 * 3);
    ReadGIFBytes(pCur, pPalette, nEntries * 3);
}

// Decodes the image's rows into the frame's indices, in order or in the four interlace passes.
void DecodeGIFRows(GIF_LZW_STATE* pState, uint8_t* pIndices, int nWidth, int nHeight, int bInterlace)
{
    static const int s_anStart[4] = {0, 4, 2, 1};
    static const int s_anStep[4] = {8, 8, 4, 2};
    const int nPasses = bInterlace ? 4 : 1;
    for (int nPass = 0; nPass < nPasses; ++nPass) {
        const int nStart = bInterlace ? s_anStart[nPass] : 0;
        const int nStep = bInterlace ? s_anStep[nPass] : 1;
        for (int nRow = nStart; nRow < nHeight; nRow += nStep) {
            if (pState->bEndCode)
                return;
            DecodeGIFLine(pState, pIndices + size_t(nRow) * size_t(nWidth), nWidth);
        }
    }
}

// The image descriptor and its data (the 0x2C byte already read). 0, or -1 after a failure
// (a report is made for a frame above the size limit).
int ReadGIFImage(GIF_CURSOR* pCur, LAYER* pLayer, int nFrame, const uint8_t* pGlobalPalette,
                 const GIF_CONTROL* pControl, GIF_LZW_STATE* pState, const char* pszName)
{
    const int nLeft = ReadGIFWord(pCur);
    const int nTop = ReadGIFWord(pCur);
    const int nWidth = ReadGIFWord(pCur);
    const int nHeight = ReadGIFWord(pCur);
    const int nPacked = ReadGIFByte(pCur);
    if (nWidth > KX_GIF_MAX_SIZE || nHeight > KX_GIF_MAX_SIZE) {
        ReportScriptErrorF(KX_ERR_GIF_TOO_LARGE, 1, pszName ? pszName : "");
        return -1;
    }
    // The whole record is cleared: indices the data does not reach stay 0.
    const size_t nBytes = size_t(nWidth) * size_t(nHeight) + KX_GIF_FRAME_EXTRA;
    GIF_FRAME* pFrame = static_cast<GIF_FRAME*>(calloc(1, nBytes));
    if (!pFrame)
        return -1;
    pFrame->nLeft = nLeft;
    pFrame->nTop = nTop;
    pFrame->nWidth = nWidth;
    pFrame->nHeight = nHeight;
    pFrame->nDisposal = pControl->nDisposal;
    pFrame->nTransparentFlag = pControl->nTransparentFlag;
    pFrame->nDelay = pControl->nDelay;
    pFrame->nTransparentIndex = pControl->nTransparentIndex;
    pFrame->nLoopCount = pControl->nLoopCount;
    if (nPacked & 0x80)
        ReadGIFPalette(pCur, pFrame->abPalette, nPacked & 7);
    else
        memcpy(pFrame->abPalette, pGlobalPalette, sizeof(pFrame->abPalette));

    const int nMinCodeSize = ReadGIFByte(pCur);
    if (InitGIFLZW(pState, pCur, nMinCodeSize) < 0) {
        free(pFrame);
        return -1;
    }
    DecodeGIFRows(pState, GIFFrameIndices(pFrame), nWidth, nHeight, (nPacked & 0x40) != 0);
    // The rest of the image's data, unless its terminator has been read already.
    if (!pState->bEndOfData)
        SkipGIFSubBlocks(pCur);

    if (nFrame < KX_GIF_MAX_FRAMES) {
        free(pLayer->ppGifFrames[nFrame]);
        pLayer->ppGifFrames[nFrame] = pFrame;
    } else {
        free(pFrame);   // images past the table are decoded for the structure only
    }
    return 0;
}

// An extension block (the 0x21 byte already read). 0, or -1 for an unknown label.
int ReadGIFExtension(GIF_CURSOR* pCur, GIF_CONTROL* pControl)
{
    const int nLabel = ReadGIFByte(pCur);
    switch (nLabel) {
    case 0xF9: {   // graphic control
        uint8_t abBlock[256];
        const size_t nLen = ReadGIFByte(pCur);
        ReadGIFBytes(pCur, abBlock, nLen);
        if (nLen < 4)
            memset(abBlock + nLen, 0, 4 - nLen);
        pControl->nDisposal = (abBlock[0] >> 2) & 7;
        pControl->nTransparentFlag = abBlock[0] & 1;
        pControl->nDelay = abBlock[1] | abBlock[2] << 8;
        pControl->nTransparentIndex = abBlock[3];
        SkipGIFSubBlocks(pCur);
        return 0;
    }
    case 0xFE:     // comment
    case 0x01:     // plain text: its 12-byte header is a sub-block of its own
        SkipGIFSubBlocks(pCur);
        return 0;
    case 0xFF: {   // application
        uint8_t abId[256];
        const size_t nLen = ReadGIFByte(pCur);
        ReadGIFBytes(pCur, abId, nLen);
        const bool bLoopBlock = nLen == 11 && (memcmp(abId, "NETSCAPE2.0", 11) == 0 ||
                                               memcmp(abId, "ANIMEXTS1.0", 11) == 0);
        if (bLoopBlock && pCur->nPos + 1 < pCur->nSize && pCur->pData[pCur->nPos] == 3 &&
            pCur->pData[pCur->nPos + 1] == 1) {
            pCur->nPos += 2;
            pControl->nLoopCount = ReadGIFWord(pCur);
        }
        SkipGIFSubBlocks(pCur);
        return 0;
    }
    default:
        return -1;
    }
}

// Pixels whose alpha is 0 become 0x00808080, the one form of a transparent pixel.
void NormalizeGIFPixels(uint8_t* pPixels, size_t nPixels)
{
    for (size_t i = 0; i < nPixels; ++i) {
        uint8_t* p = pPixels + i * 4;
        if (p[3] == 0) {
            p[0] = 0x80;
            p[1] = 0x80;
            p[2] = 0x80;
        }
    }
}

}  // namespace

int DecodeGIF(const uint8_t* pData, size_t nSize, LAYER* pLayer, const char* pszName)
{
    if (!pLayer)
        return -1;
    GIF_CURSOR cur = {pData, pData ? nSize : 0, 0};
    uint8_t abSignature[6];
    ReadGIFBytes(&cur, abSignature, sizeof(abSignature));
    const int nScreenW = ReadGIFWord(&cur);
    const int nScreenH = ReadGIFWord(&cur);
    const int nPacked = ReadGIFByte(&cur);
    ReadGIFByte(&cur);   // background index
    ReadGIFByte(&cur);   // aspect ratio
    uint8_t abGlobal[256 * 3] = {};
    if (nPacked & 0x80)
        ReadGIFPalette(&cur, abGlobal, nPacked & 7);
    if (nScreenW > KX_GIF_MAX_SIZE || nScreenH > KX_GIF_MAX_SIZE) {
        ReportScriptErrorF(KX_ERR_GIF_TOO_LARGE, 1, pszName ? pszName : "");
        return -1;
    }
    if (!pLayer->ppGifFrames) {
        pLayer->ppGifFrames = static_cast<GIF_FRAME**>(calloc(KX_GIF_MAX_FRAMES, sizeof(GIF_FRAME*)));
        if (!pLayer->ppGifFrames)
            return -1;
    }
    GIF_LZW_STATE* pState = static_cast<GIF_LZW_STATE*>(malloc(sizeof(GIF_LZW_STATE)));
    if (!pState)
        return -1;

    GIF_CONTROL control = {0, 0, 0, 0, 1};
    int nFrames = 0;
    int nResult = 1;   // 1 while blocks follow, then 0 at the trailer or -1
    while (nResult == 1) {
        const int nBlock = ReadGIFByte(&cur);
        if (nBlock == 0x2C) {
            if (ReadGIFImage(&cur, pLayer, nFrames, abGlobal, &control, pState, pszName) < 0)
                nResult = -1;
            else
                ++nFrames;
        } else if (nBlock == 0x21) {
            if (ReadGIFExtension(&cur, &control) < 0)
                nResult = -1;
        } else if (nBlock == 0x3B) {
            nResult = 0;
        } else {
            nResult = -1;   // an unknown block, or the end of the file before the trailer
        }
    }
    free(pState);
    // Frames of an earlier file that this one does not replace are dropped.
    for (int i = nFrames; i < KX_GIF_MAX_FRAMES; ++i) {
        free(pLayer->ppGifFrames[i]);
        pLayer->ppGifFrames[i] = nullptr;
    }
    if (nResult < 0 || nFrames == 0)
        return -1;

    uint8_t* pPixels = AllocPixelBuffer(nullptr, nScreenW, nScreenH, pszName);
    if (!pPixels)
        return 1;
    SetLayerPixels(pLayer, pPixels, nScreenW, nScreenH);
    const GIF_FRAME* pFirst = pLayer->ppGifFrames[0];
    const bool bCovers = pFirst->nLeft == 0 && pFirst->nTop == 0 && pFirst->nWidth >= nScreenW &&
                         pFirst->nHeight >= nScreenH;
    pLayer->bHasAlpha = (control.nTransparentFlag || pFirst->nTransparentFlag || !bCovers) ? 1 : 0;
    DrawGIFFrame(pLayer, 0);
    NormalizeGIFPixels(pPixels, size_t(nScreenW) * size_t(nScreenH));
    return 0;
}

int LoadGIF(FILE_LOCATION* pLoc, LAYER* pLayer, const char* pszName)
{
    if (!pLoc)
        return 1;
    int nRead = 0;
    if (!pLoc->pData) {
        switch (pLoc->nSource) {
        case FILESRC_LOOSE: nRead = ReadLooseFile(pLoc, pszName); break;
        case FILESRC_PACK: nRead = ReadPackEntry(pLoc, pszName); break;
        case FILESRC_COMPILER: nRead = ReadCompilerFile(pLoc, pszName); break;
        case FILESRC_CACHE: nRead = ReadCachedFile(pLoc, pszName); break;
        default: nRead = -2; break;
        }
    }
    if (nRead != 0) {
        free(pLoc->pData);
        pLoc->pData = nullptr;
        pLoc->nSize = 0;
        return 1;
    }
    const size_t nSize = pLoc->nSize > 0 ? size_t(pLoc->nSize) : 0;
    const int nResult = DecodeGIF(pLoc->pData, nSize, pLayer, pszName);
    free(pLoc->pData);
    pLoc->pData = nullptr;
    pLoc->nSize = 0;
    return nResult;
}
