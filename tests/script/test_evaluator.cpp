// The expression evaluator: operators in the four modes, texts and escapes, conversions,
// variables with subscripts and references, system variables, declaration and constant modes,
// and damaged byte code.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "core/engine_globals.h"
#include "core/engine_hooks.h"
#include "core/kx_math.h"
#include "script/evaluator.h"
#include "script/variables.h"
#include "tests/support/engine_test.h"
#include "tests/support/test_support.h"
#include "tools/lib/expr_assembler.h"

namespace {

const int64_t kMin64 = std::numeric_limits<int64_t>::min();
const int64_t kMax64 = std::numeric_limits<int64_t>::max();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
typedef std::vector<uint8_t> CODE;

// Byte code from a small postfix notation, tokens separated by blanks:
//   12 -3         integer literals (smallest width)      1.5 nan inf -inf   double literals
//   "text"        text literal (no blank inside)          + - * / % = ! > < Z S A O ^ & | , R s i )
//   @1000         variable value ('H')                    @1000[   open an array access ('V')
//   #@1000 `@1000 prefixed variable                       v@1000   whole-variable reference
CODE Asm(const std::string& src)
{
    CODE c;
    size_t i = 0;
    while (i < src.size()) {
        if (src[i] == ' ') { ++i; continue; }
        size_t j = src.find(' ', i);
        if (j == std::string::npos) j = src.size();
        std::string t = src.substr(i, j - i);
        i = j;
        uint8_t bPrefix = EXPR_PREFIX_NONE;
        bool bRef = false;
        if (t[0] == '#' && t.size() > 1) { bPrefix = EXPR_PREFIX_HASH; t.erase(0, 1); }
        else if (t[0] == '`') { bPrefix = EXPR_PREFIX_BACKQUOTE; t.erase(0, 1); }
        else if (t.size() > 1 && t[0] == 'v' && t[1] == '@') { bRef = true; t.erase(0, 1); }
        if (t[0] == '"') {
            EXPECT_EQ(ExprAsmText(c, t.substr(1, t.size() - 2)), 0);
        } else if (t[0] == '@') {
            const bool bOpen = t.back() == '[';
            const uint16_t nVar = static_cast<uint16_t>(std::stoi(t.substr(1)));
            if (bRef) ExprAsmVarRef(c, nVar, bPrefix);
            else if (bOpen) ExprAsmOpen(c, nVar, bPrefix);
            else ExprAsmVar(c, nVar, bPrefix);
        } else if (t == "nan") {
            ExprAsmDouble(c, kNaN);
        } else if (t == "inf" || t == "-inf") {
            ExprAsmDouble(c, t[0] == '-' ? -INFINITY : INFINITY);
        } else if (t.size() == 1 && !(t[0] >= '0' && t[0] <= '9')) {
            ExprAsmOp(c, t[0]);
        } else if (t.find_first_of(".e") != std::string::npos) {
            ExprAsmDouble(c, std::stod(t));
        } else {
            ExprAsmInt(c, std::stoll(t));
        }
    }
    return c;
}

int64_t EvalInt(const CODE& c) { return EvalExprInt(c.data(), static_cast<uint32_t>(c.size())); }
double EvalFloat(const CODE& c) { return EvalExprFloat(c.data(), static_cast<uint32_t>(c.size())); }
std::string EvalText(const CODE& c, int nMode = KX_EXPR_MODE_TEXT_INT)
{
    char buf[KX_EXPR_TEXT_BUFFER];
    memset(buf, 'X', sizeof buf);
    const int n = nMode == KX_EXPR_MODE_TEXT_INT ? EvalExprString(buf, sizeof buf, c.data(), static_cast<uint32_t>(c.size()))
                                                 : EvalExprStringFloat(buf, sizeof buf, c.data(), static_cast<uint32_t>(c.size()));
    EXPECT_EQ(static_cast<size_t>(n), strlen(buf));
    return std::string(buf, static_cast<size_t>(n));
}

// Runs the code from an allocation of exactly its size, so a read past the end is caught.
int RunExact(const CODE& c, int nMode)
{
    std::unique_ptr<uint8_t[]> p(new uint8_t[c.size() ? c.size() : 1]);
    if (!c.empty()) memcpy(p.get(), c.data(), c.size());
    g_nExprMode = nMode;
    return RunExprCode(p.get(), static_cast<uint32_t>(c.size()));
}

std::string Repeat(const std::string& s, int n)
{
    std::string r;
    for (int k = 0; k < n; ++k) r += s;
    return r;
}

// System variables as the fake engine answers them; every read is recorded.
struct SYSREAD {
    int nVar;
    int64_t llElem;
};
std::vector<SYSREAD> g_sysReads;
int64_t FakeSysInt(int nVar, int64_t llElem) { g_sysReads.push_back({nVar, llElem}); return nVar * 1000 + llElem; }
double FakeSysFloat(int nVar, int64_t llElem) { g_sysReads.push_back({nVar, llElem}); return static_cast<double>(llElem) + 0.5; }
int FakeSysString(int nVar, char* pszOut, int64_t llElem)
{
    g_sysReads.push_back({nVar, llElem});
    return snprintf(pszOut, KX_VAR_TEXT_BUFFER, "sys%d:%lld", nVar, static_cast<long long>(llElem));
}

// A table of 1100 descriptors: user variables 1000.. and a few system variables with the fake
// engine behind them.
class EvalTest : public EngineTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CreateVarTable(1100), 0);
        g_SysVarHooks = {FakeSysInt, FakeSysFloat, FakeSysString, nullptr};
        g_sysReads.clear();
    }
    static VAR_DESC* Shape(int nVar, std::vector<int32_t> dims)
    {
        VAR_DESC* p = GetVarDesc(nVar);
        p->nDims = static_cast<int8_t>(dims.size());
        for (size_t i = 0; i < dims.size(); ++i) p->anDim[i] = dims[i];
        return p;
    }
    static void DeclareInt(int nVar, std::vector<int32_t> dims, std::vector<int64_t> values)
    {
        VAR_DESC* p = Shape(nVar, dims);
        ASSERT_EQ(InitVarInt(p, 0), 0);
        for (size_t i = 0; i < values.size(); ++i) p->pllValues[i] = values[i];
    }
    static void DeclareFloat(int nVar, std::vector<double> values)
    {
        VAR_DESC* p = Shape(nVar, {static_cast<int32_t>(values.size())});
        ASSERT_EQ(InitVarFloat(p, 0.0), 0);
        for (size_t i = 0; i < values.size(); ++i) p->pdValues[i] = values[i];
    }
    static void DeclareText(int nVar, std::vector<std::string> texts)
    {
        VAR_DESC* p = Shape(nVar, {static_cast<int32_t>(texts.size())});
        ASSERT_EQ(InitVarString(p, "", 0), 0);
        for (size_t i = 0; i < texts.size(); ++i) ASSERT_EQ(SetVarString(nVar, static_cast<int64_t>(i), texts[i].c_str()), 0);
    }
    // A system variable's descriptor: its type and dimensions (no values: the engine computes them).
    static void DeclareSys(int nVar, int nType, std::vector<int32_t> dims)
    {
        VAR_DESC* p = Shape(nVar, dims);
        p->bType = static_cast<uint8_t>(nType);
    }
};

}  // namespace

