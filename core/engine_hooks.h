// Steps that start-up, the frame step and shut-down take in subsystems that are brought in one by
// one. Each is a plain function pointer; a subsystem installs its functions when it is linked in.
// A hook left NULL is skipped and counts as success, so a missing part never stops the engine.
#pragma once
#include <cstdint>

struct ENGINE_HOOKS {
    // Start-up
    void (*pfnInitPixelOps)(void);
    int (*pfnRunCompilerLink)(void);            // development layout; 0 or non-zero
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
    int (*pfnRenderWindowCPU)(int nWindow);     // 0, or non-zero: the frame ends and the engine quits
    void (*pfnShowMainWindowFirstFrame)(void);
    void (*pfnAdvanceEmotePlayers)(uint32_t dwElapsed);
    int (*pfnIsAnyEmotePlayerBusy)(void);
    void (*pfnRequestFullRedraw)(void);
    void (*pfnUpdateMenuBarAutoShow)(void);
    int (*pfnPresentWindowCPU)(int nWindow);    // 0, or non-zero: the frame ends and the engine quits
    void (*pfnResetDirtyRects)(void);
    void (*pfnServePopupMenuRequest)(void);
    // Scheduler and quit request
    int (*pfnGetCursorScreenPos)(int32_t* pX, int32_t* pY);  // 0 with the cursor in screen pixels
    void (*pfnSetMainWindowCloseMode)(int nMode);            // 2: the next WM_CLOSE closes at once
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
};

extern ENGINE_HOOKS g_EngineHooks;
