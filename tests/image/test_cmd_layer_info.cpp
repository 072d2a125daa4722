// The layer delete and information commands from built scripts: deleting plain layers and whole
// groups (and nothing for a missing one), every question of the information command, the child
// search, window and layer pixels with their bounds, the alpha bounding box, and the answers for a
// missing layer by the output's type.
#include "tests/image/cmd_layer_fixture.h"

using namespace layer_cmd_test;

namespace {

using ARGS = std::vector<BUILDER_ARG>;

}  // namespace

TEST_F(LayerCmdTest, DeleteRemovesLayersAndWholeGroups)
{
    Layer({T(0, "g/"), I(6, 1), I(9, 8), I(10, 8)});
    Layer({T(0, "g/a"), I(6, 1), T(46, "")});
    Layer({T(0, "g/h/"), I(6, 2), I(9, 4), I(10, 4)});
    Layer({T(0, "g/h/b"), I(6, 1), T(46, ""), I(26, 1)});   // the capture layer, deep inside
    Layer({T(0, "p"), I(6, 2), T(46, "")});
    Layer({T(0, "q"), I(6, 3), T(46, "")});
    Layer({T(0, "s"), I(6, 4), T(47, "q")});
    Delete({T(0, "p")});
    Delete({T(0, "g/")});
    Delete({T(0, "q")});
    Delete({T(0, "missing")});
    Delete({T(0, "missing/")});
    Delete({T(0, "q"), I(1, 1)});
    Run();
    ASSERT_TRUE(errors.reports.empty());
    EXPECT_EQ(Node("W0/p"), nullptr);
    EXPECT_EQ(Node("W0/g", true), nullptr);
    EXPECT_EQ(g_pCaptureLayer, nullptr);
    EXPECT_EQ(Node("W0/q"), nullptr);
    // The shared record lives on under its other name.
    ASSERT_NE(L("W0/s"), nullptr);
    EXPECT_EQ(L("W0/s")->llRefCount, 1);
    EXPECT_EQ(W0()->nChildCount, 1);
}

