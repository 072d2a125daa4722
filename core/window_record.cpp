// The window records and the window procedure's records for the scripts.
#include "core/window_record.h"

WINDOW_STATE* g_apWindowState[KX_WINDOWS];
std::atomic<uint8_t> g_abPaintOwed[KX_WINDOWS];
int32_t g_anWindowCreated[KX_WINDOWS] = {-1, -1, -1, -1};
uint8_t g_bClickLayerOn = 0;
TREE_NODE* g_pClickLayerNode = nullptr;
LAYER* g_pClickLayer = nullptr;
int32_t g_nFullscreenBits = 32;
uint8_t g_bFullscreen = 0;
uint8_t g_bMaximized = 0;
int32_t g_nOutputOffsetX = 0, g_nOutputOffsetY = 0;

int64_t g_llMenuCommand = 0;
int32_t g_nLastKeyDown = 0;
int32_t g_nLastMouseButton = 0;
uint8_t g_nMaximizeEvent = 0;
uint8_t g_nMinimizeEvent = 0;
uint8_t g_bCloseEvent = 0;
uint8_t g_nCaptionDblClick = 0;
int32_t g_nFileListCount = 0;
char** g_apszFileList = nullptr;

void GetWindowMousePos(int nWindow, int32_t* pnX, int32_t* pnY)
{
    int32_t x = 0, y = 0;
    if (nWindow >= 0 && nWindow < KX_WINDOWS) {
        const WINDOW_STATE* p = g_apWindowState[nWindow];
        if (p && p->hWnd) {
            x = p->nMouseX;
            y = p->nMouseY;
        }
    }
    if (pnX) *pnX = x;
    if (pnY) *pnY = y;
}
