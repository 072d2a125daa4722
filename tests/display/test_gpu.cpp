// The drawing device's lifecycle and GPU layer drawing on the software device: creation and every
// fault path with its box and result, fall-back and reset, texture grids, per-mode blending, the
// rotation about the anchor, capture and read-back, and a scene drawn through the device against the
// CPU compositor.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/engine_globals.h"
#include "core/engine_hooks.h"
#include "core/engine_tables.h"
#include "core/frame_loop.h"
#include "core/kx_texts.h"
#include "core/object_tree.h"
#include "core/settings.h"
#include "core/window_record.h"
#include "display/display_hooks.h"
#include "display/gpu_device.h"
#include "display/gpu_layers.h"
#include "display/window_proc.h"
#include "image/dirty_rects.h"
#include "image/layer.h"
#include "imageproc/blend_modes.h"
#include "imageproc/compositor.h"
#include "imageproc/pixel_ops.h"
#include "media/emote.h"
#include "core/worker_pool.h"
#include "root/startup.h"
#include "platform/plat_softgpu.h"
#include "tests/support/test_support.h"

namespace {

TREE_NODE* s_apSlot[KX_LAYER_WINDOWS];
LAYER s_aBack[KX_LAYER_WINDOWS];
WINDOW_STATE s_aWindow[KX_WINDOWS];
char s_szLayerPath[KX_MAX_OBJECT_PATH];

class GpuTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        FillMulDivTables();
        InitBlendTables();
    }
    void SetUp() override
    {
        SgResetFaults();
        FillPixelOps(&g_PixelOps, 1, PIXEL_SIMD_NONE);
        InstallCompositor();
        InstallEngineParts();
        g_LayerHooks.pfnWindowLayerSetSlot = [](int i) { return i >= 0 && i < KX_LAYER_WINDOWS ? &s_apSlot[i] : nullptr; };
        g_LayerHooks.pfnWindowBackLayer = [](int i) { return i >= 0 && i < KX_LAYER_WINDOWS ? &s_aBack[i] : nullptr; };
        for (int i = 0; i < KX_WINDOWS; ++i) {
            apSaved[i] = g_apWindowState[i];
            s_aWindow[i] = WINDOW_STATE{};
            s_aWindow[i].nIndex = i;
            g_apWindowState[i] = &s_aWindow[i];
            s_apSlot[i] = nullptr;
        }
        pSavedPath = g_pszLayerPath;
        s_szLayerPath[0] = 0;
        g_pszLayerPath = s_szLayerPath;
        g_pLayerRoot = CreateRootNode();
        s_aWindow[0].nWidth = 64;
        s_aWindow[0].nHeight = 48;
        g_bDirect3D = 1;
        g_bGpuDirect = 0;
        g_bD3DCapsChecked = 0;
        g_bNoHardwareVP = 0;
        g_nTextureFormat = SG_FMT_A8R8G8B8;
        g_nTileMaxWidth = 512;
        g_nTileMaxHeight = 256;
        g_nMagFilter = g_nMinFilter = 0;
        g_nDrawMethod = 1;
        g_bInterpolate = 0;
        g_bResetRequest = 0;
        g_bFullRedraw = 0;
        g_bEngineStop = 0;
        g_llFrameCount = 1;
    }
    void TearDown() override
    {
        ReleaseDirect3D();
        g_pCaptureLayer = nullptr;
        while (g_pLayerRoot->pFirstChild) FreeNodeSubtree(g_pLayerRoot->pFirstChild);
        FreeTreeNode(g_pLayerRoot);
        g_pLayerRoot = nullptr;
        InstallEngineParts();
        for (int i = 0; i < KX_WINDOWS; ++i) g_apWindowState[i] = apSaved[i];
        g_pszLayerPath = pSavedPath;
        g_bDirect3D = 0;
        g_bGpuDirect = 0;
        g_bEngineStop = 0;
        g_bEmoteAvailable = 0;
        g_nTileMaxWidth = g_nTileMaxHeight = 0;
        g_nMagFilter = g_nMinFilter = 1;
        StopWorkerThreads();
        EXPECT_EQ(SgLiveObjects(), 0);
        SgResetFaults();
    }
    TREE_NODE* W0()
    {
        CreateGroupLayer("W0", s_aWindow[0].nWidth, s_aWindow[0].nHeight, 1);
        s_apSlot[0] = FindNodeByPath(g_pLayerRoot, "W0", KX_FIND_GROUP);
        s_aWindow[0].bVisible = 1;
        return s_apSlot[0];
    }
    // A plain layer under W0 with the pixels of the function (B, G, R, A per pixel).
    TREE_NODE* Plain(const char* pszPath, int w, int h, int64_t llOrder, uint32_t (*fn)(int, int))
    {
        TREE_NODE* n = CreateNode(g_pLayerRoot, pszPath, 0, llOrder);
        LAYER* p = CreateNodeLayer(n);
        uint8_t* px = AllocPixelBuffer(nullptr, w, h, nullptr);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) std::memcpy(px + (size_t(y) * w + x) * 4, &(const uint32_t&)fn(x, y), 4);
        SetLayerPixels(p, px, w, h);
        MarkLayerDirty(n);
        return n;
    }
    // Plain, drawn from textures uploaded now.
    TREE_NODE* Texture(const char* pszPath, int w, int h, int64_t llOrder, uint32_t (*fn)(int, int))
    {
        TREE_NODE* n = Plain(pszPath, w, h, llOrder, fn);
        GetNodeLayer(n)->bKind = LAYERKIND_TEXTURE;
        EXPECT_EQ(UploadLayerTextures(GetNodeLayer(n), 0, 0, 0), 0);
        return n;
    }
    WINDOW_STATE* apSaved[KX_WINDOWS]{};
    char* pSavedPath = nullptr;
    MSGBOX_RECORDER boxes;
    ERROR_RECORDER errors;
};

