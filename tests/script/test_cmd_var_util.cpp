// The variable utility and query commands, run from compiled scripts: conversions between numbers
// and texts, extract and remove by characters, case and width, resize, insert and delete on the
// three kinds of arrays, the reset of globals by class masks, every query with its refusals; and
// the cp932 width and case tables checked against the platform's conversion.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <locale>
#include <optional>
#include <string>
#include <vector>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/kx_texts.h"
#include "core/object_tree.h"
#include "core/script_thread.h"
#include "platform/plat_text.h"
#include "root/startup.h"
#include "script/cmd_var_util.h"
#include "script/cp932_convert.h"
#include "script/dispatch.h"
#include "script/evaluator.h"
#include "script/script_body.h"
#include "script/script_tables.h"
#include "script/system_vars.h"
#include "script/variables.h"
#include "tests/support/game_folder.h"
#include "tests/support/script_game_fixture.h"
#include "tests/support/test_support.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/script_builder.h"

namespace {

// Arguments: an element designation, a selector or value, a text.
BUILDER_ARG At(uint8_t nId, uint16_t nVar, int64_t llElem) { return ExprArg(nId, MakeExprElement(nVar, {llElem})); }
BUILDER_ARG Val(uint8_t nId, int64_t llValue = 1, uint8_t bOp = ARGOP_SET)
{
    return ExprArg(nId, MakeExprInt(llValue), EVALTYPE_INT, bOp);
}
BUILDER_ARG TextVal(uint8_t nId, const std::string& s) { return ExprArg(nId, MakeExprText(s), EVALTYPE_TEXT); }

std::string Text(int nVar, int64_t llElem)
{
    const char* psz = GetVarString(nVar, llElem);
    return psz ? psz : "(none)";
}

std::vector<int64_t> Ints(int nVar)
{
    std::vector<int64_t> v;
    const VAR_DESC* p = GetVarDesc(nVar);
    for (int64_t i = 0; p && i < p->llCount; ++i) v.push_back(GetVarInt(nVar, i));
    return v;
}

// The definition of a one-dimensional text array, every element the text.
KXV_DEF TextArray(uint16_t nVar, int32_t nSize, const std::string& s = "") { return MakeTextVarDef(nVar, s, {nSize}); }

class VarUtilTest : public SCRIPT_GAME_FIXTURE {
protected:
    std::vector<KXV_DEF> defs;   // user variables of the next run (1000..1099 exist)
    std::vector<KXE_ENTRY> texts;   // message texts of the next run
    MSGBOX_RECORDER boxes;

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
    // A fresh script (and no definitions) for the next case of a table.
    void Restart()
    {
        TearDown();
        SetUp();
        defs.clear();
        texts.clear();
        errors.reports.clear();
        boxes.boxes.clear();
    }
    void Util(std::vector<BUILDER_ARG> args) { ASSERT_GE(EmitCommand(&b, KXCMD_VAR_UTIL, args), 0); }
    void Query(std::vector<BUILDER_ARG> args) { ASSERT_GE(EmitCommand(&b, KXCMD_VAR_QUERY, args), 0); }

    // Loads a game made of the script (ended by a halt) and the definitions, lets prep set values,
    // then runs the SYSTEM thread for one pass.
    void Run(const std::function<void()>& prep = {})
    {
        ASSERT_NO_FATAL_FAILURE(StartHalting(b, defs, texts));
        ASSERT_TRUE(errors.reports.empty());
        if (prep) prep();
        Pass();
    }
    // The run went through without a report or a box.
    void ExpectClean()
    {
        EXPECT_TRUE(g_bScriptHalted);
        EXPECT_TRUE(errors.reports.empty()) << (errors.reports.empty() ? 0 : errors.reports[0].nId);
        EXPECT_TRUE(boxes.boxes.empty());
    }
    // The run stopped at the first error: exactly this report, fatal.
    void ExpectStoppedBy(int nId, const std::string& strCase)
    {
        ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, nId, strCase));
        EXPECT_FALSE(g_bScriptHalted) << strCase;
    }
    // The run ended its turn at a refused array operation: one box with the text, no report.
    void ExpectRefused(int nTextId, const std::string& strCase)
    {
        EXPECT_FALSE(g_bScriptHalted) << strCase;
        EXPECT_TRUE(errors.reports.empty()) << strCase;
        ASSERT_EQ(boxes.boxes.size(), 1u) << strCase;
        EXPECT_EQ(boxes.boxes[0].strText, GetEngineText(nTextId)) << strCase;
        EXPECT_EQ(g_bEngineStop.load(), 0) << strCase;
    }
};

const char kA[] = "\x82\xa0";    // あ
const char kI[] = "\x82\xa2";    // い

// ---- Extract and remove -----------------------------------------------------------------------

struct RANGE_CASE {
    const char* pszCase;
    std::string strText;
    bool bRemove;
    std::optional<int64_t> first, count;
    std::string strResult;   // when nError is 0
    int nError;
};

std::vector<BUILDER_ARG> RangeArgs(const RANGE_CASE& c, BUILDER_ARG source, std::optional<BUILDER_ARG> target)
{
    std::vector<BUILDER_ARG> args = {std::move(source)};
    if (target) args.push_back(*target);
    args.push_back(Val(c.bRemove ? KX_VU_REMOVE : KX_VU_EXTRACT));
    if (c.first) args.push_back(Val(KX_VU_FIRST, *c.first));
    if (c.count) args.push_back(Val(KX_VU_COUNT, *c.count));
    return args;
}

