// The variable store: shapes and counts, resizing, type-crossing accessors, element operators,
// text storage, system-variable hooks and the definitions walk with the reset of globals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "script/variables.h"
#include "tests/support/engine_test.h"
#include "tests/support/test_support.h"

namespace {

const int64_t kMin64 = std::numeric_limits<int64_t>::min();
const int64_t kMax64 = std::numeric_limits<int64_t>::max();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// A table of 1100 zeroed descriptors; system-variable hooks and the text evaluator cleared.
class VarTest : public EngineTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CreateVarTable(1100), 0);
        g_SysVarHooks = {};
        g_pfnEvalVarDefText = nullptr;
    }
    static VAR_DESC* Shape(int nVar, std::vector<int32_t> dims)
    {
        VAR_DESC* p = GetVarDesc(nVar);
        p->nDims = static_cast<int8_t>(dims.size());
        std::memset(p->anDim, 0, sizeof p->anDim);
        for (size_t i = 0; i < dims.size(); ++i) p->anDim[i] = dims[i];
        return p;
    }
    static VAR_DESC* DeclareInt(int nVar, std::vector<int64_t> values)
    {
        VAR_DESC* p = Shape(nVar, {static_cast<int32_t>(values.size())});
        EXPECT_EQ(InitVarInt(p, 0), 0);
        for (size_t i = 0; i < values.size(); ++i) p->pllValues[i] = values[i];
        return p;
    }
    static VAR_DESC* DeclareFloat(int nVar, std::vector<double> values)
    {
        VAR_DESC* p = Shape(nVar, {static_cast<int32_t>(values.size())});
        EXPECT_EQ(InitVarFloat(p, 0.0), 0);
        for (size_t i = 0; i < values.size(); ++i) p->pdValues[i] = values[i];
        return p;
    }
    static VAR_DESC* DeclareText(int nVar, std::vector<std::string> texts)
    {
        VAR_DESC* p = Shape(nVar, {static_cast<int32_t>(texts.size())});
        EXPECT_EQ(InitVarString(p, "", 0), 0);
        for (size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(SetVarString(nVar, static_cast<int64_t>(i), texts[i].c_str()), 0);
        return p;
    }
};

void ExpectOneError(const ERROR_RECORDER& errors, int nId)
{
    ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, nId));
}

}  // namespace

TEST_F(VarTest, ElementCountsFromDimensions)
{
    struct CASE {
        std::vector<int32_t> dims;
        int64_t llCount;   // 0: refused
        int nError;
    };
    const CASE cases[] = {
        {{}, 1, 0},
        {{2, 3}, 6, 0},
        {{2000, 2000}, 4000000, 0},
        {{2001, 2000}, 0, KX_ERR_VAR_TOO_MANY_ELEMENTS},
        {{0}, 0, KX_ERR_VAR_NO_ELEMENTS},
        {{5, 0, 5}, 0, KX_ERR_VAR_NO_ELEMENTS},
        {{-2, -3}, 0, KX_ERR_VAR_NO_ELEMENTS},   // the product would be positive
        {{-1, 5000000}, 0, KX_ERR_VAR_NO_ELEMENTS},
        // 2^16 eight times wraps a 64-bit product to 0; the saturating product does not.
        {{65536, 65536, 65536, 65536, 65536, 65536, 65536, 65536}, 0, KX_ERR_VAR_TOO_MANY_ELEMENTS},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(testing::Message() << "dims " << c.dims.size() << " first " << (c.dims.empty() ? 0 : c.dims[0]));
        ERROR_RECORDER errors;
        VAR_DESC* p = Shape(1000, {3});
        ASSERT_EQ(InitVarInt(p, 9), 0);
        Shape(1000, c.dims);
        const int nResult = InitVarInt(p, 7);
        if (c.nError == 0) {
            EXPECT_EQ(nResult, 0);
            EXPECT_TRUE(errors.reports.empty());
            EXPECT_EQ(p->llCount, c.llCount);
            EXPECT_EQ(p->pllValues[c.llCount - 1], 7);
        } else {
            EXPECT_EQ(nResult, -1);
            ExpectOneError(errors, c.nError);
            // The old values stay usable: the count still matches the array.
            EXPECT_EQ(p->llCount, 3);
            EXPECT_EQ(GetVarInt(1000, 2), 9);
        }
    }
}

