// The tray command and the cursors and icons made from layers.
#include "display/tray.h"

#include "core/cp932.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/kx_texts.h"
#include "core/object_tree.h"
#include "display/display_hooks.h"
#include "image/layer.h"
#include "platform/plat_tray.h"
#include "script/command_args.h"
#include "script/command_ids.h"

uint8_t g_bTrayIconShown = 0;
PLAT_CURSOR g_hTrayCustomIcon = 0;
char g_szTrayTip[KX_TRAY_TIP_BYTES] = "";

PLAT_CURSOR CreateCursorFromLayer(PLAT_HWND /*hwnd*/, TREE_NODE* pNode, int32_t nWidth, int32_t nHeight, int32_t nHotX,
                                  int32_t nHotY, int bIcon)
{
    const LAYER* p = GetNodeLayer(pNode);
    if (!p || p->nWidth != nWidth || p->nHeight != nHeight) {
        ShowMessageBox(nullptr, GetEngineText(bIcon ? TXT_ICON_SIZE_ERROR : TXT_CURSOR_SIZE_ERROR), nWidth, nHeight);
        return 0;
    }
    if (!p->pOwnedPixels || nWidth <= 0 || nHeight <= 0) {
        ShowMessageBox(nullptr, "%s", GetEngineText(bIcon ? TXT_ICON_DIB_ERROR : TXT_CURSOR_DIB_ERROR));
        return 0;
    }
    // The layer's rows go in unchanged (B, G, R, A).
    const PLAT_CURSOR h =
        PlatCreateColorCursor(p->pOwnedPixels, nWidth, nHeight, nWidth * 4, nHotX, nHotY, bIcon ? 1 : 0);
    if (!h) ShowMessageBox(nullptr, "%s", GetEngineText(bIcon ? TXT_ICON_ICON_ERROR : TXT_CURSOR_ICON_ERROR));
    return h;
}

namespace {

PLAT_TRAY_DATA TrayData(void)
{
    return PLAT_TRAY_DATA{g_hMainWnd, KX_TRAY_ID, KX_TRAY_CALLBACK, g_hTrayCustomIcon, g_szTrayTip};
}

void DestroyCustomIcon(void)
{
    if (g_hTrayCustomIcon) PlatDestroyCursor(g_hTrayCustomIcon);
    g_hTrayCustomIcon = 0;
}

}  // namespace

void RemoveTrayIcon(void)
{
    if (!g_bTrayIconShown) return;
    g_bTrayIconShown = 0;
    const PLAT_TRAY_DATA d = TrayData();
    PlatTrayNotify(PLAT_NIM_DELETE, &d);
    DestroyCustomIcon();
}

void ResetTrayIconState(void)
{
    g_bTrayIconShown = 0;
    g_hTrayCustomIcon = 0;
    g_szTrayTip[0] = 0;
}

int CmdTrayIcon(void)
{
    constexpr int kCmd = CMDID_TRAY_ICON;
    if (FetchCommandArgs(kCmd) != 0) return -1;
    // An icon layer that does not exist makes the whole command do nothing.
    TREE_NODE* pIconNode = nullptr;
    if (HasArg(2)) {
        char szPath[KX_MAX_OBJECT_PATH];
        if (NormalizeObjectPath(szPath, ArgText(2), g_pszLayerPath, 0) < 0) return -1;
        pIconNode = g_pLayerRoot ? FindNodeByPath(g_pLayerRoot, szPath, KX_FIND_ANY) : nullptr;
        if (!pIconNode) return 0;
    }
    if (HasArg(1)) CopyTextBounded(g_szTrayTip, sizeof g_szTrayTip, ArgText(1));
    if (HasArg(0)) {
        if (ArgInt(0) == 1) {
            DestroyCustomIcon();
            if (pIconNode)
                g_hTrayCustomIcon = CreateCursorFromLayer(g_hMainWnd, pIconNode, KX_TRAY_ICON_SIZE, KX_TRAY_ICON_SIZE, 0,
                                                          0, 1);
            const PLAT_TRAY_DATA d = TrayData();
            // The shell keeps a copy of the picture; without one the program's own icon shows.
            if (PlatTrayNotify(g_bTrayIconShown ? PLAT_NIM_MODIFY : PLAT_NIM_ADD, &d) == 0) g_bTrayIconShown = 1;
        } else {
            RemoveTrayIcon();
        }
    }
    if (HasArg(3)) {
        char szPath[KX_MAX_OBJECT_PATH];
        if (NormalizeObjectPath(szPath, ArgText(3), g_pszMenuPath, 0) < 0) return -1;
        if (g_DisplayHooks.pfnSetTrayPopupMenu(szPath) != 0) return -1;
    }
    return 0;
}
