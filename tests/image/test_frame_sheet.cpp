// Frame sheets: sheets written by the fixture writer are loaded, checked and shown into layers
// (pixels read back), directly and through the three script commands run by the scheduler.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "root/startup.h"
#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/pack_archive.h"
#include "image/frame_sheet.h"
#include "image/image_load.h"
#include "platform/plat_file.h"
#include "script/dispatch.h"
#include "script/evaluator.h"
#include "script/script_body.h"
#include "script/script_tables.h"
#include "core/script_thread.h"
#include "script/system_vars.h"
#include "script/variables.h"
#include "tests/image/layer_fixture.h"
#include "tests/support/game_folder.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/frame_sheet_writer.h"
#include "tools/lib/jpeg_writer.h"
#include "tools/lib/script_builder.h"

namespace {

typedef std::vector<uint8_t> BYTES;

// A w x h JPEG of one colour (nComp 3: r, g, b) or one grey level (nComp 1: r), quality 100.
BYTES SolidJpeg(int w, int h, int nComp, uint8_t r, uint8_t g = 0, uint8_t b = 0)
{
    std::vector<uint8_t> samples;
    for (int i = 0; i < w * h; ++i) {
        samples.push_back(r);
        if (nComp == 3) samples.push_back(g), samples.push_back(b);
    }
    return EncodeJpegSamples(samples, w, h, nComp, 100);
}

// Colours of the test frames (r, g, b) and their alpha levels.
struct FRAME_COLOUR {
    uint8_t r, g, b, a;
};
const FRAME_COLOUR kColours[] = {{200, 30, 40, 60}, {20, 180, 60, 140}, {40, 50, 220, 230}};

// Three 4 x 3 frames with alpha parts, header values 7, -8, 9.
BYTES ThreeFrameSheet(bool bAlpha = true, const SHEET_RAW& raw = {})
{
    std::vector<SHEET_FRAME> frames;
    for (const FRAME_COLOUR& c : kColours)
        frames.push_back({SolidJpeg(4, 3, 3, c.r, c.g, c.b), bAlpha ? SolidJpeg(4, 3, 1, c.a) : BYTES{}});
    return WriteFrameSheetBytes(frames, 7, -8, 9, raw);
}

// Raw options set by a function (the other options stay unset).
template <class F>
SHEET_RAW With(F f)
{
    SHEET_RAW r;
    f(r);
    return r;
}

bool Near(int a, int b) { return std::abs(a - b) <= 3; }

class FrameSheetTest : public LayerTreeTest {
protected:
    TEMP_DIR dir;
    std::string strOldCwd;
    TREE_NODE* pA = nullptr;

    void SetUp() override
    {
        LayerTreeTest::SetUp();
        std::strcpy(g_pszLayerPath, "W0");
        ASSERT_NO_FATAL_FAILURE(EnterGameFolder(dir, &strOldCwd));
        pA = Plain("W0/a", 2, 2, 0, 0, 1);
        ASSERT_NE(pA, nullptr);
    }
    void TearDown() override
    {
        LeaveGameFolder(strOldCwd);
        LayerTreeTest::TearDown();
    }

    // Every pixel of the node's layer is near the colour (and the alpha level, or 255).
    static void ExpectFrame(const TREE_NODE* pNode, const FRAME_COLOUR& c, int nAlpha)
    {
        const LAYER* p = L(pNode);
        ASSERT_NE(p->pOwnedPixels, nullptr);
        for (int i = 0; i < p->nWidth * p->nHeight; ++i) {
            const uint8_t* q = p->pOwnedPixels + 4 * i;
            ASSERT_TRUE(Near(q[0], c.b) && Near(q[1], c.g) && Near(q[2], c.r) && Near(q[3], nAlpha))
                << "pixel " << i << ": " << int(q[0]) << "," << int(q[1]) << "," << int(q[2]) << "," << int(q[3]);
        }
    }
};

TEST(FrameSheetScramble, PatternRepeatsEverySixteenBytesAndIsItsOwnInverse)
{
    BYTES in;
    for (int j = 0; j < 18; ++j) in.push_back(uint8_t(0x10 | (j & 0x0F)));
    BYTES out(in.size());
    UnscrambleSheetPart(in.data(), out.data(), in.size());
    EXPECT_EQ(out, BYTES(18, 0));   // byte 16 is XORed with 0x10 again
    BYTES back(in.size());
    ScrambleSheetBytes(out.data(), out.size());
    UnscrambleSheetPart(out.data(), back.data(), out.size());
    EXPECT_EQ(back, BYTES(18, 0));
}

TEST_F(FrameSheetTest, FramesShowWithTheirAlphaAndNumbersAreClamped)
{
    dir.Write("s.kfs", ThreeFrameSheet());
    ASSERT_EQ(LoadFrameSheet(pA, "s.kfs"), 0);
    const FRAME_SHEET* pSheet = L(pA)->pFrameSheet;
    ASSERT_NE(pSheet, nullptr);
    EXPECT_EQ(pSheet->nCount, 3);
    EXPECT_EQ(pSheet->nAlphaFlag, 1);
    EXPECT_EQ(pSheet->anHeader[1], -8);
    const struct { int64_t n; int nShown; } kCases[] = {{1, 1}, {0, 0}, {2, 2}, {-5, 0}, {6, 2}, {1, 1}, {1, 1}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.n);
        ShowSheetFrame(pA, c.n);
        EXPECT_EQ(L(pA)->nWidth, 4);   // resized from 2 x 2 on the first frame
        EXPECT_EQ(L(pA)->nHeight, 3);
        EXPECT_EQ(L(pA)->bHasAlpha, 1);
        ExpectFrame(pA, kColours[c.nShown], kColours[c.nShown].a);
    }
    EXPECT_TRUE(errors.reports.empty());
}

