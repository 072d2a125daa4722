// The frame step, its pacing, the script scheduler, the frame thread and the main loop.
//
// One frame: count it, advance a playing movie, turn raw input into transitions, run the script
// scheduler (again while a command asks for a re-run in the same frame), commit layer changes,
// compose every window, pace to the frame rate, present, and serve a requested popup menu. Steps of
// subsystems that are linked in later are reached through g_EngineHooks.
#include "core/frame_loop.h"

#include "core/engine_globals.h"
#include "core/engine_hooks.h"
#include "core/errors.h"
#include "core/kx_texts.h"
#include "core/object_tree.h"
#include "core/sysfacts.h"
#include "platform/plat_signals.h"
#include "platform/plat_instance.h"
#include "platform/plat_msgbox.h"
#include "platform/plat_thread.h"
#include "platform/plat_time.h"
#include "platform/plat_window.h"
#include "core/game_config.h"
#include "core/script_thread.h"

int g_nFps = 60;
uint8_t g_bFrameSkip = 1;
uint32_t g_dwFrameTime = 0;
int64_t g_llFrameCount = 0;
int64_t g_llPassCount = 0;
int64_t g_llRerunPass = 0;
int64_t g_llResumeKey = 0;
std::atomic<uint8_t> g_bFrameHold{0};
std::atomic<int> g_bInFrameWait{0};
// A nesting count: it starts at 0 so that the frame thread is never held before the first message.
std::atomic<int> g_bInWndProc{0};
uint8_t g_bThreadedFrames = 0;
uint8_t g_bRunning = 1;
int g_nStepsLastSecond = 0;
int g_nDrawsLastSecond = 0;
uint32_t g_hMainWnd = 0;
uint8_t g_bFrameThreadState = KX_THREAD_NOT_STARTED;

SCRIPT_THREAD* g_pCurThread = nullptr;
TREE_NODE* g_pCurThreadNode = nullptr;
int32_t g_nCurCommand = 0;
uint8_t g_bEnginePaused = 0;
uint8_t g_bRunInBackground = 1;
uint8_t g_bCaptionDragPause = 0;

enum { KX_ERR_NO_HANDLER = 900050 };
enum { KX_MAX_WINDOWS = 4, KX_RESYNC_LATE_MS = 250, KX_DEBUG_SAMPLE_COMMANDS = 1024 };

static uint32_t s_dwFrameBase = 0;        // ideal start of the current frame
static uint32_t s_dwCarry = 0;            // 16.16 fraction left over from the last frame length
static uint8_t s_bSkipVerdict = 0;        // the last pacing's verdict
static uint8_t s_bSkipThisFrame = 0;      // governs drawing and presenting of the current frame
static uint8_t s_bFirstFramePassed = 0;
static uint32_t s_dwSecondStamp = 0;
static int s_nStepsThisSecond = 0;
static int s_nDrawsThisSecond = 0;
static uint8_t s_bLastResult = 0;         // last command result: non-zero ends the thread's turn
static uint64_t s_qwDebugCommands = 0;
static uint8_t s_bDebugCorners = 0;       // bit 0 top left, 1 bottom left, 2 top right, 3 bottom right
static PLAT_THREAD* s_pFrameThread = nullptr;

// ---- Counters and clock -------------------------------------------------------------------------

void CountDrawnFrame(void) { ++s_nDrawsThisSecond; }

void ResetFrameClock(void) { s_dwFrameBase = PlatGetTime(); }

void ResetFrameCounters(void)
{
    g_nStepsLastSecond = 0;
    g_nDrawsLastSecond = 0;
    s_nStepsThisSecond = 0;
    s_nDrawsThisSecond = 0;
}

void PublishFrameCounters(void)
{
    g_nStepsLastSecond = s_nStepsThisSecond;
    g_nDrawsLastSecond = s_nDrawsThisSecond;
    s_nStepsThisSecond = 0;
    s_nDrawsThisSecond = 0;
    s_dwSecondStamp = PlatGetTime();
}

