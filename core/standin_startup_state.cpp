// Stand-in until start-up defines its state: an empty working folder, writable, CPU drawing, and a
// zero start time.
#include "core/standin_startup_state.h"

char g_szWorkDir[KX_MAX_PATH];
uint8_t g_bFolderReadOnly = 0;
uint8_t g_bDirect3D = 0;
PLAT_LOCAL_TIME g_stStartTime = {};
