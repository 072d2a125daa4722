// Script thread commands run end to end from built game folders: threads started at labels with
// parameters, order keys, same-frame starts, ending threads (themselves included), the information
// and script-list queries, and the thread state text with its damaged forms.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "root/startup.h"
#include "core/engine_globals.h"
#include "core/engine_hooks.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/object_tree.h"
#include "core/pack_archive.h"
#include "platform/plat_file.h"
#include "platform/plat_time.h"
#include "script/cmd_thread.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/dispatch.h"
#include "script/evaluator.h"
#include "script/flow_frames.h"
#include "script/script_body.h"
#include "script/script_tables.h"
#include "script/system_vars.h"
#include "script/variables.h"
#include "tests/support/game_folder.h"
#include "tests/support/engine_test.h"
#include "tests/support/test_support.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/script_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

// ---- the probe: a test command that records what a thread sees ----
// Arguments: 0 tag, 1 and 2 integers, 3 a double (kept raw, evaluated as a double), 4 a text,
// 5 the mode: absent go on, 1 end the turn, 2 end the turn and stay at this command, 3 stay
// without recording (a thread parked for good).
constexpr uint8_t kProbe = KXCMD_ARGS_ONLY99;
enum { PROBE_GO_ON = 0, PROBE_YIELD = 1, PROBE_REPEAT = 2, PROBE_PARK = 3 };

struct PROBE_RECORD {
    std::string strThread;
    int64_t llTag = 0, llA = 0, llB = 0;
    double dF = 0;
    std::string strS;
};
std::vector<PROBE_RECORD> g_probe;

int CmdProbe(void)
{
    if (FetchCommandArgs(kProbe) != 0) return -1;
    const int64_t llMode = HasArg(5) ? g_anArgValue[ArgSlot(5)] : 0;
    if (llMode != PROBE_PARK) {
        PROBE_RECORD r;
        r.strThread = g_pCurThreadNode && g_pCurThreadNode->pszName ? g_pCurThreadNode->pszName : "?";
        if (HasArg(0)) r.llTag = g_anArgValue[ArgSlot(0)];
        if (HasArg(1)) r.llA = g_anArgValue[ArgSlot(1)];
        if (HasArg(2)) r.llB = g_anArgValue[ArgSlot(2)];
        const uint8_t* pCode = nullptr;
        uint32_t nLen = 0;
        if (GetArgExpr(3, &pCode, &nLen) == 0) r.dF = EvalExprFloat(pCode, nLen);
        if (HasArg(4)) r.strS = g_apszArgText[ArgSlot(4)];
        g_probe.push_back(r);
    }
    if (llMode == PROBE_GO_ON) return 0;
    if (llMode != PROBE_YIELD) g_pCurThread->nPC = g_nCurCommand;
    return 1;
}

// Variables of the test games.
// The thread parameters as system variables (element k is item k).
constexpr uint16_t kSysParamInt = 67, kSysParamFloat = 68, kSysParamText = 69;
constexpr uint16_t kVarInt = 1000, kVarFloat = 1001, kVarText = 1002, kVarInts = 1003, kVarTexts = 1004;

Bytes Int(int64_t v) { return MakeExprInt(v); }
Bytes Text(const std::string& s) { return MakeExprText(s); }
Bytes Var(uint16_t n) { return MakeExprVar(n); }
Bytes Elem(uint16_t n, int64_t k) { return MakeExprElement(n, {k}); }
BUILDER_ARG IntArg(uint8_t id, int64_t v, uint8_t bOp = ARGOP_SET) { return ExprArg(id, Int(v), EVALTYPE_INT, bOp); }
BUILDER_ARG TextArg(uint8_t id, const std::string& s) { return ExprArg(id, Text(s), EVALTYPE_TEXT); }
// An output designation of a variable (element) of the given evaluator type.
BUILDER_ARG OutArg(uint8_t id, Bytes expr, uint8_t bType = EVALTYPE_INT) { return ExprArg(id, std::move(expr), bType); }

void Probe(SCRIPT_BUILDER* b, int64_t llTag, int nMode = PROBE_YIELD, std::vector<BUILDER_ARG> extra = {})
{
    std::vector<BUILDER_ARG> args = {IntArg(0, llTag)};
    for (BUILDER_ARG& a : extra) args.push_back(std::move(a));
    if (nMode != PROBE_GO_ON) args.push_back(IntArg(5, nMode));
    EmitCommand(b, kProbe, args);
}
void Park(SCRIPT_BUILDER* b) { EmitCommand(b, kProbe, {IntArg(5, PROBE_PARK)}); }

// thread name, label, more arguments.
int Thread(SCRIPT_BUILDER* b, const std::string& strName, const std::string& strLabel, std::vector<BUILDER_ARG> extra = {})
{
    std::vector<BUILDER_ARG> args;
    if (!strName.empty()) args.push_back(TextArg(KX_THREAD_ARG_NAME, strName));
    if (!strLabel.empty()) args.push_back(TextArg(KX_THREAD_ARG_LABEL, strLabel));
    for (BUILDER_ARG& a : extra) args.push_back(std::move(a));
    return EmitCommand(b, KXCMD_THREAD, args);
}
int ThreadEnd(SCRIPT_BUILDER* b, const std::string& strName = "")
{
    if (strName.empty()) return EmitCommand(b, KXCMD_THREAD_END, {});
    return EmitCommand(b, KXCMD_THREAD_END, {TextArg(0, strName)});
}
int Info(SCRIPT_BUILDER* b, const std::string& strName, BUILDER_ARG out, int nSelector)
{
    std::vector<BUILDER_ARG> args;
    if (!strName.empty()) args.push_back(TextArg(KX_THREAD_INFO_ARG_NAME, strName));
    args.push_back(std::move(out));
    args.push_back(IntArg(static_cast<uint8_t>(nSelector), 1));
    return EmitCommand(b, KXCMD_THREAD_INFO, args);
}

