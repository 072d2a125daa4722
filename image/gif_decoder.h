// The GIF decoder: GIF87a/GIF89a files into a layer. Every image of the file is decoded into the
// layer's frame table (KX_GIF_MAX_FRAMES entries, each frame with its own palette and timing) and
// frame 0 is drawn into the layer's pixels. The LZW variant is GIF's: variable code width up to 12
// bits, clear and end codes, a table of 4096 codes.
//
// Every length and index that comes from the file is checked: reading past the end of the file
// image gives 0 bytes, a code that is not in the table ends the row it is in, and the table never
// grows past 4096 entries.
#pragma once
#include <cstddef>
#include <cstdint>

struct LAYER;
struct FILE_LOCATION;

// Error ids of the GIF loader.
enum {
    KX_ERR_GIF_TOO_LARGE = 100091,   // script error with the name: screen or frame above 8192
    KX_ERR_GIF_LOAD = 100215,        // any failed GIF load, reported by the image loader
};

enum {
    KX_GIF_MAX_SIZE = 8192,          // widest and tallest screen or frame accepted
    KX_GIF_LZW_CODES = 4096,         // entries of the LZW table
    KX_GIF_EMPTY_CODE = 4098,        // prefix value of an empty table entry
    KX_GIF_FRAME_HEAD = 1024,        // bytes in front of a frame's indices
    KX_GIF_FRAME_EXTRA = 1040,       // bytes of a frame record besides width*height
};

// One decoded image of a GIF file. The record is KX_GIF_FRAME_EXTRA + width*height bytes: this head
// (KX_GIF_FRAME_HEAD bytes, cleared before it is filled), then the colour indices, rows top-down.
struct GIF_FRAME {
    int32_t nLeft;                   // 0    position on the logical screen
    int32_t nTop;                    // 4
    int32_t nWidth;                  // 8
    int32_t nHeight;                 // 12
    int32_t nDisposal;               // 16   disposal method of the graphic control extension
    int32_t nTransparentFlag;        // 20   1: nTransparentIndex is drawn with alpha 0
    int32_t nDelay;                  // 24   hundredths of a second
    int32_t nTransparentIndex;       // 28
    int32_t nLoopCount;              // 32   1 when the file has no loop extension
    uint8_t abReserved36[28];        // 36
    uint8_t abPalette[256 * 3];      // 64   R, G, B
    uint8_t abReserved832[192];      // 832
    uint8_t abIndices[1];            // 1024 width*height indices (the record is allocated larger)
};
static_assert(offsetof(GIF_FRAME, abPalette) == 64, "GIF frame head layout");
static_assert(offsetof(GIF_FRAME, abIndices) == KX_GIF_FRAME_HEAD, "GIF frame head layout");

// The frame's colour indices (width*height bytes, rows top-down).
inline uint8_t* GIFFrameIndices(GIF_FRAME* pFrame)
{
    return reinterpret_cast<uint8_t*>(pFrame) + KX_GIF_FRAME_HEAD;
}

// The file image and a read position. Reads past the end give 0 rather than failing.
struct GIF_CURSOR {
    const uint8_t* pData;
    size_t nSize;
    size_t nPos;
};

// The LZW state of one image.
struct GIF_LZW_STATE {
    GIF_CURSOR* pCursor;
    int32_t nInitCodeSize;           // the minimum code size byte (1..11)
    int32_t nClearCode;              // 2^n
    int32_t nEndCode;                // 2^n + 1
    int32_t nNextCode;               // next free table entry
    int32_t nCodeWidth;              // current code width in bits (n + 1 .. 12)
    int32_t nCodeLimit;              // 2^nCodeWidth: the width grows when nNextCode reaches it
    int32_t nPrevCode;               // previous code, -1 right after a clear
    uint32_t uBitBuffer;
    int32_t nBitCount;
    uint8_t abBlock[256];            // the current data sub-block
    int32_t nBlockPos;
    int32_t nBlockSize;
    uint8_t bEndOfData;              // the zero-size sub-block was read (or the file ended)
    uint8_t bEndCode;                // the end code was read: the image has no more indices
    uint16_t anPrefix[KX_GIF_LZW_CODES];
    uint8_t abSuffix[KX_GIF_LZW_CODES];
    uint8_t abFirst[KX_GIF_LZW_CODES];   // first index of each entry's string
    uint16_t anLength[KX_GIF_LZW_CODES]; // length of each entry's string
    uint8_t abStack[KX_GIF_LZW_CODES + 1];
    int32_t nStackSize;              // indices still waiting on the stack (popped from the top)
};

