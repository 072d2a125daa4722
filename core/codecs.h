// The engine's outside codec libraries: zlib (ZURUV.DLL), Snappy (KXSNP.DLL), PNG decoding and
// encoding (VOZEZ.DLL), WebP (VOROR.DLL) and the Ogg Vorbis decoder (VORBISFILE.DLL). Start-up binds
// each entry point into a global pointer; every call passes plain buffers together with their sizes,
// and the libraries check them.
#pragma once
#include <cstddef>
#include <cstdint>

struct PLAT_OGG_DECODER;     // an open Ogg Vorbis decoder (platform/plat_modules.h)
struct PLAT_OGG_CALLBACKS;   // the byte source it reads through

// zlib result codes as the callers see them.
enum { KX_Z_OK = 0, KX_Z_STREAM_ERROR = -2, KX_Z_DATA_ERROR = -3, KX_Z_MEM_ERROR = -4, KX_Z_BUF_ERROR = -5 };
// Snappy result codes.
enum { KX_SNP_OK = 0, KX_SNP_INVALID_INPUT = 1, KX_SNP_BUFFER_TOO_SMALL = 2 };
// Ogg Vorbis decoder results: every failure is one of these negative codes. Their numbers are the
// ones the sound error box shows for a read that fails.
enum {
    KX_OGG_OK = 0,
    KX_OGG_FALSE = -1,
    KX_OGG_EOF = -2,
    KX_OGG_HOLE = -3,          // a gap in the data (a page is missing)
    KX_OGG_EREAD = -128,       // the source failed
    KX_OGG_EFAULT = -129,      // internal failure; also the decoder missing
    KX_OGG_EIMPL = -130,
    KX_OGG_EINVAL = -131,      // a bad call, or what a source that cannot seek does not know
    KX_OGG_ENOTVORBIS = -132,  // not Ogg Vorbis data
    KX_OGG_EBADHEADER = -133,
    KX_OGG_EVERSION = -134,
    KX_OGG_ENOTAUDIO = -135,
    KX_OGG_EBADPACKET = -136,
    KX_OGG_EBADLINK = -137,    // a damaged stream
    KX_OGG_ENOSEEK = -138,
};
// PNG preload results: 101 a damaged file (bad signature or header, a size whose w x h x 4 exceeds
// 32 bits, image data that does not decode), 102 a picture too large to hold (no memory for it; the
// loader gives it for a side above 8192 too), 103 any other failure (a bad call, the library missing).
enum { KX_PNG_OK = 0, KX_PNG_DAMAGED = 101, KX_PNG_TOO_LARGE = 102, KX_PNG_FAILED = 103 };

// ZURUV.DLL ordinal 1: uncompress. *pDstLen holds the capacity on entry, the bytes produced on return.
typedef int (*KX_UNCOMPRESS_FN)(uint8_t* pDst, uint32_t* pDstLen, const uint8_t* pSrc, uint32_t nSrcLen);
// ZURUV.DLL ordinal 2: compress2 with a level 0..9.
typedef int (*KX_COMPRESS2_FN)(uint8_t* pDst, uint32_t* pDstLen, const uint8_t* pSrc, uint32_t nSrcLen, int nLevel);
// KXSNP.DLL "KXSnp_Uncompress" / "KXSnp_Compress": 0 on success; *pDstLen capacity in, size out.
typedef int (*KX_SNP_CODEC_FN)(const uint8_t* pSrc, uint32_t nSrcLen, uint8_t* pDst, uint32_t* pDstLen);
// KXSNP.DLL "KXSnp_CompressedLength" (largest compressed size) and "KXSnp_UncompressedLength"
// (0 and the length, or -1 for data that is not Snappy).
typedef uint32_t (*KX_SNP_MAXLEN_FN)(uint32_t nSrcLen);
typedef int (*KX_SNP_ULEN_FN)(const uint8_t* pSrc, uint32_t nSrcLen, uint32_t* pLen);
// VOZEZ.DLL ordinal 1 preload (name, file image and its size, width, height, alpha byte): decodes the
// picture and keeps it for the calling thread (two threads may decode at once). 0 with the size and
// the alpha byte (0 when the picture has alpha: a colour type with alpha, or tRNS; else 1), or
// non-zero (KX_PNG_DAMAGED, KX_PNG_TOO_LARGE, KX_PNG_FAILED) for a picture that does not decode.
typedef int (*KX_PNG_PRELOAD_FN)(const char* pszName, const uint8_t* pData, uint32_t nSize, int32_t* pWidth,
                                 int32_t* pHeight, uint8_t* pbNoAlpha);
