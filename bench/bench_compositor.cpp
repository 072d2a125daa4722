// The CPU compositor on a 1920 x 1080 visual-novel scene: an opaque background, three large sprites
// with alpha, a message window at opacity 200 with alpha and 60 text-like 24 x 24 glyph layers.
// Full: the whole window redrawn; Box: one glyph changes (a 24 x 24 dirty box). Each at 1, 2 and 4
// workers; FullTinted adds two sprites with colour filters, FullTintedBackground filters the
// background (its colour copy kept from frame to frame), FullTintedBackgroundRepainted marks the
// background's pixels changed in every frame, so its colour copy is made again each time. Memcpy: a plain copy of the bytes the full redraw reads from its layers (the same
// bytes-per-second figure), the memory-bandwidth yardstick of the full redraw. RedrawAllocations:
// heap allocations per frame step (redraw and present) of each kind of redraw, after its first.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "bench/alloc_count.h"
#include "bench/compositor_scene.h"
#include "core/engine_tables.h"
#include "core/frame_loop.h"
#include "core/object_tree.h"
#include "display/window_state.h"
#include "image/dirty_rects.h"
#include "image/layer.h"
#include "imageproc/blend_modes.h"
#include "imageproc/compositor.h"
#include "imageproc/pixel_ops.h"
#include "core/worker_pool.h"

namespace {

constexpr int32_t kW = kBenchSceneW, kH = kBenchSceneH;
using SCENE = BENCH_SCENE;
SCENE& Scene() { return BenchCompositorScene(); }

void MarkWholeWindow(TREE_NODE* pWindow)
{
    DIRTY_BOX b{0, 0, kW - 1, kH - 1};
    MergeDirtyRect(pWindow, &b);
}

void BM_ComposeFull(benchmark::State& state)
{
    SCENE& s = Scene();
    SetWorkerCountForTest(static_cast<int>(state.range(0)));
    StartWorkerThreads();
    for (auto _ : state) {
        MarkWholeWindow(s.pWindow);
        ++g_llFrameCount;
        RenderWindowCPU(0);
        ResetDirtyRects(g_pLayerRoot->pFirstChild);
    }
    StopWorkerThreads();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.nLayerBytes));
}
BENCHMARK(BM_ComposeFull)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ComposeSmallBox(benchmark::State& state)
{
    SCENE& s = Scene();
    SetWorkerCountForTest(static_cast<int>(state.range(0)));
    StartWorkerThreads();
    for (auto _ : state) {
        GetNodeLayer(s.pGlyph)->pOwnedPixels[0] ^= 1;
        MarkLayerDirty(s.pGlyph);
        ++g_llFrameCount;
        RenderWindowCPU(0);
        ResetDirtyRects(g_pLayerRoot->pFirstChild);
    }
    StopWorkerThreads();
}
BENCHMARK(BM_ComposeSmallBox)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Full redraws with the named layers' colour filters set (saturation, balance); their colour caches
// are kept while their pixels stay, or made again in every frame when bRepaint marks the pixels
// changed. The filters are set back to neutral afterwards.
struct TINT {
    const char* pszPath;
    int32_t nSaturation;
    int32_t nBalance;
};
void RunTintedRedraws(benchmark::State& state, std::initializer_list<TINT> tints, bool bRepaint = false)
{
    SCENE& s = Scene();
    for (const TINT& t : tints) {
        LAYER* p = GetNodeLayer(FindNodeByPath(g_pLayerRoot, t.pszPath, KX_FIND_LEAF));
        p->nSaturation = t.nSaturation;
        p->nColorBalance = t.nBalance;
    }
    SetWorkerCountForTest(static_cast<int>(state.range(0)));
    StartWorkerThreads();
    for (auto _ : state) {
        MarkWholeWindow(s.pWindow);
        if (bRepaint)
            for (const TINT& t : tints) MarkPixelsChanged(GetNodeLayer(FindNodeByPath(g_pLayerRoot, t.pszPath, KX_FIND_LEAF)));
        ++g_llFrameCount;
        RenderWindowCPU(0);
        ResetDirtyRects(g_pLayerRoot->pFirstChild);
    }
    StopWorkerThreads();
    for (const TINT& t : tints) {
        LAYER* p = GetNodeLayer(FindNodeByPath(g_pLayerRoot, t.pszPath, KX_FIND_LEAF));
        p->nSaturation = 128;
        p->nColorBalance = 0x808080;
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.nLayerBytes));
}

// The centre sprite greyed (saturation 64) and the left one tinted.
void BM_ComposeFullTinted(benchmark::State& state)
{
    RunTintedRedraws(state, {{"W0/centre", 64, 0x808080}, {"W0/left", 128, 0x6070A0}});
}
BENCHMARK(BM_ComposeFullTinted)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

// The 1920 x 1080 background tinted and greyed under a full redraw: its colour copy (balance, then
// saturation, into the cache) is made once and drawn from in every frame.
void BM_ComposeFullTintedBackground(benchmark::State& state)
{
    RunTintedRedraws(state, {{"W0/bg", 64, 0x6070A0}});
}
BENCHMARK(BM_ComposeFullTintedBackground)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same with the background repainted in every frame (a movie or an animation playing in it):
// the colour copy is made again each time, its rows split over the workers.
void BM_ComposeFullTintedBackgroundRepainted(benchmark::State& state)
{
    RunTintedRedraws(state, {{"W0/bg", 64, 0x6070A0}}, true);
}
BENCHMARK(BM_ComposeFullTintedBackgroundRepainted)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

