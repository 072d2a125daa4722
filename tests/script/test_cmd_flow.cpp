// Flow control commands, run end to end: scripts made by the builders are loaded as a game and run
// by the scheduler; results are read back through variables and the thread's stacks.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/kx_hash.h"
#include "core/object_tree.h"
#include "core/pack_archive.h"
#include "platform/plat_file.h"
#include "script/cmd_flow.h"
#include "script/dispatch.h"
#include "script/evaluator.h"
#include "script/flow_frames.h"
#include "script/script_body.h"
#include "script/script_tables.h"
#include "core/script_thread.h"
#include "script/system_vars.h"
#include "script/variables.h"
#include "tests/support/game_folder.h"
#include "tests/support/engine_test.h"
#include "tests/support/test_support.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/script_builder.h"

namespace {

typedef std::vector<uint8_t> CODE;

// Variables of the test games.
enum : uint16_t {
    V_A = 1000, V_B, V_C, V_D, V_E,
    V_N,        // next free entry of the log
    V_LOG,      // int[64]
    V_F,        // double
    V_G,        // double
    V_S,        // text
    V_T,        // text
    V_LBL,      // text: a label name computed at run time
};
// System variables that expose the call frames.
enum { SV_PASS = 48, SV_ARG_INT = 53, SV_ARG_FLOAT = 54, SV_ARG_TEXT = 55, SV_ARG_GIVEN = 56, SV_ARG_INT_GIVEN = 57,
       SV_RET_INT = 60, SV_RET_FLOAT = 61, SV_RET_TEXT = 62, SV_RET_GIVEN = 63 };

// ---- expressions ----

CODE I(int64_t v) { return MakeExprInt(v); }
CODE D(double d) { return MakeExprDouble(d); }
CODE T(const std::string& s) { return MakeExprText(s); }
CODE V(uint16_t n) { return MakeExprVar(n); }
CODE El(uint16_t n, int64_t k) { return MakeExprElement(n, {k}); }
CODE Op(CODE a, const CODE& b, char cOp)
{
    a.insert(a.end(), b.begin(), b.end());
    ExprAsmOp(a, cOp);
    return a;
}
CODE Eq(uint16_t n, int64_t v) { return Op(V(n), I(v), '='); }
// The log entry V_LOG[V_N].
CODE LogSlot()
{
    CODE c;
    ExprAsmOpen(c, V_LOG);
    ExprAsmVar(c, V_N);
    ExprAsmClose(c);
    return c;
}

// ---- statements ----

void Let(SCRIPT_BUILDER* b, const CODE& target, const CODE& value, uint8_t bType = EVALTYPE_INT, uint8_t bOp = ARGOP_SET)
{
    EmitCommand(b, KXCMD_ASSIGN, {ExprArg(0, target, EVALTYPE_INT, bOp), ExprArg(1, value, bType)});
}
void Add(SCRIPT_BUILDER* b, uint16_t nVar, int64_t v) { Let(b, V(nVar), I(v), EVALTYPE_INT, ARGOP_ADD); }
// Appends a value to the log.
void Log(SCRIPT_BUILDER* b, const CODE& value)
{
    Let(b, LogSlot(), value);
    Add(b, V_N, 1);
}
// Ends the thread's turn and stays at this command.
void Halt(SCRIPT_BUILDER* b) { EmitCommand(b, KXCMD_WAIT, {}); }
// Ends the thread's turn; the next turn goes on after it.
void Yield(SCRIPT_BUILDER* b) { EmitCommand(b, KXCMD_THREAD_END, {}); }
// label-exists name -> target (bStore: argument id 2 present).
void LabelExists(SCRIPT_BUILDER* b, const CODE& name, const CODE& target, bool bStore = true)
{
    std::vector<BUILDER_ARG> args = {ExprArg(0, name, EVALTYPE_TEXT), ExprArg(1, target)};
    if (bStore) args.push_back(ExprArg(2, I(1)));
    EmitCommand(b, KXCMD_LABEL_EXISTS, args);
}
// A record whose length field holds a command index.
BUILDER_ARG IndexArg(SCRIPT_BUILDER* b, uint8_t bId, int64_t llCommand)
{
    const int t = NewTarget(b);
    SetTarget(b, t, llCommand);
    return TargetArg(bId, t);
}

std::optional<CODE> Item(CODE c) { return c; }

// Script 0 from the label SYSTEM_START, where the SYSTEM thread starts.
void BeginMainScript(SCRIPT_BUILDER* b)
{
    InitScriptBuilder(b, 0);
    AddLabel(b, "SYSTEM_START");
}

// ---- test handlers for the halt and the yield ----

int g_nYields = 0;

int TestYield(void)
{
    ++g_nYields;
    return 1;
}

// Message formats of the game's message table, so the arguments can be read back.
const std::vector<KXE_ENTRY> kMessages = {
    {101300, "OUT:%s:%s:%s"}, {101600, "DEEP:%s:%s:%d"}, {108120, "NOLOOP"}, {108180, "NOLABEL:%s"},
    {900050, "BADPC"},        {101140, "TYPE"},          {104010, "FILE:%s"},
};

bool EndsWith(const std::string& s, const std::string& strEnd)
{
    return s.size() >= strEnd.size() && s.compare(s.size() - strEnd.size(), strEnd.size(), strEnd) == 0;
}

// A game folder (the current and program folder), the thread tree with SYSTEM, the test handlers
// bound to the wait (104) and thread-end (96) commands; assignments run the engine's own command.
class FlowTest : public EngineTest {
protected:
    TEMP_DIR dir;
    std::string strOldCwd;
    TREE_NODE* pSystem = nullptr;

    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(EnterGameFolder(dir, &strOldCwd));
    }
    void TearDown() override
    {
        Stop();
        FillCmdHandlers(KX_COMMAND_COUNT);
        LeaveGameFolder(strOldCwd);
    }

