// The text style and text style information commands run from scripts, and text drawn into a layer
// by the image-effect command with a style the script set.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "root/startup.h"
#include "image/layer.h"
#include "core/engine_hooks.h"
#include "imageproc/cmd_image_effect.h"
#include "image/cmd_text_style.h"
#include "image/text_draw.h"
#include "image/text_font.h"
#include "script/text_buffer.h"
#include "tests/image/cmd_layer_fixture.h"
#include "tests/image/text_fixture.h"

namespace {

using layer_cmd_test::I;
using layer_cmd_test::kArrayElems;
using layer_cmd_test::kVarInts;
using layer_cmd_test::kVarTexts;
using layer_cmd_test::T;

class TextStyleCmdTest : public layer_cmd_test::LayerCmdTest {
protected:
    void SetUp() override
    {
        LayerCmdTest::SetUp();
        InstallEngineParts();
        ASSERT_EQ(InitFontListFrom(text_test::TestFontFolder().c_str()), 0);
        ASSERT_EQ(g_nFonts, 3);
        ASSERT_EQ(CreateTextBuffer(), 0);
    }
    void TearDown() override
    {
        FreeTextBuffer();
        FreeFontList();
        LayerCmdTest::TearDown();
    }
    void Style(std::vector<BUILDER_ARG> args) { ASSERT_GE(EmitCommand(&b, KXCMD_TEXT_STYLE, args), 0); }
    void StyleInfo(std::vector<BUILDER_ARG> args) { ASSERT_GE(EmitCommand(&b, KXCMD_TEXT_STYLE_INFO, args), 0); }
    void Fx(std::vector<BUILDER_ARG> args) { ASSERT_GE(EmitCommand(&b, KXCMD_IMAGE_EFFECT, args), 0); }
    static BUILDER_ARG Op(int nId, int64_t v, uint8_t bOp) { return I(nId, v, bOp); }
    // The information command's output: element k of the integer or the text array.
    static BUILDER_ARG OutAt(int64_t k)
    {
        return ExprArg(TEXTINFO_ARG_OUT, MakeExprElement(kVarInts, {k}), EVALTYPE_INT);
    }
    static BUILDER_ARG OutTextAt(int64_t k)
    {
        return ExprArg(TEXTINFO_ARG_OUT, MakeExprElement(kVarTexts, {k}), EVALTYPE_TEXT);
    }
    // Runs the script with the texts of the range errors, whose arguments can then be read back.
    void RunWithTexts()
    {
        ASSERT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 1000000)}), 0);
        ASSERT_EQ(FinishScriptBody(&b), 0) << b.strError;
        GAME_DATA game = DefaultGameData();
        game.errors.push_back({101000, "R|%s|%s|%I64d|%d|%d"});
        game.errors.push_back({101010, "M|%s|%s|%I64d|%d"});
        game.errors.push_back({101240, "F|%s|%s|%I64d|%d"});
        game.defs.push_back(MakeIntVarDef(kVarInts, 99, {kArrayElems}));
        game.defs.push_back(MakeTextVarDef(kVarTexts, "x", {kArrayElems}));
        game.scripts = {ScriptFromBuilder("main.txt", b)};
        ASSERT_EQ(WriteGameFolder(dir.strNative, BuildGameFiles(game)), 0);
        ASSERT_EQ(StartScriptSystem(), 0);
        Pass();
    }
    // A plain layer under W0 of one pixel value, made before the script runs.
    LAYER* Img(const char* pszName, int32_t w, int32_t h, uint32_t dwFill)
    {
        const std::string s = std::string("W0/") + pszName;
        LAYER* pLayer = CreateNodeLayer(CreateNode(g_pLayerRoot, s.c_str(), 0, 5));
        uint8_t* p = AllocPixelBuffer(nullptr, w, h, nullptr);
        for (int i = 0; i < w * h; ++i) std::memcpy(p + size_t(i) * 4, &dwFill, 4);
        SetLayerPixels(pLayer, p, w, h);
        return pLayer;
    }
    static int64_t Answer(int64_t k) { return GetVarInt(kVarInts, k); }
    static std::string TextAnswer(int64_t k)
    {
        const char* p = GetVarString(kVarTexts, k);
        return p ? p : "(null)";
    }
};

