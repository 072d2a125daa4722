// The image-effect command and the effect dispatcher.
#include "imageproc/cmd_image_effect.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/cp932.h"
#include "core/errors.h"
#include "core/kx_limits.h"
#include "core/object_tree.h"
#include "image/cmd_layer.h"
#include "image/dirty_rects.h"
#include "image/layer.h"
#include "image/text_font.h"
#include "imageproc/compositor.h"
#include "imageproc/image_effects.h"
#include "imageproc/pixel_ops.h"
#include "imageproc/scaling.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/evaluator.h"
#include "script/dispatch.h"

namespace {

// ---------------------------------------------------------------------------------------------
// The dispatcher

// The filters that change pixels of the rectangle in place (the layer keeps its size).
bool IsInPlaceCode(int32_t nCode) { return nCode == EFFECT_THRESHOLD || (nCode >= EFFECT_FILL && nCode <= EFFECT_ALPHA_RAMP); }

bool IsKnownCode(int32_t nCode)
{
    return (nCode >= EFFECT_BRIGHTNESS && nCode <= EFFECT_COLOR_BALANCE) ||
           (nCode >= EFFECT_THRESHOLD && nCode <= EFFECT_NEGATIVE) || nCode == EFFECT_SATURATION ||
           (nCode >= EFFECT_FLIP && nCode <= EFFECT_SWIRL);
}

// Runs the filter of nCode from pSrc (nSrcW x nSrcH) over the rectangle into pDst (rectangle-sized,
// or for the in-place codes NULL or a whole-image copy). *pbHasAlpha is the result's flag for the
// filters that maintain it. 0, or -1 after a reported failure.
int RunFilter(int32_t nCode, uint8_t* pDst, uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
              int32_t nSrcW, int32_t nSrcH, int32_t P, int32_t Q, int32_t nFillType, uint8_t bSrcAlpha,
              uint8_t* pbHasAlpha)
{
    const int32_t w = x2 - x1 + 1, h = y2 - y1 + 1;
    switch (nCode) {
    case EFFECT_BRIGHTNESS: return FilterBrightness(pDst, pSrc, x1, y1, x2, y2, nSrcW, nSrcH, w, h, P);
    case EFFECT_BLUR: return FilterBlur(pDst, pSrc, x1, y1, x2, y2, nSrcW, nSrcH, w, h, P, bSrcAlpha);
    case EFFECT_BLUR_H: return FilterBlurH(pDst, pSrc, x1, y1, x2, y2, nSrcW, nSrcH, w, h, P, bSrcAlpha);
    case EFFECT_BLUR_V: return FilterBlurV(pDst, pSrc, x1, y1, x2, y2, nSrcW, nSrcH, w, h, P, bSrcAlpha);
    case EFFECT_BLUR_BOX: return FilterBlurBox(pDst, pSrc, x1, y1, x2, y2, nSrcW, nSrcH, w, h, P, bSrcAlpha);
    case EFFECT_SOFT_SHADOW: return FilterSoftShadow(pDst, pSrc, x1, y1, x2, y2, nSrcW, nSrcH, w, h, P, bSrcAlpha);
    case EFFECT_SHADOW: return FilterShadow(pDst, pSrc, x1, y1, x2, y2, nSrcW, nSrcH, w, h, P, bSrcAlpha);
    case EFFECT_COPY_ATTR:
    case EFFECT_COPY: CopyImageRect(pDst, pSrc, x1, y1, x2, y2, nSrcW, w); return 0;
    case EFFECT_SCATTER: return FilterScatter(pDst, pSrc, x1, y1, x2, y2, nSrcW, nSrcH, w, h, P);
    case EFFECT_MIRROR: return FilterMirror(pDst, pSrc, x1, y1, x2, y2, nSrcW, nSrcH, w, h, P);
    case EFFECT_COLOR_BALANCE:
        FilterColorBalance(pDst, pSrc, x1, y1, x2, y2, nSrcW, nSrcH, w, h, static_cast<uint32_t>(P));
        return 0;
    case EFFECT_THRESHOLD: return FilterThreshold(pDst, pSrc, x1, y1, x2, y2, nSrcW, nSrcH, w, h, P);
    case EFFECT_MOSAIC: return FilterMosaic(pDst, pSrc, x1, y1, x2, y2, nSrcW, nSrcH, w, h, P);
    case EFFECT_WAVE_H: return FilterWave(pDst, pSrc, x1, y1, x2, y2, nSrcW, nSrcH, w, h, P, Q, WAVE_HORIZONTAL);
    case EFFECT_WAVE_V: return FilterWave(pDst, pSrc, x1, y1, x2, y2, nSrcW, nSrcH, w, h, P, Q, WAVE_VERTICAL);
    case EFFECT_WAVE: return FilterWave(pDst, pSrc, x1, y1, x2, y2, nSrcW, nSrcH, w, h, P, Q, WAVE_BOTH);
    case EFFECT_FILL:
    case EFFECT_FILL_2:
    case EFFECT_FILL_3: return FilterFill(pDst, pSrc, pbHasAlpha, x1, y1, x2, y2, nSrcW, nSrcH, P, nFillType);
    case EFFECT_ALPHA_RAMP: return FilterAlphaRamp(pDst, pSrc, pbHasAlpha, x1, y1, x2, y2, nSrcW, nSrcH, P, Q);
    case EFFECT_NEGATIVE: return FilterNegative(pDst, pSrc, x1, y1, x2, y2, nSrcW, nSrcH, w, h, P);
    case EFFECT_SATURATION: FilterSaturation(pDst, pSrc, x1, y1, x2, y2, nSrcW, nSrcH, w, h, P); return 0;
    case EFFECT_FLIP: return FilterFlip(pDst, pSrc, x1, y1, x2, y2, nSrcW, nSrcH, w, h, P);
    case EFFECT_SEPIA: return FilterSepia(pDst, pSrc, x1, y1, x2, y2, nSrcW, nSrcH, w, h, P);
    case EFFECT_SWIRL: return FilterSwirl(pDst, pSrc, x1, y1, x2, y2, nSrcW, nSrcH, w, h, P);
    default: return 0;
    }
}

// A copied layer's E-mote player goes with the copy: the second layer's own player is released,
// the player and the kind move over and the players' table is pointed at the second layer.
void MoveEmotePlayer(LAYER* pFrom, LAYER* pTo)
{
    if (pFrom == pTo || pFrom->bKind != LAYERKIND_EMOTE || !pFrom->hEmotePlayer) return;
    if (pTo->bKind == LAYERKIND_EMOTE && pTo->hEmotePlayer)
        g_LayerHooks.pfnReleaseEmotePlayer(pTo);
    pTo->bKind = LAYERKIND_EMOTE;
    pTo->hEmotePlayer = pFrom->hEmotePlayer;
    g_LayerHooks.pfnRetargetEmoteLayer(pFrom, pTo);
    pFrom->bKind = LAYERKIND_TEXTURE;
    pFrom->hEmotePlayer = 0;
}

// Copies a path buffer's text into another, allocating the destination buffer when it has none.
void CopyPathBuffer(char** ppszTo, const char* pszFrom)
{
    if (!pszFrom) pszFrom = "";
    if (!*ppszTo) {
        if (!pszFrom[0]) return;
        *ppszTo = static_cast<char*>(std::calloc(KX_LAYER_PATH_BUFFER, 1));
        if (!*ppszTo) return;
    }
    const size_t n = strnlen(pszFrom, KX_LAYER_PATH_BUFFER - 1);
    std::memmove(*ppszTo, pszFrom, n);
    (*ppszTo)[n] = 0;
}

}  // namespace

