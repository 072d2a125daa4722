// Flow control through the scheduler: a counted loop of assignments and if/else branches, and
// call/return pairs with and without values. The game is handed over as in-memory compiler files.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "root/startup.h"
#include "core/engine_hooks.h"
#include "core/compiler_link.h"
#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/object_tree.h"
#include "core/pack_archive.h"
#include "script/dispatch.h"
#include "script/evaluator.h"
#include "script/script_body.h"
#include "script/script_tables.h"
#include "script/system_vars.h"
#include "script/variables.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/script_builder.h"

namespace {

typedef std::vector<uint8_t> CODE;

enum : uint16_t { V_A = 1000, V_B, V_C };
enum { PASSES = 1000 };

// Ends the turn and starts the script over.
int BenchRewind(void)
{
    g_pCurThread->nPC = 0;
    return 1;
}

CODE I(int64_t v) { return MakeExprInt(v); }
CODE V(uint16_t n)
{
    CODE c;
    ExprAsmVar(c, n);
    return c;
}
CODE Op(CODE a, const CODE& b, char cOp)
{
    a.insert(a.end(), b.begin(), b.end());
    ExprAsmOp(a, cOp);
    return a;
}
void Add(SCRIPT_BUILDER* b, uint16_t nVar, int64_t v)
{
    EmitCommand(b, KXCMD_ASSIGN, {ExprArg(0, V(nVar), EVALTYPE_INT, ARGOP_ADD), ExprArg(1, I(v))});
}

// A one-script game whose SYSTEM thread starts at command 0 and rewinds at the wait command. The
// assignments run the engine's own assignment command.
struct FLOW_GAME {
    std::vector<GAME_FILE> files;
    std::vector<COMPILER_FILE> compiled;
    std::vector<COMPILER_FILE*> pointers;
    TREE_NODE* pSystem = nullptr;
    bool bStarted = false;

    explicit FLOW_GAME(SCRIPT_BUILDER* b)
    {
        if (FinishScriptBody(b) != 0) return;
        InitPackNameTable();
        InstallEvaluator();
        InstallSystemVariables();
        GAME_DATA game = DefaultGameData();
        for (uint16_t n : {V_A, V_B, V_C}) game.defs.push_back(MakeIntVarDef(n, 0));
        game.scripts.push_back(ScriptFromBuilder("main.txt", *b));
        files = BuildGameFiles(game);
        for (const GAME_FILE& f : files)
            compiled.push_back(COMPILER_FILE{f.strName.c_str(), static_cast<int32_t>(f.data.size()), f.data.data()});
        for (COMPILER_FILE& f : compiled) pointers.push_back(&f);
        g_apCompilerFiles = pointers.data();
        g_nCompilerFiles = static_cast<int32_t>(pointers.size());
        g_pThreadRoot = CreateRootNode();
        pSystem = CreateNode(g_pThreadRoot, "SYSTEM", 0, 100);
        SCRIPT_THREAD* p = AttachScriptThread(pSystem);
        p->bRoot = 1;
        if (StartScriptSystem() != 0) return;
        SCRIPT_BODY* pBody = g_ppScriptBody[0];
        const CMD_HANDLER pfnWait = g_apfnCmdHandlers[KXCMD_WAIT];
        for (int32_t i = 0; i < pBody->nCommands; ++i)
            if (pBody->ppHandlerTables[1][i] == pfnWait) pBody->ppHandlerTables[1][i] = BenchRewind;
        bStarted = true;
    }
    ~FLOW_GAME()
    {
        FreeScriptTables();
        FreeVarTable();
        if (pSystem) {
            FreeScriptThread(static_cast<SCRIPT_THREAD*>(pSystem->pPayload));
            RemoveNode(pSystem);
            FreeTreeNode(pSystem);
        }
        FreeTreeNode(g_pThreadRoot);
        g_pThreadRoot = nullptr;
        g_apCompilerFiles = nullptr;
        g_nCompilerFiles = 0;
        InstallEngineParts();
    }

    void Run(benchmark::State& state)
    {
        if (!bStarted) {
            state.SkipWithError("the game did not start");
            return;
        }
        for (auto _ : state) {
            ++g_llPassCount;
            RunScriptThreads(g_pThreadRoot);
            if (g_bEngineStop) {
                state.SkipWithError("the script stopped with an error");
                return;
            }
        }
        state.SetItemsProcessed(state.iterations() * PASSES);
    }
};

// 1000 passes of: a += 1; if a % 2 == 0 { b += 1 } else { c += 1 }. Items: loop passes.
void BM_AssignBranchLoop(benchmark::State& state)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    AddLabel(&b, "SYSTEM_START");
    BeginLoop(&b, I(PASSES));
    Add(&b, V_A, 1);
    BeginIf(&b, Op(Op(V(V_A), I(2), '%'), I(0), '='));
    Add(&b, V_B, 1);
    AddElse(&b);
    Add(&b, V_C, 1);
    EndIf(&b);
    EndLoop(&b);
    EmitCommand(&b, KXCMD_WAIT, {});
    FLOW_GAME game(&b);
    game.Run(state);
}
BENCHMARK(BM_AssignBranchLoop);

// 1000 call/return pairs per turn; with values: one item of each kind there and one integer back.
// Items: pairs.
void BM_CallReturn(benchmark::State& state)
{
    const bool bValues = state.range(0) != 0;
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    AddLabel(&b, "SYSTEM_START");
    BeginLoop(&b, I(PASSES));
    BUILDER_VALUES args;
    if (bValues) {
        args.ints = {I(1)};
        args.floats = {MakeExprDouble(2.5)};
        args.texts = {MakeExprText("text")};
    }
    EmitCall(&b, "sub", args);
    EndLoop(&b);
    EmitCommand(&b, KXCMD_WAIT, {});
    AddLabel(&b, "sub");
    BUILDER_VALUES ret;
    if (bValues) ret.ints = {I(7)};
    EmitReturn(&b, ret);
    FLOW_GAME game(&b);
    game.Run(state);
}
BENCHMARK(BM_CallReturn)->Arg(0)->Arg(1);

}  // namespace