TEST_F(EvalTest, IntegerArithmetic)
{
    const struct { const char* psz; int64_t v; } cases[] = {
        {"7 2 /", 3}, {"-7 2 /", -3}, {"-7 2 %", -1}, {"7 -2 %", 1},
        {"7 0 /", 0}, {"7 0 %", 0},
        {"-9223372036854775808 -1 /", kMin64}, {"-9223372036854775808 -1 %", 0},
        {"9223372036854775807 1 +", kMin64}, {"-9223372036854775808 1 -", kMax64},
        {"9223372036854775807 2 *", -2}, {"-9223372036854775808 R", kMin64}, {"5 R", -5},
        {"12 10 A", 8}, {"12 10 O", 14}, {"12 10 ^", 6},
        {"2 3 &", 1}, {"2 0 &", 0}, {"0 0 |", 0}, {"0 -5 |", 1},
        {"3 2 >", 1}, {"2 3 >", 0}, {"3 2 <", 0}, {"3 3 Z", 1}, {"2 3 Z", 0}, {"3 3 S", 1}, {"4 3 S", 0},
        {"3 3 =", 1}, {"3 4 =", 0}, {"3 3 !", 0}, {"3 4 !", 1},
        {"1000 -129 +", 871}, {"100000 2 *", 200000}, {"1099511627776 1 +", 1099511627777},
        {"2.9", 2}, {"-2.9", -2}, {"nan", kMin64}, {"1e300", kMin64}, {"-inf", kMin64}, {"2.5 2.5 +", 4},
        {"1 2 ,", 1},                        // ',' does nothing: slot 0 stays the first value
        {"\"ab\" 1 -", -1}, {"\"ab\" R", 0}, // a text counts as 0 where a number is read
        {"\"ab\" 1 >", 0}, {"\"ab\" \"cd\" <", 0},
        {"", 0},
    };
    for (const auto& c : cases) {
        ERROR_RECORDER errors;
        EXPECT_EQ(EvalInt(Asm(c.psz)), c.v) << c.psz;
        EXPECT_TRUE(errors.reports.empty()) << c.psz;
    }
}

