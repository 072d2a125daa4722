// The sound subsystem: the channel record that every node of the sound tree carries, the request
// ring through which the script side drives the sound thread, and the functions of the sound thread,
// the channels and their levels. Everything that touches a channel runs on the sound thread inside a
// pass that holds the engine lock; posters and queries take the lock per post or read.
// Sound functions return 0 or a positive value on success and a negative code on failure; only the
// sound thread turns a code into its message box and stops the engine.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include "platform/plat_audio.h"   // PLAT_DS (the device), PLAT_DS_BUFFER, PLAT_WAVEFORMATEX

struct TREE_NODE;
struct PLAT_OGG_DECODER;   // an open Ogg Vorbis decoder (platform/plat_modules.h, core/codecs.h)

// ---------------------------------------------------------------------------------------------
// Constants

// Source kinds (set by the sound command before LOAD).
enum : uint8_t {
    SNDSRC_NONE = 0,
    SNDSRC_OGG = 1,
    SNDSRC_WAV = 2,
};

// Decoded forms.
enum : uint8_t {
    SNDFORM_PCM_WAV = 0,        // PCM WAV used as stored in the file image
    SNDFORM_OGG = 1,            // Ogg Vorbis decoded on the fly
    SNDFORM_CONVERTED_WAV = 2,  // non-PCM WAV converted to PCM at load
};

// Channel states.
enum : uint8_t {
    SNDSTATE_EMPTY = 0,
    SNDSTATE_LOADED = 1,
    SNDSTATE_FADEIN = 2,
    SNDSTATE_PLAYING = 3,
    SNDSTATE_FADEOUT = 4,
};

// Sizes.
enum : int32_t {
    SND_NAME_SIZE = 261,              // file name buffer of a channel (and of a ring entry)
    SND_CARRY_SIZE = 4096,            // carry buffer; also the extra bytes of the staging buffer
    SND_READ_CHUNK = 4096,            // largest single decoder read
    SND_SILENCE_ORDER = 999999999,    // order key of the node that plays the built-in silence
    SND_SILENCE_IMAGE_SIZE = 4044,    // RIFF image of half a second of 8-bit 8000 Hz silence
};

// The request ring.
enum : int32_t {
    SNDREQ_RING_SIZE = 1024,          // entries; at most 1023 pending
    SNDREQ_TEXT_SIZE = SND_NAME_SIZE, // text buffer of one entry (a resolved file name fits)
};

// Request codes (the value or text each takes).
enum : uint8_t {
    SNDREQ_LOAD = 1,         // text: resolved file name
    SNDREQ_PLAY = 2,         // value: fade-in ms
    SNDREQ_PAUSE = 3,        // value: 1 pause, 0 resume
    SNDREQ_FADEOUT = 4,      // value: fade ms
    SNDREQ_VOLUME = 5,       // value: volume 0..256
    SNDREQ_FADE_TARGET = 6,  // value: volume 0..256
    SNDREQ_LOOP_COUNT = 7,   // value: plays, 0 endless
    SNDREQ_END_POS = 8,      // value: ms
    SNDREQ_START_POS = 9,    // value: ms
    SNDREQ_LOOP_START = 10,  // value: ms
    SNDREQ_PAN = 11,         // value: 0..512, 256 centre
    SNDREQ_FREQUENCY = 12,   // value: 0..512, 256 the recorded rate
    SNDREQ_NOP = 13,         // value: any
    SNDREQ_UNLOAD = 14,      // none
    SNDREQ_CODE_COUNT = 15,  // size of the op table (entry 0 unused)
};

// Sound thread states (g_bSoundThreadState, core/startup.h).
enum : uint8_t {
    SNDTHREAD_RUNNING = 0,
    SNDTHREAD_ENDED = 1,
    SNDTHREAD_NOT_STARTED = 0xFF,
};

// Sound modes (g_nSoundMode, script/engine_config.h).
enum : int {
    SNDMODE_OFF = 0,
    SNDMODE_ON = 1,
    SNDMODE_REQUIRED = 2,
};

// Error code with a message of its own and no number in it: a chained Ogg file.
enum : int32_t { SNDERR_OGG_CHAINED = -1045 };

