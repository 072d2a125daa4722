// Declaring the largest variables (4,000,000 elements) and the element assignment path.
#include <benchmark/benchmark.h>

#include <cstring>

#include "script/variables.h"

namespace {

VAR_DESC* ShapedVar(int32_t nSize)
{
    CreateVarTable(1001);
    VAR_DESC* p = GetVarDesc(1000);
    p->nDims = 1;
    p->anDim[0] = nSize;
    return p;
}

// Every declaration makes a fresh array (an existing one of the same size would only be refilled).
void BM_DeclareInt4M(benchmark::State& state)
{
    VAR_DESC* p = ShapedVar(4000000);
    for (auto _ : state) {
        state.PauseTiming();
        ReleaseVarValues(p);
        state.ResumeTiming();
        InitVarInt(p, 7);
        benchmark::DoNotOptimize(p->pllValues);
    }
    state.SetItemsProcessed(state.iterations() * 4000000);
    FreeVarTable();
}
BENCHMARK(BM_DeclareInt4M)->Unit(benchmark::kMillisecond);

void BM_DeclareText4M(benchmark::State& state)
{
    VAR_DESC* p = ShapedVar(4000000);
    const char szInit[] = "initial text";
    for (auto _ : state) {
        InitVarString(p, szInit, std::strlen(szInit));
        benchmark::DoNotOptimize(p->ppszTexts);
    }
    state.SetItemsProcessed(state.iterations() * 4000000);
    FreeVarTable();
}
BENCHMARK(BM_DeclareText4M)->Unit(benchmark::kMillisecond);

// The same bytes written by memcpy into one block: the floor for the text declaration.
void BM_Memcpy4MTexts(benchmark::State& state)
{
    const char szInit[] = "initial text";
    static char s_ab[4000000 * sizeof szInit];
    for (auto _ : state) {
        for (size_t i = 0; i < 4000000; ++i) std::memcpy(s_ab + i * sizeof szInit, szInit, sizeof szInit);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 4000000);
}
BENCHMARK(BM_Memcpy4MTexts)->Unit(benchmark::kMillisecond);

void BM_ElemIntAddThroughTable(benchmark::State& state)
{
    VAR_DESC* p = ShapedVar(1024);
    InitVarInt(p, 0);
    int32_t i = 0;
    for (auto _ : state) {
        g_apfnElemOps[1].pfnInt(p, i, 3);
        i = (i + 1) & 1023;
    }
    benchmark::DoNotOptimize(p->pllValues[0]);
    FreeVarTable();
}
BENCHMARK(BM_ElemIntAddThroughTable);

}  // namespace
