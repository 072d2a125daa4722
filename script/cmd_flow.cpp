// Flow control commands: labels, calls and returns, if-blocks, loops, and the label test.
#include "script/cmd_flow.h"

#include <cstdlib>
#include <cstring>

#include "core/cp932.h"
#include "core/errors.h"
#include "core/kx_math.h"
#include "core/object_tree.h"
#include "core/sysfacts.h"
#include "script/cmd_thread.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/dispatch.h"
#include "script/evaluator.h"
#include "script/flow_frames.h"
#include "script/script_body.h"
#include "script/script_tables.h"
#include "script/variables.h"

namespace {

// Label names are evaluated into buffers that hold every text (at most 4095 bytes): a longer name
// cannot be a label anyway.
enum { KX_LABEL_TEXT = 4096 };

// The record of an argument the command does not have.
const ARG_RECORD kNoRecord = {};

// ---- messages ---------------------------------------------------------------------------------

// nCmd outside its construct (or leaving more levels than are open); nConstruct names the construct.
int ReportOutside(int nCmd, int nConstruct)
{
    const char* psz = GetScriptCommandName(nCmd);
    ReportScriptErrorF(KX_ERR_FLOW_OUTSIDE, 1, psz, psz, GetScriptCommandName(nConstruct));
    return -1;
}

int ReportTooDeep(int nCmd, int nLimit)
{
    const char* psz = GetScriptCommandName(nCmd);
    ReportScriptErrorF(KX_ERR_FLOW_TOO_DEEP, 1, psz, psz, nLimit);
    return -1;
}

int ReportBadTarget(void)
{
    ReportScriptError(KX_ERR_FLOW_BAD_TARGET, 1);
    return -1;
}

// A flow command run without a running thread: nothing to move; named like a command without a handler.
int ReportNoThread(int nCmd)
{
    ReportScriptErrorF(KX_ERR_FLOW_BAD_TARGET, 1, GetScriptCommandName(nCmd));
    return -1;
}

int ReportNoLabel(const char* pszName)
{
    ReportScriptErrorF(KX_ERR_LABEL_NOT_FOUND, 1, pszName);
    return -1;
}

// An expression outside the body's expression bytes: the body file does not fit its layout.
int ReportDamagedBody(const SCRIPT_THREAD* pThread)
{
    char szName[32];
    FormatText(szName, sizeof szName, "kxbin\\kxt%05d.kbn", pThread->wScript);
    ReportScriptErrorF(KX_ERR_FILE_READ, 1, szName);
    return -1;
}

// ---- the running command's records ------------------------------------------------------------

// Argument records of the current command.
int RecordCount(const SCRIPT_THREAD* pThread)
{
    const int32_t n = g_nCurCommand;
    if (!pThread->pbArgCounts || n < 0 || n >= pThread->nCommands) return 0;
    return pThread->pbArgCounts[n];
}

// Record k (from 0) of the current command; a zeroed record when the command has fewer. The body
// loader has checked that every command's records lie inside the body.
const ARG_RECORD* Record(const SCRIPT_THREAD* pThread, int k)
{
    if (k >= RecordCount(pThread) || !pThread->ppFirstArgs) return &kNoRecord;
    return static_cast<const ARG_RECORD*>(pThread->ppFirstArgs[g_nCurCommand]) + k;
}

uint16_t CommandWord(const SCRIPT_THREAD* pThread)
{
    const int32_t n = g_nCurCommand;
    if (!pThread->pwCommandWords || n < 0 || n >= pThread->nCommands) return 0;
    return pThread->pwCommandWords[n];
}

int32_t CommandLine(const SCRIPT_THREAD* pThread)
{
    const int32_t n = g_nCurCommand;
    if (!pThread->pnLineTable || n < 0 || n >= pThread->nCommands) return 0;
    return pThread->pnLineTable[n];
}

// Bytes of the expression region of the thread's body.
uint32_t ExprBytes(const SCRIPT_THREAD* pThread)
{
    if (!g_ppScriptBody || pThread->wScript >= g_nScripts) return 0;
    const SCRIPT_BODY* pBody = g_ppScriptBody[pThread->wScript];
    return pBody && pBody->pbExpr == pThread->pbExpr ? pBody->nExprBytes : 0;
}

// The expression of a record. 0, or -1 after 104010 when it does not lie inside the body.
int RecordExpr(const SCRIPT_THREAD* pThread, const ARG_RECORD* pRec, const uint8_t** ppCode)
{
    const uint32_t nSize = ExprBytes(pThread);
    if (pRec->dwExprOffset > nSize || pRec->dwExprLen > nSize - pRec->dwExprOffset) return ReportDamagedBody(pThread);
    *ppCode = pThread->pbExpr ? pThread->pbExpr + pRec->dwExprOffset : nullptr;
    return 0;
}

// A record's expression as a 64-bit integer with the evaluator of its type. 0, or -1.
int EvalRecordInt(const SCRIPT_THREAD* pThread, const ARG_RECORD* pRec, int64_t* pllValue)
{
    const uint8_t* pbCode = nullptr;
    if (RecordExpr(pThread, pRec, &pbCode) != 0) return -1;
    *pllValue = g_apfnEvalInt[pRec->bEvalType](pbCode, pRec->dwExprLen);
    return 0;
}

// ---- stack entries ------------------------------------------------------------------------------

// Entry i of a stack, allocated cleared when missing. NULL after a reported error: 100010 when
// memory runs out, 900050 for an index outside the table (a depth no command can reach).
template <class T, int N>
T* StackEntry(T* (&apEntries)[N], int i)
{
    if (i < 0 || i >= N) {
        ReportBadTarget();
        return nullptr;
    }
    if (!apEntries[i]) {
        apEntries[i] = static_cast<T*>(AllocZeroed(sizeof(T)));
        if (!apEntries[i]) ReportError(KX_ERR_NO_MEMORY, 1);
    }
    return apEntries[i];
}

// Entries 0..i all present (a jump can land at depths that no push has reached). 0, or -1.
template <class T, int N>
int EnsureEntries(T* (&apEntries)[N], int i)
{
    if (i >= 0 && i < N && apEntries[i]) return 0;
    for (int k = 0; k <= i; ++k)
        if (!StackEntry(apEntries, k)) return -1;
    return 0;
}

// ---- jumps --------------------------------------------------------------------------------------

// A jump inside the thread's body. 0, or -1 after 900050.
int Jump(SCRIPT_THREAD* pThread, int64_t llCommand)
{
    if (llCommand < 0 || llCommand >= pThread->nCommands) return ReportBadTarget();
    pThread->nPC = static_cast<int32_t>(llCommand);
    return 0;
}

// The label of a bound index or of a name: its entry, or NULL after 108180.
const LABEL_ENTRY* LabelByIndex(int64_t llIndex, const char* pszName)
{
    if (llIndex >= 0 && llIndex < g_nLabels && g_apLabel && g_apLabel[llIndex]) return g_apLabel[llIndex];
    ReportNoLabel(pszName);
    return nullptr;
}
const LABEL_ENTRY* LabelByName(const char* pszName)
{
    const int32_t nLabel = FindLabel(pszName, std::strlen(pszName));
    if (nLabel < 0) {
        ReportNoLabel(pszName);
        return nullptr;
    }
    return LabelByIndex(nLabel, pszName);
}

// ---- call values --------------------------------------------------------------------------------

// Items of one value group given by a call or return: at most 16, whatever the 5-bit field says.
int ClampItems(int n) { return n > KX_CALL_ITEMS ? KX_CALL_ITEMS : n; }

struct VALUE_COUNTS {
    int nInts, nFloats, nTexts;
};
VALUE_COUNTS CountsOfWord(uint16_t w)
{
    return VALUE_COUNTS{ClampItems((w >> 3) & 31), ClampItems(((w & 7) << 2) | (w >> 14)), ClampItems((w >> 9) & 31)};
}

// The destination of one call or return: the three value groups and their count-and-flag rows.
struct VALUE_TARGET {
    int64_t* pllInts;
    double* pdFloats;
    char** ppszTexts;
    uint8_t* pbIntRow;
    uint8_t* pbFloatRow;
    uint8_t* pbTextRow;
};

// Stores the counts, then items 1..count of each group from the decoded arguments: integer item i
// from argument id nIntId + i - 1, double item i from the kept expression of nFloatId + i - 1
// (evaluated as a double), text item i from nTextId + i - 1. An item not given becomes 0, 0.0 or
// the empty text with flag 0; flags above the count are cleared, so no flag outlives its call.
// 0, or -1 after a reported error.
int StoreValues(const VALUE_TARGET& dst, const VALUE_COUNTS& counts, int nIntId, int nFloatId, int nTextId)
{
    dst.pbIntRow[0] = static_cast<uint8_t>(counts.nInts);
    dst.pbFloatRow[0] = static_cast<uint8_t>(counts.nFloats);
    dst.pbTextRow[0] = static_cast<uint8_t>(counts.nTexts);
    for (int i = 1; i <= KX_CALL_ITEMS; ++i) {
        if (i <= counts.nInts) {
            const int s = ArgSlot(nIntId + i - 1);
            dst.pllInts[i - 1] = s ? g_anArgValue[s] : 0;
            dst.pbIntRow[i] = s ? 1 : 0;
        } else {
            dst.pbIntRow[i] = 0;
        }
        if (i <= counts.nFloats) {
            const int nId = nFloatId + i - 1;
            double d = 0.0;
            if (HasArg(nId)) {
                const uint8_t* pbCode = nullptr;
                uint32_t nLen = 0;
                if (GetArgExpr(nId, &pbCode, &nLen) != 0) return -1;
                d = g_apfnEvalFloat[KX_EXPR_MODE_FLOAT](pbCode, nLen);
            }
            dst.pdFloats[i - 1] = d;
            dst.pbFloatRow[i] = HasArg(nId) ? 1 : 0;
        } else {
            dst.pbFloatRow[i] = 0;
        }
        if (i <= counts.nTexts) {
            const int s = ArgSlot(nTextId + i - 1);
            char*& pszSlot = dst.ppszTexts[i - 1];
            if (s && g_apszArgText[s]) {
                if (AssignStringSlot(&pszSlot, g_apszArgText[s]) != 0) return -1;
            } else if (pszSlot) {
                pszSlot[0] = '\0';   // emptied; no buffer is made for an empty text
            }
            dst.pbTextRow[i] = s ? 1 : 0;
        } else {
            dst.pbTextRow[i] = 0;
        }
    }
    return 0;
}

// The thread ends at a RETURN without a call: it leaves the thread tree and its record is freed.
int EndRunningThread(SCRIPT_THREAD* pThread)
{
    TREE_NODE* pNode = g_pCurThreadNode;
    if (pNode && pNode->pPayload == pThread) EndThreadNode(pNode);
    return -1;
}

// n of a leave-or-repeat command: argument id 0 when given, else 1. 0 when the command is to do
// nothing (a given count whose low 32 bits are 0 or negative), -1 after a decoding error.
int LevelCount(int nCmd)
{
    if (FetchCommandArgs(nCmd) != 0) return -1;
    const int s = ArgSlot(0);
    if (!s) return 1;
    const int32_t n = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(g_anArgValue[s])));
    return n > 0 ? n : 0;
}

