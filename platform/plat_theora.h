// "THEORALIB.DLL": Theora movie decoding behind 24 named entries, over libtheora (decoder),
// libvorbis and libogg. The module is registered with the others (platform/plat_modules.h); the
// engine binds the entries by name when a movie starts and releases the module when it stops.
//
// Video ("theoralib_m_*"): a decoder made by m_create reads a whole Ogg file through the caller's
// callbacks in m_load, takes the first Theora stream and decodes frame n on request into the
// caller's frame buffer as 32-bit B,G,R,A pixels (alpha 255), converting BT.601 Y'CbCr (4:2:0,
// 4:2:2 and 4:4:4, the picture offset honoured). Decoding runs forward; a request for an earlier
// frame starts again from the first frame. Frame n is the stream's n-th frame (a zero-length
// packet repeats the frame before it and counts as a frame).
//
// Audio ("theoralib_w_*"): a decoder made by w_create takes the first Vorbis stream of the same
// file in w_load and plays it through the engine's mixer as a streaming voice on the device set by
// PlatTheoraSetAudioDevice (none: silent). w_nowsample gives the samples played since w_load: the
// voice's progress, or without a voice the time since w_load at the stream's rate. The voice is
// kept filled by every m_decodeframe and w_nowsample call.
//
// The other fifteen names exist and return 0; the engine never calls them.
#pragma once
#include <cstdint>

struct PLAT_DS;

// Callbacks the engine gives the library.
// read (source data, destination, position, count): copies min(count, size - position) bytes and
// returns that number (0 at or after the end).
typedef int32_t (*THEORA_READ_FN)(void* pData, void* pDest, int64_t llPos, int32_t nCount);
// size (): the number of bytes of the source.
typedef int64_t (*THEORA_SIZE_FN)(void);
// row (decoder, row number): the first byte of that row of the frame buffer (NULL: skip the row).
typedef uint8_t* (*THEORA_ROW_FN)(void* hVideo, int32_t nRow);
// resize (decoder, width, height): makes the frame buffer that size; 0, or non-zero on failure.
typedef int32_t (*THEORA_RESIZE_FN)(void* hVideo, int32_t nWidth, int32_t nHeight);

// The entries the engine calls.
typedef void* (*THEORA_M_CREATE_FN)(void);
typedef int32_t (*THEORA_M_FREE_FN)(void* hVideo);
// 1 rows top-down (the first row the picture's top), 0 bottom-up. 0.
typedef int32_t (*THEORA_M_SETVREVERS_FN)(void* hVideo, int32_t bTopDown);
// (decoder, source data, read, size, frame buffer, row, resize, reserved 0): reads the file, takes
// the first Theora stream, calls resize with the picture size. 0, or a negative code: -1 bad
// arguments, -2 no Theora stream or damaged headers, -3 resize refused, -4 no memory.
typedef int32_t (*THEORA_M_LOAD_FN)(void* hVideo, void* pData, THEORA_READ_FN pfnRead, THEORA_SIZE_FN pfnSize,
                                    void* pFrame, THEORA_ROW_FN pfnRow, THEORA_RESIZE_FN pfnResize, int32_t nReserved);
// The number of frames (0 before a successful load).
typedef int32_t (*THEORA_M_TOTALFRAME_FN)(void* hVideo);
// 1 when frame n was decoded into the frame buffer; 0 when n is the frame shown last, outside
// 0..total-1, or the stream is damaged there.
typedef int32_t (*THEORA_M_DECODEFRAME_FN)(void* hVideo, int32_t nFrame);
typedef void* (*THEORA_W_CREATE_FN)(void);
typedef int32_t (*THEORA_W_FREE_FN)(void* hAudio);
// (decoder, source data, read, size): takes the first Vorbis stream and starts its voice. 0, or -2
// when the file has no usable Vorbis stream (the decoder then stays silent and counts nothing).
typedef int32_t (*THEORA_W_LOAD_FN)(void* hAudio, void* pData, THEORA_READ_FN pfnRead, THEORA_SIZE_FN pfnSize);
typedef int64_t (*THEORA_W_NOWSAMPLE_FN)(void* hAudio);

// The device that audio decoders loaded from now on play on (NULL: silent).
void PlatTheoraSetAudioDevice(PLAT_DS* pDs);
// The largest picture side m_load accepts; larger pictures are refused as damaged.
enum { PLAT_THEORA_MAX_SIDE = 16384 };
