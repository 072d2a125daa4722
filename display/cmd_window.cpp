// The window commands, the window shape made from a layer and the click layer's hit test.
#include "display/cmd_window.h"

#include <cstring>

#include "core/cp932.h"
#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/game_config.h"
#include "core/kx_texts.h"
#include "core/object_tree.h"
#include "core/sysfacts.h"
#include "core/window_record.h"
#include "display/display_hooks.h"
#include "display/screen_modes.h"
#include "display/tray.h"
#include "display/window_proc.h"
#include "display/window_state.h"
#include "image/cmd_layer.h"
#include "script/dispatch.h"
#include "image/dirty_rects.h"
#include "image/layer.h"
#include "platform/plat_menu.h"
#include "platform/plat_tray.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/variables.h"

namespace {

// The shape's pixels (B,G,R with alpha 255), kept while the window has the shape.
std::vector<uint32_t> s_vShapeBitmap;
int32_t s_nShapeWidth = 0, s_nShapeHeight = 0;
bool s_bShapeBitmap = false;

const char* CmdName(int nCmd) { return GetScriptCommandName(nCmd); }

// Reports a value the argument does not allow: the command's and the argument's names and the value.
int RefuseValue(int nCmd, int nErr, int nArgId)
{
    ReportScriptErrorF(nErr, 1, CmdName(nCmd), LayerArgName(nCmd, nArgId), ArgInt(nArgId));
    return -1;
}

// The window index of argument 0 (0 when absent), checked against 0..3: -1 after the report.
int TakeWindowIndex(int nCmd)
{
    const int64_t ll = HasArg(0) ? ArgInt(0) : 0;
    if (ll < 0 || ll >= KX_WINDOWS || !g_apWindowState[ll]) {
        ReportScriptErrorF(KX_ERR_ARG_RANGE, 1, CmdName(nCmd), LayerArgName(nCmd, 0), ll, 0, KX_WINDOWS - 1);
        return -1;
    }
    return static_cast<int>(ll);
}

// What the frame adds to a client rectangle for the window's current style, its menu bar included:
// the bar sits outside the picture, so the picture keeps the size asked for.
void FrameSize(PLAT_HWND hwnd, int32_t* pfw, int32_t* pfh)
{
    PLAT_RECT rc{0, 0, 320, 240};
    PlatAdjustWindowRect(&rc, PlatGetWindowStyle(hwnd), PlatGetMenu(hwnd) != 0 ? 1 : 0);
    *pfw = (rc.right - rc.left) - 320;
    *pfh = (rc.bottom - rc.top) - 240;
}

// Resizes the window so that its client (the picture, below the menu bar) is w x h, keeping its
// top-left corner.
void ResizeClient(PLAT_HWND hwnd, int32_t w, int32_t h)
{
    PLAT_RECT rcWin;
    if (!hwnd || PlatGetWindowRect(hwnd, &rcWin) != 0) return;
    PLAT_RECT rc{0, 0, w, h};
    PlatAdjustWindowRect(&rc, PlatGetWindowStyle(hwnd), PlatGetMenu(hwnd) != 0 ? 1 : 0);
    PlatSetWindowPos(hwnd, rcWin.left, rcWin.top, rc.right - rc.left, rc.bottom - rc.top, PLAT_SWP_NOZORDER);
}

void MarkWhollyDirty(LAYER* p)
{
    if (!p) return;
    p->rcOwn = DIRTY_BOX{0, 0, int64_t(p->nWidth) - 1, int64_t(p->nHeight) - 1};
    p->bOwnValid = 1;
    p->bFullRedraw = 1;
    p->bChanged = 1;
}

// The node a layer-path argument names (made absolute against the layer tree's current path): any
// node, group or not. NULL after the path's own error, or after 101250 when it names nothing.
TREE_NODE* FindArgLayer(int nCmd, int nArgId, int nMode)
{
    char szPath[KX_MAX_OBJECT_PATH];
    if (NormalizeObjectPath(szPath, ArgText(nArgId), g_pszLayerPath, 0) < 0) return nullptr;
    TREE_NODE* pNode = g_pLayerRoot ? FindNodeByPath(g_pLayerRoot, szPath, nMode) : nullptr;
    if (!pNode) ReportScriptErrorF(KX_ERR_WINDOW_NO_LAYER, 1, CmdName(nCmd), szPath);
    return pNode;
}

// 1 when another window than nIndex shows the node.
bool SharedLayerSet(int nIndex, const TREE_NODE* pNode)
{
    for (int i = 0; i < KX_WINDOWS; ++i)
        if (i != nIndex && g_apWindowState[i] && g_apWindowState[i]->pLayerSet == pNode) return true;
    return false;
}

// The layer set argument. 0, or -1 after an error.
int ApplyLayerSet(WINDOW_STATE* w)
{
    TREE_NODE* pNode = FindArgLayer(CMDID_WINDOW, WINCMD_ARG_LAYER_SET, KX_FIND_GROUP);
    if (!pNode) return -1;
    // The set shown so far stops being a window root, unless another window still shows it.
    if (LAYER* pOld = GetNodeLayer(w->pLayerSet))
        if (w->pLayerSet != pNode && !SharedLayerSet(w->nIndex, w->pLayerSet)) pOld->bWindowRoot = 0;
    LAYER* pLayer = GetNodeLayer(pNode);
    w->pLayerSet = pNode;
    if (pLayer) pLayer->bWindowRoot = 1;
    MarkLayerDirty(pNode);
    if (!pLayer || pLayer->nWidth == 0 || pLayer->nHeight == 0) {
        ShowMessageBox(nullptr, "%s", GetEngineText(TXT_LAYER_SET_ZERO_SIZE));
        if (pLayer && !SharedLayerSet(w->nIndex, pNode)) pLayer->bWindowRoot = 0;
        w->pLayerSet = nullptr;
        StopEngineForError();
        return -1;
    }
    MarkWhollyDirty(pLayer);
    return 0;
}

// The logical size of an existing window changed: the window keeps its top-left corner and its
// client takes the new size; the back layer is made again at that size, and the main window in its
// plain windowed state draws and shows the picture at that size.
void ResizeForLogicalSize(WINDOW_STATE* w)
{
    InitWindowBitmapInfo(w);
    CreateWindowBackLayer(w->nIndex, w->nWidth, w->nHeight);
    if (w->nIndex == 0 && !g_bFullscreen && !g_bMaximized) {
        g_nTargetWidth = w->nWidth;
        g_nTargetHeight = w->nHeight;
        SetOutputSize(w->nWidth, w->nHeight);
    }
    // The frame's limits follow the new aspect before the window takes its size.
    if (w->hWnd) PlatUpdateWindowSizeLimits(w->hWnd);
    ResizeClient(w->hWnd, w->nWidth, w->nHeight);
}

}  // namespace

