// The entry point, start-up, the once-only tables, shut-down and restart.
#include "root/startup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/appended_data.h"
#include "core/codecs.h"
#include "core/cp932.h"
#include "core/engine_globals.h"
#include "core/engine_hooks.h"
#include "core/engine_tables.h"
#include "core/errors.h"
#include "core/file_location.h"
#include "core/frame_loop.h"
#include "core/input.h"
#include "core/kx_math.h"
#include "core/kx_texts.h"
#include "core/object_tree.h"
#include "image/frame_sheet.h"
#include "platform/plat_softgpu.h"
#include "image/kcg_format.h"
#include "image/layer.h"
#include "image/text_draw.h"
#include "imageproc/blend_modes.h"
#include "imageproc/compositor.h"
#include "imageproc/pixel_ops.h"
#include "imageproc/scaling.h"
#include "core/worker_pool.h"
#include "script/engine_control.h"
#include "script/evaluator.h"
#include "script/script_tables.h"
#include "script/system_vars.h"
#include "script/text_buffer.h"
#include "core/pack_archive.h"
#include "core/settings.h"
#include "core/sysfacts.h"
#include "display/touch_library.h"
#include "display/window_proc.h"
#include "display/window_state.h"
#include "media/emote_component.h"
#include "platform/plat_file.h"
#include "platform/plat_instance.h"
#include "platform/plat_msgbox.h"
#include "platform/plat_paths.h"
#include "platform/plat_process.h"
#include "platform/plat_signals.h"
#include "platform/plat_text.h"
#include "platform/plat_thread.h"
#include "platform/plat_window.h"
#include "root/startup_reasons.h"
#include "save/cmd_save.h"
#include "script/engine_config.h"
#include "sound/sound.h"

// The arguments after the program: as the engine sees them (the game folder's removed) and as the
// program was started (for a restart).
static std::vector<std::string> s_aEngineArgs;
static std::vector<std::string> s_aStartArgs;
static uint8_t s_bShutdownDone = 1;
// Start-up ended without running the game because that was asked for (a served switch, another
// copy brought to the front): the program then ends with status 0, not as a failure.
static uint8_t s_bEndedAsAsked = 0;

// ---------------------------------------------------------------------------------------------
// Paths and the single-instance protocol

// A mutex name from a path: every '\' outside double-byte characters becomes ':'.
static void MakeMutexName(char* pszOut, size_t cap, const char* pszPath)
{
    CopyTextBounded(pszOut, cap, pszPath);
    for (char* p = pszOut; *p; p = const_cast<char*>(NextCharCp932(p)))
        if (*p == '\\') *p = ':';
}

int InitProgramPaths(int argc, char** argv)
{
    s_aEngineArgs.clear();
    if (PlatInitProgramPaths(argc, argv, &s_aEngineArgs) != 0) return -1;
    if (InitEnginePaths() != 0) {
        ReportErrorF(KX_ERR_PATH_TOO_LONG, 1, PlatGetProgramFolder());
        return -1;
    }
    // The program path names the instance, so letter case never tells two starts apart. The folder
    // keeps the file system's letter case because the engine opens files through it.
    LowerCaseASCII(g_szExePath);
    MakeMutexName(g_szInstanceName, sizeof g_szInstanceName, g_szExePath);
    std::string strFolder = std::string(g_szExeDir) + "\\";
    LowerCaseASCII(strFolder.data());
    MakeMutexName(g_szFolderMutexName, sizeof g_szFolderMutexName, strFolder.c_str());
    CopyTextBounded(g_szWorkDir, sizeof g_szWorkDir, g_szExeDir);
    CopyTextBounded(g_szExeFile, sizeof g_szExeFile, PlatGetExecutablePath());
    return 0;
}

int ActivateRunningInstance(const char* pszClass)
{
    // A second start ends quietly by the book; in a terminal it would look like a failure, so the
    // person is told where the game went.
    if (PlatRequestActivation(pszClass) == 0)
        std::printf("kolvex: the game in %s is already running; its window was brought to the front\n",
                    PlatDisplayPath(g_szExeDir).c_str());
    else
        std::printf("kolvex: the game in %s is already running or starting in another copy\n",
                    PlatDisplayPath(g_szExeDir).c_str());
    std::fflush(stdout);
    return 0;
}

