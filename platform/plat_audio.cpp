// DirectSound-shaped sound output: devices, buffers, cursors, the mixer and its sinks.
#include "platform/plat_audio.h"
#include "platform/plat_trace.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "platform/plat_paths.h"

namespace {

enum { SINK_SDL = 0, SINK_NULL, SINK_WAV, SINK_MANUAL, SINK_FRAME_WAV };

// Frames a thread sink mixes per step; it is also that sink's latency.
constexpr uint32_t kThreadSinkBlock = 480;
// Frames the SDL device asks for per callback.
constexpr uint16_t kSdlBlock = 1024;
constexpr uint64_t kUnityStep = (uint64_t)1 << 32;

}  // namespace

struct PLAT_DS_BUFFER {
    PLAT_DS* pDs;
    uint8_t* pData;
    uint32_t nBytes;
    uint32_t nFrames;
    uint32_t dwFlags;
    PLAT_WAVEFORMATEX fmt;
    // Guarded by the device mutex.
    int bPlaying;
    int bLooping;
    uint32_t nPos;     // mix position in frames
    uint32_t nFrac;    // fraction of a frame beyond nPos (1/2^32)
    uint32_t nAhead;   // frames mixed but not heard yet (play cursor = nPos - nAhead)
    int32_t nVolume;
    int32_t nPan;
    uint32_t nFreq;
    uint64_t qStep;    // source frames per output frame (32.32)
    float fGainL;
    float fGainR;
};

struct PLAT_DS {
    std::mutex mtx;
    std::vector<PLAT_DS_BUFFER*> apBuffers;
    int nRefs = 1;          // the device itself plus every buffer; guarded by mtx
    int bReleased = 0;
    int nSink = SINK_MANUAL;
    uint32_t nLatency = 0;  // output frames
    std::vector<float> afMix;
    // sdl
    SDL_AudioDeviceID nSdlDev = 0;
    // null, wav
    std::thread thr;
    std::atomic<int> bStop{0};
    FILE* pWav = nullptr;
    uint64_t qWavFrames = 0;
    // manual (guarded by g_mtxAudio)
    std::vector<int16_t> anOutput;
    size_t nOutputRead = 0;
    // framewav: the part of an output frame owed from the frames stepped so far (guarded by g_mtxAudio)
    uint32_t nFrameCarry = 0;
};

