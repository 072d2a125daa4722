// A GIF writer with its own LZW encoder, for test fixtures and benchmarks: palettes, transparency,
// interlace, several frames, the usual extensions, and raw options that make damaged files (chosen
// code streams, forced or withheld clear codes, missing end code or terminators).
#pragma once
#include <cstdint>
#include <vector>

// How the image data of one frame is encoded.
struct GIF_LZW_OPTIONS {
    int nMinCodeSize = 0;            // 0: the smallest size (>= 2) that holds every index
    int nClearAtPixel = -1;          // >= 0: a clear code is sent before this pixel (in stream order)
    bool bDeferredClear = false;     // a full table is kept (no clear) and used without new entries
    bool bClearFirst = true;         // the stream starts with a clear code
    int nEndAtPixel = -1;            // >= 0: the end code is sent before this pixel and nothing after
    bool bNoEndCode = false;         // the stream ends without its end code
};

struct GIF_WRITER_FRAME {
    int nLeft = 0, nTop = 0, nWidth = 0, nHeight = 0;
    std::vector<uint8_t> indices;    // nWidth * nHeight colour indices, rows top-down
    std::vector<uint8_t> localPalette;   // R, G, B triples (2..256 entries, padded to a power of 2)
    bool bInterlace = false;
    bool bControl = false;           // write a graphic control extension before the image
    int nDisposal = 0;
    bool bTransparent = false;
    int nTransparentIndex = 0;
    int nDelay = 0;
    GIF_LZW_OPTIONS lzw;
    // Raw overrides for damaged files.
    std::vector<int> rawCodes;       // non-empty: these codes are packed instead of the encoder's
    int nRawMinCodeSize = -1;        // >= 0: this byte is written as the minimum code size
    int nSubBlockSize = 255;         // size of the data sub-blocks (1..255)
    bool bNoTerminator = false;      // the image data has no zero terminator
    std::vector<uint8_t> before;     // raw bytes written before this frame's blocks
};

struct GIF_WRITER_FILE {
    int nScreenWidth = 0, nScreenHeight = 0;
    std::vector<uint8_t> globalPalette;   // R, G, B triples; empty: no global table
    int nBackground = 0;
    int nLoopCount = -1;             // >= 0: a NETSCAPE2.0 loop extension after the header
    bool b87a = false;
    std::vector<GIF_WRITER_FRAME> frames;
    std::vector<uint8_t> beforeTrailer;   // raw bytes written after the frames
    bool bTrailer = true;
};

// The whole file.
std::vector<uint8_t> WriteGIF(const GIF_WRITER_FILE& file);
// The LZW codes of the indices (clear and end codes included), as the options ask.
std::vector<int> EncodeGIFCodes(const std::vector<uint8_t>& indices, int nMinCodeSize, const GIF_LZW_OPTIONS& opt);
// Codes packed LSB first, with the code width a decoder would use at each point.
std::vector<uint8_t> PackGIFCodes(const std::vector<int>& codes, int nMinCodeSize);
// Data cut into sub-blocks of nBlockSize bytes, with or without the zero terminator.
std::vector<uint8_t> MakeGIFSubBlocks(const std::vector<uint8_t>& data, int nBlockSize, bool bTerminator);
// The rows of an image in the order an interlaced file stores them.
std::vector<uint8_t> InterlaceGIFRows(const std::vector<uint8_t>& indices, int nWidth, int nHeight);
// Extension blocks: a comment (one sub-block per text), an application block with raw sub-blocks.
std::vector<uint8_t> MakeGIFComment(const std::vector<std::vector<uint8_t>>& subBlocks);
std::vector<uint8_t> MakeGIFApplication(const char* pszId11, const std::vector<std::vector<uint8_t>>& subBlocks);
