// The window shape made from a picture: the first four bytes give the width (0..63), the height
// (0..63) and the extra row bytes (0..7); the rest are the B,G,R,A pixels, as many as the bytes
// allow (the height is cut to the rows present). The runs become rectangles inside the picture;
// a picture without extra row bytes also shapes a window that does not exist, as a layer.
#include <cstdint>
#include <vector>

#include "display/cmd_window.h"
#include "fuzz/support.h"
#include "image/layer.h"

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzInit(pArgc, pArgv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 4) return 0;
    const int32_t nWidth = pData[0] & 63;
    int32_t nHeight = pData[1] & 63;
    const int32_t nStride = nWidth * 4 + (pData[2] & 7);
    const uint8_t* pPixels = pData + 4;
    const size_t nBytes = nSize - 4;
    if (nStride > 0) {
        // Only whole rows that lie in the input; the last row needs only its pixels.
        while (nHeight > 0 && static_cast<size_t>(nHeight - 1) * nStride + static_cast<size_t>(nWidth) * 4 > nBytes)
            --nHeight;
    }
    // An exact copy, so that a read past the last row is seen.
    const size_t nUsed = nHeight > 0 ? static_cast<size_t>(nHeight - 1) * nStride + static_cast<size_t>(nWidth) * 4 : 0;
    std::vector<uint8_t> pixels(pPixels, pPixels + nUsed);
    std::vector<PLAT_RECT> rects;
    const int n = CreateRegionFromPixels(pixels.data(), nWidth, nHeight, nStride, &rects);
    if (n >= 0) {
        if (static_cast<size_t>(n) != rects.size() || n >= KX_SHAPE_MAX_RECTS) __builtin_trap();
        for (const PLAT_RECT& r : rects)
            if (r.left < 0 || r.left >= r.right || r.right > nWidth || r.top < 0 || r.bottom != r.top + 1 || r.top >= nHeight)
                __builtin_trap();
    }
    if (nStride == nWidth * 4 && nHeight > 0 && nWidth > 0) {
        LAYER layer{};
        layer.nWidth = nWidth;
        layer.nHeight = nHeight;
        layer.pOwnedPixels = pixels.data();
        SetWindowShape(PLAT_HWND{}, &layer);
        int32_t w = 0, h = 0;
        const std::vector<uint32_t>* pShape = GetShapeBitmap(&w, &h);
        if (pShape && pShape->size() != static_cast<size_t>(w) * static_cast<size_t>(h)) __builtin_trap();
        DeleteShapeBitmap();
    }
    FuzzEndInput();
    return 0;
}