TEST_F(VarTest, TooManyElementsNamesTheLimit)
{
    std::string strFormat = "max %d";
    g_anErrorId[0] = KX_ERR_VAR_TOO_MANY_ELEMENTS;
    g_apszErrorText[0] = strFormat.data();
    g_nErrorTexts = 1;
    ERROR_RECORDER errors;
    EXPECT_EQ(InitVarFloat(Shape(1000, {4000001}), 1.0), -1);
    ASSERT_EQ(errors.reports.size(), 1u);
    EXPECT_EQ(errors.reports[0].strText, "max 4000000");
}

TEST_F(VarTest, InitialisersSetEveryElementAndReleaseTheOldType)
{
    VAR_DESC* p = Shape(1000, {2, 3});
    ASSERT_EQ(InitVarInt(p, -5), 0);
    EXPECT_EQ(GetVarInt(1000, 5), -5);   // element (1, 2)
    ASSERT_EQ(InitVarString(p, "ab\0c", 4), 0);
    EXPECT_EQ(p->bType, KX_VAR_TYPE_STRING);
    EXPECT_EQ(p->pllValues, nullptr);
    EXPECT_EQ(std::memcmp(GetVarString(1000, 5), "ab\0c", 5), 0);
    // Every element owns its text.
    ASSERT_EQ(SetVarString(1000, 0, "changed"), 0);
    EXPECT_STREQ(GetVarString(1000, 1), "ab");
    // A text variable can be re-initialised from one of its own elements.
    ASSERT_EQ(InitVarString(p, GetVarString(1000, 0), 7), 0);
    EXPECT_STREQ(GetVarString(1000, 4), "changed");
    ASSERT_EQ(InitVarFloat(p, 2.5), 0);
    EXPECT_EQ(p->ppszTexts, nullptr);
    EXPECT_EQ(GetVarFloat(1000, 3), 2.5);
}

TEST_F(VarTest, ResizeKeepsTheFirstElements)
{
    VAR_DESC* pInt = DeclareInt(1000, {1, 2, 3});
    ASSERT_EQ(ResizeVarArray(pInt, 5), 0);
    EXPECT_EQ(pInt->anDim[0], 5);
    EXPECT_EQ(pInt->llCount, 5);
    const int64_t allExpected[5] = {1, 2, 3, 0, 0};
    for (int64_t i = 0; i < 5; ++i) EXPECT_EQ(GetVarInt(1000, i), allExpected[i]);
    ASSERT_EQ(ResizeVarArray(pInt, 2), 0);
    EXPECT_EQ(pInt->llCount, 2);
    EXPECT_EQ(GetVarInt(1000, 1), 2);
    EXPECT_EQ(GetVarInt(1000, 2), 0);   // now out of range

    VAR_DESC* pFloat = DeclareFloat(1001, {1.5});
    ASSERT_EQ(ResizeVarArray(pFloat, 3), 0);
    EXPECT_EQ(GetVarFloat(1001, 0), 1.5);
    EXPECT_EQ(GetVarFloat(1001, 2), 0.0);

    VAR_DESC* pText = DeclareText(1002, {"a", "b", "c"});
    ASSERT_EQ(ResizeVarArray(pText, 1), 0);
    ASSERT_EQ(ResizeVarArray(pText, 4), 0);
    EXPECT_STREQ(GetVarString(1002, 0), "a");
    EXPECT_STREQ(GetVarString(1002, 1), "");
    EXPECT_EQ(pText->pwTextCap[3], 1);
    ASSERT_EQ(SetVarString(1002, 3, "grown"), 0);
    EXPECT_STREQ(GetVarString(1002, 3), "grown");

    {
        ERROR_RECORDER errors;
        EXPECT_EQ(ResizeVarArray(pInt, 0), -1);
        ExpectOneError(errors, KX_ERR_VAR_NO_ELEMENTS);
        EXPECT_EQ(pInt->llCount, 2);
        EXPECT_EQ(pInt->anDim[0], 2);
    }
    {
        ERROR_RECORDER errors;
        EXPECT_EQ(ResizeVarArray(pInt, 4000001), -1);
        ExpectOneError(errors, KX_ERR_VAR_TOO_MANY_ELEMENTS);
    }
    VAR_DESC* pNone = Shape(1003, {3});
    EXPECT_EQ(ResizeVarArray(pNone, 5), 0);
    EXPECT_EQ(pNone->anDim[0], 3);
    EXPECT_EQ(pNone->llCount, 0);
}

