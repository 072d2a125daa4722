// The layer record and the layer tree: every picture the engine shows is a LAYER, the payload of a
// node of the layer tree (g_pLayerRoot). Group nodes hold children and a buffer of their own into
// which the children are composed; plain nodes hold one image. One record may be shared by several
// nodes; its reference count is the number of nodes that hold it.
//
// The record in memory is a native structure. Save files hold it in a fixed 1680-byte form written
// and read field by field (SerializeLayerRecord, ReadLayerRecord); the offsets of that form are
// given beside each field.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/object_tree.h"

struct GIF_FRAME;
struct FRAME_SHEET;

enum {
    KX_LAYER_RECORD_SIZE = 1680,     // bytes of the saved form
    KX_LAYER_PATH_BUFFER = 261,      // the mask-layer and second-layer path buffers
    KX_LAYER_TEXTURE_GRID = 32,      // column widths and row heights of the texture grid
    KX_LAYER_TEXTURE_TILES = 256,    // texture tiles of one layer
    KX_GIF_MAX_FRAMES = 8192,        // entries of a GIF frame table
    KX_MAX_IMAGE_WIDTH = 8192,       // widest pixel buffer that is made
};

enum { LAYERKIND_CPU = 0, LAYERKIND_TEXTURE = 1, LAYERKIND_EMOTE = 2 };

// Neutral colour values and defaults of a new record.
enum {
    KX_SATURATION_NEUTRAL = 128,
    KX_COLOR_BALANCE_NEUTRAL = 0x808080,
    KX_OPACITY_OPAQUE = 256,
    KX_SCALE_100_PERCENT = 10000,
};

// Error ids of the layer code.
enum {
    KX_ERR_LAYER_NO_MEMORY = 100010,       // also: a pixel buffer wider than KX_MAX_IMAGE_WIDTH
    KX_ERR_LAYER_FILE_NO_MEMORY = 104030,  // no memory for the pixels of a named file
};

// A dirty box: inclusive pixel coordinates in the layer that holds it (0,0 is its top-left pixel).
struct DIRTY_BOX {
    int64_t llLeft, llTop, llRight, llBottom;
};