std::string Name(const TREE_NODE* p) { return p && p->pszName ? p->pszName : ""; }

// A game folder as current and program folder, the object trees, the probe, and frames run
// through the frame step with a fake clock.
class ThreadCmdTest : public EngineTest {
protected:
    TEMP_DIR dir;
    std::string strOldCwd;
    ERROR_RECORDER errors;

    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(OpenObjectTreeGame(dir, &strOldCwd));
        g_nFps = 60;
        g_bFrameHold = 0;
        g_llRerunPass = 0;
        g_llResumeKey = 0;
        ResetFrameState();
        ResetFrameClock();
        g_probe.clear();
    }
    void TearDown() override
    {
        CloseObjectTreeGame(strOldCwd);
        FillCmdHandlers(KX_COMMAND_IDS);
        g_llRerunPass = 0;
        g_llResumeKey = 0;
    }

    static GAME_DATA Game(const std::vector<SCRIPT_BUILDER*>& scripts, const std::vector<std::string>& names = {})
    {
        GAME_DATA game = DefaultGameData();
        game.commands.commands[kProbe].args = {
            KXC_ARG{"tag", ARGKIND_INT},  KXC_ARG{"a", ARGKIND_INT},  KXC_ARG{"b", ARGKIND_INT},
            KXC_ARG{"f", ARGKIND_RAW},    KXC_ARG{"s", ARGKIND_TEXT}, KXC_ARG{"mode", ARGKIND_INT}};
        game.defs.push_back(MakeIntVarDef(kVarInt, 99));
        game.defs.push_back(MakeFloatVarDef(kVarFloat, 9.5));
        game.defs.push_back(MakeTextVarDef(kVarText, "x"));
        game.defs.push_back(MakeIntVarDef(kVarInts, -7, {16}));
        game.defs.push_back(MakeTextVarDef(kVarTexts, "", {4}));
        for (size_t i = 0; i < scripts.size(); ++i) {
            EXPECT_EQ(FinishScriptBody(scripts[i]), 0) << scripts[i]->strError;
            const std::string strName = i < names.size() ? names[i] : "script" + std::to_string(i) + ".txt";
            game.scripts.push_back(ScriptFromBuilder(strName, *scripts[i]));
            game.scripts.back().nValue = static_cast<int32_t>(10 * (i + 1));
        }
        return game;
    }

    // Writes the game, starts the script system and binds the probe into every body, also those
    // loaded later.
    void Start(const GAME_DATA& game)
    {
        ASSERT_EQ(WriteGameFolder(dir.strNative, BuildGameFiles(game)), 0);
        ASSERT_EQ(StartScriptSystem(), 0);
        BindCommandHandler(kProbe, CmdProbe);
    }

    // One frame; the probe records of the frame as "thread:tag".
    std::vector<std::string> Frame()
    {
        const size_t nFirst = g_probe.size();
        RunFrame();
        std::vector<std::string> out;
        for (size_t i = nFirst; i < g_probe.size(); ++i) out.push_back(g_probe[i].strThread + ":" + std::to_string(g_probe[i].llTag));
        return out;
    }

    static TREE_NODE* Node(const char* pszPath) { return FindNodeByPath(g_pThreadRoot, pszPath, KX_FIND_LEAF); }
    static SCRIPT_THREAD* ThreadAt(const char* pszPath)
    {
        TREE_NODE* p = Node(pszPath);
        return p ? static_cast<SCRIPT_THREAD*>(p->pPayload) : nullptr;
    }
    // The names of the thread root's children in sibling order.
    static std::vector<std::string> Children()
    {
        std::vector<std::string> v;
        for (TREE_NODE* p = g_pThreadRoot->pFirstChild; p; p = p->pNext) v.push_back(Name(p));
        return v;
    }
    void ExpectOneFatal(int nId)
    {
        ASSERT_FALSE(errors.reports.empty());
        EXPECT_EQ(errors.reports[0].nId, nId) << errors.reports[0].strText;
        EXPECT_EQ(errors.reports[0].bFatal, 1);
        EXPECT_EQ(g_bEngineStop.load(), 1);
    }
};

using SV = std::vector<std::string>;

}  // namespace

