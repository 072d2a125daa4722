// Expressions evaluated per second: integer arithmetic on a variable, a subscripted read of a
// two-dimensional array, floating arithmetic, and a concatenation of three texts.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "script/evaluator.h"
#include "script/variables.h"
#include "tools/lib/expr_assembler.h"

namespace {

// Variables 1000 (int64 scalar = 41), 1001 (int64 [20][30]), 1002 (text "name").
void MakeVariables(void)
{
    CreateVarTable(1003);
    InitVarInt(GetVarDesc(1000), 41);
    VAR_DESC* p = GetVarDesc(1001);
    p->nDims = 2;
    p->anDim[0] = 20;
    p->anDim[1] = 30;
    InitVarInt(p, 0);
    for (int64_t i = 0; i < p->llCount; ++i) p->pllValues[i] = i;
    InitVarString(GetVarDesc(1002), "name", 4);
}

void RunInt(benchmark::State& state, const std::vector<uint8_t>& code)
{
    MakeVariables();
    for (auto _ : state) {
        int64_t v = EvalExprInt(code.data(), static_cast<uint32_t>(code.size()));
        benchmark::DoNotOptimize(v);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    FreeVarTable();
}

void BM_EvalIntegerArithmetic(benchmark::State& state)
{
    std::vector<uint8_t> c;   // (a + 1) * 3 - 7 / 2
    ExprAsmVar(c, 1000);
    ExprAsmInt(c, 1);
    ExprAsmOp(c, '+');
    ExprAsmInt(c, 3);
    ExprAsmOp(c, '*');
    ExprAsmInt(c, 7);
    ExprAsmInt(c, 2);
    ExprAsmOp(c, '/');
    ExprAsmOp(c, '-');
    RunInt(state, c);
}

void BM_EvalSubscriptedVariable(benchmark::State& state)
{
    std::vector<uint8_t> c;   // m[a - 30][a - 20]
    ExprAsmOpen(c, 1001);
    ExprAsmVar(c, 1000);
    ExprAsmInt(c, 30);
    ExprAsmOp(c, '-');
    ExprAsmOp(c, ',');
    ExprAsmVar(c, 1000);
    ExprAsmInt(c, 20);
    ExprAsmOp(c, '-');
    ExprAsmClose(c);
    RunInt(state, c);
}

void BM_EvalFloatArithmetic(benchmark::State& state)
{
    std::vector<uint8_t> c;   // a * 0.5 + 1.25 / 3.0
    ExprAsmVar(c, 1000);
    ExprAsmDouble(c, 0.5);
    ExprAsmOp(c, '*');
    ExprAsmDouble(c, 1.25);
    ExprAsmDouble(c, 3.0);
    ExprAsmOp(c, '/');
    ExprAsmOp(c, '+');
    MakeVariables();
    for (auto _ : state) {
        double d = EvalExprFloat(c.data(), static_cast<uint32_t>(c.size()));
        benchmark::DoNotOptimize(d);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    FreeVarTable();
}

void BM_EvalTextConcatenation(benchmark::State& state)
{
    std::vector<uint8_t> c;   // "Hello, " + s + "! " + a  (a as text)
    ExprAsmText(c, "Hello, ");
    ExprAsmVar(c, 1002);
    ExprAsmOp(c, '+');
    ExprAsmText(c, "! ");
    ExprAsmOp(c, '+');
    ExprAsmVar(c, 1000);
    ExprAsmOp(c, 's');
    ExprAsmOp(c, '+');
    MakeVariables();
    char buf[KX_EXPR_TEXT_BUFFER];
    for (auto _ : state) {
        int n = EvalExprString(buf, sizeof buf, c.data(), static_cast<uint32_t>(c.size()));
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(buf);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    FreeVarTable();
}

}  // namespace

BENCHMARK(BM_EvalIntegerArithmetic);
BENCHMARK(BM_EvalSubscriptedVariable);
BENCHMARK(BM_EvalFloatArithmetic);
BENCHMARK(BM_EvalTextConcatenation);
