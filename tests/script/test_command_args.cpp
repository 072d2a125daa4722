// Command arguments: decoding by value kind, designations and references, the range checks with
// their messages, texts at the buffer limit, the assignment operators, and damaged argument records.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/pack_archive.h"
#include "platform/plat_file.h"
#include "core/window_record.h"
#include "script/command_args.h"
#include "script/evaluator.h"
#include "script/script_body.h"
#include "core/script_thread.h"
#include "script/variables.h"
#include "script/script_tables.h"
#include "tests/support/game_folder.h"
#include "tests/support/engine_test.h"
#include "tests/support/test_support.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/command_table.h"
#include "tools/lib/kx_writers.h"
#include "tools/lib/script_builder.h"

namespace {

const int64_t kMin64 = std::numeric_limits<int64_t>::min();
const int64_t kMax64 = std::numeric_limits<int64_t>::max();
typedef std::vector<uint8_t> CODE;

KXC_ARG Arg(const char* pszName, uint8_t bValueKind, uint8_t bCheckKind = 0) { return KXC_ARG{pszName, bValueKind, bCheckKind}; }

// The command table of a test in the loader's form.
struct TEST_COMMANDS {
    std::vector<KXC_COMMAND> cmds;
    std::vector<std::string> cmdNames;
    std::vector<std::vector<std::string>> argNames;
    std::vector<char*> apszCmd;
    std::vector<std::vector<char*>> appszArg;
    std::vector<char**> apArg;
    std::vector<uint8_t> counts;
    std::vector<std::vector<uint8_t>> valueKinds, checkKinds;
    std::vector<uint8_t*> apValue, apCheck;

    void Install(const std::vector<KXC_COMMAND>& c)
    {
        cmds = c;
        const size_t n = cmds.size();
        cmdNames.resize(n);
        argNames.resize(n);
        appszArg.resize(n);
        valueKinds.resize(n);
        checkKinds.resize(n);
        for (size_t i = 0; i < n; ++i) {
            cmdNames[i] = cmds[i].strName;
            for (const KXC_ARG& a : cmds[i].args) {
                argNames[i].push_back(a.strName);
                valueKinds[i].push_back(a.bValueKind);
                checkKinds[i].push_back(a.bCheckKind);
            }
            counts.push_back(static_cast<uint8_t>(cmds[i].args.size()));
        }
        for (size_t i = 0; i < n; ++i) {
            apszCmd.push_back(cmdNames[i].data());
            for (std::string& s : argNames[i]) appszArg[i].push_back(s.data());
            apArg.push_back(appszArg[i].data());
            apValue.push_back(valueKinds[i].data());
            apCheck.push_back(checkKinds[i].data());
        }
        g_nCommands = static_cast<int32_t>(n);
        g_apszCmdName = apszCmd.data();
        g_pbArgCount = counts.data();
        g_appszArgName = apArg.data();
        g_apbArgValueKind = apValue.data();
        g_apbArgCheckKind = apCheck.data();
    }
};

// A loaded body in memory, as the body loader lays it out: argument records and expression bytes
// in allocations of exactly their size, so a read past either is caught.
struct TEST_BODY {
    SCRIPT_BODY body{};
    std::unique_ptr<ARG_RECORD[]> records;
    std::unique_ptr<uint8_t[]> expr;
    std::vector<ARG_RECORD*> firstArgs;
    std::vector<uint8_t> argCounts;
    std::vector<uint16_t> words;

