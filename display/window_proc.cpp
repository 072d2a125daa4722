// The window procedure of the game windows and the event globals it writes.
#include "display/window_proc.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/engine_globals.h"
#include "core/engine_hooks.h"
#include "display/display_hooks.h"
#include "display/cursor.h"
#include "display/menus.h"
#include "core/frame_loop.h"
#include "core/input.h"
#include "core/input_state.h"
#include "core/kx_texts.h"
#include "core/settings.h"
#include "core/sysfacts.h"
#include "display/presentation.h"
#include "display/screen_modes.h"
#include "display/window_state.h"
#include "platform/plat_file.h"
#include "platform/plat_msgbox.h"
#include "platform/plat_thread.h"
#include "platform/plat_window_drag.h"
#include "script/dispatch.h"
#include "core/game_config.h"
#include "script/engine_control.h"
#include "core/script_thread.h"

// ---- Event globals ----------------------------------------------------------------------------------


uint8_t g_nPopupMenuRequest = 0;
int32_t g_nPopupMenuX = 0, g_nPopupMenuY = 0;
uint8_t g_bPauseOnCaptionDrag = 0;
uint8_t g_bRestorePending = 0;
uint8_t g_bFrameChanged = 0;
int32_t g_nSavedFrameWidth = 0, g_nSavedFrameHeight = 0;
int32_t g_nMaxSavedTargetWidth = 0, g_nMaxSavedTargetHeight = 0;
int32_t g_nMaxSavedOutputWidth = 0, g_nMaxSavedOutputHeight = 0;
uint8_t g_bResetRequest = 0;

DISPLAY_HOOKS g_DisplayHooks = {};

