// The compiled tables read at start-up: a whole game folder (loose or packed) loads in order and
// leaves the SYSTEM thread at its label; missing and damaged files end in their error, never a
// crash; the script list's own source order.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "root/startup.h"
#include "core/appended_data.h"
#include "core/engine_globals.h"
#include "core/engine_hooks.h"
#include "core/errors.h"
#include "core/kx_hash.h"
#include "core/kx_texts.h"
#include "core/object_tree.h"
#include "core/pack_archive.h"
#include "platform/plat_file.h"
#include "script/command_ids.h"
#include "script/dispatch.h"
#include "core/game_config.h"
#include "script/evaluator.h"
#include "script/script_body.h"
#include "script/script_tables.h"
#include "script/variables.h"
#include "tests/support/game_folder.h"
#include "tests/support/engine_test.h"
#include "tests/support/test_support.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/script_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Where the start label sits in script 0: command 2, inside one loop and one if-block.
constexpr int kStartCommand = 2;

// A game of two scripts: "main.txt" holds SYSTEM_START inside a loop and an if-block, "sub.txt" the
// label "other". Globals 1000 (int 7), 1001 (text: 1000 as text + "!"), 1003 (double, kept by
// resets); 1002 is local to script 1.
GAME_DATA MakeGame()
{
    GAME_DATA game = DefaultGameData();
    game.errors = {{123456, "custom [%s]"}, {KX_ERR_LABEL_NOT_FOUND, "no label [%s]"}};
    game.nVarTableExtra = 77;
    game.defs.push_back(MakeIntVarDef(1000, 7));
    KXV_DEF text = MakeTextVarDef(1001, "");
    text.expr.clear();
    ExprAsmVar(text.expr, 1000);
    ExprAsmOp(text.expr, 's');
    ExprAsmText(text.expr, "!");
    ExprAsmOp(text.expr, '+');
    game.defs.push_back(text);
    KXV_DEF local = MakeIntVarDef(1002, 5);
    local.bScope = VARSCOPE_SCRIPT;
    local.nScript = 1;
    game.defs.push_back(local);
    KXV_DEF kept = MakeFloatVarDef(1003, 2.5, {3});
    kept.bScope = VARSCOPE_KEPT;
    game.defs.push_back(kept);

    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    BeginLoop(&b, MakeExprInt(3));
    BeginIf(&b, MakeExprInt(1));
    AddLabel(&b, KX_START_LABEL);
    EmitCommand(&b, KXCMD_NOP, {});
    EndIf(&b);
    EndLoop(&b);
    EXPECT_EQ(FinishScriptBody(&b), 0) << b.strError;
    GAME_SCRIPT main = ScriptFromBuilder("main.txt", b);
    main.nValue = 11;
    game.scripts.push_back(main);

    SCRIPT_BUILDER s;
    InitScriptBuilder(&s, 1);
    AddLabel(&s, "other");
    EmitCommand(&s, KXCMD_NOP, {});
    EXPECT_EQ(FinishScriptBody(&s), 0) << s.strError;
    GAME_SCRIPT sub = ScriptFromBuilder("sub.txt", s);
    sub.nValue = 22;
    game.scripts.push_back(sub);
    return game;
}

// The labels of MakeGame as the game files carry them.
std::vector<KXL_LABEL> GameLabels()
{
    KXL_LABEL start;
    start.strName = KX_START_LABEL;
    start.nCommand = kStartCommand;
    start.nScript = 0;
    start.bIfDepth = 1;
    start.bLoopDepth = 1;
    KXL_LABEL other;
    other.strName = "other";
    other.nScript = 1;
    return {start, other};
}

std::vector<KXT_LIST_ENTRY> GameList()
{
    return {{0, "main.txt", 11, {}}, {1, "sub.txt", 22, {}}};
}

void Replace(std::vector<GAME_FILE>& files, const std::string& strName, Bytes data)
{
    for (GAME_FILE& f : files)
        if (f.strName == strName) f.data = std::move(data);
}

