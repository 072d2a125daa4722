// The layer command from built scripts: every argument's effect on its field (operators, clamps,
// the times-100 positions, 64-bit values, texts cut to the record's buffers), creation of plain
// layers, numbered layers, shares and groups with their refusals, sizes refused without leaving a
// size that does not match the buffer, images loaded into layers and onto a canvas, alpha taken
// from another layer, and a frame composed from layers the command made.
#include <functional>

#include "root/startup.h"
#include "image/layer.h"
#include "core/kx_texts.h"
#include "core/settings.h"
#include "core/engine_globals.h"
#include "imageproc/blend_modes.h"
#include "imageproc/compositor.h"
#include "imageproc/pixel_ops.h"
#include "core/worker_pool.h"
#include "script/command_ids.h"
#include "tests/image/cmd_layer_fixture.h"

using namespace layer_cmd_test;

namespace {

using ARGS = std::vector<BUILDER_ARG>;
using GETTER = std::function<int64_t(const LAYER*, const TREE_NODE*)>;

// "bg" made from no image (a 1 x 1 transparent layer) with order key 3, then the case's commands.
struct FIELD_CASE {
    const char* pszName;
    std::vector<ARGS> cmds;
    GETTER get;
    int64_t llExpected;
};

}  // namespace

TEST_F(LayerCmdTest, EachArgumentSetsItsField)
{
    const int64_t k40 = int64_t(1) << 40;
    const std::vector<FIELD_CASE> cases = {
        {"opacity 300", {{I(3, 300)}}, [](const LAYER* p, auto) { return p->nOpacity; }, 256},
        {"opacity -= 400", {{I(3, 400, ARGOP_SUB)}}, [](const LAYER* p, auto) { return p->nOpacity; }, 0},
        {"opacity 100 then *= 2", {{I(3, 100)}, {I(3, 2, ARGOP_MUL)}}, [](const LAYER* p, auto) { return p->nOpacity; }, 200},
        {"order -= 10 from 3", {{I(6, 10, ARGOP_SUB)}}, [](auto, const TREE_NODE* n) { return n->llOrder; }, 1},
        {"order += 4", {{I(6, 4, ARGOP_ADD)}}, [](auto, const TREE_NODE* n) { return n->llOrder; }, 7},
        {"x 7: times 100", {{I(4, 7)}}, [](const LAYER* p, auto) { return p->llX100; }, 700},
        {"x100 250: x", {{I(28, 250)}}, [](const LAYER* p, auto) { return p->llX; }, 2},
        {"x100 -250: x toward zero", {{I(28, -250)}}, [](const LAYER* p, auto) { return p->llX; }, -2},
        {"x 5 then += 3", {{I(4, 5)}, {I(4, 3, ARGOP_ADD)}}, [](const LAYER* p, auto) { return p->llX; }, 8},
        {"y beyond 32 bits", {{I(5, k40)}}, [](const LAYER* p, auto) { return p->llY; }, k40},
        {"y beyond 32 bits: times 100", {{I(5, k40)}}, [](const LAYER* p, auto) { return p->llY100; }, 100 * k40},
        {"y100 -150: y", {{I(29, -150)}}, [](const LAYER* p, auto) { return p->llY; }, -1},
        {"visible: low byte", {{I(2, 0x100)}}, [](const LAYER* p, auto) { return p->bVisible; }, 0},
        {"saturation += 500", {{I(7, 500, ARGOP_ADD)}}, [](const LAYER* p, auto) { return p->nSaturation; }, 256},
        {"colour balance -5", {{I(8, -5)}}, [](const LAYER* p, auto) { return p->nColorBalance; }, 0},
        {"colour balance too high", {{I(8, 0x2000000)}}, [](const LAYER* p, auto) { return p->nColorBalance; }, 0x1000000},
        {"mask threshold 300", {{I(50, 300)}}, [](const LAYER* p, auto) { return p->nMaskThreshold; }, 256},
        {"mask vagueness: 16 bits", {{I(53, 70000)}}, [](const LAYER* p, auto) { return p->nMaskVagueness; }, 70000 - 65536},
        {"blend mode: low byte", {{I(54, 0x105)}}, [](const LAYER* p, auto) { return p->bBlendMode; }, 5},
        {"user 1 then += 3", {{I(56, 9)}, {I(56, 3, ARGOP_ADD)}}, [](const LAYER* p, auto) { return p->llUser1; }, 12},
        {"user 2 -= 4", {{I(57, 4, ARGOP_SUB)}}, [](const LAYER* p, auto) { return p->llUser2; }, -4},
        {"scale x", {{I(30, 5000)}}, [](const LAYER* p, auto) { return p->llScaleX; }, 5000},
        {"scale y /= 4", {{I(31, 4, ARGOP_DIV)}}, [](const LAYER* p, auto) { return p->llScaleY; }, 2500},
        {"second angle 45 then += 10", {{I(33, 45)}, {I(33, 10, ARGOP_ADD)}},
         [](const LAYER* p, auto) { return int64_t(p->afGpuAngle[1]); }, 55},
        {"anchor y", {{I(36, -3)}}, [](const LAYER* p, auto) { return p->llGpuAnchorY; }, -3},
        {"third GPU value", {{I(39, 77)}}, [](const LAYER* p, auto) { return p->allGpuValue[2]; }, 77},
        {"GPU saturation -1", {{I(40, -1)}}, [](const LAYER* p, auto) { return p->nGpuSaturation; }, 0},
        {"GPU colour balance too high", {{I(41, 0x2000000)}}, [](const LAYER* p, auto) { return p->nGpuColorBalance; }, 0x1000000},
        {"GPU flag: low byte", {{I(42, 0x1FF)}}, [](const LAYER* p, auto) { return p->bGpuFlag; }, 0xFF},
        {"fade 999", {{I(44, 999)}}, [](const LAYER* p, auto) { return p->nFadeLevel; }, 256},
        {"scale into buffer 5", {{I(45, 5)}}, [](const LAYER* p, auto) { return p->bScaleIntoBuffer; }, 1},
        {"capture on", {{I(26, 1)}}, [](auto, const TREE_NODE* n) { return int64_t(g_pCaptureLayer == n); }, 1},
        {"capture on then off", {{I(26, 1)}, {I(26, 0)}}, [](auto, auto) { return int64_t(g_pCaptureLayer == nullptr); }, 1},
        {"texture without the GPU", {{I(25, 1)}}, [](const LAYER* p, auto) { return p->bKind; }, LAYERKIND_CPU},
        {"width without an image keeps the size", {{I(9, 50)}}, [](const LAYER* p, auto) { return p->nWidth; }, 1},
        {"ids not read", {{I(11, 5), I(49, 5), I(55, 5)}}, [](const LAYER* p, auto) { return p->nOpacity; }, 256},
    };
    for (const FIELD_CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        Reset();
        Layer({T(0, "bg"), T(46, ""), I(6, 3)});
        for (const ARGS& a : c.cmds) {
            ARGS args = {T(0, "bg")};
            args.insert(args.end(), a.begin(), a.end());
            Layer(args);
        }
        Run();
        EXPECT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
        const TREE_NODE* pNode = Node("W0/bg");
        ASSERT_NE(GetNodeLayer(pNode), nullptr);
        EXPECT_EQ(c.get(GetNodeLayer(pNode), pNode), c.llExpected);
        EXPECT_EQ(g_bEngineStop.load(), 0);
    }
}

