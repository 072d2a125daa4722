// The size limits of the windows: the window procedure's answer to WM_GETMINMAXINFO, kept as client
// sizes in the window's record and handed to the window system.
#include "platform/plat_window_limits.h"

#include <algorithm>

#include "platform/plat_display_backend.h"
#include "platform/plat_window_backend.h"

namespace {

// The client size of an outer size for the window's frame as it is now (0 stays 0: no limit).
int32_t ClientOf(int32_t nOuter, int32_t nInsets)
{
    return nOuter > 0 ? std::max<int32_t>(nOuter - nInsets, 1) : 0;
}

void UpdateOnWindowThread(PLAT_HWND hwnd, int* pResult)
{
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    if (!p || (p->nStyle & PLAT_WS_CHILD)) return;
    PLAT_MINMAXINFO mmi{};
    PlatSendMessage(hwnd, PLAT_WM_GETMINMAXINFO, 0, reinterpret_cast<intptr_t>(&mmi));
    if ((p = PlatLookupWindow(hwnd)) == nullptr) return;
    PLAT_RECT rc{0, 0, 0, 0};
    PlatAdjustWindowRect(&rc, PlatGetWindowStyle(hwnd), PlatMenuBarInset(p) > 0 ? 1 : 0);
    const int32_t fw = rc.right - rc.left, fh = rc.bottom - rc.top;
    int32_t minW = ClientOf(mmi.nMinTrackWidth, fw), minH = ClientOf(mmi.nMinTrackHeight, fh);
    int32_t maxW = ClientOf(mmi.nMaxTrackWidth, fw), maxH = ClientOf(mmi.nMaxTrackHeight, fh);
    // A maximum below the minimum gives way, as the window system's own tracking does.
    if (maxW && maxW < minW) maxW = minW;
    if (maxH && maxH < minH) maxH = minH;
    *pResult = 0;
    if (p->nMinTrackW == minW && p->nMinTrackH == minH && p->nMaxTrackW == maxW && p->nMaxTrackH == maxH) return;
    p->nMinTrackW = minW;
    p->nMinTrackH = minH;
    p->nMaxTrackW = maxW;
    p->nMaxTrackH = maxH;
    PlatCurrentDisplayBackend()->pfnApplySizeLimits(p);
}

}  // namespace

int PlatUpdateWindowSizeLimits(PLAT_HWND hwnd)
{
    struct CALL {
        PLAT_HWND hwnd;
        int nResult;
    } call{hwnd, -1};
    PlatRunOnWindowThread([](void* pv) {
        CALL* c = static_cast<CALL*>(pv);
        UpdateOnWindowThread(c->hwnd, &c->nResult);
    }, &call, 1);
    return call.nResult;
}

int PlatGetWindowSizeLimits(PLAT_HWND hwnd, int32_t* pMinW, int32_t* pMinH, int32_t* pMaxW, int32_t* pMaxH)
{
    int nResult = -1;
    struct CALL {
        PLAT_HWND hwnd;
        int32_t* p[4];
        int* pResult;
    } call{hwnd, {pMinW, pMinH, pMaxW, pMaxH}, &nResult};
    PlatRunOnWindowThread([](void* pv) {
        CALL* c = static_cast<CALL*>(pv);
        const PLAT_WINDOW_REC* p = PlatLookupWindow(c->hwnd);
        if (!p) return;
        const int32_t v[4] = {p->nMinTrackW, p->nMinTrackH, p->nMaxTrackW, p->nMaxTrackH};
        for (int i = 0; i < 4; ++i)
            if (c->p[i]) *c->p[i] = v[i];
        *c->pResult = 0;
    }, &call, 1);
    return nResult;
}

void PlatClampToSizeLimits(const PLAT_WINDOW_REC* pRec, int* pW, int* pH)
{
    if (!pRec) return;
    if (pRec->nMinTrackW > 0 && *pW < pRec->nMinTrackW) *pW = pRec->nMinTrackW;
    if (pRec->nMinTrackH > 0 && *pH < pRec->nMinTrackH) *pH = pRec->nMinTrackH;
    if (pRec->nMaxTrackW > 0 && *pW > pRec->nMaxTrackW) *pW = pRec->nMaxTrackW;
    if (pRec->nMaxTrackH > 0 && *pH > pRec->nMaxTrackH) *pH = pRec->nMaxTrackH;
}
