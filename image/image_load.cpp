#include "image/image_load.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/codecs.h"
#include "core/errors.h"
#include "core/file_location.h"
#include "core/frame_loop.h"
#include "core/kx_limits.h"
#include "core/kx_texts.h"
#include "image/layer.h"
#include "core/engine_globals.h"
#include "platform/plat_jpeg.h"
#include "image/gif_decoder.h"
#include "image/kcg_format.h"

const char* g_pszImageLoadCommand = "layer";

namespace {

inline uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

inline void Put32Le(uint8_t* p, uint32_t n)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(n >> (8 * i));
}

inline bool SideOk(int64_t n) { return n >= 1 && n <= KX_MAX_IMAGE_SIDE; }

void FreeFileImage(FILE_LOCATION* pLoc)
{
    std::free(pLoc->pData);
    pLoc->pData = nullptr;
    pLoc->nSize = 0;
}

// Installs a decoded image as the layer's pixels, with its alpha flag.
void CommitDecoded(LAYER* pLayer, const DECODED_IMAGE& img)
{
    SetLayerPixels(pLayer, img.pPixels, img.nWidth, img.nHeight);
    pLayer->bHasAlpha = img.bHasAlpha;
}

// The file image of a located file, read whole; -1 when the reader failed (it reported).
int ReadWhole(FILE_LOCATION* pLoc, const char* pszName)
{
    pLoc->pData = nullptr;
    pLoc->nSize = 0;
    if (LocateAndReadFile(pLoc, pszName) != 0) {
        FreeFileImage(pLoc);
        return -1;
    }
    if (pLoc->nSize < 0) {
        FreeFileImage(pLoc);
        return -1;
    }
    return 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Common steps

void NormalizeTransparentBuffer(uint8_t* pPixels, size_t nPixels)
{
    if (!pPixels)
        return;
    uint32_t* p = reinterpret_cast<uint32_t*>(pPixels);   // the buffer is 64-byte aligned
    // Most pictures have few transparent pixels: sixteen at a time are only read and compared, and
    // written only when one of them has alpha 0.
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i kAlpha = _mm_set1_epi32(static_cast<int>(0xFF000000u)), kZero = _mm_setzero_si128();
    for (; i + 16 <= nPixels; i += 16) {
        const __m128i* q = reinterpret_cast<const __m128i*>(p + i);
        const __m128i a = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi32(_mm_and_si128(_mm_loadu_si128(q), kAlpha), kZero),
                         _mm_cmpeq_epi32(_mm_and_si128(_mm_loadu_si128(q + 1), kAlpha), kZero)),
            _mm_or_si128(_mm_cmpeq_epi32(_mm_and_si128(_mm_loadu_si128(q + 2), kAlpha), kZero),
                         _mm_cmpeq_epi32(_mm_and_si128(_mm_loadu_si128(q + 3), kAlpha), kZero)));
        if (_mm_movemask_epi8(a) == 0)
            continue;
        for (size_t k = 0; k < 16; ++k)
            if ((p[i + k] & 0xFF000000u) == 0)
                p[i + k] = KX_TRANSPARENT_PIXEL;
    }
#endif
    for (; i < nPixels; ++i) {
        if ((p[i] & 0xFF000000u) == 0)
            p[i] = KX_TRANSPARENT_PIXEL;
    }
}

void NormalizeTransparentPixels(LAYER* pLayer)
{
    if (!pLayer || !pLayer->pDisplayPixels || pLayer->nWidth <= 0 || pLayer->nHeight <= 0)
        return;
    NormalizeTransparentBuffer(pLayer->pDisplayPixels,
                               static_cast<size_t>(pLayer->nWidth) * static_cast<size_t>(pLayer->nHeight));
}

int LocateAndReadFile(FILE_LOCATION* pLoc, const char* pszName)
{
    return ReadLocatedFile(pLoc, pszName);
}