// A change asks for a full redraw and reaches window 0's group as a dirty box; a command that
// changes nothing asks for nothing.
TEST_F(LayerCmdTest, ChangesMarkTheLayerAndAskForARedraw)
{
    Layer({T(0, ":W0/"), I(9, 16), I(10, 8)});
    Layer({T(0, "bg"), T(46, ""), I(6, 1), I(9, 2), I(10, 2)});
    ASSERT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 1)}), 0);
    Layer({T(0, "bg"), I(3, 256)});   // already opaque: no change
    ASSERT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 1)}), 0);
    Layer({T(0, "bg"), I(4, 10), I(5, 3)});
    Run();
    ASSERT_TRUE(errors.reports.empty());
    EXPECT_EQ(g_bFullRedraw, 1);

    for (int nPass = 0; nPass < 2; ++nPass) {
        ResetDirtyRects(g_pLayerRoot->pFirstChild);
        L("W0", true)->bOwnValid = 0;
        g_bFullRedraw = 0;
        Pass();
        if (L("W0/bg")->llX == 0) {
            EXPECT_EQ(g_bFullRedraw, 0);
        }
    }
    ASSERT_EQ(L("W0/bg")->llX, 10);
    EXPECT_EQ(g_bFullRedraw, 1);
    const LAYER* W = L("W0", true);
    ASSERT_TRUE(W->bOwnValid);
    // The old place (0,0) and the new one (10,3) are both inside the box.
    EXPECT_LE(W->rcOwn.llLeft, 0);
    EXPECT_LE(W->rcOwn.llTop, 0);
    EXPECT_GE(W->rcOwn.llRight, 11);
    EXPECT_GE(W->rcOwn.llBottom, 4);
}

