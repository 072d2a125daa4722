// Blend modes: the per-byte lookup tables, the span routines of the nineteen modes and the four span
// tables the compositor reads.
#include "imageproc/blend_modes.h"

#include <cmath>

#include "core/engine_hooks.h"
#include "core/engine_tables.h"
#include "imageproc/pixel_ops.h"

BLEND_SPAN_FN g_apfnBlendSpan[BLEND_SPAN_SLOTS];
BLEND_SPAN_FN g_apfnBlendSpanAlpha[BLEND_SPAN_SLOTS];
BLEND_MASK_SPAN_FN g_apfnBlendSpanMask[BLEND_SPAN_SLOTS];
BLEND_MASK_SPAN_FN g_apfnBlendSpanMaskAlpha[BLEND_SPAN_SLOTS];

uint8_t g_abClampAdd[511];
uint8_t g_abClampSub[511];
uint8_t g_abBlendMultiply[256 * 256];
uint8_t g_abBlendDivide[256 * 256];
uint8_t g_abBlendScreen[256 * 256];
uint8_t g_abBlendLighten[256 * 256];
uint8_t g_abBlendDarken[256 * 256];
uint8_t g_abBlendDifference[256 * 256];
uint8_t g_abBlendExclusion[256 * 256];
uint8_t g_abBlendOverlay[256 * 256];
uint8_t g_abBlendColorDodge[256 * 256];
uint8_t g_abBlendColorBurn[256 * 256];
uint8_t g_abBlendLinearBurn[256 * 256];
uint8_t g_abBlendHardLight[256 * 256];
uint8_t g_abBlendSoftLight[256 * 256];
uint8_t g_abBlendVividLight[256 * 256];
uint8_t g_abBlendLinearLight[256 * 256];
uint8_t g_abBlendPinLight[256 * 256];
uint16_t g_awAlphaDiv[256][256];