// Every question of the table into the integer variable (texts into the text variable).
TEST_F(LayerCmdTest, InfoAnswersEveryQuestion)
{
    dir.Write("pic.bmp", Bmp(3, 2, {0x102030, 0x405060, 0x708090, 0xA0B0C0, 0xD0E0F0, 0x010203}));
    Layer({T(0, "p"), I(6, 7), T(46, "pic.bmp"), I(2, 0), I(3, 100), I(50, 40), T(51, "mk"), I(53, 12), I(4, -5),
           I(5, 6), I(54, 3), I(30, 1500), I(31, 2500), I(37, 11), I(38, 12), I(39, 13), I(56, 21), I(57, 22)});
    Layer({T(0, "g/"), I(6, 8), I(9, 4), I(10, 4)});
    Layer({T(0, "g/c"), I(6, 1), T(46, "")});
    Layer({T(0, "g/d/"), I(6, 2), I(9, 1), I(10, 1)});
    struct CASE {
        const char* pszName;
        ARGS args;
        int64_t llExpected;
        const char* pszText;   // a text answer when set
    };
    const std::vector<CASE> cases = {
        {"exists", {T(0, "p"), I(2, 1)}, 1, nullptr},
        {"visible", {T(0, "p"), I(3, 1)}, 0, nullptr},
        {"opacity", {T(0, "p"), I(4, 1)}, 100, nullptr},
        {"mask threshold", {T(0, "p"), I(9, 1)}, 40, nullptr},
        {"mask path", {T(0, "p"), I(10, 1)}, 0, "mk"},
        {"mask vagueness", {T(0, "p"), I(11, 1)}, 12, nullptr},
        {"x", {T(0, "p"), I(5, 1)}, -5, nullptr},
        {"y", {T(0, "p"), I(6, 1)}, 6, nullptr},
        {"order key", {T(0, "p"), I(7, 1)}, 7, nullptr},
        {"blend mode", {T(0, "p"), I(12, 1)}, 3, nullptr},
        {"width", {T(0, "p"), I(13, 1)}, 3, nullptr},
        {"height", {T(0, "p"), I(14, 1)}, 2, nullptr},
        {"scale x", {T(0, "p"), I(15, 1)}, 1500, nullptr},
        {"scale y", {T(0, "p"), I(16, 1)}, 2500, nullptr},
        {"GPU value 1", {T(0, "p"), I(17, 1)}, 11, nullptr},
        {"GPU value 2", {T(0, "p"), I(18, 1)}, 12, nullptr},
        {"GPU value 3", {T(0, "p"), I(19, 1)}, 13, nullptr},
        {"kind", {T(0, "p"), I(20, 1)}, LAYERKIND_CPU, nullptr},
        {"user 1", {T(0, "p"), I(26, 1)}, 21, nullptr},
        {"user 2", {T(0, "p"), I(27, 1)}, 22, nullptr},
        {"first present in table order", {T(0, "p"), I(14, 1), I(4, 1)}, 100, nullptr},
        {"child count", {T(0, "g/"), I(29, 1)}, 2, nullptr},
        {"child count of a plain path", {T(0, "p"), I(29, 1)}, 0, nullptr},
        {"name of child 1 (top)", {T(0, "g/"), I(30, 1), I(32, 1)}, 0, "d"},
        {"name of child 2", {T(0, "g/"), I(30, 1), I(32, 2)}, 0, "c"},
        {"name of child 3 (none)", {T(0, "g/"), I(30, 1), I(32, 3)}, 0, ""},
        {"group flag of child 1", {T(0, "g/"), I(31, 1), I(32, 1)}, 1, nullptr},
        {"group flag of child 2", {T(0, "g/"), I(31, 1), I(32, 2)}, 0, nullptr},
        {"layer pixel", {T(0, "p"), I(24, 1), I(34, 1), I(35, 1)}, 0xD0E0F0, nullptr},
        {"layer pixel outside", {T(0, "p"), I(24, 1), I(34, 3), I(35, 0)}, -1, nullptr},
        {"layer pixel negative", {T(0, "p"), I(24, 1), I(34, -1), I(35, 0)}, -1, nullptr},
        {"number suffix", {T(0, "g/c"), I(7, 1)}, 1, nullptr},
        {"nothing asked", {T(0, "p"), I(8, 1)}, 0, nullptr},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        ARGS args = cases[i].args;
        args.push_back(cases[i].pszText ? OutTextAt(int64_t(i)) : OutIntAt(int64_t(i)));
        Info(args);
    }
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].strText;
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].pszName);
        if (cases[i].pszText) {
            const char* p = GetVarString(kVarTexts, int64_t(i));
            EXPECT_STREQ(p ? p : "(null)", cases[i].pszText);
        } else {
            EXPECT_EQ(GetVarInt(kVarInts, int64_t(i)), cases[i].llExpected);
        }
    }
}

// Children keyed 1, 2, 3 with user values 1 of 7, 7, 9 (and user values 2 of 1, 2, 3): counted from
// the top, the first match from the start on; -1 for none; 0 past the end or with nothing to match.
TEST_F(LayerCmdTest, ChildSearchCountsFromTheTop)
{
    Layer({T(0, "g/"), I(6, 1), I(9, 4), I(10, 4)});
    const int64_t user1[] = {7, 7, 9};
    for (int i = 0; i < 3; ++i)
        Layer({T(0, "g/c"), I(1, i + 1), T(46, ""), I(56, user1[i]), I(57, i + 1)});
    const std::vector<INFO_CASE> cases = {
        {{I(26, 7)}, 2},
        {{I(26, 7), I(32, 3)}, 3},
        {{I(26, 7), I(32, -4)}, 2},
        {{I(26, 9)}, 1},
        {{I(26, 5)}, -1},
        {{I(26, 7), I(32, 4)}, 0},
        {{I(32, 1)}, 0},
        {{I(26, 7), I(27, 1)}, 3},
        {{I(27, 2)}, 2},
        {{I(26, 9), I(27, 2)}, -1},
    };
    AskAndExpect({T(0, "g/"), I(28, 1)}, cases);
}