uint32_t Noise(int x, int y)
{
    uint32_t s = (uint32_t(x) * 73856093u) ^ (uint32_t(y) * 19349663u);
    s = s * 1103515245u + 12345u;
    return s | 0xFF000000u;
}

TEST_F(GpuTest, StartsWithEveryObjectOfTheLogicalSize)
{
    ASSERT_EQ(InitDirect3D(), 0);
    EXPECT_NE(g_pD3D, nullptr);
    EXPECT_NE(g_pD3DDevice, nullptr);
    EXPECT_NE(g_pBackBuffer, nullptr);
    EXPECT_NE(g_pScreenReadback, nullptr);
    EXPECT_NE(g_pRenderTexture, nullptr);
    EXPECT_NE(g_pCaptureTexture, nullptr);
    EXPECT_NE(g_pWhiteTexture, nullptr);
    EXPECT_NE(g_pBlackTexture, nullptr);
    EXPECT_NE(g_lpEffect, nullptr);
    EXPECT_EQ(g_nRenderWidth, 64);
    EXPECT_EQ(g_nRenderHeight, 48);
    EXPECT_EQ(g_pCaptureTexture->nWidth, 64);
    EXPECT_EQ(g_nMaxTextureWidth, 8192);
    EXPECT_EQ(g_pWhiteTexture->pPixels[0], 0xFFFFFFFFu);
    EXPECT_EQ(g_pBlackTexture->pPixels[0], 0xFF000000u);
    EXPECT_TRUE(boxes.boxes.empty());
}

// Every failing step: its box (caption, text) and the result; nothing stays made after a failure
// that ends the sequence.
TEST_F(GpuTest, EveryFaultPathHasItsBoxAndResult)
{
    struct Case {
        int nStep, nFailAt, nPs;
        int nResult;
        const char* pszCaption;  // engine text id as a caption is given by nCaptionId when >= 0
        int nCaptionId;
        int nTextId;             // -1: a literal
        const char* pszText;
    };
    const Case cases[] = {
        {SG_STEP_CREATE_OBJECT, 1, 0, 1, "", -1, TXT_D3D_NO_OBJECT, nullptr},
        {SG_STEP_BACK_BUFFER, 1, 0, 1, nullptr, TXT_D3D_ERROR_CAPTION, TXT_D3D_NO_BACK_BUFFER, nullptr},
        {SG_STEP_PLAIN_SURFACE, 1, 0, 1, nullptr, TXT_D3D_ERROR_CAPTION, TXT_D3D_NO_OFFSCREEN, nullptr},
        {-1, 0, 14, 1, nullptr, TXT_D3D_CAPS_CAPTION, TXT_D3D_CAPS_NO_PS20, nullptr},
        {SG_STEP_TEXTURE, 1, 0, -1, "", -1, TXT_D3D_NO_RENDER_TEX, nullptr},
        {SG_STEP_TEXTURE, 2, 0, -1, "", -1, TXT_D3D_NO_GETSS_TEX, nullptr},
        {SG_STEP_TEXTURE, 3, 0, 0, "", -1, -1, "WHITETEXBUF ERROR."},
        {SG_STEP_TEXTURE, 4, 0, 0, "", -1, -1, "BLACKTEXBUF ERROR."},
        {SG_STEP_VERTEX_DECL, 1, 0, 0, "", -1, TXT_D3D_VERTEX_DECL, nullptr},
        {SG_STEP_EFFECT, 1, 0, 1, "", -1, TXT_D3D_SHADER_INIT, nullptr},
        {SG_STEP_TECHNIQUE, 1, 0, 1, "", -1, TXT_D3D_NO_TECHNIQUE, nullptr},
        {SG_STEP_SET_TECHNIQUE, 1, 0, 1, "", -1, TXT_D3D_SET_TECHNIQUE, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.nStep) + "/" + std::to_string(c.nFailAt));
        SgResetFaults();
        g_bD3DCapsChecked = 0;
        if (c.nStep >= 0) g_SgFaults.anFailAt[c.nStep] = c.nFailAt;
        g_SgFaults.nPixelShaderVersion = c.nPs;
        boxes.boxes.clear();
        EXPECT_EQ(InitDirect3D(), c.nResult);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        const std::string strCaption = c.pszCaption ? c.pszCaption : GetEngineText(c.nCaptionId);
        EXPECT_EQ(boxes.boxes[0].strCaption, strCaption);
        EXPECT_EQ(boxes.boxes[0].strText, c.nTextId >= 0 ? std::string(GetEngineText(c.nTextId)) : std::string(c.pszText));
        if (c.nResult != 0) {
            EXPECT_EQ(g_pD3DDevice, nullptr);
            EXPECT_EQ(SgLiveObjects(), 0);
        }
        ReleaseDirect3D();
        EXPECT_EQ(SgLiveObjects(), 0);
    }
    // The display mode and all three device attempts.
    SgResetFaults();
    g_SgFaults.anFailAt[SG_STEP_DISPLAY_MODE] = 1;
    boxes.boxes.clear();
    EXPECT_EQ(InitDirect3D(), 1);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_NE(boxes.boxes[0].strText.find("(DispNo.0)"), std::string::npos);
    SgResetFaults();
    for (int s = SG_STEP_DEVICE_HARDWARE; s <= SG_STEP_DEVICE_SOFTWARE; ++s) g_SgFaults.anFailAt[s] = 1;
    boxes.boxes.clear();
    EXPECT_EQ(InitDirect3D(), 1);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strText, GetEngineText(TXT_D3D_INIT_FAILED));
    EXPECT_EQ(g_pD3D, nullptr);
    EXPECT_EQ(SgLiveObjects(), 0);
}

