// The engine-control commands and the engine state they steer: script timers, frame rate, input
// switches, cursor request, screen-saver and background settings, the game screen size, waits, and
// the key-counter write rule.
#include "script/cmd_engine.h"

#include <cstdlib>
#include <cstring>

#include "core/engine_globals.h"
#include "core/engine_tables.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/input_state.h"
#include "core/window_record.h"
#include "platform/plat_display.h"
#include "platform/plat_thread.h"
#include "platform/plat_time.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/dispatch.h"
#include "script/engine_control.h"
#include "script/script_hooks.h"
#include "core/script_thread.h"

uint8_t g_abTimerRunning[KX_SCRIPT_TIMERS] = {1, 1, 1, 1};
int64_t g_allTimerStopTime[KX_SCRIPT_TIMERS];
uint32_t g_anTimerPaused[KX_SCRIPT_TIMERS];

uint8_t g_nCursorRequest = KX_CURSOR_REQUEST_NONE;
uint8_t g_bCursorShown = 1;
uint8_t g_bBlockScreenSaver = 1;

SCRIPT_HOOKS g_ScriptHooks = {};

namespace {

enum { KX_COMMAND_SWITCH_LAST = 121, KX_SWITCH_ARG_BASE = 2, KX_MAX_OUTPUT_WIDTH = 8192 };

struct ENGINE_LOCK {
    ENGINE_LOCK() { if (g_csEngine) PlatLockEnter(g_csEngine); }
    ~ENGINE_LOCK() { if (g_csEngine) PlatLockLeave(g_csEngine); }
    ENGINE_LOCK(const ENGINE_LOCK&) = delete;
    ENGINE_LOCK& operator=(const ENGINE_LOCK&) = delete;
};

// A new scaled-frame buffer for an output of w x h (output width x 4 + w x 4 x h + 4 bytes,
// 64-byte aligned, zeroed), put in place of the old one with the new output size. Presentation
// scales into this buffer, so it always has the output's size. 0, or -1 after 100010 with nothing
// changed (a width beyond what the engine draws, or no memory).
int ReplaceOutputBuffer(int32_t w, int32_t h)
{
    if (w > KX_MAX_OUTPUT_WIDTH) {
        ReportScriptError(KX_ERR_NO_MEMORY, 1);
        return -1;
    }
    const uint64_t uw = static_cast<uint64_t>(w), uh = static_cast<uint64_t>(h);
    const uint64_t nBytes = uw * 4 + uw * 4 * uh + 4;
    const uint64_t nAlloc = (nBytes + 63) / 64 * 64;
    void* p = nAlloc <= SIZE_MAX ? std::aligned_alloc(64, static_cast<size_t>(nAlloc)) : nullptr;
    if (!p) {
        ReportScriptError(KX_ERR_NO_MEMORY, 1);
        return -1;
    }
    std::memset(p, 0, static_cast<size_t>(nAlloc));
    ENGINE_LOCK lock;
    std::free(g_pOutputBuffer);
    g_pOutputBuffer = static_cast<uint8_t*>(p);
    g_nOutputWidth = w;
    g_nOutputHeight = h;
    return 0;
}

// The game screen takes a new size (both above 0). 0, or -1 after a reported error.
int SetGameScreenSize(int32_t w, int32_t h)
{
    const int bWindowed = !g_bFullscreen && !g_bMaximized;
    if (bWindowed && ReplaceOutputBuffer(w, h) != 0) return -1;
    WINDOW_STATE* pMain = g_apWindowState[0];
    if (pMain) {
        pMain->nWidth = w;
        pMain->nHeight = h;
    }
    if (bWindowed) {
        g_nTargetWidth = w;
        g_nTargetHeight = h;
    } else {
        g_ScriptHooks.pfnComputeOutputSize();
        g_ScriptHooks.pfnClearWindowBlack();
    }
    if (g_bDirect3D) g_ScriptHooks.pfnResetDirect3D();
    return 0;
}

}  // namespace

// ---- Script timers ------------------------------------------------------------------------------

void StartScriptTimers(void)
{
    {
        ENGINE_LOCK lock;
        const uint32_t dwNow = PlatGetTime();
        for (int i = 0; i < KX_SCRIPT_TIMERS; ++i) {
            g_abTimerRunning[i] = 1;
            g_allTimerStopTime[i] = 0;
            g_anTimerPaused[i] = dwNow;
        }
    }
}

void StopScriptTimer(int nTimer)
{
    if (nTimer < 1 || nTimer > KX_SCRIPT_TIMERS) return;
    ENGINE_LOCK lock;
    const int i = nTimer - 1;
    if (!g_abTimerRunning[i]) return;
    g_abTimerRunning[i] = 0;
    g_allTimerStopTime[i] = PlatGetTime();
}

void RestartScriptTimer(int nTimer)
{
    if (nTimer < 1 || nTimer > KX_SCRIPT_TIMERS) return;
    ENGINE_LOCK lock;
    const int i = nTimer - 1;
    if (g_abTimerRunning[i]) return;
    g_anTimerPaused[i] += PlatGetTime() - static_cast<uint32_t>(g_allTimerStopTime[i]);
    g_abTimerRunning[i] = 1;
    g_allTimerStopTime[i] = 0;
}

