// The script-line tokenizer: its state machine over lines of every kind of token, the
// block-comment state carried between lines, the placement of tokens in the arrays that the
// references name, and the refusals of arrays of the wrong type.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "script/tokenizer.h"
#include "script/variables.h"
#include "tests/support/test_support.h"

namespace {

enum { TEXTS = 1000, KINDS = 1001, STATE = 1002, FKINDS = 1003, SHORT_TEXTS = 1004 };
constexpr int kSlots = 16;
const char kUnset[] = "-";

int64_t Ref(int nVar, uint32_t nElem) { return static_cast<int64_t>((static_cast<uint64_t>(nVar) << 32) | nElem); }

struct TOKEN {
    int64_t nKind;
    std::string strText;
    bool operator==(const TOKEN& o) const { return nKind == o.nKind && strText == o.strText; }
};
std::ostream& operator<<(std::ostream& os, const TOKEN& t)
{
    os << "{" << t.nKind << ", \"";
    for (unsigned char c : t.strText) {
        if (c >= 0x20 && c < 0x7F) os << c;
        else os << "\\x" << std::hex << static_cast<int>(c) << std::dec;
    }
    return os << "\"}";
}

class TokenizerTest : public ::testing::Test {
protected:
    ERROR_RECORDER errors;

    void SetUp() override
    {
        ASSERT_EQ(CreateVarTable(1100), 0);
        g_SysVarHooks = {};
        Shape(TEXTS, kSlots);
        ASSERT_EQ(InitVarString(GetVarDesc(TEXTS), kUnset, 1), 0);
        Shape(KINDS, kSlots);
        ASSERT_EQ(InitVarInt(GetVarDesc(KINDS), -1), 0);
        Shape(STATE, 1);
        ASSERT_EQ(InitVarInt(GetVarDesc(STATE), 0), 0);
    }
    void TearDown() override { FreeVarTable(); }

    static VAR_DESC* Shape(int nVar, int32_t n)
    {
        VAR_DESC* p = GetVarDesc(nVar);
        p->nDims = 1;
        std::memset(p->anDim, 0, sizeof p->anDim);
        p->anDim[0] = n;
        return p;
    }
    static std::string Text(int nVar, int64_t i)
    {
        const char* psz = GetVarString(nVar, i);
        return psz ? psz : "(null)";
    }
    // Tokenizes into elements 0.. of TEXTS and KINDS with STATE as the state element.
    int64_t Run(const std::string& strLine, int64_t llStateIn = 0)
    {
        SetVarInt(STATE, 0, llStateIn);
        return TokenizeScriptLine(strLine.c_str(), Ref(TEXTS, 0), Ref(KINDS, 0), Ref(STATE, 0));
    }
    // The first n tokens as the arrays hold them.
    static std::vector<TOKEN> Tokens(int64_t n)
    {
        std::vector<TOKEN> v;
        for (int64_t i = 0; i < n && i < kSlots; ++i) v.push_back({GetVarInt(KINDS, i), Text(TEXTS, i)});
        return v;
    }
};

}  // namespace