    // Frees the tables, the variables and every thread.
    void Stop()
    {
        FreeScriptGame();
        pSystem = nullptr;
        std::filesystem::remove_all(dir.strNative + "/kxbin");
    }

    static std::vector<KXV_DEF> Defs()
    {
        std::vector<KXV_DEF> d = StandardSysVarDefs();
        for (uint16_t n : {V_A, V_B, V_C, V_D, V_E, V_N}) d.push_back(MakeIntVarDef(n, 0));
        d.push_back(MakeIntVarDef(V_LOG, 0, {64}));
        d.push_back(MakeFloatVarDef(V_F, 0.0));
        d.push_back(MakeFloatVarDef(V_G, 0.0));
        for (uint16_t n : {V_S, V_T, V_LBL}) d.push_back(MakeTextVarDef(n, ""));
        return d;
    }

    // Changes the game files before they are written (when set).
    std::function<void(const GAME_DATA&, std::vector<GAME_FILE>&)> editFiles;

    // Loads a game of the given scripts (names main.txt, s1.txt, ...) with SYSTEM at SYSTEM_START.
    // bDropBody: the body file of that script index is left out.
    void Start(const std::vector<SCRIPT_BUILDER*>& scripts, int nDropBody = -1)
    {
        Stop();
        pSystem = CreateSystemThread();
        ASSERT_NE(pSystem, nullptr);
        System()->bRoot = 1;

        GAME_DATA game = DefaultGameData();
        game.defs = Defs();
        game.errors = kMessages;
        for (size_t i = 0; i < scripts.size(); ++i) {
            ASSERT_EQ(FinishScriptBody(scripts[i]), 0) << scripts[i]->strError;
            game.scripts.push_back(ScriptFromBuilder(i == 0 ? "main.txt" : "s" + std::to_string(i) + ".txt", *scripts[i]));
        }
        std::vector<GAME_FILE> files = BuildGameFiles(game);
        if (editFiles) editFiles(game, files);
        if (nDropBody >= 0) {
            const std::string strDrop = KxBodyFileName(nDropBody);
            std::erase_if(files, [&](const GAME_FILE& f) { return f.strName == strDrop; });
        }
        ASSERT_EQ(WriteGameFolder(dir.strNative, files), 0);
        ASSERT_EQ(StartScriptSystem(), 0);
        BindCommandHandler(KXCMD_WAIT, HaltForTest);
        BindCommandHandler(KXCMD_THREAD_END, TestYield);
        g_nTestHalts = 0;
        g_nYields = 0;
        g_bEngineStop = 0;
    }

    // Runs scheduler passes until a thread halts or yields, the engine stops, or 1000 passes.
    void Run()
    {
        const int nHalts = g_nTestHalts, nYields = g_nYields;
        for (int i = 0; i < 1000 && !g_bEngineStop && g_nTestHalts == nHalts && g_nYields == nYields; ++i) {
            ++g_llPassCount;
            RunScriptThreads(g_pThreadRoot);
        }
    }

    SCRIPT_THREAD* System() const { return static_cast<SCRIPT_THREAD*>(pSystem->pPayload); }
    static std::vector<int64_t> LogValues()
    {
        std::vector<int64_t> v;
        for (int64_t i = 0; i < GetVarInt(V_N, 0); ++i) v.push_back(GetVarInt(V_LOG, i));
        return v;
    }
    static std::string Text(uint16_t n)
    {
        const char* psz = GetVarString(n, 0);
        return psz ? psz : "(none)";
    }
    // The script ran to its halt without an error and with every stack closed.
    void ExpectCleanHalt(const ERROR_RECORDER& errors)
    {
        EXPECT_EQ(g_nTestHalts, 1);
        EXPECT_EQ(g_bEngineStop.load(), 0);
        for (const ERROR_RECORD& r : errors.reports) ADD_FAILURE() << r.nId << " " << r.strText;
        EXPECT_EQ(System()->nIfDepth, 0);
        EXPECT_EQ(System()->nLoopDepth, 0);
        EXPECT_EQ(System()->nCallDepth, 0);
    }
    // Ends the script with a halt, loads and runs it, and expects it to reach the halt cleanly.
    void HaltAndRun(SCRIPT_BUILDER* b, const ERROR_RECORDER& errors)
    {
        Halt(b);
        Start({b});
        Run();
        ExpectCleanHalt(errors);
    }
};

// ---- loops ----

TEST_F(FlowTest, LoopRunsItsBodyAsOftenAsItsCountSays)
{
    // count, passes run: 0 skips the body, -1 loops until the BREAK at the fourth pass, any other
    // negative count runs it once.
    const struct { int64_t llCount, llPasses; } kCases[] = {{3, 3}, {1, 1}, {0, 0}, {-5, 1}, {-1, 4}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.llCount);
        ERROR_RECORDER errors;
        SCRIPT_BUILDER b;
        BeginMainScript(&b);
        BeginLoop(&b, I(c.llCount));
        Add(&b, V_A, 1);
        Log(&b, V(SV_PASS));
        BeginIf(&b, Eq(V_A, 4));
        EmitBreak(&b);
        EndIf(&b);
        EndLoop(&b);
        Add(&b, V_B, 1);
        HaltAndRun(&b, errors);
        EXPECT_EQ(GetVarInt(V_A, 0), c.llPasses);
        EXPECT_EQ(GetVarInt(V_B, 0), 1);
        std::vector<int64_t> passes;
        for (int64_t i = 1; i <= c.llPasses; ++i) passes.push_back(i);
        EXPECT_EQ(LogValues(), passes);   // the pass counter counts from 1
    }
}

