// Text drawing from glyph bitmaps made by hand: the tables, the gradient corners, the coverage and
// blend arithmetic, the orientations, the bounds rule and the divisions of extreme cells.
#include <gtest/gtest.h>

#include <vector>

#include "image/text_draw.h"
#include "image/text_font.h"
#include "tests/image/layer_fixture.h"
#include "tests/image/text_fixture.h"

namespace {

using text_test::HandBitmap;
using text_test::InkRect;
using text_test::Px;
using text_test::SetPx;

TEST(TextTables, EdgeValues)
{
    text_test::ResetTextState();
    EXPECT_EQ(g_anGlyphCoverage[0x0F], 1024);  // the high nibble all ink
    EXPECT_EQ(g_anGlyphCoverage[0xF0], 4);
    EXPECT_EQ(g_anGlyphCoverage[0x00], 4 + 4 * 256);
    EXPECT_EQ(g_anGlyphCoverage[0xFF], 0);
    EXPECT_EQ(g_anGlyphCoverage[0x5A], 2 + 2 * 256);
    EXPECT_EQ(g_abCoverageAlpha[0], 0);
    EXPECT_EQ(g_abCoverageAlpha[1], 18);
    EXPECT_EQ(g_abCoverageAlpha[14], 252);
    EXPECT_EQ(g_abCoverageAlpha[15], 255);
    EXPECT_EQ(g_abCoverageAlpha[31], 255);
    EXPECT_EQ(g_anGlyphBitmapSide[20], 128);
    EXPECT_EQ(g_anGlyphBitmapSide[8], 96);
    EXPECT_EQ(g_anGlyphBitmapSide[0], 64);
    EXPECT_EQ(g_anGlyphBitmapSide[256], 1088);

    // Pitch bits: default and variable are proportional, fixed is fixed, 3 is neither; the family
    // bits above them do not count.
    EXPECT_EQ(FontPitchFromBits(0), KX_FONT_PITCH_PROPORTIONAL);
    EXPECT_EQ(FontPitchFromBits(1), KX_FONT_PITCH_FIXED);
    EXPECT_EQ(FontPitchFromBits(2), KX_FONT_PITCH_PROPORTIONAL);
    EXPECT_EQ(FontPitchFromBits(3), KX_FONT_PITCH_OTHER);
    EXPECT_EQ(FontPitchFromBits(0x31), KX_FONT_PITCH_FIXED);

    // The slots' defaults.
    for (int s = 0; s < KX_TEXT_SLOTS; ++s) {
        EXPECT_EQ(g_anTextSize[s], 20);
        EXPECT_EQ(g_anTextHeight[s], 20);
        EXPECT_EQ(g_anTextColorA[s], 0xFFFFFF);
        EXPECT_EQ(g_anTextColorB[s], 0xFFFFFF);
        EXPECT_EQ(g_abTextGradient[s], 1);
        EXPECT_EQ(g_abTextAntialias[s], 1);
        EXPECT_EQ(g_abTextOrient[s] + g_abTextTransparent[s] + g_anTextBold[s], 0);
    }
}

// Every gradient type in every orientation, corners top-left, top-right, bottom-left,
// bottom-right; orientations 4..8 draw as 0; colour B -1 is A.
TEST(TextGradient, CornersOfEveryTypeAndOrientation)
{
    const int32_t A = 0x102030, B = 0x506070, M = 0x304050;
    const char* const kTable[9][4] = {
        {"AAAA", "AAAA", "AAAA", "AAAA"}, {"AABB", "ABAB", "BBAA", "BABA"}, {"BBAA", "BABA", "AABB", "ABAB"},
        {"ABAB", "BBAA", "BABA", "AABB"}, {"BABA", "AABB", "ABAB", "BBAA"}, {"AMMB", "MBAM", "BMMA", "MABM"},
        {"MABM", "AMMB", "MBAM", "BMMA"}, {"BMMA", "MABM", "AMMB", "MBAM"}, {"MBAM", "BMMA", "MABM", "AMMB"},
    };
    auto Letter = [&](int32_t v) { return v == A ? 'A' : v == B ? 'B' : v == M ? 'M' : '?'; };
    for (int t = 0; t < 9; ++t)
        for (int o = 0; o < 9; ++o) {
            const GRADIENT_CORNERS c = SetGradientCorners(t, o, A, B);
            const std::string s = {Letter(c.nTopLeft), Letter(c.nTopRight), Letter(c.nBottomLeft), Letter(c.nBottomRight)};
            EXPECT_EQ(s, kTable[t][o < 4 ? o : 0]) << "type " << t << " orientation " << o;
        }
    // The midpoint truncates toward zero per channel: 0xFF to 0x00 gives 0x80, 0x00 to 0xFF 0x7F.
    EXPECT_EQ(SetGradientCorners(5, 0, 0x00FF00, 0x0000FF).nTopRight, 0x00807F);
    EXPECT_EQ(SetGradientCorners(5, 0, 0x0000FF, 0x000000).nTopRight, 0x000080);
    const GRADIENT_CORNERS same = SetGradientCorners(1, 0, A, -1);
    EXPECT_EQ(same.nBottomLeft, A);
    EXPECT_EQ(same.nBottomRight, A);
}

class TextBlitTest : public LayerTreeTest {
protected:
    void SetUp() override
    {
        LayerTreeTest::SetUp();
        text_test::ResetTextState();
    }
    void TearDown() override
    {
        FreeTextRenderSlots();
        LayerTreeTest::TearDown();
    }
    LAYER* Canvas(int32_t w, int32_t h, uint32_t dwPixel = 0x11223344u, const char* pszPath = "W0/t")
    {
        pNode = Plain(pszPath, w, h, 0, 0, 1, dwPixel);
        LAYER* p = L(pNode);
        p->bHasAlpha = 0;
        return p;
    }
    TREE_NODE* pNode = nullptr;
};

// Type 1 puts A at the top of the drawn area and B at its bottom in every orientation: the table
// turns the corners against the turned cell. The one inked sample block lands on the pixel that
// the orientation maps cell pixel (0, 0) to.
TEST_F(TextBlitTest, OrientationsAndTheGradientOnTheLayer)
{
    const int32_t A = 0xFF0000, B = 0x0000FF, nSize = 8, nHeight = 6, px = 2, py = 3;
    for (int o = 0; o < 4; ++o) {
        SCOPED_TRACE(o);
        LAYER* p = Canvas(20, 20);
        text_test::InkAll(nSize);
        BlitGlyphAA(A, B, 1, o, nSize, nHeight, px, py, 0, p, pNode);
        const int w = (o & 1) ? nHeight : nSize, h = (o & 1) ? nSize : nHeight;
        for (int x = 0; x < w; ++x) {
            EXPECT_EQ(Px(p, px + x, py), 0xFF000000u | A) << x;
            EXPECT_EQ(Px(p, px + x, py + h - 1), 0xFF000000u | B) << x;
        }
        EXPECT_EQ(Px(p, px + w, py), 0x11223344u);  // nothing outside the turned area
        EXPECT_EQ(Px(p, px, py + h), 0x11223344u);
        EXPECT_EQ(p->bHasAlpha, 1);

        // Only cell pixel (0, 0) inked.
        HandBitmap(nSize);
        InkRect(0, 0, 4, 4);
        BlitGlyphAA(A, A, 0, o, nSize, nHeight, px, py, 0, p, pNode);
        const int ax[4] = {px, px + nHeight - 1, px + nSize - 1, px};
        const int ay[4] = {py, py, py + nHeight - 1, py + nSize - 1};
        int nOpaque = 0;
        for (int y = py; y < py + h; ++y)
            for (int x = px; x < px + w; ++x)
                if (Px(p, x, y) >> 24) {
                    ++nOpaque;
                    EXPECT_EQ(x, ax[o]);
                    EXPECT_EQ(y, ay[o]);
                }
        EXPECT_EQ(nOpaque, 1);
        FreeNode(pNode);
    }
}

// Row and column interpolation truncate per channel; a cell one pixel high takes the top colours,
// one pixel wide the left colour.
TEST_F(TextBlitTest, GradientInterpolation)
{
    LAYER* p = Canvas(10, 10);
    HandBitmap(4);
    InkRect(0, 0, 16, 16);
    // Type 3, orientation 0: A on the left, B on the right.
    BlitGlyphAA(0x000000, 0x0000FF, 3, 0, 4, 4, 0, 0, 0, p, pNode);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(Px(p, x, 2), 0xFF000000u | uint32_t(255 * x / 3)) << x;
    // Type 1 on a cell one pixel high: the top colour A only.
    HandBitmap(4);
    InkRect(0, 0, 16, 16);
    BlitGlyphAA(0x00FF00, 0x0000FF, 1, 0, 4, 1, 0, 5, 0, p, pNode);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(Px(p, x, 5), 0xFF00FF00u);
    // Type 3 on a cell one pixel wide: the left colour.
    BlitGlyphMono(0x00FF00, 0x0000FF, 3, 0, 1, 3, 8, 0, 0, p, pNode);
    EXPECT_EQ(Px(p, 8, 2), 0xFF00FF00u);
}

// Anti-aliased coverage: 16 samples give alpha 255, none alpha 0 with the colour (replace writes
// every cell pixel); even columns count the left nibble, odd ones the right.
TEST_F(TextBlitTest, ReplaceWritesCoverageAlphaAndColourEverywhere)
{
    LAYER* p = Canvas(8, 8, 0xFFFFFFFFu);
    HandBitmap(4);
    InkRect(0, 0, 4, 4);   // cell (0, 0): 16 samples
    InkRect(4, 0, 6, 4);   // cell (1, 0): 8 samples
    InkRect(8, 4, 9, 5);   // cell (2, 1): 1 sample
    BlitGlyphAA(0x123456, -1, 0, 0, 4, 4, 1, 1, 0, p, pNode);
    EXPECT_EQ(Px(p, 1, 1), 0xFF123456u);
    EXPECT_EQ(Px(p, 2, 1), uint32_t(144) << 24 | 0x123456u);
    EXPECT_EQ(Px(p, 3, 2), uint32_t(18) << 24 | 0x123456u);
    EXPECT_EQ(Px(p, 4, 4), 0x00123456u);  // no ink: alpha 0 with the colour
    EXPECT_EQ(Px(p, 0, 0), 0xFFFFFFFFu);  // outside the cell
}

// Blending: new alpha a + A - (a*A >> 8) - 1 with a = coverage alpha + 1, each channel
// X + a*(Z - X)/(A' + 1) truncated. Sample values by hand, then every coverage over a spread of old
// pixels against the formula.
TEST_F(TextBlitTest, BlendArithmetic)
{
    LAYER* p = Canvas(17, 17, 0xFFFFFFFFu);
    HandBitmap(4);
    InkRect(0, 0, 4, 4);   // (0, 0) n = 16
    InkRect(4, 0, 8, 1);   // (1, 0) n = 4
    SetPx(p, 1, 0, 0x80C83264u);  // B 100, G 50, R 200, A 128
    SetPx(p, 2, 0, 0x00000000u);  // fully transparent
    BlitGlyphAA(0x00FA0A, -1, 0, 0, 4, 4, 0, 0, 1, p, pNode);  // Z: R 0, G 250, B 10
    EXPECT_EQ(Px(p, 0, 0), 0xFF00FA0Au);  // n = 16 onto opaque white: alpha 255, exactly Z
    EXPECT_EQ(Px(p, 1, 0), uint32_t(164) << 24 | uint32_t(112) << 16 | uint32_t(138) << 8 | 61u);
    EXPECT_EQ(Px(p, 2, 0), 0x0000FA0Au);  // n = 0 onto a transparent pixel: the colour, alpha 0
    EXPECT_EQ(Px(p, 3, 3), 0xFFFFFFFFu);  // n = 0 onto opaque white: unchanged

    // Cell row i holds i ink samples per pixel (a 17 x 17 cell reads sample rows 4i..4i+3).
    for (int nPattern = 0; nPattern < 3; ++nPattern) {
        SCOPED_TRACE(nPattern);
        std::vector<uint32_t> old(17 * 17);
        for (int y = 0; y < 17; ++y)
            for (int x = 0; x < 17; ++x) {
                const uint32_t a = uint32_t((x * 16 + y * 37 + nPattern * 101) & 0xFF);
                const uint32_t v = a << 24 | uint32_t((x * 53 + nPattern * 7) & 0xFF) << 16 |
                                   uint32_t((y * 29 + x) & 0xFF) << 8 | uint32_t((x * y * 3 + nPattern) & 0xFF);
                old[y * 17 + x] = v;
                SetPx(p, x, y, v);
            }
        HandBitmap(17);
        for (int i = 0; i < 17; ++i)
            for (int j = 0; j < 17; ++j)
                for (int k = 0; k < i; ++k) text_test::Ink(4 * j + k % 4, 4 * i + k / 4);
        const int32_t Z = nPattern == 0 ? 0x000000 : nPattern == 1 ? 0xFFFFFF : 0x3C99E1;
        BlitGlyphAA(Z, -1, 0, 0, 17, 17, 0, 0, 1, p, pNode);
        for (int i = 0; i < 17; ++i)
            for (int j = 0; j < 17; ++j) {
                const uint32_t o = old[i * 17 + j];
                const int a = g_abCoverageAlpha[i] + 1, A = int(o >> 24);
                const int A2 = a + A - ((a * A) >> 8) - 1;
                uint32_t want = uint32_t(A2) << 24;
                for (int c = 0; c < 3; ++c) {
                    const int X = int((o >> (8 * c)) & 0xFF), z = (Z >> (8 * c)) & 0xFF;
                    want |= uint32_t(X + a * (z - X) / (A2 + 1)) << (8 * c);
                }
                ASSERT_EQ(Px(p, j, i), want) << j << "," << i;
            }
    }
}

// 1-bit glyphs: opaque cells write ink as Z and everything else opaque black; transparent cells
// write only the ink.
TEST_F(TextBlitTest, MonoOpaqueAndTransparent)
{
    LAYER* p = Canvas(10, 4, 0x11223344u);
    HandBitmap(3);
    text_test::Ink(0, 0);
    text_test::Ink(2, 1);
    BlitGlyphMono(0x00FF00, -1, 0, 0, 3, 2, 0, 0, 0, p, pNode);
    BlitGlyphMono(0x00FF00, -1, 0, 0, 3, 2, 5, 0, 1, p, pNode);
    const uint32_t G = 0xFF00FF00u, K = 0xFF000000u, O = 0x11223344u;
    const uint32_t want[2][8] = {{G, K, K, O, O, G, O, O}, {K, K, G, O, O, O, O, G}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(Px(p, x, y), want[y][x]) << x << "," << y;
    EXPECT_EQ(Px(p, 0, 2), O);
}

// A cell that does not fit draws nothing but still sets has-alpha; the far corner may touch the
// edges; turned orientations take the turned extent.
TEST_F(TextBlitTest, BoundsRule)
{
    struct CASE {
        int64_t px, py;
        int nOrient;
        bool bDrawn;
    };
    // A cell 6 wide and 3 high on a 10 x 8 layer.
    const CASE cases[] = {
        {4, 5, 0, true},  {5, 5, 0, false}, {4, 6, 0, false}, {-1, 0, 0, false}, {0, -1, 0, false},
        {7, 2, 1, true},  {7, 3, 1, false}, {8, 2, 3, false}, {4, 5, 2, true},   {INT64_MAX - 2, 0, 0, false},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(testing::Message() << c.px << "," << c.py << " o" << c.nOrient);
        LAYER* p = Canvas(10, 8);
        text_test::InkAll(6);
        BlitGlyphAA(0xFFFFFF, -1, 0, c.nOrient, 6, 3, c.px, c.py, 0, p, pNode);
        EXPECT_EQ(p->bHasAlpha, 1);
        int nChanged = 0;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 10; ++x) nChanged += Px(p, x, y) != 0x11223344u;
        EXPECT_EQ(nChanged, c.bDrawn ? 18 : 0);
        FreeNode(pNode);
    }
}

// Extreme cells: size or height 0 draw nothing; a cell far wider than high (height 1, size 200)
// has a divisor of at least 1 and reads glyph row 0.
TEST_F(TextBlitTest, ExtremeCellsDoNotDivideByZero)
{
    LAYER* p = Canvas(256, 4);
    HandBitmap(200);
    InkRect(0, 0, 800, 4);
    for (auto Blit : {BlitGlyphAA, BlitGlyphMono}) {
        Blit(0xFFFFFF, -1, 0, 0, 0, 4, 0, 0, 0, p, pNode);
        Blit(0xFFFFFF, -1, 0, 0, 4, 0, 0, 0, 0, p, pNode);
    }
    EXPECT_EQ(Px(p, 0, 0), 0x11223344u);
    BlitGlyphAA(0xFFFFFF, -1, 0, 0, 200, 1, 0, 0, 0, p, pNode);
    for (int x = 0; x < 200; ++x) ASSERT_EQ(Px(p, x, 0), 0xFFFFFFFFu) << x;
    EXPECT_EQ(Px(p, 200, 0), 0x11223344u);
    BlitGlyphMono(0xFFFFFF, -1, 0, 0, 200, 1, 0, 1, 0, p, pNode);
    for (int x = 0; x < 200; ++x) ASSERT_EQ(Px(p, x, 1), 0xFFFFFFFFu) << x;
    // Tall and narrow: every row reads a glyph row inside the bitmap.
    LAYER* q = Canvas(4, 256, 0x11223344u, "W0/u");
    HandBitmap(1);
    InkRect(0, 0, 4, 64);
    BlitGlyphAA(0xFFFFFF, -1, 0, 0, 1, 256, 0, 0, 0, q, pNode);
    BlitGlyphMono(0xFFFFFF, -1, 0, 0, 1, 256, 1, 0, 0, q, pNode);
    EXPECT_EQ(Px(q, 0, 0), 0xFFFFFFFFu);
}

}  // namespace
