// The text-line and CSV file commands: the input is the file "in.txt" of the game folder. A script
// reads it into a text array by lines and by CSV fields, into a two-element array by lines, and
// counts its CSV fields; one pass of the scheduler runs it.
#include <cstdint>
#include <string>
#include <vector>

#include "core/engine_globals.h"
#include "core/frame_loop.h"
#include "core/object_tree.h"
#include "core/script_thread.h"
#include "fuzz/support.h"
#include "script/evaluator.h"
#include "script/script_tables.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/kx_writers.h"
#include "tools/lib/script_builder.h"

namespace {

constexpr uint16_t kCount = 1000, kLines = 1003, kFields = 1004, kShort = 1005;
std::vector<GAME_FILE> s_game;

BUILDER_ARG FileArg(void) { return ExprArg(0, MakeExprText("in.txt"), EVALTYPE_TEXT); }
BUILDER_ARG ArrayArg(uint8_t bId, uint16_t nVar) { return ExprArg(bId, MakeExprElement(nVar, {0}), EVALTYPE_TEXT); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzInit(pArgc, pArgv);
    InstallEvaluator();
    GAME_DATA game = FuzzSampleGame();
    game.defs.push_back(MakeTextVarDef(kLines, "?", {64}));
    game.defs.push_back(MakeTextVarDef(kFields, "?", {64}));
    game.defs.push_back(MakeTextVarDef(kShort, "?", {2}));
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    AddLabel(&b, KX_START_LABEL);
    EmitCommand(&b, KXCMD_READ_TEXT_LINES, {FileArg(), ArrayArg(1, kLines)});
    EmitCommand(&b, KXCMD_CSV_READ, {FileArg(), ArrayArg(1, kFields)});
    EmitCommand(&b, KXCMD_READ_TEXT_LINES, {FileArg(), ArrayArg(1, kShort)});
    EmitCommand(&b, KXCMD_CSV_COUNT, {FileArg(), ExprArg(2, MakeExprVar(kCount))});
    EmitCommand(&b, KXCMD_WAIT, {ExprArg(0, MakeExprInt(1000000))});
    FinishScriptBody(&b);
    game.scripts[0] = ScriptFromBuilder("main.txt", b);
    s_game = BuildGameFiles(game);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    FuzzWriteFile("in.txt", pData, nSize);
    FuzzSetMemoryFiles(FuzzFilesOf(s_game));
    TREE_NODE* pSystem = FuzzCreateSystemThread();
    if (pSystem && StartScriptSystem() == 0) {
        SCRIPT_THREAD* t = static_cast<SCRIPT_THREAD*>(pSystem->pPayload);
        t->bRunA = t->bRunB = 1;
        ++g_llPassCount;
        RunScriptThreads(g_pThreadRoot);
    }
    FuzzFreeScriptGame();
    FuzzClearMemoryFiles();
    FuzzEndInput();
    return 0;
}
