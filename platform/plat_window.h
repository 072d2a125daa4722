// Windows and the message queue in place of the Win32 window manager.
//
// One thread owns the windows: the thread that called PlatInitWindowSystem (the window thread). It
// pumps the queue (PlatPeekMessage / PlatGetMessage / PlatPumpWindowThread) and is the only thread
// that calls into the backend (SDL). Other threads post messages, send messages and hand over calls
// with PlatRunOnWindowThread; the window functions below do that by themselves when called from
// another thread, so every thread may use them as on Windows.
//
// Messages keep the Win32 numeric values. Retrieval order follows Windows: posted messages in order,
// then WM_QUIT, then WM_PAINT for a window marked invalid (one per window however often it was
// invalidated), then WM_TIMER.
#pragma once
#include <vector>
#include <cstdint>

typedef uint32_t PLAT_HWND;  // 0 = none; handles are not reused while the system runs
typedef intptr_t (*PLAT_WNDPROC)(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam);

struct PLAT_MSG {
    PLAT_HWND hwnd;
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
    uint32_t time;  // PlatGetTime-style milliseconds when queued
};

struct PLAT_RECT {
    int32_t left, top, right, bottom;
};

// Messages.
enum : uint32_t {
    PLAT_WM_NULL = 0x0000, PLAT_WM_CREATE = 0x0001, PLAT_WM_DESTROY = 0x0002, PLAT_WM_MOVE = 0x0003,
    PLAT_WM_SIZE = 0x0005, PLAT_WM_ACTIVATE = 0x0006, PLAT_WM_SETFOCUS = 0x0007,
    PLAT_WM_KILLFOCUS = 0x0008, PLAT_WM_SETTEXT = 0x000C, PLAT_WM_PAINT = 0x000F,
    PLAT_WM_CLOSE = 0x0010, PLAT_WM_QUIT = 0x0012, PLAT_WM_ERASEBKGND = 0x0014,
    PLAT_WM_SHOWWINDOW = 0x0018, PLAT_WM_ACTIVATEAPP = 0x001C, PLAT_WM_SETCURSOR = 0x0020,
    PLAT_WM_GETMINMAXINFO = 0x0024, PLAT_WM_WINDOWPOSCHANGED = 0x0047,
    PLAT_WM_DISPLAYCHANGE = 0x007E, PLAT_WM_NCLBUTTONDOWN = 0x00A1, PLAT_WM_NCLBUTTONUP = 0x00A2,
    PLAT_WM_NCLBUTTONDBLCLK = 0x00A3, PLAT_WM_KEYDOWN = 0x0100, PLAT_WM_KEYUP = 0x0101,
    PLAT_WM_CHAR = 0x0102, PLAT_WM_SYSKEYDOWN = 0x0104, PLAT_WM_SYSKEYUP = 0x0105,
    PLAT_WM_SYSCHAR = 0x0106, PLAT_WM_COMMAND = 0x0111, PLAT_WM_SYSCOMMAND = 0x0112,
    PLAT_WM_TIMER = 0x0113, PLAT_WM_MOUSEMOVE = 0x0200, PLAT_WM_LBUTTONDOWN = 0x0201,
    PLAT_WM_LBUTTONUP = 0x0202, PLAT_WM_LBUTTONDBLCLK = 0x0203, PLAT_WM_RBUTTONDOWN = 0x0204,
    PLAT_WM_RBUTTONUP = 0x0205, PLAT_WM_RBUTTONDBLCLK = 0x0206, PLAT_WM_MBUTTONDOWN = 0x0207,
    PLAT_WM_MBUTTONUP = 0x0208, PLAT_WM_MBUTTONDBLCLK = 0x0209, PLAT_WM_MOUSEWHEEL = 0x020A,
    PLAT_WM_XBUTTONDOWN = 0x020B, PLAT_WM_XBUTTONUP = 0x020C, PLAT_WM_SIZING = 0x0214,
    PLAT_WM_MOVING = 0x0216, PLAT_WM_ENTERSIZEMOVE = 0x0231, PLAT_WM_EXITSIZEMOVE = 0x0232,
    PLAT_WM_DROPFILES = 0x0233, PLAT_WM_USER = 0x0400, PLAT_WM_APP = 0x8000,
};
// WM_SYSCOMMAND codes (the low four bits are the system's own and are ignored).
enum : uint32_t {
    PLAT_SC_SIZE = 0xF000, PLAT_SC_MOVE = 0xF010, PLAT_SC_MINIMIZE = 0xF020,
    PLAT_SC_MAXIMIZE = 0xF030, PLAT_SC_CLOSE = 0xF060, PLAT_SC_KEYMENU = 0xF100,
    PLAT_SC_RESTORE = 0xF120, PLAT_SC_SCREENSAVE = 0xF140,
};
enum { PLAT_SIZE_RESTORED = 0, PLAT_SIZE_MINIMIZED = 1, PLAT_SIZE_MAXIMIZED = 2 };
enum { PLAT_WA_INACTIVE = 0, PLAT_WA_ACTIVE = 1, PLAT_WA_CLICKACTIVE = 2 };
// Mouse message wParam flags.
enum {
    PLAT_MK_LBUTTON = 0x01, PLAT_MK_RBUTTON = 0x02, PLAT_MK_SHIFT = 0x04, PLAT_MK_CONTROL = 0x08,
    PLAT_MK_MBUTTON = 0x10, PLAT_MK_XBUTTON1 = 0x20, PLAT_MK_XBUTTON2 = 0x40,
};
enum { PLAT_XBUTTON1 = 1, PLAT_XBUTTON2 = 2, PLAT_WHEEL_DELTA = 120 };
enum { PLAT_PM_NOREMOVE = 0, PLAT_PM_REMOVE = 1 };