TEST_F(LayerCmdTest, PathTextsAreCutToTheRecordBuffers)
{
    const std::string strLong(300, 'a');
    const std::string strPair = std::string(259, 'b') + "\x82\xa0";   // a double-byte character across the end
    Layer({T(0, "bg"), T(46, ""), I(6, 1), T(51, "mask"), I(52, 3), T(43, strLong)});
    Layer({T(0, "bg2"), T(46, ""), I(6, 1), T(51, strPair), T(43, "")});
    Run();
    ASSERT_TRUE(errors.reports.empty());
    EXPECT_STREQ(L("W0/bg")->pszMaskPath, "mask.3");
    EXPECT_EQ(std::string(L("W0/bg")->pszSecondPath), std::string(260, 'a'));
    EXPECT_EQ(std::string(L("W0/bg2")->pszMaskPath), std::string(259, 'b'));
}

// Creation of plain layers, numbered layers, shares and groups, and every refusal: the error, the
// engine stop, and what is (not) left in the tree.
TEST_F(LayerCmdTest, CreationAndRefusals)
{
    struct CASE {
        const char* pszName;
        std::vector<ARGS> cmds;
        uint8_t bSwitch;
        std::pair<int, int> error;
        std::function<bool()> check;
    };
    const std::vector<CASE> cases = {
        {"missing layer, switch off", {{T(0, "bg"), I(3, 5)}}, 0, {0, 0}, [] { return !Node("W0/bg"); }},
        {"missing layer, switch on", {{T(0, "bg"), I(3, 5)}}, 1, {KX_ERR_LAYER_MISSING, 1}, [] { return !Node("W0/bg"); }},
        {"number suffix and key", {{T(0, "bg"), I(1, 5), T(46, "")}}, 1, {0, 0},
         [] { return Node("W0/bg.5") && Node("W0/bg.5")->llOrder == 5 && !Node("W0/bg"); }},
        {"no order key", {{T(0, "bg"), T(46, "")}}, 1, {KX_ERR_LAYER_NO_ORDER, 1}, [] { return !Node("W0/bg"); }},
        {"share of a missing layer", {{T(0, "bg"), I(6, 1), T(47, "none")}}, 1, {KX_ERR_LAYER_SHARE_MISSING, 1},
         [] { return !Node("W0/bg"); }},
        {"share of an empty path", {{T(0, "bg"), I(6, 1), T(47, "")}}, 1, {0, 0}, [] { return !Node("W0/bg"); }},
        {"share", {{T(0, "a"), I(6, 1), T(46, "")}, {T(0, "b"), I(6, 2), T(47, "a")}, {T(0, "b"), I(3, 7)}}, 1, {0, 0},
         [] { return L("W0/a") == L("W0/b") && L("W0/a")->nOpacity == 7 && L("W0/a")->llRefCount == 2; }},
        {"group with an image", {{T(0, "g/"), I(6, 1), I(9, 4), I(10, 4), T(46, "")}}, 1, {KX_ERR_LAYER_GROUP_IMAGE, 1},
         [] { return !Node("W0/g", true); }},
        {"group without a height", {{T(0, "g/"), I(6, 1), I(9, 4)}}, 1, {0, 0}, [] { return !Node("W0/g", true); }},
        {"group without an order", {{T(0, "g/"), I(9, 4), I(10, 4)}}, 1, {0, 0}, [] { return !Node("W0/g", true); }},
        {"group made", {{T(0, "g/"), I(6, 2), I(9, 4), I(10, 3)}}, 1, {0, 0},
         [] {
             const TREE_NODE* n = Node("W0/g", true);
             const LAYER* p = GetNodeLayer(n);
             return p && n->llOrder == 2 && p->nWidth == 4 && p->nHeight == 3 && p->nBufWidth == 4 && p->pDisplayPixels;
         }},
        {"image for an existing group", {{T(0, "g/"), I(6, 2), I(9, 4), I(10, 3)}, {T(0, "g/"), T(46, "")}}, 1,
         {KX_ERR_LAYER_GROUP_IMAGE, 1}, [] { return Node("W0/g", true) != nullptr; }},
        {"group resized", {{T(0, "g/"), I(6, 2), I(9, 4), I(10, 3)}, {T(0, "g/"), I(9, 6), I(10, 5)}}, 1, {0, 0},
         [] {
             const LAYER* p = L("W0/g", true);
             return p->nWidth == 6 && p->nHeight == 5 && p->nBufWidth == 6 && p->nBufHeight == 5 && p->bOwnValid;
         }},
        {"group width negative", {{T(0, "g/"), I(6, 2), I(9, 4), I(10, 3)}, {T(0, "g/"), I(9, -1)}}, 1,
         {KX_ERR_ARG_MINIMUM, 1}, [] { return L("W0/g", true)->nWidth == 4 && L("W0/g", true)->nBufWidth == 4; }},
        {"group too wide", {{T(0, "g/"), I(6, 2), I(9, 4), I(10, 3)}, {T(0, "g/"), I(9, 9000)}}, 1,
         {KX_ERR_LAYER_NO_MEMORY, 1}, [] { return L("W0/g", true)->nWidth == 4 && L("W0/g", true)->nBufWidth == 4; }},
        {"new group too wide", {{T(0, "g/"), I(6, 2), I(9, 9000), I(10, 3)}}, 1, {KX_ERR_LAYER_NO_MEMORY, 1},
         [] { return !Node("W0/g", true); }},
        {"new group of a negative height", {{T(0, "g/"), I(6, 2), I(9, 4), I(10, -2)}}, 1, {KX_ERR_ARG_MINIMUM, 1},
         [] { return !Node("W0/g", true); }},
        {"image with only a width", {{T(0, "bg"), I(6, 1), T(46, ""), I(9, 4)}}, 1, {KX_ERR_LAYER_SIZE_PAIR, 1},
         [] { return L("W0/bg")->nWidth == 1; }},
        {"canvas with a negative size", {{T(0, "bg"), I(6, 1), T(46, ""), I(9, -4), I(10, 4)}}, 1,
         {KX_ERR_LAYER_NO_MEMORY, 1}, [] { return L("W0/bg")->nWidth == 1; }},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        Reset();
        g_abSwitchTable[KXCMD_LAYER] = c.bSwitch;
        for (const ARGS& a : c.cmds) Layer(a);
        Run();
        EXPECT_EQ(FirstError(), c.error) << (errors.reports.empty() ? "" : errors.reports[0].strText);
        EXPECT_EQ(g_bEngineStop.load(), c.error.second);
        EXPECT_TRUE(c.check());
    }
}

