// The display model: monitors, display modes, fullscreen windows and the cursor's position, over the
// backend of the running window system; and the Fake backend's monitors.
#include "platform/plat_display.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "platform/plat_display_backend.h"
#include "platform/plat_internal.h"
#include "platform/plat_sysinfo.h"

namespace {

const PLAT_DISPLAY_BACKEND* g_pDisplay = &g_FakeDisplayBackend;
// What PlatAllowScreenSaver last asked for; a window system starts with the screen saver kept off.
std::atomic<int> g_bScreenSaverAllowed{0};
// Fullscreen windows and the client rectangle (x, y, width, height) each had before. Window thread.
std::map<PLAT_HWND, PLAT_RECT> g_mapFullscreen;

// Runs fn on the window thread and waits; nothing (and false) when no window system runs.
template <class FN>
bool OnWindowThreadDo(FN&& fn)
{
    return PlatRunOnWindowThread([](void* p) { (*static_cast<FN*>(p))(); }, &fn, 1) == 0;
}

// Squared distance from a point to a rectangle (0 inside).
int64_t DistanceSquared(const PLAT_RECT& rc, int32_t x, int32_t y)
{
    const int64_t dx = x < rc.left ? int64_t{rc.left} - x : x >= rc.right ? int64_t{x} - (rc.right - 1) : 0;
    const int64_t dy = y < rc.top ? int64_t{rc.top} - y : y >= rc.bottom ? int64_t{y} - (rc.bottom - 1) : 0;
    return dx * dx + dy * dy;
}

// ---- Fake backend ---------------------------------------------------------------------------------

struct FAKE_MONITOR {
    PLAT_MONITOR_INFO info;
    std::vector<PLAT_DISPLAY_MODE> modes;
};
std::mutex g_mxFake;
std::vector<FAKE_MONITOR> g_vFakeMonitors;   // empty: the default monitor
int g_bFakeRefuse = 0;

std::vector<FAKE_MONITOR> FakeMonitors(void)
{
    {
        std::lock_guard<std::mutex> lk(g_mxFake);
        if (!g_vFakeMonitors.empty()) return g_vFakeMonitors;
    }
    PLAT_DESKTOP_INFO desk{};
    PlatGetDesktopInfo(&desk);
    FAKE_MONITOR m{};
    m.info.rcMonitor = PLAT_RECT{0, 0, desk.nWidth, desk.nHeight};
    m.info.rcWork = m.info.rcMonitor;
    m.info.desktop = PLAT_DISPLAY_MODE{desk.nWidth, desk.nHeight, desk.nBits, desk.nRefresh};
    m.modes.push_back(m.info.desktop);
    return {m};
}

int FakeMonitorCount(void) { return static_cast<int>(FakeMonitors().size()); }

int FakeMonitorInfo(int nMonitor, PLAT_MONITOR_INFO* pOut)
{
    const std::vector<FAKE_MONITOR> v = FakeMonitors();
    if (nMonitor < 0 || static_cast<size_t>(nMonitor) >= v.size()) return -1;
    *pOut = v[static_cast<size_t>(nMonitor)].info;
    return 0;
}

int FakeDisplayMode(int nMonitor, int nMode, PLAT_DISPLAY_MODE* pOut)
{
    const std::vector<FAKE_MONITOR> v = FakeMonitors();
    if (nMonitor < 0 || static_cast<size_t>(nMonitor) >= v.size()) return -1;
    const std::vector<PLAT_DISPLAY_MODE>& modes = v[static_cast<size_t>(nMonitor)].modes;
    if (nMode < 0 || static_cast<size_t>(nMode) >= modes.size()) return -1;
    *pOut = modes[static_cast<size_t>(nMode)];
    return 0;
}

int FakeEnterFullscreen(PLAT_WINDOW_REC*, const PLAT_RECT*)
{
    std::lock_guard<std::mutex> lk(g_mxFake);
    return g_bFakeRefuse ? -1 : 0;
}

void FakeLeaveFullscreen(PLAT_WINDOW_REC*) {}

int FakeReadClientRect(PLAT_WINDOW_REC* p, PLAT_RECT* pOut)
{
    *pOut = PLAT_RECT{p->nClientX, p->nClientY, p->nClientX + p->nClientW, p->nClientY + p->nClientH};
    return 0;
}

// The Fake window system has no cursor of its own to move.
int FakeWarpCursor(int32_t, int32_t) { return 0; }

// The Fake window system keeps no limits of its own: its frame drags are kept within them by the
// window core.
void FakeApplySizeLimits(PLAT_WINDOW_REC*) {}

// No window manager: the program moves its windows itself.
int FakeBeginMove(PLAT_WINDOW_REC*, int32_t, int32_t) { return -1; }
void FakeEndMove(PLAT_WINDOW_REC*, int32_t, int32_t) {}

// The pointer as the injected mouse events left it.
int FakeQueryPointer(PLAT_WINDOW_REC*, int32_t* pX, int32_t* pY, int* pbLeftHeld)
{
    if (PlatGetCursorPos(pX, pY) != 0) return -1;
    *pbLeftHeld = PlatGetKeyDown(PLAT_VK_LBUTTON);
    return 0;
}

void FakeAllowScreenSaver(int) {}

}  // namespace