int ApplyImageEffect(int32_t nCode, TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t x1, int32_t y1, int32_t x2,
                     int32_t y2, int32_t P, int32_t Q, int32_t nLayers, int32_t nFillType)
{
    LAYER* pA = GetNodeLayer(pFirst);
    if (!pA || !pA->pOwnedPixels || pA->nWidth <= 0 || pA->nHeight <= 0) return 0;
    // An inverted rectangle changes nothing; the rest is limited to the image.
    if (x1 > x2 || y1 > y2) return 0;
    const int32_t W = pA->nWidth, H = pA->nHeight;
    x1 = std::max(x1, 0);
    y1 = std::max(y1, 0);
    x2 = std::min(x2, W - 1);
    y2 = std::min(y2, H - 1);
    if (x1 > x2 || y1 > y2 || !IsKnownCode(nCode)) return 0;
    const bool bCopy = nCode == EFFECT_COPY_ATTR || nCode == EFFECT_COPY;
    LAYER* pB = nullptr;
    if (nLayers >= 1) {
        pB = GetNodeLayer(pSecond);
        if (!pB) return 0;
    } else if (bCopy) {
        return 0;
    }
    const int32_t w = x2 - x1 + 1, h = y2 - y1 + 1;
    const bool bInPlace = IsInPlaceCode(nCode);
    const bool bKeepsFlag = nCode >= EFFECT_FILL && nCode <= EFFECT_ALPHA_RAMP;
    uint8_t bFlag = pA->bHasAlpha;

    if (nLayers < 1 && bInPlace) {
        if (RunFilter(nCode, nullptr, pA->pOwnedPixels, x1, y1, x2, y2, W, H, P, Q, nFillType, pA->bHasAlpha,
                      &bFlag) != 0)
            return -1;
        if (bKeepsFlag) pA->bHasAlpha = bFlag;
        MarkPixelsChanged(pA);
        MarkLayerDirty(pFirst);
        return 0;
    }

    const int32_t nOutW = bInPlace ? W : w, nOutH = bInPlace ? H : h;
    uint8_t* pBuf = AllocPixelBuffer(nullptr, nOutW, nOutH, "");
    if (!pBuf) return -1;
    if (RunFilter(nCode, pBuf, pA->pOwnedPixels, x1, y1, x2, y2, W, H, P, Q, nFillType, pA->bHasAlpha, &bFlag) != 0) {
        std::free(pBuf);
        return -1;
    }
    if (nLayers < 1) {
        MarkLayerDirty(pFirst);
        SetLayerPixels(pA, pBuf, nOutW, nOutH);
        MarkLayerDirty(pFirst);
        return 0;
    }
    const uint8_t bFirstAlpha = pA->bHasAlpha;
    SetLayerPixels(pB, pBuf, nOutW, nOutH);
    MarkLayerDirty(pSecond);
    if (nCode == EFFECT_COPY_ATTR) CopyLayerAttributes(pFirst, pSecond);
    pB->bHasAlpha = bKeepsFlag ? bFlag : bFirstAlpha;
    if (bCopy) MoveEmotePlayer(pA, pB);
    return 0;
}

