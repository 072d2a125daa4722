// Text drawing: one character at a time into a layer's pixels. A character is rendered into the
// current text slot's 1-bit glyph bitmap (image/text_font.h), measured, and written either
// anti-aliased from a glyph drawn at four times the cell size and counted in 4 x 4 samples, or as
// hard 1-bit pixels; coloured by a four-corner gradient, in one of four orientations, optionally
// thickened (edges 1..10) or offset (edges from 11).
#pragma once
#include <cstdint>

struct LAYER;
struct TREE_NODE;

// The colours of a glyph cell's corners (0xRRGGBB).
struct GRADIENT_CORNERS {
    int32_t nTopLeft, nTopRight, nBottomLeft, nBottomRight;
};

// Makes the current slot's glyph font and bitmap fit the request: 1 when they were made, 0 when
// they already fit, -1 after a fatal 100010 (no memory for the bitmap) or 102040 (no glyph font).
int PrepareGlyphFont(int32_t nSize, int32_t nHeight, int32_t bBold, int32_t nFontHeight, int32_t nSide);
// Renders one character (nBytes 1, or 2 for a lead byte with its trail byte) into the current
// slot's bitmap and measures it: *pnAdvance and *pnGlyphHeight, both 0 after a failure. 0, or -1
// when the glyph font could not be made (reported; nothing may be drawn).
int RenderGlyph(const char* pChar, int32_t nBytes, int32_t nSize, int32_t nHeight, int32_t bBold,
                int32_t bAntialias, int32_t* pnAdvance, int32_t* pnGlyphHeight);
// The corner colours of gradient type 0..8 in orientation 0..3 (other orientations as 0, other
// types as 0). Colour B -1 stands for colour A.
GRADIENT_CORNERS SetGradientCorners(int32_t nGradient, int32_t nOrient, int32_t nColorA, int32_t nColorB);

// Write the current slot's bitmap into the layer's pixels with the cell's top-left corner at
// (px, py): anti-aliased (the bitmap holds the glyph at four times the size) or 1-bit. The layer's
// has-alpha flag is set even when the cell does not fit and nothing is drawn; pNode, when given, is
// marked dirty afterwards. 0.
int BlitGlyphAA(int32_t nColorA, int32_t nColorB, int32_t nGradient, int32_t nOrient, int32_t nSize,
                int32_t nHeight, int64_t px, int64_t py, int32_t bTransparent, LAYER* pLayer, TREE_NODE* pNode);
int BlitGlyphMono(int32_t nColorA, int32_t nColorB, int32_t nGradient, int32_t nOrient, int32_t nSize,
                  int32_t nHeight, int64_t px, int64_t py, int32_t bTransparent, LAYER* pLayer, TREE_NODE* pNode);

// Renders and draws one character with the given style at (px, py) and returns its advance in
// pixels. Edge 0 draws once; 1..10 and negative edges draw five times, at (px+e, py), (px, py-e),
// (px, py), (px, py+e), (px-e, py); from 11 on three times, offset by d = edge - 10 right, down and
// diagonally, and not at (px, py).
int32_t DrawTextChar(const char* pChar, int32_t nBytes, int32_t nColorA, int32_t nColorB, int32_t nGradient,
                     int32_t nOrient, int32_t nSize, int32_t nHeight, int32_t bBold, int32_t bAntialias,
                     int32_t nEdge, int32_t px, int32_t py, int32_t bTransparent, LAYER* pLayer, TREE_NODE* pNode);

// Rendered glyphs are kept by family, font height, boldness and character, so that a character
// drawn again costs no rasterisation. Forgets them all (a new font list, tests and benchmarks).
void ClearGlyphCache(void);
// Glyphs the font service has rendered since start (cache misses).
extern int64_t g_llGlyphRenders;

// Connects the text slots and text drawing to the image-effect command, the font list to the
// once-only start-up step and the release of the slots to shut-down.
void InstallTextDrawing(void);