namespace {

// Set once the platform has reported the main window's activation: until then (a backend that
// reports no focus at all) the main window counts as active, so the engine never pauses for good.
uint8_t s_bActivationSeen = 0;
// The quit question is open.
uint8_t s_bQuitQuestionOpen = 0;
// The last client position a mouse message carried for each window (the platform keeps no cursor
// position the procedure could ask for).
int32_t s_anLastMouseX[KX_WINDOWS], s_anLastMouseY[KX_WINDOWS];

struct ENGINE_LOCK {
    ENGINE_LOCK() { if (g_csEngine) PlatLockEnter(g_csEngine); }
    ~ENGINE_LOCK() { if (g_csEngine) PlatLockLeave(g_csEngine); }
    ENGINE_LOCK(const ENGINE_LOCK&) = delete;
    ENGINE_LOCK& operator=(const ENGINE_LOCK&) = delete;
};

// Keeps g_bInWndProc counted up while a procedure runs, also across nested messages.
struct WNDPROC_SCOPE {
    WNDPROC_SCOPE() { g_bInWndProc.fetch_add(1); }
    ~WNDPROC_SCOPE() { g_bInWndProc.fetch_sub(1); }
    WNDPROC_SCOPE(const WNDPROC_SCOPE&) = delete;
    WNDPROC_SCOPE& operator=(const WNDPROC_SCOPE&) = delete;
};

void NoteMousePos(const WINDOW_STATE* pState, intptr_t lParam)
{
    s_anLastMouseX[pState->nIndex] = PlatGetXLParam(lParam);
    s_anLastMouseY[pState->nIndex] = PlatGetYLParam(lParam);
}

// With the frames on their own thread a procedure runs beside the frame unless the frame thread
// sits in its pacing wait: a message the window thread sends outside the message loop's gate (a
// focus change while a call handed to it runs, or while the window system's events are pumped)
// arrives while the frame composes. This procedure is already counted into g_bInWndProc, so a wait
// seen here lasts until it returns.
bool BesideRunningFrame(void)
{
    if (!g_bThreadedFrames || (g_bInFrameWait.load() && g_bWorkerWaiting.load())) return false;
    return GetFrameThreadState() == KX_THREAD_RUNNING;
}

// The picture, its change flag and union box belong to the composing frame: beside it the repaint
// is owed, and the frame's present step asks for it again as a paint (g_abPaintOwed). Asking for a
// paint from here instead would spin a message loop that runs beside the frame (a box the frame
// thread waits for) from paint to paint.
void Repaint(WINDOW_STATE* pState)
{
    if (BesideRunningFrame()) {
        g_abPaintOwed[pState->nIndex] = 1;
        return;
    }
    g_DisplayHooks.pfnRepaintWindow(pState);
}

// What the frame adds to a client rectangle for the window's current style, its menu bar included
// (the window grows by the bar, so a frame without it would take the bar for picture).
void GetWindowFrameSize(PLAT_HWND hwnd, int32_t* pfw, int32_t* pfh)
{
    PLAT_RECT rc{0, 0, 320, 240};
    PlatAdjustWindowRect(&rc, PlatGetWindowStyle(hwnd), PlatGetMenu(hwnd) != 0 ? 1 : 0);
    *pfw = (rc.right - rc.left) - 320;
    *pfh = (rc.bottom - rc.top) - 240;
}

double GetAspect(const WINDOW_STATE* pState)
{
    return pState->nHeight > 0 ? (double)pState->nWidth / (double)pState->nHeight : 1.0;
}

void SetOutput(int32_t w, int32_t h)
{
    SetOutputSize(w, h);
}

// The plain windowed main window: no pending frame change, not fullscreen, not maximised.
bool IsPlainMainWindow(const WINDOW_STATE* pState)
{
    return pState->nIndex == 0 && !g_bFrameChanged && !g_bFullscreen && !g_bMaximized;
}

void HandleWmSize(WINDOW_STATE* pState, PLAT_HWND hwnd, uintptr_t wParam)
{
    // A minimised window reports no usable geometry.
    if (wParam == PLAT_SIZE_MINIMIZED || PlatIsIconic(hwnd)) return;
    PLAT_RECT rcWin;
    if (PlatGetWindowRect(hwnd, &rcWin) != 0) return;
    int32_t fw, fh;
    GetWindowFrameSize(hwnd, &fw, &fh);
    // A switched frame needs no shift here: the platform keeps the client rectangle in place when the
    // frame changes (only the outer rectangle grows or shrinks), so moving the window by half the
    // frame's change would move the picture instead.
    g_bFrameChanged = 0;
    if (IsPlainMainWindow(pState)) {
        const double a = GetAspect(pState);
        int32_t cw = (rcWin.right - rcWin.left) - fw, ch = (rcWin.bottom - rcWin.top) - fh;
        if (g_nDesktopWidth > 0 && cw > g_nDesktopWidth) cw = g_nDesktopWidth;
        if (g_nDesktopHeight > 0 && ch > g_nDesktopHeight) ch = g_nDesktopHeight;
        const double r = ch != 0 ? (double)cw / (double)ch : 1.0;
        if (r <= a) ch = (int32_t)(cw / a + 0.5);
        else cw = (int32_t)(ch * a + 0.5);
        if (cw <= 0 || ch <= 0) return;
        PLAT_RECT rcClient;
        PlatGetClientRect(hwnd, &rcClient);
        // The corrected size is moved to only when it differs, so the nested WM_SIZE ends here.
        if (rcClient.right != cw || rcClient.bottom != ch)
            PlatSetWindowPos(hwnd, rcWin.left, rcWin.top, cw + fw, ch + fh, PLAT_SWP_NOZORDER | PLAT_SWP_NOACTIVATE);
        if (g_nTargetWidth != cw || g_nTargetHeight != ch || g_nOutputWidth != cw || g_nOutputHeight != ch) {
            g_nTargetWidth = cw;
            g_nTargetHeight = ch;
            SetOutput(cw, ch);
        }
        return;
    }
    // The main window follows its target size only while it is not maximised or fullscreen (the
    // window manager owns the size then); a sub window keeps its logical size.
    if (pState->nIndex == 0 && (g_bFullscreen || g_bMaximized)) return;
    const int32_t cw = pState->nIndex == 0 ? g_nTargetWidth : pState->nWidth;
    const int32_t ch = pState->nIndex == 0 ? g_nTargetHeight : pState->nHeight;
    if (cw <= 0 || ch <= 0) return;
    if ((rcWin.right - rcWin.left) != cw + fw || (rcWin.bottom - rcWin.top) != ch + fh)
        PlatSetWindowPos(hwnd, rcWin.left, rcWin.top, cw + fw, ch + fh, PLAT_SWP_NOZORDER | PLAT_SWP_NOACTIVATE);
}

void HandleWmWindowPosChanged(WINDOW_STATE* pState, PLAT_HWND hwnd)
{
    if (pState->nIndex != 0 || g_bFullscreen) return;
    if (g_bRestorePending) {
        g_bRestorePending = 0;
        g_bMaximized = 0;
        g_nTargetWidth = g_nMaxSavedTargetWidth;
        g_nTargetHeight = g_nMaxSavedTargetHeight;
        const int32_t ow = g_nMaxSavedOutputWidth, oh = g_nMaxSavedOutputHeight;
        g_nMaxSavedTargetWidth = g_nMaxSavedTargetHeight = 0;
        g_nMaxSavedOutputWidth = g_nMaxSavedOutputHeight = 0;
        g_nOutputOffsetX = g_nOutputOffsetY = 0;
        SetOutput(ow, oh);
        if (g_bDirect3D) g_bResetRequest = 1;
        return;
    }
    if (!g_bMaximized) return;
    PLAT_RECT rc;
    if (PlatGetClientRect(hwnd, &rc) != 0) return;
    if (rc.right == g_nTargetWidth && rc.bottom == g_nTargetHeight) return;
    g_nTargetWidth = rc.right;
    g_nTargetHeight = rc.bottom;
    // The picture fits the client at the game's aspect, centred with black bars.
    ComputeOutputSize(pState->nWidth, pState->nHeight, rc.right, rc.bottom);
}

// Caption-drag pause: the engine holds while the caption of a window is dragged. The drag runs
// while the frame step goes on (there is no modal move loop here), so the pause is marked as the
// drag's: the frame step's rule that an active main window leaves the pause waits until the drag is
// over (IsCaptionDragHeld).
void PauseOnCaptionDrag(uintptr_t wParam)
{
    if (g_bPauseOnCaptionDrag && wParam == KX_HTCAPTION) {
        g_bCaptionDragPause = 1;
        EnterPause();
    }
}

void ResumeAfterCaptionDrag(void)
{
    g_bCaptionDragPause = 0;
    if (g_bPauseOnCaptionDrag && g_bEnginePaused) LeavePause();
}

// After the caption's default action: a drag that began keeps the pause (entered again should the
// frame step have left it meanwhile); a press that moved nothing (the button already up, a
// maximised window) ends it at once.
void HoldPauseForDrag(PLAT_HWND hwnd)
{
    if (!g_bCaptionDragPause) return;
    if (g_bPauseOnCaptionDrag && PlatGetDraggedWindow() == hwnd) EnterPause();
    else ResumeAfterCaptionDrag();
}

void HandleWmLButtonDown(WINDOW_STATE* pState, intptr_t lParam)
{
    g_nLastMouseButton = 1;
    g_abKeyState[1] = 0x80;
    NoteMousePos(pState, lParam);
    // The click layer is tested where the click was, not where the input step last saw the mouse.
    int32_t x = PlatGetXLParam(lParam), y = PlatGetYLParam(lParam);
    if (pState->hWnd && PlatClientToScreen(pState->hWnd, &x, &y) == 0) SampleWindowMouseAt(pState->nIndex, x, y);
    if (g_DisplayHooks.pfnClickLayerHit(pState)) {
        // The input step starts the caption drag from the click's screen position.
        g_nDragRequestX = x;
        g_nDragRequestY = y;
        g_nDragRequestWindow = static_cast<uint8_t>(pState->nIndex + 1);
    }
}

// A click on the tray icon brings the main window to the front; one hidden to the tray or
// minimised is shown and restored, so the player always gets the game back from the icon.
void BringBackFromTray(PLAT_HWND hwnd)
{
    if (PlatIsIconic(hwnd) || !PlatIsWindowVisible(hwnd)) PlatShowWindow(hwnd, PLAT_SW_RESTORE);
    PlatSetForegroundWindow(hwnd);
}

// Answers 1 when the tray message was the engine's (main window, icon 123).
int HandleTrayNotify(WINDOW_STATE* pState, PLAT_HWND hwnd, uintptr_t wParam, intptr_t lParam)
{
    if (pState->nIndex != 0 || wParam != KX_TRAY_ICON_ID) return 0;
    switch ((uint32_t)lParam) {
    case PLAT_WM_LBUTTONDOWN:
        BringBackFromTray(hwnd);
        Repaint(pState);
        break;
    case PLAT_WM_LBUTTONDBLCLK:
    case PLAT_WM_RBUTTONUP: {
        BringBackFromTray(hwnd);
        g_DisplayHooks.pfnMarkLayerSetDirty(pState);
        // The popup opens at the cursor, in screen coordinates: where the click on the icon was.
        int32_t x = 0, y = 0;
        if (PlatGetCursorPos(&x, &y) != 0) {
            x = s_anLastMouseX[0];
            y = s_anLastMouseY[0];
            PlatClientToScreen(hwnd, &x, &y);
        }
        g_nPopupMenuX = x;
        g_nPopupMenuY = y;
        g_nPopupMenuRequest = 2;
        break;
    }
    default:
        break;
    }
    return 1;
}

void HandleWmDestroy(WINDOW_STATE* pState, PLAT_HWND hwnd)
{
    if (pState->nIndex == 0) {
        g_DisplayHooks.pfnRemoveTrayIcon();
        DiagnosticMainWindowClosing();
    }
    // A destroyed window keeps no handle, so nothing later talks to it.
    if (pState->hWnd == hwnd) pState->hWnd = 0;
    g_anWindowCreated[pState->nIndex] = -1;
    if (pState->nIndex == 0 && g_hMainWnd == hwnd) g_hMainWnd = 0;
    if (pState->nCloseMode != KX_CLOSE_WINDOW) {
        // The menu bar's menus go with the run.
        DestroyMenuSet(KX_MENU_SET_BAR);
        PlatPostQuitMessage(0);
    }
}


}  // namespace

