// The math and motion commands run through compiled scripts (the operands are decoded and
// evaluated by the handlers, so the argument records matter), and the integer text parser and
// the motion arithmetic against straight transcriptions of their definitions.
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/kx_math.h"
#include "core/script_thread.h"
#include "core/sysfacts.h"
#include "root/startup.h"
#include "script/cmd_math.h"
#include "script/script_body.h"
#include "script/script_tables.h"
#include "script/system_vars.h"
#include "script/variables.h"
#include "tests/support/script_game_fixture.h"
#include "tests/support/test_support.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/script_builder.h"

namespace {

using CODE = std::vector<uint8_t>;
const int64_t kMin64 = std::numeric_limits<int64_t>::min();
const int64_t kMax64 = std::numeric_limits<int64_t>::max();
constexpr uint32_t kSeed = 20261211;

CODE Elem(uint16_t v, int64_t i) { return MakeExprElement(v, {i}); }
// 7 / 2 written with integers only.
CODE SevenHalves()
{
    CODE c = MakeExprInt(7);
    ExprAsmInt(c, 2);
    ExprAsmOp(c, '/');
    return c;
}

struct OPERAND {
    CODE code;
    uint8_t bType = EVALTYPE_INT;
};
OPERAND Int(int64_t v) { return {MakeExprInt(v), EVALTYPE_INT}; }
OPERAND Dbl(double d) { return {MakeExprDouble(d), EVALTYPE_FLOAT}; }

// A math command: the output element, x and y when given, the text when given, the selectors.
void EmitMath(SCRIPT_BUILDER& b, const CODE& out, const std::vector<int>& selectors, const OPERAND* pX = nullptr,
              const OPERAND* pY = nullptr, const std::string* pText = nullptr)
{
    std::vector<BUILDER_ARG> args = {ExprArg(KX_MATH_ARG_OUT, out)};
    if (pX) args.push_back(ExprArg(KX_MATH_ARG_X, pX->code, pX->bType));
    if (pY) args.push_back(ExprArg(KX_MATH_ARG_Y, pY->code, pY->bType));
    if (pText) args.push_back(ExprArg(KX_MATH_ARG_TEXT, MakeExprText(*pText), EVALTYPE_TEXT));
    for (int s : selectors) args.push_back(ExprArg(static_cast<uint8_t>(s), MakeExprInt(0)));
    EXPECT_GE(EmitCommand(&b, KXCMD_MATH, args), 0);
}

class MathScriptTest : public SCRIPT_GAME_FIXTURE {
protected:
    std::vector<KXV_DEF> defs;   // user variables of the run (1000..1099 exist)
    void (*pfnBeforeRun)(void) = nullptr;