// ---- Window shape ------------------------------------------------------------------------------------

int CreateRegionFromPixels(const uint8_t* pPixels, int32_t nWidth, int32_t nHeight, int32_t nStride,
                           std::vector<PLAT_RECT>* pOut)
{
    pOut->clear();
    if (!pPixels || nWidth <= 0 || nHeight <= 0) return 0;
    for (int32_t y = 0; y < nHeight; ++y) {
        const uint8_t* pRow = pPixels + static_cast<size_t>(y) * static_cast<size_t>(nStride);
        int32_t x = 0;
        while (x < nWidth) {
            while (x < nWidth && (pRow[x * 4] | pRow[x * 4 + 1] | pRow[x * 4 + 2]) == 0) ++x;
            if (x >= nWidth) break;
            const int32_t nStart = x;
            while (x < nWidth && (pRow[x * 4] | pRow[x * 4 + 1] | pRow[x * 4 + 2]) != 0) ++x;
            pOut->push_back(PLAT_RECT{nStart, y, x, y + 1});
            if (pOut->size() >= KX_SHAPE_MAX_RECTS) {
                pOut->clear();
                return -1;
            }
        }
    }
    return static_cast<int>(pOut->size());
}

int SetWindowShape(PLAT_HWND hwnd, const LAYER* pLayer)
{
    if (!pLayer || !pLayer->pOwnedPixels || pLayer->nWidth <= 0 || pLayer->nHeight <= 0) return -1;
    const int32_t w = pLayer->nWidth, h = pLayer->nHeight;
    // The shape bitmap: the layer's colours, every pixel opaque.
    s_vShapeBitmap.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const uint8_t* s = pLayer->pOwnedPixels + (static_cast<size_t>(y) * w + x) * 4;
            s_vShapeBitmap[static_cast<size_t>(y) * w + x] =
                uint32_t(s[0]) | uint32_t(s[1]) << 8 | uint32_t(s[2]) << 16 | 0xFF000000u;
        }
    s_nShapeWidth = w;
    s_nShapeHeight = h;
    s_bShapeBitmap = true;
    std::vector<PLAT_RECT> rects;
    if (CreateRegionFromPixels(reinterpret_cast<const uint8_t*>(s_vShapeBitmap.data()), w, h, w * 4, &rects) < 0)
        return -1;
    return PlatSetWindowRegion(hwnd, rects.data(), static_cast<int>(rects.size())) == 0 ? 0 : -1;
}

