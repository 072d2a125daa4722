// Helpers of the text tests: the committed test fonts, a glyph bitmap made by hand in the current
// text slot, and reading a layer's pixels.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "image/layer.h"
#include "image/text_draw.h"
#include "image/text_font.h"

namespace text_test {

// The folder of the committed test fonts ($KX_TEST_DATA/fonts).
inline std::string TestFontFolder()
{
    const char* p = std::getenv("KX_TEST_DATA");
    return std::string(p ? p : "") + "/fonts";
}

// cp932 names of the test fonts' families.
inline const char* const kPGothic = "\x82\x6c\x82\x72\x20\x82\x6f\x83\x53\x83\x56\x83\x62\x83\x4e";  // ＭＳ Ｐゴシック
inline const char* const kMincho = "\x82\x6c\x82\x72\x20\x96\xbe\x92\xa9";                          // ＭＳ 明朝
inline const char* const kLatin = "KX Test Latin";

// The current slot's bitmap replaced by one for nSize made by hand, all white (no ink); the slot's
// key is made invalid so that no glyph font is taken for it. Returns the bitmap.
inline uint8_t* HandBitmap(int32_t nSize)
{
    TEXT_RENDER_SLOT& r = g_aTextRender[g_nTextSlot];
    const int32_t nSide = g_anGlyphBitmapSide[nSize];
    std::free(r.pBits);
    r.nSide = nSide;
    r.nBitsBytes = nSide * nSide / 8;
    r.pBits = static_cast<uint8_t*>(std::malloc(size_t(r.nBitsBytes)));
    std::memset(r.pBits, 0xFF, size_t(r.nBitsBytes));
    r.bKeyValid = 0;
    return r.pBits;
}
// A hand-made bitmap for nSize that is ink everywhere.
inline void InkAll(int32_t nSize)
{
    uint8_t* p = HandBitmap(nSize);
    std::memset(p, 0, size_t(g_aTextRender[g_nTextSlot].nBitsBytes));
}
// Ink at sample (x, y) of the current slot's bitmap.
inline void Ink(int32_t x, int32_t y)
{
    TEXT_RENDER_SLOT& r = g_aTextRender[g_nTextSlot];
    r.pBits[size_t(y) * (r.nSide / 8) + size_t(x / 8)] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
}
// Ink over the samples of a rectangle (right and bottom exclusive).
inline void InkRect(int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = x0; x < x1; ++x) Ink(x, y);
}
inline bool IsInk(int32_t x, int32_t y)
{
    const TEXT_RENDER_SLOT& r = g_aTextRender[g_nTextSlot];
    return ((r.pBits[size_t(y) * (r.nSide / 8) + size_t(x / 8)] >> (7 - x % 8)) & 1) == 0;
}

inline uint32_t Px(const LAYER* p, int x, int y)
{
    uint32_t v;
    std::memcpy(&v, p->pOwnedPixels + (size_t(y) * p->nWidth + x) * 4, 4);
    return v;
}
inline void SetPx(LAYER* p, int x, int y, uint32_t v) { std::memcpy(p->pOwnedPixels + (size_t(y) * p->nWidth + x) * 4, &v, 4); }

// A clean state of the slots: the tables, the defaults and no rendering state, no font list.
inline void ResetTextState()
{
    FreeFontList();
    InitTextTables();
}

}  // namespace text_test