    void SetUp() override
    {
        InstallSystemVariables();
        RegisterElemOps();
        InstallEngineParts();
        g_bRunInBackground = 1;
        OpenScriptGame();
    }
    void TearDown() override
    {
        CloseScriptGame();
        g_bEngineStop = 0;
    }
    // Loads a game made of the script (ended by a halt) and the definitions, seeds the random
    // generator, prepares the variables and runs the SYSTEM thread for one pass.
    void Run()
    {
        ASSERT_NO_FATAL_FAILURE(StartHalting(b, defs));
        SeedRandom(kSeed);
        if (pfnBeforeRun) pfnBeforeRun();
        Pass();
    }
};

// ---- the math command -----------------------------------------------------------------------

// With the selectors from position k of the precedence order onwards all present, the one at k
// decides. Element k of a double array receives each result.
TEST_F(MathScriptTest, FirstPresentSelectorInPrecedenceDecides)
{
    defs = {MakeFloatVarDef(1000, -99.0, {KX_MATH_SELECTORS})};
    const OPERAND x = Dbl(0.5);
    const OPERAND y = Dbl(3.0);
    const std::string strText = " 12 * 3 ";
    for (int k = 0; k < KX_MATH_SELECTORS; ++k) {
        std::vector<int> sels;
        // Given in reverse order, so the records' order is not what decides.
        for (int j = KX_MATH_SELECTORS - 1; j >= k; --j) sels.push_back(g_abMathSelectorOrder[j]);
        EmitMath(b, Elem(1000, k), sels, &x, &y, &strText);
    }
    ERROR_RECORDER errors;
    Run();
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_TRUE(g_bScriptHalted);

    std::mt19937 mt(kSeed);
    const double adExpected[KX_MATH_SELECTORS] = {
        std::sin(0.5),   std::cos(0.5),   std::tan(0.5),  std::asin(0.5), std::acos(0.5),
        std::sinh(0.5),  std::cosh(0.5),  std::tanh(0.5), std::atan(0.5), std::atan2(0.5, 3.0),
        std::sqrt(0.5),  0.5,             std::exp(0.5),  std::log(0.5),  std::log10(0.5),
        std::pow(0.5, 3.0),
        // x and y as integers with their own (floating) evaluator: 0 and 3.
        static_cast<double>(mt() % 4),
        static_cast<double>(0x22F4D639u),   // CRC-32 of " 12 * 3 "
        36.0,
    };
    for (int k = 0; k < KX_MATH_SELECTORS; ++k)
        EXPECT_DOUBLE_EQ(GetVarFloat(1000, k), adExpected[k]) << "selector " << int(g_abMathSelectorOrder[k]);
}

TEST_F(MathScriptTest, OperandsAreEvaluatedByTheirRecordsTypeExceptForSineAndCosine)
{
    defs = {MakeFloatVarDef(1000, -99.0, {16}), MakeIntVarDef(1001, -99, {4})};
    const OPERAND half7{SevenHalves(), EVALTYPE_INT};   // 3 with integer arithmetic, 3.5 as a double
    const OPERAND minus7 = Int(-7);
    const OPERAND two = Int(2);
    EmitMath(b, Elem(1000, 0), {KX_MATH_SIN}, &half7);
    EmitMath(b, Elem(1000, 1), {KX_MATH_COS}, &half7);
    EmitMath(b, Elem(1000, 2), {KX_MATH_TAN}, &half7);
    EmitMath(b, Elem(1000, 3), {KX_MATH_SQRT}, &half7);
    EmitMath(b, Elem(1000, 4), {KX_MATH_POW}, &two, &half7);          // 2^3
    EmitMath(b, Elem(1000, 5), {KX_MATH_SIN, KX_MATH_COS}, &half7);   // sine is tested first
    const OPERAND m25 = Dbl(-2.5);
    EmitMath(b, Elem(1000, 6), {KX_MATH_ABS}, &m25);
    EmitMath(b, Elem(1000, 7), {KX_MATH_ABS}, &minus7);
    const OPERAND one = Dbl(1.0), mone = Dbl(-1.0);
    EmitMath(b, Elem(1000, 8), {KX_MATH_ATAN2}, &one, &mone);        // quadrant II
    EmitMath(b, Elem(1000, 9), {KX_MATH_ATAN2}, &mone, &mone);       // quadrant III
    EmitMath(b, Elem(1000, 10), {KX_MATH_SQRT});                     // no operand: sqrt 0
    EmitMath(b, Elem(1000, 11), {});                                 // no selector: nothing stored
    EmitMath(b, Elem(1000, 12), {KX_MATH_POW}, &two);                // no y: 2^0
    // Into an int64 variable: converted toward zero; a NaN becomes INT64_MIN.
    EmitMath(b, Elem(1001, 0), {KX_MATH_ABS}, &minus7);
    const OPERAND m27 = Dbl(-2.7);
    EmitMath(b, Elem(1001, 1), {KX_MATH_EXP}, &m27);
    EmitMath(b, Elem(1001, 2), {KX_MATH_SQRT}, &minus7);
    EmitMath(b, Elem(1001, 3), {KX_MATH_ABS}, &m27);
    ERROR_RECORDER errors;
    Run();
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_TRUE(g_bScriptHalted);

    EXPECT_DOUBLE_EQ(GetVarFloat(1000, 0), std::sin(3.5));
    EXPECT_DOUBLE_EQ(GetVarFloat(1000, 1), std::cos(3.5));
    EXPECT_DOUBLE_EQ(GetVarFloat(1000, 2), std::tan(3.0));
    EXPECT_DOUBLE_EQ(GetVarFloat(1000, 3), std::sqrt(3.0));
    EXPECT_DOUBLE_EQ(GetVarFloat(1000, 4), 8.0);
    EXPECT_DOUBLE_EQ(GetVarFloat(1000, 5), std::sin(3.5));
    EXPECT_EQ(GetVarFloat(1000, 6), 2.5);
    EXPECT_EQ(GetVarFloat(1000, 7), 7.0);
    EXPECT_DOUBLE_EQ(GetVarFloat(1000, 8), 3 * std::atan(1.0));
    EXPECT_DOUBLE_EQ(GetVarFloat(1000, 9), -3 * std::atan(1.0));
    EXPECT_EQ(GetVarFloat(1000, 10), 0.0);
    EXPECT_EQ(GetVarFloat(1000, 11), -99.0);
    EXPECT_EQ(GetVarFloat(1000, 12), 1.0);
    EXPECT_EQ(GetVarInt(1001, 0), 7);
    EXPECT_EQ(GetVarInt(1001, 1), 0);   // exp(-2.7) = 0.067
    EXPECT_EQ(GetVarInt(1001, 2), kMin64);
    EXPECT_EQ(GetVarInt(1001, 3), 2);
}

TEST_F(MathScriptTest, RandomRangeEdges)
{
    struct CASE {
        const char* pszName;
        int64_t x, y;
    };
    const CASE cases[] = {
        {"10 to 1: low and high swapped", 10, 1},
        {"1 to 10", 1, 10},
        {"5 to 5", 5, 5},
        {"-3 to 3", -3, 3},
        {"the full int64 range", kMin64, kMax64},
        {"the full int64 range, swapped", kMax64, kMin64},
        {"INT64_MIN to -1 (2^63 values)", kMin64, -1},
        {"-1 to INT64_MAX (2^63 + 1 values)", -1, kMax64},
        {"a range wider than 2^32 reaches its first 2^32 values", 0, int64_t(1) << 40},
        {"INT64_MAX alone", kMax64, kMax64},
        {"near the top", kMax64 - 2, kMax64},
    };
    const int n = static_cast<int>(std::size(cases));
    const int kDraws = 40;
    defs = {MakeIntVarDef(1000, 0, {n * kDraws})};
    for (int i = 0; i < n; ++i) {
        const OPERAND x = Int(cases[i].x), y = Int(cases[i].y);
        for (int k = 0; k < kDraws; ++k) EmitMath(b, Elem(1000, i * kDraws + k), {KX_MATH_RANDOM}, &x, &y);
    }
    ERROR_RECORDER errors;
    Run();
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_TRUE(g_bScriptHalted);

    std::mt19937 mt(kSeed);
    for (int i = 0; i < n; ++i) {
        const CASE& c = cases[i];
        const int64_t lo = std::min(c.x, c.y), hi = std::max(c.x, c.y);
        for (int k = 0; k < kDraws; ++k) {
            const uint32_t r = mt();
            // The reference in 128-bit arithmetic: low + r mod (high - low + 1).
            const __int128 range = static_cast<__int128>(hi) - lo + 1;
            const int64_t llExpected = static_cast<int64_t>(lo + static_cast<__int128>(r) % range);
            const int64_t v = GetVarInt(1000, i * kDraws + k);
            EXPECT_EQ(v, llExpected) << c.pszName << " draw " << k;
            EXPECT_GE(v, lo) << c.pszName;
            EXPECT_LE(v, hi) << c.pszName;
        }
    }
}

TEST_F(MathScriptTest, Crc32OfTheText)
{
    const std::vector<std::pair<std::string, uint32_t>> cases = {
        {"", 0x00000000u},
        {"a", 0xE8B7BE43u},
        {"123456789", 0xCBF43926u},
        {"KOLVEX-SCRIPT1", 0xEF44F270u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
    };
    defs = {MakeIntVarDef(1000, -1, {static_cast<int32_t>(cases.size())})};
    for (size_t i = 0; i < cases.size(); ++i)
        EmitMath(b, Elem(1000, static_cast<int64_t>(i)), {KX_MATH_CRC32, KX_MATH_INT_TEXT}, nullptr, nullptr, &cases[i].first);
    ERROR_RECORDER errors;
    Run();
    EXPECT_TRUE(errors.reports.empty());
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(GetVarInt(1000, static_cast<int64_t>(i)), static_cast<int64_t>(cases[i].second)) << cases[i].first;
}

TEST_F(MathScriptTest, IntegerTextThroughTheCommand)
{
    defs = {MakeIntVarDef(1000, -1, {3}), MakeTextVarDef(1001, "", {1})};
    const std::string a = "-(2+3)*4", c = "2*-3";
    EmitMath(b, Elem(1000, 0), {KX_MATH_INT_TEXT}, nullptr, nullptr, &a);
    EmitMath(b, Elem(1000, 1), {KX_MATH_INT_TEXT}, nullptr, nullptr, &c);
    EmitMath(b, Elem(1000, 2), {KX_MATH_INT_TEXT});   // no text: the empty text
    ERROR_RECORDER errors;
    Run();
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_EQ(GetVarInt(1000, 0), -20);
    EXPECT_EQ(GetVarInt(1000, 1), -3);
    EXPECT_EQ(GetVarInt(1000, 2), 0);
}

TEST_F(MathScriptTest, ResultIntoATextVariableIsFatal)
{
    defs = {MakeTextVarDef(1000, "t", {1})};
    const OPERAND x = Dbl(1.0);
    EmitMath(b, Elem(1000, 0), {KX_MATH_SQRT}, &x);
    ERROR_RECORDER errors;
    Run();
    ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, KX_ERR_VAR_WRONG_TYPE));
    EXPECT_FALSE(g_bScriptHalted);
}