namespace {

struct FAKE_RULE {
    int bSet;
    int nCode;
    int nSkip;
    int nTimes;
};

std::mutex g_mtxAudio;  // sink choice, manual device, fake failures; taken before a device mutex
std::string g_strSinkOverride;
int g_bSinkOverride = 0;
uint32_t g_nManualLatency = 0;
PLAT_DS* g_pManualDevice = nullptr;
PLAT_DS* g_pFrameDevice = nullptr;  // the newest live framewav device
FAKE_RULE g_aFakeRules[PLATDS_OP_COUNT];

// 0, or the code a fake rule makes this call fail with.
int CheckFakeFailure(int nOp)
{
    std::lock_guard<std::mutex> lock(g_mtxAudio);
    FAKE_RULE& r = g_aFakeRules[nOp];
    if (!r.bSet) return 0;
    if (r.nSkip > 0) {
        r.nSkip--;
        return 0;
    }
    if (r.nTimes == 0) {
        r.bSet = 0;
        return 0;
    }
    if (r.nTimes > 0 && --r.nTimes == 0) r.bSet = 0;
    return r.nCode;
}

float GainFromAttenuation(int32_t nAtt)
{
    if (nAtt <= DSBVOLUME_MIN) return 0.0f;
    return (float)std::pow(10.0, (double)nAtt / 2000.0);
}

void UpdateGains(PLAT_DS_BUFFER* b)
{
    int32_t nAttL = b->nVolume + std::min<int32_t>(0, -b->nPan);
    int32_t nAttR = b->nVolume + std::min<int32_t>(0, b->nPan);
    if (b->nVolume <= DSBVOLUME_MIN) nAttL = nAttR = DSBVOLUME_MIN;
    b->fGainL = GainFromAttenuation(nAttL);
    b->fGainR = GainFromAttenuation(nAttR);
}

void UpdateStep(PLAT_DS_BUFFER* b) { b->qStep = ((uint64_t)b->nFreq << 32) / PLAT_DS_OUTPUT_RATE; }

// The device's latency in this buffer's frames, kept below the buffer's length.
uint32_t LatencyFrames(const PLAT_DS_BUFFER* b)
{
    uint64_t q = (uint64_t)b->pDs->nLatency * b->nFreq / PLAT_DS_OUTPUT_RATE;
    if (q >= b->nFrames) q = b->nFrames - 1;
    return (uint32_t)q;
}

// One frame as two floats in 16-bit units (mono goes to both sides).
template <int BITS, int CH>
inline void FetchFrame(const uint8_t* p, uint32_t i, float* pL, float* pR)
{
    if constexpr (BITS == 8) {
        const uint8_t* s = p + (size_t)i * CH;
        *pL = (float)(((int)s[0] - 128) * 256);
        *pR = CH == 2 ? (float)(((int)s[1] - 128) * 256) : *pL;
    } else {
        const uint8_t* s = p + (size_t)i * CH * 2;
        int16_t a;
        std::memcpy(&a, s, 2);
        *pL = (float)a;
        if constexpr (CH == 2) {
            int16_t c;
            std::memcpy(&c, s + 2, 2);
            *pR = (float)c;
        } else {
            *pR = *pL;
        }
    }
}

// Mixes up to nOut frames of one playing buffer into pAcc; returns the source frames consumed.
template <int BITS, int CH>
uint64_t MixVoice(PLAT_DS_BUFFER* b, float* pAcc, uint32_t nOut)
{
    const uint8_t* p = b->pData;
    const uint32_t nFrames = b->nFrames;
    const float gl = b->fGainL, gr = b->fGainR;
    uint64_t qConsumed = 0;
    uint32_t n = 0;
    if (b->qStep == kUnityStep && b->nFrac == 0) {
        // Same rate as the output: straight copy with gain, in runs up to the buffer's end.
        while (n < nOut) {
            uint32_t nRun = std::min(nOut - n, nFrames - b->nPos);
            for (uint32_t k = 0; k < nRun; ++k) {
                float l, r;
                FetchFrame<BITS, CH>(p, b->nPos + k, &l, &r);
                pAcc[2 * (n + k)] += l * gl;
                pAcc[2 * (n + k) + 1] += r * gr;
            }
            n += nRun;
            b->nPos += nRun;
            qConsumed += nRun;
            if (b->nPos >= nFrames) {
                b->nPos = 0;
                if (!b->bLooping) {
                    b->bPlaying = 0;
                    b->nAhead = 0;
                    return 0;
                }
            }
        }
        return qConsumed;
    }
    const uint32_t nStepInt = (uint32_t)(b->qStep >> 32);
    const uint32_t nStepFrac = (uint32_t)b->qStep;
    for (; n < nOut; ++n) {
        float l, r;
        FetchFrame<BITS, CH>(p, b->nPos, &l, &r);
        if (b->nFrac != 0) {
            uint32_t nNext = b->nPos + 1;
            if (nNext >= nFrames) nNext = b->bLooping ? 0 : b->nPos;
            float l1, r1;
            FetchFrame<BITS, CH>(p, nNext, &l1, &r1);
            float f = (float)b->nFrac * (1.0f / 4294967296.0f);
            l += (l1 - l) * f;
            r += (r1 - r) * f;
        }
        pAcc[2 * n] += l * gl;
        pAcc[2 * n + 1] += r * gr;
        uint64_t qFrac = (uint64_t)b->nFrac + nStepFrac;
        uint64_t qAdv = (uint64_t)nStepInt + (qFrac >> 32);
        b->nFrac = (uint32_t)qFrac;
        qConsumed += qAdv;
        uint64_t qPos = b->nPos + qAdv;
        if (qPos >= nFrames) {
            if (!b->bLooping) {
                b->bPlaying = 0;
                b->nPos = 0;
                b->nFrac = 0;
                b->nAhead = 0;
                return 0;
            }
            qPos %= nFrames;
        }
        b->nPos = (uint32_t)qPos;
    }
    return qConsumed;
}

void MixOneBuffer(PLAT_DS_BUFFER* b, float* pAcc, uint32_t nOut)
{
    uint64_t q;
    int nKind = (b->fmt.wBitsPerSample == 16 ? 2 : 0) + (b->fmt.nChannels == 2 ? 1 : 0);
    switch (nKind) {
    case 0: q = MixVoice<8, 1>(b, pAcc, nOut); break;
    case 1: q = MixVoice<8, 2>(b, pAcc, nOut); break;
    case 2: q = MixVoice<16, 1>(b, pAcc, nOut); break;
    default: q = MixVoice<16, 2>(b, pAcc, nOut); break;
    }
    if (b->bPlaying) b->nAhead = (uint32_t)std::min<uint64_t>((uint64_t)b->nAhead + q, LatencyFrames(b));
}

inline int16_t ClipToS16(float f)
{
    if (f >= 32767.0f) return 32767;
    if (f <= -32768.0f) return -32768;
    return (int16_t)std::lrintf(f);
}

// ---- thread sinks ----

void WriteWavHeader(FILE* f, uint64_t qFrames)
{
    uint64_t qData = qFrames * 4;
    if (qData > 0xFFFFFFFFull - 36) qData = 0xFFFFFFFFull - 36;
    uint8_t h[44];
    auto put32 = [&](int o, uint32_t v) {
        for (int i = 0; i < 4; ++i) h[o + i] = (uint8_t)(v >> (8 * i));
    };
    auto put16 = [&](int o, uint16_t v) {
        h[o] = (uint8_t)v;
        h[o + 1] = (uint8_t)(v >> 8);
    };
    std::memcpy(h, "RIFF", 4);
    put32(4, (uint32_t)(36 + qData));
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, 2);
    put32(24, PLAT_DS_OUTPUT_RATE);
    put32(28, PLAT_DS_OUTPUT_RATE * 4);
    put16(32, 4);
    put16(34, 16);
    std::memcpy(h + 36, "data", 4);
    put32(40, (uint32_t)qData);
    std::fseek(f, 0, SEEK_SET);
    std::fwrite(h, 1, sizeof(h), f);
    std::fseek(f, 0, SEEK_END);
}