TEST_F(VarTest, AccessorsCrossTypesByTheVariablesOwnType)
{
    DeclareInt(1000, {0, 0});
    DeclareFloat(1001, {0.0, 0.0});
    DeclareText(1002, {"12", ""});
    ERROR_RECORDER errors;

    EXPECT_EQ(SetVarInt(1001, 0, 7), 0);
    EXPECT_EQ(GetVarFloat(1001, 0), 7.0);
    EXPECT_EQ(SetVarFloat(1000, 0, -2.7), 0);
    EXPECT_EQ(GetVarInt(1000, 0), -2);
    EXPECT_EQ(SetVarFloat(1000, 1, kNaN), 0);
    EXPECT_EQ(GetVarInt(1000, 1), kMin64);
    EXPECT_EQ(SetVarFloat(1001, 1, 3.9), 0);
    EXPECT_EQ(GetVarInt(1001, 1), 3);          // a double read as an integer is truncated
    EXPECT_EQ(GetVarFloat(1000, 0), -2.0);
    EXPECT_EQ(GetVarInt(1002, 0), 0);          // a text reads as 0
    EXPECT_EQ(GetVarFloat(1002, 0), 0.0);
    EXPECT_EQ(GetVarString(1000, 0), nullptr);
    EXPECT_EQ(GetVarInt(1003, 0), 0);          // no type
    EXPECT_TRUE(errors.reports.empty());

    // Out of range: 0 / NULL / -1 without an error; the index is the low 32 bits taken as signed.
    EXPECT_EQ(GetVarInt(1000, -1), 0);
    EXPECT_EQ(GetVarInt(1000, 2), 0);
    EXPECT_EQ(GetVarInt(1000, (int64_t{1} << 32) + 0), -2);
    EXPECT_EQ(GetVarString(1002, 2), nullptr);
    EXPECT_EQ(SetVarInt(1000, 2, 1), -1);
    EXPECT_EQ(SetVarFloat(1001, -1, 1.0), -1);
    EXPECT_EQ(SetVarString(1002, 5, "x"), -1);
    EXPECT_EQ(GetVarInt(5000, 0), 0);          // outside the table
    EXPECT_EQ(SetVarInt(-1, 0, 1), -1);
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_EQ(g_bEngineStop.load(), 0);
}

TEST_F(VarTest, WritingTheWrongKindIsRefused)
{
    DeclareInt(1000, {4});
    DeclareText(1002, {"keep"});
    Shape(1003, {1});
    struct CASE {
        const char* pszName;
        int (*pfn)(void);
    };
    const CASE cases[] = {
        {"int into text", [] { return SetVarInt(1002, 0, 1); }},
        {"float into text", [] { return SetVarFloat(1002, 0, 1.0); }},
        {"text into int", [] { return SetVarString(1000, 0, "x"); }},
        {"bytes into int", [] { return SetVarStringBytes(1000, 0, "x", 1); }},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        ERROR_RECORDER errors;
        EXPECT_EQ(c.pfn(), -1);
        ExpectOneError(errors, KX_ERR_VAR_WRONG_TYPE);
    }
    EXPECT_EQ(GetVarInt(1000, 0), 4);
    EXPECT_STREQ(GetVarString(1002, 0), "keep");
}

