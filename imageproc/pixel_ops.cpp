// The pixel routine table: the plain forms of every slot, the processor probe and the level rule.
// The plain forms follow the formulas byte for byte, including which bytes count as head, block
// or rest; the vector forms in pixel_ops_sse2.cpp and pixel_ops_avx2.cpp must match them exactly.
#include "imageproc/pixel_ops.h"

#include <cstdlib>
#include <cstring>

#include "core/engine_hooks.h"
#include "core/settings.h"
#include "platform/plat_sysinfo.h"

PIXEL_OPS g_PixelOps = {
    PixelOpClear, PixelOpFill8, PixelOpFill32, PixelOpCopy, PixelOpLerp, PixelOpAlphaOver, PixelOpAlphaOverOpacity,
    PixelOpMask, PixelOpCrossFade, PixelOpAdd, PixelOpAddOpacity, PixelOpAddAlpha, PixelOpAddAlphaOpacity,
    PixelOpSubtract, PixelOpMultiply, PixelOpScreen, PixelOpScreenOpacity, PixelOpLighten, PixelOpDarken,
    PixelOpLinearBurn, PixelOpLinearLight, PixelOpReduce2x2, PixelOpCompose, PixelOpComposeOpacity,
    PixelOpComposeDestOpacity, PixelOpComposeBothOpacity,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
};

// The compositor owns the curve and fills it; this is its storage for the routines that read it
// when no compositor is linked in (a compositor's own definition takes precedence).
[[gnu::weak]] int32_t g_aiMaskCurve[256];

int g_nPixelOpsLevel = 1;
int g_nPixelOpsSimd = PIXEL_SIMD_NONE;

namespace {

inline int ClampOpacity(int a)
{
    return a < 0 ? 0 : (a > 256 ? 256 : a);
}

inline int Min255(int x)
{
    return x > 255 ? 255 : x;
}

inline uint8_t ClampByte(int64_t x)
{
    return static_cast<uint8_t>(x < 0 ? 0 : (x > 255 ? 255 : x));
}

// d + ((s - d) x w >> 8): the general weighted step of every blend.
inline uint8_t Step(int d, int s, int w)
{
    return static_cast<uint8_t>(d + (((s - d) * w) >> 8));
}

// The pixel forms shared by several routines (three colour bytes, alpha kept).
inline void StepColour(uint8_t* d, const uint8_t* s, int w)
{
    for (int c = 0; c < 3; ++c)
        d[c] = Step(d[c], s[c], w);
}

// Lerp and CrossFade in an 8-byte block at level 1.
inline uint8_t BlendBlockByte1(int d, int s, int a)
{
    if (a == 128) return static_cast<uint8_t>((d >> 1) + (s >> 1));
    if (a > 128) return static_cast<uint8_t>(s + (((d - s) * (256 - a)) >> 8));
    return Step(d, s, a);
}

// The same at level 2/3 (byte average rounding up).
inline uint8_t BlendBlockByte23(int d, int s, int a)
{
    if (a == 128) return static_cast<uint8_t>((d + s + 1) >> 1);
    if (a > 128) return static_cast<uint8_t>(s + (((d - s) * (256 - a)) >> 8));
    return Step(d, s, a);
}

inline uint8_t MulDiv255(int a, int b)
{
    return static_cast<uint8_t>(a * b / 255);
}

inline uint8_t AddAlphaByte(int d, int s, int w)
{
    return static_cast<uint8_t>(d + (((Min255(d + s) - d) * w) >> 8));
}

// The level 1 mask step for one pixel with curve weight w (which leans toward the larger value).
inline void MaskPixel1(uint8_t* d, const uint8_t* s, int32_t w)
{
    if (w <= 1) return;
    for (int c = 0; c < 3; ++c)
        d[c] = static_cast<uint8_t>(d[c] - ((static_cast<int64_t>(d[c] - s[c]) * w) >> 8));
}

// floor(256 x x / c), 0 for c = 0: the weight table of the Compose routines.
inline int AlphaDiv(int c, int x)
{
    return c == 0 ? 0 : (256 * x) / c;
}

}  // namespace

size_t PixelOpHeadBytes(const void* pDst, size_t n, size_t nStep)
{
    const size_t nMis = (8 - (reinterpret_cast<uintptr_t>(pDst) & 7)) & 7;
    if (nStep == 1) return nMis < n ? nMis : n;
    const size_t nWhole = n & ~static_cast<size_t>(3);
    if (nMis % 4 != 0) return nWhole;
    return nMis < nWhole ? nMis : nWhole;
}

