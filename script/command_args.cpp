// Command arguments: decoding of a command's argument records into COMMAND_ARGS, range checks and
// the assignment operators.
#include "script/command_args.h"
#include "script/script_tables.h"

#include <cstdlib>
#include <cstring>

#include "core/errors.h"
#include "core/window_record.h"
#include "core/kx_math.h"
#include "script/evaluator.h"
#include "script/script_body.h"
#include "script/variables.h"
#include "core/script_thread.h"
#include "script/dispatch.h"

uint8_t g_abArgSlot[KX_ARG_IDS];
uint8_t g_nArgCount;
int32_t g_anArgId[KX_ARG_SLOTS];
int32_t g_anArgEvalType[KX_ARG_SLOTS];
int32_t g_anArgOp[KX_ARG_SLOTS];
int32_t g_anArgLen[KX_ARG_SLOTS];
int32_t g_anArgOffset[KX_ARG_SLOTS];
int64_t g_anArgValue[KX_ARG_SLOTS];
char* g_apszArgText[KX_ARG_SLOTS];
const uint8_t* g_apArgExpr[KX_ARG_SLOTS];
int32_t g_anArgVar[KX_ARG_SLOTS];
int64_t g_anArgElem[KX_ARG_SLOTS];
uint8_t g_abArgRefTaken[KX_ARG_SLOTS];

namespace {

enum { KX_ERR_BAD_PC = 900050 };

// Bounds of check kinds 1..23 (kinds 1 and 2 have only a minimum).
const int32_t kCheckMin[29] = {0, 0, 1, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 1, 0, 0, 1, 128, 0, 1, 0, 1, 16, 128};
const int32_t kCheckMax[29] = {0, 0, 0, 1, 2, 3, 3, 4, 8, 8, 15, 18, 256, 256, 512, 1024, 1024, 1024, 2048, 2048,
                               8192, 8192, 8192, 8192};

// The main window's logical width and height; 0 before its record exists.
void MainWindowSize(int32_t* pnWidth, int32_t* pnHeight)
{
    const WINDOW_STATE* pMain = g_apWindowState[0];
    *pnWidth = pMain ? pMain->nWidth : 0;
    *pnHeight = pMain ? pMain->nHeight : 0;
}

// The body file of the current thread's script, for the report of a damaged record.
void ReportDamagedRecord(void)
{
    char szName[32];
    const int nScript = g_pCurThread ? g_pCurThread->wScript : 0;
    FormatText(szName, sizeof szName, "kxbin\\kxt%05d.kbn", nScript);
    ReportScriptErrorF(KX_ERR_FILE_READ, 1, szName);
}

// Whether a span of nLen bytes at nOffset lies inside nSize bytes.
bool SpanFits(uint32_t nOffset, uint32_t nLen, uint32_t nSize) { return nOffset <= nSize && nLen <= nSize - nOffset; }

const char* ArgName(int nCmd, int nArgId)
{
    if (!g_appszArgName || !g_pbArgCount || nCmd < 0 || nCmd >= g_nCommands || nArgId < 0 ||
        nArgId >= g_pbArgCount[nCmd] || !g_appszArgName[nCmd])
        return "";
    return g_appszArgName[nCmd][nArgId];
}

// Reports a failed check of kind nKind for error nId.
void ReportCheckFailure(int nId, int nKind, int nCmd, int nArgId, int64_t llValue)
{
    const char* pszCmd = GetScriptCommandName(nCmd);
    const char* pszArg = ArgName(nCmd, nArgId);
    switch (nId) {
    case KX_ERR_ARG_MINIMUM:
        ReportScriptErrorF(nId, 1, pszCmd, pszArg, llValue, kCheckMin[nKind]);
        break;
    case KX_ERR_ARG_RANGE:
        if (nKind == 26 || nKind == 27) {
            int32_t nW, nH;
            MainWindowSize(&nW, &nH);
            ReportScriptErrorF(nId, 1, pszCmd, pszArg, llValue, 0, (nKind == 26 ? nW : nH) - 1);
        } else {
            ReportScriptErrorF(nId, 1, pszCmd, pszArg, llValue, kCheckMin[nKind], kCheckMax[nKind]);
        }
        break;
    case KX_ERR_ARG_ABOVE_3:
        ReportScriptErrorF(nId, 1, pszCmd, pszArg, llValue, 3);
        break;
    default:   // 101020, 101030, 101220: the names and the value only
        ReportScriptErrorF(nId, 1, pszCmd, pszArg, llValue);
        break;
    }
}

// The designation globals before an evaluation: an expression without a variable token then
// designates variable 0, element 0, instead of whatever an earlier argument designated.
void ResetDesignation(void)
{
    g_nRefVar = 0;
    g_nRefElem = 0;
    g_bRefTaken = 0;
}

void TakeDesignation(int s)
{
    g_anArgVar[s] = g_nRefVar;
    g_anArgElem[s] = g_nRefElem;
    g_abArgRefTaken[s] = g_bRefTaken;
}

// The body the current thread runs, when the thread's tables are that body's; else NULL.
const SCRIPT_BODY* CurrentBody(const SCRIPT_THREAD* pThread)
{
    if (!pThread || !g_ppScriptBody || pThread->wScript >= g_nScripts) return nullptr;
    const SCRIPT_BODY* pBody = g_ppScriptBody[pThread->wScript];
    if (!pBody || !pBody->ppFirstArgs || !pBody->pbArgCounts) return nullptr;
    if (pThread->ppFirstArgs != reinterpret_cast<const void* const*>(pBody->ppFirstArgs) ||
        pThread->pbArgCounts != pBody->pbArgCounts || pThread->pbExpr != pBody->pbExpr ||
        pThread->nCommands != pBody->nCommands)
        return nullptr;
    return pBody;
}

}  // namespace

