// Loading the largest records: a 4,000,000-element int64 array (32 MB, Snappy) and a 1280 x 720
// layer image (3.7 MB, zlib level 9), each uncompressed and restored; memcpy of the same bytes as
// the floor.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "core/codecs.h"
#include "core/object_tree.h"
#include "image/layer.h"
#include "root/startup.h"
#include "save/cmd_load.h"
#include "save/save_format.h"
#include "script/variables.h"

namespace {

constexpr int32_t kCount = 4000000;
constexpr int32_t kWidth = 1280, kHeight = 720;

void PutU32(std::vector<uint8_t>& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::vector<uint8_t> ArrayBody()
{
    std::vector<uint8_t> b;
    PutU32(b, KX_VAR_TYPE_INT);
    PutU32(b, 1);
    PutU32(b, kCount);
    PutU32(b, kCount * 8u);
    for (int32_t i = 0; i < kCount; ++i) {
        PutU32(b, static_cast<uint32_t>(i * 2654435761u));
        PutU32(b, static_cast<uint32_t>(i >> 7));
    }
    return b;
}

std::vector<uint8_t> LayerBody()
{
    std::vector<uint8_t> b;
    PutU32(b, KX_LAYER_RECORD_SIZE);
    PutU32(b, kWidth * 4u * kHeight);
    b.resize(8 + KX_LAYER_RECORD_SIZE, 0);
    PutSaveU32(&b[8 + KX_SAVE_LAYER_BLOCK_WIDTH], kWidth);
    PutSaveU32(&b[8 + KX_SAVE_LAYER_BLOCK_HEIGHT], kHeight);
    for (int32_t y = 0; y < kHeight; ++y)
        for (int32_t x = 0; x < kWidth; ++x) {
            const uint8_t px[4] = {uint8_t(x), uint8_t(y), uint8_t(x ^ y), 255};
            b.insert(b.end(), px, px + 4);
        }
    return b;
}

std::vector<uint8_t> Packed(const std::vector<uint8_t>& raw, int nKind)
{
    std::vector<uint8_t> out(size_t(GetSaveCompressBound(nKind, uint32_t(raw.size()))));
    uint32_t n = uint32_t(out.size());
    CompressSaveBody(nKind, raw.data(), uint32_t(raw.size()), out.data(), &n);
    out.resize(n);
    return out;
}

void BM_RestoreIntArray4M(benchmark::State& state)
{
    LoadCodecLibraries();
    CreateVarTable(1001);
    VAR_DESC* p = GetVarDesc(1000);
    p->nDims = 1;
    p->anDim[0] = kCount;
    InitVarInt(p, 0);
    const std::vector<uint8_t> raw = ArrayBody();
    const std::vector<uint8_t> packed = Packed(raw, SAVEREC_VARIABLE);
    std::vector<uint8_t> out(raw.size());
    for (auto _ : state) {
        UncompressSaveRecord(packed.data(), uint32_t(packed.size()), out.data(), uint32_t(out.size()), 0);
        RestoreVariableRecord(1000, 1, out.data(), out.size(), 0, "");
        benchmark::DoNotOptimize(p->pllValues);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(raw.size()));
    FreeVarTable();
}
BENCHMARK(BM_RestoreIntArray4M)->Unit(benchmark::kMillisecond);

void BM_RestoreLayer1280x720(benchmark::State& state)
{
    // The engine's hooks: the object trees and the layers reach the other parts through them.
    InstallEngineParts();
    LoadCodecLibraries();
    CreateObjectTrees();
    const char szPath[] = "W0/pic";
    TREE_NODE* pNode = CreateNode(g_pLayerRoot, szPath, 0, 1);
    CreateNodeLayer(pNode);
    const std::vector<uint8_t> raw = LayerBody();
    const std::vector<uint8_t> packed = Packed(raw, SAVEREC_LAYER);
    std::vector<uint8_t> out(raw.size());
    for (auto _ : state) {
        UncompressSaveRecord(packed.data(), uint32_t(packed.size()), out.data(), uint32_t(out.size()), 1);
        RestoreLayerRecord(FindNodeByPath(g_pLayerRoot, szPath, KX_FIND_LEAF), szPath, out.data(), out.size());
    }
    state.SetBytesProcessed(state.iterations() * int64_t(raw.size()));
    FreeObjectTrees();
}
BENCHMARK(BM_RestoreLayer1280x720)->Unit(benchmark::kMillisecond);

// The 32 MB of the array copied once: the floor for restoring it.
void BM_MemcpyRestoreFloor32MB(benchmark::State& state)
{
    std::vector<uint8_t> src(size_t(kCount) * 8, 1), dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(src.size()));
}
BENCHMARK(BM_MemcpyRestoreFloor32MB)->Unit(benchmark::kMillisecond);

}  // namespace
