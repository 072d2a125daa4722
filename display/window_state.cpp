// Window records, window creation, the back layers and the scaled-frame buffer's size.
#include "display/window_state.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/appended_data.h"
#include "core/cp932.h"
#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/kx_texts.h"
#include "core/sysfacts.h"
#include "image/layer.h"
#include "platform/plat_window_limits.h"
#include "core/game_config.h"

PLAT_WNDPROC g_pfnMainWindowProc = DefaultGameWndProc;

namespace {

// The platform keeps no system menus: the items the main window's menu received are kept here.
uint8_t s_abResetItem[KX_WINDOWS];
// The scaled-frame buffer as made here, and its size in bytes.
uint8_t* s_pOutputBufferMade = nullptr;
uint64_t s_nOutputBufferBytes = 0;

uint64_t OutputBytes(int32_t nWidth, int32_t nHeight)
{
    const uint64_t w = nWidth > 0 ? static_cast<uint64_t>(nWidth) : 0;
    const uint64_t h = nHeight > 0 ? static_cast<uint64_t>(nHeight) : 0;
    return w * 4 + w * 4 * h + 4;
}


void FreeBackLayer(WINDOW_STATE* pState)
{
    LAYER* p = pState->pBackLayer;
    if (!p) return;
    std::free(p->pOwnedPixels);
    std::free(p->pColorCache);
    delete p;
    pState->pBackLayer = nullptr;
}

}  // namespace

TREE_NODE** WindowLayerSetSlot(int nWindow)
{
    if (nWindow < 0 || nWindow >= KX_WINDOWS || !g_apWindowState[nWindow]) return nullptr;
    return &g_apWindowState[nWindow]->pLayerSet;
}

LAYER* WindowBackLayer(int nWindow)
{
    if (nWindow < 0 || nWindow >= KX_WINDOWS || !g_apWindowState[nWindow]) return nullptr;
    return g_apWindowState[nWindow]->pBackLayer;
}

WINDOW_STATE* FindWindowState(PLAT_HWND hwnd)
{
    if (!hwnd) return nullptr;
    for (WINDOW_STATE* p : g_apWindowState)
        if (p && p->hWnd == hwnd) return p;
    return nullptr;
}

intptr_t DefaultGameWndProc(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam)
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
            p->bActive = 0;
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

void ConstructWindowState(WINDOW_STATE* pState, int nIndex)
{
    std::memset(pState, 0, sizeof *pState);
    pState->nIndex = nIndex;
    pState->hWnd = 0;
    pState->pLayerSet = nullptr;
    pState->pBackLayer = nullptr;
}

int CreateWindowStates(void)
{
    for (int i = 0; i < KX_WINDOWS; ++i) {
        g_anWindowCreated[i] = -1;
        if (!g_apWindowState[i]) {
            g_apWindowState[i] = new (std::nothrow) WINDOW_STATE;
            if (!g_apWindowState[i]) return -1;
        } else {
            // A record made again for a new run gives up the back layer it owned.
            FreeBackLayer(g_apWindowState[i]);
        }
        ConstructWindowState(g_apWindowState[i], i);
        s_abResetItem[i] = 0;
    }
    g_apWindowState[0]->nWidth = g_nScreenWidth;
    g_apWindowState[0]->nHeight = g_nScreenHeight;
    InstallDiagnosticSwitches();
    return 0;
}

void InitWindowBitmapInfo(WINDOW_STATE* pState)
{
    std::memset(&pState->bmi, 0, sizeof pState->bmi);
    pState->bmi.biSize = 40;
    pState->bmi.biWidth = pState->nWidth;
    pState->bmi.biHeight = pState->nHeight;
    pState->bmi.biPlanes = 1;
    pState->bmi.biBitCount = 32;
}

