// The compositor's one-worker full redraw of the benchmark scene (the scene of
// bench/bench_compositor.cpp: a 1920 x 1080 opaque background, three 700 x 1000 sprites with
// alpha, a 1800 x 300 message window at opacity 200 and 60 glyphs of 24 x 24) against pixman's OVER
// chain over the same layer pixels into a 1920 x 1080 picture. The two are timed in alternating
// rounds, so a loaded machine slows both alike, and the medians and their ratio are printed.
// Built only when pixman is installed (a comparison, not part of the engine).
#include <pixman.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/engine_tables.h"
#include "core/frame_loop.h"
#include "core/object_tree.h"
#include "core/worker_pool.h"
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
uint32_t s_nSeed = 99;

// The benchmark's layer: the same seed and pixels.
LAYER* AddPlain(const char* pszPath, int32_t w, int32_t h, int64_t x, int64_t y, int64_t llOrder, bool bOpaque)
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
    return p;
}

struct PIXMAN_LAYER {
    pixman_image_t* pImage;
    pixman_image_t* pMask;   // the layer's opacity, or NULL when opaque
    int32_t x, y, w, h;
};

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const int nRounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    FillMulDivTables();
    InitBlendTables();
    InitPixelOps();
    InstallCompositor();
    g_LayerHooks.pfnWindowLayerSetSlot = [](int i) { return i == 0 ? &s_pSlot : nullptr; };
    g_LayerHooks.pfnWindowBackLayer = [](int i) { return i == 0 ? &s_back : nullptr; };
    s_window.nIndex = 0;
    s_window.bVisible = 1;
    s_window.nWidth = kW;
    s_window.nHeight = kH;
    g_apWindowState[0] = &s_window;
    g_pszLayerPath = s_szPath;
    g_pLayerRoot = CreateRootNode();
    CreateGroupLayer("W0", kW, kH, 1);
    TREE_NODE* pWindow = FindNodeByPath(g_pLayerRoot, "W0", KX_FIND_GROUP);
    s_pSlot = pWindow;
    std::vector<LAYER*> vLayers;
    vLayers.push_back(AddPlain("W0/bg", kW, kH, 0, 0, 1, true));
    vLayers.push_back(AddPlain("W0/left", 700, 1000, 80, 80, 2, false));
    vLayers.push_back(AddPlain("W0/centre", 700, 1040, 610, 40, 3, false));
    vLayers.push_back(AddPlain("W0/right", 700, 1000, 1140, 80, 4, false));
    vLayers.push_back(AddPlain("W0/message", 1800, 300, 60, 760, 5, false));
    vLayers.back()->nOpacity = 200;
    for (int i = 0; i < 60; ++i) {
        char sz[32];
        std::snprintf(sz, sizeof sz, "W0/text%d", i);
        vLayers.push_back(AddPlain(sz, 24, 24, 100 + (i % 30) * 26, 800 + (i / 30) * 30, 10 + i, false));
    }

    // pixman's images over the same pixel buffers (B, G, R, A bytes are a8r8g8b8 on this
    // little-endian machine; the opaque background is x8r8g8b8).
    std::vector<PIXMAN_LAYER> vPixman;
    for (LAYER* p : vLayers) {
        PIXMAN_LAYER q{};
        q.pImage = pixman_image_create_bits(p->bHasAlpha ? PIXMAN_a8r8g8b8 : PIXMAN_x8r8g8b8, p->nWidth, p->nHeight,
                                            reinterpret_cast<uint32_t*>(p->pOwnedPixels), p->nWidth * 4);
        if (p->nOpacity < 256) {
            const pixman_color_t c{0, 0, 0, static_cast<uint16_t>(p->nOpacity * 256)};
            q.pMask = pixman_image_create_solid_fill(&c);
        }
        q.x = int32_t(p->llX);
        q.y = int32_t(p->llY);
        q.w = p->nWidth;
        q.h = p->nHeight;
        vPixman.push_back(q);
    }
    std::vector<uint32_t> vPicture(size_t(kW) * kH);
    pixman_image_t* pTarget = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, vPicture.data(), kW * 4);

    SetWorkerCountForTest(1);
    StartWorkerThreads();
    std::vector<double> vCompositor, vPixmanTimes;
    using CLOCK = std::chrono::steady_clock;
    for (int nRound = -10; nRound < nRounds; ++nRound) {
        auto t0 = CLOCK::now();
        DIRTY_BOX b{0, 0, kW - 1, kH - 1};
        MergeDirtyRect(pWindow, &b);
        ++g_llFrameCount;
        RenderWindowCPU(0);
        ResetDirtyRects(g_pLayerRoot->pFirstChild);
        auto t1 = CLOCK::now();
        for (const PIXMAN_LAYER& q : vPixman)
            pixman_image_composite32(PIXMAN_OP_OVER, q.pImage, q.pMask, pTarget, 0, 0, 0, 0, q.x, q.y, q.w, q.h);
        auto t2 = CLOCK::now();
        if (nRound < 0) continue;   // warming up
        vCompositor.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        vPixmanTimes.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
    }
    StopWorkerThreads();
    const double fCompositor = Median(vCompositor), fPixman = Median(vPixmanTimes);
    std::printf("scene redraw, one worker, median of %d rounds\n", nRounds);
    std::printf("  compositor   %8.3f ms\n", fCompositor);
    std::printf("  pixman OVER  %8.3f ms\n", fPixman);
    std::printf("  ratio        %8.3f (compositor / pixman)\n", fCompositor / fPixman);
    for (PIXMAN_LAYER& q : vPixman) {
        pixman_image_unref(q.pImage);
        if (q.pMask) pixman_image_unref(q.pMask);
    }
    pixman_image_unref(pTarget);
    return 0;
}
