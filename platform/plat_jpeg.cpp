// JPEG through libjpeg's version-62 interface. A library error leaves through the error manager's
// error exit, which jumps back to the setjmp of the call in progress. The code between setjmp and a
// possible jump keeps its state in one heap record and holds no object with a destructor, so the
// jump skips nothing that needs running.
#include "platform/plat_jpeg.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

namespace {

enum { KX_JPEG_MAX_SIDE = 65500 };

struct JPEG_ERROR_MGR {
    struct jpeg_error_mgr pub;
    jmp_buf jb;
};

// A library error: back to the setjmp of the running call.
void JpegErrorExit(j_common_ptr pInfo)
{
    JPEG_ERROR_MGR* pErr = reinterpret_cast<JPEG_ERROR_MGR*>(pInfo->err);
    longjmp(pErr->jb, 1);
}

// Warnings and traces are not printed: corrupt data shows in the result, not on stderr.
void JpegOutputMessage(j_common_ptr) {}

// ---------------------------------------------------------------------------------------------
// Decoding from memory

struct JPEG_MEM_SOURCE {
    struct jpeg_source_mgr pub;
    const uint8_t* pData;
    size_t nSize;
    uint8_t bTruncated;
};

const JOCTET g_abFakeEoi[2] = {0xFF, JPEG_EOI};

void InitJpegSource(j_decompress_ptr pInfo)
{
    JPEG_MEM_SOURCE* pSrc = reinterpret_cast<JPEG_MEM_SOURCE*>(pInfo->src);
    pSrc->pub.next_input_byte = pSrc->pData;
    pSrc->pub.bytes_in_buffer = pSrc->nSize;
}

// Asked for more after the whole file was handed out: the file was cut short. An end-of-image
// marker ends the picture; the library fills what is missing and warns.
boolean FillJpegSource(j_decompress_ptr pInfo)
{
    JPEG_MEM_SOURCE* pSrc = reinterpret_cast<JPEG_MEM_SOURCE*>(pInfo->src);
    pSrc->bTruncated = 1;
    pSrc->pub.next_input_byte = g_abFakeEoi;
    pSrc->pub.bytes_in_buffer = 2;
    return TRUE;
}

void SkipJpegSource(j_decompress_ptr pInfo, long nSkip)
{
    JPEG_MEM_SOURCE* pSrc = reinterpret_cast<JPEG_MEM_SOURCE*>(pInfo->src);
    if (nSkip <= 0)
        return;
    while (static_cast<size_t>(nSkip) > pSrc->pub.bytes_in_buffer) {
        nSkip -= static_cast<long>(pSrc->pub.bytes_in_buffer);
        FillJpegSource(pInfo);
    }
    pSrc->pub.next_input_byte += nSkip;
    pSrc->pub.bytes_in_buffer -= static_cast<size_t>(nSkip);
}

void TermJpegSource(j_decompress_ptr) {}

struct JPEG_DECODE_CTX {
    struct jpeg_decompress_struct cinfo;
    JPEG_ERROR_MGR err;
    JPEG_MEM_SOURCE src;
    uint8_t* pGreyRow;   // one row of grey samples (malloc), or NULL
    uint8_t bCreated;
};

void SetupDecoder(JPEG_DECODE_CTX* pCtx, const uint8_t* pData, size_t nSize)
{
    pCtx->cinfo.err = jpeg_std_error(&pCtx->err.pub);
    pCtx->err.pub.error_exit = JpegErrorExit;
    pCtx->err.pub.output_message = JpegOutputMessage;
    jpeg_create_decompress(&pCtx->cinfo);
    pCtx->bCreated = 1;
    pCtx->src.pub.init_source = InitJpegSource;
    pCtx->src.pub.fill_input_buffer = FillJpegSource;
    pCtx->src.pub.skip_input_data = SkipJpegSource;
    pCtx->src.pub.resync_to_restart = jpeg_resync_to_restart;
    pCtx->src.pub.term_source = TermJpegSource;
    pCtx->src.pub.next_input_byte = pData;
    pCtx->src.pub.bytes_in_buffer = nSize;
    pCtx->src.pData = pData;
    pCtx->src.nSize = nSize;
    pCtx->cinfo.src = &pCtx->src.pub;
}

void DestroyDecoder(JPEG_DECODE_CTX* pCtx)
{
    if (pCtx->bCreated)
        jpeg_destroy_decompress(&pCtx->cinfo);
    std::free(pCtx->pGreyRow);
    std::free(pCtx);
}

// The header step of both entries; the jump target is set by the caller.
int ReadHeader(JPEG_DECODE_CTX* pCtx)
{
    if (jpeg_read_header(&pCtx->cinfo, TRUE) != JPEG_HEADER_OK)
        return KX_JPEG_BAD_HEADER;
    if (pCtx->src.bTruncated)   // the header itself ran past the end of the file
        return KX_JPEG_BAD_HEADER;
    return KX_JPEG_OK;
}

}  // namespace