void ResetFrameState(void)
{
    s_dwCarry = 0;
    s_bSkipVerdict = 0;
    s_bSkipThisFrame = 0;
    s_bFirstFramePassed = 0;
    s_dwSecondStamp = 0;
    s_bLastResult = 0;
    s_qwDebugCommands = 0;
    s_bDebugCorners = 0;
    ResetFrameCounters();
}

void ConsumeTextClearRequest(SCRIPT_THREAD* pThread)
{
    if (!pThread || !pThread->bTextClearRequest) return;
    pThread->bTextClearRequest = 0;
    g_EngineHooks.pfnClearTextBuffer();
}

// ---- Pacing -------------------------------------------------------------------------------------

// Leaves the pacing wait. In threaded mode the window thread may be inside a window procedure
// (g_bInWndProc counts them); the frame goes on only when none runs. The wait flag is cleared
// before the count is read and the window thread counts itself in before it reads the flag, so
// one of the two always sees the other and a procedure never overlaps a frame.
static void LeaveFrameWait(void)
{
    if (!g_bThreadedFrames) {
        g_bInFrameWait = 0;
        return;
    }
    for (;;) {
        g_bInFrameWait = 0;
        if (g_bInWndProc.load() == 0) return;
        g_bInFrameWait = 1;
        // A procedure is short, unless it shows a box (the quit question): after a moment of
        // yielding, the wait sleeps between its looks instead of keeping a core busy.
        for (int nLooks = 0; g_bInWndProc.load() != 0; ++nLooks) PlatWaitTurn(nLooks < 100 ? 0 : 1);
    }
}

uint8_t PaceFrame(void)
{
    const uint32_t dwFps = g_nFps < 1 ? 1u : static_cast<uint32_t>(g_nFps);
    const uint32_t dwStep = (1000u << 16) / dwFps;   // frame length in 16.16 milliseconds
    const uint32_t dwNow = PlatGetTime();
    g_dwFrameTime = dwNow;

    const uint32_t dwSum = s_dwCarry + dwStep;
    s_dwCarry = dwSum & 0xFFFFu;
    const uint32_t dwLength = dwSum >> 16;
    const uint32_t dwElapsed = dwNow - s_dwFrameBase;

    g_EngineHooks.pfnAdvanceEmotePlayers(dwElapsed);

    g_bInFrameWait = 1;
    uint8_t bVerdict = 0;
    if (dwElapsed >= dwLength) {
        uint32_t dwLate = dwElapsed - dwLength;
        if (dwLate >= KX_RESYNC_LATE_MS) dwLate = 0;
        bVerdict = (static_cast<uint64_t>(dwLate) >= 3ull * dwLength && g_bFrameSkip) ? 1 : 0;
        s_dwFrameBase = dwNow + dwLate;
        g_dwFrameTime = s_dwFrameBase;
    } else {
        PlatSleep(dwLength - dwElapsed);
        s_dwFrameBase += dwLength;
        g_dwFrameTime = PlatGetTime();
    }
    LeaveFrameWait();

    if (g_dwFrameTime / 1000u != s_dwSecondStamp / 1000u) {
        g_nStepsLastSecond = s_nStepsThisSecond;
        g_nDrawsLastSecond = s_nDrawsThisSecond;
        s_nDrawsThisSecond = 0;
        s_dwSecondStamp = g_dwFrameTime;
        s_nStepsThisSecond = 0;
    }
    ++s_nStepsThisSecond;
    return bVerdict;
}

// ---- Scheduler ----------------------------------------------------------------------------------