int IsCaptionDragHeld(void)
{
    // The platform ends its drag when the left button is up, however the release went (to the
    // window manager, lost, or never seen as an event), or when the window goes: the pause cannot
    // outlast it.
    return g_bCaptionDragPause && g_bPauseOnCaptionDrag && PlatGetDraggedWindow() != 0 ? 1 : 0;
}

int IsMainWindowActive(void)
{
    WINDOW_STATE* p = g_apWindowState[0];
    if (!p || !p->hWnd || !s_bActivationSeen) return 1;
    return p->bActive;
}

// ---- Handlers ---------------------------------------------------------------------------------------

int HandleWmSysCommand(WINDOW_STATE* pState, uintptr_t wParam)
{
    if (wParam == KX_MENU_RESET_WINDOW_SIZE) {
        g_llMenuCommand = KX_MENU_RESET_WINDOW_SIZE;
        if (g_bDirect3D) g_bResetRequest = 1;
        return 0;
    }
    const uint8_t nEvent = static_cast<uint8_t>(pState->nIndex + 1);
    const PLAT_HWND hwnd = pState->hWnd;
    switch (wParam & 0xFFF0u) {
    case PLAT_SC_MINIMIZE:
        g_nMinimizeEvent = nEvent;
        return pState->bMinimizeAllowed ? 1 : 0;
    case PLAT_SC_SCREENSAVE:
        return g_bBlockScreenSaver ? 0 : 1;
    case PLAT_SC_CLOSE:
        switch (pState->nCloseMode) {
        case KX_CLOSE_REPORT:
            g_bCloseEvent = 1;
            return 0;
        case KX_CLOSE_ASK: {
            // One question at a time: a close request that comes while it is open (another click on
            // the close button, a request sent from another thread) is the same request.
            if (s_bQuitQuestionOpen) return 0;
            s_bQuitQuestionOpen = 1;
            g_bFrameHold = 1;
            g_DisplayHooks.pfnRequestCursorShow();
            const int nAnswer = PlatMessageBoxA(g_szWindowTitle, GetEngineText(TXT_QUIT_QUESTION),
                                                PLAT_MB_YESNO | PLAT_MB_ICONINFORMATION);
            g_bFrameHold = 0;
            s_bQuitQuestionOpen = 0;
            if (nAnswer != PLAT_IDYES) return 0;
            g_bEngineStop = 1;
            return 1;
        }
        case KX_CLOSE_QUIT:
            g_bEngineStop = 1;
            return 1;
        default:
            return 1;
        }
    case PLAT_SC_MAXIMIZE:
        g_nMaximizeEvent = nEvent;
        if (!pState->bMaximizeAllowed) return 0;
        if (pState->nIndex != 0 || g_bFullscreen) return 1;
        if (!g_bResizable && hwnd) {
            GetWindowFrameSize(hwnd, &g_nSavedFrameWidth, &g_nSavedFrameHeight);
            g_bFrameChanged = 1;
            PlatSetWindowStyle(hwnd, PlatGetWindowStyle(hwnd) | PLAT_WS_THICKFRAME);
        }
        g_bMaximized = 1;
        g_nMaxSavedTargetWidth = g_nTargetWidth;
        g_nMaxSavedTargetHeight = g_nTargetHeight;
        g_nMaxSavedOutputWidth = g_nOutputWidth;
        g_nMaxSavedOutputHeight = g_nOutputHeight;
        if (g_bDirect3D) g_bResetRequest = 1;
        return 1;
    case PLAT_SC_RESTORE:
        if (pState->nIndex == 0 && hwnd && !PlatIsIconic(hwnd) && !g_bFullscreen) {
            if (!g_bResizable) {
                GetWindowFrameSize(hwnd, &g_nSavedFrameWidth, &g_nSavedFrameHeight);
                g_bFrameChanged = 1;
                PlatSetWindowStyle(hwnd, PlatGetWindowStyle(hwnd) & ~PLAT_WS_THICKFRAME);
            }
            g_bRestorePending = 1;
        }
        return 1;
    default:
        return 1;
    }
}