int ResetWindowState(WINDOW_STATE* pState, const char* pszTitle)
{
    InitWindowBitmapInfo(pState);
    CopyTextBounded(pState->szTitle, sizeof pState->szTitle, pszTitle ? pszTitle : "");
    if (pState->nIndex > 0) pState->bVisible = 1;
    pState->nAlpha = 256;
    pState->nCloseMode = KX_CLOSE_ASK;
    pState->bMinimizeAllowed = 1;
    pState->bMaximizeAllowed = pState->nIndex == 0 ? 1 : 0;
    pState->bRevealOnMove = pState->bRevealOnButton = pState->bRevealOnWheel = 1;
    return 0;
}

void GetGameWindowStyles(const WINDOW_STATE* pState, uint32_t* pnStyle, uint32_t* pnExStyle)
{
    const bool bMain = pState->nIndex == 0;
    uint32_t nStyle = KX_WS_FRAMED;
    if (bMain && g_bResizable) nStyle |= PLAT_WS_THICKFRAME;
    if (bMain && !g_bFramedWindow) nStyle = KX_WS_BORDERLESS;
    uint32_t nEx = 0;
    if (g_bFramedWindow)
        nEx = g_bScreenSaver ? static_cast<uint32_t>(KX_WS_EX_TOPMOST) : 0u;
    else
        nEx = bMain ? static_cast<uint32_t>(KX_WS_EX_TOOLWINDOW) : 0u;
    if (pnStyle) *pnStyle = nStyle;
    if (pnExStyle) *pnExStyle = nEx;
}

int CreateGameWindow(WINDOW_STATE* pState, int /*nCmdShow*/, const char* pszClass, const char* pszTitle)
{
    uint32_t nStyle = 0, nExStyle = 0;
    GetGameWindowStyles(pState, &nStyle, &nExStyle);

    // Centred on the work area (the desktop: the platform reserves no panels) by the logical size,
    // each division truncating toward zero; a framed sub window starts at the top-left corner.
    int x = 0, y = 0;
    if (!(pState->nIndex > 0 && g_bFramedWindow)) {
        x = g_nDesktopWidth / 2 - pState->nWidth / 2;
        y = g_nDesktopHeight / 2 - pState->nHeight / 2;
    }
    PLAT_RECT rc{0, 0, pState->nWidth, pState->nHeight};
    PlatAdjustWindowRect(&rc, nStyle, 0);
    PLAT_WNDPROC pfnProc = g_pfnMainWindowProc ? g_pfnMainWindowProc : DefaultGameWndProc;
    PLAT_HWND hwnd = PlatCreateWindowEx(nExStyle, pszClass, pszTitle ? pszTitle : "", nStyle, x, y,
                                        rc.right - rc.left, rc.bottom - rc.top, 0, pfnProc, pState);
    if (!hwnd) return 0;
    // The class counts as set up once a window of it exists, so a failed first attempt is retried.
    pState->bClassRegistered = 1;
    pState->hWnd = hwnd;
    PlatSetWindowUser(hwnd, pState);
    // The procedure knows the window now: the limits of its frame follow from its record.
    PlatUpdateWindowSizeLimits(hwnd);
    s_abResetItem[pState->nIndex] = pState->nIndex == 0 ? 1 : 0;
    if (pState->nIndex == 0) g_hMainWnd = hwnd;
    return CreateWindowBackLayer(pState->nIndex, pState->nWidth, pState->nHeight) == 0 ? 1 : 0;
}

int MakeWindowClassName(int nIndex, char* pszOut, int nCap)
{
    if (!pszOut || nCap <= 0) return -1;
    const int n = nIndex == 0 ? std::snprintf(pszOut, static_cast<size_t>(nCap), "%s", g_szInstanceName)
                              : std::snprintf(pszOut, static_cast<size_t>(nCap), "%s_sub_%d", g_szInstanceName, nIndex);
    return n >= 0 && n < nCap ? 0 : -1;
}

