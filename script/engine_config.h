// The compiled engine configuration kxbin\kxcfg.kbn: the logical screen size, the extension search
// orders, threaded frames, the debug flag, the sound mode, the window style, the two file-source
// flags and the window title of the game. Start-up reads it once, before the first window exists.
#pragma once
#include <cstdint>

#include "core/game_config.h"

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

// The values the file gives are kept in core/game_config.h.

// Reads kxbin\kxcfg.kbn through the file sources into the globals above, g_bThreadedFrames
// (core/frame_loop.h) and the main window record (size and show-at-first-frame byte, when the
// records exist). 0 on success; -1 when the file is missing (104060), cannot be read or does not
// fit its layout (104010) or its pack does not open (901040); 1 when a value is refused (901020,
// 901000). Every failure is reported fatally, so start-up stops.
int LoadEngineConfig(void);
// The side of the frame texture for a logical size (see g_nScreenTexWidth).
int32_t ScreenTextureSide(int32_t nLogical);