void ReleaseInstanceMutex(int nIndex)
{
    if (nIndex < 0 || nIndex >= KX_MUTEXES) return;
    PlatReleaseNamedMutex(g_ahMutex[nIndex]);
    g_ahMutex[nIndex] = nullptr;
}

void ReleaseInstanceMutexes(void)
{
    for (int i = 0; i < KX_MUTEXES; ++i)
        ReleaseInstanceMutex(i);
}

// Takes the named mutex into its slot. 0; -1 when another copy holds it; -2 when the lock cannot
// be opened or taken at all (PlatGetNamedMutexFailure says why), which tells nothing of another copy.
static int TakeInstanceMutex(int nIndex, const char* pszName)
{
    int bExists = 0;
    PLAT_MUTEX* pMutex = PlatCreateNamedMutex(pszName, &bExists);
    if (!pMutex) return -2;
    if (bExists) {
        PlatReleaseNamedMutex(pMutex);
        return -1;
    }
    g_ahMutex[nIndex] = pMutex;
    return 0;
}

// The connection to the window system broke in the middle of the run: the process ends there and
// then (the platform calls nothing of the window system again). The locks go with it and the person
// is told why the game went. A quit like the player's own (the desktop took the game away, as at
// the end of a session), unless a fatal error had already been reported.
static int EndRunForLostDisplay(void)
{
    std::fprintf(stderr, "kolvex: the connection to the X server was lost; the game in %s ends\n",
                 PlatDisplayPath(g_szExeDir).c_str());
    PlatStopListening();
    ReleaseInstanceMutexes();
    return WasFatalErrorReported() ? 1 : 0;
}

int RunProgram(const std::vector<std::string>& args)
{
    return PlatStartProcessArgv(args);
}

// ---------------------------------------------------------------------------------------------
// The entry

static const char kKolvexVersion[] = "0.1.0";

static void PrintUsage(void)
{
    std::printf(
        "Usage: kolvex [--game FOLDER] [ARGUMENT...]\n"
        "       kolvex FOLDER [ARGUMENT...]\n"
        "       kolvex [--help | -h | --version]\n"
        "\n"
        "Plays the game in FOLDER: its compiled scripts in kxbin and its packs (.kpf). Without a\n"
        "folder, the current folder when it holds kxbin or a .kpf file, else the folder of the\n"
        "executable. The arguments after the folder are the game's; the switch /info shows the\n"
        "notice of the libraries used and ends.\n"
        "\n"
        "  --game FOLDER   the game folder (arguments after it all go to the game)\n"
        "  -h, --help      this text\n"
        "  --version       the version\n"
        "\n"
        "Exit status: 0 after a quit the game or the player asked for (SIGINT, SIGTERM and SIGHUP\n"
        "quit too), 1 when start-up fails or a fatal error was reported.\n"
        "Environment: KOLVEX_AUDIO=sdl|null|wav:FILE|framewav:FILE|manual, KOLVEX_TRACE=FILE,\n"
        "KOLVEX_QUIT_AFTER_FRAMES=N, KOLVEX_SCREENSHOT=FILE.png, KOLVEX_SCREENSHOT_AT_FRAMES=N,M,...,\n"
        "KOLVEX_CLICK_AT_FRAMES=N,M,..., KOLVEX_FRAME_CLOCK=1 (see README.md).\n");
}

// A mistake in the arguments: on standard error, and in a box when there is a display but no
// terminal (a start from the desktop), where nobody reads standard error.
static void TellArgumentProblem(const std::string& strProblem)
{
    std::fprintf(stderr, "kolvex: %s\n", strProblem.c_str());
    if (!PlatHasTerminal() && PlatMessageBoxInteractive())
        PlatMessageBoxUtf8("KOLVEX", strProblem.c_str(), PLAT_MB_OK | PLAT_MB_ICONSTOP);
}

// Start-up ended at the lock and said why: no second guess at the reason.
static uint8_t s_bLockFailureTold = 0;

