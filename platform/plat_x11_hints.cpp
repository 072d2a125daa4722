// The window-manager hints that stand for the window styles and states Windows draws itself: a
// window's opacity (applied by a compositing manager), the state of a window kept below the others,
// a window placed just behind another, a dialog's window type, and what the window manager is known
// to support.
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/plat_x11.h"

namespace {

constexpr long kNetWmStateRemove = 0, kNetWmStateAdd = 1;
constexpr long kSourceApplication = 1;

bool IsMapped(Display* pDisplay, ::Window xid)
{
    XWindowAttributes a{};
    return XGetWindowAttributes(pDisplay, xid, &a) && a.map_state != IsUnmapped;
}

// A window manager runs (it names its check window on the root, EWMH).
bool WindowManagerRuns(Display* pDisplay)
{
    const Atom aCheck = XInternAtom(pDisplay, "_NET_SUPPORTING_WM_CHECK", False);
    Atom typeOut = None;
    int nFormat = 0;
    unsigned long nItems = 0, nAfter = 0;
    unsigned char* pData = nullptr;
    const bool bRead = XGetWindowProperty(pDisplay, DefaultRootWindow(pDisplay), aCheck, 0, 1, False, XA_WINDOW,
                                          &typeOut, &nFormat, &nItems, &nAfter, &pData) == Success;
    const bool bRuns = bRead && pData && nItems == 1 && typeOut == XA_WINDOW;
    if (pData) XFree(pData);
    return bRuns;
}

}  // namespace

void PlatX11SendClientMessage(Display* pDisplay, unsigned long xidTo, unsigned long xidAbout, const char* pszType,
                              const long (&aData)[5])
{
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = xidAbout;
    ev.xclient.message_type = XInternAtom(pDisplay, pszType, False);
    ev.xclient.format = 32;
    for (int i = 0; i < 5; ++i) ev.xclient.data.l[i] = aData[i];
    const long nMask = xidTo == DefaultRootWindow(pDisplay) ? SubstructureRedirectMask | SubstructureNotifyMask : NoEventMask;
    XSendEvent(pDisplay, xidTo, False, nMask, &ev);
    XFlush(pDisplay);
}

int PlatX11WmSupports(Display* pDisplay, unsigned long atom)
{
    const Atom aSupported = XInternAtom(pDisplay, "_NET_SUPPORTED", False);
    const ::Window root = DefaultRootWindow(pDisplay);
    Atom typeOut = None;
    int nFormat = 0;
    unsigned long nItems = 0, nAfter = 0;
    unsigned char* pData = nullptr;
    bool bFound = false;
    // Read in pieces: a window manager may list a few hundred atoms.
    for (long nOffset = 0;;) {
        if (XGetWindowProperty(pDisplay, root, aSupported, nOffset, 1024, False, XA_ATOM, &typeOut, &nFormat, &nItems,
                               &nAfter, &pData) != Success)
            break;
        if (pData && typeOut == XA_ATOM && nFormat == 32) {
            const Atom* pAtoms = reinterpret_cast<const Atom*>(pData);
            for (unsigned long i = 0; i < nItems && !bFound; ++i) bFound = pAtoms[i] == atom;
        }
        if (pData) XFree(pData);
        pData = nullptr;
        if (bFound || nAfter == 0 || nItems == 0) break;
        nOffset += static_cast<long>(nItems);
    }
    return bFound ? 1 : 0;
}

void PlatX11SetOpacity(SDL_Window* pWin, int nAlpha)
{
    Display* pDisplay = nullptr;
    const unsigned long xid = PlatX11WindowOf(pWin, &pDisplay);
    if (!xid || !pDisplay || PlatX11DisplayLost()) return;
    const Atom aOpacity = XInternAtom(pDisplay, "_NET_WM_WINDOW_OPACITY", False);
    nAlpha = std::clamp(nAlpha, 0, 256);
    if (nAlpha == 256) {
        // Opaque: no hint, as for a window that never had one.
        XDeleteProperty(pDisplay, xid, aOpacity);
    } else {
        // 0..256 onto the hint's 0..0xFFFFFFFF, rounded.
        const unsigned long nValue = static_cast<unsigned long>((uint64_t(nAlpha) * 0xFFFFFFFFull + 128) / 256);
        XChangeProperty(pDisplay, xid, aOpacity, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&nValue), 1);
    }
    XFlush(pDisplay);
}

