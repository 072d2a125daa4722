// Monitors, their display modes and fullscreen windows, in place of the Win32 monitor and
// display-settings functions.
//
// A monitor's mode is never changed. A fullscreen window is a borderless window that covers its
// monitor at the mode the desktop runs in; whoever draws into it scales the picture itself. Nothing
// of another program moves, and a program that ends in any way leaves the desktop as it was.
//
// The display model follows the window backend that PlatInitWindowSystem started: the SDL one asks
// the window system; the Fake one (tests) holds monitors, work areas, modes and refusals that the
// test sets. The calls may come from any thread; they run on the window thread.
#pragma once
#include <cstdint>

#include "platform/plat_window.h"

struct PLAT_DISPLAY_MODE {
    int32_t nWidth, nHeight;
    int32_t nBits;       // bits per pixel; a 24-bit colour stored in 32-bit pixels counts as 32
    int32_t nRefresh;    // Hz, 0 when unknown
};

struct PLAT_MONITOR_INFO {
    PLAT_RECT rcMonitor;         // the monitor in screen pixels
    PLAT_RECT rcWork;            // the part that panels and docks leave free
    PLAT_DISPLAY_MODE desktop;   // the mode the monitor runs in
};

// Monitors in the window system's order (0 is the primary one). 0 when no window system runs.
int PlatGetMonitorCount(void);
// 0, or -1 for a monitor that is not there.
int PlatGetMonitorInfo(int nMonitor, PLAT_MONITOR_INFO* pOut);
// The monitor that holds the point, else the nearest one; -1 when there is no monitor.
int PlatMonitorFromPoint(int32_t x, int32_t y);
// The monitor's display modes from nMode 0 on: 0 with *pOut filled, or -1 past the last one.
int PlatGetDisplayMode(int nMonitor, int nMode, PLAT_DISPLAY_MODE* pOut);

// Makes a top-level window cover the monitor: its client becomes the monitor's rectangle (WM_MOVE
// and WM_SIZE follow). The client rectangle it had is kept for PlatLeaveWindowFullscreen. 0, or -1
// when the window system refuses (the window stays as it was) or the window or monitor is not there.
int PlatSetWindowFullscreen(PLAT_HWND hwnd, int nMonitor);
// Gives a fullscreen window back the client rectangle it had before (WM_MOVE and WM_SIZE follow).
// 0, also for a window that is not fullscreen (nothing changes); -1 when hwnd names no window.
int PlatLeaveWindowFullscreen(PLAT_HWND hwnd);
int PlatIsWindowFullscreen(PLAT_HWND hwnd);
// The client rectangle in screen pixels as the window system has it now (the Fake: the record). 0
// or -1. Tests compare it with what the window should be.
int PlatReadWindowClientRect(PLAT_HWND hwnd, PLAT_RECT* pOut);

// Moves the mouse cursor to a screen position (PlatGetCursorPos then answers it). 0, or -1 when the
// window system cannot move the cursor (the position is still noted).
int PlatSetCursorPos(int32_t x, int32_t y);

// Lets the screen saver (and the display's power saving) start while the program runs (bAllow 1),
// or keeps it off (0, the state a window system starts in). Any thread.
void PlatAllowScreenSaver(int bAllow);
// What PlatAllowScreenSaver last asked for (0 at start).
int PlatIsScreenSaverAllowed(void);

// ---- Fake backend: the monitors tests set up ---------------------------------------------------

struct PLAT_FAKE_MONITOR {
    PLAT_MONITOR_INFO info;
    const PLAT_DISPLAY_MODE* pModes;   // its display modes, in order; copied
    int nModes;
};
// Replaces the Fake monitors (copied). NULL or 0 gives back the default: one monitor at 0,0 with
// the desktop's size (PlatGetDesktopInfo), its work area the whole monitor, its one mode the
// desktop's.
void PlatFakeSetMonitors(const PLAT_FAKE_MONITOR* pMonitors, int nCount);
// While set, the Fake window system refuses to make a window fullscreen.
void PlatFakeRefuseFullscreen(int bRefuse);
