// Save-data bodies at their largest: a 4,000,000-element array (32 MB of values) serialised and
// Snappy-compressed, read back, a screen-size layer through zlib level 9, and the memory-slot blob.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "core/codecs.h"
#include "image/layer.h"
#include "save/save_format.h"
#include "script/variables.h"

namespace {

const int kBigVar = 1000;

void DeclareBigInt()
{
    CreateVarTable(1001);
    VAR_DESC* p = GetVarDesc(kBigVar);
    p->nDims = 1;
    p->anDim[0] = KX_VAR_MAX_ELEMENTS;
    InitVarInt(p, 0);
    // Values of a typical game state: small counters and flags, a few large numbers.
    for (int64_t i = 0; i < p->llCount; ++i)
        p->pllValues[i] = (i % 17 == 0) ? i * 7919 : i % 5;
}

std::vector<uint8_t> BigRecord(uint32_t* pnRaw)
{
    uint32_t nRaw = 0;
    GetVarBodySize(kBigVar, 1, 0, &nRaw);
    std::vector<uint8_t> raw(nRaw);
    size_t nWritten = 0;
    SerializeVarBody(kBigVar, 1, 0, raw.data(), raw.size(), &nWritten);
    std::vector<uint8_t> rec(KX_SAVE_RECORD_HEADER_SIZE + GetSaveCompressBound(SAVEREC_VARIABLE, nRaw));
    size_t nOut = 0;
    BuildSaveRecord(SAVEREC_VARIABLE, kBigVar, raw.data(), nRaw, rec.data(), rec.size(), &nOut);
    rec.resize(nOut);
    *pnRaw = nRaw;
    return rec;
}

void BM_SaveIntArray4M(benchmark::State& state)
{
    LoadCodecLibraries();
    DeclareBigInt();
    uint32_t nRaw = 0;
    GetVarBodySize(kBigVar, 1, 0, &nRaw);
    std::vector<uint8_t> raw(nRaw);
    std::vector<uint8_t> rec(KX_SAVE_RECORD_HEADER_SIZE + GetSaveCompressBound(SAVEREC_VARIABLE, nRaw));
    for (auto _ : state) {
        size_t nWritten = 0, nOut = 0;
        SerializeVarBody(kBigVar, 1, 0, raw.data(), raw.size(), &nWritten);
        BuildSaveRecord(SAVEREC_VARIABLE, kBigVar, raw.data(), nRaw, rec.data(), rec.size(), &nOut);
        benchmark::DoNotOptimize(nOut);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(nRaw));
    FreeVarTable();
    UnloadCodecLibraries();
}
BENCHMARK(BM_SaveIntArray4M)->Unit(benchmark::kMillisecond);

void BM_LoadIntArray4M(benchmark::State& state)
{
    LoadCodecLibraries();
    DeclareBigInt();
    uint32_t nRaw = 0;
    const std::vector<uint8_t> rec = BigRecord(&nRaw);
    std::vector<uint8_t> raw(nRaw);
    for (auto _ : state) {
        UncompressSaveBody(SAVEREC_VARIABLE, rec.data() + KX_SAVE_RECORD_HEADER_SIZE,
                           uint32_t(rec.size() - KX_SAVE_RECORD_HEADER_SIZE), raw.data(), nRaw);
        SAVE_VAR_BODY body{};
        ParseVarBody(raw.data(), raw.size(), &body);
        int64_t llSum = 0;
        for (uint64_t i = 0; i < body.llCount; ++i)
            llSum += GetSaveBodyInt(&body, i);
        benchmark::DoNotOptimize(llSum);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(nRaw));
    FreeVarTable();
    UnloadCodecLibraries();
}
BENCHMARK(BM_LoadIntArray4M)->Unit(benchmark::kMillisecond);

// A 1280 x 720 layer with a smooth picture and some noise: zlib level 9 as the save writes it.
void BM_SaveLayer1280x720(benchmark::State& state)
{
    LoadCodecLibraries();
    LAYER layer{};
    layer.nWidth = layer.nBufWidth = 1280;
    layer.nHeight = layer.nBufHeight = 720;
    std::vector<uint8_t> pixels(size_t(1280) * 4 * 720);
    uint32_t nSeed = 12345;
    for (size_t i = 0; i < pixels.size(); i += 4) {
        nSeed = nSeed * 1103515245u + 12345u;
        const size_t x = (i / 4) % 1280, y = (i / 4) / 1280;
        pixels[i] = uint8_t(x / 5 + ((nSeed >> 16) & 3));
        pixels[i + 1] = uint8_t(y / 3);
        pixels[i + 2] = uint8_t((x + y) / 8);
        pixels[i + 3] = 255;
    }
    layer.pOwnedPixels = pixels.data();
    uint32_t nRaw = 0;
    GetLayerBodySize(&layer, &nRaw);
    std::vector<uint8_t> raw(nRaw);
    std::vector<uint8_t> rec(KX_SAVE_RECORD_HEADER_SIZE + GetSaveCompressBound(SAVEREC_LAYER, nRaw));
    size_t nOut = 0;
    for (auto _ : state) {
        size_t nWritten = 0;
        SerializeLayerBody(&layer, raw.data(), raw.size(), &nWritten);
        BuildSaveRecord(SAVEREC_LAYER, 0, raw.data(), nRaw, rec.data(), rec.size(), &nOut);
        benchmark::DoNotOptimize(nOut);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(nRaw));
    state.counters["packed_bytes"] = double(nOut);
    std::vector<uint8_t> back(nRaw);
    benchmark::DoNotOptimize(UncompressSaveBody(SAVEREC_LAYER, rec.data() + 12, uint32_t(nOut - 12), back.data(), nRaw));
    UnloadCodecLibraries();
}
BENCHMARK(BM_SaveLayer1280x720)->Unit(benchmark::kMillisecond);

// 500 memory slots of 200 KB each packed with zlib level 1.
void BM_PackSlotBlob500(benchmark::State& state)
{
    LoadCodecLibraries();
    std::vector<std::vector<uint8_t>> slots(KX_SAVE_MEM_SLOTS, std::vector<uint8_t>(200 * 1024));
    const uint8_t* apSlot[KX_SAVE_MEM_SLOTS];
    uint32_t anSize[KX_SAVE_MEM_SLOTS];
    for (int s = 0; s < KX_SAVE_MEM_SLOTS; ++s) {
        for (size_t i = 0; i < slots[s].size(); ++i)
            slots[s][i] = uint8_t((i % 97 < 40) ? 0 : (i * 31 + s));
        apSlot[s] = slots[s].data();
        anSize[s] = uint32_t(slots[s].size());
    }
    std::vector<uint8_t> blob(GetSlotBlobBound(anSize));
    for (auto _ : state) {
        size_t nBlob = 0;
        BuildSlotBlob(apSlot, anSize, blob.data(), blob.size(), &nBlob);
        benchmark::DoNotOptimize(nBlob);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(KX_SAVE_MEM_SLOTS) * 200 * 1024);
    UnloadCodecLibraries();
}
BENCHMARK(BM_PackSlotBlob500)->Unit(benchmark::kMillisecond);

}  // namespace
