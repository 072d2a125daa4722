// The drawing device's lifecycle (see gpu_device.h).
#include "display/gpu_device.h"

#include <cstdlib>
#include <initializer_list>
#include <cstring>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/kx_texts.h"
#include "core/settings.h"
#include "core/window_record.h"
#include "display/display_hooks.h"
#include "display/gpu_layers.h"
#include "display/screen_modes.h"
#include "image/dirty_rects.h"
#include "image/layer.h"

SG_OBJECT* g_pD3D = nullptr;
SG_DEVICE* g_pD3DDevice = nullptr;
D3D_PRESENT_PARAMS g_d3dpp;
int g_nBackBufferFormat = SG_FMT_A8R8G8B8;
int g_nMaxTextureWidth = 256, g_nMaxTextureHeight = 256;
int g_nRenderWidth = 0, g_nRenderHeight = 0;
SG_SURFACE* g_pBackBuffer = nullptr;
SG_SURFACE* g_pScreenReadback = nullptr;
SG_TEXTURE* g_pCaptureTexture = nullptr;
SG_TEXTURE* g_pRenderTexture = nullptr;
SG_TEXTURE* g_pWhiteTexture = nullptr;
SG_TEXTURE* g_pBlackTexture = nullptr;
SG_EFFECT* g_lpEffect = nullptr;
uint8_t g_bVertexDeclMade = 0;
uint8_t g_bD3DCapsChecked = 0;

static void Box(int nText) { ShowMessageBox("", "%s", GetEngineText(nText)); }
static void BoxC(int nCaption, int nText) { ShowMessageBox(GetEngineText(nCaption), "%s", GetEngineText(nText)); }

void GetMainLogicalSize(int* pWidth, int* pHeight)
{
    const WINDOW_STATE* p = g_apWindowState[0];
    *pWidth = p && p->nWidth > 0 ? p->nWidth : g_nTargetWidth;
    *pHeight = p && p->nHeight > 0 ? p->nHeight : g_nTargetHeight;
}

uint8_t* BuildBMPInMemory(int nWidth, int nHeight, uint32_t dwFill, size_t* pSize)
{
    if (nWidth <= 0 || nHeight <= 0) return nullptr;
    const size_t nPixels = size_t(nWidth) * size_t(nHeight);
    const size_t nSize = nPixels * 4 + 54;
    uint8_t* p = static_cast<uint8_t*>(std::calloc(nSize, 1));
    if (!p) return nullptr;
    auto put16 = [&](size_t o, uint32_t v) { p[o] = uint8_t(v); p[o + 1] = uint8_t(v >> 8); };
    auto put32 = [&](size_t o, uint32_t v) { put16(o, v & 0xFFFF); put16(o + 2, v >> 16); };
    p[0] = 'B';
    p[1] = 'M';
    put32(2, uint32_t(nSize));
    put32(10, 54);
    put32(14, 40);
    put32(18, uint32_t(nWidth));
    put32(22, uint32_t(nHeight));
    put16(26, 1);
    put16(28, 32);
    if (dwFill)
        for (size_t i = 0; i < nPixels; ++i) put32(54 + i * 4, dwFill);
    if (pSize) *pSize = nSize;
    return p;
}

void InitPresentParameters(void)
{
    int w, h;
    GetMainLogicalSize(&w, &h);
    g_d3dpp = D3D_PRESENT_PARAMS{w, h, g_nBackBufferFormat, 0, 1};
    g_nRenderWidth = w;
    g_nRenderHeight = h;
}

int CreateD3DDevice(int nAdapter)
{
    (void)nAdapter;
    InitPresentParameters();
    for (int vp = g_bNoHardwareVP ? SG_VP_MIXED : SG_VP_HARDWARE; vp <= SG_VP_SOFTWARE; ++vp) {
        g_pD3DDevice = SgCreateDevice(g_pD3D, vp, g_d3dpp.nBackBufferWidth, g_d3dpp.nBackBufferHeight);
        if (g_pD3DDevice) return 0;
    }
    Box(TXT_D3D_INIT_FAILED);
    SgReleaseObject(g_pD3D);
    g_pD3D = nullptr;
    return -1;
}