// Positions count characters from 1; a double-byte character is one. Count 5 from the second
// character of abcdef is the whole rest: only a character that would start at or after the end is
// out of range.
TEST_F(VarUtilTest, ExtractAndRemoveByCharacters)
{
    const std::string s = std::string("a") + kA + "b" + kI;   // four characters
    const std::vector<RANGE_CASE> cases = {
        {"extract 2,3", "abcdef", false, 2, 3, "bcd", 0},
        {"extract the rest", "abcdef", false, 2, 5, "bcdef", 0},
        {"extract the last", "abcdef", false, 6, 1, "f", 0},
        {"first 1", "abcdef", false, 1, 2, "ab", 0},
        {"first below 1", "abcdef", false, -5, 2, "ab", 0},
        {"no first", "abcdef", false, {}, 2, "ab", 0},
        {"count 0", "abcdef", false, 3, 0, "", 0},
        {"count negative", "abcdef", false, 3, -4, "", 0},
        {"double-byte", s, false, 2, 2, std::string(kA) + "b", 0},
        {"double-byte last", s, false, 4, 1, kI, 0},
        {"remove 2,3", "abcdef", true, 2, 3, "aef", 0},
        {"remove the rest", "abcdef", true, 2, 5, "a", 0},
        {"remove double-byte", s, true, 2, 1, "ab" + std::string(kI), 0},
        {"remove nothing", "abcdef", true, 4, 0, "abcdef", 0},
        {"extract count 6", "abcdef", false, 2, 6, "", 120020},
        {"extract first 7", "abcdef", false, 7, 1, "", 120010},
        {"extract first 7 count 0", "abcdef", false, 7, 0, "", 120010},
        {"extract huge first", "abcdef", false, INT64_MAX, 1, "", 120010},
        {"extract huge count", "abcdef", false, 1, INT64_MAX, "", 120020},
        {"extract from empty", "", false, 1, 0, "", 120010},
        {"extract past double-byte", s, false, 5, 1, "", 120010},
        {"remove count 6", "abcdef", true, 2, 6, "", 120120},
        {"remove first 7", "abcdef", true, 7, 1, "", 120110},
    };
    // Every success in one run, each case from its own element into its own element.
    defs = {TextArray(1000, static_cast<int32_t>(cases.size())), TextArray(1001, static_cast<int32_t>(cases.size()), "old")};
    for (size_t i = 0; i < cases.size(); ++i)
        if (!cases[i].nError) Util(RangeArgs(cases[i], At(0, 1000, static_cast<int64_t>(i)), At(1, 1001, static_cast<int64_t>(i))));
    Run([&] {
        for (size_t i = 0; i < cases.size(); ++i) SetVarString(1000, static_cast<int64_t>(i), cases[i].strText.c_str());
    });
    ExpectClean();
    for (size_t i = 0; i < cases.size(); ++i) {
        if (cases[i].nError) continue;
        EXPECT_EQ(Text(1001, static_cast<int64_t>(i)), cases[i].strResult) << cases[i].pszCase;
        EXPECT_EQ(Text(1000, static_cast<int64_t>(i)), cases[i].strText) << cases[i].pszCase;
    }

    for (const RANGE_CASE& c : cases) {
        if (!c.nError) continue;
        Restart();
        defs = {TextArray(1000, 1, c.strText), TextArray(1001, 1, "old")};
        Util(RangeArgs(c, At(0, 1000, 0), At(1, 1001, 0)));
        Run();
        ExpectStoppedBy(c.nError, c.pszCase);
        EXPECT_EQ(Text(1001, 0), "old") << c.pszCase;
    }
}

// Without a target the result replaces A's own text; A and a given B must be text variables.
TEST_F(VarUtilTest, ExtractAndRemoveIntoTheSourceAndTheirTypeTests)
{
    defs = {TextArray(1000, 2, "abcdef")};
    Util(RangeArgs({"", "", false, 2, 3, "", 0}, At(0, 1000, 0), {}));
    Util(RangeArgs({"", "", true, 2, 3, "", 0}, At(0, 1000, 1), {}));
    Run();
    ExpectClean();
    EXPECT_EQ(Text(1000, 0), "bcd");
    EXPECT_EQ(Text(1000, 1), "aef");

    struct CASE {
        const char* pszCase;
        bool bRemove;
        bool bIntSource;
    } cases[] = {{"extract from a number", false, true}, {"extract into a number", false, false},
                 {"remove from a number", true, true}, {"remove into a number", true, false}};
    for (const CASE& c : cases) {
        Restart();
        defs = {TextArray(1000, 1, "abc"), MakeIntVarDef(1001, 7, {1})};
        RANGE_CASE r{"", "", c.bRemove, 1, 1, "", 0};
        Util(c.bIntSource ? RangeArgs(r, At(0, 1001, 0), {}) : RangeArgs(r, At(0, 1000, 0), At(1, 1001, 0)));
        Run();
        ExpectStoppedBy(KX_ERR_VU_NOT_TEXT, c.pszCase);
        EXPECT_EQ(GetVarInt(1001, 0), 7);
    }
}

// ---- Conversion -------------------------------------------------------------------------------

// Numbers become their decimal or "%f" texts; texts become numbers by the evaluator's reading: hex
// after "0x", a double with a '.', else a saturating decimal integer, stored by the target's type.
TEST_F(VarUtilTest, ConversionsBetweenNumbersAndTexts)
{
    defs = {MakeIntVarDef(1000, 0, {2}), MakeFloatVarDef(1001, 0, {2}), TextArray(1002, 8),
            TextArray(1003, 4, "old"),   MakeIntVarDef(1004, 7, {8}),    MakeFloatVarDef(1005, 7, {8})};
    const std::vector<std::string> texts = {"0x10", "3.75", "-12", "", "0xffffffffffffffff", "99999999999999999999",
                                            "0x1fg", "-"};
    Util({At(0, 1000, 0), At(1, 1003, 0), Val(KX_VU_CONVERT)});
    Util({At(0, 1000, 1), At(1, 1003, 1), Val(KX_VU_CONVERT)});
    Util({At(0, 1001, 0), At(1, 1003, 2), Val(KX_VU_CONVERT)});
    Util({At(0, 1001, 1), At(1, 1003, 3), Val(KX_VU_CONVERT)});
    for (int i = 0; i < 8; ++i) {
        Util({At(0, 1002, i), At(1, 1004, i), Val(KX_VU_CONVERT)});
        Util({At(0, 1002, i), At(1, 1005, i), Val(KX_VU_CONVERT)});
    }
    Run([&] {
        SetVarInt(1000, 0, -42);
        SetVarInt(1000, 1, INT64_MIN);
        SetVarFloat(1001, 0, 0.5);
        SetVarFloat(1001, 1, -1e20);
        for (int i = 0; i < 8; ++i) SetVarString(1002, i, texts[static_cast<size_t>(i)].c_str());
    });
    ExpectClean();
    EXPECT_EQ(Text(1003, 0), "-42");
    EXPECT_EQ(Text(1003, 1), "-9223372036854775808");
    EXPECT_EQ(Text(1003, 2), "0.500000");
    EXPECT_EQ(Text(1003, 3), "-100000000000000000000.000000");
    EXPECT_EQ(Ints(1004), (std::vector<int64_t>{16, 3, -12, 0, -1, INT64_MAX, 31, 0}));
    const std::vector<double> doubles = {16.0, 3.75, -12.0, 0.0, -1.0, 9223372036854775807.0, 31.0, 0.0};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(GetVarFloat(1005, i), doubles[static_cast<size_t>(i)]) << texts[static_cast<size_t>(i)];
}