// Window pixels: the window's mouse point (or the given coordinates) against the layer's window
// position summed through its groups; points outside the window or the layer answer -1.
TEST_F(LayerCmdTest, WindowAndLayerPixels)
{
    aWindow[0].nWidth = 40;
    aWindow[0].nHeight = 30;
    aWindow[0].nMouseX = 12;
    aWindow[0].nMouseY = 9;
    aWindow[2].nWidth = 5;
    aWindow[2].nHeight = 5;
    // 32-bit pixels: the top-left one half transparent, one fully opaque white.
    BMP_WRITER_OPTIONS opt;
    opt.nBits = 32;
    const std::vector<uint32_t> px = {0x80102030u, 0xFF405060u, 0xFFFFFFFFu, 0x00000000u};
    dir.Write("pic.bmp", WriteBmp(2, 2, opt, px.data(), nullptr));
    Layer({T(0, "g/"), I(6, 1), I(9, 30), I(10, 20), I(4, 10), I(5, 5)});
    Layer({T(0, "g/p"), I(6, 1), T(46, "pic.bmp"), I(4, 2), I(5, 4)});   // window position (12, 9)
    const std::vector<INFO_CASE> cases = {
        {{I(21, 0)}, 0x102030},
        {{I(22, 0)}, 0x80},
        {{I(23, 0)}, int64_t(int32_t(0x80102030u))},
        {{I(21, 0), I(34, 13)}, 0x405060},
        {{I(23, 0), I(35, 10)}, -1},                  // opaque white: the same value as "outside"
        {{I(22, 0), I(34, 13), I(35, 10)}, 0},        // transparent
        {{I(21, 0), I(34, 14)}, -1},                  // right of the layer
        {{I(21, 0), I(34, 11)}, -1},                  // left of the layer
        {{I(21, 7)}, -1},                             // window 3: no size, the point is outside it
        {{I(21, 2), I(34, 3), I(35, 3)}, -1},         // inside window 2, outside the layer
        {{I(21, 0), I(34, 40)}, -1},                  // outside window 0
        {{I(24, 1), I(34, 1), I(35, 0)}, 0x405060},
    };
    ASSERT_NO_FATAL_FAILURE(AskAndExpect({T(0, "g/p")}, cases));
    EXPECT_EQ(ReadLayerPixel(nullptr, 0, 0, KX_PIXEL_RGB), -1);
}

// The alpha bounding box over the pixels whose alpha is above the threshold.
TEST_F(LayerCmdTest, AlphaBoundingBox)
{
    BMP_WRITER_OPTIONS opt;
    opt.nBits = 32;
    std::vector<uint32_t> px(5 * 4, 0);
    px[1 * 5 + 1] = 0x40FFFFFFu;   // (1, 1) alpha 0x40
    px[2 * 5 + 3] = 0xC0FFFFFFu;   // (3, 2) alpha 0xC0
    dir.Write("pic.bmp", WriteBmp(5, 4, opt, px.data(), nullptr));
    Layer({T(0, "p"), I(6, 1), T(46, "pic.bmp")});
    struct CASE {
        int64_t llSelector, llThreshold, llExpected;
    };
    const std::vector<CASE> cases = {
        {1, 0, 1}, {2, 0, 2}, {3, 0, 1}, {4, 0, 3}, {3, 0x40, 3}, {1, 0x40, 2}, {5, 0, 0}, {1, 0xC0, -1},
    };
    for (size_t i = 0; i < cases.size(); ++i)
        Info({T(0, "p"), I(25, 1), I(34, cases[i].llSelector), I(35, cases[i].llThreshold), OutIntAt(int64_t(i))});
    Info({T(0, "p"), I(25, 1), I(34, 2), OutIntAt(40)});   // no threshold: 0
    Run();
    ASSERT_TRUE(errors.reports.empty());
    for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(GetVarInt(kVarInts, int64_t(i)), cases[i].llExpected) << i;
    EXPECT_EQ(GetVarInt(kVarInts, 40), 2);
}

