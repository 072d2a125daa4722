// The message queue, the window-thread call queue and the window records, independent of the backend.
#include "platform/plat_window.h"

#include <atomic>
#include <algorithm>
#include <cstdint>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/plat_display_backend.h"
#include "platform/plat_time.h"
#include "platform/plat_editbox_backend.h"
#include "platform/plat_window_backend.h"
#include "platform/plat_menu.h"
#include "platform/plat_window_drag.h"
#include "platform/plat_window_limits.h"

namespace {

struct WINDOW_CALL {
    PLAT_WINDOW_CALL pfnCall;
    void* pArg;
    int bWait;
    int bDone;
};

struct WINDOW_TIMER {
    PLAT_HWND hwnd;
    uintptr_t nId;
    uint32_t nMs;
    uint32_t nDue;
};

// Guards the queue, the call list and the running flag. Never held while a procedure or call runs.
std::mutex g_mxQueue;
std::condition_variable g_cvQueue;
std::deque<PLAT_MSG> g_dqMessages;
std::deque<WINDOW_CALL*> g_dqCalls;
int g_bRunning = 0;
int g_bQuitPending = 0;
uintptr_t g_nQuitCode = 0;
std::thread::id g_idWindowThread;
const PLAT_WINDOW_BACKEND* g_pBackend = nullptr;

// Guards the window table and records against readers on other threads.
std::recursive_mutex g_mxWindows;
std::map<PLAT_HWND, std::unique_ptr<PLAT_WINDOW_REC>> g_mapWindows;
PLAT_HWND g_hwndNext = 1;
std::deque<WINDOW_TIMER> g_dqTimers;
// The top-level windows from the front to the back.
std::vector<PLAT_HWND> g_vStack;
// Cursors and icons made or loaded, by handle.
std::map<PLAT_CURSOR, std::unique_ptr<PLAT_CURSOR_REC>> g_mapCursors;
PLAT_CURSOR g_hCursorNext = 1;

std::atomic<uint8_t> g_abKeyDown[256];
std::atomic<int> g_bCursorShownNow{1};   // the cursor as PlatShowCursor last asked for it


uint32_t NowMs(void) { return PlatGetTime(); }

bool OnWindowThread(void)
{
    return g_bRunning && std::this_thread::get_id() == g_idWindowThread;
}

// Insets of the frame: left, top, right, bottom.
void GetInsets(uint32_t nStyle, int32_t* pInset)
{
    pInset[0] = pInset[1] = pInset[2] = pInset[3] = 0;
    bool bCaption = (nStyle & PLAT_WS_CAPTION) == PLAT_WS_CAPTION;
    bool bThick = (nStyle & PLAT_WS_THICKFRAME) != 0;
    if ((nStyle & PLAT_WS_POPUP) && !bCaption && !bThick) {
        if (nStyle & PLAT_WS_BORDER) pInset[0] = pInset[1] = pInset[2] = pInset[3] = 1;
        return;
    }
    if (bThick) {
        pInset[0] = pInset[2] = pInset[3] = 8;
        pInset[1] = bCaption ? 31 : 8;
    } else if (bCaption || (nStyle & PLAT_WS_DLGFRAME)) {
        pInset[0] = pInset[2] = pInset[3] = 3;
        pInset[1] = bCaption ? 26 : 3;
    } else if (nStyle & PLAT_WS_BORDER) {
        pInset[0] = pInset[1] = pInset[2] = pInset[3] = 1;
    } else if (!(nStyle & (PLAT_WS_POPUP | PLAT_WS_CHILD))) {
        // WS_OVERLAPPED alone: Windows gives it a caption anyway.
        pInset[0] = pInset[2] = pInset[3] = 3;
        pInset[1] = 26;
    }
}

void FreePixels(PLAT_WINDOW_REC* pRec)
{
    free(pRec->pPixels);
    pRec->pPixels = nullptr;
    pRec->nFbW = pRec->nFbH = 0;
}

// Keeps the retained picture at the client size; the overlapping part is kept, the rest is black.
void ResizePixels(PLAT_WINDOW_REC* pRec)
{
    int w = pRec->nClientW > 0 ? pRec->nClientW : 0, h = pRec->nClientH > 0 ? pRec->nClientH : 0;
    if (w == pRec->nFbW && h == pRec->nFbH && pRec->pPixels) return;
    size_t nBytes = (size_t)w * h * 4;
    size_t nAlloc = (nBytes + 63) / 64 * 64;
    if (nAlloc == 0) nAlloc = 64;
    uint32_t* pNew = (uint32_t*)aligned_alloc(64, nAlloc);
    if (!pNew) return;
    memset(pNew, 0, nAlloc);
    if (pRec->pPixels) {
        int cw = w < pRec->nFbW ? w : pRec->nFbW, ch = h < pRec->nFbH ? h : pRec->nFbH;
        for (int y = 0; y < ch; y++) memcpy(pNew + (size_t)y * w, pRec->pPixels + (size_t)y * pRec->nFbW, (size_t)cw * 4);
    }
    free(pRec->pPixels);
    pRec->pPixels = pNew;
    pRec->nFbW = w;
    pRec->nFbH = h;
}

// Runs the queued calls in their order; with bWaitedForOnly, only those whose caller waits for them.
void RunQueuedCalls(bool bWaitedForOnly = false)
{
    for (;;) {
        WINDOW_CALL* pCall = nullptr;
        {
            std::lock_guard<std::mutex> lk(g_mxQueue);
            auto it = g_dqCalls.begin();
            if (bWaitedForOnly)
                while (it != g_dqCalls.end() && !(*it)->bWait) ++it;
            if (it == g_dqCalls.end()) return;
            pCall = *it;
            g_dqCalls.erase(it);
        }
        pCall->pfnCall(pCall->pArg);
        if (pCall->bWait) {
            std::lock_guard<std::mutex> lk(g_mxQueue);
            pCall->bDone = 1;
            g_cvQueue.notify_all();
        } else {
            delete pCall;
        }
    }
}

void PumpBackend(void)
{
    RunQueuedCalls();
    if (g_pBackend) g_pBackend->pfnPump();
    PlatTrackWindowDrag();
    RunQueuedCalls();
}

// The next message in Windows' order, without waiting. Caller holds no lock.
int TakeMessage(PLAT_MSG* pMsg, int bRemove)
{
    {
        std::lock_guard<std::mutex> lk(g_mxQueue);
        if (!g_dqMessages.empty()) {
            *pMsg = g_dqMessages.front();
            if (bRemove) g_dqMessages.pop_front();
            return 1;
        }
        if (g_bQuitPending) {
            *pMsg = PLAT_MSG{0, PLAT_WM_QUIT, g_nQuitCode, 0, NowMs()};
            if (bRemove) g_bQuitPending = 0;
            return 1;
        }
    }
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    for (auto& kv : g_mapWindows) {
        // The paint stays until the window is validated, as on Windows.
        if (kv.second->bInvalid && !kv.second->bDestroying) {
            *pMsg = PLAT_MSG{kv.first, PLAT_WM_PAINT, 0, 0, NowMs()};
            return 1;
        }
    }
    uint32_t nNow = NowMs();
    for (auto& t : g_dqTimers) {
        if ((int32_t)(nNow - t.nDue) >= 0) {
            *pMsg = PLAT_MSG{t.hwnd, PLAT_WM_TIMER, t.nId, 0, nNow};
            if (bRemove) t.nDue = nNow + t.nMs;
            return 1;
        }
    }
    return 0;
}

void RemoveWindowMessages(PLAT_HWND hwnd)
{
    std::lock_guard<std::mutex> lk(g_mxQueue);
    for (auto it = g_dqMessages.begin(); it != g_dqMessages.end();) {
        if (it->hwnd == hwnd) it = g_dqMessages.erase(it);
        else ++it;
    }
}

// Runs fn on the window thread and waits; used by the window functions called from other threads.
template <class FN>
void OnWindowThreadDo(FN&& fn)
{
    if (OnWindowThread()) {
        fn();
        return;
    }
    PlatRunOnWindowThread([](void* p) { (*(FN*)p)(); }, &fn, 1);
}

// The frame's insets of the window as it is: its style's, with its menu bar's strip at the top.
void GetRecInsets(const PLAT_WINDOW_REC* pRec, int32_t* pInset)
{
    GetInsets(pRec->nStyle, pInset);
    pInset[1] += PlatMenuBarInset(pRec);
}

// The client rectangle in screen (or the parent's client) coordinates.
PLAT_RECT ClientRectOf(const PLAT_WINDOW_REC* pRec)
{
    return PLAT_RECT{pRec->nClientX, pRec->nClientY, pRec->nClientX + pRec->nClientW, pRec->nClientY + pRec->nClientH};
}

PLAT_RECT OuterRect(const PLAT_WINDOW_REC* pRec)
{
    PLAT_RECT rc = ClientRectOf(pRec);
    PlatAdjustWindowRect(&rc, pRec->nStyle, PlatMenuBarInset(pRec) > 0 ? 1 : 0);
    return rc;
}

// Keys that went down since the input step last took them: a press and its release can both come
// in between two samples (a quick tap, a synthetic click), and the press must not be lost.
std::atomic<uint8_t> g_abKeyPressed[256];

void SetKeyState(int nVk, int bDown)
{
    if (nVk <= 0 || nVk >= 256) return;
    // Only a key that was up counts as pressed (auto-repeat does not).
    if (bDown && !g_abKeyDown[nVk]) g_abKeyPressed[nVk] = 1;
    g_abKeyDown[nVk] = bDown ? 1 : 0;
}


uint32_t MouseFlags(void)
{
    uint32_t n = 0;
    if (g_abKeyDown[PLAT_VK_LBUTTON]) n |= PLAT_MK_LBUTTON;
    if (g_abKeyDown[PLAT_VK_RBUTTON]) n |= PLAT_MK_RBUTTON;
    if (g_abKeyDown[PLAT_VK_MBUTTON]) n |= PLAT_MK_MBUTTON;
    if (g_abKeyDown[PLAT_VK_XBUTTON1]) n |= PLAT_MK_XBUTTON1;
    if (g_abKeyDown[PLAT_VK_XBUTTON2]) n |= PLAT_MK_XBUTTON2;
    if (g_abKeyDown[PLAT_VK_SHIFT]) n |= PLAT_MK_SHIFT;
    if (g_abKeyDown[PLAT_VK_CONTROL]) n |= PLAT_MK_CONTROL;
    return n;
}

}  // namespace