TEST_F(VarUtilTest, ConversionRefusals)
{
    struct CASE {
        const char* pszCase;
        KXV_DEF source;
        KXV_DEF target;
        int nError;   // -1: the turn ends without a report
    };
    const std::vector<CASE> cases = {
        {"not a number", TextArray(1000, 1, "12a"), MakeIntVarDef(1001, 7, {1}), KX_ERR_VU_NOT_NUMBER},
        {"full-width digit", TextArray(1000, 1, "\x82\x50"), MakeIntVarDef(1001, 7, {1}), KX_ERR_VU_NOT_NUMBER},
        {"int to int", MakeIntVarDef(1000, 1, {1}), MakeIntVarDef(1001, 7, {1}), KX_ERR_VU_CONVERT_TYPES},
        {"double to int", MakeFloatVarDef(1000, 1, {1}), MakeIntVarDef(1001, 7, {1}), KX_ERR_VU_CONVERT_TYPES},
        {"text to text", TextArray(1000, 1, "1"), TextArray(1001, 1, "7"), KX_ERR_VU_CONVERT_TYPES},
        {"hex without digits", TextArray(1000, 1, "0x"), MakeIntVarDef(1001, 7, {1}), -1},
        {"seventeen hex digits", TextArray(1000, 1, "0x11111111111111111"), MakeIntVarDef(1001, 7, {1}), -1},
    };
    for (const CASE& c : cases) {
        Restart();
        defs = {c.source, c.target};
        Util({At(0, 1000, 0), At(1, 1001, 0), Val(KX_VU_CONVERT)});
        Run();
        if (c.nError > 0) {
            ExpectStoppedBy(c.nError, c.pszCase);
        } else {
            EXPECT_FALSE(g_bScriptHalted) << c.pszCase;
            EXPECT_TRUE(errors.reports.empty()) << c.pszCase;
        }
        if (c.target.bType == VARTYPE_INT) {
            EXPECT_EQ(GetVarInt(1001, 0), 7) << c.pszCase;
        } else {
            EXPECT_EQ(Text(1001, 0), "7") << c.pszCase;
        }
    }

    // A source of no type: nothing happens and the script goes on.
    Restart();
    defs = {MakeIntVarDef(1001, 7, {1})};
    Util({ExprArg(0, MakeExprVar(1050)), At(1, 1001, 0), Val(KX_VU_CONVERT)});
    Run();
    ExpectClean();
    EXPECT_EQ(GetVarInt(1001, 0), 7);
}

// ---- Case and width ---------------------------------------------------------------------------

// ASCII casing leaves double-byte letters and trail bytes alone; the cp932 casing also changes the
// full-width Latin, Greek, Cyrillic and Roman-numeral letters. Width conversion goes one character
// for one character, voiced marks included.
TEST_F(VarUtilTest, CaseAndWidthThroughTheCommand)
{
    // a Z ａ Ａ α А ｶ ﾞ ⅰ 1 ! and a trail byte in a-z: ピ (0x8373).
    const std::string src = std::string("aZ") + "\x82\x81" "\x82\x60" "\x83\xbf" "\x84\x40" "\xb6\xde" "\xfa\x40" "1!" "\x83\x73";
    struct CASE {
        std::vector<int> selectors;
        std::string strResult;
    };
    const std::vector<CASE> cases = {
        {{KX_VU_UPPER_ASCII}, std::string("AZ") + "\x82\x81" "\x82\x60" "\x83\xbf" "\x84\x40" "\xb6\xde" "\xfa\x40" "1!" "\x83\x73"},
        {{KX_VU_UPPER_CP932}, std::string("AZ") + "\x82\x60" "\x82\x60" "\x83\x9f" "\x84\x40" "\xb6\xde" "\x87\x54" "1!" "\x83\x73"},
        {{KX_VU_LOWER_ASCII}, std::string("az") + "\x82\x81" "\x82\x60" "\x83\xbf" "\x84\x40" "\xb6\xde" "\xfa\x40" "1!" "\x83\x73"},
        {{KX_VU_LOWER_CP932}, std::string("az") + "\x82\x81" "\x82\x81" "\x83\xbf" "\x84\x70" "\xb6\xde" "\xfa\x40" "1!" "\x83\x73"},
        {{KX_VU_FULL_WIDTH},
         std::string("\x82\x81" "\x82\x79" "\x82\x81" "\x82\x60" "\x83\xbf" "\x84\x40" "\x83\x4a" "\x81\x4a" "\xfa\x40" "\x82\x50" "\x81\x49" "\x83\x73")},
        {{KX_VU_HALF_WIDTH}, std::string("aZaA") + "\x83\xbf" "\x84\x40" "\xb6\xde" "\xfa\x40" "1!" "\x83\x73"},
        // Several at once run in their order, each from A: width first, then case.
        {{KX_VU_LOWER_ASCII, KX_VU_FULL_WIDTH}, std::string("az") + "\x82\x81" "\x82\x60" "\x83\xbf" "\x84\x40" "\xb6\xde" "\xfa\x40" "1!" "\x83\x73"},
    };
    defs = {TextArray(1000, 2, src), TextArray(1001, static_cast<int32_t>(cases.size()) + 1, "old")};
    for (size_t i = 0; i < cases.size(); ++i) {
        std::vector<BUILDER_ARG> args = {At(0, 1000, 0), At(1, 1001, static_cast<int64_t>(i))};
        for (int nSel : cases[i].selectors) args.push_back(Val(static_cast<uint8_t>(nSel)));
        Util(args);
    }
    // A half-width text whose full-width form does not fit 4095 bytes is cut at a whole character.
    Util({At(0, 1000, 1), At(1, 1001, static_cast<int64_t>(cases.size())), Val(KX_VU_FULL_WIDTH)});
    Run([] { SetVarString(1000, 1, std::string(3000, 'a').c_str()); });
    ExpectClean();
    for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(Text(1001, static_cast<int64_t>(i)), cases[i].strResult) << i;
    std::string strWide;
    for (int i = 0; i < 2047; ++i) strWide += "\x82\x81";
    EXPECT_EQ(Text(1001, static_cast<int64_t>(cases.size())), strWide);
    EXPECT_EQ(Text(1000, 0), src);

    for (int nSel : {KX_VU_UPPER_ASCII, KX_VU_UPPER_CP932, KX_VU_LOWER_ASCII, KX_VU_LOWER_CP932, KX_VU_FULL_WIDTH,
                     KX_VU_HALF_WIDTH}) {
        for (bool bIntSource : {true, false}) {
            Restart();
            defs = {TextArray(1000, 1, "abc"), MakeIntVarDef(1001, 7, {1})};
            if (bIntSource) Util({At(0, 1001, 0), At(1, 1000, 0), Val(static_cast<uint8_t>(nSel))});
            else Util({At(0, 1000, 0), At(1, 1001, 0), Val(static_cast<uint8_t>(nSel))});
            Run();
            ExpectStoppedBy(KX_ERR_VU_NOT_TEXT, "selector " + std::to_string(nSel));
            EXPECT_EQ(Text(1000, 0), "abc");
        }
    }
}