    void Build(const KX_BODY& kb)
    {
        size_t nRecords = 0;
        for (const KX_COMMAND_RECORD& c : kb.commands) nRecords += c.args.size();
        records.reset(new ARG_RECORD[nRecords ? nRecords : 1]);
        size_t k = 0;
        for (const KX_COMMAND_RECORD& c : kb.commands) {
            firstArgs.push_back(records.get() + k);
            argCounts.push_back(static_cast<uint8_t>(c.args.size()));
            words.push_back(c.wWord);
            for (const KX_ARG_RECORD& a : c.args)
                records[k++] = ARG_RECORD{a.bId, a.bSpare, a.bType, a.bOp, a.nLength, a.nOffset};
        }
        expr.reset(new uint8_t[kb.expr.empty() ? 1 : kb.expr.size()]);
        if (!kb.expr.empty()) memcpy(expr.get(), kb.expr.data(), kb.expr.size());
        body.nCommands = static_cast<int32_t>(kb.commands.size());
        body.pwCommandWords = words.data();
        body.pbArgCounts = argCounts.data();
        body.ppFirstArgs = firstArgs.data();
        body.pbExpr = expr.get();
        body.nExprBytes = static_cast<uint32_t>(kb.expr.size());
        body.nArgRecords = static_cast<uint32_t>(nRecords);
    }
};

// Formats of the range messages, so the message arguments can be read back.
char g_szFmtRange[] = "R:%s:%s:%I64d:%d:%d";
char g_szFmtMinimum[] = "M:%s:%s:%I64d:%d";
char g_szFmtColourNone[] = "C1:%s:%s:%I64d";
char g_szFmtColour[] = "C2:%s:%s:%I64d";
char g_szFmtAbove3[] = "A3:%s:%s:%I64d:%d";
char g_szFmtNegative[] = "N:%s:%s:%I64d";

// The main window's record, 640 x 480, for the check kinds bounded by its size.
WINDOW_STATE g_TestMainWindow;
WINDOW_STATE* g_pSavedMainWindow = nullptr;

enum { CMD_PROBE = 1, CMD_CHECK = 2 };

class CmdArgsTest : public EngineTest {
protected:
    TEST_COMMANDS commands;
    TEST_BODY body;
    SCRIPT_THREAD thread{};
    SCRIPT_BODY* apBody[1] = {nullptr};

    void SetUp() override
    {
        ASSERT_EQ(CreateVarTable(1100), 0);
        g_SysVarHooks = {};
        g_pSavedMainWindow = g_apWindowState[0];
        g_TestMainWindow = WINDOW_STATE{};
        g_TestMainWindow.nWidth = 640;
        g_TestMainWindow.nHeight = 480;
        g_apWindowState[0] = &g_TestMainWindow;
        const std::pair<int, char*> texts[] = {{101000, g_szFmtRange}, {101010, g_szFmtMinimum},
                                               {101020, g_szFmtColourNone}, {101030, g_szFmtColour},
                                               {101210, g_szFmtAbove3}, {101220, g_szFmtNegative}};
        for (const auto& t : texts) {
            g_anErrorId[g_nErrorTexts] = t.first;
            g_apszErrorText[g_nErrorTexts++] = t.second;
        }
    }
    void TearDown() override
    {
        // The window record, the body list and the command tables are the test's own: the engine's
        // reset would free the tables and bodies.
        g_apWindowState[0] = g_pSavedMainWindow;
        g_ppScriptBody = nullptr;
        g_apszCmdName = nullptr;
        g_pbArgCount = nullptr;
        g_appszArgName = nullptr;
        g_apbArgValueKind = nullptr;
        g_apbArgCheckKind = nullptr;
    }

    // Installs the body as script 0 and makes a thread current at command nCommand.
    void Run(const KX_BODY& kb, int nCommand = 0)
    {
        body = TEST_BODY{};
        body.Build(kb);
        apBody[0] = &body.body;
        g_nScripts = 1;
        g_ppScriptBody = apBody;
        thread = SCRIPT_THREAD{};
        SetThreadBody(&thread, 0);
        thread.bRunA = thread.bRunB = 1;
        g_pCurThread = &thread;
        g_nCurCommand = nCommand;
    }
    // One command of the given arguments.
    void RunOne(uint8_t bOpcode, const std::vector<BUILDER_ARG>& args)
    {
        SCRIPT_BUILDER b;
        InitScriptBuilder(&b, 0);
        ASSERT_GE(EmitCommand(&b, bOpcode, args), 0);
        Run(b.body);
    }
    // The probe command: its arguments by id.
    void InstallProbe(std::vector<KXC_ARG> args)
    {
        std::vector<KXC_COMMAND> c(3);
        c[0].strName = "nop";
        c[CMD_PROBE].strName = "probe";
        c[CMD_PROBE].args = std::move(args);
        c[CMD_CHECK].strName = "check";
        commands.Install(c);
    }
    static VAR_DESC* DeclareInt(int nVar, std::vector<int32_t> dims, std::vector<int64_t> values)
    {
        VAR_DESC* p = GetVarDesc(nVar);
        p->nDims = static_cast<int8_t>(dims.size());
        for (size_t i = 0; i < dims.size(); ++i) p->anDim[i] = dims[i];
        EXPECT_EQ(InitVarInt(p, 0), 0);
        for (size_t i = 0; i < values.size(); ++i) p->pllValues[i] = values[i];
        return p;
    }
    static std::string SlotText(int nId) { return g_apszArgText[ArgSlot(nId)]; }
    static int64_t SlotValue(int nId) { return g_anArgValue[ArgSlot(nId)]; }
};

CODE Elem(uint16_t n, std::vector<int64_t> subs, uint8_t bPrefix = EXPR_PREFIX_NONE)
{
    return MakeExprElement(n, subs, bPrefix);
}

}  // namespace

