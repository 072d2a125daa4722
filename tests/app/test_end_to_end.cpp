// Whole games through the program's entry: game folders and packs written by the script builder,
// started with the subsystems installed as the program installs them, on the Fake window backend
// and the fake clock. The root thread starts at "SYSTEM_START", commands dispatch in order with
// their checked arguments, script errors carry their file and line, damaged compiled files end in
// their errors, and threaded frames quit without hanging.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/engine_globals.h"
#include "root/startup.h"
#include "core/engine_hooks.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/object_tree.h"
#include "core/pack_archive.h"
#include "platform/plat_file.h"
#include "platform/plat_instance.h"
#include "platform/plat_sysinfo.h"
#include "platform/plat_time.h"
#include "platform/plat_window.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/dispatch.h"
#include "script/engine_config.h"
#include "script/script_body.h"
#include "script/script_tables.h"
#include "script/variables.h"
#include "tests/support/test_support.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/kx_writers.h"
#include "tools/lib/script_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The commands the tests give handlers of their own: one records its decoded arguments, the other
// ends the engine once its thread has come back to it in enough frames.
constexpr int kCmdRecord = CMDID_ARGS_ONLY15;
constexpr int kCmdQuit = CMDID_ARGS_ONLY66;
enum { ARG_VALUE = 0, ARG_NAME = 1, ARG_EXTRA = 2 };
constexpr uint8_t kCheck0To256 = 12;   // range check kind: 0..256
constexpr uint8_t kCheckMin1 = 2;      // range check kind: at least 1
const char kRangeText[] = "range %s %s %I64d (%d..%d)";

struct RECORDED {
    int64_t llValue;
    std::string strName;
    int64_t llExtra;   // -1 when the argument is absent
    int64_t llFrame;
    std::thread::id idThread;
};
std::vector<RECORDED> g_recorded;
std::atomic<int> g_nQuitCalls{0};
int64_t g_llQuitFrame = 0;

int CmdRecordArgs(void)
{
    if (FetchCommandArgs(kCmdRecord) != 0) return -1;
    RECORDED r;
    r.llValue = g_anArgValue[ArgSlot(ARG_VALUE)];
    r.strName = HasArg(ARG_NAME) ? g_apszArgText[ArgSlot(ARG_NAME)] : "";
    r.llExtra = HasArg(ARG_EXTRA) ? g_anArgValue[ArgSlot(ARG_EXTRA)] : -1;
    r.llFrame = g_llFrameCount;
    r.idThread = std::this_thread::get_id();
    g_recorded.push_back(r);
    return 0;
}

// Runs again in each frame (the turn ends here) until it has run as often as its argument asks,
// then requests the quit.
int CmdQuitAfterFrames(void)
{
    if (FetchCommandArgs(kCmdQuit) != 0) return -1;
    if (++g_nQuitCalls < g_anArgValue[ArgSlot(0)]) {
        g_pCurThread->nPC = g_nCurCommand;
        return 1;
    }
    g_llQuitFrame = g_llFrameCount;
    RequestQuit();
    return 1;
}

// The script system as start-up runs it, with the test's handlers bound: bodies take their
// handlers from the table when they load, so the start body is loaded again once they are in.
int StartScriptSystemWithTestHandlers(void)
{
    const int r = StartScriptSystem();
    if (r != 0) return r;
    g_apfnCmdHandlers[kCmdRecord] = CmdRecordArgs;
    g_apfnCmdHandlers[kCmdQuit] = CmdQuitAfterFrames;
    TREE_NODE* pNode = FindNodeByPath(g_pThreadRoot, "SYSTEM", KX_FIND_LEAF);
    SCRIPT_THREAD* pSystem = pNode ? static_cast<SCRIPT_THREAD*>(pNode->pPayload) : nullptr;
    if (!pSystem) return -1;
    const uint16_t wScript = pSystem->wScript;
    FreeScriptBodies();
    if (AllocScriptBodyTable() != 0 || LoadScriptBody(wScript) != 1) return 1;
    SetThreadBody(pSystem, wScript);
    return 0;
}

BUILDER_ARG IntArg(uint8_t bId, int64_t v) { return ExprArg(bId, MakeExprInt(v)); }
BUILDER_ARG TextArg(uint8_t bId, const std::string& s) { return ExprArg(bId, MakeExprText(s), EVALTYPE_TEXT); }

