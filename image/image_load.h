// Loading image files into layers: the name is resolved to a file in any file source, read whole and
// decoded by its file type into the layer's B,G,R,A pixels (BMP, PNG, JPEG, GIF, KCG, WebP; PSB as
// an E-mote placeholder; PSD refused). After every load each pixel of alpha 0 reads 0x00808080.
//
// Every size read from a file is checked (1..KX_MAX_IMAGE_SIDE) before any pixel buffer is made.
// The pixels are decoded into a new buffer that replaces the layer's only when the decode
// succeeded: a failed load leaves the layer's previous image, size and alpha flag as they were.
#pragma once
#include <cstddef>
#include <cstdint>

struct LAYER;
struct FILE_LOCATION;

enum {
    KX_MAX_IMAGE_SIDE = 8192,       // widest and tallest image a file may give
    KX_TRANSPARENT_PIXEL = 0x00808080,
};

// Error ids of the image loaders (texts from the compiled message table).
enum {
    KX_ERR_IMAGE_TYPE = 100030,      // fatal: the layer command's name and the requested name
    KX_ERR_BMP_SIGNATURE = 100070,   // script error with the name: not "BM"
    KX_ERR_BMP_OFFSET = 100080,      // script error with the name: pixel offset, palette or rows outside the file
    KX_ERR_BMP_COMPRESSED = 100090,  // compressed 4/8-bit BMP, with the name
    KX_ERR_IMAGE_SIZE = 100091,      // script error with the name: a size outside 1..8192
    KX_ERR_BMP_TOP_DOWN = 100092,    // script error with the name: negative height
    KX_ERR_PNG_DAMAGED = 100200,     // a PNG that does not decode (header or image data)
    KX_ERR_JPEG_LOAD = 100210,       // any failed JPEG load
    KX_ERR_GIF_LOAD_FAILED = 100215, // any failed GIF load
    KX_ERR_PSD_REFUSED = 100220,     // script error with the name
};

// The command name that error 100030 names; the layer command may set its own.
extern const char* g_pszImageLoadCommand;

// An empty name makes the layer empty (SetLayerEmpty); otherwise LoadImageFile. 0 or -1.
int LoadLayerImage(LAYER* pLayer, const char* pszName);
// Resolves the name as an image and loads it. A name that no source holds makes the layer empty
// (success). 0, or -1 after a reported error.
int LoadImageFile(LAYER* pLayer, const char* pszName);
// Loads an already located file (pLoc from ResolveResourceFile or LocateFile) by pLoc->bType;
// pszResolved is the resolved file name, pszRequested the name given (for error 100030).
// On success: has-alpha, pixels and sizes set, transparent pixels normalised, colour cache freed,
// frame clock reset; 0. -1 after a reported error.
int LoadLocatedImage(LAYER* pLayer, FILE_LOCATION* pLoc, const char* pszResolved, const char* pszRequested);
// The layer becomes a 1 x 1 image whose pixel is 0x00808080, has-alpha 0. 0, or -1 (no memory).
int SetLayerEmpty(LAYER* pLayer, const char* pszName);
// Every pixel of the display buffer whose alpha byte is 0 becomes 0x00808080.
void NormalizeTransparentPixels(LAYER* pLayer);
// The same on a bare buffer of nPixels B,G,R,A pixels.
void NormalizeTransparentBuffer(uint8_t* pPixels, size_t nPixels);
// Reads the located file whole with the reader of its source kind into pLoc->pData / nSize (the
// caller frees pData). 0; the reader's negative result; -2 for an unknown source kind.
int LocateAndReadFile(FILE_LOCATION* pLoc, const char* pszName);

// Decoders: each reads the located file, decodes it into the layer and frees the file image.
// 0 success; otherwise (reported by the decoder unless said otherwise):
int LoadBMP(FILE_LOCATION* pLoc, LAYER* pLayer, const char* pszName);    // -1
int LoadPNG(FILE_LOCATION* pLoc, LAYER* pLayer, const char* pszName);    // 1
int LoadJPEG(FILE_LOCATION* pLoc, LAYER* pLayer, const char* pszName);   // -1 read, -2 decode (not reported), -3 size
int LoadPSD(FILE_LOCATION* pLoc, LAYER* pLayer, const char* pszName);    // always -1 (100220)
int LoadPSB(FILE_LOCATION* pLoc, LAYER* pLayer, const char* pszName);    // 1 read, -1 player failure
int LoadWebP(FILE_LOCATION* pLoc, LAYER* pLayer, const char* pszName);   // -1
// The GIF decoder's entry (image/gif_decoder.cpp): non-zero results become error 100215.
int LoadGIF(FILE_LOCATION* pLoc, LAYER* pLayer, const char* pszName);
// KCG: not available yet; reports 100030 with the name and gives -1.
int LoadKCG(FILE_LOCATION* pLoc, LAYER* pLayer, const char* pszName);

// Decoders from a file image in memory into a new pixel buffer (AllocPixelBuffer; the caller owns
// it). 0 with the buffer, size and alpha flag; negative after a reported error (nothing allocated).
// The picture is in the transparent normal form already: a format without alpha gets alpha 255
// from the decoder, and one with alpha is normalised row by row as it is decoded, so a load needs
// no second pass over it. Used by the loaders above and by the benchmarks.
struct DECODED_IMAGE {
    uint8_t* pPixels;
    int32_t nWidth;
    int32_t nHeight;
    uint8_t bHasAlpha;
};
int DecodeBMPImage(const uint8_t* pData, size_t nSize, const char* pszName, DECODED_IMAGE* pOut);
int DecodeJPEGImage(const uint8_t* pData, size_t nSize, const char* pszName, DECODED_IMAGE* pOut);  // -2 decode, -3 size
int DecodePNGImage(const uint8_t* pData, size_t nSize, const char* pszName, DECODED_IMAGE* pOut);   // preload's code
int DecodeWebPImage(const uint8_t* pData, size_t nSize, const char* pszName, DECODED_IMAGE* pOut);

