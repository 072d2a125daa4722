// Layers drawn by the drawing device (see gpu_layers.h).
#include "display/gpu_layers.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/kx_limits.h"
#include "core/kx_texts.h"
#include "core/object_tree.h"
#include "core/settings.h"
#include "core/engine_hooks.h"
#include "display/display_hooks.h"
#include "display/window_proc.h"
#include "image/dirty_rects.h"
#include "image/layer.h"

namespace {

// One upload's parameters.
struct UPLOAD_PARAMS {
    int nWidth, nHeight;
    float fAnchorX, fAnchorY;
    int nLimitWidth, nLimitHeight;
    const LAYER* pSource;
    LAYER* pTarget;
};

std::vector<uint8_t> s_staging;  // the staging pixels of one tile, kept for the run

int TexFormat(void) { return g_nTextureFormat == SG_FMT_A4R4G4B4 ? SG_FMT_A4R4G4B4 : SG_FMT_A8R8G8B8; }

// The smallest of 16, 32, ..., 8192 that holds r (8192 when r is larger), lowered to each bound
// above 0.
int TileSize(int r, int a, int b, int c)
{
    int s = 16;
    while (s < r && s < 8192) s <<= 1;
    for (int bound : {a, b, c})
        if (bound > 0 && s > bound) s = bound;
    return s;
}

bool HasGrid(const LAYER* p)
{
    const int n = p->bTexColumns * p->bTexRows;
    if (n <= 0 || n > KX_TEXGRID_MAX_TILES) return false;
    for (int i = 0; i < n; ++i)
        if (!p->apTextures[i]) return false;
    return true;
}

// Copies the tile's pixels from the source, bounded by the source's own size; zero outside.
void StageTile(const LAYER* pSrc, int x0, int y0, int tw, int th)
{
    const size_t need = size_t(tw) * th * 4;
    if (s_staging.size() < need) s_staging.resize(need);
    std::memset(s_staging.data(), 0, need);
    const uint8_t* pPix = pSrc ? pSrc->pOwnedPixels : nullptr;
    if (!pPix) return;
    const int sw = pSrc->nBufWidth > 0 ? pSrc->nBufWidth : pSrc->nWidth;
    const int sh = pSrc->nBufHeight > 0 ? pSrc->nBufHeight : pSrc->nHeight;
    const int w = std::min(pSrc->nWidth, sw), h = std::min(pSrc->nHeight, sh);
    for (int y = 0; y < th && y0 + y < h; ++y) {
        const int n = std::min(tw, w - x0);
        if (n <= 0) break;
        std::memcpy(s_staging.data() + size_t(y) * tw * 4, pPix + (size_t(y0 + y) * sw + x0) * 4, size_t(n) * 4);
    }
}

// Mode 0 makes the grid's textures (the old ones are released once the new grid is known to fit);
// mode 1 fills the textures the target already has.
int UploadTextureGrid(int nMode, const UPLOAD_PARAMS& u)
{
    LAYER* t = u.pTarget;
    if (!g_pD3DDevice) return -1;
    int32_t cols[KX_TEXGRID_MAX], rows[KX_TEXGRID_MAX];
    int nc = 0, nr = 0;
    if (nMode == 0) {
        if (t->bKind == LAYERKIND_EMOTE && g_bEmoteAvailable) {
            cols[0] = g_nRenderWidth;
            rows[0] = g_nRenderHeight;
            nc = nr = 1;
        } else if (ComputeTextureGrid(u.nWidth, u.nHeight, u.nLimitWidth, u.nLimitHeight, cols, &nc, rows, &nr) != 0) {
            return -1;
        }
        ReleaseLayerTextures(t);
        for (int i = 0; i < nc; ++i) t->anTexColumnWidth[i] = cols[i];
        for (int i = 0; i < nr; ++i) t->anTexRowHeight[i] = rows[i];
        t->bTexColumns = uint8_t(nc);
        t->bTexRows = uint8_t(nr);
    } else {
        // Pasting needs a grid to paste into.
        if (!HasGrid(t)) return -1;
        nc = t->bTexColumns;
        nr = t->bTexRows;
    }
    int y0 = 0;
    for (int r = 0; r < nr; ++r) {
        const int th = t->anTexRowHeight[r];
        int x0 = 0;
        for (int c = 0; c < nc; ++c) {
            const int tw = t->anTexColumnWidth[c];
            const int i = r * nc + c;
            if (nMode == 0) {
                t->apTextures[i] = SgCreateTexture(g_pD3DDevice, tw, th, TexFormat(), 1);
                if (!t->apTextures[i]) {
                    ShowMessageBox("", "%s", GetEngineText(TXT_D3D_NO_TEXTURE));
                    return -1;
                }
            }
            if (!(t->bKind == LAYERKIND_EMOTE && g_bEmoteAvailable)) {
                StageTile(u.pSource, x0, y0, tw, th);
                SG_SURFACE* s = SgCreatePlainSurface(g_pD3DDevice, tw, th, g_nBackBufferFormat);
                if (!s) {
                    DebugTrace("UploadTextureGrid", "no system-memory surface");
                } else {
                    uint8_t* pBits = nullptr;
                    int nPitch = 0;
                    if (SgLockRect(s, &pBits, &nPitch) != SG_OK) {
                        ShowMessageBox(GetEngineText(TXT_D3D_ERROR_CAPTION), "%s", GetEngineText(TXT_D3D_SURFACE_COPY));
                    } else {
                        for (int y = 0; y < th; ++y)
                            std::memcpy(pBits + size_t(y) * nPitch, s_staging.data() + size_t(y) * tw * 4, size_t(tw) * 4);
                        SgUnlockRect(s);
                        // 16-bit textures are converted with a box filter, dithered when the user
                        // asks for it.
                        SG_TEXTURE* pTex = static_cast<SG_TEXTURE*>(t->apTextures[i]);
                        const int nCopy = pTex && pTex->nFormat == SG_FMT_A4R4G4B4
                                              ? SgLoadSurfaceFromSurface(pTex, s, g_bDither16)
                                              : SgUpdateSurface(s, pTex);
                        if (nCopy != SG_OK)
                            DebugTrace("UploadTextureGrid", "UpdateSurface failed");
                    }
                    SgReleaseSurface(s);
                }
            }
            x0 += tw;
        }
        y0 += th;
    }
    t->llGpuAnchorX = int64_t(u.fAnchorX);
    t->llGpuAnchorY = int64_t(u.fAnchorY);
    t->nWidth = u.nWidth;
    t->nHeight = u.nHeight;
    t->nBufWidth = u.nWidth;
    t->nBufHeight = u.nHeight;
    t->bMip = 0;
    t->nTileWidthLimit = u.nLimitWidth;
    t->nTileHeightLimit = u.nLimitHeight;
    return 0;
}

// The user's filter settings on samplers 0 and 1: magnification and minification 0 point,
// 1 linear, 2 anisotropic; the mip filter -1 none, 0 point, 1 linear, 2 anisotropic. A value
// outside these leaves the sampler's state as it was.
void SetSamplers(void)
{
    for (int nSampler = 0; nSampler < 2; ++nSampler) {
        SgSetSamplerState(g_pD3DDevice, nSampler, SG_SAMP_MAGFILTER, g_nMagFilter);
        SgSetSamplerState(g_pD3DDevice, nSampler, SG_SAMP_MINFILTER, g_nMinFilter);
        SgSetSamplerState(g_pD3DDevice, nSampler, SG_SAMP_MIPFILTER, g_nMipFilter);
    }
}

// The node a layer's mask or second-layer path names (against the layer tree's current path).
LAYER* LookUpPath(const char* pszPath)
{
    if (!pszPath || !pszPath[0]) return nullptr;
    char szAbs[KX_MAX_OBJECT_PATH];
    if (NormalizeObjectPath(szAbs, pszPath, g_pszLayerPath ? g_pszLayerPath : "", 1) < 0) return nullptr;
    return GetNodeLayer(FindNodeByPath(g_pLayerRoot, szAbs, KX_FIND_ANY));
}

void SetModeStates(int nMode)
{
    SG_DEVICE* d = g_pD3DDevice;
    switch (nMode) {
    case 0: SgSetBlendState(d, SG_BLEND_SRCALPHA, SG_BLEND_INVSRCALPHA, SG_BLENDOP_ADD); break;
    case 1: SgSetBlendState(d, SG_BLEND_SRCALPHA, SG_BLEND_ONE, SG_BLENDOP_ADD); break;
    case 2: SgSetBlendState(d, SG_BLEND_SRCALPHA, SG_BLEND_ONE, SG_BLENDOP_REVSUBTRACT); break;
    case 3: SgSetBlendState(d, SG_BLEND_ZERO, SG_BLEND_SRCCOLOR, SG_BLENDOP_ADD); break;
    case 5: SgSetBlendState(d, SG_BLEND_INVDESTCOLOR, SG_BLEND_ONE, SG_BLENDOP_ADD); break;
    case 6: SgSetBlendState(d, SG_BLEND_ONE, SG_BLEND_ONE, SG_BLENDOP_MAX); break;
    case 7: SgSetBlendState(d, SG_BLEND_ONE, SG_BLEND_ONE, SG_BLENDOP_MIN); break;
    case 9: SgSetBlendState(d, SG_BLEND_INVDESTCOLOR, SG_BLEND_INVSRCCOLOR, SG_BLENDOP_ADD); break;
    default: return;  // the previous layer's states stay in force
    }
    SgSetColorMode(d, nMode);
}

}  // namespace

