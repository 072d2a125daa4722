// The display's hook table: the window procedure's calls to presentation, the cursor and the window
// commands' parts (click layer, tray icon), and the screen modes' calls to the menu bar. The display
// owns it and calls through it; the composition root (root/wiring.cpp) installs every slot, so none
// is NULL. Tests put their own functions into single slots and reinstall the wiring afterwards.
#pragma once
#include "platform/plat_window.h"

struct WINDOW_STATE;
struct LAYER;

struct DISPLAY_HOOKS {
    // Presents the window's picture again (paint, activation, tray click).
    int (*pfnRepaintWindow)(WINDOW_STATE* pState);
    // 1 when the window's click layer has a non-black pixel under the window's mouse position (as
    // the input step sampled it).
    int (*pfnClickLayerHit)(WINDOW_STATE* pState);
    // Makes the cursor visible (before the quit question).
    void (*pfnRequestCursorShow)(void);
    // Marks the main window's layer set wholly dirty (the tray popup redraws it).
    void (*pfnMarkLayerSetDirty)(WINDOW_STATE* pState);
    // The main window's tray icon and window-shape bitmap go with the window.
    void (*pfnRemoveTrayIcon)(void);
    // The window's menu bar built again from its menu path (the main window's goes to the menu-bar
    // host while fullscreen); 0 or -1. And the bar taken off a window or the host.
    int (*pfnSetWindowMenuBar)(const char* pszMenuPath, PLAT_HWND hwnd);
    void (*pfnDetachMenuBar)(PLAT_HWND hwnd);
    // The tray icon's popup menu built from the menu node at the absolute path; 0 or -1.
    int (*pfnSetTrayPopupMenu)(const char* pszMenuPath);
    // The window movie: its graph event message and MCI notification (wParam) arrived at the main
    // window.
    void (*pfnHandleGraphNotify)(void);
    void (*pfnHandleMciNotify)(uintptr_t wParam);
    // The main window's picture changed size: the window movie and the Flash window follow, and the
    // E-mote camera goes back to neutral.
    void (*pfnFollowMainWindowSize)(void);
    // The E-mote side of the GPU drawing (only called while the component is available): the
    // camera back to neutral and the component's device object made of the Direct3D device
    // (*ppDevice; 0, or 1 when none could be made), and one E-mote layer drawn into the current
    // render target of the render size.
    void (*pfnResetEmoteTransforms)(void);
    int (*pfnInitEmoteDevice)(void* const* ppDevice);
    void (*pfnDrawEmoteLayer)(LAYER* pLayer, int32_t nRenderWidth, int32_t nRenderHeight);
};
extern DISPLAY_HOOKS g_DisplayHooks;