namespace {

// ---- The per-byte result R(s, d) of each mode, as the spans read it ----

inline uint32_t ResultNormal(uint32_t s, uint32_t d) { return s; }
inline uint32_t ResultAdd(uint32_t s, uint32_t d) { return g_abClampAdd[s + d]; }
inline uint32_t ResultSubtract(uint32_t s, uint32_t d) { return g_abClampSub[255 + s - d]; }

template <const uint8_t* pTable>
inline uint32_t ResultTable(uint32_t s, uint32_t d)
{
    return pTable[(s << 8) | d];
}

typedef uint32_t (*RESULT_FN)(uint32_t s, uint32_t d);

// d moved toward r by w/256 (or w/65536 with k = 16); the shift of a negative product floors.
// The product is formed in 64 bits so that no curve entry, however large, can overflow it.
inline uint8_t Weigh(int32_t d, int32_t r, int64_t w, int k)
{
    return static_cast<uint8_t>(d + ((static_cast<int64_t>(r - d) * w) >> k));
}

// ---- The six variants ----

// Every byte, alpha included: d := R(s, d).
template <RESULT_FN R>
void SpanFull(uint8_t* pDst, const uint8_t* pSrc, int32_t, int32_t nBytes)
{
    for (int32_t i = 0; i < nBytes; ++i)
        pDst[i] = static_cast<uint8_t>(R(pSrc[i], pDst[i]));
}

// Every byte, alpha included: d := d + ((R - d) x op >> 8).
template <RESULT_FN R>
void SpanOpacity(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes)
{
    for (int32_t i = 0; i < nBytes; ++i) {
        const int32_t d = pDst[i];
        pDst[i] = Weigh(d, static_cast<int32_t>(R(pSrc[i], d)), nOpacity, 8);
    }
}

// The three colour bytes of each pixel weighed by w; the destination alpha is kept.
template <RESULT_FN R>
inline void WeighPixel(uint8_t* pDst, const uint8_t* pSrc, int64_t w, int k)
{
    for (int c = 0; c < 3; ++c) {
        const int32_t d = pDst[c];
        pDst[c] = Weigh(d, static_cast<int32_t>(R(pSrc[c], d)), w, k);
    }
}

// w = sA + 1.
template <RESULT_FN R>
void SpanAlpha(uint8_t* pDst, const uint8_t* pSrc, int32_t, int32_t nBytes)
{
    for (int32_t i = 0; i + 4 <= nBytes; i += 4)
        WeighPixel<R>(pDst + i, pSrc + i, pSrc[i + 3] + 1, 8);
}

// w = (sA x op + op) >> 8.
template <RESULT_FN R>
void SpanAlphaOpacity(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes)
{
    for (int32_t i = 0; i + 4 <= nBytes; i += 4)
        WeighPixel<R>(pDst + i, pSrc + i, (pSrc[i + 3] * nOpacity + nOpacity) >> 8, 8);
}

// w = the curve entry of the mask pixel's blue byte; a pixel whose entry is 1 or less is left alone.
template <RESULT_FN R>
void SpanMask(uint8_t* pDst, const uint8_t* pSrc, const uint8_t* pMask, int32_t, int32_t, int32_t nBytes)
{
    for (int32_t i = 0; i + 4 <= nBytes; i += 4) {
        const int32_t w = g_aiMaskCurve[pMask[i]];
        if (w > 1)
            WeighPixel<R>(pDst + i, pSrc + i, w, 8);
    }
}

// W = (sA + 1) x w over 65536 (Normal: sA x w, so an opaque pixel under a full entry moves 255/256).
template <RESULT_FN R, int32_t nAlphaBias>
void SpanMaskAlpha(uint8_t* pDst, const uint8_t* pSrc, const uint8_t* pMask, int32_t, int32_t, int32_t nBytes)
{
    for (int32_t i = 0; i + 4 <= nBytes; i += 4) {
        const int32_t w = g_aiMaskCurve[pMask[i]];
        if (w > 1)
            WeighPixel<R>(pDst + i, pSrc + i, (pSrc[i + 3] + nAlphaBias) * static_cast<int64_t>(w), 16);
    }
}

// Difference with opacity rounds its step toward zero: d := d + trunc((R - d) x op / 256).
void SpanDifferenceOpacity(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes)
{
    for (int32_t i = 0; i < nBytes; ++i) {
        const int32_t d = pDst[i];
        const int32_t r = g_abBlendDifference[(pSrc[i] << 8) | d];
        pDst[i] = static_cast<uint8_t>(d + (r - d) * nOpacity / 256);
    }
}

// ---- Table formulas ----

int32_t Mul255(int32_t a, int32_t b) { return a * b / 255; }
// The same product read from the start-up table (b = -255..256).
int32_t Mul255Table(int32_t a, int32_t b) { return g_awMulDiv255[a][255 + b]; }

int32_t SoftLight(int32_t s, int32_t d)
{
    const int32_t nD = s - 128;
    int32_t r;
    if (s < 128) {
        const int32_t k = static_cast<int32_t>(16384.0 - std::sqrt(256.0 - d));
        r = d + ((nD * k) >> 15);
    } else if (d <= 32) {
        const int32_t k = static_cast<int32_t>(16384.0 - static_cast<double>(768 - 8 * d) * std::sqrt(256.0 - d));
        r = d + ((nD * k) >> 15);
    } else {
        const int32_t k = static_cast<int32_t>(16384.0 - std::sqrt(256.0 - d));
        r = d + ((nD * k) >> 16);
    }
    return r < 0 ? 0 : (r > 255 ? 255 : r);
}

int32_t Min(int32_t a, int32_t b) { return a < b ? a : b; }
int32_t Max(int32_t a, int32_t b) { return a > b ? a : b; }

void FillModeTable(uint8_t* pTable, int32_t (*pfnResult)(int32_t s, int32_t d))
{
    for (int32_t s = 0; s < 256; ++s)
        for (int32_t d = 0; d < 256; ++d)
            pTable[(s << 8) | d] = static_cast<uint8_t>(pfnResult(s, d));
}

void FillSpanTables(void);

}  // namespace

