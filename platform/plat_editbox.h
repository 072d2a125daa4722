// The script's edit box in place of an EDIT child window: a one-line text field drawn over its
// window's picture with the font service, typed into by the person at the keyboard.
//
// One box at a time; creating a new one replaces the old one. It lies at a place of its window's
// picture, draws a white field with a thin frame and its text (14 pixels high), and shows a
// caret while it has the focus. With the focus it takes the keyboard: the text input of the window
// system (an input method's composition is shown underlined at the caret until it is committed;
// UTF-8 becomes cp932, and a character cp932 cannot hold is refused), Backspace, Delete, the arrows,
// Home and End, Shift with them to select, Ctrl+A, and the clipboard with Ctrl+C, Ctrl+X and Ctrl+V
// (Ctrl+Insert, Shift+Delete and Shift+Insert too). Return, Escape, Tab, the function keys and
// everything pressed with Alt go on to the window as before; the key states that the program polls
// see every key. A click in the box gives it the focus and places the caret (a drag selects); a
// click elsewhere in the window takes the focus away. A longer text scrolls sideways to keep the
// caret in view.
//
// Every function may be called from any thread; the box is drawn and fed on the window thread.
#pragma once
#include <cstddef>
#include <string>

#include "platform/plat_edit_text.h"
#include "platform/plat_window.h"

// The box over hwndParent's picture at x, y (w x h pixels) with its text; typing fills at most
// nLimit bytes (0: no limit). It starts without the focus.
int PlatEditBoxCreate(PLAT_HWND hwndParent, const char* pszText, int x, int y, int w, int h, int nLimit);
int PlatEditBoxClose(void);
// The program's own text (the limit does not bind it); -1 without a box.
int PlatEditBoxSetText(const char* pszText);
// The text cut to cap - 1 bytes at a whole character; "" without a box. Returns its length.
int PlatEditBoxGetText(char* pszOut, size_t cap);
// Gives the box the keyboard (1) or takes it away (0); -1 without a box.
int PlatEditBoxSetFocus(int bFocus);
// 1 while a box exists, with its place and focus; 0 without one.
int PlatEditBoxState(int* pX, int* pY, int* pW, int* pH, int* pbFocus);
// Where the program's picture lies in the window's client area: its game screen of sw x sh pixels
// shown at ox, oy in ow x oh pixels (scaled, letterboxed). The box's place and size are in the game
// screen's pixels and its text scales with them, so it stays on the picture as it would where the
// screen mode matches the game. Until this is told, the client area is the game screen.
int PlatEditBoxSetPicturePlace(PLAT_HWND hwnd, int ox, int oy, int ow, int oh, int sw, int sh);
// Tests: the box's text, caret, selection and composition. 1 while a box exists, else 0.
int PlatEditBoxGetEdit(PLAT_EDIT_TEXT* pOut);

// Text from the window system for a window (window thread; the backends call these, tests may too):
// committed text (UTF-8) and an input method's composition (UTF-8, its caret in characters; an
// empty text ends it). 1 when the box of that window has the focus and took it, else 0.
int PlatEditBoxTakeText(PLAT_HWND hwnd, const char* pszUtf8);
int PlatEditBoxTakeComposition(PLAT_HWND hwnd, const char* pszUtf8, int nCursor);