TEST_F(GpuTest, NoHardwareProcessingStartsWithMixedAndCapsAreTestedOnce)
{
    g_bNoHardwareVP = 1;
    ASSERT_EQ(InitDirect3D(), 0);
    EXPECT_EQ(g_SgFaults.anCalls[SG_STEP_DEVICE_HARDWARE], 0);
    EXPECT_EQ(g_SgFaults.anCalls[SG_STEP_DEVICE_MIXED], 1);
    // A device made again is not tested again.
    g_SgFaults.nPixelShaderVersion = 14;
    EXPECT_EQ(RebuildDirect3D(), 0);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(GpuTest, BmpInMemoryBytes)
{
    size_t n = 0;
    uint8_t* p = BuildBMPInMemory(2, 1, 0xFFFFFFFFu, &n);
    ASSERT_NE(p, nullptr);
    const std::vector<uint8_t> want = {'B', 'M', 62, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0,
                                       1, 0, 32, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                       255, 255, 255, 255, 255, 255, 255, 255};
    EXPECT_EQ(std::vector<uint8_t>(p, p + n), want);
    free(p);
}

TEST_F(GpuTest, TilingTable)
{
    ASSERT_EQ(InitDirect3D(), 0);
    struct Case {
        int w, h, lw, lh;
        std::vector<int32_t> cols, rows;
    };
    const Case cases[] = {
        {1280, 720, 0, 0, {512, 512, 256}, {256, 256, 256}},
        {100, 100, 0, 0, {512}, {128}},
        {16, 3, 0, 0, {512}, {16}},
        {600, 40, 256, 32, {256, 256, 128}, {32, 16}},
    };
    for (const Case& c : cases) {
        int32_t cols[32], rows[32];
        int nc = 0, nr = 0;
        ASSERT_EQ(ComputeTextureGrid(c.w, c.h, c.lw, c.lh, cols, &nc, rows, &nr), 0);
        EXPECT_EQ(std::vector<int32_t>(cols, cols + nc), c.cols) << c.w;
        EXPECT_EQ(std::vector<int32_t>(rows, rows + nr), c.rows) << c.h;
    }
    int32_t cols[32], rows[32];
    int nc = 0, nr = 0;
    // 32 columns of 16: the overflow box.
    EXPECT_EQ(ComputeTextureGrid(600, 16, 16, 0, cols, &nc, rows, &nr), -1);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strText, "TXNUM Overflow Error.");
    EXPECT_EQ(ComputeTextureGrid(16, 600, 0, 16, cols, &nc, rows, &nr), -1);
    EXPECT_EQ(boxes.boxes.back().strText, "TYNUM Overflow Error. SX = 16, SY = 600, mRest = 88");
}

