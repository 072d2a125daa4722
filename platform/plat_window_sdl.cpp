// The SDL window backend. Only the window thread calls in here.
#include <SDL.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/plat_display_backend.h"
#include "platform/plat_internal.h"
#include "platform/plat_text.h"
#include "platform/plat_editbox.h"
#include "platform/plat_editbox_backend.h"
#include "platform/plat_window_backend.h"
#include "platform/plat_tray.h"
#include "platform/plat_x11.h"
#include "platform/plat_x11_tray.h"

namespace {

// The windows that have a native window, in the order they were made.
std::vector<PLAT_HWND> g_vNativeWindows;
// SDL may have defined one cursor on every window since each got its own (DefineOwnCursors).
bool g_bCursorsStale = false;
// Whether a close request from the window system came yet, when the last one came (SDL ticks) and
// for which window. Every tick is a time a request can come at, the first millisecond's 0 too.
bool g_bCloseSeen = false;
uint32_t g_nLastCloseTicks = 0;
PLAT_HWND g_hwndLastClose = 0;

// Where the program last placed a window's client, until the window system reports it there. A
// window manager places the frame by the decoration sizes it last announced; right after a change of
// decorations (leaving fullscreen, a frame switched on or off) SDL still has the old ones, and the
// client lands off by the difference. The place is then asked for again, a few times at most (a
// window manager may keep a window elsewhere on purpose).
// Only a place off by no more than the window manager's frame (_NET_FRAME_EXTENTS, as SDL has it
// by the time the answer arrives) and a little slack is taken for such a fault: a place farther off
// is the window manager's or the user's own (a move by the user soon after the program's is kept),
// however late the answer comes on a loaded machine.
struct PENDING_PLACE {
    int x, y;       // the SDL window's position (the menu bar's strip included)
    int nRetries;   // the place asked for again so often
    int nOthers;    // places reported since that were not this one
};
std::map<PLAT_HWND, PENDING_PLACE> g_mapPendingPlace;
constexpr int kPlaceRetries = 3;
// After this many other places reported the place is no longer waited for (the window manager keeps
// the window elsewhere, or it never moved).
constexpr int kPlaceOthers = 8;
constexpr int kPlaceSlack = 16;

// The window surface each window's last whole picture went to, with its size: a part is shown only
// onto that surface (one the window system made anew holds nothing of the picture yet).
struct SHOWN_SURFACE {
    SDL_Surface* pSurface;
    int w, h;
};
std::map<PLAT_HWND, SHOWN_SURFACE> g_mapShownSurface;

PLAT_HWND HwndOfSdl(uint32_t nWindowId)
{
    SDL_Window* pWin = SDL_GetWindowFromID(nWindowId);
    return pWin ? (PLAT_HWND)(uintptr_t)SDL_GetWindowData(pWin, "kxhwnd") : 0;
}

SDL_Window* SdlOf(PLAT_WINDOW_REC* p) { return (SDL_Window*)p->pNative; }
// The SDL window while its X side is there. A window another program destroyed gets no more
// requests until the core destroys it: SDL waits for the map or unmap of a window it shows, hides
// or restores, and a window the server no longer has never sends one.
SDL_Window* LiveSdlOf(PLAT_WINDOW_REC* p)
{
    SDL_Window* pWin = p ? SdlOf(p) : nullptr;
    return pWin && !PlatX11IsLost(pWin) ? pWin : nullptr;
}

// The native window holds the menu bar's strip above the client.
int BarOf(const PLAT_WINDOW_REC* p) { return p ? PlatMenuBarInset(p) : 0; }
int BarOfHwnd(PLAT_HWND hwnd) { return BarOf(PlatLookupWindow(hwnd)); }

// SDL scancode -> virtual key, for the keys that are not letters or digits.
int VkOfScancode(SDL_Scancode sc, int* pExtended)
{
    *pExtended = 0;
    if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z) return 'A' + (sc - SDL_SCANCODE_A);
    if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9) return '1' + (sc - SDL_SCANCODE_1);
    if (sc == SDL_SCANCODE_0) return '0';
    if (sc >= SDL_SCANCODE_F1 && sc <= SDL_SCANCODE_F12) return PLAT_VK_F1 + (sc - SDL_SCANCODE_F1);
    if (sc >= SDL_SCANCODE_KP_1 && sc <= SDL_SCANCODE_KP_9) return PLAT_VK_NUMPAD0 + 1 + (sc - SDL_SCANCODE_KP_1);
    static const struct { SDL_Scancode sc; int nVk; int bExt; } table[] = {
        {SDL_SCANCODE_RETURN, PLAT_VK_RETURN, 0}, {SDL_SCANCODE_ESCAPE, PLAT_VK_ESCAPE, 0},
        {SDL_SCANCODE_BACKSPACE, PLAT_VK_BACK, 0}, {SDL_SCANCODE_TAB, PLAT_VK_TAB, 0},
        {SDL_SCANCODE_SPACE, PLAT_VK_SPACE, 0}, {SDL_SCANCODE_MINUS, PLAT_VK_OEM_MINUS, 0},
        {SDL_SCANCODE_EQUALS, PLAT_VK_OEM_PLUS, 0}, {SDL_SCANCODE_LEFTBRACKET, PLAT_VK_OEM_4, 0},
        {SDL_SCANCODE_RIGHTBRACKET, PLAT_VK_OEM_6, 0}, {SDL_SCANCODE_BACKSLASH, PLAT_VK_OEM_5, 0},
        {SDL_SCANCODE_SEMICOLON, PLAT_VK_OEM_1, 0}, {SDL_SCANCODE_APOSTROPHE, PLAT_VK_OEM_7, 0},
        {SDL_SCANCODE_GRAVE, PLAT_VK_OEM_3, 0}, {SDL_SCANCODE_COMMA, PLAT_VK_OEM_COMMA, 0},
        {SDL_SCANCODE_PERIOD, PLAT_VK_OEM_PERIOD, 0}, {SDL_SCANCODE_SLASH, PLAT_VK_OEM_2, 0},
        {SDL_SCANCODE_NONUSBACKSLASH, PLAT_VK_OEM_102, 0}, {SDL_SCANCODE_CAPSLOCK, PLAT_VK_CAPITAL, 0},
        {SDL_SCANCODE_PRINTSCREEN, PLAT_VK_SNAPSHOT, 1}, {SDL_SCANCODE_SCROLLLOCK, PLAT_VK_SCROLL, 0},
        {SDL_SCANCODE_PAUSE, PLAT_VK_PAUSE, 0}, {SDL_SCANCODE_INSERT, PLAT_VK_INSERT, 1},
        {SDL_SCANCODE_HOME, PLAT_VK_HOME, 1}, {SDL_SCANCODE_PAGEUP, PLAT_VK_PRIOR, 1},
        {SDL_SCANCODE_DELETE, PLAT_VK_DELETE, 1}, {SDL_SCANCODE_END, PLAT_VK_END, 1},
        {SDL_SCANCODE_PAGEDOWN, PLAT_VK_NEXT, 1}, {SDL_SCANCODE_RIGHT, PLAT_VK_RIGHT, 1},
        {SDL_SCANCODE_LEFT, PLAT_VK_LEFT, 1}, {SDL_SCANCODE_DOWN, PLAT_VK_DOWN, 1},
        {SDL_SCANCODE_UP, PLAT_VK_UP, 1}, {SDL_SCANCODE_NUMLOCKCLEAR, PLAT_VK_NUMLOCK, 1},
        {SDL_SCANCODE_KP_DIVIDE, PLAT_VK_DIVIDE, 1}, {SDL_SCANCODE_KP_MULTIPLY, PLAT_VK_MULTIPLY, 0},
        {SDL_SCANCODE_KP_MINUS, PLAT_VK_SUBTRACT, 0}, {SDL_SCANCODE_KP_PLUS, PLAT_VK_ADD, 0},
        {SDL_SCANCODE_KP_ENTER, PLAT_VK_RETURN, 1}, {SDL_SCANCODE_KP_0, PLAT_VK_NUMPAD0, 0},
        {SDL_SCANCODE_KP_PERIOD, PLAT_VK_DECIMAL, 0}, {SDL_SCANCODE_APPLICATION, PLAT_VK_APPS, 1},
        {SDL_SCANCODE_LCTRL, PLAT_VK_LCONTROL, 0}, {SDL_SCANCODE_LSHIFT, PLAT_VK_LSHIFT, 0},
        {SDL_SCANCODE_LALT, PLAT_VK_LMENU, 0}, {SDL_SCANCODE_LGUI, PLAT_VK_LWIN, 1},
        {SDL_SCANCODE_RCTRL, PLAT_VK_RCONTROL, 1}, {SDL_SCANCODE_RSHIFT, PLAT_VK_RSHIFT, 0},
        {SDL_SCANCODE_RALT, PLAT_VK_RMENU, 1}, {SDL_SCANCODE_RGUI, PLAT_VK_RWIN, 1},
    };
    for (auto& t : table)
        if (t.sc == sc) {
            *pExtended = t.bExt;
            return t.nVk;
        }
    return 0;
}

