// The retained picture and its presentation: the whole client, or only the part the program changed.
#include <mutex>
#include <vector>

#include "platform/plat_window_backend.h"

int PlatGetWindowFramebuffer(PLAT_HWND hwnd, uint32_t** ppPixels, int* pWidth, int* pHeight, int* pPitch)
{
    std::lock_guard<std::recursive_mutex> lw(PlatWindowTableLock());
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    if (!p || !p->pPixels) return -1;
    if (ppPixels) *ppPixels = p->pPixels;
    if (pWidth) *pWidth = p->nFbW;
    if (pHeight) *pHeight = p->nFbH;
    if (pPitch) *pPitch = p->nFbW * 4;
    return 0;
}

int PlatPresentWindow(PLAT_HWND hwnd)
{
    return PlatPresentWindowRect(hwnd, nullptr);
}

int PlatPresentWindowRect(PLAT_HWND hwnd, const PLAT_RECT* pRect)
{
    int nResult = -1;
    PlatOnWindowThreadDo([&] {
        PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
        const PLAT_WINDOW_BACKEND* pBackend = PlatWindowBackendInUse();
        if (!p || !pBackend) return;
        p->nPresentCount++;
        if (!pRect) {
            nResult = pBackend->pfnPresent(p, nullptr);
            return;
        }
        // Clipped to the client; an empty rectangle shows nothing new.
        const PLAT_RECT rc{pRect->left < 0 ? 0 : pRect->left, pRect->top < 0 ? 0 : pRect->top,
                           pRect->right > p->nFbW ? p->nFbW : pRect->right,
                           pRect->bottom > p->nFbH ? p->nFbH : pRect->bottom};
        nResult = rc.left < rc.right && rc.top < rc.bottom ? pBackend->pfnPresent(p, &rc) : 0;
    });
    return nResult;
}

int PlatGetWindowPresentCount(PLAT_HWND hwnd)
{
    std::lock_guard<std::recursive_mutex> lw(PlatWindowTableLock());
    const PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    return p ? p->nPresentCount : -1;
}

int PlatReadWindowPixels(PLAT_HWND hwnd, std::vector<uint32_t>* pOut, int* pW, int* pH)
{
    int nResult = -1;
    PlatOnWindowThreadDo([&] {
        PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
        const PLAT_WINDOW_BACKEND* pBackend = PlatWindowBackendInUse();
        if (p && pBackend && pBackend->pfnReadShown) nResult = pBackend->pfnReadShown(p, pOut, pW, pH);
    });
    return nResult;
}

int PlatInvalidateWindowPart(PLAT_HWND hwnd)
{
    {
        std::lock_guard<std::recursive_mutex> lw(PlatWindowTableLock());
        PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
        if (!p) return -1;
        // A paint already due stays what it is: one of the whole client covers the part too.
        if (!p->bInvalid) {
            p->bInvalid = 1;
            p->bInvalidPart = 1;
        }
    }
    PlatWakeForPaint();
    return 0;
}

int PlatIsWindowPaintPart(PLAT_HWND hwnd)
{
    std::lock_guard<std::recursive_mutex> lw(PlatWindowTableLock());
    const PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    return p && p->bInvalid && p->bInvalidPart ? 1 : 0;
}
