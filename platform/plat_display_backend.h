// What the display model shares with its backends (Fake and SDL); the engine does not include this.
#pragma once
#include <cstdint>

#include "platform/plat_display.h"
#include "platform/plat_window_backend.h"

// Window thread only.
struct PLAT_DISPLAY_BACKEND {
    int (*pfnMonitorCount)(void);
    int (*pfnMonitorInfo)(int nMonitor, PLAT_MONITOR_INFO* pOut);
    int (*pfnDisplayMode)(int nMonitor, int nMode, PLAT_DISPLAY_MODE* pOut);
    // Makes the window cover the monitor (rcMonitor); the record is not changed. 0 or -1.
    int (*pfnEnterFullscreen)(PLAT_WINDOW_REC* pRec, const PLAT_RECT* pMonitor);
    // Ends the window's fullscreen state; the record's geometry is applied afterwards.
    void (*pfnLeaveFullscreen)(PLAT_WINDOW_REC* pRec);
    // The client rectangle as the window system has it. 0 or -1.
    int (*pfnReadClientRect)(PLAT_WINDOW_REC* pRec, PLAT_RECT* pOut);
    int (*pfnWarpCursor)(int32_t x, int32_t y);
    // Hands the record's size limits (client sizes, 0: none) to the window system.
    void (*pfnApplySizeLimits)(PLAT_WINDOW_REC* pRec);
    // Asks the window manager to move the window with the pointer from the screen point x, y while
    // the left button is held: 0, or -1 when there is no window manager that does so (the program
    // then moves the window itself).
    int (*pfnBeginMove)(PLAT_WINDOW_REC* pRec, int32_t x, int32_t y);
    // The window manager's move ended with the left button's release at x, y, which went to the
    // window manager: the window's own input hears of the release too.
    void (*pfnEndMove)(PLAT_WINDOW_REC* pRec, int32_t x, int32_t y);
    // The pointer in screen pixels and whether the left button is held, as the window system has
    // them now (asked through the window's connection). 0 or -1 (unknown).
    int (*pfnQueryPointer)(PLAT_WINDOW_REC* pRec, int32_t* pX, int32_t* pY, int* pbLeftHeld);
    // Lets the screen saver start (1) or keeps it off while the program runs (0).
    void (*pfnAllowScreenSaver)(int bAllow);
};

extern const PLAT_DISPLAY_BACKEND g_FakeDisplayBackend;
extern const PLAT_DISPLAY_BACKEND g_SdlDisplayBackend;

// PlatInitWindowSystem: the display model of the window backend that starts (PLAT_BACKEND_*);
// windows left fullscreen by an earlier run are forgotten.
void PlatSelectDisplayBackend(int nBackend);
// The display model of the running window system (the Fake one when none runs).
const PLAT_DISPLAY_BACKEND* PlatCurrentDisplayBackend(void);