// Shared part of BREAK and CONTINUE: leave n loops for the LOOP-END of the n-th. With bBreak that
// LOOP-END closes the loop, else it counts the pass.
int LeaveLoops(int nCmd, bool bBreak)
{
    SCRIPT_THREAD* t = g_pCurThread;
    if (!t) return ReportNoThread(nCmd);
    const int n = LevelCount(nCmd);
    if (n <= 0) return n;
    const int e = t->nLoopDepth;
    if (n > e) return ReportOutside(nCmd, CMDID_LOOP);
    LOOP_FRAME* f = StackEntry(t->apLoop, e - n);
    if (!f || Jump(t, f->nLoopEnd) != 0) return -1;
    t->nLoopDepth = static_cast<int8_t>(e - n + 1);
    t->nIfDepth = static_cast<int8_t>(f->bIfDepth);
    if (bBreak) {
        f->llPassCounter = 0;
        f->llPassCount = 0;
    }
    return 0;
}

}  // namespace

// ---- shared pieces ------------------------------------------------------------------------------

int AssignStringSlot(char** ppszSlot, const char* pszText)
{
    char* psz = *ppszSlot;
    if (!psz) {
        if (!pszText) return 0;
        const size_t n = std::strlen(pszText);
        psz = static_cast<char*>(std::malloc(n + 1));
        if (!psz) {
            ReportError(KX_ERR_NO_MEMORY, 1);
            return -1;
        }
        std::memcpy(psz, pszText, n + 1);
        *ppszSlot = psz;
        return 0;
    }
    if (!pszText) {
        psz[0] = '\0';
        return 0;
    }
    const size_t n = std::strlen(pszText);
    if (n > std::strlen(psz)) {
        char* pNew = static_cast<char*>(std::realloc(psz, n + 1));
        if (!pNew) {
            ReportError(KX_ERR_NO_MEMORY, 1);
            return -1;
        }
        psz = pNew;
        *ppszSlot = psz;
    }
    std::memmove(psz, pszText, n + 1);
    return 0;
}

