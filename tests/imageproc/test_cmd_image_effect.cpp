// The image-effect command, run from scripts, and its dispatcher.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "root/startup.h"
#include "image/layer.h"
#include "imageproc/cmd_image_effect.h"
#include "core/engine_tables.h"
#include "imageproc/blend_modes.h"
#include "imageproc/compositor.h"
#include "imageproc/pixel_ops.h"
#include "imageproc/image_effects.h"
#include "tests/image/cmd_layer_fixture.h"

namespace {

using layer_cmd_test::I;
using layer_cmd_test::T;

// A distinct opaque value per pixel.
uint32_t Pattern(int x, int y) { return 0xFF000000u | uint32_t(y) << 8 | uint32_t(x) | 0x00400000u; }

std::vector<int64_t> g_slots;                       // text slots selected, in order
std::vector<std::pair<int64_t, std::string>> g_drawn;  // (slot, character) drawn
std::vector<std::pair<int32_t, int32_t>> g_drawnAt;
int64_t g_nSlot = 0;
int g_nGpuResult = 0;
std::vector<std::pair<LAYER*, LAYER*>> g_retargeted;

class ImageEffectCmdTest : public layer_cmd_test::LayerCmdTest {
protected:
    static void SetUpTestSuite()
    {
        FillMulDivTables();
        InitBlendTables();
    }
    void SetUp() override
    {
        LayerCmdTest::SetUp();
        FillPixelOps(&g_PixelOps, 3, DetectPixelOpsSimd());
        InstallCompositor();
        g_slots.clear();
        g_drawn.clear();
        g_drawnAt.clear();
        g_retargeted.clear();
        g_nSlot = 0;
        g_nGpuResult = 0;
        g_LayerHooks.pfnSelectTextSlot = [](int64_t n) {
            g_slots.push_back(n);
            g_nSlot = n;
        };
        g_LayerHooks.pfnDrawTextChar = [](LAYER*, const char* p, int32_t n, int32_t x, int32_t y, int32_t) {
            g_drawn.emplace_back(g_nSlot, std::string(p, size_t(n)));
            g_drawnAt.emplace_back(x, y);
            return n == 2 ? 10 : 5;
        };
        g_LayerHooks.pfnPasteLayerTexturesGpu = [](TREE_NODE*, TREE_NODE*) { return g_nGpuResult; };
        g_LayerHooks.pfnCaptureLayerGpu = [](TREE_NODE*, TREE_NODE*) { return g_nGpuResult; };
        g_LayerHooks.pfnRetargetEmoteLayer = [](LAYER* a, LAYER* b) { g_retargeted.emplace_back(a, b); };
    }
    void Fx(std::vector<BUILDER_ARG> args) { ASSERT_GE(EmitCommand(&b, KXCMD_IMAGE_EFFECT, args), 0); }
    // The parameters are kept unevaluated by the command table.
    static BUILDER_ARG P(int64_t v) { return I(FX_ARG_P, v); }
    static BUILDER_ARG Q(int64_t v) { return I(FX_ARG_Q, v); }
    static BUILDER_ARG Rect(int x1, int y1, int x2, int y2, std::vector<BUILDER_ARG>* pArgs)
    {
        pArgs->push_back(I(13, y1));
        pArgs->push_back(I(14, x2));
        pArgs->push_back(I(15, y2));
        return I(12, x1);
    }
    // A plain layer under W0 with the pattern (or one value), made before the script runs.
    LAYER* Img(const char* pszName, int32_t w, int32_t h, uint8_t bHasAlpha = 0, uint32_t dwFill = 0)
    {
        const std::string s = std::string("W0/") + pszName;
        TREE_NODE* pNode = CreateNode(g_pLayerRoot, s.c_str(), 0, 5);
        LAYER* pLayer = CreateNodeLayer(pNode);
        uint8_t* p = AllocPixelBuffer(nullptr, w, h, nullptr);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint32_t v = dwFill ? dwFill : Pattern(x, y);
                std::memcpy(p + (size_t(y) * w + x) * 4, &v, 4);
            }
        SetLayerPixels(pLayer, p, w, h);
        pLayer->bHasAlpha = bHasAlpha;
        return pLayer;
    }
    // Run with the game's texts for the command's errors, so their arguments can be read back.
    void RunWithTexts()
    {
        ASSERT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 1000000)}), 0);
        ASSERT_EQ(FinishScriptBody(&b), 0) << b.strError;
        GAME_DATA game = DefaultGameData();
        game.errors.push_back({101000, "R|%s|%s|%I64d|%d|%d"});
        for (int id : {101281, 101282, 101283, 101284, 101291, 101296, 101297, 101298})
            game.errors.push_back({id, std::to_string(id) + "|%s|%s"});
        game.scripts = {ScriptFromBuilder("main.txt", b)};
        ASSERT_EQ(WriteGameFolder(dir.strNative, BuildGameFiles(game)), 0);
        ASSERT_EQ(StartScriptSystem(), 0);
        Pass();
    }
    static void ExpectArea(const LAYER* pLayer, int32_t w, int32_t h, int x0, int y0)
    {
        ASSERT_NE(pLayer, nullptr);
        ASSERT_NE(pLayer->pOwnedPixels, nullptr);
        ASSERT_EQ(pLayer->nWidth, w);
        ASSERT_EQ(pLayer->nHeight, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) ASSERT_EQ(Px(pLayer, x, y), Pattern(x0 + x, y0 + y)) << x << "," << y;
    }
};

