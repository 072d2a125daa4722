// The script runtime's globals back at their start values (see script/script_state.h).
#include "script/script_state.h"

#include <cstring>

#include "script/command_args.h"
#include "script/dispatch.h"
#include "script/engine_control.h"
#include "script/evaluator.h"
#include "script/script_tables.h"
#include "script/text_buffer.h"
#include "script/variables.h"

namespace {

void ResetTimersAndRequests(void)
{
    for (int i = 0; i < KX_SCRIPT_TIMERS; ++i) {
        g_abTimerRunning[i] = 1;
        g_allTimerStopTime[i] = 0;
        g_anTimerPaused[i] = 0;
    }
    g_nCursorRequest = KX_CURSOR_REQUEST_NONE;
    g_bCursorShown = 1;
    g_bBlockScreenSaver = 1;
    g_llPauseStart = 0;
}

void ResetCommandArgs(void)
{
    FreeCommandArgTexts();
    ClearCommandArgs();
    std::memset(g_anArgId, 0, sizeof g_anArgId);
    std::memset(g_anArgEvalType, 0, sizeof g_anArgEvalType);
    std::memset(g_anArgOp, 0, sizeof g_anArgOp);
    std::memset(g_anArgLen, 0, sizeof g_anArgLen);
    std::memset(g_anArgOffset, 0, sizeof g_anArgOffset);
    std::memset(g_anArgValue, 0, sizeof g_anArgValue);
    for (const uint8_t*& p : g_apArgExpr) p = nullptr;
    std::memset(g_anArgVar, 0, sizeof g_anArgVar);
    std::memset(g_anArgElem, 0, sizeof g_anArgElem);
    std::memset(g_abArgRefTaken, 0, sizeof g_abArgRefTaken);
}

void ResetEvaluator(void)
{
    g_nExprSp = 0;
    g_nStrPoolNext = 1;
    g_nExprMode = KX_EXPR_MODE_INT;
    g_nSubscriptDepth = 0;
    g_nSubscriptCount = 0;
    g_nRefVar = 0;
    g_nRefElem = 0;
    g_nRefPrefix = 0;
    g_bRefTaken = 0;
    // The output buffer is always the caller's; it is not kept beyond a call.
    g_pszExprOut = nullptr;
    g_nExprOutCap = 0;
    g_nExprOutLen = 0;
    g_bDeclMode = 0;
    g_bNotConstant = 0;
}

}  // namespace

void ResetScriptState(void)
{
    FreeTextBuffer();
    ResetTimersAndRequests();
    ResetCommandArgs();
    ResetEvaluator();
    // The compiled tables: command names and argument rows, script names, bodies and values,
    // labels, error and errno texts, the key map and the definitions the game's file gave.
    FreeScriptTables();
    FreeVarTable();
    g_nVarTableExtra = 0;
    g_pVarDefs = nullptr;
    g_nVarDefsBytes = 0;
    g_pfnEvalVarDefText = nullptr;
    g_SysVarHooks = {};
}
