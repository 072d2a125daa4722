// Sound output in place of DirectSound: a device, secondary buffers with DirectSound's cursors,
// lock/unlock, volume, pan and frequency, and our own mixer that sums every playing buffer into
// signed 16-bit stereo at 48000 Hz for a sink.
//
// Results are HRESULT-like: PLAT_DS_OK (0) on success, a negative DSERR_* code with the Windows
// value on failure.
//
// Sinks (chosen at PlatDsCreate by PlatDsSetSinkOverride, else the KOLVEX_AUDIO variable, else sdl;
// a KOLVEX_AUDIO value that names no sink is reported on stderr with the valid ones and sdl serves;
// when SDL opens no audio device, a line on stderr says so and the null sink serves):
//   sdl          SDL2 audio; the device is opened from the calling thread (the window thread) and
//                mixed in SDL's callback. With SDL_AUDIODRIVER=dummy it runs headless.
//   null         a real-time thread of our own that mixes and discards.
//   wav:<file>   like null, and writes the mix to <file> (RIFF WAVE, s16 stereo 48000 Hz).
//   framewav:<file>  writes the mix to <file> like wav, but mixed by the frame loop: one frame's
//                share of a second (PlatDsAdvanceFrame) per frame, whatever the clock says, so
//                that the file's length counts frames; for tests on machines of any speed.
//   manual       no thread: nothing plays until PlatDsAdvance mixes; tests read the mix back with
//                PlatDsReadOutput.
//
// Cursors. Each playing buffer has a mix position M (bytes, plus a resampling fraction). The
// write cursor is M (one frame further while the mixer sits between two frames); the play cursor
// trails it by what was mixed but is not heard yet, at most the sink's latency converted into the
// buffer's bytes (block aligned). As in DirectSound, the bytes from the play cursor up to the write
// cursor are committed: writing there does not change what is heard. Writing at or after the write
// cursor is heard when the mixer gets there. Sample memory is not locked against the mixer; writers
// and the mixer touch disjoint regions by that rule.
//
// Threads. The device mutex guards the buffer list and cursors only. Every function may be called
// from any thread except PlatDsCreate and PlatDsRelease with the sdl sink, which belong to the
// thread that owns SDL (the window thread).
#pragma once
#include <cstddef>
#include <cstdint>

struct PLAT_DS;
struct PLAT_DS_BUFFER;

// ---- result codes (values of the Windows headers, as int32) ----
constexpr int PLAT_DS_OK = 0;
constexpr int DSERR_ALLOCATED = (int)0x8878000Au;
constexpr int DSERR_CONTROLUNAVAIL = (int)0x8878001Eu;
constexpr int DSERR_INVALIDPARAM = (int)0x80070057u;
constexpr int DSERR_INVALIDCALL = (int)0x88780032u;
constexpr int DSERR_GENERIC = (int)0x80004005u;
constexpr int DSERR_PRIOLEVELNEEDED = (int)0x88780046u;
constexpr int DSERR_OUTOFMEMORY = (int)0x8007000Eu;
constexpr int DSERR_BADFORMAT = (int)0x88780064u;
constexpr int DSERR_UNSUPPORTED = (int)0x80004001u;
constexpr int DSERR_NODRIVER = (int)0x88780078u;
constexpr int DSERR_ALREADYINITIALIZED = (int)0x88780082u;
constexpr int DSERR_NOAGGREGATION = (int)0x80040110u;
constexpr int DSERR_BUFFERLOST = (int)0x88780096u;
constexpr int DSERR_OTHERAPPHASPRIO = (int)0x887800A0u;
constexpr int DSERR_UNINITIALIZED = (int)0x887800AAu;

// ---- cooperative levels ----
constexpr int DSSCL_NORMAL = 1;
constexpr int DSSCL_PRIORITY = 2;
constexpr int DSSCL_EXCLUSIVE = 3;
constexpr int DSSCL_WRITEPRIMARY = 4;