void HandleWmSizing(const WINDOW_STATE* pState, int nEdge, int32_t fw, int32_t fh, PLAT_RECT* pRect)
{
    const double a = GetAspect(pState);
    const int32_t cw = (pRect->right - pRect->left) - fw;
    const int32_t ch = (pRect->bottom - pRect->top) - fh;
    const int32_t dx = (int32_t)(ch * a + 0.5) - cw;
    const int32_t dy = (int32_t)(cw / a + 0.5) - ch;
    switch (nEdge) {
    case KX_WMSZ_LEFT:
    case KX_WMSZ_RIGHT: pRect->bottom += dy; break;
    case KX_WMSZ_TOP:
    case KX_WMSZ_BOTTOM: pRect->right += dx; break;
    case KX_WMSZ_TOPLEFT:
        if (dx > 0) pRect->left -= dx;
        else pRect->top -= dy;
        break;
    case KX_WMSZ_TOPRIGHT:
        if (dx > 0) pRect->right += dx;
        else pRect->top -= dy;
        break;
    case KX_WMSZ_BOTTOMLEFT:
        if (dx > 0) pRect->left -= dx;
        else pRect->bottom += dy;
        break;
    case KX_WMSZ_BOTTOMRIGHT:
        if (dx > 0) pRect->right += dx;
        else pRect->bottom += dy;
        break;
    default: break;
    }
}