// A missing layer clears the output by its type; a layer pixel without both coordinates is an
// error that ends the script's turn.
TEST_F(LayerCmdTest, MissingLayersAndMissingCoordinates)
{
    Layer({T(0, "p"), I(6, 1), T(46, "")});
    Info({T(0, "none"), I(13, 1), OutIntAt(0)});
    Info({T(0, "none"), I(13, 1), OutTextAt(0)});
    Info({T(0, "p/"), I(2, 1), OutIntAt(1)});         // a group path does not name the plain layer
    Info({T(0, "p"), I(24, 1), I(34, 0), OutIntAt(2)});
    Info({T(0, "p"), I(2, 1), OutIntAt(3)});           // not reached
    Run();
    EXPECT_EQ(GetVarInt(kVarInts, 0), 0);
    EXPECT_STREQ(GetVarString(kVarTexts, 0), "");
    EXPECT_EQ(GetVarInt(kVarInts, 1), 0);
    EXPECT_EQ(FirstError(), std::make_pair(int(KX_ERR_LAYER_INFO_POINT), 1));
    EXPECT_EQ(g_bEngineStop.load(), 1);
    EXPECT_EQ(GetVarInt(kVarInts, 3), 99);
}

// The first present question decides, group-only questions counting only for a group path; the
// child questions without a child number, and window numbers outside 0..3.
TEST_F(LayerCmdTest, InfoTakesTheFirstPresentQuestion)
{
    aWindow[0].nWidth = 40;
    aWindow[0].nHeight = 30;
    aWindow[0].nMouseX = 1;
    aWindow[0].nMouseY = 1;
    aWindow[3].nWidth = 40;
    aWindow[3].nHeight = 30;
    aWindow[3].nMouseX = 2;
    aWindow[3].nMouseY = 0;
    dir.Write("pic.bmp", Bmp(3, 2, {0x102030, 0x405060, 0x708090, 0xA0B0C0, 0xD0E0F0, 0x010203}));
    Layer({T(0, "p"), I(6, 7), T(46, "pic.bmp"), I(3, 100), I(56, 21)});
    Layer({T(0, "g/"), I(6, 8), I(9, 4), I(10, 4), I(56, 5)});
    Layer({T(0, "g/c"), I(6, 1), T(46, ""), I(56, 3)});
    Layer({T(0, "g/d/"), I(6, 2), I(9, 1), I(10, 1)});
    const std::vector<INFO_CASE> cases = {
        {{T(0, "p"), I(28, 1), I(26, 1)}, 21},           // a search needs a group path: user value 1
        {{T(0, "p"), I(25, 1), I(2, 1)}, 1},
        {{T(0, "p"), I(31, 1), I(32, 1), I(4, 1)}, 100},
        {{T(0, "g/"), I(13, 1), I(7, 1)}, 8},
        {{T(0, "g/"), I(29, 1), I(26, 1)}, 5},
        {{T(0, "g/"), I(28, 1), I(26, 0)}, 1},            // the search comes before the user value
        {{T(0, "g/"), I(28, 1), I(26, 3), I(29, 1)}, 2},
        {{T(0, "g/"), I(31, 1)}, 0},                      // no child number
        {{T(0, "g/"), I(31, 1), I(32, 0)}, 0},
        {{T(0, "g/"), I(29, 1), I(30, 1)}, 2},
        {{T(0, "g/"), I(13, 1)}, 4},
        {{T(0, "p"), I(21, -3)}, 0xD0E0F0},               // window 0
        {{T(0, "p"), I(21, 99)}, 0x708090},               // window 3
        {{T(0, "p"), I(25, 1)}, 0},                        // no selector
        {{T(0, "p"), I(25, 1), I(34, 4)}, 2},
    };
    AskAndExpect({}, cases);
}

// A layer pixel names the coordinate that is missing.
TEST_F(LayerCmdTest, LayerPixelNamesTheMissingCoordinate)
{
    struct CASE {
        ARGS args;
        const char* pszArg;
    };
    const std::vector<CASE> cases = {{{I(35, 0)}, "|i34"}, {{I(34, 0)}, "|i35"}, {{}, "|i34"}};
    messages = {{KX_ERR_LAYER_INFO_POINT, "P|%s|%s"}};
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszArg);
        Reset();
        Layer({T(0, "p"), I(6, 1), T(46, "")});
        ARGS args = {T(0, "p"), I(24, 1)};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(layer_cmd_test::OutInt());
        Info(args);
        Run();
        ASSERT_EQ(FirstError(), std::make_pair(int(KX_ERR_LAYER_INFO_POINT), 1));
        EXPECT_NE(errors.reports[0].strText.find(c.pszArg), std::string::npos) << errors.reports[0].strText;
        EXPECT_EQ(OutInt(), 99);
    }
}