// An operand whose expression lies outside the body's expression bytes is reported as a damaged
// file, and nothing is stored.
TEST_F(MathScriptTest, OperandOutsideTheExpressionBytesIsReported)
{
    defs = {MakeFloatVarDef(1000, -99.0, {1})};
    const uint32_t nOut = AppendExpr(&b, Elem(1000, 0));
    const uint32_t nOne = AppendExpr(&b, MakeExprInt(1));
    KX_COMMAND_RECORD rec;
    rec.bOpcode = KXCMD_MATH;
    rec.args = {KX_ARG_RECORD{KX_MATH_ARG_OUT, 0, EVALTYPE_INT, ARGOP_SET, static_cast<uint32_t>(Elem(1000, 0).size()), nOut},
                KX_ARG_RECORD{KX_MATH_ARG_X, 0, EVALTYPE_FLOAT, ARGOP_SET, 5, 0x7FFFFFF0u},
                KX_ARG_RECORD{KX_MATH_SQRT, 0, EVALTYPE_INT, ARGOP_SET, static_cast<uint32_t>(MakeExprInt(1).size()), nOne}};
    EmitRawCommand(&b, rec);
    ERROR_RECORDER errors;
    Run();
    ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, KX_ERR_FILE_READ));
    EXPECT_FALSE(g_bScriptHalted);
    EXPECT_EQ(GetVarFloat(1000, 0), -99.0);
}

