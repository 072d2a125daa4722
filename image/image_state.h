// Putting the layer code's run state back to its start values, for a test program between two tests.
#pragma once

// Puts the image folder's globals back to the values they hold when the program starts: no full
// redraw pending, no capture layer, the image loader's command name, the glyph cache emptied and its
// render count at 0. The layer tree itself belongs to the core's trees (core/core_state.h); the
// font list and the text tables, filled once for the process, are kept. The layer hook table is
// the composition root's: it installs it again afterwards.
void ResetImageState(void);
