// The font service on the committed test fonts (tests/data/fonts; their glyphs are rectangles on
// whole pixels, listed in tools/fonts/make_test_fonts.py). The system's fonts are never read.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/plat_font.h"
#include "platform/plat_text.h"
#include "tests/platform/plat_test_util.h"

namespace {

std::string TestFontFolder()
{
    const char* psz = std::getenv("KX_TEST_DATA");
    return std::string(psz ? psz : "tests/data") + "/fonts";
}

std::string Cp(const char* pszUtf8)
{
    return PlatUtf8ToCp932String(pszUtf8);
}

// The ink of a glyph as rows of '#' and '.', for exact comparisons.
std::vector<std::string> InkRows(const PLAT_GLYPH& g)
{
    std::vector<std::string> rows;
    for (int r = 0; r < g.nRows; ++r) {
        std::string row;
        for (int c = 0; c < g.nWidth; ++c) row += (g.pBits[r * g.nPitch + c / 8] & (0x80 >> (c % 8))) ? '#' : '.';
        rows.push_back(row);
    }
    return rows;
}

bool AllInk(const PLAT_GLYPH& g)
{
    for (const std::string& row : InkRows(g))
        if (row.find('.') != std::string::npos) return false;
    return g.nWidth > 0 && g.nRows > 0;
}

class PlatFontTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(PlatFontsInit(TestFontFolder().c_str()), 0); }
    void TearDown() override { PlatFontsShutdown(); }
};

struct FONT_HOLDER {
    PLAT_GLYPH_FONT* p;
    FONT_HOLDER(const std::string& strName, int nHeight, int bBold)
        : p(PlatGlyphFontCreate(strName.c_str(), nHeight, bBold)) {}
    ~FONT_HOLDER() { PlatGlyphFontDestroy(p); }
};

}  // namespace

TEST_F(PlatFontTest, FamiliesAreListedSortedWithTheirFlags)
{
    ASSERT_EQ(PlatFontFamilyCount(), 3);
    struct ROW {
        std::string strName;
        int bJapanese, bPitch, bHasBold;
    } const rows[] = {
        {"KX Test Latin", 0, PLAT_PITCH_VARIABLE, 0},
        {Cp("ＭＳ Ｐゴシック"), 1, PLAT_PITCH_VARIABLE, 1},   // Japanese names win over English ones
        {Cp("ＭＳ 明朝"), 1, PLAT_PITCH_FIXED, 0},            // half and full widths: fixed pitch
    };
    for (int i = 0; i < 3; ++i) {
        const PLAT_FONT_FAMILY* f = PlatFontFamily(i);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->szName, rows[i].strName) << i;
        EXPECT_EQ(f->bJapanese, rows[i].bJapanese) << i;
        EXPECT_EQ(f->bPitch, rows[i].bPitch) << i;
        EXPECT_EQ(f->bHasBold, rows[i].bHasBold) << i;
        EXPECT_EQ(PlatFindFontFamily(rows[i].strName.c_str()), i);
    }
    EXPECT_EQ(PlatFontFamily(3), nullptr);
    EXPECT_EQ(PlatFontFamily(-1), nullptr);
    EXPECT_EQ(PlatFindFontFamily("KX Test PGothic"), -1);   // listed by its Japanese name only
    // The first default face the set holds is the fallback family.
    EXPECT_EQ(PlatFallbackFontFamily(), 1);
}

TEST_F(PlatFontTest, SubstitutesOfTheSystemFaces)
{
    const char* const* p = PlatFontSubstitutes(Cp("ＭＳ ゴシック").c_str());
    ASSERT_NE(p[0], nullptr);
    EXPECT_EQ(std::string(p[0]), Cp("IPAゴシック"));
    p = PlatFontSubstitutes(Cp("ＭＳ Ｐゴシック").c_str());
    ASSERT_NE(p[0], nullptr);
    EXPECT_EQ(std::string(p[0]), Cp("IPA Pゴシック"));
    p = PlatFontSubstitutes(Cp("標準明朝").c_str());
    ASSERT_NE(p[0], nullptr);
    EXPECT_EQ(std::string(p[0]), Cp("IPA明朝"));
    EXPECT_EQ(PlatFontSubstitutes("Some Font")[0], nullptr);
    EXPECT_EQ(PlatFontSubstitutes(nullptr)[0], nullptr);
}