// The alpha part writes the alpha byte alone: pixels it makes fully transparent keep the colour of
// the colour part (for every alpha level, 0 and 255 included).
TEST_F(FrameSheetTest, TheAlphaPartWritesOnlyTheAlpha)
{
    const FRAME_COLOUR kColour = {210, 40, 90, 0};
    for (const uint8_t nAlpha : {uint8_t(0), uint8_t(1), uint8_t(128), uint8_t(255)}) {
        SCOPED_TRACE(int(nAlpha));
        dir.Write("z.kfs", WriteFrameSheetBytes({{SolidJpeg(4, 3, 3, kColour.r, kColour.g, kColour.b),
                                                  SolidJpeg(4, 3, 1, nAlpha)}}, 0, 0, 0, {}));
        ASSERT_EQ(LoadFrameSheet(pA, "z.kfs"), 0);
        ShowSheetFrame(pA, 0);
        ExpectFrame(pA, kColour, nAlpha);
    }
    EXPECT_TRUE(errors.reports.empty());
}

TEST_F(FrameSheetTest, SizesFollowTheFramesAndMismatchedAlphaIsIgnored)
{
    // Frame 0: 4 x 3 with alpha; frame 1: 6 x 2 whose alpha part is 2 x 2; frame 2: an alpha part
    // in colour, which gives no alpha either.
    std::vector<SHEET_FRAME> frames = {
        {SolidJpeg(4, 3, 3, 200, 30, 40), SolidJpeg(4, 3, 1, 60)},
        {SolidJpeg(6, 2, 3, 20, 180, 60), SolidJpeg(2, 2, 1, 0)},
        {SolidJpeg(6, 2, 3, 40, 50, 220), SolidJpeg(6, 2, 3, 0, 0, 0)},
    };
    dir.Write("s.kfs", WriteFrameSheetBytes(frames));
    ASSERT_EQ(LoadFrameSheet(pA, "s.kfs"), 0);
    ShowSheetFrame(pA, 0);
    ExpectFrame(pA, kColours[0], 60);
    ShowSheetFrame(pA, 1);
    EXPECT_EQ(L(pA)->nWidth, 6);
    EXPECT_EQ(L(pA)->nHeight, 2);
    EXPECT_EQ(L(pA)->nBufWidth, 6);
    ExpectFrame(pA, kColours[1], 255);
    ShowSheetFrame(pA, 2);
    ExpectFrame(pA, kColours[2], 255);
    EXPECT_TRUE(errors.reports.empty());
}

TEST_F(FrameSheetTest, FramesGoToTheOwnedPixelsWhileAColourCacheIsShown)
{
    dir.Write("s.kfs", ThreeFrameSheet(false));
    ASSERT_EQ(LoadFrameSheet(pA, "s.kfs"), 0);
    ShowSheetFrame(pA, 0);
    LAYER* p = L(pA);
    // A colour filter's cache in place of the display pixels, as the compositor leaves it.
    p->pColorCache = AllocSheetPixels(p->nWidth, p->nHeight);
    ASSERT_NE(p->pColorCache, nullptr);
    p->pDisplayPixels = p->pColorCache;
    p->llCacheFrame = 5;
    ShowSheetFrame(pA, 2);
    EXPECT_EQ(p->bHasAlpha, 0);
    ExpectFrame(pA, kColours[2], 255);
    EXPECT_EQ(p->llCacheFrame, 0);
}