// ---------------------------------------------------------------------------------------------
// Records

// The payload of every node of the sound tree, groups included (a group's own channel is never
// loaded; only its volume, enabled and pause flags count). Allocate with `new SOUND_CHANNEL()` so
// that every field starts cleared.
struct SOUND_CHANNEL {
    char szName[SND_NAME_SIZE];      // resolved file name; " " for "ROOT"; cleared by UNLOAD
    uint8_t bSourceKind;             // SNDSRC_*
    uint8_t bEnabled;                // 1 or 0 (default 1)
    uint8_t bDecodedForm;            // SNDFORM_*
    std::atomic<uint8_t> bState;     // SNDSTATE_*; written under the lock, polled by waiters
    uint8_t bPaused;                 // the node's own pause (request PAUSE)
    int32_t nPlaysRequested;         // plays after which the channel stops; 0 endless
    int32_t nPlaysDone;              // passes through the end position counted by the tracker
    int32_t nDecoderLoops;           // plays the decoder still has to produce: 0 endless, 1 last
    int64_t llBytesPlayed;           // play cursor in PCM bytes from the start of the sound
    int64_t llLength;                // length in ms
    int32_t nStartPos;               // ms; where PLAY starts; the position at a pause
    int32_t nLoopStart;              // ms
    uint32_t dwPauseStamp;           // time of the pause; 0 when not paused (paused exactly while set)
    int32_t nEndPos;                 // ms; the length after a load
    int32_t nActiveLoopStart;        // ms; loop start in force when the decoder last wrapped
    int32_t nActiveLoopEnd;          // ms; end in force when the decoder last wrapped; 0 none
    int32_t nWrapsAhead;             // decoder wraps the play cursor has not passed yet
    int32_t nPan;                    // 0..512, 256 centre
    int32_t nFrequency;              // 0..512, 256 the recorded rate
    int32_t nVolume;                 // current volume 0..256 (default 256)
    int32_t nFadeStart;              // volume at the start of the fade (default 0)
    int32_t nFadeTarget;             // default 256
    int32_t nRefVolume;              // previous target (default 256)
    int32_t nFadeMs;                 // duration of the fade
    int32_t nFadeSpeed;              // volume units per 1024 ms
    uint32_t dwFadeClock;            // time at the start of the fade
    uint32_t dwFadeDone;             // set when the fade reached its target; 0 otherwise
    uint8_t* pFileImage;             // the whole file (after a conversion: the converted PCM)
    uint8_t* pStaging;               // half a buffer + SND_CARRY_SIZE bytes
    uint8_t* pCarry;                 // SND_CARRY_SIZE bytes decoded beyond the last half
    uint32_t dwFillOffset;           // 0 (first half) or half the buffer (second half)
    uint32_t dwLastPlayCursor;       // play cursor seen by the last tracking
    int32_t nDecoderBytePos;         // decoder position in PCM bytes; negative while silence remains
    uint8_t bLastHalf;               // 1 or 2: the half written last
    int32_t nDecoderPos;             // Ogg: PCM sample position; WAV: byte offset into the PCM data
    int32_t nCarryBytes;             // bytes waiting in the carry buffer
    int64_t llPendingSilence;        // bytes of silence still to write before the data
    int64_t llBytesPerSec;           // sample rate x block align
    PLAT_DS_BUFFER* pBuffer;         // NULL when none
    int32_t nReadPos;                // cursor of the Ogg memory callbacks in the file image
    int32_t nFileSize;               // size of the file image
    uint8_t* pPcmData;               // WAV: first sample byte (in the file image or converted PCM)
    uint32_t dwPcmSize;              // WAV: bytes of PCM data
    uint32_t dwBufferBytes;          // one second: equal to bytes per second
    PLAT_WAVEFORMATEX fmt;           // the buffer's format (tag 1, cbSize 0)
};

// A request handler: takes the ring index of its request; negative error, 0 not finished (kept,
// draining stops for this pass), positive done.
typedef int (*SOUND_OP_FN)(int32_t nEntry);

// ---------------------------------------------------------------------------------------------
// Globals