int CopyLayerAttributes(const TREE_NODE* pFrom, TREE_NODE* pTo)
{
    const LAYER* s = GetNodeLayer(pFrom);
    LAYER* d = GetNodeLayer(pTo);
    if (!s || !d || s == d) return 0;
    d->bVisible = s->bVisible;
    d->nOpacity = s->nOpacity;
    d->llUser1 = s->llUser1;
    d->llUser2 = s->llUser2;
    d->llX = s->llX;
    d->llY = s->llY;
    d->nMaskThreshold = s->nMaskThreshold;
    d->nMaskVagueness = s->nMaskVagueness;
    d->bBlendMode = s->bBlendMode;
    d->bHasAlpha = s->bHasAlpha;
    CopyPathBuffer(&d->pszMaskPath, s->pszMaskPath);
    d->llX100 = s->llX100;
    d->llY100 = s->llY100;
    d->llScaleX = s->llScaleX;
    d->llScaleY = s->llScaleY;
    d->llGpuAnchorX = s->llGpuAnchorX;
    d->llGpuAnchorY = s->llGpuAnchorY;
    for (int i = 0; i < 3; ++i) {
        d->allGpuValue[i] = s->allGpuValue[i];
        d->afGpuAngle[i] = s->afGpuAngle[i];
    }
    d->nGpuSaturation = s->nGpuSaturation;
    d->nGpuColorBalance = s->nGpuColorBalance;
    d->bGpuFlag = s->bGpuFlag;
    CopyPathBuffer(&d->pszSecondPath, s->pszSecondPath);
    d->nFadeLevel = s->nFadeLevel;
    // The copy does not share the animation: a frame table the destination owned is freed, not
    // just forgotten.
    if (d->ppGifFrames) {
        for (int i = 0; i < KX_GIF_MAX_FRAMES; ++i) std::free(d->ppGifFrames[i]);
        std::free(d->ppGifFrames);
        d->ppGifFrames = nullptr;
    }
    return 0;
}

