// The GIF decoder: block parser, LZW decoding of each image into the frame table, and drawing of a
// stored frame into the layer's pixels.
#include "image/gif_decoder.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

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
// The fast decoder
//
// The image's data is gathered from its sub-blocks a part at a time and decoded in one loop. Every table
// entry is a string that stands whole, in order, in the decoded indices (an entry is the previous
// code's string followed by the first index of the next one, and the two are written one after the
// other), so an entry is a pointer and a length, and a code is written by copying its string in
// 16-byte pieces. The indices are decoded as one stream; a code outside the table only moves where
// the stream goes on (at the start of the next row), so the rows are placed afterwards. The result
// is exactly the plain decoder's.

namespace {

int g_bGIFPlainDecoder = 0;

// The literal codes' strings: index i is uint8_t(i), with room for a 16-byte read past any of them.
struct GIF_LITERALS {
    uint8_t ab[KX_GIF_LZW_CODES + 16];
    GIF_LITERALS()
    {
        for (size_t i = 0; i < sizeof(ab); ++i)
            ab[i] = uint8_t(i);
    }
};
const GIF_LITERALS s_literals;

// Buffers kept across the images of one file.
struct GIF_FAST_STATE {
    const uint8_t* apString[KX_GIF_LZW_CODES];
    uint32_t anLength[KX_GIF_LZW_CODES];
    uint8_t abData[16384 + 8];   // data bytes gathered from the sub-blocks, 8 zero bytes after them
    uint8_t abRow[KX_GIF_MAX_SIZE];             // a spare row for putting interlaced rows in place
    uint64_t anRowDone[KX_GIF_MAX_SIZE / 64];   // rows put in place
};

// The place in the stream where the rows go on at a virtual position (row order * width + column).
struct GIF_SEGMENT {
    size_t nStream;
    size_t nVirtual;
};

// 8 bytes, the first the least significant.
inline uint64_t LoadGIFBits(const uint8_t* p)
{
    uint64_t n;
    if constexpr (std::endian::native == std::endian::little) {
        memcpy(&n, p, 8);
    } else {
        n = 0;
        for (int i = 7; i >= 0; --i)
            n = n << 8 | p[i];
    }
    return n;
}

// Copies n (>= 1) bytes in 16-byte pieces: up to 15 bytes past n are written and read. The source
// lies wholly before the destination, so no byte of the string is overwritten before it is read.
inline void CopyGIFString(uint8_t* pDst, const uint8_t* pSrc, size_t n)
{
    for (;;) {
        uint8_t ab[16];
        memcpy(ab, pSrc, 16);
        memcpy(pDst, ab, 16);
        if (n <= 16)
            return;
        n -= 16;
        pSrc += 16;
        pDst += 16;
    }
}

// The image row of row nOrder of an interlaced image (the rows of pass 1, then 2, 3, 4).
size_t InterlacedGIFRow(size_t nOrder, size_t nHeight)
{
    const size_t n1 = (nHeight + 7) / 8, n2 = (nHeight + 3) / 8, n3 = (nHeight + 1) / 4;
    if (nOrder < n1)
        return nOrder * 8;
    nOrder -= n1;
    if (nOrder < n2)
        return 4 + nOrder * 8;
    nOrder -= n2;
    if (nOrder < n3)
        return 2 + nOrder * 4;
    return 1 + (nOrder - n3) * 2;
}

// Moves the rows of an interlaced image from the order they were decoded in (the passes) to
// image order, in place: the rows of each cycle of the move pass through one spare row.
void PutInterlacedGIFRows(GIF_FAST_STATE* pFast, uint8_t* pIndices, size_t nW, size_t nH)
{
    uint8_t* pSpare = pFast->abRow;
    uint64_t* pDone = pFast->anRowDone;
    memset(pDone, 0, (nH + 63) / 64 * sizeof(uint64_t));
    const auto mark = [pDone](size_t nRow) { pDone[nRow / 64] |= uint64_t(1) << (nRow % 64); };
    for (size_t nStart = 0; nStart < nH; ++nStart) {
        if (pDone[nStart / 64] >> (nStart % 64) & 1)
            continue;
        mark(nStart);
        size_t nAt = InterlacedGIFRow(nStart, nH);
        if (nAt == nStart)
            continue;
        // The spare holds a decoded row; it goes where it belongs and takes the row found there.
        memcpy(pSpare, pIndices + nStart * nW, nW);
        while (nAt != nStart) {
            std::swap_ranges(pSpare, pSpare + nW, pIndices + nAt * nW);
            mark(nAt);
            nAt = InterlacedGIFRow(nAt, nH);
        }
        memcpy(pIndices + nStart * nW, pSpare, nW);
    }
}

// The image's data as a run of bits: the sub-blocks at the cursor are gathered as the cursor reads
// them (a sub-block cut by the end of the file image is filled up with zeros) into the state's
// buffer, a part at a time.
struct GIF_BITS {
    GIF_CURSOR* pCur;
    uint8_t* pBuf;
    size_t nBytes;     // bytes held
    uint64_t nBits;    // nBytes * 8
    uint64_t nBit;     // the next bit to read
    bool bEnded;       // the terminator was read (or the end of the file image reached)
};

// Keeps the bytes not read yet and gathers sub-blocks after them while they fit.
void RefillGIFBits(GIF_BITS* pBits, size_t nCap)
{
    const size_t nFrom = size_t(pBits->nBit >> 3);
    memmove(pBits->pBuf, pBits->pBuf + nFrom, pBits->nBytes - nFrom);
    pBits->nBytes -= nFrom;
    pBits->nBit &= 7;
    while (!pBits->bEnded && pBits->nBytes + 255 <= nCap) {
        GIF_CURSOR* pCur = pBits->pCur;
        const size_t nLen = pCur->nPos < pCur->nSize ? ReadGIFByte(pCur) : 0;
        if (nLen == 0) {
            pBits->bEnded = true;
            break;
        }
        ReadGIFBytes(pCur, pBits->pBuf + pBits->nBytes, nLen);
        pBits->nBytes += nLen;
    }
    memset(pBits->pBuf + pBits->nBytes, 0, 8);
    pBits->nBits = uint64_t(pBits->nBytes) * 8;
}

// Decodes the image's data at the cursor into its indices (cleared before), nWidth * nHeight of
// them, rows in order or in the interlace passes, and leaves the cursor after its data. 0, or -1
// without memory.
int DecodeGIFImageFast(GIF_CURSOR* pCur, GIF_FAST_STATE* pFast, int nMinCodeSize, uint8_t* pIndices, int nWidth,
                       int nHeight, bool bInterlace)
{
    const size_t nCap = size_t(nWidth) * size_t(nHeight);
    if (nCap == 0) {
        SkipGIFSubBlocks(pCur);
        return 0;
    }
    // The stream is decoded into the indices themselves, then put in place.
    uint8_t* pOut = pIndices;
    GIF_BITS bits = {pCur, pFast->abData, 0, 0, 0, false};
    const size_t nDataCap = sizeof(pFast->abData) - 8;
    RefillGIFBits(&bits, nDataCap);
    const int nClear = 1 << nMinCodeSize, nEnd = nClear + 1;
    const uint8_t** apString = pFast->apString;
    uint32_t* anLength = pFast->anLength;
    for (int i = 0; i < nClear; ++i) {
        apString[i] = s_literals.ab + i;
        anLength[i] = 1;
    }
    // The clear and end codes have no string: length 0 marks them.
    anLength[nClear] = 0;
    anLength[nEnd] = 0;
    std::vector<GIF_SEGMENT> segments;   // where the stream jumps over the rest of a row
    size_t nGap = 0;                     // virtual position - stream position
    size_t nLimit = nCap;                // stream positions that still fall inside the rows
    size_t n = 0;                        // stream position
    uint64_t nBit = 0, nBits = bits.nBits;
    int nNext = nEnd + 1, nCodeWidth = nMinCodeSize + 1, nCodeLimit = 1 << nCodeWidth;
    uint32_t nCodeMask = (1u << nCodeWidth) - 1;
    int nPrev = -1;
    size_t nPrevLength = 0;
    while (n < nLimit) {
        if (nBit + 64 > nBits) {
            bits.nBit = nBit;
            if (!bits.bEnded)
                RefillGIFBits(&bits, nDataCap);
            nBit = bits.nBit;
            nBits = bits.nBits;
            if (nBit + uint64_t(nCodeWidth) > nBits)
                break;   // the data ends before a whole code: the image ends
        }
        const int nCode = int(uint32_t(LoadGIFBits(bits.pBuf + (nBit >> 3)) >> (nBit & 7)) & nCodeMask);
        nBit += uint64_t(nCodeWidth);
        const uint8_t* pString;
        size_t nLength;
        if (nCode < nNext) {
            pString = apString[nCode];
            nLength = anLength[nCode];
            if (nLength == 0) {
                if (nCode == nEnd)
                    break;
                nNext = nEnd + 1;
                nCodeWidth = nMinCodeSize + 1;
                nCodeLimit = 1 << nCodeWidth;
                nCodeMask = uint32_t(nCodeLimit - 1);
                nPrev = -1;
                continue;
            }
            if (n + nLength + 16 <= nLimit) {
                CopyGIFString(pOut + n, pString, nLength);
            } else {
                const size_t nPut = nLength < nLimit - n ? nLength : nLimit - n;
                memcpy(pOut + n, pString, nPut);
            }
        } else if (nCode == nNext && nPrev >= 0) {
            // The code being defined: the previous string and its own first index.
            pString = apString[nPrev];
            nLength = nPrevLength + 1;
            if (n + nLength + 16 <= nLimit) {
                CopyGIFString(pOut + n, pString, nPrevLength);
                pOut[n + nPrevLength] = pString[0];
            } else {
                const size_t nPut = nLength < nLimit - n ? nLength : nLimit - n;
                for (size_t i = 0; i < nPut; ++i)
                    pOut[n + i] = i < nPrevLength ? pString[i] : pString[0];
            }
        } else {
            // A code outside the table ends its row: the stream goes on at the next row.
            const size_t nVirtual = (n + nGap) / size_t(nWidth) * size_t(nWidth) + size_t(nWidth);
            if (nVirtual >= nCap)
                break;
            try {
                segments.push_back(GIF_SEGMENT{n, nVirtual});
            } catch (const std::bad_alloc&) {
                return -1;
            }
            nGap = nVirtual - n;
            nLimit = nCap - nGap;
            continue;
        }
        if (n + nLength > nLimit) {
            n = nLimit;   // the rows are full; the rest of the string is dropped
            break;
        }
        // A full table takes no more entries; the width stays at 12 bits until the next clear.
        if (nPrev >= 0 && nNext < KX_GIF_LZW_CODES) {
            apString[nNext] = pOut + n - nPrevLength;
            anLength[nNext] = uint32_t(nPrevLength + 1);
            ++nNext;
            if (nNext >= nCodeLimit && nCodeWidth < 12) {
                ++nCodeWidth;
                nCodeLimit <<= 1;
                nCodeMask = uint32_t(nCodeLimit - 1);
            }
        }
        nPrev = nCode;
        nPrevLength = nLength;
        n += nLength;
    }
    const size_t nStreamEnd = n;
    // The rest of the image's data, unless its terminator has been read already.
    if (!bits.bEnded)
        SkipGIFSubBlocks(pCur);

    // Placing the stream: segment k is stream [s_k, s_k+1) at virtual position v_k.
    const size_t nSegments = segments.size() + 1;
    const auto streamAt = [&](size_t k) { return k == 0 ? size_t(0) : segments[k - 1].nStream; };
    const auto virtualAt = [&](size_t k) { return k == 0 ? size_t(0) : segments[k - 1].nVirtual; };
    const auto streamEnd = [&](size_t k) { return k + 1 < nSegments ? segments[k].nStream : nStreamEnd; };
    // In place: a segment moves forward only, so the last moves first. Bytes written past a
    // string's end and the skipped rests of rows are cleared.
    for (size_t k = nSegments; k-- > 1;)
        memmove(pIndices + virtualAt(k), pIndices + streamAt(k), streamEnd(k) - streamAt(k));
    for (size_t k = 0; k < nSegments; ++k) {
        const size_t nFrom = virtualAt(k) + streamEnd(k) - streamAt(k);
        size_t nTo = k + 1 < nSegments ? virtualAt(k + 1) : nStreamEnd + 16;
        if (nTo > nCap)
            nTo = nCap;
        if (nFrom < nTo)
            memset(pIndices + nFrom, 0, nTo - nFrom);
    }
    if (bInterlace)
        PutInterlacedGIFRows(pFast, pIndices, size_t(nWidth), size_t(nHeight));
    return 0;
}

}  // namespace

