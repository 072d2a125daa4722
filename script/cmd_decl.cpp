// Declaration and assignment commands.
#include "script/cmd_decl.h"

#include <cstring>

#include "core/errors.h"
#include "core/kx_math.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/evaluator.h"
#include "script/script_body.h"
#include "core/script_thread.h"
#include "script/system_vars.h"
#include "script/variables.h"

namespace {

enum { KX_ERR_BAD_PC = 900050 };

// The target and the value of a command: one argument record each, with its expression.
struct ARG_EXPR {
    uint8_t bEvalType;
    uint8_t bOperator;
    const uint8_t* pbCode;
    uint32_t nLen;
};

// The texts of a value, and the joined text of an append; kept for the run, so an assignment
// never allocates and never runs out of memory.
char s_szValue[KX_VAR_TEXT_BUFFER];
char s_szJoined[KX_VAR_TEXT_BUFFER];

void ReportDamagedBody(const SCRIPT_THREAD* pThread)
{
    char szName[32];
    FormatText(szName, sizeof szName, "kxbin\\kxt%05d.kbn", pThread ? pThread->wScript : 0);
    ReportScriptErrorF(KX_ERR_FILE_READ, 1, szName);
}

// Records nFirst and nFirst + 1 of the current command. A record the command does not have reads
// as a zeroed record (an empty expression: the number 0 or the empty text). 0, or -1 after 900050
// (no current command) or 104010 (records or expressions outside the body).
int ReadTargetAndValue(ARG_EXPR* pTarget, ARG_EXPR* pValue)
{
    const SCRIPT_THREAD* pThread = g_pCurThread;
    const int32_t nCur = g_nCurCommand;
    const SCRIPT_BODY* pBody = pThread && g_ppScriptBody && pThread->wScript < g_nScripts
                                   ? g_ppScriptBody[pThread->wScript] : nullptr;
    if (!pBody || !pBody->ppFirstArgs || !pBody->pbArgCounts || nCur < 0 || nCur >= pBody->nCommands ||
        pThread->ppFirstArgs != reinterpret_cast<const void* const*>(pBody->ppFirstArgs)) {
        ReportScriptError(KX_ERR_BAD_PC, 1);
        return -1;
    }
    const int n = pBody->pbArgCounts[nCur];
    const ARG_RECORD* pAll = pBody->ppFirstArgs[0];
    const ARG_RECORD* pFirst = pBody->ppFirstArgs[nCur];
    if (n > 0 && (!pAll || !pFirst || pFirst < pAll || static_cast<size_t>(pFirst - pAll) > pBody->nArgRecords ||
                  static_cast<size_t>(n) > pBody->nArgRecords - static_cast<size_t>(pFirst - pAll))) {
        ReportDamagedBody(pThread);
        return -1;
    }
    ARG_EXPR* const apOut[2] = {pTarget, pValue};
    for (int k = 0; k < 2; ++k) {
        ARG_EXPR* p = apOut[k];
        if (k >= n) {
            *p = ARG_EXPR{0, 0, nullptr, 0};
            continue;
        }
        const ARG_RECORD& r = pFirst[k];
        if (r.dwExprOffset > pBody->nExprBytes || r.dwExprLen > pBody->nExprBytes - r.dwExprOffset) {
            ReportDamagedBody(pThread);
            return -1;
        }
        *p = ARG_EXPR{r.bEvalType, r.bOperator, r.dwExprLen ? pBody->pbExpr + r.dwExprOffset : nullptr, r.dwExprLen};
    }
    return 0;
}

// The evaluators by evaluator type, as the evaluator's tables choose them, but with the result of
// the run: 0, or -1 when the expression failed (after its report).
int EvalInt(const ARG_EXPR& a, int64_t* pllOut)
{
    const bool bFloat = g_apfnEvalInt[a.bEvalType] == EvalExprFloatToInt;
    g_nExprMode = bFloat ? KX_EXPR_MODE_FLOAT : KX_EXPR_MODE_INT;
    const int rc = RunExprCode(a.pbCode, a.nLen);
    *pllOut = bFloat ? DoubleToInt64(g_aExprFloat[0]) : g_aExprInt[0];
    return rc;
}

int EvalFloatMode(const uint8_t* pbCode, uint32_t nLen, bool bFloat, double* pdOut)
{
    g_nExprMode = bFloat ? KX_EXPR_MODE_FLOAT : KX_EXPR_MODE_INT;
    const int rc = RunExprCode(pbCode, nLen);
    *pdOut = bFloat ? g_aExprFloat[0] : static_cast<double>(g_aExprInt[0]);
    return rc;
}

int EvalFloat(const ARG_EXPR& a, double* pdOut)
{
    return EvalFloatMode(a.pbCode, a.nLen, g_apfnEvalFloat[a.bEvalType] == EvalExprFloat, pdOut);
}

// The value's text into s_szValue (at most 4095 bytes, cut at a whole character); its length.
int EvalText(const ARG_EXPR& a, size_t* pnLen)
{
    g_nExprMode = g_apfnEvalString[a.bEvalType] == EvalExprStringFloat ? KX_EXPR_MODE_TEXT_FLOAT : KX_EXPR_MODE_TEXT_INT;
    s_szValue[0] = '\0';
    g_pszExprOut = s_szValue;
    g_nExprOutCap = sizeof s_szValue;
    g_nExprOutLen = 0;
    const int rc = RunExprCode(a.pbCode, a.nLen);
    g_pszExprOut = nullptr;
    g_nExprOutCap = 0;
    *pnLen = g_nExprOutLen > 0 ? static_cast<size_t>(g_nExprOutLen) : 0;
    return rc;
}

// A variable that the evaluation left designated: its descriptor, or NULL after 108010 (a number
// outside the variable table) or 900030 (a target without a variable).
VAR_DESC* DesignatedVar(int nVar)
{
    if (nVar < 0) {
        ReportScriptError(KX_ERR_EXPR_BAD_CODE, 1);
        return nullptr;
    }
    VAR_DESC* pVar = GetVarDesc(nVar);
    if (!pVar) ReportScriptError(KX_ERR_EXPR_NO_VARIABLE, 1);
    return pVar;
}

int WrongType(void)
{
    ReportScriptError(KX_ERR_VAR_WRONG_TYPE, 1);
    return -1;
}

// ---- Declarations ----

int Declare(int nCmd, int nType)
{
    if (FetchCommandArgs(nCmd) != 0) return -1;
    ARG_EXPR target, value;
    if (ReadTargetAndValue(&target, &value) != 0) return -1;

    // The target names the variable; the subscripts of its access are the sizes.
    g_nRefVar = -1;
    g_bDeclMode = 1;
    g_nExprMode = KX_EXPR_MODE_INT;
    const int rc = RunExprCode(target.pbCode, target.nLen);
    g_bDeclMode = 0;
    if (rc != 0) return -1;
    VAR_DESC* pVar = DesignatedVar(g_nRefVar);
    if (!pVar) return -1;
    int nDims = g_nSubscriptCount;
    if (nDims < 0) nDims = 0;
    if (nDims > KX_VAR_MAX_DIMS) nDims = KX_VAR_MAX_DIMS;   // the evaluator refuses more
    int32_t anSizes[KX_VAR_MAX_DIMS] = {};
    for (int i = 0; i < nDims; ++i)
        anSizes[i] = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(g_allSubscript[i])));

    // The new shape; put back when the value or the shape is refused, so the dimensions always
    // describe the elements the variable holds.
    const int8_t nOldDims = pVar->nDims;
    int32_t anOldDim[KX_VAR_MAX_DIMS];
    memcpy(anOldDim, pVar->anDim, sizeof anOldDim);
    pVar->nDims = static_cast<int8_t>(nDims);
    memcpy(pVar->anDim, anSizes, sizeof anSizes);

    int r;
    if (nType == KX_VAR_TYPE_INT) {
        int64_t ll;
        r = EvalInt(value, &ll) != 0 ? -1 : InitVarInt(pVar, ll);
    } else if (nType == KX_VAR_TYPE_FLOAT) {
        double d;
        r = EvalFloat(value, &d) != 0 ? -1 : InitVarFloat(pVar, d);
    } else {
        size_t n;
        r = EvalText(value, &n) != 0 ? -1 : InitVarString(pVar, s_szValue, n);
    }
    if (r != 0) {
        pVar->nDims = nOldDims;
        memcpy(pVar->anDim, anOldDim, sizeof anOldDim);
        return -1;
    }
    return 0;
}