struct LAYER {                          // offset in the saved form
    uint8_t bWindowRoot;                // 0    1 while the layer is the root layer of a window
    int32_t nPrevMergeCount;            // 4    merge count of the previous frame
    int32_t nMergeCount;                // 8    0 while the own box holds nothing, 1 after a merge
    DIRTY_BOX rcUnion;                  // 16   union box used by the compositor
    DIRTY_BOX rcOwn;                    // 48   own dirty box
    uint8_t bOwnValid;                  // 80   own box valid
    uint8_t bFullRedraw;                // 81   the compositor treats the whole layer as dirty once
    char* pszMaskPath;                  // 84   KX_LAYER_PATH_BUFFER bytes, empty: no mask
    int64_t llRefCount;                 // 88   nodes holding the record
    int64_t llUser1;                    // 96   kept for scripts, never interpreted
    int64_t llUser2;                    // 104
    int64_t llX;                        // 112  position relative to the parent's top-left corner
    int64_t llY;                        // 120
    int32_t nSaturation;                // 128  0..256, 128 neutral
    int32_t nColorBalance;              // 132  0xRRGGBB, 0x80 per channel neutral
    int32_t nWidth;                     // 136
    int32_t nHeight;                    // 140
    uint8_t bReserved160;               // 160  1 in a new record, never read
    int16_t nOpacity;                   // 162  0..256, 256 opaque
    int16_t nMaskThreshold;             // 164  0..256
    int16_t nMaskVagueness;             // 166
    uint8_t bHasAlpha;                  // 168  the alpha bytes matter when composing
    uint8_t bBlendMode;                 // 169  0..18
    uint8_t bVisible;                   // 171
    uint8_t bPendingVisible;            // 172  pending visibility value
    uint8_t bPendingVisibleSet;         // 173  pending visibility flag
    int16_t nPendingOpacity;            // 174  pending opacity value
    uint8_t bPendingOpacitySet;         // 176  pending opacity flag
    uint8_t* pDisplayPixels;            // 192  owned pixels, or the colour cache; never owns
    uint8_t* pOwnedPixels;              // 208  B,G,R,A rows top-down, stride width*4
    uint8_t* pColorCache;               // 224
    int64_t llCacheFrame;               // 232  frame in which the colour cache was built
    int32_t nCacheWidth;                //      size the colour cache was made for (not saved)
    int32_t nCacheHeight;
    int32_t nCacheBalance;              //      filter values the colour cache holds (not saved)
    int32_t nCacheSaturation;
    int32_t nBufWidth;                  // 240  size the owned buffer was last made for
    int32_t nBufHeight;                 // 244
    uint8_t bChanged;                   // 257  set by every merge, cleared at the end of the frame
    uint8_t bScaleIntoBuffer;           // 258  0 or 1
    GIF_FRAME** ppGifFrames;            // 260  KX_GIF_MAX_FRAMES entries (malloc'ed frames) or NULL
    FRAME_SHEET* pFrameSheet;           // 264
    uint8_t bKind;                      // 268  LAYERKIND_*
    uint8_t bMip;                       // 269
    uint8_t bTexColumns;                // 270
    uint8_t bTexRows;                   // 271
    int32_t nTileWidthLimit;            // 272  0 = none
    int32_t nTileHeightLimit;           // 276  0 = none
    int32_t anTexColumnWidth[KX_LAYER_TEXTURE_GRID];  // 280
    int32_t anTexRowHeight[KX_LAYER_TEXTURE_GRID];    // 408
    int64_t llX100;                     // 536  position times 100
    int64_t llY100;                     // 544
    int64_t llScaleX;                   // 552  hundredths of a percent
    int64_t llScaleY;                   // 560
    int64_t llGpuAnchorX;               // 568
    int64_t llGpuAnchorY;               // 576
    int64_t allGpuValue[3];             // 584, 592, 600
    float afGpuAngle[3];                // 608, 612, 616
    int32_t nGpuSaturation;             // 620  128 neutral
    int32_t nGpuColorBalance;           // 624  0x808080 neutral
    uint8_t bGpuFlag;                   // 628
    char* pszSecondPath;                // 632  KX_LAYER_PATH_BUFFER bytes
    int16_t nFadeLevel;                 // 636  0..256 towards the second layer
    void* apTextures[KX_LAYER_TEXTURE_TILES];  // 640  texture tiles of the GPU renderer, owned
    uint32_t hEmotePlayer;              // 1664 E-mote player handle, 0 when none
};