// The output device, or NULL: channels are still loaded, parsed and tracked, but no buffer is made
// and every buffer operation is skipped.
extern PLAT_DS* g_lpDirectSound;
// 1 while every sound is paused because the engine is paused or the main window is not active.
// Written under the engine lock.
extern uint8_t g_bSoundsPaused;

// The request ring: five parallel arrays of SNDREQ_RING_SIZE entries, allocated once by
// InitSoundRequests and never freed.
extern TREE_NODE** g_apSndReqNode;            // node of the request; NULL completes without a handler
extern uint8_t* g_abSndReqCode;               // SNDREQ_*
extern char** g_apszSndReqText;               // one SNDREQ_TEXT_SIZE buffer per entry
extern int32_t* g_anSndReqValue;              // integer argument
extern std::atomic<int32_t>* g_anSndReqDone;  // 0 when posted, 1 when executed
// Next entry to post (posters) and next entry to execute (sound thread); written under the lock.
extern std::atomic<int32_t> g_nSndReqWrite;
extern std::atomic<int32_t> g_nSndReqRead;
// Request handlers by code (entry 0 unused), filled by InitSoundRequests.
extern SOUND_OP_FN g_apfnSoundOps[SNDREQ_CODE_COUNT];

// ---------------------------------------------------------------------------------------------
// Sound thread, device and ring

// Opens the output device into g_lpDirectSound with priority cooperation; 1, or 0 (with a box for
// the known creation failures, 110010 when the cooperative level fails).
int InitDirectSound(void);
// With a sound mode other than 0: back to normal cooperation, releases the device, NULL.
void ReleaseDirectSound(void);
// Allocates the ring (once) and fills g_apfnSoundOps; 0, or -1 without memory.
int InitSoundRequests(void);
// Starts the sound thread below normal priority; 0, or -1 when it cannot start.
int StartSoundThread(void);
// InitSoundRequests, StartSoundThread, then (sound mode not 0) CreateSoundRoot; -1 when that fails.
int StartSoundSystem(void);
// Creates "ROOT" (order SND_SILENCE_ORDER) with a channel and posts VOLUME 2, LOAD " ", PLAY 0.
int CreateSoundRoot(void);
// Posts one request under the lock; the entry index, or -1 (after 110200) when the ring is full.
int32_t PostSoundRequest(TREE_NODE* pNode, uint8_t bCode, int32_t nValue, const char* pszText);
// Waits outside the lock until entry nEntry is done; 0, or -1 when the sound thread has ended or
// the engine stops first (also for a negative nEntry).
int WaitSoundRequest(int32_t nEntry);
// Stops the channel's buffer when a device and a buffer exist; 1 then, else 0.
int StopChannelBuffer(SOUND_CHANNEL* pChannel);
// The sound thread: state 0, RunSoundLoop, StopAllSounds, state 1.
int SoundThreadProc(void* pArg);
// Passes until the engine stops or an error; the error box is shown here. 0, or the error code.
int RunSoundLoop(void);
// One pass without its sleep (tests drive the sound thread with it): 1 go on, 0 the engine stops,
// negative the error that ends the loop.
int RunSoundPassOnce(void);
// Pauses or resumes the whole tree by the engine pause, the background switch and window focus.
void ApplySoundFocusPause(void);
// Executes pending requests in posting order; 0, or the first handler error.
int DrainSoundRequests(void);
// After the loop: holds the lock 20 ms, then unloads every channel of the sound tree.
void StopAllSounds(void);
// Writes the message of a sound error code into pszOut (cp932, at most nSize bytes with the zero).
void FormatSoundError(int32_t nCode, char* pszOut, size_t nSize);
// Shows the error box "DEBUG Message" for a code and sets the engine stop flag.
void ShowSoundError(int32_t nCode);
// The start-up and shut-down steps of the sound device: 0, or non-zero when no device opens.
int InitDirectSoundHook(void);
void ReleaseDirectSoundHook(void);

// ---------------------------------------------------------------------------------------------
// Channels and streaming

