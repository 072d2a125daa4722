// Blend modes: the per-byte lookup tables, the span routines of the nineteen modes and the four span
// tables the compositor reads.
#include "imageproc/blend_modes.h"

#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// ---- Vector forms (SSE2, the x86-64 baseline) ----
// The modes whose table holds a closed formula compute it on 16-bit lanes, 16 bytes at a time; the
// others read their table. Either way the result is weighed in vector lanes exactly as the plain
// variants weigh it, and the bytes after the last whole vector go to the plain variant, whose
// result does not depend on a byte's position. A test compares every span with the tables for all
// 65536 pairs.
#if defined(__SSE2__)

typedef __m128i VEC;

inline VEC Load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store16(uint8_t* p, VEC v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
inline VEC Words(int16_t x) { return _mm_set1_epi16(x); }

// trunc(x / 255) for 0 <= x <= 65025.
inline VEC Div255(VEC x)
{
    return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(x, Words(1)), _mm_srli_epi16(x, 8)), 8);
}

// Where m is all ones a, else b.
inline VEC Select(VEC m, VEC a, VEC b) { return _mm_or_si128(_mm_and_si128(m, a), _mm_andnot_si128(m, b)); }

// min(256, floor(a / b)) for 0 <= a <= 65535 and 1 <= b <= 65535. Single-precision division is
// exact enough here: below 256 a quotient that is not whole lies at least 1/b from the next whole
// number, far more than the rounding error, and rounding never takes a quotient of 256 or more
// below 256.
inline VEC Quotient(VEC a, VEC b)
{
    const VEC z = _mm_setzero_si128();
    const __m128 lo = _mm_div_ps(_mm_cvtepi32_ps(_mm_unpacklo_epi16(a, z)), _mm_cvtepi32_ps(_mm_unpacklo_epi16(b, z)));
    const __m128 hi = _mm_div_ps(_mm_cvtepi32_ps(_mm_unpackhi_epi16(a, z)), _mm_cvtepi32_ps(_mm_unpackhi_epi16(b, z)));
    return _mm_min_epi16(_mm_packs_epi32(_mm_cvttps_epi32(lo), _mm_cvttps_epi32(hi)), Words(256));
}

inline VEC Clamp255(VEC x) { return _mm_min_epi16(_mm_max_epi16(x, _mm_setzero_si128()), Words(255)); }