void DeleteShapeBitmap(void)
{
    std::vector<uint32_t>().swap(s_vShapeBitmap);
    s_nShapeWidth = s_nShapeHeight = 0;
    s_bShapeBitmap = false;
}

const std::vector<uint32_t>* GetShapeBitmap(int32_t* pnWidth, int32_t* pnHeight)
{
    if (pnWidth) *pnWidth = s_nShapeWidth;
    if (pnHeight) *pnHeight = s_nShapeHeight;
    return s_bShapeBitmap ? &s_vShapeBitmap : nullptr;
}

void ReleaseMainWindowExtras(void)
{
    RemoveTrayIcon();
    DeleteShapeBitmap();
}

// ---- Layer set and click layer ------------------------------------------------------------------------

void MarkLayerSetDirty(WINDOW_STATE* pState)
{
    if (pState) MarkWhollyDirty(GetNodeLayer(pState->pLayerSet));
}

int ClickLayerHit(WINDOW_STATE* pState)
{
    const LAYER* p = g_pClickLayer;
    if (!pState || !g_bClickLayerOn || !p || !g_pClickLayerNode || GetNodeLayer(g_pClickLayerNode) != p) return 0;
    const uint8_t* pPixels = p->pDisplayPixels ? p->pDisplayPixels : p->pOwnedPixels;
    if (!pPixels || p->nWidth <= 0 || p->nHeight <= 0) return 0;
    // The layer's place on the window: its position and those of its ancestors that carry a layer.
    int64_t llX = 0, llY = 0;
    for (const TREE_NODE* n = g_pClickLayerNode; n; n = n->pParent)
        if (const LAYER* pl = GetNodeLayer(n)) {
            llX += pl->llX;
            llY += pl->llY;
        }
    const int64_t x = int64_t(pState->nMouseX) - llX, y = int64_t(pState->nMouseY) - llY;
    if (x < 0 || y < 0 || x >= p->nWidth || y >= p->nHeight) return 0;
    const uint8_t* s = pPixels + (static_cast<size_t>(y) * static_cast<size_t>(p->nWidth) + static_cast<size_t>(x)) * 4;
    return (s[0] | s[1] | s[2]) != 0 ? 1 : 0;
}

// ---- The window command ---------------------------------------------------------------------------------