int SetThreadPosition(SCRIPT_THREAD* pThread, uint16_t wScript, int64_t llCommand)
{
    if (wScript == pThread->wScript && pThread->ppHandlerTables) return Jump(pThread, llCommand);
    LoadScriptBody(wScript);
    const SCRIPT_BODY* pBody = g_ppScriptBody && wScript < g_nScripts ? g_ppScriptBody[wScript] : nullptr;
    const int32_t nCommands = pBody && pBody->ppHandlerTables ? pBody->nCommands : 0;
    if (llCommand < 0 || llCommand >= nCommands) return ReportBadTarget();
    SetThreadBody(pThread, wScript);
    pThread->nPC = static_cast<int32_t>(llCommand);
    return 0;
}

int FetchCallArgs(int nCmd)
{
    // The text evaluators of the record types become that of type 3 for this decoding only.
    const SCRIPT_THREAD* t = g_pCurThread;
    uint8_t abType[KX_ARG_SLOTS];
    EVAL_STRING_FN apfnOld[KX_ARG_SLOTS];
    int nSwapped = 0;
    const int nRecords = t ? RecordCount(t) : 0;
    for (int k = 0; k < nRecords; ++k) {
        const ARG_RECORD* r = Record(t, k);
        if (GetArgValueKind(nCmd, r->bArgId) != KX_ARGKIND_TEXT || g_apfnEvalString[r->bEvalType] == EvalExprString)
            continue;
        abType[nSwapped] = r->bEvalType;
        apfnOld[nSwapped] = g_apfnEvalString[r->bEvalType];
        g_apfnEvalString[r->bEvalType] = EvalExprString;
        ++nSwapped;
    }
    const int r = FetchCommandArgs(nCmd);
    while (nSwapped > 0) {
        --nSwapped;
        g_apfnEvalString[abType[nSwapped]] = apfnOld[nSwapped];
    }
    return r;
}