// ---- The 115 named spans ----

#define KX_TABLE_RESULT(Mode) ResultTable<g_abBlend##Mode>

#define KX_DEFINE_FULL(Mode, R) \
    void BlendSpan##Mode##Full(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes) \
    { SpanFull<R>(pDst, pSrc, nOpacity, nBytes); }
#define KX_DEFINE_OPACITY(Mode, R) \
    void BlendSpan##Mode##Opacity(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes) \
    { SpanOpacity<R>(pDst, pSrc, nOpacity, nBytes); }
#define KX_DEFINE_ALPHA(Mode, R) \
    void BlendSpan##Mode##Alpha(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes) \
    { SpanAlpha<R>(pDst, pSrc, nOpacity, nBytes); }
#define KX_DEFINE_ALPHA_OPACITY(Mode, R) \
    void BlendSpan##Mode##AlphaOpacity(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes) \
    { SpanAlphaOpacity<R>(pDst, pSrc, nOpacity, nBytes); }
#define KX_DEFINE_MASK(Mode, R) \
    void BlendSpan##Mode##Mask(uint8_t* pDst, const uint8_t* pSrc, const uint8_t* pMask, int32_t nThreshold, \
                               int32_t nVagueness, int32_t nBytes) \
    { SpanMask<R>(pDst, pSrc, pMask, nThreshold, nVagueness, nBytes); }
#define KX_DEFINE_MASK_ALPHA(Mode, R, nBias) \
    void BlendSpan##Mode##MaskAlpha(uint8_t* pDst, const uint8_t* pSrc, const uint8_t* pMask, int32_t nThreshold, \
                                    int32_t nVagueness, int32_t nBytes) \
    { SpanMaskAlpha<R, nBias>(pDst, pSrc, pMask, nThreshold, nVagueness, nBytes); }

// Spans that hand the row to a pixel routine: the result is that routine's, with the forms of the
// level the routine table was filled for.
#define KX_ROUTE_MIX(Name, Slot) \
    void Name(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes) \
    { if (nBytes > 0) g_PixelOps.Slot(pDst, pSrc, static_cast<size_t>(nBytes)); }
#define KX_ROUTE_MIX_OPACITY(Name, Slot) \
    void Name(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes) \
    { if (nBytes > 0) g_PixelOps.Slot(pDst, pSrc, nOpacity, static_cast<size_t>(nBytes)); }

// The spans of a table-driven mode after its Full (and, with _REST2, its Opacity) span.
#define KX_DEFINE_TABLE_REST2(Mode) \
    KX_DEFINE_ALPHA(Mode, KX_TABLE_RESULT(Mode)) \
    KX_DEFINE_ALPHA_OPACITY(Mode, KX_TABLE_RESULT(Mode)) \
    KX_DEFINE_MASK(Mode, KX_TABLE_RESULT(Mode)) \
    KX_DEFINE_MASK_ALPHA(Mode, KX_TABLE_RESULT(Mode), 1)
#define KX_DEFINE_TABLE_REST(Mode) \
    KX_DEFINE_OPACITY(Mode, KX_TABLE_RESULT(Mode)) \
    KX_DEFINE_TABLE_REST2(Mode)
// A mode whose six spans all follow the variant formulas with R from its lookup table.
#define KX_DEFINE_TABLE_MODE(Mode) \
    KX_DEFINE_FULL(Mode, KX_TABLE_RESULT(Mode)) \
    KX_DEFINE_TABLE_REST(Mode)