// VOZEZ.DLL ordinal 2 load (pixels, height, row stride): B,G,R,A rows top-down; 0, or -1 when
// nothing was preloaded on this thread, the height is not the picture's or the stride < width x 4.
typedef int (*KX_PNG_LOAD_FN)(uint8_t* pPixels, int32_t nHeight, int32_t nStride);
// VOZEZ.DLL ordinal 3 end: releases what preload kept.
typedef void (*KX_PNG_END_FN)(void);
// VOZEZ.DLL ordinal 4 save (pixels, width, height, row stride, has-alpha byte, zlib level 0..9,
// output buffer, pointer to output length): writes a whole PNG file (RGBA with alpha, else RGB) from
// B,G,R,A rows top-down into the buffer. *pOutLen: capacity in, file size out. 0; KX_Z_BUF_ERROR
// when the capacity is too small (*pOutLen then holds the size needed); -1 for a bad call or a
// library failure. KxPngSaveBound gives a capacity that is always enough.
typedef int (*KX_PNG_SAVE_FN)(const uint8_t* pPixels, int32_t nWidth, int32_t nHeight, int32_t nStride,
                              uint8_t bHasAlpha, int nLevel, uint8_t* pOut, uint32_t* pOutLen);
// VOZEZ.DLL ordinal 5 decode into (name, file image and its size, width, height, alpha byte, buffer
// function, row function, context): preload, load and end in one call, the rows decoded straight
// into the caller's buffer. After the header, pfnBuffer (context, width, height) gives the buffer
// for width x 4 x height bytes of rows top-down (stride width x 4), or NULL to stop (the result is
// then -1); pfnRow (context, row, width), when not NULL, is called for each finished row while it is
// still in the cache. The results of preload otherwise; after a failure the buffer's contents are
// undefined (it still belongs to the caller).
typedef uint8_t* (*KX_PNG_BUFFER_FN)(void* pContext, int32_t nWidth, int32_t nHeight);
typedef void (*KX_PNG_ROW_FN)(void* pContext, uint8_t* pRow, int32_t nWidth);
typedef int (*KX_PNG_DECODE_INTO_FN)(const char* pszName, const uint8_t* pData, uint32_t nSize, int32_t* pWidth,
                                     int32_t* pHeight, uint8_t* pbNoAlpha, KX_PNG_BUFFER_FN pfnBuffer,
                                     KX_PNG_ROW_FN pfnRow, void* pContext);
