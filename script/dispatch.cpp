// The command-handler table, the default handlers, and the engine pause that holds every command
// while the main window is inactive.
#include "script/dispatch.h"

#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "platform/plat_instance.h"
#include "platform/plat_thread.h"
#include "platform/plat_time.h"
#include "platform/plat_window.h"
#include "script/command_ids.h"
#include "script/script_hooks.h"
#include "script/script_body.h"
#include "script/script_tables.h"

namespace {

// Names by command id, for messages; ids without a command carry "unused" and their id.
const char* const kCommandNames[KX_COMMAND_IDS] = {
    "nop", "layer", "imageeffect", "layerdelete", "layerinfo",                    // 0
    "clipcopy", "clippaste", "csvread", "csvcount", "nop9",                       // 5
    "messagebox", "else", "emote", "quit", "setswitches",                         // 10
    "argsonly15", "unused16", "unused17", "unused18", "unused19",                 // 15
    "file", "filequery", "flashopen", "flashclose", "flashget",                   // 20
    "float", "textstyle", "textstyleinfo", "framerate", "unused29",               // 25
    "unused30", "unused31", "unused32", "unused33", "unused34",                   // 30
    "unused35", "unused36", "unused37", "unused38", "unused39",                   // 35
    "unused40", "unused41", "goto", "gosub", "if",                                // 40
    "branchend", "ifbreak", "ifretry", "endif", "inputswitches",                  // 45
    "int", "nop51", "labelexists", "let", "load",                                 // 50
    "loop", "break", "continue", "loopend", "unused59",                           // 55
    "math", "motionstep", "menuitem", "menupopup", "menudelete",                  // 60
    "menuget", "argsonly66", "argsonly67", "argsonly68", "mouse",                 // 65
    "movie", "moviestop", "movieget", "ogvplay", "ogvstop",                       // 70
    "ogvget", "movienop", "nop77", "regread", "return",                           // 75
    "nop80", "textend", "nop82", "nop83", "nop84",                                // 80
    "unused85", "save", "saveclear", "argsonly88", "sound",                       // 85
    "sounddelete", "soundget", "string", "enginesettings", "scriptlist",          // 90
    "thread", "threadend", "threadinfo", "readtextlines", "argsonly99",           // 95
    "trayicon", "argsonly101", "varutil", "varquery", "wait",                     // 100
    "window", "windowhide", "windowinfo", "textappend", "framesheetload",         // 105
    "framesheetfree", "framesheetinfo", "textappendexpr", "unused113", "unused114", // 110
    "unused115", "system", "unused117", "unused118", "unused119",                 // 115
    "unused120",                                                                  // 120
};

// Ids that name no command: their records are errors.
bool IsUnusedId(int nId)
{
    return (nId >= 16 && nId <= 19) || (nId >= 29 && nId <= 41) || nId == 59 || nId == 85 ||
           (nId >= 113 && nId <= 115) || nId >= 117;
}

enum { KX_ERR_UNKNOWN_COMMAND = 900050 };

}  // namespace

CMD_HANDLER g_apfnCmdHandlers[KX_CMD_HANDLER_SLOTS];

CMD_HANDLER g_apfnCommandTable[KX_COMMAND_IDS];

void FillCmdHandlers(int nCommands)
{
    if (nCommands < 0) nCommands = 0;
    if (nCommands > KX_COMMAND_IDS) nCommands = KX_COMMAND_IDS;
    for (CMD_HANDLER& pfn : g_apfnCmdHandlers) pfn = CmdUnknown;
    for (int i = 0; i < nCommands; ++i)
        if (!IsUnusedId(i) && g_apfnCommandTable[i]) g_apfnCmdHandlers[i] = g_apfnCommandTable[i];
}

const char* GetCommandName(int nId)
{
    return nId >= 0 && nId < KX_COMMAND_IDS ? kCommandNames[nId] : nullptr;
}

const char* GetScriptCommandName(int nId)
{
    if (g_apszCmdName && nId >= 0 && nId < g_nCommands && g_apszCmdName[nId]) return g_apszCmdName[nId];
    const char* psz = GetCommandName(nId);
    return psz ? psz : "";
}