TEST_F(FrameSheetTest, ASecondLoadReplacesTheFirstAndFreeingTheLayerFreesTheSheet)
{
    dir.Write("one.kfs", WriteFrameSheetBytes({{SolidJpeg(4, 3, 3, 200, 30, 40), {}}}, 1, 2, 3));
    dir.Write("two.kfs", ThreeFrameSheet());
    ASSERT_EQ(LoadFrameSheet(pA, "one.kfs"), 0);
    EXPECT_EQ(L(pA)->pFrameSheet->nCount, 1);
    ASSERT_EQ(LoadFrameSheet(pA, "two.kfs"), 0);   // ASan reports the first one if it leaks
    EXPECT_EQ(L(pA)->pFrameSheet->nCount, 3);
    EXPECT_EQ(L(pA)->pFrameSheet->anHeader[0], 7);
    FreeNode(pA);   // the sheet goes with its layer
    pA = nullptr;
    EXPECT_TRUE(errors.reports.empty());
}

TEST_F(FrameSheetTest, DamagedSheetsAreRefusedWithoutReadingOutsideTheFile)
{
    const size_t nWhole = ThreeFrameSheet().size();
    const struct {
        const char* pszWhat;
        SHEET_RAW raw;
    } kCases[] = {
        {"shorter than the head", With([](SHEET_RAW& r) { r.nCutTo = 20; })},
        {"negative count", With([](SHEET_RAW& r) { r.nCount = -1; })},
        {"count whose tables pass the end", With([](SHEET_RAW& r) { r.nCount = 0x7FFFFFFF; })},
        {"tables cut short", With([](SHEET_RAW& r) { r.nCutTo = 32 + 12 * 3 - 1; })},
        {"offset past the end", With([](SHEET_RAW& r) { r.offsets = {{2, 0xFFFFFFF0u}}; })},
        {"colour length past the end", With([](SHEET_RAW& r) { r.colorLens = {{1, 0x7FFFFFFFu}}; })},
        {"alpha length past the end", With([](SHEET_RAW& r) { r.alphaLens = {{2, 4096}}; })},
        {"offset and length wrapping 32 bits", With([](SHEET_RAW& r) { r.offsets = {{0, 0xFFFFFFFFu}}; r.colorLens = {{0, 2}}; })},
        {"last part cut short", With([&](SHEET_RAW& r) { r.nCutTo = nWhole - 1; })},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszWhat);
        ERROR_RECORDER rec;
        dir.Write("bad.kfs", ThreeFrameSheet(true, c.raw));
        EXPECT_EQ(LoadFrameSheet(pA, "bad.kfs"), -1);
        ASSERT_EQ(rec.reports.size(), 1u);
        EXPECT_EQ(rec.reports[0].nId, 104010);
        EXPECT_EQ(L(pA)->pFrameSheet, nullptr);
        ShowSheetFrame(pA, 0);   // nothing to show
        EXPECT_EQ(L(pA)->nWidth, 2);
    }
    {
        SCOPED_TRACE("missing file");
        ERROR_RECORDER rec;
        EXPECT_EQ(LoadFrameSheet(pA, "none.kfs"), -1);
        ASSERT_EQ(rec.reports.size(), 2u);
        EXPECT_EQ(rec.reports[0].nId, 104060);
        EXPECT_EQ(rec.reports[1].nId, 104010);
    }
}

TEST_F(FrameSheetTest, SheetsThatLoadButCannotShowLeaveTheLayerAsItWas)
{
    // No frames; a colour part that is no JPEG; a colour part cut short before its picture.
    const struct {
        const char* pszWhat;
        BYTES file;
    } kCases[] = {
        {"no frames", WriteFrameSheetBytes({})},
        {"colour part not a JPEG", WriteFrameSheetBytes({{BYTES(64, 0x55), {}}})},
        {"colour part cut in its table", ThreeFrameSheet(true, With([](SHEET_RAW& r) { r.colorLens = {{0, 40}}; }))},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszWhat);
        dir.Write("odd.kfs", c.file);
        ASSERT_EQ(LoadFrameSheet(pA, "odd.kfs"), 0);
        uint8_t* pBefore = L(pA)->pOwnedPixels;
        ShowSheetFrame(pA, 0);
        EXPECT_EQ(L(pA)->nWidth, 2);
        EXPECT_EQ(L(pA)->pOwnedPixels, pBefore);
    }
    // The alpha flag is set but the alpha parts are empty: the colour still shows, opaque.
    dir.Write("odd.kfs", ThreeFrameSheet(false, With([](SHEET_RAW& r) { r.nAlphaFlag = 1; })));
    ASSERT_EQ(LoadFrameSheet(pA, "odd.kfs"), 0);
    ShowSheetFrame(pA, 1);
    ExpectFrame(pA, kColours[1], 255);
    EXPECT_TRUE(errors.reports.empty());
}