void AddTimerPausedTime(uint32_t dwSpan)
{
    ENGINE_LOCK lock;
    for (int i = 0; i < KX_SCRIPT_TIMERS; ++i)
        if (g_abTimerRunning[i]) g_anTimerPaused[i] += dwSpan;
}

// ---- Frame rate and keys ------------------------------------------------------------------------

void SetFrameRate(int32_t nFps)
{
    // The pacing divides by the rate.
    g_nFps = nFps < 1 ? 1 : nFps;
    PublishFrameCounters();
}

void SetKeyCounter(int nKey, int64_t llValue)
{
    if (nKey < 0 || nKey >= KX_KEY_CODES) return;
    if (g_abKeyMode[nKey] == KX_KEY_MODE_UP)
        g_allKeyCounter[nKey] = llValue < 0 ? llValue : 0;
    else
        g_allKeyCounter[nKey] = llValue > 0 ? llValue : 0;
}

// ---- Command handlers ---------------------------------------------------------------------------

int CmdQuit(void)
{
    if (FetchCommandArgs(CMDID_QUIT) != 0) return -1;
    if (HasArg(0)) g_bRestartAtExit = ArgLowByte(0);
    g_bEngineStop = 1;
    return 0;
}

int CmdSetSwitches(void)
{
    if (FetchCommandArgs(CMDID_SET_SWITCHES) != 0) return -1;
    for (int k = 1; k <= KX_COMMAND_SWITCH_LAST; ++k)
        if (HasArg(k + KX_SWITCH_ARG_BASE)) g_abSwitchTable[k] = ArgLowByte(k + KX_SWITCH_ARG_BASE);
    return 0;
}

int CmdArgsOnly15(void) { return FetchCommandArgs(CMDID_ARGS_ONLY15) != 0 ? -1 : 0; }
int CmdArgsOnly88(void) { return FetchCommandArgs(CMDID_ARGS_ONLY88) != 0 ? -1 : 0; }
int CmdArgsOnly99(void) { return FetchCommandArgs(CMDID_ARGS_ONLY99) != 0 ? -1 : 0; }

int CmdFrameRate(void)
{
    if (FetchCommandArgs(CMDID_FRAME_RATE) != 0) return -1;
    if (HasArg(0)) SetFrameRate(ArgLow32(0));
    if (HasArg(1)) g_bFrameSkip = ArgLow32(1) != 0 ? 1 : 0;
    return 0;
}

int CmdInputSwitches(void)
{
    if (FetchCommandArgs(CMDID_INPUT_SWITCHES) != 0) return -1;
    if (HasArg(0)) g_bKeyboardSwitch = ArgLowByte(0);
    if (HasArg(1)) g_bJoystickSwitch = ArgLowByte(1);
    if (HasArg(2)) {
        const int64_t v = ArgInt(2);
        if (g_bMouseSwitch == 1 && v == 0) {
            g_nCursorRequest = KX_CURSOR_REQUEST_HIDE;
            g_bCursorShown = 0;
        } else if (g_bMouseSwitch == 0 && v == 1) {
            g_nCursorRequest = KX_CURSOR_REQUEST_SHOW;
            g_bCursorShown = 1;
        }
        g_bMouseSwitch = ArgLowByte(2);
    }
    return 0;
}

int CmdNop51(void) { return 0; }

int CmdEngineSettings(void)
{
    if (FetchCommandArgs(CMDID_ENGINE_SETTINGS) != 0) return -1;
    if (HasArg(0)) {
        g_bBlockScreenSaver = ArgLowByte(0);
        // The desktop's screen saver may start again once the game stops blocking it.
        PlatAllowScreenSaver(g_bBlockScreenSaver ? 0 : 1);
    }
    // While the main window is inactive the engine pause decides; the setting waits for activity.
    if (HasArg(1) && g_ScriptHooks.pfnIsMainWindowActive()) g_bRunInBackground = ArgLowByte(1);
    const int32_t w = HasArg(2) ? ArgLow32(2) : 0;
    const int32_t h = HasArg(3) ? ArgLow32(3) : 0;
    if (w > 0 && h > 0 && SetGameScreenSize(w, h) != 0) return -1;
    for (int nTimer = 1; nTimer <= KX_SCRIPT_TIMERS; ++nTimer) {
        const int nArg = 3 + nTimer;
        if (!HasArg(nArg)) continue;
        const int8_t v = static_cast<int8_t>(ArgLowByte(nArg));
        if (v == 0)
            StopScriptTimer(nTimer);
        else if (v == 1)
            RestartScriptTimer(nTimer);
    }
    return 0;
}

int CmdWait(void)
{
    if (FetchCommandArgs(CMDID_WAIT) != 0) return -1;
    SCRIPT_THREAD* pThread = g_pCurThread;
    if (HasArg(0) && ArgInt(0) != 0) {
        pThread->nWaitFrames = ArgLow32(0);
        return -1;
    }
    if (HasArg(1) && ArgInt(1) != 0) {
        uint32_t dwWake = PlatGetTime() + static_cast<uint32_t>(ArgLow32(1));
        // 0 would mean "no wait"; one millisecond later keeps the wait.
        if (dwWake == 0) dwWake = 1;
        pThread->dwWakeTime = dwWake;
        return -1;
    }
    return 0;
}
