// Engine-control commands run from a compiled game folder: waits by frames and by time on the fake
// clock (the clock's wrap included), frame-rate changes, quit and restart, the input and command
// switches with the cursor requests, engine settings (background, game screen size, the script
// timers against the engine pause), and the key-counter write rule.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "root/startup.h"
#include "script/script_hooks.h"
#include "core/engine_globals.h"
#include "core/engine_hooks.h"
#include "core/engine_tables.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/input_state.h"
#include "core/object_tree.h"
#include "core/pack_archive.h"
#include "display/window_state.h"
#include "platform/plat_display.h"
#include "platform/plat_file.h"
#include "platform/plat_time.h"
#include "script/dispatch.h"
#include "script/engine_control.h"
#include "script/evaluator.h"
#include "script/script_tables.h"
#include "core/script_thread.h"
#include "script/system_vars.h"
#include "script/variables.h"
#include "tests/support/script_game_fixture.h"
#include "tests/support/test_support.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/script_builder.h"

namespace {

const uint32_t kStartTime = 200000;
const int64_t kPark = 1000000;   // frames of the wait that ends every test script

using ARGS = std::vector<std::pair<int, int64_t>>;

int g_nComputeCalls = 0, g_nClearCalls = 0, g_nResetCalls = 0, g_bActive = 1;
void HookCompute(void) { ++g_nComputeCalls; }
void HookClear(void) { ++g_nClearCalls; }
void HookReset(void) { ++g_nResetCalls; }
int HookActive(void) { return g_bActive; }

// A game folder whose script 0 starts at "SYSTEM_START" with the commands a test emits, then a
// long wait; the SYSTEM thread placed there and the fake clock.
class EngineCmdTest : public SCRIPT_GAME_FIXTURE {
protected:

    void SetUp() override
    {
        OpenScriptGame();
        if (HasFatalFailure()) return;
        PlatUseFakeClock(1);
        PlatSetFakeTime(kStartTime);
        g_nComputeCalls = g_nClearCalls = g_nResetCalls = 0;
        g_bActive = 1;
        std::memset(g_abSwitchTable, 1, sizeof g_abSwitchTable);   // as start-up leaves it
    }
    void TearDown() override
    {
        CloseScriptGame();
        PlatUseFakeClock(0);
        // The tables of cases run TearDown and SetUp again within one test: each case starts from
        // the engine's start state as the test does.
        ResetEngineState();
    }

