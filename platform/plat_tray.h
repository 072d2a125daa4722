// The notification-area (tray) icon, with the shape of the shell's call: it keeps the icon's state
// (shown or not, its picture, its tooltip) and counts the add, modify and delete requests. On an X11
// desktop the icon goes to the panel's tray through the system-tray protocol (XEmbed), where it
// shows its picture and tooltip and its clicks reach the owner window as the callback message; where
// no tray host runs (and under the Fake backend) only the state is kept, and tests deliver clicks.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/plat_window.h"

// What the shell call carries (the fields of NOTIFYICONDATA the engine fills).
struct PLAT_TRAY_DATA {
    PLAT_HWND hwnd;           // owner window: receives the callback message
    uint32_t nId;             // icon id (wParam of the callback)
    uint32_t nCallbackMessage;
    PLAT_CURSOR hIcon;        // 0: the program's own icon
    const char* pszTip;       // cp932, at most 63 bytes are kept
};
// The shell's requests.
enum { PLAT_NIM_ADD = 0, PLAT_NIM_MODIFY = 1, PLAT_NIM_DELETE = 2 };
// Carries out a request: 0, or -1 (adding an icon that is there, changing or deleting one that is
// not). The icon's picture is copied, so the caller may destroy hIcon afterwards.
int PlatTrayNotify(int nMessage, const PLAT_TRAY_DATA* pData);

// The stand-in's state, for tests and diagnostics.
struct PLAT_TRAY_STATE {
    int bShown;
    PLAT_HWND hwnd;
    uint32_t nId, nCallbackMessage;
    std::string strTip;
    int bCustomIcon;                // a picture of the program's; else the program's own icon
    int nIconWidth, nIconHeight;
    std::vector<uint32_t> iconPixels;
    int nAdds, nModifies, nDeletes;
    int bInPanel;                   // a tray host shows the icon (or was asked to embed it)
};
void PlatTrayGetState(PLAT_TRAY_STATE* pOut);
// Forgets the icon and the counts (a new run, or a test).
void PlatTrayReset(void);
// 1 while the icon is shown in a tray host that the player can click, so that a window hidden to
// the tray can be had back; 0 without an icon or without a tray host. Any thread.
int PlatTrayIsInPanel(void);
// Fake backend: whether a tray host is taken to run (tests; 0 at start).
void PlatFakeSetTrayHost(int bPresent);
// The tray host went away while it held the icon: a window hidden to the tray is shown and
// restored, since nothing is left to bring it back. Window thread.
void PlatTrayHostLost(void);
// A mouse action on the icon (PLAT_WM_LBUTTONDOWN, PLAT_WM_LBUTTONDBLCLK, PLAT_WM_RBUTTONUP...):
// the owner window gets its callback message with the icon id and the action, as the shell posts it.
// 0, or -1 while no icon is shown.
int PlatTrayInjectClick(uint32_t nMouseMessage);
