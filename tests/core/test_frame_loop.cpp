// Frame step, pacing and the script scheduler, on the fake clock with counting subsystem hooks.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <string>
#include <vector>

#include "root/startup.h"
#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/engine_hooks.h"
#include "core/frame_loop.h"
#include "core/object_tree.h"
#include "core/sysfacts.h"
#include "platform/plat_msgbox.h"
#include "platform/plat_thread.h"
#include "platform/plat_time.h"
#include "platform/plat_window.h"
#include "core/game_config.h"
#include "core/script_thread.h"
#include "tests/support/engine_test.h"
#include "tests/support/test_support.h"

namespace {

const uint32_t kStartTime = 100000;

// What the hooks saw.
struct HOOK_LOG {
    int nRender = 0, nPresent = 0, nInput = 0, nTextClear = 0, nShow = 0, nPopup = 0, nResetDirty = 0;
    uint32_t dwInputAdvance = 0;   // the input step takes this long (makes a frame late)
    int nRenderFail = -1;          // window whose composition fails
    int nRenderFailResult = 1;     // and what it answers
    std::vector<std::string> ran;  // thread names in the order their commands ran
};
HOOK_LOG g_hl;

int HookRender(int nWindow) { ++g_hl.nRender; return nWindow == g_hl.nRenderFail ? g_hl.nRenderFailResult : 0; }
int HookPresent(int) { ++g_hl.nPresent; return 0; }
void HookInput(void) { ++g_hl.nInput; PlatAdvanceFakeTime(g_hl.dwInputAdvance); }
void HookTextClear(void) { ++g_hl.nTextClear; }
void HookShow(void) { ++g_hl.nShow; }
void HookPopup(void) { ++g_hl.nPopup; }
void HookResetDirty(void) { ++g_hl.nResetDirty; }

std::string CurName() { return g_pCurThreadNode && g_pCurThreadNode->pszName ? g_pCurThreadNode->pszName : "?"; }

// Command handlers. Every test body loops: the last command jumps back to 0.
int CmdLogYield(void) { g_hl.ran.push_back(CurName()); g_pCurThread->nPC = 0; return 1; }
int CmdLogGoOn(void) { g_hl.ran.push_back(CurName()); return 0; }
int CmdPausedMark(void) { g_hl.ran.push_back("paused:" + CurName()); g_pCurThread->nPC = 0; return 1; }
int CmdWaitTwo(void) { g_hl.ran.push_back(CurName()); g_pCurThread->nWaitFrames = 2; g_pCurThread->nPC = 0; return 1; }
int CmdFatal(void) { g_hl.ran.push_back(CurName()); ReportError(100010, 1); return -1; }

struct BODY {
    std::vector<CMD_HANDLER> run, paused;
    CMD_HANDLER* tables[2];
};

class FrameLoopTest : public EngineTest {
protected:
    void SetUp() override
    {
        PlatUseFakeClock(1);
        PlatSetFakeTime(kStartTime);
        g_hl = HOOK_LOG{};
        g_EngineHooks.pfnRenderWindowCPU = HookRender;
        g_EngineHooks.pfnPresentWindowCPU = HookPresent;
        g_EngineHooks.pfnUpdateInputState = HookInput;
        g_EngineHooks.pfnClearTextBuffer = HookTextClear;
        g_EngineHooks.pfnShowMainWindowFirstFrame = HookShow;
        g_EngineHooks.pfnServePopupMenuRequest = HookPopup;
        g_EngineHooks.pfnResetDirtyRects = HookResetDirty;
        // The pacing starts at the fake clock's start.
        ResetFrameClock();
        pRoot = CreateRootNode();
        ASSERT_NE(pRoot, nullptr);
        pSavedRoot = g_pThreadRoot;
        g_pThreadRoot = pRoot;
        body.run = {CmdLogYield};
        body.paused = {CmdPausedMark};
    }
    void TearDown() override
    {
        g_pThreadRoot = pSavedRoot;
        FreeSubtree(pRoot);
        PlatUseFakeClock(0);
    }
    static void FreeSubtree(TREE_NODE* pNode)
    {
        for (TREE_NODE* pChild = pNode->pFirstChild; pChild;) {
            TREE_NODE* pNext = pChild->pNext;
            FreeSubtree(pChild);
            pChild = pNext;
        }
        free(pNode->pPayload);
        RemoveNode(pNode);
        FreeTreeNode(pNode);
    }
    // A thread node at the path with a body of the fixture (or b).
    SCRIPT_THREAD* AddThread(const char* pszPath, int64_t llOrder, uint8_t bGroup = 0, BODY* b = nullptr)
    {
        b = b ? b : &body;
        b->tables[0] = b->paused.data();
        b->tables[1] = b->run.data();
        TREE_NODE* pNode = CreateNode(pRoot, pszPath, bGroup, llOrder);
        EXPECT_NE(pNode, nullptr);
        auto* p = static_cast<SCRIPT_THREAD*>(AllocZeroed(sizeof(SCRIPT_THREAD)));
        p->bRunA = p->bRunB = 1;
        p->ppHandlerTables = b->tables;
        p->nCommands = static_cast<int32_t>(b->run.size());
        pNode->pPayload = p;
        return p;
    }
    std::vector<std::string> Pass()
    {
        g_hl.ran.clear();
        ++g_llPassCount;
        EXPECT_EQ(RunScriptThreads(pRoot), 0);
        return g_hl.ran;
    }

    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;
    TREE_NODE* pRoot = nullptr;
    TREE_NODE* pSavedRoot = nullptr;
    BODY body;
};

using SV = std::vector<std::string>;

// ---- Pacing -------------------------------------------------------------------------------------

TEST_F(FrameLoopTest, FrameLengthsCarryTheFraction)
{
    struct CASE {
        int nFps;
        std::vector<uint32_t> first;   // lengths of the first frames
        int nFrames;
        uint32_t dwTotal;              // length of nFrames frames
    } cases[] = {
        {60, {16, 17, 16, 17, 17, 16, 17, 17, 16}, 600, 9999},   // 16.665 ms on average
        {50, {20, 20, 20}, 500, 10000},
        {144, {6, 7, 7, 7, 7, 7, 7, 7}, 144, 999},
        {0, {1000, 1000}, 3, 3000},     // 0 counts as 1
        {-5, {1000}, 2, 2000},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.nFps);
        g_nFps = c.nFps;
        ResetFrameState();
        ResetFrameClock();
        uint32_t dwStart = PlatGetTime(), dwTotal = 0;
        for (int i = 0; i < c.nFrames; ++i) {
            uint32_t dwBefore = PlatGetTime();
            EXPECT_EQ(PaceFrame(), 0);
            uint32_t dwLength = PlatGetTime() - dwBefore;
            if (i < static_cast<int>(c.first.size())) {
                EXPECT_EQ(dwLength, c.first[i]) << "frame " << i;
            }
            EXPECT_EQ(g_dwFrameTime, PlatGetTime());
            dwTotal += dwLength;
        }
        EXPECT_EQ(dwTotal, c.dwTotal);
        EXPECT_EQ(PlatGetTime() - dwStart, c.dwTotal);
    }
}