// Each value kind and evaluator type, the slot order of the records, the presence map, operators.
TEST_F(CmdArgsTest, DecodesEachValueKindIntoItsSlot)
{
    InstallProbe({Arg("i", ARGKIND_INT), Arg("f", ARGKIND_INT), Arg("s", ARGKIND_TEXT), Arg("sf", ARGKIND_TEXT),
                  Arg("raw", ARGKIND_RAW), Arg("unused", ARGKIND_INT), Arg("big", 7)});
    DeclareInt(1000, {}, {7});
    CODE sum = MakeExprInt(3);
    ExprAsmInt(sum, 4);
    ExprAsmOp(sum, '+');
    CODE text = MakeExprText("ab");
    ExprAsmVar(text, 1000);
    ExprAsmOp(text, 's');
    ExprAsmOp(text, '+');
    CODE half = MakeExprDouble(1.5);
    ExprAsmOp(half, 's');
    RunOne(CMD_PROBE, {ExprArg(4, MakeExprInt(99)),   // records need not follow the id order
                       ExprArg(2, text, EVALTYPE_TEXT),
                       ExprArg(0, sum, EVALTYPE_INT, ARGOP_SUB),
                       ExprArg(1, MakeExprDouble(-2.9), EVALTYPE_FLOAT, ARGOP_DIV),
                       ExprArg(3, half, EVALTYPE_TEXT_FLOAT),
                       ExprArg(6, MakeExprInt(5))});   // value kind above 2: kept unevaluated
    ERROR_RECORDER errors;
    ASSERT_EQ(FetchCommandArgs(CMD_PROBE), 0);
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_EQ(g_nArgCount, 6);
    EXPECT_EQ(ArgSlot(4), 1);
    EXPECT_EQ(ArgSlot(2), 2);
    EXPECT_EQ(ArgSlot(0), 3);
    EXPECT_EQ(ArgSlot(5), 0);
    EXPECT_EQ(ArgSlot(255), 0);
    EXPECT_EQ(SlotValue(0), 7);
    EXPECT_EQ(g_anArgOp[ArgSlot(0)], ARGOP_SUB);
    EXPECT_EQ(g_anArgEvalType[ArgSlot(1)], EVALTYPE_FLOAT);
    EXPECT_EQ(g_anArgOp[ArgSlot(1)], ARGOP_DIV);
    EXPECT_EQ(SlotValue(1), -2);   // floating evaluation truncated toward zero
    EXPECT_EQ(SlotText(2), "ab7");
    EXPECT_EQ(SlotText(3), "1.500000");
    for (int nId : {4, 6}) {
        const int s = ArgSlot(nId);
        ASSERT_NE(s, 0);
        EXPECT_EQ(g_apArgExpr[s], body.body.pbExpr + g_anArgOffset[s]);
        const uint8_t* pCode;
        uint32_t nLen;
        ASSERT_EQ(GetArgExpr(nId, &pCode, &nLen), 0);
        EXPECT_EQ(EvalExprInt(pCode, nLen), nId == 4 ? 99 : 5);
    }
    const uint8_t* pCode;
    uint32_t nLen;
    EXPECT_EQ(GetArgExpr(5, &pCode, &nLen), -1);   // absent: nothing to evaluate, nothing reported
    EXPECT_TRUE(errors.reports.empty());

    // The next command overwrites the record: only its own arguments are present.
    RunOne(CMD_PROBE, {ExprArg(5, MakeExprInt(1))});
    ASSERT_EQ(FetchCommandArgs(CMD_PROBE), 0);
    EXPECT_EQ(g_nArgCount, 1);
    EXPECT_EQ(ArgSlot(5), 1);
    for (int nId : {0, 2, 4}) EXPECT_EQ(ArgSlot(nId), 0);
}

