// Script bodies written by the script builder: loading loose and packed, descrambling, binding,
// pre-resolved targets, labels, damaged bodies, and the file and line of error headers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "root/startup.h"
#include "core/engine_hooks.h"
#include "core/byte_reader.h"
#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/file_location.h"
#include "core/frame_loop.h"
#include "core/kx_hash.h"
#include "core/object_tree.h"
#include "core/pack_archive.h"
#include "platform/plat_file.h"
#include "script/command_ids.h"
#include "script/dispatch.h"
#include "script/script_body.h"
#include "script/variables.h"
#include "tests/support/game_folder.h"
#include "tests/support/engine_test.h"
#include "tests/support/test_support.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/script_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

const GAME_FILE* FindFile(const std::vector<GAME_FILE>& files, const std::string& strName)
{
    for (const GAME_FILE& f : files)
        if (f.strName == strName) return &f;
    return nullptr;
}

// A game folder as current and program folder, with the script list, labels and definitions of a
// built game put where the start-up's table loader would put them.
class ScriptBodyTest : public EngineTest {
protected:
    TEMP_DIR dir;
    ERROR_RECORDER errors;
    std::string strOldCwd;
    std::vector<GAME_FILE> files;
    Bytes varDefs;
    std::vector<LABEL_ENTRY> labels;
    std::vector<LABEL_ENTRY*> labelPtrs;
    std::vector<std::string> names;
    std::vector<char*> namePtrs;

    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(EnterGameFolder(dir, &strOldCwd));
        FillCmdHandlers(KX_COMMAND_IDS);   // the whole table, whatever an earlier test left
    }
    void TearDown() override
    {
        FreeScriptBodies();
        // The name list and the labels are the test's own: the engine's reset would free them.
        g_apszScriptName = nullptr;
        g_apLabel = nullptr;
        LeaveGameFolder(strOldCwd);
    }

    // Writes the game loose or into a pack and installs its script list, labels and definitions.
    void Install(GAME_DATA game, bool bPacked)
    {
        files = BuildGameFiles(game);
        if (bPacked) {
            ASSERT_EQ(WriteGamePack(dir.strNative + "/data.kpf", files), 0);
            ASSERT_EQ(BuildPackIndex(), 0);
        } else {
            ASSERT_EQ(WriteGameFolder(dir.strNative, files), 0);
        }
        names.clear();
        for (const GAME_SCRIPT& s : game.scripts) names.push_back(s.strName);
        namePtrs.clear();
        for (std::string& s : names) namePtrs.push_back(s.data());
        g_nScripts = static_cast<int32_t>(names.size());
        g_apszScriptName = namePtrs.data();
        ASSERT_EQ(AllocScriptBodyTable(), 0);

        const GAME_FILE* pDefs = FindFile(files, KXBIN_KXV);
        ASSERT_NE(pDefs, nullptr);
        varDefs = pDefs->data;
        g_pVarDefs = varDefs.data();
        g_nVarDefsBytes = varDefs.size();
        const GAME_FILE* pLabels = FindFile(files, KXBIN_KXL);
        ASSERT_NE(pLabels, nullptr);
        ReadLabels(pLabels->data);
    }

    // The label file as the table loader keeps it.
    void ReadLabels(const Bytes& image)
    {
        BIN_CURSOR cur;
        InitBinCursor(&cur, image.data(), image.size());
        int32_t n = 0;
        SkipBytes(&cur, 8);
        ReadI32(&cur, &n);
        for (int32_t& b : g_anLabelBucket) ReadI32(&cur, &b);
        g_anLabelBucket[0] = 0;
        labels.assign(static_cast<size_t>(n), LABEL_ENTRY{});
        static std::vector<std::string> s_names;
        s_names.assign(static_cast<size_t>(n), std::string());
        for (int32_t i = 0; i < n; ++i) {
            uint8_t m = 0;
            ReadU8(&cur, &m);
            s_names[i].resize(m);
            ReadBytes(&cur, s_names[i].data(), m);
            LABEL_ENTRY& l = labels[i];
            l.pszName = s_names[i].data();
            ReadU32(&cur, &l.dwHash);
            ReadI32(&cur, &l.nCommand);
            ReadU16(&cur, &l.wScript);
            ReadU8(&cur, &l.nIfDepth);
            ReadU8(&cur, &l.nLoopDepth);
        }
        ASSERT_FALSE(cur.bFailed);
        labelPtrs.clear();
        for (LABEL_ENTRY& l : labels) labelPtrs.push_back(&l);
        g_apLabel = labelPtrs.data();
        g_nLabels = n;
    }

    std::vector<int> ErrorIds() const
    {
        std::vector<int> ids;
        for (const ERROR_RECORD& r : errors.reports) ids.push_back(r.nId);
        return ids;
    }
};