// Normal: R = s. Copy, lerp and alpha-over are pixel routines; the masked spans weigh by the curve,
// and with alpha by sA x w (not (sA + 1) x w).
KX_ROUTE_MIX(BlendSpanNormalFull, PixelOpCopy)
KX_ROUTE_MIX_OPACITY(BlendSpanNormalOpacity, PixelOpLerp)
KX_ROUTE_MIX(BlendSpanNormalAlpha, PixelOpAlphaOver)
KX_ROUTE_MIX_OPACITY(BlendSpanNormalAlphaOpacity, PixelOpAlphaOverOpacity)
KX_DEFINE_MASK(Normal, ResultNormal)
KX_DEFINE_MASK_ALPHA(Normal, ResultNormal, 0)

// Normal through a mask at full opacity: the pixel routine's mask blend, which may read threshold
// and vagueness in place of the curve.
void BlendSpanNormalMaskFull(uint8_t* pDst, const uint8_t* pSrc, const uint8_t* pMask, int32_t nThreshold,
                             int32_t nVagueness, int32_t nBytes)
{
    if (nBytes > 0)
        g_PixelOps.PixelOpMask(pDst, pSrc, pMask, nThreshold, nVagueness, static_cast<size_t>(nBytes));
}

// Add: the pixel routines without a mask; the masked spans read the clamp table.
KX_ROUTE_MIX(BlendSpanAddFull, PixelOpAdd)
KX_ROUTE_MIX_OPACITY(BlendSpanAddOpacity, PixelOpAddOpacity)
KX_ROUTE_MIX_OPACITY(BlendSpanAddAlpha, PixelOpAddAlpha)
KX_ROUTE_MIX_OPACITY(BlendSpanAddAlphaOpacity, PixelOpAddAlphaOpacity)
KX_DEFINE_MASK(Add, ResultAdd)
KX_DEFINE_MASK_ALPHA(Add, ResultAdd, 1)

// Subtract (layer minus destination): the pixel routine at full opacity, the clamp table otherwise.
KX_ROUTE_MIX(BlendSpanSubtractFull, PixelOpSubtract)
KX_DEFINE_OPACITY(Subtract, ResultSubtract)
KX_DEFINE_ALPHA(Subtract, ResultSubtract)
KX_DEFINE_ALPHA_OPACITY(Subtract, ResultSubtract)
KX_DEFINE_MASK(Subtract, ResultSubtract)
KX_DEFINE_MASK_ALPHA(Subtract, ResultSubtract, 1)

// Multiply's full span is the pixel routine, whose whole 4-byte groups use (d x (s + 1)) >> 8.
KX_ROUTE_MIX(BlendSpanMultiplyFull, PixelOpMultiply)
KX_DEFINE_TABLE_REST(Multiply)
KX_DEFINE_TABLE_MODE(Divide)
KX_ROUTE_MIX(BlendSpanScreenFull, PixelOpScreen)
KX_ROUTE_MIX_OPACITY(BlendSpanScreenOpacity, PixelOpScreenOpacity)
KX_DEFINE_TABLE_REST2(Screen)
KX_ROUTE_MIX(BlendSpanLightenFull, PixelOpLighten)
KX_DEFINE_TABLE_REST(Lighten)
KX_ROUTE_MIX(BlendSpanDarkenFull, PixelOpDarken)
KX_DEFINE_TABLE_REST(Darken)

KX_DEFINE_FULL(Difference, KX_TABLE_RESULT(Difference))
void BlendSpanDifferenceOpacity(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes)
{
    SpanDifferenceOpacity(pDst, pSrc, nOpacity, nBytes);
}
KX_DEFINE_ALPHA(Difference, KX_TABLE_RESULT(Difference))
KX_DEFINE_ALPHA_OPACITY(Difference, KX_TABLE_RESULT(Difference))
KX_DEFINE_MASK(Difference, KX_TABLE_RESULT(Difference))
KX_DEFINE_MASK_ALPHA(Difference, KX_TABLE_RESULT(Difference), 1)

