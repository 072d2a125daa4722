// The layer delete command (slot 3) and the layer information command (slot 4), and the reading of
// a layer's pixel at a window position.
#pragma once
#include <cstdint>

struct TREE_NODE;

// Argument ids of the information command: the layer (0, 1 as for the layer command), the output
// variable, and the parameters of the questions. The questions are the ids of its table.
enum {
    LAYER_INFO_ARG_USER1 = 26,    // user value 1 (also the value a child search looks for)
    LAYER_INFO_ARG_USER2 = 27,
    LAYER_INFO_ARG_CHILD = 32,    // child number (search start, child of names and flags)
    LAYER_INFO_ARG_OUT = 33,
    LAYER_INFO_ARG_X = 34,        // point or bounding-box selector
    LAYER_INFO_ARG_Y = 35,        // point or alpha threshold
    LAYER_INFO_ARG_LAST = 35,
};

// Modes of ReadLayerPixel.
enum { KX_PIXEL_RGB = 1, KX_PIXEL_ALPHA = 2, KX_PIXEL_WHOLE = 3 };

// The pixel of the node's layer under window point (wx, wy): mode 1 0xRRGGBB, mode 2 its alpha,
// mode 3 the whole 32-bit pixel as a signed 32-bit value. -1 outside the layer, for a NULL node or a
// layer without pixels. The layer's window position is the sum of its own position and those of
// its ancestors below the layer root, in 32 bits.
int64_t ReadLayerPixel(const TREE_NODE* pNode, int32_t nWindowX, int32_t nWindowY, int nMode);

// Removes the layer (or the group with everything below it) named by arguments 0 and 1. A missing
// layer is no error. 0, or -1 for a path the normaliser refuses.
int CmdLayerDelete(void);
// Answers one question about a layer into the output variable. 0, or -1 after an error.
int CmdLayerInfo(void);