// A thread started at a label sees its integer, float and text parameters through the system
// variables; parameters not given are 0, 0.0 and empty. It runs in the frame it was made in.
TEST_F(ThreadCmdTest, StartedThreadReceivesItsParameters)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    AddLabel(&b, "SYSTEM_START");
    Thread(&b, "w", "work",
           {IntArg(KX_THREAD_ARG_INT + 0, 7), IntArg(KX_THREAD_ARG_INT + 9, -3), IntArg(KX_THREAD_ARG_FLOAT + 0, 5),
            TextArg(KX_THREAD_ARG_TEXT + 0, "abc"), TextArg(KX_THREAD_ARG_TEXT + 9, "z")});
    Probe(&b, 1);
    Park(&b);
    AddLabel(&b, "work");
    Probe(&b, 2, PROBE_YIELD,
          {ExprArg(1, Elem(kSysParamInt, 1)), ExprArg(2, Elem(kSysParamInt, 10)),
           ExprArg(3, Elem(kSysParamFloat, 1), EVALTYPE_FLOAT), ExprArg(4, Elem(kSysParamText, 1), EVALTYPE_TEXT)});
    Probe(&b, 3, PROBE_YIELD,
          {ExprArg(1, Elem(kSysParamInt, 2)), ExprArg(2, Elem(kSysParamInt, 16)),
           ExprArg(3, Elem(kSysParamFloat, 2), EVALTYPE_FLOAT), ExprArg(4, Elem(kSysParamText, 10), EVALTYPE_TEXT)});
    Probe(&b, 4, PROBE_YIELD, {ExprArg(4, Elem(kSysParamText, 2), EVALTYPE_TEXT)});
    Park(&b);
    Start(Game({&b}));

    EXPECT_EQ(Frame(), (SV{"SYSTEM:1", "w:2"}));
    EXPECT_EQ(Frame(), (SV{"w:3"}));
    EXPECT_EQ(Frame(), (SV{"w:4"}));
    ASSERT_EQ(g_probe.size(), 4u);
    EXPECT_EQ(g_probe[1].llA, 7);
    EXPECT_EQ(g_probe[1].llB, -3);
    EXPECT_EQ(g_probe[1].dF, 5.0);
    EXPECT_EQ(g_probe[1].strS, "abc");
    EXPECT_EQ(g_probe[2].llA, 0);
    EXPECT_EQ(g_probe[2].llB, 0);
    EXPECT_EQ(g_probe[2].dF, 0.0);
    EXPECT_EQ(g_probe[2].strS, "z");
    EXPECT_EQ(g_probe[3].strS, "");
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_EQ(Node("w")->llOrder, 1);   // no key given
}

// Order keys: operators against an existing thread's key 10, the 32-bit cut, and the keys of new
// threads (1 when none is given or -1 is computed).
TEST_F(ThreadCmdTest, OrderKeyOperatorsAndNewThreadKeys)
{
    struct CASE {
        int nOp;
        int64_t v;
        int64_t llKey;
    };
    const CASE cases[] = {
        {ARGOP_SUB, 20, 1},  {ARGOP_MUL, 0, 1},   {ARGOP_DIV, 0, 10},   {ARGOP_ADD, -20, -10},
        {ARGOP_SET, 5, 5},   {ARGOP_DIV, 3, 3},   {ARGOP_MUL, 3, 30},   {ARGOP_MOD, 3, 10},
        {ARGOP_SET, 0x100000005LL, 5},          {ARGOP_SET, 0xFFFFFFFFLL, -1},
    };
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    AddLabel(&b, "SYSTEM_START");
    int k = 0;
    for (const CASE& c : cases) {
        const std::string strName = "t" + std::to_string(k++);
        Thread(&b, strName, "idle", {IntArg(KX_THREAD_ARG_KEY, 10)});
        Thread(&b, strName, "", {IntArg(KX_THREAD_ARG_KEY, c.v, static_cast<uint8_t>(c.nOp))});
    }
    Thread(&b, "n1", "idle");
    Thread(&b, "n2", "idle", {IntArg(KX_THREAD_ARG_KEY, -1)});
    Thread(&b, "n3", "idle", {IntArg(KX_THREAD_ARG_KEY, -5)});
    Thread(&b, "n4", "idle", {IntArg(KX_THREAD_ARG_KEY, 4, ARGOP_ADD)});   // base 1
    Info(&b, "t0", OutArg(1, Var(kVarInt)), 5);
    Park(&b);
    AddLabel(&b, "idle");
    Park(&b);
    Start(Game({&b}));

    Frame();
    EXPECT_TRUE(errors.reports.empty());
    k = 0;
    for (const CASE& c : cases) {
        const std::string strName = "t" + std::to_string(k++);
        SCOPED_TRACE(strName);
        ASSERT_NE(Node(strName.c_str()), nullptr);
        EXPECT_EQ(Node(strName.c_str())->llOrder, c.llKey);
    }
    EXPECT_EQ(Node("n1")->llOrder, 1);
    EXPECT_EQ(Node("n2")->llOrder, 1);
    EXPECT_EQ(Node("n3")->llOrder, -5);
    EXPECT_EQ(Node("n4")->llOrder, 5);
    EXPECT_EQ(GetVarInt(kVarInt, 0), 1);
    // The sibling list follows the keys.
    for (TREE_NODE* p = g_pThreadRoot->pFirstChild; p && p->pNext; p = p->pNext) EXPECT_LE(p->llOrder, p->pNext->llOrder);
}