// Full redraws with the 60 glyphs drawn through one 24 x 24 mask that they all name by path (a leaf
// outside the window's tree, so the other benchmarks never see it). The mask paths are cleared
// afterwards.
void BM_ComposeFullMasked(benchmark::State& state)
{
    SCENE& s = Scene();
    static TREE_NODE* s_pMask = nullptr;
    if (!s_pMask) {
        s_pMask = MakeBenchLayer("glyphmask", 24, 24, 0, 0, 2, false);   // not drawn itself
    }
    std::vector<LAYER*> vGlyphs;
    for (TREE_NODE* p = s.pWindow->pFirstChild; p; p = p->pNext)
        if (p->pszName && std::strncmp(p->pszName, "text", 4) == 0) vGlyphs.push_back(GetNodeLayer(p));
    const int16_t nVagueness = vGlyphs.empty() ? 0 : vGlyphs[0]->nMaskVagueness;
    for (LAYER* p : vGlyphs) {
        std::strcpy(p->pszMaskPath, "glyphmask");
        p->nMaskThreshold = 200;
        p->nMaskVagueness = 64;
    }
    SetWorkerCountForTest(static_cast<int>(state.range(0)));
    StartWorkerThreads();
    for (auto _ : state) {
        MarkWholeWindow(s.pWindow);
        ++g_llFrameCount;
        RenderWindowCPU(0);
        ResetDirtyRects(g_pLayerRoot->pFirstChild);
    }
    StopWorkerThreads();
    for (LAYER* p : vGlyphs) {
        p->pszMaskPath[0] = 0;
        p->nMaskThreshold = 256;
        p->nMaskVagueness = nVagueness;
    }
}
BENCHMARK(BM_ComposeFullMasked)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

// Heap allocations per frame step (render and present of the window) after the first frame, for
// the plain full redraw (0), the tinted background (1), the tinted sprites (2), the masked glyphs
// (3) and a one-glyph box (4), at 1 and 4 workers. The counter is "allocs_per_redraw".
void BM_RedrawAllocations(benchmark::State& state)
{
    SCENE& s = Scene();
    if (!BenchCountsAllocations()) {
        state.SkipWithError("allocations are not counted in this build");
        return;
    }
    const int nKind = static_cast<int>(state.range(0));
    static TREE_NODE* s_pMask = nullptr;
    if (nKind == 3 && !s_pMask) {
        s_pMask = MakeBenchLayer("glyphmask", 24, 24, 0, 0, 2, false);
    }
    std::vector<LAYER*> vChanged;
    const auto tint = [&](const char* pszPath, int32_t nSaturation, int32_t nBalance) {
        LAYER* p = GetNodeLayer(FindNodeByPath(g_pLayerRoot, pszPath, KX_FIND_LEAF));
        p->nSaturation = nSaturation;
        p->nColorBalance = nBalance;
        vChanged.push_back(p);
    };
    if (nKind == 1) tint("W0/bg", 64, 0x6070A0);
    if (nKind == 2) {
        tint("W0/centre", 64, 0x808080);
        tint("W0/left", 128, 0x6070A0);
    }
    std::vector<LAYER*> vGlyphs;
    int16_t nVagueness = 0;
    if (nKind == 3)
        for (TREE_NODE* p = s.pWindow->pFirstChild; p; p = p->pNext)
            if (p->pszName && std::strncmp(p->pszName, "text", 4) == 0) {
                LAYER* q = GetNodeLayer(p);
                nVagueness = q->nMaskVagueness;
                std::strcpy(q->pszMaskPath, "glyphmask");
                q->nMaskThreshold = 200;
                q->nMaskVagueness = 64;
                vGlyphs.push_back(q);
            }
    const auto frame = [&] {
        if (nKind == 4) {
            GetNodeLayer(s.pGlyph)->pOwnedPixels[0] ^= 1;
            MarkLayerDirty(s.pGlyph);
        } else {
            MarkWholeWindow(s.pWindow);
        }
        ++g_llFrameCount;
        RenderWindowCPU(0);
        PresentWindowCPU(0);
        ResetDirtyRects(g_pLayerRoot->pFirstChild);
    };
    SetWorkerCountForTest(static_cast<int>(state.range(1)));
    StartWorkerThreads();
    frame();
    const uint64_t nBefore = BenchAllocationCount();
    for (auto _ : state) frame();
    const uint64_t nAllocations = BenchAllocationCount() - nBefore;
    StopWorkerThreads();
    for (LAYER* p : vChanged) {
        p->nSaturation = 128;
        p->nColorBalance = 0x808080;
    }
    for (LAYER* p : vGlyphs) {
        p->pszMaskPath[0] = 0;
        p->nMaskThreshold = 256;
        p->nMaskVagueness = nVagueness;
    }
    state.counters["allocs_per_redraw"] =
        benchmark::Counter(double(nAllocations) / double(std::max<int64_t>(state.iterations(), 1)));
}
BENCHMARK(BM_RedrawAllocations)->ArgsProduct({{0, 1, 2, 3, 4}, {1, 4}})->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MemcpySameBytes(benchmark::State& state)
{
    const size_t n = Scene().nLayerBytes;
    auto* pSrc = static_cast<uint8_t*>(std::aligned_alloc(64, (n + 63) & ~size_t(63)));
    auto* pDst = static_cast<uint8_t*>(std::aligned_alloc(64, (n + 63) & ~size_t(63)));
    std::memset(pSrc, 1, n);
    std::memset(pDst, 2, n);
    for (auto _ : state) {
        std::memcpy(pDst, pSrc, n);
        benchmark::DoNotOptimize(pDst);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
    std::free(pSrc);
    std::free(pDst);
}
BENCHMARK(BM_MemcpySameBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