void Remove(std::vector<GAME_FILE>& files, const std::string& strName)
{
    files.erase(std::remove_if(files.begin(), files.end(), [&](const GAME_FILE& f) { return f.strName == strName; }),
                files.end());
}

bool Contains(const std::string& strText, const std::string& strPart)
{
    return strText.find(strPart) != std::string::npos;
}

// A game folder that is the current and the program folder, a thread tree with "SYSTEM", and
// every table released afterwards.
class ScriptTablesTest : public EngineTest {
protected:
    TEMP_DIR dir;
    std::string strOldCwd;
    TREE_NODE* pSystem = nullptr;

    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(EnterGameFolder(dir, &strOldCwd));
        FillCmdHandlers(0);
        pSystem = CreateSystemThread();
        ASSERT_NE(pSystem, nullptr);
    }
    void TearDown() override
    {
        FreeScriptGame();
        FillCmdHandlers(KX_COMMAND_IDS);   // a loaded command table leaves its own count behind
        pSystem = nullptr;
        g_bAppendedData = 0;
        g_szExeFile[0] = '\0';
        LeaveGameFolder(strOldCwd);
    }
    SCRIPT_THREAD* System() const { return static_cast<SCRIPT_THREAD*>(pSystem->pPayload); }
    void WriteLoose(const std::vector<GAME_FILE>& files) { ASSERT_EQ(WriteGameFolder(dir.strNative, files), 0); }
    void WritePacked(const std::vector<GAME_FILE>& files)
    {
        ASSERT_EQ(WriteGamePack(dir.strNative + "/data.kpf", files), 0);
        ASSERT_EQ(BuildPackIndex(), 0);
    }
};

}  // namespace

