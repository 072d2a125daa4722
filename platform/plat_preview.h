// The screen saver's preview: a picture shown inside a window of another program (the screen-saver
// settings dialog's preview area), given by its X window id. Drawn only on an X11 display.
#pragma once
#include <cstdint>

enum {
    PLAT_PREVIEW_ENDED = 0,        // shown until its window went away or the process was asked to end
    PLAT_PREVIEW_NO_WINDOW = -1,   // the id names no window
    PLAT_PREVIEW_NO_X11 = -2,      // no X11 display (another video driver, or none)
};

// Makes a child window of the class and title pszClass at (0, 0) with the parent's outer size (each
// side as a 16-bit value), black, and draws the picture at its own size in its top-left corner
// whenever the window needs it. apRows[y] is the picture's row y from the top: w pixels of B, G, R.
// Returns once the parent (and so the child) is destroyed, the connection breaks, or a quit signal
// (SIGINT, SIGTERM, SIGHUP) comes.
int PlatRunPreviewWindow(unsigned long nParent, const char* pszClass, int32_t nWidth, int32_t nHeight,
                         const uint8_t* const* apRows);