// An image loaded into a new layer takes the image's size; with a width and height it lands on an
// opaque black canvas of that size, top-left; a second load replaces it.
TEST_F(LayerCmdTest, ImagesAreLoadedIntoLayers)
{
    const std::vector<uint32_t> px = {0x102030, 0x405060, 0x708090, 0xA0B0C0, 0xD0E0F0, 0x010203};
    dir.Write("pic.bmp", Bmp(3, 2, px));
    dir.Write("one.bmp", Bmp(1, 1, {0x00FF00}));
    Layer({T(0, "a"), I(6, 1), T(46, "pic.bmp")});
    Layer({T(0, "c"), I(6, 2), T(46, "pic.bmp"), I(9, 10), I(10, 20)});
    Layer({T(0, "d"), I(6, 3), T(46, "pic.bmp"), I(9, 2), I(10, 1)});
    Layer({T(0, "e"), I(6, 4), T(46, "pic.bmp")});
    Layer({T(0, "e"), T(46, "one.bmp")});
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;

    const LAYER* a = L("W0/a");
    ASSERT_EQ(a->nWidth, 3);
    ASSERT_EQ(a->nHeight, 2);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Px(a, i % 3, i / 3), 0xFF000000u | px[i]) << i;

    const LAYER* c = L("W0/c");
    ASSERT_EQ(c->nWidth, 10);
    ASSERT_EQ(c->nHeight, 20);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 10; ++x) {
            const uint32_t want = x < 3 && y < 2 ? 0xFF000000u | px[y * 3 + x] : 0xFF000000u;
            ASSERT_EQ(Px(c, x, y), want) << x << "," << y;
        }
    const LAYER* d = L("W0/d");
    ASSERT_EQ(d->nWidth, 2);
    ASSERT_EQ(d->nHeight, 1);
    EXPECT_EQ(Px(d, 0, 0), 0xFF000000u | px[0]);
    EXPECT_EQ(Px(d, 1, 0), 0xFF000000u | px[1]);

    const LAYER* e = L("W0/e");
    EXPECT_EQ(e->nWidth, 1);
    EXPECT_EQ(Px(e, 0, 0), 0xFF00FF00u);
}