TEST_F(EvalTest, FloatingArithmeticAndNaNComparisons)
{
    const struct { const char* psz; double v; } cases[] = {
        {"7.0 2 /", 3.5}, {"7.0 0.0 /", 0.0}, {"7.0 0 /", 0.0}, {"7.0 nan /", 0.0},
        {"1.5 2.25 +", 3.75}, {"1 3 -", -2.0}, {"1.5 4 *", 6.0}, {"2.5 R", -2.5}, {"5", 5.0},
        {"7.5 2 %", 7.5}, {"6.5 3 A", 6.5}, {"6.5 3 O", 6.5}, {"6.5 3 ^", 6.5},   // integer-only: left stays
        {"nan 1.0 =", 1}, {"nan 1.0 !", 0}, {"nan 1.0 >", 0}, {"nan 1.0 <", 1}, {"nan 1.0 Z", 0}, {"nan 1.0 S", 1},
        {"1.0 nan =", 1}, {"1.0 nan <", 1}, {"nan nan !", 0},
        {"2.0 1.0 >", 1}, {"1.0 2.0 >", 0}, {"1.0 1.0 =", 1}, {"1.0 1.0 !", 0}, {"1.0 2.0 <", 1}, {"2.0 1.0 <", 0},
        {"1.0 1.0 Z", 1}, {"1.0 1.5 Z", 0}, {"1.0 1.0 S", 1}, {"1.5 1.0 S", 0},
        {"nan 1.0 &", 0}, {"nan 0.0 |", 0}, {"0.5 0.0 |", 1}, {"0.5 -2.0 &", 1},
        {"9223372036854775807 1 +", 9223372036854775808.0},
    };
    for (const auto& c : cases) {
        ERROR_RECORDER errors;
        EXPECT_EQ(EvalFloat(Asm(c.psz)), c.v) << c.psz;
        EXPECT_TRUE(errors.reports.empty()) << c.psz;
    }
    const CODE neg = Asm("-2.7");
    EXPECT_EQ(EvalExprFloatToInt(neg.data(), static_cast<uint32_t>(neg.size())), -2);
    const CODE nan = Asm("nan");
    EXPECT_EQ(EvalExprFloatToInt(nan.data(), static_cast<uint32_t>(nan.size())), kMin64);
    const CODE div = Asm("7 2 /");
    EXPECT_EQ(EvalExprIntAsFloat(div.data(), static_cast<uint32_t>(div.size())), 3.0);
}

TEST_F(EvalTest, TextsConcatenationAndComparison)
{
    const std::string so = Cp932("ソ表");   // both trail bytes are 0x5C
    const struct { std::string src; int nMode; std::string v; } cases[] = {
        {"\"abc\" \"def\" +", KX_EXPR_MODE_TEXT_INT, "abcdef"},
        {"\"abc\" \"def\" +", KX_EXPR_MODE_TEXT_FLOAT, "abcdef"},
        {"\"" + so + "\" \"" + so + "\" +", KX_EXPR_MODE_TEXT_INT, so + so},
        {"-12 s", KX_EXPR_MODE_TEXT_INT, "-12"},
        {"-9223372036854775808 s", KX_EXPR_MODE_TEXT_INT, "-9223372036854775808"},
        {"1.5 s", KX_EXPR_MODE_TEXT_FLOAT, "1.500000"},
        {"1.5 s", KX_EXPR_MODE_TEXT_INT, "1"},         // truncated on the push in integer arithmetic
        {"nan s", KX_EXPR_MODE_TEXT_FLOAT, "nan"},
        {"\"x\" s", KX_EXPR_MODE_TEXT_INT, "x"},       // 's' leaves a text as it is
        {"\"n=\" 7 s +", KX_EXPR_MODE_TEXT_INT, "n=7"},
        {"42", KX_EXPR_MODE_TEXT_INT, ""},             // a number gives the empty text
        {"", KX_EXPR_MODE_TEXT_FLOAT, ""},
    };
    for (const auto& c : cases) {
        ERROR_RECORDER errors;
        EXPECT_EQ(EvalText(Asm(c.src), c.nMode), c.v) << c.src;
        EXPECT_TRUE(errors.reports.empty()) << c.src;
    }
    // Comparisons of texts give numbers in the column of the arithmetic.
    EXPECT_EQ(EvalInt(Asm("\"ab\" \"ab\" =")), 1);
    EXPECT_EQ(EvalInt(Asm("\"ab\" \"abc\" =")), 0);
    EXPECT_EQ(EvalFloat(Asm("\"ab\" \"abc\" !")), 1.0);
    EXPECT_EQ(EvalInt(Asm("\"" + so + "\" \"" + so + "\" =")), 1);
}

TEST_F(EvalTest, ConcatenationKeepsTheLeftTextWhenTheSumReachesTheBuffer)
{
    DeclareText(1000, {std::string(2048, 'a'), std::string(2048, 'b'), std::string(2047, 'c')});
    EXPECT_EQ(EvalText(Asm("@1000[ 0 ) @1000[ 1 ) +")), std::string(2048, 'a'));
    EXPECT_EQ(EvalText(Asm("@1000[ 2 ) @1000[ 1 ) +")), std::string(2047, 'c') + std::string(2048, 'b'));
}

