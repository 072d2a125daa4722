// The math and motion commands (see script/cmd_math.h).
#include "script/cmd_math.h"

#include <cmath>
#include <cstring>

#include "core/cp932.h"
#include "core/kx_hash.h"
#include "core/kx_math.h"
#include "core/sysfacts.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/evaluator.h"
#include "script/variables.h"

const uint8_t g_abMathSelectorOrder[KX_MATH_SELECTORS] = {
    KX_MATH_SIN,   KX_MATH_COS,  KX_MATH_TAN, KX_MATH_ASIN,  KX_MATH_ACOS,   KX_MATH_SINH,   KX_MATH_COSH,
    KX_MATH_TANH,  KX_MATH_ATAN, KX_MATH_ATAN2, KX_MATH_SQRT, KX_MATH_ABS,   KX_MATH_EXP,    KX_MATH_LOG,
    KX_MATH_LOG10, KX_MATH_POW,  KX_MATH_RANDOM, KX_MATH_CRC32, KX_MATH_INT_TEXT,
};

namespace {

// ---- operands ----

// An operand kept unevaluated, evaluated here as a double: with the floating evaluator whatever
// the record's type when bForceFloat, else with the evaluator of the record's type (an integer
// expression is computed with integer arithmetic, then converted). An absent operand is 0.
// 0, or -1 after the report of an expression outside the body.
int EvalOperandFloat(int nArgId, bool bForceFloat, double* pdOut)
{
    *pdOut = 0.0;
    if (!HasArg(nArgId)) return 0;
    const uint8_t* pbCode = nullptr;
    uint32_t nLen = 0;
    if (GetArgExpr(nArgId, &pbCode, &nLen) != 0) return -1;
    const int nType = bForceFloat ? KX_EXPR_MODE_FLOAT : (g_anArgEvalType[ArgSlot(nArgId)] & 0xFF);
    *pdOut = g_apfnEvalFloat[nType](pbCode, nLen);
    return 0;
}

// The same as an int64, with the integer evaluator of the record's type.
int EvalOperandInt(int nArgId, int64_t* pllOut)
{
    *pllOut = 0;
    if (!HasArg(nArgId)) return 0;
    const uint8_t* pbCode = nullptr;
    uint32_t nLen = 0;
    if (GetArgExpr(nArgId, &pbCode, &nLen) != 0) return -1;
    *pllOut = g_apfnEvalInt[g_anArgEvalType[ArgSlot(nArgId)] & 0xFF](pbCode, nLen);
    return 0;
}

// low + (r mod (high - low + 1)) with the range in unsigned 64-bit: the full int64 range (2^64
// values, a range of 0) gives low + r, and no step can overflow.
int64_t RandomBetween(int64_t llA, int64_t llB, uint32_t r)
{
    const int64_t llLow = llA < llB ? llA : llB;
    const int64_t llHigh = llA < llB ? llB : llA;
    const uint64_t nRange = static_cast<uint64_t>(llHigh) - static_cast<uint64_t>(llLow) + 1u;
    const uint64_t nOffset = nRange ? static_cast<uint64_t>(r) % nRange : static_cast<uint64_t>(r);
    return static_cast<int64_t>(static_cast<uint64_t>(llLow) + nOffset);
}

// The floating functions of one operand, by selector.
double ApplyUnary(int nSelector, double x)
{
    switch (nSelector) {
    case KX_MATH_SIN: return std::sin(x);
    case KX_MATH_COS: return std::cos(x);
    case KX_MATH_TAN: return std::tan(x);
    case KX_MATH_ASIN: return std::asin(x);
    case KX_MATH_ACOS: return std::acos(x);
    case KX_MATH_SINH: return std::sinh(x);
    case KX_MATH_COSH: return std::cosh(x);
    case KX_MATH_TANH: return std::tanh(x);
    case KX_MATH_ATAN: return std::atan(x);
    case KX_MATH_SQRT: return std::sqrt(x);
    case KX_MATH_ABS: return std::fabs(x);
    case KX_MATH_EXP: return std::exp(x);
    case KX_MATH_LOG: return std::log(x);
    case KX_MATH_LOG10: return std::log10(x);
    default: return 0.0;
    }
}

// ---- the integer text parser ----

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool TokenIs(const INT_EXPR_PARSE* p, char c) { return p->nTokenLen == 1 && p->pToken[0] == c; }

// ---- the motion step ----

double Pow2(double x) { return std::pow(2.0, x); }

}  // namespace

// ---- the math command ----

