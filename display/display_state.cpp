// The display folder's globals back at their start values (see display/display_state.h).
#include "display/display_state.h"

#include "display/cursor.h"
#include "display/menus.h"
#include "display/screen_modes.h"
#include "display/tray.h"
#include "display/window_proc.h"
#include "display/window_state.h"

void ResetDisplayState(void)
{
    FreeFileList();
    g_nPopupMenuRequest = 0;
    g_nPopupMenuX = g_nPopupMenuY = 0;
    g_bPauseOnCaptionDrag = 0;
    g_bRestorePending = 0;
    g_bFrameChanged = 0;
    g_nSavedFrameWidth = g_nSavedFrameHeight = 0;
    g_nMaxSavedTargetWidth = g_nMaxSavedTargetHeight = 0;
    g_nMaxSavedOutputWidth = g_nMaxSavedOutputHeight = 0;
    g_bResetRequest = 0;
    g_rcMonitor = MONITOR_RECT{0, 0, 0, 0};
    g_nMonitorNumber = 0;
    g_nFullSavedTargetWidth = g_nFullSavedTargetHeight = 0;
    g_nFullSavedOutputWidth = g_nFullSavedOutputHeight = 0;
    g_nFullscreenModeWidth = g_nFullscreenModeHeight = 0;
    g_bCursorAutoHide = 1;
    g_nCursorIdleMs = 2500;
    DestroyMenus();
    g_hMenuHostWnd = 0;
    g_nMenuBarHeight = PLAT_MENU_BAR_HEIGHT;
    g_bMenuHostShown = 1;
    g_bTrayIconShown = 0;
    g_szTrayTip[0] = '\0';
    g_pfnMainWindowProc = DefaultGameWndProc;
}