// Clamped values combined by the operators, starting from the current slot's own value; slot 0 is
// mirrored in the message text buffer; the command ends on slot 0.
TEST_F(TextStyleCmdTest, ClampsOperatorsSlotsAndMirror)
{
    Style({Op(TEXTSTYLE_ARG_SIZE, 300, ARGOP_ADD), I(TEXTSTYLE_ARG_COLOR_A, -1), I(TEXTSTYLE_ARG_COLOR_B, 0x1000000),
           I(TEXTSTYLE_ARG_GRADIENT, 9), Op(TEXTSTYLE_ARG_ORIENT, 5, ARGOP_SUB), I(TEXTSTYLE_ARG_TRANSPARENT, -4),
           Op(TEXTSTYLE_ARG_HEIGHT, 0, ARGOP_DIV), I(TEXTSTYLE_ARG_BOLD, 7), I(TEXTSTYLE_ARG_ANTIALIAS, 0x102)});
    Style({I(TEXTSTYLE_ARG_SLOT, 3), I(TEXTSTYLE_ARG_SIZE, 30), I(TEXTSTYLE_ARG_ORIENT, 2)});
    Style({I(TEXTSTYLE_ARG_SLOT, 3), Op(TEXTSTYLE_ARG_SIZE, 2, ARGOP_ADD), Op(TEXTSTYLE_ARG_HEIGHT, 3, ARGOP_MUL),
           Op(TEXTSTYLE_ARG_ORIENT, 5, ARGOP_MUL), Op(TEXTSTYLE_ARG_COLOR_A, 0x10, ARGOP_SUB)});
    RunWithTexts();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
    EXPECT_EQ(g_nTextSlot, 0);
    EXPECT_EQ(g_anTextSize[0], 256);
    EXPECT_EQ(g_anTextColorA[0], 0);
    EXPECT_EQ(g_anTextColorB[0], 0xFFFFFF);
    EXPECT_EQ(g_abTextGradient[0], 8);
    EXPECT_EQ(g_abTextOrient[0], 0);
    EXPECT_EQ(g_abTextTransparent[0], 0);
    EXPECT_EQ(g_anTextHeight[0], 20);
    EXPECT_EQ(g_anTextBold[0], 1);
    EXPECT_EQ(g_abTextAntialias[0], 2);
    const TEXT_BUFFER* m = g_pTextBuffer;
    EXPECT_EQ(m->nSize, 256);
    EXPECT_EQ(m->nHeight, 20);
    EXPECT_EQ(m->nColorA, 0);
    EXPECT_EQ(m->nColorB, 0xFFFFFF);
    EXPECT_EQ(m->bGradient, 8);
    EXPECT_EQ(m->bOrientation, 0);
    EXPECT_EQ(m->bTransparent, 0);
    EXPECT_EQ(m->bBold, 1);
    EXPECT_EQ(m->bAntialias, 2);
    // Slot 3 from its own values; the mirror keeps slot 0's.
    EXPECT_EQ(g_anTextSize[3], 32);
    EXPECT_EQ(g_anTextHeight[3], 60);
    EXPECT_EQ(g_abTextOrient[3], 8);
    EXPECT_EQ(g_anTextColorA[3], 0xFFFFEF);
    EXPECT_EQ(g_anTextSize[2], 20);
}

// Font number 1 is the first entry and the information command names it; a face name selects its
// entry, an unknown one changes nothing.
TEST_F(TextStyleCmdTest, FontByNumberAndByName)
{
    Style({I(TEXTSTYLE_ARG_FONT, 1)});
    StyleInfo({I(TEXTINFO_ARG_FACE_NAME, 1), OutTextAt(0)});
    Style({I(TEXTSTYLE_ARG_SLOT, 2), T(TEXTSTYLE_ARG_FACE, text_test::kMincho)});
    Style({I(TEXTSTYLE_ARG_SLOT, 4), I(TEXTSTYLE_ARG_FONT, 3), T(TEXTSTYLE_ARG_FACE, "No Such Face")});
    StyleInfo({I(TEXTINFO_ARG_FACE_NAME, 1), I(TEXTINFO_ARG_FONT, 2), OutTextAt(1)});
    RunWithTexts();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
    EXPECT_EQ(TextAnswer(0), text_test::kLatin);
    EXPECT_EQ(TextAnswer(1), text_test::kPGothic);
    EXPECT_EQ(g_anSlotFont[0], 0);
    EXPECT_EQ(g_anSlotFont[2], 2);
    EXPECT_EQ(g_anSlotFont[4], 2);
    EXPECT_EQ(g_anSlotFont[1], 1);
}