// ---- jumps, calls and returns ------------------------------------------------------------------

int CmdGoto(void)
{
    SCRIPT_THREAD* t = g_pCurThread;
    if (!t) return ReportNoThread(CMDID_GOTO);
    const ARG_RECORD* r = Record(t, 0);
    const LABEL_ENTRY* pLabel;
    if (r->dwExprLen & KX_ARG_LABEL_TEST) {
        const uint32_t nIndex = r->dwExprLen & KX_ARG_LABEL_MASK;
        char szIndex[16];
        FormatText(szIndex, sizeof szIndex, "%u", nIndex);
        pLabel = LabelByIndex(nIndex, szIndex);
    } else {
        const uint8_t* pbCode = nullptr;
        if (RecordExpr(t, r, &pbCode) != 0) return -1;
        char szName[KX_LABEL_TEXT];
        EvalExprString(szName, sizeof szName, pbCode, r->dwExprLen);
        pLabel = LabelByName(szName);
    }
    if (!pLabel) return -1;

    // The label's depths count from the level's start: add the depths that held at the call.
    int nIf = pLabel->nIfDepth;
    int nLoop = pLabel->nLoopDepth;
    const int L = t->nCallDepth;
    if (L > 0) {
        const CALL_FRAME* c = StackEntry(t->apCall, L - 1);
        if (!c) return -1;
        nIf += c->bSavedIfDepth;
        nLoop += c->bSavedLoopDepth;
    }
    if (nIf >= KX_IF_LIMIT) return ReportTooDeep(CMDID_IF, KX_IF_LIMIT);
    if (nLoop >= KX_LOOP_LIMIT) return ReportTooDeep(CMDID_LOOP, KX_LOOP_LIMIT);
    if (EnsureEntries(t->apIf, nIf) != 0 || EnsureEntries(t->apLoop, nLoop) != 0) return -1;
    if (SetThreadPosition(t, pLabel->wScript, pLabel->nCommand) != 0) return -1;
    t->nIfDepth = static_cast<int8_t>(nIf);
    t->nLoopDepth = static_cast<int8_t>(nLoop);
    return 0;
}

