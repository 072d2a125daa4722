// The engine configuration kxbin\kxcfg.kbn: the input is the file, read into the globals and the
// main window record as at start-up.
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/sysfacts.h"
#include "display/window_state.h"
#include "fuzz/support.h"
#include "script/engine_config.h"

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzInit(pArgc, pArgv);
    g_nDesktopWidth = 1920;
    g_nDesktopHeight = 1080;
    CreateWindowStates();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    FuzzSetMemoryFiles({FUZZ_FILE{KX_ENGINE_CONFIG_FILE, pData, nSize}});
    // The start values the loader begins from.
    g_nScreenWidth = 640;
    g_nScreenHeight = 480;
    g_nScreenTexWidth = 0;
    g_nScreenTexHeight = 0;
    g_bThreadedFrames = 0;
    LoadEngineConfig();
    FuzzClearMemoryFiles();
    FuzzEndInput();
    return 0;
}