int PlatJpegReadInfo(const uint8_t* pData, size_t nSize, PLAT_JPEG_INFO* pInfo)
{
    if (!pData || nSize == 0 || !pInfo)
        return KX_JPEG_BAD_ARG;
    std::memset(pInfo, 0, sizeof *pInfo);
    JPEG_DECODE_CTX* pCtx = static_cast<JPEG_DECODE_CTX*>(std::calloc(1, sizeof(JPEG_DECODE_CTX)));
    if (!pCtx)
        return KX_JPEG_NO_MEMORY;
    if (setjmp(pCtx->err.jb)) {
        DestroyDecoder(pCtx);
        return KX_JPEG_BAD_HEADER;
    }
    SetupDecoder(pCtx, pData, nSize);
    const int nResult = ReadHeader(pCtx);
    if (nResult == KX_JPEG_OK) {
        pInfo->nWidth = static_cast<int32_t>(pCtx->cinfo.image_width);
        pInfo->nHeight = static_cast<int32_t>(pCtx->cinfo.image_height);
        pInfo->nComponents = pCtx->cinfo.num_components;
    }
    DestroyDecoder(pCtx);
    return nResult;
}

int PlatJpegDecode(const uint8_t* pData, size_t nSize, uint8_t* pDst, int32_t nWidth, int32_t nHeight,
                   int32_t nStride, uint8_t* pbTruncated)
{
    if (pbTruncated)
        *pbTruncated = 0;
    if (!pData || nSize == 0 || !pDst || nWidth <= 0 || nHeight <= 0 || nWidth > KX_JPEG_MAX_SIDE ||
        nHeight > KX_JPEG_MAX_SIDE || static_cast<int64_t>(nStride) < static_cast<int64_t>(nWidth) * 4)
        return KX_JPEG_BAD_ARG;
    JPEG_DECODE_CTX* pCtx = static_cast<JPEG_DECODE_CTX*>(std::calloc(1, sizeof(JPEG_DECODE_CTX)));
    if (!pCtx)
        return KX_JPEG_NO_MEMORY;
    // Set after the header: a jump from there on is an error in the image data.
    volatile int nFailure = KX_JPEG_BAD_HEADER;
    if (setjmp(pCtx->err.jb)) {
        const int nResult = nFailure;
        DestroyDecoder(pCtx);
        return nResult;
    }
    SetupDecoder(pCtx, pData, nSize);
    int nResult = ReadHeader(pCtx);
    if (nResult != KX_JPEG_OK) {
        DestroyDecoder(pCtx);
        return nResult;
    }
    struct jpeg_decompress_struct* pInfo = &pCtx->cinfo;
    if (static_cast<int64_t>(pInfo->image_width) != nWidth || static_cast<int64_t>(pInfo->image_height) != nHeight) {
        DestroyDecoder(pCtx);
        return KX_JPEG_TOO_LARGE;
    }
    uint8_t bGrey = 0, bCmyk = 0;
    if (pInfo->num_components == 1) {
        pInfo->out_color_space = JCS_GRAYSCALE;
        bGrey = 1;
    } else if (pInfo->num_components == 3) {
        pInfo->out_color_space = JCS_EXT_BGRA;   // alpha filled with 0xFF by the library
    } else if (pInfo->num_components == 4 &&
               (pInfo->jpeg_color_space == JCS_CMYK || pInfo->jpeg_color_space == JCS_YCCK)) {
        pInfo->out_color_space = JCS_CMYK;       // the library turns YCCK into CMYK
        bCmyk = 1;
    } else {
        DestroyDecoder(pCtx);
        return KX_JPEG_UNSUPPORTED;
    }
    nFailure = KX_JPEG_BAD_DATA;
    jpeg_start_decompress(pInfo);
    if (static_cast<int64_t>(pInfo->output_width) != nWidth || static_cast<int64_t>(pInfo->output_height) != nHeight ||
        pInfo->output_components != (bGrey ? 1 : 4)) {
        DestroyDecoder(pCtx);
        return KX_JPEG_BAD_DATA;
    }
    if (bGrey) {
        pCtx->pGreyRow = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(nWidth)));
        if (!pCtx->pGreyRow) {
            DestroyDecoder(pCtx);
            return KX_JPEG_NO_MEMORY;
        }
    }
    while (pInfo->output_scanline < pInfo->output_height) {
        uint8_t* pRow = pDst + static_cast<size_t>(pInfo->output_scanline) * static_cast<size_t>(nStride);
        JSAMPROW row = bGrey ? pCtx->pGreyRow : pRow;
        if (jpeg_read_scanlines(pInfo, &row, 1) != 1) {
            DestroyDecoder(pCtx);
            return KX_JPEG_BAD_DATA;
        }
        if (bCmyk) {
            // The samples are inverted CMYK, as Adobe's writers store them (and as other decoders
            // read every CMYK file): a channel is its inverted ink times the inverted black / 255.
            for (int32_t x = 0; x < nWidth; ++x) {
                uint8_t* p = pRow + 4 * x;
                const uint32_t c = p[0], m = p[1], y = p[2], k = p[3];
                p[0] = static_cast<uint8_t>(y * k / 255);
                p[1] = static_cast<uint8_t>(m * k / 255);
                p[2] = static_cast<uint8_t>(c * k / 255);
                p[3] = 0xFF;
            }
        }
        if (bGrey) {
            const uint8_t* pGrey = pCtx->pGreyRow;
            for (int32_t x = 0; x < nWidth; ++x) {
                pRow[4 * x + 0] = pGrey[x];
                pRow[4 * x + 1] = pGrey[x];
                pRow[4 * x + 2] = pGrey[x];
                pRow[4 * x + 3] = 0xFF;
            }
        }
    }
    jpeg_finish_decompress(pInfo);
    if (pbTruncated)
        *pbTruncated = pCtx->src.bTruncated;
    DestroyDecoder(pCtx);
    return KX_JPEG_OK;
}

