// SSE2 forms of the pixel routines.
#include "imageproc/pixel_ops.h"

void ApplySSE2PixelOps(PIXEL_OPS* pOps, int nLevel)
{
    (void)pOps;
    (void)nLevel;
}