// Each line is one case: the state it starts in, the tokens it gives and the state it leaves.
TEST_F(TokenizerTest, StateMachineOverLines)
{
    struct CASE {
        const char* pszName;
        std::string strLine;
        int64_t llStateIn;
        std::vector<TOKEN> tokens;
        int64_t llStateOut;
    };
    const std::vector<CASE> cases = {
        {"assignment then CR LF; ';' gives nothing", "a+=1;\r\n", 0,
         {{32, "a"}, {12, "+="}, {32, "1"}, {16, "\r"}, {16, "\n"}}, 0},
        {"a word at the end of the line is dropped", "abc", 0, {}, 0},
        {"'-' starts a word", "-5 ", 0, {{32, "-5"}}, 0},
        {"'-' does not continue a word", "a-b ", 0, {{32, "a"}, {32, "-b"}}, 0},
        {"'/' and '.' continue a word", "a/b.c ", 0, {{32, "a/b.c"}}, 0},
        {"a lone '-' is a word", "- ", 0, {{32, "-"}}, 0},
        {"line comment", "x // note", 0, {{32, "x"}, {0, "\r"}}, 0},
        {"line comment ends the line", "//a b c", 0, {{0, "\r"}}, 0},
        {"block comment left open", "/* open", 0, {}, 1},
        {"block comment closed on the next line", "still */ z;", 1, {{32, "z"}}, 0},
        {"'/*/' opens and closes", "/*/y;", 0, {{32, "y"}}, 0},
        {"a CR inside a block comment", "/* a\r b */c;", 0, {{0, "\r"}, {32, "c"}}, 0},
        {"a CR while the comment goes on", "x\ry", 1, {{0, "\r"}}, 1},
        {"'#=' is one '#' and eats the '='", "#=1;", 0, {{57, "#"}, {32, "1"}}, 0},
        {"'#' alone", "#a;", 0, {{57, "#"}, {32, "a"}}, 0},
        {"one-character tokens", "\\(),@$", 0,
         {{51, "\\"}, {52, "("}, {53, ")"}, {54, ","}, {55, "@"}, {56, "$"}}, 0},
        {"two-character operators", "++ += *= /=", 0, {{11, "++"}, {12, "+="}, {14, "*="}, {15, "/="}}, 0},
        {"lone operators are single characters", "+ * / = <", 0,
         {{16, "+"}, {16, "*"}, {16, "/"}, {16, "="}, {16, "<"}}, 0},
        {"blanks and semicolons give nothing", " \t \t ;; \t", 0, {}, 0},
        {"string", "\"a b\";", 0, {{31, "\"a b\""}}, 0},
        {"string ended by a CR", "\"ab\rc;", 0, {{31, "\"ab\r"}, {32, "c"}}, 0},
        {"string left open is dropped", "x \"abc", 0, {{32, "x"}}, 0},
        {"a quote ends a word", "ab\"c\";", 0, {{32, "ab"}, {31, "\"c\""}}, 0},
        {"comment marks inside a string", "\"/* //\";", 0, {{31, "\"/* //\""}}, 0},
        {"double-byte word with trail byte '\\'", "\x95\x5C\x8E\x9A;", 0, {{32, "\x95\x5C\x8E\x9A"}}, 0},
        {"double-byte continues a word", "ab\x82\xA0" "c;", 0, {{32, "ab\x82\xA0" "c"}}, 0},
        {"half-width katakana is a single character", "\xB1\xB2", 0, {{16, "\xB1"}, {16, "\xB2"}}, 0},
        {"a lone lead byte before the terminator ends the scan", "x \x95", 0, {{32, "x"}}, 0},
        {"a lone lead byte ends an open word", "ab\x95", 0, {}, 0},
        {"a lone lead byte inside a comment", "/* \x95", 0, {}, 1},
    };
    for (const CASE& c : cases) {
        SetUp();
        const int64_t n = Run(c.strLine, c.llStateIn);
        EXPECT_EQ(n, static_cast<int64_t>(c.tokens.size())) << c.pszName;
        EXPECT_EQ(Tokens(n), c.tokens) << c.pszName;
        EXPECT_EQ(GetVarInt(STATE, 0), c.llStateOut) << c.pszName;
        EXPECT_TRUE(errors.reports.empty()) << c.pszName;
        TearDown();
    }
}

TEST_F(TokenizerTest, ClosedCommentTextLandsInTheNextElementUncounted)
{
    EXPECT_EQ(Run("/* c */"), 0);
    EXPECT_EQ(Text(TEXTS, 0), "/* c */");
    EXPECT_EQ(GetVarInt(KINDS, 0), -1);   // only the text is written

    // Carried over from an earlier line, the comment is collected from the start of this line.
    EXPECT_EQ(Run("a */", 1), 0);
    EXPECT_EQ(Text(TEXTS, 0), "a */");
    EXPECT_EQ(GetVarInt(STATE, 0), 0);

    // A later token overwrites it.
    EXPECT_EQ(Run("q; /**/ r;"), 2);
    EXPECT_EQ(Tokens(2), (std::vector<TOKEN>{{32, "q"}, {32, "r"}}));
}

TEST_F(TokenizerTest, ScanStopsAtTheTerminatorAfterALoneLeadByte)
{
    // The bytes after the terminator would give tokens if the scan stepped over it.
    const char acLine[] = {'a', 'b', '\x95', '\0', 'z', 'z', ';', ' ', '(', '\0'};
    EXPECT_EQ(TokenizeScriptLine(acLine, Ref(TEXTS, 0), Ref(KINDS, 0), Ref(STATE, 0)), 0);
    const char acSpace[] = {' ', '\x81', '\0', '(', ')', '\0'};
    EXPECT_EQ(TokenizeScriptLine(acSpace, Ref(TEXTS, 0), Ref(KINDS, 0), Ref(STATE, 0)), 0);
    EXPECT_EQ(Text(TEXTS, 0), kUnset);
}

TEST_F(TokenizerTest, LineIsScannedUpTo1023Bytes)
{
    // 600 times "a;": the first 1023 bytes hold 511 whole tokens and an open word.
    std::string strLine;
    for (int i = 0; i < 600; ++i) strLine += "a;";
    EXPECT_EQ(Run(strLine), 511);

    // 1023 bytes are read whole; one more byte and the ';' that ends the word is cut off.
    std::string strFits(1019, ' ');
    strFits += "x\x82\xA0;";
    ASSERT_EQ(strFits.size(), 1023u);
    EXPECT_EQ(Run(strFits), 1);
    EXPECT_EQ(Run(" " + strFits), 0);
    EXPECT_EQ(Run(strFits), 1);
    EXPECT_EQ(Text(TEXTS, 0), "x\x82\xA0");
}