// The debug build's escape: every 1024 commands the cursor is sampled; once it has been seen in all
// four corners of the desktop, a box offers to end the engine.
static void CheckDebugEscape(void)
{
    if (++s_qwDebugCommands % KX_DEBUG_SAMPLE_COMMANDS != 0) return;
    int32_t x = 0, y = 0;
    if (g_EngineHooks.pfnGetCursorScreenPos(&x, &y) != 0) return;
    const int32_t w = g_nDesktopWidth, h = g_nDesktopHeight;
    if (x <= 8 && y <= 8)
        s_bDebugCorners |= 1;
    else if (x <= 8 && y >= h - 9)
        s_bDebugCorners |= 2;
    else if (x >= w - 9 && y <= 8)
        s_bDebugCorners |= 4;
    else if (x >= w - 9 && y >= h - 9)
        s_bDebugCorners |= 8;
    if (s_bDebugCorners != 0x0F) return;
    s_bDebugCorners = 0;
    if (PlatMessageBoxA(GetEngineText(TXT_DEBUG_ESCAPE_CAPTION), GetEngineText(TXT_DEBUG_ESCAPE_TEXT), PLAT_MB_YESNO) ==
        PLAT_IDYES)
        g_bEngineStop = 1;
}

// Runs the thread's commands until one ends its turn or the engine stops. The program counter is
// advanced before the call, so a handler that jumps just stores its target.
static void RunThreadCommands(SCRIPT_THREAD* pThread)
{
    s_bLastResult = 0;
    while (!g_bEngineStop && s_bLastResult == 0) {
        const int32_t nPC = pThread->nPC;
        g_nCurCommand = nPC;
        const int nTable = ((g_bRunInBackground && !g_bCaptionDragPause) || !g_bEnginePaused) ? 1 : 0;
        CMD_HANDLER* pTable = pThread->ppHandlerTables ? pThread->ppHandlerTables[nTable] : nullptr;
        if (nPC < 0 || nPC >= pThread->nCommands || !pTable || !pTable[nPC]) {
            // Running off the body, a jump outside it, or a body without tables.
            ReportScriptError(KX_ERR_NO_HANDLER, 1);
            s_bLastResult = 1;
            break;
        }
        pThread->nPC = nPC + 1;
        s_bLastResult = pTable[nPC]() != 0 ? 1 : 0;
        if (g_bDebug) CheckDebugEscape();
    }
}

int RunScriptThreads(TREE_NODE* pNode)
{
    if (!pNode) return 0;
    for (int64_t k = pNode->nChildCount; k >= 1; --k) {
        if (g_bEngineStop) break;
        // Fetched afresh: commands may add or remove threads during the pass.
        TREE_NODE* pChild = GetNthChild(pNode, k);
        if (!pChild) continue;
        if (g_llRerunPass == 0 && g_llResumeKey != 0) {
            if (pChild->llOrder > g_llResumeKey) continue;
            g_llResumeKey = 0;
        }
        SCRIPT_THREAD* pThread = static_cast<SCRIPT_THREAD*>(pChild->pPayload);
        if (!pThread || !(pThread->bRunA & pThread->bRunB)) continue;
        if (pChild->bGroup) {
            RunScriptThreads(pChild);
            continue;
        }
        g_pCurThread = pThread;
        g_pCurThreadNode = pChild;
        pThread->llPassStamp = g_llPassCount;
        ConsumeTextClearRequest(pThread);

        if (pThread->nWaitFrames > 0)
            --pThread->nWaitFrames;
        else if (pThread->nWaitFrames < 0)
            pThread->nWaitFrames = 0;   // a negative count waits for nothing
        // "At or before now" on a clock that wraps every 49.7 days: compare the signed difference.
        if (pThread->dwWakeTime != 0 && static_cast<int32_t>(PlatGetTime() - pThread->dwWakeTime) >= 0)
            pThread->dwWakeTime = 0;
        if (pThread->nWaitFrames != 0 || pThread->dwWakeTime != 0) continue;

        RunThreadCommands(pThread);
    }
    return 0;
}

// ---- Frame step ---------------------------------------------------------------------------------

