// Image effects: the effect filters, rotation and the layer-to-layer operations that the image-effect
// command runs, and the dispatcher ApplyImageEffect that places a filter's result.
//
// Common rules:
// - Pixels are 32-bit B,G,R,A, rows top-down. Rectangles are inclusive pixel corners x1,y1 - x2,y2.
// - A filter reads the rectangle of the source (row length nSrcWidth pixels, nSrcHeight rows) and
//   writes a rectangle-sized result (row length w = x2-x1+1, h = y2-y1+1): result (x-x1, y-y1)
//   belongs to source (x, y). The in-place filters (threshold, fill, alpha ramp) take pDst == NULL to
//   work on pSrc itself; given a pDst of the source buffer's size they first copy the whole source
//   into it and then work within the rectangle there.
// - Filters and operations never read or write outside a buffer; an empty or inverted rectangle
//   changes nothing. An operation whose layer has no pixels returns 0 without change.
// - Results 0, or -1 after a reported error (100010 with its box for a width above 8192, 104030 for
//   no memory); a failed operation leaves the layers as they were.
#pragma once

#include <cstdint>

struct TREE_NODE;
struct LAYER;

// Effect codes of ApplyImageEffect.
enum {
    EFFECT_BRIGHTNESS = 1,
    EFFECT_BLUR = 2,
    EFFECT_BLUR_H = 3,
    EFFECT_BLUR_V = 4,
    EFFECT_BLUR_BOX = 5,
    EFFECT_SOFT_SHADOW = 6,
    EFFECT_SHADOW = 7,
    EFFECT_COPY_ATTR = 8,
    EFFECT_COPY = 9,
    EFFECT_SCATTER = 10,
    EFFECT_MIRROR = 11,
    EFFECT_COLOR_BALANCE = 12,
    EFFECT_THRESHOLD = 19,
    EFFECT_MOSAIC = 20,
    EFFECT_WAVE_H = 21,
    EFFECT_WAVE_V = 22,
    EFFECT_WAVE = 23,
    EFFECT_FILL = 24,
    EFFECT_FILL_2 = 25,  // behaves as EFFECT_FILL
    EFFECT_FILL_3 = 26,  // behaves as EFFECT_FILL
    EFFECT_ALPHA_RAMP = 27,
    EFFECT_NEGATIVE = 28,
    EFFECT_SATURATION = 30,
    EFFECT_FLIP = 38,
    EFFECT_SEPIA = 39,
    EFFECT_SWIRL = 40,
};

// Fill sub-types of EFFECT_FILL.
enum { FILL_OPAQUE_COLOR = 1, FILL_ALPHA_ONLY = 2, FILL_WHOLE_PIXEL = 3 };

// Rotation types of RotateImage.
enum { ROTATE_CLIPPED = 11, ROTATE_SPANS = 12 };

// Wave types of FilterWave.
enum { WAVE_HORIZONTAL = 1, WAVE_VERTICAL = 2, WAVE_BOTH = 3 };

// ---- Dispatcher and shared helpers (image/cmd_image_effect.cpp) ----

// Runs effect nCode over the rectangle of the first layer. nLayers 0: the result replaces the first
// layer's image (in-place codes keep its size, the others crop it to the rectangle); nLayers >= 1:
// the result goes to the second layer and the first stays as it was. nFillType (1..3) is read by
// EFFECT_FILL only.
int ApplyImageEffect(int32_t nCode, TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t x1, int32_t y1, int32_t x2,
                     int32_t y2, int32_t P, int32_t Q, int32_t nLayers, int32_t nFillType);
// Copies the drawing attributes of pFrom's layer onto pTo's layer (not the pixels); clears pTo's GIF
// frame table.
int CopyLayerAttributes(const TREE_NODE* pFrom, TREE_NODE* pTo);
// Copies rows y1..y2, columns x1..x2 of pSrc (row length nSrcRow pixels) to consecutive rows of pDst
// (row length nDstRow pixels) starting at its top-left.
void CopyImageRect(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                   int32_t nSrcRow, int32_t nDstRow);
// SetLayerPixels (install a buffer as a layer's image) is declared in image/layer.h.

// ---- Rotation (imageproc/rotation.cpp) ----

// Turns the first layer's image about its centre by P degrees (nearest neighbour), keeping its size;
// nType ROTATE_CLIPPED or ROTATE_SPANS (another type gives a transparent image).
int RotateImage(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t P, int32_t nLayers, int32_t nType);
// The same with bilinear interpolation.
int RotateImageSmooth(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t P, int32_t nLayers);
// Kernels: write the w x h destination from the w x h source turned by P degrees.
void RotateNearestClipped(uint8_t* pDst, const uint8_t* pSrc, int32_t w, int32_t h, int32_t P);
void RotateNearestSpans(uint8_t* pDst, const uint8_t* pSrc, int32_t w, int32_t h, int32_t P);
void RotateBilinear(uint8_t* pDst, const uint8_t* pSrc, int32_t w, int32_t h, int32_t P);
// The kernels share their rows out over the image workers (job JOB_ROTATE); registers its routine
// (also done by the kernels on first use).
void InstallRotationJob(void);

// ---- Layer-to-layer operations (imageproc/layer_ops.cpp) ----

