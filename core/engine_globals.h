// State of the engine that every subsystem reads.
#pragma once
#include <atomic>
#include <cstdint>
#include "core/kx_limits.h"

struct PLAT_LOCK;

// The engine stop flag: one byte that every loop and thread reads. Error reports OR their fatal
// byte into it; the quit request, shut-down and a failed start set it.
extern std::atomic<uint8_t> g_bEngineStop;
// The engine lock (recursive).
extern PLAT_LOCK* g_csEngine;

// Engine paths (cp932, '\'): the game folder, the program's path, the user's folders.
extern char g_szExeDir[KX_MAX_PATH];
extern char g_szExePath[KX_MAX_PATH];
extern char g_szAppDataDir[KX_MAX_PATH];
extern char g_szDocumentsDir[KX_MAX_PATH];

// Takes the paths from the platform (after PlatInitProgramPaths). 0, or -1 when one does not fit.
int InitEnginePaths(void);