void PlatX11SetNetWmState(SDL_Window* pWin, const char* pszState, int bOn)
{
    Display* pDisplay = nullptr;
    const unsigned long xid = PlatX11WindowOf(pWin, &pDisplay);
    if (!xid || !pDisplay || PlatX11DisplayLost()) return;
    const Atom aState = XInternAtom(pDisplay, "_NET_WM_STATE", False);
    const Atom aWhich = XInternAtom(pDisplay, pszState, False);
    if (IsMapped(pDisplay, xid)) {
        // A mapped window asks the window manager, which owns the property then.
        PlatX11SendClientMessage(pDisplay, DefaultRootWindow(pDisplay), xid, "_NET_WM_STATE",
                                 {bOn ? kNetWmStateAdd : kNetWmStateRemove, static_cast<long>(aWhich), 0,
                                  kSourceApplication, 0});
    } else {
        // An unmapped one writes the property the window manager reads when it maps the window.
        std::vector<Atom> v;
        Atom typeOut = None;
        int nFormat = 0;
        unsigned long nItems = 0, nAfter = 0;
        unsigned char* pData = nullptr;
        if (XGetWindowProperty(pDisplay, xid, aState, 0, 64, False, XA_ATOM, &typeOut, &nFormat, &nItems, &nAfter,
                               &pData) == Success &&
            pData && typeOut == XA_ATOM && nFormat == 32) {
            const Atom* p = reinterpret_cast<const Atom*>(pData);
            v.assign(p, p + nItems);
        }
        if (pData) XFree(pData);
        v.erase(std::remove(v.begin(), v.end(), aWhich), v.end());
        if (bOn) v.push_back(aWhich);
        XChangeProperty(pDisplay, xid, aState, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(v.data()), static_cast<int>(v.size()));
    }
    XFlush(pDisplay);
}

void PlatX11MarkDialog(SDL_Window* pWin)
{
    Display* pDisplay = nullptr;
    const unsigned long xid = PlatX11WindowOf(pWin, &pDisplay);
    if (!xid || !pDisplay || PlatX11DisplayLost()) return;
    // The window manager reads the type when it maps the window.
    if (!IsMapped(pDisplay, xid)) {
        const Atom aType = XInternAtom(pDisplay, "_NET_WM_WINDOW_TYPE", False);
        const Atom aDialog = XInternAtom(pDisplay, "_NET_WM_WINDOW_TYPE_DIALOG", False);
        XChangeProperty(pDisplay, xid, aType, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&aDialog), 1);
    }
    // The Motif hints name what the frame offers: a title with its menu and a close button, moving
    // and closing; no minimise, maximise or resize (flags, functions, decorations, input mode, status).
    const Atom aMotif = XInternAtom(pDisplay, "_MOTIF_WM_HINTS", False);
    constexpr long kFunctions = 1L << 0, kDecorations = 1L << 1;
    constexpr long kFuncMove = 1L << 2, kFuncClose = 1L << 5;
    constexpr long kDecorBorder = 1L << 1, kDecorTitle = 1L << 3, kDecorMenu = 1L << 4;
    const long aHints[5] = {kFunctions | kDecorations, kFuncMove | kFuncClose, kDecorBorder | kDecorTitle | kDecorMenu, 0,
                            0};
    XChangeProperty(pDisplay, xid, aMotif, aMotif, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(aHints),
                    5);
    XFlush(pDisplay);
}

void PlatX11RestackBehind(SDL_Window* pWin, SDL_Window* pSibling)
{
    Display* pDisplay = nullptr;
    const unsigned long xid = PlatX11WindowOf(pWin, &pDisplay);
    const unsigned long xidSibling = PlatX11WindowOf(pSibling, nullptr);
    if (!xid || !xidSibling || !pDisplay || PlatX11DisplayLost()) return;
    const Atom aRestack = XInternAtom(pDisplay, "_NET_RESTACK_WINDOW", False);
    if (WindowManagerRuns(pDisplay) && PlatX11WmSupports(pDisplay, aRestack)) {
        // The window manager stacks its frames: it is asked with the two client windows.
        PlatX11SendClientMessage(pDisplay, DefaultRootWindow(pDisplay), xid, "_NET_RESTACK_WINDOW",
                                 {kSourceApplication, static_cast<long>(xidSibling), Below, 0, 0});
    } else {
        // Without one (or one that does not offer it) the two windows are siblings of the root.
        XWindowChanges c{};
        c.sibling = xidSibling;
        c.stack_mode = Below;
        XConfigureWindow(pDisplay, xid, CWSibling | CWStackMode, &c);
    }
    XFlush(pDisplay);
}
