// Sound channels and streaming: the channel record of every sound node, the sources it plays
// (the whole file held in memory: Ogg Vorbis decoded on the fly, WAV copied, non-PCM WAV converted
// to PCM once at load), the one-second output buffer refilled half by half, seeking, tracking of the
// play position with its loops, and unloading.
//
// Everything here runs on the sound thread inside a pass that holds the engine lock, except
// AttachSoundChannel and ReleaseSoundChannel, which the tree code calls.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include "core/codecs.h"
#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/file_location.h"
#include "core/object_tree.h"
#include "platform/plat_acm.h"
#include "platform/plat_audio.h"
#include "core/game_config.h"
#include "platform/plat_modules.h"
#include "sound/sound.h"

namespace {

// Error codes of this file (the sound thread turns them into messages).
enum : int {
    SNDERR_IMAGE_PRESENT = -1010,
    SNDERR_FILE_OPEN = -1020,
    SNDERR_OGG_FORMAT = -1030,
    SNDERR_OGG_UNSEEKABLE = -1040,
    SNDERR_OGG_INFO = -1050,
    SNDERR_CARRY_PRESENT = -1060,
    SNDERR_CARRY_ALLOC = -1070,
    SNDERR_STAGING_PRESENT = -1080,
    SNDERR_STAGING_ALLOC = -1090,
    SNDERR_BUFFER_CREATE = -1120,
    SNDERR_OGG_OPEN_SEEK = -2010,
    SNDERR_OGG_SEEK = -2020,
    SNDERR_OGG_OPEN_FILL = -3010,
    SNDERR_OGG_SEEK_FILL = -3020,
    SNDERR_WRITE_HALF = -3030,
    SNDERR_LOCK = -3040,
    SNDERR_TRACK_NO_BUFFER = -310,
    SNDERR_TRACK_POSITION = -320,
    SNDERR_REFILL_NO_BUFFER = -330,
    SNDERR_REFILL_POSITION = -340,
    SNDERR_OGG_HOLE = -90001,
    SNDERR_OGG_BADLINK = -90002,
    SNDERR_WAV_OPEN = -10030,
    SNDERR_WAV_NOT_RIFF = -10040,
    SNDERR_WAV_NOT_WAVE = -10050,
    SNDERR_WAV_NO_FMT = -10060,
    SNDERR_WAV_NO_DATA = -10080,
    SNDERR_WAV_CHUNKS = -10090,
    SNDERR_ACM_SUGGEST = -10200,
    SNDERR_ACM_OUTPUT = -10220,
    SNDERR_ACM_NOTPOSSIBLE = -10310,
    SNDERR_ACM_INVALFLAG = -10320,
    SNDERR_ACM_INVALHANDLE = -10330,
    SNDERR_ACM_INVALPARAM = -10340,
    SNDERR_ACM_NOMEM = -10350,
};

// A read below this many bytes counts as nothing (the decoder's end of data).
enum { OGG_MIN_READ = 32 };
// Extra bytes given to the conversion output beyond what the conversion announces.
enum { ACM_SLACK = 1024 };
// A seek to the length or beyond lands this many ms before the end.
enum { SEEK_END_BACKOFF_MS = 10 };

constexpr uint32_t FourCC(char a, char b, char c, char d)
{
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}
constexpr uint32_t kFccRiff = FourCC('R', 'I', 'F', 'F');
constexpr uint32_t kFccList = FourCC('L', 'I', 'S', 'T');
constexpr uint32_t kFccWave = FourCC('W', 'A', 'V', 'E');
constexpr uint32_t kFccFmt = FourCC('f', 'm', 't', ' ');
constexpr uint32_t kFccData = FourCC('d', 'a', 't', 'a');

uint16_t Read16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t Read32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void Put16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v)
{
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

SOUND_CHANNEL* ChannelOf(TREE_NODE* pNode)
{
    return pNode ? static_cast<SOUND_CHANNEL*>(pNode->pPayload) : nullptr;
}

// The byte that sounds as silence in the channel's format: 8-bit samples are unsigned around 128.
uint8_t SilenceByte(const SOUND_CHANNEL* pChannel)
{
    return pChannel->fmt.wBitsPerSample == 8 ? 0x80 : 0x00;
}

int64_t AlignDown(int64_t v, int64_t align)
{
    return align > 0 ? v / align * align : v;
}

// ---------------------------------------------------------------------------------------------
// A RIFF reader over a file image with the semantics of mmio memory files: descending into a
// chunk reads its header (and the form type of a RIFF or LIST chunk), finding a chunk walks forward
// inside the parent, ascending moves past the chunk and its pad byte. Every step stays inside the
// image, whatever sizes the file claims.

struct MEM_RIFF {
    const uint8_t* pData;
    int64_t llSize;
    int64_t llPos;
};

struct RIFF_CHUNK {
    uint32_t dwId;
    uint32_t dwSize;
    uint32_t dwForm;
    int64_t llDataOffset;
};

// Descends into the next chunk (dwFind 0) or the next chunk with id dwFind inside the parent.
// 0, or -1 when no such chunk starts inside the parent and the image.
int RiffDescend(MEM_RIFF* pMem, RIFF_CHUNK* pChunk, const RIFF_CHUNK* pParent, uint32_t dwFind)
{
    int64_t llEnd = pMem->llSize;
    if (pParent) llEnd = std::min(llEnd, pParent->llDataOffset + int64_t(pParent->dwSize));
    int64_t llPos = pMem->llPos;
    while (llPos >= 0 && llPos + 8 <= llEnd) {
        const uint32_t dwId = Read32(pMem->pData + llPos);
        const uint32_t dwSize = Read32(pMem->pData + llPos + 4);
        if (dwFind == 0 || dwId == dwFind) {
            pChunk->dwId = dwId;
            pChunk->dwSize = dwSize;
            pChunk->dwForm = 0;
            pChunk->llDataOffset = llPos + 8;
            pMem->llPos = llPos + 8;
            if (dwId == kFccRiff || dwId == kFccList) {
                if (pMem->llPos + 4 > llEnd) return -1;
                pChunk->dwForm = Read32(pMem->pData + pMem->llPos);
                pMem->llPos += 4;
            }
            return 0;
        }
        llPos += 8 + int64_t(dwSize) + (dwSize & 1);
    }
    return -1;
}

void RiffAscend(MEM_RIFF* pMem, const RIFF_CHUNK* pChunk)
{
    pMem->llPos = pChunk->llDataOffset + int64_t(pChunk->dwSize) + (pChunk->dwSize & 1);
}

// Reads up to n bytes at the position; the bytes read (fewer at the end of the image).
int64_t RiffRead(MEM_RIFF* pMem, uint8_t* pDest, int64_t n)
{
    const int64_t llLeft = pMem->llPos >= 0 && pMem->llPos < pMem->llSize ? pMem->llSize - pMem->llPos : 0;
    const int64_t llCopy = std::min(n, llLeft);
    if (llCopy > 0) std::memcpy(pDest, pMem->pData + pMem->llPos, size_t(llCopy));
    pMem->llPos += std::max<int64_t>(llCopy, 0);
    return llCopy;
}

// ---------------------------------------------------------------------------------------------
// Ogg helpers

const PLAT_OGG_CALLBACKS kOggMemCallbacks = {
    OggMemRead,
    OggMemSeek,
    OggMemClose,
    OggMemTell,
};

// Opens the Ogg decoder over the channel's file image from its start: 0 with the decoder, or a
// negative code (also when the decoder library is missing).
int OpenOggStream(SOUND_CHANNEL* pChannel, PLAT_OGG_DECODER** ppDecoder)
{
    pChannel->nReadPos = 0;
    return g_pfnOggOpen(pChannel, &kOggMemCallbacks, ppDecoder);
}

// ---------------------------------------------------------------------------------------------
// The half decoder shared by Ogg and WAV: the carry first, then pending silence, then data up to
// the end position, wrapping to the loop start as long as the decoder loop counter allows.

int DecodeHalf(SOUND_CHANNEL* pChannel, PLAT_OGG_DECODER* pDecoder)
{
    const int64_t llHalf = pChannel->dwBufferBytes / 2;
    const int64_t llAlign = pChannel->fmt.nBlockAlign;
    const uint8_t bSilence = SilenceByte(pChannel);
    uint8_t* pStaging = pChannel->pStaging;
    int64_t a = std::clamp<int64_t>(pChannel->nCarryBytes, 0, SND_CARRY_SIZE);
    if (a > 0) std::memcpy(pStaging, pChannel->pCarry, size_t(a));
    int64_t llSum = 0;
    // Where the staging stood at the last wrap: a wrap that produced nothing before the next end
    // of data would wrap again without end (an end position too close to the loop start).
    int64_t llAtWrap = -1;
    while (a < llHalf) {
        if (pChannel->llPendingSilence > 0) {
            const int64_t n = std::min(pChannel->llPendingSilence, llHalf - a);
            std::memset(pStaging + a, bSilence, size_t(n));
            pChannel->llPendingSilence -= n;
            a += n;
            llSum += n;
            continue;
        }
        const int64_t llPos = int64_t(pChannel->nDecoderBytePos) + llSum;
        const int64_t llEndBytes = pChannel->llBytesPerSec * pChannel->nEndPos / 1000;
        int64_t llSize = llPos + SND_READ_CHUNK < llEndBytes ? int64_t(SND_READ_CHUNK) : AlignDown(llEndBytes - llPos, llAlign);
        int64_t llRead = 0;
        if (pDecoder) {
            if (llSize < OGG_MIN_READ) llSize = 0;
            if (llSize > 0) {
                const int32_t r = g_pfnOggRead(pDecoder, pStaging + a, int32_t(llSize));
                if (r < 0) {
                    if (r == KX_OGG_HOLE) return SNDERR_OGG_HOLE;
                    if (r == KX_OGG_EBADLINK) return SNDERR_OGG_BADLINK;
                    return r;
                }
                llRead = r;
            }
        } else {
            // Never past the PCM data, whatever the end position says.
            const int64_t llLeft = int64_t(pChannel->dwPcmSize) - pChannel->nDecoderPos;
            llSize = std::min(llSize, llLeft);
            if (llSize > 0 && pChannel->nDecoderPos >= 0) {
                std::memcpy(pStaging + a, pChannel->pPcmData + pChannel->nDecoderPos, size_t(llSize));
                pChannel->nDecoderPos += int32_t(llSize);
                llRead = llSize;
            }
        }
        a += llRead;
        llSum += llRead;
        if (llRead > 0) continue;
        // End of data or end position reached.
        if (pChannel->nDecoderLoops == 1 || llAtWrap == a) {
            std::memset(pStaging + a, bSilence, size_t(llHalf - a));
            a = llHalf;
            break;
        }
        if (pChannel->nDecoderLoops != 0) --pChannel->nDecoderLoops;
        if (pChannel->nWrapsAhead < INT32_MAX) ++pChannel->nWrapsAhead;
        pChannel->nActiveLoopEnd = pChannel->nEndPos;
        if (pChannel->nLoopStart >= pChannel->nEndPos) pChannel->nLoopStart = 0;
        pChannel->nActiveLoopStart = pChannel->nLoopStart;
        if (pDecoder) {
            if (SeekOggChannel(pChannel, pDecoder, pChannel->nLoopStart) < 0) return SNDERR_OGG_SEEK;
        } else {
            SeekWAVChannel(pChannel, pChannel->nLoopStart);
        }
        llSum = 0;
        llAtWrap = a;
    }
    pChannel->nDecoderBytePos = int32_t(int64_t(pChannel->nDecoderBytePos) + llSum);
    if (pDecoder) pChannel->nDecoderPos = int32_t(g_pfnOggPcmTell(pDecoder));
    const int64_t llCarry = a - llHalf;
    pChannel->nCarryBytes = int32_t(std::max<int64_t>(llCarry, 0));
    if (llCarry > 0) std::memcpy(pChannel->pCarry, pStaging + llHalf, size_t(llCarry));
    return int(a);
}

// The decoder's position after a seek to nMs: leading silence for a negative position.
// Returns the clamped position.
int32_t SeekCommon(SOUND_CHANNEL* pChannel, int32_t nMs)
{
    int64_t p = nMs;
    // A seek to the end or beyond lands just before the end (never before the start).
    if (p >= pChannel->llLength) p = std::max<int64_t>(0, pChannel->llLength - SEEK_END_BACKOFF_MS);
    const int64_t llBps = pChannel->llBytesPerSec;
    if (p < 0) {
        pChannel->llPendingSilence += (-p) * llBps / 1000;
        pChannel->llPendingSilence = AlignDown(pChannel->llPendingSilence, pChannel->fmt.nBlockAlign);
    }
    pChannel->nDecoderBytePos = int32_t(p * llBps / 1000);
    return int32_t(p);
}

void ForEachNode(TREE_NODE* pFirst, void (*pfn)(TREE_NODE*))
{
    for (TREE_NODE* p = pFirst; p; p = p->pNext) {
        pfn(p);
        if (p->bGroup) ForEachNode(p->pFirstChild, pfn);
    }
}

// A channel that the per-pass work looks at: playing (states 2..4) and not paused.
int IsChannelStreaming(const SOUND_CHANNEL* pChannel)
{
    const uint8_t bState = pChannel->bState.load();
    return bState >= SNDSTATE_FADEIN && bState <= SNDSTATE_FADEOUT && pChannel->dwPauseStamp == 0;
}

// While the engine stops, a channel that is not empty is muted and counts as empty; the end of the
// sound thread unloads it. 1 when the channel was handled so.
int MuteForEngineStop(TREE_NODE* pNode, SOUND_CHANNEL* pChannel)
{
    if (!g_bEngineStop.load()) return 0;
    if (pChannel->bState.load() != SNDSTATE_EMPTY) {
        MuteSoundNode(pNode);
        pChannel->bState.store(SNDSTATE_EMPTY);
    }
    return 1;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The record

SOUND_CHANNEL* AttachSoundChannel(TREE_NODE* pNode)
{
    if (!pNode) return nullptr;
    SOUND_CHANNEL* pChannel = new (std::nothrow) SOUND_CHANNEL();
    if (!pChannel) {
        ReportError(KX_ERR_NO_MEMORY, 1);
        return nullptr;
    }
    pChannel->nVolume = 256;
    pChannel->nFadeStart = 0;
    pChannel->nFadeTarget = 256;
    pChannel->nRefVolume = 256;
    pChannel->nPan = 256;
    pChannel->bEnabled = 1;
    pNode->pPayload = pChannel;
    return pChannel;
}

void ReleaseSoundChannel(SOUND_CHANNEL* pChannel)
{
    if (!pChannel) return;
    UnloadChannel(pChannel);
    delete pChannel;
}

int32_t GetEffectiveVolume(TREE_NODE* pNode)
{
    if (!pNode) return 0;
    const SOUND_CHANNEL* pChannel = ChannelOf(pNode);
    int64_t llOwn = pChannel && pChannel->bEnabled == 1 ? pChannel->nVolume : 0;
    TREE_NODE* pParent = pNode->pParent;
    if (pParent && pParent->pszName) llOwn = llOwn * GetEffectiveVolume(pParent) >> 8;
    return int32_t(std::clamp<int64_t>(llOwn, INT32_MIN, INT32_MAX));
}

// ---------------------------------------------------------------------------------------------
// Sources

int OpenSoundSource(TREE_NODE* pNode)
{
    SOUND_CHANNEL* pChannel = ChannelOf(pNode);
    if (!pChannel) return SNDERR_FILE_OPEN;
    if (pChannel->pFileImage) return SNDERR_IMAGE_PRESENT;
    if (pNode->llOrder == SND_SILENCE_ORDER) {
        // Half a second of 8-bit 8000 Hz mono silence.
        uint8_t* p = static_cast<uint8_t*>(std::malloc(SND_SILENCE_IMAGE_SIZE));
        if (!p) return SNDERR_FILE_OPEN;
        std::memcpy(p, "RIFF", 4);
        Put32(p + 4, SND_SILENCE_IMAGE_SIZE - 8);
        std::memcpy(p + 8, "WAVEfmt ", 8);
        Put32(p + 16, 16);
        Put16(p + 20, 1);       // PCM
        Put16(p + 22, 1);       // mono
        Put32(p + 24, 8000);    // samples per second
        Put32(p + 28, 8000);    // bytes per second
        Put16(p + 32, 1);       // block align
        Put16(p + 34, 8);       // bits
        std::memcpy(p + 36, "data", 4);
        Put32(p + 40, SND_SILENCE_IMAGE_SIZE - 44);
        std::memset(p + 44, 0x80, SND_SILENCE_IMAGE_SIZE - 44);
        pChannel->pFileImage = p;
        pChannel->nFileSize = SND_SILENCE_IMAGE_SIZE;
    } else {
        FILE_LOCATION loc = {};
        if (LocateFile(&loc, pChannel->szName, 0) <= 0) return SNDERR_FILE_OPEN;
        if (ReadLocatedFile(&loc, pChannel->szName) != 0 || !loc.pData || loc.nSize < 0) {
            std::free(loc.pData);
            return SNDERR_FILE_OPEN;
        }
        pChannel->pFileImage = loc.pData;
        pChannel->nFileSize = loc.nSize;
    }
    return DecodeChannelSource(pChannel);
}

int DecodeChannelSource(SOUND_CHANNEL* pChannel)
{
    if (g_nSoundMode == SNDMODE_OFF) return 0;
    if (pChannel->bSourceKind == SNDSRC_OGG) return OpenOggChannel(pChannel);
    if (pChannel->bSourceKind == SNDSRC_WAV) {
        // A WAV converted at load keeps its PCM and format: rebuilding the buffers (a resume after a
        // pause) must not parse the headerless PCM as a file.
        if (pChannel->bDecodedForm == SNDFORM_CONVERTED_WAV && pChannel->pFileImage) {
            const PLAT_WAVEFORMATEX f = pChannel->fmt;
            return CreateChannelBuffer(pChannel, f.nChannels, f.nSamplesPerSec, f.nAvgBytesPerSec, f.nBlockAlign,
                                       f.wBitsPerSample);
        }
        return OpenWAVChannel(pChannel);
    }
    return 0;
}

int OpenOggChannel(SOUND_CHANNEL* pChannel)
{
    PLAT_OGG_DECODER* pDecoder = nullptr;
    if (OpenOggStream(pChannel, &pDecoder) < 0) return SNDERR_OGG_FORMAT;
    int nResult = 0;
    int32_t nChannels = 0;
    int64_t nRate = 0;
    if (g_pfnOggSeekable(pDecoder) == 0) nResult = SNDERR_OGG_UNSEEKABLE;
    else if (g_pfnOggStreams(pDecoder) != 1) nResult = SNDERR_OGG_CHAINED;
    else if (g_pfnOggInfo(pDecoder, &nChannels, &nRate) < 0) nResult = SNDERR_OGG_INFO;
    if (nResult < 0) {
        g_pfnOggClose(pDecoder);
        return nResult;
    }
    const double dTotal = g_pfnOggTimeTotal(pDecoder);
    // A damaged stream can claim any length: one beyond what the position fields hold is cut there.
    pChannel->llLength = dTotal > 0 ? int64_t(std::min(dTotal * 1000, double(INT32_MAX))) : 0;
    pChannel->nEndPos = int32_t(std::min<int64_t>(pChannel->llLength, INT32_MAX));
    pChannel->bDecodedForm = SNDFORM_OGG;
    g_pfnOggClose(pDecoder);
    if (nChannels < 1 || nChannels > 0x7FFF || nRate <= 0 || nRate > INT32_MAX) return SNDERR_BUFFER_CREATE;
    const uint64_t qwAvg = uint64_t(nChannels) * uint64_t(nRate) * 2;
    return CreateChannelBuffer(pChannel, uint16_t(nChannels), uint32_t(nRate), uint32_t(std::min<uint64_t>(qwAvg, UINT32_MAX)),
                               uint16_t(nChannels * 2), 16);
}

int FindWAVChunks(SOUND_CHANNEL* pChannel)
{
    const uint8_t* p = pChannel->pFileImage;
    const int64_t llSize = pChannel->nFileSize;
    if (!p || llSize < 12 || Read32(p) != kFccRiff || Read32(p + 8) != kFccWave) return SNDERR_WAV_CHUNKS;
    // The walk stays inside both the RIFF size and the image.
    const int64_t llEnd = std::min<int64_t>(int64_t(Read32(p + 4)) + 8, llSize);
    int bFmt = 0, bData = 0;
    for (int64_t llPos = 12; llPos + 8 <= llEnd && !(bFmt && bData);) {
        const uint32_t dwId = Read32(p + llPos);
        const uint32_t dwChunk = Read32(p + llPos + 4);
        const int64_t llBody = llPos + 8;
        if (dwId == kFccFmt && !bFmt) {
            if (dwChunk < 14 || llBody + 14 > llSize) return SNDERR_WAV_CHUNKS;
            uint8_t aFmt[18] = {};
            std::memcpy(aFmt, p + llBody, size_t(std::min<int64_t>(std::min<int64_t>(dwChunk, 16), llSize - llBody)));
            pChannel->fmt.wFormatTag = Read16(aFmt);
            pChannel->fmt.nChannels = Read16(aFmt + 2);
            pChannel->fmt.nSamplesPerSec = Read32(aFmt + 4);
            pChannel->fmt.nAvgBytesPerSec = Read32(aFmt + 8);
            pChannel->fmt.nBlockAlign = Read16(aFmt + 12);
            pChannel->fmt.wBitsPerSample = Read16(aFmt + 14);
            pChannel->fmt.cbSize = 0;
            bFmt = 1;
        } else if (dwId == kFccData && !bData) {
            // The data the file claims, clipped to what the image holds.
            pChannel->pPcmData = const_cast<uint8_t*>(p) + llBody;
            pChannel->dwPcmSize = uint32_t(std::clamp<int64_t>(llSize - llBody, 0, dwChunk));
            bData = 1;
        }
        llPos = llBody + int64_t(dwChunk) + (dwChunk & 1);
    }
    if (!bFmt || !bData) return SNDERR_WAV_CHUNKS;
    pChannel->bDecodedForm = SNDFORM_PCM_WAV;
    return 0;
}

int MapACMError(int32_t nResult)
{
    switch (nResult) {
    case PLAT_ACM_NOTPOSSIBLE: return SNDERR_ACM_NOTPOSSIBLE;
    case PLAT_ACM_INVALFLAG: return SNDERR_ACM_INVALFLAG;
    case PLAT_ACM_INVALHANDLE: return SNDERR_ACM_INVALHANDLE;
    case PLAT_ACM_INVALPARAM: return SNDERR_ACM_INVALPARAM;
    case PLAT_ACM_NOMEM: return SNDERR_ACM_NOMEM;
    default: return 0;
    }
}

int OpenWAVChannel(SOUND_CHANNEL* pChannel)
{
    if (!pChannel->pFileImage || pChannel->nFileSize < 0) return SNDERR_WAV_OPEN;
    MEM_RIFF mem = {pChannel->pFileImage, pChannel->nFileSize, 0};
    RIFF_CHUNK riff = {}, fmt = {}, data = {};
    if (RiffDescend(&mem, &riff, nullptr, 0) < 0 || riff.dwId != kFccRiff) return SNDERR_WAV_NOT_RIFF;
    if (riff.dwForm != kFccWave) return SNDERR_WAV_NOT_WAVE;
    if (RiffDescend(&mem, &fmt, &riff, kFccFmt) < 0) return SNDERR_WAV_NO_FMT;
    // The whole format block, at least the 18 bytes of its header (zero-filled); a block that runs
    // off the end of the image is damaged.
    if (fmt.llDataOffset + int64_t(fmt.dwSize) > mem.llSize) return SNDERR_WAV_CHUNKS;
    const size_t nFmtBytes = std::max<size_t>(18, fmt.dwSize);
    uint8_t* pFmt = static_cast<uint8_t*>(std::calloc(nFmtBytes, 1));
    if (!pFmt) return SNDERR_ACM_NOMEM;
    RiffRead(&mem, pFmt, fmt.dwSize);
    RiffAscend(&mem, &fmt);
    if (RiffDescend(&mem, &data, &riff, kFccData) < 0) {
        std::free(pFmt);
        return SNDERR_WAV_NO_DATA;
    }
    // An extra-size field of 0 under a longer block: the conversion gets every byte the chunk holds
    // (ADPCM decoders need them).
    if (Read16(pFmt + 16) == 0 && fmt.dwSize > 18) Put16(pFmt + 16, uint32_t(std::min<uint32_t>(fmt.dwSize - 18, 0xFFFF)));

    int nResult = 0;
    if (Read16(pFmt) == PLAT_WAVE_FORMAT_PCM) {
        std::free(pFmt);
        nResult = FindWAVChunks(pChannel);
        if (nResult < 0) return nResult;
    } else {
        PLAT_WAVE_FORMAT dst = {};
        dst.wFormatTag = PLAT_WAVE_FORMAT_PCM;
        if (PlatAcmSuggestPCM(pFmt, nFmtBytes, &dst) != PLAT_ACM_OK) {
            std::free(pFmt);
            return SNDERR_ACM_SUGGEST;
        }
        // The data chunk as far as the image holds it.
        const int64_t llSrc = std::clamp<int64_t>(mem.llSize - data.llDataOffset, 0, data.dwSize);
        const uint8_t* pSrc = pChannel->pFileImage + data.llDataOffset;
        size_t nDstBytes = 0;
        nResult = MapACMError(PlatAcmConvertSize(pFmt, nFmtBytes, size_t(llSrc), &nDstBytes));
        if (nResult < 0) {
            std::free(pFmt);
            return nResult;
        }
        if (nDstBytes > UINT32_MAX - ACM_SLACK) {
            std::free(pFmt);
            return SNDERR_ACM_OUTPUT;
        }
        uint8_t* pOut = static_cast<uint8_t*>(std::calloc(nDstBytes + ACM_SLACK, 1));
        if (!pOut) {
            std::free(pFmt);
            return SNDERR_ACM_OUTPUT;
        }
        size_t nProduced = 0;
        nResult = MapACMError(PlatAcmConvert(pFmt, nFmtBytes, pSrc, size_t(llSrc), pOut, nDstBytes + ACM_SLACK, &nProduced));
        std::free(pFmt);
        if (nResult < 0) {
            std::free(pOut);
            return nResult;
        }
        std::free(pChannel->pFileImage);
        pChannel->pFileImage = pOut;
        pChannel->nFileSize = int32_t(std::min<size_t>(nProduced, INT32_MAX));
        pChannel->pPcmData = pOut;
        pChannel->dwPcmSize = uint32_t(pChannel->nFileSize);
        pChannel->bDecodedForm = SNDFORM_CONVERTED_WAV;
        pChannel->fmt.wFormatTag = PLAT_WAVE_FORMAT_PCM;
        pChannel->fmt.nChannels = dst.nChannels;
        pChannel->fmt.nSamplesPerSec = dst.nSamplesPerSec;
        pChannel->fmt.nAvgBytesPerSec = dst.nAvgBytesPerSec;
        pChannel->fmt.nBlockAlign = dst.nBlockAlign;
        pChannel->fmt.wBitsPerSample = dst.wBitsPerSample;
        pChannel->fmt.cbSize = 0;
    }
    const uint64_t qwFrameRate = uint64_t(pChannel->fmt.nBlockAlign) * pChannel->fmt.nSamplesPerSec;
    pChannel->llLength = qwFrameRate ? int64_t(uint64_t(pChannel->dwPcmSize) * 1000 / qwFrameRate) : 0;
    pChannel->nEndPos = int32_t(std::min<int64_t>(pChannel->llLength, INT32_MAX));
    const PLAT_WAVEFORMATEX f = pChannel->fmt;
    return CreateChannelBuffer(pChannel, f.nChannels, f.nSamplesPerSec, f.nAvgBytesPerSec, f.nBlockAlign,
                               f.wBitsPerSample);
}

int CreateChannelBuffer(SOUND_CHANNEL* pChannel, uint16_t nChannels, uint32_t nRate, uint32_t nAvgBytes,
                        uint16_t nBlockAlign, uint16_t nBits)
{
    const uint64_t qwBytes = uint64_t(nRate) * nBlockAlign;
    // No buffer can hold a format without frames or a second larger than a buffer may be; every
    // position computation divides by these.
    if (qwBytes < DSBSIZE_MIN || qwBytes > DSBSIZE_MAX || nBlockAlign == 0) return SNDERR_BUFFER_CREATE;
    pChannel->llBytesPerSec = int64_t(qwBytes);
    pChannel->dwBufferBytes = uint32_t(qwBytes);
    pChannel->fmt.wFormatTag = PLAT_WAVE_FORMAT_PCM;
    pChannel->fmt.nChannels = nChannels;
    pChannel->fmt.nSamplesPerSec = nRate;
    pChannel->fmt.nAvgBytesPerSec = nAvgBytes;
    pChannel->fmt.nBlockAlign = nBlockAlign;
    pChannel->fmt.wBitsPerSample = nBits;
    pChannel->fmt.cbSize = 0;
    if (pChannel->pCarry) return SNDERR_CARRY_PRESENT;
    pChannel->pCarry = static_cast<uint8_t*>(std::malloc(SND_CARRY_SIZE));
    if (!pChannel->pCarry) return SNDERR_CARRY_ALLOC;
    if (pChannel->pStaging) return SNDERR_STAGING_PRESENT;
    pChannel->pStaging = static_cast<uint8_t*>(std::calloc(pChannel->dwBufferBytes / 2 + SND_CARRY_SIZE, 1));
    if (!pChannel->pStaging) return SNDERR_STAGING_ALLOC;
    pChannel->nCarryBytes = 0;
    if (!g_lpDirectSound) return 0;
    PLAT_DSBUFFERDESC desc = {};
    desc.dwFlags = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME | DSBCAPS_LOCSOFTWARE |
                   DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2;
    desc.dwBufferBytes = pChannel->dwBufferBytes;
    desc.lpwfxFormat = &pChannel->fmt;
    PLAT_DS_BUFFER* pBuffer = nullptr;
    if (PlatDsCreateBuffer(g_lpDirectSound, &desc, &pBuffer) != PLAT_DS_OK || !pBuffer) return SNDERR_BUFFER_CREATE;
    pChannel->pBuffer = pBuffer;
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Streaming

int FillChannelHalf(SOUND_CHANNEL* pChannel)
{
    if (!pChannel->pStaging || !pChannel->pCarry) return SNDERR_WRITE_HALF;
    return pChannel->bDecodedForm == SNDFORM_OGG ? FillOggHalf(pChannel) : FillWAVHalf(pChannel);
}

int FillOggHalf(SOUND_CHANNEL* pChannel)
{
    PLAT_OGG_DECODER* pDecoder = nullptr;
    if (OpenOggStream(pChannel, &pDecoder) < 0) return SNDERR_OGG_OPEN_FILL;
    if (g_pfnOggPcmSeek(pDecoder, pChannel->nDecoderPos) != 0) {
        g_pfnOggClose(pDecoder);
        return SNDERR_OGG_SEEK_FILL;
    }
    const int nResult = DecodeOggHalf(pChannel, pDecoder);
    // The stream is closed here and only here; the staging buffer stays the channel's.
    g_pfnOggClose(pDecoder);
    if (nResult < 0) return nResult;
    if (WriteSoundHalf(pChannel) < 0) return SNDERR_WRITE_HALF;
    return 0;
}

int FillWAVHalf(SOUND_CHANNEL* pChannel)
{
    const int nResult = CopyWAVHalf(pChannel);
    if (nResult < 0) return nResult;
    return WriteSoundHalf(pChannel);
}

int DecodeOggHalf(SOUND_CHANNEL* pChannel, PLAT_OGG_DECODER* pDecoder)
{
    return DecodeHalf(pChannel, pDecoder);
}

int CopyWAVHalf(SOUND_CHANNEL* pChannel)
{
    return DecodeHalf(pChannel, nullptr);
}

int WriteSoundHalf(SOUND_CHANNEL* pChannel)
{
    if (!pChannel->pBuffer) return 0;
    const uint32_t dwHalf = pChannel->dwBufferBytes / 2;
    void* pv1 = nullptr;
    void* pv2 = nullptr;
    uint32_t n1 = 0, n2 = 0;
    if (PlatDsBufferLock(pChannel->pBuffer, pChannel->dwFillOffset, dwHalf, &pv1, &n1, &pv2, &n2, 0) != PLAT_DS_OK)
        return SNDERR_LOCK;
    const uint32_t dwFirst = std::min(n1, dwHalf);
    if (pv1 && dwFirst) std::memcpy(pv1, pChannel->pStaging, dwFirst);
    const uint32_t dwSecond = std::min(n2, dwHalf - dwFirst);
    if (pv2 && dwSecond) std::memcpy(pv2, pChannel->pStaging + dwFirst, dwSecond);
    PlatDsBufferUnlock(pChannel->pBuffer, pv1, n1, pv2, n2);
    return 0;
}

int SeekChannel(SOUND_CHANNEL* pChannel, int32_t nMs)
{
    if (pChannel->bDecodedForm == SNDFORM_OGG) return OpenOggAndSeek(pChannel, nMs);
    return SeekWAVChannel(pChannel, nMs);
}

int OpenOggAndSeek(SOUND_CHANNEL* pChannel, int32_t nMs)
{
    PLAT_OGG_DECODER* pDecoder = nullptr;
    if (OpenOggStream(pChannel, &pDecoder) < 0) return SNDERR_OGG_OPEN_SEEK;
    const int nResult = SeekOggChannel(pChannel, pDecoder, nMs);
    g_pfnOggClose(pDecoder);
    return nResult;
}

int SeekOggChannel(SOUND_CHANNEL* pChannel, PLAT_OGG_DECODER* pDecoder, int32_t nMs)
{
    const int32_t p = SeekCommon(pChannel, nMs);
    if (g_pfnOggTimeSeek(pDecoder, double(std::max(p, 0)) / 1000.0) != 0) return SNDERR_OGG_SEEK;
    pChannel->nDecoderPos = int32_t(g_pfnOggPcmTell(pDecoder));
    return 0;
}

int SeekWAVChannel(SOUND_CHANNEL* pChannel, int32_t nMs)
{
    const int32_t p = SeekCommon(pChannel, nMs);
    const int64_t llAlign = pChannel->fmt.nBlockAlign;
    int64_t llPos = AlignDown(int64_t(std::max(p, 0)) * pChannel->llBytesPerSec / 1000, llAlign);
    // Inside the data: at most the last whole frame, and 0 for data shorter than a frame.
    const int64_t llLast = std::max<int64_t>(0, AlignDown(int64_t(pChannel->dwPcmSize) - llAlign, llAlign));
    pChannel->nDecoderPos = int32_t(std::clamp<int64_t>(llPos, 0, llLast));
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Per pass

int RefillSoundBuffers(TREE_NODE* pFirst)
{
    for (TREE_NODE* pNode = pFirst; pNode; pNode = pNode->pNext) {
        if (pNode->bGroup) {
            const int nResult = RefillSoundBuffers(pNode->pFirstChild);
            if (nResult < 0) return nResult;
            continue;
        }
        SOUND_CHANNEL* pChannel = ChannelOf(pNode);
        if (!pChannel || MuteForEngineStop(pNode, pChannel) || !IsChannelStreaming(pChannel)) continue;
        // Without a device there is no cursor to follow: buffer work is skipped.
        if (!g_lpDirectSound) continue;
        if (!pChannel->pBuffer) return SNDERR_REFILL_NO_BUFFER;
        uint32_t dwWrite = 0;
        if (PlatDsBufferGetCurrentPosition(pChannel->pBuffer, nullptr, &dwWrite) != PLAT_DS_OK)
            return SNDERR_REFILL_POSITION;
        const uint32_t dwHalf = pChannel->dwBufferBytes / 2;
        if (pChannel->bLastHalf == 1 && dwWrite < dwHalf) {
            pChannel->dwFillOffset = dwHalf;
            pChannel->bLastHalf = 2;
        } else if (pChannel->bLastHalf == 2 && dwWrite > dwHalf) {
            pChannel->dwFillOffset = 0;
            pChannel->bLastHalf = 1;
        } else {
            continue;
        }
        const int nResult = FillChannelHalf(pChannel);
        if (nResult < 0) return nResult;
    }
    return 0;
}

int TrackSoundPlayback(TREE_NODE* pFirst)
{
    for (TREE_NODE* pNode = pFirst; pNode; pNode = pNode->pNext) {
        if (pNode->bGroup) {
            const int nResult = TrackSoundPlayback(pNode->pFirstChild);
            if (nResult < 0) return nResult;
            continue;
        }
        SOUND_CHANNEL* pChannel = ChannelOf(pNode);
        if (!pChannel || MuteForEngineStop(pNode, pChannel) || !IsChannelStreaming(pChannel)) continue;
        if (!g_lpDirectSound) continue;
        if (!pChannel->pBuffer) return SNDERR_TRACK_NO_BUFFER;
        uint32_t dwPlay = 0;
        if (PlatDsBufferGetCurrentPosition(pChannel->pBuffer, &dwPlay, nullptr) != PLAT_DS_OK)
            return SNDERR_TRACK_POSITION;
        int64_t llProgress = int64_t(dwPlay) - int64_t(pChannel->dwLastPlayCursor);
        if (dwPlay < pChannel->dwLastPlayCursor) llProgress += pChannel->dwBufferBytes;
        pChannel->dwLastPlayCursor = dwPlay;
        pChannel->llBytesPlayed += llProgress;
        const int bActive = pChannel->nActiveLoopEnd != 0;
        const int64_t llEnd = bActive ? pChannel->nActiveLoopEnd : pChannel->nEndPos;
        const int64_t llLoop = bActive ? pChannel->nActiveLoopStart : pChannel->nLoopStart;
        if (pChannel->llBytesPlayed * 1000 / pChannel->llBytesPerSec < llEnd) continue;
        pChannel->nActiveLoopStart = 0;
        pChannel->nActiveLoopEnd = 0;
        if (pChannel->nWrapsAhead > 0) --pChannel->nWrapsAhead;
        if (pChannel->nPlaysDone + 1 == pChannel->nPlaysRequested) {
            pChannel->nPlaysRequested = 0;
            pChannel->nPlaysDone = 0;
            pChannel->llBytesPlayed = 0;
            UnloadChannel(pChannel);
            pChannel->bState.store(SNDSTATE_EMPTY);
        } else {
            if (pChannel->nPlaysDone < INT32_MAX) ++pChannel->nPlaysDone;
            pChannel->llBytesPlayed = llLoop * pChannel->llBytesPerSec / 1000;
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Release

void ReleaseChannelBuffers(SOUND_CHANNEL* pChannel)
{
    if (!pChannel) return;
    if (pChannel->pBuffer) {
        PlatDsBufferStop(pChannel->pBuffer);
        PlatDsBufferRelease(pChannel->pBuffer);
        pChannel->pBuffer = nullptr;
    }
    std::free(pChannel->pStaging);
    pChannel->pStaging = nullptr;
    std::free(pChannel->pCarry);
    pChannel->pCarry = nullptr;
    pChannel->nCarryBytes = 0;
}

void UnloadChannel(SOUND_CHANNEL* pChannel)
{
    if (!pChannel) return;
    ReleaseChannelBuffers(pChannel);
    std::free(pChannel->pFileImage);
    pChannel->pFileImage = nullptr;
    pChannel->nFileSize = 0;
    pChannel->pPcmData = nullptr;
    pChannel->dwPcmSize = 0;
    pChannel->bDecodedForm = SNDFORM_PCM_WAV;
    pChannel->nStartPos = 0;
    pChannel->nLoopStart = 0;
    // An unloaded channel is not paused: a later pause or resume must see it as fresh.
    pChannel->dwPauseStamp = 0;
}

void UnloadSoundTree(TREE_NODE* pFirst)
{
    ForEachNode(pFirst, [](TREE_NODE* pNode) { UnloadChannel(ChannelOf(pNode)); });
}

// ---------------------------------------------------------------------------------------------
// The Ogg decoder's source callbacks over the file image

size_t OggMemRead(void* pDest, size_t nSize, size_t nCount, void* pSource)
{
    SOUND_CHANNEL* pChannel = static_cast<SOUND_CHANNEL*>(pSource);
    if (!pChannel || !pDest || nSize == 0) return 0;
    const int64_t llPos = pChannel->nReadPos;
    if (llPos < 0 || llPos >= pChannel->nFileSize) return 0;
    const uint64_t qwLeft = uint64_t(pChannel->nFileSize - llPos);
    const uint64_t qwWant = nCount > qwLeft / nSize ? qwLeft : uint64_t(nSize) * nCount;
    const size_t nCopy = size_t(std::min(qwWant, qwLeft));
    std::memcpy(pDest, pChannel->pFileImage + llPos, nCopy);
    pChannel->nReadPos = int32_t(llPos + int64_t(nCopy));
    return nCopy;
}

int OggMemSeek(void* pSource, int64_t llOffset, int nWhence)
{
    SOUND_CHANNEL* pChannel = static_cast<SOUND_CHANNEL*>(pSource);
    if (!pChannel) return -1;
    int64_t llBase = 0;
    switch (nWhence) {
    case 0: llBase = 0; break;
    case 1: llBase = pChannel->nReadPos; break;
    case 2: llBase = pChannel->nFileSize; break;
    default: return -1;
    }
    if (llOffset > INT32_MAX || llOffset < -int64_t(INT32_MAX)) return -1;
    const int64_t llPos = llBase + llOffset;
    // Only positions inside the image (its end included) are reachable.
    if (llPos < 0 || llPos > pChannel->nFileSize) return -1;
    pChannel->nReadPos = int32_t(llPos);
    return 0;
}

long OggMemTell(void* pSource)
{
    const SOUND_CHANNEL* pChannel = static_cast<const SOUND_CHANNEL*>(pSource);
    return pChannel ? pChannel->nReadPos : -1;
}

int OggMemClose(void* pSource)
{
    (void)pSource;
    return 1;
}