int ComputeTextureGrid(int nWidth, int nHeight, int nLimitWidth, int nLimitHeight, int32_t* pColumns,
                       int* pColumnCount, int32_t* pRows, int* pRowCount)
{
    int nc = 0, nr = 0;
    for (int rest = nWidth; rest > 0;) {
        int s = TileSize(rest, g_nMaxTextureWidth, g_nTileMaxWidth, nLimitWidth);
        if (nc == 0 && nWidth < 512) s = 512;
        pColumns[nc++] = s;
        rest -= s;
        if (nc >= KX_TEXGRID_MAX) {
            ShowMessageBox("", "TXNUM Overflow Error.");
            return -1;
        }
    }
    for (int rest = nHeight; rest > 0;) {
        const int s = TileSize(rest, g_nMaxTextureHeight, g_nTileMaxHeight, nLimitHeight);
        pRows[nr++] = s;
        rest -= s;
        if (nr >= KX_TEXGRID_MAX) {
            ShowMessageBox("", "TYNUM Overflow Error. SX = %d, SY = %d, mRest = %d", nWidth, nHeight, rest);
            return -1;
        }
    }
    // The layer has room for 256 tiles: a larger grid is refused before anything is made.
    if (nc * nr > KX_TEXGRID_MAX_TILES) {
        ShowMessageBox("", "TXNUM Overflow Error.");
        return -1;
    }
    *pColumnCount = nc;
    *pRowCount = nr;
    return 0;
}

