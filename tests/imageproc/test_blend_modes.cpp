// Blend modes: the per-byte results of the nineteen modes, the six span variants read through the four
// span tables, the mask curve, and stored modes above 18.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "root/startup.h"
#include "core/engine_hooks.h"
#include "core/engine_tables.h"
#include "imageproc/blend_modes.h"
#include "imageproc/pixel_ops.h"

namespace {

// R(s, d) of each mode written out from the mode definitions, independently of the table builder.
int ReferenceResult(int nMode, int s, int d)
{
    auto clamp = [](int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); };
    switch (nMode) {
    case BLEND_NORMAL: return s;
    case BLEND_ADD: return std::min(255, s + d);
    case BLEND_SUBTRACT: return std::max(0, s - d);
    case BLEND_MULTIPLY: return s * d / 255;
    case BLEND_DIVIDE: return d == 0 ? (s == 0 ? 0 : 255) : std::min(255, 255 * s / d);
    case BLEND_SCREEN: return s + d - s * d / 255;
    case BLEND_LIGHTEN: return std::max(s, d);
    case BLEND_DARKEN: return std::min(s, d);
    case BLEND_DIFFERENCE: return std::abs(s - d);
    case BLEND_EXCLUSION: return s + d - 2 * (s * d / 255);
    case BLEND_OVERLAY:
        if (d < 128) return s * (2 * d) / 255;
        if (d == 128) return s;
        return s * (512 - 2 * d) / 255 + 2 * d - 257;
    case BLEND_COLOR_DODGE: return std::min(255, 256 * d / (256 - s));
    case BLEND_COLOR_BURN: return std::max(0, 255 - 256 * (255 - d) / (s + 1));
    case BLEND_LINEAR_BURN: return std::max(0, s + d - 255);
    case BLEND_HARD_LIGHT:
        if (s < 128) return d * (2 * s) / 255;
        if (s == 128) return d;
        return d * (512 - 2 * s) / 255 + 2 * s - 257;
    case BLEND_SOFT_LIGHT: {
        const int nD = s - 128;
        if (s < 128) {
            const int k = static_cast<int>(16384.0 - std::sqrt(256.0 - d));
            return clamp(d + static_cast<int>(std::floor(nD * k / 32768.0)));
        }
        if (d <= 32) {
            const int k = static_cast<int>(16384.0 - (768.0 - 8.0 * d) * std::sqrt(256.0 - d));
            return clamp(d + static_cast<int>(std::floor(nD * k / 32768.0)));
        }
        const int k = static_cast<int>(16384.0 - std::sqrt(256.0 - d));
        return clamp(d + static_cast<int>(std::floor(nD * k / 65536.0)));
    }
    case BLEND_VIVID_LIGHT:
        if (s == 0) return 0;
        if (s < 128) return std::max(0, 255 * (2 * s + d - 255) / (2 * s));
        if (s < 255) return std::min(255, 255 * d / (510 - 2 * s));
        return 255;
    case BLEND_LINEAR_LIGHT: return clamp(d + 2 * s - 256);
    case BLEND_PIN_LIGHT: return s < 128 ? std::min(d, 2 * s) : std::max(d, 2 * s - 255);
    }
    return -1;
}

const uint8_t* ModeTable(int nMode)
{
    static const uint8_t* const s_apTables[BLEND_MODE_COUNT] = {
        nullptr,            nullptr,             nullptr,            g_abBlendMultiply,  g_abBlendDivide,
        g_abBlendScreen,    g_abBlendLighten,    g_abBlendDarken,    g_abBlendDifference, g_abBlendExclusion,
        g_abBlendOverlay,   g_abBlendColorDodge, g_abBlendColorBurn, g_abBlendLinearBurn, g_abBlendHardLight,
        g_abBlendSoftLight, g_abBlendVividLight, g_abBlendLinearLight, g_abBlendPinLight,
    };
    return s_apTables[nMode];
}

class BlendModes : public ::testing::Test {
protected:
    // As at start-up: the product table first, which Screen, Overlay and Hard light read.
    static void SetUpTestSuite()
    {
        FillMulDivTables();
        InitBlendTables();
    }
};

