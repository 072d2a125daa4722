// What the window core shares with its backends (Fake and SDL); the engine does not include this.
#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/plat_window.h"

// A window as the core keeps it. The client rectangle is stored; the outer one follows from the
// style's insets.
struct PLAT_WINDOW_REC {
    PLAT_HWND hwnd;
    PLAT_HWND hwndParent;
    PLAT_WNDPROC pfnProc;
    void* pUser;
    uint32_t nStyle;
    uint32_t nExStyle;           // PLAT_WS_EX_*
    int nOpacity;                // 0..256, 256 opaque
    int bBelow;                  // kept below the other windows (sent to the bottom)
    std::string strClass;
    std::string strTitle;        // cp932
    int32_t nClientX, nClientY;  // client origin (screen, or the parent's client for WS_CHILD)
    int32_t nClientW, nClientH;
    int bVisible;
    int bHiddenBySystem;         // visible for the program, but the window system keeps it unmapped
    int nShowState;              // PLAT_SIZE_RESTORED / MINIMIZED / MAXIMIZED
    PLAT_RECT rcRestore;         // client rectangle (screen) to return to from maximised
    int bInvalid, bErase;
    int bInvalidPart;            // the paint due is for a part the program changed (PlatInvalidateWindowPart)
    int bDestroying;
    uint32_t* pPixels;           // the retained client picture, 64-byte aligned
    int nFbW, nFbH;
    int nPresentCount;
    int bTopmost;                // kept in front of the other windows
    PLAT_CURSOR hCursor;         // the window's cursor (0: the arrow)
    int nFlashes, nLastFlashCount;
    int bHasRegion;              // the window has a visible region (vRegion, client coordinates)
    std::vector<PLAT_RECT> vRegion;
    void* pNative;               // the backend's own data
    uint32_t hMenuBar;           // the menu shown as the window's bar (PLAT_HMENU), 0: none
    // The client sizes the user may give the window by its frame, as the procedure last answered
    // WM_GETMINMAXINFO (0: no limit).
    int32_t nMinTrackW, nMinTrackH, nMaxTrackW, nMaxTrackH;
    int bModalBox;               // a box that keeps the keyboard until it is answered (PlatMarkModalBox)
};

// A cursor or icon as the core keeps it.
struct PLAT_CURSOR_REC {
    PLAT_CURSOR hCursor;
    int nIdc;                        // standard cursor id, 0 for a made one
    int nWidth, nHeight, nHotX, nHotY;
    int bIcon;
    std::vector<uint32_t> pixels;    // B,G,R,A, rows top-down
    void* pNative;                   // the backend's cursor, or NULL
};

struct PLAT_WINDOW_BACKEND {
    int (*pfnStart)(void);
    void (*pfnStop)(void);
    int (*pfnCreate)(PLAT_WINDOW_REC* pRec);
    void (*pfnDestroy)(PLAT_WINDOW_REC* pRec);
    void (*pfnApplyGeometry)(PLAT_WINDOW_REC* pRec);
    void (*pfnApplyShow)(PLAT_WINDOW_REC* pRec);  // visibility and show state
    void (*pfnApplyStyle)(PLAT_WINDOW_REC* pRec);   // style, extended style and opacity
    void (*pfnApplyTitle)(PLAT_WINDOW_REC* pRec);
    // Shows the retained picture: the whole client (pRect NULL), or only that rectangle of the
    // client, which the window showed as the retained picture has it everywhere else.
    int (*pfnPresent)(PLAT_WINDOW_REC* pRec, const PLAT_RECT* pRect);
    void (*pfnPump)(void);             // turns pending native events into messages
    void (*pfnWait)(uint32_t nMs);     // sleeps until a native event, a wake or nMs pass
    void (*pfnWake)(void);             // any thread
    // What the window shows now, as B,G,R,A rows of the client size (the fake: its framebuffer as
    // last presented). 0 or -1.
    int (*pfnReadShown)(PLAT_WINDOW_REC* pRec, std::vector<uint32_t>* pOut, int* pW, int* pH);
    // Brings the window to the front with the keyboard focus (the focus messages follow from the
    // window system, or at once in the fake).
    void (*pfnRaise)(PLAT_WINDOW_REC* pRec);
    // Shows or hides the mouse cursor over the program's windows (window thread).
    void (*pfnShowCursor)(int bShow);
    // Stacking (PLAT_Z_*; pAfter for PLAT_Z_BEHIND), flashing and the visible region.
    void (*pfnApplyZOrder)(PLAT_WINDOW_REC* pRec, int nWhere, PLAT_WINDOW_REC* pAfter);
    int (*pfnFlash)(PLAT_WINDOW_REC* pRec, int nCount, int nIntervalMs);
    void (*pfnApplyRegion)(PLAT_WINDOW_REC* pRec);
    // The region as the window system holds it: 1 with the rectangles, 0 none, -1 unknown.
    int (*pfnReadRegion)(PLAT_WINDOW_REC* pRec, std::vector<PLAT_RECT>* pOut);
    // Cursors: make the native cursor of a record (pNative may stay NULL), free it, and show it
    // (NULL: the arrow).
    void (*pfnMakeCursor)(PLAT_CURSOR_REC* pCursor);
    void (*pfnFreeCursor)(PLAT_CURSOR_REC* pCursor);
    void (*pfnUseCursor)(PLAT_CURSOR_REC* pCursor);
};