// ---- Start and end --------------------------------------------------------------------------

int PlatInitWindowSystem(int nBackend)
{
    const PLAT_WINDOW_BACKEND* pBackend = nBackend == PLAT_BACKEND_SDL ? &g_SdlWindowBackend : &g_FakeWindowBackend;
    {
        std::lock_guard<std::mutex> lk(g_mxQueue);
        if (g_bRunning) return -1;
    }
    if (pBackend->pfnStart() != 0) return -1;
    PlatSelectDisplayBackend(nBackend);
    for (auto& b : g_abKeyDown) b = 0;
    g_bCursorShownNow = 1;
    std::lock_guard<std::mutex> lk(g_mxQueue);
    g_pBackend = pBackend;
    g_idWindowThread = std::this_thread::get_id();
    g_dqMessages.clear();
    g_bQuitPending = 0;
    g_bRunning = 1;
    return 0;
}

void PlatShutdownWindowSystem(void)
{
    if (!OnWindowThread()) return;
    RunQueuedCalls();
    PlatMenuShutdown();
    PlatEditBoxShutdown();
    for (;;) {
        PLAT_HWND hwnd = 0;
        {
            std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
            // Top-level windows first; their children go with them.
            for (auto& kv : g_mapWindows) {
                if (!kv.second->bDestroying && !PlatIsWindow(kv.second->hwndParent)) {
                    hwnd = kv.first;
                    break;
                }
            }
            if (!hwnd && !g_mapWindows.empty()) hwnd = g_mapWindows.begin()->first;
        }
        if (!hwnd) break;
        if (PlatDestroyWindow(hwnd) != 0) {
            std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
            g_mapWindows.erase(hwnd);
        }
    }
    {
        // Calls queued up to now still run; later ones are refused by PlatRunOnWindowThread.
        std::unique_lock<std::mutex> lk(g_mxQueue);
        g_bRunning = 0;
    }
    RunQueuedCalls();
    {
        std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
        for (auto& kv : g_mapCursors) g_pBackend->pfnFreeCursor(kv.second.get());
        g_mapCursors.clear();
        g_vStack.clear();
    }
    g_pBackend->pfnStop();
    std::lock_guard<std::mutex> lk(g_mxQueue);
    g_dqMessages.clear();
    g_bQuitPending = 0;
    g_dqTimers.clear();
    PlatForgetDrops();
    g_pBackend = nullptr;
}

int PlatIsWindowThread(void)
{
    std::lock_guard<std::mutex> lk(g_mxQueue);
    return OnWindowThread() ? 1 : 0;
}

// ---- Calls handed to the window thread ----------------------------------------------------------

int PlatRunOnWindowThread(PLAT_WINDOW_CALL pfnCall, void* pArg, int bWait)
{
    if (!pfnCall) return -1;
    std::unique_lock<std::mutex> lk(g_mxQueue);
    if (!g_bRunning) return -1;
    if (std::this_thread::get_id() == g_idWindowThread) {
        lk.unlock();
        pfnCall(pArg);
        return 0;
    }
    WINDOW_CALL* pCall = new WINDOW_CALL{pfnCall, pArg, bWait ? 1 : 0, 0};
    g_dqCalls.push_back(pCall);
    const PLAT_WINDOW_BACKEND* pBackend = g_pBackend;
    g_cvQueue.notify_all();
    if (pBackend) pBackend->pfnWake();
    if (!bWait) return 0;
    // The window thread runs every queued call before it stops, so this wait always ends.
    g_cvQueue.wait(lk, [pCall] { return pCall->bDone != 0; });
    delete pCall;
    return 0;
}

void PlatPumpWindowThread(void)
{
    if (!PlatIsWindowThread()) return;
    PumpBackend();
}

// ---- Messages -----------------------------------------------------------------------------------

int PlatPostMessage(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    if (hwnd && !PlatIsWindow(hwnd)) return -1;
    std::unique_lock<std::mutex> lk(g_mxQueue);
    if (!g_bRunning) return -1;
    g_dqMessages.push_back(PLAT_MSG{hwnd, msg, wParam, lParam, NowMs()});
    const PLAT_WINDOW_BACKEND* pBackend = g_pBackend;
    g_cvQueue.notify_all();
    lk.unlock();
    if (pBackend) pBackend->pfnWake();
    return 0;
}

intptr_t PlatSendMessage(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    if (!PlatIsWindowThread()) {
        struct SEND {
            PLAT_HWND hwnd;
            uint32_t msg;
            uintptr_t wParam;
            intptr_t lParam;
            intptr_t result;
        } send{hwnd, msg, wParam, lParam, 0};
        PlatRunOnWindowThread(
            [](void* p) {
                SEND* s = (SEND*)p;
                s->result = PlatSendMessage(s->hwnd, s->msg, s->wParam, s->lParam);
            },
            &send, 1);
        return send.result;
    }
    PLAT_WNDPROC pfnProc;
    {
        std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
        auto it = g_mapWindows.find(hwnd);
        if (it == g_mapWindows.end()) return 0;
        pfnProc = it->second->pfnProc;
    }
    return pfnProc ? pfnProc(hwnd, msg, wParam, lParam) : PlatDefWindowProc(hwnd, msg, wParam, lParam);
}

int PlatPeekMessage(PLAT_MSG* pMsg, int nRemove)
{
    if (!pMsg || !PlatIsWindowThread()) return 0;
    PumpBackend();
    return TakeMessage(pMsg, nRemove & PLAT_PM_REMOVE);
}

int PlatGetMessage(PLAT_MSG* pMsg)
{
    if (!pMsg || !PlatIsWindowThread()) return -1;
    for (;;) {
        PumpBackend();
        if (TakeMessage(pMsg, 1)) return pMsg->message == PLAT_WM_QUIT ? 0 : 1;
        uint32_t nWait = 50;
        {
            std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
            uint32_t nNow = NowMs();
            for (auto& t : g_dqTimers) {
                int32_t d = (int32_t)(t.nDue - nNow);
                if (d < 0) d = 0;
                if ((uint32_t)d < nWait) nWait = (uint32_t)d;
            }
        }
        std::unique_lock<std::mutex> lk(g_mxQueue);
        if (!g_dqCalls.empty() || !g_dqMessages.empty() || g_bQuitPending) continue;
        lk.unlock();
        g_pBackend->pfnWait(nWait);
    }
}

intptr_t PlatDispatchMessage(const PLAT_MSG* pMsg)
{
    if (!pMsg || !pMsg->hwnd) return 0;
    return PlatSendMessage(pMsg->hwnd, pMsg->message, pMsg->wParam, pMsg->lParam);
}