int SetLayerEmpty(LAYER* pLayer, const char* pszName)
{
    if (!pLayer)
        return -1;
    uint8_t* pPixels = AllocPixelBuffer(nullptr, 1, 1, pszName);
    if (!pPixels)
        return -1;
    SetLayerPixels(pLayer, pPixels, 1, 1);
    pLayer->bHasAlpha = 0;
    NormalizeTransparentPixels(pLayer);
    ResetFrameClock();
    return 0;
}

int LoadLayerImage(LAYER* pLayer, const char* pszName)
{
    if (!pszName || !pszName[0])
        return SetLayerEmpty(pLayer, pszName);
    return LoadImageFile(pLayer, pszName);
}

int LoadImageFile(LAYER* pLayer, const char* pszName)
{
    if (!pLayer || !pszName)
        return -1;
    char szResolved[KX_MAX_PATH];
    FILE_LOCATION loc{};
    const int nFound = ResolveResourceFile(&loc, szResolved, sizeof szResolved, pszName, RESOLVE_IMAGE);
    if (nFound < 0)
        return -1;
    if (nFound == 1)
        return SetLayerEmpty(pLayer, pszName);
    return LoadLocatedImage(pLayer, &loc, szResolved, pszName);
}

int LoadLocatedImage(LAYER* pLayer, FILE_LOCATION* pLoc, const char* pszResolved, const char* pszRequested)
{
    if (!pLayer || !pLoc || !pszResolved)
        return -1;
    int nResult = 0;
    // The decoders of BMP, PNG, JPEG and WebP give their pictures in the transparent normal form
    // already (a picture without alpha needs nothing, one with alpha is normalised row by row
    // while it is decoded); the others are normalised here in a second pass.
    bool bNormalized = false;
    switch (pLoc->bType) {
    case FILETYPE_BMP:
        nResult = LoadBMP(pLoc, pLayer, pszResolved) == 0 ? 0 : -1;
        bNormalized = true;
        break;
    case FILETYPE_PNG:
        nResult = LoadPNG(pLoc, pLayer, pszResolved) == 0 ? 0 : -1;
        bNormalized = true;
        break;
    case FILETYPE_JPG:
        if (LoadJPEG(pLoc, pLayer, pszResolved) != 0) {
            ReportErrorF(KX_ERR_JPEG_LOAD, 1, pszResolved);
            nResult = -1;
        }
        bNormalized = true;
        break;
    case FILETYPE_GIF:
        if (LoadGIF(pLoc, pLayer, pszResolved) != 0) {
            ReportErrorF(KX_ERR_GIF_LOAD_FAILED, 1, pszResolved);
            nResult = -1;
        }
        break;
    case FILETYPE_PSD:
        LoadPSD(pLoc, pLayer, pszResolved);
        nResult = -1;
        break;
    case FILETYPE_KCG:
        nResult = LoadKCG(pLoc, pLayer, pszResolved) == 0 ? 0 : -1;
        break;
    case FILETYPE_PSB:
        nResult = LoadPSB(pLoc, pLayer, pszResolved) == 0 ? 0 : -1;
        break;
    case FILETYPE_WEBP:
        nResult = LoadWebP(pLoc, pLayer, pszResolved) == 0 ? 0 : -1;
        bNormalized = true;
        break;
    default:
        ReportScriptErrorF(KX_ERR_IMAGE_TYPE, 1, g_pszImageLoadCommand, pszRequested ? pszRequested : pszResolved);
        nResult = -1;
        break;
    }
    FreeFileImage(pLoc);   // a decoder that failed early may have left it
    if (nResult != 0)
        return -1;
    // Decoders that write the layer themselves (GIF, PSB) get the same final state as the others.
    pLayer->nBufWidth = pLayer->nWidth;
    pLayer->nBufHeight = pLayer->nHeight;
    if (pLayer->pColorCache && pLayer->pColorCache != pLayer->pOwnedPixels)
        std::free(pLayer->pColorCache);
    pLayer->pColorCache = nullptr;
    MarkPixelsChanged(pLayer);
    pLayer->pDisplayPixels = pLayer->pOwnedPixels;
    if (!bNormalized)
        NormalizeTransparentPixels(pLayer);
    ResetFrameClock();
    return 0;
}

