// The sound targets' common run: a channel of the sound tree gets the input as its file image (as
// the loader reads it), parses it, and, when that succeeds, the decoder fills halves of the buffer
// through a loop wrap, a seek and the end, as the sound thread would. No output device exists, so
// nothing is mixed.
#pragma once
#include <cstdlib>
#include <cstring>

#include "core/object_tree.h"
#include "fuzz/support.h"
#include "script/engine_config.h"
#include "sound/sound.h"

inline void FuzzSoundInit(int* pArgc, char*** pArgv)
{
    FuzzInit(pArgc, pArgv);
    CreateObjectTrees();
    g_nSoundMode = SNDMODE_ON;
}

inline void FuzzSoundInput(const uint8_t* pData, size_t nSize, uint8_t bKind)
{
    TREE_NODE* pNode = CreateNode(g_pSoundRoot, "S0/a", 0, 1);
    SOUND_CHANNEL* pChannel = pNode ? AttachSoundChannel(pNode) : nullptr;
    uint8_t* pImage = static_cast<uint8_t*>(std::malloc(nSize ? nSize : 1));
    if (pChannel && pImage) {
        if (nSize) std::memcpy(pImage, pData, nSize);
        pChannel->pFileImage = pImage;
        pImage = nullptr;
        pChannel->nFileSize = int32_t(nSize);
        pChannel->bSourceKind = bKind;
        // A buffer beyond 8 MB is a second of silence past a short file: filling it tells nothing.
        if (DecodeChannelSource(pChannel) == 0 && pChannel->dwBufferBytes <= (8u << 20)) {
            pChannel->nDecoderLoops = 2;
            pChannel->nLoopStart = 10;
            for (int i = 0; i < 3; ++i)
                if (FillChannelHalf(pChannel) < 0) break;
            if (SeekChannel(pChannel, pChannel->nEndPos / 2) == 0) FillChannelHalf(pChannel);
            if (SeekChannel(pChannel, -20) == 0) FillChannelHalf(pChannel);
        }
        UnloadChannel(pChannel);
    }
    std::free(pImage);
    if (pNode) {
        if (pChannel) ReleaseSoundChannel(pChannel);
        pNode->pPayload = nullptr;
        RemoveNode(pNode);
        FreeTreeNode(pNode);
    }
    FuzzEndInput();
}
