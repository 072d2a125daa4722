// The records of the four game windows (window 0 is the main window) and what the window
// procedure records for the scripts. The records are shared: input polling, the compositor, the
// layer and script commands and the sound thread read them; the display code creates and changes
// the windows they describe.
#pragma once
#include <atomic>
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

// The click layer: a left click on one of its non-black pixels starts a drag of the window. Set by
// the window command; the layer code clears it when the node or its record goes.
extern uint8_t g_bClickLayerOn;
extern TREE_NODE* g_pClickLayerNode;
extern LAYER* g_pClickLayer;

// The records (allocated once, never freed), index = window index.
extern WINDOW_STATE* g_apWindowState[KX_WINDOWS];
// A repaint the window procedure could not do because the frame thread was composing (threaded
// mode, a message outside the message loop's gate): the frame's present step asks for the paint
// again, which the message loop then dispatches while the frame thread waits.
extern std::atomic<uint8_t> g_abPaintOwed[KX_WINDOWS];
// -1 the window has not been created (or was closed), 1 created.
extern int32_t g_anWindowCreated[KX_WINDOWS];

// Screen-mode state that start-up, shut-down and the screen commands touch.
extern int32_t g_nFullscreenBits;   // colour depth of fullscreen mode
extern uint8_t g_bFullscreen;
extern uint8_t g_bMaximized;

// Where the scaled frame starts in the client area (fullscreen and maximised states; else 0).
extern int32_t g_nOutputOffsetX, g_nOutputOffsetY;

// ---------------------------------------------------------------------------------------------
// What the window procedure records for the scripts: the last menu command, key and mouse button,
// the window requests that are left to the script, the shared file list, and the mouse position of
// each engine window in game coordinates.

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
