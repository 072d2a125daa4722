// WAV files: the RIFF walk, PCM played as stored and compressed WAV converted to PCM at load.
#include "fuzz/sound_input.h"

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzSoundInit(pArgc, pArgv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    FuzzSoundInput(pData, nSize, SNDSRC_WAV);
    return 0;
}