// The single-instance lock could not be used: the game does not run, and the person is told why
// (standard error, and a box when started from the desktop).
static void TellLockFailure(void)
{
    TellArgumentProblem(std::string("the game cannot start: its single-instance lock failed: ") +
                        PlatGetNamedMutexFailure());
}

// The program's own options, in the first argument. 1 when one was served or refused (*pnExit
// then holds the exit status), else 0.
static int HandleProgramOptions(int argc, char** argv, int* pnExit)
{
    if (argc < 2 || !argv[1]) return 0;
    const std::string strArg = argv[1];
    if (strArg == "--help" || strArg == "-h") {
        PrintUsage();
        *pnExit = 0;
        return 1;
    }
    if (strArg == "--version") {
        std::printf("kolvex %s\n", kKolvexVersion);
        *pnExit = 0;
        return 1;
    }
    // Only a long option can be the program's own: a '-' and a letter is a switch of the game's
    // (a screen saver's "-s", "-c", "-a N", "-p N" in either case), as '/' and a letter is.
    if (strArg.size() > 2 && strArg.compare(0, 2, "--") == 0 && strArg != "--game") {
        TellArgumentProblem("unknown option " + strArg + " (kolvex --help lists the options)");
        *pnExit = 1;
        return 1;
    }
    return 0;
}

int KolvexMain(int argc, char** argv)
{
    int nOptionExit = 0;
    if (HandleProgramOptions(argc, argv, &nOptionExit)) return nOptionExit;
    InitEngineTexts();
    ResetErrorStateForRun();
    s_bEndedAsAsked = 0;
    s_bLockFailureTold = 0;
    s_aStartArgs.clear();
    for (int i = 1; i < argc; ++i)
        s_aStartArgs.push_back(PlatUtf8ToCp932String(argv[i]));

    // A start while another copy is between taking its guard and its instance mutex ends silently.
    const int nGuard = TakeInstanceMutex(KX_MUTEX_GUARD, KX_GUARD_MUTEX_NAME);
    if (nGuard == -2) {
        TellLockFailure();
        return 1;
    }
    if (nGuard != 0) return 0;
    if (InitProgramPaths(argc, argv) != 0) {
        if (*PlatGetProgramPathsProblem()) TellArgumentProblem(PlatGetProgramPathsProblem());
        ReleaseInstanceMutexes();
        return 1;
    }
    const int nInstance = TakeInstanceMutex(KX_MUTEX_INSTANCE, g_szInstanceName);
    if (nInstance != 0) {
        if (nInstance == -2) TellLockFailure();
        else ActivateRunningInstance(g_szInstanceName);
        ReleaseInstanceMutexes();
        return nInstance == -2 ? 1 : 0;
    }
    ReleaseInstanceMutex(KX_MUTEX_GUARD);

    g_nCmdShow = PLAT_SW_SHOWNORMAL;
    PlatSetCurrentDir(g_szExeDir);
    // The screen-saver switches are read before start-up proper copies the arguments again.
    CopyCommandLineArgs(g_szExePath, s_aEngineArgs);
    if (DetectAppendedData() < 0) {
        ReleaseInstanceMutexes();
        return 1;
    }
    if (g_bScreenSaver && RunScreenSaverCommand() != 0) {
        ReleaseInstanceMutexes();
        return 0;
    }

    // Started from the desktop without a folder where no game lies: one box that says where it
    // looked and how to open a game, in place of the game's own box about a missing file.
    if (!g_bAppendedData && !PlatGameFolderWasNamed() && !PlatHasTerminal() && GameFolderHoldsNoGame()) {
        std::fprintf(stderr, "kolvex: the game in %s could not start: %s\n", PlatDisplayPath(g_szExeDir).c_str(),
                     DescribeStartupFailure().c_str());
        PlatMessageBoxUtf8("KOLVEX", DescribeNoGameForDesktop().c_str(), PLAT_MB_OK | PLAT_MB_SYSTEMMODAL);
        ReleaseInstanceMutexes();
        return 1;
    }

    // Without a window system the main window cannot be made, and start-up says so.
    const int bWindows = PlatInitWindowSystem(g_nWindowBackend) == 0;
    PlatSetDisplayLostHandler(EndRunForLostDisplay);
    PlatListenForActivation(g_szInstanceName, ActivateMainWindow, nullptr);

    // 0 after a quit the game or the player asked for; 1 when start-up failed or stopped the run
    // (the scripts could not start), or when a fatal error was reported.
    int nExitCode = 1;
    g_bRunning = 1;
    PlatInstallQuitSignals();
    const int8_t nStart = StartEngine();
    if (nStart == 0) nExitCode = RunMainLoop();
    else if (nStart < 0 && s_bEndedAsAsked) nExitCode = 0;
    ShutdownEngine();
    // The scripts stopped start-up by asking for the quit (1): a failure only when it came with a
    // fatal report, since a game may quit, or restart, from its first script.
    if (nStart == 1) nExitCode = WasFatalErrorReported() ? 1 : 0;
    if (nStart == 0 && WasFatalErrorReported()) nExitCode = 1;
    // The reports say what failed, by names inside the game folder: this line says which folder.
    if (nExitCode != 0 && nStart >= 0) {
        const std::string strWhy = DescribeFatalErrorOfRun();
        std::fprintf(stderr, "kolvex: the game in %s ended after a fatal error%s%s\n", PlatDisplayPath(g_szExeDir).c_str(),
                     strWhy.empty() ? "" : ": ", strWhy.c_str());
    }
    else if (nExitCode != 0 && !s_bLockFailureTold)
        std::fprintf(stderr, "kolvex: the game in %s could not start: %s\n", PlatDisplayPath(g_szExeDir).c_str(),
                     DescribeStartupFailure().c_str());

    PlatStopListening();
    if (bWindows) PlatShutdownWindowSystem();
    ReleaseInstanceMutexes();
    PlatSetDisplayLostHandler(nullptr);
    PlatRemoveQuitSignals();
    if (g_bRestartAtExit) {
        // The real executable (the engine's program path is lower-cased) with the arguments it was
        // started with, the game folder among them.
        std::vector<std::string> args{PlatGetExecutablePath()};
        args.insert(args.end(), s_aStartArgs.begin(), s_aStartArgs.end());
        RunProgram(args);
    }
    return nExitCode;
}