// ---- Fill and copy ------------------------------------------------------------------------------

void PixelOpClear(void* pDst, size_t n)
{
    if (n) memset(pDst, 0, n);
}

void PixelOpFill8(void* pDst, size_t n, uint8_t bValue)
{
    if (n) memset(pDst, bValue, n);
}

void PixelOpFill32(void* pDst, size_t n, uint32_t dwValue)
{
    uint8_t* p = static_cast<uint8_t*>(pDst);
    for (size_t i = 0; i + 4 <= n; i += 4)
        memcpy(p + i, &dwValue, 4);
}

void PixelOpCopy(void* pDst, const void* pSrc, size_t n)
{
    // A forward copy of areas that do not overlap; memmove keeps an overlapping call defined.
    if (n) memmove(pDst, pSrc, n);
}

// ---- Lerp and cross-fade ------------------------------------------------------------------------

// Lerp at level 1 is the cross-fade of the destination with the source, written in place.
void PixelOpLerp(uint8_t* pDst, const uint8_t* pSrc, int a, size_t n)
{
    PixelOpCrossFade(pDst, pDst, pSrc, a, n);
}

void PixelOpLerpSSE(uint8_t* pDst, const uint8_t* pSrc, int a, size_t n)
{
    a = ClampOpacity(a);
    const size_t nHead = PixelOpHeadBytes(pDst, n, 1);
    const size_t nBlockEnd = nHead + ((n - nHead) & ~static_cast<size_t>(7));
    size_t i = 0;
    for (; i < nHead; ++i)
        pDst[i] = Step(pDst[i], pSrc[i], a);
    for (; i < nBlockEnd; ++i)
        pDst[i] = BlendBlockByte23(pDst[i], pSrc[i], a);
    for (; i < n; ++i)
        pDst[i] = Step(pDst[i], pSrc[i], a);
}

namespace {

// The cross-fade with the block form of a level: 8-byte blocks from the start, the rest stepped.
template <uint8_t (*BlockByte)(int, int, int)>
void CrossFadeWith(uint8_t* pOut, const uint8_t* pFirst, const uint8_t* pSecond, int t, size_t n)
{
    t = ClampOpacity(t);
    const size_t nBlocks = n & ~static_cast<size_t>(7);
    size_t i = 0;
    for (; i < nBlocks; ++i)
        pOut[i] = BlockByte(pFirst[i], pSecond[i], t);
    for (; i < n; ++i)
        pOut[i] = Step(pFirst[i], pSecond[i], t);
}

}  // namespace

void PixelOpCrossFade(uint8_t* pOut, const uint8_t* pFirst, const uint8_t* pSecond, int t, size_t n)
{
    CrossFadeWith<BlendBlockByte1>(pOut, pFirst, pSecond, t, n);
}

void PixelOpCrossFadeSSE(uint8_t* pOut, const uint8_t* pFirst, const uint8_t* pSecond, int t, size_t n)
{
    CrossFadeWith<BlendBlockByte23>(pOut, pFirst, pSecond, t, n);
}

// ---- Alpha over ---------------------------------------------------------------------------------

void PixelOpAlphaOver(uint8_t* pDst, const uint8_t* pSrc, size_t n)
{
    const size_t nPixels = n / 4;
    size_t p = 0;
    for (; p + 2 <= nPixels; p += 2) {
        for (size_t q = p; q < p + 2; ++q) {
            uint8_t* d = pDst + q * 4;
            const uint8_t* s = pSrc + q * 4;
            const int sA = s[3];
            // all four bytes, so the destination alpha becomes (dA x (256 - sA) + sA x (sA + 1)) >> 8
            for (int c = 0; c < 4; ++c)
                d[c] = static_cast<uint8_t>((d[c] * (256 - sA) + s[c] * (sA + 1)) >> 8);
        }
    }
    if (p < nPixels) StepColour(pDst + p * 4, pSrc + p * 4, pSrc[p * 4 + 3] + 1);
}