// Every table entry is its mode's R(s, d), within 0..255.
TEST_F(BlendModes, ModeTablesHoldEachModesResult)
{
    for (int m = BLEND_MULTIPLY; m < BLEND_MODE_COUNT; ++m) {
        const uint8_t* pTable = ModeTable(m);
        int nBad = 0;
        for (int s = 0; s < 256; ++s)
            for (int d = 0; d < 256; ++d) {
                const int r = ReferenceResult(m, s, d);
                ASSERT_TRUE(r >= 0 && r <= 255) << "mode " << m << " s " << s << " d " << d << " gives " << r;
                if (pTable[s * 256 + d] != r && nBad++ < 5)
                    ADD_FAILURE() << "mode " << m << " s " << s << " d " << d << ": " << int(pTable[s * 256 + d])
                                  << " != " << r;
            }
    }
    for (int i = 0; i <= 510; ++i) {
        EXPECT_EQ(g_abClampAdd[i], std::min(i, 255));
        EXPECT_EQ(g_abClampSub[i], std::max(0, i - 255));
    }
}

// Values worked out by hand, one full-opacity span call per case.
TEST_F(BlendModes, FullSpansGiveHandComputedResults)
{
    struct CASE { int nMode, s, d, r; };
    const CASE aCases[] = {
        // Layer 200 over destination 100.
        {BLEND_NORMAL, 200, 100, 200}, {BLEND_ADD, 200, 100, 255}, {BLEND_SUBTRACT, 200, 100, 100},
        {BLEND_MULTIPLY, 200, 100, 78}, {BLEND_DIVIDE, 200, 100, 255}, {BLEND_SCREEN, 200, 100, 222},
        {BLEND_LIGHTEN, 200, 100, 200}, {BLEND_DARKEN, 200, 100, 100}, {BLEND_DIFFERENCE, 200, 100, 100},
        {BLEND_EXCLUSION, 200, 100, 144}, {BLEND_OVERLAY, 200, 100, 156}, {BLEND_COLOR_DODGE, 200, 100, 255},
        {BLEND_COLOR_BURN, 200, 100, 58}, {BLEND_LINEAR_BURN, 200, 100, 45}, {BLEND_HARD_LIGHT, 200, 100, 186},
        {BLEND_SOFT_LIGHT, 200, 100, 117}, {BLEND_VIVID_LIGHT, 200, 100, 231}, {BLEND_LINEAR_LIGHT, 200, 100, 244},
        {BLEND_PIN_LIGHT, 200, 100, 145},
        // Layer 60 over destination 180.
        {BLEND_NORMAL, 60, 180, 60}, {BLEND_ADD, 60, 180, 240}, {BLEND_SUBTRACT, 60, 180, 0},
        {BLEND_MULTIPLY, 60, 180, 42}, {BLEND_DIVIDE, 60, 180, 85}, {BLEND_SCREEN, 60, 180, 198},
        {BLEND_LIGHTEN, 60, 180, 180}, {BLEND_DARKEN, 60, 180, 60}, {BLEND_DIFFERENCE, 60, 180, 120},
        {BLEND_EXCLUSION, 60, 180, 156}, {BLEND_OVERLAY, 60, 180, 138}, {BLEND_COLOR_DODGE, 60, 180, 235},
        {BLEND_COLOR_BURN, 60, 180, 0}, {BLEND_LINEAR_BURN, 60, 180, 0}, {BLEND_HARD_LIGHT, 60, 180, 84},
        {BLEND_SOFT_LIGHT, 60, 180, 146}, {BLEND_VIVID_LIGHT, 60, 180, 95}, {BLEND_LINEAR_LIGHT, 60, 180, 44},
        {BLEND_PIN_LIGHT, 60, 180, 120},
        // Boundaries of the piecewise modes.
        {BLEND_SUBTRACT, 200, 50, 150}, {BLEND_SUBTRACT, 50, 200, 0},
        {BLEND_DIVIDE, 0, 0, 0}, {BLEND_DIVIDE, 1, 0, 255}, {BLEND_DIVIDE, 255, 0, 255}, {BLEND_DIVIDE, 100, 200, 127},
        {BLEND_OVERLAY, 77, 128, 77}, {BLEND_OVERLAY, 0, 129, 1}, {BLEND_OVERLAY, 0, 255, 253},
        {BLEND_OVERLAY, 255, 255, 255},
        {BLEND_HARD_LIGHT, 128, 77, 77}, {BLEND_HARD_LIGHT, 128, 0, 0},
        {BLEND_VIVID_LIGHT, 0, 255, 0}, {BLEND_VIVID_LIGHT, 255, 0, 255}, {BLEND_VIVID_LIGHT, 127, 0, 0},
        {BLEND_VIVID_LIGHT, 128, 100, 100},
        {BLEND_SOFT_LIGHT, 128, 0, 0}, {BLEND_SOFT_LIGHT, 128, 77, 77}, {BLEND_SOFT_LIGHT, 128, 255, 255},
        {BLEND_SOFT_LIGHT, 0, 0, 0}, {BLEND_SOFT_LIGHT, 0, 255, 191}, {BLEND_SOFT_LIGHT, 255, 0, 15},
        {BLEND_SOFT_LIGHT, 255, 16, 41},
        {BLEND_COLOR_DODGE, 255, 1, 255}, {BLEND_COLOR_DODGE, 0, 200, 200},
        {BLEND_COLOR_BURN, 255, 255, 255}, {BLEND_COLOR_BURN, 255, 0, 0},
        {BLEND_LINEAR_LIGHT, 0, 0, 0}, {BLEND_LINEAR_LIGHT, 128, 0, 0}, {BLEND_LINEAR_LIGHT, 255, 255, 255},
        {BLEND_PIN_LIGHT, 127, 255, 254}, {BLEND_PIN_LIGHT, 128, 0, 1},
    };
    for (const CASE& c : aCases) {
        uint8_t abDst[4] = {uint8_t(c.d), uint8_t(c.d), uint8_t(c.d), uint8_t(c.d)};
        const uint8_t abSrc[4] = {uint8_t(c.s), uint8_t(c.s), uint8_t(c.s), uint8_t(c.s)};
        g_apfnBlendSpan[c.nMode * 2 + 1](abDst, abSrc, 256, 4);
        EXPECT_EQ(abDst[0], c.r) << "mode " << c.nMode << " s " << c.s << " d " << c.d;
        EXPECT_EQ(ReferenceResult(c.nMode, c.s, c.d), c.r) << "mode " << c.nMode << " s " << c.s << " d " << c.d;
    }
}