// Mixes in real time: every few milliseconds it catches up with the clock in blocks.
void RunThreadSink(PLAT_DS* pDs)
{
    using Clock = std::chrono::steady_clock;
    std::vector<int16_t> anBlock(kThreadSinkBlock * 2);
    Clock::time_point t0 = Clock::now();
    uint64_t qDone = 0;
    while (!pDs->bStop.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        uint64_t qNs = (uint64_t)std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t0).count();
        uint64_t qDue = qNs / 1000 * PLAT_DS_OUTPUT_RATE / 1000000 + kThreadSinkBlock;
        // After a long stall (a suspended process) skip ahead instead of racing through the gap.
        if (qDue > qDone + PLAT_DS_OUTPUT_RATE) qDone = qDue - kThreadSinkBlock;
        while (qDone + kThreadSinkBlock <= qDue && !pDs->bStop.load()) {
            PlatDsMix(pDs, anBlock.data(), kThreadSinkBlock);
            if (pDs->pWav) {
                std::fwrite(anBlock.data(), sizeof(int16_t), anBlock.size(), pDs->pWav);
                pDs->qWavFrames += kThreadSinkBlock;
            }
            qDone += kThreadSinkBlock;
        }
    }
}

void SdlAudioCallback(void* pUser, Uint8* pStream, int nLen)
{
    PlatDsMix((PLAT_DS*)pUser, (int16_t*)(void*)pStream, (uint32_t)nLen / 4);
}

int OpenSdlSink(PLAT_DS* pDs)
{
    // The sound library's own complaints (no card) go to the trace; the engine says it in one line.
    PlatQuietSoundLibrary();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return DSERR_NODRIVER;
    SDL_AudioSpec want;
    SDL_AudioSpec have;
    std::memset(&want, 0, sizeof(want));
    std::memset(&have, 0, sizeof(have));
    want.freq = (int)PLAT_DS_OUTPUT_RATE;
    want.format = AUDIO_S16SYS;
    want.channels = (Uint8)PLAT_DS_OUTPUT_CHANNELS;
    want.samples = kSdlBlock;
    want.callback = SdlAudioCallback;
    want.userdata = pDs;
    // No allowed changes: SDL converts to whatever the hardware takes.
    SDL_AudioDeviceID nDev = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (nDev == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return DSERR_NODRIVER;
    }
    pDs->nSdlDev = nDev;
    pDs->nLatency = have.samples ? have.samples : kSdlBlock;
    SDL_PauseAudioDevice(nDev, 0);
    return PLAT_DS_OK;
}

void CloseSink(PLAT_DS* pDs);

// The values KOLVEX_AUDIO takes, for the report of one it does not.
const char kSinkValues[] = "sdl, null, wav:FILE, framewav:FILE, manual";
const char kFrameWavPrefix[] = "framewav:";
constexpr size_t kFrameWavPrefixLen = sizeof(kFrameWavPrefix) - 1;
// The frame-driven sink's latency: one frame at 60 frames a second.
constexpr uint32_t kFrameSinkLatency = PLAT_DS_OUTPUT_RATE / 60;

int IsKnownSinkSpec(const std::string& strSpec)
{
    return strSpec.empty() || strSpec == "sdl" || strSpec == "manual" || strSpec == "null" ||
           strSpec.compare(0, 4, "wav:") == 0 || strSpec.compare(0, kFrameWavPrefixLen, kFrameWavPrefix) == 0;
}