int CreateD3DObjects(void)
{
    const int nAdapter = g_nMonitorNumber > 0 ? g_nMonitorNumber : 0;
    g_pD3D = SgCreateObject();
    if (!g_pD3D) {
        Box(TXT_D3D_NO_OBJECT);
        return -1;
    }
    int w = 0, h = 0;
    if (SgGetAdapterDisplayMode(g_pD3D, nAdapter, &w, &h) != SG_OK) {
        SgReleaseObject(g_pD3D);
        g_pD3D = nullptr;
        ShowMessageBox("", GetEngineText(TXT_D3D_NO_DISPLAY_MODE), nAdapter);
        return -1;
    }
    if (CreateD3DDevice(nAdapter) != 0) return -1;
    g_pBackBuffer = SgGetBackBuffer(g_pD3DDevice);
    if (!g_pBackBuffer) {
        BoxC(TXT_D3D_ERROR_CAPTION, TXT_D3D_NO_BACK_BUFFER);
        return -1;
    }
    g_pScreenReadback = SgCreatePlainSurface(g_pD3DDevice, g_nRenderWidth, g_nRenderHeight, g_nBackBufferFormat);
    if (!g_pScreenReadback) {
        BoxC(TXT_D3D_ERROR_CAPTION, TXT_D3D_NO_OFFSCREEN);
        return -1;
    }
    return 0;
}

int CheckDeviceCaps(void)
{
    if (g_bD3DCapsChecked) return 0;
    g_bD3DCapsChecked = 1;
    SG_CAPS caps;
    SgGetCaps(g_pD3DDevice, &caps);
    g_nMaxTextureWidth = caps.nMaxTextureWidth;
    g_nMaxTextureHeight = caps.nMaxTextureHeight;
    if (caps.nPixelShaderVersion < 20) {
        BoxC(TXT_D3D_CAPS_CAPTION, TXT_D3D_CAPS_NO_PS20);
        return 1;
    }
    return 0;
}

static int TexFormat(void) { return g_nTextureFormat == SG_FMT_A4R4G4B4 ? SG_FMT_A4R4G4B4 : SG_FMT_A8R8G8B8; }

// The white and black textures of the logical size (an in-memory BMP of the fill, as a texture).
static SG_TEXTURE* MakeFillTexture(uint32_t dwFill)
{
    int w, h;
    GetMainLogicalSize(&w, &h);
    size_t nSize = 0;
    uint8_t* pBmp = BuildBMPInMemory(w, h, dwFill, &nSize);
    if (!pBmp) return nullptr;
    std::free(pBmp);
    SG_TEXTURE* p = SgCreateTexture(g_pD3DDevice, w, h, TexFormat(), 0);
    if (p) SgFillSurface(p, dwFill);
    return p;
}

// The targets whose size is the render size: "Render" and "GetSS".
static int MakeRenderTargets(void)
{
    g_pRenderTexture = SgCreateTexture(g_pD3DDevice, g_nRenderWidth, g_nRenderHeight, TexFormat(), 1);
    if (!g_pRenderTexture) {
        Box(TXT_D3D_NO_RENDER_TEX);
        return -1;
    }
    g_pCaptureTexture = SgCreateTexture(g_pD3DDevice, g_nRenderWidth, g_nRenderHeight, TexFormat(), 1);
    if (!g_pCaptureTexture) {
        Box(TXT_D3D_NO_GETSS_TEX);
        return -1;
    }
    return 0;
}

static void MakeFillTextures(void)
{
    if (!g_bDirect3D) return;
    g_pWhiteTexture = MakeFillTexture(0xFFFFFFFFu);
    if (!g_pWhiteTexture) ShowMessageBox("", "WHITETEXBUF ERROR.");
    g_pBlackTexture = MakeFillTexture(0xFF000000u);
    if (!g_pBlackTexture) ShowMessageBox("", "BLACKTEXBUF ERROR.");
}

int InitDeviceStates(void)
{
    // Render states (no culling, no depth, blending on, no dither) are the soft device's own
    // defaults; samplers 0 and 1 always clamp.
    if (MakeRenderTargets() != 0) return -1;
    MakeFillTextures();
    return 0;
}

int CreateVertexDeclaration(void)
{
    if (SgCreateVertexDeclaration(g_pD3DDevice) != SG_OK) {
        Box(TXT_D3D_VERTEX_DECL);
        return 1;
    }
    g_bVertexDeclMade = 1;
    return 0;
}

int CreateEffect(void)
{
    g_lpEffect = SgCreateEffect(g_pD3DDevice);
    if (!g_lpEffect) {
        Box(TXT_D3D_SHADER_INIT);
        return -1;
    }
    if (!SgFindTechnique(g_lpEffect, "KX_ShaderTest1")) {
        Box(TXT_D3D_NO_TECHNIQUE);
        return -1;
    }
    if (SgSetTechnique(g_lpEffect, "KX_ShaderTest1") != SG_OK) {
        Box(TXT_D3D_SET_TECHNIQUE);
        return -1;
    }
    return 0;
}

