// Message boxes in place of MessageBoxA and modal dialogs with buttons.
#pragma once
#include "platform/plat_window.h"

struct PLAT_MSGBOX_BUTTON {
    int nId;              // the answer when chosen
    const char* pszText;  // cp932; a '&' marks the mnemonic and is not shown
};

// Shows a modal box and returns the chosen button's id. Texts are cp932. The box is drawn by the
// platform in a window of its own, modal on the window thread (a call from another thread is
// handed to it and waits), with the font service's Japanese Gothic family, so it reads the same
// whatever the X server's fonts and the locale are. Without a display (no DISPLAY/WAYLAND_DISPLAY,
// or SDL_VIDEODRIVER dummy/offscreen) it writes the caption and the whole text to stderr in UTF-8
// and answers nDefaultId.
int PlatMessageBox(const char* pszCaption, const char* pszText,
                   const PLAT_MSGBOX_BUTTON* pButtons, int nButtons, int nDefaultId);

// MessageBoxA's button sets, icons and answers.
enum {
    PLAT_MB_OK = 0x0, PLAT_MB_OKCANCEL = 0x1, PLAT_MB_ABORTRETRYIGNORE = 0x2,
    PLAT_MB_YESNOCANCEL = 0x3, PLAT_MB_YESNO = 0x4, PLAT_MB_RETRYCANCEL = 0x5,
    PLAT_MB_TYPEMASK = 0xF,
    PLAT_MB_ICONSTOP = 0x10, PLAT_MB_ICONQUESTION = 0x20, PLAT_MB_ICONEXCLAMATION = 0x30,
    PLAT_MB_ICONINFORMATION = 0x40, PLAT_MB_ICONMASK = 0xF0,
    PLAT_MB_DEFBUTTON2 = 0x100, PLAT_MB_DEFBUTTON3 = 0x200, PLAT_MB_DEFMASK = 0xF00,
    PLAT_MB_SYSTEMMODAL = 0x1000,
};
enum { PLAT_IDOK = 1, PLAT_IDCANCEL = 2, PLAT_IDABORT = 3, PLAT_IDRETRY = 4, PLAT_IDIGNORE = 5,
       PLAT_IDYES = 6, PLAT_IDNO = 7 };
// A NULL caption shows "Error" like the system's default caption. The buttons carry the labels the
// system gives them in the user's language (Japanese when LC_ALL, LC_MESSAGES or LANG names it,
// else English).
int PlatMessageBoxA(const char* pszCaption, const char* pszText, unsigned uType);

// The same boxes with every text in UTF-8 (the caption, the text and the button labels): the
// program's own English words with names as they are on disk, which cp932 may not hold (an accented
// folder name would show as '?'). Shown, written to stderr and recorded like the cp932 ones.
int PlatMessageBoxUtf8(const char* pszCaption, const char* pszText, unsigned uType);
int PlatMessageBoxUtf8Buttons(const char* pszCaption, const char* pszText, const PLAT_MSGBOX_BUTTON* pButtons,
                              int nButtons, int nDefaultId);

// Tests: every box goes to the hook, which answers; texts as passed: cp932, or UTF-8 when bUtf8 is 1
// (the Utf8 entries).
typedef int (*PLAT_MSGBOX_HOOK)(const char* pszCaption, const char* pszText,
                                const PLAT_MSGBOX_BUTTON* pButtons, int nButtons, int nDefaultId,
                                int bUtf8, void* pUser);
void PlatSetMessageBoxHook(PLAT_MSGBOX_HOOK pfnHook, void* pUser);

// 1 when a box is answered by a person or by the test hook, 0 when it only goes to stderr.
int PlatMessageBoxInteractive(void);

// ---- The drawn box ------------------------------------------------------------------------------

// The drawn box's texts are of the "ＭＳ Ｐゴシック" family (its substitute, else the fallback family) at this
// pixel height, grey-levelled by 4 x 4 supersampling.
enum { PLAT_MSGBOX_TEXT_HEIGHT = 16 };

// Shows the drawn box in the running window system, whatever its backend (tests use the Fake one);
// without a window system it starts one for the box, through SDL. nIcon is one of PLAT_MB_ICON*, or
// 0. Keys: Return or Space presses the focused button (at first the default one), Escape and the
// window's close button answer Cancel, else No, where the box has one (a box with a single button
// answers that one), a button's mnemonic letter presses it, Tab and the arrow keys move the focus,
// Up, Down, Page Up, Page Down, Home and End scroll a text taller than the box. A click presses a
// button. The chosen id; -1 when it cannot be shown (no window system can start, no font at all).
int PlatShowDrawnMessageBox(const char* pszCaption, const char* pszText, const PLAT_MSGBOX_BUTTON* pButtons,
                            int nButtons, int nDefaultId, int nIcon);

// Tests: called on the window thread once a drawn box is shown, before it has taken any message.
typedef void (*PLAT_MSGBOX_OPEN_HOOK)(PLAT_HWND hwndBox, void* pUser);
void PlatSetMessageBoxOpenHook(PLAT_MSGBOX_OPEN_HOOK pfnHook, void* pUser);
// The layout of an open drawn box, in client pixels: a button's rectangle (by its place, from the
// left) and the rectangle of the text. 0, or -1 when there is no such box or button.
int PlatMessageBoxButtonRect(PLAT_HWND hwndBox, int nIndex, PLAT_RECT* pRect);
int PlatMessageBoxTextRect(PLAT_HWND hwndBox, PLAT_RECT* pRect);
// The focused button's place, or -1; the first text line shown (scrolling).
int PlatMessageBoxFocus(PLAT_HWND hwndBox);
int PlatMessageBoxTopLine(PLAT_HWND hwndBox);
