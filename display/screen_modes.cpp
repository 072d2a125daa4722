// Screen modes and monitors: the output size, fullscreen in and out, and the main window's monitor.
#include "display/screen_modes.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/game_config.h"
#include "core/settings.h"
#include "core/sysfacts.h"
#include "core/window_record.h"
#include "display/display_hooks.h"
#include "display/menus.h"
#include "display/window_proc.h"
#include "display/window_state.h"

MONITOR_RECT g_rcMonitor = {0, 0, 0, 0};
int32_t g_nMonitorNumber = 0;
int32_t g_nFullSavedTargetWidth = 0, g_nFullSavedTargetHeight = 0;
int32_t g_nFullSavedOutputWidth = 0, g_nFullSavedOutputHeight = 0;
int32_t g_nFullscreenModeWidth = 0, g_nFullscreenModeHeight = 0;

namespace {

// The frame a fullscreen window gives up, and what a window leaving fullscreen gets.
constexpr uint32_t FULLSCREEN_DROPPED_STYLE =
    PLAT_WS_CAPTION | PLAT_WS_SYSMENU | PLAT_WS_THICKFRAME | PLAT_WS_MINIMIZEBOX;

int32_t ToInt32(int64_t v)
{
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// a x b / c, truncated; 0 when c is 0.
int32_t MulDiv(int64_t a, int64_t b, int64_t c)
{
    return c == 0 ? 0 : ToInt32(a * b / c);
}

// Output size and the picture's offsets in the client area (centred in fullscreen and maximised
// states). The buffer is made again only for a new size.
int ApplyOutputSize(int32_t w, int32_t h)
{
    int r = 0;
    if (w != g_nOutputWidth || h != g_nOutputHeight || !g_pOutputBuffer) r = SetOutputSize(w, h);
    if (g_bFullscreen || g_bMaximized) {
        g_nOutputOffsetX = (g_nTargetWidth - g_nOutputWidth) / 2;
        g_nOutputOffsetY = (g_nTargetHeight - g_nOutputHeight) / 2;
    } else {
        g_nOutputOffsetX = g_nOutputOffsetY = 0;
    }
    return r;
}

// The main window's output size in fullscreen: laid out in the emulated display mode as on a
// monitor switched to it, then scaled from the mode's size to the monitor's (the target size).
int ComputeFullscreenOutputSize(const WINDOW_STATE* pMain)
{
    const int32_t modeW = g_nFullscreenModeWidth > 0 ? g_nFullscreenModeWidth : g_nTargetWidth;
    const int32_t modeH = g_nFullscreenModeHeight > 0 ? g_nFullscreenModeHeight : g_nTargetHeight;
    int32_t w = g_nOutputWidth, h = g_nOutputHeight;
    const bool bKnownMode = g_nScaleMode >= KX_SCALE_NONE && g_nScaleMode <= KX_SCALE_STRETCH;
    ChooseOutputSize(pMain->nWidth, pMain->nHeight, modeW, modeH, g_nScaleMode, 0, g_nDesktopWidth, g_nDesktopHeight,
                     &w, &h);
    if (bKnownMode && modeW > 0 && modeH > 0 && (modeW != g_nTargetWidth || modeH != g_nTargetHeight)) {
        w = MulDiv(w, g_nTargetWidth, modeW);
        h = MulDiv(h, g_nTargetHeight, modeH);
    }
    return ApplyOutputSize(w, h);
}

// The saved sizes of the windowed window come back and the copies are cleared (nothing when none
// were saved).
void RestoreSavedSizes(void)
{
    if (g_nFullSavedTargetWidth > 0 && g_nFullSavedTargetHeight > 0) {
        g_nTargetWidth = g_nFullSavedTargetWidth;
        g_nTargetHeight = g_nFullSavedTargetHeight;
    }
    const int32_t w = g_nFullSavedOutputWidth, h = g_nFullSavedOutputHeight;
    g_nFullSavedTargetWidth = g_nFullSavedTargetHeight = 0;
    g_nFullSavedOutputWidth = g_nFullSavedOutputHeight = 0;
    g_nFullscreenModeWidth = g_nFullscreenModeHeight = 0;
    if (w > 0 && h > 0) ApplyOutputSize(w, h);
    else ApplyOutputSize(g_nOutputWidth, g_nOutputHeight);
}

// The cursor to the centre of the current monitor.
void CursorToMonitorCentre(void)
{
    if (g_rcMonitor.nWidth > 0 && g_rcMonitor.nHeight > 0)
        PlatSetCursorPos(g_rcMonitor.nLeft + g_rcMonitor.nWidth / 2, g_rcMonitor.nTop + g_rcMonitor.nHeight / 2);
}

}  // namespace

void ChooseOutputSize(int32_t lw, int32_t lh, int32_t tw, int32_t th, int nScaleMode, int bFitAlways, int32_t mw,
                      int32_t mh, int32_t* pw, int32_t* ph)
{
    const int nMode = bFitAlways ? static_cast<int>(KX_SCALE_FIT) : nScaleMode;
    // Whether the target is no taller than the picture's aspect wants for the target's width.
    const bool bHeightBinds = static_cast<double>(th) <= static_cast<double>(lh) * tw / std::max(lw, 1);
    // The picture as high as the target, or as wide.
    const int32_t wByHeight = lh != 0 ? MulDiv(lw, th, lh) : th;
    const int32_t hByWidth = lw != 0 ? MulDiv(lh, tw, lw) : tw;
    switch (nMode) {
    case KX_SCALE_FIT:
        *pw = bHeightBinds ? wByHeight : tw;
        *ph = bHeightBinds ? th : hByWidth;
        break;
    case KX_SCALE_COVER:
        *pw = bHeightBinds ? tw : wByHeight;
        *ph = bHeightBinds ? hByWidth : th;
        break;
    case KX_SCALE_STRETCH:
        *pw = tw;
        *ph = th;
        break;
    case KX_SCALE_NONE:
        *pw = lw;
        *ph = lh;
        break;
    default:
        break;
    }
    // A picture larger than the monitor is shown at half the monitor; a monitor whose half is empty
    // (its size unknown) would leave nothing to show, so the picture stays as it is then.
    if (nMode != KX_SCALE_COVER && (*pw > mw || *ph > mh) && mw / 2 > 0 && mh / 2 > 0) {
        *pw = mw / 2;
        *ph = mh / 2;
    }
}

int ComputeOutputSize(int32_t lw, int32_t lh, int32_t tw, int32_t th)
{
    int32_t w = g_nOutputWidth, h = g_nOutputHeight;
    ChooseOutputSize(lw, lh, tw, th, g_nScaleMode, g_bMaximized && !g_bFullscreen, g_nDesktopWidth, g_nDesktopHeight,
                     &w, &h);
    return ApplyOutputSize(w, h);
}

void UpdateOutputSize(void)
{
    const WINDOW_STATE* pMain = g_apWindowState[0];
    if (!pMain) return;
    if (g_bFullscreen) ComputeFullscreenOutputSize(pMain);
    else ComputeOutputSize(pMain->nWidth, pMain->nHeight, g_nTargetWidth, g_nTargetHeight);
}

int FindBestDisplayMode(const PLAT_DISPLAY_MODE* pModes, int nModes, int32_t mw, int32_t mh, int32_t lw, int32_t lh,
                        int32_t nBits, int32_t* pw, int32_t* ph)
{
    const int64_t llRatio = mh > 0 ? int64_t{mw} * 1000 / mh : 0;
    const PLAT_DISPLAY_MODE* pBest = nullptr;
    for (int i = 0; pModes && i < nModes && i < KX_DISPLAY_MODES_MAX; ++i) {
        const PLAT_DISPLAY_MODE& m = pModes[i];
        if (llRatio <= 0 || m.nWidth <= 0 || m.nHeight <= 0) continue;
        const uint64_t nRatio = static_cast<uint64_t>(m.nWidth) * 1000u / static_cast<uint64_t>(m.nHeight);
        if (nRatio != static_cast<uint64_t>(llRatio) || m.nWidth < lw || m.nHeight < lh || m.nBits != nBits) continue;
        if (!pBest || (m.nWidth < pBest->nWidth && m.nHeight < pBest->nHeight)) pBest = &m;
    }
    *pw = pBest ? pBest->nWidth : mw;
    *ph = pBest ? pBest->nHeight : mh;
    return pBest ? 1 : 0;
}

// ---- Fullscreen -------------------------------------------------------------------------------------

int SetFullscreen(int nMode)
{
    const uint8_t bWant = nMode == 1 ? 1 : 0;
    const uint8_t bWas = g_bFullscreen;
    WINDOW_STATE* pMain = g_apWindowState[0];
    // Any value but 1 asks for the windowed mode; no other value is ever stored in the switch.
    if (bWant == bWas) return 0;
    if (bWant) {
        if (!pMain || !pMain->hWnd) return 0;
        g_bFullscreen = 1;
        EnterFullscreen(pMain);
    } else {
        if (pMain) LeaveFullscreen(pMain, 0);
        g_bFullscreen = 0;
        g_bMaximized = 0;
    }
    return g_bFullscreen != bWas ? 1 : 0;
}

void EnterFullscreen(WINDOW_STATE* pState)
{
    const PLAT_HWND hwnd = pState->hWnd;
    const int nMonitor = FindMonitorDevice(hwnd, nullptr);
    SaveOtherWindows();
    g_nFullSavedTargetWidth = g_nTargetWidth;
    g_nFullSavedTargetHeight = g_nTargetHeight;
    g_nFullSavedOutputWidth = g_nOutputWidth;
    g_nFullSavedOutputHeight = g_nOutputHeight;
    g_DisplayHooks.pfnDetachMenuBar(hwnd);

    // The display mode to emulate: with the best-mode switch the smallest of the monitor's aspect that
    // holds the game, else the monitor's own size.
    int32_t modeW = g_nDesktopWidth, modeH = g_nDesktopHeight;
    if (g_bBestDisplayMode && nMonitor >= 0) {
        std::vector<PLAT_DISPLAY_MODE> modes;
        PLAT_DISPLAY_MODE m{};
        for (int i = 0; i < KX_DISPLAY_MODES_MAX && PlatGetDisplayMode(nMonitor, i, &m) == 0; ++i) modes.push_back(m);
        FindBestDisplayMode(modes.data(), static_cast<int>(modes.size()), g_nDesktopWidth, g_nDesktopHeight,
                            pState->nWidth, pState->nHeight, g_nFullscreenBits, &modeW, &modeH);
    }
    g_nFullscreenModeWidth = modeW;
    g_nFullscreenModeHeight = modeH;
    // The window covers the monitor, so the client (the target) is the monitor's size.
    g_nTargetWidth = g_nDesktopWidth;
    g_nTargetHeight = g_nDesktopHeight;
    ComputeFullscreenOutputSize(pState);

    SetWindowStyle(hwnd, (GetWindowStyle(hwnd) | PLAT_WS_POPUP) & ~FULLSCREEN_DROPPED_STYLE);
    if (ChangeDisplayMode(pState, nMonitor) != 0) return;
    RefreshWindowPos(hwnd);
    CursorToMonitorCentre();
    // In fullscreen the bar goes to the menu-bar host.
    g_DisplayHooks.pfnSetWindowMenuBar(pState->szMenuPath, hwnd);
}

int ChangeDisplayMode(WINDOW_STATE* pState, int nMonitor)
{
    if (g_bDirect3D) g_bResetRequest = 1;
    if (nMonitor >= 0 && PlatSetWindowFullscreen(pState->hWnd, nMonitor) == 0) return 0;
    if (g_bDirect3D) g_bResetRequest = 0;
    g_bFullscreen = 0;
    // The window is windowed again as it was, with the sizes it had.
    RestoreSavedSizes();
    RestoreDisplayMode(pState);
    ReportError(KX_ERR_DISPLAY_MODE, 0);
    return -1;
}

void LeaveFullscreen(WINDOW_STATE* pState, int bKeepDisplayMode)
{
    const PLAT_HWND hwnd = pState->hWnd;
    g_DisplayHooks.pfnDetachMenuBar(g_hMenuHostWnd);
    // Out of fullscreen before the menu bar is built again, so that it goes to the main window and
    // not to the menu-bar host.
    g_bFullscreen = 0;
    RestoreSavedSizes();
    if (!bKeepDisplayMode) RestoreDisplayMode(pState);
    if (g_bDirect3D) g_bResetRequest = 1;
    if (FindMonitorDevice(hwnd, nullptr) >= 0) CursorToMonitorCentre();
}

void RestoreDisplayMode(WINDOW_STATE* pState)
{
    const PLAT_HWND hwnd = pState->hWnd;
    PlatLeaveWindowFullscreen(hwnd);
    if (!g_bEngineStop) {
        uint32_t nStyle = (GetWindowStyle(hwnd) | FULLSCREEN_DROPPED_STYLE) & ~PLAT_WS_POPUP;
        if (!g_bResizable) nStyle &= ~PLAT_WS_THICKFRAME;
        SetWindowStyle(hwnd, nStyle);
    }
    RestoreOtherWindows();
    if (g_bMaximized && hwnd) {
        // Centred on the work area by its logical size, then restored from maximised.
        PLAT_MONITOR_INFO mi{};
        int32_t x = 0, y = 0;
        const int n = g_nMonitorNumber >= 0 ? g_nMonitorNumber : 0;
        if (PlatGetMonitorInfo(n, &mi) == 0) {
            x = (mi.rcWork.right - mi.rcWork.left) / 2 + mi.rcWork.left - pState->nWidth / 2;
            y = (mi.rcWork.bottom - mi.rcWork.top) / 2 + mi.rcWork.top - pState->nHeight / 2;
        }
        MoveWindowTo(hwnd, x, y);
        PlatPostMessage(hwnd, PLAT_WM_SYSCOMMAND, PLAT_SC_RESTORE, 0);
    }
    if (!g_bEngineStop) g_DisplayHooks.pfnSetWindowMenuBar(pState->szMenuPath, hwnd);
}

void SaveOtherWindows(void) {}
void RestoreOtherWindows(void) {}

void RefreshWindowPos(PLAT_HWND hwnd)
{
    PlatSetWindowPos(hwnd, 0, 0, 0, 0, PLAT_SWP_NOSIZE | PLAT_SWP_NOMOVE | PLAT_SWP_NOZORDER);
}

// ---- Monitor tracking -------------------------------------------------------------------------------

int FindMonitorDevice(PLAT_HWND hwnd, PLAT_MONITOR_INFO* pOut)
{
    PLAT_RECT rc;
    if (!hwnd || PlatGetWindowRect(hwnd, &rc) != 0) return -1;
    const int32_t x = ToInt32((int64_t{rc.left} + rc.right) / 2), y = ToInt32((int64_t{rc.top} + rc.bottom) / 2);
    const int n = PlatMonitorFromPoint(x, y);
    PLAT_MONITOR_INFO mi{};
    if (n < 0 || PlatGetMonitorInfo(n, &mi) != 0) return -1;
    const int32_t w = mi.rcMonitor.right - mi.rcMonitor.left, h = mi.rcMonitor.bottom - mi.rcMonitor.top;
    // A monitor without a size is no better than none.
    if (w <= 0 || h <= 0) return -1;
    g_rcMonitor = MONITOR_RECT{mi.rcMonitor.left, mi.rcMonitor.top, w, h};
    g_nDesktopWidth = w;
    g_nDesktopHeight = h;
    if (pOut) *pOut = mi;
    return n;
}

void HandleWmMove(PLAT_HWND hwnd)
{
    const int n = FindMonitorDevice(hwnd, nullptr);
    if (n < 0 || n == g_nMonitorNumber) return;
    g_nMonitorNumber = n;
    // The largest size the frame may take is the new monitor's.
    PlatUpdateWindowSizeLimits(hwnd);
    // The drawing device belongs to the display adapter of the monitor.
    if (g_bDirect3D && !g_bFullscreen && !g_bMaximized) g_bResetRequest = 1;
}
