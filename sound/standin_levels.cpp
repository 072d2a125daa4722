// Stand-in until the levels, fades and request handlers exist: every request completes at once and
// changes nothing. Delete this file when sound_levels.cpp arrives.
#include "sound/sound.h"

int StepSoundFades(TREE_NODE* pFirst)
{
    (void)pFirst;
    return 0;
}

int PauseSoundTree(TREE_NODE* pFirst, int32_t nValue)
{
    (void)pFirst;
    (void)nValue;
    return 0;
}

#define SOUND_OP_STANDIN(name) \
    int name(int32_t nEntry)   \
    {                          \
        (void)nEntry;          \
        return 1;              \
    }
SOUND_OP_STANDIN(SoundOpLoad)
SOUND_OP_STANDIN(SoundOpPlay)
SOUND_OP_STANDIN(SoundOpPause)
SOUND_OP_STANDIN(SoundOpFadeOut)
SOUND_OP_STANDIN(SoundOpVolume)
SOUND_OP_STANDIN(SoundOpFadeTarget)
SOUND_OP_STANDIN(SoundOpLoopCount)
SOUND_OP_STANDIN(SoundOpEndPos)
SOUND_OP_STANDIN(SoundOpStartPos)
SOUND_OP_STANDIN(SoundOpLoopStart)
SOUND_OP_STANDIN(SoundOpPan)
SOUND_OP_STANDIN(SoundOpFrequency)
SOUND_OP_STANDIN(SoundOpNop)
SOUND_OP_STANDIN(SoundOpUnload)
#undef SOUND_OP_STANDIN
