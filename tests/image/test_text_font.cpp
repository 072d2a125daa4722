// The font list and glyph rendering with the committed test fonts: the default face, the slot's font
// choices, where a glyph's ink lands in the slot bitmap, the measuring rules, the glyph cache and
// the edges, and a system without fonts.
#include <gtest/gtest.h>

#include <string>

#include "image/text_draw.h"
#include "image/text_font.h"
#include "tests/image/layer_fixture.h"
#include "tests/image/text_fixture.h"

namespace {

using text_test::IsInk;
using text_test::kLatin;
using text_test::kMincho;
using text_test::kPGothic;
using text_test::Px;

class TextFontTest : public LayerTreeTest {
protected:
    void SetUp() override
    {
        LayerTreeTest::SetUp();
        ASSERT_EQ(InitFontListFrom(text_test::TestFontFolder().c_str()), 0);
        ASSERT_EQ(g_nFonts, 3);
    }
    void TearDown() override
    {
        FreeFontList();
        LayerTreeTest::TearDown();
    }
    // The current slot's font by face name.
    static void Use(const char* pszFace) { ASSERT_EQ(SetSlotFontByName(pszFace), 1) << pszFace; }
    // Renders in the current slot and answers {advance, glyph height}.
    static std::pair<int32_t, int32_t> Measure(const char* pChar, int32_t nSize, int32_t nHeight, int32_t bBold,
                                               int32_t bAntialias)
    {
        int32_t a = -1, h = -1;
        EXPECT_EQ(RenderGlyph(pChar, IsTwoBytes(pChar) ? 2 : 1, nSize, nHeight, bBold, bAntialias, &a, &h), 0);
        return {a, h};
    }
    static bool IsTwoBytes(const char* p) { return (unsigned char)p[0] >= 0x81 && p[1]; }
    // The bitmap's ink is exactly the rectangle (right and bottom exclusive).
    static void ExpectInkRect(int32_t x0, int32_t y0, int32_t x1, int32_t y1)
    {
        const int32_t nSide = g_aTextRender[g_nTextSlot].nSide;
        int nWrong = 0;
        for (int32_t y = 0; y < nSide; ++y)
            for (int32_t x = 0; x < nSide; ++x) nWrong += IsInk(x, y) != (x >= x0 && x < x1 && y >= y0 && y < y1);
        EXPECT_EQ(nWrong, 0);
    }
    LAYER* Canvas(int32_t w, int32_t h, uint32_t dwPixel)
    {
        pNode = Plain("W0/t", w, h, 0, 0, 1, dwPixel);
        return L(pNode);
    }
    TREE_NODE* pNode = nullptr;
};

const char* const kBox = "\x81\xa1";  // ■, the whole cell
const char* const kA = "\x82\xa0";    // あ

// The list in cp932 order with its flags; "ＭＳ ゴシック" and "標準ゴシック" are missing, so every
// slot starts with "ＭＳ Ｐゴシック".
TEST_F(TextFontTest, ListAndDefaultFace)
{
    EXPECT_STREQ(GetFontName(0), kLatin);
    EXPECT_STREQ(GetFontName(1), kPGothic);
    EXPECT_STREQ(GetFontName(2), kMincho);
    EXPECT_STREQ(GetFontName(3), "");
    EXPECT_EQ(GetFontCount(), 3);
    EXPECT_EQ(IsFontNonJapanese(0), 1);
    EXPECT_EQ(IsFontNonJapanese(1), 0);
    EXPECT_EQ(IsFontNonJapanese(2), 0);
    EXPECT_EQ(g_abFontPitch[0], KX_FONT_PITCH_PROPORTIONAL);
    EXPECT_EQ(g_abFontPitch[1], KX_FONT_PITCH_PROPORTIONAL);
    EXPECT_EQ(g_abFontPitch[2], KX_FONT_PITCH_FIXED);
    for (int s = 0; s < KX_TEXT_SLOTS; ++s) {
        ASSERT_EQ(SelectTextSlot(s), 0);
        EXPECT_STREQ(GetSlotFontName(), kPGothic) << s;
    }
    EXPECT_EQ(SelectTextSlot(8), -1);
    EXPECT_EQ(SelectTextSlot(-1), -1);
    EXPECT_EQ(g_nTextSlot, 7);

    // Index and name: an index at the count and an unknown name change nothing.
    ASSERT_EQ(SelectTextSlot(3), 0);
    EXPECT_EQ(SetSlotFontIndex(3), 0);
    EXPECT_EQ(SetSlotFontIndex(-1), 0);
    EXPECT_EQ(GetSlotFontIndex(), 1);
    EXPECT_EQ(SetSlotFontIndex(2), 1);
    EXPECT_EQ(GetSlotFontPitch(), KX_FONT_PITCH_FIXED);
    EXPECT_EQ(SetSlotFontByName("No Such Face"), 0);
    EXPECT_EQ(GetSlotFontIndex(), 2);
    EXPECT_EQ(SetSlotFontByName(kLatin), 1);
    EXPECT_EQ(GetSlotFontIndex(), 0);
    EXPECT_EQ(g_anSlotFont[0], 1);  // other slots keep theirs
}

// The ink lands where the font puts it: "A" of the proportional font (units 100..500 x 0..700 with
// the baseline at 800) at height 80 covers columns 8..39 and rows 8..63; its bold face is 100
// units wider.
TEST_F(TextFontTest, GlyphInkInTheSlotBitmap)
{
    EXPECT_EQ(Measure("A", 20, 20, 0, 1), std::make_pair(13, 20));  // c = 39: 39/4 + 4
    EXPECT_EQ(g_aTextRender[0].nSide, 128);
    ExpectInkRect(8, 8, 40, 64);
    EXPECT_EQ(Measure("A", 20, 20, 1, 1), std::make_pair(15, 20));  // bold: c = 47
    ExpectInkRect(8, 8, 48, 64);
    EXPECT_EQ(Measure("A", 20, 20, 0, 0), std::make_pair(13, 20));  // 1-bit: c = 9, 9 + 4
    ExpectInkRect(2, 2, 10, 16);
    EXPECT_EQ(Measure(kBox, 20, 20, 0, 1), std::make_pair(20, 20));
    ExpectInkRect(0, 0, 80, 80);
    // No ink: the advance is min(size, 4) and the glyph height min(height, 4).
    EXPECT_EQ(Measure(" ", 20, 20, 0, 1), std::make_pair(4, 4));
    EXPECT_EQ(Measure(" ", 3, 2, 0, 1), std::make_pair(3, 2));
    ExpectInkRect(0, 0, 0, 0);
    // A glyph whose top lies low: "." (units 0..100) at height 80 starts on row 56: (128-56)/4 + 4.
    EXPECT_EQ(Measure(".", 20, 40, 0, 1).second, 22);
    EXPECT_EQ(g_aTextRender[0].nLastAdvance, 7);  // c = 15
    EXPECT_EQ(g_aTextRender[0].acLastChar[0], '.');
}

// Fixed pitch: half the size for a single-byte character and the size for a double-byte one,
// the glyph height the cell height, whatever the ink.
TEST_F(TextFontTest, FixedPitchAdvances)
{
    Use(kMincho);
    EXPECT_EQ(Measure("A", 20, 30, 0, 1), std::make_pair(10, 30));
    EXPECT_EQ(Measure(" ", 20, 30, 0, 0), std::make_pair(10, 30));
    EXPECT_EQ(Measure(kA, 20, 30, 0, 1), std::make_pair(20, 30));
    EXPECT_EQ(Measure(kA, 21, 30, 0, 0), std::make_pair(21, 30));
    EXPECT_EQ(Measure("I", 21, 30, 0, 0), std::make_pair(10, 30));
    EXPECT_EQ(Measure(kA, 0, 30, 0, 1), std::make_pair(0, 30));  // size 0: no font asked for
    EXPECT_TRUE(errors.reports.empty());
}

// A character drawn again in the same family, height and weight is not rendered again; another
// height, weight or family is.
TEST_F(TextFontTest, GlyphCache)
{
    ClearGlyphCache();
    const int64_t n0 = g_llGlyphRenders;
    Measure("A", 20, 20, 0, 1);
    Measure("A", 20, 33, 0, 1);  // the cell height is not part of the glyph
    ASSERT_EQ(SelectTextSlot(5), 0);
    Measure("A", 20, 20, 0, 1);  // another slot, the same font
    ExpectInkRect(8, 8, 40, 64);
    EXPECT_EQ(g_llGlyphRenders - n0, 1);
    Measure("A", 20, 20, 1, 1);
    Measure("A", 20, 20, 0, 0);
    Use(kLatin);
    Measure("A", 20, 20, 0, 1);
    Measure(kA, 20, 20, 0, 1);  // not in the family: from the fallback, cached as this family's
    Measure(kA, 20, 20, 0, 1);
    EXPECT_EQ(g_llGlyphRenders - n0, 5);
    ClearGlyphCache();
    Measure("A", 20, 20, 0, 1);
    EXPECT_EQ(g_llGlyphRenders - n0, 6);
    ExpectInkRect(8, 8, 40, 64);
}

// Edge 0 draws the cell once; edge 3 five copies (right, up, in place, down, left); edge 12 three
// copies 2 pixels right, down and diagonally, and none in place. ■ fills its 20 x 20 cell.
TEST_F(TextFontTest, EdgeCopies)
{
    struct CASE {
        int nEdge;
        std::vector<std::pair<int, int>> cells;  // cell origins drawn, relative to (px, py)
    };
    const CASE cases[] = {
        {0, {{0, 0}}},
        {3, {{3, 0}, {0, -3}, {0, 0}, {0, 3}, {-3, 0}}},
        {-2, {{-2, 0}, {0, 2}, {0, 0}, {0, -2}, {2, 0}}},
        {12, {{2, 0}, {0, 2}, {2, 2}}},
    };
    const int px = 10, py = 10;
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.nEdge);
        LAYER* p = Canvas(50, 50, 0x00000000u);
        const int32_t nAdvance =
            DrawTextChar(kBox, 2, 0x00FF00, -1, 0, 0, 20, 20, 0, 0, c.nEdge, px, py, 1, p, pNode);
        EXPECT_EQ(nAdvance, 20);
        for (int y = 0; y < 50; ++y)
            for (int x = 0; x < 50; ++x) {
                bool bIn = false;
                for (auto [dx, dy] : c.cells)
                    bIn = bIn || (x >= px + dx && x < px + dx + 20 && y >= py + dy && y < py + dy + 20);
                ASSERT_EQ(Px(p, x, y), bIn ? 0xFF00FF00u : 0u) << x << "," << y;
            }
        FreeNode(pNode);
    }
    EXPECT_TRUE(errors.reports.empty());
}