enum VARIANT { V_FULL, V_OPACITY, V_ALPHA, V_ALPHA_OPACITY, V_MASK, V_MASK_ALPHA };

// Expected destination pixel after one variant, from the variant weights and ReferenceResult.
void ExpectPixel(int nMode, VARIANT v, int nOp, int nCurve, const uint8_t* pS, const uint8_t* pD, uint8_t* pOut)
{
    const int sA = pS[3];
    for (int c = 0; c < 4; ++c) {
        const int d = pD[c];
        const int r = ReferenceResult(nMode, pS[c], d);
        int out = d;
        switch (v) {
        case V_FULL: out = r; break;
        case V_OPACITY:
            out = nMode == BLEND_DIFFERENCE ? d + (r - d) * nOp / 256 : d + static_cast<int>(std::floor((r - d) * nOp / 256.0));
            break;
        case V_ALPHA:
            if (c < 3) out = d + static_cast<int>(std::floor((r - d) * (sA + 1) / 256.0));
            break;
        case V_ALPHA_OPACITY:
            if (c < 3) out = d + static_cast<int>(std::floor((r - d) * ((sA * nOp + nOp) / 256) / 256.0));
            break;
        case V_MASK:
            if (c < 3 && nCurve > 1) out = d + static_cast<int>(std::floor((r - d) * nCurve / 256.0));
            break;
        case V_MASK_ALPHA:
            if (c < 3 && nCurve > 1) {
                const int w = (nMode == BLEND_NORMAL ? sA : sA + 1) * nCurve;
                out = d + static_cast<int>(std::floor((r - d) * static_cast<double>(w) / 65536.0));
            }
            break;
        }
        pOut[c] = static_cast<uint8_t>(out);
    }
}

// A row of pixels with the edge bytes, the alphas 0, 1, 254, 255 and pseudo-random pixels.
struct ROWS {
    std::vector<uint8_t> src, dst, mask;
};