    // One command with integer arguments by id.
    void Cmd(int nOp, const ARGS& args)
    {
        std::vector<BUILDER_ARG> v;
        for (const auto& [nId, llValue] : args) v.push_back(ExprArg(static_cast<uint8_t>(nId), MakeExprInt(llValue)));
        ASSERT_GE(EmitCommand(&b, static_cast<uint8_t>(nOp), v), 0);
    }
    // The closing wait, the folder written and the scripts started.
    void Start() { StartParked(kPark); }
    // The command the thread runs next, relative to the first one the test emitted.
    int NextCommand() const { return System()->nPC; }
    bool Parked() const { return System()->nWaitFrames > kPark - 5; }
};

// Both counts given: frames only; frames 0 with a time: the time; both 0: on at once. Negative
// counts wait for nothing beyond the turn's end.
TEST_F(EngineCmdTest, WaitChoosesFramesThenTimeThenGoesOn)
{
    struct CASE {
        ARGS args;
        int32_t nFrames;
        uint32_t dwWake;
        bool bParked;
    };
    const std::vector<CASE> cases = {
        {{{0, 3}, {1, 500}}, 3, 0, false},
        {{{0, 0}, {1, 50}}, 0, kStartTime + 50, false},
        {{{1, 50}}, 0, kStartTime + 50, false},
        {{{0, 0}, {1, 0}}, 0, 0, true},
        {{}, 0, 0, true},
        {{{0, 0x100000002LL}}, 2, 0, false},   // the low 32 bits
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        TearDown();
        SetUp();
        Cmd(KXCMD_WAIT, cases[i].args);
        Start();
        Pass();
        EXPECT_EQ(Parked(), cases[i].bParked);
        if (cases[i].bParked) continue;
        EXPECT_EQ(NextCommand(), 1);
        EXPECT_EQ(System()->nWaitFrames, cases[i].nFrames);
        EXPECT_EQ(System()->dwWakeTime, cases[i].dwWake);
    }
    EXPECT_TRUE(errors.reports.empty());
}

// The thread sleeps through its frames (a wait of 2 skips one pass), then through its
// milliseconds, also across the wrap of the 32-bit clock and when now + the wait lands on 0 (which
// would otherwise mean "no wait").
TEST_F(EngineCmdTest, WaitsEndOnTheirFrameAndOnTheirTime)
{
    PlatSetFakeTime(0xFFFFFF00u);
    Cmd(KXCMD_WAIT, {{0, 2}});
    Cmd(KXCMD_WAIT, {{1, 0x120}});   // wakes at 0x20, after the wrap
    Cmd(KXCMD_WAIT, {{1, 0x100}});
    Start();

    Pass();
    EXPECT_EQ(NextCommand(), 1);
    Pass();
    EXPECT_EQ(NextCommand(), 1);
    Pass();
    EXPECT_EQ(NextCommand(), 2);
    EXPECT_EQ(System()->dwWakeTime, 0x20u);

    for (uint32_t dwNow : {0xFFFFFFF0u, 0x1Fu}) {   // still before the wake time
        PlatSetFakeTime(dwNow);
        Pass();
        EXPECT_EQ(NextCommand(), 2);
    }

    // The next wait starts at 0xFFFFFF00 and would end at 0.
    PlatSetFakeTime(0xFFFFFF00u);
    System()->dwWakeTime = 0;
    Pass();
    EXPECT_EQ(NextCommand(), 3);
    EXPECT_NE(System()->dwWakeTime, 0u);
    PlatSetFakeTime(0xFFFFFFFFu);
    Pass();
    EXPECT_EQ(NextCommand(), 3);
    PlatAdvanceFakeTime(2);
    Pass();
    EXPECT_TRUE(Parked());
    EXPECT_TRUE(errors.reports.empty());
}

// A new rate publishes the counts of the second so far and starts a new second; rates below 1
// count as 1; the skip switch is on for any non-zero value.
TEST_F(EngineCmdTest, FrameRateChangePublishesTheCounters)
{
    struct CASE {
        ARGS args;
        int nFps;
        uint8_t bSkip;
    };
    const std::vector<CASE> cases = {
        {{{0, 30}, {1, 0}}, 30, 0},
        {{{0, 0}}, 1, 1},
        {{{0, -5}, {1, 0x100}}, 1, 1},
        {{{1, 0}}, 60, 0},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        TearDown();
        SetUp();
        Cmd(KXCMD_FRAME_RATE, cases[i].args);
        Start();
        ResetFrameState();
        CountDrawnFrame();
        CountDrawnFrame();
        Pass();
        ASSERT_TRUE(Parked());
        EXPECT_EQ(g_nFps, cases[i].nFps);
        EXPECT_EQ(g_bFrameSkip, cases[i].bSkip);
        const bool bRate = cases[i].args[0].first == 0;
        EXPECT_EQ(g_nDrawsLastSecond, bRate ? 2 : 0);
    }
}

// Quit stops the frame with the stop flag (later commands do not run); with 1 the program starts
// again after shut-down.
TEST_F(EngineCmdTest, QuitEndsTheLoopAndRestartSetsTheFlag)
{
    for (int bWithArg : {1, 0}) {
        SCOPED_TRACE(bWithArg);
        TearDown();
        SetUp();
        if (bWithArg)
            Cmd(KXCMD_QUIT, {{0, 1}});
        else
            Cmd(KXCMD_QUIT, {});
        Start();
        const ENGINE_HOOKS saved = g_EngineHooks;
        InstallEngineParts();
        EXPECT_EQ(RunFrame(), 1);
        EXPECT_EQ(g_bEngineStop.load(), 1);
        EXPECT_EQ(g_bRestartAtExit, bWithArg);
        EXPECT_FALSE(Parked());
        EXPECT_EQ(RunFrame(), 1);   // the loop stays ended
        g_EngineHooks = saved;
        g_bEngineStop = 0;
    }
}

// The switch of command k is argument k + 2, for every command up to 121 (ids past 100 included).
TEST_F(EngineCmdTest, SetSwitchesWritesTheLowByteOfEachGivenSwitch)
{
    Cmd(KXCMD_SET_SWITCHES, {{3, 0}, {50, 7}, {102, 0}, {123, 0x102}});
    Start();
    Pass();
    ASSERT_TRUE(Parked());
    for (int k = 0; k < KX_COMMAND_SWITCHES; ++k) {
        uint8_t bExpected = 1;
        if (k == 1 || k == 100) bExpected = 0;
        if (k == 48) bExpected = 7;
        if (k == 121) bExpected = 2;
        EXPECT_EQ(g_abSwitchTable[k], bExpected) << k;
    }
}

// The mouse switch posts a hide when it goes 1 -> 0 and a show when it goes 0 -> 1, nothing
// otherwise; the switches keep the values' low bytes.
TEST_F(EngineCmdTest, InputSwitchesAndCursorRequests)
{
    struct STEP {
        int64_t v;
        uint8_t nRequest;
        uint8_t bShown;
        uint8_t bSwitch;
    };
    const std::vector<STEP> steps = {
        {0, KX_CURSOR_REQUEST_HIDE, 0, 0}, {0, KX_CURSOR_REQUEST_NONE, 0, 0}, {1, KX_CURSOR_REQUEST_SHOW, 1, 1},
        {2, KX_CURSOR_REQUEST_NONE, 1, 2}, {1, KX_CURSOR_REQUEST_NONE, 1, 1}, {0x100, KX_CURSOR_REQUEST_NONE, 1, 0},
    };
    Cmd(KXCMD_INPUT_SWITCHES, {{0, 0x100}, {1, 1}});
    for (const STEP& s : steps) {
        Cmd(KXCMD_INPUT_SWITCHES, {{2, s.v}});
        Cmd(KXCMD_WAIT, {{0, 1}});
    }
    Start();
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(i);
        Pass();
        EXPECT_EQ(g_nCursorRequest, steps[i].nRequest);
        EXPECT_EQ(g_bCursorShown, steps[i].bShown);
        EXPECT_EQ(g_bMouseSwitch, steps[i].bSwitch);
        g_nCursorRequest = KX_CURSOR_REQUEST_NONE;   // the window thread carried it out
    }
    EXPECT_EQ(g_bKeyboardSwitch, 0);
    EXPECT_EQ(g_bJoystickSwitch, 1);
}

