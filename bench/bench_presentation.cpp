// Presenting a 1280 x 720 picture into a 1920 x 1080 client (Fake window backend): the main window
// maximised, bilinear on the calling thread and through the workers, nearest, the unscaled 1:1
// present of a 1920 x 1080 picture, the present of a 64 x 64 part of it (what a frame that changed
// only that part pays), and a plain memcpy of a 1920 x 1080 frame for comparison.
#include <benchmark/benchmark.h>

#include "bench/alloc_count.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/engine_globals.h"
#include "core/frame_loop.h"
#include "core/settings.h"
#include "core/sysfacts.h"
#include "display/presentation.h"
#include "display/window_state.h"
#include "image/layer.h"
#include "imageproc/pixel_ops.h"
#include "core/worker_pool.h"
#include "platform/plat_window.h"
#include "core/game_config.h"

namespace {

enum { MODE_BILINEAR = 0, MODE_BILINEAR_WORKERS = 1, MODE_NEAREST = 2, MODE_UNSCALED = 3, MODE_UNSCALED_PART = 4 };

void BM_PresentMainWindow(benchmark::State& state)
{
    const int nArg = static_cast<int>(state.range(0));
    const bool bPart = nArg == MODE_UNSCALED_PART;
    const int nMode = bPart ? MODE_UNSCALED : nArg;
    PlatInitWindowSystem(PLAT_BACKEND_FAKE);
    g_nDesktopWidth = 2560;
    g_nDesktopHeight = 1440;
    g_bFramedWindow = 0;
    CreateWindowStates();
    WINDOW_STATE* p = g_apWindowState[0];
    p->nWidth = 1920;
    p->nHeight = 1080;
    ResetWindowState(p, "bench");
    CreateGameWindow(p, 0, "bench", "bench");

    const int lw = nMode == MODE_UNSCALED ? 1920 : 1280, lh = nMode == MODE_UNSCALED ? 1080 : 720;
    LAYER layer{};
    layer.nWidth = lw;
    layer.nHeight = lh;
    layer.pOwnedPixels = layer.pDisplayPixels = AllocPixelBuffer(nullptr, lw, lh, "");
    for (size_t i = 0; i < size_t(lw) * lh * 4; ++i) layer.pOwnedPixels[i] = static_cast<uint8_t>(i * 7);

    g_bMaximized = nMode == MODE_UNSCALED ? 0 : 1;
    g_bFullscreen = 0;
    g_bInterpolate = nMode == MODE_NEAREST ? 0 : 1;
    g_nScaleMode = nMode == MODE_NEAREST ? 1 : 0;
    if (nMode == MODE_NEAREST) {
        g_bFullscreen = 1;
        g_bMaximized = 0;
    }
    g_bAllowSSE = nMode == MODE_BILINEAR_WORKERS ? 1 : 0;
    g_PixelOps.bSSE = 1;
    if (nMode == MODE_BILINEAR_WORKERS) StartWorkerThreads();
    g_nTargetWidth = 1920;
    g_nTargetHeight = 1080;
    SetOutputSize(1920, 1080);
    // Heap allocations per present after the first ("allocs_per_present"; not counted in sanitizer
    // builds).
    layer.rcUnion = {0, 0, lw - 1, lh - 1};
    PresentWindow(p, &layer);
    const uint64_t nAllocations = BenchAllocationCount();
    const DIRTY_BOX part{900, 500, 963, 563};
    for (auto _ : state) {
        layer.rcUnion = {0, 0, lw - 1, lh - 1};
        benchmark::DoNotOptimize(bPart ? PresentWindowPart(p, &layer, &part) : PresentWindow(p, &layer));
    }
    if (BenchCountsAllocations())
        state.counters["allocs_per_present"] = benchmark::Counter(
            double(BenchAllocationCount() - nAllocations) / double(std::max<int64_t>(state.iterations(), 1)));
    state.SetBytesProcessed(int64_t(state.iterations()) * (bPart ? 64 * 64 * 4 : 1920 * 1080 * 4));
    if (nMode == MODE_BILINEAR_WORKERS) StopWorkerThreads();
    std::free(layer.pOwnedPixels);
    PlatDestroyWindow(p->hWnd);
    CreateWindowBackLayer(0, 0, 0);
    PlatShutdownWindowSystem();
    g_hMainWnd = 0;
    g_bMaximized = g_bFullscreen = 0;
}
BENCHMARK(BM_PresentMainWindow)->Arg(MODE_BILINEAR)->Arg(MODE_BILINEAR_WORKERS)->Arg(MODE_NEAREST)->Arg(MODE_UNSCALED)
    ->Arg(MODE_UNSCALED_PART)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MemcpyFrame(benchmark::State& state)
{
    const size_t n = size_t(1920) * 1080 * 4;
    auto* a = static_cast<uint8_t*>(std::aligned_alloc(64, n));
    auto* b = static_cast<uint8_t*>(std::aligned_alloc(64, n));
    std::memset(a, 1, n);
    for (auto _ : state) {
        std::memcpy(b, a, n);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
    std::free(a);
    std::free(b);
}
BENCHMARK(BM_MemcpyFrame)->Unit(benchmark::kMillisecond);

}  // namespace