// ---------------------------------------------------------------------------------------------
// BMP

int DecodeBMPImage(const uint8_t* pData, size_t nSize, const char* pszName, DECODED_IMAGE* pOut)
{
    *pOut = DECODED_IMAGE{};
    if (!pData || nSize < 2 || pData[0] != 'B' || pData[1] != 'M') {
        ReportScriptErrorF(KX_ERR_BMP_SIGNATURE, 1, pszName);
        return -1;
    }
    // The information header: the 40-byte Windows form or a longer one, the 12-byte OS/2 1.x core
    // header (16-bit sizes, palette entries of 3 bytes B,G,R) or an OS/2 2.x header of 16 to 39
    // bytes (the fields of the Windows form as far as it reaches, the rest 0; 4-byte entries). Both
    // headers must lie inside the file.
    enum { BMP_CORE_HEADER = 12, BMP_OS2_MIN_HEADER = 16, BMP_INFO_HEADER = 40 };
    if (nSize < 14 + 4) {
        ReportScriptErrorF(KX_ERR_BMP_OFFSET, 1, pszName);
        return -1;
    }
    const uint32_t nOffset = ReadU32(pData + 10);
    const uint32_t nInfoSize = ReadU32(pData + 14);
    const bool bCore = nInfoSize == BMP_CORE_HEADER;
    if (nOffset < 11 || nOffset > nSize || (!bCore && nInfoSize < BMP_OS2_MIN_HEADER) || nInfoSize > nSize - 14) {
        ReportScriptErrorF(KX_ERR_BMP_OFFSET, 1, pszName);
        return -1;
    }
    uint8_t abInfo[BMP_INFO_HEADER] = {};   // the header in the Windows layout
    if (bCore) {
        Put32Le(abInfo + 4, ReadU16(pData + 18));    // width
        Put32Le(abInfo + 8, ReadU16(pData + 20));    // height (bottom-up only)
        std::memcpy(abInfo + 12, pData + 22, 4);     // planes, bit count
    } else {
        std::memcpy(abInfo, pData + 14, std::min<size_t>(nInfoSize, BMP_INFO_HEADER));
    }
    const int32_t nWidth = static_cast<int32_t>(ReadU32(abInfo + 4));
    const int32_t nHeight = static_cast<int32_t>(ReadU32(abInfo + 8));
    const uint16_t nBits = ReadU16(abInfo + 14);
    const uint32_t nCompression = ReadU32(abInfo + 16);
    const uint32_t nColorsUsed = ReadU32(abInfo + 32);
    const size_t nEntryBytes = bCore ? 3 : 4;
    if (!SideOk(nWidth) || nHeight == 0 || nHeight > KX_MAX_IMAGE_SIDE) {
        ReportScriptErrorF(KX_ERR_IMAGE_SIZE, 1, pszName);
        return -1;
    }
    if (nHeight < 0) {
        ReportScriptErrorF(KX_ERR_BMP_TOP_DOWN, 1, pszName);
        return -1;
    }
    if ((nBits == 4 || nBits == 8) && nCompression != 0) {
        ReportErrorF(KX_ERR_BMP_COMPRESSED, 1, pszName);
        return -1;
    }
    // Row sizes, padded to 4 bytes; 0 for bit counts that are not decoded.
    size_t nRowBytes = 0;
    const size_t w = static_cast<size_t>(nWidth);
    switch (nBits) {
    case 1: nRowBytes = ((w + 31) / 32) * 4; break;
    case 4: nRowBytes = ((w + 7) / 8) * 4; break;
    case 8: nRowBytes = (w + 3) & ~size_t(3); break;
    case 24: nRowBytes = (w * 3 + 3) & ~size_t(3); break;
    case 32: nRowBytes = w * 4; break;
    default: break;
    }
    // Palette directly after the information header.
    uint32_t adwPalette[256];
    size_t nPaletteSize = nBits == 1 ? 2 : nBits == 4 ? 16 : nBits == 8 ? 256 : 0;
    for (size_t i = 0; i < 256; ++i)
        adwPalette[i] = 0xFF000000u;
    if (nPaletteSize) {
        size_t nEntries = nColorsUsed ? nColorsUsed : (size_t(1) << nBits);
        if (nEntries > nPaletteSize)
            nEntries = nPaletteSize;
        const size_t nPalOffset = 14 + static_cast<size_t>(nInfoSize);
        if (nPalOffset + nEntries * nEntryBytes > nSize) {
            ReportScriptErrorF(KX_ERR_BMP_OFFSET, 1, pszName);
            return -1;
        }
        for (size_t i = 0; i < nEntries; ++i) {
            const uint8_t* p = pData + nPalOffset + nEntryBytes * i;
            adwPalette[i] |= static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16;
        }
    }
    const size_t h = static_cast<size_t>(nHeight);
    if (nRowBytes && (nSize - nOffset) / nRowBytes < h) {
        ReportScriptErrorF(KX_ERR_BMP_OFFSET, 1, pszName);
        return -1;
    }
    uint8_t* pPixels = AllocPixelBuffer(nullptr, nWidth, nHeight, pszName);
    if (!pPixels)
        return -1;
    for (size_t y = 0; nRowBytes && y < h; ++y) {
        const uint8_t* pSrc = pData + nOffset + (h - 1 - y) * nRowBytes;   // rows bottom-up
        uint8_t* pDst = pPixels + y * w * 4;
        switch (nBits) {
        case 1:
            for (size_t x = 0; x < w; ++x) {
                const uint32_t v = adwPalette[(pSrc[x >> 3] >> (7 - (x & 7))) & 1];
                std::memcpy(pDst + 4 * x, &v, 4);
            }
            break;
        case 4:
            for (size_t x = 0; x < w; ++x) {
                const uint32_t v = adwPalette[(x & 1) ? (pSrc[x >> 1] & 0x0F) : (pSrc[x >> 1] >> 4)];
                std::memcpy(pDst + 4 * x, &v, 4);
            }
            break;
        case 8:
            for (size_t x = 0; x < w; ++x)
                std::memcpy(pDst + 4 * x, &adwPalette[pSrc[x]], 4);
            break;
        case 24:
            for (size_t x = 0; x < w; ++x) {
                pDst[4 * x + 0] = pSrc[3 * x + 0];
                pDst[4 * x + 1] = pSrc[3 * x + 1];
                pDst[4 * x + 2] = pSrc[3 * x + 2];
                pDst[4 * x + 3] = 0xFF;
            }
            break;
        case 32:
            // The only depth with alpha: the row is put in the normal form while it is in the cache.
            std::memcpy(pDst, pSrc, w * 4);
            NormalizeTransparentBuffer(pDst, w);
            break;
        }
    }
    if (!nRowBytes)   // an undecoded depth leaves the cleared buffer: every pixel transparent
        NormalizeTransparentBuffer(pPixels, w * h);
    pOut->pPixels = pPixels;
    pOut->nWidth = nWidth;
    pOut->nHeight = nHeight;
    pOut->bHasAlpha = nBits == 32 ? 1 : 0;
    return 0;
}