// Screen-saver blocking always; running in the background only while the main window is active;
// a screen size only when both sides are above 0.
TEST_F(EngineCmdTest, EngineSettingsAndTheGameScreenSize)
{
    ASSERT_EQ(CreateWindowStates(), 0);
    WINDOW_STATE* pMain = g_apWindowState[0];
    const int32_t nOldW = pMain->nWidth, nOldH = pMain->nHeight;
    g_ScriptHooks.pfnIsMainWindowActive = HookActive;
    g_ScriptHooks.pfnComputeOutputSize = HookCompute;
    g_ScriptHooks.pfnClearWindowBlack = HookClear;
    g_ScriptHooks.pfnResetDirect3D = HookReset;
    g_bActive = 0;
    Cmd(KXCMD_ENGINE_SETTINGS, {{0, 0}, {1, 0}, {2, 0}, {3, 600}});   // inactive; 0 by 600
    Cmd(KXCMD_WAIT, {{0, 1}});
    Cmd(KXCMD_ENGINE_SETTINGS, {{1, 0}, {2, 800}, {3, 600}});          // active, windowed
    Cmd(KXCMD_WAIT, {{0, 1}});
    Cmd(KXCMD_ENGINE_SETTINGS, {{2, 1024}, {3, 768}});                 // fullscreen, Direct3D
    Cmd(KXCMD_WAIT, {{0, 1}});
    Cmd(KXCMD_ENGINE_SETTINGS, {{2, 9000}, {3, 10}});                  // wider than the engine draws
    Start();

    PlatAllowScreenSaver(0);
    Pass();
    EXPECT_EQ(g_bBlockScreenSaver, 0);
    // The desktop may start its screen saver again.
    EXPECT_EQ(PlatIsScreenSaverAllowed(), 1);
    EXPECT_EQ(g_bRunInBackground, 1);
    EXPECT_EQ(pMain->nWidth, nOldW);
    EXPECT_EQ(pMain->nHeight, nOldH);
    EXPECT_EQ(g_pOutputBuffer, nullptr);

    g_bActive = 1;
    Pass();
    EXPECT_EQ(g_bRunInBackground, 0);
    EXPECT_EQ(pMain->nWidth, 800);
    EXPECT_EQ(pMain->nHeight, 600);
    EXPECT_EQ(g_nTargetWidth, 800);
    EXPECT_EQ(g_nOutputHeight, 600);
    ASSERT_NE(g_pOutputBuffer, nullptr);
    g_pOutputBuffer[800 * 4 + 800 * 4 * 600 + 3] = 1;   // the whole scaled frame fits
    EXPECT_EQ(g_nComputeCalls + g_nClearCalls + g_nResetCalls, 0);

    g_bFullscreen = 1;
    g_bDirect3D = 1;
    Pass();
    EXPECT_EQ(pMain->nWidth, 1024);
    EXPECT_EQ(g_nTargetWidth, 800);   // the output is computed again for the current target
    EXPECT_EQ(g_nComputeCalls, 1);
    EXPECT_EQ(g_nClearCalls, 1);
    EXPECT_EQ(g_nResetCalls, 1);
    EXPECT_TRUE(errors.reports.empty());

    g_bFullscreen = 0;
    g_bDirect3D = 0;
    Pass();
    ASSERT_EQ(errors.reports.size(), 1u);
    EXPECT_EQ(errors.reports[0].nId, KX_ERR_NO_MEMORY);
    EXPECT_EQ(errors.reports[0].bFatal, 1);
    EXPECT_EQ(pMain->nWidth, 1024);   // nothing changed
    EXPECT_EQ(g_nOutputWidth, 800);
    pMain->nWidth = nOldW;
    pMain->nHeight = nOldH;
}

