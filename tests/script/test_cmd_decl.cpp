// Declaration and assignment commands, run end to end: a game folder with one script is loaded by
// the start-up loaders, the SYSTEM thread runs it through the scheduler, and the results are read
// back from the variables.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "root/startup.h"
#include "core/engine_globals.h"
#include "core/engine_hooks.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/input_state.h"
#include "core/object_tree.h"
#include "core/pack_archive.h"
#include "core/window_record.h"
#include "platform/plat_file.h"
#include "script/dispatch.h"
#include "script/evaluator.h"
#include "script/flow_frames.h"
#include "script/script_body.h"
#include "script/script_tables.h"
#include "core/script_thread.h"
#include "script/system_vars.h"
#include "script/variables.h"
#include "tests/support/script_game_fixture.h"
#include "tests/support/test_support.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/script_builder.h"

namespace {

using CODE = std::vector<uint8_t>;

CODE Var(uint16_t v) { return MakeExprVar(v); }
CODE Elem(uint16_t v, const std::vector<int64_t>& subs) { return MakeExprElement(v, subs); }
CODE Whole(uint16_t v)
{
    CODE c;
    ExprAsmVarRef(c, v);
    return c;
}
// 7 / 2 written with integers only.
CODE SevenHalves()
{
    CODE c = MakeExprInt(7);
    ExprAsmInt(c, 2);
    ExprAsmOp(c, '/');
    return c;
}
// An access to an indirect system variable whose subscript is the reference value of var[elem]
// plus nAdd, or a literal reference value when nVar is 0.
CODE Indirect(uint16_t nSys, uint16_t nVar, int64_t llElem, int64_t llAdd = 0)
{
    CODE c;
    ExprAsmOpen(c, nSys);
    if (nVar) {
        ExprAsmElement(c, nVar, {llElem}, EXPR_PREFIX_HASH);
        if (llAdd) {
            ExprAsmInt(c, llAdd);
            ExprAsmOp(c, '+');
        }
    } else {
        ExprAsmInt(c, llAdd);
    }
    ExprAsmClose(c);
    return c;
}

void Declare(SCRIPT_BUILDER& b, int nCmd, const CODE& target, const CODE& value, uint8_t bType = EVALTYPE_INT)
{
    EXPECT_GE(EmitCommand(&b, static_cast<uint8_t>(nCmd), {ExprArg(0, target), ExprArg(1, value, bType)}), 0);
}
void Let(SCRIPT_BUILDER& b, const CODE& target, uint8_t bOp, const CODE& value, uint8_t bType = EVALTYPE_INT)
{
    EXPECT_GE(EmitCommand(&b, KXCMD_ASSIGN, {ExprArg(0, target, EVALTYPE_INT, bOp), ExprArg(1, value, bType)}), 0);
}

SCRIPT_BUILDER Begin()
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    AddLabel(&b, KX_START_LABEL);
    return b;
}

class DeclAssignTest : public SCRIPT_GAME_FIXTURE {
protected:
    std::vector<KXV_DEF> defs;   // user variables of the next run (1000..1099 exist)

    void SetUp() override
    {
        RegisterElemOps();
        OpenScriptGame();
    }
    void TearDown() override { CloseScriptGame(); }

    // Loads a game made of the script (ended by a halt) and the definitions, then runs the SYSTEM
    // thread for one pass. pfnBeforeRun prepares engine state once the tables are loaded.
    void Run(SCRIPT_BUILDER& b, void (*pfnBeforeRun)(SCRIPT_THREAD*) = nullptr)
    {
        ASSERT_NO_FATAL_FAILURE(StartHalting(b, defs));
        if (pfnBeforeRun) pfnBeforeRun(System());
        Pass();
    }
};

const VAR_DESC& Desc(int n)
{
    static const VAR_DESC kNone{};
    const VAR_DESC* p = GetVarDesc(n);
    EXPECT_NE(p, nullptr) << n;
    return p ? *p : kNone;
}

std::vector<int32_t> Dims(const VAR_DESC& d) { return std::vector<int32_t>(d.anDim, d.anDim + KX_VAR_MAX_DIMS); }