void PlatPostQuitMessage(int nExitCode)
{
    std::unique_lock<std::mutex> lk(g_mxQueue);
    if (!g_bRunning) return;
    g_bQuitPending = 1;
    g_nQuitCode = (uintptr_t)(intptr_t)nExitCode;
    const PLAT_WINDOW_BACKEND* pBackend = g_pBackend;
    g_cvQueue.notify_all();
    lk.unlock();
    if (pBackend) pBackend->pfnWake();
}

intptr_t PlatDefWindowProc(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    switch (msg) {
    case PLAT_WM_CLOSE:
        PlatDestroyWindow(hwnd);
        return 0;
    case PLAT_WM_PAINT:
        PlatValidateWindow(hwnd);
        return 0;
    case PLAT_WM_ERASEBKGND: {
        uint32_t* pPixels;
        int w, h, nPitch;
        if (PlatGetWindowFramebuffer(hwnd, &pPixels, &w, &h, &nPitch) == 0)
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++) pPixels[(size_t)y * (nPitch / 4) + x] = 0xFF000000u;
        return 1;
    }
    case PLAT_WM_SYSCOMMAND:
        switch ((uint32_t)wParam & 0xFFF0u) {
        case PLAT_SC_CLOSE: PlatPostMessage(hwnd, PLAT_WM_CLOSE, 0, 0); break;
        case PLAT_SC_MINIMIZE: PlatShowWindow(hwnd, PLAT_SW_MINIMIZE); break;
        case PLAT_SC_MAXIMIZE: PlatShowWindow(hwnd, PLAT_SW_MAXIMIZE); break;
        case PLAT_SC_RESTORE: PlatShowWindow(hwnd, PLAT_SW_RESTORE); break;
        default: break;
        }
        return 0;
    case PLAT_WM_NCLBUTTONDOWN:
        // A click on the menu bar opens it; a press on the caption moves the window.
        if (wParam == PLAT_HTMENU) PlatTrackMenuBar(hwnd, PlatGetXLParam(lParam), PlatGetYLParam(lParam));
        if (wParam == PLAT_HTCAPTION) PlatBeginWindowDrag(hwnd, PlatGetXLParam(lParam), PlatGetYLParam(lParam));
        return 0;
    case PLAT_WM_NCLBUTTONDBLCLK: {
        uint32_t nStyle = PlatGetWindowStyle(hwnd);
        if ((nStyle & PLAT_WS_CAPTION) == PLAT_WS_CAPTION && (nStyle & PLAT_WS_MAXIMIZEBOX))
            PlatSendMessage(hwnd, PLAT_WM_SYSCOMMAND, PlatIsZoomed(hwnd) ? PLAT_SC_RESTORE : PLAT_SC_MAXIMIZE, lParam);
        return 0;
    }
    case PLAT_WM_SYSKEYDOWN:
        if (wParam == PLAT_VK_F4 && ((uintptr_t)lParam & (1u << 29)))
            PlatSendMessage(hwnd, PLAT_WM_SYSCOMMAND, PLAT_SC_CLOSE, 0);
        return 0;
    default:
        return 0;
    }
}

int PlatInvalidateWindow(PLAT_HWND hwnd, int bErase)
{
    {
        std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
        auto it = g_mapWindows.find(hwnd);
        if (it == g_mapWindows.end()) return -1;
        PlatMarkWindowInvalid(it->second.get(), bErase);
    }
    PlatWakeForPaint();
    return 0;
}

void PlatWakeForPaint(void)
{
    std::lock_guard<std::mutex> lk(g_mxQueue);
    g_cvQueue.notify_all();
    if (g_pBackend) g_pBackend->pfnWake();
}

std::recursive_mutex& PlatWindowTableLock(void) { return g_mxWindows; }
const PLAT_WINDOW_BACKEND* PlatWindowBackendInUse(void) { return g_pBackend; }

int PlatValidateWindow(PLAT_HWND hwnd)
{
    int bErase;
    {
        std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
        auto it = g_mapWindows.find(hwnd);
        if (it == g_mapWindows.end()) return -1;
        bErase = it->second->bErase;
        it->second->bErase = 0;
        it->second->bInvalid = 0;
    }
    if (bErase) PlatSendMessage(hwnd, PLAT_WM_ERASEBKGND, 0, 0);
    return 0;
}

int PlatSetTimer(PLAT_HWND hwnd, uintptr_t nId, uint32_t nMs)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    if (!g_mapWindows.count(hwnd)) return -1;
    if (nMs == 0) nMs = 1;
    for (auto& t : g_dqTimers)
        if (t.hwnd == hwnd && t.nId == nId) {
            t.nMs = nMs;
            t.nDue = NowMs() + nMs;
            return 0;
        }
    g_dqTimers.push_back(WINDOW_TIMER{hwnd, nId, nMs, NowMs() + nMs});
    return 0;
}

int PlatKillTimer(PLAT_HWND hwnd, uintptr_t nId)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    for (auto it = g_dqTimers.begin(); it != g_dqTimers.end(); ++it)
        if (it->hwnd == hwnd && it->nId == nId) {
            g_dqTimers.erase(it);
            return 0;
        }
    return -1;
}

// ---- Windows ------------------------------------------------------------------------------------

PLAT_WINDOW_REC* PlatLookupWindow(PLAT_HWND hwnd)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    auto it = g_mapWindows.find(hwnd);
    return it == g_mapWindows.end() ? nullptr : it->second.get();
}

PLAT_HWND PlatCreateWindow(const char* pszClass, const char* pszTitleCp932, uint32_t nStyle, int x, int y,
                           int w, int h, PLAT_HWND hwndParent, PLAT_WNDPROC pfnProc, void* pUser)
{
    return PlatCreateWindowEx(0, pszClass, pszTitleCp932, nStyle, x, y, w, h, hwndParent, pfnProc, pUser);
}

PLAT_HWND PlatCreateWindowEx(uint32_t nExStyle, const char* pszClass, const char* pszTitleCp932, uint32_t nStyle,
                             int x, int y, int w, int h, PLAT_HWND hwndParent, PLAT_WNDPROC pfnProc, void* pUser)
{
    PLAT_HWND hwnd = 0;
    OnWindowThreadDo([&] {
        if (!OnWindowThread()) return;
        auto pRec = std::make_unique<PLAT_WINDOW_REC>();
        pRec->hwndParent = PlatIsWindow(hwndParent) ? hwndParent : 0;
        pRec->pfnProc = pfnProc;
        pRec->pUser = pUser;
        pRec->nStyle = nStyle & ~(PLAT_WS_VISIBLE | PLAT_WS_MINIMIZE | PLAT_WS_MAXIMIZE);
        pRec->nExStyle = nExStyle & (PLAT_WS_EX_TOPMOST | PLAT_WS_EX_TOOLWINDOW);
        pRec->bTopmost = (nExStyle & PLAT_WS_EX_TOPMOST) ? 1 : 0;
        pRec->nOpacity = 256;
        pRec->strClass = pszClass ? pszClass : "";
        pRec->strTitle = pszTitleCp932 ? pszTitleCp932 : "";
        int32_t ins[4];
        GetInsets(pRec->nStyle, ins);
        pRec->nClientX = x + ins[0];
        pRec->nClientY = y + ins[1];
        pRec->nClientW = w - ins[0] - ins[2] > 0 ? w - ins[0] - ins[2] : 0;
        pRec->nClientH = h - ins[1] - ins[3] > 0 ? h - ins[1] - ins[3] : 0;
        pRec->rcRestore = ClientRectOf(pRec.get());
        ResizePixels(pRec.get());
        PLAT_WINDOW_REC* pRaw = pRec.get();
        {
            std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
            pRaw->hwnd = g_hwndNext++;
            if (g_pBackend->pfnCreate(pRaw) != 0) {
                FreePixels(pRaw);
                return;
            }
            g_mapWindows[pRaw->hwnd] = std::move(pRec);
            if (!(pRaw->nStyle & PLAT_WS_CHILD)) {
                // A new window comes in front of the others, below the topmost ones (a topmost one
                // in front of them all).
                auto it = g_vStack.begin();
                while (!pRaw->bTopmost && it != g_vStack.end() && PlatLookupWindow(*it) && PlatLookupWindow(*it)->bTopmost)
                    ++it;
                g_vStack.insert(it, pRaw->hwnd);
            }
        }
        PLAT_HWND hNew = pRaw->hwnd;
        if (PlatSendMessage(hNew, PLAT_WM_CREATE, 0, (intptr_t)pUser) == -1) {
            PlatDestroyWindow(hNew);
            return;
        }
        if (!PlatIsWindow(hNew)) return;
        if (nStyle & PLAT_WS_VISIBLE)
            PlatShowWindow(hNew, (nStyle & PLAT_WS_MAXIMIZE) ? PLAT_SW_SHOWMAXIMIZED
                                 : (nStyle & PLAT_WS_MINIMIZE) ? PLAT_SW_SHOWMINIMIZED : PLAT_SW_SHOW);
        hwnd = PlatIsWindow(hNew) ? hNew : 0;
    });
    return hwnd;
}