int CmdMath(void)
{
    if (FetchCommandArgs(CMDID_MATH) != 0) return -1;
    int nSelector = -1;
    for (uint8_t bSel : g_abMathSelectorOrder) {
        if (HasArg(bSel)) {
            nSelector = bSel;
            break;
        }
    }
    if (nSelector < 0) return 0;   // no selector: nothing is stored

    // The output: the element that argument 0 designated; without argument 0, or with a literal in
    // its place, nothing is stored.
    const ARG_OUT out = GetArgOut(KX_MATH_ARG_OUT);
    const int nOutVar = out.nVar;
    const int64_t llOutElem = out.llElem;
    const bool bOut = nOutVar != 0;

    switch (nSelector) {
    case KX_MATH_RANDOM: {
        int64_t x = 0, y = 0;
        if (EvalOperandInt(KX_MATH_ARG_X, &x) != 0 || EvalOperandInt(KX_MATH_ARG_Y, &y) != 0) return -1;
        const int64_t llValue = RandomBetween(x, y, NextRandom());
        if (bOut) SetVarInt(nOutVar, llOutElem, llValue);
        return 0;
    }
    case KX_MATH_CRC32: {
        const char* psz = ArgText(KX_MATH_ARG_TEXT);
        const int64_t llCrc = ComputeCRC32(psz, std::strlen(psz));
        if (bOut) SetVarInt(nOutVar, llOutElem, llCrc);
        return 0;
    }
    case KX_MATH_INT_TEXT: {
        const int64_t llValue = EvalIntExprText(ArgText(KX_MATH_ARG_TEXT));
        if (bOut) SetVarInt(nOutVar, llOutElem, llValue);
        return 0;
    }
    default: break;
    }

    // The floating functions. sin and cos evaluate x as a double whatever its record's type.
    const bool bForceFloat = nSelector == KX_MATH_SIN || nSelector == KX_MATH_COS;
    double x = 0.0;
    if (EvalOperandFloat(KX_MATH_ARG_X, bForceFloat, &x) != 0) return -1;
    double dResult;
    if (nSelector == KX_MATH_ATAN2 || nSelector == KX_MATH_POW) {
        double y = 0.0;
        if (EvalOperandFloat(KX_MATH_ARG_Y, false, &y) != 0) return -1;
        dResult = nSelector == KX_MATH_ATAN2 ? std::atan2(x, y) : std::pow(x, y);
    } else {
        dResult = ApplyUnary(nSelector, x);
    }
    if (bOut) SetVarFloat(nOutVar, llOutElem, dResult);
    return 0;
}

// ---- the integer text parser ----

int IsBlank(int c) { return c == ' ' || c == '\t'; }

int NextIntExprToken(INT_EXPR_PARSE* p)
{
    const char* q = p->pCursor;
    while (IsBlank(static_cast<unsigned char>(*q))) ++q;
    p->pToken = q;
    if (*q == '\0' || *q == '\n') {
        p->nTokenLen = 0;
        p->pCursor = q;
        return 0;
    }
    const char* e = q + 1;
    if (IsDigit(*q))
        while (IsDigit(*e)) ++e;
    p->nTokenLen = static_cast<size_t>(e - q);
    p->pCursor = e;
    return 1;
}

void StartIntExprParse(INT_EXPR_PARSE* p, const char* pszText)
{
    CopyTextBounded(p->szText, sizeof p->szText, pszText ? pszText : "");
    p->pCursor = p->szText;
    p->pToken = p->szText;
    p->nTokenLen = 0;
    NextIntExprToken(p);
}

int64_t ParseIntFactor(INT_EXPR_PARSE* p)
{
    if (p->nTokenLen && IsDigit(p->pToken[0])) {
        // The token is the whole run of digits, so the reading stops where the token ends.
        const int64_t v = ParseInt64Saturating(p->pToken, nullptr);
        NextIntExprToken(p);
        return v;
    }
    if (TokenIs(p, '(')) {
        NextIntExprToken(p);
        const int64_t v = ParseIntSum(p);
        if (TokenIs(p, ')')) NextIntExprToken(p);   // a missing ')' is accepted
        return v;
    }
    return 0;   // any other token (or the end) is not consumed
}

int64_t ParseIntProduct(INT_EXPR_PARSE* p)
{
    int64_t v = ParseIntFactor(p);
    while (TokenIs(p, '*') || TokenIs(p, '/') || TokenIs(p, '%')) {
        const char cOp = p->pToken[0];
        if (!NextIntExprToken(p)) break;   // a trailing operator is ignored
        const int64_t w = ParseIntFactor(p);
        v = cOp == '*' ? MulInt64(v, w) : cOp == '/' ? DivInt64(v, w, v) : ModInt64(v, w, v);
    }
    return v;
}