TEST_F(FlowTest, BreakAndContinueLeaveNestedLoops)
{
    ERROR_RECORDER errors;
    SCRIPT_BUILDER b;
    BeginMainScript(&b);
    BeginLoop(&b, I(3));
    Add(&b, V_A, 1);
    BeginLoop(&b, I(4));
    EmitBreak(&b, I(0));   // a count of 0 does nothing
    Add(&b, V_B, 1);
    Log(&b, V(V_B));
    BeginIf(&b, Eq(V_B, 7));
    EmitBreak(&b, I(2));   // after the outer LOOP-END
    EndIf(&b);
    BeginIf(&b, Op(Op(V(V_B), I(2), '%'), I(0), '='));
    EmitContinue(&b);      // at b = 4 in the inner loop's last pass: leaves it through its LOOP-END
    EndIf(&b);
    Add(&b, V_C, 1);
    EndLoop(&b);
    Add(&b, V_E, 1);
    EndLoop(&b);
    Add(&b, V_D, 1);
    HaltAndRun(&b, errors);
    EXPECT_EQ(GetVarInt(V_A, 0), 2);   // outer passes entered
    EXPECT_EQ(GetVarInt(V_B, 0), 7);
    EXPECT_EQ(GetVarInt(V_C, 0), 3);   // b = 1, 3, 5
    EXPECT_EQ(GetVarInt(V_E, 0), 1);   // only the first inner loop ended normally
    EXPECT_EQ(GetVarInt(V_D, 0), 1);
    EXPECT_EQ(LogValues(), (std::vector<int64_t>{1, 2, 3, 4, 5, 6, 7}));
}

// ---- if-blocks ----

TEST_F(FlowTest, IfElseChainsTakeOneBranch)
{
    for (int64_t x = 1; x <= 4; ++x) {
        SCOPED_TRACE(x);
        ERROR_RECORDER errors;
        SCRIPT_BUILDER b;
        BeginMainScript(&b);
        Let(&b, V(V_A), I(x));
        BeginIf(&b, Eq(V_A, 1));
        Let(&b, V(V_B), I(10));
        AddElseIf(&b, Eq(V_A, 2));
        Let(&b, V(V_B), I(20));
        AddElseIf(&b, Eq(V_A, 3));
        Let(&b, V(V_B), I(30));
        AddElse(&b);
        Let(&b, V(V_B), I(40));
        EndIf(&b);
        BeginIf(&b, Eq(V_A, 2));   // without a further branch
        Add(&b, V_C, 1);
        EndIf(&b);
        HaltAndRun(&b, errors);
        EXPECT_EQ(GetVarInt(V_B, 0), 10 * x);
        EXPECT_EQ(GetVarInt(V_C, 0), x == 2 ? 1 : 0);
    }
}

TEST_F(FlowTest, IfBreakAndIfRetryLeaveOrRepeatEnclosingBlocks)
{
    ERROR_RECORDER errors;
    SCRIPT_BUILDER b;
    BeginMainScript(&b);
    // Without a count: on to the END-IF of the innermost block, which closes it.
    BeginIf(&b, I(1));
    Add(&b, V_A, 1);
    BeginIf(&b, I(1));
    Add(&b, V_A, 10);
    EmitIfBreak(&b);
    Add(&b, V_A, 1000);
    EndIf(&b);
    Add(&b, V_A, 100);
    EndIf(&b);
    // Two blocks from inside an endless loop: the loop depth comes back to the outer IF's.
    BeginIf(&b, I(1));
    BeginIf(&b, I(1));
    BeginLoop(&b, I(-1));
    Add(&b, V_B, 1);
    EmitIfBreak(&b, I(2));
    EndLoop(&b);
    Add(&b, V_B, 1000);
    EndIf(&b);
    Add(&b, V_B, 1000);
    EndIf(&b);
    Add(&b, V_B, 10);
    // A count of 0 does nothing.
    BeginIf(&b, I(1));
    EmitIfBreak(&b, I(0));
    Add(&b, V_C, 1);
    EndIf(&b);
    // Retry the enclosing IF until its condition fails.
    BeginIf(&b, Op(V(V_D), I(3), '<'));
    Add(&b, V_D, 1);
    BeginIf(&b, I(1));
    EmitIfRetry(&b, I(2));
    EndIf(&b);
    EndIf(&b);
    HaltAndRun(&b, errors);
    EXPECT_EQ(GetVarInt(V_A, 0), 111);
    EXPECT_EQ(GetVarInt(V_B, 0), 11);
    EXPECT_EQ(GetVarInt(V_C, 0), 1);
    EXPECT_EQ(GetVarInt(V_D, 0), 3);
}

// ---- calls and returns ----

