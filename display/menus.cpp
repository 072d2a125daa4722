// The menu tree's items, the three menu sets built from it, the menu bar and its fullscreen host,
// popups, and the menu commands.
#include "display/menus.h"

#include <cstdlib>
#include <cstring>

#include "core/cp932.h"
#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/object_tree.h"
#include "core/sysfacts.h"
#include "core/window_record.h"
#include "display/display_hooks.h"
#include "display/window_proc.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/dispatch.h"
#include "script/script_tables.h"
#include "script/variables.h"

PLAT_HMENU g_ahMenuSet[KX_MENU_SETS][KX_MENU_SET_SLOTS];
int32_t g_nMenuSetNext = 0;
PLAT_HWND g_hMenuHostWnd = 0;
int32_t g_nMenuBarHeight = PLAT_MENU_BAR_HEIGHT;
uint8_t g_bMenuHostShown = 1;

namespace {

const char kHostClass[] = "kxMncl";
const char kPopupWrapper[] = "MENUSET";

const char* CmdName(int nCmd) { return GetScriptCommandName(nCmd); }

MENU_ITEM* ItemOf(const TREE_NODE* pNode)
{
    return pNode ? static_cast<MENU_ITEM*>(pNode->pPayload) : nullptr;
}

void SetCaption(MENU_ITEM* pItem, const char* pszCaption)
{
    CopyTextBounded(pItem->pszCaption, KX_MENU_CAPTION_SIZE, pszCaption ? pszCaption : "");
}

// The host spans the main window's width (the fullscreen window's, which the window system may
// give it only after the change was asked for).
void FitMenuHost(void)
{
    PLAT_RECT rc{};
    if (g_hMenuHostWnd && g_hMainWnd && PlatGetClientRect(g_hMainWnd, &rc) == 0 && rc.right > 0)
        PlatSetWindowPos(g_hMenuHostWnd, 0, 0, rc.right, g_nMenuBarHeight, PLAT_SWP_NOZORDER | PLAT_SWP_NOACTIVATE);
}

// The popup opens at the cursor, in screen coordinates, whatever the picture's place in the client
// (the letterbox offsets of fullscreen and maximised windows are the client's, not the screen's).
void PopupPosition(int32_t* pX, int32_t* pY)
{
    int32_t x = 0, y = 0;
    PlatGetCursorPos(&x, &y);
    *pX = x;
    *pY = y;
}

}  // namespace

// ---- Items ------------------------------------------------------------------------------------------

MENU_ITEM* AttachMenuItem(TREE_NODE* pNode, const char* pszCaption)
{
    MENU_ITEM* pItem = static_cast<MENU_ITEM*>(AllocZeroed(sizeof(MENU_ITEM)));
    char* pszBuffer = pItem ? static_cast<char*>(AllocZeroed(KX_MENU_CAPTION_SIZE)) : nullptr;
    if (!pItem || !pszBuffer) {
        std::free(pItem);
        ReportError(KX_ERR_NO_MEMORY, 1);
        return nullptr;
    }
    pItem->pszCaption = pszBuffer;
    // A caption of up to 4095 bytes would not fit: it is cut at a whole character.
    SetCaption(pItem, pszCaption);
    pItem->bItemVisible = 1;
    pItem->nItemEnabled = 256;
    if (pNode) pNode->pPayload = pItem;
    return pItem;
}

void ReleaseMenuItem(MENU_ITEM* pItem)
{
    if (!pItem) return;
    std::free(pItem->pszCaption);
    std::free(pItem);
}

// ---- Menu sets --------------------------------------------------------------------------------------