// ---------------------------------------------------------------------------------------------
// Start-up

void InitTimerResolution(void)
{
    // The clock already counts single milliseconds; only the per-second counters start afresh.
    ResetFrameCounters();
}

void EndTimerResolution(void)
{
}

int ProbeFolderWritable(void)
{
    g_bFolderReadOnly = 1;
    // A fresh name "iniXXXX.tmp", like a temporary file name of the system's.
    uint32_t nUnique = PlatGetTime() & 0xFFFF;
    for (int nTry = 0; nTry < 0x10000; ++nTry, nUnique = (nUnique + 1) & 0xFFFF) {
        if (nUnique == 0) continue;
        char szPath[KX_MAX_PATH];
        if (FormatText(szPath, sizeof szPath, "%s\\ini%X.tmp", g_szWorkDir, nUnique) + 1 >= sizeof szPath) break;
        PLAT_FILE_STAT st{};
        if (PlatFileStat(szPath, &st) != 0) break;
        if (st.bExists) continue;
        PLAT_FILE* pFile = PlatFileOpen(szPath, PLAT_FILE_WRITE);
        if (!pFile) break;
        const int bClosed = PlatFileClose(pFile) == 0;
        const int bDeleted = PlatFileDelete(szPath) == 0;
        if (bClosed && bDeleted) g_bFolderReadOnly = 0;
        break;
    }
    return 0;
}

void InitEngineOnce(void)
{
    if (g_bEngineOnceDone) return;
    g_bEngineOnceDone = 1;
    const ENGINE_HOOKS& h = g_EngineHooks;

    SeedRandom(PlatGetTime());
    MsvcSrand(static_cast<uint32_t>(std::time(nullptr)));
    // The object-path separators ('.', ':' and '/') are tested by the object trees themselves.
    FillMulDivTables();
    h.pfnInitBlendTables();
    h.pfnInitEvaluatorTables();
    h.pfnRegisterKeyHandlers();
    h.pfnRegisterElemOps();
    h.pfnRegisterExprOps(1);
    std::memset(g_abSwitchTable, 1, sizeof g_abSwitchTable);
    h.pfnCreateTextBuffer();
    h.pfnInitFontList();
    int nMajor = 0;
    g_nDirectXVersion = GetDirectXVersion(&nMajor, nullptr, nullptr) == 0 ? nMajor : 0;
}