// An anti-aliased "A" in replace mode: whole coverage on its columns 2..9 and rows 2..15, alpha 0
// with the colour everywhere else in the cell.
TEST_F(TextFontTest, AntialiasedGlyphPixels)
{
    LAYER* p = Canvas(30, 30, 0xFF808080u);
    EXPECT_EQ(DrawTextChar("A", 1, 0x336699, -1, 0, 0, 20, 20, 0, 1, 0, 5, 6, 0, p, pNode), 13);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x) {
            const int cx = x - 5, cy = y - 6;
            uint32_t want = 0xFF808080u;
            if (cx >= 0 && cx < 20 && cy >= 0 && cy < 20)
                want = (cx >= 2 && cx < 10 && cy >= 2 && cy < 16) ? 0xFF336699u : 0x00336699u;
            ASSERT_EQ(Px(p, x, y), want) << x << "," << y;
        }
    // Partial coverage: "I" (units 100..200 x 0..700) at height 60 covers sample columns 6..11 and
    // rows 6..47, so cell pixel (1, 2) holds 8 samples, (1, 1) 4 and (2, 2) all 16.
    EXPECT_EQ(DrawTextChar("I", 1, 0xFFFFFF, -1, 0, 0, 15, 15, 0, 1, 0, 0, 0, 0, p, pNode), 6);
    EXPECT_EQ(Px(p, 1, 2), 0x90FFFFFFu);
    EXPECT_EQ(Px(p, 1, 1), 0x48FFFFFFu);
    EXPECT_EQ(Px(p, 2, 1), 0x90FFFFFFu);
    EXPECT_EQ(Px(p, 2, 2), 0xFFFFFFFFu);
    EXPECT_EQ(Px(p, 3, 2), 0x00FFFFFFu);
}