int HandleWmGetMinMaxInfo(const WINDOW_STATE* pState, int32_t fw, int32_t fh, PLAT_MINMAXINFO* pInfo)
{
    if (!pState || !pInfo || pState->nIndex != 0 || g_bFullscreen || g_bMaximized) return 0;
    if (g_nOutputWidth == 0 || g_nOutputHeight == 0) return 0;
    const double a = GetAspect(pState);
    // The largest client of the game's aspect on the monitor.
    int32_t w = g_nDesktopWidth, h = static_cast<int32_t>(w / a);
    if (static_cast<double>(g_nDesktopHeight) < w / a) {
        h = g_nDesktopHeight;
        w = static_cast<int32_t>(h * a);
    }
    const int32_t q = std::min(pState->nWidth, pState->nHeight) / 4;
    pInfo->nMinTrackWidth = static_cast<int32_t>(q * a + fw);
    pInfo->nMinTrackHeight = q + fh;
    pInfo->nMaxTrackWidth = static_cast<int32_t>(h * a + fw);
    pInfo->nMaxTrackHeight = h + fh;
    return 1;
}

void FreeFileList(void)
{
    if (g_apszFileList) {
        for (char** pp = g_apszFileList; *pp; ++pp) std::free(*pp);
        std::free(g_apszFileList);
    }
    g_apszFileList = nullptr;
    g_nFileListCount = 0;
}

