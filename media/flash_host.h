// The Flash host: a Flash movie shown by the Flash player control in a child window of the main
// window, through the control host library "atl.dll". The engine makes the window and the control,
// loads and plays the movie and reads a few facts back; the control does everything else.
//
// The control host is an outside module found through the module registry (platform/plat_modules.h)
// under "atl.dll" with the entries "AtlAxWinInit", "AtlAxCreateControl" and "AtlAxGetControl". No
// Flash player exists on this platform: the module is not there, the player counts as not installed
// and every movie stays closed with 0 frames; tests register a fake host.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/plat_window.h"

// The control's interface, as a table of functions on the control object. HRESULT-style results:
// 0 or above succeeds. Texts are UTF-16 and terminated.
struct FLASH_CONTROL;
struct FLASH_CONTROL_VTBL {
    // The control's interface of the given IID with a reference added, or NULL (*ppOut := NULL).
    int32_t (*pfnQueryInterface)(FLASH_CONTROL* p, const char* pszIid, FLASH_CONTROL** ppOut);
    uint32_t (*pfnRelease)(FLASH_CONTROL* p);
    int32_t (*pfnPutMovie)(FLASH_CONTROL* p, const char16_t* pszPath);
    int32_t (*pfnGetTotalFrames)(FLASH_CONTROL* p, int32_t* pnFrames);
    int32_t (*pfnPlay)(FLASH_CONTROL* p);
    int32_t (*pfnCurrentFrame)(FLASH_CONTROL* p, int32_t* pnFrame);
    int32_t (*pfnGetPlaying)(FLASH_CONTROL* p, int16_t* pbPlaying);   // VARIANT_TRUE (-1) or 0
    // The variable's value as text (UTF-8, terminated, cut to cap); below 0 when there is no such variable.
    int32_t (*pfnGetVariable)(FLASH_CONTROL* p, const char16_t* pszName, char* pszOut, size_t nCap);
};
struct FLASH_CONTROL {
    const FLASH_CONTROL_VTBL* pVtbl;
};

// The control host's entries.
typedef int32_t (*ATL_AX_WIN_INIT_FN)(void);
// The control of the class id (a text in braces) made inside the window; the last two are unused.
typedef int32_t (*ATL_AX_CREATE_CONTROL_FN)(const char16_t* pszClsid, PLAT_HWND hwnd, void* pStream, void** ppContainer);
// The window's control with a reference added.
typedef int32_t (*ATL_AX_GET_CONTROL_FN)(PLAT_HWND hwnd, FLASH_CONTROL** ppUnknown);

// The class of the Flash player control and its interface.
#define KX_FLASH_CLSID u"{d27cdb6e-ae6d-11cf-96b8-444553540000}"
#define KX_FLASH_IID "D27CDB6C-AE6D-11CF-96B8-444553540000"

enum { KX_FLASH_FILE = 261 };

extern PLAT_HWND g_hFlashWnd;              // the child window, 0 when none
extern char g_szFlashFile[KX_FLASH_FILE];  // the Flash file name (cp932, lower case, '\')
extern uint8_t g_bFlashOpen;               // 1 while a Flash movie is open
extern int32_t g_nFlashTotalFrames;        // the movie's frames
extern int32_t g_nFlashValue;              // the script's value given at opening
extern int32_t g_nFlashX, g_nFlashY, g_nFlashW, g_nFlashH;   // the rectangle in game coordinates
extern FLASH_CONTROL* g_pFlash;            // the open control, NULL when none
extern int32_t g_nFlashRefs;               // open controls (0 or 1)

// Makes the control in the window and plays the movie at the UTF-16 path. The total frame count,
// 0 on failure. The control host is looked for once; when it is missing (the Flash player is not
// installed) this and every later call answer 0 without anything being made.
int32_t OpenFlashControl(PLAT_HWND hwnd, const char16_t* pszPath);
// Releases the open control (nothing when none). Also at shut-down.
void ReleaseFlashControl(void);
// The open control's current frame, 0 when none.
int32_t GetFlashCurrentFrame(void);
// 1 while the open control plays, else 0.
int32_t IsFlashPlaying(void);
// The open control's variable as a decimal integer (leading blanks and a sign allowed; 0 when it is
// not a number). A variable the control does not have: a message box and 0. 0 without a control.
int64_t GetFlashVariable(const char* pszName);
// Moves and scales the Flash window to the output's current size and offsets (the main window's size
// changed). Nothing without a window.
void RepositionFlashWindow(void);
// Forgets that the control host was looked for (tests register a fake one afterwards).
void ResetFlashHost(void);

// Commands 22 to 24.
enum {
    FLASH_OPEN_ARG_FILE = 0, FLASH_OPEN_ARG_PLAY = 1, FLASH_OPEN_ARG_X = 2, FLASH_OPEN_ARG_Y = 3,
    FLASH_OPEN_ARG_W = 4, FLASH_OPEN_ARG_H = 5, FLASH_OPEN_ARG_VALUE = 6,
};
enum {
    FLASH_GET_ARG_PLAYING = 0, FLASH_GET_ARG_VARIABLE = 1, FLASH_GET_ARG_X = 2, FLASH_GET_ARG_Y = 3,
    FLASH_GET_ARG_W = 4, FLASH_GET_ARG_H = 5, FLASH_GET_ARG_FRAME = 6, FLASH_GET_ARG_VALUE = 7,
    FLASH_GET_ARG_TOTAL = 8, FLASH_GET_ARG_OUT = 9,
};
// 0, or -1 after a failed decoding or a missing file.
int CmdFlashOpen(void);
int CmdFlashClose(void);
int CmdFlashGet(void);
