// Stand-in until the window procedure and the window records exist: nothing recorded yet, an empty
// file list, and every window's mouse at (0, 0) as for a window without a handle.
#include "display/window_events.h"

int64_t g_llMenuCommand = 0;
int32_t g_nLastKeyDown = 0;
int32_t g_nLastMouseButton = 0;
uint8_t g_nMaximizeEvent = 0;
uint8_t g_nMinimizeEvent = 0;
uint8_t g_bCloseEvent = 0;
uint8_t g_nCaptionDblClick = 0;

int32_t g_nFileListCount = 0;
char** g_apszFileList = nullptr;

void GetWindowMousePos(int, int32_t* pnX, int32_t* pnY)
{
    if (pnX) *pnX = 0;
    if (pnY) *pnY = 0;
}