// ---- the integer text parser ------------------------------------------------------------------

TEST(IntExprText, Grammar)
{
    struct CASE {
        const char* pszText;
        int64_t llValue;
    };
    const CASE cases[] = {
        {"", 0},
        {"42", 42},
        {"  \t 42", 42},
        {"1+2*3", 7},
        {"(1+2)*3", 9},
        {"10-2-3", 5},
        {"100/7/2", 7},
        {"-7/2", -3},
        {"-7%3", -1},
        {"7%-3", 4},       // the factor after "%" is 0 (7 kept), then minus 3
        {"7 % 0", 7},
        {"7 / 0", 7},
        {"-(2+3)*4", -20},
        {"(1+2", 3},
        {"((4)", 4},
        {"+5", 5},
        {"--5", -5},       // the second '-' is no factor: -(0), then minus 5
        {"12 x", 12},
        {"x 12", 0},
        {"2*-3", -3},
        {"2*(-3)", -6},
        {"5+", 5},
        {"5*", 5},
        {"5+ \t", 5},
        {"3\n+4", 3},      // a line feed ends the text
        {"1 2", 1},
        {"007", 7},
        {"2 * 3 + 4 * 5", 26},
        {"(((((((((((1+1)))))))))))*2", 4},
    };
    for (const CASE& c : cases) EXPECT_EQ(EvalIntExprText(c.pszText), c.llValue) << '"' << c.pszText << '"';
}

