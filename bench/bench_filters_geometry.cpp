// The geometric and pattern filters that scripts may run every frame for animation (waves, swirl,
// mosaic, mirror, flip), on a 1920 x 1080 frame, next to a plain copy of the frame's bytes. Scatter
// is a one-off transition: one pass of cells is measured. Bytes per second count the output frame.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/kx_math.h"
#include "imageproc/image_effects.h"

namespace {

constexpr int32_t kW = 1920, kH = 1080;
constexpr size_t kFrameBytes = size_t(kW) * kH * 4;

uint8_t* AllocFrame(uint32_t seed)
{
    // The layer rule: the pixels, a spare row and 4 spare bytes (cleared), 64-byte aligned.
    size_t n = kFrameBytes + size_t(kW) * 4 + 4;
    size_t nAlloc = (n + 63) & ~size_t(63);
    auto* p = static_cast<uint8_t*>(std::aligned_alloc(64, nAlloc));
    uint32_t x = seed;
    for (size_t i = 0; i < kFrameBytes; ++i) {
        x = x * 1664525u + 1013904223u;
        p[i] = static_cast<uint8_t>(x >> 24);
    }
    memset(p + kFrameBytes, 0, nAlloc - kFrameBytes);
    return p;
}

struct FRAMES {
    uint8_t* pSrc = AllocFrame(5);
    uint8_t* pDst = AllocFrame(6);
    ~FRAMES()
    {
        free(pSrc);
        free(pDst);
    }
};

void BM_GeometryCopyBaseline(benchmark::State& state)
{
    FRAMES f;
    for (auto _ : state) {
        memcpy(f.pDst, f.pSrc, kFrameBytes);
        benchmark::DoNotOptimize(f.pDst);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kFrameBytes));
}
BENCHMARK(BM_GeometryCopyBaseline)->Unit(benchmark::kMillisecond);

typedef int (*PFN_FILTER)(uint8_t*, const uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                          int32_t, int32_t);

template <PFN_FILTER pfn>
void BM_Filter(benchmark::State& state)
{
    FRAMES f;
    const int32_t P = static_cast<int32_t>(state.range(0));
    MsvcSrand(1);
    for (auto _ : state) {
        pfn(f.pDst, f.pSrc, 0, 0, kW - 1, kH - 1, kW, kH, kW, kH, P);
        benchmark::DoNotOptimize(f.pDst);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kFrameBytes));
}
BENCHMARK_TEMPLATE(BM_Filter, FilterMirror)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Filter, FilterFlip)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Filter, FilterMosaic)->Arg(4)->Arg(16)->Arg(256)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Filter, FilterSwirl)->Arg(900)->Arg(3600)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Filter, FilterScatter)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_Wave(benchmark::State& state)
{
    FRAMES f;
    const int32_t nType = static_cast<int32_t>(state.range(0));
    int32_t Q = 0;
    for (auto _ : state) {
        FilterWave(f.pDst, f.pSrc, 0, 0, kW - 1, kH - 1, kW, kH, kW, kH, 12, Q, nType);
        Q = (Q + 3) % 360;   // the phase moves each frame, as an animated wave does
        benchmark::DoNotOptimize(f.pDst);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kFrameBytes));
}
BENCHMARK(BM_Wave)->Arg(WAVE_HORIZONTAL)->Arg(WAVE_VERTICAL)->Arg(WAVE_BOTH)->ArgName("type")
    ->Unit(benchmark::kMillisecond);

}  // namespace