// Composes the first layer's image at (x, y) onto the second layer at the first layer's opacity.
int PasteImage(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t x, int32_t y);
// The same, scaling the second layer's alpha by its own opacity as well.
int PasteImageBothOpacity(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t x, int32_t y);
// Writes the cross-fade of the first and second layers at level P into the third layer at (x, y).
int MixImages(TREE_NODE* pFirst, TREE_NODE* pSecond, TREE_NODE* pThird, int32_t x, int32_t y, int32_t P);
// Second-layer pixels equal to the first layer's (placed at x, y) become 0, the others the first's.
int ClearEqualPixels(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t x, int32_t y);
// Second-layer pixels different from the first layer's (placed at x, y) become 0.
int ClearDifferentPixels(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t x, int32_t y);
// Crops to the bounding box of pixels with alpha above Q's low byte on the sides whose bit is set in
// P (8 top, 4 bottom, 2 left, 1 right); the result goes to the second layer when nLayers >= 1.
int AutoCropImage(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t nLayers, int32_t P, int32_t Q);
// Grows (positive margins, filled with 0x00808080) or crops (negative) the canvas.
int ResizeCanvas(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t nLayers, int64_t nLeft, int64_t nRight, int64_t nTop,
                 int64_t nBottom);
// Copies source columns x1..x2, rows y1..y2 (clipped to the source) to (nDstX, nDstY) onward.
void CopyCanvasRows(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                    int32_t nSrcWidth, int32_t nSrcHeight, int32_t nDstX, int32_t nDstY, int32_t nDstWidth);

// ---- Blur and shadow filters (imageproc/filters_tone.cpp) ----
// Radius P (0 or less counts as 1); bHasAlpha is the first layer's has-alpha flag.

int FilterBlur(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t nSrcWidth,
               int32_t nSrcHeight, int32_t w, int32_t h, int32_t P, int32_t bHasAlpha);
int FilterBlurH(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t nSrcWidth,
                int32_t nSrcHeight, int32_t w, int32_t h, int32_t P, int32_t bHasAlpha);
int FilterBlurV(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t nSrcWidth,
                int32_t nSrcHeight, int32_t w, int32_t h, int32_t P, int32_t bHasAlpha);
int FilterBlurBox(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                  int32_t nSrcWidth, int32_t nSrcHeight, int32_t w, int32_t h, int32_t P, int32_t bHasAlpha);
int FilterSoftShadow(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                     int32_t nSrcWidth, int32_t nSrcHeight, int32_t w, int32_t h, int32_t P, int32_t bHasAlpha);
int FilterShadow(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                 int32_t nSrcWidth, int32_t nSrcHeight, int32_t w, int32_t h, int32_t P, int32_t bHasAlpha);

// ---- Colour and tone filters (imageproc/filters_tone.cpp) ----
// FilterColorBalance and FilterSaturation are in imageproc/compositor.h.

// Blue, green and red become clamp(c + P - 128, 0, 255).
int FilterBrightness(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                     int32_t nSrcWidth, int32_t nSrcHeight, int32_t w, int32_t h, int32_t P);
// In place: blue, green and red become 255 when B+G+R >= 3P, else 0.
int FilterThreshold(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                    int32_t nSrcWidth, int32_t nSrcHeight, int32_t w, int32_t h, int32_t P);
// Blue, green and red become 255 - c.
int FilterNegative(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                   int32_t nSrcWidth, int32_t nSrcHeight, int32_t w, int32_t h, int32_t P);
// Sepia tone from the luma (P not used).
int FilterSepia(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                int32_t nSrcWidth, int32_t nSrcHeight, int32_t w, int32_t h, int32_t P);
// In place: fills the rectangle by sub-type (FILL_*). *pbHasAlpha holds the flag of the layer that
// receives the result and is updated for it.
int FilterFill(uint8_t* pDst, const uint8_t* pSrc, uint8_t* pbHasAlpha, int32_t x1, int32_t y1, int32_t x2,
               int32_t y2, int32_t nSrcWidth, int32_t nSrcHeight, int32_t P, int32_t nSubType);
// In place: alpha ramp between columns P and Q over rows y1..y2; sets *pbHasAlpha to 1.
int FilterAlphaRamp(uint8_t* pDst, const uint8_t* pSrc, uint8_t* pbHasAlpha, int32_t x1, int32_t y1, int32_t x2,
                    int32_t y2, int32_t nSrcWidth, int32_t nSrcHeight, int32_t P, int32_t Q);

// ---- Geometric and pattern filters (imageproc/filters_geometry.cpp) ----

// Randomly rearranges 2x2 cells of the whole image in P/2 passes (colours only).
int FilterScatter(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                  int32_t nSrcWidth, int32_t nSrcHeight, int32_t w, int32_t h, int32_t P);
// The whole image mirrored left-right, cut to the rectangle.
int FilterMirror(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                 int32_t nSrcWidth, int32_t nSrcHeight, int32_t w, int32_t h, int32_t P);
// Blocks of P pixels (grid through the image centre) take their mean colour.
int FilterMosaic(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                 int32_t nSrcWidth, int32_t nSrcHeight, int32_t w, int32_t h, int32_t P);
// Sine waves of amplitude P and phase Q (degrees); nType WAVE_*.
int FilterWave(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
               int32_t nSrcWidth, int32_t nSrcHeight, int32_t w, int32_t h, int32_t P, int32_t Q, int32_t nType);
// The image turned upside down, cut to the rectangle.
int FilterFlip(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
               int32_t nSrcWidth, int32_t nSrcHeight, int32_t w, int32_t h, int32_t P);
// Swirl of P tenths of a degree at the centre, falling off outward.
int FilterSwirl(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                int32_t nSrcWidth, int32_t nSrcHeight, int32_t w, int32_t h, int32_t P);