// Allocates a cleared channel with the defaults as the node's payload; NULL (100010) without memory.
SOUND_CHANNEL* AttachSoundChannel(TREE_NODE* pNode);
// Unloads and frees a channel when the sound tree is freed.
void ReleaseSoundChannel(SOUND_CHANNEL* pChannel);
// The node's volume scaled by its enabled flag and every ancestor below the tree root.
int32_t GetEffectiveVolume(TREE_NODE* pNode);
// Reads the file (or builds the built-in silence) into the file image, then DecodeChannelSource.
int OpenSoundSource(TREE_NODE* pNode);
// Parses the file image by source kind and builds the buffers (nothing with sound mode 0).
int DecodeChannelSource(SOUND_CHANNEL* pChannel);
// Checks an Ogg Vorbis image (one seekable stream), takes its length and makes the buffers.
int OpenOggChannel(SOUND_CHANNEL* pChannel);
// Parses a WAV image, converts non-PCM data to PCM, takes its length and makes the buffers.
int OpenWAVChannel(SOUND_CHANNEL* pChannel);
// Walks the RIFF chunks of a PCM WAV image for the format and the PCM data.
int FindWAVChunks(SOUND_CHANNEL* pChannel);
// Maps a conversion result to a sound error code (0 for success).
int MapACMError(int32_t nResult);
// Sets the format, allocates the carry and staging buffers and (with a device) a one-second buffer.
int CreateChannelBuffer(SOUND_CHANNEL* pChannel, uint16_t nChannels, uint32_t nRate,
                        uint32_t nAvgBytes, uint16_t nBlockAlign, uint16_t nBits);
// Fills the half at the fill offset by source kind.
int FillChannelHalf(SOUND_CHANNEL* pChannel);
// Opens the Ogg stream, seeks to the decoder position, decodes a half, closes, writes it.
int FillOggHalf(SOUND_CHANNEL* pChannel);
// Copies a half of PCM WAV data and writes it.
int FillWAVHalf(SOUND_CHANNEL* pChannel);
// Decodes half a buffer into the staging buffer (carry, silence, end position, loop wrap).
int DecodeOggHalf(SOUND_CHANNEL* pChannel, PLAT_OGG_DECODER* pDecoder);
// The WAV twin of DecodeOggHalf, copying from the PCM data.
int CopyWAVHalf(SOUND_CHANNEL* pChannel);
// Locks the buffer at the fill offset for half the buffer and copies the staging bytes in.
int WriteSoundHalf(SOUND_CHANNEL* pChannel);
// Seeks the decoder to a position in ms by source kind.
int SeekChannel(SOUND_CHANNEL* pChannel, int32_t nMs);
// Opens the Ogg stream, seeks it to nMs and closes it again.
int OpenOggAndSeek(SOUND_CHANNEL* pChannel, int32_t nMs);
// Seeks an open Ogg stream to nMs (leading silence for a negative position).
int SeekOggChannel(SOUND_CHANNEL* pChannel, PLAT_OGG_DECODER* pDecoder, int32_t nMs);
// Seeks the WAV data to nMs (leading silence for a negative position).
int SeekWAVChannel(SOUND_CHANNEL* pChannel, int32_t nMs);
// Stops and releases the buffer, frees every buffer and the file image, clears the pause stamp.
void UnloadChannel(SOUND_CHANNEL* pChannel);
// Stops and releases the buffer and frees staging and carry; the file image stays.
void ReleaseChannelBuffers(SOUND_CHANNEL* pChannel);
// UnloadChannel on every node of a sibling list and every group's subtree.
void UnloadSoundTree(TREE_NODE* pFirst);
// Advances bytes played by the play cursor's progress and ends or loops channels at their end.
int TrackSoundPlayback(TREE_NODE* pFirst);
// Refills the half the write cursor has left, for every playing channel of the list and subtrees.
int RefillSoundBuffers(TREE_NODE* pFirst);
// The Ogg decoder's source callbacks over a channel's file image (the source is the channel).
size_t OggMemRead(void* pDest, size_t nSize, size_t nCount, void* pSource);
int OggMemSeek(void* pSource, int64_t llOffset, int nWhence);
long OggMemTell(void* pSource);
int OggMemClose(void* pSource);

// ---------------------------------------------------------------------------------------------
// Levels, fades, pausing and request handlers

