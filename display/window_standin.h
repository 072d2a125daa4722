// Window records and the main window in the small form that start-up and the frame loop need until
// the display subsystem is built: the four records, their reset, and the creation of a window with
// a plain window procedure (close, destroy, paint).
#pragma once
#include <cstdint>

enum { KX_WINDOWS = 4, KX_WINDOW_TITLE = 263 };

struct WINDOW_STATE {
    int32_t nIndex;              // 0 is the main window
    int32_t nWidth, nHeight;     // logical size of the picture in game pixels
    uint8_t bVisible;            // the window is shown
    char szTitle[KX_WINDOW_TITLE];
    uint32_t hWnd;               // PLAT_HWND; 0 before creation and after destruction
};

// The records (allocated once, never freed) and their states: -1 not created (or closed), 1 created.
extern WINDOW_STATE* g_apWindowState[KX_WINDOWS];
extern int32_t g_anWindowCreated[KX_WINDOWS];

// Screen-mode state that start-up and shut-down touch.
extern int32_t g_nFullscreenBits;   // colour depth of fullscreen mode
extern uint8_t g_bFullscreen;
extern uint8_t g_bMaximized;

// Allocates the four records (once) and constructs them; the main window's logical size is the
// configured screen size. 0, or -1 when a record cannot be allocated.
int CreateWindowStates(void);
// Prepares a record for a new window with the title (cut at a whole character). 0.
int ResetWindowState(WINDOW_STATE* pState, const char* pszTitle);
// Creates the record's window, hidden, with the client at the logical size, centred on the desktop.
// The main window's handle also goes to g_hMainWnd. 1, or 0 when no window can be created.
int CreateGameWindow(WINDOW_STATE* pState, int nCmdShow, const char* pszClass, const char* pszTitle);
// The running copy's answer to a second start (window thread): restores the main window when it is
// minimised. pUser is not used.
void ActivateMainWindow(void* pUser);