int LoadBMP(FILE_LOCATION* pLoc, LAYER* pLayer, const char* pszName)
{
    if (ReadWhole(pLoc, pszName) != 0)
        return -1;
    DECODED_IMAGE img;
    const int nResult = DecodeBMPImage(pLoc->pData, static_cast<size_t>(pLoc->nSize), pszName, &img);
    FreeFileImage(pLoc);
    if (nResult != 0)
        return -1;
    CommitDecoded(pLayer, img);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// PNG

namespace {

// A decode straight into a new pixel buffer (VOZEZ.DLL ordinal 5): the buffer once the size is
// known, each row put in the transparent normal form as it is finished.
struct PNG_TARGET {
    const char* pszName;
    uint8_t* pPixels;
    int nRefused;              // KX_PNG_TOO_LARGE when the size was refused before any buffer was made
    const uint8_t* pbNoAlpha;  // set by the decoder before the first row
};

uint8_t* PngTargetBuffer(void* pContext, int32_t nWidth, int32_t nHeight)
{
    PNG_TARGET* t = static_cast<PNG_TARGET*>(pContext);
    if (!SideOk(nWidth) || !SideOk(nHeight)) {
        t->nRefused = KX_PNG_TOO_LARGE;
        return nullptr;
    }
    t->pPixels = AllocPixelBufferToFill(nWidth, nHeight, t->pszName);
    return t->pPixels;
}

void PngTargetRow(void* pContext, uint8_t* pRow, int32_t nWidth)
{
    // A picture without alpha gets alpha 255 from the decoder: no pixel can need the normal form.
    if (!*static_cast<PNG_TARGET*>(pContext)->pbNoAlpha)
        NormalizeTransparentBuffer(pRow, static_cast<size_t>(nWidth));
}

int DecodePNGInto(const uint8_t* pData, size_t nSize, const char* pszName, DECODED_IMAGE* pOut)
{
    int32_t nWidth = 0, nHeight = 0;
    uint8_t bNoAlpha = 1;
    PNG_TARGET target{pszName, nullptr, 0, &bNoAlpha};
    const int r = g_pfnPngDecodeInto(pszName, pData, static_cast<uint32_t>(nSize), &nWidth, &nHeight, &bNoAlpha,
                                     PngTargetBuffer, PngTargetRow, &target);
    if (r != 0) {
        std::free(target.pPixels);
        if (r == -1)
            return target.nRefused ? target.nRefused : -1;   // a buffer that could not be had was reported
        return r;
    }
    pOut->pPixels = target.pPixels;
    pOut->nWidth = nWidth;
    pOut->nHeight = nHeight;
    pOut->bHasAlpha = bNoAlpha == 0 ? 1 : 0;
    return 0;
}

}  // namespace

int DecodePNGImage(const uint8_t* pData, size_t nSize, const char* pszName, DECODED_IMAGE* pOut)
{
    *pOut = DECODED_IMAGE{};
    if (!pData || nSize == 0 || nSize > UINT32_MAX)
        return KX_PNG_DAMAGED;
    // The library's one-call decoder when it has one: no copy of the picture, and the normal form
    // made on each row while it is in the cache. Its results are those of the steps below.
    if (g_pfnPngDecodeInto)
        return DecodePNGInto(pData, nSize, pszName, pOut);
    int32_t nWidth = 0, nHeight = 0;
    uint8_t bNoAlpha = 1;
    const int nPre = g_pfnPngPreload(pszName, pData, static_cast<uint32_t>(nSize), &nWidth, &nHeight, &bNoAlpha);
    if (nPre != 0)
        return nPre;
    if (!SideOk(nWidth) || !SideOk(nHeight)) {
        g_pfnPngEnd();
        return KX_PNG_TOO_LARGE;
    }
    uint8_t* pPixels = AllocPixelBufferToFill(nWidth, nHeight, pszName);
    if (!pPixels) {
        g_pfnPngEnd();
        return -1;
    }
    const int nLoad = g_pfnPngLoad(pPixels, nHeight, nWidth * 4);
    g_pfnPngEnd();
    if (nLoad != 0) {
        std::free(pPixels);
        return KX_PNG_FAILED;
    }
    if (!bNoAlpha)
        NormalizeTransparentBuffer(pPixels, static_cast<size_t>(nWidth) * static_cast<size_t>(nHeight));
    pOut->pPixels = pPixels;
    pOut->nWidth = nWidth;
    pOut->nHeight = nHeight;
    pOut->bHasAlpha = bNoAlpha == 0 ? 1 : 0;
    return 0;
}

int LoadPNG(FILE_LOCATION* pLoc, LAYER* pLayer, const char* pszName)
{
    if (ReadWhole(pLoc, pszName) != 0)
        return 1;
    DECODED_IMAGE img;
    const int nResult = DecodePNGImage(pLoc->pData, static_cast<size_t>(pLoc->nSize), pszName, &img);
    FreeFileImage(pLoc);
    if (nResult == 0) {
        CommitDecoded(pLayer, img);
        return 0;
    }
    if (nResult == KX_PNG_DAMAGED)
        ReportErrorF(KX_ERR_PNG_DAMAGED, 1, pszName);
    else if (nResult == KX_PNG_TOO_LARGE)
        ReportScriptErrorF(KX_ERR_IMAGE_SIZE, 1, pszName);
    return 1;
}

// ---------------------------------------------------------------------------------------------
// JPEG

int DecodeJPEGImage(const uint8_t* pData, size_t nSize, const char* pszName, DECODED_IMAGE* pOut)
{
    *pOut = DECODED_IMAGE{};
    PLAT_JPEG_INFO info;
    if (PlatJpegReadInfo(pData, nSize, &info) != KX_JPEG_OK)
        return -2;
    if (!SideOk(info.nWidth) || !SideOk(info.nHeight)) {
        ReportScriptErrorF(KX_ERR_IMAGE_SIZE, 1, pszName);
        return -3;
    }
    // A file cut short decodes too: the missing part is filled by the library, so every pixel is
    // written.
    uint8_t* pPixels = AllocPixelBufferToFill(info.nWidth, info.nHeight, pszName);
    if (!pPixels)
        return -1;
    if (PlatJpegDecode(pData, nSize, pPixels, info.nWidth, info.nHeight, info.nWidth * 4, nullptr) != KX_JPEG_OK) {
        std::free(pPixels);
        return -2;
    }
    pOut->pPixels = pPixels;
    pOut->nWidth = info.nWidth;
    pOut->nHeight = info.nHeight;
    pOut->bHasAlpha = 0;
    return 0;
}

int LoadJPEG(FILE_LOCATION* pLoc, LAYER* pLayer, const char* pszName)
{
    if (ReadWhole(pLoc, pszName) != 0)
        return -1;
    DECODED_IMAGE img;
    const int nResult = DecodeJPEGImage(pLoc->pData, static_cast<size_t>(pLoc->nSize), pszName, &img);
    FreeFileImage(pLoc);
    if (nResult != 0)
        return nResult;
    CommitDecoded(pLayer, img);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// WebP

namespace {

void NormalizeWebPRows(void*, uint8_t* pRows, int32_t nRows, int32_t nWidth)
{
    NormalizeTransparentBuffer(pRows, static_cast<size_t>(nRows) * static_cast<size_t>(nWidth));
}

}  // namespace

int DecodeWebPImage(const uint8_t* pData, size_t nSize, const char* pszName, DECODED_IMAGE* pOut)
{
    *pOut = DECODED_IMAGE{};
    if (!pData || nSize < 12 || nSize > UINT32_MAX || std::memcmp(pData, "RIFF", 4) != 0 ||
        std::memcmp(pData + 8, "WEBP", 4) != 0) {
        ShowMessageBox("", "File Check Error.");
        return -1;
    }
    int32_t nWidth = 0, nHeight = 0;
    if (!g_pfnWebPGetInfo(pData, static_cast<uint32_t>(nSize), &nWidth, &nHeight)) {
        ShowMessageBox("", "File Check Error.");
        return -1;
    }
    if (!SideOk(nWidth) || !SideOk(nHeight)) {
        ReportScriptErrorF(KX_ERR_IMAGE_SIZE, 1, pszName);
        return -1;
    }
    uint8_t* pPixels = AllocPixelBufferToFill(nWidth, nHeight, pszName);   // a decode writes every pixel
    if (!pPixels)
        return -1;
    // The transparent normal form: none is needed where the picture has no alpha, and where it has,
    // each band of rows is normalised as the decoder finishes it (or the whole picture afterwards
    // with a library that cannot hand out rows).
    uint8_t bHasAlpha = 1;
    const int bDecoded =
        g_pfnWebPDecodeRows
            ? g_pfnWebPDecodeRows(pData, pPixels, static_cast<uint32_t>(nSize), nWidth, nHeight, &bHasAlpha,
                                  NormalizeWebPRows, nullptr)
            : g_pfnWebPDecode(pData, pPixels, static_cast<uint32_t>(nSize), nWidth, nHeight);
    if (!bDecoded) {
        std::free(pPixels);
        ShowMessageBox("", "File Check Error.");
        return -1;
    }
    if (!g_pfnWebPDecodeRows)
        NormalizeTransparentBuffer(pPixels, static_cast<size_t>(nWidth) * static_cast<size_t>(nHeight));
    pOut->pPixels = pPixels;
    pOut->nWidth = nWidth;
    pOut->nHeight = nHeight;
    pOut->bHasAlpha = 1;
    return 0;
}

int LoadWebP(FILE_LOCATION* pLoc, LAYER* pLayer, const char* pszName)
{
    if (!g_bWebPLoaded) {
        ShowMessageBox("", GetEngineText(TXT_WEBP_NOT_SUPPORTED));
        return -1;
    }
    if (ReadWhole(pLoc, pszName) != 0)
        return -1;
    DECODED_IMAGE img;
    const int nResult = DecodeWebPImage(pLoc->pData, static_cast<size_t>(pLoc->nSize), pszName, &img);
    FreeFileImage(pLoc);
    if (nResult != 0)
        return -1;
    CommitDecoded(pLayer, img);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// PSD, PSB, KCG

int LoadPSD(FILE_LOCATION* pLoc, LAYER* pLayer, const char* pszName)
{
    if (ReadWhole(pLoc, pszName) != 0)
        return -1;
    FreeFileImage(pLoc);
    ReportScriptErrorF(KX_ERR_PSD_REFUSED, 1, pszName);
    return -1;
}

int LoadPSB(FILE_LOCATION* pLoc, LAYER* pLayer, const char* pszName)
{
    uint8_t* pPixels = AllocPixelBuffer(nullptr, 2, 2, pszName);
    if (!pPixels)
        return -1;
    SetLayerPixels(pLayer, pPixels, 2, 2);
    pLayer->bHasAlpha = 0;
    if (!g_bEmoteAvailable)
        return 0;   // no E-mote component: a plain 2 x 2 placeholder
    pLayer->bKind = LAYERKIND_EMOTE;
    if (ReadWhole(pLoc, pszName) != 0)
        return 1;
    g_LayerHooks.pfnReleaseEmotePlayer(pLayer);
    const int nResult = g_LayerHooks.pfnCreateEmotePlayer(pLayer, pLoc->pData, static_cast<size_t>(pLoc->nSize));
    FreeFileImage(pLoc);
    if (nResult != 0) {
        ShowMessageBox("", GetEngineText(TXT_EMOTE_LOAD_FAILED), pszName);
        return -1;
    }
    g_LayerHooks.pfnStartEmotePlayer(pLayer);
    return 0;
}

// The engine's own two-part format (image/kcg_format.cpp).
int LoadKCG(FILE_LOCATION* pLoc, LAYER* pLayer, const char* pszName)
{
    return LoadKCGImage(pLoc, pLayer, pszName);
}
