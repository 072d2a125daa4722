// Stand-in until the compiled configuration is read: it only checks that the file is there.
#include "script/engine_config.h"
#include "core/errors.h"
#include "platform/plat_file.h"

uint8_t g_bDebug = 0;
uint8_t g_abImageExtOrder[8] = {1, 2, 3, 4, 5, 6, 0, 0};
uint8_t g_abSoundExtOrder[4] = {1, 2, 0, 0};
uint8_t g_bDevSourceOrder = 1;
uint8_t g_bReleaseSourceOrder = 1;
int32_t g_nScreenWidth = 640;
int32_t g_nScreenHeight = 480;
char g_szWindowTitle[KX_WINDOW_TITLE_BYTES] = "KOLVEX";
int g_nSoundMode = 1;

int LoadEngineConfig(void)
{
    static const char kPath[] = "kxbin\\kxcfg.kbn";
    PLAT_FILE_STAT st{};
    if (PlatFileStat(kPath, &st) != 0 || !st.bExists || st.bIsDir) {
        ReportErrorF(KX_ERR_FILE_MISSING, 1, kPath);
        return -1;
    }
    return 0;
}
