// Blend modes: how one row of a layer is mixed into one row of the picture below it.
//
// Every (mode, variant) pair has one row routine, a blend span. The compositor picks a span from one
// of four tables indexed by mode x 2 + (opacity >> 8); the worker jobs call it row by row. The per-byte
// result of the table-driven modes comes from 256 x 256 lookup tables built once by InitBlendTables.
// Rows are B, G, R, A bytes; every span takes a byte count (visible width x 4) and touches nothing
// outside the rows it is given.
#pragma once
#include <cstdint>

enum {
    BLEND_NORMAL = 0,
    BLEND_ADD = 1,
    BLEND_SUBTRACT = 2,
    BLEND_MULTIPLY = 3,
    BLEND_DIVIDE = 4,
    BLEND_SCREEN = 5,
    BLEND_LIGHTEN = 6,
    BLEND_DARKEN = 7,
    BLEND_DIFFERENCE = 8,
    BLEND_EXCLUSION = 9,
    BLEND_OVERLAY = 10,
    BLEND_COLOR_DODGE = 11,
    BLEND_COLOR_BURN = 12,
    BLEND_LINEAR_BURN = 13,
    BLEND_HARD_LIGHT = 14,
    BLEND_SOFT_LIGHT = 15,
    BLEND_VIVID_LIGHT = 16,
    BLEND_LINEAR_LIGHT = 17,
    BLEND_PIN_LIGHT = 18,
    BLEND_MODE_COUNT = 19,
    BLEND_SPAN_SLOTS = BLEND_MODE_COUNT * 2,
};

// (destination row, layer row, opacity 0..256, byte count). The Full and Alpha spans ignore the opacity.
typedef void (*BLEND_SPAN_FN)(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes);
// (destination row, layer row, mask row, mask threshold, vagueness, byte count). The mask row has the
// layer row's length and position; the weight of a pixel is g_aiMaskCurve[its mask pixel's blue byte]
// (imageproc/pixel_ops.h), 1 or less leaving the pixel alone.
typedef void (*BLEND_MASK_SPAN_FN)(uint8_t* pDst, const uint8_t* pSrc, const uint8_t* pMask, int32_t nThreshold,
                                   int32_t nVagueness, int32_t nBytes);

// Layer without alpha: slot mode x 2 the opacity span, mode x 2 + 1 the full span.
extern BLEND_SPAN_FN g_apfnBlendSpan[BLEND_SPAN_SLOTS];
// Layer with alpha: slot mode x 2 alpha with opacity, mode x 2 + 1 alpha at full opacity.
extern BLEND_SPAN_FN g_apfnBlendSpanAlpha[BLEND_SPAN_SLOTS];
// Masked layer without alpha: both slots of a mode hold its mask span, except Normal at full opacity.
extern BLEND_MASK_SPAN_FN g_apfnBlendSpanMask[BLEND_SPAN_SLOTS];
// Masked layer with alpha: read at mode x 2 whatever the opacity; the odd slots stay empty.
extern BLEND_MASK_SPAN_FN g_apfnBlendSpanMaskAlpha[BLEND_SPAN_SLOTS];

// The span for a layer's stored blend mode byte and opacity. Modes above 18 draw as Normal (the layer
// keeps its stored byte); an opacity outside 0..256 is taken at the nearer end.
BLEND_SPAN_FN SelectBlendSpan(int32_t nMode, int32_t nOpacity);
BLEND_SPAN_FN SelectBlendSpanAlpha(int32_t nMode, int32_t nOpacity);
BLEND_MASK_SPAN_FN SelectBlendSpanMask(int32_t nMode, int32_t nOpacity);
BLEND_MASK_SPAN_FN SelectBlendSpanMaskAlpha(int32_t nMode);

// Lookup tables. The byte tables of the modes are indexed [s x 256 + d], s the layer byte.
extern uint8_t g_abClampAdd[511];                // min(i, 255), read at s + d
extern uint8_t g_abClampSub[511];                // max(0, i - 255), read at 255 + s - d
extern uint8_t g_abBlendMultiply[256 * 256];
extern uint8_t g_abBlendDivide[256 * 256];
extern uint8_t g_abBlendScreen[256 * 256];
extern uint8_t g_abBlendLighten[256 * 256];
extern uint8_t g_abBlendDarken[256 * 256];
extern uint8_t g_abBlendDifference[256 * 256];
extern uint8_t g_abBlendExclusion[256 * 256];
extern uint8_t g_abBlendOverlay[256 * 256];
extern uint8_t g_abBlendColorDodge[256 * 256];
extern uint8_t g_abBlendColorBurn[256 * 256];
extern uint8_t g_abBlendLinearBurn[256 * 256];
extern uint8_t g_abBlendHardLight[256 * 256];
extern uint8_t g_abBlendSoftLight[256 * 256];
extern uint8_t g_abBlendVividLight[256 * 256];
extern uint8_t g_abBlendLinearLight[256 * 256];
extern uint8_t g_abBlendPinLight[256 * 256];
// [c][x] = floor(256 x x / c) for c = 1..255; row 0 is all 0. Read by the compose routines.
extern uint16_t g_awAlphaDiv[256][256];

// Fills the four span tables and every lookup table above. Called once at start-up.
void InitBlendTables(void);

// The span routines, mode by mode: Full, Opacity, Alpha, AlphaOpacity, Mask, MaskAlpha.
#define KX_BLEND_SPAN_DECLS(Mode)                                                                             \
    void BlendSpan##Mode##Full(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes);         \
    void BlendSpan##Mode##Opacity(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes);      \
    void BlendSpan##Mode##Alpha(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes);        \
    void BlendSpan##Mode##AlphaOpacity(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes); \
    void BlendSpan##Mode##Mask(uint8_t* pDst, const uint8_t* pSrc, const uint8_t* pMask, int32_t nThreshold,  \
                               int32_t nVagueness, int32_t nBytes);                                           \
    void BlendSpan##Mode##MaskAlpha(uint8_t* pDst, const uint8_t* pSrc, const uint8_t* pMask, int32_t nThreshold, \
                                    int32_t nVagueness, int32_t nBytes);
KX_BLEND_SPAN_DECLS(Normal)
KX_BLEND_SPAN_DECLS(Add)
KX_BLEND_SPAN_DECLS(Subtract)
KX_BLEND_SPAN_DECLS(Multiply)
KX_BLEND_SPAN_DECLS(Divide)
KX_BLEND_SPAN_DECLS(Screen)
KX_BLEND_SPAN_DECLS(Lighten)
KX_BLEND_SPAN_DECLS(Darken)
KX_BLEND_SPAN_DECLS(Difference)
KX_BLEND_SPAN_DECLS(Exclusion)
KX_BLEND_SPAN_DECLS(Overlay)
KX_BLEND_SPAN_DECLS(ColorDodge)
KX_BLEND_SPAN_DECLS(ColorBurn)
KX_BLEND_SPAN_DECLS(LinearBurn)
KX_BLEND_SPAN_DECLS(HardLight)
KX_BLEND_SPAN_DECLS(SoftLight)
KX_BLEND_SPAN_DECLS(VividLight)
KX_BLEND_SPAN_DECLS(LinearLight)
KX_BLEND_SPAN_DECLS(PinLight)
#undef KX_BLEND_SPAN_DECLS
// Normal through a mask at full opacity: the pixel routine's mask blend, which reads threshold and vagueness.
void BlendSpanNormalMaskFull(uint8_t* pDst, const uint8_t* pSrc, const uint8_t* pMask, int32_t nThreshold,
                             int32_t nVagueness, int32_t nBytes);