TEST_F(FlowTest, NestedCallsPassEveryValueTypeAndReturnValues)
{
    ERROR_RECORDER errors;
    SCRIPT_BUILDER b;
    BeginMainScript(&b);
    BUILDER_VALUES first;
    first.ints = {Item(I(5)), std::nullopt, Item(I(7))};   // the second omitted
    first.floats = {Item(D(2.5))};
    first.texts = {Item(T("abc")), Item(T("de"))};
    EmitCall(&b, "sub", first);
    Let(&b, V(V_A), El(SV_RET_INT, 1));
    Let(&b, V(V_F), El(SV_RET_FLOAT, 1), EVALTYPE_FLOAT);
    Let(&b, V(V_S), El(SV_RET_TEXT, 1), EVALTYPE_TEXT);
    Let(&b, V(V_B), El(SV_RET_GIVEN, 2));
    BUILDER_VALUES second;
    second.ints = {Item(I(1))};
    EmitCall(&b, "sub2", second);   // fewer items than the first call at this level
    Halt(&b);

    AddLabel(&b, "sub");
    Yield(&b);   // the test looks at the frames here
    Log(&b, El(SV_ARG_INT, 1));
    Log(&b, El(SV_ARG_INT_GIVEN, 1));
    Log(&b, El(SV_ARG_INT_GIVEN, 2));
    Log(&b, El(SV_ARG_INT, 2));
    Log(&b, El(SV_ARG_INT_GIVEN, 3));
    Log(&b, El(SV_ARG_INT, 3));
    Log(&b, El(SV_ARG_GIVEN, 2));   // text item 2 given
    Let(&b, V(V_G), El(SV_ARG_FLOAT, 1), EVALTYPE_FLOAT);
    Let(&b, V(V_T), Op(El(SV_ARG_TEXT, 1), El(SV_ARG_TEXT, 2), '+'), EVALTYPE_TEXT);
    BUILDER_VALUES nested;
    nested.ints = {Item(Op(El(SV_ARG_INT, 1), I(2), '*'))};
    EmitCall(&b, "sub2", nested);
    Log(&b, El(SV_RET_INT, 1));
    BUILDER_VALUES ret;
    ret.ints = {Item(Op(El(SV_RET_INT, 1), I(1), '+'))};
    ret.floats = {Item(Op(El(SV_ARG_FLOAT, 1), D(2.0), '*'))};
    ret.texts = {Item(Op(El(SV_ARG_TEXT, 1), T("!"), '+'))};
    EmitReturn(&b, ret);

    AddLabel(&b, "sub2");
    BUILDER_VALUES ret2;
    ret2.ints = {Item(Op(El(SV_ARG_INT, 1), I(100), '+'))};
    EmitReturn(&b, ret2);

    Start({&b});
    Run();   // to the yield inside "sub"
    ASSERT_EQ(g_nYields, 1);
    SCRIPT_THREAD* t = System();
    ASSERT_EQ(t->nCallDepth, 1);
    const CALL_FRAME* pArgs = t->apCall[1];
    ASSERT_NE(pArgs, nullptr);
    EXPECT_EQ(pArgs->abArgIntGiven[0], 3);   // count 3, flags 1, 0, 1
    EXPECT_EQ(pArgs->abArgIntGiven[1], 1);
    EXPECT_EQ(pArgs->abArgIntGiven[2], 0);
    EXPECT_EQ(pArgs->abArgIntGiven[3], 1);
    EXPECT_EQ(pArgs->allArgInt[1], 0);
    EXPECT_EQ(pArgs->abArgFloatGiven[0], 1);
    EXPECT_EQ(pArgs->abArgTextGiven[0], 2);
    ASSERT_NE(pArgs->apszArgText[1], nullptr);
    EXPECT_STREQ(pArgs->apszArgText[1], "de");
    const CALL_FRAME* pReturn = t->apCall[0];
    EXPECT_EQ(pReturn->nReturnCommand, 1);   // after the call
    EXPECT_EQ(pReturn->wReturnScript, 0);
    EXPECT_EQ(pReturn->nCallLine, 1);
    EXPECT_EQ(t->nPC, g_apLabel[FindLabel("sub", 3)]->nCommand + 1);

    Run();
    ExpectCleanHalt(errors);
    EXPECT_EQ(LogValues(), (std::vector<int64_t>{5, 1, 0, 0, 1, 7, 1, 110}));
    EXPECT_EQ(GetVarFloat(V_G, 0), 2.5);
    EXPECT_EQ(Text(V_T), "abcde");
    EXPECT_EQ(GetVarInt(V_A, 0), 111);
    EXPECT_EQ(GetVarFloat(V_F, 0), 5.0);
    EXPECT_EQ(Text(V_S), "abc!");
    EXPECT_EQ(GetVarInt(V_B, 0), 0);
    // The second call at level 0 gave one item: no flag of the first call's items survives.
    EXPECT_EQ(t->apCall[1]->abArgIntGiven[0], 1);
    EXPECT_EQ(t->apCall[1]->abArgIntGiven[3], 0);
    EXPECT_EQ(t->apCall[1]->abArgTextGiven[0], 0);
    EXPECT_EQ(t->apCall[1]->abArgTextGiven[1], 0);
    EXPECT_EQ(t->apCall[2]->allArgInt[0], 10);          // the nested call's argument
}

