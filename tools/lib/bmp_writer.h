// BMP files for tests and tools: every bit depth the engine reads (1, 4, 8 with a palette; 24; 32),
// either row order, Windows and OS/2 information headers, and deliberately damaged headers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

struct BMP_WRITER_OPTIONS {
    int nBits = 24;                    // 1, 4, 8, 24, 32, or any other count (rows then left empty)
    bool bTopDown = false;             // negative height: rows top-down
    std::vector<uint32_t> palette;     // 0x00RRGGBB entries for 1/4/8 bits (missing ones are 0)
    uint32_t nColorsUsed = 0;          // the header's colours-used count (0: 2^bits)
    uint32_t nPaletteEntries = 0;      // entries written (0: colours-used, or 2^bits)
    // Information header size: 40 (Windows), larger (bytes past 40 are written as 0), 12 (the OS/2
    // 1.x core header: 16-bit width and height, palette entries of 3 bytes B,G,R), or 16..39 (an
    // OS/2 2.x header cut short: the fields of the 40-byte form that fit; 4-byte palette entries).
    // OS/2 2.x's full 64-byte header has the 40-byte form's fields where they are: 64 writes it.
    uint32_t nInfoSize = 40;
    uint32_t nCompression = 0;
    // Damage applied after writing: overrides of header fields (when set) and a cut length.
    bool bBadSignature = false;
    int64_t llOffsetOverride = -1;     // pixel-data offset
    bool bWidthOverride = false;
    int32_t nWidthOverride = 0;
    bool bHeightOverride = false;
    int32_t nHeightOverride = 0;
    size_t nTruncateTo = SIZE_MAX;     // file cut to this many bytes
};

// A BMP of width x height pixels. For 1/4/8 bits, pIndices gives one palette index per pixel (rows
// top-down); for 24/32 bits, pPixels gives B,G,R,A pixels as 0xAARRGGBB values (rows top-down; the
// alpha byte is written for 32 bits only). The other pointer may be NULL.
std::vector<uint8_t> WriteBmp(int32_t nWidth, int32_t nHeight, const BMP_WRITER_OPTIONS& opt,
                              const uint32_t* pPixels, const uint8_t* pIndices);