int OpenSink(PLAT_DS* pDs, const std::string& strSpec)
{
    if (strSpec.empty() || strSpec == "sdl") {
        pDs->nSink = SINK_SDL;
        const int nRes = OpenSdlSink(pDs);
        if (nRes == PLAT_DS_OK) return nRes;
        // No sound card, or none that opens: the game runs silent rather than not at all.
        std::fprintf(stderr, "kolvex: no audio device could be opened (%s); the game runs without sound\n",
                     SDL_GetError());
        CloseSink(pDs);
        pDs->nSink = SINK_NULL;
        pDs->bStop.store(0);
        return OpenSink(pDs, "null");
    }
    if (strSpec == "manual") {
        pDs->nSink = SINK_MANUAL;
        std::lock_guard<std::mutex> lock(g_mtxAudio);
        pDs->nLatency = g_nManualLatency;
        g_pManualDevice = pDs;
        return PLAT_DS_OK;
    }
    if (strSpec.compare(0, kFrameWavPrefixLen, kFrameWavPrefix) == 0) {
        // No thread: the frame loop mixes each frame's share (PlatDsAdvanceFrame).
        pDs->nSink = SINK_FRAME_WAV;
        const std::string strFile = strSpec.substr(kFrameWavPrefixLen);
        if (strFile.empty()) return DSERR_NODRIVER;
        pDs->pWav = std::fopen(strFile.c_str(), "wb+");
        if (!pDs->pWav) return DSERR_NODRIVER;
        WriteWavHeader(pDs->pWav, 0);
        pDs->nLatency = kFrameSinkLatency;
        std::lock_guard<std::mutex> lock(g_mtxAudio);
        g_pFrameDevice = pDs;
        return PLAT_DS_OK;
    }
    if (strSpec == "null" || strSpec.compare(0, 4, "wav:") == 0) {
        pDs->nSink = strSpec == "null" ? SINK_NULL : SINK_WAV;
        if (pDs->nSink == SINK_WAV) {
            // A relative file is taken from the folder kolvex was started in, not the game folder.
            const std::string strFile = PlatFromStartFolder(strSpec.substr(4).c_str());
            if (strFile.empty()) return DSERR_NODRIVER;
            pDs->pWav = std::fopen(strFile.c_str(), "wb+");
            if (!pDs->pWav) return DSERR_NODRIVER;
            WriteWavHeader(pDs->pWav, 0);
        }
        pDs->nLatency = kThreadSinkBlock;
        try {
            pDs->thr = std::thread(RunThreadSink, pDs);
        } catch (...) {
            if (pDs->pWav) std::fclose(pDs->pWav);
            pDs->pWav = nullptr;
            return DSERR_OUTOFMEMORY;
        }
        return PLAT_DS_OK;
    }
    return DSERR_NODRIVER;
}

void CloseSink(PLAT_DS* pDs)
{
    switch (pDs->nSink) {
    case SINK_SDL:
        if (pDs->nSdlDev) {
            SDL_CloseAudioDevice(pDs->nSdlDev);  // waits for a running callback
            pDs->nSdlDev = 0;
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
        }
        break;
    case SINK_NULL:
    case SINK_WAV:
        pDs->bStop.store(1);
        if (pDs->thr.joinable()) pDs->thr.join();
        if (pDs->pWav) {
            WriteWavHeader(pDs->pWav, pDs->qWavFrames);
            std::fclose(pDs->pWav);
            pDs->pWav = nullptr;
        }
        break;
    case SINK_FRAME_WAV: {
        std::lock_guard<std::mutex> lock(g_mtxAudio);
        if (g_pFrameDevice == pDs) g_pFrameDevice = nullptr;
        if (pDs->pWav) {
            WriteWavHeader(pDs->pWav, pDs->qWavFrames);
            std::fclose(pDs->pWav);
            pDs->pWav = nullptr;
        }
        break;
    }
    default: {
        std::lock_guard<std::mutex> lock(g_mtxAudio);
        if (g_pManualDevice == pDs) g_pManualDevice = nullptr;
        break;
    }
    }
}

// Drops one reference; frees the device with the last.
void DropDeviceRef(PLAT_DS* pDs)
{
    int nLeft;
    {
        std::lock_guard<std::mutex> lock(pDs->mtx);
        nLeft = --pDs->nRefs;
    }
    if (nLeft == 0) delete pDs;
}

int ValidateFormat(const PLAT_WAVEFORMATEX* w)
{
    if (w->wFormatTag != PLAT_WAVE_FORMAT_PCM) return DSERR_BADFORMAT;
    if (w->nChannels < 1 || w->nChannels > 2) return DSERR_INVALIDPARAM;
    if (w->wBitsPerSample != 8 && w->wBitsPerSample != 16) return DSERR_INVALIDPARAM;
    if (w->nBlockAlign != w->nChannels * w->wBitsPerSample / 8) return DSERR_INVALIDPARAM;
    if (w->nSamplesPerSec < DSBFREQUENCY_MIN || w->nSamplesPerSec > DSBFREQUENCY_MAX) return DSERR_INVALIDPARAM;
    if (w->nAvgBytesPerSec != w->nSamplesPerSec * w->nBlockAlign) return DSERR_INVALIDPARAM;
    return PLAT_DS_OK;
}

constexpr uint32_t kAcceptedFlags = DSBCAPS_STATIC | DSBCAPS_LOCSOFTWARE | DSBCAPS_CTRLFREQUENCY |
                                    DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME | DSBCAPS_STICKYFOCUS |
                                    DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2;

// The write cursor: the mix position, one frame on while resampling between two frames. On the
// buffer's last frame with a fraction the mixer still reads that frame (blending it with frame 0):
// the cursor stays there instead of wrapping to 0 until the mixer has left it, so that a writer who
// refills the half the cursor is not in never takes the half the mixer still reads.
uint32_t WriteFrame(const PLAT_DS_BUFFER* b)
{
    const uint32_t n = b->nPos + (b->bPlaying && b->nFrac != 0 ? 1 : 0);
    return n >= b->nFrames ? b->nFrames - 1 : n;
}

uint32_t PlayFrame(const PLAT_DS_BUFFER* b)
{
    if (!b->bPlaying) return b->nPos;
    return b->nPos >= b->nAhead ? b->nPos - b->nAhead : b->nPos + b->nFrames - b->nAhead;
}

}  // namespace