ROWS MakeRows(int nPixels, uint32_t nSeed)
{
    static const uint8_t s_abEdge[] = {0, 1, 2, 127, 128, 129, 254, 255};
    static const uint8_t s_abAlpha[] = {0, 1, 254, 255};
    ROWS rows;
    rows.src.resize(nPixels * 4);
    rows.dst.resize(nPixels * 4);
    rows.mask.resize(nPixels * 4);
    uint32_t x = nSeed;
    auto next = [&x]() { x = x * 1103515245u + 12345u; return static_cast<uint8_t>(x >> 16); };
    for (int i = 0; i < nPixels * 4; ++i) {
        if (i < 8 * 8 * 4) {  // every pairing of the edge bytes once in the colour channels
            rows.src[i] = s_abEdge[(i / 8) % 8];
            rows.dst[i] = s_abEdge[i % 8];
        } else {
            rows.src[i] = next();
            rows.dst[i] = next();
        }
        rows.mask[i] = next();
    }
    for (int p = 0; p < nPixels; ++p)
        if (p % 2 == 0)
            rows.src[p * 4 + 3] = s_abAlpha[(p / 2) % 4];
    return rows;
}

// Curve entries 0, 1, 2, 128, 255, 256 and values between, keyed by the mask's blue byte.
void SetMaskCurve(void)
{
    static const int32_t s_aiEdge[] = {0, 1, 2, 128, 255, 256};
    for (int i = 0; i < 256; ++i)
        g_aiMaskCurve[i] = i < 6 ? s_aiEdge[i] : (i * 37) % 257;
}

// The pixel routine that a span hands its whole row to, run on (d, s); false for the spans that
// weigh table results themselves.
bool RunPixelRoutineOfSpan(int nMode, VARIANT v, uint8_t* d, const uint8_t* s, int nOp, size_t n)
{
    const PIXEL_OPS& o = g_PixelOps;
    switch (nMode * 8 + v) {
    case BLEND_NORMAL * 8 + V_FULL: o.PixelOpCopy(d, s, n); return true;
    case BLEND_NORMAL * 8 + V_OPACITY: o.PixelOpLerp(d, s, nOp, n); return true;
    case BLEND_NORMAL * 8 + V_ALPHA: o.PixelOpAlphaOver(d, s, n); return true;
    case BLEND_NORMAL * 8 + V_ALPHA_OPACITY: o.PixelOpAlphaOverOpacity(d, s, nOp, n); return true;
    case BLEND_ADD * 8 + V_FULL: o.PixelOpAdd(d, s, n); return true;
    case BLEND_ADD * 8 + V_OPACITY: o.PixelOpAddOpacity(d, s, nOp, n); return true;
    case BLEND_ADD * 8 + V_ALPHA: o.PixelOpAddAlpha(d, s, nOp, n); return true;
    case BLEND_ADD * 8 + V_ALPHA_OPACITY: o.PixelOpAddAlphaOpacity(d, s, nOp, n); return true;
    case BLEND_SUBTRACT * 8 + V_FULL: o.PixelOpSubtract(d, s, n); return true;
    case BLEND_MULTIPLY * 8 + V_FULL: o.PixelOpMultiply(d, s, n); return true;
    case BLEND_SCREEN * 8 + V_FULL: o.PixelOpScreen(d, s, n); return true;
    case BLEND_SCREEN * 8 + V_OPACITY: o.PixelOpScreenOpacity(d, s, nOp, n); return true;
    case BLEND_LIGHTEN * 8 + V_FULL: o.PixelOpLighten(d, s, n); return true;
    case BLEND_DARKEN * 8 + V_FULL: o.PixelOpDarken(d, s, n); return true;
    case BLEND_LINEAR_BURN * 8 + V_FULL: o.PixelOpLinearBurn(d, s, n); return true;
    case BLEND_LINEAR_LIGHT * 8 + V_FULL: o.PixelOpLinearLight(d, s, n); return true;
    }
    return false;
}

