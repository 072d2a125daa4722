#include "tests/support/script_game_fixture.h"

#include "core/errors.h"
#include "script/evaluator.h"
#include "script/script_tables.h"
#include "script/variables.h"
#include "tests/support/game_folder.h"

void SCRIPT_GAME_FIXTURE::OpenScriptGame()
{
    ASSERT_NO_FATAL_FAILURE(EnterGameFolder(dir, &strOldCwd));
    InstallEvaluator();
    pSystem = CreateSystemThread();
    ASSERT_NE(pSystem, nullptr);
    InitScriptBuilder(&b, 0);
    ASSERT_EQ(AddLabel(&b, "SYSTEM_START"), 0);
}

void SCRIPT_GAME_FIXTURE::CloseScriptGame()
{
    FreeScriptTables();
    FreeVarTable();
    g_pfnScriptLocation = nullptr;
    FreeThreadTree();
    pSystem = nullptr;
    LeaveGameFolder(strOldCwd);
}