void PixelOpAlphaOverSSE(uint8_t* pDst, const uint8_t* pSrc, size_t n)
{
    const size_t nPixels = n / 4;
    const size_t nHead = PixelOpHeadBytes(pDst, n, 4) / 4;
    size_t p = 0;
    for (; p < nHead; ++p)
        StepColour(pDst + p * 4, pSrc + p * 4, pSrc[p * 4 + 3] + 1);
    for (; p + 2 <= nPixels; p += 2) {
        for (size_t q = p; q < p + 2; ++q) {
            uint8_t* d = pDst + q * 4;
            const uint8_t* s = pSrc + q * 4;
            const int sA = s[3];
            for (int c = 0; c < 4; ++c)
                d[c] = static_cast<uint8_t>(Min255(((s[c] * (sA + 1)) >> 8) + ((d[c] * (256 - sA)) >> 8)));
        }
    }
    if (p < nPixels) StepColour(pDst + p * 4, pSrc + p * 4, pSrc[p * 4 + 3] + 1);
}

void PixelOpAlphaOverOpacity(uint8_t* pDst, const uint8_t* pSrc, int a, size_t n)
{
    a = ClampOpacity(a);
    const size_t nPixels = n / 4;
    size_t p = 0;
    for (; p + 2 <= nPixels; p += 2) {
        for (size_t q = p; q < p + 2; ++q) {
            uint8_t* d = pDst + q * 4;
            const uint8_t* s = pSrc + q * 4;
            const int w0 = (s[3] * a) >> 8;
            for (int c = 0; c < 4; ++c)
                d[c] = static_cast<uint8_t>((d[c] * (256 - w0) + s[c] * (w0 + 1)) >> 8);
        }
    }
    if (p < nPixels) {
        uint8_t* d = pDst + p * 4;
        const uint8_t* s = pSrc + p * 4;
        const int w0 = (s[3] * a) >> 8;
        for (int c = 0; c < 3; ++c)
            d[c] = static_cast<uint8_t>(((d[c] * (256 - w0)) >> 8) + ((s[c] * (w0 + 1)) >> 8));
    }
}

void PixelOpAlphaOverOpacitySSE(uint8_t* pDst, const uint8_t* pSrc, int a, size_t n)
{
    a = ClampOpacity(a);
    const size_t nPixels = n / 4;
    const size_t nHead = PixelOpHeadBytes(pDst, n, 4) / 4;
    size_t p = 0;
    for (; p < nHead; ++p)
        StepColour(pDst + p * 4, pSrc + p * 4, ((pSrc[p * 4 + 3] * a) >> 8) + 1);
    for (; p + 2 <= nPixels; p += 2) {
        for (size_t q = p; q < p + 2; ++q) {
            uint8_t* d = pDst + q * 4;
            const uint8_t* s = pSrc + q * 4;
            const int w0 = (s[3] * a) >> 8;
            for (int c = 0; c < 4; ++c)
                d[c] = static_cast<uint8_t>(Min255(((d[c] * (256 - w0)) >> 8) + ((s[c] * (w0 + 1)) >> 8)));
        }
    }
    if (p < nPixels) StepColour(pDst + p * 4, pSrc + p * 4, ((pSrc[p * 4 + 3] * a) >> 8) + 1);
}

// ---- Mask ---------------------------------------------------------------------------------------

void PixelOpMask(uint8_t* pDst, const uint8_t* pSrc, const uint8_t* pMask, int nThreshold, int nVagueness, size_t n)
{
    (void)nThreshold;
    (void)nVagueness;
    const size_t nPixels = n / 4;
    for (size_t p = 0; p < nPixels; ++p)
        MaskPixel1(pDst + p * 4, pSrc + p * 4, g_aiMaskCurve[pMask[p * 4]]);
}

void PixelOpMaskSSE(uint8_t* pDst, const uint8_t* pSrc, const uint8_t* pMask, int nThreshold, int nVagueness,
                    size_t n)
{
    if (nVagueness == 256) {
        PixelOpMask(pDst, pSrc, pMask, nThreshold, nVagueness, n);
        return;
    }
    // The curve is not read: each byte's weight comes from its own mask byte.
    const int64_t c = nVagueness >> 1;
    const int64_t K = static_cast<int64_t>(nThreshold) * (c + 1) - 128 * static_cast<int64_t>(nVagueness);
    const size_t nBytes = n & ~static_cast<size_t>(3);
    for (size_t i = 0; i < nBytes; ++i) {
        const int64_t e = pMask[i] * c + K;
        const int w = static_cast<int>(e < 0 ? 0 : (e > 255 ? 255 : e)) + 1;
        const int d = pDst[i];
        pDst[i] = ClampByte(d + ((pSrc[i] * w) >> 8) - ((d * w) >> 8));
    }
}

