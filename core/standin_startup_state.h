// Start-up state that the system variables read, declared here until start-up itself declares it
// (same names and types); the definitions below go with this header.
#pragma once
#include <cstdint>
#include "core/kx_limits.h"
#include "platform/plat_time.h"

// The working folder (no trailing '\').
extern char g_szWorkDir[KX_MAX_PATH];
// The working folder cannot be written.
extern uint8_t g_bFolderReadOnly;
// Direct3D drawing is on.
extern uint8_t g_bDirect3D;
// Local time at start-up.
extern PLAT_LOCAL_TIME g_stStartTime;
