// The layer command (slot 1): names a layer by path, may create it (from an image file, as a second
// name for another layer's image, or as an empty group of a given size), loads a new image into it
// and sets its display attributes in a fixed order. Every change marks the layer dirty and asks for
// a full redraw.
#pragma once
#include <cstdint>

struct LAYER;
struct TREE_NODE;

// Argument ids of the layer command.
enum {
    LAYER_ARG_PATH = 0,
    LAYER_ARG_NUMBER = 1,
    LAYER_ARG_VISIBLE = 2,
    LAYER_ARG_OPACITY = 3,
    LAYER_ARG_X = 4,
    LAYER_ARG_Y = 5,
    LAYER_ARG_ORDER = 6,
    LAYER_ARG_SATURATION = 7,
    LAYER_ARG_COLOR_BALANCE = 8,
    LAYER_ARG_WIDTH = 9,
    LAYER_ARG_HEIGHT = 10,
    LAYER_ARG_MIP = 24,
    LAYER_ARG_TEXTURE = 25,
    LAYER_ARG_CAPTURE = 26,
    LAYER_ARG_GPU_RENDER = 27,
    LAYER_ARG_X100 = 28,
    LAYER_ARG_Y100 = 29,
    LAYER_ARG_SCALE_X = 30,
    LAYER_ARG_SCALE_Y = 31,
    LAYER_ARG_GPU_ANGLE = 32,       // 32, 33, 34
    LAYER_ARG_GPU_ANCHOR_X = 35,
    LAYER_ARG_GPU_ANCHOR_Y = 36,
    LAYER_ARG_GPU_VALUE = 37,       // 37, 38, 39
    LAYER_ARG_GPU_SATURATION = 40,
    LAYER_ARG_GPU_COLOR_BALANCE = 41,
    LAYER_ARG_GPU_FLAG = 42,
    LAYER_ARG_SECOND_PATH = 43,
    LAYER_ARG_FADE = 44,
    LAYER_ARG_SCALE_INTO_BUFFER = 45,
    LAYER_ARG_IMAGE = 46,
    LAYER_ARG_SHARE = 47,
    LAYER_ARG_ALPHA_FROM = 48,
    LAYER_ARG_MASK_THRESHOLD = 50,
    LAYER_ARG_MASK_PATH = 51,
    LAYER_ARG_MASK_NUMBER = 52,
    LAYER_ARG_MASK_VAGUENESS = 53,
    LAYER_ARG_BLEND = 54,
    LAYER_ARG_USER1 = 56,
    LAYER_ARG_USER2 = 57,
    LAYER_ARG_LAST = 57,
};

// Error ids of the layer commands (script errors, fatal, naming the command).
enum {
    KX_ERR_LAYER_NO_ORDER = 100240,       // a new layer without an order key
    KX_ERR_LAYER_SIZE_PAIR = 100243,      // an image with only one of width and height
    KX_ERR_LAYER_MISSING = 101230,        // a missing layer while the command's switch is on (with the path)
    KX_ERR_LAYER_SHARE_MISSING = 101250,  // the layer to share is missing (with its path)
    KX_ERR_LAYER_GROUP_IMAGE = 101280,    // an image or a share given for a group
    KX_ERR_LAYER_INFO_POINT = 101295,     // a layer pixel asked without both coordinates (with the argument)
};

// Tile limits of the texture upload the layer command asks for.
enum { KX_LAYER_TILE_WIDTH_LIMIT = 512, KX_LAYER_TILE_HEIGHT_LIMIT = 256 };


// Argument 0's path, with "." and argument 1's number appended when argument 1 is given, made
// absolute against the current layer path into pszOut (KX_MAX_OBJECT_PATH bytes). 1 when it names
// a group (a trailing "/" without argument 1), 0 for a plain layer, -1 after a reported error.
int ResolveLayerArgPath(char* pszOut);
// The node the resolved path names (a group or a plain layer by bGroup), or NULL.
TREE_NODE* FindLayerNode(const char* pszPath, int bGroup);
// The name of an argument of a command as the game's command table gives it, or "".
const char* LayerArgName(int nCmd, int nArgId);

// The layer command. 0 to go on with the next command, -1 to end the thread's turn (after any error).
int CmdLayer(void);