// A 64-byte aligned scratch buffer.
struct ALIGNED_BYTES {
    uint8_t* p;
    explicit ALIGNED_BYTES(size_t n) : p(static_cast<uint8_t*>(std::aligned_alloc(64, (n + 63) / 64 * 64))) {}
    ~ALIGNED_BYTES() { std::free(p); }
    ALIGNED_BYTES(const ALIGNED_BYTES&) = delete;
    ALIGNED_BYTES& operator=(const ALIGNED_BYTES&) = delete;
};

// Every mode and variant, read from the span tables at the opacities 0, 1, 128, 255, 256, with the
// pixel routines of level 1 and of level 3 installed and the row at an 8-byte aligned address and 4
// bytes past one. Table-driven spans must give the variant weights of ReferenceResult; the others
// exactly what their pixel routine gives at that address. The bytes around the row stay untouched.
TEST_F(BlendModes, SpanTablesApplyEachVariantsWeights)
{
    const int kPixels = 700;
    const int kGuard = 16;
    const size_t kRowBytes = kPixels * 4;
    const int aiOpacity[] = {0, 1, 128, 255, 256};
    const PIXEL_OPS saved = g_PixelOps;
    SetMaskCurve();
    ALIGNED_BYTES dstBuf(kRowBytes + 3 * kGuard), wantBuf(kRowBytes + 3 * kGuard);
    for (int nLevel : {1, 3}) {
        FillPixelOps(&g_PixelOps, nLevel, DetectPixelOpsSimd());
        for (int nShift : {0, 4}) {
            for (int m = 0; m < BLEND_MODE_COUNT; ++m) {
                ROWS rows = MakeRows(kPixels, 1234u + m);
                for (int p = 0; p < 6; ++p)  // the first pixels carry the curve's edge entries
                    rows.mask[p * 4] = static_cast<uint8_t>(p);
                for (int nOp : aiOpacity) {
                    for (int v = V_FULL; v <= V_MASK_ALPHA; ++v) {
                        const VARIANT variant = static_cast<VARIANT>(v);
                        // Full/Alpha take op = 256, Opacity/AlphaOpacity op < 256; the mask variants any op.
                        if ((variant == V_FULL || variant == V_ALPHA) && nOp != 256) continue;
                        if ((variant == V_OPACITY || variant == V_ALPHA_OPACITY) && nOp == 256) continue;
                        // Normal through a mask at full opacity: tested below with its pixel routine.
                        if (variant == V_MASK && m == BLEND_NORMAL && nOp == 256) continue;

                        uint8_t* pDst = dstBuf.p + kGuard + nShift;
                        uint8_t* pWant = wantBuf.p + kGuard + nShift;
                        memset(dstBuf.p, 0xA5, kRowBytes + 3 * kGuard);
                        memcpy(pDst, rows.dst.data(), kRowBytes);
                        memcpy(pWant, rows.dst.data(), kRowBytes);
                        const int nSlot = m * 2 + (nOp >> 8);
                        switch (variant) {
                        case V_FULL: case V_OPACITY:
                            g_apfnBlendSpan[nSlot](pDst, rows.src.data(), nOp, kRowBytes); break;
                        case V_ALPHA: case V_ALPHA_OPACITY:
                            g_apfnBlendSpanAlpha[nSlot](pDst, rows.src.data(), nOp, kRowBytes); break;
                        case V_MASK:
                            g_apfnBlendSpanMask[nSlot](pDst, rows.src.data(), rows.mask.data(), 0, 256, kRowBytes);
                            break;
                        case V_MASK_ALPHA:
                            g_apfnBlendSpanMaskAlpha[m * 2](pDst, rows.src.data(), rows.mask.data(), 0, 256, kRowBytes);
                            break;
                        }
                        if (!RunPixelRoutineOfSpan(m, variant, pWant, rows.src.data(), nOp, kRowBytes))
                            for (int p = 0; p < kPixels; ++p)
                                ExpectPixel(m, variant, nOp, g_aiMaskCurve[rows.mask[p * 4]], &rows.src[p * 4],
                                            &rows.dst[p * 4], pWant + p * 4);
                        int nBad = 0;
                        for (size_t i = 0; i < kRowBytes && nBad < 3; ++i)
                            if (pDst[i] != pWant[i])
                                ADD_FAILURE() << "level " << nLevel << " shift " << nShift << " mode " << m
                                              << " variant " << v << " op " << nOp << " byte " << i << ": s "
                                              << int(rows.src[i]) << " d " << int(rows.dst[i]) << " sA "
                                              << int(rows.src[i / 4 * 4 + 3]) << " got " << int(pDst[i])
                                              << " want " << int(pWant[i]) << (++nBad, "");
                        for (int g = 0; g < kGuard + nShift; ++g)
                            ASSERT_EQ(dstBuf.p[g], 0xA5) << "mode " << m << " variant " << v << " wrote before the row";
                        for (int g = 0; g < kGuard; ++g)
                            ASSERT_EQ(pDst[kRowBytes + g], 0xA5) << "mode " << m << " variant " << v
                                                                 << " wrote after the row";
                    }
                }
            }
        }
    }
    g_PixelOps = saved;
}