void ReleaseLayerTextures(LAYER* pLayer)
{
    if (!pLayer) return;
    for (void*& p : pLayer->apTextures) {
        SgReleaseSurface(static_cast<SG_SURFACE*>(p));
        p = nullptr;
    }
}

int UploadLayerTextures(LAYER* pLayer, int nMip, int nTileWidthLimit, int nTileHeightLimit)
{
    (void)nMip;  // the texture option does not change the upload
    if (!pLayer) return -1;
    UPLOAD_PARAMS u{pLayer->nWidth, pLayer->nHeight, float(pLayer->nWidth / 2), float(pLayer->nHeight / 2),
                    nTileWidthLimit, nTileHeightLimit, pLayer, pLayer};
    return UploadTextureGrid(0, u);
}

int PasteLayerTexturesGpu(TREE_NODE* pSource, TREE_NODE* pTarget)
{
    LAYER* s = GetNodeLayer(pSource);
    LAYER* t = GetNodeLayer(pTarget);
    if (!s || !t) return -1;
    UPLOAD_PARAMS u{t->nWidth, t->nHeight, float(t->llGpuAnchorX), float(t->llGpuAnchorY),
                    t->nTileWidthLimit, t->nTileHeightLimit, s, t};
    return UploadTextureGrid(1, u);
}

int ProcessLayerTextures(TREE_NODE* pNode, int nMode)
{
    for (TREE_NODE* c = pNode ? pNode->pFirstChild : nullptr; c; c = c->pNext) {
        if (c->bGroup && ProcessLayerTextures(c, nMode) != 0) return -1;
        LAYER* p = GetNodeLayer(c);
        if (!p || p->bKind == LAYERKIND_CPU) continue;
        if (nMode == 1) {
            ReleaseLayerTextures(p);
        } else if (nMode == 2) {
            if (!p->pOwnedPixels) return 0;
            if (UploadLayerTextures(p, p->bMip, p->nTileWidthLimit, p->nTileHeightLimit) != 0) return -1;
        }
    }
    return 0;
}

void ClearRenderTarget(void) { SgClear(g_pD3DDevice, 0x00000000); }

void EndEffect(void)
{
    if (g_lpEffect) SgEffectEnd(g_lpEffect);
}