int SdlStart(void)
{
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // Closing the last window is one close request (its window event), not a second one through
    // SDL_QUIT.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    // A composition longer than the event's own buffer arrives whole.
    SDL_SetHint(SDL_HINT_IME_SUPPORT_EXTENDED_TEXT, "1");
    // A click on a window that is not active is a click too, as on Windows: the first click on a
    // box's button presses it, even when another window had the focus.
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return -1;
    // On X11 the window surface is the window system's own image (shared memory), not a texture
    // drawn through OpenGL: a present is then a copy of the picture, where the OpenGL path costs a
    // texture upload and a draw, and a whole core where OpenGL is done in software. (Drivers without
    // an image of their own, such as Wayland's, need the OpenGL path.) The variable
    // SDL_FRAMEBUFFER_ACCELERATION still chooses otherwise.
    const char* pszDriver = SDL_GetCurrentVideoDriver();
    if (pszDriver && std::strcmp(pszDriver, "x11") == 0) SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    SDL_EventState(SDL_DROPFILE, SDL_ENABLE);
    // The window system's own events tell when another program destroyed one of our windows.
    SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
    g_bCloseSeen = false;
    g_nLastCloseTicks = 0;
    g_hwndLastClose = 0;
    return 0;
}

void SdlStop(void)
{
    PlatX11TrayShutdown();
    PlatX11BeforeQuit();
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

uint32_t SdlFlagsOf(uint32_t nStyle)
{
    uint32_t n = SDL_WINDOW_HIDDEN;
    // A fixed size that may be maximised is resizable to the window system too (its limits keep it).
    if ((nStyle & PLAT_WS_THICKFRAME) || PlatIsFixedSizeMaximisable(nStyle)) n |= SDL_WINDOW_RESIZABLE;
    if ((nStyle & PLAT_WS_POPUP) && (nStyle & PLAT_WS_CAPTION) != PLAT_WS_CAPTION) n |= SDL_WINDOW_BORDERLESS;
    return n;
}

int SdlCreate(PLAT_WINDOW_REC* p)
{
    // SDL has no child windows: a child stays a record drawn by its parent's owner.
    if (p->nStyle & PLAT_WS_CHILD) return 0;
    std::string strTitle = PlatCp932ToUtf8String(p->strTitle.c_str());
    const int nBar = BarOf(p);
    // A tool window is a utility window without a taskbar button; both are known to the window
    // manager only from the window's first map, so they are given at creation.
    uint32_t nFlags = SdlFlagsOf(p->nStyle);
    if (p->nExStyle & PLAT_WS_EX_TOOLWINDOW) nFlags |= SDL_WINDOW_UTILITY | SDL_WINDOW_SKIP_TASKBAR;
    if (p->bTopmost) nFlags |= SDL_WINDOW_ALWAYS_ON_TOP;
    SDL_Window* pWin = SDL_CreateWindow(strTitle.c_str(), p->nClientX, p->nClientY - nBar, p->nClientW > 0 ? p->nClientW : 1,
                                        (p->nClientH > 0 ? p->nClientH : 1) + nBar, nFlags);
    if (!pWin) return -1;
    SDL_SetWindowData(pWin, "kxhwnd", (void*)(uintptr_t)p->hwnd);
    p->pNative = pWin;
    g_vNativeWindows.push_back(p->hwnd);
    // The window surface is made now, while the window is hidden: SDL makes the X window anew when
    // the surface needs another renderer, which would otherwise happen on the screen and drop the
    // owner set below.
    SDL_GetWindowSurface(pWin);
    PlatX11Watch(pWin);
    g_bCursorsStale = true;
    // An owned top-level window (a box over the main window) stays above its owner.
    if (PLAT_WINDOW_REC* pOwner = PlatLookupWindow(p->hwndParent))
        if (SdlOf(pOwner)) SDL_SetWindowModalFor(pWin, SdlOf(pOwner));
    return 0;
}

void SdlDestroy(PLAT_WINDOW_REC* p)
{
    if (SDL_Window* pWin = SdlOf(p)) {
        const bool bLost = PlatX11IsLost(pWin) != 0;
        PlatX11Forget(pWin);
        if (bLost) PlatX11DestroyLost(pWin);
        else SDL_DestroyWindow(pWin);
    }
    g_vNativeWindows.erase(std::remove(g_vNativeWindows.begin(), g_vNativeWindows.end(), p->hwnd), g_vNativeWindows.end());
    g_mapPendingPlace.erase(p->hwnd);
    g_mapShownSurface.erase(p->hwnd);
    p->pNative = nullptr;
}


// A MOVED event: true when it is an interim place on the way to the one the program asked for (the
// request is repeated and the event not passed on).
bool CorrectPendingPlace(PLAT_WINDOW_REC* p, int x, int y)
{
    auto it = g_mapPendingPlace.find(p->hwnd);
    if (it == g_mapPendingPlace.end()) return false;
    SDL_Window* pWin = LiveSdlOf(p);
    const uint32_t nFlags = pWin ? SDL_GetWindowFlags(pWin) : 0;
    if (x == it->second.x && y == it->second.y) {
        g_mapPendingPlace.erase(it);
        return false;
    }
    if (!pWin || it->second.nRetries >= kPlaceRetries || (nFlags & (SDL_WINDOW_FULLSCREEN | SDL_WINDOW_MAXIMIZED | SDL_WINDOW_MINIMIZED))) {
        g_mapPendingPlace.erase(it);
        return false;
    }
    int nTop = 0, nLeft = 0, nBottom = 0, nRight = 0;
    if (SDL_GetWindowBordersSize(pWin, &nTop, &nLeft, &nBottom, &nRight) != 0) nTop = nLeft = nBottom = nRight = 0;
    const int dx = x - it->second.x, dy = y - it->second.y;
    const bool bNear = std::abs(dx) <= nLeft + nRight + kPlaceSlack && std::abs(dy) <= nTop + nBottom + kPlaceSlack;
    if (!bNear) {
        // Not the fault of a stale frame: the place stands as reported.
        if (++it->second.nOthers >= kPlaceOthers) g_mapPendingPlace.erase(it);
        return false;
    }
    ++it->second.nRetries;
    SDL_SetWindowPosition(pWin, it->second.x, it->second.y);
    return true;
}

void SdlApplyGeometry(PLAT_WINDOW_REC* p)
{
    SDL_Window* pWin = LiveSdlOf(p);
    if (!pWin) return;
    const int nBar = BarOf(p);
    // A fixed size's smallest size follows the size the program gives it, before the window takes it.
    if (PlatIsFixedSizeMaximisable(p->nStyle)) PlatCurrentDisplayBackend()->pfnApplySizeLimits(p);
    g_mapPendingPlace[p->hwnd] = PENDING_PLACE{p->nClientX, p->nClientY - nBar, 0, 0};
    SDL_SetWindowPosition(pWin, p->nClientX, p->nClientY - nBar);
    SDL_SetWindowSize(pWin, p->nClientW > 0 ? p->nClientW : 1, (p->nClientH > 0 ? p->nClientH : 1) + nBar);
}

void SdlApplyShow(PLAT_WINDOW_REC* p)
{
    SDL_Window* pWin = LiveSdlOf(p);
    if (!pWin) return;
    if (!p->bVisible) {
        SDL_HideWindow(pWin);
        return;
    }
    const bool bAppears = (SDL_GetWindowFlags(pWin) & SDL_WINDOW_HIDDEN) != 0;
    SDL_ShowWindow(pWin);
    // A window that appears is the active one, as a shown window is on Windows; a window manager
    // need not focus one without a taskbar button by itself (openbox does not), so it is asked.
    if (bAppears && (p->nExStyle & PLAT_WS_EX_TOOLWINDOW) && p->nShowState != PLAT_SIZE_MINIMIZED) SDL_RaiseWindow(pWin);
    // Kept below the others: the window manager learns it again with each map.
    if (p->bBelow) PlatX11SetNetWmState(pWin, "_NET_WM_STATE_BELOW", 1);
    if (p->nShowState == PLAT_SIZE_MINIMIZED) SDL_MinimizeWindow(pWin);
    else if (p->nShowState == PLAT_SIZE_MAXIMIZED) SDL_MaximizeWindow(pWin);
    else SDL_RestoreWindow(pWin);
    // A fixed size is held again once restored, and not while maximised.
    if (PlatIsFixedSizeMaximisable(p->nStyle)) PlatCurrentDisplayBackend()->pfnApplySizeLimits(p);
}

void SdlApplyStyle(PLAT_WINDOW_REC* p)
{
    SDL_Window* pWin = LiveSdlOf(p);
    if (!pWin) return;
    uint32_t n = SdlFlagsOf(p->nStyle);
    SDL_SetWindowBordered(pWin, (n & SDL_WINDOW_BORDERLESS) ? SDL_FALSE : SDL_TRUE);
    SDL_SetWindowResizable(pWin, (n & SDL_WINDOW_RESIZABLE) ? SDL_TRUE : SDL_FALSE);
    // SDL wrote hints of its own when the frame changed: the window's limits go back on.
    PlatCurrentDisplayBackend()->pfnApplySizeLimits(p);
    PlatX11SetOpacity(pWin, p->nOpacity);
    // A box that keeps the keyboard: the window manager keeps it in front of its owner and gives it
    // the focus when the owner is clicked; as a dialog it gets no minimise or maximise button.
    if (p->bModalBox) {
        PlatX11MarkDialog(pWin);
        PlatX11SetNetWmState(pWin, "_NET_WM_STATE_MODAL", 1);
    }
}

void SdlApplyTitle(PLAT_WINDOW_REC* p)
{
    if (SDL_Window* pWin = LiveSdlOf(p)) SDL_SetWindowTitle(pWin, PlatCp932ToUtf8String(p->strTitle.c_str()).c_str());
}

int SdlPresent(PLAT_WINDOW_REC* p, const PLAT_RECT* pRect)
{
    SDL_Window* pWin = LiveSdlOf(p);
    if (!pWin || !p->pPixels) return 0;
    SDL_Surface* pDst = SDL_GetWindowSurface(pWin);
    if (!pDst) return -1;
    PlatX11Watch(pWin);
    // The retained picture is BGRA in memory, which SDL calls ARGB8888 on little-endian machines.
    // A window surface of B,G,R,X bytes (RGB888) takes the same bytes: described so, the copy is a
    // plain one instead of a conversion pixel by pixel (the fourth byte is not shown either way).
    const uint32_t nFormat =
        pDst->format->format == SDL_PIXELFORMAT_RGB888 ? SDL_PIXELFORMAT_RGB888 : SDL_PIXELFORMAT_ARGB8888;
    const auto itShown = g_mapShownSurface.find(p->hwnd);
    const bool bShownHere = itShown != g_mapShownSurface.end() && itShown->second.pSurface == pDst &&
                            itShown->second.w == pDst->w && itShown->second.h == pDst->h;
    if (pRect && bShownHere && !PlatWindowHasOverlay(p)) {
        // Only the part: the rest of the surface, the menu bar's strip above the picture included,
        // holds what the last whole picture left there.
        SDL_Surface* pSrc =
            SDL_CreateRGBSurfaceWithFormatFrom(p->pPixels, p->nFbW, p->nFbH, 32, p->nFbW * 4, nFormat);
        if (!pSrc) return -1;
        SDL_SetSurfaceBlendMode(pSrc, SDL_BLENDMODE_NONE);
        SDL_Rect rcSrc{pRect->left, pRect->top, pRect->right - pRect->left, pRect->bottom - pRect->top};
        SDL_Rect rcDst{rcSrc.x, rcSrc.y + BarOf(p), rcSrc.w, rcSrc.h};
        int r = SDL_BlitSurface(pSrc, &rcSrc, pDst, &rcDst);
        SDL_FreeSurface(pSrc);
        if (r == 0 && rcDst.w > 0 && rcDst.h > 0) r = SDL_UpdateWindowSurfaceRects(pWin, &rcDst, 1);
        return r == 0 ? 0 : -1;
    }
    // The menu bar and open menus are drawn over a copy of the retained picture.
    std::vector<uint32_t> composed;
    int cw = 0, ch = 0;
    const bool bComposed = PlatComposeWindow(p, &composed, &cw, &ch) == 1;
    SDL_Surface* pSrc = bComposed ? SDL_CreateRGBSurfaceWithFormatFrom(composed.data(), cw, ch, 32, cw * 4, nFormat)
                                  : SDL_CreateRGBSurfaceWithFormatFrom(p->pPixels, p->nFbW, p->nFbH, 32, p->nFbW * 4,
                                                                       nFormat);
    if (!pSrc) return -1;
    SDL_SetSurfaceBlendMode(pSrc, SDL_BLENDMODE_NONE);
    int r = SDL_BlitSurface(pSrc, nullptr, pDst, nullptr);
    SDL_FreeSurface(pSrc);
    if (r == 0) r = SDL_UpdateWindowSurface(pWin);
    if (r == 0) g_mapShownSurface[p->hwnd] = SHOWN_SURFACE{pDst, pDst->w, pDst->h};
    else g_mapShownSurface.erase(p->hwnd);
    return r == 0 ? 0 : -1;
}

// Reads the window surface back: what SDL last handed to the window system.
int SdlReadShown(PLAT_WINDOW_REC* p, std::vector<uint32_t>* pOut, int* pW, int* pH)
{
    SDL_Window* pWin = LiveSdlOf(p);
    SDL_Surface* pSurface = pWin ? SDL_GetWindowSurface(pWin) : nullptr;
    if (!pSurface || pSurface->w <= 0 || pSurface->h <= 0) return -1;
    pOut->assign(static_cast<size_t>(pSurface->w) * static_cast<size_t>(pSurface->h), 0);
    if (SDL_LockSurface(pSurface) != 0) return -1;
    const int r = SDL_ConvertPixels(pSurface->w, pSurface->h, pSurface->format->format, pSurface->pixels,
                                    pSurface->pitch, SDL_PIXELFORMAT_ARGB8888, pOut->data(), pSurface->w * 4);
    SDL_UnlockSurface(pSurface);
    *pW = pSurface->w;
    *pH = pSurface->h;
    return r == 0 ? 0 : -1;
}

std::vector<std::string> g_vDropNames;
// Window events of one close gesture arrive within this many milliseconds.
constexpr uint32_t kCloseGestureMs = 250;

bool IsRecentClose(uint32_t nTicks)
{
    return g_bCloseSeen && nTicks - g_nLastCloseTicks <= kCloseGestureMs;
}

// A close request of the window system: one WM_SYSCOMMAND SC_CLOSE per person's action. Window
// managers differ in what they send for one click (the window's close event, sometimes twice; SDL
// may add SDL_QUIT for the last window), so a request that follows one within the gesture's time is
// the same request.
void NoteCloseRequest(PLAT_HWND hwnd, uint32_t nTicks, bool bQuit)
{
    if (!hwnd) return;
    if (IsRecentClose(nTicks) && (bQuit || hwnd == g_hwndLastClose)) return;
    g_bCloseSeen = true;
    g_nLastCloseTicks = nTicks;
    g_hwndLastClose = hwnd;
    PlatPostMessage(hwnd, PLAT_WM_SYSCOMMAND, PLAT_SC_CLOSE, 0);
}

void TranslateEvent(const SDL_Event& e)
{
    switch (e.type) {
    case SDL_QUIT:
        // The application quit event (the last window closed, or a request of the session): the
        // first window is asked to close, unless it is the echo of a window's own close.
        NoteCloseRequest(PlatFindWindow(nullptr, nullptr), e.quit.timestamp, true);
        break;
    case SDL_SYSWMEVENT: {
        PlatX11NoteEvent(e);
        // A click on the tray icon reaches its owner as the shell's callback, with the cursor where
        // the click was (the tray's popup opens there).
        uint32_t nMouse = 0;
        int x = 0, y = 0;
        const int nTray = PlatX11TrayHandleEvent(e, &nMouse, &x, &y);
        if (nTray == 2) PlatTrayHostLost();
        if (nTray && nMouse) {
            PlatNoteCursorScreenPos(x, y);
            PlatTrayInjectClick(nMouse);
        }
        break;
    }
    case SDL_WINDOWEVENT: {
        PLAT_HWND hwnd = HwndOfSdl(e.window.windowID);
        PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
        if (!p) break;
        // The mouse going into or out of a window, and a window shown, make SDL define its cursor
        // on all of them.
        g_bCursorsStale = true;
        switch (e.window.event) {
        case SDL_WINDOWEVENT_CLOSE: NoteCloseRequest(hwnd, e.window.timestamp, false); break;
        case SDL_WINDOWEVENT_HIDDEN: p->bHiddenBySystem = 1; break;
        case SDL_WINDOWEVENT_SHOWN:
            p->bHiddenBySystem = 0;
            PlatInvalidateWindow(hwnd, 1);
            break;
        case SDL_WINDOWEVENT_MOVED:
            if (CorrectPendingPlace(p, e.window.data1, e.window.data2)) break;
            PlatNoteClientMoveSize(hwnd, e.window.data1, e.window.data2 + BarOf(p), p->nClientW, p->nClientH);
            break;
        case SDL_WINDOWEVENT_SIZE_CHANGED: {
            const int nBar = BarOf(p);
            int w = e.window.data1, h = e.window.data2 - nBar;
            // A restored window resized by its frame: the procedure may correct the size while
            // the drag goes on, as it would during WM_SIZING; the window then takes that size.
            SDL_Window* pWin = LiveSdlOf(p);
            const uint32_t nFlags = pWin ? SDL_GetWindowFlags(pWin) : 0;
            const bool bDragged = pWin && p->nShowState == PLAT_SIZE_RESTORED &&
                                  !(nFlags & (SDL_WINDOW_MAXIMIZED | SDL_WINDOW_MINIMIZED | SDL_WINDOW_FULLSCREEN));
            if (bDragged) PlatNoteUserResize(hwnd, &w, &h);
            PlatNoteClientMoveSize(hwnd, p->nClientX, p->nClientY, w, h);
            if (bDragged && (w != e.window.data1 || h + nBar != e.window.data2)) SDL_SetWindowSize(pWin, w, h + nBar);
            break;
        }
        case SDL_WINDOWEVENT_EXPOSED: PlatInvalidateWindow(hwnd, 1); break;
        case SDL_WINDOWEVENT_LEAVE: {
            // No motion events arrive outside the window: ask where the cursor went.
            int gx = 0, gy = 0;
            SDL_GetGlobalMouseState(&gx, &gy);
            PlatNoteCursorScreenPos(gx, gy);
            break;
        }
        case SDL_WINDOWEVENT_FOCUS_GAINED: PlatNoteFocus(hwnd, 1); break;
        case SDL_WINDOWEVENT_FOCUS_LOST: PlatNoteFocus(hwnd, 0); break;
        case SDL_WINDOWEVENT_MINIMIZED: p->nShowState = PLAT_SIZE_MINIMIZED; PlatSendMessage(hwnd, PLAT_WM_SIZE, PLAT_SIZE_MINIMIZED, 0); break;
        case SDL_WINDOWEVENT_MAXIMIZED:
            if (p->nShowState != PLAT_SIZE_MAXIMIZED) {
                // The window manager's maximise button: the program hears it as SC_MAXIMIZE, as from
                // its own frame, and may refuse it (the window is then restored again).
                PlatSendMessage(hwnd, PLAT_WM_SYSCOMMAND, PLAT_SC_MAXIMIZE, 0);
                if ((p = PlatLookupWindow(hwnd)) == nullptr) break;
                if (p->nShowState != PLAT_SIZE_MAXIMIZED && LiveSdlOf(p)) SDL_RestoreWindow(LiveSdlOf(p));
                break;
            }
            PlatSendMessage(hwnd, PLAT_WM_SIZE, PLAT_SIZE_MAXIMIZED, PlatMakeLParam(p->nClientW, p->nClientH));
            break;
        case SDL_WINDOWEVENT_RESTORED:
            if (p->nShowState == PLAT_SIZE_MAXIMIZED) {
                // Un-maximised by the window manager: SC_RESTORE, the same path as the program's own.
                PlatSendMessage(hwnd, PLAT_WM_SYSCOMMAND, PLAT_SC_RESTORE, 0);
                if ((p = PlatLookupWindow(hwnd)) == nullptr) break;
                if (p->nShowState == PLAT_SIZE_MAXIMIZED && LiveSdlOf(p)) SDL_MaximizeWindow(LiveSdlOf(p));
                break;
            }
            p->nShowState = PLAT_SIZE_RESTORED;
            PlatSendMessage(hwnd, PLAT_WM_SIZE, PLAT_SIZE_RESTORED, PlatMakeLParam(p->nClientW, p->nClientH));
            break;
        default: break;
        }
        break;
    }
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        int bExt, nVk = VkOfScancode(e.key.keysym.scancode, &bExt);
        if (nVk) PlatQueueKey(HwndOfSdl(e.key.windowID), nVk, e.type == SDL_KEYDOWN, e.key.repeat, bExt);
        break;
    }
    case SDL_TEXTINPUT: {
        // The edit box with the focus takes the text; else characters arrive as UTF-8 and WM_CHAR
        // carries cp932 bytes, a double-byte character as two.
        if (PlatEditBoxTakeText(HwndOfSdl(e.text.windowID), e.text.text)) break;
        std::string s = PlatUtf8ToCp932String(e.text.text);
        for (unsigned char c : s) PlatQueueChar(HwndOfSdl(e.text.windowID), c);
        break;
    }
    // An input method's composition, shown by the edit box at its caret.
    case SDL_TEXTEDITING: PlatEditBoxTakeComposition(HwndOfSdl(e.edit.windowID), e.edit.text, e.edit.start); break;
    case SDL_TEXTEDITING_EXT:
        PlatEditBoxTakeComposition(HwndOfSdl(e.editExt.windowID), e.editExt.text ? e.editExt.text : "", e.editExt.start);
        SDL_free(e.editExt.text);
        break;
    case SDL_MOUSEMOTION: {
        const PLAT_HWND hwnd = HwndOfSdl(e.motion.windowID);
        PlatQueueMouseMove(hwnd, e.motion.x, e.motion.y - BarOfHwnd(hwnd));
        break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        static const int anButton[6] = {0, 1, 3, 2, 4, 5};  // SDL: left, middle, right, X1, X2
        const PLAT_HWND hwnd = HwndOfSdl(e.button.windowID);
        if (e.button.button >= 1 && e.button.button <= 5)
            PlatQueueMouseButton(hwnd, anButton[e.button.button], e.type == SDL_MOUSEBUTTONDOWN, e.button.x,
                                 e.button.y - BarOfHwnd(hwnd));
        break;
    }
    case SDL_MOUSEWHEEL: {
        int y = e.wheel.y;
        if (e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) y = -y;
        int mx = 0, my = 0;
        SDL_GetMouseState(&mx, &my);
        const PLAT_HWND hwnd = HwndOfSdl(e.wheel.windowID);
        PlatQueueMouseWheel(hwnd, y * PLAT_WHEEL_DELTA, mx, my - BarOfHwnd(hwnd));
        break;
    }
    case SDL_DROPBEGIN: g_vDropNames.clear(); break;
    case SDL_DROPFILE: {
        if (e.drop.file) {
            std::string strEngine;
            if (PlatNativeToEnginePath(e.drop.file, &strEngine) == 0) g_vDropNames.push_back(strEngine);
            SDL_free(e.drop.file);
        }
        break;
    }
    case SDL_DROPCOMPLETE:
        if (!g_vDropNames.empty()) PlatQueueDrop(HwndOfSdl(e.drop.windowID), g_vDropNames);
        g_vDropNames.clear();
        break;
    default: break;
    }
}