int CmdGosub(void)
{
    SCRIPT_THREAD* t = g_pCurThread;
    if (!t) return ReportNoThread(CMDID_GOSUB);
    if (FetchCallArgs(CMDID_GOSUB) != 0) return -1;
    const int L = t->nCallDepth;
    if (L + 1 >= KX_CALL_LIMIT) return ReportTooDeep(CMDID_GOSUB, KX_CALL_LIMIT);
    CALL_FRAME* pCaller = StackEntry(t->apCall, L);
    CALL_FRAME* pCallee = pCaller ? StackEntry(t->apCall, L + 1) : nullptr;
    if (!pCallee) return -1;

    const VALUE_TARGET dst{pCallee->allArgInt, pCallee->adArgFloat, pCallee->apszArgText,
                           pCallee->abArgIntGiven, pCallee->abArgFloatGiven, pCallee->abArgTextGiven};
    if (StoreValues(dst, CountsOfWord(CommandWord(t)), 1, 1 + KX_CALL_ITEMS, 1 + 2 * KX_CALL_ITEMS) != 0) return -1;

    // The label: its index bound at load in the type and operator bytes, else its name.
    const int s = ArgSlot(0);
    const char* pszName = s && g_apszArgText[s] ? g_apszArgText[s] : "";
    const int nBound = s ? (g_anArgEvalType[s] & 0xFF) | (g_anArgOp[s] & 0xFF) << 8 : 0;
    const LABEL_ENTRY* pLabel = nBound ? LabelByIndex(nBound, pszName) : LabelByName(pszName);
    if (!pLabel) return -1;

    const int32_t nReturn = g_nCurCommand + 1;
    const uint16_t wReturnScript = t->wScript;
    const int32_t nLine = CommandLine(t);
    if (SetThreadPosition(t, pLabel->wScript, pLabel->nCommand) != 0) return -1;
    pCaller->nReturnCommand = nReturn;
    pCaller->wReturnScript = wReturnScript;
    pCaller->nCallLine = nLine;
    pCaller->bSavedIfDepth = static_cast<uint8_t>(t->nIfDepth);
    pCaller->bSavedLoopDepth = static_cast<uint8_t>(t->nLoopDepth);
    // The callee starts with the caller's depths, not the label's.
    t->nCallDepth = static_cast<int8_t>(L + 1);
    return 0;
}

int CmdReturn(void)
{
    SCRIPT_THREAD* t = g_pCurThread;
    if (!t) return ReportNoThread(CMDID_RETURN);
    if (FetchCommandArgs(CMDID_RETURN) != 0) return -1;
    const int L = t->nCallDepth;
    if (L <= 0) {
        if (t->bRoot) return ReportOutside(CMDID_RETURN, CMDID_GOSUB);
        return EndRunningThread(t);
    }
    CALL_FRAME* f = StackEntry(t->apCall, L - 1);
    if (!f) return -1;
    const VALUE_TARGET dst{f->allRetInt, f->adRetFloat, f->apszRetText, f->abRetIntGiven, f->abRetFloatGiven, f->abRetTextGiven};
    if (StoreValues(dst, CountsOfWord(CommandWord(t)), 0, KX_CALL_ITEMS, 2 * KX_CALL_ITEMS) != 0) return -1;
    // The depths stay as they are: the compiler closes every block before a RETURN.
    if (SetThreadPosition(t, f->wReturnScript, f->nReturnCommand) != 0) return -1;
    t->nCallDepth = static_cast<int8_t>(L - 1);
    return 0;
}