void EndSceneWithEffect(void)
{
    EndEffect();
    SgEndScene(g_pD3DDevice);
}

void BuildQuadVertex(QUAD_VERTEX* pV, float x, float y, float z, uint32_t dwColor, float u, float v)
{
    std::memset(pV, 0, sizeof *pV);
    pV->x = x;
    pV->y = y;
    pV->z = z;
    pV->rhw = 1.0f;
    pV->dwDiffuse = dwColor;
    pV->uv[0][0] = u;
    pV->uv[0][1] = v;
}

void TransformQuad(QUAD_VERTEX* pV, float dx, float dy, float dz)
{
    SG_MATRIX m, id;
    SgMatrixIdentity(&id);
    SgMatrixTranslation(&m, dx, dy, dz);
    SgMatrixMultiply(&m, &id, &m);
    for (int i = 0; i < 4; ++i) SgTransformCoord(&pV[i].x, &pV[i].y, &pV[i].z, &m);
}

double Frac16(double v)
{
    const int64_t i = int64_t(v * 65536.0);
    return double(i - (i / 65536) * 65536) / 65536.0;
}

void BuildLayerTileQuad(const LAYER* p, int c, int r, uint32_t dwColor, QUAD_VERTEX* q)
{
    const bool bEmote = p->bKind == LAYERKIND_EMOTE && g_bEmoteAvailable;
    const double px = bEmote ? 0 : double(p->llX100) / 100.0, py = bEmote ? 0 : double(p->llY100) / 100.0;
    const double sx = bEmote ? 1 : double(p->llScaleX) / 10000.0, sy = bEmote ? 1 : double(p->llScaleY) / 10000.0;
    double left = px - 0.5, top = py - 0.5;
    for (int i = 0; i < c; ++i) left += p->anTexColumnWidth[i] * sx;
    for (int i = 0; i < r; ++i) top += p->anTexRowHeight[i] * sy;
    const int tw = p->anTexColumnWidth[c], th = p->anTexRowHeight[r];
    const double right = left + tw * sx, bottom = top + th * sy;
    const float uL = float(0.25 * Frac16(left) / tw), uR = float(1 + 0.25 * Frac16(right) / tw);
    const float vT = float(0.25 * Frac16(top) / th), vB = float(1 + 0.25 * Frac16(bottom) / th);
    BuildQuadVertex(&q[0], float(left), float(bottom), 0, dwColor, uL, vB);
    BuildQuadVertex(&q[1], float(right), float(bottom), 0, dwColor, uR, vB);
    BuildQuadVertex(&q[2], float(left), float(top), 0, dwColor, uL, vT);
    BuildQuadVertex(&q[3], float(right), float(top), 0, dwColor, uR, vT);
    const float a0 = bEmote ? 0 : p->afGpuAngle[0] / 100.0f, a1 = bEmote ? 0 : p->afGpuAngle[1] / 100.0f,
                a2 = bEmote ? 0 : p->afGpuAngle[2] / 100.0f;
    if (a0 == 0 && a1 == 0 && a2 == 0) return;
    // About the anchor, a point of the render target (the position is not added to it).
    const float ax = float(double(p->llGpuAnchorX) / 100.0), ay = float(double(p->llGpuAnchorY) / 100.0);
    const float kRad = 0.01745329238474369f;
    SG_MATRIX to, rot, back, m;
    SgMatrixTranslation(&to, -ax, -ay, 0);
    SgMatrixRotationYawPitchRoll(&rot, a0 * kRad, a1 * kRad, a2 * kRad);
    SgMatrixTranslation(&back, ax, ay, 0);
    SgMatrixMultiply(&m, &to, &rot);
    SgMatrixMultiply(&m, &m, &back);
    for (int i = 0; i < 4; ++i) SgTransformCoord(&q[i].x, &q[i].y, &q[i].z, &m);
}

