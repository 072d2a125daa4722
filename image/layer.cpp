// The layer record: creation with its defaults, sharing between nodes, freeing, the node swap, the
// pixel-buffer allocator and the saved form.
#include "image/layer.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "core/engine_hooks.h"
#include "core/errors.h"
#include "core/kx_hash.h"
#include "core/kx_texts.h"
#include "core/window_record.h"
#include "core/sysfacts.h"
#include "image/dirty_rects.h"
#include "core/engine_globals.h"
#include "platform/plat_memory.h"

LAYER_HOOKS g_LayerHooks = {};
TREE_NODE* g_pCaptureLayer = nullptr;

// A pixel buffer that a 32-bit process could never hold is refused as "no memory" without asking
// the allocator (heights are not limited otherwise).
static const size_t KX_MAX_PIXEL_BUFFER_BYTES = size_t(1) << 32;
static const size_t KX_PIXEL_ALIGN = 64;

// One freed large pixel buffer is kept for the next allocation it fits. Effects, canvas changes and
// scaling write a new picture in every frame of an animation and free the one before; the heap
// serves each 64-byte-aligned 8 MB request from fresh pages, and the page faults cost more than the
// effect itself. The spare is taken only by a request of at least its size less an eighth, so it
// never holds much more memory than the picture it serves; a buffer above 64 MB (larger than a
// 3840 x 2160 picture) is not kept, so a freed giant layer goes back to the system. Builds with
// AddressSanitizer keep no spare: a buffer used after it is freed must be seen as freed there.
#if defined(__SANITIZE_ADDRESS__)
#define KX_KEEP_SPARE_PIXEL_BUFFER 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KX_KEEP_SPARE_PIXEL_BUFFER 0
#endif
#endif
#ifndef KX_KEEP_SPARE_PIXEL_BUFFER
#define KX_KEEP_SPARE_PIXEL_BUFFER 1
#endif
namespace {
const size_t KX_SPARE_MIN_BYTES = size_t(1) << 20;
const size_t KX_SPARE_MAX_BYTES = size_t(64) << 20;
std::mutex s_mxSpare;
uint8_t* s_pSpare = nullptr;
size_t s_nSpareBytes = 0;   // usable bytes
struct SPARE_RELEASE {
    ~SPARE_RELEASE() { free(s_pSpare); }
} s_spareRelease;
}  // namespace

// Frees a pixel buffer, keeping it as the spare when it is large and aligned like a new one.
static void FreePixelBuffer(uint8_t* p)
{
    const size_t nUsable = p ? PlatUsableSize(p) : 0;
    if (!KX_KEEP_SPARE_PIXEL_BUFFER || nUsable < KX_SPARE_MIN_BYTES || nUsable > KX_SPARE_MAX_BYTES || reinterpret_cast<uintptr_t>(p) % KX_PIXEL_ALIGN != 0) {
        free(p);
        return;
    }
    uint8_t* pOld;
    {
        std::lock_guard<std::mutex> lock(s_mxSpare);
        pOld = s_pSpare;
        s_pSpare = p;
        s_nSpareBytes = nUsable;
    }
    free(pOld);
}

size_t GetSparePixelBufferBytes(void)
{
    std::lock_guard<std::mutex> lock(s_mxSpare);
    return s_pSpare ? s_nSpareBytes : 0;
}

// The spare when it holds nBytes without holding much more, else NULL.
static uint8_t* TakeSparePixelBuffer(size_t nBytes)
{
    if (nBytes < KX_SPARE_MIN_BYTES) return nullptr;
    std::lock_guard<std::mutex> lock(s_mxSpare);
    if (!s_pSpare || s_nSpareBytes < nBytes || s_nSpareBytes - nBytes > nBytes / 8) return nullptr;
    uint8_t* p = s_pSpare;
    s_pSpare = nullptr;
    s_nSpareBytes = 0;
    return p;
}

// ---------------------------------------------------------------------------------------------
// Records