// Windows whose X side another program destroyed (or whose connection broke) are destroyed here
// too, through their procedure, as if the program had closed them: the main window's WM_DESTROY
// then ends the run through the normal shut-down.
void DestroyLostWindows(void)
{
    for (;;) {
        PLAT_HWND hwndLost = 0;
        for (PLAT_HWND hwnd : g_vNativeWindows) {
            PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
            if (p && SdlOf(p) && !p->bDestroying && PlatX11IsLost(SdlOf(p))) {
                hwndLost = hwnd;
                break;
            }
        }
        if (!hwndLost || PlatDestroyWindow(hwndLost) != 0) return;
    }
}

// Every window shows its own cursor. SDL shows one cursor and defines it on all its windows, when
// the program sets one and again whenever the mouse goes into a window; the X server shows the
// cursor defined on the window under the pointer, so each window gets its own defined afterwards
// (until then a window would show another window's cursor, for as long as the program does not
// see the mouse arrive). A hidden cursor stays hidden over all of them.
void DefineOwnCursors(void)
{
    g_bCursorsStale = false;
    if (SDL_ShowCursor(SDL_QUERY) != SDL_ENABLE) return;
    std::lock_guard<std::recursive_mutex> lw(PlatWindowTableLock());
    for (PLAT_HWND hwnd : g_vNativeWindows) {
        PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
        if (!p || !SdlOf(p)) continue;
        PLAT_CURSOR_REC* pCursor = PlatLookupCursor(p->hCursor);
        PlatX11DefineCursor(SdlOf(p), pCursor ? static_cast<SDL_Cursor*>(pCursor->pNative) : nullptr);
    }
}