int CreateSubWindow(int nIndex, int32_t nWidth, int32_t nHeight, const char* pszTitle)
{
    if (nIndex < 1 || nIndex >= KX_WINDOWS || !g_apWindowState[nIndex]) return -1;
    WINDOW_STATE* p = g_apWindowState[nIndex];
    p->nLeft = p->nTop = 0;
    p->nWidth = nWidth > 0 ? nWidth : KX_SUB_WINDOW_DEFAULT_SIZE;
    p->nHeight = nHeight > 0 ? nHeight : KX_SUB_WINDOW_DEFAULT_SIZE;
    char szClass[KX_MAX_PATH + 16];
    if (MakeWindowClassName(nIndex, szClass, sizeof szClass) != 0) return -1;
    if (!CreateGameWindow(p, PLAT_SW_SHOW, szClass, p->szTitle)) {
        // A window made without its back layer is not kept: nothing could be shown in it.
        if (p->hWnd) PlatDestroyWindow(p->hWnd);
        p->hWnd = 0;
        return -1;
    }
    PlatShowWindow(p->hWnd, PLAT_SW_SHOW);
    ResetWindowState(p, pszTitle ? pszTitle : p->szTitle);
    g_anWindowCreated[nIndex] = 1;
    PlatSetWindowText(p->hWnd, p->szTitle);
    return 0;
}

int CreateWindowBackLayer(int nIndex, int32_t nWidth, int32_t nHeight)
{
    if (nIndex < 0 || nIndex >= KX_WINDOWS || !g_apWindowState[nIndex]) return 1;
    WINDOW_STATE* pState = g_apWindowState[nIndex];
    FreeBackLayer(pState);
    // The allocator shows the size message and reports 100010, or 104030 when memory runs out.
    uint8_t* pPixels = AllocPixelBuffer(nullptr, nWidth, nHeight, "");
    if (!pPixels) return 1;
    LAYER* p = new (std::nothrow) LAYER{};
    if (!p) {
        std::free(pPixels);
        ReportError(KX_ERR_LAYER_NO_MEMORY, 1);
        return 1;
    }
    p->nWidth = p->nBufWidth = nWidth;
    p->nHeight = p->nBufHeight = nHeight;
    p->pOwnedPixels = p->pDisplayPixels = pPixels;
    p->bVisible = 1;
    p->nOpacity = KX_OPACITY_OPAQUE;
    p->nPendingOpacity = KX_OPACITY_OPAQUE;
    p->nSaturation = KX_SATURATION_NEUTRAL;
    p->nColorBalance = KX_COLOR_BALANCE_NEUTRAL;
    p->bBlendMode = 0;
    pState->pBackLayer = p;
    return 0;
}

int ClearWindowBlack(WINDOW_STATE* pState)
{
    if (!pState) return 0;
    pState->bmi.biWidth = 1;
    pState->bmi.biHeight = 1;
    uint32_t* pPixels = nullptr;
    int w = 0, h = 0, nPitch = 0;
    if (!pState->hWnd || PlatGetWindowFramebuffer(pState->hWnd, &pPixels, &w, &h, &nPitch) != 0 || !pPixels)
        return 0;
    const int cw = g_nTargetWidth < w ? g_nTargetWidth : w;
    const int ch = g_nTargetHeight < h ? g_nTargetHeight : h;
    for (int y = 0; y < ch; ++y)
        if (cw > 0) std::memset(reinterpret_cast<uint8_t*>(pPixels) + static_cast<size_t>(y) * nPitch, 0, static_cast<size_t>(cw) * 4);
    PlatPresentWindow(pState->hWnd);
    return 0;
}

int GetWindowSystemMenu(int nIndex, WINDOW_MENU_ITEM* pItems, int nCap)
{
    if (nIndex < 0 || nIndex >= KX_WINDOWS || !s_abResetItem[nIndex]) return 0;
    const WINDOW_MENU_ITEM a[2] = {{KX_MENU_RESET_WINDOW_SIZE, GetEngineText(TXT_MENU_RESET_WINDOW_SIZE)}, {0, nullptr}};
    for (int i = 0; i < 2 && i < nCap; ++i)
        if (pItems) pItems[i] = a[i];
    return 2;
}