int CmdLabelExists(void)
{
    if (!g_pCurThread) return ReportNoThread(CMDID_LABEL_EXISTS);
    if (FetchCommandArgs(CMDID_LABEL_EXISTS) != 0) return -1;
    char szName[KX_LABEL_TEXT];
    const int s0 = ArgSlot(0);
    CopyTextBounded(szName, sizeof szName, s0 && g_apszArgText[s0] ? g_apszArgText[s0] : "");
    if (!HasArg(2)) return 0;
    const auto [nVar, llElem, pVar] = GetArgOut(1);
    const bool bFound = FindLabel(szName, std::strlen(szName)) >= 0;
    if (!pVar || llElem < 0 || llElem >= pVar->llCount) return 0;
    switch (pVar->bType) {
    case KX_VAR_TYPE_INT: SetVarInt(nVar, llElem, bFound ? 1 : 0); break;
    case KX_VAR_TYPE_FLOAT: SetVarFloat(nVar, llElem, bFound ? 1.0 : 0.0); break;
    case KX_VAR_TYPE_STRING: ReportScriptError(KX_ERR_VAR_WRONG_TYPE, 1); break;
    default: break;
    }
    return 0;
}

// ---- if-blocks -----------------------------------------------------------------------------------

int CmdIf(void)
{
    SCRIPT_THREAD* t = g_pCurThread;
    if (!t) return ReportNoThread(CMDID_IF);
    const int d = t->nIfDepth;
    // Refused before anything is pushed: the table has no entry beyond the limit.
    if (d + 1 >= KX_IF_LIMIT) return ReportTooDeep(CMDID_IF, KX_IF_LIMIT);
    IF_BLOCK* b = StackEntry(t->apIf, d);
    if (!b || !StackEntry(t->apIf, d + 1)) return -1;
    b->bLoopDepth = static_cast<uint8_t>(t->nLoopDepth);
    b->nIfCommand = g_nCurCommand;
    b->nBlockEnd = static_cast<int32_t>(Record(t, 2)->dwExprLen);
    t->nIfDepth = static_cast<int8_t>(d + 1);

    int64_t llCond = 0;
    if (EvalRecordInt(t, Record(t, 0), &llCond) != 0) return -1;
    if (llCond != 0) return 0;
    const uint32_t nNext = Record(t, 1)->dwExprLen;
    return Jump(t, nNext != 0 ? static_cast<int64_t>(nNext) : static_cast<int64_t>(Record(t, 2)->dwExprLen));
}

int CmdElse(void)
{
    SCRIPT_THREAD* t = g_pCurThread;
    if (!t) return ReportNoThread(CMDID_ELSE);
    const int d = t->nIfDepth;
    if (d <= 0) return ReportOutside(CMDID_ELSE, CMDID_IF);
    if (RecordCount(t) == 0) return 0;   // a plain ELSE
    int64_t llCond = 0;
    if (EvalRecordInt(t, Record(t, 0), &llCond) != 0) return -1;
    if (llCond != 0) return 0;
    const uint32_t nNext = Record(t, 1)->dwExprLen;
    if (nNext != 0) return Jump(t, nNext);
    const IF_BLOCK* b = StackEntry(t->apIf, d - 1);
    return b ? Jump(t, b->nBlockEnd) : -1;
}

int CmdBranchEnd(void)
{
    SCRIPT_THREAD* t = g_pCurThread;
    if (!t) return ReportNoThread(CMDID_BRANCH_END);
    const int d = t->nIfDepth;
    if (d <= 0) return ReportOutside(CMDID_ELSE, CMDID_IF);
    const IF_BLOCK* b = StackEntry(t->apIf, d - 1);
    return b ? Jump(t, b->nBlockEnd) : -1;
}

int CmdEndIf(void)
{
    SCRIPT_THREAD* t = g_pCurThread;
    if (!t) return ReportNoThread(CMDID_END_IF);
    const int d = t->nIfDepth;
    if (d <= 0) return ReportOutside(CMDID_END_IF, CMDID_IF);
    IF_BLOCK* b = StackEntry(t->apIf, d - 1);
    if (!b) return -1;
    b->nBlockEnd = 0;
    t->nIfDepth = static_cast<int8_t>(d - 1);
    return 0;
}

