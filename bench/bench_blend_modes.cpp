// Blend spans of every mode and variant on one 1920-pixel row (cache-resident) and over a whole
// 1920x1080 frame (memory-bound), against a memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/engine_tables.h"
#include "imageproc/blend_modes.h"
#include "imageproc/pixel_ops.h"

namespace {

const int kWidth = 1920;
const int kHeight = 1080;
const int kRowBytes = kWidth * 4;

const char* const s_apszModes[BLEND_MODE_COUNT] = {
    "Normal", "Add", "Subtract", "Multiply", "Divide", "Screen", "Lighten", "Darken", "Difference", "Exclusion",
    "Overlay", "ColorDodge", "ColorBurn", "LinearBurn", "HardLight", "SoftLight", "VividLight", "LinearLight",
    "PinLight",
};

enum { V_FULL, V_OPACITY, V_ALPHA, V_ALPHA_OPACITY, V_MASK, V_MASK_ALPHA, V_COUNT };
const char* const s_apszVariants[V_COUNT] = {"Full", "Opacity", "Alpha", "AlphaOpacity", "Mask", "MaskAlpha"};

// 64-byte aligned pixel buffers filled with a repeatable pattern; a half-transparent mask curve.
struct BUFFERS {
    uint8_t* pSrc;
    uint8_t* pDst;
    uint8_t* pMask;
    size_t nBytes;
    explicit BUFFERS(size_t n) : nBytes(n)
    {
        pSrc = static_cast<uint8_t*>(std::aligned_alloc(64, n));
        pDst = static_cast<uint8_t*>(std::aligned_alloc(64, n));
        pMask = static_cast<uint8_t*>(std::aligned_alloc(64, n));
        uint32_t x = 0x2468ACE1u;
        for (size_t i = 0; i < n; ++i) {
            x = x * 1664525u + 1013904223u;
            pSrc[i] = static_cast<uint8_t>(x >> 24);
            pDst[i] = static_cast<uint8_t>(x >> 16);
            pMask[i] = static_cast<uint8_t>(x >> 8);
        }
    }
    ~BUFFERS()
    {
        std::free(pSrc);
        std::free(pDst);
        std::free(pMask);
    }
};

void PrepareTables(void)
{
    static bool s_bDone = false;
    if (!s_bDone) {
        InitPixelOps();
        FillMulDivTables();
        InitBlendTables();
        for (int i = 0; i < 256; ++i)
            g_aiMaskCurve[i] = i + 1;
        s_bDone = true;
    }
}

void RunSpan(int nMode, int nVariant, const BUFFERS& b, int nRows)
{
    for (int y = 0; y < nRows; ++y) {
        const size_t nOff = static_cast<size_t>(y) * kRowBytes;
        uint8_t* pDst = b.pDst + nOff;
        const uint8_t* pSrc = b.pSrc + nOff;
        const uint8_t* pMask = b.pMask + nOff;
        switch (nVariant) {
        case V_FULL: g_apfnBlendSpan[nMode * 2 + 1](pDst, pSrc, 256, kRowBytes); break;
        case V_OPACITY: g_apfnBlendSpan[nMode * 2](pDst, pSrc, 160, kRowBytes); break;
        case V_ALPHA: g_apfnBlendSpanAlpha[nMode * 2 + 1](pDst, pSrc, 256, kRowBytes); break;
        case V_ALPHA_OPACITY: g_apfnBlendSpanAlpha[nMode * 2](pDst, pSrc, 160, kRowBytes); break;
        case V_MASK: g_apfnBlendSpanMask[nMode * 2](pDst, pSrc, pMask, 128, 256, kRowBytes); break;
        case V_MASK_ALPHA: g_apfnBlendSpanMaskAlpha[nMode * 2](pDst, pSrc, pMask, 128, 256, kRowBytes); break;
        }
    }
}

void BM_BlendSpan(benchmark::State& state, int nMode, int nVariant, int nRows)
{
    PrepareTables();
    BUFFERS b(static_cast<size_t>(kRowBytes) * nRows);
    for (auto _ : state) {
        RunSpan(nMode, nVariant, b, nRows);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(b.nBytes));
}

void BM_MemcpyBaseline(benchmark::State& state, int nRows)
{
    BUFFERS b(static_cast<size_t>(kRowBytes) * nRows);
    for (auto _ : state) {
        memcpy(b.pDst, b.pSrc, b.nBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(b.nBytes));
}

// Row: every mode and variant. Frame: every mode with the byte-wise opacity span and the per-pixel
// alpha span, the two shapes of loop.
[[maybe_unused]] const int s_nRegistered = [] {
    benchmark::RegisterBenchmark("BlendMemcpyBaseline/row", BM_MemcpyBaseline, 1);
    benchmark::RegisterBenchmark("BlendMemcpyBaseline/frame", BM_MemcpyBaseline, kHeight)->Unit(benchmark::kMillisecond);
    for (int m = 0; m < BLEND_MODE_COUNT; ++m)
        for (int v = 0; v < V_COUNT; ++v)
            benchmark::RegisterBenchmark(
                (std::string("BlendSpan") + s_apszModes[m] + s_apszVariants[v] + "/row").c_str(), BM_BlendSpan, m, v, 1);
    for (int m = 0; m < BLEND_MODE_COUNT; ++m)
        for (int v : {static_cast<int>(V_OPACITY), static_cast<int>(V_ALPHA)})
            benchmark::RegisterBenchmark(
                (std::string("BlendSpan") + s_apszModes[m] + s_apszVariants[v] + "/frame").c_str(), BM_BlendSpan, m,
                v, kHeight)
                ->Unit(benchmark::kMillisecond);
    return 0;
}();

}  // namespace
