// The expression evaluator: a table-driven walk over postfix byte code with a fixed value stack
// and a fixed pool of text buffers, so an evaluation never allocates.
#include "script/evaluator.h"

#include <cmath>
#include <cstring>
#include <type_traits>

#include "core/cp932.h"
#include "core/engine_hooks.h"
#include "core/errors.h"
#include "core/kx_math.h"
#include "script/variables.h"

int64_t g_aExprInt[KX_EXPR_STACK];
double g_aExprFloat[KX_EXPR_STACK];
uint16_t g_anExprStr[KX_EXPR_STACK];
uint16_t g_nExprSp = 0;

char g_apszStrPool[KX_EXPR_POOL][KX_EXPR_TEXT_BUFFER];
uint16_t g_anStrPoolLen[KX_EXPR_POOL];
uint16_t g_nStrPoolNext = 1;

int g_nExprMode = KX_EXPR_MODE_INT;

uint16_t g_anOpenPos[KX_EXPR_MAX_DEPTH];
uint16_t g_anOpenVar[KX_EXPR_MAX_DEPTH];
uint8_t g_anOpenPrefix[KX_EXPR_MAX_DEPTH];
int g_nSubscriptDepth = 0;
int64_t g_allSubscript[KX_EXPR_MAX_SUBSCRIPTS];
int g_nSubscriptCount = 0;

int32_t g_nRefVar = 0;
int64_t g_nRefElem = 0;
uint8_t g_nRefPrefix = 0;
uint8_t g_bRefTaken = 0;

char* g_pszExprOut = nullptr;
size_t g_nExprOutCap = 0;
int g_nExprOutLen = 0;

uint8_t g_bDeclMode = 0;
uint8_t g_bNotConstant = 0;

EXPR_OP_FN g_apfnExprOps[256];
EVAL_INT_FN g_apfnEvalInt[256];
EVAL_FLOAT_FN g_apfnEvalFloat[256];
EVAL_STRING_FN g_apfnEvalString[256];