KX_DEFINE_TABLE_MODE(Exclusion)
KX_DEFINE_TABLE_MODE(Overlay)
KX_DEFINE_TABLE_MODE(ColorDodge)
KX_DEFINE_TABLE_MODE(ColorBurn)
KX_ROUTE_MIX(BlendSpanLinearBurnFull, PixelOpLinearBurn)
KX_DEFINE_TABLE_REST(LinearBurn)
KX_DEFINE_TABLE_MODE(HardLight)
KX_DEFINE_TABLE_MODE(SoftLight)
KX_DEFINE_TABLE_MODE(VividLight)
KX_ROUTE_MIX(BlendSpanLinearLightFull, PixelOpLinearLight)
KX_DEFINE_TABLE_REST(LinearLight)
KX_DEFINE_TABLE_MODE(PinLight)

// ---- Tables ----

namespace {

#define KX_SPANS(Mode) \
    { BlendSpan##Mode##Opacity, BlendSpan##Mode##Full, BlendSpan##Mode##AlphaOpacity, BlendSpan##Mode##Alpha, \
      BlendSpan##Mode##Mask, BlendSpan##Mode##MaskAlpha }

struct MODE_SPANS {
    BLEND_SPAN_FN pfnOpacity, pfnFull, pfnAlphaOpacity, pfnAlpha;
    BLEND_MASK_SPAN_FN pfnMask, pfnMaskAlpha;
};

const MODE_SPANS s_aModeSpans[BLEND_MODE_COUNT] = {
    KX_SPANS(Normal),     KX_SPANS(Add),        KX_SPANS(Subtract),   KX_SPANS(Multiply),  KX_SPANS(Divide),
    KX_SPANS(Screen),     KX_SPANS(Lighten),    KX_SPANS(Darken),     KX_SPANS(Difference), KX_SPANS(Exclusion),
    KX_SPANS(Overlay),    KX_SPANS(ColorDodge), KX_SPANS(ColorBurn),  KX_SPANS(LinearBurn), KX_SPANS(HardLight),
    KX_SPANS(SoftLight),  KX_SPANS(VividLight), KX_SPANS(LinearLight), KX_SPANS(PinLight),
};

void FillSpanTables(void)
{
    for (int m = 0; m < BLEND_MODE_COUNT; ++m) {
        const MODE_SPANS& spans = s_aModeSpans[m];
        g_apfnBlendSpan[m * 2] = spans.pfnOpacity;
        g_apfnBlendSpan[m * 2 + 1] = spans.pfnFull;
        g_apfnBlendSpanAlpha[m * 2] = spans.pfnAlphaOpacity;
        g_apfnBlendSpanAlpha[m * 2 + 1] = spans.pfnAlpha;
        g_apfnBlendSpanMask[m * 2] = spans.pfnMask;
        g_apfnBlendSpanMask[m * 2 + 1] = spans.pfnMask;
        g_apfnBlendSpanMaskAlpha[m * 2] = spans.pfnMaskAlpha;
        g_apfnBlendSpanMaskAlpha[m * 2 + 1] = nullptr;
    }
    g_apfnBlendSpanMask[BLEND_NORMAL * 2 + 1] = BlendSpanNormalMaskFull;
}

// Slot of a stored mode byte at an opacity: unknown modes draw as Normal, the opacity selects the odd
// slot only at 256.
int32_t SpanSlot(int32_t nMode, int32_t nOpacity)
{
    if (nMode < 0 || nMode >= BLEND_MODE_COUNT)
        nMode = BLEND_NORMAL;
    return nMode * 2 + (nOpacity >= 256 ? 1 : 0);
}

}  // namespace

BLEND_SPAN_FN SelectBlendSpan(int32_t nMode, int32_t nOpacity)
{
    return g_apfnBlendSpan[SpanSlot(nMode, nOpacity)];
}

BLEND_SPAN_FN SelectBlendSpanAlpha(int32_t nMode, int32_t nOpacity)
{
    return g_apfnBlendSpanAlpha[SpanSlot(nMode, nOpacity)];
}

BLEND_MASK_SPAN_FN SelectBlendSpanMask(int32_t nMode, int32_t nOpacity)
{
    return g_apfnBlendSpanMask[SpanSlot(nMode, nOpacity)];
}

BLEND_MASK_SPAN_FN SelectBlendSpanMaskAlpha(int32_t nMode)
{
    return g_apfnBlendSpanMaskAlpha[SpanSlot(nMode, 0)];
}

void InitBlendTables(void)
{
    FillSpanTables();

    for (int32_t x = 0; x < 256; ++x)
        g_awAlphaDiv[0][x] = 0;
    for (int32_t c = 1; c < 256; ++c)
        for (int32_t x = 0; x < 256; ++x)
            g_awAlphaDiv[c][x] = static_cast<uint16_t>(x * 256 / c);

    for (int32_t i = 0; i < 511; ++i) {
        g_abClampAdd[i] = static_cast<uint8_t>(Min(i, 255));
        g_abClampSub[i] = static_cast<uint8_t>(Max(0, i - 255));
    }

    // Screen, Overlay and Hard light read their products from the start-up table, which therefore
    // has to be filled first; the other modes compute theirs (the same integers).
    FillModeTable(g_abBlendMultiply, [](int32_t s, int32_t d) { return Mul255(s, d); });
    FillModeTable(g_abBlendDivide, [](int32_t s, int32_t d) {
        if (d == 0)
            return s == 0 ? 0 : 255;
        return Min(255, 255 * s / d);
    });
    FillModeTable(g_abBlendScreen, [](int32_t s, int32_t d) { return s + d - Mul255Table(s, d); });
    FillModeTable(g_abBlendLighten, [](int32_t s, int32_t d) { return Max(s, d); });
    FillModeTable(g_abBlendDarken, [](int32_t s, int32_t d) { return Min(s, d); });
    FillModeTable(g_abBlendDifference, [](int32_t s, int32_t d) { return s > d ? s - d : d - s; });
    FillModeTable(g_abBlendExclusion, [](int32_t s, int32_t d) { return s + d - 2 * Mul255(s, d); });
    FillModeTable(g_abBlendOverlay, [](int32_t s, int32_t d) {
        if (d < 128)
            return Mul255Table(s, 2 * d);
        if (d == 128)
            return s;
        return Mul255Table(s, 512 - 2 * d) + 2 * d - 257;
    });
    FillModeTable(g_abBlendColorDodge, [](int32_t s, int32_t d) { return Min(255, 256 * d / (256 - s)); });
    FillModeTable(g_abBlendColorBurn, [](int32_t s, int32_t d) { return Max(0, 255 - 256 * (255 - d) / (s + 1)); });
    FillModeTable(g_abBlendLinearBurn, [](int32_t s, int32_t d) { return Max(0, s + d - 255); });
    FillModeTable(g_abBlendHardLight, [](int32_t s, int32_t d) {
        if (s < 128)
            return Mul255Table(d, 2 * s);
        if (s == 128)
            return d;
        return Mul255Table(d, 512 - 2 * s) + 2 * s - 257;
    });
    FillModeTable(g_abBlendSoftLight, SoftLight);
    FillModeTable(g_abBlendVividLight, [](int32_t s, int32_t d) {
        if (s == 0)
            return 0;
        if (s < 128)
            return Max(0, 255 * (2 * s + d - 255) / (2 * s));
        if (s < 255)
            return Min(255, 255 * d / (510 - 2 * s));
        return 255;
    });
    FillModeTable(g_abBlendLinearLight, [](int32_t s, int32_t d) { return Min(255, Max(0, d + 2 * s - 256)); });
    FillModeTable(g_abBlendPinLight, [](int32_t s, int32_t d) { return s < 128 ? Min(d, 2 * s) : Max(d, 2 * s - 255); });
}

void InstallBlendModes(void)
{
    g_EngineHooks.pfnInitBlendTables = InitBlendTables;
}