// Glyph boxes in the cell at height 20 (a unit is 1/50 pixel, the baseline 16 pixels down).
TEST_F(PlatFontTest, GlyphsLandOnWholePixelsInTheCell)
{
    struct CASE {
        const char* pszFace;   // UTF-8
        int bBold;
        const char* pszChar;   // UTF-8
        int nLeft, nTop, nWidth, nRows, nAdvance;
    } const cases[] = {
        {"ＭＳ Ｐゴシック", 0, "A", 2, 2, 8, 14, 12},
        {"ＭＳ Ｐゴシック", 0, "I", 2, 2, 2, 14, 6},
        {"ＭＳ Ｐゴシック", 0, "p", 2, 6, 6, 14, 10},     // reaches 4 pixels below the baseline
        {"ＭＳ Ｐゴシック", 0, ".", 2, 14, 2, 2, 6},
        {"ＭＳ Ｐゴシック", 0, "■", 0, 0, 20, 20, 20},    // the whole cell
        {"ＭＳ Ｐゴシック", 0, "あ", 2, 2, 16, 16, 20},
        {"ＭＳ Ｐゴシック", 1, "A", 2, 2, 10, 14, 14},    // the real bold face is wider
        {"ＭＳ 明朝", 0, "A", 2, 2, 6, 14, 10},
        {"ＭＳ 明朝", 1, "A", 2, 2, 7, 14, 11},           // emboldened by one pixel
        {"KX Test Latin", 0, "A", 2, 2, 8, 14, 12},
        {"KX Test Latin", 0, "あ", 2, 2, 16, 16, 20},     // from the fallback family
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(std::string(c.pszFace) + " " + c.pszChar + (c.bBold ? " bold" : ""));
        FONT_HOLDER font(Cp(c.pszFace), 20, c.bBold);
        ASSERT_NE(font.p, nullptr);
        EXPECT_EQ(PlatGlyphFontAscent(font.p), 16);
        const std::string strChar = Cp(c.pszChar);
        PLAT_GLYPH g;
        ASSERT_EQ(PlatGlyphRender(font.p, strChar.data(), static_cast<int>(strChar.size()), &g), 0);
        EXPECT_EQ(g.nLeft, c.nLeft);
        EXPECT_EQ(g.nTop, c.nTop);
        EXPECT_EQ(g.nWidth, c.nWidth);
        EXPECT_EQ(g.nRows, c.nRows);
        EXPECT_EQ(g.nAdvance, c.nAdvance);
        EXPECT_TRUE(AllInk(g));
    }
}

TEST_F(PlatFontTest, TwoStrokesStayApartAtFourTimesTheSize)
{
    // 漢 at height 80: strokes at units 100..450 and 550..900, 0.08 pixel per unit.
    FONT_HOLDER font(Cp("ＭＳ Ｐゴシック"), 80, 0);
    ASSERT_NE(font.p, nullptr);
    const std::string strChar = Cp("漢");
    PLAT_GLYPH g;
    ASSERT_EQ(PlatGlyphRender(font.p, strChar.data(), 2, &g), 0);
    EXPECT_EQ(g.nLeft, 8);
    EXPECT_EQ(g.nTop, 8);
    ASSERT_EQ(g.nWidth, 64);
    ASSERT_EQ(g.nRows, 64);
    const std::string strRow = std::string(28, '#') + std::string(8, '.') + std::string(28, '#');
    for (const std::string& row : InkRows(g)) ASSERT_EQ(row, strRow);
}