// R(s, d) on 16-bit lanes holding 0..255, one structure per mode.
struct VEC_FORMULA {
    static constexpr bool bTable = false;
};
struct VEC_SUBTRACT : VEC_FORMULA { static VEC Result(VEC s, VEC d) { return _mm_subs_epu16(s, d); } };
struct VEC_MULTIPLY : VEC_FORMULA { static VEC Result(VEC s, VEC d) { return Div255(_mm_mullo_epi16(s, d)); } };
struct VEC_SCREEN : VEC_FORMULA {
    static VEC Result(VEC s, VEC d) { return _mm_sub_epi16(_mm_add_epi16(s, d), Div255(_mm_mullo_epi16(s, d))); }
};
struct VEC_LIGHTEN : VEC_FORMULA { static VEC Result(VEC s, VEC d) { return _mm_max_epi16(s, d); } };
struct VEC_DARKEN : VEC_FORMULA { static VEC Result(VEC s, VEC d) { return _mm_min_epi16(s, d); } };
struct VEC_DIFFERENCE : VEC_FORMULA {
    static VEC Result(VEC s, VEC d) { return _mm_sub_epi16(_mm_max_epi16(s, d), _mm_min_epi16(s, d)); }
};
struct VEC_EXCLUSION : VEC_FORMULA {
    static VEC Result(VEC s, VEC d)
    {
        const VEC p = Div255(_mm_mullo_epi16(s, d));
        return _mm_sub_epi16(_mm_add_epi16(s, d), _mm_add_epi16(p, p));
    }
};
// Overlay with (s, d) and Hard light with (d, s): below 128 a x 2b / 255, at 128 a, above it
// a x (512 - 2b) / 255 + 2b - 257. One product serves both sides.
inline VEC OverlayOf(VEC a, VEC b)
{
    const VEC b2 = _mm_add_epi16(b, b);
    const VEC high = _mm_cmpgt_epi16(b, Words(128));
    const VEC p = Div255(_mm_mullo_epi16(a, Select(high, _mm_sub_epi16(Words(512), b2), b2)));
    const VEC r = _mm_add_epi16(p, _mm_and_si128(high, _mm_sub_epi16(b2, Words(257))));
    return Select(_mm_cmpeq_epi16(b, Words(128)), a, r);
}
struct VEC_OVERLAY : VEC_FORMULA { static VEC Result(VEC s, VEC d) { return OverlayOf(s, d); } };
struct VEC_HARD_LIGHT : VEC_FORMULA { static VEC Result(VEC s, VEC d) { return OverlayOf(d, s); } };
struct VEC_LINEAR_BURN : VEC_FORMULA {
    static VEC Result(VEC s, VEC d) { return _mm_subs_epu16(_mm_add_epi16(s, d), Words(255)); }
};
struct VEC_LINEAR_LIGHT : VEC_FORMULA {
    static VEC Result(VEC s, VEC d) { return Clamp255(_mm_sub_epi16(_mm_add_epi16(d, _mm_add_epi16(s, s)), Words(256))); }
};
struct VEC_PIN_LIGHT : VEC_FORMULA {
    static VEC Result(VEC s, VEC d)
    {
        const VEC s2 = _mm_add_epi16(s, s);
        return Select(_mm_cmpgt_epi16(Words(128), s), _mm_min_epi16(d, s2),
                      _mm_max_epi16(d, _mm_sub_epi16(s2, Words(255))));
    }
};
// d = 0: 0 for s = 0, else 255; otherwise min(255, 255 s / d).
struct VEC_DIVIDE : VEC_FORMULA {
    static VEC Result(VEC s, VEC d)
    {
        const VEC z = _mm_setzero_si128();
        const VEC q = _mm_min_epi16(Quotient(_mm_mullo_epi16(s, Words(255)), _mm_max_epi16(d, Words(1))), Words(255));
        const VEC atZero = _mm_andnot_si128(_mm_cmpeq_epi16(s, z), Words(255));
        return Select(_mm_cmpeq_epi16(d, z), atZero, q);
    }
};
// min(255, 256 d / (256 - s)).
struct VEC_COLOR_DODGE : VEC_FORMULA {
    static VEC Result(VEC s, VEC d)
    {
        return _mm_min_epi16(Quotient(_mm_slli_epi16(d, 8), _mm_sub_epi16(Words(256), s)), Words(255));
    }
};
// max(0, 255 - 256 (255 - d) / (s + 1)).
struct VEC_COLOR_BURN : VEC_FORMULA {
    static VEC Result(VEC s, VEC d)
    {
        const VEC q = Quotient(_mm_slli_epi16(_mm_sub_epi16(Words(255), d), 8), _mm_add_epi16(s, Words(1)));
        return _mm_subs_epu16(Words(255), q);
    }
};
// A mode without a vector formula: its results are read from its table a stretch at a time into a
// buffer, and only the weighing runs in vector lanes.
template <const uint8_t* pTable>
struct VEC_TABLE {
    static constexpr bool bTable = true;
    static uint8_t Lookup(uint32_t s, uint32_t d) { return pTable[(s << 8) | d]; }
};