TEST_F(EvalTest, TextMixedWithNumberIsAnError)
{
    for (const char* psz : {"\"ab\" 1 +", "1 \"ab\" +", "\"ab\" 1 =", "1.5 \"ab\" !"}) {
        ERROR_RECORDER errors;
        EXPECT_EQ(RunExact(Asm(psz), KX_EXPR_MODE_INT), -1) << psz;
        ExpectOneFatalError(errors, KX_ERR_EXPR_TEXT_OPERAND, psz);
    }
}

TEST_F(EvalTest, TextLiteralEscapes)
{
    auto literal = [](const std::string& payload) {
        CODE c;
        ExprAsmToken(c, 'M', payload.data(), payload.size());
        return c;
    };
    const struct { std::string payload; std::string v; } cases[] = {
        {"\"a\\qb\"", "aqb"},
        {"\"a\\nb\"", "a\nb"},
        {"\"a\\tb\"", "a\tb"},
        {"\"a\\\\b\"", "a\\b"},
        {"\"a\\\"b\"", "a"},               // a backslash before the quote ends the literal
        {"'a\"b'", "a\"b"},                // any quote character
        {"\"\x83\x5C\"", "\x83\x5C"},      // the trail byte 0x5C is no escape
        {"\"\x83\"\"", "\x83\""},          // nor is a trail byte equal to the quote
        {"\"\\\x83\x5C\"", "\x83\x5C"},    // an escaped lead byte keeps its trail byte
        {"\"ab\"rest", "ab"},              // bytes after the closing quote are skipped
        {"\"\"", ""},
    };
    for (const auto& c : cases) {
        ERROR_RECORDER errors;
        EXPECT_EQ(EvalText(literal(c.payload)), c.v) << c.payload;
        EXPECT_TRUE(errors.reports.empty()) << c.payload;
    }
    // The longest text fits a buffer exactly.
    EXPECT_EQ(EvalText(MakeExprText(std::string(4095, 'z'))).size(), 4095u);
}

TEST_F(EvalTest, TextOutputIsCutAtAWholeCharacter)
{
    const CODE c = MakeExprText(Cp932("ソソ"));
    char buf[4] = {'X', 'X', 'X', 'X'};
    EXPECT_EQ(EvalExprString(buf, sizeof buf, c.data(), static_cast<uint32_t>(c.size())), 2);
    EXPECT_STREQ(buf, Cp932("ソ").c_str());
}

TEST_F(EvalTest, TextToNumber)
{
    const struct { const char* psz; int64_t v; double d; } cases[] = {
        {"\"0x1F\" i", 31, 31.0},
        {"\"0x1fz\" i", 31, 31.0},   // the number ends at the first other character
        {"\"0xffffffffffffffff\" i", -1, -1.0},
        {"\"1.9\" i", 1, 1.9},
        {"\"-1.5\" i", -1, -1.5},
        {"\"1.2.3\" i", 1, 1.2},
        {"\".\" i", 0, 0.0},
        {"\"12\" i", 12, 12.0},
        {"\"\" i", 0, 0.0},
        {"\"--1\" i", 0, 0.0},
        {"\"1-2\" i", 1, 1.0},
        {"\"99999999999999999999\" i", kMax64, 9223372036854775807.0},   // saturates
        {"\"-99999999999999999999\" i", kMin64, -9223372036854775808.0},
        {"5 i", 5, 5.0},             // a number stays
        {"\"7\" i 1 +", 8, 8.0},
    };
    for (const auto& c : cases) {
        ERROR_RECORDER errors;
        EXPECT_EQ(EvalInt(Asm(c.psz)), c.v) << c.psz;
        EXPECT_EQ(EvalFloat(Asm(c.psz)), c.d) << c.psz;
        EXPECT_TRUE(errors.reports.empty()) << c.psz;
    }
    for (const std::string& t : std::vector<std::string>{"12a", "0X1F", "+1", "1e5", Cp932("１")}) {
        ERROR_RECORDER errors;
        EXPECT_EQ(RunExact(Asm("\"" + t + "\" i"), KX_EXPR_MODE_INT), -1) << t;
        ExpectOneFatalError(errors, KX_ERR_EXPR_NOT_NUMBER, t);
    }
    // A hex text without digits or with more than 16 fails the evaluation without a message.
    for (const char* psz : {"\"0x\" i", "\"0xg\" i", "\"0x11112222333344445\" i"}) {
        ERROR_RECORDER errors;
        EXPECT_EQ(RunExact(Asm(psz), KX_EXPR_MODE_INT), -1) << psz;
        EXPECT_TRUE(errors.reports.empty()) << psz;
        EXPECT_EQ(g_bEngineStop.load(), 0);
    }
}

