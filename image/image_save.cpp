// Image savers: BMP written here, JPEG through the platform's libjpeg encoder, WebP through the
// VOROR.DLL encoder and PNG through the VOZEZ.DLL save entry. Each encodes into memory and hands the
// finished file to PlatWriteFileAtomic.
#include "image/image_save.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "core/codecs.h"
#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/kx_texts.h"
#include "image/layer.h"
#include "script/script_hooks.h"
#include "platform/plat_file.h"
#include "platform/plat_jpeg.h"

namespace {

enum { BMP_HEADER_SIZE = 54, BMP_INFO_SIZE = 40 };

// The display pixels of a layer worth saving, or NULL (no layer, no pixels, an empty size).
const uint8_t* SavablePixels(const LAYER* pLayer)
{
    if (!pLayer || !pLayer->pDisplayPixels || pLayer->nWidth <= 0 || pLayer->nHeight <= 0)
        return nullptr;
    return pLayer->pDisplayPixels;
}

void PutU16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void PutU32(uint8_t* p, uint32_t v)
{
    PutU16(p, v & 0xFFFF);
    PutU16(p + 2, v >> 16);
}

}  // namespace

int SaveBMP(const LAYER* pLayer, const char* pszPath)
{
    const uint8_t* pPixels = SavablePixels(pLayer);
    if (!pPixels || !pszPath)
        return -1;
    const int32_t w = pLayer->nWidth, h = pLayer->nHeight;
    const uint64_t nRowSize = (static_cast<uint64_t>(w) * 3 + 3) & ~static_cast<uint64_t>(3);
    const uint64_t nImageBytes = nRowSize * static_cast<uint64_t>(h);
    // The header holds the file size in 32 bits.
    if (nImageBytes + BMP_HEADER_SIZE > 0xFFFFFFFFull)
        return -1;

    std::vector<uint8_t> file;
    try {
        file.assign(static_cast<size_t>(nImageBytes) + BMP_HEADER_SIZE, 0);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    uint8_t* p = file.data();
    p[0] = 'B';
    p[1] = 'M';
    PutU32(p + 2, static_cast<uint32_t>(nImageBytes + BMP_HEADER_SIZE));
    PutU32(p + 10, BMP_HEADER_SIZE);
    PutU32(p + 14, BMP_INFO_SIZE);
    PutU32(p + 18, static_cast<uint32_t>(w));
    PutU32(p + 22, static_cast<uint32_t>(h));
    PutU16(p + 26, 1);
    PutU16(p + 28, 24);
    // Compression, image size, resolutions and colour counts stay 0.

    const size_t nStride = static_cast<size_t>(w) * 4;
    for (int32_t r = 0; r < h; ++r) {
        const uint8_t* pSrc = pPixels + static_cast<size_t>(h - 1 - r) * nStride;
        uint8_t* pDst = p + BMP_HEADER_SIZE + static_cast<size_t>(r) * nRowSize;
        for (int32_t x = 0; x < w; ++x) {
            pDst[3 * x + 0] = pSrc[4 * x + 0];
            pDst[3 * x + 1] = pSrc[4 * x + 1];
            pDst[3 * x + 2] = pSrc[4 * x + 2];
        }
    }
    if (PlatWriteFileAtomic(pszPath, file.data(), file.size()) != 0) {
        ShowMessageBox(nullptr, "File Create Error.");
        return -1;
    }
    return 0;
}

int SaveJPEG(const LAYER* pLayer, const char* pszPath, int nQuality)
{
    const uint8_t* pPixels = SavablePixels(pLayer);
    if (!pPixels || !pszPath)
        return -1;
    std::vector<uint8_t> file;
    if (PlatJpegEncode(pPixels, pLayer->nWidth, pLayer->nHeight, pLayer->nWidth * 4, nQuality, &file) != KX_JPEG_OK)
        return -2;
    if (PlatWriteFileAtomic(pszPath, file.data(), file.size()) != 0) {
        ShowMessageBox(nullptr, "File Create Error.");
        return -1;
    }
    return 0;
}

int SaveWEBP(const LAYER* pLayer, const char* pszPath, int nQuality)
{
    const uint8_t* pPixels = SavablePixels(pLayer);
    if (!pPixels || !pszPath)
        return -1;
    const int32_t w = pLayer->nWidth, h = pLayer->nHeight;
    // Room for an encoding larger than the raw pixels, and never less than 1 MiB.
    const double dWanted = static_cast<double>(w) * static_cast<double>(h) * 4.0 * 1.2;
    if (dWanted > 4294967295.0) {
        ShowMessageBox(nullptr, GetEngineText(TXT_IMAGE_ENCODE_ERROR));
        return -1;
    }
    const uint32_t nCap = std::max<uint32_t>(KX_WEBP_MIN_OUTPUT, static_cast<uint32_t>(dWanted));
    uint8_t* pOut = static_cast<uint8_t*>(std::malloc(nCap));
    if (!pOut) {
        ShowMessageBox(nullptr, GetEngineText(TXT_IMAGE_ENCODE_ERROR));
        return -1;
    }
    const int nEncoderQuality = nQuality >= KX_WEBP_QUALITY_LOSSLESS ? -1 : std::max(0, nQuality);
    const uint32_t nSize = g_pfnWebPEncode(pPixels, pOut, nCap, w, h, KX_WEBP_ENCODE_METHOD, nEncoderQuality);
    if (nSize == 0 || nSize > nCap) {
        // Nothing encoded (also: the encoding did not fit): an empty file is no picture.
        std::free(pOut);
        ShowMessageBox(nullptr, GetEngineText(TXT_IMAGE_ENCODE_ERROR));
        return -1;
    }
    const int nRc = PlatWriteFileAtomic(pszPath, pOut, nSize);
    std::free(pOut);
    if (nRc != 0) {
        ShowMessageBox(nullptr, "[SaveWEBP] File Create Error.\r\n\r\n%s", pszPath);
        return -1;
    }
    return 0;
}

int SavePNG(const LAYER* pLayer, const char* pszPath, int nLevel)
{
    const uint8_t* pPixels = SavablePixels(pLayer);
    if (!pPixels || !pszPath)
        return -1;
    const uint8_t bStopBefore = g_bEngineStop.load();
    const int32_t w = pLayer->nWidth, h = pLayer->nHeight;
    const int nZLevel = std::clamp(nLevel, 0, 9);
    const uint64_t nBound = KxPngSaveBound(w, h);
    if (nBound > 0xFFFFFFFFull) {
        ShowMessageBox(nullptr, GetEngineText(TXT_IMAGE_ENCODE_ERROR));
        return -1;
    }
    std::vector<uint8_t> file;
    uint32_t nLen = 0;
    int nRc = -1;
    try {
        file.resize(static_cast<size_t>(nBound));
        nLen = static_cast<uint32_t>(file.size());
        nRc = g_pfnPngSave(pPixels, w, h, w * 4, pLayer->bHasAlpha ? 1 : 0, nZLevel, file.data(), &nLen);
        if (nRc == KX_Z_BUF_ERROR && nLen > file.size()) {
            // The bound is meant to suffice; should the writer still ask for more, give it that.
            file.resize(nLen);
            nRc = g_pfnPngSave(pPixels, w, h, w * 4, pLayer->bHasAlpha ? 1 : 0, nZLevel, file.data(), &nLen);
        }
    } catch (const std::bad_alloc&) {
        nRc = -1;
    }
    if (nRc != 0 || nLen == 0 || nLen > file.size()) {
        ShowMessageBox(nullptr, GetEngineText(TXT_IMAGE_ENCODE_ERROR));
        return -1;
    }
    if (PlatWriteFileAtomic(pszPath, file.data(), nLen) != 0) {
        ShowMessageBox(nullptr, "[SavePNG] File Create Error.\r\n\r\n%s", pszPath);
        return -1;
    }
    return (!bStopBefore && g_bEngineStop.load()) ? 1 : 0;
}

int SaveNodeLayerImage(TREE_NODE* pNode, const char* pszPath, int nFormat, int nLevel)
{
    const LAYER* pLayer = GetNodeLayer(pNode);
    if (!pLayer) return -1;
    switch (nFormat) {
    case KX_SAVE_FORMAT_BMP: return SaveBMP(pLayer, pszPath);
    case KX_SAVE_FORMAT_JPEG: return SaveJPEG(pLayer, pszPath, nLevel);
    case KX_SAVE_FORMAT_WEBP: return SaveWEBP(pLayer, pszPath, nLevel);
    default: return SavePNG(pLayer, pszPath, nLevel);
    }
}
