// Menus are not built yet. Until
// they are, these stand-ins with their final names keep their places in the hook tables and the
// command table: the steps do nothing (as when no menu or GPU exists) and the commands report that
// they are not part of this build.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/plat_window.h"

struct TREE_NODE;
struct LAYER;
struct MENU_ITEM;
struct WINDOW_STATE;

// Menus: the menu tree keeps no payload; no menu bar, popup or menu host window exists.
MENU_ITEM* AttachMenuItem(TREE_NODE* pNode, const char* pszCaption);
void ReleaseMenuItem(MENU_ITEM* pItem);
void CreateMenuHostWindow(void);
void UpdateMenuBarAutoShow(void);
// The menu-bar host that carries the main window's bar in fullscreen (0: none yet).
extern PLAT_HWND g_hMenuHostWnd;
// The window's menu bar built again from a menu path (the main window's goes to the menu-bar host in
// fullscreen): no menu exists, so no bar is attached. 0.
int SetWindowMenuBar(const char* pszMenuPath, PLAT_HWND hwnd);
// Takes the menu bar off a window: there is none.
void DetachMenuBar(PLAT_HWND hwnd);
void ServePopupMenuRequest(void);
void DestroyMenus(void);
int CmdMenuItem(void);
int CmdMenuPopup(void);
int CmdMenuDelete(void);
int CmdMenuGet(void);
int CmdArgsOnly66(void);
int CmdArgsOnly67(void);
int CmdArgsOnly68(void);
// The tray icon's popup menu (menu set 2) built from the menu node at the absolute path: no menu
// exists, so nothing is built. 0.
int SetTrayPopupMenu(const char* pszMenuPath);