// The device with everything made of it at its size: the targets, the fill textures, the read-back
// stage and the effect; the layers' textures are not touched.
static void ReleaseDeviceAndTargets(void)
{
    for (SG_SURFACE** pp : {&g_pWhiteTexture, &g_pBlackTexture, &g_pCaptureTexture, &g_pRenderTexture, &g_pScreenReadback}) {
        SgReleaseSurface(*pp);
        *pp = nullptr;
    }
    SgReleaseEffect(g_lpEffect);
    g_lpEffect = nullptr;
    g_pBackBuffer = nullptr;  // the device's own surface, released with it
    SgReleaseDevice(g_pD3DDevice);
    g_pD3DDevice = nullptr;
}

// Everything the device made, without touching the layers' textures.
static void ReleaseDeviceObjects(void)
{
    ReleaseDeviceAndTargets();
    g_bVertexDeclMade = 0;
    SgReleaseObject(g_pD3D);
    g_pD3D = nullptr;
}

int InitDirect3D(void)
{
    if (CreateD3DObjects() != 0) {
        ReleaseDeviceObjects();
        return 1;
    }
    // With the component bound its device object is made of the new device; its result does not
    // change the sequence (the players then simply fail to be made).
    if (g_bEmoteAvailable) {
        void* pDevice = g_pD3DDevice;
        g_DisplayHooks.pfnResetEmoteTransforms();
        g_DisplayHooks.pfnInitEmoteDevice(&pDevice);
    }
    if (CheckDeviceCaps() == 1) {
        // Nothing made so far may outlive the fall-back.
        ReleaseDeviceObjects();
        return 1;
    }
    if (InitDeviceStates() != 0) {
        ReleaseDeviceObjects();
        return -1;
    }
    CreateVertexDeclaration();
    if (CreateEffect() != 0) {
        ReleaseDeviceObjects();
        return 1;
    }
    return 0;
}

void ReleaseDirect3D(void)
{
    if (g_bDirect3D) {
        TREE_NODE** ppSet = g_LayerHooks.pfnWindowLayerSetSlot(0);
        if (ppSet && *ppSet) ProcessLayerTextures(*ppSet, 1);
    }
    ReleaseDeviceObjects();
}

// Every texture layer under the node becomes a CPU layer again; its pixels are still its own.
static void TurnTextureLayersToCpu(TREE_NODE* pNode)
{
    for (TREE_NODE* c = pNode ? pNode->pFirstChild : nullptr; c; c = c->pNext) {
        if (c->bGroup) TurnTextureLayersToCpu(c);
        LAYER* p = GetNodeLayer(c);
        if (p && p->bKind == LAYERKIND_TEXTURE) {
            ReleaseLayerTextures(p);
            p->bKind = LAYERKIND_CPU;
            MarkLayerDirty(c);
        }
    }
}

void FallBackToCpuDrawingGpu(void)
{
    TREE_NODE** ppSet = g_LayerHooks.pfnWindowLayerSetSlot(0);
    if (ppSet && *ppSet) TurnTextureLayersToCpu(*ppSet);
    g_nDrawMethod = 0;
    g_bInterpolate = 1;
    g_bDirect3D = 0;
}

void SetGpuDeviceTransform(int nState, const float* pMatrix)
{
    if (g_pD3DDevice) SgSetTransform(g_pD3DDevice, nState, pMatrix);
}

int RebuildDirect3D(void)
{
    ReleaseDirect3D();
    if (InitDirect3D() != 0) {
        ReleaseDirect3D();
        FallBackToCpuDrawingGpu();
        Box(TXT_START_GPU_FALLBACK);
        return -1;
    }
    TREE_NODE** ppSet = g_LayerHooks.pfnWindowLayerSetSlot(0);
    if (ppSet && *ppSet) ProcessLayerTextures(*ppSet, 2);
    return 0;
}

void ResetDirect3D(void)
{
    if (!g_bDirect3D) return;
    if (!g_pD3DDevice) {
        RebuildDirect3D();
        return;
    }
    int w, h;
    GetMainLogicalSize(&w, &h);
    if (w == g_nRenderWidth && h == g_nRenderHeight) return;
    // The back buffer and read-back stage come with a new device of the new size; the layer
    // textures belong to no device of ours and stay.
    ReleaseDeviceAndTargets();
    if (CreateD3DDevice(0) != 0 || !(g_pBackBuffer = SgGetBackBuffer(g_pD3DDevice)) ||
        !(g_pScreenReadback = SgCreatePlainSurface(g_pD3DDevice, g_nRenderWidth, g_nRenderHeight, g_nBackBufferFormat)) ||
        MakeRenderTargets() != 0 || CreateEffect() != 0) {
        ReleaseDirect3D();
        FallBackToCpuDrawingGpu();
        Box(TXT_START_GPU_FALLBACK);
        return;
    }
    MakeFillTextures();
}