int CmdWindow(void)
{
    constexpr int kCmd = CMDID_WINDOW;
    if (FetchCommandArgs(kCmd) != 0) return -1;
    const int nIndex = TakeWindowIndex(kCmd);
    if (nIndex < 0) return -1;
    WINDOW_STATE* w = g_apWindowState[nIndex];
    WINDOW_STATE* pMain = g_apWindowState[0];
    const bool bPlain = !g_bFullscreen && !g_bMaximized;

    // 1. The logical size, taken only in the plain windowed state. Sizes no picture can have are
    // refused before anything divides by them.
    for (int id : {WINCMD_ARG_WIDTH, WINCMD_ARG_HEIGHT})
        if (HasArg(id) && (ArgInt(id) < KX_WINDOW_SIZE_MIN || ArgInt(id) > KX_WINDOW_SIZE_MAX)) {
            ReportScriptErrorF(KX_ERR_ARG_RANGE, 1, CmdName(kCmd), LayerArgName(kCmd, id), ArgInt(id),
                               KX_WINDOW_SIZE_MIN, KX_WINDOW_SIZE_MAX);
            return -1;
        }
    int32_t lw = w->nWidth, lh = w->nHeight;
    const bool bSizeGiven = bPlain && (HasArg(WINCMD_ARG_WIDTH) || HasArg(WINCMD_ARG_HEIGHT));
    if (bPlain) {
        if (HasArg(WINCMD_ARG_WIDTH)) lw = static_cast<int32_t>(ArgInt(WINCMD_ARG_WIDTH));
        if (HasArg(WINCMD_ARG_HEIGHT)) lh = static_cast<int32_t>(ArgInt(WINCMD_ARG_HEIGHT));
    }
    const bool bCreated = g_anWindowCreated[nIndex] == 1 && w->hWnd;

    // 2, 3. The client size, the other side following the logical aspect.
    if (bPlain && bCreated) {
        if (HasArg(WINCMD_ARG_CLIENT_WIDTH)) {
            int64_t cw = ArgInt(WINCMD_ARG_CLIENT_WIDTH);
            if (cw > g_nDesktopWidth) cw = g_nDesktopWidth;
            if (cw < 1) cw = 1;
            PLAT_RECT rc{0, 0, 0, 0};
            PlatGetClientRect(w->hWnd, &rc);
            const int64_t ch = lw > 0 ? int64_t(lh) * cw / lw : rc.bottom;
            ResizeClient(w->hWnd, static_cast<int32_t>(cw), static_cast<int32_t>(ch));
        }
        if (HasArg(WINCMD_ARG_CLIENT_HEIGHT)) {
            int64_t ch = ArgInt(WINCMD_ARG_CLIENT_HEIGHT);
            if (ch > g_nDesktopHeight) ch = g_nDesktopHeight;
            if (ch < 1) ch = 1;
            PLAT_RECT rc{0, 0, 0, 0};
            PlatGetClientRect(w->hWnd, &rc);
            const int64_t cw = lh > 0 ? int64_t(lw) * ch / lh : rc.right;
            ResizeClient(w->hWnd, static_cast<int32_t>(cw), static_cast<int32_t>(ch));
        }
    }

    // 4. The logical size is stored; an existing window follows a new one.
    if (bSizeGiven) {
        const bool bChanged = lw != w->nWidth || lh != w->nHeight;
        w->nWidth = lw;
        w->nHeight = lh;
        if (bCreated && bChanged) ResizeForLogicalSize(w);
    }

    // 5. A sub window that does not exist is made on demand; it needs a title.
    if (g_anWindowCreated[nIndex] != 1 && nIndex > 0) {
        if (!HasArg(WINCMD_ARG_TITLE)) {
            ReportScriptErrorF(KX_ERR_WINDOW_NO_TITLE, 1, CmdName(kCmd));
            return -1;
        }
        const int32_t cw = HasArg(WINCMD_ARG_WIDTH) ? lw : 0, ch = HasArg(WINCMD_ARG_HEIGHT) ? lh : 0;
        if (CreateSubWindow(nIndex, cw, ch, ArgText(WINCMD_ARG_TITLE)) != 0) return -1;
    }
    const PLAT_HWND hwnd = w->hWnd;

    // 6. Title.
    if (HasArg(WINCMD_ARG_TITLE)) {
        const char* psz = ArgText(WINCMD_ARG_TITLE);
        CopyTextBounded(w->szTitle, sizeof w->szTitle, *psz ? psz : " ");
        if (hwnd) PlatSetWindowText(hwnd, w->szTitle);
    }
    // 7. Opacity: kept and reported, and handed to the window system (a compositing window manager
    // shows it).
    if (HasArg(WINCMD_ARG_ALPHA)) {
        w->nAlpha = ArgLow32(WINCMD_ARG_ALPHA);
        if (hwnd) PlatSetWindowOpacity(hwnd, w->nAlpha);
    }
    // 8. Visibility.
    if (HasArg(WINCMD_ARG_VISIBLE)) {
        const uint8_t bOld = w->bVisible;
        w->bVisible = ArgLowByte(WINCMD_ARG_VISIBLE);
        if (w->bVisible != bOld && hwnd) PlatShowWindow(hwnd, ArgInt(WINCMD_ARG_VISIBLE) > 0 ? PLAT_SW_SHOW : PLAT_SW_HIDE);
    }
    // 9. Position.
    if (HasArg(WINCMD_ARG_X)) {
        w->nLeft = ArgLow32(WINCMD_ARG_X);
        if (hwnd) MoveWindowTo(hwnd, w->nLeft, w->nTop);
    }
    if (HasArg(WINCMD_ARG_Y)) {
        w->nTop = ArgLow32(WINCMD_ARG_Y);
        if (hwnd) MoveWindowTo(hwnd, w->nLeft, w->nTop);
    }
    // 10. Stacking.
    if (HasArg(WINCMD_ARG_ZORDER)) {
        const int64_t v = ArgInt(WINCMD_ARG_ZORDER);
        if (v == 3 && nIndex == 0) return RefuseValue(kCmd, KX_ERR_WINDOW_ARG_VALUE, WINCMD_ARG_ZORDER);
        if (hwnd) {
            if (v == 1) {
                PlatSetWindowZOrder(hwnd, PLAT_Z_TOPMOST, 0);
            } else {
                PlatSetWindowZOrder(hwnd, PLAT_Z_NOTOPMOST, 0);
                if (v == 0) PlatSetWindowZOrder(hwnd, PLAT_Z_TOP, 0);
                else if (v == 2) PlatSetWindowZOrder(hwnd, PLAT_Z_BOTTOM, 0);
                else if (v == 3 && pMain) PlaceWindowBehind(hwnd, pMain->hWnd);
            }
        }
    }
    // 11. Maximise and minimise permissions.
    if (HasArg(WINCMD_ARG_MAXIMIZE_ALLOWED)) w->bMaximizeAllowed = ArgLowByte(WINCMD_ARG_MAXIMIZE_ALLOWED);
    if (HasArg(WINCMD_ARG_MINIMIZE_ALLOWED)) w->bMinimizeAllowed = ArgLowByte(WINCMD_ARG_MINIMIZE_ALLOWED);
    // 12. Close mode. Only the main window's is checked, and before it is stored: the main window
    // closing on its own (mode 3) would leave the engine running without it. A sub window takes any
    // value; one outside 0..3 closes it as the default does.
    if (HasArg(WINCMD_ARG_CLOSE_MODE)) {
        const int64_t v = ArgInt(WINCMD_ARG_CLOSE_MODE);
        if (nIndex == 0 && (v < KX_CLOSE_REPORT || v > KX_CLOSE_QUIT))
            return RefuseValue(kCmd, KX_ERR_WINDOW_ARG_VALUE, WINCMD_ARG_CLOSE_MODE);
        w->nCloseMode = static_cast<int8_t>(v);
    }
    // 13. Flashing.
    if (HasArg(WINCMD_ARG_FLASH_COUNT) && hwnd)
        FlashWindowTray(hwnd, HasArg(WINCMD_ARG_FLASH_INTERVAL) ? ArgLow32(WINCMD_ARG_FLASH_INTERVAL) : 0,
                        ArgLow32(WINCMD_ARG_FLASH_COUNT));
    // 14. Layer set.
    if (HasArg(WINCMD_ARG_LAYER_SET) && ApplyLayerSet(w) != 0) return -1;
    // 15. Menu bar.
    if (HasArg(WINCMD_ARG_MENU_PATH)) {
        w->szMenuPath[0] = 0;
        const char* psz = ArgText(WINCMD_ARG_MENU_PATH);
        if (*psz) {
            char szPath[KX_MAX_OBJECT_PATH];
            if (NormalizeObjectPath(szPath, psz, g_pszMenuPath, 0) < 0) return -1;
            CopyTextBounded(w->szMenuPath, sizeof w->szMenuPath, szPath);
        }
        if (g_DisplayHooks.pfnSetWindowMenuBar(w->szMenuPath, hwnd) != 0) return -1;
    }
    // 16. Shape: always the main window's.
    if (HasArg(WINCMD_ARG_SHAPE)) {
        TREE_NODE* pNode = FindArgLayer(kCmd, WINCMD_ARG_SHAPE, KX_FIND_ANY);
        if (!pNode) return -1;
        if (SetWindowShape(pMain ? pMain->hWnd : 0, GetNodeLayer(pNode)) != 0) return 1;
    }
    // 17. Click layer.
    if (HasArg(WINCMD_ARG_CLICK_LAYER)) {
        TREE_NODE* pNode = FindArgLayer(kCmd, WINCMD_ARG_CLICK_LAYER, KX_FIND_ANY);
        if (!pNode) return -1;
        g_pClickLayerNode = pNode;
        g_pClickLayer = GetNodeLayer(pNode);
        g_bClickLayerOn = 1;
    }
    // 18. Maximise box.
    if (HasArg(WINCMD_ARG_MAXIMIZE_BOX) && !g_bFullscreen && hwnd) {
        const uint32_t nStyle = GetWindowStyle(hwnd);
        SetWindowStyle(hwnd, ArgInt(WINCMD_ARG_MAXIMIZE_BOX) == 1 ? nStyle | PLAT_WS_MAXIMIZEBOX
                                                                   : nStyle & ~static_cast<uint32_t>(PLAT_WS_MAXIMIZEBOX));
    }
    // 19. Foreground.
    if (HasArg(WINCMD_ARG_FOREGROUND) && ArgInt(WINCMD_ARG_FOREGROUND) == 1 && hwnd) PlatSetForegroundWindow(hwnd);
    // 20. Fullscreen (the main window only).
    if (HasArg(WINCMD_ARG_FULLSCREEN) && nIndex == 0) {
        if (SetFullscreen(ArgLow32(WINCMD_ARG_FULLSCREEN)) == 1) MarkLayerSetDirty(w);
    }
    // 21. Minimise and restore.
    if (HasArg(WINCMD_ARG_MINIMIZE) && hwnd) {
        switch (ArgInt(WINCMD_ARG_MINIMIZE)) {
        case 1: PlatShowWindow(hwnd, PLAT_SW_MINIMIZE); break;
        case 2:
            // To the tray: hidden only while the tray icon is in a tray host the player can click
            // (which brings the window back); otherwise a plain minimised window, which the
            // desktop's task list and window manager still offer.
            PlatShowWindow(hwnd, PLAT_SW_MINIMIZE);
            if (PlatTrayIsInPanel()) PlatShowWindow(hwnd, PLAT_SW_HIDE);
            break;
        case 0:
            if (PlatIsIconic(hwnd)) PlatShowWindow(hwnd, PLAT_SW_RESTORE);
            g_bRestorePending = 0;
            g_bMaximized = 0;
            g_bResetRequest = 1;
            g_DisplayHooks.pfnRepaintWindow(w);
            break;
        default: break;
        }
    }
    // 22. The maximise toggle (its value is not read).
    if (HasArg(WINCMD_ARG_MAXIMIZE_TOGGLE) && hwnd)
        PlatPostMessage(hwnd, PLAT_WM_SYSCOMMAND, g_bMaximized ? PLAT_SC_RESTORE : PLAT_SC_MAXIMIZE, 0);
    // 23. Resizable frame: the next WM_SIZE keeps the client where it is.
    if (HasArg(WINCMD_ARG_RESIZABLE)) {
        const uint8_t b = ArgLowByte(WINCMD_ARG_RESIZABLE);
        if (b != g_bResizable) {
            g_bResizable = b;
            if (!g_bFullscreen && hwnd) {
                FrameSize(hwnd, &g_nSavedFrameWidth, &g_nSavedFrameHeight);
                g_bFrameChanged = 1;
                const uint32_t nStyle = GetWindowStyle(hwnd);
                SetWindowStyle(hwnd, b ? nStyle | PLAT_WS_THICKFRAME : nStyle & ~static_cast<uint32_t>(PLAT_WS_THICKFRAME));
            }
        }
    }
    return 0;
}