uint8_t RunFrame(void)
{
    const ENGINE_HOOKS& h = g_EngineHooks;
    ++g_llFrameCount;
    if (g_bFrameHold) return 0;
    if (g_bEngineStop) return 1;

    h.pfnAdvanceOgvMovie();
    h.pfnUpdateInputState();

    do {
        g_llRerunPass = 0;
        ++g_llPassCount;
        RunScriptThreads(g_pThreadRoot);
        if (g_bEngineStop) return 1;
    } while (g_llRerunPass != 0);

    h.pfnApplyPendingLayerProps();

    // The movie test is taken once: nothing between composing and presenting can start or stop one.
    const bool bMovieOwns = !g_bDrawDuringMovie && h.pfnIsWindowMovieOwningScreen() != 0;
    const bool bDraw = !s_bSkipThisFrame && !bMovieOwns;
    // A window that cannot be drawn (-1) stops the game as a fatal error does; 1 is a stop already set.
    if (bDraw && h.pfnRenderWindowCPU)
        for (int i = 0; i < KX_MAX_WINDOWS; ++i)
            if (const int r = h.pfnRenderWindowCPU(i); r != 0) {
                if (r < 0) StopEngineForError();
                return 1;
            }

    if (!s_bFirstFramePassed) {
        s_bFirstFramePassed = 1;
        h.pfnShowMainWindowFirstFrame();
    }

    s_bSkipVerdict = PaceFrame();

    if (h.pfnIsAnyEmotePlayerBusy()) h.pfnRequestFullRedraw();
    h.pfnUpdateMenuBarAutoShow();

    if (bDraw) {
        if (h.pfnPresentWindowCPU)
            for (int i = 0; i < KX_MAX_WINDOWS; ++i)
                if (const int r = h.pfnPresentWindowCPU(i); r != 0) {
                    if (r < 0) StopEngineForError();
                    return 1;
                }
        CountDrawnFrame();
        h.pfnResetDirtyRects();
    }

    h.pfnServePopupMenuRequest();
    h.pfnEndFrameDiagnostics();

    s_bSkipThisFrame = s_bSkipVerdict;
    return g_bEngineStop;
}

// ---- Quit request and the frame thread ----------------------------------------------------------

void RequestQuit(void)
{
    g_bEngineStop = 1;
    g_EngineHooks.pfnSetMainWindowCloseMode(2);
    // Without a main window to close (or one already gone) the loop is told to end directly.
    if (g_hMainWnd == 0 || PlatPostMessage(g_hMainWnd, PLAT_WM_CLOSE, 0, 0) != 0) PlatPostQuitMessage(0);
}

uint8_t GetFrameThreadState(void)
{
    PlatLockEnter(g_csEngine);
    const uint8_t bState = g_bFrameThreadState;
    PlatLockLeave(g_csEngine);
    return bState;
}

static void SetFrameThreadState(uint8_t bState)
{
    PlatLockEnter(g_csEngine);
    g_bFrameThreadState = bState;
    PlatLockLeave(g_csEngine);
}

// Runs frames until one says stop, then asks for the quit. While the quit question holds the
// frames, each returns at once: a short sleep keeps the loop from spinning on a core.
static void RunFrameLoop(void)
{
    for (;;) {
        if (RunFrame() != 0) break;
        if (g_bFrameHold) PlatSleep(1);
    }
    RequestQuit();
}

static int FrameThreadProc(void*)
{
    SetFrameThreadState(KX_THREAD_RUNNING);
    RunFrameLoop();
    SetFrameThreadState(KX_FRAME_THREAD_ENDED);
    return 0;
}

void StartFrameThread(void)
{
    if (!g_bThreadedFrames || s_pFrameThread) return;
    // Running from here on, so the window thread keeps to the handshake from the first frame.
    SetFrameThreadState(KX_THREAD_RUNNING);
    s_pFrameThread = PlatThreadStart(FrameThreadProc, nullptr);
    if (!s_pFrameThread) {
        // No thread to be had: the window thread runs the frames itself.
        SetFrameThreadState(KX_THREAD_NOT_STARTED);
        g_bThreadedFrames = 0;
        DebugTrace("StartFrameThread", "no frame thread; frames run on the window thread");
    }
}

