// The real kolvex executable on a game folder written by the builders, headless: the diagnostic
// switches end the run after a number of frames and write window 0's picture as a PNG.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "image/cmd_layer.h"
#include "media/movies.h"
#include "tests/support/screenshot.h"
#include "tests/support/test_support.h"
#include "tools/lib/bmp_writer.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/mpeg_writer.h"
#include "tools/lib/script_builder.h"

namespace {

// Ends the script with a loop that waits one frame at a time for ever, and makes the game's files
// with it as the start script and a screen of the size.
std::vector<GAME_FILE> WaitingGameOf(SCRIPT_BUILDER* pB, int nWidth, int nHeight)
{
    EXPECT_GE(AddLabel(pB, "WAIT"), 0);
    EXPECT_GE(EmitCommand(pB, KXCMD_WAIT, {ExprArg(0, MakeExprInt(1))}), 0);
    EXPECT_GE(EmitGoto(pB, "WAIT"), 0);
    EXPECT_EQ(FinishScriptBody(pB), 0);
    GAME_DATA game = DefaultGameData();
    game.config.nWidth = nWidth;
    game.config.nHeight = nHeight;
    game.scripts.push_back(ScriptFromBuilder("start.txt", *pB));
    return BuildGameFiles(game);
}

// A game whose root thread waits one frame at a time for ever.
std::vector<GAME_FILE> WaitingGame(int nWidth, int nHeight)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    EXPECT_GE(AddLabel(&b, "SYSTEM_START"), 0);
    return WaitingGameOf(&b, nWidth, nHeight);
}

// Runs kolvex on the game folder with the switches and reads its screenshot.
::testing::AssertionResult PlayAndShoot(const TEMP_DIR& dir, const std::string& strGame, std::vector<std::string> env,
                                        SHOT* pShot)
{
    const std::string strShot = dir.strNative + "/shot.png";
    std::remove(strShot.c_str());
    env.insert(env.end(), {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy", "XDG_RUNTIME_DIR=" + dir.strNative,
                           "KOLVEX_SCREENSHOT=" + strShot});
    const int r = RunProgramForTest(KX_KOLVEX_PATH, {"--game", strGame}, env);
    if (r != 0) return ::testing::AssertionFailure() << "kolvex ended with " << r;
    if (!ReadShot(strShot, pShot)) return ::testing::AssertionFailure() << "no screenshot written";
    return ::testing::AssertionSuccess();
}

BUILDER_ARG LayerInt(int nArg, int64_t v) { return ExprArg(static_cast<uint8_t>(nArg), MakeExprInt(v)); }
BUILDER_ARG LayerText(int nArg, const std::string& s)
{
    return ExprArg(static_cast<uint8_t>(nArg), MakeExprText(s), EVALTYPE_TEXT);
}

// A scene of texture layers under a capture layer, with a translucent CPU layer on top. The texture
// layers ask for the GPU (argument 25); without it they are ordinary CPU layers. With bCapture the
// capture layer (argument 26) starts as an opaque magenta picture that only the device's frame
// replaces, so a run that drew nothing through the device would show magenta.
std::vector<GAME_FILE> TextureScene(bool bCapture)
{
    constexpr int kW = 320, kH = 200;
    auto bmp = [](int w, int h, uint32_t (*fn)(int, int)) {
        std::vector<uint32_t> px(size_t(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) px[size_t(y) * w + x] = fn(x, y);
        BMP_WRITER_OPTIONS opt;
        return WriteBmp(w, h, opt, px.data(), nullptr);
    };
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    EXPECT_GE(AddLabel(&b, "SYSTEM_START"), 0);
    auto layer = [&](const std::string& strName, std::vector<BUILDER_ARG> args) {
        args.insert(args.begin(), LayerText(LAYER_ARG_PATH, strName));
        EXPECT_GE(EmitCommand(&b, KXCMD_LAYER, args), 0);
    };
    layer("bg", {LayerInt(LAYER_ARG_ORDER, 1), LayerText(LAYER_ARG_IMAGE, "bg.bmp"), LayerInt(LAYER_ARG_TEXTURE, 1)});
    layer("sq", {LayerInt(LAYER_ARG_ORDER, 2), LayerText(LAYER_ARG_IMAGE, "sq.bmp"), LayerInt(LAYER_ARG_X, 40),
                 LayerInt(LAYER_ARG_Y, 30), LayerInt(LAYER_ARG_TEXTURE, 1)});
    if (bCapture)
        layer("cap", {LayerInt(LAYER_ARG_ORDER, 3), LayerText(LAYER_ARG_IMAGE, "magenta.bmp"), LayerInt(LAYER_ARG_CAPTURE, 1)});
    layer("top", {LayerInt(LAYER_ARG_ORDER, 4), LayerText(LAYER_ARG_IMAGE, "sq.bmp"), LayerInt(LAYER_ARG_X, 200),
                  LayerInt(LAYER_ARG_Y, 100), LayerInt(LAYER_ARG_OPACITY, 128)});
    std::vector<GAME_FILE> files = WaitingGameOf(&b, kW, kH);
    files.push_back({"bg.bmp", bmp(kW, kH, [](int x, int y) { return uint32_t(x * 255 / 319) << 16 | uint32_t(y) << 8 | 0x40u; })});
    files.push_back({"sq.bmp", bmp(64, 48, [](int x, int y) { return uint32_t(x * 4) << 16 | uint32_t(250 - y * 5) << 8 | 0xC0u; })});
    files.push_back({"magenta.bmp", bmp(kW, kH, [](int, int) { return 0xFF00FFu; })});
    return files;
}

}  // namespace

