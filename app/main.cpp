// kolvex: plays the game in its folder.
#include <cstdio>
#include <string>
#include <vector>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/kx_texts.h"
#include "core/settings.h"
#include "core/sysfacts.h"
#include "platform/plat_paths.h"
#include "script/engine_config.h"

int main(int argc, char** argv)
{
    std::vector<std::string> args;
    if (PlatInitProgramPaths(argc, argv, &args) != 0) {
        std::fprintf(stderr, "kolvex: the game folder's path cannot be expressed in code page 932\n");
        return 1;
    }
    InitEngineTexts();
    if (InitEnginePaths() != 0) {
        ReportErrorF(KX_ERR_PATH_TOO_LONG, 1, PlatGetProgramFolder());
        return 1;
    }
    CopyCommandLineArgs(g_szExePath, args);
    LoadUserSettings();
    InitSaveFolder();
    ReadSystemMetrics();
    if (HandleCommandLineSwitch()) return 0;

    if (LoadEngineConfig() != 0) return 1;
    return g_bEngineStop ? 1 : 0;
}
