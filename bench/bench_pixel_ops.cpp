// The pixel routines on a 1920-pixel row (in cache) and a 1920 x 1080 frame (from memory), at every
// instruction set the engine may install here (up to SelectPixelOpsSimd: the processor's best,
// capped by KOLVEX_PIXEL_SIMD), against a plain copy of the same bytes. Each figure names its set:
// BM_PixelOp/<routine>/<none|sse2|avx2|avx512>/frame:0 one row, frame:1 a whole frame row by row.
// Level 3 routines (the ones the engine runs), except the entries named ...1, which are the level 1
// forms.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "imageproc/pixel_ops.h"

namespace {

constexpr size_t kWidth = 1920, kHeight = 1080, kRowBytes = kWidth * 4;

enum OP {
    OP_FILL32, OP_COPY, OP_LERP, OP_LERP_128, OP_LERP1, OP_ALPHA_OVER, OP_ALPHA_OVER1, OP_ALPHA_OVER_OPACITY,
    OP_MASK, OP_MASK_HARD, OP_MASK_SOFT, OP_CROSSFADE, OP_ADD, OP_ADD_OPACITY, OP_ADD_ALPHA, OP_SUBTRACT,
    OP_MULTIPLY, OP_SCREEN,
    OP_SCREEN_OPACITY, OP_LIGHTEN, OP_LINEAR_LIGHT, OP_COMPOSE, OP_REDUCE2X2,
};

struct FRAME_BUFS {
    uint8_t* pDst;
    uint8_t* pSrc;
    uint8_t* pThird;
    size_t nBytes;
};

uint8_t* AllocRandom(size_t n, uint32_t seed)
{
    auto* p = static_cast<uint8_t*>(std::aligned_alloc(64, (n + 63) & ~size_t(63)));
    uint32_t x = seed;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1664525u + 1013904223u;
        p[i] = static_cast<uint8_t>(x >> 24);
    }
    return p;
}

void CallOp(const PIXEL_OPS& o, int nOp, uint8_t* d, const uint8_t* s, const uint8_t* m, size_t n)
{
    switch (nOp) {
    case OP_FILL32: o.PixelOpFill32(d, n, 0x80FF4020u); break;
    case OP_COPY: o.PixelOpCopy(d, s, n); break;
    case OP_LERP: case OP_LERP1: o.PixelOpLerp(d, s, 77, n); break;
    case OP_LERP_128: o.PixelOpLerp(d, s, 128, n); break;
    case OP_ALPHA_OVER: case OP_ALPHA_OVER1: o.PixelOpAlphaOver(d, s, n); break;
    case OP_ALPHA_OVER_OPACITY: o.PixelOpAlphaOverOpacity(d, s, 200, n); break;
    case OP_MASK: case OP_MASK_HARD: o.PixelOpMask(d, s, m, 128, 256, n); break;
    case OP_MASK_SOFT: o.PixelOpMask(d, s, m, 128, 64, n); break;
    case OP_CROSSFADE: o.PixelOpCrossFade(d, s, m, 77, n); break;
    case OP_ADD: o.PixelOpAdd(d, s, n); break;
    case OP_ADD_OPACITY: o.PixelOpAddOpacity(d, s, 99, n); break;
    case OP_ADD_ALPHA: o.PixelOpAddAlpha(d, s, 0, n); break;
    case OP_SUBTRACT: o.PixelOpSubtract(d, s, n); break;
    case OP_MULTIPLY: o.PixelOpMultiply(d, s, n); break;
    case OP_SCREEN: o.PixelOpScreen(d, s, n); break;
    case OP_SCREEN_OPACITY: o.PixelOpScreenOpacity(d, s, 99, n); break;
    case OP_LIGHTEN: o.PixelOpLighten(d, s, n); break;
    case OP_LINEAR_LIGHT: o.PixelOpLinearLight(d, s, n); break;
    case OP_COMPOSE: o.PixelOpCompose(d, s, n); break;
    case OP_REDUCE2X2: o.PixelOpReduce2x2(d, s, kWidth, kWidth / 2); break;
    }
}

