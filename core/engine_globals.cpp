#include "core/engine_globals.h"
#include "core/cp932.h"
#include "core/frame_loop.h"
#include "platform/plat_paths.h"
#include "platform/plat_thread.h"
#include "platform/plat_window.h"

std::atomic<uint8_t> g_bEngineStop{0};
PLAT_LOCK* g_csEngine = PlatLockCreate();

char g_szExeDir[KX_MAX_PATH];
char g_szExePath[KX_MAX_PATH];
char g_szExeFile[KX_MAX_PATH];
char g_szAppDataDir[KX_MAX_PATH];
char g_szDocumentsDir[KX_MAX_PATH];

PLAT_MUTEX* g_ahMutex[KX_MUTEXES];
char g_szInstanceName[KX_MAX_PATH];
char g_szFolderMutexName[KX_MAX_PATH];
char g_szWorkDir[KX_MAX_PATH];
int g_nCmdShow = PLAT_SW_SHOWNORMAL;
uint8_t g_bRestartAtExit = 0;
uint8_t g_bSoundThreadState = KX_THREAD_NOT_STARTED;
uint8_t g_bFolderReadOnly = 0;
uint8_t g_bEngineOnceDone = 0;
uint8_t* g_pOutputBuffer = nullptr;
int32_t g_nOutputWidth = 0, g_nOutputHeight = 0;
int32_t g_nTargetWidth = 0, g_nTargetHeight = 0;
uint8_t g_bDirect3D = 0;
uint8_t g_bEmoteAvailable = 0;
uint8_t g_bGpuDirect = 0;
uint8_t g_bDrawDuringMovie = 0;
uint8_t g_bJoystickPresent = 0;
PLAT_LOCAL_TIME g_stStartTime;
int g_nWindowBackend = PLAT_BACKEND_SDL;

int InitEnginePaths(void)
{
    struct { char* pszDst; const char* pszSrc; } paths[] = {
        {g_szExeDir, PlatGetProgramFolder()},
        {g_szExePath, PlatGetProgramPath()},
        {g_szAppDataDir, PlatGetAppDataDir()},
        {g_szDocumentsDir, PlatGetDocumentsDir()},
    };
    int nResult = 0;
    for (auto& p : paths) {
        const char* pszSrc = p.pszSrc ? p.pszSrc : "";
        if (CopyTextBounded(p.pszDst, KX_MAX_PATH, pszSrc) != std::char_traits<char>::length(pszSrc))
            nResult = -1;
    }
    return nResult;
}