// What each argument designates: variable, element, reference values and whole-variable tokens.
TEST_F(CmdArgsTest, RecordsDesignationsAndReferences)
{
    InstallProbe({Arg("a", ARGKIND_INT), Arg("b", ARGKIND_INT), Arg("c", ARGKIND_TEXT), Arg("d", ARGKIND_INT),
                  Arg("e", ARGKIND_INT)});
    DeclareInt(1000, {4}, {10, 11, 12, 13});
    DeclareInt(1001, {2, 3}, {0, 1, 2, 3, 4, 5});
    VAR_DESC* pText = GetVarDesc(1002);
    pText->nDims = 1;
    pText->anDim[0] = 2;
    ASSERT_EQ(InitVarString(pText, "", 0), 0);
    ASSERT_EQ(SetVarString(1002, 1, "x"), 0);
    CODE whole;
    ExprAsmVarRef(whole, 1001);
    RunOne(CMD_PROBE, {ExprArg(0, Elem(1000, {2})),
                       ExprArg(1, Elem(1001, {1, 2}, EXPR_PREFIX_HASH)),
                       ExprArg(2, Elem(1002, {1}), EVALTYPE_TEXT),
                       ExprArg(3, whole),
                       ExprArg(4, MakeExprInt(42))});
    ERROR_RECORDER errors;
    ASSERT_EQ(FetchCommandArgs(CMD_PROBE), 0);
    EXPECT_TRUE(errors.reports.empty());
    const struct { int nId; int32_t nVar; int64_t llElem; uint8_t bRef; } want[] = {
        {0, 1000, 2, 0}, {1, 1001, 5, 0}, {2, 1002, 1, 0}, {3, 1001, 0, 1},
        {4, 0, 0, 0},   // only literals: no designation left over from the argument before
    };
    for (const auto& w : want) {
        const int s = ArgSlot(w.nId);
        EXPECT_EQ(g_anArgVar[s], w.nVar) << w.nId;
        EXPECT_EQ(g_anArgElem[s], w.llElem) << w.nId;
        EXPECT_EQ(g_abArgRefTaken[s], w.bRef) << w.nId;
    }
    EXPECT_EQ(SlotValue(0), 12);
    EXPECT_EQ(SlotValue(1), (int64_t{1001} << 32) + 5);   // '#' gives the reference value
    EXPECT_EQ(SlotText(2), "x");
    EXPECT_EQ(SlotValue(4), 42);
}

