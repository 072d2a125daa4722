// The window drag: started by the caption's default action, carried out by the window manager or
// by the program, ended when the left button is up.
#include "platform/plat_window_drag.h"

#include <atomic>

#include "platform/plat_display.h"
#include "platform/plat_display_backend.h"
#include "platform/plat_window_backend.h"

namespace {

// The drag in progress (window thread only).
struct WINDOW_DRAG {
    PLAT_HWND hwnd;
    int bByWindowManager;
    int32_t nStartX, nStartY;     // the pointer where the drag began
    int32_t nLeft, nTop;          // the window's outer corner then
    int32_t nLastX, nLastY;       // the pointer as last followed
};
WINDOW_DRAG g_drag{};
// The dragged window as other threads read it (the frame step asks whether a drag still holds it).
std::atomic<PLAT_HWND> g_hDragged{0};
int g_nDragsStarted = 0, g_nDragsByWindowManager = 0;

// The pointer now: as the window system has it, else as the last mouse event left it.
bool QueryPointer(PLAT_WINDOW_REC* p, int32_t* pX, int32_t* pY, int* pbHeld)
{
    if (PlatCurrentDisplayBackend()->pfnQueryPointer(p, pX, pY, pbHeld) == 0) return true;
    if (PlatGetCursorPos(pX, pY) != 0) return false;
    *pbHeld = PlatGetKeyDown(PLAT_VK_LBUTTON);
    return true;
}

void SetDrag(const WINDOW_DRAG& drag)
{
    g_drag = drag;
    g_hDragged.store(drag.hwnd);
}

void EndDrag(PLAT_HWND hwnd, int32_t x, int32_t y)
{
    const int bByWindowManager = g_drag.bByWindowManager;
    SetDrag(WINDOW_DRAG{});
    // The release went to whoever moved the window: the program hears of it as from its own window,
    // so no button stays down for it.
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    if (p && bByWindowManager) {
        PlatCurrentDisplayBackend()->pfnEndMove(p, x, y);
    } else if (PlatGetKeyDown(PLAT_VK_LBUTTON)) {
        int32_t cx = 0, cy = 0;
        PlatClientToScreen(hwnd, &cx, &cy);
        PlatQueueMouseButton(hwnd, 1, 0, x - cx, y - cy);
    }
    PlatSendMessage(hwnd, PLAT_WM_EXITSIZEMOVE, 0, 0);
}

}  // namespace

int PlatBeginWindowDrag(PLAT_HWND hwnd, int32_t x, int32_t y)
{
    if (!PlatIsWindowThread()) return -1;
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    if (!p || (p->nStyle & PLAT_WS_CHILD) || p->nShowState != PLAT_SIZE_RESTORED || PlatIsWindowFullscreen(hwnd))
        return -1;
    int32_t px = x, py = y;
    int bHeld = 0;
    // A press that is already over (a quick click) moves nothing.
    if (!QueryPointer(p, &px, &py, &bHeld) || !bHeld) return -1;
    if (g_drag.hwnd && g_drag.hwnd != hwnd) EndDrag(g_drag.hwnd, px, py);
    PLAT_RECT rc;
    if (PlatGetWindowRect(hwnd, &rc) != 0) return -1;
    // The window follows the pointer from where the press was: a pointer that moved on before the drag
    // began takes the window as far.
    SetDrag(WINDOW_DRAG{hwnd, 0, x, y, rc.left, rc.top, x, y});
    ++g_nDragsStarted;
    PlatSendMessage(hwnd, PLAT_WM_ENTERSIZEMOVE, 0, 0);
    if ((p = PlatLookupWindow(hwnd)) == nullptr) {
        SetDrag(WINDOW_DRAG{});
        return -1;
    }
    if (PlatCurrentDisplayBackend()->pfnBeginMove(p, x, y) == 0) {
        g_drag.bByWindowManager = 1;
        ++g_nDragsByWindowManager;
    }
    return 0;
}

void PlatTrackWindowDrag(void)
{
    if (!g_drag.hwnd) return;
    const PLAT_HWND hwnd = g_drag.hwnd;
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    if (!p || p->bDestroying) {
        SetDrag(WINDOW_DRAG{});
        return;
    }
    int32_t x = 0, y = 0;
    int bHeld = 0;
    if (!QueryPointer(p, &x, &y, &bHeld)) return;
    if (!g_drag.bByWindowManager && (x != g_drag.nLastX || y != g_drag.nLastY)) {
        g_drag.nLastX = x;
        g_drag.nLastY = y;
        PlatSetWindowPos(hwnd, g_drag.nLeft + (x - g_drag.nStartX), g_drag.nTop + (y - g_drag.nStartY), 0, 0,
                         PLAT_SWP_NOSIZE | PLAT_SWP_NOZORDER | PLAT_SWP_NOACTIVATE);
    }
    if (!bHeld) EndDrag(hwnd, x, y);
}

PLAT_HWND PlatGetDraggedWindow(void) { return g_hDragged.load(); }

void PlatGetWindowDragCounts(int* pnStarted, int* pnByWindowManager)
{
    if (pnStarted) *pnStarted = g_nDragsStarted;
    if (pnByWindowManager) *pnByWindowManager = g_nDragsByWindowManager;
}