extern const PLAT_WINDOW_BACKEND g_FakeWindowBackend;
extern const PLAT_WINDOW_BACKEND g_SdlWindowBackend;

// Window thread only; the record stays valid until a window procedure runs.
PLAT_WINDOW_REC* PlatLookupWindow(PLAT_HWND hwnd);
// A cursor's record (NULL for 0 or an unknown handle); the window table's lock keeps it alive.
PLAT_CURSOR_REC* PlatLookupCursor(PLAT_CURSOR hCursor);
// The lock of the window table and records, for readers on other threads.
std::recursive_mutex& PlatWindowTableLock(void);
// The window system's backend in use (NULL before PlatInitWindowSystem and after its end).
const PLAT_WINDOW_BACKEND* PlatWindowBackendInUse(void);
// Wakes the window thread for a paint that became due.
void PlatWakeForPaint(void);
// The whole client needs a paint (bErase: with WM_ERASEBKGND first); a paint due for a part only
// becomes one of the whole client.
inline void PlatMarkWindowInvalid(PLAT_WINDOW_REC* pRec, int bErase)
{
    pRec->bInvalid = 1;
    pRec->bInvalidPart = 0;
    if (bErase) pRec->bErase = 1;
}

// Runs fn on the window thread and waits; used by the window functions called from other threads.
template <class FN>
void PlatOnWindowThreadDo(FN&& fn)
{
    if (PlatIsWindowThread()) {
        fn();
        return;
    }
    PlatRunOnWindowThread([](void* p) { (*static_cast<FN*>(p))(); }, &fn, 1);
}
// Input in the Win32 form, shared by both backends. They keep the key-state table current.
void PlatQueueKey(PLAT_HWND hwnd, int nVk, int bDown, int bRepeat, int bExtended);
void PlatQueueChar(PLAT_HWND hwnd, uint32_t nChar);
void PlatQueueMouseMove(PLAT_HWND hwnd, int x, int y);
// The cursor left the windows: its screen position as the backend knows it (mouse events inside a
// window keep it up to date by themselves).
void PlatNoteCursorScreenPos(int32_t x, int32_t y);
// The user dragged the frame of a restored window to the client size *pW x *pH: the window procedure
// sees WM_SIZING with the outer rectangle and the edge (bottom, right or both) and may change it;
// *pW, *pH receive the client size it leaves. The record is not changed (nothing when the size is
// the record's).
void PlatNoteUserResize(PLAT_HWND hwnd, int* pW, int* pH);
// 1 for a top-level window of a fixed size that may still be maximised: a caption with a maximise box
// and no sizing frame. The window system is told it may grow (a window manager offers maximise only
// to a window whose smallest and largest sizes differ), with its size as the smallest; a resize by
// the user is undone (PlatNoteUserResize), so it keeps its size unless maximised.
int PlatIsFixedSizeMaximisable(uint32_t nStyle);
// Keeps a client size the user asks for within the window's size limits (platform/plat_window_limits.cpp).
void PlatClampToSizeLimits(const PLAT_WINDOW_REC* pRec, int* pW, int* pH);
// The window the mouse is over (platform/plat_window_cursor.cpp): a mouse event in another window
// than before shows that window's cursor. PlatIsMouseOverWindow answers 1 for it, and for any window
// while no mouse event has come yet; PlatNoteShownCursor keeps what is shown.
void PlatNoteMouseOverWindow(PLAT_HWND hwnd);
int PlatIsMouseOverWindow(PLAT_HWND hwnd);
void PlatNoteShownCursor(PLAT_CURSOR hCursor);
// A window drag of the program's (platform/plat_window_drag.cpp): follows the pointer, and ends it
// once the left button is up. Run on every turn of the window thread's pump.
void PlatTrackWindowDrag(void);
void PlatQueueMouseButton(PLAT_HWND hwnd, int nButton, int bDown, int x, int y);
void PlatQueueMouseWheel(PLAT_HWND hwnd, int nDelta, int x, int y);
// Records the window manager's new client rectangle and sends WM_WINDOWPOSCHANGED, WM_MOVE and WM_SIZE
// for what changed.
void PlatNoteClientMoveSize(PLAT_HWND hwnd, int x, int y, int w, int h);
void PlatNoteFocus(PLAT_HWND hwnd, int bGained);
// Registers a drop and posts WM_DROPFILES.
void PlatQueueDrop(PLAT_HWND hwnd, const std::vector<std::string>& names);
// Forgets every drop not yet finished (the window system ends).
void PlatForgetDrops(void);