int PlatDestroyWindow(PLAT_HWND hwnd)
{
    int nResult = -1;
    OnWindowThreadDo([&] {
        {
            std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
            auto it = g_mapWindows.find(hwnd);
            if (it == g_mapWindows.end() || it->second->bDestroying) return;
            it->second->bDestroying = 1;
        }
        PlatSendMessage(hwnd, PLAT_WM_DESTROY, 0, 0);
        for (;;) {
            PLAT_HWND hwndChild = 0;
            {
                std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
                for (auto& kv : g_mapWindows)
                    if (kv.second->hwndParent == hwnd && !kv.second->bDestroying) {
                        hwndChild = kv.first;
                        break;
                    }
            }
            if (!hwndChild) break;
            PlatDestroyWindow(hwndChild);
        }
        std::unique_ptr<PLAT_WINDOW_REC> pRec;
        {
            std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
            auto it = g_mapWindows.find(hwnd);
            if (it == g_mapWindows.end()) return;
            pRec = std::move(it->second);
            g_mapWindows.erase(it);
            g_vStack.erase(std::remove(g_vStack.begin(), g_vStack.end(), hwnd), g_vStack.end());
            for (auto t = g_dqTimers.begin(); t != g_dqTimers.end();) {
                if (t->hwnd == hwnd) t = g_dqTimers.erase(t);
                else ++t;
            }
        }
        g_pBackend->pfnDestroy(pRec.get());
        FreePixels(pRec.get());
        RemoveWindowMessages(hwnd);
        nResult = 0;
    });
    return nResult;
}

int PlatIsWindow(PLAT_HWND hwnd)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    return hwnd && g_mapWindows.count(hwnd) ? 1 : 0;
}

PLAT_HWND PlatFindWindow(const char* pszClass, const char* pszTitleCp932)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    for (auto& kv : g_mapWindows) {
        if (pszClass && kv.second->strClass != pszClass) continue;
        if (pszTitleCp932 && kv.second->strTitle != pszTitleCp932) continue;
        return kv.first;
    }
    return 0;
}

void* PlatGetWindowUser(PLAT_HWND hwnd)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    return p ? p->pUser : nullptr;
}

void PlatSetWindowUser(PLAT_HWND hwnd, void* pUser)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    if (PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd)) p->pUser = pUser;
}

uint32_t PlatGetWindowStyle(PLAT_HWND hwnd)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    if (!p) return 0;
    uint32_t n = p->nStyle;
    if (p->bVisible) n |= PLAT_WS_VISIBLE;
    if (p->nShowState == PLAT_SIZE_MINIMIZED) n |= PLAT_WS_MINIMIZE;
    if (p->nShowState == PLAT_SIZE_MAXIMIZED) n |= PLAT_WS_MAXIMIZE;
    return n;
}

int PlatSetWindowStyle(PLAT_HWND hwnd, uint32_t nStyle)
{
    int nResult = -1;
    OnWindowThreadDo([&] {
        PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
        if (!p) return;
        p->nStyle = nStyle & ~(PLAT_WS_VISIBLE | PLAT_WS_MINIMIZE | PLAT_WS_MAXIMIZE);
        g_pBackend->pfnApplyStyle(p);
        nResult = 0;
        PlatUpdateWindowSizeLimits(hwnd);
    });
    return nResult;
}

uint32_t PlatGetWindowExStyle(PLAT_HWND hwnd)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    return p ? p->nExStyle : 0;
}

int PlatSetWindowOpacity(PLAT_HWND hwnd, int nAlpha)
{
    int nResult = -1;
    OnWindowThreadDo([&] {
        PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
        if (!p) return;
        p->nOpacity = std::clamp(nAlpha, 0, 256);
        g_pBackend->pfnApplyStyle(p);
        nResult = 0;
    });
    return nResult;
}

int PlatGetWindowOpacity(PLAT_HWND hwnd)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    return p ? p->nOpacity : -1;
}

void PlatAdjustWindowRect(PLAT_RECT* pRect, uint32_t nStyle, int bMenu)
{
    if (!pRect) return;
    int32_t ins[4];
    GetInsets(nStyle, ins);
    pRect->left -= ins[0];
    pRect->top -= ins[1] + (bMenu ? PLAT_MENU_BAR_HEIGHT : 0);
    pRect->right += ins[2];
    pRect->bottom += ins[3];
}

int PlatGetClientRect(PLAT_HWND hwnd, PLAT_RECT* pRect)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    if (!p || !pRect) return -1;
    *pRect = PLAT_RECT{0, 0, p->nClientW, p->nClientH};
    return 0;
}

int PlatGetWindowRect(PLAT_HWND hwnd, PLAT_RECT* pRect)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    if (!p || !pRect) return -1;
    *pRect = OuterRect(p);
    return 0;
}

int PlatClientToScreen(PLAT_HWND hwnd, int32_t* pX, int32_t* pY)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    if (!p) return -1;
    int32_t dx = 0, dy = 0;
    for (; p; p = (p->nStyle & PLAT_WS_CHILD) ? PlatLookupWindow(p->hwndParent) : nullptr) {
        dx += p->nClientX;
        dy += p->nClientY;
    }
    if (pX) *pX += dx;
    if (pY) *pY += dy;
    return 0;
}

namespace {

// Stores a new client rectangle; bit 0 of the result: moved, bit 1: resized.
int UpdateClientRect(PLAT_HWND hwnd, int x, int y, int w, int h)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    if (!p) return 0;
    if (w < 0) w = 0;
    if (h < 0) h = 0;
    int nChanged = (x != p->nClientX || y != p->nClientY ? 1 : 0) | (w != p->nClientW || h != p->nClientH ? 2 : 0);
    p->nClientX = x;
    p->nClientY = y;
    p->nClientW = w;
    p->nClientH = h;
    if (nChanged & 2) {
        ResizePixels(p);
        PlatMarkWindowInvalid(p, 1);
    }
    return nChanged;
}

void SendMoveSize(PLAT_HWND hwnd, int nChanged)
{
    int x, y, w, h, nState;
    {
        std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
        PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
        if (!p) return;
        x = p->nClientX, y = p->nClientY, w = p->nClientW, h = p->nClientH, nState = p->nShowState;
    }
    // As on Windows, the window hears of a new position or size as a whole first.
    if (nChanged) PlatSendMessage(hwnd, PLAT_WM_WINDOWPOSCHANGED, 0, 0);
    if (nChanged & 1) PlatSendMessage(hwnd, PLAT_WM_MOVE, 0, PlatMakeLParam(x, y));
    // A minimised window reports no geometry.
    if ((nChanged & 2) && nState != PLAT_SIZE_MINIMIZED)
        PlatSendMessage(hwnd, PLAT_WM_SIZE, (uintptr_t)nState, PlatMakeLParam(w, h));
}

}  // namespace

void PlatNoteClientMoveSize(PLAT_HWND hwnd, int x, int y, int w, int h)
{
    SendMoveSize(hwnd, UpdateClientRect(hwnd, x, y, w, h));
}

int PlatIsFixedSizeMaximisable(uint32_t nStyle)
{
    return !(nStyle & (PLAT_WS_THICKFRAME | PLAT_WS_CHILD)) && (nStyle & PLAT_WS_CAPTION) == PLAT_WS_CAPTION &&
                   (nStyle & PLAT_WS_MAXIMIZEBOX)
               ? 1
               : 0;
}