TEST_F(FlowTest, CallTextsUseIntegerArithmeticAndCountsStopAtSixteen)
{
    ERROR_RECORDER errors;
    SCRIPT_BUILDER b;
    BeginMainScript(&b);
    // A text item whose record asks for floating arithmetic, and counts of 31 in the command word.
    EmitCommand(&b, KXCMD_GOSUB,
                {ExprArg(KX_CALL_ARG_LABEL, T("sub"), EVALTYPE_TEXT), ExprArg(KX_CALL_ARG_INT, I(9)),
                 ExprArg(KX_CALL_ARG_TEXT, Op(I(7), {}, 's'), EVALTYPE_TEXT_FLOAT)},
                MakeCallCountWord(31, 31, 1));
    Halt(&b);
    AddLabel(&b, "sub");
    Let(&b, V(V_S), El(SV_ARG_TEXT, 1), EVALTYPE_TEXT);
    EmitCommand(&b, KXCMD_RETURN, {ExprArg(KX_RETURN_ARG_INT + 15, I(3))}, MakeCallCountWord(31, 0, 0));
    Start({&b});
    Run();
    ExpectCleanHalt(errors);
    EXPECT_EQ(Text(V_S), "7");   // "7.000000" with floating arithmetic
    EXPECT_EQ(g_apfnEvalString[EVALTYPE_TEXT_FLOAT], &EvalExprStringFloat);
    const SCRIPT_THREAD* t = System();
    EXPECT_EQ(t->apCall[1]->abArgIntGiven[0], 16);
    EXPECT_EQ(t->apCall[1]->abArgFloatGiven[0], 16);
    EXPECT_EQ(t->apCall[1]->allArgInt[0], 9);
    EXPECT_EQ(t->apCall[0]->abRetIntGiven[0], 16);
    EXPECT_EQ(t->apCall[0]->abRetIntGiven[16], 1);
    EXPECT_EQ(t->apCall[0]->allRetInt[15], 3);
}

TEST_F(FlowTest, GotoOutOfASubroutineTakesTheDepthsOfItsCall)
{
    ERROR_RECORDER errors;
    SCRIPT_BUILDER b;
    BeginMainScript(&b);
    BeginIf(&b, I(1));
    BeginLoop(&b, I(2));
    EmitCall(&b, "sub");
    Add(&b, V_A, 1);
    EndLoop(&b);
    EndIf(&b);
    Add(&b, V_B, 1);
    Halt(&b);
    AddLabel(&b, "sub");
    BeginIf(&b, I(1));
    BeginLoop(&b, I(-1));
    Add(&b, V_C, 1);
    EmitGoto(&b, "sub_end");
    EndLoop(&b);
    EndIf(&b);
    AddLabel(&b, "sub_end");
    EmitReturn(&b);
    Start({&b});
    Run();
    ExpectCleanHalt(errors);
    EXPECT_EQ(GetVarInt(V_A, 0), 2);   // the caller's loop ran both passes
    EXPECT_EQ(GetVarInt(V_B, 0), 1);
    EXPECT_EQ(GetVarInt(V_C, 0), 2);
}

TEST_F(FlowTest, JumpsAndCallsCrossIntoOtherScripts)
{
    ERROR_RECORDER errors;
    SCRIPT_BUILDER main, other;
    InitScriptBuilder(&main, 0);
    InitScriptBuilder(&other, 1);
    AddLabel(&main, "SYSTEM_START");
    Add(&main, V_A, 1);
    EmitGoto(&main, "other");
    Add(&main, V_A, 1000);
    AddLabel(&main, "back_sub");
    Add(&main, V_B, 1);
    EmitReturn(&main);
    Add(&other, V_D, 1000);
    AddLabel(&other, "other");
    Add(&other, V_A, 10);
    EmitCall(&other, "back_sub");
    Add(&other, V_C, 1);
    Halt(&other);
    Start({&main, &other});
    EXPECT_EQ(g_ppScriptBody[1], nullptr);
    Run();
    ExpectCleanHalt(errors);
    EXPECT_EQ(GetVarInt(V_A, 0), 11);
    EXPECT_EQ(GetVarInt(V_B, 0), 1);
    EXPECT_EQ(GetVarInt(V_C, 0), 1);
    EXPECT_EQ(GetVarInt(V_D, 0), 0);
    const SCRIPT_THREAD* t = System();
    ASSERT_NE(g_ppScriptBody[1], nullptr);
    EXPECT_EQ(t->wScript, 1);
    EXPECT_EQ(t->nCommands, g_ppScriptBody[1]->nCommands);
    EXPECT_EQ(t->ppHandlerTables, g_ppScriptBody[1]->ppHandlerTables);
    EXPECT_EQ(t->pbExpr, g_ppScriptBody[1]->pbExpr);
    EXPECT_EQ(t->pnLineTable, g_ppScriptBody[1]->pnLineTable);
}

TEST_F(FlowTest, LabelsComputedAtRunTime)
{
    ERROR_RECORDER errors;
    SCRIPT_BUILDER b;
    BeginMainScript(&b);
    Let(&b, V(V_C), I(5));
    Let(&b, V(V_D), I(7));
    Let(&b, V(V_E), I(9));
    Let(&b, V(V_LBL), Op(T("tar"), T("get"), '+'), EVALTYPE_TEXT);
    EmitGotoExpr(&b, V(V_LBL));
    Add(&b, V_A, 1000);
    AddLabel(&b, "target");
    Add(&b, V_A, 1);
    Let(&b, V(V_LBL), Op(T("s"), T("ub"), '+'), EVALTYPE_TEXT);
    BUILDER_VALUES v;
    v.ints = {Item(I(4))};
    EmitCallExpr(&b, V(V_LBL), v);
    LabelExists(&b, T("target"), V(V_B));
    LabelExists(&b, T("nothere"), V(V_C));
    LabelExists(&b, Op(T("s"), T("ub"), '+'), V(V_G));
    LabelExists(&b, T(std::string(4000, 'x')), V(V_D));   // longer than any label name
    LabelExists(&b, T("target"), V(V_E), false);          // without the store switch: nothing
    Halt(&b);
    AddLabel(&b, "sub");
    Let(&b, V(V_A), Op(El(SV_ARG_INT, 1), I(10), '*'), EVALTYPE_INT, ARGOP_ADD);
    EmitReturn(&b);
    Start({&b});
    // Only constant names are bound when the body loads.
    const ARG_RECORD* pGoto = g_ppScriptBody[0]->ppFirstArgs[4];
    EXPECT_EQ(pGoto->dwExprLen & KX_ARG_LABEL_TEST, 0u);
    Run();
    ExpectCleanHalt(errors);
    EXPECT_EQ(GetVarInt(V_A, 0), 41);
    EXPECT_EQ(GetVarInt(V_B, 0), 1);
    EXPECT_EQ(GetVarInt(V_C, 0), 0);
    EXPECT_EQ(GetVarFloat(V_G, 0), 1.0);
    EXPECT_EQ(GetVarInt(V_D, 0), 0);
    EXPECT_EQ(GetVarInt(V_E, 0), 9);
}

