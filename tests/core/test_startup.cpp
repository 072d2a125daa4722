#include <gtest/gtest.h>
#include "core/script_thread.h"
#include "image/dirty_rects.h"
#include "image/layer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/codecs.h"
#include "core/cp932.h"
#include "core/engine_globals.h"
#include "root/startup.h"
#include "core/engine_hooks.h"
#include "core/engine_tables.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/object_tree.h"
#include "core/pack_archive.h"
#include "core/settings.h"
#include "core/sysfacts.h"
#include "display/window_state.h"
#include "media/emote_component.h"
#include "platform/plat_file.h"
#include "platform/plat_instance.h"
#include "platform/plat_modules.h"
#include "platform/plat_paths.h"
#include "platform/plat_process.h"
#include "platform/plat_sysinfo.h"
#include "platform/plat_thread.h"
#include "platform/plat_window.h"
#include "core/game_config.h"
#include "tests/support/engine_test.h"
#include "tests/support/test_support.h"
#include "tools/lib/kx_writers.h"
#include "tools/lib/pack_writer.h"

namespace {

// Every hook call in order.
std::vector<std::string> g_calls;
void Rec(const char* psz) { g_calls.push_back(psz); }

// Results the recording hooks answer.
struct HOOK_ANSWERS {
    int nDirectSound = 0;
    int nJoysticks = 0;
    int nScriptSystem = 0;
    int nSoundSystem = 0;
    int nDirect3D = 0;
};
HOOK_ANSWERS g_answers;

// The hooks of start-up, the once-only tables and shut-down, each recording its call.
void InstallRecordingHooks()
{
    ENGINE_HOOKS& h = g_EngineHooks;
    h.pfnInitPixelOps = [] { Rec("InitPixelOps"); };
    h.pfnRunCompilerLink = [] { Rec("RunCompilerLink"); return 0; };
    h.pfnInitBlendTables = [] { Rec("InitBlendTables"); };
    h.pfnInitEvaluatorTables = [] { Rec("InitEvaluatorTables"); };
    h.pfnRegisterKeyHandlers = [] { Rec("RegisterKeyHandlers"); };
    h.pfnRegisterElemOps = [] { Rec("RegisterElemOps"); };
    h.pfnRegisterExprOps = [](int b) { Rec(b == 1 ? "RegisterExprOps(1)" : "RegisterExprOps(?)"); };
    h.pfnCreateTextBuffer = [] { Rec("CreateTextBuffer"); };
    h.pfnInitFontList = [] { Rec("InitFontList"); };
    h.pfnCreateMenuHostWindow = [] { Rec("CreateMenuHostWindow"); };
    h.pfnInitDirectSound = [] { Rec("InitDirectSound"); return g_answers.nDirectSound; };
    h.pfnInitJoysticks = [] { Rec("InitJoysticks"); return g_answers.nJoysticks; };
    h.pfnStartScriptSystem = [] { Rec("StartScriptSystem"); return g_answers.nScriptSystem; };
    h.pfnStartWorkerThreads = [] { Rec("StartWorkerThreads"); };
    h.pfnStartSoundSystem = [] { Rec("StartSoundSystem"); return g_answers.nSoundSystem; };
    h.pfnSetFullscreen = [](int b) { Rec(b ? "SetFullscreen(1)" : "SetFullscreen(0)"); };
    h.pfnStartScriptTimers = [] { Rec("StartScriptTimers"); };
    h.pfnClearMemorySaveSlots = [] { Rec("ClearMemorySaveSlots"); };
    h.pfnInitDirect3D = [] { Rec("InitDirect3D"); return g_answers.nDirect3D; };
    h.pfnStopWorkerThreads = [] { Rec("StopWorkerThreads"); };
    h.pfnReleaseEmotePlayers = [] { Rec("ReleaseEmotePlayers"); };
    h.pfnReleaseDirect3D = [] { Rec("ReleaseDirect3D"); };
    h.pfnReleaseWindowMovies = [] { Rec("ReleaseWindowMovies"); };
    h.pfnReleaseDirectSound = [] { Rec("ReleaseDirectSound"); };
    h.pfnDestroyMenus = [] { Rec("DestroyMenus"); };
    h.pfnLeaveFullscreen = [] { Rec("LeaveFullscreen"); return 0; };
    h.pfnFreeTextRenderSlots = [] { Rec("FreeTextRenderSlots"); };
    h.pfnFreePendingRecords = [] { Rec("FreePendingRecords"); };
    h.pfnReleaseFlashControl = [] { Rec("ReleaseFlashControl"); };
}

// An E-mote component (every entry a failing stand-in), which switches Direct3D drawing on.
void RegisterFakeEmote()
{
    ASSERT_EQ(PlatRegisterFakeModule("emotedriver.dll", nullptr, 0), 0);
    ASSERT_EQ(PlatRegisterFakeModule("VEVuvoz.dll", nullptr, 0), 0);
}

// The object trees a start made.
void FreeSubtree(TREE_NODE* pNode)
{
    if (!pNode) return;
    for (TREE_NODE* pChild = pNode->pFirstChild; pChild;) {
        TREE_NODE* pNext = pChild->pNext;
        FreeSubtree(pChild);
        pChild = pNext;
    }
    FreeTreeNode(pNode);
}
void FreeObjectTrees()
{
    for (TREE_NODE** pp : {&g_pLayerRoot, &g_pThreadRoot, &g_pSoundRoot, &g_pMenuRoot}) {
        FreeSubtree(*pp);
        *pp = nullptr;
    }
}

// The compiled configuration of the start-up games: 640 x 480 with optional sound.
KXCFG StartupConfig()
{
    KXCFG cfg;
    cfg.nSoundMode = 1;
    return cfg;
}
void WriteConfig(const TEMP_DIR& game, const KXCFG& cfg = StartupConfig())
{
    game.Write("kxbin/kxcfg.kbn", BuildKxcfg(cfg));
}

// argv for the entry and the path functions.
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

// Its own lock folder, recorders, a 1920 x 1080 desktop and the state of a fresh run for each
// start; game folders hold the compiled configuration.
class StartupTest : public EngineTest {
protected:
    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;
    TEMP_DIR dir;
    TEMP_DIR lockDir;
    std::string strOldCwd;
    bool bWindows = false;