// Every check kind at its bounds and beyond, with the error and the message's arguments.
TEST_F(CmdArgsTest, CheckKindsAcceptTheirRangeAndReportTheRest)
{
    const int64_t k4G = int64_t{1} << 32;
    const struct { int nKind; int64_t v; int nErr; const char* pszMsg; } cases[] = {
        {0, kMin64, 0, nullptr}, {29, -5, 0, nullptr}, {255, kMax64, 0, nullptr},
        {1, 0, 0, nullptr}, {1, -1, 101010, "M:check:v:-1:0"}, {1, kMin64, 101010, nullptr},
        {1, k4G, 0, nullptr},
        {2, 1, 0, nullptr}, {2, 0, 101010, "M:check:v:0:1"}, {2, -k4G + 1, 101010, nullptr},
        {3, 0, 0, nullptr}, {3, 1, 0, nullptr}, {3, 2, 101000, "R:check:v:2:0:1"}, {3, -1, 101000, nullptr},
        {4, 2, 0, nullptr}, {4, 3, 101000, nullptr},
        {5, 3, 0, nullptr}, {5, 4, 101000, nullptr},
        {6, 1, 0, nullptr}, {6, 3, 0, nullptr}, {6, 0, 101000, "R:check:v:0:1:3"}, {6, 4, 101000, nullptr},
        {7, 4, 0, nullptr}, {7, 5, 101000, nullptr},
        {8, 8, 0, nullptr}, {8, 9, 101000, nullptr},
        {9, 1, 0, nullptr}, {9, 8, 0, nullptr}, {9, 0, 101000, nullptr}, {9, 9, 101000, nullptr},
        {10, 15, 0, nullptr}, {10, 16, 101000, nullptr},
        {11, 18, 0, nullptr}, {11, 19, 101000, nullptr},
        {12, 256, 0, nullptr}, {12, 257, 101000, nullptr},
        {13, 1, 0, nullptr}, {13, 0, 101000, nullptr}, {13, 257, 101000, nullptr},
        {14, 512, 0, nullptr}, {14, 513, 101000, nullptr},
        {15, 1024, 0, nullptr}, {15, 1025, 101000, nullptr},
        {16, 1, 0, nullptr}, {16, 0, 101000, nullptr}, {16, 1025, 101000, nullptr},
        {17, 128, 0, nullptr}, {17, 1024, 0, nullptr}, {17, 127, 101000, "R:check:v:127:128:1024"},
        {17, 1025, 101000, nullptr},
        {18, 2048, 0, nullptr}, {18, 2049, 101000, nullptr},
        {19, 1, 0, nullptr}, {19, 0, 101000, nullptr}, {19, 2049, 101000, nullptr},
        {20, 8192, 0, nullptr}, {20, 8193, 101000, nullptr},
        {21, 1, 0, nullptr}, {21, 0, 101000, nullptr}, {21, 8193, 101000, nullptr},
        {22, 16, 0, nullptr}, {22, 15, 101000, nullptr}, {22, 8193, 101000, nullptr},
        {23, 128, 0, nullptr}, {23, 8192, 0, nullptr}, {23, 127, 101000, nullptr}, {23, 8193, 101000, nullptr},
        // Kinds 3..27 read the low 32 bits only: 2^32 + v passes as v, a negative value fails.
        {3, k4G + 1, 0, nullptr}, {12, k4G + 256, 0, nullptr}, {12, -k4G, 0, nullptr}, {12, -1, 101000, nullptr},
        {24, -1, 0, nullptr}, {24, 0, 0, nullptr}, {24, 0xFFFFFF, 0, nullptr},
        {24, -2, 101020, "C1:check:v:-2"}, {24, 0x1000000, 101020, nullptr}, {24, k4G - 1, 0, nullptr},
        {25, 0, 0, nullptr}, {25, 0xFFFFFF, 0, nullptr}, {25, 0x1000000, 101030, "C2:check:v:16777216"},
        {25, -1, 101030, nullptr},
        {26, 0, 0, nullptr}, {26, 639, 0, nullptr}, {26, 640, 101000, "R:check:v:640:0:639"},
        {26, -1, 101000, nullptr}, {26, k4G + 639, 0, nullptr},
        {27, 479, 0, nullptr}, {27, 480, 101000, "R:check:v:480:0:479"},
        {28, 0, 0, nullptr}, {28, 3, 0, nullptr}, {28, -1, 101220, "N:check:v:-1"},
        {28, 4, 101210, "A3:check:v:4:3"}, {28, k4G, 101210, nullptr}, {28, kMin64, 101220, nullptr},
    };
    for (const auto& c : cases) {
        const std::string strCase = "kind " + std::to_string(c.nKind) + " value " + std::to_string(c.v);
        EXPECT_EQ(TestArgCheck(c.nKind, c.v), c.nErr) << strCase;
        std::vector<KXC_COMMAND> cmds(3);
        cmds[CMD_CHECK].strName = "check";
        cmds[CMD_CHECK].args = {Arg("v", ARGKIND_INT, static_cast<uint8_t>(c.nKind))};
        commands = TEST_COMMANDS{};
        commands.Install(cmds);
        RunOne(CMD_CHECK, {ExprArg(0, MakeExprInt(c.v))});
        ERROR_RECORDER errors;
        const int rc = FetchCommandArgs(CMD_CHECK);
        if (!c.nErr) {
            EXPECT_EQ(rc, 0) << strCase;
            EXPECT_TRUE(errors.reports.empty()) << strCase;
            EXPECT_EQ(SlotValue(0), c.v) << strCase;
            continue;
        }
        EXPECT_EQ(rc, -1) << strCase;
        ExpectOneFatalError(errors, c.nErr, strCase);
        if (c.pszMsg && !errors.reports.empty()) {
            EXPECT_NE(errors.reports[0].strText.find(c.pszMsg), std::string::npos)
                << strCase << ": " << errors.reports[0].strText;
        }
    }
}

// A failing check ends the decoding: later records stay absent. Only evaluated integers are checked.
TEST_F(CmdArgsTest, FailingCheckStopsAndOnlyIntegersAreChecked)
{
    InstallProbe({Arg("a", ARGKIND_INT, 2), Arg("b", ARGKIND_INT), Arg("t", ARGKIND_TEXT, 2), Arg("r", ARGKIND_RAW, 2)});
    RunOne(CMD_PROBE, {ExprArg(1, MakeExprInt(5)), ExprArg(0, MakeExprInt(0)), ExprArg(2, MakeExprInt(9))});
    {
        ERROR_RECORDER errors;
        EXPECT_EQ(FetchCommandArgs(CMD_PROBE), -1);
        ExpectOneFatalError(errors, 101010, "a = 0");
        EXPECT_EQ(SlotValue(1), 5);
        EXPECT_NE(ArgSlot(0), 0);
        EXPECT_EQ(ArgSlot(2), 0);   // after the failing one: not decoded
    }
    // A text and an unevaluated argument with check kind 2 pass, whatever their slots held before.
    g_anArgValue[1] = 0;
    g_anArgValue[2] = -7;
    RunOne(CMD_PROBE, {ExprArg(2, MakeExprText("x"), EVALTYPE_TEXT), ExprArg(3, MakeExprInt(0))});
    ERROR_RECORDER errors;
    EXPECT_EQ(FetchCommandArgs(CMD_PROBE), 0);
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_EQ(SlotText(2), "x");
}