TEST_F(FrameLoopTest, LateFramesSkipOrResynchronise)
{
    // 60 fps, first frame length 16 (skip threshold 3 x 16 = 48).
    struct CASE {
        uint32_t dwElapsed;
        uint8_t bSkipOn;
        uint8_t bVerdict;
        uint32_t dwLateKept;   // the frame time is now + this
    } cases[] = {
        {16, 1, 0, 0},             // on time: no sleep, nothing late
        {16 + 47, 1, 0, 47},
        {16 + 48, 1, 1, 48},
        {16 + 200, 1, 1, 200},
        {16 + 200, 0, 0, 200},     // frame skip off
        {16 + 249, 1, 1, 249},
        {16 + 250, 1, 0, 0},       // 250 ms or more: resynchronise, no skip
        {16 + 5000, 1, 0, 0},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.dwElapsed);
        g_bFrameSkip = c.bSkipOn;
        ResetFrameState();
        ResetFrameClock();
        PlatAdvanceFakeTime(c.dwElapsed);
        const uint32_t dwNow = PlatGetTime();
        EXPECT_EQ(PaceFrame(), c.bVerdict);
        EXPECT_EQ(PlatGetTime(), dwNow);   // a late frame does not sleep
        EXPECT_EQ(g_dwFrameTime, dwNow + c.dwLateKept);
        EXPECT_EQ(g_bInFrameWait.load(), 0);
    }
}

