// The command line, the user settings file kxcfg.dat and the save-folder settings file kxsfs.dat.
#include "core/settings.h"

#include <cstdlib>
#include <cstring>

#include "core/cp932.h"
#include "core/engine_globals.h"
#include "core/errors.h"
#include "platform/plat_file.h"
#include "platform/plat_process.h"

char* g_apszCmdLineArgs[KX_CMDLINE_ARGS];
int g_nCmdLineArgCount = 0;

uint8_t g_bUseDirectShow;
uint8_t g_bAllowSSE;
uint8_t g_bAllowSSE2;
int g_nWorkerCap;
uint8_t g_bBestDisplayMode;
int g_nScaleMode;
int g_nDrawMethod;
int g_bInterpolate;
uint8_t g_bCaptionDblClickOption;
int g_nUserSwitch;
uint8_t g_bNoHardwareVP;
uint8_t g_b16BitTextures;
uint8_t g_bDither16;
uint8_t g_bDisableComposition;
int g_nTextureFormat, g_nTextureBits;
int g_nTileMaxWidth, g_nTileMaxHeight;
int g_nMagFilter, g_nMinFilter, g_nMipFilter;
uint8_t g_bGpuPresent;

int g_nSaveFolderMode;
char g_szSaveFolder[KX_MAX_PATH];

namespace {

enum { TEXFMT_A8R8G8B8 = 21, TEXFMT_A4R4G4B4 = 26 };

// Both settings files are 32 little-endian int32 slots; a short file leaves the rest 0.
// Returns 1 when the file was there.
int ReadSettingsSlots(const char* pszFileName, int32_t aSlots[KX_SETTINGS_SLOTS])
{
    std::memset(aSlots, 0, sizeof(int32_t) * KX_SETTINGS_SLOTS);
    char szPath[KX_MAX_PATH];
    FormatText(szPath, sizeof szPath, "%s\\%s", g_szExeDir, pszFileName);
    PLAT_FILE* f = PlatFileOpen(szPath, PLAT_FILE_READ);
    if (!f) return 0;
    uint8_t abRaw[KX_SETTINGS_SLOTS * 4] = {};
    int64_t n = PlatFileRead(f, abRaw, sizeof abRaw);
    PlatFileClose(f);
    if (n < 0) n = 0;
    for (int i = 0; i < KX_SETTINGS_SLOTS; ++i) {
        const uint8_t* b = abRaw + i * 4;
        aSlots[i] = static_cast<int32_t>(static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                                         static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24);
    }
    return 1;
}

// A 0/1 slot: only those two values change the setting.
void ApplySwitch(int32_t nValue, uint8_t* pbSetting)
{
    if (nValue == 0 || nValue == 1) *pbSetting = static_cast<uint8_t>(nValue);
}

}  // namespace

void ResetUserSettings(void)
{
    g_bUseDirectShow = 1;
    g_bAllowSSE = 1;
    g_bAllowSSE2 = 1;
    g_nWorkerCap = 4;
    g_bBestDisplayMode = 1;
    g_nScaleMode = 1;
    g_nDrawMethod = 0;
    g_bInterpolate = 1;
    g_bCaptionDblClickOption = 0;
    g_nUserSwitch = 0;
    g_bNoHardwareVP = 0;
    g_b16BitTextures = 0;
    g_bDither16 = 1;
    g_bDisableComposition = 0;
    // Without the settings file the textures are still 32-bit, so the renderer always has a format.
    g_nTextureFormat = TEXFMT_A8R8G8B8;
    g_nTextureBits = 32;
    g_nTileMaxWidth = 0;
    g_nTileMaxHeight = 0;
    g_nMagFilter = 1;
    g_nMinFilter = 1;
    g_nMipFilter = 0;
    g_bGpuPresent = 0;
    g_nSaveFolderMode = 0;
}

// Start values hold from the beginning, before any file is read.
static const int s_nSettingsInitialised = (ResetUserSettings(), 1);

int CopyCommandLineArgs(const char* pszProgram, const std::vector<std::string>& args)
{
    for (char*& psz : g_apszCmdLineArgs) {
        std::free(psz);
        psz = nullptr;
    }
    auto copy = [](const char* pszText) {
        const size_t n = std::strlen(pszText);
        char* p = static_cast<char*>(std::malloc(n + 1));
        if (p) std::memcpy(p, pszText, n + 1);
        return p;
    };
    if (!pszProgram) {
        g_nCmdLineArgCount = -1;
    } else {
        g_nCmdLineArgCount = static_cast<int>(args.size() < KX_CMDLINE_ARGS - 1 ? args.size() : KX_CMDLINE_ARGS - 1);
    }
    g_apszCmdLineArgs[0] = copy(pszProgram ? pszProgram : "");
    for (int i = 1; i < KX_CMDLINE_ARGS; ++i)
        g_apszCmdLineArgs[i] = copy(i <= g_nCmdLineArgCount ? args[static_cast<size_t>(i - 1)].c_str() : "");
    for (char* psz : g_apszCmdLineArgs) {
        if (!psz) {
            ReportError(KX_ERR_NO_MEMORY, 1);
            return -1;
        }
    }
    return 0;
}

