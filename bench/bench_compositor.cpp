// The CPU compositor on a 1920 x 1080 visual-novel scene: an opaque background, three large sprites
// with alpha, a message window at opacity 200 with alpha and 60 text-like 24 x 24 glyph layers.
// Full: the whole window redrawn; Box: one glyph changes (a 24 x 24 dirty box). Each at 1, 2 and 4
// workers; FullTinted adds two sprites with colour filters, FullTintedBackground filters the
// background. Memcpy: a plain copy of the bytes the full redraw reads from its layers (the same
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

constexpr int32_t kW = 1920, kH = 1080;

TREE_NODE* s_pSlot = nullptr;
LAYER s_back;
WINDOW_STATE s_window;
char s_szPath[KX_MAX_OBJECT_PATH];

struct SCENE {
    TREE_NODE* pWindow = nullptr;
    TREE_NODE* pGlyph = nullptr;
    size_t nLayerBytes = 0;   // pixels of every layer drawn in a full redraw, in bytes
};

uint32_t s_nSeed = 99;

TREE_NODE* AddPlain(SCENE& s, const char* pszPath, int32_t w, int32_t h, int64_t x, int64_t y, int64_t llOrder,
                    bool bOpaque)
{
    TREE_NODE* pNode = CreateNode(g_pLayerRoot, pszPath, 0, llOrder);
    LAYER* p = CreateNodeLayer(pNode);
    uint8_t* pPixels = AllocPixelBuffer(nullptr, w, h, nullptr);
    for (size_t i = 0; i < size_t(w) * h; ++i) {
        s_nSeed = s_nSeed * 1664525u + 1013904223u;
        uint32_t v = s_nSeed;
        // Sprites: a solid body with a transparent surround, as character art has.
        const size_t x0 = i % size_t(w), y0 = i / size_t(w);
        const bool bInside = x0 > size_t(w) / 8 && x0 < size_t(w) * 7 / 8 && y0 > size_t(h) / 10;
        v = (v & 0x00FFFFFFu) | (bOpaque || bInside ? 0xFF000000u : (v & 0x3F000000u));
        std::memcpy(pPixels + i * 4, &v, 4);
    }
    SetLayerPixels(p, pPixels, w, h);
    p->llX = x;
    p->llY = y;
    p->bHasAlpha = bOpaque ? 0 : 1;
    s.nLayerBytes += size_t(w) * h * 4;
    return pNode;
}

SCENE& Scene()
{
    static SCENE s;
    if (s.pWindow) return s;
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
    s.pWindow = FindNodeByPath(g_pLayerRoot, "W0", KX_FIND_GROUP);
    s_pSlot = s.pWindow;
    AddPlain(s, "W0/bg", kW, kH, 0, 0, 1, true);
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
// are rebuilt in every frame they are drawn. The filters are set back to neutral afterwards.
struct TINT {
    const char* pszPath;
    int32_t nSaturation;
    int32_t nBalance;
};
void RunTintedRedraws(benchmark::State& state, std::initializer_list<TINT> tints)
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

// The 1920 x 1080 background tinted and greyed: its colour copy (balance, then saturation, into the
// cache) is rebuilt in every frame, its rows split over the workers.
void BM_ComposeFullTintedBackground(benchmark::State& state)
{
    RunTintedRedraws(state, {{"W0/bg", 64, 0x6070A0}});
}
BENCHMARK(BM_ComposeFullTintedBackground)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

// Full redraws with the 60 glyphs drawn through one 24 x 24 mask that they all name by path (a leaf
// outside the window's tree, so the other benchmarks never see it). The mask paths are cleared
// afterwards.
void BM_ComposeFullMasked(benchmark::State& state)
{
    SCENE& s = Scene();
    static TREE_NODE* s_pMask = nullptr;
    if (!s_pMask) {
        const size_t nBytes = s.nLayerBytes;   // the mask is not drawn itself
        s_pMask = AddPlain(s, "glyphmask", 24, 24, 0, 0, 2, false);
        s.nLayerBytes = nBytes;
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
        const size_t nBytes = s.nLayerBytes;
        s_pMask = AddPlain(s, "glyphmask", 24, 24, 0, 0, 2, false);
        s.nLayerBytes = nBytes;
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