// ---- Assignment ----

// Every element of a user variable := the value.
int AssignWhole(VAR_DESC* pVar, const ARG_EXPR& value)
{
    switch (pVar->bType) {
    case KX_VAR_TYPE_INT: {
        int64_t ll;
        if (EvalInt(value, &ll) != 0) return -1;
        return InitVarInt(pVar, ll);
    }
    case KX_VAR_TYPE_FLOAT: {
        double d;
        if (EvalFloat(value, &d) != 0) return -1;
        return InitVarFloat(pVar, d);
    }
    case KX_VAR_TYPE_STRING: {
        size_t n;
        if (EvalText(value, &n) != 0) return -1;
        return InitVarString(pVar, s_szValue, n);
    }
    default:
        return WrongType();
    }
}

// One element of a text variable: "=" or "+=".
int AssignTextElement(VAR_DESC* pVar, int32_t nElem, int nOp, const ARG_EXPR& value)
{
    if (nOp != 0 && nOp != 1) return WrongType();
    size_t nValue;
    if (EvalText(value, &nValue) != 0) return -1;
    if (nElem < 0 || nElem >= pVar->llCount || !pVar->ppszTexts) return 0;
    if (nOp == 0) return WriteVarStringBytes(pVar, nElem, s_szValue, nValue);
    // Append: only a joined text below 4096 bytes is stored.
    const char* pszCur = pVar->ppszTexts[nElem] ? pVar->ppszTexts[nElem] : "";
    const size_t nCur = strlen(pszCur);
    if (nCur >= sizeof s_szJoined || nValue >= sizeof s_szJoined - nCur) return 0;
    memcpy(s_szJoined, pszCur, nCur);
    memcpy(s_szJoined + nCur, s_szValue, nValue);
    return WriteVarStringBytes(pVar, nElem, s_szJoined, nCur + nValue);
}