void WaitFrameThread(void)
{
    if (!s_pFrameThread) return;
    g_bEngineStop = 1;
    // The frame thread may be waiting for a call handed to this thread: the join serves them.
    PlatThreadJoin(s_pFrameThread, nullptr);
    s_pFrameThread = nullptr;
}

// ---- Main loop ----------------------------------------------------------------------------------

// The gate of the window thread into the frame's state in threaded mode: open only while the frame
// thread sits in its pacing wait (and no worker runs). The window thread counts itself into
// g_bInWndProc before it looks, so the frame thread cannot leave the wait under its feet
// (LeaveFrameWait). Returns whether this thread may go on; LeaveFrameGate undoes an entry.
static bool EnterFrameGate(bool bGate)
{
    if (!bGate) return true;
    ++g_bInWndProc;
    if (g_bInFrameWait.load() && g_bWorkerWaiting.load()) return true;
    --g_bInWndProc;
    return false;
}

static void LeaveFrameGate(bool bGate)
{
    if (bGate) --g_bInWndProc;
}

void PollInputBesideFrames(void)
{
    if (!g_bThreadedFrames) {
        g_EngineHooks.pfnPollInput();
        return;
    }
    // Every main-loop turn: the wait is looked at first, so the engine lock (which a sound pass
    // holds for a while) is taken only when the frame thread is not waiting.
    if (EnterFrameGate(true)) {
        g_EngineHooks.pfnPollInput();
        LeaveFrameGate(true);
    } else if (GetFrameThreadState() != KX_THREAD_RUNNING) {
        g_EngineHooks.pfnPollInput();
    }
}

// Serves calls handed to the window thread and activation requests, then dispatches waiting
// messages. In threaded mode a message is dispatched only while the frame thread sits in its
// pacing wait (and a worker waits); the window thread counts itself into g_bInWndProc before it
// looks, so the frame thread cannot leave the wait under its feet. Once the frame thread is not
// running, messages are dispatched freely so that its quit request always arrives.
static void PumpMessages(int* pnExitCode)
{
    PlatPumpWindowThread();
    PlatPollActivation();
    PLAT_MSG msg;
    while (g_bRunning && PlatPeekMessage(&msg, PLAT_PM_NOREMOVE)) {
        const bool bGate = g_bThreadedFrames && GetFrameThreadState() == KX_THREAD_RUNNING;
        if (!EnterFrameGate(bGate)) break;
        const int nGot = PlatGetMessage(&msg);
        if (nGot > 0) PlatDispatchMessage(&msg);
        LeaveFrameGate(bGate);
        if (nGot <= 0) {
            g_bRunning = 0;
            *pnExitCode = nGot == 0 ? static_cast<int>(msg.wParam) : 0;
        }
    }
}

int RunMainLoop(void)
{
    int nExitCode = 0;
    // Whether this loop has asked for the quit. A stop set outside the frames (the sound thread's
    // error, a window procedure) must still bring the quit when this thread runs the frames.
    bool bQuitAsked = false;
    PumpMessages(&nExitCode);
    while (g_bRunning) {
        // SIGINT, SIGTERM or SIGHUP: a quit without the question, as the game's own quit.
        if (PlatTakeQuitSignal()) {
            DebugTrace("RunMainLoop", "quit signal");
            RequestQuit();
            bQuitAsked = true;
        }
        if (g_bEngineStop) {
            if (!bQuitAsked && !g_bThreadedFrames) {
                RequestQuit();
                bQuitAsked = true;
            }
            PlatSleep(1);
            // Without a window system nothing can bring WM_QUIT: the stop flag ends the loop.
            if (!PlatIsWindowThread()) g_bRunning = 0;
        } else {
            PollInputBesideFrames();
            if (g_bThreadedFrames) {
                PlatSleep(1);
            } else {
                if (RunFrame() != 0) {
                    RequestQuit();
                    bQuitAsked = true;
                }
                if (g_bFrameHold) PlatSleep(1);
            }
        }
        PumpMessages(&nExitCode);
    }
    return nExitCode;
}
