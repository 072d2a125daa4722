// Inserting into and deleting from the front of the largest arrays (the worst position: every
// element moves), against a memmove of the same bytes: 4,000,000 int64 elements, and 100,000 text
// elements, whose buffer pointers and capacities move while the texts stay where they are.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "script/cmd_var_util.h"
#include "script/variables.h"

namespace {

constexpr int32_t kInts = 4000000;
constexpr int32_t kTexts = 100000;

VAR_DESC* IntArray(void)
{
    CreateVarTable(1001);
    VAR_DESC* p = GetVarDesc(1000);
    p->nDims = 1;
    p->anDim[0] = kInts;
    InitVarInt(p, 7);
    return p;
}

VAR_DESC* TextArray(void)
{
    CreateVarTable(1001);
    VAR_DESC* p = GetVarDesc(1000);
    p->nDims = 1;
    p->anDim[0] = kTexts;
    const char szText[] = "a text element";
    InitVarString(p, szText, sizeof szText - 1);
    return p;
}

void BM_InsertInt4M(benchmark::State& state)
{
    VAR_DESC* p = IntArray();
    for (auto _ : state) {
        InsertVarElement(p, 0);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * (kInts - 1) * int64_t{sizeof(int64_t)});
    FreeVarTable();
}
BENCHMARK(BM_InsertInt4M)->Unit(benchmark::kMicrosecond);

void BM_DeleteInt4M(benchmark::State& state)
{
    VAR_DESC* p = IntArray();
    for (auto _ : state) {
        DeleteVarElement(p, 0);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * (kInts - 1) * int64_t{sizeof(int64_t)});
    FreeVarTable();
}
BENCHMARK(BM_DeleteInt4M)->Unit(benchmark::kMicrosecond);

// The floor for both: one memmove of the bytes an insert moves.
void BM_MemmoveInt4M(benchmark::State& state)
{
    std::vector<int64_t> v(kInts, 7);
    for (auto _ : state) {
        std::memmove(v.data() + 1, v.data(), (kInts - 1) * sizeof(int64_t));
        v[0] = 0;
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * (kInts - 1) * int64_t{sizeof(int64_t)});
}
BENCHMARK(BM_MemmoveInt4M)->Unit(benchmark::kMicrosecond);

void BM_InsertText100K(benchmark::State& state)
{
    VAR_DESC* p = TextArray();
    for (auto _ : state) {
        InsertVarElement(p, 0);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * (kTexts - 1) * int64_t{sizeof(char*) + sizeof(uint16_t)});
    FreeVarTable();
}
BENCHMARK(BM_InsertText100K)->Unit(benchmark::kMicrosecond);

void BM_DeleteText100K(benchmark::State& state)
{
    VAR_DESC* p = TextArray();
    for (auto _ : state) {
        DeleteVarElement(p, 0);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * (kTexts - 1) * int64_t{sizeof(char*) + sizeof(uint16_t)});
    FreeVarTable();
}
BENCHMARK(BM_DeleteText100K)->Unit(benchmark::kMicrosecond);

// The same bytes for the text array: the pointers and the capacities, one memmove each.
void BM_MemmoveText100K(benchmark::State& state)
{
    std::vector<char*> texts(kTexts, nullptr);
    std::vector<uint16_t> caps(kTexts, 15);
    for (auto _ : state) {
        std::memmove(texts.data() + 1, texts.data(), (kTexts - 1) * sizeof(char*));
        std::memmove(caps.data() + 1, caps.data(), (kTexts - 1) * sizeof(uint16_t));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * (kTexts - 1) * int64_t{sizeof(char*) + sizeof(uint16_t)});
}
BENCHMARK(BM_MemmoveText100K)->Unit(benchmark::kMicrosecond);

}  // namespace
