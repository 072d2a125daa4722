// The imageproc folder's globals back at their start values (see imageproc/imageproc_state.h).
#include "imageproc/imageproc_state.h"

#include <cstring>

#include "imageproc/compositor.h"
#include "imageproc/pixel_ops.h"

namespace {
// The routine table as the program starts with it (constant-initialised, so read before any
// code can change it).
const PIXEL_OPS s_StartPixelOps = g_PixelOps;
}  // namespace

void ResetImageprocState(void)
{
    g_PixelOps = s_StartPixelOps;
    g_nPixelOpsLevel = 1;
    g_nPixelOpsSimd = PIXEL_SIMD_NONE;
    std::memset(g_aiMaskCurve, 0, sizeof g_aiMaskCurve);
    g_nInlineBlendPixels = KX_INLINE_BLEND_PIXELS;
}