// The message loop of a modal box on the window thread. Runs queued calls, turns native events
// into messages and takes the next message the box may see: one of hwndModal, or WM_QUIT (taken
// from the queue; the box posts it again when it has ended). The other windows are disabled while
// the box is open, as its owner is on Windows: their input (keys, characters, mouse, system
// commands such as the close button, drops) is dropped, their other messages stay queued for the
// loop outside the box, and one that needs painting gets its retained picture shown again and its
// own paint once the box has ended (PlatEndModalLoop). Waits up to nMs when nothing is there: 1
// with *pMsg filled, else 0.
int PlatTakeModalMessage(PLAT_HWND hwndModal, PLAT_MSG* pMsg, uint32_t nMs);
// The owner for a box: the program's first visible top-level window whose class is not
// pszSkipClass (the boxes' own), or 0.
PLAT_HWND PlatFindOwnerWindow(const char* pszSkipClass);
// The box has ended: the windows shown again meanwhile are invalidated for their real paint.
void PlatEndModalLoop(void);
// Makes a box (window thread, before it is shown) one that keeps the keyboard and stays in front of
// the program's other windows until it is answered, as an owned modal dialog does on Windows: the
// window manager is told it is modal (_NET_WM_STATE_MODAL; SDL makes it transient for its owner), and
// while it is up, one of the program's other windows that gets the focus (a click on the game's
// window) gives it back to the box at once, without being told it was active.
void PlatMarkModalBox(PLAT_HWND hwnd);
// One turn of a wait for another thread, on the window thread (platform/plat_thread.cpp and
// plat_thread_wait.cpp). PLAT_SERVE_WAITED_FOR runs only the calls whose caller waits for them (a
// lock, an event or a join may be waited for in the middle of a frame or of the shut-down, where
// nothing else may run);
// PLAT_SERVE_ALL runs every queued call, turns native events into queued messages and shows again
// the retained picture of a window that needs painting. No queued message is dispatched; the few
// events that Windows sends rather than posts (focus, size and state changes, a window another
// program destroyed) reach their procedure at once, as on Windows (see platform/plat_thread.h for
// waits in the middle of a frame). 1 when called on the window thread, else 0 (nothing done).
enum { PLAT_SERVE_WAITED_FOR = 0, PLAT_SERVE_ALL = 1 };
int PlatServeWindowThreadInWait(int nServe);
// In a wait for an outside program (a dialog): the close requests of windows that came meanwhile
// (the close button) are dispatched on the window thread, so the program's quit question is asked
// while the dialog is open. Called on another thread (frames on a thread of their own), the window
// thread does it, and a turn of its serving, for that thread. 1 when a window is to close or the
// quit is pending (the wait should end), else 0 (also without a window system).
int PlatServeCloseRequestsInWait(void);

// ---- Menus (platform/plat_menu.cpp) -------------------------------------------------------------

// The height of the window's own menu-bar strip above its client (a top-level window with a bar),
// else 0.
int PlatMenuBarInset(const PLAT_WINDOW_REC* pRec);
// What the window shows: its retained picture below its own bar, with the bars of its child windows
// and the open menus drawn over it. drawUnder, when given, draws on the copy of the retained picture
// first (nBar: the picture's top row in the canvas) and answers whether it drew. 1 with the picture
// (*pW x *pH) when anything is drawn over or beside the retained picture, 0 when the retained picture
// alone is what the window shows.
struct PLAT_UI_CANVAS;
typedef std::function<bool(const PLAT_UI_CANVAS& canvas, int nBar)> PLAT_DRAW_UNDER;
int PlatMenuComposeWindow(PLAT_WINDOW_REC* pRec, std::vector<uint32_t>* pOut, int* pW, int* pH,
                          const PLAT_DRAW_UNDER& drawUnder = {});
// 1 when an open menu or a child window's bar is drawn over the window's retained picture.
int PlatMenuDrawsOverPicture(const PLAT_WINDOW_REC* pRec);
// A mouse event for the window in client coordinates (a bar above the client at negative y): 1 when
// a bar takes it (a left click on a bar becomes WM_NCLBUTTONDOWN with PLAT_HTMENU for the window that
// carries the bar), 0 when it goes on to the window. nButton 0 for a move.
int PlatMenuRouteMouse(PLAT_HWND hwnd, int nButton, int bDown, int x, int y);
// The window system ends: the menus' font is closed (it is opened again when next needed).
void PlatMenuShutdown(void);
// Stores the window's bar (under the window table's lock: other threads read the geometry).
void PlatStoreWindowMenuBar(PLAT_HWND hwnd, uint32_t hMenu);
// The visible child windows (WS_CHILD) of a window.
std::vector<PLAT_HWND> PlatChildWindows(PLAT_HWND hwnd);