TEST_F(VarTest, ElementOperators)
{
    struct INT_CASE {
        int nOp;
        int64_t llStart, llValue, llResult;
    };
    const INT_CASE intCases[] = {
        {0, 5, -3, -3},
        {1, kMax64, 1, kMin64},           // wraps
        {2, kMin64, 1, kMax64},
        {3, int64_t{1} << 62, 4, 0},      // low 64 bits
        {4, -7, 2, -3},                   // toward zero
        {4, 9, 0, 9},                     // divisor 0: unchanged
        {4, kMin64, -1, kMin64},
        {5, -7, 3, -1},                   // sign of the dividend
        {5, 9, 0, 9},
        {5, kMin64, -1, 0},
        {6, 12, 10, 8},
        {7, 12, 3, 15},
        {8, 12, 10, 6},
    };
    for (const INT_CASE& c : intCases) {
        SCOPED_TRACE(testing::Message() << "int op " << c.nOp << " " << c.llStart << " " << c.llValue);
        VAR_DESC* p = DeclareInt(1000, {111, c.llStart, 222});
        EXPECT_EQ(g_apfnElemOps[c.nOp].pfnInt(p, 1, c.llValue), 0);
        EXPECT_EQ(p->pllValues[1], c.llResult);
        EXPECT_EQ(p->pllValues[0], 111);
        EXPECT_EQ(p->pllValues[2], 222);
    }

    struct FLOAT_CASE {
        int nOp;
        double dStart, dValue, dResult;
    };
    const FLOAT_CASE floatCases[] = {
        {0, 1.0, 2.5, 2.5},
        {1, 1.0, 2.5, 3.5},
        {2, 1.0, 2.5, -1.5},
        {3, 1.5, 3.0, 4.5},
        {4, 7.0, 2.0, 3.5},
        {4, 7.0, 0.0, 7.0},               // unchanged
        {4, 7.0, -0.0, 7.0},
        {4, 7.0, kNaN, 7.0},
        {5, 7.9, 3.2, 1.0},               // 7 % 3
        {5, -7.9, 3.2, -1.0},
        {5, 7.0, 0.5, 7.0},               // truncates to 0: unchanged
        {5, 7.0, kNaN, 7.0},
        {6, 6.9, 3.2, 2.0},
        {7, 4.5, 1.9, 5.0},
        {8, 7.0, 2.0, 5.0},
        {6, kNaN, -1.0, static_cast<double>(kMin64)},   // NaN truncates to INT64_MIN
    };
    for (const FLOAT_CASE& c : floatCases) {
        SCOPED_TRACE(testing::Message() << "float op " << c.nOp << " " << c.dStart << " " << c.dValue);
        VAR_DESC* p = DeclareFloat(1001, {111.0, c.dStart, 222.0});
        EXPECT_EQ(g_apfnElemOps[KX_ELEM_OPS + c.nOp].pfnFloat(p, 1, c.dValue), 0);
        EXPECT_EQ(p->pdValues[1], c.dResult);
        EXPECT_EQ(p->pdValues[0], 111.0);
        EXPECT_EQ(p->pdValues[2], 222.0);
    }

    // An element outside the variable, or a variable of the other kind, changes nothing.
    VAR_DESC* pInt = DeclareInt(1000, {1, 2});
    VAR_DESC* pFloat = DeclareFloat(1001, {1.0, 2.0});
    for (int op = 0; op < KX_ELEM_OPS; ++op) {
        for (int32_t nElem : {-1, 2, std::numeric_limits<int32_t>::min()}) {
            EXPECT_EQ(g_apfnElemOps[op].pfnInt(pInt, nElem, 1), -1);
            EXPECT_EQ(g_apfnElemOps[KX_ELEM_OPS + op].pfnFloat(pFloat, nElem, 1.0), -1);
        }
        EXPECT_EQ(g_apfnElemOps[op].pfnInt(pFloat, 0, 1), -1);
        EXPECT_EQ(g_apfnElemOps[KX_ELEM_OPS + op].pfnFloat(pInt, 0, 1.0), -1);
    }
    EXPECT_EQ(pInt->pllValues[0], 1);
    EXPECT_EQ(pInt->pllValues[1], 2);
    EXPECT_EQ(pFloat->pdValues[0], 1.0);
    EXPECT_EQ(pFloat->pdValues[1], 2.0);

    // Registering fills the same table.
    const ELEM_OP saved = g_apfnElemOps[13];
    g_apfnElemOps[13].pfnFloat = nullptr;
    RegisterElemOps();
    EXPECT_EQ(g_apfnElemOps[13].pfnFloat, saved.pfnFloat);
    EXPECT_EQ(g_apfnElemOps[13].pfnFloat, &ElemFloatDiv);
}