int CmdIfBreak(void)
{
    SCRIPT_THREAD* t = g_pCurThread;
    if (!t) return ReportNoThread(CMDID_IF_BREAK);
    const int n = LevelCount(CMDID_IF_BREAK);
    if (n <= 0) return n;
    const int d = t->nIfDepth;
    if (n > d) return ReportOutside(CMDID_IF_BREAK, CMDID_IF);
    // On to the END-IF of the n-th block, which closes it.
    const IF_BLOCK* b = StackEntry(t->apIf, d - n);
    if (!b || Jump(t, b->nBlockEnd) != 0) return -1;
    t->nIfDepth = static_cast<int8_t>(d - n + 1);
    t->nLoopDepth = static_cast<int8_t>(b->bLoopDepth);
    return 0;
}

int CmdIfRetry(void)
{
    SCRIPT_THREAD* t = g_pCurThread;
    if (!t) return ReportNoThread(CMDID_IF_RETRY);
    const int n = LevelCount(CMDID_IF_RETRY);
    if (n <= 0) return n;
    const int d = t->nIfDepth;
    if (n > d) return ReportOutside(CMDID_IF_RETRY, CMDID_IF);
    // Back to the IF of the n-th block, which pushes its block anew and tests again.
    const IF_BLOCK* b = StackEntry(t->apIf, d - n);
    if (!b || Jump(t, b->nIfCommand) != 0) return -1;
    t->nIfDepth = static_cast<int8_t>(d - n);
    t->nLoopDepth = static_cast<int8_t>(b->bLoopDepth);
    return 0;
}

// ---- loops ---------------------------------------------------------------------------------------

int CmdLoop(void)
{
    SCRIPT_THREAD* t = g_pCurThread;
    if (!t) return ReportNoThread(CMDID_LOOP);
    if (FetchCommandArgs(CMDID_LOOP) != 0) return -1;
    const int e = t->nLoopDepth;
    // Refused before anything is pushed: the table has no entry beyond the limit.
    if (e + 1 >= KX_LOOP_LIMIT) return ReportTooDeep(CMDID_LOOP, KX_LOOP_LIMIT);
    LOOP_FRAME* f = StackEntry(t->apLoop, e);
    if (!f || !StackEntry(t->apLoop, e + 1)) return -1;
    int64_t llCount = 0;
    if (EvalRecordInt(t, Record(t, 0), &llCount) != 0) return -1;
    f->bIfDepth = static_cast<uint8_t>(t->nIfDepth);
    f->nBodyStart = g_nCurCommand + 1;
    f->nLoopEnd = static_cast<int32_t>(Record(t, 1)->dwExprLen);
    f->llPassCounter = 1;
    f->llPassCount = llCount;
    t->nLoopDepth = static_cast<int8_t>(e + 1);
    if (llCount != 0) return 0;
    // No pass: on to the LOOP-END, which closes the loop.
    f->llPassCounter = 0;
    return Jump(t, f->nLoopEnd);
}

int CmdLoopEnd(void)
{
    SCRIPT_THREAD* t = g_pCurThread;
    if (!t) return ReportNoThread(CMDID_LOOP_END);
    const int e = t->nLoopDepth;
    if (e <= 0) {
        ReportScriptError(KX_ERR_FLOW_NO_LOOP, 1);
        return -1;
    }
    LOOP_FRAME* f = StackEntry(t->apLoop, e - 1);
    if (!f) return -1;
    if (f->llPassCount != -1 && f->llPassCounter >= f->llPassCount) {
        t->nLoopDepth = static_cast<int8_t>(e - 1);
        f->llPassCounter = 0;
        f->llPassCount = 0;
        f->nBodyStart = 0;
        return 0;
    }
    if (Jump(t, f->nBodyStart) != 0) return -1;
    f->llPassCounter = AddInt64(f->llPassCounter, 1);
    t->nIfDepth = static_cast<int8_t>(f->bIfDepth);
    return 0;
}

int CmdBreak(void) { return LeaveLoops(CMDID_BREAK, true); }
int CmdContinue(void) { return LeaveLoops(CMDID_CONTINUE, false); }
