// The X11 side of the SDL windows. Xlib ends the process on an error about a window another
// program destroyed (BadWindow) and on a broken connection. Here a window another program destroyed
// becomes a window that is gone, which the window core then destroys through the program's own
// procedure; a broken connection ends the run through the engine's handler (PlatSetDisplayLostHandler).
#include "platform/plat_x11.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/extensions/scrnsaver.h>
#include <X11/extensions/shape.h>

#include <vector>

#include "platform/plat_window.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

namespace {

enum { XWIN_WATCHED = 1, XWIN_LOST = 2, XWIN_FORGOTTEN = 3 };

std::mutex g_mxX11;
std::map<unsigned long, int> g_mapXWindows;   // XID -> XWIN_*
int (*g_pfnPreviousErrorHandler)(Display*, XErrorEvent*) = nullptr;
bool g_bHandlersInstalled = false;
Display* g_pDisplayHandled = nullptr;
std::atomic<int> g_bDisplayLost{0};

// Errors about our own windows come after another program destroyed them (the requests still in
// flight, or made before the destruction was seen): the window is marked lost, the error is dropped.
int OnXError(Display* pDisplay, XErrorEvent* pError)
{
    {
        std::lock_guard<std::mutex> lock(g_mxX11);
        auto it = g_mapXWindows.find(pError->resourceid);
        if (it != g_mapXWindows.end()) {
            if (it->second == XWIN_WATCHED) it->second = XWIN_LOST;
            return 0;
        }
    }
    return g_pfnPreviousErrorHandler ? g_pfnPreviousErrorHandler(pDisplay, pError) : 0;
}

std::atomic<PLAT_DISPLAY_LOST_PROC> g_pfnDisplayLost{nullptr};
std::atomic<int> g_bEnding{0};

// The connection broke (the X server ended, or a client such as xkill killed ours). Xlib cannot go
// on from here: after this handler returns, every request fails at once, and a wait for an event
// (SDL waits for the map and unmap of a window it shows or hides) spins for ever. So the run ends
// here, without another call into Xlib or SDL: the engine's handler gives up its locks and names the
// exit status.
[[noreturn]] void EndForLostDisplay(void)
{
    g_bDisplayLost = 1;
    // Met again on the thread that is ending the run (the engine's handler must not touch the
    // connection, but if it did): the end comes at once. A second thread waits for the first one's.
    thread_local bool t_bEnding = false;
    if (t_bEnding) _exit(1);
    t_bEnding = true;
    if (g_bEnding.exchange(1) != 0)
        for (;;) pause();
    const PLAT_DISPLAY_LOST_PROC pfn = g_pfnDisplayLost.load();
    int nStatus = 1;
    if (pfn) nStatus = pfn();
    else std::fprintf(stderr, "kolvex: the connection to the X server was lost; the program ends\n");
    std::fflush(stdout);
    std::fflush(stderr);
    // Not exit(): the other threads still run, and the static destructors and exit handlers (SDL's
    // among them) would pull their data from under them or call into the broken connection.
    _exit(nStatus);
}

int OnXIoError(Display*)
{
    EndForLostDisplay();
}

void OnXIoErrorExit(Display*, void*)
{
    EndForLostDisplay();
}

}  // namespace

unsigned long PlatX11WindowOf(SDL_Window* pWin, Display** ppDisplay)
{
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!pWin || !SDL_GetWindowWMInfo(pWin, &info) || info.subsystem != SDL_SYSWM_X11) {
        SDL_ClearError();
        return 0;
    }
    if (ppDisplay) *ppDisplay = info.info.x11.display;
    return static_cast<unsigned long>(info.info.x11.window);
}

void PlatX11Watch(SDL_Window* pWin)
{
    Display* pDisplay = nullptr;
    const unsigned long xid = PlatX11WindowOf(pWin, &pDisplay);
    if (!xid || !pDisplay) return;
    bool bInstall = false, bNewDisplay = false;
    {
        std::lock_guard<std::mutex> lock(g_mxX11);
        g_mapXWindows.emplace(xid, XWIN_WATCHED);   // a window already lost stays lost
        bInstall = !g_bHandlersInstalled;
        g_bHandlersInstalled = true;
        // The exit handler belongs to a connection: a window system started anew has a new one.
        bNewDisplay = g_pDisplayHandled != pDisplay;
        g_pDisplayHandled = pDisplay;
    }
    if (bInstall) {
        g_pfnPreviousErrorHandler = XSetErrorHandler(OnXError);
        XSetIOErrorHandler(OnXIoError);
    }
    if (bNewDisplay) XSetIOErrorExitHandler(pDisplay, OnXIoErrorExit, nullptr);
}