TEST_F(VarTest, TextElementsGrowAndAcceptTheirOwnBytes)
{
    VAR_DESC* p = DeclareText(1000, {"abc", "z"});
    EXPECT_EQ(p->pwTextCap[0], 4);
    ASSERT_EQ(SetVarString(1000, 0, "a"), 0);          // shorter: same buffer
    EXPECT_EQ(p->pwTextCap[0], 4);
    ASSERT_EQ(SetVarString(1000, 0, "longer text"), 0);
    EXPECT_EQ(p->pwTextCap[0], 12);
    EXPECT_STREQ(GetVarString(1000, 0), "longer text");
    // Bytes taken from the element itself, in place and while growing.
    ASSERT_EQ(SetVarStringBytes(1000, 0, GetVarString(1000, 0) + 7, 4), 0);
    EXPECT_STREQ(GetVarString(1000, 0), "text");
    std::string strBig(70000, 'q');
    ASSERT_EQ(SetVarStringBytes(1000, 1, strBig.data(), strBig.size()), 0);
    EXPECT_EQ(p->pwTextCap[1], 0xFFFF);                 // held in 16 bits, below the real size
    strBig.append(10, 'r');
    ASSERT_EQ(SetVarString(1000, 1, strBig.c_str()), 0);
    EXPECT_EQ(std::string(GetVarString(1000, 1)), strBig);
    ASSERT_EQ(SetVarStringBytes(1000, 1, "a\0b", 3), 0);
    EXPECT_EQ(std::memcmp(GetVarString(1000, 1), "a\0b", 4), 0);
    EXPECT_EQ(WriteVarStringBytes(p, 2, "x", 1), -1);   // no such element
}

TEST_F(VarTest, StoreStringLengthsStopsAtEmptyTextAndAtEitherEnd)
{
    DeclareText(1000, {"ab", "xyz", "", "never"});
    VAR_DESC* pTarget = DeclareInt(1001, {-1, -1, -1, -1, -1});
    EXPECT_EQ(StoreStringLengths(0, 1000, 1, 1001), 2);
    EXPECT_EQ(pTarget->pllValues[0], -1);
    EXPECT_EQ(pTarget->pllValues[1], 2);
    EXPECT_EQ(pTarget->pllValues[2], 3);
    EXPECT_EQ(pTarget->pllValues[3], 0);
    EXPECT_EQ(pTarget->pllValues[4], -1);

    // A short target is not overrun, and the source's end stops the walk.
    DeclareText(1002, {"a", "bb", "ccc"});
    VAR_DESC* pShort = DeclareInt(1003, {-1, -1});
    EXPECT_EQ(StoreStringLengths(0, 1002, 0, 1003), 2);
    EXPECT_EQ(pShort->pllValues[1], 2);
    VAR_DESC* pLong = DeclareInt(1004, {-1, -1, -1, -1});
    EXPECT_EQ(StoreStringLengths(1, 1002, 0, 1004), 2);
    EXPECT_EQ(pLong->pllValues[1], 3);
    EXPECT_EQ(pLong->pllValues[2], -1);
    // Wrong types or a first element outside: nothing stored.
    EXPECT_EQ(StoreStringLengths(0, 1003, 0, 1004), 0);
    EXPECT_EQ(StoreStringLengths(0, 1002, 0, 1000), 0);
    EXPECT_EQ(StoreStringLengths(-1, 1002, 0, 1004), 0);
    EXPECT_EQ(StoreStringLengths(0, 1002, 4, 1004), 0);
    EXPECT_EQ(pLong->pllValues[0], 2);
}

