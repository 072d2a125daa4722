// The Fake window backend: windows are records only; tests inject the input the system would deliver.
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/plat_editbox_backend.h"
#include "platform/plat_window_backend.h"

namespace {

std::mutex g_mxFakeWake;
std::condition_variable g_cvFakeWake;
int g_bFakeWoken = 0;
// The window that has the keyboard focus, as raises and injected focus changes left it.
PLAT_HWND g_hFakeFocus = 0;

int FakeStart(void)
{
    g_hFakeFocus = 0;
    return 0;
}
void FakeStop(void) {}
int FakeCreate(PLAT_WINDOW_REC*) { return 0; }
void FakeDestroy(PLAT_WINDOW_REC*) {}
void FakeApply(PLAT_WINDOW_REC*) {}
int FakePresent(PLAT_WINDOW_REC*, const PLAT_RECT*) { return 0; }
int FakeReadShown(PLAT_WINDOW_REC* p, std::vector<uint32_t>* pOut, int* pW, int* pH)
{
    // With a menu bar or open menus: the picture as a real window would show it.
    if (PlatComposeWindow(p, pOut, pW, pH) == 1) return 0;
    if (!p->pPixels || p->nFbW <= 0 || p->nFbH <= 0) return -1;
    pOut->assign(p->pPixels, p->pPixels + static_cast<size_t>(p->nFbW) * static_cast<size_t>(p->nFbH));
    *pW = p->nFbW;
    *pH = p->nFbH;
    return 0;
}
void FakePump(void) {}

void FakeShowCursor(int) {}
void FakeApplyZOrder(PLAT_WINDOW_REC*, int, PLAT_WINDOW_REC*) {}
// Nothing can flash here: the count is only recorded (by the core).
int FakeFlash(PLAT_WINDOW_REC*, int, int) { return 0; }
void FakeApplyRegion(PLAT_WINDOW_REC*) {}
int FakeReadRegion(PLAT_WINDOW_REC* p, std::vector<PLAT_RECT>* pOut)
{
    *pOut = p->vRegion;
    return p->bHasRegion;
}
void FakeMakeCursor(PLAT_CURSOR_REC*) {}
void FakeFreeCursor(PLAT_CURSOR_REC*) {}
void FakeUseCursor(PLAT_CURSOR_REC*) {}

void FakeRaise(PLAT_WINDOW_REC* p)
{
    if (g_hFakeFocus == p->hwnd) return;
    if (g_hFakeFocus && PlatIsWindow(g_hFakeFocus)) PlatNoteFocus(g_hFakeFocus, 0);
    g_hFakeFocus = p->hwnd;
    PlatNoteFocus(p->hwnd, 1);
}

void FakeWait(uint32_t nMs)
{
    std::unique_lock<std::mutex> lk(g_mxFakeWake);
    g_cvFakeWake.wait_for(lk, std::chrono::milliseconds(nMs), [] { return g_bFakeWoken != 0; });
    g_bFakeWoken = 0;
}

void FakeWake(void)
{
    std::lock_guard<std::mutex> lk(g_mxFakeWake);
    g_bFakeWoken = 1;
    g_cvFakeWake.notify_all();
}

}  // namespace

const PLAT_WINDOW_BACKEND g_FakeWindowBackend = {
    FakeStart, FakeStop, FakeCreate, FakeDestroy, FakeApply, FakeApply, FakeApply, FakeApply,
    FakePresent, FakePump, FakeWait, FakeWake, FakeReadShown, FakeRaise, FakeShowCursor,
    FakeApplyZOrder, FakeFlash, FakeApplyRegion, FakeReadRegion, FakeMakeCursor, FakeFreeCursor, FakeUseCursor,
};

void PlatFakeInjectKey(PLAT_HWND hwnd, int nVk, int bDown, int bRepeat)
{
    int bExtended = (nVk >= PLAT_VK_PRIOR && nVk <= PLAT_VK_DOWN) || nVk == PLAT_VK_INSERT ||
                    nVk == PLAT_VK_DELETE || nVk == PLAT_VK_RCONTROL || nVk == PLAT_VK_RMENU ||
                    nVk == PLAT_VK_DIVIDE || nVk == PLAT_VK_NUMLOCK;
    PlatQueueKey(hwnd, nVk, bDown, bRepeat, bExtended);
}

void PlatFakeInjectChar(PLAT_HWND hwnd, uint32_t nChar) { PlatQueueChar(hwnd, nChar); }
void PlatFakeInjectMouseMove(PLAT_HWND hwnd, int x, int y) { PlatQueueMouseMove(hwnd, x, y); }

void PlatFakeInjectMouseButton(PLAT_HWND hwnd, int nButton, int bDown, int x, int y)
{
    PlatQueueMouseButton(hwnd, nButton, bDown, x, y);
}

void PlatFakeInjectMouseWheel(PLAT_HWND hwnd, int nDelta, int x, int y) { PlatQueueMouseWheel(hwnd, nDelta, x, y); }

void PlatFakeInjectClose(PLAT_HWND hwnd) { PlatPostMessage(hwnd, PLAT_WM_SYSCOMMAND, PLAT_SC_CLOSE, 0); }

void PlatFakeInjectMoveSize(PLAT_HWND hwnd, int x, int y, int w, int h)
{
    PLAT_RECT rc{0, 0, 0, 0};
    PlatAdjustWindowRect(&rc, PlatGetWindowStyle(hwnd), PlatMenuBarInset(PlatLookupWindow(hwnd)) > 0 ? 1 : 0);
    // rc now holds the negative left/top insets and the right/bottom insets.
    PlatNoteClientMoveSize(hwnd, x - rc.left, y - rc.top, w - (rc.right - rc.left), h - (rc.bottom - rc.top));
}

void PlatFakeInjectFrameDrag(PLAT_HWND hwnd, int w, int h)
{
    PLAT_RECT rc;
    if (PlatGetWindowRect(hwnd, &rc) != 0) return;
    PLAT_RECT ins{0, 0, 0, 0};
    PlatAdjustWindowRect(&ins, PlatGetWindowStyle(hwnd), PlatMenuBarInset(PlatLookupWindow(hwnd)) > 0 ? 1 : 0);
    PlatNoteUserResize(hwnd, &w, &h);
    PlatNoteClientMoveSize(hwnd, rc.left - ins.left, rc.top - ins.top, w, h);
}

PLAT_HWND PlatFakeGetFocusWindow(void) { return g_hFakeFocus; }

void PlatFakeInjectFocus(PLAT_HWND hwnd, int bGained)
{
    if (bGained) g_hFakeFocus = hwnd;
    else if (g_hFakeFocus == hwnd) g_hFakeFocus = 0;
    PlatNoteFocus(hwnd, bGained);
}

void PlatFakeInjectDropFiles(PLAT_HWND hwnd, const char* const* ppszNames, int nCount)
{
    std::vector<std::string> names;
    for (int i = 0; i < nCount; i++)
        if (ppszNames[i]) names.push_back(ppszNames[i]);
    PlatQueueDrop(hwnd, names);
}

int PlatFakeGetPresentCount(PLAT_HWND hwnd)
{
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    return p ? p->nPresentCount : -1;
}
