// The core's globals back at their start values (see core/core_state.h).
#include "core/core_state.h"

#include <cstdlib>
#include <cstring>

#include "core/appended_data.h"
#include "core/compiler_link.h"
#include "core/cp932.h"
#include "core/engine_globals.h"
#include "core/engine_tables.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/game_config.h"
#include "core/input.h"
#include "core/input_state.h"
#include "core/kx_format_consts.h"
#include "core/object_tree.h"
#include "core/pack_archive.h"
#include "core/preload_cache.h"
#include "core/script_thread.h"
#include "core/settings.h"
#include "core/sysfacts.h"
#include "core/window_record.h"
#include "platform/plat_window.h"

namespace {

void ResetEngineGlobals(void)
{
    g_bEngineStop = 0;
    g_szExeDir[0] = g_szExePath[0] = g_szAppDataDir[0] = g_szDocumentsDir[0] = '\0';
    g_szExeFile[0] = '\0';
    g_szInstanceName[0] = g_szFolderMutexName[0] = g_szWorkDir[0] = '\0';
    g_nCmdShow = PLAT_SW_SHOWNORMAL;
    g_bRestartAtExit = 0;
    g_bSoundThreadState = KX_THREAD_NOT_STARTED;
    g_bFolderReadOnly = 0;
    g_bEngineOnceDone = 0;
    std::memset(g_abSwitchTable, 0, sizeof g_abSwitchTable);
    // The scaled-frame buffer is the engine's own (aligned_alloc, freed with free()).
    std::free(g_pOutputBuffer);
    g_pOutputBuffer = nullptr;
    g_nOutputWidth = g_nOutputHeight = 0;
    g_nTargetWidth = g_nTargetHeight = 0;
    g_bDirect3D = 0;
    g_bEmoteAvailable = 0;
    g_bGpuDirect = 0;
    g_bJoystickPresent = 0;
    g_stStartTime = PLAT_LOCAL_TIME{};
    g_nWindowBackend = PLAT_BACKEND_SDL;

    g_bAppendedData = 0;
    g_dwBareExeSize = 0;
    g_qwPackOffset = 0;
    g_bScreenSaver = 0;
    // The compiler's file table belongs to the compiler that handed it over.
    g_apCompilerFiles = nullptr;
    g_nCompilerFiles = 0;
}

void ResetFrameLoop(void)
{
    g_nFps = 60;
    g_bFrameSkip = 1;
    g_dwFrameTime = 0;
    g_llFrameCount = 0;
    g_llPassCount = 0;
    g_llRerunPass = 0;
    g_llResumeKey = 0;
    g_bFrameHold = 0;
    g_bThreadedFrames = 0;
    g_bRunning = 1;
    g_hMainWnd = 0;
    g_bFrameThreadState = KX_THREAD_NOT_STARTED;
    for (auto& b : g_abPaintOwed) b = 0;
    g_pCurThread = nullptr;
    g_pCurThreadNode = nullptr;
    g_nCurCommand = 0;
    g_bEnginePaused = 0;
    g_bRunInBackground = 1;
    g_bCaptionDragPause = 0;
    ResetFrameState();
}

void ResetGameConfig(void)
{
    static const uint8_t abImageExtOrder[8] = {1, 2, 3, 4, 5, 6, 0, 0};
    static const uint8_t abSoundExtOrder[4] = {1, 2, 0, 0};
    g_bDebug = 0;
    std::memcpy(g_abImageExtOrder, abImageExtOrder, sizeof g_abImageExtOrder);
    std::memcpy(g_abSoundExtOrder, abSoundExtOrder, sizeof g_abSoundExtOrder);
    g_bDevSourceOrder = 0;
    g_bReleaseSourceOrder = 0;
    g_nScreenWidth = 640;
    g_nScreenHeight = 480;
    CopyTextBounded(g_szWindowTitle, sizeof g_szWindowTitle, "KOLVEX");
    g_nSoundMode = 1;
    g_bResizable = 0;
    g_bFramedWindow = 1;
    g_bConfigSpare = 0;
    g_nScreenTexWidth = 0;
    g_nScreenTexHeight = 0;
}

void ResetInput(void)
{
    std::memset(g_abKeyState, 0, sizeof g_abKeyState);
    std::memset(g_abKeyMode, 0, sizeof g_abKeyMode);
    std::memset(g_allKeyCounter, 0, sizeof g_allKeyCounter);
    std::memset(g_allKeyPresses, 0, sizeof g_allKeyPresses);
    g_bKeyboardSwitch = 1;
    g_bJoystickSwitch = 0;
    g_bMouseSwitch = 1;
    g_nActiveWindow = -1;
    g_nWheelDelta = 0;
    g_bMouseMoved = 0;
    g_nDragRequestWindow = 0;
    g_nDragRequestX = g_nDragRequestY = 0;
    g_nJoystickCount = 0;
    std::memset(g_abJoystickConnected, 0, sizeof g_abJoystickConnected);
}

void ResetFilesAndSettings(void)
{
    FreePackIndex();
    g_bPackedData = 0;
    // The preload lists hold the names and bytes of whoever filled them; emptied, not freed.
    std::memset(g_aPreloadCache, 0, sizeof g_aPreloadCache);
    std::memset(g_anPreloadCount, 0, sizeof g_anPreloadCount);
    ResetUserSettings();
    for (char*& psz : g_apszCmdLineArgs) {
        std::free(psz);
        psz = nullptr;
    }
    g_nCmdLineArgCount = 0;
    g_szSaveFolder[0] = '\0';
}

void ResetSystemFacts(void)
{
    g_nOSCode = KX_OS_CODE_LINUX;
    g_nCPUs = 1;
    g_nWorkers = 1;
    g_nDesktopWidth = g_nDesktopHeight = g_nDesktopBits = 0;
    g_nDesktopRefresh = -1;
    g_nDirectXVersion = 0;
}

void ResetWindowRecordValues(void)
{
    for (int32_t& n : g_anWindowCreated) n = -1;
    g_nFullscreenBits = 32;
    g_bFullscreen = 0;
    g_bMaximized = 0;
    g_nOutputOffsetX = g_nOutputOffsetY = 0;
    g_llMenuCommand = 0;
    g_nLastKeyDown = 0;
    g_nLastMouseButton = 0;
    g_nMaximizeEvent = g_nMinimizeEvent = 0;
    g_bCloseEvent = 0;
    g_nCaptionDblClick = 0;
    // The file list's texts are freed by the display's reset, which runs first.
}

}  // namespace

void ResetCoreState(void)
{
    // Trees first: their payloads are released through the hooks while the rest still stands.
    FreeObjectTrees();
    ResetObjectTreePaths();
    ResetEngineGlobals();
    ResetFrameLoop();
    ResetGameConfig();
    ResetInput();
    ResetFilesAndSettings();
    ResetSystemFacts();
    ResetWindowRecordValues();
    ResetErrorStateForRun();
}
