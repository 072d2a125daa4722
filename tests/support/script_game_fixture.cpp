#include "tests/support/script_game_fixture.h"

#include "core/errors.h"
#include "core/frame_loop.h"
#include "script/evaluator.h"
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

void SCRIPT_GAME_FIXTURE::Pass()
{
    ++g_llPassCount;
    RunScriptThreads(g_pThreadRoot);
}