// Timer 3 stopped for 500 ms and restarted reads 500 ms behind the others. An engine pause while a
// timer stands still is not counted twice: the timer gets the whole span once, at its restart.
TEST_F(EngineCmdTest, StoppedTimersFallBehindByTheirStopOnly)
{
    StartScriptTimers();
    ASSERT_EQ(g_ScriptHooks.pfnAddPausedTime, AddTimerPausedTime);
    Cmd(KXCMD_ENGINE_SETTINGS, {{6, 0}, {5, 1}});   // stop 3; 2 runs already: nothing
    Cmd(KXCMD_WAIT, {{1, 500}});
    Cmd(KXCMD_ENGINE_SETTINGS, {{6, 1}, {5, 0}, {4, 2}, {7, -1}});   // restart 3, stop 2; others nothing
    Cmd(KXCMD_WAIT, {{1, 100}});
    Cmd(KXCMD_ENGINE_SETTINGS, {{5, 1}});
    Start();

    PlatAdvanceFakeTime(1000);
    Pass();
    EXPECT_EQ(g_abTimerRunning[2], 0);
    PlatAdvanceFakeTime(500);
    Pass();
    EXPECT_EQ(g_abTimerRunning[2], 1);
    EXPECT_EQ(g_abTimerRunning[1], 0);
    // While timer 2 stands still the engine pauses for 300 ms.
    PlatAdvanceFakeTime(20);
    EnterPause();
    PlatAdvanceFakeTime(300);
    LeavePause();
    Pass();   // woken: timer 2 runs again
    ASSERT_TRUE(Parked());
    PlatAdvanceFakeTime(80);

    const int64_t llTimer1 = GetSysVarInt(1, 1);
    EXPECT_EQ(llTimer1, 1000 + 500 + 20 + 300 + 80 - 300);
    EXPECT_EQ(GetSysVarInt(1, 4), llTimer1);
    EXPECT_EQ(GetSysVarInt(1, 3), llTimer1 - 500);
    EXPECT_EQ(GetSysVarInt(1, 2), llTimer1 - 20);   // stopped 320 ms, of which 300 were the pause
    EXPECT_TRUE(errors.reports.empty());
}

// A released key's counter takes only negative values, a pressed key's only positive ones.
TEST(KeyCounter, KeepsTheSignOfTheKeysState)
{
    struct CASE {
        uint8_t bMode;
        int64_t llValue, llExpected;
    };
    const CASE cases[] = {
        {KX_KEY_MODE_UP, 30, 0}, {KX_KEY_MODE_UP, -30, -30}, {KX_KEY_MODE_UP, 0, 0},
        {KX_KEY_MODE_DOWN, 30, 30}, {KX_KEY_MODE_DOWN, -30, 0},
    };
    for (const CASE& c : cases) {
        g_abKeyMode[65] = c.bMode;
        g_allKeyCounter[65] = 7;
        SetKeyCounter(65, c.llValue);
        EXPECT_EQ(g_allKeyCounter[65], c.llExpected) << int(c.bMode) << " " << c.llValue;
    }
    SetKeyCounter(KX_KEY_CODES, 5);   // outside the table: nothing
    SetKeyCounter(-1, 5);
    g_abKeyMode[65] = 0;
    g_allKeyCounter[65] = 0;
}

}  // namespace