// ---- Arrays -----------------------------------------------------------------------------------

// The new size is the operator applied to the current size; new numbers are 0, new texts empty,
// texts beyond the new size released.
TEST_F(VarUtilTest, ResizeByOperator)
{
    defs = {MakeIntVarDef(1000, 4, {5}), TextArray(1001, 3, "t"), MakeFloatVarDef(1002, 1.5, {2}), MakeIntVarDef(1003, 2, {4})};
    Util({At(0, 1000, 0), Val(KX_VU_RESIZE, 2, ARGOP_ADD)});
    Util({At(0, 1001, 0), Val(KX_VU_RESIZE, 1)});
    Util({At(0, 1001, 0), Val(KX_VU_RESIZE, 2, ARGOP_ADD)});
    Util({At(0, 1002, 0), Val(KX_VU_RESIZE, 3, ARGOP_MUL)});
    Util({At(0, 1003, 0), Val(KX_VU_RESIZE, 2, ARGOP_DIV)});
    Util({At(0, 1003, 0), Val(KX_VU_RESIZE, 2)});   // the same size: nothing changes
    Run([] { SetVarString(1001, 0, "first"); });
    ExpectClean();
    EXPECT_EQ(Ints(1000), (std::vector<int64_t>{4, 4, 4, 4, 4, 0, 0}));
    EXPECT_EQ(GetVarDesc(1000)->anDim[0], 7);
    ASSERT_EQ(GetVarDesc(1001)->llCount, 3);
    EXPECT_EQ(Text(1001, 0), "first");
    EXPECT_EQ(Text(1001, 1), "");
    EXPECT_EQ(Text(1001, 2), "");
    ASSERT_EQ(GetVarDesc(1002)->llCount, 6);
    EXPECT_EQ(GetVarFloat(1002, 1), 1.5);
    EXPECT_EQ(GetVarFloat(1002, 5), 0.0);
    EXPECT_EQ(Ints(1003), (std::vector<int64_t>{2, 2}));
}

// Sizes below 1 and arrays that are not one-dimensional are refused with a box; sizes above
// 4,000,000 with error 101100, judged on the whole 64-bit size before any allocation. Nothing
// changes in any of them.
TEST_F(VarUtilTest, ResizeRefusals)
{
    struct CASE {
        const char* pszCase;
        KXV_DEF def;
        int64_t llValue;
        uint8_t bOp;
        int nTextId;   // a box, or
        int nError;    // a report
    };
    const std::vector<CASE> cases = {
        {"-= 10", MakeIntVarDef(1000, 3, {5}), 10, ARGOP_SUB, TXT_VAR_RESIZE_BAD_SIZE, 0},
        {"= 0", MakeIntVarDef(1000, 3, {5}), 0, ARGOP_SET, TXT_VAR_RESIZE_BAD_SIZE, 0},
        {"= -2^32 + 5", MakeIntVarDef(1000, 3, {5}), -0x100000000LL + 5, ARGOP_SET, TXT_VAR_RESIZE_BAD_SIZE, 0},
        {"*= 100000", MakeIntVarDef(1000, 3, {100}), 100000, ARGOP_MUL, 0, 101100},
        {"= 4000001", TextArray(1000, 5, "3"), 4000001, ARGOP_SET, 0, 101100},
        {"= 2^32 + 5", MakeIntVarDef(1000, 3, {5}), 0x100000005LL, ARGOP_SET, 0, 101100},
        {"two dimensions", MakeIntVarDef(1000, 3, {2, 3}), 1, ARGOP_ADD, TXT_VAR_RESIZE_NOT_1D, 0},
        {"no dimension", MakeIntVarDef(1000, 3), 1, ARGOP_ADD, TXT_VAR_RESIZE_NOT_1D, 0},
    };
    for (const CASE& c : cases) {
        Restart();
        defs = {c.def};
        Util({c.def.dims.empty() ? ExprArg(0, MakeExprVar(1000)) : At(0, 1000, 0), Val(KX_VU_RESIZE, c.llValue, c.bOp)});
        Run();
        if (c.nError) ExpectStoppedBy(c.nError, c.pszCase);
        else ExpectRefused(c.nTextId, c.pszCase);
        const VAR_DESC* p = GetVarDesc(1000);
        int64_t llCount = 1;
        for (int32_t n : c.def.dims) llCount *= n;
        EXPECT_EQ(p->llCount, llCount) << c.pszCase;
        EXPECT_EQ(p->nDims, static_cast<int8_t>(c.def.dims.size())) << c.pszCase;
        if (!c.def.dims.empty()) {
            EXPECT_EQ(p->anDim[0], c.def.dims[0]) << c.pszCase;
        }
    }
}

