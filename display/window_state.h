// Window records and window creation: the four WINDOW_STATE records (window 0 is the main window,
// 1..3 are sub windows a script creates), their construction and reset, the window styles and
// geometry, the window's back layer, the scaled-frame buffer's size, and the thin window wrappers
// other code calls.
#pragma once
#include <cstdint>

#include "core/window_record.h"
#include "platform/plat_window.h"

struct TREE_NODE;
struct LAYER;

// The window procedure every engine window is created with. The window-message code installs its
// procedure here; the default closes, destroys and paints (DefaultGameWndProc).
extern PLAT_WNDPROC g_pfnMainWindowProc;
intptr_t DefaultGameWndProc(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam);

// The record of a window handle, or NULL.
WINDOW_STATE* FindWindowState(PLAT_HWND hwnd);

// The layer set link (a group node) and back layer of window 0..3; NULL for another index. The
// layer code reaches them through g_LayerHooks.
TREE_NODE** WindowLayerSetSlot(int nWindow);
LAYER* WindowBackLayer(int nWindow);

// Allocates the four records (once), constructs them, and connects the layer code to the windows'
// layer sets and back layers (g_LayerHooks). The main window's logical size is the configured
// screen size. 0, or -1 when a record cannot be allocated.
int CreateWindowStates(void);
// Stores the index and clears the fields a new window starts without.
void ConstructWindowState(WINDOW_STATE* pState, int nIndex);
// Prepares a record for a new window with the title (cut at a whole character). 0.
int ResetWindowState(WINDOW_STATE* pState, const char* pszTitle);
// Clears the bitmap header and sets it to the record's logical size, 32 bits.
void InitWindowBitmapInfo(WINDOW_STATE* pState);

// The style and extended style a record's window is created with.
void GetGameWindowStyles(const WINDOW_STATE* pState, uint32_t* pnStyle, uint32_t* pnExStyle);
// Creates the record's window, hidden, with the client at the logical size: the main window (and
// every window without a frame) centred on the work area, a framed sub window at 0,0. Adds the
// system-menu item to the main window and makes the back layer. The main window's handle also goes
// to g_hMainWnd. 1, or 0 when the window or its back layer cannot be made.
int CreateGameWindow(WINDOW_STATE* pState, int nCmdShow, const char* pszClass, const char* pszTitle);
// A sub window (1..3) on a script's demand: nWidth/nHeight <= 0 mean 128. The class is
// "<instance name>_sub_<index>"; the window is shown and the record reset with its title. 0, or -1
// when the window cannot be made. (The title check and its script error belong to the command.)
int CreateSubWindow(int nIndex, int32_t nWidth, int32_t nHeight, const char* pszTitle);
// Writes the class name of window nIndex (0: the instance name). 0, or -1 when it does not fit.
int MakeWindowClassName(int nIndex, char* pszOut, int nCap);

// Replaces the window's back layer by a cleared, visible, opaque width x height layer. 0, or 1 after
// a reported error (the window then has no back layer).
int CreateWindowBackLayer(int nIndex, int32_t nWidth, int32_t nHeight);
// Fills the window's drawing area (the target size) black. 0.
int ClearWindowBlack(WINDOW_STATE* pState);

// The system menu of a window as the platform keeps no menus of its own: items from the top,
// id 0 for a separator. Returns the number of items; fills up to nCap entries.
struct WINDOW_MENU_ITEM {
    uint32_t nId;
    const char* pszText;   // cp932; NULL for a separator
};
int GetWindowSystemMenu(int nIndex, WINDOW_MENU_ITEM* pItems, int nCap);

// The size of the picture as shown in the main window. Reallocates the scaled-frame buffer
// (g_pOutputBuffer) when it is too small for the new size (it never shrinks). 0; -1 after a reported
// error (too wide: message box and 100010; no memory: 104030), the buffer is then NULL and the size
// 0 x 0, so presentation shows nothing.
int SetOutputSize(int32_t nWidth, int32_t nHeight);
// Capacity of the scaled-frame buffer in pixels.
int64_t GetOutputBufferCapacity(void);

// The main window's screen sizes at start-up: target = logical size (the monitor in a screen-saver
// build), output = logical size or half the monitor when the logical size exceeds it. 0 or -1.
int SetupMainWindowSizes(void);

// Thin window wrappers.
int MoveWindowTo(PLAT_HWND hwnd, int x, int y);
uint32_t GetWindowStyle(PLAT_HWND hwnd);
int SetWindowStyle(PLAT_HWND hwnd, uint32_t nStyle);
int PlaceWindowBehind(PLAT_HWND hwnd, PLAT_HWND hwndOther);
// Flashes the taskbar entry. 0, or -1 when the platform cannot.
int FlashWindowTray(PLAT_HWND hwnd, int nIntervalMs, int nCount);

// The running copy's answer to a second start (window thread): restores the main window when it is
// minimised. pUser is not used.
void ActivateMainWindow(void* pUser);

// Diagnostic switches read from the environment at start-up:
//  KOLVEX_QUIT_AFTER_FRAMES=N  ends the run after N frames, as a quit request;
//  KOLVEX_SCREENSHOT=file.png  writes window 0's presented picture as PNG when the run ends;
//  KOLVEX_SCREENSHOT_AT_FRAMES=N,M  with it, also writes the picture of frames N, M (rising) as
//                              file-N.png, file-M.png while the run goes on;
//  KOLVEX_AUDIO=framewav:FILE  (read by the sound output) is mixed here, one frame's share per frame;
//  KOLVEX_CLICK_AT_FRAMES=N,M  presses the left button in the middle of the picture at frames N, M
//                              (rising), releasing it two frames later each time; an entry N@X:Y
//                              presses at the point (X, Y) of the game screen instead.
// Reads them; unset switches do nothing.
void InstallDiagnosticSwitches(void);
// The switches' step at the end of every frame (clicks, the count towards the quit) and their last
// step at shut-down (the screenshot).
void DiagnosticFrameEnd(void);
void DiagnosticShutdown(void);
// The main window is being destroyed (window thread): while a window movie plays in it, the
// screenshot keeps what it shows, since by shut-down the window is gone.
void DiagnosticMainWindowClosing(void);
// Writes window 0's presented picture (the platform framebuffer) as a PNG file (path in the host's
// encoding). 0 or -1.
int SaveWindowScreenshot(const char* pszHostPath);