const PLAT_DISPLAY_BACKEND g_FakeDisplayBackend = {
    FakeMonitorCount, FakeMonitorInfo, FakeDisplayMode, FakeEnterFullscreen, FakeLeaveFullscreen,
    FakeReadClientRect, FakeWarpCursor, FakeApplySizeLimits, FakeBeginMove, FakeEndMove, FakeQueryPointer, FakeAllowScreenSaver,
};

void PlatSelectDisplayBackend(int nBackend)
{
    g_pDisplay = nBackend == PLAT_BACKEND_SDL ? &g_SdlDisplayBackend : &g_FakeDisplayBackend;
    g_mapFullscreen.clear();
    g_bScreenSaverAllowed = 0;
}

const PLAT_DISPLAY_BACKEND* PlatCurrentDisplayBackend(void) { return g_pDisplay; }

void PlatAllowScreenSaver(int bAllow)
{
    g_bScreenSaverAllowed = bAllow ? 1 : 0;
    OnWindowThreadDo([&] { g_pDisplay->pfnAllowScreenSaver(bAllow ? 1 : 0); });
}

int PlatIsScreenSaverAllowed(void) { return g_bScreenSaverAllowed.load(); }

int PlatCountModeBits(int nBitsPerPixel, int nBytesPerPixel)
{
    if (nBitsPerPixel <= 0) return 32;
    return nBitsPerPixel == 24 && nBytesPerPixel == 4 ? 32 : nBitsPerPixel;
}

int PlatGetMonitorCount(void)
{
    int n = 0;
    OnWindowThreadDo([&] { n = g_pDisplay->pfnMonitorCount(); });
    return n;
}

int PlatGetMonitorInfo(int nMonitor, PLAT_MONITOR_INFO* pOut)
{
    if (!pOut) return -1;
    int r = -1;
    OnWindowThreadDo([&] { r = g_pDisplay->pfnMonitorInfo(nMonitor, pOut); });
    return r;
}

int PlatMonitorFromPoint(int32_t x, int32_t y)
{
    int nBest = -1;
    OnWindowThreadDo([&] {
        int64_t llBest = INT64_MAX;
        const int n = g_pDisplay->pfnMonitorCount();
        for (int i = 0; i < n; ++i) {
            PLAT_MONITOR_INFO mi{};
            if (g_pDisplay->pfnMonitorInfo(i, &mi) != 0) continue;
            const int64_t d = DistanceSquared(mi.rcMonitor, x, y);
            if (d < llBest) {
                llBest = d;
                nBest = i;
            }
        }
    });
    return nBest;
}