TEST_F(FrameLoopTest, PerSecondCountersPublishAtTheSecondBoundary)
{
    // The first frame opens a second (the stamp starts at 0) and publishes nothing yet.
    for (int i = 0; i < 3; ++i) PaceFrame();
    CountDrawnFrame();
    CountDrawnFrame();
    EXPECT_EQ(g_nStepsLastSecond, 0);
    PlatSetFakeTime((kStartTime / 1000 + 1) * 1000);
    ResetFrameClock();
    PaceFrame();   // opens the next second and counts as its first step
    EXPECT_EQ(g_nStepsLastSecond, 3);
    EXPECT_EQ(g_nDrawsLastSecond, 2);
    PublishFrameCounters();
    EXPECT_EQ(g_nStepsLastSecond, 1);
    EXPECT_EQ(g_nDrawsLastSecond, 0);
    ResetFrameCounters();
    EXPECT_EQ(g_nStepsLastSecond, 0);
}

// ---- Frame step ---------------------------------------------------------------------------------

TEST_F(FrameLoopTest, LateFrameSkipsTheNextFramesDrawing)
{
    AddThread("t", 1);
    g_hl.dwInputAdvance = 100;   // frame 1: 84 ms late, at least 3 lengths
    EXPECT_EQ(RunFrame(), 0);
    EXPECT_EQ(g_hl.nRender, 4);
    EXPECT_EQ(g_hl.nPresent, 4);
    EXPECT_EQ(g_hl.nShow, 1);
    g_hl.dwInputAdvance = 0;
    EXPECT_EQ(RunFrame(), 0);   // frame 2: scripts run, nothing composed or presented
    EXPECT_EQ(g_hl.nRender, 4);
    EXPECT_EQ(g_hl.nPresent, 4);
    EXPECT_EQ(g_hl.nResetDirty, 1);
    EXPECT_EQ(g_hl.ran, (SV{"t", "t"}));
    EXPECT_EQ(RunFrame(), 0);   // frame 3 draws again
    EXPECT_EQ(g_hl.nRender, 8);
    EXPECT_EQ(g_hl.nShow, 1);
    EXPECT_EQ(g_hl.nPopup, 3);
    EXPECT_EQ(g_llFrameCount, 3);

    PlatSetFakeTime((PlatGetTime() / 1000 + 2) * 1000);
    ResetFrameClock();
    EXPECT_EQ(RunFrame(), 0);
    EXPECT_EQ(g_nStepsLastSecond, 3);   // every step counted
    EXPECT_EQ(g_nDrawsLastSecond, 2);   // the skipped frame not drawn
}

TEST_F(FrameLoopTest, MovieOwningTheScreenSuppressesDrawing)
{
    g_EngineHooks.pfnIsWindowMovieOwningScreen = [] { return 1; };
    EXPECT_EQ(RunFrame(), 0);
    EXPECT_EQ(g_hl.nRender, 0);
    EXPECT_EQ(g_hl.nPresent, 0);
    EXPECT_EQ(g_hl.nShow, 1);   // the first frame still shows the main window
}

TEST_F(FrameLoopTest, FailingCompositionEndsTheFrameWithStop)
{
    g_hl.nRenderFail = 2;
    EXPECT_EQ(RunFrame(), 1);
    EXPECT_EQ(g_hl.nRender, 3);
    EXPECT_EQ(g_hl.nPresent, 0);
    EXPECT_EQ(WasFatalErrorReported(), 0);   // a stop already set, as after a quit
    // A window that could not be drawn (-1) ends the run as a fatal error does.
    g_hl.nRenderFailResult = -1;
    EXPECT_EQ(RunFrame(), 1);
    EXPECT_EQ(WasFatalErrorReported(), 1);
    EXPECT_EQ(g_bEngineStop.load(), 1);
}