void CopyImageRect(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                   int32_t nSrcRow, int32_t nDstRow)
{
    if (!pDst || !pSrc || x1 > x2 || y1 > y2) return;
    const int32_t nBytes = (x2 - x1 + 1) * 4;
    for (int32_t y = y1; y <= y2; ++y)
        g_PixelOps.PixelOpCopy(pDst + size_t(y - y1) * nDstRow * 4, pSrc + (size_t(y) * nSrcRow + x1) * 4, size_t(nBytes));
}

// ---------------------------------------------------------------------------------------------
// The command

namespace {

int32_t Low32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v))); }
// Low32(a + b) without overflow in 64 bits.
int32_t Low32Sum(int64_t a, int64_t b) { return Low32(static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b))); }
// v x 100, held at the ends of the 64-bit range (raw positions may be anything).
int64_t Times100(int64_t v)
{
    int64_t r;
    if (__builtin_mul_overflow(v, int64_t(100), &r)) return v < 0 ? INT64_MIN : INT64_MAX;
    return r;
}

const char* CmdName() { return GetScriptCommandName(CMDID_IMAGE_EFFECT); }
const char* ArgName(int nId) { return LayerArgName(CMDID_IMAGE_EFFECT, nId); }

// Layer i's path (0..3: the name argument i with "." and the number of argument 4 + i when given),
// made absolute into pszOut. 1 for a group path, 0 for a plain one, 2 when the layer is not named
// at all (no name and no number), -1 after a reported error.
int ResolveEffectLayerPath(int i, char* pszOut)
{
    std::string s = ArgText(FX_ARG_LAYER1 + i);
    if (HasArg(FX_ARG_NUMBER1 + i)) s += "." + std::to_string(ArgInt(FX_ARG_NUMBER1 + i));
    if (i > 0 && s.empty()) return 2;
    const int r = NormalizeObjectPath(pszOut, s.c_str(), g_pszLayerPath, 0);
    if (r < 0) return -1;
    return HasArg(FX_ARG_NUMBER1 + i) ? 0 : r;
}

// An extra layer (1..3) found or created, and marked dirty; *ppNode stays NULL for a layer that is
// not named. 0, or -1 after a reported error.
int ResolveExtraLayer(int i, TREE_NODE** ppNode)
{
    *ppNode = nullptr;
    char szPath[KX_MAX_OBJECT_PATH];
    const int r = ResolveEffectLayerPath(i, szPath);
    if (r < 0) return -1;
    if (r == 2) return 0;
    if (r == 1) {
        ReportScriptErrorF(KX_ERR_FX_GROUP_TARGET, 1, CmdName(), szPath);
        return -1;
    }
    TREE_NODE* pNode = FindLayerNode(szPath, 0);
    if (!pNode) pNode = CreateNode(g_pLayerRoot, szPath, 0, 1);
    if (!pNode) return -1;
    if (!GetNodeLayer(pNode) && !CreateNodeLayer(pNode)) return -1;
    MarkLayerDirty(pNode);
    *ppNode = pNode;
    return 0;
}

// An unevaluated argument evaluated as a 64-bit integer by the evaluator of its type; 0 when absent.
int EvalArg(int nId, int64_t* pllOut)
{
    *pllOut = 0;
    if (!HasArg(nId)) return 0;
    const uint8_t* pCode;
    uint32_t nLen;
    if (GetArgExpr(nId, &pCode, &nLen) != 0) return -1;
    const int32_t t = g_anArgEvalType[ArgSlot(nId)];
    if (t < 0 || t > 255 || !g_apfnEvalInt[t]) return 0;
    *pllOut = g_apfnEvalInt[t](pCode, nLen);
    return 0;
}

