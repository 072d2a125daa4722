// The compositor's one-worker full redraw of the benchmark scene (bench/compositor_scene.h) against
// pixman's OVER chain over the same layer pixels into a 1920 x 1080 picture. The two are timed in
// alternating rounds, so a loaded machine slows both alike, and the medians and their ratio are
// printed.
// Built only when pixman is installed (a comparison, not part of the engine).
#include <pixman.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/compositor_scene.h"
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

constexpr int32_t kW = kBenchSceneW, kH = kBenchSceneH;

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
    BENCH_SCENE& scene = BenchCompositorScene();
    TREE_NODE* pWindow = scene.pWindow;
    std::vector<LAYER*> vLayers;
    for (TREE_NODE* pNode : scene.layers) vLayers.push_back(GetNodeLayer(pNode));

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