int BuildMenuFromNode(int nSet, TREE_NODE* pNode)
{
    if (nSet < 0 || nSet >= KX_MENU_SETS || !pNode) return -1;
    const int b = g_nMenuSetNext;
    g_nMenuSetNext = b + 1;
    if (b >= KX_MENU_SET_LIMIT) return -1;
    const PLAT_HMENU hMenu = g_ahMenuSet[nSet][b];
    int nInserted = 0;
    for (int64_t i = 1; i <= pNode->nChildCount; ++i) {
        TREE_NODE* pChild = GetNthChild(pNode, i);
        if (!pChild) break;
        const MENU_ITEM* pItem = ItemOf(pChild);
        if (!pItem || !pItem->bItemVisible) continue;
        PLAT_MENU_ITEM mi{};
        mi.nId = static_cast<uint32_t>(static_cast<uint64_t>(pItem->llCommandId));
        mi.nState = pItem->nItemEnabled == 0 ? static_cast<uint32_t>(PLAT_MFS_GRAYED) : 0u;
        if (pItem->bItemChecked == 1) mi.nState |= PLAT_MFS_CHECKED;
        const bool bSub = pItem->pszCaption[0] != 0 && pChild->bGroup && pChild->nChildCount > 0;
        if (pItem->pszCaption[0] == 0) {
            mi.nType = PLAT_MFT_SEPARATOR;
            mi.nState |= PLAT_MFS_GRAYED;
        } else {
            mi.nType = PLAT_MFT_STRING;
            mi.strCaption = pItem->pszCaption;
            if (bSub) {
                mi.hSubMenu = PlatCreateMenu();
                g_ahMenuSet[nSet][g_nMenuSetNext] = mi.hSubMenu;
            }
        }
        PlatInsertMenuItem(hMenu, nInserted++, &mi);
        if (bSub && BuildMenuFromNode(nSet, pChild) != 0) return -1;
    }
    return 0;
}

void DestroyMenuSet(int nSet)
{
    if (nSet < 0 || nSet >= KX_MENU_SETS) return;
    for (PLAT_HMENU& h : g_ahMenuSet[nSet]) {
        // A submenu went with its parent already: the toolkit ignores it.
        if (h) PlatDestroyMenu(h);
        h = 0;
    }
}

void AttachMenuBar(PLAT_HWND hwnd, PLAT_HMENU hMenu)
{
    if (!g_bFullscreen) {
        PlatSetMenu(hwnd, hMenu);
        PlatDrawMenuBar(hwnd);
        return;
    }
    if (!g_hMenuHostWnd || !PlatIsWindow(g_hMenuHostWnd)) return;
    FitMenuHost();
    PlatSetMenu(g_hMenuHostWnd, hMenu);
    PlatDrawMenuBar(g_hMenuHostWnd);
}

void DetachMenuBar(PLAT_HWND hwnd)
{
    if (hwnd) PlatSetMenu(hwnd, 0);
}

int SetWindowMenuBar(const char* pszMenuPath, PLAT_HWND hwnd)
{
    if (!pszMenuPath || !pszMenuPath[0]) {
        AttachMenuBar(hwnd, 0);
        DestroyMenuSet(KX_MENU_SET_BAR);
        g_nMenuSetNext = 0;
        return 0;
    }
    TREE_NODE* pNode = g_pMenuRoot ? FindNodeByPath(g_pMenuRoot, pszMenuPath, KX_FIND_ANY) : nullptr;
    if (!pNode) {
        ReportScriptErrorF(KX_ERR_MENU_BAR_PATH, 1, CmdName(CMDID_WINDOW), pszMenuPath);
        return -1;
    }
    // The bar is taken off before its menus go, so no window ever shows a destroyed menu.
    AttachMenuBar(hwnd, 0);
    DestroyMenuSet(KX_MENU_SET_BAR);
    g_ahMenuSet[KX_MENU_SET_BAR][0] = PlatCreateMenu();
    g_nMenuSetNext = 0;
    if (BuildMenuFromNode(KX_MENU_SET_BAR, pNode) == 0) AttachMenuBar(hwnd, g_ahMenuSet[KX_MENU_SET_BAR][0]);
    return 0;
}

namespace {

// Set n (1 or 2) built as one "MENUSET" item whose submenu holds the node's children. 0, or -1 when
// the build stopped at the limit.
int BuildPopupMenuSet(int nSet, TREE_NODE* pNode)
{
    DestroyMenuSet(nSet);
    g_ahMenuSet[nSet][0] = PlatCreateMenu();
    g_nMenuSetNext = 1;
    g_ahMenuSet[nSet][1] = PlatCreateMenu();
    PLAT_MENU_ITEM wrapper{};
    wrapper.nType = PLAT_MFT_STRING;
    wrapper.nId = 1;
    wrapper.hSubMenu = g_ahMenuSet[nSet][1];
    wrapper.strCaption = kPopupWrapper;
    PlatInsertMenuItem(g_ahMenuSet[nSet][0], 0, &wrapper);
    return BuildMenuFromNode(nSet, pNode);
}

}  // namespace

int RequestPopupMenu(int nSet, TREE_NODE* pNode)
{
    if (nSet != KX_MENU_SET_POPUP && nSet != KX_MENU_SET_TRAY) return -1;
    const int r = BuildPopupMenuSet(nSet, pNode);
    PopupPosition(&g_nPopupMenuX, &g_nPopupMenuY);
    g_nPopupMenuRequest = static_cast<uint8_t>(nSet);
    return r;
}