GAME_DATA BaseGame()
{
    GAME_DATA game = DefaultGameData();
    game.defs.clear();
    return game;
}

// main.txt: labels inside a loop and an if, a jump and a call to literal labels, a jump through a
// variable, and an assignment with plain argument records. sub.txt: the called label.
struct TWO_SCRIPTS {
    SCRIPT_BUILDER main, sub;
    int nGotoLiteral = -1, nGotoVar = -1, nCall = -1, nAssign = -1;
};
TWO_SCRIPTS BuildTwoScripts()
{
    TWO_SCRIPTS t;
    SCRIPT_BUILDER& b = t.main;
    InitScriptBuilder(&b, 0);
    SetSourceLine(&b, 10);
    AddLabel(&b, "SYSTEM_START");
    EmitCommand(&b, KXCMD_NOP, {});
    BeginLoop(&b, MakeExprInt(3));
    AddLabel(&b, "inner");
    BeginIf(&b, MakeExprInt(1));
    AddLabel(&b, "deep");
    EmitCommand(&b, KXCMD_NOP9, {});
    EndIf(&b);
    EndLoop(&b);
    t.nGotoLiteral = EmitGoto(&b, "inner");
    t.nCall = EmitCall(&b, "sub", {{MakeExprInt(5)}, {}, {}});
    Bytes var;
    ExprAsmVar(var, 1000);
    t.nGotoVar = EmitGotoExpr(&b, var);
    // Odd expression bytes, so the line table's region starts in the middle of a key cycle.
    t.nAssign = EmitCommand(&b, KXCMD_ASSIGN, {ExprArg(0, MakeExprInt(7), EVALTYPE_INT, ARGOP_ADD),
                                               ExprArg(1, MakeExprText("abc"), EVALTYPE_TEXT)});
    while (b.body.expr.size() % 4 != 3) AppendExpr(&b, {0});
    EXPECT_EQ(FinishScriptBody(&b), 0);
    InitScriptBuilder(&t.sub, 1);
    SetSourceLine(&t.sub, 1);
    AddLabel(&t.sub, "sub");
    EmitReturn(&t.sub);
    EXPECT_EQ(FinishScriptBody(&t.sub), 0);
    return t;
}