TEST_F(FrameLoopTest, HeldOrStoppedFrameOnlyCounts)
{
    AddThread("t", 1);
    g_bFrameHold = 1;
    EXPECT_EQ(RunFrame(), 0);
    EXPECT_EQ(RunFrame(), 0);
    g_bFrameHold = 0;
    g_bEngineStop = 1;
    EXPECT_EQ(RunFrame(), 1);
    EXPECT_EQ(g_llFrameCount, 3);
    EXPECT_EQ(g_llPassCount, 0);
    EXPECT_EQ(g_hl.nInput + g_hl.nRender + g_hl.nPresent, 0);
    EXPECT_TRUE(g_hl.ran.empty());
    EXPECT_EQ(PlatGetTime(), kStartTime);   // no pacing
}

TEST_F(FrameLoopTest, FatalErrorEndsThePassAndTheFrame)
{
    BODY fatal;
    fatal.run = {CmdFatal};
    fatal.paused = {CmdFatal};
    AddThread("low", 1);
    AddThread("mid", 2, 0, &fatal);
    AddThread("high", 3);
    EXPECT_EQ(RunFrame(), 1);
    EXPECT_EQ(g_hl.ran, (SV{"high", "mid"}));
    EXPECT_EQ(g_hl.nRender + g_hl.nPresent, 0);
    ASSERT_EQ(errors.reports.size(), 1u);
    EXPECT_EQ(errors.reports[0].bFatal, 1);
}

// ---- Scheduler ----------------------------------------------------------------------------------

TEST_F(FrameLoopTest, PassVisitsHighestKeyFirstThroughEnabledGroups)
{
    AddThread("a", 10);
    AddThread("g", 20, 1);
    AddThread("g/g1", 1);
    AddThread("g/g2", 2);
    SCRIPT_THREAD* pH = AddThread("h", 25, 1);
    AddThread("h/h1", 1);
    AddThread("b", 30);
    SCRIPT_THREAD* pC = AddThread("c", 40);
    SCRIPT_THREAD* pD = AddThread("d", 50);
    pH->bRunB = 0;    // a disabled group hides its children
    pC->bRunA = 0;
    pC->nWaitFrames = 2;
    pD->bRunA = 2;    // both bytes set, but their AND is 0
    pD->bRunB = 1;
    pC->bTextClearRequest = 1;

    EXPECT_EQ(Pass(), (SV{"b", "g2", "g1", "a"}));
    EXPECT_EQ(Pass(), (SV{"b", "g2", "g1", "a"}));
    EXPECT_EQ(pC->nWaitFrames, 2);         // waits of a disabled thread are not counted down
    EXPECT_EQ(pC->llPassStamp, 0);
    EXPECT_EQ(pC->bTextClearRequest, 1);
    EXPECT_EQ(g_hl.nTextClear, 0);

    pC->bRunA = 1;
    EXPECT_EQ(Pass(), (SV{"b", "g2", "g1", "a"}));
    EXPECT_EQ(pC->nWaitFrames, 1);
    EXPECT_EQ(pC->llPassStamp, g_llPassCount);
    EXPECT_EQ(pC->bTextClearRequest, 0);
    EXPECT_EQ(g_hl.nTextClear, 1);
    EXPECT_EQ(Pass(), (SV{"c", "b", "g2", "g1", "a"}));
}