// Frees everything the record owns, then the record.
static void DestroyLayer(LAYER* pLayer)
{
    g_LayerHooks.pfnReleaseLayerTextures(pLayer);
    if (pLayer->pColorCache != pLayer->pOwnedPixels)
        FreePixelBuffer(pLayer->pColorCache);
    FreePixelBuffer(pLayer->pOwnedPixels);
    pLayer->pOwnedPixels = nullptr;
    pLayer->pColorCache = nullptr;
    pLayer->pDisplayPixels = nullptr;
    free(pLayer->pszMaskPath);
    free(pLayer->pszSecondPath);
    pLayer->pszMaskPath = nullptr;
    pLayer->pszSecondPath = nullptr;
    if (pLayer->ppGifFrames) {
        for (int i = 0; i < KX_GIF_MAX_FRAMES; ++i)
            free(pLayer->ppGifFrames[i]);
        free(pLayer->ppGifFrames);
        pLayer->ppGifFrames = nullptr;
    }
    if (pLayer->pFrameSheet)
        g_LayerHooks.pfnFreeFrameSheet(pLayer);
    if (g_bEmoteAvailable) {
        g_LayerHooks.pfnReleaseEmotePlayer(pLayer);
        g_bFullRedraw = 1;
    }
    pLayer->bKind = LAYERKIND_CPU;
    free(pLayer);
}

// The node gives up its reference to the record it holds; the record dies with its last reference.
// A count already at 0 or below is left alone.
static void DropNodeReference(TREE_NODE* pNode)
{
    LAYER* pLayer = GetNodeLayer(pNode);
    pNode->pPayload = nullptr;
    if (!pLayer || pLayer->llRefCount <= 0)
        return;
    if (--pLayer->llRefCount == 0)
        DestroyLayer(pLayer);
}

static void SetLayerDefaults(LAYER* pLayer)
{
    pLayer->nWidth = 1;
    pLayer->nHeight = 1;
    pLayer->nBufWidth = 1;
    pLayer->nBufHeight = 1;
    pLayer->bVisible = 1;
    pLayer->nOpacity = KX_OPACITY_OPAQUE;
    pLayer->nMaskThreshold = KX_OPACITY_OPAQUE;
    pLayer->llScaleX = KX_SCALE_100_PERCENT;
    pLayer->llScaleY = KX_SCALE_100_PERCENT;
    pLayer->nSaturation = KX_SATURATION_NEUTRAL;
    pLayer->nGpuSaturation = KX_SATURATION_NEUTRAL;
    pLayer->nColorBalance = KX_COLOR_BALANCE_NEUTRAL;
    pLayer->nGpuColorBalance = KX_COLOR_BALANCE_NEUTRAL;
    pLayer->bHasAlpha = 0;
    pLayer->bReserved160 = 1;
}

int NewLayer(TREE_NODE* pNode)
{
    if (!pNode)
        return 1;
    LAYER* pLayer = static_cast<LAYER*>(AllocZeroed(sizeof(LAYER)));
    char* pszMask = static_cast<char*>(AllocZeroed(KX_LAYER_PATH_BUFFER));
    char* pszSecond = static_cast<char*>(AllocZeroed(KX_LAYER_PATH_BUFFER));
    if (!pLayer || !pszMask || !pszSecond) {
        free(pLayer);
        free(pszMask);
        free(pszSecond);
        ReportError(KX_ERR_LAYER_NO_MEMORY, 1);
        return 1;
    }
    SetLayerDefaults(pLayer);
    pLayer->pszMaskPath = pszMask;
    pLayer->pszSecondPath = pszSecond;
    DropNodeReference(pNode);
    pNode->pPayload = pLayer;
    pLayer->llRefCount = 1;
    return 0;
}

LAYER* CreateNodeLayer(TREE_NODE* pNode)
{
    if (!pNode || NewLayer(pNode) != 0)
        return nullptr;
    return GetNodeLayer(pNode);
}

int AttachLayer(TREE_NODE* pNode, LAYER* pLayer)
{
    if (!pNode || !pLayer || GetNodeLayer(pNode) == pLayer)
        return 0;
    // Raised first, so that replacing a record by one that shares its buffers never frees them.
    pLayer->llRefCount++;
    DropNodeReference(pNode);
    pNode->pPayload = pLayer;
    return 0;
}

