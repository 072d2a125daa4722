// The mouse command.
#include "display/cmd_mouse.h"

#include <cstring>

#include "core/engine_globals.h"
#include "core/frame_loop.h"
#include "core/object_tree.h"
#include "core/window_record.h"
#include "platform/plat_display.h"
#include "display/cursor.h"
#include "display/tray.h"
#include "image/layer.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/engine_control.h"

PLAT_CURSOR g_hCustomCursor = 0;

int StandardCursorId(int64_t llNumber)
{
    static const int kIds[14] = {
        PLAT_IDC_ARROW,    PLAT_IDC_IBEAM,  PLAT_IDC_WAIT,    PLAT_IDC_CROSS,   PLAT_IDC_UPARROW,
        PLAT_IDC_SIZENWSE, PLAT_IDC_SIZENESW, PLAT_IDC_SIZEWE, PLAT_IDC_SIZENS, PLAT_IDC_SIZEALL,
        PLAT_IDC_NO,       PLAT_IDC_HAND,   PLAT_IDC_APPSTARTING, PLAT_IDC_HELP,
    };
    return llNumber >= 1 && llNumber <= 13 ? kIds[llNumber] : PLAT_IDC_ARROW;
}

namespace {

// The client position of a game coordinate along one axis: scaled by output / logical size, then
// moved by the picture's offset in the client (the coordinate plus the offset without a size).
int64_t GameToClient(int64_t v, int32_t nOutput, int32_t nLogical, int32_t nOffset)
{
    return nLogical != 0 ? v * nOutput / nLogical + nOffset : v + nOffset;
}

// Moves the cursor to the client position (cx, cy) of the main window.
void WarpTo(PLAT_HWND hwnd, int64_t cx, int64_t cy)
{
    int32_t x = static_cast<int32_t>(cx), y = static_cast<int32_t>(cy);
    if (PlatClientToScreen(hwnd, &x, &y) == 0) PlatSetCursorPos(x, y);
}

// The cursor's current client position on the window (0, 0 while unknown).
void CursorClientPos(PLAT_HWND hwnd, int64_t* pX, int64_t* pY)
{
    int32_t sx = 0, sy = 0, ox = 0, oy = 0;
    *pX = *pY = 0;
    if (PlatGetCursorPos(&sx, &sy) != 0 || PlatClientToScreen(hwnd, &ox, &oy) != 0) return;
    *pX = int64_t(sx) - ox;
    *pY = int64_t(sy) - oy;
}

void UseCursor(PLAT_HWND hwnd, PLAT_CURSOR h)
{
    if (h && hwnd) PlatSetWindowCursor(hwnd, h);
}

}  // namespace

int CmdMouse(void)
{
    if (FetchCommandArgs(CMDID_MOUSE) != 0) return -1;
    WINDOW_STATE* w = g_apWindowState[0];
    const PLAT_HWND hwnd = w ? w->hWnd : 0;
    if (HasArg(0) && w) {
        switch (ArgInt(0)) {
        case 0:
            if (g_bCursorShown) {
                g_nCursorRequest = KX_CURSOR_REQUEST_HIDE;
                g_bCursorShown = 0;
            }
            w->bIdleTiming = 0;
            g_bCursorAutoHide = 0;
            break;
        case 1:
            if (!w->bIdleTiming && !g_bCursorShown) RequestCursorShow();
            g_bCursorAutoHide = 1;
            break;
        case 2:
            RequestCursorShow();
            w->bIdleTiming = 0;
            g_bCursorAutoHide = 0;
            break;
        default: break;
        }
    }
    if (HasArg(1)) g_nCursorIdleMs = static_cast<uint32_t>(ArgLow32(1));
    if (w) {
        if (HasArg(2)) w->bRevealOnMove = ArgLowByte(2);
        if (HasArg(3)) w->bRevealOnButton = ArgLowByte(3);
        if (HasArg(4)) w->bRevealOnWheel = ArgLowByte(4);
    }
    if (HasArg(5) && w) {
        w->nMouseX = ArgLow32(5);
        if (hwnd) {
            int64_t cx, cy;
            CursorClientPos(hwnd, &cx, &cy);
            WarpTo(hwnd, GameToClient(w->nMouseX, g_nOutputWidth, w->nWidth, g_nOutputOffsetX), cy);
        }
    }
    if (HasArg(6) && w) {
        w->nMouseY = ArgLow32(6);
        if (hwnd) {
            int64_t cx, cy;
            CursorClientPos(hwnd, &cx, &cy);
            WarpTo(hwnd, cx, GameToClient(w->nMouseY, g_nOutputHeight, w->nHeight, g_nOutputOffsetY));
        }
    }
    if (HasArg(7)) UseCursor(hwnd, PlatLoadCursor(StandardCursorId(ArgInt(7))));
    const int32_t nHotX = HasArg(8) ? static_cast<uint16_t>(ArgInt(8)) : 0;
    const int32_t nHotY = HasArg(9) ? static_cast<uint16_t>(ArgInt(9)) : 0;
    if (HasArg(10)) {
        char szPath[KX_MAX_OBJECT_PATH];
        if (NormalizeObjectPath(szPath, ArgText(10), g_pszLayerPath, 0) < 0) return -1;
        TREE_NODE* pNode = g_pLayerRoot ? FindNodeByPath(g_pLayerRoot, szPath, KX_FIND_ANY) : nullptr;
        if (pNode) {
            if (g_hCustomCursor) PlatDestroyCursor(g_hCustomCursor);
            const LAYER* p = GetNodeLayer(pNode);
            g_hCustomCursor = CreateCursorFromLayer(hwnd, pNode, p ? p->nWidth : 0, p ? p->nHeight : 0, nHotX, nHotY, 0);
            UseCursor(hwnd, g_hCustomCursor);
        }
    }
    return 0;
}