TEST_F(FrameLoopTest, WaitFramesAndWakeTime)
{
    BODY wait;
    wait.run = {CmdWaitTwo};
    wait.paused = {CmdWaitTwo};
    SCRIPT_THREAD* pW = AddThread("w", 1, 0, &wait);
    std::vector<int> runs;
    for (int i = 1; i <= 6; ++i)
        if (!Pass().empty()) runs.push_back(i);
    EXPECT_EQ(runs, (std::vector<int>{1, 3, 5}));   // a wait of 2 set in a pass: runs again 2 passes later
    pW->bRunA = 0;

    SCRIPT_THREAD* pT = AddThread("t", 2);
    pT->dwWakeTime = PlatGetTime() + 50;
    pT->nWaitFrames = -3;   // a negative count waits for nothing
    PlatAdvanceFakeTime(49);
    EXPECT_EQ(Pass(), SV{});
    EXPECT_EQ(pT->nWaitFrames, 0);
    PlatAdvanceFakeTime(1);
    EXPECT_EQ(Pass(), (SV{"t"}));
    EXPECT_EQ(pT->dwWakeTime, 0u);

    // Across the clock's wrap: a wake time just past 2^32 still lies in the future.
    PlatSetFakeTime(0xFFFFFFF0u);
    pT->dwWakeTime = 0x10u;
    EXPECT_EQ(Pass(), SV{});
    PlatSetFakeTime(0x10u);
    EXPECT_EQ(Pass(), (SV{"t"}));
}

TEST_F(FrameLoopTest, CommandsRunUntilOneEndsTheTurn)
{
    BODY three;
    three.run = {CmdLogGoOn, CmdLogGoOn, CmdLogYield};
    three.paused = {CmdPausedMark, CmdPausedMark, CmdPausedMark};
    SCRIPT_THREAD* p = AddThread("t", 1, 0, &three);
    p->nPC = 1;
    EXPECT_EQ(Pass(), (SV{"t", "t"}));
    EXPECT_EQ(Pass(), (SV{"t", "t", "t"}));
    EXPECT_EQ(g_nCurCommand, 2);
    EXPECT_EQ(p->nPC, 0);
}

TEST_F(FrameLoopTest, PauseSelectsTheHandlerTable)
{
    AddThread("t", 1);
    struct CASE {
        uint8_t bPaused, bBackground;
        const char* pszExpected;
    } cases[] = {{0, 0, "t"}, {1, 1, "t"}, {1, 0, "paused:t"}, {0, 1, "t"}};
    for (const CASE& c : cases) {
        g_bEnginePaused = c.bPaused;
        g_bRunInBackground = c.bBackground;
        EXPECT_EQ(Pass(), (SV{c.pszExpected})) << int(c.bPaused) << int(c.bBackground);
    }
}

TEST_F(FrameLoopTest, ProgramCounterOutsideTheBodyReports900050)
{
    struct CASE {
        int32_t nPC;
        int nTables;        // 2 both, 0 none, 1 table without entries
    } cases[] = {{1, 2}, {7, 2}, {-1, 2}, {INT32_MAX, 2}, {0, 0}, {0, 1}};
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.nPC);
        ERROR_RECORDER rec;
        TREE_NODE* pNode = CreateNode(pRoot, "bad", 0, 1);
        auto* p = static_cast<SCRIPT_THREAD*>(AllocZeroed(sizeof(SCRIPT_THREAD)));
        CMD_HANDLER nulls[1] = {nullptr};
        CMD_HANDLER* tables[2] = {nulls, nulls};
        body.tables[0] = body.paused.data();
        body.tables[1] = body.run.data();
        p->bRunA = p->bRunB = 1;
        p->nCommands = 1;
        p->nPC = c.nPC;
        p->ppHandlerTables = c.nTables == 2 ? body.tables : c.nTables == 1 ? tables : nullptr;
        pNode->pPayload = p;
        EXPECT_EQ(Pass(), SV{});
        ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(rec, 900050));
        RemoveNode(pNode);
        FreeTreeNode(pNode);
        free(p);
    }
}

// A command that creates a thread to run in this frame, as the thread command does.
TREE_NODE* g_pRerunRoot = nullptr;
BODY* g_pRerunBody = nullptr;
int CmdSpawnNew(void)
{
    g_hl.ran.push_back(CurName());
    g_pCurThread->nPC = 0;
    if (!FindNodeByPath(g_pRerunRoot, "n", KX_FIND_LEAF)) {
        TREE_NODE* pNode = CreateNode(g_pRerunRoot, "n", 0, 20);
        auto* p = static_cast<SCRIPT_THREAD*>(AllocZeroed(sizeof(SCRIPT_THREAD)));
        p->bRunA = p->bRunB = 1;
        p->ppHandlerTables = g_pRerunBody->tables;
        p->nCommands = 1;
        pNode->pPayload = p;
        g_llRerunPass = 1;
        g_llResumeKey = 20;
    }
    return 1;
}