// Argument texts are at most 4095 bytes, cut at a whole cp932 character; buffers are kept.
TEST_F(CmdArgsTest, TextsStopAtTheBufferLimitOnWholeCharacters)
{
    InstallProbe({Arg("t", ARGKIND_TEXT), Arg("u", ARGKIND_TEXT)});
    const std::string strKana = "\x82\xa0";   // one double-byte character
    const std::string strSo = "\x83\x5c";     // its trail byte is a backslash
    VAR_DESC* pText = GetVarDesc(1000);
    pText->nDims = 1;
    pText->anDim[0] = 2;
    ASSERT_EQ(InitVarString(pText, "", 0), 0);
    ASSERT_EQ(SetVarString(1000, 0, (std::string(4094, 'a') + strKana).c_str()), 0);   // 4096 bytes
    ASSERT_EQ(SetVarString(1000, 1, std::string(5000, 'b').c_str()), 0);
    const std::string str4095 = std::string(4093, 'a') + strKana;
    const struct { const char* pszCase; CODE code; std::string strOut; } cases[] = {
        {"literal of 4095 bytes", MakeExprText(str4095), str4095},
        {"variable text of 4096 bytes", Elem(1000, {0}), std::string(4094, 'a')},   // the character would not fit
        {"variable text of 5000 bytes", Elem(1000, {1}), std::string(4095, 'b')},
        {"trail byte backslash", MakeExprText(strSo + "\\" + strSo), strSo + "\\" + strSo},
        {"empty", MakeExprText(""), ""},
    };
    char* pFirstBuffer = nullptr;
    for (const auto& c : cases) {
        RunOne(CMD_PROBE, {ExprArg(1, c.code, EVALTYPE_TEXT)});
        ERROR_RECORDER errors;
        ASSERT_EQ(FetchCommandArgs(CMD_PROBE), 0) << c.pszCase;
        EXPECT_TRUE(errors.reports.empty()) << c.pszCase;
        EXPECT_TRUE(SlotText(1) == c.strOut) << c.pszCase << ": " << SlotText(1).size() << " bytes";
        if (!pFirstBuffer) pFirstBuffer = g_apszArgText[1];
        EXPECT_EQ(g_apszArgText[1], pFirstBuffer);   // allocated once, kept for the run
    }
}

// The three operator functions, including division by zero and INT64_MIN / -1.
TEST(CmdArgsOps, ApplyArgOpAndItsClampedForms)
{
    const struct { int nOp; int64_t cur, val, r; } plain[] = {
        {ARGOP_SET, 5, 9, 9}, {ARGOP_ADD, 5, 9, 14}, {ARGOP_SUB, 5, 9, -4}, {ARGOP_MUL, 5, -9, -45},
        {ARGOP_DIV, 7, 2, 3}, {ARGOP_DIV, -7, 2, -3}, {ARGOP_DIV, 7, 0, 7}, {ARGOP_DIV, kMin64, -1, kMin64},
        {ARGOP_ADD, kMax64, 1, kMin64}, {ARGOP_SUB, kMin64, 1, kMax64}, {ARGOP_MUL, kMax64, 2, -2},
        {ARGOP_MOD, 7, 2, 7}, {ARGOP_XOR, 7, 2, 7}, {-1, 7, 2, 7}, {200, 7, 2, 7},
    };
    for (const auto& c : plain)
        EXPECT_EQ(ApplyArgOp(c.nOp, c.cur, c.val), c.r) << c.nOp << " " << c.cur << " " << c.val;

    // Clamped to 0..100.
    const struct { int nOp; int64_t cur, val, r; } clamped[] = {
        {ARGOP_SET, 50, 500, 500}, {ARGOP_SET, 50, -5, -5},      // "=" is not limited
        {ARGOP_ADD, 90, 20, 100}, {ARGOP_ADD, 10, -20, -10},     // "+=" only limited above
        {ARGOP_SUB, 10, 20, 0}, {ARGOP_SUB, 150, 10, 140},       // "-=" never pulls a result down to the maximum
        {ARGOP_MUL, 30, 4, 100}, {ARGOP_MUL, 30, -1, 0},
        {ARGOP_DIV, 300, 2, 100}, {ARGOP_DIV, 30, -1, 0}, {ARGOP_DIV, 300, 0, 300},   // "/" 0: untouched
        {ARGOP_DIV, kMin64, -1, 0}, {ARGOP_MOD, 300, 7, 300},
    };
    for (const auto& c : clamped)
        EXPECT_EQ(ApplyArgOpClamped(c.nOp, c.cur, c.val, 0, 100), c.r) << c.nOp << " " << c.cur << " " << c.val;

    // Minimum 1.
    const struct { int nOp; int64_t cur, val, r; } minimum[] = {
        {ARGOP_SET, 5, -5, -5}, {ARGOP_ADD, 5, -9, -4},          // "=" and "+=" are not limited
        {ARGOP_SUB, 5, 9, 1}, {ARGOP_MUL, 5, 0, 1}, {ARGOP_MUL, 5, 3, 15},
        {ARGOP_DIV, 5, 10, 1}, {ARGOP_DIV, -5, 0, -5}, {ARGOP_DIV, kMin64, -1, 1},
    };
    for (const auto& c : minimum)
        EXPECT_EQ(ApplyArgOpMin(c.nOp, c.cur, c.val, 1), c.r) << c.nOp << " " << c.cur << " " << c.val;
}

