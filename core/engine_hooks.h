// The engine core's hook table: the steps that start-up, the frame step and shut-down take in the
// subsystems above the core, and every other call the core makes upward (the trees' payloads, the
// script location of an error, the cursor and the pause). The core owns the table and calls
// through it; the composition root (root/wiring.cpp) installs every slot before anything runs, so
// no slot is ever NULL and no caller tests for it. Tests put their own functions into single slots and reinstall the wiring
// afterwards.
#pragma once
#include <cstdint>

struct TREE_NODE;
struct SCRIPT_THREAD;
struct SOUND_CHANNEL;
struct MENU_ITEM;

struct ENGINE_HOOKS {
    // Start-up
    void (*pfnInitPixelOps)(void);
    int (*pfnRunCompilerLink)(void);            // development layout; 0 or non-zero
    void (*pfnInitEngineOnce)(void);            // the once-only tables; the compiler link runs it early
    int (*pfnInitDirectSound)(void);            // 0, or non-zero when no sound device opens
    int (*pfnInitJoysticks)(void);              // 1 when a joystick is present
    void (*pfnCreateMenuHostWindow)(void);
    int (*pfnStartScriptSystem)(void);          // 0, or non-zero: the scripts cannot run
    void (*pfnStartWorkerThreads)(void);
    int (*pfnStartSoundSystem)(void);           // 0, or non-zero: start-up stops
    void (*pfnSetFullscreen)(int bOn);
    void (*pfnStartScriptTimers)(void);
    void (*pfnClearMemorySaveSlots)(void);
    int (*pfnInitDirect3D)(void);               // 0, 1 fall back to CPU drawing, -1 stop
    // Once-only tables
    void (*pfnInitBlendTables)(void);
    void (*pfnInitEvaluatorTables)(void);
    void (*pfnRegisterKeyHandlers)(void);
    void (*pfnRegisterElemOps)(void);
    void (*pfnRegisterExprOps)(int bMode);
    void (*pfnCreateTextBuffer)(void);
    void (*pfnInitFontList)(void);
    // Frame step
    void (*pfnPollInput)(void);
    void (*pfnAdvanceOgvMovie)(void);
    void (*pfnUpdateInputState)(void);
    void (*pfnClearTextBuffer)(void);
    void (*pfnApplyPendingLayerProps)(void);
    int (*pfnIsWindowMovieOwningScreen)(void);  // 1 while a window movie owns the main window
    int (*pfnRenderWindowCPU)(int nWindow);     // 0; non-zero ends the frame and quits (-1: a failure, status 1)
    void (*pfnShowMainWindowFirstFrame)(void);
    void (*pfnAdvanceEmotePlayers)(uint32_t dwElapsed);
    int (*pfnIsAnyEmotePlayerBusy)(void);
    void (*pfnRequestFullRedraw)(void);
    void (*pfnUpdateMenuBarAutoShow)(void);
    int (*pfnPresentWindowCPU)(int nWindow);    // 0; non-zero ends the frame and quits (-1: a failure, status 1)
    void (*pfnResetDirtyRects)(void);
    void (*pfnServePopupMenuRequest)(void);
    void (*pfnEndFrameDiagnostics)(void);       // the diagnostic switches' count at every frame's end
    // Scheduler, input, errors and the quit request
    int (*pfnGetCursorScreenPos)(int32_t* pX, int32_t* pY);  // 0 with the cursor in screen pixels
    void (*pfnSetMainWindowCloseMode)(int nMode);            // 2: the next WM_CLOSE closes at once
    void (*pfnUpdateCursorAutoHide)(void);
    void (*pfnUpdatePauseState)(void);          // follows the main window's active state
    void (*pfnRequestCursorShow)(void);         // an error box is about to ask the player
    // Where the running script is, for the header of script errors: 1 with the script file name
    // and source line of the current command when a script thread is current, else 0.
    int (*pfnGetScriptLocation)(const char** ppszFile, int* pnLine);
    // The name of the command the current script thread runs (cp932), for the line every error
    // report writes; NULL when no script thread is current or the command is unknown.
    const char* (*pfnGetScriptCommand)(void);
    // The four object trees' payloads
    int (*pfnSetUpLayerTree)(TREE_NODE* pRoot, int32_t nWidth, int32_t nHeight);  // 0, or -1
    void (*pfnFreeLayerTree)(TREE_NODE* pRoot);
    SCRIPT_THREAD* (*pfnAttachScriptThread)(TREE_NODE* pNode);
    void (*pfnFreeScriptThread)(SCRIPT_THREAD* pThread);
    SOUND_CHANNEL* (*pfnAttachSoundChannel)(TREE_NODE* pNode);
    void (*pfnReleaseSoundChannel)(SOUND_CHANNEL* pChannel);
    MENU_ITEM* (*pfnAttachMenuItem)(TREE_NODE* pNode, const char* pszCaption);
    void (*pfnReleaseMenuItem)(MENU_ITEM* pItem);
    // Shut-down
    void (*pfnStopWorkerThreads)(void);
    void (*pfnReleaseEmotePlayers)(void);
    void (*pfnReleaseDirect3D)(void);
    void (*pfnReleaseWindowMovies)(void);
    void (*pfnReleaseDirectSound)(void);
    void (*pfnDestroyMenus)(void);
    int (*pfnLeaveFullscreen)(void);
    void (*pfnFreeTextRenderSlots)(void);
    void (*pfnFreePendingRecords)(void);
    void (*pfnReleaseFlashControl)(void);
    void (*pfnShutdownDiagnostics)(void);       // the diagnostic switches' last step
};

extern ENGINE_HOOKS g_EngineHooks;