// ---------------------------------------------------------------------------------------------
// Encoding

namespace {

struct JPEG_ENCODE_CTX {
    struct jpeg_compress_struct cinfo;
    JPEG_ERROR_MGR err;
    unsigned char* pOut;     // the library's output buffer (malloc), or NULL
    unsigned long nOutSize;
    uint8_t bCreated;
};

void DestroyEncoder(JPEG_ENCODE_CTX* pCtx)
{
    if (pCtx->bCreated)
        jpeg_destroy_compress(&pCtx->cinfo);
    std::free(pCtx->pOut);
    std::free(pCtx);
}

// Encodes into pCtx->pOut / nOutSize; the caller copies the bytes out and destroys the record.
int EncodeIntoContext(JPEG_ENCODE_CTX* pCtx, const uint8_t* pPixels, int32_t nWidth, int32_t nHeight, int32_t nStride,
                      int nQuality)
{
    if (setjmp(pCtx->err.jb))
        return KX_JPEG_BAD_DATA;
    pCtx->cinfo.err = jpeg_std_error(&pCtx->err.pub);
    pCtx->err.pub.error_exit = JpegErrorExit;
    pCtx->err.pub.output_message = JpegOutputMessage;
    jpeg_create_compress(&pCtx->cinfo);
    pCtx->bCreated = 1;
    jpeg_mem_dest(&pCtx->cinfo, &pCtx->pOut, &pCtx->nOutSize);
    pCtx->cinfo.image_width = static_cast<JDIMENSION>(nWidth);
    pCtx->cinfo.image_height = static_cast<JDIMENSION>(nHeight);
    pCtx->cinfo.input_components = 4;
    pCtx->cinfo.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&pCtx->cinfo);
    jpeg_set_quality(&pCtx->cinfo, nQuality, TRUE);
    jpeg_start_compress(&pCtx->cinfo, TRUE);
    while (pCtx->cinfo.next_scanline < pCtx->cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pPixels + static_cast<size_t>(pCtx->cinfo.next_scanline) * static_cast<size_t>(nStride));
        jpeg_write_scanlines(&pCtx->cinfo, &row, 1);
    }
    jpeg_finish_compress(&pCtx->cinfo);
    return KX_JPEG_OK;
}

}  // namespace

int PlatJpegEncode(const uint8_t* pPixels, int32_t nWidth, int32_t nHeight, int32_t nStride, int nQuality,
                   std::vector<uint8_t>* pOut)
{
    if (pOut)
        pOut->clear();
    if (!pPixels || !pOut || nWidth <= 0 || nHeight <= 0 || nWidth > KX_JPEG_MAX_SIDE || nHeight > KX_JPEG_MAX_SIDE ||
        static_cast<int64_t>(nStride) < static_cast<int64_t>(nWidth) * 4)
        return KX_JPEG_BAD_ARG;
    if (nQuality < 1)
        nQuality = 1;
    if (nQuality > 100)
        nQuality = 100;
    JPEG_ENCODE_CTX* pCtx = static_cast<JPEG_ENCODE_CTX*>(std::calloc(1, sizeof(JPEG_ENCODE_CTX)));
    if (!pCtx)
        return KX_JPEG_NO_MEMORY;
    int nResult = EncodeIntoContext(pCtx, pPixels, nWidth, nHeight, nStride, nQuality);
    if (nResult == KX_JPEG_OK) {
        if (!pCtx->pOut || pCtx->nOutSize == 0) {
            nResult = KX_JPEG_BAD_DATA;
        } else {
            try {
                pOut->assign(pCtx->pOut, pCtx->pOut + pCtx->nOutSize);
            } catch (...) {
                nResult = KX_JPEG_NO_MEMORY;
            }
        }
    }
    DestroyEncoder(pCtx);
    return nResult;
}