// Without the re-run request a thread keyed above the running one waits for the next frame; with
// it the frame runs another pass that resumes at the new key, passing over the threads above it.
TEST_F(ThreadCmdTest, RerunRequestRunsANewThreadInTheSameFrame)
{
    for (bool bRerun : {false, true}) {
        SCOPED_TRACE(bRerun);
        SCRIPT_BUILDER b;
        InitScriptBuilder(&b, 0);
        AddLabel(&b, "SYSTEM_START");
        Thread(&b, "top", "top", {IntArg(KX_THREAD_ARG_KEY, 300)});
        Probe(&b, 1);
        std::vector<BUILDER_ARG> extra = {IntArg(KX_THREAD_ARG_KEY, 200)};
        if (bRerun) extra.push_back(IntArg(KX_THREAD_ARG_RERUN, 1));
        Thread(&b, "hi", "hi", std::move(extra));
        Probe(&b, 3);
        Park(&b);
        AddLabel(&b, "top");
        Probe(&b, 10, PROBE_REPEAT);
        AddLabel(&b, "hi");
        Probe(&b, 2);
        Park(&b);
        Start(Game({&b}));

        EXPECT_EQ(Frame(), (SV{"SYSTEM:1"}));
        if (bRerun) {
            EXPECT_EQ(Frame(), (SV{"top:10", "SYSTEM:3", "hi:2"}));
            EXPECT_EQ(g_llResumeKey, 0);
        } else {
            EXPECT_EQ(Frame(), (SV{"top:10", "SYSTEM:3"}));
            EXPECT_EQ(Frame(), (SV{"top:10", "hi:2"}));
        }
        EXPECT_EQ(Node("hi")->llOrder, 200);
        EXPECT_TRUE(errors.reports.empty());
        TearDown();
        SetUp();
    }
}

// Ending threads: one ends itself mid-pass (its later commands never run, the threads after it in
// the pass still run), SYSTEM ends another by name and goes on, and a thread of an ended name can
// be started again and runs. Ended threads leave the sibling list and the root's index; their
// records are freed (LeakSanitizer and AddressSanitizer watch the run).
TEST_F(ThreadCmdTest, EndedThreadsLeaveTheTreeAndCanBeStartedAgain)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    AddLabel(&b, "SYSTEM_START");
    Thread(&b, "self", "self", {IntArg(KX_THREAD_ARG_KEY, 5)});
    Thread(&b, "low", "low", {IntArg(KX_THREAD_ARG_KEY, 10)});
    Thread(&b, "mid", "self", {IntArg(KX_THREAD_ARG_KEY, 60)});
    Thread(&b, "other", "other", {IntArg(KX_THREAD_ARG_KEY, 200)});
    Probe(&b, 1);
    ThreadEnd(&b, "other");
    Probe(&b, 2, PROBE_GO_ON);
    Thread(&b, "other", "again", {IntArg(KX_THREAD_ARG_KEY, 20)});
    Probe(&b, 3);
    Park(&b);
    AddLabel(&b, "self");
    Probe(&b, 50, PROBE_GO_ON);
    ThreadEnd(&b);
    Probe(&b, 51);   // never runs
    Park(&b);
    AddLabel(&b, "low");
    Probe(&b, 10, PROBE_REPEAT);
    AddLabel(&b, "other");
    Probe(&b, 200, PROBE_REPEAT);
    AddLabel(&b, "again");
    Probe(&b, 20, PROBE_REPEAT);
    Start(Game({&b}));

    // Passes walk the keys from the highest down, fetching each next thread afresh: after SYSTEM
    // (100) has made self (5), low (10), mid (60) and other (200), the first child, self, runs and
    // ends itself as the last thread of the frame: nothing is left pointing at its record.
    EXPECT_EQ(Frame(), (SV{"SYSTEM:1", "self:50"}));
    EXPECT_EQ(Node("self"), nullptr);
    EXPECT_EQ(g_pCurThread, nullptr);
    EXPECT_EQ(g_pCurThreadNode, nullptr);
    EXPECT_EQ(Children(), (SV{"low", "mid", "", "SYSTEM", "other"}));
    // SYSTEM ends other and goes on, and starts other anew at key 20; mid ends itself mid-pass and
    // the threads after it still run.
    EXPECT_EQ(Frame(), (SV{"other:200", "SYSTEM:2", "SYSTEM:3", "mid:50", "other:20", "low:10"}));
    EXPECT_EQ(Node("mid"), nullptr);
    EXPECT_EQ(Children(), (SV{"low", "other", "", "SYSTEM"}));
    EXPECT_EQ(g_pThreadRoot->nIndexed, 4);
    EXPECT_EQ(Node("other")->llOrder, 20);
    EXPECT_EQ(Frame(), (SV{"other:20", "low:10"}));
    EXPECT_TRUE(errors.reports.empty());
}

// The refused forms, each fatal with the stop flag set.
TEST_F(ThreadCmdTest, RefusedThreadCommandsReportTheirErrors)
{
    struct CASE {
        const char* pszWhat;
        void (*pfnEmit)(SCRIPT_BUILDER*);
        int nId;
    };
    const CASE cases[] = {
        {"new name without a label", [](SCRIPT_BUILDER* b) { Thread(b, "nobody", ""); }, KX_ERR_NO_THREAD},
        {"group name", [](SCRIPT_BUILDER* b) { Thread(b, "grp/", "idle"); }, KX_ERR_THREAD_IS_GROUP},
        {"missing label", [](SCRIPT_BUILDER* b) { Thread(b, "t", "nolabel"); }, KX_ERR_LABEL_NOT_FOUND},
        {"space in the name", [](SCRIPT_BUILDER* b) { Thread(b, "a/b c", "idle"); }, KX_ERR_SPACE_IN_PATH},
        {"SYSTEM ends itself", [](SCRIPT_BUILDER* b) { ThreadEnd(b); }, KX_ERR_SYSTEM_THREAD_END},
        {"end SYSTEM by name", [](SCRIPT_BUILDER* b) { ThreadEnd(b, "SYSTEM"); }, KX_ERR_SYSTEM_THREAD_END},
        {"end a missing thread", [](SCRIPT_BUILDER* b) { ThreadEnd(b, "nobody"); }, KX_ERR_NO_THREAD},
        {"exists into a text", [](SCRIPT_BUILDER* b) { Info(b, "", OutArg(1, Var(kVarText), EVALTYPE_TEXT), 2); },
         KX_ERR_VAR_WRONG_TYPE},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        SCRIPT_BUILDER b;
        InitScriptBuilder(&b, 0);
        AddLabel(&b, "SYSTEM_START");
        c.pfnEmit(&b);
        Probe(&b, 1);
        Park(&b);
        AddLabel(&b, "idle");
        Park(&b);
        Start(Game({&b}));
        EXPECT_EQ(Frame(), SV{});
        ExpectOneFatal(c.nId);
        EXPECT_EQ(Children(), (SV{"", "SYSTEM"}));
        TearDown();
        errors.reports.clear();
        g_bEngineStop = 0;
        SetUp();
    }
}