// The game of these tests: the record command's and the quit command's argument rows, the range
// message, and a start script "scene\start.txt" whose first command lies before the start label.
GAME_DATA BaseGame()
{
    GAME_DATA game = DefaultGameData();
    game.commands.commands[kCmdRecord].args = {{"value", ARGKIND_INT, kCheck0To256},
                                               {"name", ARGKIND_TEXT, 0},
                                               {"extra", ARGKIND_INT, 0}};
    game.commands.commands[kCmdQuit].args = {{"frames", ARGKIND_INT, kCheckMin1}};
    game.errors = {{KX_ERR_ARG_RANGE, kRangeText}};
    game.config.strTitle = Cp932("終わりの駅");
    return game;
}

// The start script: a record that must never run, "SYSTEM_START" (line 10 on), two records, the
// record nValue (line 13), and the quit after nFrames frames.
GAME_SCRIPT StartScript(int64_t llThirdValue, int64_t llFrames)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    SetSourceLine(&b, 5);
    EmitCommand(&b, kCmdRecord, {IntArg(ARG_VALUE, 99), TextArg(ARG_NAME, "before the label")});
    SetSourceLine(&b, 10);
    AddLabel(&b, KX_START_LABEL);
    EmitCommand(&b, kCmdRecord, {IntArg(ARG_VALUE, 1), TextArg(ARG_NAME, "one")});
    EXPR_BYTES sum;
    ExprAsmInt(sum, 2);
    ExprAsmInt(sum, 3);
    ExprAsmOp(sum, '+');
    EmitCommand(&b, CMDID_NOP, {});
    EmitCommand(&b, kCmdRecord, {TextArg(ARG_NAME, Cp932("二")), ExprArg(ARG_VALUE, sum), IntArg(ARG_EXTRA, -7)});
    EmitCommand(&b, kCmdRecord, {IntArg(ARG_VALUE, llThirdValue)});
    EmitCommand(&b, kCmdQuit, {IntArg(0, llFrames)});
    EXPECT_EQ(FinishScriptBody(&b), 0) << b.strError;
    return ScriptFromBuilder("scene\\start.txt", b);
}

const GAME_FILE* FindFile(const std::vector<GAME_FILE>& files, const std::string& strName)
{
    for (const GAME_FILE& f : files)
        if (f.strName == strName) return &f;
    return nullptr;
}
void ReplaceFile(std::vector<GAME_FILE>& files, const std::string& strName, Bytes data)
{
    for (GAME_FILE& f : files)
        if (f.strName == strName) f.data = std::move(data);
}

// argv for the entry.
struct ARGS {
    std::vector<std::string> strings;
    std::vector<char*> ptrs;
    explicit ARGS(std::vector<std::string> a) : strings(std::move(a))
    {
        for (std::string& s : strings) ptrs.push_back(s.data());
        ptrs.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(strings.size()); }
    char** argv() { return ptrs.data(); }
};

// Each run: its own lock folder, a 1920 x 1080 desktop, the Fake backend, the fake clock, the
// program's subsystems with the test's handlers, and a fresh error state. Everything a run leaves
// in the engine's globals is put back afterwards.
class EndToEndTest : public ::testing::Test {
protected:
    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;
    TEMP_DIR lockDir;
    std::string strOldCwd;
    uint8_t bOldThreaded = 0, bOldDebug = 0, bOldDev = 0, bOldRelease = 0;
    int nOldSound = 0;
    int32_t nOldWidth = 0, nOldHeight = 0;

