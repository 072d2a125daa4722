// VOROR.DLL: WebP decoding and encoding through libwebp, in B,G,R,A rows top-down.
#include <webp/decode.h>
#include <webp/encode.h>

#include <cstdint>
#include <cstring>

#include "platform/plat_modules.h"

namespace {

// Ordinal 1: the decoder's version (major << 16 | minor << 8 | revision).
int VororVersion(void)
{
    return WebPGetDecoderVersion();
}

// Ordinal 2: 1 with the picture's size when the data is a WebP picture, else 0 with 0 x 0.
int VororGetInfo(const uint8_t* pData, uint32_t nSize, int32_t* pWidth, int32_t* pHeight)
{
    int nWidth = 0, nHeight = 0;
    const int bOk = pData && nSize > 0 && WebPGetInfo(pData, nSize, &nWidth, &nHeight) != 0;
    if (pWidth) *pWidth = bOk ? nWidth : 0;
    if (pHeight) *pHeight = bOk ? nHeight : 0;
    return bOk ? 1 : 0;
}

// Ordinal 3: decodes into width x height pixels at pDst (width x 4 x height bytes). 1, or 0 when the
// data is not a WebP picture of exactly that size or does not decode.
int VororDecode(const uint8_t* pData, uint8_t* pDst, uint32_t nSize, int32_t nWidth, int32_t nHeight)
{
    if (!pData || !pDst || nSize == 0 || nWidth <= 0 || nHeight <= 0) return 0;
    int nPicWidth = 0, nPicHeight = 0;
    if (!WebPGetInfo(pData, nSize, &nPicWidth, &nPicHeight) || nPicWidth != nWidth || nPicHeight != nHeight) return 0;
    const uint64_t nBytes = static_cast<uint64_t>(nWidth) * static_cast<uint64_t>(nHeight) * 4;
    if (nBytes > UINT32_MAX) return 0;
    return WebPDecodeBGRAInto(pData, nSize, pDst, static_cast<size_t>(nBytes), nWidth * 4) ? 1 : 0;
}

// The caller's step on each band of finished rows (ordinal 5): context, first row, row count, width.
typedef void (*WEBP_ROWS_FN)(void* pContext, uint8_t* pRows, int32_t nRows, int32_t nWidth);

// Ordinal 5: decodes like ordinal 3; *pbHasAlpha tells whether the picture may have alpha (else
// every alpha byte is 255). Such a picture is decoded a part of the file at a time, and pfnRows is
// called on each band of rows as soon as they are finished, while they are still in the cache; a
// picture without alpha is decoded in one call and pfnRows is not called. 1, or 0 as ordinal 3.
int VororDecodeRows(const uint8_t* pData, uint8_t* pDst, uint32_t nSize, int32_t nWidth, int32_t nHeight,
                    uint8_t* pbHasAlpha, WEBP_ROWS_FN pfnRows, void* pContext)
{
    if (pbHasAlpha) *pbHasAlpha = 0;
    if (!pData || !pDst || !pbHasAlpha || nSize == 0 || nWidth <= 0 || nHeight <= 0) return 0;
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(pData, nSize, &features) != VP8_STATUS_OK || features.width != nWidth ||
        features.height != nHeight)
        return 0;
    const uint64_t nBytes = static_cast<uint64_t>(nWidth) * static_cast<uint64_t>(nHeight) * 4;
    if (nBytes > UINT32_MAX) return 0;
    const int nStride = nWidth * 4;
    // A lossy picture without an alpha chunk has alpha 255 everywhere. A lossless picture's "alpha
    // is used" bit is only a hint (its pixels carry alpha whatever it says), so it counts as alpha.
    const bool bMayHaveAlpha = features.has_alpha || features.format != 1;
    if (!bMayHaveAlpha || !pfnRows)
        return WebPDecodeBGRAInto(pData, nSize, pDst, static_cast<size_t>(nBytes), nStride) ? 1 : 0;
    // The one-call decoder refuses a container that claims more bytes than it has; the step-wise
    // one waits for them and may finish without the last (padding) byte. Refused alike here.
    if (nSize >= 12 && std::memcmp(pData, "RIFF", 4) == 0) {
        const uint32_t nRiff = static_cast<uint32_t>(pData[4]) | static_cast<uint32_t>(pData[5]) << 8 |
                               static_cast<uint32_t>(pData[6]) << 16 | static_cast<uint32_t>(pData[7]) << 24;
        if (nRiff > nSize - 8) return 0;
    }
    *pbHasAlpha = 1;
    WebPDecBuffer out;
    if (!WebPInitDecBuffer(&out)) return 0;
    out.colorspace = MODE_BGRA;
    out.is_external_memory = 1;
    out.u.RGBA.rgba = pDst;
    out.u.RGBA.stride = nStride;
    out.u.RGBA.size = static_cast<size_t>(nBytes);
    WebPIDecoder* pDec = WebPINewDecoder(&out);
    if (!pDec) return 0;
    // 16 KB of file a step: the rows it finishes are well inside the second-level cache.
    const size_t kStep = 16 * 1024;
    VP8StatusCode status = VP8_STATUS_SUSPENDED;
    int nDone = 0;
    for (size_t nFed = 0; status == VP8_STATUS_SUSPENDED && nFed < nSize;) {
        nFed = nSize - nFed > kStep ? nFed + kStep : nSize;
        status = WebPIUpdate(pDec, pData, nFed);   // the same bytes, grown: nothing is copied
        int nLast = 0;
        if ((status == VP8_STATUS_OK || status == VP8_STATUS_SUSPENDED) &&
            WebPIDecGetRGB(pDec, &nLast, nullptr, nullptr, nullptr) && nLast > nDone && nLast <= nHeight) {
            pfnRows(pContext, pDst + static_cast<size_t>(nDone) * static_cast<size_t>(nStride), nLast - nDone, nWidth);
            nDone = nLast;
        }
    }
    WebPIDelete(pDec);
    return status == VP8_STATUS_OK && nDone == nHeight ? 1 : 0;
}