const char* GetCurrentCommandName(void)
{
    const SCRIPT_THREAD* pThread = g_pCurThread;
    if (!pThread || !g_ppScriptBody || pThread->wScript >= g_nScripts) return nullptr;
    const SCRIPT_BODY* pBody = g_ppScriptBody[pThread->wScript];
    const int32_t n = g_nCurCommand;
    // Only the body the thread runs: a thread's tables may belong to a body that is being replaced.
    if (!pBody || !pBody->pbOpcodes || pThread->pbArgCounts != pBody->pbArgCounts || n < 0 || n >= pBody->nCommands)
        return nullptr;
    const char* psz = GetScriptCommandName(pBody->pbOpcodes[n]);
    return *psz ? psz : nullptr;
}

int CmdNop(void) { return 0; }

int CmdUnknown(void)
{
    ReportScriptError(KX_ERR_UNKNOWN_COMMAND, 1);
    return -1;
}

// ---- Engine pause ---------------------------------------------------------------------------------

int64_t g_llPauseStart = 0;

namespace {

struct ENGINE_LOCK {
    ENGINE_LOCK() { if (g_csEngine) PlatLockEnter(g_csEngine); }
    ~ENGINE_LOCK() { if (g_csEngine) PlatLockLeave(g_csEngine); }
    ENGINE_LOCK(const ENGINE_LOCK&) = delete;
    ENGINE_LOCK& operator=(const ENGINE_LOCK&) = delete;
};

// Serves the window thread's queue while a command waits in the pause. Only the window thread
// may dispatch; on the frame thread (threaded frames) the window thread keeps pumping on its own.
void PumpWhilePaused(void)
{
    if (!PlatIsWindowThread()) return;
    PlatPumpWindowThread();
    PlatPollActivation();
    PLAT_MSG msg;
    while (g_bRunning && PlatPeekMessage(&msg, PLAT_PM_NOREMOVE)) {
        if (PlatGetMessage(&msg) <= 0) {
            g_bRunning = 0;   // WM_QUIT
            break;
        }
        PlatDispatchMessage(&msg);
    }
}

}  // namespace

void EnterPause(void)
{
    ENGINE_LOCK lock;
    if (g_bEnginePaused) return;
    g_bEnginePaused = 1;
    g_llPauseStart = static_cast<int64_t>(PlatGetTime());
}

void LeavePause(void)
{
    ENGINE_LOCK lock;
    if (!g_bEnginePaused) return;
    g_bEnginePaused = 0;
    const uint32_t dwSpan = PlatGetTime() - static_cast<uint32_t>(g_llPauseStart);
    g_ScriptHooks.pfnAddPausedTime(dwSpan);
    g_llPauseStart = 0;
}

void UpdatePauseState(void)
{
    // A caption drag that paused the engine holds it to the drag's end, active window or not and in
    // the background too; a drag that ended unheard of ends its pause here.
    if (g_bCaptionDragPause && g_bEnginePaused) {
        if (g_ScriptHooks.pfnIsCaptionDragHeld()) return;
        LeavePause();
    }
    if (g_bRunInBackground) {
        // In the background the flag is cleared without touching the timers. It is written only
        // when set (a caption drag paused the engine), and then under the engine lock, since the
        // sound thread reads it in every pass; the look itself needs no lock, as the flag's other
        // writers run on this thread or in a window procedure, which never overlaps the frame.
        if (g_bEnginePaused) {
            ENGINE_LOCK lock;
            g_bEnginePaused = 0;
        }
        return;
    }
    const int bActive = g_ScriptHooks.pfnIsMainWindowActive();
    if (!bActive && !g_bEnginePaused)
        EnterPause();
    else if (bActive && g_bEnginePaused)
        LeavePause();
}

int DispatchWhilePaused(void)
{
    while (g_bEnginePaused) {
        UpdatePauseState();
        PumpWhilePaused();
        if (!g_bRunning || g_bEngineStop) return 1;
        if (g_bEnginePaused) PlatSleep(10);
    }
    // The pause is over: the command's own handler, from the bound table.
    SCRIPT_THREAD* pThread = g_pCurThread;
    const int32_t n = g_nCurCommand;
    CMD_HANDLER* pBound = pThread && pThread->ppHandlerTables ? pThread->ppHandlerTables[1] : nullptr;
    if (!pBound || n < 0 || n >= pThread->nCommands || !pBound[n] || pBound[n] == DispatchWhilePaused) {
        ReportScriptError(KX_ERR_UNKNOWN_COMMAND, 1);
        return -1;
    }
    return pBound[n]();
}