// A file of another kind is refused naming the layer command; the engine stops.
TEST_F(LayerCmdTest, AFailedLoadStopsTheEngine)
{
    dir.Write("bad.bmp", std::vector<uint8_t>{'B', 'M', 1, 2, 3});
    Layer({T(0, "a"), I(6, 1), T(46, "bad.bmp")});
    Layer({T(0, "a"), I(3, 5)});   // not reached
    Run();
    ASSERT_FALSE(errors.reports.empty());
    EXPECT_EQ(g_bEngineStop.load(), 1);
    EXPECT_EQ(WasFatalErrorReported(), 1);
    ASSERT_NE(L("W0/a"), nullptr);
    EXPECT_EQ(L("W0/a")->nOpacity, 256);
}

// The blue bytes of a layer of the same size become the alpha; another size shows the message
// and stops the engine; a path that names no layer does nothing.
TEST_F(LayerCmdTest, AlphaFromAnotherLayersBlue)
{
    dir.Write("pic.bmp", Bmp(2, 1, {0x112233, 0x445566}));
    dir.Write("mask.bmp", Bmp(2, 1, {0x000080, 0x0000FF}));
    dir.Write("big.bmp", Bmp(3, 1, {0, 0, 0}));
    Layer({T(0, "m"), I(6, 1), T(46, "mask.bmp")});
    Layer({T(0, "big"), I(6, 1), T(46, "big.bmp")});
    Layer({T(0, "a"), I(6, 2), T(46, "pic.bmp"), T(48, "m")});
    Layer({T(0, "a"), T(48, "nothing")});
    Run();
    ASSERT_TRUE(errors.reports.empty());
    const LAYER* a = L("W0/a");
    EXPECT_EQ(Px(a, 0, 0), 0x80112233u);
    EXPECT_EQ(Px(a, 1, 0), 0xFF445566u);
    EXPECT_EQ(a->bHasAlpha, 1);
    EXPECT_TRUE(boxes.boxes.empty());

    Reset();
    dir.Write("pic.bmp", Bmp(2, 1, {0x112233, 0x445566}));
    dir.Write("big.bmp", Bmp(3, 1, {0, 0, 0}));
    Layer({T(0, "big"), I(6, 1), T(46, "big.bmp")});
    Layer({T(0, "a"), I(6, 2), T(46, "pic.bmp"), T(48, "big")});
    Layer({T(0, "a"), I(3, 9)});   // not reached
    Run();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strText, GetEngineText(TXT_MASK_SIZE_MISMATCH));
    EXPECT_EQ(g_bEngineStop.load(), 1);
    EXPECT_EQ(WasFatalErrorReported(), 1);   // the run ends with status 1
    EXPECT_EQ(L("W0/a")->nOpacity, 256);
}

// Window 0's group sized by the command, a background and a half-transparent square placed by the
// command: the composed frame holds the background with the square blended over it at its place.
TEST_F(LayerCmdTest, ComposedFrameShowsTheLayersTheCommandMade)
{
    FillMulDivTables();
    InitBlendTables();
    FillPixelOps(&g_PixelOps, 1, PIXEL_SIMD_NONE);
    InstallCompositor();
    aWindow[0].bVisible = 1;
    aWindow[0].nWidth = 8;
    aWindow[0].nHeight = 4;
    std::vector<uint32_t> red(8 * 4, 0xC00000);
    dir.Write("bg.bmp", Bmp(8, 4, red));
    dir.Write("sq.bmp", Bmp(2, 2, {0x0000FF, 0x0000FF, 0x0000FF, 0x0000FF}));
    Layer({T(0, ":W0/"), I(9, 8), I(10, 4)});
    Layer({T(0, "bg"), I(6, 1), T(46, "bg.bmp")});
    Layer({T(0, "sq"), I(6, 2), T(46, "sq.bmp"), I(4, 3), I(5, 1), I(3, 128)});
    Layer({T(0, "hidden"), I(6, 3), T(46, "sq.bmp"), I(2, 0)});
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
    ++g_llFrameCount;
    const LAYER* W = L("W0", true);
    ASSERT_EQ(RenderWindowCPU(0), 0);
    ASSERT_EQ(W->nWidth, 8);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) {
            const uint32_t v = Px(W, x, y) & 0xFFFFFF;
            const bool bSquare = x >= 3 && x <= 4 && y >= 1 && y <= 2;
            if (!bSquare) {
                EXPECT_EQ(v, 0xC00000u) << x << "," << y;
                continue;
            }
            // Half of each: red about 0x60, blue about 0x80.
            EXPECT_NEAR(int(v >> 16), 0x60, 2) << x << "," << y;
            EXPECT_EQ(int((v >> 8) & 0xFF), 0) << x << "," << y;
            EXPECT_NEAR(int(v & 0xFF), 0x80, 2) << x << "," << y;
        }
    StopWorkerThreads();
}