// ---- Add family ---------------------------------------------------------------------------------

void PixelOpAdd(uint8_t* pDst, const uint8_t* pSrc, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        pDst[i] = static_cast<uint8_t>(Min255(pDst[i] + pSrc[i]));
}

void PixelOpAddOpacity(uint8_t* pDst, const uint8_t* pSrc, int a, size_t n)
{
    a = ClampOpacity(a);
    const size_t nBlocks = n & ~static_cast<size_t>(7);
    size_t i = 0;
    for (; i < nBlocks; ++i)
        pDst[i] = static_cast<uint8_t>(Min255(pDst[i] + ((pSrc[i] * a) >> 8)));
    for (; i < n; ++i)
        pDst[i] = AddAlphaByte(pDst[i], pSrc[i], a);
}

namespace {

// B, G, R of each whole pixel moved toward min(255, d + s) by Weight(sA, a) / 256; alpha kept.
template <int (*Weight)(int sA, int a)>
void AddAlphaPixels(uint8_t* pDst, const uint8_t* pSrc, int a, size_t n)
{
    for (size_t p = 0; p < n / 4; ++p) {
        uint8_t* d = pDst + p * 4;
        const uint8_t* s = pSrc + p * 4;
        const int w = Weight(s[3], a);
        for (int c = 0; c < 3; ++c)
            d[c] = AddAlphaByte(d[c], s[c], w);
    }
}

int AddAlphaWeight1(int sA, int) { return sA + 1; }
int AddAlphaWeight23(int sA, int) { return Min255(sA + 1); }
int AddAlphaOpacityWeight1(int sA, int a) { return (sA * a + a) >> 8; }
int AddAlphaOpacityWeight23(int sA, int a) { return (Min255(sA + 1) * a) >> 8; }

}  // namespace

void PixelOpAddAlpha(uint8_t* pDst, const uint8_t* pSrc, int nIgnored, size_t n)
{
    AddAlphaPixels<AddAlphaWeight1>(pDst, pSrc, nIgnored, n);
}

void PixelOpAddAlphaSSE(uint8_t* pDst, const uint8_t* pSrc, int nIgnored, size_t n)
{
    AddAlphaPixels<AddAlphaWeight23>(pDst, pSrc, nIgnored, n);
}

void PixelOpAddAlphaOpacity(uint8_t* pDst, const uint8_t* pSrc, int a, size_t n)
{
    AddAlphaPixels<AddAlphaOpacityWeight1>(pDst, pSrc, ClampOpacity(a), n);
}

void PixelOpAddAlphaOpacitySSE(uint8_t* pDst, const uint8_t* pSrc, int a, size_t n)
{
    AddAlphaPixels<AddAlphaOpacityWeight23>(pDst, pSrc, ClampOpacity(a), n);
}

// ---- Byte-wise modes ----------------------------------------------------------------------------

void PixelOpSubtract(uint8_t* pDst, const uint8_t* pSrc, size_t n)
{
    // The source minus the destination.
    for (size_t i = 0; i < n; ++i) {
        const int x = pSrc[i] - pDst[i];
        pDst[i] = static_cast<uint8_t>(x < 0 ? 0 : x);
    }
}

void PixelOpMultiply(uint8_t* pDst, const uint8_t* pSrc, size_t n)
{
    const size_t nGroups = n & ~static_cast<size_t>(3);
    size_t i = 0;
    for (; i < nGroups; ++i)
        pDst[i] = static_cast<uint8_t>((pDst[i] * (pSrc[i] + 1)) >> 8);
    for (; i < n; ++i)
        pDst[i] = MulDiv255(pSrc[i], pDst[i]);
}

void PixelOpScreen(uint8_t* pDst, const uint8_t* pSrc, size_t n)
{
    const size_t nBlocks = n & ~static_cast<size_t>(7);
    size_t i = 0;
    for (; i < nBlocks; ++i) {
        const int d = pDst[i], s = pSrc[i];
        pDst[i] = static_cast<uint8_t>(s + d - ((d * (s + 1)) >> 8));
    }
    for (; i < n; ++i) {
        const int d = pDst[i], s = pSrc[i];
        pDst[i] = static_cast<uint8_t>(s + d - MulDiv255(s, d));
    }
}