TEST_F(FrameLoopTest, RerunPassResumesAtTheNewThreadsKey)
{
    BODY spawn;
    spawn.run = {CmdSpawnNew};
    spawn.paused = {CmdSpawnNew};
    AddThread("a", 10);
    AddThread("s", 30, 0, &spawn);
    AddThread("z", 40);
    g_pRerunRoot = pRoot;
    g_pRerunBody = &body;
    EXPECT_EQ(RunFrame(), 0);
    // Pass 1 runs everything present; pass 2 passes over the keys above 20.
    EXPECT_EQ(g_hl.ran, (SV{"z", "s", "a", "n", "a"}));
    EXPECT_EQ(g_llPassCount, 2);
    EXPECT_EQ(g_llResumeKey, 0);
    g_hl.ran.clear();
    EXPECT_EQ(RunFrame(), 0);
    EXPECT_EQ(g_hl.ran, (SV{"z", "s", "n", "a"}));
    EXPECT_EQ(g_llPassCount, 3);
}

// The debug escape: a body of 1024 commands per turn, so every turn takes one cursor sample.
int g_nCursorIndex = 0;
std::vector<std::pair<int32_t, int32_t>> g_cursorPath;
int HookCursor(int32_t* pX, int32_t* pY)
{
    auto pos = g_cursorPath[static_cast<size_t>(g_nCursorIndex++) % g_cursorPath.size()];
    *pX = pos.first;
    *pY = pos.second;
    return 0;
}
int g_nCommandsThisTurn = 0;
int CmdCount1024(void)
{
    g_pCurThread->nPC = 0;
    if (++g_nCommandsThisTurn < 1024) return 0;
    g_nCommandsThisTurn = 0;
    return 1;
}

TEST_F(FrameLoopTest, DebugEscapeAsksAfterAllFourCorners)
{
    BODY count;
    count.run = {CmdCount1024};
    count.paused = {CmdCount1024};
    AddThread("t", 1, 0, &count);
    g_bDebug = 1;
    g_nDesktopWidth = 800;
    g_nDesktopHeight = 600;
    g_EngineHooks.pfnGetCursorScreenPos = HookCursor;
    g_nCursorIndex = 0;
    g_nCommandsThisTurn = 0;
    // The middle is no corner; the corners persist between samples.
    g_cursorPath = {{8, 8}, {400, 300}, {0, 591}, {791, 0}, {799, 599}};
    boxes.answers = {PLAT_IDNO, PLAT_IDYES};
    for (int i = 0; i < 4; ++i) Pass();
    EXPECT_TRUE(boxes.boxes.empty());
    Pass();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strCaption, Cp932("[デバッグ機能]"));
    EXPECT_EQ(boxes.boxes[0].strText, Cp932("マウスによる画面四隅への移動を検出しました。\n\n強制的に終了します。よろしいですか？"));
    EXPECT_EQ(boxes.boxes[0].buttonIds, (std::vector<int>{PLAT_IDYES, PLAT_IDNO}));
    EXPECT_EQ(g_bEngineStop.load(), 0);   // No goes on, corners cleared

    g_cursorPath = {{9, 9}, {0, 590}, {790, 0}, {790, 590}};   // one pixel inside: no corner
    g_nCursorIndex = 0;
    for (int i = 0; i < 8; ++i) Pass();
    EXPECT_EQ(boxes.boxes.size(), 1u);
    g_cursorPath = {{0, 0}, {0, 599}, {799, 0}, {799, 599}};
    g_nCursorIndex = 0;
    for (int i = 0; i < 4; ++i) Pass();
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(g_bEngineStop.load(), 1);   // Yes ends the engine
}

