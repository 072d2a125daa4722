// The mouse command (slot 69), all on the main window: the cursor mode (hidden, auto-hidden when
// idle, shown), the idle time and the input that reveals an auto-hidden cursor, moving the cursor to
// a game position, a standard cursor, and a cursor made from a layer.
#pragma once
#include "platform/plat_window.h"

// The cursor made from a layer (0: none); destroyed when replaced.
extern PLAT_CURSOR g_hCustomCursor;

// The standard cursor a script's number names: 1 I-beam, 2 wait, 3 cross, 4 up arrow, 5 NW-SE,
// 6 NE-SW, 7 W-E, 8 N-S, 9 all four directions, 10 no, 11 hand, 12 app starting, 13 help; any other
// number the arrow. A PLAT_IDC_ id.
int StandardCursorId(int64_t llNumber);

int CmdMouse(void);