void HandleWmDropFiles(uintptr_t hDrop)
{
    ENGINE_LOCK lock;
    FreeFileList();
    int n = PlatDragQueryFileCount(hDrop);
    if (n < 0) n = 0;
    if (n > KX_DROP_MAX_FILES) n = KX_DROP_MAX_FILES;
    char** pList = static_cast<char**>(std::calloc((size_t)n + 1, sizeof(char*)));
    if (pList) {
        int nOut = 0;
        for (int i = 0; i < n; ++i) {
            const int nLen = PlatDragQueryFile(hDrop, i, nullptr, 0);
            if (nLen < 0) continue;
            // Each name gets room for itself, a folder's '\' and the end.
            char* psz = static_cast<char*>(std::malloc((size_t)nLen + 2));
            if (!psz) break;
            if (PlatDragQueryFile(hDrop, i, psz, nLen + 1) < 0) {
                std::free(psz);
                continue;
            }
            PLAT_FILE_STAT st{};
            if (PlatFileStat(psz, &st) == 0 && st.bExists && st.bIsDir && (nLen == 0 || psz[nLen - 1] != '\\')) {
                psz[nLen] = '\\';
                psz[nLen + 1] = 0;
            }
            pList[nOut++] = psz;
        }
        g_apszFileList = pList;
        g_nFileListCount = nOut;
    }
    PlatDragFinish(hDrop);
}

