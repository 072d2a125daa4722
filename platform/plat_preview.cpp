// The screen saver's preview on X11: a child window of the given window on a connection of its own,
// made before the rest of the program brings up a window system. The picture is converted once to
// the screen's pixel format and put into the window on every Expose.
#include "platform/plat_preview.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/plat_signals.h"

namespace {

int g_nPreviewXError = 0;   // the last X error's code on the preview's connection (0 none)
bool g_bPreviewXLost = false;

int OnPreviewXError(Display*, XErrorEvent* pError)
{
    g_nPreviewXError = pError->error_code ? pError->error_code : 1;
    return 0;
}

// The connection broke: the preview ends as if its window had gone.
void OnPreviewXIoErrorExit(Display*, void*)
{
    g_bPreviewXLost = true;
}

int OnPreviewXIoError(Display*)
{
    g_bPreviewXLost = true;
    return 0;
}

// The program draws on X11 when SDL would: no video driver named, or x11 named first.
bool X11IsTheVideoDriver(void)
{
    const char* pszDriver = std::getenv("SDL_VIDEODRIVER");
    if (pszDriver && *pszDriver) {
        const std::string strFirst = std::string(pszDriver).substr(0, std::strcspn(pszDriver, ","));
        if (strcasecmp(strFirst.c_str(), "x11") != 0) return false;
    }
    const char* pszDisplay = std::getenv("DISPLAY");
    return pszDisplay && *pszDisplay;
}

// A colour channel of 8 bits placed under a TrueColor mask.
unsigned long Channel(unsigned c, unsigned long nMask)
{
    if (!nMask) return 0;
    int nShift = 0, nBits = 0;
    while (!((nMask >> nShift) & 1)) ++nShift;
    while ((nMask >> (nShift + nBits)) & 1) ++nBits;
    const unsigned long v = nBits >= 8 ? static_cast<unsigned long>(c) << (nBits - 8) : c >> (8 - nBits);
    return (v << nShift) & nMask;
}

// The picture in the screen's format; NULL when the visual has no direct colours or memory is short.
XImage* MakeImage(Display* pDisplay, Visual* pVisual, int nDepth, int32_t w, int32_t h, const uint8_t* const* apRows)
{
    if (pVisual->c_class != TrueColor && pVisual->c_class != DirectColor) return nullptr;
    XImage* pImage = XCreateImage(pDisplay, pVisual, static_cast<unsigned>(nDepth), ZPixmap, 0, nullptr,
                                  static_cast<unsigned>(w), static_cast<unsigned>(h), 32, 0);
    if (!pImage) return nullptr;
    pImage->data = static_cast<char*>(std::calloc(static_cast<size_t>(pImage->bytes_per_line), static_cast<size_t>(h)));
    if (!pImage->data) {
        XDestroyImage(pImage);
        return nullptr;
    }
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* p = apRows[y];
        for (int32_t x = 0; x < w; ++x, p += 3)
            XPutPixel(pImage, x, y,
                      Channel(p[2], pVisual->red_mask) | Channel(p[1], pVisual->green_mask) | Channel(p[0], pVisual->blue_mask));
    }
    return pImage;
}

}  // namespace

int PlatRunPreviewWindow(unsigned long nParent, const char* pszClass, int32_t nWidth, int32_t nHeight,
                         const uint8_t* const* apRows)
{
    if (!X11IsTheVideoDriver()) return PLAT_PREVIEW_NO_X11;
    Display* pDisplay = XOpenDisplay(nullptr);
    if (!pDisplay) return PLAT_PREVIEW_NO_X11;
    g_nPreviewXError = 0;
    g_bPreviewXLost = false;
    int (*pfnPrevious)(Display*, XErrorEvent*) = XSetErrorHandler(OnPreviewXError);
    int (*pfnPreviousIo)(Display*) = XSetIOErrorHandler(OnPreviewXIoError);
    XSetIOErrorExitHandler(pDisplay, OnPreviewXIoErrorExit, nullptr);

    int nResult = PLAT_PREVIEW_ENDED;
    XWindowAttributes attr{};
    // An XID has 29 bits: a larger number names no window (and would name another one cut short).
    if (nParent == 0 || nParent > 0x1FFFFFFFul || !XGetWindowAttributes(pDisplay, nParent, &attr) || g_nPreviewXError) {
        nResult = PLAT_PREVIEW_NO_WINDOW;
    }
    Window child = 0;
    GC gc = nullptr;
    XImage* pImage = nullptr;
    if (nResult == PLAT_PREVIEW_ENDED) {
        const int nScreen = DefaultScreen(pDisplay);
        // The parent's outer size, each side as a 16-bit value (X has no empty window).
        const unsigned w = static_cast<uint16_t>(attr.width + 2 * attr.border_width);
        const unsigned h = static_cast<uint16_t>(attr.height + 2 * attr.border_width);
        const unsigned long nBlack = BlackPixel(pDisplay, nScreen);
        child = XCreateSimpleWindow(pDisplay, nParent, 0, 0, w ? w : 1, h ? h : 1, 0, nBlack, nBlack);
        XStoreName(pDisplay, child, pszClass);
        XClassHint hint{const_cast<char*>(pszClass), const_cast<char*>(pszClass)};
        XSetClassHint(pDisplay, child, &hint);
        XSelectInput(pDisplay, child, ExposureMask | StructureNotifyMask);
        XMapWindow(pDisplay, child);
        XSync(pDisplay, False);
        // The parent went away between the question and the window.
        if (g_nPreviewXError || g_bPreviewXLost) nResult = PLAT_PREVIEW_NO_WINDOW;
    }
    if (nResult == PLAT_PREVIEW_ENDED) {
        // Picture pixels of a visual from the parent's screen (the child inherits the parent's visual).
        pImage = MakeImage(pDisplay, attr.visual, attr.depth, nWidth, nHeight, apRows);
        gc = XCreateGC(pDisplay, child, 0, nullptr);
        PlatInstallQuitSignals();
        bool bGone = false;
        while (!bGone && !g_bPreviewXLost && !PlatQuitSignalSeen()) {
            while (!bGone && !g_bPreviewXLost && XPending(pDisplay) > 0) {
                XEvent e;
                XNextEvent(pDisplay, &e);
                if (e.type == Expose && e.xexpose.window == child && e.xexpose.count == 0 && pImage)
                    XPutImage(pDisplay, child, gc, pImage, 0, 0, 0, 0, static_cast<unsigned>(nWidth),
                              static_cast<unsigned>(nHeight));
                else if (e.type == DestroyNotify && e.xdestroywindow.window == child)
                    bGone = true;
            }
            XFlush(pDisplay);
            if (bGone || g_bPreviewXLost) break;
            // Wakes for the next event, or every tenth of a second to see a quit signal.
            pollfd pfd{ConnectionNumber(pDisplay), POLLIN, 0};
            if (poll(&pfd, 1, 100) > 0 && (pfd.revents & (POLLHUP | POLLERR))) break;
        }
        PlatRemoveQuitSignals();
        if (!bGone && !g_bPreviewXLost) XDestroyWindow(pDisplay, child);
    }
    if (pImage) XDestroyImage(pImage);
    if (gc && !g_bPreviewXLost) XFreeGC(pDisplay, gc);
    // A broken connection is left as it is: Xlib has nothing more to say on it.
    if (!g_bPreviewXLost) {
        XSync(pDisplay, True);
        XCloseDisplay(pDisplay);
    }
    XSetErrorHandler(pfnPrevious);
    XSetIOErrorHandler(pfnPreviousIo);
    return nResult;
}
