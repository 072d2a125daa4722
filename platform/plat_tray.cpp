// The tray icon's stand-in (see platform/plat_tray.h).
#include "platform/plat_tray.h"

#include <cstring>
#include <mutex>

namespace {

std::mutex g_mxTray;
PLAT_TRAY_STATE g_tray{};

void TakeIcon(PLAT_CURSOR hIcon)
{
    PLAT_CURSOR_INFO info;
    if (hIcon && PlatGetCursorInfo(hIcon, &info) == 0) {
        g_tray.bCustomIcon = 1;
        g_tray.nIconWidth = info.nWidth;
        g_tray.nIconHeight = info.nHeight;
        g_tray.iconPixels = std::move(info.pixels);
    } else {
        g_tray.bCustomIcon = 0;
        g_tray.nIconWidth = g_tray.nIconHeight = 0;
        g_tray.iconPixels.clear();
    }
}

}  // namespace

int PlatTrayNotify(int nMessage, const PLAT_TRAY_DATA* pData)
{
    if (!pData) return -1;
    std::lock_guard<std::mutex> lk(g_mxTray);
    switch (nMessage) {
    case PLAT_NIM_ADD:
    case PLAT_NIM_MODIFY: {
        if ((nMessage == PLAT_NIM_ADD) == (g_tray.bShown != 0)) return -1;
        if (nMessage == PLAT_NIM_MODIFY && (g_tray.hwnd != pData->hwnd || g_tray.nId != pData->nId)) return -1;
        g_tray.bShown = 1;
        g_tray.hwnd = pData->hwnd;
        g_tray.nId = pData->nId;
        g_tray.nCallbackMessage = pData->nCallbackMessage;
        const char* psz = pData->pszTip ? pData->pszTip : "";
        g_tray.strTip.assign(psz, strnlen(psz, 63));
        TakeIcon(pData->hIcon);
        ++(nMessage == PLAT_NIM_ADD ? g_tray.nAdds : g_tray.nModifies);
        return 0;
    }
    case PLAT_NIM_DELETE:
        if (!g_tray.bShown || g_tray.hwnd != pData->hwnd || g_tray.nId != pData->nId) return -1;
        g_tray.bShown = 0;
        ++g_tray.nDeletes;
        return 0;
    default:
        return -1;
    }
}

void PlatTrayGetState(PLAT_TRAY_STATE* pOut)
{
    if (!pOut) return;
    std::lock_guard<std::mutex> lk(g_mxTray);
    *pOut = g_tray;
}

void PlatTrayReset(void)
{
    std::lock_guard<std::mutex> lk(g_mxTray);
    g_tray = PLAT_TRAY_STATE{};
}

int PlatTrayInjectClick(uint32_t nMouseMessage)
{
    PLAT_HWND hwnd;
    uint32_t nId, nMsg;
    {
        std::lock_guard<std::mutex> lk(g_mxTray);
        if (!g_tray.bShown) return -1;
        hwnd = g_tray.hwnd;
        nId = g_tray.nId;
        nMsg = g_tray.nCallbackMessage;
    }
    return PlatPostMessage(hwnd, nMsg, nId, static_cast<intptr_t>(nMouseMessage));
}