// Style word.
enum : uint32_t {
    PLAT_WS_OVERLAPPED = 0x00000000u, PLAT_WS_POPUP = 0x80000000u, PLAT_WS_CHILD = 0x40000000u,
    PLAT_WS_MINIMIZE = 0x20000000u, PLAT_WS_VISIBLE = 0x10000000u, PLAT_WS_DISABLED = 0x08000000u,
    PLAT_WS_CLIPSIBLINGS = 0x04000000u, PLAT_WS_CLIPCHILDREN = 0x02000000u,
    PLAT_WS_MAXIMIZE = 0x01000000u, PLAT_WS_CAPTION = 0x00C00000u, PLAT_WS_BORDER = 0x00800000u,
    PLAT_WS_DLGFRAME = 0x00400000u, PLAT_WS_SYSMENU = 0x00080000u, PLAT_WS_THICKFRAME = 0x00040000u,
    PLAT_WS_MINIMIZEBOX = 0x00020000u, PLAT_WS_MAXIMIZEBOX = 0x00010000u,
    PLAT_WS_OVERLAPPEDWINDOW = 0x00CF0000u,
    PLAT_WS_EX_TOPMOST = 0x00000008u, PLAT_WS_EX_TOOLWINDOW = 0x00000080u,
};
// PlatShowWindow commands.
enum {
    PLAT_SW_HIDE = 0, PLAT_SW_SHOWNORMAL = 1, PLAT_SW_SHOWMINIMIZED = 2, PLAT_SW_SHOWMAXIMIZED = 3,
    PLAT_SW_MAXIMIZE = 3, PLAT_SW_SHOWNOACTIVATE = 4, PLAT_SW_SHOW = 5, PLAT_SW_MINIMIZE = 6,
    PLAT_SW_SHOWMINNOACTIVE = 7, PLAT_SW_SHOWNA = 8, PLAT_SW_RESTORE = 9,
};
// PlatSetWindowPos flags.
enum {
    PLAT_SWP_NOSIZE = 0x0001, PLAT_SWP_NOMOVE = 0x0002, PLAT_SWP_NOZORDER = 0x0004,
    PLAT_SWP_NOACTIVATE = 0x0010, PLAT_SWP_SHOWWINDOW = 0x0040, PLAT_SWP_HIDEWINDOW = 0x0080,
};
// Virtual-key codes (letters and digits are their upper-case ASCII codes).
enum {
    PLAT_VK_LBUTTON = 0x01, PLAT_VK_RBUTTON = 0x02, PLAT_VK_MBUTTON = 0x04, PLAT_VK_XBUTTON1 = 0x05,
    PLAT_VK_XBUTTON2 = 0x06, PLAT_VK_BACK = 0x08, PLAT_VK_TAB = 0x09, PLAT_VK_RETURN = 0x0D,
    PLAT_VK_SHIFT = 0x10, PLAT_VK_CONTROL = 0x11, PLAT_VK_MENU = 0x12, PLAT_VK_PAUSE = 0x13,
    PLAT_VK_CAPITAL = 0x14, PLAT_VK_ESCAPE = 0x1B, PLAT_VK_SPACE = 0x20, PLAT_VK_PRIOR = 0x21,
    PLAT_VK_NEXT = 0x22, PLAT_VK_END = 0x23, PLAT_VK_HOME = 0x24, PLAT_VK_LEFT = 0x25,
    PLAT_VK_UP = 0x26, PLAT_VK_RIGHT = 0x27, PLAT_VK_DOWN = 0x28, PLAT_VK_SNAPSHOT = 0x2C,
    PLAT_VK_INSERT = 0x2D, PLAT_VK_DELETE = 0x2E, PLAT_VK_LWIN = 0x5B, PLAT_VK_RWIN = 0x5C,
    PLAT_VK_APPS = 0x5D, PLAT_VK_NUMPAD0 = 0x60, PLAT_VK_MULTIPLY = 0x6A, PLAT_VK_ADD = 0x6B,
    PLAT_VK_SUBTRACT = 0x6D, PLAT_VK_DECIMAL = 0x6E, PLAT_VK_DIVIDE = 0x6F, PLAT_VK_F1 = 0x70,
    PLAT_VK_F4 = 0x73, PLAT_VK_F10 = 0x79, PLAT_VK_F12 = 0x7B, PLAT_VK_NUMLOCK = 0x90,
    PLAT_VK_SCROLL = 0x91, PLAT_VK_LSHIFT = 0xA0, PLAT_VK_RSHIFT = 0xA1, PLAT_VK_LCONTROL = 0xA2,
    PLAT_VK_RCONTROL = 0xA3, PLAT_VK_LMENU = 0xA4, PLAT_VK_RMENU = 0xA5, PLAT_VK_OEM_1 = 0xBA,
    PLAT_VK_OEM_PLUS = 0xBB, PLAT_VK_OEM_COMMA = 0xBC, PLAT_VK_OEM_MINUS = 0xBD,
    PLAT_VK_OEM_PERIOD = 0xBE, PLAT_VK_OEM_2 = 0xBF, PLAT_VK_OEM_3 = 0xC0, PLAT_VK_OEM_4 = 0xDB,
    PLAT_VK_OEM_5 = 0xDC, PLAT_VK_OEM_6 = 0xDD, PLAT_VK_OEM_7 = 0xDE, PLAT_VK_OEM_102 = 0xE2,
};