TEST(IntExprText, OverflowWrapsAndNeverTraps)
{
    struct CASE {
        const char* pszText;
        int64_t llValue;
    };
    const CASE cases[] = {
        {"9223372036854775807", kMax64},
        {"9223372036854775807+1", kMin64},                      // wraps
        {"-9223372036854775807-1", kMin64},
        {"-9223372036854775807-2", kMax64},                     // wraps
        {"9223372036854775807*2", -2},                          // low 64 bits
        {"(-9223372036854775807-1)/(0-1)", kMin64},             // INT64_MIN / -1
        {"(-9223372036854775807-1)%(0-1)", 0},                  // INT64_MIN % -1
        {"-(-9223372036854775807-1)", kMin64},                  // negation wraps
        {"9223372036854775808", kMax64},                        // digit runs beyond int64 saturate
        {"99999999999999999999999999999", kMax64},
        {"-99999999999999999999999999999", -kMax64},
        {"99999999999999999999999999999+1", kMin64},
    };
    for (const CASE& c : cases) EXPECT_EQ(EvalIntExprText(c.pszText), c.llValue) << '"' << c.pszText << '"';
}

TEST(IntExprText, TextIsReadUpTo1023BytesAndDeepNestingIsSafe)
{
    // The copy holds 1023 bytes: a '+ 1' whose digit lies beyond them is a trailing operator.
    std::string s(1020, ' ');
    s += "5+1";
    EXPECT_EQ(EvalIntExprText(s.c_str()), 6);
    std::string t(1021, ' ');
    t += "5+1";
    EXPECT_EQ(EvalIntExprText(t.c_str()), 5);

    // 1023 open parentheses: each nests once, none is closed.
    std::string deep(1022, '(');
    deep += "9";
    EXPECT_EQ(EvalIntExprText(deep.c_str()), 9);

    // A lone lead byte is a one-byte token that ends nothing: the rest is not read.
    EXPECT_EQ(EvalIntExprText("3\x81"), 3);
    EXPECT_EQ(EvalIntExprText("\x81" "3"), 0);
}

TEST(IntExprText, Tokens)
{
    INT_EXPR_PARSE parse;
    StartIntExprParse(&parse, " 12\t(x 345\n6");
    std::vector<std::string> tokens;
    do tokens.emplace_back(parse.pToken, parse.nTokenLen);
    while (NextIntExprToken(&parse));
    EXPECT_EQ(tokens, (std::vector<std::string>{"12", "(", "x", "345"}));
    EXPECT_EQ(parse.nTokenLen, 0u);     // the end: an empty token
    EXPECT_EQ(*parse.pCursor, '\n');   // and the cursor stays there
    EXPECT_EQ(NextIntExprToken(&parse), 0);
    EXPECT_TRUE(IsBlank(' ') && IsBlank('\t'));
    EXPECT_FALSE(IsBlank('\n') || IsBlank('\r') || IsBlank(0));
}

// ---- the motion step --------------------------------------------------------------------------