// Screen sizes and the scaled-frame buffer. 0, or -1 when the buffer could not be made (reported).
static int SetupScreenSizes(void)
{
    return SetupMainWindowSizes();
}

// The E-mote component, and with it Direct3D drawing.
static void LoadEmoteAndDirect3D(void)
{
    // The developer switch KOLVEX_SOFT_GPU=1 draws through the software device without E-mote.
    if (SgForcedOn()) {
        g_bDirect3D = 1;
        g_bGpuPresent = 0;
        if (g_bInterpolate > 1) g_bInterpolate = 1;
        g_bBestDisplayMode = 0;
        return;
    }
    // The component is looked for when the system is new enough or when its helper library lies in
    // the program folder.
    int bTry = g_nOSCode >= 65;
    if (!bTry) {
        char szName[KX_MAX_PATH];
        FormatText(szName, sizeof szName, "%s\\d3dx9_43.dll", g_szExeDir);
        FILE_LOCATION loc{};
        bTry = LocateFile(&loc, szName, 0) > 0;
    }
    if (!bTry || LoadEmoteDLL() != 0) {
        DebugTrace("E-mote", "The E-mote component is not installed: PSB images keep their placeholder picture.");
        return;
    }
    g_bDirect3D = 1;
    g_bGpuPresent = 0;
    if (g_bInterpolate > 1) g_bInterpolate = 1;
    g_bBestDisplayMode = 0;
}

// CPU drawing in place of Direct3D.
static void FallBackToCpuDrawing(void)
{
    g_nDrawMethod = 0;
    g_bInterpolate = 1;
    g_bDirect3D = 0;
    g_bGpuPresent = 0;
}

