// The variable utility and query commands.
#include "script/cmd_var_util.h"

#include "script/dispatch.h"

#include <cstdlib>
#include <cstring>

#include "core/cp932.h"
#include "core/errors.h"
#include "core/kx_math.h"
#include "core/kx_texts.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/cp932_convert.h"
#include "script/evaluator.h"
#include "script/script_tables.h"

namespace {

// A designated variable element.
struct VAR_REF {
    int nVar;
    int64_t llElem;
};

// The element an argument designates; variable 0, element 0 when the argument is absent.
VAR_REF Designation(int nArgId)
{
    const int s = ArgSlot(nArgId);
    if (!s) return VAR_REF{0, 0};
    return VAR_REF{g_anArgVar[s], g_anArgElem[s]};
}

int TypeOf(int nVar)
{
    const VAR_DESC* p = GetVarDesc(nVar);
    return p ? static_cast<int>(p->bType) : static_cast<int>(KX_VAR_TYPE_NONE);
}

bool IsNumberType(int nType) { return nType == KX_VAR_TYPE_INT || nType == KX_VAR_TYPE_FLOAT; }

int Fail(int nId)
{
    ReportScriptError(nId, 1);
    return -1;
}

int FailNoMemory(void) { return Fail(KX_ERR_NO_MEMORY); }

// The refused array operations: a plain message box; nothing changes and the turn ends.
int Refuse(int nTextId)
{
    ShowMessageBox("", "%s", GetEngineText(nTextId));
    return -1;
}

// A's text for a text operation: A must be a text variable, and B, when given, too (else 108220).
// NULL after the report.
const char* TextOperands(VAR_REF a, VAR_REF b, bool bCheckTarget)
{
    if (TypeOf(a.nVar) != KX_VAR_TYPE_STRING || (bCheckTarget && TypeOf(b.nVar) != KX_VAR_TYPE_STRING)) {
        Fail(KX_ERR_VU_NOT_TEXT);
        return nullptr;
    }
    const char* psz = GetVarString(a.nVar, a.llElem);
    return psz ? psz : "";
}

// ---- conversion ----

int ConvertNumberText(VAR_REF a, VAR_REF b)
{
    const int nTypeA = TypeOf(a.nVar);
    if (nTypeA == KX_VAR_TYPE_NONE) return 0;
    const int nTypeB = TypeOf(b.nVar);
    const bool bPair = (IsNumberType(nTypeA) && nTypeB == KX_VAR_TYPE_STRING) ||
                       (nTypeA == KX_VAR_TYPE_STRING && IsNumberType(nTypeB));
    if (!bPair) return Fail(KX_ERR_VU_CONVERT_TYPES);

    if (nTypeA == KX_VAR_TYPE_INT || nTypeA == KX_VAR_TYPE_FLOAT) {
        char szText[512];
        if (nTypeA == KX_VAR_TYPE_INT) FormatInt64(szText, sizeof szText, GetVarInt(a.nVar, a.llElem));
        else FormatDouble(szText, sizeof szText, GetVarFloat(a.nVar, a.llElem));
        return SetVarString(b.nVar, b.llElem, szText);
    }
    const char* psz = GetVarString(a.nVar, a.llElem);
    int64_t llValue = 0;
    double dValue = 0.0;
    switch (ReadNumberText(psz ? psz : "", &llValue, &dValue)) {
    case KX_NUMTEXT_INT: return SetVarInt(b.nVar, b.llElem, llValue);
    case KX_NUMTEXT_FLOAT: return SetVarFloat(b.nVar, b.llElem, dValue);
    case KX_NUMTEXT_NOT_NUMBER: return Fail(KX_ERR_VU_NOT_NUMBER);
    default: return -1;   // a hexadecimal text without digits or with too many: no message
    }
}

// ---- extract and remove ----

int ExtractOrRemove(VAR_REF a, VAR_REF b, bool bRemove)
{
    const bool bHasTarget = HasArg(KX_VU_TARGET);
    const char* psz = TextOperands(a, b, bHasTarget);
    if (!psz) return -1;
    const VAR_REF out = bHasTarget ? b : a;
    const int64_t llFirst = HasArg(KX_VU_FIRST) ? ArgInt(KX_VU_FIRST) : 0;
    const int64_t llCount = HasArg(KX_VU_COUNT) ? ArgInt(KX_VU_COUNT) : 0;
    size_t nStart = 0, nEnd = 0;
    switch (FindCharRange(psz, llFirst, llCount, &nStart, &nEnd)) {
    case 1: return Fail(bRemove ? KX_ERR_VU_REMOVE_FIRST : KX_ERR_VU_EXTRACT_FIRST);
    case 2: return Fail(bRemove ? KX_ERR_VU_REMOVE_RANGE : KX_ERR_VU_EXTRACT_RANGE);
    default: break;
    }
    if (!bRemove) return SetVarStringBytes(out.nVar, out.llElem, psz + nStart, nEnd - nStart);   // may alias A: the store copies safely

    // The text without the range; variable texts may be longer than any fixed buffer.
    const size_t nLen = std::strlen(psz);
    const size_t nNew = nLen - (nEnd - nStart);
    char* p = static_cast<char*>(std::malloc(nNew + 1));
    if (!p) return FailNoMemory();
    std::memcpy(p, psz, nStart);
    std::memcpy(p + nStart, psz + nEnd, nLen - nEnd);
    p[nNew] = '\0';
    const int nResult = SetVarStringBytes(out.nVar, out.llElem, p, nNew);
    std::free(p);
    return nResult;
}

// ---- width and case ----

char s_szWidth[KX_VAR_TEXT_BUFFER];

int ConvertWidth(VAR_REF a, VAR_REF b, bool bFull)
{
    const char* psz = TextOperands(a, b, HasArg(KX_VU_TARGET));
    if (!psz) return -1;
    const size_t n = bFull ? ToFullWidthCp932(s_szWidth, sizeof s_szWidth, psz)
                           : ToHalfWidthCp932(s_szWidth, sizeof s_szWidth, psz);
    return SetVarStringBytes(b.nVar, b.llElem, s_szWidth, n);
}

// A's text into B, converted (the conversion runs on a copy, so a system variable as target gets
// the converted text too).
int ConvertCase(VAR_REF a, VAR_REF b, void (*pfnConvert)(char*))
{
    const char* psz = TextOperands(a, b, HasArg(KX_VU_TARGET));
    if (!psz) return -1;
    const size_t nLen = std::strlen(psz);
    char* p = static_cast<char*>(std::malloc(nLen + 1));
    if (!p) return FailNoMemory();
    std::memcpy(p, psz, nLen + 1);
    pfnConvert(p);
    const int nResult = SetVarStringBytes(b.nVar, b.llElem, p, nLen);
    std::free(p);
    return nResult;
}

void UpperAscii(char* psz) { UpperCaseAscii(psz); }
void LowerAscii(char* psz) { LowerCaseASCII(psz); }

// ---- arrays ----

// A's variable when it is a one-dimensional array; otherwise the message and NULL.
VAR_DESC* OneDimensional(VAR_REF a, int nTextId)
{
    VAR_DESC* p = GetVarDesc(a.nVar);
    if (!p || p->nDims != 1) {
        Refuse(nTextId);
        return nullptr;
    }
    return p;
}

int ResizeByArg(VAR_REF a)
{
    VAR_DESC* p = OneDimensional(a, TXT_VAR_RESIZE_NOT_1D);
    if (!p) return -1;
    return ResizeVarArrayChecked(p, ApplyArgOp(ArgOp(KX_VU_RESIZE), p->anDim[0], ArgInt(KX_VU_RESIZE)));
}

int ResetByArgs(void)
{
    int64_t allMask[3] = {0, 0, 0};
    for (int nGroup = 0; nGroup < 3; ++nGroup)
        for (int nClass = 0; nClass < 4; ++nClass)
            if (HasArg(KX_VU_RESET_INT + 4 * nGroup + nClass)) allMask[nGroup] |= int64_t{1} << nClass;
    return ResetGlobalVars(-1, allMask[0], allMask[1], allMask[2]);
}

// ---- queries ----

const char* CommandArgName(int nCmd, int nArgId)
{
    if (!g_appszArgName || !g_pbArgCount || nCmd < 0 || nCmd >= g_nCommands || nArgId < 0 ||
        nArgId >= g_pbArgCount[nCmd] || !g_appszArgName[nCmd] || !g_appszArgName[nCmd][nArgId])
        return "";
    return g_appszArgName[nCmd][nArgId];
}
const char* CommandNameOf(int nCmd) { return GetScriptCommandName(nCmd); }

// Elements the searches walk: those of dimension 0 (all of a variable without dimensions),
// never more than the variable has.
int64_t SearchSize(const VAR_DESC* p)
{
    if (p->nDims < 1) return p->llCount;
    return p->anDim[0] < p->llCount ? p->anDim[0] : p->llCount;
}

// One element's text: the array itself for a user variable, the engine's text for a system one.
inline const char* ElemText(int nVar, const VAR_DESC* p, int64_t i)
{
    if (nVar >= KX_FIRST_USER_VAR) return p->ppszTexts[i];
    const char* psz = GetVarString(nVar, i);
    return psz ? psz : "";
}

// The first index from llFrom whose element equals the search value, or -1; a first index beyond
// the size is itself the answer.
int64_t SearchArray(int nVar)
{
    const VAR_DESC* p = GetVarDesc(nVar);
    if (!p) return -1;
    int64_t i = HasArg(KX_VQ_FROM) ? ArgInt(KX_VQ_FROM) : 0;
    if (i < 0) i = 0;
    const int64_t n = SearchSize(p);
    const bool bUser = nVar >= KX_FIRST_USER_VAR;
    switch (p->bType) {
    case KX_VAR_TYPE_INT: {
        const int64_t v = HasArg(KX_VQ_FIND_INT) ? ArgInt(KX_VQ_FIND_INT) : 0;
        for (; i < n; ++i)
            if ((bUser ? p->pllValues[i] : GetVarInt(nVar, i)) == v) return i;
        break;
    }
    case KX_VAR_TYPE_FLOAT: {
        const double v = static_cast<double>(HasArg(KX_VQ_FIND_FLOAT) ? ArgInt(KX_VQ_FIND_FLOAT) : 0);
        for (; i < n; ++i)
            if ((bUser ? p->pdValues[i] : GetVarFloat(nVar, i)) == v) return i;
        break;
    }
    case KX_VAR_TYPE_STRING: {
        const char* v = ArgText(KX_VQ_FIND_TEXT);
        for (; i < n; ++i)
            if (std::strcmp(ElemText(nVar, p, i), v) == 0) return i;
        break;
    }
    default:
        return -1;
    }
    return i > n ? i : -1;
}

// Index of the smallest text from the first index through the last (the first of equal texts).
int SmallestText(VAR_REF a, int64_t* pllIndex)
{
    const VAR_DESC* p = GetVarDesc(a.nVar);
    if (!p || p->bType != KX_VAR_TYPE_STRING) return Fail(KX_ERR_VU_NOT_TEXT);
    const int64_t n = SearchSize(p);
    int64_t llFirst = HasArg(KX_VQ_FROM) ? ArgInt(KX_VQ_FROM) : 0;
    if (llFirst < 0) llFirst = 0;
    int64_t llLast = HasArg(KX_VQ_TO) ? ArgInt(KX_VQ_TO) : n - 1;
    if (llLast > n - 1) llLast = n - 1;
    int64_t llBest = llFirst;
    for (int64_t i = llFirst + 1; i <= llLast; ++i)
        if (std::strcmp(ElemText(a.nVar, p, i), ElemText(a.nVar, p, llBest)) < 0) llBest = i;
    *pllIndex = llBest;
    return 0;
}

// The single answers of arguments 2..12: 0 with the value, or -1 after a report.
int SingleAnswer(int nId, VAR_REF a, int64_t* pll)
{
    const VAR_DESC* p = GetVarDesc(a.nVar);
    if (nId == KX_VQ_TYPE) {
        *pll = p ? p->bType : 0;
        return 0;
    }
    if (nId == KX_VQ_FIRST_WIDTH) {
        if (!p || p->bType != KX_VAR_TYPE_STRING) return Fail(KX_ERR_VU_NOT_TEXT);
        const char* psz = GetVarString(a.nVar, a.llElem);
        if (!psz || !*psz) {
            ReportScriptErrorF(KX_ERR_VQ_EMPTY_TEXT, 1, CommandNameOf(CMDID_VAR_QUERY),
                               CommandArgName(CMDID_VAR_QUERY, KX_VQ_FIRST_WIDTH));
            return -1;
        }
        *pll = CharLenCp932(psz);
        return 0;
    }
    if (nId == KX_VQ_DIMS) {
        *pll = p ? p->nDims : 0;
        return 0;
    }
    const int k = nId - KX_VQ_DIM_SIZE;   // 0..7
    *pll = p && k < p->nDims ? p->anDim[k] : 0;
    return 0;
}

}  // namespace