int SetGIFPlainDecoder(int bPlain)
{
    const int bOld = g_bGIFPlainDecoder;
    g_bGIFPlainDecoder = bPlain ? 1 : 0;
    return bOld;
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

namespace {

// The frame's colours as 32-bit pixels (B, G, R, A in memory): A 255, and the transparent index
// (when its flag is set) with the 4 bytes of abTransparent.
void MakeGIFPixelTable(const GIF_FRAME* pFrame, const uint8_t* abTransparent, uint32_t* pTable)
{
    const uint8_t* pPal = pFrame->abPalette;
    for (int i = 0; i < 256; ++i) {
        const uint8_t ab[4] = {pPal[i * 3 + 2], pPal[i * 3 + 1], pPal[i * 3], 255};
        memcpy(&pTable[i], ab, 4);
    }
    if (pFrame->nTransparentFlag && pFrame->nTransparentIndex >= 0 && pFrame->nTransparentIndex < 256)
        memcpy(&pTable[pFrame->nTransparentIndex], abTransparent, 4);
}

// The frame's columns [llColFrom, llColTo) and rows [llRowFrom, llRowTo) that fall inside the layer,
// in the frame's own coordinates.
struct GIF_FRAME_CLIP {
    int64_t llColFrom, llColTo, llRowFrom, llRowTo;
    bool Empty() const { return llColFrom >= llColTo || llRowFrom >= llRowTo; }
};
GIF_FRAME_CLIP ClipGIFFrame(const LAYER* pLayer, const GIF_FRAME* pFrame)
{
    const int64_t llX0 = pFrame->nLeft, llY0 = pFrame->nTop;
    GIF_FRAME_CLIP c;
    c.llColFrom = llX0 < 0 ? -llX0 : 0;
    c.llColTo = std::min<int64_t>(pFrame->nWidth, int64_t(pLayer->nWidth) - llX0);
    c.llRowFrom = llY0 < 0 ? -llY0 : 0;
    c.llRowTo = std::min<int64_t>(pFrame->nHeight, int64_t(pLayer->nHeight) - llY0);
    return c;
}

// Row llRow of the frame's indices, and the layer pixel that the frame's pixel (llCol, llRow) covers
// (inside the clip).
const uint8_t* GIFFrameRow(const GIF_FRAME* pFrame, int64_t llRow)
{
    return reinterpret_cast<const uint8_t*>(pFrame) + KX_GIF_FRAME_HEAD + llRow * pFrame->nWidth;
}
uint8_t* GIFLayerPixel(LAYER* pLayer, const GIF_FRAME* pFrame, int64_t llCol, int64_t llRow)
{
    return pLayer->pOwnedPixels + ((pFrame->nTop + llRow) * int64_t(pLayer->nWidth) + pFrame->nLeft + llCol) * 4;
}

// Draws the frame at its position through a pixel table (the parts outside the layer are left out).
void DrawGIFFrameWith(LAYER* pLayer, const GIF_FRAME* pFrame, const uint32_t* pTable)
{
    const GIF_FRAME_CLIP c = ClipGIFFrame(pLayer, pFrame);
    if (c.Empty())
        return;
    for (int64_t llRow = c.llRowFrom; llRow < c.llRowTo; ++llRow) {
        const uint8_t* pSrc = GIFFrameRow(pFrame, llRow);
        uint8_t* pDst = GIFLayerPixel(pLayer, pFrame, c.llColFrom, llRow);
        for (int64_t llCol = c.llColFrom; llCol < c.llColTo; ++llCol, pDst += 4)
            memcpy(pDst, &pTable[pSrc[llCol]], 4);
    }
}

// The plain form: colour by colour, the transparent index compared at every pixel.
void DrawGIFFramePlain(LAYER* pLayer, const GIF_FRAME* pFrame)
{
    const GIF_FRAME_CLIP c = ClipGIFFrame(pLayer, pFrame);
    if (c.Empty())
        return;
    const uint8_t* pPal = pFrame->abPalette;
    const int nTransparent = pFrame->nTransparentFlag ? pFrame->nTransparentIndex : -1;
    for (int64_t llRow = c.llRowFrom; llRow < c.llRowTo; ++llRow) {
        const uint8_t* pSrc = GIFFrameRow(pFrame, llRow);
        uint8_t* p = GIFLayerPixel(pLayer, pFrame, c.llColFrom, llRow);
        for (int64_t llCol = c.llColFrom; llCol < c.llColTo; ++llCol, p += 4) {
            const int nIdx = pSrc[llCol];
            p[0] = pPal[nIdx * 3 + 2];
            p[1] = pPal[nIdx * 3 + 1];
            p[2] = pPal[nIdx * 3];
            p[3] = nIdx == nTransparent ? 0 : 255;
        }
    }
}

}  // namespace

int DrawGIFFrame(LAYER* pLayer, int nIndex)
{
    if (!pLayer || !pLayer->ppGifFrames || nIndex < 0 || nIndex >= KX_GIF_MAX_FRAMES)
        return -1;
    GIF_FRAME* pFrame = pLayer->ppGifFrames[nIndex];
    if (!pFrame || !pLayer->pOwnedPixels)
        return -1;
    MarkPixelsChanged(pLayer);
    if (g_bGIFPlainDecoder) {
        DrawGIFFramePlain(pLayer, pFrame);
        return 0;
    }
    // The transparent index keeps its colour with alpha 0.
    const uint8_t* pPal = pFrame->abPalette;
    const int nT = pFrame->nTransparentIndex >= 0 && pFrame->nTransparentIndex < 256 ? pFrame->nTransparentIndex : 0;
    const uint8_t abTransparent[4] = {pPal[nT * 3 + 2], pPal[nT * 3 + 1], pPal[nT * 3], 0};
    uint32_t anTable[256];
    MakeGIFPixelTable(pFrame, abTransparent, anTable);
    DrawGIFFrameWith(pLayer, pFrame, anTable);
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
                 const GIF_CONTROL* pControl, GIF_LZW_STATE* pState, GIF_FAST_STATE* pFast, const char* pszName)
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
    if (pFast) {
        // A code size above 11 would put the clear and end codes outside the 4096-entry table.
        if (nMinCodeSize < 1 || nMinCodeSize > 11 ||
            DecodeGIFImageFast(pCur, pFast, nMinCodeSize, GIFFrameIndices(pFrame), nWidth, nHeight,
                               (nPacked & 0x40) != 0) < 0) {
            free(pFrame);
            return -1;
        }
    } else {
        if (InitGIFLZW(pState, pCur, nMinCodeSize) < 0) {
            free(pFrame);
            return -1;
        }
        DecodeGIFRows(pState, GIFFrameIndices(pFrame), nWidth, nHeight, (nPacked & 0x40) != 0);
        // The rest of the image's data, unless its terminator has been read already.
        if (!pState->bEndOfData)
            SkipGIFSubBlocks(pCur);
    }

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
    // The plain decoder's state, or the fast one's.
    const bool bPlain = g_bGIFPlainDecoder != 0;
    GIF_LZW_STATE* pState = bPlain ? static_cast<GIF_LZW_STATE*>(malloc(sizeof(GIF_LZW_STATE))) : nullptr;
    GIF_FAST_STATE* pFast = bPlain ? nullptr : static_cast<GIF_FAST_STATE*>(calloc(1, sizeof(GIF_FAST_STATE)));
    if (!pState && !pFast)
        return -1;

    GIF_CONTROL control = {0, 0, 0, 0, 1};
    int nFrames = 0;
    int nResult = 1;   // 1 while blocks follow, then 0 at the trailer or -1
    while (nResult == 1) {
        const int nBlock = ReadGIFByte(&cur);
        if (nBlock == 0x2C) {
            if (ReadGIFImage(&cur, pLayer, nFrames, abGlobal, &control, pState, pFast, pszName) < 0)
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
    free(pFast);
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
    const size_t nPixels = size_t(nScreenW) * size_t(nScreenH);
    if (bPlain) {
        DrawGIFFrame(pLayer, 0);
        NormalizeGIFPixels(pPixels, nPixels);
        return 0;
    }
    // Transparent pixels take their one form as they are drawn; the pixels frame 0 leaves
    // uncovered take it first.
    static const uint8_t s_abTransparent[4] = {0x80, 0x80, 0x80, 0};
    if (!bCovers) {
        uint32_t nFill;
        memcpy(&nFill, s_abTransparent, 4);
        uint32_t* p = reinterpret_cast<uint32_t*>(pPixels);
        std::fill(p, p + nPixels, nFill);
    }
    uint32_t anTable[256];
    MakeGIFPixelTable(pFirst, s_abTransparent, anTable);
    DrawGIFFrameWith(pLayer, pFirst, anTable);
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