void PlatNoteUserResize(PLAT_HWND hwnd, int* pW, int* pH)
{
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    if (!p || (*pW == p->nClientW && *pH == p->nClientH)) return;
    // Without a sizing frame the size stays; only maximising changes it.
    if (PlatIsFixedSizeMaximisable(p->nStyle)) {
        *pW = p->nClientW;
        *pH = p->nClientH;
        return;
    }
    // Only the far edges can be told apart from the sizes alone.
    const int nEdge = *pW != p->nClientW && *pH != p->nClientH ? PLAT_WMSZ_BOTTOMRIGHT
                      : *pW != p->nClientW                     ? PLAT_WMSZ_RIGHT
                                                               : PLAT_WMSZ_BOTTOM;
    int32_t ins[4];
    GetRecInsets(p, ins);
    PLAT_RECT rc{p->nClientX - ins[0], p->nClientY - ins[1], p->nClientX + *pW + ins[2], p->nClientY + *pH + ins[3]};
    PlatSendMessage(hwnd, PLAT_WM_SIZING, static_cast<uintptr_t>(nEdge), reinterpret_cast<intptr_t>(&rc));
    const int w = (rc.right - rc.left) - ins[0] - ins[2], h = (rc.bottom - rc.top) - ins[1] - ins[3];
    if (w > 0 && h > 0) {
        *pW = w;
        *pH = h;
    }
    if ((p = PlatLookupWindow(hwnd)) != nullptr) PlatClampToSizeLimits(p, pW, pH);
}

int PlatSetWindowPos(PLAT_HWND hwnd, int x, int y, int w, int h, uint32_t nFlags)
{
    int nResult = -1;
    OnWindowThreadDo([&] {
        PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
        if (!p) return;
        int32_t ins[4];
        GetRecInsets(p, ins);
        int cx = (nFlags & PLAT_SWP_NOMOVE) ? p->nClientX : x + ins[0];
        int cy = (nFlags & PLAT_SWP_NOMOVE) ? p->nClientY : y + ins[1];
        int cw = (nFlags & PLAT_SWP_NOSIZE) ? p->nClientW : w - ins[0] - ins[2];
        int ch = (nFlags & PLAT_SWP_NOSIZE) ? p->nClientH : h - ins[1] - ins[3];
        int nChanged = UpdateClientRect(hwnd, cx, cy, cw, ch);
        g_pBackend->pfnApplyGeometry(p);
        nResult = 0;
        SendMoveSize(hwnd, nChanged);
        if (nFlags & PLAT_SWP_SHOWWINDOW) PlatShowWindow(hwnd, PLAT_SW_SHOWNA);
        if (nFlags & PLAT_SWP_HIDEWINDOW) PlatShowWindow(hwnd, PLAT_SW_HIDE);
    });
    return nResult;
}

static void ApplyCursorOnWindowThread(void*)
{
    if (g_pBackend) g_pBackend->pfnShowCursor(g_bCursorShownNow.load());
}

void PlatShowCursor(int bShow)
{
    g_bCursorShownNow = bShow ? 1 : 0;
    PlatRunOnWindowThread(ApplyCursorOnWindowThread, nullptr, 0);
}

int PlatIsCursorShown(void) { return g_bCursorShownNow.load(); }

int PlatSetForegroundWindow(PLAT_HWND hwnd)
{
    int r = -1;
    OnWindowThreadDo([&] {
        PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
        if (!p || (p->nStyle & PLAT_WS_CHILD)) return;
        g_pBackend->pfnRaise(p);
        r = 0;
    });
    return r;
}

int PlatShowWindow(PLAT_HWND hwnd, int nCmd)
{
    int nWasVisible = 0;
    OnWindowThreadDo([&] {
        PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
        if (!p) return;
        nWasVisible = p->bVisible;
        int bVisible = nCmd != PLAT_SW_HIDE;
        int nState = p->nShowState;
        switch (nCmd) {
        case PLAT_SW_SHOWMINIMIZED: case PLAT_SW_MINIMIZE: case PLAT_SW_SHOWMINNOACTIVE:
            nState = PLAT_SIZE_MINIMIZED; break;
        case PLAT_SW_SHOWMAXIMIZED: nState = PLAT_SIZE_MAXIMIZED; break;
        case PLAT_SW_SHOWNORMAL: case PLAT_SW_RESTORE: nState = PLAT_SIZE_RESTORED; break;
        default: break;
        }
        if (bVisible != p->bVisible) PlatSendMessage(hwnd, PLAT_WM_SHOWWINDOW, (uintptr_t)bVisible, 0);
        p = PlatLookupWindow(hwnd);
        if (!p) return;
        int nOldState = p->nShowState;
        if (nState == PLAT_SIZE_MAXIMIZED && nOldState != PLAT_SIZE_MAXIMIZED) p->rcRestore = ClientRectOf(p);
        p->bVisible = bVisible;
        p->bHiddenBySystem = 0;
        p->nShowState = nState;
        // The limits of the new state (none while maximised) before the window system applies it.
        PlatUpdateWindowSizeLimits(hwnd);
        if ((p = PlatLookupWindow(hwnd)) == nullptr) return;
        g_pBackend->pfnApplyShow(p);
        if (bVisible) PlatMarkWindowInvalid(p, 1);
        // A child window is drawn by its parent (a menu bar over the parent's picture).
        if ((p->nStyle & PLAT_WS_CHILD) && bVisible != nWasVisible) PlatInvalidateWindow(p->hwndParent, 0);
        if (nState != nOldState) {
            // A new show state is a change of the window's placement too.
            PlatSendMessage(hwnd, PLAT_WM_WINDOWPOSCHANGED, 0, 0);
            if ((p = PlatLookupWindow(hwnd)) == nullptr) return;
            if (nState == PLAT_SIZE_MINIMIZED) {
                PlatSendMessage(hwnd, PLAT_WM_SIZE, PLAT_SIZE_MINIMIZED, 0);
            } else if (nOldState == PLAT_SIZE_MAXIMIZED && nState == PLAT_SIZE_RESTORED) {
                // Back to the client rectangle it had before it was maximised, in the frame it has now
                // (a frame switched meanwhile leaves the picture where it was).
                PLAT_RECT rc = p->rcRestore;
                PlatAdjustWindowRect(&rc, p->nStyle, PlatMenuBarInset(p) > 0 ? 1 : 0);
                PlatSetWindowPos(hwnd, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, PLAT_SWP_NOZORDER);
                if ((p = PlatLookupWindow(hwnd)) != nullptr)
                    PlatSendMessage(hwnd, PLAT_WM_SIZE, PLAT_SIZE_RESTORED, PlatMakeLParam(p->nClientW, p->nClientH));
            } else {
                PlatSendMessage(hwnd, PLAT_WM_SIZE, (uintptr_t)nState, PlatMakeLParam(p->nClientW, p->nClientH));
            }
            PlatUpdateWindowSizeLimits(hwnd);
        }
    });
    return nWasVisible;
}

int PlatIsWindowVisible(PLAT_HWND hwnd)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    return p && p->bVisible ? 1 : 0;
}

int PlatIsIconic(PLAT_HWND hwnd)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    return p && p->nShowState == PLAT_SIZE_MINIMIZED ? 1 : 0;
}

int PlatIsWindowOutOfSight(PLAT_HWND hwnd)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    return p && p->bVisible && (p->bHiddenBySystem || p->nShowState == PLAT_SIZE_MINIMIZED) ? 1 : 0;
}

int PlatIsZoomed(PLAT_HWND hwnd)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    return p && p->nShowState == PLAT_SIZE_MAXIMIZED ? 1 : 0;
}

int PlatSetWindowText(PLAT_HWND hwnd, const char* pszTitleCp932)
{
    int nResult = -1;
    OnWindowThreadDo([&] {
        PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
        if (!p) return;
        p->strTitle = pszTitleCp932 ? pszTitleCp932 : "";
        g_pBackend->pfnApplyTitle(p);
        nResult = 0;
    });
    return nResult;
}

int PlatGetWindowText(PLAT_HWND hwnd, char* pszOut, int cap)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    if (!p || !pszOut || cap <= 0) return -1;
    const std::string& s = p->strTitle;
    size_t n = 0;
    // Whole cp932 characters only: a lead byte takes its trail byte with it.
    while (n < s.size()) {
        unsigned char c = (unsigned char)s[n];
        size_t nLen = ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) ? 2 : 1;
        if (n + nLen > s.size() || n + nLen > (size_t)cap - 1) break;
        n += nLen;
    }
    memcpy(pszOut, s.data(), n);
    pszOut[n] = 0;
    return (int)n;
}

// ---- Modal boxes ------------------------------------------------------------------------------------