int SetOutputSize(int32_t nWidth, int32_t nHeight)
{
    // A buffer made elsewhere (or none) has an unknown size: it is replaced.
    if (g_pOutputBuffer != s_pOutputBufferMade) s_nOutputBufferBytes = 0;
    const uint64_t nNeed = OutputBytes(nWidth, nHeight);
    if (g_pOutputBuffer && nWidth <= KX_MAX_IMAGE_WIDTH && nWidth >= 0 && nHeight >= 0 && nNeed <= s_nOutputBufferBytes) {
        g_nOutputWidth = nWidth;
        g_nOutputHeight = nHeight;
        return 0;
    }
    std::free(g_pOutputBuffer);
    g_pOutputBuffer = nullptr;
    s_pOutputBufferMade = nullptr;
    s_nOutputBufferBytes = 0;
    uint8_t* p = AllocPixelBuffer(nullptr, nWidth, nHeight, "");
    if (!p) {
        // Nothing is presented from a buffer that is not there.
        g_nOutputWidth = g_nOutputHeight = 0;
        return -1;
    }
    g_pOutputBuffer = s_pOutputBufferMade = p;
    s_nOutputBufferBytes = nNeed;
    g_nOutputWidth = nWidth;
    g_nOutputHeight = nHeight;
    return 0;
}

int64_t GetOutputBufferCapacity(void)
{
    if (!g_pOutputBuffer || g_pOutputBuffer != s_pOutputBufferMade) return 0;
    // Pixels of the largest frame whose rows fit: the spare row and bytes are not picture.
    return static_cast<int64_t>((s_nOutputBufferBytes - 4) / 4);
}

int SetupMainWindowSizes(void)
{
    WINDOW_STATE* pMain = g_apWindowState[0];
    if (!pMain) return -1;
    if (g_bScreenSaver) {
        pMain->nWidth = g_nDesktopWidth;
        pMain->nHeight = g_nDesktopHeight;
    }
    g_nTargetWidth = pMain->nWidth;
    g_nTargetHeight = pMain->nHeight;
    int32_t w = pMain->nWidth, h = pMain->nHeight;
    if (w > g_nDesktopWidth || h > g_nDesktopHeight) {
        w = g_nDesktopWidth / 2;
        h = g_nDesktopHeight / 2;
    }
    // Start-up always makes a fresh buffer.
    std::free(g_pOutputBuffer);
    g_pOutputBuffer = nullptr;
    s_pOutputBufferMade = nullptr;
    return SetOutputSize(w, h);
}

int MoveWindowTo(PLAT_HWND hwnd, int x, int y)
{
    return PlatSetWindowPos(hwnd, x, y, 0, 0, PLAT_SWP_NOSIZE | PLAT_SWP_NOZORDER | PLAT_SWP_NOACTIVATE);
}

uint32_t GetWindowStyle(PLAT_HWND hwnd)
{
    return PlatGetWindowStyle(hwnd);
}

int SetWindowStyle(PLAT_HWND hwnd, uint32_t nStyle)
{
    return PlatSetWindowStyle(hwnd, nStyle);
}

int PlaceWindowBehind(PLAT_HWND hwnd, PLAT_HWND hwndOther)
{
    return PlatSetWindowZOrder(hwnd, PLAT_Z_BEHIND, hwndOther);
}

int FlashWindowTray(PLAT_HWND hwnd, int nIntervalMs, int nCount)
{
    return PlatFlashWindow(hwnd, nCount, nIntervalMs);
}

void ActivateMainWindow(void* /*pUser*/)
{
    if (!g_hMainWnd) return;
    if (PlatIsIconic(g_hMainWnd)) PlatShowWindow(g_hMainWnd, PLAT_SW_RESTORE);
    PlatSetForegroundWindow(g_hMainWnd);
}