void PixelOpScreenOpacity(uint8_t* pDst, const uint8_t* pSrc, int a, size_t n)
{
    a = ClampOpacity(a);
    for (size_t i = 0; i < n; ++i) {
        const int d = pDst[i], s = pSrc[i];
        pDst[i] = Step(d, s + d - MulDiv255(s, d), a);
    }
}

void PixelOpLighten(uint8_t* pDst, const uint8_t* pSrc, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        pDst[i] = pSrc[i] > pDst[i] ? pSrc[i] : pDst[i];
}

void PixelOpDarken(uint8_t* pDst, const uint8_t* pSrc, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        pDst[i] = pSrc[i] < pDst[i] ? pSrc[i] : pDst[i];
}

void PixelOpLinearBurn(uint8_t* pDst, const uint8_t* pSrc, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        pDst[i] = ClampByte(pDst[i] + pSrc[i] - 255);
}

void PixelOpLinearLight(uint8_t* pDst, const uint8_t* pSrc, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        pDst[i] = ClampByte(pDst[i] + 2 * pSrc[i] - 256);
}

// ---- Halving ------------------------------------------------------------------------------------

void PixelOpReduce2x2(uint8_t* pDst, const uint8_t* pSrc, size_t nSrcWidth, size_t nOutPixels)
{
    const uint8_t* pBelow = pSrc + nSrcWidth * 4;
    for (size_t i = 0; i < nOutPixels; ++i)
        for (int c = 0; c < 4; ++c) {
            const int p1 = pSrc[i * 8 + c], p2 = pSrc[i * 8 + 4 + c];
            const int p3 = pBelow[i * 8 + c], p4 = pBelow[i * 8 + 4 + c];
            pDst[i * 4 + c] = static_cast<uint8_t>((p1 + p2 + p3 + p4) >> 2);
        }
}

void PixelOpReduce2x2SSE(uint8_t* pDst, const uint8_t* pSrc, size_t nSrcWidth, size_t nOutPixels)
{
    const uint8_t* pBelow = pSrc + nSrcWidth * 4;
    for (size_t i = 0; i < nOutPixels; ++i)
        for (int c = 0; c < 4; ++c) {
            const int p1 = pSrc[i * 8 + c], p2 = pSrc[i * 8 + 4 + c];
            const int p3 = pBelow[i * 8 + c], p4 = pBelow[i * 8 + 4 + c];
            const int l = (p1 + p3 + 1) >> 1, r = (p2 + p4 + 1) >> 1;
            pDst[i * 4 + c] = static_cast<uint8_t>((l + r + 1) >> 1);
        }
}

// ---- Compose (alpha onto alpha) -----------------------------------------------------------------
// The colour results are clamped to 0..255: with an opacity the weights can exceed a whole step
// (a partly covered destination alpha makes the combined alpha smaller than the source's), which
// would otherwise wrap a dark source into a bright byte.

namespace {

// The combined alpha dA + (sA - dA x sA / 255) x p / 256, and the colours moved toward the source by
// w x p / 65536 with w = floor(256 sA / A). Without an opacity (p = 256) the factors of 256 cancel
// exactly, and the products stay in 32 bits.
template <bool bOpacity>
inline void ComposePixels(uint8_t* pDst, const uint8_t* pSrc, int p, size_t n)
{
    for (size_t i = 0; i < n / 4; ++i) {
        uint8_t* d = pDst + i * 4;
        const uint8_t* s = pSrc + i * 4;
        const int sA = s[3], dA = d[3];
        const int nCover = sA - dA * sA / 255;
        const int A = (dA + (bOpacity ? (nCover * p) >> 8 : nCover)) & 0xFF;
        d[3] = static_cast<uint8_t>(A);
        const int w = AlphaDiv(A, sA);
        for (int c = 0; c < 3; ++c)
            d[c] = bOpacity ? ClampByte(d[c] + (((s[c] - d[c]) * static_cast<int64_t>(w) * p) >> 16))
                            : ClampByte(d[c] + (((s[c] - d[c]) * w) >> 8));
    }
}

}  // namespace

void PixelOpCompose(uint8_t* pDst, const uint8_t* pSrc, size_t n)
{
    ComposePixels<false>(pDst, pSrc, 256, n);
}

void PixelOpComposeOpacity(uint8_t* pDst, const uint8_t* pSrc, int p, size_t n)
{
    ComposePixels<true>(pDst, pSrc, ClampOpacity(p), n);
}

