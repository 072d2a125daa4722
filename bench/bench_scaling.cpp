// Scaling a 1280 x 720 frame to 1920 x 1080 (the window scaled to full screen) by every kernel,
// next to a plain copy of the output's bytes. The job forms run on the workers (workers:N); the
// others on the calling thread. Bytes per second count the output frame.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "imageproc/scaling.h"
#include "core/worker_pool.h"

namespace {

constexpr int32_t kSrcW = 1280, kSrcH = 720, kDstW = 1920, kDstH = 1080;
constexpr size_t kDstBytes = size_t(kDstW) * kDstH * 4;

enum KERNEL { K_NEAREST, K_BILINEAR, K_BILINEAR_THREADED, K_BILINEAR_PRESENT, K_SUPERSAMPLE, K_BICUBIC, K_LANCZOS };

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
    uint8_t* pSrc;
    uint8_t* pDst;
    FRAMES()
    {
        // The source with its spare row and bytes (cleared), as the layer buffers have them.
        size_t nSrc = size_t(kSrcW) * 4 * kSrcH;
        pSrc = AllocRandom(nSrc + size_t(kSrcW) * 4 + 4, 7);
        memset(pSrc + nSrc, 0, size_t(kSrcW) * 4 + 4);
        pDst = AllocRandom(kDstBytes, 9);
    }
    ~FRAMES()
    {
        free(pSrc);
        free(pDst);
    }
};

void BM_CopyBaseline(benchmark::State& state)
{
    FRAMES f;
    uint8_t* pCopySrc = AllocRandom(kDstBytes, 3);
    for (auto _ : state) {
        memcpy(f.pDst, pCopySrc, kDstBytes);
        benchmark::DoNotOptimize(f.pDst);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kDstBytes));
    free(pCopySrc);
}
BENCHMARK(BM_CopyBaseline)->Unit(benchmark::kMillisecond);

void BM_Scale(benchmark::State& state)
{
    const int nKernel = static_cast<int>(state.range(0));
    const int nWorkers = static_cast<int>(state.range(1));
    FRAMES f;
    SetWorkerCountForTest(nWorkers);
    StartWorkerThreads();
    const int32_t X2 = (kSrcW - 1) * 100, Y2 = (kSrcH - 1) * 100, TW = kDstW * 100, TH = kDstH * 100;
    for (auto _ : state) {
        switch (nKernel) {
        case K_NEAREST: ScaleNearest(f.pDst, f.pSrc, 0, 0, kSrcW - 1, kSrcH - 1, kSrcW, kSrcH, kDstW, kDstH); break;
        case K_BILINEAR: ScaleBilinear(f.pDst, f.pSrc, 0, 0, X2, Y2, kSrcW, kSrcH, TW, TH); break;
        case K_BILINEAR_THREADED: ScaleBilinearThreaded(f.pDst, f.pSrc, 0, 0, X2, Y2, kSrcW, kSrcH, TW, TH); break;
        case K_BILINEAR_PRESENT: ScaleBilinearPresent(f.pDst, f.pSrc, 0, 0, X2, Y2, kSrcW, kSrcH, TW, TH); break;
        case K_SUPERSAMPLE: ScaleSupersampled(f.pDst, f.pSrc, 0, 0, X2, Y2, kSrcW, kSrcH, TW, TH); break;
        case K_BICUBIC: ScaleBicubic(f.pDst, f.pSrc, 0, 0, kSrcW - 1, kSrcH - 1, kSrcW, kSrcH, kDstW, kDstH); break;
        default: ScaleLanczos(f.pDst, f.pSrc, 0, 0, kSrcW - 1, kSrcH - 1, kSrcW, kSrcH, kDstW, kDstH); break;
        }
        benchmark::DoNotOptimize(f.pDst);
        benchmark::ClobberMemory();
    }
    StopWorkerThreads();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kDstBytes));
}

const char* const kNames[] = {"nearest", "bilinear", "bilinear_threaded", "bilinear_present",
                              "supersample", "bicubic", "lanczos"};

void RegisterScaling()
{
    for (int k = K_NEAREST; k <= K_LANCZOS; ++k) {
        bool bJob = k == K_NEAREST || k == K_BILINEAR_THREADED || k == K_SUPERSAMPLE || k == K_BICUBIC ||
                    k == K_LANCZOS;
        for (int n : {1, 2, 4}) {
            if (!bJob && n != 1)
                continue;
            auto* b = benchmark::RegisterBenchmark((std::string("BM_Scale/") + kNames[k]).c_str(), BM_Scale);
            b->Args({k, n})->ArgNames({"kernel", "workers"})->Unit(benchmark::kMillisecond)->UseRealTime();
        }
    }
}

const int g_nRegistered = (RegisterScaling(), 0);

}  // namespace