// Insert shifts up from the position and loses the last element; delete shifts down and empties the
// last. Positions at or past the end clamp (insert) or change nothing (delete); negative positions
// change nothing. The same for int64, double and text arrays.
TEST_F(VarUtilTest, InsertAndDeleteOnEveryKindOfArray)
{
    struct CASE {
        bool bDelete;
        int64_t llPos;
        std::vector<int64_t> result;   // of 1, 2, 3 (0 for an empty element)
    };
    const std::vector<CASE> cases = {
        {false, 1, {1, 0, 2}},  {false, 0, {0, 1, 2}},  {false, 2, {1, 2, 0}}, {false, 7, {1, 2, 0}},
        {false, 0x100000000LL, {1, 2, 0}},            {false, -1, {1, 2, 3}}, {false, INT64_MIN, {1, 2, 3}},
        {true, 0, {2, 3, 0}},   {true, 1, {1, 3, 0}},   {true, 2, {1, 2, 0}},  {true, 3, {1, 2, 3}},
        {true, 0x100000000LL, {1, 2, 3}},             {true, -1, {1, 2, 3}},  {true, INT64_MIN, {1, 2, 3}},
    };
    // Per case three arrays: int64 at 1000 + 3k, double at 1001 + 3k, text at 1002 + 3k.
    for (size_t k = 0; k < cases.size(); ++k) {
        const uint16_t n = static_cast<uint16_t>(1000 + 3 * k);
        defs.push_back(MakeIntVarDef(n, 0, {3}));
        defs.push_back(MakeFloatVarDef(static_cast<uint16_t>(n + 1), 0, {3}));
        defs.push_back(TextArray(static_cast<uint16_t>(n + 2), 3));
        for (uint16_t v = n; v < n + 3; ++v)
            Util({At(0, v, 0), Val(cases[k].bDelete ? KX_VU_DELETE : KX_VU_INSERT, cases[k].llPos)});
    }
    Run([&] {
        for (size_t k = 0; k < cases.size(); ++k) {
            const int n = static_cast<int>(1000 + 3 * k);
            for (int i = 0; i < 3; ++i) {
                SetVarInt(n, i, i + 1);
                SetVarFloat(n + 1, i, i + 1.0);
                SetVarString(n + 2, i, std::to_string(i + 1).c_str());
            }
        }
    });
    ExpectClean();
    for (size_t k = 0; k < cases.size(); ++k) {
        const int n = static_cast<int>(1000 + 3 * k);
        SCOPED_TRACE(std::string(cases[k].bDelete ? "delete at " : "insert at ") + std::to_string(cases[k].llPos));
        EXPECT_EQ(Ints(n), cases[k].result);
        for (int i = 0; i < 3; ++i) {
            const int64_t v = cases[k].result[static_cast<size_t>(i)];
            EXPECT_EQ(GetVarFloat(n + 1, i), static_cast<double>(v));
            EXPECT_EQ(Text(n + 2, i), v ? std::to_string(v) : "");
        }
    }

    for (bool bDelete : {false, true}) {
        Restart();
        defs = {MakeIntVarDef(1000, 3, {2, 2})};
        Util({At(0, 1000, 0), Val(bDelete ? KX_VU_DELETE : KX_VU_INSERT, 0)});
        Run();
        ExpectRefused(bDelete ? TXT_VAR_DELETE_NOT_1D : TXT_VAR_INSERT_NOT_1D, bDelete ? "delete" : "insert");
        EXPECT_EQ(Ints(1000), (std::vector<int64_t>{3, 3, 3, 3}));
    }
}

// Text elements move by their buffers: nothing is copied, the lost (deleted) element's buffer comes
// back as the new empty one, and no buffer is doubled or leaked (the sanitizer build checks).
TEST(VarArrayMoves, TextElementsMoveByTheirBuffers)
{
    ASSERT_EQ(CreateVarTable(1001), 0);
    VAR_DESC* p = GetVarDesc(1000);
    p->nDims = 1;
    p->anDim[0] = 4;
    ASSERT_EQ(InitVarString(p, "", 0), 0);
    const char* apsz[] = {"alpha", "beta", "gamma", "delta"};
    for (int i = 0; i < 4; ++i) SetVarString(1000, i, apsz[i]);
    char* a[4];
    uint16_t w[4];
    for (int i = 0; i < 4; ++i) {
        a[i] = p->ppszTexts[i];
        w[i] = p->pwTextCap[i];
    }

    InsertVarElement(p, 1);
    EXPECT_EQ(p->ppszTexts[0], a[0]);
    EXPECT_EQ(p->ppszTexts[1], a[3]);   // the lost last buffer, now empty
    EXPECT_EQ(p->ppszTexts[2], a[1]);
    EXPECT_EQ(p->ppszTexts[3], a[2]);
    EXPECT_EQ(p->pwTextCap[1], w[3]);
    EXPECT_EQ(p->pwTextCap[2], w[1]);
    EXPECT_STREQ(p->ppszTexts[1], "");
    EXPECT_STREQ(p->ppszTexts[3], "gamma");

    DeleteVarElement(p, 0);
    EXPECT_EQ(p->ppszTexts[0], a[3]);
    EXPECT_EQ(p->ppszTexts[1], a[1]);
    EXPECT_EQ(p->ppszTexts[2], a[2]);
    EXPECT_EQ(p->ppszTexts[3], a[0]);   // the deleted buffer, now empty
    EXPECT_EQ(p->pwTextCap[3], w[0]);
    EXPECT_STREQ(p->ppszTexts[3], "");
    EXPECT_STREQ(p->ppszTexts[2], "gamma");

    // A reused buffer keeps a capacity within its real size: a longer text still grows it.
    ASSERT_EQ(SetVarString(1000, 3, "a much longer text than alpha was"), 0);
    EXPECT_STREQ(GetVarString(1000, 3), "a much longer text than alpha was");
    FreeVarTable();
}

// ---- Reset ------------------------------------------------------------------------------------