// ---- pieces ----

int FindCharRange(const char* psz, int64_t llFirst, int64_t llCount, size_t* pnStart, size_t* pnEnd)
{
    const char* p = psz;
    for (int64_t k = 1; k < llFirst && *p; ++k) p = NextCharCp932(p);
    if (!*p) return 1;
    const char* q = p;
    for (int64_t k = 0; k < llCount; ++k) {
        if (!*q) return 2;
        q = NextCharCp932(q);
    }
    *pnStart = static_cast<size_t>(p - psz);
    *pnEnd = static_cast<size_t>(q - psz);
    return 0;
}

int64_t CountCharsCp932(const char* psz)
{
    int64_t n = 0;
    for (const char* p = psz; *p; p = NextCharCp932(p)) ++n;
    return n;
}

void InsertVarElement(VAR_DESC* pVar, int64_t llPos)
{
    const int64_t n = pVar->llCount;
    if (llPos < 0 || n < 1) return;
    if (llPos > n - 1) llPos = n - 1;
    const size_t nMove = static_cast<size_t>(n - 1 - llPos);
    switch (pVar->bType) {
    case KX_VAR_TYPE_INT:
        std::memmove(pVar->pllValues + llPos + 1, pVar->pllValues + llPos, nMove * sizeof(int64_t));
        pVar->pllValues[llPos] = 0;
        break;
    case KX_VAR_TYPE_FLOAT:
        std::memmove(pVar->pdValues + llPos + 1, pVar->pdValues + llPos, nMove * sizeof(double));
        pVar->pdValues[llPos] = 0.0;
        break;
    case KX_VAR_TYPE_STRING: {
        // The last element's buffer is the one lost: it moves to the position, emptied.
        char* pszLast = pVar->ppszTexts[n - 1];
        const uint16_t wCap = pVar->pwTextCap[n - 1];
        std::memmove(pVar->ppszTexts + llPos + 1, pVar->ppszTexts + llPos, nMove * sizeof(char*));
        std::memmove(pVar->pwTextCap + llPos + 1, pVar->pwTextCap + llPos, nMove * sizeof(uint16_t));
        pVar->ppszTexts[llPos] = pszLast;
        pVar->pwTextCap[llPos] = wCap;
        pszLast[0] = '\0';
        break;
    }
    default:
        break;
    }
}