// ---- device ----

int PlatDsCreate(PLAT_DS** ppDs)
{
    if (!ppDs) return DSERR_INVALIDPARAM;
    *ppDs = nullptr;
    if (int nFail = CheckFakeFailure(PLATDS_OP_CREATE)) return nFail;
    std::string strSpec;
    {
        std::lock_guard<std::mutex> lock(g_mtxAudio);
        if (g_bSinkOverride) {
            strSpec = g_strSinkOverride;
        } else {
            const char* psz = std::getenv("KOLVEX_AUDIO");
            strSpec = psz ? psz : "";
            // A value the user mistyped: said once per device, and the default serves.
            if (!IsKnownSinkSpec(strSpec)) {
                std::fprintf(stderr, "kolvex: KOLVEX_AUDIO=%s is not a sound output; the valid values are %s; "
                                     "sdl is used\n", strSpec.c_str(), kSinkValues);
                strSpec = "sdl";
            }
        }
    }
    PLAT_DS* pDs = new (std::nothrow) PLAT_DS;
    if (!pDs) return DSERR_OUTOFMEMORY;
    int nRes = OpenSink(pDs, strSpec);
    if (nRes != PLAT_DS_OK) {
        CloseSink(pDs);
        delete pDs;
        return nRes;
    }
    *ppDs = pDs;
    return PLAT_DS_OK;
}

int PlatDsSetCooperativeLevel(PLAT_DS* pDs, uint32_t hwnd, int nLevel)
{
    (void)hwnd;
    if (!pDs || nLevel < DSSCL_NORMAL || nLevel > DSSCL_WRITEPRIMARY) return DSERR_INVALIDPARAM;
    if (int nFail = CheckFakeFailure(PLATDS_OP_SETCOOPERATIVELEVEL)) return nFail;
    return PLAT_DS_OK;
}

int PlatDsRelease(PLAT_DS* pDs)
{
    if (!pDs) return DSERR_INVALIDPARAM;
    {
        std::lock_guard<std::mutex> lock(pDs->mtx);
        if (pDs->bReleased) return DSERR_INVALIDCALL;
        pDs->bReleased = 1;
    }
    CloseSink(pDs);
    DropDeviceRef(pDs);
    return PLAT_DS_OK;
}

// ---- buffers ----

int PlatDsCreateBuffer(PLAT_DS* pDs, const PLAT_DSBUFFERDESC* pDesc, PLAT_DS_BUFFER** ppBuf)
{
    if (!pDs || !pDesc || !ppBuf || !pDesc->lpwfxFormat) return DSERR_INVALIDPARAM;
    *ppBuf = nullptr;
    if (int nRes = ValidateFormat(pDesc->lpwfxFormat)) return nRes;
    if (pDesc->dwFlags & ~kAcceptedFlags) return DSERR_INVALIDPARAM;
    if (pDesc->dwBufferBytes < DSBSIZE_MIN || pDesc->dwBufferBytes > DSBSIZE_MAX) return DSERR_INVALIDPARAM;
    if (int nFail = CheckFakeFailure(PLATDS_OP_CREATEBUFFER)) return nFail;
    const PLAT_WAVEFORMATEX& w = *pDesc->lpwfxFormat;
    uint32_t nFrames = pDesc->dwBufferBytes / w.nBlockAlign;
    uint32_t nBytes = nFrames * w.nBlockAlign;
    PLAT_DS_BUFFER* b = new (std::nothrow) PLAT_DS_BUFFER();
    if (!b) return DSERR_OUTOFMEMORY;
    b->pData = (uint8_t*)std::malloc(nBytes);
    if (!b->pData) {
        delete b;
        return DSERR_OUTOFMEMORY;
    }
    std::memset(b->pData, w.wBitsPerSample == 8 ? 128 : 0, nBytes);
    b->pDs = pDs;
    b->nBytes = nBytes;
    b->nFrames = nFrames;
    b->dwFlags = pDesc->dwFlags;
    b->fmt = w;
    b->fmt.cbSize = 0;
    b->nFreq = w.nSamplesPerSec;
    UpdateStep(b);
    UpdateGains(b);
    {
        std::lock_guard<std::mutex> lock(pDs->mtx);
        if (pDs->bReleased) {
            std::free(b->pData);
            delete b;
            return DSERR_UNINITIALIZED;
        }
        try {
            pDs->apBuffers.push_back(b);
        } catch (...) {
            std::free(b->pData);
            delete b;
            return DSERR_OUTOFMEMORY;
        }
        pDs->nRefs++;
    }
    *ppBuf = b;
    return PLAT_DS_OK;
}

int PlatDsBufferPlay(PLAT_DS_BUFFER* b, uint32_t dwFlags)
{
    if (!b) return DSERR_INVALIDPARAM;
    if (int nFail = CheckFakeFailure(PLATDS_OP_PLAY)) return nFail;
    std::lock_guard<std::mutex> lock(b->pDs->mtx);
    if (!b->bPlaying) {
        b->bPlaying = 1;
        b->nAhead = 0;
    }
    b->bLooping = (dwFlags & DSBPLAY_LOOPING) ? 1 : 0;
    return PLAT_DS_OK;
}

