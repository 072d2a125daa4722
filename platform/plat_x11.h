// The X11 side of the SDL windows: windows that another program destroys, and a connection to the
// X server that breaks, end the run through the program's own shut-down instead of Xlib's error
// exit. The SDL backend's own header; the engine does not include it.
#pragma once
#include <vector>

struct SDL_Window;
union SDL_Event;
struct _XDisplay;

// The window's X id and connection (*ppDisplay may be NULL); 0 under another video driver.
unsigned long PlatX11WindowOf(SDL_Window* pWin, struct _XDisplay** ppDisplay);
// Sends a 32-bit client message of the named type about window xidAbout to window xidTo: to the
// root with the masks a window manager listens on, to another window directly.
void PlatX11SendClientMessage(struct _XDisplay* pDisplay, unsigned long xidTo, unsigned long xidAbout,
                              const char* pszType, const long (&aData)[5]);

// Starts watching a window's X side (nothing under another video driver); called again whenever SDL
// may have made the X window anew (it does so when its window surface needs another renderer).
// The first window installs
// the error handlers: an error about a watched window marks it lost and is otherwise ignored,
// every other error goes on to the handler that was there before.
void PlatX11Watch(SDL_Window* pWin);
// The window is about to be destroyed by the program itself: late errors about it are ignored.
void PlatX11Forget(SDL_Window* pWin);
// A window-system event (SDL_SYSWMEVENT): the destruction of a watched window marks it lost.
void PlatX11NoteEvent(const SDL_Event& e);
// 1 when the window's X side is gone (destroyed by another client, or the connection broke).
int PlatX11IsLost(SDL_Window* pWin);
// Destroys the SDL window of a window whose X side is gone, without waiting for the window system
// (SDL_DestroyWindow alone may wait for ever for an event about a window the server no longer has).
void PlatX11DestroyLost(SDL_Window* pWin);
// SDL is about to close its connection, after putting back the error handler it found at its
// start: the errors still on their way (about windows another program destroyed) are read first,
// while the handler that drops them is in place.
void PlatX11BeforeQuit(void);
// 1 once the connection to the X server has broken: nothing can be shown any more.
int PlatX11DisplayLost(void);
// Lifts the screen saver's suspension that SDL's connection holds (XScreenSaverSuspend). SDL 2.26
// suspends the saver when it blocks it without a session bus to ask, but allowing it again stops in
// its session-bus path before lifting the suspension, so the saver would stay off for the whole
// run. Nothing when the connection holds none, or under another video driver.
void PlatX11ResumeScreenSaver(void);
// Defines the cursor on the window's X side, so that the X server shows it whenever the pointer is
// over that window: SDL's cursor, or the inherited one (the desktop's arrow) for NULL or SDL's
// default cursor. Nothing under another video driver.
struct SDL_Cursor;
void PlatX11DefineCursor(SDL_Window* pWin, SDL_Cursor* pCursor);
// Sets the window's bounding shape to the rectangles (client coordinates), or takes it off
// (bOn 0). Nothing under another video driver or without the shape extension.
struct PLAT_RECT;
void PlatX11SetShape(SDL_Window* pWin, int bOn, const PLAT_RECT* pRects, int nCount);
// The window's bounding shape as the server reports it: 1 with its rectangles, 0 when the window is
// not shaped, -1 without an X11 window or the shape extension.
int PlatX11GetShape(SDL_Window* pWin, std::vector<PLAT_RECT>* pOut);
// Raises (bTop 1) or lowers the window among the others, through the window manager when there is one.
void PlatX11Restack(SDL_Window* pWin, int bTop);
// Asks the window manager to move the window with the pointer from the screen point x, y while the
// left button is held (_NET_WM_MOVERESIZE). 0, or -1 when no window manager offers it.
int PlatX11BeginMove(SDL_Window* pWin, int x, int y);
// The pointer in screen pixels and whether the left button is held, from the X server. 0, or -1
// without an X11 window.
int PlatX11QueryPointer(SDL_Window* pWin, int* pX, int* pY, int* pbLeftHeld);
// Sets the smallest and largest size of the X window for the window manager (WM_NORMAL_HINTS; a
// largest of 0 is none), keeping the other hints. Unlike SDL's setters it neither moves nor raises
// the window. 0, or -1 when the window is no X11 window.
int PlatX11SetSizeHints(SDL_Window* pWin, int minW, int minH, int maxW, int maxH);
// Tells the window's own input that the left button went up at the screen point x, y (a release
// that a window manager's grab took): the X server delivers it as the window's button release.
void PlatX11SendButtonRelease(SDL_Window* pWin, int x, int y);
// 1 when the window manager lists the atom among what it supports (_NET_SUPPORTED on the root).
int PlatX11WmSupports(struct _XDisplay* pDisplay, unsigned long atom);
// The window's opacity 0..256 (256 opaque) as the hint a compositing manager applies
// (_NET_WM_WINDOW_OPACITY); an opaque window carries no hint.
void PlatX11SetOpacity(SDL_Window* pWin, int nAlpha);
// Adds (bOn 1) or takes away one of the window's _NET_WM_STATE atoms by name: through the window
// manager while the window is mapped, in the property it reads at the next map otherwise.
void PlatX11SetNetWmState(SDL_Window* pWin, const char* pszState, int bOn);
// A dialog: its window type (before it is first shown) and a frame with a title and a close button only.
void PlatX11MarkDialog(SDL_Window* pWin);
// Stacks the window just below pSibling: through the window manager (_NET_RESTACK_WINDOW) when one
// runs and offers it, else among the root's children.
void PlatX11RestackBehind(SDL_Window* pWin, SDL_Window* pSibling);