TEST(KolvexHeadless, QuitsAfterFramesAndWritesTheScreenshot)
{
    TEMP_DIR dir;
    ASSERT_EQ(WriteGameFolder(dir.strNative + "/game", WaitingGame(320, 200)), 0);
    SHOT shot;
    ASSERT_TRUE(PlayAndShoot(dir, dir.strNative + "/game", {"KOLVEX_QUIT_AFTER_FRAMES=5"}, &shot));
    EXPECT_EQ(shot.nWidth, 320u);
    EXPECT_EQ(shot.nHeight, 200u);
    // Nothing is drawn: the picture is black.
    size_t nNonBlack = 0;
    for (uint8_t v : shot.rgb) nNonBlack += v != 0;
    EXPECT_EQ(nNonBlack, 0u);
}

// The developer switch draws texture layers through the engine's software device into the capture
// layer. The device's linear filter samples a little off the texel centres, so smooth opaque layers
// at whole positions come out as the CPU compositor draws them within 2 levels, except a texture's
// last column and row, which mix with the transparent space beyond it (the README says so). Without
// the switch the capture layer keeps its own magenta picture.
TEST(KolvexHeadless, SoftwareDeviceDrawsTextureLayersAsTheCpuDoes)
{
    TEMP_DIR dir;
    const std::string strCpu = dir.strNative + "/cpu", strGpu = dir.strNative + "/gpu";
    ASSERT_EQ(WriteGameFolder(strCpu, TextureScene(false)), 0);
    ASSERT_EQ(WriteGameFolder(strGpu, TextureScene(true)), 0);
    SHOT cpu, gpu, plain;
    ASSERT_TRUE(PlayAndShoot(dir, strCpu, {"KOLVEX_QUIT_AFTER_FRAMES=5"}, &cpu));
    ASSERT_TRUE(PlayAndShoot(dir, strGpu, {"KOLVEX_QUIT_AFTER_FRAMES=5", "KOLVEX_SOFT_GPU=1"}, &gpu));
    ASSERT_TRUE(PlayAndShoot(dir, strGpu, {"KOLVEX_QUIT_AFTER_FRAMES=5"}, &plain));
    ASSERT_EQ(cpu.rgb.size(), size_t(320 * 200 * 3));
    ASSERT_EQ(gpu.rgb.size(), cpu.rgb.size());
    // The background's and the square's (40..103, 30..77) last column and row are left out.
    auto edge = [](int x, int y) { return x == 319 || y == 199 || ((x == 103 || y == 77) && x >= 40 && x <= 103 && y >= 30 && y <= 77); };
    int nWorst = 0, nEdgeWorst = 0;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 320; ++x)
            for (int c = 0; c < 3; ++c) {
                const size_t i = (size_t(y) * 320 + x) * 3 + c;
                int& n = edge(x, y) ? nEdgeWorst : nWorst;
                n = std::max(n, std::abs(int(cpu.rgb[i]) - int(gpu.rgb[i])));
            }
    EXPECT_LE(nWorst, 2);
    EXPECT_GT(nEdgeWorst, 2);   // the edges do mix: the comparison sees the device's picture
    // The square's top-left pixel is the square's: (0, 250, 0xC0).
    const size_t nSquare = (size_t(30) * 320 + 40) * 3;
    EXPECT_NEAR(gpu.rgb[nSquare + 1], 250, 2);
    EXPECT_NEAR(gpu.rgb[nSquare + 2], 0xC0, 2);
    // Without the switch, the texture layers are plain layers under the magenta capture picture.
    const size_t nCorner = (size_t(199) * 320) * 3;
    EXPECT_EQ(plain.rgb[nCorner], 255);
    EXPECT_EQ(plain.rgb[nCorner + 1], 0);
    EXPECT_EQ(plain.rgb[nCorner + 2], 255);
}

