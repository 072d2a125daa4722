#include "root/startup.h"
#include "core/engine_hooks.h"
#include "tests/support/game_folder.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/pack_archive.h"
#include "platform/plat_file.h"
#include "platform/plat_time.h"
#include "script/command_args.h"
#include "script/evaluator.h"
#include "script/script_body.h"
#include "script/script_tables.h"
#include "core/script_thread.h"
#include "script/system_vars.h"
#include "script/variables.h"

void EnterGameFolder(const TEMP_DIR& dir, std::string* pOldCwd)
{
    *pOldCwd = PlatGetCurrentDir();
    ASSERT_EQ(PlatSetCurrentDir(dir.strEngine.c_str()), 0);
    std::snprintf(g_szExeDir, sizeof g_szExeDir, "%s", dir.strEngine.c_str());
    InitPackNameTable();
    FreePackIndex();
    g_bPackedData = 0;
}

void LeaveGameFolder(const std::string& strOldCwd)
{
    FreePackIndex();
    PlatSetCurrentDir(strOldCwd.c_str());
}

TREE_NODE* CreateSystemThread(void)
{
    g_pThreadRoot = CreateRootNode();
    EXPECT_NE(g_pThreadRoot, nullptr);
    if (!g_pThreadRoot) return nullptr;
    TREE_NODE* pSystem = CreateNode(g_pThreadRoot, "SYSTEM", 0, 100);
    EXPECT_NE(pSystem, nullptr);
    if (!pSystem) return nullptr;
    if (!AttachScriptThread(pSystem)) {
        ADD_FAILURE() << "no script thread for SYSTEM";
        RemoveNode(pSystem);
        FreeTreeNode(pSystem);
        return nullptr;
    }
    return pSystem;
}

void FreeThreadTree(void)
{
    g_pCurThread = nullptr;
    g_pCurThreadNode = nullptr;
    if (g_pThreadRoot) {
        while (TREE_NODE* p = g_pThreadRoot->pFirstChild) {
            FreeScriptThread(static_cast<SCRIPT_THREAD*>(p->pPayload));
            RemoveNode(p);
            FreeTreeNode(p);
        }
        FreeTreeNode(g_pThreadRoot);
    }
    g_pThreadRoot = nullptr;
}

void FreeScriptGame(void)
{
    FreeScriptTables();
    FreeVarTable();
    InstallEngineParts();
    FreeThreadTree();
}

void OpenObjectTreeGame(const TEMP_DIR& dir, std::string* pOldCwd)
{
    ASSERT_NO_FATAL_FAILURE(EnterGameFolder(dir, pOldCwd));
    InstallEvaluator();
    InstallSystemVariables();
    PlatUseFakeClock(1);
    PlatSetFakeTime(100000);
    ASSERT_EQ(CreateObjectTrees(), 0);
}

void CloseObjectTreeGame(const std::string& strOldCwd)
{
    FreeScriptTables();
    FreeVarTable();
    FreeObjectTrees();
    FreeCommandArgTexts();
    g_pCurThread = nullptr;
    g_pCurThreadNode = nullptr;
    InstallEngineParts();
    PlatUseFakeClock(0);
    LeaveGameFolder(strOldCwd);
}

int g_nTestHalts = 0;

int HaltForTest(void)
{
    ++g_nTestHalts;
    g_pCurThread->nPC = g_nCurCommand;
    return 1;
}

void BindCommandHandler(int nId, CMD_HANDLER pfn)
{
    const CMD_HANDLER pfnOld = g_apfnCmdHandlers[nId];
    g_apfnCmdHandlers[nId] = pfn;
    for (int32_t s = 0; s < g_nScripts; ++s) {
        SCRIPT_BODY* pBody = g_ppScriptBody[s];
        if (!pBody || !pBody->ppHandlerTables) continue;
        for (int32_t i = 0; i < pBody->nCommands; ++i)
            if (pBody->ppHandlerTables[1][i] == pfnOld) pBody->ppHandlerTables[1][i] = pfn;
    }
}
