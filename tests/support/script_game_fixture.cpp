#include "tests/support/script_game_fixture.h"

#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "script/evaluator.h"
#include "script/script_body.h"
#include "script/script_tables.h"
#include "script/variables.h"
#include "core/script_thread.h"
#include "tests/support/game_folder.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"

void SCRIPT_GAME_FIXTURE::OpenScriptGame()
{
    ASSERT_NO_FATAL_FAILURE(EnterGameFolder(dir, &strOldCwd));
    pSystem = CreateSystemThread();
    ASSERT_NE(pSystem, nullptr);
    InitScriptBuilder(&b, 0);
    ASSERT_EQ(AddLabel(&b, "SYSTEM_START"), 0);
}

void SCRIPT_GAME_FIXTURE::CloseScriptGame()
{
    FreeScriptGame();
    pSystem = nullptr;
    LeaveGameFolder(strOldCwd);
}

void SCRIPT_GAME_FIXTURE::StartParked(int64_t llParkFrames)
{
    ASSERT_GE(EmitCommand(&b, KXCMD_WAIT, {ExprArg(0, MakeExprInt(llParkFrames))}), 0);
    ASSERT_EQ(FinishScriptBody(&b), 0) << b.strError;
    GAME_DATA game = DefaultGameData();
    game.scripts = {ScriptFromBuilder("main.txt", b)};
    game.defs.insert(game.defs.end(), userDefs.begin(), userDefs.end());
    ASSERT_EQ(WriteGameFolder(dir.strNative, BuildGameFiles(game)), 0);
    ASSERT_EQ(StartScriptSystem(), 0);
    ASSERT_TRUE(errors.reports.empty());
}

bool g_bScriptHalted = false;

namespace {

int HaltSystemThread(void)
{
    g_bScriptHalted = true;
    g_pCurThread->bRunA = 0;
    return 1;
}

}  // namespace

void SCRIPT_GAME_FIXTURE::StartHalting(SCRIPT_BUILDER& script, const std::vector<KXV_DEF>& defs,
                                       const std::vector<KXE_ENTRY>& texts)
{
    FreeScriptTables();
    FreeVarTable();
    ASSERT_GE(EmitCommand(&script, KXCMD_NOP, {}), 0);
    ASSERT_EQ(FinishScriptBody(&script), 0) << script.strError;
    GAME_DATA game = DefaultGameData();
    game.nHighestVar = 1099;
    game.defs.insert(game.defs.end(), defs.begin(), defs.end());
    game.errors.insert(game.errors.end(), texts.begin(), texts.end());
    game.scripts.push_back(ScriptFromBuilder("main.txt", script));
    ASSERT_EQ(WriteGameFolder(dir.strNative, BuildGameFiles(game)), 0);
    g_bEngineStop = 0;
    ASSERT_EQ(StartScriptSystem(), 0);
    SCRIPT_BODY* pBody = g_ppScriptBody[0];
    ASSERT_NE(pBody, nullptr);
    // The last command (the no-op above) halts instead.
    pBody->ppHandlerTables[1][pBody->nCommands - 1] = HaltSystemThread;
    System()->bRunA = System()->bRunB = 1;
    g_bScriptHalted = false;
}

void SCRIPT_GAME_FIXTURE::Pass()
{
    ++g_llPassCount;
    RunScriptThreads(g_pThreadRoot);
}
