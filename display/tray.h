// The tray command (slot 100): the main window's notification-area icon with its tooltip, its
// picture made from a 16 x 16 layer (or the program's own icon) and its popup menu; and the icon
// made from a layer that it shares with the mouse command's cursors.
#pragma once
#include <cstdint>

#include "platform/plat_window.h"

struct TREE_NODE;

// The icon's id and callback message on the main window.
enum { KX_TRAY_ID = 123, KX_TRAY_CALLBACK = 0x040A, KX_TRAY_TIP_BYTES = 64, KX_TRAY_ICON_SIZE = 16 };

// 1 while the icon is shown.
extern uint8_t g_bTrayIconShown;
// The icon made from a layer (0: the program's own icon is shown).
extern PLAT_CURSOR g_hTrayCustomIcon;
// The last tooltip given (cp932, at most 63 bytes).
extern char g_szTrayTip[KX_TRAY_TIP_BYTES];

// A cursor (bIcon 0, box texts "CURSOR ...") or icon (bIcon 1, "ICON ...") made from the node's
// layer, which must be exactly nWidth x nHeight: else the box "... ERR." with those numbers. A layer
// without a picture shows the "CreateDIBSection" box, one the window system refuses (larger than a
// cursor can be) the "CreateIconIndirect" box. The handle, or 0 after the box.
PLAT_CURSOR CreateCursorFromLayer(PLAT_HWND hwnd, TREE_NODE* pNode, int32_t nWidth, int32_t nHeight, int32_t nHotX,
                                  int32_t nHotY, int bIcon);

// Takes the icon away when it is shown, and destroys the icon made from a layer.
void RemoveTrayIcon(void);
// Forgets the icon's state (a new run, or a test); nothing is destroyed.
void ResetTrayIconState(void);

int CmdTrayIcon(void);