// A first layer that does not exist changes nothing and the script goes on.
TEST_F(ImageEffectCmdTest, MissingFirstLayerContinues)
{
    Img("a", 4, 3);
    Fx({T(0, "nothere"), T(1, "b"), I(FX_SEL_COPY, 1)});
    Fx({T(0, "a"), T(1, "c"), I(FX_SEL_COPY, 1)});
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
    EXPECT_EQ(Node("W0/b"), nullptr);
    ExpectArea(L("W0/c"), 4, 3, 0, 0);
}

// Copying into a second layer: created when missing (order key 1), the rectangle's pixels, the
// first layer untouched; the rectangle is clamped to the image.
TEST_F(ImageEffectCmdTest, CopyCreatesTheSecondLayerWithTheClampedRectangle)
{
    LAYER* pA = Img("a", 6, 5, 1);
    std::vector<BUILDER_ARG> args = {T(0, "a"), T(1, "b"), I(FX_SEL_COPY, 1)};
    args.push_back(Rect(2, 1, 99999, 3, &args));
    Fx(args);
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
    ASSERT_NE(Node("W0/b"), nullptr);
    EXPECT_EQ(Node("W0/b")->llOrder, 1);
    ExpectArea(L("W0/b"), 4, 3, 2, 1);
    EXPECT_EQ(L("W0/b")->bHasAlpha, 1);
    ExpectArea(pA, 6, 5, 0, 0);
    // The other attributes are not copied by the plain copy.
    EXPECT_EQ(L("W0/b")->llX, 0);
}

// Negative rectangle values are clamped to 0, and a number appended to a name addresses "name.n".
TEST_F(ImageEffectCmdTest, NumbersAndLowClamps)
{
    Img("a.2", 5, 4);
    std::vector<BUILDER_ARG> args = {T(0, "a"), I(FX_ARG_NUMBER1, 2), T(1, "b"), I(FX_ARG_NUMBER1 + 1, 7),
                                     I(FX_SEL_COPY, 1)};
    args.push_back(Rect(-5, -9, 1, 1, &args));
    Fx(args);
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
    ExpectArea(L("W0/b.7"), 2, 2, 0, 0);
}

// An inverted rectangle changes nothing and is no error.
TEST_F(ImageEffectCmdTest, InvertedRectangleChangesNothing)
{
    Img("a", 4, 4);
    std::vector<BUILDER_ARG> args = {T(0, "a"), T(1, "b"), I(FX_SEL_COPY, 1)};
    args.push_back(Rect(3, 0, 1, 3, &args));
    Fx(args);
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
    ASSERT_NE(L("W0/b"), nullptr);
    EXPECT_EQ(L("W0/b")->pOwnedPixels, nullptr);
    ExpectArea(L("W0/a"), 4, 4, 0, 0);
}

// Copying with the attributes: the drawing attributes follow the pixels.
TEST_F(ImageEffectCmdTest, CopyWithAttributes)
{
    LAYER* pA = Img("a", 3, 2);
    pA->nOpacity = 77;
    pA->llX = 12;
    pA->llY = -4;
    pA->llX100 = 1200;
    pA->bBlendMode = 5;
    pA->llUser1 = 9;
    pA->nFadeLevel = 100;
    std::strcpy(pA->pszMaskPath, "W0/m");
    Fx({T(0, "a"), T(1, "b"), I(FX_SEL_COPY_ATTR, 1)});
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
    const LAYER* pB = L("W0/b");
    ExpectArea(pB, 3, 2, 0, 0);
    EXPECT_EQ(pB->nOpacity, 77);
    EXPECT_EQ(pB->llX, 12);
    EXPECT_EQ(pB->llY, -4);
    EXPECT_EQ(pB->llX100, 1200);
    EXPECT_EQ(pB->bBlendMode, 5);
    EXPECT_EQ(pB->llUser1, 9);
    EXPECT_EQ(pB->nFadeLevel, 100);
    EXPECT_STREQ(pB->pszMaskPath, "W0/m");
}