// The information command: answers about the running thread and a named one, and 0, 0.0 or an
// empty text for a thread that does not exist, whatever the question.
TEST_F(ThreadCmdTest, InformationAnswers)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    SetSourceLine(&b, 100);
    AddLabel(&b, "SYSTEM_START");
    Thread(&b, "w", "idle", {IntArg(KX_THREAD_ARG_KEY, 42), IntArg(KX_THREAD_ARG_RUN_A, 0x103), IntArg(KX_THREAD_ARG_RUN_B, 0)});
    Info(&b, "w", OutArg(1, Elem(kVarInts, 0)), 2);
    Info(&b, "w", OutArg(1, Elem(kVarInts, 1)), 3);
    Info(&b, "w", OutArg(1, Elem(kVarInts, 2)), 4);
    Info(&b, "w", OutArg(1, Elem(kVarInts, 3)), 5);
    Info(&b, "", OutArg(1, Elem(kVarInts, 4)), 8);   // line 105: the command being run
    Info(&b, "w", OutArg(1, Elem(kVarInts, 5)), 8);   // w has not run: the line before its label
    Info(&b, "w", OutArg(1, Elem(kVarInts, 6)), 7);
    Info(&b, "", OutArg(1, Elem(kVarInts, 7)), 16);
    Info(&b, "w", OutArg(1, Elem(kVarTexts, 0), EVALTYPE_TEXT), 6);
    Info(&b, "", OutArg(1, Elem(kVarTexts, 1), EVALTYPE_TEXT), 19);
    Info(&b, "w", OutArg(1, Elem(kVarInts, 8)), 6);   // a file name goes only into a text
    Info(&b, "gone", OutArg(1, Var(kVarInt)), 3);
    Info(&b, "gone", OutArg(1, Var(kVarFloat), EVALTYPE_FLOAT), 2);
    Info(&b, "gone", OutArg(1, Var(kVarText), EVALTYPE_TEXT), 6);
    Info(&b, "", OutArg(1, Elem(kVarInts, 9)), 10);   // the script index; the state text needs a text output
    Park(&b);
    AddLabel(&b, "idle");
    Park(&b);
    Start(Game({&b}, {"Main.txt"}));

    Frame();
    EXPECT_TRUE(errors.reports.empty()) << (errors.reports.empty() ? "" : errors.reports[0].strText);
    EXPECT_EQ(GetVarInt(kVarInts, 0), 1);
    EXPECT_EQ(GetVarInt(kVarInts, 1), 3);
    EXPECT_EQ(GetVarInt(kVarInts, 2), 0);
    EXPECT_EQ(GetVarInt(kVarInts, 3), 42);
    EXPECT_EQ(GetVarInt(kVarInts, 4), 105);
    EXPECT_EQ(GetVarInt(kVarInts, 5), 116);
    EXPECT_EQ(GetVarInt(kVarInts, 6), 0);
    EXPECT_EQ(GetVarInt(kVarInts, 7), 0);
    EXPECT_EQ(std::string(GetVarString(kVarTexts, 0)), "Main.txt");
    EXPECT_EQ(std::string(GetVarString(kVarTexts, 1)).size(), KX_THREAD_STATE_BASE + std::strlen("Main.txt"));
    EXPECT_EQ(GetVarInt(kVarInts, 8), -7);
    EXPECT_EQ(GetVarInt(kVarInt, 0), 0);
    EXPECT_EQ(GetVarFloat(kVarFloat, 0), 0.0);
    EXPECT_EQ(std::string(GetVarString(kVarText, 0)), "");
    EXPECT_EQ(GetVarInt(kVarInts, 9), 0);
}