TEST_F(EvalTest, SaturatingDecimalParse)
{
    const struct { const char* psz; int64_t v; size_t stop; } cases[] = {
        {"9223372036854775807", kMax64, 19}, {"9223372036854775808", kMax64, 19},
        {"-9223372036854775808", kMin64, 20}, {"-9223372036854775809", kMin64, 20},
        {"123456789012345678901234x", kMax64, 24}, {"--1", 0, 0}, {"1-2", 1, 1}, {"", 0, 0},
    };
    for (const auto& c : cases) {
        const char* pEnd = nullptr;
        EXPECT_EQ(ParseInt64Saturating(c.psz, &pEnd), c.v) << c.psz;
        EXPECT_EQ(static_cast<size_t>(pEnd - c.psz), c.stop) << c.psz;
    }
}

TEST_F(EvalTest, VariablesBySubscripts)
{
    DeclareInt(1000, {3}, {10, 20, 30});
    DeclareInt(1001, {2, 3}, {0, 1, 2, 3, 4, 5});
    DeclareFloat(1002, {-2.7, 0.25});
    DeclareText(1003, {"zero", Cp932("一")});
    DeclareInt(1004, {1}, {2});
    const struct { const char* psz; int64_t v; double d; int64_t elem; } cases[] = {
        {"@1000", 10, 10.0, 0},
        {"@1000[ 2 )", 30, 30.0, 2},
        {"@1001[ 1 , 2 )", 5, 5.0, 5},                       // row-major, last subscript fastest
        {"@1001[ 1 )", 3, 3.0, 3},                           // a missing subscript counts as 0
        {"@1000[ 4294967297 )", 20, 20.0, 1},                // only the checked low 32 bits address
        {"@1000[ @1004[ 0 ) )", 30, 30.0, 2},                // nested access
        {"@1000[ 5 2 / )", 30, 30.0, 2},                     // subscripts use integer arithmetic
        {"@1002", -2, -2.7, 0},
        {"@1002[ 1 ) @1000[ 1 ) +", 20, 20.25, 1},
        {"@1003", 0, 0.0, 0},                                // a text counts as 0
    };
    for (const auto& c : cases) {
        ERROR_RECORDER errors;
        EXPECT_EQ(EvalInt(Asm(c.psz)), c.v) << c.psz;
        EXPECT_EQ(g_nRefElem, c.elem) << c.psz;
        EXPECT_EQ(EvalFloat(Asm(c.psz)), c.d) << c.psz;
        EXPECT_TRUE(errors.reports.empty()) << c.psz;
    }
    EXPECT_EQ(EvalText(Asm("@1003[ 1 ) @1003 +")), Cp932("一") + "zero");
    EXPECT_EQ(g_nRefVar, 1003);
    EXPECT_EQ(g_nRefElem, 0);

    // The designation stays from the last evaluation that had a variable token.
    EvalInt(Asm("@1001[ 1 , 1 )"));
    EXPECT_EQ(EvalInt(Asm("7 8 +")), 15);
    EXPECT_EQ(g_nRefVar, 1001);
    EXPECT_EQ(g_nRefElem, 4);
    EXPECT_EQ(g_bRefTaken, 0);
}

TEST_F(EvalTest, LongVariableTextIsCutToTheBuffer)
{
    DeclareText(1000, {std::string(4094, 'a') + Cp932("表") + "b"});
    EXPECT_EQ(EvalText(Asm("@1000")), std::string(4094, 'a'));
}

TEST_F(EvalTest, UntypedVariablePushesZero)
{
    EXPECT_EQ(EvalInt(Asm("99")), 99);
    EXPECT_EQ(EvalInt(Asm("@1005")), 0);
    EXPECT_EQ(EvalFloat(Asm("@1005 1.5 +")), 1.5);
}

TEST_F(EvalTest, SubscriptErrors)
{
    DeclareInt(1000, {3}, {10, 20, 30});
    DeclareInt(1001, {2, 3}, {});
    const struct { const char* psz; int nId; } cases[] = {
        {"@1000[ 3 )", KX_ERR_EXPR_SUBSCRIPT_RANGE},
        {"@1000[ -1 )", KX_ERR_EXPR_SUBSCRIPT_RANGE},
        {"@1001[ 0 , 3 )", KX_ERR_EXPR_SUBSCRIPT_RANGE},
        {"@1001[ 2 , 0 )", KX_ERR_EXPR_SUBSCRIPT_RANGE},
        {"@1000[ \"1\" )", KX_ERR_EXPR_TEXT_OPERAND},
        {"@1100", KX_ERR_EXPR_NO_VARIABLE},        // beyond the variable table
        {"@65535[ 0 )", KX_ERR_EXPR_NO_VARIABLE},
        {"v@1200", KX_ERR_EXPR_NO_VARIABLE},
    };
    for (const auto& c : cases) {
        ERROR_RECORDER errors;
        EXPECT_EQ(RunExact(Asm(c.psz), KX_EXPR_MODE_INT), -1) << c.psz;
        ExpectOneFatalError(errors, c.nId, c.psz);
    }
}