int SetTrayPopupMenu(const char* pszMenuPath)
{
    TREE_NODE* pNode = g_pMenuRoot && pszMenuPath ? FindNodeByPath(g_pMenuRoot, pszMenuPath, KX_FIND_ANY) : nullptr;
    if (!pNode) {
        // No such menu: the tray icon has no popup until one is given.
        DestroyMenuSet(KX_MENU_SET_TRAY);
        return 0;
    }
    return BuildPopupMenuSet(KX_MENU_SET_TRAY, pNode) == 0 ? 0 : -1;
}

void ServePopupMenuRequest(void)
{
    const int nSet = g_nPopupMenuRequest;
    if (nSet != KX_MENU_SET_POPUP && nSet != KX_MENU_SET_TRAY) {
        g_nPopupMenuRequest = 0;
        return;
    }
    g_nPopupMenuRequest = 0;
    const PLAT_HWND hwnd = g_hMainWnd;
    // The toolkit opens it on the window thread; a frame thread waits here for the choice.
    const uint32_t nChosen = PlatTrackPopupMenu(PlatGetSubMenu(g_ahMenuSet[nSet][0], 0),
                                                PLAT_TPM_RETURNCMD | PLAT_TPM_RIGHTBUTTON, g_nPopupMenuX,
                                                g_nPopupMenuY, hwnd);
    if (hwnd) PlatPostMessage(hwnd, PLAT_WM_COMMAND, nChosen, 0);
}

void DestroyMenus(void)
{
    for (int n = 0; n < KX_MENU_SETS; ++n) DestroyMenuSet(n);
    g_nMenuSetNext = 0;
}

// ---- The menu-bar host ------------------------------------------------------------------------------

intptr_t MenuHostWndProc(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    if (msg == PLAT_WM_COMMAND) g_llMenuCommand = static_cast<int64_t>(wParam & 0xFFFFu);
    if (msg == PLAT_WM_SYSCOMMAND && (wParam & 0xFFF0u) == PLAT_SC_CLOSE) return 0;
    return PlatDefWindowProc(hwnd, msg, wParam, lParam);
}

void CreateMenuHostWindow(void)
{
    g_nMenuBarHeight = PlatGetMenuBarHeight();
    const WINDOW_STATE* pMain = g_apWindowState[0];
    const int32_t w = pMain && pMain->nWidth > 0 ? pMain->nWidth : 1;
    // A strip of the main window drawn over its picture: the window system offers no reliable
    // window over a fullscreen one, so the host is the main window's child.
    g_hMenuHostWnd = PlatCreateWindow(kHostClass, kHostClass, PLAT_WS_CHILD, 0, 0, w, g_nMenuBarHeight, g_hMainWnd,
                                      MenuHostWndProc, nullptr);
    g_bMenuHostShown = 1;
}

void UpdateMenuBarAutoShow(void)
{
    if (!g_bFullscreen) {
        if (g_bMenuHostShown == 1) {
            if (g_hMenuHostWnd) PlatShowWindow(g_hMenuHostWnd, PLAT_SW_HIDE);
            g_bMenuHostShown = 0;
        }
        return;
    }
    WINDOW_STATE* pMain = g_apWindowState[0];
    int32_t y = pMain ? pMain->nMouseY : 0;
    if (y < g_nMenuBarHeight) {
        if (!g_bMenuHostShown && g_ahMenuSet[KX_MENU_SET_BAR][0]) {
            FitMenuHost();
            if (g_hMenuHostWnd) PlatShowWindow(g_hMenuHostWnd, PLAT_SW_SHOW);
            g_bMenuHostShown = 1;
        }
        int32_t cx = 0, cy = 0, ox = 0, oy = 0;
        if (PlatGetCursorPos(&cx, &cy) == 0 && g_hMainWnd && PlatClientToScreen(g_hMainWnd, &ox, &oy) == 0) y = cy - oy;
    }
    if (y >= g_nMenuBarHeight && g_bMenuHostShown) {
        if (g_hMenuHostWnd) PlatShowWindow(g_hMenuHostWnd, PLAT_SW_HIDE);
        g_bMenuHostShown = 0;
        // The picture under the bar is presented again.
        if (pMain) g_DisplayHooks.pfnMarkLayerSetDirty(pMain);
    }
}

