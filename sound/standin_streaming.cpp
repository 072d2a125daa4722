// Stand-in until the channel and streaming code exists: every source loads as the built-in half
// second of 8-bit 8000 Hz silence (no file is read), with a real output buffer, so that the request
// handlers can drive channels through their states. Delete this file when sound_channel.cpp arrives.
#include <cstring>
#include "core/object_tree.h"
#include "script/engine_config.h"
#include "sound/sound.h"

int32_t GetEffectiveVolume(TREE_NODE* pNode)
{
    const SOUND_CHANNEL* pChannel = pNode ? static_cast<const SOUND_CHANNEL*>(pNode->pPayload) : nullptr;
    if (!pChannel) return 0;
    int64_t llVolume = pChannel->bEnabled == 1 ? pChannel->nVolume : 0;
    if (pNode->pParent && pNode->pParent->pszName) llVolume = (llVolume * GetEffectiveVolume(pNode->pParent)) >> 8;
    return static_cast<int32_t>(llVolume);
}

int CreateChannelBuffer(SOUND_CHANNEL* pChannel, uint16_t nChannels, uint32_t nRate, uint32_t nAvgBytes,
                        uint16_t nBlockAlign, uint16_t nBits)
{
    pChannel->llBytesPerSec = static_cast<int64_t>(nRate) * nBlockAlign;
    pChannel->dwBufferBytes = static_cast<uint32_t>(pChannel->llBytesPerSec);
    pChannel->fmt = PLAT_WAVEFORMATEX{PLAT_WAVE_FORMAT_PCM, nChannels, nRate, nAvgBytes, nBlockAlign, nBits, 0};
    if (pChannel->pCarry) return -1060;
    pChannel->pCarry = new uint8_t[SND_CARRY_SIZE]();
    if (pChannel->pStaging) return -1080;
    pChannel->pStaging = new uint8_t[pChannel->dwBufferBytes / 2 + SND_CARRY_SIZE]();
    if (!g_lpDirectSound) return 0;
    PLAT_DSBUFFERDESC desc{DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME | DSBCAPS_LOCSOFTWARE |
                               DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2,
                           pChannel->dwBufferBytes, &pChannel->fmt};
    if (PlatDsCreateBuffer(g_lpDirectSound, &desc, &pChannel->pBuffer) != PLAT_DS_OK) {
        pChannel->pBuffer = nullptr;
        return -1120;
    }
    return 0;
}

// The silence of the node with order SND_SILENCE_ORDER, for every source.
int DecodeChannelSource(SOUND_CHANNEL* pChannel)
{
    if (g_nSoundMode == SNDMODE_OFF) return 0;
    pChannel->bDecodedForm = SNDFORM_PCM_WAV;
    pChannel->llLength = pChannel->nFileSize ? 500 : 0;
    pChannel->nEndPos = static_cast<int32_t>(pChannel->llLength);
    return CreateChannelBuffer(pChannel, 1, 8000, 8000, 1, 8);
}

int OpenSoundSource(TREE_NODE* pNode)
{
    SOUND_CHANNEL* pChannel = static_cast<SOUND_CHANNEL*>(pNode->pPayload);
    if (pChannel->pFileImage) return -1010;
    pChannel->nFileSize = SND_SILENCE_IMAGE_SIZE;
    pChannel->pFileImage = new uint8_t[SND_SILENCE_IMAGE_SIZE];
    std::memset(pChannel->pFileImage, 128, SND_SILENCE_IMAGE_SIZE);
    pChannel->pPcmData = pChannel->pFileImage + 44;
    pChannel->dwPcmSize = 4000;
    return DecodeChannelSource(pChannel);
}

int SeekChannel(SOUND_CHANNEL* pChannel, int32_t nMs)
{
    int64_t llMs = nMs;
    if (llMs >= pChannel->llLength) llMs = pChannel->llLength - 10;
    if (llMs < 0) pChannel->llPendingSilence += -llMs * pChannel->llBytesPerSec / 1000;
    pChannel->nDecoderBytePos = static_cast<int32_t>(llMs * pChannel->llBytesPerSec / 1000);
    pChannel->nDecoderPos = static_cast<int32_t>((llMs < 0 ? 0 : llMs) * pChannel->llBytesPerSec / 1000);
    return 0;
}

int FillChannelHalf(SOUND_CHANNEL* pChannel)
{
    return static_cast<int>(pChannel->dwBufferBytes / 2);
}

void ReleaseChannelBuffers(SOUND_CHANNEL* pChannel)
{
    if (pChannel->pBuffer) {
        PlatDsBufferStop(pChannel->pBuffer);
        PlatDsBufferRelease(pChannel->pBuffer);
        pChannel->pBuffer = nullptr;
    }
    delete[] pChannel->pStaging;
    pChannel->pStaging = nullptr;
    delete[] pChannel->pCarry;
    pChannel->pCarry = nullptr;
}

void UnloadChannel(SOUND_CHANNEL* pChannel)
{
    ReleaseChannelBuffers(pChannel);
    delete[] pChannel->pFileImage;
    pChannel->pFileImage = nullptr;
    pChannel->pPcmData = nullptr;
    pChannel->dwPcmSize = 0;
    pChannel->nFileSize = 0;
    pChannel->nStartPos = 0;
    pChannel->nLoopStart = 0;
    pChannel->dwPauseStamp = 0;
}

void UnloadSoundTree(TREE_NODE* pFirst)
{
    for (TREE_NODE* pNode = pFirst; pNode; pNode = pNode->pNext) {
        if (pNode->pPayload) UnloadChannel(static_cast<SOUND_CHANNEL*>(pNode->pPayload));
        if (pNode->bGroup) UnloadSoundTree(pNode->pFirstChild);
    }
}