TEST(UpperCaseAsciiTest, SkipsBothBytesOfDoubleByteCharacters)
{
    struct CASE {
        const char* pszIn;
        const char* pszOut;
    };
    const CASE cases[] = {
        {"abz{`AZ09", "ABZ{`AZ09"},
        {"a\x83\x61\x82\x7A" "b", "A\x83\x61\x82\x7A" "B"},   // trail bytes 'a' and 'z' stay
        {"\xE0\x61x", "\xE0\x61X"},
        {"x\x81", "X\x81"},                                 // a lead byte before the end
        {"\xB1" "a", "\xB1" "A"},                            // half-width kana is one byte
        {"", ""},
    };
    for (const CASE& c : cases) {
        std::string s = c.pszIn;
        UpperCaseAscii(s.data());
        EXPECT_EQ(s, c.pszOut);
    }
    UpperCaseAscii(nullptr);
}

namespace {

int64_t g_llSeenElem;
int64_t FakeReadInt(int nVar, int64_t llElem) { g_llSeenElem = llElem; return nVar * 10; }
double FakeReadFloat(int nVar, int64_t llElem) { return nVar + 0.5; }
int FakeReadString(int nVar, char* pszOut, int64_t llElem)
{
    return static_cast<int>(FormatText(pszOut, KX_VAR_TEXT_BUFFER, "sys%d/%d", nVar, static_cast<int>(llElem)));
}
std::vector<std::string> g_writes;
int FakeWrite(int nVar, int64_t llElem, int nKind, int64_t llValue, double dValue, const char* pbText, size_t nLen)
{
    g_writes.push_back(std::to_string(nVar) + ":" + std::to_string(nKind) + ":" + std::to_string(llValue) + ":" +
                       std::string(pbText ? pbText : "", nLen));
    return nVar == 15 ? 0 : -1;
}

}  // namespace

TEST_F(VarTest, SystemVariablesGoThroughTheEngineHooks)
{
    Shape(15, {4});
    ASSERT_EQ(InitVarInt(GetVarDesc(15), 99), 0);
    Shape(12, {9});
    ASSERT_EQ(InitVarString(GetVarDesc(12), "", 0), 0);
    ERROR_RECORDER errors;

    // Without hooks: 0, 0.0, the empty text, writes refused.
    EXPECT_EQ(GetVarInt(15, 1), 0);
    EXPECT_EQ(GetVarFloat(15, 1), 0.0);
    EXPECT_STREQ(GetVarString(12, 3), "");
    EXPECT_EQ(SetVarInt(15, 0, 5), -1);
    EXPECT_EQ(SetVarString(12, 0, "x"), -1);

    g_SysVarHooks = {FakeReadInt, FakeReadFloat, FakeReadString, FakeWrite};
    // The range check uses the descriptor's count on the low 32 bits; the reader gets all 64 bits.
    EXPECT_EQ(GetVarInt(15, (int64_t{7} << 32) | 2), 150);
    EXPECT_EQ(g_llSeenElem, (int64_t{7} << 32) | 2);
    EXPECT_EQ(GetVarInt(15, 4), 0);
    EXPECT_EQ(GetVarFloat(15, 0), 15.5);
    const char* psz = GetVarString(12, 3);
    EXPECT_STREQ(psz, "sys12/3");
    EXPECT_EQ(psz, GetVarDesc(12)->ppszTexts[3]);   // stored into the variable's own element
    EXPECT_EQ(GetVarString(12, 9), nullptr);
    EXPECT_EQ(SetVarInt(15, 1, 5), 0);
    EXPECT_EQ(SetVarString(12, 0, "t"), -1);
    EXPECT_EQ(SetVarInt(15, 9, 5), -1);               // out of range: the hook is not asked
    ASSERT_EQ(g_writes.size(), 2u);
    EXPECT_EQ(g_writes[0], "15:1:5:");
    EXPECT_EQ(g_writes[1], "12:3:0:t");
    EXPECT_TRUE(errors.reports.empty());
    g_writes.clear();
}