bool HasRectArg() { return HasArg(12) || HasArg(13) || HasArg(14) || HasArg(15); }

// A value whose low 32 bits, unsigned, lie above nMax is refused with 101000 naming argument nArgId.
bool RefuseAbove(int64_t llValue, uint32_t nMax)
{
    if (static_cast<uint32_t>(static_cast<uint64_t>(llValue)) <= nMax) return false;
    ReportScriptErrorF(KX_ERR_ARG_RANGE, 1, CmdName(), ArgName(FX_ARG_P), llValue, 0, static_cast<int>(nMax));
    return true;
}

bool RefuseRect(int nSelector, int nErr)
{
    if (!HasRectArg()) return false;
    ReportScriptErrorF(nErr, 1, CmdName(), ArgName(nSelector));
    return true;
}

bool RefuseNoTarget(int nSelector, int nLayers, int nErr)
{
    if (nLayers >= 1) return false;
    ReportScriptErrorF(nErr, 1, CmdName(), ArgName(nSelector));
    return true;
}

// The effect selectors: selector, effect code, upper bound of P (-1: no check), error for a
// rectangle (0: allowed), fill sub-type.
struct EFFECT_SELECTOR {
    int nSelector;
    int32_t nCode;
    int64_t llMaxP;
    int nRectError;
    int32_t nFillType;
};
const EFFECT_SELECTOR kEffectSelectors[] = {
    {FX_SEL_SATURATION, EFFECT_SATURATION, 256, 0, 0},
    {FX_SEL_COLOR_BALANCE, EFFECT_COLOR_BALANCE, 0xFFFFFF, 0, 0},
    {FX_SEL_SEPIA, EFFECT_SEPIA, 0xFFFFFF, 0, 0},
    {FX_SEL_BRIGHTNESS, EFFECT_BRIGHTNESS, 256, 0, 0},
    {FX_SEL_THRESHOLD, EFFECT_THRESHOLD, 256, 0, 0},
    {FX_SEL_FLIP, EFFECT_FLIP, 1, 0, 0},
    {FX_SEL_MIRROR, EFFECT_MIRROR, 1, 0, 0},
    {FX_SEL_MOSAIC, EFFECT_MOSAIC, 256, KX_ERR_FX_MOSAIC_RECT, 0},
    {47, EFFECT_BLUR, 256, 0, 0},
    {48, EFFECT_BLUR_H, 256, 0, 0},
    {49, EFFECT_BLUR_V, 256, 0, 0},
    {50, EFFECT_BLUR_BOX, 256, 0, 0},
    {51, EFFECT_SOFT_SHADOW, 256, 0, 0},
    {52, EFFECT_SHADOW, 256, 0, 0},
    {FX_SEL_SCATTER, EFFECT_SCATTER, 256, KX_ERR_FX_SCATTER_RECT, 0},
    {FX_SEL_WAVE_H, EFFECT_WAVE_H, -1, 0, 0},
    {FX_SEL_WAVE_V, EFFECT_WAVE_V, -1, 0, 0},
    {FX_SEL_WAVE, EFFECT_WAVE, -1, 0, 0},
    {FX_SEL_SWIRL, EFFECT_SWIRL, -1, 0, 0},
    {FX_SEL_NEGATIVE, EFFECT_NEGATIVE, 1, 0, 0},
    {FX_SEL_FILL_COLOR, EFFECT_FILL, -1, 0, FILL_OPAQUE_COLOR},
    {FX_SEL_FILL_ALPHA, EFFECT_FILL, -1, 0, FILL_ALPHA_ONLY},
    {FX_SEL_FILL_PIXEL, EFFECT_FILL, -1, 0, FILL_WHOLE_PIXEL},
    {FX_SEL_ALPHA_RAMP, EFFECT_ALPHA_RAMP, -1, 0, 0},
};

// Everything the selectors' operations take.
struct EFFECT_CALL {
    TREE_NODE* apNode[4];
    int32_t nLayers;
    int64_t llX1, llY1, llX2, llY2;          // pixels (clamped unless a raw selector is present)
    int64_t llX1c, llY1c, llX2c, llY2c;      // 1/100 pixel
    int64_t llTW, llTH;                      // 1/100 pixel
    int64_t llP, llQ;
};

