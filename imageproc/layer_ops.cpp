// Layer-to-layer operations of the image-effect command: pasting one layer onto another, mixing two
// layers into a third, keeping or clearing the pixels in which two layers agree, cropping a layer to
// its visible pixels and growing or shrinking a layer's canvas.
//
// Sources are read through their display pixels (what the player sees); destinations are written in
// their owned pixels, and their colour cache is marked stale, so a tinted destination keeps the edit
// when the compositor rebuilds its cache. A layer that has no pixels (a layer the command has just
// created by name) makes the operation return 0 without change.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/errors.h"
#include "core/kx_texts.h"
#include "image/dirty_rects.h"
#include "image/layer.h"
#include "imageproc/compositor.h"
#include "imageproc/image_effects.h"
#include "imageproc/pixel_ops.h"

namespace {

// The value of a fully transparent pixel: the fill of new canvas area.
const uint32_t kCanvasFill = 0x00808080u;

inline uint8_t* PixelAddr(uint8_t* p, int64_t nWidth, int64_t x, int64_t y)
{
    return p + (y * nWidth + x) * 4;
}
inline const uint8_t* PixelAddr(const uint8_t* p, int64_t nWidth, int64_t x, int64_t y)
{
    return p + (y * nWidth + x) * 4;
}

// 1 when the buffer can be addressed as the layer's width x height image. The owned buffer was made
// for nBufWidth x nBufHeight pixels; rows are addressed by the layer's width, so its pixel count must
// fit in that. A colour cache is made for the layer's own size.
int LayerBufferUsable(const LAYER* p, const uint8_t* pBuf)
{
    if (!p || !pBuf || p->nWidth <= 0 || p->nHeight <= 0)
        return 0;
    if (pBuf == p->pOwnedPixels &&
        int64_t(p->nWidth) * p->nHeight > int64_t(std::max(p->nBufWidth, 0)) * std::max(p->nBufHeight, 0))
        return 0;
    return 1;
}

// The pixels an operation reads from a source layer.
const uint8_t* SourcePixels(const LAYER* p)
{
    return p->pDisplayPixels ? p->pDisplayPixels : p->pOwnedPixels;
}

// Places the source layer's image with its top-left corner at (x, y) on the destination and clips it
// against the destination's area. 1 when something is visible.
int PlaceOnto(const LAYER* pSrc, const LAYER* pDst, int32_t x, int32_t y, BLIT_CLIP* pClip)
{
    *pClip = BLIT_CLIP{};
    pClip->llSrcX = x;
    pClip->llSrcY = y;
    pClip->nSrcWidth = pSrc->nWidth;
    pClip->nSrcHeight = pSrc->nHeight;
    pClip->llClipX = 0;
    pClip->llClipY = 0;
    pClip->nClipWidth = pDst->nWidth;
    pClip->nClipHeight = pDst->nHeight;
    ClipBlit(pClip);
    return pClip->nVisWidth > 0 && pClip->nVisHeight > 0 &&
           int64_t(pClip->nSrcOffX) + pClip->nVisWidth <= pSrc->nWidth &&
           int64_t(pClip->nSrcOffY) + pClip->nVisHeight <= pSrc->nHeight &&
           int64_t(pClip->nDstX) + pClip->nVisWidth <= pDst->nWidth &&
           int64_t(pClip->nDstY) + pClip->nVisHeight <= pDst->nHeight && pClip->nSrcOffX >= 0 &&
           pClip->nSrcOffY >= 0 && pClip->nDstX >= 0 && pClip->nDstY >= 0;
}

// Rows of a visible source rectangle. When the source is the buffer being written, the rectangle is
// first copied aside, so that rows written earlier are never read as source.
struct SOURCE_ROWS {
    const uint8_t* pFirst;   // first visible pixel
    int64_t llStride;        // bytes from one row to the next
    uint8_t* pCopy;          // the copy, freed by ReleaseSourceRows
};

int TakeSourceRows(SOURCE_ROWS* pRows, const uint8_t* pSrc, int32_t nSrcWidth, int32_t nOffX, int32_t nOffY,
                   int32_t nVisWidth, int32_t nVisHeight, const uint8_t* pWritten)
{
    pRows->pCopy = nullptr;
    pRows->pFirst = PixelAddr(pSrc, nSrcWidth, nOffX, nOffY);
    pRows->llStride = int64_t(nSrcWidth) * 4;
    if (pSrc != pWritten)
        return 0;
    const size_t nRow = size_t(nVisWidth) * 4;
    pRows->pCopy = static_cast<uint8_t*>(malloc(nRow * size_t(nVisHeight)));
    if (!pRows->pCopy) {
        ReportErrorF(KX_ERR_LAYER_FILE_NO_MEMORY, 1, "");
        return -1;
    }
    for (int32_t r = 0; r < nVisHeight; ++r)
        memcpy(pRows->pCopy + size_t(r) * nRow, pRows->pFirst + r * pRows->llStride, nRow);
    pRows->pFirst = pRows->pCopy;
    pRows->llStride = int64_t(nRow);
    return 0;
}

void ReleaseSourceRows(SOURCE_ROWS* pRows)
{
    free(pRows->pCopy);
    pRows->pCopy = nullptr;
}


enum { PASTE_PLAIN = 0, PASTE_BOTH_OPACITY = 1, CLEAR_EQUAL = 2, CLEAR_DIFFERENT = 3 };

// The placed operations onto the second layer.
int PlaceAndApply(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t x, int32_t y, int nKind)
{
    const LAYER* L1 = GetNodeLayer(pFirst);
    LAYER* L2 = GetNodeLayer(pSecond);
    if (!L1 || !L2)
        return 0;
    const uint8_t* pSrc = SourcePixels(L1);
    uint8_t* pDst = L2->pOwnedPixels;
    if (!LayerBufferUsable(L1, pSrc) || !LayerBufferUsable(L2, pDst))
        return 0;
    const int nSrcOpacity = std::clamp<int>(L1->nOpacity, 0, 256);
    const int nDstOpacity = std::clamp<int>(L2->nOpacity, 0, 256);
    if (nKind == PASTE_PLAIN && nSrcOpacity == 0)
        return 0;
    L2->bHasAlpha = 1;
    BLIT_CLIP c;
    if (!PlaceOnto(L1, L2, x, y, &c))
        return 0;
    SOURCE_ROWS rows;
    if (TakeSourceRows(&rows, pSrc, L1->nWidth, c.nSrcOffX, c.nSrcOffY, c.nVisWidth, c.nVisHeight, pDst) < 0)
        return -1;
    const size_t nBytes = size_t(c.nVisWidth) * 4;
    for (int32_t r = 0; r < c.nVisHeight; ++r) {
        uint8_t* d = PixelAddr(pDst, L2->nWidth, c.nDstX, int64_t(c.nDstY) + r);
        const uint8_t* s = rows.pFirst + r * rows.llStride;
        switch (nKind) {
        case PASTE_PLAIN:
            if (nSrcOpacity == 256)
                g_PixelOps.PixelOpCompose(d, s, nBytes);
            else
                g_PixelOps.PixelOpComposeOpacity(d, s, nSrcOpacity, nBytes);
            break;
        case PASTE_BOTH_OPACITY:
            if (nSrcOpacity == 256)
                g_PixelOps.PixelOpComposeDestOpacity(d, s, nDstOpacity, nBytes);
            else
                g_PixelOps.PixelOpComposeBothOpacity(d, s, nDstOpacity, nSrcOpacity, nBytes);
            break;
        case CLEAR_EQUAL:
            for (int32_t i = 0; i < c.nVisWidth; ++i) {
                const uint32_t a = LoadPixel(s + size_t(i) * 4);
                StorePixel(d + size_t(i) * 4, LoadPixel(d + size_t(i) * 4) == a ? 0u : a);
            }
            break;
        default:   // CLEAR_DIFFERENT
            for (int32_t i = 0; i < c.nVisWidth; ++i)
                if (LoadPixel(d + size_t(i) * 4) != LoadPixel(s + size_t(i) * 4))
                    StorePixel(d + size_t(i) * 4, 0u);
            break;
        }
    }
    ReleaseSourceRows(&rows);
    MarkPixelsChanged(L2);
    return 0;
}

// The layer that receives an auto-crop or canvas resize: the second when a second layer is given.
TREE_NODE* TargetNode(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t nLayers)
{
    return nLayers >= 1 ? pSecond : pFirst;
}

// The pixels a canvas operation reads from the first layer. With the result going back into the
// first layer the owned pixels are taken: reading a colour cache and installing it as the image
// would apply the layer's colour filters twice.
const uint8_t* CanvasSourcePixels(const LAYER* L1, const LAYER* pTarget)
{
    return L1 == pTarget ? L1->pOwnedPixels : SourcePixels(L1);
}

}  // namespace