void PixelOpComposeDestOpacity(uint8_t* pDst, const uint8_t* pSrc, int p, size_t n)
{
    p = ClampOpacity(p);
    for (size_t i = 0; i < n / 4; ++i) {
        uint8_t* d = pDst + i * 4;
        d[3] = static_cast<uint8_t>((d[3] * p) >> 8);
        PixelOpCompose(d, pSrc + i * 4, 4);
    }
}

void PixelOpComposeBothOpacity(uint8_t* pDst, const uint8_t* pSrc, int pd, int ps, size_t n)
{
    pd = ClampOpacity(pd);
    ps = ClampOpacity(ps);
    for (size_t i = 0; i < n / 4; ++i) {
        uint8_t* d = pDst + i * 4;
        const uint8_t* s = pSrc + i * 4;
        const int sA = s[3];
        const int dA = ((d[3] * pd) >> 8) & 0xFF;
        const int A = (dA + (((sA - (((sA + 1) * dA) >> 8)) * ps) >> 8)) & 0xFF;
        d[3] = static_cast<uint8_t>(A);
        for (int c = 0; c < 3; ++c) {
            const int x = ((s[c] - d[c]) * ps) >> 8;
            d[c] = ClampByte(d[c] + x * sA / (A + 1));
        }
    }
}

// ---- Choosing the routines ----------------------------------------------------------------------

int HasCPUID(void)
{
    uint32_t r[4];
    return PlatCpuid(0, 0, r) == 0 ? 1 : 0;
}

void DetectCPUFeatures(void)
{
    PIXEL_OPS* o = &g_PixelOps;
    o->bMMX = o->b3DNow = o->b3DNowExt = o->bSSE = o->bSSE2 = o->bSSE3 = 0;
    o->bSSSE3 = o->bSSE41 = o->bSSE42 = o->bSSE4a = o->bXOP = 0;
    if (!HasCPUID()) return;
    uint32_t r[4];
    if (PlatCpuid(0, 0, r) == 0 && r[0] > 0 && PlatCpuid(1, 0, r) == 0) {
        const uint32_t ecx = r[2], edx = r[3];
        o->bMMX = (edx >> 23) & 1;
        o->bSSE = (edx >> 25) & 1;
        o->bSSE2 = (edx >> 26) & 1;
        o->bSSE3 = ecx & 1;
        o->bSSSE3 = (ecx >> 9) & 1;
        o->bSSE41 = (ecx >> 19) & 1;
        o->bSSE42 = (ecx >> 20) & 1;
    }
    if (PlatCpuid(0x80000000u, 0, r) == 0 && r[0] > 0x80000000u && PlatCpuid(0x80000001u, 0, r) == 0) {
        const uint32_t ecx = r[2], edx = r[3];
        o->b3DNow = (edx >> 31) & 1;
        o->b3DNowExt = (edx >> 30) & 1;
        o->bSSE4a = (ecx >> 6) & 1;
        o->bXOP = (ecx >> 11) & 1;
    }
}

int ChoosePixelOpsLevel(uint8_t bSSE, uint8_t bSSE2, uint8_t bAllowSSE, uint8_t bAllowSSE2)
{
    int nLevel = 1;
    if (bSSE && bAllowSSE) nLevel = 2;
    if (bSSE2 && bAllowSSE2) nLevel = 3;
    return nLevel;
}

int DetectPixelOpsSimd(void)
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    // The compiler's probe also asks the system whether it saves the wide registers.
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")) return PIXEL_SIMD_AVX512;
    if (__builtin_cpu_supports("avx2")) return PIXEL_SIMD_AVX2;
    if (__builtin_cpu_supports("sse2")) return PIXEL_SIMD_SSE2;
#endif
    return PIXEL_SIMD_NONE;
}

