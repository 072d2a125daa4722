// What the window core and its backends call of the edit box (platform/plat_editbox.h), on the
// window thread; the engine does not include this.
#pragma once
#include <vector>

#include "platform/plat_window_backend.h"

// A key of the window (after the key states were updated): 1 when the box took it, so that no key
// message goes to the window.
int PlatEditBoxRouteKey(PLAT_HWND hwnd, int nVk, int bDown);
// A mouse event of the window in client coordinates (nButton 0 for a move): 1 when the box took it.
int PlatEditBoxRouteMouse(PLAT_HWND hwnd, int nButton, int bDown, int x, int y);
// What the window shows: as PlatMenuComposeWindow, with the edit box drawn over the retained
// picture below the menus.
int PlatComposeWindow(PLAT_WINDOW_REC* pRec, std::vector<uint32_t>* pOut, int* pW, int* pH);
// 1 when something is drawn over the window's retained picture (the edit box, an open menu, a child
// window's bar), so that what the window shows of a part of the picture is not the picture alone.
int PlatWindowHasOverlay(const PLAT_WINDOW_REC* pRec);
// The window system ends: the box's font is closed.
void PlatEditBoxShutdown(void);
