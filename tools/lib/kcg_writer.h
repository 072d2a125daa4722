// Writes KCG images (the engine's two-part format) for test fixtures and benchmarks: parts raw,
// zlib, Snappy or lossless WebP, and raw options that make damaged files (any head field, a bad
// magic, a cut file, a damaged part). Compresses through the engine's codec entry points
// (core/codecs.h), so LoadCodecLibraries (and LoadWebPDLL for WebP parts) must have run.
#pragma once
#include <cstdint>
#include <vector>

struct KCG_WRITER_OPTIONS {
    int nCodec = 0;                  // how both parts are coded: KCGCOMP_RAW .. KCGCOMP_WEBP
    int nSplitRow = -1;              // rows in part 1 (0..height); -1: height / 2

    // Raw options; each left at its default writes a sound file.
    int64_t llCompression = -1;      // compression field written instead of nCodec
    int64_t llWidth = -1;            // width and height fields written instead of the true ones
    int64_t llHeight = -1;
    int64_t llDecoded1 = -1;         // size fields written instead of the true ones
    int64_t llStored1 = -1;
    int64_t llDecoded2 = -1;
    int64_t llStored2 = -1;
    uint8_t abMagic[4] = {'K', 'C', 'G', 0};
    int nDamagePart = 0;             // bit 1: part 1, bit 2: part 2; the part's data after its first 2
                                     // bytes is overwritten with 0xA5 (its length kept)
    int64_t llTruncate = -1;         // >= 0: the file is cut to this many bytes
};

// The whole file image of a width x height picture (B,G,R,A words, rows top-down); empty when a
// codec failed or the sizes are not sound (width or height < 1, split outside 0..height).
std::vector<uint8_t> BuildKcgImage(int nWidth, int nHeight, const uint32_t* pPixels, const KCG_WRITER_OPTIONS& opt = {});