// 8192 x 4352 under 512 x 256 needs 16 x 17 tiles: refused before the old grid is touched.
TEST_F(GpuTest, GridAbove256TilesIsRefusedBeforeAnythingIsMade)
{
    ASSERT_EQ(InitDirect3D(), 0);
    W0();
    TREE_NODE* n = Texture("W0/t", 4, 4, 2, Noise);
    LAYER* p = GetNodeLayer(n);
    void* pOld = p->apTextures[0];
    const int nLive = SgLiveObjects();
    std::free(p->pOwnedPixels);
    p->pOwnedPixels = p->pDisplayPixels = static_cast<uint8_t*>(std::calloc(1, 4));
    p->nWidth = 8192;
    p->nHeight = 4352;
    p->nBufWidth = p->nBufHeight = 1;
    EXPECT_EQ(UploadLayerTextures(p, 0, 0, 0), -1);
    EXPECT_EQ(boxes.boxes.back().strText, "TXNUM Overflow Error.");
    EXPECT_EQ(SgLiveObjects(), nLive);
    EXPECT_EQ(p->apTextures[0], pOld);
    EXPECT_EQ(p->apTextures[1], nullptr);
    p->nWidth = p->nHeight = 1;
}

// Upload pads outside the layer with transparent black; paste bounds its reads by the source.
TEST_F(GpuTest, UploadPadsAndPasteStaysInsideTheSource)
{
    ASSERT_EQ(InitDirect3D(), 0);
    W0();
    TREE_NODE* n = Texture("W0/t", 20, 10, 2, Noise);
    LAYER* p = GetNodeLayer(n);
    ASSERT_EQ(p->bTexColumns, 1);
    const SG_TEXTURE* t = static_cast<SG_TEXTURE*>(p->apTextures[0]);
    EXPECT_EQ(t->nWidth, 512);
    EXPECT_EQ(t->nHeight, 16);
    EXPECT_EQ(t->pPixels[0], Noise(0, 0));
    EXPECT_EQ(t->pPixels[9 * 512 + 19], Noise(19, 9));
    EXPECT_EQ(t->pPixels[9 * 512 + 20], 0u);
    EXPECT_EQ(t->pPixels[10 * 512], 0u);
    EXPECT_EQ(p->llGpuAnchorX, 10);
    EXPECT_EQ(p->llGpuAnchorY, 5);
    // A 3 x 2 source pasted into the 20 x 10 grid: its own pixels, zero elsewhere.
    TREE_NODE* s = Plain("W0/s", 3, 2, 3, [](int x, int y) { return 0xFF000000u | uint32_t(x + 10 * y); });
    ASSERT_EQ(PasteLayerTexturesGpu(s, n), 0);
    EXPECT_EQ(t->pPixels[512 + 2], 0xFF000000u | 12u);
    EXPECT_EQ(t->pPixels[3], 0u);
    EXPECT_EQ(t->pPixels[2 * 512], 0u);
    // A target without a grid is refused.
    EXPECT_EQ(PasteLayerTexturesGpu(n, s), -1);
}

// One pixel per blend mode: texel (R 200, G 100, B 0, A 128) at full opacity over (50, 150, 250, 255).
TEST_F(GpuTest, PerModeBlendingOnOnePixel)
{
    s_aWindow[0].nWidth = 1;
    s_aWindow[0].nHeight = 1;
    ASSERT_EQ(InitDirect3D(), 0);
    W0();
    LAYER* p = GetNodeLayer(Texture("W0/t", 1, 1, 2, [](int, int) { return 0x80C86400u; }));
    struct Case {
        int nMode;
        int r, g, b, a;
    };
    const Case cases[] = {
        {0, 125, 125, 125, 191}, {1, 150, 200, 250, 255}, {2, 0, 100, 250, 191}, {3, 45, 104, 125, 128},
        {5, 131, 171, 250, 255}, {6, 200, 150, 250, 255}, {7, 50, 150, 127, 128}, {9, 172, 132, 250, 127},
        {1, 150, 200, 250, 255}, {4, 150, 200, 250, 255},  // mode 4 keeps mode 1's states
    };
    SgSetSamplerFilter(g_pD3DDevice, 0, SG_FILTER_POINT);
    for (const Case& c : cases) {
        SgSetRenderTarget(g_pD3DDevice, g_pBackBuffer);
        SgClear(g_pD3DDevice, 0xFF3296FAu);
        ASSERT_EQ(DrawLayerGpu(p, nullptr, nullptr, 1, c.nMode), 0);
        const uint32_t v = g_pBackBuffer->pPixels[0];
        EXPECT_NEAR(int((v >> 16) & 0xFF), c.r, 1) << "mode " << c.nMode;
        EXPECT_NEAR(int((v >> 8) & 0xFF), c.g, 1) << "mode " << c.nMode;
        EXPECT_NEAR(int(v & 0xFF), c.b, 1) << "mode " << c.nMode;
        EXPECT_NEAR(int(v >> 24), c.a, 1) << "mode " << c.nMode;
    }
}

