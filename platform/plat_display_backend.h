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
};

extern const PLAT_DISPLAY_BACKEND g_FakeDisplayBackend;
extern const PLAT_DISPLAY_BACKEND g_SdlDisplayBackend;

// PlatInitWindowSystem: the display model of the window backend that starts (PLAT_BACKEND_*);
// windows left fullscreen by an earlier run are forgotten.
void PlatSelectDisplayBackend(int nBackend);