TEST_F(PlatFontTest, CharactersWithoutInkGiveEmptyGlyphs)
{
    FONT_HOLDER font(Cp("ＭＳ Ｐゴシック"), 20, 0);
    ASSERT_NE(font.p, nullptr);
    struct CASE {
        const char* pszWhat;
        std::string strBytes;
        int nBytes;
        int nAdvance;
    } const cases[] = {
        {"space", " ", 1, 5},
        {"control byte", "\x01", 1, 0},
        {"delete", "\x7f", 1, 0},
        {"lone lead byte", "\x82", 1, 0},
        {"lead byte before the terminator", std::string("\x82\0", 2), 2, 0},
        {"lead byte with a bad trail byte", "\x82\x20", 2, 0},
        {"code without a character", "\x85\x40", 2, 0},
        {"character no family has", "Z", 1, 0},   // never the missing-glyph frame
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        PLAT_GLYPH g;
        g.nWidth = g.nRows = 99;
        EXPECT_EQ(PlatGlyphRender(font.p, c.strBytes.data(), c.nBytes, &g), 0);
        EXPECT_EQ(g.nWidth, 0);
        EXPECT_EQ(g.nRows, 0);
        EXPECT_EQ(g.nAdvance, c.nAdvance);
    }
    PLAT_GLYPH g;
    EXPECT_EQ(PlatGlyphRender(font.p, nullptr, 1, &g), 0);
    EXPECT_EQ(g.nWidth, 0);
    EXPECT_EQ(PlatGlyphRender(font.p, "A", 0, &g), 0);
    EXPECT_EQ(g.nWidth, 0);
}

TEST_F(PlatFontTest, NamesResolveExactlyThroughSubstitutesOrToTheFallback)
{
    // The test set has no IPA font: the substitutes of ＭＳ ゴシック are absent, so the fallback
    // family draws, and an unknown name the same.
    for (const std::string& strName : {Cp("ＭＳ ゴシック"), std::string("No Such Font"), std::string()}) {
        FONT_HOLDER font(strName, 20, 0);
        ASSERT_NE(font.p, nullptr);
        PLAT_GLYPH g;
        ASSERT_EQ(PlatGlyphRenderCodePoint(font.p, 'A', &g), 0);
        EXPECT_EQ(g.nAdvance, 12);   // ＭＳ Ｐゴシック's A
    }
    EXPECT_EQ(PlatGlyphFontCreate("KX Test Latin", 0, 0), nullptr);
    EXPECT_EQ(PlatGlyphFontCreate("KX Test Latin", 5000, 0), nullptr);
}

TEST_F(PlatFontTest, GlyphFontsOutliveTheSet)
{
    PLAT_GLYPH_FONT* pFont = PlatGlyphFontCreate("KX Test Latin", 40, 0);
    ASSERT_NE(pFont, nullptr);
    PlatFontsShutdown();
    EXPECT_EQ(PlatFontFamilyCount(), 0);
    PLAT_GLYPH g;
    ASSERT_EQ(PlatGlyphRenderCodePoint(pFont, 'I', &g), 0);
    EXPECT_EQ(g.nWidth, 4);
    EXPECT_EQ(g.nRows, 28);
    PlatGlyphFontDestroy(pFont);
}

TEST(PlatFontSetTest, AnEmptyFolderListsNothingAndMakesNoFont)
{
    const std::string strDir = MakeTempFolder();
    ASSERT_EQ(PlatFontsInit(strDir.c_str()), 0);
    EXPECT_EQ(PlatFontFamilyCount(), 0);
    EXPECT_EQ(PlatFallbackFontFamily(), -1);
    EXPECT_EQ(PlatGlyphFontCreate(Cp("ＭＳ ゴシック").c_str(), 20, 0), nullptr);
    PlatFontsShutdown();
    RemoveTree(strDir);
}

TEST(PlatFontSetTest, Cp932CharactersToUnicode)
{
    struct CASE {
        std::string strBytes;
        uint32_t nCodePoint;
    } const cases[] = {
        {"A", 'A'},
        {"\x5c", 0x5C},            // the backslash stays a backslash
        {"\xb1", 0xFF71},          // half-width katakana
        {"\x82\xa0", 0x3042},      // あ
        {"\x81\x5f", 0xFF3C},      // full-width backslash
        {"\x87\x40", 0x2460},      // NEC special row: circled one
        {"\xfa\x40", 0x2170},      // IBM extension: small roman numeral one
        {"\x85\x40", 0},           // unassigned
        {"\x82", 0},               // lone lead byte
        {"\x1f", 0},
    };
    for (const CASE& c : cases)
        EXPECT_EQ(PlatCp932CharToUnicode(c.strBytes.data(), static_cast<int>(c.strBytes.size())), c.nCodePoint)
            << std::hex << static_cast<unsigned>(static_cast<unsigned char>(c.strBytes[0]));
}
