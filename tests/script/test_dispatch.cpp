// The command-handler table, the thread record and the engine pause.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "root/startup.h"
#include "script/script_hooks.h"
#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/object_tree.h"
#include "platform/plat_time.h"
#include "platform/plat_window.h"
#include "script/command_ids.h"
#include "script/dispatch.h"
#include "script/flow_frames.h"
#include "core/script_thread.h"
#include "tests/support/test_support.h"
#include "tools/lib/command_table.h"
#include "tests/support/engine_test.h"

namespace {

static_assert(KX_COMMAND_IDS == KX_COMMAND_COUNT);
constexpr bool SameId(int a, int b) { return a == b; }
static_assert(SameId(CMDID_GOTO, KXCMD_GOTO) && SameId(CMDID_GOSUB, KXCMD_GOSUB) && SameId(CMDID_RETURN, KXCMD_RETURN) &&
              SameId(CMDID_ASSIGN, KXCMD_ASSIGN) && SameId(CMDID_LOOP_END, KXCMD_LOOP_END) &&
              SameId(CMDID_SYSTEM, KXCMD_SYSTEM) && SameId(CMDID_TEXT_APPEND_EXPR, KXCMD_TEXT_APPEND_EXPR));

TEST(CommandTable, NamesAgreeWithTheCompilerTable)
{
    const std::vector<KXC_COMMAND> cmds = CanonicalCommands();
    ASSERT_EQ(cmds.size(), static_cast<size_t>(KX_COMMAND_IDS));
    for (int i = 0; i < KX_COMMAND_IDS; ++i) EXPECT_EQ(cmds[i].strName, GetCommandName(i)) << i;
    EXPECT_EQ(GetCommandName(KX_COMMAND_IDS), nullptr);
    EXPECT_EQ(GetCommandName(-1), nullptr);
}

// Every opcode byte through the table: the do-nothing ids go on, ids without a command and every
// byte past the table report 900050, and every command has its own handler (tested with its own
// subsystem).
TEST(CommandTable, EveryOpcodeHasAHandler)
{
    ERROR_RECORDER errors;
    static char szText[] = "no handler: %s";
    g_anErrorId[0] = 900050;
    g_apszErrorText[0] = szText;
    g_nErrorTexts = 1;
    const std::vector<int> nops = {0, 9, 77, 80, 82, 83, 84};
    auto IsUnused = [](int i) {
        return (i >= 16 && i <= 19) || (i >= 29 && i <= 41) || i == 59 || i == 85 || (i >= 113 && i <= 115) || i >= 117;
    };
    for (int i = 0; i < KX_CMD_HANDLER_SLOTS; ++i) {
        SCOPED_TRACE(i);
        ASSERT_NE(g_apfnCmdHandlers[i], nullptr);
        errors.reports.clear();
        if (std::find(nops.begin(), nops.end(), i) != nops.end()) {
            EXPECT_EQ(g_apfnCmdHandlers[i], CmdNop);
            EXPECT_EQ(g_apfnCmdHandlers[i](), 0);
            EXPECT_TRUE(errors.reports.empty());
            continue;
        }
        if (!IsUnused(i)) {
            // Every command the engine defines is bound to its own handler.
            EXPECT_NE(g_apfnCmdHandlers[i], CmdUnknown);
            continue;
        }
        EXPECT_EQ(g_apfnCmdHandlers[i], CmdUnknown);
        EXPECT_EQ(g_apfnCmdHandlers[i](), -1);
        ASSERT_EQ(errors.reports.size(), 1u);
        EXPECT_EQ(errors.reports[0].nId, 900050);
        EXPECT_EQ(errors.reports[0].bFatal, 1);
    }
    // A command table of fewer commands leaves the ids past it unknown.
    FillCmdHandlers(50);
    EXPECT_EQ(g_apfnCmdHandlers[9], CmdNop);
    EXPECT_NE(g_apfnCmdHandlers[42], CmdUnknown);
    EXPECT_EQ(g_apfnCmdHandlers[50], CmdUnknown);
    EXPECT_EQ(g_apfnCmdHandlers[77], CmdUnknown);
    FillCmdHandlers(KX_COMMAND_IDS);
    EXPECT_EQ(g_apfnCmdHandlers[77], CmdNop);
    g_nErrorTexts = 0;
}

TEST(ScriptThread, AttachMakesARunnableThreadWithItsFirstStackEntries)
{
    TREE_NODE* pRoot = CreateRootNode();
    ASSERT_NE(pRoot, nullptr);
    TREE_NODE* pNode = CreateNode(pRoot, "T", 0, 1);
    ASSERT_NE(pNode, nullptr);
    SCRIPT_THREAD* p = AttachScriptThread(pNode);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(pNode->pPayload, p);
    EXPECT_EQ(p->bRunA, 1);
    EXPECT_EQ(p->bRunB, 1);
    EXPECT_EQ(p->bRoot, 0);
    EXPECT_EQ(p->nPC, 0);
    EXPECT_EQ(p->nCommands, 0);
    EXPECT_EQ(p->ppHandlerTables, nullptr);
    ASSERT_NE(p->apIf[0], nullptr);
    ASSERT_NE(p->apCall[0], nullptr);
    ASSERT_NE(p->apLoop[0], nullptr);
    EXPECT_EQ(p->apIf[1], nullptr);
    EXPECT_EQ(p->apCall[1], nullptr);
    EXPECT_EQ(p->apLoop[1], nullptr);
    EXPECT_EQ(p->apCall[0]->nReturnCommand, 0);
    EXPECT_EQ(p->apLoop[0]->llPassCount, 0);
    pNode->pPayload = nullptr;
    FreeScriptThread(p);
    RemoveNode(pNode);
    FreeTreeNode(pNode);
    FreeTreeNode(pRoot);
}

// ---- the pause ----

int g_nBoundRuns = 0;
int g_nActiveCalls = 0;
int g_nActiveAfter = 1000;        // the window turns active from this call of the hook on
int g_nStopAfter = 1000;          // the engine stops at this call
std::vector<uint32_t> g_spans;

int CmdBound(void) { ++g_nBoundRuns; g_pCurThread->nPC = 0; return 1; }
int HookActive(void)
{
    ++g_nActiveCalls;
    PlatAdvanceFakeTime(500);
    if (g_nActiveCalls >= g_nStopAfter) g_bEngineStop = 1;
    return g_nActiveCalls >= g_nActiveAfter ? 1 : 0;
}
void HookSpan(uint32_t dw) { g_spans.push_back(dw); }

class PauseTest : public EngineTest {
protected:
    ERROR_RECORDER errors;
    TREE_NODE* pRoot = nullptr;
    TREE_NODE* pNode = nullptr;
    SCRIPT_THREAD* pThread = nullptr;
    CMD_HANDLER aPaused[1] = {DispatchWhilePaused};
    CMD_HANDLER aBound[1] = {CmdBound};
    CMD_HANDLER* apTables[2] = {aPaused, aBound};

