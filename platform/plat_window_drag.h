// Moving a window with the pointer, as the default action of a press on the caption
// (WM_NCLBUTTONDOWN with HTCAPTION, which a program may also post for a press anywhere on its
// picture): the window manager moves the window where it offers that, else the window follows the
// pointer by the program's own moves. Either way the drag ends when the left button goes up; the
// window then gets WM_EXITSIZEMOVE.
#pragma once
#include <cstdint>

#include "platform/plat_window.h"

enum { PLAT_HTCAPTION = 2 };

// Starts moving the top-level window with the pointer, from the screen point x, y. Window thread;
// PlatDefWindowProc calls it for WM_NCLBUTTONDOWN with PLAT_HTCAPTION. 0, or -1 when nothing is
// moved: no such window, it is maximised or covers its monitor, or the left button is already up.
int PlatBeginWindowDrag(PLAT_HWND hwnd, int32_t x, int32_t y);
// The window being moved now, or 0. Any thread.
PLAT_HWND PlatGetDraggedWindow(void);
// How often a drag was started, and how many of those the window manager carried out (tests and
// diagnostics).
void PlatGetWindowDragCounts(int* pnStarted, int* pnByWindowManager);