int LoadUserSettings(void)
{
    int32_t s[KX_SETTINGS_SLOTS];
    if (!ReadSettingsSlots("kxcfg.dat", s)) return 0;

    ApplySwitch(s[0], &g_bUseDirectShow);
    ApplySwitch(s[2], &g_bAllowSSE);
    ApplySwitch(s[3], &g_bAllowSSE2);
    if (s[4] == 0) g_nWorkerCap = 1;
    if (s[6] == 0) g_bBestDisplayMode = 1;
    else if (s[6] == 1) g_bBestDisplayMode = 0;
    static const int kScaleModes[4] = {1, 2, 3, 0};   // fit, cover, stretch, none
    if (s[7] >= 0 && s[7] <= 3) g_nScaleMode = kScaleModes[s[7]];
    if (s[8] >= 0 && s[8] <= 3) {
        g_nDrawMethod = 3 - s[8];
        g_bInterpolate = s[8] == 3 ? 0 : 1;
    }
    ApplySwitch(s[9], &g_bCaptionDblClickOption);
    if (s[10] == 0 || s[10] == 1) g_nUserSwitch = s[10];
    ApplySwitch(s[12], &g_bNoHardwareVP);
    ApplySwitch(s[13], &g_b16BitTextures);
    ApplySwitch(s[14], &g_bDither16);
    ApplySwitch(s[22], &g_bDisableComposition);

    // Settings that follow from the file being there.
    if (g_b16BitTextures) {
        g_nTextureFormat = TEXFMT_A4R4G4B4;
        g_nTextureBits = 16;
    } else {
        g_nTextureFormat = TEXFMT_A8R8G8B8;
        g_nTextureBits = 32;
    }
    g_nTileMaxWidth = 512;
    g_nTileMaxHeight = 256;
    g_nMagFilter = 1;
    g_nMinFilter = 1;
    g_nMipFilter = 0;
    g_bGpuPresent = 0;
    if (g_bInterpolate > 1) g_bInterpolate = 1;
    return 0;
}

int InitSaveFolder(void)
{
    int32_t s[KX_SETTINGS_SLOTS];
    if (ReadSettingsSlots("kxsfs.dat", s) && s[21] >= 0 && s[21] <= 3) g_nSaveFolderMode = s[21];

    static const char kTail[] = "\\%s_SaveData\\%s\\save\\";
    char szTail[256];
    FormatText(szTail, sizeof szTail, kTail, "kestrova", "Lumivetra");
    std::string strFolder;
    switch (g_nSaveFolderMode) {
    case 1: strFolder = std::string(g_szAppDataDir) + szTail; break;
    case 2: strFolder = std::string(g_szDocumentsDir) + szTail; break;
    case 3: strFolder = std::string(g_szDocumentsDir) + "\\My Games" + szTail; break;
    default: strFolder = "save\\"; break;
    }
    if (strFolder.size() >= sizeof g_szSaveFolder) {
        // A user folder too long for a path: saves stay in the game folder rather than a cut path.
        ReportErrorF(KX_ERR_PATH_TOO_LONG, 0, strFolder);
        strFolder = "save\\";
    }
    CopyTextBounded(g_szSaveFolder, sizeof g_szSaveFolder, strFolder.c_str());
    return 0;
}

int HandleCommandLineSwitch(void)
{
    const char* pszArg = g_nCmdLineArgCount >= 1 && g_apszCmdLineArgs[1] ? g_apszCmdLineArgs[1] : "";
    if (CompareNoCaseASCII(pszArg, "/kxcfg") == 0) {
        // The settings program lies in the game folder; the engine ends whether it starts or not.
        if (PlatStartProcess("Quenfel.exe", "/kxcfg") != 0) DebugTrace("kxcfg", "Quenfel.exe could not be started");
        return 1;
    }
    if (CompareNoCaseASCII(pszArg, "/info") == 0) {
        g_pszErrorCaption = "License Information";
        ReportError(KX_ERR_LICENSE, 1);
        return 1;
    }
    return 0;
}