TEST_F(FlowTest, ReturnWithoutACallEndsANamedThreadOnly)
{
    ERROR_RECORDER errors;
    SCRIPT_BUILDER b;
    BeginMainScript(&b);
    Halt(&b);
    AddLabel(&b, "work");
    Add(&b, V_A, 1);
    EmitReturn(&b);
    Start({&b});
    TREE_NODE* pWorker = CreateNode(g_pThreadRoot, "worker", 0, 50);
    ASSERT_NE(pWorker, nullptr);
    SCRIPT_THREAD* w = AttachScriptThread(pWorker);
    ASSERT_NE(w, nullptr);
    SetThreadBody(w, 0);
    w->nPC = g_apLabel[FindLabel("work", 4)]->nCommand;
    ASSERT_EQ(g_pThreadRoot->nChildCount, 2);
    Run();
    ExpectCleanHalt(errors);
    EXPECT_EQ(GetVarInt(V_A, 0), 1);
    EXPECT_EQ(g_pThreadRoot->nChildCount, 1);   // the worker is gone (and freed)
    EXPECT_EQ(FindNodeByPath(g_pThreadRoot, "worker", KX_FIND_LEAF), nullptr);
    EXPECT_EQ(g_pThreadRoot->pFirstChild, pSystem);
}

TEST(FlowStrings, AssignStringSlotGrowsOnlyForLongerTexts)
{
    char* psz = nullptr;
    EXPECT_EQ(AssignStringSlot(&psz, nullptr), 0);
    EXPECT_EQ(psz, nullptr);   // nothing to hold: no buffer
    ASSERT_EQ(AssignStringSlot(&psz, "abc"), 0);
    ASSERT_NE(psz, nullptr);
    EXPECT_STREQ(psz, "abc");
    ASSERT_EQ(AssignStringSlot(&psz, "x"), 0);
    EXPECT_STREQ(psz, "x");
    ASSERT_EQ(AssignStringSlot(&psz, "yz"), 0);   // longer than the content: regrown (ASan sees the size)
    EXPECT_STREQ(psz, "yz");
    ASSERT_EQ(AssignStringSlot(&psz, nullptr), 0);
    EXPECT_STREQ(psz, "");
    const std::string strLong(5000, 'q');
    ASSERT_EQ(AssignStringSlot(&psz, strLong.c_str()), 0);
    EXPECT_EQ(std::string(psz), strLong);
    free(psz);
}

// ---- errors ----

struct ERROR_CASE {
    const char* pszName;
    std::function<void(SCRIPT_BUILDER*)> build;
    int nId;
    std::string strText;   // the end of the reported text
    bool bHalt = true;     // a halt follows the case's commands
};

class FlowErrorTest : public FlowTest {
protected:
    // Builds script 0 from SYSTEM_START, runs it and expects exactly one fatal report.
    void Expect(const ERROR_CASE& c)
    {
        SCOPED_TRACE(c.pszName);
        ERROR_RECORDER errors;
        SCRIPT_BUILDER b;
        BeginMainScript(&b);
        c.build(&b);
        if (c.bHalt) Halt(&b);
        Start({&b});
        Run();
        EXPECT_EQ(g_nTestHalts, 0);
        ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, c.nId));
        EXPECT_TRUE(EndsWith(errors.reports[0].strText, c.strText)) << errors.reports[0].strText;
    }
};