void SdlPump(void)
{
    SDL_Event e;
    while (SDL_PollEvent(&e)) TranslateEvent(e);
    DestroyLostWindows();
    if (g_bCursorsStale) DefineOwnCursors();
}

void SdlWait(uint32_t nMs) { SDL_Delay(nMs < 5 ? nMs : 5); }

void SdlShowCursor(int bShow)
{
    SDL_ShowCursor(bShow ? SDL_ENABLE : SDL_DISABLE);
    DefineOwnCursors();
}

void SdlRaise(PLAT_WINDOW_REC* p)
{
    if (SDL_Window* pWin = LiveSdlOf(p)) SDL_RaiseWindow(pWin);
}
void SdlWake(void) {}

void SdlApplyZOrder(PLAT_WINDOW_REC* p, int nWhere, PLAT_WINDOW_REC* pAfter)
{
    SDL_Window* pWin = LiveSdlOf(p);
    if (!pWin) return;
    // Only the bottom keeps a window below the others; every other placement lets it come up again.
    PlatX11SetNetWmState(pWin, "_NET_WM_STATE_BELOW", p->bBelow);
    switch (nWhere) {
    case PLAT_Z_TOPMOST: SDL_SetWindowAlwaysOnTop(pWin, SDL_TRUE); break;
    case PLAT_Z_NOTOPMOST: SDL_SetWindowAlwaysOnTop(pWin, SDL_FALSE); break;
    case PLAT_Z_TOP: PlatX11Restack(pWin, 1); break;
    case PLAT_Z_BOTTOM: PlatX11Restack(pWin, 0); break;
    case PLAT_Z_BEHIND:
        if (pAfter && SdlOf(pAfter)) PlatX11RestackBehind(pWin, SdlOf(pAfter));
        break;
    default: break;
    }
}