// The user's magnification, minification and mip filter settings reach both samplers of a frame;
// a layer drawn at half its size is sampled with the minification filter.
TEST_F(GpuTest, FilterSettingsReachTheSamplersAndMinifiedLayersUseTheirs)
{
    ASSERT_EQ(InitDirect3D(), 0);
    W0();
    TREE_NODE* n = Texture("W0/t", 40, 30, 2, Noise);
    LAYER* p = GetNodeLayer(n);
    g_pCaptureLayer = n;   // a frame is drawn (its size differs from the window's: no read-back)
    p->llScaleX = p->llScaleY = 5000;
    auto draw = [&](int nMag, int nMin, int nMip) {
        g_nMagFilter = nMag;
        g_nMinFilter = nMin;
        g_nMipFilter = nMip;
        EXPECT_EQ(RenderGpuFrame(), 0);
        for (int nSampler = 0; nSampler < 2; ++nSampler) {
            EXPECT_EQ(SgGetSamplerState(g_pD3DDevice, nSampler, SG_SAMP_MAGFILTER), nMag);
            EXPECT_EQ(SgGetSamplerState(g_pD3DDevice, nSampler, SG_SAMP_MINFILTER), nMin);
            EXPECT_EQ(SgGetSamplerState(g_pD3DDevice, nSampler, SG_SAMP_MIPFILTER), nMip);
        }
        SgSetRenderTarget(g_pD3DDevice, g_pBackBuffer);
        SgClear(g_pD3DDevice, 0);
        EXPECT_EQ(DrawLayerGpu(p, nullptr, nullptr, 1, 0), 0);
        return std::vector<uint32_t>(g_pBackBuffer->pPixels, g_pBackBuffer->pPixels + 64 * 48);
    };
    const std::vector<uint32_t> point = draw(0, 0, -1), linear = draw(1, 1, 0);
    ASSERT_NE(point, linear);
    EXPECT_EQ(draw(0, 1, 1), linear);   // minified: the minification filter counts
    EXPECT_EQ(draw(1, 0, 2), point);
    EXPECT_EQ(draw(2, 2, 0), linear);
    g_pCaptureLayer = nullptr;
    g_nMipFilter = 0;
}

// 16-bit textures: a flat colour between two 4-bit levels uploads as its top four bits everywhere
// without dithering, and as a mix of the two around its own value with it.
TEST_F(GpuTest, SixteenBitUploadsDitherWhenTheSettingSaysSo)
{
    g_nTextureFormat = SG_FMT_A4R4G4B4;
    ASSERT_EQ(InitDirect3D(), 0);
    W0();
    LAYER* p = GetNodeLayer(Texture("W0/t", 40, 30, 2, [](int, int) { return 0xFF808080u; }));
    for (const uint8_t bDither : {uint8_t(0), uint8_t(1)}) {
        SCOPED_TRACE(int(bDither));
        g_bDither16 = bDither;
        ASSERT_EQ(UploadLayerTextures(p, 0, 0, 0), 0);
        const SG_TEXTURE* t = static_cast<SG_TEXTURE*>(p->apTextures[0]);
        ASSERT_EQ(t->nFormat, SG_FMT_A4R4G4B4);
        double fSum = 0;
        int nLevels = 0;
        uint32_t dwFirst = t->pPixels[0];
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) {
                const uint32_t c = t->pPixels[y * t->nWidth + x];
                fSum += c & 0xFF;
                if (c != dwFirst) nLevels = 2;
            }
        if (bDither) {
            EXPECT_NEAR(fSum / (40 * 30), 128.0, 1.0);
            EXPECT_EQ(nLevels, 2);
        } else {
            EXPECT_EQ(dwFirst, 0xFF888888u);
            EXPECT_EQ(nLevels, 0);
        }
    }
    g_bDither16 = 1;
    g_nTextureFormat = SG_FMT_A8R8G8B8;
}