// ---- the script commands ----

enum : uint16_t { V_A = 1000, V_B, V_C, V_D, V_E, V_F, V_S };

EXPR_BYTES I(int64_t v) { return MakeExprInt(v); }
EXPR_BYTES T(const std::string& s) { return MakeExprText(s); }
EXPR_BYTES Var(uint16_t n) { return MakeExprVar(n); }

const std::vector<KXE_ENTRY> kMessages = {{101250, "NOLAYER:%s:%s"}, {101140, "TYPE"}};

class FrameSheetScriptTest : public FrameSheetTest {
protected:
    TREE_NODE* pSystem = nullptr;

    void TearDown() override
    {
        StopScripts();
        FillCmdHandlers(KX_COMMAND_COUNT);
        FrameSheetTest::TearDown();
    }

    // Frees the tables, the variables, every thread and the game files.
    void StopScripts()
    {
        FreeScriptGame();
        pSystem = nullptr;
        std::filesystem::remove_all(dir.strNative + "/kxbin");
    }

    // Runs the script as SYSTEM until it halts at its end or the engine stops.
    void RunScript(SCRIPT_BUILDER* b)
    {
        EmitCommand(b, KXCMD_WAIT, {});
        InstallEvaluator();
        InstallSystemVariables();
        pSystem = CreateSystemThread();
        ASSERT_NE(pSystem, nullptr);
        static_cast<SCRIPT_THREAD*>(pSystem->pPayload)->bRoot = 1;
        GAME_DATA game = DefaultGameData();
        // The game's own names for the commands, which every error header takes.
        game.commands.commands[KXCMD_FRAME_SHEET_LOAD].strName = "sheet_load";
        game.commands.commands[KXCMD_FRAME_SHEET_FREE].strName = "sheet_free";
        game.defs = StandardSysVarDefs();
        for (uint16_t n : {V_A, V_B, V_C, V_D, V_E}) game.defs.push_back(MakeIntVarDef(n, -1));
        game.defs.push_back(MakeFloatVarDef(V_F, -1.0));
        game.defs.push_back(MakeTextVarDef(V_S, "x"));
        game.errors = kMessages;
        ASSERT_EQ(FinishScriptBody(b), 0) << b->strError;
        game.scripts.push_back(ScriptFromBuilder("main.txt", *b));
        ASSERT_EQ(WriteGameFolder(dir.strNative, BuildGameFiles(game)), 0);
        ASSERT_EQ(StartScriptSystem(), 0);
        // The wait at the end halts the thread (in the table and in every body loaded so far).
        BindCommandHandler(KXCMD_WAIT, HaltForTest);
        g_nTestHalts = 0;
        g_bEngineStop = 0;
        for (int i = 0; i < 100 && !g_bEngineStop && g_nTestHalts == 0; ++i) {
            ++g_llPassCount;
            RunScriptThreads(g_pThreadRoot);
        }
    }
};

void Load(SCRIPT_BUILDER* b, const std::string& strLayer, const std::string& strFile, std::optional<int64_t> frame,
          std::optional<int64_t> number = {})
{
    std::vector<BUILDER_ARG> args = {ExprArg(0, T(strLayer), EVALTYPE_TEXT)};
    if (number) args.push_back(ExprArg(1, I(*number)));
    if (!strFile.empty()) args.push_back(ExprArg(2, T(strFile), EVALTYPE_TEXT));
    if (frame) args.push_back(ExprArg(3, I(*frame)));
    EmitCommand(b, KXCMD_FRAME_SHEET_LOAD, args);
}
void Info(SCRIPT_BUILDER* b, const std::string& strLayer, uint16_t nOut, int nSelector)
{
    EmitCommand(b, KXCMD_FRAME_SHEET_INFO,
                {ExprArg(0, T(strLayer), EVALTYPE_TEXT), ExprArg(2, Var(nOut)), ExprArg(uint8_t(nSelector), I(1))});
}

