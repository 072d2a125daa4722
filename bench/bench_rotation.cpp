// Turning a 1920 x 1080 image by each kernel (a script may turn a layer every frame), at a general
// angle, a quarter turn and a half turn, next to a plain copy of the frame's bytes. BM_Rotate runs
// with the image workers stopped (the calling thread does every row); BM_RotateWorkers with the
// workers running (workers:N). Bytes per second count the output frame.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "imageproc/image_effects.h"
#include "core/worker_pool.h"

namespace {

constexpr int32_t kW = 1920, kH = 1080;
constexpr size_t kBytes = size_t(kW) * kH * 4;

uint8_t* AllocRandom(size_t n, uint32_t seed)
{
    size_t nAlloc = (n + 63) & ~size_t(63);
    auto* p = static_cast<uint8_t*>(std::aligned_alloc(64, nAlloc));
    uint32_t x = seed;
    for (size_t i = 0; i < nAlloc; ++i) {
        x = x * 1664525u + 1013904223u;
        p[i] = static_cast<uint8_t>(x >> 24);
    }
    return p;
}

struct FRAMES {
    uint8_t* pSrc = AllocRandom(kBytes, 7);
    uint8_t* pDst = AllocRandom(kBytes, 9);
    ~FRAMES()
    {
        free(pSrc);
        free(pDst);
    }
};

void BM_RotateCopyBaseline(benchmark::State& state)
{
    FRAMES f;
    for (auto _ : state) {
        memcpy(f.pDst, f.pSrc, kBytes);
        benchmark::DoNotOptimize(f.pDst);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}
BENCHMARK(BM_RotateCopyBaseline);

template <void (*Kernel)(uint8_t*, const uint8_t*, int32_t, int32_t, int32_t)>
void BM_Rotate(benchmark::State& state)
{
    FRAMES f;
    const int32_t P = static_cast<int32_t>(state.range(0));
    for (auto _ : state) {
        Kernel(f.pDst, f.pSrc, kW, kH, P);
        benchmark::DoNotOptimize(f.pDst);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}
BENCHMARK_TEMPLATE(BM_Rotate, RotateNearestClipped)->Arg(30)->Arg(90)->Arg(180)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Rotate, RotateNearestSpans)->Arg(30)->Arg(90)->Arg(180)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Rotate, RotateBilinear)->Arg(30)->Arg(90)->Arg(180)->Unit(benchmark::kMillisecond);

// args: angle, workers.
template <void (*Kernel)(uint8_t*, const uint8_t*, int32_t, int32_t, int32_t)>
void BM_RotateWorkers(benchmark::State& state)
{
    FRAMES f;
    const int32_t P = static_cast<int32_t>(state.range(0));
    SetWorkerCountForTest(static_cast<int>(state.range(1)));
    StartWorkerThreads();
    for (auto _ : state) {
        Kernel(f.pDst, f.pSrc, kW, kH, P);
        benchmark::DoNotOptimize(f.pDst);
        benchmark::ClobberMemory();
    }
    StopWorkerThreads();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}
BENCHMARK_TEMPLATE(BM_RotateWorkers, RotateNearestClipped)
    ->ArgsProduct({{30, 90}, {1, 4}})->ArgNames({"angle", "workers"})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_RotateWorkers, RotateNearestSpans)
    ->ArgsProduct({{30, 90}, {1, 4}})->ArgNames({"angle", "workers"})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_RotateWorkers, RotateBilinear)
    ->ArgsProduct({{30, 90, 180}, {1, 4}})->ArgNames({"angle", "workers"})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