// The motion formulas transcribed directly, in double precision.
std::vector<double> MotionOracle(const std::vector<double>& P, const std::vector<double>& S)
{
    auto s = [&](int i) { return i < static_cast<int>(S.size()) ? S[i] : 0.0; };
    auto p_ = [&](int i) { return i < static_cast<int>(P.size()) ? P[i] : 0.0; };
    if (p_(7) != 0) return {s(13) - s(18) * s(16) / 100, s(14) - s(19) * s(17) / 100, s(16), s(17)};
    const double T = s(5) + s(30), u = s(3) + s(28), v = s(4) + s(29), p = s(20) / 100, q = s(21) / 100;
    const double d1 = std::pow(2.0, (T + s(27) - s(8)) / 100);
    double ax = p_(5) * 0.5 + s(11) * p + (s(6) - s(9) - p * u) * d1;
    double ay = d1 * (s(7) - s(10) - q * v) + p_(6) * 0.5 + s(12) * q;
    double d = std::pow(2.0, (s(27) - s(15) + T) / 100);
    if (p_(1) != p_(2)) {
        ax += s(9) * d1;
        ay += s(10) * d1;
        if (p_(4) == 0) {
            ax += (s(13) * p - s(18)) * d;
            ay += (s(14) * q - s(19)) * d;
        } else {
            d = std::pow(2.0, (s(27) - s(24) + T) / 100);
            ax += ((s(13) + s(22)) * p - s(18) - s(25)) * d;
            ay += ((s(14) + s(23)) * q - s(19) - s(26)) * d;
        }
    }
    return {ax + (100 - s(16)) * s(18) * d / 100, ay + (100 - s(17)) * s(19) * d / 100, s(16) * d, s(17) * d};
}

struct MOTION_CASE {
    const char* pszName;
    uint8_t bParamType;   // VARTYPE_INT or VARTYPE_FLOAT
    uint8_t bStateType;
    int32_t nParamCount;
    int32_t nStateCount;
    std::vector<double> P;   // 8 values, of which the array holds the first nParamCount
};

MOTION_CASE g_motion;
std::vector<double> g_motionState;

KXV_DEF ArrayDef(uint16_t nVar, uint8_t bType, int32_t n)
{
    return bType == VARTYPE_INT ? MakeIntVarDef(nVar, 0, {n}) : MakeFloatVarDef(nVar, 0.0, {n});
}