void BM_PixelOp(benchmark::State& state, int nOp, int nSimd)
{
    const bool bFrame = state.range(0) != 0;
    const int nLevel = (nOp == OP_LERP1 || nOp == OP_ALPHA_OVER1) ? 1 : 3;
    PIXEL_OPS ops{};
    FillPixelOps(&ops, nLevel, nSimd);
    // A curve with a ramp (a soft edge drawn at partial opacity), or the hard edge of threshold 128.
    for (int i = 0; i < 256; ++i)
        g_aiMaskCurve[i] = nOp == OP_MASK_HARD ? (i < 128 ? 0 : 256) : (i < 64 ? 0 : (i > 192 ? 256 : (i - 64) * 2));
    const size_t nRows = bFrame ? kHeight : 1;
    // Reduce2x2 reads two source rows per output row.
    const size_t nBytes = kRowBytes * nRows, nSrcBytes = kRowBytes * (nRows + 1);
    uint8_t* d = AllocRandom(nBytes, 1);
    uint8_t* s = AllocRandom(nSrcBytes, 2);
    uint8_t* m = AllocRandom(nBytes, 3);
    for (auto _ : state) {
        for (size_t y = 0; y < nRows; ++y)
            CallOp(ops, nOp, d + y * kRowBytes, s + y * kRowBytes, m + y * kRowBytes, kRowBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(nBytes));
    std::free(d);
    std::free(s);
    std::free(m);
}

// The roofline: copying the same rows.
void BM_PixelMemcpyBaseline(benchmark::State& state)
{
    const bool bFrame = state.range(0) != 0;
    const size_t nRows = bFrame ? kHeight : 1, nBytes = kRowBytes * nRows;
    uint8_t* d = AllocRandom(nBytes, 1);
    uint8_t* s = AllocRandom(nBytes, 2);
    for (auto _ : state) {
        for (size_t y = 0; y < nRows; ++y)
            memcpy(d + y * kRowBytes, s + y * kRowBytes, kRowBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(nBytes));
    std::free(d);
    std::free(s);
}

BENCHMARK(BM_PixelMemcpyBaseline)->Arg(0)->Arg(1)->ArgName("frame");

struct PIXEL_BENCH {
    const char* pszName;
    int nOp;
};
const PIXEL_BENCH k_aPixelBenches[] = {
    {"Fill32", OP_FILL32}, {"Copy", OP_COPY}, {"Lerp", OP_LERP}, {"Lerp128", OP_LERP_128}, {"Lerp1", OP_LERP1},
    {"AlphaOver", OP_ALPHA_OVER}, {"AlphaOver1", OP_ALPHA_OVER1}, {"AlphaOverOpacity", OP_ALPHA_OVER_OPACITY},
    {"MaskCurve", OP_MASK}, {"MaskHardEdge", OP_MASK_HARD}, {"MaskVagueness64", OP_MASK_SOFT},
    {"CrossFade", OP_CROSSFADE}, {"Add", OP_ADD}, {"AddOpacity", OP_ADD_OPACITY}, {"AddAlpha", OP_ADD_ALPHA},
    {"Subtract", OP_SUBTRACT}, {"Multiply", OP_MULTIPLY}, {"Screen", OP_SCREEN},
    {"ScreenOpacity", OP_SCREEN_OPACITY}, {"Lighten", OP_LIGHTEN}, {"LinearLight", OP_LINEAR_LIGHT},
    {"Compose", OP_COMPOSE}, {"Reduce2x2", OP_REDUCE2X2},
};

// One instance per routine and instruction set, the set in the name.
const bool g_bPixelBenchesRegistered = [] {
    const int nTop = SelectPixelOpsSimd();
    for (const PIXEL_BENCH& b : k_aPixelBenches)
        for (int nSimd = PIXEL_SIMD_NONE; nSimd <= nTop; ++nSimd) {
            const std::string strName = std::string("BM_PixelOp/") + b.pszName + "/" + PixelOpsSimdName(nSimd);
            const int nOp = b.nOp;
            benchmark::RegisterBenchmark(strName.c_str(),
                                         [nOp, nSimd](benchmark::State& state) { BM_PixelOp(state, nOp, nSimd); })
                ->Arg(0)
                ->Arg(1)
                ->ArgName("frame");
        }
    return true;
}();

}  // namespace
