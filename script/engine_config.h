// The compiled engine configuration kxbin\kxcfg.kbn.
#pragma once
#include <cstdint>

extern uint8_t g_bDebug;   // the game was compiled as a debug build

// Extensions tried for resource names without one: images 1 ".png", 2 ".bmp", 3 ".jpg", 4 ".gif",
// 5 ".psb", 6 ".webp" (the first 7 bytes are consulted); sounds 1 ".ogg", 2 ".wav" (the first 2);
// any other value skips the position.
extern uint8_t g_abImageExtOrder[8];
extern uint8_t g_abSoundExtOrder[4];
// Source order of the script list per layout: 0 lets a pack entry win over a loose file there.
extern uint8_t g_bDevSourceOrder;
extern uint8_t g_bReleaseSourceOrder;

// The main window's logical size (640 x 480 until the file is read), its title, and the sound mode:
// 0 none, 1 optional, 2 required (start-up leaves 0 or 1).
extern int32_t g_nScreenWidth;
extern int32_t g_nScreenHeight;
enum { KX_WINDOW_TITLE_BYTES = 263 };
extern char g_szWindowTitle[KX_WINDOW_TITLE_BYTES];
extern int g_nSoundMode;

// Reads kxbin\kxcfg.kbn. 0, or non-zero after a reported error (start-up then stops).
int LoadEngineConfig(void);