    void SetUp() override
    {
        PlatUseFakeClock(1);
        PlatSetFakeTime(50000);
        g_nBoundRuns = g_nActiveCalls = 0;
        g_nActiveAfter = g_nStopAfter = 1000;
        g_spans.clear();
        g_ScriptHooks.pfnIsMainWindowActive = HookActive;
        g_ScriptHooks.pfnAddPausedTime = HookSpan;
        pRoot = CreateRootNode();
        ASSERT_NE(pRoot, nullptr);
        pNode = CreateNode(pRoot, "T", 0, 1);
        ASSERT_NE(pNode, nullptr);
        pThread = AttachScriptThread(pNode);
        ASSERT_NE(pThread, nullptr);
        pThread->ppHandlerTables = apTables;
        pThread->nCommands = 1;
    }
    void TearDown() override
    {
        FreeScriptThread(pThread);
        RemoveNode(pNode);
        FreeTreeNode(pNode);
        FreeTreeNode(pRoot);
        PlatUseFakeClock(0);
    }
};

TEST_F(PauseTest, RunningInTheBackgroundNeverPauses)
{
    g_bRunInBackground = 1;
    g_bEnginePaused = 1;
    RunScriptThreads(pRoot);   // the bound table, directly
    EXPECT_EQ(g_nBoundRuns, 1);
    EXPECT_EQ(g_nActiveCalls, 0);
    UpdatePauseState();
    EXPECT_EQ(g_bEnginePaused, 0);
    EXPECT_EQ(g_nActiveCalls, 0);
    EXPECT_TRUE(g_spans.empty());   // no pause ended: the timers keep their totals
}

TEST_F(PauseTest, APausedCommandWaitsThenRunsAndThePauseSpanReachesTheTimers)
{
    g_bRunInBackground = 0;
    g_nActiveAfter = 5;
    UpdatePauseState();   // inactive: the pause starts at 50500
    ASSERT_EQ(g_bEnginePaused, 1);
    EXPECT_EQ(g_llPauseStart, 50500);
    RunScriptThreads(pRoot);   // waits in the pre-hook until the window is active again
    EXPECT_EQ(g_nBoundRuns, 1);
    EXPECT_EQ(g_bEnginePaused, 0);
    EXPECT_EQ(g_llPauseStart, 0);
    ASSERT_EQ(g_spans.size(), 1u);
    EXPECT_EQ(g_spans[0], 2030u);   // four turns of the hook (500 each) and three 10 ms sleeps
    EXPECT_TRUE(errors.reports.empty());
    // Entering and leaving twice changes nothing.
    EnterPause();
    EnterPause();
    LeavePause();
    LeavePause();
    EXPECT_EQ(g_spans.size(), 2u);
}

TEST_F(PauseTest, StopOrQuitWhilePausedEndsTheTurnWithoutRunningTheCommand)
{
    g_bRunInBackground = 0;
    g_nStopAfter = 3;
    EnterPause();
    g_pCurThread = pThread;
    g_nCurCommand = 0;
    EXPECT_EQ(DispatchWhilePaused(), 1);
    EXPECT_EQ(g_nBoundRuns, 0);
    EXPECT_EQ(g_nActiveCalls, 3);
    g_bEngineStop = 0;

    // WM_QUIT from the window thread's queue clears the running flag.
    ASSERT_EQ(PlatInitWindowSystem(PLAT_BACKEND_FAKE), 0);
    g_nStopAfter = 1000;
    PlatPostQuitMessage(0);
    EXPECT_EQ(DispatchWhilePaused(), 1);
    EXPECT_EQ(g_bRunning, 0);
    EXPECT_EQ(g_nBoundRuns, 0);
    PlatShutdownWindowSystem();
}

TEST_F(PauseTest, PreHookChecksTheCommandIndex)
{
    g_pCurThread = pThread;
    g_nCurCommand = 1;   // past the body
    EXPECT_EQ(DispatchWhilePaused(), -1);
    ASSERT_EQ(errors.reports.size(), 1u);
    EXPECT_EQ(errors.reports[0].nId, 900050);
    EXPECT_EQ(g_nBoundRuns, 0);
}

}  // namespace