    void SetUp() override
    {
        strOldCwd = PlatGetCurrentDir();
        bOldThreaded = g_bThreadedFrames;
        bOldDebug = g_bDebug;
        bOldDev = g_bDevSourceOrder;
        bOldRelease = g_bReleaseSourceOrder;
        nOldSound = g_nSoundMode;
        nOldWidth = g_nScreenWidth;
        nOldHeight = g_nScreenHeight;
        PlatSetInstanceDirForTest(lockDir.strNative.c_str());
        PLAT_DESKTOP_INFO desk{1920, 1080, 32, 60};
        PlatSetFakeDesktopInfo(&desk);
        PlatUseFakeClock(1);
        PlatSetFakeTime(100000);
        g_nWindowBackend = PLAT_BACKEND_FAKE;
    }
    void TearDown() override
    {
        CleanUpRun();
        InstallEngineParts();
        FillCmdHandlers(KX_COMMAND_IDS);
        PlatUseFakeClock(0);
        PlatSetFakeDesktopInfo(nullptr);
        PlatSetInstanceDirForTest(nullptr);
        PlatSetCurrentDir(strOldCwd.c_str());
        g_bThreadedFrames = bOldThreaded;
        g_bDebug = bOldDebug;
        g_bDevSourceOrder = bOldDev;
        g_bReleaseSourceOrder = bOldRelease;
        g_nSoundMode = nOldSound;
        g_nScreenWidth = nOldWidth;
        g_nScreenHeight = nOldHeight;
    }
    // What a run leaves behind that the next run in this process must not see.
    void CleanUpRun()
    {
        FreeScriptBodies();
        FreeScriptTables();
        FreeVarTable();
        FreeCommandArgTexts();
        FreePackIndex();
        g_nScripts = 0;
        g_bPackedData = 0;
        g_bEngineStop = 0;
        g_hMainWnd = 0;
        g_pCurThread = nullptr;
        g_pCurThreadNode = nullptr;
        InstallEngineParts();
    }

    // Writes the game loose or as one pack into a fresh folder of its own and runs the entry on it.
    int Run(const std::vector<GAME_FILE>& files, bool bPacked)
    {
        TEMP_DIR game;
        if (bPacked) {
            EXPECT_EQ(WriteGamePack(game.strNative + "/data.kpf", files), 0);
        } else {
            EXPECT_EQ(WriteGameFolder(game.strNative, files), 0);
        }
        CleanUpRun();
        errors.reports.clear();
        boxes.boxes.clear();
        ResetErrorStateForRun();
        g_recorded.clear();
        g_nQuitCalls = 0;
        g_llQuitFrame = 0;
        InstallEngineParts();
        InstallEngineParts();
        g_EngineHooks.pfnStartScriptSystem = StartScriptSystemWithTestHandlers;
        ARGS a({"kolvex", "--game", game.strNative});
        const int nExit = KolvexMain(a.argc(), a.argv());
        EXPECT_EQ(g_bPackedData, bPacked ? 1 : 0);
        return nExit;
    }
};

TEST_F(EndToEndTest, StartsAtTheStartLabelAndDispatchesInOrderLooseAndPacked)
{
    for (bool bPacked : {false, true}) {
        SCOPED_TRACE(bPacked ? "packed" : "loose");
        GAME_DATA game = BaseGame();
        game.scripts = {StartScript(256, 3)};
        EXPECT_EQ(Run(BuildGameFiles(game), bPacked), 0);

        EXPECT_TRUE(errors.reports.empty()) << errors.reports[0].nId << " " << errors.reports[0].strText;
        EXPECT_TRUE(boxes.boxes.empty());
        // The command before the label never ran; the others ran in order in the first frame, with
        // their arguments evaluated by the command table's kinds whatever the records' order.
        ASSERT_EQ(g_recorded.size(), 3u);
        EXPECT_EQ(g_recorded[0].llValue, 1);
        EXPECT_EQ(g_recorded[0].strName, "one");
        EXPECT_EQ(g_recorded[0].llExtra, -1);
        EXPECT_EQ(g_recorded[1].llValue, 5);
        EXPECT_EQ(g_recorded[1].strName, Cp932("二"));
        EXPECT_EQ(g_recorded[1].llExtra, -7);
        EXPECT_EQ(g_recorded[2].llValue, 256);
        EXPECT_EQ(g_recorded[2].strName, "");
        for (const RECORDED& r : g_recorded) {
            EXPECT_EQ(r.llFrame, g_recorded[0].llFrame);
            EXPECT_EQ(r.idThread, std::this_thread::get_id());
        }
        // The quit command came back in the two following frames and then ended the engine.
        EXPECT_EQ(g_nQuitCalls.load(), 3);
        EXPECT_EQ(g_llQuitFrame, g_recorded[0].llFrame + 2);
        EXPECT_EQ(g_bEngineStop.load(), 1);
        EXPECT_EQ(g_hMainWnd, 0u);
        // The configuration reached the engine.
        EXPECT_EQ(g_nScreenWidth, 640);
        EXPECT_EQ(g_nScreenHeight, 480);
        EXPECT_EQ(std::string(g_szWindowTitle), Cp932("終わりの駅"));
    }
}