TEST_F(TokenizerTest, TokensGoToFirstPlusNOfEachArray)
{
    ASSERT_EQ(TokenizeScriptLine("a,b;", Ref(TEXTS, 3), Ref(KINDS, 7), Ref(STATE, 0)), 3);
    EXPECT_EQ(Text(TEXTS, 3), "a");
    EXPECT_EQ(Text(TEXTS, 4), ",");
    EXPECT_EQ(Text(TEXTS, 5), "b");
    EXPECT_EQ(Text(TEXTS, 2), kUnset);
    EXPECT_EQ(Text(TEXTS, 6), kUnset);
    EXPECT_EQ(GetVarInt(KINDS, 7), 32);
    EXPECT_EQ(GetVarInt(KINDS, 8), 54);
    EXPECT_EQ(GetVarInt(KINDS, 9), 32);
    EXPECT_EQ(GetVarInt(KINDS, 6), -1);
    EXPECT_EQ(GetVarInt(KINDS, 10), -1);
}

TEST_F(TokenizerTest, ShortArraysSkipStoresButCountEveryToken)
{
    // From element 14 of 16, and from element 0xFFFFFFFF (32-bit arithmetic: -1, then 0, 1, ...).
    EXPECT_EQ(TokenizeScriptLine("a b c d ", Ref(TEXTS, 14), Ref(KINDS, 0xFFFFFFFFu), Ref(STATE, 0)), 4);
    EXPECT_EQ(Text(TEXTS, 14), "a");
    EXPECT_EQ(Text(TEXTS, 15), "b");
    EXPECT_EQ(Text(TEXTS, 0), kUnset);
    EXPECT_EQ(GetVarInt(KINDS, 0), 32);
    EXPECT_EQ(GetVarInt(KINDS, 2), 32);
    EXPECT_EQ(GetVarInt(KINDS, 3), -1);
    EXPECT_TRUE(errors.reports.empty());
}

TEST_F(TokenizerTest, DoubleKindsArrayReceivesTheKindsAsDoubles)
{
    Shape(FKINDS, 4);
    ASSERT_EQ(InitVarFloat(GetVarDesc(FKINDS), -1.0), 0);
    EXPECT_EQ(TokenizeScriptLine("(x)", Ref(TEXTS, 0), Ref(FKINDS, 0), Ref(STATE, 0)), 3);
    EXPECT_EQ(GetVarDesc(FKINDS)->pdValues[0], 52.0);
    EXPECT_EQ(GetVarDesc(FKINDS)->pdValues[1], 32.0);
    EXPECT_EQ(GetVarDesc(FKINDS)->pdValues[2], 53.0);
}

TEST_F(TokenizerTest, ReferencesOutsideTheTableWriteNothing)
{
    // Forged references: variable numbers beyond the table, and one that is not a valid number at all.
    const int64_t llFar = Ref(5000, 0);
    const int64_t llHuge = static_cast<int64_t>(0xFFFFFFFF00000000ull);
    EXPECT_EQ(TokenizeScriptLine("a b ", llFar, llHuge, llHuge), 2);
    EXPECT_EQ(TokenizeScriptLine("/* a", llHuge, llFar, llFar), 0);
    EXPECT_EQ(Text(TEXTS, 0), kUnset);
    EXPECT_TRUE(errors.reports.empty());
}

TEST_F(TokenizerTest, WrongArrayTypesAreFatal)
{
    struct CASE {
        const char* pszName;
        int64_t llTexts;
        int64_t llKinds;
    };
    const CASE cases[] = {
        {"kinds in a text array", Ref(TEXTS, 0), Ref(TEXTS, 8)},
        {"texts in a number array", Ref(KINDS, 0), Ref(KINDS, 8)},
    };
    for (const CASE& c : cases) {
        SetUp();
        EXPECT_EQ(TokenizeScriptLine("a ", c.llTexts, c.llKinds, Ref(STATE, 0)), 1) << c.pszName;
        ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, KX_ERR_VAR_WRONG_TYPE, c.pszName));
        errors.reports.clear();
        g_bEngineStop = 0;
        // One report at each store.
        EXPECT_EQ(TokenizeScriptLine("a b c ", c.llTexts, c.llKinds, Ref(STATE, 0)), 3) << c.pszName;
        EXPECT_EQ(errors.reports.size(), 3u) << c.pszName;
        errors.reports.clear();
        g_bEngineStop = 0;
        TearDown();
    }
}
