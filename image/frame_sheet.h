// Frame sheets: one file holding a numbered series of frames for one layer, each a JPEG colour
// image with an optional grey JPEG alpha image. The whole file stays in memory, attached to the
// layer; showing frame n decodes that frame's JPEGs into the layer.
//
// File layout (integers little-endian, 32-bit; offsets from the start of the file):
//   0   8   not read
//   8   4   frame count n
//   12  4   alpha flag: 1 when every frame has an alpha part
//   16  12  header values 1..3 (kept for scripts)
//   28  4   not read
//   32  4n  offset of each frame's colour part
//   +4n 4n  length of each frame's colour part
//   +8n 4n  length of each frame's alpha part (the alpha part follows the colour part directly)
// Each part is stored scrambled: byte j of the part is XORed with ((j AND 0x0F) OR 0x10).
//
// A sheet is checked whole when it is loaded: the tables and every part must lie inside the file,
// so nothing read later can point outside it. The file image itself stays as it was read; a part
// is unscrambled into a scratch buffer when its frame is shown, so frames may share bytes.
#pragma once
#include <cstddef>
#include <cstdint>

struct LAYER;
struct TREE_NODE;

enum {
    KX_SHEET_HEAD_BYTES = 32,
    KX_SHEET_XOR_MASK = 0x0F,
    KX_SHEET_XOR_BIT = 0x10,
};

// Error ids of the frame-sheet code.
enum {
    KX_ERR_SHEET_FILE = 104010,      // fatal, with the name: unreadable or damaged sheet
    KX_ERR_SHEET_NO_LAYER = 101250,  // fatal, with the command name and the path
};

struct FRAME_SHEET {
    int32_t nCount;             // frames (0 when the sheet holds none)
    int32_t nAlphaFlag;         // 1: every frame has an alpha part
    int32_t anHeader[3];        // header values 1..3, not used by the engine
    uint8_t* pFile;             // the file image (owned)
    size_t nFileSize;
    const uint8_t* pOffsets;    // into pFile: the colour-part offsets, nCount entries
    const uint8_t* pColorLens;  // the colour-part lengths
    const uint8_t* pAlphaLens;  // the alpha-part lengths
};

// Unscrambles (or scrambles: the pattern is its own inverse) n bytes of a part from pSrc into pDst.
void UnscrambleSheetPart(const uint8_t* pSrc, uint8_t* pDst, size_t n);

// Reads the named file whole and attaches it to the node's layer as its sheet (the old sheet is
// freed first). Missing file: 104060, a pack that does not open: 901040; those, a failed read and a
// sheet whose tables or parts do not lie inside the file are followed by 104010 with the name.
// 0, or -1 (the layer then has no sheet).
int LoadFrameSheet(TREE_NODE* pNode, const char* pszName);
// Shows frame n (clamped to 0..count-1) of the node's sheet; nothing without a sheet or frames.
void ShowSheetFrame(TREE_NODE* pNode, int64_t n);
// Decodes an unscrambled colour part into the layer (resized when the picture's size differs) and,
// when pAlpha is not NULL, the alpha part. 0, or -1 when the colour part does not decode (the layer
// keeps what it had) or no buffer can be made.
int DecodeJPEGToLayer(const uint8_t* pColor, const uint8_t* pAlpha, size_t nColorLen, size_t nAlphaLen,
                      TREE_NODE* pNode);
// Decodes a grey alpha part into the alpha bytes of the layer's owned pixels; a part that is not
// grey, does not decode, or whose size is not the layer's is ignored.
void DecodeJPEGToAlpha(const uint8_t* pAlpha, size_t nAlphaLen, TREE_NODE* pNode);
// AllocPixelBuffer without a file name: a new cleared w x h buffer, or NULL after a report.
uint8_t* AllocSheetPixels(int32_t nWidth, int32_t nHeight);
// Frees the layer's sheet with its file image and clears the field.
void FreeFrameSheet(LAYER* pLayer);

// Script commands: load and/or show (109), free (110), information (111). 0, or -1 after an error.
int CmdFrameSheetLoad(void);
int CmdFrameSheetFree(void);
int CmdFrameSheetInfo(void);