// Only global definitions of scope 1 whose class bit is set in the mask of their type are applied
// again (shape included); a definition of another class always is; scope 3 never.
TEST_F(VarUtilTest, ResetGlobalsByClassMasks)
{
    KXV_DEF intClass1 = MakeIntVarDef(1000, 5, {3});
    KXV_DEF intClass2 = MakeIntVarDef(1001, 6);
    intClass2.bClass = 2;
    KXV_DEF floatClass1 = MakeFloatVarDef(1002, 1.5);
    KXV_DEF textClass3 = MakeTextVarDef(1003, "t");
    textClass3.bClass = 3;
    KXV_DEF textClass1 = MakeTextVarDef(1004, "u");
    KXV_DEF kept = MakeIntVarDef(1005, 9);
    kept.bScope = VARSCOPE_KEPT;
    KXV_DEF otherClass = MakeIntVarDef(1006, 4);
    otherClass.bClass = 0;
    KXV_DEF intClass4 = MakeIntVarDef(1007, 8);
    intClass4.bClass = 4;
    defs = {intClass1, intClass2, floatClass1, textClass3, textClass1, kept, otherClass, intClass4};

    Util({At(0, 1000, 0), Val(KX_VU_RESIZE, 10)});
    Util({Val(KX_VU_RESET), Val(KX_VU_RESET_INT), Val(KX_VU_RESET_INT + 3), Val(KX_VU_RESET_TEXT + 2)});
    Run([] {
        for (int i = 0; i < 3; ++i) SetVarInt(1000, i, 50);
        SetVarInt(1001, 0, 60);
        SetVarFloat(1002, 0, 2.5);
        SetVarString(1003, 0, "changed");
        SetVarString(1004, 0, "changed");
        SetVarInt(1005, 0, 90);
        SetVarInt(1006, 0, 40);
        SetVarInt(1007, 0, 80);
    });
    ExpectClean();
    EXPECT_EQ(Ints(1000), (std::vector<int64_t>{5, 5, 5}));   // its size back to 3
    EXPECT_EQ(GetVarInt(1001, 0), 60);
    EXPECT_EQ(GetVarFloat(1002, 0), 2.5);
    EXPECT_EQ(Text(1003, 0), "t");
    EXPECT_EQ(Text(1004, 0), "changed");
    EXPECT_EQ(GetVarInt(1005, 0), 90);
    EXPECT_EQ(GetVarInt(1006, 0), 4);
    EXPECT_EQ(GetVarInt(1007, 0), 8);
}

// ---- Queries ----------------------------------------------------------------------------------

// Each query into its own element of an int64 target (and one double target).
TEST_F(VarUtilTest, QueriesAnswerByTheirSelectors)
{
    defs = {MakeIntVarDef(1000, 0, {4}),       MakeFloatVarDef(1001, 2.0, {2, 3}), TextArray(1002, 3),
            TextArray(1003, 4),                MakeIntVarDef(1010, -99, {48}),     MakeFloatVarDef(1011, -99, {1}),
            TextArray(1004, 4),                MakeIntVarDef(1005, 1)};
    struct CASE {
        const char* pszCase;
        std::vector<BUILDER_ARG> args;   // source and selectors
        int64_t llResult;
    };
    const std::vector<CASE> cases = {
        {"type int", {At(0, 1000, 0), Val(KX_VQ_TYPE)}, 1},
        {"type double", {At(0, 1001, 0), Val(KX_VQ_TYPE)}, 2},
        {"type text", {At(0, 1002, 0), Val(KX_VQ_TYPE)}, 3},
        {"type none", {ExprArg(0, MakeExprVar(1050)), Val(KX_VQ_TYPE)}, 0},
        {"width double-byte", {At(0, 1003, 0), Val(KX_VQ_FIRST_WIDTH)}, 2},
        {"width single", {At(0, 1003, 1), Val(KX_VQ_FIRST_WIDTH)}, 1},
        {"width lone lead byte", {At(0, 1003, 3), Val(KX_VQ_FIRST_WIDTH)}, 1},
        {"dims", {At(0, 1001, 0), Val(KX_VQ_DIMS)}, 2},
        {"dims scalar", {ExprArg(0, MakeExprVar(1005)), Val(KX_VQ_DIMS)}, 0},
        {"dim 0", {At(0, 1001, 0), Val(KX_VQ_DIM_SIZE)}, 2},
        {"dim 1", {At(0, 1001, 0), Val(KX_VQ_DIM_SIZE + 1)}, 3},
        {"dim 7", {At(0, 1001, 0), Val(KX_VQ_DIM_SIZE + 7)}, 0},
        {"chars", {At(0, 1003, 0), Val(KX_VQ_CHARS)}, 3},
        {"chars empty", {At(0, 1003, 2), Val(KX_VQ_CHARS)}, 0},
        {"chars lone lead byte", {At(0, 1003, 3), Val(KX_VQ_CHARS)}, 1},
        {"code double-byte", {At(0, 1003, 0), Val(KX_VQ_FIRST_CODE)}, 33440},
        {"code single", {At(0, 1003, 1), Val(KX_VQ_FIRST_CODE)}, 'A'},
        {"code empty", {At(0, 1003, 2), Val(KX_VQ_FIRST_CODE)}, 0},
        {"code lone lead byte", {At(0, 1003, 3), Val(KX_VQ_FIRST_CODE)}, 0x82},
        {"search int hit", {At(0, 1000, 0), Val(KX_VQ_SEARCH), Val(KX_VQ_FIND_INT, 2)}, 1},
        {"search int miss", {At(0, 1000, 0), Val(KX_VQ_SEARCH), Val(KX_VQ_FIND_INT, 5)}, -1},
        {"search int from 2", {At(0, 1000, 0), Val(KX_VQ_SEARCH), Val(KX_VQ_FIND_INT, 2), Val(KX_VQ_FROM, 2)}, 3},
        {"search from the size", {At(0, 1000, 0), Val(KX_VQ_SEARCH), Val(KX_VQ_FIND_INT, 2), Val(KX_VQ_FROM, 4)}, -1},
        {"search from beyond", {At(0, 1000, 0), Val(KX_VQ_SEARCH), Val(KX_VQ_FIND_INT, 2), Val(KX_VQ_FROM, 9)}, 9},
        {"search from negative", {At(0, 1000, 0), Val(KX_VQ_SEARCH), Val(KX_VQ_FIND_INT, 1), Val(KX_VQ_FROM, -7)}, 0},
        {"search int without value", {At(0, 1000, 0), Val(KX_VQ_SEARCH)}, -1},
        {"search double", {At(0, 1001, 0), Val(KX_VQ_SEARCH), Val(KX_VQ_FIND_FLOAT, 2)}, 0},
        {"search text", {At(0, 1002, 0), Val(KX_VQ_SEARCH), TextVal(KX_VQ_FIND_TEXT, "c")}, 2},
        {"search text miss", {At(0, 1002, 0), Val(KX_VQ_SEARCH), TextVal(KX_VQ_FIND_TEXT, "C")}, -1},
        {"smallest", {At(0, 1002, 0), Val(KX_VQ_SMALLEST)}, 1},
        {"smallest first of equal", {At(0, 1004, 0), Val(KX_VQ_SMALLEST)}, 1},
        {"smallest to 0", {At(0, 1004, 0), Val(KX_VQ_SMALLEST), Val(KX_VQ_TO, 0)}, 0},
        {"smallest to beyond", {At(0, 1004, 0), Val(KX_VQ_SMALLEST), Val(KX_VQ_FROM, -3), Val(KX_VQ_TO, 1000)}, 1},
        {"smallest byte-wise from 2", {At(0, 1004, 0), Val(KX_VQ_SMALLEST), Val(KX_VQ_FROM, 2)}, 2},
        // The first of 2..12 answers alone; otherwise 13..16 each answer, the last one stays.
        {"type before dims", {At(0, 1001, 0), Val(KX_VQ_DIMS), Val(KX_VQ_TYPE)}, 2},
        {"width before chars", {At(0, 1003, 0), Val(KX_VQ_CHARS), Val(KX_VQ_FIRST_WIDTH)}, 2},
        {"chars then code", {At(0, 1003, 1), Val(KX_VQ_CHARS), Val(KX_VQ_FIRST_CODE)}, 'A'},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        std::vector<BUILDER_ARG> args = cases[i].args;
        args.push_back(At(1, 1010, static_cast<int64_t>(i)));
        Query(args);
    }
    Query({At(0, 1000, 0), At(1, 1011, 0), Val(KX_VQ_SEARCH), Val(KX_VQ_FIND_INT, 3)});   // into a double
    Run([] {
        for (int i = 0; i < 4; ++i) SetVarInt(1000, i, i == 3 ? 2 : i + 1);   // 1, 2, 3, 2
        SetVarFloat(1001, 1, 2.5);
        SetVarString(1002, 0, "b");
        SetVarString(1002, 1, "a");
        SetVarString(1002, 2, "c");
        SetVarString(1003, 0, std::string(kA).append(kI).append("x").c_str());
        SetVarString(1003, 1, "Ab");
        SetVarString(1003, 3, "\x82");
        SetVarString(1004, 0, "b");
        SetVarString(1004, 1, "a");
        SetVarString(1004, 2, "a");
        SetVarString(1004, 3, "\x82\xa0");   // above every ASCII text byte-wise
    });
    ExpectClean();
    ASSERT_LE(cases.size(), 48u);
    for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(GetVarInt(1010, static_cast<int64_t>(i)), cases[i].llResult) << cases[i].pszCase;
    EXPECT_EQ(GetVarFloat(1011, 0), 2.0);
}