int64_t ParseIntSum(INT_EXPR_PARSE* p)
{
    bool bNegate = false;
    if (TokenIs(p, '+') || TokenIs(p, '-')) {
        bNegate = p->pToken[0] == '-';
        NextIntExprToken(p);
    }
    int64_t v = ParseIntProduct(p);
    if (bNegate) v = NegInt64(v);
    while (TokenIs(p, '+') || TokenIs(p, '-')) {
        const char cOp = p->pToken[0];
        if (!NextIntExprToken(p)) break;   // a trailing operator is ignored
        const int64_t w = ParseIntProduct(p);
        v = cOp == '+' ? AddInt64(v, w) : SubInt64(v, w);
    }
    return v;
}

int64_t EvalIntExprText(const char* pszText)
{
    INT_EXPR_PARSE parse;
    StartIntExprParse(&parse, pszText);
    return ParseIntSum(&parse);
}

// ---- the motion step ----

int ComputeMotionStep(int nParamVar, int nStateVar, double adResult[KX_MOTION_RESULTS])
{
    auto P = [nParamVar](int i) { return static_cast<double>(GetVarInt(nParamVar, i)); };
    auto S = [nStateVar](int i) { return GetVarFloat(nStateVar, i); };

    if (GetVarInt(nParamVar, 7) != 0) {   // no motion
        adResult[0] = S(13) - S(18) * S(16) / 100;
        adResult[1] = S(14) - S(19) * S(17) / 100;
        adResult[2] = S(16);
        adResult[3] = S(17);
        return 0;
    }
    const double T = S(5) + S(30);
    const double u = S(3) + S(28);
    const double v = S(4) + S(29);
    const double p = S(20) / 100;
    const double q = S(21) / 100;
    const double d1 = Pow2((T + S(27) - S(8)) / 100);
    double ax = P(5) * 0.5 + S(11) * p + (S(6) - S(9) - p * u) * d1;
    double ay = d1 * (S(7) - S(10) - q * v) + P(6) * 0.5 + S(12) * q;
    double d = Pow2((S(27) - S(15) + T) / 100);   // the damping factor
    if (GetVarInt(nParamVar, 1) != GetVarInt(nParamVar, 2)) {
        ax = ax + S(9) * d1;
        ay = ay + S(10) * d1;
        if (GetVarInt(nParamVar, 4) == 0) {
            ax = ax + (S(13) * p - S(18)) * d;
            ay = ay + (S(14) * q - S(19)) * d;
        } else {
            d = Pow2((S(27) - S(24) + T) / 100);
            ax = ax + ((S(13) + S(22)) * p - S(18) - S(25)) * d;
            ay = ay + ((S(14) + S(23)) * q - S(19) - S(26)) * d;
        }
    }
    adResult[0] = ax + (100 - S(16)) * S(18) * d / 100;
    adResult[1] = ay + (100 - S(17)) * S(19) * d / 100;
    adResult[2] = S(16) * d;
    adResult[3] = S(17) * d;
    return 0;
}

int CmdMotionStep(void)
{
    if (FetchCommandArgs(CMDID_MOTION_STEP) != 0) return -1;
    const int sParams = ArgSlot(KX_MOTION_ARG_PARAMS);
    const int sState = ArgSlot(KX_MOTION_ARG_STATE);
    if (!sParams || !sState) return 0;
    const int nParamVar = g_anArgVar[sParams];
    const int nStateVar = g_anArgVar[sState];
    // Both arguments must designate variables; an expression without one designates variable 0.
    if (nParamVar <= 0 || nStateVar <= 0 || !GetVarDesc(nParamVar) || !GetVarDesc(nStateVar)) return 0;

    double adResult[KX_MOTION_RESULTS];
    ComputeMotionStep(nParamVar, nStateVar, adResult);
    // Each result only where S has that element: a double is stored as it is, an int64 truncated
    // toward zero, any other type of user variable is refused with 101140 (fatal), once.
    const VAR_DESC* pState = GetVarDesc(nStateVar);
    for (int i = 0; i < KX_MOTION_RESULTS; ++i) {
        const int nElem = KX_MOTION_FIRST_RESULT + i;
        if (pState->llCount <= nElem) break;
        if (SetVarFloat(nStateVar, nElem, adResult[i]) != 0 && nStateVar >= KX_FIRST_USER_VAR) return -1;
    }
    return 0;
}
