// Stand-in window records and main window until the display subsystem replaces them.
#include "display/window_standin.h"

#include <cstring>
#include <new>

#include "core/cp932.h"
#include "core/frame_loop.h"
#include "core/sysfacts.h"
#include "platform/plat_window.h"
#include "script/engine_config.h"

WINDOW_STATE* g_apWindowState[KX_WINDOWS];
int32_t g_anWindowCreated[KX_WINDOWS] = {-1, -1, -1, -1};
int32_t g_nFullscreenBits = 32;
uint8_t g_bFullscreen = 0;
uint8_t g_bMaximized = 0;

int CreateWindowStates(void)
{
    for (int i = 0; i < KX_WINDOWS; ++i) {
        g_anWindowCreated[i] = -1;
        if (!g_apWindowState[i]) {
            g_apWindowState[i] = new (std::nothrow) WINDOW_STATE;
            if (!g_apWindowState[i]) return -1;
        }
        WINDOW_STATE* p = g_apWindowState[i];
        std::memset(p, 0, sizeof *p);
        p->nIndex = i;
        if (i == 0) {
            p->nWidth = g_nScreenWidth;
            p->nHeight = g_nScreenHeight;
        }
    }
    return 0;
}

int ResetWindowState(WINDOW_STATE* pState, const char* pszTitle)
{
    CopyTextBounded(pState->szTitle, sizeof pState->szTitle, pszTitle ? pszTitle : "");
    if (pState->nIndex > 0) pState->bVisible = 1;
    return 0;
}

static WINDOW_STATE* FindWindowState(PLAT_HWND hwnd)
{
    for (WINDOW_STATE* p : g_apWindowState)
        if (p && p->hWnd == hwnd) return p;
    return nullptr;
}

static intptr_t StandinWndProc(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    switch (msg) {
    case PLAT_WM_CLOSE:
        PlatDestroyWindow(hwnd);
        return 0;
    case PLAT_WM_DESTROY: {
        // A destroyed window keeps no handle, so nothing later talks to it.
        WINDOW_STATE* p = FindWindowState(hwnd);
        if (p) {
            p->hWnd = 0;
            g_anWindowCreated[p->nIndex] = -1;
        }
        if (hwnd == g_hMainWnd) {
            g_hMainWnd = 0;
            PlatPostQuitMessage(0);
        }
        return 0;
    }
    case PLAT_WM_PAINT:
        PlatValidateWindow(hwnd);
        PlatPresentWindow(hwnd);
        return 0;
    default:
        return PlatDefWindowProc(hwnd, msg, wParam, lParam);
    }
}

int CreateGameWindow(WINDOW_STATE* pState, int nCmdShow, const char* pszClass, const char* pszTitle)
{
    const uint32_t nStyle = PLAT_WS_OVERLAPPEDWINDOW;
    PLAT_RECT rc{0, 0, pState->nWidth, pState->nHeight};
    PlatAdjustWindowRect(&rc, nStyle, 0);
    // Centred on the desktop by the logical size, as the outer frame is not known to the caller.
    const int x = g_nDesktopWidth / 2 - pState->nWidth / 2;
    const int y = g_nDesktopHeight / 2 - pState->nHeight / 2;
    PLAT_HWND hwnd = PlatCreateWindow(pszClass, pszTitle, nStyle, x, y, rc.right - rc.left, rc.bottom - rc.top, 0,
                                      StandinWndProc, pState);
    if (!hwnd) return 0;
    pState->hWnd = hwnd;
    if (pState->nIndex == 0) g_hMainWnd = hwnd;
    return 1;
}

void ActivateMainWindow(void* pUser)
{
    if (g_hMainWnd && PlatIsIconic(g_hMainWnd)) PlatShowWindow(g_hMainWnd, PLAT_SW_RESTORE);
}