// ---- Main loop and the frame thread (Fake window backend) -----------------------------------------

std::atomic<int> g_nFramesToStop{0};     // the frame that sets the stop flag; 0 never
std::atomic<int> g_nFrames{0};
std::atomic<int> g_bInFrameBody{0};      // the frame thread is between pacing waits
std::atomic<int> g_nOverlaps{0};         // window procedures that ran during a frame body
std::atomic<int> g_nUserMessages{0};
std::atomic<int> g_nCallsOnWindowThread{0};
std::atomic<int> g_nCloseMode{0};
std::atomic<int> g_nQuitAtFrame{0};      // a frame that posts WM_QUIT itself
int g_nQuitCode = 0;
PLAT_HWND g_hwndTest = 0;
std::thread::id g_idFrameThread;

void CallOnWindowThread(void*) { if (PlatIsWindowThread()) ++g_nCallsOnWindowThread; }

void HookFrameStart(void)   // first step of a frame
{
    g_bInFrameBody = 1;
    g_idFrameThread = std::this_thread::get_id();
    // A window service asked for from the frame thread while messages are held back.
    PlatRunOnWindowThread(CallOnWindowThread, nullptr, 1);
}
void HookEnterPacing(uint32_t) { g_bInFrameBody = 0; }
int HookLeavePacing(void) { g_bInFrameBody = 1; return 0; }
void HookFrameEnd(void)      // last step of a frame
{
    const int n = ++g_nFrames;
    if (g_hwndTest) PlatPostMessage(g_hwndTest, PLAT_WM_USER, 0, 0);
    if (n == g_nFramesToStop) g_bEngineStop = 1;
    if (n == g_nQuitAtFrame) PlatPostQuitMessage(5);
    g_bInFrameBody = 0;
}

intptr_t MainWndProc(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    ++g_bInWndProc;
    if (g_bInFrameBody) ++g_nOverlaps;
    if (msg == PLAT_WM_USER) ++g_nUserMessages;
    if (msg == PLAT_WM_DESTROY) PlatPostQuitMessage(g_nQuitCode);
    intptr_t r = PlatDefWindowProc(hwnd, msg, wParam, lParam);
    --g_bInWndProc;
    return r;
}

class MainLoopTest : public FrameLoopTest {
protected:
    void SetUp() override
    {
        FrameLoopTest::SetUp();
        PlatUseFakeClock(0);
        ASSERT_EQ(PlatInitWindowSystem(PLAT_BACKEND_FAKE), 0);
        g_nFps = 200;
        g_nFrames = 0;
        g_nFramesToStop = 0;
        g_nQuitAtFrame = 0;
        g_bInFrameBody = 0;
        g_nOverlaps = 0;
        g_nUserMessages = 0;
        g_nCallsOnWindowThread = 0;
        g_nCloseMode = 0;
        g_nQuitCode = 0;
        g_hwndTest = 0;
        g_EngineHooks.pfnAdvanceOgvMovie = HookFrameStart;
        g_EngineHooks.pfnAdvanceEmotePlayers = HookEnterPacing;
        g_EngineHooks.pfnIsAnyEmotePlayerBusy = HookLeavePacing;
        g_EngineHooks.pfnServePopupMenuRequest = HookFrameEnd;
        g_EngineHooks.pfnSetMainWindowCloseMode = [](int n) { g_nCloseMode = n; };
    }
    void TearDown() override
    {
        WaitFrameThread();
        PlatShutdownWindowSystem();
        FrameLoopTest::TearDown();
    }
    void CreateMainWindow(int nQuitCode)
    {
        g_nQuitCode = nQuitCode;
        g_hwndTest = PlatCreateWindow("KxMain", "", PLAT_WS_POPUP, 0, 0, 64, 48, 0, MainWndProc, nullptr);
        ASSERT_NE(g_hwndTest, 0u);
        g_hMainWnd = g_hwndTest;
    }
};

