// GIF files: the input is the file image, decoded into a layer's frame table; every decoded frame
// is drawn into the layer as the animation does.
#include <cstdlib>

#include "fuzz/support.h"
#include "image/gif_decoder.h"
#include "image/layer.h"

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzInit(pArgc, pArgv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    LAYER* pLayer = static_cast<LAYER*>(std::calloc(1, sizeof(LAYER)));
    if (!pLayer) return 0;
    DecodeGIF(pData, nSize, pLayer, "fuzz.gif");
    for (int i = 0; i < KX_GIF_MAX_FRAMES && pLayer->ppGifFrames && pLayer->ppGifFrames[i]; ++i)
        DrawGIFFrame(pLayer, i);
    FreeGIFFrames(pLayer);
    std::free(pLayer->pOwnedPixels);
    std::free(pLayer);
    FuzzEndInput();
    return 0;
}
