// Ogg Vorbis files through vorbisfile from memory: the open checks, then decoding and seeking.
#include "fuzz/sound_input.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzSoundInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    FuzzSoundInput(pData, nSize, SNDSRC_OGG);
    return 0;
}