namespace {

// The windows whose retained picture a modal loop showed again; they get their own paint after it.
std::vector<PLAT_HWND> g_vRepaintAfterModal;

// Shows the picture the window had again, where it can be seen.
void ShowRetainedPicture(PLAT_WINDOW_REC* p)
{
    if (p->bVisible && !p->bHiddenBySystem && p->nShowState != PLAT_SIZE_MINIMIZED) g_pBackend->pfnPresent(p, nullptr);
}

// What a person does to a window: keys, characters, the mouse, the frame's commands and drops.
bool IsUserInput(uint32_t nMsg)
{
    return (nMsg >= PLAT_WM_KEYDOWN && nMsg <= 0x0109u) || (nMsg >= PLAT_WM_MOUSEMOVE && nMsg <= 0x020Eu) ||
           (nMsg >= 0x00A0u && nMsg <= 0x00ADu) || nMsg == PLAT_WM_SYSCOMMAND || nMsg == PLAT_WM_DROPFILES;
}

}  // namespace

int PlatTakeModalMessage(PLAT_HWND hwndModal, PLAT_MSG* pMsg, uint32_t nMs)
{
    if (!pMsg || !PlatIsWindowThread()) return 0;
    PumpBackend();
    std::vector<uintptr_t> vDropped;
    int bTaken = 0;
    {
        std::lock_guard<std::mutex> lk(g_mxQueue);
        for (auto it = g_dqMessages.begin(); it != g_dqMessages.end();) {
            if (it->hwnd == hwndModal) {
                *pMsg = *it;
                g_dqMessages.erase(it);
                bTaken = 1;
                break;
            }
            if (it->hwnd && IsUserInput(it->message)) {
                if (it->message == PLAT_WM_DROPFILES) vDropped.push_back(it->wParam);
                it = g_dqMessages.erase(it);
                continue;
            }
            ++it;
        }
        if (!bTaken && g_bQuitPending) {
            *pMsg = PLAT_MSG{0, PLAT_WM_QUIT, g_nQuitCode, 0, NowMs()};
            g_bQuitPending = 0;
            bTaken = 1;
        }
    }
    for (uintptr_t hDrop : vDropped) PlatDragFinish(hDrop);
    if (bTaken) return 1;
    {
        std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
        for (auto& kv : g_mapWindows) {
            PLAT_WINDOW_REC* p = kv.second.get();
            if (!p->bInvalid || p->bDestroying) continue;
            if (kv.first == hwndModal) {
                *pMsg = PLAT_MSG{kv.first, PLAT_WM_PAINT, 0, 0, NowMs()};
                return 1;
            }
            // The picture it had is shown again; the program paints it anew once the box is gone.
            p->bInvalid = 0;
            ShowRetainedPicture(p);
            if (std::find(g_vRepaintAfterModal.begin(), g_vRepaintAfterModal.end(), kv.first) == g_vRepaintAfterModal.end())
                g_vRepaintAfterModal.push_back(kv.first);
        }
    }
    {
        std::lock_guard<std::mutex> lk(g_mxQueue);
        if (!g_dqCalls.empty()) return 0;
    }
    g_pBackend->pfnWait(nMs);
    return 0;
}

PLAT_HWND PlatFindOwnerWindow(const char* pszSkipClass)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    for (auto& kv : g_mapWindows) {
        const PLAT_WINDOW_REC* p = kv.second.get();
        if (p->bVisible && !p->bDestroying && !(p->nStyle & PLAT_WS_CHILD) && (!pszSkipClass || p->strClass != pszSkipClass))
            return kv.first;
    }
    return 0;
}

void PlatEndModalLoop(void)
{
    std::vector<PLAT_HWND> v;
    v.swap(g_vRepaintAfterModal);
    for (PLAT_HWND hwnd : v) PlatInvalidateWindow(hwnd, 0);
}

int PlatServeCloseRequestsInWait(void)
{
    if (!PlatIsWindowThread()) {
        // The frames run on a thread of their own, which waits here: the window thread serves for
        // it (its message loop dispatches nothing while the frames are not in their pacing wait).
        int nResult = 0;
        const auto Serve = [](void* p) {
            PlatServeWindowThreadInWait(PLAT_SERVE_ALL);
            *static_cast<int*>(p) = PlatServeCloseRequestsInWait();
        };
        return PlatRunOnWindowThread(Serve, &nResult, 1) == 0 ? nResult : 0;
    }
    for (;;) {
        PLAT_MSG m{};
        bool bFound = false;
        {
            std::lock_guard<std::mutex> lk(g_mxQueue);
            for (auto it = g_dqMessages.begin(); it != g_dqMessages.end(); ++it) {
                if (it->message == PLAT_WM_SYSCOMMAND && (it->wParam & 0xFFF0u) == PLAT_SC_CLOSE) {
                    m = *it;
                    g_dqMessages.erase(it);
                    bFound = true;
                    break;
                }
            }
        }
        if (!bFound) break;
        PlatDispatchMessage(&m);
    }
    std::lock_guard<std::mutex> lk(g_mxQueue);
    if (g_bQuitPending) return 1;
    for (const PLAT_MSG& m : g_dqMessages)
        if (m.message == PLAT_WM_CLOSE) return 1;
    return 0;
}

int PlatServeWindowThreadInWait(int nServe)
{
    // Nested turns (a wait inside a call served here) only run the calls: the backend's events are
    // being taken further out.
    thread_local int s_nDepth = 0;
    thread_local uint32_t s_nLastShown = 0;
    if (!PlatIsWindowThread()) return 0;
    if (nServe == PLAT_SERVE_WAITED_FOR) {
        RunQueuedCalls(true);
        return 1;
    }
    ++s_nDepth;
    if (s_nDepth == 1) {
        PumpBackend();
        const uint32_t nNow = NowMs();
        if (nNow - s_nLastShown >= 100) {
            s_nLastShown = nNow;
            // Left invalid: the program's own paint follows once the wait is over.
            std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
            for (auto& kv : g_mapWindows)
                if (kv.second->bInvalid && !kv.second->bDestroying) ShowRetainedPicture(kv.second.get());
        }
    } else {
        RunQueuedCalls();
    }
    --s_nDepth;
    return 1;
}

// ---- Input in the Win32 form --------------------------------------------------------------------

void PlatQueueKey(PLAT_HWND hwnd, int nVk, int bDown, int bRepeat, int bExtended)
{
    if (nVk <= 0 || nVk > 255) return;
    int bWasDown = g_abKeyDown[nVk];
    // The generic and the sided codes move together, as GetKeyState reports them.
    SetKeyState(nVk, bDown);
    if (nVk == PLAT_VK_LSHIFT || nVk == PLAT_VK_RSHIFT)
        SetKeyState(PLAT_VK_SHIFT, g_abKeyDown[PLAT_VK_LSHIFT] || g_abKeyDown[PLAT_VK_RSHIFT]);
    if (nVk == PLAT_VK_LCONTROL || nVk == PLAT_VK_RCONTROL)
        SetKeyState(PLAT_VK_CONTROL, g_abKeyDown[PLAT_VK_LCONTROL] || g_abKeyDown[PLAT_VK_RCONTROL]);
    if (nVk == PLAT_VK_LMENU || nVk == PLAT_VK_RMENU)
        SetKeyState(PLAT_VK_MENU, g_abKeyDown[PLAT_VK_LMENU] || g_abKeyDown[PLAT_VK_RMENU]);
    // Messages carry the generic code for the modifier keys.
    int nMsgVk = nVk;
    if (nVk == PLAT_VK_LSHIFT || nVk == PLAT_VK_RSHIFT) nMsgVk = PLAT_VK_SHIFT;
    if (nVk == PLAT_VK_LCONTROL || nVk == PLAT_VK_RCONTROL) nMsgVk = PLAT_VK_CONTROL;
    if (nVk == PLAT_VK_LMENU || nVk == PLAT_VK_RMENU) nMsgVk = PLAT_VK_MENU;
    int bAlt = g_abKeyDown[PLAT_VK_MENU] != 0;
    // Repeat count 1, extended bit 24, context (Alt) bit 29, previous state bit 30, transition bit 31.
    uint32_t n = 1;
    if (bExtended) n |= 1u << 24;
    if (bAlt) n |= 1u << 29;
    if (!bDown || bRepeat || bWasDown) n |= 1u << 30;
    if (!bDown) n |= 1u << 31;
    // Keys pressed with Alt, F10 and Alt itself are system keys; Ctrl+Alt is not.
    int bSys = (bAlt && !g_abKeyDown[PLAT_VK_CONTROL]) || nMsgVk == PLAT_VK_F10 || (nMsgVk == PLAT_VK_MENU && bDown) ||
               (nMsgVk == PLAT_VK_MENU && !bDown && !g_abKeyDown[PLAT_VK_CONTROL]);
    uint32_t nMsg = bDown ? (bSys ? PLAT_WM_SYSKEYDOWN : PLAT_WM_KEYDOWN) : (bSys ? PLAT_WM_SYSKEYUP : PLAT_WM_KEYUP);
    if (PlatEditBoxRouteKey(hwnd, nMsgVk, bDown)) return;
    PlatPostMessage(hwnd, nMsg, (uintptr_t)nMsgVk, (intptr_t)n);
}

