// Stand-in until the sound channel record exists: the node keeps no payload.
#include "core/object_tree.h"

SOUND_CHANNEL* AttachSoundChannel(TREE_NODE* pNode)
{
    return nullptr;
}

void ReleaseSoundChannel(SOUND_CHANNEL* p)
{
    (void)p;
}