int Result(int rc) { return rc != 0 ? -1 : 0; }

// Selectors 24-28: the scalers take the 1/100 rectangle and target size.
int RunScale(const EFFECT_CALL& c, int nSelector)
{
    const int64_t llW = c.llTW / 100, llH = c.llTH / 100;
    if (llW < 1 || llW > KX_MAX_IMAGE_WIDTH) {
        ReportScriptErrorF(KX_ERR_ARG_RANGE, 1, CmdName(), ArgName(FX_ARG_WIDTH), llW, 1, KX_MAX_IMAGE_WIDTH);
        return -1;
    }
    if (llH < 1 || llH > KX_MAX_IMAGE_WIDTH) {
        ReportScriptErrorF(KX_ERR_ARG_RANGE, 1, CmdName(), ArgName(FX_ARG_WIDTH + 1), llH, 1, KX_MAX_IMAGE_WIDTH);
        return -1;
    }
    if (c.nLayers >= 1 && !c.apNode[1]) return 0;
    const int32_t nMethod = nSelector == FX_SEL_SCALE_NEAREST
                                ? SCALE_NEAREST
                                : Low32Sum(int64_t(10) * (nSelector - FX_SEL_SCALE_NEAREST + 1), ArgInt(nSelector));
    return Result(ScaleImage(c.apNode[0], c.apNode[1], Low32(c.llX1c), Low32(c.llY1c), Low32(c.llX2c),
                             Low32(c.llY2c), Low32(c.llTW), Low32(c.llTH), c.nLayers, nMethod));
}

// Selector 64: the text of argument 11 drawn into the first layer from (x1, y1) with the current
// text slot. -1 without a text.
int DrawEffectText(const EFFECT_CALL& c)
{
    if (!HasArg(FX_ARG_TEXT)) return -1;
    LAYER* pLayer = GetNodeLayer(c.apNode[0]);
    if (!pLayer) return 0;
    const char* p = ArgText(FX_ARG_TEXT);
    int32_t x = Low32(c.llX1);
    const int32_t y = Low32(c.llY1);
    while (*p) {
        const int32_t n = (IsLeadByte(static_cast<unsigned char>(p[0])) && p[1]) ? 2 : 1;
        x += g_LayerHooks.pfnDrawTextChar(pLayer, p, n, x, y, Low32(c.llP));
        p += n;
    }
    MarkLayerDirty(c.apNode[0]);
    return 0;
}

// Selectors 34-39, 40 and 41.
int RunLayerOp(const EFFECT_CALL& c, int nSelector)
{
    TREE_NODE* pA = c.apNode[0];
    TREE_NODE* pB = c.apNode[1];
    const int32_t x = Low32(c.llX1), y = Low32(c.llY1);
    if (nSelector >= FX_SEL_PASTE && nSelector <= FX_SEL_CLEAR_DIFFERENT) {
        if (RefuseNoTarget(nSelector, c.nLayers, KX_ERR_FX_PASTE_NO_TARGET)) return -1;
        if (!pB) return 0;
    }
    switch (nSelector) {
    case FX_SEL_PASTE: return Result(PasteImage(pA, pB, x, y));
    case FX_SEL_PASTE_BOTH: return Result(PasteImageBothOpacity(pA, pB, x, y));
    case FX_SEL_MIX:
        if (c.nLayers < 2 || !c.apNode[2]) return 0;  // mixing needs the third layer
        return Result(MixImages(pA, pB, c.apNode[2], x, y, Low32(c.llP)));
    case FX_SEL_NOTHING: return 0;
    case FX_SEL_CLEAR_EQUAL: return Result(ClearEqualPixels(pA, pB, x, y));
    case FX_SEL_CLEAR_DIFFERENT: return Result(ClearDifferentPixels(pA, pB, x, y));
    case FX_SEL_AUTO_CROP:
        if (RefuseAbove(c.llP, 15)) return -1;
        if (c.nLayers >= 1 && !pB) return 0;
        return Result(AutoCropImage(pA, pB, c.nLayers, Low32(c.llP), Low32(c.llQ)));
    default: {
        if (c.nLayers >= 1 && !pB) return 0;
        // The margins; one not given adds nothing.
        const int64_t llLeft = HasArg(12) ? ArgInt(12) : 0, llTop = HasArg(13) ? ArgInt(13) : 0;
        const int64_t llRight = HasArg(14) ? ArgInt(14) : 0, llBottom = HasArg(15) ? ArgInt(15) : 0;
        return Result(ResizeCanvas(pA, pB, c.nLayers, llLeft, llRight, llTop, llBottom));
    }
    }
}