void PlatQueueChar(PLAT_HWND hwnd, uint32_t nChar)
{
    PlatPostMessage(hwnd, PLAT_WM_CHAR, nChar, 1);
}

// The cursor in screen pixels as the last mouse event placed it; unknown until the first one.
static std::atomic<int64_t> s_llCursorScreen{INT64_MIN};

void PlatNoteCursorScreenPos(int32_t x, int32_t y)
{
    s_llCursorScreen.store((static_cast<int64_t>(x) << 32) | static_cast<uint32_t>(y));
}

static void NoteCursorClientPos(PLAT_HWND hwnd, int x, int y)
{
    int32_t sx = x, sy = y;
    if (PlatClientToScreen(hwnd, &sx, &sy) == 0) PlatNoteCursorScreenPos(sx, sy);
}

int PlatGetCursorPos(int32_t* pX, int32_t* pY)
{
    const int64_t ll = s_llCursorScreen.load();
    if (ll == INT64_MIN || !pX || !pY) return -1;
    *pX = static_cast<int32_t>(ll >> 32);
    *pY = static_cast<int32_t>(static_cast<uint32_t>(ll));
    return 0;
}

void PlatQueueMouseMove(PLAT_HWND hwnd, int x, int y)
{
    NoteCursorClientPos(hwnd, x, y);
    PlatNoteMouseOverWindow(hwnd);
    if (PlatMenuRouteMouse(hwnd, 0, 0, x, y) || PlatEditBoxRouteMouse(hwnd, 0, 0, x, y)) return;
    PlatPostMessage(hwnd, PLAT_WM_MOUSEMOVE, MouseFlags(), PlatMakeLParam(x, y));
}

void PlatQueueMouseButton(PLAT_HWND hwnd, int nButton, int bDown, int x, int y)
{
    static const int anVk[6] = {0, PLAT_VK_LBUTTON, PLAT_VK_RBUTTON, PLAT_VK_MBUTTON, PLAT_VK_XBUTTON1, PLAT_VK_XBUTTON2};
    if (nButton < 1 || nButton > 5) return;
    NoteCursorClientPos(hwnd, x, y);
    PlatNoteMouseOverWindow(hwnd);
    SetKeyState(anVk[nButton], bDown);
    if (PlatMenuRouteMouse(hwnd, nButton, bDown, x, y) || PlatEditBoxRouteMouse(hwnd, nButton, bDown, x, y)) return;
    uint32_t nMsg;
    uintptr_t wParam = MouseFlags();
    switch (nButton) {
    case 1: nMsg = bDown ? PLAT_WM_LBUTTONDOWN : PLAT_WM_LBUTTONUP; break;
    case 2: nMsg = bDown ? PLAT_WM_RBUTTONDOWN : PLAT_WM_RBUTTONUP; break;
    case 3: nMsg = bDown ? PLAT_WM_MBUTTONDOWN : PLAT_WM_MBUTTONUP; break;
    default:
        nMsg = bDown ? PLAT_WM_XBUTTONDOWN : PLAT_WM_XBUTTONUP;
        wParam |= (uintptr_t)(nButton == 4 ? PLAT_XBUTTON1 : PLAT_XBUTTON2) << 16;
        break;
    }
    PlatPostMessage(hwnd, nMsg, wParam, PlatMakeLParam(x, y));
}

void PlatQueueMouseWheel(PLAT_HWND hwnd, int nDelta, int x, int y)
{
    int32_t sx = x, sy = y;
    if (PlatClientToScreen(hwnd, &sx, &sy) != 0) return;
    uintptr_t wParam = MouseFlags() | ((uintptr_t)(uint16_t)(int16_t)nDelta << 16);
    PlatPostMessage(hwnd, PLAT_WM_MOUSEWHEEL, wParam, PlatMakeLParam(sx, sy));
}

// The boxes marked modal, the latest last (window thread only).
static std::vector<PLAT_HWND> g_vModalBoxes;

void PlatMarkModalBox(PLAT_HWND hwnd)
{
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    if (!p || !g_pBackend) return;
    p->bModalBox = 1;
    g_vModalBoxes.push_back(hwnd);
    g_pBackend->pfnApplyStyle(p);
}

// The latest modal box still shown, or 0; boxes gone are forgotten.
static PLAT_WINDOW_REC* OpenModalBox(void)
{
    while (!g_vModalBoxes.empty()) {
        PLAT_WINDOW_REC* p = PlatLookupWindow(g_vModalBoxes.back());
        if (p && p->bModalBox && p->bVisible && !p->bDestroying) return p;
        g_vModalBoxes.pop_back();
    }
    return nullptr;
}

void PlatNoteFocus(PLAT_HWND hwnd, int bGained)
{
    if (bGained && g_pBackend) {
        // Another of the program's windows while a box waits for its answer: the box takes the
        // keyboard back, and the other window is not activated (its owner is disabled on Windows).
        PLAT_WINDOW_REC* pBox = OpenModalBox();
        PLAT_WINDOW_REC* pGot = PlatLookupWindow(hwnd);
        if (pBox && pBox->hwnd != hwnd && pGot && !pGot->bModalBox) {
            g_pBackend->pfnRaise(pBox);
            return;
        }
    }
    if (bGained) {
        PlatSendMessage(hwnd, PLAT_WM_ACTIVATEAPP, 1, 0);
        PlatSendMessage(hwnd, PLAT_WM_ACTIVATE, PLAT_WA_ACTIVE, 0);
        PlatSendMessage(hwnd, PLAT_WM_SETFOCUS, 0, 0);
    } else {
        // Keys held while focus leaves would otherwise stay down for ever.
        for (auto& b : g_abKeyDown) b = 0;
        PlatSendMessage(hwnd, PLAT_WM_KILLFOCUS, 0, 0);
        PlatSendMessage(hwnd, PLAT_WM_ACTIVATE, PLAT_WA_INACTIVE, 0);
        PlatSendMessage(hwnd, PLAT_WM_ACTIVATEAPP, 0, 0);
    }
}

int PlatGetKeyDown(int nVk)
{
    return nVk > 0 && nVk < 256 && g_abKeyDown[nVk] ? 1 : 0;
}

int PlatTakeKeyPress(int nVk)
{
    return nVk > 0 && nVk < 256 && g_abKeyPressed[nVk].exchange(0) ? 1 : 0;
}

// ---- Stacking, flashing, window shape ----------------------------------------------------------

int PlatSetWindowZOrder(PLAT_HWND hwnd, int nWhere, PLAT_HWND hwndAfter)
{
    int nResult = -1;
    OnWindowThreadDo([&] {
        PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
        if (!p || (p->nStyle & PLAT_WS_CHILD)) return;
        PLAT_WINDOW_REC* pAfter = nullptr;
        if (nWhere == PLAT_Z_BEHIND) {
            pAfter = PlatLookupWindow(hwndAfter);
            if (!pAfter || (pAfter->nStyle & PLAT_WS_CHILD)) return;
            if (hwndAfter == hwnd) {
                nResult = 0;
                return;
            }
        }
        {
            std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
            auto Remove = [&] { g_vStack.erase(std::remove(g_vStack.begin(), g_vStack.end(), hwnd), g_vStack.end()); };
            switch (nWhere) {
            case PLAT_Z_TOPMOST:
                p->bTopmost = 1;
                p->bBelow = 0;
                Remove();
                g_vStack.insert(g_vStack.begin(), hwnd);
                break;
            case PLAT_Z_NOTOPMOST:
                p->bTopmost = 0;
                p->bBelow = 0;
                break;
            case PLAT_Z_TOP: {
                p->bBelow = 0;
                Remove();
                auto it = g_vStack.begin();
                if (!p->bTopmost)
                    while (it != g_vStack.end() && PlatLookupWindow(*it) && PlatLookupWindow(*it)->bTopmost) ++it;
                g_vStack.insert(it, hwnd);
                break;
            }
            case PLAT_Z_BOTTOM:
                // As on Windows, a window sent to the bottom is no longer topmost.
                p->bTopmost = 0;
                p->bBelow = 1;
                Remove();
                g_vStack.push_back(hwnd);
                break;
            case PLAT_Z_BEHIND: {
                Remove();
                auto it = std::find(g_vStack.begin(), g_vStack.end(), hwndAfter);
                g_vStack.insert(it == g_vStack.end() ? it : it + 1, hwnd);
                p->bTopmost = pAfter->bTopmost;
                break;
            }
            default:
                return;
            }
        }
        g_pBackend->pfnApplyZOrder(p, nWhere, pAfter);
        nResult = 0;
    });
    return nResult;
}

