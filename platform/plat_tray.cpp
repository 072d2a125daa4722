// The tray icon: its state, and its picture in a real tray host where the window system has one
// (see platform/plat_tray.h).
#include "platform/plat_tray.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "platform/plat_display_backend.h"
#include "platform/plat_window_backend.h"
#include "platform/plat_x11_tray.h"

namespace {

std::mutex g_mxTray;
PLAT_TRAY_STATE g_tray{};
std::atomic<int> g_bFakeHost{0};

// The program's own icon: a white K on a blue square ('#' blue, '.' white, ' ' clear).
const char* const kProgramIcon[16] = {
    "                ", " ############## ", " ############## ", " ##..####...### ", " ##..###...#### ",
    " ##..##...##### ", " ##..#...###### ", " ##.....####### ", " ##......###### ", " ##..##...##### ",
    " ##..###...#### ", " ##..####...### ", " ##..#####...## ", " ############## ", " ############## ",
    "                ",
};

std::vector<uint32_t> ProgramIconPixels(void)
{
    std::vector<uint32_t> px(16 * 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const char c = kProgramIcon[y][x];
            px[static_cast<size_t>(y) * 16 + x] = c == '#' ? 0xFF2050C0u : c == '.' ? 0xFFFFFFFFu : 0u;
        }
    return px;
}

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

bool OnSdl(void) { return PlatCurrentDisplayBackend() == &g_SdlDisplayBackend; }

// The owner's native window when the SDL backend runs (window thread).
SDL_Window* NativeOwner(PLAT_HWND hwnd)
{
    if (!OnSdl()) return nullptr;
    PLAT_WINDOW_REC* p = PlatLookupWindow(hwnd);
    return p ? static_cast<SDL_Window*>(p->pNative) : nullptr;
}

// Shows the state's icon in the tray host, or takes it away (window thread). 1 when a tray host
// holds it (or was asked to).
struct PANEL_CALL {
    bool bShow;
    PLAT_HWND hwnd;
    std::vector<uint32_t> pixels;
    int w, h;
    std::string strTip;
    int nResult;
};

void RunPanelCall(void* pv)
{
    PANEL_CALL* c = static_cast<PANEL_CALL*>(pv);
    c->nResult = 0;
    if (!c->bShow) {
        if (OnSdl()) PlatX11TrayRemove();
        return;
    }
    if (!OnSdl()) {
        c->nResult = g_bFakeHost.load();
    } else if (SDL_Window* pOwner = NativeOwner(c->hwnd)) {
        c->nResult = PlatX11TrayShow(pOwner, c->pixels.data(), c->w, c->h, c->strTip.c_str()) > 0 ? 1 : 0;
    }
}

int ShowInPanel(bool bShow)
{
    PANEL_CALL call{bShow, 0, {}, 0, 0, {}, 0};
    {
        std::lock_guard<std::mutex> lk(g_mxTray);
        call.hwnd = g_tray.hwnd;
        call.strTip = g_tray.strTip;
        if (g_tray.bCustomIcon && !g_tray.iconPixels.empty()) {
            call.pixels = g_tray.iconPixels;
            call.w = g_tray.nIconWidth;
            call.h = g_tray.nIconHeight;
        } else {
            call.pixels = ProgramIconPixels();
            call.w = call.h = 16;
        }
    }
    if (PlatRunOnWindowThread(RunPanelCall, &call, 1) != 0) return 0;
    return call.nResult;
}

}  // namespace

int PlatTrayNotify(int nMessage, const PLAT_TRAY_DATA* pData)
{
    if (!pData) return -1;
    {
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
            break;
        }
        case PLAT_NIM_DELETE:
            if (!g_tray.bShown || g_tray.hwnd != pData->hwnd || g_tray.nId != pData->nId) return -1;
            g_tray.bShown = 0;
            g_tray.bInPanel = 0;
            ++g_tray.nDeletes;
            break;
        default:
            return -1;
        }
    }
    const int bInPanel = ShowInPanel(nMessage != PLAT_NIM_DELETE);
    if (nMessage != PLAT_NIM_DELETE) {
        std::lock_guard<std::mutex> lk(g_mxTray);
        g_tray.bInPanel = bInPanel;
    }
    return 0;
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
    g_bFakeHost = 0;
}

int PlatTrayIsInPanel(void)
{
    {
        std::lock_guard<std::mutex> lk(g_mxTray);
        if (!g_tray.bShown) return 0;
    }
    int bIn = 0;
    struct CALL {
        int* pIn;
    } call{&bIn};
    PlatRunOnWindowThread([](void* pv) {
        int* pIn = static_cast<CALL*>(pv)->pIn;
        *pIn = OnSdl() ? PlatX11TrayHostPresent() : g_bFakeHost.load();
    }, &call, 1);
    return bIn;
}

void PlatFakeSetTrayHost(int bPresent) { g_bFakeHost = bPresent ? 1 : 0; }

void PlatTrayHostLost(void)
{
    PLAT_HWND hwnd;
    {
        std::lock_guard<std::mutex> lk(g_mxTray);
        g_tray.bInPanel = 0;
        hwnd = g_tray.bShown ? g_tray.hwnd : 0;
    }
    if (hwnd && !PlatIsWindowVisible(hwnd)) PlatShowWindow(hwnd, PLAT_SW_RESTORE);
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