std::string Text(int nVar, int64_t llElem)
{
    const char* psz = GetVarString(nVar, llElem);
    return psz ? psz : "(none)";
}

// The run ended at the first error: exactly this report, fatal, the engine stopping.
void ExpectStoppedBy(const ERROR_RECORDER& errors, int nId)
{
    ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, nId));
    EXPECT_FALSE(g_bScriptHalted);
}

}  // namespace

// ---- Declarations ---------------------------------------------------------------------------------

TEST_F(DeclAssignTest, DeclarationsGiveShapeTypeAndEveryElementTheValue)
{
    SCRIPT_BUILDER b = Begin();
    Declare(b, KXCMD_DECLARE_INT, Elem(1000, {3, 4}), MakeExprInt(7));
    Declare(b, KXCMD_DECLARE_FLOAT, Var(1001), SevenHalves(), EVALTYPE_FLOAT);
    Declare(b, KXCMD_DECLARE_FLOAT, Elem(1002, {2}), SevenHalves(), EVALTYPE_INT);   // integer arithmetic: 3
    Declare(b, KXCMD_DECLARE_STRING, Elem(1003, {2}), MakeExprText("\x82\xa0\x83\x5c"), EVALTYPE_TEXT);
    Declare(b, KXCMD_DECLARE_INT, Elem(1004, {1, 2, 1, 2, 1, 2, 1, 2}), MakeExprInt(-1));
    CODE sized;   // 1005[1000[2, 3]]: the size is read from a variable
    ExprAsmOpen(sized, 1005);
    ExprAsmElement(sized, 1000, {2, 3});
    ExprAsmClose(sized);
    Declare(b, KXCMD_DECLARE_INT, sized, MakeExprInt(0));
    Declare(b, KXCMD_DECLARE_INT, Elem(1006, {0x100000005LL}), MakeExprInt(1));   // low 32 bits: 5
    Declare(b, KXCMD_DECLARE_INT, Elem(1007, {2000, 2000}), MakeExprInt(3));       // the largest shape
    Declare(b, KXCMD_DECLARE_INT, Elem(1008, {5}), MakeExprInt(1));
    Declare(b, KXCMD_DECLARE_STRING, Elem(1008, {2}), MakeExprText("re"), EVALTYPE_TEXT);   // again, as text
    Declare(b, KXCMD_DECLARE_FLOAT, Elem(1009, {2, 3}), MakeExprDouble(1.25), EVALTYPE_FLOAT);
    Declare(b, KXCMD_DECLARE_FLOAT, Elem(1009, {4}), MakeExprDouble(-2.0), EVALTYPE_FLOAT);   // reshaped
    ERROR_RECORDER errors;
    Run(b);
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_TRUE(g_bScriptHalted);

    const VAR_DESC& a = Desc(1000);
    EXPECT_EQ(a.bType, KX_VAR_TYPE_INT);
    EXPECT_EQ(a.nDims, 2);
    EXPECT_EQ(Dims(a), (std::vector<int32_t>{3, 4, 0, 0, 0, 0, 0, 0}));
    ASSERT_EQ(a.llCount, 12);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(GetVarInt(1000, i), 7) << i;

    EXPECT_EQ(Desc(1001).bType, KX_VAR_TYPE_FLOAT);
    EXPECT_EQ(Desc(1001).nDims, 0);
    EXPECT_EQ(Desc(1001).llCount, 1);
    EXPECT_EQ(GetVarFloat(1001, 0), 3.5);
    EXPECT_EQ(GetVarFloat(1002, 1), 3.0);

    EXPECT_EQ(Desc(1003).bType, KX_VAR_TYPE_STRING);
    EXPECT_EQ(Text(1003, 0), "\x82\xa0\x83\x5c");
    EXPECT_EQ(Text(1003, 1), "\x82\xa0\x83\x5c");

    EXPECT_EQ(Desc(1004).nDims, 8);
    EXPECT_EQ(Desc(1004).llCount, 16);
    EXPECT_EQ(GetVarInt(1004, 15), -1);
    EXPECT_EQ(Desc(1005).llCount, 7);
    EXPECT_EQ(Desc(1006).anDim[0], 5);
    EXPECT_EQ(Desc(1006).llCount, 5);
    EXPECT_EQ(Desc(1007).llCount, 4000000);
    EXPECT_EQ(GetVarInt(1007, 3999999), 3);

    const VAR_DESC& r = Desc(1008);
    EXPECT_EQ(r.bType, KX_VAR_TYPE_STRING);
    EXPECT_EQ(r.llCount, 2);
    EXPECT_EQ(r.pllValues, nullptr);
    EXPECT_EQ(Text(1008, 1), "re");
    const VAR_DESC& f = Desc(1009);
    EXPECT_EQ(f.nDims, 1);
    EXPECT_EQ(Dims(f), (std::vector<int32_t>{4, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_EQ(f.llCount, 4);
    EXPECT_EQ(GetVarFloat(1009, 3), -2.0);
}

// A refused shape is reported and leaves the variable as it was: its dimensions still describe
// the elements it holds.
TEST_F(DeclAssignTest, RefusedShapesLeaveTheVariableAsItWas)
{
    struct CASE {
        const char* pszCase;
        int nCmd;
        std::vector<int64_t> sizes;
        int nError;
    } cases[] = {
        {"2001 x 2000", KXCMD_DECLARE_INT, {2001, 2000}, 101100},
        {"2001 x 2000 texts", KXCMD_DECLARE_STRING, {2001, 2000}, 101100},
        {"size 0", KXCMD_DECLARE_FLOAT, {0}, 101110},
        {"two negative sizes", KXCMD_DECLARE_INT, {-2, -3}, 101110},
        {"nine subscripts", KXCMD_DECLARE_INT, {1, 1, 1, 1, 1, 1, 1, 1, 1}, 900030},
    };
    defs = {MakeIntVarDef(1000, 9, {4})};
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszCase);
        SCRIPT_BUILDER b = Begin();
        Declare(b, c.nCmd, Elem(1000, c.sizes), c.nCmd == KXCMD_DECLARE_STRING ? MakeExprText("x") : MakeExprInt(1),
                c.nCmd == KXCMD_DECLARE_STRING ? EVALTYPE_TEXT : EVALTYPE_INT);
        Let(b, Var(1001), ARGOP_SET, MakeExprInt(1));
        ERROR_RECORDER errors;
        Run(b);
        ExpectStoppedBy(errors, c.nError);
        const VAR_DESC& a = Desc(1000);
        EXPECT_EQ(a.bType, KX_VAR_TYPE_INT);
        EXPECT_EQ(a.nDims, 1);
        EXPECT_EQ(Dims(a), (std::vector<int32_t>{4, 0, 0, 0, 0, 0, 0, 0}));
        EXPECT_EQ(a.llCount, 4);
        EXPECT_EQ(GetVarInt(1000, 3), 9);
        EXPECT_EQ(Desc(1001).bType, KX_VAR_TYPE_NONE);   // the script stopped at the error
    }
}

// ---- Element assignment -----------------------------------------------------------------------------

TEST_F(DeclAssignTest, EveryOperatorOnIntegerAndDoubleElements)
{
    struct INT_CASE {
        uint8_t bOp;
        int64_t llStart, llValue, llExpect;
    } ints[] = {
        {ARGOP_SET, 5, 9, 9},
        {ARGOP_ADD, 5, 3, 8},
        {ARGOP_ADD, INT64_MAX, 1, INT64_MIN},   // wraps
        {ARGOP_SUB, 5, 7, -2},
        {ARGOP_MUL, -4, 6, -24},
        {ARGOP_DIV, -7, 2, -3},                 // toward zero
        {ARGOP_DIV, 7, 0, 7},                   // by 0: unchanged
        {ARGOP_DIV, INT64_MIN, -1, INT64_MIN},
        {ARGOP_MOD, -7, 3, -1},                 // sign of the dividend
        {ARGOP_MOD, 7, 0, 7},
        {ARGOP_MOD, INT64_MIN, -1, 0},
        {ARGOP_AND, 12, 10, 8},
        {ARGOP_OR, 12, 10, 14},
        {ARGOP_XOR, 12, 10, 6},
    };
    struct FLOAT_CASE {
        uint8_t bOp;
        double dStart, dValue, dExpect;
    } floats[] = {
        {ARGOP_SET, 1.5, 2.25, 2.25},
        {ARGOP_ADD, 1.5, 2.25, 3.75},
        {ARGOP_SUB, 1.5, 2.25, -0.75},
        {ARGOP_MUL, 1.5, -2.0, -3.0},
        {ARGOP_DIV, 7.0, 2.0, 3.5},
        {ARGOP_DIV, 7.0, 0.0, 7.0},
        {ARGOP_MOD, 7.9, 3.2, 1.0},             // on the truncated integers
        {ARGOP_MOD, 7.5, 0.5, 7.5},             // the value truncates to 0: unchanged
        {ARGOP_AND, 12.7, 10.2, 8.0},
        {ARGOP_OR, 12.7, 10.2, 14.0},
        {ARGOP_XOR, 12.7, 10.2, 6.0},
    };
    const int nInts = static_cast<int>(std::size(ints)), nFloats = static_cast<int>(std::size(floats));
    SCRIPT_BUILDER b = Begin();
    // One element per case and a last one that no case touches.
    Declare(b, KXCMD_DECLARE_INT, Elem(1000, {nInts + 3}), MakeExprInt(0));
    Declare(b, KXCMD_DECLARE_FLOAT, Elem(1001, {nFloats + 1}), MakeExprInt(0), EVALTYPE_FLOAT);
    for (int i = 0; i < nInts; ++i) {
        Let(b, Elem(1000, {i}), ARGOP_SET, MakeExprInt(ints[i].llStart));
        Let(b, Elem(1000, {i}), ints[i].bOp, MakeExprInt(ints[i].llValue));
    }
    for (int i = 0; i < nFloats; ++i) {
        Let(b, Elem(1001, {i}), ARGOP_SET, MakeExprDouble(floats[i].dStart), EVALTYPE_FLOAT);
        Let(b, Elem(1001, {i}), floats[i].bOp, MakeExprDouble(floats[i].dValue), EVALTYPE_FLOAT);
    }
    // A double element takes floating arithmetic even from an integer-only value; an integer
    // element takes the integer evaluator of the value's type.
    Let(b, Elem(1001, {nFloats}), ARGOP_SET, SevenHalves(), EVALTYPE_INT);
    Let(b, Elem(1000, {nInts}), ARGOP_SET, MakeExprDouble(7.9), EVALTYPE_FLOAT);
    ERROR_RECORDER errors;
    Run(b);
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_TRUE(g_bScriptHalted);
    for (int i = 0; i < nInts; ++i) EXPECT_EQ(GetVarInt(1000, i), ints[i].llExpect) << "int case " << i;
    for (int i = 0; i < nFloats; ++i) EXPECT_EQ(GetVarFloat(1001, i), floats[i].dExpect) << "double case " << i;
    EXPECT_EQ(GetVarFloat(1001, nFloats), 3.5);
    EXPECT_EQ(GetVarInt(1000, nInts), 7);
    EXPECT_EQ(GetVarInt(1000, nInts + 2), 0);
}

TEST_F(DeclAssignTest, WholeVariableTargetsSetEveryElementWithoutTheOperator)
{
    defs = {MakeIntVarDef(1000, 1, {10}), MakeFloatVarDef(1001, 0.5, {3}), MakeTextVarDef(1002, "a", {2})};
    SCRIPT_BUILDER b = Begin();
    Let(b, Whole(1000), ARGOP_ADD, MakeExprInt(4));
    Let(b, Whole(1001), ARGOP_MUL, SevenHalves(), EVALTYPE_FLOAT);
    Let(b, Whole(1002), ARGOP_SET, MakeExprText("\x82\xa4"), EVALTYPE_TEXT);
    Let(b, Whole(10), ARGOP_SET, MakeExprInt(5));   // a whole system variable: nothing happens
    ERROR_RECORDER errors;
    Run(b);
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_TRUE(g_bScriptHalted);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(GetVarInt(1000, i), 4) << i;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(GetVarFloat(1001, i), 3.5) << i;
    EXPECT_EQ(Text(1002, 0), "\x82\xa4");
    EXPECT_EQ(Text(1002, 1), "\x82\xa4");
    EXPECT_DOUBLE_EQ(GetSysVarFloat(10, 0), 3.141592653589793);

    // A variable of no type cannot be given a value.
    SCRIPT_BUILDER n = Begin();
    Let(n, Whole(1003), ARGOP_SET, MakeExprInt(1));
    Let(n, Elem(1000, {0}), ARGOP_SET, MakeExprInt(2));
    ERROR_RECORDER errors2;
    Run(n);
    ExpectStoppedBy(errors2, 101140);
    EXPECT_EQ(GetVarInt(1000, 0), 1);
}

TEST_F(DeclAssignTest, TextElementsTakeAndAppendBelowTheBufferLimit)
{
    std::string strKana;
    for (int i = 0; i < 2047; ++i) strKana += "\x82\xa0";   // 4094 bytes
    const std::string strLong(4000, 'y');
    SCRIPT_BUILDER b = Begin();
    Declare(b, KXCMD_DECLARE_STRING, Elem(1000, {6}), MakeExprText(""), EVALTYPE_TEXT);
    Declare(b, KXCMD_DECLARE_STRING, Var(1001), MakeExprText(strLong), EVALTYPE_TEXT);
    Let(b, Elem(1000, {0}), ARGOP_SET, MakeExprText("\x82\xa0\x82\xa2"), EVALTYPE_TEXT);
    Let(b, Elem(1000, {0}), ARGOP_ADD, MakeExprText("\x82\xa4" "a"), EVALTYPE_TEXT);
    Let(b, Elem(1000, {1}), ARGOP_SET, MakeExprText(std::string(4090, 'a')), EVALTYPE_TEXT);
    Let(b, Elem(1000, {1}), ARGOP_ADD, MakeExprText("123456"), EVALTYPE_TEXT);   // 4096: unchanged
    Let(b, Elem(1000, {2}), ARGOP_SET, MakeExprText(strKana), EVALTYPE_TEXT);
    Let(b, Elem(1000, {2}), ARGOP_ADD, MakeExprText("b"), EVALTYPE_TEXT);        // 4095: stored
    Let(b, Elem(1000, {2}), ARGOP_ADD, MakeExprText("c"), EVALTYPE_TEXT);        // 4096: unchanged
    // A short token that names a long text: the joined length decides, not the token's.
    Let(b, Elem(1000, {3}), ARGOP_SET, MakeExprText(std::string(100, 'x')), EVALTYPE_TEXT);
    Let(b, Elem(1000, {3}), ARGOP_ADD, Var(1001), EVALTYPE_TEXT);
    Let(b, Elem(1000, {4}), ARGOP_SET, MakeExprText(std::string(4095, 'z')), EVALTYPE_TEXT);
    Let(b, Elem(1000, {5}), ARGOP_SET, MakeExprText("k"), EVALTYPE_TEXT);
    Let(b, Elem(1000, {5}), ARGOP_ADD, Var(1001), EVALTYPE_TEXT);                // 4001: stored
    ERROR_RECORDER errors;
    Run(b);
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_TRUE(g_bScriptHalted);
    EXPECT_EQ(Text(1000, 0), "\x82\xa0\x82\xa2\x82\xa4" "a");
    // Long texts: lengths first, so a failure stays readable.
    EXPECT_EQ(Text(1000, 1).size(), 4090u);
    EXPECT_TRUE(Text(1000, 1) == std::string(4090, 'a'));
    EXPECT_EQ(Text(1000, 2).size(), 4095u);
    EXPECT_TRUE(Text(1000, 2) == strKana + "b");
    EXPECT_EQ(Text(1000, 3).size(), 100u);
    EXPECT_EQ(Text(1000, 4).size(), 4095u);
    EXPECT_TRUE(Text(1000, 4) == std::string(4095, 'z'));
    EXPECT_EQ(Text(1000, 5).size(), 4001u);
    EXPECT_TRUE(Text(1000, 5) == "k" + strLong);

    // Only "=" and "+=" apply to texts.
    for (uint8_t bOp : {ARGOP_SUB, ARGOP_XOR}) {
        SCOPED_TRACE(bOp);
        SCRIPT_BUILDER t = Begin();
        Declare(t, KXCMD_DECLARE_STRING, Elem(1000, {1}), MakeExprText("ab"), EVALTYPE_TEXT);
        Let(t, Elem(1000, {0}), bOp, MakeExprText("b"), EVALTYPE_TEXT);
        ERROR_RECORDER errors2;
        Run(t);
        ExpectStoppedBy(errors2, 101140);
        EXPECT_EQ(Text(1000, 0), "ab");
    }
}

// ---- System variables and references ------------------------------------------------------------

// The indirect system variables with a reference and one coordinate per dimension of the referenced
// array: each coordinate is checked against its dimension, and the element is the row-major one.
CODE IndirectAt(uint16_t nSys, uint16_t nVar, const std::vector<int64_t>& coordinates)
{
    CODE c;
    ExprAsmOpen(c, nSys);
    ExprAsmVar(c, nVar, EXPR_PREFIX_HASH);
    for (size_t k = 0; k < coordinates.size(); ++k) {
        if (k) ExprAsmOp(c, ',');
        ExprAsmInt(c, coordinates[k]);
    }
    ExprAsmClose(c);
    return c;
}

TEST_F(DeclAssignTest, IndirectCoordinatesAddressEveryDimension)
{
    defs = {MakeIntVarDef(1000, 0, {2, 3}), MakeFloatVarDef(1001, 0.0, {2, 2}), MakeTextVarDef(1002, "", {2, 3}),
            MakeIntVarDef(1003, 0)};
    SCRIPT_BUILDER b = Begin();
    Let(b, IndirectAt(50, 1000, {1, 2}), ARGOP_SET, MakeExprInt(12));
    Let(b, IndirectAt(50, 1000, {0, 1}), ARGOP_SET, MakeExprInt(1));
    Let(b, IndirectAt(50, 1000, {1, 2}), ARGOP_ADD, MakeExprInt(100));
    Let(b, IndirectAt(51, 1001, {1, 0}), ARGOP_SET, MakeExprDouble(2.5), EVALTYPE_FLOAT);
    Let(b, IndirectAt(52, 1002, {1, 1}), ARGOP_SET, MakeExprText("mid"), EVALTYPE_TEXT);
    Let(b, Var(1003), ARGOP_SET, IndirectAt(50, 1000, {1, 2}));   // read back through the same path
    ERROR_RECORDER errors;
    Run(b);
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_TRUE(g_bScriptHalted);
    const int64_t allInts[6] = {0, 1, 0, 0, 0, 112};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(GetVarInt(1000, i), allInts[i]) << i;
    EXPECT_EQ(GetVarFloat(1001, 2), 2.5);
    EXPECT_STREQ(GetVarString(1002, 4), "mid");
    EXPECT_EQ(GetVarInt(1003, 0), 112);

    // A coordinate outside its dimension stops the script before anything is stored.
    const struct { const char* pszCase; std::vector<int64_t> coordinates; int nError; } errs[] = {
        {"first coordinate at its size", {2, 0}, 107010},
        {"last coordinate at its size", {0, 3}, 107010},
        {"negative coordinate", {0, -1}, 107010},
        {"more coordinates than dimensions", {0, 0, 0}, 107020},
    };
    for (const auto& c : errs) {
        SCOPED_TRACE(c.pszCase);
        SCRIPT_BUILDER e = Begin();
        Let(e, IndirectAt(50, 1000, c.coordinates), ARGOP_SET, MakeExprInt(9));
        ERROR_RECORDER recorder;
        Run(e);
        ExpectStoppedBy(recorder, c.nError);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(GetVarInt(1000, i), 0) << i;
    }
}

TEST_F(DeclAssignTest, WritableSystemVariablesAndIndirectElements)
{
    defs = {MakeIntVarDef(1000, 0, {4}), MakeFloatVarDef(1001, 0.0, {2}), MakeTextVarDef(1002, "", {2})};
    char szLayerPath[KX_MAX_OBJECT_PATH] = "";
    g_pszLayerPath = szLayerPath;
    SCRIPT_BUILDER b = Begin();
    Let(b, Var(132), ARGOP_ADD, MakeExprInt(77));                 // last menu command: the operator is ignored
    Let(b, Var(117), ARGOP_SET, MakeExprInt(0x1FF));              // maximise event: the low byte
    Let(b, Var(128), ARGOP_SET, MakeExprText("W0/\x83\x5c/"), EVALTYPE_TEXT);
    Let(b, Var(147 + 5), ARGOP_SET, MakeExprInt(5));              // key 5 is up: the counter becomes 0
    Let(b, Var(147 + 6), ARGOP_SET, MakeExprInt(5));              // key 6 is down: it keeps 5
    Let(b, Elem(144, {7}), ARGOP_SET, MakeExprInt(-3));           // key 7 is up: it keeps -3
    Let(b, Elem(53, {1}), ARGOP_MUL, MakeExprInt(3));             // call argument 1 of 2
    Let(b, Elem(53, {2}), ARGOP_DIV, MakeExprInt(0));             // by 0: unchanged
    Let(b, Elem(53, {3}), ARGOP_SET, MakeExprInt(9));             // beyond the count: nothing
    Let(b, Var(10), ARGOP_SET, MakeExprInt(5));                   // pi: no effect, no error
    Let(b, Indirect(50, 1000, 2), ARGOP_ADD, MakeExprInt(5));     // through a reference
    Let(b, Indirect(50, 1000, 2), ARGOP_MUL, MakeExprInt(3));
    Let(b, Indirect(50, 1000, 0, 100), ARGOP_SET, MakeExprInt(5));   // outside the variable: left alone
    Let(b, Indirect(51, 1001, 1), ARGOP_SET, MakeExprDouble(2.5), EVALTYPE_FLOAT);
    Let(b, Indirect(52, 1002, 1), ARGOP_SET, MakeExprText("ok"), EVALTYPE_TEXT);
    ERROR_RECORDER errors;
    Run(b, [](SCRIPT_THREAD* t) {
        for (int k : {5, 6, 7}) g_allKeyCounter[k] = 99;
        g_abKeyMode[5] = KX_KEY_MODE_UP;
        g_abKeyMode[6] = KX_KEY_MODE_DOWN;
        g_abKeyMode[7] = KX_KEY_MODE_UP;
        CALL_FRAME* f = t->apCall[t->nCallDepth];
        f->abArgIntGiven[0] = 2;
        f->allArgInt[0] = 10;
        f->allArgInt[1] = 20;
        f->allArgInt[2] = 30;
    });
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_TRUE(g_bScriptHalted);
    EXPECT_EQ(g_llMenuCommand, 77);
    EXPECT_EQ(g_nMaximizeEvent, 0xFF);
    EXPECT_STREQ(szLayerPath, "W0/\x83\x5c/");
    EXPECT_EQ(g_allKeyCounter[5], 0);
    EXPECT_EQ(g_allKeyCounter[6], 5);
    EXPECT_EQ(g_allKeyCounter[7], -3);
    const CALL_FRAME* f = System()->apCall[System()->nCallDepth];
    EXPECT_EQ(f->allArgInt[0], 30);
    EXPECT_EQ(f->allArgInt[1], 20);
    EXPECT_EQ(f->allArgInt[2], 30);
    EXPECT_EQ(GetVarInt(1000, 2), 15);
    EXPECT_EQ(GetVarInt(1000, 0), 0);
    EXPECT_EQ(GetVarFloat(1001, 1), 2.5);
    EXPECT_EQ(Text(1002, 1), "ok");
}

// Numbers that cannot be assigned, and references a script forged: each is refused with its
// error before anything is written.
TEST_F(DeclAssignTest, RefusedSystemVariablesAndForgedReferences)
{
    const int64_t kBeyondTable = 5000LL << 32;   // the table ends at 1099
    CODE twoSubscripts;
    ExprAsmOpen(twoSubscripts, 50);
    ExprAsmInt(twoSubscripts, kBeyondTable);
    ExprAsmInt(twoSubscripts, 1);
    ExprAsmClose(twoSubscripts);
    struct CASE {
        const char* pszCase;
        CODE target;
        CODE value;
        uint8_t bType;
        int nError;
    } cases[] = {
        {"operating-system code", Var(2), MakeExprInt(1), EVALTYPE_INT, 101150},
        {"command-line word", Elem(12, {0}), MakeExprText("x"), EVALTYPE_TEXT, 101150},
        {"integer reference beyond the table", Indirect(50, 0, 0, kBeyondTable), MakeExprInt(1), EVALTYPE_INT, 108230},
        {"text reference beyond the table", Indirect(52, 0, 0, kBeyondTable), MakeExprText("x"), EVALTYPE_TEXT, 108230},
        {"double reference beyond the table", Indirect(51, 0, 0, kBeyondTable), MakeExprDouble(1), EVALTYPE_FLOAT, 108230},
        {"reference to a system variable", Indirect(50, 0, 0, 132LL << 32), MakeExprInt(1), EVALTYPE_INT, 108230},
        {"negative reference", Indirect(50, 0, 0, -1), MakeExprInt(1), EVALTYPE_INT, 108230},
        {"reference with subscripts", twoSubscripts, MakeExprInt(1), EVALTYPE_INT, 107010},
        {"variable token beyond the table", Var(60000), MakeExprInt(1), EVALTYPE_INT, 108010},
        {"subscript outside the dimension", Elem(1000, {4}), MakeExprInt(1), EVALTYPE_INT, 107010},
    };
    defs = {MakeIntVarDef(1000, 6, {4})};
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszCase);
        SCRIPT_BUILDER b = Begin();
        Let(b, c.target, ARGOP_SET, c.value, c.bType);
        Let(b, Elem(1000, {0}), ARGOP_SET, MakeExprInt(1));
        ERROR_RECORDER errors;
        Run(b, [](SCRIPT_THREAD*) { g_llMenuCommand = 0; });
        ExpectStoppedBy(errors, c.nError);
        EXPECT_EQ(GetVarInt(1000, 0), 6);
        EXPECT_EQ(g_llMenuCommand, 0);
    }
}

