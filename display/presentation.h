// Presentation: copies a window's composed picture into the platform window's retained framebuffer,
// scaling the main window's picture into the scaled-frame buffer first when its output size differs
// from the logical size, and shows it.
#pragma once
#include <cstdint>

struct WINDOW_STATE;
struct LAYER;
struct DIRTY_BOX;

// Presents the window's layer set in full and marks it changed. Nothing for a window without a
// layer set, back layer or handle. 0.
int RepaintWindow(WINDOW_STATE* pState);
// Presents the layer's union dirty box (or the whole scaled frame) in the window. Nothing when the
// engine stops, the box is empty, the output size is not positive, or a needed buffer is missing.
// 0 when something was presented, 1 when nothing was to do.
int PresentWindow(WINDOW_STATE* pState, LAYER* pLayer);
// Presents only the part of the picture in the box (layer pixels), scaled and placed as the whole
// picture was last presented: the same window pixels as a whole presentation gives, for the cost of
// the part (scaling still takes the whole picture). A NULL box, or a placement that changed since
// the last whole presentation, presents as PresentWindow does. 0, or 1 when nothing was to do.
int PresentWindowPart(WINDOW_STATE* pState, LAYER* pLayer, const DIRTY_BOX* pPart);