namespace {

// Builder of variable-definition images (8 unread bytes, u16 record count, records).
struct VARDEFS {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(10, 0);
    uint16_t wCount = 0;
    void Put(const void* p, size_t n)
    {
        const uint8_t* pb = static_cast<const uint8_t*>(p);
        bytes.insert(bytes.end(), pb, pb + n);
    }
    void Head(uint8_t bScope, uint8_t bClass, uint16_t wScript, uint16_t wVar, uint8_t bType, std::vector<int32_t> dims)
    {
        const uint8_t head[8] = {bScope, bClass, uint8_t(wScript), uint8_t(wScript >> 8), uint8_t(wVar), uint8_t(wVar >> 8),
                                 bType, uint8_t(dims.size())};
        Put(head, 8);
        for (int32_t d : dims) Put(&d, 4);
        ++wCount;
        bytes[8] = uint8_t(wCount);
        bytes[9] = uint8_t(wCount >> 8);
    }
    void Int(uint8_t bScope, uint8_t bClass, uint16_t wScript, uint16_t wVar, int64_t ll, std::vector<int32_t> dims = {})
    {
        Head(bScope, bClass, wScript, wVar, KX_VAR_TYPE_INT, dims);
        Put(&ll, 8);
    }
    void Float(uint8_t bScope, uint8_t bClass, uint16_t wVar, double d)
    {
        Head(bScope, bClass, 0, wVar, KX_VAR_TYPE_FLOAT, {});
        Put(&d, 8);
    }
    void Text(uint8_t bScope, uint8_t bClass, uint16_t wVar, const std::string& code, std::vector<int32_t> dims = {})
    {
        Head(bScope, bClass, 0, wVar, KX_VAR_TYPE_STRING, dims);
        const uint16_t w = uint16_t(code.size());
        Put(&w, 2);
        Put(code.data(), code.size());
    }
    void Install()
    {
        g_pVarDefs = bytes.data();
        g_nVarDefsBytes = bytes.size();
    }
};

// Stands in for the expression evaluator: the "bytecode" is the text itself.
int FakeEvalText(const uint8_t* pbCode, size_t nLen, char* pszOut)
{
    std::memcpy(pszOut, pbCode, nLen);
    pszOut[nLen] = '\0';
    return static_cast<int>(nLen);
}

}  // namespace

