// The settings files kxcfg.dat and kxsfs.dat of the game folder: the input is written as both and
// read as at start-up.
#include <cstring>

#include "core/engine_globals.h"
#include "core/settings.h"
#include "fuzz/support.h"

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzInit(pArgc, pArgv);
    std::strcpy(g_szAppDataDir, "\\home\\player\\.local\\share");
    std::strcpy(g_szDocumentsDir, "\\home\\player\\Documents");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    FuzzWriteFile("kxcfg.dat", pData, nSize);
    FuzzWriteFile("kxsfs.dat", pData, nSize);
    ResetUserSettings();
    LoadUserSettings();
    InitSaveFolder();
    ResetUserSettings();
    FuzzEndInput();
    return 0;
}