// lParam packing as Windows does it: low word x, high word y, each a signed 16-bit value.
inline intptr_t PlatMakeLParam(int32_t x, int32_t y)
{
    return (intptr_t)(uint32_t)(((uint32_t)x & 0xFFFFu) | (((uint32_t)y & 0xFFFFu) << 16));
}
inline int32_t PlatGetXLParam(intptr_t lParam) { return (int16_t)(uint16_t)((uintptr_t)lParam & 0xFFFFu); }
inline int32_t PlatGetYLParam(intptr_t lParam) { return (int16_t)(uint16_t)(((uintptr_t)lParam >> 16) & 0xFFFFu); }

// ---- Start and end --------------------------------------------------------------------------

enum { PLAT_BACKEND_FAKE = 0, PLAT_BACKEND_SDL = 1 };
// Makes the calling thread the window thread. 0, or -1 when already running or the backend cannot
// start (SDL video unavailable).
int PlatInitWindowSystem(int nBackend);
// On the window thread: runs every call still queued, destroys the remaining windows (each gets
// WM_DESTROY), drops the queue and stops the backend. From then on PlatRunOnWindowThread refuses
// (-1) without running the call, so no thread ever waits for a window thread that is gone.
void PlatShutdownWindowSystem(void);
// 1 when the calling thread is the window thread.
int PlatIsWindowThread(void);
// The connection to the window system broke (the X server ended, or a window manager killed the
// program's connection): nothing can be shown, asked or waited for through it any more, and its
// library must not be called again, so the run ends there and then. The handler runs on the thread
// that found the break, in the middle of whatever it was doing (a frame, a procedure, a wait): it
// must not wait, touch windows or hand calls to the window thread; it gives up what must not outlive
// the process (locks) and returns the exit status. The process then ends at once: the files the
// engine writes are renamed into place whole, so none is left half-written. Without a handler a
// line on standard error says what happened and the status is 1.
typedef int (*PLAT_DISPLAY_LOST_PROC)(void);
void PlatSetDisplayLostHandler(PLAT_DISPLAY_LOST_PROC pfnHandler);

