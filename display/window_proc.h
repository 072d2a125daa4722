// The window procedure shared by the four game windows: it turns window messages into engine state
// (the input events, the window requests left to the scripts, the closing protocol with its quit
// question, dropped files, the tray icon's clicks) and keeps the main window's geometry at the
// game's aspect. Window thread only.
//
// What the platform cannot report on Linux (the window manager owns the decorations): drags of the
// window manager's own caption and caption double-clicks never arrive from a real window; the
// handlers stay and are reached by injected messages (a drag the program starts from its click layer
// does arrive: WM_NCLBUTTONDOWN, the platform's move, WM_EXITSIZEMOVE). WM_GETMINMAXINFO is asked
// by the platform whenever the frame or the show state changes, and its answer goes to the window
// manager. A resize done by the window manager is brought back to the game's aspect by WM_SIZE
// instead of WM_SIZING.
// Touch gestures have no source and fall to the default. The window movie's notifications come from
// the platform's movie back end.
#pragma once
#include <cstdint>

#include "core/window_record.h"
#include "platform/plat_window.h"
#include "platform/plat_window_limits.h"

struct WINDOW_STATE;

// Message numbers the platform does not name.
enum : uint32_t {
    KX_WM_TRAY_NOTIFY = 0x040A,     // the tray icon's callback (wParam icon id, lParam mouse message)
    KX_WM_GRAPH_NOTIFY = 0x8001,    // a window movie's event is queued
    KX_WM_MCI_NOTIFY = 0x03B9,      // MM_MCINOTIFY: wParam 1 the movie ended, 8 it failed
};
enum { KX_TRAY_ICON_ID = 123, KX_HTCAPTION = 2 };
// WM_SIZING edges.
enum { KX_WMSZ_LEFT = 1, KX_WMSZ_RIGHT = 2, KX_WMSZ_TOP = 3, KX_WMSZ_TOPLEFT = 4, KX_WMSZ_TOPRIGHT = 5,
       KX_WMSZ_BOTTOM = 6, KX_WMSZ_BOTTOMLEFT = 7, KX_WMSZ_BOTTOMRIGHT = 8 };
// At most this many dropped names are kept.
enum { KX_DROP_MAX_FILES = 65536 };

// Globals of the procedure that the frame step reads. The mouse-moved byte, the wheel delta and the
// drag request belong to the input step (core/input.h).
extern uint8_t g_nPopupMenuRequest;       // 2: the frame step opens the tray popup menu
extern int32_t g_nPopupMenuX, g_nPopupMenuY;  // at this screen position (the cursor's)
extern uint8_t g_bPauseOnCaptionDrag;     // the engine pauses while the caption is dragged
extern uint8_t g_bRestorePending;         // a restore from maximised waits for its WM_WINDOWPOSCHANGED
extern uint8_t g_bFrameChanged;           // the frame style changed: shift once on the next WM_SIZE
extern int32_t g_nSavedFrameWidth, g_nSavedFrameHeight;
// Target and output sizes as they were before maximising (0 while not maximised).
extern int32_t g_nMaxSavedTargetWidth, g_nMaxSavedTargetHeight;
extern int32_t g_nMaxSavedOutputWidth, g_nMaxSavedOutputHeight;
extern uint8_t g_bResetRequest;           // the drawing device must be reset

// The procedure's calls to presentation, the cursor and the window commands go through
// g_DisplayHooks (display/display_hooks.h).

// The procedure of every game window. Messages for a window without a record go to the default.
intptr_t GameWndProc(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam);
// The message table for a window with its record.
intptr_t DispatchWindowMessage(WINDOW_STATE* pState, PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam,
                               intptr_t lParam);
// WM_SYSCOMMAND: 0 swallows the command, 1 lets the default carry it out.
int HandleWmSysCommand(WINDOW_STATE* pState, uintptr_t wParam);
// WM_SIZING: adjusts the proposed outer rectangle so that its client keeps the logical aspect.
// fw, fh: what the frame adds to the client's width and height.
void HandleWmSizing(const WINDOW_STATE* pState, int nEdge, int32_t fw, int32_t fh, PLAT_RECT* pRect);
// WM_GETMINMAXINFO (the main window in its plain windowed state, with an output size): the smallest
// outer size is a quarter of the smaller logical side at the game's aspect, the largest the biggest
// client of that aspect the monitor holds, each with the frame (fw, fh) added. 1 when it answered,
// 0 when the window keeps the default (no limits).
int HandleWmGetMinMaxInfo(const WINDOW_STATE* pState, int32_t fw, int32_t fh, PLAT_MINMAXINFO* pInfo);
// Replaces the shared file list with the drop's names (folders end in '\'). Under g_csEngine.
void HandleWmDropFiles(uintptr_t hDrop);
// Frees the shared file list (entries up to the NULL end); the caller holds g_csEngine.
void FreeFileList(void);

// 1 while the main window is active and not minimised (a window that has not yet been activated
// counts as active).
int IsMainWindowActive(void);
// 1 while a caption drag that paused the engine goes on: the pause is not left for an active window.
// Any thread.
int IsCaptionDragHeld(void);
// The frame step, after the first frame is drawn: the main window, created hidden so that no empty
// window flashes up, is shown unless the game asks to keep it hidden.
void ShowMainWindowFirstFrame(void);
// What a quit request asks of the main window: its close mode, so that the WM_CLOSE it posts ends the run.
void SetMainWindowCloseMode(int nMode);

// Makes GameWndProc the procedure the window records create their windows with and forgets whether
// the main window was ever activated.
void InstallWindowProc(void);