class ScriptBodySourceTest : public ScriptBodyTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ScriptBodySourceTest, BodiesLoadDescrambleAndBind)
{
    const bool bPacked = GetParam();
    {
        TWO_SCRIPTS t = BuildTwoScripts();
        GAME_DATA game = BaseGame();
        game.scripts = {ScriptFromBuilder("main.txt", t.main), ScriptFromBuilder("sub.txt", t.sub)};
        Install(game, bPacked);
        if (bPacked) {
            ASSERT_FALSE(dir.Exists("kxbin/kxt00000.kbn"));
        }

        ASSERT_EQ(LoadScriptBody(0), 1);
        SCRIPT_BODY* pBody = g_ppScriptBody[0];
        EXPECT_EQ(LoadScriptBody(0), 1);
        EXPECT_EQ(g_ppScriptBody[0], pBody);   // loaded once
        EXPECT_EQ(g_ppScriptBody[1], nullptr);  // only on first use

        const KX_BODY& src = t.main.body;
        ASSERT_NE(src.expr.size() % 4, 0u);
        ASSERT_EQ(pBody->nCommands, static_cast<int32_t>(src.commands.size()));
        ASSERT_EQ(pBody->nExprBytes, src.expr.size());
        EXPECT_EQ(0, std::memcmp(pBody->pbExpr, src.expr.data(), src.expr.size()));
        for (size_t i = 0; i < src.commands.size(); ++i) {
            const KX_COMMAND_RECORD& c = src.commands[i];
            SCOPED_TRACE(i);
            EXPECT_EQ(pBody->pnLineTable[i], static_cast<int32_t>(src.lines[i]));
            EXPECT_EQ(pBody->pwCommandWords[i], c.wWord);
            ASSERT_EQ(pBody->pbArgCounts[i], c.args.size());
            EXPECT_EQ(pBody->ppHandlerTables[0][i], DispatchWhilePaused);
            EXPECT_EQ(pBody->ppHandlerTables[1][i], g_apfnCmdHandlers[c.bOpcode]);
            for (size_t a = 0; a < c.args.size(); ++a) {
                const ARG_RECORD& r = pBody->ppFirstArgs[i][a];
                EXPECT_EQ(r.bArgId, c.args[a].bId);
                EXPECT_EQ(r.dwExprOffset, c.args[a].nOffset);
                if (static_cast<int>(i) == t.nGotoLiteral || static_cast<int>(i) == t.nCall) continue;
                EXPECT_EQ(r.bEvalType, c.args[a].bType);
                EXPECT_EQ(r.bOperator, c.args[a].bOp);
                EXPECT_EQ(r.dwExprLen, c.args[a].nLength);
            }
        }
        EXPECT_EQ(pBody->ppHandlerTables[1][0], CmdNop);

        // Constant targets are resolved at load; a target read from a variable is left as it is.
        const int32_t nInner = FindLabel("inner", 5);
        ASSERT_GE(nInner, 0);
        EXPECT_EQ(pBody->ppFirstArgs[t.nGotoLiteral][0].dwExprLen, KX_ARG_LABEL_FLAG + static_cast<uint32_t>(nInner));
        EXPECT_EQ(pBody->ppFirstArgs[t.nGotoVar][0].dwExprLen, src.commands[t.nGotoVar].args[0].nLength);
        const int32_t nSub = FindLabel("sub", 3);
        ASSERT_GE(nSub, 0);
        EXPECT_EQ(GetArgLabelIndex(&pBody->ppFirstArgs[t.nCall][0]), nSub == 0 ? 0 : nSub);
        EXPECT_EQ(pBody->ppFirstArgs[t.nCall][1].bEvalType, EVALTYPE_INT);   // other records untouched

        // The thread takes the six tables, the count and the script together.
        SCRIPT_THREAD thread{};
        SetThreadBody(&thread, 0);
        EXPECT_EQ(thread.nCommands, pBody->nCommands);
        EXPECT_EQ(thread.ppHandlerTables, pBody->ppHandlerTables);
        EXPECT_EQ(thread.pnLineTable, pBody->pnLineTable);
        EXPECT_EQ(thread.pbExpr, pBody->pbExpr);
        EXPECT_EQ(thread.wScript, 0);

        ASSERT_EQ(LoadScriptBody(1), 1);
        EXPECT_EQ(g_ppScriptBody[1]->nCommands, 1);
        EXPECT_TRUE(errors.reports.empty());
    }
}
INSTANTIATE_TEST_SUITE_P(LooseAndPacked, ScriptBodySourceTest, ::testing::Bool());

