// The compiled engine configuration kxbin\kxcfg.kbn: the logical screen size, the extension search
// orders, threaded frames, the debug flag, the sound mode, the window style, the two file-source
// flags and the window title of the game. Start-up reads it once, before the first window exists.
#pragma once
#include <cstdint>

// Where the file lies and how large it is at least (the title follows the fixed part).
#define KX_ENGINE_CONFIG_FILE "kxbin\\kxcfg.kbn"
enum {
    KX_CONFIG_FIXED_BYTES = 78,     // everything up to the title
    KX_CONFIG_TITLE_MAX = 128,      // title bytes a configuration may hold
    KX_CONFIG_MIN_WIDTH = 128,
    KX_CONFIG_MIN_HEIGHT = 16,
    KX_CONFIG_MAX_SIZE = 8192,      // largest width and height
};

// Errors of the configuration's values (texts from the game's message table).
enum {
    KX_ERR_CONFIG_TITLE = 901000,   // the title is longer than 128 bytes
    KX_ERR_CONFIG_VALUE = 901020,   // screen size out of range, or threaded frames not 0 or 1
};

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

// Reads kxbin\kxcfg.kbn through the file sources into the globals above, g_bThreadedFrames
// (core/frame_loop.h) and the main window record (size and show-at-first-frame byte, when the
// records exist). 0 on success; -1 when the file is missing (104060), cannot be read or does not
// fit its layout (104010) or its pack does not open (901040); 1 when a value is refused (901020,
// 901000). Every failure is reported fatally, so start-up stops.
int LoadEngineConfig(void);
// The side of the frame texture for a logical size (see g_nScreenTexWidth).
int32_t ScreenTextureSide(int32_t nLogical);
