// The tray icon on an X11 desktop (the freedesktop system-tray protocol with XEmbed), for the tray
// stand-in of platform/plat_tray.cpp. Window thread only; the SDL backend's own header.
#pragma once
#include <cstdint>

struct SDL_Window;
union SDL_Event;

// Shows the icon (w x h B,G,R,A pixels, the tooltip in cp932) through the connection of the owner's
// window, or changes the one shown: 1 when a tray host was asked to embed it (or has embedded it),
// 0 when there is no tray host, -1 without an X11 window.
int PlatX11TrayShow(SDL_Window* pOwner, const uint32_t* pBgra, int w, int h, const char* pszTipCp932);
// Takes the icon away.
void PlatX11TrayRemove(void);
// Takes the icon away and forgets the connection (the window system ends).
void PlatX11TrayShutdown(void);
// 1 while a tray host holds the icon (it embedded it).
int PlatX11TrayIsEmbedded(void);
// 1 while the icon exists and a tray host runs on its screen.
int PlatX11TrayHostPresent(void);
// A window-system event: 1 when it was the icon's; then *pnMouseMessage is the mouse message of a
// press or release on it (PLAT_WM_LBUTTONDOWN, PLAT_WM_LBUTTONDBLCLK, PLAT_WM_RBUTTONUP...; 0 for
// anything else) at the screen point *pX, *pY. 2 when the tray host gave the icon back (it ended).
int PlatX11TrayHandleEvent(const SDL_Event& e, uint32_t* pnMouseMessage, int* pX, int* pY);