TEST_F(FlowErrorTest, CommandsOutsideTheirConstructs)
{
    const ERROR_CASE kCases[] = {
        {"else", [](SCRIPT_BUILDER* b) { EmitCommand(b, KXCMD_ELSE, {}); }, 101300, "OUT:else:else:if"},
        {"branch end", [](SCRIPT_BUILDER* b) { EmitCommand(b, KXCMD_BRANCH_END, {}); }, 101300, "OUT:else:else:if"},
        {"end if", [](SCRIPT_BUILDER* b) { EmitCommand(b, KXCMD_END_IF, {}); }, 101300, "OUT:endif:endif:if"},
        {"if break", [](SCRIPT_BUILDER* b) { EmitIfBreak(b); }, 101300, "OUT:ifbreak:ifbreak:if"},
        {"if retry 2 in one block",
         [](SCRIPT_BUILDER* b) {
             BeginIf(b, I(1));
             EmitIfRetry(b, I(2));
             EndIf(b);
         },
         101300, "OUT:ifretry:ifretry:if"},
        {"break", [](SCRIPT_BUILDER* b) { EmitBreak(b); }, 101300, "OUT:break:break:loop"},
        {"continue 2 in one loop",
         [](SCRIPT_BUILDER* b) {
             BeginLoop(b, I(2));
             EmitContinue(b, I(2));
             EndLoop(b);
         },
         101300, "OUT:continue:continue:loop"},
        {"loop end", [](SCRIPT_BUILDER* b) { EmitCommand(b, KXCMD_LOOP_END, {}); }, 108120, "NOLOOP"},
        {"return in SYSTEM", [](SCRIPT_BUILDER* b) { EmitReturn(b); }, 101300, "OUT:return:return:gosub"},
        {"label test into a text", [](SCRIPT_BUILDER* b) { LabelExists(b, T("SYSTEM_START"), V(V_S)); }, 101140, "TYPE"},
        {"goto a missing label", [](SCRIPT_BUILDER* b) { EmitGoto(b, "nowhere"); }, 108180, "NOLABEL:nowhere"},
        {"call a missing label", [](SCRIPT_BUILDER* b) { EmitCall(b, "nowhere"); }, 108180, "NOLABEL:nowhere"},
        {"bound label past the table",
         [](SCRIPT_BUILDER* b) {
             KX_COMMAND_RECORD r;
             r.bOpcode = KXCMD_GOTO;
             KX_ARG_RECORD a;
             a.nLength = KX_ARG_LABEL_FLAG + 77;
             r.args.push_back(a);
             EmitRawCommand(b, r);
         },
         108180, "NOLABEL:77"},
    };
    for (const ERROR_CASE& c : kCases) Expect(c);
}

TEST_F(FlowErrorTest, JumpTargetsOutsideTheBody)
{
    const ERROR_CASE kCases[] = {
        {"if: next branch", [](SCRIPT_BUILDER* b) {
             EmitCommand(b, KXCMD_IF, {ExprArg(0, I(0)), IndexArg(b, 1, 9999), IndexArg(b, 2, 1)}); }, 900050, "BADPC"},
        {"if: block end", [](SCRIPT_BUILDER* b) {
             EmitCommand(b, KXCMD_IF, {ExprArg(0, I(0)), IndexArg(b, 1, 0), IndexArg(b, 2, 0x80000000LL)}); }, 900050, "BADPC"},
        {"else: block end", [](SCRIPT_BUILDER* b) {
             EmitCommand(b, KXCMD_IF, {ExprArg(0, I(1)), IndexArg(b, 1, 0), IndexArg(b, 2, 500)});
             EmitCommand(b, KXCMD_ELSE, {ExprArg(0, I(0)), IndexArg(b, 1, 0)}); }, 900050, "BADPC"},
        {"branch end", [](SCRIPT_BUILDER* b) {
             EmitCommand(b, KXCMD_IF, {ExprArg(0, I(1)), IndexArg(b, 1, 0), IndexArg(b, 2, 500)});
             EmitCommand(b, KXCMD_BRANCH_END, {}); }, 900050, "BADPC"},
        {"if break", [](SCRIPT_BUILDER* b) {
             EmitCommand(b, KXCMD_IF, {ExprArg(0, I(1)), IndexArg(b, 1, 0), IndexArg(b, 2, 500)});
             EmitIfBreak(b); }, 900050, "BADPC"},
        {"loop of no pass", [](SCRIPT_BUILDER* b) {
             EmitCommand(b, KXCMD_LOOP, {ExprArg(0, I(0)), IndexArg(b, 1, 9999)}); }, 900050, "BADPC"},
        {"break", [](SCRIPT_BUILDER* b) {
             EmitCommand(b, KXCMD_LOOP, {ExprArg(0, I(2)), IndexArg(b, 1, 9999)});
             EmitBreak(b); }, 900050, "BADPC"},
        {"label past the body", [](SCRIPT_BUILDER* b) {
             KXL_LABEL l;
             l.strName = "far";
             l.nCommand = 500;
             b->labels.push_back(l);
             EmitGoto(b, "far"); }, 900050, "BADPC"},
        {"return after the last command", [](SCRIPT_BUILDER* b) {
             EmitGoto(b, "start2");
             AddLabel(b, "s");
             EmitReturn(b);
             AddLabel(b, "start2");
             EmitCall(b, "s"); }, 900050, "BADPC", false},
    };
    for (const ERROR_CASE& c : kCases) Expect(c);
}

TEST_F(FlowErrorTest, ALabelInAScriptWithoutItsBody)
{
    ERROR_RECORDER errors;
    SCRIPT_BUILDER main, other;
    InitScriptBuilder(&main, 0);
    InitScriptBuilder(&other, 1);
    AddLabel(&main, "SYSTEM_START");
    EmitGoto(&main, "other");
    Halt(&main);
    AddLabel(&other, "other");
    Halt(&other);
    Start({&main, &other}, 1);
    Run();
    EXPECT_EQ(g_bEngineStop.load(), 1);
    ASSERT_FALSE(errors.reports.empty());
    EXPECT_EQ(errors.reports.back().nId, 900050);
    EXPECT_EQ(System()->wScript, 0);   // the thread stays where it was
}