struct WEBP_BUFFER_WRITER {
    uint8_t* pOut;
    size_t nCap;
    size_t nUsed;
};

int WriteIntoBuffer(const uint8_t* pData, size_t n, const WebPPicture* pPicture)
{
    auto* w = static_cast<WEBP_BUFFER_WRITER*>(pPicture->custom_ptr);
    if (n > w->nCap - w->nUsed) return 0;   // stops the encoder
    if (n) std::memcpy(w->pOut + w->nUsed, pData, n);
    w->nUsed += n;
    return 1;
}

// Ordinal 4: encodes width x height pixels (rows width x 4 bytes apart) with effort nMethod 0..6,
// lossy with quality 0..100, or lossless (keeping the colour under transparent pixels) for -1.
// The bytes written to pOut, or 0 on failure, also when they would exceed nOutCap.
uint32_t VororEncode(const uint8_t* pPixels, uint8_t* pOut, uint32_t nOutCap, int32_t nWidth, int32_t nHeight,
                     int nMethod, int nQuality)
{
    if (!pPixels || !pOut || nOutCap == 0 || nWidth <= 0 || nHeight <= 0 || nWidth > WEBP_MAX_DIMENSION ||
        nHeight > WEBP_MAX_DIMENSION || nMethod < 0 || nMethod > 6 || nQuality < -1 || nQuality > 100)
        return 0;
    WebPConfig config;
    if (!WebPConfigInit(&config)) return 0;
    config.method = nMethod;
    if (nQuality < 0) {
        config.lossless = 1;
        config.exact = 1;
    } else {
        config.quality = static_cast<float>(nQuality);
    }
    if (!WebPValidateConfig(&config)) return 0;

    WebPPicture picture;
    if (!WebPPictureInit(&picture)) return 0;
    picture.use_argb = 1;
    picture.width = nWidth;
    picture.height = nHeight;
    if (!WebPPictureImportBGRA(&picture, pPixels, nWidth * 4)) {
        WebPPictureFree(&picture);
        return 0;
    }
    WEBP_BUFFER_WRITER writer{pOut, nOutCap, 0};
    picture.writer = WriteIntoBuffer;
    picture.custom_ptr = &writer;
    const int bOk = WebPEncode(&config, &picture);
    WebPPictureFree(&picture);
    return bOk ? static_cast<uint32_t>(writer.nUsed) : 0;
}

const PLAT_MODULE_ENTRY k_aEntries[] = {
    {nullptr, 1, reinterpret_cast<void*>(&VororVersion)},
    {nullptr, 2, reinterpret_cast<void*>(&VororGetInfo)},
    {nullptr, 3, reinterpret_cast<void*>(&VororDecode)},
    {nullptr, 4, reinterpret_cast<void*>(&VororEncode)},
    {nullptr, 5, reinterpret_cast<void*>(&VororDecodeRows)},
};

}  // namespace

const PLAT_MODULE_ENTRY* PlatWebPModuleEntries(int* pnCount)
{
    *pnCount = static_cast<int>(sizeof k_aEntries / sizeof k_aEntries[0]);
    return k_aEntries;
}