inline uint64_t KxPngSaveBound(int32_t nWidth, int32_t nHeight)
{
    const uint64_t nRaw = (nWidth > 0 && nHeight > 0) ? static_cast<uint64_t>(nHeight) * (static_cast<uint64_t>(nWidth) * 4 + 1) : 0;
    return nRaw + nRaw / 4 + 4096;
}
// VOROR.DLL ordinal 1 version (bound, not called): the decoder's version number.
typedef int (*KX_WEBP_VERSION_FN)(void);
// VOROR.DLL ordinal 2 get info (data, size, width, height): 1 when it is a WebP picture, else 0
// with a size of 0 x 0.
typedef int (*KX_WEBP_INFO_FN)(const uint8_t* pData, uint32_t nSize, int32_t* pWidth, int32_t* pHeight);
// VOROR.DLL ordinal 3 decode (data, destination, data size, width, height): width x height B,G,R,A
// pixels, rows top-down; 1 on success, 0 when the data does not decode into exactly that size.
typedef int (*KX_WEBP_DECODE_FN)(const uint8_t* pData, uint8_t* pDst, uint32_t nSize, int32_t nWidth, int32_t nHeight);
// VOROR.DLL ordinal 5 decode rows (data, destination, data size, width, height, alpha byte, rows
// function, context): decodes as ordinal 3 and sets the alpha byte to 1 when the picture may have
// alpha (an alpha chunk, or lossless), else 0 and every alpha byte is 255. For the former, pfnRows (context, first row, row count,
// width), when not NULL, is called on each band of finished rows while it is still in the cache,
// every row once, top to bottom. 1, or 0 as ordinal 3.
typedef void (*KX_WEBP_ROWS_FN)(void* pContext, uint8_t* pRows, int32_t nRows, int32_t nWidth);
typedef int (*KX_WEBP_DECODE_ROWS_FN)(const uint8_t* pData, uint8_t* pDst, uint32_t nSize, int32_t nWidth,
                                      int32_t nHeight, uint8_t* pbHasAlpha, KX_WEBP_ROWS_FN pfnRows, void* pContext);
// VOROR.DLL ordinal 4 encode (pixels, output, output capacity, width, height, method, quality 0..100 or
// -1 lossless, method 0..6): the encoded bytes written, 0 on failure, also when they would not fit
// the output capacity.
typedef uint32_t (*KX_WEBP_ENCODE_FN)(const uint8_t* pPixels, uint8_t* pOut, uint32_t nOutCap, int32_t nWidth,
                                      int32_t nHeight, int nMethod, int nQuality);
// VORBISFILE.DLL "KXOgg_Open" (source, its callbacks, decoder out): reads the stream headers through
// the callbacks; 0 with the decoder, or a negative code with NULL (the source's close is not called).
typedef int (*KX_OGG_OPEN_FN)(void* pSource, const PLAT_OGG_CALLBACKS* pCallbacks, PLAT_OGG_DECODER** ppDecoder);
// "KXOgg_Info" (decoder, channels, sample rate): 0, or KX_OGG_EINVAL with both 0.
typedef int (*KX_OGG_INFO_FN)(PLAT_OGG_DECODER* pDecoder, int32_t* pnChannels, int64_t* pllRate);
// "KXOgg_Streams": the logical streams one after the other in the file (1 for a plain file).
typedef int32_t (*KX_OGG_STREAMS_FN)(PLAT_OGG_DECODER* pDecoder);
// "KXOgg_Seekable": 1 when the source can seek, else 0.
typedef int (*KX_OGG_SEEKABLE_FN)(PLAT_OGG_DECODER* pDecoder);
// "KXOgg_TimeTotal": the length of the whole file in seconds, or a negative code.
typedef double (*KX_OGG_TIME_TOTAL_FN)(PLAT_OGG_DECODER* pDecoder);
// "KXOgg_PcmSeek" (decoder, sample frame) and "KXOgg_TimeSeek" (decoder, seconds): 0, or a
// negative code.
typedef int (*KX_OGG_PCM_SEEK_FN)(PLAT_OGG_DECODER* pDecoder, int64_t llFrame);
typedef int (*KX_OGG_TIME_SEEK_FN)(PLAT_OGG_DECODER* pDecoder, double dSeconds);
// "KXOgg_PcmTell": the sample frame the next read starts at, or a negative code.
typedef int64_t (*KX_OGG_PCM_TELL_FN)(PLAT_OGG_DECODER* pDecoder);
// "KXOgg_Read" (decoder, destination, capacity in bytes): interleaved 16-bit signed little-endian
// samples; the bytes written (0 at the end of the data), or a negative code (KX_OGG_HOLE,
// KX_OGG_EBADLINK, ...).
typedef int32_t (*KX_OGG_READ_FN)(PLAT_OGG_DECODER* pDecoder, uint8_t* pDst, int32_t nBytes);
// "KXOgg_Close": ends the decoder and calls the source's close (NULL is allowed).
typedef void (*KX_OGG_CLOSE_FN)(PLAT_OGG_DECODER* pDecoder);