LAYER* ShareLayer(TREE_NODE* pNode, LAYER* pLayer)
{
    if (!pNode)
        return nullptr;
    AttachLayer(pNode, pLayer);
    return pLayer;
}

LAYER* CreateGroupLayer(const char* pszPath, int32_t nWidth, int32_t nHeight, int64_t llOrder)
{
    TREE_NODE* pNode = CreateNode(g_pLayerRoot, pszPath, 1, llOrder);
    if (!pNode)
        return nullptr;
    LAYER* pLayer = CreateNodeLayer(pNode);
    uint8_t* pPixels = pLayer ? AllocPixelBuffer(nullptr, nWidth, nHeight, nullptr) : nullptr;
    if (!pPixels) {
        // A group without its buffer would be drawn from a size that has no pixels behind it.
        FreeNode(pNode);
        return nullptr;
    }
    SetLayerPixels(pLayer, pPixels, nWidth, nHeight);
    pLayer->rcOwn = DIRTY_BOX{0, 0, int64_t(nWidth) - 1, int64_t(nHeight) - 1};
    pLayer->bOwnValid = 1;
    pLayer->bFullRedraw = 1;
    PropagateLayerDirty(pNode);
    return pLayer;
}

// ---------------------------------------------------------------------------------------------
// Freeing

void FreeNode(TREE_NODE* pNode)
{
    if (!pNode)
        return;
    // Children left below the node would keep a pointer to it.
    if (pNode->pFirstChild)
        FreeNodeChildren(pNode);
    LAYER* pLayer = GetNodeLayer(pNode);
    // Every window that shows the node forgets it, whatever the window-root flag says: a flag that
    // another window cleared must not leave a window pointing at a freed node.
    for (int i = 0; i < KX_LAYER_WINDOWS; ++i) {
        TREE_NODE** ppSlot = g_LayerHooks.pfnWindowLayerSetSlot(i);
        if (ppSlot && *ppSlot == pNode)
            *ppSlot = nullptr;
    }
    if (pLayer)
        pLayer->bWindowRoot = 0;
    if (g_pCaptureLayer == pNode)
        g_pCaptureLayer = nullptr;
    if (g_pClickLayerNode == pNode || (pLayer && g_pClickLayer == pLayer)) {
        g_pClickLayerNode = nullptr;
        g_pClickLayer = nullptr;
        g_bClickLayerOn = 0;
    }
    g_LayerHooks.pfnForgetLayerNode(pNode);
    RemoveNode(pNode);
    DropNodeReference(pNode);
    FreeTreeNode(pNode);
}

void FreeNodeChildren(TREE_NODE* pNode)
{
    if (!pNode)
        return;
    TREE_NODE* pChild = pNode->pFirstChild;
    while (pChild) {
        TREE_NODE* pNext = pChild->pNext;
        if (pChild->bGroup)
            FreeNodeChildren(pChild);
        FreeNode(pChild);
        pChild = pNext;
    }
}

void FreeNodeSubtree(TREE_NODE* pNode)
{
    FreeNodeChildren(pNode);
    FreeNode(pNode);
}

// ---------------------------------------------------------------------------------------------
// Swapping two nodes