int SdlFlash(PLAT_WINDOW_REC* p, int, int)
{
    SDL_Window* pWin = LiveSdlOf(p);
    if (!pWin) return -1;
    const int r = SDL_FlashWindow(pWin, SDL_FLASH_BRIEFLY);
    SDL_ClearError();
    return r == 0 ? 0 : -1;
}

void SdlApplyRegion(PLAT_WINDOW_REC* p)
{
    if (SDL_Window* pWin = LiveSdlOf(p)) PlatX11SetShape(pWin, p->bHasRegion, p->vRegion.data(), static_cast<int>(p->vRegion.size()));
}

int SdlReadRegion(PLAT_WINDOW_REC* p, std::vector<PLAT_RECT>* pOut)
{
    SDL_Window* pWin = LiveSdlOf(p);
    if (!pWin) return -1;
    const int r = PlatX11GetShape(pWin, pOut);
    if (r >= 0) return r;
    // No shape extension to ask: the kept region.
    *pOut = p->vRegion;
    return p->bHasRegion;
}

SDL_SystemCursor SystemCursorOf(int nIdc)
{
    switch (nIdc) {
    case PLAT_IDC_IBEAM: return SDL_SYSTEM_CURSOR_IBEAM;
    case PLAT_IDC_WAIT: return SDL_SYSTEM_CURSOR_WAIT;
    case PLAT_IDC_CROSS: return SDL_SYSTEM_CURSOR_CROSSHAIR;
    case PLAT_IDC_SIZENWSE: return SDL_SYSTEM_CURSOR_SIZENWSE;
    case PLAT_IDC_SIZENESW: return SDL_SYSTEM_CURSOR_SIZENESW;
    case PLAT_IDC_SIZEWE: return SDL_SYSTEM_CURSOR_SIZEWE;
    case PLAT_IDC_SIZENS: return SDL_SYSTEM_CURSOR_SIZENS;
    case PLAT_IDC_SIZEALL: return SDL_SYSTEM_CURSOR_SIZEALL;
    case PLAT_IDC_NO: return SDL_SYSTEM_CURSOR_NO;
    case PLAT_IDC_HAND: return SDL_SYSTEM_CURSOR_HAND;
    case PLAT_IDC_APPSTARTING: return SDL_SYSTEM_CURSOR_WAITARROW;
    default: return SDL_SYSTEM_CURSOR_ARROW;
    }
}

