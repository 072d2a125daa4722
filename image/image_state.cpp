// The image folder's globals back at their start values (see image/image_state.h).
#include "image/image_state.h"

#include "image/dirty_rects.h"
#include "image/image_load.h"
#include "image/layer.h"
#include "image/text_draw.h"

void ResetImageState(void)
{
    g_bFullRedraw = 0;
    // The capture layer is a node of the layer tree, which the tree's owner frees.
    g_pCaptureLayer = nullptr;
    g_pszImageLoadCommand = "layer";
    ClearGlyphCache();
    g_llGlyphRenders = 0;
}
