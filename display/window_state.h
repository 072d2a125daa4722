// Window records and window creation: the four WINDOW_STATE records (window 0 is the main window,
// 1..3 are sub windows a script creates), their construction and reset, the window styles and
// geometry, the window's back layer, the scaled-frame buffer's size, and the thin window wrappers
// other code calls.
#pragma once
#include <cstdint>

#include "platform/plat_window.h"

struct TREE_NODE;
struct LAYER;

enum { KX_WINDOWS = 4, KX_WINDOW_TITLE = 263, KX_WINDOW_MENU_PATH = 256 };

// Size of a sub window the script gives no size for.
enum { KX_SUB_WINDOW_DEFAULT_SIZE = 128 };

// What the close button does (nCloseMode).
enum {
    KX_CLOSE_REPORT = 0,     // the request is left to the script
    KX_CLOSE_ASK = 1,        // the user is asked whether to quit
    KX_CLOSE_QUIT = 2,       // the engine quits
    KX_CLOSE_WINDOW = 3,     // only this window closes
};

// System-menu item of the main window that restores its size.
enum { KX_MENU_RESET_WINDOW_SIZE = 30001 };

// Style words of the engine's windows.
enum : uint32_t {
    KX_WS_CLIPCHILDREN = 0x02000000u,
    KX_WS_FRAMED = 0x02CB0000u,              // caption, system menu, minimise and maximise boxes
    KX_WS_BORDERLESS = 0x82000000u,          // popup, for the main window without a frame
    KX_WS_EX_TOPMOST = 0x00000008u,
    KX_WS_EX_TOOLWINDOW = 0x00000080u,       // no taskbar button
};

// The 44-byte bitmap header of a presentation: the source's width and height (negative height for
// rows top-down), one plane, 32 bits, uncompressed, one unused colour entry.
struct KX_BITMAPINFO {
    uint32_t biSize;            // 40
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;          // 1
    uint16_t biBitCount;        // 32
    uint32_t biCompression;     // 0 (uncompressed)
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
    uint32_t bmiColors[1];
};
static_assert(sizeof(KX_BITMAPINFO) == 44, "bitmap header is 44 bytes");

struct WINDOW_STATE {
    int32_t nIndex;                  // 0..3; 0 is the main window
    int32_t nLeft, nTop;             // outer rectangle's screen position as last set or read back
    int32_t nWidth, nHeight;         // logical size of the picture in game pixels
    int32_t nAlpha;                  // opacity 0..256 (256 opaque); stored and reported only
    uint8_t bVisible;                // the window is shown
    uint8_t bClassRegistered;        // the window's class has been set up (after a first success)
    int8_t nCloseMode;               // KX_CLOSE_*
    uint8_t bMaximizeAllowed;        // a maximise request is carried out
    uint8_t bMinimizeAllowed;        // a minimise request is carried out
    char szTitle[KX_WINDOW_TITLE];   // cp932
    TREE_NODE* pLayerSet;            // group node of the layer tree shown in the window, or NULL
    LAYER* pBackLayer;               // the window's back layer (owned), or NULL
    char szMenuPath[KX_WINDOW_MENU_PATH];  // menu-tree node shown as the menu bar; empty: none
    uint8_t bPictureShown;           // the window shows a composed picture (cleared when blanked)
    PLAT_HWND hWnd;                  // 0 before creation and after destruction
    uint8_t bActive;                 // active and not minimised
    int32_t nMouseX, nMouseY;        // mouse position in game coordinates (written by input polling)
    uint8_t bMouseOutsidePicture;    // outside 0..nWidth-1 x 0..nHeight-1
    uint8_t bMouseOutsideWindow;     // also outside the letterbox margins
    uint8_t bRevealOnMove;           // input that shows an auto-hidden cursor again
    uint8_t bRevealOnButton;
    uint8_t bRevealOnWheel;
    uint8_t bIdleTiming;             // the cursor idle time is measured (main window only)
    uint32_t dwIdleStart;            // time of the start of the idle measurement (ms)
    KX_BITMAPINFO bmi;               // presentation header, rewritten before each use
};

// The records (allocated once, never freed), index = window index.
extern WINDOW_STATE* g_apWindowState[KX_WINDOWS];
// -1 the window has not been created (or was closed), 1 created.
extern int32_t g_anWindowCreated[KX_WINDOWS];

// Screen-mode state that start-up, shut-down and the screen commands touch.
extern int32_t g_nFullscreenBits;   // colour depth of fullscreen mode
extern uint8_t g_bFullscreen;
extern uint8_t g_bMaximized;

// Where the scaled frame starts in the client area (fullscreen and maximised states; else 0).
extern int32_t g_nOutputOffsetX, g_nOutputOffsetY;

// The window procedure every engine window is created with. The window-message code installs its
// procedure here; the default closes, destroys and paints (DefaultGameWndProc).
extern PLAT_WNDPROC g_pfnMainWindowProc;
intptr_t DefaultGameWndProc(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam);

// The record of a window handle, or NULL.
WINDOW_STATE* FindWindowState(PLAT_HWND hwnd);

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
//  KOLVEX_CLICK_AT_FRAMES=N,M  presses the left button in the middle of the picture at frames N, M
//                              (rising), releasing it two frames later each time.
// Installs them (frame hook and shut-down hook). Unset switches do nothing.
void InstallDiagnosticSwitches(void);
// Writes window 0's presented picture (the platform framebuffer) as a PNG file (path in the host's
// encoding). 0 or -1.
int SaveWindowScreenshot(const char* pszHostPath);