void PlatX11Forget(SDL_Window* pWin)
{
    const unsigned long xid = PlatX11WindowOf(pWin, nullptr);
    if (!xid) return;
    std::lock_guard<std::mutex> lock(g_mxX11);
    // Kept: the destruction's own late errors and events must still find it.
    g_mapXWindows[xid] = XWIN_FORGOTTEN;
}

void PlatX11NoteEvent(const SDL_Event& e)
{
    if (e.type != SDL_SYSWMEVENT || !e.syswm.msg || e.syswm.msg->subsystem != SDL_SYSWM_X11) return;
    const XEvent& xe = e.syswm.msg->msg.x11.event;
    if (xe.type != DestroyNotify) return;
    std::lock_guard<std::mutex> lock(g_mxX11);
    auto it = g_mapXWindows.find(xe.xdestroywindow.window);
    if (it != g_mapXWindows.end() && it->second == XWIN_WATCHED) it->second = XWIN_LOST;
}

int PlatX11IsLost(SDL_Window* pWin)
{
    if (g_bDisplayLost) return 1;
    const unsigned long xid = PlatX11WindowOf(pWin, nullptr);
    if (!xid) return 0;
    std::lock_guard<std::mutex> lock(g_mxX11);
    auto it = g_mapXWindows.find(xid);
    return it != g_mapXWindows.end() && it->second == XWIN_LOST ? 1 : 0;
}

void PlatX11DestroyLost(SDL_Window* pWin)
{
    Display* pDisplay = nullptr;
    const unsigned long xid = PlatX11WindowOf(pWin, &pDisplay);
    if (!xid || !pDisplay || g_bDisplayLost) {
        SDL_DestroyWindow(pWin);
        return;
    }
    // SDL 2's X11 backend hides a window it believes shown before it destroys it, and waits for the
    // window's UnmapNotify. For a window gone from the server that event came long ago (or never),
    // and SDL reads whether the window is mapped from a request that fails, leaving its answer
    // undefined: the wait may never end. An UnmapNotify of our own at the head of the queue ends it
    // at once; whatever SDL did not take is taken away afterwards (SDL no longer knows the window).
    XEvent ev;
    std::memset(&ev, 0, sizeof ev);
    ev.xunmap.type = UnmapNotify;
    ev.xunmap.send_event = True;
    ev.xunmap.display = pDisplay;
    ev.xunmap.event = xid;
    ev.xunmap.window = xid;
    XPutBackEvent(pDisplay, &ev);
    SDL_DestroyWindow(pWin);
    // The errors about the destruction's requests are read now, while the handler that drops them
    // is in place (SDL puts back the handler it found at its start when it closes the connection).
    XSync(pDisplay, False);
    const auto AboutWindow = [](Display*, XEvent* pEv, XPointer pArg) -> Bool {
        const unsigned long nId = *reinterpret_cast<unsigned long*>(pArg);
        return (pEv->type == UnmapNotify && pEv->xunmap.window == nId) ? True : False;
    };
    unsigned long nId = xid;
    XEvent left;
    while (XCheckIfEvent(pDisplay, &left, AboutWindow, reinterpret_cast<XPointer>(&nId))) {
    }
}

void PlatX11BeforeQuit(void)
{
    Display* pDisplay = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_mxX11);
        pDisplay = g_pDisplayHandled;
        // The connection closes next: a later one is a new connection with its own exit handler.
        g_pDisplayHandled = nullptr;
    }
    if (pDisplay && !g_bDisplayLost) XSync(pDisplay, False);
}

void PlatSetDisplayLostHandler(PLAT_DISPLAY_LOST_PROC pfnHandler)
{
    g_pfnDisplayLost = pfnHandler;
}

int PlatX11DisplayLost(void)
{
    return g_bDisplayLost.load();
}