    void SetUp() override
    {
        strOldCwd = PlatGetCurrentDir();
        PlatSetInstanceDirForTest(lockDir.strNative.c_str());
        BeginRun();
        WriteConfig(dir);
    }
    void TearDown() override
    {
        EndRun();
        PlatSetFakeDesktopInfo(nullptr);
        PlatSetInstanceDirForTest(nullptr);
        PlatSetCurrentDir(strOldCwd.c_str());
    }

    void BeginRun()
    {
        PLAT_DESKTOP_INFO desk{1920, 1080, 32, 60};
        PlatSetFakeDesktopInfo(&desk);
        InstallEngineParts();
        InstallRecordingHooks();
        g_calls.clear();
        g_answers = {};
        g_nWindowBackend = PLAT_BACKEND_FAKE;
        g_bRestartAtExit = 0;
        g_nSoundMode = 1;
        g_nScreenWidth = 640;
        g_nScreenHeight = 480;
        g_bDirect3D = 0;
        g_bFullscreen = 0;
        g_bSoundThreadState = KX_THREAD_NOT_STARTED;
        ResetUserSettings();
        ResetErrorStateForRun();
        errors.reports.clear();
        boxes.boxes.clear();
        g_bEngineStop = 0;
    }
    void EndRun()
    {
        ShutdownEngine();
        ReleaseInstanceMutexes();
        PlatStopListening();
        if (bWindows) PlatShutdownWindowSystem();
        bWindows = false;
        g_hMainWnd = 0;
        InstallEngineParts();
        FreePackIndex();
        FreeObjectTrees();
        PlatResetModules();
        SetFakeOSBuild(-1);
        g_bEngineStop = 0;
    }