// Records the compiler would never write: a command without its records reads them as empty
// expressions (no variable: refused), an operator byte beyond "^=" marks a damaged body.
TEST_F(DeclAssignTest, MissingRecordsAndUnknownOperatorsAreRefused)
{
    struct CASE {
        const char* pszCase;
        std::vector<BUILDER_ARG> args;
        int nCmd;
        int nError;
    } cases[] = {
        {"assignment without records", {}, KXCMD_ASSIGN, 900030},
        {"declaration without records", {}, KXCMD_DECLARE_INT, 900030},
        {"operator 9", {ExprArg(0, Elem(1000, {0}), EVALTYPE_INT, 9), ExprArg(1, MakeExprInt(1))}, KXCMD_ASSIGN, 104010},
    };
    defs = {MakeIntVarDef(1000, 6, {4})};
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszCase);
        SCRIPT_BUILDER b = Begin();
        ASSERT_GE(EmitCommand(&b, static_cast<uint8_t>(c.nCmd), c.args), 0);
        ERROR_RECORDER errors;
        Run(b);
        ExpectStoppedBy(errors, c.nError);
        EXPECT_EQ(GetVarInt(1000, 0), 6);
    }
    // A declaration whose value record is missing gives every element 0.
    SCRIPT_BUILDER b = Begin();
    ASSERT_GE(EmitCommand(&b, KXCMD_DECLARE_INT, {ExprArg(0, Elem(1000, {3}))}), 0);
    ERROR_RECORDER errors;
    Run(b);
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_EQ(Desc(1000).llCount, 3);
    EXPECT_EQ(GetVarInt(1000, 2), 0);
}