// ---- Calls handed to the window thread ----------------------------------------------------------

typedef void (*PLAT_WINDOW_CALL)(void* pArg);
// On the window thread: runs the call at once. From another thread: queues it for the window
// thread, which runs queued calls on every PlatPeekMessage, PlatGetMessage and PlatPumpWindowThread;
// with bWait the caller waits for its end. 0, or -1 when no window system runs (the call is not run).
int PlatRunOnWindowThread(PLAT_WINDOW_CALL pfnCall, void* pArg, int bWait);
// Runs queued calls and translates pending backend events into messages; nothing is dispatched.
void PlatPumpWindowThread(void);

// ---- Messages -----------------------------------------------------------------------------------

// Any thread. hwnd 0 queues a message for the thread itself (PlatDispatchMessage drops it).
// 0, or -1 when no window system runs or hwnd names no window.
int PlatPostMessage(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam);
// Calls the window procedure and returns its answer; from another thread through the window thread,
// waiting for the answer. 0 when hwnd names no window.
intptr_t PlatSendMessage(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam);
// Window thread only. 1 with *pMsg filled when a message is there (removed with PLAT_PM_REMOVE), else
// 0. Never blocks.
int PlatPeekMessage(PLAT_MSG* pMsg, int nRemove);
// Window thread only. Waits for a message and removes it: 1, or 0 for WM_QUIT, -1 when called off the
// window thread or without a window system.
int PlatGetMessage(PLAT_MSG* pMsg);
// Calls the target's procedure; 0 for a message without a (living) window.
intptr_t PlatDispatchMessage(const PLAT_MSG* pMsg);
// Queues WM_QUIT with wParam = nExitCode; it is retrieved after the messages posted before it.
void PlatPostQuitMessage(int nExitCode);
// The default actions: WM_CLOSE destroys the window; WM_PAINT validates; WM_ERASEBKGND fills the client
// framebuffer black and answers 1; WM_SYSCOMMAND SC_CLOSE posts WM_CLOSE, SC_MINIMIZE / SC_MAXIMIZE /
// SC_RESTORE show the window so; WM_NCLBUTTONDBLCLK on a caption with a maximise box maximises or
// restores; Alt+F4 (WM_SYSKEYDOWN) sends SC_CLOSE. Everything else answers 0.
intptr_t PlatDefWindowProc(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam);