// ---- buffer capability flags (PLAT_DSBUFFERDESC::dwFlags) ----
constexpr uint32_t DSBCAPS_PRIMARYBUFFER = 0x00000001u;     // refused
constexpr uint32_t DSBCAPS_STATIC = 0x00000002u;
constexpr uint32_t DSBCAPS_LOCHARDWARE = 0x00000004u;       // refused (no hardware voices)
constexpr uint32_t DSBCAPS_LOCSOFTWARE = 0x00000008u;
constexpr uint32_t DSBCAPS_CTRL3D = 0x00000010u;            // refused
constexpr uint32_t DSBCAPS_CTRLFREQUENCY = 0x00000020u;
constexpr uint32_t DSBCAPS_CTRLPAN = 0x00000040u;
constexpr uint32_t DSBCAPS_CTRLVOLUME = 0x00000080u;
constexpr uint32_t DSBCAPS_CTRLPOSITIONNOTIFY = 0x00000100u; // refused
constexpr uint32_t DSBCAPS_CTRLFX = 0x00000200u;            // refused
constexpr uint32_t DSBCAPS_STICKYFOCUS = 0x00004000u;
constexpr uint32_t DSBCAPS_GLOBALFOCUS = 0x00008000u;
constexpr uint32_t DSBCAPS_GETCURRENTPOSITION2 = 0x00010000u;

// ---- play, lock and status flags ----
constexpr uint32_t DSBPLAY_LOOPING = 0x00000001u;
constexpr uint32_t DSBLOCK_FROMWRITECURSOR = 0x00000001u;
constexpr uint32_t DSBLOCK_ENTIREBUFFER = 0x00000002u;
constexpr uint32_t DSBSTATUS_PLAYING = 0x00000001u;
constexpr uint32_t DSBSTATUS_LOOPING = 0x00000004u;

// ---- limits ----
constexpr int32_t DSBVOLUME_MIN = -10000;      // silence (gain exactly 0)
constexpr int32_t DSBVOLUME_MAX = 0;
constexpr int32_t DSBPAN_LEFT = -10000;
constexpr int32_t DSBPAN_CENTER = 0;
constexpr int32_t DSBPAN_RIGHT = 10000;
constexpr uint32_t DSBFREQUENCY_ORIGINAL = 0;  // SetFrequency(0): back to the format's rate
constexpr uint32_t DSBFREQUENCY_MIN = 100;
constexpr uint32_t DSBFREQUENCY_MAX = 200000;
constexpr uint32_t DSBSIZE_MIN = 4;
constexpr uint32_t DSBSIZE_MAX = 0x0FFFFFFFu;

constexpr uint16_t PLAT_WAVE_FORMAT_PCM = 1;

// Mixer output: signed 16-bit interleaved stereo at this rate.
constexpr uint32_t PLAT_DS_OUTPUT_RATE = 48000;
constexpr uint32_t PLAT_DS_OUTPUT_CHANNELS = 2;

// The 18-byte WAVEFORMATEX, field for field.
#pragma pack(push, 1)
struct PLAT_WAVEFORMATEX {
    uint16_t wFormatTag;       // 1 (PCM) is the only one buffers accept
    uint16_t nChannels;        // 1 or 2
    uint32_t nSamplesPerSec;   // DSBFREQUENCY_MIN..DSBFREQUENCY_MAX
    uint32_t nAvgBytesPerSec;  // must equal nSamplesPerSec x nBlockAlign
    uint16_t nBlockAlign;      // must equal nChannels x wBitsPerSample / 8
    uint16_t wBitsPerSample;   // 8 (unsigned) or 16 (signed little-endian)
    uint16_t cbSize;           // ignored for PCM
};
#pragma pack(pop)
static_assert(sizeof(PLAT_WAVEFORMATEX) == 18, "WAVEFORMATEX is 18 bytes");

struct PLAT_DSBUFFERDESC {
    uint32_t dwFlags;                  // DSBCAPS_*
    uint32_t dwBufferBytes;            // DSBSIZE_MIN..DSBSIZE_MAX; rounded down to the block align
    const PLAT_WAVEFORMATEX* lpwfxFormat;
};