TEST_F(MathScriptTest, MotionStepAgainstTheFormulasForEachArrayType)
{
    // State values chosen so that every term counts: all distinct, some negative, some fractional.
    std::vector<double> state(35);
    for (int i = 0; i < 35; ++i) state[i] = (i % 2 ? -1.0 : 1.0) * (i * 3.25 + 1.5);
    state[16] = 90.5;
    state[17] = 80.25;
    state[20] = 50.0;
    state[21] = 40.0;
    std::vector<double> intState(35);
    for (int i = 0; i < 35; ++i) intState[i] = std::trunc(state[i] * 4);   // integral values for int arrays

    const std::vector<MOTION_CASE> cases = {
        {"no motion (P7)", VARTYPE_INT, VARTYPE_FLOAT, 8, 35, {0, 1, 2, 0, 1, 30, 40, 1}},
        {"P1 = P2", VARTYPE_INT, VARTYPE_FLOAT, 8, 35, {0, 3, 3, 0, 1, 30, -40, 0}},
        {"P1 != P2, P4 = 0", VARTYPE_INT, VARTYPE_FLOAT, 8, 35, {0, 1, 2, 0, 0, -30, 40, 0}},
        {"P1 != P2, P4 != 0", VARTYPE_INT, VARTYPE_FLOAT, 8, 35, {0, 1, 2, 0, 5, 30, 40, 0}},
        {"double parameters (read truncated)", VARTYPE_FLOAT, VARTYPE_FLOAT, 8, 35, {0, 1.9, 2.2, 0, 5.5, 31, 41, 0.75}},
        {"int64 state (stored truncated)", VARTYPE_INT, VARTYPE_INT, 8, 35, {0, 1, 2, 0, 5, 30, 40, 0}},
        {"int64 state, no motion", VARTYPE_INT, VARTYPE_INT, 8, 35, {0, 1, 2, 0, 5, 30, 40, -1}},
        {"both double, P4 = 0", VARTYPE_FLOAT, VARTYPE_FLOAT, 8, 35, {0, 4, 7, 0, 0, 30, 40, 0}},
        {"state of 33: only r0 and r1 stored", VARTYPE_INT, VARTYPE_FLOAT, 8, 33, {0, 1, 2, 0, 5, 30, 40, 0}},
        {"state of 32: only r0 stored", VARTYPE_INT, VARTYPE_FLOAT, 8, 32, {0, 1, 2, 0, 0, 30, 40, 0}},
        {"parameters of 3: P4..P7 read 0", VARTYPE_INT, VARTYPE_FLOAT, 3, 35, {0, 1, 2, 9, 9, 9, 9, 9}},
    };
    for (const MOTION_CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        const bool bIntState = c.bStateType == VARTYPE_INT;
        g_motion = c;
        g_motionState = bIntState ? intState : state;
        g_motionState.resize(static_cast<size_t>(c.nStateCount));
        defs = {ArrayDef(1000, c.bParamType, c.nParamCount), ArrayDef(1001, c.bStateType, c.nStateCount)};
        InitScriptBuilder(&b, 0);
        AddLabel(&b, "SYSTEM_START");
        EXPECT_GE(EmitCommand(&b, KXCMD_MOTION_STEP, {ExprArg(0, MakeExprVar(1000)), ExprArg(1, MakeExprVar(1001))}), 0);
        pfnBeforeRun = [] {
            VAR_DESC* pP = GetVarDesc(1000);
            VAR_DESC* pS = GetVarDesc(1001);
            for (int i = 0; i < pP->llCount; ++i) {
                if (pP->bType == KX_VAR_TYPE_INT) pP->pllValues[i] = static_cast<int64_t>(g_motion.P[i]);
                else pP->pdValues[i] = g_motion.P[i];
            }
            for (int i = 0; i < pS->llCount; ++i) {
                if (pS->bType == KX_VAR_TYPE_INT) pS->pllValues[i] = static_cast<int64_t>(g_motionState[i]);
                else pS->pdValues[i] = g_motionState[i];
            }
        };
        ERROR_RECORDER errors;
        Run();
        EXPECT_TRUE(errors.reports.empty());
        EXPECT_TRUE(g_bScriptHalted);

        // The oracle reads what the arrays hold: parameters as int64 (doubles truncated).
        std::vector<double> P(8, 0.0);
        for (int i = 0; i < c.nParamCount; ++i) P[i] = std::trunc(c.P[i]);
        std::vector<double> S(g_motionState.begin(), g_motionState.begin() + std::min(c.nStateCount, 31));
        const std::vector<double> r = MotionOracle(P, S);
        for (int i = 0; i < 4; ++i) {
            const int nElem = KX_MOTION_FIRST_RESULT + i;
            if (nElem >= c.nStateCount) continue;
            if (bIntState) EXPECT_EQ(GetVarInt(1001, nElem), DoubleToInt64(r[i])) << "r" << i;
            else EXPECT_DOUBLE_EQ(GetVarFloat(1001, nElem), r[i]) << "r" << i;
        }
        if (c.nParamCount > 7 && std::trunc(c.P[7]) != 0 && !bIntState && c.nStateCount == 35) {
            EXPECT_EQ(GetVarFloat(1001, 33), state[16]);   // copied as they are
            EXPECT_EQ(GetVarFloat(1001, 34), state[17]);
        }
        // Nothing else of either array changed.
        for (int i = 0; i < std::min(c.nStateCount, 31); ++i) EXPECT_EQ(GetVarFloat(1001, i), g_motionState[i]) << i;
    }

    // A state array shorter than the elements read: those read as 0.
    ASSERT_EQ(ResizeVarArray(GetVarDesc(1001), 20), 0);
    double adResult[KX_MOTION_RESULTS];
    EXPECT_EQ(ComputeMotionStep(1000, 1001, adResult), 0);
    const std::vector<double> r = MotionOracle({0, 1, 2, 0, 0, 0, 0, 0}, std::vector<double>(state.begin(), state.begin() + 20));
    for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(adResult[i], r[i]) << "r" << i;
}