// Marks the client invalid: one WM_PAINT follows once the queue is otherwise empty. bErase asks for
// WM_ERASEBKGND before the paint (sent by PlatValidateWindow). -1 when hwnd names no window.
int PlatInvalidateWindow(PLAT_HWND hwnd, int bErase);
// Ends the invalid state (sending WM_ERASEBKGND first when an erase is pending), like BeginPaint.
int PlatValidateWindow(PLAT_HWND hwnd);
// The program changed a part of its retained picture and presents that part itself at the paint
// that follows (PlatPresentWindowRect). The paint is one of the whole client when anything else
// (an expose, a resize, showing the window, PlatInvalidateWindow) asked for one since the last
// validation. -1 when hwnd names no window.
int PlatInvalidateWindowPart(PLAT_HWND hwnd);
// 1 while the paint due is only for the part the program changed (PlatInvalidateWindowPart), 0 when
// the whole client is to be painted or no paint is due.
int PlatIsWindowPaintPart(PLAT_HWND hwnd);

// Timers: WM_TIMER (wParam = id) every nMs milliseconds when nothing else is queued. Window thread.
int PlatSetTimer(PLAT_HWND hwnd, uintptr_t nId, uint32_t nMs);
int PlatKillTimer(PLAT_HWND hwnd, uintptr_t nId);

// ---- Windows ------------------------------------------------------------------------------------

// Creates a window; x, y, w, h are the outer rectangle (screen, or the parent's client for
// WS_CHILD). Sends WM_CREATE (lParam = pUser; an answer of -1 destroys the window again and 0 is
// returned), then shows it when the style holds WS_VISIBLE. The class name is kept for look-ups.
PLAT_HWND PlatCreateWindow(const char* pszClass, const char* pszTitleCp932, uint32_t nStyle, int x,
                           int y, int w, int h, PLAT_HWND hwndParent, PLAT_WNDPROC pfnProc, void* pUser);
// The same with an extended style (PLAT_WS_EX_*): a topmost window stays in front of the others; a
// tool window is a utility window without a taskbar button.
PLAT_HWND PlatCreateWindowEx(uint32_t nExStyle, const char* pszClass, const char* pszTitleCp932, uint32_t nStyle,
                             int x, int y, int w, int h, PLAT_HWND hwndParent, PLAT_WNDPROC pfnProc, void* pUser);
uint32_t PlatGetWindowExStyle(PLAT_HWND hwnd);
// The window's opacity, 0 (see-through) to 256 (opaque; a new window's): a compositing window
// manager applies it. 0, or -1 for no such window; the getter answers -1 for no such window.
int PlatSetWindowOpacity(PLAT_HWND hwnd, int nAlpha);
int PlatGetWindowOpacity(PLAT_HWND hwnd);
// Sends WM_DESTROY, destroys the child windows, drops the window's queued messages and forgets it.
int PlatDestroyWindow(PLAT_HWND hwnd);
int PlatIsWindow(PLAT_HWND hwnd);
PLAT_HWND PlatFindWindow(const char* pszClass, const char* pszTitleCp932);
void* PlatGetWindowUser(PLAT_HWND hwnd);
void PlatSetWindowUser(PLAT_HWND hwnd, void* pUser);
uint32_t PlatGetWindowStyle(PLAT_HWND hwnd);
// Changes the style word and applies decorations and resizability; the client rectangle stays.
int PlatSetWindowStyle(PLAT_HWND hwnd, uint32_t nStyle);