TEST_F(EvalTest, ReferencesAndWholeVariable)
{
    DeclareInt(1000, {3}, {10, 20, 30});
    const int64_t base = int64_t{1000} << 32;
    const struct { const char* psz; int64_t v; uint8_t prefix; } cases[] = {
        {"#@1000", base, KX_EXPR_PREFIX_HASH},
        {"`@1000", base, KX_EXPR_PREFIX_BACKQUOTE},
        {"#@1000[ 2 )", base + 2, KX_EXPR_PREFIX_HASH},
        {"@1000", 10, KX_EXPR_PREFIX_NONE},
        {"#@1005", int64_t{1005} << 32, KX_EXPR_PREFIX_HASH},   // a reference to an untyped variable
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EvalInt(Asm(c.psz)), c.v) << c.psz;
        EXPECT_EQ(g_nRefPrefix, c.prefix) << c.psz;
    }
    EXPECT_EQ(EvalFloat(Asm("#@1000[ 1 )")), static_cast<double>(base + 1));

    EXPECT_EQ(EvalInt(Asm("v@1000")), 0);
    EXPECT_EQ(g_bRefTaken, 1);
    EXPECT_EQ(g_nRefVar, 1000);
    EXPECT_EQ(g_nRefElem, 0);
    EvalInt(Asm("@1000"));
    EXPECT_EQ(g_bRefTaken, 0);
}

TEST_F(EvalTest, SystemVariablesComeFromTheEngine)
{
    DeclareSys(5, KX_VAR_TYPE_INT, {});
    DeclareSys(6, KX_VAR_TYPE_FLOAT, {});
    DeclareSys(7, KX_VAR_TYPE_STRING, {});
    DeclareSys(8, KX_VAR_TYPE_INT, {4});
    EXPECT_EQ(EvalInt(Asm("@5")), 5000);
    EXPECT_EQ(EvalInt(Asm("@8[ 3 )")), 8003);
    EXPECT_EQ(EvalFloat(Asm("@6")), 0.5);
    EXPECT_EQ(EvalInt(Asm("@6")), 0);
    EXPECT_EQ(EvalText(Asm("@7 \"!\" +")), "sys7:0!");
    EXPECT_EQ(EvalInt(Asm("#@5")), 0);   // a system variable has no reference
    EXPECT_EQ(EvalInt(Asm("@9")), 0);    // no type
    ERROR_RECORDER errors;
    EXPECT_EQ(RunExact(Asm("@8[ 4 )"), KX_EXPR_MODE_INT), -1);
    ExpectOneFatalError(errors, KX_ERR_EXPR_SUBSCRIPT_RANGE);
}

TEST_F(EvalTest, IndirectSystemVariables)
{
    DeclareSys(50, KX_VAR_TYPE_INT, {1});
    DeclareSys(51, KX_VAR_TYPE_FLOAT, {1});
    DeclareSys(52, KX_VAR_TYPE_STRING, {1});
    DeclareSys(70, KX_VAR_TYPE_INT, {1});
    DeclareInt(1000, {3}, {10, 20, 30});
    DeclareInt(1001, {2, 3}, {});
    const int64_t ref1000 = int64_t{1000} << 32, ref1001 = int64_t{1001} << 32;
    const struct { const char* psz; int nVar; int64_t elem; } cases[] = {
        {"@50[ #@1000[ 2 ) )", 50, ref1000 + 2},       // one subscript: the reference itself
        {"@70[ #@1000[ 2 ) )", 70, ref1000 + 2},
        {"@52[ #@1000 1 )", 52, ref1000 + 1},          // two: the second addresses the referenced array
        {"@50[ #@1000[ 2 ) 2 )", 50, ref1000 + 2},
        {"@50[ #@1001 7 )", 50, ref1001 + 7},          // not one-dimensional: taken unchecked
        {"@50[ #@1000 5 + 9 )", 50, ref1000 + 9},       // element part not below the size: unchecked
        // Two or more after the reference: the referenced array's coordinates, row-major.
        {"@50[ #@1001 1 , 2 )", 50, ref1001 + 5},
        {"@51[ #@1001 0 , 2 )", 51, ref1001 + 2},
        {"@52[ #@1001 1 , 0 )", 52, ref1001 + 3},
        {"@70[ #@1001 1 , 1 )", 70, ref1001 + 4},
        {"@50[ #@1001[ 1 , 1 ) 0 , 0 )", 50, ref1001},  // the reference's own element does not count
    };
    for (const auto& c : cases) {
        ERROR_RECORDER errors;
        g_sysReads.clear();
        EXPECT_EQ(RunExact(Asm(c.psz), KX_EXPR_MODE_TEXT_INT), 0) << c.psz;
        EXPECT_TRUE(errors.reports.empty()) << c.psz;
        ASSERT_EQ(g_sysReads.size(), 1u) << c.psz;
        EXPECT_EQ(g_sysReads[0].llElem, c.elem) << c.psz;
        EXPECT_EQ(g_nRefVar, c.nVar) << c.psz;
        EXPECT_EQ(g_nRefElem, c.elem) << c.psz;
    }
    const struct { const char* psz; int nId; } errs[] = {
        {"@50[ #@1000 3 )", KX_ERR_EXPR_SUBSCRIPT_RANGE},
        {"@50[ #@1000 1 , 1 )", KX_ERR_EXPR_SUBSCRIPT_COUNT},
        {"@50[ #@1001 2 , 0 )", KX_ERR_EXPR_SUBSCRIPT_RANGE},
        {"@50[ #@1001 0 , 3 )", KX_ERR_EXPR_SUBSCRIPT_RANGE},
        {"@52[ #@1001 0 , -1 )", KX_ERR_EXPR_SUBSCRIPT_RANGE},
        {"@50[ #@1001 1 , 2 , 0 )", KX_ERR_EXPR_SUBSCRIPT_COUNT},
        {"@50[ 4294967296000000 1 )", KX_ERR_EXPR_SUBSCRIPT_RANGE},   // variable 1000000: outside the table
    };
    for (const auto& c : errs) {
        ERROR_RECORDER errors;
        g_sysReads.clear();
        EXPECT_EQ(RunExact(Asm(c.psz), KX_EXPR_MODE_INT), -1) << c.psz;
        ExpectOneFatalError(errors, c.nId, c.psz);
        EXPECT_TRUE(g_sysReads.empty()) << c.psz;
    }
}