// ---- device ----
// Opens the sink and creates a device. Fails with DSERR_NODRIVER when the sink cannot be opened
// (SDL audio missing, a WAV file that cannot be created, an unknown sink name).
int PlatDsCreate(PLAT_DS** ppDs);
// level DSSCL_*; any window handle is accepted. DSERR_INVALIDPARAM for another level.
int PlatDsSetCooperativeLevel(PLAT_DS* pDs, uint32_t hwnd, int nLevel);
// Stops the sink (closes the SDL device, joins the thread, finishes the WAV file). Buffers that are
// still held stay valid objects until released, but are no longer mixed.
int PlatDsRelease(PLAT_DS* pDs);

// ---- buffers ----
// Validates like DirectSound: tag PCM, 1..2 channels, 8 or 16 bits, block align and average bytes
// consistent, rate in DSBFREQUENCY_MIN..MAX, size in DSBSIZE_MIN..MAX, only the software flags
// above; DSERR_INVALIDPARAM otherwise (DSERR_BADFORMAT for a non-PCM tag). Memory starts zeroed
// (128 for 8-bit). Volume 0, pan 0, the format's rate, stopped at position 0.
int PlatDsCreateBuffer(PLAT_DS* pDs, const PLAT_DSBUFFERDESC* pDesc, PLAT_DS_BUFFER** ppBuf);
// Starts (or keeps) playing from the current position; DSBPLAY_LOOPING wraps at the end, otherwise
// the buffer stops at its end and its position returns to 0.
int PlatDsBufferPlay(PLAT_DS_BUFFER* pBuf, uint32_t dwFlags);
// Stops; the position becomes the play cursor so that Play resumes with what was not yet heard.
int PlatDsBufferStop(PLAT_DS_BUFFER* pBuf);
// Either pointer may be NULL. Stopped buffer: play = write = position.
int PlatDsBufferGetCurrentPosition(PLAT_DS_BUFFER* pBuf, uint32_t* pPlay, uint32_t* pWrite);
// Moves a stopped or playing buffer to dwPos (rounded down to the block align); nothing committed.
int PlatDsBufferSetCurrentPosition(PLAT_DS_BUFFER* pBuf, uint32_t dwPos);
// Gives the bytes [off, off + bytes) as one or two regions (the second from the buffer's start when
// the range wraps; *ppv2 = NULL and *pn2 = 0 when it does not). DSBLOCK_FROMWRITECURSOR takes the
// write cursor as off; DSBLOCK_ENTIREBUFFER the whole buffer. DSERR_INVALIDPARAM when off >= size,
// bytes = 0 or bytes > size (without DSBLOCK_ENTIREBUFFER), or a pointer argument is missing
// (ppv2/pn2 may be NULL together; then a wrapping range is cut at the end).
int PlatDsBufferLock(PLAT_DS_BUFFER* pBuf, uint32_t dwOffset, uint32_t dwBytes, void** ppv1, uint32_t* pn1,
                     void** ppv2, uint32_t* pn2, uint32_t dwFlags);