// The layer code's hook table: the services of the subsystems above it that layers use (GPU
// textures, E-mote players, the compositor, the windows' layer sets) and the frame sheets. The
// image code and the image processing above it call through it; the composition root
// (root/wiring.cpp) installs every slot, so none is NULL. Tests put their own functions into
// single slots and reinstall the wiring afterwards.
struct LAYER_HOOKS {
    void (*pfnReleaseLayerTextures)(LAYER* pLayer);  // releases and clears the texture tiles
    // Uploads the layer's picture as texture tiles (mip flag, tile size limits). 0, or -1.
    int (*pfnUploadLayerTextures)(LAYER* pLayer, int nMip, int nTileWidthLimit, int nTileHeightLimit);
    int (*pfnRenderGpuFrame)(void);                   // draws the GPU frame into the capture layer
    // The image-effect command's GPU operations on two layer nodes. 0, or non-zero.
    int (*pfnPasteLayerTexturesGpu)(TREE_NODE* pFirst, TREE_NODE* pSecond);
    int (*pfnCaptureLayerGpu)(TREE_NODE* pFirst, TREE_NODE* pSecond);
    void (*pfnFreeFrameSheet)(LAYER* pLayer);        // frees the frame sheet, clears the field
    void (*pfnReleaseEmotePlayer)(LAYER* pLayer);    // releases the player, clears the handle
    // Makes an E-mote player of a PSB file's bytes for the layer. 0, or non-zero when none is made.
    int (*pfnCreateEmotePlayer)(LAYER* pLayer, const uint8_t* pData, size_t nSize);
    // Starts a new player once its file data is freed (scale 0, the component's start call).
    void (*pfnStartEmotePlayer)(LAYER* pLayer);
    // Every player slot that names the first layer names the second one instead.
    void (*pfnRetargetEmoteLayer)(LAYER* pFrom, LAYER* pTo);
    // The image-effect command's text: selects text slot nSlot for the drawing that follows, and
    // draws one character (nBytes bytes at pChar) into the layer at (x, y) with the current slot's
    // style and nEdge as its edge, returning the advance in pixels.
    void (*pfnSelectTextSlot)(int64_t nSlot);
    int32_t (*pfnDrawTextChar)(LAYER* pLayer, const char* pChar, int32_t nBytes, int32_t x, int32_t y, int32_t nEdge);
    // Composes a group node's children into the group's own picture. 0, or non-zero.
    int (*pfnComposeGroupLayer)(TREE_NODE* pNode);
    // The window record's layer-set link (a group node) and back layer, per window 0..3; NULL when
    // the window has none.
    TREE_NODE** (*pfnWindowLayerSetSlot)(int nWindow);
    LAYER* (*pfnWindowBackLayer)(int nWindow);
    // A node of the layer tree is about to be freed (a movie drawing into it lets it go).
    void (*pfnForgetLayerNode)(TREE_NODE* pNode);
};
extern LAYER_HOOKS g_LayerHooks;
enum { KX_LAYER_WINDOWS = 4 };

// The node whose layer receives the frame rendered on the GPU, or NULL. Cleared when that node is
// freed.
extern TREE_NODE* g_pCaptureLayer;

// The record a node holds, or NULL.
inline LAYER* GetNodeLayer(const TREE_NODE* pNode)
{
    return pNode ? static_cast<LAYER*>(pNode->pPayload) : nullptr;
}

// The owned pixels were written (or are about to be): a colour cache made from the old ones is
// stale. The compositor keeps a layer's colour cache from frame to frame while its stamp stays set
// and its filter values stay the same, so every writer of a layer's pixels calls this (marking the
// layer dirty does too).
inline void MarkPixelsChanged(LAYER* p)
{
    p->llCacheFrame = 0;
}

// A cleared record with the defaults of a new layer (size 1 x 1, visible, opaque, neutral colours,
// scales 100%, empty path buffers) becomes the node's payload with a reference count of 1; a record
// the node held before loses that reference. 0, or 1 after error 100010 (fatal).
int NewLayer(TREE_NODE* pNode);
// NewLayer's record, or NULL for a NULL node or a failure.
LAYER* CreateNodeLayer(TREE_NODE* pNode);
// The node holds the layer too (reference count + 1). A node that already holds this record is left
// as it is; a different record it held loses that reference. 0.
int AttachLayer(TREE_NODE* pNode, LAYER* pLayer);
// AttachLayer; the layer, or NULL for a NULL node. Shows one image under several names.
LAYER* ShareLayer(TREE_NODE* pNode, LAYER* pLayer);
// A group under g_pLayerRoot at the path, with a cleared width x height buffer that is wholly dirty
// (own box valid, full redraw) and marked up the tree. NULL after a reported error: a size refused
// by AllocPixelBuffer or no memory; the half-made node is removed again.
LAYER* CreateGroupLayer(const char* pszPath, int32_t nWidth, int32_t nHeight, int64_t llOrder);

