// One cursor per window: the window system shows a single cursor, so the one shown is that of the
// window the mouse is over, changed when the mouse goes into another window.
#include <atomic>

#include "platform/plat_window_backend.h"

namespace {

std::atomic<PLAT_HWND> g_hwndUnderMouse{0};
std::atomic<PLAT_CURSOR> g_hShownCursor{0};

}  // namespace

int PlatIsMouseOverWindow(PLAT_HWND hwnd)
{
    const PLAT_HWND h = g_hwndUnderMouse.load();
    return h == 0 || h == hwnd || !PlatIsWindow(h) ? 1 : 0;
}

void PlatNoteMouseOverWindow(PLAT_HWND hwnd)
{
    if (!hwnd || g_hwndUnderMouse.load() == hwnd) return;
    g_hwndUnderMouse = hwnd;
    PlatSetWindowCursor(hwnd, PlatGetWindowCursor(hwnd));
}

void PlatNoteShownCursor(PLAT_CURSOR hCursor) { g_hShownCursor = hCursor; }

PLAT_CURSOR PlatGetShownCursor(void) { return g_hShownCursor.load(); }