void DeleteVarElement(VAR_DESC* pVar, int64_t llPos)
{
    const int64_t n = pVar->llCount;
    if (llPos < 0 || llPos > n - 1) return;
    const size_t nMove = static_cast<size_t>(n - 1 - llPos);
    switch (pVar->bType) {
    case KX_VAR_TYPE_INT:
        std::memmove(pVar->pllValues + llPos, pVar->pllValues + llPos + 1, nMove * sizeof(int64_t));
        pVar->pllValues[n - 1] = 0;
        break;
    case KX_VAR_TYPE_FLOAT:
        std::memmove(pVar->pdValues + llPos, pVar->pdValues + llPos + 1, nMove * sizeof(double));
        pVar->pdValues[n - 1] = 0.0;
        break;
    case KX_VAR_TYPE_STRING: {
        // The deleted element's buffer moves to the end, emptied.
        char* pszGone = pVar->ppszTexts[llPos];
        const uint16_t wCap = pVar->pwTextCap[llPos];
        std::memmove(pVar->ppszTexts + llPos, pVar->ppszTexts + llPos + 1, nMove * sizeof(char*));
        std::memmove(pVar->pwTextCap + llPos, pVar->pwTextCap + llPos + 1, nMove * sizeof(uint16_t));
        pVar->ppszTexts[n - 1] = pszGone;
        pVar->pwTextCap[n - 1] = wCap;
        pszGone[0] = '\0';
        break;
    }
    default:
        break;
    }
}