void FillPixelOps(PIXEL_OPS* pOps, int nLevel, int nSimd)
{
    const bool bBlockSet = nLevel >= 2;
    pOps->PixelOpClear = PixelOpClear;
    pOps->PixelOpFill8 = PixelOpFill8;
    pOps->PixelOpFill32 = PixelOpFill32;
    pOps->PixelOpCopy = PixelOpCopy;
    pOps->PixelOpLerp = bBlockSet ? PixelOpLerpSSE : PixelOpLerp;
    pOps->PixelOpAlphaOver = bBlockSet ? PixelOpAlphaOverSSE : PixelOpAlphaOver;
    pOps->PixelOpAlphaOverOpacity = bBlockSet ? PixelOpAlphaOverOpacitySSE : PixelOpAlphaOverOpacity;
    pOps->PixelOpMask = bBlockSet ? PixelOpMaskSSE : PixelOpMask;
    pOps->PixelOpCrossFade = bBlockSet ? PixelOpCrossFadeSSE : PixelOpCrossFade;
    pOps->PixelOpAdd = PixelOpAdd;
    pOps->PixelOpAddOpacity = PixelOpAddOpacity;
    pOps->PixelOpAddAlpha = bBlockSet ? PixelOpAddAlphaSSE : PixelOpAddAlpha;
    pOps->PixelOpAddAlphaOpacity = bBlockSet ? PixelOpAddAlphaOpacitySSE : PixelOpAddAlphaOpacity;
    pOps->PixelOpSubtract = PixelOpSubtract;
    pOps->PixelOpMultiply = PixelOpMultiply;
    pOps->PixelOpScreen = PixelOpScreen;
    pOps->PixelOpScreenOpacity = PixelOpScreenOpacity;
    pOps->PixelOpLighten = PixelOpLighten;
    pOps->PixelOpDarken = PixelOpDarken;
    pOps->PixelOpLinearBurn = PixelOpLinearBurn;
    pOps->PixelOpLinearLight = PixelOpLinearLight;
    pOps->PixelOpReduce2x2 = bBlockSet ? PixelOpReduce2x2SSE : PixelOpReduce2x2;
    pOps->PixelOpCompose = PixelOpCompose;
    pOps->PixelOpComposeOpacity = PixelOpComposeOpacity;
    pOps->PixelOpComposeDestOpacity = PixelOpComposeDestOpacity;
    pOps->PixelOpComposeBothOpacity = PixelOpComposeBothOpacity;

    const int nHave = DetectPixelOpsSimd();
    if (nSimd > nHave) nSimd = nHave;
    if (nSimd >= PIXEL_SIMD_SSE2) ApplySSE2PixelOps(pOps, nLevel);
    if (nSimd >= PIXEL_SIMD_AVX2) ApplyAVX2PixelOps(pOps, nLevel);
    if (nSimd >= PIXEL_SIMD_AVX512) ApplyAVX512PixelOps(pOps, nLevel);
}

namespace {

// KOLVEX_PIXEL_LEVEL and KOLVEX_PIXEL_SIMD; -1 when unset or not understood.
int ForcedLevel(void)
{
    const char* psz = std::getenv("KOLVEX_PIXEL_LEVEL");
    if (!psz || psz[0] < '1' || psz[0] > '3' || psz[1]) return -1;
    return psz[0] - '0';
}

int ForcedSimd(void)
{
    const char* psz = std::getenv("KOLVEX_PIXEL_SIMD");
    if (!psz) return -1;
    if (!strcmp(psz, "none")) return PIXEL_SIMD_NONE;
    if (!strcmp(psz, "sse2")) return PIXEL_SIMD_SSE2;
    if (!strcmp(psz, "avx2")) return PIXEL_SIMD_AVX2;
    if (!strcmp(psz, "avx512")) return PIXEL_SIMD_AVX512;
    return -1;
}

}  // namespace

int SelectPixelOpsSimd(void)
{
    int nSimd = DetectPixelOpsSimd();
    const int nForcedSimd = ForcedSimd();
    if (nForcedSimd >= 0 && nForcedSimd < nSimd) nSimd = nForcedSimd;
    return nSimd;
}

const char* PixelOpsSimdName(int nSimd)
{
    switch (nSimd) {
    case PIXEL_SIMD_SSE2: return "sse2";
    case PIXEL_SIMD_AVX2: return "avx2";
    case PIXEL_SIMD_AVX512: return "avx512";
    default: return "none";
    }
}

void InitPixelOps(void)
{
    DetectCPUFeatures();
    int nLevel = ChoosePixelOpsLevel(g_PixelOps.bSSE, g_PixelOps.bSSE2, g_bAllowSSE, g_bAllowSSE2);
    const int nForcedLevel = ForcedLevel();
    if (nForcedLevel > 0) nLevel = nForcedLevel;
    const int nSimd = SelectPixelOpsSimd();
    FillPixelOps(&g_PixelOps, nLevel, nSimd);
    g_nPixelOpsLevel = nLevel;
    g_nPixelOpsSimd = nSimd;
}