int PasteImage(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t x, int32_t y)
{
    return PlaceAndApply(pFirst, pSecond, x, y, PASTE_PLAIN);
}

int PasteImageBothOpacity(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t x, int32_t y)
{
    return PlaceAndApply(pFirst, pSecond, x, y, PASTE_BOTH_OPACITY);
}

int ClearEqualPixels(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t x, int32_t y)
{
    return PlaceAndApply(pFirst, pSecond, x, y, CLEAR_EQUAL);
}

int ClearDifferentPixels(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t x, int32_t y)
{
    return PlaceAndApply(pFirst, pSecond, x, y, CLEAR_DIFFERENT);
}

int MixImages(TREE_NODE* pFirst, TREE_NODE* pSecond, TREE_NODE* pThird, int32_t x, int32_t y, int32_t P)
{
    const LAYER* L1 = GetNodeLayer(pFirst);
    const LAYER* L2 = GetNodeLayer(pSecond);
    LAYER* L3 = GetNodeLayer(pThird);
    // Without a third layer there is nowhere to put the mix.
    if (!L1 || !L2 || !L3)
        return 0;
    const uint8_t* pA = SourcePixels(L1);
    const uint8_t* pB = SourcePixels(L2);
    uint8_t* pOut = L3->pOwnedPixels;
    if (!LayerBufferUsable(L1, pA) || !LayerBufferUsable(L2, pB) || !LayerBufferUsable(L3, pOut))
        return 0;
    const int nLevel = P < 256 ? std::max(P + 1, 0) : 256;
    L3->bHasAlpha = 1;
    BLIT_CLIP c;
    if (!PlaceOnto(L1, L3, x, y, &c))
        return 0;
    // The second layer is read at the first layer's coordinates: only the part of the overlap that
    // lies inside the second layer is mixed; the third layer keeps its pixels elsewhere.
    const int32_t nVisWidth = int32_t(std::min<int64_t>(c.nVisWidth, int64_t(L2->nWidth) - c.nSrcOffX));
    const int32_t nVisHeight = int32_t(std::min<int64_t>(c.nVisHeight, int64_t(L2->nHeight) - c.nSrcOffY));
    if (nVisWidth <= 0 || nVisHeight <= 0)
        return 0;
    SOURCE_ROWS rowsA, rowsB;
    if (TakeSourceRows(&rowsA, pA, L1->nWidth, c.nSrcOffX, c.nSrcOffY, nVisWidth, nVisHeight, pOut) < 0)
        return -1;
    if (TakeSourceRows(&rowsB, pB, L2->nWidth, c.nSrcOffX, c.nSrcOffY, nVisWidth, nVisHeight, pOut) < 0) {
        ReleaseSourceRows(&rowsA);
        return -1;
    }
    const size_t nBytes = size_t(nVisWidth) * 4;
    for (int32_t r = 0; r < nVisHeight; ++r)
        g_PixelOps.PixelOpCrossFade(PixelAddr(pOut, L3->nWidth, c.nDstX, int64_t(c.nDstY) + r),
                                    rowsA.pFirst + r * rowsA.llStride, rowsB.pFirst + r * rowsB.llStride, nLevel,
                                    nBytes);
    ReleaseSourceRows(&rowsA);
    ReleaseSourceRows(&rowsB);
    MarkPixelsChanged(L3);
    return 0;
}

