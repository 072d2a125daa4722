// VOZEZ.DLL: PNG decoding and encoding through libpng.
//
// Ordinal 1 preload decodes a whole file image into B,G,R,A rows kept for the calling thread,
// ordinal 2 load copies them into the caller's buffer, ordinal 3 end releases them; ordinal 4 save
// encodes B,G,R,A rows into a caller's buffer; ordinal 5 decodes straight into the caller's buffer,
// row by row, with the caller's own step on each row while it is in the cache. libpng reports errors by longjmp, so the functions
// that call into it (marked "jump range") hold no object with a destructor and keep every local
// they change after setjmp volatile.
#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "platform/plat_modules.h"

namespace {

// Preload results (see core/codecs.h).
enum { PNG_OK = 0, PNG_DAMAGED = 101, PNG_TOO_LARGE = 102, PNG_BAD_CALL = 103 };
// The widest and tallest picture the engine's layers take.
enum { KX_PNG_MAX_SIDE = 8192 };

// The picture preload decoded on this thread, until end.
struct PNG_DECODED {
    std::vector<uint8_t> pixels;   // nWidth * 4 * nHeight bytes, B,G,R,A rows top-down
    uint32_t nWidth;
    uint32_t nHeight;
};
thread_local PNG_DECODED t_decoded;

struct PNG_MEMORY_READER {
    const uint8_t* pData;
    size_t nSize;
    size_t nPos;
};

struct PNG_MEMORY_WRITER {
    uint8_t* pOut;
    uint64_t nCap;
    uint64_t nTotal;   // bytes the file needs, also past the capacity
};

void PngErrorFn(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void PngWarningFn(png_structp, png_const_charp) {}

void PngReadFn(png_structp png, png_bytep pOut, size_t n)
{
    auto* r = static_cast<PNG_MEMORY_READER*>(png_get_io_ptr(png));
    if (n > r->nSize - r->nPos) png_error(png, "read past the end of the file image");
    std::memcpy(pOut, r->pData + r->nPos, n);
    r->nPos += n;
}

void PngWriteFn(png_structp png, png_bytep pData, size_t n)
{
    auto* w = static_cast<PNG_MEMORY_WRITER*>(png_get_io_ptr(png));
    if (w->nTotal + n <= w->nCap) std::memcpy(w->pOut + w->nTotal, pData, n);
    w->nTotal += n;
}

void PngFlushFn(png_structp) {}

// Jump range. Reads the header and sets up the transforms to B,G,R,A with 8 bits per sample.
int ReadPngHeader(png_structp png, png_infop info, PNG_MEMORY_READER* pReader, uint32_t* pWidth,
                  uint32_t* pHeight, int* pbHasAlpha)
{
    if (setjmp(png_jmpbuf(png))) return PNG_DAMAGED;
    png_set_read_fn(png, pReader, PngReadFn);
    png_read_info(png, info);
    png_uint_32 nWidth = 0, nHeight = 0;
    int nDepth = 0, nColour = 0;
    png_get_IHDR(png, info, &nWidth, &nHeight, &nDepth, &nColour, nullptr, nullptr, nullptr);
    if (nWidth == 0 || nHeight == 0 || static_cast<uint64_t>(nWidth) * nHeight * 4 > UINT32_MAX)
        return PNG_DAMAGED;
    // Deflate packs at most about 1032 bytes into one, so a file image of nSize bytes cannot hold
    // more rows than that: a header that claims more is refused before the picture is allocated.
    const uint64_t nRowBytes = (static_cast<uint64_t>(nWidth) * png_get_channels(png, info) * nDepth + 7) / 8;
    if (nRowBytes * nHeight > static_cast<uint64_t>(pReader->nSize) * 1032 + 65536) return PNG_DAMAGED;
    const int bTrns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    const int bHasAlpha = (nColour & PNG_COLOR_MASK_ALPHA) != 0 || bTrns;
    if (nColour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (nColour == PNG_COLOR_TYPE_GRAY && nDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (bTrns) png_set_tRNS_to_alpha(png);
    if (nDepth == 16) png_set_scale_16(png);
    if (nColour == PNG_COLOR_TYPE_GRAY || nColour == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    png_set_bgr(png);
    if (!bHasAlpha) png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != static_cast<size_t>(nWidth) * 4) return PNG_DAMAGED;
    *pWidth = nWidth;
    *pHeight = nHeight;
    *pbHasAlpha = bHasAlpha;
    return PNG_OK;
}

// Jump range. Decodes every row (all interlace passes) and checks the rest of the file.
int ReadPngImage(png_structp png, png_infop info, png_bytep* ppRows)
{
    if (setjmp(png_jmpbuf(png))) return PNG_DAMAGED;
    png_read_image(png, ppRows);
    png_read_end(png, nullptr);
    return PNG_OK;
}

// A read of a file image: the library's structures and what the header said.
struct PNG_READ {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PNG_MEMORY_READER reader{};
    uint32_t nWidth = 0, nHeight = 0;
    int bHasAlpha = 0;
};

// Checks the signature, makes the library's structures and reads the header (ReadPngHeader).
// PNG_OK, or the failure; EndPngRead afterwards either way.
int BeginPngRead(const uint8_t* pData, uint32_t nSize, PNG_READ* r)
{
    if (!pData || nSize < 8 || png_sig_cmp(pData, 0, 8) != 0) return PNG_DAMAGED;
    r->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngErrorFn, PngWarningFn);
    r->info = r->png ? png_create_info_struct(r->png) : nullptr;
    if (!r->info) return PNG_TOO_LARGE;
    r->reader = PNG_MEMORY_READER{pData, nSize, 0};
    return ReadPngHeader(r->png, r->info, &r->reader, &r->nWidth, &r->nHeight, &r->bHasAlpha);
}

void EndPngRead(PNG_READ* r)
{
    if (r->png) png_destroy_read_struct(&r->png, r->info ? &r->info : nullptr, nullptr);
}

// Ordinal 1: decodes the file image of nSize bytes. 0 with the size and the alpha byte (0 when the
// picture has alpha: a colour type with alpha, or tRNS; else 1); 101 when the file is damaged (a bad
// signature or header, w x h x 4 beyond 32 bits, more rows than the file can hold, image data that
// does not decode), 102 when the picture is wider or taller than 8192 (refused before anything is
// allocated) or there is no memory for it, 103 for a bad call.
int VozezPreload(const char* pszName, const uint8_t* pData, uint32_t nSize, int32_t* pWidth, int32_t* pHeight,
                 uint8_t* pbNoAlpha)
{
    std::vector<uint8_t>().swap(t_decoded.pixels);
    t_decoded.nWidth = t_decoded.nHeight = 0;
    if (!pWidth || !pHeight || !pbNoAlpha) return PNG_BAD_CALL;
    *pWidth = *pHeight = 0;
    *pbNoAlpha = 1;
    PNG_READ r;
    int nResult = BeginPngRead(pData, nSize, &r);
    const uint32_t nWidth = r.nWidth, nHeight = r.nHeight;
    const int bHasAlpha = r.bHasAlpha;
    // The engine's pixel buffers hold at most KX_PNG_MAX_SIDE a side: a larger picture is refused
    // before its copy here is allocated (a small file can claim gigabytes).
    if (nResult == PNG_OK && (nWidth > KX_PNG_MAX_SIDE || nHeight > KX_PNG_MAX_SIDE)) nResult = PNG_TOO_LARGE;
    if (nResult == PNG_OK) {
        std::vector<png_bytep> rows;
        try {
            t_decoded.pixels.resize(static_cast<size_t>(nWidth) * 4 * nHeight);
            rows.resize(nHeight);
        } catch (const std::bad_alloc&) {
            nResult = PNG_TOO_LARGE;
        }
        if (nResult == PNG_OK) {
            for (uint32_t y = 0; y < nHeight; ++y) rows[y] = t_decoded.pixels.data() + static_cast<size_t>(y) * nWidth * 4;
            nResult = ReadPngImage(r.png, r.info, rows.data());
        }
    }
    EndPngRead(&r);
    if (nResult != PNG_OK) {
        std::vector<uint8_t>().swap(t_decoded.pixels);
        return nResult;
    }
    t_decoded.nWidth = nWidth;
    t_decoded.nHeight = nHeight;
    *pWidth = static_cast<int32_t>(nWidth);
    *pHeight = static_cast<int32_t>(nHeight);
    *pbNoAlpha = bHasAlpha ? 0 : 1;
    return PNG_OK;
}

// Ordinal 2: copies the preloaded rows. The height must be the picture's, the stride at least
// width x 4. 0, or -1 (nothing preloaded on this thread, or a size that does not fit).
int VozezLoad(uint8_t* pPixels, int32_t nHeight, int32_t nStride)
{
    const PNG_DECODED& d = t_decoded;
    if (!pPixels || d.pixels.empty() || nHeight < 0 || static_cast<uint32_t>(nHeight) != d.nHeight ||
        nStride < 0 || static_cast<uint64_t>(nStride) < static_cast<uint64_t>(d.nWidth) * 4)
        return -1;
    const size_t nRow = static_cast<size_t>(d.nWidth) * 4;
    for (uint32_t y = 0; y < d.nHeight; ++y)
        std::memcpy(pPixels + static_cast<size_t>(y) * static_cast<size_t>(nStride), d.pixels.data() + y * nRow, nRow);
    return 0;
}

// The caller's side of a decode into its buffer (ordinal 5): the buffer for width x height pixels
// (or NULL), and the step on each finished row.
typedef uint8_t* (*PNG_BUFFER_FN)(void* pContext, int32_t nWidth, int32_t nHeight);
typedef void (*PNG_ROW_FN)(void* pContext, uint8_t* pRow, int32_t nWidth);
struct PNG_INTO {
    PNG_ROW_FN pfnRow;
    void* pContext;
};

// Jump range. Decodes the rows into pPixels (stride nWidth x 4) and checks the rest of the file.
// Rows of a file without interlacing come one at a time and each is handed to the row function at
// once; interlaced passes fill the whole picture first, then every row is handed over.
int ReadPngInto(png_structp png, png_infop info, uint8_t* pPixels, uint32_t nWidth, uint32_t nHeight,
                const PNG_INTO* pInto, png_bytep* ppRows)
{
    if (setjmp(png_jmpbuf(png))) return PNG_DAMAGED;
    const size_t nRow = static_cast<size_t>(nWidth) * 4;
    if (png_get_interlace_type(png, info) == PNG_INTERLACE_NONE) {
        // The row counter is not read after a jump, so it need not be volatile.
        for (uint32_t y = 0; y < nHeight; ++y) {
            uint8_t* pRow = pPixels + static_cast<size_t>(y) * nRow;
            png_read_row(png, pRow, nullptr);
            if (pInto->pfnRow) pInto->pfnRow(pInto->pContext, pRow, static_cast<int32_t>(nWidth));
        }
    } else {
        for (uint32_t y = 0; y < nHeight; ++y) ppRows[y] = pPixels + static_cast<size_t>(y) * nRow;
        png_read_image(png, ppRows);
        if (pInto->pfnRow)
            for (uint32_t y = 0; y < nHeight; ++y) pInto->pfnRow(pInto->pContext, ppRows[y], static_cast<int32_t>(nWidth));
    }
    png_read_end(png, nullptr);
    return PNG_OK;
}

// Ordinal 5: preload, load and end in one, the rows decoded into the buffer the caller gives once it
// knows the size; pfnRow may be NULL. The results of preload, or -1 when the caller gave no buffer.
int VozezDecodeInto(const char* pszName, const uint8_t* pData, uint32_t nSize, int32_t* pWidth, int32_t* pHeight,
                    uint8_t* pbNoAlpha, PNG_BUFFER_FN pfnBuffer, PNG_ROW_FN pfnRow, void* pContext)
{
    (void)pszName;
    if (!pWidth || !pHeight || !pbNoAlpha || !pfnBuffer) return PNG_BAD_CALL;
    *pWidth = *pHeight = 0;
    *pbNoAlpha = 1;
    PNG_READ r;
    int nResult = BeginPngRead(pData, nSize, &r);
    const uint32_t nWidth = r.nWidth, nHeight = r.nHeight;
    if (nResult == PNG_OK) {
        *pWidth = static_cast<int32_t>(nWidth);
        *pHeight = static_cast<int32_t>(nHeight);
        *pbNoAlpha = r.bHasAlpha ? 0 : 1;
        uint8_t* pPixels = pfnBuffer(pContext, static_cast<int32_t>(nWidth), static_cast<int32_t>(nHeight));
        std::vector<png_bytep> rows;
        if (!pPixels) {
            nResult = -1;
        } else {
            try {
                if (png_get_interlace_type(r.png, r.info) != PNG_INTERLACE_NONE) rows.resize(nHeight);
            } catch (const std::bad_alloc&) {
                nResult = PNG_TOO_LARGE;
            }
        }
        const PNG_INTO into{pfnRow, pContext};
        if (nResult == PNG_OK) nResult = ReadPngInto(r.png, r.info, pPixels, nWidth, nHeight, &into, rows.data());
    }
    EndPngRead(&r);
    return nResult;
}

// Ordinal 3: releases what preload kept on this thread.
void VozezEnd(void)
{
    std::vector<uint8_t>().swap(t_decoded.pixels);
    t_decoded.nWidth = t_decoded.nHeight = 0;
}

// Jump range. Writes the whole file through the memory writer.
int WritePng(png_structp png, png_infop info, PNG_MEMORY_WRITER* pWriter, const uint8_t* pPixels, uint32_t nWidth,
             uint32_t nHeight, size_t nStride, int bHasAlpha, int nLevel)
{
    if (setjmp(png_jmpbuf(png))) return -1;
    png_set_write_fn(png, pWriter, PngWriteFn, PngFlushFn);
    png_set_compression_level(png, nLevel);
    png_set_IHDR(png, info, nWidth, nHeight, 8, bHasAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);
    if (!bHasAlpha) png_set_filler(png, 0, PNG_FILLER_AFTER);   // drops the fourth byte
    for (uint32_t y = 0; y < nHeight; ++y) png_write_row(png, pPixels + static_cast<size_t>(y) * nStride);
    png_write_end(png, info);
    return 0;
}

// Ordinal 4: encodes width x height B,G,R,A pixels (rows top-down, nStride bytes apart) as a PNG
// file with alpha (bHasAlpha non-zero) or RGB, zlib level 0..9 (clamped). *pOutLen: capacity in,
// file size out. 0; -5 when the capacity is too small (*pOutLen then holds the size needed); -1 for
// a bad call or a library failure (*pOutLen 0).
int VozezSave(const uint8_t* pPixels, int32_t nWidth, int32_t nHeight, int32_t nStride, uint8_t bHasAlpha,
              int nLevel, uint8_t* pOut, uint32_t* pOutLen)
{
    if (!pOutLen) return -1;
    const uint32_t nCap = *pOutLen;
    *pOutLen = 0;
    if (!pPixels || (!pOut && nCap) || nWidth <= 0 || nHeight <= 0 ||
        static_cast<uint64_t>(nWidth) * static_cast<uint64_t>(nHeight) * 4 > UINT32_MAX ||
        static_cast<int64_t>(nStride) < static_cast<int64_t>(nWidth) * 4)
        return -1;
    if (nLevel < 0) nLevel = 0;
    if (nLevel > 9) nLevel = 9;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngErrorFn, PngWarningFn);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return -1;
    }
    PNG_MEMORY_WRITER writer{pOut, nCap, 0};
    const int nResult = WritePng(png, info, &writer, pPixels, static_cast<uint32_t>(nWidth),
                                 static_cast<uint32_t>(nHeight), static_cast<size_t>(nStride), bHasAlpha != 0, nLevel);
    png_destroy_write_struct(&png, &info);
    if (nResult != 0) return -1;
    if (writer.nTotal > nCap) {
        *pOutLen = writer.nTotal <= UINT32_MAX ? static_cast<uint32_t>(writer.nTotal) : UINT32_MAX;
        return -5;
    }
    *pOutLen = static_cast<uint32_t>(writer.nTotal);
    return 0;
}

const PLAT_MODULE_ENTRY k_aEntries[] = {
    {nullptr, 1, reinterpret_cast<void*>(&VozezPreload)},
    {nullptr, 2, reinterpret_cast<void*>(&VozezLoad)},
    {nullptr, 3, reinterpret_cast<void*>(&VozezEnd)},
    {nullptr, 4, reinterpret_cast<void*>(&VozezSave)},
    {nullptr, 5, reinterpret_cast<void*>(&VozezDecodeInto)},
};

}  // namespace

const PLAT_MODULE_ENTRY* PlatPngModuleEntries(int* pnCount)
{
    *pnCount = static_cast<int>(sizeof k_aEntries / sizeof k_aEntries[0]);
    return k_aEntries;
}