// ---- Deleting nodes ---------------------------------------------------------------------------------

void FreeMenuNode(TREE_NODE* pNode)
{
    if (!pNode) return;
    // A node with children takes them along, so none is left without its parent.
    if (pNode->pFirstChild) FreeMenuChildren(pNode);
    RemoveNode(pNode);
    ReleaseMenuItem(ItemOf(pNode));
    pNode->pPayload = nullptr;
    FreeTreeNode(pNode);
}

void FreeMenuChildren(TREE_NODE* pNode)
{
    if (!pNode) return;
    while (TREE_NODE* pChild = pNode->pFirstChild) {
        FreeMenuChildren(pChild);
        FreeMenuNode(pChild);
    }
}

void DeleteMenuSubtree(TREE_NODE* pNode)
{
    FreeMenuChildren(pNode);
    FreeMenuNode(pNode);
}

// ---- Commands ---------------------------------------------------------------------------------------

namespace {

// The node at the path argument: *pbGroup 1 for a folder path. -1 after a reported path error.
int FindMenuArgNode(int nArgId, char* pszPath, int* pbGroup, TREE_NODE** ppNode, int nMode)
{
    *ppNode = nullptr;
    const int r = NormalizeObjectPath(pszPath, ArgText(nArgId), g_pszMenuPath ? g_pszMenuPath : "", 0);
    if (r < 0) return -1;
    *pbGroup = r;
    if (g_pMenuRoot) *ppNode = FindNodeByPath(g_pMenuRoot, pszPath, nMode >= 0 ? nMode : (r ? KX_FIND_GROUP : KX_FIND_LEAF));
    return 0;
}

// The order key's operators: the start value v (the node's key as a signed 32-bit value, 1 for a
// new node) with the argument e.
int32_t ApplyMenuOrder(int nOp, int32_t v, int64_t e)
{
    int64_t r;
    switch (nOp) {
    case KX_ARGOP_SET: return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(e)));
    case KX_ARGOP_ADD:
        return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v) + static_cast<uint64_t>(e)));
    case KX_ARGOP_SUB: r = ApplyArgOp(KX_ARGOP_SUB, v, e); break;
    case KX_ARGOP_MUL: r = ApplyArgOp(KX_ARGOP_MUL, v, e); break;
    case KX_ARGOP_DIV: r = e == 0 ? v : ApplyArgOp(KX_ARGOP_DIV, v, e); break;
    default: return v;
    }
    if (r < 1) r = 1;
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(r)));
}

}  // namespace

int CmdMenuItem(void)
{
    if (FetchCommandArgs(CMDID_MENU_ITEM) != 0) return -1;
    char szPath[KX_MAX_OBJECT_PATH];
    int bGroup = 0;
    TREE_NODE* pNode = nullptr;
    if (FindMenuArgNode(MENU_ITEM_ARG_PATH, szPath, &bGroup, &pNode, -1) < 0) return -1;

    int64_t v = -1;
    if (HasArg(MENU_ITEM_ARG_ORDER)) {
        const int32_t nStart = pNode ? static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(pNode->llOrder))) : 1;
        v = ApplyMenuOrder(ArgOp(MENU_ITEM_ARG_ORDER), nStart, ArgInt(MENU_ITEM_ARG_ORDER));
        if (pNode) SetNodeOrder(pNode, v);
    }
    MENU_ITEM* pItem = ItemOf(pNode);
    if (!pNode) {
        if (!HasArg(MENU_ITEM_ARG_CAPTION)) {
            ReportScriptErrorF(KX_ERR_MENU_NEEDS_CAPTION, 1, CmdName(CMDID_MENU_ITEM), szPath);
            return -1;
        }
        if (v == -1) {
            ReportScriptErrorF(KX_ERR_MENU_NEEDS_ORDER, 1, CmdName(CMDID_MENU_ITEM));
            return -1;
        }
        pNode = CreateNode(g_pMenuRoot, szPath, static_cast<uint8_t>(bGroup), v);
        if (!pNode) return -1;
        pItem = AttachMenuItem(pNode, ArgText(MENU_ITEM_ARG_CAPTION));
        if (!pItem) return -1;
    } else if (HasArg(MENU_ITEM_ARG_CAPTION)) {
        if (!pItem) {
            pItem = AttachMenuItem(pNode, ArgText(MENU_ITEM_ARG_CAPTION));
            if (!pItem) return -1;
        } else {
            SetCaption(pItem, ArgText(MENU_ITEM_ARG_CAPTION));
        }
    }
    if (!pItem) return 0;
    if (HasArg(MENU_ITEM_ARG_VISIBLE)) pItem->bItemVisible = ArgLowByte(MENU_ITEM_ARG_VISIBLE);
    if (HasArg(MENU_ITEM_ARG_ENABLED))
        pItem->nItemEnabled = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(ArgInt(MENU_ITEM_ARG_ENABLED))));
    if (HasArg(MENU_ITEM_ARG_CHECKED)) pItem->bItemChecked = ArgLowByte(MENU_ITEM_ARG_CHECKED);
    if (HasArg(MENU_ITEM_ARG_COMMAND)) pItem->llCommandId = ArgInt(MENU_ITEM_ARG_COMMAND);
    return 0;
}