intptr_t DispatchWindowMessage(WINDOW_STATE* pState, PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam,
                               intptr_t lParam)
{
    switch (msg) {
    case PLAT_WM_ERASEBKGND:
        // Only the bars around a centred picture need the black background.
        if (!(pState->nIndex == 0 && (g_bFullscreen || g_bMaximized))) return 0;
        break;
    case PLAT_WM_PAINT:
        Repaint(pState);
        break;
    case PLAT_WM_MOVE:
        // The main window's monitor follows it.
        if (pState->nIndex == 0) HandleWmMove(hwnd);
        break;
    case PLAT_WM_SIZING:
        if (pState->nIndex == 0 && lParam) {
            int32_t fw, fh;
            GetWindowFrameSize(hwnd, &fw, &fh);
            HandleWmSizing(pState, (int)wParam, fw, fh, reinterpret_cast<PLAT_RECT*>(lParam));
        }
        break;
    case PLAT_WM_GETMINMAXINFO:
        if (lParam) {
            int32_t fw, fh;
            GetWindowFrameSize(hwnd, &fw, &fh);
            if (HandleWmGetMinMaxInfo(pState, fw, fh, reinterpret_cast<PLAT_MINMAXINFO*>(lParam))) return 0;
        }
        break;
    case PLAT_WM_SIZE:
        HandleWmSize(pState, hwnd, wParam);
        if (pState->nIndex == 0) g_DisplayHooks.pfnFollowMainWindowSize();
        break;
    case KX_WM_GRAPH_NOTIFY:
        if (pState->nIndex == 0) g_DisplayHooks.pfnHandleGraphNotify();
        break;
    case KX_WM_MCI_NOTIFY:
        if (pState->nIndex == 0) g_DisplayHooks.pfnHandleMciNotify(wParam);
        return 0;
    case PLAT_WM_WINDOWPOSCHANGED:
        HandleWmWindowPosChanged(pState, hwnd);
        break;
    case PLAT_WM_COMMAND:
        g_llMenuCommand = (int64_t)(wParam & 0xFFFFu);
        break;
    case PLAT_WM_SYSCOMMAND:
        if (!HandleWmSysCommand(pState, wParam)) return 0;
        break;
    case PLAT_WM_ACTIVATE:
        pState->bActive = (wParam & 0xFFFFu) != PLAT_WA_INACTIVE ? 1 : 0;
        if (pState->nIndex == 0) {
            s_bActivationSeen = 1;
            UpdatePauseState();
        }
        Repaint(pState);
        break;
    case PLAT_WM_ACTIVATEAPP:
        Repaint(pState);
        return 0;
    case PLAT_WM_DROPFILES:
        HandleWmDropFiles(wParam);
        break;
    case KX_WM_TRAY_NOTIFY:
        if (HandleTrayNotify(pState, hwnd, wParam, lParam)) return 0;
        break;
    case PLAT_WM_KEYDOWN:
        g_nLastKeyDown = (int32_t)wParam;
        break;
    case PLAT_WM_SYSKEYDOWN:
        // The system menu is never opened from the keyboard.
        if (wParam == PLAT_VK_F10 || wParam == PLAT_VK_MENU) return 0;
        break;
    case PLAT_WM_MOUSEMOVE:
        g_bMouseMoved = 0x80;
        NoteMousePos(pState, lParam);
        return 0;
    case PLAT_WM_LBUTTONDOWN:
        HandleWmLButtonDown(pState, lParam);
        return 0;
    case PLAT_WM_RBUTTONDOWN:
        g_nLastMouseButton = 2;
        g_abKeyState[2] = 0x80;
        NoteMousePos(pState, lParam);
        return 0;
    case PLAT_WM_MBUTTONDOWN:
        g_nLastMouseButton = 4;
        g_abKeyState[4] = 0x80;
        NoteMousePos(pState, lParam);
        return 0;
    case PLAT_WM_MOUSEWHEEL:
        // Summed until the input step takes it, so no notch of a frame is lost.
        g_nWheelDelta += (int16_t)(uint16_t)((wParam >> 16) & 0xFFFFu);
        return 0;
    case PLAT_WM_NCLBUTTONDOWN: {
        PauseOnCaptionDrag(wParam);
        const intptr_t nResult = PlatDefWindowProc(hwnd, msg, wParam, lParam);
        HoldPauseForDrag(hwnd);
        return nResult;
    }
    case PLAT_WM_NCLBUTTONUP:
    case PLAT_WM_LBUTTONUP:
    case PLAT_WM_EXITSIZEMOVE:
        ResumeAfterCaptionDrag();
        break;
    case PLAT_WM_NCLBUTTONDBLCLK:
        if (!g_bCaptionDblClickOption) break;
        // With the option the double-click never maximises; it is reported unless already maximised.
        if (!(pState->nIndex == 0 && g_bMaximized)) g_nCaptionDblClick = static_cast<uint8_t>(pState->nIndex + 1);
        return 0;
    case PLAT_WM_CLOSE:
        g_anWindowCreated[pState->nIndex] = -1;
        PlatDestroyWindow(hwnd);
        return 0;
    case PLAT_WM_DESTROY:
        HandleWmDestroy(pState, hwnd);
        break;
    default:
        break;
    }
    return PlatDefWindowProc(hwnd, msg, wParam, lParam);
}

intptr_t GameWndProc(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    WINDOW_STATE* pState = static_cast<WINDOW_STATE*>(PlatGetWindowUser(hwnd));
    if (!pState || pState->nIndex < 0 || pState->nIndex >= KX_WINDOWS) return PlatDefWindowProc(hwnd, msg, wParam, lParam);
    WNDPROC_SCOPE scope;
    return DispatchWindowMessage(pState, hwnd, msg, wParam, lParam);
}

// The frame step, after the first frame is drawn: the main window, created hidden so that no empty
// window flashes up, is shown unless the game asks to keep it hidden.
void ShowMainWindowFirstFrame(void)
{
    const WINDOW_STATE* p = g_apWindowState[0];
    if (p && p->bVisible == 1 && g_hMainWnd) PlatShowWindow(g_hMainWnd, PLAT_SW_SHOW);
}

// What RequestQuit asks of the main window: its close mode, so that the WM_CLOSE it posts ends the run.
void SetMainWindowCloseMode(int nMode)
{
    if (g_apWindowState[0]) g_apWindowState[0]->nCloseMode = static_cast<int8_t>(nMode);
}

void InstallWindowProc(void)
{
    g_pfnMainWindowProc = GameWndProc;
    s_bActivationSeen = 0;
    s_bQuitQuestionOpen = 0;
}