// Which arguments ask for a full redraw and mark the layer when they are the only change to an
// existing layer: a value that changes, the order key and a second path always, a plain layer's
// size without an image always; user values, the capture switch, paths and alpha from no layer
// never, nor the Direct3D arguments while Direct3D is not in use.
TEST_F(LayerCmdTest, WhichArgumentsRedrawAndMark)
{
    struct CASE {
        const char* pszName;
        ARGS args;
        int bRedraw;
    };
    const std::vector<CASE> cases = {
        {"nothing", {}, 0},
        {"same opacity", {I(3, 256)}, 0},
        {"opacity", {I(3, 100)}, 1},
        {"same visibility", {I(2, 1)}, 0},
        {"hidden", {I(2, 0)}, 1},
        {"same x", {I(4, 0)}, 0},
        {"x", {I(4, 3)}, 1},
        {"same y times 100", {I(29, 0)}, 0},
        {"y times 100", {I(29, 300)}, 1},
        {"same saturation", {I(7, 128)}, 0},
        {"saturation", {I(7, 0)}, 1},
        {"same order key", {I(6, 3)}, 1},
        {"mask threshold", {I(50, 7)}, 1},
        {"mask vagueness", {I(53, 7)}, 1},
        {"same angle", {I(34, 0)}, 0},
        {"angle", {I(34, 5)}, 1},
        {"GPU flag", {I(42, 1)}, 1},
        {"same GPU colour balance", {I(41, 0x808080)}, 0},
        {"fade", {I(44, 9)}, 1},
        {"second path, empty", {T(43, "")}, 1},
        {"width without an image", {I(9, 5)}, 1},
        {"height without an image", {I(10, 5)}, 1},
        {"user values", {I(56, 5), I(57, 6)}, 0},
        {"capture", {I(26, 1)}, 0},
        {"mask path", {T(51, "m"), I(52, 2)}, 0},
        {"alpha from no layer", {T(48, "none")}, 0},
        {"textures without Direct3D", {I(25, 1), I(24, 2)}, 0},
        {"GPU frame without Direct3D", {I(27, 1)}, 0},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        Reset();
        Layer({T(0, ":W0/"), I(9, 16), I(10, 8)});
        Layer({T(0, "bg"), T(46, ""), I(6, 3)});
        ASSERT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 1)}), 0);
        ARGS args = {T(0, "bg")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Layer(args);
        Run();
        ASSERT_EQ(L("W0/bg")->nOpacity, 256);   // the second command has not run yet
        ResetDirtyRects(g_pLayerRoot->pFirstChild);
        L("W0", true)->bOwnValid = 0;
        g_bFullRedraw = 0;
        Pass();
        EXPECT_TRUE(errors.reports.empty());
        EXPECT_EQ(g_bFullRedraw, c.bRedraw);
        EXPECT_EQ(L("W0", true)->bOwnValid, c.bRedraw);
    }
}

// Arguments whose effect depends on the others of the same command or on the record as it is:
// the fixed order of the positions and their twins, a twin left alone when the value does not
// change, and the capture switch's values other than 0 and 1.
TEST_F(LayerCmdTest, OrderAndTwinsOfTheFields)
{
    const std::vector<FIELD_CASE> cases = {
        {"x then x100 in one command", {{I(4, 5), I(28, 250)}}, [](const LAYER* p, auto) { return p->llX; }, 2},
        {"x100 given first still wins", {{I(28, 250), I(4, 5)}}, [](const LAYER* p, auto) { return p->llX100; }, 250},
        {"y100 then y: y100 last", {{I(5, 9), I(29, -120)}}, [](const LAYER* p, auto) { return p->llY; }, -1},
        {"same x keeps the twin", {{I(28, 250)}, {I(4, 2)}}, [](const LAYER* p, auto) { return p->llX100; }, 250},
        {"new x sets the twin", {{I(28, 250)}, {I(4, 3)}}, [](const LAYER* p, auto) { return p->llX100; }, 300},
        {"x times 100 wraps", {{I(4, INT64_MAX)}}, [](const LAYER* p, auto) { return p->llX100; }, -100},
        {"capture 2 keeps the capture layer", {{I(26, 1)}, {I(26, 2)}},
         [](auto, const TREE_NODE* n) { return int64_t(g_pCaptureLayer == n); }, 1},
        {"first angle truncated", {{I(32, 7)}, {I(32, 3, ARGOP_MUL)}}, [](const LAYER* p, auto) { return int64_t(p->afGpuAngle[0]); }, 21},
        {"user 1 *= with no clamp", {{I(56, INT64_MAX)}, {I(56, 2, ARGOP_MUL)}}, [](const LAYER* p, auto) { return p->llUser1; }, -2},
        {"opacity = is clamped", {{I(3, -7)}}, [](const LAYER* p, auto) { return p->nOpacity; }, 0},
        {"scale into buffer -= below 0", {{I(45, 1)}, {I(45, 5, ARGOP_SUB)}}, [](const LAYER* p, auto) { return p->bScaleIntoBuffer; }, 0},
        {"visible is not an operator", {{I(2, 3, ARGOP_ADD)}}, [](const LAYER* p, auto) { return p->bVisible; }, 3},
    };
    for (const FIELD_CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        Reset();
        Layer({T(0, "bg"), T(46, ""), I(6, 3)});
        for (const ARGS& a : c.cmds) {
            ARGS args = {T(0, "bg")};
            args.insert(args.end(), a.begin(), a.end());
            Layer(args);
        }
        Run();
        EXPECT_TRUE(errors.reports.empty());
        const TREE_NODE* pNode = Node("W0/bg");
        ASSERT_NE(GetNodeLayer(pNode), nullptr);
        EXPECT_EQ(c.get(GetNodeLayer(pNode), pNode), c.llExpected);
    }
}