// Every pair (s, d) once per row, through every span that weighs its mode's result itself: the
// vector forms of the modes' formulas must give each table entry and each variant weight exactly.
// The row starts 4 bytes past an aligned address and ends 12 bytes short of a whole vector, so
// the plain variants take over part of it.
TEST_F(BlendModes, SpansMatchTheTablesForAllPairs)
{
    const int kBytes = 65536 - 4;
    const int kPixels = kBytes / 4;
    std::vector<uint8_t> src(kBytes), dst(kBytes), want(kBytes);
    ALIGNED_BYTES buf(kBytes + 8);
    uint8_t* pOut = buf.p + 4;
    for (int i = 0; i < kBytes; ++i) {
        src[i] = static_cast<uint8_t>(i >> 8);
        dst[i] = static_cast<uint8_t>(i);
    }
    struct CALL { VARIANT v; int nOp; };
    const CALL aCalls[] = {
        {V_FULL, 256}, {V_OPACITY, 0}, {V_OPACITY, 1}, {V_OPACITY, 77}, {V_OPACITY, 128}, {V_OPACITY, 255},
        {V_OPACITY, 256}, {V_ALPHA, 256}, {V_ALPHA_OPACITY, 0}, {V_ALPHA_OPACITY, 1}, {V_ALPHA_OPACITY, 200},
        {V_ALPHA_OPACITY, 255}, {V_ALPHA_OPACITY, 256},
    };
    for (int m = 0; m < BLEND_MODE_COUNT; ++m) {
        for (const CALL& c : aCalls) {
            // The Opacity and AlphaOpacity spans are called directly, also at 256.
            if (RunPixelRoutineOfSpan(m, c.v, want.data(), src.data(), c.nOp, 0)) continue;
            memcpy(pOut, dst.data(), kBytes);
            const int nSlot = m * 2 + (c.v == V_FULL || c.v == V_ALPHA ? 1 : 0);
            if (c.v == V_FULL || c.v == V_OPACITY)
                g_apfnBlendSpan[nSlot](pOut, src.data(), c.nOp, kBytes);
            else
                g_apfnBlendSpanAlpha[nSlot](pOut, src.data(), c.nOp, kBytes);
            for (int p = 0; p < kPixels; ++p)
                ExpectPixel(m, c.v, c.nOp, 0, &src[p * 4], &dst[p * 4], &want[p * 4]);
            int nBad = 0;
            for (int i = 0; i < kBytes && nBad < 3; ++i)
                if (pOut[i] != want[i])
                    ADD_FAILURE() << "mode " << m << " variant " << c.v << " op " << c.nOp << " s " << int(src[i])
                                  << " d " << int(dst[i]) << " got " << int(pOut[i]) << " want " << int(want[i])
                                  << (++nBad, "");
        }
    }
}