namespace {

// System variables whose first subscript is a reference value.
enum { SYSVAR_INDIRECT_INT = 50, SYSVAR_INDIRECT_FLOAT = 51, SYSVAR_INDIRECT_TEXT = 52, SYSVAR_REF_TYPE = 70 };

// Integer arithmetic in modes 1 and 3 and inside array subscripts; floating arithmetic otherwise.
inline bool IsIntArith()
{
    return g_nExprMode == KX_EXPR_MODE_INT || g_nExprMode == KX_EXPR_MODE_TEXT_INT || g_nSubscriptDepth > 0;
}

int Fail(int nId)
{
    ReportScriptError(nId, 1);
    return -1;
}

// Truncated or damaged byte code, or a limit of the stack, the pool or the nesting reached.
int BadCode(void) { return Fail(KX_ERR_EXPR_BAD_CODE); }

inline void StoreInt(int i, int64_t v)
{
    g_aExprInt[i] = v;
    g_anExprStr[i] = 0;
}

inline void StoreFloat(int i, double d)
{
    g_aExprFloat[i] = d;
    g_anExprStr[i] = 0;
}

// A number into slot i in the column of the arithmetic given.
inline void StoreIntValue(int i, int64_t v, bool bInt)
{
    if (bInt) StoreInt(i, v);
    else StoreFloat(i, static_cast<double>(v));
}

inline void StoreFloatValue(int i, double d, bool bInt)
{
    if (bInt) StoreInt(i, DoubleToInt64(d));
    else StoreFloat(i, d);
}

inline void StoreText(int i, uint16_t w)
{
    g_anExprStr[i] = w;
    g_aExprInt[i] = 0;
    g_aExprFloat[i] = 0.0;
}

// The next text buffer, or 0 after the report when all 1023 are in use.
uint16_t NewText(void)
{
    if (g_nStrPoolNext >= KX_EXPR_POOL) {
        BadCode();
        return 0;
    }
    return g_nStrPoolNext++;
}

// A text of a variable or of the engine into a new buffer, cut at 4095 bytes on a character.
int StoreCopiedText(int i, const char* psz)
{
    const uint16_t w = NewText();
    if (!w) return -1;
    g_anStrPoolLen[w] = static_cast<uint16_t>(CopyTextBounded(g_apszStrPool[w], KX_EXPR_TEXT_BUFFER, psz ? psz : ""));
    StoreText(i, w);
    return 0;
}

inline uint8_t PrefixOf(uint8_t c)
{
    if (c == 0x60) return KX_EXPR_PREFIX_BACKQUOTE;
    if (c == '#') return KX_EXPR_PREFIX_HASH;
    return KX_EXPR_PREFIX_NONE;
}

inline int64_t ReferenceValue(int nVar, int64_t llElem)
{
    return static_cast<int64_t>((static_cast<uint64_t>(nVar) << 32) + static_cast<uint64_t>(llElem));
}

// Writes the value of one variable element into slot i: its content, or with a prefix its
// reference value. A variable of no type gives the number 0.
int LoadElement(int i, int nVar, int64_t llElem, uint8_t bPrefix, bool bInt)
{
    const VAR_DESC* pVar = GetVarDesc(nVar);
    const int nType = pVar ? static_cast<int>(pVar->bType) : static_cast<int>(KX_VAR_TYPE_NONE);
    if (nVar < KX_FIRST_USER_VAR) {
        // The engine computes system variables; the reader checks the element itself.
        if (bPrefix) {
            StoreIntValue(i, 0, bInt);
            return 0;
        }
        switch (nType) {
        case KX_VAR_TYPE_INT:
            StoreIntValue(i, g_SysVarHooks.pfnReadInt ? g_SysVarHooks.pfnReadInt(nVar, llElem) : 0, bInt);
            return 0;
        case KX_VAR_TYPE_FLOAT:
            StoreFloatValue(i, g_SysVarHooks.pfnReadFloat ? g_SysVarHooks.pfnReadFloat(nVar, llElem) : 0.0, bInt);
            return 0;
        case KX_VAR_TYPE_STRING: {
            const uint16_t w = NewText();
            if (!w) return -1;
            char* psz = g_apszStrPool[w];
            psz[0] = '\0';
            if (g_SysVarHooks.pfnReadString)
                g_SysVarHooks.pfnReadString(nVar, psz, llElem);
            psz[KX_EXPR_TEXT_BUFFER - 1] = '\0';
            g_anStrPoolLen[w] = static_cast<uint16_t>(strlen(psz));
            StoreText(i, w);
            return 0;
        }
        default:
            StoreIntValue(i, 0, bInt);
            return 0;
        }
    }
    if (bPrefix) {
        StoreIntValue(i, ReferenceValue(nVar, llElem), bInt);
        return 0;
    }
    if (!pVar || llElem < 0 || llElem >= pVar->llCount) {
        StoreIntValue(i, 0, bInt);
        return 0;
    }
    switch (nType) {
    case KX_VAR_TYPE_INT:
        StoreIntValue(i, pVar->pllValues ? pVar->pllValues[llElem] : 0, bInt);
        return 0;
    case KX_VAR_TYPE_FLOAT:
        StoreFloatValue(i, pVar->pdValues ? pVar->pdValues[llElem] : 0.0, bInt);
        return 0;
    case KX_VAR_TYPE_STRING:
        return StoreCopiedText(i, pVar->ppszTexts ? pVar->ppszTexts[llElem] : "");
    default:
        StoreIntValue(i, 0, bInt);
        return 0;
    }
}

// Combines the checked subscripts sub[first..first+nDims) of a variable into its row-major element
// index (last subscript fastest). Missing subscripts count as 0; each is compared as an unsigned
// 32-bit value with its dimension size. -1 after error 107010.
int64_t CombineSubscripts(const VAR_DESC* pVar, int nFirst, int nCount)
{
    const int nDims = pVar->nDims < 0 ? 0 : (pVar->nDims > KX_VAR_MAX_DIMS ? static_cast<int>(KX_VAR_MAX_DIMS) : static_cast<int>(pVar->nDims));
    uint64_t llIndex = 0;
    for (int k = 0; k < nDims; ++k) {
        const int nSub = nFirst + k;
        const uint32_t s = static_cast<uint32_t>(nSub < nCount ? g_allSubscript[nSub] : 0);
        const int32_t nSize = pVar->anDim[k];
        if (nSize <= 0 || s >= static_cast<uint32_t>(nSize)) {
            Fail(KX_ERR_EXPR_SUBSCRIPT_RANGE);
            return -1;
        }
        llIndex = llIndex * static_cast<uint32_t>(nSize) + s;
    }
    return static_cast<int64_t>(llIndex);
}

// The element that an access to the indirect system variables 50, 51, 52 and 70 designates; the
// first subscript is a reference value R (variable T in its high 32 bits). R alone is the element;
// R and one more subscript address T's elements flat (unchecked unless T is a one-dimensional array
// that R lies inside); R and two or more subscripts are T's coordinates, one per dimension, each
// checked against its size. -1 after an error.
int ResolveIndirectElement(int nCount, int64_t* pllElem)
{
    const int64_t llRef = nCount > 0 ? g_allSubscript[0] : 0;
    if (nCount <= 1) {
        *pllElem = llRef;
        return 0;
    }
    const uint64_t nTarget = static_cast<uint64_t>(llRef) >> 32;
    const uint32_t nPart = static_cast<uint32_t>(llRef);
    const VAR_DESC* pTarget = nTarget < static_cast<uint64_t>(INT32_MAX) ? GetVarDesc(static_cast<int>(nTarget)) : nullptr;
    if (!pTarget)
        return Fail(KX_ERR_EXPR_SUBSCRIPT_RANGE);
    if (nCount == 2 &&
        (pTarget->nDims != 1 || pTarget->anDim[0] <= 0 || nPart >= static_cast<uint32_t>(pTarget->anDim[0]))) {
        *pllElem = static_cast<int64_t>((nTarget << 32) + static_cast<uint64_t>(g_allSubscript[1]));
        return 0;
    }
    if (nCount - 1 != pTarget->nDims)
        return Fail(KX_ERR_EXPR_SUBSCRIPT_COUNT);
    const int64_t llIndex = CombineSubscripts(pTarget, 1, nCount);
    if (llIndex < 0) return -1;
    *pllElem = static_cast<int64_t>((nTarget << 32) + static_cast<uint64_t>(llIndex));
    return 0;
}

// ---- Opcode handlers ----

int OpInvalid(const uint8_t*, uint32_t) { return BadCode(); }
int OpNop(const uint8_t*, uint32_t) { return 0; }

// Constant mode: an expression that reads a variable is not constant.
int OpRejectVar(const uint8_t*, uint32_t)
{
    g_bNotConstant = 1;
    return -1;
}

// 'M': quote, text, the same quote. Escapes: \\ \n \t, \quote ends the literal, \x gives x; a
// lead byte takes its trail byte along. The literal must close within the payload and its text
// must fit a buffer; a NUL byte ends the text.
int OpText(const uint8_t* p, uint32_t n)
{
    if (n < 2 || g_nExprSp >= KX_EXPR_STACK) return BadCode();
    const uint16_t w = NewText();
    if (!w) return -1;
    char* pszDst = g_apszStrPool[w];
    const uint8_t bQuote = p[0];
    size_t nOut = 0;
    bool bClosed = false, bEnded = false;
    uint32_t i = 1;
    while (i < n) {
        uint8_t c = p[i++];
        if (c == bQuote) { bClosed = true; break; }
        if (c == '\\') {
            if (i >= n) break;
            c = p[i++];
            if (c == bQuote) { bClosed = true; break; }
            if (c == 'n') c = '\n';
            else if (c == 't') c = '\t';
        }
        uint8_t ab[2] = {c, 0};
        size_t nChar = 1;
        if (IsLeadByte(c)) {
            if (i >= n) break;
            ab[1] = p[i++];
            nChar = 2;
        }
        if (bEnded) continue;
        if (ab[0] == 0 || (nChar == 2 && ab[1] == 0)) { bEnded = true; continue; }
        if (nOut + nChar > KX_EXPR_TEXT_BUFFER - 1) return BadCode();
        memcpy(pszDst + nOut, ab, nChar);
        nOut += nChar;
    }
    if (!bClosed) return BadCode();
    pszDst[nOut] = '\0';
    g_anStrPoolLen[w] = static_cast<uint16_t>(nOut);
    StoreText(g_nExprSp++, w);
    return 0;
}

// Reads the payload of a variable token and records it as the designation.
inline int TakeVarToken(const uint8_t* p, uint32_t n, int* pnVar, uint8_t* pbPrefix)
{
    if (n < 3) return BadCode();
    *pbPrefix = PrefixOf(p[0]);
    *pnVar = p[1] | (p[2] << 8);
    g_nRefPrefix = *pbPrefix;
    g_nRefVar = *pnVar;
    g_nRefElem = 0;
    return 0;
}

// 'H': element 0 of a variable (in declaration mode at depth 0 only recorded).
int OpVar(const uint8_t* p, uint32_t n)
{
    int nVar;
    uint8_t bPrefix;
    if (TakeVarToken(p, n, &nVar, &bPrefix)) return -1;
    if (!GetVarDesc(nVar)) return Fail(KX_ERR_EXPR_NO_VARIABLE);
    if (g_bDeclMode && g_nSubscriptDepth == 0) return 0;
    if (g_nExprSp >= KX_EXPR_STACK) return BadCode();
    if (LoadElement(g_nExprSp, nVar, 0, bPrefix, IsIntArith())) return -1;
    ++g_nExprSp;
    return 0;
}

// 'V': opens an array access; a placeholder slot takes the element's value at ')'.
int OpOpen(const uint8_t* p, uint32_t n)
{
    int nVar;
    uint8_t bPrefix;
    if (TakeVarToken(p, n, &nVar, &bPrefix)) return -1;
    if (!GetVarDesc(nVar)) return Fail(KX_ERR_EXPR_NO_VARIABLE);
    if (g_nSubscriptDepth >= KX_EXPR_MAX_DEPTH || g_nExprSp >= KX_EXPR_STACK) return BadCode();
    const int d = g_nSubscriptDepth;
    g_anOpenPos[d] = g_nExprSp;
    g_anOpenVar[d] = static_cast<uint16_t>(nVar);
    g_anOpenPrefix[d] = bPrefix;
    g_aExprInt[g_nExprSp] = 0;
    g_aExprFloat[g_nExprSp] = 0.0;
    g_anExprStr[g_nExprSp] = 0;
    ++g_nExprSp;
    ++g_nSubscriptDepth;
    return 0;
}

// 'v': the whole variable as a reference (for commands that take a variable).
int OpVarRef(const uint8_t* p, uint32_t n)
{
    int nVar;
    uint8_t bPrefix;
    if (TakeVarToken(p, n, &nVar, &bPrefix)) return -1;
    if (!GetVarDesc(nVar)) return Fail(KX_ERR_EXPR_NO_VARIABLE);
    g_bRefTaken = 1;
    if (g_nExprSp >= KX_EXPR_STACK) return BadCode();
    StoreIntValue(g_nExprSp++, 0, IsIntArith());
    return 0;
}

// ')': closes the innermost array access: the subscripts above the placeholder give the element,
// whose value replaces the placeholder.
int OpClose(const uint8_t*, uint32_t)
{
    if (g_nSubscriptDepth <= 0) return BadCode();
    const int d = --g_nSubscriptDepth;
    const int nPos = g_anOpenPos[d];
    if (g_nExprSp <= nPos) return BadCode();
    const int nCount = g_nExprSp - nPos - 1;
    if (nCount > KX_EXPR_MAX_SUBSCRIPTS) return BadCode();
    for (int k = 0; k < nCount; ++k) {
        if (g_anExprStr[nPos + 1 + k]) return Fail(KX_ERR_EXPR_TEXT_OPERAND);
        g_allSubscript[k] = g_aExprInt[nPos + 1 + k];
    }
    for (int k = nCount; k < KX_EXPR_MAX_SUBSCRIPTS; ++k)
        g_allSubscript[k] = 0;
    g_nSubscriptCount = nCount;
    const int nVar = g_anOpenVar[d];
    const uint8_t bPrefix = g_anOpenPrefix[d];
    g_nRefVar = nVar;
    g_nRefPrefix = bPrefix;
    g_nExprSp = static_cast<uint16_t>(nPos + 1);
    if (g_bDeclMode && d == 0) return 0;   // the subscripts are the dimension sizes

    int64_t llElem;
    if (nVar == SYSVAR_INDIRECT_INT || nVar == SYSVAR_INDIRECT_FLOAT || nVar == SYSVAR_INDIRECT_TEXT ||
        nVar == SYSVAR_REF_TYPE) {
        if (ResolveIndirectElement(nCount, &llElem)) return -1;
    } else {
        const VAR_DESC* pVar = GetVarDesc(nVar);
        if (!pVar) return Fail(KX_ERR_EXPR_NO_VARIABLE);
        llElem = CombineSubscripts(pVar, 0, nCount);
        if (llElem < 0) return -1;
    }
    g_nRefElem = llElem;
    return LoadElement(nPos, nVar, llElem, bPrefix, IsIntArith());
}

template <class T>
inline T ReadLE(const uint8_t* p)
{
    uint64_t u = 0;
    for (size_t k = 0; k < sizeof(T); ++k)
        u |= static_cast<uint64_t>(p[k]) << (8 * k);
    T v;
    if constexpr (sizeof(T) == 8) {
        memcpy(&v, &u, sizeof v);
    } else {
        using U = std::make_unsigned_t<T>;
        const U small = static_cast<U>(u);
        memcpy(&v, &small, sizeof v);
    }
    return v;
}

// 'B', 'W', 'I', 'L': signed integer literals of 1, 2, 4, 8 bytes.
template <class T>
int OpIntLiteral(const uint8_t* p, uint32_t n)
{
    if (n < sizeof(T) || g_nExprSp >= KX_EXPR_STACK) return BadCode();
    StoreIntValue(g_nExprSp++, static_cast<int64_t>(ReadLE<T>(p)), IsIntArith());
    return 0;
}

// 'F': double literal.
int OpFloatLiteral(const uint8_t* p, uint32_t n)
{
    if (n < 8 || g_nExprSp >= KX_EXPR_STACK) return BadCode();
    const uint64_t u = ReadLE<uint64_t>(p);
    double d;
    memcpy(&d, &u, sizeof d);
    StoreFloatValue(g_nExprSp++, d, IsIntArith());
    return 0;
}

// 'R': negates the top number.
int OpNegate(const uint8_t*, uint32_t)
{
    if (g_nExprSp < 1) return BadCode();
    const int i = g_nExprSp - 1;
    if (IsIntArith()) StoreInt(i, NegInt64(g_aExprInt[i]));
    else StoreFloat(i, -g_aExprFloat[i]);
    return 0;
}

// 's': the top number becomes its decimal text ("%f" in floating arithmetic); a text stays.
int OpToText(const uint8_t*, uint32_t)
{
    if (g_nExprSp < 1) return BadCode();
    const int i = g_nExprSp - 1;
    if (g_anExprStr[i]) return 0;
    const uint16_t w = NewText();
    if (!w) return -1;
    const int nLen = IsIntArith() ? FormatInt64(g_apszStrPool[w], KX_EXPR_TEXT_BUFFER, g_aExprInt[i])
                                  : FormatDouble(g_apszStrPool[w], KX_EXPR_TEXT_BUFFER, g_aExprFloat[i]);
    g_anStrPoolLen[w] = static_cast<uint16_t>(nLen);
    StoreText(i, w);
    return 0;
}

inline int HexDigit(uint8_t c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// 'i': the top text becomes a number; a number stays (ReadNumberText gives the reading).
int OpToNumber(const uint8_t*, uint32_t)
{
    if (g_nExprSp < 1) return BadCode();
    const int i = g_nExprSp - 1;
    const uint16_t w = g_anExprStr[i];
    if (!w) return 0;
    const bool bInt = IsIntArith();
    int64_t llValue = 0;
    double dValue = 0.0;
    switch (ReadNumberText(g_apszStrPool[w], &llValue, &dValue)) {
    case KX_NUMTEXT_INT: StoreIntValue(i, llValue, bInt); return 0;
    case KX_NUMTEXT_FLOAT: StoreFloatValue(i, dValue, bInt); return 0;
    case KX_NUMTEXT_NOT_NUMBER: return Fail(KX_ERR_EXPR_NOT_NUMBER);
    default: return -1;
    }
}

// A double is "true" when it is neither zero nor NaN.
inline bool IsTrue(double d) { return !std::isnan(d) && d != 0.0; }

// The binary operators: slot sp-2 (left) and sp-1 (right) combine into sp-2. Only '+', '=' and
// '!' look at texts; elsewhere a text counts as the number 0 it holds in its columns.
template <char OP>
int OpBinary(const uint8_t*, uint32_t)
{
    if (g_nExprSp < 2) return BadCode();
    const int l = --g_nExprSp - 1;
    const int r = l + 1;
    const bool bInt = IsIntArith();

    if constexpr (OP == '+' || OP == '=' || OP == '!') {
        const uint16_t wl = g_anExprStr[l], wr = g_anExprStr[r];
        if (wl && wr) {
            const size_t nl = g_anStrPoolLen[wl], nr = g_anStrPoolLen[wr];
            if constexpr (OP == '+') {
                // The left text grows only when the sum fits a buffer; otherwise it stays.
                if (nl + nr < KX_EXPR_TEXT_BUFFER) {
                    memcpy(g_apszStrPool[wl] + nl, g_apszStrPool[wr], nr + 1);
                    g_anStrPoolLen[wl] = static_cast<uint16_t>(nl + nr);
                }
            } else {
                const bool bEqual = nl == nr && memcmp(g_apszStrPool[wl], g_apszStrPool[wr], nl) == 0;
                StoreIntValue(l, (OP == '=') == bEqual ? 1 : 0, bInt);
            }
            return 0;
        }
        if (wl || wr) return Fail(KX_ERR_EXPR_TEXT_OPERAND);
    }

    if (bInt) {
        const int64_t a = g_aExprInt[l], b = g_aExprInt[r];
        int64_t v;
        if constexpr (OP == '+') v = AddInt64(a, b);
        else if constexpr (OP == '-') v = SubInt64(a, b);
        else if constexpr (OP == '*') v = MulInt64(a, b);
        else if constexpr (OP == '/') v = DivInt64(a, b, 0);
        else if constexpr (OP == '%') v = ModInt64(a, b, 0);
        else if constexpr (OP == '=') v = a == b;
        else if constexpr (OP == '!') v = a != b;
        else if constexpr (OP == '>') v = a > b;
        else if constexpr (OP == '<') v = a < b;
        else if constexpr (OP == 'Z') v = a >= b;
        else if constexpr (OP == 'S') v = a <= b;
        else if constexpr (OP == 'A') v = a & b;
        else if constexpr (OP == 'O') v = a | b;
        else if constexpr (OP == '^') v = a ^ b;
        else if constexpr (OP == '&') v = a != 0 && b != 0;
        else v = a != 0 || b != 0;   // '|'
        StoreInt(l, v);
        return 0;
    }

    const double a = g_aExprFloat[l], b = g_aExprFloat[r];
    // Comparisons with a NaN operand give the processor's unordered answers: '=', '<' and 'S'
    // are 1, '!', '>' and 'Z' are 0.
    const bool bUnordered = std::isnan(a) || std::isnan(b);
    double v;
    if constexpr (OP == '+') v = a + b;
    else if constexpr (OP == '-') v = a - b;
    else if constexpr (OP == '*') v = a * b;
    else if constexpr (OP == '/') v = (b == 0.0 || std::isnan(b)) ? 0.0 : a / b;
    else if constexpr (OP == '%' || OP == 'A' || OP == 'O' || OP == '^') v = a;   // integer-only: left stays
    else if constexpr (OP == '=') v = bUnordered || a == b;
    else if constexpr (OP == '!') v = !bUnordered && a != b;
    else if constexpr (OP == '>') v = !bUnordered && a > b;
    else if constexpr (OP == '<') v = bUnordered || a < b;
    else if constexpr (OP == 'Z') v = !bUnordered && a >= b;
    else if constexpr (OP == 'S') v = bUnordered || a <= b;
    else if constexpr (OP == '&') v = IsTrue(a) && IsTrue(b);
    else v = IsTrue(a) || IsTrue(b);   // '|'
    StoreFloat(l, v);
    return 0;
}

// Evaluates the initial text of a variable definition (text, integer arithmetic).
int EvalVarDefText(const uint8_t* pbCode, size_t nLen, char* pszOut)
{
    g_nExprMode = KX_EXPR_MODE_TEXT_INT;
    g_pszExprOut = pszOut;
    g_nExprOutCap = KX_VAR_TEXT_BUFFER;
    g_nExprOutLen = 0;
    const int rc = RunExprCode(pbCode, nLen > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(nLen));
    g_pszExprOut = nullptr;
    g_nExprOutCap = 0;
    return rc ? -1 : g_nExprOutLen;
}

}  // namespace

int RunExprCode(const uint8_t* pbCode, uint32_t nLen)
{
    g_nStrPoolNext = 1;
    g_nExprSp = 0;
    g_nSubscriptDepth = 0;
    g_nSubscriptCount = 0;
    g_allSubscript[0] = 0;
    g_nRefPrefix = 0;
    g_bRefTaken = 0;
    g_aExprInt[0] = 0;
    g_aExprFloat[0] = 0.0;
    g_anExprStr[0] = 0;
    if (!pbCode) nLen = 0;

    int rc = 0;
    uint32_t nPos = 0;
    while (nPos < nLen) {
        const uint32_t nLeft = nLen - nPos;
        if (nLeft < 3) { rc = BadCode(); break; }
        const uint8_t bOp = pbCode[nPos];
        const uint32_t nPayload = pbCode[nPos + 1] | (pbCode[nPos + 2] << 8);
        if (nPayload > nLeft - 3) { rc = BadCode(); break; }
        if (g_apfnExprOps[bOp](pbCode + nPos + 3, nPayload)) { rc = -1; break; }
        nPos += 3 + nPayload;
    }
    if (rc == 0 && g_nSubscriptDepth > 0)
        rc = BadCode();   // an array access left open

    if ((g_nExprMode == KX_EXPR_MODE_TEXT_INT || g_nExprMode == KX_EXPR_MODE_TEXT_FLOAT) && g_pszExprOut &&
        g_nExprOutCap > 0) {
        // A number in slot 0 gives the empty text, so no caller reads an earlier text.
        const uint16_t w = g_anExprStr[0];
        g_nExprOutLen = w ? static_cast<int>(CopyTextBoundedN(g_pszExprOut, g_nExprOutCap, g_apszStrPool[w], g_anStrPoolLen[w]))
                          : (g_pszExprOut[0] = '\0', 0);
    }
    return rc;
}

int64_t EvalExprInt(const uint8_t* pbCode, uint32_t nLen)
{
    g_nExprMode = KX_EXPR_MODE_INT;
    RunExprCode(pbCode, nLen);
    return g_aExprInt[0];
}

int64_t EvalExprFloatToInt(const uint8_t* pbCode, uint32_t nLen)
{
    g_nExprMode = KX_EXPR_MODE_FLOAT;
    RunExprCode(pbCode, nLen);
    return DoubleToInt64(g_aExprFloat[0]);
}

double EvalExprIntAsFloat(const uint8_t* pbCode, uint32_t nLen)
{
    g_nExprMode = KX_EXPR_MODE_INT;
    RunExprCode(pbCode, nLen);
    return static_cast<double>(g_aExprInt[0]);
}

double EvalExprFloat(const uint8_t* pbCode, uint32_t nLen)
{
    g_nExprMode = KX_EXPR_MODE_FLOAT;
    RunExprCode(pbCode, nLen);
    return g_aExprFloat[0];
}

namespace {
int EvalText(int nMode, char* pszOut, size_t nOutCap, const uint8_t* pbCode, uint32_t nLen)
{
    g_nExprMode = nMode;
    g_pszExprOut = pszOut;
    g_nExprOutCap = pszOut ? nOutCap : 0;
    g_nExprOutLen = 0;
    RunExprCode(pbCode, nLen);
    g_pszExprOut = nullptr;   // the caller's buffer is not kept beyond the call
    g_nExprOutCap = 0;
    return g_nExprOutLen;
}
}  // namespace

int EvalExprString(char* pszOut, size_t nOutCap, const uint8_t* pbCode, uint32_t nLen)
{
    return EvalText(KX_EXPR_MODE_TEXT_INT, pszOut, nOutCap, pbCode, nLen);
}

int EvalExprStringFloat(char* pszOut, size_t nOutCap, const uint8_t* pbCode, uint32_t nLen)
{
    return EvalText(KX_EXPR_MODE_TEXT_FLOAT, pszOut, nOutCap, pbCode, nLen);
}

void RegisterExprOps(int bFull)
{
    for (auto& pfn : g_apfnExprOps)
        pfn = OpInvalid;
    g_apfnExprOps[uint8_t('M')] = OpText;
    g_apfnExprOps[uint8_t('H')] = bFull ? OpVar : OpRejectVar;
    g_apfnExprOps[uint8_t('V')] = bFull ? OpOpen : OpRejectVar;
    g_apfnExprOps[uint8_t('v')] = bFull ? OpVarRef : OpRejectVar;
    g_apfnExprOps[uint8_t(')')] = OpClose;
    g_apfnExprOps[uint8_t('B')] = OpIntLiteral<int8_t>;
    g_apfnExprOps[uint8_t('W')] = OpIntLiteral<int16_t>;
    g_apfnExprOps[uint8_t('I')] = OpIntLiteral<int32_t>;
    g_apfnExprOps[uint8_t('L')] = OpIntLiteral<int64_t>;
    g_apfnExprOps[uint8_t('F')] = OpFloatLiteral;
    g_apfnExprOps[uint8_t('R')] = OpNegate;
    g_apfnExprOps[uint8_t('s')] = OpToText;
    g_apfnExprOps[uint8_t('i')] = OpToNumber;
    g_apfnExprOps[uint8_t('+')] = OpBinary<'+'>;
    g_apfnExprOps[uint8_t('-')] = OpBinary<'-'>;
    g_apfnExprOps[uint8_t('*')] = OpBinary<'*'>;
    g_apfnExprOps[uint8_t('/')] = OpBinary<'/'>;
    g_apfnExprOps[uint8_t('%')] = OpBinary<'%'>;
    g_apfnExprOps[uint8_t('=')] = OpBinary<'='>;
    g_apfnExprOps[uint8_t('!')] = OpBinary<'!'>;
    g_apfnExprOps[uint8_t('>')] = OpBinary<'>'>;
    g_apfnExprOps[uint8_t('<')] = OpBinary<'<'>;
    g_apfnExprOps[uint8_t('Z')] = OpBinary<'Z'>;
    g_apfnExprOps[uint8_t('S')] = OpBinary<'S'>;
    g_apfnExprOps[uint8_t('A')] = OpBinary<'A'>;
    g_apfnExprOps[uint8_t('O')] = OpBinary<'O'>;
    g_apfnExprOps[uint8_t('^')] = OpBinary<'^'>;
    g_apfnExprOps[uint8_t('&')] = OpBinary<'&'>;
    g_apfnExprOps[uint8_t('|')] = OpBinary<'|'>;
    g_apfnExprOps[uint8_t(',')] = OpNop;
}

void InitEvaluatorTables(void)
{
    // Types outside 1..4 (a damaged or rewritten type byte) evaluate as types 1 and 3.
    for (int t = 0; t < 256; ++t) {
        g_apfnEvalInt[t] = EvalExprInt;
        g_apfnEvalFloat[t] = EvalExprIntAsFloat;
        g_apfnEvalString[t] = EvalExprString;
    }
    g_apfnEvalInt[2] = EvalExprFloatToInt;
    g_apfnEvalInt[4] = EvalExprFloatToInt;
    g_apfnEvalFloat[2] = EvalExprFloat;
    g_apfnEvalFloat[4] = EvalExprFloat;
    for (int t = 6; t <= 9; ++t)
        g_apfnEvalFloat[t] = EvalExprFloat;
    g_apfnEvalString[4] = EvalExprStringFloat;
}

void InstallEvaluator(void)
{
    InitEvaluatorTables();
    RegisterExprOps(1);
    g_pfnEvalVarDefText = EvalVarDefText;
}

namespace {
// The tables are usable from the start, before the engine's start-up steps run.
[[maybe_unused]] const int s_nInstalled = (InstallEvaluator(), 0);
}  // namespace

int ReadNumberText(const char* psz, int64_t* pllValue, double* pdValue)
{
    if (psz[0] == '0' && psz[1] == 'x') {
        uint64_t v = 0;
        int nDigits = 0;
        for (const char* p = psz + 2; HexDigit(static_cast<uint8_t>(*p)) >= 0; ++p) {
            if (++nDigits > 16) return KX_NUMTEXT_BAD_HEX;
            v = (v << 4) | static_cast<uint64_t>(HexDigit(static_cast<uint8_t>(*p)));
        }
        if (nDigits == 0) return KX_NUMTEXT_BAD_HEX;
        *pllValue = static_cast<int64_t>(v);
        return KX_NUMTEXT_INT;
    }
    bool bPoint = false;
    for (const char* p = psz; *p; ++p) {
        if (*p == '.') bPoint = true;
        else if (*p != '-' && (*p < '0' || *p > '9')) return KX_NUMTEXT_NOT_NUMBER;
    }
    if (bPoint) {
        *pdValue = ParseDouble(psz, nullptr);
        return KX_NUMTEXT_FLOAT;
    }
    *pllValue = ParseInt64Saturating(psz, nullptr);
    return KX_NUMTEXT_INT;
}