// A copied layer's E-mote player moves to the copy; the copy's own player is released first.
TEST_F(ImageEffectCmdTest, CopyMovesTheEmotePlayer)
{
    static std::vector<LAYER*> s_released;
    s_released.clear();
    LAYER* pA = Img("a", 2, 2);
    LAYER* pB = Img("b", 2, 2);
    pA->bKind = LAYERKIND_EMOTE;
    pA->hEmotePlayer = 7;
    pB->bKind = LAYERKIND_EMOTE;
    pB->hEmotePlayer = 3;
    g_LayerHooks.pfnReleaseEmotePlayer = [](LAYER* p) {
        s_released.push_back(p);
        p->hEmotePlayer = 0;
    };
    Fx({T(0, "a"), T(1, "b"), I(FX_SEL_COPY, 1)});
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
    EXPECT_EQ(s_released, std::vector<LAYER*>{pB});
    EXPECT_EQ(pB->bKind, LAYERKIND_EMOTE);
    EXPECT_EQ(pB->hEmotePlayer, 7u);
    EXPECT_EQ(pA->bKind, LAYERKIND_TEXTURE);
    EXPECT_EQ(pA->hEmotePlayer, 0u);
    ASSERT_EQ(g_retargeted.size(), 1u);
    EXPECT_EQ(g_retargeted[0], std::make_pair(pA, pB));
    InstallEngineParts();
}

// A group as the first layer: its children are composed into it before the operation.
TEST_F(ImageEffectCmdTest, GroupIsComposedBeforeTheOperation)
{
    ASSERT_NE(CreateGroupLayer("W0/g", 4, 4, 1), nullptr);
    TREE_NODE* pChild = CreateNode(g_pLayerRoot, "W0/g/c", 0, 1);
    LAYER* pC = CreateNodeLayer(pChild);
    uint8_t* p = AllocPixelBuffer(nullptr, 2, 2, nullptr);
    for (int i = 0; i < 4; ++i) {
        const uint32_t v = 0xFFFF0000u;
        std::memcpy(p + 4 * i, &v, 4);
    }
    SetLayerPixels(pC, p, 2, 2);
    pC->llX = 1;
    pC->llY = 1;
    MarkLayerDirty(pChild);
    Fx({T(0, "g/"), T(1, "copy"), I(FX_SEL_COPY, 1)});
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
    const LAYER* pCopy = L("W0/copy");
    ASSERT_NE(pCopy, nullptr);
    ASSERT_EQ(pCopy->nWidth, 4);
    EXPECT_EQ(Px(pCopy, 1, 1), 0xFFFF0000u);
    EXPECT_EQ(Px(pCopy, 2, 2), 0xFFFF0000u);
    EXPECT_NE(Px(pCopy, 0, 0), 0xFFFF0000u);
    EXPECT_NE(Px(pCopy, 3, 3), 0xFFFF0000u);
}

// Range checks of P on the low 32 bits, with the bounds, and the second layer made first.
TEST_F(ImageEffectCmdTest, ParameterOutOfRange)
{
    struct CASE {
        int nSelector;
        int64_t llP;
        std::string strText;
    };
    const std::vector<CASE> cases = {
        {FX_SEL_BRIGHTNESS, 257, "R|" + std::string(GetCommandName(KXCMD_IMAGE_EFFECT)) + "|e9|257|0|256"},
        {FX_SEL_BRIGHTNESS, -1, "R|" + std::string(GetCommandName(KXCMD_IMAGE_EFFECT)) + "|e9|-1|0|256"},
        {FX_SEL_NEGATIVE, 2, "R|" + std::string(GetCommandName(KXCMD_IMAGE_EFFECT)) + "|e9|2|0|1"},
        {FX_SEL_COLOR_BALANCE, 0x1000000, "R|" + std::string(GetCommandName(KXCMD_IMAGE_EFFECT)) + "|e9|16777216|0|16777215"},
        {FX_SEL_AUTO_CROP, 16, "R|" + std::string(GetCommandName(KXCMD_IMAGE_EFFECT)) + "|e9|16|0|15"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.strText);
        Reset();
        Img("a", 2, 2);
        Fx({T(0, "a"), T(1, "made"), I(c.nSelector, 1), P(c.llP)});
        RunWithTexts();
        ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, 101000));
        EXPECT_NE(errors.reports[0].strText.find(c.strText), std::string::npos) << errors.reports[0].strText;
        ASSERT_NE(L("W0/made"), nullptr);
        EXPECT_EQ(Node("W0/made")->llOrder, 1);
    }
    // The high 32 bits are not looked at: 2^32 + 256 passes.
    Reset();
    Img("a", 2, 2);
    Fx({T(0, "a"), T(1, "b"), I(FX_SEL_COPY, 1), P((int64_t(1) << 32) + 256)});
    Run();
    EXPECT_TRUE(errors.reports.empty());
}