// An argument outside its check stops the command with the range error, whose header names the
// script file and the command's source line; nothing after it runs.
TEST_F(EndToEndTest, ArgumentOutsideItsCheckIsAScriptErrorWithFileAndLine)
{
    GAME_DATA game = BaseGame();
    game.scripts = {StartScript(257, 3)};
    EXPECT_EQ(Run(BuildGameFiles(game), false), 1);   // a fatal error: a failure status

    ASSERT_EQ(errors.reports.size(), 1u);
    const ERROR_RECORD& r = errors.reports[0];
    EXPECT_EQ(r.nId, KX_ERR_ARG_RANGE);
    EXPECT_EQ(r.bFatal, 1);
    EXPECT_EQ(g_bEngineStop.load(), 1);
    EXPECT_NE(r.strText.find("scene\\start.txt"), std::string::npos) << r.strText;
    EXPECT_NE(r.strText.find(Cp932("13 行目")), std::string::npos) << r.strText;
    EXPECT_NE(r.strText.find("range argsonly15 value 257 (0..256)"), std::string::npos) << r.strText;
    EXPECT_EQ(g_recorded.size(), 2u);
    EXPECT_EQ(g_nQuitCalls.load(), 0);
    EXPECT_EQ(g_hMainWnd, 0u);
}

// Frames on a thread of their own: the same game runs there and the engine quits without hanging.
TEST_F(EndToEndTest, ThreadedFramesRunTheScriptsAndQuit)
{
    GAME_DATA game = BaseGame();
    game.config.nThreaded = 1;
    game.scripts = {StartScript(7, 4)};
    EXPECT_EQ(Run(BuildGameFiles(game), false), 0);

    EXPECT_TRUE(errors.reports.empty());
    EXPECT_EQ(g_bThreadedFrames, 1);
    EXPECT_EQ(g_bFrameThreadState, KX_FRAME_THREAD_ENDED);
    ASSERT_EQ(g_recorded.size(), 3u);
    EXPECT_EQ(g_recorded[2].llValue, 7);
    EXPECT_NE(g_recorded[0].idThread, std::this_thread::get_id());
    EXPECT_EQ(g_nQuitCalls.load(), 4);
    EXPECT_EQ(g_hMainWnd, 0u);
}

