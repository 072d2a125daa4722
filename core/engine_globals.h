// State of the engine that every subsystem reads.
#pragma once
#include <atomic>
#include <cstdint>
#include "core/kx_limits.h"
#include "platform/plat_time.h"

struct PLAT_LOCK;

// The engine stop flag: one byte that every loop and thread reads. Error reports OR their fatal
// byte into it; the quit request, shut-down and a failed start set it.
extern std::atomic<uint8_t> g_bEngineStop;
// The engine lock (recursive).
extern PLAT_LOCK* g_csEngine;

// Engine paths (cp932, '\'): the game folder, the program's path, the user's folders.
extern char g_szExeDir[KX_MAX_PATH];
extern char g_szExePath[KX_MAX_PATH];
// The running executable's own file, which carries appended data (its real place, whatever the
// game folder is).
extern char g_szExeFile[KX_MAX_PATH];
extern char g_szAppDataDir[KX_MAX_PATH];
extern char g_szDocumentsDir[KX_MAX_PATH];

// Takes the paths from the platform (after PlatInitProgramPaths). 0, or -1 when one does not fit.
int InitEnginePaths(void);

// ---------------------------------------------------------------------------------------------
// What start-up sets up and the running engine reads

struct PLAT_MUTEX;

// Held named mutexes: the guard "kolvex1", the instance mutex (program path), the folder mutex
// (program folder). A slot is NULL when the mutex is not held.
enum { KX_MUTEX_GUARD = 0, KX_MUTEX_INSTANCE = 1, KX_MUTEX_FOLDER = 2, KX_MUTEXES = 3 };
extern PLAT_MUTEX* g_ahMutex[KX_MUTEXES];
#define KX_GUARD_MUTEX_NAME "kolvex1"

// The program path with every '\' turned into ':': the instance mutex's name and the main window's
// class name. The folder mutex's name is the program folder with a final '\', turned alike.
extern char g_szInstanceName[KX_MAX_PATH];
extern char g_szFolderMutexName[KX_MAX_PATH];
// The working folder (no trailing '\'): the program folder in the packed layout, else the folder the
// script compiler hands over.
extern char g_szWorkDir[KX_MAX_PATH];

extern int g_nCmdShow;
// Set by the quit command: the program starts itself again after shut-down.
extern uint8_t g_bRestartAtExit;
// The sound thread's state under the engine lock: 0xFF not started, 0 running, 1 ended.
extern uint8_t g_bSoundThreadState;
// The working folder cannot be written.
extern uint8_t g_bFolderReadOnly;
// Set once InitEngineOnce has filled its tables.
extern uint8_t g_bEngineOnceDone;

// The scaled-frame buffer (aligned_alloc; free with free()): output width x 4 + width x 4 x height
// + 4 bytes; NULL when it could not be made. The drawing target is the game screen's size.
extern uint8_t* g_pOutputBuffer;
extern int32_t g_nOutputWidth, g_nOutputHeight;
extern int32_t g_nTargetWidth, g_nTargetHeight;

// Direct3D drawing is on (only together with the E-mote component).
extern uint8_t g_bDirect3D;
// The GPU-direct switch (set by the system command): the GPU frame is the window's picture and no
// CPU composition follows it.
extern uint8_t g_bGpuDirect;
// The frame step draws and presents although a window movie owns the screen (system command).
extern uint8_t g_bDrawDuringMovie;
// The E-mote component is bound (media/emote_component.h binds and releases it).
extern uint8_t g_bEmoteAvailable;
// A joystick was present at start-up.
extern uint8_t g_bJoystickPresent;
// Local time at start-up.
extern PLAT_LOCAL_TIME g_stStartTime;

// The window system's backend (PLAT_BACKEND_SDL; tests choose the Fake one).
extern int g_nWindowBackend;