int PlatGetDisplayMode(int nMonitor, int nMode, PLAT_DISPLAY_MODE* pOut)
{
    if (!pOut) return -1;
    int r = -1;
    OnWindowThreadDo([&] { r = g_pDisplay->pfnDisplayMode(nMonitor, nMode, pOut); });
    return r;
}

int PlatSetWindowFullscreen(PLAT_HWND hwnd, int nMonitor)
{
    int r = -1;
    OnWindowThreadDo([&] {
        PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
        PLAT_MONITOR_INFO mi{};
        if (!p || (p->nStyle & PLAT_WS_CHILD) || g_pDisplay->pfnMonitorInfo(nMonitor, &mi) != 0) return;
        const PLAT_RECT rcBefore{p->nClientX, p->nClientY, p->nClientW, p->nClientH};
        if (g_pDisplay->pfnEnterFullscreen(p, &mi.rcMonitor) != 0) return;
        // A window moved to another monitor while fullscreen still goes back to where it came from.
        g_mapFullscreen.emplace(hwnd, rcBefore);
        r = 0;
        PlatNoteClientMoveSize(hwnd, mi.rcMonitor.left, mi.rcMonitor.top, mi.rcMonitor.right - mi.rcMonitor.left,
                               mi.rcMonitor.bottom - mi.rcMonitor.top);
    });
    return r;
}

int PlatLeaveWindowFullscreen(PLAT_HWND hwnd)
{
    int r = -1;
    OnWindowThreadDo([&] {
        PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
        if (!p) {
            g_mapFullscreen.erase(hwnd);
            return;
        }
        r = 0;
        auto it = g_mapFullscreen.find(hwnd);
        if (it == g_mapFullscreen.end()) return;
        const PLAT_RECT rc = it->second;
        g_mapFullscreen.erase(it);
        g_pDisplay->pfnLeaveFullscreen(p);
        // The client rectangle it had, framed as the window is framed now.
        PLAT_RECT rcOuter{rc.left, rc.top, rc.left + rc.right, rc.top + rc.bottom};
        PlatAdjustWindowRect(&rcOuter, PlatGetWindowStyle(hwnd), 0);
        PlatSetWindowPos(hwnd, rcOuter.left, rcOuter.top, rcOuter.right - rcOuter.left, rcOuter.bottom - rcOuter.top,
                         PLAT_SWP_NOZORDER | PLAT_SWP_NOACTIVATE);
    });
    return r;
}

int PlatIsWindowFullscreen(PLAT_HWND hwnd)
{
    int b = 0;
    OnWindowThreadDo([&] { b = PlatLookupWindow(hwnd) && g_mapFullscreen.count(hwnd) ? 1 : 0; });
    return b;
}

int PlatReadWindowClientRect(PLAT_HWND hwnd, PLAT_RECT* pOut)
{
    if (!pOut) return -1;
    int r = -1;
    OnWindowThreadDo([&] {
        if (PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd)) r = g_pDisplay->pfnReadClientRect(p, pOut);
    });
    return r;
}

int PlatSetCursorPos(int32_t x, int32_t y)
{
    int r = -1;
    if (!OnWindowThreadDo([&] { r = g_pDisplay->pfnWarpCursor(x, y); })) return -1;
    PlatNoteCursorScreenPos(x, y);
    return r;
}

void PlatFakeSetMonitors(const PLAT_FAKE_MONITOR* pMonitors, int nCount)
{
    std::lock_guard<std::mutex> lk(g_mxFake);
    g_vFakeMonitors.clear();
    for (int i = 0; pMonitors && i < nCount; ++i) {
        FAKE_MONITOR m{pMonitors[i].info, {}};
        if (pMonitors[i].pModes && pMonitors[i].nModes > 0)
            m.modes.assign(pMonitors[i].pModes, pMonitors[i].pModes + pMonitors[i].nModes);
        g_vFakeMonitors.push_back(m);
    }
}

void PlatFakeRefuseFullscreen(int bRefuse)
{
    std::lock_guard<std::mutex> lk(g_mxFake);
    g_bFakeRefuse = bRefuse ? 1 : 0;
}
