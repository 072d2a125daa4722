// The MPEG probe of the window movie: the input is a loose file whose pack header and first system
// header tell MPEG-1 from MPEG-2 program streams.
#include "fuzz/support.h"
#include "media/movies.h"

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzInit(pArgc, pArgv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    FuzzWriteFile("m.mpg", pData, nSize);
    const int nKind = GetMpegKind("m.mpg");
    if (nKind != 0 && nKind != 1 && nKind != 2 && nKind != 255) __builtin_trap();
    FuzzEndInput();
    return 0;
}