int DrawLayerGpu(LAYER* pLayer, LAYER* pMask, LAYER* pSecond, int bUseOpacity, int nBlendMode)
{
    SG_DEVICE* d = g_pD3DDevice;
    if (!d || !pLayer) return -1;
    uint32_t dwColor = 0xFF000000u;
    switch (nBlendMode) {
    case 0: case 1: case 2: case 3: case 5: case 6: case 7: case 9: case 98: case 100: {
        int o = bUseOpacity ? pLayer->nOpacity : 0;
        o = o < 0 ? 0 : (o > 255 ? 255 : o);
        dwColor = uint32_t(o) * 0x01010101u;
        break;
    }
    default:
        break;
    }
    int nPass = -1;
    LAYER* pOther = nullptr;
    if (pMask && pLayer->nMaskVagueness > 0) {
        nPass = 1;
        pOther = pMask;
    } else if (pSecond) {
        nPass = 0;
        pOther = pSecond;
    }
    SetModeStates(nBlendMode);
    if (nPass >= 0 && g_lpEffect) {
        SgEffectSetFloat(g_lpEffect, "KX_AlphaVal", float(pLayer->nOpacity) / 256.0f);
        if (nPass == 0) {
            SgEffectSetFloat(g_lpEffect, "KX_FadeVal", float(pLayer->nFadeLevel) / 256.0f);
        } else {
            const float v = float(pLayer->nMaskVagueness);
            SgEffectSetFloat(g_lpEffect, "KX_FadeVal", float(pLayer->nMaskThreshold) * (256.0f / v + 128.0f) / 256.0f / 256.0f);
            SgEffectSetFloat(g_lpEffect, "KX_FadeVal2", v);
        }
        if (SgEffectBeginPass(g_lpEffect, nPass) != SG_OK) nPass = -1;
    } else {
        nPass = -1;
    }
    int nResult = 0;
    const int nc = pLayer->bTexColumns, nr = pLayer->bTexRows;
    for (int r = 0; r < nr && nResult == 0; ++r)
        for (int c = 0; c < nc; ++c) {
            const int i = r * nc + c;
            if (i >= KX_TEXGRID_MAX_TILES) break;
            SG_TEXTURE* pTile = static_cast<SG_TEXTURE*>(pLayer->apTextures[i]);
            SG_TEXTURE* pTile2 = pOther && i < pOther->bTexColumns * pOther->bTexRows
                                     ? static_cast<SG_TEXTURE*>(pOther->apTextures[i]) : nullptr;
            SgSetTexture(d, 0, pTile);
            SgSetTexture(d, 1, pTile2);
            if (nPass >= 0) {
                SgEffectSetTexture(g_lpEffect, "KX_Texture1", pTile);
                SgEffectSetTexture(g_lpEffect, "KX_Texture2", pTile2);
            }
            QUAD_VERTEX q[4];
            BuildLayerTileQuad(pLayer, c, r, dwColor, q);
            if (SgDrawQuad(d, q) != SG_OK) {
                nResult = -1;
                break;
            }
        }
    if (nPass >= 0) SgEffectEndPass(g_lpEffect);
    return nResult;
}

namespace {

// The player draws itself into the layer's one tile, cleared to mid grey, and the back buffer is
// the target again for the layer's own drawing.
void DrawEmoteTile(LAYER* p)
{
    auto* pTile = static_cast<SG_TEXTURE*>(p->apTextures[0]);
    if (!pTile || SgSetRenderTarget(g_pD3DDevice, pTile) != SG_OK) {
        DebugTrace("DrawLayerTreeGpu", "no E-mote tile to draw into");
        return;
    }
    SgClear(g_pD3DDevice, 0x00808080);
    g_DisplayHooks.pfnDrawEmoteLayer(p, g_nRenderWidth, g_nRenderHeight);
    SgSetRenderTarget(g_pD3DDevice, g_pBackBuffer);
}

}  // namespace

int DrawLayerTreeGpu(TREE_NODE* pNode)
{
    for (TREE_NODE* c = pNode ? pNode->pFirstChild : nullptr; c; c = c->pNext) {
        if (c->bGroup && DrawLayerTreeGpu(c) != 0) return -1;
        LAYER* p = GetNodeLayer(c);
        if (!p || p->bKind == LAYERKIND_CPU || !p->bVisible || p->nOpacity == 0) continue;
        if (!p->pOwnedPixels) return 0;
        if (p->bKind == LAYERKIND_EMOTE && g_bEmoteAvailable) DrawEmoteTile(p);
        LAYER* pMask = LookUpPath(p->pszMaskPath);
        LAYER* pSecond = LookUpPath(p->pszSecondPath);
        DrawLayerGpu(p, pMask, pSecond, 1, p->bBlendMode);
    }
    return 0;
}

