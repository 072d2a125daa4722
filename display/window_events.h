// What the window procedure records for the scripts: the last menu command, key and mouse button,
// the window requests that are left to the script, the shared file list, and the mouse position of
// each engine window in game coordinates.
#pragma once
#include <cstdint>

// Id of the last menu command (30001 for the system menu's window-size reset).
extern int64_t g_llMenuCommand;
// Virtual key of the last key press.
extern int32_t g_nLastKeyDown;
// Last mouse button pressed: 1 left, 2 right, 4 middle.
extern int32_t g_nLastMouseButton;
// Window index + 1 of the last maximise and minimise requests, whether carried out or not.
extern uint8_t g_nMaximizeEvent;
extern uint8_t g_nMinimizeEvent;
// A close was requested on a window whose close is left to the script.
extern uint8_t g_bCloseEvent;
// Window index + 1 of the last caption double-click.
extern uint8_t g_nCaptionDblClick;

// The shared file list: the names of the last dropped files, or the system command's folder
// listing (cp932 heap texts). Read and replaced under g_csEngine. The array always ends with a NULL
// entry, so its real length is known even after a script has written another count into
// g_nFileListCount; whoever replaces the list frees the entries up to that NULL.
extern int32_t g_nFileListCount;
extern char** g_apszFileList;

// The mouse position of window nWindow (0..3) in game coordinates, as sampled by the input step;
// (0, 0) for a window without a handle or an index outside 0..3.
void GetWindowMousePos(int nWindow, int32_t* pnX, int32_t* pnY);