TEST_F(ScriptTablesTest, GameFolderLoadsInOrderAndPlacesSystemAtItsLabel)
{
    for (bool bPacked : {false, true}) {
        SCOPED_TRACE(bPacked ? "packed" : "loose");
        ERROR_RECORDER errors;
        const std::vector<GAME_FILE> files = BuildGameFiles(MakeGame());
        if (bPacked) {
            WritePacked(files);
            EXPECT_EQ(g_bPackedData, 1);
        } else {
            WriteLoose(files);
        }

        ASSERT_EQ(StartScriptSystem(), 0);
        EXPECT_TRUE(errors.reports.empty());
        EXPECT_EQ(g_bEngineStop.load(), 0);

        // Commands: names, kinds and the handler table bound after them.
        const KXC_TABLE canonical = CanonicalCommandTable();
        ASSERT_EQ(g_nCommands, static_cast<int32_t>(canonical.commands.size()));
        for (int32_t c = 0; c < g_nCommands; ++c) {
            const KXC_COMMAND& cmd = canonical.commands[static_cast<size_t>(c)];
            ASSERT_STREQ(g_apszCmdName[c], cmd.strName.c_str());
            ASSERT_EQ(g_pbArgCount[c], cmd.args.size());
            for (size_t a = 0; a < cmd.args.size(); ++a) {
                EXPECT_STREQ(g_appszArgName[c][a], cmd.args[a].strName.c_str());
                EXPECT_EQ(g_apbArgValueKind[c][a], cmd.args[a].bValueKind);
                EXPECT_EQ(g_apbArgCheckKind[c][a], cmd.args[a].bCheckKind);
            }
        }
        EXPECT_EQ(g_apfnCmdHandlers[KXCMD_NOP], &CmdNop);
        for (int k = 0; k < KX_KEY_MAP_SIZE; ++k) ASSERT_EQ(g_abKeyMap[k], k);
        for (char* psz : g_apszErrnoText) ASSERT_NE(psz, nullptr);

        // Variables: the table, the globals' initial values, the local one untouched.
        EXPECT_EQ(g_nVarDesc, 1004);
        EXPECT_EQ(g_nVarTableExtra, 77);
        EXPECT_EQ(GetVarInt(1000, 0), 7);
        ASSERT_NE(GetVarString(1001, 0), nullptr);
        EXPECT_STREQ(GetVarString(1001, 0), "7!");
        EXPECT_EQ(GetVarDesc(1002)->bType, KX_VAR_TYPE_NONE);
        EXPECT_EQ(GetVarDesc(1003)->llCount, 3);
        EXPECT_EQ(GetVarFloat(1003, 2), 2.5);

        // Scripts and labels.
        ASSERT_EQ(g_nScripts, 2);
        EXPECT_STREQ(g_apszScriptName[0], "main.txt");
        EXPECT_STREQ(g_apszScriptName[1], "sub.txt");
        EXPECT_EQ(g_anScriptValue[0], 11);
        EXPECT_EQ(g_anScriptValue[1], 22);
        ASSERT_EQ(g_nLabels, 2);
        EXPECT_EQ(g_anLabelBucket[0], 0);
        const int32_t nOther = FindLabel("other", 5);
        ASSERT_GE(nOther, 0);
        EXPECT_EQ(g_apLabel[nOther]->wScript, 1);

        // The root thread: in script 0 at the label, with its depths and the body's tables.
        SCRIPT_THREAD* p = System();
        EXPECT_EQ(p->wScript, 0);
        EXPECT_EQ(p->nPC, kStartCommand);
        EXPECT_EQ(p->nIfDepth, 1);
        EXPECT_EQ(p->nLoopDepth, 1);
        ASSERT_NE(g_ppScriptBody[0], nullptr);
        EXPECT_EQ(p->nCommands, g_ppScriptBody[0]->nCommands);
        EXPECT_GT(p->nCommands, kStartCommand);
        EXPECT_EQ(p->ppHandlerTables, g_ppScriptBody[0]->ppHandlerTables);
        EXPECT_EQ(g_ppScriptBody[1], nullptr);   // loaded on first use
        EXPECT_EQ(g_EngineHooks.pfnGetScriptLocation, &GetScriptLocation);

        FreeScriptTables();
        FreeVarTable();
        FreePackIndex();
        g_bPackedData = 0;
        std::filesystem::remove_all(dir.strNative + "/kxbin");
        std::filesystem::remove(dir.strNative + "/data.kpf");
    }
}

TEST_F(ScriptTablesTest, InstallerSetsTheStartHook)
{
    g_EngineHooks.pfnStartScriptSystem = nullptr;
    InstallEngineParts();
    EXPECT_EQ(g_EngineHooks.pfnStartScriptSystem, &StartScriptSystem);
}

TEST_F(ScriptTablesTest, ErrorTextsReachTheReporters)
{
    ERROR_RECORDER errors;
    // The first of two entries with one id wins; entries beyond 256 have no place and are skipped.
    std::vector<KXE_ENTRY> entries = {{123456, "custom [%s]"}, {123456, "second"}};
    for (int i = 0; i < 300; ++i) entries.push_back({200000 + i, "filler"});
    entries.push_back({654321, "beyond the table"});
    dir.Write("kxbin/kxe.kbn", BuildKxe(entries));
    ASSERT_EQ(LoadErrorTexts(), 0);
    EXPECT_EQ(g_nErrorTexts, KX_ERROR_TABLE_MAX);

    ReportErrorF(123456, 0, "x");
    ASSERT_EQ(errors.reports.size(), 1u);
    EXPECT_EQ(errors.reports[0].nId, 123456);
    EXPECT_TRUE(Contains(errors.reports[0].strText, "custom [x]")) << errors.reports[0].strText;
    EXPECT_STRNE(LookupErrorText(654321), "beyond the table");

    // No entries: every text is empty and the engine's own texts answer.
    dir.Write("kxbin/kxe.kbn", BuildKxe({}));
    ASSERT_EQ(LoadErrorTexts(), 0);
    EXPECT_EQ(g_nErrorTexts, 0);
    EXPECT_STREQ(g_apszErrorText[0], "");
    EXPECT_STREQ(LookupErrorText(123456), GetEngineText(TXT_ERR_UNLISTED));
}