// A third angle of 90 degrees about the anchor (10, 20) (hundredths of a pixel: 1000, 2000).
TEST_F(GpuTest, RotationCornersAboutTheAnchor)
{
    LAYER l{};
    l.llScaleX = l.llScaleY = 10000;
    l.bTexColumns = l.bTexRows = 1;
    l.anTexColumnWidth[0] = 512;
    l.anTexRowHeight[0] = 16;
    l.llX100 = 1000;
    l.llY100 = 2000;
    l.llGpuAnchorX = 1000;
    l.llGpuAnchorY = 2000;
    l.afGpuAngle[2] = 9000.0f;
    QUAD_VERTEX q[4];
    BuildLayerTileQuad(&l, 0, 0, 0xFFFFFFFFu, q);
    // Before: left 9.5, right 521.5, top 19.5, bottom 35.5. (x, y) -> anchor + (-(y - ay), x - ax).
    const float want[4][2] = {{10 - 15.5f, 20 - 0.5f}, {10 - 15.5f, 20 + 511.5f}, {10 + 0.5f, 20 - 0.5f}, {10 + 0.5f, 20 + 511.5f}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(q[i].x, want[i][0], 1e-3) << i;
        EXPECT_NEAR(q[i].y, want[i][1], 1e-3) << i;
    }
    // The uv rule: eighth-texel offsets from the fractional parts, signed.
    EXPECT_DOUBLE_EQ(Frac16(-0.5), -0.5);
    EXPECT_DOUBLE_EQ(Frac16(2.25), 0.25);
    l.afGpuAngle[2] = 0;
    BuildLayerTileQuad(&l, 0, 0, 0xFFFFFFFFu, q);
    EXPECT_FLOAT_EQ(q[2].uv[0][0], 0.25f * 0.5f / 512);
    EXPECT_FLOAT_EQ(q[1].uv[0][0], 1 + 0.25f * 0.5f / 512);
}

TEST_F(GpuTest, CaptureSizes)
{
    ASSERT_EQ(InitDirect3D(), 0);
    W0();
    TREE_NODE* t = Plain("W0/t", 8, 8, 3, Noise);
    GetNodeLayer(t)->bKind = LAYERKIND_TEXTURE;
    ASSERT_EQ(UploadLayerTextures(GetNodeLayer(t), 0, 0, 0), 0);
    GetNodeLayer(t)->llX100 = 0;
    // A capture layer of another size than the window receives nothing.
    TREE_NODE* c = Plain("W0/cap", 32, 48, 2, [](int, int) { return 0x11223344u; });
    g_pCaptureLayer = c;
    EXPECT_EQ(RenderGpuFrame(), 0);
    EXPECT_EQ(reinterpret_cast<uint32_t*>(GetNodeLayer(c)->pOwnedPixels)[0], 0x11223344u);
    // CaptureLayerGpu: the destination gets a buffer of the logical size holding the source.
    TREE_NODE* d = Plain("W0/dst", 2, 2, 4, Noise);
    ASSERT_EQ(CaptureLayerGpu(d, t), 0);
    const LAYER* pd = GetNodeLayer(d);
    EXPECT_EQ(pd->nWidth, 64);
    EXPECT_EQ(pd->nHeight, 48);
    const uint32_t* px = reinterpret_cast<const uint32_t*>(pd->pOwnedPixels);
    EXPECT_EQ(px[0], Noise(0, 0));
    EXPECT_EQ(px[7 * 64 + 7], Noise(7, 7));
    EXPECT_EQ(px[8], 0u);
}

TEST_F(GpuTest, FailedRebuildTurnsTextureLayersIntoCpuLayers)
{
    ASSERT_EQ(InitDirect3D(), 0);
    W0();
    TREE_NODE* t = Plain("W0/t", 8, 8, 3, Noise);
    GetNodeLayer(t)->bKind = LAYERKIND_TEXTURE;
    ASSERT_EQ(UploadLayerTextures(GetNodeLayer(t), 0, 0, 0), 0);
    g_pCaptureLayer = Plain("W0/cap", 64, 48, 2, Noise);
    g_SgFaults.bDeviceLost = 1;
    g_SgFaults.anFailAt[SG_STEP_CREATE_OBJECT] = g_SgFaults.anCalls[SG_STEP_CREATE_OBJECT] + 1;
    EXPECT_EQ(RenderGpuFrame(), 0);
    EXPECT_EQ(g_bDirect3D, 0);
    EXPECT_EQ(g_nDrawMethod, 0);
    EXPECT_EQ(g_bInterpolate, 1);
    EXPECT_EQ(GetNodeLayer(t)->bKind, LAYERKIND_CPU);
    EXPECT_EQ(GetNodeLayer(t)->apTextures[0], nullptr);
    EXPECT_EQ(boxes.boxes.back().strText, GetEngineText(TXT_START_GPU_FALLBACK));
    EXPECT_EQ(SgLiveObjects(), 0);
}