// Frees one node and drops its reference; the record dies with its last reference, with every
// buffer it owns. Children still below the node are freed first.
void FreeNode(TREE_NODE* pNode);
// Frees every child of the node with its subtree; the node stays.
void FreeNodeChildren(TREE_NODE* pNode);
// FreeNodeChildren, then FreeNode.
void FreeNodeSubtree(TREE_NODE* pNode);

// Exchanges two nodes' places: both are marked dirty, their order keys and names are exchanged (each
// node keeps its own group flag and stays findable by its new name), and by mode their records'
// positions (1) or positions, visibility, opacity, mask threshold and vagueness and blend mode (2).
// 0.
int SwapLayerNodes(TREE_NODE* pA, TREE_NODE* pB, int nMode);

// The one allocator of layer pixel buffers: w*4*h + w*4 + 4 bytes, 64-byte aligned and cleared to 0
// (pixels, spare row and spare bytes). On success the old buffer (may be NULL) is freed; the new
// one is freed with free(). Width above KX_MAX_IMAGE_WIDTH or a negative size: message box
// "ＣＧサイズが大きすぎます。X=%d, Y=%d", error 100010 (fatal). No memory: error 104030 (fatal) with
// the name, or 100010 without one. NULL on failure, the old buffer untouched.
uint8_t* AllocPixelBuffer(uint8_t* pOld, int32_t nWidth, int32_t nHeight, const char* pszName);
// The same for a decoder that writes every one of the w x h pixels before anyone reads them: only
// the spare row and the bytes after it are cleared, so the pixels are not written twice.
uint8_t* AllocPixelBufferToFill(int32_t nWidth, int32_t nHeight, const char* pszName);
// Bytes AllocPixelBuffer makes for a w x h image (no checks).
size_t PixelBufferBytes(int32_t nWidth, int32_t nHeight);
// The usable bytes of the freed large buffer the allocator keeps for the next request of about its
// size, or 0 when none is kept (builds with AddressSanitizer never keep one).
size_t GetSparePixelBufferBytes(void);

// Installs a new pixel buffer (the layer owns it from now on) as the owned and the display pixels:
// the old owned buffer and colour cache are freed, the cache's frame stamp cleared, size and buffer
// size become width x height. 0. (An image-processing helper that the layer code needs first.)
int SetLayerPixels(LAYER* pLayer, uint8_t* pPixels, int32_t nWidth, int32_t nHeight);

// The saved form: KX_LAYER_RECORD_SIZE bytes, little-endian, every field at its offset, pointer
// fields and reserved bytes 0. 0, or -1 for NULL arguments or nCap below the size.
int SerializeLayerRecord(const LAYER* pLayer, uint8_t* pOut, size_t nCap);
// Reads a saved form into *pOut (pointer fields NULL, nothing owned). Pointer and reserved bytes are
// ignored, since writers may leave anything there. 0; KX_LAYER_READ_BAD_SIZE when the block is not
// exactly KX_LAYER_RECORD_SIZE bytes (or NULL); KX_LAYER_READ_BAD_VALUE for a size that no pixel
// buffer can have (negative, or wider than KX_MAX_IMAGE_WIDTH) or a texture grid above 32. Nothing
// is reported: the caller reports with its own error ids. *pOut is cleared on failure.
enum { KX_LAYER_READ_BAD_SIZE = -1, KX_LAYER_READ_BAD_VALUE = -2 };
int ReadLayerRecord(const uint8_t* pData, size_t nSize, LAYER* pOut);

// The frame step's layer steps: the commit of pending properties before drawing, the reset of the
// dirty boxes after presentation, the full-redraw request.
void ApplyPendingLayerPropsStep(void);
void ResetDirtyRectsStep(void);
void RequestFullRedraw(void);
// The layer tree's first records: the root carries the game screen's size without pixels, and the
// group "W0" below it gets a cleared picture of that size, dirty all over, and becomes window 0's
// layer set. 0, or -1 when a record cannot be made.
int SetUpLayerTree(TREE_NODE* pRoot, int32_t nWidth, int32_t nHeight);