extern KX_UNCOMPRESS_FN g_pfnUncompress;
extern KX_COMPRESS2_FN g_pfnCompress2;
extern KX_SNP_CODEC_FN g_pfnSnpUncompress;
extern KX_SNP_CODEC_FN g_pfnSnpCompress;
extern KX_SNP_MAXLEN_FN g_pfnSnpCompressedLength;
extern KX_SNP_ULEN_FN g_pfnSnpUncompressedLength;
extern KX_PNG_PRELOAD_FN g_pfnPngPreload;
extern KX_PNG_LOAD_FN g_pfnPngLoad;
extern KX_PNG_END_FN g_pfnPngEnd;
extern KX_PNG_SAVE_FN g_pfnPngSave;
extern KX_PNG_DECODE_INTO_FN g_pfnPngDecodeInto;   // NULL when the library lacks it
extern KX_WEBP_VERSION_FN g_pfnWebPGetVersion;
extern KX_WEBP_INFO_FN g_pfnWebPGetInfo;
extern KX_WEBP_DECODE_FN g_pfnWebPDecode;
extern KX_WEBP_DECODE_ROWS_FN g_pfnWebPDecodeRows;   // NULL when the library lacks it
extern KX_WEBP_ENCODE_FN g_pfnWebPEncode;
extern KX_OGG_OPEN_FN g_pfnOggOpen;
extern KX_OGG_INFO_FN g_pfnOggInfo;
extern KX_OGG_STREAMS_FN g_pfnOggStreams;
extern KX_OGG_SEEKABLE_FN g_pfnOggSeekable;
extern KX_OGG_TIME_TOTAL_FN g_pfnOggTimeTotal;
extern KX_OGG_PCM_SEEK_FN g_pfnOggPcmSeek;
extern KX_OGG_TIME_SEEK_FN g_pfnOggTimeSeek;
extern KX_OGG_PCM_TELL_FN g_pfnOggPcmTell;
extern KX_OGG_READ_FN g_pfnOggRead;
extern KX_OGG_CLOSE_FN g_pfnOggClose;
extern uint8_t g_bWebPLoaded;
extern uint8_t g_bSnpLoaded;   // KXSNP.DLL loaded (start-up cannot go on without it)

// Binds ZURUV.DLL, VOZEZ.DLL and KXSNP.DLL, telling the player about what is missing, then
// VORBISFILE.DLL quietly; start-up goes on either way. 0. Every pointer above is callable at all
// times, before start-up and after shut-down too: a missing library or entry is bound to a stand-in
// that fails (zlib -2, or -4 for compress2, with a length of 0; Snappy 1 and a length of 0,
// compressed length 0, uncompressed length -1; PNG preload KX_PNG_FAILED, load -1, save -1; WebP
// info 0 with 0 x 0, decode 0, encode 0; Ogg open KX_OGG_EFAULT with no decoder, and the rest fail
// for the decoder they never get). The Ogg decoder binds all or nothing: with an entry missing,
// none is bound.
int LoadCodecLibraries(void);
// Binds VOROR.DLL (optional, silent when missing). 0 when it loaded, -1 when not.
int LoadWebPDLL(void);
// Binds VORBISFILE.DLL when it is not bound yet (quietly; the stand-ins stay when it is missing).
// The first Ogg open binds it too, so callers that never ran start-up (tools, tests) decode as well.
// 0 when the decoder is bound, -1 when not.
int LoadOggDecoder(void);
// Releases the libraries and puts every pointer back to its failing stand-in; the Ogg open goes
// back to binding on its first call.
void UnloadCodecLibraries(void);
