// The values of the compiled engine configuration kxbin\kxcfg.kbn that the whole engine reads: the
// logical screen size, the extension search orders, the debug flag, the sound mode, the window
// style, the two file-source flags and the window title. The script runtime's loader fills them
// once at start-up (script/engine_config.h).
#pragma once
#include <cstdint>

extern uint8_t g_bDebug;   // the game was compiled as a debug build

// Extensions tried for resource names without one: images 1 ".png", 2 ".bmp", 3 ".jpg", 4 ".gif",
// 5 ".psb", 6 ".webp" (the first 7 bytes are consulted); sounds 1 ".ogg", 2 ".wav" (the first 2);
// any other value skips the position.
extern uint8_t g_abImageExtOrder[8];
extern uint8_t g_abSoundExtOrder[4];
// Source order of the script list per layout (development: loose game data; release: packs):
// 0 lets a pack entry win over a loose file there. Both are 0 until the configuration is read.
extern uint8_t g_bDevSourceOrder;
extern uint8_t g_bReleaseSourceOrder;

// The main window's logical size (640 x 480 until the file is read; the main window record takes
// it too), its title, and the sound mode: 0 none, 1 optional, 2 required (start-up leaves 0 or 1).
extern int32_t g_nScreenWidth;
extern int32_t g_nScreenHeight;
enum { KX_WINDOW_TITLE_BYTES = 263 };
extern char g_szWindowTitle[KX_WINDOW_TITLE_BYTES];
extern int g_nSoundMode;

// The main window has a sizing frame; windows have a caption and frame (0: a borderless popup main
// window).
extern uint8_t g_bResizable;
extern uint8_t g_bFramedWindow;
// The low byte of the word after the window style, kept as the file gives it; nothing reads it.
extern uint8_t g_bConfigSpare;

// The texture that receives a whole frame: per axis the first of 256, 512, 1024, 2048 that is not
// below the logical size, else 4096. Computed by the loader while still 0.
extern int32_t g_nScreenTexWidth;
extern int32_t g_nScreenTexHeight;