// The scaling target size in whole pixels must be 1..8192.
TEST_F(ImageEffectCmdTest, ScalingTargetSizeChecked)
{
    const std::string cmd = GetCommandName(KXCMD_IMAGE_EFFECT);
    struct CASE {
        std::vector<BUILDER_ARG> size;
        std::string strText;
    };
    const std::vector<CASE> cases = {
        {{I(16, 0), I(17, 5)}, "R|" + cmd + "|e16|0|1|8192"},
        {{I(16, 8193), I(17, 5)}, "R|" + cmd + "|e16|8193|1|8192"},
        {{I(16, 5), I(17, -3)}, "R|" + cmd + "|e17|-3|1|8192"},
        {{I(22, 99), I(23, 500)}, "R|" + cmd + "|e16|0|1|8192"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.strText);
        Reset();
        Img("a", 2, 2);
        std::vector<BUILDER_ARG> args = {T(0, "a"), I(FX_SEL_SCALE_NEAREST, 1)};
        args.insert(args.end(), c.size.begin(), c.size.end());
        Fx(args);
        RunWithTexts();
        ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, 101000));
        EXPECT_NE(errors.reports[0].strText.find(c.strText), std::string::npos) << errors.reports[0].strText;
        EXPECT_EQ(L("W0/a")->nWidth, 2);
    }
}

// Scaling runs through the command: nearest to half size, into the layer itself or a second one;
// the rectangle stays unclamped for the scalers.
TEST_F(ImageEffectCmdTest, ScalingThroughTheCommand)
{
    Img("a", 4, 4);
    Fx({T(0, "a"), T(1, "half"), I(FX_SEL_SCALE_NEAREST, 1), I(16, 2), I(17, 2)});
    Fx({T(0, "a"), I(FX_SEL_SCALE_NEAREST, 1), I(16, 8), I(17, 1)});
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
    const LAYER* pHalf = L("W0/half");
    ASSERT_NE(pHalf, nullptr);
    ASSERT_EQ(pHalf->nWidth, 2);
    ASSERT_EQ(pHalf->nHeight, 2);
    EXPECT_EQ(Px(pHalf, 0, 0), Pattern(0, 0));
    EXPECT_EQ(Px(pHalf, 1, 1), Pattern(2, 2));
    EXPECT_EQ(L("W0/a")->nWidth, 8);
    EXPECT_EQ(L("W0/a")->nHeight, 1);
}

