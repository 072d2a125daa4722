// The image-effect command (slot 2): one image operation on layers of the layer tree, chosen by the
// first selector argument present in a fixed order (scaling, rotation, the effect filters, pasting,
// mixing, pixel masks, auto-crop, canvas resize, copying, text drawing, swapping, GPU paste and
// capture). ApplyImageEffect and the shared helpers are declared in imageproc/image_effects.h.
#pragma once
#include <cstdint>

struct LAYER;
struct TREE_NODE;

// Argument ids of the image-effect command.
enum {
    FX_ARG_LAYER1 = 0,        // first layer name (text)
    FX_ARG_LAYER2 = 1,        // second, third, fourth layer names (texts)
    FX_ARG_LAYER3 = 2,
    FX_ARG_LAYER4 = 3,
    FX_ARG_NUMBER1 = 4,       // numbers appended to the four names as "." and digits
    FX_ARG_P = 9,             // main parameter (kept unevaluated, evaluated by the command)
    FX_ARG_Q = 10,            // second parameter (likewise)
    FX_ARG_TEXT = 11,         // text to draw (selector 64)
    FX_ARG_X1 = 12,           // rectangle in pixels, corners inclusive: 12 x1, 13 y1, 14 x2, 15 y2
    FX_ARG_WIDTH = 16,        // target size in pixels: 16 width, 17 height
    FX_ARG_X1_100 = 18,       // rectangle in 1/100 pixel: 18..21
    FX_ARG_WIDTH_100 = 22,    // target size in 1/100 pixel: 22, 23
    FX_ARG_FIRST_SELECTOR = 24,
    FX_SEL_SCALE_NEAREST = 24,
    FX_SEL_SCALE_BILINEAR = 25,
    FX_SEL_SCALE_BICUBIC = 26,
    FX_SEL_SCALE_SUPERSAMPLE = 27,
    FX_SEL_SCALE_LANCZOS = 28,
    FX_SEL_ROTATE = 29,
    FX_SEL_ROTATE_SMOOTH = 30,
    FX_SEL_SATURATION = 31,
    FX_SEL_COLOR_BALANCE = 32,
    FX_SEL_SEPIA = 33,
    FX_SEL_PASTE = 34,
    FX_SEL_PASTE_BOTH = 35,
    FX_SEL_MIX = 36,
    FX_SEL_NOTHING = 37,
    FX_SEL_CLEAR_EQUAL = 38,
    FX_SEL_CLEAR_DIFFERENT = 39,
    FX_SEL_AUTO_CROP = 40,
    FX_SEL_RESIZE_CANVAS = 41,
    FX_SEL_BRIGHTNESS = 42,
    FX_SEL_THRESHOLD = 43,
    FX_SEL_FLIP = 44,
    FX_SEL_MIRROR = 45,
    FX_SEL_MOSAIC = 46,
    FX_SEL_BLUR = 47,          // 47..52: the blur and shadow effects 2..7
    FX_SEL_SCATTER = 53,
    FX_SEL_WAVE_H = 54,
    FX_SEL_WAVE_V = 55,
    FX_SEL_WAVE = 56,
    FX_SEL_NEGATIVE = 57,
    FX_SEL_FILL_COLOR = 58,
    FX_SEL_FILL_ALPHA = 59,
    FX_SEL_FILL_PIXEL = 60,
    FX_SEL_ALPHA_RAMP = 61,
    FX_SEL_SWIRL = 62,
    FX_SEL_TEXT_SLOT = 63,
    FX_SEL_DRAW_TEXT = 64,
    FX_SEL_COPY_ATTR = 65,
    FX_SEL_COPY = 66,
    FX_SEL_SWAP = 67,          // 67, 68: swap modes 1 and 2
    FX_SEL_SWAP_ALL = 68,
    FX_SEL_GPU_PASTE = 69,
    FX_SEL_GPU_CAPTURE = 70,
    FX_ARG_LAST = 70,
};

// Error ids of the image-effect command (fatal script errors naming the command).
enum {
    KX_ERR_FX_SWAP_RECT = 101281,       // a swap selector with a rectangle id (names the selector)
    KX_ERR_FX_ROTATE_RECT = 101282,     // a rotation selector with a rectangle id
    KX_ERR_FX_MOSAIC_RECT = 101283,     // the mosaic selector with a rectangle id
    KX_ERR_FX_SCATTER_RECT = 101284,    // the scatter selector with a rectangle id
    KX_ERR_FX_GROUP_TARGET = 101291,    // a second, third or fourth layer path naming a group (the path)
    KX_ERR_FX_COPY_NO_TARGET = 101296,  // a copy selector without a second layer
    KX_ERR_FX_SWAP_NO_TARGET = 101297,  // a swap selector without a second layer
    KX_ERR_FX_PASTE_NO_TARGET = 101298, // a paste, mix or mask selector without a second layer
};

// Services of subsystems that attach to the command when they are linked in; each does nothing
// while NULL.
// The text selectors, the GPU paste and capture and the E-mote players' table go through
// g_LayerHooks (image/layer.h).

// The image-effect command. 0 to go on with the next command, -1 after a reported error or a failed
// operation.
int CmdImageEffect(void);