TEST_F(ScriptBodyTest, LabelsAreFoundWithTheirDepths)
{
    TWO_SCRIPTS t = BuildTwoScripts();
    GAME_DATA game = BaseGame();
    game.scripts = {ScriptFromBuilder("main.txt", t.main), ScriptFromBuilder("sub.txt", t.sub)};
    Install(game, false);

    struct CASE {
        const char* pszName;
        int nScript, nIf, nLoop;
    } cases[] = {{"SYSTEM_START", 0, 0, 0}, {"inner", 0, 0, 1}, {"deep", 0, 1, 1}, {"sub", 1, 0, 0}};
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        const int32_t i = FindLabel(c.pszName, std::strlen(c.pszName));
        ASSERT_GE(i, 0);
        EXPECT_STREQ(g_apLabel[i]->pszName, c.pszName);
        EXPECT_EQ(g_apLabel[i]->wScript, c.nScript);
        EXPECT_EQ(g_apLabel[i]->nIfDepth, c.nIf);
        EXPECT_EQ(g_apLabel[i]->nLoopDepth, c.nLoop);
    }
    for (const KXL_LABEL& l : t.main.labels)
        EXPECT_EQ(g_apLabel[FindLabel(l.strName.c_str(), l.strName.size())]->nCommand, l.nCommand) << l.strName;
    EXPECT_EQ(FindLabel("nothere", 7), -1);
    EXPECT_EQ(FindLabel("inne", 4), -1);
    // The hash covers the given length: a longer length hashes other bytes.
    EXPECT_EQ(FindLabel("inner\0x", 7), -1);
}

TEST_F(ScriptBodyTest, LabelLookUpWalksPastTheBucketAndComparesWholeNames)
{
    // Stored hashes chosen by hand: "b" shares the hash of "abc" but is shorter; "abc" sits in a
    // later bucket than its hash's own; a bucket start at the count finds nothing.
    const uint32_t h = MurmurHash2("abc", 3, 0);
    LABEL_ENTRY a{const_cast<char*>("b"), h, 1, 0, 0, 0};
    LABEL_ENTRY b{const_cast<char*>("abc"), h, 2, 0, 0, 0};
    LABEL_ENTRY* table[] = {&a, &b};
    g_apLabel = table;
    g_nLabels = 2;
    for (int32_t& s : g_anLabelBucket) s = 2;
    g_anLabelBucket[h >> 24] = 0;
    EXPECT_EQ(FindLabel("abc", 3), 1);
    EXPECT_EQ(FindLabel("abcd", 4), -1);
    g_anLabelBucket[h >> 24] = 2;
    EXPECT_EQ(FindLabel("abc", 3), -1);
    g_anLabelBucket[h >> 24] = -5;
    EXPECT_EQ(FindLabel("abc", 3), -1);
}

TEST_F(ScriptBodyTest, TargetsAtLabelZeroJumpsResolveCallsLookUpAtRunTime)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    AddLabel(&b, "only");
    const int nGoto = EmitGoto(&b, "only");
    const int nCall = EmitCall(&b, "only");
    const int nBare = EmitRawCommand(&b, KX_COMMAND_RECORD{KXCMD_GOTO, 0, {}, {}});   // no records
    const int nNext = EmitCommand(&b, KXCMD_ASSIGN, {ExprArg(0, EncodeTextLiteral("only"), EVALTYPE_TEXT)});
    ASSERT_EQ(FinishScriptBody(&b), 0);
    GAME_DATA game = BaseGame();
    game.scripts = {ScriptFromBuilder("main.txt", b)};
    Install(game, false);
    ASSERT_EQ(FindLabel("only", 4), 0);
    ASSERT_EQ(LoadScriptBody(0), 1);
    const SCRIPT_BODY* p = g_ppScriptBody[0];
    EXPECT_EQ(p->ppFirstArgs[nGoto][0].dwExprLen, KX_ARG_LABEL_FLAG + 0);
    EXPECT_EQ(GetArgLabelIndex(&p->ppFirstArgs[nCall][0]), 0);
    // A jump without records leaves the next command's first record alone.
    EXPECT_EQ(p->pbArgCounts[nBare], 0);
    EXPECT_EQ(p->ppFirstArgs[nNext][0].dwExprLen, b.body.commands[nNext].args[0].nLength);
}