void PlatX11DefineCursor(SDL_Window* pWin, SDL_Cursor* pCursor)
{
    Display* pDisplay = nullptr;
    const unsigned long xid = PlatX11WindowOf(pWin, &pDisplay);
    if (!xid || !pDisplay || g_bDisplayLost) return;
    // SDL 2's cursor record is its list link and the driver's data, which the X11 driver makes the
    // X cursor itself (None for the default cursor). SDL offers no call that defines a cursor on
    // one window only: SDL_SetCursor defines it on all of them.
    struct SDL2_CURSOR_RECORD {
        void* pNext;
        void* pDriverData;
    };
    SDL_version v;
    SDL_GetVersion(&v);
    const Cursor cursor = pCursor && v.major == 2 ? static_cast<Cursor>(reinterpret_cast<uintptr_t>(
                                                        reinterpret_cast<SDL2_CURSOR_RECORD*>(pCursor)->pDriverData))
                                                  : None;
    if (cursor == None) XUndefineCursor(pDisplay, xid);
    else XDefineCursor(pDisplay, xid, cursor);
    XFlush(pDisplay);
}

void PlatX11ResumeScreenSaver(void)
{
    Display* pDisplay = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_mxX11);
        pDisplay = g_pDisplayHandled;
    }
    int nEventBase = 0, nErrorBase = 0, nMajor = 0, nMinor = 0;
    if (!pDisplay || g_bDisplayLost || !XScreenSaverQueryExtension(pDisplay, &nEventBase, &nErrorBase) ||
        !XScreenSaverQueryVersion(pDisplay, &nMajor, &nMinor) || (nMajor == 1 && nMinor < 1) || nMajor < 1)
        return;
    // The server drops a suspension that this connection does not hold: nothing then changes.
    XScreenSaverSuspend(pDisplay, False);
    XFlush(pDisplay);
}

void PlatX11SetShape(SDL_Window* pWin, int bOn, const PLAT_RECT* pRects, int nCount)
{
    Display* pDisplay = nullptr;
    const unsigned long xid = PlatX11WindowOf(pWin, &pDisplay);
    if (!xid || !pDisplay || g_bDisplayLost) return;
    int nEvent = 0, nError = 0;
    if (!XShapeQueryExtension(pDisplay, &nEvent, &nError)) return;
    if (!bOn) {
        XShapeCombineMask(pDisplay, xid, ShapeBounding, 0, 0, None, ShapeSet);
    } else {
        std::vector<XRectangle> v;
        for (int i = 0; i < nCount; ++i) {
            const PLAT_RECT& r = pRects[i];
            if (r.right <= r.left || r.bottom <= r.top) continue;
            v.push_back(XRectangle{static_cast<short>(r.left), static_cast<short>(r.top),
                                   static_cast<unsigned short>(r.right - r.left),
                                   static_cast<unsigned short>(r.bottom - r.top)});
        }
        XShapeCombineRectangles(pDisplay, xid, ShapeBounding, 0, 0, v.data(), static_cast<int>(v.size()), ShapeSet,
                                Unsorted);
    }
    XFlush(pDisplay);
}

int PlatX11GetShape(SDL_Window* pWin, std::vector<PLAT_RECT>* pOut)
{
    Display* pDisplay = nullptr;
    const unsigned long xid = PlatX11WindowOf(pWin, &pDisplay);
    if (!xid || !pDisplay || g_bDisplayLost) return -1;
    int nEvent = 0, nError = 0;
    if (!XShapeQueryExtension(pDisplay, &nEvent, &nError)) return -1;
    Bool bShaped = False, bClipShaped = False;
    int xb = 0, yb = 0, xc = 0, yc = 0;
    unsigned int wb = 0, hb = 0, wc = 0, hc = 0;
    if (!XShapeQueryExtents(pDisplay, xid, &bShaped, &xb, &yb, &wb, &hb, &bClipShaped, &xc, &yc, &wc, &hc)) return -1;
    pOut->clear();
    if (!bShaped) return 0;
    int nCount = 0, nOrdering = 0;
    XRectangle* pRects = XShapeGetRectangles(pDisplay, xid, ShapeBounding, &nCount, &nOrdering);
    for (int i = 0; pRects && i < nCount; ++i)
        pOut->push_back(PLAT_RECT{pRects[i].x, pRects[i].y, pRects[i].x + pRects[i].width, pRects[i].y + pRects[i].height});
    if (pRects) XFree(pRects);
    return 1;
}

void PlatX11Restack(SDL_Window* pWin, int bTop)
{
    Display* pDisplay = nullptr;
    const unsigned long xid = PlatX11WindowOf(pWin, &pDisplay);
    if (!xid || !pDisplay || g_bDisplayLost) return;
    if (bTop) XRaiseWindow(pDisplay, xid);
    else XLowerWindow(pDisplay, xid);
    XFlush(pDisplay);
}
