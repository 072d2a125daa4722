// Drawing for what the platform draws itself (message boxes, menus): rectangles and text runs into
// a 32-bit B,G,R,A picture, the text through the font service at four times its size and
// grey-levelled from the ink count of each 4 x 4 block. Window thread only (the glyph caches are
// not shared).
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/plat_font.h"
#include "platform/plat_window.h"

// Supersampling of the text in each direction.
enum { PLAT_UI_SUPER = 4 };

// A picture to draw into: rows of nStride pixels (0xAARRGGBB as B,G,R,A bytes).
struct PLAT_UI_CANVAS {
    uint32_t* p;
    int w, h, nStride;
};

// One glyph at four times the size: its ink and its advance, in supersampled pixels.
struct PLAT_UI_GLYPH {
    int nLeft, nTop, nWidth, nRows, nPitch, nAdvance;
    std::vector<uint8_t> bits;
};

// A face at one height with its glyph cache.
struct PLAT_UI_FONT {
    PLAT_GLYPH_FONT* pFont = nullptr;   // at PLAT_UI_SUPER times the text height
    std::map<uint32_t, PLAT_UI_GLYPH> glyphs;
    int nAscent4 = 0;                   // supersampled
    int nLineHeight = 0;                // whole pixels, the gap between lines included
};

// Opens the face (cp932 name, mapped as the font service maps face names) at nHeight pixels with
// nLineGap pixels between lines. 0, or -1 when no font can be found (the fonts are loaded first).
int PlatUiFontOpen(PLAT_UI_FONT* pText, const char* pszFaceCp932, int nHeight, int nLineGap);
void PlatUiFontClose(PLAT_UI_FONT* pText);

// UTF-8 to code points (a broken sequence gives U+FFFD for its first byte), and cp932 to them.
std::vector<uint32_t> PlatUiCodePoints(const std::string& strUtf8);
std::vector<uint32_t> PlatUiCodePointsCp932(const char* psz);

// The cached glyph of a code point (a character the fonts lack is an empty glyph).
const PLAT_UI_GLYPH& PlatUiGlyph(PLAT_UI_FONT* pText, uint32_t cp);
// The advance of cp at the supersampled pen position (a tab goes to the next stop of 8 spaces).
int PlatUiAdvance4(PLAT_UI_FONT* pText, uint32_t cp, int nPen4);
// A run's width in whole pixels.
int PlatUiTextWidth(PLAT_UI_FONT* pText, const std::vector<uint32_t>& text);

void PlatUiFillRect(const PLAT_UI_CANVAS& c, int l, int t, int r, int b, uint32_t nColour);
void PlatUiFrameRect(const PLAT_UI_CANVAS& c, const PLAT_RECT& rc, int nThick, uint32_t nColour);
// nFore over nBack with nCover sixteenths.
uint32_t PlatUiBlend(uint32_t nBack, uint32_t nFore, int nCover);
// Draws a run of text with its cell's top-left corner at (x, y), clipped to rcClip.
void PlatUiDrawRun(PLAT_UI_FONT* pText, const PLAT_UI_CANVAS& c, const std::vector<uint32_t>& text, int x, int y,
                   const PLAT_RECT& rcClip, uint32_t nColour);