TEST_F(ScriptTablesTest, MissingFileOfEachKindReports104060)
{
    const std::vector<GAME_FILE> all = BuildGameFiles(MakeGame());
    const char* const names[] = {KX_FILE_ERROR_TEXTS, KX_FILE_COMMANDS, KX_FILE_VAR_TABLE, KX_FILE_SCRIPT_LIST,
                                 KX_FILE_VAR_DEFS,    KX_FILE_LABELS,   "kxbin\\kxt00000.kbn"};
    for (const char* pszName : names) {
        SCOPED_TRACE(pszName);
        std::filesystem::remove_all(dir.strNative + "/kxbin");
        std::vector<GAME_FILE> files = all;
        Remove(files, pszName);
        WriteLoose(files);
        ERROR_RECORDER errors;
        EXPECT_EQ(StartScriptSystem(), 1);
        ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, KX_ERR_FILE_MISSING));
        EXPECT_TRUE(Contains(errors.reports[0].strText, pszName)) << errors.reports[0].strText;
        FreeScriptTables();
        FreeVarTable();
    }
}

TEST_F(ScriptTablesTest, MissingStartLabelReports108180)
{
    GAME_DATA game = MakeGame();
    game.scripts[0].labels.clear();
    WriteLoose(BuildGameFiles(game));
    ERROR_RECORDER errors;
    EXPECT_EQ(StartScriptSystem(), 1);
    ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, KX_ERR_LABEL_NOT_FOUND));
    EXPECT_TRUE(Contains(errors.reports[0].strText, "no label [" KX_START_LABEL "]")) << errors.reports[0].strText;
    EXPECT_EQ(System()->nCommands, 0);
}

TEST_F(ScriptTablesTest, MissingSystemNodeAnswersMinusOne)
{
    WriteLoose(BuildGameFiles(MakeGame()));
    FreeScriptThread(System());
    RemoveNode(pSystem);
    FreeTreeNode(pSystem);
    pSystem = nullptr;
    ERROR_RECORDER errors;
    EXPECT_EQ(StartScriptSystem(), -1);
}