// Height added on top of the frame when bMenu is set.
enum { PLAT_MENU_BAR_HEIGHT = 20 };
// Client rectangle -> outer rectangle for the style, by a fixed inset table: popup or no frame 0;
// WS_BORDER alone 1; caption without thick frame 3 at the sides and bottom, 26 at the top; thick
// frame 8 at the sides and bottom, 31 at the top with a caption, 8 without.
void PlatAdjustWindowRect(PLAT_RECT* pRect, uint32_t nStyle, int bMenu);
// Client origin always at 0,0.
int PlatGetClientRect(PLAT_HWND hwnd, PLAT_RECT* pRect);
int PlatGetWindowRect(PLAT_HWND hwnd, PLAT_RECT* pRect);
int PlatClientToScreen(PLAT_HWND hwnd, int32_t* pX, int32_t* pY);
// x, y, w, h: the outer rectangle. Sends WM_WINDOWPOSCHANGED when anything changed, then WM_MOVE /
// WM_SIZE for what changed.
int PlatSetWindowPos(PLAT_HWND hwnd, int x, int y, int w, int h, uint32_t nFlags);
// Returns 1 when the window was visible before, like ShowWindow. A new show state (minimised,
// maximised, restored) sends WM_WINDOWPOSCHANGED, then WM_SIZE.
int PlatShowWindow(PLAT_HWND hwnd, int nCmd);
int PlatIsWindowVisible(PLAT_HWND hwnd);
int PlatIsIconic(PLAT_HWND hwnd);
// 1 when the window is shown for the program but nobody can see it: it is minimised, or the window
// system hides it (a window manager unmaps iconified windows and those of other desktops). A window
// the program hid itself does not count.
int PlatIsWindowOutOfSight(PLAT_HWND hwnd);
// WM_SIZING edges.
enum {
    PLAT_WMSZ_LEFT = 1, PLAT_WMSZ_RIGHT = 2, PLAT_WMSZ_TOP = 3, PLAT_WMSZ_TOPLEFT = 4, PLAT_WMSZ_TOPRIGHT = 5,
    PLAT_WMSZ_BOTTOM = 6, PLAT_WMSZ_BOTTOMLEFT = 7, PLAT_WMSZ_BOTTOMRIGHT = 8,
};
// Shows (bShow 1) or hides the mouse cursor over the program's windows. Unlike a display counter,
// one call undoes the other, so repeated requests never leave the cursor stuck. Any thread; the
// change reaches the window system on the window thread's next turn. PlatIsCursorShown answers
// the state last asked for (1 at start).
void PlatShowCursor(int bShow);
int PlatIsCursorShown(void);
// Brings a top-level window to the front and gives it the keyboard focus, like SetForegroundWindow.
// 0, or -1 when there is no such window.
int PlatSetForegroundWindow(PLAT_HWND hwnd);
int PlatIsZoomed(PLAT_HWND hwnd);
int PlatSetWindowText(PLAT_HWND hwnd, const char* pszTitleCp932);
// Copies the cp932 title, cut to cap - 1 bytes at a whole character; returns its length or -1.
int PlatGetWindowText(PLAT_HWND hwnd, char* pszOut, int cap);

// The retained client picture: BGRA, 32 bits per pixel, rows of *pPitch bytes, the client's size.
// The pointer stays valid until the client size changes. -1 when hwnd names no window.
int PlatGetWindowFramebuffer(PLAT_HWND hwnd, uint32_t** ppPixels, int* pWidth, int* pHeight, int* pPitch);
// Shows the retained picture in the window.
int PlatPresentWindow(PLAT_HWND hwnd);
// Shows the rectangle of the retained picture (client coordinates, clipped to the client); the rest
// of the window keeps what it showed. A menu or the edit box over the picture, or a window surface
// the window system made anew, shows the whole picture instead. NULL: the whole client.
int PlatPresentWindowRect(PLAT_HWND hwnd, const PLAT_RECT* pRect);
// How many times the window was presented (whole or in part) since it was made; -1 when hwnd names
// no window. A program that presents a part sees by it whether anyone else presented meanwhile.
int PlatGetWindowPresentCount(PLAT_HWND hwnd);
// What the window shows now, read back from the window system's side (B,G,R,A rows of its client
// size, as uint32 0xAARRGGBB). 0 or -1.
int PlatReadWindowPixels(PLAT_HWND hwnd, std::vector<uint32_t>* pOut, int* pW, int* pH);

