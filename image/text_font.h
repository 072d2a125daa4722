// Fonts and text slots: the list of installed font families, the eight text slots that hold a text
// style each together with the slot's own glyph-rendering state, and the lookup tables that turn
// glyph bits into coverage. Text is drawn one character at a time from a 1-bit glyph bitmap per
// slot (image/text_draw.h).
#pragma once
#include <cstdint>

struct PLAT_GLYPH_FONT;

enum {
    KX_TEXT_SLOTS = 8,        // slots 0..7
    KX_TEXT_MAX_SIZE = 256,   // largest glyph cell width and height
};

// Pitch bytes of the font list.
enum { KX_FONT_PITCH_FIXED = 0, KX_FONT_PITCH_PROPORTIONAL = 1, KX_FONT_PITCH_OTHER = 255 };

// Error ids of fonts and text styles.
enum {
    KX_ERR_TEXT_FONT_NUMBER = 101240,  // a font number above the number of font entries (with the count)
    KX_ERR_GLYPH_FONT = 102040,        // a glyph font cannot be made
};

// ---- The font list (filled once at start-up) ----
extern char** g_apszFontName;          // face names in code page 932
extern int32_t g_nFonts;
extern uint8_t* g_abFontNonJapanese;   // 0 for a family that serves Japanese text, else 1
extern uint8_t* g_abFontPitch;         // KX_FONT_PITCH_*

// ---- The text slots: one text style per slot, as parallel arrays ----
extern int32_t g_nTextSlot;                          // the current slot (0 outside the style command)
extern int32_t g_anSlotFont[KX_TEXT_SLOTS];          // index into the font list
extern int32_t g_anTextSize[KX_TEXT_SLOTS];          // glyph cell width 0..256
extern int32_t g_anTextHeight[KX_TEXT_SLOTS];        // glyph cell height 0..256
extern int32_t g_anTextBold[KX_TEXT_SLOTS];          // 0/1
extern int32_t g_anTextColorA[KX_TEXT_SLOTS];        // 0xRRGGBB
extern int32_t g_anTextColorB[KX_TEXT_SLOTS];        // 0xRRGGBB, -1: the same as A
extern uint8_t g_abTextGradient[KX_TEXT_SLOTS];      // gradient type 0..8
extern uint8_t g_abTextOrient[KX_TEXT_SLOTS];        // orientation 0..8 (0..3 drawn, the rest as 0)
extern uint8_t g_abTextAntialias[KX_TEXT_SLOTS];     // 1: glyphs supersampled 4 x 4
extern uint8_t g_abTextTransparent[KX_TEXT_SLOTS];   // 1: glyphs blend onto the layer's pixels

// Per slot rendering state: the glyph font of the last request and the slot's square 1-bit glyph
// bitmap (side x side pixels, rows of side/8 bytes top-down, most significant bit first, a 0 bit
// is ink), the key they were made for, and the last character rendered with its measures.
struct TEXT_RENDER_SLOT {
    PLAT_GLYPH_FONT* pFont;
    uint8_t* pBits;
    int32_t nSide;
    int32_t nBitsBytes;      // side * side / 8
    uint8_t bKeyValid;
    int32_t nKeySize, nKeyHeight, nKeyFontHeight, nKeyBold, nKeyFont;
    char acLastChar[2];
    int32_t nLastBytes;
    int32_t nLastAdvance;
    int32_t nLastHeight;
};
extern TEXT_RENDER_SLOT g_aTextRender[KX_TEXT_SLOTS];

// ---- Lookup tables (InitTextTables) ----
// For a byte of glyph bits: the 0 bits of its low nibble + 256 x the 0 bits of its high nibble.
extern int32_t g_anGlyphCoverage[256];
// Ink samples 0..16 (of 4 x 4) to alpha: min(n x 18, 255).
extern uint8_t g_abCoverageAlpha[32];
// Size to the side of the square glyph bitmap: (4 x size with its five low bits cleared) + 64.
extern int32_t g_anGlyphBitmapSide[KX_TEXT_MAX_SIZE + 1];

// The font list from the system's fonts, every slot's default face, then InitTextTables.
void InitFontList(void);
// The same from the font files of one native folder only (tests never see the system's fonts); NULL
// takes the system's fonts. 0, or -1 when the font service could not be set up (the list is then
// empty).
int InitFontListFrom(const char* pszNativeFolder);
// Releases the font list with the slots' rendering state and the glyph cache, leaving no fonts
// (shut-down of tests).
void FreeFontList(void);
// The tables, every slot's default style (the font index is kept) and its rendering state made
// invalid; the current slot becomes 0.
void InitTextTables(void);

// The platform's pitch bits (0 default, 1 fixed, 2 variable, 3) as the list's pitch byte.
uint8_t FontPitchFromBits(uint8_t bPitchBits);

// The current slot becomes n. 0, or -1 for a slot outside 0..7 (nothing changes).
int SelectTextSlot(int64_t n);
// The current slot's font index becomes i: 1, or 0 when i is not an entry of the list.
int SetSlotFontIndex(int64_t i);
// The current slot's font becomes the first entry named exactly pszFace, else the first entry that
// one of the face's substitutes names (tried in their order): 1, or 0 when none is listed.
int SetSlotFontByName(const char* pszFace);
int32_t GetSlotFontIndex(void);
// "" when the list is empty.
const char* GetSlotFontName(void);
uint8_t GetSlotFontPitch(void);
// Entry i of the list: its face name ("" outside the list) and its non-Japanese flag (1 outside).
const char* GetFontName(int64_t i);
uint8_t IsFontNonJapanese(int64_t i);
int32_t GetFontCount(void);

// Releases every slot's glyph font and bitmap and forgets their keys (shut-down).
void FreeTextRenderSlots(void);
