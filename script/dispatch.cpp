// The command-handler table, the default handlers, and the engine pause that holds every command
// while the main window is inactive.
#include "script/dispatch.h"

#include <array>
#include <utility>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "platform/plat_instance.h"
#include "platform/plat_thread.h"
#include "platform/plat_time.h"
#include "platform/plat_window.h"
#include "image/frame_sheet.h"
#include "script/cmd_decl.h"
#include "script/cmd_engine.h"
#include "script/cmd_flow.h"
#include "script/cmd_text.h"
#include "script/cmd_thread.h"
#include "image/cmd_image_effect.h"
#include "image/cmd_layer.h"
#include "image/cmd_layer_info.h"
#include "image/cmd_text_style.h"
#include "script/command_ids.h"
#include "save/cmd_load.h"
#include "save/cmd_save.h"
#include "sound/cmd_sound.h"

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

// The handlers of this build, by id. A command not listed here runs its stand-in below.
struct CMD_BINDING {
    int nId;
    CMD_HANDLER pfn;
};
const CMD_BINDING kBuiltHandlers[] = {
    {CMDID_NOP, CmdNop},     {CMDID_NOP9, CmdNop},    {CMDID_NOP77, CmdNop},   {CMDID_NOP80, CmdNop},
    {CMDID_NOP82, CmdNop},   {CMDID_NOP83, CmdNop},   {CMDID_NOP84, CmdNop},

    // Declarations and assignment.
    {CMDID_DECLARE_INT, CmdDeclareInt}, {CMDID_DECLARE_FLOAT, CmdDeclareFloat},
    {CMDID_DECLARE_STRING, CmdDeclareString}, {CMDID_ASSIGN, CmdAssign},


    // Flow control.
    {CMDID_ELSE, CmdElse},             {CMDID_GOTO, CmdGoto},           {CMDID_GOSUB, CmdGosub},
    {CMDID_IF, CmdIf},                 {CMDID_BRANCH_END, CmdBranchEnd}, {CMDID_IF_BREAK, CmdIfBreak},
    {CMDID_IF_RETRY, CmdIfRetry},      {CMDID_END_IF, CmdEndIf},        {CMDID_LABEL_EXISTS, CmdLabelExists},
    {CMDID_LOOP, CmdLoop},             {CMDID_BREAK, CmdBreak},         {CMDID_CONTINUE, CmdContinue},
    {CMDID_LOOP_END, CmdLoopEnd},      {CMDID_RETURN, CmdReturn},

    // Script threads.
    {CMDID_SCRIPT_LIST, CmdScriptList}, {CMDID_THREAD, CmdThread}, {CMDID_THREAD_END, CmdThreadEnd},
    {CMDID_THREAD_INFO, CmdThreadInfo},

    // Engine control.
    {CMDID_QUIT, CmdQuit}, {CMDID_SET_SWITCHES, CmdSetSwitches}, {CMDID_ARGS_ONLY15, CmdArgsOnly15},
    {CMDID_FRAME_RATE, CmdFrameRate}, {CMDID_INPUT_SWITCHES, CmdInputSwitches}, {CMDID_NOP51, CmdNop51},
    {CMDID_ARGS_ONLY88, CmdArgsOnly88}, {CMDID_ENGINE_SETTINGS, CmdEngineSettings},
    {CMDID_ARGS_ONLY99, CmdArgsOnly99}, {CMDID_WAIT, CmdWait},

    // Message texts.
    {CMDID_TEXT_APPEND, CmdTextAppend}, {CMDID_TEXT_APPEND_EXPR, CmdTextAppendExpr}, {CMDID_TEXT_END, CmdTextEnd},

    // Frame sheets.
    {CMDID_FRAME_SHEET_LOAD, CmdFrameSheetLoad}, {CMDID_FRAME_SHEET_FREE, CmdFrameSheetFree},
    {CMDID_FRAME_SHEET_INFO, CmdFrameSheetInfo},

    // Layers.
    {CMDID_LAYER, CmdLayer}, {CMDID_LAYER_DELETE, CmdLayerDelete}, {CMDID_LAYER_INFO, CmdLayerInfo},

    // Image effects.
    {CMDID_IMAGE_EFFECT, CmdImageEffect},

    // Text styles.
    {CMDID_TEXT_STYLE, CmdTextStyle}, {CMDID_TEXT_STYLE_INFO, CmdTextStyleInfo},

    // Save data.
    {CMDID_LOAD, CmdLoad}, {CMDID_SAVE, CmdSave}, {CMDID_SAVE_CLEAR, CmdSaveClear},

    // Sound.
    {CMDID_SOUND, CmdSound}, {CMDID_SOUND_DELETE, CmdSoundDelete}, {CMDID_SOUND_GET, CmdSoundGet},
};

// A command this build does not carry yet: the game stops with the unknown-command error, naming
// the command, instead of running on without it.
template <int ID>
int CmdNotBuilt(void)
{
    ReportScriptErrorF(900050, 1, kCommandNames[ID]);
    DebugTrace("command not built", kCommandNames[ID]);
    return -1;
}
template <size_t... I>
constexpr std::array<CMD_HANDLER, KX_COMMAND_IDS> MakeStandIns(std::index_sequence<I...>)
{
    return {&CmdNotBuilt<static_cast<int>(I)>...};
}
constexpr std::array<CMD_HANDLER, KX_COMMAND_IDS> kStandIns = MakeStandIns(std::make_index_sequence<KX_COMMAND_IDS>());

enum { KX_ERR_UNKNOWN_COMMAND = 900050 };

}  // namespace

CMD_HANDLER g_apfnCmdHandlers[KX_CMD_HANDLER_SLOTS];

void FillCmdHandlers(int nCommands)
{
    if (nCommands < 0) nCommands = 0;
    if (nCommands > KX_COMMAND_IDS) nCommands = KX_COMMAND_IDS;
    for (CMD_HANDLER& pfn : g_apfnCmdHandlers) pfn = CmdUnknown;
    for (int i = 0; i < nCommands; ++i)
        if (!IsUnusedId(i)) g_apfnCmdHandlers[i] = kStandIns[static_cast<size_t>(i)];
    for (const CMD_BINDING& b : kBuiltHandlers)
        if (b.nId < nCommands) g_apfnCmdHandlers[b.nId] = b.pfn;
}

// The table is usable before the command table is read (tests, tools).
static const int s_nHandlersFilled = (FillCmdHandlers(KX_COMMAND_IDS), 1);

int IsCommandBuilt(int nId)
{
    for (const CMD_BINDING& b : kBuiltHandlers)
        if (b.nId == nId) return 1;
    return 0;
}

const char* GetCommandName(int nId)
{
    (void)s_nHandlersFilled;
    return nId >= 0 && nId < KX_COMMAND_IDS ? kCommandNames[nId] : nullptr;
}

int CmdNop(void) { return 0; }

int CmdUnknown(void)
{
    ReportScriptError(KX_ERR_UNKNOWN_COMMAND, 1);
    return -1;
}

// ---- Engine pause ---------------------------------------------------------------------------------

int64_t g_llPauseStart = 0;
int (*g_pfnIsMainWindowActive)(void) = nullptr;
void (*g_pfnAddPausedTime)(uint32_t dwSpan) = nullptr;

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
    if (g_pfnAddPausedTime) g_pfnAddPausedTime(dwSpan);
    g_llPauseStart = 0;
}

void UpdatePauseState(void)
{
    if (g_bRunInBackground) {
        g_bEnginePaused = 0;
        return;
    }
    const int bActive = g_pfnIsMainWindowActive ? g_pfnIsMainWindowActive() : 1;
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