int PlatDsBufferStop(PLAT_DS_BUFFER* b)
{
    if (!b) return DSERR_INVALIDPARAM;
    if (int nFail = CheckFakeFailure(PLATDS_OP_STOP)) return nFail;
    std::lock_guard<std::mutex> lock(b->pDs->mtx);
    if (b->bPlaying) {
        b->nPos = PlayFrame(b);
        b->nFrac = 0;
        b->nAhead = 0;
        b->bPlaying = 0;
    }
    return PLAT_DS_OK;
}

int PlatDsBufferGetCurrentPosition(PLAT_DS_BUFFER* b, uint32_t* pPlay, uint32_t* pWrite)
{
    if (!b) return DSERR_INVALIDPARAM;
    if (int nFail = CheckFakeFailure(PLATDS_OP_GETCURRENTPOSITION)) return nFail;
    std::lock_guard<std::mutex> lock(b->pDs->mtx);
    if (pPlay) *pPlay = PlayFrame(b) * b->fmt.nBlockAlign;
    if (pWrite) *pWrite = WriteFrame(b) * b->fmt.nBlockAlign;
    return PLAT_DS_OK;
}

int PlatDsBufferSetCurrentPosition(PLAT_DS_BUFFER* b, uint32_t dwPos)
{
    if (!b || dwPos >= b->nBytes) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> lock(b->pDs->mtx);
    b->nPos = dwPos / b->fmt.nBlockAlign;
    b->nFrac = 0;
    b->nAhead = 0;
    return PLAT_DS_OK;
}

int PlatDsBufferLock(PLAT_DS_BUFFER* b, uint32_t dwOffset, uint32_t dwBytes, void** ppv1, uint32_t* pn1,
                     void** ppv2, uint32_t* pn2, uint32_t dwFlags)
{
    if (!b || !ppv1 || !pn1 || (!ppv2) != (!pn2)) return DSERR_INVALIDPARAM;
    if (dwFlags & DSBLOCK_ENTIREBUFFER) dwBytes = b->nBytes;
    {
        // The device mutex, which every mix pass holds, orders the passes before this lock ahead of
        // the writer's bytes (PlatDsBufferUnlock orders the bytes ahead of the passes after it). A
        // pass in between reads only frames the writer leaves alone: those from the write cursor on
        // up to a pass ahead, never the region a writer refills behind the cursor.
        std::lock_guard<std::mutex> lock(b->pDs->mtx);
        if (dwFlags & DSBLOCK_FROMWRITECURSOR) dwOffset = WriteFrame(b) * b->fmt.nBlockAlign;
    }
    if (dwOffset >= b->nBytes || dwBytes == 0 || dwBytes > b->nBytes) return DSERR_INVALIDPARAM;
    if (int nFail = CheckFakeFailure(PLATDS_OP_LOCK)) return nFail;
    uint32_t n1 = std::min(dwBytes, b->nBytes - dwOffset);
    uint32_t n2 = dwBytes - n1;
    *ppv1 = b->pData + dwOffset;
    if (ppv2) {
        *pn1 = n1;
        *ppv2 = n2 ? b->pData : nullptr;
        *pn2 = n2;
    } else {
        *pn1 = n1;  // no room for a second region: the range is cut at the end
    }
    return PLAT_DS_OK;
}

int PlatDsBufferUnlock(PLAT_DS_BUFFER* b, void* pv1, uint32_t n1, void* pv2, uint32_t n2)
{
    if (!b) return DSERR_INVALIDPARAM;
    auto inside = [b](void* pv, uint32_t n) {
        if (!pv) return n == 0;
        uint8_t* p = (uint8_t*)pv;
        if (p < b->pData || p > b->pData + b->nBytes) return false;
        return n <= (uint32_t)(b->pData + b->nBytes - p);
    };
    if (!inside(pv1, n1) || !inside(pv2, n2)) return DSERR_INVALIDPARAM;
    // The bytes written since the lock are published to the mixer: its next pass takes this mutex.
    { std::lock_guard<std::mutex> lock(b->pDs->mtx); }
    if (int nFail = CheckFakeFailure(PLATDS_OP_UNLOCK)) return nFail;
    return PLAT_DS_OK;
}