// A window movie playing when the run ends is in the screenshot, as the window shows it: the
// movie's picture in its rectangle over the game's (black) picture; whether the quit switch or the
// game's own quit command ends the run. The movie lasts far longer than the run, so it still plays
// at the end whatever the machine's speed.
TEST(KolvexHeadless, TheScreenshotShowsAPlayingWindowMovie)
{
    MPEG_WRITER_OPTIONS opt;
    opt.nFrames = 30 * 30;   // 30 s
    opt.pixel = [](int, int, int, uint8_t* pRgb) {
        pRgb[0] = 200;
        pRgb[1] = 60;
        pRgb[2] = 110;
    };
    const std::vector<uint8_t> movie = WriteMpeg1Movie(opt);
    ASSERT_FALSE(movie.empty());
    for (const bool bQuitCommand : {false, true}) {
        SCOPED_TRACE(bQuitCommand ? "the game quits" : "the quit switch");
        TEMP_DIR dir;
        SCRIPT_BUILDER b;
        InitScriptBuilder(&b, 0);
        ASSERT_GE(AddLabel(&b, "SYSTEM_START"), 0);
        ASSERT_GE(EmitCommand(&b, KXCMD_MOVIE, {LayerText(MOVIE_ARG_FILE, "m.mpg"), LayerInt(MOVIE_ARG_X, 40),
                                                LayerInt(MOVIE_ARG_Y, 30), LayerInt(MOVIE_ARG_W, 128),
                                                LayerInt(MOVIE_ARG_H, 96), LayerInt(MOVIE_ARG_PLAY, 1)}),
                  0);
        if (bQuitCommand) {
            ASSERT_GE(EmitCommand(&b, KXCMD_WAIT, {LayerInt(0, 90)}), 0);
            ASSERT_GE(EmitCommand(&b, KXCMD_QUIT, {}), 0);
        }
        std::vector<GAME_FILE> files = WaitingGameOf(&b, 320, 200);
        files.push_back({"m.mpg", movie});
        ASSERT_EQ(WriteGameFolder(dir.strNative + "/game", files), 0);
        SHOT shot;
        std::vector<std::string> env;
        if (!bQuitCommand) env.push_back("KOLVEX_QUIT_AFTER_FRAMES=90");
        ASSERT_TRUE(PlayAndShoot(dir, dir.strNative + "/game", env, &shot));
        ASSERT_EQ(shot.rgb.size(), size_t(320 * 200 * 3));
        // Inside the rectangle (40..167, 30..125), away from its edges: the movie's colour.
        int nInside = 0, nMovie = 0;
        for (int y = 34; y < 122; ++y)
            for (int x = 44; x < 164; ++x) {
                const uint8_t* p = shot.At(x, y);
                ++nInside;
                nMovie += std::abs(p[0] - 200) <= 12 && std::abs(p[1] - 60) <= 12 && std::abs(p[2] - 110) <= 12;
            }
        EXPECT_EQ(nMovie, nInside) << "the movie's picture is not in the screenshot";
        // Outside it the game's picture: black.
        for (const auto& xy : {std::pair{10, 10}, std::pair{200, 150}, std::pair{319, 199}, std::pair{39, 60}})
            for (int c = 0; c < 3; ++c) EXPECT_EQ(shot.At(xy.first, xy.second)[c], 0) << xy.first << "," << xy.second;
    }
}

