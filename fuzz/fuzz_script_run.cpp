// Script bodies run through the scheduler: the input is the body of script 0 of the sample game;
// the script system starts and the scheduler runs the SYSTEM thread, and every thread the script
// starts, for a few passes. The commands of the script itself run (flow, declarations and
// assignments, math, variable utilities and queries, threads, waits); commands that reach the host,
// the display or the sound (files, programs, dialogs, the registry, windows, layers, movies) only
// decode their arguments, since a fuzzed script could name any file. Every input has a budget of
// commands, after which the engine stops, so that a script that loops for ever ends.
#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/engine_globals.h"
#include "core/frame_loop.h"
#include "core/object_tree.h"
#include "core/script_thread.h"
#include "fuzz/support.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/dispatch.h"
#include "script/evaluator.h"
#include "script/script_body.h"
#include "script/script_tables.h"
#include "tools/lib/command_table.h"

namespace {

constexpr int kPasses = 8;
constexpr int kCommandBudget = 5000;

std::vector<GAME_FILE> s_game;
std::array<CMD_HANDLER, KX_COMMAND_IDS> s_apfnEngine{};   // the engine's own handlers
std::array<bool, KX_COMMAND_IDS> s_abRuns{};              // commands that run as they are
int s_nCommandsRun = 0;

// The commands a fuzzed script runs; every other one only decodes its arguments.
constexpr int kRunning[] = {
    KXCMD_NOP,          KXCMD_NOP9,        KXCMD_ELSE,          KXCMD_ARGS_ONLY15, KXCMD_DECLARE_FLOAT,
    KXCMD_GOTO,         KXCMD_GOSUB,       KXCMD_IF,            KXCMD_BRANCH_END,  KXCMD_IF_BREAK,
    KXCMD_IF_RETRY,     KXCMD_END_IF,      KXCMD_DECLARE_INT,   KXCMD_NOP51,       KXCMD_LABEL_EXISTS,
    KXCMD_ASSIGN,       KXCMD_LOOP,        KXCMD_BREAK,         KXCMD_CONTINUE,    KXCMD_LOOP_END,
    KXCMD_MATH,         KXCMD_MOTION_STEP, KXCMD_ARGS_ONLY66,   KXCMD_ARGS_ONLY67, KXCMD_ARGS_ONLY68,
    KXCMD_NOP77,        KXCMD_RETURN,      KXCMD_NOP80,         KXCMD_NOP82,       KXCMD_NOP83,
    KXCMD_NOP84,        KXCMD_ARGS_ONLY88, KXCMD_DECLARE_STRING, KXCMD_SCRIPT_LIST, KXCMD_THREAD,
    KXCMD_THREAD_END,   KXCMD_THREAD_INFO, KXCMD_ARGS_ONLY99,   KXCMD_ARGS_ONLY101, KXCMD_VAR_UTIL,
    KXCMD_VAR_QUERY,    KXCMD_WAIT,
};

template <int N>
int Guarded(void)
{
    if (++s_nCommandsRun > kCommandBudget) {
        g_bEngineStop = 1;
        return 1;
    }
    if (s_abRuns[N] && s_apfnEngine[N]) return s_apfnEngine[N]();
    return FetchCommandArgs(N) != 0 ? -1 : 0;
}

template <size_t... I>
void InstallGuards(std::index_sequence<I...>)
{
    ((g_apfnCommandTable[I] = s_apfnEngine[I] ? Guarded<int(I)> : nullptr), ...);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzInit(pArgc, pArgv);
    InstallEvaluator();
    g_bRunInBackground = 1;
    s_game = BuildGameFiles(FuzzSampleGame());
    for (int i = 0; i < KX_COMMAND_IDS; ++i) s_apfnEngine[size_t(i)] = g_apfnCommandTable[i];
    for (int nId : kRunning) s_abRuns[size_t(nId)] = true;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    FuzzSetMemoryFilesWithBody(s_game, 0, pData, nSize);
    InstallGuards(std::make_index_sequence<KX_COMMAND_IDS>{});
    s_nCommandsRun = 0;
    TREE_NODE* pSystem = FuzzCreateSystemThread();
    if (pSystem && StartScriptSystem() == 0) {
        SCRIPT_THREAD* t = static_cast<SCRIPT_THREAD*>(pSystem->pPayload);
        t->bRunA = t->bRunB = 1;
        for (int nPass = 0; nPass < kPasses && !g_bEngineStop; ++nPass) {
            ++g_llPassCount;
            RunScriptThreads(g_pThreadRoot);
        }
    }
    FreeCommandArgTexts();
    FuzzFreeScriptGame();
    for (int i = 0; i < KX_COMMAND_IDS; ++i) g_apfnCommandTable[i] = s_apfnEngine[size_t(i)];
    FillCmdHandlers(KX_COMMAND_IDS);
    FuzzClearMemoryFiles();
    FuzzEndInput();
    return 0;
}
