// The SDL display backend: SDL's displays are the monitors; a fullscreen window is a borderless
// window sized to its monitor in SDL's desktop fullscreen state, which keeps the display's mode. Only
// the window thread calls in here.
#include <SDL.h>
#include <SDL_syswm.h>

#include "platform/plat_display_backend.h"
#include "platform/plat_internal.h"
#include "platform/plat_window_backend.h"
#include "platform/plat_x11.h"

namespace {

// The SDL window while its X side is there: a window another program destroyed gets no more
// requests (SDL may wait for events about it that never come) until the window core destroys it.
SDL_Window* SdlOf(PLAT_WINDOW_REC* p)
{
    SDL_Window* pWin = static_cast<SDL_Window*>(p->pNative);
    return pWin && !PlatX11IsLost(pWin) ? pWin : nullptr;
}

PLAT_DISPLAY_MODE ModeOf(const SDL_DisplayMode& m)
{
    return PLAT_DISPLAY_MODE{m.w, m.h, PlatCountModeBits(SDL_BITSPERPIXEL(m.format), SDL_BYTESPERPIXEL(m.format)),
                             m.refresh_rate > 0 ? m.refresh_rate : 0};
}

PLAT_RECT RectOf(const SDL_Rect& r) { return PLAT_RECT{r.x, r.y, r.x + r.w, r.y + r.h}; }

int SdlMonitorCount(void)
{
    const int n = SDL_GetNumVideoDisplays();
    return n > 0 ? n : 0;
}

int SdlMonitorInfo(int nMonitor, PLAT_MONITOR_INFO* pOut)
{
    SDL_Rect rc, rcWork;
    SDL_DisplayMode mode;
    if (nMonitor < 0 || nMonitor >= SdlMonitorCount() || SDL_GetDisplayBounds(nMonitor, &rc) != 0) return -1;
    if (SDL_GetDisplayUsableBounds(nMonitor, &rcWork) != 0 || rcWork.w <= 0 || rcWork.h <= 0) rcWork = rc;
    pOut->rcMonitor = RectOf(rc);
    pOut->rcWork = RectOf(rcWork);
    if (SDL_GetDesktopDisplayMode(nMonitor, &mode) == 0) {
        pOut->desktop = ModeOf(mode);
    } else {
        pOut->desktop = PLAT_DISPLAY_MODE{rc.w, rc.h, 32, 0};
    }
    return 0;
}

int SdlDisplayMode(int nMonitor, int nMode, PLAT_DISPLAY_MODE* pOut)
{
    SDL_DisplayMode mode;
    if (nMonitor < 0 || nMonitor >= SdlMonitorCount() || nMode < 0 || nMode >= SDL_GetNumDisplayModes(nMonitor) ||
        SDL_GetDisplayMode(nMonitor, nMode, &mode) != 0)
        return -1;
    *pOut = ModeOf(mode);
    return 0;
}

int SdlEnterFullscreen(PLAT_WINDOW_REC* p, const PLAT_RECT* pMonitor)
{
    SDL_Window* pWin = SdlOf(p);
    if (!pWin) return -1;
    // The window first covers the monitor by itself (all there is without a window manager), then
    // asks for the desktop fullscreen state, in which a window manager keeps panels off it. Either
    // keeps the display's mode.
    SDL_SetWindowPosition(pWin, pMonitor->left, pMonitor->top);
    SDL_SetWindowSize(pWin, pMonitor->right - pMonitor->left, pMonitor->bottom - pMonitor->top);
    if (SDL_SetWindowFullscreen(pWin, SDL_WINDOW_FULLSCREEN_DESKTOP) != 0) {
        SDL_ClearError();
        SDL_SetWindowPosition(pWin, p->nClientX, p->nClientY);
        SDL_SetWindowSize(pWin, p->nClientW > 0 ? p->nClientW : 1, p->nClientH > 0 ? p->nClientH : 1);
        return -1;
    }
    return 0;
}

void SdlLeaveFullscreen(PLAT_WINDOW_REC* p)
{
    if (SDL_Window* pWin = SdlOf(p)) SDL_SetWindowFullscreen(pWin, 0);
}

int SdlReadClientRect(PLAT_WINDOW_REC* p, PLAT_RECT* pOut)
{
    SDL_Window* pWin = SdlOf(p);
    if (!pWin) return -1;
#if defined(SDL_VIDEO_DRIVER_X11) && defined(KX_HAVE_X11)
    // On X11 the X server itself is asked: SDL's own record of a window can run ahead of what the
    // server (and a window manager) made of a request.
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(pWin, &info) && info.subsystem == SDL_SYSWM_X11) {
        Display* pDisplay = info.info.x11.display;
        ::Window root = 0, child = 0;
        int x = 0, y = 0;
        unsigned int w = 0, h = 0, nBorder = 0, nDepth = 0;
        XSync(pDisplay, False);
        if (XGetGeometry(pDisplay, info.info.x11.window, &root, &x, &y, &w, &h, &nBorder, &nDepth) &&
            XTranslateCoordinates(pDisplay, info.info.x11.window, root, 0, 0, &x, &y, &child)) {
            *pOut = PLAT_RECT{x, y, x + static_cast<int>(w), y + static_cast<int>(h)};
            return 0;
        }
    }
    SDL_ClearError();
#endif
    int x = 0, y = 0, w = 0, h = 0;
    SDL_GetWindowPosition(pWin, &x, &y);
    SDL_GetWindowSize(pWin, &w, &h);
    *pOut = PLAT_RECT{x, y, x + w, y + h};
    return 0;
}