int ResizeVarArrayChecked(VAR_DESC* pVar, int64_t llNewSize)
{
    if (llNewSize < 1) return Refuse(TXT_VAR_RESIZE_BAD_SIZE);
    if (llNewSize > KX_VAR_MAX_ELEMENTS) {
        ReportScriptErrorF(KX_ERR_VAR_TOO_MANY_ELEMENTS, 1, static_cast<int>(KX_VAR_MAX_ELEMENTS));
        return -1;
    }
    if (pVar->nDims == 1 && llNewSize == pVar->anDim[0]) return 0;
    return ResizeVarArray(pVar, static_cast<int32_t>(llNewSize));
}

// ---- the commands ----

int CmdVarUtil(void)
{
    if (FetchCommandArgs(CMDID_VAR_UTIL) != 0) return -1;
    const VAR_REF a = Designation(KX_VU_SOURCE);
    const VAR_REF b = Designation(KX_VU_TARGET);

    if (HasArg(KX_VU_CONVERT)) return ConvertNumberText(a, b);
    if (HasArg(KX_VU_EXTRACT)) return ExtractOrRemove(a, b, false);
    if (HasArg(KX_VU_REMOVE)) return ExtractOrRemove(a, b, true);

    if (HasArg(KX_VU_FULL_WIDTH) && ConvertWidth(a, b, true) != 0) return -1;
    if (HasArg(KX_VU_HALF_WIDTH) && ConvertWidth(a, b, false) != 0) return -1;
    if (HasArg(KX_VU_UPPER_ASCII) && ConvertCase(a, b, UpperAscii) != 0) return -1;
    if (HasArg(KX_VU_UPPER_CP932) && ConvertCase(a, b, UpperCaseCp932) != 0) return -1;
    if (HasArg(KX_VU_LOWER_ASCII) && ConvertCase(a, b, LowerAscii) != 0) return -1;
    if (HasArg(KX_VU_LOWER_CP932) && ConvertCase(a, b, LowerCaseCp932) != 0) return -1;
    if (HasArg(KX_VU_RESIZE) && ResizeByArg(a) != 0) return -1;
    if (HasArg(KX_VU_INSERT)) {
        VAR_DESC* p = OneDimensional(a, TXT_VAR_INSERT_NOT_1D);
        if (!p) return -1;
        InsertVarElement(p, ArgInt(KX_VU_INSERT));
    }
    if (HasArg(KX_VU_DELETE)) {
        VAR_DESC* p = OneDimensional(a, TXT_VAR_DELETE_NOT_1D);
        if (!p) return -1;
        DeleteVarElement(p, ArgInt(KX_VU_DELETE));
    }
    if (HasArg(KX_VU_RESET) && ResetByArgs() != 0) return -1;
    return 0;
}