// A label that lies before its bucket's start in the label file: the game starts and runs, and
// only a jump to that label fails, as a jump to a missing label does.
TEST_F(FlowErrorTest, ALabelBeforeItsBucketStartFailsOnlyItsJumps)
{
    ERROR_RECORDER errors;
    SCRIPT_BUILDER b;
    BeginMainScript(&b);
    Add(&b, V_A, 1);
    LabelExists(&b, T("misplaced"), V(V_B));
    EmitGoto(&b, "misplaced");
    Add(&b, V_A, 10);
    AddLabel(&b, "misplaced");
    Halt(&b);
    editFiles = [](const GAME_DATA& game, std::vector<GAME_FILE>& files) {
        // The misplaced label first, the bucket of its hash starting after it; every other
        // bucket starts at 0, so the start label is found.
        std::vector<KXL_LABEL> labels;
        for (const GAME_SCRIPT& sc : game.scripts)
            for (const KXL_LABEL& l : sc.labels) (l.strName == "misplaced" ? labels.insert(labels.begin(), l) : labels.insert(labels.end(), l));
        ASSERT_EQ(labels[0].strName, "misplaced");
        const uint32_t nTop = MurmurHash2("misplaced", 9, 0) >> 24;
        ASSERT_NE(nTop, 0u);
        ASSERT_NE(nTop, MurmurHash2("SYSTEM_START", 12, 0) >> 24);
        KXL_OPTIONS o;
        o.bKeepOrder = true;
        o.rawBuckets = std::array<int32_t, 256>{};
        (*o.rawBuckets)[nTop] = 1;
        for (GAME_FILE& f : files)
            if (f.strName == KXBIN_KXL) f.data = BuildKxl(labels, o);
    };
    Start({&b});
    Run();
    EXPECT_EQ(GetVarInt(V_A, 0), 1);   // the game ran up to the jump
    EXPECT_EQ(GetVarInt(V_B, 0), 0);   // the label does not exist for the label test either
    ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, 108180));
    EXPECT_TRUE(EndsWith(errors.reports[0].strText, "NOLABEL:misplaced")) << errors.reports[0].strText;
}

TEST_F(FlowErrorTest, NestingLimitsAreRefusedBeforeThePush)
{
    {
        SCOPED_TRACE("if");
        ERROR_RECORDER errors;
        SCRIPT_BUILDER b;
        BeginMainScript(&b);
        for (int i = 0; i < 128; ++i) BeginIf(&b, I(1));
        Halt(&b);
        for (int i = 0; i < 128; ++i) EndIf(&b);
        Start({&b});
        Run();
        ASSERT_EQ(errors.reports.size(), 1u);
        EXPECT_EQ(errors.reports[0].nId, 101600);
        EXPECT_TRUE(EndsWith(errors.reports[0].strText, "DEEP:if:if:128"));
        EXPECT_EQ(System()->nIfDepth, 127);
    }
    {
        SCOPED_TRACE("loop");
        ERROR_RECORDER errors;
        SCRIPT_BUILDER b;
        BeginMainScript(&b);
        for (int i = 0; i < 64; ++i) BeginLoop(&b, I(1));
        Halt(&b);
        for (int i = 0; i < 64; ++i) EndLoop(&b);
        Start({&b});
        Run();
        ASSERT_EQ(errors.reports.size(), 1u);
        EXPECT_TRUE(EndsWith(errors.reports[0].strText, "DEEP:loop:loop:64"));
        EXPECT_EQ(System()->nLoopDepth, 63);
    }
    {
        SCOPED_TRACE("call");
        ERROR_RECORDER errors;
        SCRIPT_BUILDER b;
        BeginMainScript(&b);
        EmitCall(&b, "rec");
        Halt(&b);
        AddLabel(&b, "rec");
        Add(&b, V_A, 1);
        EmitCall(&b, "rec");
        EmitReturn(&b);
        Start({&b});
        Run();
        ASSERT_EQ(errors.reports.size(), 1u);
        EXPECT_TRUE(EndsWith(errors.reports[0].strText, "DEEP:gosub:gosub:64"));
        EXPECT_EQ(System()->nCallDepth, 63);
        EXPECT_EQ(GetVarInt(V_A, 0), 63);
    }
    // A jump into a label whose depths, added to those at the call, pass the limits.
    const struct { bool bLoop; int nOuter, nInner; const char* pszText; } kGoto[] = {
        {false, 30, 100, "DEEP:if:if:128"}, {true, 30, 40, "DEEP:loop:loop:64"}};
    for (const auto& g : kGoto) {
        SCOPED_TRACE(g.pszText);
        ERROR_RECORDER errors;
        SCRIPT_BUILDER b;
        BeginMainScript(&b);
        for (int i = 0; i < g.nOuter; ++i) g.bLoop ? BeginLoop(&b, I(1)) : BeginIf(&b, I(1));
        EmitCall(&b, "entry");
        for (int i = 0; i < g.nOuter; ++i) g.bLoop ? EndLoop(&b) : EndIf(&b);
        Halt(&b);
        AddLabel(&b, "entry");
        EmitGoto(&b, "deep");
        for (int i = 0; i < g.nInner; ++i) g.bLoop ? BeginLoop(&b, I(1)) : BeginIf(&b, I(1));
        AddLabel(&b, "deep");
        Add(&b, V_A, 1);
        for (int i = 0; i < g.nInner; ++i) g.bLoop ? EndLoop(&b) : EndIf(&b);
        EmitReturn(&b);
        Start({&b});
        Run();
        ASSERT_EQ(errors.reports.size(), 1u);
        EXPECT_EQ(errors.reports[0].nId, 101600);
        EXPECT_TRUE(EndsWith(errors.reports[0].strText, g.pszText)) << errors.reports[0].strText;
        EXPECT_EQ(GetVarInt(V_A, 0), 0);
        EXPECT_EQ(System()->nIfDepth, g.bLoop ? 0 : g.nOuter);
        EXPECT_EQ(System()->nLoopDepth, g.bLoop ? g.nOuter : 0);
    }
}

}  // namespace