int CmdMenuPopup(void)
{
    if (FetchCommandArgs(CMDID_MENU_POPUP) != 0) return -1;
    char szPath[KX_MAX_OBJECT_PATH];
    int bGroup = 0;
    TREE_NODE* pNode = nullptr;
    if (FindMenuArgNode(MENU_POPUP_ARG_PATH, szPath, &bGroup, &pNode, KX_FIND_ANY) < 0) return -1;
    if (pNode && HasArg(MENU_POPUP_ARG_OPEN) && ArgInt(MENU_POPUP_ARG_OPEN) == 1) RequestPopupMenu(KX_MENU_SET_POPUP, pNode);
    return 0;
}

int CmdMenuDelete(void)
{
    if (FetchCommandArgs(CMDID_MENU_DELETE) != 0) return -1;
    char szPath[KX_MAX_OBJECT_PATH];
    int bGroup = 0;
    TREE_NODE* pNode = nullptr;
    if (FindMenuArgNode(MENU_DELETE_ARG_PATH, szPath, &bGroup, &pNode, -1) < 0) return -1;
    if (!pNode || !pNode->pParent) return 0;
    if (bGroup) DeleteMenuSubtree(pNode);
    else FreeMenuNode(pNode);
    return 0;
}

int CmdMenuGet(void)
{
    if (FetchCommandArgs(CMDID_MENU_GET) != 0) return -1;
    const auto [nVar, llElem, pVar] = GetArgOut(MENU_GET_ARG_OUT);
    char szPath[KX_MAX_OBJECT_PATH];
    int bGroup = 0;
    TREE_NODE* pNode = nullptr;
    if (FindMenuArgNode(MENU_GET_ARG_PATH, szPath, &bGroup, &pNode, -1) < 0) return -1;
    if (!pVar) return 0;
    const MENU_ITEM* pItem = ItemOf(pNode);
    if (!pNode || !pItem) {
        if (pVar->bType == KX_VAR_TYPE_STRING) return SetVarString(nVar, llElem, "") == 0 ? 0 : -1;
        return SetVarInt(nVar, llElem, 0) == 0 ? 0 : -1;
    }
    if (HasArg(MENU_GET_ARG_EXISTS)) {
        if (pVar->bType == KX_VAR_TYPE_STRING) {
            ReportScriptError(KX_ERR_VAR_WRONG_TYPE, 1);
            return -1;
        }
        return SetVarInt(nVar, llElem, 1) == 0 ? 0 : -1;
    }
    const struct {
        int nArg;
        int64_t llValue;
    } facts[] = {
        {MENU_GET_ARG_VISIBLE, pItem->bItemVisible}, {MENU_GET_ARG_ENABLED, pItem->nItemEnabled},
        {MENU_GET_ARG_ORDER, pNode->llOrder},        {MENU_GET_ARG_CHECKED, pItem->bItemChecked},
        {MENU_GET_ARG_COMMAND, pItem->llCommandId},
    };
    for (const auto& f : facts)
        if (HasArg(f.nArg)) return SetVarInt(nVar, llElem, f.llValue) == 0 ? 0 : -1;
    if (HasArg(MENU_GET_ARG_CAPTION)) return SetVarString(nVar, llElem, pItem->pszCaption) == 0 ? 0 : -1;
    return 0;
}

int CmdArgsOnly66(void) { return FetchCommandArgs(CMDID_ARGS_ONLY66) != 0 ? -1 : 0; }
int CmdArgsOnly67(void) { return FetchCommandArgs(CMDID_ARGS_ONLY67) != 0 ? -1 : 0; }
int CmdArgsOnly68(void) { return FetchCommandArgs(CMDID_ARGS_ONLY68) != 0 ? -1 : 0; }