int AutoCropImage(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t nLayers, int32_t P, int32_t Q)
{
    const LAYER* L1 = GetNodeLayer(pFirst);
    TREE_NODE* pTargetNode = TargetNode(pFirst, pSecond, nLayers);
    LAYER* LT = GetNodeLayer(pTargetNode);
    if (!L1 || !LT)
        return 0;
    const uint8_t* pSrc = CanvasSourcePixels(L1, LT);
    if (!LayerBufferUsable(L1, pSrc))
        return 0;
    MarkLayerDirty(pTargetNode);

    const int32_t W = L1->nWidth, H = L1->nHeight;
    const uint8_t bThreshold = uint8_t(Q & 0xFF);
    int32_t nLeft = W, nTop = H, nRight = -1, nBottom = -1;
    for (int32_t yy = 0; yy < H; ++yy) {
        const uint8_t* pRow = PixelAddr(pSrc, W, 0, yy);
        int32_t nFirst = -1, nLast = -1;
        for (int32_t xx = 0; xx < W; ++xx)
            if (pRow[size_t(xx) * 4 + 3] > bThreshold) {
                if (nFirst < 0)
                    nFirst = xx;
                nLast = xx;
            }
        if (nFirst < 0)
            continue;
        nTop = std::min(nTop, yy);
        nBottom = yy;
        nLeft = std::min(nLeft, nFirst);
        nRight = std::max(nRight, nLast);
    }
    // No pixel above the threshold: there is no box, and the whole image is kept.
    const bool bFound = nRight >= 0;
    if (!bFound || !(P & 8))
        nTop = 0;
    if (!bFound || !(P & 4))
        nBottom = H - 1;
    if (!bFound || !(P & 2))
        nLeft = 0;
    if (!bFound || !(P & 1))
        nRight = W - 1;
    const int32_t w = nRight - nLeft + 1, h = nBottom - nTop + 1;

    const bool bInPlace = nLayers >= 1 && LT->pOwnedPixels && LT->nWidth == w && LT->nHeight == h &&
                          LayerBufferUsable(LT, LT->pOwnedPixels);
    uint8_t* pDst = bInPlace ? LT->pOwnedPixels : AllocPixelBuffer(nullptr, w, h, "");
    if (!pDst)
        return -1;
    LT->bHasAlpha = L1->bHasAlpha;
    // The same buffer at the same size is the whole image copied onto itself: nothing to copy.
    if (pDst != pSrc)
        CopyCanvasRows(pDst, pSrc, nLeft, nTop, nRight, nBottom, W, H, -nLeft, -nTop, w);
    if (bInPlace)
        MarkPixelsChanged(LT);
    else
        SetLayerPixels(LT, pDst, w, h);
    MarkLayerDirty(pTargetNode);
    return 0;
}

