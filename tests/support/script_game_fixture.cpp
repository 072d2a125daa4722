#include "tests/support/script_game_fixture.h"

#include <cstdio>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/pack_archive.h"
#include "platform/plat_file.h"
#include "script/dispatch.h"
#include "script/evaluator.h"
#include "script/script_tables.h"
#include "script/variables.h"

void SCRIPT_GAME_FIXTURE::OpenScriptGame()
{
    strOldCwd = PlatGetCurrentDir();
    ASSERT_EQ(PlatSetCurrentDir(dir.strEngine.c_str()), 0);
    std::snprintf(g_szExeDir, sizeof g_szExeDir, "%s", dir.strEngine.c_str());
    InitPackNameTable();
    FreePackIndex();
    g_bPackedData = 0;
    InstallEvaluator();
    g_pThreadRoot = CreateRootNode();
    ASSERT_NE(g_pThreadRoot, nullptr);
    pSystem = CreateNode(g_pThreadRoot, "SYSTEM", 0, 100);
    ASSERT_NE(pSystem, nullptr);
    ASSERT_NE(AttachScriptThread(pSystem), nullptr);
    InitScriptBuilder(&b, 0);
    ASSERT_EQ(AddLabel(&b, "SYSTEM_START"), 0);
}

void SCRIPT_GAME_FIXTURE::CloseScriptGame()
{
    FreeScriptTables();
    FreeVarTable();
    g_pfnScriptLocation = nullptr;
    if (pSystem) {
        FreeScriptThread(System());
        RemoveNode(pSystem);
        FreeTreeNode(pSystem);
        pSystem = nullptr;
    }
    FreeTreeNode(g_pThreadRoot);
    g_pThreadRoot = nullptr;
    g_pCurThread = nullptr;
    g_pCurThreadNode = nullptr;
    FreePackIndex();
    PlatSetCurrentDir(strOldCwd.c_str());
}
