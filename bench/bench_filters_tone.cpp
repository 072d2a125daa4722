// Blur, shadow and tone effect filters over a whole 1920 x 1080 image (what a script that animates
// an effect pays per frame), next to a plain copy of the same bytes. Blurs at radii 2, 16 and 256;
// the single-thread blurs and shadows run at every instruction set the engine may install here
// (BM_Blur/<none|sse2|avx2|avx512>/..., up to SelectPixelOpsSimd: the processor's best, capped by
// KOLVEX_PIXEL_SIMD), the *Workers forms run them at the engine's choice with 1 and with 4 image
// workers started, the *Plain forms with the plain routine they are checked against.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/worker_pool.h"
#include "imageproc/image_effects.h"
#include "imageproc/pixel_ops.h"

namespace {

constexpr int32_t kW = 1920, kH = 1080;
constexpr size_t kBytes = size_t(kW) * kH * 4;

struct FRAMES {
    uint8_t* pSrc;
    uint8_t* pDst;
    FRAMES()
    {
        InitPixelOps();   // the instruction set the engine picks at start-up
        pSrc = static_cast<uint8_t*>(std::aligned_alloc(64, kBytes));
        pDst = static_cast<uint8_t*>(std::aligned_alloc(64, kBytes));
        uint32_t x = 7;
        for (size_t i = 0; i < kBytes; ++i) {
            x = x * 1664525u + 1013904223u;
            pSrc[i] = static_cast<uint8_t>(x >> 24);
        }
        std::memset(pDst, 0, kBytes);
    }
    ~FRAMES()
    {
        std::free(pSrc);
        std::free(pDst);
    }
};

FRAMES& Frames()
{
    static FRAMES s;
    return s;
}

typedef int (*WINDOW_FILTER)(uint8_t*, const uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                             int32_t, int32_t, int32_t);
typedef int (*RECT_FILTER)(uint8_t*, const uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                           int32_t, int32_t);

void RunWindow(benchmark::State& state, WINDOW_FILTER pfn)
{
    FRAMES& f = Frames();
    const int32_t r = static_cast<int32_t>(state.range(0)), bAlpha = static_cast<int32_t>(state.range(1));
    for (auto _ : state) {
        pfn(f.pDst, f.pSrc, 0, 0, kW - 1, kH - 1, kW, kH, kW, kH, r, bAlpha);
        benchmark::DoNotOptimize(f.pDst);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}

void RunRect(benchmark::State& state, RECT_FILTER pfn, int32_t P)
{
    FRAMES& f = Frames();
    for (auto _ : state) {
        pfn(f.pDst, f.pSrc, 0, 0, kW - 1, kH - 1, kW, kH, kW, kH, P);
        benchmark::DoNotOptimize(f.pDst);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}

// The same with the image workers running: range(2) workers (1 or 4).
void RunWindowWorkers(benchmark::State& state, WINDOW_FILTER pfn)
{
    SetWorkerCountForTest(static_cast<int>(state.range(2)));
    StartWorkerThreads();
    RunWindow(state, pfn);
    StopWorkerThreads();
}

// The plain routine (no instruction-set forms, no workers), the reference the fast forms equal.
void RunWindowPlain(benchmark::State& state, WINDOW_FILTER pfn)
{
    const int nSimd = g_nPixelOpsSimd;
    g_nPixelOpsSimd = PIXEL_SIMD_NONE;
    RunWindow(state, pfn);
    g_nPixelOpsSimd = nSimd;
}

// At one instruction set: the routines and the set the filters ask for, put back afterwards.
void RunWindowAt(benchmark::State& state, WINDOW_FILTER pfn, int nSimd)
{
    Frames();   // the engine's choice first, so that it is what is put back
    const PIXEL_OPS saved = g_PixelOps;
    const int nSavedSimd = g_nPixelOpsSimd;
    FillPixelOps(&g_PixelOps, g_nPixelOpsLevel, nSimd);
    g_nPixelOpsSimd = nSimd;
    RunWindow(state, pfn);
    g_PixelOps = saved;
    g_nPixelOpsSimd = nSavedSimd;
}

void BM_CopyBaseline(benchmark::State& state)
{
    FRAMES& f = Frames();
    for (auto _ : state) {
        std::memcpy(f.pDst, f.pSrc, kBytes);
        benchmark::DoNotOptimize(f.pDst);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}

// Radius and alpha flag of each single-thread window benchmark.
struct WINDOW_BENCH {
    const char* pszName;
    WINDOW_FILTER pfn;
    std::vector<std::vector<int64_t>> args;
};

const bool g_bWindowBenchesRegistered = [] {
    const WINDOW_BENCH aBenches[] = {
        {"BM_Blur", FilterBlur, {{2, 0}, {2, 1}, {16, 1}, {256, 1}}},
        {"BM_BlurH", FilterBlurH, {{2, 1}, {256, 1}}},
        {"BM_BlurBox", FilterBlurBox, {{2, 1}, {16, 1}, {256, 1}}},
        {"BM_SoftShadow", FilterSoftShadow, {{16, 1}, {256, 1}}},
        {"BM_Shadow", FilterShadow, {{16, 1}}},
    };
    for (const WINDOW_BENCH& b : aBenches)
        for (int nSimd = PIXEL_SIMD_NONE; nSimd <= SelectPixelOpsSimd(); ++nSimd) {
            const WINDOW_FILTER pfn = b.pfn;
            auto* p = benchmark::RegisterBenchmark((std::string(b.pszName) + "/" + PixelOpsSimdName(nSimd)).c_str(),
                                                   [pfn, nSimd](benchmark::State& state) { RunWindowAt(state, pfn, nSimd); });
            for (const std::vector<int64_t>& a : b.args) p->Args(a);
            p->Unit(benchmark::kMillisecond);
        }
    return true;
}();

void BM_BlurWorkers(benchmark::State& s) { RunWindowWorkers(s, FilterBlur); }
void BM_BlurHWorkers(benchmark::State& s) { RunWindowWorkers(s, FilterBlurH); }
void BM_BlurVWorkers(benchmark::State& s) { RunWindowWorkers(s, FilterBlurV); }
void BM_BlurBoxWorkers(benchmark::State& s) { RunWindowWorkers(s, FilterBlurBox); }
void BM_SoftShadowWorkers(benchmark::State& s) { RunWindowWorkers(s, FilterSoftShadow); }
void BM_ShadowWorkers(benchmark::State& s) { RunWindowWorkers(s, FilterShadow); }
void BM_BlurPlain(benchmark::State& s) { RunWindowPlain(s, FilterBlur); }
void BM_BlurBoxPlain(benchmark::State& s) { RunWindowPlain(s, FilterBlurBox); }
void BM_SoftShadowPlain(benchmark::State& s) { RunWindowPlain(s, FilterSoftShadow); }
void BM_Brightness(benchmark::State& s) { RunRect(s, FilterBrightness, 200); }
void BM_Negative(benchmark::State& s) { RunRect(s, FilterNegative, 0); }
void BM_Sepia(benchmark::State& s) { RunRect(s, FilterSepia, 0); }

void BM_Threshold(benchmark::State& state)
{
    FRAMES& f = Frames();
    for (auto _ : state) {
        FilterThreshold(f.pDst, f.pSrc, 0, 0, kW - 1, kH - 1, kW, kH, kW, kH, 128);
        benchmark::DoNotOptimize(f.pDst);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}

void BM_AlphaRamp(benchmark::State& state)
{
    FRAMES& f = Frames();
    uint8_t bFlag = 0;
    for (auto _ : state) {
        FilterAlphaRamp(f.pDst, f.pSrc, &bFlag, 0, 0, kW - 1, kH - 1, kW, kH, 400, 1500);
        benchmark::DoNotOptimize(f.pDst);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}

}  // namespace

BENCHMARK(BM_CopyBaseline)->Unit(benchmark::kMillisecond);
// Radius, alpha flag, workers.
BENCHMARK(BM_BlurWorkers)->ArgsProduct({{2, 16, 256}, {0, 1}, {1, 4}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BlurHWorkers)->ArgsProduct({{2, 256}, {1}, {1, 4}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BlurVWorkers)->ArgsProduct({{2, 256}, {1}, {1, 4}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BlurBoxWorkers)->ArgsProduct({{2, 16, 256}, {1}, {1, 4}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SoftShadowWorkers)->ArgsProduct({{16, 256}, {1}, {1, 4}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ShadowWorkers)->ArgsProduct({{16}, {0, 1}, {1, 4}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BlurPlain)->Args({16, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlurBoxPlain)->Args({16, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SoftShadowPlain)->Args({16, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Brightness)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Negative)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sepia)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Threshold)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AlphaRamp)->Unit(benchmark::kMillisecond);