int CmdVarQuery(void)
{
    if (FetchCommandArgs(CMDID_VAR_QUERY) != 0) return -1;
    const VAR_REF a = Designation(KX_VQ_SOURCE);
    // A missing target (absent, or a literal in its place) gets no answer; the checks still run.
    const ARG_OUT out = GetArgOut(KX_VQ_TARGET);
    const VAR_REF b{out.nVar, out.llElem};
    const auto Answer = [&out](int64_t ll) { return out.nVar ? SetVarInt(out.nVar, out.llElem, ll) : 0; };

    for (int nId = KX_VQ_TYPE; nId < KX_VQ_CHARS; ++nId) {
        if (!HasArg(nId)) continue;
        int64_t ll = 0;
        if (SingleAnswer(nId, a, &ll) != 0) return -1;
        return Answer(ll);
    }
    if (HasArg(KX_VQ_CHARS)) {
        const char* psz = TextOperands(a, b, false);
        if (!psz || Answer(CountCharsCp932(psz)) != 0) return -1;
    }
    if (HasArg(KX_VQ_SEARCH) && Answer(SearchArray(a.nVar)) != 0) return -1;
    if (HasArg(KX_VQ_SMALLEST)) {
        int64_t ll = 0;
        if (SmallestText(a, &ll) != 0 || Answer(ll) != 0) return -1;
    }
    if (HasArg(KX_VQ_FIRST_CODE)) {
        const char* psz = TextOperands(a, b, false);
        if (!psz) return -1;
        const unsigned char c0 = static_cast<unsigned char>(psz[0]);
        const int64_t ll = CharLenCp932(psz) == 2 ? c0 * 256 + static_cast<unsigned char>(psz[1]) : c0;
        if (Answer(ll) != 0) return -1;
    }
    return 0;
}