// The spans that hand their row to a pixel routine carry that routine's own forms: Multiply's whole
// 4-byte groups use (d x (s + 1)) >> 8 (200 x 200 gives 157 where the table holds 156); Normal with
// opacity 128 averages 8-byte blocks as the installed level does; Normal through a mask at full
// opacity takes threshold and vagueness at level 3.
TEST_F(BlendModes, HandedRowsKeepThePixelRoutinesForms)
{
    const PIXEL_OPS saved = g_PixelOps;
    ALIGNED_BYTES buf(64);
    const uint8_t abSrc[8] = {200, 200, 200, 200, 255, 255, 255, 255};

    memset(buf.p, 200, 8);
    BlendSpanMultiplyFull(buf.p, abSrc, 256, 4);
    EXPECT_EQ(buf.p[0], 157);
    EXPECT_EQ(g_abBlendMultiply[200 * 256 + 200], 156);

    const uint8_t abWhite[8] = {255, 255, 255, 255, 255, 255, 255, 255};
    FillPixelOps(&g_PixelOps, 1, PIXEL_SIMD_NONE);
    memset(buf.p, 255, 8);
    SelectBlendSpan(BLEND_NORMAL, 128)(buf.p, abWhite, 128, 8);
    EXPECT_EQ(buf.p[0], 254);
    FillPixelOps(&g_PixelOps, 3, PIXEL_SIMD_NONE);
    memset(buf.p, 255, 8);
    SelectBlendSpan(BLEND_NORMAL, 128)(buf.p, abWhite, 128, 8);
    EXPECT_EQ(buf.p[0], 255);

    // Vagueness 64 at level 3 weighs each byte by its own mask byte, not by the curve.
    const uint8_t abMask[8] = {255, 255, 255, 255, 0, 0, 0, 0};
    const uint8_t abLayer[8] = {250, 250, 250, 250, 250, 250, 250, 250};
    for (int i = 0; i < 256; ++i)
        g_aiMaskCurve[i] = 0;
    memset(buf.p, 10, 8);
    uint8_t abWant[8];
    memset(abWant, 10, 8);
    PixelOpMaskSSE(abWant, abLayer, abMask, 128, 64, 8);
    SelectBlendSpanMask(BLEND_NORMAL, 256)(buf.p, abLayer, abMask, 128, 64, 8);
    EXPECT_EQ(memcmp(buf.p, abWant, 8), 0);
    EXPECT_NE(buf.p[0], 10);  // the curve (all 0) would have left it
    g_PixelOps = saved;
}

// Cases singled out by hand: the mask-alpha weight of Normal, Difference's rounding toward zero, and
// curve entries of 0 and 1 that leave the pixel alone.
TEST_F(BlendModes, WeightsSingledOut)
{
    // An opaque layer pixel under a full curve entry: Normal moves 255/256 of the way, Lighten all the way.
    g_aiMaskCurve[9] = 256;
    const uint8_t abMask[4] = {9, 0, 0, 0};
    const uint8_t abOpaque[4] = {255, 255, 255, 255};
    uint8_t abDst[4] = {0, 0, 0, 77};
    BlendSpanNormalMaskAlpha(abDst, abOpaque, abMask, 0, 256, 4);
    EXPECT_EQ(abDst[0], 254);
    EXPECT_EQ(abDst[3], 77);
    uint8_t abDst2[4] = {0, 0, 0, 77};
    BlendSpanLightenMaskAlpha(abDst2, abOpaque, abMask, 0, 256, 4);
    EXPECT_EQ(abDst2[0], 255);

    // Difference at opacity 128 with R - d = -3 steps by -1; Darken with the same step by -2.
    const uint8_t abSrc[4] = {17, 17, 17, 17};
    uint8_t abDiff[4] = {10, 10, 10, 10};
    BlendSpanDifferenceOpacity(abDiff, abSrc, 128, 4);
    EXPECT_EQ(abDiff[0], 9);
    const uint8_t abSrc7[4] = {7, 7, 7, 7};
    uint8_t abDark[4] = {10, 10, 10, 10};
    BlendSpanDarkenOpacity(abDark, abSrc7, 128, 4);
    EXPECT_EQ(abDark[0], 8);

    // Curve entries 0 and 1 leave every colour byte alone in each mode's mask spans.
    g_aiMaskCurve[3] = 0;
    g_aiMaskCurve[4] = 1;
    const uint8_t abMaskLow[8] = {3, 0, 0, 0, 4, 0, 0, 0};
    const uint8_t abLayer[8] = {200, 10, 90, 255, 200, 10, 90, 255};
    for (int m = 0; m < BLEND_MODE_COUNT; ++m) {
        uint8_t abRow[8] = {40, 250, 128, 0, 40, 250, 128, 0};
        const uint8_t abBefore[8] = {40, 250, 128, 0, 40, 250, 128, 0};
        g_apfnBlendSpanMask[m * 2](abRow, abLayer, abMaskLow, 0, 256, 8);
        g_apfnBlendSpanMaskAlpha[m * 2](abRow, abLayer, abMaskLow, 0, 256, 8);
        EXPECT_EQ(memcmp(abRow, abBefore, 8), 0) << "mode " << m;
    }

    // A curve entry far out of range does not overflow the weighing (checked by the sanitizers); the
    // destination alpha is still kept.
    g_aiMaskCurve[5] = INT32_MAX;
    const uint8_t abMaskHuge[4] = {5, 0, 0, 0};
    for (int m = 0; m < BLEND_MODE_COUNT; ++m) {
        uint8_t abRow[4] = {40, 250, 128, 66};
        g_apfnBlendSpanMask[m * 2](abRow, abLayer, abMaskHuge, 0, 256, 4);
        g_apfnBlendSpanMaskAlpha[m * 2](abRow, abLayer, abMaskHuge, 0, 256, 4);
        EXPECT_EQ(abRow[3], 66) << "mode " << m;
    }
}