TEST_F(VarUtilTest, QueryRefusals)
{
    struct CASE {
        const char* pszCase;
        KXV_DEF source;
        int nSelector;
        int nError;
    };
    const std::vector<CASE> cases = {
        {"width of an empty text", TextArray(1000, 1), KX_VQ_FIRST_WIDTH, KX_ERR_VQ_EMPTY_TEXT},
        {"width of a number", MakeIntVarDef(1000, 1, {1}), KX_VQ_FIRST_WIDTH, KX_ERR_VU_NOT_TEXT},
        {"chars of a number", MakeIntVarDef(1000, 1, {1}), KX_VQ_CHARS, KX_ERR_VU_NOT_TEXT},
        {"code of a number", MakeFloatVarDef(1000, 1, {1}), KX_VQ_FIRST_CODE, KX_ERR_VU_NOT_TEXT},
        {"smallest of numbers", MakeIntVarDef(1000, 1, {3}), KX_VQ_SMALLEST, KX_ERR_VU_NOT_TEXT},
    };
    for (const CASE& c : cases) {
        Restart();
        defs = {c.source, MakeIntVarDef(1001, 7, {1})};
        Query({At(0, 1000, 0), At(1, 1001, 0), Val(static_cast<uint8_t>(c.nSelector))});
        Run();
        ExpectStoppedBy(c.nError, c.pszCase);
        EXPECT_EQ(GetVarInt(1001, 0), 7) << c.pszCase;
    }
    // The empty-text report names the command and its argument from the command table.
    Restart();
    defs = {TextArray(1000, 1), MakeIntVarDef(1001, 7, {1})};
    texts = {{KX_ERR_VQ_EMPTY_TEXT, "empty: %s / %s"}};
    Query({At(0, 1000, 0), At(1, 1001, 0), Val(KX_VQ_FIRST_WIDTH)});
    const KXC_COMMAND cmd = DefaultGameData().commands.commands[KXCMD_VAR_QUERY];
    Run();
    ASSERT_EQ(errors.reports.size(), 1u);
    EXPECT_NE(errors.reports[0].strText.find("empty: " + cmd.strName + " / " + cmd.args[KX_VQ_FIRST_WIDTH].strName),
              std::string::npos)
        << errors.reports[0].strText;

    // A result into a text target is the store's own refusal.
    Restart();
    defs = {MakeIntVarDef(1000, 1, {1}), TextArray(1001, 1, "t")};
    Query({At(0, 1000, 0), At(1, 1001, 0), Val(KX_VQ_TYPE)});
    Run();
    ExpectStoppedBy(KX_ERR_VAR_WRONG_TYPE, "text target");
}

// ---- The tables against the platform's conversion ---------------------------------------------

// The code point of one cp932 character through the platform's conversion, 0 when it has none.
uint32_t CodePointOf(const std::string& strCp932)
{
    char sz[16];
    if (PlatCp932ToUtf8(strCp932.c_str(), sz, sizeof sz) <= 0) return 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(sz);
    uint32_t u;
    size_t n;
    if (p[0] < 0x80) { u = p[0]; n = 1; }
    else if ((p[0] & 0xE0) == 0xC0) { u = p[0] & 0x1F; n = 2; }
    else if ((p[0] & 0xF0) == 0xE0) { u = p[0] & 0x0F; n = 3; }
    else { u = p[0] & 0x07; n = 4; }
    for (size_t i = 1; i < n; ++i) u = (u << 6) | (p[i] & 0x3F);
    return std::strlen(sz) == n ? u : 0;   // exactly one character
}
std::string Utf8Of(uint32_t u)
{
    std::string s;
    if (u < 0x80) s += static_cast<char>(u);
    else if (u < 0x800) { s += static_cast<char>(0xC0 | (u >> 6)); s += static_cast<char>(0x80 | (u & 0x3F)); }
    else if (u < 0x10000) {
        s += static_cast<char>(0xE0 | (u >> 12));
        s += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (u & 0x3F));
    }
    return s;
}
// The cp932 code of a code point through the platform's conversion (a byte, or lead x 256 +
// trail), 0 when it has none.
uint32_t Cp932CodeOf(uint32_t u)
{
    char sz[8];
    if (PlatUtf8ToCp932(Utf8Of(u).c_str(), sz, sizeof sz) <= 0) return 0;
    const size_t n = std::strlen(sz);
    if (n == 1) return static_cast<unsigned char>(sz[0]);
    if (n == 2) return (static_cast<unsigned char>(sz[0]) << 8) | static_cast<unsigned char>(sz[1]);
    return 0;
}
std::string CodeText(uint32_t wCode)
{
    std::string s;
    if (wCode > 0xFF) s += static_cast<char>(wCode >> 8);
    s += static_cast<char>(wCode & 0xFF);
    return s;
}
// Every double-byte code that the platform converts to one character.
template <class F>
void ForEachDoubleByteCode(F f)
{
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        if (lead > 0x9F && lead < 0xE0) continue;
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F) continue;
            const uint16_t w = static_cast<uint16_t>((lead << 8) | trail);
            if (const uint32_t u = CodePointOf(CodeText(w))) f(w, u);
        }
    }
}