// Refused values: fatal, named, the turn ends there and slot 0 is current again.
TEST_F(TextStyleCmdTest, RefusedSlotsAndFontNumbers)
{
    struct CASE {
        int nCmd;
        std::vector<BUILDER_ARG> args;
        int nId;
        std::string strText;
    };
    const std::vector<CASE> cases = {
        {KXCMD_TEXT_STYLE, {I(TEXTSTYLE_ARG_FONT, 0)}, 101010, "M|textstyle|font|0|1"},
        {KXCMD_TEXT_STYLE, {I(TEXTSTYLE_ARG_FONT, 4)}, 101240, "F|textstyle|font|4|3"},
        {KXCMD_TEXT_STYLE, {I(TEXTSTYLE_ARG_SLOT, 8), I(TEXTSTYLE_ARG_SIZE, 5)}, 101000, "R|textstyle|slot|8|0|7"},
        {KXCMD_TEXT_STYLE, {I(TEXTSTYLE_ARG_SLOT, -1)}, 101000, "R|textstyle|slot|-1|0|7"},
        {KXCMD_TEXT_STYLE, {I(TEXTSTYLE_ARG_SLOT, 5), I(TEXTSTYLE_ARG_FONT, 9)}, 101240, "F|textstyle|font|9|3"},
        {KXCMD_IMAGE_EFFECT, {T(0, "a"), I(FX_SEL_TEXT_SLOT, 8), I(FX_SEL_DRAW_TEXT, 1), T(FX_ARG_TEXT, "A")}, 101000,
         "R|imageeffect|e63|8|0|7"},
        {KXCMD_TEXT_STYLE_INFO, {I(TEXTINFO_ARG_FACE_NAME, 1), I(TEXTINFO_ARG_FONT, 0), OutTextAt(0)}, 101010,
         "M|textstyleinfo|font|0|1"},
        {KXCMD_TEXT_STYLE_INFO, {I(TEXTINFO_ARG_NON_JAPANESE, 1), I(TEXTINFO_ARG_FONT, 4), OutAt(0)}, 101240,
         "F|textstyleinfo|font|4|3"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.strText);
        Reset();
        LAYER* pLayer = Img("a", 10, 10, 0xFF000000u);
        ASSERT_GE(EmitCommand(&b, c.nCmd, c.args), 0);
        Style({I(TEXTSTYLE_ARG_SIZE, 99)});  // not reached
        RunWithTexts();
        ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, c.nId));
        EXPECT_NE(errors.reports[0].strText.find(c.strText), std::string::npos) << errors.reports[0].strText;
        EXPECT_EQ(g_nTextSlot, 0);
        EXPECT_EQ(g_anTextSize[0], 20);
        EXPECT_EQ(g_anTextSize[5], 20);
        EXPECT_EQ(pLayer->bHasAlpha, 0);  // nothing drawn
    }
}

