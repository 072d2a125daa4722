// JPEG decoding and encoding through libjpeg (the only code that includes jpeglib.h). Pixels are
// B,G,R,A rows top-down, as in every layer buffer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Results of the JPEG functions.
enum {
    KX_JPEG_OK = 0,
    KX_JPEG_BAD_ARG = -1,       // a NULL pointer, a size of 0 or a stride too small
    KX_JPEG_BAD_HEADER = -2,    // not a JPEG file, or a header the library refuses
    KX_JPEG_BAD_DATA = -3,      // the image data does not decode (also a file cut short)
    KX_JPEG_TOO_LARGE = -4,     // the size does not fit the caller's limits
    KX_JPEG_NO_MEMORY = -5,
    KX_JPEG_UNSUPPORTED = -6,   // neither grey nor three-component colour (CMYK, YCCK)
};

struct PLAT_JPEG_INFO {
    int32_t nWidth;
    int32_t nHeight;
    int32_t nComponents;   // 1 grey, 3 colour, 4 CMYK
};

// Reads the header of a JPEG file image: 0 with the size, or KX_JPEG_BAD_ARG / KX_JPEG_BAD_HEADER.
int PlatJpegReadInfo(const uint8_t* pData, size_t nSize, PLAT_JPEG_INFO* pInfo);

// Decodes a JPEG file image into width x height B,G,R,A pixels (alpha 0xFF) at pDst, rows nStride
// bytes apart; nWidth and nHeight must be the picture's size (from PlatJpegReadInfo). A file whose
// data ends early is not an error: the library fills the missing part (grey) and the result is
// KX_JPEG_OK with *pbTruncated set to 1 (pbTruncated may be NULL). Other corrupt data:
// KX_JPEG_BAD_DATA; pixels already written stay, the rest are untouched. Only grey and
// three-component pictures decode (else KX_JPEG_UNSUPPORTED); grey gives B = G = R.
int PlatJpegDecode(const uint8_t* pData, size_t nSize, uint8_t* pDst, int32_t nWidth, int32_t nHeight,
                   int32_t nStride, uint8_t* pbTruncated);

// Encodes width x height B,G,R,A pixels (rows nStride bytes apart, alpha ignored) as a baseline
// colour JPEG of quality 1..100 (clamped) into *pOut (replaced). 0, KX_JPEG_BAD_ARG (NULL, size
// 0 or above 65500, stride below width x 4) or KX_JPEG_NO_MEMORY / KX_JPEG_BAD_DATA for a library
// failure (*pOut then empty).
int PlatJpegEncode(const uint8_t* pPixels, int32_t nWidth, int32_t nHeight, int32_t nStride, int nQuality,
                   std::vector<uint8_t>* pOut);