int GetArgValueKind(int nCmd, int nArgId)
{
    if (!g_apbArgValueKind || !g_pbArgCount || nCmd < 0 || nCmd >= g_nCommands || nArgId < 0 ||
        nArgId >= g_pbArgCount[nCmd] || !g_apbArgValueKind[nCmd])
        return -1;
    const int nKind = g_apbArgValueKind[nCmd][nArgId];
    return nKind > KX_ARGKIND_RAW ? KX_ARGKIND_RAW : nKind;
}

int GetArgCheckKind(int nCmd, int nArgId)
{
    if (!g_apbArgCheckKind || !g_pbArgCount || nCmd < 0 || nCmd >= g_nCommands || nArgId < 0 ||
        nArgId >= g_pbArgCount[nCmd] || !g_apbArgCheckKind[nCmd])
        return -1;
    return g_apbArgCheckKind[nCmd][nArgId];
}

int TestArgCheck(int nKind, int64_t llValue)
{
    const uint32_t dwLow = static_cast<uint32_t>(static_cast<uint64_t>(llValue));
    if (nKind == 1 || nKind == 2)
        return llValue < kCheckMin[nKind] ? KX_ERR_ARG_MINIMUM : 0;
    if (nKind >= 3 && nKind <= 23) {
        const uint32_t dwMin = static_cast<uint32_t>(kCheckMin[nKind]);
        const uint32_t dwSpan = static_cast<uint32_t>(kCheckMax[nKind]) - dwMin;
        return (dwLow - dwMin) > dwSpan ? KX_ERR_ARG_RANGE : 0;
    }
    if (nKind == 24) return (dwLow + 1u) > 0x1000000u ? KX_ERR_ARG_COLOUR_OR_NONE : 0;
    if (nKind == 25) return dwLow > 0xFFFFFFu ? KX_ERR_ARG_COLOUR : 0;
    if (nKind == 26 || nKind == 27) {
        int32_t nW, nH;
        MainWindowSize(&nW, &nH);
        const uint32_t dwBound = static_cast<uint32_t>(nKind == 26 ? nW : nH) - 1u;
        return dwLow > dwBound ? KX_ERR_ARG_RANGE : 0;
    }
    if (nKind == 28) {
        if (llValue < 0) return KX_ERR_ARG_NEGATIVE;
        return llValue > 3 ? KX_ERR_ARG_ABOVE_3 : 0;
    }
    return 0;   // 0 and 29..255: no check
}

void ClearCommandArgs(void)
{
    memset(g_abArgSlot, 0, sizeof g_abArgSlot);
    g_nArgCount = 0;
}

ARG_OUT GetArgOut(int nArgId)
{
    const int nSlot = ArgSlot(nArgId);
    if (!nSlot || g_anArgVar[nSlot] == 0) return ARG_OUT{0, 0, nullptr};
    return ARG_OUT{g_anArgVar[nSlot], g_anArgElem[nSlot], GetVarDesc(g_anArgVar[nSlot])};
}

void FreeCommandArgTexts(void)
{
    for (char*& p : g_apszArgText) {
        free(p);
        p = nullptr;
    }
}

