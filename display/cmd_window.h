// The window commands: the window command (slot 105) with its ordered effects on one of the four
// windows (logical and client size, creation of a sub window, title, opacity, visibility, position,
// stacking, maximise and minimise permissions, close mode, flashing, layer set, menu bar, shape,
// click layer, maximise box, foreground, fullscreen, minimise and restore, the maximise toggle and
// the resizable frame), the window-hide command (106), the window-information command (107) and
// command 101, which only decodes its arguments. Also the window shape made from a layer and the
// click layer's hit test.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/plat_window.h"

struct LAYER;
struct TREE_NODE;
struct WINDOW_STATE;

// Argument ids of the window command.
enum {
    WINCMD_ARG_INDEX = 0, WINCMD_ARG_TITLE = 1, WINCMD_ARG_ALPHA = 2, WINCMD_ARG_VISIBLE = 3,
    WINCMD_ARG_X = 4, WINCMD_ARG_Y = 5, WINCMD_ARG_ZORDER = 6, WINCMD_ARG_WIDTH = 7, WINCMD_ARG_HEIGHT = 8,
    WINCMD_ARG_CLIENT_WIDTH = 9, WINCMD_ARG_CLIENT_HEIGHT = 10, WINCMD_ARG_FOREGROUND = 11,
    WINCMD_ARG_MAXIMIZE_BOX = 12, WINCMD_ARG_FULLSCREEN = 13, WINCMD_ARG_MINIMIZE = 14,
    WINCMD_ARG_MAXIMIZE_TOGGLE = 15, WINCMD_ARG_MAXIMIZE_ALLOWED = 16, WINCMD_ARG_MINIMIZE_ALLOWED = 17,
    WINCMD_ARG_CLOSE_MODE = 18, WINCMD_ARG_FLASH_COUNT = 19, WINCMD_ARG_FLASH_INTERVAL = 20,
    WINCMD_ARG_LAYER_SET = 21, WINCMD_ARG_MENU_PATH = 22, WINCMD_ARG_SHAPE = 23, WINCMD_ARG_CLICK_LAYER = 24,
    WINCMD_ARG_RESIZABLE = 25, WINCMD_ARG_LAST = 25,
};

// Error ids of the window commands (script errors, fatal).
enum {
    KX_ERR_WINDOW_ARG_VALUE = 101310,   // a value the argument does not allow (command, argument, value)
    KX_ERR_WINDOW_NO_TITLE = 101320,    // a new sub window without a title (command)
    KX_ERR_WINDOW_HIDE_MAIN = 101330,   // the main window cannot be hidden so (command, argument, value)
    KX_ERR_WINDOW_NO_LAYER = 101250,    // a layer path that names nothing (command, path)
};

// Logical window sizes the command accepts.
enum { KX_WINDOW_SIZE_MIN = 1, KX_WINDOW_SIZE_MAX = 8192 };
// A shape needing this many rectangles or more is refused.
enum { KX_SHAPE_MAX_RECTS = 2000 };

// The runs of the picture's pixels whose B, G, R are not all 0 (any alpha), row by row from the top,
// left to right: each run becomes the rectangle (start, row, end, row + 1), end exclusive. pPixels:
// B,G,R,A rows of nStride bytes. The number of rectangles, or -1 when the KX_SHAPE_MAX_RECTS-th would
// be added (nothing usable is left in *pOut then).
int CreateRegionFromPixels(const uint8_t* pPixels, int32_t nWidth, int32_t nHeight, int32_t nStride,
                           std::vector<PLAT_RECT>* pOut);
// Shapes the window by the layer's picture (opaque black pixels become holes). The shape's pixels
// are kept (the shape bitmap) until the next shape or DeleteShapeBitmap. 0, or -1 when the layer has
// no picture or the shape needs too many rectangles (the window keeps its region).
int SetWindowShape(PLAT_HWND hwnd, const LAYER* pLayer);
// Frees the kept shape pixels (the main window's WM_DESTROY).
void DeleteShapeBitmap(void);
// The shape's pixels as kept (B,G,R with alpha 255), for tests; NULL when there is none.
const std::vector<uint32_t>* GetShapeBitmap(int32_t* pnWidth, int32_t* pnHeight);

// Marks the window's layer set wholly dirty and changed: its own dirty box becomes the whole layer,
// with the valid, full-redraw and changed flags set. Nothing without a layer set.
void MarkLayerSetDirty(WINDOW_STATE* pState);
// 1 when the click layer is on and has a pixel that is not black (alpha ignored) under the window's
// mouse position (game coordinates), the layer placed by its position and its ancestors' positions.
int ClickLayerHit(WINDOW_STATE* pState);
// The main window's WM_DESTROY: the tray icon and the shape bitmap go with it.
void ReleaseMainWindowExtras(void);

// The commands. 0 to go on; -1 after an error; the window command also answers 1 (no error) when
// the shape cannot be made.
int CmdWindow(void);
int CmdWindowHide(void);
int CmdWindowInfo(void);
int CmdArgsOnly101(void);
