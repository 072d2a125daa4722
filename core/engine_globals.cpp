#include "core/engine_globals.h"
#include "core/cp932.h"
#include "platform/plat_paths.h"
#include "platform/plat_thread.h"

std::atomic<uint8_t> g_bEngineStop{0};
PLAT_LOCK* g_csEngine = PlatLockCreate();

char g_szExeDir[KX_MAX_PATH];
char g_szExePath[KX_MAX_PATH];
char g_szAppDataDir[KX_MAX_PATH];
char g_szDocumentsDir[KX_MAX_PATH];

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