int SdlWarpCursor(int32_t x, int32_t y) { return SDL_WarpMouseGlobal(x, y) == 0 ? 0 : -1; }

// What stands for "no limit": SDL knows no way back to none once a limit was set.
constexpr int kNoSizeLimit = 16384;

// The native window holds the menu bar's strip above the client, so its limits are the client's
// plus the strip. SDL refuses a maximum below the minimum (and the reverse), so the maximum is
// opened first; a limit is set only when it changes, because each setting also moves and raises
// the window on X11.
void SdlApplySizeLimits(PLAT_WINDOW_REC* p)
{
    SDL_Window* pWin = SdlOf(p);
    if (!pWin) return;
    const int nBar = PlatMenuBarInset(p);
    int minW = p->nMinTrackW > 0 ? p->nMinTrackW : 1;
    int minH = (p->nMinTrackH > 0 ? p->nMinTrackH : 1) + nBar;
    int maxW = p->nMaxTrackW > 0 ? p->nMaxTrackW : kNoSizeLimit;
    int maxH = p->nMaxTrackH > 0 ? p->nMaxTrackH + nBar : kNoSizeLimit;
    if (PlatIsFixedSizeMaximisable(p->nStyle)) {
        // A fixed size the window manager may still maximise: its size is the smallest, and there is
        // no largest. While maximised nothing holds it to the old size.
        const bool bRestored = p->nShowState == PLAT_SIZE_RESTORED;
        minW = bRestored && p->nClientW > 0 ? p->nClientW : 1;
        minH = (bRestored && p->nClientH > 0 ? p->nClientH : 1) + nBar;
        maxW = maxH = kNoSizeLimit;
    }
    if (maxW < minW) maxW = minW;
    if (maxH < minH) maxH = minH;
    // On X11 the hints are written directly: SDL's setters move and raise the window each time,
    // which lands a window being restored or placed off by the frame. A window that is not
    // resizable keeps the fixed size SDL gave its hints.
    if (!(SDL_GetWindowFlags(pWin) & SDL_WINDOW_RESIZABLE)) return;
    if (PlatX11SetSizeHints(pWin, minW, minH, maxW == kNoSizeLimit ? 0 : maxW, maxH == kNoSizeLimit ? 0 : maxH) == 0)
        return;
    int curMinW = 0, curMinH = 0, curMaxW = 0, curMaxH = 0;
    SDL_GetWindowMinimumSize(pWin, &curMinW, &curMinH);
    SDL_GetWindowMaximumSize(pWin, &curMaxW, &curMaxH);
    if (curMaxW == 0) curMaxW = kNoSizeLimit;
    if (curMaxH == 0) curMaxH = kNoSizeLimit;
    if (curMinW == minW && curMinH == minH && curMaxW == maxW && curMaxH == maxH) return;
    if (curMaxW != kNoSizeLimit || curMaxH != kNoSizeLimit)
        SDL_SetWindowMaximumSize(pWin, kNoSizeLimit, kNoSizeLimit);
    if (curMinW != minW || curMinH != minH) SDL_SetWindowMinimumSize(pWin, minW, minH);
    if (maxW != kNoSizeLimit || maxH != kNoSizeLimit) SDL_SetWindowMaximumSize(pWin, maxW, maxH);
    SDL_ClearError();
}

int SdlBeginMove(PLAT_WINDOW_REC* p, int32_t x, int32_t y)
{
    SDL_Window* pWin = SdlOf(p);
    return pWin ? PlatX11BeginMove(pWin, x, y) : -1;
}

void SdlEndMove(PLAT_WINDOW_REC* p, int32_t x, int32_t y)
{
    if (SDL_Window* pWin = SdlOf(p)) PlatX11SendButtonRelease(pWin, x, y);
}

int SdlQueryPointer(PLAT_WINDOW_REC* p, int32_t* pX, int32_t* pY, int* pbLeftHeld)
{
    SDL_Window* pWin = SdlOf(p);
    if (!pWin) return -1;
    int x = 0, y = 0;
    if (PlatX11QueryPointer(pWin, &x, &y, pbLeftHeld) != 0) {
        const uint32_t nButtons = SDL_GetGlobalMouseState(&x, &y);
        *pbLeftHeld = (nButtons & SDL_BUTTON_LMASK) ? 1 : 0;
    }
    *pX = x;
    *pY = y;
    return 0;
}

void SdlAllowScreenSaver(int bAllow)
{
    if (bAllow) {
        SDL_EnableScreenSaver();
        PlatX11ResumeScreenSaver();
    } else {
        SDL_DisableScreenSaver();
    }
}

}  // namespace

const PLAT_DISPLAY_BACKEND g_SdlDisplayBackend = {
    SdlMonitorCount, SdlMonitorInfo, SdlDisplayMode, SdlEnterFullscreen, SdlLeaveFullscreen,
    SdlReadClientRect, SdlWarpCursor, SdlApplySizeLimits, SdlBeginMove, SdlEndMove, SdlQueryPointer,
    SdlAllowScreenSaver,
};