// Refusals: rectangle ids where a selector takes none, a missing second layer, a group target.
TEST_F(ImageEffectCmdTest, Refusals)
{
    const std::string cmd = GetCommandName(KXCMD_IMAGE_EFFECT);
    struct CASE {
        std::vector<BUILDER_ARG> args;
        int nId;
        std::string strText;
    };
    const std::vector<CASE> cases = {
        {{I(FX_SEL_ROTATE, 1), I(13, 0)}, 101282, "101282|" + cmd + "|e29"},
        {{I(FX_SEL_ROTATE_SMOOTH, 1), I(15, 0)}, 101282, "101282|" + cmd + "|e30"},
        {{I(FX_SEL_MOSAIC, 1), I(12, 0)}, 101283, "101283|" + cmd + "|e46"},
        {{I(FX_SEL_SCATTER, 1), I(14, 1)}, 101284, "101284|" + cmd + "|e53"},
        {{I(FX_SEL_SWAP, 1), T(1, "b"), I(12, 0)}, 101281, "101281|" + cmd + "|e67"},
        {{I(FX_SEL_SWAP_ALL, 1)}, 101297, "101297|" + cmd + "|e68"},
        {{I(FX_SEL_COPY, 1)}, 101296, "101296|" + cmd + "|e66"},
        {{I(FX_SEL_COPY_ATTR, 1)}, 101296, "101296|" + cmd + "|e65"},
        {{I(FX_SEL_PASTE, 1)}, 101298, "101298|" + cmd + "|e34"},
        {{I(FX_SEL_NOTHING, 1)}, 101298, "101298|" + cmd + "|e37"},
        {{I(FX_SEL_CLEAR_DIFFERENT, 1)}, 101298, "101298|" + cmd + "|e39"},
        {{I(FX_SEL_COPY, 1), T(1, "grp/")}, 101291, "101291|" + cmd + "|W0/grp"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.strText);
        Reset();
        Img("a", 3, 3);
        std::vector<BUILDER_ARG> args = {T(0, "a")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Fx(args);
        RunWithTexts();
        ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, c.nId));
        EXPECT_NE(errors.reports[0].strText.find(c.strText), std::string::npos) << errors.reports[0].strText;
        ExpectArea(L("W0/a"), 3, 3, 0, 0);
    }
}

// Selector 37 with a second layer does nothing and the script goes on.
TEST_F(ImageEffectCmdTest, NothingSelectorContinues)
{
    Img("a", 3, 3);
    Fx({T(0, "a"), T(1, "b"), I(FX_SEL_NOTHING, 1)});
    Fx({T(0, "a"), T(1, "c"), I(FX_SEL_COPY, 1)});
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
    ASSERT_NE(L("W0/b"), nullptr);
    EXPECT_EQ(L("W0/b")->pOwnedPixels, nullptr);
    ExpectArea(L("W0/c"), 3, 3, 0, 0);
}

// Swapping two layers through the command exchanges their names.
TEST_F(ImageEffectCmdTest, SwapExchangesTheLayers)
{
    LAYER* pA = Img("a", 3, 3);
    LAYER* pB = Img("b", 2, 2);
    Fx({T(0, "a"), T(1, "b"), I(FX_SEL_SWAP, 1)});
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
    EXPECT_EQ(L("W0/a"), pB);
    EXPECT_EQ(L("W0/b"), pA);
}

// Text slots and text drawing: 63 alone selects and the end of the walk selects slot 0 again; 63
// and 64 draw with the chosen slot from (x1, y1), advancing per character (double-byte included);
// 64 without a text ends the thread's turn without a message.
TEST_F(ImageEffectCmdTest, TextSlotAndDrawing)
{
    Img("a", 50, 20);
    Fx({T(0, "a"), I(FX_SEL_TEXT_SLOT, 3)});
    Fx({T(0, "a"), I(FX_SEL_TEXT_SLOT, 5), I(FX_SEL_DRAW_TEXT, 1), T(FX_ARG_TEXT, "A\x82\xa0" "b"), I(12, 4),
        I(13, 99)});
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
    EXPECT_EQ(g_slots, (std::vector<int64_t>{3, 0, 5, 0}));
    ASSERT_EQ(g_drawn.size(), 3u);
    EXPECT_EQ(g_drawn[0], std::make_pair(int64_t(5), std::string("A")));
    EXPECT_EQ(g_drawn[1], std::make_pair(int64_t(5), std::string("\x82\xa0")));
    EXPECT_EQ(g_drawn[2], std::make_pair(int64_t(5), std::string("b")));
    EXPECT_EQ(g_drawnAt, (std::vector<std::pair<int32_t, int32_t>>{{4, 19}, {9, 19}, {19, 19}}));

    Reset();
    Img("a", 5, 5);
    Fx({T(0, "a"), I(FX_SEL_DRAW_TEXT, 1)});
    Fx({T(0, "a"), T(1, "b"), I(FX_SEL_COPY, 1)});
    Run();
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_EQ(Node("W0/b"), nullptr);  // the turn ended at the text command
    EXPECT_EQ(g_bEngineStop.load(), 0);
}