    // The paths of a start from the game folder with these arguments after it.
    void UsePaths(const TEMP_DIR& game, const std::vector<std::string>& extra = {})
    {
        std::vector<std::string> v{"kolvex", "--game", game.strNative};
        v.insert(v.end(), extra.begin(), extra.end());
        ARGS a(v);
        ASSERT_EQ(InitProgramPaths(a.argc(), a.argv()), 0);
    }
    void StartWindows()
    {
        ASSERT_EQ(PlatInitWindowSystem(PLAT_BACKEND_FAKE), 0);
        bWindows = true;
    }
    std::vector<int> ErrorIds() const
    {
        std::vector<int> ids;
        for (const ERROR_RECORD& r : errors.reports) ids.push_back(r.nId);
        return ids;
    }
};

TEST_F(StartupTest, StartsAndShutsDownInOrder)
{
    UsePaths(dir);
    StartWindows();
    g_bEngineOnceDone = 0;
    RegisterFakeEmote();
    g_answers.nJoysticks = 1;

    ASSERT_EQ(StartEngine(), 0);
    EXPECT_EQ(g_calls, (std::vector<std::string>{
                           "InitPixelOps", "RunCompilerLink", "InitBlendTables", "InitEvaluatorTables",
                           "RegisterKeyHandlers", "RegisterElemOps", "RegisterExprOps(1)", "CreateTextBuffer",
                           "InitFontList", "CreateMenuHostWindow", "InitDirectSound", "InitJoysticks",
                           "StartScriptSystem", "StartWorkerThreads", "StartSoundSystem", "SetFullscreen(0)",
                           "StartScriptTimers", "ClearMemorySaveSlots", "InitDirect3D"}));
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_TRUE(boxes.boxes.empty());

    // The folder mutex replaced the instance mutex; the guard belongs to the entry only.
    EXPECT_EQ(g_ahMutex[KX_MUTEX_INSTANCE], nullptr);
    EXPECT_NE(g_ahMutex[KX_MUTEX_FOLDER], nullptr);
    // The main window: class named after the program path, hidden, client at the logical size.
    ASSERT_NE(g_hMainWnd, 0u);
    EXPECT_EQ(PlatFindWindow(g_szInstanceName, nullptr), g_hMainWnd);
    EXPECT_EQ(PlatIsWindowVisible(g_hMainWnd), 0);
    PLAT_RECT rc{};
    PlatGetClientRect(g_hMainWnd, &rc);
    EXPECT_EQ(rc.right, 640);
    EXPECT_EQ(rc.bottom, 480);
    EXPECT_EQ(g_anWindowCreated[0], 1);
    EXPECT_EQ(g_apWindowState[0]->hWnd, g_hMainWnd);
    EXPECT_EQ(g_nOutputWidth, 640);
    EXPECT_EQ(g_nOutputHeight, 480);
    EXPECT_NE(g_pOutputBuffer, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(g_pOutputBuffer) % 64, 0u);
    EXPECT_EQ(g_nSoundMode, 1);
    EXPECT_EQ(g_bJoystickPresent, 1);
    EXPECT_EQ(g_nDirectXVersion, 9);
    EXPECT_STREQ(g_szWorkDir, g_szExeDir);
    // The E-mote component brought Direct3D drawing with it.
    EXPECT_EQ(g_bEmoteAvailable, 1);
    EXPECT_EQ(g_bDirect3D, 1);
    EXPECT_EQ(g_bGpuPresent, 0);
    EXPECT_LE(g_bInterpolate, 1);
    EXPECT_EQ(g_bBestDisplayMode, 0);
    EXPECT_EQ(g_bFolderReadOnly, 0);
    for (uint8_t b : g_abSwitchTable) ASSERT_EQ(b, 1);

    // Once only, even when a later caller asks again.
    g_calls.clear();
    InitEngineOnce();
    EXPECT_TRUE(g_calls.empty());

    g_bFullscreen = 1;
    ShutdownEngine();
    EXPECT_EQ(g_calls, (std::vector<std::string>{"StopWorkerThreads", "ReleaseEmotePlayers", "ReleaseDirect3D", "ReleaseWindowMovies",
                                                 "ReleaseDirectSound", "DestroyMenus", "LeaveFullscreen",
                                                 "FreeTextRenderSlots", "FreePendingRecords",
                                                 "ReleaseFlashControl"}));
    EXPECT_EQ(g_bFullscreen, 0);
    EXPECT_EQ(g_bEngineStop.load(), 1);
    EXPECT_EQ(g_bSnpLoaded, 0);
    EXPECT_EQ(g_bEmoteAvailable, 0);
    g_calls.clear();
    ShutdownEngine();
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(StartupTest, FailingRowsStopStartUp)
{
    struct CASE {
        const char* pszName;
        std::vector<std::string> extraArgs;
        std::function<void(TEMP_DIR&)> setup;
        int nResult;
        std::vector<int> ids;        // error reports in order (all fatal)
        const char* pszBoxUtf8;      // text found in one of the boxes shown, or NULL for none
        bool bWindowSystem;          // the window system is up
        bool bWindow;                // the main window exists afterwards
        bool bStop;                  // the stop flag afterwards
    };
    const CASE cases[] = {
        {"old system", {}, [](TEMP_DIR&) { SetFakeOSBuild(1381); }, -1, {},
         "Windows95/NT3.5/NT4 では起動できません。", true, false, false},
        {"settings program", {"/KXCFG"}, nullptr, -1, {}, nullptr, true, false, false},
        {"licence notice", {"/Info"}, nullptr, -1, {KX_ERR_LICENSE}, nullptr, true, false, true},
        {"damaged pack", {},
         [](TEMP_DIR& d) {
             PACK_WRITER_OPTIONS opt;
             opt.nVersion = 233;
             PACK_WRITER_ENTRY e;
             e.strName = "kxbin\\kxc.kbn";
             e.data = {1, 2, 3};
             d.Write("data.kpf", BuildPackImage({e}, opt));
         },
         -1, {KX_ERR_PACK_VERSION}, nullptr, true, false, true},
        {"no Snappy library", {}, [](TEMP_DIR&) { PlatHideModule("KXSNP.DLL", 1); }, -1, {}, "KXSNP.DLL", true,
         false, false},
        {"no configuration", {}, [](TEMP_DIR& d) { std::remove((d.strNative + "/kxbin/kxcfg.kbn").c_str()); }, -1,
         {KX_ERR_FILE_MISSING}, nullptr, true, false, true},
        {"output wider than 8192", {},
         [](TEMP_DIR& d) {
             // The configuration asks for the desktop's size.
             PLAT_DESKTOP_INFO desk{20000, 20000, 32, 60};
             PlatSetFakeDesktopInfo(&desk);
             KXCFG cfg = StartupConfig();
             cfg.nWidth = 0;
             cfg.nHeight = 0;
             WriteConfig(d, cfg);
         },
         -1, {KX_ERR_NO_MEMORY}, "ＣＧサイズが大きすぎます。X=20000, Y=20000", true, false, true},
        {"no window system", {}, nullptr, -1, {}, "ウィンドウが生成できませんでした。", false, false, false},
        {"required sound missing", {},
         [](TEMP_DIR& d) {
             KXCFG cfg = StartupConfig();
             cfg.nSoundMode = 2;
             WriteConfig(d, cfg);
             g_answers.nDirectSound = -1;
         },
         -1, {}, nullptr, true, true, false},
        {"sound system fails", {}, [](TEMP_DIR&) { g_answers.nSoundSystem = -1; }, -1, {}, nullptr, true, true, false},
        {"scripts cannot start", {}, [](TEMP_DIR&) { g_answers.nScriptSystem = -1; }, 1, {}, nullptr, true, true,
         true},
        {"Direct3D falls back to the CPU", {},
         [](TEMP_DIR&) {
             RegisterFakeEmote();
             g_answers.nDirect3D = 1;
         },
         0, {}, "GPU描画が出来ませんでした。CPU描画に移行します。", true, true, false},
        {"Direct3D fails for good", {},
         [](TEMP_DIR&) {
             RegisterFakeEmote();
             g_answers.nDirect3D = -1;
         },
         -1, {}, nullptr, true, true, true},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        SPAWN_RECORDER spawns;
        TEMP_DIR game;
        WriteConfig(game);
        BeginRun();
        if (c.setup) c.setup(game);
        UsePaths(game, c.extraArgs);
        if (c.bWindowSystem) StartWindows();

        EXPECT_EQ(StartEngine(), c.nResult);
        EXPECT_EQ(ErrorIds(), c.ids);
        for (const ERROR_RECORD& r : errors.reports) EXPECT_EQ(r.bFatal, 1);
        // Error reports show their dialog as a box too; other boxes are the row's own.
        if (c.pszBoxUtf8) {
            bool bFound = false;
            for (const MSGBOX_RECORD& b : boxes.boxes) bFound |= b.strText.find(Cp932(c.pszBoxUtf8)) != std::string::npos;
            EXPECT_TRUE(bFound);
        } else if (c.ids.empty()) {
            EXPECT_TRUE(boxes.boxes.empty());
        }
        EXPECT_EQ(g_hMainWnd != 0, c.bWindow);
        EXPECT_EQ(g_bEngineStop.load() != 0, c.bStop);
        // The settings program is started with its switch; nothing else starts a program.
        EXPECT_EQ(spawns.starts.size(), c.extraArgs.empty() ? 0u : std::strcmp(c.pszName, "settings program") == 0);
        if (spawns.starts.size() == 1) {
            EXPECT_EQ(spawns.starts[0], (std::vector<std::string>{"Quenfel.exe", "/kxcfg"}));
        }
        if (std::strcmp(c.pszName, "scripts cannot start") == 0) {
            // The quit request asks the main window to close.
            PLAT_MSG msg{};
            ASSERT_EQ(PlatPeekMessage(&msg, PLAT_PM_REMOVE), 1);
            EXPECT_EQ(msg.hwnd, g_hMainWnd);
            EXPECT_EQ(msg.message, static_cast<uint32_t>(PLAT_WM_CLOSE));
        }
        if (std::strcmp(c.pszName, "required sound missing") == 0) {
            EXPECT_EQ(g_nSoundMode, 0);
        }
        if (std::strncmp(c.pszName, "Direct3D", 8) == 0) {
            EXPECT_EQ(g_bDirect3D, 0);
            EXPECT_EQ(g_nDrawMethod, 0);
            EXPECT_EQ(g_bInterpolate, 1);
        }
        EndRun();
    }
}

TEST_F(StartupTest, OptionalSoundThatFailsLeavesTheGameSilent)
{
    UsePaths(dir);
    StartWindows();
    g_answers.nDirectSound = -1;
    EXPECT_EQ(StartEngine(), 0);
    EXPECT_EQ(g_nSoundMode, 0);
}

TEST_F(StartupTest, ScreenLargerThanTheDesktopGivesHalfTheDesktop)
{
    struct CASE {
        int nScreenW, nScreenH, nOutW, nOutH;
    } cases[] = {
        {1600, 900, 640, 360},    // both larger
        {1000, 800, 640, 360},    // only taller
        {1281, 16, 640, 360},     // only wider
        {1280, 720, 1280, 720},   // exactly the desktop
        {800, 600, 800, 600},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(std::to_string(c.nScreenW) + "x" + std::to_string(c.nScreenH));
        BeginRun();
        PLAT_DESKTOP_INFO desk{1280, 720, 32, 60};
        PlatSetFakeDesktopInfo(&desk);
        KXCFG cfg = StartupConfig();
        cfg.nWidth = c.nScreenW;
        cfg.nHeight = c.nScreenH;
        WriteConfig(dir, cfg);
        UsePaths(dir);
        StartWindows();
        ASSERT_EQ(StartEngine(), 0);
        EXPECT_EQ(g_nOutputWidth, c.nOutW);
        EXPECT_EQ(g_nOutputHeight, c.nOutH);
        EXPECT_EQ(g_nTargetWidth, c.nScreenW);
        EXPECT_EQ(g_nTargetHeight, c.nScreenH);
        EXPECT_NE(g_pOutputBuffer, nullptr);
        EndRun();
    }
}

TEST(EngineTables, DivisionTablesRoundTowardZero)
{
    FillMulDivTables();
    // Row a, column 255 + d.
    EXPECT_EQ(g_awMulDiv256[256][255 + 256], 256);
    EXPECT_EQ(g_awMulDiv256[256][0], -255);
    EXPECT_EQ(g_awMulDiv256[255][255 - 1], 0);     // -255/256 truncates to 0, not -1
    EXPECT_EQ(g_awMulDiv256[100][255 - 3], -1);    // -300/256 = -1.17
    EXPECT_EQ(g_awMulDiv256[100][255 + 3], 1);
    EXPECT_EQ(g_awMulDiv256[0][511], 0);
    EXPECT_EQ(g_awMulDiv255[256][255 + 256], 257);
    EXPECT_EQ(g_awMulDiv255[128][0], -128);
    EXPECT_EQ(g_awMulDiv255[254][255 - 1], 0);     // -254/255
    EXPECT_EQ(g_awMulDiv255[200][255 - 200], -156);  // -40000/255 = -156.86
    EXPECT_EQ(g_awMulDiv255[255][255 + 7], 7);
    EXPECT_EQ(g_abMulDiv255[255][255], 255);
    EXPECT_EQ(g_abMulDiv255[254][1], 0);
    EXPECT_EQ(g_abMulDiv255[128][255], 128);
    EXPECT_EQ(g_abMulDiv255[200][100], 78);         // 20000/255 = 78.4
    EXPECT_EQ(g_abMulDiv255[0][255], 0);
}

TEST_F(StartupTest, WorkFolderProbe)
{
    CopyTextBounded(g_szWorkDir, sizeof g_szWorkDir, dir.strEngine.c_str());
    EXPECT_EQ(ProbeFolderWritable(), 0);
    EXPECT_EQ(g_bFolderReadOnly, 0);
    std::vector<PLAT_DIR_ENTRY> entries;
    ASSERT_EQ(PlatListDir(dir.strEngine.c_str(), &entries), 0);
    for (const PLAT_DIR_ENTRY& e : entries) EXPECT_NE(e.strName.rfind("ini", 0), 0u) << e.strName;

    // Running as root makes permissions useless here; a folder that does not exist cannot be written.
    CopyTextBounded(g_szWorkDir, sizeof g_szWorkDir, (dir.strEngine + "\\missing").c_str());
    EXPECT_EQ(ProbeFolderWritable(), 0);
    EXPECT_EQ(g_bFolderReadOnly, 1);
}

// The entry in this process, as a second start would run it.
int RunEntry(const TEMP_DIR& game, const std::vector<std::string>& extra = {})
{
    std::vector<std::string> v{"kolvex", "--game", game.strNative};
    v.insert(v.end(), extra.begin(), extra.end());
    ARGS a(v);
    return KolvexMain(a.argc(), a.argv());
}

void CountActivation(void* pUser) { ++*static_cast<int*>(pUser); }

TEST_F(StartupTest, SecondStartFromTheSamePathActivatesTheRunningCopy)
{
    // The running copy: its instance mutex, listening under the instance name.
    UsePaths(dir);
    const std::string strInstance = g_szInstanceName;
    int bExists = 1;
    PLAT_MUTEX* pRunning = PlatCreateNamedMutex(strInstance.c_str(), &bExists);
    ASSERT_NE(pRunning, nullptr);
    ASSERT_EQ(bExists, 0);
    int nActivations = 0;
    ASSERT_EQ(PlatListenForActivation(strInstance.c_str(), CountActivation, &nActivations), 0);

    EXPECT_EQ(RunEntry(dir), 0);
    EXPECT_TRUE(g_calls.empty());   // start-up never began
    EXPECT_TRUE(boxes.boxes.empty());
    PlatPollActivation();
    EXPECT_EQ(nActivations, 1);
    for (PLAT_MUTEX* p : g_ahMutex) EXPECT_EQ(p, nullptr);

    // A start while another copy holds the guard ends silently, asking nobody.
    PLAT_MUTEX* pGuard = PlatCreateNamedMutex(KX_GUARD_MUTEX_NAME, &bExists);
    ASSERT_EQ(bExists, 0);
    EXPECT_EQ(RunEntry(dir), 0);
    PlatPollActivation();
    EXPECT_EQ(nActivations, 1);
    EXPECT_TRUE(g_calls.empty());
    PlatReleaseNamedMutex(pGuard);
    PlatReleaseNamedMutex(pRunning);
}

TEST_F(StartupTest, CopyUnderAnotherNameInTheSameFolderIsRefused)
{
    UsePaths(dir);
    StartWindows();
    int bExists = 1;
    PLAT_MUTEX* pOther = PlatCreateNamedMutex(g_szFolderMutexName, &bExists);
    ASSERT_EQ(bExists, 0);
    EXPECT_EQ(StartEngine(), -1);
    EXPECT_EQ(g_hMainWnd, 0u);
    EXPECT_TRUE(boxes.boxes.empty());
    for (PLAT_MUTEX* p : g_ahMutex) EXPECT_EQ(p, nullptr);
    PlatReleaseNamedMutex(pOther);
}

TEST_F(StartupTest, ActivationRestoresTheMinimisedMainWindowAndBringsItToTheFront)
{
    UsePaths(dir);
    StartWindows();
    ASSERT_EQ(StartEngine(), 0);
    PlatShowWindow(g_hMainWnd, PLAT_SW_MINIMIZE);
    PlatFakeInjectFocus(g_hMainWnd, 0);
    ASSERT_EQ(PlatIsIconic(g_hMainWnd), 1);
    ASSERT_EQ(PlatFakeGetFocusWindow(), 0u);
    ASSERT_EQ(PlatListenForActivation(g_szInstanceName, ActivateMainWindow, nullptr), 0);
    ASSERT_EQ(ActivateRunningInstance(g_szInstanceName), 0);
    PlatPollActivation();
    EXPECT_EQ(PlatIsIconic(g_hMainWnd), 0);
    EXPECT_EQ(PlatIsWindowVisible(g_hMainWnd), 1);
    EXPECT_EQ(PlatFakeGetFocusWindow(), g_hMainWnd);
}

TEST_F(StartupTest, ShutDownAfterAFailedStartToleratesMissingParts)
{
    InstallEngineParts();
    std::remove((dir.strNative + "/kxbin/kxcfg.kbn").c_str());
    UsePaths(dir);
    StartWindows();
    ASSERT_EQ(StartEngine(), -1);
    ASSERT_EQ(g_hMainWnd, 0u);

    // A sound thread that ends only once it sees the stop flag: shut-down must not wait for ever.
    g_bEngineStop = 0;
    g_bSoundThreadState = KX_THREAD_RUNNING;
    PLAT_THREAD* pSound = PlatThreadStart(
        [](void*) {
            while (!g_bEngineStop) PlatSleep(1);
            PlatLockEnter(g_csEngine);
            g_bSoundThreadState = KX_SOUND_THREAD_ENDED;
            PlatLockLeave(g_csEngine);
            return 0;
        },
        nullptr);
    ASSERT_NE(pSound, nullptr);
    ShutdownEngine();
    EXPECT_EQ(g_bSoundThreadState, KX_SOUND_THREAD_ENDED);
    PlatThreadJoin(pSound, nullptr);
}

struct RESTART_WATCH {
    std::vector<std::vector<std::string>> starts;
    bool bLocksFree = false;
};

TEST_F(StartupTest, RestartStartsOneProcessAfterEverythingIsReleased)
{
    static RESTART_WATCH watch;
    watch = {};
    PlatSetSpawnHook(
        [](const std::vector<std::string>& args, void*) {
            watch.starts.push_back(args);
            // The new copy must pass every single-instance check.
            bool bFree = true;
            for (const char* psz : {KX_GUARD_MUTEX_NAME, (const char*)g_szInstanceName, (const char*)g_szFolderMutexName}) {
                int bExists = 1;
                PLAT_MUTEX* p = PlatCreateNamedMutex(psz, &bExists);
                bFree = bFree && p && !bExists;
                PlatReleaseNamedMutex(p);
            }
            watch.bLocksFree = bFree;
            return 0;
        },
        nullptr);
    g_EngineHooks.pfnStartScriptSystem = [] {
        g_bRestartAtExit = 1;   // as the quit command asks
        return 1;
    };
    EXPECT_EQ(RunEntry(dir, {"extra arg"}), 0);
    PlatSetSpawnHook(nullptr, nullptr);

    ASSERT_EQ(watch.starts.size(), 1u);
    EXPECT_EQ(watch.starts[0],
              (std::vector<std::string>{PlatGetExecutablePath(), "--game", Cp932(dir.strNative.c_str()), "extra arg"}));
    EXPECT_TRUE(watch.bLocksFree);
}

// Under a real X server (the CTest entry runs this under xvfb-run with SDL's x11 driver): the entry
// opens the main window, a layer set up under window 0's layer set is composed and presented through
// the real SDL path, the window shows its pixels, and the run ends when the window is closed.
TEST_F(StartupTest, X11WindowOpensAndCloses)
{
    const char* pszSmoke = std::getenv("KX_X11_SMOKE");
    if (!pszSmoke || std::strcmp(pszSmoke, "1") != 0) GTEST_SKIP() << "runs under xvfb-run only";
    static int s_nFrames, s_nMatching, s_nWidth, s_nHeight;
    static bool s_bShown;
    s_nFrames = s_nMatching = s_nWidth = s_nHeight = 0;
    s_bShown = false;
    g_nWindowBackend = PLAT_BACKEND_SDL;
    InstallEngineParts();
    g_EngineHooks.pfnStartScriptSystem = [] { return 0; };   // the test's folder carries no scripts
    // After the trees exist: one opaque layer of a known colour over the whole screen.
    g_EngineHooks.pfnClearMemorySaveSlots = [] {
        // No scripts: the root thread, which has no body, does not run.
        if (TREE_NODE* pSystem = FindNodeByPath(g_pThreadRoot, "SYSTEM", KX_FIND_LEAF))
            static_cast<SCRIPT_THREAD*>(pSystem->pPayload)->bRunA = 0;
        TREE_NODE* pW0 = FindNodeByPath(g_pLayerRoot, "W0", KX_FIND_GROUP);
        TREE_NODE* pBg = pW0 ? CreateNode(pW0, "bg", 0, 1) : nullptr;
        LAYER* pLayer = pBg ? CreateNodeLayer(pBg) : nullptr;
        uint8_t* pPixels = pLayer ? AllocPixelBuffer(nullptr, 640, 480, "bg") : nullptr;
        if (!pPixels) return;
        for (int i = 0; i < 640 * 480; ++i) {
            pPixels[i * 4 + 0] = 0x99;
            pPixels[i * 4 + 1] = 0x66;
            pPixels[i * 4 + 2] = 0x33;
            pPixels[i * 4 + 3] = 0xFF;
        }
        SetLayerPixels(pLayer, pPixels, 640, 480);
        MarkLayerDirty(pBg);
    };
    // A few frames later: the window, created hidden, has been shown by the first frame; what it
    // shows; then close it.
    g_EngineHooks.pfnUpdateMenuBarAutoShow = [] {
        if (++s_nFrames != 5) return;
        s_bShown = PlatIsWindowVisible(g_hMainWnd) == 1;
        std::vector<uint32_t> shown;
        if (PlatReadWindowPixels(g_hMainWnd, &shown, &s_nWidth, &s_nHeight) == 0)
            for (uint32_t px : shown) s_nMatching += (px & 0xFFFFFFu) == 0x336699u;
        PlatPostMessage(g_hMainWnd, PLAT_WM_CLOSE, 0, 0);
    };
    EXPECT_EQ(RunEntry(dir), 0);
    EXPECT_TRUE(s_bShown);
    EXPECT_EQ(s_nWidth, 640);
    EXPECT_EQ(s_nHeight, 480);
    EXPECT_EQ(s_nMatching, 640 * 480);
    for (const ERROR_RECORD& r : errors.reports) ADD_FAILURE() << "error " << r.nId << ": " << r.strText;
    for (const MSGBOX_RECORD& b : boxes.boxes) ADD_FAILURE() << "box: " << b.strText;
}

}  // namespace