// The click switch: a list that is not rising positive frames, each with at most one point "@X:Y"
// of whole numbers in the picture's range, is reported on standard error and ignored; a valid one
// is taken silently. The game runs to the frame limit either way.
TEST(KolvexHeadless, TheClickSwitchRefusesAMalformedList)
{
    TEMP_DIR dir;
    ASSERT_EQ(WriteGameFolder(dir.strNative + "/game", WaitingGame(320, 200)), 0);
    const struct {
        const char* pszClicks;
        bool bValid;
    } cases[] = {
        {"2,3@10:20", true},  {"2@0:0,4", true},  {"3,2", false},  {"0", false},      {"2@10", false},
        {"2@10:", false},     {"2@:5", false},    {"2@-1:5", false}, {"2@10:20x", false}, {"2@10:99999", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszClicks);
        const PROGRAM_RESULT r = RunProgramCaptured(
            KX_KOLVEX_PATH, {"--game", dir.strNative + "/game"},
            {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy", "XDG_RUNTIME_DIR=" + dir.strNative,
             "KOLVEX_QUIT_AFTER_FRAMES=6", std::string("KOLVEX_CLICK_AT_FRAMES=") + c.pszClicks});
        EXPECT_EQ(r.nStatus, 0);
        EXPECT_EQ(r.strErr.find("KOLVEX_CLICK_AT_FRAMES") != std::string::npos, !c.bValid) << r.strErr;
    }
}

// A game made by the tools whose script fails names the error itself: one line on standard error
// with the id, the script's file and line and the command, and the text from the table the tools
// wrote; a game whose table lacks the text still shows the id and the command, in the box too.
// The fatal error ends the run with status 1.
TEST(KolvexHeadless, AScriptErrorOfAToolsMadeGameNamesItself)
{
    const struct {
        const char* pszCase;
        bool bStandardTexts;
        const char* pszLineText;
        const char* pszBoxText;
    } kCases[] = {
        {"standard texts", true, "数値が必要な所に文字列があります。 A text stands where a number is needed.",
         "[内容]\n\n数値が必要な所に文字列があります。\nA text stands where a number is needed."},
        {"the game's own texts alone", false, "the game's message table (kxbin/kxe.kbn) has no text for this id",
         "[エラー番号]\n160010\n\n[コマンド]\nwait\n\n[内部エラー]"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszCase);
        TEMP_DIR dir;
        SCRIPT_BUILDER b;
        InitScriptBuilder(&b, 0);
        ASSERT_GE(AddLabel(&b, "SYSTEM_START"), 0);
        ASSERT_GE(EmitCommand(&b, KXCMD_WAIT, {ExprArg(0, MakeExprInt(1))}), 0);
        // "a" + 1: a text where a number is needed (160010).
        std::vector<uint8_t> expr;
        ASSERT_GE(ExprAsmText(expr, "a"), 0);
        ExprAsmInt(expr, 1);
        ExprAsmOp(expr, '+');
        SetSourceLine(&b, 3);
        ASSERT_GE(EmitCommand(&b, KXCMD_WAIT, {ExprArg(0, expr)}), 0);
        GAME_DATA game = DefaultGameData();
        game.bStandardErrorTexts = c.bStandardTexts;
        ASSERT_GE(AddLabel(&b, "WAIT"), 0);
        ASSERT_GE(EmitCommand(&b, KXCMD_WAIT, {ExprArg(0, MakeExprInt(1))}), 0);
        ASSERT_GE(EmitGoto(&b, "WAIT"), 0);
        ASSERT_EQ(FinishScriptBody(&b), 0);
        game.scripts.push_back(ScriptFromBuilder("start.txt", b));
        ASSERT_EQ(WriteGameFolder(dir.strNative + "/game", BuildGameFiles(game)), 0);

        const PROGRAM_RESULT r = RunProgramCaptured(
            KX_KOLVEX_PATH, {"--game", dir.strNative + "/game"},
            {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy", "XDG_RUNTIME_DIR=" + dir.strNative,
             "KOLVEX_QUIT_AFTER_FRAMES=30", "KOLVEX_TRACE=" + dir.strNative + "/trace.txt"});
        EXPECT_EQ(r.nStatus, 1) << r.strErr;
        const std::string strLine =
            std::string("kolvex: fatal error 160010 in start.txt line 3 (command wait): ") + c.pszLineText + "\n";
        EXPECT_NE(r.strErr.find(strLine), std::string::npos) << r.strErr;
        // One line per report: the one error, nothing else that names an error.
        size_t nReports = 0;
        for (size_t p = 0; (p = r.strErr.find("kolvex: fatal error ", p)) != std::string::npos; ++p) ++nReports;
        EXPECT_EQ(nReports, 1u) << r.strErr;
        EXPECT_EQ(r.strErr.find("kolvex: error "), std::string::npos) << r.strErr;
        // The box (on standard error without a display) shows the text, or the id and the command.
        EXPECT_NE(r.strErr.find(c.pszBoxText), std::string::npos) << r.strErr;
        EXPECT_NE(dir.Read("trace.txt").find(strLine), std::string::npos);
    }
}