TEST_F(ScriptBodyTest, MissingAndEmptyBodies)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    ASSERT_EQ(FinishScriptBody(&b), 0);
    GAME_DATA game = BaseGame();
    game.scripts = {ScriptFromBuilder("empty.txt", b), ScriptFromBuilder("gone.txt", b)};
    Install(game, false);
    std::remove((dir.strNative + "/kxbin/kxt00001.kbn").c_str());

    ASSERT_EQ(LoadScriptBody(0), 1);
    SCRIPT_THREAD thread{};
    SetThreadBody(&thread, 0);
    EXPECT_EQ(thread.nCommands, 0);
    EXPECT_NE(thread.ppHandlerTables, nullptr);

    EXPECT_EQ(LoadScriptBody(1), 0);   // not found: nothing reported here
    EXPECT_TRUE(errors.reports.empty());
    ASSERT_NE(g_ppScriptBody[1], nullptr);
    EXPECT_EQ(LoadScriptBody(1), 1);   // the empty record stays
    SetThreadBody(&thread, 1);
    EXPECT_EQ(thread.nCommands, 0);
    EXPECT_EQ(thread.ppHandlerTables, nullptr);
    EXPECT_EQ(LoadScriptBody(2), 0);   // not listed
}

TEST_F(ScriptBodyTest, DamagedBodiesReport104010AndStayEmpty)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    EmitCommand(&b, KXCMD_NOP, {ExprArg(0, MakeExprInt(1))});
    EmitCommand(&b, KXCMD_ASSIGN, {ExprArg(0, MakeExprInt(2)), ExprArg(1, MakeExprInt(3))});
    ASSERT_EQ(FinishScriptBody(&b), 0);
    GAME_DATA game = BaseGame();
    game.scripts = {ScriptFromBuilder("main.txt", b)};
    Install(game, false);
    const Bytes good = BuildKxBody(b.body);
    const int32_t len1 = 8, len2 = 36, len3 = static_cast<int32_t>(b.body.expr.size()), len4 = 8;
    ASSERT_EQ(good.size(), static_cast<size_t>(32 + len1 + len2 + len3 + len4));

    struct CASE {
        const char* pszWhat;
        KX_BODY_OPTIONS opt;
        KX_BODY body;
        size_t nCut;   // bytes cut from the end
    };
    auto Opt = [](int nField, int32_t v) {
        KX_BODY_OPTIONS o;
        if (nField == 0) o.rawCommandCount = v;
        else o.rawRegionLength[static_cast<size_t>(nField - 1)] = v;
        return o;
    };
    // Scrambled with another key, the first argument count decodes to 1 ^ 0x22 ^ 0x44 = 103.
    KX_BODY_OPTIONS wrongKey;
    wrongKey.rawKey = std::array<uint8_t, 4>{0x11, 0x22, 0x33, 0x44};
    KX_BODY tooManyArgs = b.body;
    tooManyArgs.commands[1].rawArgCount = 4;
    std::vector<CASE> cases = {
        {"negative count", Opt(0, -1), b.body, 0},
        {"count beyond region 1", Opt(0, 3), b.body, 0},
        {"huge count", Opt(0, 0x7FFFFFFF), b.body, 0},
        {"region 1 negative", Opt(1, -4), b.body, 0},
        {"region 1 short of the commands", Opt(1, 4), b.body, 0},
        {"region 2 short of the records", Opt(2, 24), b.body, 0},
        {"region 2 beyond the file", Opt(2, 0x7FFFFFF0), b.body, 0},
        {"region 3 beyond the file", Opt(3, len3 + 1), b.body, 0},
        {"region 3 negative", Opt(3, INT32_MIN), b.body, 0},
        {"region 4 short of the lines", Opt(4, 4), b.body, 0},
        {"region 4 beyond the file", Opt(4, 12), b.body, 0},
        {"argument counts beyond region 2", {}, tooManyArgs, 0},
        {"scrambled with another key", wrongKey, b.body, 0},
        {"truncated in the header", {}, b.body, good.size() - 20},
        {"truncated in the line table", {}, b.body, 1},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        Bytes data = BuildKxBody(c.body, c.opt);
        data.resize(data.size() - c.nCut);
        dir.Write("kxbin/kxt00000.kbn", data);
        ASSERT_EQ(AllocScriptBodyTable(), 0);
        errors.reports.clear();
        g_bEngineStop = 0;

        EXPECT_EQ(LoadScriptBody(0), 0);
        ASSERT_EQ(errors.reports.size(), 1u);
        EXPECT_EQ(errors.reports[0].nId, 104010);
        EXPECT_EQ(errors.reports[0].bFatal, 1);
        EXPECT_EQ(g_bEngineStop, 1);
        EXPECT_NE(errors.reports[0].strText.find("kxt00000.kbn"), std::string::npos);
        const SCRIPT_BODY* p = g_ppScriptBody[0];
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->nCommands, 0);
        EXPECT_EQ(p->ppHandlerTables, nullptr);
        EXPECT_EQ(LoadScriptBody(0), 1);
    }
}