TEST_F(MathScriptTest, MotionStepNeedsTwoVariablesAndANumberState)
{
    // A literal in place of the state array: nothing happens.
    defs = {MakeIntVarDef(1000, 0, {8}), MakeFloatVarDef(1001, 7.0, {35})};
    EXPECT_GE(EmitCommand(&b, KXCMD_MOTION_STEP, {ExprArg(0, MakeExprVar(1000)), ExprArg(1, MakeExprInt(1001))}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_MOTION_STEP, {ExprArg(0, MakeExprVar(1000))}), 0);
    {
        ERROR_RECORDER errors;
        Run();
        EXPECT_TRUE(errors.reports.empty());
        EXPECT_TRUE(g_bScriptHalted);
        EXPECT_EQ(GetVarFloat(1001, 31), 7.0);
    }

    // A text state array of 35 elements: 101140, reported once.
    InitScriptBuilder(&b, 0);
    AddLabel(&b, "SYSTEM_START");
    defs = {MakeIntVarDef(1000, 0, {8}), MakeTextVarDef(1001, "s", {35})};
    EXPECT_GE(EmitCommand(&b, KXCMD_MOTION_STEP, {ExprArg(0, MakeExprVar(1000)), ExprArg(1, MakeExprVar(1001))}), 0);
    {
        ERROR_RECORDER errors;
        Run();
        ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, KX_ERR_VAR_WRONG_TYPE));
        EXPECT_FALSE(g_bScriptHalted);
    }

    // A text state array too short for any result, and a text parameter array (reads 0): no error.
    InitScriptBuilder(&b, 0);
    AddLabel(&b, "SYSTEM_START");
    defs = {MakeTextVarDef(1000, "p", {8}), MakeTextVarDef(1001, "s", {31}), MakeFloatVarDef(1002, 0.0, {35})};
    EXPECT_GE(EmitCommand(&b, KXCMD_MOTION_STEP, {ExprArg(0, MakeExprVar(1000)), ExprArg(1, MakeExprVar(1001))}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_MOTION_STEP, {ExprArg(0, MakeExprVar(1000)), ExprArg(1, MakeExprVar(1002))}), 0);
    {
        ERROR_RECORDER errors;
        Run();
        EXPECT_TRUE(errors.reports.empty());
        EXPECT_TRUE(g_bScriptHalted);
        // All parameters 0: P1 = P2, and every S is 0, so the results are 0 x 2^0.
        EXPECT_EQ(GetVarFloat(1002, 31), 0.0);
        EXPECT_EQ(GetVarFloat(1002, 33), 0.0);
    }
}

}  // namespace

namespace {

int64_t SysReadInt(int nVar, int64_t llElem) { return nVar == 501 ? (llElem == 1 ? 4 : llElem == 5 ? 12 : 0) : 0; }
double SysReadFloat(int nVar, int64_t llElem) { return nVar == 500 ? 0.5 * static_cast<double>(llElem) - 3 : 0.0; }

}  // namespace

// System variables are read through the engine's readers, element by element.
TEST(MotionStep, SystemVariablesAreReadThroughTheirReaders)
{
    ASSERT_EQ(CreateVarTable(1000), 0);
    for (int nVar : {500, 501}) {
        VAR_DESC* p = GetVarDesc(nVar);
        p->nDims = 1;
        p->anDim[0] = nVar == 500 ? 35 : 8;
        ASSERT_EQ(nVar == 500 ? InitVarFloat(p, 99.0) : InitVarInt(p, 99), 0);
    }
    const KX_SYSVAR_HOOKS old = g_SysVarHooks;
    g_SysVarHooks = {SysReadInt, SysReadFloat, nullptr, nullptr};
    double adResult[KX_MOTION_RESULTS];
    EXPECT_EQ(ComputeMotionStep(501, 500, adResult), 0);
    g_SysVarHooks = old;
    FreeVarTable();

    std::vector<double> S(31);
    for (int i = 0; i < 31; ++i) S[i] = 0.5 * i - 3;
    const std::vector<double> r = MotionOracle({0, 4, 0, 0, 0, 12, 0, 0}, S);
    for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(adResult[i], r[i]) << "r" << i;
}