// The Unicode full-width forms of the half-width katakana U+FF61..U+FF9F, in their order.
const char kFullKanaUtf8[] = "。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワン゛゜";

std::vector<uint32_t> FullKanaCodePoints()
{
    std::vector<uint32_t> v;
    const std::string s = kFullKanaUtf8;
    for (size_t i = 0; i + 2 < s.size(); i += 3)
        v.push_back(((s[i] & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3Fu));
    return v;
}

// Widening gives each printable ASCII character its Unicode full-width form (U+3000 for the space)
// and each half-width katakana its full-width kana; narrowing turns exactly the double-byte
// characters with those code points back, the second copies in the extension rows included.
TEST(Cp932Tables, WidthMatchesThePlatformConversion)
{
    const std::vector<uint32_t> kana = FullKanaCodePoints();
    ASSERT_EQ(kana.size(), 63u);
    for (unsigned c = 0; c < 256; ++c) {
        SCOPED_TRACE(c);
        const uint16_t w = FullWidthOf(static_cast<uint8_t>(c));
        if (c >= 0x20 && c < 0x7F) {
            EXPECT_EQ(CodePointOf(CodeText(w)), c == 0x20 ? 0x3000u : 0xFF01u + (c - 0x21));
        } else if (c >= 0xA1 && c < 0xE0) {
            ASSERT_EQ(CodePointOf(CodeText(c)), 0xFF61u + (c - 0xA1));
            EXPECT_EQ(CodePointOf(CodeText(w)), kana[c - 0xA1]);
        } else {
            EXPECT_EQ(w, 0);
        }
    }
    int nHalf = 0;
    ForEachDoubleByteCode([&](uint16_t w, uint32_t u) {
        unsigned expected = 0;
        if (u == 0x3000) expected = 0x20;
        else if (u >= 0xFF01 && u <= 0xFF5E) expected = 0x21 + (u - 0xFF01);
        for (size_t k = 0; k < kana.size(); ++k)
            if (kana[k] == u) expected = 0xA1 + static_cast<unsigned>(k);
        EXPECT_EQ(HalfWidthOf(w), expected) << std::hex << w;
        nHalf += expected != 0;
    });
    EXPECT_EQ(nHalf, 95 + 63 + 2);

    // Whole texts: a round trip, and the cut at a whole character.
    std::string s;
    for (unsigned c = 0x20; c < 0x7F; ++c) s += static_cast<char>(c);
    for (unsigned c = 0xA1; c < 0xE0; ++c) s += static_cast<char>(c);
    s += "\x88\x9f";   // 亜 has no other width
    std::vector<char> wide(1024), narrow(1024);
    const size_t nWide = ToFullWidthCp932(wide.data(), wide.size(), s.c_str());
    EXPECT_EQ(nWide, 2 * (s.size() - 2) + 2);
    EXPECT_EQ(ToHalfWidthCp932(narrow.data(), narrow.size(), wide.data()), s.size());
    EXPECT_EQ(std::string(narrow.data()), s);
    char sz[6];
    EXPECT_EQ(ToFullWidthCp932(sz, sizeof sz, "abc"), 4u);
    EXPECT_STREQ(sz, "\x82\x81\x82\x82");
    EXPECT_EQ(ToHalfWidthCp932(sz, 3, "\x88\x9f" "a"), 2u);
    EXPECT_EQ(ToHalfWidthCp932(sz, 2, "\x88\x9f" "a"), 0u);
    EXPECT_EQ(ToFullWidthCp932(sz, 0, "a"), 0u);
}

// The double-byte case partners are those of the Unicode case mapping (the C.UTF-8 locale of the
// C++ library) wherever both characters exist in cp932; single bytes change only for a-z / A-Z.
TEST(Cp932Tables, CaseMatchesThePlatformConversion)
{
    std::locale loc;
    try {
        loc = std::locale("C.UTF-8");
    } catch (const std::exception&) {
        GTEST_SKIP() << "no C.UTF-8 locale";
    }
    const auto& ct = std::use_facet<std::ctype<wchar_t>>(loc);
    int nCased = 0;
    ForEachDoubleByteCode([&](uint16_t w, uint32_t u) {
        for (bool bUpper : {true, false}) {
            const uint32_t v = static_cast<uint32_t>(bUpper ? ct.toupper(static_cast<wchar_t>(u)) : ct.tolower(static_cast<wchar_t>(u)));
            uint32_t expected = w;
            if (v != u)
                if (const uint32_t c = Cp932CodeOf(v); c > 0xFF) expected = c;
            EXPECT_EQ(bUpper ? UpperCp932Char(w) : LowerCp932Char(w), expected) << std::hex << w << (bUpper ? " upper" : " lower");
            nCased += expected != w;
        }
    });
    EXPECT_GT(nCased, 2 * (26 + 24 + 33));
    for (unsigned c = 1; c < 256; ++c) {
        char szUp[3] = {static_cast<char>(c), 0, 0}, szLow[3] = {static_cast<char>(c), 0, 0};
        UpperCaseCp932(szUp);
        LowerCaseCp932(szLow);
        EXPECT_EQ(static_cast<unsigned char>(szUp[0]), c >= 'a' && c <= 'z' ? c - 32 : c) << c;
        EXPECT_EQ(static_cast<unsigned char>(szLow[0]), c >= 'A' && c <= 'Z' ? c + 32 : c) << c;
    }
}

}  // namespace