// The division table of the compose routines.
TEST_F(BlendModes, AlphaDivisionTable)
{
    for (int x = 0; x < 256; ++x)
        EXPECT_EQ(g_awAlphaDiv[0][x], 0);
    EXPECT_EQ(g_awAlphaDiv[255][255], 256);
    EXPECT_EQ(g_awAlphaDiv[1][255], 65280);
    EXPECT_EQ(g_awAlphaDiv[3][1], 85);
    EXPECT_EQ(g_awAlphaDiv[200][100], 128);
    EXPECT_EQ(g_awAlphaDiv[7][3], 109);
}

// Stored modes above 18 (and any byte outside the table) draw as Normal; the mask-alpha table's odd
// slots stay empty and are never selected.
TEST_F(BlendModes, SelectionMapsUnknownModesToNormal)
{
    for (int nMode : {19, 20, 100, 255, -1}) {
        EXPECT_EQ(SelectBlendSpan(nMode, 256), BlendSpanNormalFull);
        EXPECT_EQ(SelectBlendSpan(nMode, 100), BlendSpanNormalOpacity);
        EXPECT_EQ(SelectBlendSpanAlpha(nMode, 256), BlendSpanNormalAlpha);
        EXPECT_EQ(SelectBlendSpanAlpha(nMode, 0), BlendSpanNormalAlphaOpacity);
        EXPECT_EQ(SelectBlendSpanMask(nMode, 256), BlendSpanNormalMaskFull);
        EXPECT_EQ(SelectBlendSpanMask(nMode, 255), BlendSpanNormalMask);
        EXPECT_EQ(SelectBlendSpanMaskAlpha(nMode), BlendSpanNormalMaskAlpha);
    }
    EXPECT_EQ(SelectBlendSpan(BLEND_PIN_LIGHT, 256), BlendSpanPinLightFull);
    EXPECT_EQ(SelectBlendSpan(BLEND_SCREEN, 300), BlendSpanScreenFull);
    EXPECT_EQ(SelectBlendSpanMask(BLEND_OVERLAY, 256), BlendSpanOverlayMask);
    EXPECT_EQ(SelectBlendSpanMaskAlpha(BLEND_COLOR_BURN), BlendSpanColorBurnMaskAlpha);
    for (int m = 0; m < BLEND_MODE_COUNT; ++m)
        EXPECT_EQ(g_apfnBlendSpanMaskAlpha[m * 2 + 1], nullptr);

    // A stored mode of 19 blends like Normal: the layer byte replaces the destination.
    uint8_t abDst[4] = {1, 2, 3, 4};
    const uint8_t abSrc[4] = {9, 8, 7, 6};
    SelectBlendSpan(19, 256)(abDst, abSrc, 256, 4);
    EXPECT_EQ(memcmp(abDst, abSrc, 4), 0);
}

TEST_F(BlendModes, InstallSetsTheStartUpStep)
{
    const ENGINE_HOOKS saved = g_EngineHooks;
    g_EngineHooks.pfnInitBlendTables = nullptr;
    InstallEngineParts();
    EXPECT_EQ(g_EngineHooks.pfnInitBlendTables, InitBlendTables);
    g_EngineHooks = saved;
}

}  // namespace
