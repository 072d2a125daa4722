// The engine's outside codec libraries: zlib (ZURUV.DLL), Snappy (KXSNP.DLL), PNG decoding
// (VOZEZ.DLL) and WebP (VOROR.DLL). Start-up binds each entry point into a global pointer; every
// call passes plain buffers together with their sizes, and the libraries check them.
#pragma once
#include <cstddef>
#include <cstdint>

// zlib result codes as the callers see them.
enum { KX_Z_OK = 0, KX_Z_DATA_ERROR = -3, KX_Z_MEM_ERROR = -4, KX_Z_BUF_ERROR = -5 };

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
// VOZEZ.DLL ordinal 1 preload (name, file image and its size, width, height, alpha byte):
// 0, or non-zero (101, 102 and others) for a picture that does not decode.
typedef int (*KX_PNG_PRELOAD_FN)(const char* pszName, const uint8_t* pData, uint32_t nSize, int32_t* pWidth,
                                 int32_t* pHeight, uint8_t* pbNoAlpha);
// VOZEZ.DLL ordinal 2 load (pixels, height, row stride): B,G,R,A rows top-down; 0 or -1.
typedef int (*KX_PNG_LOAD_FN)(uint8_t* pPixels, int32_t nHeight, int32_t nStride);
// VOZEZ.DLL ordinal 3 end: releases what preload kept.
typedef void (*KX_PNG_END_FN)(void);
// VOROR.DLL ordinal 2 get info (data, size, width, height): 1 when it is a WebP picture, else 0.
typedef int (*KX_WEBP_INFO_FN)(const uint8_t* pData, uint32_t nSize, int32_t* pWidth, int32_t* pHeight);
// VOROR.DLL ordinal 3 decode (data, destination, data size, width, height): width x height B,G,R,A
// pixels, rows top-down; 1 on success, 0 when the data does not decode into exactly that size.
typedef int (*KX_WEBP_DECODE_FN)(const uint8_t* pData, uint8_t* pDst, uint32_t nSize, int32_t nWidth, int32_t nHeight);
// VOROR.DLL ordinal 4 encode (pixels, output, output capacity, width, height, method, quality 0..100 or
// -1 lossless): the encoded bytes written, 0 on failure.
typedef uint32_t (*KX_WEBP_ENCODE_FN)(const uint8_t* pPixels, uint8_t* pOut, uint32_t nOutCap, int32_t nWidth,
                                      int32_t nHeight, int nMethod, int nQuality);

extern KX_UNCOMPRESS_FN g_pfnUncompress;
extern KX_COMPRESS2_FN g_pfnCompress2;
extern KX_SNP_CODEC_FN g_pfnSnpUncompress;
extern KX_SNP_CODEC_FN g_pfnSnpCompress;
extern KX_SNP_MAXLEN_FN g_pfnSnpCompressedLength;
extern KX_SNP_ULEN_FN g_pfnSnpUncompressedLength;
extern KX_PNG_PRELOAD_FN g_pfnPngPreload;
extern KX_PNG_LOAD_FN g_pfnPngLoad;
extern KX_PNG_END_FN g_pfnPngEnd;
extern KX_WEBP_INFO_FN g_pfnWebPGetInfo;
extern KX_WEBP_DECODE_FN g_pfnWebPDecode;
extern KX_WEBP_ENCODE_FN g_pfnWebPEncode;
extern uint8_t g_bWebPLoaded;

// Binds ZURUV.DLL, VOZEZ.DLL and KXSNP.DLL, telling the player about what is missing; start-up
// goes on either way. 0.
int LoadCodecLibraries(void);
// Binds VOROR.DLL (optional, silent when missing). 0 when it loaded, -1 when not.
int LoadWebPDLL(void);
// Releases the libraries and clears every pointer.
void UnloadCodecLibraries(void);