// A text ending in a lead byte draws its whole characters only; a text slot outside 0..7 is refused
// (101000 with the bounds 0 and 7) before anything is drawn.
TEST_F(ImageEffectCmdTest, TextEdgesAndSlotRange)
{
    Img("a", 50, 20);
    Fx({T(0, "a"), I(FX_SEL_DRAW_TEXT, 1), T(FX_ARG_TEXT, "A\x82")});
    Fx({T(0, "a"), I(FX_SEL_TEXT_SLOT, 8), I(FX_SEL_DRAW_TEXT, 1), T(FX_ARG_TEXT, "b")});
    Fx({T(0, "a"), T(1, "b"), I(FX_SEL_COPY, 1)});
    RunWithTexts();
    ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, 101000));
    EXPECT_NE(errors.reports[0].strText.find("R|imageeffect|e63|8|0|7"), std::string::npos) << errors.reports[0].strText;
    ASSERT_EQ(g_drawn.size(), 1u);
    EXPECT_EQ(g_drawn[0].second, "A");
    EXPECT_EQ(g_slots, (std::vector<int64_t>{0}));
    EXPECT_EQ(Node("W0/b"), nullptr);
}

// The GPU paste asks for a full redraw; a failing GPU operation ends with -1.
TEST_F(ImageEffectCmdTest, GpuSelectors)
{
    Img("a", 2, 2);
    Fx({T(0, "a"), T(1, "b"), I(FX_SEL_GPU_PASTE, 1)});
    Fx({T(0, "a"), T(1, "c"), I(FX_SEL_COPY, 1)});
    Run();
    ASSERT_TRUE(errors.reports.empty());
    EXPECT_EQ(g_bFullRedraw, 1);
    EXPECT_NE(L("W0/c"), nullptr);

    Reset();
    g_nGpuResult = -5;
    Img("a", 2, 2);
    Fx({T(0, "a"), T(1, "b"), I(FX_SEL_GPU_CAPTURE, 1)});
    Fx({T(0, "a"), T(1, "c"), I(FX_SEL_COPY, 1)});
    Run();
    EXPECT_EQ(Node("W0/c"), nullptr);
}