// The two standard cursors without a system shape, drawn here: '#' black, '.' white, ' ' clear.
const char* const kUpArrow[16] = {
    "       #        ", "      #.#       ", "     #...#      ", "    #.....#     ", "   #.......#    ",
    "  #.........#   ", " #####...#####  ", "     #...#      ", "     #...#      ", "     #...#      ",
    "     #...#      ", "     #...#      ", "     #...#      ", "     #...#      ", "     #####      ",
    "                ",
};
const char* const kHelp[16] = {
    "#               ", "##      #####   ", "#.#    #.....#  ", "#..#  #..###..# ", "#...# #..# #..# ",
    "#....#    #..#  ", "#.....#  #..#   ", "#......# #..#   ", "#....#####..#   ", "#.#..#   ####   ",
    "## #..#  #..#   ", "#  #..#  #..#   ", "    #..# ####   ", "    #..#        ", "     ##         ",
    "                ",
};

SDL_Cursor* DrawnCursor(const char* const* ppRows, int nHotX, int nHotY)
{
    uint32_t px[16 * 16];
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const char c = ppRows[y][x];
            px[y * 16 + x] = c == '#' ? 0xFF000000u : c == '.' ? 0xFFFFFFFFu : 0u;
        }
    SDL_Surface* pSurface = SDL_CreateRGBSurfaceWithFormatFrom(px, 16, 16, 32, 64, SDL_PIXELFORMAT_ARGB8888);
    if (!pSurface) return nullptr;
    SDL_Cursor* pCursor = SDL_CreateColorCursor(pSurface, nHotX, nHotY);
    SDL_FreeSurface(pSurface);
    return pCursor;
}

