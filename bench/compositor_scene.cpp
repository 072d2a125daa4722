#include "bench/compositor_scene.h"

#include <cstdio>
#include <cstring>

#include "core/engine_tables.h"
#include "core/object_tree.h"
#include "display/window_state.h"
#include "image/layer.h"
#include "imageproc/blend_modes.h"
#include "imageproc/compositor.h"
#include "imageproc/pixel_ops.h"

namespace {

TREE_NODE* s_pSlot = nullptr;
LAYER s_back;
WINDOW_STATE s_window;
char s_szPath[KX_MAX_OBJECT_PATH];
uint32_t s_nSeed = 99;

TREE_NODE* AddPlain(BENCH_SCENE& s, const char* pszPath, int32_t w, int32_t h, int64_t x, int64_t y, int64_t llOrder,
                    bool bOpaque)
{
    TREE_NODE* pNode = MakeBenchLayer(pszPath, w, h, x, y, llOrder, bOpaque);
    s.nLayerBytes += size_t(w) * h * 4;
    s.layers.push_back(pNode);
    return pNode;
}

}  // namespace

TREE_NODE* MakeBenchLayer(const char* pszPath, int32_t w, int32_t h, int64_t x, int64_t y, int64_t llOrder, bool bOpaque)
{
    TREE_NODE* pNode = CreateNode(g_pLayerRoot, pszPath, 0, llOrder);
    LAYER* p = CreateNodeLayer(pNode);
    uint8_t* pPixels = AllocPixelBuffer(nullptr, w, h, nullptr);
    for (size_t i = 0; i < size_t(w) * h; ++i) {
        s_nSeed = s_nSeed * 1664525u + 1013904223u;
        uint32_t v = s_nSeed;
        const size_t x0 = i % size_t(w), y0 = i / size_t(w);
        const bool bInside = x0 > size_t(w) / 8 && x0 < size_t(w) * 7 / 8 && y0 > size_t(h) / 10;
        v = (v & 0x00FFFFFFu) | (bOpaque || bInside ? 0xFF000000u : (v & 0x3F000000u));
        std::memcpy(pPixels + i * 4, &v, 4);
    }
    SetLayerPixels(p, pPixels, w, h);
    p->llX = x;
    p->llY = y;
    p->bHasAlpha = bOpaque ? 0 : 1;
    return pNode;
}

BENCH_SCENE& BenchCompositorScene()
{
    static BENCH_SCENE s;
    if (s.pWindow) return s;
    FillMulDivTables();
    InitBlendTables();
    InitPixelOps();
    InstallCompositor();
    g_LayerHooks.pfnWindowLayerSetSlot = [](int i) { return i == 0 ? &s_pSlot : nullptr; };
    g_LayerHooks.pfnWindowBackLayer = [](int i) { return i == 0 ? &s_back : nullptr; };
    s_window.nIndex = 0;
    s_window.bVisible = 1;
    s_window.nWidth = kBenchSceneW;
    s_window.nHeight = kBenchSceneH;
    g_apWindowState[0] = &s_window;
    g_pszLayerPath = s_szPath;
    g_pLayerRoot = CreateRootNode();
    CreateGroupLayer("W0", kBenchSceneW, kBenchSceneH, 1);
    s.pWindow = FindNodeByPath(g_pLayerRoot, "W0", KX_FIND_GROUP);
    s_pSlot = s.pWindow;
    AddPlain(s, "W0/bg", kBenchSceneW, kBenchSceneH, 0, 0, 1, true);
    AddPlain(s, "W0/left", 700, 1000, 80, 80, 2, false);
    AddPlain(s, "W0/centre", 700, 1040, 610, 40, 3, false);
    AddPlain(s, "W0/right", 700, 1000, 1140, 80, 4, false);
    TREE_NODE* pMsg = AddPlain(s, "W0/message", 1800, 300, 60, 760, 5, false);
    GetNodeLayer(pMsg)->nOpacity = 200;
    for (int i = 0; i < 60; ++i) {
        char sz[32];
        std::snprintf(sz, sizeof sz, "W0/text%d", i);
        TREE_NODE* p = AddPlain(s, sz, 24, 24, 100 + (i % 30) * 26, 800 + (i / 30) * 30, 10 + i, false);
        if (i == 31) s.pGlyph = p;
    }
    return s;
}