int FetchCommandArgs(int nCmd)
{
    ClearCommandArgs();
    const SCRIPT_THREAD* pThread = g_pCurThread;
    const SCRIPT_BODY* pBody = CurrentBody(pThread);
    const int32_t nCur = g_nCurCommand;
    if (!pBody || nCur < 0 || nCur >= pBody->nCommands) {
        ReportScriptError(KX_ERR_BAD_PC, 1);
        return -1;
    }
    const int n = pBody->pbArgCounts[nCur];
    if (n == 0) return 0;
    // The command's records must lie among the body's argument records.
    const ARG_RECORD* pAll = pBody->ppFirstArgs[0];
    const ARG_RECORD* pFirst = pBody->ppFirstArgs[nCur];
    if (!pAll || !pFirst || pFirst < pAll || static_cast<size_t>(pFirst - pAll) > pBody->nArgRecords ||
        static_cast<size_t>(n) > pBody->nArgRecords - static_cast<size_t>(pFirst - pAll)) {
        ReportDamagedRecord();
        return -1;
    }
    g_nArgCount = static_cast<uint8_t>(n);

    for (int s = 1; s <= n; ++s) {
        const ARG_RECORD* r = pFirst + (s - 1);
        const int nId = r->bArgId;
        g_anArgId[s] = nId;
        g_anArgEvalType[s] = r->bEvalType;
        g_anArgOp[s] = r->bOperator;
        g_anArgLen[s] = static_cast<int32_t>(r->dwExprLen);
        g_anArgOffset[s] = static_cast<int32_t>(r->dwExprOffset);
        g_abArgSlot[nId] = static_cast<uint8_t>(s);

        const int nKind = GetArgValueKind(nCmd, nId);
        if (nKind < 0) {   // an argument the command does not have
            ReportDamagedRecord();
            return -1;
        }
        const bool bFits = SpanFits(r->dwExprOffset, r->dwExprLen, pBody->nExprBytes);
        const uint8_t* pbCode = bFits ? pBody->pbExpr + r->dwExprOffset : nullptr;
        if (nKind == KX_ARGKIND_RAW) {
            // Flow commands keep command indices in the length field: only a fitting span is offered.
            g_apArgExpr[s] = pbCode;
            g_anArgVar[s] = 0;
            g_anArgElem[s] = 0;
            g_abArgRefTaken[s] = 0;
            continue;
        }
        g_apArgExpr[s] = nullptr;
        if (!bFits) {
            ReportDamagedRecord();
            return -1;
        }
        if (nKind == KX_ARGKIND_INT) {
            ResetDesignation();
            g_anArgValue[s] = g_apfnEvalInt[r->bEvalType](pbCode, r->dwExprLen);
            TakeDesignation(s);
            // Only an evaluated integer is checked: text and unevaluated slots hold no fresh value.
            const int nErr = TestArgCheck(GetArgCheckKind(nCmd, nId), g_anArgValue[s]);
            if (nErr) {
                ReportCheckFailure(nErr, GetArgCheckKind(nCmd, nId), nCmd, nId, g_anArgValue[s]);
                return -1;
            }
        } else {
            if (!g_apszArgText[s]) {
                g_apszArgText[s] = static_cast<char*>(malloc(KX_ARG_TEXT_BUFFER));
                if (!g_apszArgText[s]) {
                    ReportScriptError(KX_ERR_NO_MEMORY, 1);
                    return -1;
                }
            }
            ResetDesignation();
            g_apfnEvalString[r->bEvalType](g_apszArgText[s], KX_ARG_TEXT_BUFFER, pbCode, r->dwExprLen);
            TakeDesignation(s);
        }
    }
    return 0;
}

int GetArgExpr(int nArgId, const uint8_t** ppCode, uint32_t* pnLen)
{
    *ppCode = nullptr;
    *pnLen = 0;
    const int s = ArgSlot(nArgId);
    if (!s) return -1;
    if (!g_apArgExpr[s]) {
        ReportDamagedRecord();
        return -1;
    }
    *ppCode = g_apArgExpr[s];
    *pnLen = static_cast<uint32_t>(g_anArgLen[s]);
    return 0;
}

int64_t ApplyArgOp(int nOp, int64_t llCurrent, int64_t llValue)
{
    switch (nOp) {
    case KX_ARGOP_SET: return llValue;
    case KX_ARGOP_ADD: return AddInt64(llCurrent, llValue);
    case KX_ARGOP_SUB: return SubInt64(llCurrent, llValue);
    case KX_ARGOP_MUL: return MulInt64(llCurrent, llValue);
    case KX_ARGOP_DIV: return DivInt64(llCurrent, llValue, llCurrent);
    default: return llCurrent;
    }
}

int64_t ApplyArgOpClamped(int nOp, int64_t llCurrent, int64_t llValue, int64_t llMin, int64_t llMax)
{
    const int64_t r = ApplyArgOp(nOp, llCurrent, llValue);
    switch (nOp) {
    case KX_ARGOP_ADD: return r > llMax ? llMax : r;
    case KX_ARGOP_SUB: return r < llMin ? llMin : r;
    case KX_ARGOP_DIV:
        if (llValue == 0) return r;
        [[fallthrough]];
    case KX_ARGOP_MUL: return r < llMin ? llMin : (r > llMax ? llMax : r);
    default: return r;
    }
}

int64_t ApplyArgOpMin(int nOp, int64_t llCurrent, int64_t llValue, int64_t llMin)
{
    const int64_t r = ApplyArgOp(nOp, llCurrent, llValue);
    switch (nOp) {
    case KX_ARGOP_DIV:
        if (llValue == 0) return r;
        [[fallthrough]];
    case KX_ARGOP_SUB:
    case KX_ARGOP_MUL: return r < llMin ? llMin : r;
    default: return r;
    }
}