TEST_F(FrameSheetScriptTest, CommandsLoadShowAnswerAndFree)
{
    Plain("W0/b.2", 2, 2, 0, 0, 2);
    dir.Write("anim/s.kfs", ThreeFrameSheet());
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    AddLabel(&b, "SYSTEM_START");
    Load(&b, "a", "Anim/S.KFS", 1);   // the name is lower-cased, '/' becomes '\'
    Info(&b, "a", V_A, 3);
    Info(&b, "a", V_B, 4);
    Info(&b, "a", V_C, 5);
    Info(&b, "a", V_D, 6);
    Info(&b, "b.2", V_F, 3);       // no sheet: 0.0 into the floating variable
    Load(&b, "b", "anim/s.kfs", 2, 2);   // the number names "b.2"
    Load(&b, "b", "", -9, 2);            // show only
    EmitCommand(&b, KXCMD_FRAME_SHEET_INFO, {ExprArg(0, T("a"), EVALTYPE_TEXT), ExprArg(2, Var(V_S))});  // no selector
    EmitCommand(&b, KXCMD_FRAME_SHEET_FREE, {ExprArg(0, T("a"), EVALTYPE_TEXT)});
    Info(&b, "a", V_E, 3);
    RunScript(&b);
    EXPECT_EQ(g_nTestHalts, 1);
    for (const ERROR_RECORD& r : errors.reports) ADD_FAILURE() << r.nId << " " << r.strText;
    EXPECT_EQ(GetVarInt(V_A, 0), 3);
    EXPECT_EQ(GetVarInt(V_B, 0), 7);
    EXPECT_EQ(GetVarInt(V_C, 0), -8);
    EXPECT_EQ(GetVarInt(V_D, 0), 9);
    EXPECT_EQ(GetVarFloat(V_F, 0), 0.0);
    EXPECT_STREQ(GetVarString(V_S, 0), "x");
    EXPECT_EQ(GetVarInt(V_E, 0), 0);
    EXPECT_EQ(L(pA)->pFrameSheet, nullptr);
    ExpectFrame(pA, kColours[1], kColours[1].a);   // the frame shown stays after the free
    TREE_NODE* pB = FindNodeByPath(g_pLayerRoot, "W0/b.2", KX_FIND_LEAF);
    ASSERT_NE(L(pB)->pFrameSheet, nullptr);
    ExpectFrame(pB, kColours[0], kColours[0].a);
}

TEST_F(FrameSheetScriptTest, CommandErrorsStopTheScript)
{
    dir.Write("bad.kfs", ThreeFrameSheet(true, With([](SHEET_RAW& r) { r.nCount = 1000; })));
    const struct {
        const char* pszWhat;
        void (*pfnEmit)(SCRIPT_BUILDER*);
        int nId;
        const char* pszText;
    } kCases[] = {
        {"load into a missing layer", [](SCRIPT_BUILDER* b) { Load(b, "zz", "s.kfs", 0); }, 101250,
         "NOLAYER:sheet_load:W0/zz"},
        {"free a missing layer",
         [](SCRIPT_BUILDER* b) { EmitCommand(b, KXCMD_FRAME_SHEET_FREE, {ExprArg(0, T("a"), EVALTYPE_TEXT), ExprArg(1, I(4))}); },
         101250, "NOLAYER:sheet_free:W0/a.4"},
        {"a damaged sheet", [](SCRIPT_BUILDER* b) { Load(b, "a", "bad.kfs", 0); }, 104010, "[bad.kfs]"},
        {"count into a text variable", [](SCRIPT_BUILDER* b) { Info(b, "a", V_S, 3); }, 101140, "TYPE"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszWhat);
        ERROR_RECORDER rec;
        SCRIPT_BUILDER b;
        InitScriptBuilder(&b, 0);
        AddLabel(&b, "SYSTEM_START");
        c.pfnEmit(&b);
        EmitCommand(&b, KXCMD_ASSIGN, {ExprArg(0, Var(V_A)), ExprArg(1, I(5))});   // not reached
        RunScript(&b);
        EXPECT_EQ(g_bEngineStop.load(), 1);
        ASSERT_FALSE(rec.reports.empty());
        EXPECT_EQ(rec.reports.back().nId, c.nId);
        EXPECT_NE(rec.reports.back().strText.find(c.pszText), std::string::npos) << rec.reports.back().strText;
        EXPECT_EQ(GetVarInt(V_A, 0), -1);
        EXPECT_EQ(L(pA)->pFrameSheet, nullptr);
        StopScripts();
    }
}

}  // namespace
