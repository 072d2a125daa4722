// Stand-ins until the effect modules are linked in (weak: the real definitions win).
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "imageproc/image_effects.h"

__attribute__((weak)) int RotateImage(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t P, int32_t nLayers, int32_t nType) { return 0; }
__attribute__((weak)) int RotateImageSmooth(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t P, int32_t nLayers) { return 0; }
__attribute__((weak)) void RotateNearestClipped(uint8_t* pDst, const uint8_t* pSrc, int32_t w, int32_t h, int32_t P) {  }
__attribute__((weak)) void RotateNearestSpans(uint8_t* pDst, const uint8_t* pSrc, int32_t w, int32_t h, int32_t P) {  }
__attribute__((weak)) void RotateBilinear(uint8_t* pDst, const uint8_t* pSrc, int32_t w, int32_t h, int32_t P) {  }
__attribute__((weak)) int PasteImage(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t x, int32_t y) { return 0; }
__attribute__((weak)) int PasteImageBothOpacity(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t x, int32_t y) { return 0; }
__attribute__((weak)) int MixImages(TREE_NODE* pFirst, TREE_NODE* pSecond, TREE_NODE* pThird, int32_t x, int32_t y, int32_t P) { return 0; }
__attribute__((weak)) int ClearEqualPixels(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t x, int32_t y) { return 0; }
__attribute__((weak)) int ClearDifferentPixels(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t x, int32_t y) { return 0; }
__attribute__((weak)) int AutoCropImage(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t nLayers, int32_t P, int32_t Q) { return 0; }
__attribute__((weak)) int ResizeCanvas(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t nLayers, int64_t nLeft, int64_t nRight, int64_t nTop,
                 int64_t nBottom) { return 0; }
__attribute__((weak)) void CopyCanvasRows(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                    int32_t nSrcWidth, int32_t nSrcHeight, int32_t nDstX, int32_t nDstY, int32_t nDstWidth) {  }
