// The command line and the two settings files written by the separate settings program.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "core/kx_limits.h"

enum { KX_CMDLINE_ARGS = 9 };
extern char* g_apszCmdLineArgs[KX_CMDLINE_ARGS];
extern int g_nCmdLineArgCount;

// kxcfg.dat: 32 little-endian int32 slots.
enum { KX_SETTINGS_SLOTS = 32 };
extern uint8_t g_bUseDirectShow;          // slot 0: 1 DirectShow, 0 MCI
extern uint8_t g_bAllowSSE;               // slot 2
extern uint8_t g_bAllowSSE2;              // slot 3
extern int g_nWorkerCap;                  // slot 4: 0 gives one worker; 4 otherwise
extern uint8_t g_bBestDisplayMode;        // slot 6: 0 smallest mode that holds the game, 1 monitor size
extern int g_nScaleMode;                  // slot 7: 0 none, 1 fit, 2 cover, 3 stretch
extern int g_nDrawMethod;                 // slot 8
extern int g_bInterpolate;                // slot 8
extern uint8_t g_bCaptionDblClickOption;  // slot 9
extern int g_nUserSwitch;                 // slot 10, read by scripts
extern uint8_t g_bNoHardwareVP;           // slot 12
extern uint8_t g_b16BitTextures;          // slot 13
extern uint8_t g_bDither16;               // slot 14
extern uint8_t g_bDisableComposition;     // slot 22
extern int g_nTextureFormat, g_nTextureBits;
extern int g_nTileMaxWidth, g_nTileMaxHeight;
extern int g_nMagFilter, g_nMinFilter, g_nMipFilter;
extern uint8_t g_bGpuPresent;

// kxsfs.dat: slot 21 is the save-folder mode 0..3.
extern int g_nSaveFolderMode;
extern char g_szSaveFolder[KX_MAX_PATH];

// Fills the argument table from the program path and the arguments after it (cp932).
int CopyCommandLineArgs(const char* pszProgram, const std::vector<std::string>& args);
int LoadUserSettings(void);
int InitSaveFolder(void);
// The switches "/kxcfg" and "/info" in argument 1: 1 when one was served (the engine then ends
// without running the game), else 0.
int HandleCommandLineSwitch(void);
// Puts every setting back to its start value (start-up begins from these).
void ResetUserSettings(void);