// The vector loop of every variant: out = weigh(d, R(s, d), s) on 16-bit lanes over whole 16-byte
// blocks; returns the bytes done.
// With bColourOnly (the variants that keep the destination alpha) a table is read for the colour
// bytes alone.
template <class M, bool bColourOnly = false, class F>
int32_t VecSpan(uint8_t* pDst, const uint8_t* pSrc, int32_t nBytes, F weigh)
{
    const VEC z = _mm_setzero_si128();
    auto block = [&](int32_t i, const uint8_t* pR) {
        const VEC d = Load16(pDst + i), s = Load16(pSrc + i);
        const VEC dLo = _mm_unpacklo_epi8(d, z), sLo = _mm_unpacklo_epi8(s, z);
        const VEC dHi = _mm_unpackhi_epi8(d, z), sHi = _mm_unpackhi_epi8(s, z);
        VEC rLo, rHi;
        if constexpr (M::bTable) {
            const VEC r = Load16(pR);
            rLo = _mm_unpacklo_epi8(r, z);
            rHi = _mm_unpackhi_epi8(r, z);
        } else {
            rLo = M::Result(sLo, dLo);
            rHi = M::Result(sHi, dHi);
        }
        Store16(pDst + i, _mm_packus_epi16(weigh(dLo, rLo, sLo), weigh(dHi, rHi, sHi)));
    };
    const int32_t nWhole = nBytes > 0 ? nBytes & ~15 : 0;
    if constexpr (M::bTable) {
        const int32_t kStretch = 1024;
        alignas(16) uint8_t abR[kStretch];
        if (bColourOnly) memset(abR, 0, sizeof abR);
        for (int32_t i = 0; i < nWhole; i += kStretch) {
            const int32_t n = nWhole - i < kStretch ? nWhole - i : kStretch;
            if (bColourOnly) {
                for (int32_t k = 0; k < n; k += 4)
                    for (int32_t c = 0; c < 3; ++c)
                        abR[k + c] = M::Lookup(pSrc[i + k + c], pDst[i + k + c]);
            } else {
                for (int32_t k = 0; k < n; ++k)
                    abR[k] = M::Lookup(pSrc[i + k], pDst[i + k]);
            }
            for (int32_t k = 0; k < n; k += 16)
                block(i + k, abR + k);
        }
    } else {
        for (int32_t i = 0; i < nWhole; i += 16)
            block(i, nullptr);
    }
    return nWhole;
}

// (d x (256 - w) + r x w) >> 8 == d + ((r - d) x w >> 8) for 0 <= w <= 256; at most 255 x 256.
inline VEC WeighWords(VEC d, VEC r, VEC w)
{
    return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(d, _mm_sub_epi16(Words(256), w)), _mm_mullo_epi16(r, w)), 8);
}

// Each pixel's weight w(sA) in its colour words and 0 in its alpha word, which so keeps its byte.
inline VEC PixelWeights(VEC w)
{
    return _mm_and_si128(_mm_shufflehi_epi16(_mm_shufflelo_epi16(w, 0xFF), 0xFF),
                         _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1));
}

template <class M>
int32_t VecFull(uint8_t* pDst, const uint8_t* pSrc, int32_t nBytes)
{
    return VecSpan<M>(pDst, pSrc, nBytes, [](VEC, VEC r, VEC) { return r; });
}

template <class M>
int32_t VecOpacity(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes)
{
    if (nOpacity < 0 || nOpacity > 256) return 0;
    const VEC w = Words(static_cast<int16_t>(nOpacity));
    return VecSpan<M>(pDst, pSrc, nBytes, [w](VEC d, VEC r, VEC) { return WeighWords(d, r, w); });
}

// w = sA + 1, in 1..256.
template <class M>
int32_t VecAlpha(uint8_t* pDst, const uint8_t* pSrc, int32_t nBytes)
{
    return VecSpan<M, true>(pDst, pSrc, nBytes,
                            [](VEC d, VEC r, VEC s) { return WeighWords(d, r, PixelWeights(_mm_add_epi16(s, Words(1)))); });
}

// w = (sA + 1) x op >> 8; at op = 256 that is sA + 1 itself, below it (sA + 1) x op fits 16 bits.
template <class M>
int32_t VecAlphaOpacity(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes)
{
    if (nOpacity == 256) return VecAlpha<M>(pDst, pSrc, nBytes);
    if (nOpacity < 0 || nOpacity > 256) return 0;
    const VEC op = Words(static_cast<int16_t>(nOpacity));
    return VecSpan<M, true>(pDst, pSrc, nBytes, [op](VEC d, VEC r, VEC s) {
        return WeighWords(d, r, PixelWeights(_mm_srli_epi16(_mm_mullo_epi16(_mm_add_epi16(s, Words(1)), op), 8)));
    });
}