// The script-list query: count, values and names by 1-based index (outside: 0 and empty), E-mote.
TEST_F(ThreadCmdTest, ScriptListQuery)
{
    SCRIPT_BUILDER a, b;
    InitScriptBuilder(&a, 0);
    InitScriptBuilder(&b, 1);
    AddLabel(&a, "SYSTEM_START");
    auto list = [&](int nSel, int64_t i, BUILDER_ARG out) {
        std::vector<BUILDER_ARG> args = {IntArg(static_cast<uint8_t>(nSel), 1), IntArg(4, i), std::move(out)};
        EmitCommand(&a, KXCMD_SCRIPT_LIST, args);
    };
    list(1, 0, OutArg(5, Elem(kVarInts, 0)));
    list(2, 2, OutArg(5, Elem(kVarInts, 1)));
    list(2, 3, OutArg(5, Elem(kVarInts, 2)));
    list(0, 2, OutArg(5, Elem(kVarTexts, 0), EVALTYPE_TEXT));
    list(0, 0, OutArg(5, Elem(kVarTexts, 1), EVALTYPE_TEXT));
    list(3, 0, OutArg(5, Elem(kVarInts, 3)));
    Park(&a);
    Park(&b);
    Start(Game({&a, &b}, {"a.txt", "b.txt"}));
    SetVarString(kVarTexts, 1, "old");
    Frame();
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_EQ(GetVarInt(kVarInts, 0), 2);
    EXPECT_EQ(GetVarInt(kVarInts, 1), 20);
    EXPECT_EQ(GetVarInt(kVarInts, 2), 0);
    EXPECT_EQ(std::string(GetVarString(kVarTexts, 0)), "b.txt");
    EXPECT_EQ(std::string(GetVarString(kVarTexts, 1)), "");
    EXPECT_EQ(GetVarInt(kVarInts, 3), 0);
}

// A state text taken by the information command and handed to the thread command puts a new thread
// at the same command: it goes on where the first thread was.
TEST_F(ThreadCmdTest, StateTextCarriesAPositionToAnotherThread)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    AddLabel(&b, "SYSTEM_START");
    Thread(&b, "w", "work");
    Probe(&b, 1);
    Thread(&b, "u", "idle", {ExprArg(KX_THREAD_ARG_STATE, Var(kVarText), EVALTYPE_TEXT)});
    Probe(&b, 3);
    Park(&b);
    AddLabel(&b, "work");
    Info(&b, "", OutArg(1, Var(kVarText), EVALTYPE_TEXT), 19);
    Probe(&b, 20);
    Probe(&b, 21);
    Park(&b);
    AddLabel(&b, "idle");
    Park(&b);
    Start(Game({&b}));
    EXPECT_EQ(Frame(), (SV{"SYSTEM:1", "w:20"}));
    EXPECT_EQ(Frame(), (SV{"SYSTEM:3", "u:20", "w:21"}));
    EXPECT_EQ(Frame(), (SV{"u:21"}));
    EXPECT_TRUE(errors.reports.empty());
}

// ---- the state text itself ----

namespace {

// A game of two scripts loaded for the codec, and threads made directly.
class StateTextTest : public ThreadCmdTest {
protected:
    void SetUp() override
    {
        ThreadCmdTest::SetUp();
        SCRIPT_BUILDER a, b;
        InitScriptBuilder(&a, 0);
        InitScriptBuilder(&b, 1);
        AddLabel(&a, "SYSTEM_START");
        for (int i = 0; i < 8; ++i) Park(&a);
        for (int i = 0; i < 30; ++i) Park(&b);
        Start(Game({&a, &b}, {"main.txt", "Sub\\Second.txt"}));
        pA = CreateNode(g_pThreadRoot, "A", 0, 1);
        pB = CreateNode(g_pThreadRoot, "B", 0, 1);
        ASSERT_NE(AttachScriptThread(pA), nullptr);
        ASSERT_NE(AttachScriptThread(pB), nullptr);
    }
    SCRIPT_THREAD* A() { return static_cast<SCRIPT_THREAD*>(pA->pPayload); }
    SCRIPT_THREAD* B() { return static_cast<SCRIPT_THREAD*>(pB->pPayload); }

    // Thread A at script 1, command 17, with open blocks, calls and loops.
    void Deepen(int d, int m, int e)
    {
        SCRIPT_THREAD* t = A();
        ASSERT_EQ(LoadScriptBody(1), 1);
        SetThreadBody(t, 1);
        t->nPC = 17;
        t->anTextEnd[0] = -123456;
        t->anTextEnd[1] = 77;
        for (int i = 0; i <= d; ++i)
            if (!t->apIf[i]) t->apIf[i] = static_cast<IF_BLOCK*>(calloc(1, sizeof(IF_BLOCK)));
        for (int i = 0; i <= m; ++i)
            if (!t->apCall[i]) t->apCall[i] = static_cast<CALL_FRAME*>(calloc(1, sizeof(CALL_FRAME)));
        for (int i = 0; i <= e; ++i)
            if (!t->apLoop[i]) t->apLoop[i] = static_cast<LOOP_FRAME*>(calloc(1, sizeof(LOOP_FRAME)));
        for (int i = 0; i < d; ++i) *t->apIf[i] = IF_BLOCK{static_cast<uint8_t>(i % 64), 1000 + i, i == 0 ? -1 : 0x7FFFFFFF - i};
        for (int i = 0; i < m; ++i) {
            CALL_FRAME* c = t->apCall[i];
            c->bSavedIfDepth = static_cast<uint8_t>(i);
            c->bSavedLoopDepth = static_cast<uint8_t>(63 - i);
            c->nReturnCommand = 5 * i + 1;
            c->wReturnScript = static_cast<uint16_t>(i % 2);
            c->nCallLine = 999;   // not carried
        }
        for (int i = 0; i < e; ++i)
            *t->apLoop[i] = LOOP_FRAME{static_cast<uint8_t>(127 - i), 3 + i, 40 + i, i == 0 ? 0x1FFFFFFFFLL : i, i == 0 ? -1 : 100 + i};
        t->nIfDepth = static_cast<int8_t>(d);
        t->nCallDepth = static_cast<int8_t>(m);
        t->nLoopDepth = static_cast<int8_t>(e);
    }
    std::string Encode(const SCRIPT_THREAD* t)
    {
        std::vector<char> buf(KX_THREAD_STATE_FIXED_MAX + 300);
        const int n = EncodeThreadState(buf.data(), buf.size(), t);
        EXPECT_GE(n, 0);
        return std::string(buf.data(), n > 0 ? static_cast<size_t>(n) : 0);
    }