int8_t StartEngine(void)
{
    const ENGINE_HOOKS& h = g_EngineHooks;
    s_bShutdownDone = 0;

    CopyCommandLineArgs(g_szExePath, s_aEngineArgs);
    LoadUserSettings();
    InitSaveFolder();
    h.pfnInitPixelOps();

    ReadSystemMetrics();
    if (g_nOSCode >= 1 && g_nOSCode <= 19) {
        ShowMessageBox(GetEngineText(TXT_CAPTION_ERROR), "%s", GetEngineText(TXT_START_OLD_WINDOWS));
        return -1;
    }
    InitPackNameTable();
    if (HandleCommandLineSwitch()) {
        s_bEndedAsAsked = 1;
        return -1;
    }
    LoadCodecLibraries();
    if (BuildPackIndex() != 0) return -1;
    if (!g_bSnpLoaded) return -1;

    // From here on a second copy is refused when it runs from the same folder, whatever its name.
    if (!g_bAppendedData) {
        const int nFolder = TakeInstanceMutex(KX_MUTEX_FOLDER, g_szFolderMutexName);
        if (nFolder == -2) {
            TellLockFailure();
            s_bLockFailureTold = 1;
            return -1;
        }
        if (nFolder != 0) {
            s_bEndedAsAsked = 1;
            ActivateRunningInstance(g_szInstanceName);
            ReleaseInstanceMutexes();
            return -1;
        }
        ReleaseInstanceMutex(KX_MUTEX_INSTANCE);
    }
    if (g_bPackedData) {
        CopyTextBounded(g_szWorkDir, sizeof g_szWorkDir, g_szExeDir);
    } else if (h.pfnRunCompilerLink() != 0) {
        return -1;
    }
    InitEngineOnce();
    ProbeFolderWritable();

    if (CreateWindowStates() != 0) return -1;
    if (LoadEngineConfig() != 0) return -1;
    if (g_bDisableComposition && g_nOSCode >= 65) DisableDesktopComposition();
    // Frames never run without the scaled-frame buffer, so start-up ends here rather than leaving
    // a hidden window that nothing can close.
    if (SetupScreenSizes() != 0) return -1;

    WINDOW_STATE* pMain = g_apWindowState[0];
    ResetWindowState(pMain, g_szWindowTitle);
    g_anWindowCreated[0] = 1;
    if (!CreateGameWindow(pMain, g_nCmdShow, g_szInstanceName, g_szWindowTitle)) {
        ShowMessageBox(GetEngineText(TXT_CAPTION_ERROR), "%s", GetEngineText(TXT_START_NO_WINDOW));
        return -1;
    }

    InitTimerResolution();
    g_nFullscreenBits = g_nDesktopBits;
    h.pfnCreateMenuHostWindow();
    if (CreateObjectTrees() != 0) return -1;

    if (g_nSoundMode != 0) {
        if (h.pfnInitDirectSound() == 0) {
            g_nSoundMode = 1;
        } else {
            const int bRequired = g_nSoundMode == 2;
            g_nSoundMode = 0;
            if (bRequired) return -1;
        }
    }
    g_bJoystickPresent = h.pfnInitJoysticks() == 1;
    g_dwFrameTime = 0;
    PlatGetLocalTime(&g_stStartTime);

    LoadEmoteAndDirect3D();
    if (g_nOSCode >= 80) LoadTouchLibrary();
    LoadWebPDLL();
    if (g_bDirect3D) DumpSystemInfo();

    // A fatal error reported while the scripts loaded fails the start as a failed step does,
    // whichever step reported it.
    if (h.pfnStartScriptSystem() != 0 || WasFatalErrorReported()) {
        RequestQuit();
        return 1;
    }
    h.pfnStartWorkerThreads();
    if (h.pfnStartSoundSystem() != 0) return -1;
    if (WasFatalErrorReported()) return -1;
    StartFrameThread();
    h.pfnSetFullscreen(0);
    h.pfnStartScriptTimers();
    h.pfnClearMemorySaveSlots();

    if (g_bDirect3D) {
        const int r = h.pfnInitDirect3D();
        if (r == 1) {
            FallBackToCpuDrawing();
            ShowMessageBox("", "%s", GetEngineText(TXT_START_GPU_FALLBACK));
        } else if (r < 0) {
            FallBackToCpuDrawing();
            StopEngineForError();
            return -1;
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Shut-down

static uint8_t ReadThreadState(const uint8_t* pbState)
{
    PlatLockEnter(g_csEngine);
    const uint8_t b = *pbState;
    PlatLockLeave(g_csEngine);
    return b;
}

void ShutdownEngine(void)
{
    if (s_bShutdownDone) return;
    s_bShutdownDone = 1;
    const ENGINE_HOOKS& h = g_EngineHooks;

    // Every quit path sets the stop flag before the loop ends; setting it again here makes sure the
    // threads waited for below see it.
    g_bEngineStop = 1;
    // The sound thread may be showing its error box, which the window thread draws: the wait serves it.
    PlatWaitUntil([](void*) { return ReadThreadState(&g_bSoundThreadState) != KX_THREAD_RUNNING ? 1 : 0; }, nullptr, 1);
    WaitFrameThread();
    h.pfnStopWorkerThreads();

    if (g_bEmoteAvailable) h.pfnReleaseEmotePlayers();
    if (g_bDirect3D) h.pfnReleaseDirect3D();
    h.pfnReleaseWindowMovies();
    h.pfnReleaseDirectSound();
    h.pfnDestroyMenus();
    if (g_bFullscreen && h.pfnLeaveFullscreen() == 0) {
        g_bFullscreen = 0;
        g_bMaximized = 0;
    }
    // The cursor is given back visible, whatever the game last asked for.
    PlatShowCursor(1);
    EndTimerResolution();
    h.pfnFreeTextRenderSlots();
    h.pfnFreePendingRecords();
    h.pfnReleaseFlashControl();
    h.pfnShutdownDiagnostics();
    UnloadTouchLibrary();
    UnloadCodecLibraries();
    UnloadEmoteDLL();
    g_bDirect3D = 0;
    // Every thread that could touch the trees has ended: the nodes and their records go last.
    FreeObjectTrees();
}