// Damaged argument records end in the right error, never in a read outside the body.
TEST_F(CmdArgsTest, DamagedRecordsAreRefused)
{
    InstallProbe({Arg("i", ARGKIND_INT), Arg("t", ARGKIND_TEXT), Arg("r", ARGKIND_RAW)});
    const CODE seven = MakeExprInt(7);
    auto Rec = [](uint8_t bId, uint32_t nLen, uint32_t nOff, uint8_t bType = EVALTYPE_INT) {
        KX_ARG_RECORD r;
        r.bId = bId;
        r.bType = bType;
        r.nLength = nLen;
        r.nOffset = nOff;
        return r;
    };
    const uint32_t n7 = static_cast<uint32_t>(seven.size());
    enum { SHORT_RECORDS = 1, PC_PAST_END = 2, FOREIGN_TABLES = 4, NO_BODY = 8, NO_THREAD = 16 };
    const struct { const char* pszCase; std::vector<KX_ARG_RECORD> args; int nDamage; int nErr; int rc; } cases[] = {
        {"offset past the expressions", {Rec(0, n7, n7 + 1)}, 0, 104010, -1},
        {"length past the expressions", {Rec(0, n7 + 1, 0)}, 0, 104010, -1},
        {"offset + length wraps", {Rec(0, 0x20, 0xFFFFFFF0u)}, 0, 104010, -1},
        {"text past the expressions", {Rec(1, 0x7FFFFFFF, 0, EVALTYPE_TEXT)}, 0, 104010, -1},
        {"id the command does not have", {Rec(3, n7, 0)}, 0, 104010, -1},
        {"id 255", {Rec(255, n7, 0)}, 0, 104010, -1},
        {"records past the body's records", {Rec(0, n7, 0), Rec(0, n7, 0)}, SHORT_RECORDS, 104010, -1},
        {"command index past the body", {Rec(0, n7, 0)}, PC_PAST_END, 900050, -1},
        {"thread tables of another body", {Rec(0, n7, 0)}, FOREIGN_TABLES, 900050, -1},
        {"no body", {Rec(0, n7, 0)}, NO_BODY, 900050, -1},
        {"no thread", {Rec(0, n7, 0)}, NO_THREAD, 900050, -1},
        {"malformed expression bytes", {Rec(0, 2, 0)}, 0, 900030, 0},   // the evaluator's report; decoding goes on
        {"evaluator type 200", {Rec(0, n7, 0, 200)}, 0, 0, 0},
        {"unevaluated: length holds a command index", {Rec(2, 0x10000005u, 0)}, 0, 0, 0},
    };
    for (const auto& c : cases) {
        KX_BODY kb;
        kb.expr = seven;
        KX_COMMAND_RECORD cmd;
        cmd.bOpcode = CMD_PROBE;
        cmd.args = c.args;
        kb.commands.push_back(cmd);
        Run(kb);
        SCRIPT_BODY other = body.body;
        if (c.nDamage & SHORT_RECORDS) body.body.nArgRecords = 1;
        if (c.nDamage & PC_PAST_END) g_nCurCommand = 1;
        if (c.nDamage & FOREIGN_TABLES) {
            other.pbExpr = nullptr;
            g_ppScriptBody[0] = &other;
        }
        if (c.nDamage & NO_BODY) g_ppScriptBody[0] = nullptr;
        if (c.nDamage & NO_THREAD) g_pCurThread = nullptr;
        ERROR_RECORDER errors;
        EXPECT_EQ(FetchCommandArgs(CMD_PROBE), c.rc) << c.pszCase;
        if (c.nErr) ExpectOneFatalError(errors, c.nErr, c.pszCase);
        else EXPECT_TRUE(errors.reports.empty()) << c.pszCase;
    }
    // The unevaluated argument whose length is a command index is offered to no evaluation.
    ASSERT_NE(ArgSlot(2), 0);
    EXPECT_EQ(g_anArgLen[ArgSlot(2)], 0x10000005);
    EXPECT_EQ(g_apArgExpr[ArgSlot(2)], nullptr);
    ERROR_RECORDER errors;
    const uint8_t* pCode;
    uint32_t nLen;
    EXPECT_EQ(GetArgExpr(2, &pCode, &nLen), -1);
    ExpectOneFatalError(errors, 104010, "evaluating an unevaluated argument that does not fit");
    EXPECT_EQ(pCode, nullptr);
}