TEST_F(MainLoopTest, StopRequestsTheQuitAndTheLoopEndsOnWMQuit)
{
    for (int bWindow = 0; bWindow <= 1; ++bWindow) {
        SCOPED_TRACE(bWindow);
        g_bEngineStop = 0;
        g_bRunning = 1;
        g_nFrames = 0;
        g_nFramesToStop = 3;
        if (bWindow) CreateMainWindow(7);
        EXPECT_EQ(RunMainLoop(), bWindow ? 7 : 0);
        EXPECT_EQ(g_nFrames.load(), 3);
        EXPECT_EQ(g_bRunning, 0);
        EXPECT_EQ(g_bEngineStop.load(), 1);
        EXPECT_EQ(g_nCloseMode.load(), 2);
        if (bWindow) {
            EXPECT_FALSE(PlatIsWindow(g_hwndTest));   // WM_CLOSE reached the window
            EXPECT_EQ(g_nUserMessages.load(), 3);
        }
    }
    EXPECT_EQ(g_nCallsOnWindowThread.load(), 6);
}

TEST_F(MainLoopTest, ServesCallsFromOtherThreads)
{
    g_nQuitAtFrame = 1000000;
    std::thread other([] {
        for (int i = 0; i < 3; ++i) PlatRunOnWindowThread(CallOnWindowThread, nullptr, 1);
        PlatPostQuitMessage(9);
    });
    EXPECT_EQ(RunMainLoop(), 9);
    other.join();
    EXPECT_GE(g_nCallsOnWindowThread.load(), 3);
    EXPECT_EQ(g_bEngineStop.load(), 0);
}

TEST_F(MainLoopTest, ThreadedFramesRunOnTheFrameThreadAndQuitWithoutHanging)
{
    g_bThreadedFrames = 1;
    g_nFramesToStop = 20;
    CreateMainWindow(3);
    StartFrameThread();
    EXPECT_EQ(RunMainLoop(), 3);
    WaitFrameThread();
    EXPECT_EQ(g_bFrameThreadState, KX_FRAME_THREAD_ENDED);
    EXPECT_EQ(g_nFrames.load(), 20);
    EXPECT_NE(g_idFrameThread, std::this_thread::get_id());
    EXPECT_EQ(g_nCallsOnWindowThread.load(), 20);   // served although messages were held back
    EXPECT_EQ(g_nUserMessages.load(), 20);          // every message arrives, the last ones after the end
    EXPECT_EQ(g_nOverlaps.load(), 0);               // never during a frame body
    EXPECT_FALSE(PlatIsWindow(g_hwndTest));
    EXPECT_EQ(g_bInFrameWait.load(), 0);
}

TEST_F(MainLoopTest, WaitFrameThreadEndsAFrameThreadThatRunsOn)
{
    // WM_QUIT arrives while the frame thread would go on for ever.
    g_bThreadedFrames = 1;
    g_nQuitAtFrame = 5;
    StartFrameThread();
    EXPECT_EQ(RunMainLoop(), 5);
    WaitFrameThread();
    EXPECT_EQ(g_bFrameThreadState, KX_FRAME_THREAD_ENDED);
    EXPECT_EQ(g_bEngineStop.load(), 1);
    EXPECT_GE(g_nFrames.load(), 5);
    WaitFrameThread();   // joined once; nothing more to wait for
}

TEST_F(MainLoopTest, HeldFramesInThreadedModeSleepInsteadOfSpinning)
{
    // On the fake clock only the frame thread's sleeps move the time while the test waits.
    PlatUseFakeClock(1);
    const uint32_t dwStart = PlatGetTime();
    g_bThreadedFrames = 1;
    g_bFrameHold = 1;
    StartFrameThread();
    while (PlatGetTime() - dwStart < 50) std::this_thread::yield();
    EXPECT_EQ(g_nFrames.load(), 0);   // held frames run none of their steps
    g_nFramesToStop = 2;
    g_bFrameHold = 0;
    EXPECT_EQ(RunMainLoop(), 0);
    WaitFrameThread();
    EXPECT_EQ(g_nFrames.load(), 2);
    EXPECT_GE(g_llFrameCount, 50 + 2);   // held frames are counted
}

}  // namespace
