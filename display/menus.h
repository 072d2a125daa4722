// Menus: scripts describe them as the menu tree ("M0"), whose nodes carry a MENU_ITEM; the engine
// builds toolkit menus from a subtree on demand, as a window's menu bar, as the script's popup at
// the mouse or as the tray icon's popup. A chosen item's command id comes back to the window
// procedure as WM_COMMAND. In fullscreen the main window's bar is carried by the menu-bar host
// "kxMncl", a strip over the top of the picture that shows while the mouse is near the top edge.
#pragma once
#include <cstdint>

#include "platform/plat_menu.h"
#include "platform/plat_window.h"

struct TREE_NODE;
struct WINDOW_STATE;

// The payload of a menu-tree node.
enum { KX_MENU_CAPTION_SIZE = 261 };
struct MENU_ITEM {
    char* pszCaption;       // KX_MENU_CAPTION_SIZE-byte buffer; empty: a separator
    uint8_t bItemVisible;   // the item is put into built menus
    int16_t nItemEnabled;   // 0: greyed
    uint8_t bItemChecked;   // 1: shown with a check mark
    int64_t llCommandId;    // its low 32 bits are the toolkit's item id and come back as the command
};

// The three menu sets: 0 the menu bar, 1 the script's popup, 2 the tray popup; slot 0 of a set is
// its top menu. At most 127 menus (slots 0..126) are filled in one set.
enum { KX_MENU_SETS = 3, KX_MENU_SET_SLOTS = 128, KX_MENU_SET_LIMIT = 127 };
enum { KX_MENU_SET_BAR = 0, KX_MENU_SET_POPUP = 1, KX_MENU_SET_TRAY = 2 };
extern PLAT_HMENU g_ahMenuSet[KX_MENU_SETS][KX_MENU_SET_SLOTS];
extern int32_t g_nMenuSetNext;

// The menu-bar host (0 before it is made), the bar's height and whether the host is shown.
extern PLAT_HWND g_hMenuHostWnd;
extern int32_t g_nMenuBarHeight;
extern uint8_t g_bMenuHostShown;

// Error ids.
enum {
    KX_ERR_MENU_NEEDS_ORDER = 100240,    // a new item without an order key (command name)
    KX_ERR_MENU_NEEDS_CAPTION = 100260,  // a new item without a caption (command name, path)
    KX_ERR_MENU_BAR_PATH = 101250,       // a menu-bar path that names no node (window command, path)
};

// Makes the node's item: caption cut to 260 bytes at a whole character, visible, enabled. NULL after
// error 100010 (fatal).
MENU_ITEM* AttachMenuItem(TREE_NODE* pNode, const char* pszCaption);
// Frees an item and its caption (the tree's payload release).
void ReleaseMenuItem(MENU_ITEM* pItem);

// Fills the set's next slot with the node's visible children, submenus filled at once. 0, or -1
// when the set's limit is reached.
int BuildMenuFromNode(int nSet, TREE_NODE* pNode);
// Destroys every menu of the set; its slots are cleared.
void DestroyMenuSet(int nSet);
// Shows the menu as the window's bar, or on the menu-bar host while fullscreen (0: no bar).
void AttachMenuBar(PLAT_HWND hwnd, PLAT_HMENU hMenu);
// The window's menu bar built again from the menu path (absolute; empty: the bar is removed). The
// old bar is taken off before its menus are destroyed. 0, or -1 after error 101250 or a build
// beyond the limit (then no bar is shown).
int SetWindowMenuBar(const char* pszMenuPath, PLAT_HWND hwnd);
// Takes the bar off a window or the host.
void DetachMenuBar(PLAT_HWND hwnd);
// The popup of set 1 or 2 built from the node and requested at the cursor for the frame step. 0, or
// -1 when the build stopped at the limit (what was built is shown).
int RequestPopupMenu(int nSet, TREE_NODE* pNode);
// The tray icon's popup: set 2 built from the menu node at the absolute path, opened later by the
// tray icon's right-button release or double click (no node: the icon has no popup). 0, or -1 when
// the build stopped at the limit.
int SetTrayPopupMenu(const char* pszMenuPath);
// The frame step, after presenting: opens the requested popup on the window thread and posts its
// choice (0 for none) to the main window as WM_COMMAND.
void ServePopupMenuRequest(void);

// The menu-bar host, made at start-up after the main window (hidden).
void CreateMenuHostWindow(void);
intptr_t MenuHostWndProc(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam);
// Each frame: the host shows while fullscreen with the mouse within the bar's height of the top.
void UpdateMenuBarAutoShow(void);
// Shut-down: the three sets are destroyed.
void DestroyMenus(void);

// Deleting menu-tree nodes: a subtree (children depth first, then the node), the children only, or
// one node with its item.
void DeleteMenuSubtree(TREE_NODE* pNode);
void FreeMenuChildren(TREE_NODE* pNode);
void FreeMenuNode(TREE_NODE* pNode);

// Script commands.
int CmdMenuItem(void);
int CmdMenuPopup(void);
int CmdMenuDelete(void);
int CmdMenuGet(void);
int CmdArgsOnly66(void);
int CmdArgsOnly67(void);
int CmdArgsOnly68(void);

// Argument ids.
enum { MENU_ITEM_ARG_PATH = 0, MENU_ITEM_ARG_CAPTION = 1, MENU_ITEM_ARG_ORDER = 2, MENU_ITEM_ARG_VISIBLE = 3,
       MENU_ITEM_ARG_ENABLED = 4, MENU_ITEM_ARG_CHECKED = 5, MENU_ITEM_ARG_COMMAND = 6 };
enum { MENU_POPUP_ARG_PATH = 0, MENU_POPUP_ARG_OPEN = 1 };
enum { MENU_DELETE_ARG_PATH = 0 };
enum { MENU_GET_ARG_OUT = 0, MENU_GET_ARG_PATH = 1, MENU_GET_ARG_CAPTION = 2, MENU_GET_ARG_EXISTS = 3,
       MENU_GET_ARG_ORDER = 4, MENU_GET_ARG_VISIBLE = 5, MENU_GET_ARG_ENABLED = 6, MENU_GET_ARG_CHECKED = 7,
       MENU_GET_ARG_COMMAND = 8 };
