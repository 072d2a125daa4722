#include "display/cursor.h"
#include "display/menus.h"

#include "core/frame_loop.h"
#include "core/input_state.h"
#include "display/window_state.h"
#include "platform/plat_time.h"
#include "platform/plat_window.h"
#include "script/engine_control.h"

uint8_t g_bCursorAutoHide = 1;
uint32_t g_nCursorIdleMs = 2500;

void RequestCursorShow(void)
{
    if (g_bCursorShown) return;
    if (g_apWindowState[0]) g_apWindowState[0]->bIdleTiming = 0;
    g_nCursorRequest = KX_CURSOR_REQUEST_SHOW;
    g_bCursorShown = 1;
}

void ApplyCursorRequest(void)
{
    if (g_nCursorRequest == KX_CURSOR_REQUEST_SHOW) PlatShowCursor(1);
    else if (g_nCursorRequest == KX_CURSOR_REQUEST_HIDE) PlatShowCursor(0);
    g_nCursorRequest = KX_CURSOR_REQUEST_NONE;
}

static bool Held(int nCode) { return g_allKeyCounter[nCode] > 0; }

void UpdateCursorAutoHide(void)
{
    WINDOW_STATE* w = g_apWindowState[0];
    if (w && g_bCursorAutoHide) {
        if (!w->bIdleTiming) {
            w->bIdleTiming = 1;
            w->dwIdleStart = PlatGetTime();
        }
        // "Before the frame time" on the wrapping millisecond clock.
        const uint32_t dwHideAt = w->dwIdleStart + g_nCursorIdleMs;
        if (static_cast<int32_t>(g_dwFrameTime - dwHideAt) > 0 && g_bCursorShown) {
            g_nCursorRequest = KX_CURSOR_REQUEST_HIDE;
            g_bCursorShown = 0;
        }
        // The menu-bar host over a fullscreen picture needs the cursor too.
        const bool bReveal = w->bMouseOutsideWindow || g_bMenuHostShown || (Held(7) && w->bRevealOnMove) ||
                             ((Held(1) || Held(2) || Held(4)) && w->bRevealOnButton) ||
                             ((Held(5) || Held(6)) && w->bRevealOnWheel);
        if (bReveal) {
            w->bIdleTiming = 0;
            RequestCursorShow();
        }
    }
    ApplyCursorRequest();
}