TEST_F(EvalTest, DeclarationModeRecordsNameAndDimensions)
{
    g_bDeclMode = 1;
    ERROR_RECORDER errors;
    EXPECT_EQ(EvalInt(Asm("@1010[ 3 , 2 2 * )")), 0);
    EXPECT_EQ(g_nRefVar, 1010);
    ASSERT_EQ(g_nSubscriptCount, 2);
    EXPECT_EQ(g_allSubscript[0], 3);
    EXPECT_EQ(g_allSubscript[1], 4);

    EvalInt(Asm("42"));
    EXPECT_EQ(EvalInt(Asm("#@1011")), 0);   // only recorded: nothing is pushed
    EXPECT_EQ(g_nRefVar, 1011);
    EXPECT_EQ(g_nRefPrefix, KX_EXPR_PREFIX_HASH);
    EXPECT_TRUE(errors.reports.empty());

    // Inside the subscripts variables are read as usual.
    DeclareInt(1000, {1}, {6});
    EXPECT_EQ(EvalInt(Asm("@1012[ @1000 )")), 0);
    EXPECT_EQ(g_nRefVar, 1012);
    EXPECT_EQ(g_allSubscript[0], 6);
    EXPECT_TRUE(errors.reports.empty());
}

TEST_F(EvalTest, ConstantModeRejectsVariablesWithoutAMessage)
{
    DeclareInt(1000, {1}, {5});
    RegisterExprOps(0);
    ERROR_RECORDER errors;
    for (const char* psz : {"@1000 1 +", "@1000[ 0 )", "v@1000"}) {
        g_bNotConstant = 0;
        EXPECT_EQ(RunExact(Asm(psz), KX_EXPR_MODE_TEXT_INT), -1) << psz;
        EXPECT_EQ(g_bNotConstant, 1) << psz;
    }
    g_bNotConstant = 0;
    EXPECT_EQ(EvalText(Asm("\"lab\" \"el\" +")), "label");
    EXPECT_EQ(g_bNotConstant, 0);
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_EQ(g_bEngineStop.load(), 0);
    RegisterExprOps(1);
    EXPECT_EQ(EvalInt(Asm("@1000 1 +")), 6);
}