int AssignUserElement(VAR_DESC* pVar, int64_t llElem, int nOp, const ARG_EXPR& value)
{
    const int32_t nElem = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(llElem)));
    switch (pVar->bType) {
    case KX_VAR_TYPE_INT: {
        int64_t ll;
        if (EvalInt(value, &ll) != 0) return -1;
        g_apfnElemOps[nOp].pfnInt(pVar, nElem, ll);   // outside the variable: left alone
        return 0;
    }
    case KX_VAR_TYPE_FLOAT: {
        double d;
        if (EvalFloatMode(value.pbCode, value.nLen, true, &d) != 0) return -1;
        g_apfnElemOps[KX_ELEM_OPS + nOp].pfnFloat(pVar, nElem, d);
        return 0;
    }
    case KX_VAR_TYPE_STRING:
        return AssignTextElement(pVar, nElem, nOp, value);
    default:
        return WrongType();
    }
}

// One element of a system variable, by the type its descriptor gives (or, without one, the type
// the engine reads it with).
int AssignSystemElement(int nVar, const VAR_DESC* pVar, int64_t llElem, int nOp, const ARG_EXPR& value)
{
    const int nType = pVar->bType != KX_VAR_TYPE_NONE ? pVar->bType : GetSysVarType(nVar);
    switch (nType) {
    case KX_VAR_TYPE_INT: {
        int64_t ll;
        if (EvalInt(value, &ll) != 0) return -1;
        return AssignSysVarInt(nVar, llElem, nOp, ll);
    }
    case KX_VAR_TYPE_FLOAT: {
        double d;
        if (EvalFloat(value, &d) != 0) return -1;
        return AssignSysVarFloat(nVar, llElem, nOp, d);
    }
    case KX_VAR_TYPE_STRING: {
        size_t n;
        if (EvalText(value, &n) != 0) return -1;
        return AssignSysVarString(nVar, llElem, s_szValue, n);
    }
    default:
        ReportScriptError(KX_ERR_SYSVAR_READ_ONLY, 1);
        return -1;
    }
}

}  // namespace

int CmdDeclareInt(void) { return Declare(CMDID_DECLARE_INT, KX_VAR_TYPE_INT); }
int CmdDeclareFloat(void) { return Declare(CMDID_DECLARE_FLOAT, KX_VAR_TYPE_FLOAT); }
int CmdDeclareString(void) { return Declare(CMDID_DECLARE_STRING, KX_VAR_TYPE_STRING); }

int CmdAssign(void)
{
    ARG_EXPR target, value;
    if (ReadTargetAndValue(&target, &value) != 0) return -1;
    if (target.bOperator >= KX_ELEM_OPS) {   // no such operator: the record is damaged
        ReportDamagedBody(g_pCurThread);
        return -1;
    }

    // The target is evaluated for what it designates.
    g_nRefVar = -1;
    g_nRefElem = 0;
    int64_t llIgnored;
    if (EvalInt(target, &llIgnored) != 0) return -1;
    const int nVar = g_nRefVar;
    const int64_t llElem = g_nRefElem;
    const bool bWhole = g_bRefTaken != 0;
    VAR_DESC* pVar = DesignatedVar(nVar);
    if (!pVar) return -1;
    const int nOp = target.bOperator;

    if (nVar >= KX_FIRST_USER_VAR) {
        const int r = bWhole ? AssignWhole(pVar, value) : AssignUserElement(pVar, llElem, nOp, value);
        return r != 0 ? -1 : 0;
    }
    if (bWhole) return 0;
    return AssignSystemElement(nVar, pVar, llElem, nOp, value) != 0 ? -1 : 0;
}
