// The window manager's move of an X11 window (_NET_WM_MOVERESIZE) and the pointer as the X server
// has it.
#include <SDL.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "platform/plat_x11.h"

namespace {

// The EWMH move direction and the source indication of a normal application.
constexpr long kMoveResizeMove = 8;
constexpr long kSourceApplication = 1;

}  // namespace

int PlatX11QueryPointer(SDL_Window* pWin, int* pX, int* pY, int* pbLeftHeld)
{
    Display* pDisplay = nullptr;
    const unsigned long xid = PlatX11WindowOf(pWin, &pDisplay);
    if (!xid || !pDisplay || PlatX11DisplayLost()) return -1;
    ::Window root = 0, child = 0;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned int nMask = 0;
    if (!XQueryPointer(pDisplay, xid, &root, &child, &rx, &ry, &wx, &wy, &nMask)) return -1;
    *pX = rx;
    *pY = ry;
    *pbLeftHeld = (nMask & Button1Mask) ? 1 : 0;
    return 0;
}

int PlatX11SetSizeHints(SDL_Window* pWin, int minW, int minH, int maxW, int maxH)
{
    Display* pDisplay = nullptr;
    const unsigned long xid = PlatX11WindowOf(pWin, &pDisplay);
    if (!xid || !pDisplay || PlatX11DisplayLost()) return -1;
    XSizeHints* pHints = XAllocSizeHints();
    if (!pHints) return -1;
    long nSupplied = 0;
    if (!XGetWMNormalHints(pDisplay, xid, pHints, &nSupplied)) pHints->flags = 0;
    pHints->flags |= PMinSize;
    pHints->min_width = minW;
    pHints->min_height = minH;
    if (maxW > 0 && maxH > 0) {
        pHints->flags |= PMaxSize;
        pHints->max_width = maxW;
        pHints->max_height = maxH;
    } else {
        pHints->flags &= ~PMaxSize;
    }
    XSetWMNormalHints(pDisplay, xid, pHints);
    XFree(pHints);
    XFlush(pDisplay);
    return 0;
}

int PlatX11BeginMove(SDL_Window* pWin, int x, int y)
{
    Display* pDisplay = nullptr;
    const unsigned long xid = PlatX11WindowOf(pWin, &pDisplay);
    if (!xid || !pDisplay || PlatX11DisplayLost()) return -1;
    const ::Window root = DefaultRootWindow(pDisplay);
    const Atom aMoveResize = XInternAtom(pDisplay, "_NET_WM_MOVERESIZE", False);
    if (!PlatX11WmSupports(pDisplay, aMoveResize)) return -1;
    // The press gave this program the pointer; the window manager takes it for the move.
    XUngrabPointer(pDisplay, CurrentTime);
    PlatX11SendClientMessage(pDisplay, root, xid, "_NET_WM_MOVERESIZE", {x, y, kMoveResizeMove, Button1, kSourceApplication});
    return 0;
}

void PlatX11SendButtonRelease(SDL_Window* pWin, int x, int y)
{
    Display* pDisplay = nullptr;
    const unsigned long xid = PlatX11WindowOf(pWin, &pDisplay);
    if (!xid || !pDisplay || PlatX11DisplayLost()) return;
    ::Window root = 0, child = 0;
    int wx = 0, wy = 0;
    XTranslateCoordinates(pDisplay, DefaultRootWindow(pDisplay), xid, x, y, &wx, &wy, &child);
    XEvent ev{};
    ev.xbutton.type = ButtonRelease;
    ev.xbutton.display = pDisplay;
    ev.xbutton.window = xid;
    ev.xbutton.root = root = DefaultRootWindow(pDisplay);
    ev.xbutton.time = CurrentTime;
    ev.xbutton.x = wx;
    ev.xbutton.y = wy;
    ev.xbutton.x_root = x;
    ev.xbutton.y_root = y;
    ev.xbutton.state = Button1Mask;
    ev.xbutton.button = Button1;
    ev.xbutton.same_screen = True;
    XSendEvent(pDisplay, xid, False, ButtonReleaseMask, &ev);
    XFlush(pDisplay);
}