// Hands back what Lock gave; DSERR_INVALIDPARAM for regions outside the buffer.
int PlatDsBufferUnlock(PLAT_DS_BUFFER* pBuf, void* pv1, uint32_t n1, void* pv2, uint32_t n2);
// Hundredths of a decibel, DSBVOLUME_MIN..MAX; gain 10^(v/2000), -10000 exactly 0.
// DSERR_CONTROLUNAVAIL without DSBCAPS_CTRLVOLUME, DSERR_INVALIDPARAM out of range.
int PlatDsBufferSetVolume(PLAT_DS_BUFFER* pBuf, int32_t nVolume);
int PlatDsBufferGetVolume(PLAT_DS_BUFFER* pBuf, int32_t* pVolume);
// DSBPAN_LEFT..RIGHT: the far side is attenuated by |pan| hundredths of a decibel (left gain
// 10^(min(0,-pan)/2000), right 10^(min(0,pan)/2000)); an attenuation of 10000 or more is exactly 0.
// DSERR_CONTROLUNAVAIL without DSBCAPS_CTRLPAN.
int PlatDsBufferSetPan(PLAT_DS_BUFFER* pBuf, int32_t nPan);
int PlatDsBufferGetPan(PLAT_DS_BUFFER* pBuf, int32_t* pPan);
// Playback rate in Hz, DSBFREQUENCY_MIN..MAX, or DSBFREQUENCY_ORIGINAL. Rates other than the
// output rate are resampled by linear interpolation. DSERR_CONTROLUNAVAIL without
// DSBCAPS_CTRLFREQUENCY.
int PlatDsBufferSetFrequency(PLAT_DS_BUFFER* pBuf, uint32_t nFrequency);
int PlatDsBufferGetFrequency(PLAT_DS_BUFFER* pBuf, uint32_t* pFrequency);
// DSBSTATUS_* bits.
int PlatDsBufferGetStatus(PLAT_DS_BUFFER* pBuf, uint32_t* pStatus);
// The size in bytes (after rounding) and the format.
int PlatDsBufferGetSize(PLAT_DS_BUFFER* pBuf, uint32_t* pBytes);
int PlatDsBufferGetFormat(PLAT_DS_BUFFER* pBuf, PLAT_WAVEFORMATEX* pFormat);
// Stops and frees the buffer; the handle is gone afterwards.
int PlatDsBufferRelease(PLAT_DS_BUFFER* pBuf);

// ---- sink selection and manual stepping ----
// "sdl", "null", "wav:<file>", "framewav:<file>" or "manual"; NULL returns to the KOLVEX_AUDIO variable (then sdl).
// Read by the next PlatDsCreate.
void PlatDsSetSinkOverride(const char* pszSink);
// Latency in output frames that the play cursor trails the write cursor by, for devices created
// afterwards with the manual sink (default 0). Other sinks use their own block size.
void PlatDsSetManualLatency(uint32_t nFrames);
// Manual sink: mixes nFrames output frames on the newest live manual device and appends them to
// its output record. DSERR_UNINITIALIZED when no manual device exists.
int PlatDsAdvance(uint32_t nFrames);
// framewav sink: mixes one frame's share of a second at nFps frames a second (48000 / nFps output
// frames, the remainder carried) on the newest live framewav device and appends it to its file.
// DSERR_UNINITIALIZED when there is no such device.
int PlatDsAdvanceFrame(int nFps);
// Takes up to nMaxFrames recorded frames (interleaved left, right) from the front of the manual
// device's output record; returns the frames copied. pOut may be NULL to discard.
size_t PlatDsReadOutput(int16_t* pOut, size_t nMaxFrames);
// Frames waiting in the manual device's output record.
size_t PlatDsOutputFrames(void);

// ---- the mixer itself (sinks call it; benchmarks and tests may too) ----
// Mixes nFrames output frames of every playing buffer of the device into pOut (interleaved s16
// stereo), advancing cursors. Takes the device mutex.
void PlatDsMix(PLAT_DS* pDs, int16_t* pOut, uint32_t nFrames);
// The latency of the device in output frames, and its sink name ("sdl", "null", "wav", "framewav",
// "manual").
uint32_t PlatDsGetLatency(PLAT_DS* pDs);
const char* PlatDsGetSinkName(PLAT_DS* pDs);

// ---- fake failures for tests ----
enum PLAT_DS_OP {
    PLATDS_OP_CREATE = 0,
    PLATDS_OP_SETCOOPERATIVELEVEL,
    PLATDS_OP_CREATEBUFFER,
    PLATDS_OP_PLAY,
    PLATDS_OP_STOP,
    PLATDS_OP_GETCURRENTPOSITION,
    PLATDS_OP_LOCK,
    PLATDS_OP_UNLOCK,
    PLATDS_OP_SETVOLUME,
    PLATDS_OP_SETPAN,
    PLATDS_OP_SETFREQUENCY,
    PLATDS_OP_COUNT
};
// The next nSkip calls of op succeed as usual, then nTimes calls fail with nCode (nTimes < 0: every
// call from then on). A failing call changes nothing. Setting an op again replaces its rule.
void PlatDsFailOp(int nOp, int nCode, int nSkip, int nTimes);
// Removes every fake failure.
void PlatDsClearFakeFailures(void);