int SwapLayerNodes(TREE_NODE* pA, TREE_NODE* pB, int nMode)
{
    MarkLayerDirty(pA);
    MarkLayerDirty(pB);
    if (!pA || !pB || pA == pB)
        return 0;
    SwapNodeOrder(pA, pB);

    // The name keys carry each node's own group flag, and each parent's index is sorted by key, so
    // both nodes leave their parents' indexes, take the other's name with a key made from it and
    // their own flag, and are indexed again.
    TREE_NODE* pParentA = pA->pParent;
    TREE_NODE* pParentB = pB->pParent;
    UnindexChildNode(pParentA, pA);
    UnindexChildNode(pParentB, pB);
    std::swap(pA->pszName, pB->pszName);
    std::swap(pA->nNameLen, pB->nNameLen);
    for (TREE_NODE* pNode : {pA, pB}) {
        uint32_t dwHash = 0;
        if (pNode->pszName)
            dwHash = MurmurHash2(pNode->pszName, size_t(pNode->nNameLen), 0) & KX_KEY_HASH_MASK;
        pNode->dwKey = (pNode->bGroup ? KX_KEY_GROUP : 0u) | dwHash;
    }
    // The parents just lost one entry each, so the index has room again.
    if (pParentA)
        InsertChildIndex(pParentA, pA);
    if (pParentB)
        InsertChildIndex(pParentB, pB);

    LAYER* pLa = GetNodeLayer(pA);
    LAYER* pLb = GetNodeLayer(pB);
    if (!pLa || !pLb || pLa == pLb)
        return 0;
    if (nMode == 1 || nMode == 2) {
        // The position times 100 follows the position, which it always equals.
        std::swap(pLa->llX, pLb->llX);
        std::swap(pLa->llY, pLb->llY);
        std::swap(pLa->llX100, pLb->llX100);
        std::swap(pLa->llY100, pLb->llY100);
    }
    if (nMode == 2) {
        std::swap(pLa->bVisible, pLb->bVisible);
        std::swap(pLa->nOpacity, pLb->nOpacity);
        std::swap(pLa->nMaskThreshold, pLb->nMaskThreshold);
        std::swap(pLa->nMaskVagueness, pLb->nMaskVagueness);
        std::swap(pLa->bBlendMode, pLb->bBlendMode);
    }
    // Marked again where the images now are: with different sizes the new areas are not the old.
    if (nMode == 1 || nMode == 2) {
        MarkLayerDirty(pA);
        MarkLayerDirty(pB);
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Pixel buffers

size_t PixelBufferBytes(int32_t nWidth, int32_t nHeight)
{
    size_t nRow = size_t(nWidth) * 4;
    return nRow * size_t(nHeight) + nRow + 4;
}

// The allocator below, clearing the whole buffer or only what follows the pixels.
static uint8_t* AllocPixelBufferFrom(uint8_t* pOld, int32_t nWidth, int32_t nHeight, const char* pszName, bool bWhole)
{
    if (nWidth > KX_MAX_IMAGE_WIDTH || nWidth < 0 || nHeight < 0) {
        ShowMessageBox("", GetEngineText(TXT_CG_SIZE_TOO_LARGE), nWidth, nHeight);
        ReportError(KX_ERR_LAYER_NO_MEMORY, 1);
        return nullptr;
    }
    size_t nBytes = PixelBufferBytes(nWidth, nHeight);
    uint8_t* pNew = nullptr;
    if (nBytes <= KX_MAX_PIXEL_BUFFER_BYTES) {
        size_t nAlloc = (nBytes + KX_PIXEL_ALIGN - 1) / KX_PIXEL_ALIGN * KX_PIXEL_ALIGN;
        pNew = TakeSparePixelBuffer(nAlloc);
        if (!pNew)
            pNew = static_cast<uint8_t*>(std::aligned_alloc(KX_PIXEL_ALIGN, nAlloc));
        // Cleared: pixels a producer leaves unwritten, the spare row and the spare bytes (which
        // the filters read with weight 0) are all 0, so results never depend on old heap contents.
        // A producer that writes every pixel has only the rest cleared.
        const size_t nClearFrom = bWhole ? 0 : size_t(nWidth) * 4 * size_t(nHeight);
        if (pNew)
            memset(pNew + nClearFrom, 0, nAlloc - nClearFrom);
    }
    if (!pNew) {
        if (pszName)
            ReportErrorF(KX_ERR_LAYER_FILE_NO_MEMORY, 1, pszName);
        else
            ReportError(KX_ERR_LAYER_NO_MEMORY, 1);
        return nullptr;
    }
    FreePixelBuffer(pOld);
    return pNew;
}

uint8_t* AllocPixelBuffer(uint8_t* pOld, int32_t nWidth, int32_t nHeight, const char* pszName)
{
    return AllocPixelBufferFrom(pOld, nWidth, nHeight, pszName, true);
}

uint8_t* AllocPixelBufferToFill(int32_t nWidth, int32_t nHeight, const char* pszName)
{
    return AllocPixelBufferFrom(nullptr, nWidth, nHeight, pszName, false);
}

int SetLayerPixels(LAYER* pLayer, uint8_t* pPixels, int32_t nWidth, int32_t nHeight)
{
    if (!pLayer)
        return 0;
    if (pLayer->pColorCache != pPixels && pLayer->pColorCache != pLayer->pOwnedPixels)
        FreePixelBuffer(pLayer->pColorCache);
    if (pLayer->pOwnedPixels != pPixels)
        FreePixelBuffer(pLayer->pOwnedPixels);
    pLayer->pColorCache = nullptr;
    MarkPixelsChanged(pLayer);
    pLayer->pOwnedPixels = pPixels;
    pLayer->pDisplayPixels = pPixels;
    pLayer->nWidth = nWidth;
    pLayer->nHeight = nHeight;
    pLayer->nBufWidth = nWidth;
    pLayer->nBufHeight = nHeight;
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The saved form

namespace {

// Little-endian writer and reader over the fixed block; offsets are the layout's, never computed
// from data.
struct RECORD_WRITER {
    uint8_t* p;
    void U8(size_t off, uint8_t v) { p[off] = v; }
    void U32(size_t off, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            p[off + size_t(i)] = uint8_t(v >> (8 * i));
    }
    void U64(size_t off, uint64_t v)
    {
        for (int i = 0; i < 8; ++i)
            p[off + size_t(i)] = uint8_t(v >> (8 * i));
    }
    void I16(size_t off, int16_t v)
    {
        uint16_t u = uint16_t(v);
        p[off] = uint8_t(u);
        p[off + 1] = uint8_t(u >> 8);
    }
    void I32(size_t off, int32_t v) { U32(off, uint32_t(v)); }
    void I64(size_t off, int64_t v) { U64(off, uint64_t(v)); }
    void F32(size_t off, float v)
    {
        uint32_t u;
        memcpy(&u, &v, sizeof u);
        U32(off, u);
    }
    void Box(size_t off, const DIRTY_BOX& b)
    {
        I64(off, b.llLeft);
        I64(off + 8, b.llTop);
        I64(off + 16, b.llRight);
        I64(off + 24, b.llBottom);
    }
};

struct RECORD_READER {
    const uint8_t* p;
    uint8_t U8(size_t off) const { return p[off]; }
    uint32_t U32(size_t off) const
    {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | p[off + size_t(i)];
        return v;
    }
    uint64_t U64(size_t off) const
    {
        uint64_t v = 0;
        for (int i = 7; i >= 0; --i)
            v = (v << 8) | p[off + size_t(i)];
        return v;
    }
    int16_t I16(size_t off) const { return int16_t(uint16_t(p[off] | (p[off + 1] << 8))); }
    int32_t I32(size_t off) const { return int32_t(U32(off)); }
    int64_t I64(size_t off) const { return int64_t(U64(off)); }
    float F32(size_t off) const
    {
        uint32_t u = U32(off);
        float v;
        memcpy(&v, &u, sizeof v);
        return v;
    }
    DIRTY_BOX Box(size_t off) const { return DIRTY_BOX{I64(off), I64(off + 8), I64(off + 16), I64(off + 24)}; }
};

// Offsets of the saved form.
enum : size_t {
    REC_WINDOW_ROOT = 0, REC_PREV_MERGES = 4, REC_MERGES = 8, REC_UNION_BOX = 16, REC_OWN_BOX = 48,
    REC_OWN_VALID = 80, REC_FULL_REDRAW = 81, REC_MASK_PATH = 84, REC_REF_COUNT = 88, REC_USER1 = 96,
    REC_USER2 = 104, REC_X = 112, REC_Y = 120, REC_SATURATION = 128, REC_COLOR_BALANCE = 132,
    REC_WIDTH = 136, REC_HEIGHT = 140, REC_RESERVED160 = 160, REC_OPACITY = 162, REC_MASK_THRESHOLD = 164,
    REC_MASK_VAGUENESS = 166, REC_HAS_ALPHA = 168, REC_BLEND = 169, REC_VISIBLE = 171,
    REC_PENDING_VISIBLE = 172, REC_PENDING_VISIBLE_SET = 173, REC_PENDING_OPACITY = 174,
    REC_PENDING_OPACITY_SET = 176, REC_DISPLAY = 192, REC_OWNED = 208, REC_CACHE = 224,
    REC_CACHE_FRAME = 232, REC_BUF_WIDTH = 240, REC_BUF_HEIGHT = 244, REC_CHANGED = 257,
    REC_SCALE_INTO = 258, REC_GIF_TABLE = 260, REC_FRAME_SHEET = 264, REC_KIND = 268, REC_MIP = 269,
    REC_TEX_COLUMNS = 270, REC_TEX_ROWS = 271, REC_TILE_WIDTH_LIMIT = 272, REC_TILE_HEIGHT_LIMIT = 276,
    REC_TEX_COLUMN_WIDTHS = 280, REC_TEX_ROW_HEIGHTS = 408, REC_X100 = 536, REC_Y100 = 544,
    REC_SCALE_X = 552, REC_SCALE_Y = 560, REC_ANCHOR_X = 568, REC_ANCHOR_Y = 576, REC_GPU_VALUES = 584,
    REC_GPU_ANGLES = 608, REC_GPU_SATURATION = 620, REC_GPU_COLOR_BALANCE = 624, REC_GPU_FLAG = 628,
    REC_SECOND_PATH = 632, REC_FADE = 636, REC_TEXTURES = 640, REC_EMOTE = 1664,
};
static_assert(REC_TEX_ROW_HEIGHTS + 4 * KX_LAYER_TEXTURE_GRID == REC_X100);
static_assert(REC_TEXTURES + 4 * KX_LAYER_TEXTURE_TILES == REC_EMOTE);
static_assert(REC_EMOTE + 4 <= KX_LAYER_RECORD_SIZE);

}  // namespace

int SerializeLayerRecord(const LAYER* pLayer, uint8_t* pOut, size_t nCap)
{
    if (!pLayer || !pOut || nCap < KX_LAYER_RECORD_SIZE)
        return -1;
    // Reserved bytes and every pointer field (paths, pixels, tables, textures, player) stay 0.
    memset(pOut, 0, KX_LAYER_RECORD_SIZE);
    RECORD_WRITER w{pOut};
    const LAYER& L = *pLayer;
    w.U8(REC_WINDOW_ROOT, L.bWindowRoot);
    w.I32(REC_PREV_MERGES, L.nPrevMergeCount);
    w.I32(REC_MERGES, L.nMergeCount);
    w.Box(REC_UNION_BOX, L.rcUnion);
    w.Box(REC_OWN_BOX, L.rcOwn);
    w.U8(REC_OWN_VALID, L.bOwnValid);
    w.U8(REC_FULL_REDRAW, L.bFullRedraw);
    w.I64(REC_REF_COUNT, L.llRefCount);
    w.I64(REC_USER1, L.llUser1);
    w.I64(REC_USER2, L.llUser2);
    w.I64(REC_X, L.llX);
    w.I64(REC_Y, L.llY);
    w.I32(REC_SATURATION, L.nSaturation);
    w.I32(REC_COLOR_BALANCE, L.nColorBalance);
    w.I32(REC_WIDTH, L.nWidth);
    w.I32(REC_HEIGHT, L.nHeight);
    w.U8(REC_RESERVED160, L.bReserved160);
    w.I16(REC_OPACITY, L.nOpacity);
    w.I16(REC_MASK_THRESHOLD, L.nMaskThreshold);
    w.I16(REC_MASK_VAGUENESS, L.nMaskVagueness);
    w.U8(REC_HAS_ALPHA, L.bHasAlpha);
    w.U8(REC_BLEND, L.bBlendMode);
    w.U8(REC_VISIBLE, L.bVisible);
    w.U8(REC_PENDING_VISIBLE, L.bPendingVisible);
    w.U8(REC_PENDING_VISIBLE_SET, L.bPendingVisibleSet);
    w.I16(REC_PENDING_OPACITY, L.nPendingOpacity);
    w.U8(REC_PENDING_OPACITY_SET, L.bPendingOpacitySet);
    w.I64(REC_CACHE_FRAME, L.llCacheFrame);
    w.I32(REC_BUF_WIDTH, L.nBufWidth);
    w.I32(REC_BUF_HEIGHT, L.nBufHeight);
    w.U8(REC_CHANGED, L.bChanged);
    w.U8(REC_SCALE_INTO, L.bScaleIntoBuffer);
    w.U8(REC_KIND, L.bKind);
    w.U8(REC_MIP, L.bMip);
    w.U8(REC_TEX_COLUMNS, L.bTexColumns);
    w.U8(REC_TEX_ROWS, L.bTexRows);
    w.I32(REC_TILE_WIDTH_LIMIT, L.nTileWidthLimit);
    w.I32(REC_TILE_HEIGHT_LIMIT, L.nTileHeightLimit);
    for (size_t i = 0; i < KX_LAYER_TEXTURE_GRID; ++i) {
        w.I32(REC_TEX_COLUMN_WIDTHS + 4 * i, L.anTexColumnWidth[i]);
        w.I32(REC_TEX_ROW_HEIGHTS + 4 * i, L.anTexRowHeight[i]);
    }
    w.I64(REC_X100, L.llX100);
    w.I64(REC_Y100, L.llY100);
    w.I64(REC_SCALE_X, L.llScaleX);
    w.I64(REC_SCALE_Y, L.llScaleY);
    w.I64(REC_ANCHOR_X, L.llGpuAnchorX);
    w.I64(REC_ANCHOR_Y, L.llGpuAnchorY);
    for (size_t i = 0; i < 3; ++i) {
        w.I64(REC_GPU_VALUES + 8 * i, L.allGpuValue[i]);
        w.F32(REC_GPU_ANGLES + 4 * i, L.afGpuAngle[i]);
    }
    w.I32(REC_GPU_SATURATION, L.nGpuSaturation);
    w.I32(REC_GPU_COLOR_BALANCE, L.nGpuColorBalance);
    w.U8(REC_GPU_FLAG, L.bGpuFlag);
    w.I16(REC_FADE, L.nFadeLevel);
    return 0;
}

int ReadLayerRecord(const uint8_t* pData, size_t nSize, LAYER* pOut)
{
    if (!pOut)
        return KX_LAYER_READ_BAD_SIZE;
    *pOut = LAYER{};
    if (!pData || nSize != KX_LAYER_RECORD_SIZE)
        return KX_LAYER_READ_BAD_SIZE;
    RECORD_READER r{pData};
    LAYER L{};
    L.bWindowRoot = r.U8(REC_WINDOW_ROOT);
    L.nPrevMergeCount = r.I32(REC_PREV_MERGES);
    L.nMergeCount = r.I32(REC_MERGES);
    L.rcUnion = r.Box(REC_UNION_BOX);
    L.rcOwn = r.Box(REC_OWN_BOX);
    L.bOwnValid = r.U8(REC_OWN_VALID);
    L.bFullRedraw = r.U8(REC_FULL_REDRAW);
    L.llRefCount = r.I64(REC_REF_COUNT);
    L.llUser1 = r.I64(REC_USER1);
    L.llUser2 = r.I64(REC_USER2);
    L.llX = r.I64(REC_X);
    L.llY = r.I64(REC_Y);
    L.nSaturation = r.I32(REC_SATURATION);
    L.nColorBalance = r.I32(REC_COLOR_BALANCE);
    L.nWidth = r.I32(REC_WIDTH);
    L.nHeight = r.I32(REC_HEIGHT);
    L.bReserved160 = r.U8(REC_RESERVED160);
    L.nOpacity = r.I16(REC_OPACITY);
    L.nMaskThreshold = r.I16(REC_MASK_THRESHOLD);
    L.nMaskVagueness = r.I16(REC_MASK_VAGUENESS);
    L.bHasAlpha = r.U8(REC_HAS_ALPHA);
    L.bBlendMode = r.U8(REC_BLEND);
    L.bVisible = r.U8(REC_VISIBLE);
    L.bPendingVisible = r.U8(REC_PENDING_VISIBLE);
    L.bPendingVisibleSet = r.U8(REC_PENDING_VISIBLE_SET);
    L.nPendingOpacity = r.I16(REC_PENDING_OPACITY);
    L.bPendingOpacitySet = r.U8(REC_PENDING_OPACITY_SET);
    L.llCacheFrame = r.I64(REC_CACHE_FRAME);
    L.nBufWidth = r.I32(REC_BUF_WIDTH);
    L.nBufHeight = r.I32(REC_BUF_HEIGHT);
    L.bChanged = r.U8(REC_CHANGED);
    L.bScaleIntoBuffer = r.U8(REC_SCALE_INTO);
    L.bKind = r.U8(REC_KIND);
    L.bMip = r.U8(REC_MIP);
    L.bTexColumns = r.U8(REC_TEX_COLUMNS);
    L.bTexRows = r.U8(REC_TEX_ROWS);
    L.nTileWidthLimit = r.I32(REC_TILE_WIDTH_LIMIT);
    L.nTileHeightLimit = r.I32(REC_TILE_HEIGHT_LIMIT);
    for (size_t i = 0; i < KX_LAYER_TEXTURE_GRID; ++i) {
        L.anTexColumnWidth[i] = r.I32(REC_TEX_COLUMN_WIDTHS + 4 * i);
        L.anTexRowHeight[i] = r.I32(REC_TEX_ROW_HEIGHTS + 4 * i);
    }
    L.llX100 = r.I64(REC_X100);
    L.llY100 = r.I64(REC_Y100);
    L.llScaleX = r.I64(REC_SCALE_X);
    L.llScaleY = r.I64(REC_SCALE_Y);
    L.llGpuAnchorX = r.I64(REC_ANCHOR_X);
    L.llGpuAnchorY = r.I64(REC_ANCHOR_Y);
    for (size_t i = 0; i < 3; ++i) {
        L.allGpuValue[i] = r.I64(REC_GPU_VALUES + 8 * i);
        L.afGpuAngle[i] = r.F32(REC_GPU_ANGLES + 4 * i);
    }
    L.nGpuSaturation = r.I32(REC_GPU_SATURATION);
    L.nGpuColorBalance = r.I32(REC_GPU_COLOR_BALANCE);
    L.bGpuFlag = r.U8(REC_GPU_FLAG);
    L.nFadeLevel = r.I16(REC_FADE);

    // Sizes decide how many pixel bytes follow the block and how big a buffer is made; the grid
    // counts index the 32-entry tables.
    auto BadSize = [](int32_t w, int32_t h) { return w < 0 || h < 0 || w > KX_MAX_IMAGE_WIDTH; };
    if (BadSize(L.nWidth, L.nHeight) || BadSize(L.nBufWidth, L.nBufHeight) ||
        L.bTexColumns > KX_LAYER_TEXTURE_GRID || L.bTexRows > KX_LAYER_TEXTURE_GRID)
        return KX_LAYER_READ_BAD_VALUE;
    *pOut = L;
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Frame hooks

void ApplyPendingLayerPropsStep(void)
{
    if (g_pLayerRoot)
        ApplyPendingLayerProps(g_pLayerRoot->pFirstChild);
}

void ResetDirtyRectsStep(void)
{
    ResetDirtyRects(g_pLayerRoot ? g_pLayerRoot->pFirstChild : nullptr);
}

void RequestFullRedraw(void)
{
    g_bFullRedraw = 1;
}

int SetUpLayerTree(TREE_NODE* pRoot, int32_t nWidth, int32_t nHeight)
{
    if (LAYER* pRootLayer = CreateNodeLayer(pRoot)) {
        pRootLayer->nWidth = nWidth;
        pRootLayer->nHeight = nHeight;
    }
    LAYER* pW0Layer = CreateGroupLayer("W0", nWidth, nHeight, 1);
    if (!pW0Layer)
        return -1;
    TREE_NODE* pW0 = FindNodeByPath(pRoot, "W0", KX_FIND_GROUP);
    if (TREE_NODE** ppSlot = g_LayerHooks.pfnWindowLayerSetSlot(0)) {
        *ppSlot = pW0;
        pW0Layer->bWindowRoot = 1;
    }
    return 0;
}
