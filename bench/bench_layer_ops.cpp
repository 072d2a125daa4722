// Layer-to-layer operations on full-HD layers, as a script that pastes or mixes every frame runs
// them, next to a plain copy of the destination's bytes. Bytes per second count the destination.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "root/startup.h"
#include "core/engine_tables.h"
#include "core/object_tree.h"
#include "image/layer.h"
#include "imageproc/blend_modes.h"
#include "imageproc/image_effects.h"
#include "imageproc/pixel_ops.h"

namespace {

constexpr int32_t kW = 1920, kH = 1080;
constexpr size_t kBytes = size_t(kW) * kH * 4;

struct SCENE {
    TREE_NODE* apNode[3] = {};
    SCENE()
    {
        FillMulDivTables();
        FillPixelOps(&g_PixelOps, 3, SelectPixelOpsSimd());
        // The engine's hooks: freeing a node releases its layer through them.
        InstallEngineParts();
        if (!g_pLayerRoot) g_pLayerRoot = CreateRootNode();
        const char* apszName[3] = {"bench_a", "bench_b", "bench_c"};
        uint32_t x = 12345;
        for (int i = 0; i < 3; ++i) {
            apNode[i] = CreateNode(g_pLayerRoot, apszName[i], 0, 1);
            LAYER* p = CreateNodeLayer(apNode[i]);
            uint8_t* pPixels = AllocPixelBuffer(nullptr, kW, kH, nullptr);
            for (size_t j = 0; j < kBytes; ++j) {
                x = x * 1664525u + 1013904223u;
                pPixels[j] = uint8_t(x >> 24);
            }
            SetLayerPixels(p, pPixels, kW, kH);
        }
    }
    ~SCENE()
    {
        for (TREE_NODE* p : apNode) FreeNode(p);
    }
    LAYER* L(int i) const { return GetNodeLayer(apNode[i]); }
};

void BM_LayerOpsCopyBaseline(benchmark::State& state)
{
    SCENE s;
    for (auto _ : state) {
        memcpy(s.L(1)->pOwnedPixels, s.L(0)->pOwnedPixels, kBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}
BENCHMARK(BM_LayerOpsCopyBaseline)->Unit(benchmark::kMillisecond);

// arg: the first layer's opacity (256 composes, else composes at that opacity).
void BM_PasteImage(benchmark::State& state)
{
    SCENE s;
    s.L(0)->nOpacity = int16_t(state.range(0));
    for (auto _ : state) {
        PasteImage(s.apNode[0], s.apNode[1], 0, 0);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}
BENCHMARK(BM_PasteImage)->Arg(256)->Arg(128)->Unit(benchmark::kMillisecond);

// The reference for the paste: the compositor's plain OVER blend (Normal mode, a layer with alpha at
// full opacity) of the same layer onto the same frame, row by row on the calling thread as the paste
// runs. The paste's goal is stated as a ratio to this figure. One instance per instruction set the
// engine may install (BM_AlphaOverFrame/<none|sse2|avx2|avx512>, up to SelectPixelOpsSimd); the
// engine's own choice is put back afterwards.
void BM_AlphaOverFrame(benchmark::State& state, int nSimd)
{
    SCENE s;
    FillPixelOps(&g_PixelOps, 3, nSimd);
    InitBlendTables();
    const BLEND_SPAN_FN pfnSpan = SelectBlendSpanAlpha(BLEND_NORMAL, 256);
    const size_t nRow = size_t(kW) * 4;
    for (auto _ : state) {
        for (int32_t y = 0; y < kH; ++y)
            pfnSpan(s.L(1)->pOwnedPixels + y * nRow, s.L(0)->pOwnedPixels + y * nRow, 256, int32_t(nRow));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
    FillPixelOps(&g_PixelOps, 3, SelectPixelOpsSimd());
}
const bool g_bAlphaOverFrameRegistered = [] {
    for (int nSimd = PIXEL_SIMD_NONE; nSimd <= SelectPixelOpsSimd(); ++nSimd)
        benchmark::RegisterBenchmark((std::string("BM_AlphaOverFrame/") + PixelOpsSimdName(nSimd)).c_str(),
                                     [nSimd](benchmark::State& state) { BM_AlphaOverFrame(state, nSimd); })
            ->Unit(benchmark::kMillisecond);
    return true;
}();

void BM_PasteImageBothOpacity(benchmark::State& state)
{
    SCENE s;
    s.L(0)->nOpacity = 200;
    s.L(1)->nOpacity = 256;
    for (auto _ : state) {
        PasteImageBothOpacity(s.apNode[0], s.apNode[1], 0, 0);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}
BENCHMARK(BM_PasteImageBothOpacity)->Unit(benchmark::kMillisecond);

void BM_MixImages(benchmark::State& state)
{
    SCENE s;
    int32_t P = 0;
    for (auto _ : state) {
        MixImages(s.apNode[0], s.apNode[1], s.apNode[2], 0, 0, P);
        P = (P + 7) & 255;
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}
BENCHMARK(BM_MixImages)->Unit(benchmark::kMillisecond);

void BM_ClearEqualPixels(benchmark::State& state)
{
    SCENE s;
    for (auto _ : state) {
        ClearEqualPixels(s.apNode[0], s.apNode[1], 0, 0);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}
BENCHMARK(BM_ClearEqualPixels)->Unit(benchmark::kMillisecond);

// Grows the canvas by a 16-pixel border into the second layer (a new buffer every time).
void BM_ResizeCanvas(benchmark::State& state)
{
    SCENE s;
    for (auto _ : state) {
        ResizeCanvas(s.apNode[0], s.apNode[1], 1, 16, 16, 16, 16);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}
BENCHMARK(BM_ResizeCanvas)->Unit(benchmark::kMillisecond);

// Finds the visible box of an image with a transparent border of 100 pixels and crops into the
// second layer, whose buffer already has the size after the first run.
void BM_AutoCropImage(benchmark::State& state)
{
    SCENE s;
    uint8_t* p = s.L(0)->pOwnedPixels;
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x)
            if (x < 100 || y < 100 || x >= kW - 100 || y >= kH - 100) p[(size_t(y) * kW + x) * 4 + 3] = 0;
            else p[(size_t(y) * kW + x) * 4 + 3] = 255;
    for (auto _ : state) {
        AutoCropImage(s.apNode[0], s.apNode[1], 1, 15, 0);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}
BENCHMARK(BM_AutoCropImage)->Unit(benchmark::kMillisecond);

}  // namespace
