// The CPU compositor: once per frame each window's picture (the LAYER of the window's layer set, a
// group node of the layer tree) is redrawn inside its dirty box by walking the layer tree, clipping
// each visible child against the box, refreshing the child's colour cache and handing the rows to
// the image workers with the blend span of the child's mode. Presentation then blanks a window
// that has nothing to show or asks a window whose picture changed to repaint.
//
// The window's layer set and back layer come from the layer hooks (g_LayerHooks.pfnWindowLayerSetSlot,
// pfnWindowBackLayer); a window without them has nothing to show.
#pragma once
#include <cstdint>

#include "core/object_tree.h"
#include "image/layer.h"

// Error ids of the compositor.
enum {
    KX_ERR_MASK_SIZE = 100310,   // mask and layer of different sizes (fatal; both names and sizes)
};

// One clipping problem and its answer, per axis: a rectangle at (llSrcX, llSrcY) of nSrcWidth x
// nSrcHeight in the target's coordinates against the clip rectangle.
struct BLIT_CLIP {
    // In.
    int64_t llSrcX, llSrcY;
    int32_t nSrcWidth, nSrcHeight;
    int64_t llClipX, llClipY;
    int32_t nClipWidth, nClipHeight;
    // Out. Case byte per axis: bit 1 the rectangle starts before the clip, bit 0 it runs past its
    // end (0 inside, 1 past the end, 2 before the start, 3 both).
    uint8_t bCaseX, bCaseY;
    int32_t nSrcOffX, nSrcOffY;   // first visible pixel inside the rectangle
    int32_t nDstX, nDstY;         // where it lands in the target
    int32_t nVisWidth, nVisHeight;  // may be 0 or negative: nothing visible
};

// Fills the out fields. A visible size that does not fit 32 bits saturates (it is then negative or
// larger than any image, and callers test it).
void ClipBlit(BLIT_CLIP* pClip);

// The weight of each mask byte value for the layer being blended; see BuildMaskCurve.
extern int32_t g_aiMaskCurve[256];
// Fills g_aiMaskCurve from the layer's opacity, mask threshold and vagueness. Vagueness 256 is a
// hard edge at the threshold (taken within 0..256); any other vagueness a ramp. Every entry ends in
// 0..256.
void BuildMaskCurve(const LAYER* pLayer);

// Merges box nBox (0: the own box) into the layer's union box; a pending full redraw then makes
// the union box the whole layer and is cleared.
void AccumulateDirtyBox(LAYER* pLayer, int nBox);

// Colour filters over the inclusive rectangle nLeft..nRight, nTop..nBottom of the source (row stride
// nSrcWidth pixels): pixel (x, y) lands at (x - nLeft, y - nTop) of the destination (row stride
// nDstWidth pixels). Parts of the rectangle outside the source or the destination are left out.
// Alpha is copied. dwRGB is 0xRRGGBB (0x80 per channel neutral); nSaturation 0..256 (128 neutral,
// 0 grey).
void FilterColorBalance(uint8_t* pDst, const uint8_t* pSrc, int64_t nLeft, int64_t nTop, int64_t nRight,
                        int64_t nBottom, int32_t nSrcWidth, int32_t nSrcHeight, int32_t nDstWidth,
                        int32_t nDstHeight, uint32_t dwRGB);
void FilterSaturation(uint8_t* pDst, const uint8_t* pSrc, int64_t nLeft, int64_t nTop, int64_t nRight,
                      int64_t nBottom, int32_t nSrcWidth, int32_t nSrcHeight, int32_t nDstWidth,
                      int32_t nDstHeight, int32_t nSaturation);

// A blend of fewer visible pixels than this runs on the poster's thread: waking the workers costs
// more than such rows, and the rows give the same bytes on any thread. Tests set 0 to send every
// blend to the workers.
enum { KX_INLINE_BLEND_PIXELS = 128 * 128 };
extern int64_t g_nInlineBlendPixels;

// Blend posters: the clipped layer (pClip's source offset, destination start and visible size) is
// blended into the target's display pixels, the rows split over the workers; they return when all
// rows are done. 0, or -1 for missing pixels or a failed job.
int PostBlendJob(LAYER* pTarget, LAYER* pLayer, const BLIT_CLIP* pClip);
int PostBlendAlphaJob(LAYER* pTarget, LAYER* pLayer, const BLIT_CLIP* pClip);
int PostBlendMaskJob(LAYER* pTarget, LAYER* pLayer, LAYER* pMask, const BLIT_CLIP* pClip);
int PostBlendMaskAlphaJob(LAYER* pTarget, LAYER* pLayer, LAYER* pMask, const BLIT_CLIP* pClip);

// The mask paths one composition has resolved (defined with the compositor).
struct COMPOSE_MASKS;

// One level of a composition. The outermost level of a window's picture has pTarget set to the
// picture and bGroupTarget 0; a group flattened into its own buffer has no target and bGroupTarget
// 1. Every group below is composed with a copy that has bGroupTarget 1, one more depth, the group's
// offset and the part of it to redraw; pMasks is shared by all levels of the composition.
struct COMPOSE_PASS {
    LAYER* pTarget;          // the window's picture every child lands in; NULL: each node's own buffer
    uint8_t bGroupTarget;    // 0 only on the outermost level of a window
    int32_t nDepth;          // 0 on the outermost level
    int64_t llOffX, llOffY;  // the node's position in the window
    DIRTY_BOX rcClip;        // the box to redraw, inclusive, in the node's coordinates
    COMPOSE_MASKS* pMasks;   // the composition's resolved mask paths
};

// Composes node's children into the pass's target, or without one into the node's own buffer.
// 0 done or nothing to do; -1 after a failure (reported, or a failed worker job). A failure inside
// a group does not stop the group's later siblings: they are drawn, then -1 is returned.
int ComposeLayerTree(TREE_NODE* pNode, const COMPOSE_PASS* pPass);
// A group flattened into its own buffer over its whole area.
int ComposeGroupLayer(TREE_NODE* pNode);

// Frame step, per window 0..3: redraw the window's picture (-1 after a failed composition, else the
// engine stop flag), then present it (blank or invalidate; the engine stop flag).
int RenderWindowCPU(int nWindow);
int PresentWindowCPU(int nWindow);
// 1 while the window had a picture to show in this frame.
int GetWindowPictureShown(int nWindow);
// For the paint that presents window nWindow's picture (pPicture, its layer set's LAYER): the box of
// the picture composed since it was last presented, the part of this frame's composition done so far
// included. 1 with *pOut, 0 when nothing was composed since. Either way the picture counts as
// presented from here on: a frame that composed nothing after it asks for no paint.
int TakeUnpresentedBox(int nWindow, const LAYER* pPicture, DIRTY_BOX* pOut);


// Installs the blend and colour-copy job routines in the worker pool's table.
void InstallCompositor(void);
