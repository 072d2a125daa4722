// Menus in place of the Win32 menu functions: a small toolkit of our own that keeps menus as plain
// records and draws them inside the program's windows with the font service.
//
// A menu is a list of items (a caption, a command id, greyed and checked states, a separator, a
// submenu). A top-level window's menu bar is a strip of PLAT_MENU_BAR_HEIGHT pixels above its
// client area, inside the window (the window grows by the strip; its client keeps its size and its
// outer top-left corner stays). A child window that carries a menu is drawn as a menu bar over its
// parent's picture at its own place: this is how a bar floats over a borderless fullscreen window.
// Popup menus and the bar's drop-down menus are drawn over the owner window's picture while they
// are open (the retained picture itself is never drawn into).
//
// Menus are made, filled and destroyed on any thread. Attaching a bar, drawing and tracking run on
// the window thread (calls from other threads are handed to it and wait).
//
// Mouse: a click on a bar item opens its drop-down menu (an item without one is chosen at once);
// moving over the bar switches between them; moving over an item with a submenu opens it; a
// release over an enabled item chooses it (with PLAT_TPM_RIGHTBUTTON the right button too); a click
// outside every open menu ends the menu without a choice. Keys: Escape closes the innermost menu
// (the last one ends the menu without a choice); Up and Down move through the enabled items, Right
// opens a submenu, Left closes one, Return chooses. Greyed items and separators cannot be chosen.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/plat_window.h"

typedef uint32_t PLAT_HMENU;  // 0 = none; handles are not reused while the process runs

// Item types and states (the Win32 MFT_ / MFS_ values).
enum : uint32_t { PLAT_MFT_STRING = 0x0000, PLAT_MFT_SEPARATOR = 0x0800 };
enum : uint32_t { PLAT_MFS_GRAYED = 0x0003, PLAT_MFS_CHECKED = 0x0008 };
// PlatTrackPopupMenu flags.
enum : uint32_t { PLAT_TPM_RIGHTBUTTON = 0x0002, PLAT_TPM_RETURNCMD = 0x0100 };
// WM_NCLBUTTONDOWN's hit-test value for a menu bar.
enum { PLAT_HTMENU = 5 };

// One item as the model keeps it.
struct PLAT_MENU_ITEM {
    uint32_t nType;          // PLAT_MFT_STRING or PLAT_MFT_SEPARATOR
    uint32_t nState;         // PLAT_MFS_GRAYED and PLAT_MFS_CHECKED bits
    uint32_t nId;            // the command id (WM_COMMAND's wParam)
    PLAT_HMENU hSubMenu;     // 0 when none
    std::string strCaption;  // cp932
};

PLAT_HMENU PlatCreateMenu(void);
// Inserts an item before position nPos (a position past the end appends). 0, or -1 for an unknown
// menu or a submenu that is no menu, the menu itself or one of its ancestors.
int PlatInsertMenuItem(PLAT_HMENU hMenu, int nPos, const PLAT_MENU_ITEM* pItem);
// Destroys the menu and, as Windows does, its submenus. A handle destroyed already (or never made)
// is ignored: -1, nothing else happens. A bar whose menu is destroyed shows an empty strip until
// another menu (or none) is attached.
int PlatDestroyMenu(PLAT_HMENU hMenu);
int PlatIsMenu(PLAT_HMENU hMenu);
// The item count, or -1.
int PlatGetMenuItemCount(PLAT_HMENU hMenu);
// The item at nPos: 0, or -1.
int PlatGetMenuItem(PLAT_HMENU hMenu, int nPos, PLAT_MENU_ITEM* pOut);
// The submenu of the item at nPos, or 0.
PLAT_HMENU PlatGetSubMenu(PLAT_HMENU hMenu, int nPos);

// Attaches the menu as the window's bar (0 takes it off). A top-level window grows or shrinks by
// the strip: its client keeps its size and moves, with WM_WINDOWPOSCHANGED and WM_MOVE. 0, or -1
// for an unknown window or menu.
int PlatSetMenu(PLAT_HWND hwnd, PLAT_HMENU hMenu);
PLAT_HMENU PlatGetMenu(PLAT_HWND hwnd);
// Shows the bar again after its menu changed.
int PlatDrawMenuBar(PLAT_HWND hwnd);
// The bar's height in pixels (GetSystemMetrics(SM_CYMENU)).
int PlatGetMenuBarHeight(void);

// Opens the menu at the screen position x, y over hwndOwner and tracks it until it ends (modal on
// the window thread: the owner's paints and the program's other messages go on; its input goes to
// the menu). With PLAT_TPM_RETURNCMD the chosen id (0: none) is returned; otherwise a choice is
// posted to the owner as WM_COMMAND and 1 is returned (0 without a choice). A WM_QUIT ends the menu
// and is posted again. 0 for an unknown menu or owner.
uint32_t PlatTrackPopupMenu(PLAT_HMENU hMenu, uint32_t nFlags, int x, int y, PLAT_HWND hwndOwner);
// The window's bar is tracked from a click at the screen position x, y (what the default window
// procedure does for WM_NCLBUTTONDOWN with PLAT_HTMENU). The chosen id is posted to the window as
// WM_COMMAND. The chosen id, or 0.
uint32_t PlatTrackMenuBar(PLAT_HWND hwnd, int x, int y);

// ---- Inspection and tests (window thread) --------------------------------------------------------

// Called on the window thread once a menu is open, before it has taken any message, and again after
// each input message it has handled while it stays open.
typedef void (*PLAT_MENU_OPEN_HOOK)(PLAT_HWND hwndOwner, void* pUser);
void PlatSetMenuOpenHook(PLAT_MENU_OPEN_HOOK pfnHook, void* pUser);
// The open menus, outermost first (empty when no menu is tracked), and the window whose client
// coordinates their rectangles are in (the top-level window that shows them).
struct PLAT_MENU_OPEN_LEVEL {
    PLAT_HMENU hMenu;
    PLAT_RECT rc;                      // the menu's box
    std::vector<PLAT_RECT> itemRects;  // one per item
    int nHot;                          // the highlighted item, -1: none
};
int PlatGetOpenMenus(PLAT_HWND* pHwnd, std::vector<PLAT_MENU_OPEN_LEVEL>* pOut);
// A bar item's rectangle in the client coordinates of the top-level window that shows the bar
// (a window's own bar lies above its client, at negative y). 0, or -1.
int PlatGetMenuBarItemRect(PLAT_HWND hwnd, int nItem, PLAT_RECT* pRect);