// The selector walk: the first operation present runs and ends the command (text slot and text
// drawing let the walk go on).
int WalkSelectors(const EFFECT_CALL& c)
{
    TREE_NODE* pA = c.apNode[0];
    TREE_NODE* pB = c.apNode[1];
    const int32_t P = Low32(c.llP), Q = Low32(c.llQ);
    for (int s = FX_SEL_SCALE_NEAREST; s <= FX_SEL_SCALE_LANCZOS; ++s)
        if (HasArg(s)) return RunScale(c, s);
    for (int s : {FX_SEL_ROTATE, FX_SEL_ROTATE_SMOOTH}) {
        if (!HasArg(s)) continue;
        if (RefuseRect(s, KX_ERR_FX_ROTATE_RECT)) return -1;
        if (c.nLayers >= 1 && !pB) return 0;
        if (s == FX_SEL_ROTATE) return Result(RotateImage(pA, pB, P, c.nLayers, Low32Sum(10, ArgInt(s))));
        return Result(RotateImageSmooth(pA, pB, P, c.nLayers));
    }
    for (const EFFECT_SELECTOR& e : kEffectSelectors) {
        if (!HasArg(e.nSelector)) continue;
        if (e.nRectError && RefuseRect(e.nSelector, e.nRectError)) return -1;
        if (e.llMaxP >= 0 && RefuseAbove(c.llP, static_cast<uint32_t>(e.llMaxP))) return -1;
        return Result(ApplyImageEffect(e.nCode, pA, pB, Low32(c.llX1), Low32(c.llY1), Low32(c.llX2), Low32(c.llY2), P,
                                       Q, c.nLayers, e.nFillType));
    }
    if (HasArg(FX_SEL_TEXT_SLOT)) {
        // Eight text slots: another number would select a slot that does not exist.
        const int64_t n = ArgInt(FX_SEL_TEXT_SLOT);
        if (n < 0 || n >= KX_TEXT_SLOTS) {
            ReportScriptErrorF(KX_ERR_ARG_RANGE, 1, CmdName(), ArgName(FX_SEL_TEXT_SLOT), n, 0, KX_TEXT_SLOTS - 1);
            return -1;
        }
        g_LayerHooks.pfnSelectTextSlot(n);
    }
    if (HasArg(FX_SEL_DRAW_TEXT) && DrawEffectText(c) != 0) return -1;
    for (int s = FX_SEL_PASTE; s <= FX_SEL_RESIZE_CANVAS; ++s)
        if (HasArg(s)) return RunLayerOp(c, s);
    for (int s : {FX_SEL_COPY_ATTR, FX_SEL_COPY}) {
        if (!HasArg(s)) continue;
        if (RefuseNoTarget(s, c.nLayers, KX_ERR_FX_COPY_NO_TARGET)) return -1;
        return Result(ApplyImageEffect(s == FX_SEL_COPY_ATTR ? EFFECT_COPY_ATTR : EFFECT_COPY, pA, pB, Low32(c.llX1),
                                       Low32(c.llY1), Low32(c.llX2), Low32(c.llY2), P, Q, c.nLayers, 0));
    }
    for (int s : {FX_SEL_SWAP, FX_SEL_SWAP_ALL}) {
        if (!HasArg(s)) continue;
        if (RefuseRect(s, KX_ERR_FX_SWAP_RECT) || RefuseNoTarget(s, c.nLayers, KX_ERR_FX_SWAP_NO_TARGET)) return -1;
        if (!pB || pB == pA) return 0;
        return Result(SwapLayerNodes(pA, pB, s == FX_SEL_SWAP ? 1 : 2));
    }
    if (HasArg(FX_SEL_GPU_PASTE)) {
        const int rc = g_LayerHooks.pfnPasteLayerTexturesGpu(pA, pB);
        g_bFullRedraw = 1;
        return Result(rc);
    }
    if (HasArg(FX_SEL_GPU_CAPTURE)) return Result(g_LayerHooks.pfnCaptureLayerGpu(pA, pB));
    g_LayerHooks.pfnSelectTextSlot(0);
    return 0;
}

