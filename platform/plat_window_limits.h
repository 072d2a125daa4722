// The limits of a window's size while the user resizes it by its frame, in place of the answer to
// WM_GETMINMAXINFO: the window procedure is asked, and the window system keeps the frame within the
// answer.
#pragma once
#include <cstdint>

#include "platform/plat_window.h"

// What the window procedure fills in for WM_GETMINMAXINFO (lParam points at it): the smallest and
// the largest outer size the user may give the window. A side left at 0 has no limit.
struct PLAT_MINMAXINFO {
    int32_t nMinTrackWidth, nMinTrackHeight;
    int32_t nMaxTrackWidth, nMaxTrackHeight;
};

// Asks the window procedure for its limits (WM_GETMINMAXINFO) and hands them, as client sizes, to
// the window system. The window core asks again whenever the frame or the show state changes; the
// program asks after a change the procedure's answer depends on. Any thread. 0, or -1 when hwnd
// names no top-level window.
int PlatUpdateWindowSizeLimits(PLAT_HWND hwnd);
// The client sizes the user may give the window (0: no limit). 0, or -1 when hwnd names no window.
int PlatGetWindowSizeLimits(PLAT_HWND hwnd, int32_t* pMinW, int32_t* pMinH, int32_t* pMaxW, int32_t* pMaxH);
