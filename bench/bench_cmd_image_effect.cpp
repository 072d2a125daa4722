// The effect dispatcher as scripts drive it every frame on a 1920 x 1080 layer: the result placed
// into a second layer (the usual animation form: the source stays, the copy is shown) and into the
// layer itself (a new buffer per call), for a colour filter and an in-place filter. Bytes per second
// count the output frame.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>

#include "root/startup.h"
#include "core/engine_tables.h"
#include "core/object_tree.h"
#include "image/layer.h"
#include "imageproc/blend_modes.h"
#include "imageproc/image_effects.h"
#include "imageproc/pixel_ops.h"

namespace {

constexpr int32_t kW = 1920, kH = 1080;

struct TREE {
    TREE_NODE* pFirst = nullptr;
    TREE_NODE* pSecond = nullptr;
    TREE()
    {
        FillMulDivTables();
        InitBlendTables();
        FillPixelOps(&g_PixelOps, 3, SelectPixelOpsSimd());
        InstallEngineParts();
        g_pLayerRoot = CreateRootNode();
        pFirst = CreateNode(g_pLayerRoot, "a", 0, 1);
        pSecond = CreateNode(g_pLayerRoot, "b", 0, 2);
        LAYER* pA = CreateNodeLayer(pFirst);
        CreateNodeLayer(pSecond);
        uint8_t* p = AllocPixelBuffer(nullptr, kW, kH, nullptr);
        uint32_t x = 7;
        for (size_t i = 0; i < size_t(kW) * kH * 4; ++i) {
            x = x * 1664525u + 1013904223u;
            p[i] = static_cast<uint8_t>(x >> 24);
        }
        SetLayerPixels(pA, p, kW, kH);
    }
    ~TREE()
    {
        while (g_pLayerRoot->pFirstChild) FreeNodeSubtree(g_pLayerRoot->pFirstChild);
        FreeTreeNode(g_pLayerRoot);
        g_pLayerRoot = nullptr;
    }
};

void BM_EffectIntoSecondLayer(benchmark::State& state)
{
    TREE t;
    const int32_t nCode = static_cast<int32_t>(state.range(0));
    for (auto _ : state) {
        const int rc = ApplyImageEffect(nCode, t.pFirst, t.pSecond, 0, 0, kW - 1, kH - 1, 0x9070A0, 0, 1, 3);
        benchmark::DoNotOptimize(rc);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kW * kH * 4);
}
BENCHMARK(BM_EffectIntoSecondLayer)->Arg(EFFECT_COLOR_BALANCE)->Arg(EFFECT_FILL)->Unit(benchmark::kMillisecond);

void BM_EffectInPlace(benchmark::State& state)
{
    TREE t;
    const int32_t nCode = static_cast<int32_t>(state.range(0));
    for (auto _ : state) {
        const int rc = ApplyImageEffect(nCode, t.pFirst, nullptr, 0, 0, kW - 1, kH - 1, 0x808080, 0, 0, 3);
        benchmark::DoNotOptimize(rc);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kW * kH * 4);
}
BENCHMARK(BM_EffectInPlace)->Arg(EFFECT_COLOR_BALANCE)->Arg(EFFECT_FILL)->Unit(benchmark::kMillisecond);

}  // namespace