// A given coordinate limited to lo..hi.
int64_t ClampGiven(int nId, int64_t llDefault, int64_t lo, int64_t hi, bool bClamp)
{
    if (!HasArg(nId)) return llDefault;
    const int64_t v = ArgInt(nId);
    return bClamp ? std::clamp(v, lo, std::max(lo, hi)) : v;
}

}  // namespace

int CmdImageEffect(void)
{
    if (FetchCommandArgs(CMDID_IMAGE_EFFECT) != 0) return -1;

    EFFECT_CALL c{};
    char szPath[KX_MAX_OBJECT_PATH];
    const int r = ResolveEffectLayerPath(0, szPath);
    if (r < 0) return -1;
    TREE_NODE* pFirst = FindLayerNode(szPath, r == 1);
    LAYER* pLayer = GetNodeLayer(pFirst);
    if (!pLayer) return 0;
    c.apNode[0] = pFirst;

    // A group's image is its children composed now.
    if (r == 1 && pLayer->nWidth > 0 && pLayer->nHeight > 0) {
        pLayer->rcOwn = DIRTY_BOX{0, 0, int64_t(pLayer->nWidth) - 1, int64_t(pLayer->nHeight) - 1};
        pLayer->bOwnValid = 1;
        pLayer->bFullRedraw = 1;
        ComposeGroupLayer(pFirst);
    }

    c.nLayers = HasArg(FX_ARG_LAYER4) ? 3 : HasArg(FX_ARG_LAYER3) ? 2 : HasArg(FX_ARG_LAYER2) ? 1 : 0;
    for (int i = 1; i <= c.nLayers; ++i)
        if (ResolveExtraLayer(i, &c.apNode[i]) != 0) return -1;

    // The rectangle: a sub-rectangle of the image, unless a selector takes the values as positions
    // or margins.
    bool bRaw = false;
    for (int s : {24, 25, 26, 27, 28, 34, 35, 36, 37, 38, 39, 41}) bRaw = bRaw || HasArg(s);
    const bool bClamp = !bRaw;
    const int64_t W = pLayer->nWidth, H = pLayer->nHeight;
    c.llX1 = ClampGiven(12, 0, 0, W - 1, bClamp);
    c.llY1 = ClampGiven(13, 0, 0, H - 1, bClamp);
    c.llX2 = ClampGiven(14, W - 1, 0, W - 1, bClamp);
    c.llY2 = ClampGiven(15, H - 1, 0, H - 1, bClamp);
    const int64_t llW = HasArg(16) ? ArgInt(16) : 0, llH = HasArg(17) ? ArgInt(17) : 0;
    c.llX1c = ClampGiven(18, Times100(c.llX1), 0, 100 * W - 100, bClamp);
    c.llY1c = ClampGiven(19, Times100(c.llY1), 0, 100 * H - 100, bClamp);
    c.llX2c = ClampGiven(20, Times100(c.llX2), 0, 100 * W - 100, bClamp);
    c.llY2c = ClampGiven(21, Times100(c.llY2), 0, 100 * H - 100, bClamp);
    c.llTW = HasArg(22) ? ArgInt(22) : Times100(llW);
    c.llTH = HasArg(23) ? ArgInt(23) : Times100(llH);
    if (EvalArg(FX_ARG_P, &c.llP) != 0 || EvalArg(FX_ARG_Q, &c.llQ) != 0) return -1;

    return WalkSelectors(c);
}