// Under a GPU renderer (drawing the layers or presenting the frame) a move marks only the new
// place; the old one is left to the GPU.
TEST_F(LayerCmdTest, UnderTheGpuAMoveMarksOnlyTheNewPlace)
{
    for (uint8_t* pFlag : {&g_bGpuPresent, &g_bGpuDirect}) {
        SCOPED_TRACE(pFlag == &g_bGpuPresent ? "GPU presents" : "GPU draws");
        Reset();
        Layer({T(0, ":W0/"), I(9, 16), I(10, 8)});
        Layer({T(0, "bg"), T(46, ""), I(6, 1)});
        ASSERT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 1)}), 0);
        Layer({T(0, "bg"), I(4, 10), I(5, 3)});
        Run();
        ResetDirtyRects(g_pLayerRoot->pFirstChild);
        L("W0", true)->bOwnValid = 0;
        *pFlag = 1;
        Pass();
        *pFlag = 0;
        ASSERT_EQ(L("W0/bg")->llX, 10);
        const LAYER* W = L("W0", true);
        ASSERT_TRUE(W->bOwnValid);
        EXPECT_EQ(W->rcOwn.llLeft, 10);
        EXPECT_EQ(W->rcOwn.llTop, 3);
    }
}

// Under Direct3D the texture argument turns a CPU layer into a texture layer and asks for the
// upload with the mip flag (argument 24 minus 1, else 0) and the tile limits; a failed upload ends
// the command before the later arguments. Argument 27 renders the GPU frame.
TEST_F(LayerCmdTest, TexturesAndTheGpuFrameUnderDirect3D)
{
    struct UPLOAD {
        const LAYER* pLayer;
        int nMip, nTileWidth, nTileHeight;
    };
    static std::vector<UPLOAD> s_uploads;
    static int s_nFrames;
    s_uploads.clear();
    s_nFrames = 0;
    const uint8_t bSavedDirect3D = g_bDirect3D;
    int (*pfnSavedRender)(void) = g_LayerHooks.pfnRenderGpuFrame;
    g_bDirect3D = 1;
    g_LayerHooks.pfnUploadLayerTextures = [](LAYER* p, int nMip, int w, int h) {
        s_uploads.push_back({p, nMip, w, h});
        return nMip == 5 ? -1 : 0;
    };
    g_LayerHooks.pfnRenderGpuFrame = [] { return ++s_nFrames, 0; };
    Layer({T(0, "a"), T(46, ""), I(6, 1), I(25, 1), I(24, 3)});
    Layer({T(0, "b"), T(46, ""), I(6, 2), I(25, 1), I(27, 1)});
    Layer({T(0, "c"), T(46, ""), I(6, 3), I(25, 2), I(24, 3)});
    Layer({T(0, "d"), T(46, ""), I(6, 4), I(25, 1), I(24, 6), I(30, 77)});
    Run();
    g_bDirect3D = bSavedDirect3D;
    InstallEngineParts();
    g_LayerHooks.pfnRenderGpuFrame = pfnSavedRender;
    EXPECT_TRUE(errors.reports.empty());
    ASSERT_EQ(s_uploads.size(), 3u);
    EXPECT_EQ(s_uploads[0].pLayer, L("W0/a"));
    EXPECT_EQ(s_uploads[0].nMip, 2);
    EXPECT_EQ(s_uploads[0].nTileWidth, KX_LAYER_TILE_WIDTH_LIMIT);
    EXPECT_EQ(s_uploads[0].nTileHeight, KX_LAYER_TILE_HEIGHT_LIMIT);
    EXPECT_EQ(s_uploads[1].pLayer, L("W0/b"));
    EXPECT_EQ(s_uploads[1].nMip, 0);
    EXPECT_EQ(s_uploads[2].pLayer, L("W0/d"));
    EXPECT_EQ(L("W0/a")->bKind, LAYERKIND_TEXTURE);
    EXPECT_EQ(L("W0/a")->bMip, 2);
    EXPECT_EQ(L("W0/c")->bKind, LAYERKIND_CPU);
    EXPECT_EQ(L("W0/c")->bMip, 0);
    EXPECT_EQ(L("W0/d")->bKind, LAYERKIND_TEXTURE);
    EXPECT_EQ(L("W0/d")->llScaleX, KX_SCALE_100_PERCENT);
    EXPECT_EQ(s_nFrames, 1);
}