// Each file of a sound game replaced by a damaged (or merely unusual) one: the start ends in the
// expected first report, fatal, without a crash; 0 marks files that load.
TEST_F(ScriptTablesTest, DamagedFilesEndInTheirErrorWithoutACrash)
{
    const GAME_DATA game = MakeGame();
    const Bytes kxl = BuildKxl(GameLabels());
    std::array<int32_t, 256> buckets{};
    for (int b = 0; b < 256; ++b) std::memcpy(&buckets[b], kxl.data() + 12 + 4 * b, 4);
    const int nStartTop = static_cast<int>(HashName(KX_START_LABEL) >> 24);

    auto truncated = [](Bytes v, size_t nDrop) {
        v.resize(v.size() > nDrop ? v.size() - nDrop : 0);
        return v;
    };
    auto list = [](std::vector<KXT_LIST_ENTRY> e, KXT_LIST_OPTIONS o = {}) { return BuildKxtList(e, o); };
    auto labels = [](std::vector<KXL_LABEL> l, KXL_OPTIONS o = {}) { return BuildKxl(l, o); };
    auto defs = [&](std::vector<KXV_DEF> extra, KXV_OPTIONS o = {}) {
        std::vector<KXV_DEF> d = game.defs;
        d.insert(d.end(), extra.begin(), extra.end());
        return BuildKxv(d, o);
    };
    auto kxc = [&](KXC_TABLE t, KXC_OPTIONS o = {}) { return BuildKxc(t, o); };

    struct CASE {
        const char* pszWhat;
        const char* pszFile;
        Bytes data;
        int nError;   // first report; 0: the start succeeds
    };
    std::vector<CASE> cases;
    // Error texts.
    cases.push_back({"kxe count beyond the entries", KX_FILE_ERROR_TEXTS, BuildKxe(game.errors, {0, 5}), KX_ERR_FILE_READ});
    cases.push_back({"kxe negative count", KX_FILE_ERROR_TEXTS, BuildKxe(game.errors, {0, -1}), KX_ERR_FILE_READ});
    cases.push_back({"kxe text without terminator", KX_FILE_ERROR_TEXTS, truncated(BuildKxe(game.errors), 1), KX_ERR_FILE_READ});
    cases.push_back({"kxe header cut", KX_FILE_ERROR_TEXTS, Bytes(10, 0), KX_ERR_FILE_READ});
    cases.push_back({"kxe unread bytes filled", KX_FILE_ERROR_TEXTS, BuildKxe(game.errors, {0xA5, {}}), 0});
    // Commands.
    {
        KXC_TABLE t = game.commands;
        cases.push_back({"kxc count beyond the commands", KX_FILE_COMMANDS, kxc(t, {0, 200}), KX_ERR_FILE_READ});
        cases.push_back({"kxc huge count", KX_FILE_COMMANDS, kxc(t, {0, 0x7FFFFFFF}), KX_ERR_FILE_READ});
        cases.push_back({"kxc negative count", KX_FILE_COMMANDS, kxc(t, {0, -3}), KX_ERR_FILE_READ});
        cases.push_back({"kxc key map cut", KX_FILE_COMMANDS, truncated(kxc(t), 1), KX_ERR_FILE_READ});
        cases.push_back({"kxc errno texts cut", KX_FILE_COMMANDS, truncated(kxc(t), 256 + 2), KX_ERR_FILE_READ});
        KXC_TABLE many = t;
        many.commands.back().rawArgCount = 255;
        cases.push_back({"kxc argument count beyond the file", KX_FILE_COMMANDS, kxc(many), KX_ERR_FILE_READ});
        cases.push_back({"kxc unread bytes filled", KX_FILE_COMMANDS, kxc(t, {0xA5, {}}), 0});
        KXC_TABLE odd = t;
        odd.commands[0].args.push_back({"odd", 7, 3});
        cases.push_back({"kxc unknown value kind", KX_FILE_COMMANDS, kxc(odd), 0});
    }
    // Variable table.
    cases.push_back({"kxt cut", KX_FILE_VAR_TABLE, Bytes(12, 0), KX_ERR_FILE_READ});
    cases.push_back({"kxt version 554", KX_FILE_VAR_TABLE, BuildKxt(1003, 0, {0, 554}), KX_ERR_VAR_TABLE_VERSION});
    cases.push_back({"kxt negative highest", KX_FILE_VAR_TABLE, BuildKxt(-5, 0), KX_ERR_FILE_READ});
    cases.push_back({"kxt highest beyond 16 bits", KX_FILE_VAR_TABLE, BuildKxt(0x7FFFFFFF, 0), KX_ERR_FILE_READ});
    cases.push_back({"kxt table smaller than the definitions", KX_FILE_VAR_TABLE, BuildKxt(1001, 0), KX_ERR_VAR_DEF_NUMBER});
    cases.push_back({"kxt unread bytes filled", KX_FILE_VAR_TABLE, BuildKxt(1003, 77, {0xA5, KXT_VERSION}), 0});
    // Script list.
    {
        auto l = GameList();
        cases.push_back({"list count beyond the records", KX_FILE_SCRIPT_LIST, list(l, {0, 3}), KX_ERR_FILE_READ});
        cases.push_back({"list huge count", KX_FILE_SCRIPT_LIST, list(l, {0, 0x40000000}), KX_ERR_FILE_READ});
        auto longName = l;
        longName[1].rawNameLength = 1000;
        cases.push_back({"list name beyond the file", KX_FILE_SCRIPT_LIST, list(longName), KX_ERR_FILE_READ});
        auto negName = l;
        negName[0].rawNameLength = -1;
        cases.push_back({"list negative name length", KX_FILE_SCRIPT_LIST, list(negName), KX_ERR_FILE_READ});
        cases.push_back({"list record cut", KX_FILE_SCRIPT_LIST, truncated(list(l), 2), KX_ERR_FILE_READ});
        auto equal = l;
        equal[1].nIndex = 2;
        cases.push_back({"list index equal to the count", KX_FILE_SCRIPT_LIST, list(equal), KX_ERR_SCRIPT_LIST_INDEX});
        auto negative = l;
        negative[0].nIndex = -1;
        cases.push_back({"list negative index", KX_FILE_SCRIPT_LIST, list(negative), KX_ERR_SCRIPT_LIST_INDEX});
        auto twice = l;
        twice[1].nIndex = 0;
        cases.push_back({"list index twice", KX_FILE_SCRIPT_LIST, list(twice), KX_ERR_SCRIPT_LIST_INDEX});
        auto swapped = l;
        std::swap(swapped[0].nIndex, swapped[1].nIndex);
        std::swap(swapped[0].strName, swapped[1].strName);
        cases.push_back({"list records out of index order", KX_FILE_SCRIPT_LIST, list(swapped), 0});
        cases.push_back({"list unread bytes filled", KX_FILE_SCRIPT_LIST, list(l, {0xA5, {}}), 0});
    }
    // Variable definitions.
    {
        KXV_DEF nineDims = MakeIntVarDef(1000, 1);
        nineDims.rawDimCount = 9;
        cases.push_back({"kxv nine dimensions", KX_FILE_VAR_DEFS, defs({nineDims}), KX_ERR_FILE_READ});
        KXV_DEF longText = MakeTextVarDef(1001, "a");
        longText.rawExprLength = 5000;
        cases.push_back({"kxv text beyond the file", KX_FILE_VAR_DEFS, defs({longText}), KX_ERR_FILE_READ});
        cases.push_back({"kxv count beyond the records", KX_FILE_VAR_DEFS, defs({}, {0, 5000}), KX_ERR_FILE_READ});
        cases.push_back({"kxv header cut", KX_FILE_VAR_DEFS, Bytes(9, 0), KX_ERR_FILE_READ});
        cases.push_back({"kxv number outside the table", KX_FILE_VAR_DEFS, defs({MakeIntVarDef(4000, 1)}), KX_ERR_VAR_DEF_NUMBER});
        cases.push_back({"kxv unread bytes filled", KX_FILE_VAR_DEFS, defs({}, {0xA5, {}}), 0});
    }
    // Labels.
    {
        auto l = GameLabels();
        cases.push_back({"kxl count beyond the records", KX_FILE_LABELS, labels(l, {0, 50, false, {}}), KX_ERR_FILE_READ});
        cases.push_back({"kxl negative count", KX_FILE_LABELS, labels(l, {0, -2, false, {}}), KX_ERR_FILE_READ});
        cases.push_back({"kxl record cut", KX_FILE_LABELS, truncated(labels(l), 1), KX_ERR_FILE_READ});
        cases.push_back({"kxl buckets cut", KX_FILE_LABELS, Bytes(500, 0), KX_ERR_FILE_READ});
        auto longName = l;
        longName[1].rawNameLength = 200;
        cases.push_back({"kxl name beyond the file", KX_FILE_LABELS, labels(longName), KX_ERR_FILE_READ});
        // Descending hashes written as given.
        auto unsorted = l;
        std::sort(unsorted.begin(), unsorted.end(),
                  [](const KXL_LABEL& a, const KXL_LABEL& b) { return HashName(a.strName.c_str()) > HashName(b.strName.c_str()); });
        // The lookup walks from the bucket start to the end of the table: records in any order load.
        // A label before its bucket's start loads too and is only never found (a jump to it fails,
        // see FlowErrorTest): the game starts unless that label is the start label.
        std::array<int32_t, 256> zeros{};
        cases.push_back({"kxl unsorted, every start 0", KX_FILE_LABELS, labels(unsorted, {0, {}, true, zeros}), 0});
        auto indexIn = [](const std::vector<KXL_LABEL>& v, const char* pszName) {
            return static_cast<int32_t>(std::find_if(v.begin(), v.end(), [&](const KXL_LABEL& x) { return x.strName == pszName; }) -
                                        v.begin());
        };
        auto behind = zeros;
        behind[HashName("other") >> 24] = indexIn(unsorted, "other") + 1;
        cases.push_back({"kxl unsorted, a label before its start", KX_FILE_LABELS, labels(unsorted, {0, {}, true, behind}), 0});
        auto startBehind = zeros;
        startBehind[nStartTop] = indexIn(unsorted, KX_START_LABEL) + 1;
        cases.push_back({"kxl unsorted, the start label before its start", KX_FILE_LABELS,
                         labels(unsorted, {0, {}, true, startBehind}), KX_ERR_LABEL_NOT_FOUND});
        // Buckets no label uses may hold anything: -1 (as a compiler may write for empty ones) or a
        // start beyond the table.
        std::array<bool, 256> used{};
        for (const KXL_LABEL& label : l) used[HashName(label.strName.c_str()) >> 24] = true;
        auto emptyMinusOne = buckets;
        for (int b = 1; b < 256; ++b)
            if (!used[b]) emptyMinusOne[b] = -1;
        cases.push_back({"kxl -1 for every empty bucket", KX_FILE_LABELS, labels(l, {0, {}, false, emptyMinusOne}), 0});
        int nUnused = 1;
        while (used[nUnused]) ++nUnused;
        auto beyond = buckets;
        beyond[nUnused] = 3;
        cases.push_back({"kxl empty bucket beyond the table", KX_FILE_LABELS, labels(l, {0, {}, false, beyond}), 0});
        auto negative = buckets;
        negative[nUnused] = INT32_MIN;
        cases.push_back({"kxl empty bucket negative", KX_FILE_LABELS, labels(l, {0, {}, false, negative}), 0});
        // A used bucket whose start hides its labels loads: only those labels are not found.
        const int nOtherTop = static_cast<int>(HashName("other") >> 24);
        ASSERT_NE(nOtherTop, 0);
        auto usedNegative = buckets;
        usedNegative[nOtherTop] = -1;
        cases.push_back({"kxl used bucket negative", KX_FILE_LABELS, labels(l, {0, {}, false, usedNegative}), 0});
        auto usedBeyond = buckets;
        usedBeyond[nOtherTop] = 2;
        cases.push_back({"kxl used bucket beyond the table", KX_FILE_LABELS, labels(l, {0, {}, false, usedBeyond}), 0});
        auto past = buckets;
        past[nStartTop] = 2;
        cases.push_back({"kxl bucket past the start label", KX_FILE_LABELS, labels(l, {0, {}, false, past}),
                         KX_ERR_LABEL_NOT_FOUND});
        auto first = buckets;
        first[0] = 12345;
        cases.push_back({"kxl bucket 0 ignored", KX_FILE_LABELS, labels(l, {0, {}, false, first}), 0});
        auto unlisted = l;
        unlisted[1].nScript = 2;
        cases.push_back({"kxl label of an unlisted script", KX_FILE_LABELS, labels(unlisted), KX_ERR_FILE_READ});
        auto deepIf = l;
        deepIf[1].bIfDepth = 128;
        cases.push_back({"kxl if depth beyond the stack", KX_FILE_LABELS, labels(deepIf), KX_ERR_FILE_READ});
        auto deepLoop = l;
        deepLoop[1].bLoopDepth = 64;
        cases.push_back({"kxl loop depth beyond the stack", KX_FILE_LABELS, labels(deepLoop), KX_ERR_FILE_READ});
        cases.push_back({"kxl unread bytes filled", KX_FILE_LABELS, labels(l, {0xA5, {}, false, {}}), 0});
    }
    // The start script's body.
    {
        KX_BODY_OPTIONS o;
        o.rawRegionLength[1] = 100000;
        cases.push_back({"start body regions beyond the file", "kxbin\\kxt00000.kbn", BuildKxBody(game.scripts[0].body, o),
                         KX_ERR_FILE_READ});
    }

    const std::vector<GAME_FILE> sound = BuildGameFiles(game);
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        std::filesystem::remove_all(dir.strNative + "/kxbin");
        std::vector<GAME_FILE> files = sound;
        Replace(files, c.pszFile, c.data);
        WriteLoose(files);
        ERROR_RECORDER errors;
        const int nResult = StartScriptSystem();
        if (c.nError == 0) {
            EXPECT_EQ(nResult, 0);
            EXPECT_TRUE(errors.reports.empty()) << errors.reports[0].nId;
            EXPECT_EQ(System()->nPC, kStartCommand);
        } else {
            EXPECT_EQ(nResult, 1);
            ASSERT_FALSE(errors.reports.empty());
            EXPECT_EQ(errors.reports[0].nId, c.nError);
            EXPECT_EQ(errors.reports[0].bFatal, 1);
            EXPECT_EQ(g_bEngineStop.load(), 1);
            if (c.nError == KX_ERR_FILE_READ) {
                EXPECT_TRUE(Contains(errors.reports[0].strText, c.pszFile)) << errors.reports[0].strText;
            }
        }
        FreeScriptTables();
        FreeVarTable();
        SetThreadBody(System(), 0);
        System()->nPC = 0;
    }
}

