// Stand-in until the channel and streaming code exists: channels are real records with their
// defaults, but nothing is ever loaded, so there is nothing to track, refill or unload.
#include "core/object_tree.h"
#include "sound/sound.h"

SOUND_CHANNEL* AttachSoundChannel(TREE_NODE* pNode)
{
    if (!pNode) return nullptr;
    SOUND_CHANNEL* pChannel = new SOUND_CHANNEL();
    pChannel->nVolume = 256;
    pChannel->nFadeTarget = 256;
    pChannel->nRefVolume = 256;
    pChannel->nPan = 256;
    pChannel->bEnabled = 1;
    pNode->pPayload = pChannel;
    return pChannel;
}

void ReleaseSoundChannel(SOUND_CHANNEL* pChannel)
{
    delete pChannel;
}

void UnloadSoundTree(TREE_NODE* pFirst)
{
    (void)pFirst;
}

int TrackSoundPlayback(TREE_NODE* pFirst)
{
    (void)pFirst;
    return 0;
}

int RefillSoundBuffers(TREE_NODE* pFirst)
{
    (void)pFirst;
    return 0;
}
