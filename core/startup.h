// The process's spine: the entry point, start-up, the once-only initialiser, shut-down and restart,
// the single-instance protocol and the program's paths.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "core/kx_limits.h"
#include "platform/plat_time.h"

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
// A joystick was present at start-up.
extern uint8_t g_bJoystickPresent;
// Local time at start-up.
extern PLAT_LOCAL_TIME g_stStartTime;

// The window system's backend (PLAT_BACKEND_SDL; tests choose the Fake one).
extern int g_nWindowBackend;

// The entry: returns the main loop's quit code, or 0 when the process ends during start-up
// (1 when the game folder cannot be used at all).
// Connects the subsystems that are built to the start-up, frame and shut-down steps (g_EngineHooks
// and the variable store's hooks). The program calls it once before KolvexMain; tests install their own.
void InstallEngineParts(void);
int KolvexMain(int argc, char** argv);

// Takes the game folder from the arguments (see PlatInitProgramPaths) and fills the engine paths and
// the mutex names. 0, or -1 when the folder cannot be used.
int InitProgramPaths(int argc, char** argv);
// Asks the running copy of that name to come to the front. 0.
int ActivateRunningInstance(const char* pszClass);
void ReleaseInstanceMutexes(void);
void ReleaseInstanceMutex(int nIndex);

// 0 run the main loop, -1 start-up stopped, 1 the scripts could not start and a quit was requested.
int8_t StartEngine(void);
// The one-time tables; the body runs at the first call only.
void InitEngineOnce(void);
// Tries a temporary file in the working folder; sets g_bFolderReadOnly when it cannot. 0.
int ProbeFolderWritable(void);
// The orderly shut-down, once after a start (however far it came).
void ShutdownEngine(void);
// Starts a program from an argument vector (cp932; args[0] the program) without waiting. 0 or -1.
int RunProgram(const std::vector<std::string>& args);
void InitTimerResolution(void);
void EndTimerResolution(void);
