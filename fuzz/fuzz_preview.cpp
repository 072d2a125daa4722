// The screen saver's preview picture carried inside the executable: a BMP file image checked and
// taken row by row.
#include "core/appended_data.h"
#include "fuzz/support.h"

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzInit(pArgc, pArgv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    PREVIEW_PICTURE pic;
    if (DecodePreviewPicture(pData, nSize, &pic) == 0) {
        // Every row the picture hands out lies inside its pixels.
        volatile uint32_t nSum = 0;
        for (int32_t y = 0; y < pic.nHeight; ++y)
            for (int32_t i = 0; i < pic.nWidth * 3; ++i) nSum = nSum + pic.apRows[size_t(y)][i];
    }
    FuzzEndInput();
    return 0;
}