// Dropped files of the last WM_DROPFILES (wParam is the drop's number): the count, and the cp932
// names with '\'. -1 for an unknown or released drop.
int PlatDragQueryFileCount(uintptr_t hDrop);
int PlatDragQueryFile(uintptr_t hDrop, int nIndex, char* pszOut, int cap);
void PlatDragFinish(uintptr_t hDrop);

// The cursor in screen pixels as the last mouse event over a window (or leaving one) placed it. 0,
// or -1 while no mouse event has arrived yet.
int PlatGetCursorPos(int32_t* pX, int32_t* pY);

// ---- Stacking, flashing, window shape ----------------------------------------------------------

// Where PlatSetWindowZOrder puts a top-level window: in front of the others (below the topmost
// ones), topmost (in front of every window and kept there), no longer topmost (its place stays),
// behind all others, or right behind hwndAfter.
enum { PLAT_Z_TOP = 0, PLAT_Z_TOPMOST = 1, PLAT_Z_BOTTOM = 2, PLAT_Z_NOTOPMOST = 3, PLAT_Z_BEHIND = 4 };
// 0, or -1 when hwnd (or hwndAfter for PLAT_Z_BEHIND) names no top-level window. The window system
// is told what it can do (always on top, raising); the order itself is kept here.
int PlatSetWindowZOrder(PLAT_HWND hwnd, int nWhere, PLAT_HWND hwndAfter);
// The window's place among the top-level windows (0 in front), or -1. *pbTopmost: its topmost flag.
int PlatGetWindowZOrder(PLAT_HWND hwnd, int* pbTopmost);
// Draws attention to the window (the taskbar entry flashes nCount times, each nIntervalMs long;
// the window system may flash it once its own way). 0, or -1 when the window system cannot.
int PlatFlashWindow(PLAT_HWND hwnd, int nCount, int nIntervalMs);
// How often the window was asked to flash, and the last count asked for.
int PlatGetFlashCount(PLAT_HWND hwnd, int* pnLastCount);
// The window's visible region as rectangles in client coordinates (left, top inclusive; right,
// bottom exclusive): outside them the window is transparent to the eye and the mouse. nCount < 0
// takes the region off. Applied on X11 (the shape extension); elsewhere only kept. 0 or -1.
int PlatSetWindowRegion(PLAT_HWND hwnd, const PLAT_RECT* pRects, int nCount);
// 1 with the rectangles when the window has a region, 0 when it has none, -1 for no window.
int PlatGetWindowRegion(PLAT_HWND hwnd, std::vector<PLAT_RECT>* pOut);
// The region as the window system holds it (on X11 the window's bounding shape as the server
// reports it; elsewhere the kept one): 1 with the rectangles, 0 when the window is not shaped, -1.
int PlatReadWindowRegion(PLAT_HWND hwnd, std::vector<PLAT_RECT>* pOut);

// ---- Cursors and icons --------------------------------------------------------------------------

