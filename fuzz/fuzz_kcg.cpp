// KCG files (two parts, each raw, zlib, Snappy or WebP): the input is the file image, decoded into a new pixel buffer as the image loader does.
#include <cstdlib>

#include "fuzz/support.h"
#include "image/image_load.h"
#include "image/kcg_format.h"

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzInit(pArgc, pArgv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    DECODED_IMAGE img{};
    if (DecodeKCGImage(pData, nSize, "fuzz.kcg", &img) == 0) {
        // Every pixel the decoder promised is there to be read.
        NormalizeTransparentBuffer(img.pPixels, size_t(img.nWidth) * size_t(img.nHeight));
        std::free(img.pPixels);
    }
    FuzzEndInput();
    return 0;
}
