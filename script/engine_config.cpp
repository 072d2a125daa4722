// Stand-in until the compiled configuration is read: it only checks that the file is there.
#include "script/engine_config.h"
#include "core/errors.h"
#include "platform/plat_file.h"

uint8_t g_bDebug = 0;

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
