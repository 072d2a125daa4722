// The tray icon in a real panel: the freedesktop system-tray protocol. The icon is a small X window
// of our own that the tray host (the owner of the selection _NET_SYSTEM_TRAY_S<screen>) embeds
// through XEmbed after a SYSTEM_TRAY_REQUEST_DOCK message; it draws the picture, shows the tooltip
// while the pointer is over it and turns the clicks into the shell's mouse messages.
#include "platform/plat_x11_tray.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/plat_text.h"
#include "platform/plat_uidraw.h"
#include "platform/plat_window.h"
#include "platform/plat_x11.h"

namespace {

constexpr long kRequestDock = 0;        // SYSTEM_TRAY_REQUEST_DOCK
constexpr unsigned long kXEmbedMapped = 1;
constexpr Time kDoubleClickMs = 500;
const char kTipFace[] = "\x82\x6C\x82\x72\x20\x82\x6F\x83\x53\x83\x56\x83\x62\x83\x4E";   // the menus' face
constexpr int kTipTextHeight = 12;

struct X11_TRAY {
    Display* pDisplay = nullptr;
    ::Window icon = 0;
    ::Window tip = 0;
    bool bEmbedded = false;
    ::Window dockOwner = 0;                // the host last asked to embed the icon
    int w = 16, h = 16;                    // the icon window's size, as the host made it
    std::vector<uint32_t> picture;         // B,G,R,A rows
    int nPicW = 0, nPicH = 0;
    std::string strTipCp932;
    Time tLastPress = 0;
    bool bFontTried = false;
    PLAT_UI_FONT font;
};
X11_TRAY g_tray;

// The host that embeds icons on the default screen, or None.
::Window TrayOwner(Display* pDisplay)
{
    char szName[64];
    std::snprintf(szName, sizeof szName, "_NET_SYSTEM_TRAY_S%d", DefaultScreen(pDisplay));
    return XGetSelectionOwner(pDisplay, XInternAtom(pDisplay, szName, False));
}

// A 32-bit ZPixmap image of the default visual for w x h pixels (0x00RRGGBB), or NULL when the
// visual is not a 24- or 32-bit true-colour one.
XImage* MakeImage(Display* pDisplay, std::vector<uint32_t>* pData, int w, int h)
{
    Visual* pVisual = DefaultVisual(pDisplay, DefaultScreen(pDisplay));
    const int nDepth = DefaultDepth(pDisplay, DefaultScreen(pDisplay));
    if (nDepth < 24 || pVisual->red_mask != 0xFF0000 || pVisual->green_mask != 0xFF00 || pVisual->blue_mask != 0xFF)
        return nullptr;
    pData->assign(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
    return XCreateImage(pDisplay, pVisual, static_cast<unsigned>(nDepth), ZPixmap, 0,
                        reinterpret_cast<char*>(pData->data()), static_cast<unsigned>(w),
                        static_cast<unsigned>(h), 32, w * 4);
}

void PutImage(Display* pDisplay, ::Window win, XImage* pImage, int sx, int sy, int dx, int dy, int w, int h)
{
    GC gc = XCreateGC(pDisplay, win, 0, nullptr);
    XPutImage(pDisplay, win, gc, pImage, sx, sy, dx, dy, static_cast<unsigned>(w), static_cast<unsigned>(h));
    XFreeGC(pDisplay, gc);
}

// The picture scaled to the icon window (nearest pixel); pixels that are mostly transparent leave
// the host's background showing.
void DrawIcon(void)
{
    X11_TRAY& t = g_tray;
    if (!t.icon || t.nPicW <= 0 || t.nPicH <= 0 || t.w <= 0 || t.h <= 0) return;
    XClearWindow(t.pDisplay, t.icon);
    std::vector<uint32_t> data;
    XImage* pImage = MakeImage(t.pDisplay, &data, t.w, t.h);
    if (!pImage) return;
    // The picture keeps its proportions, centred.
    const int nSide = t.w < t.h ? t.w : t.h;
    const int ox = (t.w - nSide) / 2, oy = (t.h - nSide) / 2;
    for (int y = 0; y < nSide; ++y) {
        int nRunStart = -1;
        for (int x = 0; x <= nSide; ++x) {
            bool bInk = false;
            if (x < nSide) {
                const size_t nSrc = static_cast<size_t>(y * t.nPicH / nSide) * t.nPicW + x * t.nPicW / nSide;
                const uint32_t v = t.picture[nSrc];
                bInk = (v >> 24) >= 0x80;
                data[static_cast<size_t>(oy + y) * t.w + ox + x] = v & 0xFFFFFFu;
            }
            if (bInk && nRunStart < 0) nRunStart = x;
            if (!bInk && nRunStart >= 0) {
                PutImage(t.pDisplay, t.icon, pImage, ox + nRunStart, oy + y, ox + nRunStart, oy + y,
                         x - nRunStart, 1);
                nRunStart = -1;
            }
        }
    }
    pImage->data = nullptr;   // the vector owns the pixels
    XDestroyImage(pImage);
    XFlush(t.pDisplay);
}

void HideTip(void)
{
    if (g_tray.tip) XDestroyWindow(g_tray.pDisplay, g_tray.tip);
    g_tray.tip = 0;
}

// The tooltip: the text in the menus' face on a pale yellow box with a dark edge, below and right
// of the pointer, kept on the screen.
void ShowTip(int xRoot, int yRoot)
{
    X11_TRAY& t = g_tray;
    HideTip();
    if (t.strTipCp932.empty()) return;
    if (!t.bFontTried) {
        t.bFontTried = true;
        PlatUiFontOpen(&t.font, kTipFace, kTipTextHeight, 0);
    }
    if (!t.font.pFont) return;
    const std::vector<uint32_t> text = PlatUiCodePointsCp932(t.strTipCp932.c_str());
    const int w = PlatUiTextWidth(&t.font, text) + 8, h = t.font.nLineHeight + 6;
    std::vector<uint32_t> data;
    XImage* pImage = MakeImage(t.pDisplay, &data, w, h);
    if (!pImage) return;
    const PLAT_UI_CANVAS c{data.data(), w, h, w};
    PlatUiFillRect(c, 0, 0, w, h, 0xFFFFFFE1u);
    PlatUiFrameRect(c, PLAT_RECT{0, 0, w, h}, 1, 0xFF767676u);
    PlatUiDrawRun(&t.font, c, text, 4, 3, PLAT_RECT{1, 1, w - 1, h - 1}, 0xFF000000u);
    const int nScreen = DefaultScreen(t.pDisplay);
    const int sw = DisplayWidth(t.pDisplay, nScreen), sh = DisplayHeight(t.pDisplay, nScreen);
    int x = xRoot + 12, y = yRoot + 20;
    if (x + w > sw) x = sw - w;
    if (y + h > sh) y = yRoot - h - 4;
    if (x < 0) x = 0;
    if (y < 0) y = 0;
    XSetWindowAttributes a{};
    a.override_redirect = True;
    t.tip = XCreateWindow(t.pDisplay, DefaultRootWindow(t.pDisplay), x, y, static_cast<unsigned>(w),
                          static_cast<unsigned>(h), 0, CopyFromParent, InputOutput, CopyFromParent,
                          CWOverrideRedirect, &a);
    XMapRaised(t.pDisplay, t.tip);
    XSync(t.pDisplay, False);
    PutImage(t.pDisplay, t.tip, pImage, 0, 0, 0, 0, w, h);
    pImage->data = nullptr;
    XDestroyImage(pImage);
    XFlush(t.pDisplay);
}

// Asks the host to embed the icon window. 1 when a host was there, 0 without one.
int RequestDock(void)
{
    X11_TRAY& t = g_tray;
    const ::Window owner = TrayOwner(t.pDisplay);
    if (owner == None) return 0;
    PlatX11SendClientMessage(t.pDisplay, owner, owner, "_NET_SYSTEM_TRAY_OPCODE",
                             {CurrentTime, kRequestDock, static_cast<long>(t.icon), 0, 0});
    t.dockOwner = owner;
    return 1;
}

void CreateIconWindow(void)
{
    X11_TRAY& t = g_tray;
    XSetWindowAttributes a{};
    a.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask | EnterWindowMask |
                   LeaveWindowMask;
    a.background_pixmap = ParentRelative;
    t.icon = XCreateWindow(t.pDisplay, DefaultRootWindow(t.pDisplay), 0, 0, 16, 16, 0, CopyFromParent, InputOutput,
                           CopyFromParent, CWEventMask | CWBackPixmap, &a);
    t.w = t.h = 16;
    t.bEmbedded = false;
    // XEmbed: protocol version 0, to be mapped by the embedder.
    const Atom aInfo = XInternAtom(t.pDisplay, "_XEMBED_INFO", False);
    const unsigned long anInfo[2] = {0, kXEmbedMapped};
    XChangeProperty(t.pDisplay, t.icon, aInfo, aInfo, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(anInfo), 2);
    XSizeHints* pHints = XAllocSizeHints();
    if (pHints) {
        pHints->flags = PMinSize | PBaseSize;
        pHints->min_width = pHints->min_height = 16;
        pHints->base_width = pHints->base_height = 16;
        XSetWMNormalHints(t.pDisplay, t.icon, pHints);
        XFree(pHints);
    }
    XClassHint cls{const_cast<char*>("kolvex-tray"), const_cast<char*>("Kolvex")};
    XSetClassHint(t.pDisplay, t.icon, &cls);
    // A tray host that starts later announces itself to the root window (a MANAGER message): the
    // root's structure events are wanted as well as what the connection already asked of it.
    const ::Window root = DefaultRootWindow(t.pDisplay);
    XWindowAttributes ra{};
    if (XGetWindowAttributes(t.pDisplay, root, &ra))
        XSelectInput(t.pDisplay, root, ra.your_event_mask | StructureNotifyMask);
}

// The MANAGER message of a tray host that took the selection of this screen.
bool IsTrayManagerMessage(const XEvent& xe)
{
    X11_TRAY& t = g_tray;
    if (xe.type != ClientMessage || xe.xclient.window != DefaultRootWindow(t.pDisplay) || xe.xclient.format != 32)
        return false;
    char szName[64];
    std::snprintf(szName, sizeof szName, "_NET_SYSTEM_TRAY_S%d", DefaultScreen(t.pDisplay));
    return xe.xclient.message_type == XInternAtom(t.pDisplay, "MANAGER", False) &&
           static_cast<Atom>(xe.xclient.data.l[1]) == XInternAtom(t.pDisplay, szName, False);
}

void SetIconName(void)
{
    X11_TRAY& t = g_tray;
    if (!t.icon) return;
    const std::string strUtf8 = PlatCp932ToUtf8String(t.strTipCp932.c_str());
    const Atom aName = XInternAtom(t.pDisplay, "_NET_WM_NAME", False);
    const Atom aUtf8 = XInternAtom(t.pDisplay, "UTF8_STRING", False);
    XChangeProperty(t.pDisplay, t.icon, aName, aUtf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(strUtf8.data()), static_cast<int>(strUtf8.size()));
}

}  // namespace

int PlatX11TrayShow(SDL_Window* pOwner, const uint32_t* pBgra, int w, int h, const char* pszTipCp932)
{
    Display* pDisplay = nullptr;
    if (!PlatX11WindowOf(pOwner, &pDisplay) || !pDisplay || PlatX11DisplayLost()) return -1;
    X11_TRAY& t = g_tray;
    if (t.pDisplay && t.pDisplay != pDisplay) PlatX11TrayRemove();
    t.pDisplay = pDisplay;
    t.picture.assign(pBgra, pBgra + static_cast<size_t>(w) * static_cast<size_t>(h));
    t.nPicW = w;
    t.nPicH = h;
    t.strTipCp932 = pszTipCp932 ? pszTipCp932 : "";
    bool bNew = false;
    if (!t.icon) {
        CreateIconWindow();
        bNew = true;
    }
    SetIconName();
    if (t.tip) HideTip();
    if (!bNew) {
        DrawIcon();
        return t.bEmbedded ? 1 : 0;
    }
    const int r = RequestDock();
    // The host answers by reparenting the window into itself; wait for that here, briefly, so the
    // caller knows whether the icon is shown.
    XSync(t.pDisplay, False);
    return r;
}

void PlatX11TrayRemove(void)
{
    X11_TRAY& t = g_tray;
    if (!t.pDisplay) return;
    HideTip();
    if (t.icon && !PlatX11DisplayLost()) {
        XDestroyWindow(t.pDisplay, t.icon);
        XFlush(t.pDisplay);
    }
    t.icon = 0;
    t.bEmbedded = false;
    t.dockOwner = 0;
}

void PlatX11TrayShutdown(void)
{
    PlatX11TrayRemove();
    if (g_tray.bFontTried) PlatUiFontClose(&g_tray.font);
    g_tray = X11_TRAY{};
}

int PlatX11TrayIsEmbedded(void) { return g_tray.icon && g_tray.bEmbedded ? 1 : 0; }

int PlatX11TrayHostPresent(void)
{
    X11_TRAY& t = g_tray;
    if (!t.icon || !t.pDisplay || PlatX11DisplayLost()) return 0;
    if (t.bEmbedded) return 1;
    // A host that started after the icon was made (or replaced the one asked) is asked now; it
    // embeds the icon right away.
    const ::Window owner = TrayOwner(t.pDisplay);
    if (owner == None) return 0;
    if (owner != t.dockOwner) RequestDock();
    return 1;
}

int PlatX11TrayHandleEvent(const SDL_Event& e, uint32_t* pnMouseMessage, int* pX, int* pY)
{
    if (e.type != SDL_SYSWMEVENT || !e.syswm.msg || e.syswm.msg->subsystem != SDL_SYSWM_X11) return 0;
    const XEvent& xe = e.syswm.msg->msg.x11.event;
    X11_TRAY& t = g_tray;
    if (!t.icon || !t.pDisplay) return 0;
    if (IsTrayManagerMessage(xe)) {
        // A host that started after the icon (or in place of one that ended) embeds it now.
        if (!t.bEmbedded) RequestDock();
        *pnMouseMessage = 0;
        return 1;
    }
    if (xe.xany.window != t.icon) return 0;
    *pnMouseMessage = 0;
    bool bWasEmbedded = false;
    switch (xe.type) {
    case ReparentNotify:
        bWasEmbedded = t.bEmbedded;
        t.bEmbedded = xe.xreparent.parent != DefaultRootWindow(t.pDisplay);
        if (!t.bEmbedded) {
            // The host went away and gave the icon back to the root window: it must not stand on the
            // desktop as a window of its own.
            XUnmapWindow(t.pDisplay, t.icon);
            XFlush(t.pDisplay);
            t.dockOwner = 0;
        }
        break;
    case ConfigureNotify:
        t.w = xe.xconfigure.width;
        t.h = xe.xconfigure.height;
        DrawIcon();
        break;
    case MapNotify:
    case Expose:
        DrawIcon();
        break;
    case DestroyNotify:
        t.icon = 0;
        t.bEmbedded = false;
        HideTip();
        break;
    case EnterNotify:
        ShowTip(xe.xcrossing.x_root, xe.xcrossing.y_root);
        break;
    case LeaveNotify:
        HideTip();
        break;
    case ButtonPress:
        HideTip();
        *pX = xe.xbutton.x_root;
        *pY = xe.xbutton.y_root;
        if (xe.xbutton.button == Button1) {
            // A second press soon after the first is the double click, as the shell reports it.
            const bool bDouble = t.tLastPress && xe.xbutton.time - t.tLastPress <= kDoubleClickMs;
            *pnMouseMessage = bDouble ? PLAT_WM_LBUTTONDBLCLK : PLAT_WM_LBUTTONDOWN;
            t.tLastPress = bDouble ? 0 : xe.xbutton.time;
        } else if (xe.xbutton.button == Button3) {
            *pnMouseMessage = PLAT_WM_RBUTTONDOWN;
        } else if (xe.xbutton.button == Button2) {
            *pnMouseMessage = PLAT_WM_MBUTTONDOWN;
        }
        break;
    case ButtonRelease:
        *pX = xe.xbutton.x_root;
        *pY = xe.xbutton.y_root;
        if (xe.xbutton.button == Button1) *pnMouseMessage = PLAT_WM_LBUTTONUP;
        else if (xe.xbutton.button == Button3) *pnMouseMessage = PLAT_WM_RBUTTONUP;
        else if (xe.xbutton.button == Button2) *pnMouseMessage = PLAT_WM_MBUTTONUP;
        break;
    default:
        break;
    }
    return bWasEmbedded && !t.bEmbedded ? 2 : 1;
}