// A cursor or icon (0: none). Made and destroyed on any thread; shown on the window thread.
typedef uint32_t PLAT_CURSOR;
// The standard cursors (the Win32 IDC_ numbers).
enum {
    PLAT_IDC_ARROW = 32512, PLAT_IDC_IBEAM = 32513, PLAT_IDC_WAIT = 32514, PLAT_IDC_CROSS = 32515,
    PLAT_IDC_UPARROW = 32516, PLAT_IDC_SIZENWSE = 32642, PLAT_IDC_SIZENESW = 32643, PLAT_IDC_SIZEWE = 32644,
    PLAT_IDC_SIZENS = 32645, PLAT_IDC_SIZEALL = 32646, PLAT_IDC_NO = 32648, PLAT_IDC_HAND = 32649,
    PLAT_IDC_APPSTARTING = 32650, PLAT_IDC_HELP = 32651,
};
// A standard cursor (shared: never destroyed), or 0 for an unknown id.
PLAT_CURSOR PlatLoadCursor(int nIdc);
// A cursor (bIcon 0) or icon (bIcon 1) of w x h B,G,R,A pixels (rows top-down, nStride bytes apart)
// with its hot spot. A picture whose alpha bytes are all 0 is taken as opaque. 0 when w or h is not
// 1..256 or no memory is left.
PLAT_CURSOR PlatCreateColorCursor(const uint8_t* pBgra, int w, int h, int nStride, int nHotX, int nHotY, int bIcon);
// Destroys a cursor or icon made by PlatCreateColorCursor (standard ones and 0 are ignored). A
// window using it falls back to the arrow.
void PlatDestroyCursor(PLAT_CURSOR hCursor);
// What a cursor is: its standard id (0 for a made one), size, hot spot, icon flag and pixels
// (0xAARRGGBB as B,G,R,A bytes). 0, or -1 for an unknown handle.
struct PLAT_CURSOR_INFO {
    int nIdc;
    int nWidth, nHeight, nHotX, nHotY;
    int bIcon;
    std::vector<uint32_t> pixels;
};
int PlatGetCursorInfo(PLAT_CURSOR hCursor, PLAT_CURSOR_INFO* pOut);
// The window's cursor (the cursor shown while the mouse is over it), set, and shown at once when the
// mouse is over the window. 0 or -1.
int PlatSetWindowCursor(PLAT_HWND hwnd, PLAT_CURSOR hCursor);
PLAT_CURSOR PlatGetWindowCursor(PLAT_HWND hwnd);
// The cursor the window system shows now: that of the window the mouse was last over (0: the arrow).
PLAT_CURSOR PlatGetShownCursor(void);

// ---- Fake backend: input injection for tests (window thread) ------------------------------------

// A key press or release as the keyboard would give it: WM_KEYDOWN/UP, or WM_SYSKEYDOWN/UP when Alt
// is held or the key is F10 or Alt itself. bRepeat marks an auto-repeated press.
void PlatFakeInjectKey(PLAT_HWND hwnd, int nVk, int bDown, int bRepeat);
void PlatFakeInjectChar(PLAT_HWND hwnd, uint32_t nChar);
// Cursor in client coordinates.
void PlatFakeInjectMouseMove(PLAT_HWND hwnd, int x, int y);
// nButton: 1 left, 2 right, 3 middle, 4 X1, 5 X2.
void PlatFakeInjectMouseButton(PLAT_HWND hwnd, int nButton, int bDown, int x, int y);
// nDelta in wheel units (120 per notch); x, y in client coordinates (the message carries screen ones).
void PlatFakeInjectMouseWheel(PLAT_HWND hwnd, int nDelta, int x, int y);
// The close button of the frame: WM_SYSCOMMAND SC_CLOSE.
void PlatFakeInjectClose(PLAT_HWND hwnd);
// The window manager moved or resized the window (outer rectangle).
void PlatFakeInjectMoveSize(PLAT_HWND hwnd, int x, int y, int w, int h);
// The user dragged the bottom and/or right edge of the frame to a client size of w x h: WM_SIZING
// first (the procedure may correct the size), then the window takes the size it left.
void PlatFakeInjectFrameDrag(PLAT_HWND hwnd, int w, int h);
void PlatFakeInjectFocus(PLAT_HWND hwnd, int bGained);
// The window that has the keyboard focus, as raises and injected focus changes left it (0: none).
PLAT_HWND PlatFakeGetFocusWindow(void);
// Cp932 names with '\'.
void PlatFakeInjectDropFiles(PLAT_HWND hwnd, const char* const* ppszNames, int nCount);
// How often the window was presented.
int PlatFakeGetPresentCount(PLAT_HWND hwnd);
// The current state of a virtual key as the injected input left it (1 down, 0 up).
int PlatGetKeyDown(int nVk);
// 1 when the key went down since the last call for it (however short the press was), else 0.
int PlatTakeKeyPress(int nVk);