// The script list alone is searched pack first while the current layout's source-order byte is 0
// or the game is appended to the program; every other table keeps loose files first.
TEST_F(ScriptTablesTest, ScriptListSourceOrder)
{
    WriteLoose({{KX_FILE_SCRIPT_LIST, BuildKxtList({{0, "loose.txt", 0, {}}})}, {KX_FILE_VAR_TABLE, BuildKxt(1000, 1)}});
    ASSERT_EQ(WriteGamePack(dir.strNative + "/data.kpf", {{KX_FILE_SCRIPT_LIST, BuildKxtList({{0, "packed.txt", 0, {}}})},
                                                         {KX_FILE_VAR_TABLE, BuildKxt(1000, 2)}}),
              0);
    ASSERT_EQ(BuildPackIndex(), 0);

    struct CASE {
        uint8_t bPackedLayout, bDev, bRelease, bAppended;
        const char* pszExpected;
    } cases[] = {
        {0, 0, 1, 0, "packed.txt"}, {0, 1, 0, 0, "loose.txt"},  {1, 1, 0, 0, "packed.txt"},
        {1, 0, 1, 0, "loose.txt"},  {0, 1, 1, 1, "packed.txt"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(testing::Message() << "packed layout " << int(c.bPackedLayout) << " dev " << int(c.bDev)
                                        << " release " << int(c.bRelease) << " appended " << int(c.bAppended));
        ERROR_RECORDER errors;
        g_bPackedData = c.bPackedLayout;
        g_bDevSourceOrder = c.bDev;
        g_bReleaseSourceOrder = c.bRelease;
        g_bAppendedData = c.bAppended;
        // Appended: every pack opens the program file, here the pack itself at offset 0.
        std::snprintf(g_szExeFile, sizeof g_szExeFile, "%s\\data.kpf", dir.strEngine.c_str());
        ASSERT_EQ(LoadScriptList(), 0);
        ASSERT_EQ(g_nScripts, 1);
        EXPECT_STREQ(g_apszScriptName[0], c.pszExpected);
        ASSERT_EQ(LoadVarTable(), 0);
        EXPECT_EQ(g_nVarTableExtra, 1);
        EXPECT_TRUE(errors.reports.empty());
        g_bAppendedData = 0;
    }
}