// Difference with opacity: d + trunc((R - d) x op / 256), the step's size floored on |R - d|.
int32_t VecDifferenceOpacity(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes)
{
    if (nOpacity < 0 || nOpacity > 256) return 0;
    const VEC op = Words(static_cast<int16_t>(nOpacity));
    return VecSpan<VEC_DIFFERENCE>(pDst, pSrc, nBytes, [op](VEC d, VEC r, VEC) {
        const VEC up = _mm_srli_epi16(_mm_mullo_epi16(_mm_subs_epu16(r, d), op), 8);
        const VEC down = _mm_srli_epi16(_mm_mullo_epi16(_mm_subs_epu16(d, r), op), 8);
        return _mm_sub_epi16(_mm_add_epi16(d, up), down);
    });
}

// The bytes a vector loop has done (none without SSE2), after which the plain variant goes on.
#define KX_VEC_DONE(expr) (expr)
#else
#define KX_VEC_DONE(expr) 0
#endif

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

// The same four variants for a mode with a vector formula M: the vector loop, then the plain
// variant for the rest of the row.
#define KX_DEFINE_VEC_FULL(Mode, R, M) \
    void BlendSpan##Mode##Full(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes) \
    { \
        const int32_t i = KX_VEC_DONE(VecFull<M>(pDst, pSrc, nBytes)); \
        SpanFull<R>(pDst + i, pSrc + i, nOpacity, nBytes - i); \
    }
#define KX_DEFINE_VEC_OPACITY(Mode, R, M) \
    void BlendSpan##Mode##Opacity(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes) \
    { \
        const int32_t i = KX_VEC_DONE(VecOpacity<M>(pDst, pSrc, nOpacity, nBytes)); \
        SpanOpacity<R>(pDst + i, pSrc + i, nOpacity, nBytes - i); \
    }
#define KX_DEFINE_VEC_ALPHA(Mode, R, M) \
    void BlendSpan##Mode##Alpha(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes) \
    { \
        const int32_t i = KX_VEC_DONE(VecAlpha<M>(pDst, pSrc, nBytes)); \
        SpanAlpha<R>(pDst + i, pSrc + i, nOpacity, nBytes - i); \
    }
#define KX_DEFINE_VEC_ALPHA_OPACITY(Mode, R, M) \
    void BlendSpan##Mode##AlphaOpacity(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes) \
    { \
        const int32_t i = KX_VEC_DONE(VecAlphaOpacity<M>(pDst, pSrc, nOpacity, nBytes)); \
        SpanAlphaOpacity<R>(pDst + i, pSrc + i, nOpacity, nBytes - i); \
    }

// Spans that hand the row to a pixel routine: the result is that routine's, with the forms of the
// level the routine table was filled for.
#define KX_ROUTE_MIX(Name, Slot) \
    void Name(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes) \
    { if (nBytes > 0) g_PixelOps.Slot(pDst, pSrc, static_cast<size_t>(nBytes)); }
#define KX_ROUTE_MIX_OPACITY(Name, Slot) \
    void Name(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes) \
    { if (nBytes > 0) g_PixelOps.Slot(pDst, pSrc, nOpacity, static_cast<size_t>(nBytes)); }

// The spans of a table-driven mode after its Full (and, with _REST2, its Opacity) span; M is its
// vector formula. The masked spans read the table.
#define KX_DEFINE_TABLE_REST2(Mode, M) \
    KX_DEFINE_VEC_ALPHA(Mode, KX_TABLE_RESULT(Mode), M) \
    KX_DEFINE_VEC_ALPHA_OPACITY(Mode, KX_TABLE_RESULT(Mode), M) \
    KX_DEFINE_MASK(Mode, KX_TABLE_RESULT(Mode)) \
    KX_DEFINE_MASK_ALPHA(Mode, KX_TABLE_RESULT(Mode), 1)
#define KX_DEFINE_TABLE_REST(Mode, M) \
    KX_DEFINE_VEC_OPACITY(Mode, KX_TABLE_RESULT(Mode), M) \
    KX_DEFINE_TABLE_REST2(Mode, M)