// The volume law: 0 (or below) -> -10000, else trunc(log10(v / 256) x 4000), clamped to -10000..0.
int32_t SoundVolumeToBuffer(int32_t nVolume);
// The pan law: 0 full left (-10000), 256 centre, 512 full right (+10000); outside 0..512 centre.
int32_t SoundPanToBuffer(int32_t nPan);
// The frequency law: rate + (f - 256) x (rate / 2) / 256; f outside 0..512 counts as 256.
uint32_t SoundFrequencyToRate(int32_t nFrequency, uint32_t nRate);
// Sets the node's buffer volume from a volume 0..256 by the volume law (when a buffer exists).
void SetBufferVolume(TREE_NODE* pNode, int32_t nVolume);
// Applies a volume to a leaf (scaled by its parent) or to every node below a group.
void SetChannelVolume(TREE_NODE* pNode, int32_t nVolume);
// Gives every node of a sibling list (and every group's subtree) its effective volume.
void ApplySoundVolumeTree(TREE_NODE* pFirst);
// Silences a node: a leaf gets volume 0, a group re-applies its children's volumes.
void SilenceSoundNode(TREE_NODE* pNode);
// Mutes a node: a leaf gets volume 2 scaled by its parent, a group re-applies its children's volumes.
void MuteSoundNode(TREE_NODE* pNode);
// Applies a pan 0..512 to the channel's buffer (the caller stores it).
void SetChannelPan(SOUND_CHANNEL* pChannel, int32_t nPan);
// Applies a frequency 0..512 to the channel's buffer relative to its recorded rate.
void SetChannelFrequency(SOUND_CHANNEL* pChannel, int32_t nFrequency);
// Advances the volume fades of every channel in states 2 and 4 of a list and its subtrees.
int StepSoundFades(TREE_NODE* pFirst);
// Pauses (1) or resumes (0) every node of a sibling list and every group's subtree; first error.
int PauseSoundTree(TREE_NODE* pFirst, int32_t nValue);
// Pauses or resumes the node and, for a group, its subtree.
int PauseSoundNode(TREE_NODE* pNode, int32_t nValue);
// 1 pauses; 0 resumes when the chain is enabled and not paused by a script; else nothing.
int PauseOrResumeChannel(TREE_NODE* pNode, int32_t nValue);
// Releases a playing channel's buffers and keeps its position and file image; stamps the pause.
int PauseChannel(TREE_NODE* pNode);
// Rebuilds a paused channel's buffers from the file image at its position and plays it.
int ResumeChannel(TREE_NODE* pNode);
// 1 when the node and every ancestor below the tree root are enabled.
int IsChannelChainEnabled(TREE_NODE* pNode);
// 1 when the node or an ancestor below the tree root carries its own pause flag.
int IsChannelChainPaused(TREE_NODE* pNode);

// Request handlers (see the SNDREQ_* codes).
int SoundOpLoad(int32_t nEntry);
int SoundOpPlay(int32_t nEntry);
int SoundOpPause(int32_t nEntry);
int SoundOpFadeOut(int32_t nEntry);
int SoundOpVolume(int32_t nEntry);
int SoundOpFadeTarget(int32_t nEntry);
int SoundOpLoopCount(int32_t nEntry);
int SoundOpEndPos(int32_t nEntry);
int SoundOpStartPos(int32_t nEntry);
int SoundOpLoopStart(int32_t nEntry);
int SoundOpPan(int32_t nEntry);
int SoundOpFrequency(int32_t nEntry);
int SoundOpNop(int32_t nEntry);
int SoundOpUnload(int32_t nEntry);

// ---------------------------------------------------------------------------------------------
// Waiting for the sound thread (posters wait outside the lock)

// 1 when a wait for the sound thread must end: the engine stops, the thread has ended, or it never
// started and no test driver runs passes in its place.
int IsSoundWaitOver(void);
// One step of a wait: the test driver when one is set, else a 1 ms sleep.
void IdleSoundWait(void);
// Tests: a function that every wait step runs in place of the sleep (typically one sound pass);
// NULL returns to sleeping.
typedef void (*SOUND_WAIT_IDLE_FN)(void);
void SetSoundWaitIdle(SOUND_WAIT_IDLE_FN pfnIdle);
