// Levels, fades, pausing and the request handlers of the sound thread. Everything here runs on the
// sound thread inside a pass that holds the engine lock.
//
// A channel counts as paused exactly while its pause stamp is set: pausing releases its buffers and
// sets the stamp, resuming rebuilds them and clears it. Tracking, refilling and fades look only at
// the stamp, so a channel whose resume was skipped (a disabled group, a script pause) is never
// touched as if it still had a buffer.
#include <algorithm>
#include <cmath>
#include <cstring>
#include "core/cp932.h"
#include "core/engine_globals.h"
#include "core/object_tree.h"
#include "platform/plat_time.h"
#include "sound/sound.h"

namespace {

SOUND_CHANNEL* ChannelOf(TREE_NODE* pNode)
{
    return pNode ? static_cast<SOUND_CHANNEL*>(pNode->pPayload) : nullptr;
}

// The unnamed root of the sound tree lends nothing to its children (nor does a node taken out).
int IsBelowTreeRoot(TREE_NODE* pNode)
{
    return pNode && pNode->pParent && pNode->pParent->pszName;
}

int32_t ClampToInt32(int64_t ll)
{
    if (ll > INT32_MAX) return INT32_MAX;
    if (ll < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(ll);
}

// v x (parent's effective volume) >> 8, or v alone below the tree root.
int32_t ScaleByParent(TREE_NODE* pNode, int32_t nVolume)
{
    if (!IsBelowTreeRoot(pNode)) return nVolume;
    return ClampToInt32((static_cast<int64_t>(nVolume) * GetEffectiveVolume(pNode->pParent)) >> 8);
}

// The time for a stamp that must read as set: 0 means "not set", so the one millisecond in 2^32
// where the clock reads 0 stamps 1.
uint32_t StampNow(void)
{
    const uint32_t dwNow = PlatGetTime();
    return dwNow ? dwNow : 1;
}

// Fade speed in volume units per 1024 ms: delta x 1024 / ms, or delta x 1024 for an instant fade.
int32_t FadeSpeed(int64_t llDelta, int32_t nMs)
{
    const int64_t llScaled = llDelta * 1024;
    return ClampToInt32(nMs == 0 ? llScaled : llScaled / nMs);
}

// Leaves the channel empty: buffers and file image freed, not paused, state 0.
void UnloadToEmpty(SOUND_CHANNEL* pChannel)
{
    UnloadChannel(pChannel);
    pChannel->dwPauseStamp = 0;
    pChannel->bState = SNDSTATE_EMPTY;
}

int PlayLooping(SOUND_CHANNEL* pChannel, int nNoBuffer, int nFailure)
{
    if (!g_lpDirectSound) return 0;
    if (!pChannel->pBuffer) return nNoBuffer;
    if (PlatDsBufferPlay(pChannel->pBuffer, DSBPLAY_LOOPING) != PLAT_DS_OK) return nFailure;
    return 0;
}

// The position in ms that bytes played stands for (0 before anything was loaded).
int32_t BytesPlayedToMs(const SOUND_CHANNEL* pChannel)
{
    if (pChannel->llBytesPerSec <= 0) return 0;
    return ClampToInt32(pChannel->llBytesPlayed * 1000 / pChannel->llBytesPerSec);
}

// Rebuilds a channel's buffers from its file image. A WAV converted at load keeps the converted PCM
// and its PCM format, so it only needs a new buffer of that format; parsing the PCM as a file again
// would fail.
int RebuildChannelBuffers(SOUND_CHANNEL* pChannel)
{
    if (pChannel->bDecodedForm == SNDFORM_CONVERTED_WAV) {
        const PLAT_WAVEFORMATEX fmt = pChannel->fmt;
        return CreateChannelBuffer(pChannel, fmt.nChannels, fmt.nSamplesPerSec, fmt.nAvgBytesPerSec,
                                   fmt.nBlockAlign, fmt.wBitsPerSample);
    }
    return DecodeChannelSource(pChannel);
}

// From the seek on, the start of a PLAY from states 0 and 1: seek to the start position, write the
// first half, silence, then play (or, inside a paused chain, stay paused until the resume).
int StartChannel(TREE_NODE* pNode, SOUND_CHANNEL* pChannel, int nPlayFailure)
{
    pChannel->nWrapsAhead = 0;
    if (pChannel->nStartPos >= pChannel->nEndPos) pChannel->nStartPos = 0;
    int nResult = SeekChannel(pChannel, pChannel->nStartPos);
    if (nResult < 0) return nResult;
    pChannel->llBytesPlayed = pChannel->nDecoderBytePos;
    pChannel->bLastHalf = 1;
    pChannel->dwFillOffset = 0;
    nResult = FillChannelHalf(pChannel);
    if (nResult < 0) return nResult;
    SilenceSoundNode(pNode);
    SetChannelPan(pChannel, pChannel->nPan);
    SetChannelFrequency(pChannel, pChannel->nFrequency);
    pChannel->nFadeStart = 0;
    pChannel->nFadeSpeed = FadeSpeed(pChannel->nFadeTarget, pChannel->nFadeMs);
    if (IsChannelChainPaused(pNode) || g_bSoundsPaused) {
        // A buffer started now would play unattended: nothing tracks or refills a paused chain.
        pChannel->bState = SNDSTATE_FADEIN;
        nResult = PauseChannel(pNode);
        return nResult < 0 ? nResult : 1;
    }
    nResult = PlayLooping(pChannel, -1, nPlayFailure);
    if (nResult < 0) return nResult;
    pChannel->bState = SNDSTATE_FADEIN;
    return 1;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Laws

int32_t SoundVolumeToBuffer(int32_t nVolume)
{
    if (nVolume <= 0) return DSBVOLUME_MIN;
    const double dValue = std::trunc(std::log10(nVolume / 256.0) * 4000.0);
    if (dValue < DSBVOLUME_MIN) return DSBVOLUME_MIN;
    if (dValue > DSBVOLUME_MAX) return DSBVOLUME_MAX;
    return static_cast<int32_t>(dValue);
}

int32_t SoundPanToBuffer(int32_t nPan)
{
    if (nPan < 0 || nPan > 512) return DSBPAN_CENTER;
    const int32_t nSide = nPan <= 256 ? nPan : 512 - nPan;
    int32_t nValue = DSBVOLUME_MIN;
    if (nSide != 0) {
        const double dValue = std::trunc(std::log10(nSide / 256.0) * 4000.0);
        nValue = dValue < DSBVOLUME_MIN ? DSBVOLUME_MIN : static_cast<int32_t>(dValue);
        if (nValue > 0) nValue = 0;
    }
    return nPan > 256 ? -nValue : nValue;
}

uint32_t SoundFrequencyToRate(int32_t nFrequency, uint32_t nRate)
{
    if (nFrequency < 0 || nFrequency > 512) nFrequency = 256;
    const int64_t llRate = nRate;
    const int64_t llResult = llRate + static_cast<int64_t>(nFrequency - 256) * (llRate / 2) / 256;
    return llResult < 0 ? 0u : static_cast<uint32_t>(llResult);
}

// ---------------------------------------------------------------------------------------------
// Volume, pan and frequency

void SetBufferVolume(TREE_NODE* pNode, int32_t nVolume)
{
    SOUND_CHANNEL* pChannel = ChannelOf(pNode);
    if (!g_lpDirectSound || !pChannel || !pChannel->pBuffer) return;
    PlatDsBufferSetVolume(pChannel->pBuffer, SoundVolumeToBuffer(nVolume));
}

void SetChannelVolume(TREE_NODE* pNode, int32_t nVolume)
{
    if (!g_lpDirectSound || !pNode) return;
    if (pNode->bGroup) {
        ApplySoundVolumeTree(pNode->pFirstChild);
        return;
    }
    // A disabled leaf is silent, as its effective volume says.
    SOUND_CHANNEL* pChannel = ChannelOf(pNode);
    if (pChannel && !pChannel->bEnabled) nVolume = 0;
    SetBufferVolume(pNode, ScaleByParent(pNode, nVolume));
}

void ApplySoundVolumeTree(TREE_NODE* pFirst)
{
    for (TREE_NODE* pNode = pFirst; pNode; pNode = pNode->pNext) {
        SetBufferVolume(pNode, GetEffectiveVolume(pNode));
        if (pNode->bGroup) ApplySoundVolumeTree(pNode->pFirstChild);
    }
}

void SilenceSoundNode(TREE_NODE* pNode)
{
    if (!pNode) return;
    if (pNode->bGroup) ApplySoundVolumeTree(pNode->pFirstChild);
    else SetBufferVolume(pNode, 0);
}

void MuteSoundNode(TREE_NODE* pNode)
{
    if (!pNode) return;
    if (pNode->bGroup) ApplySoundVolumeTree(pNode->pFirstChild);
    else SetBufferVolume(pNode, ScaleByParent(pNode, 2));
}

void SetChannelPan(SOUND_CHANNEL* pChannel, int32_t nPan)
{
    if (!g_lpDirectSound || !pChannel || !pChannel->pBuffer) return;
    PlatDsBufferSetPan(pChannel->pBuffer, SoundPanToBuffer(nPan));
}

void SetChannelFrequency(SOUND_CHANNEL* pChannel, int32_t nFrequency)
{
    if (!g_lpDirectSound || !pChannel || !pChannel->pBuffer) return;
    PlatDsBufferSetFrequency(pChannel->pBuffer, SoundFrequencyToRate(nFrequency, pChannel->fmt.nSamplesPerSec));
}

// ---------------------------------------------------------------------------------------------
// Fades

int StepSoundFades(TREE_NODE* pFirst)
{
    for (TREE_NODE* pNode = pFirst; pNode; pNode = pNode->pNext) {
        if (pNode->bGroup) StepSoundFades(pNode->pFirstChild);
        SOUND_CHANNEL* pChannel = ChannelOf(pNode);
        if (!pChannel) continue;
        const uint8_t bState = pChannel->bState;
        if (bState != SNDSTATE_FADEIN && bState != SNDSTATE_FADEOUT) continue;
        if (pChannel->dwPauseStamp) {
            // The fade stands still while paused: its clock moves on with the pause.
            const uint32_t dwNow = StampNow();
            pChannel->dwFadeClock += dwNow - pChannel->dwPauseStamp;
            pChannel->dwPauseStamp = dwNow;
            continue;
        }
        const uint32_t dwNow = PlatGetTime();
        const int64_t llElapsed = static_cast<int32_t>(dwNow - pChannel->dwFadeClock);
        if (bState == SNDSTATE_FADEIN && llElapsed < 0) {
            MuteSoundNode(pNode);
        } else {
            int64_t llVolume = llElapsed * pChannel->nFadeSpeed / 1024 + pChannel->nFadeStart;
            const int64_t llTarget = pChannel->nFadeTarget;
            if ((pChannel->nFadeSpeed >= 0 && llVolume >= llTarget) ||
                (pChannel->nFadeSpeed < 0 && llVolume <= llTarget)) {
                llVolume = llTarget;
                pChannel->dwFadeDone = dwNow ? dwNow : 1;
            }
            const int32_t nVolume = ClampToInt32(llVolume);
            SetChannelVolume(pNode, nVolume);
            pChannel->nVolume = nVolume;
        }
        if (pChannel->dwFadeDone) {
            pChannel->dwFadeDone = 0;
            if (bState == SNDSTATE_FADEIN) {
                pChannel->bState = SNDSTATE_PLAYING;
            } else {
                pChannel->nVolume = 256;
                pChannel->nFadeStart = 0;
                pChannel->nFadeTarget = 256;
                pChannel->nRefVolume = 256;
                UnloadToEmpty(pChannel);
            }
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Pause and resume

int IsChannelChainEnabled(TREE_NODE* pNode)
{
    for (TREE_NODE* p = pNode; p && p->pszName; p = p->pParent) {
        const SOUND_CHANNEL* pChannel = ChannelOf(p);
        if (pChannel && !pChannel->bEnabled) return 0;
    }
    return 1;
}

int IsChannelChainPaused(TREE_NODE* pNode)
{
    for (TREE_NODE* p = pNode; p && p->pszName; p = p->pParent) {
        const SOUND_CHANNEL* pChannel = ChannelOf(p);
        if (pChannel && pChannel->bPaused) return 1;
    }
    return 0;
}

int PauseOrResumeChannel(TREE_NODE* pNode, int32_t nValue)
{
    if (nValue == 1) return PauseChannel(pNode);
    if (nValue == 0 && IsChannelChainEnabled(pNode) && !IsChannelChainPaused(pNode)) return ResumeChannel(pNode);
    return 0;
}

int PauseSoundNode(TREE_NODE* pNode, int32_t nValue)
{
    if (!pNode) return 0;
    const int nResult = PauseOrResumeChannel(pNode, nValue);
    if (nResult < 0) return nResult;
    if (pNode->bGroup) return PauseSoundTree(pNode->pFirstChild, nValue);
    return 0;
}

int PauseSoundTree(TREE_NODE* pFirst, int32_t nValue)
{
    for (TREE_NODE* pNode = pFirst; pNode; pNode = pNode->pNext) {
        const int nResult = PauseSoundNode(pNode, nValue);
        if (nResult < 0) return nResult;
    }
    return 0;
}

int PauseChannel(TREE_NODE* pNode)
{
    SOUND_CHANNEL* pChannel = ChannelOf(pNode);
    if (!pChannel) return 0;
    const uint8_t bState = pChannel->bState;
    if (bState == SNDSTATE_EMPTY || bState == SNDSTATE_LOADED || pChannel->dwPauseStamp) return 0;
    if (g_bEngineStop) {
        MuteSoundNode(pNode);
        pChannel->bState = SNDSTATE_EMPTY;
        return 0;
    }
    if (g_lpDirectSound) {
        if (!pChannel->pBuffer) return -410;
        uint32_t dwPlay = 0;
        if (PlatDsBufferGetCurrentPosition(pChannel->pBuffer, &dwPlay, nullptr) != PLAT_DS_OK) return -420;
        int64_t llProgress = static_cast<int64_t>(dwPlay) - pChannel->dwLastPlayCursor;
        if (dwPlay < pChannel->dwLastPlayCursor) llProgress += pChannel->dwBufferBytes;
        pChannel->dwLastPlayCursor = dwPlay;
        pChannel->llBytesPlayed += llProgress;
    }
    ReleaseChannelBuffers(pChannel);
    pChannel->dwPauseStamp = StampNow();
    return 0;
}

int ResumeChannel(TREE_NODE* pNode)
{
    SOUND_CHANNEL* pChannel = ChannelOf(pNode);
    if (!pChannel) return 0;
    const uint8_t bState = pChannel->bState;
    if (bState == SNDSTATE_EMPTY || bState == SNDSTATE_LOADED || !pChannel->dwPauseStamp) return 0;
    // The decoder ran ahead of the play cursor; what it decoded past the cursor was let go with the
    // buffers and is decoded again from the cursor, so the plays it used up there are given back
    // (a pause near the end of a play would otherwise lose the next one).
    if (pChannel->nDecoderLoops != 0)
        pChannel->nDecoderLoops = static_cast<int32_t>(
            std::min<int64_t>(int64_t(pChannel->nDecoderLoops) + pChannel->nWrapsAhead, INT32_MAX));
    pChannel->nWrapsAhead = 0;
    pChannel->nActiveLoopStart = 0;
    pChannel->nActiveLoopEnd = 0;
    pChannel->bLastHalf = 1;
    pChannel->nStartPos = BytesPlayedToMs(pChannel);
    pChannel->llBytesPlayed = 0;
    pChannel->dwLastPlayCursor = 0;
    pChannel->nCarryBytes = 0;
    pChannel->llPendingSilence = 0;
    const int32_t nEndPos = pChannel->nEndPos;
    int nResult = RebuildChannelBuffers(pChannel);
    pChannel->nEndPos = nEndPos;
    if (nResult < 0) return nResult;
    if (pChannel->nStartPos >= pChannel->nEndPos) pChannel->nStartPos = 0;
    nResult = SeekChannel(pChannel, pChannel->nStartPos);
    if (nResult < 0) return nResult;
    pChannel->llBytesPlayed = pChannel->nDecoderBytePos;
    pChannel->bLastHalf = 1;
    pChannel->dwFillOffset = 0;
    nResult = FillChannelHalf(pChannel);
    if (nResult < 0) return nResult;
    SetChannelVolume(pNode, pChannel->nFadeTarget);
    SetChannelPan(pChannel, pChannel->nPan);
    SetChannelFrequency(pChannel, pChannel->nFrequency);
    nResult = PlayLooping(pChannel, -430, -440);
    if (nResult < 0) return nResult;
    pChannel->dwPauseStamp = 0;
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Request handlers

namespace {

TREE_NODE* RequestNode(int32_t nEntry)
{
    if (!g_apSndReqNode || nEntry < 0 || nEntry >= SNDREQ_RING_SIZE) return nullptr;
    return g_apSndReqNode[nEntry];
}

int32_t RequestValue(int32_t nEntry)
{
    return g_anSndReqValue[nEntry];
}

// The channel a request names when it holds a sound; NULL (the request is done at once) otherwise.
SOUND_CHANNEL* LoadedChannelOf(int32_t nEntry)
{
    SOUND_CHANNEL* pChannel = ChannelOf(RequestNode(nEntry));
    return pChannel && pChannel->bState != SNDSTATE_EMPTY ? pChannel : nullptr;
}

}  // namespace

int SoundOpLoad(int32_t nEntry)
{
    TREE_NODE* pNode = RequestNode(nEntry);
    SOUND_CHANNEL* pChannel = ChannelOf(pNode);
    if (!pChannel) return 1;
    if (pChannel->bState != SNDSTATE_EMPTY) {
        // Empty the channel first; the load runs again in the next pass.
        SilenceSoundNode(pNode);
        UnloadToEmpty(pChannel);
        return 0;
    }
    CopyTextBounded(pChannel->szName, sizeof(pChannel->szName), g_apszSndReqText[nEntry]);
    pChannel->nDecoderLoops = 0;
    pChannel->bLastHalf = 1;
    pChannel->nPan = 256;
    pChannel->nFrequency = 256;
    pChannel->nStartPos = 0;
    pChannel->nLoopStart = 0;
    pChannel->nEndPos = 0;
    pChannel->llBytesPlayed = 0;
    pChannel->nActiveLoopStart = 0;
    pChannel->nActiveLoopEnd = 0;
    pChannel->nWrapsAhead = 0;
    const int nResult = OpenSoundSource(pNode);
    if (nResult < 0) return nResult;
    pChannel->bState = SNDSTATE_LOADED;
    return 1;
}

int SoundOpPlay(int32_t nEntry)
{
    TREE_NODE* pNode = RequestNode(nEntry);
    SOUND_CHANNEL* pChannel = ChannelOf(pNode);
    if (!pChannel) return 1;
    const int32_t nMs = RequestValue(nEntry);
    switch (pChannel->bState.load()) {
    case SNDSTATE_EMPTY: {
        if (!pChannel->szName[0]) return 1;
        pChannel->bLastHalf = 1;
        pChannel->nStartPos = 0;
        pChannel->llBytesPlayed = 0;
        pChannel->dwLastPlayCursor = 0;
        pChannel->nCarryBytes = 0;
        pChannel->dwFadeClock = PlatGetTime();
        pChannel->dwFadeDone = 0;
        pChannel->llPendingSilence = 0;
        pChannel->nFadeMs = nMs;
        const int nResult = OpenSoundSource(pNode);
        if (nResult < 0) return nResult;
        return StartChannel(pNode, pChannel, -110);
    }
    case SNDSTATE_LOADED:
        pChannel->dwLastPlayCursor = 0;
        pChannel->nCarryBytes = 0;
        pChannel->dwFadeClock = PlatGetTime();
        pChannel->dwFadeDone = 0;
        pChannel->llPendingSilence = 0;
        pChannel->nFadeMs = nMs;
        return StartChannel(pNode, pChannel, -120);
    case SNDSTATE_FADEIN:
    case SNDSTATE_PLAYING: {
        // A new fade from the current volume to the target.
        const int64_t llFrom = pChannel->bState == SNDSTATE_FADEIN ? pChannel->nRefVolume : pChannel->nVolume;
        pChannel->nFadeMs = nMs;
        pChannel->dwFadeClock = PlatGetTime();
        pChannel->dwFadeDone = 0;
        pChannel->nFadeStart = pChannel->nVolume;
        pChannel->nFadeSpeed = FadeSpeed(pChannel->nFadeTarget - llFrom, nMs);
        pChannel->bState = SNDSTATE_FADEIN;
        return 1;
    }
    case SNDSTATE_FADEOUT: {
        // Start afresh: empty the channel now, load and start it in the next pass.
        const int32_t nStart = pChannel->nFadeStart;
        pChannel->nFadeStart = pChannel->nFadeTarget;
        pChannel->nFadeTarget = nStart;
        SilenceSoundNode(pNode);
        UnloadToEmpty(pChannel);
        return 0;
    }
    default:
        return 1;
    }
}

int SoundOpPause(int32_t nEntry)
{
    TREE_NODE* pNode = RequestNode(nEntry);
    SOUND_CHANNEL* pChannel = ChannelOf(pNode);
    if (!pChannel) return 1;
    const int32_t nValue = RequestValue(nEntry);
    pChannel->bPaused = nValue != 0;
    // While every sound is paused a script's resume only clears its own flag; the return of the
    // focus resumes the channel.
    if (nValue == 0 && g_bSoundsPaused) return 1;
    const int nResult = PauseSoundNode(pNode, nValue);
    return nResult < 0 ? nResult : 1;
}

int SoundOpFadeOut(int32_t nEntry)
{
    TREE_NODE* pNode = RequestNode(nEntry);
    SOUND_CHANNEL* pChannel = ChannelOf(pNode);
    if (!pChannel) return 1;
    const uint8_t bState = pChannel->bState;
    if (bState != SNDSTATE_FADEIN && bState != SNDSTATE_PLAYING && bState != SNDSTATE_FADEOUT) return 1;
    const int32_t nMs = RequestValue(nEntry);
    pChannel->nFadeMs = nMs;
    pChannel->dwFadeClock = PlatGetTime();
    pChannel->dwFadeDone = 0;
    pChannel->nFadeStart = pChannel->nVolume;
    pChannel->nFadeTarget = 0;
    // During a fade-in the speed comes from the volume faded from, not from where it got to.
    const int64_t llFrom = bState == SNDSTATE_FADEIN ? pChannel->nRefVolume : pChannel->nVolume;
    pChannel->nFadeSpeed = FadeSpeed(-llFrom, nMs);
    pChannel->bState = SNDSTATE_FADEOUT;
    return 1;
}

int SoundOpVolume(int32_t nEntry)
{
    TREE_NODE* pNode = RequestNode(nEntry);
    SOUND_CHANNEL* pChannel = ChannelOf(pNode);
    if (!pChannel) return 1;
    const int32_t nValue = RequestValue(nEntry);
    pChannel->nVolume = nValue;
    pChannel->nFadeTarget = nValue;
    pChannel->nRefVolume = nValue;
    SetChannelVolume(pNode, nValue);
    return 1;
}

int SoundOpFadeTarget(int32_t nEntry)
{
    SOUND_CHANNEL* pChannel = ChannelOf(RequestNode(nEntry));
    if (!pChannel) return 1;
    pChannel->nRefVolume = pChannel->nFadeTarget;
    pChannel->nFadeTarget = RequestValue(nEntry);
    return 1;
}

int SoundOpLoopCount(int32_t nEntry)
{
    SOUND_CHANNEL* pChannel = LoadedChannelOf(nEntry);
    if (!pChannel) return 1;
    pChannel->nDecoderLoops = RequestValue(nEntry);
    return 1;
}

int SoundOpEndPos(int32_t nEntry)
{
    SOUND_CHANNEL* pChannel = LoadedChannelOf(nEntry);
    if (!pChannel) return 1;
    const int32_t nValue = RequestValue(nEntry);
    pChannel->nEndPos = nValue > pChannel->llLength ? ClampToInt32(pChannel->llLength) : nValue;
    return 1;
}

// A start or loop-start position from a request: one at or past the end of the sound means 0.
static int StorePositionBelowLength(int32_t nEntry, int32_t SOUND_CHANNEL::*pField)
{
    SOUND_CHANNEL* pChannel = LoadedChannelOf(nEntry);
    if (!pChannel) return 1;
    const int32_t nValue = RequestValue(nEntry);
    pChannel->*pField = nValue < pChannel->llLength ? nValue : 0;
    return 1;
}

int SoundOpStartPos(int32_t nEntry) { return StorePositionBelowLength(nEntry, &SOUND_CHANNEL::nStartPos); }

int SoundOpLoopStart(int32_t nEntry) { return StorePositionBelowLength(nEntry, &SOUND_CHANNEL::nLoopStart); }

int SoundOpPan(int32_t nEntry)
{
    SOUND_CHANNEL* pChannel = LoadedChannelOf(nEntry);
    if (!pChannel) return 1;
    pChannel->nPan = RequestValue(nEntry);
    SetChannelPan(pChannel, pChannel->nPan);
    return 1;
}

int SoundOpFrequency(int32_t nEntry)
{
    SOUND_CHANNEL* pChannel = LoadedChannelOf(nEntry);
    if (!pChannel) return 1;
    pChannel->nFrequency = RequestValue(nEntry);
    SetChannelFrequency(pChannel, pChannel->nFrequency);
    return 1;
}

int SoundOpNop(int32_t nEntry)
{
    (void)nEntry;
    return 1;
}

int SoundOpUnload(int32_t nEntry)
{
    TREE_NODE* pNode = RequestNode(nEntry);
    SOUND_CHANNEL* pChannel = ChannelOf(pNode);
    if (!pChannel || pChannel->bState == SNDSTATE_EMPTY) return 1;
    pChannel->szName[0] = '\0';
    SilenceSoundNode(pNode);
    UnloadToEmpty(pChannel);
    return 1;
}