// A mode whose six spans all follow the variant formulas with R from its lookup table.
#define KX_DEFINE_TABLE_MODE(Mode, M) \
    KX_DEFINE_VEC_FULL(Mode, KX_TABLE_RESULT(Mode), M) \
    KX_DEFINE_TABLE_REST(Mode, M)

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
KX_DEFINE_VEC_OPACITY(Subtract, ResultSubtract, VEC_SUBTRACT)
KX_DEFINE_VEC_ALPHA(Subtract, ResultSubtract, VEC_SUBTRACT)
KX_DEFINE_VEC_ALPHA_OPACITY(Subtract, ResultSubtract, VEC_SUBTRACT)
KX_DEFINE_MASK(Subtract, ResultSubtract)
KX_DEFINE_MASK_ALPHA(Subtract, ResultSubtract, 1)

// Multiply's full span is the pixel routine, whose whole 4-byte groups use (d x (s + 1)) >> 8.
KX_ROUTE_MIX(BlendSpanMultiplyFull, PixelOpMultiply)
KX_DEFINE_TABLE_REST(Multiply, VEC_MULTIPLY)
KX_DEFINE_TABLE_MODE(Divide, VEC_DIVIDE)
KX_ROUTE_MIX(BlendSpanScreenFull, PixelOpScreen)
KX_ROUTE_MIX_OPACITY(BlendSpanScreenOpacity, PixelOpScreenOpacity)
KX_DEFINE_TABLE_REST2(Screen, VEC_SCREEN)
KX_ROUTE_MIX(BlendSpanLightenFull, PixelOpLighten)
KX_DEFINE_TABLE_REST(Lighten, VEC_LIGHTEN)
KX_ROUTE_MIX(BlendSpanDarkenFull, PixelOpDarken)
KX_DEFINE_TABLE_REST(Darken, VEC_DARKEN)

KX_DEFINE_VEC_FULL(Difference, KX_TABLE_RESULT(Difference), VEC_DIFFERENCE)
void BlendSpanDifferenceOpacity(uint8_t* pDst, const uint8_t* pSrc, int32_t nOpacity, int32_t nBytes)
{
    const int32_t i = KX_VEC_DONE(VecDifferenceOpacity(pDst, pSrc, nOpacity, nBytes));
    SpanDifferenceOpacity(pDst + i, pSrc + i, nOpacity, nBytes - i);
}
KX_DEFINE_TABLE_REST2(Difference, VEC_DIFFERENCE)

KX_DEFINE_TABLE_MODE(Exclusion, VEC_EXCLUSION)
KX_DEFINE_TABLE_MODE(Overlay, VEC_OVERLAY)
KX_DEFINE_TABLE_MODE(ColorDodge, VEC_COLOR_DODGE)
KX_DEFINE_TABLE_MODE(ColorBurn, VEC_COLOR_BURN)
KX_ROUTE_MIX(BlendSpanLinearBurnFull, PixelOpLinearBurn)
KX_DEFINE_TABLE_REST(LinearBurn, VEC_LINEAR_BURN)
KX_DEFINE_TABLE_MODE(HardLight, VEC_HARD_LIGHT)
// Soft light's table comes from square roots and has no short exact formula, and Vivid light's two
// divisions cost more in vector lanes than a table read: their spans read the table, and all but
// the Full span (which only reads) weigh in vector lanes.
KX_DEFINE_FULL(SoftLight, KX_TABLE_RESULT(SoftLight))
KX_DEFINE_TABLE_REST(SoftLight, VEC_TABLE<g_abBlendSoftLight>)
KX_DEFINE_FULL(VividLight, KX_TABLE_RESULT(VividLight))
KX_DEFINE_TABLE_REST(VividLight, VEC_TABLE<g_abBlendVividLight>)
KX_ROUTE_MIX(BlendSpanLinearLightFull, PixelOpLinearLight)
KX_DEFINE_TABLE_REST(LinearLight, VEC_LINEAR_LIGHT)
KX_DEFINE_TABLE_MODE(PinLight, VEC_PIN_LIGHT)

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