// Each compiled file damaged in its own way, loose and packed: the run ends in the file's error with
// its name, through the whole entry, before any command runs.
TEST_F(EndToEndTest, DamagedCompiledFilesEndInTheirErrors)
{
    GAME_DATA game = BaseGame();
    game.scripts = {StartScript(1, 2)};
    const std::vector<GAME_FILE> good = BuildGameFiles(game);
    ASSERT_NE(FindFile(good, KxBodyFileName(0)), nullptr);

    auto cut = [&](const char* pszName, size_t nKeep) {
        Bytes b = FindFile(good, pszName)->data;
        b.resize(std::min(nKeep, b.size()));
        return b;
    };
    KXCFG_OPTIONS cfgOpt;
    cfgOpt.rawTitleLength = 120;
    KXE_OPTIONS kxeOpt;
    kxeOpt.rawCount = 5000;
    KXC_OPTIONS kxcOpt;
    kxcOpt.rawCommandCount = 100000;
    KXT_OPTIONS kxtOpt;
    kxtOpt.nVersion = 554;
    KXT_LIST_OPTIONS listOpt;
    listOpt.rawCount = 40000;
    KXV_OPTIONS kxvOpt;
    kxvOpt.rawCount = 60000;
    KXL_OPTIONS kxlOpt;
    kxlOpt.rawCount = 70000;
    KX_BODY_OPTIONS bodyOpt;
    bodyOpt.rawCommandCount = 1 << 20;
    KX_BODY_OPTIONS regionOpt;
    regionOpt.rawRegionLength[2] = 1 << 24;
    KXCFG badThreaded = game.config;
    badThreaded.nThreaded = 3;

    struct CASE {
        const char* pszName;
        std::string strFile;   // the file replaced
        Bytes data;
        int nError;
        const char* pszInText;   // part of the report's text, or NULL
    };
    const std::string strBody = KxBodyFileName(0);
    const CASE cases[] = {
        {"configuration title beyond the file", KXBIN_KXCFG, BuildKxcfg(game.config, cfgOpt), KX_ERR_FILE_READ, KXBIN_KXCFG},
        {"configuration cut", KXBIN_KXCFG, cut(KXBIN_KXCFG, 40), KX_ERR_FILE_READ, KXBIN_KXCFG},
        {"configuration threaded word 3", KXBIN_KXCFG, BuildKxcfg(badThreaded), KX_ERR_CONFIG_VALUE, nullptr},
        {"messages count", KXBIN_KXE, BuildKxe(game.errors, kxeOpt), KX_ERR_FILE_READ, KXBIN_KXE},
        {"commands count", KXBIN_KXC, BuildKxc(game.commands, kxcOpt), KX_ERR_FILE_READ, KXBIN_KXC},
        {"commands cut", KXBIN_KXC, cut(KXBIN_KXC, 300), KX_ERR_FILE_READ, KXBIN_KXC},
        {"variable table version", KXBIN_KXT, BuildKxt(999, 0, kxtOpt), KX_ERR_VAR_TABLE_VERSION, nullptr},
        {"variable table cut", KXBIN_KXT, cut(KXBIN_KXT, 3), KX_ERR_FILE_READ, KXBIN_KXT},
        {"script list count", KXBIN_KXT_LIST, BuildKxtList({{0, "scene\\start.txt", 0, {}}}, listOpt),
         KX_ERR_FILE_READ, KXBIN_KXT_LIST},
        {"definitions count", KXBIN_KXV, BuildKxv(game.defs, kxvOpt), KX_ERR_FILE_READ, KXBIN_KXV},
        {"labels count", KXBIN_KXL, BuildKxl(game.scripts[0].labels, kxlOpt), KX_ERR_FILE_READ, KXBIN_KXL},
        {"labels cut", KXBIN_KXL, cut(KXBIN_KXL, 100), KX_ERR_FILE_READ, KXBIN_KXL},
        {"body command count", strBody, BuildKxBody(game.scripts[0].body, bodyOpt), KX_ERR_FILE_READ, strBody.c_str()},
        {"body region length", strBody, BuildKxBody(game.scripts[0].body, regionOpt), KX_ERR_FILE_READ, strBody.c_str()},
        {"body cut", strBody, cut(strBody.c_str(), 20), KX_ERR_FILE_READ, strBody.c_str()},
        {"body empty", strBody, {}, KX_ERR_FILE_READ, strBody.c_str()},
    };
    for (bool bPacked : {false, true}) {
        for (const CASE& c : cases) {
            SCOPED_TRACE(std::string(c.pszName) + (bPacked ? " (packed)" : " (loose)"));
            std::vector<GAME_FILE> files = good;
            ReplaceFile(files, c.strFile, c.data);
            EXPECT_EQ(Run(files, bPacked), 1);   // a start-up failure
            ASSERT_FALSE(errors.reports.empty());
            EXPECT_EQ(errors.reports[0].nId, c.nError);
            EXPECT_EQ(errors.reports[0].bFatal, 1);
            if (c.pszInText) {
                EXPECT_NE(errors.reports[0].strText.find(c.pszInText), std::string::npos) << errors.reports[0].strText;
            }
            EXPECT_EQ(g_bEngineStop.load(), 1);
            EXPECT_TRUE(g_recorded.empty());
            EXPECT_EQ(g_nQuitCalls.load(), 0);
        }
    }

    // A start script whose body is missing, and a game without its configuration.
    for (const char* pszMissing : {strBody.c_str(), KXBIN_KXCFG}) {
        SCOPED_TRACE(pszMissing);
        std::vector<GAME_FILE> files;
        for (const GAME_FILE& f : good)
            if (f.strName != pszMissing) files.push_back(f);
        EXPECT_EQ(Run(files, false), 1);
        ASSERT_FALSE(errors.reports.empty());
        EXPECT_EQ(errors.reports[0].nId, KX_ERR_FILE_MISSING);
        EXPECT_NE(errors.reports[0].strText.find(pszMissing), std::string::npos) << errors.reports[0].strText;
        EXPECT_TRUE(g_recorded.empty());
    }
}

}  // namespace