// The dispatcher on its own: a layer without pixels, unknown codes and copies without a second
// layer change nothing.
TEST_F(ImageEffectCmdTest, DispatcherLeavesLayersAloneWhenNothingApplies)
{
    TREE_NODE* pEmpty = CreateNode(g_pLayerRoot, "W0/e", 0, 1);
    ASSERT_NE(CreateNodeLayer(pEmpty), nullptr);
    Img("a", 3, 3);
    TREE_NODE* pA = Node("W0/a");
    EXPECT_EQ(ApplyImageEffect(EFFECT_BRIGHTNESS, pEmpty, nullptr, 0, 0, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(GetNodeLayer(pEmpty)->pOwnedPixels, nullptr);
    for (int nCode : {0, 13, 29, 31, 41, -1}) {
        EXPECT_EQ(ApplyImageEffect(nCode, pA, pEmpty, 0, 0, 2, 2, 0, 0, 1, 0), 0) << nCode;
        EXPECT_EQ(GetNodeLayer(pEmpty)->pOwnedPixels, nullptr) << nCode;
    }
    EXPECT_EQ(ApplyImageEffect(EFFECT_COPY, pA, nullptr, 0, 0, 2, 2, 0, 0, 0, 0), 0);
    ExpectArea(L("W0/a"), 3, 3, 0, 0);
    // Outside the image entirely.
    EXPECT_EQ(ApplyImageEffect(EFFECT_COPY, pA, pEmpty, 5, 5, 9, 9, 0, 0, 1, 0), 0);
    EXPECT_EQ(GetNodeLayer(pEmpty)->pOwnedPixels, nullptr);
}

// CopyImageRect copies a sub-rectangle between different row lengths.
TEST(CopyImageRect, CopiesRowsBetweenStrides)
{
    std::vector<uint32_t> src(5 * 4), dst(3 * 2 + 1, 0xDEADBEEF);
    for (size_t i = 0; i < src.size(); ++i) src[i] = uint32_t(i);
    CopyImageRect(reinterpret_cast<uint8_t*>(dst.data()), reinterpret_cast<const uint8_t*>(src.data()), 1, 1, 2, 2, 5, 3);
    EXPECT_EQ(dst, (std::vector<uint32_t>{6, 7, 0xDEADBEEF, 11, 12, 0xDEADBEEF, 0xDEADBEEF}));
}

}  // namespace

namespace {

// The value c + P - 128 clamped, per colour channel; alpha kept.
uint32_t Brightened(uint32_t v, int P)
{
    uint32_t r = v & 0xFF000000u;
    for (int s = 0; s < 24; s += 8) r |= uint32_t(std::clamp(int((v >> s) & 255) + P - 128, 0, 255)) << s;
    return r;
}

// Filters placed by the dispatcher: a rectangle filter crops the layer to the rectangle, or fills
// a second layer of the rectangle's size; the first layer stays as it was when a second is given.
TEST_F(ImageEffectCmdTest, RectangleFilterCropsOrFillsTheSecondLayer)
{
    Img("a", 6, 5);
    Img("b", 6, 5, 1);
    std::vector<BUILDER_ARG> args = {T(0, "a"), I(FX_SEL_BRIGHTNESS, 1), P(200)};
    args.push_back(Rect(1, 2, 3, 4, &args));
    Fx(args);
    args = {T(0, "b"), T(1, "b2"), I(FX_SEL_BRIGHTNESS, 1), P(10)};
    Fx(args);
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
    const LAYER* pA = L("W0/a");
    ASSERT_EQ(pA->nWidth, 3);
    ASSERT_EQ(pA->nHeight, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(Px(pA, x, y), Brightened(Pattern(x + 1, y + 2), 200)) << x << "," << y;
    const LAYER* pB2 = L("W0/b2");
    ASSERT_EQ(pB2->nWidth, 6);
    ASSERT_EQ(pB2->nHeight, 5);
    EXPECT_EQ(Px(pB2, 5, 4), Brightened(Pattern(5, 4), 10));
    EXPECT_EQ(pB2->bHasAlpha, 1);
    ExpectArea(L("W0/b"), 6, 5, 0, 0);
}

// The in-place filters keep the layer's size and change only the rectangle; into a second layer
// they give the whole first image with the rectangle changed and the flag computed for it.
TEST_F(ImageEffectCmdTest, InPlaceFiltersKeepTheSize)
{
    Img("a", 5, 4);
    Img("c", 5, 4);
    std::vector<BUILDER_ARG> args = {T(0, "a"), I(FX_SEL_FILL_COLOR, 1), P(0x123456)};
    args.push_back(Rect(1, 1, 2, 2, &args));
    Fx(args);
    args = {T(0, "c"), T(1, "d"), I(FX_SEL_FILL_PIXEL, 1), P(0x80FF0000)};
    args.push_back(Rect(3, 0, 4, 0, &args));
    Fx(args);
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
    const LAYER* pA = L("W0/a");
    ASSERT_EQ(pA->nWidth, 5);
    ASSERT_EQ(pA->nHeight, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) {
            const bool bIn = x >= 1 && x <= 2 && y >= 1 && y <= 2;
            EXPECT_EQ(Px(pA, x, y), bIn ? 0xFF123456u : Pattern(x, y)) << x << "," << y;
        }
    EXPECT_EQ(pA->bHasAlpha, 0);
    const LAYER* pD = L("W0/d");
    ASSERT_EQ(pD->nWidth, 5);
    ASSERT_EQ(pD->nHeight, 4);
    EXPECT_EQ(Px(pD, 3, 0), 0x80FF0000u);
    EXPECT_EQ(Px(pD, 4, 0), 0x80FF0000u);
    EXPECT_EQ(Px(pD, 2, 0), Pattern(2, 0));
    EXPECT_EQ(Px(pD, 4, 1), Pattern(4, 1));
    EXPECT_EQ(pD->bHasAlpha, 1);
    ExpectArea(L("W0/c"), 5, 4, 0, 0);
    EXPECT_EQ(L("W0/c")->bHasAlpha, 0);
}

// A geometric filter through the command: the whole image mirrored; applied twice, restored.
TEST_F(ImageEffectCmdTest, MirrorTwiceRestores)
{
    Img("a", 5, 3);
    Fx({T(0, "a"), T(1, "m1"), I(FX_SEL_MIRROR, 1)});
    Fx({T(0, "a"), T(1, "m"), I(FX_SEL_MIRROR, 1)});
    Fx({T(0, "m"), I(FX_SEL_MIRROR, 1)});
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
    EXPECT_EQ(Px(L("W0/m1"), 0, 1), Pattern(4, 1));
    EXPECT_EQ(Px(L("W0/m1"), 4, 2), Pattern(0, 2));
    ExpectArea(L("W0/m"), 5, 3, 0, 0);
}

}  // namespace

namespace {

// The positions of the layer operations are taken unclamped: pasting at (-1, -1) puts the first
// layer's pixel (1, 1) at the second's top-left. Pasting onto a layer the command has just made
// (it has no pixels yet) changes nothing.
TEST_F(ImageEffectCmdTest, PasteTakesRawPositions)
{
    Img("a", 3, 3);
    Img("b", 3, 3, 0, 0xFF000000u);
    Fx({T(0, "a"), T(1, "b"), I(FX_SEL_PASTE, 1), I(12, -1), I(13, -1)});
    Fx({T(0, "a"), T(1, "new"), I(FX_SEL_PASTE, 1)});
    Fx({T(0, "a"), T(1, "b"), I(FX_SEL_MIX, 1), P(256)});  // no third layer: nothing
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
    const LAYER* pB = L("W0/b");
    EXPECT_EQ(Px(pB, 0, 0), Pattern(1, 1));
    EXPECT_EQ(Px(pB, 1, 1), Pattern(2, 2));
    EXPECT_EQ(Px(pB, 2, 2), 0xFF000000u);
    ASSERT_NE(L("W0/new"), nullptr);
    EXPECT_EQ(L("W0/new")->pOwnedPixels, nullptr);
}

// Text drawing and a paste in one command: the text first, then the paste.
TEST_F(ImageEffectCmdTest, TextThenPaste)
{
    static std::vector<uint32_t> s_seen;
    s_seen.clear();
    Img("a", 2, 2);
    Img("b", 2, 2, 0, 0xFF000000u);
    g_LayerHooks.pfnDrawTextChar = [](LAYER* pLayer, const char*, int32_t, int32_t, int32_t, int32_t) {
        uint32_t v;
        std::memcpy(&v, pLayer->pOwnedPixels, 4);
        s_seen.push_back(v);
        const uint32_t w = 0xFFFFFFFFu;
        std::memcpy(pLayer->pOwnedPixels, &w, 4);
        return 1;
    };
    Fx({T(0, "a"), T(1, "b"), I(FX_SEL_DRAW_TEXT, 1), T(FX_ARG_TEXT, "x"), I(FX_SEL_PASTE, 1)});
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
    EXPECT_EQ(s_seen, std::vector<uint32_t>{Pattern(0, 0)});
    EXPECT_EQ(Px(L("W0/b"), 0, 0), 0xFFFFFFFFu);  // the drawn pixel was pasted
    EXPECT_EQ(Px(L("W0/b"), 1, 1), Pattern(1, 1));
}

// Canvas margins not given add nothing; rotation by 180 degrees through the command.
TEST_F(ImageEffectCmdTest, CanvasMarginsAndRotation)
{
    Img("a", 4, 3);
    Img("r", 4, 3);
    Fx({T(0, "a"), T(1, "wide"), I(FX_SEL_RESIZE_CANVAS, 1), I(12, 2)});
    Fx({T(0, "r"), T(1, "turned"), I(FX_SEL_ROTATE, 1), P(180)});
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
    const LAYER* pWide = L("W0/wide");
    ASSERT_EQ(pWide->nWidth, 6);
    ASSERT_EQ(pWide->nHeight, 3);
    EXPECT_EQ(Px(pWide, 0, 0), 0x00808080u);
    EXPECT_EQ(Px(pWide, 2, 0), Pattern(0, 0));
    EXPECT_EQ(Px(pWide, 5, 2), Pattern(3, 2));
    const LAYER* pTurned = L("W0/turned");
    ASSERT_EQ(pTurned->nWidth, 4);
    EXPECT_EQ(Px(pTurned, 0, 0), Pattern(3, 2));
    EXPECT_EQ(Px(pTurned, 3, 2), Pattern(0, 0));
    ExpectArea(L("W0/r"), 4, 3, 0, 0);
}

}  // namespace

namespace {

// P is evaluated by the command with the evaluator of its record's type: a floating expression
// becomes an integer before the check (128.75 gives 128: no change; 256.5 passes the check).
TEST_F(ImageEffectCmdTest, ParameterEvaluatedByItsType)
{
    Img("a", 3, 2);
    Fx({T(0, "a"), T(1, "same"), I(FX_SEL_BRIGHTNESS, 1),
        ExprArg(FX_ARG_P, MakeExprDouble(128.75), EVALTYPE_FLOAT)});
    Fx({T(0, "a"), T(1, "bright"), I(FX_SEL_BRIGHTNESS, 1),
        ExprArg(FX_ARG_P, MakeExprDouble(256.5), EVALTYPE_FLOAT)});
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
    ExpectArea(L("W0/same"), 3, 2, 0, 0);
    EXPECT_EQ(Px(L("W0/bright"), 2, 1), Brightened(Pattern(2, 1), 256));
}

}  // namespace