// The questions: slot 0's values from the slot arrays (colour B starts at 0xFFFFFF there, not at the
// mirror's -1), the count, the measures of the text's first character, face names and flags.
TEST_F(TextStyleCmdTest, InformationAnswers)
{
    int k = 0;
    auto Ask = [&](std::vector<BUILDER_ARG> args) {
        args.push_back(OutAt(k++));
        StyleInfo(args);
    };
    Ask({I(4, 1)});  // colour B
    Ask({I(TEXTINFO_ARG_ADVANCE, 1), T(TEXTINFO_ARG_TEXT, "A")});
    Ask({I(TEXTINFO_ARG_GLYPH_HEIGHT, 1), T(TEXTINFO_ARG_TEXT, "A")});
    Ask({I(TEXTINFO_ARG_ADVANCE, 1)});  // no text: the terminator, without ink
    Ask({I(TEXTINFO_ARG_COUNT, 1)});
    Ask({I(TEXTINFO_ARG_COUNT, 2)});    // only 1 asks for the count: nothing else present gives 0
    Ask({I(TEXTINFO_ARG_ZERO, 5), I(TEXTINFO_ARG_NON_JAPANESE, 1), I(TEXTINFO_ARG_FONT, 1)});
    Ask({I(TEXTINFO_ARG_NON_JAPANESE, 1)});
    Ask({I(TEXTINFO_ARG_NON_JAPANESE, 1), I(TEXTINFO_ARG_FONT, 1)});
    Ask({I(TEXTINFO_ARG_NON_JAPANESE, 1), I(TEXTINFO_ARG_FONT, 3)});
    Ask({});
    Ask({I(8, 1), I(TEXTINFO_ARG_COUNT, 1)});  // the size: the style values come first
    const int nFixed = k;
    Style({I(TEXTSTYLE_ARG_ANTIALIAS, 0), I(TEXTSTYLE_ARG_COLOR_A, 0x123456), I(TEXTSTYLE_ARG_COLOR_B, 0x654321),
           I(TEXTSTYLE_ARG_GRADIENT, 3), I(TEXTSTYLE_ARG_ORIENT, 2), I(TEXTSTYLE_ARG_TRANSPARENT, 1),
           I(TEXTSTYLE_ARG_SIZE, 40), I(TEXTSTYLE_ARG_HEIGHT, 30), I(TEXTSTYLE_ARG_BOLD, 1)});
    for (int nId = 2; nId <= 10; ++nId) Ask({I(nId, 1)});
    Ask({I(TEXTINFO_ARG_ADVANCE, 1), T(TEXTINFO_ARG_TEXT, "A")});  // bold 1-bit at 40: c = 23
    StyleInfo({I(TEXTINFO_ARG_FACE_NAME, 1), OutTextAt(0)});
    RunWithTexts();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
    const std::vector<int64_t> want = {0xFFFFFF, 13, 20, 4, 3, 0, 0, 0, 1, 0, 0, 20,
                                       0, 0x123456, 0x654321, 3, 2, 1, 40, 30, 1, 27};
    ASSERT_EQ(int(want.size()), k);
    for (int i = 0; i < k; ++i) EXPECT_EQ(Answer(i), want[size_t(i)]) << i << (i >= nFixed ? " (after the style)" : "");
    EXPECT_EQ(TextAnswer(0), text_test::kPGothic);
}

// A script sets slot 2's style and draws with it through the image effect (slot selector and
// text), then draws with slot 0 by default: the pixels of the whole layer.
TEST_F(TextStyleCmdTest, ScriptDrawsTextIntoALayer)
{
    LAYER* pLayer = Img("a", 64, 30, 0xFF000000u);
    Style({I(TEXTSTYLE_ARG_SLOT, 2), I(TEXTSTYLE_ARG_ANTIALIAS, 0), I(TEXTSTYLE_ARG_COLOR_A, 0x00FF00),
           I(TEXTSTYLE_ARG_GRADIENT, 0), I(TEXTSTYLE_ARG_TRANSPARENT, 1)});
    // "■A" and a trailing lone lead byte, 1-bit and transparent, from (5, 3).
    Fx({T(0, "a"), I(FX_SEL_TEXT_SLOT, 2), I(FX_SEL_DRAW_TEXT, 1), T(FX_ARG_TEXT, "\x81\xa1" "A\x82"), I(12, 5),
        I(13, 3)});
    // Slot 0: anti-aliased white, replacing the cell, "I" at (40, 5).
    Fx({T(0, "a"), I(FX_SEL_DRAW_TEXT, 1), T(FX_ARG_TEXT, "I"), I(12, 40), I(13, 5)});
    RunWithTexts();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
    EXPECT_EQ(pLayer->bHasAlpha, 1);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 64; ++x) {
            uint32_t want = 0xFF000000u;
            if (x >= 5 && x < 25 && y >= 3 && y < 23) want = 0xFF00FF00u;                    // ■
            if (x >= 25 + 2 && x < 25 + 10 && y >= 3 + 2 && y < 3 + 16) want = 0xFF00FF00u;  // A
            if (x >= 40 && x < 60 && y >= 5 && y < 25)                                        // I
                want = (x >= 42 && x < 44 && y >= 7 && y < 21) ? 0xFFFFFFFFu : 0x00FFFFFFu;
            ASSERT_EQ(text_test::Px(pLayer, x, y), want) << x << "," << y;
        }
}

}  // namespace