// ---- Hide and information ---------------------------------------------------------------------------------

int CmdWindowHide(void)
{
    constexpr int kCmd = CMDID_WINDOW_HIDE;
    if (FetchCommandArgs(kCmd) != 0) return -1;
    if (!HasArg(0)) return 0;
    if (ArgInt(0) == 0) return RefuseValue(kCmd, KX_ERR_WINDOW_HIDE_MAIN, 0);
    const int nIndex = TakeWindowIndex(kCmd);
    if (nIndex < 0) return -1;
    if (g_apWindowState[nIndex]->hWnd) PlatShowWindow(g_apWindowState[nIndex]->hWnd, PLAT_SW_HIDE);
    return 0;
}

namespace {

// Stores a number by the target variable's type: integers and doubles take it, a text is error
// 101140 (reported by the store).
int StoreNumber(int nVar, int64_t llElem, int64_t llValue)
{
    const VAR_DESC* pVar = GetVarDesc(nVar);
    if (pVar && pVar->bType == KX_VAR_TYPE_FLOAT) return SetVarFloat(nVar, llElem, static_cast<double>(llValue)) == 0 ? 0 : -1;
    return SetVarInt(nVar, llElem, llValue) == 0 ? 0 : -1;
}

}  // namespace

int CmdWindowInfo(void)
{
    constexpr int kCmd = CMDID_WINDOW_INFO;
    if (FetchCommandArgs(kCmd) != 0) return -1;
    const int nIndex = TakeWindowIndex(kCmd);
    if (nIndex < 0) return -1;
    const ARG_OUT out = GetArgOut(1);
    if (!out.pVar) return 0;
    const VAR_DESC* pVar = out.pVar;
    const int nVar = out.nVar;
    const int64_t llElem = out.llElem;
    WINDOW_STATE* w = g_apWindowState[nIndex];
    if (g_anWindowCreated[nIndex] != 1 || !w->hWnd) {
        // A window that is not there: the target is cleared, whatever was asked.
        int r = 0;
        if (pVar->bType == KX_VAR_TYPE_STRING) r = SetVarString(nVar, llElem, "");
        else if (pVar->bType == KX_VAR_TYPE_FLOAT) r = SetVarFloat(nVar, llElem, 0.0);
        else r = SetVarInt(nVar, llElem, 0);
        return r == 0 ? 0 : -1;
    }
    static const int kSelectors[] = {2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 15, 16, 14, 17};
    int nSel = 0;
    for (int id : kSelectors)
        if (HasArg(id)) {
            nSel = id;
            break;
        }
    PLAT_RECT rc{0, 0, 0, 0};
    switch (nSel) {
    case 2: return StoreNumber(nVar, llElem, 1);
    case 3: return StoreNumber(nVar, llElem, w->nAlpha);
    case 4: return StoreNumber(nVar, llElem, w->bVisible);
    case 5: return StoreNumber(nVar, llElem, w->bActive);
    case 6:
        if (pVar->bType == KX_VAR_TYPE_STRING) return SetVarString(nVar, llElem, w->szTitle) == 0 ? 0 : -1;
        return 0;
    case 7:
        PlatGetWindowRect(w->hWnd, &rc);
        w->nLeft = rc.left;
        return StoreNumber(nVar, llElem, rc.left);
    case 8:
        PlatGetWindowRect(w->hWnd, &rc);
        w->nTop = rc.top;
        return StoreNumber(nVar, llElem, rc.top);
    case 10: return StoreNumber(nVar, llElem, w->nWidth);
    case 11: return StoreNumber(nVar, llElem, w->nHeight);
    case 12:
        PlatGetClientRect(w->hWnd, &rc);
        return StoreNumber(nVar, llElem, rc.right);
    case 13:
        PlatGetClientRect(w->hWnd, &rc);
        return StoreNumber(nVar, llElem, rc.bottom);
    case 15: return StoreNumber(nVar, llElem, g_bFullscreen);
    case 16: return StoreNumber(nVar, llElem, g_bMaximized);
    case 14: return StoreNumber(nVar, llElem, g_nMonitorNumber);
    case 17: return StoreNumber(nVar, llElem, PlatIsIconic(w->hWnd) ? 1 : 0);
    default: return 0;
    }
}

int CmdArgsOnly101(void)
{
    return FetchCommandArgs(CMDID_ARGS_ONLY101) != 0 ? -1 : 0;
}