int ReadBackRenderTarget(SG_SURFACE* pSurface, int nWidth, int nHeight, uint8_t* pPixels)
{
    if (!g_pD3DDevice || !pSurface || !g_pScreenReadback || !pPixels) {
        DebugTrace("ReadBackRenderTarget", "nothing to read back");
        return 0;
    }
    if (SgGetRenderTargetData(pSurface, g_pScreenReadback) != SG_OK) {
        DebugTrace("ReadBackRenderTarget", "GetRenderTargetData failed");
        return 0;
    }
    uint8_t* pBits = nullptr;
    int nPitch = 0;
    if (SgLockRect(g_pScreenReadback, &pBits, &nPitch) != SG_OK) {
        DebugTrace("ReadBackRenderTarget", "LockRect failed");
        return 0;
    }
    // Never more than the stage holds: the logical size may have changed since it was made.
    const int w = std::min(nWidth, g_pScreenReadback->nWidth), h = std::min(nHeight, g_pScreenReadback->nHeight);
    for (int y = 0; y < h; ++y)
        std::memcpy(pPixels + size_t(y) * nWidth * 4, pBits + size_t(y) * nPitch, size_t(w) * 4);
    SgUnlockRect(g_pScreenReadback);
    return 0;
}

int RenderGpuFrame(void)
{
    if (!g_pCaptureLayer && !g_bGpuDirect) return 0;
    if (!g_pD3DDevice) return 0;
    const bool bLost = SgTestCooperativeLevel(g_pD3DDevice) == SG_ERR_DEVICENOTRESET;
    if (bLost || g_bResetRequest) {
        g_bResetRequest = 0;
        if (!g_bDirect3D) return 0;
        // The players belong to the device object of the old device.
        if (g_bEmoteAvailable) g_EngineHooks.pfnReleaseEmotePlayers();
        if (bLost) {
            if (RebuildDirect3D() != 0) return 0;
        } else {
            ResetDirect3D();
            if (!g_bDirect3D || !g_pD3DDevice) return 0;
        }
        if (g_bEmoteAvailable) {
            g_DisplayHooks.pfnResetEmoteTransforms();
            g_bFullRedraw = 1;
        }
    }
    SgSetRenderTarget(g_pD3DDevice, g_pBackBuffer);
    ClearRenderTarget();
    SgBeginScene(g_pD3DDevice);
    if (g_lpEffect) SgEffectBegin(g_lpEffect);
    SetSamplers();
    TREE_NODE** ppSet = g_LayerHooks.pfnWindowLayerSetSlot(0);
    if (ppSet && *ppSet) DrawLayerTreeGpu(*ppSet);
    EndSceneWithEffect();
    int w, h;
    GetMainLogicalSize(&w, &h);
    // GPU-direct: the frame is the main window's picture, which no CPU composition follows.
    LAYER* pDest = g_bGpuDirect ? (ppSet ? GetNodeLayer(*ppSet) : nullptr) : GetNodeLayer(g_pCaptureLayer);
    // The owned pixels: a colour cache is rebuilt from them when the layer is drawn.
    if (pDest && pDest->nWidth == w && pDest->nHeight == h && pDest->pOwnedPixels) {
        ReadBackRenderTarget(g_pBackBuffer, w, h, pDest->pOwnedPixels);
        MarkPixelsChanged(pDest);
    }
    return 0;
}

int CaptureLayerGpu(TREE_NODE* pDest, TREE_NODE* pSource)
{
    LAYER* s = GetNodeLayer(pSource);
    LAYER* d = GetNodeLayer(pDest);
    if (!g_pD3DDevice || !g_pBackBuffer || !s || !d) return 0;
    if (SgSetRenderTarget(g_pD3DDevice, g_pCaptureTexture) != SG_OK) {
        DebugTrace("CaptureLayerGpu", "SetRenderTarget failed");
        return 0;
    }
    ClearRenderTarget();
    SgBeginScene(g_pD3DDevice);
    if (g_lpEffect) SgEffectBegin(g_lpEffect);
    SetSamplers();
    DrawLayerGpu(s, nullptr, nullptr, 1, s->bBlendMode);
    EndSceneWithEffect();
    SgSetRenderTarget(g_pD3DDevice, g_pBackBuffer);
    int w, h;
    GetMainLogicalSize(&w, &h);
    uint8_t* pPixels = AllocPixelBuffer(nullptr, w, h, nullptr);
    if (!pPixels) return 0;
    SetLayerPixels(d, pPixels, w, h);
    MarkLayerDirty(pDest);
    ReadBackRenderTarget(g_pCaptureTexture, w, h, pPixels);
    return 0;
}