// Cursor reads: a byte, a little-endian u16, n bytes (what lies past the end is zero-filled).
uint8_t ReadGIFByte(GIF_CURSOR* pCur);
uint16_t ReadGIFWord(GIF_CURSOR* pCur);
void ReadGIFBytes(GIF_CURSOR* pCur, uint8_t* pOut, size_t n);
// Skips data sub-blocks up to and with the zero terminator (or the end of the file image).
void SkipGIFSubBlocks(GIF_CURSOR* pCur);

// Prepares the LZW state for an image with the given minimum code size. 0, or -1 for a size
// outside 1..11 (the clear code would not fit the table).
int InitGIFLZW(GIF_LZW_STATE* pState, GIF_CURSOR* pCur, int nMinCodeSize);
// The next data byte of the image, 0 once the data has ended.
uint8_t ReadGIFCodeByte(GIF_LZW_STATE* pState);
// The next code of the current width (LSB first).
int ReadGIFCode(GIF_LZW_STATE* pState);
// Follows prefix entries while code > nLimit, at most KX_GIF_LZW_CODES steps; the code reached.
int FollowLZWChain(const uint16_t* pPrefix, int nCode, int nLimit);
// Decodes the next nWidth indices of the image into pRow. Returns the number written: fewer when
// the end code, the end of the data or a data error cut the row short (what was written stays).
int DecodeGIFLine(GIF_LZW_STATE* pState, uint8_t* pRow, int nWidth);

// Decodes a GIF file image into the layer (frame table, size, pixels, has-alpha; frame 0 drawn,
// pixels it does not cover 0). The file image stays the caller's. pszName is used in reports.
// 0; 1 when the pixel buffer cannot be made; -1 for a malformed file, a screen or frame above 8192
// (script error 100091, fatal, with the name), a file without any image or no memory for a frame.
// Frames decoded before a failure stay in the table.
int DecodeGIF(const uint8_t* pData, size_t nSize, LAYER* pLayer, const char* pszName);

// The image loader's entry: reads the located file whole with the reader of its source kind into
// pLoc->pData and nSize (a file image already there is taken as it is), then DecodeGIF. The file
// image is freed before returning and pLoc->pData set to NULL. 0; 1 when the file cannot
// be read or the pixel buffer cannot be made; -1 for a malformed file. The caller turns any
// non-zero result into error 100215 (fatal).
int LoadGIF(FILE_LOCATION* pLoc, LAYER* pLayer, const char* pszName);

// Draws frame nIndex into the layer's owned pixels at its position: B, G, R from its palette, A 0
// for the transparent index (when its flag is set), else 255. Parts outside the layer are not
// drawn; pixels outside the frame keep their values. 0, or -1 when the frame does not exist or the
// layer has no pixels.
int DrawGIFFrame(LAYER* pLayer, int nIndex);

// Chooses the decoder DecodeGIF and DrawGIFFrame use: 0 the fast one (the default), 1 the plain
// one (row by row with DecodeGIFLine, colour by colour), which gives the same bytes and which tests
// compare the fast one with. Returns the previous choice.
int SetGIFPlainDecoder(int bPlain);

// Frees every frame of the layer's table and the table itself.
void FreeGIFFrames(LAYER* pLayer);