// A reset request on the soft device keeps the layers' textures; only a new logical size makes the
// size-dependent targets again.
TEST_F(GpuTest, ResetRequestKeepsTexturesAndFollowsTheSize)
{
    ASSERT_EQ(InitDirect3D(), 0);
    W0();
    TREE_NODE* t = Plain("W0/t", 8, 8, 3, Noise);
    GetNodeLayer(t)->bKind = LAYERKIND_TEXTURE;
    ASSERT_EQ(UploadLayerTextures(GetNodeLayer(t), 0, 0, 0), 0);
    void* pTile = GetNodeLayer(t)->apTextures[0];
    SG_DEVICE* pDev = g_pD3DDevice;
    ResetDirect3D();
    EXPECT_EQ(g_pD3DDevice, pDev);
    s_aWindow[0].nWidth = 80;
    s_aWindow[0].nHeight = 40;
    g_bResetRequest = 1;
    g_pCaptureLayer = Plain("W0/cap", 80, 40, 2, Noise);
    EXPECT_EQ(RenderGpuFrame(), 0);
    EXPECT_EQ(g_bResetRequest, 0);
    EXPECT_EQ(g_nRenderWidth, 80);
    EXPECT_EQ(g_pBackBuffer->nWidth, 80);
    EXPECT_EQ(g_pCaptureTexture->nHeight, 40);
    EXPECT_EQ(GetNodeLayer(t)->apTextures[0], pTile);
    EXPECT_EQ(reinterpret_cast<uint32_t*>(GetNodeLayer(g_pCaptureLayer)->pOwnedPixels)[0], Noise(0, 0));
}

// The same scene drawn by the CPU compositor and through the device into the capture layer: opaque
// texture layers at whole positions with point sampling come out exactly alike. (Layers with partial
// alpha differ by design: the device blends alpha too, so the capture carries a*a.)
TEST_F(GpuTest, SceneThroughTheDeviceMatchesTheCpuCompositor)
{
    auto build = [&](bool bGpu) {
        W0();
        TREE_NODE* cap = Plain("W0/cap", 64, 48, 1, [](int, int) { return 0u; });
        TREE_NODE* a = Plain("W0/a", 64, 48, 2, Noise);
        TREE_NODE* b = Plain("W0/b", 20, 10, 3, [](int x, int y) { return 0xFF000000u | uint32_t(x * 9 + y * 2000); });
        GetNodeLayer(b)->llX = 7;
        GetNodeLayer(b)->llY = 5;
        GetNodeLayer(b)->llX100 = 700;
        GetNodeLayer(b)->llY100 = 500;
        if (bGpu) {
            for (TREE_NODE* n : {a, b}) {
                GetNodeLayer(n)->bKind = LAYERKIND_TEXTURE;
                EXPECT_EQ(UploadLayerTextures(GetNodeLayer(n), 0, 512, 256), 0);
            }
            g_pCaptureLayer = cap;
        }
        g_bFullRedraw = 1;
        ++g_llFrameCount;
        EXPECT_EQ(RenderWindowCPU(0), 0);
        const LAYER* w = GetNodeLayer(s_apSlot[0]);
        std::vector<uint8_t> pic(w->pDisplayPixels, w->pDisplayPixels + 64 * 48 * 4);
        g_pCaptureLayer = nullptr;
        FreeNodeSubtree(s_apSlot[0]);
        s_apSlot[0] = nullptr;
        return pic;
    };
    g_bDirect3D = 0;
    const std::vector<uint8_t> cpu = build(false);
    g_bDirect3D = 1;
    ASSERT_EQ(InitDirect3D(), 0);
    const std::vector<uint8_t> gpu = build(true);
    ASSERT_EQ(cpu.size(), gpu.size());
    int nDiff = 0;
    for (size_t i = 0; i < cpu.size(); ++i) nDiff += cpu[i] != gpu[i];
    EXPECT_EQ(nDiff, 0);
    EXPECT_EQ(cpu[(5 * 64 + 7) * 4 + 2], 0);  // b's first pixel, drawn by both
}

// With the E-mote component bound, the device start makes its device object of the new device
// after the neutral camera; an E-mote layer's player draws into the layer's one tile, cleared to
// mid grey, which is then drawn like a texture layer; a lost device releases the players before
// the rebuild and sets the camera back after it.
std::vector<std::string> s_emoteCalls;
void* s_pEmoteDeviceSeen = nullptr;
uint32_t s_dwTileBeforeDraw = 0;