// A body written as a game file and loaded by the body loader: the decoding reads it in place.
TEST_F(CmdArgsTest, DecodesABodyLoadedFromItsFile)
{
    InstallProbe({Arg("n", ARGKIND_INT, 13), Arg("s", ARGKIND_TEXT), Arg("end", ARGKIND_RAW)});
    TEMP_DIR dir;
    std::string strOldCwd;
    ASSERT_NO_FATAL_FAILURE(EnterGameFolder(dir, &strOldCwd));

    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    ASSERT_GE(EmitCommand(&b, 0, {}), 0);
    CODE n = MakeExprInt(250);
    ExprAsmInt(n, 6);
    ExprAsmOp(n, '+');
    const int nEnd = NewTarget(&b);
    ASSERT_GE(EmitCommand(&b, CMD_PROBE, {ExprArg(1, MakeExprText("\x83\x5c\x82\xa0"), EVALTYPE_TEXT), ExprArg(0, n),
                                          TargetArg(2, nEnd)}), 0);
    ASSERT_EQ(PlaceTarget(&b, nEnd), 0);
    ASSERT_GE(EmitCommand(&b, CMD_PROBE, {ExprArg(0, MakeExprInt(257))}), 0);
    ASSERT_EQ(FinishScriptBody(&b), 0);
    GAME_DATA game = DefaultGameData();
    game.scripts.push_back(ScriptFromBuilder("main.txt", b));
    const std::vector<GAME_FILE> files = BuildGameFiles(game);
    ASSERT_EQ(WriteGameFolder(dir.strNative, files), 0);
    std::vector<uint8_t> defs;
    for (const GAME_FILE& f : files)
        if (f.strName == KXBIN_KXV) defs = f.data;
    g_pVarDefs = defs.data();
    g_nVarDefsBytes = defs.size();
    char szName[] = "main.txt";
    char* apszNames[] = {szName};
    g_nScripts = 1;
    g_apszScriptName = apszNames;
    ERROR_RECORDER errors;
    ASSERT_EQ(AllocScriptBodyTable(), 0);
    ASSERT_EQ(LoadScriptBody(0), 1);
    ASSERT_TRUE(errors.reports.empty());

    SCRIPT_THREAD t{};
    SetThreadBody(&t, 0);
    g_pCurThread = &t;
    g_nCurCommand = 1;
    EXPECT_EQ(FetchCommandArgs(CMD_PROBE), 0);
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_EQ(g_nArgCount, 3);
    EXPECT_EQ(SlotValue(0), 256);
    EXPECT_EQ(SlotText(1), "\x83\x5c\x82\xa0");
    EXPECT_EQ(g_anArgLen[ArgSlot(2)], 2);   // the command index of the target
    g_nCurCommand = 2;
    EXPECT_EQ(FetchCommandArgs(CMD_PROBE), -1);
    ExpectOneFatalError(errors, 101000, "257 for kind 13");
    EXPECT_EQ(g_nArgCount, 1);

    FreeScriptBodies();
    g_apszScriptName = nullptr;
    LeaveGameFolder(strOldCwd);
}
