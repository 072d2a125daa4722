// Building save records: a screen-size layer through zlib level 9 (a frame hitch when a game saves
// a screenshot), a 4,000,000-element array through Snappy, and the packing of the memory slots at
// zlib level 1; each against a memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/codecs.h"
#include "image/layer.h"
#include "save/cmd_save.h"
#include "script/variables.h"

namespace {

// A picture that compresses like a real one: smooth gradients with a little noise.
void FillPicture(uint8_t* p, int32_t w, int32_t h)
{
    uint32_t x = 0x13579BDFu;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t i = 0; i < w; ++i) {
            x = x * 1664525u + 1013904223u;
            uint8_t* q = p + (size_t(y) * w + i) * 4;
            q[0] = static_cast<uint8_t>(i / 5 + (x >> 30));
            q[1] = static_cast<uint8_t>(y / 3);
            q[2] = static_cast<uint8_t>((i + y) / 7);
            q[3] = 255;
        }
}

void BM_SaveLayerRecord(benchmark::State& state)
{
    LoadCodecLibraries();
    const int32_t w = 1280, h = 720;
    LAYER lay{};
    uint8_t* pPixels = AllocPixelBuffer(nullptr, w, h, nullptr);
    FillPicture(pPixels, w, h);
    SetLayerPixels(&lay, pPixels, w, h);
    const int64_t llSize = GetSaveRecordSize(1, 0, 0, 0, &lay);
    for (auto _ : state) {
        benchmark::DoNotOptimize(AppendSaveRecord(0, 1, 0, 0, 0, &lay, llSize));
        FreePendingRecords(0);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * llSize);
    SetLayerPixels(&lay, nullptr, 0, 0);
    FreeAllSaveBuffers();
    UnloadCodecLibraries();
}
BENCHMARK(BM_SaveLayerRecord)->Unit(benchmark::kMillisecond);

void BM_SaveLargeArrayRecord(benchmark::State& state)
{
    LoadCodecLibraries();
    CreateVarTable(KX_FIRST_USER_VAR + 1);
    VAR_DESC* pVar = GetVarDesc(KX_FIRST_USER_VAR);
    pVar->bClass = 1;
    pVar->nDims = 1;
    pVar->anDim[0] = KX_VAR_MAX_ELEMENTS;
    InitVarInt(pVar, 0);
    for (int64_t i = 0; i < pVar->llCount; ++i) pVar->pllValues[i] = i * 37 % 1000;
    const int64_t llSize = GetSaveRecordSize(0, KX_FIRST_USER_VAR, 0, 1, nullptr);
    for (auto _ : state) {
        benchmark::DoNotOptimize(AppendSaveRecord(0, 0, KX_FIRST_USER_VAR, 0, 1, nullptr, llSize));
        FreePendingRecords(0);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * llSize);
    FreeAllSaveBuffers();
    FreeVarTable();
    UnloadCodecLibraries();
}
BENCHMARK(BM_SaveLargeArrayRecord)->Unit(benchmark::kMillisecond);

// Every slot holding a 64 KB image of mostly repeated records.
void BM_PackMemorySlots(benchmark::State& state)
{
    LoadCodecLibraries();
    uint64_t nTotal = 0;
    for (int i = 0; i < KX_SAVE_SLOT_COUNT; ++i) {
        const uint32_t n = 65536;
        g_apMemSlot[i] = static_cast<uint8_t*>(std::malloc(n));
        for (uint32_t k = 0; k < n; ++k) g_apMemSlot[i][k] = static_cast<uint8_t>((k % 97) ^ (k / 4096) ^ i);
        g_anMemSlotCapacity[i] = g_anMemSlotSize[i] = n;
        nTotal += n;
    }
    for (auto _ : state) benchmark::DoNotOptimize(PackMemorySlots());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(nTotal));
    FreeAllSaveBuffers();
    UnloadCodecLibraries();
}
BENCHMARK(BM_PackMemorySlots)->Unit(benchmark::kMillisecond);

// The floor: copying the bytes of a screen-size layer record.
void BM_SaveMemcpyBaseline(benchmark::State& state)
{
    const size_t n = size_t(1280) * 720 * 4 + 1700;
    std::vector<uint8_t> a(n, 1), b(n);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), n);
        benchmark::DoNotOptimize(b.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}
BENCHMARK(BM_SaveMemcpyBaseline)->Unit(benchmark::kMillisecond);

}  // namespace