TEST_F(VarTest, DefinitionsApplyByScopeAndResetByClassMasks)
{
    g_pfnEvalVarDefText = FakeEvalText;
    VARDEFS defs;
    defs.Int(1, 1, 0, 1000, 5, {2, 2});
    defs.Int(1, 2, 0, 1001, 6);
    defs.Int(3, 1, 0, 1002, 7);            // global that the reset leaves alone
    defs.Int(2, 1, 4, 1003, 8);            // local to script 4
    defs.Float(1, 1, 1004, 1.25);
    defs.Text(1, 1, 1005, "hi", {3});
    defs.Int(1, 5, 0, 1006, 9);            // a class outside 1..4: always reset
    defs.Head(1, 1, 0, 1007, 7, {2});      // a type without values
    defs.Install();

    ASSERT_EQ(ApplyVarDefRecords(-1, nullptr), 0);
    EXPECT_EQ(GetVarDesc(1000)->llCount, 4);
    EXPECT_EQ(GetVarDesc(1000)->bClass, 1);
    EXPECT_EQ(GetVarInt(1000, 3), 5);
    EXPECT_EQ(GetVarInt(1002, 0), 7);
    EXPECT_EQ(GetVarDesc(1003)->bType, KX_VAR_TYPE_NONE);
    EXPECT_STREQ(GetVarString(1005, 2), "hi");
    EXPECT_EQ(GetVarDesc(1007)->bType, 7);
    EXPECT_EQ(GetVarDesc(1007)->llCount, 0);
    ASSERT_EQ(ApplyVarDefRecords(4, nullptr), 0);
    EXPECT_EQ(GetVarInt(1003, 0), 8);

    auto Scramble = [] {
        for (int v : {1000, 1001, 1002, 1003, 1006}) SetVarInt(v, 0, -1);
        SetVarFloat(1004, 0, -1.0);
        SetVarString(1005, 0, "changed");
    };
    Scramble();
    EXPECT_EQ(ResetGlobalVars(0, -1, -1, -1), 0);   // only key -1 resets
    EXPECT_EQ(GetVarInt(1000, 0), -1);

    ASSERT_EQ(ResetGlobalVars(-1, 1, 0, 1), 0);     // int64 and text of class 1
    EXPECT_EQ(GetVarInt(1000, 0), 5);
    EXPECT_EQ(GetVarInt(1001, 0), -1);              // class 2 not selected
    EXPECT_EQ(GetVarInt(1002, 0), -1);              // scope 3
    EXPECT_EQ(GetVarInt(1003, 0), -1);              // scope 2
    EXPECT_EQ(GetVarFloat(1004, 0), -1.0);          // double mask clear
    EXPECT_STREQ(GetVarString(1005, 0), "hi");
    EXPECT_EQ(GetVarInt(1006, 0), 9);

    Scramble();
    ASSERT_EQ(ResetGlobalVars(-1, 2, 1, 0), 0);
    EXPECT_EQ(GetVarInt(1000, 0), -1);
    EXPECT_EQ(GetVarInt(1001, 0), 6);
    EXPECT_EQ(GetVarFloat(1004, 0), 1.25);
    EXPECT_STREQ(GetVarString(1005, 0), "changed");
}

TEST_F(VarTest, DamagedDefinitionsAreReported)
{
    struct CASE {
        const char* pszName;
        int nError;
        VARDEFS defs;
    };
    std::vector<CASE> cases;
    {
        CASE c{"number outside the table", KX_ERR_VAR_DEF_NUMBER, {}};
        c.defs.Int(2, 1, 9, 1100, 1);   // checked even when not selected
        cases.push_back(c);
    }
    {
        CASE c{"nine dimensions", KX_ERR_FILE_READ, {}};
        c.defs.Int(1, 1, 0, 1000, 1, {1, 1, 1, 1, 1, 1, 1, 1, 1});
        cases.push_back(c);
    }
    {
        CASE c{"value cut short", KX_ERR_FILE_READ, {}};
        c.defs.Int(1, 1, 0, 1000, 1);
        c.defs.bytes.pop_back();
        cases.push_back(c);
    }
    {
        CASE c{"text longer than the file", KX_ERR_FILE_READ, {}};
        c.defs.Text(1, 1, 1000, "abc");
        c.defs.bytes.resize(c.defs.bytes.size() - 2);
        cases.push_back(c);
    }
    {
        CASE c{"more records than bytes", KX_ERR_FILE_READ, {}};
        c.defs.Int(1, 1, 0, 1000, 1);
        c.defs.bytes[8] = 2;
        cases.push_back(c);
    }
    {
        CASE c{"no record count", KX_ERR_FILE_READ, {}};
        c.defs.bytes.resize(9);
        cases.push_back(c);
    }
    {
        CASE c{"size 0 in a definition", KX_ERR_VAR_NO_ELEMENTS, {}};
        c.defs.Int(1, 1, 0, 1000, 1, {0});
        cases.push_back(c);
    }
    for (CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        c.defs.Install();
        ERROR_RECORDER errors;
        EXPECT_EQ(ApplyVarDefRecords(-1, nullptr), -1);
        ExpectOneError(errors, c.nError);
    }
}