int ResizeCanvas(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t nLayers, int64_t nLeft, int64_t nRight, int64_t nTop,
                 int64_t nBottom)
{
    const LAYER* L1 = GetNodeLayer(pFirst);
    TREE_NODE* pTargetNode = TargetNode(pFirst, pSecond, nLayers);
    LAYER* LT = GetNodeLayer(pTargetNode);
    if (!L1 || !LT)
        return 0;
    const uint8_t* pSrc = CanvasSourcePixels(L1, LT);
    if (!LayerBufferUsable(L1, pSrc))
        return 0;
    MarkLayerDirty(pTargetNode);

    const int64_t W = L1->nWidth, H = L1->nHeight;
    // The margins come unchecked from the script: the sums are formed without overflow.
    int64_t nNewWidth = 0, nNewHeight = 0;
    const bool bWideOverflow = __builtin_add_overflow(nLeft, nRight, &nNewWidth) ||
                               __builtin_add_overflow(nNewWidth, W, &nNewWidth);
    const bool bHighOverflow = __builtin_add_overflow(nTop, nBottom, &nNewHeight) ||
                               __builtin_add_overflow(nNewHeight, H, &nNewHeight);
    if ((!bWideOverflow && nNewWidth <= 0) || (!bHighOverflow && nNewHeight <= 0) ||
        (bWideOverflow && nLeft < 0 && nRight < 0) || (bHighOverflow && nTop < 0 && nBottom < 0)) {
        ShowMessageBox("", GetEngineText(TXT_CANVAS_SIZE_INVALID));
        return -1;
    }
    if (bWideOverflow || nNewWidth > KX_MAX_IMAGE_WIDTH) {
        // Refused by the allocator with its message and error.
        const int64_t nShownWidth = bWideOverflow ? INT32_MAX : std::min<int64_t>(nNewWidth, INT32_MAX);
        const int64_t nShownHeight = bHighOverflow ? INT32_MAX : std::clamp<int64_t>(nNewHeight, 0, INT32_MAX);
        AllocPixelBuffer(nullptr, int32_t(nShownWidth), int32_t(nShownHeight), "");
        return -1;
    }
    if (bHighOverflow || nNewHeight > INT32_MAX) {
        // No buffer of that many rows can be made.
        ReportErrorF(KX_ERR_LAYER_FILE_NO_MEMORY, 1, "");
        return -1;
    }
    const int32_t nW = int32_t(nNewWidth), nH = int32_t(nNewHeight);
    uint8_t* pDst = AllocPixelBuffer(nullptr, nW, nH, "");
    if (!pDst)
        return -1;
    g_PixelOps.PixelOpFill32(pDst, size_t(nW) * 4 * size_t(nH), kCanvasFill);
    LT->bHasAlpha = (nLeft > 0 || nRight > 0 || nTop > 0 || nBottom > 0) ? 1 : L1->bHasAlpha;
    // The old image and the new canvas overlap exactly when neither opposite margin crops away the
    // whole image (the sizes are positive). The margins are then within a few image widths, so the
    // positions fit 32 bits.
    if (nLeft > -W && nRight > -W && nTop > -H && nBottom > -H)
        CopyCanvasRows(pDst, pSrc, int32_t(-nLeft), int32_t(-nTop), int32_t(nRight + W - 1),
                       int32_t(nBottom + H - 1), int32_t(W), int32_t(H), int32_t(nLeft), int32_t(nTop), nW);
    SetLayerPixels(LT, pDst, nW, nH);
    MarkLayerDirty(pTargetNode);
    return 0;
}

void CopyCanvasRows(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                    int32_t nSrcWidth, int32_t nSrcHeight, int32_t nDstX, int32_t nDstY, int32_t nDstWidth)
{
    if (!pDst || !pSrc)
        return;
    // Source column x lands in destination column x + nDstX: clip to the source and to the
    // destination's width (the destination holds every row the source range reaches).
    const int64_t sx0 = std::max<int64_t>({0, x1, -int64_t(nDstX)});
    const int64_t sx1 = std::min<int64_t>({int64_t(nSrcWidth) - 1, x2, int64_t(nDstWidth) - 1 - nDstX});
    const int64_t sy0 = std::max<int64_t>({0, y1, -int64_t(nDstY)});
    const int64_t sy1 = std::min<int64_t>(int64_t(nSrcHeight) - 1, y2);
    if (sx0 > sx1 || sy0 > sy1)
        return;
    const size_t nBytes = size_t(sx1 - sx0 + 1) * 4;
    for (int64_t sy = sy0; sy <= sy1; ++sy)
        g_PixelOps.PixelOpCopy(PixelAddr(pDst, nDstWidth, sx0 + nDstX, sy + nDstY),
                               PixelAddr(pSrc, nSrcWidth, sx0, sy), nBytes);
}