void SdlMakeCursor(PLAT_CURSOR_REC* p)
{
    if (p->bIcon) return;
    SDL_Cursor* pCursor = nullptr;
    if (p->nIdc == PLAT_IDC_UPARROW) {
        pCursor = DrawnCursor(kUpArrow, 7, 0);
    } else if (p->nIdc == PLAT_IDC_HELP) {
        pCursor = DrawnCursor(kHelp, 0, 0);
    } else if (p->nIdc) {
        pCursor = SDL_CreateSystemCursor(SystemCursorOf(p->nIdc));
    } else {
        SDL_Surface* pSurface = SDL_CreateRGBSurfaceWithFormatFrom(p->pixels.data(), p->nWidth, p->nHeight, 32,
                                                                   p->nWidth * 4, SDL_PIXELFORMAT_ARGB8888);
        if (pSurface) {
            pCursor = SDL_CreateColorCursor(pSurface, p->nHotX, p->nHotY);
            SDL_FreeSurface(pSurface);
        }
    }
    // Under drivers without cursors the record stays without a native one.
    if (!pCursor) SDL_ClearError();
    p->pNative = pCursor;
}

void SdlFreeCursor(PLAT_CURSOR_REC* p)
{
    if (p->pNative) SDL_FreeCursor(static_cast<SDL_Cursor*>(p->pNative));
    p->pNative = nullptr;
}

void SdlUseCursor(PLAT_CURSOR_REC* p)
{
    SDL_Cursor* pCursor = p && p->pNative ? static_cast<SDL_Cursor*>(p->pNative) : SDL_GetDefaultCursor();
    if (pCursor) SDL_SetCursor(pCursor);
    DefineOwnCursors();
}


}  // namespace

const PLAT_WINDOW_BACKEND g_SdlWindowBackend = {
    SdlStart, SdlStop, SdlCreate, SdlDestroy, SdlApplyGeometry, SdlApplyShow, SdlApplyStyle, SdlApplyTitle,
    SdlPresent, SdlPump, SdlWait, SdlWake, SdlReadShown, SdlRaise, SdlShowCursor,
    SdlApplyZOrder, SdlFlash, SdlApplyRegion, SdlReadRegion, SdlMakeCursor, SdlFreeCursor, SdlUseCursor,
};
