// Fonts in place of GDI's font enumeration and glyph rendering: the installed font families through
// fontconfig, monochrome glyphs through FreeType. The only code that includes their headers.
//
// Glyphs are outlines rendered without hinting in 1-bit form, scaled so that the font's ascent plus
// descent (its em for the fonts games use) equals the requested height; the engine makes its own
// grey levels by supersampling. A family's real bold face is used where it has one, otherwise the
// regular outline is emboldened.
#pragma once
#include <cstddef>
#include <cstdint>

// A face name in code page 932 is at most this many bytes with its terminator (LOGFONT's 32).
enum { PLAT_FONT_NAME_BYTES = 32 };

// GDI's pitch bits (the low two bits of the pitch-and-family byte).
enum { PLAT_PITCH_DEFAULT = 0, PLAT_PITCH_FIXED = 1, PLAT_PITCH_VARIABLE = 2 };

struct PLAT_FONT_FAMILY {
    char szName[PLAT_FONT_NAME_BYTES];  // cp932, terminated
    uint8_t bJapanese;                  // 1 when the family serves Japanese text
    uint8_t bPitch;                     // PLAT_PITCH_FIXED or PLAT_PITCH_VARIABLE
    uint8_t bHasBold;                   // 1 when the family has a real bold face
};

// Loads the font set: pszFolder NULL takes the system's fonts through the fontconfig
// configuration; a native folder takes only the font files in it (tests: no system fonts). An
// earlier set is released first, and every glyph font made from it must have been destroyed. 0, or
// -1 when fontconfig cannot be set up (the set is then empty).
int PlatFontsInit(const char* pszFolder);
// Releases the font set (shut-down and tests). Glyph fonts still alive stay usable.
void PlatFontsShutdown(void);
// Loads the system's font set when no set is loaded (the boxes the platform draws itself may come
// before the engine's start-up loads it, or after its shut-down). A set already loaded, the
// engine's or a test's, stays as it is: the engine's font list keeps indices into it. 0, or -1
// when the system's set cannot be loaded.
int PlatFontsEnsureLoaded(void);

// The families of the set, one entry per family, sorted by the bytes of their cp932 names. Only
// scalable outline fonts whose name has a cp932 form of at most 31 bytes are listed. The pointer
// stays valid until the set is loaded again or released; out of range: NULL.
int PlatFontFamilyCount(void);
const PLAT_FONT_FAMILY* PlatFontFamily(int nIndex);
// The index of the family with exactly this cp932 name, or -1.
int PlatFindFontFamily(const char* pszName);

// The substitutes for a face name that games ask for (the Japanese system faces), in the order
// they are tried, ended by NULL; a name without substitutes gives a list holding only NULL. Names
// are cp932; the list lives for the whole run.
const char* const* PlatFontSubstitutes(const char* pszName);
// The family that draws characters a face lacks: the first family of the set that one of the
// default Japanese face names or their substitutes names, else -1.
int PlatFallbackFontFamily(void);

// A glyph font: one family at one pixel height, regular or bold.
struct PLAT_GLYPH_FONT;

// Makes a glyph font of the family with this cp932 name (exactly, else through its substitutes,
// else the fallback family) at nHeight pixels (1..4096). NULL when no family can serve or FreeType
// fails.
PLAT_GLYPH_FONT* PlatGlyphFontCreate(const char* pszName, int nHeight, int bBold);
void PlatGlyphFontDestroy(PLAT_GLYPH_FONT* pFont);

// One rendered glyph: a 1-bit bitmap (1 = ink, most significant bit first) placed in the character
// cell, whose top-left corner is the pen position with the cell's top at the font's ascent above
// the baseline (as GDI draws text at (0, 0) with top alignment).
struct PLAT_GLYPH {
    int32_t nLeft, nTop;       // the bitmap's top-left pixel in the cell (may be negative)
    int32_t nWidth, nRows;     // bitmap size in pixels; 0 x 0 when the glyph has no ink
    int32_t nPitch;            // bytes per bitmap row
    int32_t nAdvance;          // the pen's advance in whole pixels
    const uint8_t* pBits;      // valid until the next render on this font or its destruction
};

// Renders one cp932 character of nBytes (1, or 2 for a lead byte and its trail byte). A character
// without a Unicode form, a control character (below 0x20, and 0x7F) or a lone lead byte gives an
// empty glyph. A character the family lacks is taken from the fallback family; when that lacks it
// too the glyph is empty (never a missing-glyph box). 0, or -1 when FreeType fails (empty glyph).
int PlatGlyphRender(PLAT_GLYPH_FONT* pFont, const char* pChar, int nBytes, PLAT_GLYPH* pGlyph);
// The same for a Unicode code point (texts the engine draws itself: boxes and menus).
int PlatGlyphRenderCodePoint(PLAT_GLYPH_FONT* pFont, uint32_t nCodePoint, PLAT_GLYPH* pGlyph);

// The font's ascent (baseline below the cell top) and line height in whole pixels.
int PlatGlyphFontAscent(const PLAT_GLYPH_FONT* pFont);
int PlatGlyphFontLineHeight(const PLAT_GLYPH_FONT* pFont);

// The Unicode code point of a cp932 character of nBytes, or 0 when it has none.
uint32_t PlatCp932CharToUnicode(const char* pChar, int nBytes);