int PlatDsBufferSetVolume(PLAT_DS_BUFFER* b, int32_t nVolume)
{
    if (!b) return DSERR_INVALIDPARAM;
    if (!(b->dwFlags & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
    if (nVolume < DSBVOLUME_MIN || nVolume > DSBVOLUME_MAX) return DSERR_INVALIDPARAM;
    if (int nFail = CheckFakeFailure(PLATDS_OP_SETVOLUME)) return nFail;
    std::lock_guard<std::mutex> lock(b->pDs->mtx);
    b->nVolume = nVolume;
    UpdateGains(b);
    return PLAT_DS_OK;
}

int PlatDsBufferGetVolume(PLAT_DS_BUFFER* b, int32_t* pVolume)
{
    if (!b || !pVolume) return DSERR_INVALIDPARAM;
    if (!(b->dwFlags & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
    std::lock_guard<std::mutex> lock(b->pDs->mtx);
    *pVolume = b->nVolume;
    return PLAT_DS_OK;
}

int PlatDsBufferSetPan(PLAT_DS_BUFFER* b, int32_t nPan)
{
    if (!b) return DSERR_INVALIDPARAM;
    if (!(b->dwFlags & DSBCAPS_CTRLPAN)) return DSERR_CONTROLUNAVAIL;
    if (nPan < DSBPAN_LEFT || nPan > DSBPAN_RIGHT) return DSERR_INVALIDPARAM;
    if (int nFail = CheckFakeFailure(PLATDS_OP_SETPAN)) return nFail;
    std::lock_guard<std::mutex> lock(b->pDs->mtx);
    b->nPan = nPan;
    UpdateGains(b);
    return PLAT_DS_OK;
}

int PlatDsBufferGetPan(PLAT_DS_BUFFER* b, int32_t* pPan)
{
    if (!b || !pPan) return DSERR_INVALIDPARAM;
    if (!(b->dwFlags & DSBCAPS_CTRLPAN)) return DSERR_CONTROLUNAVAIL;
    std::lock_guard<std::mutex> lock(b->pDs->mtx);
    *pPan = b->nPan;
    return PLAT_DS_OK;
}

int PlatDsBufferSetFrequency(PLAT_DS_BUFFER* b, uint32_t nFrequency)
{
    if (!b) return DSERR_INVALIDPARAM;
    if (!(b->dwFlags & DSBCAPS_CTRLFREQUENCY)) return DSERR_CONTROLUNAVAIL;
    if (nFrequency != DSBFREQUENCY_ORIGINAL && (nFrequency < DSBFREQUENCY_MIN || nFrequency > DSBFREQUENCY_MAX))
        return DSERR_INVALIDPARAM;
    if (int nFail = CheckFakeFailure(PLATDS_OP_SETFREQUENCY)) return nFail;
    std::lock_guard<std::mutex> lock(b->pDs->mtx);
    b->nFreq = nFrequency == DSBFREQUENCY_ORIGINAL ? b->fmt.nSamplesPerSec : nFrequency;
    UpdateStep(b);
    b->nAhead = std::min(b->nAhead, LatencyFrames(b));
    return PLAT_DS_OK;
}

int PlatDsBufferGetFrequency(PLAT_DS_BUFFER* b, uint32_t* pFrequency)
{
    if (!b || !pFrequency) return DSERR_INVALIDPARAM;
    if (!(b->dwFlags & DSBCAPS_CTRLFREQUENCY)) return DSERR_CONTROLUNAVAIL;
    std::lock_guard<std::mutex> lock(b->pDs->mtx);
    *pFrequency = b->nFreq;
    return PLAT_DS_OK;
}

int PlatDsBufferGetStatus(PLAT_DS_BUFFER* b, uint32_t* pStatus)
{
    if (!b || !pStatus) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> lock(b->pDs->mtx);
    *pStatus = b->bPlaying ? (DSBSTATUS_PLAYING | (b->bLooping ? DSBSTATUS_LOOPING : 0)) : 0;
    return PLAT_DS_OK;
}

int PlatDsBufferGetSize(PLAT_DS_BUFFER* b, uint32_t* pBytes)
{
    if (!b || !pBytes) return DSERR_INVALIDPARAM;
    *pBytes = b->nBytes;
    return PLAT_DS_OK;
}

int PlatDsBufferGetFormat(PLAT_DS_BUFFER* b, PLAT_WAVEFORMATEX* pFormat)
{
    if (!b || !pFormat) return DSERR_INVALIDPARAM;
    *pFormat = b->fmt;
    return PLAT_DS_OK;
}

int PlatDsBufferRelease(PLAT_DS_BUFFER* b)
{
    if (!b) return DSERR_INVALIDPARAM;
    PLAT_DS* pDs = b->pDs;
    {
        std::lock_guard<std::mutex> lock(pDs->mtx);
        auto it = std::find(pDs->apBuffers.begin(), pDs->apBuffers.end(), b);
        if (it != pDs->apBuffers.end()) pDs->apBuffers.erase(it);
    }
    std::free(b->pData);
    delete b;
    DropDeviceRef(pDs);
    return PLAT_DS_OK;
}

// ---- the mixer ----

void PlatDsMix(PLAT_DS* pDs, int16_t* pOut, uint32_t nFrames)
{
    if (!pDs || !pOut || nFrames == 0) return;
    std::lock_guard<std::mutex> lock(pDs->mtx);
    if (pDs->afMix.size() < (size_t)nFrames * 2) pDs->afMix.resize((size_t)nFrames * 2);
    float* pAcc = pDs->afMix.data();
    std::fill(pAcc, pAcc + (size_t)nFrames * 2, 0.0f);
    if (!pDs->bReleased) {
        for (PLAT_DS_BUFFER* b : pDs->apBuffers) {
            if (b->bPlaying) MixOneBuffer(b, pAcc, nFrames);
        }
    }
    for (size_t i = 0; i < (size_t)nFrames * 2; ++i) pOut[i] = ClipToS16(pAcc[i]);
}

uint32_t PlatDsGetLatency(PLAT_DS* pDs) { return pDs ? pDs->nLatency : 0; }

const char* PlatDsGetSinkName(PLAT_DS* pDs)
{
    if (!pDs) return "";
    switch (pDs->nSink) {
    case SINK_SDL: return "sdl";
    case SINK_NULL: return "null";
    case SINK_WAV: return "wav";
    case SINK_FRAME_WAV: return "framewav";
    default: return "manual";
    }
}

// ---- sink selection and manual stepping ----

void PlatDsSetSinkOverride(const char* pszSink)
{
    std::lock_guard<std::mutex> lock(g_mtxAudio);
    g_bSinkOverride = pszSink != nullptr;
    g_strSinkOverride = pszSink ? pszSink : "";
}

void PlatDsSetManualLatency(uint32_t nFrames)
{
    std::lock_guard<std::mutex> lock(g_mtxAudio);
    g_nManualLatency = nFrames;
}

int PlatDsAdvance(uint32_t nFrames)
{
    std::lock_guard<std::mutex> lock(g_mtxAudio);
    PLAT_DS* pDs = g_pManualDevice;
    if (!pDs) return DSERR_UNINITIALIZED;
    // Compact the record once its consumed front outweighs what is left.
    if (pDs->nOutputRead > 0 && pDs->nOutputRead * 2 >= pDs->anOutput.size()) {
        pDs->anOutput.erase(pDs->anOutput.begin(), pDs->anOutput.begin() + (ptrdiff_t)pDs->nOutputRead);
        pDs->nOutputRead = 0;
    }
    const uint32_t kStep = 4096;
    while (nFrames > 0) {
        uint32_t n = std::min(nFrames, kStep);
        size_t nOld = pDs->anOutput.size();
        try {
            pDs->anOutput.resize(nOld + (size_t)n * 2);
        } catch (...) {
            return DSERR_OUTOFMEMORY;
        }
        PlatDsMix(pDs, pDs->anOutput.data() + nOld, n);
        nFrames -= n;
    }
    return PLAT_DS_OK;
}

int PlatDsAdvanceFrame(int nFps)
{
    std::lock_guard<std::mutex> lock(g_mtxAudio);
    PLAT_DS* pDs = g_pFrameDevice;
    if (!pDs || !pDs->pWav) return DSERR_UNINITIALIZED;
    // The output rate divided by the frame rate, the remainder carried to the next frames, so that
    // a second of frames always makes a second of sound.
    const uint32_t nFps32 = nFps < 1 ? 1u : (uint32_t)nFps;
    const uint32_t nSum = pDs->nFrameCarry + PLAT_DS_OUTPUT_RATE;
    const uint32_t nFrames = nSum / nFps32;
    pDs->nFrameCarry = nSum % nFps32;
    std::vector<int16_t> anBlock((size_t)nFrames * 2);
    PlatDsMix(pDs, anBlock.data(), nFrames);
    if (std::fwrite(anBlock.data(), sizeof(int16_t), anBlock.size(), pDs->pWav) != anBlock.size()) return DSERR_GENERIC;
    pDs->qWavFrames += nFrames;
    return PLAT_DS_OK;
}

size_t PlatDsReadOutput(int16_t* pOut, size_t nMaxFrames)
{
    std::lock_guard<std::mutex> lock(g_mtxAudio);
    PLAT_DS* pDs = g_pManualDevice;
    if (!pDs) return 0;
    size_t nAvail = (pDs->anOutput.size() - pDs->nOutputRead) / 2;
    size_t n = std::min(nAvail, nMaxFrames);
    if (pOut && n) std::memcpy(pOut, pDs->anOutput.data() + pDs->nOutputRead, n * 2 * sizeof(int16_t));
    pDs->nOutputRead += n * 2;
    if (pDs->nOutputRead == pDs->anOutput.size()) {
        pDs->anOutput.clear();
        pDs->nOutputRead = 0;
    }
    return n;
}

size_t PlatDsOutputFrames(void)
{
    std::lock_guard<std::mutex> lock(g_mtxAudio);
    PLAT_DS* pDs = g_pManualDevice;
    return pDs ? (pDs->anOutput.size() - pDs->nOutputRead) / 2 : 0;
}

// ---- fake failures ----

void PlatDsFailOp(int nOp, int nCode, int nSkip, int nTimes)
{
    if (nOp < 0 || nOp >= PLATDS_OP_COUNT) return;
    std::lock_guard<std::mutex> lock(g_mtxAudio);
    g_aFakeRules[nOp] = FAKE_RULE{nTimes != 0 ? 1 : 0, nCode, std::max(0, nSkip), nTimes};
}

void PlatDsClearFakeFailures(void)
{
    std::lock_guard<std::mutex> lock(g_mtxAudio);
    for (FAKE_RULE& r : g_aFakeRules) r = FAKE_RULE{0, 0, 0, 0};
}