int PlatGetWindowZOrder(PLAT_HWND hwnd, int* pbTopmost)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    if (!p) return -1;
    if (pbTopmost) *pbTopmost = p->bTopmost;
    auto it = std::find(g_vStack.begin(), g_vStack.end(), hwnd);
    return it == g_vStack.end() ? -1 : static_cast<int>(it - g_vStack.begin());
}

int PlatFlashWindow(PLAT_HWND hwnd, int nCount, int nIntervalMs)
{
    int nResult = -1;
    OnWindowThreadDo([&] {
        PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
        if (!p) return;
        p->nFlashes++;
        p->nLastFlashCount = nCount;
        nResult = g_pBackend->pfnFlash(p, nCount, nIntervalMs);
    });
    return nResult;
}

int PlatGetFlashCount(PLAT_HWND hwnd, int* pnLastCount)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    if (!p) return -1;
    if (pnLastCount) *pnLastCount = p->nLastFlashCount;
    return p->nFlashes;
}

int PlatSetWindowRegion(PLAT_HWND hwnd, const PLAT_RECT* pRects, int nCount)
{
    int nResult = -1;
    OnWindowThreadDo([&] {
        PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
        if (!p || (nCount > 0 && !pRects)) return;
        {
            std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
            p->bHasRegion = nCount >= 0 ? 1 : 0;
            p->vRegion.assign(pRects, pRects + (nCount > 0 ? nCount : 0));
        }
        g_pBackend->pfnApplyRegion(p);
        nResult = 0;
    });
    return nResult;
}

int PlatGetWindowRegion(PLAT_HWND hwnd, std::vector<PLAT_RECT>* pOut)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    if (!p) return -1;
    if (pOut) *pOut = p->vRegion;
    return p->bHasRegion;
}

int PlatReadWindowRegion(PLAT_HWND hwnd, std::vector<PLAT_RECT>* pOut)
{
    int nResult = -1;
    OnWindowThreadDo([&] {
        PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
        if (p && pOut) nResult = g_pBackend->pfnReadRegion(p, pOut);
    });
    return nResult;
}

// ---- Cursors and icons --------------------------------------------------------------------------

namespace {

PLAT_CURSOR_REC* LookupCursor(PLAT_CURSOR h)
{
    auto it = g_mapCursors.find(h);
    return it == g_mapCursors.end() ? nullptr : it->second.get();
}

bool IsStandardCursorId(int nIdc)
{
    switch (nIdc) {
    case PLAT_IDC_ARROW: case PLAT_IDC_IBEAM: case PLAT_IDC_WAIT: case PLAT_IDC_CROSS: case PLAT_IDC_UPARROW:
    case PLAT_IDC_SIZENWSE: case PLAT_IDC_SIZENESW: case PLAT_IDC_SIZEWE: case PLAT_IDC_SIZENS:
    case PLAT_IDC_SIZEALL: case PLAT_IDC_NO: case PLAT_IDC_HAND: case PLAT_IDC_APPSTARTING: case PLAT_IDC_HELP:
        return true;
    default:
        return false;
    }
}

}  // namespace

PLAT_CURSOR PlatLoadCursor(int nIdc)
{
    if (!IsStandardCursorId(nIdc)) return 0;
    PLAT_CURSOR h = 0;
    OnWindowThreadDo([&] {
        std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
        for (auto& kv : g_mapCursors)
            if (kv.second->nIdc == nIdc) {
                h = kv.first;
                return;
            }
        if (!g_pBackend) return;
        auto pRec = std::make_unique<PLAT_CURSOR_REC>();
        pRec->hCursor = g_hCursorNext++;
        pRec->nIdc = nIdc;
        g_pBackend->pfnMakeCursor(pRec.get());
        h = pRec->hCursor;
        g_mapCursors[h] = std::move(pRec);
    });
    return h;
}

PLAT_CURSOR PlatCreateColorCursor(const uint8_t* pBgra, int w, int h, int nStride, int nHotX, int nHotY, int bIcon)
{
    if (!pBgra || w < 1 || h < 1 || w > 256 || h > 256 || nStride < w * 4) return 0;
    auto pRec = std::make_unique<PLAT_CURSOR_REC>();
    pRec->nWidth = w;
    pRec->nHeight = h;
    pRec->nHotX = nHotX;
    pRec->nHotY = nHotY;
    pRec->bIcon = bIcon ? 1 : 0;
    pRec->pixels.resize(static_cast<size_t>(w) * h);
    bool bAnyAlpha = false;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t* s = pBgra + static_cast<size_t>(y) * nStride + static_cast<size_t>(x) * 4;
            pRec->pixels[static_cast<size_t>(y) * w + x] =
                uint32_t(s[0]) | uint32_t(s[1]) << 8 | uint32_t(s[2]) << 16 | uint32_t(s[3]) << 24;
            bAnyAlpha = bAnyAlpha || s[3] != 0;
        }
    // Without any alpha the picture is taken as opaque, as a colour cursor without a mask shows.
    if (!bAnyAlpha)
        for (uint32_t& v : pRec->pixels) v |= 0xFF000000u;
    PLAT_CURSOR hNew = 0;
    OnWindowThreadDo([&] {
        std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
        if (!g_pBackend) return;
        pRec->hCursor = g_hCursorNext++;
        g_pBackend->pfnMakeCursor(pRec.get());
        hNew = pRec->hCursor;
        g_mapCursors[hNew] = std::move(pRec);
    });
    return hNew;
}

void PlatDestroyCursor(PLAT_CURSOR hCursor)
{
    OnWindowThreadDo([&] {
        std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
        PLAT_CURSOR_REC* p = LookupCursor(hCursor);
        if (!p || p->nIdc) return;
        for (auto& kv : g_mapWindows)
            if (kv.second->hCursor == hCursor) {
                kv.second->hCursor = 0;
                g_pBackend->pfnUseCursor(nullptr);
            }
        g_pBackend->pfnFreeCursor(p);
        g_mapCursors.erase(hCursor);
    });
}

int PlatGetCursorInfo(PLAT_CURSOR hCursor, PLAT_CURSOR_INFO* pOut)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    PLAT_CURSOR_REC* p = LookupCursor(hCursor);
    if (!p || !pOut) return -1;
    pOut->nIdc = p->nIdc;
    pOut->nWidth = p->nWidth;
    pOut->nHeight = p->nHeight;
    pOut->nHotX = p->nHotX;
    pOut->nHotY = p->nHotY;
    pOut->bIcon = p->bIcon;
    pOut->pixels = p->pixels;
    return 0;
}

int PlatSetWindowCursor(PLAT_HWND hwnd, PLAT_CURSOR hCursor)
{
    int nResult = -1;
    OnWindowThreadDo([&] {
        std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
        PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
        PLAT_CURSOR_REC* pCursor = LookupCursor(hCursor);
        if (!p || (hCursor && !pCursor)) return;
        p->hCursor = hCursor;
        // The window system shows one cursor: the one of the window the mouse is over.
        if (PlatIsMouseOverWindow(hwnd)) {
            g_pBackend->pfnUseCursor(pCursor);
            PlatNoteShownCursor(hCursor);
        }
        nResult = 0;
    });
    return nResult;
}

PLAT_CURSOR PlatGetWindowCursor(PLAT_HWND hwnd)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    return p ? p->hCursor : 0;
}

std::vector<PLAT_HWND> PlatChildWindows(PLAT_HWND hwnd)
{
    std::vector<PLAT_HWND> out;
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    for (auto& kv : g_mapWindows) {
        const PLAT_WINDOW_REC* p = kv.second.get();
        if (p->hwndParent == hwnd && (p->nStyle & PLAT_WS_CHILD) && p->bVisible && !p->bDestroying) out.push_back(kv.first);
    }
    return out;
}

void PlatStoreWindowMenuBar(PLAT_HWND hwnd, uint32_t hMenu)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    if (PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd)) p->hMenuBar = hMenu;
}

PLAT_CURSOR_REC* PlatLookupCursor(PLAT_CURSOR hCursor)
{
    std::lock_guard<std::recursive_mutex> lw(g_mxWindows);
    return LookupCursor(hCursor);
}