// The refusals name the command, the argument and the path they are about, with the values.
TEST_F(LayerCmdTest, RefusalsNameTheirArgumentOrPath)
{
    struct CASE {
        std::vector<ARGS> cmds;
        int nId;
        const char* pszText;   // the message after the command's name
    };
    const std::vector<CASE> cases = {
        {{{T(0, "bg"), I(3, 5)}}, KX_ERR_LAYER_MISSING, "W0/bg"},
        {{{T(0, "bg"), I(6, 1), T(47, "none")}}, KX_ERR_LAYER_SHARE_MISSING, "W0/none"},
        {{{T(0, "g/"), I(6, 2), I(9, -4), I(10, 3)}}, KX_ERR_ARG_MINIMUM, "l9|-4|0"},
        {{{T(0, "g/"), I(6, 2), I(9, 4), I(10, -3)}}, KX_ERR_ARG_MINIMUM, "l10|-3|0"},
        {{{T(0, "g/"), I(6, 2), I(9, 4), I(10, 3)}, {T(0, "g/"), I(10, -1)}}, KX_ERR_ARG_MINIMUM, "l10|-1|0"},
        {{{T(0, "g/"), I(6, 2), I(9, 4), I(10, 3)}, {T(0, "g/"), I(9, int64_t(1) << 33)}}, KX_ERR_ARG_RANGE,
         "l9|8589934592|0|8192"},
        {{{T(0, "bg"), I(6, 1), T(46, ""), I(9, 4), I(10, int64_t(1) << 33)}}, KX_ERR_ARG_RANGE, "l10|8589934592|0|8192"},
        {{{T(0, "bg"), I(6, 1), T(46, ""), I(9, int64_t(1) << 33), I(10, 4)}}, KX_ERR_ARG_RANGE, "l9|8589934592|0|8192"},
        {{{T(0, "bg"), T(46, "")}}, KX_ERR_LAYER_NO_ORDER, ""},
        {{{T(0, "g/"), I(6, 1), T(47, "x")}}, KX_ERR_LAYER_GROUP_IMAGE, ""},
        {{{T(0, "bg"), I(6, 1), T(46, ""), I(10, 4)}}, KX_ERR_LAYER_SIZE_PAIR, ""},
    };
    messages = {{KX_ERR_LAYER_MISSING, "E|%s|%s"},   {KX_ERR_LAYER_SHARE_MISSING, "E|%s|%s"},
                {KX_ERR_ARG_MINIMUM, "E|%s|%s|%I64d|%d"}, {KX_ERR_ARG_RANGE, "E|%s|%s|%I64d|%d|%d"},
                {KX_ERR_LAYER_NO_ORDER, "E|%s|"},    {KX_ERR_LAYER_GROUP_IMAGE, "E|%s|"},
                {KX_ERR_LAYER_SIZE_PAIR, "E|%s|"}};
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszText);
        Reset();
        for (const ARGS& a : c.cmds) Layer(a);
        Run();
        ASSERT_EQ(FirstError(), std::make_pair(c.nId, 1));
        const std::string strWant = std::string("E|") + GetScriptCommandName(CMDID_LAYER) + "|" + c.pszText;
        EXPECT_NE(errors.reports[0].strText.find(strWant), std::string::npos) << errors.reports[0].strText;
    }
}