TEST_F(ScriptBodyTest, ErrorHeaderNamesTheFileAndLineOfTheFailingCommand)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    SetSourceLine(&b, 40);
    EmitCommand(&b, KXCMD_NOP, {});
    EmitCommand(&b, KXCMD_NOP, {});
    EmitRawCommand(&b, KX_COMMAND_RECORD{17, 0, {}, {}});   // no such command: line 42
    EmitCommand(&b, KXCMD_NOP, {});                        // line 43, then off the end
    ASSERT_EQ(FinishScriptBody(&b), 0);
    GAME_DATA game = BaseGame();
    game.scripts = {ScriptFromBuilder("scene\\main.txt", b)};
    Install(game, false);
    ASSERT_EQ(LoadScriptBody(0), 1);
    static char szUnknown[] = "unknown command %s";
    g_anErrorId[0] = 900050;
    g_apszErrorText[0] = szUnknown;
    g_nErrorTexts = 1;

    TREE_NODE* pRoot = CreateRootNode();
    ASSERT_NE(pRoot, nullptr);
    TREE_NODE* pNode = CreateNode(pRoot, "T", 0, 1);
    ASSERT_NE(pNode, nullptr);
    SCRIPT_THREAD* pThread = AttachScriptThread(pNode);
    ASSERT_NE(pThread, nullptr);
    SetThreadBody(pThread, 0);

    struct CASE {
        int nStart;
        const char* pszLine;
        const char* pszName;
    } cases[] = {{0, "42", nullptr}, {4, "\n0", nullptr}};
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.nStart);
        errors.reports.clear();
        g_bEngineStop = 0;
        pThread->nPC = c.nStart;
        RunScriptThreads(pRoot);
        ASSERT_EQ(errors.reports.size(), 1u);
        const ERROR_RECORD& r = errors.reports[0];
        EXPECT_EQ(r.nId, 900050);
        EXPECT_EQ(r.bFatal, 1);
        EXPECT_EQ(g_bEngineStop, 1);
        EXPECT_NE(r.strText.find("scene\\main.txt"), std::string::npos) << r.strText;
        EXPECT_NE(r.strText.find(c.pszLine), std::string::npos) << r.strText;
        if (c.pszName) {
            EXPECT_NE(r.strText.find(std::string("unknown command ") + c.pszName), std::string::npos);
        }
    }
    // Outside a thread the header has no place to name.
    g_pCurThread = nullptr;
    const char* pszFile = nullptr;
    int nLine = -1;
    EXPECT_EQ(GetScriptLocation(&pszFile, &nLine), 0);
    pNode->pPayload = nullptr;
    FreeScriptThread(pThread);
    RemoveNode(pNode);
    FreeTreeNode(pNode);
    FreeTreeNode(pRoot);
}

}  // namespace