    TREE_NODE* pA = nullptr;
    TREE_NODE* pB = nullptr;
};

}  // namespace

TEST_F(StateTextTest, LayoutOfAThreadWithoutOpenBlocks)
{
    SCRIPT_THREAD* t = A();
    SetThreadBody(t, 0);
    t->nPC = 5;
    t->anTextEnd[0] = 0x12345678;
    const std::string s = Encode(t);
    EXPECT_EQ(s, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8) + "aa" + "aa" + "aa" + "bcdefghi" + "aaaaaaaf" +
                     "aaaaaaai" + "main.txt");
    EXPECT_EQ(s.size(), KX_THREAD_STATE_BASE + 8u);
    // Too small a buffer is refused, not overrun.
    std::vector<char> small(s.size() - 1);
    EXPECT_EQ(EncodeThreadState(small.data(), small.size(), t), -1);
    EXPECT_EQ(EncodeThreadState(nullptr, 100, t), -1);
    EXPECT_EQ(DecodeThreadState(nullptr, 0, t), -1);
    EXPECT_EQ(DecodeThreadState(s.data(), s.size(), nullptr), -1);
}

// Every depth up to the stacks' limits: the text is read back into another thread with the same
// script, command, text-end value and stack entries (pass values sign-extended from 32 bits), and
// the file name is found whatever its ASCII case.
TEST_F(StateTextTest, RoundTripKeepsPositionAndStacks)
{
    struct DEPTHS {
        int d, m, e;
    };
    for (const DEPTHS& x : {DEPTHS{0, 0, 0}, DEPTHS{1, 2, 3}, DEPTHS{127, 63, 63}}) {
        SCOPED_TRACE(std::to_string(x.d) + "/" + std::to_string(x.m) + "/" + std::to_string(x.e));
        Deepen(x.d, x.m, x.e);
        std::string s = Encode(A());
        ASSERT_EQ(s.size(), GetThreadStateLength(A()));
        ASSERT_EQ(s.size(), 38u + 18u * x.d + 20u * x.m + 34u * x.e + std::strlen("Sub\\Second.txt"));
        s.replace(s.size() - 14, 14, "sUB\\sECOND.TXT");
        ASSERT_EQ(DecodeThreadState(s.data(), s.size(), B()), static_cast<int>(s.size()));
        const SCRIPT_THREAD* a = A();
        const SCRIPT_THREAD* t = B();
        EXPECT_EQ(t->wScript, 1);
        EXPECT_EQ(t->nCommands, 30);
        EXPECT_EQ(t->ppHandlerTables, a->ppHandlerTables);
        EXPECT_EQ(t->nPC, 17);
        EXPECT_EQ(t->anTextEnd[0], -123456);
        EXPECT_EQ(t->anTextEnd[1], 0);
        ASSERT_EQ(t->nIfDepth, x.d);
        ASSERT_EQ(t->nCallDepth, x.m);
        ASSERT_EQ(t->nLoopDepth, x.e);
        ASSERT_NE(t->apIf[x.d], nullptr);
        ASSERT_NE(t->apCall[x.m], nullptr);
        ASSERT_NE(t->apLoop[x.e], nullptr);
        for (int i = 0; i < x.d; ++i) {
            EXPECT_EQ(t->apIf[i]->bLoopDepth, a->apIf[i]->bLoopDepth);
            EXPECT_EQ(t->apIf[i]->nIfCommand, a->apIf[i]->nIfCommand);
            EXPECT_EQ(t->apIf[i]->nBlockEnd, a->apIf[i]->nBlockEnd);
        }
        for (int i = 0; i < x.m; ++i) {
            EXPECT_EQ(t->apCall[i]->bSavedIfDepth, a->apCall[i]->bSavedIfDepth);
            EXPECT_EQ(t->apCall[i]->bSavedLoopDepth, a->apCall[i]->bSavedLoopDepth);
            EXPECT_EQ(t->apCall[i]->nReturnCommand, a->apCall[i]->nReturnCommand);
            EXPECT_EQ(t->apCall[i]->wReturnScript, a->apCall[i]->wReturnScript);
        }
        for (int i = 0; i < x.e; ++i) {
            EXPECT_EQ(t->apLoop[i]->bIfDepth, a->apLoop[i]->bIfDepth);
            EXPECT_EQ(t->apLoop[i]->nBodyStart, a->apLoop[i]->nBodyStart);
            EXPECT_EQ(t->apLoop[i]->nLoopEnd, a->apLoop[i]->nLoopEnd);
            const int64_t llCounter = i == 0 ? -1 : i;   // 0x1FFFFFFFF keeps its low 32 bits: -1
            EXPECT_EQ(t->apLoop[i]->llPassCounter, llCounter);
            EXPECT_EQ(t->apLoop[i]->llPassCount, a->apLoop[i]->llPassCount);
        }
        EXPECT_TRUE(errors.reports.empty());
    }
}