// Characters without a glyph draw no ink and never read past their bytes: a lone lead byte, a
// control byte, a byte without a character, a character no family has.
TEST_F(TextFontTest, CharactersWithoutGlyphs)
{
    LAYER* p = Canvas(30, 30, 0x00000000u);
    const char lone[1] = {'\x82'};
    for (const std::string& s : {std::string(lone, 1), std::string("\x01"), std::string("\xa0"),
                                 std::string("\xfd"), std::string("\x88\x9f")}) {
        SCOPED_TRACE(s);
        DrawTextChar(s.data(), int32_t(s.size()), 0xFFFFFF, -1, 0, 0, 20, 20, 0, 1, 2, 5, 5, 1, p, pNode);
        DrawTextChar(s.data(), int32_t(s.size()), 0xFFFFFF, -1, 0, 0, 20, 20, 0, 0, 0, 5, 5, 1, p, pNode);
    }
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x) ASSERT_EQ(Px(p, x, y) >> 24, 0u) << x << "," << y;
    EXPECT_TRUE(errors.reports.empty());
}

// Without fonts: no entry, an empty face name, and a character reports 102040, is measured 0 x 0
// and drawn nowhere.
TEST_F(TextFontTest, NoFontsAtAll)
{
    TEMP_DIR empty;
    EXPECT_EQ(InitFontListFrom(empty.strNative.c_str()), 0);
    EXPECT_EQ(g_nFonts, 0);
    EXPECT_EQ(GetSlotFontIndex(), 0);
    EXPECT_STREQ(GetSlotFontName(), "");
    EXPECT_STREQ(GetFontName(0), "");
    EXPECT_EQ(SetSlotFontIndex(0), 0);
    EXPECT_EQ(SetSlotFontByName(kPGothic), 0);
    LAYER* p = Canvas(30, 30, 0x11223344u);
    EXPECT_EQ(DrawTextChar("A", 1, 0xFFFFFF, -1, 0, 0, 20, 20, 0, 1, 3, 5, 5, 0, p, pNode), 0);
    ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, KX_ERR_GLYPH_FONT));
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x) ASSERT_EQ(Px(p, x, y), 0x11223344u);
    int32_t a = -1, h = -1;
    EXPECT_EQ(RenderGlyph("A", 1, 20, 20, 0, 0, &a, &h), -1);
    EXPECT_EQ(a, 0);
    EXPECT_EQ(h, 0);
}

}  // namespace