TEST_F(GpuTest, EmoteLayersDrawThroughTheirTileAndFollowTheDevice)
{
    s_emoteCalls.clear();
    g_bEmoteAvailable = 1;
    g_DisplayHooks.pfnResetEmoteTransforms = [] { s_emoteCalls.push_back("reset camera"); };
    g_DisplayHooks.pfnInitEmoteDevice = [](void* const* ppDevice) {
        s_emoteCalls.push_back("init device");
        s_pEmoteDeviceSeen = *ppDevice;
        return 0;
    };
    g_DisplayHooks.pfnDrawEmoteLayer = [](LAYER* p, int32_t w, int32_t h) {
        s_emoteCalls.push_back("draw " + std::to_string(w) + "x" + std::to_string(h));
        s_dwTileBeforeDraw = static_cast<SG_TEXTURE*>(p->apTextures[0])->pPixels[5];
        SgClear(g_pD3DDevice, 0xFF102030u);   // the player's picture: the whole canvas
    };
    g_EngineHooks.pfnReleaseEmotePlayers = [] { s_emoteCalls.push_back("release players"); };

    ASSERT_EQ(InitDirect3D(), 0);
    EXPECT_EQ(s_emoteCalls, (std::vector<std::string>{"reset camera", "init device"}));
    EXPECT_EQ(s_pEmoteDeviceSeen, static_cast<void*>(g_pD3DDevice));
    // The players' camera lands in the device's transforms, named by their Direct3D numbers.
    EMOTE_MATRIX view{};
    view.m[3][1] = 7.5f;
    ASSERT_NE(g_pfnEmoteSetTransform, nullptr);
    g_pfnEmoteSetTransform(EMOTE_TS_VIEW, &view);
    float afView[16] = {};
    ASSERT_EQ(SgGetTransform(g_pD3DDevice, SG_TS_VIEW, afView), SG_OK);
    EXPECT_EQ(afView[13], 7.5f);

    W0();
    TREE_NODE* e = Plain("W0/e", 4, 4, 3, Noise);
    GetNodeLayer(e)->bKind = LAYERKIND_EMOTE;
    ASSERT_EQ(UploadLayerTextures(GetNodeLayer(e), 0, 0, 0), 0);
    EXPECT_EQ(GetNodeLayer(e)->bTexColumns, 1);
    EXPECT_EQ(GetNodeLayer(e)->anTexColumnWidth[0], 64);
    g_pCaptureLayer = Plain("W0/cap", 64, 48, 2, Noise);
    s_emoteCalls.clear();
    EXPECT_EQ(RenderGpuFrame(), 0);
    EXPECT_EQ(s_emoteCalls, (std::vector<std::string>{"draw 64x48"}));
    EXPECT_EQ(s_dwTileBeforeDraw, 0x00808080u);
    const uint32_t* px = reinterpret_cast<const uint32_t*>(GetNodeLayer(g_pCaptureLayer)->pOwnedPixels);
    EXPECT_EQ(px[10 * 64 + 10], 0xFF102030u);

    s_emoteCalls.clear();
    g_SgFaults.bDeviceLost = 1;
    EXPECT_EQ(RenderGpuFrame(), 0);
    ASSERT_GE(s_emoteCalls.size(), 4u);
    EXPECT_EQ(s_emoteCalls.front(), "release players");
    EXPECT_NE(std::find(s_emoteCalls.begin(), s_emoteCalls.end(), "init device"), s_emoteCalls.end());
    g_bEmoteAvailable = 0;
}

}  // namespace

namespace {

// The pass choice: a mask with vagueness 0 draws without it; with vagueness it masks (threshold 0
// hides everything); a second layer at fade 256 shows the second layer's texel.
TEST_F(GpuTest, MaskAndSecondLayerPasses)
{
    s_aWindow[0].nWidth = 1;
    s_aWindow[0].nHeight = 1;
    ASSERT_EQ(InitDirect3D(), 0);
    W0();
    LAYER* p = GetNodeLayer(Plain("W0/t", 1, 1, 2, [](int, int) { return 0xFFC86400u; }));
    LAYER* m = GetNodeLayer(Plain("W0/m", 1, 1, 3, [](int, int) { return 0xFFFFFFFFu; }));
    LAYER* s = GetNodeLayer(Plain("W0/s", 1, 1, 4, [](int, int) { return 0xFF0000FFu; }));
    for (LAYER* l : {p, m, s}) {
        l->bKind = LAYERKIND_TEXTURE;
        ASSERT_EQ(UploadLayerTextures(l, 0, 0, 0), 0);
    }
    auto draw = [&](LAYER* pMask, LAYER* pSecond) {
        SgSetRenderTarget(g_pD3DDevice, g_pBackBuffer);
        SgClear(g_pD3DDevice, 0xFF102030u);
        EXPECT_EQ(DrawLayerGpu(p, pMask, pSecond, 1, 0), 0);
        return g_pBackBuffer->pPixels[0];
    };
    p->nMaskVagueness = 0;
    EXPECT_EQ(draw(m, nullptr), 0xFFC86400u);
    p->nMaskVagueness = 64;
    p->nMaskThreshold = 0;
    EXPECT_EQ(draw(m, nullptr), 0xFF102030u);
    p->nMaskVagueness = 0;
    p->nFadeLevel = 256;
    EXPECT_EQ(draw(nullptr, s), 0xFF0000FFu);
    p->nFadeLevel = 0;
    EXPECT_EQ(draw(m, s), 0xFFC86400u);  // vagueness 0: the second layer's pass 0
}

}  // namespace