// Damaged state texts end in a fatal report, never a crash or a read past the text, and leave the
// thread as it was: every cut of a sound text, letters outside "a".."p", depths beyond the stacks,
// entries that name depths or scripts beyond their tables, a name longer than what follows, an
// unlisted name and a program counter outside the body.
TEST_F(StateTextTest, DamagedTextsAreRefusedAndChangeNothing)
{
    Deepen(2, 1, 1);
    const std::string good = Encode(A());
    const size_t nIf = 10, nCall = nIf + 2 * 18, nLoop = nCall + 2 + 20, nTail = nLoop + 2 + 34;
    auto with = [&](size_t nPos, const std::string& strBytes) {
        std::string s = good;
        s.replace(nPos, strBytes.size(), strBytes);
        return s;
    };
    struct CASE {
        std::string strWhat;
        std::string text;
        int nId;
    };
    std::vector<CASE> cases = {
        {"no magic", with(0, "\x01\x02\x03\x04\x05\x06\x07\x09"), KX_ERR_STATE_TEXT_MAGIC},
        {"shorter than the magic", good.substr(0, 5), KX_ERR_STATE_TEXT_MAGIC},
        {"letter above p", with(8, "aq"), KX_ERR_STATE_TEXT},
        {"upper-case letter", with(nIf + 4, "A"), KX_ERR_STATE_TEXT},
        {"NUL in a value", with(nTail + 3, std::string(1, '\0')), KX_ERR_STATE_TEXT},
        {"128 if-blocks", with(8, "ia"), KX_ERR_STATE_TEXT},
        {"255 if-blocks", with(8, "pp"), KX_ERR_STATE_TEXT},
        {"64 calls", with(nCall, "ea"), KX_ERR_STATE_TEXT},
        {"64 loops", with(nLoop, "ea"), KX_ERR_STATE_TEXT},
        {"if-block with loop depth 64", with(nIf, "ea"), KX_ERR_STATE_TEXT},
        {"call saving if depth 128", with(nCall + 2, "ia"), KX_ERR_STATE_TEXT},
        {"call saving loop depth 64", with(nCall + 4, "ea"), KX_ERR_STATE_TEXT},
        {"call returning to script 2", with(nCall + 2 + 16, "aaac"), KX_ERR_STATE_TEXT},
        {"loop with if depth 128", with(nLoop + 2, "ia"), KX_ERR_STATE_TEXT},
        {"name longer than the text", with(nTail + 16, "aaaaaapa"), KX_ERR_STATE_TEXT},
        {"name length above 2^31", with(nTail + 16, "iaaaaaaa"), KX_ERR_STATE_TEXT},
        {"unlisted name", with(good.size() - 3, "tx_"), KX_ERR_STATE_TEXT},
        {"shorter name", with(nTail + 16, "aaaaaaan").substr(0, good.size() - 1), KX_ERR_STATE_TEXT},
        {"program counter past the body", with(nTail + 8, "aaaaaabp"), KX_ERR_STATE_TEXT},
        {"negative program counter", with(nTail + 8, "pppppppp"), KX_ERR_STATE_TEXT},
    };
    for (size_t n = 8; n < good.size(); ++n) cases.push_back({"cut at " + std::to_string(n), good.substr(0, n), KX_ERR_STATE_TEXT});
    // One entry more than each stack holds, with every entry present, so only the depth is wrong.
    Deepen(127, 63, 63);
    const std::string deep = Encode(A());
    const size_t nDeepCall = 10 + 127 * 18, nDeepLoop = nDeepCall + 2 + 63 * 20, nDeepTail = nDeepLoop + 2 + 63 * 34;
    auto grow = [&](size_t nDepthPos, const char* pszDepth, size_t nEntryEnd, size_t nEntryLen) {
        std::string s = deep;
        s.insert(nEntryEnd, std::string(nEntryLen, 'a'));
        return s.replace(nDepthPos, 2, pszDepth);
    };
    cases.push_back({"128 whole if-blocks", grow(8, "ia", nDeepCall, 18), KX_ERR_STATE_TEXT});
    cases.push_back({"64 whole calls", grow(nDeepCall, "ea", nDeepLoop, 20), KX_ERR_STATE_TEXT});
    cases.push_back({"64 whole loops", grow(nDeepLoop, "ea", nDeepTail, 34), KX_ERR_STATE_TEXT});

    SCRIPT_THREAD* t = B();
    t->nPC = 3;
    t->nCallDepth = 0;
    const int8_t nIfBefore = t->nIfDepth;
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.strWhat);
        ERROR_RECORDER rec;
        EXPECT_EQ(DecodeThreadState(c.text.data(), c.text.size(), t), 0);
        ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(rec, c.nId));
        EXPECT_EQ(t->nPC, 3);
        EXPECT_EQ(t->wScript, 0);
        EXPECT_EQ(t->nIfDepth, nIfBefore);
        EXPECT_EQ(t->nCallDepth, 0);
        EXPECT_EQ(t->nLoopDepth, 0);
        EXPECT_EQ(t->apIf[1], nullptr);
    }
    // The sound text itself is read.
    EXPECT_EQ(DecodeThreadState(good.data(), good.size(), t), static_cast<int>(good.size()));
    EXPECT_EQ(t->nPC, 17);
}