TEST_F(EvalTest, MalformedByteCodeIsReported)
{
    DeclareInt(1000, {3}, {1, 2, 3});
    DeclareInt(1001, {1}, {0});
    auto raw = [](std::initializer_list<uint8_t> bytes) { return CODE(bytes); };
    auto literal = [](const std::string& payload) {
        CODE c;
        ExprAsmToken(c, 'M', payload.data(), payload.size());
        return c;
    };
    auto repeat = [](const std::string& s, int n) { return Asm(Repeat(s, n)); };
    const struct { const char* pszName; CODE code; } cases[] = {
        {"token cut in its header", raw({'B', 0x01})},
        {"payload beyond the end", raw({'B', 0x05, 0x00, 0x01})},
        {"second token cut", raw({'B', 0x01, 0x00, 0x01, '+'})},
        {"'L' shorter than 8 bytes", raw({'L', 0x04, 0x00, 1, 2, 3, 4})},
        {"'F' shorter than 8 bytes", raw({'F', 0x01, 0x00, 1})},
        {"'W' shorter than 2 bytes", raw({'W', 0x01, 0x00, 1})},
        {"'H' shorter than 3 bytes", raw({'H', 0x02, 0x00, 0x00, 0xE8})},
        {"unknown opcode", raw({'Q', 0x00, 0x00})},
        {"opcode 0", raw({0x00, 0x00, 0x00})},
        {"unclosed literal", literal("\"abc")},
        {"literal ending in a backslash", literal("\"ab\\")},
        {"literal ending in a lead byte", literal("\"a\x83")},
        {"literal without quote", literal("\"")},
        {"text over 4095 bytes", MakeExprText(std::string(4096, 'y'))},
        {"binary operator on one value", Asm("1 +")},
        {"binary operator on none", Asm("*")},
        {"negate on empty stack", Asm("R")},
        {"to text on empty stack", Asm("s")},
        {"to number on empty stack", Asm("i")},
        {"close at depth 0", Asm("1 )")},
        {"access left open", Asm("@1000[ 1")},
        {"placeholder consumed", Asm("1 @1000[ + )")},
        {"nine subscripts", Asm("@1000[ 1 , 1 , 1 , 1 , 1 , 1 , 1 , 1 , 1 )")},
        {"stack of 1025 slots", repeat("1 ", 1025)},
        {"1024 texts", Asm("\"a\" " + Repeat("\"a\" + ", 1023))},
        {"nesting of 129", Asm(Repeat("@1000[ ", 129))},
    };
    for (const auto& c : cases) {
        for (int nMode = KX_EXPR_MODE_INT; nMode <= KX_EXPR_MODE_TEXT_FLOAT; ++nMode) {
            ERROR_RECORDER errors;
            EXPECT_EQ(RunExact(c.code, nMode), -1) << c.pszName;
            ExpectOneFatalError(errors, KX_ERR_EXPR_BAD_CODE, c.pszName);
        }
    }
    // At the limits themselves everything works.
    ERROR_RECORDER errors;
    EXPECT_EQ(RunExact(repeat("1 ", 1024), KX_EXPR_MODE_INT), 0);
    EXPECT_EQ(RunExact(Asm("\"a\" " + Repeat("\"a\" + ", 1022)), KX_EXPR_MODE_TEXT_INT), 0);
    EXPECT_EQ(RunExact(Asm("@1000[ 1 , 1 , 1 , 1 , 1 , 1 , 1 , 1 )"), KX_EXPR_MODE_INT), 0);
    EXPECT_EQ(RunExact(Asm(Repeat("@1001[ ", 128) + "0 " + Repeat(") ", 128)), KX_EXPR_MODE_INT), 0);
    EXPECT_TRUE(errors.reports.empty());
}

TEST_F(EvalTest, FailedEvaluationDeliversSlotZero)
{
    ERROR_RECORDER errors;
    EXPECT_EQ(EvalText(Asm("\"kept\" Q")), "kept");   // 'Q' is no opcode
    EXPECT_EQ(EvalInt(Asm("5 \"x\" +")), 5);
    EXPECT_EQ(errors.reports.size(), 2u);
}

TEST_F(EvalTest, TablesAndStartUpSteps)
{
    EXPECT_EQ(g_EngineHooks.pfnInitEvaluatorTables, &InitEvaluatorTables);
    EXPECT_EQ(g_EngineHooks.pfnRegisterExprOps, &RegisterExprOps);
    const struct { int t; EVAL_INT_FN i; EVAL_FLOAT_FN f; EVAL_STRING_FN s; } rows[] = {
        {1, EvalExprInt, EvalExprIntAsFloat, EvalExprString},
        {2, EvalExprFloatToInt, EvalExprFloat, EvalExprString},
        {3, EvalExprInt, EvalExprIntAsFloat, EvalExprString},
        {4, EvalExprFloatToInt, EvalExprFloat, EvalExprStringFloat},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(g_apfnEvalInt[r.t], r.i) << r.t;
        EXPECT_EQ(g_apfnEvalFloat[r.t], r.f) << r.t;
        EXPECT_EQ(g_apfnEvalString[r.t], r.s) << r.t;
    }
    for (int t = 6; t <= 9; ++t) EXPECT_EQ(g_apfnEvalFloat[t], EvalExprFloat) << t;
    // A type byte outside the table still finds an evaluator.
    for (int t : {0, 5, 200, 255}) {
        EXPECT_EQ(g_apfnEvalInt[t], EvalExprInt) << t;
        EXPECT_EQ(g_apfnEvalString[t], EvalExprString) << t;
    }

    // The variable store evaluates initial texts of definitions through the evaluator.
    ASSERT_NE(g_pfnEvalVarDefText, nullptr);
    const CODE c = Asm("\"ab\" 3 s +");
    char buf[KX_VAR_TEXT_BUFFER];
    EXPECT_EQ(g_pfnEvalVarDefText(c.data(), c.size(), buf), 3);
    EXPECT_STREQ(buf, "ab3");
}
