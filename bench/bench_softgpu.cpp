// The software drawing device against the CPU compositor on the same 1920 x 1080 scene: five
// full-screen layers with alpha in blend mode 0. Device: the five layers as texture grids (512 x 256
// tiles) drawn with bilinear sampling into the back buffer, plus the read-back. CPU: the five layers
// composed by RenderWindowCPU with one worker. The ratio of the two times is the figure of interest.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/engine_globals.h"
#include "core/engine_tables.h"
#include "core/frame_loop.h"
#include "core/object_tree.h"
#include "core/settings.h"
#include "core/window_record.h"
#include "core/worker_pool.h"
#include "display/gpu_device.h"
#include "display/gpu_layers.h"
#include "display/window_state.h"
#include "image/dirty_rects.h"
#include "image/layer.h"
#include "imageproc/blend_modes.h"
#include "imageproc/compositor.h"
#include "imageproc/pixel_ops.h"

namespace {

constexpr int32_t kW = 1920, kH = 1080;

TREE_NODE* s_pSlot = nullptr;
LAYER s_back;
WINDOW_STATE s_window;
char s_szPath[KX_MAX_OBJECT_PATH];
TREE_NODE* s_pRoot = nullptr;
TREE_NODE* s_pWindow = nullptr;
TREE_NODE* s_apLayer[5];

// The scene's globals go in for one benchmark and come out again, so the other benchmarks' scenes
// stay as they were.
struct SWAP {
    TREE_NODE* pRoot;
    WINDOW_STATE* pWindow;
    char* pszPath;
    LAYER_HOOKS hooks;
    SWAP()
    {
        pRoot = g_pLayerRoot;
        pWindow = g_apWindowState[0];
        pszPath = g_pszLayerPath;
        hooks = g_LayerHooks;
        g_LayerHooks.pfnWindowLayerSetSlot = [](int i) { return i == 0 ? &s_pSlot : nullptr; };
        g_LayerHooks.pfnWindowBackLayer = [](int i) { return i == 0 ? &s_back : nullptr; };
        g_apWindowState[0] = &s_window;
        g_pszLayerPath = s_szPath;
        g_pLayerRoot = s_pRoot;
    }
    ~SWAP()
    {
        g_pLayerRoot = pRoot;
        g_apWindowState[0] = pWindow;
        g_pszLayerPath = pszPath;
        g_LayerHooks = hooks;
    }
};

void BuildScene()
{
    if (s_pRoot) return;
    FillMulDivTables();
    InitBlendTables();
    InitPixelOps();
    InstallCompositor();
    s_window.nIndex = 0;
    s_window.bVisible = 1;
    s_window.nWidth = kW;
    s_window.nHeight = kH;
    s_pRoot = CreateRootNode();
    SWAP swap;
    CreateGroupLayer("W0", kW, kH, 1);
    s_pWindow = FindNodeByPath(g_pLayerRoot, "W0", KX_FIND_GROUP);
    s_pSlot = s_pWindow;
    uint32_t seed = 7;
    for (int n = 0; n < 5; ++n) {
        char sz[16];
        std::snprintf(sz, sizeof sz, "W0/l%d", n);
        TREE_NODE* pNode = CreateNode(g_pLayerRoot, sz, 0, 2 + n);
        LAYER* p = CreateNodeLayer(pNode);
        uint8_t* px = AllocPixelBuffer(nullptr, kW, kH, nullptr);
        for (size_t i = 0; i < size_t(kW) * kH; ++i) {
            seed = seed * 1664525u + 1013904223u;
            // The bottom layer is opaque; the others have alpha, as sprites and fades do.
            const uint32_t v = n == 0 ? (seed | 0xFF000000u) : seed;
            std::memcpy(px + i * 4, &v, 4);
        }
        SetLayerPixels(p, px, kW, kH);
        p->bHasAlpha = n == 0 ? 0 : 1;
        s_apLayer[n] = pNode;
    }
}

void BM_SoftGpuFiveLayersBilinear(benchmark::State& state)
{
    BuildScene();
    SWAP swap;
    const uint8_t bSavedD3D = g_bDirect3D;
    g_bDirect3D = 1;
    g_nTileMaxWidth = 512;
    g_nTileMaxHeight = 256;
    g_nTextureFormat = SG_FMT_A8R8G8B8;
    g_bD3DCapsChecked = 0;
    if (InitDirect3D() != 0) {
        state.SkipWithError("no device");
        g_bDirect3D = bSavedD3D;
        return;
    }
    for (TREE_NODE* n : s_apLayer) {
        LAYER* p = GetNodeLayer(n);
        p->bKind = LAYERKIND_TEXTURE;
        UploadLayerTextures(p, 0, 512, 256);
    }
    std::vector<uint8_t> capture(size_t(kW) * kH * 4);
    for (auto _ : state) {
        SgSetRenderTarget(g_pD3DDevice, g_pBackBuffer);
        ClearRenderTarget();
        SgSetSamplerFilter(g_pD3DDevice, 0, SG_FILTER_LINEAR);
        for (TREE_NODE* n : s_apLayer) DrawLayerGpu(GetNodeLayer(n), nullptr, nullptr, 1, 0);
        ReadBackRenderTarget(g_pBackBuffer, kW, kH, capture.data());
        benchmark::DoNotOptimize(capture.data());
    }
    for (TREE_NODE* n : s_apLayer) {
        ReleaseLayerTextures(GetNodeLayer(n));
        GetNodeLayer(n)->bKind = LAYERKIND_CPU;
    }
    ReleaseDirect3D();
    g_bDirect3D = bSavedD3D;
    g_nTileMaxWidth = g_nTileMaxHeight = 0;
    state.SetItemsProcessed(int64_t(state.iterations()) * kW * kH * 5);
}
BENCHMARK(BM_SoftGpuFiveLayersBilinear)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CpuCompositorFiveLayers(benchmark::State& state)
{
    BuildScene();
    SWAP swap;
    SetWorkerCountForTest(1);
    StartWorkerThreads();
    for (auto _ : state) {
        DIRTY_BOX b{0, 0, kW - 1, kH - 1};
        MergeDirtyRect(s_pWindow, &b);
        ++g_llFrameCount;
        RenderWindowCPU(0);
        ResetDirtyRects(g_pLayerRoot->pFirstChild);
    }
    StopWorkerThreads();
    state.SetItemsProcessed(int64_t(state.iterations()) * kW * kH * 5);
}
BENCHMARK(BM_CpuCompositorFiveLayers)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
